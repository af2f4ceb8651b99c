// How often the viewer takes a photo from the disk: each load of a file (its description, the
// thumbnails it keeps, its pixels) opens it once, whatever kind of load it is, and the pictures
// it shows are still the file's.

#include "nav_test_support.h"

#include "Model/LMImageSourceFactory.h"
#include "Model/LMPhotoLoader.h"
#include "View/NavImageLoader.h"
#include "View/NavLaunchPicture.h"
#include "imageio/FileAccess.h"
#include "imageio/ImageDestination.h"
#include "imageio/ImageProperties.h"
#include "imageio/Thumbnailer.h"

#include "../../support/NoisePicture.h"

#include <QDir>
#include <QMap>
#include <QMutex>
#include <QPainter>

#include <algorithm>
#include <future>
#include <utility>

namespace {

using namespace navtest;
using kpv::test::noisePicture;

// How many times each load took each file from the disk.
class ReadLog {
public:
    ReadLog()
    {
        kpv::setFileAccessObserverForTesting([this](const QString &path, const char *) {
            QMutexLocker lock(&mutex);
            ++reads[{load, path}];
        });
    }
    ~ReadLog() { kpv::setFileAccessObserverForTesting(nullptr); }
    int most() const { return reads.isEmpty() ? 0 : *std::max_element(reads.begin(), reads.end()); }

    QMutex mutex;
    int load = 0;
    QMap<std::pair<int, QString>, int> reads;
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
            for (const auto &op : std::exchange(host->queue, {})) {
                log.load = ++m_loads;
                op->start();
            }
            kpv::RunLoop::main().runOnce();
            host->drawFrame();
        }
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
    const QString turned = write(QStringLiteral("a-turned.jpg"), noisePicture(1600, 1000, 1), QStringLiteral("public.jpeg"), 6);
    const QString png = write(QStringLiteral("b.png"), noisePicture(700, 500, 2), QStringLiteral("public.png"));
    const QString plain = write(QStringLiteral("c.jpg"), noisePicture(1200, 900, 3), QStringLiteral("public.jpeg"));
    ReadLog log;

    controller->openFilePaths({LMPathString(turned, false), LMPathString(png, false), LMPathString(plain, false)}, {},
                              false);
    runLoads(log);
    // 100%: the picture at full size (asked for again in case the pass made none).
    controller->loadCurFileOriginalImage();
    runLoads(log);
    EXPECT_EQ(log.most(), 1) << "a load took a photo from the disk more than once";
    for (const QString &path : {turned, png, plain}) {
        SCOPED_TRACE(path.toStdString());
        const LMNavFileInfoPtr info = controller->cacheFileInfos().value(LMPathString(path, false));
        ASSERT_TRUE(info && info->imgBaseInfo());
        // The photo bin's cell keeps the stored shape; the view turns it by the orientation.
        const LMImagePtr cell = info->imageByType(LMNavFileInfo::kSmallThumbType);
        ASSERT_TRUE(cell);
        const QSizeF raw = info->imgBaseInfo()->rawFrameSize();
        EXPECT_EQ(cell->width() > cell->height(), raw.width() > raw.height());
    }
    const LMNavFileInfoPtr current = controller->curFileInfo();
    EXPECT_EQ(current->imgBaseInfo()->orientationAngle(), 90);
    const LMImagePtr whole = current->imageByType(1);
    ASSERT_TRUE(whole);
    EXPECT_EQ(QSize(whole->width(), whole->height()), QSize(1600, 1000));

    // A grid cell of a file the cache does not hold yet, and the picture made while starting.
    const QString fresh = write(QStringLiteral("d.jpg"), noisePicture(1200, 900, 4), QStringLiteral("public.jpeg"), 6);
    log.load = -1;
    EXPECT_EQ(kpv::Thumbnailer::uprightThumbnail(fresh, 256).size(), QSize(192, 256)) << "upright";
    log.load = -2;
    EXPECT_FALSE(NavPhotoLoaderAdapter::decodeLaunchFitin(fresh, QSizeF(1920, 1080)).isNull());
    EXPECT_EQ(log.most(), 1);
    EXPECT_EQ(log.reads.value({-1, fresh}) + log.reads.value({-2, fresh}), 2);
}

