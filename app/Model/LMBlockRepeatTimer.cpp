#include "Model/LMBlockRepeatTimer.h"

LMBlockRepeatTimer::~LMBlockRepeatTimer()
{
    *alive_ = false;
    if (timer_) {
        timer_->invalidate();
        timer_.reset();
    }
}

void LMBlockRepeatTimer::start(double interval, BeginBlock beginBlock, RepeatBlock repeatBlock, EndBlock endBlock,
                               QVariantMap userInfo)
{
    const std::shared_ptr<bool> alive = alive_;
    stop(); // the running run learns it was stopped from outside
    if (!*alive) {
        return; // the old run's end block destroyed us
    }
    if (beginBlock) {
        beginBlock();
        if (!*alive) {
            return;
        }
    }
    // The begin block may itself have started a run; this start wins, ending that one.
    stop();
    repeatBlock_ = std::move(repeatBlock);
    endBlock_ = std::move(endBlock);
    userInfo_ = std::move(userInfo);
    timer_ = kpv::Timer::scheduled(interval, true, [this](kpv::Timer& t) { timerHandler(&t); },
                                   kpv::TimerMode::Common);
}

void LMBlockRepeatTimer::stop()
{
    endTimer(true);
}

void LMBlockRepeatTimer::endTimer(bool stoppedFromOutside)
{
    if (!timer_) {
        return; // the end block is never called twice
    }
    auto timer = std::move(timer_);
    timer_.reset();
    timer->invalidate();
    // Take the ended run's data first: the end block may start a new run with its own.
    EndBlock end = std::move(endBlock_);
    endBlock_ = nullptr;
    RepeatBlock repeat = std::move(repeatBlock_); // released when this call returns
    repeatBlock_ = nullptr;
    const QVariantMap info = std::move(userInfo_);
    userInfo_.clear();
    const QVariantMap* outer = endingInfo_;
    endingInfo_ = &info;
    const std::shared_ptr<bool> alive = alive_;
    if (end) {
        end(stoppedFromOutside);
    }
    if (*alive) {
        endingInfo_ = outer;
    }
}

bool LMBlockRepeatTimer::isTimerRunning() const
{
    return timer_ != nullptr;
}

QVariantMap LMBlockRepeatTimer::userInfo() const
{
    return endingInfo_ != nullptr && !timer_ ? *endingInfo_ : userInfo_;
}

void LMBlockRepeatTimer::timerHandler(kpv::Timer* timer)
{
    if (!timer_ || timer_.get() != timer || !repeatBlock_) {
        return;
    }
    bool stop = false;
    RepeatBlock repeat = repeatBlock_; // alive for the whole call, even if the block restarts us
    const std::shared_ptr<bool> alive = alive_;
    repeat(&stop);
    if (!*alive) {
        return; // the block destroyed us
    }
    // Only the run that ticked may end itself; a restart inside the block installed a new timer.
    if (stop && timer_.get() == timer) {
        endTimer(false);
    }
}
