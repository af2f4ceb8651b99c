#include "foundation/RunLoop.h"

#include "foundation/Clock.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <limits>
#include <thread>

namespace kpv {

namespace {

// Captured during static initialisation, which runs on the thread that starts the process.
const std::thread::id g_mainThreadId = std::this_thread::get_id();

// A repeating timer never ticks faster than this, so that a zero interval cannot spin the loop.
constexpr double kMinRepeatInterval = 1e-4;

SteadyClock& steadyClock()
{
    static SteadyClock clock;
    return clock;
}

thread_local std::unique_ptr<RunLoop> t_loop;

} // namespace

RunLoop::RunLoop() : clock_(&steadyClock()) {}

RunLoop::~RunLoop()
{
    for (auto& timer : timers_) {
        timer->valid_ = false;
        timer->loop_ = nullptr;
        timer->block_ = nullptr;
    }
    timers_.clear();
    delete anchor_; // also deletes the wake-up timer, its child
}

RunLoop& RunLoop::main()
{
    // Never destroyed: Qt objects and worker threads may still reach it during exit.
    static RunLoop* loop = new RunLoop;
    return *loop;
}

RunLoop& RunLoop::current()
{
    if (isMainThread()) {
        return main();
    }
    if (!t_loop) {
        t_loop.reset(new RunLoop);
    }
    return *t_loop;
}

bool RunLoop::isMainThread()
{
    return std::this_thread::get_id() == g_mainThreadId;
}

void RunLoop::setClock(Clock* clock)
{
    Clock* next = clock != nullptr ? clock : &steadyClock();
    if (next == clock_) {
        return;
    }
    const double oldNow = clock_->now();
    const double newNow = next->now();
    for (auto& timer : timers_) {
        timer->fireTime_ = newNow + (timer->fireTime_ - oldNow);
    }
    if (clock_->isManual()) {
        static_cast<ManualClock*>(clock_)->loop_ = nullptr;
    }
    clock_ = next;
    if (clock_->isManual()) {
        auto* manual = static_cast<ManualClock*>(clock_);
        if (manual->loop_ != nullptr && manual->loop_ != this) {
            manual->loop_->setClock(nullptr);
        }
        manual->loop_ = this;
    }
    rearm();
}

Clock& RunLoop::clock() const
{
    return *clock_;
}

double RunLoop::now() const
{
    return clock_->now();
}

std::shared_ptr<Timer> RunLoop::addTimer(double interval, bool repeats, Timer::Block block, TimerMode mode,
                                         QVariantMap userInfo)
{
    if (!std::isfinite(interval) || interval < 0) {
        interval = std::isnan(interval) ? 0 : std::max(interval, 0.0);
        if (std::isinf(interval)) {
            interval = std::numeric_limits<double>::max() / 4;
        }
    }
    if (repeats) {
        interval = std::max(interval, kMinRepeatInterval);
    }
    std::shared_ptr<Timer> timer(new Timer);
    timer->loop_ = this;
    timer->block_ = std::move(block);
    timer->userInfo_ = std::move(userInfo);
    timer->interval_ = interval;
    timer->repeats_ = repeats;
    timer->mode_ = mode;
    timer->fireTime_ = now() + interval;
    timer->sequence_ = nextSequence_++;
    timer->valid_ = true;
    timers_.push_back(timer);
    rearm();
    return timer;
}

std::shared_ptr<Timer> RunLoop::performAfterDelay(double delay, std::function<void()> fn, TimerMode mode)
{
    return addTimer(delay, false, [fn = std::move(fn)](Timer&) { if (fn) fn(); }, mode);
}

void RunLoop::removeTimer(Timer* timer)
{
    auto it = std::find_if(timers_.begin(), timers_.end(), [timer](const auto& t) { return t.get() == timer; });
    if (it != timers_.end()) {
        timers_.erase(it);
        rearm();
    }
}

int RunLoop::timerCount() const
{
    return static_cast<int>(timers_.size());
}

void RunLoop::perform(std::function<void()> fn)
{
    if (!fn) {
        return;
    }
    {
        std::lock_guard lock(postedMutex_);
        posted_.push_back(std::move(fn));
    }
    postedCv_.notify_all();
    postQtDrain();
}

void RunLoop::performOnMainThread(std::function<void()> fn, bool waitUntilDone)
{
    if (!fn) {
        return;
    }
    if (isMainThread()) {
        if (waitUntilDone) {
            fn();
        } else {
            main().perform(std::move(fn));
        }
        return;
    }
    if (!waitUntilDone) {
        main().perform(std::move(fn));
        return;
    }
    struct Done {
        std::mutex mutex;
        std::condition_variable cv;
        bool done = false;
    };
    auto done = std::make_shared<Done>();
    main().perform([fn = std::move(fn), done] {
        fn();
        {
            std::lock_guard lock(done->mutex);
            done->done = true;
        }
        done->cv.notify_all();
    });
    std::unique_lock lock(done->mutex);
    done->cv.wait(lock, [&] { return done->done; });
}

int RunLoop::runPosted()
{
    std::deque<std::function<void()>> batch;
    {
        std::lock_guard lock(postedMutex_);
        batch.swap(posted_);
    }
    int count = 0;
    for (auto& fn : batch) {
        fn();
        ++count;
    }
    return count;
}

std::shared_ptr<Timer> RunLoop::nextDueTimer(double limit, unsigned long long maxSequence) const
{
    std::shared_ptr<Timer> best;
    for (const auto& timer : timers_) {
        if (!timer->valid_ || timer->fireTime_ > limit || timer->sequence_ >= maxSequence) {
            continue;
        }
        if (nestingDepth_ > 0 && timer->mode_ != TimerMode::Common) {
            continue;
        }
        if (!best || timer->fireTime_ < best->fireTime_ ||
            (timer->fireTime_ == best->fireTime_ && timer->sequence_ < best->sequence_)) {
            best = timer;
        }
    }
    return best;
}

double RunLoop::earliestFireTime() const
{
    double earliest = std::numeric_limits<double>::infinity();
    for (const auto& timer : timers_) {
        if (timer->valid_ && (nestingDepth_ == 0 || timer->mode_ == TimerMode::Common)) {
            earliest = std::min(earliest, timer->fireTime_);
        }
    }
    return earliest;
}

int RunLoop::fireDueTimers(bool)
{
    const double now = clock_->now();
    // Timers made by the timers of this pass wait for the next pass, even when already due.
    const unsigned long long limit = nextSequence_;
    int fired = 0;
    while (auto timer = nextDueTimer(now, limit)) {
        if (timer->repeats_) {
            // Reschedule before the block runs, skipping ticks that were missed while the loop
            // was busy (a manual clock never misses any: it stops at each fire time).
            double next = timer->fireTime_ + timer->interval_;
            if (next <= now) {
                next += std::floor((now - next) / timer->interval_ + 1) * timer->interval_;
            }
            timer->fireTime_ = next;
        }
        timer->fire();
        ++fired;
    }
    return fired;
}

int RunLoop::runOnce()
{
    int count = runPosted();
    count += fireDueTimers(true);
    rearm();
    return count;
}

int RunLoop::advanceManual(double seconds)
{
    auto* manual = static_cast<ManualClock*>(clock_);
    const double target = manual->now_ + (std::isfinite(seconds) && seconds > 0 ? seconds : 0);
    int fired = 0;
    for (;;) {
        runPosted();
        fired += fireDueTimers(true);
        if (clock_ != manual) {
            return fired; // a timer replaced the clock
        }
        const double next = earliestFireTime();
        bool postedWaiting;
        {
            std::lock_guard lock(postedMutex_);
            postedWaiting = !posted_.empty();
        }
        if (next > target) {
            if (postedWaiting) {
                continue;
            }
            break;
        }
        manual->now_ = std::max(manual->now_, next);
    }
    manual->now_ = target;
    return fired;
}

void RunLoop::runWhile(const std::function<bool()>& condition)
{
    runWhile(condition, std::chrono::steady_clock::time_point::max());
}

void RunLoop::runWhile(const std::function<bool()>& condition, std::chrono::steady_clock::time_point deadline)
{
    const bool bounded = deadline != std::chrono::steady_clock::time_point::max();
    std::unique_lock lock(postedMutex_);
    while (condition() && (!bounded || std::chrono::steady_clock::now() < deadline)) {
        if (!posted_.empty()) {
            lock.unlock();
            runPosted();
            lock.lock();
            continue;
        }
        if (bounded) {
            postedCv_.wait_until(lock, deadline);
        } else {
            postedCv_.wait(lock);
        }
    }
}

void RunLoop::wakeUp()
{
    {
        std::lock_guard lock(postedMutex_);
    }
    postedCv_.notify_all();
}

void RunLoop::enterNestedLoop()
{
    ++nestingDepth_;
    rearm();
}

void RunLoop::leaveNestedLoop()
{
    if (nestingDepth_ > 0) {
        --nestingDepth_;
    }
    rearm();
}

void RunLoop::ensureQtAnchor()
{
    // Called with postedMutex_ held.
    if (anchor_ != nullptr || QCoreApplication::instance() == nullptr) {
        return;
    }
    // A worker thread's loop gets its anchor only from its own thread, where it then lives.
    if (this != &main() && this != t_loop.get()) {
        return;
    }
    auto* anchor = new QObject;
    if (this == &main()) {
        anchor->moveToThread(QCoreApplication::instance()->thread());
    }
    anchor_ = anchor;
}

void RunLoop::postQtDrain()
{
    QObject* anchor;
    {
        std::lock_guard lock(postedMutex_);
        ensureQtAnchor();
        if (anchor_ == nullptr || drainQueued_) {
            return;
        }
        drainQueued_ = true;
        anchor = anchor_;
    }
    QMetaObject::invokeMethod(
        anchor,
        [this] {
            {
                std::lock_guard lock(postedMutex_);
                drainQueued_ = false;
            }
            runPosted();
            rearm();
        },
        Qt::QueuedConnection);
}

void RunLoop::rearm()
{
    if (clock_->isManual()) {
        if (wakeTimer_ != nullptr) {
            wakeTimer_->stop();
        }
        return;
    }
    const bool owner = isMainThread() ? this == &main() : this == t_loop.get();
    if (!owner) {
        return;
    }
    if (wakeTimer_ == nullptr) {
        {
            std::lock_guard lock(postedMutex_);
            ensureQtAnchor();
        }
        if (anchor_ == nullptr || anchor_->thread() != QThread::currentThread()) {
            return;
        }
        wakeTimer_ = new QTimer(anchor_);
        wakeTimer_->setSingleShot(true);
        wakeTimer_->setTimerType(Qt::PreciseTimer);
        QObject::connect(wakeTimer_, &QTimer::timeout, anchor_, [this] {
            runPosted();
            fireDueTimers(true);
            rearm();
        });
    }
    const double earliest = earliestFireTime();
    if (!std::isfinite(earliest)) {
        wakeTimer_->stop();
        return;
    }
    const double wait = std::max(0.0, earliest - clock_->now());
    const double ms = std::min(std::ceil(wait * 1000.0), double(std::numeric_limits<int>::max()));
    wakeTimer_->start(static_cast<int>(ms));
}

} // namespace kpv
