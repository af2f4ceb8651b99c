// Resampling and the engine's fast conversions, ours beside libyuv on the same input with the same
// filter, and beside libswscale's bilinear scaler for the RGBA photo.
//
// Each case does equal work on both sides: where our engine interpolates luma and samples chroma
// (planar and semi-planar YUV), the reference scales luma bilinearly and chroma by nearest sample.
// Timings alternate ours and the reference in rounds of at least 40 ms each; the medians of the
// rounds are printed with the machine's load. Beside each timing: whether our output is byte for
// byte what the portable path writes, and how far it lies from the reference's (mean and largest
// difference per byte), which shows that both sides compute the same thing.
#include "MdBitmap.h"
#include "MPP.h"
#include "PPCpu.h"

#include "AMCM.h"

#include <libyuv/convert_argb.h>
#include <libyuv/cpu_id.h>
#include <libyuv/rotate.h>
#include <libyuv/scale.h>
#include <libyuv/scale_argb.h>
#include <libyuv/scale_rgb.h>
#include <libyuv/scale_uv.h>

extern "C" {
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// A photograph-like plane of channels interleaved samples: smooth shading with a little grain,
// different per channel, so that neighbouring samples are close as in a photo.
Bytes photo(int w, int h, int channels, uint32_t seed)
{
    // The shading is separable but for one diagonal wave: tables per column, row and diagonal.
    std::vector<double> across(static_cast<size_t>(w) * channels), down(static_cast<size_t>(h) * channels),
        diagonal(static_cast<size_t>(w + h));
    for (int c = 0; c < channels; ++c) {
        for (int x = 0; x < w; ++x)
            across[static_cast<size_t>(x * channels + c)] = std::sin(x / (41.0 + 7 * c));
        for (int y = 0; y < h; ++y)
            down[static_cast<size_t>(y * channels + c)] = std::cos(y / (53.0 - 5 * c));
    }
    for (int d = 0; d < w + h; ++d)
        diagonal[static_cast<size_t>(d)] = 30 * std::sin(d / 311.0);
    Bytes p(static_cast<size_t>(w) * h * channels);
    uint32_t state = seed;
    size_t i = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < channels; ++c) {
                state = state * 1664525u + 1013904223u;
                const double shade = 128 + 90 * across[static_cast<size_t>(x * channels + c)] *
                                               down[static_cast<size_t>(y * channels + c)] +
                                     diagonal[static_cast<size_t>(x + y)];
                p[i++] = static_cast<uint8_t>(std::clamp(shade + static_cast<double>(state >> 29) - 3.5, 0.0, 255.0));
            }
    return p;
}

struct Check {
    bool portableSame = true;
    double mean = 0, bias = 0; // mean of |ours - reference| and of ours - reference
    int largest = 0;
};

Check compare(const Bytes& ours, const Bytes& portable, const Bytes& reference)
{
    Check c;
    c.portableSame = ours == portable;
    double sum = 0, signedSum = 0;
    for (size_t i = 0; i < ours.size(); ++i) {
        const int d = int{ours[i]} - int{reference[i]};
        sum += std::abs(d);
        signedSum += d;
        c.largest = std::max(c.largest, std::abs(d));
    }
    c.mean = ours.empty() ? 0 : sum / static_cast<double>(ours.size());
    c.bias = ours.empty() ? 0 : signedSum / static_cast<double>(ours.size());
    return c;
}

// 16-bit 5-6-5 pixels (little-endian) as three 8-bit channels each, so a difference of one step
// in a channel counts as that, not as the jump it makes in one byte of the packed word.
Bytes unpack565(const Bytes& packed)
{
    Bytes out;
    out.reserve(packed.size() / 2 * 3);
    for (size_t i = 0; i + 1 < packed.size(); i += 2) {
        const unsigned v = packed[i] | (unsigned{packed[i + 1]} << 8);
        const unsigned r = v >> 11, g = (v >> 5) & 63, b = v & 31;
        out.push_back(static_cast<uint8_t>(r << 3 | r >> 2));
        out.push_back(static_cast<uint8_t>(g << 2 | g >> 4));
        out.push_back(static_cast<uint8_t>(b << 3 | b >> 2));
    }
    return out;
}

