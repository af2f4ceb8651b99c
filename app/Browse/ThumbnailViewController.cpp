#include "Browse/ThumbnailViewController.h"
#include "Browse/BrowserFileCopy.h"

#include "Browse/FavImageBrowserView.h"
#include "Kit/LMButton.h"
#include "Kit/LMEventMonitorCenter.h"
#include "Kit/LMFadeShowProxy.h"
#include "Kit/LMImageBrowserExtraItemViewController.h"
#include "Kit/LMThumbZoomSlider.h"
#include "Model/LMPerformSelectorWrapper.h"

#include "appkit/Menu.h"
#include "appkit/Window.h"
#include "foundation/Bundle.h"
#include "foundation/FolderWatcher.h"
#include "foundation/NotificationCenter.h"


#include <algorithm>
#include <cmath>
#include <utility>

namespace {
constexpr unsigned short kKeyEscape = 53;

QString key(const char* k)
{
    return QString::fromLatin1(k);
}
} // namespace

ThumbnailViewController::ThumbnailViewController(ThumbnailViewHost& host)
    : m_host(host), m_self(std::make_shared<ThumbnailViewController*>(this))
{
    m_ownedView = std::make_unique<kpv::View>(kpv::Rect(0, 0, 800, 600));
    m_view = m_ownedView.get();
    m_view->setWantsLayer(true);
    m_view->setAutoresizingMask(kpv::ViewWidthSizable | kpv::ViewHeightSizable);
    const kpv::Rect b = m_view->bounds();
    // The grid above, the bar with the picture-size slider and the exit button below.
    m_browser = new FavImageBrowserView(kpv::Rect(0, kToolbarHeight, b.width(), b.height() - kToolbarHeight));
    m_browser->setAutoresizingMask(kpv::ViewWidthSizable | kpv::ViewHeightSizable);
    m_browser->setCellSize({kDefaultThumbZoom, kDefaultThumbZoom / kCellAspect});
    m_browser->setDataSource(this);
    m_browser->setDelegate(this);
    m_view->addSubview(m_browser);

    m_toolbar = new kpv::View(kpv::Rect(0, 0, b.width(), kToolbarHeight));
    m_toolbar->setAutoresizingMask(kpv::ViewWidthSizable);
    m_view->addSubview(m_toolbar);
    std::weak_ptr<ThumbnailViewController*> self = m_self;
    m_slideZoomThumb = new LMThumbZoomSlider(kpv::Rect(12, 10, 160, 20));
    m_slideZoomThumb->setMinValue(kMinThumbZoom);
    m_slideZoomThumb->setMaxValue(kMaxThumbZoom);
    m_slideZoomThumb->setDoubleValue(kDefaultThumbZoom);
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
    m_toolbar->addSubview(m_slideZoomThumb);
    m_btnExitThumbView = new LMButton(kpv::Rect(b.width() - 40, 6, 28, 28));
    m_btnExitThumbView->setAutoresizingMask(kpv::ViewMinXMargin);
    m_btnExitThumbView->setImageName(key("e_thumbbin"));
    m_btnExitThumbView->setToolTip(kpv::Bundle::mainBundle().localizedString(key("IDS_ExitThumbView")));
    m_btnExitThumbView->setAction([self](kpv::View*) {
        if (auto s = self.lock(); s && *s)
            (*s)->exitThumbViewButtonClicked();
    });
    m_toolbar->addSubview(m_btnExitThumbView);
    m_thumbViewShowProxy = std::make_unique<LMFadeShowProxy>(m_view, true);

    auto& center = kpv::NotificationCenter::defaultCenter();
    center.addObserver(this, key("willChangeMainShowMode"), nullptr,
                       [this](const kpv::Notification& n) { willChangeMainShowMode(n.userInfo); });
    center.addObserver(this, key("didChangeMainShowMode"), nullptr,
                       [this](const kpv::Notification& n) { didChangeMainShowMode(n.userInfo); });
    center.addObserver(this, key("didChangeFileList"), nullptr, [this](const kpv::Notification&) { didChangeFileList(); });
    center.addObserver(this, key("fileModified"), nullptr, [this](const kpv::Notification& n) { didFileModified(n.userInfo); });
    center.addObserver(this, key("filesBatchRenamed"), nullptr,
                       [this](const kpv::Notification& n) { didFilesBatchRenamed(n.userInfo); });
}

