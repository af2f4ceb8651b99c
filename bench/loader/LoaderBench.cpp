// Time to a fit-in image (type 10) and to a thumbnail (type 9) of a 24 MP photo through the photo
// loader, from the file on disk (in the system's page cache, and for the fit-in also out of it),
// beside libjpeg-turbo decoding the same file at full size. The loader's scaled path should take a
// fraction of the full decode. And the parts a 100% view of the photo's middle asks for, first and
// once the file's resume index is made, beside libjpeg-turbo decoding the same parts from the top.

#include "Model/LMPhotoLoader.h"
#include "Model/PublicObject.h"
#include "imageio/ImageSource.h"
#include "../../platform/imageio/src/JpegResumeIndex.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <benchmark/benchmark.h>
#include <jpeglib.h>
#include <turbojpeg.h>

#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <map>

#include <fcntl.h>
#include <unistd.h>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 6000;
constexpr int kHeight = 4000;

// Photographic-like content: smooth light falloff, a few soft shapes with edges, and sensor-like
// noise, so that the entropy coder sees what a camera file holds.
QByteArray makePhotoJpeg(bool progressive = false)
{
    std::vector<unsigned char> rgb(size_t(kWidth) * kHeight * 3);
    unsigned state = 12345;
    for (int y = 0; y < kHeight; ++y) {
        unsigned char *p = rgb.data() + size_t(y) * kWidth * 3;
        for (int x = 0; x < kWidth; ++x, p += 3) {
            state = state * 1103515245u + 12345u;
            const int noise = int((state >> 16) & 15) - 8;
            const double sky = 1.0 - double(y) / kHeight;
            const double dx = x - 0.6 * kWidth, dy = y - 0.4 * kHeight;
            const bool disc = dx * dx + dy * dy < 900.0 * 900.0;
            const double ripple = 20 * std::sin(x * 0.013) * std::cos(y * 0.021);
            const int r = int(disc ? 220 - 0.01 * std::sqrt(dx * dx + dy * dy) : 70 + 120 * sky + ripple) + noise;
            const int g = int(disc ? 180 : 110 + 90 * sky + (y > kHeight * 2 / 3 ? 40 : 0)) + noise;
            const int b = int(disc ? 60 : 150 + 90 * sky - ripple) + noise;
            p[0] = (unsigned char)std::clamp(r, 0, 255);
            p[1] = (unsigned char)std::clamp(g, 0, 255);
            p[2] = (unsigned char)std::clamp(b, 0, 255);
        }
    }
    tjhandle tj = tjInitCompress();
    unsigned char *out = nullptr;
    unsigned long size = 0;
    const int rc = tjCompress2(tj, rgb.data(), kWidth, 0, kHeight, TJPF_RGB, &out, &size, TJSAMP_420, 90,
                               progressive ? TJFLAG_PROGRESSIVE : 0);
    QByteArray bytes = rc == 0 ? QByteArray(reinterpret_cast<const char *>(out), qsizetype(size)) : QByteArray();
    tjFree(out);
    tjDestroy(tj);
    return bytes;
}

struct Photo {
    QTemporaryDir dir;
    QString path;
    QByteArray bytes;
};

Photo &photo()
{
    static Photo p = [] {
        Photo made;
        made.bytes = makePhotoJpeg();
        made.path = made.dir.path() + QStringLiteral("/photo-24mp.jpg");
        QFile f(made.path);
        if (made.bytes.isEmpty() || !f.open(QIODevice::WriteOnly) || f.write(made.bytes) != made.bytes.size()) {
            std::fprintf(stderr, "cannot make the test photo\n");
            std::exit(1);
        }
        return made;
    }();
    return p;
}

void loadType(benchmark::State &state, int type)
{
    LMPhotoLoader *loader = PublicObject::getPublicObject()->photoLoader();
    const LMPathString path(photo().path, false);
    for (auto _ : state) {
        // From the file each time, base information included, as a view's first load does.
        LMImagePtr image = loader->loadImage(path, type, nullptr, nullptr, nullptr);
        if (!image) {
            state.SkipWithError("the loader gave no image");
            break;
        }
        benchmark::DoNotOptimize(image.get());
    }
}

