// The picture of a launch is painted with the window's painter, and OpenGL is set up only when a
// paint needs it; calls waiting for the frame run after the paint. No OpenGL is needed here: the
// order and the painted pixels are checked on the offscreen platform.

#include "view_test_support.h"

#include "Model/LMPhotoLoader.h"
#include "View/LMOpenGLView.h"
#include "appkit/Window.h"
#include "../../support/QtTestApplication.h"

#include <QApplication>
#include <QImage>
#include <QWidget>

#include <functional>

using namespace viewtest;

namespace {

// Without an X server the offscreen platform makes no OpenGL context: the view's OpenGL set-up
// runs and fails as on a machine without OpenGL, and no driver is loaded.
[[maybe_unused]] testing::Environment *const g_env =
    testing::AddGlobalTestEnvironment(new QtTestApplication("kpv-view-first-picture", [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        qunsetenv("DISPLAY");
    }));

// Four quadrants of a w x h picture as stored, rows from the top: red top-left, green top-right,
// blue bottom-left, white bottom-right.
LMImagePtr quadrants(uint64_t w, uint64_t h, int64_t orientation)
{
    auto block = LMData::create(w * h * 4);
    const uint8_t colours[4][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};
    for (uint64_t y = 0; y < h; ++y)
        for (uint64_t x = 0; x < w; ++x) {
            const uint8_t *c = colours[(y >= h / 2 ? 2 : 0) + (x >= w / 2 ? 1 : 0)];
            uint8_t *p = block->mutableBytes() + (y * w + x) * 4;
            p[0] = c[0];
            p[1] = c[1];
            p[2] = c[2];
            p[3] = 255;
        }
    auto info = std::make_shared<LMFileImgBaseInfo>(LMPathString(QStringLiteral("/tmp/first-picture.jpg"), false),
                                                    QStringLiteral("public.jpeg"), 0, QDateTime(),
                                                    QSizeF(double(w), double(h)), orientation, QVariantMap());
    return std::make_shared<LMImage>(1u, 32u, w * 4, w, h, QList<LMDataBlock>{block}, info);
}

class FirstPicture : public ::testing::Test {
protected:
    void SetUp() override
    {
        kpv::RunLoop::main().setClock(&clock);
        window = std::make_unique<kpv::Window>(kpv::Rect(0, 0, 200, 100), kpv::TitledWindowMask);
        view = new LMOpenGLView(kpv::Rect(0, 0, 200, 100));
        view->setPaintsFirstPictureWithoutOpenGL(true);
        window->setContentView(view);
        window->orderFront();
        QApplication::processEvents();
    }
    void TearDown() override
    {
        window.reset();
        kpv::RunLoop::main().setClock(nullptr);
    }

    // One paint of the whole view, as the window would do it; y down.
    QImage paint() { return view->widget()->grab().toImage().convertToFormat(QImage::Format_RGB32); }
    static QRgb rgb(int r, int g, int b) { return qRgb(r, g, b); }

    kpv::ManualClock clock;
    std::unique_ptr<kpv::Window> window;
    LMOpenGLView *view = nullptr;
};

TEST_F(FirstPicture, IsPaintedWithoutOpenGLWhichWaitsUntilAPaintNeedsIt)
{
    EXPECT_FALSE(view->openGLStarted()); // the empty view's paints needed none
    view->setImage(quadrants(100, 50, 1), ImageModeNormal);
    EXPECT_EQ(view->tileUploadCount(), 0u); // no tiles before OpenGL
    EXPECT_EQ(view->openGLContext(), nullptr);

    const QImage shown = paint();
    EXPECT_FALSE(view->openGLStarted());
    EXPECT_EQ(view->openGLContext(), nullptr);
    // 100 x 50 fits at its own size in the middle of 200 x 100: x 50..150, y 25..75 from the top.
    EXPECT_EQ(shown.pixel(60, 30), rgb(255, 0, 0));
    EXPECT_EQ(shown.pixel(140, 30), rgb(0, 255, 0));
    EXPECT_EQ(shown.pixel(60, 70), rgb(0, 0, 255));
    EXPECT_EQ(shown.pixel(140, 70), rgb(255, 255, 255));
    EXPECT_EQ(shown.pixel(10, 50), rgb(0, 0, 0)); // around the picture: clear
    EXPECT_EQ(shown.pixel(100, 90), rgb(0, 0, 0));

    // The picture at rest needs no OpenGL, nor does setting it aside for a swipe.
    QApplication::processEvents();
    view->setImageNotDraw(true);
    EXPECT_EQ(paint().pixel(60, 30), rgb(0, 0, 0));
    view->setImageNotDraw(false);
    EXPECT_FALSE(view->openGLStarted());
    // Set up where no context can be made: the picture stays painted as before, not black.
    view->makeCurrentContext();
    EXPECT_TRUE(view->openGLStarted());
    EXPECT_EQ(paint().pixel(60, 30), rgb(255, 0, 0));
    EXPECT_EQ(view->openGLContext(), nullptr);
}

TEST_F(FirstPicture, FramesWaitedForRunAfterThePaint)
{
    view->setImage(quadrants(100, 50, 1), ImageModeNormal);
    int called = 0;
    view->performAfterNextFrame([&] { ++called; });
    paint();
    EXPECT_EQ(called, 0); // called after the paint, not inside it
    QApplication::processEvents();
    EXPECT_EQ(called, 1);
    EXPECT_FALSE(view->openGLStarted());
}

TEST_F(FirstPicture, AnEmptyViewWaitsForAPictureBeforeOpenGL)
{
    const QImage shown = paint();
    EXPECT_EQ(shown.pixel(100, 50), rgb(0, 0, 0));
    QApplication::processEvents();
    EXPECT_FALSE(view->openGLStarted());
}

// The file's orientation turns the picture as the OpenGL drawing turns it: stored rows turned
// clockwise by the angle, then mirrored left to right.
TEST_F(FirstPicture, IsTurnedByTheFilesOrientation)
{
    struct Case {
        int64_t orientation;
        QRgb topLeft, topRight, bottomLeft;
    };
    const QRgb red = rgb(255, 0, 0), green = rgb(0, 255, 0), blue = rgb(0, 0, 255), white = rgb(255, 255, 255);
    const Case cases[] = {
        {1, red, green, blue},  {2, green, red, white},  {3, white, blue, green},  {4, blue, white, red},
        {5, red, blue, green},  {6, blue, red, white},   {7, white, green, blue},  {8, green, white, red},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "orientation " << c.orientation);
        view->setImage(quadrants(80, 40, c.orientation), ImageModeNormal);
        const QRectF v = view->imageVisibleViewRect();
        const QImage shown = paint();
        // Points a quarter in from each corner of the picture (widget pixels, y down).
        const int left = int(v.left() + v.width() / 4), right = int(v.right() - v.width() / 4);
        const int top = int(100 - v.bottom() + v.height() / 4), bottom = int(100 - v.top() - v.height() / 4);
        EXPECT_EQ(shown.pixel(left, top), c.topLeft);
        EXPECT_EQ(shown.pixel(right, top), c.topRight);
        EXPECT_EQ(shown.pixel(left, bottom), c.bottomLeft);
        EXPECT_FALSE(view->openGLStarted());
    }
}

