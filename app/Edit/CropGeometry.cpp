#include "Edit/CropGeometry.h"

#include "Model/LMImageTools.h"

#include <algorithm>
#include <cmath>

namespace {

// Upper bound first, so that a range that is too small yields its lower end.
double clampv(double v, double lo, double hi) { return std::max(lo, std::min(v, hi)); }

// |magnitude| carrying the sign of `like` (a zero `like` counts as positive).
double signedLike(double magnitude, double like) { return like < 0 ? -std::fabs(magnitude) : std::fabs(magnitude); }

bool isLeftSide(int p) { return p == 1 || p == 2 || p == 3; }
bool isRightSide(int p) { return p == 5 || p == 6 || p == 7; }
bool isLowerSide(int p) { return p == 1 || p == 7 || p == 8; }
bool isUpperSide(int p) { return p == 3 || p == 4 || p == 5; }
bool isCorner(int p) { return p == 1 || p == 3 || p == 5 || p == 7; }

} // namespace

QSizeF CropAspect::aspectRatioBySize(double width, double height) const
{
    if (!isKept())
        return QSizeF(0, 0);
    const double big = std::max(ratio.width(), ratio.height());
    const double small = std::min(ratio.width(), ratio.height());
    return width >= height ? QSizeF(big, small) : QSizeF(small, big);
}

double CropGeometry::roundHalfAway(double v) { return std::round(v); }

QSizeF CropGeometry::calcAlignVisualDeltaSize(const QRectF &r, QSizeF signedSize, int p, const QRectF &W,
                                              const CropAspect &aspect)
{
    double sw = signedSize.width();
    double sh = signedSize.height();
    if (!aspect.isKept()) {
        if (p == Left || p == Right)
            return QSizeF(sw, r.height());
        if (p == Upper || p == Lower)
            return QSizeF(r.width(), sh);
        return QSizeF(sw, sh);
    }
    const QSizeF ab = aspect.aspectRatioBySize(r.width(), r.height());
    const double a = ab.width();
    const double b = ab.height();
    const double L = r.x(), Rt = r.x() + r.width(), B = r.y(), T = r.y() + r.height();
    const double Wl = W.x(), Wr = W.x() + W.width(), Wb = W.y(), Wt = W.y() + W.height();

    if (isCorner(p)) {
        // The larger of the dragged width and the width the dragged height asks for.
        const double w = signedLike(std::max(std::fabs(sw), std::fabs(sh) * a / b), sw);
        const double ax = (p == LowerLeft || p == UpperLeft) ? Rt : L;
        const double swc = clampv(ax + w, Wl, Wr) - ax;
        const double h = signedLike(std::fabs(swc) * b / a, sh);
        const double ay = (p == LowerLeft || p == LowerRight) ? T : B;
        const double shc = clampv(ay + h, Wb, Wt) - ay;
        if (std::fabs(h) > std::fabs(shc))
            return QSizeF(signedLike(a * std::fabs(shc) / b, sw), shc);
        return QSizeF(swc, h);
    }
    if (p == Left || p == Right) {
        const double h = b * std::fabs(sw) / a;
        const double cy = B + r.height() / 2;
        const double m = std::min({h / 2, Wt - cy, cy - Wb});
        double width = std::fabs(sw);
        if (h / 2 > m)
            width = a * 2 * m / b;
        return QSizeF(signedLike(width, sw), 2 * m);
    }
    if (p == Upper || p == Lower) {
        const double w = a * std::fabs(sh) / b;
        const double cx = L + r.width() / 2;
        const double m = std::min({w / 2, Wr - cx, cx - Wl});
        double height = std::fabs(sh);
        if (w / 2 > m)
            height = b * 2 * m / a;
        return QSizeF(2 * m, signedLike(height, sh));
    }
    return QSizeF(sw, sh);
}

