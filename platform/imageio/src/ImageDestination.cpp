#include "imageio/ImageDestination.h"

#include "Encoders.h"
#include "FormatDecoder.h"
#include "Metadata.h"
#include "MFileReplace.h"
#include "MPngChunks.h"
#include "foundation/FileNames.h"
#include "foundation/FileReplace.h"
#include "foundation/TerminationSignals.h"
#include "imageio/ContentTypes.h"
#include "imageio/DecodeBudget.h"
#include "imageio/FileAccess.h"
#include "imageio/ImageProperties.h"
#include "imageio/ImageLimits.h"
#include "imageio/ImageSource.h"
#include "imageio/ToolkitReadLimit.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QFileInfo>

#include <exiv2/exiv2.hpp>
#include <turbojpeg.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstring>
#include <map>
#include <optional>

namespace kpv {
namespace {

using imageio_detail::EncodeOptions;

EncodeOptions optionsFrom(const QVariantMap& p, const QImage& image)
{
    EncodeOptions o;
    bool ok = false;
    double quality = p.value(kCGImageDestinationLossyCompressionQuality).toDouble(&ok);
    // A JPEG written again without a quality chosen keeps the one it was made with, its scans
    // and its chroma resolution: a turn neither blurs its colours nor grows it.
    const QVariantMap jfif = p.value(kCGImagePropertyJFIFDictionary).toMap();
    if (!ok)
        quality = jfif.value(kCGImagePropertyJFIFEstimatedQuality).toDouble(&ok);
    if (ok && std::isfinite(quality))
        o.quality = std::clamp(quality, 0.0, 1.0);
    o.progressive = jfif.value(kCGImagePropertyJFIFIsProgressive).toBool();
    o.interlaced = p.value(kCGImagePropertyPNGDictionary).toMap().value(kCGImagePropertyPNGIsInterlaced).toBool();
    o.indexed = p.value(kCGImagePropertyIsIndexed).toBool();
    if (const int depth = p.value(kCGImagePropertyDepth).toInt(); depth == 1 || depth == 2 || depth == 4)
        o.paletteDepth = depth;
    const QVariantList sampling = jfif.value(kCGImagePropertyJFIFChromaSubsampling).toList();
    if (sampling.size() == 2) {
        const int h = sampling[0].toInt(), v = sampling[1].toInt();
        // JPEG A.1.1 and B.2.2: factors 1 to 4, at most ten blocks in a unit of the three components.
        if (h >= 1 && h <= 4 && v >= 1 && v <= 4 && h * v + 2 <= 10) {
            o.lumaH = h;
            o.lumaV = v;
        }
    }
    const int orientation = p.value(kCGImagePropertyOrientation).toInt();
    if (orientation >= 1 && orientation <= 8)
        o.orientation = orientation;
    const double dx = p.value(kCGImagePropertyDPIWidth).toDouble();
    const double dy = p.value(kCGImagePropertyDPIHeight).toDouble();
    if (dx > 0 && dy > 0 && std::isfinite(dx) && std::isfinite(dy)) {
        o.dpiX = dx;
        o.dpiY = dy;
    }
    o.tiffCompression = p.value(kCGImagePropertyTIFFDictionary).toMap().value(kCGImagePropertyTIFFCompression, 1).toInt();
    o.hasAlpha = image.hasAlphaChannel();
    return o;
}

// Whether every pixel of an RGBA8888 picture has equal red, green and blue (with `bilevel`:
// and is black or white, and opaque).
bool isSixteenBitsPerChannel(const QImage& image)
{
    switch (image.format()) {
    case QImage::Format_RGBA64:
    case QImage::Format_RGBX64:
    case QImage::Format_RGBA64_Premultiplied:
    case QImage::Format_Grayscale16:
        return true;
    default:
        return false;
    }
}

bool allGrey(const QImage& rgba, bool bilevel = false)
{
    if (rgba.format() == QImage::Format_RGBA64) {
        for (int y = 0; y < rgba.height(); ++y) {
            const auto* row = reinterpret_cast<const quint16*>(rgba.constScanLine(y));
            for (int x = 0; x < rgba.width(); ++x, row += 4)
                if (row[0] != row[1] || row[1] != row[2])
                    return false;
        }
        return !bilevel;
    }
    for (int y = 0; y < rgba.height(); ++y) {
        const uchar* row = rgba.constScanLine(y);
        for (int x = 0; x < rgba.width(); ++x, row += 4) {
            if (row[0] != row[1] || row[1] != row[2])
                return false;
            if (bilevel && ((row[0] != 0 && row[0] != 0xff) || row[3] != 0xff))
                return false;
        }
    }
    return true;
}

// Sets one EXIF tag from a dictionary value, converting to the tag's own type; values of
// other kinds are left out.
void setExifTag(Exiv2::ExifData& exif, const std::string& key, const QVariant& value)
{
    try {
        Exiv2::ExifKey k(key);
        switch (k.defaultTypeId()) {
        case Exiv2::asciiString:
            if (value.canConvert<QString>())
                exif[key] = value.toString().toStdString();
            break;
        case Exiv2::unsignedShort:
            if (value.canConvert<int>())
                exif[key] = uint16_t(std::clamp(value.toInt(), 0, 65535));
            break;
        case Exiv2::unsignedLong:
            if (value.canConvert<qlonglong>())
                exif[key] = uint32_t(std::clamp<qlonglong>(value.toLongLong(), 0, 0xffffffffLL));
            break;
        case Exiv2::unsignedRational:
            if (value.canConvert<double>() && value.toDouble() >= 0)
                exif[key] = Exiv2::floatToRationalCast(float(value.toDouble()));
            break;
        case Exiv2::signedRational:
            if (value.canConvert<double>()) {
                const Exiv2::Rational r = Exiv2::floatToRationalCast(float(value.toDouble()));
                exif[key] = r;
            }
            break;
        default:
            break;
        }
    } catch (...) {
        // Unknown tag names are not ours to write.
    }
}

// Unsigned decimal degrees as degrees, minutes and seconds (hundredths), as EXIF stores them.
Exiv2::URationalValue degreesValue(double degrees)
{
    Exiv2::URationalValue value;
    const double whole = std::floor(degrees);
    const double minutes = (degrees - whole) * 60;
    value.value_.push_back({uint32_t(whole), 1});
    value.value_.push_back({uint32_t(std::floor(minutes)), 1});
    value.value_.push_back({uint32_t(std::lround((minutes - std::floor(minutes)) * 60 * 100)), 100});
    return value;
}

// The location block of the GPS dictionary (the entries Metadata.cpp reads) back into EXIF.
void setGpsTags(Exiv2::ExifData& exif, const QVariantMap& gps)
{
    bool any = false;
    for (const auto& [key, tag] : {std::pair{kCGImagePropertyGPSLatitude, "Exif.GPSInfo.GPSLatitude"},
                                   std::pair{kCGImagePropertyGPSLongitude, "Exif.GPSInfo.GPSLongitude"}}) {
        bool ok = false;
        const double v = gps.value(QString::fromLatin1(key)).toDouble(&ok);
        if (ok && std::isfinite(v) && v >= 0 && v <= 180) {
            exif[tag] = degreesValue(v);
            any = true;
        }
    }
    for (const auto& [key, tag] : {std::pair{kCGImagePropertyGPSLatitudeRef, "Exif.GPSInfo.GPSLatitudeRef"},
                                   std::pair{kCGImagePropertyGPSLongitudeRef, "Exif.GPSInfo.GPSLongitudeRef"},
                                   std::pair{kCGImagePropertyGPSDateStamp, "Exif.GPSInfo.GPSDateStamp"}}) {
        const QString text = gps.value(QString::fromLatin1(key)).toString();
        if (!text.isEmpty()) {
            exif[tag] = text.toStdString();
            any = true;
        }
    }
    bool ok = false;
    const double altitude = gps.value(QString::fromLatin1(kCGImagePropertyGPSAltitude)).toDouble(&ok);
    if (ok && std::isfinite(altitude) && altitude >= 0) {
        exif["Exif.GPSInfo.GPSAltitude"] = Exiv2::floatToRationalCast(float(altitude));
        Exiv2::DataValue below(Exiv2::unsignedByte);  // 1: below sea level
        below.read(gps.value(QString::fromLatin1(kCGImagePropertyGPSAltitudeRef)).toInt() == 1 ? "1" : "0");
        exif["Exif.GPSInfo.GPSAltitudeRef"] = below;
        any = true;
    }
    const QStringList time = gps.value(QString::fromLatin1(kCGImagePropertyGPSTimeStamp)).toString().split(u':');
    if (time.size() == 3) {
        Exiv2::URationalValue value;
        value.value_.push_back({uint32_t(time[0].toUInt()), 1});
        value.value_.push_back({uint32_t(time[1].toUInt()), 1});
        value.value_.push_back({uint32_t(std::lround(time[2].toDouble() * 100)), 100});
        exif["Exif.GPSInfo.GPSTimeStamp"] = value;
        any = true;
    }
    if (any) {
        Exiv2::DataValue version(Exiv2::unsignedByte);
        version.read("2 2 0 0");
        exif["Exif.GPSInfo.GPSVersionID"] = version;
    }
}

// Carries orientation, resolution and the dictionaries' plain entries into a JPEG or PNG.
bool addMetadata(QByteArray* file, const QVariantMap& p, const EncodeOptions& o, QString* error)
{
    try {
        auto image = Exiv2::ImageFactory::open(reinterpret_cast<const Exiv2::byte*>(file->constData()),
                                               long(file->size()));
        if (!image.get())
            return false;
        image->readMetadata();
        Exiv2::ExifData exif;
        const QVariantMap tiff = p.value(kCGImagePropertyTIFFDictionary).toMap();
        for (auto it = tiff.begin(); it != tiff.end(); ++it)
            if (it.key() != kCGImagePropertyTIFFCompression)
                setExifTag(exif, "Exif.Image." + it.key().toStdString(), it.value());
        const QVariantMap ex = p.value(kCGImagePropertyExifDictionary).toMap();
        for (auto it = ex.begin(); it != ex.end(); ++it)
            setExifTag(exif, "Exif.Photo." + it.key().toStdString(), it.value());
        setGpsTags(exif, p.value(kCGImagePropertyGPSDictionary).toMap());
        if (o.orientation)
            exif["Exif.Image.Orientation"] = uint16_t(o.orientation);
        if (o.dpiX > 0) {
            exif["Exif.Image.XResolution"] = Exiv2::floatToRationalCast(float(o.dpiX));
            exif["Exif.Image.YResolution"] = Exiv2::floatToRationalCast(float(o.dpiY));
            exif["Exif.Image.ResolutionUnit"] = uint16_t(2);
        }
        if (exif.empty())
            return true;
        image->setExifData(exif);
        image->writeMetadata();
        Exiv2::BasicIo& io = image->io();
        io.seek(0, Exiv2::BasicIo::beg);
        const long size = long(io.size());
        QByteArray out(size, Qt::Uninitialized);
        if (io.read(reinterpret_cast<Exiv2::byte*>(out.data()), size) != size)
            return false;
        *file = std::move(out);
        return true;
    } catch (const std::exception& e) {
        if (error)
            *error = QStringLiteral("writing the metadata failed: %1").arg(QString::fromLocal8Bit(e.what()));
        return false;
    }
}

// Tags of the first directory that describe how the old file stored its pixels; carried into a
// new file they would describe the wrong strips, sizes or compression.
bool isStorageTag(const Exiv2::Exifdatum& d)
{
    if (d.groupName() != "Image")
        return false;
    switch (d.tag()) {
    case 0x00fe: case 0x00ff:                         // subfile type
    case 0x0100: case 0x0101: case 0x0102: case 0x0103:  // size, bits, compression
    case 0x0106: case 0x0111: case 0x0115: case 0x0116: case 0x0117:  // photometric, strips
    case 0x011c: case 0x013d: case 0x0140:              // planar, predictor, colour map
    case 0x0142: case 0x0143: case 0x0144: case 0x0145:  // tiles
    case 0x014a: case 0x0152: case 0x0153:              // sub-directories, extra samples, sample format
    case 0x0201: case 0x0202: case 0x0212:              // embedded JPEG, chroma subsampling
        return true;
    default:
        return false;
    }
}

const QByteArray kPngSignature("\x89PNG\r\n\x1A\n", 8);

// The text chunks of a PNG that the metadata library writes itself: the EXIF, IPTC and XMP
// profiles and the description (the comment). It leaves every other text chunk alone.
bool isMetadataLibraryText(const QByteArray& keyword)
{
    return keyword == "XML:com.adobe.xmp" || keyword == "Description" || keyword.startsWith("Raw profile type ");
}

// A PNG written from a PNG keeps what its source says of the colour space of its pixels (PNG
// 11.3.3: gamma, chromaticities, the sRGB rendering intent), which a turn leaves as they were;
// without them a colour-managing program draws the picture lighter or darker. They go right after
// the new file's header, before its palette and data, unless the new file has such a chunk or a
// colour profile (which takes their place).
void carryPngColourSpace(QByteArray* file, const QByteArray& source)
{
    QByteArray chunks;
    MPngWalkChunksInMemory(reinterpret_cast<const uint8_t*>(source.constData()), size_t(source.size()),
                           [&](const MPngChunk& chunk) {
                               if (chunk.is("gAMA") || chunk.is("cHRM") || chunk.is("sRGB"))
                                   chunks += source.mid(qsizetype(chunk.offset), qsizetype(chunk.length) + 12);
                               return !chunk.is("IDAT");
                           });
    if (chunks.isEmpty())
        return;
    bool taken = false;
    int64_t afterHeader = -1;
    MPngWalkChunksInMemory(reinterpret_cast<const uint8_t*>(file->constData()), size_t(file->size()),
                           [&](const MPngChunk& chunk) {
                               if (chunk.is("IHDR"))
                                   afterHeader = chunk.offset + int64_t(chunk.length) + 12;
                               taken = taken || chunk.is("gAMA") || chunk.is("cHRM") || chunk.is("sRGB") ||
                                       chunk.is("iCCP");
                               return !chunk.is("IDAT");
                           });
    if (!taken && afterHeader > 0)
        file->insert(qsizetype(afterHeader), chunks);
}

// PNG 11.3.3.3: a colour profile chunk starts with the profile's name, 1 to 79 bytes. The metadata
// library names only a profile it read from a PNG, so one carried from another file (or from a
// PNG into the new file) came out nameless, and a decoder that keeps to the standard drops it:
// the photo lost its colours there. Such a chunk takes the source PNG's name for the profile, or
// a name of its own.
void nameUnnamedPngProfile(QByteArray* file, const QByteArray& source)
{
    if (!file->startsWith(kPngSignature))
        return;
    QByteArray name;
    if (source.startsWith(kPngSignature))
        MPngWalkChunksInMemory(reinterpret_cast<const uint8_t*>(source.constData()), size_t(source.size()),
                               [&](const MPngChunk& chunk) {
                                   if (chunk.is("iCCP")) {
                                       const QByteArray data = source.mid(qsizetype(chunk.offset) + 8, qsizetype(chunk.length));
                                       const qsizetype end = data.indexOf('\0');
                                       if (end >= 1 && end <= 79)
                                           name = data.left(end);
                                   }
                                   return !chunk.is("IDAT") && name.isEmpty();
                               });
    if (name.isEmpty())
        name = "ICC profile";
    int64_t offset = -1;
    uint32_t length = 0;
    MPngWalkChunksInMemory(reinterpret_cast<const uint8_t*>(file->constData()), size_t(file->size()),
                           [&](const MPngChunk& chunk) {
                               if (chunk.is("iCCP") && chunk.length > 0 && file->at(qsizetype(chunk.offset) + 8) == '\0') {
                                   offset = chunk.offset;
                                   length = chunk.length;
                               }
                               return offset < 0 && !chunk.is("IDAT");
                           });
    if (offset < 0)
        return;
    // The name, then the chunk's own data from its separator on: compression method and profile.
    QByteArray chunk = QByteArray("iCCP") + name + file->mid(qsizetype(offset) + 8, qsizetype(length));
    const uLong crc = ::crc32(0L, reinterpret_cast<const Bytef*>(chunk.constData()), uInt(chunk.size()));
    QByteArray whole;
    const uint32_t dataLength = uint32_t(chunk.size() - 4);
    for (int shift = 24; shift >= 0; shift -= 8)
        whole += char((dataLength >> shift) & 0xFF);
    whole += chunk;
    for (int shift = 24; shift >= 0; shift -= 8)
        whole += char((uint32_t(crc) >> shift) & 0xFF);
    file->replace(qsizetype(offset), qsizetype(length) + 12, whole);
}

// A PNG written from a PNG keeps the source's other text chunks (title, author, copyright, the
// program's own notes), byte for byte, in their order, just before the new file's end.
void carryPngText(QByteArray* file, const QByteArray& source)
{
    if (!source.startsWith(kPngSignature) || !file->startsWith(kPngSignature))
        return;
    QByteArray chunks;
    // The walker visits only chunks that lie whole within the bytes.
    MPngWalkChunksInMemory(reinterpret_cast<const uint8_t*>(source.constData()), size_t(source.size()),
                           [&](const MPngChunk& chunk) {
                               if (chunk.is("tEXt") || chunk.is("zTXt") || chunk.is("iTXt")) {
                                   const QByteArray data = source.mid(qsizetype(chunk.offset) + 8, qsizetype(chunk.length));
                                   const qsizetype end = data.indexOf('\0');
                                   if (end > 0 && !isMetadataLibraryText(data.left(end)))
                                       chunks += source.mid(qsizetype(chunk.offset), qsizetype(chunk.length) + 12);
                               }
                               return true;
                           });
    carryPngColourSpace(file, source);
    if (chunks.isEmpty())
        return;
    int64_t end = -1;
    MPngWalkChunksInMemory(reinterpret_cast<const uint8_t*>(file->constData()), size_t(file->size()),
                           [&](const MPngChunk& chunk) {
                               if (chunk.is("IEND"))
                                   end = chunk.offset;
                               return end < 0;
                           });
    if (end >= 0)
        file->insert(qsizetype(end), chunks);
}

// The text of a compressed PNG text chunk (zlib), or nothing when it is damaged or would inflate
// past `limit` bytes: hostile bytes never make it allocate more.
std::optional<QByteArray> inflateText(const QByteArray& deflated, qsizetype limit)
{
    z_stream z{};
    if (inflateInit(&z) != Z_OK)
        return std::nullopt;
    QByteArray out;
    char buffer[16384];
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(deflated.constData()));
    z.avail_in = uInt(deflated.size());
    int status = Z_OK;
    while (status == Z_OK) {
        z.next_out = reinterpret_cast<Bytef*>(buffer);
        z.avail_out = sizeof buffer;
        status = inflate(&z, Z_NO_FLUSH);
        const qsizetype produced = qsizetype(sizeof buffer - z.avail_out);
        if (out.size() + produced > limit || (status != Z_OK && status != Z_STREAM_END)) {
            inflateEnd(&z);
            return std::nullopt;
        }
        out.append(buffer, produced);
        if (status == Z_OK && produced == 0 && z.avail_in == 0)
            break; // the stream ends early: what came is all there is
    }
    inflateEnd(&z);
    return out;
}

// The title, author, description, copyright and the like that a PNG's text chunks (PNG 11.3.4:
// tEXt, zTXt, iTXt) hold, by keyword, as UTF-8; the metadata library's own chunks are not among
// them (it reads those itself). The first chunk of a keyword counts.
std::map<std::string, std::string> pngTexts(const QByteArray& source)
{
    constexpr qsizetype kLongestText = qsizetype(1) << 20;
    std::map<std::string, std::string> texts;
    if (!source.startsWith(kPngSignature))
        return texts;
    MPngWalkChunksInMemory(reinterpret_cast<const uint8_t*>(source.constData()), size_t(source.size()),
                           [&](const MPngChunk& chunk) {
                               const bool plain = chunk.is("tEXt"), zipped = chunk.is("zTXt"), intl = chunk.is("iTXt");
                               if (!plain && !zipped && !intl)
                                   return !chunk.is("IEND");
                               const QByteArray data = source.mid(qsizetype(chunk.offset) + 8, qsizetype(chunk.length));
                               const qsizetype end = data.indexOf('\0');
                               if (end <= 0 || end > 79)
                                   return true;
                               const QByteArray keyword = data.left(end);
                               if (isMetadataLibraryText(keyword) || texts.count(keyword.toStdString()))
                                   return true;
                               std::optional<QByteArray> text;
                               if (plain) {
                                   text = QString::fromLatin1(data.mid(end + 1)).toUtf8();
                               } else if (zipped) {
                                   // keyword, zero, the method (0: deflate), the compressed text
                                   if (data.size() > end + 1 && data[end + 1] == 0)
                                       if (auto raw = inflateText(data.mid(end + 2), kLongestText))
                                           text = QString::fromLatin1(*raw).toUtf8();
                               } else if (data.size() > end + 3) {
                                   // keyword, zero, the compression flag and method, the language
                                   // and the translated keyword each ended by a zero, the text
                                   const bool compressed = data[end + 1] != 0;
                                   const qsizetype language = data.indexOf('\0', end + 3);
                                   const qsizetype translated = language < 0 ? -1 : data.indexOf('\0', language + 1);
                                   if (translated >= 0)
                                       text = compressed ? inflateText(data.mid(translated + 1), kLongestText)
                                                         : std::optional<QByteArray>(data.mid(translated + 1));
                               }
                               if (text && !text->isEmpty())
                                   texts[keyword.toStdString()] = text->toStdString();
                               return true;
                           });
    return texts;
}

// A photo made from a PNG into a file of another type keeps what the PNG's text chunks say of it,
// in the blocks that type holds: the title, author, description (or comment), copyright, the
// program that made it and the device it came from go to the XMP and EXIF fields of the same
// meaning, unless the photo already fills them. Text under any other keyword keeps its keyword in
// the XMP block, in the program's own name space.
void carryPngTextAsMetadata(const QByteArray& source, Exiv2::ExifData* exif, Exiv2::XmpData* xmp, std::string* comment)
{
    const std::map<std::string, std::string> texts = pngTexts(source);
    const auto setXmp = [&](const char* key, const std::string& value) {
        if (xmp->findKey(Exiv2::XmpKey(key)) != xmp->end())
            return;
        (*xmp)[key] = value;
    };
    const auto setExif = [&](const char* key, const std::string& value) {
        if (exif->findKey(Exiv2::ExifKey(key)) == exif->end())
            (*exif)[key] = value;
    };
    for (const auto& [keyword, text] : texts) {
        if (keyword == "Title") {
            setXmp("Xmp.dc.title", "lang=x-default " + text);
        } else if (keyword == "Author") {
            setXmp("Xmp.dc.creator", text);
            setExif("Exif.Image.Artist", text);
        } else if (keyword == "Description" || keyword == "Comment" || keyword == "comment") {
            setXmp("Xmp.dc.description", "lang=x-default " + text);
            setExif("Exif.Image.ImageDescription", text);
            if (comment->empty())
                *comment = text;
        } else if (keyword == "Copyright") {
            setXmp("Xmp.dc.rights", "lang=x-default " + text);
            setExif("Exif.Image.Copyright", text);
        } else if (keyword == "Software") {
            setXmp("Xmp.xmp.CreatorTool", text);
            setExif("Exif.Image.Software", text);
        } else if (keyword == "Source") {
            setExif("Exif.Image.Model", text);
        } else {
            // An XML name of the keyword: letters, digits and underscores, never a digit first.
            std::string name;
            for (const char c : keyword)
                name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
            if (std::isdigit(static_cast<unsigned char>(name.front())))
                name.insert(0, 1, '_');
            setXmp(("Xmp.kpvpng." + name).c_str(), text);
        }
    }
}

// Whether a colour profile can describe the pixels written. A grey photo written grey keeps its
// grey profile; otherwise the writers store RGB, and a CMYK photo is decoded to RGB: a grey or
// CMYK profile (colour space "GRAY" or "CMYK" at byte 16 of the header) would tell a
// colour-managing program to read those RGB values as grey levels or inks, and such a file is
// refused or drawn wrong there. An RGB profile does not describe grey samples either.
bool profileFits(const Exiv2::DataBuf& profile, const EncodeOptions& o)
{
    if (o.sourceColourModel || profile.size_ < 20)
        return true;
    const char* space = reinterpret_cast<const char*>(profile.pData_) + 16;
    if (o.grey)
        return std::memcmp(space, "GRAY", 4) == 0;
    return std::memcmp(space, "GRAY", 4) != 0 && std::memcmp(space, "CMYK", 4) != 0;
}

// Whether an EXIF tag is the photo's own: what the camera or the user said of it (the camera, the
// date, the exposure, the place, a description, the maker's notes). Tags that describe how a file
// stores its pixels, its pages or its colours, and those every writer sets anew (orientation,
// resolution, version markers, pointers to sub-directories), are none of it.
bool isOwnExifTag(const Exiv2::Exifdatum& d)
{
    const std::string group = d.groupName();
    if (group == "Image") {
        switch (d.tag()) {
        case 0x010e: case 0x010f: case 0x0110:  // description, make, model
        case 0x0132: case 0x013b: case 0x8298:  // date, artist, copyright
        case 0x4746: case 0x4749:              // rating
        case 0x9c9b: case 0x9c9c: case 0x9c9d: case 0x9c9e: case 0x9c9f:  // title, comment, author, keywords, subject
            return true;
        default:
            return false;
        }
    }
    if (group == "Photo") {
        switch (d.tag()) {
        case 0x9000: case 0x9101: case 0xa000: case 0xa001:  // versions, components, colour space
        case 0xa002: case 0xa003: case 0xa005:              // pixel size, interoperability directory
            return false;
        default:
            return true;
        }
    }
    // The other pages' directories, the thumbnail's and the interoperability one describe storage.
    return group != "Thumbnail" && group != "Iop" && group.rfind("Image", 0) != 0 && group.rfind("SubImage", 0) != 0 &&
           group.rfind("SubThumb", 0) != 0;
}

// Carries every metadata block of `source` into the freshly encoded `file`: EXIF (GPS and maker
// notes among it) without the storage tags and the old thumbnail, IPTC, XMP, the ICC profile (where
// it fits the pixels) and the comment. The orientation becomes the written one and the EXIF pixel size the new one.
}  // namespace

