// The two first-use tips: the settings flag that lets each show once, showing and hiding over
// the parent view, clicks reaching only a delegate, and the layout of the texts.
#include "Shell/Tips/FavoriteIntroTipsViewController.h"
#include "Shell/Tips/LoveIntroTipsViewController.h"

#include "Kit/LMButton.h"
#include "Kit/LMImageView.h"
#include "Model/MainConfig.h"
#include "appkit/Control.h"
#include "appkit/Event.h"
#include "foundation/UserDefaults.h"

#include <QFontMetricsF>
#include <QTemporaryDir>
#include <cmath>
#include <gtest/gtest.h>

namespace {

struct LoveDelegate : LoveIntroTipsViewControllerDelegate {
    int clicks = 0;
    void closeClickedOnLoveIntroTipsViewController(LoveIntroTipsViewController* c) override
    {
        ++clicks;
        c->hideTips();
    }
};

struct FavoriteDelegate : FavoriteIntroTipsViewControllerDelegate {
    int clicks = 0;
    void closeClickedOnFavoriteIntroTipsViewController(FavoriteIntroTipsViewController*) override { ++clicks; }
};

long countOf(const kpv::View& parent, const kpv::View* child)
{
    return std::count(parent.subviews().begin(), parent.subviews().end(), child);
}

TEST(IntroTips, LoveTipShowsOnlyOnTheFirstEntryIntoTheViewModeFromAnEmptyOrMiniWindow)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("settings.conf");
    {
        kpv::UserDefaults defaults(path);
        MainConfig config(defaults);
        // Entering from the favourites, or going anywhere but the view mode, never shows it.
        EXPECT_FALSE(LoveIntroTipsViewController::takeFirstShowingOnModeChange(8, 4, config));
        EXPECT_FALSE(LoveIntroTipsViewController::takeFirstShowingOnModeChange(2, 8, config));
        EXPECT_FALSE(config.loveTipsAlreadyShowed());
        EXPECT_TRUE(LoveIntroTipsViewController::takeFirstShowingOnModeChange(256, 4, config));
        EXPECT_TRUE(config.loveTipsAlreadyShowed());
        EXPECT_FALSE(LoveIntroTipsViewController::takeFirstShowingOnModeChange(2, 4, config));
    }
    // The flag is on disk as soon as the tip is taken: a later run never shows it again.
    kpv::UserDefaults reopened(path);
    MainConfig again(reopened);
    EXPECT_TRUE(again.loveTipsAlreadyShowed());
    EXPECT_FALSE(LoveIntroTipsViewController::takeFirstShowingOnModeChange(0, 4, again));
}

TEST(IntroTips, ShowAndHideAddTheOverlayOnceOverTheWholeParent)
{
    kpv::View parent(kpv::Rect(0, 0, 1000, 700));
    LoveIntroTipsViewController tips;
    tips.setParentView(&parent);
    tips.hideTips(); // hidden already: nothing
    EXPECT_EQ(countOf(parent, tips.view()), 0);

    tips.showTips();
    tips.showTips();
    EXPECT_TRUE(tips.showStatus());
    EXPECT_EQ(countOf(parent, tips.view()), 1);
    EXPECT_EQ(parent.subviews().back(), tips.view()); // on top
    EXPECT_EQ(tips.view()->frame().size.width, 1000);
    EXPECT_EQ(tips.view()->frame().size.height, 700);

    tips.hideTips();
    EXPECT_FALSE(tips.showStatus());
    EXPECT_EQ(countOf(parent, tips.view()), 0);
    EXPECT_EQ(tips.view()->superview(), nullptr);
    tips.showTips(); // and back again
    EXPECT_EQ(countOf(parent, tips.view()), 1);
}

