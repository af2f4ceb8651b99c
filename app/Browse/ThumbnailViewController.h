#pragma once
// The thumbnail mode (show mode 64): every file of the viewer's sorted list in a grid. Files can
// be selected and copied, revealed or moved to the trash; a double click opens one in the viewer.
// Items are rebuilt only when the list changed; unchanged files keep their item and picture.

#include "Browse/LMImageBrowserDelegate.h"
#include "Browse/ThumbImageBrowserItem.h"
#include "Browse/ThumbnailViewHost.h"

#include "Kit/ShowModeController.h"
#include "imageio/FileAccess.h"

#include <QHash>
#include <QVariantMap>
#include <memory>

class FavImageBrowserView;
class LMButton;
class LMEventMonitor;
class LMThumbZoomSlider;
class LMFadeShowProxy;
namespace kpv {
class FolderWatcher;
}

class ThumbnailViewController : public ShowModeController,
                                public LMImageBrowserDataSource,
                                public LMImageBrowserDelegate {
public:
    explicit ThumbnailViewController(ThumbnailViewHost& host);
    ~ThumbnailViewController() override;
    ThumbnailViewController(const ThumbnailViewController&) = delete;
    ThumbnailViewController& operator=(const ThumbnailViewController&) = delete;

    // The grid's picture widths; the cells keep the 4:3 shape.
    static constexpr double kMinThumbZoom = 92.0;
    static constexpr double kMaxThumbZoom = 808.0;
    static constexpr double kDefaultThumbZoom = 192.0;
    static constexpr double kCellAspect = 1.3333333333333333;
    static constexpr double kToolbarHeight = 40.0;

    kpv::View* view() const { return m_view; }
    FavImageBrowserView* browser() const { return m_browser; }
    LMButton* exitButton() const { return m_btnExitThumbView; }
    LMThumbZoomSlider* zoomSlider() const { return m_slideZoomThumb; }
    double thumbZoomValue() const { return m_thumbZoomValue; }
    // Sets the picture width (clamped to the slider's range); the slider follows when asked.
    // `live`: the width is still moving with the slider's knob (see LMImageBrowserView::setCellSize).
    void updateThumbZoomValue(double value, bool updateZoomSlider, bool live = false);
    void exitThumbViewButtonClicked() { backToViewMode(); }
    const QList<LMPathString>& thumbFilePaths() const { return m_thumbFilePaths; }
    ThumbImageBrowserItemPtr itemForPath(const LMPathString& p) const { return m_dictThumbImageBrowserItems.value(p); }
    bool dirty() const { return m_dirty; }
    int rebuildCount() const { return m_rebuildCount; }

    void updateThumbBrowserItems();
    void selectAndScrollToCurNavFile();
    QList<LMPathString> selectedThumbFilePaths() const;
    void backToViewMode() { m_host.setShowMode(4); }
    bool handleKeyDown(unsigned short keyCode, bool windowIsKey);

    // ---- Commands ----
    bool canDoAction(long actionId) override;
    void doAction(long actionId, long argument) override;
    // Shown in the main window; favourites are the favourites mode's.
    bool isFavoriteFile(const LMPathString&) const override { return false; }
    // The browser view shows its own context menu.
    void popUpContextMenuWithEvent(const kpv::Event&) override {}
    kpv::Window* window() const override { return nullptr; }
    void doCopy();
    void revealFilesInFinder();
    void deleteSelFiles();

    // ---- Notifications ----
    void willChangeMainShowMode(const QVariantMap& userInfo);
    void didChangeMainShowMode(const QVariantMap& userInfo);
    void didChangeFileList();
    void didFileModified(const QVariantMap& userInfo);
    // Old path -> new path. The viewer changes its list first, so the selected files renamed have
    // left the selection by then: they are selected again under their new names.
    void didFilesBatchRenamed(const QVariantMap& userInfo);
    // While the grid is up the folders of its files are watched (at most 64): a photo another
    // program rewrites shows as it is now wherever it lies in the grid, not only those the viewer
    // has read lately. Nothing is watched while the grid is away.
    static constexpr qsizetype kMaxWatchedFolders = 64;
    void watchFolders();
    // Items whose files were rewritten or replaced get new pictures. `presentOnly`: files that are
    // gone are left to the list, which hears of them itself.
    void foldersChanged(bool presentOnly = false);

    // ---- Browser ----
    std::size_t numberOfItemsInImageBrowser(LMImageBrowserView*) override { return std::size_t(m_thumbFilePaths.size()); }
    LMImageBrowserItem* imageBrowserItemAtIndex(LMImageBrowserView*, std::size_t index) override;
    // The Delete key over the selection moves the selected files to the trash, as Move to Trash.
    void imageBrowserRemoveItemsAtIndexes(LMImageBrowserView*, const std::set<std::size_t>&) override { deleteSelFiles(); }
    void imageBrowserCellWasDoubleClickedAtIndex(LMImageBrowserView*, std::size_t index) override;
    // Remembers which files the selected ones are (at most kMaxRememberedSelection of them), so
    // that one another program renames is known again under its new name.
    void imageBrowserSelectionDidChange(LMImageBrowserView*) override;
    static constexpr qsizetype kMaxRememberedSelection = 64;
    bool imageBrowserCellWasRightClickedAtIndex(LMImageBrowserView*, std::size_t, const kpv::Event& e) override;
    bool imageBrowserBackgroundWasRightClickedWithEvent(LMImageBrowserView*, const kpv::Event& e) override;
    std::unique_ptr<LMImageBrowserExtraItemViewController> extraItemViewControllerForImageBrowserView(LMImageBrowserView*) override;
    bool imageBrowserViewExtraItemViewOutside(LMImageBrowserView*, kpv::Point* leftTop, kpv::Point* rightBottom) override;
    std::optional<bool> imageBrowserViewValidateMenuItem(LMImageBrowserView*, kpv::MenuItem& item) override;
    bool imageBrowserViewCopy(LMImageBrowserView*) override
    {
        doCopy();
        return true;
    }

private:
    // The indexes of the files new since `before` that are `left` ones under another name.
    std::set<std::size_t> indexesRenamedFrom(const QList<LMPathString>& left, const QList<LMPathString>& before) const;
    void rememberSelectedFiles();

    ThumbnailViewHost& m_host;
    QList<LMPathString> m_thumbFilePaths;
    QHash<LMPathString, ThumbImageBrowserItemPtr> m_dictThumbImageBrowserItems;
    bool m_dirty = true;
    int m_rebuildCount = 0;
    std::size_t m_fileIndexAfterExitView = ThumbnailViewHost::kNotFound;
    // The selected files that left the list at its last change, and whether the selection then
    // fell back to the file that took the first one's place.
    QList<LMPathString> m_selectionLeft;
    bool m_selectionFellBack = false;
    // The selected files that left the list, and the stand-in then selected for them: when they
    // come back (Undo puts them back from the trash) while the stand-in is still the selection,
    // they are selected again.
    QList<LMPathString> m_leftWhileSelected;
    LMPathString m_standIn;
    QHash<LMPathString, kpv::FileIdentity> m_selectedIdentities;
    std::unique_ptr<kpv::FolderWatcher> m_folderWatcher;
    std::shared_ptr<LMEventMonitor> m_eventMonitor;
    kpv::View* m_view = nullptr;
    std::unique_ptr<kpv::View> m_ownedView;
    FavImageBrowserView* m_browser = nullptr;
    kpv::View* m_toolbar = nullptr;
    LMButton* m_btnExitThumbView = nullptr;
    LMThumbZoomSlider* m_slideZoomThumb = nullptr;
    double m_thumbZoomValue = kDefaultThumbZoom;
    std::unique_ptr<LMFadeShowProxy> m_thumbViewShowProxy;
    std::shared_ptr<ThumbnailViewController*> m_self;
};