QRectF CropGeometry::calcVisualTrackRect(const QRectF &r, int p, QPointF d, const QRectF &W, bool actualRectFlag,
                                         const CropAspect &aspect)
{
    const double Wl = W.x(), Wr = W.x() + W.width(), Wb = W.y(), Wt = W.y() + W.height();
    double dx = d.x(), dy = d.y();
    if (p == Inside) {
        if (actualRectFlag) {
            dx = roundHalfAway(dx);
            dy = roundHalfAway(dy);
        }
        double x = r.x() + dx;
        double y = r.y() + dy;
        if (x < Wl)
            x = Wl;
        if (x + r.width() >= Wr)
            x = Wr - r.width();
        if (y < Wb)
            y = Wb;
        if (y + r.height() >= Wt)
            y = Wt - r.height();
        return QRectF(x, y, r.width(), r.height());
    }
    if (p < LowerLeft || p > Lower)
        return r;

    const double L = r.x(), Rt = r.x() + r.width(), B = r.y(), T = r.y() + r.height();
    double sw = 0, sh = 0;
    if (isLeftSide(p))
        sw = clampv(L + dx, Wl, Wr) - Rt;
    else if (isRightSide(p))
        sw = clampv(Rt + dx, Wl, Wr) - L;
    if (isLowerSide(p))
        sh = clampv(B + dy, Wb, Wt) - T;
    else if (isUpperSide(p))
        sh = clampv(T + dy, Wb, Wt) - B;

    const QSizeF s = calcAlignVisualDeltaSize(r, QSizeF(sw, sh), p, W, aspect);
    sw = s.width();
    sh = s.height();

    double x, y;
    if (isLeftSide(p))
        x = std::min(Rt + sw, Rt);
    else if (isRightSide(p))
        x = std::min(L + sw, L);
    else
        x = (L + r.width() / 2) - std::fabs(sw) / 2;
    if (isLowerSide(p))
        y = std::min(T + sh, T);
    else if (isUpperSide(p))
        y = std::min(B + sh, B);
    else
        y = (B + r.height() / 2) - std::fabs(sh) / 2;

    if (actualRectFlag) {
        x = std::floor(x);
        y = std::ceil(y);
        sw = roundHalfAway(sw);
        sh = roundHalfAway(sh);
        y = std::min(y, W.height() - std::fabs(sh));
    }
    return QRectF(x, y, std::fabs(sw), std::fabs(sh));
}

std::optional<QRectF> CropGeometry::repairCollapsedRect(const QRectF &A, const QSizeF &F, const QRectF &beforeDrag,
                                                         const CropAspect &aspect)
{
    if (A.width() >= 1 && A.height() >= 1)
        return std::nullopt;
    double h = std::min(std::max(1.0, A.height()), F.height());
    double w;
    if (aspect.isKept()) {
        const QSizeF ab = aspect.aspectRatioBySize(beforeDrag.width(), beforeDrag.height());
        const double a = ab.width(), b = ab.height();
        // At least one pixel: a tall ratio on a one-pixel height would round the width to 0.
        w = std::max(1.0, roundHalfAway(h / b * a));
        if (w > F.width()) {
            w = F.width();
            h = std::max(1.0, roundHalfAway(b * F.width() / a));
        }
    } else {
        w = std::min(std::max(1.0, A.width()), F.width());
    }
    const double x = std::min(A.x(), F.width() - w);
    const double y = std::min(A.y() + A.height(), F.height()) - h;
    const QRectF repaired(x, y, w, h);
    if (repaired == A)
        return std::nullopt;
    return repaired;
}

std::optional<QRectF> CropGeometry::moveOrResizeVisualActualTrackRect(const QRectF &C, const QRectF &F, QPointF delta,
                                                                      bool moveFlag, const CropAspect &aspect)
{
    int position = Inside;
    if (!moveFlag) {
        if (delta.x() != 0) {
            position = Right;
            if (delta.x() < 0 && C.width() <= 1)
                return std::nullopt;
        } else {
            position = Lower;
            if (delta.y() > 0 && C.height() <= 1)
                return std::nullopt;
        }
    }
    return calcVisualTrackRect(C, position, delta, F, true, aspect);
}

QPointF CropGeometry::scrollWheelMoveDelta(double scrollingDeltaX, double scrollingDeltaY, bool directionInverted)
{
    QPointF d(-2 * scrollingDeltaX, 2 * scrollingDeltaY);
    if (directionInverted)
        d = -d;
    return d;
}

QRectF CropGeometry::magnifyRect(const QRectF &C, const QRectF &F, double m, const CropAspect &aspect)
{
    const double s = 1 + m;
    const double step = m > 0 ? 1 : -1;
    double w = roundHalfAway(s * C.width());
    if (w == C.width())
        w += step;
    double h = roundHalfAway(s * C.height());
    if (h == C.height())
        h += step;
    w = std::min(std::max(1.0, w), F.width());
    h = std::min(std::max(1.0, h), F.height());
    if (aspect.isKept()) {
        const QSizeF ab = aspect.aspectRatioBySize(C.width(), C.height());
        const double a = ab.width(), b = ab.height();
        if (a / F.width() > b / F.height())
            h = std::max(1.0, roundHalfAway(b / a * w));
        else
            w = std::max(1.0, roundHalfAway(a / b * h));
    }
    double x = roundHalfAway(C.x() + C.width() / 2 - w / 2);
    double y = roundHalfAway(C.y() + C.height() / 2 - h / 2);
    x = std::min(std::max(x, F.x()), F.x() + F.width() - w);
    y = std::min(std::max(y, F.y()), F.y() + F.height() - h);
    return QRectF(x, y, w, h);
}

