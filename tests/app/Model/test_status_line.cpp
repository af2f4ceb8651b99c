// The file-information line of the view mode: which items show, in which order, with which
// separators, and how the two fields share the width.
#include "Model/NavFileInfoView.h"

#include "Model/LMExifInfoFormat.h"
#include "foundation/Bundle.h"
#include "foundation/FileNames.h"
#include "imageio/ImageProperties.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>
#include <QTimeZone>

#include <cstdio>
#include <cstdlib>
#include <ctime>

using namespace kpv;

namespace {

// Every character is 7 points wide.
double fixedWidth(const QString &s) { return 7.0 * s.size(); }

class StatusLine : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        setenv("TZ", "Asia/Tokyo", 1);
        tzset();
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    }

    void SetUp() override
    {
        ASSERT_TRUE(QDir(dir.path()).mkpath("strings"));
        QFile table(dir.filePath("strings/en.strings"));
        ASSERT_TRUE(table.open(QIODevice::WriteOnly));
        table.write("\"ISO\" = \"ISO \";\n\"IDS_UNIT_B\" = \"B\";\n\"IDS_UNIT_KB\" = \"KB\";\n"
                    "\"IDS_UNIT_MB\" = \"MB\";\n\"IDS_PROPERTIES_ON\" = \"Flash fired\";\n");
        table.close();
        bundle = std::make_unique<Bundle>(QStringList{dir.path()}, QStringLiteral("en"));
        view = std::make_unique<NavFileInfoView>(fixedWidth, bundle.get());
    }

    // A file of `bytes` bytes with the given pixel size, orientation and properties.
    LMFileImgBaseInfoPtr file(const QString &name, qint64 bytes, QSizeF size, int64_t orientation,
                              const QVariantMap &properties)
    {
        const QString path = dir.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        EXPECT_TRUE(f.resize(bytes));
        f.close();
        return std::make_shared<const LMFileImgBaseInfo>(LMPathString(path, false), QStringLiteral("public.jpeg"), 2,
                                                         QDateTime::currentDateTime(), size, orientation, properties);
    }

    static QVariantMap camera()
    {
        return {
            {kCGImagePropertyExifDictionary,
             QVariantMap{{kCGImagePropertyExifDateTimeOriginal, "2021:06:01 10:20:30"},
                         {kCGImagePropertyExifFNumber, 2.8},
                         // One rating, read as one number, as every camera writes it.
                         {kCGImagePropertyExifISOSpeedRatings, 100},
                         {kCGImagePropertyExifFlash, 25}}},
            {kCGImagePropertyTIFFDictionary,
             QVariantMap{{kCGImagePropertyTIFFMake, "  Maker\t"}, {kCGImagePropertyTIFFModel, "Model 5"}}},
            {kCGImagePropertyExifAuxDictionary, QVariantMap{{kCGImagePropertyExifAuxLensModel, "50mm f/1.8"}}},
        };
    }

    QTemporaryDir dir;
    std::unique_ptr<Bundle> bundle;
    std::unique_ptr<NavFileInfoView> view;
};

TEST_F(StatusLine, ItemsFollowTheNameInDisplayOrder)
{
    const QString taken = LMExifInfoFormat::stringFromDate(QDateTime(QDate(2021, 6, 1), QTime(10, 20, 30)), true);
    ASSERT_FALSE(taken.isEmpty());
    const auto info = file("photo.jpg", 2'500'000, QSizeF(4000, 3000), 1, camera());

    view->setFileImgBaseInfo(info, 0xF);
    EXPECT_EQ(view->txtFileName().stringValue, "photo.jpg");
    EXPECT_EQ(view->txtExifInfo().stringValue, " | 4000x3000 | " + taken + " | 2.5 MB");

    // Without the name bit: no name, and no leading separator.
    view->setFileImgBaseInfo(info, 14);
    EXPECT_EQ(view->txtFileName().stringValue, "");
    EXPECT_EQ(view->txtExifInfo().stringValue, "4000x3000 | " + taken + " | 2.5 MB");

    // The lens comes before the exposure values although its bit is the highest; the ISO prefix
    // is the localised word as it stands.
    using namespace NavFileProperty;
    EXPECT_EQ(view->formatExifString(info, kLens | kFlash | kISO | kFNumber | kModel | kMaker),
              "Maker | Model 5 | 50mm f/1.8 | F/2.8 | ISO 100 | Flash fired");
}

