// The thumbnail grid on a folder of 10,000 photos (480 x 360 JPEGs, made once in a temporary
// folder): the time from entering the mode to the first screen with every picture in place, the
// time of one scroll frame (move by a row, ask for the pictures in sight, paint the grid) while
// scrolling through the folder, and the process's peak memory at the end. The reference is the
// platform's image loader (QImageReader with a scaled decode to the same size) decoding the same
// first-screen thumbnails on as many threads as the grid uses, with nothing else around it.

#include "Browse/FavImageBrowserView.h"
#include "Browse/ThumbnailViewController.h"
#include "Browse/ThumbnailViewHost.h"
#include "foundation/RunLoop.h"

#include <QApplication>
#include <QColor>
#include <QDir>
#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <QTemporaryDir>
#include <QWidget>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include <sys/resource.h>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kFiles = 10000;
constexpr int kRuns = 3;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double peakResidentMiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024.0;
}

// One folder of distinct pictures; each is a gradient with a number-dependent hue, so no two
// files decode alike.
QList<LMPathString> makeFolder(const QString& folder)
{
    QList<LMPathString> paths;
    QImage image(480, 360, QImage::Format_RGB32);
    for (int i = 0; i < kFiles; ++i) {
        QPainter p(&image);
        QLinearGradient g(0, 0, 480, 360);
        g.setColorAt(0, QColor::fromHsv(i * 7 % 360, 200, 230));
        g.setColorAt(1, QColor::fromHsv((i * 7 + 120) % 360, 220, 90));
        p.fillRect(image.rect(), g);
        p.fillRect(40 + i % 300, 40 + i % 200, 60, 60, QColor::fromHsv(i * 13 % 360, 255, 255));
        p.end();
        const QString path = QDir(folder).filePath(QStringLiteral("IMG_%1.jpg").arg(i, 5, 10, QLatin1Char('0')));
        image.save(path, "JPG", 85);
        paths.append(LMPathString(path, false));
    }
    return paths;
}

class BenchHost : public ThumbnailViewHost {
public:
    explicit BenchHost(QList<LMPathString> paths) : m_paths(std::move(paths)) {}
    kpv::View container{kpv::Rect(0, 0, 1600, 1000)};
    long mode = 4;
    long showMode() const override { return mode; }
    void setShowMode(long m) override { mode = m; }
    kpv::View* containerViewByShowMode(long) const override { return const_cast<kpv::View*>(&container); }
    kpv::Window* window() const override { return nullptr; }
    QList<LMPathString> sortedFilePaths() const override { return m_paths; }
    QDateTime fileModificationDate(const LMPathString& path) const override { return path.dateModified(); }
    std::size_t curFileIndex() const override { return 0; }
    bool isCurFileModifiedAndCannotOverwriteable() const override { return false; }
    void doNavCurFileToIndex(std::size_t, std::function<void(bool)> done) override
    {
        if (done)
            done(false);
    }
    void deleteFiles(const QList<LMPathString>&) override {}
    void sortFiles(long) override {}
    void revealFilesInFinder(const QList<LMPathString>&) override {}
    void tellFailure(const QString&) override {}
    void batchFiles(long, const QList<LMPathString>&) override {}
    void popUpContextMenu(const kpv::Event&, kpv::View*) override {}

private:
    QList<LMPathString> m_paths;
};

bool allVisiblePicturesIn(const LMImageBrowserView& browser, const ThumbnailViewController& c)
{
    for (std::size_t i : browser.visibleItemIndexes())
        if (!browser.hasCachedPicture(c.itemForPath(c.thumbFilePaths()[qsizetype(i)])->imageUID()))
            return false;
    return true;
}

void waitForVisiblePictures(LMImageBrowserView& browser, const ThumbnailViewController& c)
{
    browser.requestVisiblePictures();
    while (!allVisiblePicturesIn(browser, c)) {
        kpv::RunLoop::main().runOnce();
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::microseconds(200)); // a benchmark waits on workers
    }
}

