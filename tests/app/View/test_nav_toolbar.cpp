// The view-mode toolbar: enabled states per file and mode, the zoom slider both ways, showing and
// hiding by the pointer on the manual clock, the pop menus and the photo-bin counts.
#include "Kit/LMButton.h"
#include "Model/LMPhotoLibrary.h"
#include "Kit/LMThumbZoomSlider.h"
#include "View/NavToolbarController.h"
#include "appkit/View.h"
#include "foundation/Clock.h"
#include "foundation/NotificationCenter.h"
#include "foundation/RunLoop.h"

#include <QApplication>
#include <gtest/gtest.h>

#include <set>
#include <vector>

namespace {

class OffscreenApp : public testing::Environment {
public:
    void SetUp() override
    {
        if (!QCoreApplication::instance()) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
            static int argc = 1;
            static char name[] = "test_nav_toolbar";
            static char *argv[] = {name, nullptr};
            m_app = new QApplication(argc, argv);
        }
    }
    void TearDown() override { delete m_app; }

private:
    QApplication *m_app = nullptr;
};
[[maybe_unused]] auto *const g_env = testing::AddGlobalTestEnvironment(new OffscreenApp);

class Host : public NavToolbarHost {
public:
    double scale = 1, minScale = 0.25, maxScale = 4;
    std::vector<double> setScales;
    bool fitin = true;
    int fileState = 1;
    std::set<int> actions;
    QString filePath = QStringLiteral("/photos/a.jpg");
    int64_t mode = 4;
    kpv::Point mouse{-1000, -1000};
    bool binVisible = true;
    int64_t shareType = 1;
    bool loveShowed = false;
    std::set<QString> existing;
    double screenWidth = 1000;
    qsizetype favorites = 0;
    std::set<QString> favoritePaths;
    double binItemWidth = 0;
    bool sandboxTips = false, loveTips = false;
    std::vector<std::pair<int, bool>> popShown; // (type, delay)
    std::vector<int> popHidden;
    std::vector<int> rotated;
    std::vector<int64_t> shared;
    bool shareResult = true;
    std::vector<bool> autoNav;
    int endAutoNavCalls = 0;
    std::vector<bool> registered;
    bool favBinEnabled = true;
    qsizetype favBinCount = -1;

    double curScale() const override { return scale; }
    double curMinScale() const override { return minScale; }
    double curMaxScale() const override { return maxScale; }
    void setScale(double s) override { setScales.push_back(s); }
    bool fitinMode() const override { return fitin; }
    int curFileState() const override { return fileState; }
    bool canDoAction(int id) const override { return actions.count(id) > 0; }
    QString curFilePath() const override { return filePath; }
    void beginAutoNav(bool next) override { autoNav.push_back(next); }
    void endAutoNav() override { ++endAutoNavCalls; }
    double badPictureHeight = 0;
    double badFilePictureHeight() const override { return badPictureHeight; }
    double badFileReasonRoom() const override { return 0; }
    bool doShareForType(int64_t t) override
    {
        shared.push_back(t);
        return shareResult;
    }
    void rotateCurFile(int t) override { rotated.push_back(t); }
    int64_t showMode() const override { return mode; }
    void registEquivalentResponder(NavToolbarController *, bool r) override { registered.push_back(r); }
    kpv::Point mouseLocationInWindow() const override { return mouse; }
    bool photoBinVisible() const override { return binVisible; }
    void setPhotoBinVisible(bool v) override { binVisible = v; }
    int64_t curShareType() const override { return shareType; }
    bool loveTipsAlreadyShowed() const override { return loveShowed; }
    void setLoveTipsAlreadyShowed(bool v) override { loveShowed = v; }
    bool fileExists(const QString &p) const override { return existing.count(p) > 0; }
    double mainScreenWidth() const override { return screenWidth; }
    qsizetype favoriteFileCount() const override { return favorites; }
    bool isFavoriteFile(const QString &p) const override { return favoritePaths.count(p) > 0; }
    void setFavoriteBinPhotoCount(qsizetype n) override { favBinCount = n; }
    void setFavoriteBinEnabled(bool e) override { favBinEnabled = e; }
    double photoBinItemWidth() const override { return binItemWidth; }
    void showPopMenu(int type, kpv::Point, bool delay) override { popShown.emplace_back(type, delay); }
    void hidePopMenu(int type, bool) override { popHidden.push_back(type); }
    int mainActionTypeForShareType(int64_t t) const override { return t == 33 ? 26 : 0; }
    void showSandboxAccessTipsView() override { sandboxTips = true; }
    void hideSandboxAccessTipsView() override { sandboxTips = false; }
    bool sandboxAccessTipsShowing() const override { return sandboxTips; }
    void showLoveIntroTipsView() override { loveTips = true; }
    void hideLoveIntroTipsView() override { loveTips = false; }
    bool loveIntroTipsShowing() const override { return loveTips; }