void LoaderFitIn(benchmark::State &state) { loadType(state, 10); }

// The same from a file the system does not hold in memory (a folder not looked at lately): its
// pages are dropped from the page cache before each load.
void LoaderFitInFromDisk(benchmark::State &state)
{
    LMPhotoLoader *loader = PublicObject::getPublicObject()->photoLoader();
    const LMPathString path(photo().path, false);
    for (auto _ : state) {
        state.PauseTiming();
        const int fd = ::open(QFile::encodeName(photo().path).constData(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            ::fdatasync(fd);
            ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
            ::close(fd);
        }
        state.ResumeTiming();
        LMImagePtr image = loader->loadImage(path, 10, nullptr, nullptr, nullptr);
        if (!image) {
            state.SkipWithError("the loader gave no image");
            break;
        }
        benchmark::DoNotOptimize(image.get());
    }
}
void LoaderThumbnail(benchmark::State &state) { loadType(state, 9); }

void TurboFullDecode(benchmark::State &state)
{
    std::vector<unsigned char> pixels(size_t(kWidth) * kHeight * 4);
    tjhandle tj = tjInitDecompress();
    for (auto _ : state) {
        // Read from the file too, so both sides pay the same input cost.
        QFile f(photo().path);
        if (!f.open(QIODevice::ReadOnly)) {
            state.SkipWithError("cannot read the photo");
            break;
        }
        const QByteArray data = f.readAll();
        if (tjDecompress2(tj, reinterpret_cast<const unsigned char *>(data.constData()), (unsigned long)data.size(),
                          pixels.data(), kWidth, 0, kHeight, TJPF_RGBA, 0) != 0) {
            state.SkipWithError("libjpeg-turbo failed");
            break;
        }
        benchmark::DoNotOptimize(pixels.data());
    }
    tjDestroy(tj);
}

// libjpeg-turbo's own decode at 1/8 scale: the floor of any thumbnail of this file, since every
// coefficient must still be entropy-decoded.
void TurboEighthDecode(benchmark::State &state)
{
    const QByteArray &bytes = photo().bytes;
    std::vector<unsigned char> pixels(size_t(kWidth / 8) * (kHeight / 8) * 4);
    tjhandle tj = tjInitDecompress();
    for (auto _ : state) {
        if (tjDecompress2(tj, reinterpret_cast<const unsigned char *>(bytes.constData()), (unsigned long)bytes.size(),
                          pixels.data(), kWidth / 8, 0, kHeight / 8, TJPF_RGBA, 0) != 0) {
            state.SkipWithError("libjpeg-turbo failed");
            break;
        }
        benchmark::DoNotOptimize(pixels.data());
    }
    tjDestroy(tj);
}

// The reader's own decode of the whole photo through the image source, at full size and at a
// quarter (the fit-in of a photo on a screen), beside libjpeg-turbo's decode to RGBA at each.
// The same photo written progressive, as some cameras and most web pictures are.
const QByteArray &progressivePhoto()
{
    static const QByteArray bytes = makePhotoJpeg(true);
    return bytes;
}

void sourceDecode(benchmark::State &state, int maxPixelSize, bool progressive = false)
{
    const auto source = kpv::ImageSource::createWithData(progressive ? progressivePhoto() : photo().bytes);
    if (!source) {
        state.SkipWithError("the photo cannot be read");
        return;
    }
    for (auto _ : state) {
        QString error;
        const QImage image = maxPixelSize > 0 ? source->createThumbnailAtIndex(0, maxPixelSize, true, &error)
                                              : source->createImageAtIndex(0, &error);
        if (image.isNull()) {
            state.SkipWithError(qPrintable(error));
            break;
        }
        benchmark::DoNotOptimize(image.constBits());
    }
}
void SourceFullDecode(benchmark::State &state) { sourceDecode(state, 0); }
void SourceHalfDecode(benchmark::State &state) { sourceDecode(state, kWidth / 2); }
void SourceQuarterDecode(benchmark::State &state) { sourceDecode(state, kWidth / 4); }
void SourceEighthDecode(benchmark::State &state) { sourceDecode(state, kWidth / 8); }
void SourceFullDecodeProgressive(benchmark::State &state) { sourceDecode(state, 0, true); }
void SourceQuarterDecodeProgressive(benchmark::State &state) { sourceDecode(state, kWidth / 4, true); }

void TurboQuarterDecode(benchmark::State &state)
{
    const QByteArray &bytes = photo().bytes;
    std::vector<unsigned char> pixels(size_t(kWidth / 4) * (kHeight / 4) * 4);
    tjhandle tj = tjInitDecompress();
    for (auto _ : state) {
        if (tjDecompress2(tj, reinterpret_cast<const unsigned char *>(bytes.constData()), (unsigned long)bytes.size(),
                          pixels.data(), kWidth / 4, 0, kHeight / 4, TJPF_RGBA, TJFLAG_ACCURATEDCT) != 0) {
            state.SkipWithError("libjpeg-turbo failed");
            break;
        }
        benchmark::DoNotOptimize(pixels.data());
    }
    tjDestroy(tj);
}

// The parts a 100% view of the photo's middle asks for: 1600 x 1000 pixels in bands of 250 rows.
std::vector<QRect> middleParts()
{
    std::vector<QRect> parts;
    for (int y = kHeight / 2 - 500; y < kHeight / 2 + 500; y += 250)
        parts.emplace_back(kWidth / 2 - 800, y, 1600, 250);
    return parts;
}

void decodeParts(benchmark::State &state, const kpv::ImageSource &source)
{
    for (const QRect &part : middleParts()) {
        QString error;
        const QImage image = source.createImageInRect(0, part, 1, &error);
        if (image.isNull()) {
            state.SkipWithError(qPrintable(error));
            return;
        }
        benchmark::DoNotOptimize(image.constBits());
    }
}

// A photo just zoomed into: the parts decode from the top while the file's resume index is made
// beside them.
void PartsFirstTime(benchmark::State &state)
{
    for (auto _ : state) {
        const auto source = kpv::ImageSource::createWithData(photo().bytes);
        if (!source) {
            state.SkipWithError("the photo cannot be read");
            break;
        }
        decodeParts(state, *source);
    }
}

// One part of the middle alone from the top, and the making of the file's resume index: what
// the first part of a zoom costs either way.
void OnePartFromTheTop(benchmark::State &state)
{
    const QRect part = middleParts().front();
    for (auto _ : state) {
        QString error;
        const QImage image = kpv::imageio_detail::decodeJpegRegion(
            reinterpret_cast<const unsigned char *>(photo().bytes.constData()), size_t(photo().bytes.size()), nullptr,
            part, 1, &error);
        if (image.isNull()) {
            state.SkipWithError(qPrintable(error));
            break;
        }
        benchmark::DoNotOptimize(image.constBits());
    }
}

void ResumeIndexMade(benchmark::State &state)
{
    for (auto _ : state) {
        const auto index = kpv::imageio_detail::JpegResumeIndex::build(
            reinterpret_cast<const unsigned char *>(photo().bytes.constData()), size_t(photo().bytes.size()));
        if (!index) {
            state.SkipWithError("no index");
            break;
        }
        benchmark::DoNotOptimize(index.get());
    }
}

// The same photo panned or zoomed again: its index is made.
void PartsIndexMade(benchmark::State &state)
{
    const auto source = kpv::ImageSource::createWithData(photo().bytes);
    if (!source) {
        state.SkipWithError("the photo cannot be read");
        return;
    }
    decodeParts(state, *source);
    QThread::msleep(500); // the index is made beside the first parts
    for (auto _ : state)
        decodeParts(state, *source);
}

struct TurboError {
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
};

// libjpeg-turbo's cut-out decode of each part: the rows above read and skipped, the columns
// beside cut off.
void TurboPartsFromTheTop(benchmark::State &state)
{
    const QByteArray &bytes = photo().bytes;
    std::vector<unsigned char> row(size_t(kWidth) * 4);
    for (auto _ : state) {
        for (const QRect &part : middleParts()) {
            jpeg_decompress_struct info;
            TurboError err;
            info.err = jpeg_std_error(&err.mgr);
            err.mgr.error_exit = [](j_common_ptr c) { std::longjmp(reinterpret_cast<TurboError *>(c->err)->jump, 1); };
            jpeg_create_decompress(&info);
            if (setjmp(err.jump)) {
                jpeg_destroy_decompress(&info);
                state.SkipWithError("libjpeg-turbo failed");
                return;
            }
            jpeg_mem_src(&info, reinterpret_cast<const unsigned char *>(bytes.constData()), (unsigned long)bytes.size());
            jpeg_read_header(&info, TRUE);
            info.out_color_space = JCS_EXT_RGBA;
            info.dct_method = JDCT_ISLOW;
            jpeg_start_decompress(&info);
            JDIMENSION left = JDIMENSION(part.x()), width = JDIMENSION(part.width());
            jpeg_crop_scanline(&info, &left, &width);
            jpeg_skip_scanlines(&info, JDIMENSION(part.y()));
            for (int y = 0; y < part.height(); ++y) {
                JSAMPROW line = row.data();
                jpeg_read_scanlines(&info, &line, 1);
            }
            jpeg_abort_decompress(&info);
            jpeg_destroy_decompress(&info);
            benchmark::DoNotOptimize(row.data());
        }
    }
}

BENCHMARK(PartsFirstTime)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(OnePartFromTheTop)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(ResumeIndexMade)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(PartsIndexMade)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(TurboPartsFromTheTop)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(LoaderFitIn)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(LoaderFitInFromDisk)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(LoaderThumbnail)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(SourceFullDecode)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(SourceHalfDecode)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(SourceQuarterDecode)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(SourceEighthDecode)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(SourceFullDecodeProgressive)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(SourceQuarterDecodeProgressive)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(TurboQuarterDecode)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(TurboFullDecode)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(TurboEighthDecode)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// Console output plus, at the end, each loader time beside the full decode with the ratio.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &r : runs) {
            if (r.error_occurred || r.iterations == 0)
                continue;
            std::string name = r.benchmark_name();
            const size_t options = name.find("/min_time");
            if (options != std::string::npos)
                name.resize(options);
            millis_[name] = r.GetAdjustedRealTime();
        }
    }
    void Finalize() override
    {
        ConsoleReporter::Finalize();
        const double full = millis_["TurboFullDecode"];
        std::printf("\n%dx%d JPEG (%.1f MB): libjpeg-turbo full decode %.1f ms\n", kWidth, kHeight,
                    photo().bytes.size() / 1e6, full);
        for (const char *name : {"LoaderFitIn", "LoaderFitInFromDisk", "LoaderThumbnail"}) {
            const double ours = millis_[name];
            std::printf("  %-16s ours %8.1f ms | full decode %8.1f ms | full/ours %.2fx\n", name, ours, full,
                        ours > 0 ? full / ours : 0.0);
        }
        const double eighth = millis_["TurboEighthDecode"];
        std::printf("  libjpeg-turbo at 1/8 scale (entropy-decoding floor) %.1f ms | full/eighth %.2fx\n", eighth,
                    eighth > 0 ? full / eighth : 0.0);
        const double top = millis_["TurboPartsFromTheTop"];
        std::printf("\nThe four parts of a 100%% view of the middle (1600 x 1000), one after another:\n");
        for (const char *name : {"PartsFirstTime", "PartsIndexMade"}) {
            const double ours = millis_[name];
            std::printf("  %-16s ours %8.1f ms | libjpeg-turbo from the top %8.1f ms | turbo/ours %.2fx\n", name, ours,
                        top, ours > 0 ? top / ours : 0.0);
        }
    }

private:
    std::map<std::string, double> millis_;
};

} // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    PublicObject::setMainScreenFrameSize(QSizeF(1680, 1050));
    photo();  // made once, outside the timings
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
