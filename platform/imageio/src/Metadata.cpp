#include "Metadata.h"

#include "BigTiffMetadata.h"
#include "FormatDecoder.h"
#include "imageio/ImageProperties.h"

#include <exiv2/exiv2.hpp>
#include <zlib.h>

#include <QRegularExpression>
#include <QStringDecoder>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <optional>

namespace kpv::imageio_detail {

void prepareExiv2()
{
    static std::once_flag once;
    std::call_once(once, [] {
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
        Exiv2::XmpParser::initialize();
        // The name space of what a PNG's text chunks said under keywords of no standard field.
        Exiv2::XmpProperties::registerNs("urn:kestrane-viewer:png-text:1.0/", "kpvpng");
    });
}

bool metadataReadable(const QByteArray& bytes)
{
#ifdef EXV_ENABLE_VIDEO
    prepareExiv2();
    try {
        const int type =
            Exiv2::ImageFactory::getType(reinterpret_cast<const Exiv2::byte*>(bytes.constData()), long(bytes.size()));
        // The library's type numbers of its video containers (their headers do not build alone):
        // RIFF 20, Matroska 21, QuickTime 22, ASF 24.
        return type != 20 && type != 21 && type != 22 && type != 24;
    } catch (...) {
        return false;
    }
#else
    (void)bytes;
    return true;
#endif
}

namespace {

// Tags of more values than this (maker notes, tables) are not worth a dictionary entry. A text's
// count is its length in bytes: a camera's, a lens's or an author's name is often longer than
// that, and is kept up to a length no row shows whole.
constexpr long kMaxValuesPerTag = 32;
constexpr long kMaxTextBytes = 4096;

// The i-th of a tag's numbers. None for a rational of zero denominator: a camera's way of saying
// it does not know, not a zero.
std::optional<double> numberAt(const Exiv2::Exifdatum& d, long i)
{
    const Exiv2::Value& value = d.value();
    if (const auto* u = dynamic_cast<const Exiv2::URationalValue*>(&value)) {
        const Exiv2::URational r = u->value_.at(size_t(i));
        return r.second ? std::optional(double(r.first) / double(r.second)) : std::nullopt;
    }
    if (const auto* s = dynamic_cast<const Exiv2::RationalValue*>(&value)) {
        const Exiv2::Rational r = s->value_.at(size_t(i));
        return r.second ? std::optional(double(r.first) / double(r.second)) : std::nullopt;
    }
    return double(d.toFloat(i));
}

// A text tag's bytes: UTF-8 as most tools now write them, else Latin-1 as older tools of the
// desktop did, so that a name such as "Zoë" shows its letters and never replacement marks.
QString textOf(const std::string& bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8.decode(QByteArrayView(bytes.data(), qsizetype(bytes.size())));
    if (!utf8.hasError())
        return text;
    return QString::fromLatin1(bytes.data(), qsizetype(bytes.size()));
}

QVariant toVariant(const Exiv2::Exifdatum& d)
{
    const long count = long(d.count());
    const bool text = d.typeId() == Exiv2::asciiString || d.typeId() == Exiv2::comment;
    if (count <= 0 || count > (text ? kMaxTextBytes : kMaxValuesPerTag))
        return {};
    switch (d.typeId()) {
    case Exiv2::asciiString:
    case Exiv2::comment:
        return textOf(d.toString()).trimmed();
    case Exiv2::unsignedRational:
    case Exiv2::signedRational:
    case Exiv2::tiffFloat:
    case Exiv2::tiffDouble: {
        if (count == 1) {
            const std::optional<double> v = numberAt(d, 0);
            return v ? QVariant(*v) : QVariant();
        }
        // In a list an unknown part keeps its place (a lens's unknown aperture among its focal
        // lengths) and reads as zero, as the rows that show lists expect.
        QVariantList list;
        for (long i = 0; i < count; ++i)
            list.append(numberAt(d, i).value_or(0.0));
        return list;
    }
    case Exiv2::unsignedByte:
    case Exiv2::unsignedShort:
    case Exiv2::unsignedLong:
    case Exiv2::signedByte:
    case Exiv2::signedShort:
    case Exiv2::signedLong: {
        if (count == 1)
            return qlonglong(d.toLong(0));
        QVariantList list;
        for (long i = 0; i < count; ++i)
            list.append(qlonglong(d.toLong(i)));
        return list;
    }
    default:
        return {};
    }
}

// Degrees, minutes and seconds as three rationals to unsigned decimal degrees. A part of zero
// denominator is one the device did not know: read as zero it would move the photo by up to a
// degree, so the coordinate is not known at all.
QVariant degrees(const Exiv2::Exifdatum& d)
{
    if (d.count() < 1 || d.count() > 3)
        return {};
    double value = 0, scale = 1;
    for (long i = 0; i < long(d.count()); ++i, scale *= 60) {
        const std::optional<double> part = numberAt(d, i);
        if (!part || !std::isfinite(*part))
            return {};
        value += *part / scale;
    }
    return std::fabs(value);
}

void readGps(const Exiv2::ExifData& exif, QVariantMap& gps)
{
    struct Pair {
        const char* tag;
        const char* key;
        bool angle;
    };
    static const Pair pairs[] = {
        {"Exif.GPSInfo.GPSLatitude", kCGImagePropertyGPSLatitude, true},
        {"Exif.GPSInfo.GPSLatitudeRef", kCGImagePropertyGPSLatitudeRef, false},
        {"Exif.GPSInfo.GPSLongitude", kCGImagePropertyGPSLongitude, true},
        {"Exif.GPSInfo.GPSLongitudeRef", kCGImagePropertyGPSLongitudeRef, false},
        {"Exif.GPSInfo.GPSAltitude", kCGImagePropertyGPSAltitude, false},
        {"Exif.GPSInfo.GPSAltitudeRef", kCGImagePropertyGPSAltitudeRef, false},
        {"Exif.GPSInfo.GPSDateStamp", kCGImagePropertyGPSDateStamp, false},
    };
    for (const Pair& p : pairs) {
        auto it = exif.findKey(Exiv2::ExifKey(p.tag));
        if (it == exif.end())
            continue;
        const QVariant v = p.angle ? degrees(*it) : toVariant(*it);
        if (v.isValid())
            gps.insert(p.key, v);
    }
    auto time = exif.findKey(Exiv2::ExifKey("Exif.GPSInfo.GPSTimeStamp"));
    if (time != exif.end() && time->count() == 3) {
        const double h = time->toFloat(0), m = time->toFloat(1), s = time->toFloat(2);
        if (std::isfinite(h) && std::isfinite(m) && std::isfinite(s) && h >= 0 && h < 24 && m >= 0 && m < 60 &&
            s >= 0 && s < 61)
            gps.insert(kCGImagePropertyGPSTimeStamp, QString::asprintf("%02d:%02d:%05.2f", int(h), int(m), s));
    }
}

// A copy of a JPEG file whose colour profile pieces (APP2 segments named "ICC_PROFILE") are named
// otherwise, so that the metadata library passes over them; the file itself when it holds none.
// Only the segments before the picture's data are looked at, each inside the bytes there are.
QByteArray withoutJpegProfile(const QByteArray& file)
{
    static const char kProfileName[] = "ICC_PROFILE";  // with its closing zero, 12 bytes
    QByteArray copy = file;
    const auto* data = reinterpret_cast<const unsigned char*>(file.constData());
    const size_t size = size_t(file.size());
    if (size < 4 || data[0] != 0xFF || data[1] != 0xD8)
        return file;
    bool renamed = false;
    size_t pos = 2;
    while (pos + 4 <= size && data[pos] == 0xFF) {
        const unsigned marker = data[pos + 1];
        if (marker == 0xFF) {  // a fill byte before the marker
            ++pos;
            continue;
        }
        if (marker == 0xDA || marker == 0xD9)
            break;
        const size_t length = size_t(data[pos + 2]) << 8 | data[pos + 3];
        if (length < 2)
            break;
        if (marker == 0xE2 && length >= 2 + sizeof kProfileName && pos + 4 + sizeof kProfileName <= size &&
            std::memcmp(data + pos + 4, kProfileName, sizeof kProfileName) == 0) {
            copy[qsizetype(pos + 4)] = 'i';
            renamed = true;
        }
        pos += 2 + length;
    }
    return renamed ? copy : file;
}

// A copy of a PNG file whose EXIF chunk (eXIf) starts with "Exif" and two zero bytes, with
// those six bytes taken off and the chunk's length and checksum made anew; the file itself when
// it is no PNG or its chunk starts otherwise. Each chunk's stated length is checked against the
// bytes there are before it is stepped over.
QByteArray withBarePngExif(const QByteArray& file)
{
    static const char kSignature[] = "\x89PNG\r\n\x1a\n";
    static const char kExifName[] = {'E', 'x', 'i', 'f', 0, 0};
    const auto* data = reinterpret_cast<const unsigned char*>(file.constData());
    const size_t size = size_t(file.size());
    if (size < 8 || std::memcmp(data, kSignature, 8) != 0)
        return file;
    size_t pos = 8;
    while (size - pos >= 12) {
        const size_t length = size_t(data[pos]) << 24 | size_t(data[pos + 1]) << 16 | size_t(data[pos + 2]) << 8 | data[pos + 3];
        if (length > size - pos - 12)
            break;
        const unsigned char* type = data + pos + 4;
        if (std::memcmp(type, "IEND", 4) == 0)
            break;
        if (std::memcmp(type, "eXIf", 4) == 0) {
            if (length < sizeof kExifName || std::memcmp(type + 4, kExifName, sizeof kExifName) != 0)
                return file;
            const quint32 bare = quint32(length - sizeof kExifName);
            QByteArray chunk;
            chunk.reserve(qsizetype(bare) + 12);
            for (int shift = 24; shift >= 0; shift -= 8)
                chunk.append(char((bare >> shift) & 0xFF));
            chunk.append("eXIf", 4);
            chunk.append(reinterpret_cast<const char*>(type + 4 + sizeof kExifName), qsizetype(bare));
            const uLong crc = ::crc32(0L, reinterpret_cast<const Bytef*>(chunk.constData() + 4), uInt(bare + 4));
            for (int shift = 24; shift >= 0; shift -= 8)
                chunk.append(char((crc >> shift) & 0xFF));
            return file.left(qsizetype(pos)) + chunk + file.mid(qsizetype(pos + 12 + length));
        }
        pos += 12 + length;
    }
    return file;
}

std::unique_ptr<Exiv2::Image> openImage(const QByteArray& file)
{
    prepareExiv2();
    if (!metadataReadable(file))
        return {};
    auto image = Exiv2::ImageFactory::open(reinterpret_cast<const Exiv2::byte*>(file.constData()), long(file.size()));
    if (!image.get())
        return {};
    try {
        image->readMetadata();
    } catch (const Exiv2::AnyError& e) {
        // A damaged colour profile (its pieces do not add up to the size it states) makes the
        // library give up on the whole file, the EXIF block with it: a portrait photo would show
        // on its side, without its date or camera. The file is read again without the profile,
        // which the viewer does not use.
        // A PNG whose EXIF chunk starts with the "Exif" name a JPEG segment has, as some
        // programs write it, is refused whole in the same way: it is read again with the name
        // taken off, so that its orientation, date and camera are not lost.
        const QByteArray rest = e.code() == Exiv2::kerInvalidIccProfile ? withoutJpegProfile(file) : withBarePngExif(file);
        if (rest.constData() == file.constData())
            throw;
        Exiv2::BasicIo::AutoPtr io(new Exiv2::MemIo);  // holds its own copy of the bytes
        if (io->write(reinterpret_cast<const Exiv2::byte*>(rest.constData()), long(rest.size())) != long(rest.size()))
            throw;
        image = Exiv2::ImageFactory::open(io);
        if (!image.get())
            return {};
        image->readMetadata();
    }
    return std::unique_ptr<Exiv2::Image>(image.release());
}

// What the EXIF block leaves out, taken from the file's XMP packet, where many programs that write
// PNG, WebP or an edited JPEG keep the camera's facts (aperture, exposure, date taken, camera,
// position) and nothing else. Only the facts of how the photo was taken, the camera's name and a
// position the EXIF block lacks are taken: the orientation, the pixel sizes and the layout stay
// those of the EXIF block, which decoding follows and a saved copy keeps.
void fillFromXmp(const Exiv2::XmpData& xmp, QVariantMap& exifDict, QVariantMap& tiffDict, QVariantMap& gpsDict)
{
    if (xmp.empty())
        return;
    Exiv2::ExifData fromXmp;
    try {
        Exiv2::copyXmpToExif(xmp, fromXmp);
    } catch (...) {
        return;
    }
    static const char* const kShotFacts[] = {
        kCGImagePropertyExifFNumber, kCGImagePropertyExifExposureTime, kCGImagePropertyExifISOSpeedRatings,
        kCGImagePropertyExifSensitivityType, kCGImagePropertyExifStandardOutputSensitivity,
        kCGImagePropertyExifRecommendedExposureIndex, kCGImagePropertyExifISOSpeed,
        kCGImagePropertyExifExposureBiasValue, kCGImagePropertyExifFocalLength, kCGImagePropertyExifFlash,
        kCGImagePropertyExifMeteringMode, kCGImagePropertyExifExposureProgram, kCGImagePropertyExifWhiteBalance,
        kCGImagePropertyExifBrightnessValue, kCGImagePropertyExifContrast, kCGImagePropertyExifSaturation,
        kCGImagePropertyExifAuxLensModel,
    };
    const auto isShotFact = [](const std::string& tag) {
        return std::any_of(std::begin(kShotFacts), std::end(kShotFacts), [&](const char* key) { return tag == key; });
    };
    for (const Exiv2::Exifdatum& d : fromXmp) {
        const std::string group = d.groupName();
        const std::string tag = d.tagName();
        QVariantMap* target = nullptr;
        if (group == "Photo" && isShotFact(tag))
            target = &exifDict;
        else if (group == "Image" && (tag == "Make" || tag == "Model"))
            target = &tiffDict;
        const QString key = QString::fromStdString(tag);
        if (!target || target->contains(key))
            continue;
        const QVariant v = toVariant(d);
        if (v.isValid())
            target->insert(key, v);
    }
    if (gpsDict.isEmpty())
        readGps(fromXmp, gpsDict);
    // The library does not carry the date taken over: XMP writes it as "2020-02-03T04:05:06",
    // with seconds, fractions and a zone that may be left out. The clock as written is kept, as
    // the EXIF block keeps it; a date without a time of day is not taken.
    if (exifDict.contains(kCGImagePropertyExifDateTimeOriginal))
        return;
    static const QRegularExpression iso(QStringLiteral("^(\\d{4})-(\\d{2})-(\\d{2})T(\\d{2}):(\\d{2})(?::(\\d{2}))?"));
    for (const char* key : {"Xmp.exif.DateTimeOriginal", "Xmp.photoshop.DateCreated"}) {
        const auto it = xmp.findKey(Exiv2::XmpKey(key));
        if (it == xmp.end())
            continue;
        const QRegularExpressionMatch m = iso.match(QString::fromStdString(it->toString()));
        if (!m.hasMatch())
            continue;
        const QString seconds = m.captured(6).isEmpty() ? QStringLiteral("00") : m.captured(6);
        exifDict.insert(kCGImagePropertyExifDateTimeOriginal, QStringLiteral("%1:%2:%3 %4:%5:%6")
                                                                  .arg(m.captured(1), m.captured(2), m.captured(3),
                                                                       m.captured(4), m.captured(5), seconds));
        return;
    }
}

}  // namespace

namespace {

// A file's EXIF and XMP: as the metadata library reads them, or, for a BigTIFF, which it cannot
// open, restated in the classic layout. `ok` is false when neither reads the file (a BigTIFF
// whose first directory lies outside its bytes among them).
struct FileMetadata {
    explicit FileMetadata(const QByteArray& file)
    {
        if (!isBigTiff(file)) {
            image = openImage(file);
            ok = image != nullptr;
            return;
        }
        QByteArray packet;
        const QByteArray classic = classicTiffFromBigTiff(file, &packet);
        ok = !classic.isEmpty();
        if (ok)
            Exiv2::ExifParser::decode(bigExif, reinterpret_cast<const Exiv2::byte*>(classic.constData()), uint32_t(classic.size()));
        if (!packet.isEmpty() && Exiv2::XmpParser::decode(bigXmp, packet.toStdString()) != 0)
            bigXmp.clear();
    }
    const Exiv2::ExifData& exif() const { return image ? image->exifData() : bigExif; }
    const Exiv2::XmpData& xmp() const { return image ? image->xmpData() : bigXmp; }

