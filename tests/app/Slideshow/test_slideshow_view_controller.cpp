// The slideshow mode on the manual clock: entering and leaving the mode, slide order and timing,
// the cross-fade, passing over unreadable slides, the first-frame notification and the cursor
// query.
#include "SlideshowTestHost.h"
#include "Slideshow/SlideshowMusic.h"
#include "Slideshow/SlideshowNotifications.h"
#include "Slideshow/SlideshowView.h"
#include "Slideshow/SlideshowViewController.h"

#include "Model/LMFileImgBaseInfo.h"
#include "Model/MainConfig.h"
#include "appkit/Event.h"
#include "appkit/View.h"
#include "appkit/Window.h"
#include "foundation/Clock.h"
#include "foundation/NotificationCenter.h"
#include "foundation/RunLoop.h"
#include "foundation/UserDefaults.h"
#include "imageio/DecodeBudget.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QWindow>

#include <QColor>
#include <QDateTime>
#include <gtest/gtest.h>
#include <mutex>
#include <set>

namespace {

// Slide i is an 8 x 8 image of grey level 10 * i; paths listed in `unreadable` give nothing.
QImage slideImage(int i)
{
    QImage img(8, 8, QImage::Format_RGBA8888_Premultiplied);
    img.fill(QColor(10 * i, 10 * i, 10 * i));
    return img;
}
int slideOf(const QImage& img) { return img.isNull() ? -1 : qRed(img.pixel(0, 0)) / 10; }

class SlideshowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        kpv::RunLoop::main().setClock(&clock);
        controller = std::make_unique<SlideshowViewController>(host);
        controller->setMusicSinkFactory([] { return std::make_unique<FakeMusicSink>(); });
        controller->setSlideLoader([this](const SlideshowFileInfo& slide, QSize) {
            const int i = slide.filePath().path().section('/', -1).toInt();
            std::lock_guard lock(mutex);
            loads.push_back(i);
            return unreadable.count(i) ? QImage() : slideImage(i);
        });
        kpv::NotificationCenter::defaultCenter().addObserver(
            this, DidSlideshowFirstFrameDisplayedNotification, nullptr, [this](const kpv::Notification&) {
                ++firstFramePosts;
                firstFrameSlide = slideOf(controller->view()->currentSlide());
            });
    }
    void TearDown() override
    {
        kpv::NotificationCenter::defaultCenter().removeObserver(this);
        controller.reset();
        kpv::RunLoop::main().setClock(nullptr);
    }
    std::vector<SlideshowFileInfoPtr> slides(int n) { return numberedSlides(n); }
    void run(double seconds) { runSlideshow(*controller, clock, seconds); }
    int shown() { return slideOf(controller->view()->currentSlide()); }

    kpv::ManualClock clock;
    FakeHost host;
    std::unique_ptr<SlideshowViewController> controller;
    std::mutex mutex;
    std::vector<int> loads;
    std::set<int> unreadable;
    int firstFramePosts = 0;
    int firstFrameSlide = -2;
};

TEST_F(SlideshowTest, StartEntersTheModeFillsTheContentViewAndShowsTheStartSlide)
{
    controller->startSlideshowWithFileInfos(slides(4), 2);
    EXPECT_EQ(host.mode, 32);
    EXPECT_EQ(host.registered, controller.get());
    ASSERT_EQ(controller->view()->superview(), &host.content);
    EXPECT_EQ(controller->view()->frame().size, host.content.bounds().size);
    EXPECT_EQ(firstFramePosts, 0); // nothing on screen before the slide is decoded
    controller->waitForSlideLoads();
    EXPECT_EQ(shown(), 2);
    EXPECT_EQ(controller->curSlideIndex(), 2);
    EXPECT_EQ(firstFramePosts, 1);
    EXPECT_EQ(firstFrameSlide, 2);
    run(20);
    EXPECT_EQ(firstFramePosts, 1); // once per slideshow
}

TEST_F(SlideshowTest, SlidesAdvanceInOrderAfterTheirDurationAndWrapAround)
{
    controller->startSlideshowWithFileInfos(slides(3), 1);
    controller->waitForSlideLoads();
    const double d = controller->slideDuration(), f = controller->fadeDuration();
    run(d - 0.1);
    EXPECT_EQ(shown(), 1);
    run(0.2); // the duration has passed: the next slide fades in over the current one
    EXPECT_EQ(shown(), 2);
    EXPECT_LT(controller->view()->fade(), 1.0);
    run(f / 2);
    EXPECT_GT(controller->view()->fade(), 0.3);
    EXPECT_LT(controller->view()->fade(), 0.8);
    run(f / 2 + 0.1);
    EXPECT_DOUBLE_EQ(controller->view()->fade(), 1.0);
    // The next slide's time starts once the fade is done.
    std::vector<int> order{shown()};
    for (int k = 0; k < 4; ++k) {
        run(d + f);
        order.push_back(shown());
    }
    EXPECT_EQ(order, (std::vector<int>{2, 0, 1, 2, 0}));
}

