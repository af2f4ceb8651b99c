#pragma once
// Colours with components in 0..1, and the fonts of text drawing.

#include <QColor>
#include <QFont>
#include <QGuiApplication>
#include <QPalette>
#include <QString>

#include <algorithm>
#include <cmath>

namespace kpv {

class Color {
public:
    Color() = default;
    Color(double r, double g, double b, double a = 1.0) : m_r(r), m_g(g), m_b(b), m_a(a), m_valid(true) {}
    static Color fromQColor(const QColor& c) { return Color(c.redF(), c.greenF(), c.blueF(), c.alphaF()); }
    static Color clearColor() { return Color(0, 0, 0, 0); }
    static Color blackColor() { return Color(0, 0, 0); }
    static Color whiteColor() { return Color(1, 1, 1); }
    // Text of a control that cannot be used: a mid grey that reads on the dark skin.
    static Color disabledControlTextColor() { return Color(0.5, 0.5, 0.5); }
    static Color controlTextColor() { return Color(0.9, 0.9, 0.9); }
    // Text inside the desktop's own dialogs (the open and save panels), which follow the desktop's
    // theme rather than our dark skin.
    static Color panelTextColor() { return fromQColor(QGuiApplication::palette().color(QPalette::WindowText)); }

    bool isValid() const { return m_valid; }
    double red() const { return m_r; }
    double green() const { return m_g; }
    double blue() const { return m_b; }
    double alpha() const { return m_a; }
    Color withAlpha(double a) const { return Color(m_r, m_g, m_b, a); }
    QColor toQColor() const { return m_valid ? QColor::fromRgbF(m_r, m_g, m_b, m_a) : QColor(); }
    friend bool operator==(const Color&, const Color&) = default;

private:
    double m_r = 0, m_g = 0, m_b = 0, m_a = 0;
    bool m_valid = false;
};

class Font {
public:
    Font() = default;
    explicit Font(double pointSize, bool bold = false, const QString& family = QString())
        : m_size(pointSize), m_bold(bold), m_family(family) {}
    static Font systemFontOfSize(double size) { return Font(size); }
    static Font boldSystemFontOfSize(double size) { return Font(size, true); }

    double pointSize() const { return m_size; }
    bool isBold() const { return m_bold; }
    const QString& family() const { return m_family; }
    QFont toQFont() const
    {
        QFont f;
        if (!m_family.isEmpty())
            f.setFamily(m_family);
        // A size counts in the same points as every rectangle, one to a logical pixel, whatever
        // the screen's dots per inch: a 13 is 13 pixels high and fits the 17-pixel rows laid out
        // for it, descenders and underscores included.
        f.setPixelSize(std::max(1, int(std::lround(m_size))));
        f.setBold(m_bold);
        return f;
    }
    friend bool operator==(const Font&, const Font&) = default;

private:
    double m_size = 13;
    bool m_bold = false;
    QString m_family;
};

} // namespace kpv
