// Writing a picture over the user's file: what the file held survives, and every failure (changed
// under us, full disk, read-only folder or file) leaves the original byte for byte as it was.

#include "../../support/FaultInjection.h"
#include "../../support/ReferencePng.h"
#include "imageio_support.h"

#include "imageio/ContentTypes.h"
#include "imageio/ImageDestination.h"
#include "imageio/ImageProperties.h"
#include "imageio/ImageSource.h"

#include <QBuffer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <exiv2/exiv2.hpp>
#include <gtest/gtest.h>

#include <algorithm>
#include <tiffio.h>

#include <sys/stat.h>

namespace {

using kpv::ImageDestination;
using kpv::ImageWriteOptions;
using namespace kpv::test;

std::unique_ptr<Exiv2::Image> openMetadata(const QString& path)
{
    auto image = Exiv2::ImageFactory::open(QFile::encodeName(path).toStdString());
    image->readMetadata();
    return std::unique_ptr<Exiv2::Image>(image.release());
}

QByteArray fakeIccProfile()
{
    // A minimal profile header: size, "acsp" signature at 36; exiv2 keeps it as bytes.
    QByteArray icc(132, '\0');
    icc[3] = char(132);
    icc.replace(36, 4, "acsp");
    icc.replace(12, 4, "mntr");
    return icc;
}

// The name of a PNG's colour profile (the bytes before the first zero of its iCCP chunk); empty
// when it has none or the name is empty.
QByteArray pngProfileName(const QString& path)
{
    QFile file(path);
    const QByteArray png = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    for (qsizetype at = 8; at + 12 <= png.size();) {
        const quint32 length = quint32(uchar(png[at])) << 24 | quint32(uchar(png[at + 1])) << 16 |
                               quint32(uchar(png[at + 2])) << 8 | quint32(uchar(png[at + 3]));
        if (length > quint32(png.size() - at - 12))
            break;
        if (png.mid(at + 4, 4) == "iCCP") {
            const QByteArray data = png.mid(at + 8, qsizetype(length));
            return data.left(std::max<qsizetype>(data.indexOf('\0'), 0));
        }
        at += qsizetype(length) + 12;
    }
    return {};
}

// Gives a file everything a camera and a photo manager leave in it.
void addRichMetadata(const QString& path)
{
    auto image = openMetadata(path);
    Exiv2::ExifData exif;
    exif["Exif.Image.Orientation"] = uint16_t(6);
    exif["Exif.Image.Make"] = "Kestrel Optics";
    exif["Exif.Photo.DateTimeOriginal"] = "2024:05:01 10:20:30";
    exif["Exif.GPSInfo.GPSLatitudeRef"] = "N";
    exif["Exif.GPSInfo.GPSLatitude"] = std::string("52/1 31/1 0/1");
    image->setExifData(exif);
    Exiv2::IptcData iptc;
    iptc["Iptc.Application2.Keywords"] = "harbour";
    image->setIptcData(iptc);
    Exiv2::XmpData xmp;
    xmp["Xmp.dc.subject"] = "boats";
    xmp["Xmp.tiff.Orientation"] = "6";
    image->setXmpData(xmp);
    if (image->supportsMetadata(Exiv2::mdComment))  // TIFF and JPEG 2000 have no comment block
        image->setComment("evening light");
    Exiv2::DataBuf icc(reinterpret_cast<const Exiv2::byte*>(fakeIccProfile().constData()), 132);
    image->setIccProfile(icc, false);
    image->writeMetadata();
}

class SafeSave : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    QString write(const QString& name, const QString& type)
    {
        const QString path = dir.filePath(name);
        QString error;
        EXPECT_TRUE(ImageDestination::writeImage(pattern(64, 48, false), path, type, {}, &error)) << error.toStdString();
        return path;
    }
    QTemporaryDir dir;
    QImage turned = pattern(48, 64, false);
};

