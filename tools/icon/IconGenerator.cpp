// Draws the program's icon: a framed landscape on a dark tile. The shapes are described once and
// written twice: as PNG files at the sizes of the desktop's icon theme, and as an SVG file that
// scales to any size. Usage: kpv_icon_gen <icon theme folder> <window icon file>
// writes <folder>/<n>x<n>/apps/org.kestrane.viewer.png for each size, and
// <folder>/scalable/apps/org.kestrane.viewer.svg.

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QSaveFile>

#include <cstdio>
#include <vector>

namespace {

constexpr double kCanvas = 512;
const char* const kIconName = "org.kestrane.viewer";

struct Stop {
    double at;
    QColor color;
};

// One filled shape in the 512-unit canvas: a rounded rectangle, a circle or a closed polygon,
// filled with a vertical gradient (one stop is a flat colour).
struct Shape {
    enum Kind { RoundRect, Circle, Polygon } kind;
    QRectF rect;                 // RoundRect, Circle (its bounding square)
    double radius = 0;           // RoundRect
    std::vector<QPointF> points; // Polygon
    std::vector<Stop> fill;
};

std::vector<Shape> iconShapes()
{
    std::vector<Shape> s;
    // The tile.
    s.push_back({Shape::RoundRect, QRectF(32, 32, 448, 448), 96, {},
                 {{0, QColor(0x3a, 0x4a, 0x66)}, {1, QColor(0x16, 0x1c, 0x2a)}}});
    // The print's white border.
    s.push_back({Shape::RoundRect, QRectF(88, 120, 336, 272), 20, {}, {{0, QColor(0xf6, 0xf2, 0xea)}}});
    // Sky.
    s.push_back({Shape::RoundRect, QRectF(112, 144, 288, 224), 8, {},
                 {{0, QColor(0x6f, 0xa8, 0xdc)}, {1, QColor(0xd4, 0xe9, 0xf7)}}});
    // Sun.
    s.push_back({Shape::Circle, QRectF(296, 168, 72, 72), 0, {}, {{0, QColor(0xff, 0xc8, 0x3d)}}});
    // Far range.
    s.push_back({Shape::Polygon, {}, 0,
                 {{112, 330}, {196, 226}, {252, 290}, {300, 244}, {400, 334}, {400, 368}, {112, 368}},
                 {{0, QColor(0x5d, 0x86, 0x6c)}, {1, QColor(0x3d, 0x63, 0x4b)}}});
    // Near hill.
    s.push_back({Shape::Polygon, {}, 0, {{112, 352}, {232, 300}, {400, 346}, {400, 368}, {112, 368}},
                 {{0, QColor(0x2f, 0x52, 0x3a)}}});
    // A bird in the sky: two swept wings.
    s.push_back({Shape::Polygon, {}, 0,
                 {{170, 204}, {196, 192}, {212, 206}, {228, 190}, {256, 200}, {226, 198}, {212, 216}, {198, 200}},
                 {{0, QColor(0x22, 0x2a, 0x38)}}});
    return s;
}

QBrush brushFor(const Shape& shape, double scale)
{
    if (shape.fill.size() == 1)
        return shape.fill.front().color;
    QRectF r = shape.rect;
    if (shape.kind == Shape::Polygon) {
        QPolygonF poly(QList<QPointF>(shape.points.begin(), shape.points.end()));
        r = poly.boundingRect();
    }
    QLinearGradient g(QPointF(0, r.top() * scale), QPointF(0, r.bottom() * scale));
    for (const Stop& stop : shape.fill)
        g.setColorAt(stop.at, stop.color);
    return g;
}

QImage renderPng(const std::vector<Shape>& shapes, int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    const double scale = size / kCanvas;
    for (const Shape& shape : shapes) {
        p.setBrush(brushFor(shape, scale));
        const QRectF r(shape.rect.topLeft() * scale, shape.rect.size() * scale);
        switch (shape.kind) {
        case Shape::RoundRect:
            p.drawRoundedRect(r, shape.radius * scale, shape.radius * scale);
            break;
        case Shape::Circle:
            p.drawEllipse(r);
            break;
        case Shape::Polygon: {
            QPolygonF poly;
            for (const QPointF& pt : shape.points)
                poly << pt * scale;
            p.drawPolygon(poly);
            break;
        }
        }
    }
    p.end();
    return image;
}

QByteArray renderSvg(const std::vector<Shape>& shapes)
{
    QByteArray defs, body;
    int gradients = 0;
    for (const Shape& shape : shapes) {
        QByteArray fill;
        if (shape.fill.size() == 1) {
            fill = shape.fill.front().color.name().toLatin1();
        } else {
            const QByteArray id = "g" + QByteArray::number(++gradients);
            defs += "    <linearGradient id=\"" + id + "\" x1=\"0\" y1=\"0\" x2=\"0\" y2=\"1\">\n";
            for (const Stop& stop : shape.fill)
                defs += "      <stop offset=\"" + QByteArray::number(stop.at) + "\" stop-color=\"" +
                        stop.color.name().toLatin1() + "\"/>\n";
            defs += "    </linearGradient>\n";
            fill = "url(#" + id + ")";
        }
        const auto n = [](double v) { return QByteArray::number(v, 'g', 6); };
        switch (shape.kind) {
        case Shape::RoundRect:
            body += "  <rect x=\"" + n(shape.rect.x()) + "\" y=\"" + n(shape.rect.y()) + "\" width=\"" +
                    n(shape.rect.width()) + "\" height=\"" + n(shape.rect.height()) + "\" rx=\"" + n(shape.radius) +
                    "\" fill=\"" + fill + "\"/>\n";
            break;
        case Shape::Circle:
            body += "  <circle cx=\"" + n(shape.rect.center().x()) + "\" cy=\"" + n(shape.rect.center().y()) +
                    "\" r=\"" + n(shape.rect.width() / 2) + "\" fill=\"" + fill + "\"/>\n";
            break;
        case Shape::Polygon: {
            QByteArray pts;
            for (const QPointF& pt : shape.points)
                pts += (pts.isEmpty() ? "" : " ") + n(pt.x()) + "," + n(pt.y());
            body += "  <polygon points=\"" + pts + "\" fill=\"" + fill + "\"/>\n";
            break;
        }
        }
    }
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"512\" height=\"512\" viewBox=\"0 0 512 512\">\n"
           "  <defs>\n" +
           defs + "  </defs>\n" + body + "</svg>\n";
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
}

bool writePng(const QString& path, const QImage& image)
{
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && image.save(&file, "PNG") && file.commit();
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: kpv_icon_gen <icon theme folder> <window icon file>\n");
        return 2;
    }
    const QString themeDir = QString::fromLocal8Bit(argv[1]);
    const std::vector<Shape> shapes = iconShapes();
    for (int size : {16, 22, 24, 32, 48, 64, 96, 128, 256, 512}) {
        const QString path = QStringLiteral("%1/%2x%2/apps/%3.png").arg(themeDir).arg(size).arg(QLatin1String(kIconName));
        if (!writePng(path, renderPng(shapes, size))) {
            std::fprintf(stderr, "kpv_icon_gen: cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    const QString svg = QStringLiteral("%1/scalable/apps/%2.svg").arg(themeDir, QLatin1String(kIconName));
    if (!writeFile(svg, renderSvg(shapes))) {
        std::fprintf(stderr, "kpv_icon_gen: cannot write %s\n", qPrintable(svg));
        return 1;
    }
    const QString windowIcon = QString::fromLocal8Bit(argv[2]);
    if (!writePng(windowIcon, renderPng(shapes, 256))) {
        std::fprintf(stderr, "kpv_icon_gen: cannot write %s\n", qPrintable(windowIcon));
        return 1;
    }
    return 0;
}
