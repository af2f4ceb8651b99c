#pragma once
// A picture of noise: it compresses badly, so a photo of it is far larger than its pixels suggest
// (larger than the files read rather than mapped), and every pixel differs from its neighbours.

#include <QImage>

#include <random>

namespace kpv::test {

inline QImage noisePicture(int width, int height, unsigned seed)
{
    QImage picture(width, height, QImage::Format_RGBA8888_Premultiplied);
    std::mt19937 random(seed);
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<quint32*>(picture.scanLine(y));
        for (int x = 0; x < width; ++x)
            row[x] = random() | 0xFF000000u;
    }
    return picture;
}

}  // namespace kpv::test
