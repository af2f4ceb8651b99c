#pragma once
// One lock guards the state of every operation and queue: operations depend on each other across
// queues, and the work under the lock is only bookkeeping.

#include <condition_variable>
#include <mutex>
#include <vector>

namespace kpv {

class OperationQueue;

struct OperationGlobals {
    std::mutex mutex;
    std::condition_variable finished; // any operation finished
    std::vector<OperationQueue*> queues;
    unsigned long long nextSequence = 1;
};

OperationGlobals& operationGlobals();

} // namespace kpv
