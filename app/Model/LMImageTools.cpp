#include "Model/LMImageTools.h"

#include "Model/LMPathString.h"

#include "imageio/ImageDestination.h"
#include "imageio/ImageProperties.h"

#include <QPainter>
#include <QTransform>

#include <cmath>
#include <cstring>
#include <utility>

namespace {

constexpr double kRadiansPerDegree = 0.017453292519943295;

// Mirrors rows in place (horizontal) and swaps rows (vertical), after the turn.
void flipInPlace(QImage &image, bool horizontal, bool vertical)
{
    const int w = image.width(), h = image.height();
    if (horizontal) {
        for (int y = 0; y < h; ++y) {
            auto *row = reinterpret_cast<quint32 *>(image.scanLine(y));
            for (int i = 0; i < w / 2; ++i)
                std::swap(row[i], row[w - 1 - i]);
        }
    }
    if (vertical) {
        for (int y = 0; y < h / 2; ++y)
            std::swap_ranges(image.scanLine(y), image.scanLine(y) + image.bytesPerLine(), image.scanLine(h - 1 - y));
    }
}

void setIfPresent(QVariantMap &map, const char *key, const QVariant &value)
{
    if (map.contains(QString::fromLatin1(key)))
        map.insert(QString::fromLatin1(key), value);
}

}  // namespace

QImage LMImageTools::convertImage(const QImage &image, const LMImageRotateAngle &rotate, double scaleX, double scaleY)
{
    if (image.isNull())
        return {};
    const QSizeF bounding = calcRotatedSize(QSizeF(image.size()), int(rotate.angleRotate()));
    const double outW = std::trunc(bounding.width() * scaleX);
    const double outH = std::trunc(bounding.height() * scaleY);
    if (!(outW >= 1 && outH >= 1) || outW > 1e6 || outH > 1e6)
        return {};
    QImage out(int(outW), int(outH), QImage::Format_RGBA8888_Premultiplied);
    if (out.isNull())
        return {};  // no memory for the output: a failure, not a crash
    out.fill(0);
    {
        QPainter painter(&out);
        // Quarter turns at scale 1 move whole pixels: sample them exactly, without smoothing.
        const bool exact = std::fmod(rotate.angleRotate(), 90.0) == 0.0 && scaleX == 1.0 && scaleY == 1.0;
        painter.setRenderHint(QPainter::Antialiasing, !exact);
        painter.setRenderHint(QPainter::SmoothPixmapTransform, !exact);
        // Turn about the centre of the output and scale about it; on a y-down surface a positive
        // rotation is clockwise, as the angle means.
        painter.translate(outW * 0.5, outH * 0.5);
        painter.scale(scaleX, scaleY);
        painter.rotate(rotate.angleRotate());
        painter.translate(-outW * 0.5, -outH * 0.5);
        painter.drawImage(QPointF((outW - image.width()) * 0.5, (outH - image.height()) * 0.5), image);
    }
    flipInPlace(out, rotate.isHorizontalFlipped(), rotate.isVerticalFlipped());
    return out;
}

QImage LMImageTools::imageRotatedByAngle(const QImage &image, const LMImageRotateAngle &angleObject)
{
    if (!angleObject.isRotatedOrFlipped())
        return image;
    return convertImage(image, angleObject, 1.0, 1.0);
}

QImage LMImageTools::imageRotatedByAngle(const QImage &image, int angle)
{
    return imageRotatedByAngle(image, LMImageRotateAngle::zeroAngle().angleByIncreaseAngle(angle));
}

QImage LMImageTools::convertImage(const QImage &image, int rotate, const QSizeF &finalSize)
{
    if (image.isNull())
        return {};
    const QSizeF bounding = calcRotatedSize(QSizeF(image.size()), rotate);
    if (bounding.width() <= 0 || bounding.height() <= 0)
        return {};
    return convertImage(image, LMImageRotateAngle::zeroAngle().angleByIncreaseAngle(rotate),
                        finalSize.width() / bounding.width(), finalSize.height() / bounding.height());
}

bool LMImageTools::saveImage(const QImage &image, const QString &toFile, const QVariantMap &properties)
{
    return saveImage(image, toFile, properties, kpv::ImageWriteOptions());
}

bool LMImageTools::saveImage(const QImage &image, const QString &toFile, const QVariantMap &properties,
                             const kpv::ImageWriteOptions &options, QString *error)
{
    if (image.isNull())
        return false;
    const QString type = kpv::ImageDestination::typeForPath(toFile);
    if (type.isEmpty()) {
        if (error)
            *error = QStringLiteral("%1 does not name a file type that can be written").arg(toFile);
        return false;
    }
    return kpv::ImageDestination::writeImage(image, toFile, type, properties, error, options);
}

kpv::ImageWriteOptions LMImageTools::writeOptionsKeepingMetadataOf(const QString &sourcePath)
{
    kpv::ImageWriteOptions options;
    if (!sourcePath.isEmpty() && !LMPathString(sourcePath, false).isMemoryFilePathString())
        options.metadataSourcePath = sourcePath;
    return options;
}

std::optional<QVariantMap> LMImageTools::rebuildPropertyDictForNewProperties(QVariantMap &newProperties,
                                                                             const QVariantMap &fromOldProperties,
                                                                             const QString &forKey)
{
    const auto it = fromOldProperties.find(forKey);
    if (it == fromOldProperties.end() || it->typeId() != QMetaType::QVariantMap)
        return std::nullopt;
    const QVariantMap copy = it->toMap();
    newProperties.insert(forKey, copy);
    return copy;
}