struct FormatRow {
    const char* name;
    const char* type;
    bool comment;  // the format has a place for the comment
};

class MetadataRoundTrip : public SafeSave, public testing::WithParamInterface<FormatRow> {};

TEST_P(MetadataRoundTrip, EveryBlockSurvivesWithOnlyTheOrientationReset)
{
    const FormatRow row = GetParam();
    const QString path = write(row.name, row.type);
    addRichMetadata(path);

    ImageWriteOptions options;
    options.metadataSourcePath = path;
    options.replaceOnly = kpv::fileIdentity(path);
    QVariantMap props{{kpv::kCGImagePropertyOrientation, 1}};
    QString error;
    ASSERT_TRUE(ImageDestination::writeImage(turned, path, row.type, props, &error, options)) << error.toStdString();

    auto image = openMetadata(path);
    const Exiv2::ExifData& exif = image->exifData();
    auto find = [&](const char* key) { return exif.findKey(Exiv2::ExifKey(key)); };
    ASSERT_NE(find("Exif.Image.Orientation"), exif.end());
    EXPECT_EQ(find("Exif.Image.Orientation")->toLong(), 1);
    ASSERT_NE(find("Exif.Image.Make"), exif.end());
    EXPECT_EQ(find("Exif.Image.Make")->toString(), "Kestrel Optics");
    EXPECT_NE(find("Exif.Photo.DateTimeOriginal"), exif.end());
    ASSERT_NE(find("Exif.GPSInfo.GPSLatitude"), exif.end()) << "GPS dropped";
    EXPECT_EQ(find("Exif.GPSInfo.GPSLatitude")->toFloat(0), 52.0f);
    EXPECT_NE(image->iptcData().findKey(Exiv2::IptcKey("Iptc.Application2.Keywords")), image->iptcData().end())
        << "IPTC dropped";
    const Exiv2::XmpData& xmp = image->xmpData();
    ASSERT_NE(xmp.findKey(Exiv2::XmpKey("Xmp.dc.subject")), xmp.end()) << "XMP dropped";
    EXPECT_EQ(xmp.findKey(Exiv2::XmpKey("Xmp.tiff.Orientation"))->toString(), "1");
    EXPECT_TRUE(image->iccProfileDefined()) << "ICC profile dropped";
    if (QString::fromLatin1(row.type) == kpv::ContentTypes::kPng) {
        // PNG 11.3.3.3: the profile chunk starts with its name, 1 to 79 bytes; a decoder that
        // keeps to the standard drops a nameless one, and with it the photo's colours.
        const QByteArray name = pngProfileName(path);
        EXPECT_TRUE(name.size() >= 1 && name.size() <= 79) << "profile named \"" << name.toStdString() << '"';
    }
    if (row.comment)
        EXPECT_EQ(image->comment(), "evening light");

    // The pixels are the new ones, upright.
    auto source = kpv::ImageSource::createWithFile(path, &error);
    ASSERT_TRUE(source) << error.toStdString();
    const QImage back = source->createImageAtIndex(0, &error);
    ASSERT_EQ(back.size(), turned.size());
    EXPECT_EQ(source->propertiesAtIndex(0).value(kpv::kCGImagePropertyOrientation).toInt(), 1);
}