namespace imageio_detail {

bool carryMetadata(QByteArray* file, const QByteArray& source, const EncodeOptions& o, QSize size, QString* error)
{
    imageio_detail::prepareExiv2();
    // A source the metadata library must not parse has nothing that could be carried.
    if (!imageio_detail::metadataReadable(source))
        return true;
    Exiv2::Image::AutoPtr from;
    try {
        from = Exiv2::ImageFactory::open(reinterpret_cast<const Exiv2::byte*>(source.constData()), long(source.size()));
        if (from.get())
            from->readMetadata();
    } catch (const std::exception&) {
        // A format without metadata blocks we know, or blocks too damaged to read: as when the
        // file was opened, there is nothing that could be carried.
        return true;
    }
    if (!from.get())
        return true;
    try {
        auto to = Exiv2::ImageFactory::open(reinterpret_cast<const Exiv2::byte*>(file->constData()), long(file->size()));
        if (!to.get())
            return false;
        to->readMetadata();

        Exiv2::ExifData exif = from->exifData();
        for (auto it = exif.begin(); it != exif.end();) {
            const std::string group = it->groupName();
            // The directories of the other pages ("Thumbnail" for the second, "Image2" and on
            // for later ones) describe strips of the old file: carried along they would chain
            // pages into the new file whose data is not there.
            const bool otherPage = group == "Thumbnail" || (group.rfind("Image", 0) == 0 && group != "Image");
            if (isStorageTag(*it) || otherPage || group.rfind("SubImage", 0) == 0)
                it = exif.erase(it);
            else
                ++it;
        }
        exif["Exif.Image.Orientation"] = uint16_t(o.orientation ? o.orientation : 1);
        if (exif.findKey(Exiv2::ExifKey("Exif.Photo.PixelXDimension")) != exif.end()) {
            exif["Exif.Photo.PixelXDimension"] = uint32_t(size.width());
            exif["Exif.Photo.PixelYDimension"] = uint32_t(size.height());
        }
        if (o.dpiX > 0) {
            exif["Exif.Image.XResolution"] = Exiv2::floatToRationalCast(float(o.dpiX));
            exif["Exif.Image.YResolution"] = Exiv2::floatToRationalCast(float(o.dpiY));
            exif["Exif.Image.ResolutionUnit"] = uint16_t(2);
        }
        Exiv2::XmpData xmp = from->xmpData();
        if (xmp.findKey(Exiv2::XmpKey("Xmp.tiff.Orientation")) != xmp.end())
            xmp["Xmp.tiff.Orientation"] = std::to_string(o.orientation ? o.orientation : 1);

        std::string comment = from->comment();
        if (!file->startsWith(kPngSignature))
            carryPngTextAsMetadata(source, &exif, &xmp, &comment);

        to->setExifData(exif);
        to->setIptcData(from->iptcData());
        to->setXmpData(xmp);
        // TIFF and JPEG 2000 have no comment block; TIFF's description tag travels with the EXIF data.
        if (!comment.empty() && to->mimeType() != "image/tiff" && to->supportsMetadata(Exiv2::mdComment))
            to->setComment(comment);
        if (from->iccProfileDefined() && profileFits(*from->iccProfile(), o))
            to->setIccProfile(*from->iccProfile(), false);
        to->writeMetadata();
        Exiv2::BasicIo& io = to->io();
        io.seek(0, Exiv2::BasicIo::beg);
        const long length = long(io.size());
        QByteArray out(length, Qt::Uninitialized);
        if (io.read(reinterpret_cast<Exiv2::byte*>(out.data()), length) != length)
            return false;
        *file = std::move(out);
        nameUnnamedPngProfile(file, source);
        carryPngText(file, source);
        return true;
    } catch (const std::exception& e) {
        if (error)
            *error = QStringLiteral("the metadata could not be carried over: %1").arg(QString::fromLocal8Bit(e.what()));
        return false;
    }
}

bool replaceFileSafely(const QString& path, const QByteArray& bytes, const ImageWriteOptions& options, QString* error)
{
    return replaceFileSafely(
        path, [&bytes](int fd, QString*) { return MFileWriteAll(fd, bytes.constData(), size_t(bytes.size())); }, options,
        error);
}

bool replaceFileSafely(const QString& path, const FileContentsWriter& write, const ImageWriteOptions& options,
                       QString* error)
{
    FileReplaceOptions replace;
    replace.createOnly = options.createNew;
    replace.nameTaken = options.nameTaken;
    replace.attributesFrom = options.metadataSourcePath;
    replace.attributesLeftOut = options.attributesLeftOut;
    // The target is checked once more just before the rename: a file changed since it was read
    // stays, and so does the target of a write that was cancelled meanwhile.
    if (options.replaceOnly.isValid() || options.stillWanted) {
        replace.beforeRename = [&](const QString&, QString* why) {
            if (options.stillWanted && !options.stillWanted()) {
                if (why)
                    *why = ImageDestination::cancelledError(path);
                return false;
            }
            if (!options.replaceOnly.isValid() || fileIdentity(path) == options.replaceOnly)
                return true;
            if (why)
                *why = ImageDestination::changedOnDiskError(path);
            return false;
        };
    }
    // The process never ends between the temporary file and its rename: a replacement begun is
    // finished first, and none begins once the process is ending.
    if (!beginPuttingFileInPlace()) {
        if (error)
            *error = QStringLiteral("the program is ending: \u201c%1\u201d was not written").arg(displayFileName(QFileInfo(path).fileName()));
        return false;
    }
    const bool written = replaceFileContents(path, write, replace, error);
    endPuttingFileInPlace();
    return written;
}

}  // namespace imageio_detail

