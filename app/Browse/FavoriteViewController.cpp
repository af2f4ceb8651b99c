#include "Browse/FavoriteViewController.h"

#include "Browse/FavFileCopyProcessController.h"
#include "Browse/FavImageBrowserView.h"
#include "Kit/LMEventMonitorCenter.h"
#include "Kit/LMFadeShowProxy.h"
#include "Model/LMPathTools.h"
#include "Model/LMPerformSelectorWrapper.h"
#include "Model/LMPhotoLoader.h"
#include "Model/PublicObject.h"

#include "foundation/FileNames.h"
#include "foundation/FolderWatcher.h"
#include "foundation/NotificationCenter.h"

#include <QSet>
#include <algorithm>
#include <dirent.h>
#include <iterator>
#include <unistd.h>

const char* const DidAddFilesToFavoriteNotification = "DidAddFilesToFavorite";
const char* const DidRemoveFilesFromFavoriteNotification = "DidRemoveFilesFromFavorite";

namespace {
QString key(const char* k)
{
    return QString::fromLatin1(k);
}

QList<LMPathString> pathListOf(const QVariant& v)
{
    if (v.canConvert<QList<LMPathString>>())
        return v.value<QList<LMPathString>>();
    QList<LMPathString> out;
    for (const QVariant& e : v.toList()) {
        if (e.canConvert<LMPathString>())
            out.append(e.value<LMPathString>());
        else if (!e.toString().isEmpty())
            out.append(LMPathString(e.toString(), false));
    }
    return out;
}

// The name beside `path` (in its folder) of the file with this identity; empty when none is.
QString fileBeside(const QString& path, const kpv::FileIdentity& id, int maxNames)
{
    const QString folder = path.left(path.lastIndexOf(u'/') + 1);
    DIR* dir = folder.isEmpty() ? nullptr : ::opendir(kpv::encodeFileName(folder).constData());
    if (!dir)
        return {};
    QString found;
    int read = 0;
    while (const dirent* entry = ::readdir(dir)) {
        if (++read > maxNames)
            break;
        // The inode alone sorts out the candidates without a look at each file.
        if (entry->d_ino != id.inode || entry->d_name[0] == '.')
            continue;
        const QString candidate = folder + kpv::decodeFileName(QByteArray(entry->d_name));
        if (kpv::fileIdentity(candidate) == id) {
            found = candidate;
            break;
        }
    }
    ::closedir(dir);
    return found;
}

LMPathString pathOf(const QVariant& v)
{
    if (v.canConvert<LMPathString>())
        return v.value<LMPathString>();
    return v.toString().isEmpty() ? LMPathString() : LMPathString(v.toString(), false);
}
} // namespace

FavoriteViewController::FavoriteViewController(FavoriteViewHost& host)
    : m_host(host), m_self(std::make_shared<FavoriteViewController*>(this))
{
    m_thumbLoader = [](const LMPathString& path, const LMFileImgBaseInfoPtr& base) -> LMImagePtr {
        PublicObject* pub = PublicObject::getPublicObject();
        LMPhotoLoader* loader = pub ? pub->photoLoader() : nullptr;
        return loader ? loader->loadImage(path, kSmallThumbType, base, nullptr) : nullptr;
    };
    auto& center = kpv::NotificationCenter::defaultCenter();
    center.addObserver(this, key("didChangeMainShowMode"), nullptr,
                       [this](const kpv::Notification& n) { didChangeMainShowMode(n.userInfo); });
    center.addObserver(this, key("didLoadImage"), nullptr, [this](const kpv::Notification& n) { didLoadImage(n.userInfo); });
    center.addObserver(this, key("didUpdateSmallThumb"), nullptr,
                       [this](const kpv::Notification& n) { didUpdateSmallThumb(n.userInfo); });
    center.addObserver(this, key("fileModified"), nullptr, [this](const kpv::Notification& n) { didFileModified(n.userInfo); });
    center.addObserver(this, key("filesDeleted"), nullptr, [this](const kpv::Notification& n) { didFilesDeleted(n.userInfo); });
    center.addObserver(this, key("filesBatchRenamed"), nullptr,
                       [this](const kpv::Notification& n) { didFilesBatchRenamed(n.userInfo); });
    center.addObserver(this, key("didChangeFileList"), nullptr, [this](const kpv::Notification&) { didChangeFileList(); });
    loadView();
}

