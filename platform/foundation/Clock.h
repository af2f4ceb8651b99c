#pragma once
// Time sources for the run loop. Production uses SteadyClock; tests install a ManualClock on the
// run loop and drive every timer by advancing it, without sleeping and without a Qt event loop.

namespace kpv {

class RunLoop;

// Seconds on a monotonic scale; only differences mean anything.
class Clock {
public:
    virtual ~Clock() = default;
    virtual double now() const = 0;
    // True when the clock only moves when told to (the run loop then never arms real Qt timers).
    virtual bool isManual() const { return false; }
};

// The real monotonic clock (std::chrono::steady_clock).
class SteadyClock final : public Clock {
public:
    double now() const override;
};

// A clock that moves only through advance(). Install it with RunLoop::setClock(&clock); advance()
// then fires that loop's due timers in order of their fire times (equal times: in creation order),
// moving now() to each fire time before the timer runs. Timers that a firing timer schedules for
// the same instant run on the next pass, as on a real loop. Posted calls (RunLoop::perform) queued
// for the loop run at the start of each pass as well.
// Main-thread (owning thread of the loop) use only.
class ManualClock final : public Clock {
public:
    explicit ManualClock(double start = 1000.0) : now_(start) {}
    ~ManualClock() override;

    double now() const override { return now_; }
    bool isManual() const override { return true; }

    // Moves time forward by `seconds` (>= 0; 0 runs one pass of what is due now) and fires the
    // due timers. Returns the number of timers fired.
    int advance(double seconds);

private:
    friend class RunLoop;
    double now_;
    RunLoop* loop_ = nullptr;
};

} // namespace kpv
