#include "Browse/LMImageBrowserView.h"

#include "Browse/LMImageBrowserItem.h"
#include "Kit/LMImageBrowserExtraItemViewController.h"

#include "appkit/Color.h"
#include "appkit/Control.h"
#include "appkit/GraphicsContext.h"
#include "appkit/Image.h"
#include "appkit/Window.h"
#include "foundation/OperationQueue.h"
#include "foundation/RunLoop.h"
#include "foundation/Timer.h"
#include "imageio/ImageProperties.h"
#include "imageio/ImageSource.h"
#include "imageio/Thumbnailer.h"
#include "imageio/UprightImage.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr unsigned short kKeyForwardDelete = 117;
constexpr unsigned short kKeyReturn = 36;
constexpr unsigned short kKeyEnter = 76;
constexpr unsigned short kKeyLeft = 123;
constexpr unsigned short kKeyRight = 124;
constexpr unsigned short kKeyDown = 125;
constexpr unsigned short kKeyUp = 126;
constexpr unsigned short kKeyHome = 115;
constexpr unsigned short kKeyEnd = 119;
constexpr unsigned short kKeyPageUp = 116;
constexpr unsigned short kKeyPageDown = 121;
// What an entry costs beside its pixels, so that unreadable files are counted too.
constexpr qsizetype kPictureEntryOverhead = 256;

constexpr double kDragThreshold = 4.0;

// The picture of a cell, upright, its longer side at most `pixels`. A thumbnail kept in the file or
// in the desktop's cache serves when it is as large as the cell; a smaller one (a camera's 160
// pixels, often with bars of its own, or the cache's 256 for a large cell) would show enlarged and
// blurred, so the photo itself is read at the cell's size unless it is no larger than that
// thumbnail.
QImage readCellPicture(const QString& path, int pixels)
{
    QImage picture = kpv::Thumbnailer::uprightThumbnail(path, pixels);
    const int side = std::max(picture.width(), picture.height());
    if (picture.isNull() || side >= pixels)
        return picture;
    const auto source = kpv::ImageSource::createWithFile(path);
    if (!source)
        return picture;
    const QVariantMap properties = source->propertiesAtIndex(0);
    const qint64 photoSide = std::max(properties.value(QLatin1String(kpv::kCGImagePropertyPixelWidth)).toLongLong(),
                                      properties.value(QLatin1String(kpv::kCGImagePropertyPixelHeight)).toLongLong());
    if (photoSide <= side)
        return picture;
    const QImage sharper = kpv::decodeUprightImage(path, pixels);
    return std::max(sharper.width(), sharper.height()) > side ? sharper : picture;
}
} // namespace

LMImageBrowserView::LMImageBrowserView(const kpv::Rect& frame)
    : kpv::View(frame), m_self(std::make_shared<LMImageBrowserView*>(this))
{
    m_layout.viewWidth = frame.width();
}

LMImageBrowserView::~LMImageBrowserView()
{
    *m_self = nullptr;
    if (m_cellSizeRestTimer)
        m_cellSizeRestTimer->invalidate();
    stopAutoscroll();
    if (m_pictureQueue) {
        m_pictureQueue->cancelAllOperations();
        m_pictureQueue->waitUntilAllOperationsAreFinished();
    }
}

void LMImageBrowserView::setFrame(const kpv::Rect& frame)
{
    // A new width may change the number of columns, and with it the row of every item: the photo
    // the user looks at (the selected one in sight, else the first in sight) keeps its place on
    // screen instead of the grid showing other photos at the same scroll distance. A shorter
    // window (leaving full screen, say) keeps a selected photo that was in sight wholly in sight.
    std::size_t anchor = kNotFound;
    double anchorTop = 0;
    if (frame.width() != m_layout.viewWidth || frame.height() != bounds().height()) {
        const std::vector<std::size_t> visible = visibleItemIndexes();
        for (std::size_t i : visible) {
            if (m_selection.count(i)) {
                anchor = i;
                break;
            }
        }
        if (anchor == kNotFound && !visible.empty())
            anchor = visible.front();
        if (anchor != kNotFound)
            anchorTop = m_layout.cellFrame(anchor).minY() - m_scrollOffset;
    }
    kpv::View::setFrame(frame);
    m_layout.viewWidth = frame.width();
    updateTrailingInset();
    if (anchor != kNotFound)
        m_scrollOffset = m_layout.cellFrame(anchor).minY() - anchorTop;
    clampScroll();
    if (anchor != kNotFound && m_selection.count(anchor))
        scrollIndexToVisible(anchor);
    setNeedsDisplay();
}

LMImageBrowserItem* LMImageBrowserView::itemAtIndex(std::size_t index) const
{
    if (!m_dataSource || index >= m_layout.itemCount)
        return nullptr;
    return m_dataSource->imageBrowserItemAtIndex(const_cast<LMImageBrowserView*>(this), index);
}

void LMImageBrowserView::reloadData()
{
    m_layout.itemCount = m_dataSource ? m_dataSource->numberOfItemsInImageBrowser(this) : 0;
    std::set<std::size_t> kept;
    for (std::size_t i : m_selection)
        if (i < m_layout.itemCount)
            kept.insert(i);
    m_selection.swap(kept);
    clampScroll();
    setNeedsDisplay();
    updateItemUI();
}