FavoriteViewController::~FavoriteViewController()
{
    *m_self = nullptr;
    m_folderWatcher.reset();
    kpv::NotificationCenter::defaultCenter().removeObserver(this);
    if (m_eventMonitor)
        LMEventMonitorCenter::eventMonitorCenter().removeMonitor(m_eventMonitor);
    m_host.registEquivalentResponder(this, false);
    // Views placed in a container belong to it; take ours back so that they die with us.
    if (m_view && m_view->superview() && !m_ownedView) {
        m_view->removeFromSuperview();
        m_ownedView.reset(m_view);
    }
    if (m_viewFavToolbar && m_viewFavToolbar->superview() && !m_ownedToolbar) {
        m_viewFavToolbar->removeFromSuperview();
        m_ownedToolbar.reset(m_viewFavToolbar);
    }
    m_favoriteViewShowProxy.reset();
    m_favToolbarShowProxy.reset();
}

// ---- The collection ----

void FavoriteViewController::addFovoriteFile(const LMPathString& path, const LMFileImgBaseInfoPtr& imageBaseInfo,
                                             const QImage& smallThumb)
{
    FavImageBrowserItemPtr item = FavImageBrowserItem::create(path);
    if (!item)
        return;
    item->setImgBaseInfo(imageBaseInfo);
    item->setSmallThumb(smallThumb);
    const std::size_t place = placeForAddedFile(path);
    m_favImageBrowserItems.insert(m_favImageBrowserItems.begin() + std::ptrdiff_t(place), item);
    m_dictFavImageBrowserItems.insert(path, item);
    kpv::NotificationCenter::defaultCenter().postNotification(
        key(DidAddFilesToFavoriteNotification), this,
        {{key("filePathList"), QVariant::fromValue(QList<LMPathString>{path})}});
    if (m_host.showMode() == 8)
        reloadBrowser();
    collectionChanged();
}

void FavoriteViewController::restoreFavoriteFiles(const QList<LMPathString>& paths)
{
    QList<LMPathString> added;
    for (const LMPathString& path : paths) {
        if (isFavoriteFile(path))
            continue;
        FavImageBrowserItemPtr item = FavImageBrowserItem::create(path);
        if (!item)
            continue;
        m_favImageBrowserItems.push_back(item);
        m_dictFavImageBrowserItems.insert(path, item);
        added.append(path);
    }
    if (added.isEmpty())
        return;
    kpv::NotificationCenter::defaultCenter().postNotification(key(DidAddFilesToFavoriteNotification), this,
                                                              {{key("filePathList"), QVariant::fromValue(added)}});
    if (m_host.showMode() == 8)
        reloadBrowser();
    updateFavPhotoBoxUI();
}

std::size_t FavoriteViewController::placeForAddedFile(const LMPathString& path)
{
    const std::shared_ptr<const QList<LMPathString>> before = m_orderBeforeFileWent.take(path);
    const qsizetype at = before ? before->indexOf(path) : -1;
    if (at < 0)
        return m_favImageBrowserItems.size();
    // Right after the nearest favourite that stood before it and is still there; else right
    // before the nearest one that stood after it; else first, as every other came later.
    for (qsizetype i = at - 1; i >= 0; --i)
        if (const std::size_t index = itemIndexByFilePath(before->at(i)); index != kNotFound)
            return index + 1;
    for (qsizetype i = at + 1; i < before->size(); ++i)
        if (const std::size_t index = itemIndexByFilePath(before->at(i)); index != kNotFound)
            return index;
    return 0;
}

QList<LMPathString> FavoriteViewController::favoriteFilePaths() const
{
    return pathsOf(m_favImageBrowserItems);
}

void FavoriteViewController::collectionChanged()
{
    if (m_collectionChanged)
        m_collectionChanged();
    if (m_folderWatcher)
        watchFavoriteFolders();
}