    // Not recorded.
    void switchToFitin() override {}
    void switchToOriginal() override {}
    void switchToMaxScale() override {}
    void switchToThumbView() override {}
    void showPropertiesWindow() override {}
    void playSlideshow() override {}
    void cropCurFile() override {}
    void deleteCurFile() override {}
    void favorCurFile() override {}
    void switchToMyFavorites() override {}
    void showFileInfo(bool) override {}
    void hideFileInfo(bool) override {}
    void playButtonMoved() override {}
    void setShowMode(int64_t) override {}
    bool doOpenFolder(const QString &, bool) override { return false; }
    void playFavoritesSlideshow() override {}
    QString localizedString(const QString &key) const override { return key; }
    QImage lastFavoriteThumb(int *) const override { return {}; }
    void setFavoriteBinThumb(const QImage &, int) override {}
    void setFavoriteBinToolTip(const QString &) override {}
    void showPhotoBinView(bool) override {}
    qsizetype photoBinWholeVisibleItemCountOfCurPage() const override { return 0; }
    void resetPhotoBinFiles() override {}
};

class NavToolbarTest : public testing::Test {
protected:
    kpv::ManualClock clock;
    Host host;
    kpv::View root{kpv::Rect(0, 0, 800, 600)};
    NavToolbarOutlets o;
    std::unique_ptr<NavToolbarController> tb;
    int glView = 0;

    template <class T> T *add(kpv::View *parent, kpv::Rect r)
    {
        auto *v = new T(r);
        parent->addSubview(v);
        return v;
    }

    void SetUp() override
    {
        kpv::RunLoop::main().setClock(&clock);
        o.openGLView = &glView;
        // The photo bin's area (container) runs from y 0 to 150; the strip is its lowest 40 points.
        o.viewNavToolbarContainer = add<kpv::View>(&root, kpv::Rect(0, 0, 800, 150));
        o.viewNavToolbarContainer->setHidden(true);
        o.viewNavToolbar = add<kpv::View>(o.viewNavToolbarContainer, kpv::Rect(0, 0, 800, 40));
        o.viewHitTestNavToolbar = add<kpv::View>(&root, kpv::Rect(0, 0, 800, 20));
        o.viewFavoriteBin = add<kpv::View>(&root, kpv::Rect(700, 0, 100, 40));
        o.viewFavoriteBin->setHidden(true);
        o.viewSandboxAccessTipsContainer = add<kpv::View>(&root, kpv::Rect(0, 500, 800, 100));
        kpv::View *strip = o.viewNavToolbar;
        double x = 0;
        auto button = [&] { auto *b = add<LMButton>(strip, kpv::Rect(x, 5, 30, 30)); x += 32; return b; };
        o.btnThumbView = button();
        o.btnPhotoBin = button();
        o.btnInfo = button();
        o.btnZoomToMinScale = button();
        o.thumbZoomSlider = add<LMThumbZoomSlider>(strip, kpv::Rect(x, 5, 100, 30));
        x += 102;
        o.btnZoomToMaxScale = button();
        o.btnFitIn = button();
        o.btnPrev = button();
        o.btnPlay = add<LMButton>(&root, kpv::Rect(380, 200, 40, 40));
        o.btnPlay->setHidden(true);
        o.btnNext = button();
        o.btnCrop = button();
        o.btnDelete = button();
        o.btnShare = button();
        o.btnShareMore = button();
        o.btnEditMore = button();
        o.btnFavorite = button();
        tb = std::make_unique<NavToolbarController>(&host, o);
        tb->awakeFromNib();
    }
    void TearDown() override
    {
        tb.reset();
        clock.advance(0);
        kpv::RunLoop::main().setClock(nullptr);
    }
    void run(double seconds)
    {
        const int steps = int(seconds * 60 + 0.5);
        for (int i = 0; i < steps; ++i)
            clock.advance(1.0 / 60);
    }
    bool containerShown() const { return !o.viewNavToolbarContainer->isHidden(); }
};