TEST_F(SlideshowTest, UnreadableSlidesArePassedOverAndNothingReadableEndsTheShow)
{
    unreadable = {1, 2};
    controller->startSlideshowWithFileInfos(slides(4), 0);
    std::vector<int> order;
    for (int k = 0; k < 3; ++k) {
        controller->waitForSlideLoads();
        order.push_back(shown());
        run(controller->slideDuration() + controller->fadeDuration());
    }
    EXPECT_EQ(order, (std::vector<int>{0, 3, 0}));

    unreadable = {0, 1, 2};
    controller->startSlideshowWithFileInfos(slides(3), 1);
    run(1);
    EXPECT_FALSE(controller->isPlaying());
    EXPECT_EQ(host.mode, 4);
    EXPECT_EQ(firstFramePosts, 1); // only the first slideshow put a frame on screen
}

// A photo deleted by another program after it was decoded ahead is not shown: when its turn
// comes, or the user steps onto it, its file is looked for, and the slide after it comes instead.
TEST_F(SlideshowTest, ASlideWhoseFileWentAfterItWasDecodedAheadIsPassedOver)
{
    std::set<QString> present{"/slides/0", "/slides/1", "/slides/2", "/slides/3"};
    controller->setFileCheck([&](const QString& path) {
        std::lock_guard lock(mutex);
        return present.count(path) > 0;
    });
    controller->startSlideshowWithFileInfos(slides(4), 0);
    run(0.2);
    ASSERT_EQ(shown(), 0);
    {
        std::lock_guard lock(mutex);
        ASSERT_EQ(loads, (std::vector<int>{0, 1})) << "slide 1 is decoded ahead";
        present.erase("/slides/1");
    }
    run(controller->slideDuration() + controller->fadeDuration());
    EXPECT_EQ(controller->curSlideIndex(), 2);
    EXPECT_EQ(shown(), 2);
    EXPECT_TRUE(controller->isPlaying());

    {
        std::lock_guard lock(mutex);
        present.erase("/slides/3"); // decoded ahead by now
    }
    auto right = kpv::Event::keyEvent(kpv::KeyDown, kpv::KeyCode::RightArrow, "", "", nullptr);
    controller->performKeyDownEquivalent(*right);
    run(0.1);
    EXPECT_EQ(shown(), 0);
}

TEST_F(SlideshowTest, EscOrAClickEndsTheModeAndRestoresTheModeBefore)
{
    host.mode = 8;
    controller->startSlideshowWithFileInfos(slides(2), 0);
    controller->waitForSlideLoads();
    auto esc = kpv::Event::keyEvent(kpv::KeyDown, kpv::KeyCode::Escape, "\x1b", "\x1b", nullptr);
    auto other = kpv::Event::keyEvent(kpv::KeyDown, kpv::KeyCode::A, "a", "a", nullptr);
    EXPECT_FALSE(controller->performKeyDownEquivalent(*other));
    EXPECT_TRUE(controller->performKeyDownEquivalent(*esc));
    EXPECT_EQ(host.mode, 8);
    EXPECT_FALSE(controller->isPlaying());
    EXPECT_EQ(controller->view()->superview(), nullptr);
    EXPECT_EQ(host.registered, nullptr);
    EXPECT_FALSE(controller->performKeyDownEquivalent(*esc)); // not ours any more

    host.mode = 4;
    controller->startSlideshowWithFileInfos(slides(2), 1);
    controller->waitForSlideLoads();
    auto click = kpv::Event::mouseEvent(kpv::LeftMouseDown, kpv::Point{10, 10}, nullptr);
    controller->view()->mouseDown(*click);
    EXPECT_EQ(host.mode, 4);
    // No timer of the ended show fires later. A preload a worker had already begun may still
    // finish, so it is let finish before counting.
    controller->waitForSlideLoads();
    const std::size_t before = loads.size();
    run(20);
    EXPECT_EQ(loads.size(), before);
    EXPECT_TRUE(controller->view()->currentSlide().isNull());
}

TEST_F(SlideshowTest, BadStartArgumentsAreHandled)
{
    controller->startSlideshowWithFileInfos({}, 0);
    EXPECT_EQ(host.mode, 4);
    EXPECT_FALSE(controller->isPlaying());
    for (long index : {-1L, 3L, 100L}) {
        controller->startSlideshowWithFileInfos(slides(3), index);
        controller->waitForSlideLoads();
        EXPECT_EQ(shown(), 0) << index;
        controller->endSlideshow();
        EXPECT_EQ(host.mode, 4);
    }
}

TEST_F(SlideshowTest, AnotherModeTakingOverStopsTheShow)
{
    controller->startSlideshowWithFileInfos(slides(3), 0);
    controller->waitForSlideLoads();
    host.setShowMode(2);
    EXPECT_FALSE(controller->isPlaying());
    // The next slide's load, begun when the first one showed, may still be running: it ends, and
    // nothing new begins after it.
    controller->waitForSlideLoads();
    const std::size_t before = loads.size();
    run(20);
    EXPECT_EQ(loads.size(), before);
}

TEST_F(SlideshowTest, CursorStaysWhileTheFirstSlideIsLoading)
{
    auto ask = [] {
        auto reply = std::make_shared<QVariantMap>();
        kpv::NotificationCenter::defaultCenter().postNotification(
            QueryAutoHideCursorNotification, nullptr,
            {{QueryAutoHideCursorReplyKey, QVariant::fromValue(SlideshowQueryReply(reply))}});
        return reply->value(DisableAutoHideCursorKey).toBool();
    };
    EXPECT_FALSE(ask());
    controller->startSlideshowWithFileInfos(slides(2), 0);
    EXPECT_TRUE(ask());
    controller->waitForSlideLoads();
    EXPECT_FALSE(ask());
    // A poster without a reply dictionary is tolerated.
    controller->startSlideshowWithFileInfos(slides(2), 0);
    kpv::NotificationCenter::defaultCenter().postNotification(QueryAutoHideCursorNotification);
}

