// Block operations on a queue: the block receives its own operation and can see cancellation.
#include "Model/LMBlockOperation.h"
#include "foundation/OperationQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace {

TEST(LMBlockOperation, BlockReceivesItsOwnOperation)
{
    kpv::OperationQueue queue;
    LMBlockOperation* seen = nullptr;
    auto op = LMBlockOperation::blockOperationWithBlock([&](LMBlockOperation* self) { seen = self; });
    queue.addOperation(op);
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(seen, op.get());
    EXPECT_TRUE(op->isFinished());
}

TEST(LMBlockOperation, BlockStopsEarlyWhenCancelled)
{
    kpv::OperationQueue queue;
    std::mutex m;
    std::condition_variable cv;
    bool started = false;
    std::atomic<int> steps{0};
    auto op = LMBlockOperation::blockOperationWithBlock([&](LMBlockOperation* self) {
        {
            std::lock_guard lock(m);
            started = true;
        }
        cv.notify_all();
        while (!self->isCancelled()) {
            ++steps;
            std::this_thread::yield();
        }
    });
    queue.addOperation(op);
    {
        std::unique_lock lock(m);
        cv.wait(lock, [&] { return started; });
    }
    queue.cancelAllOperations();
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_TRUE(op->isCancelled());
    EXPECT_TRUE(op->isFinished());
}

TEST(LMBlockOperation, CancelledBeforeStartNeverRunsAndEmptyBlockIsHarmless)
{
    kpv::OperationQueue queue;
    std::atomic<int> ran{0};
    auto op = std::make_shared<LMBlockOperation>([&](LMBlockOperation*) { ++ran; });
    op->cancel();
    queue.addOperation(op);
    queue.addOperation(LMBlockOperation::blockOperationWithBlock(nullptr));
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(ran, 0);
}

} // namespace
