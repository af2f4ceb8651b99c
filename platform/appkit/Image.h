#pragma once
// An image with one or more pixel representations (1x, 2x) and a size in points. Image
// coordinates, like view coordinates, have their origin at the bottom-left.

#include "appkit/Geometry.h"

#include <QImage>
#include <QString>
#include <memory>
#include <vector>

namespace kpv {

class Image;
using ImagePtr = std::shared_ptr<Image>;

class Image {
public:
    Image() = default;
    // A single representation whose pixels are `scale` per point.
    explicit Image(const QImage& pixels, double scale = 1.0);

    // The bundle image of that name (no extension), with its 2x representation when there is
    // one; nullptr when the bundle has no such image. Names are matched exactly: callers that
    // follow the skin's lower-case rule lower-case the name themselves.
    static ImagePtr imageNamed(const QString& name);
    // Drops the named-image cache (tests that generate images).
    static void clearNamedCache();

    void addRepresentation(const QImage& pixels, double scale);
    bool isValid() const { return !m_reps.empty(); }
    Size size() const { return m_size; }
    void setSize(Size s) { m_size = s; }

    // The representation best suited to a device with `scale` pixels per point: the smallest
    // one at least that dense, else the densest.
    const QImage& bestRepresentation(double scale) const;
    double scaleOfRepresentation(const QImage& rep) const;
    // The 1x representation alone, as a new image (the first one when there is no 1x).
    ImagePtr imageWithOneRepresentation(double scale) const;
    // A new image of the part `r` (in points, origin bottom-left) of every representation.
    ImagePtr subImage(const Rect& r) const;

    struct Rep {
        QImage pixels;
        double scale;
    };
    const std::vector<Rep>& representations() const { return m_reps; }

private:
    std::vector<Rep> m_reps;
    Size m_size;
};

} // namespace kpv