ThumbnailViewController::~ThumbnailViewController()
{
    *m_self = nullptr;
    m_folderWatcher.reset();
    kpv::NotificationCenter::defaultCenter().removeObserver(this);
    if (m_eventMonitor)
        LMEventMonitorCenter::eventMonitorCenter().removeMonitor(m_eventMonitor);
    if (!m_ownedView && m_view->superview()) {
        m_view->removeFromSuperview();
        m_ownedView.reset(m_view);
    }
    m_thumbViewShowProxy.reset();
}

void ThumbnailViewController::updateThumbZoomValue(double value, bool updateZoomSlider, bool live)
{
    if (std::isnan(value))
        return;
    value = std::clamp(value, kMinThumbZoom, kMaxThumbZoom);
    m_thumbZoomValue = value;
    m_browser->setCellSize({value, value / kCellAspect}, live);
    if (updateZoomSlider)
        m_slideZoomThumb->setDoubleValue(value);
    // Keep the selected file in sight while the pictures grow or shrink.
    if (!m_browser->selectionIndexes().empty())
        m_browser->scrollIndexToVisible(*m_browser->selectionIndexes().begin());
}

void ThumbnailViewController::updateThumbBrowserItems()
{
    ++m_rebuildCount;
    QHash<LMPathString, ThumbImageBrowserItemPtr> old;
    old.swap(m_dictThumbImageBrowserItems);
    m_thumbFilePaths.clear();
    ThumbnailViewHost* host = &m_host;
    const ThumbImageBrowserItem::DateSource dateSource = [host](const LMPathString& path) {
        return host->fileModificationDate(path);
    };
    const QList<LMPathString> paths = m_host.sortedFilePaths();
    m_dictThumbImageBrowserItems.reserve(paths.size());
    for (const LMPathString& path : paths) {
        // An item whose cell was never shown has read no date yet and reads the current one when
        // it is; one that was shown is kept only while its file has the date it was made for.
        // The viewer's list keeps the date it read first, so a date that differs from the list's
        // is checked against the file: the grid may have seen the file rewritten since, and the
        // list's older date would bring the old picture back.
        ThumbImageBrowserItemPtr item = old.value(path);
        if (item && item->hasFileModificationDate() && item->fileModificationDate() != m_host.fileModificationDate(path)) {
            const QDateTime now = path.dateModified();
            if (!now.isValid())
                item = nullptr; // gone or unreadable: the list's word stands
            else if (now != item->fileModificationDate())
                item = std::make_shared<ThumbImageBrowserItem>(path, now);
        }
        if (!item)
            item = std::make_shared<ThumbImageBrowserItem>(path, dateSource);
        m_dictThumbImageBrowserItems.insert(path, item);
    }
    m_thumbFilePaths = paths;
}

void ThumbnailViewController::selectAndScrollToCurNavFile()
{
    const std::size_t index = m_host.curFileIndex();
    if (index >= std::size_t(m_thumbFilePaths.size()))
        return;
    m_browser->scrollIndexToVisible(index);
    m_browser->setSelectionIndexes({index});
}

QList<LMPathString> ThumbnailViewController::selectedThumbFilePaths() const
{
    QList<LMPathString> out;
    for (std::size_t i : m_browser->selectionIndexes())
        if (i < std::size_t(m_thumbFilePaths.size()))
            out.append(m_thumbFilePaths[qsizetype(i)]);
    return out;
}

bool ThumbnailViewController::canDoAction(long actionId)
{
    if (actionId >= 34 && actionId <= 37)
        return true;
    if (actionId == 6 || actionId == 7 || actionId == 8)
        return !m_browser->selectionIndexes().empty();
    // The batch tools take the selection, or every file of the grid when nothing is selected.
    if (actionId >= 18 && actionId <= 20)
        return !m_thumbFilePaths.isEmpty();
    return false;
}