namespace {

// Chunks of a PNG before its first image data: an animation control chunk there makes it animated.
bool pngIsAnimated(const QByteArray& data)
{
    bool animated = false;
    MPngWalkChunksInMemory(reinterpret_cast<const uint8_t*>(data.constData()), size_t(data.size()),
                           [&](const MPngChunk& chunk) {
                               animated = chunk.is("acTL");
                               return !animated && !chunk.is("IDAT");
                           });
    return animated;
}

// Whether the picture's data stops before its end: a PNG cut before its end chunk, a JPEG with no
// end marker after its first scan (its coded data holds no other 0xFF 0xD9), a GIF, WebP, BMP,
// any-map or TGA file shorter than its own blocks and header say, a TIFF whose strips or tiles
// run past its end. Such a file shows what could be read before the cut, the rest grey or clear;
// written over, the rest is gone.
bool endsEarly(const QByteArray& data)
{
    using namespace imageio_detail;
    if (gifEndsEarly(data) || webpEndsEarly(data) || bmpEndsEarly(data) || pnmEndsEarly(data) || tiffEndsEarly(data))
        return true;
    const auto* bytes = reinterpret_cast<const uint8_t*>(data.constData());
    const size_t size = size_t(data.size());
    if (data.startsWith("\x89PNG\r\n\x1A\n")) {
        bool sawEnd = false;
        const MPngWalkEnd end = MPngWalkChunksInMemory(bytes, size, [&](const MPngChunk& chunk) {
            sawEnd = chunk.is("IEND");
            return true;
        });
        return end == MPNG_WALK_BROKEN || !sawEnd;
    }
    if (size < 4 || bytes[0] != 0xFF || bytes[1] != 0xD8)
        return tgaEndsEarly(data);
    // The segments before the first scan, by their lengths (a thumbnail's own end marker lies
    // inside them).
    size_t at = 2;
    while (at + 4 <= size) {
        if (bytes[at] != 0xFF)
            return true;
        const uint8_t marker = bytes[at + 1];
        if (marker == 0xFF) {
            ++at; // fill byte
            continue;
        }
        if (marker == 0xD9)
            return false; // an end before any scan: nothing of a picture to lose
        const size_t length = size_t(bytes[at + 2]) << 8 | bytes[at + 3];
        if (length < 2)
            return true;
        at += 2 + length;
        if (marker == 0xDA)
            break;
    }
    if (at > size)
        return true;
    for (size_t i = at; i + 1 < size; ++i)
        if (bytes[i] == 0xFF && bytes[i + 1] == 0xD9)
            return false;
    return true;
}

// Whether rewriting the file would turn its inks into RGB: the pixels are decoded to RGB, and a
// CMYK TIFF is always written from them. A CMYK JPEG keeps its inks when a turn is done on its
// blocks, which needs whole blocks at its edges (JPEG A.2.4): only one without them is coded anew.
bool cmykWouldBecomeRgb(const QByteArray& data, ImageDestination::Rewrite how)
{
    if (data.startsWith("\xFF\xD8")) {
        tjhandle tj = tjInitDecompress();
        if (!tj)
            return false;
        int width = 0, height = 0, sampling = -1, space = -1;
        const bool read = tjDecompressHeader3(tj, reinterpret_cast<const unsigned char*>(data.constData()),
                                              static_cast<unsigned long>(data.size()), &width, &height, &sampling,
                                              &space) == 0;
        tjDestroy(tj);
        if (!read || (space != TJCS_CMYK && space != TJCS_YCCK) || sampling < 0 || sampling >= TJ_NUMSAMP)
            return false;
        return how == ImageDestination::Rewrite::NewPicture || width % tjMCUWidth[sampling] != 0 ||
               height % tjMCUHeight[sampling] != 0;
    }
    const auto source = ImageSource::createWithData(data);
    return source && source->type() == ContentTypes::kTiff &&
           source->propertiesAtIndex(0).value(kCGImagePropertyColorModel).toString() ==
               QLatin1String(kCGImagePropertyColorModelCMYK);
}

}  // namespace

