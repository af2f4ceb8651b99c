#pragma once

// The arithmetic of the crop rectangle: dragging its edges and corners with or without a kept
// ratio, moving it inside the image, the keyboard, wheel and pinch steps, the quarter turn, the
// first rectangle of a file, the repair of a collapsed rectangle at the end of a drag, and where
// the small toolbar and the size tip go. Everything here is a pure function of rectangles, so the
// crop page only feeds it the current rectangles and applies the answers.
//
// Rectangles are (x, y, w, h) with y growing upwards. Track positions: 0 outside, 1 lower-left,
// 2 left, 3 upper-left, 4 upper, 5 upper-right, 6 right, 7 lower-right, 8 lower, 9 inside (move).

#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QString>

#include <optional>

// The aspect a crop keeps: `keep` false for the free preset. `ratio` is the preset's ratio in
// either orientation; a ratio with a zero side keeps nothing (an image without a known size).
struct CropAspect {
    bool keep = false;
    QSizeF ratio;

    bool isKept() const { return keep && ratio.width() > 0 && ratio.height() > 0; }
    // The ratio turned to the orientation of (width, height): (larger, smaller) for a landscape or
    // square size, else (smaller, larger); (0, 0) when no ratio is kept.
    QSizeF aspectRatioBySize(double width, double height) const;
};

class CropGeometry {
public:
    enum TrackPosition : int {
        Outside = 0,
        LowerLeft = 1,
        Left = 2,
        UpperLeft = 3,
        Upper = 4,
        UpperRight = 5,
        Right = 6,
        LowerRight = 7,
        Lower = 8,
        Inside = 9,
    };

    // One drag step of `r` at `position` by `delta`, kept inside `whole`. With `actualRectFlag` the
    // result is in whole pixels. Dragging an edge past the opposite edge mirrors the rectangle.
    static QRectF calcVisualTrackRect(const QRectF &r, int position, QPointF delta, const QRectF &whole,
                                      bool actualRectFlag, const CropAspect &aspect);
    // The signed size after applying the kept ratio (and the free-edge rules) for a resize step.
    static QSizeF calcAlignVisualDeltaSize(const QRectF &r, QSizeF signedSize, int position, const QRectF &whole,
                                           const CropAspect &aspect);

    // The end-of-drag repair: a rectangle less than one pixel wide or high is rebuilt to at least
    // 1 x 1 inside the visual frame `frame`, keeping its top edge. A kept ratio is turned like the
    // rectangle at the start of the drag (`beforeDrag`), since the collapsed one has no
    // orientation. nullopt when no repair is needed.
    static std::optional<QRectF> repairCollapsedRect(const QRectF &actual, const QSizeF &frame, const QRectF &beforeDrag,
                                                     const CropAspect &aspect);

    // A keyboard step: move (position 9) or resize by the right edge (horizontal delta) or the lower
    // edge (vertical delta), in whole visual pixels. nullopt when a shrinking step is refused.
    static std::optional<QRectF> moveOrResizeVisualActualTrackRect(const QRectF &current, const QRectF &frame,
                                                                   QPointF delta, bool moveFlag, const CropAspect &aspect);
    // The move that a wheel event asks for: twice the scrolling deltas, x reversed, both reversed
    // again for an inverted (natural) device.
    static QPointF scrollWheelMoveDelta(double scrollingDeltaX, double scrollingDeltaY, bool directionInverted);
    // A pinch by `magnification` about the rectangle's centre; never smaller than 1 pixel nor
    // larger than the frame, and always at least one pixel of change per side.
    static QRectF magnifyRect(const QRectF &current, const QRectF &frame, double magnification, const CropAspect &aspect);

    // The centred half of a raw frame (at least 1 x 1): the rectangle a file starts with.
    static QRectF initialRawCropRect(const QRectF &rawFrame);
    // The rectangle turned a quarter about its centre, shrunk (keeping the ratio when one is kept)
    // and clamped to fit the raw frame.
    static QRectF rotatedRawCropRect(const QRectF &current, const QRectF &rawFrame, const CropAspect &aspect);
    // A fixed ratio applied to the raw rectangle: the longer side stays, the shorter one follows
    // the ratio, shrunk to the frame; the centre and the orientation stay.
    static QRectF fixedRatioRawCropRect(const QRectF &current, const QRectF &rawFrame, QSizeF ratio);
    // The display-ratio rectangle in visual pixels: the display size (pixels) fitted into the frame
    // without enlarging, centred on `visualCenter` and clamped into the frame.
    static QRectF displayRatioVisualRect(QSizeF displayPixels, const QSizeF &frame, QPointF visualCenter);

    // The visual rectangle with y counted from the top of the frame, for display.
    static QRectF visualActualRectToVisualImageRect(const QRectF &actual, const QSizeF &frame);
    // "X:%ld Y:%ld | %ld x %ld" of a visual image rectangle, each value truncated.
    static QString cropInfoText(const QRectF &visualImageRect);
    // "%ld x %ld" of the rectangle's size, truncated.
    static QString cropSizeTipText(const QRectF &visualRect);
    // Where the size tip goes: 5 points right of the pointer, centred on it vertically, kept inside
    // `viewBounds`.
    static QPointF sizeTipOrigin(QPointF pointer, const QRectF &tipBounds, const QRectF &viewBounds);
    // Where the toolbar goes for the rectangle `r`: under it, else above or inside its lower edge,
    // right-aligned 2 points inside its right edge, never left of `viewBounds`.
    static QPointF trackToolbarOrigin(const QRectF &r, const QRectF &viewBounds, const QSizeF &toolbarSize);

    // Rounding half away from zero, as everywhere in crop mode.
    static double roundHalfAway(double v);
};
