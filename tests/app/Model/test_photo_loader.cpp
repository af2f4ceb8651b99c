// The photo loader over a fake image reader: scale-type sizes, the GIF rules, the desktop
// thumbnail, cancellation at each step, files that change, resizing and premultiplication; and
// one pass through the real image reader.

#include "Model/LMNavFileInfo.h"
#include "Model/LMPhotoLoader.h"
#include "Model/LMReadFailure.h"
#include "Model/PublicObject.h"

#include "foundation/Bundle.h"
#include "foundation/Operation.h"
#include "foundation/OperationQueue.h"
#include "imageio/ImageDestination.h"
#include "imageio/ContentTypes.h"
#include "imageio/DecodeBudget.h"
#include "imageio/FileAccess.h"
#include "imageio/ImageProperties.h"
#include "imageio/Thumbnailer.h"

#include "../../support/LargePictures.h"
#include "../../support/NoisePicture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

using kpv::test::noisePicture;

namespace {

const QColor kFrameColours[] = {Qt::red, Qt::green, Qt::blue, Qt::yellow, Qt::cyan};

struct FakeFile {
    QString type = QStringLiteral("public.jpeg");
    QSize size{4000, 3000};
    int frames = 1;
    int orientation = 0;
    bool headerHasSize = true;
    double claimedSide = 0;  // when set, the header claims this width and height instead of `size`
    QImage storedThumbnail;   // the thumbnail inside the file
    QImage desktopThumbnail;  // the desktop's thumbnail service
};

// Calls made on the fake, for checking what the loader asked for.
struct FakeLog {
    int opens = 0;
    int fullDecodes = 0;
    std::vector<int> scaledDecodes;  // max pixel sizes asked for
    int desktopThumbnails = 0;
};

class FakeSources;

class FakeReader final : public LMImageSourceReader {
public:
    FakeReader(const FakeSources &owner, FakeFile file) : m_owner(owner), m_file(std::move(file)) {}
    QString type() const override { return m_file.type; }
    int count() const override { return m_file.frames; }
    QVariantMap propertiesAtIndex(int index) const override
    {
        if (index < 0 || index >= m_file.frames)
            return {};
        QVariantMap p;
        if (m_file.claimedSide > 0) {
            p.insert(kpv::kCGImagePropertyPixelWidth, m_file.claimedSide);
            p.insert(kpv::kCGImagePropertyPixelHeight, m_file.claimedSide);
        } else if (m_file.headerHasSize) {
            p.insert(kpv::kCGImagePropertyPixelWidth, m_file.size.width());
            p.insert(kpv::kCGImagePropertyPixelHeight, m_file.size.height());
        }
        if (m_file.orientation)
            p.insert(kpv::kCGImagePropertyOrientation, m_file.orientation);
        return p;
    }
    QImage createImageAtIndex(int index) const override;
    QImage createThumbnailAtIndex(int index, int maxPixelSize, bool fromImageAlways) const override;

private:
    const FakeSources &m_owner;
    FakeFile m_file;
};

class FakeSources final : public LMImageSourceFactory {
public:
    // Files are also written to disk (one byte each): the loader takes their dates from there.
    explicit FakeSources(const QString &folder) : m_folder(folder) {}

    LMPathString add(const QString &name, const FakeFile &file)
    {
        const QString path = m_folder + u'/' + name;
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("x");
        m_files.insert(path, file);
        return LMPathString(path, false);
    }

    std::unique_ptr<LMImageSourceReader> createWithFile(const QString &path) const override
    {
        QMutexLocker lock(&m_mutex);
        ++m_log.opens;
        if (!m_files.contains(path))
            return nullptr;
        return std::make_unique<FakeReader>(*this, m_files.value(path));
    }
    QImage thumbnail(const QString &path, int maxPixelSize) const override
    {
        {
            QMutexLocker lock(&m_mutex);
            ++m_log.desktopThumbnails;
        }
        if (onDesktopThumbnail)
            onDesktopThumbnail();
        const QImage t = m_files.value(path).desktopThumbnail;
        return t.isNull() ? t : t.scaled(t.size().boundedTo(QSize(maxPixelSize, maxPixelSize)), Qt::KeepAspectRatio);
    }
    // The desktop's thumbnail stands for a cached one: the fake's service never decodes.
    QImage storedThumbnail(const QString &path, int maxPixelSize) const override { return thumbnail(path, maxPixelSize); }

    QImage decoded(int index, const QSize &size, bool full) const
    {
        {
            QMutexLocker lock(&m_mutex);
            if (full)
                ++m_log.fullDecodes;
            else
                m_log.scaledDecodes.push_back(std::max(size.width(), size.height()));
        }
        if (onDecode)
            onDecode(index);
        QImage image(size, QImage::Format_RGBA8888_Premultiplied);
        image.fill(kFrameColours[index % 5]);
        return image;
    }

    FakeLog log() const
    {
        QMutexLocker lock(&m_mutex);
        return m_log;
    }

    std::function<void(int)> onDecode;
    std::function<void()> onDesktopThumbnail;

private:
    QString m_folder;
    QHash<QString, FakeFile> m_files;
    mutable QMutex m_mutex;
    mutable FakeLog m_log;
};

QImage FakeReader::createImageAtIndex(int index) const
{
    return m_owner.decoded(index, m_file.size, true);
}

QImage FakeReader::createThumbnailAtIndex(int index, int maxPixelSize, bool fromImageAlways) const
{
    if (!fromImageAlways)
        return m_file.storedThumbnail;
    QSize size = m_file.size;
    if (std::max(size.width(), size.height()) > maxPixelSize)
        size = size.scaled(maxPixelSize, maxPixelSize, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
    return m_owner.decoded(index, size, false);
}

// The program's bundle description, in the folder "bundle" of `dir`; its path.
QString writeInfoJson(const QTemporaryDir &dir)
{
    const QString folder = dir.path() + QStringLiteral("/bundle");
    QDir().mkpath(folder);
    QFile f(folder + QStringLiteral("/Info.json"));
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(R"({"CFBundleDocumentTypes": [
        {"LSItemContentTypes": ["public.jpeg"], "AMImageType": "AM_JPEG"},
        {"LSItemContentTypes": ["public.png"], "AMImageType": "AM_PNG"},
        {"LSItemContentTypes": ["com.compuserve.gif"], "AMImageType": "AM_GIF"},
        {"LSItemContentTypes": ["public.camera-raw-image"], "AMImageType": "AM_UNKNOWN"}]})");
    return folder;
}

void touch(const LMPathString &path, int seconds = 10)
{
    QFile f(path.path());
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    ASSERT_TRUE(f.setFileTime(f.fileTime(QFileDevice::FileModificationTime).addSecs(seconds),
                              QFileDevice::FileModificationTime));
}

QColor pixel(const LMImagePtr &image, int frame, int x, int y)
{
    const QImage shown = image->frameImage(frame);
    const uchar *p = shown.constBits() + size_t(y) * image->bytesPerRow() + size_t(x) * 4;
    return QColor(p[0], p[1], p[2], p[3]);
}

class PhotoLoaderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        bundle = std::make_unique<kpv::Bundle>(QStringList{writeInfoJson(dir)});
        sources = std::make_shared<FakeSources>(dir.path());
        object = std::make_unique<PublicObject>(*bundle, QSizeF(1680, 1050), sources);
        loader = object->photoLoader();
    }

    QTemporaryDir dir;
    std::unique_ptr<kpv::Bundle> bundle;
    std::shared_ptr<FakeSources> sources;
    std::unique_ptr<PublicObject> object;
    LMPhotoLoader *loader = nullptr;
};

FakeFile gif(QSize size, int frames)
{
    FakeFile f;
    f.type = QStringLiteral("com.compuserve.gif");
    f.size = size;
    f.frames = frames;
    return f;
}

} // namespace

TEST_F(PhotoLoaderTest, BaseInformationComesFromTheReaderAndTheFileDate)
{
    FakeFile f;
    f.orientation = 6;
    const LMPathString path = sources->add(QStringLiteral("a.jpg"), f);
    const LMFileImgBaseInfoPtr info = loader->loadImgBaseInfo(path, nullptr);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->rawFrameSize(), QSizeF(4000, 3000));
    EXPECT_EQ(info->rawOrientation(), 6);
    EXPECT_EQ(info->imageUTI(), QStringLiteral("public.jpeg"));
    EXPECT_EQ(info->AMCMImageType(), 2u);
    EXPECT_EQ(info->fileModificationDate(), path.dateModified());
    EXPECT_FALSE(info->fileModified());

    // A header without a size: the first frame is decoded to learn it.
    FakeFile noSize;
    noSize.size = QSize(30, 20);
    noSize.headerHasSize = false;
    const LMFileImgBaseInfoPtr measured = loader->loadImgBaseInfo(sources->add(QStringLiteral("b.jpg"), noSize), nullptr);
    ASSERT_TRUE(measured);
    EXPECT_EQ(measured->rawFrameSize(), QSizeF(30, 20));

    // No pixels, an unreadable file and a missing file give nothing.
    FakeFile empty;
    empty.size = QSize(0, 0);
    empty.headerHasSize = false;
    EXPECT_FALSE(loader->loadImgBaseInfo(sources->add(QStringLiteral("c.jpg"), empty), nullptr));
    FakeFile oneSided;
    oneSided.size = QSize(0, 40);
    EXPECT_FALSE(loader->loadImgBaseInfo(sources->add(QStringLiteral("d.jpg"), oneSided), nullptr));
    QFile junk(dir.path() + QStringLiteral("/junk.jpg"));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.close();
    EXPECT_FALSE(loader->loadImgBaseInfo(LMPathString(junk.fileName(), false), nullptr));
    EXPECT_FALSE(loader->loadImgBaseInfo(LMPathString(dir.path() + QStringLiteral("/gone.jpg"), false), nullptr));
}

