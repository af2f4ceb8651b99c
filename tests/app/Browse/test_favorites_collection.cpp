// The favourites collection: add, remove, reorder, look-ups, the thumbnail rule and how the
// collection follows files deleted, modified or renamed elsewhere.
#include "browse_support.h"

#include "Browse/FavoriteViewController.h"
#include "Browse/FavImageBrowserView.h"

#include "appkit/Event.h"
#include "foundation/Clock.h"
#include "foundation/FileNames.h"
#include "foundation/NotificationCenter.h"
#include "foundation/RunLoop.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

LMPathString P(const QString& s)
{
    return LMPathString(s, false);
}

struct PostLog {
    std::vector<std::pair<QString, QList<LMPathString>>> posts;
    PostLog()
    {
        for (const char* name : {"DidAddFilesToFavorite", "DidRemoveFilesFromFavorite"}) {
            kpv::NotificationCenter::defaultCenter().addObserver(this, QString::fromLatin1(name), nullptr,
                                                                 [this](const kpv::Notification& n) {
                                                                     posts.emplace_back(n.name, n.userInfo.value("filePathList").value<QList<LMPathString>>());
                                                                 });
        }
    }
    ~PostLog() { kpv::NotificationCenter::defaultCenter().removeObserver(this); }
};

LMImagePtr imageFor(const LMFileImgBaseInfoPtr& base, QColor c = Qt::blue)
{
    QImage img(4, 3, QImage::Format_ARGB32_Premultiplied);
    img.fill(c);
    return std::make_shared<LMImage>(img, base);
}

LMFileImgBaseInfoPtr baseFor(const QString& path, QDateTime date)
{
    return std::make_shared<LMFileImgBaseInfo>(P(path), QStringLiteral("public.jpeg"), 2, date, QSizeF(4, 3), 1, QVariantMap());
}

class FavoritesCollection : public testing::Test {
protected:
    FakeFavoriteHost host;
    std::unique_ptr<FavoriteViewController> c = std::make_unique<FavoriteViewController>(host);

    // Two 8x6 photos made favourites, and the grid up with their pictures read.
    // Lets the system's word of a change made by another program arrive, then lets the burst settle.
    static void hearChanges(kpv::ManualClock& clock, FavImageBrowserView* browser)
    {
        for (int i = 0; i < 25; ++i) {
            QCoreApplication::processEvents();
            QThread::msleep(2);
        }
        clock.advance(1);
        browser->requestVisiblePictures();
    }
    FavImageBrowserView* showTwoInTheGrid(const QString& a, const QString& b)
    {
        writeTestJpeg(a, 8, 6);
        writeTestJpeg(b, 8, 6);
        c->addFovoriteFile(P(a), nullptr, {});
        c->addFovoriteFile(P(b), nullptr, {});
        FavImageBrowserView* browser = c->browser();
        browser->setLoadsPicturesSynchronously(true);
        host.mode = 8;
        c->didChangeMainShowMode({{"old", 4}, {"new", 8}});
        browser->requestVisiblePictures();
        return browser;
    }
    QImage picture(const QString& path) const
    {
        return c->browser()->cachedPicture(c->favImageBrowserItemByFilePath(P(path))->imageUID());
    }
    // Another program writes a photo `width` pixels wide over `path`, dated a minute on.
    static bool rewriteLater(const QString& path, int width)
    {
        writeTestJpeg(path, width, 6);
        QFile f(path);
        return f.open(QIODevice::ReadWrite) &&
               f.setFileTime(QDateTime::currentDateTime().addSecs(60), QFileDevice::FileModificationTime);
    }
    void addAll(std::initializer_list<const char*> names)
    {
        for (const char* n : names)
            c->addFovoriteFile(P(QString::fromLatin1(n)), nullptr, {});
    }
    QStringList order() const
    {
        QStringList out;
        for (const auto& item : c->favImageBrowserItems())
            out << item->filePath().path();
        return out;
    }
};

