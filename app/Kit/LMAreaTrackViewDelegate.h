#pragma once
// What the owner of a tracking rectangle may decide or follow. Every operation is optional; the
// ones whose absence changes the view's behaviour answer std::nullopt by default.

#include "appkit/Cursor.h"
#include "appkit/Event.h"
#include "appkit/Geometry.h"

#include <cstdint>
#include <optional>

class LMAreaTrackView;

// 0 nothing, 1-8 the corners and edges counter-clockwise from the bottom-left corner
// (1 bottom-left, 2 left, 3 top-left, 4 top, 5 top-right, 6 right, 7 bottom-right, 8 bottom),
// 9 the inside.
using LMTrackPosition = std::int64_t;

class LMAreaTrackViewDelegate {
public:
    virtual ~LMAreaTrackViewDelegate() = default;
    virtual std::optional<bool> areaTrackView_canDrag(LMAreaTrackView*, LMTrackPosition) { return std::nullopt; }
    virtual bool canLocateTrackAtUnknownPositionForAreaTrackView(LMAreaTrackView*) { return false; }
    virtual void areaTrackView_locateTrackRect(LMAreaTrackView*, const kpv::Rect&) {}
    // `actualTrackRectBeforeDrag` is null when a new rectangle is being drawn.
    virtual void areaTrackView_beginDrag(LMAreaTrackView*, const kpv::Rect&, LMTrackPosition,
                                         kpv::Rect* /*actualTrackRectBeforeDrag*/)
    {
    }
    virtual void areaTrackView_doDragging(LMAreaTrackView*, const kpv::Rect&, LMTrackPosition, const kpv::Rect&) {}
    virtual void areaTrackView_endDrag(LMAreaTrackView*, const kpv::Rect&, LMTrackPosition, const kpv::Rect&) {}
    // Replaces the view's own geometry of a drag step when implemented.
    virtual std::optional<kpv::Rect>
    calcDraggingTrackRectForAreaTrackView(LMAreaTrackView*, const kpv::Rect& /*trackRectBeforeDrag*/,
                                          LMTrackPosition, kpv::Size /*dragDeltaSize*/, bool /*endDrag*/,
                                          const kpv::Rect& /*actualTrackRectBeforeDrag*/,
                                          kpv::Rect* /*actualDraggingTrackRect*/)
    {
        return std::nullopt;
    }
    virtual std::optional<kpv::Point> calcActualTrackPointForAreaTrackView(LMAreaTrackView*, kpv::Point)
    {
        return std::nullopt;
    }
    virtual std::optional<kpv::Cursor> areaTrackView_cursorByTrackPosition(LMAreaTrackView*, LMTrackPosition)
    {
        return std::nullopt;
    }
    virtual bool areaTrackView_scrollWheel(LMAreaTrackView*, const kpv::Event&) { return false; }
    virtual bool areaTrackView_magnifyWithEvent(LMAreaTrackView*, const kpv::Event&) { return false; }
};