void LMImageBrowserView::setCellSize(kpv::Size size, bool live)
{
    if (live) {
        m_cellSizeMoving = true;
        if (m_cellSizeRestTimer)
            m_cellSizeRestTimer->invalidate();
        // Common: the knob may rest while the mouse is still held, inside the slider's loop.
        m_cellSizeRestTimer = commonTimer(kCellSizeRestInterval, false, &LMImageBrowserView::cellSizeDidRest);
    } else if (m_cellSizeMoving)
        cellSizeDidRest();
    if (size.width <= 0 || size.height <= 0 || size == m_layout.cellSize)
        return;
    m_layout.cellSize = size;
    clampScroll();
    setNeedsDisplay();
    updateItemUI();
}

void LMImageBrowserView::cellSizeDidRest()
{
    if (m_cellSizeRestTimer)
        m_cellSizeRestTimer->invalidate();
    m_cellSizeRestTimer.reset();
    if (!m_cellSizeMoving)
        return;
    m_cellSizeMoving = false;
    // The next paint reads the pictures that are now too small for their cells.
    setNeedsDisplay();
}

void LMImageBrowserView::setSelectionIndexes(const std::set<std::size_t>& indexes, bool byExtending)
{
    std::set<std::size_t> next = byExtending ? m_selection : std::set<std::size_t>();
    for (std::size_t i : indexes)
        if (i < m_layout.itemCount)
            next.insert(i);
    if (!m_allowsMultipleSelection && next.size() > 1)
        next = {*next.rbegin()};
    if (next == m_selection)
        return;
    m_selection.swap(next);
    setNeedsDisplay();
    updateItemUI();
    if (m_delegate)
        m_delegate->imageBrowserSelectionDidChange(this);
}

void LMImageBrowserView::selectAll()
{
    std::set<std::size_t> all;
    for (std::size_t i = 0; i < m_layout.itemCount; ++i)
        all.insert(i);
    setSelectionIndexes(all);
}

bool LMImageBrowserView::hasRangeEnds() const
{
    // Good only while both ends are still selected items: a selection changed by other means
    // (Select All, a reload, the program) starts a new range.
    return m_anchorIndex < m_layout.itemCount && m_leadIndex < m_layout.itemCount && m_selection.count(m_anchorIndex) &&
           m_selection.count(m_leadIndex);
}

void LMImageBrowserView::setRangeEnds(std::size_t anchor, std::size_t lead)
{
    m_anchorIndex = anchor;
    m_leadIndex = lead;
}

std::size_t LMImageBrowserView::indexOfItemAtPoint(kpv::Point p) const
{
    return m_layout.indexAtPoint(toContent(p));
}

kpv::Rect LMImageBrowserView::itemFrameAtIndex(std::size_t index) const
{
    kpv::Rect r = m_layout.cellFrame(index);
    if (r.isEmpty())
        return r;
    r.origin.y -= m_scrollOffset;
    return r;
}

kpv::Rect LMImageBrowserView::itemImageFrameAtIndex(std::size_t index) const
{
    kpv::Size imageSize;
    if (LMImageBrowserItem* item = itemAtIndex(index)) {
        const QImage picture = cachedPicture(item->imageUID());
        if (!picture.isNull())
            imageSize = {double(picture.width()), double(picture.height())};
    }
    kpv::Rect r = m_layout.imageFrame(index, imageSize);
    if (r.isEmpty())
        return r;
    r.origin.y -= m_scrollOffset;
    return r;
}

std::vector<std::size_t> LMImageBrowserView::visibleItemIndexes() const
{
    return m_layout.visibleIndexes(m_scrollOffset, bounds().height());
}

void LMImageBrowserView::updateTrailingInset()
{
    // The columns keep clear of the scroller while it shows. It shows when the grid laid out over
    // the whole width is taller than the view; the fewer columns beside it only make it taller, so
    // this never goes back and forth.
    m_layout.trailingInset = 0;
    if (m_verticalScroller && m_layout.contentHeight() > bounds().height())
        m_layout.trailingInset = kScrollerWidth;
}

void LMImageBrowserView::clampScroll()
{
    updateTrailingInset();
    const double maxOffset = std::max(0.0, m_layout.contentHeight() - bounds().height());
    m_scrollOffset = std::clamp(m_scrollOffset, 0.0, maxOffset);
    updateVerticalScroller();
}

void LMImageBrowserView::setVerticalScroller(kpv::Scroller* scroller)
{
    if (m_verticalScroller) {
        m_verticalScroller->removeFromSuperview();
        delete m_verticalScroller;
    }
    m_verticalScroller = scroller;
    setNeedsDisplay();
    if (!scroller) {
        clampScroll();
        return;
    }
    const kpv::Rect b = bounds();
    scroller->setFrame(kpv::Rect(b.maxX() - kScrollerWidth, b.y(), kScrollerWidth, b.height()));
    scroller->setAutoresizingMask(kpv::ViewMinXMargin | kpv::ViewHeightSizable);
    scroller->setAction([self = m_self](kpv::View*) {
        LMImageBrowserView* v = self ? *self : nullptr;
        if (!v || !v->m_verticalScroller)
            return;
        const double maxOffset = std::max(0.0, v->m_layout.contentHeight() - v->bounds().height());
        v->setScrollOffset(v->m_verticalScroller->doubleValue() * maxOffset);
    });
    addSubview(scroller);
    updateVerticalScroller();
}