TEST_F(PhotoLoaderTest, ReducedAndPreferredSizesFollowTheScaleTypes)
{
    auto info = [&](QSize size, const QString &type, uint64_t codec) {
        return std::make_shared<const LMFileImgBaseInfo>(LMPathString(QStringLiteral("/x"), false), type, codec,
                                                         QDateTime(), QSizeF(size), 1, QVariantMap());
    };
    const auto odd = info(QSize(1001, 751), QStringLiteral("public.jpeg"), 2);
    EXPECT_EQ(LMPhotoLoader::imageSizeByScaleType(1, odd), QSizeF(1001, 751));
    EXPECT_EQ(LMPhotoLoader::imageSizeByScaleType(2, odd), QSizeF(501, 376));
    EXPECT_EQ(LMPhotoLoader::imageSizeByScaleType(7, odd), QSizeF(16, 12));
    EXPECT_EQ(LMPhotoLoader::imageSizeByScaleType(8, odd), QSizeF(0, 0));
    EXPECT_EQ(LMPhotoLoader::imageSizeByScaleType(2, nullptr), QSizeF(0, 0));

    const auto photo = info(QSize(4000, 3000), QStringLiteral("public.jpeg"), 2);
    int eq = -1;
    EXPECT_EQ(loader->calcPreferredImageSizeForImageScaleType(10, photo, &eq), QSizeF(1000, 750));
    EXPECT_EQ(eq, 3);
    EXPECT_EQ(loader->calcPreferredImageSizeForImageScaleType(11, photo, &eq), QSizeF(1400, 1050));
    EXPECT_EQ(eq, 0);
    EXPECT_EQ(loader->calcPreferredImageSizeForImageScaleType(9, photo, &eq), QSizeF(250, 188));
    EXPECT_EQ(eq, 5);
    EXPECT_EQ(loader->calcPreferredImageSizeForImageScaleType(3, photo, &eq), QSizeF(0, 0));
    EXPECT_EQ(eq, 0);

    // A GIF: full size for the fit-in types, a plain fit for the thumbnails.
    const auto animation = info(QSize(4000, 3000), QStringLiteral("com.compuserve.gif"), 4);
    EXPECT_EQ(loader->calcPreferredImageSizeForImageScaleType(11, animation, &eq), QSizeF(4000, 3000));
    EXPECT_EQ(eq, 1);
    EXPECT_EQ(loader->calcPreferredImageSizeForImageScaleType(9, animation, &eq), QSizeF(256, 192));
    EXPECT_EQ(eq, 0);

    // A picture already smaller than the box is its own full size.
    const auto small = info(QSize(300, 200), QStringLiteral("public.png"), 8);
    EXPECT_EQ(loader->calcPreferredImageSizeForImageScaleType(10, small, &eq), QSizeF(300, 200));
    EXPECT_EQ(eq, 1);

    // Without a screen the large box is empty.
    LMPhotoLoader noScreen(QSizeF(0, 0), sources);
    EXPECT_EQ(noScreen.calcPreferredImageSizeForImageScaleType(11, photo, &eq), QSizeF(0, 0));
    EXPECT_EQ(eq, 0);
}

TEST_F(PhotoLoaderTest, SmallOrLargeFitInByDisplaySize)
{
    LMPhotoLoader wide(QSizeF(2560, 1440), sources);
    EXPECT_TRUE(wide.isSmallFitinTypeByCheckSize(QSizeF(1280, 800)));
    EXPECT_FALSE(wide.isSmallFitinTypeByCheckSize(QSizeF(2400, 1350)));
    EXPECT_TRUE(wide.isSmallFitinTypeByCheckSize(QSizeF(0, 0)));
    EXPECT_TRUE(wide.isSmallFitinTypeByCheckSize(QSizeF(0, 500)));
    // Without a screen the large type could never load, so the small one is always chosen.
    LMPhotoLoader noScreen(QSizeF(0, 0), sources);
    EXPECT_TRUE(noScreen.isSmallFitinTypeByCheckSize(QSizeF(2400, 1350)));
}

TEST_F(PhotoLoaderTest, ScaleTypeLoadsDecodeOnlyWhatTheyNeed)
{
    const LMPathString path = sources->add(QStringLiteral("a.jpg"), FakeFile{});
    int eq = -1;
    // Types outside 1..11 never touch the file.
    EXPECT_FALSE(loader->loadImage(path, 0, nullptr, nullptr, &eq));
    EXPECT_FALSE(loader->loadImage(path, 12, nullptr, nullptr, &eq));
    EXPECT_EQ(sources->log().opens, 0);
    EXPECT_EQ(eq, -1);

    LMImagePtr image = loader->loadImage(path, 3, nullptr, nullptr, &eq);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width(), 1000u);
    EXPECT_EQ(image->height(), 750u);
    EXPECT_EQ(eq, 0);
    EXPECT_EQ(sources->log().scaledDecodes, std::vector<int>{1000});
    EXPECT_EQ(sources->log().fullDecodes, 0);

    image = loader->loadImage(path, 10, image->originalImgBaseInfo(), nullptr, &eq);
    ASSERT_TRUE(image);
    EXPECT_EQ(eq, 3);
    EXPECT_EQ(image->width(), 1000u);

    image = loader->loadImage(path, 1, image->originalImgBaseInfo(), nullptr, &eq);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width(), 4000u);
    EXPECT_EQ(sources->log().fullDecodes, 1);

    // A failed load leaves the out value alone.
    eq = -1;
    EXPECT_FALSE(loader->loadImage(LMPathString(dir.path() + QStringLiteral("/none.jpg"), false), 3, nullptr, nullptr, &eq));
    EXPECT_EQ(eq, -1);
}

TEST_F(PhotoLoaderTest, AnimatedGifsDecodeEveryFrameOnlyAtFullSizeForFitIn)
{
    const LMPathString path = sources->add(QStringLiteral("a.gif"), gif(QSize(600, 400), 3));
    int eq = -1;
    LMImagePtr image = loader->loadImage(path, 11, nullptr, nullptr, &eq);
    ASSERT_TRUE(image);
    EXPECT_EQ(eq, 1);
    ASSERT_EQ(image->frameDatas().size(), 3);
    EXPECT_EQ(image->width(), 600u);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(pixel(image, i, 5, 5), kFrameColours[i]) << "frame " << i;

    // Without the multiple-frames flag, and for thumbnails, only the first frame.
    image = loader->loadImage(path, 10, nullptr, false, nullptr, &eq);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->frameDatas().size(), 1);
    image = loader->loadImage(path, 9, nullptr, true, nullptr, &eq);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->frameDatas().size(), 1);
    EXPECT_EQ(image->width(), 256u);
    EXPECT_EQ(eq, 0);
    // Reduced types of an animation are one frame too.
    image = loader->loadImage(path, 2, nullptr, true, nullptr, &eq);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->frameDatas().size(), 1);
}

// The frames of an animation are told as they decode, each time their count doubles and before
// the next frame is decoded, sharing their pixels with the whole animation, which is never told.
// Still pictures, thumbnails and single frames tell nothing.
TEST_F(PhotoLoaderTest, AnimationTellsItsFramesAsTheyDecode)
{
    const LMPathString path = sources->add(QStringLiteral("a.gif"), gif(QSize(600, 400), 5));
    std::vector<LMImagePtr> told;
    std::vector<int> decodesWhenTold;
    auto sink = [&](const LMImagePtr &frames) {
        told.push_back(frames);
        decodesWhenTold.push_back(sources->log().fullDecodes);
    };
    int eq = -1;
    const LMImagePtr whole = loader->loadImage(path, 11, nullptr, true, nullptr, &eq, sink);
    ASSERT_TRUE(whole);
    ASSERT_EQ(whole->frameDatas().size(), 5);
    ASSERT_EQ(told.size(), 3u);
    EXPECT_EQ(decodesWhenTold, (std::vector<int>{1, 2, 4}));
    for (size_t t = 0; t < told.size(); ++t) {
        ASSERT_TRUE(told[t]);
        ASSERT_EQ(told[t]->frameDatas().size(), qsizetype(1) << t);
        EXPECT_EQ(told[t]->width(), 600u);
        EXPECT_EQ(told[t]->originalImgBaseInfo(), whole->originalImgBaseInfo());
        for (qsizetype f = 0; f < told[t]->frameDatas().size(); ++f) {
            EXPECT_EQ(told[t]->frameDatas()[f], whole->frameDatas()[f]);
            EXPECT_EQ(pixel(told[t], int(f), 5, 5), kFrameColours[f]);
        }
    }

    told.clear();
    EXPECT_TRUE(loader->loadImage(path, 10, nullptr, false, nullptr, &eq, sink));
    EXPECT_TRUE(loader->loadImage(path, 9, nullptr, true, nullptr, &eq, sink));
    const LMPathString still = sources->add(QStringLiteral("b.gif"), gif(QSize(600, 400), 1));
    EXPECT_TRUE(loader->loadImage(still, 11, nullptr, true, nullptr, &eq, sink));
    EXPECT_TRUE(told.empty());

    // A load cancelled during its first frame tells nothing.
    kpv::Operation cancelled;
    sources->onDecode = [&](int) { cancelled.cancel(); };
    EXPECT_FALSE(loader->loadImage(path, 11, nullptr, true, &cancelled, &eq, sink));
    sources->onDecode = nullptr;
    EXPECT_TRUE(told.empty());
}

