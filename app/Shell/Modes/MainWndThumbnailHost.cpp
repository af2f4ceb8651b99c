#include "Shell/Modes/MainWndThumbnailHost.h"

#include "Shell/MainWindow/LMMainWindow.h"
#include "Shell/MainWindow/MainWndController.h"
#include "Shell/Modes/MainWndEditSheets.h"

#include "Model/LMFileInfo.h"
#include "Model/NavSortFileInfoList.h"
#include "View/NavigateController.h"
#include "appkit/Menu.h"
#include "foundation/Bundle.h"

MainWndThumbnailHost::MainWndThumbnailHost(MainWndController& windowController, NavigateController& navigator,
                                           WorkspaceProvider workspace)
    : m_windowController(windowController), m_navigator(navigator), m_workspace(std::move(workspace))
{
}

long MainWndThumbnailHost::showMode() const { return m_windowController.showMode(); }

void MainWndThumbnailHost::setShowMode(long mode) { m_windowController.setShowMode(mode); }

kpv::View* MainWndThumbnailHost::containerViewByShowMode(long mode) const
{
    return m_windowController.containerViewByShowMode(mode);
}

kpv::Window* MainWndThumbnailHost::window() const { return m_windowController.window(); }

QList<LMPathString> MainWndThumbnailHost::sortedFilePaths() const { return m_navigator.filePaths(); }

QDateTime MainWndThumbnailHost::fileModificationDate(const LMPathString& path) const
{
    if (const NavSortFileInfoList* list = m_navigator.navSortFileInfoList())
        if (auto entry = list->sortFileInfoByFilePath(path))
            return entry->fileModificationDate();
    return path.dateModified();
}

std::size_t MainWndThumbnailHost::curFileIndex() const
{
    const qsizetype index = m_navigator.curFileIndex();
    return index < 0 || index >= m_navigator.fileCount() ? kNotFound : std::size_t(index);
}

bool MainWndThumbnailHost::isCurFileModifiedAndCannotOverwriteable() const
{
    return m_navigator.isCurFileModifiedAndCannotOverwriteable();
}

void MainWndThumbnailHost::doNavCurFileToIndex(std::size_t index, std::function<void(bool)> done)
{
    if (index >= std::size_t(m_navigator.fileCount())) {
        if (done)
            done(true);
        return;
    }
    m_navigator.doNavCurFileToIndex(qsizetype(index), false, std::move(done));
}

void MainWndThumbnailHost::deleteFiles(const QList<LMPathString>& paths) { m_navigator.deleteFiles(paths); }

void MainWndThumbnailHost::sortFiles(long sortType) { m_navigator.sortFiles(sortType); }

void MainWndThumbnailHost::batchFiles(long actionId, const QList<LMPathString>& paths)
{
    if (actionId == 18) {
        m_navigator.batchRenameFiles(paths); // the viewer's list follows the new names
        return;
    }
    QList<std::shared_ptr<LMFileInfo>> files;
    for (const LMPathString& path : paths)
        files.append(std::make_shared<LMFileInfo>(path));
    MainWndEditSheets::beginBatchResizeOrConvert(m_windowController, actionId == 19, files, {});
}

void MainWndThumbnailHost::revealFilesInFinder(const QList<LMPathString>& paths)
{
    // The file manager shows one selected file; the first of the selection stands for it.
    kpv::WorkspaceServices* workspace = m_workspace ? m_workspace() : nullptr;
    if (!paths.isEmpty() && workspace && !workspace->selectFileInFileViewer(paths.first().path()))
        m_windowController.showFailureAlert(
            kpv::Bundle::mainBundle().localizedString(QStringLiteral("IDS_FileManagerFailed")));
}

void MainWndThumbnailHost::tellFailure(const QString& message) { m_windowController.showFailureAlert(message); }

std::shared_ptr<kpv::Menu> MainWndThumbnailHost::contextMenu()
{
    if (m_contextMenu)
        return m_contextMenu;
    const kpv::Bundle& bundle = kpv::Bundle::mainBundle();
    m_contextMenu = std::make_shared<kpv::Menu>();
    MainWndController* controller = &m_windowController;
    m_contextMenu->setValidator([controller](kpv::MenuItem& item) {
        return item.tag() == 0 || controller->canDoAction(item.tag());
    });
    auto add = [&](long tag, const char* titleKey) {
        auto item = std::make_shared<kpv::MenuItem>(bundle.localizedString(QString::fromLatin1(titleKey)),
                                                    [controller](kpv::MenuItem& it) {
                                                        if (it.tag() != 0)
                                                            controller->performMenuAction(it.tag());
                                                        else
                                                            controller->setShowMode(MainShowModeView);
                                                    });
        item->setTag(tag);
        m_contextMenu->addItem(item);
    };
    add(7, "IDS_MENU_Copy");
    add(6, "IDS_MENU_RevealinFinder");
    add(8, "IDS_MENU_MovetoTrash");
    m_contextMenu->addItem(kpv::MenuItem::separatorItem());
    add(0, "IDS_ExitThumbView");
    return m_contextMenu;
}

void MainWndThumbnailHost::popUpContextMenu(const kpv::Event& e, kpv::View* view)
{
    if (view && m_windowController.isWorkableWindow())
        kpv::Menu::popUpContextMenu(contextMenu(), e, view);
}

MainWndThumbnailController::MainWndThumbnailController(MainWndController& windowController,
                                                       NavigateController& navigator,
                                                       MainWndThumbnailHost::WorkspaceProvider workspace)
    : detail::MainWndThumbnailHostHolder(windowController, navigator, std::move(workspace))
    , ThumbnailViewController(thumbnailHost)
{
}

void registerThumbnailMode(MainWndController& windowController, NavigateController& navigator,
                           MainWndThumbnailHost::WorkspaceProvider workspace)
{
    windowController.setShowModeControllerFactory(
        MainShowModeThumbnail, [&navigator, workspace](MainWndController& controller) {
            return std::unique_ptr<ShowModeController>(
                std::make_unique<MainWndThumbnailController>(controller, navigator, workspace));
        });
}
