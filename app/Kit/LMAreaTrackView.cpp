#include "Kit/LMAreaTrackView.h"

#include "Kit/LMMultiSliceImageView.h"
#include "appkit/GraphicsContext.h"
#include "appkit/Window.h"

#include <algorithm>
#include <cmath>

using kpv::Point;
using kpv::Rect;
using kpv::Size;

LMAreaTrackView::LMAreaTrackView(const Rect& frame) : kpv::View(frame)
{
    setCropTrackRect(Rect());
    setWantsLayer(true);
}

void LMAreaTrackView::setTrackImage(LMNineSliceImageRepPtr rep, Point leftTop, Point rightBottom)
{
    m_trackImageRep = std::move(rep);
    m_drawOffsetLeftTop = leftTop;
    m_drawOffsetRightBottom = rightBottom;
}

void LMAreaTrackView::setReferenceHoriLineImage(kpv::ImagePtr hori, kpv::ImagePtr vert,
                                                const std::vector<double>& divValues)
{
    m_imageHoriLine = std::move(hori);
    m_imageVertLine = std::move(vert);
    m_imageLineDivValues = divValues;
}

void LMAreaTrackView::setWholeTrackableRect(const Rect& r)
{
    const Rect clipped = kpv::intersectionRect(r, bounds());
    if (clipped == m_wholeTrackableRect)
        return;
    m_wholeTrackableRect = clipped;
    const Rect track = kpv::intersectionRect(m_cropTrackRect, clipped);
    if (m_darkOnTrackableRect || track != m_cropTrackRect)
        setCropTrackRect(track);
}

void LMAreaTrackView::setCropTrackRect(const Rect& r)
{
    Rect clip = bounds();
    if (m_darkOnTrackableRect && m_wholeTrackableRect != Rect())
        clip = kpv::integralRect(m_wholeTrackableRect);
    const Rect next = kpv::intersectionRect(r, clip);
    if (next == m_cropTrackRect && next != Rect())
        return;
    m_cropTrackRect = next;
    setNeedsDisplay();
}

Rect LMAreaTrackView::trackFrameRect() const
{
    const Rect& c = m_cropTrackRect;
    const double l = m_drawOffsetLeftTop.x, t = m_drawOffsetLeftTop.y;
    const double r = m_drawOffsetRightBottom.x, b = m_drawOffsetRightBottom.y;
    return Rect(c.x() - l, c.y() - b, c.width() + l + r, c.height() + t + b);
}

Rect LMAreaTrackView::rectbyTrackPosition(LMTrackPosition position) const
{
    if (!m_trackResizeEnabled) {
        if (position == 9)
            return kpv::intersectionRect(m_cropTrackRect, bounds());
        return Rect();
    }
    const Rect f = trackFrameRect();
    double L = 0, T = 0, R = 0, B = 0;
    if (m_trackImageRep) {
        L = m_trackImageRep->nineSliceSizeLeftTop().x;
        T = m_trackImageRep->nineSliceSizeLeftTop().y;
        R = m_trackImageRep->nineSliceSizeRightBottom().x;
        B = m_trackImageRep->nineSliceSizeRightBottom().y;
    }
    Rect hit;
    switch (position) {
    case 1: hit = Rect(f.x(), f.y(), L, B); break;
    case 2: hit = Rect(f.x(), f.y() + B, L, f.height() - T - B); break;
    case 3: hit = Rect(f.x(), f.maxY() - T, L, T); break;
    case 4: hit = Rect(f.x() + L, f.maxY() - T, f.width() - L - R, T); break;
    case 5: hit = Rect(f.maxX() - R, f.maxY() - T, R, T); break;
    case 6: hit = Rect(f.maxX() - R, f.y() + B, R, f.height() - T - B); break;
    case 7: hit = Rect(f.maxX() - R, f.y(), R, B); break;
    case 8: hit = Rect(f.x() + L, f.y(), f.width() - L - R, B); break;
    case 9: hit = Rect(f.x() + L, f.y() + B, f.width() - L - R, f.height() - T - B); break;
    default: return Rect();
    }
    return kpv::intersectionRect(hit, bounds());
}

LMTrackPosition LMAreaTrackView::trackPositonByLocation(Point p) const
{
    for (LMTrackPosition pos = 1; pos <= 9; ++pos)
        if (kpv::pointInRect(p, rectbyTrackPosition(pos)))
            return pos;
    return 0;
}

