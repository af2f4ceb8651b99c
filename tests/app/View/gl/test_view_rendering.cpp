// The image view drawn by OpenGL into its frame buffer and read back: placement of a fitted
// image, a quarter turn, a flip, a zoomed-in offset and the drop shadow. Software and hardware
// renderers may differ in the last bits, so colours are compared with a tolerance.

#include "View/LMOpenGLView.h"

#include "Model/LMData.h"
#include "appkit/Window.h"
#include "../../../support/QtTestApplication.h"

#include <QApplication>
#include <QWidget>

#include <algorithm>
#include <array>
#include <cstring>
#include <set>
#include <vector>
#include <gtest/gtest.h>

namespace {

[[maybe_unused]] testing::Environment *const g_env = testing::AddGlobalTestEnvironment(
    new QtTestApplication("kpv-view-gl", &kpv::OpenGLView::configureSharedContext));

// Four quadrants of a w x h image, rows from the top: red top-left, green top-right, blue
// bottom-left, white bottom-right.
LMImagePtr quadrantImage(uint64_t w, uint64_t h, uint8_t alpha = 255, int64_t orientation = 1)
{
    auto block = LMData::create(w * h * 4);
    for (uint64_t y = 0; y < h; ++y)
        for (uint64_t x = 0; x < w; ++x) {
            uint8_t *p = block->mutableBytes() + (y * w + x) * 4;
            const bool right = x >= w / 2, bottom = y >= h / 2;
            const uint8_t c[4][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};
            const int q = (bottom ? 2 : 0) + (right ? 1 : 0);
            p[0] = c[q][0];
            p[1] = c[q][1];
            p[2] = c[q][2];
            p[3] = alpha;
        }
    LMFileImgBaseInfoPtr info =
        orientation == 1 ? LMFileImgBaseInfo::createMemoryFileImgBaseInfoWithRawFrameSize(QSizeF(double(w), double(h)), {})
                         : std::make_shared<const LMFileImgBaseInfo>(LMPathString(QStringLiteral("/tmp/q.jpg"), false),
                                                                     QStringLiteral("public.jpeg"), 0, QDateTime(),
                                                                     QSizeF(double(w), double(h)), orientation, QVariantMap());
    return std::make_shared<LMImage>(1u, 32u, w * 4, w, h, QList<LMDataBlock>{block}, info);
}

class Rendering : public ::testing::Test {
protected:
    void SetUp() override
    {
        window = std::make_unique<kpv::Window>(kpv::Rect(0, 0, 200, 100), kpv::TitledWindowMask);
        view = new LMOpenGLView(kpv::Rect(0, 0, 200, 100));
        window->setContentView(view);
        window->orderFront();
        QApplication::processEvents();
    }
    void TearDown() override { window.reset(); }

    // The frame buffer, y down as in any image.
    QImage frame()
    {
        QImage img = view->grabFramebuffer().convertToFormat(QImage::Format_RGBA8888);
        return img;
    }
    // Colour at a view point (bottom-left origin).
    QColor at(const QImage &img, int x, int y) { return img.pixelColor(x, img.height() - 1 - y); }
    static bool near(QColor c, int r, int g, int b, int tol = 8)
    {
        return std::abs(c.red() - r) <= tol && std::abs(c.green() - g) <= tol && std::abs(c.blue() - b) <= tol;
    }