TEST(IntroTips, ClicksAnywhereOnTheOverlayReachTheDelegateAndOnlyIt)
{
    kpv::View parent(kpv::Rect(0, 0, 800, 600));
    const kpv::Event click(kpv::LeftMouseDown);
    {
        // Without a delegate the user cannot close the tip.
        LoveIntroTipsViewController tips;
        tips.setParentView(&parent);
        tips.showTips();
        tips.overlapIntroTipsView()->mouseDown(click);
        tips.closeButtonClicked();
        EXPECT_TRUE(tips.showStatus());
        // Destroyed while shown: the overlay leaves the parent with it.
    }
    EXPECT_TRUE(parent.subviews().empty());

    LoveDelegate love;
    LoveIntroTipsViewController tips;
    tips.setParentView(&parent);
    tips.setDelegate(&love);
    tips.showTips();
    tips.overlapIntroTipsView()->mouseDown(click);
    EXPECT_EQ(love.clicks, 1);
    EXPECT_FALSE(tips.showStatus());

    FavoriteDelegate fav;
    FavoriteIntroTipsViewController exitTips;
    exitTips.setParentView(&parent);
    exitTips.setDelegate(&fav);
    exitTips.showTips();
    exitTips.btnClose()->sendAction();
    exitTips.overlapIntroTipsView()->mouseDown(click);
    EXPECT_EQ(fav.clicks, 2);
    EXPECT_TRUE(exitTips.showStatus()); // the delegate decides when it hides
    exitTips.hideTips();
    EXPECT_TRUE(parent.subviews().empty());
}

TEST(IntroTips, TextsAreFilledAndLaidOutAgainstTheirPointerLines)
{
    LoveIntroTipsViewController tips;
    const kpv::Rect bounds = tips.view()->bounds();
    const kpv::Rect right = tips.txtTipsRight()->frame();
    EXPECT_FALSE(tips.txtTipsLeft()->stringValue().contains("%@"));
    EXPECT_TRUE(tips.txtTipsRight()->stringValue().contains("My Favorites"));
    // The right text ends 10 points from the right edge, whatever its length.
    EXPECT_DOUBLE_EQ(right.maxX(), bounds.maxX() - 10);
    const kpv::Rect rightLine = tips.imageViewRightLine()->frame();
    EXPECT_DOUBLE_EQ(right.y(), rightLine.y() + rightLine.height() + 5);
    // The close button sits 5 points above the right text, 10 from the edge.
    const kpv::Rect close = tips.btnClose()->frame();
    EXPECT_DOUBLE_EQ(close.y(), right.maxY() + 5);
    EXPECT_DOUBLE_EQ(close.maxX(), bounds.maxX() - 10);
    // The left text reaches up past its line's top and hangs two thirds of its width left of it.
    const kpv::Rect left = tips.txtTipsLeft()->frame();
    const kpv::Rect leftLine = tips.imageViewLeftLine()->frame();
    EXPECT_DOUBLE_EQ(left.y(), leftLine.maxY() - 5);
    EXPECT_DOUBLE_EQ(left.x(), leftLine.x() - std::round(2 * left.width() / 3));
    EXPECT_GT(left.width(), 0);

    FavoriteIntroTipsViewController exitTips;
    const kpv::Rect text = exitTips.txtTipsExitFavorite()->frame();
    const kpv::Rect exitClose = exitTips.btnClose()->frame();
    EXPECT_TRUE(exitTips.txtTipsExitFavorite()->stringValue().contains("My Favorites"));
    EXPECT_DOUBLE_EQ(exitClose.maxY(), text.maxY()); // tops line up
    // The leave tip reads as one piece in the corner of the favourites bin, where the overlay's
    // light falls: the line on the right, the text just left of the close box, both in the window.
    const kpv::Rect whole = exitTips.view()->bounds();
    const kpv::Rect exitLine = exitTips.imageViewExitFavorite()->frame();
    EXPECT_GT(exitLine.x(), whole.midX());
    EXPECT_DOUBLE_EQ(text.y(), exitLine.maxY() - 5);
    EXPECT_GT(text.x(), whole.x() + whole.width() / 4);
    EXPECT_LT(text.maxX(), exitClose.x());
    EXPECT_LT(exitClose.x() - text.maxX(), 20);
    EXPECT_LE(exitClose.maxX(), whole.maxX());
}

