// Draws the dark skin of the control kit. Every image is vector code, painted once at 1x and once
// at 2x, and written as "<name>.png" and "<name>@2x.png" (names in lower case, as the kit looks
// them up). Usage: kpv_skin_gen <output folder>

#include "SkinImage.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QSaveFile>
#include <QTransform>
#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace {

// The palette of the skin.
const QColor kPanel(43, 45, 48, 245);
const QColor kPanelBorder(90, 94, 100);
const QColor kButtonTop(78, 82, 88);
const QColor kButtonBottom(58, 61, 66);
const QColor kAccent(64, 156, 255);
const QColor kGlyph(225, 228, 232);

void roundedFill(QPainter& p, QRectF r, double radius, const QColor& top, const QColor& bottom,
                 const QColor& border)
{
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0, top);
    g.setColorAt(1, bottom);
    p.setPen(QPen(border, 1));
    p.setBrush(g);
    p.drawRoundedRect(r.adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);
}

// A dialog button in one of its states: 0 normal, 1 roll-over, 2 pressed, 3 disabled.
std::function<void(QPainter&, QRectF)> dialogButton(int state, bool on)
{
    return [state, on](QPainter& p, QRectF r) {
        QColor top = on ? kAccent : kButtonTop;
        QColor bottom = on ? kAccent.darker(130) : kButtonBottom;
        if (state == 1) {
            top = top.lighter(120);
            bottom = bottom.lighter(120);
        } else if (state == 2) {
            std::swap(top, bottom);
            top = top.darker(115);
        } else if (state == 3) {
            top.setAlpha(110);
            bottom.setAlpha(110);
        }
        roundedFill(p, r, 5, top, bottom, state == 3 ? kPanelBorder.darker(150) : kPanelBorder);
    };
}

std::function<void(QPainter&, QRectF)> closeButton(int state)
{
    return [state](QPainter& p, QRectF r) {
        QColor fill = state == 0 ? QColor(90, 94, 100) : state == 1 ? QColor(220, 80, 70) : QColor(170, 55, 48);
        p.setPen(Qt::NoPen);
        p.setBrush(fill);
        p.drawEllipse(r.adjusted(1, 1, -1, -1));
        p.setPen(QPen(kGlyph, 1.6, Qt::SolidLine, Qt::RoundCap));
        const QRectF c = r.adjusted(r.width() * 0.33, r.height() * 0.33, -r.width() * 0.33, -r.height() * 0.33);
        p.drawLine(c.topLeft(), c.bottomRight());
        p.drawLine(c.topRight(), c.bottomLeft());
    };
}

std::function<void(QPainter&, QRectF)> knob(int state)
{
    return [state](QPainter& p, QRectF r) {
        QColor c = state == 0 ? QColor(200, 204, 210) : state == 1 ? QColor(240, 242, 245) : kAccent;
        p.setPen(QPen(QColor(30, 30, 32), 1));
        p.setBrush(c);
        p.drawEllipse(r.adjusted(1, 1, -1, -1));
    };
}

// Check boxes (`radio` false) and radio buttons in a state, ticked or not.
std::function<void(QPainter&, QRectF)> checkMark(bool radio, int state, bool on)
{
    return [=](QPainter& p, QRectF r) {
        QRectF box = r.adjusted(1, 1, -1, -1);
        QColor fill = on ? kAccent : QColor(60, 63, 68);
        if (state == 1)
            fill = fill.lighter(120);
        else if (state == 2)
            fill = fill.darker(120);
        else if (state == 3)
            fill.setAlpha(100);
        p.setPen(QPen(kPanelBorder, 1));
        p.setBrush(fill);
        if (radio)
            p.drawEllipse(box);
        else
            p.drawRoundedRect(box, 3, 3);
        if (!on)
            return;
        p.setPen(QPen(state == 3 ? QColor(200, 200, 200, 120) : kGlyph, 1.8, Qt::SolidLine, Qt::RoundCap));
        p.setBrush(radio ? kGlyph : Qt::NoBrush);
        if (radio) {
            p.setPen(Qt::NoPen);
            p.drawEllipse(box.center(), box.width() * 0.2, box.height() * 0.2);
        } else {
            QPainterPath tick;
            tick.moveTo(box.left() + box.width() * 0.25, box.center().y());
            tick.lineTo(box.left() + box.width() * 0.45, box.bottom() - box.height() * 0.25);
            tick.lineTo(box.right() - box.width() * 0.2, box.top() + box.height() * 0.25);
            p.drawPath(tick);
        }
    };
}

