#pragma once
// The arithmetic of the image browser's grid, kept apart from the view so that it is tested
// directly. Coordinates are the browser's flipped content coordinates: y grows downwards from the
// top of the first row; the view subtracts its scroll offset.

#include "appkit/Geometry.h"

#include <cstddef>
#include <vector>

struct LMImageBrowserLayout {
    static constexpr double kMargin = 12.0;  // around the grid
    static constexpr double kSpacing = 16.0; // between cells
    static constexpr std::size_t kNotFound = static_cast<std::size_t>(-1);

    kpv::Size cellSize{192, 144};
    double viewWidth = 0;
    // Width kept free along the right edge for the scroller, so that no cell lies under it.
    double trailingInset = 0;
    std::size_t itemCount = 0;

    // At least one column, however narrow the view.
    std::size_t columns() const;
    // The width left over by whole columns is shared out: each column gets an equal slot and its
    // cells stand in the middle of it, so the grid spans the view at any width instead of leaving
    // the spare room on the right.
    double columnPitch() const;
    double firstColumnX() const;
    std::size_t rows() const;
    double contentHeight() const;
    kpv::Rect cellFrame(std::size_t index) const;
    // The picture's rectangle inside the cell: the image size fitted by its aspect and centred;
    // the whole cell for an unknown (empty) size.
    kpv::Rect imageFrame(std::size_t index, kpv::Size imageSize) const;
    // The item whose cell holds the point, or kNotFound (gaps and the margin hold none).
    std::size_t indexAtPoint(kpv::Point p) const;
    // Items whose cells meet the band [top, top + height), ascending.
    std::vector<std::size_t> visibleIndexes(double top, double height) const;
    // Where a drag dropped at `p` inserts: the index before which the moved items go (itemCount
    // past the end).
    std::size_t dropIndexAtPoint(kpv::Point p) const;
};
