// Operation queues: order, dependencies, cancellation, waiting, and worker exit.
#include "foundation/OperationQueue.h"
#include "foundation/RunLoop.h"
#include "foundation/Thread.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <future>
#include <mutex>
#include <set>
#include <string>
#include <vector>

using namespace kpv;

namespace {

// A gate the test opens to release operations that wait on it; no sleeping anywhere.
class Gate {
public:
    void open()
    {
        {
            std::lock_guard lock(m_);
            open_ = true;
        }
        cv_.notify_all();
    }
    void wait()
    {
        std::unique_lock lock(m_);
        cv_.wait(lock, [&] { return open_; });
    }

private:
    std::mutex m_;
    std::condition_variable cv_;
    bool open_ = false;
};

class Recorder {
public:
    void add(const std::string& s)
    {
        std::lock_guard lock(m_);
        log_ += s;
    }
    std::string log()
    {
        std::lock_guard lock(m_);
        return log_;
    }

private:
    std::mutex m_;
    std::string log_;
};

class TestOp : public Operation {
public:
    explicit TestOp(std::function<void(Operation&)> fn) : fn_(std::move(fn)) {}
    void main() override { fn_(*this); }

private:
    std::function<void(Operation&)> fn_;
};

std::shared_ptr<TestOp> op(std::function<void(Operation&)> fn)
{
    return std::make_shared<TestOp>(std::move(fn));
}

TEST(OperationQueue, PriorityFirstThenFirstInFirstOut)
{
    OperationQueue queue;
    queue.setMaxConcurrentOperationCount(1);
    Gate gate;
    Recorder rec;
    queue.addOperation(op([&](Operation&) { gate.wait(); })); // holds the only worker
    struct Item {
        const char* name;
        int priority;
    };
    for (Item item : {Item{"l1", Operation::Low}, Item{"n1", Operation::Normal}, Item{"h1", Operation::High},
                      Item{"l2", Operation::Low}, Item{"n2", Operation::Normal}, Item{"h2", Operation::High}}) {
        auto o = op([&rec, name = std::string(item.name)](Operation&) { rec.add(name + " "); });
        o->setQueuePriority(item.priority);
        queue.addOperation(o);
    }
    gate.open();
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(rec.log(), "h1 h2 n1 n2 l1 l2 ");
    EXPECT_EQ(queue.operationCount(), 0);
}

TEST(OperationQueue, DependenciesAcrossQueuesAndPriorities)
{
    OperationQueue q1;
    OperationQueue q2;
    Recorder rec;
    auto a = op([&](Operation&) { rec.add("a"); });
    auto b = op([&](Operation&) { rec.add("b"); });
    auto c = op([&](Operation&) { rec.add("c"); });
    c->addDependency(b);
    b->addDependency(a);
    c->setQueuePriority(Operation::VeryHigh);
    q1.addOperation(c);
    q2.addOperation(b);
    EXPECT_FALSE(c->isReady());
    q1.addOperation(a);
    q1.waitUntilAllOperationsAreFinished();
    q2.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(rec.log(), "abc");
}

TEST(OperationQueue, CancelAllWhileRunning)
{
    OperationQueue queue;
    queue.setMaxConcurrentOperationCount(1);
    Gate started;
    std::atomic<bool> sawCancel{false};
    std::atomic<int> pendingRan{0};
    std::atomic<int> completions{0};
    auto running = op([&](Operation& self) {
        started.open();
        while (!self.isCancelled()) {
            std::this_thread::yield(); // polls its flag between steps, as the loaders do
        }
        sawCancel = true;
    });
    running->setCompletionBlock([&] { ++completions; });
    queue.addOperation(running);
    std::vector<std::shared_ptr<TestOp>> pending;
    for (int i = 0; i < 5; ++i) {
        auto p = op([&](Operation&) { ++pendingRan; });
        p->setCompletionBlock([&] { ++completions; });
        pending.push_back(p);
        queue.addOperation(p);
    }
    started.wait();
    queue.cancelAllOperations();
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_TRUE(sawCancel);
    EXPECT_EQ(pendingRan, 0);
    EXPECT_EQ(completions, 6);
    for (auto& p : pending) {
        EXPECT_TRUE(p->isCancelled());
        EXPECT_TRUE(p->isFinished());
    }
}

TEST(OperationQueue, CancelledDependencyReleasesItsDependents)
{
    OperationQueue queue;
    Recorder rec;
    auto blocker = op([&](Operation&) { rec.add("never"); });
    auto dependent = op([&](Operation&) { rec.add("dependent"); });
    dependent->addDependency(blocker);
    queue.addOperation(dependent);
    // Cancelled before it is queued, so no worker can have started it first.
    blocker->cancel();
    queue.addOperation(blocker);
    queue.waitUntilAllOperationsAreFinished();
    // The cancelled operation finished without running; its dependent then ran.
    EXPECT_EQ(rec.log(), "dependent");
}

TEST(OperationQueue, MainThreadWaitDoesNotDeadlockAgainstWaitingHandOver)
{
    ASSERT_TRUE(RunLoop::isMainThread());
    OperationQueue queue;
    std::vector<int> delivered;
    for (int i = 0; i < 8; ++i) {
        queue.addOperationWithBlock([&delivered, i] {
            // The worker waits for the main thread, which is itself waiting for the queue.
            RunLoop::performOnMainThread([&delivered, i] { delivered.push_back(i); }, true);
        });
    }
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(delivered.size(), 8u);
}

TEST(OperationQueue, MaxConcurrencyIsRespected)
{
    OperationQueue queue;
    queue.setMaxConcurrentOperationCount(2);
    std::atomic<int> running{0};
    std::atomic<int> peak{0};
    for (int i = 0; i < 40; ++i) {
        queue.addOperationWithBlock([&] {
            const int now = ++running;
            int old = peak.load();
            while (now > old && !peak.compare_exchange_weak(old, now)) {
            }
            for (int k = 0; k < 1000; ++k) {
                std::this_thread::yield();
            }
            --running;
        });
    }
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_LE(peak.load(), 2);
    EXPECT_GE(peak.load(), 1);
}

TEST(OperationQueue, BackgroundWorkKeepsWorkersFreeForWorkSomeoneWaitsFor)
{
    OperationQueue queue;
    queue.setMaxConcurrentOperationCount(4);
    queue.setMaxConcurrentBackgroundOperationCount(1);
    EXPECT_EQ(queue.maxConcurrentBackgroundOperationCount(), 1);
    std::atomic<int> running{0}, peak{0}, done{0};
    Gate release;
    std::promise<void> firstStarted;
    auto background = [&](bool first) {
        auto o = op([&, first](Operation&) {
            const int now = ++running;
            int old = peak.load();
            while (now > old && !peak.compare_exchange_weak(old, now)) {
            }
            if (first) {
                firstStarted.set_value();
                release.wait();
            }
            --running;
            ++done;
        });
        o->setQueuePriority(-4);
        return o;
    };
    queue.addOperation(background(true));
    for (int i = 0; i < 5; ++i)
        queue.addOperation(background(false));
    firstStarted.get_future().wait();
    // With the one background worker held, work at the normal priority still runs at once ...
    std::promise<void> urgentRan;
    queue.addOperation(op([&](Operation&) { urgentRan.set_value(); }));
    urgentRan.get_future().wait();
    // ... while the other background operations wait their turn.
    EXPECT_EQ(done.load(), 0);
    release.open();
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(done.load(), 6);
    EXPECT_EQ(peak.load(), 1);
}

int currentThreadNice()
{
    return getpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)));
}