TEST_F(PhotoLoaderTest, AnAnimationBeyondTheDecodeBudgetIsRefusedBeforeDecoding)
{
    // 10 frames of 10000 x 10000 would take 4 GB.
    const LMPathString path = sources->add(QStringLiteral("huge.gif"), gif(QSize(10000, 10000), 10));
    EXPECT_FALSE(loader->loadImage(path, 11, nullptr, nullptr, nullptr));
    EXPECT_EQ(sources->log().fullDecodes, 0);
    // Its thumbnail needs one small frame and still loads.
    LMImagePtr thumb = loader->loadImage(path, 9, nullptr, nullptr, nullptr);
    ASSERT_TRUE(thumb);
    EXPECT_EQ(thumb->width(), 256u);
}

TEST_F(PhotoLoaderTest, APanoramaBeyondTheDecodeBudgetShowsFittedAndAsAThumbnail)
{
    // 24000 x 12000 would take 1.1 GB at full size; fitted and as a thumbnail it takes little.
    FakeFile panorama;
    panorama.size = QSize(24000, 12000);
    const LMPathString path = sources->add(QStringLiteral("panorama.jpg"), panorama);
    for (int scaleType : {9, 11}) {
        LMImagePtr image = loader->loadImage(path, scaleType, nullptr, nullptr, nullptr);
        ASSERT_TRUE(image) << scaleType;
        EXPECT_EQ(image->width(), 2 * image->height()) << scaleType;
    }
    EXPECT_EQ(sources->log().fullDecodes, 0);
    EXPECT_EQ(kpv::DecodeBudget::shared().inUse(), 0u);
}

TEST_F(PhotoLoaderTest, AnAbsurdHeaderSizeIsRefusedRatherThanCountedAsNothing)
{
    // 2^32 on each side: its bytes do not fit in 64 bits and must not wrap round to a small number.
    // Sides far beyond any integer must not be converted out of range either.
    for (const double side : {4294967296.0, 1e30}) {
        FakeFile absurd;
        absurd.claimedSide = side;
        absurd.desktopThumbnail = QImage(200, 100, QImage::Format_RGBA8888_Premultiplied);
        absurd.desktopThumbnail.fill(Qt::magenta);
        const LMPathString path = sources->add(QStringLiteral("absurd%1.jpg").arg(side), absurd);
        EXPECT_FALSE(loader->loadImage(path, 8, nullptr, nullptr, nullptr)) << side;
        EXPECT_FALSE(loader->loadImage(path, 11, nullptr, nullptr, nullptr)) << side;
    }
    EXPECT_EQ(sources->log().fullDecodes, 0);
    EXPECT_TRUE(sources->log().scaledDecodes.empty());
}

TEST_F(PhotoLoaderTest, SmallThumbnailPrefersTheDesktopThumbnail)
{
    FakeFile withThumb;
    withThumb.desktopThumbnail = QImage(200, 100, QImage::Format_RGBA8888_Premultiplied);
    withThumb.desktopThumbnail.fill(Qt::magenta);
    const LMPathString a = sources->add(QStringLiteral("a.jpg"), withThumb);
    int eq = -1;
    LMImagePtr image = loader->loadImage(a, 8, nullptr, nullptr, &eq);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width(), 160u);
    EXPECT_EQ(image->height(), 80u);
    EXPECT_EQ(eq, 0);
    EXPECT_EQ(pixel(image, 0, 0, 0), QColor(Qt::magenta));
    EXPECT_EQ(sources->log().scaledDecodes.size(), 0u);

    // Without one, the large thumbnail's reduced size.
    const LMPathString b = sources->add(QStringLiteral("b.jpg"), FakeFile{});
    image = loader->loadImage(b, 8, nullptr, nullptr, &eq);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width(), 250u);
    EXPECT_EQ(eq, 5);
}

TEST_F(PhotoLoaderTest, CancellationStopsEveryStep)
{
    const LMPathString photo = sources->add(QStringLiteral("a.jpg"), FakeFile{});
    const LMPathString animation = sources->add(QStringLiteral("a.gif"), gif(QSize(60, 40), 4));
    const LMFileImgBaseInfoPtr info = loader->loadImgBaseInfo(photo, nullptr);
    const LMFileImgBaseInfoPtr gifInfo = loader->loadImgBaseInfo(animation, nullptr);
    ASSERT_TRUE(info && gifInfo);

    {   // Cancelled before it starts: nothing is decoded.
        kpv::Operation op;
        op.cancel();
        EXPECT_FALSE(loader->loadImage(photo, 3, info, &op, nullptr));
        EXPECT_FALSE(loader->loadImage(photo, info, QSizeF(10, 10), false, &op));
        EXPECT_EQ(sources->log().scaledDecodes.size(), 0u);
    }
    {   // Cancelled while the desktop thumbnail is looked for: no decode follows.
        kpv::Operation op;
        sources->onDesktopThumbnail = [&] { op.cancel(); };
        EXPECT_FALSE(loader->loadImage(photo, 8, info, &op, nullptr));
        sources->onDesktopThumbnail = nullptr;
        EXPECT_EQ(sources->log().scaledDecodes.size(), 0u);
    }
    {   // Cancelled during the second frame of an animation: no further frame, no image.
        kpv::Operation op;
        sources->onDecode = [&](int index) {
            if (index == 1)
                op.cancel();
        };
        EXPECT_FALSE(loader->loadImage(animation, 11, gifInfo, &op, nullptr));
        EXPECT_EQ(sources->log().fullDecodes, 2);
        // Cancelled during a single-frame decode: the decoded picture is dropped.
        kpv::Operation op2;
        sources->onDecode = [&](int) { op2.cancel(); };
        EXPECT_FALSE(loader->loadImage(photo, 3, info, &op2, nullptr));
        sources->onDecode = nullptr;
    }
    {   // Resizing stops too, and leaves nothing behind.
        const LMImagePtr image = loader->loadImage(photo, 7, info, nullptr, nullptr);
        ASSERT_TRUE(image);
        kpv::Operation op;
        op.cancel();
        EXPECT_FALSE(loader->resizeImage(image, QSizeF(10, 10), &op));
        EXPECT_TRUE(loader->resizeImage(image, QSizeF(10, 10), nullptr));
    }
}

TEST_F(PhotoLoaderTest, AFileThatChangesMakesEveryLoadFail)
{
    const LMPathString photo = sources->add(QStringLiteral("a.jpg"), FakeFile{});
    const LMFileImgBaseInfoPtr info = loader->loadImgBaseInfo(photo, nullptr);
    ASSERT_TRUE(info);
    const LMImagePtr before = loader->loadImage(photo, 7, info, nullptr, nullptr);
    ASSERT_TRUE(before);

    // Touched while it is being decoded: the pixels may not match the information any more.
    sources->onDecode = [&](int) { touch(photo); };
    EXPECT_FALSE(loader->loadImage(photo, 6, info, nullptr, nullptr));
    sources->onDecode = nullptr;

    // Touched after its information was read.
    for (int type = 1; type <= 11; ++type)
        EXPECT_FALSE(loader->loadImage(photo, type, info, nullptr, nullptr)) << "type " << type;
    EXPECT_FALSE(loader->loadImage(photo, info, QSizeF(100, 75), false, nullptr));
    EXPECT_FALSE(loader->resizeImage(before, QSizeF(10, 10), nullptr));
    // Fresh information loads again.
    EXPECT_TRUE(loader->loadImage(photo, 7, nullptr, nullptr, nullptr));
}

TEST_F(PhotoLoaderTest, ResizingMakesOneFrameOfTheAskedSize)
{
    const LMPathString animation = sources->add(QStringLiteral("a.gif"), gif(QSize(60, 40), 3));
    const LMImagePtr image = loader->loadImage(animation, 11, nullptr, nullptr, nullptr);
    ASSERT_TRUE(image);
    ASSERT_EQ(image->frameDatas().size(), 3);

    // Through the codec library with this thread's component manager.
    LMImagePtr resized = loader->resizeImage(image, QSizeF(30, 20), nullptr);
    ASSERT_TRUE(resized);
    EXPECT_EQ(resized->frameDatas().size(), 1);
    EXPECT_EQ(resized->width(), 30u);
    EXPECT_EQ(resized->height(), 20u);
    EXPECT_EQ(resized->originalImgBaseInfo(), image->originalImgBaseInfo());
    const QColor centre = pixel(resized, 0, 15, 10);
    EXPECT_NEAR(centre.red(), 255, 2);
    EXPECT_NEAR(centre.green(), 0, 2);

    resized = loader->resizeImage(image, QSizeF(0.4, 10), nullptr);
    ASSERT_TRUE(resized);
    EXPECT_EQ(resized->width(), 1u);
    EXPECT_EQ(resized->height(), 10u);
    EXPECT_FALSE(loader->resizeImage(image, QSizeF(0, 0), nullptr));
    EXPECT_FALSE(loader->resizeImage(nullptr, QSizeF(5, 5), nullptr));
    // Sizes no memory could hold fail cleanly instead of overflowing.
    EXPECT_FALSE(loader->resizeImage(image, QSizeF(1e300, 10), nullptr));
    EXPECT_FALSE(loader->resizeImage(image, QSizeF(70000, 70000), nullptr));
    EXPECT_FALSE(loader->resizeImage(image, QSizeF(qQNaN(), 10), nullptr));

    // Without a component manager the platform scales it.
    LMPhotoLoader plain(QSizeF(1680, 1050), sources);
    resized = plain.resizeImage(image, QSizeF(6, 4), nullptr);
    ASSERT_TRUE(resized);
    EXPECT_EQ(resized->width(), 6u);
    EXPECT_NEAR(pixel(resized, 0, 3, 2).red(), 255, 2);

    // A wanted size with a side below 1 decodes one pixel across and resizes.
    const LMPathString photo = sources->add(QStringLiteral("b.jpg"), FakeFile{});
    const LMImagePtr thin = loader->loadImage(photo, nullptr, QSizeF(0.4, 10), false, nullptr);
    ASSERT_TRUE(thin);
    EXPECT_EQ(thin->width(), 1u);
    EXPECT_EQ(thin->height(), 10u);
    EXPECT_EQ(sources->log().scaledDecodes.back(), 1);
    EXPECT_FALSE(loader->loadImage(photo, nullptr, QSizeF(0, 0), false, nullptr));
}

