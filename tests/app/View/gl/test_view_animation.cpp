// An animated image in a shown image view on the manual clock: frames arrive at their delay and
// not before, each new frame refills the tiles that are there (one upload per tile, the same
// textures), only the picture's part of the view is drawn again, and what the window shows is the
// whole right frame. Views over the image view repaint from the kept pixels without a new drawing.

#include "View/LMOpenGLView.h"

#include "View/LMShareGLContext.h"
#include "appkit/Window.h"
#include "../view_test_support.h"
#include "../../../support/QtTestApplication.h"

#include <QApplication>
#include <QImage>
#include <QWidget>
#include <epoxy/gl.h>
#include <gtest/gtest.h>

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

TEST_F(Animation, FramesComeAtTheirDelayIntoTheSameTextures)
{
    view->setImage(viewtest::makeImage(kImageW, kImageH, 0, 0, 1, 3, kDelay), ImageModeNormal);
    expectSameFrame(shown(), expectedFrame(0));
    const auto names = textureNames();
    ASSERT_EQ(names.size(), 1u);
    ASSERT_NE(names[0].second, 0u);
    uint64_t uploads = view->tileUploadCount();
    uint64_t draws = view->drawCount();

    // Nothing is due before the delay: no upload, no drawing, the same picture.
    clock.advance(kDelay / 2);
    EXPECT_EQ(view->curFrameIdx(), 0);
    expectSameFrame(shown(), expectedFrame(0));
    EXPECT_EQ(view->tileUploadCount(), uploads);
    EXPECT_EQ(view->drawCount(), draws);

    // Each due frame: one upload per tile into the texture that is there, one drawing.
    for (int step = 1; step <= 4; ++step) {
        clock.advance(kDelay / 2 + (step == 1 ? 0 : kDelay / 2));
        const int frame = step % 3;
        ASSERT_EQ(view->curFrameIdx(), frame);
        EXPECT_EQ(view->tileUploadCount(), uploads + 1) << "frame " << frame;
        EXPECT_EQ(textureNames(), names);
        expectSameFrame(shown(), expectedFrame(frame));
        EXPECT_EQ(view->drawCount(), draws + 1) << "frame " << frame;
        uploads = view->tileUploadCount();
        draws = view->drawCount();
    }
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
        ASSERT_EQ(view->texturesNormal().size(), 1u);
        EXPECT_NE(view->texturesNormal()[0], fitin[0]);
        EXPECT_EQ(view->texturesNormal()[0]->frameIdx(), frame);
        const auto again = view->prepareTexturesForImage(ImageModeFitin, whole, true);
        ASSERT_EQ(again.size(), 1u);
        EXPECT_EQ(again[0], fitin[0]);
        EXPECT_EQ(again[0]->frameIdx(), 0);
        expectSameFrame(shown(), expectedFrame(frame));
    }
    // One upload per frame change: the first makes the shown set's own texture, the next refills it.
    EXPECT_EQ(view->tileUploadCount(), uploads + 2);
}

TEST_F(Animation, RefilledTileHoldsWhatAFreshTileWould)
{
    view->setImage(viewtest::makeImage(kImageW, kImageH, 0, 0, 1, 2, kDelay), ImageModeNormal);
    shown();
    clock.advance(kDelay);
    ASSERT_EQ(view->curFrameIdx(), 1);
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

TEST_F(Animation, FrameChangeDrawsOnlyThePicturesPart)
{
    view->setImage(viewtest::makeImage(kImageW, kImageH, 0, 0, 1, 2, kDelay), ImageModeNormal);
    shown();
    view->marked.clear();
    clock.advance(kDelay);
    ASSERT_EQ(view->marked.size(), 1u);
    const QRect part = view->marked[0];
    const QRect picture((kViewW - kImageW) / 2, (kViewH - kImageH) / 2, kImageW, kImageH);
    EXPECT_TRUE(part.contains(picture)) << part.x() << " " << part.y() << " " << part.width() << " " << part.height();
    EXPECT_LE(part.width() * part.height(), (kImageW + 6) * (kImageH + 6));
    expectSameFrame(shown(), expectedFrame(1));

    // A repaint that the view did not ask for (a view over it fading, an exposure) comes from
    // the kept pixels.
    const uint64_t draws = view->drawCount();
    view->widget()->repaint();
    EXPECT_EQ(view->drawCount(), draws);
    expectSameFrame(shown(), expectedFrame(1));
    EXPECT_EQ(view->drawCount(), draws);
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
    expectSameFrame(shown(), expectedFrame(0));
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
