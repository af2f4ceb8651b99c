#include "Kit/LMEventMonitorCenter.h"

#include "foundation/RunLoop.h"

LMEventMonitorCenter& LMEventMonitorCenter::eventMonitorCenter()
{
    static LMEventMonitorCenter* center = new LMEventMonitorCenter(); // lives for the process
    return *center;
}

LMEventMonitorCenter::~LMEventMonitorCenter()
{
    *m_alive = false;
    if (m_rootEventMonitor)
        kpv::Application::shared().removeMonitor(*m_rootEventMonitor);
}

LMEventMonitorPtr LMEventMonitorCenter::addLocalMonitorForEventsMatchingMask(kpv::EventMask mask,
                                                                             LMEventMonitor::Block handler)
{
    updateEventMonitorForAddMask(mask);
    auto monitor = LMEventMonitor::eventMonitorWithEventMask(mask, std::move(handler));
    m_eventMonitors.push_back(monitor);
    return monitor;
}

void LMEventMonitorCenter::removeMonitor(const LMEventMonitorPtr& monitor)
{
    if (!monitor)
        return;
    monitor->setRemoved(true);
    std::weak_ptr<bool> alive = m_alive;
    kpv::RunLoop::current().performAfterDelay(0, [this, alive] {
        if (auto a = alive.lock(); a && *a)
            delayRemoveEventMonitors();
    });
}

void LMEventMonitorCenter::updateEventMonitorForAddMask(kpv::EventMask mask)
{
    if ((mask | m_allEventMonitroMask) != m_allEventMonitroMask)
        resetEventMonitorForNewMask(mask | m_allEventMonitroMask);
}

void LMEventMonitorCenter::resetEventMonitorForNewMask(kpv::EventMask mask)
{
    kpv::Application& app = kpv::Application::shared();
    if (m_rootEventMonitor) {
        app.removeMonitor(*m_rootEventMonitor);
        m_rootEventMonitor.reset();
    }
    m_allEventMonitroMask = mask;
    if (mask != 0)
        m_rootEventMonitor = app.addLocalMonitorForEventsMatchingMask(
            mask, [this](const kpv::EventPtr& e) { return dispatch(e); });
}

void LMEventMonitorCenter::delayRemoveEventMonitors()
{
    kpv::EventMask remaining = 0;
    std::vector<LMEventMonitorPtr> kept;
    for (const auto& m : m_eventMonitors) {
        if (m->removed())
            continue;
        remaining |= m->eventMask();
        kept.push_back(m);
    }
    m_eventMonitors.swap(kept);
    if (remaining != m_allEventMonitroMask)
        resetEventMonitorForNewMask(remaining);
}

kpv::EventPtr LMEventMonitorCenter::dispatch(const kpv::EventPtr& e)
{
    if (!e)
        return e;
    if (m_ignoreEscKeyCount != 0 && e->type() == kpv::KeyDown && e->keyCode() == kpv::KeyCode::Escape)
        return e;
    // The count is read once: monitors added by a handler see the next event only. Monitors are
    // held while called, so a handler removing itself does not free what is running.
    const size_t n = m_eventMonitors.size();
    for (size_t i = n; i-- > 0;) {
        if (i >= m_eventMonitors.size())
            continue;
        LMEventMonitorPtr m = m_eventMonitors[i];
        if (m->removed() || !(m->eventMask() & kpv::eventMaskFromType(e->type())))
            continue;
        if (m->eventMonitorBlock() && m->eventMonitorBlock()(*e))
            return nullptr;
    }
    return e;
}
