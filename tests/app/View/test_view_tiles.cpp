// Cutting images into tiles and filling the tile texels, without a GL context.

#include "view_test_support.h"

#include "View/LMOpenGLShadowTexture.h"
#include "View/LMOpenGLTexture.h"
#include "imageio/GifAnimation.h"

using namespace viewtest;

namespace {

const uint8_t *texel(const LMTileUpload &u, int x, int y) { return u.buffer.data() + (size_t(y) * 512 + x) * u.bytesPerPixel; }

TEST(Tiles, CoverRectsWithKeys)
{
    const auto tiles = LMOpenGLTexture::tilesCoveringRect(1020, 511, QRectF(0, 0, 1020, 511));
    ASSERT_EQ(tiles.size(), 4u);
    EXPECT_EQ(tiles[0], QRect(0, 0, 510, 510));
    EXPECT_EQ(tiles[1], QRect(0, 510, 510, 1));
    EXPECT_EQ(tiles[2], QRect(510, 0, 510, 510));
    EXPECT_EQ(tiles[3], QRect(510, 510, 510, 1));
    std::vector<int64_t> keys;
    for (const QRect &t : tiles)
        keys.push_back(LMOpenGLTexture::tileKey(t.x(), t.y()));
    EXPECT_EQ(keys, (std::vector<int64_t>{0, 1, 65536, 65537}));
    // Only what meets the rect, never beyond the image, nothing for a NaN rect.
    EXPECT_EQ(LMOpenGLTexture::tilesCoveringRect(1020, 511, QRectF(600, 0, 10, 10)).size(), 1u);
    EXPECT_EQ(LMOpenGLTexture::tilesCoveringRect(1020, 511, QRectF(0, 0, 5000, 5000)).size(), 4u);
    EXPECT_TRUE(LMOpenGLTexture::tilesCoveringRect(1020, 511, QRectF(0, 0, qQNaN(), 5)).empty());
}

TEST(Tiles, BorderRingAndEdgeRepeat)
{
    auto image = makeImage(1200, 700); // pixel (x, y) = (x & 255, y & 255, 0, 255)
    LMTileUpload u;
    // A corner tile: column 0 and row 0 are zero; the repeat fills two columns and rows.
    ASSERT_TRUE(LMOpenGLTexture::buildTileUpload(*image, 0, 0, 0, 100, 50, nullptr, &u));
    EXPECT_EQ(u.width, 100);
    EXPECT_EQ(texel(u, 0, 5)[3], 0);
    EXPECT_EQ(texel(u, 5, 0)[3], 0);
    EXPECT_EQ(texel(u, 1, 1)[0], 0);
    EXPECT_EQ(texel(u, 101, 1)[0], 100); // right neighbour
    EXPECT_EQ(texel(u, 102, 1)[0], 100);
    EXPECT_EQ(texel(u, 103, 1)[0], 100);
    EXPECT_EQ(texel(u, 104, 1)[3], 0);
    EXPECT_EQ(texel(u, 10, 51)[1], 50); // row below
    EXPECT_EQ(texel(u, 10, 53)[1], 50);
    EXPECT_EQ(texel(u, 10, 54)[3], 0);

    // A middle tile holds its neighbours' pixels all round; a full tile gets no repeat.
    ASSERT_TRUE(LMOpenGLTexture::buildTileUpload(*image, 0, 510, 100, 510, 510, nullptr, &u));
    EXPECT_EQ(texel(u, 0, 1)[0], uint8_t(509));
    EXPECT_EQ(texel(u, 1, 0)[1], 99);
    EXPECT_EQ(texel(u, 511, 1)[0], uint8_t(1020));
    EXPECT_EQ(texel(u, 1, 511)[1], uint8_t(610));
    // A 509-wide tile gets one repeated column.
    ASSERT_TRUE(LMOpenGLTexture::buildTileUpload(*image, 0, 0, 0, 509, 10, nullptr, &u));
    EXPECT_EQ(texel(u, 511, 1)[0], texel(u, 510, 1)[0]);

    // The next tile goes into the same staging buffer, and nothing of the former one stays in it.
    const uint8_t *storage = u.buffer.data();
    ASSERT_TRUE(LMOpenGLTexture::buildTileUpload(*image, 0, 0, 0, 20, 20, nullptr, &u));
    EXPECT_EQ(u.buffer.data(), storage);
    EXPECT_EQ(texel(u, 21, 5)[0], 20);
    EXPECT_EQ(texel(u, 24, 5)[3], 0);
    EXPECT_EQ(texel(u, 300, 5)[3], 0);
    EXPECT_EQ(texel(u, 5, 300)[3], 0);
}

TEST(Tiles, AlphaFirstBigEndianArrivesAsRgba)
{
    // Bytes A R G B per pixel, alpha first (4), default byte order (big endian).
    auto base = makeImage(3, 2);
    auto block = LMData::create(3 * 2 * 4);
    for (int i = 0; i < 6; ++i) {
        uint8_t *p = block->mutableBytes() + i * 4;
        p[0] = 200; // A
        p[1] = uint8_t(10 + i); // R
        p[2] = uint8_t(20 + i); // G
        p[3] = uint8_t(30 + i); // B
    }
    LMImage image(4u, 32u, 12u, 3u, 2u, {block}, base->originalImgBaseInfo());
    LMTileUpload u;
    LMRendererInfo noBgra;
    ASSERT_TRUE(LMOpenGLTexture::buildTileUpload(image, 0, 0, 0, 3, 2, &noBgra, &u));
    EXPECT_EQ(u.pixelFormat, 0x1908u); // RGBA
    for (int i = 0; i < 6; ++i) {
        const uint8_t *p = texel(u, 1 + i % 3, 1 + i / 3);
        EXPECT_EQ(p[0], 10 + i);
        EXPECT_EQ(p[1], 20 + i);
        EXPECT_EQ(p[2], 30 + i);
        EXPECT_EQ(p[3], 200);
    }
    LMRendererInfo bgra;
    bgra.extension[1] = 1;
    ASSERT_TRUE(LMOpenGLTexture::buildTileUpload(image, 0, 0, 0, 3, 2, &bgra, &u));
    EXPECT_EQ(u.pixelFormat, 0x80E1u); // BGRA
    EXPECT_EQ(texel(u, 1, 1)[0], 30);
}

TEST(Tiles, HostileLayoutsFailCleanly)
{
    auto base = makeImage(4, 4);
    const auto info = base->originalImgBaseInfo();
    LMTileUpload u;
    QString error;
    LMImage wide(1u, 48u, 24u, 4u, 4u, base->frameDatas(), info);
    EXPECT_FALSE(LMOpenGLTexture::buildTileUpload(wide, 0, 0, 0, 4, 4, nullptr, &u, &error));
    EXPECT_EQ(error, "Unknown Image bpp");
    // A frame shorter than its rows, a row too short for its pixels, a missing frame, a tile
    // outside the image: all refused without reading past the block.
    LMImage tall(1u, 32u, 16u, 4u, 400u, base->frameDatas(), info);
    EXPECT_FALSE(LMOpenGLTexture::buildTileUpload(tall, 0, 0, 0, 4, 4, nullptr, &u));
    LMImage narrowRows(1u, 32u, 8u, 4u, 4u, base->frameDatas(), info);
    EXPECT_FALSE(LMOpenGLTexture::buildTileUpload(narrowRows, 0, 0, 0, 4, 4, nullptr, &u));
    EXPECT_FALSE(LMOpenGLTexture::buildTileUpload(*base, 3, 0, 0, 4, 4, nullptr, &u));
    EXPECT_FALSE(LMOpenGLTexture::buildTileUpload(*base, 0, 4, 0, 4, 4, nullptr, &u));
    EXPECT_FALSE(LMOpenGLTexture::buildTileUpload(*base, 0, -1, 0, 4, 4, nullptr, &u));
    // Every 8-, 16- and 24-bit layout that is consistent is taken.
    for (uint64_t bpp : {8u, 16u, 24u}) {
        LMImage ok(0u, bpp, 4 * bpp / 8, 4u, 4u, base->frameDatas(), info);
        EXPECT_TRUE(LMOpenGLTexture::buildTileUpload(ok, 0, 0, 0, 4, 4, nullptr, &u)) << bpp;
        EXPECT_EQ(u.buffer.size(), size_t(512 * 512 * bpp / 8));
    }
}

// The frames after the first of an animation kept compact reach the tiles composed: each tile
// holds the screen of its own frame, whatever frame was asked before.
TEST(Tiles, CompactAnimationFramesAreUploadedAsComposed)
{
    auto frame = [](QRect rect, int disposal, uint8_t index) {
        auto f = std::make_shared<kpv::GifAnimation::Frame>();
        f->rect = rect;
        f->disposal = disposal;
        f->colours = {0xFF0000FFu, 0xFF00FF00u}; // red, green as the screen's bytes
        f->indexes.assign(size_t(rect.width() * rect.height()), index);
        return std::shared_ptr<const kpv::GifAnimation::Frame>(f);
    };
    auto animation = std::make_shared<const kpv::GifAnimation>(
        QSize(4, 4), std::vector{frame(QRect(0, 0, 4, 4), 1, 0), frame(QRect(1, 1, 2, 2), 2, 1), frame(QRect(0, 0, 1, 1), 1, 1)});
    const auto info = makeImage(4, 4)->originalImgBaseInfo();
    auto image = std::make_shared<LMImage>(animation->frame(0), info);
    ASSERT_TRUE(image->setAnimation(animation));
    EXPECT_EQ(image->frameCount(), 3);
    EXPECT_EQ(image->frameDatas().size(), 1);
    LMTileUpload u;
    for (int f : {2, 1, 2}) {
        ASSERT_TRUE(LMOpenGLTexture::buildTileUpload(*image, f, 0, 0, 4, 4, nullptr, &u)) << f;
        // Frame 1 paints a green square; frame 2 follows its clearing and paints one green corner.
        EXPECT_EQ(texel(u, 1, 1)[1], f == 2 ? 255 : 0) << f;
        EXPECT_EQ(texel(u, 2, 2)[1], f == 1 ? 255 : 0) << f;
        EXPECT_EQ(texel(u, 2, 2)[3], f == 1 ? 255 : 0) << f; // cleared to transparent after frame 1
        EXPECT_EQ(texel(u, 4, 4)[0], 255) << f;              // red where nothing else came
    }
    EXPECT_FALSE(LMOpenGLTexture::buildTileUpload(*image, 3, 0, 0, 4, 4, nullptr, &u));
    // An animation of another size than the stored frame is not taken.
    auto other = std::make_shared<LMImage>(QImage(5, 4, QImage::Format_RGBA8888_Premultiplied), info);
    EXPECT_FALSE(other->setAnimation(animation));
    EXPECT_EQ(other->frameCount(), 1);
}

TEST(Tiles, ShadowPartsFollowTheSlices)
{
    const auto parts = LMOpenGLShadowTexture::shadowParts(QRectF(0, 0, 200, 100), QSizeF(60, 80), QPointF(9, 12),
                                                          QPointF(12, 21));
    ASSERT_EQ(parts.size(), 8u);
    EXPECT_EQ(parts[0].picture, QRectF(0, 80 - 21, 9, 21)); // bottom-left corner: the last 21 rows
    EXPECT_EQ(parts[1].picture, QRectF(0, 12, 9, 80 - 12 - 21)); // left edge: rows 12 .. th - 22
    EXPECT_EQ(parts[1].destination, QRectF(0, 21, 9, 100 - 12 - 21));
    EXPECT_EQ(parts[4].destination, QRectF(200 - 12, 100 - 12, 12, 12));
}

} // namespace