void FavoriteViewController::watchFavoriteFolders()
{
    if (m_host.showMode() != 8) {
        m_folderWatcher.reset();
        return;
    }
    if (!m_folderWatcher)
        m_folderWatcher = std::make_unique<kpv::FolderWatcher>(
            [this](const QStringList&, const QStringList&) { favoriteFoldersChanged(); });
    // The system's watches are shared by every program: favourites spread over very many folders
    // have the first ones watched, and the rest are looked at again when the grid is next shown.
    QStringList paths;
    for (const FavImageBrowserItemPtr& item : m_favImageBrowserItems)
        paths.append(item->filePath().path());
    m_folderWatcher->watch(LMPathString::foldersHolding(paths, kMaxWatchedFolders), {});
}

void FavoriteViewController::favoriteFoldersChanged()
{
    // A rename reloads the grid, which shows every other change as well.
    if (m_host.showMode() != 8 || followFilesRenamedElsewhere() || !refreshItemsOfChangedFiles() || !m_browser)
        return;
    m_browser->setNeedsDisplay();
    m_browser->updateItemUI();
}

void FavoriteViewController::removeFavoriteFile(const LMPathString& path)
{
    const std::size_t index = itemIndexByFilePath(path);
    if (index != kNotFound)
        removeItemsAtIndexes({index});
}

void FavoriteViewController::removeItemsAtIndexes(const std::set<std::size_t>& indexes)
{
    QList<LMPathString> removed;
    std::vector<FavImageBrowserItemPtr> kept;
    kept.reserve(m_favImageBrowserItems.size());
    for (std::size_t i = 0; i < m_favImageBrowserItems.size(); ++i) {
        if (indexes.count(i))
            removed.append(m_favImageBrowserItems[i]->filePath());
        else
            kept.push_back(m_favImageBrowserItems[i]);
    }
    m_favImageBrowserItems.swap(kept);
    keepSelectionAfterRemoving(indexes);
    for (const LMPathString& path : removed) {
        // A path added twice stays in the index while another element still carries it.
        auto still = std::find_if(m_favImageBrowserItems.begin(), m_favImageBrowserItems.end(),
                                  [&](const FavImageBrowserItemPtr& item) { return item->filePath() == path; });
        if (still == m_favImageBrowserItems.end()) {
            m_dictFavImageBrowserItems.remove(path);
            // By the name's bytes: a crop of a photo whose name is not UTF-8 goes as well.
            if (!m_keptCopiesFolder.isEmpty() && LMPathTools::isPath(path.path(), m_keptCopiesFolder))
                ::unlink(kpv::encodeFileName(path.path()).constData());
        } else
            m_dictFavImageBrowserItems.insert(path, *still);
    }
    if (!removed.isEmpty())
        kpv::NotificationCenter::defaultCenter().postNotification(key(DidRemoveFilesFromFavoriteNotification), this,
                                                                  {{key("filePathList"), QVariant::fromValue(removed)}});
    if (!removed.isEmpty())
        collectionChanged();
    if (m_host.showMode() == 8) {
        reloadBrowser();
        if (m_favImageBrowserItems.empty())
            m_host.setShowMode(4);
    }
    updateFavPhotoBoxUI();
}

void FavoriteViewController::keepSelectionAfterRemoving(const std::set<std::size_t>& removed)
{
    if (!m_browser || m_browser->selectionIndexes().empty())
        return;
    // The favourites the user selected stay selected as the ones before them go: their indexes
    // move up with them, instead of the selection passing to the favourites that took their
    // places (which a share, copy or print would then take as chosen).
    const std::set<std::size_t> before = m_browser->selectionIndexes();
    std::set<std::size_t> after;
    for (std::size_t i : before)
        if (!removed.count(i))
            after.insert(i - std::size_t(std::distance(removed.begin(), removed.lower_bound(i))));
    // The selected ones themselves removed: the favourite that took the first one's place is
    // selected, so Delete or an arrow goes on from there.
    if (after.empty()) {
        const std::size_t first = *before.begin();
        const std::size_t next = first - std::size_t(std::distance(removed.begin(), removed.lower_bound(first)));
        if (next < m_favImageBrowserItems.size())
            after.insert(next);
    }
    m_browser->setSelectionIndexes(after);
}

void FavoriteViewController::removeAllFavoriteFiles()
{
    std::set<std::size_t> all;
    for (std::size_t i = 0; i < m_favImageBrowserItems.size(); ++i)
        all.insert(i);
    removeItemsAtIndexes(all);
}