TEST_F(NavToolbarTest, ButtonsAreSkinnedAndTheFavouritesBinStartsDisabled)
{
    EXPECT_EQ(o.btnPhotoBin->imageName(), "E_THUMBBIN");
    EXPECT_TRUE(o.btnPhotoBin->careState());
    EXPECT_FALSE(o.btnThumbView->careState());
    EXPECT_EQ(o.btnShare->imageName(), "E_FACEBOOK");
    EXPECT_EQ(o.thumbZoomSlider->minValue(), 0);
    EXPECT_EQ(o.thumbZoomSlider->maxValue(), 100);
    EXPECT_FALSE(host.favBinEnabled);
    // The bin is visible by the settings, so its button is off.
    EXPECT_EQ(o.btnPhotoBin->state(), kpv::OffState);
    run(0.1); // the deferred redraw of the buttons must not disturb anything
    EXPECT_FALSE(o.btnThumbView->isHidden());
}

TEST_F(NavToolbarTest, ZoomSliderFollowsTheScaleOnALogAxisAndBack)
{
    host.scale = 1; // halfway between 1/4 and 4 in powers of two
    tb->updateUI(NavToolbarController::UpdateScale);
    EXPECT_NEAR(o.thumbZoomSlider->doubleValue(), 50, 1e-9);
    host.scale = 100;
    tb->updateZoomSlider();
    EXPECT_NEAR(o.thumbZoomSlider->doubleValue(), 100, 1e-9);
    host.scale = 0.01;
    tb->updateZoomSlider();
    EXPECT_NEAR(o.thumbZoomSlider->doubleValue(), 0, 1e-9);

    o.thumbZoomSlider->setDoubleValue(75);
    tb->zoomSliderDidChange();
    ASSERT_EQ(host.setScales.size(), 1u);
    EXPECT_NEAR(host.setScales.back(), 2.0, 1e-9);
    o.thumbZoomSlider->setDoubleValue(0);
    tb->zoomSliderDidChange();
    EXPECT_EQ(host.setScales.back(), 0.25);

    // A round trip lands on the same scale.
    host.scale = 1.7;
    tb->updateZoomSlider();
    tb->zoomSliderDidChange();
    EXPECT_NEAR(host.setScales.back(), 1.7, 1e-9);
}

TEST_F(NavToolbarTest, ZoomSliderIgnoresAnUnknownOrEmptyScaleRange)
{
    o.thumbZoomSlider->setDoubleValue(30);
    for (auto [lo, hi] : {std::pair{0.0, 4.0}, std::pair{2.0, 2.0}, std::pair{4.0, 1.0}}) {
        host.minScale = lo;
        host.maxScale = hi;
        host.scale = 3;
        tb->updateZoomSlider();
        EXPECT_EQ(o.thumbZoomSlider->doubleValue(), 30) << lo << " " << hi;
    }
    host.minScale = 0;
    host.maxScale = 4;
    tb->zoomSliderDidChange();
    EXPECT_TRUE(host.setScales.empty());
}