void ThumbnailViewController::doAction(long actionId, long argument)
{
    // The sort commands come with the sort type they choose; the navigator sorts, and the grid
    // follows its list.
    if (actionId >= 34 && actionId <= 37) {
        if (argument != 0)
            m_host.sortFiles(argument);
        return;
    }
    if (actionId == 6)
        revealFilesInFinder();
    else if (actionId == 7)
        doCopy();
    else if (actionId == 8)
        deleteSelFiles();
    else if (actionId >= 18 && actionId <= 20 && canDoAction(actionId)) {
        const QList<LMPathString> selected = selectedThumbFilePaths();
        m_host.batchFiles(actionId, selected.isEmpty() ? m_thumbFilePaths : selected);
    }
}

void ThumbnailViewController::doCopy()
{
    if (!canDoAction(7))
        return;
    const QString failure = BrowserFileCopy::copyFilesToPasteboard(selectedThumbFilePaths());
    if (!failure.isEmpty())
        m_host.tellFailure(failure);
}

void ThumbnailViewController::revealFilesInFinder()
{
    if (canDoAction(6))
        m_host.revealFilesInFinder(selectedThumbFilePaths());
}

void ThumbnailViewController::deleteSelFiles()
{
    if (canDoAction(8))
        m_host.deleteFiles(selectedThumbFilePaths());
}

bool ThumbnailViewController::handleKeyDown(unsigned short keyCode, bool windowIsKey)
{
    if (keyCode != kKeyEscape || !windowIsKey)
        return false;
    backToViewMode();
    return true;
}

void ThumbnailViewController::willChangeMainShowMode(const QVariantMap& userInfo)
{
    if (userInfo.value(key("new")).toLongLong() != 64)
        return;
    if (kpv::View* container = m_host.containerViewByShowMode(64)) {
        m_view->setFrame(container->bounds());
        if (m_ownedView)
            container->addSubview(m_ownedView.release());
    }
    const bool rebuilt = m_dirty;
    if (m_dirty) {
        updateThumbBrowserItems();
        m_dirty = false;
    }
    std::weak_ptr<ThumbnailViewController*> self = m_self;
    LMPerformSelectorWrapper().performWithBlock(
        [self, rebuilt] {
            auto s = self.lock();
            if (!s || !*s)
                return;
            if (rebuilt)
                (*s)->m_browser->reloadData();
            (*s)->selectAndScrollToCurNavFile();
        },
        0);
}

void ThumbnailViewController::didChangeMainShowMode(const QVariantMap& userInfo)
{
    const long oldMode = userInfo.value(key("old")).toLongLong();
    const long newMode = userInfo.value(key("new")).toLongLong();
    std::weak_ptr<ThumbnailViewController*> self = m_self;
    if (newMode == 64) {
        watchFolders();
        // Photos rewritten or replaced while the grid was away show as they are now.
        foldersChanged(true);
        m_thumbViewShowProxy->showWithAnimation(true, false);
        if (kpv::Window* w = m_host.window())
            w->makeFirstResponder(m_browser);
        if (!m_eventMonitor) {
            m_eventMonitor = LMEventMonitorCenter::eventMonitorCenter().addLocalMonitorForEventsMatchingMask(
                kpv::KeyDownMask, [self](const kpv::Event& e) {
                    auto s = self.lock();
                    if (!s || !*s)
                        return false;
                    kpv::Window* w = (*s)->m_host.window();
                    return (*s)->handleKeyDown(e.keyCode(), !w || w->isKeyWindow());
                });
        }
        return;
    }
    if (oldMode != 64)
        return;
    // A band or a drag held while the mode goes would never hear its release.
    m_browser->endPress();
    m_folderWatcher.reset();
    if (m_eventMonitor) {
        LMEventMonitorCenter::eventMonitorCenter().removeMonitor(m_eventMonitor);
        m_eventMonitor.reset();
    }
    m_thumbViewShowProxy->hideWithAnimation(true, [self] {
        auto s = self.lock();
        if (!s || !*s)
            return;
        ThumbnailViewController* c = *s;
        if (c->m_host.showMode() == 64)
            return; // back in the mode while fading out: the view stays
        if (!c->m_ownedView && c->m_view->superview()) {
            c->m_view->removeFromSuperview();
            c->m_ownedView.reset(c->m_view);
        }
        const std::size_t index = c->m_fileIndexAfterExitView;
        c->m_fileIndexAfterExitView = ThumbnailViewHost::kNotFound;
        if (index != ThumbnailViewHost::kNotFound) {
            LMPerformSelectorWrapper().performWithBlock(
                [self, index] {
                    if (auto s2 = self.lock(); s2 && *s2)
                        (*s2)->m_host.doNavCurFileToIndex(index, {});
                },
                0);
        }
    });
}

