// The views swipe paging draws with: added to the content view over the image view, placed in its
// coordinates, drawing their image at their alpha, and gone with the session. Also the viewer's
// overlays, which share the content view with them.

#include "Shell/ViewChrome/NavigateOverlays.h"
#include "Shell/ViewChrome/NavigatePagingViews.h"

#include "Kit/LMNineSliceImageRep.h"
#include "Kit/NavStatusView.h"
#include "Model/LMFileImgBaseInfo.h"
#include "Model/LMImage.h"
#include "View/LMOpenGLView.h"
#include "appkit/View.h"

#include <QImage>
#include <gtest/gtest.h>

namespace {

TEST(PagingViews, LiveInTheContentViewOverTheImageView)
{
    kpv::View content(kpv::Rect(0, 0, 800, 600));
    auto* imageView = new LMOpenGLView(kpv::Rect(100, 50, 600, 500));
    content.addSubview(imageView);
    NavigatePagingViews factory(&content, imageView);
    EXPECT_EQ(factory.containerBounds(), QRectF(0, 0, 800, 600));
    EXPECT_EQ(factory.convertFromMainView(QRectF(10, 20, 30, 40)), QRectF(110, 70, 30, 40));

    const std::size_t before = content.subviews().size();
    {
        std::unique_ptr<NavPagingView> page = factory.createPagingView();
        EXPECT_TRUE(page->isHidden()) << "made hidden";
        EXPECT_FALSE(page->isInContainer());
        QImage pixels(4, 3, QImage::Format_RGB32);
        pixels.fill(Qt::red);
        const auto image = std::make_shared<LMImage>(pixels, LMFileImgBaseInfoPtr());
        page->setImage(image);
        EXPECT_EQ(page->image(), image);
        page->addToContainer();
        page->addToContainer(); // once only
        EXPECT_TRUE(page->isInContainer());
        EXPECT_EQ(content.subviews().size(), before + 1);
        page->setFrame(QRectF(5, 6, 70, 80));
        EXPECT_EQ(page->frame(), QRectF(5, 6, 70, 80));
        page->setAlpha(0.25);
        EXPECT_DOUBLE_EQ(page->alpha(), 0.25);
        page->setHidden(false);
        EXPECT_FALSE(page->isHidden());
        factory.setMainViewImageNotDraw(true);
        EXPECT_TRUE(imageView->imageNotDraw());
        factory.setMainViewImageNotDraw(false);
        EXPECT_FALSE(imageView->imageNotDraw());
    }
    EXPECT_EQ(content.subviews().size(), before) << "the view leaves with its session";
}

TEST(ViewerOverlays, TheStatusLineLeavesWithTheViewersInformation)
{
    kpv::View content(kpv::Rect(0, 0, 800, 600));
    NavigateOverlays overlays(&content);
    overlays.previewStatusShowProxy().showWithAnimation(false, false);
    // The line stands on its own dark plate, so it reads over a white photo too.
    const NavStatusView* status = nullptr;
    std::vector<const kpv::View*> pending{&content};
    while (!pending.empty() && !status) {
        const kpv::View* v = pending.back();
        pending.pop_back();
        status = dynamic_cast<const NavStatusView*>(v);
        for (const kpv::View* child : v->subviews())
            pending.push_back(child);
    }
    ASSERT_NE(status, nullptr);
    ASSERT_TRUE(status->bkNineSliceImageRep());
    EXPECT_TRUE(status->bkNineSliceImageRep()->nineSliceImage()) << "the status plate's skin image is missing";
    overlays.updateStatusInfo(QStringLiteral("This file cannot be shown."), false, false, 0);
    EXPECT_TRUE(overlays.statusLineVisible());
    // The plate fits in the strip that holds it: none of it is cut off.
    const kpv::Rect strip = status->superview()->bounds();
    EXPECT_GE(status->frame().y(), strip.y());
    EXPECT_LE(status->frame().maxY(), strip.maxY());

    // Another mode (the thumbnail grid) takes the window: no status line over it.
    overlays.setNavInfoContainerHidden(true);
    EXPECT_FALSE(overlays.statusLineVisible());
    overlays.updateStatusInfo(QStringLiteral("Loading..."), true, true, 0);
    EXPECT_FALSE(overlays.statusLineVisible()) << "a load finishing behind the grid stays hidden";

    // Back in the viewer, the line shows what it last said; an empty line stays hidden.
    overlays.setNavInfoContainerHidden(false);
    EXPECT_TRUE(overlays.statusLineVisible());
    EXPECT_EQ(overlays.statusText(), QStringLiteral("Loading..."));
    overlays.updateStatusInfo(QString(), false, false, 0);
    overlays.setNavInfoContainerHidden(true);
    overlays.setNavInfoContainerHidden(false);
    EXPECT_FALSE(overlays.statusLineVisible());
}

} // namespace