void LMImageBrowserView::updateVerticalScroller()
{
    if (!m_verticalScroller)
        return;
    const double content = m_layout.contentHeight();
    const double shown = bounds().height();
    const bool scrolls = content > shown && shown > 0;
    m_verticalScroller->setHidden(!scrolls);
    if (!scrolls)
        return;
    m_verticalScroller->setKnobProportion(shown / content);
    m_verticalScroller->setDoubleValue(m_scrollOffset / (content - shown));
}

void LMImageBrowserView::setScrollOffset(double offset)
{
    const double old = m_scrollOffset;
    m_scrollOffset = offset;
    clampScroll();
    if (old != m_scrollOffset) {
        setNeedsDisplay();
        updateItemUI();
    }
}

void LMImageBrowserView::scrollIndexToVisible(std::size_t index)
{
    const kpv::Rect cell = m_layout.cellFrame(index);
    if (cell.isEmpty())
        return;
    const double h = bounds().height();
    if (cell.minY() < m_scrollOffset)
        setScrollOffset(cell.minY() - LMImageBrowserLayout::kMargin);
    else if (cell.maxY() > m_scrollOffset + h)
        setScrollOffset(cell.maxY() + LMImageBrowserLayout::kMargin - h);
}

std::size_t LMImageBrowserView::dropIndexAtPoint(kpv::Point p) const
{
    return m_layout.dropIndexAtPoint(toContent(p));
}

bool LMImageBrowserView::moveSelectedItemsToIndex(std::size_t toIndex)
{
    if (!m_dataSource || m_selection.empty())
        return false;
    const std::set<std::size_t> moved = m_selection;
    if (!m_dataSource->imageBrowserMoveItemsAtIndexes(this, moved, toIndex))
        return false;
    // The moved items now sit together after the items that were before the drop point.
    std::size_t before = 0;
    for (std::size_t i = 0; i < toIndex && i < m_layout.itemCount; ++i)
        if (!moved.count(i))
            ++before;
    std::set<std::size_t> now;
    for (std::size_t k = 0; k < moved.size(); ++k)
        now.insert(before + k);
    m_selection.clear();
    reloadData();
    setSelectionIndexes(now);
    // The moved run is the range now, from its first item to its last.
    setRangeEnds(*now.begin(), *now.rbegin());
    return true;
}

// ---- Overlays ----

LMImageBrowserView::ExtraRepPtr LMImageBrowserView::makeExtraRep()
{
    auto rep = std::make_unique<ExtraRep>();
    if (auto controller = m_delegate->extraItemViewControllerForImageBrowserView(this)) {
        rep->view = controller->view();
        rep->controller = std::move(controller);
    } else if (auto view = m_delegate->extraItemViewForImageBrowserView(this)) {
        rep->view = view.get();
        rep->detachedView = std::move(view);
    }
    return rep->view ? std::move(rep) : nullptr;
}

void LMImageBrowserView::attach(ExtraRep& rep)
{
    if (rep.view->superview() == this)
        return;
    addSubview(rep.view, false, nullptr); // bottom-most: below every other overlay and button
    rep.detachedView.release();         // the browser owns a placed plain view
}

void LMImageBrowserView::detach(ExtraRep& rep)
{
    if (rep.view->superview() != this)
        return;
    rep.view->removeFromSuperview();
    if (!rep.controller)
        rep.detachedView.reset(rep.view);
}

void LMImageBrowserView::updateItemUI()
{
    if (!m_delegate)
        return;
    kpv::Point leftTop, rightBottom;
    if (!m_delegate->imageBrowserViewExtraItemViewOutside(this, &leftTop, &rightBottom))
        leftTop = rightBottom = {};
    const bool wholeFrame = m_delegate->isExtraItemViewOnWholeFrameForImageBrowserView(this);

    std::map<QString, ExtraRepPtr> old;
    old.swap(m_extraItemViewReps);
    bool canMake = true;
    for (std::size_t index : visibleItemIndexes()) {
        LMImageBrowserItem* item = itemAtIndex(index);
        if (!item)
            break;
        const QString uid = item->imageUID();
        if (m_extraItemViewReps.count(uid))
            continue; // the same file twice: one overlay per identifier
        ExtraRepPtr rep;
        if (auto it = old.find(uid); it != old.end()) {
            rep = std::move(it->second);
            old.erase(it);
        } else if (!m_extraItemViewRepPool.empty()) {
            rep = std::move(m_extraItemViewRepPool.front());
            m_extraItemViewRepPool.erase(m_extraItemViewRepPool.begin());
        } else if (canMake) {
            rep = makeExtraRep();
            canMake = rep != nullptr; // a delegate without overlays is not asked again now
        }
        if (!rep)
            continue;
        attach(*rep);
        const kpv::Rect cell = itemFrameAtIndex(index);
        const kpv::Rect imageFrame = itemImageFrameAtIndex(index);
        const kpv::Rect base = wholeFrame ? cell : imageFrame;
        const kpv::Rect frame = extraItemViewFrame(base, leftTop, rightBottom, isFlipped());
        if (rep->view->frame() != frame)
            rep->view->setFrame(frame);
        if (rep->controller) {
            rep->controller->setItemImageUID(uid);
            rep->controller->updateUIWithCellFrame(cell, imageFrame, m_selection.count(index) > 0);
        }
        m_extraItemViewReps.emplace(uid, std::move(rep));
    }
    for (auto& [uid, rep] : old) {
        detach(*rep);
        m_extraItemViewRepPool.push_back(std::move(rep));
    }
}