bool FavoriteViewController::isFavoriteFile(const LMPathString& path) const
{
    return m_dictFavImageBrowserItems.contains(path);
}

FavImageBrowserItemPtr FavoriteViewController::favImageBrowserItemByFilePath(const LMPathString& path) const
{
    return m_dictFavImageBrowserItems.value(path);
}

std::size_t FavoriteViewController::itemIndexByFilePath(const LMPathString& path) const
{
    for (std::size_t i = 0; i < m_favImageBrowserItems.size(); ++i)
        if (m_favImageBrowserItems[i]->filePath() == path)
            return i;
    return kNotFound;
}

LMPathString FavoriteViewController::getLastFavoriteFile() const
{
    return m_favImageBrowserItems.empty() ? LMPathString() : m_favImageBrowserItems.back()->filePath();
}

std::shared_ptr<FavoriteFileInfo> FavoriteViewController::getFileInfo(const LMPathString& path, bool forceLoadThumb)
{
    FavImageBrowserItemPtr item = favImageBrowserItemByFilePath(path);
    if (item && item->smallThumb().isNull() && forceLoadThumb && m_thumbLoader) {
        if (LMImagePtr image = m_thumbLoader(path, item->imgBaseInfo())) {
            item->setSmallThumb(image->convertToImage());
            if (!item->imgBaseInfo())
                item->setImgBaseInfo(image->originalImgBaseInfo());
        }
    }
    return item;
}

void FavoriteViewController::updateFavoriteSmallThumb(const LMImagePtr& image, const LMPathString& path,
                                                      bool formalSmallThumb)
{
    if (!image)
        return;
    FavImageBrowserItemPtr item = favImageBrowserItemByFilePath(path);
    if (!item)
        return;
    // Only an informal thumbnail gives way, and only to a formal one.
    if (!item->smallThumb().isNull() && (item->formalSmallThumb() || !formalSmallThumb))
        return;
    const LMFileImgBaseInfoPtr base = item->imgBaseInfo();
    const LMFileImgBaseInfoPtr source = image->originalImgBaseInfo();
    if (base && (!source || !base->isEqual(*source)))
        return; // a picture of another version of the file
    item->setSmallThumb(image->convertToImage());
    item->setFormalSmallThumb(formalSmallThumb);
    if (!base)
        item->setImgBaseInfo(source);
    if (path == getLastFavoriteFile()) {
        std::weak_ptr<FavoriteViewController*> self = m_self;
        LMPerformSelectorWrapper().performWithBlock(
            [self] {
                if (auto s = self.lock(); s && *s)
                    (*s)->updateFavPhotoBoxUI();
            },
            0);
    }
}

bool FavoriteViewController::moveItemsAtIndexes(const std::set<std::size_t>& indexes, std::size_t toIndex)
{
    if (indexes.empty())
        return false;
    std::vector<FavImageBrowserItemPtr> before, moved, rest;
    for (std::size_t i = 0; i < m_favImageBrowserItems.size(); ++i) {
        if (indexes.count(i))
            moved.push_back(m_favImageBrowserItems[i]);
        else if (i < toIndex)
            before.push_back(m_favImageBrowserItems[i]);
        else
            rest.push_back(m_favImageBrowserItems[i]);
    }
    before.insert(before.end(), moved.begin(), moved.end());
    before.insert(before.end(), rest.begin(), rest.end());
    const LMPathString lastBefore = getLastFavoriteFile();
    m_favImageBrowserItems.swap(before);
    collectionChanged();
    // The favourites box shows the last favourite: one moved to or from the end changes it.
    if (getLastFavoriteFile() != lastBefore)
        updateFavPhotoBoxUI();
    return true;
}

// ---- Notifications ----

void FavoriteViewController::didLoadImage(const QVariantMap& userInfo)
{
    if (userInfo.value(key("ImageScaleType")).toInt() != kSmallThumbType || userInfo.value(key("result")).toInt() != 0)
        return;
    updateFavoriteSmallThumb(userInfo.value(key("image")).value<LMImagePtr>(), pathOf(userInfo.value(key("filePath"))),
                             false);
}

