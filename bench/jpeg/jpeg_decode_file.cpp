// Decodes one JPEG file at a scale with our decoder (and, with --turbo, with libjpeg-turbo at the
// same scale), reading the file through a stream as the viewer does, and prints the time of each
// run, so that a large or odd file can be measured (with /usr/bin/time -v for the peak memory)
// and profiled. `bench_jpeg --write DIR` writes the benchmark's own 24-megapixel files to measure.
//
//   jpeg_decode_file FILE [SCALE 1|2|4|8] [RUNS] [--turbo | --sum | --luma | --check]...
// --sum prints a checksum of our output (which costs time of its own); --luma asks for subsampled
// chroma at the luma plane's size at reduced scales, as the viewer does; --check prints, instead
// of times, each channel's error against the box average of libjpeg-turbo's full-size decode.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <ctime>
#include <vector>

#include <turbojpeg.h>

#include "AjlJpgDecoder.h"

namespace {

int32_t fileCallback(int32_t op, void* stream, void* args) {
    auto* f = static_cast<FILE*>(stream);
    switch (op) {
    case JPG_STREAM_READ: {
        auto* io = static_cast<JpgStreamIo*>(args);
        return int32_t(std::fread(io->buffer, 1, io->count, f));
    }
    case JPG_STREAM_SEEK: {
        auto* a = static_cast<JpgStreamSeekArgs*>(args);
        const int origin = a->origin == 1 ? SEEK_END : a->origin == 2 ? SEEK_CUR : SEEK_SET;
        return std::fseek(f, long(a->offset), origin) == 0 ? 0 : -1;
    }
    case JPG_STREAM_TELL:
        return int32_t(std::ftell(f));
    default:
        return 0;
    }
}

// Planes of a whole picture, for --check.
struct Whole {
    int ncomp = 0;
    int64_t w[3] = {}, h[3] = {}, pitch[3] = {};
    std::vector<uint8_t> p[3];
};

// Our decode of the whole picture at 1/scale into one plane per component, band by band (in one
// band into `whole` when given). Returns a checksum of the planes (0 without `checksum`), or -1 on
// failure.
int64_t decodeOurs(const char* path, int scale, bool checksum, bool atLuma, int64_t* outW, int64_t* outH,
                   Whole* whole = nullptr) {
    FILE* f = std::fopen(path, "rb");
    if (!f) {
        return -1;
    }
    JpgDecParam param{};
    param.stream = f;
    param.streamCallback = fileCallback;
    param.bufferSize = 64 * 1024;
    JpgDecoder* d = nullptr;
    int64_t r = ajlJpgDecoderCreate(&d, &param);
    if (r != 0) {
        std::fprintf(stderr, "create: 0x%llx\n", static_cast<unsigned long long>(r));
        std::fclose(f);
        return -1;
    }
    int64_t s = scale;
    ajlJpgDecoderSetProp(d, JPG_PROP_SCALE, &s, 8);
    if (atLuma && scale > 1) {
        const int64_t on = 1;
        ajlJpgDecoderSetProp(d, JPG_PROP_CHROMA_AT_LUMA, &on, 8);
    }
    int64_t size[2] = {}, scaled[2] = {}, mcu[2] = {}, ratio[2] = {1, 1}, ncomp = 0;
    ajlJpgDecoderGetProp(d, JPG_PROP_IMAGE_SIZE, size, 16);
    ajlJpgDecoderGetProp(d, JPG_PROP_SCALED_SIZE, scaled, 16);
    ajlJpgDecoderGetProp(d, JPG_PROP_MCU_SIZE, mcu, 16);
    ajlJpgDecoderGetProp(d, JPG_PROP_COMPONENTS, &ncomp, 8);
    int64_t wide = 0;
    ajlJpgDecoderGetProp(d, JPG_PROP_CHROMA_AT_LUMA, &wide, 8);
    if (ncomp > 1 && !wide) {
        ajlJpgDecoderGetProp(d, JPG_PROP_CHROMA_RATIO, ratio, 16);
    }
    *outW = scaled[0];
    *outH = scaled[1];
    // One band of a few MCU rows at a time, as the viewer's loaders read.
    const int64_t bandLines = whole ? (size[1] + mcu[1] * 8 - 1) / (mcu[1] * 8) * mcu[1] * 8 : mcu[1] * 8;
    int64_t pitch[3], rows[3];
    std::vector<uint8_t> planes[3];
    for (int c = 0; c < 3; ++c) {
        const int64_t rx = c == 0 ? 1 : ratio[0], ry = c == 0 ? 1 : ratio[1];
        pitch[c] = ((size[0] + rx - 1) / rx + scale - 1) / scale + 8;
        rows[c] = ((bandLines + ry - 1) / ry + scale - 1) / scale + 8;
        planes[c].resize(size_t(pitch[c] * rows[c]));
    }
    int64_t sum = 0, done = 0;
    while (r == 0 && done < size[1]) {
        uint8_t* p[3] = {planes[0].data(), planes[1].data(), planes[2].data()};
        int64_t lines = bandLines;
        r = ajlJpgDecoderScanlines(d, p, pitch, 0, &lines);
        if (lines <= 0) {
            break;
        }
        for (int c = 0; c < 3 && checksum; ++c) {
            for (uint8_t v : planes[c]) {
                sum = sum * 31 + v;
            }
        }
        done += lines;
    }
    ajlJpgDecoderDestroy(d);
    std::fclose(f);
    if (r != 0) {
        std::fprintf(stderr, "decode: 0x%llx\n", static_cast<unsigned long long>(r));
        return -1;
    }
    if (whole) {
        whole->ncomp = int(ncomp);
        for (int c = 0; c < int(ncomp) && c < 3; ++c) {
            const int64_t rx = c == 0 ? 1 : ratio[0], ry = c == 0 ? 1 : ratio[1];
            whole->w[c] = ((size[0] + rx - 1) / rx + scale - 1) / scale;
            whole->h[c] = ((size[1] + ry - 1) / ry + scale - 1) / scale;
            whole->pitch[c] = pitch[c];
            whole->p[c] = std::move(planes[c]);
        }
    }
    return sum & INT64_MAX;
}

// The whole of a file; false when it cannot be opened.
bool readFile(const char* path, std::vector<unsigned char>* bytes) {
    FILE* f = std::fopen(path, "rb");
    if (!f) {
        return false;
    }
    unsigned char chunk[1 << 16];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
        bytes->insert(bytes->end(), chunk, chunk + n);
    }
    std::fclose(f);
    return true;
}

