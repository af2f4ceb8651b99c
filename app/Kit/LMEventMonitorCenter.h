#pragma once
// The application-wide owner of local event monitors. One platform monitor serves every
// registered handler; the centre dispatches each event itself, newest handler first, so the
// most recently shown sheet or pop-up sees an event first and can consume it. It also keeps the
// Esc-ignore counter: while it is not zero an Esc key-down passes to the platform untouched, so
// a panel's own Cancel handling works. Main thread only.

#include "Kit/LMEventMonitor.h"
#include "appkit/Application.h"

#include <cstdint>
#include <optional>
#include <vector>

class LMEventMonitorCenter {
public:
    static LMEventMonitorCenter& eventMonitorCenter();

    LMEventMonitorCenter() = default;
    ~LMEventMonitorCenter();
    LMEventMonitorCenter(const LMEventMonitorCenter&) = delete;
    LMEventMonitorCenter& operator=(const LMEventMonitorCenter&) = delete;

    LMEventMonitorPtr addLocalMonitorForEventsMatchingMask(kpv::EventMask mask, LMEventMonitor::Block handler);
    // The monitor sees no further event at once; it is taken out on the next run-loop pass.
    void removeMonitor(const LMEventMonitorPtr& monitor);

    void increaseCountForIgnoreEscKey() { ++m_ignoreEscKeyCount; }
    void decreaseCountForIgnoreEscKey() { --m_ignoreEscKeyCount; }
    std::int64_t ignoreEscKeyCount() const { return m_ignoreEscKeyCount; }

    // The platform monitor's dispatch: the event, or nullptr when a handler consumed it.
    kpv::EventPtr dispatch(const kpv::EventPtr& e);

    // Inspection.
    std::optional<kpv::Application::MonitorToken> rootEventMonitor() const { return m_rootEventMonitor; }
    kpv::EventMask allEventMonitroMask() const { return m_allEventMonitroMask; }
    const std::vector<LMEventMonitorPtr>& eventMonitors() const { return m_eventMonitors; }

    void updateEventMonitorForAddMask(kpv::EventMask mask);
    void resetEventMonitorForNewMask(kpv::EventMask mask);
    void delayRemoveEventMonitors();

private:
    std::optional<kpv::Application::MonitorToken> m_rootEventMonitor;
    kpv::EventMask m_allEventMonitroMask = 0;
    std::vector<LMEventMonitorPtr> m_eventMonitors;
    std::int64_t m_ignoreEscKeyCount = 0;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

// Raises the Esc-ignore counter for its lifetime, so every path out lowers it again.
class LMIgnoreEscKeyScope {
public:
    explicit LMIgnoreEscKeyScope(LMEventMonitorCenter& c = LMEventMonitorCenter::eventMonitorCenter()) : m_center(c)
    {
        m_center.increaseCountForIgnoreEscKey();
    }
    ~LMIgnoreEscKeyScope() { m_center.decreaseCountForIgnoreEscKey(); }
    LMIgnoreEscKeyScope(const LMIgnoreEscKeyScope&) = delete;
    LMIgnoreEscKeyScope& operator=(const LMIgnoreEscKeyScope&) = delete;

private:
    LMEventMonitorCenter& m_center;
};

// Raises the Esc-ignore counter for a sheet until release(), or until the hold is destroyed
// unreleased. Sheets keep their completion with a shared hold inside: a sheet whose window goes
// away before it ends drops its completion, and with it the hold, so the counter still comes down.
class LMIgnoreEscKeyHold {
public:
    explicit LMIgnoreEscKeyHold(LMEventMonitorCenter& c = LMEventMonitorCenter::eventMonitorCenter()) : m_center(c)
    {
        m_center.increaseCountForIgnoreEscKey();
    }
    ~LMIgnoreEscKeyHold() { release(); }
    LMIgnoreEscKeyHold(const LMIgnoreEscKeyHold&) = delete;
    LMIgnoreEscKeyHold& operator=(const LMIgnoreEscKeyHold&) = delete;
    // Lowers the counter once; later calls do nothing.
    void release()
    {
        if (!m_released) {
            m_released = true;
            m_center.decreaseCountForIgnoreEscKey();
        }
    }

private:
    LMEventMonitorCenter& m_center;
    bool m_released = false;
};
