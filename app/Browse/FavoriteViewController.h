#pragma once
// The favourites: the collection of files the user marked (kept between runs by the shell, which
// restores the list at start and is told of every change), the favourites mode (show mode 8) that shows it as a grid with its own toolbar,
// and the commands of that mode. The collection follows files that are deleted, modified or
// renamed elsewhere through the navigator's notifications.
//
// The list and the path index are always changed together: every key of the index maps to an
// element of the list with that path, and every element is reachable under its path.

#include "Browse/FavImageBrowserItem.h"
#include "Browse/FavoriteViewHost.h"
#include "Browse/LMImageBrowserDelegate.h"

#include "Kit/LMButtonDelegate.h"
#include "Model/LMImage.h"
#include "Kit/LMEquivalentResponder.h"
#include "Kit/ShowModeController.h"

#include <QHash>
#include <QVariantMap>
#include <functional>
#include <memory>
#include <set>
#include <vector>

class FavFileCopyProcessController;
class FavImageBrowserView;
class FavRemoveItemButton;
class LMButton;
class LMEventMonitor;
class LMFadeShowProxy;
class LMThumbZoomSlider;
namespace kpv {
class FolderWatcher;
}
namespace kpv {
class Color;
class View;
}

extern const char* const DidAddFilesToFavoriteNotification;      // "DidAddFilesToFavorite"
extern const char* const DidRemoveFilesFromFavoriteNotification; // "DidRemoveFilesFromFavorite"

