// GIF decoding beside giflib (frames per second), PNG decoding through the glue beside plain
// libpng and libspng, and converter throughput for the common pairs. Each pair prints ours,
// the reference and the ratio (reference time / our time: above 1 means we are faster).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

#include <gif_lib.h>
#include <png.h>
#include <spng.h>

#include "GifDecoder.h"
#include "MStream.h"
#include "MdConverter.h"
#include "PngDecoder.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr int kGifW = 320, kGifH = 240, kFrames = 12;

int gifWrite(GifFileType* g, const GifByteType* b, int n) {
    auto* out = static_cast<Bytes*>(g->UserData);
    out->insert(out->end(), b, b + n);
    return n;
}

const Bytes& animatedGif() {
    static Bytes file = [] {
        Bytes out;
        int err;
        GifFileType* g = EGifOpen(&out, gifWrite, &err);
        std::vector<GifColorType> colours(256);
        for (int i = 0; i < 256; ++i) colours[size_t(i)] = {uint8_t(i), uint8_t(255 - i), uint8_t(i * 7)};
        ColorMapObject* map = GifMakeMapObject(256, colours.data());
        EGifPutScreenDesc(g, kGifW, kGifH, 8, 0, map);
        std::vector<uint8_t> row(kGifW);
        for (int f = 0; f < kFrames; ++f) {
            EGifPutImageDesc(g, 0, 0, kGifW, kGifH, false, nullptr);
            for (int y = 0; y < kGifH; ++y) {
                for (int x = 0; x < kGifW; ++x) row[size_t(x)] = uint8_t(((x + f * 3) / 8 + (y / 8) * 5) & 63);
                EGifPutLine(g, row.data(), kGifW);
            }
        }
        EGifCloseFile(g, &err);
        GifFreeMapObject(map);
        return out;
    }();
    return file;
}

void oursGif() {
    Bytes data = animatedGif();
    MSTREAM s = MStreamOpenFromMemoryBlock(data.data(), int64_t(data.size()));
    GIFHandle h;
    GIF_DecodeInit(s, &h);
    std::vector<uint8_t> row(kGifW);
    for (int f = 0; f < kFrames; ++f) {
        GIFFrameInfo fi{};
        GIF_DecodeGetFrameInfo(h, &fi, f);
        for (int y = 0; y < fi.wHeight; ++y) {
            int64_t first, got;
            GIF_DecodeScanLines(h, row.data(), 1, &first, &got);
        }
        benchmark::DoNotOptimize(row.data());
    }
    GIF_DecodeUninit(h);
    MStreamClose(s);
}

struct MemSrc {
    const Bytes* b;
    size_t pos;
};
int gifRead(GifFileType* g, GifByteType* out, int n) {
    auto* m = static_cast<MemSrc*>(g->UserData);
    int k = int(std::min<size_t>(size_t(n), m->b->size() - m->pos));
    std::memcpy(out, m->b->data() + m->pos, size_t(k));
    m->pos += size_t(k);
    return k;
}

void giflibGif() {
    MemSrc src{&animatedGif(), 0};
    int err;
    GifFileType* g = DGifOpen(&src, gifRead, &err);
    DGifSlurp(g);
    benchmark::DoNotOptimize(g->SavedImages);
    DGifCloseFile(g, &err);
}

constexpr int kPngW = 1024, kPngH = 768;
void pngWrite(png_structp p, png_bytep d, size_t n) {
    auto* out = static_cast<Bytes*>(png_get_io_ptr(p));
    out->insert(out->end(), d, d + n);
}

const Bytes& rgbaPng() {
    static Bytes file = [] {
        Bytes out;
        png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png_create_info_struct(png);
        png_set_write_fn(png, &out, pngWrite, nullptr);
        png_set_IHDR(png, info, kPngW, kPngH, 8, PNG_COLOR_TYPE_RGBA, 0, 0, 0);
        png_write_info(png, info);
        std::vector<uint8_t> row(kPngW * 4);
        std::mt19937 rng(1);
        for (int y = 0; y < kPngH; ++y) {
            for (int x = 0; x < kPngW * 4; ++x) row[size_t(x)] = uint8_t((x * 3 + y) ^ (rng() & 7));
            png_write_row(png, row.data());
        }
        png_write_end(png, info);
        png_destroy_write_struct(&png, &info);
        return out;
    }();
    return file;
}