TEST_F(FavoritesCollection, AddAppendsPostsAndIndexes)
{
    PostLog log;
    addAll({"/a.jpg", "/b.jpg"});
    EXPECT_EQ(order(), (QStringList{"/a.jpg", "/b.jpg"}));
    EXPECT_TRUE(c->isFavoriteFile(P("/a.jpg")));
    EXPECT_FALSE(c->isFavoriteFile(P("/A.jpg"))) << "case differs: another file here";
    EXPECT_EQ(c->getLastFavoriteFile(), P("/b.jpg"));
    EXPECT_EQ(c->itemIndexByFilePath(P("/b.jpg")), 1u);
    EXPECT_EQ(c->itemIndexByFilePath(P("/zz.jpg")), FavoriteViewController::kNotFound);
    ASSERT_EQ(log.posts.size(), 2u);
    EXPECT_EQ(log.posts[1].second, QList<LMPathString>{P("/b.jpg")});
    c->addFovoriteFile(LMPathString(), nullptr, {});
    EXPECT_EQ(c->favoriteFileCount(), 2u);
}

TEST_F(FavoritesCollection, ReorderMatchesTheThreeRuns)
{
    addAll({"A", "B", "C", "D", "E"});
    EXPECT_TRUE(c->moveItemsAtIndexes({1, 3}, 2));
    EXPECT_EQ(order(), (QStringList{"A", "B", "D", "C", "E"}));

    c->removeAllFavoriteFiles();
    addAll({"A", "B", "C"});
    EXPECT_TRUE(c->moveItemsAtIndexes({0}, 3));
    EXPECT_EQ(order(), (QStringList{"B", "C", "A"}));
    EXPECT_FALSE(c->moveItemsAtIndexes({}, 1));
    EXPECT_EQ(order(), (QStringList{"B", "C", "A"}));
    EXPECT_TRUE(c->isFavoriteFile(P("A"))) << "the path index is untouched by a reorder";
}

TEST_F(FavoritesCollection, RemoveReportsInIndexOrderAndLeavesModeWhenEmpty)
{
    addAll({"A", "B", "C"});
    PostLog log;
    c->removeItemsAtIndexes({2, 0});
    EXPECT_EQ(order(), QStringList{"B"});
    ASSERT_EQ(log.posts.size(), 1u);
    EXPECT_EQ(log.posts[0].second, (QList<LMPathString>{P("A"), P("C")}));
    EXPECT_TRUE(host.modeRequests.empty()) << "outside mode 8 the list simply shrinks";
    EXPECT_GE(host.favBoxUpdates, 1);

    host.mode = 8;
    c->removeFavoriteFile(P("B"));
    EXPECT_EQ(host.modeRequests, std::vector<long>{4});
    c->removeFavoriteFile(P("nothing"));
    EXPECT_EQ(log.posts.size(), 2u);
}

TEST_F(FavoritesCollection, DuplicatePathStaysReachableAfterOneCopyIsRemoved)
{
    addAll({"A", "B", "A"});
    c->removeItemsAtIndexes({2});
    EXPECT_TRUE(c->isFavoriteFile(P("A")));
    ASSERT_TRUE(c->favImageBrowserItemByFilePath(P("A")));
    EXPECT_EQ(c->favImageBrowserItemByFilePath(P("A")), c->favImageBrowserItems()[0]);
}

