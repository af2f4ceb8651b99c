// The photos the golden frames were drawn with.
#pragma once

#include <QColor>
#include <QImage>
#include <QPainter>

// Photo i: a colour of its own with a white bar across its top third, so that a photo upside
// down or turned shows.
inline QImage testPhoto(int i)
{
    static const QColor colours[6] = {QColor(220, 40, 40), QColor(240, 160, 30), QColor(60, 170, 70),
                                      QColor(40, 110, 220), QColor(150, 60, 190), QColor(30, 180, 180)};
    QImage img(300, 200, QImage::Format_RGB32);
    img.fill(colours[i % 6]);
    QPainter p(&img);
    p.fillRect(QRect(0, 20, 300, 36), Qt::white);
    p.fillRect(QRect(20 + 40 * (i % 6), 100, 30, 80), Qt::black);
    return img;
}
