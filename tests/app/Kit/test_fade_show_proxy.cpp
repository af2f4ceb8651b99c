// The fade show proxy at the key times of its fades and timers, on the manual clock.
#include "Kit/LMFadeShowProxy.h"
#include "foundation/Clock.h"
#include "foundation/RunLoop.h"
#include "kit_support.h"

#include <gtest/gtest.h>

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
