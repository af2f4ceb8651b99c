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
