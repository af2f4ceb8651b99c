#pragma once

// One tile of an image in a texture. Images are never uploaded whole: they are cut into tiles of at
// most 510 x 510 pixels, each held with a one-pixel ring of its neighbours' pixels in a 512 x 512
// texture, so any image size works with fixed-size textures and linear filtering shows no seams.
//
// Texture layout: texel (1, 1) holds image pixel (left, top); column 0 / row 0 hold the pixels just
// left of / above the tile and column w+1 / row h+1 those just right of / below it, where they
// exist (zero otherwise); up to two more columns and rows repeat column w+1 and row h+1.
//
// GL objects are made with a context current that shares with the shared context; they are
// deleted with the object, with the shared context made current for that.

#include "Model/LMImage.h"

#include <QRect>
#include <QRectF>

#include <cstdint>
#include <memory>
#include <vector>

// What the renderer offers, read once per view: [0] limited NPOT textures, [1] BGRA8888 uploads,
// and the largest texture size.
struct LMRendererInfo {
    uint8_t extension[2] = {0, 0};
    int32_t maxTextureSize = 0;
};

// The bytes and formats of one tile upload, built without a GL context.
struct LMTileUpload {
    uint32_t internalFormat = 0;
    uint32_t pixelFormat = 0;
    uint32_t bytesPerPixel = 0;
    int64_t width = 0, height = 0; // the tile, at most 510 each
    std::vector<uint8_t> buffer;   // 512 x 512 texels
};

class LMOpenGLTexture {
public:
    static constexpr int64_t kTileSize = 510;
    static constexpr int64_t kTextureSize = 512;

    LMOpenGLTexture() = default;
    virtual ~LMOpenGLTexture();
    LMOpenGLTexture(const LMOpenGLTexture &) = delete;
    LMOpenGLTexture &operator=(const LMOpenGLTexture &) = delete;

    // The key of the tile whose origin is (left, top) in a view's tile set.
    static int64_t tileKey(int64_t left, int64_t top) { return ((left / kTileSize) << 16) + top / kTileSize; }
    // The tiles that cover `rect` (image pixels) of an image, column by column, top to bottom.
    static std::vector<QRect> tilesCoveringRect(uint64_t imageWidth, uint64_t imageHeight, const QRectF &rect);
    // Builds the staging texels of one tile of one frame, in `upload`'s buffer when it has room.
    // False, with `error` set, for a pixel size the textures cannot hold, a frame smaller than its
    // layout, or a tile outside the image.
    static bool buildTileUpload(const LMImage &image, int64_t frameIdx, int64_t left, int64_t top, int64_t width,
                                int64_t height, const LMRendererInfo *rendererInfo, LMTileUpload *upload,
                                QString *error = nullptr);

    // Fills (or refills) the texture with one tile. A refill of the same block in the same format
    // (the next frame of an animation) rewrites only the texels the tile uses, in the texture that
    // is already there. On failure the texture keeps its previous content and place.
    bool setData(const LMImage &image, int64_t frameIdx, int64_t left, int64_t top, int64_t width, int64_t height,
                 const LMRendererInfo *rendererInfo);
    // Writes the quad of the current block into the vertex buffer.
    virtual void createBuffer();
    // Draws the tile with the current model-view matrix in image pixels, each of its texels
    // covering `devicePixelsPerTexel` screen pixels across. Shown smaller than its size, the
    // tile is drawn from its halvings (made at the first such draw) between the two nearest,
    // so that each screen pixel takes the texels under it rather than four of them.
    void draw(double devicePixelsPerTexel = 1.0);

    uint32_t texID() const { return m_texID; }
    // The frame the texture holds (0 for an image without animation).
    int64_t frameIdx() const { return m_frameIdx; }
    uint32_t bufferID() const { return m_bufferID; }
    QRectF blockRect() const { return m_blockRect; }

protected:
    // Last look at the staging texels before they are uploaded.
    virtual void willUpload(LMTileUpload &) {}

    uint32_t m_texID = 0;
    uint32_t m_bufferID = 0;
    QRectF m_blockRect;
    int64_t m_frameIdx = 0;
    uint32_t m_internalFormat = 0;
    bool m_hasHalvings = false;   // the halvings hold the texels of level 0
    bool m_drawsHalvings = false; // the minifying filter reads them
};

using LMOpenGLTexturePtr = std::shared_ptr<LMOpenGLTexture>;