TEST(SlideshowView, FitRectCentresAndNeverEnlarges)
{
    const kpv::Rect b(0, 0, 800, 600);
    const kpv::Rect big = SlideshowView::fitRect(kpv::Size{1600, 600}, b);
    EXPECT_DOUBLE_EQ(big.width(), 800);
    EXPECT_DOUBLE_EQ(big.height(), 300);
    EXPECT_DOUBLE_EQ(big.y(), 150);
    const kpv::Rect small = SlideshowView::fitRect(kpv::Size{100, 50}, b);
    EXPECT_DOUBLE_EQ(small.width(), 100);
    EXPECT_DOUBLE_EQ(small.x(), 350);
    EXPECT_DOUBLE_EQ(small.y(), 275);
    EXPECT_DOUBLE_EQ(SlideshowView::fitRect(kpv::Size{0, 50}, b).width(), 0);
}

} // namespace

namespace {
TEST(SlideshowLifetime, ContentViewDestroyedFirstTakesTheSlideshowViewWithoutADoubleFree)
{
    struct Host : ShowModeHost {
        std::unique_ptr<kpv::View> content = std::make_unique<kpv::View>(kpv::Rect(0, 0, 300, 200));
        kpv::View* contentView() const override { return content.get(); }
        void registEquivalentResponder(LMEquivalentResponder*, bool) override {}
    } host;
    kpv::ManualClock clock;
    kpv::RunLoop::main().setClock(&clock);
    {
        SlideshowViewController controller(host);
        controller.setMusicSinkFactory([] { return std::make_unique<FakeMusicSink>(); });
        controller.setSlideLoader([](const SlideshowFileInfo&, QSize) { return slideImage(1); });
        std::vector<SlideshowFileInfoPtr> list{std::make_shared<SlideshowFileInfo>(LMPathString("/a", false))};
        controller.startSlideshowWithFileInfos(list, 0);
        controller.waitForSlideLoads();
        ASSERT_EQ(controller.view()->superview(), host.content.get());
        host.content.reset(); // the window goes away while the slideshow is shown
        EXPECT_NE(controller.view(), nullptr); // a fresh view
        controller.endSlideshow();
    }
    kpv::RunLoop::main().setClock(nullptr);
}
} // namespace

namespace {
TEST(SlideshowView, DrawsTheSlideUprightAndCrossFadesOverBlack)
{
    SlideshowView view;
    view.setFrame(kpv::Rect(0, 0, 40, 20));
    QImage slide(20, 20, QImage::Format_RGBA8888_Premultiplied);
    slide.fill(Qt::blue);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 20; ++x)
            slide.setPixelColor(x, y, Qt::red); // top half red
    QImage white(20, 20, QImage::Format_RGBA8888_Premultiplied);
    white.fill(Qt::white);

    view.setSlides(slide, QImage(), 1.0);
    QImage out = view.renderToImage(1.0).convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(out.size(), QSize(40, 20));
    EXPECT_EQ(out.pixelColor(0, 10), QColor(Qt::black)); // outside the fitted slide
    EXPECT_EQ(out.pixelColor(20, 3), QColor(Qt::red));
    EXPECT_EQ(out.pixelColor(20, 16), QColor(Qt::blue));

    view.setSlides(white, QImage(), 0.5);
    out = view.renderToImage(1.0).convertToFormat(QImage::Format_RGB32);
    EXPECT_NEAR(out.pixelColor(20, 10).red(), 128, 3);
    view.setSlides(white, slide, 0.0); // the fade starts on the previous slide
    out = view.renderToImage(1.0).convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(out.pixelColor(20, 3), QColor(Qt::red));

    // Halfway from one photo to another the picture is a mix of the two at full brightness, not
    // dimmed: two slides of one grey stay that grey, and red to blue is half of each.
    QImage grey(20, 20, QImage::Format_RGBA8888_Premultiplied);
    grey.fill(QColor(200, 200, 200));
    view.setSlides(grey, grey, 0.5);
    out = view.renderToImage(1.0).convertToFormat(QImage::Format_RGB32);
    EXPECT_NEAR(out.pixelColor(20, 10).red(), 200, 3);
    QImage blue(20, 20, QImage::Format_RGBA8888_Premultiplied);
    blue.fill(Qt::blue);
    view.setSlides(blue, slide, 0.5);
    out = view.renderToImage(1.0).convertToFormat(QImage::Format_RGB32);
    EXPECT_NEAR(out.pixelColor(20, 3).red(), 128, 3);
    EXPECT_NEAR(out.pixelColor(20, 3).blue(), 128, 3);
    EXPECT_EQ(out.pixelColor(0, 10), QColor(Qt::black));
}
} // namespace

