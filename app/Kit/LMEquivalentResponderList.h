#pragma once
// The equivalent responders of one window in the order they registered, each at most once. An
// event is offered to each in turn until one handles it; a responder may register or unregister
// itself or another while it handles the event, and one unregistered meanwhile is not asked.

#include "Kit/LMEquivalentResponder.h"

#include <cstddef>
#include <functional>
#include <vector>

class LMEquivalentResponderList {
public:
    // A null responder is ignored.
    void registEquivalentResponder(LMEquivalentResponder* responder, bool regist);
    bool doEquivalentResponder(const std::function<bool(LMEquivalentResponder&)>& block) const;
    std::size_t size() const { return m_responders.size(); }

private:
    std::vector<LMEquivalentResponder*> m_responders;
};