INSTANTIATE_TEST_SUITE_P(Formats, MetadataRoundTrip,
                         testing::Values(FormatRow{"a.jpg", "public.jpeg", true}, FormatRow{"a.png", "public.png", true},
                                         FormatRow{"a.tif", "public.tiff", false},
                                         FormatRow{"a.jp2", "public.jpeg-2000", false}),
                         [](const auto& info) {
                             std::string name = std::string(info.param.type).substr(7);
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

TEST_F(SafeSave, FileReplacedOrRewrittenUnderUsIsLeftAlone)
{
    const QString path = write("photo.jpg", kpv::ContentTypes::kJpeg);
    const kpv::FileIdentity decoded = kpv::fileIdentity(path);
    ImageWriteOptions options;
    options.replaceOnly = decoded;

    // Another program saves a new version by rename.
    const QString other = write("other.jpg", kpv::ContentTypes::kJpeg);
    QFile::copy(dir.filePath("other.jpg"), dir.filePath("incoming.jpg"));
    ASSERT_EQ(::rename(QFile::encodeName(dir.filePath("incoming.jpg")).constData(), QFile::encodeName(path).constData()), 0);
    const QByteArray newer = checksum(path);
    QString error;
    EXPECT_FALSE(ImageDestination::writeImage(turned, path, kpv::ContentTypes::kJpeg, {}, &error, options));
    EXPECT_EQ(error, ImageDestination::changedOnDiskError(path));
    EXPECT_EQ(checksum(path), newer);

    // Rewritten in place with the same size within the same second: the nanoseconds tell.
    struct timespec times[2] = {{0, UTIME_OMIT}, {1700000000, 123}};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
    options.replaceOnly = kpv::fileIdentity(path);
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        f.seek(100);
        f.write("x");
    }
    times[1].tv_nsec = 456;
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
    const QByteArray edited = checksum(path);
    EXPECT_FALSE(ImageDestination::writeImage(turned, path, kpv::ContentTypes::kJpeg, {}, &error, options));
    EXPECT_EQ(checksum(path), edited);
    EXPECT_EQ(entriesOf(dir.path()), (QStringList{"other.jpg", "photo.jpg"})) << "a temporary file was left";

    // Unchanged since read: replaced.
    options.replaceOnly = kpv::fileIdentity(path);
    EXPECT_TRUE(ImageDestination::writeImage(turned, path, kpv::ContentTypes::kJpeg, {}, &error, options))
        << error.toStdString();
    EXPECT_NE(checksum(path), edited);
    (void)other;
}

TEST_F(SafeSave, FullDiskLeavesTheOriginalAndNoTemporaryFile)
{
    const QString path = write("photo.png", kpv::ContentTypes::kPng);
    addRichMetadata(path);
    const QByteArray before = checksum(path);
    const QStringList entries = entriesOf(dir.path());
    ImageWriteOptions options;
    options.metadataSourcePath = path;
    QString error;
    {
        FileSizeLimit full(512);
        EXPECT_FALSE(ImageDestination::writeImage(pattern(300, 300, true), path, kpv::ContentTypes::kPng, {}, &error,
                                                  options));
    }
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(checksum(path), before);
    EXPECT_EQ(entriesOf(dir.path()), entries);

    // A lossless turn writes its result the same way.
    const QString jpeg = dir.filePath("turn.jpg");
    ASSERT_TRUE(ImageDestination::writeImage(pattern(256, 128, false), jpeg, kpv::ContentTypes::kJpeg, {}, &error));
    const QByteArray jpegBefore = checksum(jpeg);
    error.clear();
    {
        FileSizeLimit full(512);
        EXPECT_FALSE(ImageDestination::transformJpegLosslessly(jpeg, kpv::LosslessTransform::Rotate90, {}, &error));
    }
    EXPECT_TRUE(error.contains(jpeg)) << error.toStdString();
    EXPECT_EQ(checksum(jpeg), jpegBefore);
    EXPECT_EQ(entriesOf(dir.path()), (QStringList{"photo.png", "turn.jpg"}));
}

TEST_F(SafeSave, FullTmpfsLeavesTheOriginal)
{
    const QString mountPoint = dir.filePath("small");
    ASSERT_TRUE(QDir().mkpath(mountPoint));
    KPV_EXPECT_CHILD_PASSED(runWithOwnMounts([&] {
        SmallTmpfs tmpfs(mountPoint, 256);
        ASSERT_TRUE(tmpfs.isMounted());
        const QString path = mountPoint + QStringLiteral("/photo.png");
        QString error;
        ASSERT_TRUE(ImageDestination::writeImage(pattern(64, 64, false), path, kpv::ContentTypes::kPng, {}, &error));
        // Fill the rest of the disk.
        QFile filler(mountPoint + QStringLiteral("/filler"));
        ASSERT_TRUE(filler.open(QIODevice::WriteOnly));
        const QByteArray block(4096, 'z');
        while (filler.write(block) == block.size() && filler.flush()) {
        }
        filler.close();
        const QByteArray before = checksum(path);
        EXPECT_FALSE(ImageDestination::writeImage(pattern(400, 400, true), path, kpv::ContentTypes::kPng, {}, &error));
        EXPECT_EQ(checksum(path), before);
        EXPECT_EQ(entriesOf(mountPoint), (QStringList{"filler", "photo.png"}));
    }), "no right to mount a tmpfs here; the file-size limit case covers a full disk");
}

TEST_F(SafeSave, ReadOnlyFolderAndReadOnlyFileAreNotReplaced)
{
    NoPermissionOverride asUser;
    const QString folder = dir.filePath("locked");
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString inLocked = folder + QStringLiteral("/photo.jpg");
    QString error;
    ASSERT_TRUE(ImageDestination::writeImage(pattern(32, 32, false), inLocked, kpv::ContentTypes::kJpeg, {}, &error));
    ::chmod(QFile::encodeName(folder).constData(), 0555);
    const QByteArray lockedBefore = checksum(inLocked);
    EXPECT_FALSE(ImageDestination::writeImage(turned, inLocked, kpv::ContentTypes::kJpeg, {}, &error));
    EXPECT_EQ(checksum(inLocked), lockedBefore);
    EXPECT_EQ(entriesOf(folder), QStringList{"photo.jpg"});
    ::chmod(QFile::encodeName(folder).constData(), 0755);

    const QString readOnly = write("kept.jpg", kpv::ContentTypes::kJpeg);
    ::chmod(QFile::encodeName(readOnly).constData(), 0444);
    const QByteArray before = checksum(readOnly);
    EXPECT_FALSE(ImageDestination::writeImage(turned, readOnly, kpv::ContentTypes::kJpeg, {}, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("read-only"))) << error.toStdString();
    EXPECT_EQ(checksum(readOnly), before);
}

// ---- What a rewrite would lose ----

QString writeTiffPages(const QTemporaryDir& dir, int pages, int bits, uint16_t format = SAMPLEFORMAT_UINT)
{
    const QString path = dir.filePath(QStringLiteral("pages.tif"));
    TIFF* tif = TIFFOpen(QFile::encodeName(path).constData(), "w");
    for (int p = 0; p < pages; ++p) {
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 4u);
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 2u);
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bits);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
        TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, format);
        std::vector<unsigned char> row(size_t(4 * bits / 8), 0x40);
        for (uint32_t y = 0; y < 2; ++y)
            TIFFWriteScanline(tif, row.data(), y, 0);
        TIFFWriteDirectory(tif);
    }
    TIFFClose(tif);
    return path;
}

