#include "Kit/LMIconTextButton.h"

#include "appkit/GraphicsContext.h"

#include <cmath>

void LMIconTextButton::drawImage(const kpv::Image& image, double fraction)
{
    kpv::GraphicsContext* gc = kpv::GraphicsContext::current();
    if (!gc)
        return;
    const kpv::Size s = image.size();
    m_iconWidth = std::int64_t(s.width);
    const kpv::Rect b = bounds();
    const kpv::Rect to = kpv::integralRect(kpv::Rect(b.x(), (b.height() - s.height) * 0.5, s.width, s.height));
    gc->drawImage(image, to, kpv::Rect(), kpv::CompositeSourceOver, fraction, true);
}

void LMIconTextButton::drawRect(const kpv::Rect& dirty)
{
    LMButton::drawRect(dirty);
    kpv::GraphicsContext* gc = kpv::GraphicsContext::current();
    if (!gc || title().isEmpty())
        return;
    const kpv::Font font;
    const kpv::Size ts = kpv::GraphicsContext::sizeOfText(title(), font);
    const kpv::Rect b = bounds();
    const kpv::Rect r(double(m_iconWidth) + 5, std::floor(b.y() + b.height() * 0.5 - ts.height * 0.5), ts.width + 5,
                      ts.height);
    gc->drawTextInRect(title(), r, font, kpv::Color::whiteColor());
}