// Milliseconds per call: the median of rounds that alternate the functions, each round calling
// its function for at least 40 ms.
std::vector<double> medians(const std::vector<std::function<void()>>& fns, int rounds = 7)
{
    using Clock = std::chrono::steady_clock;
    std::vector<std::vector<double>> times(fns.size());
    for (const auto& f : fns)
        f(); // warm-up
    for (int r = 0; r < rounds; ++r)
        for (size_t k = 0; k < fns.size(); ++k) {
            const auto start = Clock::now();
            int calls = 0;
            double elapsed = 0;
            do {
                fns[k]();
                ++calls;
                elapsed = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
            } while (elapsed < 40);
            times[k].push_back(elapsed / calls);
        }
    std::vector<double> out;
    for (auto& t : times) {
        std::sort(t.begin(), t.end());
        out.push_back(t[t.size() / 2]);
    }
    return out;
}

// One engine job with its handle made once; planes and pitches of both sides as given.
struct Engine {
    PPHandle h = nullptr;
    Engine(MInt64 dstID, MInt64 dw, MInt64 dh, MInt64 srcID, MInt64 sw, MInt64 sh, MInt64 resample,
           MInt64 orientation = 0)
    {
        PPFormat d{dstID, dw, dh, nullptr}, s{srcID, sw, sh, nullptr};
        PPPara para{};
        para.lResampleMode = resample;
        para.lOrientation = orientation;
        para.lBlockMode = PP_BLOCK_AUTO;
        if (MPPCreate(&d, &s, &para, &h) != MOK) {
            std::fprintf(stderr, "the engine refused a job\n");
            std::exit(1);
        }
    }
    ~Engine() { MPPDestroy(h); }
    void run(MByte* const dp[3], const MInt64 dpitch[3], const MByte* const sp[3], const MInt64 spitch[3]) const
    {
        MPProcess(h, dp, nullptr, dpitch, sp, spitch);
    }
};

// A case: ours and the reference each fill their own output; ours is run once more at the
// portable level for the check.
struct Case {
    std::string name;
    std::function<void(Bytes&)> ours, reference;
    size_t outSize;
    bool rgb565 = false; // 16-bit pixels, compared channel by channel rather than byte by byte
};

struct Result {
    double ours, reference;
    Check check;
};

Result measure(const Case& c)
{
    Bytes ours(c.outSize), portable(c.outSize), reference(c.outSize);
    const PPSimd level = PPSimdLevel();
    PPSetSimdLevel(PPSimd::Portable);
    c.ours(portable);
    PPSetSimdLevel(level);
    c.ours(ours);
    c.reference(reference);
    const std::vector<double> t = medians({[&] { c.ours(ours); }, [&] { c.reference(reference); }});
    if (c.rgb565) {
        Check check = compare(unpack565(ours), unpack565(portable), unpack565(reference));
        check.portableSame = ours == portable;
        return Result{t[0], t[1], check};
    }
    return Result{t[0], t[1], compare(ours, portable, reference)};
}

void print(const Case& c, const Result& r)
{
    std::printf("  %-44s ours %7.3f ms | libyuv %7.3f ms | speed %5.2f | %s | vs libyuv: mean %.3f, signed %+.3f, "
                "max %d\n",
                c.name.c_str(), r.ours, r.reference, r.reference / r.ours,
                r.check.portableSame ? "same bytes as portable" : "DIFFERS FROM PORTABLE", r.check.mean, r.check.bias,
                r.check.largest);
}

constexpr int kPhotoW = 6000, kPhotoH = 4000, kVideoW = 1920, kVideoH = 1080;