QString ImageDestination::cancelledError(const QString& path)
{
    return QStringLiteral("the save of %1 was cancelled; it was not replaced").arg(displayFileName(path));
}

QString ImageDestination::changedOnDiskError(const QString& path)
{
    return QStringLiteral("%1 was changed by another program since it was opened; it was not replaced").arg(displayFileName(path));
}

bool ImageDestination::hasTransparency(const QImage& rgba)
{
    if (rgba.format() == QImage::Format_RGBA64 || rgba.format() == QImage::Format_RGBA64_Premultiplied) {
        for (int y = 0; y < rgba.height(); ++y) {
            const auto* row = reinterpret_cast<const quint16*>(rgba.constScanLine(y));
            for (int x = 0; x < rgba.width(); ++x)
                if (row[4 * x + 3] != 0xFFFF)
                    return true;
        }
        return false;
    }
    for (int y = 0; y < rgba.height(); ++y) {
        const uchar* row = rgba.constScanLine(y);
        for (int x = 0; x < rgba.width(); ++x)
            if (row[4 * x + 3] != 0xFF)
                return true;
    }
    return false;
}

bool ImageDestination::hasTransparentPixel(const QImage& picture)
{
    if (!picture.hasAlphaChannel())
        return false;
    switch (picture.format()) {
    case QImage::Format_ARGB32:
    case QImage::Format_ARGB32_Premultiplied:
        for (int y = 0; y < picture.height(); ++y) {
            const auto* line = reinterpret_cast<const QRgb*>(picture.constScanLine(y));
            for (int x = 0; x < picture.width(); ++x)
                if (qAlpha(line[x]) != 255)
                    return true;
        }
        return false;
    case QImage::Format_RGBA8888:
    case QImage::Format_RGBA8888_Premultiplied:
    case QImage::Format_RGBA64:
    case QImage::Format_RGBA64_Premultiplied:
        return hasTransparency(picture);
    default:
        return hasTransparency(picture.convertToFormat(QImage::Format_RGBA8888));
    }
}

