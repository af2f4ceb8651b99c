#include "Browse/PhotoBinView.h"

#include "Model/LMPerformSelectorWrapper.h"

#include "appkit/Window.h"
#include "foundation/RunLoop.h"

#include <algorithm>
#include <cmath>

PhotoBinView::PhotoBinView(const kpv::Rect& frame, std::unique_ptr<PhotoBinItemView> templateItemView)
    : kpv::View(frame), m_templateItemView(std::move(templateItemView)),
      m_self(std::make_shared<PhotoBinView*>(this))
{
    if (m_templateItemView)
        m_itemViewSize = m_templateItemView->bounds().size;
}

PhotoBinView::~PhotoBinView()
{
    *m_self = nullptr;
}

PhotoBinStripGeometry PhotoBinView::geometry() const
{
    PhotoBinStripGeometry g;
    g.itemSize = m_itemViewSize;
    g.itemCount = m_itemCount;
    g.superBounds = superview() ? superview()->bounds() : kpv::Rect();
    g.stripY = frame().y();
    g.stripHeight = frame().height();
    return g;
}

PhotoBinItemView* PhotoBinView::cellAtIndex(std::uint64_t index) const
{
    auto it = m_visibleItemViews.find(index);
    return it == m_visibleItemViews.end() ? nullptr : it->second;
}

void PhotoBinView::reloadData()
{
    stopAnimationScrollTimer();
    m_targetItemIndex = PhotoBinStripGeometry::kNotFound;
    m_itemCount = m_dataSource ? m_dataSource->numberOfItems(this) : 0;
    m_curItemIndex = m_dataSource ? m_dataSource->curItemIndex(this) : 0;
    beginUpdateVisibleItems(false, calcCurFrameRect(), {});
}

void PhotoBinView::fileListChanged()
{
    ++m_fileListNumber;
    reloadData();
}

void PhotoBinView::curItemChanged()
{
    stopAnimationScrollTimer();
    m_curItemIndex = m_dataSource ? m_dataSource->curItemIndex(this) : 0;
    if (m_targetItemIndex == m_curItemIndex)
        m_targetItemIndex = PhotoBinStripGeometry::kNotFound;
    beginUpdateVisibleItems(false, calcCurFrameRect(), {});
}

void PhotoBinView::updateItemAtIndex(std::uint64_t index)
{
    if (PhotoBinItemView* cell = cellAtIndex(index))
        updateImageForItem(cell, index);
}

void PhotoBinView::updateImageForItem(PhotoBinItemView* cell, std::uint64_t index)
{
    const PhotoBinItemDataPtr data = m_dataSource ? m_dataSource->photoBinViewItemAtIndex(this, index) : nullptr;
    cell->setImage(data ? data->image() : QImage(), data ? data->imageAngle() : 0);
    cell->setSelect(index == m_curItemIndex);
    if (m_dataSource)
        cell->setLoved(m_dataSource->favoriteItemOfPhotoBinView(this, index));
}

std::uint64_t PhotoBinView::wholeVisibleItemCountOfCurPage() const
{
    return superview() ? geometry().wholeVisibleCount(calcCurFrameRect()) : 0;
}

void PhotoBinView::stopAnimationScrollTimer()
{
    m_animationScrollTimer.stop();
}

