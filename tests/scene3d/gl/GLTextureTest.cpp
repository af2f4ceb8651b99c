// Texture uploads from bitmap records in every layout the engine takes, read back from OpenGL.
#include <epoxy/gl.h>

#include <random>

#include "DoveOGLRenderEngine.h"
#include "DoveOGLTexture.h"
#include "GLFixture.h"

using namespace Dove;

namespace {

MBITMAP bitmapOf(std::vector<uint8_t>& px, int w, int h, uint64_t format) {
    MBITMAP bm{};
    bm.dwPixelArrayFormat = format;
    bm.lWidth = w;
    bm.lHeight = h;
    bm.pPlane[0] = px.data();
    return bm;
}

std::vector<uint8_t> readTexture(Texture* t, GLenum format, int bytesPerPixel) {
    std::vector<uint8_t> out(size_t(t->getWidth()) * t->getHeight() * bytesPerPixel);
    glBindTexture(GL_TEXTURE_2D, t->getTextureID());
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, 0, format, GL_UNSIGNED_BYTE, out.data());
    return out;
}

std::vector<uint8_t> randomBytes(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> v(n);
    for (auto& b : v) b = uint8_t(rng());
    return v;
}

}  // namespace

class GLTextureTest : public GLEngineTest {
protected:
    Texture* make() { return RenderFactory::getSingleton()->createTexture(0, 0, ""); }
    void drop(Texture* t) { RenderFactory::getSingleton()->releaseTexture(t); }
};

TEST_F(GLTextureTest, EveryBitmapLayout_UploadsItsPixelsExactly) {
    struct Case {
        uint64_t format;
        GLenum readFormat;
        int bpp;
        bool transparent;
    };
    // Odd widths: rows whose length is no multiple of four must still be read tightly packed.
    for (const Case& c : {Case{kColorRGBA8888, GL_RGBA, 4, true}, Case{kColorRGB888, GL_RGB, 3, false},
                          Case{kColorGray8, GL_ALPHA, 1, true}}) {
        for (auto [w, h] : {std::pair{7, 5}, std::pair{1, 1}, std::pair{33, 2}}) {
            auto px = randomBytes(size_t(w) * h * c.bpp, unsigned(w * 31 + c.bpp));
            MBITMAP bm = bitmapOf(px, w, h, c.format);
            Texture* t = make();
            ASSERT_EQ(t->createFromMBitmap(&bm), 1);
            EXPECT_EQ(t->getWidth(), uint32_t(w));
            EXPECT_EQ(t->getHeight(), uint32_t(h));
            EXPECT_EQ(t->getFormat(), c.format);
            EXPECT_EQ(readTexture(t, c.readFormat, c.bpp), px) << "format " << std::hex << c.format << " " << w;
            if (c.format != kColorRGBA8888) EXPECT_EQ(t->isTransparent(), c.transparent);
            drop(t);
        }
    }
}

TEST_F(GLTextureTest, Transparency_FollowsTheAlphaOfTheBitmap) {
    std::vector<uint8_t> px(4 * 4 * 4, 255);
    MBITMAP bm = bitmapOf(px, 4, 4, kColorRGBA8888);
    Texture* t = make();
    t->createFromMBitmap(&bm);
    EXPECT_FALSE(t->isTransparent());
    px[4 * 9 + 3] = 254;
    t->createFromMBitmap(&bm);
    EXPECT_TRUE(t->isTransparent());
    drop(t);
}

TEST_F(GLTextureTest, BadRecords_AreRefusedAndChangeNothing) {
    std::vector<uint8_t> px(64, 0);
    Texture* t = make();
    MBITMAP bgra = bitmapOf(px, 2, 2, 0x37000777);
    EXPECT_EQ(t->createFromMBitmap(&bgra), 0);
    EXPECT_EQ(t->createFromMBitmapWithAutoFit(&bgra, 4, 4, 1), 0);
    MBITMAP noPixels = bitmapOf(px, 2, 2, kColorRGBA8888);
    noPixels.pPlane[0] = nullptr;
    EXPECT_EQ(t->createFromMBitmap(&noPixels), 0);
    MBITMAP huge = bitmapOf(px, 1 << 20, 1 << 20, kColorRGBA8888);
    EXPECT_EQ(t->createFromMBitmap(&huge), 0);
    MBITMAP negative = bitmapOf(px, -4, 4, kColorRGB888);
    EXPECT_EQ(t->createFromMBitmap(&negative), 0);
    EXPECT_EQ(t->createFromMBitmap(nullptr), 0);
    EXPECT_EQ(t->getWidth(), 0u);
    EXPECT_EQ(t->getFormat(), 0u);
    drop(t);
}