// Background work runs at a lowered thread priority, and work someone waits for never inherits it:
// a thread lowered once serves background work only, and the queue goes on with fresh workers.
TEST(OperationQueue, BackgroundQualityRunsOnLoweredThreadsThatWorkSomeoneWaitsForNeverGets)
{
    const int base = currentThreadNice();
    if (base >= 19)
        GTEST_SKIP() << "the run is already at the lowest priority: background work cannot go lower";
    OperationQueue queue;
    queue.setMaxConcurrentOperationCount(1); // one worker at a time: a reused thread would show
    std::mutex m;
    std::vector<std::pair<bool, int>> ran; // (background, nice) in the order run
    for (int i = 0; i < 12; ++i) {
        const bool background = i % 3 == 1;
        auto o = op([&, background](Operation&) {
            std::lock_guard lock(m);
            ran.emplace_back(background, currentThreadNice());
        });
        if (background)
            o->setQualityOfService(Operation::QualityOfService::Background);
        EXPECT_EQ(o->qualityOfService(), background ? Operation::QualityOfService::Background
                                                    : Operation::QualityOfService::Default);
        queue.addOperation(o);
    }
    ASSERT_TRUE(queue.waitUntilAllOperationsAreFinished(30.0));
    ASSERT_EQ(ran.size(), 12u);
    for (size_t i = 0; i < ran.size(); ++i) {
        if (ran[i].first)
            EXPECT_GT(ran[i].second, base) << i;
        else
            EXPECT_EQ(ran[i].second, base) << i;
    }
    // A queue of nothing but background work still runs it all.
    std::atomic<int> done{0};
    for (int i = 0; i < 20; ++i) {
        auto o = op([&](Operation&) { ++done; });
        o->setQualityOfService(Operation::QualityOfService::Background);
        queue.addOperation(o);
    }
    ASSERT_TRUE(queue.waitUntilAllOperationsAreFinished(30.0));
    EXPECT_EQ(done.load(), 20);
}

