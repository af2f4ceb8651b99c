#include "Model/LMExifInfoFormat.h"

#include "foundation/Bundle.h"
#include "imageio/ImageProperties.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>
#include <QTimeZone>

#include <cstdlib>
#include <ctime>

using namespace kpv;

namespace {

class ExifFormat : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        // A fixed zone and locale, so that dates and decimal separators do not depend on the machine.
        setenv("TZ", "Asia/Tokyo", 1);
        tzset();
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    }

    void SetUp() override
    {
        ASSERT_TRUE(QDir(dir.path()).mkpath("strings"));
        QFile table(dir.filePath("strings/en.strings"));
        ASSERT_TRUE(table.open(QIODevice::WriteOnly));
        table.write("\"s\" = \"s\";\n\"ISO\" = \"ISO\";\n\"EV\" = \"EV\";\n\"IDS_PROPERTIES_MM\" = \"mm\";\n"
                    "\"IDS_PROPERTIES_ON\" = \"On\";\n\"IDS_PROPERTIES_OFF\" = \"Off\";\n"
                    "\"IDS_PROPERTIES_SPOT\" = \"Spot\";\n\"IDS_PROPERTIES_OTHER\" = \"Other\";\n"
                    "\"IDS_PROPERTIES_NORMAL\" = \"Normal\";\n\"IDS_PROPERTIES_SHUTTER\" = \"Shutter\";\n"
                    "\"IDS_PROPERTIES_AUTO\" = \"Auto\";\n\"IDS_PROPERTIES_MANUAL\" = \"Manual\";\n"
                    "\"IDS_PROPERTIES_HARD\" = \"Hard\";\n\"IDS_PROPERTIES_LOWSATURATION\" = \"Low\";\n"
                    "\"IDS_UNIT_B\" = \"B\";\n\"IDS_UNIT_KB\" = \"KB\";\n\"IDS_UNIT_MB\" = \"MB\";\n\"IDS_UNIT_GB\" = \"GB\";\n");
        table.close();
        bundle = std::make_unique<Bundle>(QStringList{dir.path()}, QStringLiteral("en"));
    }

    LMExifInfoFormat withExif(const char *key, const QVariant &value) const
    {
        return LMExifInfoFormat({{kCGImagePropertyExifDictionary, QVariantMap{{key, value}}}}, bundle.get());
    }

    QTemporaryDir dir;
    std::unique_ptr<Bundle> bundle;
};

TEST_F(ExifFormat, ApertureIsReadInSinglePrecision)
{
    const auto f = [&](const QVariant &v) { return withExif(kCGImagePropertyExifFNumber, v).stringFromFNumber(); };
    EXPECT_EQ(f(2.8), "F/2.8");
    EXPECT_EQ(f(double(2.8f)), "F/2.8");
    EXPECT_EQ(f(4), "F/4");
    EXPECT_EQ(f(0.95), "F/0.95");
    EXPECT_EQ(f(5.6), "F/5.6");
    EXPECT_EQ(f(1.4), "F/1.4");
    EXPECT_EQ(f(22), "F/22");
    EXPECT_EQ(f(3.456), "F/3.45");
    EXPECT_EQ(f(2.1), "F/2.1");
    EXPECT_EQ(f(4.2), "F/4.2");
    EXPECT_EQ(f(1.05), "F/1.05");
    EXPECT_TRUE(f(QVariant()).isNull());
    EXPECT_TRUE(f(QString("wide open")).isNull());
    EXPECT_TRUE(f(0.004).isNull()); // a damaged file's, never F/0

    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(f(2.8), "F/2,8");
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
}

TEST_F(ExifFormat, ExposureTimes)
{
    const auto t = [&](const QVariant &v) { return withExif(kCGImagePropertyExifExposureTime, v).stringFromExposureTime(); };
    EXPECT_EQ(t(0.004), "1/250s");
    EXPECT_EQ(t(0.25), "1/4s");
    EXPECT_EQ(t(1.0 / 320), "1/320s");
    EXPECT_EQ(t(0.5), "0.5s");
    EXPECT_EQ(t(0.28), "0.2s");
    EXPECT_EQ(t(2), "2s");
    EXPECT_EQ(t(60), "60s");
    EXPECT_EQ(t(61), "61s");
    EXPECT_EQ(t(1.3), "1.3s");
    EXPECT_TRUE(t(0).isNull());  // no "1/inf"
    EXPECT_TRUE(t(-0.5).isNull());
}