TEST_F(FavoritesCollection, ThumbnailRuleKeepsFormalAndChecksTheVersion)
{
    const QDateTime date = QDateTime::fromSecsSinceEpoch(1000000);
    const LMFileImgBaseInfoPtr base = baseFor("/x.jpg", date);
    c->addFovoriteFile(P("/x.jpg"), base, {});
    c->addFovoriteFile(P("/y.jpg"), nullptr, {});

    // An informal load fills the empty slot.
    c->didLoadImage({{"ImageScaleType", 8}, {"result", 0}, {"filePath", QVariant::fromValue(P("/x.jpg"))},
                     {"image", QVariant::fromValue(imageFor(base, Qt::red))}});
    auto item = c->favImageBrowserItemByFilePath(P("/x.jpg"));
    ASSERT_FALSE(item->smallThumb().isNull());
    EXPECT_FALSE(item->formalSmallThumb());

    // Another version of the file is ignored.
    c->didUpdateSmallThumb({{"filePath", QVariant::fromValue(P("/x.jpg"))},
                            {"image", QVariant::fromValue(imageFor(baseFor("/x.jpg", date.addSecs(5)), Qt::green))}});
    EXPECT_FALSE(item->formalSmallThumb());

    // The formal one replaces the informal one, and then stays.
    c->didUpdateSmallThumb({{"filePath", QVariant::fromValue(P("/x.jpg"))}, {"image", QVariant::fromValue(imageFor(base, Qt::green))}});
    EXPECT_TRUE(item->formalSmallThumb());
    EXPECT_EQ(item->smallThumb().pixelColor(0, 0), QColor(Qt::green));
    c->didLoadImage({{"ImageScaleType", 8}, {"result", 0}, {"filePath", QVariant::fromValue(P("/x.jpg"))},
                     {"image", QVariant::fromValue(imageFor(base, Qt::red))}});
    EXPECT_EQ(item->smallThumb().pixelColor(0, 0), QColor(Qt::green));

    // Other scale types and failed loads offer nothing; an item without base info learns it.
    c->didLoadImage({{"ImageScaleType", 9}, {"result", 0}, {"filePath", QVariant::fromValue(P("/y.jpg"))},
                     {"image", QVariant::fromValue(imageFor(base))}});
    EXPECT_TRUE(c->favImageBrowserItemByFilePath(P("/y.jpg"))->smallThumb().isNull());
    c->updateFavoriteSmallThumb(imageFor(base), P("/y.jpg"), false);
    EXPECT_EQ(c->favImageBrowserItemByFilePath(P("/y.jpg"))->imgBaseInfo(), base);
    const int before = host.favBoxUpdates;
    drainMainRunLoop();
    EXPECT_EQ(host.favBoxUpdates, before + 1) << "the last favourite's new thumbnail refreshes the box";
}

TEST_F(FavoritesCollection, ForcedThumbnailLoadGoesThroughTheLoader)
{
    int loads = 0;
    const LMFileImgBaseInfoPtr base = baseFor("/x.jpg", QDateTime::fromSecsSinceEpoch(5));
    c->setThumbLoader([&](const LMPathString&, const LMFileImgBaseInfoPtr&) {
        ++loads;
        return imageFor(base);
    });
    c->addFovoriteFile(P("/x.jpg"), nullptr, {});
    EXPECT_TRUE(c->getFileInfo(P("/x.jpg"), false)->smallThumb().isNull());
    auto info = c->getFileInfo(P("/x.jpg"), true);
    EXPECT_FALSE(info->smallThumb().isNull());
    EXPECT_EQ(info->imgBaseInfo(), base);
    c->getFileInfo(P("/x.jpg"), true);
    EXPECT_EQ(loads, 1);
    EXPECT_EQ(c->getFileInfo(P("/none.jpg"), true), nullptr);
}

TEST_F(FavoritesCollection, DeletedRenamedAndModifiedFiles)
{
    QTemporaryDir dir;
    const QString a = dir.filePath("a.jpg"), b = dir.filePath("b.jpg"), b2 = dir.filePath("b2.jpg");
    writeTestJpeg(a);
    writeTestJpeg(b);
    addAll({"/gone1.jpg"});
    c->addFovoriteFile(P(a), baseFor(a, QDateTime::fromSecsSinceEpoch(1)), {});
    QImage thumb(2, 2, QImage::Format_RGB32);
    thumb.fill(Qt::yellow);
    c->addFovoriteFile(P(b), baseFor(b, P(b).dateModified()), thumb);

    PostLog log;
    c->didFilesDeleted({{"filePathList", QVariant::fromValue(QList<LMPathString>{P("/elsewhere.jpg")})}});
    EXPECT_TRUE(log.posts.empty()) << "no favourite named, nothing posted";
    c->didFilesDeleted({{"filePathList", QVariant::fromValue(QList<LMPathString>{P("/elsewhere.jpg"), P("/gone1.jpg")})}});
    ASSERT_EQ(log.posts.size(), 1u);
    EXPECT_EQ(log.posts[0].second, QList<LMPathString>{P("/gone1.jpg")});

    // Modified: the record's date differs from the file's, so it is reset and gets a new identifier.
    auto itemA = c->favImageBrowserItemByFilePath(P(a));
    const QString uid = itemA->imageUID();
    c->didFileModified({{"filePath", QVariant::fromValue(P(a))}});
    EXPECT_EQ(itemA->imgBaseInfo(), nullptr);
    EXPECT_TRUE(uid.startsWith(a));

    // Renamed: same position, thumbnail kept, base info moved to the new path.
    ASSERT_TRUE(QFile::rename(b, b2));
    c->didFilesBatchRenamed({{b, QVariant::fromValue(P(b2))}});
    ASSERT_EQ(c->favoriteFileCount(), 2u);
    EXPECT_EQ(c->favImageBrowserItems()[1]->filePath(), P(b2));
    EXPECT_FALSE(c->isFavoriteFile(P(b)));
    auto renamed = c->favImageBrowserItemByFilePath(P(b2));
    ASSERT_TRUE(renamed);
    EXPECT_EQ(renamed->smallThumb().pixelColor(0, 0), QColor(Qt::yellow));
    ASSERT_TRUE(renamed->imgBaseInfo());
    EXPECT_EQ(renamed->imgBaseInfo()->filePath(), P(b2));
    EXPECT_TRUE(renamed->imageUID().startsWith(b2));
}

