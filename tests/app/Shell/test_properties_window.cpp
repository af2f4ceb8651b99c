// The Info panel: row texts of a file with and without EXIF, the wish to see it apart from the
// window being on screen, and its thumbnail turned and mirrored as the photo is shown.
#include "Shell/Panels/PropertiesWindowController.h"

#include "Kit/LMAutoTipsLabel.h"
#include "Kit/LMNormalCustomWindow.h"
#include "Shell/Panels/FloatingPanelWindow.h"

#include "Model/LMFileImgBaseInfo.h"
#include "Model/LMImage.h"
#include "Model/LMPhotoLoader.h"
#include "Model/NavFileInfoView.h"
#include "foundation/FileNames.h"
#include "foundation/NotificationCenter.h"
#include "imageio/ImageSource.h"

#include <QFile>
#include <QImage>
#include <QLocale>
#include <QTemporaryDir>
#include <QTest>
#include <QToolTip>
#include <QWindow>
#include <QTransform>
#include <cstdio>
#include <ctime>
#include <gtest/gtest.h>

namespace {

struct Host : PropertiesWindowHost {
    LMNavFileInfoPtr file;
    long mode = 4;
    bool allowed = true;
    bool key = true;
    bool visible = false;
    LMNavFileInfoPtr curFileInfo() const override { return file; }
    long mainShowMode() const override { return mode; }
    bool canDoAction(long) const override { return allowed; }
    bool isMainWindowKey() const override { return key; }
    void setPanelWindowVisible(bool v) override { visible = v; }
    QImage defaultImage(long kind) const override { return QImage(int(kind), 1, QImage::Format_RGB32); }
    QSizeF thumbPixelSize() const override { return place; }
    QSizeF place{184, 138};
    void panelContentChanged() override { ++contentChanges; }
    int contentChanges = 0;
};

std::shared_ptr<LMNavFileInfo> makeFile(const QString& path, const QVariantMap& properties, int orientation = 6)
{
    QImage(40, 30, QImage::Format_RGB32).save(path, "PNG");
    auto info = std::make_shared<LMNavFileInfo>(LMPathString(path, false));
    info->setImgBaseInfo(std::make_shared<LMFileImgBaseInfo>(LMPathString(path, false), "public.png", 0,
                                                             QDateTime::currentDateTime(), QSizeF(40, 30), orientation,
                                                             properties));
    return info;
}

TEST(PropertiesWindow, RowsShowFactsAndDashesWhereNothingIsKnown)
{
    QTemporaryDir dir;
    QVariantMap exif{{"DateTimeOriginal", "2021:05:04 10:11:12"}, {"FNumber", 2.8}};
    QVariantMap tiff{{"Make", "Maker "}, {"Model", "M1"}};
    const auto file = makeFile(dir.filePath("photo.png"), {{"Exif", exif}, {"TIFF", tiff}});
    EXPECT_EQ(PropertiesWindowController::infoValueByType(0, file.get()), "photo.png");
    EXPECT_EQ(PropertiesWindowController::infoValueByType(1, file.get()), "30x40"); // turned by orientation 6
    EXPECT_NE(PropertiesWindowController::infoValueByType(2, file.get()), "--");
    EXPECT_EQ(PropertiesWindowController::infoValueByType(4, file.get()), "Maker");
    EXPECT_EQ(PropertiesWindowController::infoValueByType(5, file.get()), "M1");
    EXPECT_EQ(PropertiesWindowController::infoValueByType(18, file.get()), "--");

    // No EXIF: EXIF rows are dashes and the date falls back to the file's own date.
    const auto plain = makeFile(dir.filePath("plain.png"), {});
    for (long type = 4; type < PropertiesWindowController::kItemCount; ++type)
        EXPECT_EQ(PropertiesWindowController::infoValueByType(type, plain.get()), "--") << type;
    EXPECT_NE(PropertiesWindowController::infoValueByType(2, plain.get()), "--");
    EXPECT_EQ(PropertiesWindowController::infoValueByType(3, nullptr), "--");
}

// A photo without EXIF whose name is not UTF-8 (a Latin-1 "\xe9") gets its file's day in the
// date row, as the same photo under a plain name does, not the dashes of an unknown value.
TEST(PropertiesWindow, DateRowOfANameThatIsNotUtf8IsTheFilesDay)
{
    QTemporaryDir dir;
    const auto plain = makeFile(dir.filePath("cafe.png"), {});
    const QString rawName = kpv::decodeFileName(QFile::encodeName(dir.path()) + "/caf\xe9.png");
    QFile::copy(dir.filePath("cafe.png"), dir.filePath("staging.png"));
    ASSERT_EQ(::rename(QFile::encodeName(dir.filePath("staging.png")).constData(),
                       kpv::encodeFileName(rawName).constData()), 0);
    auto raw = std::make_shared<LMNavFileInfo>(LMPathString(rawName, false));
    raw->setImgBaseInfo(std::make_shared<LMFileImgBaseInfo>(LMPathString(rawName, false), "public.png", 0,
                                                            QDateTime::currentDateTime(), QSizeF(40, 30), 1,
                                                            QVariantMap()));
    const QString day = PropertiesWindowController::infoValueByType(2, plain.get());
    EXPECT_NE(day, "--");
    EXPECT_EQ(PropertiesWindowController::infoValueByType(2, raw.get()), day);
}

// Without a date taken, the panel's date row and the status line name the same day: the file's
// own date in the user's time zone. The zone is one where the day differs from the UTC day at
// this hour, so a row in UTC would show the day before or after.
TEST(PropertiesWindow, DateRowWithoutExifIsTheDayOfTheStatusLine)
{
    const QByteArray oldZone = qgetenv("TZ");
    const bool utcBeforeTen = QDateTime::currentDateTimeUtc().time().hour() < 10;
    qputenv("TZ", utcBeforeTen ? "Etc/GMT+12" : "Pacific/Kiritimati");
    tzset();
    QTemporaryDir dir;
    const auto scan = makeFile(dir.filePath("scan.png"), {});
    NavFileInfoView statusLine([](const QString& s) { return 7.0 * s.size(); });
    const QString lineDay = statusLine.formatExifString(scan->imgBaseInfo(), NavFileProperty::kDate);
    const QString rowDay = PropertiesWindowController::infoValueByType(2, scan.get());
    if (oldZone.isNull())
        qunsetenv("TZ");
    else
        qputenv("TZ", oldZone);
    tzset();
    EXPECT_FALSE(lineDay.isEmpty());
    EXPECT_EQ(rowDay, lineDay);
}

namespace {

// One of the camera-tagged samples, its properties read as the viewer reads them.
// The locale numbers and dates are written in, for one test.
struct DefaultLocale {
    explicit DefaultLocale(const QLocale& locale) { QLocale::setDefault(locale); }
    ~DefaultLocale() { QLocale::setDefault(before); }
    const QLocale before;
};

std::shared_ptr<LMNavFileInfo> cameraFile(const char* name)
{
    const QString path = QStringLiteral(KPV_TEST_DATA_DIR "/exif/") + QLatin1String(name);
    const auto source = kpv::ImageSource::createWithFile(path);
    if (!source)
        return nullptr;
    auto file = std::make_shared<LMNavFileInfo>(LMPathString(path, false));
    file->setImgBaseInfo(std::make_shared<LMFileImgBaseInfo>(LMPathString(path, false), "public.jpeg", 2, QDateTime::currentDateTime(),
                                                             QSizeF(16, 12), 1, source->propertiesAtIndex(0)));
    return file;
}

// A sample file as the viewer opens it: its base information read by the photo loader, so
// that the size row is the upright size the loader gives.
std::shared_ptr<LMNavFileInfo> openedFile(const char* name)
{
    const LMPathString path(QStringLiteral(KPV_TEST_DATA_DIR "/exif/") + QLatin1String(name), false);
    const LMPhotoLoader loader;
    auto base = loader.loadImgBaseInfo(path, nullptr);
    if (!base)
        return nullptr;
    auto file = std::make_shared<LMNavFileInfo>(path);
    file->setImgBaseInfo(base);
    return file;
}

} // namespace

// Files written by a metadata tool as cameras write them, one ISO rating and a list of two,
// read as the viewer reads them: the rows give what that tool reports for ISO, the time taken
// (to the second) and the position (northern and eastern, southern and western).
TEST(PropertiesWindow, RowsGiveIsoTimeAndPositionOfCameraFiles)
{
    const DefaultLocale locale(QLocale(QLocale::English, QLocale::UnitedKingdom));
    struct Row {
        const char* file;
        const char* iso;
        const char* taken;
        const char* position;
    };
    const Row rows[] = {
        {"camera-single-iso.jpg", "200", "14/06/2023 18:42:07", "48°51′29.6″ N, 2°17′40.2″ E"},
        {"camera-iso-list.jpg", "1600", "31/12/1999 23:59:59", "33°51′24.5″ S, 151°12′55.1″ W"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.file);
        const auto file = cameraFile(r.file);
        ASSERT_TRUE(file);
        EXPECT_EQ(PropertiesWindowController::infoValueByType(8, file.get()), QString::fromUtf8(r.iso));
        EXPECT_EQ(PropertiesWindowController::infoValueByType(2, file.get()), QString::fromUtf8(r.taken));
        EXPECT_EQ(PropertiesWindowController::infoValueByType(19, file.get()), QString::fromUtf8(r.position));
    }
}

// A value the camera wrote as not known (a zero denominator) shows as not known, never as a zero
// ("F/0", "0 EV", a latitude of 48°0′ for 48° and unknown minutes), and the values the camera
// knew still show.
TEST(PropertiesWindow, ValuesTheCameraDidNotKnowShowAsUnknown)
{
    const auto file = cameraFile("camera-unknown-values.jpg");
    ASSERT_TRUE(file);
    EXPECT_EQ(PropertiesWindowController::infoValueByType(6, file.get()), "--"); // aperture
    EXPECT_EQ(PropertiesWindowController::infoValueByType(9, file.get()), "--"); // exposure bias
    EXPECT_EQ(PropertiesWindowController::infoValueByType(15, file.get()), "--"); // brightness
    EXPECT_EQ(PropertiesWindowController::infoValueByType(19, file.get()), "--"); // position
    EXPECT_EQ(PropertiesWindowController::infoValueByType(7, file.get()), "1/320s");
}

// A manual lens tells the camera no aperture or focal length, and the camera then writes 0 for
// them: not known, never "F/0" or "0 mm"; an ISO rating of 0 likewise.
TEST(PropertiesWindow, ManualLensShowsNoApertureOrFocalLength)
{
    const auto file = cameraFile("camera-manual-lens.jpg");
    ASSERT_TRUE(file);
    for (long type : {6L, 8L, 10L})
        EXPECT_EQ(PropertiesWindowController::infoValueByType(type, file.get()), "--") << type;
    EXPECT_EQ(PropertiesWindowController::infoValueByType(7, file.get()), "1/125s");
}

// Names a camera filled with blanks show as not known, not as empty rows.
TEST(PropertiesWindow, BlankNamesShowAsUnknown)
{
    const auto file = cameraFile("camera-blank-names.jpg");
    ASSERT_TRUE(file);
    EXPECT_EQ(PropertiesWindowController::infoValueByType(4, file.get()), "Kestrel Optics");
    EXPECT_EQ(PropertiesWindowController::infoValueByType(5, file.get()), "--");
    EXPECT_EQ(PropertiesWindowController::infoValueByType(18, file.get()), "--");
}

// Control characters in a name (a terminal's escape, a tab, a line break) neither break a row in
// two nor show as boxes: a tab or line break reads as a blank, the others are left out.
TEST(PropertiesWindow, NamesShowWithoutControlCharacters)
{
    const auto file = cameraFile("camera-control-characters.jpg");
    ASSERT_TRUE(file);
    EXPECT_EQ(PropertiesWindowController::infoValueByType(4, file.get()), "Kestrel[1m Optics");
    EXPECT_EQ(PropertiesWindowController::infoValueByType(5, file.get()), "KX-9");
    EXPECT_EQ(PropertiesWindowController::infoValueByType(18, file.get()), "KX 24mm F5.6");
}

// A photo as a camera writes it, every row as the camera showed it: a sensitivity above 65535
// (the rating full, the value in a newer tag), a third of a stop down, and two-decimal values that
// a float holds a little low (4.2 is 4.1999998 as a float), and a maker's name written in Latin-1
// by an older tool.
TEST(PropertiesWindow, RowsShowWhatTheCameraShowed)
{
    const auto file = cameraFile("camera-rows.jpg");
    ASSERT_TRUE(file);
    const DefaultLocale locale(QLocale(QLocale::English, QLocale::UnitedKingdom)); // F/4.2, not F/4,2
    const std::pair<long, const char*> rows[] = {
        {4, "Soci\u00e9t\u00e9"}, {6, "F/4.2"}, {7, "1/8000s"}, {8, "204800"}, {9, "-0.4 EV"}, {10, "4.7 mm"}, {15, "-9.6"},
    };
    for (const auto& [type, text] : rows)
        EXPECT_EQ(PropertiesWindowController::infoValueByType(type, file.get()), QString::fromUtf8(text)) << type;
}

// A photo whose camera facts a program kept in the XMP packet alone shows them as it shows those
// of the EXIF block.
TEST(PropertiesWindow, FactsKeptOnlyInXmpShow)
{
    const auto file = cameraFile("camera-xmp-only.jpg");
    ASSERT_TRUE(file);
    const DefaultLocale locale(QLocale(QLocale::English, QLocale::UnitedKingdom));
    const std::pair<long, const char*> rows[] = {{2, "03/02/2020 04:05:06"}, {4, "Kestrel Optics"}, {6, "F/4"},
                                                 {7, "1/60s"}, {19, "33°51′24.5″ S, 151°12′55.1″ W"}};
    for (const auto& [type, text] : rows)
        EXPECT_EQ(PropertiesWindowController::infoValueByType(type, file.get()), QString::fromUtf8(text)) << type;
}

// A TIFF of 64-bit offsets, as scanners and slide readers write them, shows every row a classic
// TIFF shows, in either byte order, and its size upright (the page is turned a quarter); the
// values are those the metadata tools read from the same tags. A damaged one shows the rows its
// sound tags give and leaves out a text that runs past the end, a directory that points back at
// another and a 64-bit number no row can hold.
TEST(PropertiesWindow, BigTiffShowsItsRows)
{
    const DefaultLocale locale(QLocale(QLocale::English, QLocale::UnitedKingdom));
    const std::vector<std::pair<long, const char*>> rows = {
        {1, "6x8"}, {2, "04/05/2021 10:11:12"}, {4, "Kestrel Optics"}, {5, "KX-9 Scan"}, {6, "F/5.6"}, {7, "1/500s"},
        {8, "800"}, {9, "-0.4 EV"}, {10, "24 mm"}, {11, "Flash fired"}, {12, "Spot"}, {14, "Manual"}, {15, "-0.25"},
        {18, "KX 24mm F5.6"}, {19, "33°51′24.5″ S, 151°12′55.1″ W"}};
    for (const char* name : {"bigtiff-little-endian.tif", "bigtiff-big-endian.tif"}) {
        SCOPED_TRACE(name);
        const auto file = openedFile(name);
        ASSERT_TRUE(file);
        for (const auto& [type, text] : rows)
            EXPECT_EQ(PropertiesWindowController::infoValueByType(type, file.get()), QString::fromUtf8(text)) << type;
    }
    const auto damaged = openedFile("bigtiff-damaged-metadata.tif");
    ASSERT_TRUE(damaged);
    for (const auto& [type, text] : rows) {
        const bool lost = type == 5 || type == 8 || type == 18 || type == 19;
        EXPECT_EQ(PropertiesWindowController::infoValueByType(type, damaged.get()), lost ? "--" : QString::fromUtf8(text)) << type;
    }
}

// A position whose file names no hemisphere shows its degrees without a letter, as the metadata
// tools show it, instead of a guessed north and east that would place a photo from Los Angeles
// in China.
TEST(PropertiesWindow, PositionWithoutHemisphereGuessesNone)
{
    const auto file = cameraFile("camera-position-no-refs.jpg");
    ASSERT_TRUE(file);
    const DefaultLocale locale(QLocale(QLocale::English, QLocale::UnitedKingdom));
    EXPECT_EQ(PropertiesWindowController::infoValueByType(19, file.get()), QString::fromUtf8("34°3′0.0″, 118°15′0.0″"));
}

// A German user reads every number of the panel with a decimal comma, the aperture's as the
// exposure's, bias's, focal length's, brightness's and the position's seconds.
TEST(PropertiesWindow, NumbersTakeTheUsersDecimalComma)
{
    const auto rows = cameraFile("camera-rows.jpg");
    const auto placed = cameraFile("camera-single-iso.jpg");
    ASSERT_TRUE(rows && placed);
    const DefaultLocale locale(QLocale(QLocale::German, QLocale::Germany));
    const std::pair<long, const char*> expected[] = {{6, "F/4,2"}, {9, "-0,4 EV"}, {10, "4,7 mm"}, {15, "-9,6"}};
    for (const auto& [type, text] : expected)
        EXPECT_EQ(PropertiesWindowController::infoValueByType(type, rows.get()), QString::fromUtf8(text)) << type;
    EXPECT_EQ(PropertiesWindowController::infoValueByType(19, placed.get()), QString::fromUtf8("48°51′29,6″ N, 2°17′40,2″ E"));
}

// Seconds follow the minutes with the locale's own separator: a point in Finnish.
TEST(PropertiesWindow, DateRowKeepsTheLocalesTimeSeparator)
{
    QTemporaryDir dir;
    const auto file = makeFile(dir.filePath("photo.png"), {{"Exif", QVariantMap{{"DateTimeOriginal", "2021:05:04 10:11:12"}}}});
    const DefaultLocale locale(QLocale(QLocale::Finnish, QLocale::Finland));
    EXPECT_EQ(PropertiesWindowController::infoValueByType(2, file.get()), "4.5.2021 10.11.12");
}

TEST(PropertiesWindow, WindowFollowsFocusWithinTheWish)
{
    Host host;
    kpv::NotificationCenter center;
    int app = 0, window = 0;
    PropertiesWindowController panel(host, center, &app, &window);
    center.postNotification("windowDidBecomeKey", &window);
    EXPECT_FALSE(host.visible); // no wish yet
    panel.show();
    EXPECT_TRUE(host.visible);
    center.postNotification("applicationWillResignActive", &app);
    EXPECT_FALSE(host.visible);
    EXPECT_TRUE(panel.showStatus());
    center.postNotification("applicationWillBecomeActive", &app);
    EXPECT_TRUE(host.visible);
    center.postNotification("didChangeMainShowMode", nullptr, {{"new", 8}});
    EXPECT_FALSE(host.visible);
    host.allowed = false;
    center.postNotification("didChangeMainShowMode", nullptr, {{"new", 4}});
    EXPECT_FALSE(host.visible); // the Properties command is not allowed now
    panel.hide();
    EXPECT_FALSE(panel.showStatus());
}

TEST(PropertiesWindow, NoImageGivesEmptyHistogramAndPlaceholderThumb)
{
    QTemporaryDir dir;
    Host host;
    host.file = makeFile(dir.filePath("a.png"), {});
    kpv::NotificationCenter center;
    PropertiesWindowController panel(host, center, nullptr, nullptr);
    panel.show();
    EXPECT_EQ(panel.thumbImage().width(), 1); // not loaded yet
    EXPECT_EQ(panel.grayHistogramView().grayHistogramDataInfos().maxGrayValue, 0);
    EXPECT_EQ(panel.lastImageForGrayHistogram(), nullptr);
    EXPECT_EQ(panel.infoValue(0), "a.png");
}

TEST(PropertiesWindow, ThumbShowsThePhotoTheWayTheViewDoesMirrorsIncluded)
{
    // A 4 x 2 picture stored with its top-left pixel marked; where the mark must appear once the
    // file's orientation is applied, from the meaning of each orientation number.
    struct Row {
        int orientation;
        QSize size;
        QPoint mark;
    };
    const Row rows[] = {{1, {4, 2}, {0, 0}}, {2, {4, 2}, {3, 0}}, {3, {4, 2}, {3, 1}}, {4, {4, 2}, {0, 1}},
                        {5, {2, 4}, {0, 0}}, {6, {2, 4}, {1, 0}}, {7, {2, 4}, {1, 3}}, {8, {2, 4}, {0, 3}}};
    QTemporaryDir dir;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.orientation);
        Host host;
        host.file = makeFile(dir.filePath("a.png"), {}, row.orientation);
        QImage stored(4, 2, QImage::Format_RGB32);
        stored.fill(Qt::blue);
        stored.setPixel(0, 0, qRgb(255, 0, 0));
        host.file->setImage(std::make_shared<LMImage>(stored, host.file->imgBaseInfo()), false, 8, 0);
        kpv::NotificationCenter center;
        PropertiesWindowController panel(host, center, nullptr, nullptr);
        panel.show();
        // The panel's image view turns the image clockwise by the angle it is given.
        QImage shown = panel.thumbImage();
        if (panel.thumbAngle() != 0)
            shown = shown.transformed(QTransform().rotate(double(panel.thumbAngle())));
        ASSERT_EQ(shown.size(), row.size);
        for (int y = 0; y < shown.height(); ++y)
            for (int x = 0; x < shown.width(); ++x)
                EXPECT_EQ(qRed(shown.pixel(x, y)) > 128, QPoint(x, y) == row.mark) << x << "," << y;
    }
}