TEST_F(PhotoLoaderTest, WorkersLoadAndResizeAtOnceEachWithItsOwnManager)
{
    const LMPathString photo = sources->add(QStringLiteral("a.jpg"), FakeFile{});
    const LMFileImgBaseInfoPtr info = loader->loadImgBaseInfo(photo, nullptr);
    ASSERT_TRUE(info);
    const int before = PublicObject::liveThreadHandleCount();
    std::atomic<int> good{0};
    {
        kpv::OperationQueue queue;
        queue.setMaxConcurrentOperationCount(4);
        for (int i = 0; i < 16; ++i) {
            queue.addOperationWithBlock([&, i] {
                const LMImagePtr image = loader->loadImage(photo, 5 + i % 3, info, nullptr, nullptr);
                const LMImagePtr small = image ? loader->resizeImage(image, QSizeF(40 + i, 30), nullptr) : nullptr;
                if (small && small->width() == uint64_t(40 + i) && pixel(small, 0, 20, 15).red() >= 253)
                    ++good;
            });
        }
        queue.waitUntilAllOperationsAreFinished();
    }
    EXPECT_EQ(good.load(), 16);
    EXPECT_EQ(PublicObject::liveThreadHandleCount(), before);
}

TEST_F(PhotoLoaderTest, StoredThumbnailIsTurnedToTheRawFramesShape)
{
    FakeFile portrait;
    portrait.size = QSize(3000, 4000);
    portrait.orientation = 6;
    portrait.storedThumbnail = QImage(160, 120, QImage::Format_RGBA8888_Premultiplied);
    portrait.storedThumbnail.fill(Qt::white);
    portrait.storedThumbnail.setPixelColor(0, 0, Qt::red);
    const LMPathString path = sources->add(QStringLiteral("p.jpg"), portrait);
    const LMFileImgBaseInfoPtr info = loader->loadImgBaseInfo(path, nullptr);
    LMImagePtr thumb = LMPhotoLoader::loadThumbByCore(path, info, nullptr, loader->sources());
    ASSERT_TRUE(thumb);
    EXPECT_EQ(thumb->width(), 120u);
    EXPECT_EQ(thumb->height(), 160u);
    // A clockwise quarter turn puts the top-left corner at the top-right.
    EXPECT_EQ(pixel(thumb, 0, 119, 0), QColor(Qt::red));

    FakeFile none;
    EXPECT_FALSE(LMPhotoLoader::loadThumbByCore(sources->add(QStringLiteral("n.jpg"), none),
                                                loader->loadImgBaseInfo(path, nullptr), nullptr, loader->sources()));
    EXPECT_FALSE(LMPhotoLoader::loadThumbByCore(path, nullptr, nullptr, loader->sources()));
}

TEST_F(PhotoLoaderTest, RawFilesAreRecognisedByTheirType)
{
    EXPECT_TRUE(loader->isRawFile(LMPathString(QStringLiteral("/p/a.NEF"), false)));
    EXPECT_FALSE(loader->isRawFile(LMPathString(QStringLiteral("/p/a.jpg"), false)));
    EXPECT_FALSE(loader->isRawFile(LMPathString(QStringLiteral("/p/noextension"), false)));
    EXPECT_FALSE(loader->loadImgBaseInfoByAMCM(LMPathString(QStringLiteral("/p/a.NEF"), false), nullptr));
    EXPECT_TRUE(LMPhotoLoader::hasAlphaByAMCMType(8));
    EXPECT_FALSE(LMPhotoLoader::hasAlphaByAMCMType(2));
}

TEST(PhotoLoaderPremultiply, MatchesTheRoundedProductForEveryValue)
{
    LMPhotoLoader loader;
    // The table is built once even when many threads ask first.
    std::vector<const uint8_t *> seen(8);
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i)
        threads.emplace_back([&, i] { seen[i] = loader.preMtTable(); });
    for (auto &t : threads)
        t.join();
    for (const uint8_t *t : seen)
        EXPECT_EQ(t, seen[0]);

    // Every alpha with every value, in a bitmap whose pitch holds one spare pixel per row.
    const int width = 256, height = 256;
    const int64_t pitch = (width + 1) * 4;
    std::vector<uint8_t> pixels(size_t(pitch) * height);
    for (int a = 0; a < height; ++a)
        for (int c = 0; c < width + 1; ++c) {
            uint8_t *p = pixels.data() + size_t(a) * size_t(pitch) + size_t(c) * 4;
            p[0] = uint8_t(c);
            p[1] = uint8_t(255 - (c & 255));
            p[2] = uint8_t(c / 2);
            p[3] = uint8_t(a);
        }
    MBITMAP bitmap{};
    bitmap.dwPixelArrayFormat = LMBitmap::kPixelArrayFormatRGBA;
    bitmap.lWidth = width;
    bitmap.lHeight = height;
    bitmap.lPitch[0] = pitch;
    bitmap.pPlane[0] = pixels.data();
    loader.premultiplyAlpha(&bitmap);
    for (int a = 0; a < height; ++a)
        for (int c = 0; c < width + 1; ++c) {
            const uint8_t *p = pixels.data() + size_t(a) * size_t(pitch) + size_t(c) * 4;
            const int c0 = c & 255, c1 = 255 - (c & 255), c2 = c / 2;
            ASSERT_EQ(p[0], (a * c0 + 127) / 255);
            ASSERT_EQ(p[1], (a * c1 + 127) / 255);
            ASSERT_EQ(p[2], (a * c2 + 127) / 255);
            ASSERT_EQ(p[3], a);
        }

    // Another format, or a record without pixels, is left alone.
    std::vector<uint8_t> other{10, 20, 30, 0};
    MBITMAP record{};
    record.dwPixelArrayFormat = 0x16000777;
    record.lWidth = 1;
    record.lHeight = 1;
    record.lPitch[0] = 4;
    record.pPlane[0] = other.data();
    loader.premultiplyAlpha(&record);
    EXPECT_EQ(other, (std::vector<uint8_t>{10, 20, 30, 0}));
    record.dwPixelArrayFormat = LMBitmap::kPixelArrayFormatRGBA;
    record.pPlane[0] = nullptr;
    loader.premultiplyAlpha(&record);
    loader.premultiplyAlpha(nullptr);
}

TEST(PhotoLoaderPlatform, LoadsAWrittenJpegThroughTheImageReader)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    kpv::Bundle bundle(QStringList{writeInfoJson(dir)});
    PublicObject object(bundle, QSizeF(1680, 1050));
    LMPhotoLoader *loader = object.photoLoader();

    QImage picture(1200, 800, QImage::Format_RGBA8888_Premultiplied);
    picture.fill(QColor(200, 40, 60));
    const QString path = dir.path() + QStringLiteral("/photo.jpg");
    QVariantMap properties;
    properties.insert(kpv::kCGImagePropertyOrientation, 6);
    ASSERT_TRUE(kpv::ImageDestination::writeImage(picture, path, QStringLiteral("public.jpeg"), properties));

    const LMPathString file(path, false);
    int eq = -1;
    const LMImagePtr image = loader->loadImage(file, 10, nullptr, nullptr, &eq);
    ASSERT_TRUE(image);
    const LMFileImgBaseInfoPtr info = image->originalImgBaseInfo();
    EXPECT_EQ(info->rawFrameSize(), QSizeF(1200, 800));
    EXPECT_EQ(info->rawOrientation(), 6);
    EXPECT_EQ(info->AMCMImageType(), 2u);
    // 1200 x 800 in 1024 x 768: scale 0.85, nearest to full size; pixels stay as stored.
    EXPECT_EQ(eq, 1);
    EXPECT_EQ(image->width(), 1200u);
    EXPECT_EQ(image->height(), 800u);
    const QColor c = pixel(image, 0, 600, 400);
    EXPECT_NEAR(c.red(), 200, 4);
    EXPECT_NEAR(c.green(), 40, 4);
    EXPECT_NEAR(c.blue(), 60, 4);

    const LMImagePtr half = loader->loadImage(file, 2, info, nullptr, &eq);
    ASSERT_TRUE(half);
    EXPECT_EQ(half->width(), 600u);
    EXPECT_EQ(half->height(), 400u);

    // A file that is not an image gives nothing.
    QFile text(dir.path() + QStringLiteral("/fake.jpg"));
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write("not a picture at all");
    text.close();
    EXPECT_FALSE(loader->loadImage(LMPathString(text.fileName(), false), 10, nullptr, nullptr, nullptr));
}

