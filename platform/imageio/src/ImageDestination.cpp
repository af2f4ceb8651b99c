#include "imageio/ImageDestination.h"

#include "Encoders.h"
#include "imageio/ContentTypes.h"
#include "imageio/ImageProperties.h"

#include <QFileInfo>
#include <QSaveFile>

#include <exiv2/exiv2.hpp>

#include <cmath>

namespace kpv {
namespace {

using imageio_detail::EncodeOptions;

EncodeOptions optionsFrom(const QVariantMap& p, const QImage& image)
{
    EncodeOptions o;
    bool ok = false;
    const double quality = p.value(kCGImageDestinationLossyCompressionQuality).toDouble(&ok);
    if (ok && std::isfinite(quality))
        o.quality = std::clamp(quality, 0.0, 1.0);
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

}  // namespace

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
    if (image.isNull() || image.width() <= 0 || image.height() <= 0) {
        if (error)
            *error = QStringLiteral("no image to write");
        return false;
    }
    // Straight alpha, one byte a channel: what every encoder below expects.
    const QImage rgba = image.convertToFormat(QImage::Format_RGBA8888);
    if (rgba.isNull()) {
        if (error)
            *error = QStringLiteral("out of memory");
        return false;
    }
    const EncodeOptions o = optionsFrom(properties, image);
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
    } else if (type == ContentTypes::kJpeg2000) {
        ok = imageio_detail::encodeJpeg2000(rgba, o, &bytes, error);
    } else if (type == ContentTypes::kBmp) {
        ok = imageio_detail::encodeBmp(rgba, o, &bytes, error);
    } else if (error) {
        *error = QStringLiteral("cannot write files of type %1").arg(type);
    }
    if (ok && metadata)
        ok = addMetadata(&bytes, properties, o, error);
    if (!ok)
        return false;

    QSaveFile file(path);
    // The write is only buffered; a disk that fills up shows in the flush, which commit() does not
    // report, so the flush is checked before the rename.
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.flush() || !file.commit()) {
        if (error)
            *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        file.cancelWriting();
        return false;
    }
    return true;
}

}  // namespace kpv
