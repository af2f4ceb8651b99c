#pragma once
// Turning stored pixels the way their EXIF orientation (TIFF 6.0 tag 274) asks them to be shown:
// a quarter turn clockwise by an angle, then a mirror left to right. The one place pixels are
// turned upright; the thumbnail cache and the application's images both go through it.

#include <QImage>

namespace kpv {

struct OrientationTurn {
    int angle = 0;        // 0, 90, 180 or 270, clockwise
    bool mirrored = false; // left to right, after the turn
};

// The turn of an orientation 1 to 8; none for any other value.
OrientationTurn orientationTurn(int orientation);

// The pixels turned and mirrored; quarter turns move whole pixels and keep the format.
QImage turnedUpright(const QImage& stored, int angle, bool mirrored);

} // namespace kpv
