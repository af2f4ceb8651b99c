// An animated image in a shown image view on the manual clock: frames arrive at their delay and
// not before. Shown at actual size, a new frame goes straight into the kept pixels, with no drawing
// and no upload, and the tiles take it only when the view next draws; zoomed, each new frame
// refills the tiles that are there (one upload per tile, the same textures) and only the picture's
// part of the view is drawn again. Either way the window shows the whole right frame, and views
// over the image view repaint from the kept pixels without a new drawing.

#include "View/LMOpenGLView.h"

#include "View/LMShareGLContext.h"
#include "appkit/Window.h"
#include "../view_test_support.h"
#include "../../../support/QtTestApplication.h"
#include "../../../support/DesktopStandIns.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QImage>
#include <QWidget>
#include <QWindow>
#include <epoxy/gl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

[[maybe_unused]] testing::Environment *const g_env = testing::AddGlobalTestEnvironment(
    new QtTestApplication("kpv-view-animation-gl", &kpv::OpenGLView::configureSharedContext));

// Remembers which parts of the view were marked for drawing.
class RecordingView : public LMOpenGLView {
public:
    using LMOpenGLView::LMOpenGLView;
    std::vector<QRect> marked; // empty rect: the whole view

protected:
    void contentWillRedraw(const QRect *widgetRect) override
    {
        marked.push_back(widgetRect ? *widgetRect : QRect());
        LMOpenGLView::contentWillRedraw(widgetRect);
    }
};

constexpr int kViewW = 300, kViewH = 200;
constexpr int kImageW = 100, kImageH = 50;
constexpr double kDelay = 0.125; // exact in binary, so that the halves add up to it

class Animation : public ::testing::Test {
protected:
    void SetUp() override
    {
        kpv::RunLoop::main().setClock(&clock);
        window = std::make_unique<kpv::Window>(kpv::Rect(0, 0, kViewW, kViewH), kpv::TitledWindowMask);
        view = new RecordingView(kpv::Rect(0, 0, kViewW, kViewH));
        window->setContentView(view);
        window->orderFront();
        QApplication::processEvents();
    }
    void TearDown() override
    {
        window.reset();
        kpv::RunLoop::main().setClock(nullptr);
    }

    // What the window shows of the view: painted through the widget, as the window paints it.
    QImage shown()
    {
        QApplication::processEvents();
        return view->widget()->grab().toImage().convertToFormat(QImage::Format_RGBA8888);
    }

    // The whole view as it must look with frame `f` of viewtest::makeImage: black, and the
    // 100 x 50 picture at actual size in the middle, whose pixel (x, y) is (x, y, f).
    static QImage expectedFrame(int f)
    {
        QImage img(kViewW, kViewH, QImage::Format_RGBA8888);
        img.fill(QColor(0, 0, 0, 0));
        const int left = (kViewW - kImageW) / 2, top = (kViewH - kImageH) / 2;
        for (int y = 0; y < kImageH; ++y)
            for (int x = 0; x < kImageW; ++x)
                img.setPixelColor(left + x, top + y, QColor(x, y, f, 255));
        return img;
    }

    // The zoomed picture shows frame `f`: its blue inside the picture, and inside the picture's
    // outer two pixels (where the filter meets the edge) exactly what a drawing of the whole view
    // makes, so a part drawn again joins the rest.
    void expectZoomedFrame(int f)
    {
        const QImage img = shown().convertToFormat(QImage::Format_RGB888);
        for (const QPoint p : {QPoint(60, 60), QPoint(150, 100), QPoint(240, 140)})
            EXPECT_EQ(img.pixelColor(p).blue(), f) << p.x() << ", " << p.y();
        EXPECT_EQ(img.pixelColor(150, 100).red(), 50);
        EXPECT_EQ(img.pixelColor(20, 20), QColor(0, 0, 0));
        const QImage whole = view->grabFramebuffer().convertToFormat(QImage::Format_RGB888);
        const QRect inner(52, 52, 2 * kImageW - 4, 2 * kImageH - 4);
        EXPECT_TRUE(whole.copy(inner) == img.copy(inner));
    }

