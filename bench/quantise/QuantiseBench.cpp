// Quantising a generated 1024 x 768 photo-like image to 256 colours: our median cut and network
// builders (palette plus dithered remap) beside libimagequant and giflib's GifQuantizeBuffer.
// Each reports its time and the mean squared error per pixel of the remapped image; a summary
// prints the ratios to the references.
#include "AMQuant.h"

#include <benchmark/benchmark.h>
#include <gif_lib.h>
#include <libimagequant.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <random>
#include <vector>

namespace {

constexpr int kW = 1024, kH = 768;
constexpr int kPitch = (3 * kW + 3) / 4 * 4;

// Gradients, soft blobs and grain, rows padded to 4 bytes; bytes in blue, green, red order.
const std::vector<uint8_t>& photo() {
    static const std::vector<uint8_t> img = [] {
        std::vector<uint8_t> px(size_t(kPitch) * kH, 0);
        std::mt19937 rng(1234);
        std::uniform_real_distribution<double> u(0.0, 1.0);
        std::normal_distribution<double> grain(0.0, 3.0);
        struct Blob { double x, y, r, c[3]; };
        std::vector<Blob> blobs;
        for (int i = 0; i < 12; ++i)
            blobs.push_back({u(rng) * kW, u(rng) * kH, (0.05 + 0.25 * u(rng)) * kW, {u(rng) * 255, u(rng) * 255, u(rng) * 255}});
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x) {
                double c[3] = {50.0 + 150.0 * x / kW, 70.0 + 110.0 * y / kH, 210.0 - 120.0 * (x + y) / (kW + kH)};
                for (const Blob& b : blobs) {
                    const double k = std::exp(-((x - b.x) * (x - b.x) + (y - b.y) * (y - b.y)) / (b.r * b.r));
                    for (int i = 0; i < 3; ++i) c[i] = c[i] * (1 - k) + b.c[i] * k;
                }
                for (int i = 0; i < 3; ++i)
                    px[size_t(y) * kPitch + 3 * size_t(x) + size_t(i)] = uint8_t(std::clamp(std::lround(c[i] + grain(rng)), 0L, 255L));
            }
        return px;
    }();
    return img;
}

// Mean squared error per pixel (sum over the three channels) of a remapped image.
double meanError(const std::vector<uint8_t>& out, int outPitch) {
    const std::vector<uint8_t>& src = photo();
    double total = 0;
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x)
            for (int k = 0; k < 3; ++k) {
                const double d = double(src[size_t(y) * kPitch + 3 * size_t(x) + size_t(k)]) - out[size_t(y) * size_t(outPitch) + 3 * size_t(x) + size_t(k)];
                total += d * d;
            }
    return total / (double(kW) * kH);
}

// Each quantiser returns the remapped image as 24-bit rows (same byte order as the source).
std::vector<uint8_t> ours(MInt64 type) {
    std::vector<uint8_t> work = photo();
    AMQuantHandle h = AMQuant_CreatePalette(type);
    uint8_t pal[1024] = {};
    AMQuant_GetPalette(h, work.data(), kPitch, kW, kH, 256, pal);
    const int ipitch = (kW + 3) / 4 * 4;
    std::vector<uint8_t> idx(size_t(ipitch) * kH);
    AMQuant_Remapfloyd(h, work.data(), kPitch, idx.data(), ipitch, kW, kH, pal);
    AMQuant_DestroyPalette(h);
    std::vector<uint8_t> out(size_t(kPitch) * kH);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x)
            for (int k = 0; k < 3; ++k) out[size_t(y) * kPitch + 3 * size_t(x) + size_t(k)] = pal[4 * idx[size_t(y) * ipitch + size_t(x)] + k];
    return out;
}

