// Generated 24-bit images for the quantiser tests: rows padded to 4 bytes unless a pitch is given.
#ifndef KPV_TESTS_QUANTTESTIMAGES_H
#define KPV_TESTS_QUANTTESTIMAGES_H

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <functional>
#include <random>
#include <vector>

namespace quanttest {

using Rgb = std::array<int, 3>;

inline int64_t paddedPitch(int64_t width) { return (3 * width + 3) / 4 * 4; }

// A 5-bit cell value widened to 8 bits the way the median cut reports it.
inline int widen5(int p) { return p * 8 + p / 4; }

struct Image {
    int64_t width = 0, height = 0, pitch = 0;
    std::vector<uint8_t> bytes;
    uint8_t* data() { return bytes.data(); }
    const uint8_t* at(int64_t x, int64_t y) const { return bytes.data() + y * pitch + 3 * x; }
    uint8_t* at(int64_t x, int64_t y) { return bytes.data() + y * pitch + 3 * x; }
};

// pitch 0: padded to 4. The padding bytes are set to pad.
inline Image makeImage(int64_t w, int64_t h, const std::function<Rgb(int64_t, int64_t)>& colour,
                       int64_t pitch = 0, uint8_t pad = 0) {
    Image img;
    img.width = w;
    img.height = h;
    img.pitch = pitch > 0 ? pitch : paddedPitch(w);
    img.bytes.assign(size_t(img.pitch * (h - 1) + 3 * w), pad);
    for (int64_t y = 0; y < h; ++y)
        for (int64_t x = 0; x < w; ++x) {
            const Rgb c = colour(x, y);
            for (int k = 0; k < 3; ++k) img.at(x, y)[k] = uint8_t(c[k]);
        }
    // Keep the last row's padding too, so buffers are pitch * height like a bitmap's.
    if (pitch <= 0) img.bytes.resize(size_t(img.pitch * h), pad);
    return img;
}

// Smooth gradients, a few soft blobs and grain: something like a photograph.
inline Image photoLike(int64_t w, int64_t h, uint32_t seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> grain(0.0, 4.0);
    struct Blob { double x, y, r; Rgb c; };
    std::vector<Blob> blobs;
    std::uniform_real_distribution<double> u(0.0, 1.0);
    for (int i = 0; i < 6; ++i)
        blobs.push_back({u(rng) * double(w), u(rng) * double(h), (0.1 + 0.3 * u(rng)) * double(w),
                         {int(u(rng) * 255), int(u(rng) * 255), int(u(rng) * 255)}});
    return makeImage(w, h, [&](int64_t x, int64_t y) {
        double c[3] = {40.0 + 150.0 * double(x) / double(w), 60.0 + 120.0 * double(y) / double(h),
                       200.0 - 100.0 * double(x + y) / double(w + h)};
        for (const Blob& b : blobs) {
            const double d2 = ((double(x) - b.x) * (double(x) - b.x) + (double(y) - b.y) * (double(y) - b.y)) / (b.r * b.r);
            const double k = std::exp(-d2);
            for (int i = 0; i < 3; ++i) c[i] = c[i] * (1 - k) + b.c[i] * k;
        }
        Rgb out;
        for (int i = 0; i < 3; ++i) out[i] = std::clamp(int(std::lround(c[i] + grain(rng))), 0, 255);
        return out;
    });
}

inline int dist2(const uint8_t* a, const uint8_t* b) {
    int s = 0;
    for (int k = 0; k < 3; ++k) s += (a[k] - b[k]) * (a[k] - b[k]);
    return s;
}

// Mean squared error per pixel when every pixel takes its nearest of the first n entries.
inline double nearestError(const Image& img, const uint8_t* palette, int n) {
    double total = 0;
    for (int64_t y = 0; y < img.height; ++y)
        for (int64_t x = 0; x < img.width; ++x) {
            int best = INT32_MAX;
            for (int i = 0; i < n; ++i) best = std::min(best, dist2(img.at(x, y), palette + 4 * i));
            total += best;
        }
    return total / double(img.width * img.height);
}

}  // namespace quanttest

#endif