// The RGBA photo through the bitmap library's resampling, as the viewer scales pictures.
std::function<void(Bytes&)> oursRgba(const Bytes& src, int sw, int sh, int dw, int dh)
{
    return [&src, sw, sh, dw, dh](Bytes& out) {
        static AMCMHandle amcm = [] {
            AMCMHandle a = nullptr;
            AMCM_Create(nullptr, &a);
            return a;
        }();
        MBITMAP s{};
        s.dwPixelArrayFormat = 0x37001777;
        s.lWidth = sw;
        s.lHeight = sh;
        s.lPitch[0] = sw * 4;
        s.pPlane[0] = const_cast<uint8_t*>(src.data());
        MBITMAP d{};
        d.dwPixelArrayFormat = 0x37001777;
        d.lWidth = dw;
        d.lHeight = dh;
        d.lPitch[0] = dw * 4;
        d.pPlane[0] = out.data();
        if (MdBitmapResample(amcm, &s, &d) != MOK) {
            std::fprintf(stderr, "resample failed\n");
            std::exit(1);
        }
    };
}

Case rgbaCase(const char* name, const Bytes& src, int sw, int sh, int dw, int dh)
{
    return Case{name, oursRgba(src, sw, sh, dw, dh),
                [&src, sw, sh, dw, dh](Bytes& out) {
                    libyuv::ARGBScale(src.data(), sw * 4, sw, sh, out.data(), dw * 4, dw, dh, libyuv::kFilterBilinear);
                },
                static_cast<size_t>(dw) * dh * 4};
}

// A single plane through the engine (grey to grey) beside libyuv's plane scaler.
Case planeCase(const char* name, const Bytes& src, int sw, int sh, int dw, int dh)
{
    auto engine = std::make_shared<Engine>(0x64000000, dw, dh, 0x64000000, sw, sh, PP_RESAMPLE_BILINEAR);
    return Case{name,
                [engine, &src, sw, dw](Bytes& out) {
                    MByte* dp[3] = {out.data(), nullptr, nullptr};
                    const MByte* sp[3] = {src.data(), nullptr, nullptr};
                    const MInt64 dpitch[3] = {dw, 0, 0}, spitch[3] = {sw, 0, 0};
                    engine->run(dp, dpitch, sp, spitch);
                },
                [&src, sw, sh, dw, dh](Bytes& out) {
                    libyuv::ScalePlane(src.data(), sw, sw, sh, out.data(), dw, dw, dh, libyuv::kFilterBilinear);
                },
                static_cast<size_t>(dw) * dh};
}

// Nearest sampling through the engine (no interpolation at all) beside libyuv's unfiltered scalers.
Case nearestCase(const char* name, const Bytes& src, int bpp, int sw, int sh, int dw, int dh)
{
    const MInt64 id = bpp == 4 ? 0x37001777 : 0x64000000;
    auto engine = std::make_shared<Engine>(id, dw, dh, id, sw, sh, PP_RESAMPLE_NEAREST);
    return Case{name,
                [engine, &src, bpp, sw, dw](Bytes& out) {
                    MByte* dp[3] = {out.data(), nullptr, nullptr};
                    const MByte* sp[3] = {src.data(), nullptr, nullptr};
                    const MInt64 dpitch[3] = {dw * bpp, 0, 0}, spitch[3] = {sw * bpp, 0, 0};
                    engine->run(dp, dpitch, sp, spitch);
                },
                [&src, bpp, sw, sh, dw, dh](Bytes& out) {
                    if (bpp == 4)
                        libyuv::ARGBScale(src.data(), sw * 4, sw, sh, out.data(), dw * 4, dw, dh, libyuv::kFilterNone);
                    else
                        libyuv::ScalePlane(src.data(), sw, sw, sh, out.data(), dw, dw, dh, libyuv::kFilterNone);
                },
                static_cast<size_t>(dw) * dh * bpp};
}

