// Batch resize of 100 photos of 24 MP (6000 x 4000 JPEG) to fit 1920 x 1920, as the batch resize
// sheet runs it (one worker, file after file: base information, a DCT-scaled decode, resampling,
// writing), beside ImageMagick's `convert in.jpg -resize 1920x1920 out.jpg` on the same files, one
// process per file. Each side's outputs are checked (count and pixel size) before its time counts.
// KPV_BENCH_BATCH_FILES sets another number of files.

#include "Edit/BatchResizeWorker.h"
#include "Model/LMFailedFiles.h"
#include "Model/LMPhotoLoader.h"
#include "Model/PublicObject.h"
#include "imageio/ImageSource.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <turbojpeg.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 6000;
constexpr int kHeight = 4000;
constexpr int kTarget = 1920;

int fileCount()
{
    const int n = qEnvironmentVariableIntValue("KPV_BENCH_BATCH_FILES");
    return n > 0 ? n : 100;
}

// Photographic-like content (light falloff, soft shapes, sensor-like noise), so that the entropy
// coder and the resampler see what a camera file holds.
QByteArray makePhotoJpeg()
{
    std::vector<unsigned char> rgb(size_t(kWidth) * kHeight * 3);
    unsigned state = 4242;
    for (int y = 0; y < kHeight; ++y) {
        unsigned char *p = rgb.data() + size_t(y) * kWidth * 3;
        for (int x = 0; x < kWidth; ++x, p += 3) {
            state = state * 1103515245u + 12345u;
            const int noise = int((state >> 16) & 15) - 8;
            const double sky = 1.0 - double(y) / kHeight;
            const double dx = x - 0.3 * kWidth, dy = y - 0.6 * kHeight;
            const bool disc = dx * dx + dy * dy < 800.0 * 800.0;
            const double ripple = 18 * std::sin(x * 0.011) * std::cos(y * 0.017);
            p[0] = (unsigned char)std::clamp(int(disc ? 210 : 60 + 130 * sky + ripple) + noise, 0, 255);
            p[1] = (unsigned char)std::clamp(int(disc ? 170 : 100 + 100 * sky) + noise, 0, 255);
            p[2] = (unsigned char)std::clamp(int(disc ? 70 : 140 + 100 * sky - ripple) + noise, 0, 255);
        }
    }
    tjhandle tj = tjInitCompress();
    unsigned char *out = nullptr;
    unsigned long size = 0;
    const int rc = tjCompress2(tj, rgb.data(), kWidth, 0, kHeight, TJPF_RGB, &out, &size, TJSAMP_420, 92, 0);
    QByteArray bytes = rc == 0 ? QByteArray(reinterpret_cast<const char *>(out), qsizetype(size)) : QByteArray();
    tjFree(out);
    tjDestroy(tj);
    return bytes;
}

struct Photos {
    QTemporaryDir dir;
    QStringList paths;
    qint64 bytes = 0;
};

Photos &photos()
{
    static Photos p = [] {
        Photos made;
        const QByteArray jpeg = makePhotoJpeg();
        QDir().mkpath(made.dir.filePath(QStringLiteral("in")));
        for (int i = 0; i < fileCount() && !jpeg.isEmpty(); ++i) {
            const QString path = made.dir.filePath(QStringLiteral("in/photo-%1.jpg").arg(i, 3, 10, QLatin1Char('0')));
            QFile f(path);
            if (!f.open(QIODevice::WriteOnly) || f.write(jpeg) != jpeg.size())
                break;
            made.paths << path;
        }
        made.bytes = jpeg.size();
        if (made.paths.size() != fileCount()) {
            std::fprintf(stderr, "cannot make the test photos\n");
            std::exit(1);
        }
        return made;
    }();
    return p;
}

QString freshOutputFolder(const char *side)
{
    static int run = 0;
    const QString folder = photos().dir.filePath(QStringLiteral("%1-%2").arg(QLatin1String(side)).arg(++run));
    QDir().mkpath(folder);
    return folder;
}

// Every input has an output whose longer side is 1920.
bool outputsAreRight(const QString &folder)
{
    const QStringList files = QDir(folder).entryList(QDir::Files);
    if (files.size() != photos().paths.size())
        return false;
    for (const QString &name : files) {
        auto source = kpv::ImageSource::createWithFile(QDir(folder).filePath(name));
        const QSize size = source ? source->createImageAtIndex(0).size() : QSize();
        if (std::max(size.width(), size.height()) != kTarget)
            return false;
    }
    return true;
}

