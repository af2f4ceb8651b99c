#include "foundation/OperationQueue.h"

#include "OperationLock.h"
#include "foundation/RunLoop.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>
#include <utility>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace kpv {

namespace {

class BlockOperation final : public Operation {
public:
    explicit BlockOperation(std::function<void()> block) : block_(std::move(block)) {}
    void main() override
    {
        if (block_) {
            block_();
        }
    }

private:
    std::function<void()> block_;
};

// How far below the program a thread that runs background work goes (in steps of niceness, as
// far as the lowest): the window's thread and the work someone waits for get most of a processor
// they share with it, yet it still progresses on a busy machine. Relative to the program's own
// priority, so that background work still yields when the whole program was started lowered.
constexpr int kBackgroundNiceSteps = 10;
constexpr int kLowestNice = 19;

// Whether the calling thread runs at the lowered priority of background work.
thread_local bool t_lowered = false;

// Lowers the calling thread's scheduling priority (not the process's). A thread may not raise it
// again without privileges, so a thread lowered once runs only background work afterwards.
void lowerCurrentThreadPriority()
{
    if (t_lowered)
        return;
    t_lowered = true;
    const auto tid = static_cast<id_t>(syscall(SYS_gettid));
    errno = 0;
    const int now = getpriority(PRIO_PROCESS, tid);
    if (errno == 0 && now < kLowestNice)
        setpriority(PRIO_PROCESS, tid, std::min(now + kBackgroundNiceSteps, kLowestNice));
}

// Makes the workers that lowered threads ask for, for every queue: a thread inherits the priority
// of the thread that made it, so only a thread of normal priority may make workers. Started with
// the first background operation (no thread is lowered before that one runs), ended at exit.
struct WorkerLauncher {
    std::thread thread;
    std::condition_variable wake;
    bool running = false;  // guarded by the global operation lock
    bool stopping = false; // same
};

WorkerLauncher& workerLauncher()
{
    // Never destroyed, so that queues outliving the exit handlers still find it (stopped).
    static WorkerLauncher* launcher = new WorkerLauncher;
    static struct Stopper {
        ~Stopper()
        {
            {
                std::lock_guard lock(operationGlobals().mutex);
                launcher->stopping = true;
                launcher->running = false;
            }
            launcher->wake.notify_all();
            if (launcher->thread.joinable())
                launcher->thread.join();
        }
    } stopper;
    return *launcher;
}

} // namespace

struct OperationQueue::Worker {
    std::thread thread;
    bool exited = false;
    // Lowered by the background work it ran: it goes on taking background work only.
    bool lowered = false;
};



OperationQueue::OperationQueue()
{
    auto& g = operationGlobals();
    std::lock_guard lock(g.mutex);
    g.queues.push_back(this);
}

OperationQueue::~OperationQueue()
{
    waitUntilAllOperationsAreFinished();
    auto& g = operationGlobals();
    std::vector<std::unique_ptr<Worker>> workers;
    {
        std::lock_guard lock(g.mutex);
        shuttingDown_ = true;
        g.queues.erase(std::remove(g.queues.begin(), g.queues.end(), this), g.queues.end());
        workers.swap(workers_);
    }
    workCv_.notify_all();
    loweredCv_.notify_all();
    // Joining makes sure every worker's thread_local objects are gone when we return.
    for (auto& w : workers) {
        if (w->thread.joinable()) {
            w->thread.join();
        }
    }
}

void OperationQueue::setMaxConcurrentOperationCount(int count)
{
    std::lock_guard lock(operationGlobals().mutex);
    maxConcurrent_ = (count < 1 && count != DefaultMaxConcurrentOperationCount) ? 1 : count;
    dispatchLocked();
}

int OperationQueue::maxConcurrentOperationCount() const
{
    std::lock_guard lock(operationGlobals().mutex);
    return maxConcurrent_;
}

void OperationQueue::setMaxConcurrentBackgroundOperationCount(int count)
{
    std::lock_guard lock(operationGlobals().mutex);
    maxBackground_ = (count < 1 && count != -1) ? 1 : count;
    dispatchLocked();
}

int OperationQueue::maxConcurrentBackgroundOperationCount() const
{
    std::lock_guard lock(operationGlobals().mutex);
    return maxBackground_;
}

void OperationQueue::setName(const QString& name)
{
    std::lock_guard lock(operationGlobals().mutex);
    name_ = name;
}

QString OperationQueue::name() const
{
    std::lock_guard lock(operationGlobals().mutex);
    return name_;
}

void OperationQueue::setIdleWorkerTimeout(double seconds)
{
    std::lock_guard lock(operationGlobals().mutex);
    idleTimeout_ = std::max(0.0, seconds);
}

int OperationQueue::effectiveMaxLocked() const
{
    if (maxConcurrent_ == DefaultMaxConcurrentOperationCount) {
        return std::max(1u, std::thread::hardware_concurrency());
    }
    return std::max(1, maxConcurrent_);
}