TEST_F(GLTextureTest, PureTexture_IsRoundedToPowersOfTwoAndFilled) {
    Texture* t = make();
    ASSERT_EQ(t->createPureTexture(300, 200, Color{1.0f, 0.5f, 0.0f, 0.5f}), 1);
    EXPECT_EQ(t->getWidth(), 512u);
    EXPECT_EQ(t->getHeight(), 256u);
    EXPECT_TRUE(t->isTransparent());
    const auto px = readTexture(t, GL_RGBA, 4);
    for (size_t i = 0; i < px.size(); i += 4) {
        ASSERT_EQ(px[i], 255);
        ASSERT_EQ(px[i + 1], 127);
        ASSERT_EQ(px[i + 2], 0);
        ASSERT_EQ(px[i + 3], 127);
    }
    const uint32_t name = t->getTextureID();
    ASSERT_EQ(t->createPureTexture(64, 64, Color{0, 0, 0, 1}), 1);
    EXPECT_EQ(t->getWidth(), 64u);
    EXPECT_FALSE(t->isTransparent());
    EXPECT_EQ(t->getTextureID(), name);  // refilled in place, no second texture left behind
    EXPECT_EQ(t->createPureTexture(0x80000001u, 4, Color{}), 0);
    drop(t);
}

TEST_F(GLTextureTest, BlankAndAutoFit_StoresOfTheAskedSize) {
    Texture* t = make();
    ASSERT_EQ(t->createBlankTexture(16, 8), 1);
    EXPECT_EQ(t->getFormat(), kColorRGBA8888);
    GLint w = 0, h = 0;
    glBindTexture(GL_TEXTURE_2D, t->getTextureID());
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &w);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &h);
    EXPECT_EQ(w, 16);
    EXPECT_EQ(h, 8);

    // Fit: a 3 x 2 RGB bitmap in the top-left corner of an 8 x 4 store.
    auto px = randomBytes(3 * 2 * 3, 7);
    MBITMAP bm = bitmapOf(px, 3, 2, kColorRGB888);
    ASSERT_EQ(t->createFromMBitmapWithAutoFit(&bm, 8, 4, 1), 1);
    EXPECT_EQ(t->getWidth(), 16u);  // the fields stay as they were
    glBindTexture(GL_TEXTURE_2D, t->getTextureID());
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &w);
    EXPECT_EQ(w, 8);
    std::vector<uint8_t> store(8 * 4 * 3);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGB, GL_UNSIGNED_BYTE, store.data());
    for (int y = 0; y < 2; ++y)
        for (int i = 0; i < 9; ++i) EXPECT_EQ(store[size_t(y) * 24 + i], px[size_t(y) * 9 + i]);
    // A bitmap larger than the store is cut to it, not written past it.
    auto big = randomBytes(16 * 16 * 4, 9);
    MBITMAP large = bitmapOf(big, 16, 16, kColorRGBA8888);
    EXPECT_EQ(t->createFromMBitmapWithAutoFit(&large, 4, 4, 1), 1);
    // No fit: a store of the bitmap's size that holds its pixels.
    EXPECT_EQ(t->createFromMBitmapWithAutoFit(&large, 4, 4, 0), 1);
    glBindTexture(GL_TEXTURE_2D, t->getTextureID());
    std::vector<uint8_t> all(16 * 16 * 4);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, all.data());
    EXPECT_EQ(all, big);
    drop(t);
}

TEST_F(GLTextureTest, TextureTargets) {
    EXPECT_EQ(getOGLTextureTarget(1), unsigned(GL_TEXTURE_2D));
    EXPECT_EQ(getOGLTextureTarget(2), unsigned(GL_TEXTURE_2D));
    EXPECT_EQ(getOGLTextureTarget(4), unsigned(GL_TEXTURE_CUBE_MAP));
    EXPECT_EQ(getOGLTextureTarget(3), 0u);
}
