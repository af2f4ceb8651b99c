#pragma once

// The nine-slice drop-shadow picture in one tile texture, drawn as eight border parts around the
// image (the centre is under the image).
//
// The parts go through a vertex buffer laid out as a tile's, and over an opaque background the
// texels are laid over that colour before the upload, so the shadow needs no blending: it is
// drawn in the very state the image's tiles are, and a software renderer compiles nothing more
// for it (each other state costs it a new pipeline, tens of milliseconds, at the first frame).

#include "View/LMOpenGLTexture.h"

#include <QColor>
#include <QPointF>

class LMOpenGLShadowTexture : public LMOpenGLTexture {
public:
    // False for no image or one larger than a tile; otherwise uploads it as the tile at (0, 0).
    // With an opaque `background`, the texels of 32-bit pictures are laid over it (the picture's
    // texels are premultiplied) and the result stands for the shadow drawn over that colour.
    bool setShadowData(const LMImage &image, QPointF sliceSizeLeftTop, QPointF sliceSizeRightBottom,
                       const LMRendererInfo *rendererInfo, const QColor &background = QColor(0, 0, 0, 0));
    // Whether the texels were laid over `background`: drawn over it, the shadow needs no blending.
    bool isComposedOver(const QColor &background) const
    {
        return m_composed && background.alpha() == 255 && background.rgb() == m_composedOver.rgb();
    }
    // The background given to setShadowData.
    const QColor &background() const { return m_composedOver; }
    ~LMOpenGLShadowTexture() override;
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

protected:
    void willUpload(LMTileUpload &upload) override;

private:
    // Draws quads laid out as partQuad makes them, 16 floats each.
    void drawQuads(const std::vector<float> &quads);

    QPointF m_sliceLeftTop, m_sliceRightBottom;
    QColor m_composedOver;
    bool m_composed = false;
    uint32_t m_partsBufferID = 0;
};
