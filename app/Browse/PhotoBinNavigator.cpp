#include "Browse/PhotoBinNavigator.h"

#include "appkit/Image.h"

QImage PhotoBinNavigator::defaultImage(int kind) const
{
    const QString name = kind == 1 ? QStringLiteral("img_defaultthumb") : QStringLiteral("img_badthumb");
    const kpv::ImagePtr image = kpv::Image::imageNamed(name);
    return image && image->isValid() ? image->bestRepresentation(1.0) : QImage();
}
