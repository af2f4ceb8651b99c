// The texture-file callback: pixels of generated images, the empty-record contract on failure,
// hostile sizes in file headers, and truncated files.
#include "Slideshow/SlideshowBitmapConverter.h"
#include "Slideshow/SlideshowFileInfo.h"
#include "Slideshow/SlideshowViewController.h"

#include "MdColorID.h"
#include "imageio/DecodeBudget.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <memory>
#include <sys/stat.h>
#include <thread>

namespace {

// The record the way the engine hands it over and frees it.
struct EngineRecord {
    MBITMAP* bitmap = new MBITMAP{};
    ~EngineRecord()
    {
        delete[] bitmap->pPlane[0];
        delete bitmap;
    }
    bool untouched() const
    {
        MBITMAP zero{};
        return std::memcmp(bitmap, &zero, sizeof zero) == 0;
    }
};

QImage gradient(int w, int h, bool alpha)
{
    QImage img(w, h, QImage::Format_ARGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.setPixel(x, y, qRgba((x * 37) & 255, (y * 53) & 255, (x + y) * 11 & 255, alpha ? (x * 29 + y) & 255 : 255));
    return img;
}

std::string writeTemp(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes)
{
    const QString path = dir.path() + "/" + name;
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(bytes);
    return path.toStdString();
}

QByteArray encode(const QImage& img, const char* format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    img.save(&buffer, format);
    return bytes;
}

TEST(BitmapConverter, GeneratedImagesArriveAsStraightRgbaRows)
{
    QTemporaryDir dir;
    for (bool alpha : {false, true}) {
        for (auto [w, h] : {std::pair{1, 1}, std::pair{7, 3}, std::pair{64, 33}}) {
            const QImage src = gradient(w, h, alpha);
            const std::string path = writeTemp(dir, "g.png", encode(src, "PNG"));
            EngineRecord rec;
            MBITMAP* handle = rec.bitmap;
            ASSERT_NE(BitmapConverter(path, &handle), 0);
            EXPECT_EQ(handle, rec.bitmap); // the engine's record is filled, not replaced
            ASSERT_EQ(rec.bitmap->lWidth, w);
            ASSERT_EQ(rec.bitmap->lHeight, h);
            EXPECT_EQ(rec.bitmap->dwPixelArrayFormat, MCOLOR_ABGR8888);
            EXPECT_EQ(rec.bitmap->lPitch[0], w * 4);
            // The file's own straight colours, as closely as a decode that keeps 8 bits of each
            // colour times its alpha allows: the error weighed by the alpha stays within a level.
            double worst = 0;
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    const QRgb s = src.pixel(x, y);
                    const MByte* d = rec.bitmap->pPlane[0] + (y * w + x) * 4;
                    const double a = qAlpha(s) / 255.0;
                    const int ref[3] = {qRed(s), qGreen(s), qBlue(s)};
                    for (int c = 0; c < 3; ++c)
                        worst = std::max(worst, std::abs(int(d[c]) - ref[c]) * a);
                    worst = std::max(worst, double(std::abs(int(d[3]) - qAlpha(s))));
                }
            EXPECT_LE(worst, 1.0) << w << "x" << h << " alpha " << alpha;
        }
    }
}

// A 3D theme's photos are readied for the engine off the main thread: the texture is the one
// the photo gives as it came, opaque or not, whatever format the decoder or the viewer kept it in.
TEST(BitmapConverter, APhotoReadiedAheadGivesTheSameTexture)
{
    for (bool alpha : {false, true})
        for (QImage::Format format : {QImage::Format_RGB32, QImage::Format_ARGB32, QImage::Format_ARGB32_Premultiplied,
                                      QImage::Format_RGB888}) {
            const QImage photo = gradient(19, 7, alpha).convertToFormat(format);
            EngineRecord asItCame, readied;
            ASSERT_NE(fillMBitmapFromImage(photo, asItCame.bitmap), 0);
            ASSERT_NE(fillMBitmapFromImage(textureReadyImage(photo), readied.bitmap), 0);
            EXPECT_EQ(std::memcmp(asItCame.bitmap->pPlane[0], readied.bitmap->pPlane[0], 19 * 7 * 4), 0)
                << "format " << format << " alpha " << alpha;
        }
}

TEST(BitmapConverter, FailuresLeaveTheRecordAsItWas)
{
    QTemporaryDir dir;
    EngineRecord missing;
    MBITMAP* handle = missing.bitmap;
    EXPECT_EQ(BitmapConverter(dir.path().toStdString() + "/nope-no-such-image-anywhere.png", &handle), 0);
    EXPECT_TRUE(missing.untouched());

    EngineRecord garbage;
    handle = garbage.bitmap;
    EXPECT_EQ(BitmapConverter(writeTemp(dir, "bad.png", "this is no image"), &handle), 0);
    EXPECT_TRUE(garbage.untouched());

    // A pipe named like a photo (nobody ever writes into it): refused at once, never waited on.
    const QString fifo = dir.filePath("pipe.jpg");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    EXPECT_TRUE(loadSlideshowImageChecked(fifo).isNull());
    EXPECT_EQ(BitmapConverter(fifo.toStdString(), &handle), 0);
    EXPECT_TRUE(garbage.untouched());

    EXPECT_EQ(BitmapConverter("x", nullptr), 0);
    MBITMAP* null = nullptr;
    EXPECT_EQ(BitmapConverter("x", &null), 0);
    EXPECT_EQ(fillMBitmapFromImage(QImage(), garbage.bitmap), 0);
    EXPECT_TRUE(garbage.untouched());
}

TEST(BitmapConverter, SizesBeyondTheCapAreRefusedBeforeAllocating)
{
    std::size_t bytes = 0;
    EXPECT_TRUE(slideshowRgbaByteCount(3, 2, &bytes));
    EXPECT_EQ(bytes, 24u);
    EXPECT_TRUE(slideshowRgbaByteCount(1 << 14, 1 << 14, &bytes));
    EXPECT_EQ(bytes, std::size_t(1) << 30);
    for (auto [w, h] : {std::pair<std::int64_t, std::int64_t>{0, 5}, {5, 0}, {-1, 5}, {5, -1}, {(1 << 14) + 1, 1 << 14},
                        {std::int64_t(1) << 31, std::int64_t(1) << 31}, {INT64_MAX, INT64_MAX}, {INT64_MAX, 1}})
        EXPECT_FALSE(slideshowRgbaByteCount(w, h, &bytes)) << w << "x" << h;

    // A BMP header that claims 100000 x 100000 pixels with no pixels behind it.
    QByteArray bmp(54, '\0');
    auto put32 = [&](int at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            bmp[at + i] = char(v >> (8 * i));
    };
    bmp[0] = 'B';
    bmp[1] = 'M';
    put32(2, 54);
    put32(10, 54);
    put32(14, 40);
    put32(18, 100000);
    put32(22, 100000);
    bmp[26] = 1;
    bmp[28] = 32;
    QTemporaryDir dir;
    EngineRecord rec;
    MBITMAP* handle = rec.bitmap;
    EXPECT_EQ(BitmapConverter(writeTemp(dir, "huge.bmp", bmp), &handle), 0);
    EXPECT_TRUE(rec.untouched());
}

TEST(BitmapConverter, EveryPrefixOfATruncatedFileFailsCleanlyOrGivesAFullRecord)
{
    QTemporaryDir dir;
    for (const char* format : {"PNG", "BMP", "JPEG"}) {
        const QByteArray bytes = encode(gradient(9, 5, false), format);
        ASSERT_FALSE(bytes.isEmpty()) << format;
        for (qsizetype n = 0; n < bytes.size(); ++n) {
            EngineRecord rec;
            MBITMAP* handle = rec.bitmap;
            if (BitmapConverter(writeTemp(dir, "t", bytes.left(n)), &handle)) {
                EXPECT_EQ(rec.bitmap->lWidth, 9);
                EXPECT_EQ(rec.bitmap->lHeight, 5);
                EXPECT_NE(rec.bitmap->pPlane[0], nullptr);
            } else {
                EXPECT_TRUE(rec.untouched()) << format << " prefix " << n;
            }
        }
    }
}

} // namespace