namespace {
// A GIF of one frame per palette entry given of 16 x 8, each filled with one palette entry, 0.2 s apiece
// (stored without compression: one clear code before every pixel).
QByteArray animatedGif(const std::vector<int>& paletteEntries)
{
    QByteArray out("GIF89a");
    auto u16 = [&](int v) { out.append(char(v & 0xFF)).append(char(v >> 8)); };
    u16(16), u16(8);
    out.append(char(0xF7)).append(char(0)).append(char(0));
    for (int i = 0; i < 256; ++i)
        out.append(char(i)).append(char(255 - i)).append(char(0));
    out.append("\x21\xFF\x0BNETSCAPE2.0\x03\x01\x00\x00\x00", 19); // loops for ever
    for (int entry : paletteEntries) {
        out.append("\x21\xF9\x04\x00", 4);
        u16(20);
        out.append(char(0)).append(char(0)).append(char(0x2C));
        u16(0), u16(0), u16(16), u16(8);
        out.append(char(0)).append(char(8));
        QByteArray bits;
        uint32_t acc = 0;
        int n = 0;
        auto put = [&](uint32_t code) {
            acc |= code << n;
            for (n += 9; n >= 8; n -= 8, acc >>= 8)
                bits.append(char(acc & 0xFF));
        };
        for (int p = 0; p < 16 * 8; ++p)
            put(256), put(uint32_t(entry));
        put(257);
        if (n > 0)
            bits.append(char(acc & 0xFF));
        for (int i = 0; i < bits.size(); i += 255) {
            const QByteArray block = bits.mid(i, 255);
            out.append(char(block.size())).append(block);
        }
        out.append(char(0));
    }
    out.append(char(0x3B));
    return out;
}

// An animated GIF in the cross-fade plays its frames while it is shown, stays for a whole pass,
// holds its frame while paused, and the next slide follows.
TEST(SlideshowAnimation, AnAnimatedGifPlaysItsFramesWhileShown)
{
    QTemporaryDir dir;
    const QString gif = dir.filePath("anim.gif");
    {
        QFile f(gif);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        std::vector<int> frames;
        for (int i = 0; i < 20; ++i)
            frames.push_back(i % 2 ? 200 : 50); // four seconds: longer than a still slide
        f.write(animatedGif(frames));
    }
    const QString still = dir.filePath("still.png");
    ASSERT_TRUE(slideImage(9).save(still));
    kpv::ManualClock clock;
    kpv::RunLoop::main().setClock(&clock);
    FakeHost host;
    SlideshowViewController controller(host);
    controller.startSlideshowWithFileInfos({std::make_shared<SlideshowFileInfo>(LMPathString(gif, false)),
                                            std::make_shared<SlideshowFileInfo>(LMPathString(still, false))},
                                           0);
    controller.waitForSlideLoads();
    auto red = [&] { return qRed(controller.view()->currentSlide().pixel(8, 4)); };
    EXPECT_EQ(red(), 50);
    runSlideshow(controller, clock, 0.1); // then half-way through each frame
    std::vector<int> seen{red()};
    for (int step = 0; step < 6; ++step) {
        runSlideshow(controller, clock, 0.2);
        seen.push_back(red());
    }
    EXPECT_EQ(seen, (std::vector<int>{50, 200, 50, 200, 50, 200, 50}));
    const int held = red();
    controller.togglePause();
    runSlideshow(controller, clock, 1.0);
    EXPECT_EQ(red(), held);
    controller.togglePause();
    // Still on the animation after three seconds in all (a still slide would have gone).
    runSlideshow(controller, clock, 1.6);
    EXPECT_EQ(controller.curSlideIndex(), 0);
    runSlideshow(controller, clock, 2.0 + controller.fadeDuration() + 0.2);
    EXPECT_EQ(controller.curSlideIndex(), 1);
    EXPECT_EQ(slideOf(controller.view()->currentSlide()), 9);
    controller.endSlideshow();
    kpv::RunLoop::main().setClock(nullptr);
}

// The frames of an animation count against the process's decode budget while they decode: they
// are refused, leaving the still slide, when the reader's canvas cannot fit.
TEST(SlideshowAnimation, FramesDecodeWithinTheDecodeBudget)
{
    QTemporaryDir dir;
    const QString gif = dir.filePath("anim.gif");
    {
        QFile f(gif);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(animatedGif({50, 200, 50}));
    }
    const SlideshowFileInfo slide(LMPathString(gif, false));
    kpv::DecodeBudget& budget = kpv::DecodeBudget::shared();
    budget.resetPeak();
    const auto frames = SlideshowViewController::defaultFramesLoader(slide, QSize());
    ASSERT_EQ(frames.frames.size(), 3u);
    qint64 kept = 0;
    for (const QImage& frame : frames.frames)
        kept += frame.sizeInBytes();
    EXPECT_EQ(budget.peak(), uint64_t(16 * 8 * 8 + kept));
    EXPECT_EQ(budget.inUse(), 0u);

    const uint64_t former = budget.setCapacity(16 * 8 * 8 - 1);
    EXPECT_TRUE(SlideshowViewController::defaultFramesLoader(slide, QSize()).frames.empty());
    budget.setCapacity(former);
}

// A GIF of `count` frames of one pixel each, in turn along the top row, on a screen of `side` x
// `side` pixels: some twenty bytes a frame.
QByteArray onePixelFramesGif(int side, int count)
{
    QByteArray out("GIF89a");
    auto u16 = [&](int v) { out.append(char(v & 0xFF)).append(char(v >> 8)); };
    u16(side), u16(side);
    out.append("\xF1\x00\x00", 3).append("\xFF\x00\x00\x00\xFF\x00\x00\x00\xFF\xFF\xFF\xFF", 12);
    out.append("\x21\xFF\x0BNETSCAPE2.0\x03\x01\x00\x00\x00", 19);
    for (int i = 0; i < count; ++i) {
        out.append("\x21\xF9\x04\x00\x0A\x00\x00\x00\x2C", 9);
        u16(i % side), u16(0), u16(1), u16(1);
        // Code size 2: a clear code, the pixel's index, the end code, three bits each.
        const int bits = 4 | (i % 4) << 3 | 5 << 6;
        out.append(char(0)).append(char(2)).append(char(2)).append(char(bits & 0xFF)).append(char(bits >> 8)).append(char(0));
    }
    return out.append(char(0x3B));
}

// Frames of a pixel are whole screens once drawn: an animation of under a kilobyte keeps a few
// megabytes of them, not hundreds; the frames are brought to the window's size, and the budget is
// charged for the screen the toolkit draws on, however small the first frame. A small animation
// keeps every frame.
TEST(SlideshowAnimation, FewBytesOfFramesKeepFewMegabytes)
{
    QTemporaryDir dir;
    const auto load = [&](const QByteArray& bytes, QSize size) {
        const QString path = dir.filePath(QStringLiteral("anim%1.gif").arg(bytes.size()));
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        f.close();
        return SlideshowViewController::defaultFramesLoader(SlideshowFileInfo(LMPathString(path, false)), size);
    };
    const QByteArray tiny = onePixelFramesGif(1000, 40);
    ASSERT_LT(tiny.size(), 1024);
    const auto frames = load(tiny, QSize(1920, 1080));
    qint64 kept = 0;
    for (const QImage& frame : frames.frames)
        kept += frame.sizeInBytes();
    EXPECT_GE(frames.frames.size(), 2u);
    EXPECT_LE(kept, qint64(20) << 20);

    kpv::DecodeBudget& budget = kpv::DecodeBudget::shared();
    budget.resetPeak();
    const auto fitted = load(onePixelFramesGif(1000, 2), QSize(100, 100));
    ASSERT_EQ(fitted.frames.size(), 2u);
    EXPECT_EQ(fitted.frames[1].size(), QSize(100, 100));
    EXPECT_GE(budget.peak(), uint64_t(1000 * 1000 * 4));

    EXPECT_EQ(load(onePixelFramesGif(64, 60), QSize()).frames.size(), 60u);
}

TEST(SlideshowSettings, TheTransitionTakesTheSettingsDuration)
{
    QTemporaryDir dir;
    kpv::UserDefaults defaults(dir.filePath("settings.json"));
    MainConfig config(defaults);
    FakeHost host;
    SlideshowViewController withDefaults(host, &config);
    EXPECT_DOUBLE_EQ(withDefaults.fadeDuration(), 2.0);
    config.setCurSlideshowEffectDuration(5);
    EXPECT_DOUBLE_EQ(withDefaults.fadeDuration(), 5.0);
    SlideshowViewController withoutSettings(host);
    EXPECT_DOUBLE_EQ(withoutSettings.fadeDuration(), SlideshowViewController::kDefaultFadeDuration);

    // A five-second transition really takes five seconds on the clock.
    kpv::ManualClock clock;
    kpv::RunLoop::main().setClock(&clock);
    withDefaults.setSlideLoader([](const SlideshowFileInfo& s, QSize) { return slideImage(s.filePath().path().size()); });
    withDefaults.startSlideshowWithFileInfos({std::make_shared<SlideshowFileInfo>(LMPathString("/a", false)),
                                              std::make_shared<SlideshowFileInfo>(LMPathString("/bb", false))},
                                             0);
    withDefaults.waitForSlideLoads();
    for (int i = 0; i < 20 * (3 + 4); ++i) {
        withDefaults.waitForSlideLoads();
        clock.advance(0.05);
    }
    EXPECT_GT(withDefaults.view()->fade(), 0.7);
    EXPECT_LT(withDefaults.view()->fade(), 0.9);
    withDefaults.endSlideshow();
    kpv::RunLoop::main().setClock(nullptr);
}
} // namespace