void removeFolder(const QString &folder) { QDir(folder).removeRecursively(); }

void OursBatchResize(benchmark::State &state)
{
    const LMPhotoLoader &loader = *PublicObject::getPublicObject()->photoLoader();
    for (auto _ : state) {
        state.PauseTiming();
        const QString out = freshOutputFolder("ours");
        QList<std::shared_ptr<LMFileInfo>> files;
        for (const QString &p : photos().paths)
            files << std::make_shared<LMFileInfo>(LMPathString(p, false));
        const QVariantMap settings{{BatchResizeKeys::kClassicSizeType, false},
                                   {BatchResizeKeys::kCustomSizeUnitType, 0},
                                   {BatchResizeKeys::kCustomSizeWidth, kTarget},
                                   {BatchResizeKeys::kCustomSizeHeight, kTarget},
                                   {BatchResizeKeys::kCustomSizePercent, 100},
                                   {BatchResizeKeys::kDpi, QString()},
                                   {BatchResizeKeys::kNotEnlarge, true},
                                   {BatchResizeKeys::kKeepAlpha, true},
                                   {BatchResizeKeys::kNewNameBase, QString()},
                                   {BatchResizeKeys::kDestFolderPath, out}};
        state.ResumeTiming();
        LMFailedFiles failed;
        const int result = BatchResizeWorker(loader).resizeFilesOnThread(files, settings, &failed, nullptr);
        state.PauseTiming();
        if (result != 0 || !failed.isEmpty() || !outputsAreRight(out)) {
            state.SkipWithError("the batch resize did not write every file at 1920 pixels");
            break;
        }
        removeFolder(out);
        state.ResumeTiming();
    }
    state.counters["files"] = double(photos().paths.size());
}

void ImageMagickConvertResize(benchmark::State &state)
{
    const QString convert = QStandardPaths::findExecutable(QStringLiteral("convert"));
    if (convert.isEmpty()) {
        state.SkipWithError("ImageMagick's convert is not installed (package imagemagick)");
        return;
    }
    for (auto _ : state) {
        state.PauseTiming();
        const QString out = freshOutputFolder("imagemagick");
        state.ResumeTiming();
        bool ok = true;
        for (const QString &p : photos().paths) {
            QProcess process;
            process.start(convert, {p, QStringLiteral("-resize"), QStringLiteral("%1x%1").arg(kTarget),
                                    QDir(out).filePath(QFileInfo(p).fileName())});
            ok = process.waitForFinished(-1) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
            if (!ok)
                break;
        }
        state.PauseTiming();
        if (!ok || !outputsAreRight(out)) {
            state.SkipWithError("convert did not write every file at 1920 pixels");
            break;
        }
        removeFolder(out);
        state.ResumeTiming();
    }
    state.counters["files"] = double(photos().paths.size());
}

// Three timed passes each; the median counts, so a cold file cache in the first pass does not.
BENCHMARK(OursBatchResize)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3)->ReportAggregatesOnly(true);
BENCHMARK(ImageMagickConvertResize)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3)->ReportAggregatesOnly(true);

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &r : runs) {
            if (r.error_occurred || r.aggregate_name != "median")
                continue;
            std::string name = r.run_name.function_name;
            millis_[name] = r.GetAdjustedRealTime();
        }
    }
    void Finalize() override
    {
        ConsoleReporter::Finalize();
        const double ours = millis_["OursBatchResize"];
        const double magick = millis_["ImageMagickConvertResize"];
        const int n = int(photos().paths.size());
        std::printf("\n%d JPEGs of %dx%d (%.1f MB each) to fit %dx%d, median of 3:\n", n, kWidth, kHeight,
                    photos().bytes / 1e6, kTarget, kTarget);
        std::printf("  ours (batch resize worker)     %9.0f ms  %7.1f ms/file\n", ours, n ? ours / n : 0.0);
        std::printf("  ImageMagick convert -resize    %9.0f ms  %7.1f ms/file\n", magick, n ? magick / n : 0.0);
        std::printf("  ImageMagick/ours %.2fx\n", ours > 0 && magick > 0 ? magick / ours : 0.0);
    }

private:
    std::map<std::string, double> millis_;
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    PublicObject::setMainScreenFrameSize(QSizeF(1680, 1050));
    photos();  // made once, outside the timings
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