// Thirty background loads in a row run on the queue's few workers, not on a new thread each, and
// work someone waits for that comes meanwhile still runs at the normal priority.
TEST(OperationQueue, BackgroundWorkReusesItsLoweredWorkers)
{
    OperationQueue queue;
    queue.setMaxConcurrentOperationCount(2);
    const int base = currentThreadNice();
    std::mutex m;
    std::set<pid_t> backgroundThreads;
    std::vector<int> urgentNices;
    for (int i = 0; i < 30; ++i) {
        auto o = op([&](Operation&) {
            std::lock_guard lock(m);
            backgroundThreads.insert(pid_t(syscall(SYS_gettid)));
        });
        o->setQualityOfService(Operation::QualityOfService::Background);
        queue.addOperation(o);
        if (i % 10 == 5)
            queue.addOperation(op([&](Operation&) {
                std::lock_guard lock(m);
                urgentNices.push_back(currentThreadNice());
            }));
    }
    ASSERT_TRUE(queue.waitUntilAllOperationsAreFinished(30.0));
    EXPECT_LE(backgroundThreads.size(), 5u); // the two workers and those made for the urgent work
    ASSERT_EQ(urgentNices.size(), 3u);
    for (int nice : urgentNices)
        EXPECT_EQ(nice, base);
}

// A lowered thread that hands work to another queue, or whose end lets another queue start its
// next operation, must not pass its priority on to that queue's new workers, even when that queue
// never ran background work itself.
TEST(OperationQueue, OtherQueuesNeverGetWorkersMadeByLoweredThreads)
{
    const int base = currentThreadNice();
    OperationQueue background;
    OperationQueue other;
    other.setMaxConcurrentOperationCount(1);
    other.setIdleWorkerTimeout(0); // every operation there gets a fresh worker
    std::mutex m;
    std::vector<int> nices;
    auto record = [&] {
        std::lock_guard lock(m);
        nices.push_back(currentThreadNice());
    };
    // Added from the lowered thread itself.
    auto handsOver = op([&](Operation&) { other.addOperationWithBlock(record); });
    handsOver->setQualityOfService(Operation::QualityOfService::Background);
    background.addOperation(handsOver);
    ASSERT_TRUE(background.waitUntilAllOperationsAreFinished(30.0));
    ASSERT_TRUE(other.waitUntilAllOperationsAreFinished(30.0));

    // Waiting on a background operation: the lowered thread's end makes it ready.
    for (int round = 0; round < 3; ++round) {
        auto first = op([](Operation&) {});
        first->setQualityOfService(Operation::QualityOfService::Background);
        auto then = op([&](Operation&) { record(); });
        then->addDependency(first);
        other.addOperation(then);
        background.addOperation(first);
        ASSERT_TRUE(background.waitUntilAllOperationsAreFinished(30.0));
        ASSERT_TRUE(other.waitUntilAllOperationsAreFinished(30.0));
    }
    ASSERT_EQ(nices.size(), 4u);
    for (size_t i = 0; i < nices.size(); ++i)
        EXPECT_EQ(nices[i], base) << i;
}

