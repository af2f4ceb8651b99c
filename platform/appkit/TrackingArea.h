#pragma once
// A region of a view that reports the mouse entering, leaving and moving inside it.

#include "appkit/Geometry.h"

#include <QVariantMap>
#include <memory>

namespace kpv {

class View;

enum TrackingAreaOption : unsigned {
    TrackingMouseEnteredAndExited = 0x01,
    TrackingMouseMoved = 0x02,
    TrackingCursorUpdate = 0x04,
    TrackingActiveWhenFirstResponder = 0x10,
    TrackingActiveInKeyWindow = 0x20,
    TrackingActiveInActiveApp = 0x40,
    TrackingActiveAlways = 0x80,
    TrackingAssumeInside = 0x100,
    TrackingInVisibleRect = 0x200,
    TrackingEnabledDuringMouseDrag = 0x400,
};

class TrackingArea {
public:
    // `rect` in the owner's coordinates (ignored with TrackingInVisibleRect: the area then
    // follows the owner's visible rectangle). The owner receives the events.
    TrackingArea(const Rect& rect, unsigned options, View* owner, const QVariantMap& userInfo = {})
        : m_rect(rect), m_options(options), m_owner(owner), m_userInfo(userInfo),
          m_inside((options & TrackingAssumeInside) != 0) {}

    Rect rect() const { return m_rect; }
    unsigned options() const { return m_options; }
    View* owner() const { return m_owner; }
    const QVariantMap& userInfo() const { return m_userInfo; }

    // Whether the mouse was inside at the last check (kept by the window).
    bool isInside() const { return m_inside; }
    void setInside(bool inside) { m_inside = inside; }

private:
    Rect m_rect;
    unsigned m_options;
    View* m_owner;
    QVariantMap m_userInfo;
    bool m_inside;
};

using TrackingAreaPtr = std::shared_ptr<TrackingArea>;

} // namespace kpv