void ThumbnailViewController::didChangeFileList()
{
    if (m_host.showMode() != 64) {
        m_dirty = true;
        return;
    }
    const QList<LMPathString> selected = selectedThumbFilePaths();
    const std::set<std::size_t>& before = m_browser->selectionIndexes();
    const std::size_t firstSelected = before.empty() ? ThumbnailViewHost::kNotFound : *before.begin();
    // The photo the user looks at (the selected one in sight, else the first in sight) keeps its
    // place on screen while files come or go before it, instead of sliding out of sight.
    const std::vector<std::size_t> visible = m_browser->visibleItemIndexes();
    const auto selectedInSight = std::find_if(visible.begin(), visible.end(), [&](std::size_t i) { return before.count(i) > 0; });
    const std::size_t anchor = selectedInSight != visible.end() ? *selectedInSight
                               : visible.empty()                ? ThumbnailViewHost::kNotFound
                                                                : visible.front();
    const bool anchored = anchor < std::size_t(m_thumbFilePaths.size());
    const LMPathString anchorPath = anchored ? m_thumbFilePaths[qsizetype(anchor)] : LMPathString();
    const double anchorTop = anchored ? m_browser->itemFrameAtIndex(anchor).minY() : 0;
    const QList<LMPathString> listBefore = m_thumbFilePaths;
    updateThumbBrowserItems();
    m_browser->reloadData();
    watchFolders();
    if (const qsizetype index = anchored ? m_thumbFilePaths.indexOf(anchorPath) : -1; index >= 0)
        m_browser->setScrollOffset(m_browser->layout().cellFrame(std::size_t(index)).minY() - anchorTop);
    std::set<std::size_t> indexes;
    for (const LMPathString& p : selected) {
        const qsizetype i = m_thumbFilePaths.indexOf(p);
        if (i >= 0)
            indexes.insert(std::size_t(i));
    }
    QList<LMPathString> leftNow;
    for (const LMPathString& p : selected)
        if (!m_thumbFilePaths.contains(p))
            leftNow.append(p);
    // Another program renamed a selected file: the viewer, which has not read every file, may
    // see one file leave and another arrive. The same file under its new name stays selected.
    const std::set<std::size_t> renamedNow = indexesRenamedFrom(leftNow, listBefore);
    indexes.insert(renamedNow.begin(), renamedNow.end());
    if (!m_leftWhileSelected.isEmpty() && selected == QList<LMPathString>{m_standIn}) {
        // Put back (Undo), or come back under another name (the rename seen as two changes).
        std::set<std::size_t> back = indexesRenamedFrom(m_leftWhileSelected, listBefore);
        for (const LMPathString& p : std::as_const(m_leftWhileSelected))
            if (const qsizetype i = m_thumbFilePaths.indexOf(p); i >= 0)
                back.insert(std::size_t(i));
        if (!back.empty()) {
            indexes = back;
            m_leftWhileSelected.clear();
            m_browser->scrollIndexToVisible(*back.begin());
        }
    } else
        m_leftWhileSelected.clear();
    m_selectionLeft.clear();
    for (const LMPathString& p : selected)
        if (!m_thumbFilePaths.contains(p))
            m_selectionLeft.append(p);
    // Every selected file left the list (moved to the trash, say): the file that took the first
    // one's place is selected, so the keys go on from there instead of from the top of the grid.
    m_selectionFellBack = indexes.empty() && firstSelected != ThumbnailViewHost::kNotFound && !m_thumbFilePaths.isEmpty();
    if (m_selectionFellBack) {
        const std::size_t index = std::min(firstSelected, std::size_t(m_thumbFilePaths.size()) - 1);
        indexes.insert(index);
        m_browser->scrollIndexToVisible(index);
        m_leftWhileSelected = m_selectionLeft;
        m_standIn = m_thumbFilePaths[qsizetype(index)];
    }
    m_browser->setSelectionIndexes(indexes);
    // The same indexes may now stand for other files.
    rememberSelectedFiles();
}

