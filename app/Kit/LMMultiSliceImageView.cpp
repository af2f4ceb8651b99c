#include "Kit/LMMultiSliceImageView.h"

#include "appkit/Window.h"

#include <cmath>

void LMMultiSliceImageView::setBackgroundImage(kpv::ImagePtr image, const Divs& rowsFromTop, const Divs& columns)
{
    m_bkgrdImage = std::move(image);
    const double h = m_bkgrdImage ? m_bkgrdImage->size().height : 0;
    m_imageRowDivValues.clear();
    for (double v : rowsFromTop)
        m_imageRowDivValues.insert(m_imageRowDivValues.begin(), h - v);
    m_imageColDivValues = columns;
    m_drawn = QImage();
    setNeedsDisplay();
}

void LMMultiSliceImageView::drawRect(const kpv::Rect&)
{
    kpv::GraphicsContext* ctx = kpv::GraphicsContext::current();
    if (!ctx || !m_bkgrdImage)
        return;
    const double scale = window() ? window()->backingScaleFactor() : ctx->backingScaleFactor();
    const kpv::Rect b = bounds();
    const QSize pixels(int(std::ceil(b.width() * scale)), int(std::ceil(b.height() * scale)));
    if (pixels.isEmpty())
        return;
    const kpv::Rect target = backgroundDrawRect();
    if (m_drawn.size() != pixels || m_drawnScale != scale || m_drawnRect != target) {
        m_drawnRect = target;
        m_drawn = QImage(pixels, QImage::Format_ARGB32_Premultiplied);
        m_drawn.setDevicePixelRatio(scale);
        m_drawn.fill(Qt::transparent);
        m_drawnScale = scale;
        QPainter painter(&m_drawn);
        if (!isFlipped()) {
            painter.translate(0, b.height());
            painter.scale(1, -1);
        }
        kpv::GraphicsContext drawn(&painter, isFlipped(), scale);
        drawMultiSliceImageImage(preferredImageByImage(m_bkgrdImage, scale, &drawn), target, m_imageRowDivValues,
                                 m_imageColDivValues);
    }
    ctx->drawImage(kpv::Image(m_drawn, scale), kpv::Rect(0, 0, pixels.width() / scale, pixels.height() / scale));
}

kpv::ImagePtr LMMultiSliceImageView::preferredImageByImage(const kpv::ImagePtr& image, double contentScale,
                                                           kpv::GraphicsContext*)
{
    if (!image)
        return nullptr;
    if (contentScale == 1.0)
        return image->imageWithOneRepresentation(1.0);
    return image;
}

void LMMultiSliceImageView::drawMultiSliceImageImage(const LMNineSliceImageRep* rep, const kpv::Rect& rect)
{
    if (!rep || !rep->nineSliceImage())
        return;
    const kpv::ImagePtr& image = rep->nineSliceImage();
    const double w = image->size().width;
    const double h = image->size().height;
    // Rows are measured from the bottom edge: the bottom slice's height, then the image height
    // less the top slice's, as the nine-slice views store them.
    drawMultiSliceImageImage(image, rect, {rep->nineSliceSizeRightBottom().y, h - rep->nineSliceSizeLeftTop().y},
                             {rep->nineSliceSizeLeftTop().x, w - rep->nineSliceSizeRightBottom().x});
}

std::optional<LMMultiSliceImageView::Divs> LMMultiSliceImageView::calcDrawDivsWithMaxDrawSize(double D, double I,
                                                                                               const Divs& d)
{
    if (I <= 0 || d.empty() || d.front() <= 0 || d.back() >= I || (d.size() != 2 && d.size() != 4))
        return std::nullopt;
    Divs out;
    if (I >= D) {
        for (double v : d)
            out.push_back(std::round(v * D / I));
        return out;
    }
    if (d.size() == 2)
        return Divs{d[0], D - (I - d[1])};
    const double fixed = d[0] + (d[2] - d[1]) + (I - d[3]);
    const double F = D - fixed;
    const double s = std::round((d[1] - d[0]) * F / ((d[1] - d[0]) + (d[3] - d[2])));
    return Divs{d[0], d[0] + s, d[0] + s + (d[2] - d[1]), d[0] + s + (d[2] - d[1]) + (F - s)};
}

void LMMultiSliceImageView::drawMultiSliceImageImage(const kpv::ImagePtr& image, const kpv::Rect& rect,
                                                     const Divs& rows, const Divs& columns)
{
    kpv::GraphicsContext* ctx = kpv::GraphicsContext::current();
    if (!ctx || !image || image->size().width <= 0 || image->size().height <= 0)
        return;
    const double iw = image->size().width;
    const double ih = image->size().height;
    const auto rowPos = calcDrawDivsWithMaxDrawSize(rect.height(), ih, rows);
    const auto colPos = calcDrawDivsWithMaxDrawSize(rect.width(), iw, columns);
    if ((rowPos ? rowPos->size() : 0) != rows.size() || (colPos ? colPos->size() : 0) != columns.size())
        return;
    const size_t nr = rows.size();
    const size_t nc = columns.size();
    for (size_t r = 0; r <= nr; ++r) {
        const double sy0 = r == 0 ? 0 : rows[r - 1];
        const double sy1 = r == nr ? ih : rows[r];
        const double dy0 = r == 0 ? 0 : (*rowPos)[r - 1];
        const double dy1 = r == nr ? rect.height() : (*rowPos)[r];
        for (size_t c = 0; c <= nc; ++c) {
            const double sx0 = c == 0 ? 0 : columns[c - 1];
            const double sx1 = c == nc ? iw : columns[c];
            const double dx0 = c == 0 ? 0 : (*colPos)[c - 1];
            const double dx1 = c == nc ? rect.width() : (*colPos)[c];
            const kpv::Rect src(sx0, sy0, sx1 - sx0, sy1 - sy0);
            const kpv::Rect dst(rect.x() + dx0, rect.y() + dy0, dx1 - dx0, dy1 - dy0);
            if (src.isEmpty() || dst.isEmpty())
                continue;
            ctx->drawImage(*image, dst, src, kpv::CompositeSourceOver, 1.0, true);
        }
    }
}