// Each decode is counted once against the process's budget, for the pixels the reader really
// allocates: a picture of 60% of the budget loads, a reduced load pays its reduced size, and two
// such loads at once take turns instead of holding more than the budget together.
TEST(PhotoLoaderPlatform, EachLoadChargesTheDecodeBudgetOnceForWhatItDecodes)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    kpv::Bundle bundle(QStringList{writeInfoJson(dir)});
    PublicObject object(bundle, QSizeF(1680, 1050));
    LMPhotoLoader *loader = object.photoLoader();

    kpv::DecodeBudget &budget = kpv::DecodeBudget::shared();
    constexpr uint64_t kBudget = 20'000'000, kFrame = 2000 * 1500 * 4;  // 60% of the budget
    struct Restore {
        kpv::DecodeBudget &budget;
        uint64_t former;
        ~Restore() { budget.setCapacity(former); }
    } restore{budget, budget.setCapacity(kBudget)};

    std::vector<LMPathString> files;
    for (const QColor colour : {QColor(200, 40, 60), QColor(20, 90, 220)}) {
        QImage picture(2000, 1500, QImage::Format_RGBA8888_Premultiplied);
        picture.fill(colour);
        const QString path = dir.path() + QStringLiteral("/%1.png").arg(files.size());
        ASSERT_TRUE(kpv::ImageDestination::writeImage(picture, path, QStringLiteral("public.png"), {}));
        files.emplace_back(path, false);
    }

    budget.resetPeak();
    const LMImagePtr full = loader->loadImage(files[0], 1, nullptr, nullptr, nullptr);
    ASSERT_TRUE(full);
    EXPECT_EQ(full->width(), 2000u);
    EXPECT_EQ(budget.peak(), kFrame);

    budget.resetPeak();
    const LMImagePtr half = loader->loadImage(files[0], 2, full->originalImgBaseInfo(), nullptr, nullptr);
    ASSERT_TRUE(half);
    EXPECT_EQ(half->width(), 1000u);
    EXPECT_EQ(budget.peak(), kFrame / 4);

    budget.resetPeak();
    std::vector<LMImagePtr> both(2);
    {
        std::vector<std::thread> loads;
        for (size_t i = 0; i < 2; ++i)
            loads.emplace_back([&, i] { both[i] = loader->loadImage(files[i], 1, nullptr, nullptr, nullptr); });
        for (auto &load : loads)
            load.join();
    }
    EXPECT_TRUE(both[0] && both[1]);
    EXPECT_EQ(budget.peak(), kFrame);

    // A load waiting for memory another decode holds gives up when it is cancelled.
    {
        kpv::DecodeBudget::Reservation held = budget.reserve(kFrame);
        ASSERT_TRUE(held.isValid());
        kpv::Operation operation;
        LMImagePtr waited;
        std::thread load([&] { waited = loader->loadImage(files[1], 1, nullptr, &operation, nullptr); });
        while (budget.waiting() == 0)
            std::this_thread::yield();
        operation.cancel();
        load.join();
        EXPECT_FALSE(waited);
    }
    EXPECT_EQ(budget.inUse(), 0u);
    EXPECT_LE(budget.peak(), kBudget);
}

// A load the user has left stops decoding on the way, whatever reads the picture: it answers no
// picture, says nothing of a damaged file, gives back all it took of the decode budget, and the
// same photo loads whole afterwards. What is decoded is counted by the reader's questions (one for
// every few rows, band, tile, strip or read of the file).
struct CancelledLoad {
    const char *name;
    QString file;
    QSizeF want;        // empty: the scale type's size
    int scaleType = 1;  // 1: full size
    int wholeAsksMore = 4;  // a whole load asks at least this many times as often as a cancelled one
};

void expectCancelledLoadsStop(LMPhotoLoader *loader, const std::vector<CancelledLoad> &cases)
{
    for (const CancelledLoad &c : cases) {
        SCOPED_TRACE(c.name);
        const LMPathString file(c.file, false);
        const LMFileImgBaseInfoPtr info = loader->loadImgBaseInfo(file, nullptr);
        ASSERT_TRUE(info);
        const auto load = [&](const kpv::Operation *operation) {
            return c.want.isEmpty() ? loader->loadImage(file, c.scaleType, info, operation, nullptr)
                                    : loader->loadImage(file, info, c.want, false, operation);
        };

        // The user steps away while the third question is asked.
        constexpr int kAskedBeforeCancel = 3;
        std::uint64_t cancelledChecks = 0;
        {
            kpv::Operation operation;
            int asked = 0;
            const kpv::DecodeBudget::CancelScope stepAway([&] {
                if (++asked == kAskedBeforeCancel)
                    operation.cancel();
                return operation.isCancelled();
            });
            const std::uint64_t before = kpv::DecodeBudget::cancelChecks();
            LMReadFailure failure;
            EXPECT_FALSE(load(&operation));
            cancelledChecks = kpv::DecodeBudget::cancelChecks() - before;
            EXPECT_EQ(asked, kAskedBeforeCancel);
            EXPECT_TRUE(failure.reason().isEmpty()) << failure.reason().toStdString();
            EXPECT_EQ(kpv::DecodeBudget::shared().inUse(), 0u);
        }

        // The photo is as good as before: it loads whole, asking many times more on the way.
        const std::uint64_t start = kpv::DecodeBudget::cancelChecks();
        const LMImagePtr whole = load(nullptr);
        ASSERT_TRUE(whole);
        const std::uint64_t wholeChecks = kpv::DecodeBudget::cancelChecks() - start;
        EXPECT_LE(cancelledChecks, uint64_t(kAskedBeforeCancel) + 2);
        EXPECT_GE(wholeChecks, uint64_t(c.wholeAsksMore) * cancelledChecks);
    }
}

TEST(PhotoLoaderPlatform, ACancelledLoadOfALargePictureStopsWithinAFewRowsAndLeavesTheFileGood)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    kpv::Bundle bundle(QStringList{writeInfoJson(dir)});
    PublicObject object(bundle, QSizeF(1680, 1050));

    // Tall, so that a whole decode asks many times; noise, so that every row costs its bytes.
    const QImage picture = kpv::test::noisePicture(900, 4096, 7);
    const QString jpeg = dir.path() + QStringLiteral("/tall.jpg");
    ASSERT_TRUE(kpv::ImageDestination::writeImage(picture, jpeg, kpv::ContentTypes::kJpeg, {}));
    const QString png = dir.path() + QStringLiteral("/tall.png");
    ASSERT_TRUE(kpv::ImageDestination::writeImage(picture, png, kpv::ContentTypes::kPng, {}));
    const QString tiff = dir.path() + QStringLiteral("/tall.tif");
    ASSERT_TRUE(kpv::ImageDestination::writeImage(picture, tiff, kpv::ContentTypes::kTiff, {}));
    const QString webp = dir.path() + QStringLiteral("/tall.webp");
    const bool haveWebp = picture.save(webp, "WEBP", 90);
    std::vector<CancelledLoad> cases{{"JPEG by bands", jpeg, {}},
                                     {"JPEG at three eighths, by rows", jpeg, QSizeF(338, 1536)},
                                     {"PNG", png, {}},
                                     {"TIFF", tiff, {}}};
    if (haveWebp)
        cases.push_back({"WebP", webp, {}});
    expectCancelledLoadsStop(object.photoLoader(), cases);
}

// Describing a photo reads its head, where a JPEG keeps its header and metadata, not the whole
// file: the same photo grown past the size any whole-file read accepts (a sparse tail) still
// tells its size and orientation.
TEST(PhotoLoaderPlatform, BaseInformationComesFromTheHeadOfTheFile)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    kpv::Bundle bundle(QStringList{writeInfoJson(dir)});
    PublicObject object(bundle, QSizeF(1680, 1050));
    QImage picture(640, 480, QImage::Format_RGBA8888_Premultiplied);
    picture.fill(QColor(20, 200, 60));
    const QString path = dir.path() + QStringLiteral("/huge.jpg");
    QVariantMap properties;
    properties.insert(kpv::kCGImagePropertyOrientation, 8);
    ASSERT_TRUE(kpv::ImageDestination::writeImage(picture, path, QStringLiteral("public.jpeg"), properties));
    {
        QFile grow(path);
        ASSERT_TRUE(grow.open(QIODevice::ReadWrite));
        ASSERT_TRUE(grow.resize(qint64(3) << 30));
    }
    const LMFileImgBaseInfoPtr info = object.photoLoader()->loadImgBaseInfo(LMPathString(path, false), nullptr);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->rawFrameSize(), QSizeF(640, 480));
    EXPECT_EQ(info->rawOrientation(), 8);
    EXPECT_EQ(info->AMCMImageType(), LMPhotoLoader::kAMCMImageTypeJPEG);
}

// A photo loader of a program of its own, whose desktop thumbnail cache is a folder of the test's.

class CachedLoader {
public:
    CachedLoader()
        : m_bundle(prepare(m_dir))
        , m_object(m_bundle, QSizeF(1680, 1050))
    {
    }
    ~CachedLoader() { kpv::Thumbnailer::setCacheDirectoryForTesting(QString()); }
    bool isValid() const { return m_dir.isValid(); }
    QString folder() const { return m_dir.path(); }
    LMPhotoLoader *loader() { return m_object.photoLoader(); }

private:
    static QStringList prepare(const QTemporaryDir &dir)
    {
        kpv::Thumbnailer::setCacheDirectoryForTesting(dir.path() + QStringLiteral("/cache"));
        return {writeInfoJson(dir)};
    }
    QTemporaryDir m_dir;
    kpv::Bundle m_bundle;
    PublicObject m_object;
};

