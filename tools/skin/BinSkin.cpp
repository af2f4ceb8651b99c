// The favourites bin's pictures: the empty bin, the frame its last favourite shows in (normal and
// under the pointer), the count badge, and the placeholders a thumbnail shows while it loads, when
// it cannot be read, and for a picture that has none.

#include "SkinImage.h"

#include <QLinearGradient>
#include <QPainterPath>

#include <algorithm>

namespace {

const QColor kGlyph(225, 228, 232);
const QColor kBorder(90, 94, 100);
const QColor kLove(226, 64, 84);

QPainterPath heart(QRectF r)
{
    QPainterPath path;
    const auto at = [&](double x, double y) { return QPointF(r.left() + x * r.width(), r.top() + y * r.height()); };
    path.moveTo(at(0.5, 0.85));
    path.cubicTo(at(0.0, 0.5), at(0.15, 0.1), at(0.5, 0.33));
    path.cubicTo(at(0.85, 0.1), at(1.0, 0.5), at(0.5, 0.85));
    return path;
}

// 28 x 28: an open tray with the favourites' heart drawn in outline above it.
void emptyBin(QPainter& p, QRectF r)
{
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(kGlyph, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(heart(QRectF(r.left() + 8, r.top() + 4, 12, 12)));
    QPainterPath tray;
    tray.moveTo(r.left() + 4, r.top() + 15);
    tray.lineTo(r.left() + 6.5, r.bottom() - 5);
    tray.lineTo(r.right() - 6.5, r.bottom() - 5);
    tray.lineTo(r.right() - 4, r.top() + 15);
    p.drawPath(tray);
    p.drawLine(QPointF(r.left() + 10, r.top() + 18.5), QPointF(r.right() - 10, r.top() + 18.5));
}

// 46 x 32: a rounded frame whose inside (3 points in from each side) the last favourite's
// thumbnail fills; lighter and with an accent edge under the pointer.
std::function<void(QPainter&, QRectF)> thumbFrame(bool roll)
{
    return [roll](QPainter& p, QRectF r) {
        const QRectF outer = r.adjusted(0.5, 0.5, -0.5, -0.5);
        QLinearGradient g(r.topLeft(), r.bottomLeft());
        g.setColorAt(0, roll ? QColor(120, 124, 130) : QColor(88, 92, 98));
        g.setColorAt(1, roll ? QColor(96, 100, 106) : QColor(64, 67, 72));
        p.setPen(QPen(roll ? QColor(64, 156, 255) : QColor(30, 31, 33), 1));
        p.setBrush(g);
        p.drawRoundedRect(outer, 3, 3);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(28, 29, 31));
        p.drawRect(r.adjusted(3, 3, -3, -3));
    };
}

// 18 x 18: the round badge the count is written on, in the favourites' red with a light rim.
void countBadge(QPainter& p, QRectF r)
{
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0, kLove.lighter(115));
    g.setColorAt(1, kLove.darker(115));
    p.setPen(QPen(QColor(255, 255, 255, 200), 1.2));
    p.setBrush(g);
    p.drawEllipse(r.adjusted(1, 1, -1, -1));
}

// A placeholder thumbnail: a dark plate with a light picture glyph (a hill and a sun), or, for
// a file that cannot be read, the same glyph faded and struck through.
std::function<void(QPainter&, QRectF)> placeholder(bool bad)
{
    return [bad](QPainter& p, QRectF r) {
        p.setPen(QPen(kBorder, 1));
        p.setBrush(QColor(43, 45, 48));
        p.drawRect(r.adjusted(0.5, 0.5, -0.5, -0.5));
        const double u = std::min(r.width(), r.height()) / 8;
        const QRectF pic(r.center().x() - 2.5 * u, r.center().y() - 2 * u, 5 * u, 4 * u);
        const QColor glyph = bad ? QColor(150, 153, 158) : kGlyph;
        p.setPen(QPen(glyph, std::max(1.0, u / 4)));
        p.setBrush(Qt::NoBrush);
        p.drawRect(pic);
        p.setPen(Qt::NoPen);
        p.setBrush(glyph);
        p.drawEllipse(QPointF(pic.left() + 1.4 * u, pic.top() + 1.2 * u), 0.5 * u, 0.5 * u);
        p.drawPolygon(QPolygonF({QPointF(pic.left() + 0.5 * u, pic.bottom() - 0.3 * u),
                                 QPointF(pic.left() + 2.2 * u, pic.top() + 1.8 * u),
                                 QPointF(pic.left() + 3.2 * u, pic.top() + 2.8 * u),
                                 QPointF(pic.left() + 3.8 * u, pic.top() + 2.2 * u),
                                 QPointF(pic.right() - 0.5 * u, pic.bottom() - 0.3 * u)}));
        if (bad) {
            p.setPen(QPen(kLove, std::max(1.2, u / 3), Qt::SolidLine, Qt::RoundCap));
            p.drawLine(pic.topRight() + QPointF(0.3 * u, -0.3 * u), pic.bottomLeft() + QPointF(-0.3 * u, 0.3 * u));
        }
    };
}

} // namespace

void appendBinSkin(std::vector<SkinImage>& images)
{
    images.push_back({"e_lovebin", 28, 28, emptyBin});
    images.push_back({"e_lovebin_on", 46, 32, thumbFrame(false)});
    images.push_back({"e_lovebin_on_roll", 46, 32, thumbFrame(true)});
    images.push_back({"e_number_bg", 18, 18, countBadge});
    images.push_back({"img_defaultthumb", 64, 48, placeholder(false)});
    images.push_back({"img_badthumb", 64, 48, placeholder(true)});
    images.push_back({"img_default", 160, 120, placeholder(false)});
}
