#include <gtest/gtest.h>

#include <vector>

#include "DoveTexture.h"
#include "EngineFixture.h"

using namespace Dove;

namespace {

struct Picture {
    std::vector<uint8_t> pixels;
    MBITMAP bitmap{};
    Picture(int w, int h, uint64_t format = kColorRGBA8888) {
        bitmap.dwPixelArrayFormat = format;
        bitmap.lWidth = w;
        bitmap.lHeight = h;
        pixels.assign(size_t(w) * size_t(h) * (bytesPerPixel(format) ? bytesPerPixel(format) : 4), 255);
        bitmap.pPlane[0] = pixels.data();
    }
};

}  // namespace

using TextureTest = EngineTest;

TEST_F(TextureTest, UploadsKeepFormatsAndTransparency) {
    Picture opaque(3, 2);
    Texture* t = rm()->createTextureFromMBitmap(&opaque.bitmap, "ignored");
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->getWidth(), 3u);
    EXPECT_FALSE(t->isTransparent());
    Texture* again = rm()->createTextureFromMBitmap(&opaque.bitmap, "ignored");
    EXPECT_NE(again->getName(), t->getName());  // the name argument is not used

    Picture oneAlpha(3, 2);
    oneAlpha.pixels[4 * 5 + 3] = 254;
    EXPECT_TRUE(rm()->createTextureFromMBitmap(&oneAlpha.bitmap, "")->isTransparent());
    Picture grey(2, 2, kColorGray8);
    EXPECT_TRUE(rm()->createTextureFromMBitmap(&grey.bitmap, "")->isTransparent());
    Picture rgb(2, 2, kColorRGB888);
    EXPECT_FALSE(rm()->createTextureFromMBitmap(&rgb.bitmap, "")->isTransparent());

    size_t count = rm()->textureCount();
    Picture bgra(2, 2, 0x37000777);
    EXPECT_EQ(rm()->createTextureFromMBitmap(&bgra.bitmap, ""), nullptr);
    Picture empty(2, 2);
    empty.bitmap.pPlane[0] = nullptr;
    EXPECT_EQ(rm()->createTextureFromMBitmap(&empty.bitmap, ""), nullptr);
    Picture negative(2, 2);
    negative.bitmap.lWidth = -4;
    EXPECT_EQ(rm()->createTextureFromMBitmap(&negative.bitmap, ""), nullptr);
    EXPECT_EQ(rm()->createTextureFromMBitmap(nullptr, ""), nullptr);
    NullTexture::sFailUploads = true;
    EXPECT_EQ(rm()->createTextureFromMBitmap(&opaque.bitmap, ""), nullptr);
    EXPECT_EQ(rm()->createBlankTexture(4, 4, ""), nullptr);
    NullTexture::sFailUploads = false;
    EXPECT_EQ(rm()->textureCount(), count);  // failures leave nothing registered
}

TEST_F(TextureTest, PureTexturesRoundUpAndFill) {
    Texture* t = rm()->createPureTexture(300, 200, Color{1.0f, 0.5f, 0.0f, 1.0f});
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->getWidth(), 512u);
    EXPECT_EQ(t->getHeight(), 256u);
    EXPECT_FALSE(t->isTransparent());
    const auto& px = static_cast<NullTexture*>(t)->pixels();
    ASSERT_EQ(px.size(), 512u * 256u * 4u);
    EXPECT_EQ(px[0], 255);
    EXPECT_EQ(px[1], 127);
    EXPECT_EQ(px[px.size() - 1], 255);
    EXPECT_TRUE(rm()->createPureTexture(4, 4, Color{0, 0, 0, 0.5f})->isTransparent());
    EXPECT_EQ(rm()->createPureTexture(256, 1, Color{})->getWidth(), 256u);

    const unsigned char src[8] = {10, 20, 30, 40, 50, 60, 70, 80};
    unsigned char dst[2] = {0, 0};
    __bmp_32_to_8(src, dst, 1, 2);
    EXPECT_EQ(dst[0], 10);
    EXPECT_EQ(dst[1], 50);
}

