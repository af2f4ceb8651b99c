// The screen of the favourites mode: the grid, its toolbar, the picture size, entering and
// leaving the mode.
#include "Browse/FavoriteViewController.h"
#include "Model/LMPhotoLibrary.h"

#include "Browse/FavFileCopyProcessController.h"
#include "Browse/FavImageBrowserView.h"
#include "Browse/FavRemoveItemButton.h"
#include "Kit/LMEventMonitorCenter.h"
#include "Kit/LMButton.h"
#include "Kit/LMFadeShowProxy.h"
#include "Kit/LMImageBrowserExtraItemViewController.h"
#include "Kit/LMThumbZoomSlider.h"
#include "Kit/LMTrackingColorView.h"
#include "Model/LMPerformSelectorWrapper.h"
#include "Model/MainConfig.h"

#include "appkit/Event.h"
#include "foundation/Bundle.h"
#include "foundation/FolderWatcher.h"

#include <QFileInfo>
#include "appkit/Window.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr unsigned short kKeyEscape = 53;
}

kpv::Color FavoriteViewController::backgroundColor()
{
    return kpv::Color(40.0 / 255.0, 40.0 / 255.0, 40.0 / 255.0, 1.0);
}

void FavoriteViewController::loadView()
{
    // The grid stands on a ground of its own: the viewer's picture underneath must not show
    // between the cells.
    auto ground = std::make_unique<LMTrackingColorView>(kpv::Rect(0, 0, 800, 600));
    ground->setBkgrdColor(backgroundColor(), backgroundColor());
    m_ownedView = std::move(ground);
    m_view = m_ownedView.get();
    m_view->setAutoresizingMask(kpv::ViewWidthSizable | kpv::ViewHeightSizable);
    m_browser = new FavImageBrowserView(m_view->bounds());
    m_browser->setAutoresizingMask(kpv::ViewWidthSizable | kpv::ViewHeightSizable);
    m_browser->setAllowsReordering(true);
    m_browser->setDataSource(this);
    m_browser->setDelegate(this);
    m_view->addSubview(m_browser);

    m_ownedToolbar = std::make_unique<kpv::View>(kpv::Rect(0, 0, 800, 40));
    m_viewFavToolbar = m_ownedToolbar.get();
    m_slideZoomThumb = new LMThumbZoomSlider(kpv::Rect(12, 10, 160, 20));
    m_slideZoomThumb->setMinValue(kMinThumbZoom);
    m_slideZoomThumb->setMaxValue(kMaxThumbZoom);
    std::weak_ptr<FavoriteViewController*> self = m_self;
    // The cells follow the knob while it is dragged; sharper pictures wait until it is let go.
    m_slideZoomThumb->setContinuous(true);
    m_slideZoomThumb->setAction([self](kpv::View*) {
        if (auto s = self.lock(); s && *s)
            (*s)->updateThumbZoomValue((*s)->m_slideZoomThumb->doubleValue(), false, (*s)->m_slideZoomThumb->isTracking());
    });
    m_slideZoomThumb->setTrackingEndAction([self] {
        if (auto s = self.lock(); s && *s)
            (*s)->updateThumbZoomValue((*s)->m_slideZoomThumb->doubleValue(), false);
    });
    m_viewFavToolbar->addSubview(m_slideZoomThumb);

    auto makeButton = [this](double x, const char* image, const char* tip) {
        auto* b = new LMButton(kpv::Rect(x, 6, 28, 28));
        b->setImageName(QString::fromLatin1(image));
        b->setCareState(true);
        if (tip)
            b->setToolTip(kpv::Bundle::mainBundle().localizedString(QString::fromLatin1(tip)));
        b->setButtonDelegate(this);
        m_viewFavToolbar->addSubview(b);
        return b;
    };
    m_btnBatch = makeButton(200, "e_batch", "IDS_Batch");
    m_btnShare = makeButton(236, "E_SHARE", nullptr);
    m_btnShareMore = makeButton(266, "E_MORE_SHARE", nullptr);
    m_btnSaveAs = makeButton(302, "E_SAVE", "IDS_SAVEAS");
    m_btnSaveAs->setAction([self](kpv::View*) {
        if (auto s = self.lock(); s && *s)
            (*s)->doSaveAs();
    });
    m_btnShare->setAction([self](kpv::View*) {
        auto s = self.lock();
        if (!s || !*s)
            return;
        MainConfig* config = (*s)->m_host.mainConfig();
        (*s)->doShareForType(config ? config->curShareType() : 1);
    });
    auto anchorOf = [](LMButton* b) {
        const kpv::Rect r = b->convertRectToView(b->bounds(), nullptr);
        return kpv::Point{r.x() + r.width() / 2, r.y() + r.height()};
    };
    m_btnBatch->setAction([self, anchorOf](kpv::View*) {
        if (auto s = self.lock(); s && *s) {
            (*s)->m_btnBatch->setState((*s)->m_popMenuViewPopup[0] ? 1 : 0);
            (*s)->showHidePopMenuViewForType(0, true, anchorOf((*s)->m_btnBatch), false);
        }
    });
    m_btnShareMore->setAction([self, anchorOf](kpv::View*) {
        if (auto s = self.lock(); s && *s) {
            const long state = (*s)->m_popMenuViewPopup[1] ? 1 : 0;
            (*s)->m_btnShare->setState(state);
            (*s)->m_btnShareMore->setState(state);
            (*s)->showHidePopMenuViewForType(1, true, anchorOf((*s)->m_btnShare), false);
        }
    });

    m_ownedRollOver = std::make_unique<kpv::View>();
    m_viewItemRollOver = m_ownedRollOver.get();
    m_viewItemRollOver->setHidden(true);
    m_btnRemoveItem = new FavRemoveItemButton(kpv::Rect(0, 0, 20, 20));
    m_btnRemoveItem->setImageName(QStringLiteral("BT_ItmRmv"));
    m_btnRemoveItem->setAction([self](kpv::View*) {
        if (auto s = self.lock(); s && *s)
            (*s)->removeFavItem();
    });
    m_viewItemRollOver->addSubview(m_btnRemoveItem);

    m_favoriteViewShowProxy = std::make_unique<LMFadeShowProxy>(m_view, true);
    m_favToolbarShowProxy = std::make_unique<LMFadeShowProxy>(m_viewFavToolbar, true);

    MainConfig* config = m_host.mainConfig();
    m_thumbZoomValue = config ? config->favoriteThumbZoomValue() : kDefaultThumbZoom;
    m_slideZoomThumb->setDoubleValue(m_thumbZoomValue);
    m_browser->setCellSize({m_thumbZoomValue, m_thumbZoomValue / kCellAspect});
}