namespace {
TEST(SlideshowLoader, DecodesToTheWindowAndPrefersWhatTheViewerDecoded)
{
    QTemporaryDir dir;
    QImage big(400, 200, QImage::Format_RGB32);
    big.fill(Qt::green);
    const QString path = dir.filePath("big.png");
    ASSERT_TRUE(big.save(path));

    SlideshowFileInfo slide{LMPathString(path, false)};
    QImage out = SlideshowViewController::defaultSlideLoader(slide, QSize(100, 100));
    EXPECT_EQ(out.size(), QSize(100, 50));
    EXPECT_EQ(out.pixelColor(50, 25), QColor(Qt::green));
    EXPECT_EQ(SlideshowViewController::defaultSlideLoader(slide, QSize()).size(), QSize(400, 200));

    QImage decoded(30, 20, QImage::Format_RGBA8888_Premultiplied);
    decoded.fill(Qt::blue);
    // Stored sideways (orientation 6): the slide is shown upright.
    auto info = std::make_shared<LMFileImgBaseInfo>(LMPathString(path, false), QString(), 0, QDateTime(),
                                                    QSizeF(30, 20), 6, QVariantMap());
    slide.setPrevLoadedLargeFitInImage(std::make_shared<LMImage>(decoded, info));
    out = SlideshowViewController::defaultSlideLoader(slide, QSize(100, 100));
    EXPECT_EQ(out.size(), QSize(20, 30));
    EXPECT_EQ(out.pixelColor(5, 5), QColor(Qt::blue));

    SlideshowFileInfo gone{LMPathString(dir.filePath("gone.png"), false)};
    EXPECT_TRUE(SlideshowViewController::defaultSlideLoader(gone, QSize(100, 100)).isNull());
}
} // namespace

