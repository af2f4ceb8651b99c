#include "View/LMOpenGLTexture.h"

#include "View/LMShareGLContext.h"

#include <epoxy/gl.h>

#include <algorithm>

LMOpenGLTexture::~LMOpenGLTexture()
{
    if (m_texID == 0 && m_bufferID == 0)
        return;
    LMShareGLContext::Scope scope;
    if (!scope.ok())
        return; // the context is gone with its objects
    if (m_bufferID != 0)
        glDeleteBuffers(1, &m_bufferID);
    if (m_texID != 0)
        glDeleteTextures(1, &m_texID);
}

bool LMOpenGLTexture::setData(const LMImage &image, int64_t frameIdx, int64_t left, int64_t top, int64_t width,
                              int64_t height, const LMRendererInfo *rendererInfo)
{
    // One staging buffer for every tile this thread uploads: a fresh megabyte per tile cost a
    // mapping, its page faults and its unmapping each time.
    static thread_local LMTileUpload upload;
    if (!buildTileUpload(image, frameIdx, left, top, width, height, rendererInfo, &upload))
        return false;
    willUpload(upload);
    const QRectF block(double(left), double(top), double(upload.width), double(upload.height));
    const bool refill = m_texID != 0 && m_bufferID != 0 && block == m_blockRect && upload.internalFormat == m_internalFormat;
    if (m_texID == 0) {
        glGenTextures(1, &m_texID);
        if (m_texID == 0)
            return false;
    }
    glBindTexture(GL_TEXTURE_2D, m_texID);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    if (refill) {
        // Only the tile, its one-texel ring and the repeated edge (at most w + 4 by h + 4 texels)
        // differ between frames; the rest of the texture is zero in both.
        const GLsizei w = GLsizei(std::min(upload.width + 4, kTextureSize));
        const GLsizei h = GLsizei(std::min(upload.height + 4, kTextureSize));
        glPixelStorei(GL_UNPACK_ROW_LENGTH, GLint(kTextureSize));
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, w, h, GLenum(upload.pixelFormat), GL_UNSIGNED_BYTE, upload.buffer.data());
        glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    } else {
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        glTexImage2D(GL_TEXTURE_2D, 0, GLint(upload.internalFormat), GLsizei(kTextureSize), GLsizei(kTextureSize), 0,
                     GLenum(upload.pixelFormat), GL_UNSIGNED_BYTE, upload.buffer.data());
        m_blockRect = block;
        m_internalFormat = upload.internalFormat;
        createBuffer();
    }
    m_frameIdx = frameIdx;
    m_hasHalvings = false;
    if (!refill)
        m_drawsHalvings = false; // a fresh texture filters linearly
    glBindTexture(GL_TEXTURE_2D, 0);
    return true;
}

void LMOpenGLTexture::createBuffer()
{
    const bool fresh = m_bufferID == 0;
    if (fresh)
        glGenBuffers(1, &m_bufferID);
    if (m_bufferID == 0)
        return;
    glBindBuffer(GL_ARRAY_BUFFER, m_bufferID);
    if (fresh)
        glBufferData(GL_ARRAY_BUFFER, 64, nullptr, GL_STATIC_DRAW);
    const float w = float(m_blockRect.width()), h = float(m_blockRect.height());
    // Corners relative to (255, 255), then their texture coordinates in 1/512 units: the quad
    // covers the block exactly, image rows growing along +y.
    const float positions[8] = {-255, h - 255, w - 255, h - 255, w - 255, -255, -255, -255};
    const float t = 1.0f / float(kTextureSize);
    const float coords[8] = {t, (h + 1) * t, (w + 1) * t, (h + 1) * t, (w + 1) * t, t, t, t};
    glBufferSubData(GL_ARRAY_BUFFER, 0, 32, positions);
    glBufferSubData(GL_ARRAY_BUFFER, 32, 32, coords);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
}

namespace {
// Whether the renderer makes the halvings of a texture itself (OpenGL 3.0, or the extension that
// brought it); asked once, with a context current.
bool rendererMakesHalvings()
{
    static const bool makes = epoxy_gl_version() >= 30 || epoxy_has_gl_extension("GL_ARB_framebuffer_object") ||
                              epoxy_has_gl_extension("GL_EXT_framebuffer_object");
    return makes;
}
} // namespace

void LMOpenGLTexture::draw(double devicePixelsPerTexel)
{
    if (m_texID == 0 || m_bufferID == 0)
        return;
    glBindBuffer(GL_ARRAY_BUFFER, m_bufferID);
    glEnableClientState(GL_VERTEX_ARRAY);
    glPushMatrix();
    glTranslated(m_blockRect.x(), m_blockRect.y(), 0);
    glTranslated(255, 255, 0);
    glBindTexture(GL_TEXTURE_2D, m_texID);
    // Shown smaller, four texels a screen pixel would skip those between them: fine lines beat.
    // At its size or larger the tile is filtered linearly, exactly as before.
    const bool shrunk = devicePixelsPerTexel < 0.999;
    if (shrunk && !m_hasHalvings && rendererMakesHalvings()) {
        glGenerateMipmap(GL_TEXTURE_2D);
        m_hasHalvings = true;
    }
    const bool halvings = shrunk && m_hasHalvings;
    if (halvings != m_drawsHalvings) {
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, halvings ? GL_LINEAR_MIPMAP_LINEAR : GL_LINEAR);
        m_drawsHalvings = halvings;
    }
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    glTexCoordPointer(2, GL_FLOAT, 0, reinterpret_cast<const void *>(32));
    glVertexPointer(2, GL_FLOAT, 0, nullptr);
    glDrawArrays(GL_QUADS, 0, 4);
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
    glBindTexture(GL_TEXTURE_2D, 0);
    glPopMatrix();
    glDisableClientState(GL_VERTEX_ARRAY);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
}