    // Shows the picture at twice its size, where frames are drawn.
    void zoomIn()
    {
        view->adjustDispImageByNewScale(2.0, true, LMImageRotateAngle(), std::nullopt, false);
        ASSERT_DOUBLE_EQ(view->scale(), 2.0);
    }

    // Every colour channel of the whole frame within `tolerance`, and no bias on average.
    static void expectSameFrame(const QImage &actual, const QImage &expected, int tolerance = 2)
    {
        ASSERT_EQ(actual.size(), expected.size());
        int worst = 0;
        double sum = 0;
        QPoint at;
        for (int y = 0; y < actual.height(); ++y)
            for (int x = 0; x < actual.width(); ++x) {
                const QColor a = actual.pixelColor(x, y), e = expected.pixelColor(x, y);
                for (int d : {a.red() - e.red(), a.green() - e.green(), a.blue() - e.blue()}) {
                    sum += d;
                    if (std::abs(d) > worst) {
                        worst = std::abs(d);
                        at = QPoint(x, y);
                    }
                }
            }
        EXPECT_LE(worst, tolerance) << "at (" << at.x() << ", " << at.y() << ")";
        EXPECT_LT(std::abs(sum / (3.0 * actual.width() * actual.height())), 0.05);
    }

    // The tile objects and their texture names: a refill keeps both.
    std::vector<std::pair<const LMOpenGLTexture *, uint32_t>> textureNames() const
    {
        std::vector<std::pair<const LMOpenGLTexture *, uint32_t>> names;
        for (const LMOpenGLTexturePtr &t : view->texturesNormal())
            names.emplace_back(t.get(), t->texID());
        return names;
    }

    kpv::ManualClock clock;
    std::unique_ptr<kpv::Window> window;
    RecordingView *view = nullptr;
};

TEST_F(Animation, FramesAtActualSizeComeAtTheirDelayWithoutDrawing)
{
    view->setImage(viewtest::makeImage(kImageW, kImageH, 0, 0, 1, 3, kDelay), ImageModeNormal);
    ASSERT_NO_FATAL_FAILURE(expectSameFrame(shown(), expectedFrame(0), 0));
    const auto names = textureNames();
    ASSERT_EQ(names.size(), 1u);
    ASSERT_NE(names[0].second, 0u);
    const uint64_t uploads = view->tileUploadCount();
    const uint64_t draws = view->drawCount();

    // Nothing is due before the delay: the same picture.
    clock.advance(kDelay / 2);
    EXPECT_EQ(view->curFrameIdx(), 0);
    ASSERT_NO_FATAL_FAILURE(expectSameFrame(shown(), expectedFrame(0), 0));

    // Each due frame is shown exactly, with neither an upload nor a drawing.
    for (int step = 1; step <= 4; ++step) {
        clock.advance(kDelay / 2 + (step == 1 ? 0 : kDelay / 2));
        const int frame = step % 3;
        ASSERT_EQ(view->curFrameIdx(), frame);
        ASSERT_NO_FATAL_FAILURE(expectSameFrame(shown(), expectedFrame(frame), 0));
    }
    EXPECT_EQ(view->tileUploadCount(), uploads);
    EXPECT_EQ(view->drawCount(), draws);

    // The next drawing (here of the whole view) fills the tiles with the frame shown, once, in
    // the same textures, and draws exactly the pixels that the window shows.
    const QImage kept = shown().convertToFormat(QImage::Format_RGB888);
    const QImage drawn = view->grabFramebuffer().convertToFormat(QImage::Format_RGB888);
    EXPECT_EQ(view->tileUploadCount(), uploads + 1);
    EXPECT_EQ(textureNames(), names);
    EXPECT_TRUE(drawn == kept) << "the frame drawn differs from the frame shown without drawing";
    view->grabFramebuffer();
    EXPECT_EQ(view->tileUploadCount(), uploads + 1);
}

