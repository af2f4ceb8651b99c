#include "Model/LMPerformSelectorWrapper.h"

#include "foundation/RunLoop.h"

void LMPerformSelectorWrapper::performWithBlock(Block block, double delay)
{
    delayPerformBlock_ = block;
    // Each request carries its own block: a second request must not replace the first one's.
    kpv::RunLoop::current().performAfterDelay(delay, std::move(block), kpv::TimerMode::Default);
}

void LMPerformSelectorWrapper::performOnMainThreadWithBlock(Block block, bool waitUntilDone)
{
    delayPerformBlock_ = block;
    kpv::RunLoop::performOnMainThread(std::move(block), waitUntilDone);
}

void LMPerformSelectorWrapper::performHandler()
{
    if (delayPerformBlock_) {
        auto block = delayPerformBlock_;
        block();
    }
}
