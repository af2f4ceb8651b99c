// The Navigation panel's arithmetic: thumbnail placement, the view-to-thumbnail map, the panel
// size for the image's aspect, the visible frame and panning by the frame, and the thumbnail shown
// as the main view shows the photo.
#include "Shell/Panels/NavigateWindowGeometry.h"

#include "Shell/Panels/FloatingPanelWindow.h"
#include "Shell/Panels/LM3DRotateImageView.h"
#include "Shell/Panels/NavigateWindowController.h"

#include "Model/LMFileImgBaseInfo.h"
#include "Model/LMImage.h"

#include <gtest/gtest.h>

namespace {

using G = NavigateWindowGeometry;

TEST(NavigateWindowGeometry, ImageFitsCentredInThumbnail)
{
    const QRectF wide = G::imageViewRectInImageView(QRectF(-500, 0, 2000, 1000), QRectF(0, 0, 120, 120));
    EXPECT_EQ(wide, QRectF(0, 30, 120, 60));
    const QRectF small = G::imageViewRectInImageView(QRectF(0, 0, 10, 20), QRectF(0, 0, 120, 120));
    EXPECT_EQ(small, QRectF(30, 0, 60, 120)); // enlarging allowed
    EXPECT_EQ(G::imageViewRectInImageView(QRectF(0, 0, 0, 50), QRectF(0, 0, 120, 120)).size(), QSizeF(0, 0));
}

TEST(NavigateWindowGeometry, WindowSizeFollowsAspectWithinLimits)
{
    const QSizeF window(140, 170), thumb(120, 120);
    EXPECT_EQ(G::calcNavigateWindowSizeByCurFile(window, thumb, QRectF(0, 0, 4000, 500)), QSizeF(140, 130)); // panorama: 80
    EXPECT_EQ(G::calcNavigateWindowSizeByCurFile(window, thumb, QRectF(0, 0, 500, 4000)), QSizeF(140, 230)); // tall: 180
    EXPECT_EQ(G::calcNavigateWindowSizeByCurFile(window, thumb, QRectF(0, 0, 400, 300)), QSizeF(140, 140));  // 4:3 -> 90
    // No area, even with one side non-zero, never divides by zero.
    EXPECT_EQ(G::calcNavigateWindowSizeByCurFile(window, thumb, QRectF(0, 0, 0, 300)), QSizeF(140, 170));
}

TEST(NavigateWindowGeometry, VisibleFrameAndPanningAreInverse)
{
    const QRectF v(-500, -250, 2000, 1000);  // the whole image in view coordinates
    const QRectF fit(0, 0, 1000, 500);       // the view's fit-in bounds
    const QRectF r = G::imageViewRectInImageView(v, QRectF(0, 0, 120, 120));
    const LMMatrix m = G::matrixFromImageViewRectToTrackRect(v, r);
    const QRectF frame = G::trackRectForVisibleRect(fit, v, m);
    EXPECT_EQ(frame, QRectF(30, 45, 60, 30));
    // The frame unchanged: no pan. Moved right by 6 thumbnail points: the image moves left by
    // 6 x V.width / R.width = 100 view points.
    EXPECT_EQ(G::moveDeltaForTrackRect(frame, fit, v, m), QPointF(0, 0));
    EXPECT_EQ(G::moveDeltaForTrackRect(frame.translated(6, 0), fit, v, m), QPointF(-100, 0));
    // Nothing visible: zero frame.
    EXPECT_EQ(G::trackRectForVisibleRect(fit, QRectF(2000, 2000, 10, 10), m), QRectF());
    // No image: the map is the identity rather than a division by zero.
    EXPECT_EQ(G::matrixFromImageViewRectToTrackRect(QRectF(), r), LMMatrix());
}

}  // namespace