// A photo taken with the camera turned: stored 60 x 40 with the EXIF orientation 6 (turn a
// quarter clockwise to view). Slides arrive upright, 40 x 60, with the stored top row on the right.
TEST(SlideLoader, PhotosArriveTurnedByTheirExifOrientation)
{
    QImage stored(60, 40, QImage::Format_RGB32);
    stored.fill(Qt::blue);
    for (int x = 0; x < 60; ++x)
        for (int y = 0; y < 8; ++y)
            stored.setPixel(x, y, qRgb(255, 255, 0)); // a yellow band along the stored top
    QByteArray jpeg;
    {
        QBuffer buffer(&jpeg);
        buffer.open(QIODevice::WriteOnly);
        ASSERT_TRUE(stored.save(&buffer, "JPG", 95));
    }
    // APP1 "Exif" with a little-endian TIFF header and one entry: Orientation (0x0112) = 6.
    const unsigned char tiff[] = {'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 0x12, 0x01, 3, 0, 1, 0, 0, 0, 6, 0, 0, 0, 0, 0, 0, 0};
    QByteArray app1("Exif\0\0", 6);
    app1.append(reinterpret_cast<const char*>(tiff), sizeof tiff);
    QByteArray segment("\xFF\xE1", 2);
    segment.append(char((app1.size() + 2) >> 8)).append(char((app1.size() + 2) & 0xFF)).append(app1);
    jpeg.insert(2, segment);
    QTemporaryDir dir;
    const QString path = dir.filePath("turned.jpg");
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(jpeg);
    f.close();

    SlideshowFileInfo slide(LMPathString(path, false));
    const QImage upright = SlideshowViewController::defaultSlideLoader(slide, QSize(800, 600));
    ASSERT_EQ(upright.size(), QSize(40, 60));
    const QRgb right = upright.pixel(36, 30), left = upright.pixel(3, 30);
    EXPECT_GT(qRed(right), 200);
    EXPECT_LT(qRed(left), 60);
    // A box smaller than the photo fits the turned photo into it.
    EXPECT_EQ(SlideshowViewController::defaultSlideLoader(slide, QSize(20, 20)).size(), QSize(13, 20));
}

// A slide decodes within the process's decode budget like every other decode: while the whole
// budget is held elsewhere it waits for it.
TEST(SlideLoader, ASlideWaitsForTheDecodeBudget)
{
    QTemporaryDir dir;
    const QString path = QString::fromStdString(writeTemp(dir, "slide.png", encode(gradient(64, 48, false), "PNG")));
    kpv::DecodeBudget& budget = kpv::DecodeBudget::shared();
    std::atomic<bool> givenBack{false};
    std::promise<void> held;
    std::thread other([&] {
        kpv::DecodeBudget::Reservation all = budget.reserve(budget.capacity());
        held.set_value();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        givenBack = true;
    });
    held.get_future().wait();
    const QImage slide = loadSlideshowImageChecked(path, QSize(32, 32));
    const bool waited = givenBack;
    other.join();
    EXPECT_EQ(slide.size(), QSize(32, 24));
    EXPECT_TRUE(waited);
}
