#pragma once
// Small helpers about threads.

#include <functional>

namespace kpv {

// Registers `fn` to run on the calling thread when that thread exits (after its function returned,
// while its other thread_local objects are destroyed). Handlers of one thread run in reverse order
// of registration. Has no effect for the main thread before process exit.
void onThreadExit(std::function<void()> fn);

} // namespace kpv