TEST_F(NavToolbarTest, EnabledStatesFollowTheFileStateAndActions)
{
    host.actions = {8, 9, 11, 32, 40};
    host.fitin = false;
    tb->updateUI(NavToolbarController::UpdateAll);
    EXPECT_TRUE(o.btnCrop->isEnabled());
    EXPECT_TRUE(o.btnShareMore->isEnabled());
    EXPECT_TRUE(o.btnFavorite->isEnabled());
    EXPECT_TRUE(o.btnShare->isEnabled());
    EXPECT_TRUE(o.btnZoomToMaxScale->isEnabled());
    EXPECT_FALSE(o.btnZoomToMinScale->isEnabled());
    EXPECT_TRUE(o.btnFitIn->isEnabled());
    EXPECT_EQ(o.btnFitIn->state(), kpv::OnState);
    EXPECT_TRUE(o.thumbZoomSlider->isEnabled());
    EXPECT_TRUE(o.btnDelete->isEnabled());
    EXPECT_TRUE(o.btnPrev->isEnabled());
    EXPECT_FALSE(o.btnNext->isEnabled());

    // A failed load disables what needs the image; the file-list buttons are not touched by a
    // current-file change.
    host.fileState = 2;
    host.actions = {};
    tb->updateUI(NavToolbarController::UpdateCurFile);
    EXPECT_FALSE(o.btnCrop->isEnabled());
    EXPECT_FALSE(o.btnShare->isEnabled());
    EXPECT_FALSE(o.btnFitIn->isEnabled());
    EXPECT_FALSE(o.thumbZoomSlider->isEnabled());
    EXPECT_FALSE(o.btnDelete->isEnabled());
    EXPECT_TRUE(o.btnPrev->isEnabled());

    // Nothing loaded yet: the image buttons keep their states.
    host.fileState = 0;
    host.actions = {9};
    tb->updateUI(NavToolbarController::UpdateCurFile);
    EXPECT_FALSE(o.btnCrop->isEnabled());
}

TEST_F(NavToolbarTest, ShareButtonForThePhotoLibraryNeedsTheApplication)
{
    host.shareType = 34;
    tb->updateShareButtonUI(34);
    EXPECT_EQ(o.btnShare->imageName(), "e_iphoto");
    EXPECT_FALSE(o.btnShare->isEnabled());
    host.existing.insert(LMPhotoLibrary::applicationPath());
    tb->updateShareButtonUI(34);
    EXPECT_TRUE(o.btnShare->isEnabled());
    host.shareType = 33;
    tb->updateShareButtonUI(33);
    EXPECT_EQ(o.btnShare->imageName(), "e_email");
}

TEST_F(NavToolbarTest, FavouritesStateAndTheIntroTipKeepsTheFavouriteButtonEnabled)
{
    host.favorites = 3;
    host.favoritePaths.insert(host.filePath);
    host.actions = {13};
    tb->updateUI(NavToolbarController::UpdateFavorites);
    EXPECT_EQ(host.favBinCount, 3);
    EXPECT_TRUE(host.favBinEnabled);
    EXPECT_EQ(o.btnFavorite->state(), kpv::OnState);

    host.loveTips = true;
    tb->updateUI(NavToolbarController::UpdateCurFile);
    EXPECT_TRUE(o.btnFavorite->isEnabled());
    host.loveTips = false;
    tb->updateUI(NavToolbarController::UpdateCurFile);
    EXPECT_FALSE(o.btnFavorite->isEnabled());
}