std::atomic<int> g_threadObjectsAlive{0};
std::atomic<int> g_exitHandlersRun{0};

struct PerThreadResource {
    PerThreadResource() { ++g_threadObjectsAlive; }
    ~PerThreadResource() { --g_threadObjectsAlive; }
};

TEST(OperationQueue, WorkerExitDestroysThreadLocals)
{
    {
        OperationQueue queue;
        queue.setMaxConcurrentOperationCount(3);
        for (int i = 0; i < 12; ++i) {
            queue.addOperationWithBlock([] {
                thread_local PerThreadResource resource;
                thread_local bool registered = false;
                if (!registered) {
                    registered = true;
                    onThreadExit([] { ++g_exitHandlersRun; });
                }
            });
        }
        queue.waitUntilAllOperationsAreFinished();
        EXPECT_GE(g_threadObjectsAlive.load(), 1);
    }
    // The queue is gone: every worker has exited and cleaned up after itself.
    EXPECT_EQ(g_threadObjectsAlive.load(), 0);
    EXPECT_GE(g_exitHandlersRun.load(), 1);
}

TEST(OperationQueue, IdleWorkersExitOnTheirOwn)
{
    OperationQueue queue;
    queue.setIdleWorkerTimeout(0);
    std::atomic<int> exited{0};
    queue.addOperationWithBlock([&] { onThreadExit([&] { ++exited; }); });
    queue.waitUntilAllOperationsAreFinished();
    // Wait on the event itself rather than on time: a new operation reuses or replaces workers.
    while (exited.load() == 0) {
        std::this_thread::yield();
    }
    EXPECT_EQ(exited.load(), 1);
    queue.addOperationWithBlock([] {});
    queue.waitUntilAllOperationsAreFinished();
}

TEST(OperationQueue, StartRunsOnCallingThreadAndQueueIgnoresFinishedOperations)
{
    auto o = op([&](Operation&) {});
    std::atomic<int> completions{0};
    o->setCompletionBlock([&] { ++completions; });
    o->start();
    EXPECT_TRUE(o->isFinished());
    o->start();
    OperationQueue queue;
    queue.addOperation(o);
    EXPECT_EQ(queue.operationCount(), 0);
    EXPECT_EQ(completions, 1);
}

TEST(OperationQueue, OperationAddedTwiceRunsOnce)
{
    OperationQueue a;
    OperationQueue b;
    std::atomic<int> runs{0};
    auto o = op([&](Operation&) { ++runs; });
    a.addOperation(o);
    b.addOperation(o);
    a.waitUntilAllOperationsAreFinished();
    b.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(runs, 1);
}

} // namespace

TEST(OperationQueueBoundedWait, AStuckOperationDoesNotHoldTheWaiterPastTheTimeout)
{
    kpv::OperationQueue queue;
    std::promise<void> release;
    std::shared_future<void> gate = release.get_future().share();
    queue.addOperationWithBlock([gate] { gate.wait(); });
    EXPECT_FALSE(queue.waitUntilAllOperationsAreFinished(0.2));
    release.set_value();
    EXPECT_TRUE(queue.waitUntilAllOperationsAreFinished(30.0));
    EXPECT_TRUE(queue.waitUntilAllOperationsAreFinished(0.0)) << "an empty queue answers at once";
}

namespace {

int threadsInProcess()
{
    int n = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
        (void)entry;
        ++n;
    }
    return n;
}

} // namespace

TEST(OperationQueueBoundedWait, AWaitThatEndsEarlyLeavesNoThreadBehind)
{
    const int before = threadsInProcess();
    {
        kpv::OperationQueue queue;
        queue.addOperationWithBlock([] {});
        EXPECT_TRUE(queue.waitUntilAllOperationsAreFinished(60.0));
    } // the queue's own workers are joined here
    EXPECT_LE(threadsInProcess(), before) << "a thread outlives the bounded wait";
}