// Favourites moved to the trash come back with Undo (told of the move, then loved again) in
// their old places, whatever the order of their return; a photo loved later goes to the end.
TEST_F(FavoritesCollection, FavouritesBroughtBackFromTheTrashTakeTheirOldPlaces)
{
    addAll({"A", "B", "C", "D"});
    for (const QList<LMPathString>& moved : {QList<LMPathString>{P("B"), P("A")}, QList<LMPathString>{P("C")}})
        kpv::NotificationCenter::defaultCenter().postNotification(QStringLiteral("filesDeleted"), nullptr,
                                                                  {{"filePathList", QVariant::fromValue(moved)}});
    addAll({"C", "A", "B", "E"});
    EXPECT_EQ(order(), (QStringList{"A", "B", "C", "D", "E"}));
}

// A crop kept only to be a favourite is deleted when it leaves the favourites, whatever bytes its
// name holds (it is named after the photo it was cut from).
TEST_F(FavoritesCollection, KeptCropsGoWithTheirFavourite)
{
    QTemporaryDir kept;
    c->setKeptCopiesFolder(kept.path());
    const QString crop = kpv::decodeFileName(QFile::encodeName(kept.path()) + "/caf\xe9.jpg");
    const int fd = ::open(kpv::encodeFileName(crop).constData(), O_CREAT | O_WRONLY, 0600);
    ASSERT_GE(fd, 0);
    ::close(fd);
    c->addFovoriteFile(P(crop), nullptr, {});
    c->removeFavoriteFile(P(crop));
    EXPECT_FALSE(kpv::pathStatus(crop).exists);
}

// Favourites changed or removed by another program, in folders nobody watches, show as they are
// now when the user comes back to them: a new picture, or the missing mark, never the old picture.
TEST_F(FavoritesCollection, FilesChangedOrRemovedElsewhereShowAsTheyAreNow)
{
    QTemporaryDir dir;
    const QString kept = dir.filePath("kept.jpg"), gone = dir.filePath("gone.jpg");
    FavImageBrowserView* browser = showTwoInTheGrid(kept, gone);
    ASSERT_EQ(picture(kept).width(), 8);
    ASSERT_FALSE(picture(gone).isNull());

    // While the grid is up: the viewer's list changes, so a file went or came somewhere.
    ASSERT_TRUE(QFile::remove(gone));
    c->didChangeFileList();
    browser->requestVisiblePictures();
    EXPECT_TRUE(picture(gone).isNull()) << "the removed file's old picture is not shown";
    EXPECT_TRUE(browser->hasCachedPicture(c->favImageBrowserItemByFilePath(P(gone))->imageUID()))
        << "it was read and found missing";

    // Away from the grid: the file is rewritten, and the grid shows the new one on return.
    c->didChangeMainShowMode({{"old", 8}, {"new", 4}});
    host.mode = 4;
    ASSERT_TRUE(rewriteLater(kept, 12));
    host.mode = 8;
    c->didChangeMainShowMode({{"old", 4}, {"new", 8}});
    browser->requestVisiblePictures();
    EXPECT_EQ(picture(kept).width(), 12);
    EXPECT_EQ(c->favoriteFileCount(), 2u) << "both stay favourites";
}