TEST_F(ExifFormat, BiasFocalLengthBrightnessRoundDown)
{
    const auto bias = [&](double v) { return withExif(kCGImagePropertyExifExposureBiasValue, v).stringFromExposureBias(); };
    EXPECT_EQ(bias(0), "0EV");
    EXPECT_EQ(bias(0.67), "0.6EV");
    EXPECT_EQ(bias(-0.67), "-0.7EV");
    EXPECT_EQ(bias(-0.33), "-0.4EV");
    EXPECT_EQ(bias(-0.3), "-0.3EV");
    EXPECT_EQ(bias(-0.0), "0EV");
    EXPECT_EQ(bias(1), "1EV");
    EXPECT_EQ(withExif(kCGImagePropertyExifFocalLength, 50).stringFromFocalLength(), "50mm");
    EXPECT_EQ(withExif(kCGImagePropertyExifFocalLength, 4.15).stringFromFocalLength(), "4.1mm");
    EXPECT_EQ(withExif(kCGImagePropertyExifFocalLength, 0.1).stringFromFocalLength(), "0.1mm");
    EXPECT_TRUE(withExif(kCGImagePropertyExifFocalLength, 0.05).stringFromFocalLength().isNull()); // never 0mm
    const auto bright = [&](double v) { return withExif(kCGImagePropertyExifBrightnessValue, v).stringFromBrightness(); };
    EXPECT_EQ(bright(5), "5");
    EXPECT_EQ(bright(2.5), "2.5");
    EXPECT_EQ(bright(2.567), "2.56");
    EXPECT_EQ(bright(-1.234), "-1.24");
    EXPECT_EQ(bright(-9.6), "-9.6");
    EXPECT_EQ(bright(-9.89), "-9.89");
}

TEST_F(ExifFormat, IsoFlashAndCodeTables)
{
    EXPECT_EQ(withExif(kCGImagePropertyExifISOSpeedRatings, QVariantList{100, 200}).stringFromISOWithISOPrefix(true), "ISO100");
    EXPECT_EQ(withExif(kCGImagePropertyExifISOSpeedRatings, QVariantList{800}).stringFromISOWithISOPrefix(false), "800");
    EXPECT_TRUE(withExif(kCGImagePropertyExifISOSpeedRatings, QVariantList{}).stringFromISOWithISOPrefix(true).isNull());
    EXPECT_TRUE(withExif(kCGImagePropertyExifFNumber, 2).stringFromISOWithISOPrefix(true).isNull());
    // Above 65535 the rating is full and the tag the sensitivity type names holds the value.
    const auto iso = [&](const QVariantMap &exif) {
        return LMExifInfoFormat({{kCGImagePropertyExifDictionary, exif}}, bundle.get()).stringFromISOWithISOPrefix(false);
    };
    EXPECT_EQ(iso({{kCGImagePropertyExifISOSpeedRatings, 65535}, {kCGImagePropertyExifSensitivityType, 3},
                   {kCGImagePropertyExifRecommendedExposureIndex, 80000}, {kCGImagePropertyExifISOSpeed, 102400}}),
              "102400");
    EXPECT_EQ(iso({{kCGImagePropertyExifStandardOutputSensitivity, 409600}}), "409600");
    EXPECT_EQ(iso({{kCGImagePropertyExifISOSpeedRatings, 6400}, {kCGImagePropertyExifISOSpeed, 102400}}), "6400");

    EXPECT_EQ(withExif(kCGImagePropertyExifFlash, 16).stringFromFlash(), "Off");
    EXPECT_EQ(withExif(kCGImagePropertyExifFlash, 25).stringFromFlash(), "On");
    EXPECT_EQ(withExif(kCGImagePropertyExifMeteringMode, 3).stringFromMeteringMode(), "Spot");
    EXPECT_EQ(withExif(kCGImagePropertyExifMeteringMode, 255).stringFromMeteringMode(), "Other");
    EXPECT_EQ(withExif(kCGImagePropertyExifExposureProgram, 4).stringFromExposureProgram(), "Shutter");
    EXPECT_EQ(withExif(kCGImagePropertyExifExposureProgram, 2).stringFromExposureProgram(), "Normal");
    EXPECT_EQ(withExif(kCGImagePropertyExifWhiteBalance, 0).stringFromWhiteBalance(), "Auto");
    EXPECT_EQ(withExif(kCGImagePropertyExifWhiteBalance, 1).stringFromWhiteBalance(), "Manual");
    EXPECT_EQ(withExif(kCGImagePropertyExifContrast, 2).stringFromContrast(), "Hard");
    EXPECT_EQ(withExif(kCGImagePropertyExifSaturation, 1).stringFromSaturation(), "Low");
    EXPECT_EQ(withExif(kCGImagePropertyExifSaturation, 7).stringFromSaturation(), "Normal");

    // Missing sub-dictionaries give nothing.
    const LMExifInfoFormat none({}, bundle.get());
    EXPECT_TRUE(none.stringFromFlash().isNull());
    EXPECT_TRUE(none.maker().isNull());
    EXPECT_TRUE(none.lensModel().isNull());
    EXPECT_TRUE(none.stringFromTakenTime().isNull());
}

