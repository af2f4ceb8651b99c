#pragma once
// A queue operation whose block receives the operation itself, so that the block can poll
// isCancelled() between steps. Priority, dependencies, completion and cancellation are those of
// kpv::Operation.

#include "foundation/Operation.h"

#include <functional>
#include <memory>

class LMBlockOperation : public kpv::Operation {
public:
    using Block = std::function<void(LMBlockOperation*)>;

    explicit LMBlockOperation(Block block);
    static std::shared_ptr<LMBlockOperation> blockOperationWithBlock(Block block);

    void main() override;

private:
    Block operationBlock_;
};
