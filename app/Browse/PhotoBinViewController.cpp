#include "Browse/PhotoBinViewController.h"

#include "Kit/LMNineSliceImageRep.h"
#include "Kit/PhotoBinScrollView.h"

#include "foundation/NotificationCenter.h"

#include <algorithm>

namespace {
constexpr double kItemWidth = 48, kItemHeight = 40, kStripHeight = 52;

QString key(const char* k)
{
    return QString::fromLatin1(k);
}

LMPathString pathOf(const QVariant& v)
{
    if (v.canConvert<LMPathString>())
        return v.value<LMPathString>();
    return v.toString().isEmpty() ? LMPathString() : LMPathString(v.toString(), false);
}

PhotoBinItemDataPtr itemFromImage(const LMImagePtr& image, bool formal)
{
    if (!image)
        return std::make_shared<PhotoBinItemData>(QImage(), 0);
    // Turned and mirrored as the viewer shows the photo.
    return std::make_shared<PhotoBinItemData>(image->convertToUprightImage(), 0, formal);
}
} // namespace

PhotoBinViewController::PhotoBinViewController(PhotoBinNavigator& navigator) : m_navigator(navigator)
{
    m_ownedView = std::make_unique<PhotoBinScrollView>(kpv::Rect(0, 0, 600, kStripHeight));
    m_view = m_ownedView.get();
    m_view->setAutoresizingMask(kpv::ViewWidthSizable);
    m_view->setTileImage(LMNineSliceImageRep::loadImageWithoutExtension(QStringLiteral("BG_PhotoBin")));
    auto cell = std::make_unique<PhotoBinItemView>(
        kpv::Rect(0, 0, kItemWidth, kItemHeight),
        std::make_shared<LMNineSliceImageRep>(QStringLiteral("BG_PhotoBinItem"), kpv::Point{5, 5}, kpv::Point{5, 5}),
        LMNineSliceImageRep::loadImageWithoutExtension(QStringLiteral("BG_BinThumb_Roll")),
        LMNineSliceImageRep::loadImageWithoutExtension(QStringLiteral("BG_BinThumb")),
        LMNineSliceImageRep::loadImageWithoutExtension(QStringLiteral("e_photobin_love")));
    m_photoBinView = new PhotoBinView(kpv::Rect(0, 0, kItemWidth, kStripHeight), std::move(cell));
    m_photoBinView->setDataSource(this);
    m_photoBinView->setDelegate(this);
    m_view->addSubview(m_photoBinView);
    m_view->setPhotoBinView(m_photoBinView);

    auto& center = kpv::NotificationCenter::defaultCenter();
    center.addObserver(this, key("didLoadImage"), nullptr, [this](const kpv::Notification& n) { didLoadImage(n.userInfo); });
    center.addObserver(this, key("didUpdateSmallThumb"), nullptr,
                       [this](const kpv::Notification& n) { didUpdateSmallThumb(n.userInfo); });
    center.addObserver(this, key("fileModified"), nullptr, [this](const kpv::Notification& n) { didFileModified(n.userInfo); });
    center.addObserver(this, key("filesBatchRenamed"), nullptr,
                       [this](const kpv::Notification& n) { didFilesBatchRenamed(n.userInfo); });
    center.addObserver(this, key("didChangeFileList"), nullptr, [this](const kpv::Notification&) { didChangeFileList(); });
    center.addObserver(this, key("didChangeCurFile"), nullptr,
                       [this](const kpv::Notification&) { m_photoBinView->curItemChanged(); });
    for (const char* name : {"DidAddFilesToFavorite", "DidRemoveFilesFromFavorite"})
        center.addObserver(this, key(name), nullptr, [this](const kpv::Notification& n) { didFavoritesChange(n.userInfo); });
}

PhotoBinViewController::~PhotoBinViewController()
{
    kpv::NotificationCenter::defaultCenter().removeObserver(this);
    if (!m_ownedView && m_view->superview()) {
        m_view->removeFromSuperview();
        m_ownedView.reset(m_view);
    }
}

void PhotoBinViewController::show(bool flag)
{
    if (flag) {
        kpv::View* container = m_navigator.viewNavToolbarContainer();
        if (!container)
            return;
        const kpv::Rect b = container->bounds();
        if (m_ownedView)
            container->addSubview(m_ownedView.release());
        const double h = m_view->frame().height();
        m_view->setFrame(kpv::Rect(b.x() + 1, b.height() - h, b.width() - 2, h));
        m_photoBinView->reloadData();
    } else if (!m_ownedView && m_view->superview()) {
        m_view->removeFromSuperview();
        m_ownedView.reset(m_view);
    }
}

void PhotoBinViewController::resetAllFiles()
{
    m_photoBinItemDatas.clear();
    m_photoBinView->fileListChanged();
}

std::size_t PhotoBinViewController::indexOfPath(const LMPathString& path) const
{
    const qsizetype i = m_navigator.filePaths().indexOf(path);
    return i < 0 ? PhotoBinNavigator::kNotFound : std::size_t(i);
}

void PhotoBinViewController::updateItemImage(const LMImagePtr& image, const LMPathString& path, bool formalImage)
{
    const std::size_t index = indexOfPath(path);
    if (index == PhotoBinNavigator::kNotFound)
        return;
    // An informal picture only fills an empty slot; a formal one replaces whatever is cached, but
    // never a formal one by an informal one.
    if (m_photoBinItemDatas.contains(path) && !formalImage)
        return;
    m_photoBinItemDatas.insert(path, itemFromImage(image, formalImage));
    pruneItemDatas();
    m_photoBinView->updateItemAtIndex(index);
}