TEST_F(StatusLine, DimensionsAreThoseOfTheTurnedPicture)
{
    const auto turned = file("turned.jpg", 10, QSizeF(4000.9, 3000.2), 6, {});
    EXPECT_EQ(view->formatExifString(turned, NavFileProperty::kDimensions), "3000x4000");
}

TEST_F(StatusLine, MissingValuesLeaveNoEmptySlots)
{
    const auto bare = file("bare.png", 999, QSizeF(10, 20), 1, {});
    view->setCreationDateSource([](const LMPathString &) { return QDateTime(); });
    using namespace NavFileProperty;
    view->setFileImgBaseInfo(bare, kFileName | kMaker);
    EXPECT_EQ(view->txtFileName().stringValue, "bare.png");
    EXPECT_EQ(view->txtExifInfo().stringValue, "");

    EXPECT_EQ(view->formatExifString(bare, kMaker | kDate | kFileSize | kFNumber | kSaturation), "999 B");
    EXPECT_EQ(view->formatExifString(bare, kDimensions | kModel | kFileSize), "10x20 | 999 B");
}

TEST_F(StatusLine, NothingOrAnEmptyMaskClearsBothFields)
{
    const auto info = file("photo.jpg", 5000, QSizeF(40, 30), 1, camera());
    view->setFileImgBaseInfo(info, 0xF);
    ASSERT_FALSE(view->txtExifInfo().stringValue.isEmpty());
    view->setFileImgBaseInfo(nullptr, 0xF);
    EXPECT_EQ(view->txtFileName().stringValue, "");
    EXPECT_EQ(view->txtExifInfo().stringValue, "");
    view->setFileImgBaseInfo(info, 0xF);
    view->setFileImgBaseInfo(info, 0);
    EXPECT_EQ(view->txtFileName().stringValue, "");
    EXPECT_EQ(view->txtExifInfo().stringValue, "");
    EXPECT_EQ(view->formatExifString(nullptr, 0xFFFFF), "");
}

TEST_F(StatusLine, WithoutADateTakenTheCreationDayIsTheUsersDay)
{
    // 00:30 in Tokyo is still the previous day in UTC.
    const QDateTime created(QDate(2024, 3, 5), QTime(0, 30), QTimeZone("Asia/Tokyo"));
    LMPathString asked;
    view->setCreationDateSource([&](const LMPathString &p) {
        asked = p;
        return created;
    });
    const auto info = file("scan.png", 10, QSizeF(1, 1), 1, {});
    EXPECT_EQ(view->formatExifString(info, NavFileProperty::kDate), LMExifInfoFormat::stringFromDate(created, true));
    EXPECT_NE(view->formatExifString(info, NavFileProperty::kDate), LMExifInfoFormat::stringFromDate(created, false));
    EXPECT_EQ(asked, info->filePath());

    // A date taken wins over the file's date.
    const auto shot = file("shot.jpg", 10, QSizeF(1, 1), 1, camera());
    EXPECT_EQ(view->formatExifString(shot, NavFileProperty::kDate),
              LMExifInfoFormat::stringFromDate(QDateTime(QDate(2021, 6, 1), QTime(10, 20, 30)), true));

    // Even taken at 02:30 on the night Central Europe's clocks skip that hour, for a user there:
    // the camera's clock has no time zone.
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
    const auto night = file("night.jpg", 10, QSizeF(1, 1), 1,
                            {{kCGImagePropertyExifDictionary, QVariantMap{{kCGImagePropertyExifDateTimeOriginal, "2024:03:31 02:30:00"}}}});
    const QString day = view->formatExifString(night, NavFileProperty::kDate);
    setenv("TZ", "Asia/Tokyo", 1);
    tzset();
    EXPECT_EQ(day, "3/31/2024");
}

