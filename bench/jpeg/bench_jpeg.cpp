// JPEG decoding speed: ours (planar YUV) beside libjpeg-turbo (planar YUV through its TurboJPEG
// interface) and stb_image (RGB only, full size only), on a generated 24-megapixel photograph
// encoded by libjpeg-turbo at quality 90, 4:2:0, baseline and progressive; all from memory on
// one thread, at 1/1, 1/2, 1/4 and 1/8.
//
//   bench_jpeg --write DIR   writes the two files (DIR/bench-baseline.jpg, DIR/bench-progressive.jpg)
//                            and exits, for jpeg_decode_file and profilers to read the same bytes.
#include <benchmark/benchmark.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <turbojpeg.h>

#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_JPEG
#include <stb/stb_image.h>

#include "AjlJpgDecoder.h"

namespace {

constexpr int kWidth = 6000, kHeight = 4000;

// Photograph-like content: large smooth shapes, mid-frequency texture and sensor grain.
std::vector<uint8_t> makePhoto() {
    std::vector<uint8_t> rgb(size_t(kWidth) * kHeight * 3);
    uint32_t state = 12345;
    std::vector<float> sinx(kWidth), siny(kHeight), tex(4096);
    for (int x = 0; x < kWidth; ++x) {
        sinx[size_t(x)] = float(std::sin(x * 0.0021) * 60 + std::sin(x * 0.031) * 12);
    }
    for (int y = 0; y < kHeight; ++y) {
        siny[size_t(y)] = float(std::cos(y * 0.0017) * 50 + std::sin(y * 0.043) * 10);
    }
    for (size_t i = 0; i < tex.size(); ++i) {
        tex[i] = float(std::sin(double(i) * 0.37) * 6);
    }
    for (int y = 0; y < kHeight; ++y) {
        uint8_t* row = rgb.data() + size_t(y) * kWidth * 3;
        for (int x = 0; x < kWidth; ++x) {
            state = state * 1664525u + 1013904223u;
            float grain = float(int(state >> 28) - 8);
            float base = 120 + sinx[size_t(x)] + siny[size_t(y)] + tex[size_t((x * 7 + y * 13) & 4095)];
            float r = base + 20 + grain, g = base + grain * 0.8f, b = base - 25 + grain;
            row[x * 3] = uint8_t(r < 0 ? 0 : r > 255 ? 255 : r);
            row[x * 3 + 1] = uint8_t(g < 0 ? 0 : g > 255 ? 255 : g);
            row[x * 3 + 2] = uint8_t(b < 0 ? 0 : b > 255 ? 255 : b);
        }
    }
    return rgb;
}

std::vector<uint8_t> encodeJpeg(const std::vector<uint8_t>& rgb, bool progressive) {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &out, &size);
    cinfo.image_width = kWidth;
    cinfo.image_height = kHeight;
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 90, TRUE);
    if (progressive) {
        jpeg_simple_progression(&cinfo);
    }
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(rgb.data() + size_t(cinfo.next_scanline) * kWidth * 3);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::vector<uint8_t> v(out, out + size);
    free(out);
    return v;
}

const std::vector<uint8_t>& file(bool progressive) {
    static const std::vector<uint8_t> photo = makePhoto();
    static const std::vector<uint8_t> files[2] = {encodeJpeg(photo, false), encodeJpeg(photo, true)};
    return files[progressive ? 1 : 0];
}

struct Mem {
    const uint8_t* data;
    int64_t size, pos;
};

int32_t memCallback(int32_t op, void* stream, void* args) {
    auto* m = static_cast<Mem*>(stream);
    if (op == JPG_STREAM_READ) {
        auto* io = static_cast<JpgStreamIo*>(args);
        int64_t n = m->size - m->pos;
        n = n < int64_t(io->count) ? n : int64_t(io->count);
        std::memcpy(io->buffer, m->data + m->pos, size_t(n));
        m->pos += n;
        return int32_t(n);
    }
    if (op == JPG_STREAM_SEEK) {
        auto* a = static_cast<JpgStreamSeekArgs*>(args);
        m->pos = a->offset;
        return 0;
    }
    return op == JPG_STREAM_TELL ? int32_t(m->pos) : 0;
}

