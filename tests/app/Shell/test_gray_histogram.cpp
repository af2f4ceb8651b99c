// The Info panel's histogram: counts against a direct count, the scale ceiling and the drawing.
#include "Shell/Panels/LMGrayHistogramView.h"

#include <QRandomGenerator>
#include <gtest/gtest.h>

#include <vector>

namespace {

struct Pixels {
    int64_t width, height, bytesPerRow;
    std::vector<uint8_t> bytes;
    Pixels(int64_t w, int64_t h, int64_t padding = 0) : width(w), height(h), bytesPerRow(w * 4 + padding), bytes(size_t(bytesPerRow * h), 0xEE) {}
    uint8_t* pixel(int64_t x, int64_t y) { return bytes.data() + y * bytesPerRow + x * 4; }
};

bool compute(const Pixels& p, tagLMGrayHistogramDataInfos* out, std::function<bool()> cancelled = {})
{
    return LMGrayHistogramView::computeGrayHistogram(p.bytes.data(), p.width, p.height, p.bytesPerRow, 32, cancelled, out);
}

TEST(GrayHistogram, MatchesDirectCountOnRandomPixelsAndIgnoresRowPadding)
{
    Pixels p(37, 23, 12);
    QRandomGenerator rng(7);
    int64_t expected[3][256] = {};
    for (int64_t y = 0; y < p.height; ++y)
        for (int64_t x = 0; x < p.width; ++x) {
            uint8_t* px = p.pixel(x, y);
            for (int c = 0; c < 4; ++c)
                px[c] = uint8_t(rng.bounded(256));
            for (int c = 0; c < 3; ++c)
                ++expected[c][px[c]];
        }
    tagLMGrayHistogramDataInfos infos;
    ASSERT_TRUE(compute(p, &infos));
    for (int c = 0; c < 3; ++c)
        for (int i = 0; i < 256; ++i)
            ASSERT_EQ(infos.data[c][i], expected[c][i]) << c << " " << i;
    EXPECT_EQ(infos.isDataEmpty, 0);
    EXPECT_GT(infos.maxGrayValue, 0);
}

TEST(GrayHistogram, FlatGreyGivesFullHeightWhiteSpike)
{
    Pixels p(10, 10);
    for (int64_t y = 0; y < 10; ++y)
        for (int64_t x = 0; x < 10; ++x)
            std::fill_n(p.pixel(x, y), 4, uint8_t(128));
    tagLMGrayHistogramDataInfos infos;
    ASSERT_TRUE(compute(p, &infos));
    EXPECT_EQ(infos.maxGrayValue, 100); // fewer than 16 bins filled: no ceiling
    const QImage image = LMGrayHistogramView::grayHistogramImage(infos, 50);
    ASSERT_EQ(image.size(), QSize(256, 50));
    // The spike reaches the top at its level, white; far from it nothing is drawn.
    EXPECT_EQ(image.pixelColor(128, 0), QColor(255, 255, 255));
    EXPECT_EQ(image.pixelColor(128, 49), QColor(255, 255, 255));
    EXPECT_EQ(image.pixelColor(20, 10).alpha(), 0);
}

TEST(GrayHistogram, CeilingIsTwiceSixteenthLargestBinTiesCounted)
{
    tagLMGrayHistogramDataInfos infos;
    infos.data[0][0] = 1000;                 // one huge spike
    for (int i = 1; i <= 20; ++i)
        infos.data[1][i] = 10;               // 20 bins tied at 10
    ASSERT_TRUE(LMGrayHistogramView::calcMaxGrayValue(&infos, {}));
    EXPECT_EQ(infos.maxGrayValue, 20);       // the 16th bin holds 10

    tagLMGrayHistogramDataInfos few;
    for (int i = 0; i < 16; ++i)
        few.data[2][i] = 5 + i;              // the 16th largest is 5: 2 x 5 = 10 < 20
    ASSERT_TRUE(LMGrayHistogramView::calcMaxGrayValue(&few, {}));
    EXPECT_EQ(few.maxGrayValue, 10);
}

TEST(GrayHistogram, ChannelsOverlapAdditivelyAndClipAtTop)
{
    tagLMGrayHistogramDataInfos infos;
    infos.maxGrayValue = 100;
    for (int i = 0; i < 256; ++i) {
        infos.data[0][i] = 100; // red fills everything
        infos.data[1][i] = 50;  // green half way
        infos.data[2][i] = 500; // blue above the ceiling: clipped to full height
    }
    const QImage image = LMGrayHistogramView::grayHistogramImage(infos, 40);
    EXPECT_EQ(image.pixelColor(100, 35), QColor(255, 255, 255)); // low: all three
    EXPECT_EQ(image.pixelColor(100, 5), QColor(255, 0, 255));    // high: red and blue
    tagLMGrayHistogramDataInfos empty;
    const QImage none = LMGrayHistogramView::grayHistogramImage(empty, 40);
    EXPECT_EQ(none.pixelColor(100, 35).alpha(), 0);
    EXPECT_TRUE(LMGrayHistogramView::grayHistogramImage(infos, 0).isNull());
}

TEST(GrayHistogram, CancelStopsAndUnusableBitmapGivesZeroRecord)
{
    Pixels p(8, 8);
    tagLMGrayHistogramDataInfos infos;
    int polls = 0;
    EXPECT_FALSE(compute(p, &infos, [&] { return ++polls > 3; }));

    // Fewer than three bytes per pixel, or rows shorter than the width: nothing is read.
    ASSERT_TRUE(LMGrayHistogramView::computeGrayHistogram(p.bytes.data(), 8, 8, 32, 16, {}, &infos));
    EXPECT_EQ(infos.maxGrayValue, 0);
    ASSERT_TRUE(LMGrayHistogramView::computeGrayHistogram(p.bytes.data(), 8, 8, 8, 32, {}, &infos));
    EXPECT_EQ(infos.data[0][0xEE], 0);
}

TEST(GrayHistogram, ViewIgnoresEmptyOverEmptyAndRedrawsOnChange)
{
    LMGrayHistogramView view(kpv::Rect(0, 0, 100, 42));
    EXPECT_EQ(view.histogramRect().height(), 40);
    tagLMGrayHistogramDataInfos infos;
    infos.data[0][5] = 3;
    infos.maxGrayValue = 3;
    view.setGrayHistogramDataInfos(&infos);
    EXPECT_EQ(view.grayHistogramDataInfos().data[0][5], 3);
    view.createGrayHistogramImage();
    EXPECT_EQ(view.imageGrayHistogram().size(), QSize(256, 40));
}

}  // namespace