void OperationQueue::addOperation(std::shared_ptr<Operation> op)
{
    if (!op) {
        return;
    }
    auto& g = operationGlobals();
    std::vector<std::thread> exited;
    {
        std::lock_guard lock(g.mutex);
        if (op->queue_ != nullptr || op->state_ != Operation::State::Pending || shuttingDown_) {
            return;
        }
        op->queue_ = this;
        op->sequence_ = g.nextSequence++;
        if (op->qos_ == Operation::QualityOfService::Background && !t_lowered) {
            WorkerLauncher& launcher = workerLauncher();
            if (!launcher.running && !launcher.stopping) {
                launcher.running = true;
                launcher.thread = std::thread(&OperationQueue::launcherLoop);
            }
        }
        ops_.push_back(std::move(op));
        joinExitedWorkersLocked(exited);
        dispatchLocked();
    }
    for (auto& t : exited) {
        t.join();
    }
}

void OperationQueue::addOperations(const std::vector<std::shared_ptr<Operation>>& ops, bool waitUntilFinished)
{
    for (const auto& op : ops) {
        addOperation(op);
    }
    if (waitUntilFinished) {
        for (const auto& op : ops) {
            if (op) {
                op->waitUntilFinished();
            }
        }
    }
}

std::shared_ptr<Operation> OperationQueue::addOperationWithBlock(std::function<void()> block)
{
    auto op = std::make_shared<BlockOperation>(std::move(block));
    addOperation(op);
    return op;
}

void OperationQueue::cancelAllOperations()
{
    std::lock_guard lock(operationGlobals().mutex);
    for (auto& op : ops_) {
        op->cancelled_ = true;
    }
    dispatchLocked();
}

bool OperationQueue::waitUntilAllOperationsAreFinished(double timeoutSeconds)
{
    auto& g = operationGlobals();
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::microseconds(std::int64_t(std::max(0.0, timeoutSeconds) * 1e6));
    if (RunLoop::isMainThread()) {
        // Waits on the main loop itself, so nothing is left behind once the wait is over.
        RunLoop::main().runWhile([&] {
            std::lock_guard lock(g.mutex);
            return !ops_.empty();
        }, deadline);
        std::lock_guard lock(g.mutex);
        return ops_.empty();
    }
    std::unique_lock lock(g.mutex);
    return g.finished.wait_until(lock, deadline, [&] { return ops_.empty(); });
}

void OperationQueue::waitUntilAllOperationsAreFinished()
{
    auto& g = operationGlobals();
    if (RunLoop::isMainThread()) {
        RunLoop::main().runWhile([&] {
            std::lock_guard lock(g.mutex);
            return !ops_.empty();
        });
        return;
    }
    std::unique_lock lock(g.mutex);
    g.finished.wait(lock, [&] { return ops_.empty(); });
}

std::vector<std::shared_ptr<Operation>> OperationQueue::operations() const
{
    std::lock_guard lock(operationGlobals().mutex);
    return ops_;
}

int OperationQueue::operationCount() const
{
    std::lock_guard lock(operationGlobals().mutex);
    return static_cast<int>(ops_.size());
}

std::shared_ptr<Operation> OperationQueue::takeNextLocked(bool backgroundOnly)
{
    std::shared_ptr<Operation> best;
    const bool backgroundFull = maxBackground_ != -1 && executingBackground_ >= maxBackground_;
    for (const auto& op : ops_) {
        if (op->state_ != Operation::State::Pending) {
            continue;
        }
        // A lowered worker may end a cancelled operation of any kind: that runs no work.
        if (backgroundOnly && !op->cancelled_ && op->qos_ != Operation::QualityOfService::Background) {
            continue;
        }
        if (backgroundFull && op->priority_ < 0 && !op->cancelled_) {
            continue;
        }
        const bool ready = op->cancelled_ ||
                           std::all_of(op->dependencies_.begin(), op->dependencies_.end(), [](const auto& d) {
                               return d->state_ == Operation::State::Finished;
                           });
        if (!ready) {
            continue;
        }
        // Cancelled operations leave first: they hold a worker only for their completion block.
        auto rank = [](const Operation& o) { return o.cancelled_ ? 1 : 0; };
        if (!best || rank(*op) > rank(*best) ||
            (rank(*op) == rank(*best) &&
             (op->priority_ > best->priority_ ||
              (op->priority_ == best->priority_ && op->sequence_ < best->sequence_)))) {
            best = op;
        }
    }
    return best;
}

