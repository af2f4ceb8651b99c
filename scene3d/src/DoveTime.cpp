#include "DoveTime.h"

#include <ctime>

namespace Dove {

namespace {
TimeGlobal* gTime = nullptr;
TimeGlobal::ClockSource& clockSource() {
    static TimeGlobal::ClockSource source;
    return source;
}
}  // namespace

TimeGlobal* TimeGlobal::getSingleton() {
    if (!gTime) gTime = new TimeGlobal();
    return gTime;
}

void TimeGlobal::releaseSingleton() {
    delete gTime;
    gTime = nullptr;
}

void TimeGlobal::setClockSource(ClockSource source) { clockSource() = std::move(source); }

void TimeGlobal::now(int64_t& seconds, int64_t& microseconds) {
    if (clockSource()) {
        clockSource()(seconds, microseconds);
        return;
    }
    // Monotonic: setting the system time must not make an animation jump or stall.
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    seconds = ts.tv_sec;
    microseconds = ts.tv_nsec / 1000;
}

uint32_t TimeGlobal::getTimeStampInMillisecond() const {
    int64_t s = 0, us = 0;
    now(s, us);
    // 32-bit unsigned arithmetic on purpose: the value wraps about every 49.7 days.
    return uint32_t(uint64_t(s)) * 1000u + uint32_t(uint64_t(us) + 500u) / 1000u;
}

uint64_t TimeGlobal::getTimeStampInMicrosecond() const {
    int64_t s = 0, us = 0;
    now(s, us);
    return uint64_t(s) * 1000000u + uint64_t(us);
}

uint32_t getTimeStampInMillisecond() { return TimeGlobal::getSingleton()->getTimeStampInMillisecond(); }
uint64_t getTimeStampInMicrosecond() { return TimeGlobal::getSingleton()->getTimeStampInMicrosecond(); }

}  // namespace Dove
