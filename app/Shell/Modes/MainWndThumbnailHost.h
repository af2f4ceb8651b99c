#pragma once
// The thumbnail mode inside the main window: the window controller's and the viewer's side of
// the grid (show mode, where the grid goes, the sorted list and the current file, navigation,
// the Trash, revealing files and the grid's context menu) and the thumbnail controller the window
// controller makes on first use. Main thread only.

#include "Browse/ThumbnailViewController.h"
#include "Browse/ThumbnailViewHost.h"

#include "desktop/WorkspaceServices.h"

#include <functional>
#include <memory>

class MainWndController;
class NavigateController;
namespace kpv {
class Menu;
}

class MainWndThumbnailHost final : public ThumbnailViewHost {
public:
    // Where reveal goes: the viewer's desktop services (asked each time, as tests replace them).
    using WorkspaceProvider = std::function<kpv::WorkspaceServices*()>;
    MainWndThumbnailHost(MainWndController& windowController, NavigateController& navigator,
                         WorkspaceProvider workspace);

    long showMode() const override;
    void setShowMode(long mode) override;
    kpv::View* containerViewByShowMode(long mode) const override;
    kpv::Window* window() const override;
    QList<LMPathString> sortedFilePaths() const override;
    QDateTime fileModificationDate(const LMPathString& path) const override;
    std::size_t curFileIndex() const override;
    bool isCurFileModifiedAndCannotOverwriteable() const override;
    void doNavCurFileToIndex(std::size_t index, std::function<void(bool)> done) override;
    void deleteFiles(const QList<LMPathString>& paths) override;
    void sortFiles(long sortType) override;
    void revealFilesInFinder(const QList<LMPathString>& paths) override;
    void tellFailure(const QString& message) override;
    void batchFiles(long actionId, const QList<LMPathString>& paths) override;
    void popUpContextMenu(const kpv::Event& e, kpv::View* view) override;
    // The grid's context menu: Copy, Reveal, Move to Trash and the way back to the viewer, each
    // validated and run by the window controller.
    std::shared_ptr<kpv::Menu> contextMenu();

private:
    MainWndController& m_windowController;
    NavigateController& m_navigator;
    std::shared_ptr<kpv::Menu> m_contextMenu;
    WorkspaceProvider m_workspace;
};

namespace detail {
struct MainWndThumbnailHostHolder {
    MainWndThumbnailHostHolder(MainWndController& windowController, NavigateController& navigator,
                               MainWndThumbnailHost::WorkspaceProvider workspace)
        : thumbnailHost(windowController, navigator, std::move(workspace))
    {
    }
    MainWndThumbnailHost thumbnailHost;
};
} // namespace detail

// The thumbnail controller together with its host, as the window controller owns it.
class MainWndThumbnailController final : private detail::MainWndThumbnailHostHolder, public ThumbnailViewController {
public:
    MainWndThumbnailController(MainWndController& windowController, NavigateController& navigator,
                               MainWndThumbnailHost::WorkspaceProvider workspace);
    MainWndThumbnailHost& host() { return thumbnailHost; }
};

// Registers the thumbnail mode's factory with the window controller; `navigator` outlives it.
void registerThumbnailMode(MainWndController& windowController, NavigateController& navigator,
                           MainWndThumbnailHost::WorkspaceProvider workspace);