// The pixels are written as RGB: the profile of a grey or CMYK photo no longer describes them and
// stays out of the new file, while an RGB one goes along. A JPEG turned on its blocks keeps its
// own colours, and so any profile.
TEST_F(SafeSave, OnlyAProfileThatFitsTheWrittenColoursGoesAlong)
{
    for (const char* space : {"GRAY", "CMYK", "RGB "}) {
        const QString source = write(QStringLiteral("%1.jpg").arg(QString::fromLatin1(space).trimmed()), kpv::ContentTypes::kJpeg);
        {
            auto image = openMetadata(source);
            QByteArray icc = fakeIccProfile();
            icc.replace(16, 4, space);
            Exiv2::DataBuf profile(reinterpret_cast<const Exiv2::byte*>(icc.constData()), long(icc.size()));
            image->setIccProfile(profile, false);
            image->writeMetadata();
        }
        const bool rgb = std::string(space) == "RGB ";
        for (const QString type : {kpv::ContentTypes::kJpeg, kpv::ContentTypes::kPng, kpv::ContentTypes::kTiff}) {
            const QString copy = dir.filePath(QStringLiteral("copy.") + type.section(u'.', -1));
            ImageWriteOptions options;
            options.metadataSourcePath = source;
            QString error;
            ASSERT_TRUE(ImageDestination::writeImage(turned, copy, type, {}, &error, options)) << error.toStdString();
            EXPECT_EQ(openMetadata(copy)->iccProfileDefined(), rgb) << space << " into " << type.toStdString();
        }
        const QByteArray before = checksum(source);
        ImageWriteOptions inPlace;
        inPlace.replaceOnly = kpv::fileIdentity(source);
        QString error;
        ASSERT_TRUE(ImageDestination::transformJpegLosslessly(source, kpv::LosslessTransform::Rotate90, inPlace, &error))
            << error.toStdString();
        EXPECT_NE(checksum(source), before);
        EXPECT_TRUE(openMetadata(source)->iccProfileDefined()) << space;
    }
}

