#include "Sharpness.h"

#include <turbojpeg.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace bench_sharpness {

double of(const unsigned char *pixels, int width, int height, int stride, int channels)
{
    if (width < 2 || height < 2)
        return NAN;
    auto luma = [&](int x, int y) {
        const unsigned char *p = pixels + size_t(y) * size_t(stride) + size_t(x) * size_t(channels);
        return (int(p[0]) + int(p[1]) + int(p[2])) / 3.0;
    };
    double sum = 0, brightness = 0;
    long count = 0;
    for (int y = 0; y + 1 < height; ++y)
        for (int x = 0; x + 1 < width; ++x) {
            const double here = luma(x, y);
            sum += std::abs(luma(x + 1, y) - here) + std::abs(luma(x, y + 1) - here);
            brightness += here;
            count += 2;
        }
    // In percent of the brightness: a picture fading in is as sharp as it will be.
    return brightness > 0 ? 100 * sum / (2 * brightness) : NAN;
}

namespace {

double lanczos3(double x)
{
    x = std::abs(x);
    if (x < 1e-9)
        return 1;
    if (x >= 3)
        return 0;
    const double px = M_PI * x;
    return 3 * std::sin(px) * std::sin(px / 3) / (px * px);
}

// One pass of a separable downscale: `in` is n rows of `len` samples (3 channels, stride len*3);
// the result has `out` samples per row.
std::vector<double> resampleRows(const std::vector<double> &in, int len, int rows, int out, double scale)
{
    std::vector<double> result(size_t(out) * size_t(rows) * 3, 0.0);
    const double support = 3 / scale;
    for (int o = 0; o < out; ++o) {
        const double centre = (o + 0.5) / scale - 0.5;
        const int first = std::max(0, int(std::floor(centre - support)));
        const int last = std::min(len - 1, int(std::ceil(centre + support)));
        std::vector<double> w;
        double total = 0;
        for (int i = first; i <= last; ++i) {
            w.push_back(lanczos3((i - centre) * scale));
            total += w.back();
        }
        for (int r = 0; r < rows; ++r)
            for (int c = 0; c < 3; ++c) {
                double v = 0;
                for (int i = first; i <= last; ++i)
                    v += w[size_t(i - first)] * in[(size_t(r) * size_t(len) + size_t(i)) * 3 + size_t(c)];
                result[(size_t(r) * size_t(out) + size_t(o)) * 3 + size_t(c)] = v / total;
            }
    }
    return result;
}

} // namespace

double lanczosReference(const std::string &path, double scale)
{
    if (!(scale > 0 && scale <= 1))
        return NAN;
    FILE *f = std::fopen(path.c_str(), "rb");
    if (!f)
        return NAN;
    std::vector<unsigned char> bytes;
    unsigned char buf[65536];
    size_t n = 0;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        bytes.insert(bytes.end(), buf, buf + n);
    std::fclose(f);
    tjhandle tj = tjInitDecompress();
    int width = 0, height = 0, sub = 0, space = 0;
    std::vector<unsigned char> rgb;
    if (tj && tjDecompressHeader3(tj, bytes.data(), (unsigned long)bytes.size(), &width, &height, &sub, &space) == 0) {
        rgb.resize(size_t(width) * size_t(height) * 3);
        if (tjDecompress2(tj, bytes.data(), (unsigned long)bytes.size(), rgb.data(), width, 0, height, TJPF_RGB,
                          TJFLAG_ACCURATEDCT) != 0)
            rgb.clear();
    }
    if (tj)
        tjDestroy(tj);
    if (rgb.empty())
        return NAN;
    // The centre square of 1200 pixels (or less), as floating point.
    const int side = std::min({1200, width, height});
    const int x0 = (width - side) / 2, y0 = (height - side) / 2;
    std::vector<double> crop(size_t(side) * size_t(side) * 3);
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side * 3; ++x)
            crop[size_t(y) * size_t(side) * 3 + size_t(x)] =
                rgb[(size_t(y0 + y) * size_t(width) + size_t(x0)) * 3 + size_t(x)];
    const int out = std::max(2, int(std::lround(side * scale)));
    // Across, then down (by resampling the transposed rows).
    std::vector<double> across = resampleRows(crop, side, side, out, scale);
    std::vector<double> transposed(size_t(out) * size_t(side) * 3);
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < out; ++x)
            for (int c = 0; c < 3; ++c)
                transposed[(size_t(x) * size_t(side) + size_t(y)) * 3 + size_t(c)] =
                    across[(size_t(y) * size_t(out) + size_t(x)) * 3 + size_t(c)];
    std::vector<double> down = resampleRows(transposed, side, out, out, scale);
    // Back to 8 bits, as a screen shows it, without the outer rows the filter saw only in part.
    const int margin = 4, inner = out - 2 * margin;
    if (inner < 2)
        return NAN;
    std::vector<unsigned char> pixels(size_t(inner) * size_t(inner) * 3);
    for (int y = 0; y < inner; ++y)
        for (int x = 0; x < inner; ++x)
            for (int c = 0; c < 3; ++c) {
                // down holds columns of the transposed picture: (x, y) lies at [x * out + y].
                const double v = down[(size_t(x + margin) * size_t(out) + size_t(y + margin)) * 3 + size_t(c)];
                pixels[(size_t(y) * size_t(inner) + size_t(x)) * 3 + size_t(c)] =
                    (unsigned char)std::clamp(std::lround(v), 0L, 255L);
            }
    return of(pixels.data(), inner, inner, inner * 3, 3);
}

} // namespace bench_sharpness