// The pop-up bin: a panel with a downward arrow in the middle of its bottom band. The arrow sits
// in the 20-point column between the two stretching columns, so it stays centred at any width.
void popBin(QPainter& p, QRectF r)
{
    const double arrowH = 8;
    const QRectF body = r.adjusted(2, 2, -2, -(2 + arrowH));
    QPainterPath path;
    path.addRoundedRect(body.adjusted(0.5, 0.5, -0.5, -0.5), 7, 7);
    QPainterPath arrow;
    const double cx = r.center().x();
    arrow.moveTo(cx - 8, body.bottom() - 1);
    arrow.lineTo(cx, body.bottom() + arrowH - 0.5);
    arrow.lineTo(cx + 8, body.bottom() - 1);
    arrow.closeSubpath();
    path = path.united(arrow);
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0, kPanel);
    g.setColorAt(1, kPanel.darker(110));
    p.setPen(QPen(kPanelBorder, 1));
    p.setBrush(g);
    p.drawPath(path);
}

// The shadow frame around a browser thumbnail: a soft shadow falling to the lower right, with a
// clear centre where the thumbnail shows. The selected frame adds an accent outline.
std::function<void(QPainter&, QRectF)> thumbShadow(bool selected)
{
    return [selected](QPainter& p, QRectF r) {
        // The grids place this frame 7 and 6 pixels outside the picture's left and top edges and
        // 12 outside its right and bottom ones: the hole for the picture lies exactly there, so
        // that the shadow and the outline fall around the picture, not over it. The slices (15,
        // 15, 19, 18) keep the corners whole.
        const QRectF thumb = r.adjusted(7, 6, -12, -12);
        p.setPen(Qt::NoPen);
        for (int i = 8; i >= 1; --i) {
            QColor c(0, 0, 0, 10 + (8 - i) * 6);
            p.setBrush(c);
            p.drawRoundedRect(thumb.adjusted(-i + 2, -i + 3, i + 2, i + 3), i, i);
        }
        p.setCompositionMode(QPainter::CompositionMode_Clear);
        p.setBrush(Qt::black);
        p.drawRect(thumb);
        p.setCompositionMode(QPainter::CompositionMode_SourceOver);
        p.setBrush(Qt::NoBrush);
        if (selected) {
            p.setPen(QPen(kAccent, 3));
            p.drawRoundedRect(thumb.adjusted(-4.5, -4.5, 4.5, 4.5), 4, 4);
        } else {
            p.setPen(QPen(QColor(255, 255, 255, 60), 1));
            p.drawRect(thumb.adjusted(-0.5, -0.5, 0.5, 0.5));
        }
    };
}