// Favourites lie in any folder, most often not the one the viewer shows: while the grid is up,
// another program's change to one of them shows at once, without leaving the grid.
TEST_F(FavoritesCollection, AFavouriteChangedElsewhereWhileTheGridIsUpShowsAsItIsNow)
{
    kpv::ManualClock clock;
    kpv::RunLoop::main().setClock(&clock);
    QTemporaryDir dir;
    const QString shot = dir.filePath("shot.jpg"), other = dir.filePath("other.jpg");
    FavImageBrowserView* browser = showTwoInTheGrid(shot, other);
    ASSERT_EQ(picture(shot).width(), 8);
    auto hear = [&] { hearChanges(clock, browser); };

    ASSERT_TRUE(rewriteLater(shot, 12)); // by another program
    hear();
    EXPECT_EQ(picture(shot).width(), 12) << "the new picture, not the old one";
    // Written over again and given back the date it had: only the file itself tells.
    const QDateTime dated = QFileInfo(shot).lastModified();
    writeTestJpeg(shot, 14, 6);
    {
        QFile f(shot);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite) && f.setFileTime(dated, QFileDevice::FileModificationTime));
    }
    hear();
    EXPECT_EQ(picture(shot).width(), 14) << "the photo as it is now, not the picture read under its old date";
    ASSERT_TRUE(QFile::remove(other));
    hear();
    EXPECT_TRUE(picture(other).isNull()) << "a removed file's old picture is not shown";
    EXPECT_EQ(c->favoriteFileCount(), 2u) << "both stay favourites";

    // Away from the grid nothing is watched; coming back shows the file as it is.
    c->didChangeMainShowMode({{"old", 8}, {"new", 4}});
    host.mode = 4;
    writeTestJpeg(other, 10, 6);
    hear();
    host.mode = 8;
    c->didChangeMainShowMode({{"old", 4}, {"new", 8}});
    browser->requestVisiblePictures();
    EXPECT_EQ(picture(other).width(), 10);
    c.reset();
    kpv::RunLoop::main().setClock(nullptr);
}

// Another program renames a favourite (to a name that is not UTF-8) and deletes the other while
// the grid is up: the renamed one stays a favourite under its new name, in its place, selected
// and with its picture; the deleted one shows as missing.
TEST_F(FavoritesCollection, AFavouriteRenamedElsewhereStaysAFavouriteUnderItsNewName)
{
    kpv::ManualClock clock;
    kpv::RunLoop::main().setClock(&clock);
    QTemporaryDir dir;
    const QString shot = dir.filePath("shot.jpg"), other = dir.filePath("other.jpg");
    FavImageBrowserView* browser = showTwoInTheGrid(shot, other);
    browser->setSelectionIndexes({0});
    const QByteArray newName = kpv::encodeFileName(dir.path()) + "/renamed-\xff.jpg";
    ASSERT_EQ(std::rename(kpv::encodeFileName(shot).constData(), newName.constData()), 0);
    ASSERT_TRUE(QFile::remove(other));
    hearChanges(clock, browser);

    const QString renamed = kpv::decodeFileName(newName);
    EXPECT_EQ(order().join(u'|'), QStringList({renamed, other}).join(u'|'));
    EXPECT_EQ(browser->selectionIndexes(), std::set<std::size_t>{0});
    EXPECT_EQ(picture(renamed).width(), 8);
    EXPECT_TRUE(picture(other).isNull());
    c.reset();
    kpv::RunLoop::main().setClock(nullptr);
}

