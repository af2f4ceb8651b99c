// How often the viewer takes a photo from the disk: each load of a file (its description, the
// thumbnails it keeps, its pixels) opens it once, whatever kind of load it is, and the pictures
// it shows are still the file's.

#include "nav_test_support.h"

#include "Model/LMPhotoLoader.h"
#include "View/NavImageLoader.h"
#include "imageio/FileAccess.h"
#include "imageio/ImageDestination.h"
#include "imageio/ImageProperties.h"
#include "imageio/Thumbnailer.h"

#include <QDir>
#include <QMap>
#include <QMutex>

#include <random>

namespace {

using namespace navtest;

// Noise compresses badly: these files are far larger than the ones read rather than mapped.
QImage noise(int width, int height, unsigned seed)
{
    QImage picture(width, height, QImage::Format_RGBA8888_Premultiplied);
    std::mt19937 random(seed);
    for (int y = 0; y < height; ++y) {
        auto *row = reinterpret_cast<quint32 *>(picture.scanLine(y));
        for (int x = 0; x < width; ++x)
            row[x] = random() | 0xFF000000u;
    }
    return picture;
}

// Every time a file's contents are taken from the disk, with the load that took them.
class ReadLog {
public:
    ReadLog()
    {
        kpv::setFileAccessObserverForTesting([this](const QString &path, const char *) {
            QMutexLocker lock(&m_mutex);
            ++m_reads[{m_load, path}];
        });
    }
    ~ReadLog() { kpv::setFileAccessObserverForTesting(nullptr); }
    void setLoad(int load)
    {
        QMutexLocker lock(&m_mutex);
        m_load = load;
    }
    // The most times one load took one file.
    int mostByOneLoad() const
    {
        QMutexLocker lock(&m_mutex);
        int most = 0;
        for (int n : m_reads)
            most = std::max(most, n);
        return most;
    }
    int total(const QString &path) const
    {
        QMutexLocker lock(&m_mutex);
        int n = 0;
        for (auto it = m_reads.begin(); it != m_reads.end(); ++it)
            n += it.key().second == path ? it.value() : 0;
        return n;
    }
    void clear()
    {
        QMutexLocker lock(&m_mutex);
        m_reads.clear();
    }

private:
    mutable QMutex m_mutex;
    int m_load = 0;
    QMap<std::pair<int, QString>, int> m_reads;
};

class PhotoReads : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        folder = QDir(dir.path()).canonicalPath();
        kpv::Thumbnailer::setCacheDirectoryForTesting(folder + QStringLiteral("/cache"));
        kpv::RunLoop::main().setClock(&clock);
        defaults = std::make_unique<kpv::UserDefaults>(folder + QStringLiteral("/defaults.plist"));
        config = std::make_unique<MainConfig>(*defaults);
        host = std::make_unique<FakeHost>(config.get());
        view.setViewBounds(QRectF(0, 0, 1600, 1000));
        controller = std::make_unique<NavigateController>(&view, host.get(), &adapter);
        controller->awakeFromNib();
    }
    void TearDown() override
    {
        controller.reset();
        kpv::RunLoop::main().runOnce();
        kpv::RunLoop::main().setClock(nullptr);
        kpv::Thumbnailer::setCacheDirectoryForTesting(QString());
    }
    QString write(const QString &name, const QImage &picture, const QString &type, int orientation = 1)
    {
        const QString path = folder + u'/' + name;
        const QVariantMap properties{{QString::fromLatin1(kpv::kCGImagePropertyOrientation), orientation}};
        EXPECT_TRUE(kpv::ImageDestination::writeImage(picture, path, type, properties));
        EXPECT_GT(QFileInfo(path).size(), 256 * 1024);
        return path;
    }
    // Runs the queued loads one by one, as the queue would, telling the log which one reads.
    void runLoads(ReadLog &log)
    {
        for (int round = 0; round < 6 && (!host->queue.empty() || !host->afterFrame.empty()); ++round) {
            std::stable_sort(host->queue.begin(), host->queue.end(),
                             [](const auto &a, const auto &b) { return a->queuePriority() > b->queuePriority(); });
            auto ops = std::move(host->queue);
            host->queue.clear();
            for (const auto &op : ops) {
                log.setLoad(++m_loads);
                op->start();
            }
            log.setLoad(0);
            kpv::RunLoop::main().runOnce();
            host->drawFrame();
        }
    }
    LMNavFileInfoPtr record(const QString &path) const
    {
        return controller->cacheFileInfos().value(LMPathString(path, false));
    }

    QTemporaryDir dir;
    QString folder;
    kpv::ManualClock clock;
    std::unique_ptr<kpv::UserDefaults> defaults;
    std::unique_ptr<MainConfig> config;
    std::unique_ptr<FakeHost> host;
    LMPhotoLoader loader{QSizeF(1920, 1080)};
    NavPhotoLoaderAdapter adapter{&loader};
    LMImageViewModel view;
    std::unique_ptr<NavigateController> controller;
    int m_loads = 0;
};

