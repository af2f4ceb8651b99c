#pragma once
// Points, sizes and rectangles in points, with the window system's rules: origin at the
// bottom-left, y growing upwards, unless a view says it is flipped.

#include <cmath>

namespace kpv {

struct Point {
    double x = 0;
    double y = 0;
    friend bool operator==(const Point&, const Point&) = default;
};

struct Size {
    double width = 0;
    double height = 0;
    friend bool operator==(const Size&, const Size&) = default;
};

struct Rect {
    Point origin;
    Size size;

    Rect() = default;
    Rect(double x, double y, double w, double h) : origin{x, y}, size{w, h} {}
    Rect(Point o, Size s) : origin(o), size(s) {}

    double x() const { return origin.x; }
    double y() const { return origin.y; }
    double width() const { return size.width; }
    double height() const { return size.height; }
    double minX() const { return origin.x; }
    double minY() const { return origin.y; }
    double maxX() const { return origin.x + size.width; }
    double maxY() const { return origin.y + size.height; }
    double midX() const { return origin.x + size.width / 2; }
    double midY() const { return origin.y + size.height / 2; }
    bool isEmpty() const { return size.width <= 0 || size.height <= 0; }
    friend bool operator==(const Rect&, const Rect&) = default;
};

// Half-open on the far edges: a point on the right or top edge is outside.
inline bool pointInRect(Point p, const Rect& r)
{
    return p.x >= r.minX() && p.x < r.maxX() && p.y >= r.minY() && p.y < r.maxY();
}

// Like pointInRect, but in a flipped coordinate system the top edge (minY) is the one that
// is excluded, so the rectangle covers exactly the pixels a click can hit.
inline bool mouseInRect(Point p, const Rect& r, bool flipped)
{
    if (p.x < r.minX() || p.x >= r.maxX())
        return false;
    if (flipped)
        return p.y >= r.minY() && p.y < r.maxY();
    return p.y > r.minY() && p.y <= r.maxY();
}

inline Rect intersectionRect(const Rect& a, const Rect& b)
{
    double x0 = std::fmax(a.minX(), b.minX());
    double y0 = std::fmax(a.minY(), b.minY());
    double x1 = std::fmin(a.maxX(), b.maxX());
    double y1 = std::fmin(a.maxY(), b.maxY());
    if (x1 <= x0 || y1 <= y0)
        return Rect();
    return Rect(x0, y0, x1 - x0, y1 - y0);
}

inline Rect unionRect(const Rect& a, const Rect& b)
{
    if (a.isEmpty())
        return b;
    if (b.isEmpty())
        return a;
    double x0 = std::fmin(a.minX(), b.minX());
    double y0 = std::fmin(a.minY(), b.minY());
    double x1 = std::fmax(a.maxX(), b.maxX());
    double y1 = std::fmax(a.maxY(), b.maxY());
    return Rect(x0, y0, x1 - x0, y1 - y0);
}

// The smallest rectangle with whole-number edges that holds r; an empty rectangle stays empty.
inline Rect integralRect(const Rect& r)
{
    if (r.isEmpty())
        return Rect();
    double x0 = std::floor(r.minX());
    double y0 = std::floor(r.minY());
    double x1 = std::ceil(r.maxX());
    double y1 = std::ceil(r.maxY());
    return Rect(x0, y0, x1 - x0, y1 - y0);
}

inline Rect insetRect(const Rect& r, double dx, double dy)
{
    return Rect(r.x() + dx, r.y() + dy, r.width() - 2 * dx, r.height() - 2 * dy);
}

inline Rect offsetRect(const Rect& r, double dx, double dy)
{
    return Rect(r.x() + dx, r.y() + dy, r.width(), r.height());
}

} // namespace kpv