// Every decode gives pixels with an alpha channel; the file written from them has one only when
// the picture has a pixel that is not opaque, so an RGB photo saved as PNG or TIFF stays RGB.
TEST_F(SafeSave, AnOpaquePhotoIsWrittenWithoutAnAlphaChannel)
{
    for (const bool alpha : {false, true}) {
        const QString source = writeFile(dir, alpha ? "clear.png" : "solid.png", referencePng(pattern(16, 8, alpha), alpha, false));
        QString error;
        auto decoded = kpv::ImageSource::createWithFile(source, &error);
        ASSERT_TRUE(decoded) << error.toStdString();
        const QImage pixels = decoded->createImageAtIndex(0, &error);
        ASSERT_TRUE(pixels.hasAlphaChannel());

        const QString png = dir.filePath("out.png");
        ASSERT_TRUE(ImageDestination::writeImage(pixels, png, kpv::ContentTypes::kPng, {}, &error)) << error.toStdString();
        QFile file(png);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(int(file.read(26).at(25)), alpha ? 6 : 2) << "PNG colour type";  // RGBA or RGB

        const QString tiff = dir.filePath("out.tif");
        ASSERT_TRUE(ImageDestination::writeImage(pixels, tiff, kpv::ContentTypes::kTiff, {}, &error)) << error.toStdString();
        TIFF* tif = TIFFOpen(QFile::encodeName(tiff).constData(), "r");
        ASSERT_TRUE(tif);
        uint16_t samples = 0;
        TIFFGetField(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
        TIFFClose(tif);
        EXPECT_EQ(samples, alpha ? 4 : 3);
    }
}

// A PNG turned and written over itself keeps its title, author, copyright and other text, in
// every kind of text chunk, beside the XMP packet the metadata library writes once.
TEST_F(SafeSave, PngTextChunksSurviveARewrite)
{
    QByteArray png = referencePng(pattern(64, 48, false), false, false);
    png.insert(png.size() - 12, pngChunk("tEXt", QByteArray("Author\0Ann Lee", 14)) +
                                    pngChunk("zTXt", QByteArray("Copyright\0\0", 11) + qCompress("(c) Ann").mid(4)) +
                                    pngChunk("iTXt", QByteArray("Title\0\0\0\0\0Harbour", 17)));
    const QString path = writeFile(dir, "text.png", png);
    {
        auto image = openMetadata(path);
        Exiv2::XmpData xmp;
        xmp["Xmp.dc.subject"] = "boats";
        image->setXmpData(xmp);
        image->writeMetadata();
    }
    ImageWriteOptions options;
    options.metadataSourcePath = path;
    options.replaceOnly = kpv::fileIdentity(path);
    QString error;
    ASSERT_TRUE(ImageDestination::writeImage(turned, path, kpv::ContentTypes::kPng, {{kpv::kCGImagePropertyOrientation, 1}},
                                             &error, options))
        << error.toStdString();

    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray written = file.readAll();
    EXPECT_TRUE(written.contains(QByteArray("tEXtAuthor\0Ann Lee", 18)));
    EXPECT_TRUE(written.contains(QByteArray("zTXtCopyright\0\0", 15)));
    EXPECT_TRUE(written.contains(QByteArray("iTXtTitle\0\0\0\0\0Harbour", 21)));
    EXPECT_EQ(written.count("XML:com.adobe.xmp"), 1);
    auto image = openMetadata(path);
    EXPECT_NE(image->xmpData().findKey(Exiv2::XmpKey("Xmp.dc.subject")), image->xmpData().end());
    EXPECT_EQ(image->pixelWidth(), turned.width());
}

// A TIFF turned and written over itself keeps its lossless coding: the properties read from the
// file name it, and the new file is coded the same way (Deflate's old code as its current one).
TEST_F(SafeSave, TurnedTiffKeepsItsLosslessCoding)
{
    const QImage picture = pattern(64, 48, false);
    const struct {
        uint16_t stored, expected;
    } rows[] = {{COMPRESSION_LZW, COMPRESSION_LZW},
                {COMPRESSION_ADOBE_DEFLATE, COMPRESSION_ADOBE_DEFLATE},
                {COMPRESSION_DEFLATE, COMPRESSION_ADOBE_DEFLATE},
                {COMPRESSION_PACKBITS, COMPRESSION_PACKBITS},
                {COMPRESSION_NONE, COMPRESSION_NONE}};
    for (const auto& row : rows) {
        const QString path = dir.filePath(QStringLiteral("coded%1.tif").arg(row.stored));
        TIFF* tif = TIFFOpen(QFile::encodeName(path).constData(), "w");
        ASSERT_TRUE(tif);
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(picture.width()));
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(picture.height()));
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 4);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        const uint16_t extra[1] = {EXTRASAMPLE_UNASSALPHA};
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, extra);
        TIFFSetField(tif, TIFFTAG_ORIENTATION, uint16_t(6));
        TIFFSetField(tif, TIFFTAG_COMPRESSION, row.stored);
        const QImage rgba = picture.convertToFormat(QImage::Format_RGBA8888);
        for (int y = 0; y < rgba.height(); ++y)
            ASSERT_EQ(TIFFWriteScanline(tif, const_cast<uchar*>(rgba.constScanLine(y)), uint32_t(y), 0), 1);
        TIFFClose(tif);

        QString error;
        auto source = kpv::ImageSource::createWithFile(path, &error);
        ASSERT_TRUE(source) << error.toStdString();
        QVariantMap props = source->propertiesAtIndex(0);
        props.insert(kpv::kCGImagePropertyOrientation, 1);
        ImageWriteOptions options;
        options.metadataSourcePath = path;
        options.replaceOnly = kpv::fileIdentity(path);
        ASSERT_TRUE(ImageDestination::writeImage(turned, path, kpv::ContentTypes::kTiff, props, &error, options))
            << error.toStdString();

        tif = TIFFOpen(QFile::encodeName(path).constData(), "r");
        ASSERT_TRUE(tif);
        uint16_t coding = 0;
        uint32_t width = 0;
        TIFFGetField(tif, TIFFTAG_COMPRESSION, &coding);
        TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
        TIFFClose(tif);
        EXPECT_EQ(coding, row.expected) << "stored as " << row.stored;
        EXPECT_EQ(width, uint32_t(turned.width()));
    }
}