// A BMP of 8-bit colour indexes coded in runs (BMP RLE8), bottom row first, that the toolkit's
// reader reads: runs of 50 pixels of alternating colours, a row an end-of-line code.
QByteArray runLengthBmp(int width, int height)
{
    QByteArray runs;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; x += 50) {
            runs.append(char(std::min(50, width - x)));
            runs.append(char((x / 50 + y / 50) % 2));
        }
        runs.append('\0').append('\0');
    }
    runs.append('\0').append('\1');
    QByteArray palette(256 * 4, '\0');
    palette[0] = palette[1] = palette[2] = char(200);  // grey, then blue
    palette[4] = char(255);
    const auto le32 = [](quint32 v) {
        QByteArray b(4, '\0');
        for (int i = 0; i < 4; ++i)
            b[i] = char((v >> (8 * i)) & 0xFF);
        return b;
    };
    const quint32 pixelsAt = 14 + 40 + quint32(palette.size());
    QByteArray file("BM");
    file += le32(pixelsAt + quint32(runs.size())) + le32(0) + le32(pixelsAt);
    file += le32(40) + le32(quint32(width)) + le32(quint32(height));
    file += QByteArray("\x01\x00\x08\x00", 4);  // one plane, 8 bits a pixel
    file += le32(1) + le32(quint32(runs.size())) + le32(2835) + le32(2835) + le32(256) + le32(0);
    return file + palette + runs;
}

// Pictures that a library reads whole in one call are read in pieces, so that a load the user
// has left stops there too: a TIFF in tiles of a layout the library converts itself, a JPEG 2000
// of one tile (decoded a band of rows at a time) and of many (between tiles), a BMP coded in runs
// (the toolkit's reader, whose reads fail once the load is cancelled), and the thumbnail of a
// large JPEG that the codec library decodes at an eighth. All are large, and small on disk.
TEST(PhotoLoaderPlatform, ACancelledLoadStopsInPicturesALibraryReadsAtOneCall)
{
    CachedLoader program;
    ASSERT_TRUE(program.isValid());
    const QString folder = program.folder();
    const QString tiff = folder + QStringLiteral("/tiles.tif");
    ASSERT_TRUE(kpv::test::writeLargeTiledTiff(tiff, 1024, 8192));
    const QString oneTile = folder + QStringLiteral("/one-tile.jp2");
    ASSERT_TRUE(kpv::test::writeLargeJp2(oneTile, 2048, 2048, 2048));
    const QString tiles = folder + QStringLiteral("/tiles.jp2");
    ASSERT_TRUE(kpv::test::writeLargeJp2(tiles, 2048, 2048, 256));
    const QString bmp = folder + QStringLiteral("/runs.bmp");
    {
        QFile f(bmp);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        const QByteArray bytes = runLengthBmp(3000, 6000);
        ASSERT_EQ(f.write(bytes), bytes.size());
    }
    const QString jpeg = folder + QStringLiteral("/tall.jpg");
    ASSERT_TRUE(kpv::test::writeLargeJpeg(jpeg, 2048, 4096));
    for (const QString &path : {tiff, oneTile, tiles, bmp, jpeg})
        EXPECT_LT(QFileInfo(path).size(), 16 << 20) << path.toStdString();
    // The thumbnail's sixteen bands of rows each ask once: a whole load asks some times more.
    expectCancelledLoadsStop(program.loader(), {{"TIFF in tiles, converted by the library", tiff, {}},
                                                {"JPEG 2000 of one tile", oneTile, {}},
                                                {"JPEG 2000 of many tiles", tiles, {}},
                                                {"BMP in runs, read by the toolkit", bmp, {}},
                                                {"JPEG thumbnail at an eighth", jpeg, {}, LMNavFileInfo::kLargeThumbType, 2}});
}

// A folder's thumbnails are decoded once: the large thumbnail decoded on the first visit goes to
// the desktop's cache (upright, as the desktop keeps it), and the next visit's small thumbnail
// comes from there, turned back to the stored orientation, without decoding the photo.
TEST(PhotoLoaderPlatform, ADecodedThumbnailIsKeptForTheNextVisit)
{
    CachedLoader program;
    ASSERT_TRUE(program.isValid());
    LMPhotoLoader *loader = program.loader();
    const QString folder = program.folder();

    // Stored landscape, left half red, turned a quarter clockwise when shown (orientation 6).
    QImage picture(1600, 800, QImage::Format_RGBA8888_Premultiplied);
    picture.fill(QColor(0, 0, 220));
    for (int y = 0; y < 800; ++y)
        for (int x = 0; x < 800; ++x)
            picture.setPixelColor(x, y, QColor(220, 0, 0));
    const QString path = folder + QStringLiteral("/photo.jpg");
    QVariantMap properties;
    properties.insert(kpv::kCGImagePropertyOrientation, 6);
    ASSERT_TRUE(kpv::ImageDestination::writeImage(picture, path, QStringLiteral("public.jpeg"), properties));
    const LMPathString file(path, false);
    const LMFileImgBaseInfoPtr info = loader->loadImgBaseInfo(file, nullptr);
    ASSERT_TRUE(info);
    EXPECT_FALSE(loader->loadStoredSmallThumb(file, info, nullptr)); // nothing stored yet

    ASSERT_TRUE(loader->loadImage(file, 9, info, nullptr, nullptr));
    const QString entry = kpv::Thumbnailer::cachePathFor(path, QStringLiteral("large"));
    QImage cached(entry);
    ASSERT_FALSE(cached.isNull());
    EXPECT_LE(std::max(cached.width(), cached.height()), 256);
    EXPECT_GT(cached.height(), cached.width()); // upright: portrait
    EXPECT_GT(cached.pixelColor(cached.width() / 2, cached.height() / 4).red(), 180); // red on top

    EXPECT_FALSE(loader->loadStoredSmallThumb(file, info, nullptr, true)); // the file itself stores none
    const LMImagePtr thumb = loader->loadStoredSmallThumb(file, info, nullptr);
    ASSERT_TRUE(thumb);
    EXPECT_GT(thumb->width(), thumb->height()); // back in the stored orientation
    EXPECT_GT(pixel(thumb, 0, thumb->width() / 4, thumb->height() / 2).red(), 180);
    EXPECT_LT(pixel(thumb, 0, thumb->width() * 3 / 4, thumb->height() / 2).red(), 60);

    // The next visit's large thumbnail is the cached picture too (a decode would give the 400
    // pixels of a quarter of the photo), back in the stored orientation.
    int equivalent = -1;
    const LMImagePtr large = loader->loadImage(file, 9, info, nullptr, &equivalent);
    ASSERT_TRUE(large);
    EXPECT_EQ(large->width(), 256u);
    EXPECT_EQ(large->height(), 128u);
    EXPECT_EQ(equivalent, 0);
    // Made again from a larger picture of the photo, the thumbnail is not written over the fresh
    // entry a second time.
    const auto inode = [&] {
        struct stat st {};
        return ::stat(QFile::encodeName(entry).constData(), &st) == 0 ? st.st_ino : ino_t(0);
    };
    const ino_t stored = inode();
    loader->storeThumbnail(large);
    EXPECT_EQ(inode(), stored);

    // A file rewritten since its information was read gets no entry under the old time.
    ASSERT_TRUE(QFile::remove(entry));
    QFile touch(path);
    ASSERT_TRUE(touch.open(QIODevice::ReadWrite));
    ASSERT_TRUE(touch.setFileTime(QDateTime::currentDateTime().addSecs(60), QFileDevice::FileModificationTime));
    touch.close();
    loader->loadImage(file, 9, info, nullptr, nullptr);
    EXPECT_FALSE(QFile::exists(entry));
}

// A load takes the file from the disk once: its description, the thumbnail it might store and its
// pixels all come from one mapping, never a copy of the whole file, and a thumbnail cached on the
// first visit costs the next one no access to the photo at all. A photo another program cuts
// short while it is decoded fails the load; the program goes on.
TEST(PhotoLoaderPlatform, ALoadTakesThePhotoFromTheDiskOnceAndSurvivesItBeingCutShort)
{
    CachedLoader program;
    ASSERT_TRUE(program.isValid());
    LMPhotoLoader *loader = program.loader();
    const QString folder = program.folder();

    // Noise, so that the file is far larger than the files read rather than mapped; large enough
    // for its thumbnail to come from the codec library's decode at an eighth.
    const QImage picture = noisePicture(2400, 1800, 7);
    const QString path = folder + QStringLiteral("/photo.jpg");
    ASSERT_TRUE(kpv::ImageDestination::writeImage(picture, path, QStringLiteral("public.jpeg"), {}));
    ASSERT_GT(QFileInfo(path).size(), 512 * 1024);
    std::vector<std::string> accesses;
    std::function<void()> onMap;
    kpv::setFileAccessObserverForTesting([&](const QString &file, const char *kind) {
        if (file != path)
            return;
        accesses.emplace_back(kind);
        if (onMap)
            onMap();
    });
    const std::vector<std::string> once = {"map"};
    const LMPathString file(path, false);

    const LMImagePtr fitin = loader->loadImage(file, 11, nullptr, nullptr, nullptr);
    ASSERT_TRUE(fitin);
    EXPECT_EQ(accesses, once) << "description and pixels of a fit-in";
    const LMFileImgBaseInfoPtr info = fitin->originalImgBaseInfo();

    accesses.clear();
    ASSERT_TRUE(loader->loadImage(file, 9, info, nullptr, nullptr));
    EXPECT_EQ(accesses, once) << "the stored thumbnail looked for, then the scaled decode";
    accesses.clear();
    ASSERT_TRUE(loader->loadImage(file, 9, info, nullptr, nullptr));
    ASSERT_TRUE(loader->loadStoredSmallThumb(file, info, nullptr));
    EXPECT_TRUE(accesses.empty()) << "the thumbnails cached by the first visit";

    accesses.clear();
    onMap = [&] { ASSERT_EQ(::truncate(QFile::encodeName(path).constData(), 3000), 0); };
    EXPECT_FALSE(loader->loadImage(file, 11, info, nullptr, nullptr));
    EXPECT_EQ(accesses, once);
    kpv::setFileAccessObserverForTesting(nullptr);
}