// The file line under the photo: a name too long for it is shortened in the middle, keeping its
// start and its extension, beside the properties; a short one is drawn whole.
TEST(ViewerOverlays, ALongNameInTheFileLineKeepsItsStartAndExtension)
{
    kpv::View content(kpv::Rect(0, 0, 800, 600));
    NavigateOverlays overlays(&content);
    const uint64_t mask = NavFileProperty::kFileName | NavFileProperty::kDimensions;
    auto describe = [](const QString& name) {
        return std::make_shared<LMFileImgBaseInfo>(LMPathString(QStringLiteral("/photos/") + name, false),
                                                   QStringLiteral("public.jpeg"), 0, QDateTime(), QSizeF(600, 400), 1,
                                                   QVariantMap(), kpv::FileIdentity());
    };
    const QString longName = QStringLiteral("holiday-") + QString(200, QLatin1Char('x')) + QStringLiteral("-end.jpg");
    overlays.setFileImgBaseInfo(describe(longName), int64_t(mask));
    const QString shown = overlays.fileNameShown();
    EXPECT_LT(shown.size(), longName.size());
    EXPECT_TRUE(shown.startsWith(QStringLiteral("holiday-")) && shown.endsWith(QStringLiteral("-end.jpg"))) << shown.toStdString();
    EXPECT_FALSE(overlays.fileInfo().txtExifInfo().stringValue.isEmpty()) << "the properties keep their place";

    overlays.setFileImgBaseInfo(describe(QStringLiteral("short.jpg")), int64_t(mask));
    EXPECT_EQ(overlays.fileNameShown(), QStringLiteral("short.jpg"));

    // Properties too many for the line give way at their end: the size and the date at their
    // start stay readable.
    const QVariantMap camera{{QStringLiteral("TIFF"),
                              QVariantMap{{QStringLiteral("Model"), QString(200, QLatin1Char('m'))}}}};
    overlays.setFileImgBaseInfo(std::make_shared<LMFileImgBaseInfo>(LMPathString(QStringLiteral("/photos/a.jpg"), false),
                                                                    QStringLiteral("public.jpeg"), 0, QDateTime(),
                                                                    QSizeF(600, 400), 1, camera, kpv::FileIdentity()),
                                int64_t(mask | NavFileProperty::kModel));
    const QString items = overlays.exifInfoShown();
    EXPECT_TRUE(items.startsWith(QStringLiteral(" | 600x400 | m"))) << items.toStdString();
    EXPECT_TRUE(items.endsWith(QChar(0x2026))) << items.toStdString();
}

// The file line as the user reads it: the name is followed by the same " | " as every other item,
// not by a wider gap, whether the name is whole or shortened, and nothing overlaps.
TEST(ViewerOverlays, TheNameIsFollowedByTheItemsWithoutAGap)
{
    kpv::View content(kpv::Rect(0, 0, 800, 600));
    NavigateOverlays overlays(&content);
    const uint64_t mask = NavFileProperty::kFileName | NavFileProperty::kDimensions;
    for (const QString& name : {QStringLiteral("photo.png"), QString(240, QLatin1Char('a')) + QStringLiteral(".jpg")}) {
        overlays.setFileImgBaseInfo(std::make_shared<LMFileImgBaseInfo>(LMPathString(QStringLiteral("/photos/") + name, false),
                                                                        QStringLiteral("public.png"), 0, QDateTime(),
                                                                        QSizeF(600, 400), 1, QVariantMap(), kpv::FileIdentity()),
                                    int64_t(mask));
        const auto [nameText, itemsText] = overlays.fileLineTextFrames();
        EXPECT_NEAR(nameText.maxX(), itemsText.minX(), 0.5) << name.size();
        EXPECT_GE(nameText.minX(), 10) << "within the line's margins";
        EXPECT_LE(itemsText.maxX(), 800 - 10);
        if (overlays.fileNameShown() == name)
            EXPECT_NEAR(nameText.minX(), 800 - itemsText.maxX(), 1.5) << "a whole name and its items stand in the middle";
    }
}