kpv::Cursor LMAreaTrackView::cursorByTrackPosition(LMTrackPosition position)
{
    if (m_delegate)
        if (auto c = m_delegate->areaTrackView_cursorByTrackPosition(this, position))
            return *c;
    return kpv::Cursor::arrowCursor();
}

void LMAreaTrackView::resetCursorRects()
{
    for (LMTrackPosition pos = 1; pos <= 9; ++pos) {
        const Rect r = rectbyTrackPosition(pos);
        if (r != Rect())
            addCursorRect(r, cursorByTrackPosition(pos));
    }
}

void LMAreaTrackView::updateTrackingAreas()
{
    if (!m_trackingActiveInActiveApp) {
        kpv::View::updateTrackingAreas();
        return;
    }
    if (m_trackingArea)
        removeTrackingArea(m_trackingArea);
    m_trackingArea = std::make_shared<kpv::TrackingArea>(bounds(), 0x243, this);
    addTrackingArea(m_trackingArea);
}

void LMAreaTrackView::locateTrackAtPosition(Point p)
{
    const Rect& w = m_wholeTrackableRect;
    const double width = m_cropTrackRect.width(), height = m_cropTrackRect.height();
    double x = p.x;
    if (x < w.minX())
        x = w.minX();
    else if (x + width > w.maxX())
        x = w.maxX() - width;
    double y = p.y - height;
    if (y < w.minY())
        y = w.minY();
    else if (p.y > w.maxY())
        y = w.maxY() - height;
    setCropTrackRect(Rect(x, y, width, height));
    if (m_delegate)
        m_delegate->areaTrackView_locateTrackRect(this, m_cropTrackRect);
}

void LMAreaTrackView::scrollWheel(const kpv::Event& e)
{
    if (m_delegate && m_delegate->areaTrackView_scrollWheel(this, e))
        return;
    kpv::View::scrollWheel(e);
}

void LMAreaTrackView::magnifyWithEvent(const kpv::Event& e)
{
    if (m_delegate && m_delegate->areaTrackView_magnifyWithEvent(this, e))
        return;
    kpv::View::magnifyWithEvent(e);
}

void LMAreaTrackView::mouseDown(const kpv::Event& e)
{
    if (e.clickCount() == 2) {
        kpv::View::mouseDown(e);
        return;
    }
    const Point location = convertPointFromView(e.locationInWindow(), nullptr);
    LMTrackPosition p = trackPositonByLocation(location);
    std::optional<bool> asked = m_delegate ? m_delegate->areaTrackView_canDrag(this, p) : std::nullopt;
    bool allowed = asked ? *asked : p != 0;
    if (!allowed) {
        if (p == 0 && m_delegate && m_delegate->canLocateTrackAtUnknownPositionForAreaTrackView(this)) {
            locateTrackAtPosition(location);
            p = 9;
        } else {
            kpv::View::mouseDown(e);
            return;
        }
    }
    m_dragStartTrackPositon = p;
    m_dragStartLocationInWindow = e.locationInWindow();
    m_dragStartCropTrackRect = Rect();
    m_actualTrackRectBeforeDrag = Rect();
    m_inDragSession = true;
    if (p != 0) {
        m_dragStartCropTrackRect = m_cropTrackRect;
        if (m_delegate)
            m_delegate->areaTrackView_beginDrag(this, m_dragStartCropTrackRect, p, &m_actualTrackRectBeforeDrag);
    }

    kpv::EventPtr last = std::make_shared<kpv::Event>(e);
    kpv::Window* w = window();
    while (true) {
        kpv::EventPtr next = w ? w->nextEventMatchingMask(0x44) : nullptr;
        if (!next) {
            // The loop was abandoned (window closed, focus lost): end the drag where it was
            // rather than leave the session open with no mouse-up to come.
            kpv::Event up(*last);
            up.setType(kpv::LeftMouseUp);
            mouseUp(up);
            return;
        }
        last = next;
        if (next->type() == kpv::LeftMouseDragged) {
            mouseDragged(*next);
            if (w)
                w->flushWindow();
        } else if (next->type() == kpv::LeftMouseUp) {
            mouseUp(*next);
            return;
        }
    }
}

Size LMAreaTrackView::dragDelta(const kpv::Event& e) const
{
    const Point now = convertPointFromView(e.locationInWindow(), nullptr);
    const Point start = convertPointFromView(m_dragStartLocationInWindow, nullptr);
    return {now.x - start.x, now.y - start.y};
}