void PhotoBinView::beginUpdateVisibleItems(bool animate, const kpv::Rect& target, CompleteBlock complete)
{
    if (!superview())
        return;
    const PhotoBinStripGeometry::Range range = geometry().visibleRange(target);
    const bool changed = target != frame() || range != m_visibleItemRange;
    for (std::uint64_t i = range.location; i < range.location + range.length; ++i) {
        PhotoBinItemView* cell = cellAtIndex(i);
        if (changed) {
            if (!cell) {
                std::unique_ptr<PhotoBinItemView> made;
                if (!m_cacheItemViews.empty()) {
                    made = std::move(m_cacheItemViews.front());
                    m_cacheItemViews.erase(m_cacheItemViews.begin());
                } else if (m_templateItemView) {
                    made = m_templateItemView->copy();
                } else {
                    continue;
                }
                cell = made.release();
                m_visibleItemViews[i] = cell;
                addSubview(cell);
            }
            const double x = PhotoBinStripGeometry::kGap + double(i) * photoBinItemWidth();
            cell->setFrameOrigin({x, (target.height() - m_itemViewSize.height) / 2});
        }
        if (cell) {
            cell->setRollover(false);
            if (animate)
                cell->setHidden(false);
            updateImageForItem(cell, i);
        }
    }
    if (!animate || !changed) {
        endUpdateVisibleItems(target, range, std::move(complete));
        return;
    }
    const kpv::Point start = frame().origin;
    const double t0 = kpv::RunLoop::current().now();
    std::weak_ptr<PhotoBinView*> self = m_self;
    const std::uint64_t slide = ++m_slideNumber;
    m_animationScrollTimer.start(
        1.0 / 30.0, {},
        [self, start, t0, target](bool* stop) {
            auto s = self.lock();
            if (!s || !*s) {
                *stop = true;
                return;
            }
            const double t = std::min(kpv::RunLoop::current().now() - t0, kAnimationDuration);
            const double p = std::sin(t / kAnimationDuration * M_PI / 2);
            (*s)->setFrameOrigin({start.x + (target.x() - start.x) * p, start.y});
            if (t >= kAnimationDuration)
                *stop = true;
        },
        [self, target, range, complete, slide](bool) {
            // A newer slide starts from where this one was and brings its own end.
            if (auto s = self.lock(); s && *s && (*s)->m_slideNumber == slide)
                (*s)->endUpdateVisibleItems(target, range, complete);
        });
}

void PhotoBinView::endUpdateVisibleItems(const kpv::Rect& target, PhotoBinStripGeometry::Range range, CompleteBlock complete)
{
    if (target != frame())
        setFrame(target);
    if (range != m_visibleItemRange) {
        m_visibleItemRange = range;
        for (auto it = m_visibleItemViews.begin(); it != m_visibleItemViews.end();) {
            if (it->first < range.location || it->first >= range.location + range.length) {
                PhotoBinItemView* cell = it->second;
                cell->removeFromSuperview();
                m_cacheItemViews.emplace_back(cell);
                it = m_visibleItemViews.erase(it);
            } else {
                ++it;
            }
        }
    }
    showWholeCellsOnly(target);
    if (complete)
        complete();
}

void PhotoBinView::showWholeCellsOnly(const kpv::Rect& stripFrame)
{
    const kpv::Rect window = superview() ? superview()->bounds() : kpv::Rect();
    for (const auto& [index, cell] : m_visibleItemViews) {
        const double left = stripFrame.x() + cell->frame().x();
        const double right = left + cell->frame().width();
        cell->setHidden(left < window.x() - 0.5 || right > window.x() + window.width() + 0.5);
    }
}

void PhotoBinView::navigateToIndex(std::size_t index)
{
    if (index == PhotoBinStripGeometry::kNotFound)
        return;
    m_targetItemIndex = index == m_curItemIndex ? PhotoBinStripGeometry::kNotFound : index;
    std::weak_ptr<PhotoBinView*> self = m_self;
    // The index is a place in the list as it is now.
    const std::uint64_t list = m_fileListNumber;
    beginUpdateVisibleItems(true, calcFrameRectByIndex(index), [self, index, list] {
        auto s = self.lock();
        if (!s || !*s || index == (*s)->m_curItemIndex || (*s)->m_fileListNumber != list)
            return;
        LMPerformSelectorWrapper().performWithBlock(
            [self, index, list] {
                auto s2 = self.lock();
                if (!s2 || !*s2 || !(*s2)->m_delegate || (*s2)->m_fileListNumber != list)
                    return;
                (*s2)->m_delegate->photoBinViewCellWasClickedAtIndex(*s2, index, [self, index](bool notNavigated) {
                    auto s3 = self.lock();
                    if (!notNavigated || !s3 || !*s3)
                        return;
                    if ((*s3)->m_targetItemIndex == index)
                        (*s3)->m_targetItemIndex = PhotoBinStripGeometry::kNotFound;
                    (*s3)->beginUpdateVisibleItems(true, (*s3)->calcCurFrameRect(), {});
                });
            },
            0);
    });
}

