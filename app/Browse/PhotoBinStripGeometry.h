#pragma once
// The arithmetic of the photo bin's strip: where cells lie, which cells a strip frame shows, how
// the strip moves to centre an item, and the hit test. The strip is one wide view inside a narrower
// window (its superview); x values of frames are in the superview's coordinates.

#include "appkit/Geometry.h"

#include <cstddef>
#include <cstdint>

struct PhotoBinStripGeometry {
    static constexpr double kGap = 8.0;
    static constexpr std::size_t kNotFound = static_cast<std::size_t>(-1);

    struct Range {
        std::uint64_t location = 0;
        std::uint64_t length = 0;
        friend bool operator==(const Range&, const Range&) = default;
    };

    kpv::Size itemSize;          // w and h of a cell
    std::uint64_t itemCount = 0;
    kpv::Rect superBounds;       // the visible window
    double stripY = 0;           // the strip's current y
    double stripHeight = 0;

    double pitch() const { return itemSize.width + kGap; }
    double stripWidth() const { return double(itemCount) * pitch() + kGap; }
    kpv::Point cellOrigin(std::uint64_t index) const;
    // The strip frame that centres item `index` in the window.
    kpv::Rect frameForIndex(std::uint64_t index) const;
    // Items with cells for a strip frame; never past the last item.
    Range visibleRange(const kpv::Rect& frame) const;
    // Items wholly visible when `frame` is the strip's frame.
    std::uint64_t wholeVisibleCount(const kpv::Rect& frame) const;
    // The item under a point in strip coordinates, or kNotFound.
    std::size_t indexAtPoint(kpv::Point p) const;
    // `frame` moved by `delta`, stopped where an end of the strip reaches the window's centre
    // line; `reached` tells whether it stopped.
    kpv::Rect frameMovedByDelta(const kpv::Rect& frame, double delta, bool* reached) const;
};
