// The favourites mode as the program connects it: the window controller makes the favourites
// controller, whose grid and toolbar come into the window and go again with the mode, and whose
// slideshow plays in the window and returns to the favourites. Timers run on the manual clock.

#include "Shell/MainWindow/AppDelegate.h"
#include "Shell/MainWindow/LMMainWindow.h"
#include "Shell/MainWindow/LMMainWndContentView.h"
#include "Shell/MainWindow/MainWndController.h"
#include "Shell/Modes/MainWndEditSheets.h"
#include "Shell/Modes/MainWndFavoriteHost.h"
#include "Edit/BatchPopViewController.h"
#include "Edit/BatchResizeWindowController.h"
#include "Kit/LMNormalCustomWindow.h"
#include "Share/ShareWindowController.h"
#include "Share/ShareSelectWebsiteViewController.h"
#include "Kit/LMPopMenuView.h"
#include "Shell/MainWindow/MainWndSecondaryWindows.h"
#include "Shell/Modes/MainWndSlideshowHost.h"
#include "Shell/Modes/NavigateViewMode.h"

#include "Model/MainConfig.h"
#include "foundation/Clock.h"
#include "foundation/NotificationCenter.h"
#include "foundation/OperationQueue.h"
#include "foundation/RunLoop.h"
#include "foundation/UserDefaults.h"
#include "ProgramTestSetup.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QTemporaryDir>
#include <algorithm>
#include <gtest/gtest.h>

namespace {

class FavoriteMode : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(qApp);
        ASSERT_TRUE(scratch.isValid());
        folder = startProgramTest(scratch, clock);
        ASSERT_FALSE(folder.isEmpty());
        for (int i = 0; i < 2; ++i) {
            QImage image(QSize(320, 240), QImage::Format_RGB32);
            image.fill(i ? Qt::yellow : Qt::cyan);
            ASSERT_TRUE(image.save(QDir(folder).filePath(QStringLiteral("f%1.png").arg(i))));
        }
        defaults = std::make_unique<kpv::UserDefaults>(scratch.filePath(QStringLiteral("defaults.json")));
        AppDelegate::Setup setup = programTestSetup(*defaults, scratch);
        delegate = std::make_unique<AppDelegate>(std::move(setup));
        controller = std::make_unique<MainWndController>(
            *delegate, std::make_unique<LMMainWindow>(kpv::Rect(0, 0, 800, 600)));
        registerSlideshowMode(*controller);
        registerFavoriteMode(*controller);
        viewer = std::make_unique<NavigateViewMode>(*delegate, *controller);
        controller->awakeFromNib();
        kpv::NotificationCenter::defaultCenter().addObserver(
            this, QStringLiteral("didChangeMainShowMode"), nullptr, [this](const kpv::Notification& n) {
                changes.push_back(QStringLiteral("%1>%2")
                                      .arg(n.userInfo.value(QStringLiteral("old")).toLongLong())
                                      .arg(n.userInfo.value(QStringLiteral("new")).toLongLong()));
            });
        delegate->applicationOpenFiles({folder});
        delegate->applicationDidFinishLaunching();
        settle(2.0);
    }
    void TearDown() override
    {
        kpv::NotificationCenter::defaultCenter().removeObserver(this);
        viewer.reset();
        controller.reset();
        delegate.reset();
        kpv::RunLoop::main().runOnce();
        kpv::RunLoop::main().setClock(nullptr);
    }

    void settle(double seconds = 1.0)
    {
        settleProgram(*delegate, clock, seconds, [this] {
            if (auto* s = dynamic_cast<SlideshowViewController*>(
                    controller->existingModeController(MainShowModeSlideshow)))
                s->waitForSlideLoads();
        });
    }

    FavoriteViewController* favorites() const
    {
        return dynamic_cast<FavoriteViewController*>(controller->existingModeController(MainShowModeFavorite));
    }

    // The content view's subviews that are on screen.
    std::vector<kpv::View*> shownSubviews() const
    {
        std::vector<kpv::View*> shown;
        for (kpv::View* v : controller->contentView()->subviews())
            if (!v->isHidden() && v->alphaValue() > 0.0)
                shown.push_back(v);
        return shown;
    }

    kpv::ManualClock clock;
    QTemporaryDir scratch;
    QString folder;
    std::unique_ptr<kpv::UserDefaults> defaults;
    std::unique_ptr<AppDelegate> delegate;
    std::unique_ptr<MainWndController> controller;
    std::unique_ptr<NavigateViewMode> viewer;
    QStringList changes;
};