TEST_F(Animation, ZoomedFramesComeAtTheirDelayIntoTheSameTextures)
{
    view->setImage(viewtest::makeImage(kImageW, kImageH, 0, 0, 1, 3, kDelay), ImageModeNormal);
    ASSERT_NO_FATAL_FAILURE(zoomIn());
    expectZoomedFrame(0);
    const auto names = textureNames();
    ASSERT_EQ(names.size(), 1u);
    ASSERT_NE(names[0].second, 0u);
    uint64_t uploads = view->tileUploadCount();
    uint64_t draws = view->drawCount();

    // Nothing is due before the delay: no upload, no drawing.
    clock.advance(kDelay / 2);
    EXPECT_EQ(view->curFrameIdx(), 0);
    shown();
    EXPECT_EQ(view->tileUploadCount(), uploads);
    EXPECT_EQ(view->drawCount(), draws);

    // Each due frame: one upload per tile into the texture that is there, one drawing.
    for (int step = 1; step <= 4; ++step) {
        clock.advance(kDelay / 2 + (step == 1 ? 0 : kDelay / 2));
        const int frame = step % 3;
        ASSERT_EQ(view->curFrameIdx(), frame);
        EXPECT_EQ(view->tileUploadCount(), uploads + 1) << "frame " << frame;
        EXPECT_EQ(textureNames(), names);
        shown();
        EXPECT_EQ(view->drawCount(), draws + 1) << "frame " << frame;
        expectZoomedFrame(frame);
        uploads = view->tileUploadCount();
        draws = view->drawCount();
    }
}

// A frame goes into the kept pixels only where they are up to date: a part of the view waiting to
// be drawn takes the frame through the drawing, and pictures that are not shown pixel for pixel
// (turned, or larger than the view) are drawn.
TEST_F(Animation, FramesAreDrawnWhereKeptPixelsCannotServe)
{
    view->setImage(viewtest::makeImage(kImageW, kImageH, 0, 0, 1, 2, kDelay), ImageModeNormal);
    shown();
    uint64_t draws = view->drawCount();
    view->setNeedsDisplayInRect(kpv::Rect(140, 90, 20, 20)); // inside the picture, not yet drawn
    clock.advance(kDelay);
    ASSERT_EQ(view->curFrameIdx(), 1);
    ASSERT_NO_FATAL_FAILURE(expectSameFrame(shown(), expectedFrame(1), 0));
    EXPECT_EQ(view->drawCount(), draws + 1);

    // A quarter turn: each frame is drawn.
    view->setAngleRotate(LMImageRotateAngle(90, 0, 0));
    shown();
    draws = view->drawCount();
    clock.advance(kDelay);
    ASSERT_EQ(view->curFrameIdx(), 0);
    shown();
    EXPECT_EQ(view->drawCount(), draws + 1);
}

// Pixels put into the kept pixels show at once where they were put, in either byte order, without
// a drawing; what does not fit exactly (a part of a pixel, another size, outside the view, a part
// still to be drawn) is refused and changes nothing.
TEST_F(Animation, KeptPixelsTakeOnlyWhatFitsExactly)
{
    view->setImage(viewtest::makeImage(kImageW, kImageH, 0, 0, 1, 2, kDelay), ImageModeNormal);
    const QImage before = shown();
    const uint64_t draws = view->drawCount();
    QImage argb(10, 10, QImage::Format_ARGB32_Premultiplied);
    argb.fill(QColor(200, 30, 10));
    QImage rgba(10, 10, QImage::Format_RGBA8888_Premultiplied);
    rgba.fill(QColor(10, 40, 220));

    // View points run upward: the square 10..20 from the bottom is widget rows 180..189.
    ASSERT_TRUE(view->replaceKeptPixels(kpv::Rect(10, 10, 10, 10), argb));
    ASSERT_TRUE(view->replaceKeptPixels(kpv::Rect(30, 10, 10, 10), rgba));
    QImage img = shown();
    EXPECT_EQ(img.pixelColor(10, 180), QColor(200, 30, 10));
    EXPECT_EQ(img.pixelColor(19, 189), QColor(200, 30, 10));
    EXPECT_EQ(img.pixelColor(20, 189), before.pixelColor(20, 189));
    EXPECT_EQ(img.pixelColor(9, 185), before.pixelColor(9, 185));
    EXPECT_EQ(img.pixelColor(35, 185), QColor(10, 40, 220));
    EXPECT_EQ(view->drawCount(), draws);

    for (const kpv::Rect &r : {kpv::Rect(10.5, 10, 10, 10), kpv::Rect(10, 10, 9, 10), kpv::Rect(295, 10, 10, 10),
                               kpv::Rect(10, -5, 10, 10)})
        EXPECT_FALSE(view->replaceKeptPixels(r, argb)) << r.x() << " " << r.y() << " " << r.width();
    EXPECT_FALSE(view->replaceKeptPixels(kpv::Rect(10, 10, 10, 10), QImage()));
    EXPECT_FALSE(view->replaceKeptPixels(kpv::Rect(10, 10, 10, 10), argb.convertToFormat(QImage::Format_RGB888)));
    view->setNeedsDisplay();
    EXPECT_FALSE(view->replaceKeptPixels(kpv::Rect(50, 10, 10, 10), argb));
    img = shown();
    EXPECT_EQ(img.pixelColor(15, 185), QColor(0, 0, 0, 255)); // drawn again: the view's own pixels
    ASSERT_NO_FATAL_FAILURE(expectSameFrame(img, expectedFrame(0)));
}