// Started with a photo: its quick and sharp pictures, made while the program starts, and the
// first loads of it (its description and the rest) take it from the disk once between them.
TEST_F(PhotoReads, TheStartsPicturesAndTheFirstLoadsShareOneOpening)
{
    const QString photo = write(QStringLiteral("e.jpg"), noisePicture(1600, 1000, 5), QStringLiteral("public.jpeg"), 6);
    ReadLog log;
    log.load = -1;
    std::promise<void> started, made;
    NavLaunchPicture quick(photo, [&started](const QString &path) {
        started.set_value();
        const std::unique_ptr<LMImageSourceReader> reader = LMImageSourceFactory::platform()->createWithFile(path);
        return reader ? reader->createThumbnailAtIndex(0, LMPhotoLoader::kSmallThumbMaxPixelSize, false) : QImage();
    });
    NavLaunchPicture sharp(
        photo,
        [&made](const QString &path) {
            QImage fitted = NavPhotoLoaderAdapter::decodeLaunchFitin(path, QSizeF(1600, 1000));
            made.set_value();
            return fitted;
        },
        NavLaunchPicture::SharpPicture);
    // The window is built while the pictures are made: the loads come once they are.
    started.get_future().wait();
    made.get_future().wait();
    controller->openFilePaths({LMPathString(photo, false)}, {}, false);
    runLoads(log);
    int reads = 0;
    for (auto it = log.reads.begin(); it != log.reads.end(); ++it)
        reads += it.key().second == photo ? it.value() : 0;
    EXPECT_EQ(reads, 1);
    ASSERT_TRUE(controller->curFileInfo()->imageByType(LMNavFileInfo::kSmallThumbType));
    EXPECT_EQ(controller->curFileInfo()->imgBaseInfo()->orientationAngle(), 90);
}

} // namespace

// The photo bin's cells and the large thumbnails of a photo eight times their size or more come
// from an eighth of the file, scaled by the decoder itself: in the photo's shape, with each part
// of it in its own colour right up to the others (the file holds colour coarser than brightness).
TEST_F(PhotoReads, ThumbnailsFromAnEighthOfTheFileKeepTheirSizeAndColours)
{
    QImage picture(4800, 3200, QImage::Format_RGBA8888_Premultiplied);
    const QColor colours[4] = {QColor(200, 60, 60), QColor(60, 160, 60), QColor(60, 60, 200), QColor(200, 200, 60)};
    {
        QPainter painter(&picture);
        for (int quarter = 0; quarter < 4; ++quarter)
            painter.fillRect((quarter % 2) * 2400, (quarter / 2) * 1600, 2400, 1600, colours[quarter]);
    }
    const QString path = folder + QStringLiteral("/quarters.jpg");
    ASSERT_TRUE(kpv::ImageDestination::writeImage(picture, path, QStringLiteral("public.jpeg"), {}));
    for (const int type : {LMNavFileInfo::kSmallThumbType, LMNavFileInfo::kLargeThumbType}) {
        SCOPED_TRACE(type);
        const LMImagePtr thumb = loader.loadImage(LMPathString(path, false), type, nullptr, nullptr);
        ASSERT_TRUE(thumb);
        // At least the cell's box, at most the eighth, in the photo's shape.
        const uint64_t box = type == LMNavFileInfo::kLargeThumbType ? 256 : LMPhotoLoader::kSmallThumbMaxPixelSize;
        EXPECT_GE(thumb->width(), box);
        EXPECT_LE(thumb->width(), 600u);
        EXPECT_NEAR(double(thumb->width()) / double(thumb->height()), 1.5, 0.01);
        const QImage shown = thumb->convertToImage();
        for (int quarter = 0; quarter < 4; ++quarter) {
            // Each quarter's middle, and a point a few pixels from its edges with the others.
            for (const double at : {0.5, 0.04}) {
                const double fx = quarter % 2 ? at : 1 - at, fy = quarter / 2 ? at : 1 - at;
                const QColor got = shown.pixelColor(int((quarter % 2 + fx) * shown.width() / 2),
                                                    int((quarter / 2 + fy) * shown.height() / 2));
                const QColor want = colours[quarter];
                EXPECT_LE(std::abs(got.red() - want.red()) + std::abs(got.green() - want.green()) +
                              std::abs(got.blue() - want.blue()),
                          24)
                    << "quarter " << quarter << " at " << at << ": " << got.name().toStdString();
            }
        }
    }
}

