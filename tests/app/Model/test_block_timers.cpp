// One-shot and repeating block timers and the block performer, on the manual clock.
#include "Model/LMBlockRepeatTimer.h"
#include "Model/LMBlockTimer.h"
#include "Model/LMPerformSelectorWrapper.h"
#include "foundation/Clock.h"
#include "foundation/RunLoop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

using kpv::ManualClock;
using kpv::RunLoop;

namespace {

class BlockTimerTest : public ::testing::Test {
protected:
    void SetUp() override { RunLoop::main().setClock(&clock); }
    void TearDown() override
    {
        RunLoop::main().setClock(nullptr);
        EXPECT_EQ(RunLoop::main().timerCount(), 0);
    }
    ManualClock clock;
};

TEST_F(BlockTimerTest, OneShotFiresOnceAfterItsInterval)
{
    LMBlockTimer timer;
    int fired = 0;
    bool runningInside = true;
    timer.start(0.5, [&] {
        ++fired;
        runningInside = timer.isTimerRunning();
    });
    EXPECT_TRUE(timer.isTimerRunning());
    clock.advance(0.49);
    EXPECT_EQ(fired, 0);
    clock.advance(0.02);
    EXPECT_EQ(fired, 1);
    EXPECT_FALSE(runningInside);
    EXPECT_FALSE(timer.isTimerRunning());
    clock.advance(5);
    EXPECT_EQ(fired, 1);
}

TEST_F(BlockTimerTest, StopBeforeFiringAndRestartDropThePendingBlock)
{
    LMBlockTimer timer;
    std::string log;
    timer.start(0.1, [&] { log += "stopped"; }, {{"run", 1}});
    timer.stop();
    EXPECT_FALSE(timer.isTimerRunning());
    EXPECT_TRUE(timer.userInfo().isEmpty());
    timer.stop(); // idle: nothing
    timer.start(0.1, [&] { log += "old"; });
    timer.start(0.3, [&] { log += "new"; });
    clock.advance(1);
    EXPECT_EQ(log, "new");
}

TEST_F(BlockTimerTest, RestartFromInsideTheBlockKeepsTheFiringRunsUserInfo)
{
    LMBlockTimer timer;
    std::string log;
    timer.start(0.1, [&] {
        timer.start(0.2, [&] { log += "second(" + timer.userInfo().value("run").toString().toStdString() + ")"; },
                    {{"run", "two"}});
        log += "first(" + timer.userInfo().value("run").toString().toStdString() + ")";
    }, {{"run", "one"}});
    clock.advance(0.1);
    EXPECT_EQ(log, "first(one)");
    EXPECT_TRUE(timer.isTimerRunning());
    EXPECT_EQ(timer.userInfo().value("run").toString(), QString("two")); // the new run's, after the block
    clock.advance(0.19);
    EXPECT_EQ(log, "first(one)");
    clock.advance(0.01);
    EXPECT_EQ(log, "first(one)second(two)");
    EXPECT_TRUE(timer.userInfo().isEmpty()); // released after the block
}

TEST_F(BlockTimerTest, TimersFireInsideNestedLoops)
{
    LMBlockTimer once;
    LMBlockRepeatTimer repeat;
    int fired = 0;
    int ticks = 0;
    RunLoop::NestedScope modal;
    once.start(0.1, [&] { ++fired; });
    repeat.start(0.1, nullptr, [&](bool*) { ++ticks; }, nullptr);
    clock.advance(0.35);
    EXPECT_EQ(fired, 1);
    EXPECT_EQ(ticks, 3);
    repeat.stop();
}

TEST_F(BlockTimerTest, DestroyingARunningTimerCancelsIt)
{
    int fired = 0;
    {
        LMBlockTimer timer;
        timer.start(0.1, [&] { ++fired; });
        LMBlockRepeatTimer repeat;
        repeat.start(0.1, nullptr, [&](bool*) { ++fired; }, [&](bool) { ++fired; });
    }
    clock.advance(1);
    EXPECT_EQ(fired, 0);
}

// Blocks that destroy the timer's owner: the timer must not touch itself afterwards (the address
// sanitizer reports any write to the freed object).
TEST_F(BlockTimerTest, BlocksMayDestroyTheTimersOwner)
{
    struct Owner {
        LMBlockTimer once;
        LMBlockRepeatTimer repeat;
    };
    int calls = 0;
    auto owner = std::make_unique<Owner>();
    owner->once.start(0.1, [&] {
        ++calls;
        owner.reset();
    }, {{"k", 1}});
    clock.advance(0.2);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(owner, nullptr);

    owner = std::make_unique<Owner>();
    owner->repeat.start(0.1, nullptr, [&](bool* stop) {
        ++calls;
        *stop = true;
        owner.reset();
    }, [&](bool) { ++calls; });
    clock.advance(0.5);
    EXPECT_EQ(calls, 2) << "a destroyed timer calls no end block";

    owner = std::make_unique<Owner>();
    owner->repeat.start(0.1, nullptr, [&](bool* stop) { *stop = true; }, [&](bool) {
        ++calls;
        owner.reset();
    });
    clock.advance(0.5);
    EXPECT_EQ(calls, 3);

    // A begin block of a new run, and the end block of the run it replaces.
    owner = std::make_unique<Owner>();
    owner->repeat.start(0.1, [&] { owner.reset(); }, [&](bool*) { ++calls; }, nullptr);
    EXPECT_EQ(owner, nullptr);
    owner = std::make_unique<Owner>();
    owner->repeat.start(0.1, nullptr, nullptr, [&](bool) { owner.reset(); });
    owner->repeat.start(0.1, [&] { ++calls; }, nullptr, nullptr);
    clock.advance(0.5);
    EXPECT_EQ(calls, 3);
}

TEST_F(BlockTimerTest, RepeatRunEndsWhenTheBlockAsksOnTheThirdTick)
{
    LMBlockRepeatTimer timer;
    std::string log;
    int ticks = 0;
    timer.start(
        0.1, [&] { log += "begin(" + std::to_string(timer.isTimerRunning()) + ")"; },
        [&](bool* stop) {
            ++ticks;
            log += "t";
            if (ticks == 3) {
                *stop = true;
            }
        },
        [&](bool fromOutside) { log += fromOutside ? "end(yes)" : "end(no)"; });
    EXPECT_TRUE(timer.isTimerRunning());
    clock.advance(0.09);
    EXPECT_EQ(log, "begin(0)"); // the first tick comes one interval after the start
    clock.advance(1);
    EXPECT_EQ(log, "begin(0)tttend(no)");
    EXPECT_FALSE(timer.isTimerRunning());
    timer.stop(); // idle: no second end block
    EXPECT_EQ(log, "begin(0)tttend(no)");
}

TEST_F(BlockTimerTest, NewStartEndsTheRunningRunBeforeTheNewBegin)
{
    LMBlockRepeatTimer timer;
    std::string log;
    timer.start(0.1, [&] { log += "b1 "; }, [&](bool*) { log += "t1 "; }, [&](bool f) { log += f ? "e1(yes) " : "e1(no) "; });
    clock.advance(0.1);
    timer.start(0.1, [&] { log += "b2 "; }, [&](bool*) { log += "t2 "; }, [&](bool f) { log += f ? "e2(yes) " : "e2(no) "; },
                {{"k", 2}});
    EXPECT_EQ(timer.userInfo().value("k").toInt(), 2);
    clock.advance(0.1);
    timer.stop();
    EXPECT_EQ(log, "b1 t1 e1(yes) b2 t2 e2(yes) ");
    EXPECT_TRUE(timer.userInfo().isEmpty());
}

TEST_F(BlockTimerTest, StopOnAnIdleRepeatTimerCallsNoEndBlock)
{
    LMBlockRepeatTimer timer;
    int ends = 0;
    timer.stop();
    timer.endTimer(false);
    timer.start(0.1, nullptr, nullptr, [&](bool) { ++ends; }); // no repeat block: ticks do nothing
    clock.advance(1);
    EXPECT_EQ(ends, 0);
    EXPECT_TRUE(timer.isTimerRunning());
    timer.stop();
    timer.stop();
    EXPECT_EQ(ends, 1);
}

TEST_F(BlockTimerTest, StopFromInsideTheRepeatBlockEndsOnceFromOutside)
{
    LMBlockRepeatTimer timer;
    std::string log;
    timer.start(0.1, nullptr,
                [&](bool* stop) {
                    timer.stop(); // ends the run at once ...
                    *stop = true; // ... so this no longer ends it a second time
                },
                [&](bool f) { log += f ? "yes" : "no"; });
    clock.advance(1);
    EXPECT_EQ(log, "yes");
}

TEST_F(BlockTimerTest, NewRunStartedFromTheEndBlockKeepsItsOwnBlocks)
{
    LMBlockRepeatTimer timer;
    std::string log;
    int round = 0;
    std::function<void()> startRound = [&] {
        ++round;
        const int mine = round;
        timer.start(0.1, nullptr, [&](bool* stop) { *stop = true; },
                    [&, mine](bool) {
                        log += "end" + std::to_string(mine) + "(" + timer.userInfo().value("r").toString().toStdString() + ")";
                        if (mine == 1) {
                            startRound();
                        }
                    },
                    {{"r", mine}});
    };
    startRound();
    clock.advance(0.1);
    EXPECT_EQ(log, "end1(1)");
    EXPECT_TRUE(timer.isTimerRunning());
    EXPECT_EQ(timer.userInfo().value("r").toInt(), 2);
    clock.advance(0.1);
    EXPECT_EQ(log, "end1(1)end2(2)");
    EXPECT_FALSE(timer.isTimerRunning());
}

TEST_F(BlockTimerTest, EveryPerformRequestRunsItsOwnBlockOnce)
{
    LMPerformSelectorWrapper wrapper;
    std::string log;
    wrapper.performWithBlock([&] { log += "first "; }, 0.2);
    wrapper.performWithBlock([&] { log += "second "; }, 0.1);
    clock.advance(1);
    EXPECT_EQ(log, "second first ");
    wrapper.performHandler(); // the kept block is the latest request's
    EXPECT_EQ(log, "second first second ");
}

TEST_F(BlockTimerTest, PerformAfterDelayWaitsForNestedLoopsAndSurvivesItsWrapper)
{
    int ran = 0;
    {
        RunLoop::NestedScope modal;
        LMPerformSelectorWrapper().performWithBlock([&] { ++ran; }, 0);
        clock.advance(1);
        EXPECT_EQ(ran, 0); // default mode: waits for the modal loop
    }
    clock.advance(0);
    EXPECT_EQ(ran, 1);
}

TEST_F(BlockTimerTest, PerformOnMainThread)
{
    std::string log;
    LMPerformSelectorWrapper wrapper;
    wrapper.performOnMainThreadWithBlock([&] { log += "inline "; }, true);
    EXPECT_EQ(log, "inline ");
    wrapper.performOnMainThreadWithBlock([&] { log += "queued "; }, false);
    EXPECT_EQ(log, "inline ");
    clock.advance(0);
    EXPECT_EQ(log, "inline queued ");

    std::atomic<bool> done{false};
    std::thread worker([&] {
        LMPerformSelectorWrapper w;
        w.performOnMainThreadWithBlock([&] {
            EXPECT_TRUE(RunLoop::isMainThread());
            log += "fromWorker ";
        }, true);
        done = true;
        RunLoop::main().wakeUp();
    });
    RunLoop::main().runWhile([&] { return !done.load(); });
    worker.join();
    EXPECT_EQ(log, "inline queued fromWorker ");
}

} // namespace