// An animation that is also the fit-in image starts with tiles shared by both sets; the fit-in set
// keeps showing the first frame while the shown image moves on.
TEST_F(Animation, SharedFitinTilesKeepTheFirstFrame)
{
    const LMImagePtr image = viewtest::makeImage(kImageW, kImageH, 0, 0, 1, 3, kDelay);
    view->setImage(image, ImageModeFitin);
    view->setImage(image, ImageModeNormal);
    shown();
    const QRectF whole(0, 0, kImageW, kImageH);
    auto fitin = view->prepareTexturesForImage(ImageModeFitin, whole, true);
    ASSERT_EQ(fitin.size(), 1u);
    ASSERT_EQ(view->texturesNormal().size(), 1u);
    const uint64_t uploads = view->tileUploadCount();
    for (int frame = 1; frame <= 2; ++frame) {
        clock.advance(kDelay);
        ASSERT_EQ(view->curFrameIdx(), frame);
        view->grabFramebuffer(); // the tiles take the frame when the view draws
        ASSERT_EQ(view->texturesNormal().size(), 1u);
        EXPECT_NE(view->texturesNormal()[0], fitin[0]);
        EXPECT_EQ(view->texturesNormal()[0]->frameIdx(), frame);
        const auto again = view->prepareTexturesForImage(ImageModeFitin, whole, true);
        ASSERT_EQ(again.size(), 1u);
        EXPECT_EQ(again[0], fitin[0]);
        EXPECT_EQ(again[0]->frameIdx(), 0);
        ASSERT_NO_FATAL_FAILURE(expectSameFrame(shown(), expectedFrame(frame)));
    }
    // One upload per frame drawn: the first makes the shown set's own texture, the next refills it.
    EXPECT_EQ(view->tileUploadCount(), uploads + 2);
}

TEST_F(Animation, RefilledTileHoldsWhatAFreshTileWould)
{
    view->setImage(viewtest::makeImage(kImageW, kImageH, 0, 0, 1, 2, kDelay), ImageModeNormal);
    shown();
    clock.advance(kDelay);
    ASSERT_EQ(view->curFrameIdx(), 1);
    view->grabFramebuffer();
    ASSERT_EQ(view->texturesNormal().size(), 1u);
    LMTileUpload fresh;
    ASSERT_TRUE(LMOpenGLTexture::buildTileUpload(*view->imageNormal(), 1, 0, 0, kImageW, kImageH, &view->renderInfo(),
                                                 &fresh));
    std::vector<uint8_t> texels(512 * 512 * 4, 0xAB);
    {
        LMShareGLContext::Scope scope;
        ASSERT_TRUE(scope.ok());
        glBindTexture(GL_TEXTURE_2D, view->texturesNormal()[0]->texID());
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glGetTexImage(GL_TEXTURE_2D, 0, GLenum(fresh.pixelFormat), GL_UNSIGNED_BYTE, texels.data());
        glBindTexture(GL_TEXTURE_2D, 0);
    }
    ASSERT_EQ(fresh.buffer.size(), texels.size());
    EXPECT_TRUE(fresh.buffer == texels) << "the refilled texture differs from a fresh upload of the frame";
}