// A crop or turn of a page of a multi-page TIFF, written with that file's metadata, is one whole
// page: as TIFF it has one directory (no chain to the old file's other pages, whose strips are not
// in it), and as JPEG it opens as well.
TEST_F(SafeSave, APageOfAMultiPageTiffIsWrittenAsOneWholePicture)
{
    const QString source = writeTiffPages(dir, 3, 8);
    ImageWriteOptions options;
    options.metadataSourcePath = source;
    for (const char* name : {"page.tif", "page.jpg"}) {
        const QString path = dir.filePath(QString::fromLatin1(name));
        QString error;
        ASSERT_TRUE(ImageDestination::writeImage(turned, path, ImageDestination::typeForPath(path), {}, &error, options))
            << error.toStdString();
        const auto written = kpv::ImageSource::createWithFile(path);
        ASSERT_TRUE(written) << name;
        EXPECT_EQ(written->count(), 1) << name;
        EXPECT_EQ(written->createImageAtIndex(0).size(), turned.size()) << name;
    }
    const TIFFErrorHandler warnings = TIFFSetWarningHandler(nullptr);
    const TIFFErrorHandler errors = TIFFSetErrorHandler(nullptr);
    TIFF* tif = TIFFOpen(QFile::encodeName(dir.filePath(QStringLiteral("page.tif"))).constData(), "r");
    EXPECT_TRUE(tif);
    if (tif) {
        EXPECT_EQ(TIFFNumberOfDirectories(tif), 1);
        EXPECT_EQ(TIFFReadDirectory(tif), 0);  // no second page, broken or not
        TIFFClose(tif);
    }
    TIFFSetWarningHandler(warnings);
    TIFFSetErrorHandler(errors);
}