// The viewer's first pass over a folder: the current photo's thumbnails, its fitted picture and
// the photo bin's cells of the others; then the 100% picture; then a grid cell and the launch
// picture. No load takes a file twice, and each shows the file's pixels the right way up.
TEST_F(PhotoReads, EachLoadTakesItsPhotoFromTheDiskOnce)
{
    // Stored landscape, shown turned a quarter (orientation 6); a PNG; a plain JPEG.
    const QString turned = write(QStringLiteral("a-turned.jpg"), noise(1600, 1000, 1), QStringLiteral("public.jpeg"), 6);
    const QString png = write(QStringLiteral("b.png"), noise(700, 500, 2), QStringLiteral("public.png"));
    const QString plain = write(QStringLiteral("c.jpg"), noise(1200, 900, 3), QStringLiteral("public.jpeg"));
    ReadLog log;

    controller->openFilePaths({LMPathString(turned, false), LMPathString(png, false), LMPathString(plain, false)}, {},
                              false);
    runLoads(log);
    // 100%: the picture at full size (asked for again in case the pass made none).
    controller->loadCurFileOriginalImage();
    runLoads(log);
    EXPECT_EQ(log.mostByOneLoad(), 1) << "a load took a photo from the disk more than once";
    for (const QString &path : {turned, png, plain}) {
        SCOPED_TRACE(path.toStdString());
        const LMNavFileInfoPtr info = record(path);
        ASSERT_TRUE(info && info->imgBaseInfo());
        const LMImagePtr cell = info->imageByType(LMNavFileInfo::kSmallThumbType);
        ASSERT_TRUE(cell) << "the photo bin's cell";
        // The cell keeps the stored shape; the view turns it by the description's orientation.
        EXPECT_EQ(cell->width() > cell->height(), info->imgBaseInfo()->rawFrameSize().width() >
                                                       info->imgBaseInfo()->rawFrameSize().height());
    }
    EXPECT_EQ(record(turned)->imgBaseInfo()->orientationAngle(), 90);
    EXPECT_TRUE(controller->curFileInfo()->imageByType(controller->fitinImageType()) ||
                controller->curFileInfo()->imageByType(1));

    const LMImagePtr whole = controller->curFileInfo()->imageByType(1);
    ASSERT_TRUE(whole);
    EXPECT_EQ(QSize(whole->width(), whole->height()), QSize(1600, 1000));

    // A grid cell of a file the cache does not hold yet, and the picture made while starting.
    log.clear();
    const QString fresh = write(QStringLiteral("d.jpg"), noise(1200, 900, 4), QStringLiteral("public.jpeg"), 6);
    const QImage gridCell = kpv::Thumbnailer::uprightThumbnail(fresh, 256);
    EXPECT_EQ(gridCell.size(), QSize(192, 256)) << "upright";
    EXPECT_EQ(log.total(fresh), 1);
    log.clear();
    EXPECT_FALSE(NavPhotoLoaderAdapter::decodeLaunchFitin(fresh, QSizeF(1920, 1080)).isNull());
    EXPECT_EQ(log.total(fresh), 1);
}

} // namespace