kpv::Rect LMImageBrowserView::extraItemViewFrame(const kpv::Rect& base, kpv::Point leftTop, kpv::Point rightBottom,
                                                  bool flipped)
{
    // The bottom margin lies below the picture: at smaller y unflipped, at larger y flipped.
    const double y = flipped ? base.y() - leftTop.y : base.y() - rightBottom.y;
    return kpv::Rect(base.x() - leftTop.x, y, base.width() + leftTop.x + rightBottom.x,
                     base.height() + leftTop.y + rightBottom.y);
}

kpv::View* LMImageBrowserView::extraItemViewForImageUID(const QString& uid) const
{
    auto it = m_extraItemViewReps.find(uid);
    return it == m_extraItemViewReps.end() ? nullptr : it->second->view;
}

// ---- Pictures ----

QImage LMImageBrowserView::cachedPicture(const QString& uid) const
{
    auto it = m_pictures.constFind(uid);
    return it == m_pictures.constEnd() ? QImage() : it->image;
}

void LMImageBrowserView::setPictureCacheBudget(qsizetype bytes)
{
    m_pictureBudget = std::max<qsizetype>(0, bytes);
    evictPictures();
}

std::set<QString> LMImageBrowserView::visiblePictureUIDs() const
{
    std::set<QString> uids;
    for (std::size_t index : visibleItemIndexes())
        if (LMImageBrowserItem* item = itemAtIndex(index))
            uids.insert(item->imageUID());
    return uids;
}

qsizetype LMImageBrowserView::pictureCost(const CachedPicture& picture)
{
    // A picture shown at its own size shares its pixels with the display copy.
    const bool shared = picture.display.cacheKey() == picture.image.cacheKey();
    return qsizetype(picture.image.sizeInBytes()) + (shared ? 0 : qsizetype(picture.display.sizeInBytes())) +
           kPictureEntryOverhead;
}

void LMImageBrowserView::insertPicture(const QString& uid, const QImage& picture, int requestedPixels,
                                        const QString& version)
{
    if (auto it = m_pictures.find(uid); it != m_pictures.end())
        m_pictureBytes -= pictureCost(*it);
    const CachedPicture entry{picture, ++m_pictureUseClock, requestedPixels, version, {}};
    m_pictures.insert(uid, entry);
    m_pictureBytes += pictureCost(entry);
    evictPictures();
}

