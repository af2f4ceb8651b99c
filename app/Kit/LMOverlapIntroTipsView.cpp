#include "Kit/LMOverlapIntroTipsView.h"

#include "appkit/Control.h"

#include <QFontMetricsF>

#include <algorithm>
#include <cmath>

void LMOverlapIntroTipsView::placeTipText(kpv::TextField* field, kpv::Rect frame, const kpv::Rect& bounds)
{
    if (!field)
        return;
    const int wrap = Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap;
    field->setAlignment(wrap);
    const QFontMetricsF metrics(field->font().toQFont());
    const QRectF needed = metrics.boundingRect(QRectF(0, 0, std::max(1.0, frame.width()), 1e6), wrap, field->stringValue());
    const double height = std::max(frame.height(), std::ceil(needed.height()));
    const double x = std::max(frame.x(), bounds.x() + 10);
    field->setFrame(kpv::Rect(x, frame.y(), frame.width(), height));
}

kpv::Size LMOverlapIntroTipsView::maskSize() const
{
    const LMNineSliceImageRep* rep = bkNineSliceImageRep().get();
    return rep && rep->nineSliceImage() ? rep->nineSliceImage()->size() : kpv::Size{};
}

void LMOverlapIntroTipsView::setSpotlightCentre(kpv::Point centre)
{
    const kpv::Rect b = bounds();
    const kpv::Size mask = maskSize();
    // Past half the mask from the corner, the mask would no longer cover the whole window.
    const double fromRight = std::clamp(b.maxX() - centre.x, 0.0, mask.width / 2);
    const double fromBottom = std::clamp(centre.y - b.y(), 0.0, mask.height / 2);
    m_spotlightFromCorner = kpv::Point{fromRight, fromBottom};
    setNeedsDisplay(true);
}

void LMOverlapIntroTipsView::setSpotlightOn(const kpv::View* target)
{
    // Only a view of the same tree has a place in the overlay's coordinates.
    const auto root = [](const kpv::View* v) {
        while (v->superview())
            v = v->superview();
        return v;
    };
    if (!target || root(target) != root(this))
        return;
    const kpv::Rect r = convertRectFromView(target->bounds(), target);
    setSpotlightCentre(kpv::Point{r.midX(), r.midY()});
}

kpv::Point LMOverlapIntroTipsView::spotlightCentre() const
{
    const kpv::Rect b = bounds();
    const kpv::Size mask = maskSize();
    const kpv::Point from = m_spotlightFromCorner.value_or(kpv::Point{mask.width / 2, mask.height / 2});
    return kpv::Point{b.maxX() - from.x, b.y() + from.y};
}

kpv::Rect LMOverlapIntroTipsView::backgroundDrawRect() const
{
    const kpv::Rect b = bounds();
    if (!m_spotlightFromCorner)
        return b;
    // The mask grows past the right and bottom edges until its middle sits on the light.
    const kpv::Size mask = maskSize();
    const kpv::Point c = spotlightCentre();
    const double right = c.x + mask.width / 2;
    const double bottom = c.y - mask.height / 2;
    return kpv::Rect(b.x(), bottom, right - b.x(), b.maxY() - bottom);
}
