#include "Browse/LMImageBrowserLayout.h"

#include <algorithm>
#include <cmath>

std::size_t LMImageBrowserLayout::columns() const
{
    const double pitch = cellSize.width + kSpacing;
    if (pitch <= 0)
        return 1;
    const double usable = viewWidth - trailingInset - 2 * kMargin + kSpacing;
    const double n = std::floor(usable / pitch);
    return n < 1 ? 1 : static_cast<std::size_t>(n);
}

double LMImageBrowserLayout::columnPitch() const
{
    const double pitch = cellSize.width + kSpacing;
    const double usable = viewWidth - trailingInset - 2 * kMargin + kSpacing;
    // A single column wider than the view keeps its plain pitch and starts at the margin.
    return std::max(pitch, usable / double(columns()));
}

double LMImageBrowserLayout::firstColumnX() const
{
    return kMargin + (columnPitch() - cellSize.width - kSpacing) / 2;
}

std::size_t LMImageBrowserLayout::rows() const
{
    const std::size_t c = columns();
    return (itemCount + c - 1) / c;
}

double LMImageBrowserLayout::contentHeight() const
{
    const std::size_t r = rows();
    if (r == 0)
        return 0;
    return 2 * kMargin + r * cellSize.height + (r - 1) * kSpacing;
}

kpv::Rect LMImageBrowserLayout::cellFrame(std::size_t index) const
{
    if (index >= itemCount)
        return {};
    const std::size_t c = columns();
    const double col = double(index % c), row = double(index / c);
    return kpv::Rect(firstColumnX() + col * columnPitch(), kMargin + row * (cellSize.height + kSpacing), cellSize.width,
                     cellSize.height);
}

kpv::Rect LMImageBrowserLayout::imageFrame(std::size_t index, kpv::Size imageSize) const
{
    const kpv::Rect cell = cellFrame(index);
    if (cell.isEmpty() || imageSize.width <= 0 || imageSize.height <= 0)
        return cell;
    const double s = std::min(cell.width() / imageSize.width, cell.height() / imageSize.height);
    const double w = imageSize.width * s, h = imageSize.height * s;
    return kpv::Rect(std::floor(cell.midX() - w / 2), std::floor(cell.midY() - h / 2), std::round(w), std::round(h));
}

std::size_t LMImageBrowserLayout::indexAtPoint(kpv::Point p) const
{
    const double px = p.x - firstColumnX(), py = p.y - kMargin;
    if (px < 0 || py < 0)
        return kNotFound;
    const double pitchX = columnPitch(), pitchY = cellSize.height + kSpacing;
    const auto col = static_cast<std::size_t>(px / pitchX);
    const auto row = static_cast<std::size_t>(py / pitchY);
    if (col >= columns() || px - col * pitchX >= cellSize.width || py - row * pitchY >= cellSize.height)
        return kNotFound;
    const std::size_t index = row * columns() + col;
    return index < itemCount ? index : kNotFound;
}

std::vector<std::size_t> LMImageBrowserLayout::visibleIndexes(double top, double height) const
{
    std::vector<std::size_t> out;
    if (itemCount == 0 || height <= 0)
        return out;
    const double pitchY = cellSize.height + kSpacing;
    const double firstRow = std::max(0.0, std::floor((top - kMargin) / pitchY));
    const double lastRow = std::floor((top + height - kMargin) / pitchY);
    const std::size_t c = columns();
    for (double r = firstRow; r <= lastRow && r < double(rows()); ++r) {
        for (std::size_t k = 0; k < c; ++k) {
            const std::size_t i = static_cast<std::size_t>(r) * c + k;
            if (i >= itemCount)
                break;
            const kpv::Rect f = cellFrame(i);
            if (f.maxY() > top && f.minY() < top + height)
                out.push_back(i);
        }
    }
    return out;
}

std::size_t LMImageBrowserLayout::dropIndexAtPoint(kpv::Point p) const
{
    if (itemCount == 0)
        return 0;
    const double pitchX = columnPitch(), pitchY = cellSize.height + kSpacing;
    const double py = std::max(0.0, p.y - kMargin);
    const auto row = static_cast<std::size_t>(py / pitchY);
    if (row >= rows())
        return itemCount;
    // Measured from the middle of the gap before the first column, as the slots are.
    const double px = std::max(0.0, p.x - firstColumnX() + (pitchX - cellSize.width) / 2);
    // The left half of a cell inserts before it, the right half after it.
    std::size_t col = static_cast<std::size_t>((px + pitchX / 2) / pitchX);
    col = std::min(col, columns());
    return std::min(row * columns() + col, itemCount);
}