void FavoriteViewController::didUpdateSmallThumb(const QVariantMap& userInfo)
{
    const LMImagePtr image = userInfo.value(key("image")).value<LMImagePtr>();
    if (image)
        updateFavoriteSmallThumb(image, pathOf(userInfo.value(key("filePath"))), true);
}

bool FavoriteViewController::refreshItemsOfChangedFiles()
{
    bool any = false;
    for (const FavImageBrowserItemPtr& item : m_favImageBrowserItems)
        any = item->refreshIfFileChanged() || any;
    // The toolbar's box shows the last favourite's thumbnail, which may have been reset.
    if (any)
        updateFavPhotoBoxUI();
    return any;
}

bool FavoriteViewController::followFilesRenamedElsewhere()
{
    QVariantMap renamed;
    int lookedFor = 0;
    for (const FavImageBrowserItemPtr& item : m_favImageBrowserItems) {
        const kpv::FileIdentity& id = item->fileIdentity();
        const QString path = item->filePath().path();
        if (!id.isValid() || kpv::pathStatus(path).exists)
            continue;
        if (++lookedFor > kMaxRenamesLookedFor)
            break;
        const QString found = fileBeside(path, id, kMaxNamesReadPerFolder);
        if (!found.isEmpty() && !isFavoriteFile(LMPathString(found, false)))
            renamed.insert(path, QVariant::fromValue(LMPathString(found, false)));
    }
    if (renamed.isEmpty())
        return false;
    didFilesBatchRenamed(renamed);
    return true;
}

void FavoriteViewController::didChangeFileList()
{
    if (m_host.showMode() == 8 && !followFilesRenamedElsewhere() && refreshItemsOfChangedFiles() && m_browser)
        m_browser->setNeedsDisplay();
}

void FavoriteViewController::didFileModified(const QVariantMap& userInfo)
{
    const LMPathString path = pathOf(userInfo.value(key("filePath")));
    bool changed = false;
    for (const FavImageBrowserItemPtr& item : m_favImageBrowserItems) {
        if (item->filePath() == path && item->fileModified()) {
            item->updateForFileModified();
            changed = true;
        }
    }
    // The grid shows the file as it is now at once, not only once something else redraws it.
    if (changed && m_browser) {
        m_browser->setNeedsDisplay();
        m_browser->updateItemUI();
    }
}

void FavoriteViewController::didFilesDeleted(const QVariantMap& userInfo)
{
    std::set<std::size_t> indexes;
    for (const LMPathString& path : pathListOf(userInfo.value(key("filePathList")))) {
        const std::size_t index = itemIndexByFilePath(path);
        if (index != kNotFound)
            indexes.insert(index);
    }
    if (!indexes.empty()) {
        const auto order = std::make_shared<const QList<LMPathString>>(favoriteFilePaths());
        for (std::size_t index : indexes)
            m_orderBeforeFileWent.insert(m_favImageBrowserItems[index]->filePath(), order);
    }
    removeItemsAtIndexes(indexes);
}

void FavoriteViewController::didFilesBatchRenamed(const QVariantMap& userInfo)
{
    if (userInfo.isEmpty())
        return;
    std::vector<FavImageBrowserItemPtr> items;
    QHash<LMPathString, FavImageBrowserItemPtr> dict;
    QList<LMPathString> renamed;
    for (const FavImageBrowserItemPtr& item : m_favImageBrowserItems) {
        FavImageBrowserItemPtr next = item;
        auto it = userInfo.find(item->filePath().path());
        if (it != userInfo.end()) {
            next = FavImageBrowserItem::create(pathOf(it.value()), item.get());
            if (!next)
                continue;
            renamed.append(next->filePath());
        }
        items.push_back(next);
        dict.insert(next->filePath(), next);
    }
    m_favImageBrowserItems.swap(items);
    m_dictFavImageBrowserItems.swap(dict);
    collectionChanged();
    reloadBrowser();
    // The views that mark favourites may have redrawn the new names before the collection knew
    // them (they hear of the rename first): the favourites under their new names are announced.
    if (!renamed.isEmpty())
        kpv::NotificationCenter::defaultCenter().postNotification(key(DidAddFilesToFavoriteNotification), this,
                                                                  {{key("filePathList"), QVariant::fromValue(renamed)}});
}