std::set<std::size_t> ThumbnailViewController::indexesRenamedFrom(const QList<LMPathString>& left,
                                                                  const QList<LMPathString>& before) const
{
    QList<kpv::FileIdentity> wanted;
    for (const LMPathString& p : left)
        if (auto it = m_selectedIdentities.constFind(p); it != m_selectedIdentities.constEnd())
            wanted.append(*it);
    std::set<std::size_t> found;
    if (wanted.isEmpty())
        return found;
    const QSet<LMPathString> old(before.begin(), before.end());
    qsizetype looked = 0;
    for (qsizetype i = 0; i < m_thumbFilePaths.size() && looked < kMaxRememberedSelection * 4; ++i) {
        if (old.contains(m_thumbFilePaths[i]))
            continue;
        ++looked;
        if (wanted.contains(kpv::fileIdentity(m_thumbFilePaths[i].path())))
            found.insert(std::size_t(i));
    }
    return found;
}

void ThumbnailViewController::imageBrowserSelectionDidChange(LMImageBrowserView*) { rememberSelectedFiles(); }

void ThumbnailViewController::rememberSelectedFiles()
{
    QHash<LMPathString, kpv::FileIdentity> identities;
    // Those that left while selected are still waited for under a new name.
    for (const LMPathString& p : std::as_const(m_leftWhileSelected))
        if (auto it = m_selectedIdentities.constFind(p); it != m_selectedIdentities.constEnd())
            identities.insert(p, *it);
    for (const LMPathString& p : selectedThumbFilePaths()) {
        if (identities.size() >= kMaxRememberedSelection)
            break;
        if (const kpv::FileIdentity id = kpv::fileIdentity(p.path()); id.isValid())
            identities.insert(p, id);
    }
    m_selectedIdentities.swap(identities);
}

void ThumbnailViewController::didFilesBatchRenamed(const QVariantMap& userInfo)
{
    const QList<LMPathString> left = std::exchange(m_selectionLeft, {});
    if (left.isEmpty() || m_host.showMode() != 64)
        return;
    std::set<std::size_t> renamed;
    for (const LMPathString& p : left) {
        const QVariant to = userInfo.value(p.path());
        const LMPathString newPath = to.canConvert<LMPathString>() ? to.value<LMPathString>() : LMPathString(to.toString(), false);
        const qsizetype index = newPath.path().isEmpty() ? -1 : m_thumbFilePaths.indexOf(newPath);
        if (index >= 0)
            renamed.insert(std::size_t(index));
    }
    if (renamed.empty())
        return;
    // A stand-in chosen because every selected file seemed gone gives way to the renamed ones.
    std::set<std::size_t> indexes = m_selectionFellBack ? std::set<std::size_t>() : m_browser->selectionIndexes();
    indexes.insert(renamed.begin(), renamed.end());
    m_browser->setSelectionIndexes(indexes);
    rememberSelectedFiles();
    if (m_selectionFellBack)
        m_browser->scrollIndexToVisible(*renamed.begin());
}

void ThumbnailViewController::didFileModified(const QVariantMap& userInfo)
{
    const QVariant v = userInfo.value(key("filePath"));
    const LMPathString path = v.canConvert<LMPathString>() ? v.value<LMPathString>() : LMPathString(v.toString(), false);
    ThumbImageBrowserItemPtr item = m_dictThumbImageBrowserItems.value(path);
    if (!item)
        return;
    item->updateForFileModified();
    // The grid shows the file as it is now at once, not only once something else redraws it.
    m_browser->setNeedsDisplay();
    m_browser->updateItemUI();
}

