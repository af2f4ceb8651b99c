#include "foundation/Timer.h"

#include "foundation/RunLoop.h"

namespace kpv {

std::shared_ptr<Timer> Timer::scheduled(double interval, bool repeats, Block block, TimerMode mode,
                                        QVariantMap userInfo)
{
    return RunLoop::current().addTimer(interval, repeats, std::move(block), mode, std::move(userInfo));
}

Timer::~Timer() = default;

void Timer::invalidate()
{
    if (!valid_) {
        return;
    }
    valid_ = false;
    // Releasing the block may release the last reference to this timer's owner; keep ourselves
    // alive until we are done.
    auto self = shared_from_this();
    Block released = std::move(block_);
    block_ = nullptr;
    if (loop_ != nullptr) {
        loop_->removeTimer(this);
    }
}

void Timer::fire()
{
    if (!valid_) {
        return;
    }
    auto self = shared_from_this();
    Block block = block_; // stays alive for the whole call, even if the block invalidates us
    if (!repeats_) {
        invalidate();
    }
    if (block) {
        block(*this);
    }
}

} // namespace kpv