TEST(ContentLostByRewriting, PagesAnimationAndDepthAreNamed)
{
    QTemporaryDir dir;
    // The first page is the one written back: the question names the pages that would go.
    EXPECT_EQ(ImageDestination::contentLostByRewriting(writeTiffPages(dir, 3, 8)), QStringList{"2 of its 3 pages"});
    EXPECT_EQ(ImageDestination::contentLostByRewriting(writeTiffPages(dir, 2, 8)), QStringList{"1 of its 2 pages"});
    EXPECT_EQ(ImageDestination::contentLostByRewriting(writeTiffPages(dir, 1, 16)), QStringList{"16 bits per channel"});
    EXPECT_TRUE(ImageDestination::contentLostByRewriting(writeTiffPages(dir, 1, 8)).isEmpty());
    // Half-precision samples are not kept as 16-bit levels: a turn is written at 8 bits, asked.
    const QString half = writeTiffPages(dir, 1, 16, SAMPLEFORMAT_IEEEFP);
    EXPECT_FALSE(ImageDestination::keepsSixteenBitsOnRewrite(half));
    EXPECT_EQ(ImageDestination::contentLostByRewriting(half, ImageDestination::Rewrite::Turn, ImageDestination::keepsSixteenBitsOnRewrite(half)),
              QStringList{"16 bits per channel"});

    QImage deep(8, 8, QImage::Format_RGBA64);
    deep.fill(Qt::red);
    const QString deepPath = dir.filePath(QStringLiteral("deep.png"));
    ASSERT_TRUE(deep.save(deepPath, "PNG"));
    EXPECT_EQ(ImageDestination::contentLostByRewriting(deepPath), QStringList{"16 bits per channel"});

    // An animation control chunk before the image data makes the PNG animated.
    QByteArray png = referencePng(pattern(8, 8, false), false, false);
    const QByteArray actl = QByteArray::fromHex("00000008") + "acTL" + QByteArray::fromHex("0000000200000000") +
                            QByteArray::fromHex("00000000");
    png.insert(33, actl);
    EXPECT_EQ(ImageDestination::contentLostByRewriting(writeFile(dir, "anim.png", png)), QStringList{"the animation"});
    EXPECT_TRUE(ImageDestination::contentLostByRewriting(writeFile(dir, "plain.png", referencePng(pattern(8, 8, false), false, false)))
                    .isEmpty());

    // Every prefix of the animated file reads safely, and one cut short names what it lacks.
    const QString unread = QStringLiteral("the part of the picture that could not be read");
    for (qsizetype n = 0; n <= png.size(); ++n) {
        const QStringList cut = ImageDestination::contentLostByRewritingData(png.left(n));
        if (n >= 8 && n < png.size())
            EXPECT_EQ(cut.value(0), unread) << n;
        else
            EXPECT_TRUE(cut.isEmpty() || cut == QStringList{"the animation"}) << n;
    }

    // A JPEG cut in its coded data, whose thumbnail's end marker lies in a segment before it: the
    // picture shows grey below the cut, and writing it over the file would drop the rest for good.
    QByteArray jpeg;
    {
        QBuffer buffer(&jpeg);
        buffer.open(QIODevice::WriteOnly);
        ASSERT_TRUE(pattern(64, 64, false).save(&buffer, "JPEG", 95));
    }
    jpeg.insert(2, QByteArray::fromHex("FFE1000A") + QByteArray::fromHex("FFD8FFD9FFD9FFD9"));
    EXPECT_TRUE(ImageDestination::contentLostByRewriting(writeFile(dir, "whole.jpg", jpeg)).isEmpty());
    EXPECT_EQ(ImageDestination::contentLostByRewriting(writeFile(dir, "cut.jpg", jpeg.left(jpeg.size() - 40))),
              QStringList{unread});
}

} // namespace