class FavoriteViewController : public ShowModeController,
                               public LMEquivalentResponder,
                               public LMImageBrowserDataSource,
                               public LMImageBrowserDelegate,
                               public LMButtonDelegate {
public:
    static constexpr std::size_t kNotFound = static_cast<std::size_t>(-1);
    static constexpr double kMinThumbZoom = 92.0;
    static constexpr double kMaxThumbZoom = 808.0;
    static constexpr double kDefaultThumbZoom = 192.0;
    static constexpr double kCellAspect = 1.3333333333333333;
    static constexpr double kScrollerWidth = 15.0;
    static constexpr int kSmallThumbType = 8;

    // How many of the shared files the share sheet shows as thumbnails.
    static constexpr std::size_t kShareThumbsShown = 5;
    // Folders of favourites watched at most while the grid is up.
    static constexpr qsizetype kMaxWatchedFolders = 64;
    // Vanished favourites looked for under another name at each change, and the names of a
    // folder read while looking.
    static constexpr int kMaxRenamesLookedFor = 16;
    static constexpr int kMaxNamesReadPerFolder = 100000;
    // Loads a small thumbnail synchronously (path, base information); the default uses the
    // application's photo loader.
    using ThumbLoader = std::function<LMImagePtr(const LMPathString&, const LMFileImgBaseInfoPtr&)>;
    // Whether a folder accepts new files (tests replace it).
    using WritableCheck = std::function<bool(const QString& folder)>;

    explicit FavoriteViewController(FavoriteViewHost& host);

    // The opaque ground of the favourites screen: the window's own dark grey.
    static kpv::Color backgroundColor();
    ~FavoriteViewController() override;
    FavoriteViewController(const FavoriteViewController&) = delete;
    FavoriteViewController& operator=(const FavoriteViewController&) = delete;

    void setThumbLoader(ThumbLoader loader) { m_thumbLoader = std::move(loader); }
    const ThumbLoader& thumbLoader() const { return m_thumbLoader; }
    void setWritableCheck(WritableCheck check) { m_writableCheck = std::move(check); }
    // The folder of copies the program made only to be favourites (loved crops): such a copy is
    // deleted when it leaves the favourites, and nothing else ever is.
    void setKeptCopiesFolder(const QString& folder) { m_keptCopiesFolder = folder; }
    // Called after every change of the list's members or order (add, remove, reorder, rename).
    void setCollectionChangedHandler(std::function<void()> handler) { m_collectionChanged = std::move(handler); }
    // Appends favourites kept from an earlier run, in order, skipping paths already present; one
    // "DidAddFilesToFavorite" names them all. A file that is gone stays a favourite: the grid shows
    // it as missing and the user removes it.
    void restoreFavoriteFiles(const QList<LMPathString>& paths);
    QList<LMPathString> favoriteFilePaths() const;

    // ---- The collection ----
    void addFovoriteFile(const LMPathString& path, const LMFileImgBaseInfoPtr& imageBaseInfo, const QImage& smallThumb);
    void removeFavoriteFile(const LMPathString& path);
    void removeItemsAtIndexes(const std::set<std::size_t>& indexes);
    void removeAllFavoriteFiles();
    bool isFavoriteFile(const LMPathString& path) const override;
    FavImageBrowserItemPtr favImageBrowserItemByFilePath(const LMPathString& path) const;
    std::size_t itemIndexByFilePath(const LMPathString& path) const;
    std::size_t favoriteFileCount() const { return m_favImageBrowserItems.size(); }
    LMPathString getLastFavoriteFile() const;
    std::shared_ptr<FavoriteFileInfo> getFileInfo(const LMPathString& path, bool forceLoadThumb);
    void updateFavoriteSmallThumb(const LMImagePtr& image, const LMPathString& path, bool formalSmallThumb);
    void updateFavPhotoBoxUI() { m_host.updateFavPhotoBoxUI(); }
    const std::vector<FavImageBrowserItemPtr>& favImageBrowserItems() const { return m_favImageBrowserItems; }
    // Reorder: the items at `indexes` go before the item that was at `toIndex`.
    bool moveItemsAtIndexes(const std::set<std::size_t>& indexes, std::size_t toIndex);

    // ---- Notification handlers (public for the shell's tests) ----
    void didChangeMainShowMode(const QVariantMap& userInfo);
    void didLoadImage(const QVariantMap& userInfo);
    void didUpdateSmallThumb(const QVariantMap& userInfo);
    void didFileModified(const QVariantMap& userInfo);
    void didFilesDeleted(const QVariantMap& userInfo);
    void didFilesBatchRenamed(const QVariantMap& userInfo);
    // The viewer's list changed (another program may have changed or removed files): favourites
    // whose files changed or vanished are shown as they are now.
    void didChangeFileList();
    // Resets the favourites whose files changed or vanished since they were last read, so the
    // grid reads them again (a vanished one shows as missing); true when any was.
    bool refreshItemsOfChangedFiles();
    // Favourites whose files another program renamed within their folders stay favourites under
    // the new names (the same file found again beside the old name); true when any was.
    bool followFilesRenamedElsewhere();

    // ---- Commands ----
    bool canDoAction(long actionId) override;
    void doAction(long actionId, long argument) override;
    // The selected favourites in index order, or all of them when nothing is selected.
    std::vector<FavImageBrowserItemPtr> selectedFavImageBrowserItems() const;
    void doSaveAs();
    void beginCopyFilesToDirectory(const QString& directory);
    void doPrint();
    void revealFilesInFinder();
    void doCopy();
    void removeFilesFromMyFavorites();
    void doBatchForType(long type);
    void doBatchRename();
    void doBatchResizeOrConvert(bool resize);
    void doShareForType(long shareType);
    void playSlideshow();
    FavFileCopyProcessController* copyController() const { return m_copyController.get(); }
    bool isCopyingFiles() const;

    // ---- Screen ----
    kpv::View* view() const { return m_view; }
    kpv::View* favToolbar() const { return m_viewFavToolbar; }
    LMThumbZoomSlider* zoomSlider() const { return m_slideZoomThumb; }
    FavImageBrowserView* browser() const { return m_browser; }
    double thumbZoomValue() const { return m_thumbZoomValue; }
    // `live`: the value is still moving with the slider's knob (see LMImageBrowserView::setCellSize).
    void updateThumbZoomValue(double value, bool updateZoomSlider, bool live = false);
    // The picture size a double click asks for: the widest single column, or back to the default.
    static double doubleClickZoomValue(double sliderValue, double browserWidth);
    // The picture size a pinch asks for.
    static double magnifyZoomValue(double magnification, double storedValue);
    void setIntroTipsShown(bool shown) { m_introTipsShown = shown; }
    bool curFavoriteIntroTipsShowStatus() const { return m_introTipsShown; }
    // Places the remove button over the picture under `pointInBrowser` (browser coordinates);
    // `check` re-places it even when the index did not change. Runs at once; the mode's handlers
    // defer it to the next turn of the run loop.
    void updateItemRollOverViewByLocation(kpv::Point pointInBrowser, bool check);
    kpv::View* itemRollOverView() const { return m_viewItemRollOver; }
    FavRemoveItemButton* removeButton() const { return m_btnRemoveItem; }
    void removeFavItem();
    // Toolbar: the pop-up buttons open their pop-ups on hover and click; the tip blocks them.
    void showHidePopMenuViewForType(int type, bool show, kpv::Point locationInWindow, bool delay);
    void popMenuViewShowed(int type, bool shown);
    bool popMenuViewPopup(int type) const { return type == 0 || type == 1 ? m_popMenuViewPopup[type] : false; }
    void updateShareButtonUI(long shareType);
    void updateShareButtonEnableStatus();
    void showFavoriteIntroTips();
    void hideFavoriteIntroTips();
    void popUpContextMenuWithEvent(const kpv::Event& e) override;
    // Shown in the main window.
    kpv::Window* window() const override { return nullptr; }
    LMButton* shareButton() const { return m_btnShare; }
    // The key monitor's decision for a key-down (true: consumed).
    bool handleKeyDown(unsigned short keyCode, bool windowIsKey);

    // ---- Image browser ----
    std::size_t numberOfItemsInImageBrowser(LMImageBrowserView*) override { return favoriteFileCount(); }
    LMImageBrowserItem* imageBrowserItemAtIndex(LMImageBrowserView*, std::size_t index) override;
    bool imageBrowserMoveItemsAtIndexes(LMImageBrowserView*, const std::set<std::size_t>& indexes, std::size_t toIndex) override;
    void imageBrowserRemoveItemsAtIndexes(LMImageBrowserView*, const std::set<std::size_t>& indexes) override;
    void imageBrowserCellWasDoubleClickedAtIndex(LMImageBrowserView*, std::size_t index) override;
    std::unique_ptr<LMImageBrowserExtraItemViewController> extraItemViewControllerForImageBrowserView(LMImageBrowserView*) override;
    bool imageBrowserViewExtraItemViewOutside(LMImageBrowserView*, kpv::Point* leftTop, kpv::Point* rightBottom) override;
    std::optional<bool> imageBrowserViewValidateMenuItem(LMImageBrowserView*, kpv::MenuItem& item) override;
    bool imageBrowserViewCopy(LMImageBrowserView*) override;
    void imageBrowserViewEndDraggingWithOperation(LMImageBrowserView*, unsigned long operation) override;

    // ---- Toolbar buttons ----
    void buttonMouseEntered(LMButton* button) override;
    void buttonMouseExited(LMButton* button) override;

    // ---- Equivalent responder ----
    bool performMouseMovedEquivalent(const kpv::Event& e) override;
    bool performMagnifyEquivalent(const kpv::Event& e) override;

private:
    void loadView();
    void reloadBrowser();
    // Moves the selection with the favourites left after those at `removed` went.
    void keepSelectionAfterRemoving(const std::set<std::size_t>& removed);
    void enterMode(long oldMode);
    void leaveMode(long newMode);
    std::set<std::size_t> selectionIndexes() const;
    QList<LMPathString> pathsOf(const std::vector<FavImageBrowserItemPtr>& items) const;
    void collectionChanged();
    // Where a favourite that comes back goes: its old place among the favourites still there
    // when its file went (to the trash, say) and came back; the end for any other.
    std::size_t placeForAddedFile(const LMPathString& path);
    // While the grid is up, the favourites' folders are watched: another program's change to a
    // favourite shows at once, wherever the file lies. Nothing is watched while the grid is away.
    void watchFavoriteFolders();
    void favoriteFoldersChanged();

    FavoriteViewHost& m_host;
    std::vector<FavImageBrowserItemPtr> m_favImageBrowserItems;
    QHash<LMPathString, FavImageBrowserItemPtr> m_dictFavImageBrowserItems;
    ThumbLoader m_thumbLoader;
    WritableCheck m_writableCheck;
    QString m_keptCopiesFolder;
    std::function<void()> m_collectionChanged;
    // The order of the favourites just before the files of some of them went, for each of those
    // files: Undo puts a trashed favourite back through add, and it takes its old place again.
    QHash<LMPathString, std::shared_ptr<const QList<LMPathString>>> m_orderBeforeFileWent;

    kpv::View* m_view = nullptr;              // owned while out of its container
    std::unique_ptr<kpv::View> m_ownedView;
    kpv::View* m_viewFavToolbar = nullptr;
    std::unique_ptr<kpv::View> m_ownedToolbar;
    FavImageBrowserView* m_browser = nullptr;
    LMThumbZoomSlider* m_slideZoomThumb = nullptr;
    kpv::View* m_viewItemRollOver = nullptr; // owned while out of the browser
    std::unique_ptr<kpv::View> m_ownedRollOver;
    FavRemoveItemButton* m_btnRemoveItem = nullptr;
    LMButton* m_btnBatch = nullptr;
    LMButton* m_btnShare = nullptr;
    LMButton* m_btnShareMore = nullptr;
    LMButton* m_btnSaveAs = nullptr;
    bool m_popMenuViewPopup[2] = {false, false};
    std::unique_ptr<LMFadeShowProxy> m_favoriteViewShowProxy;
    std::unique_ptr<LMFadeShowProxy> m_favToolbarShowProxy;
    std::shared_ptr<LMEventMonitor> m_eventMonitor;
    double m_thumbZoomValue = kDefaultThumbZoom;
    bool m_introTipsShown = false;

    std::unique_ptr<kpv::FolderWatcher> m_folderWatcher;

    std::unique_ptr<FavFileCopyProcessController> m_copyController;
    // Printing: images rendered so far and how many are expected.
    QList<QImage> m_printImages;
    QList<LMPathString> m_printFailed; // the photos of the print that could not be read
    std::size_t m_printExpected = 0;
    std::size_t m_printArrived = 0;
    int m_printGeneration = 0;
    std::shared_ptr<FavoriteViewController*> m_self;
};