void PhotoBinViewController::pruneItemDatas()
{
    // The pictures of files the viewer has let go (far from the current one) go as well; they
    // come back from the viewer's records when the strip nears them again. Checked only when the
    // cache has doubled, so stepping stays cheap while a folder of any size holds steady memory.
    if (m_photoBinItemDatas.size() <= m_pruneAbove)
        return;
    for (auto it = m_photoBinItemDatas.begin(); it != m_photoBinItemDatas.end();) {
        if (!m_navigator.fileInfoByPath(it.key()))
            it = m_photoBinItemDatas.erase(it);
        else
            ++it;
    }
    m_pruneAbove = std::max<qsizetype>(kMinPruneAbove, 2 * m_photoBinItemDatas.size());
}

void PhotoBinViewController::didLoadImage(const QVariantMap& userInfo)
{
    if (userInfo.value(key("ImageScaleType")).toInt() != kSmallThumbType)
        return;
    const int result = userInfo.value(key("result")).toInt();
    const LMPathString path = pathOf(userInfo.value(key("filePath")));
    const LMImagePtr image = userInfo.value(key("image")).value<LMImagePtr>();
    if (result == 0 && image)
        updateItemImage(image, path, false);
    else if (result == -1)
        updateItemImage(nullptr, path, false);
}

void PhotoBinViewController::didUpdateSmallThumb(const QVariantMap& userInfo)
{
    const LMImagePtr image = userInfo.value(key("image")).value<LMImagePtr>();
    if (image)
        updateItemImage(image, pathOf(userInfo.value(key("filePath"))), true);
}

void PhotoBinViewController::didFileModified(const QVariantMap& userInfo)
{
    const LMPathString path = pathOf(userInfo.value(key("filePath")));
    if (!m_photoBinItemDatas.remove(path))
        return;
    const std::size_t index = indexOfPath(path);
    if (index != PhotoBinNavigator::kNotFound)
        m_photoBinView->updateItemAtIndex(index);
}

void PhotoBinViewController::didFilesBatchRenamed(const QVariantMap& userInfo)
{
    if (userInfo.isEmpty())
        return;
    QHash<LMPathString, PhotoBinItemDataPtr> next;
    bool changed = false;
    for (auto it = m_photoBinItemDatas.cbegin(); it != m_photoBinItemDatas.cend(); ++it) {
        auto renamed = userInfo.find(it.key().path());
        if (renamed != userInfo.end()) {
            next.insert(pathOf(renamed.value()), it.value());
            changed = true;
        } else if (!next.contains(it.key())) {
            next.insert(it.key(), it.value());
        }
    }
    if (changed)
        m_photoBinItemDatas.swap(next);
}

void PhotoBinViewController::didChangeFileList()
{
    m_photoBinItemDatas.clear();
    m_photoBinView->fileListChanged();
}

void PhotoBinViewController::didFavoritesChange(const QVariantMap& userInfo)
{
    const QVariant list = userInfo.value(key("filePathList"));
    for (const LMPathString& path : list.value<QList<LMPathString>>()) {
        const std::size_t index = indexOfPath(path);
        if (index != PhotoBinNavigator::kNotFound)
            m_photoBinView->updateItemAtIndex(index);
    }
}

std::uint64_t PhotoBinViewController::numberOfItems(PhotoBinView*)
{
    return std::uint64_t(m_navigator.filePaths().size());
}

std::uint64_t PhotoBinViewController::curItemIndex(PhotoBinView*)
{
    return m_navigator.curFileIndex();
}

PhotoBinItemDataPtr PhotoBinViewController::itemDataForDisplay(const PhotoBinItemDataPtr& item)
{
    if (item && !item->image().isNull())
        return item;
    if (item) {
        if (!m_badImageItemData)
            m_badImageItemData = std::make_shared<PhotoBinItemData>(m_navigator.defaultImage(2), 0);
        return m_badImageItemData;
    }
    if (!m_loadingImageItemData)
        m_loadingImageItemData = std::make_shared<PhotoBinItemData>(m_navigator.defaultImage(1), 0);
    return m_loadingImageItemData;
}

PhotoBinItemDataPtr PhotoBinViewController::photoBinViewItemAtIndex(PhotoBinView*, std::uint64_t index)
{
    const QList<LMPathString>& paths = m_navigator.filePaths();
    if (index >= std::uint64_t(paths.size()))
        return nullptr;
    const LMPathString& path = paths[qsizetype(index)];
    PhotoBinItemDataPtr item = m_photoBinItemDatas.value(path);
    if (!item) {
        const std::shared_ptr<LMNavFileInfo> info = m_navigator.fileInfoByPath(path);
        if (!info)
            return nullptr; // no record: a blank cell, neither placeholder
        bool failed = false;
        const LMImagePtr thumb = info->imageByType(kSmallThumbType, &failed);
        if (failed)
            item = itemFromImage(nullptr, false);
        else if (thumb)
            item = itemFromImage(thumb, false);
        if (item) {
            m_photoBinItemDatas.insert(path, item);
            pruneItemDatas();
        }
    }
    return itemDataForDisplay(item);
}

bool PhotoBinViewController::favoriteItemOfPhotoBinView(PhotoBinView*, std::uint64_t index)
{
    const QList<LMPathString>& paths = m_navigator.filePaths();
    return index < std::uint64_t(paths.size()) && m_navigator.isFavoriteFile(paths[qsizetype(index)]);
}

void PhotoBinViewController::photoBinViewCellWasClickedAtIndex(PhotoBinView*, std::uint64_t index,
                                                               std::function<void(bool)> done)
{
    if (index != m_navigator.curFileIndex())
        m_navigator.doNavCurFileToIndex(std::size_t(index), std::move(done));
    else if (done)
        done(false);
}