std::vector<uint8_t> imagequant() {
    const std::vector<uint8_t>& src = photo();
    std::vector<uint8_t> rgba(size_t(kW) * kH * 4);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            const uint8_t* p = &src[size_t(y) * kPitch + 3 * size_t(x)];
            uint8_t* q = &rgba[(size_t(y) * kW + size_t(x)) * 4];
            q[0] = p[2]; q[1] = p[1]; q[2] = p[0]; q[3] = 255;
        }
    liq_attr* attr = liq_attr_create();
    liq_set_max_colors(attr, 256);
    liq_image* image = liq_image_create_rgba(attr, rgba.data(), kW, kH, 0);
    liq_result* res = nullptr;
    std::vector<uint8_t> out(size_t(kPitch) * kH);
    if (liq_image_quantize(image, attr, &res) == LIQ_OK) {
        liq_set_dithering_level(res, 1.0f);
        std::vector<uint8_t> idx(size_t(kW) * kH);
        liq_write_remapped_image(res, image, idx.data(), idx.size());
        const liq_palette* pal = liq_get_palette(res);
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x) {
                const liq_color c = pal->entries[idx[size_t(y) * kW + size_t(x)]];
                uint8_t* q = &out[size_t(y) * kPitch + 3 * size_t(x)];
                q[0] = c.b; q[1] = c.g; q[2] = c.r;
            }
        liq_result_destroy(res);
    }
    liq_image_destroy(image);
    liq_attr_destroy(attr);
    return out;
}

std::vector<uint8_t> giflib() {
    const std::vector<uint8_t>& src = photo();
    std::vector<GifByteType> r(size_t(kW) * kH), g(r.size()), b(r.size()), idx(r.size());
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            const uint8_t* p = &src[size_t(y) * kPitch + 3 * size_t(x)];
            const size_t i = size_t(y) * kW + size_t(x);
            b[i] = p[0]; g[i] = p[1]; r[i] = p[2];
        }
    int size = 256;
    GifColorType map[256] = {};
    std::vector<uint8_t> out(size_t(kPitch) * kH);
    if (GifQuantizeBuffer(kW, kH, &size, r.data(), g.data(), b.data(), idx.data(), map) == GIF_OK)
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x) {
                const GifColorType c = map[idx[size_t(y) * kW + size_t(x)]];
                uint8_t* q = &out[size_t(y) * kPitch + 3 * size_t(x)];
                q[0] = c.Blue; q[1] = c.Green; q[2] = c.Red;
            }
    return out;
}

struct Contender {
    const char* name;
    std::function<std::vector<uint8_t>()> run;
};

const std::vector<Contender>& contenders() {
    static const std::vector<Contender> list{
        {"ours_median_cut", [] { return ours(AMQUANT_MEDIANCUT); }},
        {"ours_network", [] { return ours(AMQUANT_NEURAL); }},
        {"libimagequant", imagequant},
        {"giflib_quantize", giflib},
    };
    return list;
}

void BM_Quantise(benchmark::State& state, size_t which) {
    const Contender& c = contenders()[which];
    std::vector<uint8_t> out;
    for (auto _ : state) {
        out = c.run();
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["mse"] = meanError(out, kPitch);
}

}  // namespace

int main(int argc, char** argv) {
    photo();
    for (size_t i = 0; i < contenders().size(); ++i)
        benchmark::RegisterBenchmark(contenders()[i].name, BM_Quantise, i)->Unit(benchmark::kMillisecond)->Iterations(2);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    // Summary: one more run each (the references are slow enough), and every ratio to them.
    struct Row { const char* name; double ms, mse; };
    std::vector<Row> rows;
    for (const Contender& c : contenders()) {
        double best = 1e30;
        std::vector<uint8_t> out;
        for (int i = 0; i < 1; ++i) {
            const auto t0 = std::chrono::steady_clock::now();
            out = c.run();
            best = std::min(best, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
        }
        rows.push_back({c.name, best, meanError(out, kPitch)});
    }
    std::printf("\n%-18s %10s %10s\n", "1024x768 -> 256", "ms", "mse");
    for (const Row& r : rows) std::printf("%-18s %10.1f %10.2f\n", r.name, r.ms, r.mse);
    for (size_t o = 0; o < 2; ++o)
        for (size_t ref = 2; ref < rows.size(); ++ref)
            std::printf("%s / %s: time x%.2f, error x%.2f\n", rows[o].name, rows[ref].name, rows[o].ms / rows[ref].ms,
                        rows[o].mse / rows[ref].mse);
    return 0;
}