std::optional<QVariantMap> LMImageTools::createPropertiesFrom(const std::optional<QVariantMap> &properties,
                                                              int setOrientation)
{
    return createPropertiesFrom(properties, setOrientation, 0.0);
}

std::optional<QVariantMap> LMImageTools::createPropertiesFrom(const std::optional<QVariantMap> &properties,
                                                              int setOrientation, double setDpi)
{
    using namespace kpv;
    if (!properties)
        return std::nullopt;
    QVariantMap result = *properties;
    setIfPresent(result, kCGImagePropertyOrientation, setOrientation);

    const QString tiffKey = QString::fromLatin1(kCGImagePropertyTIFFDictionary);
    std::optional<QVariantMap> tiff = rebuildPropertyDictForNewProperties(result, *properties, tiffKey);
    if (tiff) {
        setIfPresent(*tiff, kCGImagePropertyTIFFOrientation, setOrientation);
    }
    const QString iptcKey = QString::fromLatin1(kCGImagePropertyIPTCDictionary);
    if (std::optional<QVariantMap> iptc = rebuildPropertyDictForNewProperties(result, *properties, iptcKey)) {
        setIfPresent(*iptc, kCGImagePropertyIPTCImageOrientation, setOrientation);
        result.insert(iptcKey, *iptc);
    }
    if (setDpi != 0) {
        // Stored in single precision, as the writers keep resolutions.
        const double dpi = double(float(setDpi));
        result.insert(QString::fromLatin1(kCGImagePropertyDPIWidth), dpi);
        result.insert(QString::fromLatin1(kCGImagePropertyDPIHeight), dpi);
        if (tiff) {
            tiff->insert(QString::fromLatin1(kCGImagePropertyTIFFXResolution), dpi);
            tiff->insert(QString::fromLatin1(kCGImagePropertyTIFFYResolution), dpi);
            tiff->insert(QString::fromLatin1(kCGImagePropertyTIFFResolutionUnit), 2);
        }
    }
    if (tiff)
        result.insert(tiffKey, *tiff);
    return result;
}

std::optional<QVariantMap> LMImageTools::createPropertiesFrom(const std::optional<QVariantMap> &properties,
                                                              const std::optional<QVariantMap> &mergeBySaveParameters)
{
    using namespace kpv;
    if (!properties)
        return std::nullopt;
    if (!mergeBySaveParameters)
        return properties;
    QVariantMap result = *properties;
    const QString tiffKey = QString::fromLatin1(kCGImagePropertyTIFFDictionary);
    const QString compressionKey = QString::fromLatin1(kCGImagePropertyTIFFCompression);
    const QVariantMap paramTiff = mergeBySaveParameters->value(tiffKey).toMap();
    if (paramTiff.contains(compressionKey)) {
        QVariantMap tiff = result.value(tiffKey).toMap();
        tiff.insert(compressionKey, paramTiff.value(compressionKey));
        result.insert(tiffKey, tiff);
    }
    const QString qualityKey = QString::fromLatin1(kCGImageDestinationLossyCompressionQuality);
    if (mergeBySaveParameters->contains(qualityKey))
        result.insert(qualityKey, mergeBySaveParameters->value(qualityKey));
    return result;
}

QSizeF LMImageTools::calcScalingSize(const QSizeF &source, const QSizeF &destination, int scaling)
{
    const double sw = source.width(), sh = source.height();
    const double dw = destination.width(), dh = destination.height();
    if (dw == 0 && dh == 0)
        return QSizeF(0, 0);
    switch (scaling) {
    case ScaleProportionallyDown:
    case ScaleProportionallyUpOrDown: {
        const QSizeF fitted = sw / dw > sh / dh ? QSizeF(dw, sh / sw * dw) : QSizeF(sw / sh * dh, dh);
        if (scaling == ScaleProportionallyDown && fitted.width() > sw)
            return source;
        return fitted;
    }
    case ScaleAxesIndependently:
        return destination;
    case ScaleNone:
        return source;
    case ScaleProportionallyFill:
        return sw / dw > sh / dh ? QSizeF(sw / sh * dh, dh) : QSizeF(dw, sh / sw * dw);
    default:
        return QSizeF(0, 0);
    }
}

QSizeF LMImageTools::calcRotatedSize(const QSizeF &size, int rotate)
{
    // Quarter turns are exact: the cosine of a right angle in floating point is not quite zero.
    const int quarter = ((rotate % 360) + 360) % 360;
    if (quarter == 0 || quarter == 180)
        return size;
    if (quarter == 90 || quarter == 270)
        return size.transposed();
    const double a = -rotate * kRadiansPerDegree;
    const double c = std::cos(a), s = std::sin(a);
    const double w = size.width(), h = size.height();
    return QSizeF(std::fabs(w * c) + std::fabs(h * s), std::fabs(w * s) + std::fabs(h * c));
}

int LMImageTools::compareImageWithSize(const QSizeF &imageSize, int imageAngle, const QSizeF &toFitSize)
{
    const QSizeF r = calcRotatedSize(imageSize, imageAngle);
    if (toFitSize.width() > r.width() && toFitSize.height() > r.height())
        return 0;
    if (r.width() == toFitSize.width() || r.height() == toFitSize.height())
        return 1;
    return 2;
}