namespace {
// The panel's thumbnail: a quarter turn swaps the picture's aspect inside the bounds; a flip
// keeps it; a null image keeps the picture shown; an unchanged image and angle change nothing.
TEST(NavigateThumbnailView, TurnSwapsTheAspectAndFlipsKeepIt)
{
    LM3DRotateImageView view(kpv::Rect(0, 0, 120, 120));
    view.setImageScaling(3);
    EXPECT_TRUE(view.imageRect().isEmpty());
    auto wide = std::make_shared<kpv::Image>(QImage(200, 100, QImage::Format_RGB32));
    view.setImage(wide, LMImageRotateAngle());
    EXPECT_EQ(view.imageRect(), kpv::Rect(0, 30, 120, 60));
    view.setImage(wide, LMImageRotateAngle(90, 0, 0));
    // The turned size comes from sines and cosines: made integral, it may grow by a point.
    const kpv::Rect turned = view.imageRect();
    EXPECT_NEAR(turned.x(), 30, 1);
    EXPECT_NEAR(turned.width(), 60, 1);
    EXPECT_EQ(turned.height(), 120);
    view.setImage(wide, LMImageRotateAngle(0, 180, 0));
    EXPECT_EQ(view.imageRect(), kpv::Rect(0, 30, 120, 60));
    view.setImage(nullptr, LMImageRotateAngle());
    EXPECT_EQ(view.imageRect(), kpv::Rect(0, 30, 120, 60));
    EXPECT_FALSE(view.renderToImage().isNull());
}
}  // namespace

namespace {
// The panel's thumbnail shows the photo as the main view does, the mirrored orientations (2, 4,
// 5 and 7) included: the corner that holds the stored picture's top-left block, from the meaning
// of each orientation number.
TEST(NavigateThumbnailView, ThumbnailOfEveryOrientationShowsThePhotoAsTheViewDoes)
{
    enum Corner { TopLeft, TopRight, BottomRight, BottomLeft };
    const Corner expected[9] = {TopLeft, TopLeft, TopRight, BottomRight, BottomLeft,
                                TopLeft, TopRight, BottomRight, BottomLeft};
    QImage stored(80, 40, QImage::Format_RGB32);
    stored.fill(Qt::blue);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 20; ++x)
            stored.setPixel(x, y, qRgb(255, 0, 0));
    for (int orientation = 1; orientation <= 8; ++orientation) {
        SCOPED_TRACE(orientation);
        const auto info = std::make_shared<LMFileImgBaseInfo>(LMPathString(QStringLiteral("/p.jpg"), false),
                                                              QStringLiteral("public.jpeg"), 0, QDateTime(),
                                                              QSizeF(80, 40), orientation, QVariantMap());
        double turn = -1;
        const QImage picture = NavigateWindowController::thumbPicture(LMImage(stored, info), &turn);
        LM3DRotateImageView view(kpv::Rect(0, 0, 160, 160));
        view.setImageScaling(3);
        view.setImage(std::make_shared<kpv::Image>(picture), LMImageRotateAngle().angleByIncreaseAngle(turn));
        const QImage shot = view.renderToImage(1.0);
        const kpv::Rect r = view.imageRect();
        ASSERT_FALSE(r.isEmpty());
        // Upright, the photo is portrait for orientations 5 to 8.
        EXPECT_EQ(r.height() > r.width(), orientation >= 5);
        // The picture is centred, so its rectangle reads the same from the top as from the bottom.
        const double left = r.minX() + r.width() / 8, right = r.maxX() - r.width() / 8;
        const double top = 160 - r.maxY() + r.height() / 8, bottom = 160 - r.minY() - r.height() / 8;
        const QPointF corners[4] = {{left, top}, {right, top}, {right, bottom}, {left, bottom}};
        for (int c = 0; c < 4; ++c) {
            const QRgb p = shot.pixel(int(corners[c].x() * shot.width() / 160), int(corners[c].y() * shot.height() / 160));
            EXPECT_EQ(qRed(p) > 128 && qBlue(p) < 128, c == expected[orientation]) << "corner " << c;
        }
    }
}
}  // namespace

namespace {

// A panel left off the screen comes back whole; on a screen smaller than the panel (a 640 x 480
// display, the 680-point Info panel), its title and close button stay in reach at the top left.
TEST(FloatingPanelPlacement, ThePanelsTitleStaysOnAScreenTooSmallForIt)
{
    const kpv::Rect screen(0, 0, 640, 480);
    const kpv::Point off = floatingPanelOrigin({900, -300}, {300, 200}, screen);
    EXPECT_EQ(off.x, 340);
    EXPECT_EQ(off.y, 0);
    const kpv::Point tall = floatingPanelOrigin({100, 50}, {320, 680}, screen);
    EXPECT_EQ(tall.x, 100);
    EXPECT_EQ(tall.y + 680, 480); // the top on the screen's top, the bottom below its edge
    const kpv::Point wide = floatingPanelOrigin({100, 50}, {900, 300}, screen);
    EXPECT_EQ(wide.x, 0);
}

} // namespace
