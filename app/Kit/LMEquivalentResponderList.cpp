#include "Kit/LMEquivalentResponderList.h"

#include <algorithm>

void LMEquivalentResponderList::registEquivalentResponder(LMEquivalentResponder* responder, bool regist)
{
    if (!responder)
        return;
    auto it = std::find(m_responders.begin(), m_responders.end(), responder);
    if (regist && it == m_responders.end())
        m_responders.push_back(responder);
    else if (!regist && it != m_responders.end())
        m_responders.erase(it);
}

bool LMEquivalentResponderList::doEquivalentResponder(const std::function<bool(LMEquivalentResponder&)>& block) const
{
    if (!block)
        return false;
    // The list may change while a responder handles the event: walk a copy, asking only those
    // still registered.
    const std::vector<LMEquivalentResponder*> responders = m_responders;
    for (LMEquivalentResponder* r : responders) {
        if (std::find(m_responders.begin(), m_responders.end(), r) == m_responders.end())
            continue;
        if (block(*r))
            return true;
    }
    return false;
}
