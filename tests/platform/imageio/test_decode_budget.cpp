// Memory of decodes running at once, and hostile files that declare huge pictures in a few bytes.

#include "imageio/DecodeBudget.h"
#include "imageio/ImageSource.h"
#include "imageio_support.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

namespace {

using kpv::DecodeBudget;

TEST(DecodeBudget, DecodesTogetherNeverHoldMoreThanTheBudget)
{
    DecodeBudget budget(100);
    std::atomic<int> done{0};
    std::vector<std::thread> workers;
    for (int i = 0; i < 8; ++i) {
        workers.emplace_back([&] {
            for (int round = 0; round < 50; ++round) {
                QString error;
                DecodeBudget::Reservation r = budget.reserve(40, &error);
                ASSERT_TRUE(r.isValid()) << error.toStdString();
                EXPECT_LE(budget.inUse(), 100u);
            }
            ++done;
        });
    }
    for (auto& w : workers)
        w.join();
    EXPECT_EQ(done, 8);
    EXPECT_LE(budget.peak(), 100u);
    EXPECT_GE(budget.peak(), 40u);
    EXPECT_EQ(budget.inUse(), 0u);
}

TEST(DecodeBudget, TooLargeFailsAtOnceCancelledGivesUpNestedNeverWaits)
{
    DecodeBudget budget(100);
    QString error;
    EXPECT_FALSE(budget.reserve(101, &error).isValid());
    EXPECT_TRUE(error.contains("more than")) << error.toStdString();

    DecodeBudget::Reservation held = budget.reserve(90);
    ASSERT_TRUE(held.isValid());
    // The same thread (a preview inside a raw decode) is not made to wait for itself.
    DecodeBudget::Reservation nested = budget.reserve(50);
    EXPECT_TRUE(nested.isValid());
    nested.release();

    std::thread other([&] {
        // A thread whose earlier decode is over waits like any other.
        EXPECT_TRUE(budget.reserve(5).isValid());
        QString why;
        EXPECT_FALSE(budget.reserve(50, &why, [] { return true; }).isValid());
        EXPECT_EQ(why, "cancelled");
    });
    other.join();
    held.release();
    EXPECT_EQ(budget.inUse(), 0u);
}

// The next buffer of a decode waits while another decode holds the memory, so two decodes of
// several buffers together stay within the budget; when both wait on each other, one goes on.
TEST(DecodeBudget, NestedReservationsWaitForOtherDecodesButNeverForEver)
{
    DecodeBudget budget(100);
    DecodeBudget::Reservation other = budget.reserve(70);
    std::thread decode([&] {
        DecodeBudget::Reservation first = budget.reserve(20);
        DecodeBudget::Reservation second = budget.reserve(20);  // waits for `other`
        EXPECT_TRUE(first.isValid() && second.isValid());
        EXPECT_LE(budget.inUse(), 100u);
    });
    while (budget.waiting() == 0)
        std::this_thread::yield();
    EXPECT_EQ(budget.inUse(), 90u);
    other.release();
    decode.join();
    EXPECT_EQ(budget.peak(), 90u);

    std::atomic<int> holding{0};
    std::vector<std::thread> decodes;
    for (const uint64_t first : {50u, 40u}) {
        decodes.emplace_back([&, first] {
            DecodeBudget::Reservation held = budget.reserve(first);
            ++holding;
            while (holding < 2)
                std::this_thread::yield();
            EXPECT_TRUE(budget.reserve(30).isValid());
        });
    }
    for (auto& d : decodes)
        d.join();
    EXPECT_EQ(budget.inUse(), 0u);
}

TEST(DecodeBudget, OneDecodeOfAFileAtATime)
{
    DecodeBudget budget(100);
    std::atomic<int> inside{0};
    std::atomic<int> most{0};
    std::vector<std::thread> workers;
    for (int i = 0; i < 6; ++i) {
        workers.emplace_back([&] {
            for (int round = 0; round < 30; ++round) {
                bool got = false;
                DecodeBudget::FileTurn turn = budget.takeTurn(QStringLiteral("/photos/a.jpg"), {}, &got);
                ASSERT_TRUE(got);
                // The same thread asking again (a nested load) gets through.
                bool again = false;
                DecodeBudget::FileTurn nested = budget.takeTurn(QStringLiteral("/photos/a.jpg"), {}, &again);
                EXPECT_TRUE(again);
                const int now = ++inside;
                int seen = most.load();
                while (now > seen && !most.compare_exchange_weak(seen, now)) {
                }
                --inside;
            }
        });
    }
    for (auto& w : workers)
        w.join();
    EXPECT_EQ(most, 1);
}

// ---- Tiny files that declare huge pictures ----

QByteArray pngHeaderOnly(quint32 width, quint32 height)
{
    // A real file's first chunk with a declared size patched in: its data then ends early.
    QByteArray png = kpv::test::referencePng(kpv::test::pattern(4, 4, true), true, false);
    for (int i = 0; i < 4; ++i) {
        png[16 + i] = char(width >> (24 - 8 * i));
        png[20 + i] = char(height >> (24 - 8 * i));
    }
    const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(png.constData() + 12), 17);
    for (int i = 0; i < 4; ++i)
        png[29 + i] = char(crc >> (24 - 8 * i));
    return png;
}

