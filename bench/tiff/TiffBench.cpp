// A 48-megapixel photo (8000 x 6000) stored as a TIFF the ways cameras, scanners and editors
// store one: Deflate in strips, with and without the horizontal predictor, at 8 and 16 bits, LZW
// in strips and Deflate in tiles. Each is decoded whole through the image reader and by libtiff's
// own RGBA read of the same bytes (one core); the fitted decode a window asks for is timed too.
// Then a run-length coded 8-bit BMP of the same size. Prints ours, the reference and the ratio
// (reference time / our time: above 1 means we are faster).

#include "imageio/ImageSource.h"
#include "../../tests/support/PagesTiff.h"

#include <QByteArray>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <tiffio.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <functional>
#include <vector>

namespace {

constexpr uint32_t kWidth = 8000, kHeight = 6000;

struct Case {
    const char* name;
    uint16_t bits, compression, predictor;
    bool tiled;
};
const Case kCases[] = {
    {"Deflate 8-bit strips", 8, COMPRESSION_ADOBE_DEFLATE, PREDICTOR_NONE, false},
    {"Deflate 8-bit strips, predictor", 8, COMPRESSION_ADOBE_DEFLATE, PREDICTOR_HORIZONTAL, false},
    {"Deflate 16-bit strips, predictor", 16, COMPRESSION_ADOBE_DEFLATE, PREDICTOR_HORIZONTAL, false},
    {"LZW 8-bit strips, predictor", 8, COMPRESSION_LZW, PREDICTOR_HORIZONTAL, false},
    {"Deflate 8-bit tiles", 8, COMPRESSION_ADOBE_DEFLATE, PREDICTOR_NONE, true},
    {"Deflate 16-bit tiles, predictor", 16, COMPRESSION_ADOBE_DEFLATE, PREDICTOR_HORIZONTAL, true},
};

// Photographic content: smooth light, soft shapes and sensor noise, so the coder sees what a
// camera's picture holds.
uint16_t sample(uint32_t x, uint32_t y, int c, unsigned& state)
{
    state = state * 1103515245u + 12345u;
    const double sky = 1.0 - double(y) / kHeight;
    const double ripple = 0.08 * std::sin(x * 0.013 + c) * std::cos(y * 0.021);
    const double v = 0.25 + 0.5 * sky + ripple + (double((state >> 16) & 255) - 128) / 65536.0 * 8;
    return uint16_t(std::clamp(v, 0.0, 1.0) * 65535);
}

QByteArray makeTiff(const QString& path, const Case& c)
{
    TIFF* tif = kpv::test::openRgbTiff(path, kWidth, kHeight, c.bits, c.compression, c.predictor);
    if (!tif)
        return {};
    const uint32_t tile = 256, rowsPerStrip = 16;
    if (c.tiled) {
        TIFFSetField(tif, TIFFTAG_TILEWIDTH, tile);
        TIFFSetField(tif, TIFFTAG_TILELENGTH, tile);
    } else {
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
    }
    const size_t bytes = c.bits / 8;
    std::vector<unsigned char> rows(size_t(kWidth) * 3 * bytes * (c.tiled ? tile : 1));
    unsigned state = 12345;
    const auto fill = [&](uint32_t y, unsigned char* out) {
        for (uint32_t x = 0; x < kWidth; ++x)
            for (int s = 0; s < 3; ++s) {
                const uint16_t v = sample(x, y, s, state);
                if (bytes == 2)
                    std::memcpy(out + (size_t(x) * 3 + size_t(s)) * 2, &v, 2);
                else
                    out[size_t(x) * 3 + size_t(s)] = uint8_t(v >> 8);
            }
    };
    bool ok = true;
    if (!c.tiled) {
        for (uint32_t y = 0; ok && y < kHeight; ++y) {
            fill(y, rows.data());
            ok = TIFFWriteScanline(tif, rows.data(), y, 0) == 1;
        }
    } else {
        std::vector<unsigned char> block(size_t(TIFFTileSize64(tif)));
        const size_t rowBytes = size_t(kWidth) * 3 * bytes, tileRow = size_t(tile) * 3 * bytes;
        for (uint32_t ty = 0; ok && ty < kHeight; ty += tile) {
            std::fill(rows.begin(), rows.end(), 0);
            for (uint32_t r = 0; r < tile && ty + r < kHeight; ++r)
                fill(ty + r, rows.data() + rowBytes * r);
            for (uint32_t tx = 0; ok && tx < kWidth; tx += tile) {
                std::fill(block.begin(), block.end(), 0);
                for (uint32_t r = 0; r < tile; ++r)
                    std::memcpy(block.data() + tileRow * r, rows.data() + rowBytes * r + size_t(tx) * 3 * bytes,
                                std::min<size_t>(tileRow, rowBytes - size_t(tx) * 3 * bytes));
                ok = TIFFWriteTile(tif, block.data(), tx, ty, 0, 0) >= 0;
            }
        }
    }
    TIFFClose(tif);
    QFile f(path);
    return ok && f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// libtiff's whole RGBA read from memory, as a program built on it shows a TIFF.
struct Memory {
    const QByteArray* data;
    toff_t pos = 0;
};
tmsize_t memRead(thandle_t h, void* out, tmsize_t n)
{
    auto* m = static_cast<Memory*>(h);
    const toff_t size = toff_t(m->data->size());
    const toff_t count = m->pos >= size ? 0 : std::min<toff_t>(toff_t(n), size - m->pos);
    std::memcpy(out, m->data->constData() + m->pos, size_t(count));
    m->pos += count;
    return tmsize_t(count);
}
tmsize_t memWrite(thandle_t, void*, tmsize_t) { return 0; }
toff_t memSeek(thandle_t h, toff_t off, int whence)
{
    auto* m = static_cast<Memory*>(h);
    m->pos = (whence == SEEK_CUR ? m->pos : whence == SEEK_END ? toff_t(m->data->size()) : 0) + off;
    return m->pos;
}
int memClose(thandle_t) { return 0; }
toff_t memSize(thandle_t h) { return toff_t(static_cast<Memory*>(h)->data->size()); }
int memMap(thandle_t, void**, toff_t*) { return 0; }
void memUnmap(thandle_t, void*, toff_t) {}

bool libtiffWhole(const QByteArray& file)
{
    Memory m{&file};
    TIFF* tif = TIFFClientOpen("bench", "rm", &m, memRead, memWrite, memSeek, memClose, memSize, memMap, memUnmap);
    if (!tif)
        return false;
    std::vector<uint32_t> raster(size_t(kWidth) * kHeight);
    const bool ok = TIFFReadRGBAImageOriented(tif, kWidth, kHeight, raster.data(), ORIENTATION_TOPLEFT, 0) != 0;
    benchmark::DoNotOptimize(raster.data());
    TIFFClose(tif);
    return ok;
}

bool oursWhole(const QByteArray& file)
{
    auto source = kpv::ImageSource::createWithData(file);
    return source && !source->createImageAtIndex(0).isNull();
}

// The fitted picture a window of 1920 x 1080 shows first.
bool oursFitted(const QByteArray& file)
{
    auto source = kpv::ImageSource::createWithData(file);
    return source && !source->createThumbnailAtIndex(0, 1920, true).isNull();
}

double seconds(const std::function<bool()>& f, int reps)
{
    if (!f())
        return -1;
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < reps; ++i)
        f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count() / reps;
}

// A run-length coded 8-bit BMP: rows of runs and absolute stretches, as a paint program stores a
// drawing.
QByteArray makeRleBmp()
{
    QByteArray pixels;
    unsigned state = 99;
    for (uint32_t y = 0; y < kHeight; ++y) {
        for (uint32_t x = 0; x < kWidth;) {
            state = state * 1103515245u + 12345u;
            const uint32_t run = std::min<uint32_t>(kWidth - x, 4 + (state >> 16) % 60);
            if ((state >> 8) % 3 == 0 && run >= 3) {
                pixels.append('\0').append(char(run));
                for (uint32_t i = 0; i < run; ++i)
                    pixels.append(char((x + i + y) & 0xFF));
                if (run % 2)
                    pixels.append('\0');
            } else {
                pixels.append(char(run)).append(char((x / 64 + y / 64) & 0xFF));
            }
            x += run;
        }
        pixels.append('\0').append('\0');
    }
    pixels.append('\0').append('\1');
    QByteArray file("BM");
    const auto le = [&file](uint32_t v, int n) {
        for (int i = 0; i < n; ++i)
            file.append(char((v >> (8 * i)) & 0xFF));
    };
    const uint32_t offset = 14 + 40 + 256 * 4;
    le(offset + uint32_t(pixels.size()), 4);
    le(0, 4);
    le(offset, 4);
    le(40, 4);
    le(kWidth, 4);
    le(kHeight, 4);
    le(1, 2);
    le(8, 2);
    le(1, 4);  // run-length coded, 8 bits
    le(uint32_t(pixels.size()), 4);
    le(2835, 4);
    le(2835, 4);
    le(256, 4);
    le(0, 4);
    for (int i = 0; i < 256; ++i)
        le(uint32_t(i << 16 | (255 - i) << 8 | (i * 7 & 0xFF)), 4);
    return file.append(pixels);
}

// Each case's file, made when first asked for.
const QByteArray& file(size_t index)
{
    static std::vector<QByteArray> made(std::size(kCases));
    if (made[index].isEmpty()) {
        QTemporaryDir dir;
        made[index] = makeTiff(dir.filePath(QStringLiteral("bench.tif")), kCases[index]);
    }
    return made[index];
}

void BM_TiffWhole(benchmark::State& st)
{
    const QByteArray& tiff = file(size_t(st.range(0)));
    for (auto _ : st)
        benchmark::DoNotOptimize(oursWhole(tiff));
    st.SetLabel(kCases[st.range(0)].name);
}
void BM_TiffLibtiff(benchmark::State& st)
{
    const QByteArray& tiff = file(size_t(st.range(0)));
    for (auto _ : st)
        benchmark::DoNotOptimize(libtiffWhole(tiff));
    st.SetLabel(kCases[st.range(0)].name);
}

BENCHMARK(BM_TiffWhole)->DenseRange(0, int(std::size(kCases)) - 1)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_TiffLibtiff)->DenseRange(0, int(std::size(kCases)) - 1)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace

// Files named on the command line are decoded whole and fitted instead, each time printed with
// the picture's size or the reason it was refused.
int decodeFiles(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        QFile f(QString::fromLocal8Bit(argv[i]));
        const QByteArray data = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        for (const int fit : {0, 1920}) {
            const auto t0 = std::chrono::steady_clock::now();
            QString error;
            QImage image;
            if (auto source = kpv::ImageSource::createWithData(data, &error))
                image = fit ? source->createThumbnailAtIndex(0, fit, true, &error) : source->createImageAtIndex(0, &error);
            const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
            std::printf("%s %s: %.1f ms, %dx%d %s\n", argv[i], fit ? "fitted" : "whole", ms, image.width(), image.height(),
                        image.isNull() ? qPrintable(error) : "");
        }
    }
    return 0;
}

int main(int argc, char** argv)
{
    if (argc > 1 && argv[1][0] != '-')
        return decodeFiles(argc, argv);
    // A run asked for some benchmarks alone skips the summary.
    const bool summary = std::none_of(argv + 1, argv + argc, [](const char* a) { return std::strstr(a, "--benchmark_filter") == a; });
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (!summary)
        return 0;
    std::printf("\n%u x %u RGB TIFF, whole decode: ours beside libtiff's RGBA read of the same bytes\n", kWidth, kHeight);
    for (size_t i = 0; i < std::size(kCases); ++i) {
        const QByteArray& tiff = file(i);
        const double ours = seconds([&] { return oursWhole(tiff); }, 3);
        const double lib = seconds([&] { return libtiffWhole(tiff); }, 3);
        const double fitted = seconds([&] { return oursFitted(tiff); }, 3);
        std::printf("  %-34s (%5.1f MB) ours %7.1f ms | libtiff %7.1f ms | ratio %.2f | fitted to 1920: %6.1f ms\n",
                    kCases[i].name, tiff.size() / 1e6, ours * 1e3, lib * 1e3, lib / ours, fitted * 1e3);
    }
    const QByteArray bmp = makeRleBmp();
    const double rle = seconds([&] { return oursWhole(bmp); }, 3);
    std::printf("\n%u x %u run-length 8-bit BMP (%.1f MB), whole decode: ours %.1f ms\n", kWidth, kHeight, bmp.size() / 1e6,
                rle * 1e3);
    return 0;
}
