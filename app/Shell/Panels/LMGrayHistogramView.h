#pragma once
// The Info panel's colour histogram: counts of the first three bytes of every pixel (red, green
// and blue in the loader's 32-bit pixels), drawn as three filled curves that add up where they
// overlap (red and green make yellow, all three white). The vertical scale is clipped at twice the
// count of the 16th largest bin, so that a few huge spikes do not flatten everything else.
// The computation is a plain function so that it can run on a worker thread and be tested alone.

#include "Kit/LMMultiSliceImageView.h"

#include <QImage>

#include <cstdint>
#include <functional>

struct tagLMGrayHistogramDataInfos {
    int64_t data[3][256] = {};
    uint8_t isDataEmpty = 0;
    int64_t maxGrayValue = 0;
};

class LMGrayHistogramView : public LMMultiSliceImageView {
public:
    explicit LMGrayHistogramView(const kpv::Rect& frame = kpv::Rect()) : LMMultiSliceImageView(frame) {}

    // Counts the pixels of a bitmap (`bitsPerPixel` at least 24) and sets the scale ceiling.
    // `isCancelled` is polled after each row and each bin; a cancelled run answers false and
    // leaves `out` unspecified. A missing or unusable bitmap gives the zero record.
    static bool computeGrayHistogram(const uint8_t* pixels, int64_t width, int64_t height, int64_t bytesPerRow,
                                     int64_t bitsPerPixel, const std::function<bool()>& isCancelled,
                                     tagLMGrayHistogramDataInfos* out);
    // The ceiling rule alone: twice the 16th largest bin count (ties counted), capped by the
    // largest; the largest when fewer than 16 bins are non-zero. Returns false when cancelled.
    static bool calcMaxGrayValue(tagLMGrayHistogramDataInfos* infos, const std::function<bool()>& isCancelled);
    // The drawing: 256 columns by `height` rows, premultiplied RGBA with transparent background,
    // row 0 at the top. A null image when `height` is not positive.
    static QImage grayHistogramImage(const tagLMGrayHistogramDataInfos& infos, int height);

    // Copies the record and redraws; nothing when both the held and the new record are empty.
    void setGrayHistogramDataInfos(const tagLMGrayHistogramDataInfos* infos);
    const tagLMGrayHistogramDataInfos& grayHistogramDataInfos() const { return m_infos; }
    // The bounds inset by one point on each side.
    kpv::Rect histogramRect() const;
    void createGrayHistogramImage();
    const QImage& imageGrayHistogram() const { return m_image; }
    void drawRect(const kpv::Rect& dirty) override;

private:
    tagLMGrayHistogramDataInfos m_infos;
    bool m_dirty = false;
    QImage m_image;
};