TEST(PropertiesWindow, ThumbOnADenseScreenIsTheFittedPictureBroughtDownNotTheSmallOneEnlarged)
{
    QTemporaryDir dir;
    Host host;
    host.file = makeFile(dir.filePath("a.png"), {}); // turned a quarter
    host.file->setImage(std::make_shared<LMImage>(QImage(40, 30, QImage::Format_RGB32), host.file->imgBaseInfo()),
                        false, 8, 0);
    kpv::NotificationCenter center;
    PropertiesWindowController panel(host, center, nullptr, nullptr);
    host.place = QSizeF(30, 20); // plain: the small thumbnail is already too big
    panel.show();
    EXPECT_EQ(panel.thumbImage().size(), QSize(40, 30));

    // Twice as dense: its place is now larger than the small thumbnail, turned as the photo.
    host.place = QSizeF(300, 400);
    host.file->setImage(std::make_shared<LMImage>(QImage(800, 600, QImage::Format_RGB32), host.file->imgBaseInfo()),
                        false, 10, 0);
    center.postNotification(QStringLiteral("didLoadImage"), nullptr,
                            {{QStringLiteral("filePath"), QVariant::fromValue(host.file->filePath())},
                             {QStringLiteral("ImageScaleType"), 10}});
    EXPECT_EQ(panel.thumbImage().size(), QSize(400, 300));
    EXPECT_EQ(panel.thumbAngle(), 90);
}

}  // namespace

// The floating panels never become the active window; a row cut short still shows its whole
// text as the pointer rests on it.
TEST(FloatingPanel, ARowCutShortShowsItsTipThoughThePanelIsNeverActive)
{
    LMNormalCustomWindow panel(kpv::Rect(0, 0, 330, 100));
    makeFloatingPanelWindow(panel, nullptr);
    auto* row = new LMAutoTipsLabel(kpv::Rect(10, 40, 100, 17));
    panel.contentView()->addSubview(row);
    row->setStringValue(QString(80, u'x') + QStringLiteral("-end.jpg"));
    panel.orderFront();
    QWidget main; // the main window, active
    main.setGeometry(400, 0, 200, 200);
    main.show();
    main.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&main) && !panel.widget()->isActiveWindow());
    QWindow* window = panel.widget()->windowHandle();
    QTest::mouseMove(window, window->mapFromGlobal(row->widget()->mapToGlobal(QPoint(10, 8))));
    EXPECT_TRUE(QTest::qWaitFor([] { return QToolTip::isVisible() && QToolTip::text().contains("-end.jpg"); }, 5000));
    QToolTip::hideText();
}