TEST_F(NavToolbarTest, PointerShowsTheToolbarAndLeavingFadesItAfterTheInterval)
{
    tb->performMouseMovedEquivalent({100, 10});
    run(1);
    EXPECT_TRUE(containerShown());
    EXPECT_TRUE(tb->navToolbarContainerFadeShowProxy()->curAlphaValue() > 0.99);

    tb->performMouseMovedEquivalent({100, 400});
    run(1);
    EXPECT_TRUE(containerShown()) << "hides only after the auto-hide interval";
    run(4);
    EXPECT_FALSE(containerShown());
}

TEST_F(NavToolbarTest, HiddenPhotoBinAreaDoesNotKeepTheToolbarUp)
{
    // Make the container visible so that only the settings decide.
    tb->updateToolbarShowStatus(true, false);
    run(1);
    bool autoHide = false;
    EXPECT_TRUE(tb->shouldShowToolbarByLocationInWindow({100, 100}, &autoHide));
    host.binVisible = false;
    EXPECT_FALSE(tb->shouldShowToolbarByLocationInWindow({100, 100}, &autoHide));
    EXPECT_TRUE(autoHide);
    // The hit-test strip counts even while the container is hidden.
    tb->hideToolbarWithDelay(false);
    run(1);
    EXPECT_TRUE(tb->shouldShowToolbarByLocationInWindow({100, 10}, &autoHide));
    EXPECT_FALSE(autoHide);
}

TEST_F(NavToolbarTest, PopMenusAndTipsKeepTheToolbarUp)
{
    tb->popMenuViewShowed(NavToolbarController::PopMenuShare, true);
    EXPECT_EQ(o.btnShare->state(), kpv::OnState);
    EXPECT_EQ(o.btnShareMore->state(), kpv::OnState);
    bool autoHide = true;
    EXPECT_TRUE(tb->shouldShowToolbarByLocationInWindow({100, 400}, &autoHide));
    EXPECT_FALSE(autoHide);
    tb->popMenuViewShowed(NavToolbarController::PopMenuShare, false);
    EXPECT_EQ(o.btnShare->state(), kpv::OffState);
    EXPECT_FALSE(tb->shouldShowToolbarByLocationInWindow({100, 400}, &autoHide));
    host.sandboxTips = true;
    EXPECT_TRUE(tb->shouldShowToolbarByLocationInWindow({100, 400}, &autoHide));
}

TEST_F(NavToolbarTest, FavouritesBinFollowsTheToolbarOrStaysDimmed)
{
    tb->updateToolbarShowStatus(true, false);
    run(1);
    EXPECT_FALSE(o.viewFavoriteBin->isHidden());
    tb->hideToolbarWithDelay(false);
    run(1);
    EXPECT_TRUE(o.viewFavoriteBin->isHidden());

    host.favorites = 2;
    tb->updateToolbarShowStatus(true, false);
    run(1);
    EXPECT_NEAR(tb->favoriteBinFadeShowProxy()->curAlphaValue(), 1.0, 1e-6);
    tb->hideToolbarWithDelay(false);
    run(1);
    EXPECT_FALSE(o.viewFavoriteBin->isHidden());
    EXPECT_NEAR(tb->favoriteBinFadeShowProxy()->curAlphaValue(), 0.5, 1e-6);
}

TEST_F(NavToolbarTest, PopMenusOpenOnHoverAndNotUnderTheIntroTip)
{
    tb->buttonMouseEntered(o.btnEditMore);
    ASSERT_EQ(host.popShown.size(), 1u);
    EXPECT_EQ(host.popShown[0], std::make_pair(0, true));
    tb->buttonMouseExited(o.btnShareMore);
    EXPECT_EQ(host.popHidden, std::vector<int>{1});
    tb->shareMoreButtonClicked();
    EXPECT_EQ(host.popShown.back(), std::make_pair(1, false));

    host.loveTips = true;
    tb->buttonMouseEntered(o.btnShare);
    EXPECT_EQ(host.popShown.size(), 2u);
    host.loveTips = false;
    host.mode = 8;
    tb->buttonMouseEntered(o.btnShare);
    EXPECT_EQ(host.popShown.size(), 2u);
    tb->buttonMouseEntered(o.btnInfo);
    EXPECT_EQ(host.popShown.size(), 2u);
}