// The glyph of a view-mode toolbar button, drawn in a square of side 1 (scaled by the caller).
void toolbarGlyph(QPainter& p, const std::string& givenName)
{
    // Crop mode's and the batch tools' buttons share the viewer's glyphs where they mean the same.
    std::string name = givenName;
    if (name == "icon_cpcrop" || name == "e_ccrop" || name == "icon_itmresize")
        name = "e_crop";
    else if (name == "e_clove")
        name = "e_love";
    QPainterPath path;
    if (name == "icon_cprotate") {
        // A three-quarter ring with an arrow head.
        path.arcMoveTo(0.2, 0.2, 0.6, 0.6, 90);
        path.arcTo(0.2, 0.2, 0.6, 0.6, 90, 270);
        QPainterPathStroker stroker;
        stroker.setWidth(0.1);
        QPainterPath ring = stroker.createStroke(path);
        ring.moveTo(0.5, 0.08);
        ring.lineTo(0.66, 0.2);
        ring.lineTo(0.5, 0.32);
        ring.closeSubpath();
        path = ring;
    } else if (name == "icon_cpclose" || name == "e_cclose") {
        path.moveTo(0.25, 0.3); path.lineTo(0.3, 0.25); path.lineTo(0.75, 0.7); path.lineTo(0.7, 0.75); path.closeSubpath();
        path.moveTo(0.7, 0.25); path.lineTo(0.75, 0.3); path.lineTo(0.3, 0.75); path.lineTo(0.25, 0.7); path.closeSubpath();
    } else if (name == "e_ccopy") {
        path.addRect(0.2, 0.2, 0.45, 0.45);
        path.addRect(0.35, 0.35, 0.45, 0.45);
    } else if (name == "e_save") {
        path.addRect(0.2, 0.2, 0.6, 0.6);
        path.addRect(0.32, 0.2, 0.36, 0.2);
    } else if (name == "icon_itmconvert") {
        path.addRect(0.15, 0.3, 0.7, 0.5);
        path.addRect(0.15, 0.22, 0.3, 0.1);
    } else if (name == "icon_itmrename") {
        path.addRect(0.15, 0.45, 0.7, 0.1);
        path.addRect(0.15, 0.3, 0.1, 0.4);
    } else if (name == "e_batch") {
        // A stack of three pictures.
        for (int i = 0; i < 3; ++i)
            path.addRect(0.16 + i * 0.1, 0.5 - i * 0.12, 0.48, 0.3);
    } else if (name == "e_thumbnail") {
        for (int i = 0; i < 2; ++i)
            for (int j = 0; j < 2; ++j)
                path.addRect(0.2 + i * 0.32, 0.2 + j * 0.32, 0.26, 0.26);
    } else if (name == "e_thumbbin") {
        path.addRect(0.15, 0.55, 0.7, 0.25);
        path.addRect(0.15, 0.2, 0.7, 0.25);
    } else if (name == "mode") {
        // A window frame with a small window in its corner: the switch between the two sizes.
        path.addRect(0.15, 0.22, 0.7, 0.56);
        path.addRect(0.23, 0.3, 0.54, 0.4);
        path.addRect(0.48, 0.48, 0.22, 0.16);
    } else if (name == "e_info") {
        path.addEllipse(QPointF(0.5, 0.27), 0.07, 0.07);
        path.addRect(0.44, 0.42, 0.12, 0.38);
    } else if (name == "e_zoom_out" || name == "e_zoom_in") {
        path.addRect(0.2, 0.45, 0.6, 0.1);
        if (name == "e_zoom_in")
            path.addRect(0.45, 0.2, 0.1, 0.6);
    } else if (name == "e_actualsize") {
        path.addRect(0.22, 0.22, 0.56, 0.56);
        path.addRect(0.34, 0.34, 0.32, 0.32);
    } else if (name == "ss_pause") {
        path.addRect(0.28, 0.22, 0.14, 0.56);
        path.addRect(0.58, 0.22, 0.14, 0.56);
    } else if (name == "ss_exit") {
        // A cross of two bars.
        QPainterPath bar;
        bar.addRect(-0.07, -0.34, 0.14, 0.68);
        for (double angle : {45.0, -45.0}) {
            QTransform t;
            t.translate(0.5, 0.5);
            t.rotate(angle);
            path.addPath(t.map(bar));
        }
        path.setFillRule(Qt::WindingFill);
    } else if (name == "ss_theme") {
        // Two overlapping slides.
        path.addRect(0.14, 0.22, 0.5, 0.36);
        path.addRect(0.36, 0.42, 0.5, 0.36);
        path.setFillRule(Qt::WindingFill);
    } else if (name == "ss_music") {
        // A quaver: head, stem and flag.
        path.addEllipse(QPointF(0.36, 0.7), 0.13, 0.1);
        path.addRect(0.45, 0.2, 0.07, 0.5);
        path.moveTo(0.52, 0.2);
        path.lineTo(0.78, 0.34);
        path.lineTo(0.78, 0.44);
        path.lineTo(0.52, 0.32);
        path.closeSubpath();
        path.setFillRule(Qt::WindingFill);
    } else if (name == "e_prev" || name == "e_next" || name == "e_play" || name == "ss_play") {
        const bool left = name == "e_prev";
        path.moveTo(left ? 0.7 : 0.3, 0.2);
        path.lineTo(left ? 0.3 : 0.7, 0.5);
        path.lineTo(left ? 0.7 : 0.3, 0.8);
        path.closeSubpath();
    } else if (name == "e_crop") {
        path.addRect(0.25, 0.1, 0.1, 0.65);
        path.addRect(0.25, 0.65, 0.65, 0.1);
        path.addRect(0.1, 0.25, 0.65, 0.1);
        path.addRect(0.65, 0.25, 0.1, 0.65);
    } else if (name == "e_delete") {
        path.addRect(0.25, 0.3, 0.5, 0.55);
        path.addRect(0.18, 0.18, 0.64, 0.08);
    } else if (name == "e_more" || name == "e_more_share") {
        for (int i = 0; i < 3; ++i)
            path.addEllipse(QPointF(0.25 + i * 0.25, 0.5), 0.07, 0.07);
    } else if (name == "icon_rotatel" || name == "icon_rotater") {
        // A three-quarter ring whose arrow head points the way of the turn.
        const bool left = name == "icon_rotatel";
        QPainterPath arc;
        arc.arcMoveTo(0.2, 0.25, 0.6, 0.6, 90);
        arc.arcTo(0.2, 0.25, 0.6, 0.6, 90, left ? 270 : -270);
        QPainterPathStroker stroker;
        stroker.setWidth(0.12);
        path = stroker.createStroke(arc);
        const double x = 0.5;
        path.moveTo(left ? x - 0.2 : x + 0.2, 0.25);
        path.lineTo(x, 0.08);
        path.lineTo(x, 0.42);
        path.closeSubpath();
        path.setFillRule(Qt::WindingFill);
    } else if (name == "icon_mirrorh" || name == "icon_mirrorv") {
        // Two triangles mirrored across a dashed axis (upright for left and right, lying for top
        // and bottom).
        const bool h = name == "icon_mirrorh";
        auto at = [h](double along, double across) { return h ? QPointF(across, along) : QPointF(along, across); };
        path.moveTo(at(0.2, 0.42));
        path.lineTo(at(0.8, 0.42));
        path.lineTo(at(0.8, 0.1));
        path.closeSubpath();
        path.moveTo(at(0.2, 0.58));
        path.lineTo(at(0.8, 0.58));
        path.lineTo(at(0.8, 0.9));
        path.closeSubpath();
        for (int i = 0; i < 4; ++i) {
            const QPointF a = at(0.1 + i * 0.22, 0.47), b = at(0.22 + i * 0.22, 0.53);
            path.addRect(QRectF(a, b).normalized());
        }
    } else if (name == "e_email") {
        // An envelope.
        path.addRect(0.15, 0.28, 0.7, 0.46);
        QPainterPath flap;
        flap.moveTo(0.15, 0.28);
        flap.lineTo(0.5, 0.56);
        flap.lineTo(0.85, 0.28);
        QPainterPathStroker stroker;
        stroker.setWidth(0.08);
        path = path.subtracted(stroker.createStroke(flap));
    } else if (name == "e_facebook" || name == "e_tumblr") {
        // A small letter in a rounded square: "f" and "t".
        QPainterPath box;
        box.addRoundedRect(0.15, 0.15, 0.7, 0.7, 0.14, 0.14);
        QPainterPath letter;
        if (name == "e_facebook") {
            letter.addRect(0.45, 0.27, 0.12, 0.58);
            letter.addRect(0.34, 0.45, 0.32, 0.1);
            letter.addRect(0.45, 0.27, 0.24, 0.1);
        } else {
            letter.addRect(0.44, 0.24, 0.12, 0.48);
            letter.addRect(0.34, 0.38, 0.32, 0.1);
            letter.addRect(0.44, 0.62, 0.24, 0.1);
        }
        letter.setFillRule(Qt::WindingFill);
        path = box.subtracted(letter.simplified());
    } else if (name == "e_flick") {
        // Two dots side by side.
        path.addEllipse(QPointF(0.32, 0.5), 0.16, 0.16);
        path.addEllipse(QPointF(0.68, 0.5), 0.16, 0.16);
    } else if (name == "e_twitter") {
        // A speech bubble.
        path.addRoundedRect(0.15, 0.2, 0.7, 0.45, 0.15, 0.15);
        path.moveTo(0.3, 0.6);
        path.lineTo(0.26, 0.82);
        path.lineTo(0.48, 0.62);
        path.closeSubpath();
        path.setFillRule(Qt::WindingFill);
    } else if (name == "e_iphoto") {
        // A picture: a frame with a hill and a sun.
        QPainterPath frame, inner, hill, sun;
        frame.addRect(0.15, 0.22, 0.7, 0.56);
        inner.addRect(0.22, 0.29, 0.56, 0.42);
        hill.moveTo(0.22, 0.71);
        hill.lineTo(0.45, 0.45);
        hill.lineTo(0.62, 0.62);
        hill.lineTo(0.78, 0.5);
        hill.lineTo(0.78, 0.71);
        hill.closeSubpath();
        sun.addEllipse(QPointF(0.64, 0.4), 0.06, 0.06);
        path = frame.subtracted(inner).united(hill).united(sun);
    } else if (name == "e_love") {
        path.moveTo(0.5, 0.85);
        path.cubicTo(0.0, 0.5, 0.15, 0.1, 0.5, 0.33);
        path.cubicTo(0.85, 0.1, 1.0, 0.5, 0.5, 0.85);
    } else {
        // Share targets: a box with an arrow leaving it.
        path.addRect(0.2, 0.45, 0.6, 0.38);
        path.moveTo(0.5, 0.12);
        path.lineTo(0.7, 0.35);
        path.lineTo(0.3, 0.35);
        path.closeSubpath();
    }
    p.setPen(Qt::NoPen);
    p.fillPath(path, p.brush());
}

