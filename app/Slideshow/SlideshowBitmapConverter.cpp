#include "Slideshow/SlideshowBitmapConverter.h"

#include "MdColorID.h"
#include "foundation/Bundle.h"
#include "foundation/FileNames.h"
#include "imageio/FileAccess.h"
#include "imageio/ImageLimits.h"

#include <QBuffer>
#include <QFileInfo>
#include <QImageReader>
#include <cstring>
#include <limits>

namespace {
// A slide's file larger than this is no photo the slideshow could show.
constexpr std::int64_t kMaxSlideFileBytes = std::int64_t(1) << 30;
} // namespace

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

long fillMBitmapFromImage(const QImage& image, MBITMAP* bitmap)
{
    if (!bitmap || image.isNull())
        return 0;
    std::size_t bytes = 0;
    if (!slideshowRgbaByteCount(image.width(), image.height(), &bytes))
        return 0;
    const QImage rgba = image.format() == QImage::Format_RGBA8888_Premultiplied
                            ? image
                            : image.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
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

QImage loadSlideshowImageChecked(const QString& path, QSize fitInto)
{
    // Read whole first, opened without blocking and only when it is a regular file: a pipe or a
    // device in the list can neither hang the slideshow nor keep the program from quitting.
    QByteArray data;
    if (!kpv::readRegularFile(path, kMaxSlideFileBytes, &data))
        return {};
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAutoTransform(true);
    // Formats whose reader cannot tell the size up front are still decoded, under the
    // allocation limit below, and checked afterwards.
    const QSize size = reader.size();
    if (size.isValid() && !slideshowRgbaByteCount(size.width(), size.height(), nullptr))
        return {};
    // The header may lie about the size; cap what the decoder may allocate as well (MB).
    reader.setAllocationLimit(int(kpv::ImageLimits::kMaxPixelsPerFrame * 4 / (1024 * 1024)) + 1);
    // Decoding straight to the size shown is much cheaper for large photos. The header's size is
    // before the orientation is applied, so a quarter-turned photo fits the turned box.
    if (fitInto.isValid() && size.isValid() && (size.width() > fitInto.width() || size.height() > fitInto.height())) {
        const QSize box = fitInto.expandedTo(fitInto.transposed());
        reader.setScaledSize(size.scaled(box, Qt::KeepAspectRatio).expandedTo(QSize(1, 1)));
    }
    QImage image = reader.read();
    if (image.isNull() || !slideshowRgbaByteCount(image.width(), image.height(), nullptr))
        return {};
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
