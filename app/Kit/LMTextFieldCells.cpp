// Drawing of the underlined and the shadowed text cells: the string wrapped at words into the
// cell's frame from its top, the last line that fits ending in an ellipsis when more follows.
#include "Kit/LMShadowTextFieldCell.h"
#include "Kit/LMUnderLineTextFieldCell.h"
#include "appkit/GraphicsContext.h"

#include <QFontMetricsF>
#include <QTextLayout>

#include <algorithm>

namespace {
// The lines of `text` wrapped into `width`, no more than fit into `height`.
QStringList wrappedLines(const QString& text, const QFont& font, double width, double height)
{
    QStringList lines;
    const QFontMetricsF metrics(font);
    // n lines take n line spacings less one leading.
    const int maxLines = std::max(1, int((height + metrics.leading() + 0.5) / metrics.lineSpacing()));
    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        if (int(lines.size()) == maxLines - 1) {
            // The last line that fits takes the rest of the text, cut with an ellipsis.
            lines << metrics.elidedText(text.mid(line.textStart()).simplified(), Qt::ElideRight, width);
            break;
        }
        lines << text.mid(line.textStart(), line.textLength()).trimmed();
    }
    layout.endLayout();
    return lines;
}

void drawCellText(const kpv::TextField& f, const QFont& font, const kpv::Rect& r, const kpv::Color& color)
{
    kpv::GraphicsContext* gc = kpv::GraphicsContext::current();
    if (!gc)
        return;
    QPainter* p = gc->painter();
    p->save();
    p->setFont(font);
    p->setPen(color.toQColor());
    p->setRenderHint(QPainter::TextAntialiasing);
    // Upright text: the painter's y axis points up in an unflipped view.
    const double h = f.bounds().height();
    p->translate(0, gc->isFlipped() ? 0 : h);
    p->scale(1, gc->isFlipped() ? 1 : -1);
    const QRectF box(r.x(), gc->isFlipped() ? r.y() : h - r.maxY(), r.width(), r.height());
    const double spacing = QFontMetricsF(font).lineSpacing();
    const QStringList lines = wrappedLines(f.stringValue(), font, box.width(), box.height());
    // One line sits where the field's vertical alignment puts it; more start at the top.
    const int vertical = lines.size() > 1 ? int(Qt::AlignTop) : (f.alignment() & Qt::AlignVertical_Mask);
    const int horizontal = f.alignment() & Qt::AlignHorizontal_Mask;
    double y = box.y();
    if (vertical & Qt::AlignVCenter)
        y = box.y() + (box.height() - spacing) / 2;
    else if (vertical & Qt::AlignBottom)
        y = box.bottom() - spacing;
    for (const QString& line : lines) {
        p->drawText(QRectF(box.x(), y, box.width(), spacing), horizontal | Qt::AlignTop, line);
        y += spacing;
    }
    p->restore();
}
} // namespace

QFont LMUnderLineTextFieldCell::linkFont() const
{
    QFont font = this->font().toQFont();
    font.setUnderline(true);
    return font;
}

void LMUnderLineTextFieldCell::drawRect(const kpv::Rect&) { drawCellText(*this, linkFont(), bounds(), textColor()); }

void LMShadowTextFieldCell::drawRect(const kpv::Rect&)
{
    const QFont font = this->font().toQFont();
    drawCellText(*this, font, kpv::offsetRect(bounds(), 1, -1), kpv::Color::blackColor());
    drawCellText(*this, font, bounds(), textColor());
}