void FavoriteViewController::reloadBrowser()
{
    if (!m_browser)
        return;
    // Favourites may lie in folders nobody watches: each file is looked at again, so one changed
    // or removed by another program shows as it is now, never as a picture that is gone.
    refreshItemsOfChangedFiles();
    m_browser->reloadData();
    // The picture under the button may have moved or gone; the next mouse move places it again.
    m_viewItemRollOver->setHidden(true);
    m_btnRemoveItem->setItemIndex(FavRemoveItemButton::kNotFound);
}

void FavoriteViewController::updateThumbZoomValue(double value, bool updateZoomSlider, bool live)
{
    if (std::isnan(value))
        return;
    value = std::clamp(value, kMinThumbZoom, kMaxThumbZoom);
    m_thumbZoomValue = value;
    if (m_browser) {
        m_browser->setCellSize({value, value / kCellAspect}, live);
        // Keep the selected picture in sight while the pictures grow or shrink.
        if (!m_browser->selectionIndexes().empty())
            m_browser->scrollIndexToVisible(*m_browser->selectionIndexes().begin());
    }
    if (updateZoomSlider && m_slideZoomThumb)
        m_slideZoomThumb->setDoubleValue(value);
    if (MainConfig* config = m_host.mainConfig())
        config->setFavoriteThumbZoomValue(value);
}