    std::unique_ptr<kpv::Window> window;
    LMOpenGLView *view = nullptr;
};

#define EXPECT_COLOR(img, x, y, r, g, b)                                                                         \
    do {                                                                                                         \
        const QColor c_ = at(img, x, y);                                                                         \
        EXPECT_TRUE(near(c_, r, g, b)) << "at (" << x << ", " << y << "): " << c_.red() << " " << c_.green() << " " \
                                       << c_.blue() << " " << c_.alpha();                                        \
    } while (0)

TEST_F(Rendering, FittedImageIsCentredWithRowsFromTheTop)
{
    view->setImage(quadrantImage(100, 50), ImageModeNormal);
    const QImage img = frame();
    ASSERT_EQ(img.size(), QSize(200, 100));
    // 100 x 50 fits at actual size in the middle: x 50..150, y 25..75.
    EXPECT_COLOR(img, 60, 70, 255, 0, 0);    // top-left red
    EXPECT_COLOR(img, 140, 70, 0, 255, 0);   // top-right green
    EXPECT_COLOR(img, 60, 30, 0, 0, 255);    // bottom-left blue
    EXPECT_COLOR(img, 140, 30, 255, 255, 255);
    EXPECT_COLOR(img, 10, 50, 0, 0, 0);     // outside: cleared
    EXPECT_COLOR(img, 100, 90, 0, 0, 0);
}

// The next file's tiles go into the textures the last file gave up, and show the new picture.
TEST_F(Rendering, TheNextFilesTilesRefillTheLastFilesTextures)
{
    view->setImage(quadrantImage(100, 50), ImageModeNormal);
    frame();
    std::set<uint32_t> given;
    for (const LMOpenGLTexturePtr &t : view->texturesNormal())
        given.insert(t->texID());
    ASSERT_FALSE(given.empty());
    view->didChangeFile();
    view->setImage(quadrantImage(60, 40), ImageModeNormal);
    const QImage img = frame();
    ASSERT_FALSE(view->texturesNormal().empty());
    for (const LMOpenGLTexturePtr &t : view->texturesNormal())
        EXPECT_TRUE(given.count(t->texID())) << t->texID();
    // 60 x 40 in the middle: x 70..130, y 30..70; what the larger picture covered is cleared.
    EXPECT_COLOR(img, 75, 65, 255, 0, 0);
    EXPECT_COLOR(img, 125, 65, 0, 255, 0);
    EXPECT_COLOR(img, 75, 35, 0, 0, 255);
    EXPECT_COLOR(img, 125, 35, 255, 255, 255);
    EXPECT_COLOR(img, 60, 70, 0, 0, 0);
    EXPECT_COLOR(img, 140, 30, 0, 0, 0);
}

TEST_F(Rendering, QuarterTurnAndFlip)
{
    view->setImage(quadrantImage(100, 50), ImageModeNormal);
    ASSERT_TRUE(view->setAngleRotate(LMImageRotateAngle(90, 0, 0)));
    QImage img = frame();
    // Turned clockwise: 50 wide, 100 tall (fit-in shrinks it to 0.5 x 100 -> 25 x 50 per half...)
    // the former top-left (red) is now top-right, bottom-left (blue) top-left.
    const QRectF v = view->imageVisibleViewRect();
    const int cx = int(v.center().x()), cy = int(v.center().y());
    const int dx = int(v.width() / 4), dy = int(v.height() / 4);
    EXPECT_COLOR(img, cx + dx, cy + dy, 255, 0, 0);
    EXPECT_COLOR(img, cx - dx, cy + dy, 0, 0, 255);
    EXPECT_COLOR(img, cx + dx, cy - dy, 0, 255, 0);

    ASSERT_TRUE(view->setAngleRotate(LMImageRotateAngle(0, 180, 0)));
    img = frame();
    EXPECT_COLOR(img, 60, 70, 0, 255, 0); // mirrored left to right
    EXPECT_COLOR(img, 140, 70, 255, 0, 0);
}

// EXIF orientation 2 shows the picture mirrored left to right; 4 mirrored top to bottom (it was
// drawn as the unmirrored picture and as its half turn).
TEST_F(Rendering, MirroredOrientationsAreShownMirrored)
{
    view->setImage(quadrantImage(100, 50, 255, 2), ImageModeNormal);
    QImage img = frame();
    EXPECT_COLOR(img, 60, 70, 0, 255, 0);  // top-left shows the stored top-right (green)
    EXPECT_COLOR(img, 140, 70, 255, 0, 0); // top-right the stored top-left (red)
    EXPECT_COLOR(img, 60, 30, 255, 255, 255);
    view->setImage(quadrantImage(100, 50, 255, 4), ImageModeNormal);
    img = frame();
    EXPECT_COLOR(img, 60, 70, 0, 0, 255);  // top-left shows the stored bottom-left (blue)
    EXPECT_COLOR(img, 140, 30, 0, 255, 0); // bottom-right the stored top-right (green)
}

TEST_F(Rendering, ZoomedInOffsetShowsTheRightPart)
{
    view->setImage(quadrantImage(100, 50), ImageModeNormal);
    view->setScale(4.0); // 400 x 200 about the centre
    view->moveImageByDeltaPoint(QPointF(1000, -1000)); // left edge to the left, top edge to the top
    const QImage img = frame();
    EXPECT_COLOR(img, 5, 95, 255, 0, 0);  // the view's top-left shows the image's top-left
    EXPECT_COLOR(img, 195, 5, 255, 0, 0); // 200 x 100 of 400 x 200: still the red quadrant
    view->moveImageByDeltaPoint(QPointF(-1000, 1000));
    const QImage img2 = frame();
    EXPECT_COLOR(img2, 195, 5, 255, 255, 255);
}

TEST_F(Rendering, DropShadowAroundTheImage)
{
    // A 30 x 30 grey shadow picture with 10-pixel slices that reaches 10 points beyond each edge.
    auto shadow = quadrantImage(30, 30);
    {
        auto block = LMData::create(30 * 30 * 4);
        for (int i = 0; i < 900; ++i) {
            uint8_t *p = block->mutableBytes() + i * 4;
            p[0] = p[1] = p[2] = 128;
            p[3] = 255;
        }
        shadow = std::make_shared<LMImage>(1u, 32u, 120u, 30u, 30u, QList<LMDataBlock>{block},
                                           shadow->originalImgBaseInfo());
    }
    view->setShadowImage(shadow, QPointF(10, 10), QPointF(10, 10), QPointF(10, 10), QPointF(10, 10));
    view->setImage(quadrantImage(100, 50), ImageModeNormal);
    QImage img = frame();
    EXPECT_COLOR(img, 45, 50, 128, 128, 128); // left of the image, inside the shadow
    EXPECT_COLOR(img, 100, 20, 128, 128, 128); // below
    EXPECT_COLOR(img, 30, 50, 0, 0, 0);       // beyond the shadow
    EXPECT_COLOR(img, 60, 70, 255, 0, 0);     // the image over it

    view->enableShadow(false);
    img = frame();
    EXPECT_COLOR(img, 45, 50, 0, 0, 0);
    view->setImageNotDraw(true);
    img = frame();
    EXPECT_COLOR(img, 60, 70, 0, 0, 0);
}

// A half-transparent shadow darkens whatever background the view has, also after the
// background changes.
TEST_F(Rendering, DropShadowFallsOnTheBackgroundColour)
{
    auto block = LMData::create(30 * 30 * 4);
    for (int i = 0; i < 900; ++i) {
        uint8_t *p = block->mutableBytes() + i * 4;
        p[0] = p[1] = p[2] = 64; // premultiplied
        p[3] = 128;
    }
    const auto shadow = std::make_shared<LMImage>(1u, 32u, 120u, 30u, 30u, QList<LMDataBlock>{block},
                                                  quadrantImage(30, 30)->originalImgBaseInfo());
    view->setShadowImage(shadow, QPointF(10, 10), QPointF(10, 10), QPointF(10, 10), QPointF(10, 10));
    view->setImage(quadrantImage(100, 50), ImageModeNormal);
    view->setBackgroundColor(QColor(200, 0, 0));
    QImage img = frame();
    EXPECT_COLOR(img, 45, 50, 164, 64, 64); // 64 + 200 x 127 / 255 where the background is red
    EXPECT_COLOR(img, 20, 50, 200, 0, 0);   // beyond the shadow
    EXPECT_COLOR(img, 60, 70, 255, 0, 0);   // the image over it

    view->setBackgroundColor(QColor(0, 0, 200));
    img = frame();
    EXPECT_COLOR(img, 45, 50, 64, 64, 164);
    EXPECT_COLOR(img, 100, 20, 64, 64, 164);
    EXPECT_COLOR(img, 20, 50, 0, 0, 200);
}

// A picture's transparent pixels show the view's background, drawn or painted, instead of black:
// a dark logo on a transparent ground was one black block.
TEST_F(Rendering, TransparentPixelsShowTheBackground)
{
    // Left half transparent, right half red at half strength (premultiplied).
    auto block = LMData::create(100 * 50 * 4);
    for (int i = 0; i < 100 * 50; ++i)
        std::memcpy(block->mutableBytes() + i * 4, i % 100 < 50 ? "\x00\x00\x00\x00" : "\x80\x00\x00\x80", 4);
    const auto picture = std::make_shared<LMImage>(1u, 32u, 400u, 100u, 50u, QList<LMDataBlock>{block},
                                                   quadrantImage(100, 50)->originalImgBaseInfo());
    view->setImage(picture, ImageModeNormal);
    view->setBackgroundColor(QColor(90, 100, 110));
    const auto expectBackgroundThrough = [&](const std::vector<QImage> &drawn) {
        for (const QImage &img : drawn) {
            ASSERT_FALSE(img.isNull());
            EXPECT_COLOR(img, 60, 50, 90, 100, 110);
            EXPECT_COLOR(img, 140, 50, 173, 50, 55); // 128 + 90 x 127 / 255, ...
            EXPECT_COLOR(img, 10, 50, 90, 100, 110);
        }
    };
    expectBackgroundThrough({view->paintedWithoutOpenGL().convertToFormat(QImage::Format_RGBA8888), frame()});
    // The mark of a file that cannot be shown (drawn by OpenGL alone) stood in a black square.
    view->setImage(nullptr, ImageModeNormal);
    view->setImage(picture, ImageModeBadFile);
    expectBackgroundThrough({frame()});
}

TEST_F(Rendering, UnsupportedPixelSizeDrawsNothingAndKeepsRunning)
{
    auto base = quadrantImage(8, 8);
    auto odd = std::make_shared<LMImage>(1u, 48u, 48u, 8u, 8u, base->frameDatas(), base->originalImgBaseInfo());
    view->setImage(odd, ImageModeNormal);
    EXPECT_EQ(view->normalTileCount(), 0u);
    const QImage img = frame();
    EXPECT_COLOR(img, 100, 50, 0, 0, 0);
}

TEST_F(Rendering, LargeImagesAreTiled)
{
    view->setFrame(kpv::Rect(0, 0, 200, 100));
    view->setImage(quadrantImage(1100, 550), ImageModeNormal);
    view->setScale(1.0);
    // Only the tiles under the view are drawn: the centre of 1100 x 550 at 1:1 meets 2 of 6.
    EXPECT_EQ(view->texturesNormal().size(), 2u);
    EXPECT_LE(view->normalTileCount(), 6u);
    const QImage img = frame();
    EXPECT_COLOR(img, 50, 75, 255, 0, 0);
    EXPECT_COLOR(img, 150, 25, 255, 255, 255);
}

TEST_F(Rendering, OnePictureAsFitInAndShownIsUploadedOnce)
{
    const LMImagePtr picture = quadrantImage(1100, 550);
    view->setImage(picture, ImageModeFitin);
    view->setImage(picture, ImageModeNormal);
    const QRectF whole(0, 0, 1100, 550);
    view->makeCurrentContext();
    const auto fitinTiles = view->prepareTexturesForImage(ImageModeFitin, whole, true);
    const auto normalTiles = view->prepareTexturesForImage(ImageModeNormal, whole, true);
    ASSERT_EQ(fitinTiles.size(), 6u);
    EXPECT_EQ(normalTiles, fitinTiles);
    // Another picture shown: its own tiles, the fit-in keeps its own.
    view->setImage(quadrantImage(1100, 550), ImageModeNormal);
    const auto otherTiles = view->prepareTexturesForImage(ImageModeNormal, whole, true);
    ASSERT_EQ(otherTiles.size(), 6u);
    for (size_t i = 0; i < otherTiles.size(); ++i)
        EXPECT_NE(otherTiles[i], fitinTiles[i]);
    EXPECT_EQ(view->prepareTexturesForImage(ImageModeFitin, whole, true), fitinTiles);
    // Both drawn from the shared tiles: the picture shows as before.
    view->setImage(picture, ImageModeNormal);
    view->setScale(1.0);
    const QImage img = frame();
    EXPECT_COLOR(img, 50, 75, 255, 0, 0);
    EXPECT_COLOR(img, 150, 25, 255, 255, 255);
}

// The picture painted without OpenGL, with its shadow over the window's background, is what
// OpenGL draws of it, for every orientation of the file, upright and turned by the user (a
// quarter, or part of a turn as in its animation): only the filtering may differ a little, at the
// quadrants' edges.
TEST_F(Rendering, PictureShownWithoutOpenGLIsWhatOpenGLDraws)
{
    auto block = LMData::create(30 * 30 * 4);
    for (int i = 0; i < 900; ++i) {
        uint8_t *p = block->mutableBytes() + i * 4;
        const int a = 40 + (i % 30) * 6; // stronger to the right, premultiplied
        p[0] = p[1] = p[2] = uint8_t(a / 3);
        p[3] = uint8_t(a);
    }
    const auto shadow = std::make_shared<LMImage>(1u, 32u, 120u, 30u, 30u, QList<LMDataBlock>{block},
                                                  quadrantImage(30, 30)->originalImgBaseInfo());
    for (int run = 0; run < 8 * 3; ++run) {
        const int64_t orientation = 1 + run / 3;
        const double turn = std::array<double, 3>{0, 90, 30}[size_t(run % 3)];
        SCOPED_TRACE(testing::Message() << "orientation " << orientation << ", turned " << turn);
        kpv::Window own(kpv::Rect(0, 0, 200, 100), kpv::TitledWindowMask);
        auto *first = new LMOpenGLView(kpv::Rect(0, 0, 200, 100));
        first->setPaintsFirstPictureWithoutOpenGL(true);
        own.setContentView(first);
        own.orderFront();
        first->setShadowImage(shadow, QPointF(10, 10), QPointF(10, 10), QPointF(6, 6), QPointF(9, 9));
        first->setBackgroundColor(QColor(120, 60, 30));
        first->setImage(quadrantImage(120, 40, 255, orientation), ImageModeNormal);
        if (turn != 0)
            ASSERT_TRUE(first->setAngleRotate(LMImageRotateAngle(turn, 0, 0)));
        const QImage painted = first->widget()->grab().toImage().convertToFormat(QImage::Format_RGB32);
        QApplication::processEvents();
        ASSERT_FALSE(first->openGLStarted());
        const QImage drawn = first->grabFramebuffer().convertToFormat(QImage::Format_RGB32);
        ASSERT_TRUE(first->openGLStarted());
        ASSERT_EQ(painted.size(), drawn.size());
        double sum = 0;
        int far = 0;
        for (int y = 0; y < drawn.height(); ++y)
            for (int x = 0; x < drawn.width(); ++x) {
                const QRgb a = painted.pixel(x, y), b = drawn.pixel(x, y);
                const int d = std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                                        std::abs(qBlue(a) - qBlue(b))});
                sum += d;
                far += d > 32 ? 1 : 0;
            }
        const int pixels = drawn.width() * drawn.height();
        EXPECT_LT(sum / pixels, 1.0);
        EXPECT_LT(far, pixels / 100) << "pixels far apart";
        // And it is the picture with its shadow: the image's stored top-left quadrant (red)
        // somewhere on screen, and the shadow darker than the background beside it.
        EXPECT_GT(std::count_if(reinterpret_cast<const QRgb *>(drawn.constBits()),
                                reinterpret_cast<const QRgb *>(drawn.constBits()) + pixels,
                                [](QRgb c) { return c == qRgb(255, 0, 0); }),
                  pixels / 50);
        const QRectF v = first->imageVisibleViewRect();
        if (turn == 0)
            EXPECT_LT(qRed(painted.pixel(int(v.left()) - 3, 100 - int(v.center().y()))), 116);
        EXPECT_EQ(painted.pixel(2, 2), qRgb(120, 60, 30));
    }
}

} // namespace