TEST_F(Animation, ZoomedFrameChangeDrawsOnlyThePicturesPart)
{
    view->setImage(viewtest::makeImage(kImageW, kImageH, 0, 0, 1, 2, kDelay), ImageModeNormal);
    ASSERT_NO_FATAL_FAILURE(zoomIn());
    shown();
    view->marked.clear();
    clock.advance(kDelay);
    ASSERT_EQ(view->marked.size(), 1u);
    const QRect part = view->marked[0];
    const QRect picture((kViewW - 2 * kImageW) / 2, (kViewH - 2 * kImageH) / 2, 2 * kImageW, 2 * kImageH);
    EXPECT_TRUE(part.contains(picture)) << part.x() << " " << part.y() << " " << part.width() << " " << part.height();
    EXPECT_LE(part.width() * part.height(), (2 * kImageW + 6) * (2 * kImageH + 6));
    shown();

    // A repaint that the view did not ask for (a view over it fading, an exposure) comes from
    // the kept pixels.
    const uint64_t draws = view->drawCount();
    view->widget()->repaint();
    EXPECT_EQ(view->drawCount(), draws);
    shown();
    EXPECT_EQ(view->drawCount(), draws);
    expectZoomedFrame(1);
}

// A part of the view drawn again is cleared wherever the picture does not cover it, though the
// picture's own pixels are left to the picture.
TEST_F(Animation, PartDrawnAgainIsClearedAroundThePicture)
{
    view->setImage(viewtest::makeImage(kImageW, kImageH, 0, 0, 1, 2, kDelay), ImageModeNormal);
    shown();
    // Spoil the whole frame buffer; the kept pixels still show the right frame.
    view->makeCurrentContext();
    glClearColor(1, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    view->clearCurrentContext();
    // Twenty points round the picture (x 100..200, y 75..125 from the bottom) are drawn again.
    const uint64_t draws = view->drawCount();
    view->setNeedsDisplayInRect(kpv::Rect(80, 55, 140, 90));
    ASSERT_NO_FATAL_FAILURE(expectSameFrame(shown(), expectedFrame(0)));
    EXPECT_EQ(view->drawCount(), draws + 1);
}

TEST_F(Animation, ResizedViewIsDrawnWhole)
{
    view->setImage(viewtest::makeImage(kImageW, kImageH, 0, 0, 1, 2, kDelay), ImageModeNormal);
    shown();
    window->setContentSize(kpv::Size{kViewW + 100, kViewH + 100});
    view->setFrame(kpv::Rect(0, 0, kViewW + 100, kViewH + 100));
    const QImage img = shown();
    ASSERT_EQ(img.size(), QSize(kViewW + 100, kViewH + 100));
    // The picture moved to the new middle; the rest is black.
    EXPECT_EQ(img.pixelColor(150 + 10, 125 + 20), QColor(10, 20, 0, 255));
    EXPECT_EQ(img.pixelColor(5, 5).red(), 0);
    EXPECT_EQ(img.pixelColor(kViewW + 95, kViewH + 95).green(), 0);
}

} // namespace

