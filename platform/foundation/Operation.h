#pragma once
// A unit of work for an OperationQueue. Subclass and override main(), or use
// OperationQueue::addOperationWithBlock. main() polls isCancelled() between steps to stop early.
// Operations are shared (std::shared_ptr); an operation belongs to at most one queue.

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

namespace kpv {

class OperationQueue;

class Operation : public std::enable_shared_from_this<Operation> {
public:
    // Queue priorities: higher runs first; first in, first out within one level.
    enum QueuePriority : int {
        VeryLow = -8,
        Low = -4,
        Normal = 0,
        High = 4,
        VeryHigh = 8,
    };

    Operation();
    virtual ~Operation();
    Operation(const Operation&) = delete;
    Operation& operator=(const Operation&) = delete;

    // The work. The default does nothing.
    virtual void main() {}

    // Runs the operation on the calling thread (not through a queue): main() unless cancelled,
    // then the completion block. Nothing when it already started.
    void start();

    // Sets the cancelled flag (any thread). A pending operation then finishes without running
    // main(); a running one sees isCancelled() and decides itself.
    void cancel();
    bool isCancelled() const { return cancelled_.load(); }
    bool isExecuting() const;
    bool isFinished() const;
    // Ready when every dependency has finished (a cancelled operation is always ready).
    bool isReady() const;

    // Priority takes effect for operations not yet started; set it before adding to a queue.
    void setQueuePriority(int priority);
    int queuePriority() const;

    // Background: work nobody waits for yet (filling caches ahead of need). A queue runs it on a
    // thread of lowered scheduling priority, so that it yields the processors to the window and
    // to the work someone waits for. Set it before adding the operation to a queue.
    enum class QualityOfService { Default, Background };
    void setQualityOfService(QualityOfService qos);
    QualityOfService qualityOfService() const;

    // The operation waits until `op` has finished (or was cancelled and left its queue).
    // Add dependencies before adding the operation to a queue. A dependency cycle never runs.
    void addDependency(std::shared_ptr<Operation> op);
    void removeDependency(const std::shared_ptr<Operation>& op);
    std::vector<std::shared_ptr<Operation>> dependencies() const;

    // Called on the thread that ran the operation, after main() or after a cancelled operation
    // left its queue.
    void setCompletionBlock(std::function<void()> block);

    // Blocks until the operation has finished. On the main thread, calls posted to the main run
    // loop keep running while it waits.
    void waitUntilFinished();

private:
    friend class OperationQueue;
    enum class State { Pending, Executing, Finished };
    void runOnThisThread(); // start() body; the state lock is taken inside
    void markFinished();

    std::atomic<bool> cancelled_{false};
    State state_ = State::Pending;                       // guarded by the global operation lock
    int priority_ = Normal;                              // same
    QualityOfService qos_ = QualityOfService::Default;   // same
    std::vector<std::shared_ptr<Operation>> dependencies_; // same
    std::function<void()> completion_;                   // same
    OperationQueue* queue_ = nullptr;                    // same
    unsigned long long sequence_ = 0;                    // same
};

} // namespace kpv
