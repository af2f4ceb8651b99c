#include "imageio/Orientation.h"

#include <QTransform>

namespace kpv {

OrientationTurn orientationTurn(int orientation)
{
    switch (orientation) {
    case 2: return {0, true};
    case 3: return {180, false};
    case 4: return {180, true};
    case 5: return {90, true};
    case 6: return {90, false};
    case 7: return {270, true};
    case 8: return {270, false};
    default: return {};
    }
}

QImage turnedUpright(const QImage& stored, int angle, bool mirrored)
{
    if (stored.isNull())
        return stored;
    QImage out = angle != 0 ? stored.transformed(QTransform().rotate(double(angle))) : stored;
    return mirrored ? out.mirrored(true, false) : out;
}

} // namespace kpv
