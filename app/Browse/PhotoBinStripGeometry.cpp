#include "Browse/PhotoBinStripGeometry.h"

#include <algorithm>
#include <cmath>

kpv::Point PhotoBinStripGeometry::cellOrigin(std::uint64_t index) const
{
    return {kGap + double(index) * pitch(), (stripHeight - itemSize.height) / 2};
}

kpv::Rect PhotoBinStripGeometry::frameForIndex(std::uint64_t index) const
{
    const double x = superBounds.midX() - (double(index) * pitch() + kGap + itemSize.width / 2);
    return kpv::Rect(x, stripY, stripWidth(), stripHeight);
}

PhotoBinStripGeometry::Range PhotoBinStripGeometry::visibleRange(const kpv::Rect& frame) const
{
    const auto p = static_cast<std::uint64_t>(pitch());
    if (p == 0)
        return {};
    // A strip scrolled past every item (as for the index of no file) shows none; the count is
    // compared as a real number so that it cannot overflow on the way.
    const double skipped = frame.x() < 0 ? std::floor(-frame.x() / double(p)) : 0;
    if (!(skipped < double(itemCount)))
        return {itemCount, 0};
    const auto first = static_cast<std::uint64_t>(skipped);
    const double left = double(first * p) + frame.x();
    const double fit = std::trunc((superBounds.x() + superBounds.width() - left + double(p) - 1) / double(p));
    const double n = std::max(0.0, std::min(fit, double(itemCount - first)));
    return {first, static_cast<std::uint64_t>(n)};
}

std::uint64_t PhotoBinStripGeometry::wholeVisibleCount(const kpv::Rect& frame) const
{
    const auto p = static_cast<std::uint64_t>(pitch());
    if (p == 0)
        return 0;
    // Counted in floating point and checked before the conversion, so that a strip scrolled
    // absurdly far cannot overflow the count.
    const auto count = [](double n) { return n >= 0 && n < 0x1p63 ? static_cast<std::uint64_t>(n) : 0; };
    if (frame.x() >= 0)
        return count(superBounds.width() / double(p));
    const double first = std::trunc((-frame.x() + double(p) - 1) / double(p));
    const double left = first * double(p) + frame.x();
    return count((superBounds.x() + superBounds.width() - left) / double(p));
}

std::size_t PhotoBinStripGeometry::indexAtPoint(kpv::Point pt) const
{
    const double m = (stripHeight - itemSize.height) / 2;
    if (pt.y < m || pt.y >= m + itemSize.height || pt.x < kGap || pitch() <= 0)
        return kNotFound;
    const double i = std::trunc((pt.x - kGap) / pitch());
    const double offset = std::trunc(pt.x - kGap - i * pitch());
    if (offset < 0 || offset >= itemSize.width || i >= double(itemCount))
        return kNotFound;
    return static_cast<std::size_t>(i);
}

kpv::Rect PhotoBinStripGeometry::frameMovedByDelta(const kpv::Rect& frame, double delta, bool* reached) const
{
    const double c = superBounds.x() + superBounds.width() / 2;
    kpv::Rect r = frame;
    r.origin.x += delta;
    bool hit = false;
    if (r.x() + r.width() <= c) {
        r.origin.x = c - r.width();
        hit = true;
    } else if (r.x() >= c) {
        r.origin.x = c;
        hit = true;
    }
    if (reached)
        *reached = hit;
    return r;
}
