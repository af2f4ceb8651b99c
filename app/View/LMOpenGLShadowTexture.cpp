#include "View/LMOpenGLShadowTexture.h"

#include "View/LMShareGLContext.h"

#include <epoxy/gl.h>

#include <array>

LMOpenGLShadowTexture::~LMOpenGLShadowTexture()
{
    if (m_partsBufferID == 0)
        return;
    LMShareGLContext::Scope scope;
    if (scope.ok())
        glDeleteBuffers(1, &m_partsBufferID);
}

bool LMOpenGLShadowTexture::setShadowData(const LMImage &image, QPointF sliceSizeLeftTop, QPointF sliceSizeRightBottom,
                                          const LMRendererInfo *rendererInfo, const QColor &background)
{
    if (image.width() == 0 || image.height() == 0 || image.width() > uint64_t(kTileSize) ||
        image.height() > uint64_t(kTileSize))
        return false;
    m_sliceLeftTop = sliceSizeLeftTop;
    m_sliceRightBottom = sliceSizeRightBottom;
    m_composedOver = background;
    m_composed = false;
    if (setData(image, 0, 0, 0, int64_t(image.width()), int64_t(image.height()), rendererInfo))
        return true;
    m_composed = false;
    return false;
}

void LMOpenGLShadowTexture::willUpload(LMTileUpload &upload)
{
    constexpr uint32_t kGL_RGBA = 0x1908, kGL_BGRA = 0x80E1;
    m_composed = false;
    if (m_composedOver.alpha() != 255 || upload.bytesPerPixel != 4 ||
        (upload.pixelFormat != kGL_RGBA && upload.pixelFormat != kGL_BGRA))
        return;
    // Every texel, the zero ones around the picture included: filtering at the parts' outer
    // edges reads those, and over the background they are the background.
    const bool bgra = upload.pixelFormat == kGL_BGRA;
    const std::array<uint32_t, 3> under = bgra ? std::array<uint32_t, 3>{uint32_t(m_composedOver.blue()),
                                                                          uint32_t(m_composedOver.green()),
                                                                          uint32_t(m_composedOver.red())}
                                               : std::array<uint32_t, 3>{uint32_t(m_composedOver.red()),
                                                                          uint32_t(m_composedOver.green()),
                                                                          uint32_t(m_composedOver.blue())};
    for (size_t i = 0; i + 4 <= upload.buffer.size(); i += 4) {
        uint8_t *p = upload.buffer.data() + i;
        const uint32_t rest = 255 - p[3];
        for (size_t c = 0; c < 3; ++c)
            p[c] = uint8_t(std::min<uint32_t>(255, p[c] + (under[c] * rest + 127) / 255));
        p[3] = 255;
    }
    m_composed = true;
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

namespace {
// One part's quad as a tile's buffer holds it: four corners, then their texture coordinates. The
// picture's top rows land at the top of the part (view points run upward).
std::array<float, 16> partQuad(const QRectF &p, const QRectF &q)
{
    // +1 skips the tile's border ring.
    const double n = double(LMOpenGLTexture::kTextureSize);
    const float s0 = float((q.x() + 1) / n), t0 = float((q.y() + 1) / n);
    const float s1 = float((q.x() + 1 + q.width()) / n), t1 = float((q.y() + 1 + q.height()) / n);
    const float x0 = float(p.x()), x1 = float(p.x() + p.width()), y0 = float(p.y()), y1 = float(p.y() + p.height());
    return {x0, y1, x1, y1, x1, y0, x0, y0, s0, t0, s1, t0, s1, t1, s0, t1};
}
} // namespace

void LMOpenGLShadowTexture::drawShadowOnRect(const QRectF &rect, const QRectF &visibleRect)
{
    std::vector<float> quads;
    for (const Part &part : shadowParts(rect, m_blockRect.size(), m_sliceLeftTop, m_sliceRightBottom)) {
        if (part.destination.intersects(visibleRect)) {
            const std::array<float, 16> quad = partQuad(part.destination, part.picture);
            quads.insert(quads.end(), quad.begin(), quad.end());
        }
    }
    drawQuads(quads);
}

void LMOpenGLShadowTexture::drawShadowPartOnRect(const QRectF &rect, const QRectF &texRect)
{
    const std::array<float, 16> quad = partQuad(rect, texRect);
    drawQuads(std::vector<float>(quad.begin(), quad.end()));
}

void LMOpenGLShadowTexture::drawQuads(const std::vector<float> &quads)
{
    if (m_texID == 0 || quads.empty())
        return;
    if (m_partsBufferID == 0)
        glGenBuffers(1, &m_partsBufferID);
    if (m_partsBufferID == 0)
        return;
    glBindBuffer(GL_ARRAY_BUFFER, m_partsBufferID);
    glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(quads.size() * sizeof(float)), quads.data(), GL_DYNAMIC_DRAW);
    glBindTexture(GL_TEXTURE_2D, m_texID);
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    // Each part's positions and coordinates where a tile's buffer has them, at the part's place.
    for (size_t i = 0; i < quads.size() / 16; ++i) {
        const size_t at = i * 16 * sizeof(float);
        glTexCoordPointer(2, GL_FLOAT, 0, reinterpret_cast<const void *>(at + 8 * sizeof(float)));
        glVertexPointer(2, GL_FLOAT, 0, reinterpret_cast<const void *>(at));
        glDrawArrays(GL_QUADS, 0, 4);
    }
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
    glDisableClientState(GL_VERTEX_ARRAY);
    glBindTexture(GL_TEXTURE_2D, 0);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
}
