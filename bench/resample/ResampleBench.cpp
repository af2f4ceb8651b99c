// A 6000 x 4000 RGBA photo scaled to 1024 x 768 and to 256 x 256 through MdBitmapResample, beside
// libyuv's ARGBScale (bilinear) and libswscale's bilinear scaler on the same input. Prints
// megapixels of output per second and our speed relative to each reference.
#include "MdBitmap.h"

#include "AMCM.h"

#include <benchmark/benchmark.h>
#include <libyuv/scale_argb.h>

extern "C" {
#include <libswscale/swscale.h>
}

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr int kSrcW = 6000, kSrcH = 4000;

const std::vector<uint8_t>& source()
{
    static const std::vector<uint8_t> pixels = [] {
        std::vector<uint8_t> p(static_cast<size_t>(kSrcW) * kSrcH * 4);
        uint32_t state = 12345;
        for (size_t i = 0; i < p.size(); i += 4) {
            state = state * 1664525u + 1013904223u; // cheap noise over a gradient
            const size_t px = i / 4;
            p[i] = static_cast<uint8_t>((px % kSrcW) * 255 / kSrcW + (state >> 29));
            p[i + 1] = static_cast<uint8_t>((px / kSrcW) * 255 / kSrcH);
            p[i + 2] = static_cast<uint8_t>(state >> 24);
            p[i + 3] = 255;
        }
        return p;
    }();
    return pixels;
}

void setRate(benchmark::State& state, int w, int h)
{
    state.counters["Mpix/s"] =
        benchmark::Counter(static_cast<double>(w) * h / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

void Ours(benchmark::State& state)
{
    const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
    AMCMHandle amcm = nullptr;
    AMCM_Create(nullptr, &amcm);
    MBITMAP src{};
    src.dwPixelArrayFormat = 0x37001777;
    src.lWidth = kSrcW;
    src.lHeight = kSrcH;
    src.lPitch[0] = kSrcW * 4;
    src.pPlane[0] = const_cast<uint8_t*>(source().data());
    std::vector<uint8_t> out(static_cast<size_t>(w) * h * 4);
    MBITMAP dst{};
    dst.dwPixelArrayFormat = 0x37001777;
    dst.lWidth = w;
    dst.lHeight = h;
    dst.lPitch[0] = w * 4;
    dst.pPlane[0] = out.data();
    for (auto _ : state) {
        if (MdBitmapResample(amcm, &src, &dst) != MOK)
            state.SkipWithError("resample failed");
        benchmark::DoNotOptimize(out.data());
    }
    setRate(state, w, h);
    AMCM_Destroy(amcm);
}

void Libyuv(benchmark::State& state)
{
    const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
    std::vector<uint8_t> out(static_cast<size_t>(w) * h * 4);
    for (auto _ : state) {
        libyuv::ARGBScale(source().data(), kSrcW * 4, kSrcW, kSrcH, out.data(), w * 4, w, h, libyuv::kFilterBilinear);
        benchmark::DoNotOptimize(out.data());
    }
    setRate(state, w, h);
}

void Swscale(benchmark::State& state)
{
    const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
    std::vector<uint8_t> out(static_cast<size_t>(w) * h * 4);
    SwsContext* ctx =
        sws_getContext(kSrcW, kSrcH, AV_PIX_FMT_RGBA, w, h, AV_PIX_FMT_RGBA, SWS_BILINEAR, nullptr, nullptr, nullptr);
    const uint8_t* srcPlanes[1] = {source().data()};
    const int srcStride[1] = {kSrcW * 4};
    uint8_t* dstPlanes[1] = {out.data()};
    const int dstStride[1] = {w * 4};
    for (auto _ : state) {
        sws_scale(ctx, srcPlanes, srcStride, 0, kSrcH, dstPlanes, dstStride);
        benchmark::DoNotOptimize(out.data());
    }
    setRate(state, w, h);
    sws_freeContext(ctx);
}

#define KPV_SIZES ->Args({1024, 768})->Args({256, 256})->Unit(benchmark::kMillisecond)->MinTime(1.0)
BENCHMARK(Ours) KPV_SIZES;
BENCHMARK(Libyuv) KPV_SIZES;
BENCHMARK(Swscale) KPV_SIZES;

// Console output plus, at the end, our rate beside each reference's with the ratio.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs) {
            const auto it = r.counters.find("Mpix/s");
            if (it == r.counters.end() || r.error_occurred)
                continue;
            std::string name = r.benchmark_name();
            const size_t options = name.find("/min_time");
            if (options != std::string::npos)
                name.resize(options);
            rates_[name] = it->second.value;
        }
    }
    void Finalize() override
    {
        ConsoleReporter::Finalize();
        std::printf("\nResampling 6000x4000 RGBA, bilinear (megapixels of output per second)\n");
        for (const char* size : {"1024/768", "256/256"}) {
            const double ours = rates_[std::string("Ours/") + size];
            const double yuv = rates_[std::string("Libyuv/") + size];
            const double sws = rates_[std::string("Swscale/") + size];
            std::printf("  to %-9s ours %8.1f | libyuv %8.1f (ours/libyuv %.2f) | swscale %8.1f (ours/swscale %.2f)\n",
                        size, ours, yuv, yuv > 0 ? ours / yuv : 0.0, sws, sws > 0 ? ours / sws : 0.0);
        }
    }

private:
    std::map<std::string, double> rates_;
};

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    source(); // build the photo once, outside the timings
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