void ThumbnailViewController::watchFolders()
{
    if (m_host.showMode() != 64) {
        m_folderWatcher.reset();
        return;
    }
    if (!m_folderWatcher)
        m_folderWatcher = std::make_unique<kpv::FolderWatcher>([this](const QStringList&, const QStringList&) { foldersChanged(); });
    QStringList paths;
    for (const LMPathString& path : std::as_const(m_thumbFilePaths))
        paths.append(path.path());
    m_folderWatcher->watch(LMPathString::foldersHolding(paths, kMaxWatchedFolders), {});
}

void ThumbnailViewController::foldersChanged(bool presentOnly)
{
    if (m_host.showMode() != 64)
        return;
    // Only items whose cells were shown carry a date; the others read theirs when they come into
    // sight. Files added or removed reach the grid as a change of the viewer's list.
    bool changed = false;
    for (const ThumbImageBrowserItemPtr& item : std::as_const(m_dictThumbImageBrowserItems)) {
        if (!item->hasFileModificationDate())
            continue;
        const QDateTime now = item->filePath().dateModified();
        if (presentOnly && !now.isValid())
            continue;
        if (now != item->fileModificationDate()) {
            item->updateForFileModified();
            changed = true;
        } else if (item->wasReplaced()) {
            // Same date, another file: the identifier stays, so its picture is read again.
            item->updateForFileModified();
            m_browser->forgetPicture(item->imageUID());
            changed = true;
        }
    }
    if (!changed)
        return;
    m_browser->setNeedsDisplay();
    m_browser->updateItemUI();
}

LMImageBrowserItem* ThumbnailViewController::imageBrowserItemAtIndex(LMImageBrowserView*, std::size_t index)
{
    if (index >= std::size_t(m_thumbFilePaths.size()))
        return nullptr;
    return m_dictThumbImageBrowserItems.value(m_thumbFilePaths[qsizetype(index)]).get();
}

void ThumbnailViewController::imageBrowserCellWasDoubleClickedAtIndex(LMImageBrowserView*, std::size_t index)
{
    if (m_host.isCurFileModifiedAndCannotOverwriteable()) {
        // The viewer asks about the pending change; open the file after the grid has gone.
        m_fileIndexAfterExitView = index;
        backToViewMode();
        return;
    }
    std::weak_ptr<ThumbnailViewController*> self = m_self;
    m_host.doNavCurFileToIndex(index, [self](bool notNavigated) {
        if (auto s = self.lock(); s && *s && !notNavigated)
            (*s)->backToViewMode();
    });
}

bool ThumbnailViewController::imageBrowserCellWasRightClickedAtIndex(LMImageBrowserView*, std::size_t,
                                                                     const kpv::Event& e)
{
    m_host.popUpContextMenu(e, m_browser);
    return true;
}

bool ThumbnailViewController::imageBrowserBackgroundWasRightClickedWithEvent(LMImageBrowserView*, const kpv::Event& e)
{
    m_host.popUpContextMenu(e, m_browser);
    return true;
}

std::unique_ptr<LMImageBrowserExtraItemViewController>
ThumbnailViewController::extraItemViewControllerForImageBrowserView(LMImageBrowserView*)
{
    return std::make_unique<FavBrowserExtraItemViewController>();
}

bool ThumbnailViewController::imageBrowserViewExtraItemViewOutside(LMImageBrowserView*, kpv::Point* leftTop,
                                                                   kpv::Point* rightBottom)
{
    *leftTop = {7.0, 6.0};
    *rightBottom = {12.0, 12.0};
    return true;
}

std::optional<bool> ThumbnailViewController::imageBrowserViewValidateMenuItem(LMImageBrowserView*, kpv::MenuItem& item)
{
    long id = 0;
    if (item.tag() == 7) {
        item.setTitle(kpv::Bundle::mainBundle().localizedString(key("IDS_MENU_Copy")));
        id = 7;
    } else if (item.tag() == 10) {
        item.setTitle(kpv::Bundle::mainBundle().localizedString(key("IDS_MENU_SelectAll")));
        id = 10;
    }
    if (id == 0)
        return std::nullopt;
    return canDoAction(id);
}
