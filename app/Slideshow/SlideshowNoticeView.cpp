#include "Slideshow/SlideshowNoticeView.h"

#include "appkit/GraphicsContext.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QTextLayout>
#include <QTextOption>
#include <algorithm>
#include <cmath>

namespace {
QFont noticeFont()
{
    QFont f;
    f.setPixelSize(12);
    return f;
}

constexpr double kSidePadding = 12;
constexpr double kVerticalPadding = 9;

// `text` broken into lines of at most `width`, between words where it can be, else anywhere (a
// long path has no spaces).
QStringList wrapped(const QString& text, double width)
{
    QTextLayout layout(text, noticeFont());
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    QStringList lines;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(std::max(1.0, width));
        lines << text.mid(line.textStart(), line.textLength()).trimmed();
    }
    layout.endLayout();
    return lines;
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
    const QFontMetricsF metrics(noticeFont());
    const double textWidth = std::ceil(metrics.horizontalAdvance(m_text)) + 12;
    const double width = std::max(2 * kSidePadding + 1, std::min(bounds.width() - 40, textWidth + 2 * kSidePadding));
    m_lines = wrapped(m_text, width - 2 * kSidePadding);
    // As many lines as the upper half of the slideshow holds; a longer text ends in an ellipsis.
    const double lineHeight = std::ceil(metrics.lineSpacing());
    const auto room = qsizetype(std::max(1.0, std::floor((bounds.height() / 2 - 2 * kVerticalPadding) / lineHeight)));
    if (m_lines.size() > room) {
        const QString rest = m_lines.mid(room - 1).join(QLatin1Char(' '));
        m_lines = m_lines.mid(0, room - 1);
        m_lines << metrics.elidedText(rest, Qt::ElideRight, width - 2 * kSidePadding);
    }
    const double height = std::max(kHeight, double(m_lines.size()) * lineHeight + 2 * kVerticalPadding);
    setFrame(kpv::Rect(bounds.origin.x + (bounds.width() - width) / 2,
                       bounds.origin.y + bounds.height() - kTopMargin - height, width, height));
    setNeedsDisplay();
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
    const QStringList lines = m_lines.isEmpty() ? QStringList{m_text} : m_lines;
    const QFontMetricsF metrics(noticeFont());
    const double lineHeight = std::ceil(metrics.lineSpacing());
    double y = (box.height() - lineHeight * double(lines.size())) / 2;
    for (const QString& line : lines) {
        p->drawText(QRectF(kSidePadding, y, box.width() - 2 * kSidePadding, lineHeight),
                    Qt::AlignCenter | Qt::TextSingleLine, line);
        y += lineHeight;
    }
    p->restore();
}
