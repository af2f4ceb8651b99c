#include "imageio/UprightImage.h"

#include "imageio/ImageProperties.h"
#include "imageio/ImageSource.h"

#include <QTransform>

namespace kpv {
namespace {

// The picture turned as EXIF orientation `orientation` asks (1 or unknown: as stored).
QImage turnedUpright(const QImage& image, int orientation)
{
    int angle = 0;
    bool mirror = false;
    switch (orientation) {
    case 2: mirror = true; break;
    case 3: angle = 180; break;
    case 4: angle = 180; mirror = true; break;
    case 5: angle = 90; mirror = true; break;
    case 6: angle = 90; break;
    case 7: angle = 270; mirror = true; break;
    case 8: angle = 270; break;
    default: return image;
    }
    QImage out = angle != 0 ? image.transformed(QTransform().rotate(angle)) : image;
    return mirror ? out.mirrored(true, false) : out;
}

}  // namespace

QImage decodeUprightImage(const QString& path, int maxPixelSize, QString* error)
{
    std::unique_ptr<ImageSource> source = ImageSource::createWithFile(path, error);
    if (!source)
        return {};
    QImage image = maxPixelSize > 0 ? source->createThumbnailAtIndex(0, maxPixelSize, true, error)
                                    : source->createImageAtIndex(0, error);
    if (image.isNull())
        return {};
    const int orientation = source->propertiesAtIndex(0).value(QLatin1String(kCGImagePropertyOrientation)).toInt();
    return turnedUpright(image, orientation);
}

}  // namespace kpv