namespace {
// A folder in which no photo can be read ends the slideshow with a message that says so and why,
// instead of dropping the user back into the viewer without a word.
TEST(SlideshowNothingReadable, TheUserIsToldWhyNothingWasShown)
{
    QTemporaryDir dir;
    QFile damaged(dir.filePath("damaged.jpg"));
    ASSERT_TRUE(damaged.open(QIODevice::WriteOnly));
    damaged.write(QByteArray("\xFF\xD8\xFF\xE0", 4) + QByteArray(64, '\x13')); // a JPEG cut off in its header
    damaged.close();
    QFile notes(dir.filePath("notes.png"));
    ASSERT_TRUE(notes.open(QIODevice::WriteOnly));
    notes.write("not a picture at all\n");
    notes.close();

    kpv::ManualClock clock;
    kpv::RunLoop::main().setClock(&clock);
    FakeHost host;
    SlideshowViewController controller(host);
    controller.setMusicSinkFactory([] { return std::make_unique<FakeMusicSink>(); });
    std::vector<SlideshowFileInfoPtr> list{
        std::make_shared<SlideshowFileInfo>(LMPathString(dir.filePath("damaged.jpg"), false)),
        std::make_shared<SlideshowFileInfo>(LMPathString(dir.filePath("notes.png"), false))};
    controller.startSlideshowWithFileInfos(list, 0);
    runSlideshow(controller, clock, 2);
    EXPECT_FALSE(controller.isPlaying());
    EXPECT_EQ(host.mode, 4);
    ASSERT_EQ(host.problems.size(), 1);
    const QString told = host.problems.front();
    EXPECT_TRUE(told.contains(QLatin1String("2"))) << told.toStdString();
    EXPECT_TRUE(told.contains(QLatin1String("notes.png"))) << told.toStdString();
    EXPECT_FALSE(told.endsWith(QLatin1String(": ."))) << told.toStdString(); // a reason is given

    // One photo that is gone: its name and the reason.
    controller.startSlideshowWithFileInfos(
        {std::make_shared<SlideshowFileInfo>(LMPathString(dir.filePath("gone.jpg"), false))}, 0);
    runSlideshow(controller, clock, 1);
    EXPECT_FALSE(controller.isPlaying());
    ASSERT_EQ(host.problems.size(), 2);
    EXPECT_TRUE(host.problems.back().contains(QLatin1String("gone.jpg"))) << host.problems.back().toStdString();
    kpv::RunLoop::main().setClock(nullptr);
}
} // namespace

namespace {
// Columns `band` pixels wide, black and white.
QImage stripes(int width, int height, int band)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, x / band % 2 ? qRgb(255, 255, 255) : qRgb(0, 0, 0));
    return image;
}

// On a double-density screen each point is two pixels: a slide is decoded for the pixels and
// drawn one photo pixel to one screen pixel, as the viewer shows it, so detail down to single
// pixels stays on screen instead of being drawn soft from a copy half as large, or stretched.
TEST(SlideshowDoubleDensity, SlidesAreDecodedAndDrawnForTheScreensPixels)
{
    QTemporaryDir dir;
    const QString large = dir.filePath("large.png"), small = dir.filePath("small.png");
    ASSERT_TRUE(stripes(3200, 1200, 2).save(large));
    ASSERT_TRUE(stripes(1000, 400, 1).save(small));

    struct WindowHost : ShowModeHost {
        kpv::Window window{kpv::Rect(0, 0, 800, 300), 0};
        kpv::View* contentView() const override { return const_cast<kpv::Window&>(window).contentView(); }
        void registEquivalentResponder(LMEquivalentResponder*, bool) override {}
    } host;
    host.window.setBackingScaleFactorOverride(2.0);
    kpv::ManualClock clock;
    kpv::RunLoop::main().setClock(&clock);
    {
        SlideshowViewController controller(host);
        controller.setMusicSinkFactory([] { return std::make_unique<FakeMusicSink>(); });
        // Columns the screen shows sharp between device pixels x0 and x1, on the middle row.
        auto sharpColumns = [&](int x0, int x1) {
            const QImage screen = controller.view()->renderToImage(2.0).convertToFormat(QImage::Format_RGB32);
            EXPECT_EQ(screen.size(), QSize(1600, 600));
            int sharp = 0;
            for (int x = x0; x < x1; ++x)
                sharp += std::abs(qGray(screen.pixel(x + 1, 300)) - qGray(screen.pixel(x, 300))) > 200;
            return sharp;
        };

        // Larger than the window: 800 x 300 points are 1600 x 600 pixels, and the photo is
        // decoded to those, not to half of them.
        controller.startSlideshowWithFileInfos({std::make_shared<SlideshowFileInfo>(LMPathString(large, false))}, 0);
        controller.waitForSlideLoads();
        ASSERT_TRUE(controller.firstFrameDisplayed());
        EXPECT_EQ(controller.view()->currentSlide().size(), QSize(1600, 600));
        // Its two-pixel columns become one-pixel columns on the screen; decoded for the points
        // they would be grey.
        EXPECT_GT(sharpColumns(400, 1200), 790) << "the photo is drawn soft";

        // Smaller than the window's pixels: shown pixel for pixel, 500 x 200 points in the middle.
        controller.startSlideshowWithFileInfos({std::make_shared<SlideshowFileInfo>(LMPathString(small, false))}, 0);
        controller.waitForSlideLoads();
        EXPECT_EQ(controller.view()->currentSlide().deviceIndependentSize(), QSizeF(500, 200));
        EXPECT_GT(sharpColumns(400, 1200), 790) << "the photo is stretched";
        controller.endSlideshow();
    }
    kpv::RunLoop::main().setClock(nullptr);
}
} // namespace

