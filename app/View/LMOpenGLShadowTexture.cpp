#include "View/LMOpenGLShadowTexture.h"

#include <epoxy/gl.h>

bool LMOpenGLShadowTexture::setShadowData(const LMImage &image, QPointF sliceSizeLeftTop, QPointF sliceSizeRightBottom,
                                          const LMRendererInfo *rendererInfo)
{
    if (image.width() == 0 || image.height() == 0 || image.width() > uint64_t(kTileSize) ||
        image.height() > uint64_t(kTileSize))
        return false;
    m_sliceLeftTop = sliceSizeLeftTop;
    m_sliceRightBottom = sliceSizeRightBottom;
    return setData(image, 0, 0, 0, int64_t(image.width()), int64_t(image.height()), rendererInfo);
}

std::vector<LMOpenGLShadowTexture::Part> LMOpenGLShadowTexture::shadowParts(const QRectF &d, QSizeF pictureSize,
                                                                            QPointF lt, QPointF rb)
{
    const double tw = pictureSize.width(), th = pictureSize.height();
    const double dx = d.x(), dy = d.y(), dw = d.width(), dh = d.height();
    return {
        {QRectF(dx, dy, lt.x(), rb.y()), QRectF(0, th - rb.y(), lt.x(), rb.y())},
        {QRectF(dx, dy + rb.y(), lt.x(), dh - lt.y() - rb.y()), QRectF(0, lt.y(), lt.x(), th - lt.y() - rb.y())},
        {QRectF(dx, dy + dh - lt.y(), lt.x(), lt.y()), QRectF(0, 0, lt.x(), lt.y())},
        {QRectF(dx + lt.x(), dy + dh - lt.y(), dw - lt.x() - rb.x(), lt.y()), QRectF(lt.x(), 0, tw - lt.x() - rb.x(), lt.y())},
        {QRectF(dx + dw - rb.x(), dy + dh - lt.y(), rb.x(), lt.y()), QRectF(tw - rb.x(), 0, rb.x(), lt.y())},
        {QRectF(dx + dw - rb.x(), dy + rb.y(), rb.x(), dh - lt.y() - rb.y()),
         QRectF(tw - rb.x(), lt.y(), rb.x(), th - lt.y() - rb.y())},
        {QRectF(dx + dw - rb.x(), dy, rb.x(), rb.y()), QRectF(tw - rb.x(), th - rb.y(), rb.x(), rb.y())},
        {QRectF(dx + lt.x(), dy, dw - lt.x() - rb.x(), rb.y()), QRectF(lt.x(), th - rb.y(), tw - lt.x() - rb.x(), rb.y())},
    };
}

void LMOpenGLShadowTexture::drawShadowOnRect(const QRectF &rect, const QRectF &visibleRect)
{
    if (m_texID == 0)
        return;
    glBindTexture(GL_TEXTURE_2D, m_texID);
    for (const Part &part : shadowParts(rect, m_blockRect.size(), m_sliceLeftTop, m_sliceRightBottom)) {
        if (part.destination.intersects(visibleRect))
            drawShadowPartOnRect(part.destination, part.picture);
    }
    glBindTexture(GL_TEXTURE_2D, 0);
}

void LMOpenGLShadowTexture::drawShadowPartOnRect(const QRectF &p, const QRectF &q)
{
    // +1 skips the tile's border ring.
    const double n = double(kTextureSize);
    const double s0 = (q.x() + 1) / n, t0 = (q.y() + 1) / n, ds = q.width() / n, dt = q.height() / n;
    glPushMatrix();
    glTranslated(p.x() + p.width() / 2, p.y() + p.height() / 2, 0);
    glScaled(p.width() / 2, p.height() / 2, 1);
    glRotated(180, 1, 0, 0); // the picture's top rows land at the top of the part
    glBegin(GL_QUADS);
    glTexCoord2d(s0, t0);
    glVertex2d(-1, -1);
    glTexCoord2d(s0 + ds, t0);
    glVertex2d(1, -1);
    glTexCoord2d(s0 + ds, t0 + dt);
    glVertex2d(1, 1);
    glTexCoord2d(s0, t0 + dt);
    glVertex2d(-1, 1);
    glEnd();
    glPopMatrix();
}
