#include "appkit/Image.h"

#include <algorithm>
#include <cmath>

namespace kpv {

Image::Image(const QImage& pixels, double scale)
{
    addRepresentation(pixels, scale);
}

void Image::addRepresentation(const QImage& pixels, double scale)
{
    if (pixels.isNull() || scale <= 0)
        return;
    if (m_reps.empty())
        m_size = Size{pixels.width() / scale, pixels.height() / scale};
    m_reps.push_back(Rep{pixels, scale});
    std::sort(m_reps.begin(), m_reps.end(), [](const Rep& a, const Rep& b) { return a.scale < b.scale; });
}

const QImage& Image::bestRepresentation(double scale) const
{
    static const QImage none;
    if (m_reps.empty())
        return none;
    for (const Rep& r : m_reps)
        if (r.scale >= scale)
            return r.pixels;
    return m_reps.back().pixels;
}

double Image::scaleOfRepresentation(const QImage& rep) const
{
    for (const Rep& r : m_reps)
        if (r.pixels.cacheKey() == rep.cacheKey())
            return r.scale;
    return 1.0;
}

ImagePtr Image::imageWithOneRepresentation(double scale) const
{
    auto img = std::make_shared<Image>();
    if (m_reps.empty())
        return img;
    const QImage& rep = bestRepresentation(scale);
    img->addRepresentation(rep, scaleOfRepresentation(rep));
    img->m_size = m_size;
    return img;
}

ImagePtr Image::subImage(const Rect& r) const
{
    auto img = std::make_shared<Image>();
    for (const Rep& rep : m_reps) {
        // Points, bottom-left origin, to pixels, top-left origin.
        const int x = int(std::lround(r.x() * rep.scale));
        const int w = int(std::lround(r.width() * rep.scale));
        const int h = int(std::lround(r.height() * rep.scale));
        const int y = rep.pixels.height() - int(std::lround(r.y() * rep.scale)) - h;
        QRect px = QRect(x, y, w, h).intersected(rep.pixels.rect());
        if (px.isEmpty())
            continue;
        img->addRepresentation(rep.pixels.copy(px), rep.scale);
    }
    if (img->isValid())
        img->m_size = r.size;
    return img;
}

} // namespace kpv
