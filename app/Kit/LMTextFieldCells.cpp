// Drawing of the underlined and the shadowed text cells.
#include "Kit/LMShadowTextFieldCell.h"
#include "Kit/LMUnderLineTextFieldCell.h"
#include "appkit/GraphicsContext.h"

namespace {
void drawCellText(const kpv::TextField& f, const QFont& font, const kpv::Rect& r, const kpv::Color& color)
{
    kpv::GraphicsContext* gc = kpv::GraphicsContext::current();
    if (!gc)
        return;
    QPainter* p = gc->painter();
    p->save();
    p->setFont(font);
    p->setPen(color.toQColor());
    // Upright text: the painter's y axis points up in an unflipped view.
    const double h = f.bounds().height();
    p->translate(0, gc->isFlipped() ? 0 : h);
    p->scale(1, gc->isFlipped() ? 1 : -1);
    const QRectF box(r.x(), gc->isFlipped() ? r.y() : h - r.maxY(), r.width(), r.height());
    const QString text = p->fontMetrics().elidedText(f.stringValue(), Qt::ElideRight, int(box.width()));
    p->drawText(box, f.alignment(), text);
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
