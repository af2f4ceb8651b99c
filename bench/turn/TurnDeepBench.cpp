// A photo of 16384 x 12000 pixels at 16 bits per channel (RGB, about 1.1 GB of samples, more than
// the decode budget holds whole) turned right and saved as PNG at that depth, as the viewer saves
// a turn of such a photo (a band of rows at a time), beside ImageMagick's `convert in.png -rotate
// 90 out.png` on the same file. Each side's output is checked (its size) before its time counts.
// KPV_BENCH_TURN_WIDTH and KPV_BENCH_TURN_HEIGHT set another size.

#include "imageio/ContentTypes.h"
#include "imageio/ImageDestination.h"
#include "imageio/ImageSource.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <png.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace {

int side(const char* name, int fallback)
{
    const int n = qEnvironmentVariableIntValue(name);
    return n > 0 ? n : fallback;
}
const int kWidth = side("KPV_BENCH_TURN_WIDTH", 16384);
const int kHeight = side("KPV_BENCH_TURN_HEIGHT", 12000);

struct Photo {
    QTemporaryDir dir;
    QString path;
};

// Smooth light with sensor-like noise in the low bits, written a row at a time (fast deflate).
Photo& photo()
{
    static Photo p = [] {
        Photo made;
        made.path = made.dir.filePath(QStringLiteral("deep.png"));
        FILE* f = std::fopen(QFile::encodeName(made.path).constData(), "wb");
        png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png_create_info_struct(png);
        if (!f || !png || !info || setjmp(png_jmpbuf(png))) {
            std::fprintf(stderr, "cannot make the test photo\n");
            std::exit(1);
        }
        png_init_io(png, f);
        png_set_compression_level(png, 1);
        png_set_IHDR(png, info, png_uint_32(kWidth), png_uint_32(kHeight), 16, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
        std::vector<unsigned char> row(size_t(kWidth) * 6);
        unsigned state = 4242;
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                state = state * 1103515245u + 12345u;
                const unsigned noise = (state >> 16) & 63;
                const unsigned v[3] = {unsigned(x) * 65535u / unsigned(kWidth) ^ noise,
                                       unsigned(y) * 65535u / unsigned(kHeight) ^ noise, (unsigned(x + y) * 7u) & 0xffffu};
                for (int c = 0; c < 3; ++c) {
                    row[size_t(x) * 6 + size_t(c) * 2] = static_cast<unsigned char>(v[c] >> 8);
                    row[size_t(x) * 6 + size_t(c) * 2 + 1] = static_cast<unsigned char>(v[c]);
                }
            }
            png_write_row(png, row.data());
        }
        png_write_end(png, nullptr);
        png_destroy_write_struct(&png, &info);
        std::fclose(f);
        return made;
    }();
    return p;
}

bool turnedRight(const QString& path)
{
    auto source = kpv::ImageSource::createWithFile(path);
    return source && source->reducedFrameSize(0, 1) == QSize(kHeight, kWidth);
}

void OursTurnDeep(benchmark::State& state)
{
    const QString out = photo().dir.filePath(QStringLiteral("ours.png"));
    for (auto _ : state) {
        QString error;
        const bool ok = kpv::ImageDestination::writeSixteenBitTransformed(
            photo().path, kpv::LosslessTransform::Rotate90, out, kpv::ContentTypes::kPng, {}, &error, {});
        state.PauseTiming();
        if (!ok || !turnedRight(out)) {
            state.SkipWithError(("the turn was not written: " + error.toStdString()).c_str());
            break;
        }
        QFile::remove(out);
        state.ResumeTiming();
    }
}

void ImageMagickTurnDeep(benchmark::State& state)
{
    const QString convert = QStandardPaths::findExecutable(QStringLiteral("convert"));
    if (convert.isEmpty()) {
        state.SkipWithError("ImageMagick's convert is not installed (package imagemagick)");
        return;
    }
    const QString out = photo().dir.filePath(QStringLiteral("magick.png"));
    for (auto _ : state) {
        QProcess process;
        process.start(convert, {photo().path, QStringLiteral("-rotate"), QStringLiteral("90"), out});
        const bool ok = process.waitForFinished(-1) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
        state.PauseTiming();
        if (!ok || !turnedRight(out)) {
            state.SkipWithError("convert did not write the turned photo (its resource policy may refuse the size)");
            break;
        }
        QFile::remove(out);
        state.ResumeTiming();
    }
}

// Three timed passes each unless --benchmark_repetitions says otherwise; the median counts.
BENCHMARK(OursTurnDeep)->Unit(benchmark::kMillisecond)->Iterations(1)->ReportAggregatesOnly(true);
BENCHMARK(ImageMagickTurnDeep)->Unit(benchmark::kMillisecond)->Iterations(1)->ReportAggregatesOnly(true);

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs)
            if (!r.error_occurred && (r.aggregate_name == "median" || r.run_type == Run::RT_Iteration))
                millis_[r.run_name.function_name] = r.GetAdjustedRealTime();
    }
    void Finalize() override
    {
        ConsoleReporter::Finalize();
        const double ours = millis_["OursTurnDeep"], magick = millis_["ImageMagickTurnDeep"];
        std::printf("\nA PNG of %dx%d RGB at 16 bits per channel turned right and saved as PNG:\n", kWidth, kHeight);
        std::printf("  ours (in bands)                %9.0f ms\n", ours);
        std::printf("  ImageMagick convert -rotate 90 %9.0f ms\n", magick);
        std::printf("  ImageMagick/ours %.2fx\n", ours > 0 && magick > 0 ? magick / ours : 0.0);
    }

private:
    std::map<std::string, double> millis_;
};

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::vector<char*> args(argv, argv + argc);
    std::string repetitions = "--benchmark_repetitions=3";
    if (std::none_of(args.begin(), args.end(), [](const char* a) { return std::strstr(a, "--benchmark_repetitions") == a; }))
        args.push_back(repetitions.data());
    int count = int(args.size());
    benchmark::Initialize(&count, args.data());
    photo();  // made once, outside the timings
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