// Planar 4:2:0: luma bilinear (or nearest), chroma by nearest sample on both sides.
Case i420Case(const char* name, const Bytes& src, int sw, int sh, int dw, int dh, bool bilinear = true)
{
    auto engine = std::make_shared<Engine>(0x50000811, dw, dh, 0x50000811, sw, sh,
                                           bilinear ? PP_RESAMPLE_BILINEAR : PP_RESAMPLE_NEAREST);
    const libyuv::FilterMode luma = bilinear ? libyuv::kFilterBilinear : libyuv::kFilterNone;
    const size_t sy = static_cast<size_t>(sw) * sh, sc = sy / 4, dy = static_cast<size_t>(dw) * dh, dc = dy / 4;
    return Case{name,
                [=, &src](Bytes& out) {
                    MByte* dp[3] = {out.data(), out.data() + dy, out.data() + dy + dc};
                    const MByte* sp[3] = {src.data(), src.data() + sy, src.data() + sy + sc};
                    const MInt64 dpitch[3] = {dw, dw / 2, dw / 2}, spitch[3] = {sw, sw / 2, sw / 2};
                    engine->run(dp, dpitch, sp, spitch);
                },
                [=, &src](Bytes& out) {
                    libyuv::ScalePlane(src.data(), sw, sw, sh, out.data(), dw, dw, dh, luma);
                    for (size_t k = 0; k < 2; ++k)
                        libyuv::ScalePlane(src.data() + sy + k * sc, sw / 2, sw / 2, sh / 2, out.data() + dy + k * dc,
                                           dw / 2, dw / 2, dh / 2, libyuv::kFilterNone);
                },
                dy + 2 * dc};
}

// Semi-planar 4:2:0 (U, V pairs): luma bilinear (or nearest), chroma pairs by nearest sample on both
// sides.
Case nv12Case(const char* name, const Bytes& src, int sw, int sh, int dw, int dh, bool bilinear = true)
{
    auto engine = std::make_shared<Engine>(0x70000003, dw, dh, 0x70000003, sw, sh,
                                           bilinear ? PP_RESAMPLE_BILINEAR : PP_RESAMPLE_NEAREST);
    const libyuv::FilterMode luma = bilinear ? libyuv::kFilterBilinear : libyuv::kFilterNone;
    const size_t sy = static_cast<size_t>(sw) * sh, dy = static_cast<size_t>(dw) * dh;
    return Case{name,
                [=, &src](Bytes& out) {
                    MByte* dp[3] = {out.data(), out.data() + dy, out.data() + dy + 1};
                    const MByte* sp[3] = {src.data(), src.data() + sy, src.data() + sy + 1};
                    const MInt64 dpitch[3] = {dw, dw, dw}, spitch[3] = {sw, sw, sw};
                    engine->run(dp, dpitch, sp, spitch);
                },
                [=, &src](Bytes& out) {
                    libyuv::ScalePlane(src.data(), sw, sw, sh, out.data(), dw, dw, dh, luma);
                    libyuv::UVScale(src.data() + sy, sw, sw / 2, sh / 2, out.data() + dy, dw, dw / 2, dh / 2,
                                    libyuv::kFilterNone);
                },
                dy + dy / 2};
}

// YUV at one to one into packed RGB through the engine, beside libyuv's converter for the same
// matrix (BT.601, video range), layout and byte order. The frame holds luma, then the chroma
// planes of cw x ch samples each, or one plane of interleaved pairs (pairs: 1 for U first, 2 for
// V first). 32-bit targets get an alpha of 255, as libyuv writes.
Case conversionCase(const char* name, MInt64 dstID, int bytes, MInt64 srcID, const Bytes& frame, int cw, int ch,
                    int pairs, std::function<void(const uint8_t* y, const uint8_t* c, Bytes& out)> reference)
{
    PPFormat d{dstID, kVideoW, kVideoH, nullptr}, s{srcID, kVideoW, kVideoH, nullptr};
    PPPara para{};
    para.lResampleMode = PP_RESAMPLE_NEAREST;
    para.lBlockMode = PP_BLOCK_AUTO;
    para.lAlpha = 255;
    PPHandle h = nullptr;
    if (MPPCreate(&d, &s, &para, &h) != MOK) {
        std::fprintf(stderr, "the engine refused %s\n", name);
        std::exit(1);
    }
    const std::shared_ptr<PPHandleRecord> handle(h, MPPDestroy);
    const size_t luma = static_cast<size_t>(kVideoW) * kVideoH, chroma = static_cast<size_t>(cw) * ch;
    return Case{name,
                [=, &frame](Bytes& out) {
                    const uint8_t* y = frame.data();
                    const uint8_t* c = y + luma;
                    MByte* dp[3] = {out.data(), nullptr, nullptr};
                    const MInt64 dpitch[3] = {kVideoW * bytes, 0, 0};
                    const MByte* sp[3] = {y, c, c + chroma};
                    MInt64 spitch[3] = {kVideoW, cw, cw};
                    if (pairs) {
                        sp[1] = pairs == 1 ? c : c + 1;
                        sp[2] = pairs == 1 ? c + 1 : c;
                        spitch[1] = spitch[2] = kVideoW;
                    }
                    MPProcess(handle.get(), dp, nullptr, dpitch, sp, spitch);
                },
                [=, &frame](Bytes& out) { reference(frame.data(), frame.data() + luma, out); },
                luma * static_cast<size_t>(bytes), bytes == 2};
}

} // namespace