void PhotoBinView::scrollToNextItem(bool next)
{
    // A notch that comes while the strip still slides counts on from where it is heading.
    const std::uint64_t from =
        m_targetItemIndex != PhotoBinStripGeometry::kNotFound && m_targetItemIndex < m_itemCount ? m_targetItemIndex : m_curItemIndex;
    std::uint64_t n = from;
    if (next && from + 1 < m_itemCount)
        n = from + 1;
    else if (!next && from > 0)
        n = from - 1;
    if (n != from)
        navigateToIndex(n);
}

bool PhotoBinView::scrollWithoutChangeItemByDelta(double delta)
{
    bool reached = false;
    const kpv::Rect r = geometry().frameMovedByDelta(frame(), delta, &reached);
    if (r.origin != frame().origin)
        beginUpdateVisibleItems(false, r, {});
    return reached;
}

void PhotoBinView::scrollToItemByCenterPositionWithDelta(double d)
{
    if (!superview())
        return;
    bool reached = false;
    const PhotoBinStripGeometry g = geometry();
    const kpv::Rect r = g.frameMovedByDelta(frame(), d, &reached);
    const kpv::Rect sb = superview()->bounds();
    const kpv::Point center = convertPointFromView({sb.midX(), sb.midY()}, superview());
    std::size_t index = PhotoBinStripGeometry::kNotFound;
    if (reached) {
        if (d > 0)
            index = 0;
        else if (m_itemCount > 0)
            index = m_itemCount - 1;
    } else {
        const double x = center.x + (frame().x() - r.x());
        index = g.indexAtPoint({x, center.y});
        if (index == PhotoBinStripGeometry::kNotFound)
            index = g.indexAtPoint({d > 0 ? x - m_itemViewSize.width / 2 : x + m_itemViewSize.width / 2, center.y});
        if (index != PhotoBinStripGeometry::kNotFound && d != 0) {
            if (d > 0 && index > 0)
                --index;
            else if (d < 0 && index + 1 < m_itemCount)
                ++index;
        }
    }
    if (index == PhotoBinStripGeometry::kNotFound)
        beginUpdateVisibleItems(true, calcCurFrameRect(), {});
    else
        navigateToIndex(index);
}

void PhotoBinView::mouseDown(const kpv::Event& e)
{
    const std::size_t idx = itemIndexByMousePosition(convertPointFromView(e.locationInWindow(), nullptr));
    if (idx != PhotoBinStripGeometry::kNotFound && e.clickCount() == 2 && idx == m_curItemIndex && m_delegate) {
        m_delegate->curItemDoubleClickedForPhotoBinView(this);
        m_pressedIndex = PhotoBinStripGeometry::kNotFound;
        return;
    }
    m_pressedIndex = idx;
    m_dragBegan = false;
    m_firstDrag = true;
}

void PhotoBinView::mouseDragged(const kpv::Event& e)
{
    if (!m_firstDrag)
        return;
    m_firstDrag = false;
    if (m_pressedIndex != PhotoBinStripGeometry::kNotFound && m_delegate)
        m_dragBegan = m_delegate->photoBinViewBeginDraggingSession(this, e, m_pressedIndex);
}

void PhotoBinView::mouseUp(const kpv::Event& e)
{
    const std::size_t idx = m_pressedIndex;
    m_pressedIndex = PhotoBinStripGeometry::kNotFound;
    if (idx == PhotoBinStripGeometry::kNotFound || m_dragBegan)
        return;
    if (itemIndexByMousePosition(convertPointFromView(e.locationInWindow(), nullptr)) == idx)
        navigateToIndex(idx);
}

void PhotoBinView::resizeWithOldSuperviewSize(kpv::Size oldSize)
{
    kpv::View::resizeWithOldSuperviewSize(oldSize);
    if (m_dataSource)
        reloadData();
}