QStringList ImageDestination::contentLostByRewriting(const QString& path, Rewrite how, bool keepsSixteenBits)
{
    // Mapped where the file is large: the headers and the end are all that is read, and a batch
    // asks this of every photo it has just written anew.
    const std::shared_ptr<const FileContents> contents = FileContents::open(path, qint64(1) << 30);
    if (!contents)
        return {};
    QStringList lost = contentLostByRewritingData(contents->bytes(), how, keepsSixteenBits);
    // Cut short by another program while it was read: what was read is not the file's.
    return contents->wasCutShort() ? QStringList() : lost;
}

QStringList ImageDestination::contentLostByRewritingData(const QByteArray& data, Rewrite how, bool keepsSixteenBits)
{
    return lostByRewriting(data, how, keepsSixteenBits, false);
}

QStringList ImageDestination::contentLostInNewFile(const QString& path, const QString& type, bool keepsSixteenBits)
{
    const std::shared_ptr<const FileContents> contents = FileContents::open(path, qint64(1) << 30);
    if (!contents)
        return {};
    QStringList lost = contentLostInNewFileData(contents->bytes(), type, keepsSixteenBits);
    return contents->wasCutShort() ? QStringList() : lost;
}

QStringList ImageDestination::contentLostInNewFileData(const QByteArray& data, const QString& type, bool keepsSixteenBits)
{
    return lostByRewriting(data, Rewrite::NewPicture, keepsSixteenBits, true) + metadataNotHeldBy(data, type);
}

