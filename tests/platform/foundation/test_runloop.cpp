// Run loop and timers, driven by the manual clock.
#include "foundation/Clock.h"
#include "foundation/RunLoop.h"
#include "foundation/Timer.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

using namespace kpv;

namespace {

class RunLoopTest : public ::testing::Test {
protected:
    void SetUp() override { RunLoop::main().setClock(&clock); }
    void TearDown() override
    {
        RunLoop::main().setClock(nullptr);
        EXPECT_EQ(RunLoop::main().timerCount(), 0) << "a test left timers behind";
    }
    ManualClock clock;
};

TEST_F(RunLoopTest, DueTimersFireInOrderOfFireTimeThenCreation)
{
    std::string log;
    auto a = Timer::scheduled(0.3, false, [&](Timer&) { log += 'a'; });
    auto b = Timer::scheduled(0.1, false, [&](Timer&) { log += 'b'; });
    auto c = Timer::scheduled(0.1, false, [&](Timer&) { log += 'c'; });
    auto d = Timer::scheduled(0.5, false, [&](Timer&) { log += 'd'; });
    EXPECT_EQ(clock.advance(0.05), 0);
    EXPECT_EQ(clock.advance(0.3), 3);
    EXPECT_EQ(log, "bca");
    EXPECT_FALSE(a->isValid());
    EXPECT_TRUE(d->isValid());
    d->invalidate();
    clock.advance(1);
    EXPECT_EQ(log, "bca");
}

TEST_F(RunLoopTest, TimerSeesItsOwnFireTimeAsNow)
{
    std::vector<double> seen;
    const double start = clock.now();
    auto t = Timer::scheduled(0.25, true, [&](Timer& timer) {
        seen.push_back(RunLoop::main().now() - start);
        if (seen.size() == 4) {
            timer.invalidate();
        }
    });
    clock.advance(10);
    ASSERT_EQ(seen.size(), 4u);
    for (size_t i = 0; i < seen.size(); ++i) {
        EXPECT_DOUBLE_EQ(seen[i], 0.25 * double(i + 1));
    }
    EXPECT_DOUBLE_EQ(clock.now() - start, 10);
}

TEST_F(RunLoopTest, ZeroDelayPerformRunsOnTheNextPassNotInsideTheCurrentOne)
{
    std::string log;
    RunLoop::main().performAfterDelay(0, [&] {
        log += '1';
        RunLoop::main().performAfterDelay(0, [&] { log += '3'; });
        log += '2';
    });
    EXPECT_EQ(log, "");
    RunLoop::main().runOnce();
    EXPECT_EQ(log, "12");
    RunLoop::main().runOnce();
    EXPECT_EQ(log, "123");
}

TEST_F(RunLoopTest, ZeroIntervalRepeatingTimerCannotSpin)
{
    int ticks = 0;
    auto t = Timer::scheduled(0, true, [&](Timer&) { ++ticks; });
    clock.advance(0.001);
    EXPECT_GE(ticks, 1);
    EXPECT_LE(ticks, 11);
    t->invalidate();
}

TEST_F(RunLoopTest, NestedLoopRunsOnlyCommonModeTimers)
{
    std::string log;
    auto common = Timer::scheduled(0.1, false, [&](Timer&) { log += 'c'; }, TimerMode::Common);
    auto def = Timer::scheduled(0.1, false, [&](Timer&) { log += 'd'; }, TimerMode::Default);
    auto delayed = RunLoop::main().performAfterDelay(0.05, [&] { log += 'p'; });
    {
        RunLoop::NestedScope modal;
        {
            RunLoop::NestedScope tracking; // scopes nest
            clock.advance(0.2);
            EXPECT_EQ(log, "c");
        }
        clock.advance(0.2);
        EXPECT_EQ(log, "c");
    }
    // After the outermost scope ends the late default-mode work runs, oldest fire time first.
    clock.advance(0);
    EXPECT_EQ(log, "cpd");
}

TEST_F(RunLoopTest, InvalidateFromInsideAnotherTimersBlockPreventsItsFire)
{
    int fired = 0;
    std::shared_ptr<Timer> second;
    auto first = Timer::scheduled(0.1, false, [&](Timer&) { second->invalidate(); });
    second = Timer::scheduled(0.1, false, [&](Timer&) { ++fired; });
    clock.advance(1);
    EXPECT_EQ(fired, 0);
}

TEST_F(RunLoopTest, RunLoopKeepsTimersAliveWhileValid)
{
    int fired = 0;
    Timer::scheduled(0.1, false, [&](Timer&) { ++fired; }); // pointer dropped at once
    clock.advance(0.2);
    EXPECT_EQ(fired, 1);
}

TEST_F(RunLoopTest, SwitchingClocksKeepsRemainingIntervals)
{
    int fired = 0;
    auto t = Timer::scheduled(5, false, [&](Timer&) { ++fired; });
    clock.advance(2);
    ManualClock other(50);
    RunLoop::main().setClock(&other);
    other.advance(2.9);
    EXPECT_EQ(fired, 0);
    other.advance(0.2);
    EXPECT_EQ(fired, 1);
    RunLoop::main().setClock(&clock);
}

// A real clock that the test moves by hand: unlike the manual clock it can jump past several fire
// times at once, as the wall clock does while the loop is blocked.
class JumpingClock final : public Clock {
public:
    double now() const override { return now_; }
    double now_ = 500.0;
};

TEST_F(RunLoopTest, RepeatingTimerFiresOnceAfterAJumpOfSeveralIntervals)
{
    JumpingClock jumping;
    RunLoop::main().setClock(&jumping);
    int fired = 0;
    auto t = Timer::scheduled(0.1, true, [&](Timer&) { ++fired; });
    jumping.now_ += 0.55; // five ticks were missed
    RunLoop::main().runOnce();
    EXPECT_EQ(fired, 1);
    RunLoop::main().runOnce();
    EXPECT_EQ(fired, 1) << "missed ticks are skipped, not caught up";
    // The next tick keeps the timer's own rhythm: 0.6 after the start.
    jumping.now_ += 0.04;
    RunLoop::main().runOnce();
    EXPECT_EQ(fired, 1);
    jumping.now_ += 0.02;
    RunLoop::main().runOnce();
    EXPECT_EQ(fired, 2);
    t->invalidate();
    RunLoop::main().setClock(&clock);
}

TEST_F(RunLoopTest, PerformOnMainThreadInlineWhenWaitingOnMain)
{
    int ran = 0;
    RunLoop::performOnMainThread([&] { ++ran; }, true);
    EXPECT_EQ(ran, 1);
    RunLoop::performOnMainThread([&] { ++ran; }, false);
    EXPECT_EQ(ran, 1); // queued for the next pass
    RunLoop::main().runOnce();
    EXPECT_EQ(ran, 2);
}

TEST_F(RunLoopTest, WorkerWaitsForMainThreadWhileMainServicesPostedCalls)
{
    std::atomic<bool> workerDone{false};
    std::vector<int> order;
    std::thread worker([&] {
        RunLoop::performOnMainThread([&] { order.push_back(1); }, false);
        RunLoop::performOnMainThread([&] { order.push_back(2); }, true);
        order.push_back(3); // the waited-for call has run by now
        workerDone = true;
        RunLoop::main().wakeUp();
    });
    RunLoop::main().runWhile([&] { return !workerDone.load(); });
    worker.join();
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
    EXPECT_TRUE(RunLoop::isMainThread());
}

TEST_F(RunLoopTest, AdvanceAlsoRunsCallsPostedFromWorkers)
{
    int ran = 0;
    std::thread([&] { RunLoop::main().perform([&] { ++ran; }); }).join();
    clock.advance(0);
    EXPECT_EQ(ran, 1);
}

TEST(RunLoopQt, RealClockTimersAndPostedCallsRunOnTheQtEventLoop)
{
    int argc = 1;
    char name[] = "test";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    QEventLoop loop;
    std::vector<std::string> log;
    auto t = Timer::scheduled(0.001, false, [&](Timer&) { log.push_back("timer"); });
    std::thread worker([&] {
        RunLoop::performOnMainThread([&] {
            log.push_back("posted");
            EXPECT_TRUE(RunLoop::isMainThread());
        }, true);
        RunLoop::performOnMainThread([&] { loop.quit(); }, false);
    });
    // Guards against a hang only; the test never depends on how long it takes.
    QTimer::singleShot(60000, &loop, [&] { ADD_FAILURE() << "event loop never quit"; loop.quit(); });
    loop.exec();
    worker.join();
    while (log.size() < 2) {
        loop.processEvents(QEventLoop::WaitForMoreEvents);
    }
    EXPECT_NE(std::find(log.begin(), log.end(), "posted"), log.end());
    EXPECT_NE(std::find(log.begin(), log.end(), "timer"), log.end());
}

} // namespace
