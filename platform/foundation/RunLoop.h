#pragma once
// The run loop of a thread. On the main thread the Qt event loop carries it: timers are woken by
// one precise QTimer, and calls posted from other threads arrive as queued Qt calls. When a
// ManualClock is installed (tests), nothing is armed and ManualClock::advance() drives the timers;
// runOnce() runs posted calls and due timers without a Qt event loop.
//
// Nested loops: code that runs a loop of its own on the main thread (a modal dialog's exec(), a
// mouse-tracking loop) wraps it in a RunLoop::NestedScope. While one exists only common-mode timers
// fire; default-mode timers and delayed performs wait until the outermost scope ends.

#include "foundation/Timer.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class QObject;
class QTimer;

namespace kpv {

class Clock;

class RunLoop {
public:
    // The loop of the calling thread (made on first use).
    static RunLoop& current();
    // The loop of the main thread (the thread that started the process).
    static RunLoop& main();
    static bool isMainThread();

    // Replaces the clock (nullptr: back to the steady clock). Tests install a ManualClock here.
    // Pending timers keep their remaining intervals relative to the new clock.
    void setClock(Clock* clock);
    Clock& clock() const;
    double now() const;

    // Adds an already made timer (see Timer::scheduled, which calls this on the current loop).
    std::shared_ptr<Timer> addTimer(double interval, bool repeats, Timer::Block block, TimerMode mode,
                                    QVariantMap userInfo = {});

    // Calls `fn` once after `delay` seconds on this loop (0: the next pass), in the given mode.
    // The returned timer can cancel it (invalidate()).
    std::shared_ptr<Timer> performAfterDelay(double delay, std::function<void()> fn,
                                             TimerMode mode = TimerMode::Default);

    // Queues `fn` to run on this loop's thread at its next pass. Callable from any thread.
    void perform(std::function<void()> fn);

    // Runs `fn` on the main thread. From the main thread with wait == true it runs at once, inline;
    // without waiting it is queued for the next pass. From another thread with wait == true the
    // caller blocks until `fn` has returned on the main thread.
    static void performOnMainThread(std::function<void()> fn, bool waitUntilDone);

    // One pass: runs the queued calls, then every timer due now that the current nesting allows.
    // Returns how many calls and timers ran. For loops not carried by Qt and for tests.
    int runOnce();

    // Blocks the calling (owning) thread while `condition()` holds, running calls posted to this
    // loop meanwhile; used to wait for workers from the main thread without deadlocking against
    // workers that call performOnMainThread(..., true). `condition` is evaluated under an internal
    // lock: keep it short and never post from it. Another thread changing what the condition
    // reads must call wakeUp() afterwards.
    void runWhile(const std::function<bool()>& condition);
    // The same, but returns at `deadline` (steady time) at the latest, whatever `condition` says.
    void runWhile(const std::function<bool()>& condition, std::chrono::steady_clock::time_point deadline);
    void wakeUp();

    // Nesting, see the top of this file.
    void enterNestedLoop();
    void leaveNestedLoop();
    int nestingDepth() const { return nestingDepth_; }
    class NestedScope {
    public:
        explicit NestedScope(RunLoop& loop = RunLoop::main()) : loop_(loop) { loop_.enterNestedLoop(); }
        ~NestedScope() { loop_.leaveNestedLoop(); }
        NestedScope(const NestedScope&) = delete;
        NestedScope& operator=(const NestedScope&) = delete;
    private:
        RunLoop& loop_;
    };

    // Number of valid timers scheduled here (for tests and leak checks).
    int timerCount() const;

    RunLoop(const RunLoop&) = delete;
    RunLoop& operator=(const RunLoop&) = delete;
    ~RunLoop();

private:
    friend class Timer;
    friend class ManualClock;
    RunLoop();

    void removeTimer(Timer* timer);
    int runPosted();
    int fireDueTimers(bool onePass);
    std::shared_ptr<Timer> nextDueTimer(double limit, unsigned long long maxSequence) const;
    double earliestFireTime() const; // +inf when nothing may fire now
    void rearm();                    // arms the Qt wake-up timer for the earliest fire time
    void ensureQtAnchor();
    void postQtDrain();
    int advanceManual(double seconds);

    Clock* clock_;
    std::vector<std::shared_ptr<Timer>> timers_;
    unsigned long long nextSequence_ = 1;
    int nestingDepth_ = 0;

    mutable std::mutex postedMutex_;
    std::condition_variable postedCv_;
    std::deque<std::function<void()>> posted_;
    bool drainQueued_ = false;

    QObject* anchor_ = nullptr; // lives in the owning thread; receives queued drains
    QTimer* wakeTimer_ = nullptr;
};

} // namespace kpv