QStringList ImageDestination::lostByRewriting(const QByteArray& data, Rewrite how, bool keepsSixteenBits, bool written)
{
    QStringList lost;
    const int keptBits = keepsSixteenBits ? 16 : 8;
    if (endsEarly(data))
        lost << QStringLiteral("the part of the picture that could not be read");
    if (data.startsWith("\x89PNG\r\n\x1A\n")) {
        if (data.size() > 24 && uchar(data.at(24)) > keptBits)
            lost << QStringLiteral("16 bits per channel");
        if (pngIsAnimated(data))
            lost << QStringLiteral("the animation");
    } else if (imageio_detail::isTiffHeader(data)) {
        int pages = 0, bits = 0;
        if (imageio_detail::tiffPages(data, &pages, &bits)) {
            // The writer keeps the picture shown, the first page: every other page would go.
            if (pages > 1)
                lost << QStringLiteral("%1 of its %2 pages").arg(pages - 1).arg(pages);
            if (bits > keptBits)
                lost << QStringLiteral("%1 bits per channel").arg(bits);
        }
    } else if (imageio_detail::gifHasMoreFrames(data) || imageio_detail::webpHasMoreFrames(data)) {
        lost << QStringLiteral("the animation");
    }
    if (cmykWouldBecomeRgb(data, how))
        lost << (written ? QStringLiteral("its CMYK colours (they were written as RGB)")
                         : QStringLiteral("its CMYK colours (they would be written as RGB)"));
    return lost;
}

QStringList ImageDestination::metadataNotHeldBy(const QByteArray& data, const QString& type)
{
    // What each written type holds of what a new file takes from its photo (the blocks carried
    // by carryMetadata): a BMP holds none of it, a TIFF and a JPEG 2000 have no comment block.
    const bool holdsBlocks = type == ContentTypes::kJpeg || type == ContentTypes::kPng ||
                             type == ContentTypes::kTiff || type == ContentTypes::kJpeg2000;
    const bool holdsComment = type == ContentTypes::kJpeg || type == ContentTypes::kPng;
    if (holdsBlocks && holdsComment)
        return {};
    imageio_detail::prepareExiv2();
    if (!imageio_detail::metadataReadable(data))
        return {};
    bool exif = false, iptc = false, xmp = false, profile = false, comment = false;
    try {
        // Only the metadata blocks are read, never the picture.
        auto image = Exiv2::ImageFactory::open(reinterpret_cast<const Exiv2::byte*>(data.constData()), long(data.size()));
        if (!image.get())
            return {};
        image->readMetadata();
        const Exiv2::ExifData& tags = image->exifData();
        exif = std::any_of(tags.begin(), tags.end(), isOwnExifTag);
        iptc = !image->iptcData().empty();
        xmp = !image->xmpData().empty();
        profile = image->iccProfileDefined();
        comment = !image->comment().empty();
    } catch (const std::exception&) {
        // Blocks too damaged to read: nothing of them could have been carried either.
        return {};
    }
    QStringList lost;
    if (!holdsBlocks) {
        if (exif)
            lost << QStringLiteral("its camera data (EXIF)");
        if (iptc)
            lost << QStringLiteral("its captions and keywords (IPTC)");
        if (xmp)
            lost << QStringLiteral("its descriptions (XMP)");
        if (profile)
            lost << QStringLiteral("its colour profile (ICC)");
    }
    if (!holdsComment && comment)
        lost << QStringLiteral("its embedded comment");
    // A PNG's own text (title, author, copyright) goes to the blocks of the other types.
    if (!holdsBlocks && !pngTexts(data).empty())
        lost << QStringLiteral("its title, author and other text");
    return lost;
}