// A GIF is painted as a photo's first picture is, and its later frames too, turned as well: no
// frame of it sets OpenGL up.
void expectAnimationPlaysWithoutOpenGL(LMOpenGLView *view, kpv::ManualClock &clock,
                                       const std::function<QImage()> &paint, uint64_t w, uint64_t h)
{
    const LMImagePtr first = quadrants(w, h, 1);
    auto later = LMData::create(w * h * 4);
    for (uint64_t i = 0; i < w * h; ++i) {
        uint8_t *p = later->mutableBytes() + i * 4;
        p[0] = 0, p[1] = 0, p[2] = 0, p[3] = 255;
    }
    auto info = std::make_shared<LMFileImgBaseInfo>(LMPathString(QStringLiteral("/tmp/first-picture.gif"), false),
                                                    QStringLiteral("com.compuserve.gif"), LMPhotoLoader::kAMCMImageTypeGIF,
                                                    QDateTime(), QSizeF(double(w), double(h)), 1, QVariantMap());
    view->setImage(std::make_shared<LMImage>(1u, 32u, w * 4, w, h,
                                             QList<LMDataBlock>{first->frameDatas().front(), later}, info),
                   ImageModeNormal);
    QImage shown = paint();
    EXPECT_EQ(shown.pixel(60, 30), qRgb(255, 0, 0));
    EXPECT_EQ(shown.pixel(140, 70), qRgb(255, 255, 255));
    QApplication::processEvents();
    EXPECT_FALSE(view->openGLStarted());
    clock.advance(info->delayTime());
    QApplication::processEvents();
    shown = paint();
    EXPECT_EQ(shown.pixel(60, 30), qRgb(0, 0, 0)); // the second frame
    EXPECT_EQ(shown.pixel(140, 70), qRgb(0, 0, 0));
    EXPECT_FALSE(view->openGLStarted());
    ASSERT_TRUE(view->setAngleRotate(LMImageRotateAngle(90, 0, 0)));
    EXPECT_EQ(paint().pixel(100, 50), qRgb(0, 0, 0));
    EXPECT_FALSE(view->openGLStarted());
}

TEST_F(FirstPicture, AnAnimationAtActualSizePlaysWithoutOpenGL)
{
    expectAnimationPlaysWithoutOpenGL(view, clock, [this] { return paint(); }, 100, 50);
}

// Fitted to a smaller view, each frame is resampled once into the view.
TEST_F(FirstPicture, AFittedAnimationPlaysWithoutOpenGL)
{
    expectAnimationPlaysWithoutOpenGL(view, clock, [this] { return paint(); }, 400, 200);
}

TEST_F(FirstPicture, AnyUseOfOpenGLSetsItUp)
{
    view->setImage(quadrants(100, 50, 1), ImageModeNormal);
    view->makeCurrentContext();
    EXPECT_TRUE(view->openGLStarted());
    view->clearCurrentContext();
}

TEST_F(FirstPicture, AViewNotAskedDrawsWithOpenGLFromItsFirstPaint)
{
    auto other = std::make_unique<kpv::Window>(kpv::Rect(0, 0, 200, 100), kpv::TitledWindowMask);
    auto *plain = new LMOpenGLView(kpv::Rect(0, 0, 200, 100));
    other->setContentView(plain);
    plain->setImage(quadrants(100, 50, 1), ImageModeNormal);
    plain->widget()->grab();
    EXPECT_TRUE(plain->openGLStarted());
}

} // namespace