TEST_F(FavoriteMode, EnteringAndLeavingShowsAndHidesTheGrid)
{
    ASSERT_EQ(controller->showMode(), MainShowModeView);
    const std::vector<kpv::View*> before = shownSubviews();
    changes.clear();

    controller->setShowMode(MainShowModeFavorite);
    settle();
    EXPECT_EQ(controller->showMode(), MainShowModeFavorite);
    EXPECT_EQ(changes, QStringList({QStringLiteral("4>8")}));
    ASSERT_TRUE(favorites());
    // The grid and the toolbar came into the window.
    std::vector<kpv::View*> added;
    for (kpv::View* v : shownSubviews())
        if (std::find(before.begin(), before.end(), v) == before.end())
            added.push_back(v);
    EXPECT_GE(added.size(), 2u);

    controller->setShowMode(MainShowModeView);
    settle();
    EXPECT_EQ(controller->showMode(), MainShowModeView);
    EXPECT_EQ(changes, QStringList({QStringLiteral("4>8"), QStringLiteral("8>4")}));
    for (kpv::View* v : shownSubviews())
        EXPECT_EQ(std::find(added.begin(), added.end(), v), added.end()) << "a favourites view is still shown";
}

TEST_F(FavoriteMode, SlideshowOfFavouritesReturnsToFavourites)
{
    controller->setShowMode(MainShowModeFavorite);
    settle();
    ASSERT_TRUE(favorites());
    // The first visit shows the tip, which holds the commands back until it is closed.
    auto* connected = dynamic_cast<MainWndFavoriteController*>(favorites());
    ASSERT_TRUE(connected);
    ASSERT_TRUE(connected->host().introTips());
    EXPECT_TRUE(connected->host().introTips()->showStatus());
    EXPECT_TRUE(favorites()->curFavoriteIntroTipsShowStatus());
    connected->host().introTips()->closeButtonClicked();
    EXPECT_FALSE(favorites()->curFavoriteIntroTipsShowStatus());
    EXPECT_FALSE(connected->host().introTips()->showStatus());

    favorites()->addFovoriteFile(LMPathString(QDir(folder).filePath(QStringLiteral("f1.png")), false), nullptr, QImage());
    ASSERT_TRUE(favorites()->isFavoriteFile(LMPathString(QDir(folder).filePath(QStringLiteral("f1.png")), false)));
    changes.clear();

    controller->performMenuAction(39);
    settle();
    EXPECT_EQ(controller->showMode(), MainShowModeSlideshow);
    auto* slideshow = dynamic_cast<SlideshowViewController*>(controller->existingModeController(MainShowModeSlideshow));
    ASSERT_TRUE(slideshow);
    EXPECT_TRUE(slideshow->isPlaying());

    slideshow->endSlideshow();
    settle();
    EXPECT_EQ(controller->showMode(), MainShowModeFavorite);
    EXPECT_EQ(changes, QStringList({QStringLiteral("8>32"), QStringLiteral("32>8")}));
}