bool ImageDestination::typeKeepsSixteenBits(const QString& type)
{
    return type == ContentTypes::kPng || type == ContentTypes::kTiff;
}

namespace {

// Whether the file's bytes hold a picture with 16 bits in every sample (grey or RGB, with or
// without alpha) that can be read at that depth, by its header; its size in *width and *height.
// Of a TIFF of several pages that is the first, the page shown and the one a rewrite keeps (the
// others are told lost either way). A palette, an animation or inks are not kept this way.
bool sixteenBitPictureHeader(const QByteArray& data, quint32* width, quint32* height)
{
    if (data.startsWith("\x89PNG\r\n\x1A\n")) {
        if (data.size() < 33 || data.mid(12, 4) != "IHDR" || uchar(data.at(24)) != 16 || uchar(data.at(25)) == 3 ||
            pngIsAnimated(data))
            return false;
        const auto* h = reinterpret_cast<const uchar*>(data.constData()) + 16;
        *width = quint32(h[0]) << 24 | quint32(h[1]) << 16 | quint32(h[2]) << 8 | h[3];
        *height = quint32(h[4]) << 24 | quint32(h[5]) << 16 | quint32(h[6]) << 8 | h[7];
        return true;
    }
    if (!imageio_detail::isTiffHeader(data))
        return false;
    // Floating-point samples of 16 bits are no such picture: they are written as levels.
    int bits = 0;
    bool floating = false;
    if (!QImageReader::supportedImageFormats().contains("tiff") || !imageio_detail::tiffFirstPageSamples(data, &bits, &floating) ||
        bits != 16 || floating || cmykWouldBecomeRgb(data, ImageDestination::Rewrite::NewPicture))
        return false;
    QByteArray copy = data;
    QBuffer buffer(&copy);
    QImageReader probe(&buffer, "tiff");
    const QSize size = probe.size();
    if (size.width() <= 0 || size.height() <= 0)
        return false;
    *width = quint32(size.width());
    *height = quint32(size.height());
    return true;
}

}  // namespace

bool imageio_detail::sixteenBitPicture(const QByteArray& data, quint32* width, quint32* height)
{
    return sixteenBitPictureHeader(data, width, height);
}

bool ImageDestination::keepsSixteenBitsOnRewrite(const QString& path)
{
    // Asked on the window's thread before every turn and crop is saved: the file is mapped, not
    // read whole, so a photo of another format costs only the page its signature lies in.
    const auto contents = FileContents::open(path, qint64(1) << 30);
    quint32 width = 0, height = 0;
    return contents && sixteenBitPictureHeader(contents->bytes(), &width, &height) && !contents->wasCutShort();
}

QImage ImageDestination::readSixteenBitPicture(const QString& path, QString* error)
{
    auto fail = [&](const QString& why) {
        if (error)
            *error = QStringLiteral("its 16 bits per channel could not be read: %1").arg(why);
        return QImage();
    };
    QByteArray data;
    QString why;
    if (!readRegularFile(path, qint64(1) << 30, &data, &why))
        return fail(why);
    quint32 width = 0, height = 0;
    if (!sixteenBitPictureHeader(data, &width, &height))
        return fail(QStringLiteral("the file no longer holds such a picture"));
    // Eight bytes a pixel, checked against the caps before anything is allocated.
    if (!ImageLimits::frameAllowed(width, height) || std::uint64_t(width) * height * 8 > ImageLimits::kMaxDecodedBytes)
        return fail(QStringLiteral("the picture is too large"));
    QBuffer buffer(&data);
    QImageReader reader(&buffer, data.startsWith("\x89PNG") ? "png" : "tiff");
    reader.setAutoTransform(false);
    QImage image;
    {
        const ToolkitReadLimit limit(int((std::uint64_t(width) * height * 8 >> 20) + 16));
        image = reader.read();
    }
    if (image.isNull())
        return fail(reader.errorString());
    if (!isSixteenBitsPerChannel(image) || image.size() != QSize(int(width), int(height)))
        return fail(QStringLiteral("the picture was read with fewer bits"));
    image = image.convertToFormat(QImage::Format_RGBA64);
    if (image.isNull())
        return fail(QStringLiteral("out of memory"));
    return image;
}

bool ImageDestination::sixteenBitPartFits(const QSize& size, QString* error)
{
    if (size.isEmpty())
        return true;
    // Eight bytes a pixel, and a row or tile of the file beside them.
    return DecodeBudget::shared().fits(std::uint64_t(size.width()) * std::uint64_t(size.height()) * 8, error);
}

QImage ImageDestination::readSixteenBitPart(const QString& path, const QRect& rect, QString* error)
{
    auto fail = [&](const QString& why) {
        if (error)
            *error = QStringLiteral("its 16 bits per channel could not be read: %1").arg(why);
        return QImage();
    };
    QString why;
    const auto contents = FileContents::open(path, qint64(1) << 30, &why);
    if (!contents)
        return fail(why);
    quint32 width = 0, height = 0;
    if (!sixteenBitPictureHeader(contents->bytes(), &width, &height))
        return fail(QStringLiteral("the file no longer holds such a picture"));
    if (rect.isEmpty() || rect.x() < 0 || rect.y() < 0 || quint32(rect.right()) >= width || quint32(rect.bottom()) >= height)
        return fail(QStringLiteral("the part lies outside the picture"));
    // The part, and a row or a tile of the file (at most a row as wide as the picture, twice).
    const std::uint64_t bytes = std::uint64_t(rect.width()) * std::uint64_t(rect.height()) * 8 + std::uint64_t(width) * 16;
    DecodeBudget::Reservation held = DecodeBudget::shared().reserve(bytes, &why);
    if (!held.isValid())
        return fail(QStringLiteral("a part of %1 x %2 pixels is too large: %3").arg(rect.width()).arg(rect.height()).arg(why));
    QImage part = contents->bytes().startsWith("\x89PNG") ? imageio_detail::pngSixteenBitPart(contents->bytes(), rect, &why)
                                                          : imageio_detail::tiffSixteenBitPart(contents->bytes(), rect, &why);
    if (contents->wasCutShort())
        return fail(QStringLiteral("the file was cut short while it was read"));
    if (part.isNull())
        return fail(why);
    part = part.convertToFormat(QImage::Format_RGBA64);
    if (part.isNull())
        return fail(QStringLiteral("out of memory"));
    return part;
}

struct ImageDestination::SixteenBitRows::State {
    QString path;
    std::shared_ptr<const FileContents> contents;
    imageio_detail::PngSixteenBitRows png;
    bool inOrder = false;  // a PNG read row after row; else each band is read as a part
    QSize size;
    int next = 0;
    QString error;
};

ImageDestination::SixteenBitRows::SixteenBitRows(const QString& path) : m_state(std::make_unique<State>())
{
    State& s = *m_state;
    s.path = path;
    QString why;
    s.contents = FileContents::open(path, qint64(1) << 30, &why);
    quint32 width = 0, height = 0;
    if (!s.contents) {
        s.error = QStringLiteral("its 16 bits per channel could not be read: %1").arg(why);
        return;
    }
    if (!sixteenBitPictureHeader(s.contents->bytes(), &width, &height) || width > quint32(INT_MAX) || height > quint32(INT_MAX)) {
        s.error = QStringLiteral("its 16 bits per channel could not be read: the file no longer holds such a picture");
        return;
    }
    if (s.contents->bytes().startsWith("\x89PNG")) {
        s.inOrder = s.png.open(s.contents->bytes(), &why);
        if (!s.inOrder && !s.png.interlaced()) {
            s.error = QStringLiteral("its 16 bits per channel could not be read: %1").arg(why);
            return;
        }
    }
    s.size = QSize(int(width), int(height));
}

