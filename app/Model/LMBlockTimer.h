#pragma once
// A one-shot timer that calls a block, in the common modes of the current thread's run loop (it
// also fires inside modal dialogs and tracking loops). One object carries at most one run; a new
// start drops a pending run without calling its block. Owners keep the object in a field and reuse
// it. Destroying the object stops a pending run. Thread: the one that starts it.

#include "foundation/Timer.h"

#include <QVariantMap>
#include <functional>
#include <memory>

class LMBlockTimer {
public:
    using Block = std::function<void()>;

    LMBlockTimer() = default;
    ~LMBlockTimer();
    LMBlockTimer(const LMBlockTimer&) = delete;
    LMBlockTimer& operator=(const LMBlockTimer&) = delete;

    // Calls `timerBlock` once after `interval` seconds. `userInfo` belongs to this run and can be
    // read through userInfo() until the block returns (even when the block starts a new run).
    void start(double interval, Block timerBlock, QVariantMap userInfo = {});
    // Drops a pending run without calling its block; nothing when idle.
    void stop();
    // True from start until the timer fires (false inside the block) or stops.
    bool isTimerRunning() const;
    // The current run's user information (empty when there is none).
    QVariantMap userInfo() const;

    // The firing target (called by the platform timer).
    void timerHandler(kpv::Timer* timer);

private:
    QVariantMap userInfo_;
    const QVariantMap* firingInfo_ = nullptr; // the firing run's data while its block runs
    Block handleBlock_;
    std::shared_ptr<kpv::Timer> timer_;
    // Cleared by the destructor: a block may destroy its timer's owner, and the handler must then
    // touch nothing of this object after the block returns.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};