void OperationQueue::dispatchLocked()
{
    const int max = effectiveMaxLocked();
    if (executing_ >= max) {
        return;
    }
    const bool backgroundFull = maxBackground_ != -1 && executingBackground_ >= maxBackground_;
    int ready = 0, readyBackground = 0;
    for (const auto& op : ops_) {
        if (op->state_ == Operation::State::Pending &&
            (op->cancelled_ || std::all_of(op->dependencies_.begin(), op->dependencies_.end(), [](const auto& d) {
                 return d->state_ == Operation::State::Finished;
             }))) {
            ++ready;
            // What a lowered worker would take now (see takeNextLocked).
            const bool lowerable = op->cancelled_ || (op->qos_ == Operation::QualityOfService::Background &&
                                                      !(backgroundFull && op->priority_ < 0));
            readyBackground += lowerable ? 1 : 0;
        }
    }
    const int wanted = std::min(ready, max - executing_);
    if (wanted <= 0) {
        return;
    }
    // Lowered workers are woken only for work they may take: woken for nothing, each would
    // dispatch again before it waits, and wake the others.
    if (idleWorkers_ > 0) {
        workCv_.notify_all();
    }
    if (idleLowered_ > 0 && readyBackground > 0) {
        loweredCv_.notify_all();
    }
    // An idle lowered worker serves only background work: for the rest it neither counts as a
    // worker at hand nor takes a place among the live ones (it leaves when idle long enough).
    const int atHand = idleWorkers_ + std::min(idleLowered_, readyBackground);
    int live = pendingSpawns_ - idleLowered_;
    for (const auto& w : workers_) {
        live += w->exited ? 0 : 1;
    }
    const int spawn = std::min(wanted - atHand, max - live);
    if (spawn <= 0) {
        return;
    }
    if (t_lowered && workerLauncher().running) {
        pendingSpawns_ += spawn;
        workerLauncher().wake.notify_one();
        return;
    }
    spawnWorkersLocked(spawn);
}

void OperationQueue::spawnWorkersLocked(int count)
{
    for (int i = 0; i < count && !shuttingDown_; ++i) {
        auto worker = std::make_unique<Worker>();
        Worker* raw = worker.get();
        worker->thread = std::thread([this, raw] { workerLoop(raw); });
        workers_.push_back(std::move(worker));
    }
}

void OperationQueue::launcherLoop()
{
    auto& g = operationGlobals();
    WorkerLauncher& launcher = workerLauncher();
    std::unique_lock lock(g.mutex);
    for (;;) {
        launcher.wake.wait(lock, [&] {
            return launcher.stopping ||
                   std::any_of(g.queues.begin(), g.queues.end(), [](const auto* q) { return q->pendingSpawns_ > 0; });
        });
        // Asked for before the stop too: their queues wait for them.
        for (OperationQueue* q : g.queues) {
            q->spawnWorkersLocked(std::exchange(q->pendingSpawns_, 0));
        }
        if (launcher.stopping) {
            break;
        }
    }
}

void OperationQueue::joinExitedWorkersLocked(std::vector<std::thread>& out)
{
    auto it = std::stable_partition(workers_.begin(), workers_.end(), [](const auto& w) { return !w->exited; });
    for (auto i = it; i != workers_.end(); ++i) {
        out.push_back(std::move((*i)->thread));
    }
    workers_.erase(it, workers_.end());
}

void OperationQueue::workerLoop(Worker* self)
{
    auto& g = operationGlobals();
    std::unique_lock lock(g.mutex);
    for (;;) {
        std::shared_ptr<Operation> op;
        if (executing_ < effectiveMaxLocked()) {
            op = takeNextLocked(self->lowered);
        }
        if (op) {
            op->state_ = Operation::State::Executing;
            ++executing_;
            const bool background = op->priority_ < 0 && !op->cancelled_;
            const bool lowered = op->qos_ == Operation::QualityOfService::Background && !op->cancelled_;
            executingBackground_ += background ? 1 : 0;
            lock.unlock();
            if (lowered && !self->lowered) {
                lowerCurrentThreadPriority();
                self->lowered = true;
            }
            op->runOnThisThread();
            lock.lock();
            --executing_;
            executingBackground_ -= background ? 1 : 0;
            op->state_ = Operation::State::Finished;
            op->queue_ = nullptr;
            ops_.erase(std::remove(ops_.begin(), ops_.end(), op), ops_.end());
            for (OperationQueue* q : g.queues) {
                q->dispatchLocked();
            }
            lock.unlock();
            g.finished.notify_all();
            RunLoop::main().wakeUp();
            op.reset(); // the operation may be destroyed here, outside the lock
            lock.lock();
            continue;
        }
        if (shuttingDown_) {
            break;
        }
        int& idle = self->lowered ? idleLowered_ : idleWorkers_;
        ++idle;
        if (self->lowered) {
            // Work this worker may not take finds a worker of its own now that it idles.
            dispatchLocked();
        }
        const auto timeout = std::chrono::duration<double>(idleTimeout_);
        const bool timedOut =
            (self->lowered ? loweredCv_ : workCv_).wait_for(lock, timeout) == std::cv_status::timeout;
        --idle;
        if (timedOut && (executing_ >= effectiveMaxLocked() || !takeNextLocked(self->lowered))) {
            break;
        }
    }
    self->exited = true;
}

} // namespace kpv