int main(int argc, char** argv)
{
    // An argument keeps only the cases whose name contains it.
    const std::string only = argc > 1 ? argv[1] : "";
    double load[3] = {};
    getloadavg(load, 3);
    std::printf("Vector level: %s (KPV_SIMD=portable|sse4.1|avx2 caps it); load average %.2f %.2f %.2f\n",
                PPSimdName(PPSimdLevel()), load[0], load[1], load[2]);
    // libyuv is held to the instruction sets ours may use at this level: never AVX-512, no AVX
    // below AVX2, no vector code at all beside the portable path.
    int libyuvFlags = ~(libyuv::kCpuHasAVX512BW | libyuv::kCpuHasAVX512VL | libyuv::kCpuHasAVX512VNNI |
                        libyuv::kCpuHasAVX512VBMI | libyuv::kCpuHasAVX512VBMI2 | libyuv::kCpuHasAVX512VBITALG |
                        libyuv::kCpuHasAVX512VPOPCNTDQ | libyuv::kCpuHasGFNI);
    if (PPSimdLevel() != PPSimd::AVX2)
        libyuvFlags &= ~(libyuv::kCpuHasAVX | libyuv::kCpuHasAVX2 | libyuv::kCpuHasFMA3 | libyuv::kCpuHasF16C);
    if (PPSimdLevel() == PPSimd::Portable)
        libyuvFlags = libyuv::kCpuInitialized;
    libyuv::MaskCpuFlags(libyuvFlags);
    std::printf("libyuv held to the same instruction sets (no AVX-512%s)\n",
                PPSimdLevel() == PPSimd::AVX2 ? "" : PPSimdLevel() == PPSimd::SSE41 ? ", no AVX" : ", no vector code");

    const Bytes rgbaPhoto = photo(kPhotoW, kPhotoH, 4, 1);
    const Bytes rgbPhoto = photo(kPhotoW, kPhotoH, 3, 2);
    const Bytes greyPhoto = photo(kPhotoW, kPhotoH, 1, 3);
    const Bytes rgbaVideo = photo(kVideoW, kVideoH, 4, 4);
    const Bytes rgbaSmall = photo(640, 480, 4, 6);
    const Bytes video = photo(kVideoW, kVideoH * 3 / 2, 1, 5); // luma, then chroma
    const Bytes video422 = photo(kVideoW, kVideoH * 2, 1, 7);
    const Bytes video444 = photo(kVideoW, kVideoH * 3, 1, 8);
    const Bytes greyVideo(video.begin(), video.begin() + kVideoW * kVideoH);

    std::vector<Case> cases;
    cases.push_back(rgbaCase("RGBA 6000x4000 -> 1024x768, bilinear", rgbaPhoto, kPhotoW, kPhotoH, 1024, 768));
    cases.push_back(rgbaCase("RGBA 6000x4000 -> 256x256, bilinear", rgbaPhoto, kPhotoW, kPhotoH, 256, 256));
    cases.push_back(rgbaCase("RGBA 1920x1080 -> 2880x1620, bilinear", rgbaVideo, kVideoW, kVideoH, 2880, 1620));
    cases.push_back(rgbaCase("RGBA 640x480 -> 960x720, bilinear", rgbaSmall, 640, 480, 960, 720));
    {
        auto e = std::make_shared<Engine>(0x16000777, 1024, 768, 0x16000777, kPhotoW, kPhotoH, PP_RESAMPLE_BILINEAR);
        cases.push_back(Case{"RGB24 6000x4000 -> 1024x768, bilinear",
                             [e, &rgbPhoto](Bytes& out) {
                                 MByte* dp[3] = {out.data(), nullptr, nullptr};
                                 const MByte* sp[3] = {rgbPhoto.data(), nullptr, nullptr};
                                 const MInt64 dpitch[3] = {1024 * 3, 0, 0}, spitch[3] = {kPhotoW * 3, 0, 0};
                                 e->run(dp, dpitch, sp, spitch);
                             },
                             [&rgbPhoto](Bytes& out) {
                                 libyuv::RGBScale(rgbPhoto.data(), kPhotoW * 3, kPhotoW, kPhotoH, out.data(), 1024 * 3,
                                                  1024, 768, libyuv::kFilterBilinear);
                             },
                             1024 * 768 * 3});
    }
    cases.push_back(planeCase("grey 6000x4000 -> 1024x768, bilinear", greyPhoto, kPhotoW, kPhotoH, 1024, 768));
    cases.push_back(planeCase("grey 1920x1080 -> 1280x720, bilinear", greyVideo, kVideoW, kVideoH, 1280, 720));
    cases.push_back(planeCase("grey 1920x1080 -> 2880x1620, bilinear", greyVideo, kVideoW, kVideoH, 2880, 1620));
    cases.push_back(nearestCase("RGBA 6000x4000 -> 1024x768, nearest", rgbaPhoto, 4, kPhotoW, kPhotoH, 1024, 768));
    cases.push_back(nearestCase("RGBA 1920x1080 -> 2880x1620, nearest", rgbaVideo, 4, kVideoW, kVideoH, 2880, 1620));
    cases.push_back(nearestCase("grey 1920x1080 -> 1280x720, nearest", greyVideo, 1, kVideoW, kVideoH, 1280, 720));
    cases.push_back(nearestCase("grey 1920x1080 -> 2880x1620, nearest", greyVideo, 1, kVideoW, kVideoH, 2880, 1620));
    cases.push_back(i420Case("I420 1920x1080 -> 1280x720, bilinear luma", video, kVideoW, kVideoH, 1280, 720));
    cases.push_back(nv12Case("NV12 1920x1080 -> 1280x720, bilinear luma", video, kVideoW, kVideoH, 1280, 720));
    cases.push_back(i420Case("I420 1920x1080 -> 1280x720, nearest", video, kVideoW, kVideoH, 1280, 720, false));
    cases.push_back(nv12Case("NV12 1920x1080 -> 1280x720, nearest", video, kVideoW, kVideoH, 1280, 720, false));

    // The engine's fast conversions.
    {
        auto e = std::make_shared<Engine>(0x16000777, kVideoW, kVideoH, 0x50000811, kVideoW, kVideoH,
                                          PP_RESAMPLE_NEAREST);
        const size_t y = static_cast<size_t>(kVideoW) * kVideoH;
        cases.push_back(Case{"I420 1920x1080 -> RGB24",
                             [e, &video](Bytes& out) {
                                 MByte* dp[3] = {out.data(), nullptr, nullptr};
                                 const MByte* sp[3] = {video.data(), video.data() + y, video.data() + y + y / 4};
                                 const MInt64 dpitch[3] = {kVideoW * 3, 0, 0};
                                 const MInt64 spitch[3] = {kVideoW, kVideoW / 2, kVideoW / 2};
                                 e->run(dp, dpitch, sp, spitch);
                             },
                             [&video](Bytes& out) {
                                 libyuv::I420ToRGB24(video.data(), kVideoW, video.data() + y, kVideoW / 2,
                                                     video.data() + y + y / 4, kVideoW / 2, out.data(), kVideoW * 3,
                                                     kVideoW, kVideoH);
                             },
                             y * 3});
    }
    {
        // A quarter turn of 270 degrees of a semi-planar frame (V, U pairs) into planar 4:2:0.
        auto e = std::make_shared<Engine>(0x50000811, kVideoH, kVideoW, 0x70000002, kVideoW, kVideoH,
                                          PP_RESAMPLE_NEAREST, PP_ORIENT_SWAPXY | PP_ORIENT_MIRROR_TB);
        const size_t y = static_cast<size_t>(kVideoW) * kVideoH;
        cases.push_back(Case{"semi-planar 1920x1080, turn 270 -> I420",
                             [e, &video](Bytes& out) {
                                 MByte* dp[3] = {out.data(), out.data() + y, out.data() + y * 5 / 4};
                                 const MByte* sp[3] = {video.data(), video.data() + y + 1, video.data() + y};
                                 const MInt64 dpitch[3] = {kVideoH, kVideoH / 2, kVideoH / 2};
                                 const MInt64 spitch[3] = {kVideoW, kVideoW, kVideoW};
                                 e->run(dp, dpitch, sp, spitch);
                             },
                             [&video](Bytes& out) {
                                 // V, U pairs read as U, V with the two chroma outputs exchanged.
                                 libyuv::NV12ToI420Rotate(video.data(), kVideoW, video.data() + y, kVideoW, out.data(),
                                                          kVideoH, out.data() + y * 5 / 4, kVideoH / 2,
                                                          out.data() + y, kVideoH / 2, kVideoW, kVideoH,
                                                          libyuv::kRotate270);
                             },
                             y * 3 / 2});
    }

    {
        // A quarter turn of 90 degrees of a planar 4:2:0 frame.
        auto e = std::make_shared<Engine>(0x50000811, kVideoH, kVideoW, 0x50000811, kVideoW, kVideoH,
                                          PP_RESAMPLE_NEAREST, PP_ORIENT_SWAPXY | PP_ORIENT_MIRROR_LR);
        const size_t y = static_cast<size_t>(kVideoW) * kVideoH;
        cases.push_back(Case{"I420 1920x1080, turn 90 -> I420",
                             [e, &video](Bytes& out) {
                                 MByte* dp[3] = {out.data(), out.data() + y, out.data() + y * 5 / 4};
                                 const MByte* sp[3] = {video.data(), video.data() + y, video.data() + y * 5 / 4};
                                 const MInt64 dpitch[3] = {kVideoH, kVideoH / 2, kVideoH / 2};
                                 const MInt64 spitch[3] = {kVideoW, kVideoW / 2, kVideoW / 2};
                                 e->run(dp, dpitch, sp, spitch);
                             },
                             [&video](Bytes& out) {
                                 libyuv::I420Rotate(video.data(), kVideoW, video.data() + y, kVideoW / 2,
                                                    video.data() + y * 5 / 4, kVideoW / 2, out.data(), kVideoH,
                                                    out.data() + y, kVideoH / 2, out.data() + y * 5 / 4, kVideoH / 2,
                                                    kVideoW, kVideoH, libyuv::kRotate90);
                             },
                             y * 3 / 2});
    }
    {
        // More of the engine's YUV to RGB conversions, frames as a player or camera hands them over:
        // libyuv's converters from three planes, and from luma and interleaved pairs.
        using Planes = int (*)(const uint8_t*, int, const uint8_t*, int, const uint8_t*, int, uint8_t*, int, int, int);
        using Pairs = int (*)(const uint8_t*, int, const uint8_t*, int, uint8_t*, int, int, int);
        constexpr int w = kVideoW, h = kVideoH;
        const auto planes = [&](const char* name, MInt64 dstID, int bytes, MInt64 srcID, const Bytes& frame, int cw,
                                int ch, Planes fn) {
            cases.push_back(conversionCase(name, dstID, bytes, srcID, frame, cw, ch, 0,
                                           [=](const uint8_t* y, const uint8_t* c, Bytes& out) {
                                               fn(y, w, c, cw, c + cw * ch, cw, out.data(), w * bytes, w, h);
                                           }));
        };
        const auto pairs = [&](const char* name, MInt64 dstID, int bytes, MInt64 srcID, int order, Pairs fn) {
            cases.push_back(conversionCase(name, dstID, bytes, srcID, video, w / 2, h / 2, order,
                                           [=](const uint8_t* y, const uint8_t* c, Bytes& out) {
                                               fn(y, w, c, w, out.data(), w * bytes, w, h);
                                           }));
        };
        pairs("NV12 1920x1080 -> RGB24", 0x16000777, 3, 0x70000003, 1, libyuv::NV12ToRGB24);
        pairs("NV21 1920x1080 -> RGB24", 0x16000777, 3, 0x70000002, 2, libyuv::NV21ToRGB24);
        pairs("NV12 1920x1080 -> BGRA", 0x17000777, 4, 0x70000003, 1, libyuv::NV12ToARGB);
        planes("I420 1920x1080 -> BGRA (memory B, G, R, A)", 0x17000777, 4, 0x50000811, video, w / 2, h / 2,
               libyuv::I420ToARGB);
        planes("I420 1920x1080 -> RGBA (memory R, G, B, A)", 0x17001777, 4, 0x50000811, video, w / 2, h / 2,
               libyuv::I420ToABGR);
        planes("I420 1920x1080 -> RGB565", 0x15000454, 2, 0x50000811, video, w / 2, h / 2, libyuv::I420ToRGB565);
        planes("I422 1920x1080 -> BGRA", 0x17000777, 4, 0x50000810, video422, w / 2, h, libyuv::I422ToARGB);
        planes("I444 1920x1080 -> BGRA", 0x17000777, 4, 0x50000800, video444, w, h, libyuv::I444ToARGB);
    }

    std::printf("\nOurs beside libyuv, same input and filter (median ms per call; speed = libyuv's time / ours,\n"
                "above 1 when ours is faster; differences per byte of output)\n");
    for (const Case& c : cases)
        if (c.name.find(only) != std::string::npos)
            print(c, measure(c));
    if (!only.empty())
        return 0;

    // libswscale's bilinear scaler on the RGBA photo, for reference: at these ratios it filters over
    // more source pixels than two by two, so it is not equal work and has no output check.
    std::printf("\nlibswscale (bilinear, wider footprint when shrinking) on the RGBA photo\n");
    for (const auto& size : {std::pair{1024, 768}, std::pair{256, 256}}) {
        const int w = size.first, h = size.second;
        Bytes ours(static_cast<size_t>(w) * h * 4), theirs(ours.size());
        SwsContext* ctx = sws_getContext(kPhotoW, kPhotoH, AV_PIX_FMT_RGBA, w, h, AV_PIX_FMT_RGBA, SWS_BILINEAR,
                                         nullptr, nullptr, nullptr);
        const uint8_t* sp[1] = {rgbaPhoto.data()};
        const int spitch[1] = {kPhotoW * 4};
        uint8_t* dp[1] = {theirs.data()};
        const int dpitch[1] = {w * 4};
        const auto oursFn = oursRgba(rgbaPhoto, kPhotoW, kPhotoH, w, h);
        const std::vector<double> t =
            medians({[&] { oursFn(ours); }, [&] { sws_scale(ctx, sp, spitch, 0, kPhotoH, dp, dpitch); }}, 3);
        std::printf("  RGBA 6000x4000 -> %dx%-4d ours %8.3f ms | swscale %8.3f ms | ours/swscale speed %6.2f\n", w, h,
                    t[0], t[1], t[1] / t[0]);
        sws_freeContext(ctx);
    }
    getloadavg(load, 3);
    std::printf("\nload average at the end %.2f %.2f %.2f\n", load[0], load[1], load[2]);
    return 0;
}
