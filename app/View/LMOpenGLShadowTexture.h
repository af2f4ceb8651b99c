#pragma once

// The nine-slice drop-shadow picture in one tile texture, drawn as eight border parts around the
// image (the centre is under the image). Parts are drawn in immediate mode, without a buffer.

#include "View/LMOpenGLTexture.h"

#include <QPointF>

class LMOpenGLShadowTexture : public LMOpenGLTexture {
public:
    // False for no image or one larger than a tile; otherwise uploads it as the tile at (0, 0).
    bool setShadowData(const LMImage &image, QPointF sliceSizeLeftTop, QPointF sliceSizeRightBottom,
                       const LMRendererInfo *rendererInfo);
    void createBuffer() override {}
    // Draws the border parts of `rect` (view points, y up) that meet `visibleRect`.
    void drawShadowOnRect(const QRectF &rect, const QRectF &visibleRect);
    // One part: destination in view points, source in picture pixels from its top-left.
    void drawShadowPartOnRect(const QRectF &rect, const QRectF &texRect);

    // The eight parts in drawing order: destination and picture rectangles.
    struct Part {
        QRectF destination;
        QRectF picture;
    };
    static std::vector<Part> shadowParts(const QRectF &rect, QSizeF pictureSize, QPointF sliceSizeLeftTop,
                                         QPointF sliceSizeRightBottom);

    QPointF shadowImageSliceSizeLeftTop() const { return m_sliceLeftTop; }
    QPointF shadowImageSliceSizeRightBottom() const { return m_sliceRightBottom; }

private:
    QPointF m_sliceLeftTop, m_sliceRightBottom;
};
