#include "Slideshow/SlideshowBitmapConverter.h"

#include "MdColorID.h"
#include "foundation/Bundle.h"
#include "foundation/FileNames.h"
#include "imageio/ImageDestination.h"
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

namespace {

// Gives each fully transparent pixel that touches a visible one (of its eight neighbours) the
// alpha-weighted mean colour of those neighbours. Only transparent pixels change, and they never
// serve as sources, so one pass in place is enough for sampling between two neighbours.
void spreadColourUnderClearEdges(QImage& rgba)
{
    const int w = rgba.width(), h = rgba.height();
    for (int y = 0; y < h; ++y) {
        uchar* row = rgba.scanLine(y);
        for (int x = 0; x < w; ++x) {
            if (row[x * 4 + 3] != 0)
                continue;
            std::uint32_t sum[3] = {0, 0, 0}, weight = 0;
            for (int ny = std::max(0, y - 1); ny <= std::min(h - 1, y + 1); ++ny) {
                const uchar* near = rgba.constScanLine(ny);
                for (int nx = std::max(0, x - 1); nx <= std::min(w - 1, x + 1); ++nx) {
                    const uchar* p = near + nx * 4;
                    for (int c = 0; c < 3; ++c)
                        sum[c] += std::uint32_t(p[c]) * p[3];
                    weight += p[3];
                }
            }
            if (weight == 0)
                continue;
            for (int c = 0; c < 3; ++c)
                row[x * 4 + c] = uchar((sum[c] + weight / 2) / weight);
        }
    }
}

} // namespace

long fillMBitmapFromImage(const QImage& image, MBITMAP* bitmap)
{
    if (!bitmap || image.isNull())
        return 0;
    std::size_t bytes = 0;
    if (!slideshowRgbaByteCount(image.width(), image.height(), &bytes))
        return 0;
    const bool asItIs = image.format() == QImage::Format_RGBA8888 || image.format() == QImage::Format_RGBX8888;
    QImage rgba = asItIs ? image : image.convertToFormat(QImage::Format_RGBA8888);
    if (rgba.isNull())
        return 0;
    if (image.hasAlphaChannel())
        spreadColourUnderClearEdges(rgba);
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

QImage textureReadyImage(const QImage& image)
{
    // Decoders and the viewer's cache often keep an opaque photo in a format with alpha.
    if (image.isNull() || image.format() == QImage::Format_RGBX8888 || kpv::ImageDestination::hasTransparentPixel(image))
        return image;
    const QImage rgbx = image.convertToFormat(QImage::Format_RGBX8888);
    return rgbx.isNull() ? image : rgbx;
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