// A step to a file whose picture is still on its way keeps the last picture on the window, painted
// or drawn, until the next picture is given; then that one is shown, and the last one is gone.
TEST_F(Rendering, ThePictureShownStaysOnTheWindowUntilTheNextFileHasOne)
{
    for (const bool painted : {true, false}) {
        SCOPED_TRACE(painted ? "painted" : "drawn");
        kpv::Window own(kpv::Rect(0, 0, 200, 100), kpv::TitledWindowMask);
        auto *shown = new LMOpenGLView(kpv::Rect(0, 0, 200, 100));
        shown->setPaintsFirstPictureWithoutOpenGL(painted);
        own.setContentView(shown);
        own.orderFront();
        QApplication::processEvents();
        const auto onWindow = [shown] { return shown->widget()->grab().toImage().convertToFormat(QImage::Format_RGBA8888); };
        shown->setImage(quadrantImage(100, 50), ImageModeNormal);
        QImage img = onWindow();
        EXPECT_COLOR(img, 60, 70, 255, 0, 0);
        shown->didChangeFileHoldingPicture(false);
        ASSERT_TRUE(shown->holdsPicture());
        ASSERT_FALSE(shown->imageNormal());
        img = onWindow();
        EXPECT_COLOR(img, 60, 70, 255, 0, 0);
        EXPECT_COLOR(img, 140, 30, 255, 255, 255);
        // The next picture, 60 x 40 in the middle: what the last one covered around it is cleared.
        shown->setImage(quadrantImage(60, 40), ImageModeNormal);
        EXPECT_FALSE(shown->holdsPicture());
        img = onWindow();
        EXPECT_COLOR(img, 75, 65, 255, 0, 0);
        EXPECT_COLOR(img, 60, 70, 0, 0, 0);
        EXPECT_EQ(shown->openGLStarted(), !painted);
    }
}