double FavoriteViewController::doubleClickZoomValue(double sliderValue, double browserWidth)
{
    const double m = std::min(kMaxThumbZoom, browserWidth - kScrollerWidth);
    return sliderValue >= m ? kDefaultThumbZoom : std::max(kMinThumbZoom, m);
}

double FavoriteViewController::magnifyZoomValue(double magnification, double storedValue)
{
    return std::max(kMinThumbZoom, std::min(kMaxThumbZoom, (magnification + 1) * storedValue));
}

bool FavoriteViewController::performMagnifyEquivalent(const kpv::Event& e)
{
    updateThumbZoomValue(magnifyZoomValue(e.magnification(), m_thumbZoomValue), true);
    return true;
}

void FavoriteViewController::imageBrowserCellWasDoubleClickedAtIndex(LMImageBrowserView*, std::size_t)
{
    const double width = m_browser && m_browser->superview() ? m_browser->superview()->bounds().width()
                                                              : (m_browser ? m_browser->bounds().width() : 0);
    updateThumbZoomValue(doubleClickZoomValue(m_thumbZoomValue, width), true);
}

bool FavoriteViewController::handleKeyDown(unsigned short keyCode, bool windowIsKey)
{
    if (keyCode != kKeyEscape || !windowIsKey)
        return false;
    // While a copy runs, Esc belongs to nobody: the copy's sheet has its own Cancel.
    if (!isCopyingFiles())
        m_host.setShowMode(4);
    return true;
}

void FavoriteViewController::didChangeMainShowMode(const QVariantMap& userInfo)
{
    const long oldMode = userInfo.value(QStringLiteral("old")).toLongLong();
    const long newMode = userInfo.value(QStringLiteral("new")).toLongLong();
    if (newMode == 8)
        enterMode(oldMode);
    else if (oldMode == 8 || m_eventMonitor)
        leaveMode(newMode);
    m_host.registEquivalentResponder(this, newMode == 8);
}

void FavoriteViewController::enterMode(long oldMode)
{
    if (!(oldMode & 32)) {
        if (kpv::View* container = m_host.viewNavFavContainer(); container && m_ownedView) {
            m_view->setFrame(container->bounds());
            container->addSubview(m_ownedView.release());
        }
        if (kpv::View* container = m_host.viewToolbarContainer(); container && m_ownedToolbar) {
            container->addSubview(m_ownedToolbar.release());
            m_viewFavToolbar->setFrame(kpv::Rect(0, 0, container->bounds().width(), m_viewFavToolbar->frame().height()));
        }
    }
    MainConfig* config = m_host.mainConfig();
    updateShareButtonUI(config ? config->curShareType() : 1);
    m_favoriteViewShowProxy->showWithAnimation(true, false);
    m_favToolbarShowProxy->showWithAnimation(true, false);
    reloadBrowser();
    watchFavoriteFolders();
    // The arrows, Delete and Return go to the grid, whatever the user clicks in it.
    if (kpv::Window* w = m_host.window())
        w->makeFirstResponder(m_browser);
    if (config && !config->exitFavoriteTipsAlreadyShowed()) {
        config->setExitFavoriteTipsAlreadyShowed(true);
        showFavoriteIntroTips();
    }
    if (!m_eventMonitor) {
        std::weak_ptr<FavoriteViewController*> self = m_self;
        m_eventMonitor = LMEventMonitorCenter::eventMonitorCenter().addLocalMonitorForEventsMatchingMask(
            kpv::KeyDownMask, [self](const kpv::Event& e) {
                auto s = self.lock();
                if (!s || !*s)
                    return false;
                kpv::Window* w = (*s)->m_host.window();
                return (*s)->handleKeyDown(e.keyCode(), !w || w->isKeyWindow());
            });
    }
}

