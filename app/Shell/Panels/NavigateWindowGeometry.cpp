#include "Shell/Panels/NavigateWindowGeometry.h"

#include <algorithm>
#include <cmath>

namespace {
bool hasArea(const QRectF& r) { return r.width() > 0 && r.height() > 0; }

QRectF integral(const QRectF& r)
{
    const double x0 = std::floor(r.left()), y0 = std::floor(r.top());
    const double x1 = std::ceil(r.right()), y1 = std::ceil(r.bottom());
    return QRectF(x0, y0, x1 - x0, y1 - y0);
}
}  // namespace

QRectF NavigateWindowGeometry::imageViewRectInImageView(const QRectF& v, const QRectF& bounds)
{
    if (!hasArea(v) || !hasArea(bounds))
        return QRectF(bounds.center(), QSizeF(0, 0));
    const double f = std::min(bounds.width() / v.width(), bounds.height() / v.height());
    const QSizeF size(v.width() * f, v.height() * f);
    return QRectF(bounds.x() + (bounds.width() - size.width()) / 2, bounds.y() + (bounds.height() - size.height()) / 2,
                  size.width(), size.height());
}

LMMatrix NavigateWindowGeometry::matrixFromImageViewRectToTrackRect(const QRectF& v, const QRectF& r)
{
    if (!hasArea(v))
        return LMMatrix();
    LMMatrix m;
    m.a = r.width() / v.width();
    m.e = r.height() / v.height();
    m.c = r.x() - v.x() * m.a;
    m.f = r.y() - v.y() * m.e;
    return m;
}

QSizeF NavigateWindowGeometry::calcNavigateWindowSizeByCurFile(const QSizeF& windowSize, const QSizeF& thumbViewSize,
                                                               const QRectF& v)
{
    double height = kThumbWidth;
    if (hasArea(v))
        height = std::clamp(std::round(v.height() * kThumbWidth / v.width()), kMinThumbHeight, kMaxThumbHeight);
    return QSizeF(windowSize.width() - thumbViewSize.width() + kThumbWidth,
                  windowSize.height() - thumbViewSize.height() + height);
}

QRectF NavigateWindowGeometry::trackRectForVisibleRect(const QRectF& fitBounds, const QRectF& v, const LMMatrix& m)
{
    const QRectF shown = fitBounds.intersected(v);
    if (!hasArea(shown))
        return QRectF();
    return integral(LMTransformRect(m, shown));
}

QPointF NavigateWindowGeometry::moveDeltaForTrackRect(const QRectF& trackRect, const QRectF& fitBounds, const QRectF& v,
                                                      const LMMatrix& m)
{
    const QRectF shown = fitBounds.intersected(v);
    const QRectF wanted = LMTransformRect(LMInverseMatrix(m), trackRect);
    return QPointF(shown.x() - wanted.x(), shown.y() - wanted.y());
}
