// The quick picture made while the program starts: handed once, to the loads of the file it was
// made of and only while that file is as it was read; a load that asks early waits for it.

#include "View/NavImageLoader.h"
#include "View/NavLaunchPicture.h"

#include "Model/LMNavFileInfo.h"
#include "Model/LMPhotoLoader.h"
#include "imageio/ImageDestination.h"

#include "foundation/FileNames.h"

#include <gtest/gtest.h>

#include <cstdio>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <atomic>
#include <new>
#include <thread>

namespace {

class LaunchPicture : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        path = QDir(dir.path()).canonicalPath() + QStringLiteral("/photo.jpg");
        ASSERT_NO_FATAL_FAILURE(write("first version"));
    }
    void write(const QByteArray &bytes)
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    // The file as the viewer describes it when its load starts.
    LMFileImgBaseInfo describe(const QString &file) const
    {
        return LMFileImgBaseInfo(LMPathString(file, false), QStringLiteral("public.jpeg"), 0, QDateTime(),
                                 QSizeF(40, 30), 1, QVariantMap(), kpv::fileIdentity(file));
    }
    static QImage picture(QRgb colour)
    {
        QImage image(40, 30, QImage::Format_ARGB32_Premultiplied);
        image.fill(colour);
        return image;
    }

    QTemporaryDir dir;
    QString path;
};

TEST_F(LaunchPicture, IsHandedOnceToTheLoadsOfItsFile)
{
    NavLaunchPicture launch(path, [](const QString &) { return picture(qRgb(200, 10, 10)); });
    EXPECT_EQ(NavLaunchPicture::current(), &launch);
    const QString other = QDir(dir.path()).canonicalPath() + QStringLiteral("/other.jpg");
    QFile(other).open(QIODevice::WriteOnly);
    EXPECT_TRUE(launch.take(describe(other)).isNull());
    const QImage first = launch.take(describe(path));
    ASSERT_FALSE(first.isNull());
    EXPECT_EQ(first.pixel(5, 5), qRgb(200, 10, 10));
    EXPECT_TRUE(launch.take(describe(path)).isNull());
}

TEST_F(LaunchPicture, AFileNamedAnotherWayIsTheSameFile)
{
    const QString link = dir.path() + QStringLiteral("/link.jpg");
    ASSERT_TRUE(QFile::link(path, link));
    NavLaunchPicture launch(link, [](const QString &) { return picture(qRgb(1, 2, 3)); });
    EXPECT_FALSE(launch.take(describe(path)).isNull());
}

TEST_F(LaunchPicture, AFileWhoseNameIsNotUtf8GetsItsPicture)
{
    const QByteArray bytes = QFile::encodeName(QDir(dir.path()).canonicalPath()) + "/caf\xe9.jpg";
    ASSERT_EQ(::rename(QFile::encodeName(path).constData(), bytes.constData()), 0);
    const QString raw = kpv::decodeFileName(bytes);
    NavLaunchPicture launch(raw, [](const QString &) { return picture(qRgb(1, 2, 3)); });
    EXPECT_FALSE(launch.take(describe(raw)).isNull());
}

TEST_F(LaunchPicture, AFileChangedSinceItWasReadGetsNoPicture)
{
    std::atomic<bool> read{false};
    NavLaunchPicture launch(path, [&](const QString &) {
        read = true;
        return picture(qRgb(1, 2, 3));
    });
    while (!read)
        std::this_thread::yield();
    ASSERT_NO_FATAL_FAILURE(write("a longer second version"));
    EXPECT_TRUE(launch.take(describe(path)).isNull());
}

TEST_F(LaunchPicture, AnEarlyLoadWaitsForThePicture)
{
    std::atomic<bool> release{false}, taken{false};
    NavLaunchPicture launch(path, [&](const QString &) {
        while (!release)
            std::this_thread::yield();
        return picture(qRgb(9, 9, 9));
    });
    QImage image;
    std::thread load([&] {
        image = launch.take(describe(path));
        taken = true;
    });
    // Whenever the load asked, it cannot have its answer before the picture is made.
    EXPECT_FALSE(taken);
    release = true;
    load.join();
    EXPECT_FALSE(image.isNull());
}

TEST_F(LaunchPicture, NothingIsMadeForAFolderOrAMissingFileAndNothingOutlivesIt)
{
    int made = 0;
    {
        NavLaunchPicture folder(dir.path(), [&](const QString &) { return ++made, picture(0); });
        NavLaunchPicture missing(dir.path() + QStringLiteral("/gone.jpg"), [&](const QString &) { return ++made, picture(0); });
        NavLaunchPicture none(QString(), [&](const QString &) { return ++made, picture(0); });
        EXPECT_EQ(NavLaunchPicture::current(), nullptr);
        EXPECT_TRUE(missing.take(describe(path)).isNull());
    }
    EXPECT_EQ(made, 0);
    {
        NavLaunchPicture launch(path, [](const QString &) { return picture(0); });
    }
    EXPECT_EQ(NavLaunchPicture::current(), nullptr);
}

// A picture that cannot be made, even by a maker that throws (out of memory in a decode), neither
// ends the program nor leaves a load waiting: the load gets no picture and decodes the file itself.
TEST_F(LaunchPicture, AMakerThatThrowsGivesNoPictureAndLeavesNoLoadWaiting)
{
    NavLaunchPicture outOfMemory(path, [](const QString &) -> QImage { throw std::bad_alloc(); });
    EXPECT_TRUE(outOfMemory.take(describe(path)).isNull());
    NavLaunchPicture anything(path, [](const QString &) -> QImage { throw 7; });
    EXPECT_TRUE(anything.take(describe(path)).isNull());
    NavLaunchPicture nothing(path, [](const QString &) { return QImage(); });
    EXPECT_TRUE(nothing.take(describe(path)).isNull());
}

