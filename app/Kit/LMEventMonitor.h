#pragma once
// One handler registered with the event monitor centre.

#include "appkit/Event.h"

#include <functional>
#include <memory>

class LMEventMonitor {
public:
    // Returns true when the handler consumed the event.
    using Block = std::function<bool(const kpv::Event&)>;

    LMEventMonitor(kpv::EventMask mask, Block block) : m_eventMask(mask), m_eventMonitorBlock(std::move(block)) {}
    static std::shared_ptr<LMEventMonitor> eventMonitorWithEventMask(kpv::EventMask mask, Block block)
    {
        return std::make_shared<LMEventMonitor>(mask, std::move(block));
    }

    kpv::EventMask eventMask() const { return m_eventMask; }
    const Block& eventMonitorBlock() const { return m_eventMonitorBlock; }
    bool removed() const { return m_removed; }
    void setRemoved(bool r) { m_removed = r; }

private:
    kpv::EventMask m_eventMask;
    Block m_eventMonitorBlock;
    bool m_removed = false;
};

using LMEventMonitorPtr = std::shared_ptr<LMEventMonitor>;
