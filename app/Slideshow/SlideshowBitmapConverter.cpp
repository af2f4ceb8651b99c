#include "Slideshow/SlideshowBitmapConverter.h"

#include "MdColorID.h"
#include "foundation/Bundle.h"
#include "foundation/FileNames.h"
#include "imageio/ImageLimits.h"
#include "imageio/UprightImage.h"

#include <QFileInfo>

#include <algorithm>
#include <cstring>
#include <limits>

bool slideshowRgbaByteCount(std::int64_t width, std::int64_t height, std::size_t* bytes)
{
    if (width < 1 || height < 1)
        return false;
    if (!kpv::ImageLimits::frameAllowed(std::uint64_t(width), std::uint64_t(height)))
        return false;
    const std::uint64_t pixels = std::uint64_t(width) * std::uint64_t(height); // below 2^28 here
    if (pixels > std::numeric_limits<std::size_t>::max() / 4)
        return false;
    if (bytes)
        *bytes = std::size_t(pixels * 4);
    return true;
}

long fillMBitmapFromImage(const QImage& image, MBITMAP* bitmap, MBitmapAlpha alpha)
{
    if (!bitmap || image.isNull())
        return 0;
    std::size_t bytes = 0;
    if (!slideshowRgbaByteCount(image.width(), image.height(), &bytes))
        return 0;
    const QImage::Format format = alpha == MBitmapAlpha::Straight ? QImage::Format_RGBA8888
                                                                  : QImage::Format_RGBA8888_Premultiplied;
    const QImage rgba = image.format() == format ? image : image.convertToFormat(format);
    if (rgba.isNull())
        return 0;
    const std::size_t rowBytes = std::size_t(rgba.width()) * 4;
    // The engine releases the plane with delete[].
    auto* plane = new (std::nothrow) MByte[bytes];
    if (!plane)
        return 0;
    for (int y = 0; y < rgba.height(); ++y)
        std::memcpy(plane + std::size_t(y) * rowBytes, rgba.constScanLine(y), rowBytes);
    bitmap->dwPixelArrayFormat = MCOLOR_ABGR8888;
    bitmap->lWidth = rgba.width();
    bitmap->lHeight = rgba.height();
    bitmap->lPitch[0] = MInt64(rowBytes);
    bitmap->pPlane[0] = plane;
    return 1;
}

QImage loadSlideshowImageChecked(const QString& path, QSize fitInto, QString* error)
{
    // Through the image reader: its size checks and the process's decode budget apply, and a
    // large photo decodes straight to the size shown. The box is turned either way, so a
    // quarter-turned photo fits it as well.
    const int maxPixelSize = fitInto.isValid() ? std::max(fitInto.width(), fitInto.height()) : 0;
    QImage image = kpv::decodeUprightImage(path, maxPixelSize, error);
    if (image.isNull()) {
        if (error && error->isEmpty())
            *error = QStringLiteral("the picture cannot be read");
        return {};
    }
    if (!slideshowRgbaByteCount(image.width(), image.height(), nullptr)) {
        if (error)
            *error = QStringLiteral("the picture is too large (%1 x %2 pixels)").arg(image.width()).arg(image.height());
        return {};
    }
    return image;
}

long BitmapConverter(const std::string& path, MBITMAP** bitmap)
{
    if (!bitmap || !*bitmap)
        return 0;
    const QString file = QString::fromStdString(path);
    QString source;
    if (kpv::pathStatus(file).exists)
        source = file;
    else if (!path.empty())
        source = kpv::Bundle::mainBundle().imageNamed(QFileInfo(file).fileName());
    if (source.isEmpty())
        return 0;
    return fillMBitmapFromImage(loadSlideshowImageChecked(source), *bitmap);
}