// A copy of the program that hands its files to the running viewer abandons its picture: neither
// that nor the destructor waits for the decode, which later finishes on its own without touching
// the object gone; a load asking afterwards gets nothing at once.
TEST_F(LaunchPicture, AnAbandonedPictureIsNotWaitedFor)
{
    auto release = std::make_shared<std::atomic<bool>>(false);
    auto finished = std::make_shared<std::atomic<bool>>(false);
    {
        NavLaunchPicture launch(path, [release, finished](const QString &) {
            while (!*release)
                std::this_thread::yield();
            *finished = true;
            return picture(qRgb(9, 9, 9));
        });
        launch.abandon();
        EXPECT_EQ(NavLaunchPicture::current(), nullptr);
        EXPECT_TRUE(launch.take(describe(path)).isNull());
    }
    EXPECT_FALSE(*finished); // the decode was still blocked when the object went
    *release = true;
    while (!*finished)
        std::this_thread::yield();
}

// The photo loader's small thumbnail of that file comes from it, with the file's description.
TEST_F(LaunchPicture, TheLoaderServesTheSmallThumbnailFromIt)
{
    NavLaunchPicture launch(path, [](const QString &) { return picture(qRgb(50, 100, 150)); });
    NavPhotoLoaderAdapter loader(nullptr);
    auto base = std::make_shared<const LMFileImgBaseInfo>(describe(path));
    int equivalent = -1;
    const LMImagePtr image = loader.loadImage(LMPathString(path, false), LMNavFileInfo::kSmallThumbType, base, nullptr,
                                              &equivalent, {});
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width(), 40u);
    EXPECT_EQ(image->originalImgBaseInfo(), base);
    EXPECT_EQ(equivalent, 0);
    // Other scale types are the loader's own (none here), and the picture is handed once.
    EXPECT_FALSE(loader.loadImage(LMPathString(path, false), LMNavFileInfo::kMaxScaleType, base, nullptr, nullptr, {}));
    EXPECT_FALSE(loader.loadImage(LMPathString(path, false), LMNavFileInfo::kSmallThumbType, base, nullptr, nullptr, {}));
}

// The viewer's small-thumbnail load asks for a picture that costs no decode first: the launch
// picture is one, handed once, so the file is not decoded again for it.
TEST_F(LaunchPicture, TheLoaderServesItAsAPictureThatCostsNoDecode)
{
    NavLaunchPicture launch(path, [](const QString &) { return picture(qRgb(50, 100, 150)); });
    NavPhotoLoaderAdapter loader(nullptr);
    auto base = std::make_shared<const LMFileImgBaseInfo>(describe(path));
    const LMImagePtr image = loader.loadStoredSmallThumb(LMPathString(path, false), base, nullptr, false);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width(), 40u);
    EXPECT_EQ(image->originalImgBaseInfo(), base);
    EXPECT_FALSE(loader.loadStoredSmallThumb(LMPathString(path, false), base, nullptr, false));
    EXPECT_FALSE(loader.loadImage(LMPathString(path, false), LMNavFileInfo::kSmallThumbType, base, nullptr, nullptr, {}));
}

} // namespace

namespace {

// The sharp picture made while the program starts is the fit-in image the loader would decode for
// the screen, and the view's first fit-in load of that file takes it instead of decoding; once.
TEST_F(LaunchPicture, TheSharpPictureIsTheFitInTheViewAsksForFirst)
{
    QImage photo(1200, 800, QImage::Format_RGBA8888_Premultiplied);
    photo.fill(QColor(30, 160, 90));
    const QString jpeg = QDir(dir.path()).canonicalPath() + QStringLiteral("/photo-big.jpg");
    ASSERT_TRUE(kpv::ImageDestination::writeImage(photo, jpeg, QStringLiteral("public.jpeg"), {}));
    const QSizeF screen(800, 500);
    LMPhotoLoader core(screen);
    const LMFileImgBaseInfoPtr base = core.loadImgBaseInfo(LMPathString(jpeg, false), nullptr);
    ASSERT_TRUE(base);
    int decodedEquivalent = -1;
    const LMImagePtr decoded = core.loadImage(LMPathString(jpeg, false), 11, base, nullptr,
                                              &decodedEquivalent);
    ASSERT_TRUE(decoded);
    // Not a JPEG: no sharp picture is made at start.
    EXPECT_TRUE(NavPhotoLoaderAdapter::decodeLaunchFitin(path, screen).isNull());

    std::atomic<int> made{0};
    NavLaunchPicture launch(
        jpeg, [&](const QString &file) { ++made; return NavPhotoLoaderAdapter::decodeLaunchFitin(file, screen); },
        NavLaunchPicture::SharpPicture);
    NavPhotoLoaderAdapter loader(&core);
    int equivalent = -1;
    const LMImagePtr sharp = loader.loadImage(LMPathString(jpeg, false), 11, base, nullptr,
                                              &equivalent, {});
    ASSERT_TRUE(sharp);
    EXPECT_EQ(made.load(), 1);
    EXPECT_EQ(sharp->width(), decoded->width());
    EXPECT_EQ(sharp->height(), decoded->height());
    EXPECT_EQ(equivalent, decodedEquivalent);
    EXPECT_EQ(sharp->originalImgBaseInfo(), base);
    // It is not the quick picture, and it is handed once: the next load decodes.
    EXPECT_FALSE(NavLaunchPicture::current(NavLaunchPicture::QuickPicture));
    EXPECT_TRUE(loader.loadImage(LMPathString(jpeg, false), 11, base, nullptr, nullptr, {}));
}

} // namespace