// A name from another system's disk, with a byte that is no UTF-8 ("caf\xe9.png" in Latin-1), is
// dated as a plain name is: the line shows the file's day, not nothing.
TEST_F(StatusLine, FileOfANameThatIsNotUtf8StillShowsItsDay)
{
    const QString plainName = dir.filePath("cafe.png");
    const QString rawName = decodeFileName(QFile::encodeName(dir.path()) + "/caf\xe9.png");
    for (const QString &path : {plainName, rawName}) {
        FILE *f = std::fopen(encodeFileName(path).constData(), "wb");
        ASSERT_NE(f, nullptr);
        std::fclose(f);
    }
    NavFileInfoView line(fixedWidth, bundle.get()); // the file system's own dates
    const auto info = [](const QString &path) {
        return std::make_shared<const LMFileImgBaseInfo>(LMPathString(path, false), QStringLiteral("public.png"), 0,
                                                         QDateTime::currentDateTime(), QSizeF(1, 1), 1, QVariantMap());
    };
    const QString plainDay = line.formatExifString(info(plainName), NavFileProperty::kDate);
    EXPECT_FALSE(plainDay.isEmpty());
    EXPECT_EQ(line.formatExifString(info(rawName), NavFileProperty::kDate), plainDay);
}

// Widths: name "holiday-photo-0001.jpg" = 22 chars = 154 + 5 = 159; items " | 4000x3000" = 12 chars
// = 84 + 5 = 89.
TEST_F(StatusLine, FieldsShareTheWidthNameFirst)
{
    view->setFieldFrames(QRectF(0, 3.5, 10, 17), QRectF(0, 4, 10, 16));
    view->setBounds(QRectF(0, 0, 600, 24));
    view->setMarginLeft(40, 60);
    view->setFileImgBaseInfo(file("holiday-photo-0001.jpg", 1, QSizeF(4000, 3000), 1, {}),
                             NavFileProperty::kFileName | NavFileProperty::kDimensions);

    struct Row {
        double width;
        QRectF name, items;
    };
    const Row rows[] = {
        // Room for both: centred in the whole width (not between the margins), y and height kept
        // but made whole.
        {600, QRectF(176, 3, 159, 18), QRectF(335, 4, 89, 16)},
        // A half-point origin widens the name to whole edges.
        {601, QRectF(176, 3, 160, 18), QRectF(336, 4, 89, 16)},
        // 320 - 100 = 220 available: the name gives way to 131.
        {320, QRectF(50, 3, 131, 18), QRectF(181, 4, 89, 16)},
        // 250 - 100 = 150: the name keeps 100, the items get 50.
        {250, QRectF(50, 3, 100, 18), QRectF(150, 4, 50, 16)},
        // Narrower than the name's minimum: the items get nothing, never a negative width.
        {150, QRectF(25, 3, 100, 18), QRectF(125, 4, 0, 16)},
    };
    for (const Row &row : rows) {
        view->setBounds(QRectF(0, 0, row.width, 24));
        EXPECT_EQ(view->txtFileName().frame, row.name) << row.width;
        EXPECT_EQ(view->txtExifInfo().frame, row.items) << row.width;
    }

    // New margins lay out again at once.
    view->setBounds(QRectF(0, 0, 290, 24));
    view->setMarginLeft(0, 0);
    EXPECT_EQ(view->txtFileName().frame, QRectF(21, 3, 159, 18));
}

TEST(IntegralRect, ContainsTheRectangleWithWholeEdges)
{
    EXPECT_EQ(NavFileInfoView::integralRect(QRectF(0.5, 1.2, 10, 2.1)), QRectF(0, 1, 11, 3));
    EXPECT_EQ(NavFileInfoView::integralRect(QRectF(-0.5, 0, 1, 1)), QRectF(-1, 0, 2, 1));
    EXPECT_EQ(NavFileInfoView::integralRect(QRectF(3, 4, 5, 6)), QRectF(3, 4, 5, 6));
    EXPECT_EQ(NavFileInfoView::integralRect(QRectF(2.5, 4.5, 0, 6)), QRectF(2, 4, 0, 7));
}

} // namespace