void oursPng() {
    Bytes data = rgbaPng();
    MSTREAM s = MStreamOpenFromMemoryBlock(data.data(), int64_t(data.size()));
    PNGHandle h;
    PNG_DecodeInit(s, &h);
    std::vector<uint8_t> row(kPngW * 4);
    for (int y = 0; y < kPngH; ++y) {
        int64_t first, got;
        PNG_DecodeScanLines(h, row.data(), 1, &first, &got);
    }
    benchmark::DoNotOptimize(row.data());
    PNG_DecodeUninit(h);
    MStreamClose(s);
}

void libpngPng() {
    png_image img{};
    img.version = PNG_IMAGE_VERSION;
    png_image_begin_read_from_memory(&img, rgbaPng().data(), rgbaPng().size());
    img.format = PNG_FORMAT_BGRA;
    std::vector<uint8_t> px(PNG_IMAGE_SIZE(img));
    png_image_finish_read(&img, nullptr, px.data(), 0, nullptr);
    benchmark::DoNotOptimize(px.data());
    png_image_free(&img);
}

void spngPng() {
    spng_ctx* ctx = spng_ctx_new(0);
    spng_set_png_buffer(ctx, rgbaPng().data(), rgbaPng().size());
    size_t size;
    spng_decoded_image_size(ctx, SPNG_FMT_RGBA8, &size);
    std::vector<uint8_t> px(size);
    spng_decode_image(ctx, px.data(), size, SPNG_FMT_RGBA8, 0);
    benchmark::DoNotOptimize(px.data());
    spng_ctx_free(ctx);
}

double seconds(const std::function<void()>& f, int reps) {
    f();
    auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < reps; ++i) f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count() / reps;
}

void BM_GifOurs(benchmark::State& st) {
    for (auto _ : st) oursGif();
    st.counters["frames/s"] = benchmark::Counter(double(kFrames) * double(st.iterations()), benchmark::Counter::kIsRate);
}
void BM_GifGiflib(benchmark::State& st) {
    for (auto _ : st) giflibGif();
    st.counters["frames/s"] = benchmark::Counter(double(kFrames) * double(st.iterations()), benchmark::Counter::kIsRate);
}
void BM_PngGlue(benchmark::State& st) { for (auto _ : st) oursPng(); }
void BM_PngLibpng(benchmark::State& st) { for (auto _ : st) libpngPng(); }
void BM_PngSpng(benchmark::State& st) { for (auto _ : st) spngPng(); }

struct Pair { const char* name; uint64_t key; int srcBytes; int dstBytes; };
const Pair kPairs[] = {
    {"index8 -> RGBA", 0x190024, 1, 4}, {"RGB888 -> RGBA", 0x010024, 3, 4},
    {"BGRA -> RGB888", 0x250001, 4, 3}, {"RGB888 -> RGB565", 0x010005, 3, 2}, {"grey8 -> RGBA", 0x1D0024, 1, 4},
};

void BM_Convert(benchmark::State& st) {
    const Pair& p = kPairs[st.range(0)];
    constexpr int w = 4096;
    MdConverter* r;
    MdInitConvert(p.key, &r);
    std::vector<uint8_t> pal(1024, 77), src(size_t(w * p.srcBytes), 33), dst(size_t(w * p.dstBytes));
    MdSetPallette(r, pal.data(), nullptr);
    for (auto _ : st) {
        MdConvertLine(src.data(), dst.data(), w, r);
        benchmark::DoNotOptimize(dst.data());
    }
    st.SetLabel(p.name);
    st.counters["GB/s(out)"] =
        benchmark::Counter(double(w) * p.dstBytes * double(st.iterations()) / 1e9, benchmark::Counter::kIsRate);
    MdUninitConvert(r);
}

BENCHMARK(BM_GifOurs)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GifGiflib)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PngGlue)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PngLibpng)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PngSpng)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Convert)->DenseRange(0, 4);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    const double gOurs = seconds(oursGif, 20), gRef = seconds(giflibGif, 20);
    std::printf("GIF decode (%d frames %dx%d): ours %.1f frames/s, giflib %.1f frames/s, ratio %.2f\n", kFrames,
                kGifW, kGifH, kFrames / gOurs, kFrames / gRef, gRef / gOurs);
    const double pOurs = seconds(oursPng, 10), pLib = seconds(libpngPng, 10), pSpng = seconds(spngPng, 10);
    std::printf("PNG decode (%dx%d RGBA): ours %.2f ms, libpng %.2f ms (ratio %.2f), libspng %.2f ms (ratio %.2f)\n",
                kPngW, kPngH, pOurs * 1e3, pLib * 1e3, pLib / pOurs, pSpng * 1e3, pSpng / pOurs);
    return 0;
}
