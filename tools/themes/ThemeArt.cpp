#include "ThemeArt.h"

#include <QFile>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QSaveFile>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace themes {

namespace {

QColor rgb(unsigned c) { return QColor(int((c >> 16) & 255), int((c >> 8) & 255), int(c & 255)); }

void fillGradient(QPainter& p, const QRectF& r, unsigned top, unsigned bottom) {
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0, rgb(top));
    g.setColorAt(1, rgb(bottom));
    p.fillRect(r, g);
}

// Soft lights scattered over a backdrop; the seed keeps every build's pictures the same.
void scatterLights(QPainter& p, const QSizeF& size, unsigned accent, int count, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int i = 0; i < count; ++i) {
        const QPointF c(unit(random) * size.width(), unit(random) * size.height());
        const double radius = (0.03 + 0.09 * unit(random)) * size.height();
        QRadialGradient g(c, radius);
        QColor a = rgb(accent);
        a.setAlphaF(0.10 + 0.18 * unit(random));
        g.setColorAt(0, a);
        a.setAlphaF(0);
        g.setColorAt(1, a);
        p.setBrush(g);
        p.setPen(Qt::NoPen);
        p.drawEllipse(c, radius, radius);
    }
}

}  // namespace

QImage drawBackground(const Theme& theme) {
    QImage image(1280, 720, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    fillGradient(p, image.rect(), theme.palette.top, theme.palette.bottom);
    scatterLights(p, image.size(), theme.palette.accent, 40, unsigned(theme.id) * 7919u);
    return image;
}

QImage drawBackgroundEdge(const Theme& theme, BackgroundEdge edge) {
    QImage image(8, edge == BackgroundEdge::Side ? 720 : 8, QImage::Format_RGB32);
    if (edge == BackgroundEdge::Side) {
        QPainter p(&image);
        fillGradient(p, image.rect(), theme.palette.top, theme.palette.bottom);
    } else {
        image.fill(rgb(edge == BackgroundEdge::Above ? theme.palette.top : theme.palette.bottom));
    }
    return image;
}

QImage drawMask(const Theme& theme) {
    QImage image(600, 400, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const double radius = theme.layout == Layout::Carousel || theme.layout == Layout::Cards ? 28 : 6;
    QPainterPath path;
    path.addRoundedRect(QRectF(2, 2, 596, 396), radius, radius);
    p.fillPath(path, Qt::white);
    return image;
}

QImage drawCard(const Theme& theme) {
    QImage image(480, 330, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor paper = rgb(theme.palette.card);
    QLinearGradient g(0, 0, 0, 330);
    g.setColorAt(0, paper);
    g.setColorAt(1, paper.darker(112));
    const double radius = theme.layout == Layout::Carousel || theme.layout == Layout::Cards ? 22 : 3;
    QPainterPath path;
    path.addRoundedRect(QRectF(1, 1, 478, 328), radius, radius);
    p.fillPath(path, g);
    p.setPen(QPen(paper.darker(130), 2));
    p.drawPath(path);
    return image;
}

QImage drawCover(const Theme& theme) {
    QImage image(700, 490, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    fillGradient(p, image.rect(), theme.palette.top, theme.palette.bottom);
    p.setPen(QPen(rgb(theme.palette.accent), 6));
    p.drawRect(QRectF(24, 24, 652, 442));
    p.drawLine(QPointF(350, 24), QPointF(350, 466));
    return image;
}

QImage drawThumbnail(const Theme& theme) {
    QImage image(192, 108, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    fillGradient(p, image.rect(), theme.palette.top, theme.palette.bottom);
    const QColor card = rgb(theme.palette.card);
    const QColor photo = rgb(theme.palette.accent);
    auto framed = [&](const QRectF& r, double angle) {
        p.save();
        p.translate(r.center());
        p.rotate(angle);
        const QRectF local(-r.width() / 2, -r.height() / 2, r.width(), r.height());
        p.fillRect(local.adjusted(-3, -3, 3, 3), card);
        p.fillRect(local, photo);
        p.restore();
    };
    switch (theme.layout) {
    case Layout::CrossFade:
        p.setOpacity(0.5);
        p.fillRect(QRectF(30, 16, 100, 66), card);
        p.setOpacity(1);
        p.fillRect(QRectF(62, 28, 100, 66), photo);
        break;
    case Layout::Wall:
        framed(QRectF(40, 14, 50, 34), 2);
        framed(QRectF(102, 14, 50, 34), -1.5);
        framed(QRectF(40, 60, 50, 34), -1.5);
        framed(QRectF(102, 60, 50, 34), 1.5);
        break;
    case Layout::Carousel:
        framed(QRectF(14, 40, 36, 26), 0);
        framed(QRectF(142, 40, 36, 26), 0);
        framed(QRectF(60, 30, 72, 48), 0);
        break;
    case Layout::Pages:
        p.fillRect(QRectF(30, 18, 132, 72), card.darker(120));
        framed(QRectF(98, 24, 58, 60), 0);
        framed(QRectF(40, 24, 54, 60), 0);
        break;
    case Layout::Cards:
        p.setOpacity(0.6);
        framed(QRectF(14, 14, 40, 27), -14);
        p.setOpacity(1);
        framed(QRectF(56, 28, 80, 54), 0);
        framed(QRectF(146, 62, 44, 30), 18);
        break;
    }
    return image;
}

bool writeMusic(const Theme& theme, const QString& path) {
    constexpr int rate = 22050;
    const Tune& tune = theme.tune;
    const double beat = 60.0 / double(tune.beatsPerMinute);
    const size_t beats = tune.melody.size();
    const size_t frames = size_t(double(beats) * beat * rate);
    std::vector<double> mix(frames, 0.0);
    auto note = [&](int semitone, double start, double length, double level) {
        if (semitone <= -100) return;
        const double hz = 220.0 * std::pow(2.0, semitone / 12.0);
        const size_t first = size_t(start * rate);
        const size_t count = size_t(length * rate);
        for (size_t i = 0; i < count && first + i < frames; ++i) {
            const double t = double(i) / rate;
            // A quick rise, then a long fall: a plucked string more than an organ.
            const double envelope = std::min(1.0, t / 0.01) * std::exp(-3.0 * t / length);
            const double wave = std::sin(2 * M_PI * hz * t) + 0.3 * std::sin(4 * M_PI * hz * t);
            mix[first + i] += level * envelope * wave;
        }
    };
    for (size_t b = 0; b < beats; ++b) {
        note(tune.melody[b % tune.melody.size()], double(b) * beat, beat * 1.6, 0.22);
        if (b % 4 == 0 && !tune.bass.empty()) note(tune.bass[(b / 4) % tune.bass.size()], double(b) * beat, beat * 4, 0.18);
    }
    QByteArray bytes;
    auto u32 = [&](uint32_t v) { for (int i = 0; i < 4; ++i) bytes.append(char((v >> (8 * i)) & 255)); };
    auto u16 = [&](uint16_t v) { bytes.append(char(v & 255)).append(char(v >> 8)); };
    const uint32_t data = uint32_t(frames * 2);
    bytes.append("RIFF");
    u32(36 + data);
    bytes.append("WAVEfmt ");
    u32(16);
    u16(1);  // PCM
    u16(1);  // mono
    u32(rate);
    u32(rate * 2);
    u16(2);
    u16(16);
    bytes.append("data");
    u32(data);
    for (size_t i = 0; i < frames; ++i) {
        // Fade the last half second so that the loop does not click.
        const double tail = std::min(1.0, double(frames - i) / (0.5 * rate));
        const double v = std::clamp(mix[i] * tail, -1.0, 1.0);
        u16(uint16_t(int16_t(std::lround(v * 32000))));
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    file.write(bytes);
    return file.commit();
}

}  // namespace themes
