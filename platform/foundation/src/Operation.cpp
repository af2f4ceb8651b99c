#include "foundation/Operation.h"

#include "OperationLock.h"
#include "foundation/OperationQueue.h"
#include "foundation/RunLoop.h"

#include <QDebug>
#include <algorithm>
#include <exception>

namespace kpv {

OperationGlobals& operationGlobals()
{
    // Never destroyed: worker threads may finish while static objects are torn down.
    static OperationGlobals* globals = new OperationGlobals;
    return *globals;
}

Operation::Operation() = default;
Operation::~Operation() = default;

void Operation::start()
{
    auto& g = operationGlobals();
    {
        std::lock_guard lock(g.mutex);
        if (state_ != State::Pending || queue_ != nullptr) {
            return;
        }
        state_ = State::Executing;
    }
    runOnThisThread();
    markFinished();
}

void Operation::runOnThisThread()
{
    auto self = shared_from_this();
    if (!isCancelled()) {
        try {
            main();
        } catch (const std::exception& e) {
            qWarning("Operation failed with an exception: %s", e.what());
        } catch (...) {
            qWarning("Operation failed with an exception");
        }
    }
    std::function<void()> completion;
    {
        std::lock_guard lock(operationGlobals().mutex);
        completion = std::move(completion_);
        completion_ = nullptr;
    }
    if (completion) {
        completion();
    }
}

void Operation::markFinished()
{
    auto& g = operationGlobals();
    {
        std::lock_guard lock(g.mutex);
        state_ = State::Finished;
        // Operations that waited for this one may be ready now, in whatever queue they are.
        for (OperationQueue* q : g.queues) {
            q->dispatchLocked();
        }
    }
    g.finished.notify_all();
    RunLoop::main().wakeUp();
}

void Operation::cancel()
{
    cancelled_ = true;
    auto& g = operationGlobals();
    std::lock_guard lock(g.mutex);
    if (queue_ != nullptr && state_ == State::Pending) {
        queue_->dispatchLocked(); // a cancelled operation is ready at once
    }
}

bool Operation::isExecuting() const
{
    std::lock_guard lock(operationGlobals().mutex);
    return state_ == State::Executing;
}

bool Operation::isFinished() const
{
    std::lock_guard lock(operationGlobals().mutex);
    return state_ == State::Finished;
}

bool Operation::isReady() const
{
    std::lock_guard lock(operationGlobals().mutex);
    if (isCancelled()) {
        return true;
    }
    return std::all_of(dependencies_.begin(), dependencies_.end(),
                       [](const auto& d) { return d->state_ == State::Finished; });
}

void Operation::setQueuePriority(int priority)
{
    std::lock_guard lock(operationGlobals().mutex);
    priority_ = priority;
}

void Operation::setQualityOfService(QualityOfService qos)
{
    std::lock_guard lock(operationGlobals().mutex);
    qos_ = qos;
}

Operation::QualityOfService Operation::qualityOfService() const
{
    std::lock_guard lock(operationGlobals().mutex);
    return qos_;
}

int Operation::queuePriority() const
{
    std::lock_guard lock(operationGlobals().mutex);
    return priority_;
}

void Operation::addDependency(std::shared_ptr<Operation> op)
{
    if (!op || op.get() == this) {
        return;
    }
    std::lock_guard lock(operationGlobals().mutex);
    if (std::find(dependencies_.begin(), dependencies_.end(), op) == dependencies_.end()) {
        dependencies_.push_back(std::move(op));
    }
}

void Operation::removeDependency(const std::shared_ptr<Operation>& op)
{
    auto& g = operationGlobals();
    std::lock_guard lock(g.mutex);
    dependencies_.erase(std::remove(dependencies_.begin(), dependencies_.end(), op), dependencies_.end());
    if (queue_ != nullptr) {
        queue_->dispatchLocked();
    }
}

std::vector<std::shared_ptr<Operation>> Operation::dependencies() const
{
    std::lock_guard lock(operationGlobals().mutex);
    return dependencies_;
}

void Operation::setCompletionBlock(std::function<void()> block)
{
    std::lock_guard lock(operationGlobals().mutex);
    completion_ = std::move(block);
}

void Operation::waitUntilFinished()
{
    auto& g = operationGlobals();
    if (RunLoop::isMainThread()) {
        RunLoop::main().runWhile([&] {
            std::lock_guard lock(g.mutex);
            return state_ != State::Finished;
        });
        return;
    }
    std::unique_lock lock(g.mutex);
    g.finished.wait(lock, [&] { return state_ == State::Finished; });
}

} // namespace kpv
