#pragma once
// The geometry of the Navigation panel: where the image lies in the panel's thumbnail, the map
// from the main view's coordinates to the thumbnail's, the frame over the visible part, how far
// the view pans when the frame moves, and the panel's size for the image's aspect. Plain
// functions, so that the panel's window code stays thin and the arithmetic is tested alone.

#include "View/LMMatrix.h"

#include <QRectF>
#include <QSizeF>

struct NavigateWindowGeometry {
    static constexpr double kThumbWidth = 120;
    static constexpr double kMinThumbHeight = 80;
    static constexpr double kMaxThumbHeight = 180;

    // V (`imageVisibleViewRect`) fitted into the thumbnail's bounds keeping its aspect (enlarging
    // allowed) and centred; empty when V has no area.
    static QRectF imageViewRectInImageView(const QRectF& imageVisibleViewRect, const QRectF& thumbBounds);
    // View point -> thumbnail point: translate by -V's origin, scale V onto R, translate by R's
    // origin. The identity when V has no area (nothing to map).
    static LMMatrix matrixFromImageViewRectToTrackRect(const QRectF& imageVisibleViewRect, const QRectF& imageRectInThumb);
    // The window's new size: its size minus the thumbnail's plus (120, h), h from V's aspect
    // clamped to 80 ... 180, or 120 when V has no area.
    static QSizeF calcNavigateWindowSizeByCurFile(const QSizeF& windowSize, const QSizeF& thumbViewSize,
                                                  const QRectF& imageVisibleViewRect);
    // The frame over the visible part: (fit-in bounds ∩ V) mapped into the thumbnail, integral;
    // the zero rectangle when nothing is visible.
    static QRectF trackRectForVisibleRect(const QRectF& boundsForFitin, const QRectF& imageVisibleViewRect,
                                          const LMMatrix& viewToThumb);
    // How far the view pans so that the part under `trackRect` comes into view.
    static QPointF moveDeltaForTrackRect(const QRectF& trackRect, const QRectF& boundsForFitin,
                                         const QRectF& imageVisibleViewRect, const LMMatrix& viewToThumb);
};
