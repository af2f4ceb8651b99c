// The main window's and the viewer's skin images, drawn as vector code like the rest of the skin.

#include "SkinImage.h"

#include <QLinearGradient>
#include <QPainterPath>
#include <QRadialGradient>

namespace {

const QColor kGlyph(225, 228, 232);
const QColor kPanel(43, 45, 48);
const QColor kAccent(64, 156, 255);

// Button states as the kit names them: normal, roll-over, pressed, disabled.
const char* const kStateSuffix[4] = {"", "_roll", "_push", "_disable"};

QColor stateFill(int state, int alpha)
{
    switch (state) {
    case 1: return QColor(255, 255, 255, alpha + 40);
    case 2: return QColor(0, 0, 0, alpha + 40);
    case 3: return QColor(128, 128, 128, alpha / 2);
    default: return QColor(255, 255, 255, alpha);
    }
}

QColor glyphColor(int state)
{
    return state == 3 ? QColor(140, 140, 140) : kGlyph;
}

// A round title-bar button with a glyph.
std::function<void(QPainter&, QRectF)> titleButton(std::function<void(QPainter&, QRectF)> glyph, int state)
{
    return [glyph, state](QPainter& p, QRectF r) {
        p.setPen(Qt::NoPen);
        p.setBrush(stateFill(state, 40));
        p.drawEllipse(r.adjusted(1, 1, -1, -1));
        p.setPen(QPen(glyphColor(state), 1.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        glyph(p, r.adjusted(r.width() * 0.3, r.height() * 0.3, -r.width() * 0.3, -r.height() * 0.3));
    };
}

void modeGlyph(QPainter& p, QRectF c)
{
    p.drawRect(c);
    p.drawRect(QRectF(c.center(), c.bottomRight()));
}

void modeOnGlyph(QPainter& p, QRectF c)
{
    p.drawRect(QRectF(c.topLeft(), c.center()));
    p.drawRect(c);
}

void fullScreenGlyph(QPainter& p, QRectF c)
{
    p.drawLine(c.topLeft(), c.topLeft() + QPointF(c.width() / 2.5, 0));
    p.drawLine(c.topLeft(), c.topLeft() + QPointF(0, c.height() / 2.5));
    p.drawLine(c.bottomRight(), c.bottomRight() - QPointF(c.width() / 2.5, 0));
    p.drawLine(c.bottomRight(), c.bottomRight() - QPointF(0, c.height() / 2.5));
    p.drawLine(c.topLeft(), c.bottomRight());
}

void feedbackGlyph(QPainter& p, QRectF c)
{
    QPainterPath bubble;
    bubble.addRoundedRect(c.adjusted(0, 0, 0, -c.height() * 0.25), 2, 2);
    p.drawPath(bubble);
    p.drawLine(QPointF(c.left() + c.width() * 0.3, c.bottom() - c.height() * 0.25), QPointF(c.left() + c.width() * 0.2, c.bottom()));
}

void closeGlyph(QPainter& p, QRectF c)
{
    p.drawLine(c.topLeft(), c.bottomRight());
    p.drawLine(c.topRight(), c.bottomLeft());
}

void minimizeGlyph(QPainter& p, QRectF c)
{
    p.drawLine(QPointF(c.left(), c.center().y()), QPointF(c.right(), c.center().y()));
}

void zoomGlyph(QPainter& p, QRectF c)
{
    p.drawLine(QPointF(c.left(), c.center().y()), QPointF(c.right(), c.center().y()));
    p.drawLine(QPointF(c.center().x(), c.top()), QPointF(c.center().x(), c.bottom()));
}

void noGlyph(QPainter&, QRectF) {}

void browseGlyph(QPainter& p, QRectF c)
{
    QPainterPath folder;
    folder.moveTo(c.left(), c.bottom());
    folder.lineTo(c.left(), c.top() + c.height() * 0.15);
    folder.lineTo(c.left() + c.width() * 0.4, c.top() + c.height() * 0.15);
    folder.lineTo(c.left() + c.width() * 0.5, c.top() + c.height() * 0.3);
    folder.lineTo(c.right(), c.top() + c.height() * 0.3);
    folder.lineTo(c.right(), c.bottom());
    folder.closeSubpath();
    p.drawPath(folder);
}

// The viewer's previous and next arrows: a dark rounded plate with a chevron.
std::function<void(QPainter&, QRectF)> arrowButton(bool next, int state)
{
    return [next, state](QPainter& p, QRectF r) {
        p.setPen(Qt::NoPen);
        QColor plate(0, 0, 0, state == 1 ? 150 : state == 2 ? 190 : 110);
        if (state == 3)
            plate.setAlpha(50);
        p.setBrush(plate);
        p.drawRoundedRect(r.adjusted(2, 2, -2, -2), 8, 8);
        p.setPen(QPen(glyphColor(state), 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        const double cx = r.center().x(), cy = r.center().y(), w = r.width() * 0.16, h = r.height() * 0.2;
        const double dir = next ? 1 : -1;
        QPainterPath chevron;
        chevron.moveTo(cx - dir * w, cy - h);
        chevron.lineTo(cx + dir * w, cy);
        chevron.lineTo(cx - dir * w, cy + h);
        p.setBrush(Qt::NoBrush);
        p.drawPath(chevron);
    };
}

void titleBar(QPainter& p, QRectF r)
{
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0, QColor(58, 60, 64));
    g.setColorAt(1, QColor(38, 40, 43));
    p.fillRect(r, g);
    p.setPen(QColor(20, 20, 22));
    p.drawLine(r.bottomLeft() - QPointF(0, 0.5), r.bottomRight() - QPointF(0, 0.5));
}

void mainTile(QPainter& p, QRectF r)
{
    p.fillRect(r, QColor(24, 25, 27));
    p.setPen(QColor(30, 31, 34));
    for (double x = r.left(); x < r.right(); x += 4)
        p.drawPoint(QPointF(x + 1, r.top() + 1));
}

// A soft shadow around a rectangle inset by the slice sizes (left 9, top 12, right 12, bottom 21).
void pictureShadow(QPainter& p, QRectF r)
{
    const QRectF inner = r.adjusted(9, 12, -12, -21);
    for (int i = 8; i >= 1; --i) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0, 0, 0, 14));
        p.drawRoundedRect(inner.adjusted(-i + 2, -i + 3, i, i + 4), i, i);
    }
}

void badImage(QPainter& p, QRectF r)
{
    const QRectF frame = r.adjusted(16, 24, -16, -24);
    p.setPen(QPen(QColor(150, 150, 155), 3));
    p.setBrush(QColor(60, 62, 66));
    p.drawRoundedRect(frame, 6, 6);
    // A mountain with a crack through the picture.
    QPainterPath hills;
    hills.moveTo(frame.left() + 8, frame.bottom() - 10);
    hills.lineTo(frame.left() + frame.width() * 0.35, frame.top() + frame.height() * 0.45);
    hills.lineTo(frame.left() + frame.width() * 0.55, frame.bottom() - 22);
    hills.lineTo(frame.left() + frame.width() * 0.7, frame.top() + frame.height() * 0.55);
    hills.lineTo(frame.right() - 8, frame.bottom() - 10);
    p.setPen(QPen(QColor(150, 150, 155), 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(hills);
    p.setPen(QPen(QColor(220, 80, 70), 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    QPainterPath crack;
    crack.moveTo(frame.center().x() + 10, frame.top() - 6);
    crack.lineTo(frame.center().x() - 4, frame.center().y() - 6);
    crack.lineTo(frame.center().x() + 8, frame.center().y() + 4);
    crack.lineTo(frame.center().x() - 6, frame.bottom() + 6);
    p.drawPath(crack);
}

void openPicture(QPainter& p, QRectF r)
{
    // Two stacked photos and a plus: "open pictures here".
    p.setPen(QPen(QColor(120, 124, 130), 3));
    p.setBrush(QColor(50, 52, 56));
    p.save();
    p.translate(r.center());
    p.rotate(-8);
    p.drawRoundedRect(QRectF(-70, -50, 140, 100), 6, 6);
    p.restore();
    p.setBrush(QColor(64, 66, 71));
    p.drawRoundedRect(QRectF(r.center().x() - 70, r.center().y() - 48, 140, 100), 6, 6);
    p.setPen(QPen(kAccent, 6, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(r.center().x(), r.center().y() - 22), QPointF(r.center().x(), r.center().y() + 26));
    p.drawLine(QPointF(r.center().x() - 24, r.center().y() + 2), QPointF(r.center().x() + 24, r.center().y() + 2));
}

// A nine-slice push button background (slices 10 x 10) in the kit's R, P and D states.
std::function<void(QPainter&, QRectF)> wideButton(int state)
{
    return [state](QPainter& p, QRectF r) {
        QLinearGradient g(r.topLeft(), r.bottomLeft());
        QColor top = kAccent.lighter(state == 1 ? 120 : 100), bottom = kAccent.darker(state == 2 ? 150 : 125);
        if (state == 3) {
            top = QColor(90, 92, 96);
            bottom = QColor(70, 72, 76);
        }
        g.setColorAt(0, top);
        g.setColorAt(1, bottom);
        p.setPen(QPen(QColor(20, 40, 70), 1));
        p.setBrush(g);
        p.drawRoundedRect(r.adjusted(0.5, 0.5, -0.5, -0.5), 8, 8);
    };
}

void tipLine(QPainter& p, QRectF r, bool left)
{
    QLinearGradient g(r.topLeft(), r.topRight());
    g.setColorAt(left ? 0 : 1, QColor(255, 255, 255, 0));
    g.setColorAt(left ? 1 : 0, QColor(255, 255, 255, 200));
    p.fillRect(QRectF(r.left(), r.center().y() - 0.5, r.width(), 1), g);
}

void roundedPlate(QPainter& p, QRectF r, QColor fill, QColor border, double radius)
{
    p.setPen(QPen(border, 1));
    p.setBrush(fill);
    p.drawRoundedRect(r.adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);
}

void heart(QPainter& p, QRectF r, QColor color)
{
    QPainterPath path;
    const double w = r.width(), h = r.height();
    path.moveTo(r.left() + w / 2, r.bottom() - h * 0.1);
    path.cubicTo(r.left() - w * 0.1, r.top() + h * 0.5, r.left() + w * 0.15, r.top(), r.left() + w / 2, r.top() + h * 0.3);
    path.cubicTo(r.right() - w * 0.15, r.top(), r.right() + w * 0.1, r.top() + h * 0.5, r.left() + w / 2, r.bottom() - h * 0.1);
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    p.drawPath(path);
}

void moveCursor(QPainter& p, QRectF r)
{
    p.setPen(QPen(Qt::black, 3, Qt::SolidLine, Qt::RoundCap));
    const QPointF c = r.center();
    p.drawLine(QPointF(r.left() + 2, c.y()), QPointF(r.right() - 2, c.y()));
    p.drawLine(QPointF(c.x(), r.top() + 2), QPointF(c.x(), r.bottom() - 2));
    p.setPen(QPen(Qt::white, 1.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(r.left() + 2, c.y()), QPointF(r.right() - 2, c.y()));
    p.drawLine(QPointF(c.x(), r.top() + 2), QPointF(c.x(), r.bottom() - 2));
}

} // namespace

void appendWindowSkin(std::vector<SkinImage>& images)
{
    auto states = [&](const std::string& name, int w, int h, auto make) {
        for (int s = 0; s < 4; ++s)
            images.push_back({name + kStateSuffix[s], w, h, make(s)});
    };
    // Title bar and its buttons.
    images.push_back({"bg_title", 40, 22, titleBar});
    states("mode", 16, 16, [](int s) { return titleButton(modeGlyph, s); });
    states("mode_on", 16, 16, [](int s) { return titleButton(modeOnGlyph, s); });
    states("fullscreen", 16, 16, [](int s) { return titleButton(fullScreenGlyph, s); });
    states("feedback", 16, 16, [](int s) { return titleButton(feedbackGlyph, s); });
    // The mini window's close, minimise and zoom buttons: their marks, and the bare plate they
    // show while the pointer is away from them.
    states("bt_winclose", 14, 14, [](int s) { return titleButton(closeGlyph, s); });
    states("bt_winminimize", 14, 14, [](int s) { return titleButton(minimizeGlyph, s); });
    states("bt_winzoom", 14, 14, [](int s) { return titleButton(zoomGlyph, s); });
    images.push_back({"bt_winplate", 14, 14, titleButton(noGlyph, 0)});
    // Window background, empty state and its Open button.
    images.push_back({"bg_maintile", 16, 16, mainTile});
    images.push_back({"img_open", 200, 150, openPicture});
    const char* const wideSuffix[4] = {"", "r", "p", "d"};
    for (int s = 0; s < 4; ++s)
        images.push_back({std::string("bt_open") + wideSuffix[s], 40, 30, wideButton(s)});
    // The viewer: arrows, the image's drop shadow and the picture of a file that cannot be shown.
    states("nav_prev", 48, 72, [](int s) { return arrowButton(false, s); });
    states("nav_next", 48, 72, [](int s) { return arrowButton(true, s); });
    images.push_back({"bg_picshadow", 41, 53, pictureShadow});
    images.push_back({"img_bad", 160, 160, badImage});
    // Tips, the batch sheets' folder button, the progress bar's knob and the navigation cursor.
    images.push_back({"tip_line_left", 60, 9, [](QPainter& p, QRectF r) { tipLine(p, r, true); }});
    images.push_back({"tip_line_right", 60, 9, [](QPainter& p, QRectF r) { tipLine(p, r, false); }});
    states("e_tip_close", 14, 14, [](int s) { return titleButton(closeGlyph, s); });
    states("icon_browse", 20, 20, [](int s) { return titleButton(browseGlyph, s); });
    states("bt_itmrmv", 18, 18, [](int s) { return titleButton(closeGlyph, s); });
    images.push_back({"bt_process", 12, 12, [](QPainter& p, QRectF r) { roundedPlate(p, r, kAccent, kAccent.darker(140), 4); }});
    images.push_back({"bg_process", 12, 12, [](QPainter& p, QRectF r) { roundedPlate(p, r, kPanel, QColor(90, 94, 100), 4); }});
    images.push_back({"movecursor", 20, 20, moveCursor});
    // The default-viewer tip: its plate and its accent OK button (R, P and D states).
    images.push_back({"bg_tip_default", 12, 12, [](QPainter& p, QRectF r) {
                          roundedPlate(p, r, QColor(43, 45, 48, 240), QColor(90, 94, 100), 5);
                      }});
    for (int s = 0; s < 4; ++s)
        images.push_back({std::string("bt_dlgshare") + wideSuffix[s], 40, 30, wideButton(s)});
    // The viewer's status line ("NN%", "Loading...", a file that cannot be shown): a dark plate
    // that keeps the light text readable over any photo (nine-slice, 9 points at the edges).
    images.push_back({"bg_zoominfo", 24, 24, [](QPainter& p, QRectF r) {
                          roundedPlate(p, r, QColor(20, 21, 23, 200), QColor(255, 255, 255, 40), 8);
                      }});
    // The intro tips' mask: a dimmed window with a clear spot where the tip points (nine-slice,
    // one point at the edges).
    images.push_back({"bg_tip_mask", 180, 180, [](QPainter& p, QRectF r) {
                          p.fillRect(r, QColor(0, 0, 0, 150));
                          p.setCompositionMode(QPainter::CompositionMode_Clear);
                          p.setPen(Qt::NoPen);
                          p.setBrush(Qt::black);
                          p.drawEllipse(r.center(), 60, 60);
                      }});
    // The photo bin: strip, item frames and the favourite mark.
    images.push_back({"bg_photobin", 20, 40, [](QPainter& p, QRectF r) { p.fillRect(r, QColor(30, 31, 34, 235)); }});
    images.push_back({"bg_photobinitem", 12, 12, [](QPainter& p, QRectF r) {
                          roundedPlate(p, r, QColor(255, 255, 255, 30), QColor(255, 255, 255, 60), 3);
                      }});
    // The current item's frame and the one under the pointer: the cells cut them 10 points from
    // each edge, so they are drawn larger than twice that, or the middle of each side is lost.
    images.push_back({"bg_binthumb", 24, 24, [](QPainter& p, QRectF r) {
                          roundedPlate(p, r, QColor(0, 0, 0, 0), QColor(255, 255, 255, 80), 3);
                      }});
    images.push_back({"bg_binthumb_roll", 24, 24, [](QPainter& p, QRectF r) {
                          roundedPlate(p, r, QColor(0, 0, 0, 0), kAccent, 3);
                      }});
    images.push_back({"e_photobin_love", 12, 12, [](QPainter& p, QRectF r) { heart(p, r.adjusted(1, 1, -1, -1), QColor(235, 70, 90)); }});
}
