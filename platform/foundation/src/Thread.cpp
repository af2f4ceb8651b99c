#include "foundation/Thread.h"

#include <vector>

namespace kpv {

namespace {

struct ExitHandlers {
    std::vector<std::function<void()>> handlers;
    ~ExitHandlers()
    {
        while (!handlers.empty()) {
            auto fn = std::move(handlers.back());
            handlers.pop_back();
            if (fn) {
                fn();
            }
        }
    }
};

thread_local ExitHandlers t_exitHandlers;

} // namespace

void onThreadExit(std::function<void()> fn)
{
    if (fn) {
        t_exitHandlers.handlers.push_back(std::move(fn));
    }
}

} // namespace kpv