// The steps of one load share the opening of its first step. A photo another program cuts short
// between two steps is refused by the later ones, with a message, and the program goes on; the
// next load opens the file as it is now.
namespace {
QStringList g_warnings;
void keepWarning(QtMsgType, const QMessageLogContext &, const QString &message) { g_warnings << message; }
} // namespace

TEST(PhotoLoaderPlatform, APhotoCutShortBetweenTheStepsOfOneLoadIsRefused)
{
    CachedLoader program;
    ASSERT_TRUE(program.isValid());
    LMPhotoLoader *loader = program.loader();
    const QString path = program.folder() + QStringLiteral("/photo.jpg");
    ASSERT_TRUE(kpv::ImageDestination::writeImage(noisePicture(1600, 1200, 11), path, QStringLiteral("public.jpeg"), {}));
    int opened = 0;
    kpv::setFileAccessObserverForTesting([&](const QString &file, const char *) { opened += file == path; });
    const LMPathString file(path, false);
    g_warnings.clear();
    const QtMessageHandler previous = qInstallMessageHandler(keepWarning);
    {
        const LMPhotoLoader::LoadScope oneLoad(file);
        const LMFileImgBaseInfoPtr info = loader->loadImgBaseInfo(file, nullptr);
        ASSERT_TRUE(info);
        ASSERT_EQ(::truncate(QFile::encodeName(path).constData(), 3000), 0);
        EXPECT_FALSE(loader->loadStoredSmallThumb(file, info, nullptr));
        EXPECT_FALSE(loader->loadImage(file, 9, info, nullptr, nullptr));
        // Described again from the opening made before the cut: that is the file as it was.
        EXPECT_FALSE(loader->loadImage(file, 11, nullptr, nullptr, nullptr));
        EXPECT_EQ(opened, 1);
    }
    qInstallMessageHandler(previous);
    EXPECT_TRUE(g_warnings.join(u'\n').contains(QStringLiteral("changed on disk"))) << g_warnings.join(u'\n').toStdString();
    const LMFileImgBaseInfoPtr now = loader->loadImgBaseInfo(file, nullptr);
    ASSERT_TRUE(now);
    EXPECT_EQ(now->fileIdentity().size, 3000);
    EXPECT_EQ(opened, 2);
    kpv::setFileAccessObserverForTesting(nullptr);
}

TEST(PhotoLoaderPlatform, EveryTruncationOfAPhotoFailsCleanlyOrGivesAMatchingImage)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    LMPhotoLoader loader(QSizeF(1680, 1050));
    QImage picture(64, 48, QImage::Format_RGBA8888_Premultiplied);
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x)
            picture.setPixelColor(x, y, QColor(x * 4, y * 5, (x ^ y) * 4));
    const QString full = dir.path() + QStringLiteral("/full.jpg");
    ASSERT_TRUE(kpv::ImageDestination::writeImage(picture, full, QStringLiteral("public.jpeg"), {}));
    QFile in(full);
    ASSERT_TRUE(in.open(QIODevice::ReadOnly));
    const QByteArray bytes = in.readAll();

    const QString path = dir.path() + QStringLiteral("/cut.jpg");
    for (qsizetype length = 0; length < bytes.size(); ++length) {
        QFile out(path);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        out.write(bytes.constData(), length);
        out.close();
        const LMImagePtr image = loader.loadImage(LMPathString(path, false), 10, nullptr, nullptr, nullptr);
        // A readable part may be shown; whatever comes has the size its information promises.
        if (image) {
            EXPECT_EQ(QSizeF(image->width(), image->height()), image->originalImgBaseInfo()->rawFrameSize())
                << "length " << length;
            EXPECT_TRUE(image->hasUsableFrame(0));
        }
    }
}

namespace {

// A GIF whose LZW data sends a clear code before every pixel (9-bit codes), so the test can write
// any frames without an encoder. Each frame: {left, top, width, height, disposal, transparent
// index or -1, one index per pixel}.
struct GifFrame {
    int left, top, width, height, disposal, transparent;
    std::vector<uint8_t> idx;
};
QByteArray plainGif(int w, int h, const std::vector<GifFrame> &frames)
{
    QByteArray out("GIF89a");
    auto u16 = [&](int v) { out.append(char(v & 0xFF)).append(char(v >> 8)); };
    u16(w), u16(h);
    out.append(char(0xF7)).append(char(0)).append(char(0)); // global table of 256 entries
    for (int i = 0; i < 256; ++i)
        out.append(char(i)).append(char(255 - i)).append(char((i * 7) & 0xFF));
    for (const GifFrame &f : frames) {
        out.append(char(0x21)).append(char(0xF9)).append(char(4));
        out.append(char((f.disposal << 2) | (f.transparent >= 0 ? 1 : 0)));
        u16(5);
        out.append(char(f.transparent >= 0 ? f.transparent : 0)).append(char(0));
        out.append(char(0x2C));
        u16(f.left), u16(f.top), u16(f.width), u16(f.height);
        out.append(char(0)).append(char(8));
        QByteArray bits;
        uint32_t acc = 0;
        int n = 0;
        auto put = [&](uint32_t code) {
            acc |= code << n;
            n += 9;
            while (n >= 8) {
                bits.append(char(acc & 0xFF));
                acc >>= 8;
                n -= 8;
            }
        };
        for (uint8_t v : f.idx)
            put(256), put(v);
        put(257);
        if (n > 0)
            bits.append(char(acc & 0xFF));
        for (int i = 0; i < bits.size(); i += 255) {
            const QByteArray block = bits.mid(i, 255);
            out.append(char(block.size())).append(block);
        }
        out.append(char(0));
    }
    out.append(char(0x3B));
    return out;
}

} // namespace

TEST(PhotoLoaderPlatform, TheCodecPathDecodesLikeThePlatformPath)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    kpv::Bundle bundle(QStringList{writeInfoJson(dir)});
    PublicObject object(bundle, QSizeF(1680, 1050));
    LMPhotoLoader *loader = object.photoLoader();

    QImage photo(97, 61, QImage::Format_RGBA8888);
    for (int y = 0; y < 61; ++y)
        for (int x = 0; x < 97; ++x)
            photo.setPixelColor(x, y, QColor(x * 2, y * 3, (x + y) & 0xFF, (x * 5 + y) & 0xFF));
    const QString jpeg = dir.path() + QStringLiteral("/a.jpg"), png = dir.path() + QStringLiteral("/a.png");
    QImage opaque = photo.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
    opaque.fill(QColor(30, 140, 220));
    ASSERT_TRUE(kpv::ImageDestination::writeImage(opaque, jpeg, QStringLiteral("public.jpeg"), {}));
    ASSERT_TRUE(kpv::ImageDestination::writeImage(photo, png, QStringLiteral("public.png"), {}));

    std::vector<GifFrame> frames;
    std::vector<uint8_t> full(20 * 14);
    for (size_t i = 0; i < full.size(); ++i)
        full[i] = uint8_t(i * 13);
    frames.push_back({0, 0, 20, 14, 2, -1, full});
    frames.push_back({3, 2, 6, 5, 3, 7, std::vector<uint8_t>(30, 7)});
    frames.back().idx[4] = 200;
    frames.push_back({10, 6, 8, 8, 1, 9, std::vector<uint8_t>(64, 40)});
    frames.push_back({1, 1, 4, 4, 0, -1, std::vector<uint8_t>(16, 99)});
    const QString gif = dir.path() + QStringLiteral("/a.gif");
    QFile gifFile(gif);
    ASSERT_TRUE(gifFile.open(QIODevice::WriteOnly));
    gifFile.write(plainGif(20, 14, frames));
    gifFile.close();

    struct Row {
        QString path;
        int frames, tolerance;
    };
    for (const Row &row : {Row{jpeg, 1, 2}, Row{png, 1, 1}, Row{gif, 4, 0}}) {
        const LMPathString file(row.path, false);
        const LMFileImgBaseInfoPtr info = loader->loadImgBaseInfoByCore(file, nullptr);
        ASSERT_TRUE(info) << row.path.toStdString();
        const LMImagePtr platform = LMPhotoLoader::loadImageByCore(file, info, QSizeF(0, 0), true, nullptr);
        const LMImagePtr codec = loader->loadImageByAMCM(file, info, QSizeF(0, 0), true, nullptr);
        ASSERT_TRUE(platform && codec) << row.path.toStdString();
        ASSERT_EQ(codec->frameDatas().size(), row.frames);
        ASSERT_EQ(platform->frameCount(), row.frames);
        // An animation holds its first frame whole; the others are composed when shown.
        ASSERT_EQ(platform->frameDatas().size(), 1);
        ASSERT_EQ(codec->width(), platform->width());
        ASSERT_EQ(codec->height(), platform->height());
        for (int f = 0; f < row.frames; ++f)
            for (int y = 0; y < int(codec->height()); ++y)
                for (int x = 0; x < int(codec->width()); ++x) {
                    const QColor a = pixel(codec, f, x, y), b = pixel(platform, f, x, y);
                    ASSERT_NEAR(a.red(), b.red(), row.tolerance) << row.path.toStdString() << " " << f << " " << x << "," << y;
                    ASSERT_NEAR(a.green(), b.green(), row.tolerance);
                    ASSERT_NEAR(a.blue(), b.blue(), row.tolerance);
                    ASSERT_NEAR(a.alpha(), b.alpha(), row.tolerance);
                }
    }
    // Nothing to read gives nothing.
    const LMPathString missing(dir.path() + QStringLiteral("/none.jpg"), false);
    const LMFileImgBaseInfoPtr jpegInfo = loader->loadImgBaseInfoByCore(LMPathString(jpeg, false), nullptr);
    EXPECT_FALSE(loader->loadImageByAMCM(missing, jpegInfo, QSizeF(0, 0), false, nullptr));
    EXPECT_FALSE(loader->loadImageByAMCM(missing, nullptr, QSizeF(0, 0), false, nullptr));
}

