// The favourites mode's commands and screen decisions: what is possible with and without a
// selection, the share limits and GIF question, slideshow order, printing with a failed file,
// picture size arithmetic and Esc during a copy.
#include "browse_support.h"

#include "Browse/FavFileCopyProcessController.h"
#include "Browse/FavImageBrowserView.h"
#include "Browse/FavRemoveItemButton.h"
#include "Browse/FavoriteViewController.h"

#include "Kit/LMButton.h"
#include "Model/MainConfig.h"

#include "appkit/Event.h"
#include "appkit/Pasteboard.h"
#include "appkit/Window.h"
#include "foundation/NotificationCenter.h"
#include "foundation/RunLoop.h"
#include "foundation/UserDefaults.h"

#include "foundation/FileNames.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <sys/stat.h>
#include <gtest/gtest.h>

namespace {

LMPathString P(const QString& s)
{
    return LMPathString(s, false);
}

class FavoritesCommands : public testing::Test {
protected:
    FakeFavoriteHost host;
    std::unique_ptr<FavoriteViewController> c = std::make_unique<FavoriteViewController>(host);
    void add(int n, const char* ext = "jpg")
    {
        for (int i = 0; i < n; ++i)
            c->addFovoriteFile(P(QStringLiteral("/fav%1.%2").arg(c->favoriteFileCount()).arg(QLatin1String(ext))), nullptr, {});
        c->browser()->reloadData();
    }
};

TEST_F(FavoritesCommands, WhatIsPossible)
{
    EXPECT_FALSE(c->canDoAction(4));
    EXPECT_TRUE(c->canDoAction(10));
    add(3);
    for (long id : {4, 18, 19, 20, 21, 22, 23, 24, 25, 39})
        EXPECT_TRUE(c->canDoAction(id)) << id;
    for (long id : {5, 6, 7, 12, 9, 13, 40, 41})
        EXPECT_FALSE(c->canDoAction(id)) << id;
    c->browser()->setSelectionIndexes({1});
    for (long id : {5, 6, 7, 12})
        EXPECT_TRUE(c->canDoAction(id)) << id;
    c->setIntroTipsShown(true);
    EXPECT_FALSE(c->canDoAction(10)) << "every command waits while the tip is shown";
}

TEST_F(FavoritesCommands, WorkingSetIsTheSelectionOrEverything)
{
    add(4);
    c->doBatchRename();
    EXPECT_EQ(host.renamed.size(), 4);
    c->browser()->setSelectionIndexes({3, 1});
    c->doBatchRename();
    EXPECT_EQ(host.renamed, (QList<LMPathString>{P("/fav1.jpg"), P("/fav3.jpg")}));
    c->revealFilesInFinder();
    EXPECT_EQ(host.revealed.size(), 2);
    c->doCopy(); // files that are not there: both selected ones are named, nothing else
    ASSERT_EQ(host.alerts.size(), 1u);
    EXPECT_TRUE(host.alerts[0].contains(QLatin1String("fav1.jpg")) && host.alerts[0].contains(QLatin1String("fav3.jpg")));
    EXPECT_FALSE(host.alerts[0].contains(QLatin1String("fav0.jpg")));
    c->removeFilesFromMyFavorites();
    EXPECT_EQ(c->favoriteFileCount(), 2u);
}

TEST_F(FavoritesCommands, SlideshowStartsAtTheFirstSelected)
{
    add(4);
    c->browser()->setSelectionIndexes({2});
    c->playSlideshow();
    ASSERT_EQ(host.slideshow.size(), 4u);
    QStringList order;
    for (const auto& f : host.slideshow)
        order << f.filePath.path();
    EXPECT_EQ(order, (QStringList{"/fav2.jpg", "/fav3.jpg", "/fav0.jpg", "/fav1.jpg"}));
}

TEST_F(FavoritesCommands, ShareLimitsAndTheGifQuestion)
{
    add(12);
    c->doShareForType(4);
    ASSERT_EQ(host.alerts.size(), 1u);
    EXPECT_TRUE(host.alerts[0].contains(QLatin1String("12")));
    EXPECT_TRUE(host.alerts[0].contains(QLatin1String("9")));
    EXPECT_TRUE(host.shared.empty());
    c->doShareForType(1);
    EXPECT_EQ(host.shared.size(), 12u) << "Facebook takes twelve";

    c->removeAllFavoriteFiles();
    host.shared.clear();
    host.alerts.clear();
    add(1, "gif");
    c->doShareForType(4);
    EXPECT_TRUE(host.alerts.empty()) << "one GIF alone to Tumblr goes without asking";
    EXPECT_EQ(host.shared.size(), 1u);

    add(1);
    host.shared.clear();
    host.alertAnswer = 0;
    c->doShareForType(4);
    EXPECT_EQ(host.alerts.size(), 1u);
    drainMainRunLoop();
    EXPECT_TRUE(host.shared.empty()) << "declined";
    host.alertAnswer = 1;
    c->doShareForType(4);
    drainMainRunLoop();
    EXPECT_EQ(host.shared.size(), 2u);
}

// Favourites that go, by their remove button or because another program deleted their files,
// leave the selection on the photos the user chose: a share takes those, not the ones that moved
// up into their places.
TEST_F(FavoritesCommands, TheSelectionStaysWithItsPhotosAsOthersGo)
{
    add(6);
    host.mode = 8;
    c->browser()->setSelectionIndexes({2, 4});
    c->removeButton()->setItemIndex(0);
    c->removeFavItem();
    kpv::NotificationCenter::defaultCenter().postNotification("filesDeleted", nullptr,
                                                              {{"filePathList", QVariant::fromValue(QList<LMPathString>{P("/fav3.jpg")})}});
    c->doShareForType(1);
    QList<LMPathString> shared;
    for (const FavoriteHandOff& f : host.shared)
        shared << f.filePath;
    EXPECT_EQ(shared, (QList<LMPathString>{P("/fav2.jpg"), P("/fav4.jpg")}));
}

// The share button repeats the last chosen way of sharing, so it must show that way: after "Send by
// Email" from the pop-up, a button still showing the first site would mail the photos on a click.
TEST_F(FavoritesCommands, TheShareButtonShowsTheWayItWillShare)
{
    QTemporaryDir dir;
    kpv::UserDefaults defaults(dir.filePath(QStringLiteral("settings.conf")));
    MainConfig config(defaults);
    host.config = &config;
    c = std::make_unique<FavoriteViewController>(host);
    add(2);
    LMButton* button = c->shareButton();
    c->doShareForType(33); // chosen in the pop-up
    EXPECT_EQ(host.sharedType, 33);
    EXPECT_EQ(host.popupsHidden, std::vector<int>{1}) << "the pop-up closes";
    EXPECT_EQ(button->imageName().toStdString(), "E_SHARE_33");
    host.sharedType = 0;
    button->sendAction();
    EXPECT_EQ(host.sharedType, 33) << "the click shares the way the button shows";
    c->doShareForType(2);
    EXPECT_EQ(button->imageName().toStdString(), "E_SHARE_2");
    c.reset();
    host.config = nullptr;
}

// Favourites kept from an earlier run have no thumbnail yet: the share sheet still gets one for
// each file it shows, and no decoding is spent on files it does not show.
TEST_F(FavoritesCommands, SharedFavouritesCarryThumbnailsForTheSheet)
{
    int loads = 0;
    c->setThumbLoader([&](const LMPathString& path, const LMFileImgBaseInfoPtr&) {
        ++loads;
        QImage img(4, 3, QImage::Format_RGB32);
        img.fill(Qt::green);
        auto base = std::make_shared<LMFileImgBaseInfo>(path, QStringLiteral("public.jpeg"), 2, QDateTime(), QSizeF(4, 3), 1,
                                                        QVariantMap());
        return std::make_shared<LMImage>(img, base);
    });
    add(7);
    c->doShareForType(1);
    ASSERT_EQ(host.shared.size(), 7u);
    for (std::size_t i = 0; i < FavoriteViewController::kShareThumbsShown; ++i)
        EXPECT_FALSE(host.shared[i].rawThumb.isNull()) << i;
    EXPECT_TRUE(host.shared[6].rawThumb.isNull());
    EXPECT_EQ(loads, 5);
}

TEST_F(FavoritesCommands, PrintingLeavesOutWhatCannotBeRendered)
{
    add(3);
    host.unprintable = {P("/fav2.jpg")};
    c->browser()->selectAll();
    c->doPrint();
    ASSERT_EQ(host.alerts.size(), 1u) << "the photo left out of the print is named first";
    EXPECT_EQ(host.printCalls, 0);
    drainMainRunLoop();
    EXPECT_EQ(host.printCalls, 1);
    EXPECT_EQ(host.printed.size(), 2);
    EXPECT_TRUE(host.alerts[0].contains(QLatin1String("fav2.jpg")));
    EXPECT_TRUE(host.alerts[0].startsWith(QLatin1String("One of the selected photos"))) << host.alerts[0].toStdString();
    EXPECT_FALSE(host.alerts[0].contains(QLatin1String("fav1.jpg")));
    host.unprintable = {P("/fav0.jpg"), P("/fav1.jpg"), P("/fav2.jpg")};
    const size_t alertsBefore = host.alerts.size();
    c->doPrint();
    EXPECT_EQ(host.printCalls, 1) << "nothing rendered, nothing printed";
    EXPECT_EQ(host.alerts.size(), alertsBefore + 1) << "and the user is told";
}

TEST_F(FavoritesCommands, PictureSizeArithmetic)
{
    EXPECT_EQ(FavoriteViewController::doubleClickZoomValue(600, 1000), 808);
    EXPECT_EQ(FavoriteViewController::doubleClickZoomValue(808, 1000), 192);
    EXPECT_EQ(FavoriteViewController::doubleClickZoomValue(192, 300), 285);
    EXPECT_EQ(FavoriteViewController::magnifyZoomValue(-0.9, 192), 92);
    EXPECT_EQ(FavoriteViewController::magnifyZoomValue(9, 192), 808);
    c->updateThumbZoomValue(5000, true);
    EXPECT_EQ(c->thumbZoomValue(), 808);
    EXPECT_DOUBLE_EQ(c->browser()->cellSize().height, 808 / FavoriteViewController::kCellAspect);
}

TEST_F(FavoritesCommands, SaveAsCopiesIntoTheChosenFolderAndEscWaitsForIt)
{
    QTemporaryDir src, dst;
    for (int i = 0; i < 3; ++i) {
        const QString p = src.filePath(QStringLiteral("s%1.jpg").arg(i));
        writeTestJpeg(p);
        c->addFovoriteFile(P(p), nullptr, {});
    }
    host.mode = 8;
    host.chosenFolder = dst.path();
    c->setWritableCheck([](const QString&) { return true; });
    c->doSaveAs();
    drainMainRunLoop();
    ASSERT_TRUE(c->copyController());
    if (c->isCopyingFiles()) {
        EXPECT_TRUE(c->handleKeyDown(53, true));
        EXPECT_EQ(host.mode, 8) << "Esc during a copy neither leaves the mode nor passes on";
    }
    kpv::RunLoop::main().runWhile([&] { return c->isCopyingFiles(); });
    EXPECT_TRUE(QFile::exists(dst.filePath("s2.jpg")));
    EXPECT_TRUE(c->handleKeyDown(53, true));
    EXPECT_EQ(host.mode, 4);

    host.mode = 8;
    c->setWritableCheck([](const QString&) { return false; });
    c->doSaveAs();
    drainMainRunLoop();
    ASSERT_FALSE(host.alerts.empty());
}

// Save As into a folder whose name is not UTF-8 copies the favourites into that very folder (Qt
// lists no folder of such a name, so any it lists was made by mistake), and offers it next time.
TEST_F(FavoritesCommands, SaveAsIntoAFolderWhoseNameIsNotUtf8)
{
    QTemporaryDir src, dst;
    writeTestJpeg(src.filePath(QStringLiteral("s.jpg")));
    c->addFovoriteFile(P(src.filePath(QStringLiteral("s.jpg"))), nullptr, {});
    kpv::UserDefaults defaults(src.filePath(QStringLiteral("settings.json")));
    MainConfig config(defaults);
    host.config = &config;
    host.mode = 8;
    const QByteArray folder = QFile::encodeName(dst.path()) + "/d\xe9st";
    ASSERT_EQ(::mkdir(folder.constData(), 0777), 0);
    host.chosenFolder = kpv::decodeFileName(folder);
    c->doSaveAs();
    drainMainRunLoop();
    kpv::RunLoop::main().runWhile([&] { return c->isCopyingFiles(); });
    EXPECT_TRUE(host.alerts.empty());
    EXPECT_TRUE(kpv::pathStatus(kpv::decodeFileName(folder + "/s.jpg")).isRegularFile);
    EXPECT_TRUE(QDir(dst.path()).entryList(QDir::Dirs | QDir::NoDotAndDotDot).isEmpty());
    EXPECT_EQ(kpv::fileNameFromUrl(config.lastSaveDirUrlForFavFile()), host.chosenFolder);
}

// The favourites' pictures grow with the size slider's knob while it is dragged, the selected
// one staying in sight.
TEST_F(FavoritesCommands, CellsFollowTheSizeSliderWhileItsKnobIsDragged)
{
    kpv::Window window(kpv::Rect(0, 0, 800, 640), 0);
    host.favContainer = new kpv::View(kpv::Rect(0, 40, 800, 600));
    host.toolbarContainer = new kpv::View(kpv::Rect(0, 0, 800, 40));
    window.contentView()->addSubview(host.favContainer);
    window.contentView()->addSubview(host.toolbarContainer);
    const auto cleanUp = qScopeGuard([&] { c.reset(); });
    add(40);
    host.mode = 8;
    c->didChangeMainShowMode({{"old", 4}, {"new", 8}});
    FavImageBrowserView& browser = *c->browser();
    browser.setSelectionIndexes({30});
    std::vector<double> widths;
    dragSliderKnob(*c->zoomSlider(), {0.3, 0.5, 0.7, 0.7}, [&] {
        widths.push_back(browser.cellSize().width);
        const kpv::Rect f = browser.itemFrameAtIndex(30);
        EXPECT_TRUE(f.minY() >= 0 && f.maxY() <= browser.bounds().height()) << "at width " << widths.back();
    });
    ASSERT_GE(widths.size(), 3u) << "the pictures stood still until the knob was let go";
    EXPECT_TRUE(widths[0] < widths[1] && widths[1] < widths[2]);
}

// In My Favourites the keys go to the grid: an arrow moves the selection and Delete takes the
// selected photo out of the favourites. Back in the viewer, they are the viewer's again.
TEST_F(FavoritesCommands, TheGridTakesTheKeysWhileItIsShown)
{
    kpv::Window window(kpv::Rect(0, 0, 800, 600), 0);
    host.win = &window;
    add(3);
    host.mode = 8;
    c->didChangeMainShowMode({{"old", 4}, {"new", 8}});
    c->browser()->setSelectionIndexes({0});
    const auto press = [&](unsigned short key) {
        window.sendEvent(kpv::Event::keyEvent(kpv::KeyDown, key, QString(), QString(), nullptr, 0));
    };
    press(124); // Right
    press(117); // Delete
    EXPECT_EQ(c->favoriteFileCount(), 2u);
    EXPECT_FALSE(c->isFavoriteFile(P("/fav1.jpg")));
    host.mode = 4;
    c->didChangeMainShowMode({{"old", 8}, {"new", 4}});
    press(117);
    EXPECT_EQ(c->favoriteFileCount(), 2u);
    host.win = nullptr;
}

} // namespace

