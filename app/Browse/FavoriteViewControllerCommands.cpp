// The commands of the favourites mode: what is possible, and carrying each out.
#include "Browse/FavoriteViewController.h"
#include "foundation/FileNames.h"
#include "Model/LMPhotoLibrary.h"
#include "Model/ShareWebsiteType.h"

#include "Browse/BrowserFileCopy.h"
#include "Browse/FavFileCopyProcessController.h"
#include "Browse/FavImageBrowserView.h"
#include "Model/LMPerformSelectorWrapper.h"
#include "Model/MainConfig.h"

#include "appkit/Menu.h"
#include "foundation/Bundle.h"
#include "foundation/NotificationCenter.h"

#include <QFileInfo>
#include <unistd.h>

namespace {
QString tr(const char* key)
{
    return kpv::Bundle::mainBundle().localizedString(QString::fromLatin1(key));
}

// The print job is named after the photos it prints, as the queue and a PDF's title show it: the
// one photo's name, or the first one's and how many more.
QString printJobName(const QList<LMPathString>& selected, const QList<LMPathString>& leftOut)
{
    QStringList names;
    for (const LMPathString& path : selected)
        if (!leftOut.contains(path))
            names << kpv::displayFileName(LMPathString::lastPathComponent(path.path()));
    if (names.size() < 2)
        return names.value(0);
    return kpv::Bundle::mainBundle().localizedStringWithFormat(QStringLiteral("IDS_PrintJobAndMore_Fmt"), names.first(),
                                                               long(names.size() - 1));
}

} // namespace

std::set<std::size_t> FavoriteViewController::selectionIndexes() const
{
    return m_browser ? m_browser->selectionIndexes() : std::set<std::size_t>();
}

std::vector<FavImageBrowserItemPtr> FavoriteViewController::selectedFavImageBrowserItems() const
{
    const std::set<std::size_t> selection = selectionIndexes();
    if (selection.empty())
        return m_favImageBrowserItems;
    std::vector<FavImageBrowserItemPtr> out;
    for (std::size_t i : selection)
        if (i < m_favImageBrowserItems.size())
            out.push_back(m_favImageBrowserItems[i]);
    return out;
}

QList<LMPathString> FavoriteViewController::pathsOf(const std::vector<FavImageBrowserItemPtr>& items) const
{
    QList<LMPathString> out;
    for (const auto& item : items)
        out.append(item->filePath());
    return out;
}

bool FavoriteViewController::canDoAction(long actionId)
{
    if (m_introTipsShown || actionId >= 40)
        return false;
    const bool any = !m_favImageBrowserItems.empty();
    const bool selected = !selectionIndexes().empty();
    switch (actionId) {
    case 4: case 18: case 19: case 20: case 21: case 22: case 23: case 24: case 25: case 39:
        return any;
    case 5: case 6: case 7: case 12:
        return selected;
    case 10:
        return true;
    case 26:
        return QFileInfo::exists(LMPhotoLibrary::applicationPath());
    default:
        return false;
    }
}

void FavoriteViewController::doAction(long actionId, long argument)
{
    switch (actionId) {
    case 4: doSaveAs(); break;
    case 5: doPrint(); break;
    case 6: revealFilesInFinder(); break;
    case 7: doCopy(); break;
    case 10: if (m_browser) m_browser->selectAll(); break;
    case 12: removeFilesFromMyFavorites(); break;
    case 18: doBatchRename(); break;
    case 19: doBatchResizeOrConvert(true); break;
    case 20: doBatchResizeOrConvert(false); break;
    case 21: case 22: case 23: case 24: case 25: case 26: doShareForType(argument); break;
    case 39: playSlideshow(); break;
    default: break;
    }
}

bool FavoriteViewController::isCopyingFiles() const
{
    return m_copyController && m_copyController->isCopyingFiles();
}

void FavoriteViewController::doSaveAs()
{
    if (!canDoAction(4))
        return;
    MainConfig* config = m_host.mainConfig();
    const QString start = config ? kpv::fileNameFromUrl(config->lastSaveDirUrlForFavFile()) : QString();
    const QString folder = m_host.chooseFolder(start);
    if (folder.isEmpty())
        return;
    // By the name's bytes: a folder whose name is not UTF-8 takes copies like any other.
    const bool writable = m_writableCheck ? m_writableCheck(folder)
                                          : ::access(kpv::encodeFileName(folder).constData(), W_OK | X_OK) == 0;
    std::weak_ptr<FavoriteViewController*> self = m_self;
    if (writable) {
        if (config)
            config->setLastSaveDirUrlForFavFile(kpv::fileUrlFromName(folder));
        LMPerformSelectorWrapper().performWithBlock(
            [self, folder] {
                if (auto s = self.lock(); s && *s)
                    (*s)->beginCopyFilesToDirectory(folder);
            },
            0);
        return;
    }
    const bool one = selectedFavImageBrowserItems().size() == 1;
    LMPerformSelectorWrapper().performWithBlock(
        [self, one] {
            if (auto s = self.lock(); s && *s)
                (*s)->m_host.alert(tr(one ? "IDS_NoPermissionToSaveFile" : "IDS_NoPermissionToSaveFiles"), tr("IDS_OK"),
                                   {}, {});
        },
        0);
}