TEST_F(FavoritesCollection, BrowserDataSourceFollowsTheList)
{
    addAll({"A", "B", "C"});
    FavImageBrowserView* browser = c->browser();
    ASSERT_TRUE(browser);
    browser->reloadData();
    EXPECT_EQ(browser->numberOfItems(), 3u);
    browser->setSelectionIndexes({0, 2});
    EXPECT_TRUE(browser->moveSelectedItemsToIndex(2));
    EXPECT_EQ(order(), (QStringList{"B", "A", "C"}));
    EXPECT_EQ(browser->selectionIndexes(), (std::set<std::size_t>{1, 2}));

    // Dragged with the mouse, a bar in the gap shows where the photo will land before it is let go.
    browser->setFrame(kpv::Rect(0, 0, 900, 400));
    browser->setSelectionIndexes({});
    const kpv::Rect first = browser->itemFrameAtIndex(0), last = browser->itemFrameAtIndex(2);
    auto send = [&](kpv::EventType type, kpv::Point p) {
        auto e = kpv::Event::mouseEvent(type, browser->convertPointToView(p, nullptr), nullptr);
        type == kpv::LeftMouseDown ? browser->mouseDown(*e) : type == kpv::LeftMouseUp ? browser->mouseUp(*e) : browser->mouseDragged(*e);
    };
    send(kpv::LeftMouseDown, {last.midX(), last.midY()});
    EXPECT_TRUE(browser->dropMarkerFrame().isEmpty()) << "no bar before the photo moves";
    send(kpv::LeftMouseDragged, {last.midX() - 40, last.midY()});
    send(kpv::LeftMouseDragged, {first.x() + 5, first.midY()});
    const kpv::Rect bar = browser->dropMarkerFrame();
    EXPECT_FALSE(bar.isEmpty());
    EXPECT_LE(bar.maxX(), first.x()) << "the bar stands before the first photo";
    send(kpv::LeftMouseDragged, {last.maxX() + 4, last.midY()});
    EXPECT_GE(browser->dropMarkerFrame().x(), last.maxX()) << "and after the last one";
    send(kpv::LeftMouseDragged, {first.x() + 5, first.midY()});
    send(kpv::LeftMouseUp, {first.x() + 5, first.midY()});
    EXPECT_EQ(order(), (QStringList{"C", "B", "A"}));
    EXPECT_TRUE(browser->dropMarkerFrame().isEmpty()) << "the bar goes once the photo is let go";
}

} // namespace

namespace {

// What the shell saves is told of every change of members or order, and only of those.
TEST_F(FavoritesCollection, EveryChangeOfTheListIsReportedForSaving)
{
    int changes = 0;
    c->setCollectionChangedHandler([&] { ++changes; });
    addAll({"/a.jpg", "/b.jpg", "/c.jpg"});
    EXPECT_EQ(changes, 3);
    c->removeFavoriteFile(P("/none.jpg"));
    c->removeItemsAtIndexes({});
    c->didFilesDeleted({{"filePathList", QVariant::fromValue(QList<LMPathString>{P("/elsewhere.jpg")})}});
    c->moveItemsAtIndexes({}, 0);
    EXPECT_EQ(changes, 3) << "nothing changed, nothing to save";
    c->moveItemsAtIndexes({2}, 0);
    EXPECT_EQ(changes, 4);
    c->didFilesBatchRenamed({{"/a.jpg", QVariant::fromValue(P("/a2.jpg"))}});
    EXPECT_EQ(changes, 5);
    EXPECT_EQ(c->favoriteFilePaths(), (QList<LMPathString>{P("/c.jpg"), P("/a2.jpg"), P("/b.jpg")}));
    c->removeFavoriteFile(P("/b.jpg"));
    EXPECT_EQ(changes, 6);
}

TEST_F(FavoritesCollection, RestoredFavouritesKeepTheirOrderAndAreAnnouncedOnce)
{
    addAll({"/b.jpg"});
    PostLog log;
    int changes = 0;
    c->setCollectionChangedHandler([&] { ++changes; });
    c->restoreFavoriteFiles({P("/c.jpg"), P("/b.jpg"), P("/a.jpg"), P("/c.jpg"), P("")});
    EXPECT_EQ(order(), QStringList({"/b.jpg", "/c.jpg", "/a.jpg"}));
    ASSERT_EQ(log.posts.size(), 1u);
    EXPECT_EQ(log.posts[0].second, (QList<LMPathString>{P("/c.jpg"), P("/a.jpg")}));
    EXPECT_EQ(changes, 0) << "restoring is not a change to save";
    EXPECT_TRUE(c->isFavoriteFile(P("/a.jpg")));
    c->restoreFavoriteFiles({P("/a.jpg")});
    EXPECT_EQ(log.posts.size(), 1u);
}

} // namespace