TEST_F(NavToolbarTest, PopMenuItemsMapToActionsAndCommands)
{
    host.actions = {14, 17, 26};
    EXPECT_TRUE(tb->popMenuViewItemEnabled(0, 1));
    EXPECT_FALSE(tb->popMenuViewItemEnabled(0, 2));
    EXPECT_TRUE(tb->popMenuViewItemEnabled(0, 4));
    EXPECT_FALSE(tb->popMenuViewItemEnabled(0, 5));
    EXPECT_TRUE(tb->popMenuViewItemEnabled(1, 33));
    EXPECT_FALSE(tb->popMenuViewItemEnabled(1, 1));
    EXPECT_FALSE(tb->popMenuViewItemEnabled(2, 1));

    tb->popMenuViewItemClicked(0, 3);
    tb->popMenuViewItemClicked(0, 9);
    EXPECT_EQ(host.rotated, std::vector<int>{3});
    host.shareResult = false;
    tb->popMenuViewItemClicked(1, 2);
    EXPECT_EQ(host.shared, std::vector<int64_t>{2});
}

TEST_F(NavToolbarTest, ArrowButtonsDriveAutoNavigation)
{
    tb->buttonMouseDown(o.btnNext);
    tb->buttonMouseDown(o.btnPrev);
    tb->buttonMouseDown(o.btnCrop);
    tb->buttonMouseUp(o.btnNext);
    EXPECT_EQ(host.autoNav, (std::vector<bool>{true, false}));
    EXPECT_EQ(host.endAutoNavCalls, 1);
}

TEST_F(NavToolbarTest, PhotoBinCountIsCachedOnlyOnceTheItemWidthIsKnown)
{
    EXPECT_EQ(tb->photoBinMaxVisibleItemCount(), 40u);
    EXPECT_EQ(tb->photoBinMaxVisibleItemCount(), 40u);
    host.binItemWidth = 90;
    EXPECT_EQ(tb->photoBinMaxVisibleItemCount(), 13u); // floor(1000 / 90) + 2
    host.binItemWidth = 10;
    EXPECT_EQ(tb->photoBinMaxVisibleItemCount(), 13u);

    tb->switchPhotoBin();
    EXPECT_FALSE(host.binVisible);
    EXPECT_EQ(o.btnPhotoBin->state(), kpv::OnState);
    host.sandboxTips = true;
    tb->switchPhotoBin();
    tb->switchPhotoBin();
    EXPECT_TRUE(host.binVisible) << "the sandbox tip keeps the bin shown";
}

TEST_F(NavToolbarTest, IntroTipShowsOnceOnFirstEntryIntoTheViewMode)
{
    kpv::NotificationCenter::defaultCenter().postNotification(QStringLiteral("didChangeMainShowMode"), nullptr,
                                                              {{"new", 4}, {"old", 2}});
    EXPECT_TRUE(host.loveTips);
    EXPECT_TRUE(host.loveShowed);
    EXPECT_EQ(host.registered.back(), true);
    EXPECT_FALSE(o.viewHitTestNavToolbar->isHidden());
    tb->closeClickedOnLoveIntroTips();
    EXPECT_FALSE(host.loveTips);

    tb->didChangeMainShowMode(8, 4);
    EXPECT_EQ(host.registered.back(), false);
    EXPECT_TRUE(o.viewHitTestNavToolbar->isHidden());
    EXPECT_TRUE(o.btnFavorite->isHidden());
    tb->didChangeMainShowMode(4, 8);
    EXPECT_FALSE(o.btnFavorite->isHidden());
    tb->didChangeMainShowMode(4, 128);
    EXPECT_FALSE(host.loveTips) << "shown once per settings store";
}

