// A 6000 x 4000 RGBA photo scaled to 1024 x 768 and to 256 x 256 through MdBitmapResample, beside
// libyuv's ARGBScale (bilinear) and libswscale's bilinear scaler on the same input; then the cases
// the engine's fast kernels serve, straight through the engine beside libyuv: a 24-bit RGB photo
// scaled bilinearly, planar 4:2:0 into 24-bit RGB, and a quarter turn of semi-planar 4:2:0 into
// planar 4:2:0. Prints megapixels of output per second and our speed relative to each reference.
#include "MdBitmap.h"
#include "MPP.h"

#include "AMCM.h"

#include <benchmark/benchmark.h>
#include <libyuv/convert_argb.h>
#include <libyuv/rotate.h>
#include <libyuv/scale_argb.h>
#include <libyuv/scale_rgb.h>

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

// ---- Cases of the fast kernels, through the engine directly ----

constexpr int kVideoW = 1920, kVideoH = 1080;

std::vector<uint8_t> noise(size_t n, uint32_t seed)
{
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) {
        seed = seed * 1664525u + 1013904223u;
        v[i] = static_cast<uint8_t>((i / 7) + (seed >> 28));
    }
    return v;
}

const std::vector<uint8_t>& rgb24Photo()
{
    static const std::vector<uint8_t> p = noise(static_cast<size_t>(kSrcW) * kSrcH * 3, 1);
    return p;
}

const std::vector<uint8_t>& videoFrame() // planar or semi-planar 4:2:0: luma, then chroma
{
    static const std::vector<uint8_t> p = noise(static_cast<size_t>(kVideoW) * kVideoH * 3 / 2, 2);
    return p;
}

// One engine job run repeatedly; planes and pitches of both sides as given.
void runEngine(benchmark::State& state, PPFormat dst, PPFormat src, PPPara para, MByte* const* dstPlanes,
               const MInt64* dstPitch, const MByte* const* srcPlanes, const MInt64* srcPitch)
{
    PPHandle h = nullptr;
    if (MPPCreate(&dst, &src, &para, &h) != MOK) {
        state.SkipWithError("engine refused the job");
        return;
    }
    for (auto _ : state) {
        MPProcess(h, dstPlanes, nullptr, dstPitch, srcPlanes, srcPitch);
        benchmark::DoNotOptimize(dstPlanes[0]);
    }
    MPPDestroy(h);
}

void OursRGB24Scale(benchmark::State& state)
{
    std::vector<uint8_t> out(1024 * 768 * 3);
    PPPara para{};
    para.lResampleMode = PP_RESAMPLE_BILINEAR;
    para.lBlockMode = PP_BLOCK_AUTO;
    MByte* dp[3] = {out.data(), nullptr, nullptr};
    const MByte* sp[3] = {rgb24Photo().data(), nullptr, nullptr};
    const MInt64 dpitch[3] = {1024 * 3, 0, 0}, spitch[3] = {kSrcW * 3, 0, 0};
    runEngine(state, PPFormat{0x16000777, 1024, 768, nullptr}, PPFormat{0x16000777, kSrcW, kSrcH, nullptr}, para, dp,
              dpitch, sp, spitch);
    setRate(state, 1024, 768);
}

void LibyuvRGB24Scale(benchmark::State& state)
{
    std::vector<uint8_t> out(1024 * 768 * 3);
    for (auto _ : state) {
        libyuv::RGBScale(rgb24Photo().data(), kSrcW * 3, kSrcW, kSrcH, out.data(), 1024 * 3, 1024, 768,
                         libyuv::kFilterBilinear);
        benchmark::DoNotOptimize(out.data());
    }
    setRate(state, 1024, 768);
}

void OursI420ToRGB24(benchmark::State& state)
{
    std::vector<uint8_t> out(static_cast<size_t>(kVideoW) * kVideoH * 3);
    const uint8_t* y = videoFrame().data();
    const uint8_t* u = y + kVideoW * kVideoH;
    const uint8_t* v = u + kVideoW * kVideoH / 4;
    PPPara para{};
    para.lResampleMode = PP_RESAMPLE_NEAREST;
    para.lBlockMode = PP_BLOCK_AUTO;
    MByte* dp[3] = {out.data(), nullptr, nullptr};
    const MByte* sp[3] = {y, u, v};
    const MInt64 dpitch[3] = {kVideoW * 3, 0, 0}, spitch[3] = {kVideoW, kVideoW / 2, kVideoW / 2};
    runEngine(state, PPFormat{0x16000777, kVideoW, kVideoH, nullptr},
              PPFormat{0x50000811, kVideoW, kVideoH, nullptr}, para, dp, dpitch, sp, spitch);
    setRate(state, kVideoW, kVideoH);
}

