#pragma once
// The drawing context a view's drawRect receives: a painter already set to the view's
// coordinates (bottom-left origin unless the view is flipped). Images and text are always
// drawn upright, whatever the flippedness.

#include "appkit/Color.h"
#include "appkit/Geometry.h"
#include "appkit/Image.h"

#include <QPainter>
#include <vector>

namespace kpv {

enum CompositingOperation : int {
    CompositeClear = 0,
    CompositeCopy = 1,
    CompositeSourceOver = 2,
    CompositeSourceIn = 3,
    CompositeSourceOut = 4,
    CompositeSourceAtop = 5,
    CompositeDestinationOver = 6,
    CompositeDestinationIn = 7,
    CompositeDestinationOut = 8,
    CompositeDestinationAtop = 9,
    CompositeXOR = 10,
    CompositePlusDarker = 11,
    CompositeHighlight = 12,
    CompositePlusLighter = 13,
};

class GraphicsContext {
public:
    // `flipped`: the painter's y axis grows downwards (the painter is not set up here; the
    // view does that). `scale`: device pixels per point.
    GraphicsContext(QPainter* painter, bool flipped, double scale);
    ~GraphicsContext();
    GraphicsContext(const GraphicsContext&) = delete;
    GraphicsContext& operator=(const GraphicsContext&) = delete;

    // The context of the drawRect in progress; nullptr outside drawing.
    static GraphicsContext* current();

    QPainter* painter() const { return m_painter; }
    bool isFlipped() const { return m_flipped; }
    double backingScaleFactor() const { return m_scale; }

    void saveGraphicsState();
    void restoreGraphicsState();
    void translate(double dx, double dy);
    void scale(double sx, double sy);
    void rotate(double degrees);
    void clipToRect(const Rect& r);
    void setCompositingOperation(CompositingOperation op);

    void fillRect(const Rect& r, const Color& c);
    void strokeRect(const Rect& r, const Color& c, double lineWidth = 1.0);
    void fillRoundedRect(const Rect& r, double radius, const Color& c);
    void fillEllipse(const Rect& r, const Color& c);
    void fillPolygon(const std::vector<Point>& points, const Color& c);
    void strokePolyline(const std::vector<Point>& points, const Color& c, double lineWidth = 1.0,
                        bool closed = false);
    void strokeLine(Point a, Point b, const Color& c, double lineWidth = 1.0);

    // Draws the part `from` of the image (points, bottom-left origin; an empty rectangle means
    // the whole image) stretched into `to`, with the operation and the opacity `fraction`.
    // With `respectFlipped` the image stands upright in a flipped context too.
    void drawImage(const Image& image, const Rect& to, const Rect& from = Rect(),
                   CompositingOperation op = CompositeSourceOver, double fraction = 1.0,
                   bool respectFlipped = true);
    // Tiles the image over the clip, one tile being `tile` (its origin sets the phase).
    void drawTiledImage(const Image& image, const Rect& tile, const Rect& area);

    // Text. The point is the bottom-left of the line box in an unflipped context, its top-left
    // in a flipped one.
    void drawText(const QString& text, Point at, const Font& font, const Color& color);
    // Text inside a rectangle with Qt alignment flags, clipped to it.
    void drawTextInRect(const QString& text, const Rect& r, const Font& font, const Color& color,
                        int alignment = Qt::AlignLeft | Qt::AlignVCenter);
    static Size sizeOfText(const QString& text, const Font& font);
    static double textWidth(const QString& text, const Font& font) { return sizeOfText(text, font).width; }

private:
    QPainter* m_painter;
    bool m_flipped;
    double m_scale;
    GraphicsContext* m_previous;
};

QPainter::CompositionMode compositionModeFor(CompositingOperation op);

} // namespace kpv