void FavoriteViewController::beginCopyFilesToDirectory(const QString& directory)
{
    if (m_host.showMode() != 8)
        return;
    if (!m_copyController) {
        m_copyController = std::make_unique<FavFileCopyProcessController>();
        std::weak_ptr<FavoriteViewController*> self = m_self;
        m_copyController->setReportBlock([self](const QString& message) {
            if (auto s = self.lock(); s && *s)
                (*s)->m_host.alert(message, tr("IDS_OK"), {}, {});
        });
    }
    m_copyController->beginCopyFiles(pathsOf(selectedFavImageBrowserItems()), directory, m_host.window());
}

void FavoriteViewController::doPrint()
{
    if (!canDoAction(5))
        return;
    const auto items = selectedFavImageBrowserItems();
    m_printImages.clear();
    m_printFailed.clear();
    m_printExpected = items.size();
    m_printArrived = 0;
    const int generation = ++m_printGeneration;
    std::weak_ptr<FavoriteViewController*> self = m_self;
    QList<LMPathString> selected;
    for (const auto& item : items)
        selected << item->filePath();
    for (const LMPathString& path : std::as_const(selected)) {
        m_host.renderFileForPrint(path, [self, generation, path, selected](int result, QImage image) {
            auto s = self.lock();
            if (!s || !*s || (*s)->m_printGeneration != generation)
                return;
            FavoriteViewController* c = *s;
            ++c->m_printArrived;
            if (result == 0 && !image.isNull())
                c->m_printImages.append(image);
            else
                c->m_printFailed.append(path);
            // A favourite that cannot be rendered is left out; the others print, and the user is
            // told which were left out. When none can be, the user is told so.
            if (c->m_printArrived != c->m_printExpected)
                return;
            if (c->m_printImages.isEmpty()) {
                c->m_host.alert(tr("IDS_NothingToPrint"), tr("IDS_OK"), {}, {});
                return;
            }
            const QString jobName = printJobName(selected, c->m_printFailed);
            if (c->m_printFailed.isEmpty()) {
                c->m_host.printImages(c->m_printImages, jobName);
                return;
            }
            // Told first, so the print dialog that follows is for what can be printed.
            QStringList names;
            for (const LMPathString& failed : std::as_const(c->m_printFailed))
                names << kpv::displayFileName(LMPathString::lastPathComponent(failed.path()));
            const QList<QImage> images = c->m_printImages;
            const QString leftOut = names.size() == 1 ? tr("IDS_OneNotPrinted")
                                                      : kpv::Bundle::mainBundle().localizedStringWithFormat(
                                                            QStringLiteral("IDS_SomeNotPrinted"), long(names.size()));
            c->m_host.alert(leftOut +
                                QLatin1Char('\n') + names.join(QLatin1Char('\n')),
                            tr("IDS_OK"), {}, [self, images, jobName](int) {
                                // Once the alert has gone, not from inside its ending.
                                LMPerformSelectorWrapper().performWithBlock(
                                    [self, images, jobName] {
                                        if (auto s2 = self.lock(); s2 && *s2)
                                            (*s2)->m_host.printImages(images, jobName);
                                    },
                                    0);
                            });
        });
    }
}

void FavoriteViewController::revealFilesInFinder()
{
    if (canDoAction(6))
        m_host.revealFilesInFinder(pathsOf(selectedFavImageBrowserItems()));
}

void FavoriteViewController::doCopy()
{
    if (!canDoAction(7))
        return;
    const QString failure = BrowserFileCopy::copyFilesToPasteboard(pathsOf(selectedFavImageBrowserItems()));
    if (!failure.isEmpty())
        m_host.alert(failure, kpv::Bundle::mainBundle().localizedString(QStringLiteral("IDS_OK")), QString(), nullptr);
}

void FavoriteViewController::removeFilesFromMyFavorites()
{
    removeItemsAtIndexes(selectionIndexes());
}

void FavoriteViewController::doBatchForType(long type)
{
    if (type == 1)
        doBatchRename();
    else if (type == 2)
        doBatchResizeOrConvert(true);
    else if (type == 3)
        doBatchResizeOrConvert(false);
}

void FavoriteViewController::doBatchRename()
{
    if (canDoAction(18))
        m_host.batchRenameFiles(pathsOf(selectedFavImageBrowserItems()));
}

