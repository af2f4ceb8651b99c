// The fade show proxy at the key times of its fades and timers, on the manual clock.
#include "Kit/LMFadeShowProxy.h"
#include "foundation/Clock.h"
#include "foundation/RunLoop.h"
#include "appkit/Control.h"
#include "appkit/GraphicsContext.h"
#include "appkit/Window.h"
#include "kit_support.h"

#include <QCoreApplication>
#include <QImage>
#include <QStringList>
#include <QWidget>
#include <gtest/gtest.h>
#include <algorithm>

using namespace kpv;

namespace {

class Log : public LMFadeShowProxyDelegate {
public:
    std::vector<std::string> events;
    void beginShowFadeShowProxy(LMFadeShowProxy*, bool a) override { events.push_back(a ? "show+" : "show"); }
    void endShowFadeShowProxy(LMFadeShowProxy*) override { events.push_back("shown"); }
    void beginHideFadeShowProxy(LMFadeShowProxy*, bool a) override { events.push_back(a ? "hide+" : "hide"); }
    void endHideFadeShowProxy(LMFadeShowProxy*) override { events.push_back("hidden"); }
};

class FadeTest : public testing::Test {
protected:
    void SetUp() override { RunLoop::main().setClock(&clock); }
    void TearDown() override
    {
        proxy.reset();
        clock.advance(0);
        RunLoop::main().setClock(nullptr);
    }
    // Moves the clock in frame-sized steps, as a running loop would see it.
    void run(double seconds)
    {
        const int steps = int(seconds * 60 + 0.5);
        for (int i = 0; i < steps; ++i)
            clock.advance(1.0 / 60);
    }
    void make(bool hidden = true)
    {
        proxy = std::make_unique<LMFadeShowProxy>(&view, hidden);
        proxy->setDelegate(&log);
    }
    ManualClock clock;
    View view{Rect(0, 0, 10, 10)};
    Log log;
    std::unique_ptr<LMFadeShowProxy> proxy;
};

} // namespace

TEST_F(FadeTest, StartsHiddenAndFadesInOverThreeTenths)
{
    make();
    EXPECT_TRUE(view.isHidden());
    EXPECT_EQ(view.alphaValue(), 0);
    proxy->showWithAnimation(true, false);
    EXPECT_FALSE(view.isHidden());
    run(0.15);
    EXPECT_GT(view.alphaValue(), 0.2);
    EXPECT_LT(view.alphaValue(), 0.8);
    run(0.2);
    EXPECT_EQ(view.alphaValue(), 1);
    EXPECT_EQ(log.events, (std::vector<std::string>{"show+", "shown"}));
}

TEST_F(FadeTest, ShowOnAShownIdleViewOnlyRestartsTheCountdown)
{
    make(false);
    proxy->showWithAnimation(true, true);
    EXPECT_TRUE(log.events.empty());
    run(2.5);
    proxy->showWithAnimation(true, true); // restart
    run(2.5);
    EXPECT_FALSE(view.isHidden());
    run(0.9); // 3 s after the restart, then the 0.3 s fade
    EXPECT_TRUE(view.isHidden());
    EXPECT_EQ(log.events, (std::vector<std::string>{"hide+", "hidden"}));
}

TEST_F(FadeTest, ShowDuringAHideReversesIt)
{
    make(false);
    proxy->hideWithAnimation(true, std::function<void()>());
    run(0.15);
    const double mid = view.alphaValue();
    EXPECT_LT(mid, 1);
    proxy->showWithAnimation(true, false);
    EXPECT_FALSE(view.isHidden()); // the interrupted hide did not hide it
    run(0.4);
    EXPECT_EQ(view.alphaValue(), 1);
    EXPECT_FALSE(view.isHidden());
}

TEST_F(FadeTest, HideOfAHiddenViewNeverCallsTheEndBlock)
{
    make();
    bool called = false;
    proxy->hideWithAnimation(true, [&] { called = true; });
    run(1);
    EXPECT_FALSE(called);
    EXPECT_TRUE(log.events.empty());
}