    std::unique_ptr<Exiv2::Image> image;
    Exiv2::ExifData bigExif;
    Exiv2::XmpData bigXmp;
    bool ok = false;
};

}  // namespace

QVariantMap readMetadata(const QByteArray& file)
{
    QVariantMap top;
    try {
        const FileMetadata metadata(file);
        if (!metadata.ok)
            return top;
        const Exiv2::ExifData& exif = metadata.exif();
        QVariantMap exifDict, tiffDict, gpsDict, auxDict;
        for (const Exiv2::Exifdatum& d : exif) {
            const std::string group = d.groupName();
            QVariantMap* target = group == "Image" ? &tiffDict : group == "Photo" ? &exifDict : nullptr;
            if (!target)
                continue;
            const QVariant v = toVariant(d);
            if (v.isValid())
                target->insert(QString::fromStdString(d.tagName()), v);
        }
        readGps(exif, gpsDict);
        fillFromXmp(metadata.xmp(), exifDict, tiffDict, gpsDict);
        if (exifDict.contains(kCGImagePropertyExifAuxLensModel))
            auxDict.insert(kCGImagePropertyExifAuxLensModel, exifDict.value(kCGImagePropertyExifAuxLensModel));
        if (const int o = tiffDict.value(kCGImagePropertyTIFFOrientation).toInt(); o >= 1 && o <= 8)
            top.insert(kCGImagePropertyOrientation, o);
        const double xr = tiffDict.value(kCGImagePropertyTIFFXResolution).toDouble();
        const double yr = tiffDict.value(kCGImagePropertyTIFFYResolution).toDouble();
        const int unit = tiffDict.value(kCGImagePropertyTIFFResolutionUnit, 2).toInt();
        if (xr > 0 && yr > 0 && std::isfinite(xr) && std::isfinite(yr) && (unit == 2 || unit == 3)) {
            const double toInch = unit == 3 ? 2.54 : 1.0;
            top.insert(kCGImagePropertyDPIWidth, xr * toInch);
            top.insert(kCGImagePropertyDPIHeight, yr * toInch);
        }
        if (!exifDict.isEmpty())
            top.insert(kCGImagePropertyExifDictionary, exifDict);
        if (!tiffDict.isEmpty())
            top.insert(kCGImagePropertyTIFFDictionary, tiffDict);
        if (!gpsDict.isEmpty())
            top.insert(kCGImagePropertyGPSDictionary, gpsDict);
        if (!auxDict.isEmpty())
            top.insert(kCGImagePropertyExifAuxDictionary, auxDict);
    } catch (...) {
        // Damaged metadata is no reason to refuse the picture.
    }
    return top;
}

std::optional<int> readOrientation(const QByteArray& bytes)
{
    try {
        const FileMetadata metadata(bytes);
        if (!metadata.ok)
            return std::nullopt;
        const Exiv2::ExifData& exif = metadata.exif();
        const auto it = exif.findKey(Exiv2::ExifKey("Exif.Image.Orientation"));
        if (it == exif.end() || it->count() < 1)
            return 1;
        const long o = it->toLong(0);
        return o >= 1 && o <= 8 ? int(o) : 1;
    } catch (...) {
        return std::nullopt;
    }
}

QImage readExifThumbnail(const QByteArray& file, int maxPixelSize)
{
    try {
        auto image = openImage(file);
        if (!image)
            return {};
        Exiv2::ExifThumbC thumb(image->exifData());
        const Exiv2::DataBuf buf = thumb.copy();
        if (buf.size_ <= 0 || std::string(thumb.mimeType()) != "image/jpeg")
            return {};
        QString error;
        return decodeJpegBytes(buf.pData_, size_t(buf.size_), maxPixelSize, &error);
    } catch (...) {
        return {};
    }
}

}  // namespace kpv::imageio_detail
