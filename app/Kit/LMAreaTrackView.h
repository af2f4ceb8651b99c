#pragma once
// One rectangle inside a larger trackable area that the user moves, resizes by its edges and
// corners, places with a click or draws anew by dragging outside it. The outside is darkened,
// the rectangle framed by a nine-slice image and optionally divided in thirds by guide lines.
// The owner decides and follows through the delegate. Not flipped: y grows upwards.

#include "Kit/LMAreaTrackViewDelegate.h"
#include "Kit/LMNineSliceImageRep.h"
#include "appkit/Image.h"
#include "appkit/View.h"

#include <vector>

class LMAreaTrackView : public kpv::View {
public:
    explicit LMAreaTrackView(const kpv::Rect& frame = kpv::Rect());

    void setTrackImage(LMNineSliceImageRepPtr rep, kpv::Point drawOffsetLeftTop, kpv::Point drawOffsetRightBottom);
    void setReferenceHoriLineImage(kpv::ImagePtr hori, kpv::ImagePtr vert, const std::vector<double>& divValues);
    void setWholeTrackableRect(const kpv::Rect& r);
    kpv::Rect wholeTrackableRect() const { return m_wholeTrackableRect; }
    void setCropTrackRect(const kpv::Rect& r);
    kpv::Rect cropTrackRect() const { return m_cropTrackRect; }

    LMAreaTrackViewDelegate* delegate() const { return m_delegate; }
    void setDelegate(LMAreaTrackViewDelegate* d) { m_delegate = d; }
    bool trackResizeEnabled() const { return m_trackResizeEnabled; }
    void setTrackResizeEnabled(bool e) { m_trackResizeEnabled = e; }
    std::int64_t minTrackSidePixels() const { return m_minTrackSidePixels; }
    void setMinTrackSidePixels(std::int64_t m) { m_minTrackSidePixels = m; }
    bool inDragSession() const { return m_inDragSession; }
    bool trackingActiveInActiveApp() const { return m_trackingActiveInActiveApp; }
    void setTrackingActiveInActiveApp(bool t) { m_trackingActiveInActiveApp = t; }
    bool darkOnTrackableRect() const { return m_darkOnTrackableRect; }
    void setDarkOnTrackableRect(bool d) { m_darkOnTrackableRect = d; }
    LMTrackPosition dragStartTrackPositon() const { return m_dragStartTrackPositon; }

    // The frame rectangle F around the track rectangle (the frame image's drawing area).
    kpv::Rect trackFrameRect() const;
    kpv::Rect rectbyTrackPosition(LMTrackPosition position) const;
    LMTrackPosition trackPositonByLocation(kpv::Point p) const;
    kpv::Cursor cursorByTrackPosition(LMTrackPosition position);
    void resetCursorRects() override;
    void updateTrackingAreas() override;
    void locateTrackAtPosition(kpv::Point p);

    void scrollWheel(const kpv::Event& e) override;
    void magnifyWithEvent(const kpv::Event& e) override;
    void mouseDown(const kpv::Event& e) override;
    void mouseDragged(const kpv::Event& e) override;
    void mouseUp(const kpv::Event& e) override;

    kpv::Rect calcDraggingTrackRectByDragDeltaSize(kpv::Size d, bool endDrag, kpv::Rect* actualDraggingTrackRect);
    // The view's own geometry of a drag; keeps no state.
    static kpv::Rect calcDraggingTrackRect(const kpv::Rect& start, LMTrackPosition position, kpv::Size d,
                                           const kpv::Rect& wholeTrackableRect);
    // A rectangle grown to the minimum side inside the area, its top edge kept where it can be.
    static kpv::Rect minimumSizedRect(const kpv::Rect& r, double minSide, const kpv::Rect& area);

    void drawRect(const kpv::Rect& dirty) override;
    void drawReferLines();
    // The darkened bands around `crop` inside `area` (only the non-empty ones), or the whole area
    // for an empty track rectangle.
    static std::vector<kpv::Rect> darkBands(const kpv::Rect& area, const kpv::Rect& crop);

private:
    kpv::Rect darkArea() const;
    kpv::Size dragDelta(const kpv::Event& e) const;

    LMAreaTrackViewDelegate* m_delegate = nullptr;
    LMNineSliceImageRepPtr m_trackImageRep;
    kpv::Point m_drawOffsetLeftTop;
    kpv::Point m_drawOffsetRightBottom;
    kpv::ImagePtr m_imageHoriLine;
    kpv::ImagePtr m_imageVertLine;
    std::vector<double> m_imageLineDivValues;
    kpv::TrackingAreaPtr m_trackingArea;
    bool m_trackResizeEnabled = false;
    std::int64_t m_minTrackSidePixels = 1;
    bool m_trackingActiveInActiveApp = false;
    kpv::Rect m_wholeTrackableRect;
    kpv::Rect m_cropTrackRect;
    bool m_darkOnTrackableRect = false;
    bool m_inDragSession = false;
    LMTrackPosition m_dragStartTrackPositon = 0;
    kpv::Point m_dragStartLocationInWindow;
    kpv::Rect m_dragStartCropTrackRect;
    kpv::Rect m_actualTrackRectBeforeDrag;
};