// A photo eight times the thumbnail's size or more has its thumbnail made from the library's own
// decode at an eighth: the same picture, in the same colours, as the image reader's scaled
// decode gives (a one-level bias in any channel fails), and kept for the next visit alike.
TEST(PhotoLoaderPlatform, ALargePhotosThumbnailLooksLikeTheImageReadersOwn)
{
    CachedLoader program;
    ASSERT_TRUE(program.isValid());
    LMPhotoLoader *loader = program.loader();
    const QString folder = program.folder();

    // Smooth colour fields with a sharp edge, as photographs have; odd sides, so the eighth rounds
    // up, and no reduced size near the thumbnail's, so the eighth is resampled to it. At the
    // second size the thumbnail is at most half the eighth, whose colour is then decoded at its
    // own (half) size.
    for (const QSize photoSize : {QSize(3001, 2001), QSize(6001, 4001)}) {
        SCOPED_TRACE(photoSize.width());
        QImage picture(photoSize, QImage::Format_RGBA8888_Premultiplied);
        const int w = photoSize.width() - 1, h = photoSize.height() - 1;
        for (int y = 0; y < picture.height(); ++y) {
            auto *row = reinterpret_cast<uchar *>(picture.scanLine(y));
            for (int x = 0; x < picture.width(); ++x) {
                row[x * 4] = uchar(x * 255 / w);
                row[x * 4 + 1] = uchar(y * 255 / h);
                row[x * 4 + 2] = x < w / 2 ? 40 : 210;
                row[x * 4 + 3] = 255;
            }
        }
        const QString path = folder + QStringLiteral("/photo%1.jpg").arg(photoSize.width());
        ASSERT_TRUE(kpv::ImageDestination::writeImage(picture, path, QStringLiteral("public.jpeg"), {}));
        const LMPathString file(path, false);
        const LMFileImgBaseInfoPtr info = loader->loadImgBaseInfo(file, nullptr);
        ASSERT_TRUE(info);

        int equivalent = -1;
        const LMImagePtr thumb = loader->loadImage(file, 9, info, nullptr, &equivalent);
        ASSERT_TRUE(thumb);
        const QSizeF size = loader->calcPreferredImageSizeForImageScaleType(9, info, nullptr);
        ASSERT_EQ(QSizeF(thumb->width(), thumb->height()), size);
        EXPECT_EQ(equivalent, 0);
        const LMImagePtr reference = LMPhotoLoader::loadImageByCore(file, info, size, false, nullptr);
        ASSERT_TRUE(reference);
        ASSERT_EQ(reference->width(), thumb->width());
        ASSERT_EQ(reference->height(), thumb->height());
        double sum[3] = {0, 0, 0};
        int count = 0;
        // Away from the edge, where two resamplings may place it a pixel apart.
        for (int y = 0; y < int(thumb->height()); ++y)
            for (int x = 0; x < int(thumb->width()); ++x) {
                if (std::abs(x - int(thumb->width()) / 2) < 4)
                    continue;
                const QColor a = pixel(thumb, 0, x, y), b = pixel(reference, 0, x, y);
                ASSERT_NEAR(a.red(), b.red(), 6) << x << "," << y;
                ASSERT_NEAR(a.green(), b.green(), 6) << x << "," << y;
                ASSERT_NEAR(a.blue(), b.blue(), 6) << x << "," << y;
                sum[0] += a.red() - b.red();
                sum[1] += a.green() - b.green();
                sum[2] += a.blue() - b.blue();
                ++count;
            }
        for (double s : sum)
            EXPECT_LT(std::abs(s / count), 0.75);
        EXPECT_TRUE(QFile::exists(kpv::Thumbnailer::cachePathFor(path, QStringLiteral("large"))));
    }
}

// A photo may be dated centuries away (a file system keeps times past 2262, the last year whose
// nanoseconds a 64-bit count holds): it shows its own date, and its thumbnail is kept for it.
TEST(PhotoLoaderPlatform, APhotoDatedCenturiesAheadShowsItsOwnDate)
{
    CachedLoader program;
    ASSERT_TRUE(program.isValid());
    const QString path = program.folder() + QStringLiteral("/future.jpg");
    ASSERT_TRUE(kpv::ImageDestination::writeImage(kpv::test::noisePicture(3000, 2000, 7), path,
                                                  QStringLiteral("public.jpeg"), {}));
    const struct timespec times[2] = {{0, UTIME_OMIT}, {10413835200, 0}}; // 1 January 2300, 12:00
    struct stat st {};
    if (::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0) != 0 ||
        ::stat(QFile::encodeName(path).constData(), &st) != 0 || st.st_mtim.tv_sec != times[1].tv_sec)
        GTEST_SKIP() << "this file system does not keep a time in 2300";
    const LMPathString file(path, false);
    const LMFileImgBaseInfoPtr info = program.loader()->loadImgBaseInfo(file, nullptr);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->fileModificationDate().toSecsSinceEpoch(), times[1].tv_sec);
    EXPECT_FALSE(info->fileModified());
    ASSERT_TRUE(program.loader()->loadImage(file, 9, info, nullptr, nullptr));
    EXPECT_TRUE(QFile::exists(kpv::Thumbnailer::cachePathFor(path, QStringLiteral("large"))));
}

// An animation keeps its frames' indexes and the screen it composes on for as long as it is
// shown: the budget counts both while the picture is held and nothing once it is dropped, and a
// second such animation waits for the memory instead of holding more than the budget beside it.
TEST(PhotoLoaderPlatform, AHeldAnimationKeepsItsShareOfTheDecodeBudget)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    kpv::Bundle bundle(QStringList{writeInfoJson(dir)});
    PublicObject object(bundle, QSizeF(1680, 1050));
    LMPhotoLoader *loader = object.photoLoader();

    constexpr int kWidth = 200, kHeight = 100, kFrames = 12;
    constexpr uint64_t kIndexes = uint64_t(kWidth) * kHeight * kFrames, kScreen = uint64_t(kWidth) * kHeight * 4;
    constexpr uint64_t kBudget = kIndexes * 10 / 6;  // the indexes take 60% of it
    kpv::DecodeBudget &budget = kpv::DecodeBudget::shared();
    struct Restore {
        kpv::DecodeBudget &budget;
        uint64_t former;
        ~Restore() { budget.setCapacity(former); }
    } restore{budget, budget.setCapacity(kBudget)};

    std::vector<LMPathString> files;
    for (int file = 0; file < 2; ++file) {
        std::vector<GifFrame> frames;
        for (int f = 0; f < kFrames; ++f)
            frames.push_back({0, 0, kWidth, kHeight, 1, -1, std::vector<uint8_t>(size_t(kWidth) * kHeight, uint8_t(f * 10 + file))});
        const QString path = dir.path() + QStringLiteral("/%1.gif").arg(file);
        QFile out(path);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(plainGif(kWidth, kHeight, frames));
        out.close();
        files.emplace_back(path, false);
    }
    const auto plays = [&](const LMImagePtr &image, int file) {
        ASSERT_TRUE(image);
        ASSERT_EQ(image->frameCount(), kFrames);
        for (int f : {0, 1, 7, kFrames - 1, 2}) {
            const int index = f * 10 + file;
            EXPECT_EQ(pixel(image, f, 150, 60), QColor(index, 255 - index, (index * 7) & 0xFF)) << "frame " << f;
        }
    };

    budget.resetPeak();
    LMImagePtr first = loader->loadImage(files[0], 11, nullptr, true, nullptr, nullptr);
    plays(first, 0);
    ASSERT_EQ(budget.inUse(), kIndexes + kScreen);
    first.reset();
    EXPECT_EQ(budget.inUse(), 0u);

    first = loader->loadImage(files[0], 11, nullptr, true, nullptr, nullptr);
    ASSERT_TRUE(first);
    ASSERT_EQ(budget.inUse(), kIndexes + kScreen);
    LMImagePtr second;
    std::thread load([&] { second = loader->loadImage(files[1], 11, nullptr, true, nullptr, nullptr); });
    while (budget.waiting() == 0)
        std::this_thread::yield();
    EXPECT_EQ(budget.inUse(), kIndexes + kScreen);
    first.reset();
    load.join();
    plays(second, 1);
    EXPECT_EQ(budget.inUse(), kIndexes + kScreen);
    second.reset();
    EXPECT_EQ(budget.inUse(), 0u);
    EXPECT_LE(budget.peak(), kBudget);
}
