#pragma once
// Runs a block once, after a delay on the current thread's run loop (default mode: it waits while a
// modal dialog or tracking loop runs), or on the main thread. Each request runs its own block
// exactly once, even when one wrapper is asked several times before the first request ran; the
// wrapper may be a temporary, as every pending request keeps what it needs.

#include <functional>

class LMPerformSelectorWrapper {
public:
    using Block = std::function<void()>;

    // Runs `block` after `delay` seconds (0: the next pass of the run loop).
    void performWithBlock(Block block, double delay);
    // Runs `block` on the main thread; with `waitUntilDone` the call returns after the block ran
    // (at once and inline when called on the main thread).
    void performOnMainThreadWithBlock(Block block, bool waitUntilDone);

    // Calls the most recently requested block, if any (it stays kept).
    void performHandler();

private:
    Block delayPerformBlock_;
};