bool decodeTurbo(const char* path, int scale, int64_t* outW, int64_t* outH) {
    std::vector<unsigned char> bytes;
    if (!readFile(path, &bytes)) {
        return false;
    }
    tjhandle h = tjInitDecompress();
    int w = 0, hgt = 0, sub = 0, cs = 0;
    if (tjDecompressHeader3(h, bytes.data(), static_cast<unsigned long>(bytes.size()), &w, &hgt, &sub, &cs) != 0) {
        tjDestroy(h);
        return false;
    }
    const int sw = (w + scale - 1) / scale, sh = (hgt + scale - 1) / scale;
    std::vector<unsigned char> yuv(tjBufSizeYUV2(sw, 4, sh, sub));
    const int r = tjDecompressToYUV2(h, bytes.data(), static_cast<unsigned long>(bytes.size()), yuv.data(), sw, 4,
                                     sh, TJFLAG_FASTUPSAMPLE);
    tjDestroy(h);
    *outW = sw;
    *outH = sh;
    return r == 0;
}

// The reference's full-size decode (each plane at its own size), box-averaged to what our decode
// at 1/scale delivers, and the mean absolute and signed error and the largest of each channel.
bool check(const char* path, int scale, bool atLuma) {
    Whole ours;
    int64_t w = 0, h = 0;
    if (decodeOurs(path, scale, false, atLuma, &w, &h, &ours) < 0) {
        return false;
    }
    std::vector<unsigned char> bytes;
    if (!readFile(path, &bytes)) {
        return false;
    }
    tjhandle t = tjInitDecompress();
    int fw = 0, fh = 0, sub = 0, cs = 0;
    if (tjDecompressHeader3(t, bytes.data(), static_cast<unsigned long>(bytes.size()), &fw, &fh, &sub, &cs) != 0) {
        tjDestroy(t);
        return false;
    }
    const int comps = sub == TJSAMP_GRAY ? 1 : 3;
    std::vector<unsigned char> ref[3];
    int rw[3], rh[3];
    unsigned char* planes[3] = {};
    int strides[3] = {};
    for (int c = 0; c < comps; ++c) {
        rw[c] = tjPlaneWidth(c, fw, sub);
        rh[c] = tjPlaneHeight(c, fh, sub);
        ref[c].resize(size_t(rw[c]) * size_t(rh[c]));
        planes[c] = ref[c].data();
        strides[c] = rw[c];
    }
    const int r = tjDecompressToYUVPlanes(t, bytes.data(), static_cast<unsigned long>(bytes.size()), planes, fw,
                                          strides, fh, 0);
    tjDestroy(t);
    if (r != 0 || comps != ours.ncomp) {
        return false;
    }
    for (int c = 0; c < comps; ++c) {
        // Reference samples per output sample, across and down.
        // The reference's planes are padded to whole chroma samples: only the picture counts.
        const int64_t sx = c == 0 ? 1 : (rw[0] + rw[c] - 1) / rw[c], sy = c == 0 ? 1 : (rh[0] + rh[c] - 1) / rh[c];
        const int64_t realW = (fw + sx - 1) / sx, realH = (fh + sy - 1) / sy;
        const int64_t bx = std::max<int64_t>(1, (realW + ours.w[c] - 1) / ours.w[c]);
        const int64_t by = std::max<int64_t>(1, (realH + ours.h[c] - 1) / ours.h[c]);
        double abs = 0, sgn = 0, count = 0;
        int worst = 0;
        int64_t worstX = 0, worstY = 0;
        for (int64_t y = 0; y < ours.h[c]; ++y) {
            for (int64_t x = 0; x < ours.w[c]; ++x) {
                int sum = 0, k = 0;
                for (int64_t yy = y * by; yy < (y + 1) * by && yy < realH; ++yy) {
                    for (int64_t xx = x * bx; xx < (x + 1) * bx && xx < realW; ++xx) {
                        sum += ref[c][size_t(yy) * size_t(rw[c]) + size_t(xx)];
                        ++k;
                    }
                }
                if (k == 0) {
                    continue;
                }
                const int want = (sum + k / 2) / k;
                const int d = int(ours.p[c][size_t(y * ours.pitch[c] + x)]) - want;
                abs += std::abs(d);
                sgn += d;
                if (std::abs(d) > worst) {
                    worst = std::abs(d);
                    worstX = x;
                    worstY = y;
                }
                count += 1;
            }
        }
        std::printf("channel %d (%lld x %lld, boxes %lld x %lld): mean error %.3f, bias %+.3f, largest %d at %lld, %lld\n",
                    c, static_cast<long long>(ours.w[c]), static_cast<long long>(ours.h[c]), static_cast<long long>(bx),
                    static_cast<long long>(by), abs / count, sgn / count, worst, static_cast<long long>(worstX),
                    static_cast<long long>(worstY));
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE [SCALE 1|2|4|8] [RUNS] [--turbo | --sum | --luma | --check]...\n", argv[0]);
        return 2;
    }
    const char* path = argv[1];
    const int scale = argc > 2 ? std::atoi(argv[2]) : 8;
    const int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 1;
    bool turbo = false, checksum = false, atLuma = false, against = false;
    for (int i = 4; i < argc; ++i) {
        against |= std::strcmp(argv[i], "--check") == 0;
        turbo |= std::strcmp(argv[i], "--turbo") == 0;
        checksum |= std::strcmp(argv[i], "--sum") == 0;
        atLuma |= std::strcmp(argv[i], "--luma") == 0;
    }
    // Wall-clock and processor time: on a busy machine the second is the steadier figure.
    if (against) {
        return check(path, scale, atLuma) ? 0 : 1;
    }
    std::vector<double> times, cpu;
    for (int i = 0; i < runs; ++i) {
        int64_t w = 0, h = 0;
        timespec c0{}, c1{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &c0);
        const auto t0 = std::chrono::steady_clock::now();
        bool ok;
        int64_t sum = 0;
        if (turbo) {
            ok = decodeTurbo(path, scale, &w, &h);
        } else {
            sum = decodeOurs(path, scale, checksum, atLuma, &w, &h);
            ok = sum >= 0;
        }
        const auto t1 = std::chrono::steady_clock::now();
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &c1);
        cpu.push_back(double(c1.tv_sec - c0.tv_sec) + double(c1.tv_nsec - c0.tv_nsec) * 1e-9);
        if (!ok) {
            std::fprintf(stderr, "decode failed\n");
            return 1;
        }
        times.push_back(std::chrono::duration<double>(t1 - t0).count());
        std::printf("%s 1/%d: %lld x %lld in %.3f s", turbo ? "libjpeg-turbo" : "ours", scale,
                    static_cast<long long>(w), static_cast<long long>(h), times.back());
        if (checksum) {
            std::printf(", checksum %llx", static_cast<unsigned long long>(sum));
        }
        std::printf("\n");
    }
    std::sort(times.begin(), times.end());
    std::sort(cpu.begin(), cpu.end());
    std::printf("median %.4f s, fastest %.4f s over %d runs; processor time median %.4f s, least %.4f s\n",
                times[times.size() / 2], times.front(), runs, cpu[cpu.size() / 2], cpu.front());
    return 0;
}
