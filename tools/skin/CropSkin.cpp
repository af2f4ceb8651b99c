// Crop mode's pictures: the frame around the crop rectangle with its corner handles, the thirds
// guide lines drawn inside it, and the white tick of the preset list's current entry.

#include "SkinImage.h"

#include <QPainterPath>

namespace {

// 44 x 44, cut 21 from each side: the rectangle's edge runs 5 points in from the picture's edge;
// a thin line follows it and a bold L stands outside each corner, where the rectangle is grabbed.
void cropFrame(QPainter& p, QRectF r)
{
    const QRectF edge = r.adjusted(5, 5, -5, -5);
    p.setPen(QPen(QColor(255, 255, 255, 200), 1));
    p.setBrush(Qt::NoBrush);
    p.drawRect(edge.adjusted(0.5, 0.5, -0.5, -0.5));
    const double arm = 15, thick = 3;
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    for (int corner = 0; corner < 4; ++corner) {
        const bool right = corner & 1, bottom = corner & 2;
        const double x = right ? edge.right() : edge.left() - thick;
        const double y = bottom ? edge.bottom() : edge.top() - thick;
        const double armX = right ? edge.right() + thick - arm : edge.left() - thick;
        const double armY = bottom ? edge.bottom() + thick - arm : edge.top() - thick;
        p.drawRect(QRectF(armX, y, arm, thick));
        p.drawRect(QRectF(x, armY, thick, arm));
    }
}

void guideLine(QPainter& p, QRectF r) { p.fillRect(r, QColor(255, 255, 255, 110)); }

std::function<void(QPainter&, QRectF)> tick(QColor colour)
{
    return [colour](QPainter& p, QRectF r) {
        QPainterPath path;
        path.moveTo(r.left() + r.width() * 0.18, r.top() + r.height() * 0.52);
        path.lineTo(r.left() + r.width() * 0.42, r.top() + r.height() * 0.76);
        path.lineTo(r.left() + r.width() * 0.84, r.top() + r.height() * 0.26);
        p.setPen(QPen(colour, 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        p.drawPath(path);
    };
}

} // namespace

void appendCropSkin(std::vector<SkinImage>& images)
{
    images.push_back({"bg_crop", 44, 44, cropFrame});
    images.push_back({"crop_lineh", 12, 1, guideLine});
    images.push_back({"crop_linev", 1, 12, guideLine});
    images.push_back({"icon_menuchkw", 12, 12, tick(Qt::white)});
    // Pressed, the entry's title turns dark; the tick follows it.
    images.push_back({"icon_menuchkwp", 12, 12, tick(Qt::black)});
}
