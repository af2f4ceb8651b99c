#include "Model/LMBlockTimer.h"

LMBlockTimer::~LMBlockTimer()
{
    *alive_ = false;
    stop();
}

void LMBlockTimer::start(double interval, Block timerBlock, QVariantMap userInfo)
{
    stop(); // a pending run is dropped without calling its block
    handleBlock_ = std::move(timerBlock);
    userInfo_ = std::move(userInfo);
    timer_ = kpv::Timer::scheduled(interval, false, [this](kpv::Timer& t) { timerHandler(&t); },
                                   kpv::TimerMode::Common);
}

void LMBlockTimer::stop()
{
    if (!timer_) {
        return;
    }
    auto timer = std::move(timer_);
    timer_.reset();
    timer->invalidate();
    handleBlock_ = nullptr;
    userInfo_.clear();
}

bool LMBlockTimer::isTimerRunning() const
{
    return timer_ != nullptr;
}

QVariantMap LMBlockTimer::userInfo() const
{
    // Inside the block the firing run's data answers, even after the block started a new run.
    return firingInfo_ != nullptr ? *firingInfo_ : userInfo_;
}

void LMBlockTimer::timerHandler(kpv::Timer* timer)
{
    if (!timer_ || timer_.get() != timer) {
        return; // stopped, or a stale timer of an earlier run
    }
    timer_->invalidate();
    timer_.reset();
    // This run's block and user information; the block may start a new run, which installs its own.
    Block block = std::move(handleBlock_);
    handleBlock_ = nullptr;
    const QVariantMap runInfo = std::move(userInfo_);
    userInfo_.clear();
    const QVariantMap* outer = firingInfo_;
    firingInfo_ = &runInfo;
    const std::shared_ptr<bool> alive = alive_;
    if (block) {
        block();
    }
    if (*alive) {
        firingInfo_ = outer;
    }
}
