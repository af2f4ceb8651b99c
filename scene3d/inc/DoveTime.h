// The engine clock: a monotonic clock in milliseconds and microseconds. Animations and the frame
// limiter measure intervals with it, so a change of the time of day neither jumps nor freezes them.
#ifndef DOVE_TIME_H
#define DOVE_TIME_H

#include <cstdint>
#include <functional>

namespace Dove {

class TimeGlobal {
public:
    static TimeGlobal* getSingleton();
    static void releaseSingleton();

    // Seconds * 1000 + microseconds rounded to the nearest millisecond, wrapping modulo 2^32. The
    // origin is arbitrary (the system's monotonic clock): only differences mean anything.
    uint32_t getTimeStampInMillisecond() const;
    uint64_t getTimeStampInMicrosecond() const;

    // Replaces the clock (seconds, microseconds) for tests; an empty function restores the
    // system's monotonic clock. The source survives the singleton's release.
    using ClockSource = std::function<void(int64_t& seconds, int64_t& microseconds)>;
    static void setClockSource(ClockSource source);

private:
    TimeGlobal() = default;
    static void now(int64_t& seconds, int64_t& microseconds);
};

uint32_t getTimeStampInMillisecond();
uint64_t getTimeStampInMicrosecond();

}  // namespace Dove

#endif