void FavoriteViewController::leaveMode(long newMode)
{
    // A band or a drag held while the mode goes would never hear its release.
    if (m_browser)
        m_browser->endPress();
    // The keys go back to the viewer: the grid, out of sight from now on, lets them go.
    if (kpv::Window* w = m_host.window(); w && w->firstResponder() == m_browser)
        w->makeFirstResponder(nullptr);
    m_folderWatcher.reset();
    m_host.hidePopMenu(0, false);
    m_host.hidePopMenu(1, false);
    hideFavoriteIntroTips();
    if (m_eventMonitor) {
        LMEventMonitorCenter::eventMonitorCenter().removeMonitor(m_eventMonitor);
        m_eventMonitor.reset();
    }
    if (newMode & 32)
        return; // a slideshow plays over the favourites screen
    m_favoriteViewShowProxy->hideWithAnimation(true, false);
    std::weak_ptr<FavoriteViewController*> self = m_self;
    m_favToolbarShowProxy->hideWithAnimation(true, [self] {
        auto s = self.lock();
        if (!s || !*s)
            return;
        FavoriteViewController* c = *s;
        if (c->m_host.showMode() == 8 || c->m_ownedToolbar || !c->m_viewFavToolbar->superview())
            return;
        c->m_viewFavToolbar->removeFromSuperview();
        c->m_ownedToolbar.reset(c->m_viewFavToolbar);
    });
}

void FavoriteViewController::updateItemRollOverViewByLocation(kpv::Point p, bool check)
{
    if (m_host.showMode() != 8 || !m_browser)
        return;
    auto hide = [this] {
        m_viewItemRollOver->setHidden(true);
        m_btnRemoveItem->setItemIndex(FavRemoveItemButton::kNotFound);
    };
    if (!kpv::pointInRect(p, m_browser->bounds())) {
        hide();
        return;
    }
    const std::size_t i = m_browser->indexOfItemAtPoint(p);
    const bool onButton = m_viewItemRollOver->superview() == m_browser && !m_viewItemRollOver->isHidden() &&
                          kpv::pointInRect(p, m_viewItemRollOver->frame());
    if (i == LMImageBrowserView::kNotFound) {
        // The button reaches past its picture: moving onto it keeps it in place.
        if (!check && onButton)
            return;
        hide();
        return;
    }
    if (check || m_btnRemoveItem->itemIndex() != i)
        hide();
    else if (!m_viewItemRollOver->isHidden())
        return;
    if (m_ownedRollOver)
        m_browser->addSubview(m_ownedRollOver.release());
    m_viewItemRollOver->setHidden(false);
    const kpv::Rect f = m_browser->itemImageFrameAtIndex(i);
    // The button sits on the picture's top-right corner (the browser is flipped: top is min y).
    const kpv::Rect b = m_btnRemoveItem->frame();
    m_viewItemRollOver->setFrame(kpv::Rect(f.maxX() - b.width() / 2, f.minY() - b.height() / 2, b.width(), b.height()));
    m_btnRemoveItem->setFrameOrigin({0, 0});
    m_btnRemoveItem->setItemIndex(i);
}

void FavoriteViewController::buttonMouseEntered(LMButton* button)
{
    const kpv::Rect r = m_btnShare->convertRectToView(m_btnShare->bounds(), nullptr);
    if (button == m_btnShare || button == m_btnShareMore)
        showHidePopMenuViewForType(1, true, {r.x() + r.width() / 2, r.y() + r.height()}, true);
    else if (button == m_btnBatch) {
        const kpv::Rect b = m_btnBatch->convertRectToView(m_btnBatch->bounds(), nullptr);
        showHidePopMenuViewForType(0, true, {b.x() + b.width() / 2, b.y() + b.height()}, true);
    }
}

void FavoriteViewController::buttonMouseExited(LMButton* button)
{
    if (button == m_btnShare || button == m_btnShareMore)
        showHidePopMenuViewForType(1, false, {}, true);
    else if (button == m_btnBatch)
        showHidePopMenuViewForType(0, false, {}, true);
}