namespace {
// A slideshow started in a small window and the window then made larger: the photo on screen
// grows with it instead of staying at the size decoded for the small window.
TEST(SlideshowResize, APhotoGrowsWithTheWindow)
{
    QTemporaryDir dir;
    QImage photo(2000, 1000, QImage::Format_RGB32);
    photo.fill(Qt::darkCyan);
    const QString path = dir.filePath("wide.png");
    ASSERT_TRUE(photo.save(path));

    kpv::ManualClock clock;
    kpv::RunLoop::main().setClock(&clock);
    FakeHost host;
    host.content.setFrame(kpv::Rect(0, 0, 400, 300));
    {
        SlideshowViewController controller(host);
        controller.setMusicSinkFactory([] { return std::make_unique<FakeMusicSink>(); });
        controller.startSlideshowWithFileInfos({std::make_shared<SlideshowFileInfo>(LMPathString(path, false))}, 0);
        controller.waitForSlideLoads();
        EXPECT_EQ(controller.view()->currentSlide().size(), QSize(400, 200));
        host.content.setFrame(kpv::Rect(0, 0, 1200, 900));
        ASSERT_EQ(controller.view()->bounds().size, (kpv::Size{1200, 900}));
        runSlideshow(controller, clock, 1);
        EXPECT_EQ(controller.view()->currentSlide().size(), QSize(1200, 600));
        const kpv::Rect shown = SlideshowView::fitRect(kpv::Size{1200, 600}, controller.view()->bounds());
        EXPECT_EQ(shown.width(), 1200);
        controller.endSlideshow();
    }
    kpv::RunLoop::main().setClock(nullptr);
}
} // namespace

namespace {
// A picture of one colour saved as `name` in `dir`; `later` dates it a few seconds ahead, as a
// rewrite by another program a moment after the first write would be.
void writeColoured(const QTemporaryDir& dir, const QString& name, Qt::GlobalColor colour, bool later = false)
{
    QImage image(40, 20, QImage::Format_RGB32);
    image.fill(colour);
    ASSERT_TRUE(image.save(dir.filePath(name)));
    if (!later)
        return;
    QFile rewritten(dir.filePath(name));
    ASSERT_TRUE(rewritten.open(QIODevice::ReadWrite));
    ASSERT_TRUE(rewritten.setFileTime(QDateTime::currentDateTime().addSecs(5), QFileDevice::FileModificationTime));
}

// The viewer hands over the photos it had decoded. One that another program changes during the
// show is shown as it is now, and one it removes is passed over, instead of the copies the
// viewer decoded before coming round again and again.
TEST(SlideshowChangedFiles, APhotoChangedOrRemovedMeanwhileIsNotShownAsItWas)
{
    QTemporaryDir dir;
    auto write = [&](const QString& name, Qt::GlobalColor colour) { writeColoured(dir, name, colour); };
    write("a.png", Qt::red);
    write("b.png", Qt::green);
    // The viewer's decodes, with the files' dates as they were read.
    auto handedOver = [&](const QString& name, Qt::GlobalColor colour) {
        const LMPathString path(dir.filePath(name), false);
        auto slide = std::make_shared<SlideshowFileInfo>(path);
        QImage decoded(40, 20, QImage::Format_RGBA8888_Premultiplied);
        decoded.fill(colour);
        auto info = std::make_shared<LMFileImgBaseInfo>(path, QString(), 0, path.dateModified(), QSizeF(40, 20), 1,
                                                        QVariantMap());
        slide->setPrevLoadedLargeFitInImage(std::make_shared<LMImage>(decoded, info));
        return slide;
    };
    std::vector<SlideshowFileInfoPtr> list{handedOver("a.png", Qt::red), handedOver("b.png", Qt::green)};

    kpv::ManualClock clock;
    kpv::RunLoop::main().setClock(&clock);
    FakeHost host;
    {
        SlideshowViewController controller(host);
        controller.setMusicSinkFactory([] { return std::make_unique<FakeMusicSink>(); });
        controller.startSlideshowWithFileInfos(list, 0);
        controller.waitForSlideLoads();
        EXPECT_EQ(controller.view()->currentSlide().pixelColor(5, 5), QColor(Qt::red));

        // Another program rewrites a.png in blue (a second later, as a clock would tell) and
        // removes b.png.
        ASSERT_NO_FATAL_FAILURE(writeColoured(dir, "a.png", Qt::blue, true));
        ASSERT_TRUE(QFile::remove(dir.filePath("b.png")));

        // The slide decoded ahead before the change may still come once.
        runSlideshow(controller, clock, 2 * (controller.slideDuration() + controller.fadeDuration()));
        std::set<QRgb> shown;
        for (int k = 0; k < 4; ++k) {
            runSlideshow(controller, clock, controller.slideDuration() + controller.fadeDuration());
            shown.insert(controller.view()->currentSlide().pixel(5, 5));
        }
        EXPECT_TRUE(controller.isPlaying());
        EXPECT_EQ(shown, (std::set<QRgb>{QColor(Qt::blue).rgb()}));
        controller.endSlideshow();
    }
    kpv::RunLoop::main().setClock(nullptr);
}

// A photo rewritten by another program after it was decoded ahead, while the slide before it
// was on screen, comes as it is now when its turn comes.
TEST(SlideshowChangedFiles, APhotoRewrittenWhileDecodedAheadComesAsItIsNow)
{
    QTemporaryDir dir;
    auto write = [&](const QString& name, Qt::GlobalColor colour) { writeColoured(dir, name, colour); };
    write("a.png", Qt::red);
    write("b.png", Qt::green);
    std::vector<SlideshowFileInfoPtr> list;
    for (const char* name : {"a.png", "b.png"})
        list.push_back(std::make_shared<SlideshowFileInfo>(LMPathString(dir.filePath(name), false)));

    kpv::ManualClock clock;
    kpv::RunLoop::main().setClock(&clock);
    FakeHost host;
    {
        SlideshowViewController controller(host);
        controller.setMusicSinkFactory([] { return std::make_unique<FakeMusicSink>(); });
        controller.startSlideshowWithFileInfos(list, 0);
        controller.waitForSlideLoads(); // a.png on screen
        controller.waitForSlideLoads(); // b.png decoded ahead
        ASSERT_EQ(controller.view()->currentSlide().pixelColor(5, 5), QColor(Qt::red));

        ASSERT_NO_FATAL_FAILURE(writeColoured(dir, "b.png", Qt::blue, true));

        runSlideshow(controller, clock, controller.slideDuration() + controller.fadeDuration() + 0.5);
        EXPECT_EQ(controller.curSlideIndex(), 1);
        EXPECT_EQ(controller.view()->currentSlide().pixelColor(5, 5), QColor(Qt::blue));
        controller.endSlideshow();
    }
    kpv::RunLoop::main().setClock(nullptr);
}
} // namespace