TEST_F(NavToolbarTest, ScaleNotificationsOfTheViewMoveTheSlider)
{
    host.scale = 4;
    kpv::NotificationCenter::defaultCenter().postNotification(QStringLiteral("doChangeScale"), &glView);
    EXPECT_NEAR(o.thumbZoomSlider->doubleValue(), 100, 1e-9);
    host.scale = 0.25;
    int other = 0;
    kpv::NotificationCenter::defaultCenter().postNotification(QStringLiteral("doChangeScale"), &other);
    EXPECT_NEAR(o.thumbZoomSlider->doubleValue(), 100, 1e-9) << "another view's scale is not ours";
}

TEST_F(NavToolbarTest, CursorAutoHideAndNotificationsAfterTheControllerIsGone)
{
    tb->updateToolbarShowStatus(true, false);
    run(1);
    ASSERT_TRUE(containerShown());
    kpv::NotificationCenter::defaultCenter().postNotification(QStringLiteral("didAutoHideCursor"));
    run(1);
    EXPECT_FALSE(containerShown()) << "hides with the cursor, without the auto-hide interval";

    // Only the small thumbnail's arrival refreshes the image buttons.
    host.actions = {9};
    kpv::NotificationCenter::defaultCenter().postNotification(QStringLiteral("didCurFileImageUpdated"), nullptr,
                                                              {{"ImageScaleType", 8}});
    ASSERT_TRUE(o.btnCrop->isEnabled());
    const bool before = o.btnCrop->isEnabled();
    host.actions = {};
    kpv::NotificationCenter::defaultCenter().postNotification(QStringLiteral("didCurFileImageUpdated"), nullptr,
                                                              {{"ImageScaleType", 2}});
    EXPECT_EQ(o.btnCrop->isEnabled(), before);
    kpv::NotificationCenter::defaultCenter().postNotification(QStringLiteral("didCurFileImageUpdated"), nullptr,
                                                              {{"ImageScaleType", 8}});
    EXPECT_FALSE(o.btnCrop->isEnabled());

    // A controller that is gone neither hears notifications nor runs its deferred work.
    tb = std::make_unique<NavToolbarController>(&host, o);
    tb->awakeFromNib();
    tb.reset();
    kpv::NotificationCenter::defaultCenter().postNotification(QStringLiteral("didChangeCurFile"));
    kpv::NotificationCenter::defaultCenter().postNotification(QStringLiteral("didChangeMainShowMode"), nullptr,
                                                              {{"new", 4}, {"old", 0}});
    run(0.1);
    EXPECT_TRUE(host.registered.empty());
}

TEST_F(NavToolbarTest, SandboxTipOpensTheCurrentFilesFolder)
{
    struct OpenHost : Host {
        QString opened;
        bool doOpenFolder(const QString &folder, bool fromTips) override
        {
            opened = folder;
            return fromTips;
        }
    };
    OpenHost h;
    NavToolbarController c(&h, o);
    h.filePath = QStringLiteral("/photos/trip/a.jpg");
    EXPECT_TRUE(c.okWasClickedForSandboxAccessTips());
    EXPECT_EQ(h.opened, "/photos/trip");
    h.filePath = QStringLiteral("/a.jpg");
    EXPECT_TRUE(c.okWasClickedForSandboxAccessTips());
    EXPECT_EQ(h.opened, "/");
    h.filePath.clear();
    h.opened.clear();
    EXPECT_FALSE(c.okWasClickedForSandboxAccessTips());
    EXPECT_TRUE(h.opened.isEmpty());

    c.showSandboxAccessTips();
    EXPECT_TRUE(h.sandboxTips);
    EXPECT_TRUE(h.binVisible);
    c.hideSandboxAccessTips(false);
    EXPECT_FALSE(h.sandboxTips);
}