namespace {

TEST_F(SafeSave, LosslessTurnRefusesWhatItCannotDoExactlyAndLeavesTheFile)
{
    // 50 x 30 has partial edge blocks: a block transform would lose or misplace them.
    const QString path = dir.filePath("edge.jpg");
    QString error;
    ASSERT_TRUE(ImageDestination::writeImage(pattern(50, 30, false), path, kpv::ContentTypes::kJpeg, {}, &error));
    const QByteArray before = checksum(path);
    EXPECT_FALSE(ImageDestination::transformJpegLosslessly(path, kpv::LosslessTransform::Rotate90, {}, &error));
    EXPECT_EQ(checksum(path), before);

    // Whole blocks turn; a file replaced meanwhile does not.
    const QString whole = dir.filePath("whole.jpg");
    ASSERT_TRUE(ImageDestination::writeImage(pattern(64, 32, false), whole, kpv::ContentTypes::kJpeg, {}, &error));
    ImageWriteOptions options;
    options.replaceOnly = kpv::fileIdentity(whole);
    ASSERT_TRUE(ImageDestination::transformJpegLosslessly(whole, kpv::LosslessTransform::Rotate90, options, &error))
        << error.toStdString();
    EXPECT_EQ(QImage(whole).size(), QSize(32, 64));
    const QByteArray turned = checksum(whole);
    EXPECT_FALSE(ImageDestination::transformJpegLosslessly(whole, kpv::LosslessTransform::Rotate90, options, &error));
    EXPECT_EQ(error, ImageDestination::changedOnDiskError(whole));
    EXPECT_EQ(checksum(whole), turned);
    EXPECT_EQ(entriesOf(dir.path()), (QStringList{"edge.jpg", "whole.jpg"}));
}

} // namespace

namespace {

TEST_F(SafeSave, SourceWithoutReadableMetadataDoesNotStopTheWrite)
{
    // Not an image exiv2 knows, and a JPEG whose EXIF block is garbage.
    const QString odd = writeFile(dir, "odd.ico", QByteArray("\0\0\1\0garbage", 11));
    QByteArray broken = referenceJpeg(pattern(16, 16, false), 90, false, 2);
    broken.insert(2, QByteArray::fromHex("FFE1000A") + QByteArray("Exif\0\0MM", 8));
    const QString damaged = writeFile(dir, "damaged.jpg", broken);
    for (const QString& source : {odd, damaged}) {
        SCOPED_TRACE(source.toStdString());
        ImageWriteOptions options;
        options.metadataSourcePath = source;
        QString error;
        EXPECT_TRUE(ImageDestination::writeImage(turned, dir.filePath("out.png"), kpv::ContentTypes::kPng, {}, &error,
                                                 options))
            << error.toStdString();
    }
}

} // namespace