// Both tips light the favourites bin at the bottom right: the light's middle sits on the bin's
// middle at any window size, whether the tip is shown at that size or the window is resized
// under it, and a target further in than the mask reaches never uncovers part of the window.
TEST(IntroTips, TheLightFallsOnTheFavouritesBinAtEveryWindowSize)
{
    const auto near = [](kpv::Point light, const kpv::View* bin) {
        const kpv::Rect r = bin->frame();
        return std::hypot(light.x - r.midX(), light.y - r.midY()) <= 2.0;
    };
    for (const kpv::Size size : {kpv::Size{800, 600}, kpv::Size{1600, 1000}}) {
        kpv::View content(kpv::Rect(0, 0, size.width, size.height));
        auto* bin = new kpv::View(kpv::Rect(size.width - 64, 58, 56, 36));
        bin->setAutoresizingMask(kpv::ViewMinXMargin | kpv::ViewMaxYMargin);
        content.addSubview(bin);

        LoveIntroTipsViewController love;
        love.setParentView(&content);
        love.showTips();
        love.overlapIntroTipsView()->setSpotlightOn(bin);
        FavoriteIntroTipsViewController leave;
        leave.setParentView(&content);
        leave.showTips();
        leave.overlapIntroTipsView()->setSpotlightOn(bin);
        for (LMOverlapIntroTipsView* overlay : {love.overlapIntroTipsView(), leave.overlapIntroTipsView()}) {
            const kpv::Point light = overlay->spotlightCentre();
            EXPECT_TRUE(near(light, bin)) << size.width << "x" << size.height << ": light at " << light.x << ","
                                          << light.y;
        }

        // The window grows under the shown tips: the bin and the light keep to the corner.
        content.setFrameSize(kpv::Size{size.width + 300, size.height + 200});
        EXPECT_DOUBLE_EQ(bin->frame().maxX(), size.width + 300 - 8);
        for (LMOverlapIntroTipsView* overlay : {love.overlapIntroTipsView(), leave.overlapIntroTipsView()})
            EXPECT_TRUE(near(overlay->spotlightCentre(), bin));
        love.hideTips();
        leave.hideTips();
    }

    // A view in another tree, or one deeper in than half the mask, cannot pull the light off the
    // corner far enough to leave part of the window undimmed.
    kpv::View content(kpv::Rect(0, 0, 800, 600));
    FavoriteIntroTipsViewController leave;
    leave.setParentView(&content);
    leave.showTips();
    LMOverlapIntroTipsView* overlay = leave.overlapIntroTipsView();
    const kpv::Point before = overlay->spotlightCentre();
    kpv::View elsewhere(kpv::Rect(10, 10, 20, 20));
    overlay->setSpotlightOn(&elsewhere);
    EXPECT_EQ(overlay->spotlightCentre(), before);
    overlay->setSpotlightCentre(kpv::Point{100, 500});
    const kpv::Point clamped = overlay->spotlightCentre();
    EXPECT_DOUBLE_EQ(clamped.x, before.x);
    EXPECT_DOUBLE_EQ(clamped.y, before.y);
}

TEST(IntroTips, EveryTextWrapsInsideItsFrameAndTheWindow)
{
    LoveIntroTipsViewController love;
    FavoriteIntroTipsViewController exit;
    const std::pair<const kpv::TextField*, kpv::Rect> fields[] = {
        {love.txtTipsLeft(), love.view()->bounds()},
        {love.txtTipsRight(), love.view()->bounds()},
        {exit.txtTipsExitFavorite(), exit.view()->bounds()},
    };
    for (const auto& [field, bounds] : fields) {
        const std::string text = field->stringValue().toStdString();
        const kpv::Rect frame = field->frame();
        EXPECT_TRUE(field->alignment() & Qt::TextWordWrap) << text;
        EXPECT_GE(frame.x(), bounds.x()) << text << ": starts outside the window";
        EXPECT_LE(frame.maxX(), bounds.maxX()) << text;
        const QRectF needed = QFontMetricsF(field->font().toQFont())
                                  .boundingRect(QRectF(0, 0, frame.width(), 1e6), field->alignment(), field->stringValue());
        EXPECT_LE(needed.height(), frame.height()) << text << ": wrapped lines cut off";
    }
}

} // namespace