TEST_F(NavToolbarTest, ButtonActionsReachTheirCommands)
{
    struct CmdHost : Host {
        std::vector<std::string> calls;
        void switchToFitin() override { calls.push_back("fitin"); }
        void switchToOriginal() override { calls.push_back("original"); }
        void deleteCurFile() override { calls.push_back("delete"); }
        void playSlideshow() override { calls.push_back("play"); }
        void playFavoritesSlideshow() override { calls.push_back("playFav"); }
        void switchToMyFavorites() override { calls.push_back("fav"); }
        void setShowMode(int64_t m) override { calls.push_back("mode" + std::to_string(m)); }
    };
    CmdHost h;
    tb.reset();
    tb = std::make_unique<NavToolbarController>(&h, o);
    tb->awakeFromNib();
    o.btnFitIn->action()(o.btnFitIn);
    h.fitin = false;
    o.btnFitIn->action()(o.btnFitIn);
    o.btnDelete->action()(o.btnDelete);
    o.btnPlay->action()(o.btnPlay);
    tb->switchFavoriteView();
    h.mode = 8;
    o.btnPlay->action()(o.btnPlay);
    tb->switchFavoriteView();
    h.mode = 64;
    o.btnPlay->action()(o.btnPlay);
    EXPECT_EQ(h.calls, (std::vector<std::string>{"original", "fitin", "delete", "play", "fav", "playFav", "mode4"}));

    o.thumbZoomSlider->setDoubleValue(100);
    o.thumbZoomSlider->action()(o.thumbZoomSlider);
    ASSERT_EQ(h.setScales.size(), 1u);
    EXPECT_NEAR(h.setScales[0], 4.0, 1e-9);
    tb.reset();
}

} // namespace

TEST_F(NavToolbarTest, PlayButtonStepsOffTheMessageOfAFileThatCannotBeShown)
{
    // The status line's one-line message is centred on the picture: 300 in this 600-point view.
    const auto clearOfMessage = [&] {
        const kpv::Rect f = o.btnPlay->frame();
        return f.y() + f.height() <= 300 - 20 || f.y() >= 300 + 20;
    };
    o.btnPlay->setFrame(kpv::Rect(380, 280, 40, 40));
    host.fileState = 2;
    tb->updateUI(NavToolbarController::UpdateCurFile);
    EXPECT_TRUE(clearOfMessage());
    EXPECT_EQ(o.btnPlay->frame().x(), 380);
    EXPECT_LT(o.btnPlay->frame().y(), 300); // below the centre, the origin being at the bottom

    // A picture to play: the button is centred on it again.
    host.fileState = 1;
    tb->updateUI(NavToolbarController::UpdateSmallThumb);
    EXPECT_EQ(o.btnPlay->frame(), kpv::Rect(380, 280, 40, 40));

    // The broken-file picture, 160 points high around the centre, ends at 220: the button stands
    // wholly below it, and no further than a gap.
    host.badPictureHeight = 160;
    host.fileState = 2;
    tb->updateUI(NavToolbarController::UpdateCurFile);
    EXPECT_TRUE(clearOfMessage());
    EXPECT_LE(o.btnPlay->frame().y() + o.btnPlay->frame().height(), 300 - 80);
    EXPECT_GE(o.btnPlay->frame().y() + o.btnPlay->frame().height(), 300 - 80 - 16);
    host.badPictureHeight = 0;
    host.fileState = 1;
    tb->updateUI(NavToolbarController::UpdateSmallThumb);

    // The favourites keep it centred whatever the viewer's file was.
    host.fileState = 2;
    tb->updateUI(NavToolbarController::UpdateCurFile);
    host.mode = 8;
    tb->didChangeMainShowMode(8, 4);
    EXPECT_EQ(o.btnPlay->frame(), kpv::Rect(380, 280, 40, 40));
    tb->updateUI(NavToolbarController::UpdateCurFile);
    EXPECT_EQ(o.btnPlay->frame(), kpv::Rect(380, 280, 40, 40));
}