// A view-mode toolbar button: no frame, the glyph in the skin's glyph colour (accent when on),
// lighter under the pointer, darker pressed, faint disabled.
std::function<void(QPainter&, QRectF)> toolbarButton(std::string name, int state, bool on)
{
    return [name, state, on](QPainter& p, QRectF r) {
        QColor c = on ? kAccent : kGlyph;
        if (state == 1)
            c = c.lighter(125);
        else if (state == 2)
            c = c.darker(135);
        else if (state == 3)
            c.setAlpha(90);
        if (state == 1 || state == 2)
            roundedFill(p, r.adjusted(1, 1, -1, -1), 4, QColor(255, 255, 255, state == 1 ? 24 : 12),
                        QColor(255, 255, 255, state == 1 ? 16 : 8), Qt::transparent);
        p.save();
        p.translate(r.topLeft());
        p.scale(r.width(), r.height());
        p.setBrush(c);
        toolbarGlyph(p, name);
        p.restore();
    };
}

std::vector<SkinImage> skin()
{
    std::vector<SkinImage> images = {
        {"bg_popwin", 40, 40,
         [](QPainter& p, QRectF r) { roundedFill(p, r.adjusted(2, 2, -2, -2), 8, kPanel, kPanel.darker(110), kPanelBorder); }},
        {"bg_zoom", 60, 6,
         [](QPainter& p, QRectF r) { roundedFill(p, r.adjusted(0, 1, 0, -1), 2, QColor(30, 31, 33), QColor(50, 52, 55), QColor(20, 20, 22)); }},
        {"bg_progress", 40, 8,
         [](QPainter& p, QRectF r) { roundedFill(p, r, 4, QColor(30, 31, 33), QColor(46, 48, 51), QColor(20, 20, 22)); }},
        {"progress_bar", 20, 8,
         [](QPainter& p, QRectF r) { roundedFill(p, r, 4, kAccent.lighter(115), kAccent.darker(115), kAccent.darker(140)); }},
        {"bt_scrpicthm", 8, 30,
         [](QPainter& p, QRectF r) { roundedFill(p, r.adjusted(1, 0, -1, 0), 3, QColor(120, 124, 130, 160), QColor(120, 124, 130, 160), Qt::transparent); }},
        {"bt_scrpicthmr", 8, 30,
         [](QPainter& p, QRectF r) { roundedFill(p, r.adjusted(1, 0, -1, 0), 3, QColor(180, 184, 190, 220), QColor(180, 184, 190, 220), Qt::transparent); }},
        {"tm_zoom", 12, 12, knob(0)},
        {"tm_zoomr", 12, 12, knob(1)},
        {"tm_zoomp", 12, 12, knob(2)},
        {"bg_popbin", 60, 36, popBin},
        {"bg_thumshadow", 40, 40, thumbShadow(false)},
        {"bg_thumshadow_on", 40, 40, thumbShadow(true)},
        {"bg_popwin_info", 40, 40,
         [](QPainter& p, QRectF r) { roundedFill(p, r.adjusted(2, 2, -2, -2), 8, kPanel, kPanel.darker(110), kPanelBorder); }},
        {"bg_option", 12, 12,
         [](QPainter& p, QRectF r) { roundedFill(p, r, 3, QColor(33, 35, 38), QColor(30, 31, 34), QColor(70, 73, 78)); }},
        {"bg_picexif", 24, 24,
         [](QPainter& p, QRectF r) { roundedFill(p, r.adjusted(1, 1, -1, -1), 4, QColor(28, 29, 31), QColor(28, 29, 31), QColor(70, 73, 78)); }},
        {"bg_nvimage", 10, 10,
         [](QPainter& p, QRectF r) { roundedFill(p, r, 2, QColor(28, 29, 31), QColor(28, 29, 31), QColor(70, 73, 78)); }},
        {"bg_info", 16, 16,
         [](QPainter& p, QRectF r) { roundedFill(p, r, 3, QColor(20, 21, 23), QColor(20, 21, 23), QColor(70, 73, 78)); }},
        {"bg_exiftile", 8, 8, [](QPainter& p, QRectF r) { p.fillRect(r, QColor(38, 40, 43)); }},
        // The navigation frame: a bright outline with a faint fill, drawn over the thumbnail.
        {"bg_nv", 24, 24,
         [](QPainter& p, QRectF r) { roundedFill(p, r.adjusted(1, 1, -1, -1), 2, QColor(255, 255, 255, 30), QColor(255, 255, 255, 30), kAccent.lighter(120)); }},
        {"close", 16, 16, closeButton(0)},
        {"close_roll", 16, 16, closeButton(1)},
        {"close_push", 16, 16, closeButton(2)},
    };
    const char* dlgSuffix[4] = {"", "r", "p", "d"};
    for (int on = 0; on < 2; ++on)
        for (int s = 0; s < 4; ++s) {
            images.push_back({std::string("bt_dlg") + (on ? "_on" : "") + dlgSuffix[s], 30, 24, dialogButton(s, on)});
            images.push_back({std::string("bt_option") + (on ? "_on" : "") + dlgSuffix[s], 30, 24, dialogButton(s, on)});
        }
    const char* stateSuffix[4] = {"", "_roll", "_push", "_disable"};
    for (int radio = 0; radio < 2; ++radio)
        for (int on = 0; on < 2; ++on)
            for (int s = 0; s < 4; ++s) {
                for (const char* base : {radio ? "bt_radio" : "bt_check", radio ? "icon_rado" : "icon_chck"})
                    images.push_back({std::string(base) + (on ? "_on" : "") + stateSuffix[s], 14, 14, checkMark(radio, s, on)});
            }
    // The view-mode toolbar's buttons; those with an on state get the "_on" set too.
    const std::pair<const char*, bool> toolbar[] = {
        {"e_thumbnail", false}, {"e_thumbbin", true}, {"e_info", false}, {"e_zoom_out", false},
        {"e_zoom_in", false}, {"e_actualsize", true}, {"e_prev", false}, {"e_play", false},
        {"e_next", false}, {"e_crop", false}, {"e_delete", false}, {"e_more_share", true},
        {"e_more", true}, {"e_love", true}, {"e_share", true}, {"e_facebook", true}, {"e_flick", true},
        {"e_twitter", true}, {"e_tumblr", true}, {"e_email", true}, {"e_iphoto", true},
        // The slideshow's controls.
        {"ss_pause", false}, {"ss_play", false}, {"ss_theme", false}, {"ss_music", false}, {"ss_exit", false},
        {"mode", true},
    };
    for (const auto& [name, hasOn] : toolbar)
        for (int on = 0; on < (hasOn ? 2 : 1); ++on)
            for (int s = 0; s < 4; ++s)
                images.push_back({std::string(name) + (on ? "_on" : "") + stateSuffix[s], 28, 28, toolbarButton(name, s, on)});
    // Crop mode's toolbars and the batch pop-up's icons.
    for (const char* name : {"icon_cprotate", "icon_cpcrop", "icon_cpclose", "e_ccrop", "e_clove", "e_ccopy", "e_save",
                             "e_cclose", "e_batch"})
        for (int s = 0; s < 4; ++s)
            images.push_back({std::string(name) + stateSuffix[s], 28, 28, toolbarButton(name, s, false)});
    for (const char* name : {"icon_itmrename", "icon_itmresize", "icon_itmconvert", "icon_rotatel", "icon_rotater",
                             "icon_mirrorh", "icon_mirrorv"})
        images.push_back({name, 16, 16, toolbarButton(name, 0, false)});
    appendWindowSkin(images);
    appendCropSkin(images);
    appendBinSkin(images);
    // The Navigation panel's cursor over its frame: four arrows pointing out from the centre.
    images.push_back({"movecursor", 20, 20, [](QPainter& p, QRectF r) {
        const QPointF c = r.center();
        const double a = r.width() / 2 - 1;
        QPainterPath path;
        for (int turn = 0; turn < 4; ++turn) {
            QTransform t;
            t.translate(c.x(), c.y());
            t.rotate(90.0 * turn);
            path.addPolygon(t.map(QPolygonF({QPointF(0, -a), QPointF(4, -a + 5), QPointF(1.2, -a + 5), QPointF(1.2, 0),
                                              QPointF(-1.2, 0), QPointF(-1.2, -a + 5), QPointF(-4, -a + 5)})));
        }
        p.setPen(QPen(Qt::black, 1.2));
        p.setBrush(Qt::white);
        p.drawPath(path.simplified());
    }});
    // The accounts window's site icons share the toolbar's site glyphs.
    const std::pair<const char*, const char*> siteIcons[] = {
        {"facebook icon", "e_facebook"}, {"flickr icon", "e_flick"}, {"twitter icon", "e_twitter"}, {"tumblr icon", "e_tumblr"}};
    for (const auto& [icon, glyph] : siteIcons)
        images.push_back({icon, 28, 28, toolbarButton(glyph, 0, false)});
    return images;
}

bool write(const QImage& img, const QString& path)
{
    QSaveFile f(path); // a temporary file renamed over the old one
    if (!f.open(QIODevice::WriteOnly) || !img.save(&f, "PNG"))
        return false;
    return f.commit();
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: kpv_skin_gen <output folder>\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(out)) {
        std::fprintf(stderr, "kpv_skin_gen: cannot create %s\n", argv[1]);
        return 1;
    }
    for (const SkinImage& s : skin()) {
        for (int scale = 1; scale <= 2; ++scale) {
            QImage img(s.width * scale, s.height * scale, QImage::Format_ARGB32_Premultiplied);
            img.fill(Qt::transparent);
            {
                QPainter p(&img);
                p.setRenderHint(QPainter::Antialiasing);
                p.scale(scale, scale);
                s.paint(p, QRectF(0, 0, s.width, s.height));
            }
            const QString path = out + "/" + QString::fromStdString(s.name) + (scale == 2 ? "@2x" : "") + ".png";
            if (!write(img, path)) {
                std::fprintf(stderr, "kpv_skin_gen: cannot write %s\n", qPrintable(path));
                return 1;
            }
        }
    }
    return 0;
}
