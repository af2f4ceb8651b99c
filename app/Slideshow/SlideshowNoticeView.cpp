#include "Slideshow/SlideshowNoticeView.h"

#include "appkit/GraphicsContext.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>

namespace {
QFont noticeFont()
{
    QFont f;
    f.setPixelSize(12);
    return f;
}
} // namespace

SlideshowNoticeView::SlideshowNoticeView()
    : kpv::View(kpv::Rect(0, 0, 200, kHeight))
{
    setAutoresizingMask(kpv::ViewMinXMargin | kpv::ViewMaxXMargin | kpv::ViewMinYMargin);
}

void SlideshowNoticeView::setText(const QString& text)
{
    m_text = text;
    setNeedsDisplay();
}

void SlideshowNoticeView::placeIn(const kpv::Rect& bounds)
{
    const double textWidth = QFontMetricsF(noticeFont()).horizontalAdvance(m_text);
    const double width = std::min(bounds.width() - 40, std::ceil(textWidth) + 36);
    setFrame(kpv::Rect(bounds.origin.x + (bounds.width() - width) / 2,
                       bounds.origin.y + bounds.height() - kTopMargin - kHeight, width, kHeight));
}

void SlideshowNoticeView::drawRect(const kpv::Rect&)
{
    kpv::GraphicsContext* gc = kpv::GraphicsContext::current();
    if (!gc)
        return;
    QPainter* p = gc->painter();
    const QRectF box(0, 0, frame().width(), frame().height());
    p->save();
    p->setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(box.adjusted(0.5, 0.5, -0.5, -0.5), 8, 8);
    p->fillPath(path, QColor(20, 21, 23, 220));
    // Text reads top-down: turn the view's y-up coordinates over for it.
    if (!gc->isFlipped()) {
        p->translate(0, box.height());
        p->scale(1, -1);
    }
    p->setFont(noticeFont());
    p->setPen(QColor(235, 236, 238));
    p->drawText(box.adjusted(12, 0, -12, 0), Qt::AlignCenter | Qt::TextSingleLine,
                QFontMetricsF(noticeFont()).elidedText(m_text, Qt::ElideMiddle, box.width() - 24));
    p->restore();
}
