#pragma once
// A timer on a run loop. Made through Timer::scheduled (or RunLoop::addTimer); the run loop keeps
// the timer alive while it is valid, so a caller may drop its pointer and the timer still fires.
// A one-shot timer invalidates itself before its block runs. Timers belong to the thread that
// scheduled them: fire, invalidate and query them there only.

#include <QVariantMap>
#include <functional>
#include <memory>

namespace kpv {

class RunLoop;

enum class TimerMode {
    Default, // waits while a nested loop (modal dialog, tracking loop) runs
    Common,  // fires in the outer loop and inside nested loops alike
};

class Timer : public std::enable_shared_from_this<Timer> {
public:
    using Block = std::function<void(Timer&)>;

    // Schedules a timer on the current thread's run loop. `interval` in seconds; a negative
    // interval counts as 0 for a one-shot timer; a repeating timer never repeats faster than every
    // 0.1 ms. The first fire comes one interval after now.
    static std::shared_ptr<Timer> scheduled(double interval, bool repeats, Block block,
                                             TimerMode mode = TimerMode::Default,
                                             QVariantMap userInfo = {});

    // Stops the timer for good; the block is released. Safe to call from inside the block and
    // more than once.
    void invalidate();
    bool isValid() const { return valid_; }

    // Fires now, out of schedule (a one-shot timer then invalidates itself). Nothing when invalid.
    void fire();

    double timeInterval() const { return interval_; }
    bool repeats() const { return repeats_; }
    TimerMode mode() const { return mode_; }
    double fireTime() const { return fireTime_; } // on the loop's clock
    const QVariantMap& userInfo() const { return userInfo_; }

    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;
    ~Timer();

private:
    friend class RunLoop;
    Timer() = default;

    RunLoop* loop_ = nullptr;
    Block block_;
    QVariantMap userInfo_;
    double interval_ = 0;
    double fireTime_ = 0;
    unsigned long long sequence_ = 0;
    TimerMode mode_ = TimerMode::Default;
    bool repeats_ = false;
    bool valid_ = false;
};

} // namespace kpv
