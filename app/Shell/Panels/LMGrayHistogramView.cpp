#include "Shell/Panels/LMGrayHistogramView.h"

#include "appkit/Image.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <map>

bool LMGrayHistogramView::computeGrayHistogram(const uint8_t* pixels, int64_t width, int64_t height,
                                               int64_t bytesPerRow, int64_t bitsPerPixel,
                                               const std::function<bool()>& isCancelled,
                                               tagLMGrayHistogramDataInfos* out)
{
    *out = tagLMGrayHistogramDataInfos();
    const auto cancelled = [&] { return isCancelled && isCancelled(); };
    const int64_t bytesPerPixel = bitsPerPixel / 8;
    // A pixel must hold the three bytes we count, and a row the pixels it claims.
    const bool usable = pixels && width > 0 && height > 0 && bytesPerPixel >= 3 &&
                        width <= INT64_MAX / bytesPerPixel && bytesPerRow >= width * bytesPerPixel;
    if (usable) {
        for (int64_t y = 0; y < height; ++y) {
            const uint8_t* p = pixels + y * bytesPerRow;
            for (int64_t x = 0; x < width; ++x, p += bytesPerPixel) {
                ++out->data[0][p[0]];
                ++out->data[1][p[1]];
                ++out->data[2][p[2]];
            }
            if (cancelled())
                return false;
        }
        if (!calcMaxGrayValue(out, isCancelled))
            return false;
    }
    out->isDataEmpty = 0;
    return !cancelled();
}

bool LMGrayHistogramView::calcMaxGrayValue(tagLMGrayHistogramDataInfos* infos, const std::function<bool()>& isCancelled)
{
    // Number of bins holding each count value, zero counts included, largest value first.
    std::map<int64_t, int, std::greater<>> binsByCount;
    for (const auto& channel : infos->data) {
        for (int64_t count : channel) {
            ++binsByCount[count];
            if (isCancelled && isCancelled())
                return false;
        }
        if (isCancelled && isCancelled())
            return false;
    }
    int64_t threshold = 0;
    int total = 0;
    for (const auto& [count, bins] : binsByCount) {
        total += bins;
        if (total >= 16) {
            threshold = count;
            break;
        }
    }
    const int64_t largest = binsByCount.empty() ? 0 : binsByCount.begin()->first;
    infos->maxGrayValue = threshold > 0 ? std::min(2 * threshold, largest) : largest;
    return true;
}

QImage LMGrayHistogramView::grayHistogramImage(const tagLMGrayHistogramDataInfos& infos, int height)
{
    if (height <= 0)
        return {};
    QImage out(256, height, QImage::Format_RGBA8888_Premultiplied);
    if (out.isNull())
        return {};
    out.fill(Qt::transparent);
    if (infos.maxGrayValue <= 0)
        return out;
    QImage scratch(256, height, QImage::Format_RGBA8888_Premultiplied);
    if (scratch.isNull())
        return {};
    const QColor colors[3] = {QColor(255, 0, 0), QColor(0, 255, 0), QColor(0, 0, 255)};
    for (int c = 0; c < 3; ++c) {
        scratch.fill(Qt::transparent);
        {
            QPainter painter(&scratch);
            painter.setRenderHint(QPainter::Antialiasing, true);
            // y counts from the bottom, as in the drawing the panel shows.
            painter.translate(0, height);
            painter.scale(1, -1);
            QPainterPath path(QPointF(0, 0));
            for (int i = 0; i < 256; ++i) {
                const double y = std::min(double(infos.data[c][i]) * height / double(infos.maxGrayValue), double(height));
                path.lineTo(i, y);
            }
            path.lineTo(255, 0);
            path.closeSubpath();
            painter.fillPath(path, colors[c]);
        }
        for (int y = 0; y < height; ++y) {
            const uint8_t* s = scratch.constScanLine(y);
            uint8_t* d = out.scanLine(y);
            for (int x = 0; x < 256; ++x)
                if (s[x * 4 + c]) {
                    d[x * 4 + c] = 255;
                    d[x * 4 + 3] = 255;
                }
        }
    }
    return out;
}

void LMGrayHistogramView::setGrayHistogramDataInfos(const tagLMGrayHistogramDataInfos* infos)
{
    if (!infos || (m_infos.isDataEmpty && infos->isDataEmpty))
        return;
    m_infos = *infos;
    m_dirty = true;
    setNeedsDisplay(true);
}

kpv::Rect LMGrayHistogramView::histogramRect() const { return kpv::insetRect(bounds(), 1, 1); }

void LMGrayHistogramView::createGrayHistogramImage()
{
    m_image = grayHistogramImage(m_infos, int(histogramRect().height()));
}

void LMGrayHistogramView::drawRect(const kpv::Rect& dirty)
{
    if (m_image.isNull() || m_dirty) {
        createGrayHistogramImage();
        m_dirty = false;
    }
    LMMultiSliceImageView::drawRect(dirty);
    kpv::GraphicsContext* context = kpv::GraphicsContext::current();
    if (!context || m_image.isNull())
        return;
    // The 256 columns stretch to the rectangle's width; the image's own top row is its top.
    const kpv::Image image(m_image);
    context->drawImage(image, histogramRect());
}