TEST_F(TextureTest, FitSizes) {
    Size out;
    calculateFitSize(Size{300, 400}, Size{400, 300}, 1, &out);
    EXPECT_FLOAT_EQ(out.width, 225.0f);
    EXPECT_FLOAT_EQ(out.height, 300.0f);
    calculateFitSize(Size{300, 400}, Size{400, 300}, 2, &out);
    EXPECT_FLOAT_EQ(out.width, 400.0f);
    EXPECT_NEAR(out.height, 533.3333f, 1e-3f);
    calculateFitSize(Size{0, 400}, Size{400, 300}, 1, &out);
    EXPECT_EQ(out.width, 0.0f);
}

TEST_F(TextureTest, RotateAndFitPath) {
    Picture pic(400, 300);
    Texture* turned = rm()->createRotateTextureFromMBitmap(&pic.bitmap, 1, 0, Size{});
    ASSERT_NE(turned, nullptr);
    EXPECT_EQ(turned->getWidth(), 300u);
    EXPECT_EQ(turned->getHeight(), 400u);
    EXPECT_EQ(rm()->createRotateTextureFromMBitmap(&pic.bitmap, 4, 0, Size{}), nullptr);
    EXPECT_FALSE(engine()->isCurrent());  // the previous context is back

    size_t before = rm()->textureCount();
    Picture portrait(300, 400);
    engine()->clearDraws();
    Texture* fitted = rm()->createRotateTextureFromMBitmap(&portrait.bitmap, 0, 1, Size{400, 300});
    ASSERT_NE(fitted, nullptr);
    EXPECT_EQ(fitted->getWidth(), 400u);
    EXPECT_EQ(fitted->getHeight(), 300u);
    EXPECT_EQ(rm()->textureCount(), before + 1);  // the intermediate texture is gone
    // Fit inside: centred with bars, viewport (87, 0, 225, 300).
    const auto& vps = engine()->viewportsSet();
    ASSERT_FALSE(vps.empty());
    EXPECT_EQ(engine()->draws().size(), 1u);

    Texture* half = rm()->createRotateTextureFromMBitmap(&pic.bitmap, 2, 2, Size{200, 100});
    ASSERT_NE(half, nullptr);
    EXPECT_EQ(half->getWidth(), 200u);

    Point2D corners[4] = {{0, 0}, {400, 0}, {400, 300}, {0, 300}};
    Texture* crop = rm()->createCropTextureFromMBitmap(&pic.bitmap, corners, 64, 32);
    ASSERT_NE(crop, nullptr);
    EXPECT_EQ(crop->getWidth(), 64u);
}

TEST(ProjectiveMathTest, HomographyAndMatrices) {
    const Point2D unit[4] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    const Point2D quad[4] = {{0.1f, 0.2f}, {0.9f, 0.1f}, {0.8f, 0.7f}, {0.2f, 0.9f}};
    float m[9];
    ASSERT_TRUE(InitMatrixPoly4(unit, quad, m));
    EXPECT_EQ(m[8], 1.0f);
    for (int i = 0; i < 4; ++i) {
        float x = unit[i].x, y = unit[i].y;
        float w = m[6] * x + m[7] * y + m[8];
        EXPECT_NEAR((m[0] * x + m[1] * y + m[2]) / w, quad[i].x, 1e-5f);
        EXPECT_NEAR((m[3] * x + m[4] * y + m[5]) / w, quad[i].y, 1e-5f);
    }
    const Point2D line[4] = {{0, 0}, {1, 1}, {2, 2}, {3, 3}};
    EXPECT_FALSE(InitMatrixPoly4(line, line, m));  // degenerate corners: no mapping

    const double a[9] = {2, 0, 1, 1, 3, 2, 1, 1, 2};
    EXPECT_NEAR(comput_D(a, 3), 6.0, 1e-12);
    double inv[9], prod[9];
    ASSERT_TRUE(InvertMatrix(a, 3, inv));
    MatrixMultiply(a, 3, 3, inv, 3, prod);
    for (int i = 0; i < 9; ++i) EXPECT_NEAR(prod[i], i % 4 == 0 ? 1.0 : 0.0, 1e-12);
    const double singular[4] = {1, 2, 2, 4};
    EXPECT_FALSE(InvertMatrix(singular, 2, inv));
}
