#pragma once
// Runs Operations on worker threads (std::thread), at most maxConcurrentOperationCount at a time,
// highest queue priority first and first in, first out within a priority. An operation whose
// dependencies have not finished waits without holding a worker.
//
// Workers are plain threads: when one exits, its thread_local objects are destroyed on it (the
// codec keeps one component manager per thread that way). A worker exits after it has been idle
// for a few seconds, and every worker has exited when the queue is destroyed. Background work
// lowers the priority of the worker that runs it for good: such a worker then serves background
// work only, so that a run of background loads reuses a few threads rather than one per load.
// The destructor does not cancel: it waits until every operation has finished.

#include "foundation/Operation.h"

#include <QString>
#include <condition_variable>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace kpv {

class OperationQueue {
public:
    // -1: as many as the machine has processors.
    static constexpr int DefaultMaxConcurrentOperationCount = -1;

    OperationQueue();
    ~OperationQueue();
    OperationQueue(const OperationQueue&) = delete;
    OperationQueue& operator=(const OperationQueue&) = delete;

    void setMaxConcurrentOperationCount(int count); // < 1 other than -1 counts as 1
    int maxConcurrentOperationCount() const;
    // At most this many operations of a priority below 0 (background work) run at once, leaving
    // the other workers to work someone waits for; -1 (the default): no limit of their own.
    void setMaxConcurrentBackgroundOperationCount(int count); // < 1 other than -1 counts as 1
    int maxConcurrentBackgroundOperationCount() const;

    void setName(const QString& name);
    QString name() const;

    // Adds the operation. An operation that already is in a queue or has finished is ignored.
    void addOperation(std::shared_ptr<Operation> op);
    void addOperations(const std::vector<std::shared_ptr<Operation>>& ops, bool waitUntilFinished);
    // Convenience: a plain operation running `block`; returns it.
    std::shared_ptr<Operation> addOperationWithBlock(std::function<void()> block);

    // Cancels every operation in the queue (pending ones leave without running).
    void cancelAllOperations();

    // Blocks until the queue is empty. On the main thread, calls posted to the main run loop keep
    // running while it waits, so workers that hand results over with
    // RunLoop::performOnMainThread(..., true) cannot deadlock it. Must not be called from one of
    // this queue's own operations.
    void waitUntilAllOperationsAreFinished();
    // The same for at most `timeoutSeconds`; false when operations were still running then (a
    // quit that must end although a worker is stuck in a system call).
    bool waitUntilAllOperationsAreFinished(double timeoutSeconds);

    // Operations not yet finished, in the order they were added.
    std::vector<std::shared_ptr<Operation>> operations() const;
    int operationCount() const;

    // Seconds an idle worker waits for work before it exits (default 5).
    void setIdleWorkerTimeout(double seconds);

private:
    friend class Operation;
    struct Worker;
    void dispatchLocked();
    void workerLoop(Worker* self);
    void spawnWorkersLocked(int count);
    static void launcherLoop();
    // With `backgroundOnly`, for a lowered worker: background work and cancelled operations only.
    std::shared_ptr<Operation> takeNextLocked(bool backgroundOnly = false);
    void joinExitedWorkersLocked(std::vector<std::thread>& out);
    int effectiveMaxLocked() const;

    QString name_;
    int maxConcurrent_ = DefaultMaxConcurrentOperationCount;
    int maxBackground_ = -1;
    int executingBackground_ = 0;
    double idleTimeout_ = 5.0;
    std::vector<std::shared_ptr<Operation>> ops_; // not finished, in order of adding
    std::vector<std::unique_ptr<Worker>> workers_;
    int executing_ = 0;
    int idleWorkers_ = 0;
    int idleLowered_ = 0; // idle workers that background work lowered
    bool shuttingDown_ = false;
    std::condition_variable workCv_;  // workers wait here
    std::condition_variable loweredCv_; // and lowered workers here
    std::condition_variable doneCv_;  // waiters for finished operations
    // Workers a thread of lowered priority asks for (it would pass its priority on to threads it
    // made): one launcher thread of normal priority, shared by all queues, makes them.
    int pendingSpawns_ = 0;
};

} // namespace kpv