TEST(HostileSizes, FewBytesDeclaringAHugePictureAreRefusedBeforeAllocating)
{
    QString error;
    auto png = kpv::ImageSource::createWithData(pngHeaderOnly(16384, 16384), &error);
    ASSERT_TRUE(png) << error.toStdString();
    EXPECT_TRUE(png->createImageAtIndex(0, &error).isNull());
    EXPECT_TRUE(error.contains("too short")) << error.toStdString();

    QByteArray jpeg = kpv::test::referenceJpeg(kpv::test::pattern(16, 16, false), 90, false, 2);
    const qsizetype sof = jpeg.indexOf("\xFF\xC0");
    ASSERT_GT(sof, 0);
    // 65000 x 4000: within the pixel limit, far beyond what a kilobyte holds.
    jpeg[sof + 5] = char(4000 >> 8);
    jpeg[sof + 6] = char(4000 & 0xff);
    jpeg[sof + 7] = char(65000 >> 8);
    jpeg[sof + 8] = char(65000 & 0xff);
    auto big = kpv::ImageSource::createWithData(jpeg, &error);
    ASSERT_TRUE(big) << error.toStdString();
    EXPECT_TRUE(big->createImageAtIndex(0, &error).isNull());
    EXPECT_TRUE(error.contains("too short")) << error.toStdString();

    // A GIF of 43 bytes whose logical screen is 4098 x 63489 around a frame of 2 x 2: the screen
    // alone would be a gigabyte.
    const unsigned char gif[] = {0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 0x02, 0x10, 0x01, 0xf8, 0x80, 0x00, 0x00, 0x00, 0x00,
                                 0x00, 0xff, 0xff, 0xfe, 0x21, 0xf9, 0x04, 0x01, 0x0a, 0x00, 0x01, 0x00, 0x2c, 0x00, 0x00,
                                 0x00, 0x00, 0x02, 0x00, 0x02, 0x00, 0x00, 0x02, 0x02, 0x84, 0x51, 0x00, 0x3b};
    auto wide = kpv::ImageSource::createWithData(QByteArray(reinterpret_cast<const char*>(gif), sizeof gif), &error);
    ASSERT_TRUE(wide) << error.toStdString();
    EXPECT_TRUE(wide->createImageAtIndex(0, &error).isNull());
    EXPECT_TRUE(error.contains("too short")) << error.toStdString();

    // An honest file of the same kind still decodes.
    auto honest = kpv::ImageSource::createWithData(kpv::test::referencePng(kpv::test::pattern(300, 200, false), false, false));
    ASSERT_TRUE(honest);
    EXPECT_EQ(honest->createImageAtIndex(0).size(), QSize(300, 200));
}

} // namespace

namespace {

// The bytes deflated at the best ratio, as image data is stored; empty when that fails.
QByteArray deflated(const QByteArray& raw)
{
    QByteArray packed(int(compressBound(uLong(raw.size()))), '\0');
    uLongf packedSize = uLongf(packed.size());
    if (compress2(reinterpret_cast<Bytef*>(packed.data()), &packedSize, reinterpret_cast<const Bytef*>(raw.constData()),
                  uLong(raw.size()), 9) != Z_OK)
        return {};
    packed.truncate(int(packedSize));
    return packed;
}

// A blank grey picture of a quarter of a gigapixel in one row of one bit a pixel: a file of
// 32 KB whose fitted decode would hold two RGBA rows of a gigabyte each beside the budget. The
// budget is asked for them first, and refuses.
TEST(HostileSizes, APictureOfOneVastRowAsksTheBudgetForItsRows)
{
    const quint32 width = 1u << 28;
    const QByteArray raw(int(width / 8 + 1), '\0');
    const QByteArray packed = deflated(raw);
    ASSERT_FALSE(packed.isEmpty());
    QByteArray png = pngHeaderOnly(width, 1);
    png[24] = 1;  // one bit
    png[25] = 0;  // of grey
    png[28] = 0;  // not interlaced
    const uLong headerCrc = crc32(0, reinterpret_cast<const Bytef*>(png.constData() + 12), 17);
    for (int i = 0; i < 4; ++i)
        png[29 + i] = char(headerCrc >> (24 - 8 * i));
    png.truncate(33);
    QByteArray idat;
    for (int i = 0; i < 4; ++i)
        idat += char(quint32(packed.size()) >> (24 - 8 * i));
    idat += "IDAT" + packed;
    const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(idat.constData() + 4), uInt(idat.size() - 4));
    for (int i = 0; i < 4; ++i)
        idat += char(crc >> (24 - 8 * i));
    png += idat + QByteArray("\0\0\0\0IEND\xAE\x42\x60\x82", 12);
    ASSERT_LT(png.size(), 40000);

