#include "Model/LMBlockOperation.h"

LMBlockOperation::LMBlockOperation(Block block) : operationBlock_(std::move(block)) {}

std::shared_ptr<LMBlockOperation> LMBlockOperation::blockOperationWithBlock(Block block)
{
    return std::make_shared<LMBlockOperation>(std::move(block));
}

void LMBlockOperation::main()
{
    if (operationBlock_) {
        operationBlock_(this);
    }
}
