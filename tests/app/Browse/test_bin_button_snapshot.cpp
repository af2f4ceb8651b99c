// The favourites bin button's face arithmetic and the fly-in snapshot's drawing rectangle.
#include "browse_support.h"

#include "Browse/FavBinButton.h"
#include "Browse/FavFileSnapshotView.h"

#include <QImage>
#include <gtest/gtest.h>

namespace {

TEST(FavBinButton, CountTitleAndBadgeFont)
{
    FavBinButton button(kpv::Rect(0, 0, 60, 50));
    button.setPhotoCount(0);
    EXPECT_TRUE(button.title().isEmpty());
    button.setPhotoCount(7);
    EXPECT_EQ(button.title(), QStringLiteral("7"));
    EXPECT_EQ(FavBinButton::fontSizeReduction(1), 0);
    EXPECT_EQ(FavBinButton::fontSizeReduction(2), 3);
    EXPECT_EQ(FavBinButton::fontSizeReduction(3), 7);
    EXPECT_EQ(FavBinButton::badgeTextOffset(3), (kpv::Point{-1, 3}));
    // Drawing with and without a thumbnail must not fail.
    QImage thumb(40, 20, QImage::Format_RGB32);
    thumb.fill(Qt::red);
    button.setThumb(thumb, 90);
    EXPECT_FALSE(button.renderToImage().isNull());
    button.setThumb(QImage(), 0);
    EXPECT_FALSE(button.renderToImage().isNull());
}

TEST(FavBinButton, TurnedThumbnailFillsTheFrameWithoutDistortion)
{
    const kpv::Rect frame(0, 0, 40, 30);
    // A 40 x 20 picture turned by 90 degrees is 20 wide and 40 tall: it fills 40 wide, 80 tall.
    const kpv::Rect turned = FavBinButton::thumbDestRect({40, 20}, 90, frame);
    EXPECT_EQ(turned.size, (kpv::Size{40, 80}));
    const kpv::Rect upright = FavBinButton::thumbDestRect({40, 20}, 0, frame);
    EXPECT_EQ(upright.size, (kpv::Size{60, 30}));
    EXPECT_DOUBLE_EQ(upright.midX(), frame.midX());
    EXPECT_EQ(FavBinButton::thumbDestRect({0, 20}, 0, frame), kpv::Rect());
}

TEST(FavBinButton, RollOverOnlyWhileEnabled)
{
    FavBinButton button(kpv::Rect(0, 0, 60, 50));
    auto e = kpv::Event::mouseEvent(kpv::MouseEntered, {1, 1}, nullptr);
    button.setEnabled(false);
    button.mouseEntered(*e);
    EXPECT_FALSE(button.isMouseIn());
    button.setEnabled(true);
    button.mouseEntered(*e);
    EXPECT_TRUE(button.isMouseIn());
}

TEST(FavFileSnapshotView, VisibleRectResetsOnANewPictureOrAngle)
{
    FavFileSnapshotView view(kpv::Rect(0, 0, 100, 80));
    QImage img(10, 10, QImage::Format_RGB32);
    img.fill(Qt::blue);
    view.setImage(img, 0);
    EXPECT_EQ(view.targetRect(), view.bounds());
    view.zoomImageToRect(kpv::Rect(10, 10, 20, 20));
    EXPECT_EQ(view.targetRect(), kpv::Rect(10, 10, 20, 20));
    view.setImage(img, 0);
    EXPECT_EQ(view.targetRect(), kpv::Rect(10, 10, 20, 20)) << "the same picture and angle change nothing";
    view.setImage(img, 90);
    EXPECT_EQ(view.targetRect(), view.bounds());
    EXPECT_FALSE(view.renderToImage().isNull());
}

} // namespace