void FavoriteViewController::showHidePopMenuViewForType(int type, bool show, kpv::Point location, bool delay)
{
    if (type != 0 && type != 1)
        return;
    if (!show) {
        m_host.hidePopMenu(type, delay);
        return;
    }
    if (m_host.showMode() != 8 || m_introTipsShown)
        return;
    m_host.showPopMenu(type, location, delay);
}

void FavoriteViewController::popMenuViewShowed(int type, bool shown)
{
    if (type == 0) {
        m_popMenuViewPopup[0] = shown;
        m_btnBatch->setState(shown ? 1 : 0);
    } else if (type == 1) {
        m_popMenuViewPopup[1] = shown;
        m_btnShare->setState(shown ? 1 : 0);
        m_btnShareMore->setState(shown ? 1 : 0);
    }
}

void FavoriteViewController::updateShareButtonUI(long shareType)
{
    m_btnShare->setImageName(m_host.shareButtonImageName(shareType));
    m_btnShare->setToolTip(m_host.shareButtonToolTip(shareType));
    updateShareButtonEnableStatus();
}

void FavoriteViewController::updateShareButtonEnableStatus()
{
    MainConfig* config = m_host.mainConfig();
    const long type = config ? config->curShareType() : 1;
    m_btnShare->setEnabled(type != 34 || QFileInfo::exists(LMPhotoLibrary::applicationPath()));
}

void FavoriteViewController::showFavoriteIntroTips()
{
    m_introTipsShown = true;
    m_host.showFavoriteIntroTips(true);
}

void FavoriteViewController::hideFavoriteIntroTips()
{
    if (!m_introTipsShown)
        return;
    m_introTipsShown = false;
    m_host.showFavoriteIntroTips(false);
}

void FavoriteViewController::popUpContextMenuWithEvent(const kpv::Event& e)
{
    if (m_host.showMode() == 8 && m_host.isWorkableWindow())
        m_host.popUpContextMenu(e, m_browser);
}

bool FavoriteViewController::performMouseMovedEquivalent(const kpv::Event& e)
{
    if (!m_browser)
        return true;
    const kpv::Point p = m_browser->convertPointFromView(e.locationInWindow(), nullptr);
    std::weak_ptr<FavoriteViewController*> self = m_self;
    LMPerformSelectorWrapper().performWithBlock(
        [self, p] {
            if (auto s = self.lock(); s && *s)
                (*s)->updateItemRollOverViewByLocation(p, false);
        },
        0);
    return true;
}

void FavoriteViewController::removeFavItem()
{
    const std::size_t index = m_btnRemoveItem->itemIndex();
    if (index < m_favImageBrowserItems.size())
        removeItemsAtIndexes({index});
}

LMImageBrowserItem* FavoriteViewController::imageBrowserItemAtIndex(LMImageBrowserView*, std::size_t index)
{
    return index < m_favImageBrowserItems.size() ? m_favImageBrowserItems[index].get() : nullptr;
}

bool FavoriteViewController::imageBrowserMoveItemsAtIndexes(LMImageBrowserView*, const std::set<std::size_t>& indexes,
                                                            std::size_t toIndex)
{
    return moveItemsAtIndexes(indexes, toIndex);
}

void FavoriteViewController::imageBrowserRemoveItemsAtIndexes(LMImageBrowserView*, const std::set<std::size_t>& indexes)
{
    removeItemsAtIndexes(indexes);
}

std::unique_ptr<LMImageBrowserExtraItemViewController>
FavoriteViewController::extraItemViewControllerForImageBrowserView(LMImageBrowserView*)
{
    return std::make_unique<FavBrowserExtraItemViewController>();
}

bool FavoriteViewController::imageBrowserViewExtraItemViewOutside(LMImageBrowserView*, kpv::Point* leftTop,
                                                                  kpv::Point* rightBottom)
{
    *leftTop = {7.0, 6.0};
    *rightBottom = {12.0, 12.0};
    return true;
}