// Planes of a 4:2:0 image at a scale.
struct Yuv {
    int w[3], h[3];
    std::vector<uint8_t> p[3];
    explicit Yuv(int scale) {
        int cw = (kWidth + 1) / 2, ch = (kHeight + 1) / 2;
        w[0] = (kWidth + scale - 1) / scale;
        h[0] = (kHeight + scale - 1) / scale;
        w[1] = w[2] = (cw + scale - 1) / scale;
        h[1] = h[2] = (ch + scale - 1) / scale;
        for (int c = 0; c < 3; ++c) {
            p[c].resize(size_t(w[c]) * h[c]);
        }
    }
};

bool decodeOurs(const std::vector<uint8_t>& jpeg, int scale, Yuv& out) {
    Mem m{jpeg.data(), int64_t(jpeg.size()), 0};
    JpgDecParam param{};
    param.stream = &m;
    param.streamCallback = memCallback;
    param.bufferSize = 64 * 1024;
    JpgDecoder* d = nullptr;
    if (ajlJpgDecoderCreate(&d, &param) != 0) {
        return false;
    }
    int64_t s = scale;
    ajlJpgDecoderSetProp(d, JPG_PROP_SCALE, &s, 8);
    int64_t done = 0, result = 0;
    while (result == 0 && done < kHeight) {
        uint8_t* planes[3] = {out.p[0].data() + size_t(done / scale) * out.w[0],
                              out.p[1].data() + size_t(done / 2 / scale) * out.w[1],
                              out.p[2].data() + size_t(done / 2 / scale) * out.w[2]};
        int64_t pitches[3] = {out.w[0], out.w[1], out.w[2]};
        int64_t lines = 16 * 8; // eight MCU rows per call
        result = ajlJpgDecoderScanlines(d, planes, pitches, 0, &lines);
        if (lines == 0) {
            break;
        }
        done += lines;
    }
    ajlJpgDecoderDestroy(d);
    return result == 0;
}

bool decodeTurbo(const std::vector<uint8_t>& jpeg, int scale, Yuv& out) {
    tjhandle h = tjInitDecompress();
    unsigned char* planes[3] = {out.p[0].data(), out.p[1].data(), out.p[2].data()};
    int strides[3] = {out.w[0], out.w[1], out.w[2]};
    int r = tjDecompressToYUVPlanes(h, jpeg.data(), static_cast<unsigned long>(jpeg.size()), planes,
                                    out.w[0], strides, out.h[0], TJFLAG_FASTUPSAMPLE);
    tjDestroy(h);
    (void)scale;
    return r == 0;
}

struct Result {
    double seconds = 0;
    int runs = 0;
};
std::map<std::string, Result> g_results;

template <typename F>
void timed(benchmark::State& state, const std::string& key, F&& f) {
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        if (!f()) {
            state.SkipWithError("decode failed");
            return;
        }
        auto t1 = std::chrono::steady_clock::now();
        Result& r = g_results[key];
        r.seconds += std::chrono::duration<double>(t1 - t0).count();
        r.runs++;
    }
    state.counters["MP/s"] = benchmark::Counter(double(kWidth) * kHeight / 1e6 * double(state.iterations()),
                                                benchmark::Counter::kIsRate);
}

std::string key(const char* who, bool progressive, int scale) {
    return std::string(progressive ? "progressive" : "baseline") + " 1/" + std::to_string(scale) +
           " " + who;
}

void BM_Ours(benchmark::State& state) {
    bool progressive = state.range(0) != 0;
    int scale = int(state.range(1));
    const auto& jpeg = file(progressive);
    Yuv out(scale);
    timed(state, key("ours", progressive, scale), [&] { return decodeOurs(jpeg, scale, out); });
}