ImageDestination::SixteenBitRows::~SixteenBitRows() = default;

QSize ImageDestination::SixteenBitRows::size() const { return m_state->size; }
QString ImageDestination::SixteenBitRows::error() const { return m_state->error; }

bool ImageDestination::SixteenBitRows::read(QImage* band)
{
    State& s = *m_state;
    if (s.size.isEmpty() || band->format() != QImage::Format_RGBA64 || band->width() != s.size.width() ||
        band->height() <= 0 || band->height() > s.size.height() - s.next) {
        if (s.error.isEmpty())
            s.error = QStringLiteral("its 16 bits per channel could not be read: the rows lie outside the picture");
        return false;
    }
    const QRect rect(0, s.next, s.size.width(), band->height());
    QString why;
    if (!s.inOrder) {
        *band = readSixteenBitPart(s.path, rect, &s.error);
    } else {
        DecodeBudget::Reservation held =
            DecodeBudget::shared().reserve(std::uint64_t(rect.width()) * std::uint64_t(rect.height()) * 8 + std::uint64_t(rect.width()) * 8, &why);
        if (!held.isValid())
            s.error = QStringLiteral("its 16 bits per channel could not be read: %1 rows of %2 pixels are too many: %3")
                          .arg(rect.height())
                          .arg(rect.width())
                          .arg(why);
        else if (!s.png.read(band, 0, &why))
            s.error = QStringLiteral("its 16 bits per channel could not be read: %1").arg(why);
        else if (s.contents->wasCutShort())
            s.error = QStringLiteral("its 16 bits per channel could not be read: the file was cut short while it was read");
        else
            s.error.clear();
        if (!s.error.isEmpty())
            *band = QImage();
    }
    if (band->isNull())
        return false;
    s.next += rect.height();
    return true;
}

QString ImageDestination::typeForPath(const QString& path)
{
    const QString ext = QFileInfo(path).suffix().toLower();
    if (ext == u"jpg" || ext == u"jpeg")
        return ContentTypes::kJpeg;
    if (ext == u"jp2")
        return ContentTypes::kJpeg2000;
    if (ext == u"png")
        return ContentTypes::kPng;
    if (ext == u"bmp")
        return ContentTypes::kBmp;
    if (ext == u"tif" || ext == u"tiff")
        return ContentTypes::kTiff;
    return {};
}

bool ImageDestination::writeImage(const QImage& image, const QString& path, const QString& type,
                                  const QVariantMap& properties, QString* error)
{
    return writeImage(image, path, type, properties, error, ImageWriteOptions());
}

bool ImageDestination::writeImage(const QImage& image, const QString& path, const QString& type,
                                  const QVariantMap& properties, QString* error, const ImageWriteOptions& options)
{
    QByteArray bytes;
    return imageio_detail::encodeImageFile(image, type, properties, options, &bytes, nullptr, error) &&
           imageio_detail::replaceFileSafely(path, bytes, options, error);
}

namespace imageio_detail {

bool encodeImageFile(const QImage& image, const QString& type, const QVariantMap& properties,
                     const ImageWriteOptions& options, QByteArray* out, EncodeOptions* used, QString* error)
{
    if (image.isNull() || image.width() <= 0 || image.height() <= 0) {
        if (error)
            *error = QStringLiteral("no image to write");
        return false;
    }
    // Straight alpha, one byte a channel: what every encoder below expects. A picture of 16 bits
    // a channel keeps them where the format holds them (PNG, TIFF).
    const bool deep = (type == ContentTypes::kPng || type == ContentTypes::kTiff) && isSixteenBitsPerChannel(image);
    const QImage rgba = image.convertToFormat(deep ? QImage::Format_RGBA64 : QImage::Format_RGBA8888);
    if (rgba.isNull()) {
        if (error)
            *error = QStringLiteral("out of memory");
        return false;
    }
    EncodeOptions o = optionsFrom(properties, image);
    // Every decode hands its pixels over with an alpha channel: only a picture with a pixel that is
    // not opaque, or one read from a file that had an alpha channel, is written with one, so an
    // RGB photo saved as PNG or TIFF stays RGB and an RGBA file stays RGBA.
    o.hasAlpha = o.hasAlpha && (properties.value(kCGImagePropertyHasAlpha).toBool() || ImageDestination::hasTransparency(rgba));
    // A grey photo stays grey (a third of the samples), as long as its pixels still are grey.
    o.grey = properties.value(kCGImagePropertyColorModel).toString() == QLatin1String(kCGImagePropertyColorModelGray) &&
             (type == ContentTypes::kJpeg || type == ContentTypes::kPng || type == ContentTypes::kTiff) && allGrey(rgba);
    // A black and white scan stays one bit a pixel (PNG, TIFF), a small fraction of grey bytes.
    o.bilevel = o.grey && !o.hasAlpha && type != ContentTypes::kJpeg && properties.value(kCGImagePropertyDepth).toInt() == 1 &&
                !properties.value(kCGImagePropertyIsIndexed).toBool() && allGrey(rgba, true);
    QByteArray bytes;
    bool ok = false;
    bool metadata = false;
    if (type == ContentTypes::kJpeg) {
        ok = imageio_detail::encodeJpeg(rgba, o, &bytes, error);
        metadata = true;
    } else if (type == ContentTypes::kPng) {
        ok = imageio_detail::encodePng(rgba, o, &bytes, error);
        metadata = true;
    } else if (type == ContentTypes::kTiff) {
        ok = imageio_detail::encodeTiff(rgba, o, &bytes, error);
        // TIFF carries its own tags; only a source file adds more.
        metadata = !options.metadataSourcePath.isEmpty();
    } else if (type == ContentTypes::kJpeg2000) {
        ok = imageio_detail::encodeJpeg2000(rgba, o, &bytes, error);
        // The date taken, the camera and the place go along as into a JPEG.
        metadata = true;
    } else if (type == ContentTypes::kBmp) {
        ok = imageio_detail::encodeBmp(rgba, o, &bytes, error);
    } else if (error) {
        *error = QStringLiteral("cannot write files of type %1").arg(type);
    }
    if (ok && metadata) {
        if (options.metadataSourcePath.isEmpty()) {
            ok = addMetadata(&bytes, properties, o, error);
        } else {
            // Mapped, not read: the photo a turn was read from may be larger than a gigabyte.
            const auto source = FileContents::open(options.metadataSourcePath, qint64(1) << 30, error);
            ok = source && imageio_detail::carryMetadata(&bytes, source->bytes(), o, rgba.size(), error);
            if (ok && source->wasCutShort()) {
                ok = false;
                if (error)
                    *error = QStringLiteral("%1 was cut short while its metadata was read").arg(options.metadataSourcePath);
            }
        }
    }
    if (!ok)
        return false;
    *out = std::move(bytes);
    if (used)
        *used = o;
    return true;
}

}  // namespace imageio_detail

}  // namespace kpv