// A window taken off the screen holds its animation where it is, with no timer left to wake the
// program: nothing is drawn for nobody. Back on screen the frames go on from the one shown.
TEST_F(Animation, AWindowOffScreenHoldsItsFrameWithNoTimerRunning)
{
    view->setImage(viewtest::makeImage(kImageW, kImageH, 0, 0, 1, 3, kDelay), ImageModeNormal);
    clock.advance(kDelay);
    ASSERT_EQ(view->curFrameIdx(), 1);
    ASSERT_TRUE(view->isFrameSwitchTimerRunning());

    for (const bool minimise : {false, true}) {
        SCOPED_TRACE(minimise ? "minimised" : "hidden");
        if (minimise)
            window->widget()->showMinimized();
        else
            window->orderOut();
        QApplication::processEvents();
        EXPECT_FALSE(view->isFrameSwitchTimerRunning());
        const int timers = kpv::RunLoop::main().timerCount();
        const uint64_t draws = view->drawCount();
        const int64_t held = view->curFrameIdx();
        clock.advance(kDelay * 10);
        QApplication::processEvents();
        EXPECT_EQ(view->curFrameIdx(), held);
        EXPECT_EQ(view->drawCount(), draws);
        EXPECT_EQ(kpv::RunLoop::main().timerCount(), timers);

        if (minimise)
            window->widget()->showNormal();
        else
            window->orderFront();
        QApplication::processEvents();
        EXPECT_TRUE(view->isFrameSwitchTimerRunning());
        clock.advance(kDelay);
        EXPECT_EQ(view->curFrameIdx(), (held + 1) % 3);
    }
}

// A window manager that minimises a window by marking it iconic on the display, and tells the
// toolkit nothing, holds the animation just the same, until it marks the window normal again.
TEST_F(Animation, AWindowTheWindowManagerMarksIconicHoldsItsFrame)
{
    QWidget* top = window->widget();
    for (QDeadlineTimer deadline(30000); !top->windowHandle()->isExposed() && !deadline.hasExpired();)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    view->setImage(viewtest::makeImage(kImageW, kImageH, 0, 0, 1, 3, kDelay), ImageModeNormal);
    clock.advance(kDelay);
    ASSERT_TRUE(view->isFrameSwitchTimerRunning());
    const auto markState = [&](uint32_t state) {
        if (!kpv::test::setWindowManagerState(top, state))
            return false;
        for (QDeadlineTimer deadline(5000); view->isFrameSwitchTimerRunning() != (state == 1) && !deadline.hasExpired();)
            QApplication::processEvents(QEventLoop::AllEvents, 20);
        return true;
    };
    if (!markState(3))
        GTEST_SKIP() << "the window manager's word is given on an X display";
    // Without a window manager the toolkit follows the display's word; the window managers this
    // stands for leave the toolkit counting the window shown.
    top->showNormal();
    QApplication::processEvents();
    EXPECT_FALSE(view->isFrameSwitchTimerRunning());
    const int64_t held = view->curFrameIdx();
    clock.advance(kDelay * 10);
    EXPECT_EQ(view->curFrameIdx(), held);

    ASSERT_TRUE(markState(1));
    EXPECT_TRUE(view->isFrameSwitchTimerRunning());
    clock.advance(kDelay);
    EXPECT_EQ(view->curFrameIdx(), (held + 1) % 3);
}

// A window that another program's window covers entirely cannot be seen either.
TEST_F(Animation, AWindowCoveredEntirelyHoldsItsFrame)
{
    QWidget* top = window->widget();
    window->setFrameOrigin(kpv::Point{1601, 877});  // a corner of its own on the tests' display
    for (QDeadlineTimer deadline(30000); !top->windowHandle()->isExposed() && !deadline.hasExpired();)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    view->setImage(viewtest::makeImage(kImageW, kImageH, 0, 0, 1, 3, kDelay), ImageModeNormal);
    const auto waitForTimer = [&](bool running) {
        for (QDeadlineTimer deadline(5000); view->isFrameSwitchTimerRunning() != running && !deadline.hasExpired();)
            QApplication::processEvents(QEventLoop::AllEvents, 20);
        return view->isFrameSwitchTimerRunning() == running;
    };
    int64_t held = 0;
    {
        kpv::test::CoveringWindow cover(top->geometry().adjusted(-1, -1, 1, 1));
        if (!cover.isOpen())
            GTEST_SKIP() << "covering a window needs an X display";
        EXPECT_TRUE(waitForTimer(false));
        held = view->curFrameIdx();
        clock.advance(kDelay * 10);
        EXPECT_EQ(view->curFrameIdx(), held);
    }
    EXPECT_TRUE(waitForTimer(true));
    clock.advance(kDelay);
    EXPECT_EQ(view->curFrameIdx(), (held + 1) % 3);
}