TEST_F(ExifFormat, CameraTexts)
{
    const LMExifInfoFormat f({{kCGImagePropertyTIFFDictionary, QVariantMap{{kCGImagePropertyTIFFMake, " \tMaker Co \t"},
                                                                            {kCGImagePropertyTIFFModel, "X100  "}}},
                              {kCGImagePropertyExifAuxDictionary, QVariantMap{{kCGImagePropertyExifAuxLensModel, " 35mm "}}}},
                             bundle.get());
    EXPECT_EQ(f.maker(), "Maker Co");
    EXPECT_EQ(f.model(), "X100");
    EXPECT_EQ(f.lensModel(), " 35mm ");
}

TEST_F(ExifFormat, FileSizes)
{
    const struct {
        uint64_t bytes;
        const char *text;
    } rows[] = {{0, "0 B"},           {999, "999 B"},        {1000, "1 KB"},         {1499, "1 KB"},
                {1500, "2 KB"},       {999999, "1000 KB"},   {1000000, "1 MB"},      {1500000, "1.5 MB"},
                {2000000, "2 MB"},    {1250000000, "1.25 GB"}, {1200000000, "1.2 GB"}, {3000000000, "3 GB"},
                {5000000000000, "5000 GB"}};
    for (const auto &r : rows)
        EXPECT_EQ(LMExifInfoFormat::stringFromFileSize(r.bytes, bundle.get()), r.text) << r.bytes;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(LMExifInfoFormat::stringFromFileSize(1500000, bundle.get()), "1,5 MB");
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
}

TEST_F(ExifFormat, Dates)
{
    // 2024-03-01 20:00 UTC is already 2 March in Tokyo.
    const QDateTime instant(QDate(2024, 3, 1), QTime(20, 0), Qt::UTC);
    EXPECT_EQ(LMExifInfoFormat::stringFromDate(instant, false), "3/1/2024");
    EXPECT_EQ(LMExifInfoFormat::stringFromDate(instant, true), "3/2/2024");
    EXPECT_TRUE(LMExifInfoFormat::stringFromDate(QDateTime(), true).isNull());

    EXPECT_EQ(withExif(kCGImagePropertyExifDateTimeOriginal, "2023:12:31 23:59:59").stringFromTakenTime(), "12/31/2023");
    EXPECT_TRUE(withExif(kCGImagePropertyExifDateTimeOriginal, "2023-12-31 23:59:59").stringFromTakenTime().isNull());
    EXPECT_TRUE(withExif(kCGImagePropertyExifDateTimeOriginal, "2023:13:31 23:59:59").stringFromTakenTime().isNull());
}

} // namespace
