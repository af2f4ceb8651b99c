#pragma once
// Helpers of the view-mode controller's own sources for work that finishes later (saves, sheets,
// the next turn of the run loop): such work must not run on a controller that has gone.

#include "Model/LMPerformSelectorWrapper.h"

#include <functional>
#include <memory>
#include <utility>

class NavigateController;

// Wraps `fn` so that it runs only while the controller behind `self` still exists.
template <typename Fn>
auto guarded(const std::shared_ptr<NavigateController *> &self, Fn fn)
{
    return [weak = std::weak_ptr<NavigateController *>(self), fn](auto &&...args) {
        const auto p = weak.lock();
        if (p && *p)
            fn(std::forward<decltype(args)>(args)...);
    };
}

// Runs `fn` on the next turn of the main run loop.
inline void nextTurn(std::function<void()> fn)
{
    LMPerformSelectorWrapper().performWithBlock(std::move(fn), 0);
}