QRectF CropGeometry::initialRawCropRect(const QRectF &rawFrame)
{
    const double w = std::max(1.0, roundHalfAway(rawFrame.width() * 0.5));
    const double h = std::max(1.0, roundHalfAway(rawFrame.height() * 0.5));
    return QRectF(std::floor(w * 0.5), std::floor(h * 0.5), w, h);
}

QRectF CropGeometry::rotatedRawCropRect(const QRectF &C, const QRectF &R, const CropAspect &aspect)
{
    double width = C.height();
    double height = C.width();
    double x = std::floor(C.x() + C.width() / 2 - C.height() / 2);
    double y = std::floor(C.y() + C.height() / 2 - C.width() / 2);
    const bool keep = aspect.isKept();
    const QSizeF ab = aspect.aspectRatioBySize(C.height(), C.width());
    if (width > R.width()) {
        width = R.width();
        height = keep ? std::max(1.0, roundHalfAway(ab.height() / ab.width() * R.width())) : C.width();
    } else if (height > R.height()) {
        height = R.height();
        width = keep ? std::max(1.0, roundHalfAway(ab.width() / ab.height() * R.height())) : C.height();
    }
    x = std::min(std::max(x, 0.0), R.width() - width);
    y = std::min(std::max(y, 0.0), R.height() - height);
    return QRectF(x, y, width, height);
}

QRectF CropGeometry::fixedRatioRawCropRect(const QRectF &C, const QRectF &R, QSizeF ratio)
{
    const double big = std::max(ratio.width(), ratio.height());
    const double small = std::min(ratio.width(), ratio.height());
    if (big <= 0 || small <= 0)
        return C;
    double w, h;
    if (C.width() >= C.height()) {
        w = C.width();
        h = std::max(1.0, roundHalfAway(C.width() * small / big));
        if (h > R.height()) {
            h = R.height();
            w = std::max(1.0, roundHalfAway(R.height() * big / small));
        }
    } else {
        h = C.height();
        w = std::max(1.0, roundHalfAway(C.height() * small / big));
        if (w > R.width()) {
            w = R.width();
            h = std::max(1.0, roundHalfAway(R.width() * big / small));
        }
    }
    const double cx = C.x() + C.width() / 2;
    const double cy = C.y() + C.height() / 2;
    const double x = std::min(std::max(std::floor(cx - w / 2), 0.0), R.width() - w);
    const double y = std::min(std::max(std::floor(cy - h / 2), 0.0), R.height() - h);
    return QRectF(x, y, w, h);
}

QRectF CropGeometry::displayRatioVisualRect(QSizeF displayPixels, const QSizeF &F, QPointF v)
{
    const QSizeF fitted =
        LMImageTools::calcScalingSize(displayPixels, F, LMImageTools::ScaleProportionallyDown);
    const double w = std::max(1.0, roundHalfAway(fitted.width()));
    const double h = std::max(1.0, roundHalfAway(fitted.height()));
    double x = roundHalfAway(v.x() - w / 2);
    double y = roundHalfAway(v.y() - h / 2);
    x = std::min(std::max(x, 0.0), F.width() - w);
    y = std::min(std::max(y, 0.0), F.height() - h);
    return QRectF(x, y, w, h);
}

QRectF CropGeometry::visualActualRectToVisualImageRect(const QRectF &a, const QSizeF &F)
{
    return QRectF(a.x(), F.height() - a.y() - a.height(), a.width(), a.height());
}

QString CropGeometry::cropInfoText(const QRectF &r)
{
    return QStringLiteral("X:%1 Y:%2 | %3 x %4")
        .arg(qint64(r.x()))
        .arg(qint64(r.y()))
        .arg(qint64(r.width()))
        .arg(qint64(r.height()));
}

QString CropGeometry::cropSizeTipText(const QRectF &r)
{
    return QStringLiteral("%1 x %2").arg(qint64(r.width())).arg(qint64(r.height()));
}

QPointF CropGeometry::sizeTipOrigin(QPointF pointer, const QRectF &tip, const QRectF &view)
{
    const double x = std::max(0.0, std::min(pointer.x() + 5, view.x() + view.width() - tip.width()));
    const double y = std::max(0.0, std::min(pointer.y() - (tip.y() + tip.height() / 2),
                                            view.y() + view.height() - tip.height()));
    return QPointF(x, y);
}

QPointF CropGeometry::trackToolbarOrigin(const QRectF &r, const QRectF &B, const QSizeF &T)
{
    double y = r.y() - (T.height() + 2);
    if (y < B.y())
        y = r.height() <= T.height() + 2 ? r.y() + r.height() + 2 : r.y() + 2;
    const double x = std::max(B.x(), r.x() + r.width() - T.width() - 2);
    return QPointF(x, y);
}
