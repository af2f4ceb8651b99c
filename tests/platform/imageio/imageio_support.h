#pragma once
// Generated inputs for the image input and output tests.

#include <QByteArray>
#include <QImage>
#include <QString>
#include <QTemporaryDir>

#include <vector>

namespace kpv::test {

// A smooth colour pattern with fine detail; with `alpha`, a horizontal alpha ramp. Premultiplied RGBA.
QImage pattern(int width, int height, bool alpha);

// Largest difference of any channel between two images of one size (-1 when sizes differ).
int maxChannelDifference(const QImage& a, const QImage& b);

// Encoders of the reference libraries, producing files the way other programs write them.
QByteArray referenceJpeg(const QImage& image, int quality, bool progressive, int subsampling);
// With `colourSpace`, the file says its gamma (1/1.8) and chromaticities, as a scanner or an
// editor writes them (PNG 11.3.3).
QByteArray referencePng(const QImage& image, bool alpha, bool interlaced,
                        const std::vector<std::pair<QByteArray, QByteArray>>& texts = {}, bool colourSpace = false);

struct GifFrameSpec {
    int left, top, width, height;
    int delayCs;
    int disposal;
    int transparentIndex;  // -1 for none
    bool interlaced;
    std::vector<unsigned char> indices;  // width * height palette indices
};
// An animated GIF with a 4-colour global palette (black, red, green, blue) and a loop extension.
QByteArray referenceGif(int screenW, int screenH, const std::vector<GifFrameSpec>& frames, int loopCount);

QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes);

// A bare JPEG 2000 code-stream of one grey 8-bit tile, width x height, reversible, with `levels`
// wavelet levels, code blocks of 4 x 4 and `layers` quality layers, whose tile data is `packets`;
// `padding` bytes of comment in its main header.
QByteArray tinyBlockJ2k(quint32 width, quint32 height, int levels, int layers, const QByteArray& packets,
                        int padding = 0);

}  // namespace kpv::test