// The reference: the same thumbnails, decoded and scaled by the platform's loader.
double referenceFirstScreen(const QStringList& files, int threads, int maxPixels)
{
    std::atomic<int> next{0};
    std::atomic<int> decoded{0};
    const auto start = Clock::now();
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([&] {
            for (int i = next++; i < files.size(); i = next++) {
                QImageReader reader(files[i]);
                const QSize size = reader.size();
                const double scale = std::min(1.0, double(maxPixels) / std::max(size.width(), size.height()));
                reader.setScaledSize(size * scale);
                if (!reader.read().isNull())
                    ++decoded;
            }
        });
    for (std::thread& w : workers)
        w.join();
    const double seconds = secondsSince(start);
    if (decoded != files.size())
        std::fprintf(stderr, "reference decoded %d of %lld files\n", int(decoded), (long long)files.size());
    return seconds;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir folder;
    // The desktop's thumbnail cache stays out of it: every thumbnail is decoded from its file.
    QTemporaryDir emptyHome;
    qputenv("XDG_CACHE_HOME", emptyHome.path().toLocal8Bit());
    std::printf("Making %d photos ...\n", kFiles);
    std::fflush(stdout);
    const QList<LMPathString> paths = makeFolder(folder.path());

    double bestFirst = 1e9, bestReference = 1e9, worstFrame = 0, meanFrame = 0;
    std::size_t firstScreenCount = 0;
    qsizetype cacheBytes = 0;
    for (int run = 0; run < kRuns; ++run) {
        BenchHost host(paths);
        ThumbnailViewController controller(host);
        const auto start = Clock::now();
        controller.willChangeMainShowMode({{QStringLiteral("old"), 4}, {QStringLiteral("new"), 64}});
        host.mode = 64;
        controller.didChangeMainShowMode({{QStringLiteral("old"), 4}, {QStringLiteral("new"), 64}});
        kpv::RunLoop::main().runOnce();
        FavImageBrowserView& browser = *controller.browser();
        waitForVisiblePictures(browser, controller);
        bestFirst = std::min(bestFirst, secondsSince(start));
        firstScreenCount = browser.visibleItemIndexes().size();

        // The same files through the platform's loader.
        QStringList files;
        for (std::size_t i : browser.visibleItemIndexes())
            files.append(controller.thumbFilePaths()[qsizetype(i)].path());
        bestReference = std::min(bestReference, referenceFirstScreen(files, 2, browser.pictureMaxPixels()));

        // Scrolling: one row a frame through the first 2,000 files, painting each frame.
        QWidget* widget = browser.widget();
        QImage canvas(widget->size(), QImage::Format_ARGB32_Premultiplied);
        const double rowPitch = browser.cellSize().height + 16;
        const int frames = int(2000 / std::max<std::size_t>(1, browser.layout().columns()));
        double total = 0, worst = 0;
        for (int f = 1; f <= frames; ++f) {
            const auto frameStart = Clock::now();
            browser.setScrollOffset(f * rowPitch);
            browser.requestVisiblePictures();
            widget->render(&canvas);
            kpv::RunLoop::main().runOnce();
            const double t = secondsSince(frameStart);
            total += t;
            worst = std::max(worst, t);
        }
        worstFrame = std::max(worstFrame, worst);
        meanFrame = total / frames;
        cacheBytes = browser.pictureCacheBytes();
    }

    std::printf("\nThumbnail grid, %d files of 480 x 360 (best of %d)\n", kFiles, kRuns);
    std::printf("%-44s %10s %10s %8s\n", "", "ours", "reference", "ratio");
    std::printf("%-44s %9.1fms %9.1fms %7.2fx\n",
                QStringLiteral("first screen (%1 thumbnails)").arg(firstScreenCount).toUtf8().constData(),
                bestFirst * 1000, bestReference * 1000, bestFirst / bestReference);
    std::printf("%-44s %9.2fms\n", "scroll frame, mean", meanFrame * 1000);
    std::printf("%-44s %9.2fms\n", "scroll frame, worst", worstFrame * 1000);
    std::printf("%-44s %9.1fMB (budget %.0f MB)\n", "picture cache after scrolling", cacheBytes / 1048576.0,
                LMImageBrowserView::kDefaultPictureCacheBudget / 1048576.0);
    std::printf("%-44s %9.1fMB\n", "peak resident memory", peakResidentMiB());
    return 0;
}
