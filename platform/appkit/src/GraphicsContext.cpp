#include "appkit/GraphicsContext.h"

#include <QFontMetricsF>
#include <QPainterPath>
#include <QPolygonF>
#include <cmath>

namespace kpv {

namespace {
thread_local GraphicsContext* g_current = nullptr;

QRectF toQ(const Rect& r) { return QRectF(r.x(), r.y(), r.width(), r.height()); }
} // namespace

QPainter::CompositionMode compositionModeFor(CompositingOperation op)
{
    switch (op) {
    case CompositeClear: return QPainter::CompositionMode_Clear;
    case CompositeCopy: return QPainter::CompositionMode_Source;
    case CompositeSourceIn: return QPainter::CompositionMode_SourceIn;
    case CompositeSourceOut: return QPainter::CompositionMode_SourceOut;
    case CompositeSourceAtop: return QPainter::CompositionMode_SourceAtop;
    case CompositeDestinationOver: return QPainter::CompositionMode_DestinationOver;
    case CompositeDestinationIn: return QPainter::CompositionMode_DestinationIn;
    case CompositeDestinationOut: return QPainter::CompositionMode_DestinationOut;
    case CompositeDestinationAtop: return QPainter::CompositionMode_DestinationAtop;
    case CompositeXOR: return QPainter::CompositionMode_Xor;
    case CompositePlusDarker: return QPainter::CompositionMode_Darken;
    case CompositePlusLighter: return QPainter::CompositionMode_Plus;
    case CompositeSourceOver:
    case CompositeHighlight:
    default: return QPainter::CompositionMode_SourceOver;
    }
}

GraphicsContext::GraphicsContext(QPainter* painter, bool flipped, double scale)
    : m_painter(painter), m_flipped(flipped), m_scale(scale), m_previous(g_current)
{
    g_current = this;
}

GraphicsContext::~GraphicsContext()
{
    g_current = m_previous;
}

GraphicsContext* GraphicsContext::current() { return g_current; }

void GraphicsContext::saveGraphicsState() { m_painter->save(); }
void GraphicsContext::restoreGraphicsState() { m_painter->restore(); }
void GraphicsContext::translate(double dx, double dy) { m_painter->translate(dx, dy); }
void GraphicsContext::scale(double sx, double sy) { m_painter->scale(sx, sy); }
void GraphicsContext::rotate(double degrees)
{
    // Positive angles turn counter-clockwise on screen in both kinds of context.
    m_painter->rotate(m_flipped ? -degrees : degrees);
}
void GraphicsContext::clipToRect(const Rect& r) { m_painter->setClipRect(toQ(r), Qt::IntersectClip); }
void GraphicsContext::setCompositingOperation(CompositingOperation op)
{
    m_painter->setCompositionMode(compositionModeFor(op));
}

void GraphicsContext::fillRect(const Rect& r, const Color& c) { m_painter->fillRect(toQ(r), c.toQColor()); }

void GraphicsContext::strokeRect(const Rect& r, const Color& c, double lineWidth)
{
    m_painter->save();
    m_painter->setPen(QPen(c.toQColor(), lineWidth));
    m_painter->setBrush(Qt::NoBrush);
    m_painter->drawRect(toQ(insetRect(r, lineWidth / 2, lineWidth / 2)));
    m_painter->restore();
}

void GraphicsContext::fillRoundedRect(const Rect& r, double radius, const Color& c)
{
    m_painter->save();
    m_painter->setRenderHint(QPainter::Antialiasing);
    m_painter->setPen(Qt::NoPen);
    m_painter->setBrush(c.toQColor());
    m_painter->drawRoundedRect(toQ(r), radius, radius);
    m_painter->restore();
}

void GraphicsContext::fillEllipse(const Rect& r, const Color& c)
{
    m_painter->save();
    m_painter->setRenderHint(QPainter::Antialiasing);
    m_painter->setPen(Qt::NoPen);
    m_painter->setBrush(c.toQColor());
    m_painter->drawEllipse(toQ(r));
    m_painter->restore();
}

void GraphicsContext::fillPolygon(const std::vector<Point>& points, const Color& c)
{
    QPolygonF poly;
    for (Point p : points)
        poly << QPointF(p.x, p.y);
    m_painter->save();
    m_painter->setRenderHint(QPainter::Antialiasing);
    m_painter->setPen(Qt::NoPen);
    m_painter->setBrush(c.toQColor());
    m_painter->drawPolygon(poly);
    m_painter->restore();
}

void GraphicsContext::strokePolyline(const std::vector<Point>& points, const Color& c, double lineWidth,
                                     bool closed)
{
    QPolygonF poly;
    for (Point p : points)
        poly << QPointF(p.x, p.y);
    m_painter->save();
    m_painter->setRenderHint(QPainter::Antialiasing);
    m_painter->setPen(QPen(c.toQColor(), lineWidth));
    m_painter->setBrush(Qt::NoBrush);
    if (closed)
        m_painter->drawPolygon(poly);
    else
        m_painter->drawPolyline(poly);
    m_painter->restore();
}

void GraphicsContext::strokeLine(Point a, Point b, const Color& c, double lineWidth)
{
    strokePolyline({a, b}, c, lineWidth, false);
}

void GraphicsContext::drawImage(const Image& image, const Rect& to, const Rect& from, CompositingOperation op,
                                double fraction, bool respectFlipped)
{
    if (!image.isValid() || to.isEmpty() || fraction <= 0)
        return;
    const QImage& rep = image.bestRepresentation(m_scale);
    const double s = image.scaleOfRepresentation(rep);
    Rect src = from.isEmpty() ? Rect(0, 0, image.size().width, image.size().height) : from;
    // Points with a bottom-left origin to pixels with a top-left origin.
    QRectF px(src.x() * s, rep.height() - (src.y() + src.height()) * s, src.width() * s, src.height() * s);
    m_painter->save();
    m_painter->setCompositionMode(compositionModeFor(op));
    m_painter->setOpacity(m_painter->opacity() * std::fmin(1.0, fraction));
    m_painter->setRenderHint(QPainter::SmoothPixmapTransform);
    const bool upsideDown = !m_flipped || !respectFlipped;
    if (upsideDown && !m_flipped) {
        // The painter's y grows upwards here: turn the image back so it stands upright.
        m_painter->translate(to.x(), to.y() + to.height());
        m_painter->scale(1, -1);
        m_painter->drawImage(QRectF(0, 0, to.width(), to.height()), rep, px);
    } else if (!respectFlipped && m_flipped) {
        m_painter->translate(to.x(), to.y() + to.height());
        m_painter->scale(1, -1);
        m_painter->drawImage(QRectF(0, 0, to.width(), to.height()), rep, px);
    } else {
        m_painter->drawImage(toQ(to), rep, px);
    }
    m_painter->restore();
}

void GraphicsContext::drawTiledImage(const Image& image, const Rect& tile, const Rect& area)
{
    if (!image.isValid() || tile.width() <= 0 || tile.height() <= 0 || area.isEmpty())
        return;
    // Whole tiles from the tile's phase; each one drawn upright like any image.
    const double x0 = tile.x() + std::floor((area.minX() - tile.x()) / tile.width()) * tile.width();
    const double y0 = tile.y() + std::floor((area.minY() - tile.y()) / tile.height()) * tile.height();
    m_painter->save();
    m_painter->setClipRect(toQ(area), Qt::IntersectClip);
    for (double y = y0; y < area.maxY(); y += tile.height())
        for (double x = x0; x < area.maxX(); x += tile.width())
            drawImage(image, Rect(x, y, tile.width(), tile.height()));
    m_painter->restore();
}

Size GraphicsContext::sizeOfText(const QString& text, const Font& font)
{
    QFontMetricsF fm(font.toQFont());
    return Size{fm.horizontalAdvance(text), fm.height()};
}

void GraphicsContext::drawText(const QString& text, Point at, const Font& font, const Color& color)
{
    const Size sz = sizeOfText(text, font);
    drawTextInRect(text, Rect(at.x, at.y, sz.width + 1, sz.height), font, color, Qt::AlignLeft | Qt::AlignTop);
}

void GraphicsContext::drawTextInRect(const QString& text, const Rect& r, const Font& font, const Color& color,
                                     int alignment)
{
    m_painter->save();
    m_painter->setFont(font.toQFont());
    m_painter->setPen(color.toQColor());
    m_painter->setRenderHint(QPainter::TextAntialiasing);
    if (!m_flipped) {
        m_painter->translate(r.x(), r.y() + r.height());
        m_painter->scale(1, -1);
        m_painter->drawText(QRectF(0, 0, r.width(), r.height()), alignment, text);
    } else {
        m_painter->drawText(toQ(r), alignment, text);
    }
    m_painter->restore();
}

} // namespace kpv
