#include "Browse/MiniWindowGeometry.h"

#include <algorithm>
#include <cmath>

kpv::Rect MiniWindowGeometry::fitFrame(const kpv::Rect& oldFrame, kpv::Size wanted, const kpv::Rect& v, kpv::Size min)
{
    const double W = wanted.width, H = wanted.height;
    if (!(W > 0) || !(H > 0))
        return oldFrame; // nothing to keep the aspect of; dividing by it would spread NaNs
    const double vw = v.width(), vh = v.height();
    const double W1 = std::min(vw, std::max(min.width, W));
    const double H1 = std::min(vh, std::max(min.height, H));
    const double rx = W1 / W, ry = H1 / H;
    double W2 = W1, H2 = H1;
    if (rx > ry)
        W2 = W * H1 / H;
    else if (ry > rx)
        H2 = H * W1 / W;
    const double Wf = std::min(vw, std::max(min.width, W2));
    const double Hf = std::min(vh, std::max(min.height, H2));
    double x = std::max(v.x(), oldFrame.x() - (Wf - oldFrame.width()) / 2);
    if (x + Wf > v.x() + vw)
        x = v.x() + vw - Wf;
    double y = std::max(v.y(), oldFrame.y() - (Hf - oldFrame.height()) / 2);
    if (y + Hf > v.y() + vh)
        y = v.y() + vh - Hf;
    return kpv::Rect(x, y, Wf, Hf);
}

kpv::Size MiniWindowGeometry::imagePointSize(kpv::Size pixels, double angle, double backingScale)
{
    if (angle == 90 || angle == 270)
        std::swap(pixels.width, pixels.height);
    const double s = backingScale == 0 ? 1.0 : backingScale;
    return {pixels.width / s, pixels.height / s};
}

kpv::Size MiniWindowGeometry::zoomTargetSize(kpv::Size visible, double scale, double maxScale, const kpv::Rect& v)
{
    const double iw = scale == 0 ? visible.width : visible.width / scale;
    const double ih = scale == 0 ? visible.height : visible.height / scale;
    if (!(iw > 0) || !(ih > 0))
        return {};
    const double z = std::min({maxScale, v.width() / iw, v.height() / ih});
    return {iw * z, ih * z};
}

long MiniWindowGeometry::zoomPercent(double scale)
{
    return static_cast<long>(std::trunc(scale * 100));
}