void LibyuvI420ToRGB24(benchmark::State& state)
{
    std::vector<uint8_t> out(static_cast<size_t>(kVideoW) * kVideoH * 3);
    const uint8_t* y = videoFrame().data();
    const uint8_t* u = y + kVideoW * kVideoH;
    const uint8_t* v = u + kVideoW * kVideoH / 4;
    for (auto _ : state) {
        libyuv::I420ToRGB24(y, kVideoW, u, kVideoW / 2, v, kVideoW / 2, out.data(), kVideoW * 3, kVideoW, kVideoH);
        benchmark::DoNotOptimize(out.data());
    }
    setRate(state, kVideoW, kVideoH);
}

// A quarter turn of 270 degrees of a semi-planar frame (V, U pairs) into planar 4:2:0.
void OursNV21TurnToI420(benchmark::State& state)
{
    std::vector<uint8_t> out(static_cast<size_t>(kVideoW) * kVideoH * 3 / 2);
    const uint8_t* y = videoFrame().data();
    const uint8_t* vu = y + kVideoW * kVideoH;
    PPPara para{};
    para.lResampleMode = PP_RESAMPLE_NEAREST;
    para.lOrientation = PP_ORIENT_SWAPXY | PP_ORIENT_MIRROR_TB;
    para.lBlockMode = PP_BLOCK_AUTO;
    MByte* dp[3] = {out.data(), out.data() + kVideoW * kVideoH, out.data() + kVideoW * kVideoH * 5 / 4};
    const MByte* sp[3] = {y, vu + 1, vu};
    const MInt64 dpitch[3] = {kVideoH, kVideoH / 2, kVideoH / 2}, spitch[3] = {kVideoW, kVideoW, kVideoW};
    runEngine(state, PPFormat{0x50000811, kVideoH, kVideoW, nullptr},
              PPFormat{0x70000002, kVideoW, kVideoH, nullptr}, para, dp, dpitch, sp, spitch);
    setRate(state, kVideoW, kVideoH);
}

void LibyuvNV21TurnToI420(benchmark::State& state)
{
    std::vector<uint8_t> out(static_cast<size_t>(kVideoW) * kVideoH * 3 / 2);
    const uint8_t* y = videoFrame().data();
    const uint8_t* vu = y + kVideoW * kVideoH;
    uint8_t* oy = out.data();
    uint8_t* ou = oy + kVideoW * kVideoH;
    uint8_t* ov = ou + kVideoW * kVideoH / 4;
    for (auto _ : state) {
        // V, U pairs read as U, V with the two chroma outputs exchanged.
        libyuv::NV12ToI420Rotate(y, kVideoW, vu, kVideoW, oy, kVideoH, ov, kVideoH / 2, ou, kVideoH / 2, kVideoW,
                                 kVideoH, libyuv::kRotate270);
        benchmark::DoNotOptimize(out.data());
    }
    setRate(state, kVideoW, kVideoH);
}

#define KPV_ONCE ->Unit(benchmark::kMillisecond)->MinTime(0.5)
BENCHMARK(OursRGB24Scale) KPV_ONCE;
BENCHMARK(LibyuvRGB24Scale) KPV_ONCE;
BENCHMARK(OursI420ToRGB24) KPV_ONCE;
BENCHMARK(LibyuvI420ToRGB24) KPV_ONCE;
BENCHMARK(OursNV21TurnToI420) KPV_ONCE;
BENCHMARK(LibyuvNV21TurnToI420) KPV_ONCE;

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
        std::printf("\nFast kernels of the engine beside libyuv (megapixels of output per second)\n");
        const char* cases[][2] = {{"RGB24Scale", "24-bit RGB 6000x4000 -> 1024x768, bilinear"},
                                  {"I420ToRGB24", "I420 1920x1080 -> 24-bit RGB"},
                                  {"NV21TurnToI420", "semi-planar 1920x1080, turn 270 -> I420"}};
        for (const auto& c : cases) {
            const double ours = rates_[std::string("Ours") + c[0]];
            const double yuv = rates_[std::string("Libyuv") + c[0]];
            std::printf("  %-44s ours %8.1f | libyuv %8.1f (ours/libyuv %.2f)\n", c[1], ours, yuv,
                        yuv > 0 ? ours / yuv : 0.0);
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
