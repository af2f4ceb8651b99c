#include "foundation/Clock.h"

#include "foundation/RunLoop.h"

#include <chrono>

namespace kpv {

double SteadyClock::now() const
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

ManualClock::~ManualClock()
{
    if (loop_ != nullptr) {
        loop_->setClock(nullptr);
    }
}

int ManualClock::advance(double seconds)
{
    if (loop_ == nullptr) {
        if (seconds > 0) {
            now_ += seconds;
        }
        return 0;
    }
    return loop_->advanceManual(seconds);
}

} // namespace kpv