QImage LMImageBrowserView::displayPicture(const QString& uid, QSize pixels)
{
    auto it = m_pictures.find(uid);
    if (it == m_pictures.end() || it->image.isNull() || pixels.isEmpty())
        return {};
    if (it->display.size() != pixels) {
        m_pictureBytes -= pictureCost(*it);
        it->display = it->image.size() == pixels
                          ? it->image
                          : it->image.scaled(pixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        if (it->display.format() != QImage::Format_ARGB32_Premultiplied && it->display.format() != QImage::Format_RGB32)
            it->display.convertTo(it->display.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
        m_pictureBytes += pictureCost(*it);
    }
    return it->display;
}

void LMImageBrowserView::evictPictures()
{
    if (m_pictureBytes <= m_pictureBudget)
        return;
    const std::set<QString> visible = visiblePictureUIDs();
    std::vector<std::pair<quint64, QString>> candidates;
    candidates.reserve(std::size_t(m_pictures.size()));
    for (auto it = m_pictures.cbegin(); it != m_pictures.cend(); ++it)
        if (!visible.count(it.key()))
            candidates.emplace_back(it->lastUse, it.key());
    std::sort(candidates.begin(), candidates.end());
    for (const auto& [lastUse, uid] : candidates) {
        if (m_pictureBytes <= m_pictureBudget)
            break;
        auto it = m_pictures.find(uid);
        m_pictureBytes -= pictureCost(*it);
        m_pictures.erase(it);
    }
}

int LMImageBrowserView::pictureMaxPixels() const
{
    const kpv::Window* w = window();
    const double scale = w && w->backingScaleFactor() > 0 ? w->backingScaleFactor() : 1.0;
    const double side = std::max(m_layout.cellSize.width, m_layout.cellSize.height) * scale;
    const int steps = int(std::ceil(std::max(1.0, side) / kPictureSizeStep));
    return std::min(kPictureMaxPixels, steps * kPictureSizeStep);
}

void LMImageBrowserView::requestPicture(const QString& uid, const QString& path, const QString& version)
{
    const int wantedPixels = pictureMaxPixels();
    if (auto it = m_pictures.find(uid); it != m_pictures.end() && it->version != version) {
        // Read from a file that stood at the path before, under the same identifier: the file
        // now there is read, and the old picture is not shown meanwhile.
        m_pictureBytes -= pictureCost(*it);
        m_pictures.erase(it);
    } else if (it != m_pictures.end()) {
        it->lastUse = ++m_pictureUseClock;
        // A picture read for smaller cells is shown until a sharper one arrives, and while the
        // cells are still changing size no sharper one is asked for; an unreadable file (no
        // picture) is not asked for again.
        const QImage& image = it->image;
        if (image.isNull() || std::max(image.width(), image.height()) >= wantedPixels ||
            it->requestedPixels >= wantedPixels || m_cellSizeMoving)
            return;
    }
    if (auto pending = m_pendingPictures.find(uid); pending != m_pendingPictures.end()) {
        if (pending->second.version == version)
            return;
        pending->second.wanted->store(false);
        m_pendingPictures.erase(pending);
    }
    if (m_syncPictures) {
        insertPicture(uid, readCellPicture(path, wantedPixels), wantedPixels, version);
        return;
    }
    if (!m_pictureQueue) {
        m_pictureQueue = std::make_unique<kpv::OperationQueue>();
        m_pictureQueue->setMaxConcurrentOperationCount(2);
    }
    auto wanted = std::make_shared<std::atomic<bool>>(true);
    const int pixels = wantedPixels;
    m_pendingPictures.emplace(uid, PendingPicture{wanted, version});
    std::weak_ptr<LMImageBrowserView*> self = m_self;
    m_pictureQueue->addOperationWithBlock([self, uid, path, wanted, pixels, version] {
        // A cell scrolled past before its turn costs no decode.
        if (!wanted->load())
            return;
        QImage picture = readCellPicture(path, pixels);
        kpv::RunLoop::performOnMainThread(
            [self, uid, picture, wanted, pixels, version] {
                auto s = self.lock();
                if (!s || !*s)
                    return;
                LMImageBrowserView* view = *s;
                auto pending = view->m_pendingPictures.find(uid);
                if (pending == view->m_pendingPictures.end() || pending->second.wanted != wanted)
                    return; // given up meanwhile, or asked for again by a newer load
                view->m_pendingPictures.erase(pending);
                // A file that cannot be read keeps an empty entry, so it is not asked for again.
                view->insertPicture(uid, picture, pixels, version);
                view->setNeedsDisplay();
                view->updateItemUI();
            },
            false);
    });
}

void LMImageBrowserView::forgetPicture(const QString& uid)
{
    if (auto it = m_pictures.find(uid); it != m_pictures.end()) {
        m_pictureBytes -= pictureCost(*it);
        m_pictures.erase(it);
    }
    if (auto pending = m_pendingPictures.find(uid); pending != m_pendingPictures.end()) {
        pending->second.wanted->store(false);
        m_pendingPictures.erase(pending);
    }
    setNeedsDisplay();
}

void LMImageBrowserView::requestVisiblePictures()
{
    std::set<QString> visible;
    for (std::size_t index : visibleItemIndexes()) {
        LMImageBrowserItem* item = itemAtIndex(index);
        if (!item)
            break;
        const QString uid = item->imageUID();
        visible.insert(uid);
        requestPicture(uid, item->imageRepresentation(), item->imageVersion());
    }
    for (auto it = m_pendingPictures.begin(); it != m_pendingPictures.end();) {
        if (visible.count(it->first)) {
            ++it;
            continue;
        }
        it->second.wanted->store(false);
        it = m_pendingPictures.erase(it);
    }
}

void LMImageBrowserView::drawRect(const kpv::Rect&)
{
    kpv::GraphicsContext* g = kpv::GraphicsContext::current();
    if (g) {
        const kpv::Color placeholder(0.25, 0.25, 0.25, 1.0);
        const kpv::Color selected(0.35, 0.55, 0.95, 1.0);
        requestVisiblePictures();
        for (std::size_t index : visibleItemIndexes()) {
            LMImageBrowserItem* item = itemAtIndex(index);
            if (!item)
                break;
            const QString uid = item->imageUID();
            const QImage picture = cachedPicture(uid);
            const kpv::Rect frame = itemImageFrameAtIndex(index);
            if (picture.isNull()) {
                g->fillRect(frame, placeholder);
                // Read and found nothing: the file is gone, moved or not a picture we can read.
                if (hasCachedPicture(uid))
                    drawMissingMark(*g, frame);
            } else {
                // On whole device pixels, so that the scaled picture is copied as it is.
                const double scale = g->backingScaleFactor() > 0 ? g->backingScaleFactor() : 1.0;
                const double x = std::round(frame.x() * scale), y = std::round(frame.y() * scale);
                // The size alone decides the pixels, so scrolling never asks for a new scaling.
                const QSize pixels(int(std::round(frame.width() * scale)), int(std::round(frame.height() * scale)));
                const kpv::Rect snapped(x / scale, y / scale, pixels.width() / scale, pixels.height() / scale);
                const QImage shown = displayPicture(uid, pixels);
                if (!shown.isNull())
                    g->drawImage(kpv::Image(shown, scale), snapped);
            }
            if (m_selection.count(index))
                g->strokeRect(frame, selected, 2.0);
        }
        if (const kpv::Rect bar = dropMarkerFrame(); !bar.isEmpty())
            g->fillRect(bar, selected);
        if (m_banding) {
            const kpv::Rect band = kpv::offsetRect(selectionBand(), 0, -m_scrollOffset);
            g->fillRect(band, kpv::Color(0.35, 0.55, 0.95, 0.2));
            g->strokeRect(band, selected, 1.0);
        }
        // The scaled copies made above count against the budget too.
        evictPictures();
    }
    updateItemUI();
}

void LMImageBrowserView::drawMissingMark(kpv::GraphicsContext& g, const kpv::Rect& frame)
{
    static const kpv::ImagePtr mark = kpv::Image::imageNamed(QStringLiteral("img_bad"));
    if (!mark || !mark->isValid())
        return;
    kpv::Size size = mark->size();
    const double fit = std::min({1.0, frame.width() * 0.5 / std::max(1.0, size.width),
                                 frame.height() * 0.5 / std::max(1.0, size.height)});
    size = {size.width * fit, size.height * fit};
    g.drawImage(*mark, kpv::Rect(frame.x() + (frame.width() - size.width) / 2,
                                 frame.y() + (frame.height() - size.height) / 2, size.width, size.height));
}

std::shared_ptr<kpv::Timer> LMImageBrowserView::commonTimer(double interval, bool repeats, void (LMImageBrowserView::*fire)())
{
    // Common: it fires inside the nested loop a held mouse button may run in, too.
    return kpv::Timer::scheduled(
        interval, repeats,
        [self = std::weak_ptr<LMImageBrowserView*>(m_self), fire](kpv::Timer&) {
            if (auto s = self.lock(); s && *s)
                ((*s)->*fire)();
        },
        kpv::TimerMode::Common);
}

// ---- Events ----

kpv::View* LMImageBrowserView::hitTest(kpv::Point pointInSuperview)
{
    kpv::View* hit = kpv::View::hitTest(pointInSuperview);
    kpv::View* child = hit;
    while (child && child != this && child->superview() != this)
        child = child->superview();
    if (child && child != this)
        for (const auto& entry : m_extraItemViewReps)
            if (entry.second->view == child)
                return this;
    return hit;
}

void LMImageBrowserView::mouseDown(const kpv::Event& e)
{
    const kpv::Point p = convertPointFromView(e.locationInWindow(), nullptr);
    const std::size_t index = indexOfItemAtPoint(p);
    m_pressedIndex = index;
    m_pressPoint = p;
    m_dragging = false;
    m_banding = false;
    stopAutoscroll();
    const auto flags = e.modifierFlags();
    if (index == kNotFound) {
        const bool keep = m_allowsMultipleSelection && (flags & (kpv::CommandKeyMask | kpv::ShiftKeyMask));
        if (!keep)
            setSelectionIndexes({});
        if (m_allowsMultipleSelection) {
            m_banding = true;
            m_bandStart = m_bandEnd = toContent(p);
            m_bandBase = m_selection;
        }
        return;
    }
    if (m_allowsMultipleSelection && (flags & (kpv::CommandKeyMask | kpv::ShiftKeyMask))) {
        std::set<std::size_t> next = m_selection;
        if (flags & kpv::ShiftKeyMask && hasRangeEnds()) {
            // From the anchor to the clicked item: a Shift+click nearer the anchor gives less.
            next.clear();
            for (std::size_t i = std::min(m_anchorIndex, index); i <= std::max(m_anchorIndex, index); ++i)
                next.insert(i);
            setSelectionIndexes(next);
            m_leadIndex = index;
        } else if (flags & kpv::ShiftKeyMask && !m_selection.empty()) {
            const std::size_t first = *m_selection.begin();
            const std::size_t a = std::min(first, index), b = std::max(*m_selection.rbegin(), index);
            for (std::size_t i = a; i <= b; ++i)
                next.insert(i);
            setSelectionIndexes(next);
            setRangeEnds(index < first ? b : a, index);
        } else {
            if (next.count(index))
                next.erase(index);
            else
                next.insert(index);
            setSelectionIndexes(next);
            setRangeEnds(index, index);
        }
    } else {
        if (!m_selection.count(index))
            setSelectionIndexes({index});
        setRangeEnds(index, index);
    }
    if (e.clickCount() == 2 && m_delegate)
        m_delegate->imageBrowserCellWasDoubleClickedAtIndex(this, index);
}

kpv::Rect LMImageBrowserView::selectionBand() const
{
    if (!m_banding)
        return kpv::Rect();
    return kpv::Rect(std::min(m_bandStart.x, m_bandEnd.x), std::min(m_bandStart.y, m_bandEnd.y),
                     std::abs(m_bandEnd.x - m_bandStart.x), std::abs(m_bandEnd.y - m_bandStart.y));
}

void LMImageBrowserView::dragBandTo(kpv::Point p)
{
    m_bandPointer = p;
    const double height = bounds().height();
    m_bandEnd = toContent({std::clamp(p.x, 0.0, bounds().width()), std::clamp(p.y, 0.0, height)});
    const kpv::Rect band = selectionBand();
    std::set<std::size_t> next = m_bandBase;
    for (std::size_t i : m_layout.visibleIndexes(band.y(), std::max(band.height(), 1.0))) {
        const kpv::Rect cell = m_layout.cellFrame(i);
        if (cell.x() < band.maxX() && band.x() < cell.maxX() && cell.y() < band.maxY() && band.y() < cell.maxY())
            next.insert(i);
    }
    setSelectionIndexes(next);
    // Keys go on from the selection's ends, not from a range made before.
    setRangeEnds(kNotFound, kNotFound);
    setNeedsDisplay();
}

double LMImageBrowserView::distancePastEdge(kpv::Point p) const
{
    // Measured from a line kAutoscrollEdgeZone inside the edge, so that a grid reaching the
    // screen's edge, which the pointer cannot pass, scrolls too.
    if (p.y < kAutoscrollEdgeZone)
        return p.y - kAutoscrollEdgeZone;
    const double bottom = bounds().height() - kAutoscrollEdgeZone;
    return p.y > bottom ? p.y - bottom : 0.0;
}

double LMImageBrowserView::autoscrollSpeed(double distance)
{
    constexpr double kCrawl = 120.0;      // points a second just past the edge
    constexpr double kPerPoint = 12.0;    // and this much more for each point farther out
    constexpr double kFastest = 4000.0;
    return std::min(kFastest, kCrawl + kPerPoint * std::abs(distance));
}

void LMImageBrowserView::autoscrollStep()
{
    const double past = distancePastEdge(m_bandPointer);
    // Out of sight the release may never come: no scrolling what nobody sees.
    if (!m_banding || past == 0 || isHiddenOrHasHiddenAncestor()) {
        stopAutoscroll();
        return;
    }
    const double before = m_scrollOffset;
    const double step = autoscrollSpeed(past) * kAutoscrollInterval;
    setScrollOffset(m_scrollOffset + (past < 0 ? -step : step));
    // The band's far end stays under the pointer, so it reaches the rows that scroll in.
    dragBandTo(m_bandPointer);
    if (m_scrollOffset == before)
        stopAutoscroll(); // the end of the grid
}

void LMImageBrowserView::stopAutoscroll()
{
    if (m_autoscrollTimer)
        m_autoscrollTimer->invalidate();
    m_autoscrollTimer.reset();
}

void LMImageBrowserView::setDropMarker(std::size_t index, kpv::Point p)
{
    const kpv::Rect before = dropMarkerFrame();
    m_dropIndex = index;
    m_dropPoint = p;
    if (before != dropMarkerFrame())
        setNeedsDisplay();
}

kpv::Rect LMImageBrowserView::dropMarkerFrame() const
{
    const std::size_t count = m_layout.itemCount;
    if (m_dropIndex == kNotFound || count == 0)
        return kpv::Rect();
    const std::size_t columns = std::max<std::size_t>(1, m_layout.columns());
    // An index at the start of a row is also the place after the row above: the bar stands at the
    // end of the row the pointer is on.
    const double rowPitch = m_layout.cellSize.height + LMImageBrowserLayout::kSpacing;
    const double pointerRow = std::floor((toContent(m_dropPoint).y - LMImageBrowserLayout::kMargin) / rowPitch);
    const bool after = m_dropIndex > 0 &&
                       (m_dropIndex >= count || (m_dropIndex % columns == 0 && pointerRow < double(m_dropIndex / columns)));
    const kpv::Rect cell = itemFrameAtIndex(after ? std::min(m_dropIndex, count) - 1 : m_dropIndex);
    const double gap = std::max(2.0, m_layout.columnPitch() - m_layout.cellSize.width);
    constexpr double kBarWidth = 3.0;
    const double x = after ? cell.maxX() + gap / 2 : cell.x() - gap / 2;
    return kpv::Rect(x - kBarWidth / 2, cell.y(), kBarWidth, cell.height());
}

void LMImageBrowserView::mouseDragged(const kpv::Event& e)
{
    const kpv::Point p = convertPointFromView(e.locationInWindow(), nullptr);
    if (m_banding) {
        dragBandTo(p);
        if (distancePastEdge(p) == 0) {
            stopAutoscroll();
        } else if (!m_autoscrollTimer) {
            // Common: the steps go on inside a nested loop the drag may run in.
            m_autoscrollTimer = commonTimer(kAutoscrollInterval, true, &LMImageBrowserView::autoscrollStep);
            // The first step at once, so that the grid answers the pointer leaving it.
            autoscrollStep();
        }
        return;
    }
    if (m_pressedIndex == kNotFound)
        return;
    if (std::hypot(p.x - m_pressPoint.x, p.y - m_pressPoint.y) >= kDragThreshold)
        m_dragging = true;
    if (m_dragging && !kpv::pointInRect(p, bounds()) && beginFileDragOutside()) {
        m_dragging = false;
        m_pressedIndex = kNotFound;
        setDropMarker(kNotFound, p);
        return;
    }
    if (m_dragging && m_allowsReordering)
        setDropMarker(kpv::pointInRect(p, bounds()) ? dropIndexAtPoint(p) : kNotFound, p);
}

void LMImageBrowserView::mouseUp(const kpv::Event& e)
{
    const kpv::Point p = convertPointFromView(e.locationInWindow(), nullptr);
    if (m_banding) {
        stopAutoscroll();
        m_banding = false;
        m_bandBase.clear();
        setNeedsDisplay();
        return;
    }
    setDropMarker(kNotFound, p);
    if (m_dragging && m_allowsReordering)
        moveSelectedItemsToIndex(dropIndexAtPoint(p));
    else if (m_pressedIndex != kNotFound && !(e.modifierFlags() & (kpv::CommandKeyMask | kpv::ShiftKeyMask))) {
        setSelectionIndexes({m_pressedIndex});
        setRangeEnds(m_pressedIndex, m_pressedIndex);
    }
    m_dragging = false;
    m_pressedIndex = kNotFound;
}

void LMImageBrowserView::viewWillMoveToWindow(kpv::Window* newWindow)
{
    if (newWindow != window())
        endPress();
    kpv::View::viewWillMoveToWindow(newWindow);
}

void LMImageBrowserView::endPress()
{
    stopAutoscroll();
    if (m_banding || m_dropIndex != kNotFound)
        setNeedsDisplay();
    m_banding = false;
    m_bandBase.clear();
    m_dropIndex = kNotFound;
    m_dragging = false;
    m_pressedIndex = kNotFound;
}

void LMImageBrowserView::rightMouseDown(const kpv::Event& e)
{
    const std::size_t index = indexOfItemAtPoint(convertPointFromView(e.locationInWindow(), nullptr));
    if (index != kNotFound && !m_selection.count(index))
        setSelectionIndexes({index});
    const bool answered = m_delegate && (index == kNotFound
                                             ? m_delegate->imageBrowserBackgroundWasRightClickedWithEvent(this, e)
                                             : m_delegate->imageBrowserCellWasRightClickedAtIndex(this, index, e));
    if (!answered)
        kpv::View::rightMouseDown(e); // the favourites' context menu belongs to the window's content
}

kpv::Point LMImageBrowserView::contextMenuLocationForKeyboard() const
{
    if (!m_selection.empty()) {
        const std::size_t index = hasRangeEnds() && m_selection.count(m_leadIndex) ? m_leadIndex : *m_selection.begin();
        const kpv::Rect cell = kpv::intersectionRect(itemFrameAtIndex(index), visibleRect());
        if (!cell.isEmpty())
            return kpv::Point{cell.midX(), cell.midY()};
    }
    return kpv::View::contextMenuLocationForKeyboard();
}

void LMImageBrowserView::scrollWheel(const kpv::Event& e)
{
    // A touchpad reports pixels; a wheel reports notches, each a step of three lines.
    const double dy = e.scrollingDeltaY();
    setScrollOffset(m_scrollOffset - (e.hasPreciseScrollingDeltas() ? dy : dy * kWheelNotchPixels));
    if (m_banding)
        dragBandTo(m_bandPointer); // a band held meanwhile reaches the rows that come into sight
}

std::size_t LMImageBrowserView::indexForKey(unsigned short keyCode, std::size_t from) const
{
    const std::size_t count = m_layout.itemCount;
    // Only the keys that move take the first item when none is chosen: any other (F11 for full
    // screen, a letter) goes on to the window instead of choosing a photo.
    switch (keyCode) {
    case kKeyLeft: case kKeyRight: case kKeyUp: case kKeyDown:
    case kKeyHome: case kKeyEnd: case kKeyPageUp: case kKeyPageDown: break;
    default: return kNotFound;
    }
    if (count == 0)
        return kNotFound;
    if (from >= count)
        return keyCode == kKeyEnd || keyCode == kKeyUp || keyCode == kKeyLeft ? count - 1 : 0;
    const std::size_t columns = std::max<std::size_t>(1, m_layout.columns());
    const double rowPitch = m_layout.cellSize.height + LMImageBrowserLayout::kSpacing;
    const std::size_t pageRows =
        rowPitch > 0 ? std::max<std::size_t>(1, std::size_t(bounds().height() / rowPitch)) : std::size_t(1);
    switch (keyCode) {
    case kKeyLeft: return from > 0 ? from - 1 : from;
    case kKeyRight: return from + 1 < count ? from + 1 : from;
    case kKeyUp: return from >= columns ? from - columns : from;
    case kKeyDown: return from + columns < count ? from + columns : from;
    case kKeyHome: return 0;
    case kKeyEnd: return count - 1;
    case kKeyPageUp: return from >= pageRows * columns ? from - pageRows * columns : from % columns;
    case kKeyPageDown: {
        const std::size_t step = pageRows * columns;
        if (from + step < count)
            return from + step;
        // The last row, in the same column when it reaches that far.
        const std::size_t lastRowStart = (count - 1) / columns * columns;
        return std::min(count - 1, lastRowStart + from % columns);
    }
    default: return kNotFound;
    }
}

void LMImageBrowserView::keyDown(const kpv::Event& e)
{
    const unsigned short key = e.keyCode();
    // Delete only: Backspace steps back through photos elsewhere, and must not send them away here.
    // One press, one removal: the repeats of a held Delete would remove the photo chosen after
    // each one too.
    if (key == kKeyForwardDelete && e.isARepeat())
        return;
    if (key == kKeyForwardDelete && m_dataSource && !m_selection.empty()) {
        const std::set<std::size_t> removed = m_selection;
        m_dataSource->imageBrowserRemoveItemsAtIndexes(this, removed);
        return;
    }
    if ((key == kKeyReturn || key == kKeyEnter) && m_delegate && m_selection.size() == 1) {
        m_delegate->imageBrowserCellWasDoubleClickedAtIndex(this, *m_selection.begin());
        return;
    }
    const bool extend = m_allowsMultipleSelection && (e.modifierFlags() & kpv::ShiftKeyMask);
    // Moving starts at the end of the range the keys or the mouse last made; for a selection made
    // otherwise, at its first or last item by the key's direction. With nothing selected the
    // first key selects an end.
    const bool ranged = hasRangeEnds();
    const std::size_t from = m_selection.empty() ? kNotFound
                             : ranged ? m_leadIndex
                             : key == kKeyLeft || key == kKeyUp || key == kKeyPageUp ? *m_selection.begin()
                                                                                     : *m_selection.rbegin();
    const std::size_t to = indexForKey(key, from);
    if (to == kNotFound) {
        kpv::View::keyDown(e);
        return;
    }
    if (extend && from != kNotFound) {
        // From the anchor to the new end: going back toward the anchor gives items up again.
        const std::size_t anchor = ranged ? m_anchorIndex : from;
        std::set<std::size_t> next = ranged ? std::set<std::size_t>() : m_selection;
        for (std::size_t i = std::min(anchor, to); i <= std::max(anchor, to); ++i)
            next.insert(i);
        setSelectionIndexes(next);
        setRangeEnds(anchor, to);
    } else {
        setSelectionIndexes({to});
        setRangeEnds(to, to);
    }
    scrollIndexToVisible(to);
}
