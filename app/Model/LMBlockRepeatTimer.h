#pragma once
// A repeating timer for animations, in the common modes of the current thread's run loop.
// A run: the begin block at start, the repeat block at every tick (it may set *stop to end the run),
// and the end block exactly once when the run ends, told whether it was stopped from outside
// (stop() or a new start: true) or by the repeat block (false). A new start ends the running run
// first. Destroying the object ends a running run silently (no end block: the owner is going away).
// Thread: the one that starts it.

#include "foundation/Timer.h"

#include <QVariantMap>
#include <functional>
#include <memory>

class LMBlockRepeatTimer {
public:
    using BeginBlock = std::function<void()>;
    using RepeatBlock = std::function<void(bool* stop)>;
    using EndBlock = std::function<void(bool stoppedFromOutside)>;

    LMBlockRepeatTimer() = default;
    ~LMBlockRepeatTimer();
    LMBlockRepeatTimer(const LMBlockRepeatTimer&) = delete;
    LMBlockRepeatTimer& operator=(const LMBlockRepeatTimer&) = delete;

    // Any block may be empty. The first tick comes one interval after the start.
    void start(double interval, BeginBlock beginBlock, RepeatBlock repeatBlock, EndBlock endBlock,
               QVariantMap userInfo = {});
    // Ends a running run with the flag true; nothing when idle.
    void stop();
    // Ends a running run, calling its end block with `stoppedFromOutside`; nothing when idle.
    void endTimer(bool stoppedFromOutside);
    bool isTimerRunning() const;
    QVariantMap userInfo() const;

    // The tick (called by the platform timer).
    void timerHandler(kpv::Timer* timer);

private:
    RepeatBlock repeatBlock_;
    EndBlock endBlock_;
    QVariantMap userInfo_;
    const QVariantMap* endingInfo_ = nullptr; // the ended run's data while its end block runs
    std::shared_ptr<kpv::Timer> timer_;
    // Cleared by the destructor: any block may destroy the timer's owner, and the caller of the
    // block must then touch nothing of this object.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};