    QString error;
    auto source = kpv::ImageSource::createWithData(png, &error);
    ASSERT_TRUE(source) << error.toStdString();
    EXPECT_TRUE(source->createThumbnailAtIndex(0, 256, true, &error).isNull());
    EXPECT_TRUE(error.contains("all decodes may use")) << error.toStdString();
}

// A PNG chunk of `type` around `body`, with its length and CRC.
QByteArray pngChunk(const char* type, const QByteArray& body)
{
    QByteArray chunk;
    for (int i = 0; i < 4; ++i)
        chunk += char(quint32(body.size()) >> (24 - 8 * i));
    chunk += QByteArray(type, 4) + body;
    const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(chunk.constData() + 4), uInt(chunk.size() - 4));
    for (int i = 0; i < 4; ++i)
        chunk += char(crc >> (24 - 8 * i));
    return chunk;
}

// A photo of one colour, 4000 x 3000 pixels of 16-bit RGB, packs into some 110 KB: cut to a tenth
// of its length, its bytes are far too few for the whole picture even at deflate's best, yet the
// rows that arrived are a tenth of the picture. They are shown, as any cut PNG's are, fitted and
// at full size; the rows that did not arrive stay clear.
TEST(HostileSizes, AFlatPictureCutShortShowsTheRowsThatArrived)
{
    const int width = 4000, height = 3000;
    const size_t rowBytes = size_t(width) * 6 + 1;
    QByteArray raw(int(rowBytes * height), '\0');
    for (int y = 0; y < height; ++y) {
        char* row = raw.data() + rowBytes * size_t(y);
        for (int x = 0; x < width; ++x)
            std::memcpy(row + 1 + x * 6, "\x80\x00\x40\x00\xC0\x00", 6);
    }
    const QByteArray packed = deflated(raw);
    ASSERT_FALSE(packed.isEmpty());
    raw.clear();
    QByteArray png("\x89PNG\r\n\x1A\n", 8);
    png += pngChunk("IHDR", QByteArray("\x00\x00\x0F\xA0\x00\x00\x0B\xB8\x10\x02\x00\x00\x00", 13));
    // In chunks of 8 KB, as writers store them.
    for (qsizetype at = 0; at < packed.size(); at += 8192)
        png += pngChunk("IDAT", packed.mid(at, 8192));
    png += pngChunk("IEND", {});
    ASSERT_LT(png.size(), 200000);
    png.truncate(png.size() / 10);

    QString error;
    auto source = kpv::ImageSource::createWithData(png, &error);
    ASSERT_TRUE(source) << error.toStdString();
    const QImage fitted = source->createThumbnailAtIndex(0, 1000, true, &error);
    ASSERT_FALSE(fitted.isNull()) << error.toStdString();
    EXPECT_EQ(fitted.size(), QSize(1000, 750));
    const QImage whole = source->createImageAtIndex(0, &error);
    ASSERT_EQ(whole.size(), QSize(width, height)) << error.toStdString();
    const QColor top = whole.pixelColor(width / 2, 10), bottom = whole.pixelColor(width / 2, height - 10);
    EXPECT_NEAR(top.red(), 128, 1);
    EXPECT_NEAR(top.green(), 64, 1);
    EXPECT_NEAR(top.blue(), 192, 1);
    EXPECT_EQ(top.alpha(), 255);
    EXPECT_EQ(bottom.alpha(), 0);
}

TEST(HostileSizes, AnAncillaryChunkOverTheLimitFailsTheRead)
{
    QByteArray png = kpv::test::referencePng(kpv::test::pattern(8, 8, false), false, false);
    // A 9 MB text chunk after the header: more than a reader keeps in memory for one chunk.
    const quint32 length = 9u << 20;
    QByteArray chunk;
    for (int i = 0; i < 4; ++i)
        chunk += char(length >> (24 - 8 * i));
    chunk += "tEXt";
    chunk += QByteArray("Comment\0", 8) + QByteArray(int(length) - 8, 'x');
    const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(chunk.constData() + 4), uInt(chunk.size() - 4));
    for (int i = 0; i < 4; ++i)
        chunk += char(crc >> (24 - 8 * i));
    png.insert(33, chunk);
    QString error;
    auto source = kpv::ImageSource::createWithData(png, &error);
    if (source)
        EXPECT_TRUE(source->createImageAtIndex(0, &error).isNull());
    EXPECT_TRUE(error.contains("too large")) << error.toStdString();
}

} // namespace
