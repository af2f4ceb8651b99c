#include "appkit/Image.h"
#include "foundation/Bundle.h"

#include <QHash>
#include <QImageReader>

namespace kpv {

namespace {
QHash<QString, ImagePtr>& namedCache()
{
    static QHash<QString, ImagePtr> cache;
    return cache;
}

QImage load(const QString& path)
{
    QImageReader reader(path);
    QImage img = reader.read();
    if (!img.isNull() && img.format() != QImage::Format_ARGB32_Premultiplied)
        img = img.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    return img;
}
} // namespace

ImagePtr Image::imageNamed(const QString& name)
{
    if (name.isEmpty())
        return nullptr;
    auto& cache = namedCache();
    if (auto it = cache.find(name); it != cache.end())
        return it.value();
    // Skin images come as "name.png" with an optional denser "name@2x.png".
    const QString path = Bundle::mainBundle().imageNamed(name);
    if (path.isEmpty())
        return nullptr; // not cached: the image may be generated later
    QImage one = load(path);
    if (one.isNull())
        return nullptr;
    auto img = std::make_shared<Image>(one, 1.0);
    const QString path2 = Bundle::mainBundle().imageNamed(name + "@2x");
    if (!path2.isEmpty()) {
        QImage two = load(path2);
        if (!two.isNull())
            img->addRepresentation(two, 2.0);
    }
    cache.insert(name, img);
    return img;
}

void Image::clearNamedCache() { namedCache().clear(); }

} // namespace kpv