TEST_F(FadeTest, DelayedHidesStartOneCountdown)
{
    make(false);
    proxy->hideWithAnimation(true, true);
    run(2);
    proxy->hideWithAnimation(true, true);
    run(1.5);
    EXPECT_TRUE(view.isHidden());
}

TEST_F(FadeTest, TemporaryAlphaRestoresAfterTheIntervalFollowingItsFade)
{
    make(false);
    proxy->setAutoHideInterval(2.0); // also the restore delay
    proxy->setAlpha(0.3, true, true, 1.0);
    run(0.31);
    EXPECT_NEAR(view.alphaValue(), 0.3, 1e-9);
    run(1.9);
    EXPECT_NEAR(view.alphaValue(), 0.3, 1e-9);
    run(0.6);
    EXPECT_EQ(view.alphaValue(), 1);
}

TEST_F(FadeTest, ProxyGoneBeforeItsFadeEnds)
{
    make(false);
    proxy->hideWithAnimation(true, std::function<void()>());
    proxy.reset(); // the fade's end must not reach the freed proxy
    run(1);
    EXPECT_EQ(view.alphaValue(), 0);
}

namespace {
QStringList& loggedWarnings()
{
    static QStringList list;
    return list;
}
void keepWarning(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type != QtDebugMsg && type != QtInfoMsg)
        loggedWarnings() << message;
}
} // namespace

// A toolbar in a window on screen fades in and out while a button in it stays dimmed, as the
// favourites bin is: every step shows the bar over what lies beneath, the dimmed button shows once
// the bar is in, and nothing is written to the log.
TEST_F(FadeTest, AToolbarWithADimmedButtonFadesOnScreenWithoutComplaints)
{
    class Filled : public View {
    public:
        Filled(const Rect& frame, Color colour) : View(frame), m_colour(colour) {}
        void drawRect(const Rect&) override { GraphicsContext::current()->fillRect(bounds(), m_colour); }
        Color m_colour;
    };
    Window window(Rect(0, 0, 240, 120), TitledWindowMask);
    window.contentView()->addSubview(new Filled(window.contentView()->bounds(), Color(1, 1, 1)));
    auto* bar = new Filled(Rect(0, 0, 240, 40), Color(0, 0, 1));
    auto* dimmed = new Filled(Rect(10, 8, 24, 24), Color(1, 0, 0));
    bar->addSubview(dimmed);
    bar->addSubview(new Button(Rect(50, 8, 60, 24)));
    window.contentView()->addSubview(bar);
    window.orderFront();
    QCoreApplication::processEvents();
    LMFadeShowProxy dim(dimmed, false);
    dim.setAlpha(0.5, false, false, 1.0);
    auto shown = [&](int x, int y) {
        window.widget()->repaint();
        return window.widget()->grab().toImage().pixelColor(x, y);
    };

    loggedWarnings().clear();
    const QtMessageHandler previous = qInstallMessageHandler(keepWarning);
    proxy = std::make_unique<LMFadeShowProxy>(bar, true);
    proxy->showWithAnimation(true, false);
    std::vector<int> reds; // of the white window behind the bar, near the bar's right end
    for (int i = 0; i < 24; ++i) {
        clock.advance(1.0 / 60);
        QCoreApplication::processEvents();
        reds.push_back(shown(200, 100).red());
    }
    const QColor button = shown(20, 100);
    proxy->hideWithAnimation(true, std::function<void()>());
    for (int i = 0; i < 24; ++i) {
        clock.advance(1.0 / 60);
        QCoreApplication::processEvents();
        reds.push_back(shown(200, 100).red());
    }
    qInstallMessageHandler(previous);

    EXPECT_TRUE(loggedWarnings().isEmpty()) << loggedWarnings().join('\n').toStdString();
    EXPECT_TRUE(std::is_sorted(reds.rend() - 24, reds.rend())) << "the bar darkens as it fades in";
    EXPECT_GT(reds.front(), 0) << "the first step is still partly see-through";
    EXPECT_EQ(reds[23], 0);
    EXPECT_NEAR(button.red(), 128, 3) << "half the red button over the blue bar";
    EXPECT_NEAR(button.blue(), 127, 3);
    EXPECT_EQ(reds.back(), 255);
    EXPECT_TRUE(bar->isHidden());
    proxy.reset();
}