namespace {

TEST_F(FavoritesCommands, RemoveButtonFollowsThePictures)
{
    add(3);
    host.mode = 8;
    FavImageBrowserView* browser = c->browser();
    browser->setFrame(kpv::Rect(0, 0, 800, 600));
    browser->reloadData();
    const kpv::Rect cell = browser->itemFrameAtIndex(1);
    c->updateItemRollOverViewByLocation({cell.midX(), cell.midY()}, false);
    ASSERT_FALSE(c->itemRollOverView()->isHidden());
    EXPECT_EQ(c->removeButton()->itemIndex(), 1u);

    // Onto the part of the button outside the picture: it stays.
    const kpv::Rect button = c->itemRollOverView()->frame();
    const kpv::Point onButton{button.maxX() - 1, button.minY() + 1};
    ASSERT_EQ(browser->indexOfItemAtPoint(onButton), LMImageBrowserView::kNotFound);
    c->updateItemRollOverViewByLocation(onButton, false);
    EXPECT_FALSE(c->itemRollOverView()->isHidden());
    EXPECT_EQ(c->removeButton()->itemIndex(), 1u);

    c->removeFavItem();
    EXPECT_EQ(c->favoriteFileCount(), 2u);
    EXPECT_TRUE(c->itemRollOverView()->isHidden());
    c->updateItemRollOverViewByLocation({-5, -5}, true);
    EXPECT_EQ(c->removeButton()->itemIndex(), FavRemoveItemButton::kNotFound);
}

} // namespace

namespace {

TEST_F(FavoritesCommands, PopupsOpenOnlyInTheModeAndNotOverTheTip)
{
    c->showHidePopMenuViewForType(0, true, {}, false);
    EXPECT_TRUE(host.popupsShown.empty()) << "outside mode 8";
    host.mode = 8;
    c->showHidePopMenuViewForType(7, true, {}, false);
    EXPECT_TRUE(host.popupsShown.empty()) << "only types 0 and 1";
    c->showFavoriteIntroTips();
    c->showHidePopMenuViewForType(1, true, {}, false);
    EXPECT_TRUE(host.popupsShown.empty()) << "the tip keeps pop-ups closed";
    c->hideFavoriteIntroTips();
    c->showHidePopMenuViewForType(1, true, {}, false);
    EXPECT_EQ(host.popupsShown, std::vector<int>{1});
    c->popMenuViewShowed(1, true);
    EXPECT_TRUE(c->popMenuViewPopup(1));
    EXPECT_EQ(c->shareButton()->state(), 1);
}

} // namespace
