// Decodes one JPEG file at a scale with our decoder (and, with --turbo, with libjpeg-turbo at the
// same scale), reading the file through a stream as the viewer does, and prints the time of each
// run, so that a large or odd file can be measured (with /usr/bin/time -v for the peak memory)
// and profiled.
//
//   jpeg_decode_file FILE [SCALE 1|2|4|8] [RUNS] [--turbo | --sum]
// --sum prints a checksum of our output (which costs time of its own).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
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

// Our decode of the whole picture at 1/scale into one plane per component, band by band. Returns
// a checksum of the planes (0 without `checksum`), or -1 on failure.
int64_t decodeOurs(const char* path, int scale, bool checksum, int64_t* outW, int64_t* outH) {
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
    int64_t size[2] = {}, scaled[2] = {}, mcu[2] = {}, ratio[2] = {1, 1}, ncomp = 0;
    ajlJpgDecoderGetProp(d, JPG_PROP_IMAGE_SIZE, size, 16);
    ajlJpgDecoderGetProp(d, JPG_PROP_SCALED_SIZE, scaled, 16);
    ajlJpgDecoderGetProp(d, JPG_PROP_MCU_SIZE, mcu, 16);
    ajlJpgDecoderGetProp(d, JPG_PROP_COMPONENTS, &ncomp, 8);
    if (ncomp > 1) {
        ajlJpgDecoderGetProp(d, JPG_PROP_CHROMA_RATIO, ratio, 16);
    }
    *outW = scaled[0];
    *outH = scaled[1];
    // One band of a few MCU rows at a time, as the viewer's loaders read.
    const int64_t bandLines = mcu[1] * 8;
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
    return sum & INT64_MAX;
}

bool decodeTurbo(const char* path, int scale, int64_t* outW, int64_t* outH) {
    FILE* f = std::fopen(path, "rb");
    if (!f) {
        return false;
    }
    std::vector<unsigned char> bytes;
    unsigned char chunk[1 << 16];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
        bytes.insert(bytes.end(), chunk, chunk + n);
    }
    std::fclose(f);
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

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE [SCALE 1|2|4|8] [RUNS] [--turbo | --sum]\n", argv[0]);
        return 2;
    }
    const char* path = argv[1];
    const int scale = argc > 2 ? std::atoi(argv[2]) : 8;
    const int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 1;
    const bool turbo = argc > 4 && std::strcmp(argv[4], "--turbo") == 0;
    const bool checksum = argc > 4 && std::strcmp(argv[4], "--sum") == 0;
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        int64_t w = 0, h = 0;
        const auto t0 = std::chrono::steady_clock::now();
        bool ok;
        int64_t sum = 0;
        if (turbo) {
            ok = decodeTurbo(path, scale, &w, &h);
        } else {
            sum = decodeOurs(path, scale, checksum, &w, &h);
            ok = sum >= 0;
        }
        const auto t1 = std::chrono::steady_clock::now();
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
    std::printf("median %.3f s, fastest %.3f s over %d runs\n", times[times.size() / 2], times.front(), runs);
    return 0;
}