void LMAreaTrackView::mouseDragged(const kpv::Event& e)
{
    if (!m_inDragSession) {
        kpv::View::mouseDragged(e);
        return;
    }
    const Size d = dragDelta(e);
    if (m_dragStartTrackPositon != 0) {
        Rect actual;
        const Rect r = calcDraggingTrackRectByDragDeltaSize(d, false, &actual);
        setCropTrackRect(r);
        if (m_delegate)
            m_delegate->areaTrackView_doDragging(this, m_cropTrackRect, m_dragStartTrackPositon, actual);
        return;
    }
    // Drawing a new rectangle: silent until the spanned area is more than a slip of the hand.
    const Point start = convertPointFromView(m_dragStartLocationInWindow, nullptr);
    const Point now = convertPointFromView(e.locationInWindow(), nullptr);
    const Rect spanned(std::min(start.x, now.x), std::min(start.y, now.y), std::fabs(d.width), std::fabs(d.height));
    const Rect clipped = kpv::intersectionRect(spanned, m_wholeTrackableRect);
    const double cw = clipped.width(), ch = clipped.height();
    if (!((cw > 1 && ch > 3) || (cw > 3 && ch > 1)))
        return;
    m_dragStartTrackPositon = 7;
    m_dragStartCropTrackRect = Rect(start, Size{0, 0});
    m_actualTrackRectBeforeDrag = Rect();
    if (m_delegate)
        if (auto pt = m_delegate->calcActualTrackPointForAreaTrackView(this, start))
            m_actualTrackRectBeforeDrag = Rect(*pt, Size{0, 0});
    const Rect r = calcDraggingTrackRectByDragDeltaSize(d, false, nullptr);
    setCropTrackRect(r);
    if (m_delegate)
        m_delegate->areaTrackView_beginDrag(this, m_cropTrackRect, 7, nullptr);
}

void LMAreaTrackView::mouseUp(const kpv::Event& e)
{
    if (!m_inDragSession) {
        kpv::View::mouseUp(e);
        return;
    }
    m_inDragSession = false;
    if (m_dragStartTrackPositon == 0)
        return;
    Rect actual;
    const Rect r = calcDraggingTrackRectByDragDeltaSize(dragDelta(e), true, &actual);
    setCropTrackRect(r);
    if (window())
        window()->invalidateCursorRectsForView(this);
    if (m_delegate)
        m_delegate->areaTrackView_endDrag(this, r, m_dragStartTrackPositon, actual);
}

Rect LMAreaTrackView::minimumSizedRect(const Rect& r, double minSide, const Rect& area)
{
    const double w = std::max(minSide, r.width());
    const double x = std::min(std::max(area.x(), r.x()), area.maxX() - w);
    const double h = std::max(minSide, r.height());
    const double y = std::min(std::max(area.y(), r.maxY() - h), area.maxY() - h);
    return Rect(x, y, w, h);
}

Rect LMAreaTrackView::calcDraggingTrackRectByDragDeltaSize(Size d, bool endDrag, Rect* actualDraggingTrackRect)
{
    if (m_delegate)
        if (auto r = m_delegate->calcDraggingTrackRectForAreaTrackView(this, m_dragStartCropTrackRect,
                                                                       m_dragStartTrackPositon, d, endDrag,
                                                                       m_actualTrackRectBeforeDrag,
                                                                       actualDraggingTrackRect))
            return *r;
    const double minSide = double(m_minTrackSidePixels);
    if (m_cropTrackRect != Rect()) {
        setCropTrackRect(minimumSizedRect(m_cropTrackRect, minSide, m_wholeTrackableRect));
        if (window())
            window()->invalidateCursorRectsForView(this);
    }
    Rect r = calcDraggingTrackRect(m_dragStartCropTrackRect, m_dragStartTrackPositon, d, m_wholeTrackableRect);
    if (endDrag)
        r = minimumSizedRect(r, minSide, m_wholeTrackableRect);
    return r;
}