// The favourites hand their files to the share sheet of the main window; the share button shows
// the chosen target's image.
TEST_F(FavoriteMode, SharingFavouritesOpensTheShareSheet)
{
    controller->setShowMode(MainShowModeFavorite);
    settle();
    auto* connected = dynamic_cast<MainWndFavoriteController*>(favorites());
    ASSERT_TRUE(connected);
    const LMPathString file(QDir(folder).filePath(QStringLiteral("f1.png")), false);
    connected->host().shareFiles({FavoriteHandOff{file, nullptr, QImage(8, 8, QImage::Format_RGB32)}}, 2);
    ShareWindowController* sheet = controller->secondaryWindows().shareWindowController();
    ASSERT_TRUE(sheet);
    EXPECT_TRUE(sheet->shareWindow()->sheetRunning());
    EXPECT_EQ(sheet->websiteType(), 2);
    ASSERT_EQ(sheet->files().size(), 1);
    EXPECT_EQ(sheet->files().front()->filePath(), file);
    EXPECT_EQ(connected->host().shareButtonImageName(3), QStringLiteral("E_TWITTER"));
    sheet->cancelButtonClicked();
    EXPECT_FALSE(sheet->shareWindow()->sheetRunning());

    // The share button's pop-up lists the targets this desktop serves; choosing one shares the
    // selection there.
    connected->host().showPopMenu(1, kpv::Point{100, 100}, false);
    ShareSelectWebsiteViewController* popup = connected->host().shareSelectWebsiteViewController();
    ASSERT_TRUE(popup);
    EXPECT_EQ(popup->shareTypes(), QList<long>({1, 2, 3, 4, 33}));
    favorites()->addFovoriteFile(file, nullptr, QImage());
    // The first visit's tip holds the commands back until it is closed.
    if (connected->host().introTips() && connected->host().introTips()->showStatus())
        connected->host().introTips()->closeButtonClicked();
    ASSERT_TRUE(popup->popMenuView() && popup->popMenuView()->delegate());
    popup->popMenuView()->delegate()->popMenuViewItemClicked(popup->popMenuView(), QVariant::fromValue<qlonglong>(4), {});
    settle();
    EXPECT_TRUE(sheet->shareWindow()->sheetRunning());
    EXPECT_EQ(sheet->websiteType(), 4);
    sheet->cancelButtonClicked();
}

// The batch button's pop-up offers the three tools; choosing resize opens its sheet on the
// selected favourites (all of them when none is selected).
TEST_F(FavoriteMode, BatchPopUpOpensTheToolOnTheSelection)
{
    controller->setShowMode(MainShowModeFavorite);
    settle();
    auto* connected = dynamic_cast<MainWndFavoriteController*>(favorites());
    ASSERT_TRUE(connected);
    const LMPathString file(QDir(folder).filePath(QStringLiteral("f1.png")), false);
    favorites()->addFovoriteFile(file, nullptr, QImage());
    if (connected->host().introTips() && connected->host().introTips()->showStatus())
        connected->host().introTips()->closeButtonClicked();
    settle();

    connected->host().showPopMenu(0, kpv::Point{100, 100}, false);
    BatchPopViewController* popup = connected->host().batchPopViewController();
    ASSERT_TRUE(popup);
    EXPECT_EQ(popup->itemTypes(), QList<int>({BatchItemRename, BatchItemResize, BatchItemConvert}));
    ASSERT_TRUE(popup->popMenuView() && popup->popMenuView()->delegate());
    EXPECT_TRUE(popup->popMenuView()->delegate()->popMenuViewItemEnabled(popup->popMenuView(), BatchItemResize, {}));
    popup->popMenuView()->delegate()->popMenuViewItemClicked(popup->popMenuView(), BatchItemResize, {});
    settle();
    auto* sheet = dynamic_cast<BatchResizeWindowController*>(MainWndEditSheets::activeBatchSheet());
    ASSERT_TRUE(sheet);
    ASSERT_EQ(sheet->srcFileInfos().size(), 1);
    EXPECT_EQ(sheet->srcFileInfos().front()->filePath(), file);
    sheet->closeWindow();
    settle();
    EXPECT_FALSE(MainWndEditSheets::activeBatchSheet());
}

}  // namespace