void BM_Turbo(benchmark::State& state) {
    bool progressive = state.range(0) != 0;
    int scale = int(state.range(1));
    const auto& jpeg = file(progressive);
    Yuv out(scale);
    timed(state, key("libjpeg-turbo", progressive, scale), [&] { return decodeTurbo(jpeg, scale, out); });
}

void BM_Stb(benchmark::State& state) {
    bool progressive = state.range(0) != 0;
    const auto& jpeg = file(progressive);
    timed(state, key("stb_image", progressive, 1), [&] {
        int w, h, n;
        unsigned char* rgb = stbi_load_from_memory(jpeg.data(), int(jpeg.size()), &w, &h, &n, 3);
        stbi_image_free(rgb);
        return rgb != nullptr;
    });
}

void args(benchmark::internal::Benchmark* b) {
    for (int p : {0, 1}) {
        for (int s : {1, 2, 4, 8}) {
            b->Args({p, s});
        }
    }
    b->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
}

BENCHMARK(BM_Ours)->Apply(args);
BENCHMARK(BM_Turbo)->Apply(args);
BENCHMARK(BM_Stb)->Args({0, 1})->Args({1, 1})->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

void printSummary() {
    std::printf("\nJPEG decoding, %d x %d (%.1f MP), quality 90, 4:2:0, one thread, from memory\n",
                kWidth, kHeight, kWidth * kHeight / 1e6);
    std::printf("ours and libjpeg-turbo: planar YUV; stb_image: RGB at full size (no scaled decode)\n");
    std::printf("%-22s %12s %14s %12s %14s %12s\n", "file, scale", "ours MP/s", "turbo MP/s",
                "ours/turbo", "ours/own 1/1", "stb MP/s");
    for (bool progressive : {false, true}) {
        for (int s : {1, 2, 4, 8}) {
            auto mp = [&](const char* who, int scale) {
                auto it = g_results.find(key(who, progressive, scale));
                if (it == g_results.end() || it->second.runs == 0) {
                    return 0.0;
                }
                return double(kWidth) * kHeight / 1e6 / (it->second.seconds / it->second.runs);
            };
            double ours = mp("ours", s), turbo = mp("libjpeg-turbo", s);
            std::string name = std::string(progressive ? "progressive" : "baseline") + " 1/" +
                               std::to_string(s);
            // Time of this scale as a share of our own full-size decode of the same file.
            const double full = mp("ours", 1);
            std::printf("%-22s %12.1f %14.1f %11.2fx %14.2f", name.c_str(), ours, turbo,
                        turbo > 0 ? ours / turbo : 0.0, ours > 0 ? full / ours : 0.0);
            if (s == 1) {
                double stb = mp("stb_image", 1);
                std::printf(" %11.1f (ours %.2fx)", stb, stb > 0 ? ours / stb : 0.0);
            }
            std::printf("\n");
        }
    }
    std::printf("(x > 1: ours faster; time ratio turbo/ours, libjpeg-turbo at the same scale. ours/own 1/1:\n"
                " time of the scale over the time of our full-size decode of the same file; aimed at no\n"
                " more than 1.00 at 1/2 and 0.50 at 1/4 and 1/8)\n");
}

// Writes the benchmark's files into a folder; false (with the reason on stderr) when one cannot be
// written whole.
bool writeFiles(const std::string& dir) {
    for (bool progressive : {false, true}) {
        const std::string path = dir + (progressive ? "/bench-progressive.jpg" : "/bench-baseline.jpg");
        const std::vector<uint8_t>& bytes = file(progressive);
        FILE* f = std::fopen(path.c_str(), "wb");
        const bool ok = f && std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
        if ((f && std::fclose(f) != 0) || !ok) {
            std::fprintf(stderr, "cannot write %s: %s\n", path.c_str(), std::strerror(errno));
            return false;
        }
        std::printf("%s: %zu bytes\n", path.c_str(), bytes.size());
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--write") == 0) {
        return writeFiles(argv[2]) ? 0 : 1;
    }
    benchmark::Initialize(&argc, argv);
    file(false);
    file(true);
    benchmark::RunSpecifiedBenchmarks();
    printSummary();
    benchmark::Shutdown();
    return 0;
}