void FavoriteViewController::doBatchResizeOrConvert(bool resize)
{
    if (!canDoAction(resize ? 19 : 20))
        return;
    std::vector<std::shared_ptr<LMFileInfo>> files;
    for (const auto& item : selectedFavImageBrowserItems()) {
        auto info = std::make_shared<LMFileInfo>(item->filePath());
        info->setImgBaseInfo(item->imgBaseInfo());
        files.push_back(info);
    }
    if (resize)
        m_host.batchResizeFiles(files);
    else
        m_host.batchConvertFiles(files);
}

void FavoriteViewController::doShareForType(long shareType)
{
    m_host.hidePopMenu(1, false);
    if (!canDoAction(shareActionForWebsiteType(shareType))) {
        updateShareButtonEnableStatus();
        return;
    }
    // The share button shares with the last chosen way again: it must show that way, or a
    // click on a button that still shows the first site sends the photos somewhere else.
    if (MainConfig* config = m_host.mainConfig())
        config->setCurShareType(shareType);
    updateShareButtonUI(shareType);
    const auto items = selectedFavImageBrowserItems();
    if ((shareType == 3 || shareType == 4) && items.size() >= 10) {
        m_host.alert(kpv::Bundle::mainBundle().localizedStringWithFormat(QStringLiteral("IDS_UPLOADWARN_LIMITCOUNT"),
                                                                          long(items.size()), 9L),
                     tr("IDS_OK"), {}, {});
        return;
    }
    std::vector<FavoriteHandOff> files;
    bool hasGif = false;
    for (const auto& item : items) {
        // The share sheet shows the first files' thumbnails: one never read (a favourite kept
        // from an earlier run, or reset because its file changed) is read now, so that no blank
        // stands where the photo should be. The rest go without, as the sheet does not show them.
        if (item->smallThumb().isNull() && files.size() < kShareThumbsShown)
            getFileInfo(item->filePath(), true);
        files.push_back({item->filePath(), item->imgBaseInfo(), item->smallThumb()});
        if (!hasGif)
            hasGif = m_host.isGifFile(*item);
    }
    const bool ask = hasGif && (shareType == 1 || shareType == 2 || shareType == 3 || (shareType == 4 && files.size() >= 2));
    if (!ask) {
        m_host.shareFiles(files, shareType);
        return;
    }
    std::weak_ptr<FavoriteViewController*> self = m_self;
    m_host.alert(tr("IDS_UPLOADWARN_HASGIF"), tr("IDS_YES"), tr("IDS_NO"), [self, files, shareType](int code) {
        if (code != 1)
            return;
        LMPerformSelectorWrapper().performWithBlock(
            [self, files, shareType] {
                if (auto s = self.lock(); s && *s)
                    (*s)->m_host.shareFiles(files, shareType);
            },
            0);
    });
}

void FavoriteViewController::playSlideshow()
{
    if (!canDoAction(39))
        return;
    const std::set<std::size_t> selection = selectionIndexes();
    const std::size_t s = selection.empty() ? 0 : *selection.begin();
    std::vector<FavoriteHandOff> files;
    const std::size_t n = m_favImageBrowserItems.size();
    for (std::size_t k = 0; k < n; ++k) {
        const auto& item = m_favImageBrowserItems[(s + k) % n];
        files.push_back({item->filePath(), item->imgBaseInfo(), {}});
    }
    m_host.startSlideshow(files, 0);
}

std::optional<bool> FavoriteViewController::imageBrowserViewValidateMenuItem(LMImageBrowserView*, kpv::MenuItem& item)
{
    long id = 0;
    if (item.tag() == 7) {
        item.setTitle(tr("IDS_MENU_Copy"));
        id = 7;
    } else if (item.tag() == 10) {
        item.setTitle(tr("IDS_MENU_SelectAll"));
        id = 10;
    }
    if (id == 0)
        return std::nullopt;
    return canDoAction(id);
}

bool FavoriteViewController::imageBrowserViewCopy(LMImageBrowserView*)
{
    doCopy();
    return true;
}

void FavoriteViewController::imageBrowserViewEndDraggingWithOperation(LMImageBrowserView*, unsigned long operation)
{
    if (operation != 16)
        return;
    std::weak_ptr<FavoriteViewController*> self = m_self;
    LMPerformSelectorWrapper().performWithBlock(
        [self] {
            auto s = self.lock();
            if (!s || !*s)
                return;
            FavoriteViewController* c = *s;
            std::set<std::size_t> gone;
            QList<LMPathString> paths;
            for (std::size_t i : c->selectionIndexes()) {
                if (i < c->m_favImageBrowserItems.size() && !kpv::pathStatus(c->m_favImageBrowserItems[i]->filePath().path()).exists) {
                    gone.insert(i);
                    paths.append(c->m_favImageBrowserItems[i]->filePath());
                }
            }
            c->removeItemsAtIndexes(gone);
            kpv::NotificationCenter::defaultCenter().postNotification(
                QStringLiteral("filesDeleted"), c, {{QStringLiteral("filePathList"), QVariant::fromValue(paths)}});
        },
        0);
}