namespace {

// The slideshow's main window as a real window, so that it can be minimised.
class WindowHost : public ShowModeHost {
public:
    WindowHost() : window(kpv::Rect(0, 0, 400, 300), kpv::TitledWindowMask) {}
    kpv::View* contentView() const override { return window.contentView(); }
    void registEquivalentResponder(LMEquivalentResponder*, bool) override {}

    kpv::Window window;
};

// A minimised window shows nobody the slideshow: it holds the slide and a fade under way where they
// are, with no timer of its own left to wake the program, and goes on from there when the window is
// back.
TEST(SlideshowOffScreen, AMinimisedWindowHoldsTheShowWithNoTimerRunning)
{
    kpv::ManualClock clock;
    kpv::RunLoop::main().setClock(&clock);
    {
        WindowHost host;
        SlideshowViewController controller(host);
        controller.setMusicSinkFactory([] { return std::make_unique<FakeMusicSink>(); });
        controller.setSlideLoader([](const SlideshowFileInfo& slide, QSize) {
            return slideImage(slide.filePath().path().section('/', -1).toInt());
        });
        QWidget* top = host.window.widget();
        host.window.orderFront();
        for (QDeadlineTimer deadline(30000); !top->windowHandle()->isExposed() && !deadline.hasExpired();)
            QApplication::processEvents(QEventLoop::AllEvents, 20);
        const int idleTimers = kpv::RunLoop::main().timerCount();
        controller.startSlideshowWithFileInfos(numberedSlides(3), 0);
        controller.waitForSlideLoads();
        const double d = controller.slideDuration(), f = controller.fadeDuration();
        runSlideshow(controller, clock, d + f / 2);
        ASSERT_EQ(controller.curSlideIndex(), 1);
        const double fade = controller.view()->fade();
        ASSERT_GT(fade, 0.0);
        ASSERT_LT(fade, 1.0);

        const auto holds = [&](double heldFade) {
            EXPECT_TRUE(controller.isHeldOffScreen());
            runSlideshow(controller, clock, 30);
            QApplication::processEvents();
            EXPECT_EQ(controller.curSlideIndex(), 1);
            EXPECT_EQ(slideOf(controller.view()->currentSlide()), 1);
            EXPECT_DOUBLE_EQ(controller.view()->fade(), heldFade);
            EXPECT_EQ(kpv::RunLoop::main().timerCount(), idleTimers);
            EXPECT_TRUE(controller.isPlaying());
            EXPECT_FALSE(controller.isPaused());
        };

        // Minimised mid-fade: the fade finishes once the window is back.
        top->showMinimized();
        QApplication::processEvents();
        holds(fade);
        top->showNormal();
        QApplication::processEvents();
        EXPECT_FALSE(controller.isHeldOffScreen());
        runSlideshow(controller, clock, f);
        EXPECT_DOUBLE_EQ(controller.view()->fade(), 1.0);
        EXPECT_EQ(controller.curSlideIndex(), 1);

        // Minimised while the slide is shown: its time begins again when the window is back.
        top->showMinimized();
        QApplication::processEvents();
        holds(1.0);
        top->showNormal();
        QApplication::processEvents();
        EXPECT_FALSE(controller.isHeldOffScreen());
        runSlideshow(controller, clock, d - 0.2);
        EXPECT_EQ(controller.curSlideIndex(), 1);
        runSlideshow(controller, clock, f + 0.4);
        EXPECT_EQ(controller.curSlideIndex(), 2);
        controller.endSlideshow();
    }
    kpv::RunLoop::main().setClock(nullptr);
}

} // namespace
