// Rendered skin controls compared with stored pictures within a tolerance. The pictures live in
// tests/data/golden/; run with KPV_UPDATE_GOLDEN=1 to rewrite them after a deliberate change to
// the skin. A mismatch leaves the actual picture in golden-actual/ beside the test.
#include "Kit/LMButton.h"
#include "Kit/LMNineSliceImageView.h"
#include "appkit/Window.h"
#include "kit_support.h"

#include <QDir>
#include <gtest/gtest.h>

namespace {
constexpr int kTolerance = 8; // software rasterisers may differ in the last bits of edges

void compareWithGolden(const QImage& actual, const QString& name)
{
    const QString path = QStringLiteral(KPV_TEST_DATA_DIR) + "/golden/" + name + ".png";
    if (qEnvironmentVariableIsSet("KPV_UPDATE_GOLDEN")) {
        QDir().mkpath(QStringLiteral(KPV_TEST_DATA_DIR) + "/golden");
        ASSERT_TRUE(actual.save(path, "PNG"));
        return;
    }
    QImage expected(path);
    ASSERT_FALSE(expected.isNull()) << "missing golden picture " << path.toStdString();
    const int diff = maxChannelDifference(actual, expected);
    if (diff < 0 || diff > kTolerance) {
        QDir().mkpath("golden-actual");
        actual.save("golden-actual/" + name + ".png", "PNG");
    }
    EXPECT_GE(diff, 0) << name.toStdString() << ": size differs";
    EXPECT_LE(diff, kTolerance) << name.toStdString();
}
} // namespace

TEST(Rendering, SkinnedButtonMatchesItsPicture)
{
    clearSkinImages(); // the generated skin only
    for (double scale : {1.0, 2.0}) {
        LMButton normal(kpv::Rect(0, 0, 24, 24));
        normal.setImageName("close");
        ASSERT_NO_FATAL_FAILURE(compareWithGolden(normal.renderToImage(scale), QString("kit_button_close_%1x").arg(int(scale))));
    }
    LMButton disabled(kpv::Rect(0, 0, 24, 24));
    disabled.setImageName("close");
    disabled.setEnabled(false); // no disabled image: the push image stands in
    ASSERT_NO_FATAL_FAILURE(compareWithGolden(disabled.renderToImage(1.0), "kit_button_close_disabled_1x"));
}

TEST(Rendering, NineSliceViewMatchesItsPicture)
{
    clearSkinImages();
    auto rep = std::make_shared<LMNineSliceImageRep>("BG_POPWin", kpv::Point{15, 15}, kpv::Point{15, 15});
    ASSERT_NE(rep->nineSliceImage(), nullptr);
    LMNineSliceImageView view(kpv::Rect(0, 0, 120, 70), rep);
    ASSERT_NO_FATAL_FAILURE(compareWithGolden(view.renderToImage(1.0), "kit_nine_slice_popwin_1x"));
    ASSERT_NO_FATAL_FAILURE(compareWithGolden(view.renderToImage(2.0), "kit_nine_slice_popwin_2x"));
}