Rect LMAreaTrackView::calcDraggingTrackRect(const Rect& s, LMTrackPosition position, Size d, const Rect& w)
{
    if (position == 9) {
        double x = s.x() + d.width;
        if (x < w.x())
            x = w.x();
        else if (x + s.width() >= w.maxX())
            x = w.maxX() - s.width();
        double y = s.y() + d.height;
        if (y < w.y())
            y = w.y();
        else if (y + s.height() >= w.maxY())
            y = w.maxY() - s.height();
        return Rect(x, y, s.width(), s.height());
    }
    if (position < 1 || position > 8)
        return Rect();
    double x0 = s.x(), x1 = s.maxX();
    double y0 = s.y(), y1 = s.maxY();
    if (position == 1 || position == 2 || position == 3)
        x0 = std::max(w.x(), std::min(s.x() + d.width, w.maxX()));
    else if (position == 5 || position == 6 || position == 7)
        x1 = std::max(w.x(), std::min(s.maxX() + d.width, w.maxX()));
    if (position == 1 || position == 7 || position == 8)
        y0 = std::max(w.y(), std::min(s.y() + d.height, w.maxY()));
    else if (position == 3 || position == 4 || position == 5)
        y1 = std::max(w.y(), std::min(s.maxY() + d.height, w.maxY()));
    return Rect(std::min(x0, x1), std::min(y0, y1), std::fabs(x1 - x0), std::fabs(y1 - y0));
}

Rect LMAreaTrackView::darkArea() const
{
    if (m_darkOnTrackableRect && m_wholeTrackableRect != Rect())
        return kpv::integralRect(m_wholeTrackableRect);
    return bounds();
}

std::vector<Rect> LMAreaTrackView::darkBands(const Rect& a, const Rect& c)
{
    if (c == Rect())
        return {a};
    std::vector<Rect> bands;
    const Rect candidates[] = {
        Rect(a.x(), a.y(), c.x() - a.x(), a.height()),
        Rect(c.maxX(), a.y(), a.maxX() - c.maxX(), a.height()),
        Rect(c.x(), c.maxY(), c.width(), a.maxY() - c.maxY()),
        Rect(c.x(), a.y(), c.width(), c.y() - a.y()),
    };
    for (const Rect& r : candidates)
        if (!r.isEmpty())
            bands.push_back(r);
    return bands;
}

void LMAreaTrackView::drawRect(const Rect&)
{
    kpv::GraphicsContext* gc = kpv::GraphicsContext::current();
    if (!gc)
        return;
    drawReferLines();
    const Rect c = kpv::integralRect(m_cropTrackRect);
    for (const Rect& band : darkBands(darkArea(), c))
        gc->fillRect(band, kpv::Color(0, 0, 0, 0.6));
    if (c == Rect() || !m_trackImageRep || !m_trackImageRep->nineSliceImage())
        return;
    const double scale = window() ? window()->backingScaleFactor() : gc->backingScaleFactor();
    auto image = LMMultiSliceImageView::preferredImageByImage(m_trackImageRep->nineSliceImage(), scale, gc);
    LMNineSliceImageRep rep(image, m_trackImageRep->nineSliceSizeLeftTop(), m_trackImageRep->nineSliceSizeRightBottom());
    const double l = m_drawOffsetLeftTop.x, t = m_drawOffsetLeftTop.y;
    const double r = m_drawOffsetRightBottom.x, b = m_drawOffsetRightBottom.y;
    LMMultiSliceImageView::drawMultiSliceImageImage(
        &rep, Rect(c.x() - l, c.y() - b, c.width() + l + r, c.height() + t + b));
}

void LMAreaTrackView::drawReferLines()
{
    const Rect c = kpv::integralRect(m_cropTrackRect);
    if (!m_imageHoriLine || !m_imageVertLine || c.width() <= 51 || c.height() <= 51)
        return;
    const double ih = m_imageHoriLine->size().height;
    for (double y : {std::round(c.y() + c.height() / 3 - ih * 0.5), std::round(c.maxY() - c.height() / 3 - ih * 0.5)})
        LMMultiSliceImageView::drawMultiSliceImageImage(m_imageHoriLine, Rect(c.x(), y, c.width(), ih), {},
                                                        m_imageLineDivValues);
    const double iw = m_imageVertLine->size().width;
    for (double x : {std::round(c.x() + c.width() / 3 - iw * 0.5), std::round(c.maxX() - c.width() / 3 - iw * 0.5)})
        LMMultiSliceImageView::drawMultiSliceImageImage(m_imageVertLine, Rect(x, c.y(), iw, c.height()),
                                                        m_imageLineDivValues, {});
}
