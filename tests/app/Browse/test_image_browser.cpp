// The image browser: grid arithmetic, overlays that follow the visible cells, and the
// thumbnail mode's items, commands and list changes.
#include "browse_support.h"

#include "Browse/FavImageBrowserView.h"
#include "Browse/LMImageBrowserItem.h"
#include "Browse/LMImageBrowserLayout.h"
#include "Browse/ThumbnailViewController.h"

#include "Kit/LMButton.h"
#include "Kit/LMImageBrowserExtraItemViewController.h"
#include "Kit/LMThumbZoomSlider.h"
#include "appkit/Control.h"
#include "appkit/Event.h"
#include "appkit/Menu.h"
#include "appkit/Pasteboard.h"
#include "foundation/Clock.h"
#include "foundation/NotificationCenter.h"
#include "foundation/RunLoop.h"
#include "appkit/Window.h"
#include "imageio/FileAccess.h"
#include "imageio/Thumbnailer.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QThread>

#include <exiv2/exiv2.hpp>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <tuple>

namespace {

LMPathString P(const QString& s)
{
    return LMPathString(s, false);
}

TEST(ImageBrowserLayout, ColumnsCellsAndHits)
{
    LMImageBrowserLayout l;
    l.cellSize = {100, 75};
    l.viewWidth = 12 + 100 + 16 + 100 + 12 + 5;
    l.itemCount = 5;
    EXPECT_EQ(l.columns(), 2u);
    EXPECT_EQ(l.rows(), 3u);
    // The 5 points to spare are shared out: 2.5 more per column slot, half on each side of a cell.
    EXPECT_EQ(l.cellFrame(3), kpv::Rect(12 + 1.25 + 118.5, 12 + 91, 100, 75));
    EXPECT_EQ(l.cellFrame(5), kpv::Rect());
    EXPECT_EQ(l.indexAtPoint({12 + 116 + 5, 12 + 91 + 5}), 3u);
    EXPECT_EQ(l.indexAtPoint({12 + 105, 20}), LMImageBrowserLayout::kNotFound) << "the gap between cells";
    EXPECT_EQ(l.indexAtPoint({130, 12 + 2 * 91 + 5}), LMImageBrowserLayout::kNotFound) << "past the last item";
    l.viewWidth = 10;
    EXPECT_EQ(l.columns(), 1u) << "at least one column";

    l.viewWidth = 1000;
    l.itemCount = 100;
    const auto visible = l.visibleIndexes(500, 300);
    ASSERT_FALSE(visible.empty());
    for (std::size_t i : visible) {
        const kpv::Rect f = l.cellFrame(i);
        EXPECT_TRUE(f.maxY() > 500 && f.minY() < 800);
    }
    EXPECT_EQ(l.imageFrame(0, {200, 100}), kpv::Rect(12 + 4, 12 + 12, 100, 50)) << "fitted by aspect, centred";
}

TEST(ImageBrowserOverlay, MarginsAroundThePicture)
{
    EXPECT_EQ(LMImageBrowserView::extraItemViewFrame(kpv::Rect(100, 50, 80, 60), {7, 6}, {12, 12}, false),
              kpv::Rect(93, 38, 99, 78));
    EXPECT_EQ(LMImageBrowserView::extraItemViewFrame(kpv::Rect(100, 50, 80, 60), {7, 6}, {12, 12}, true),
              kpv::Rect(93, 44, 99, 78));
}

struct Item : LMImageBrowserItem {
    QString uid;
    QString path; // the picture's file; none by default
    QString imageUID() const override { return uid; }
    QString imageRepresentation() const override { return path.isEmpty() ? QStringLiteral("/nonexistent/") + uid : path; }
};

struct Source : LMImageBrowserDataSource, LMImageBrowserDelegate {
    std::vector<std::unique_ptr<Item>> items;
    int made = 0;
    bool plainViews = false;
    std::size_t numberOfItemsInImageBrowser(LMImageBrowserView*) override { return items.size(); }
    LMImageBrowserItem* imageBrowserItemAtIndex(LMImageBrowserView*, std::size_t i) override { return items[i].get(); }
    std::unique_ptr<LMImageBrowserExtraItemViewController> extraItemViewControllerForImageBrowserView(LMImageBrowserView*) override
    {
        if (plainViews)
            return nullptr;
        ++made;
        return std::make_unique<LMImageBrowserExtraItemViewController>();
    }
    std::unique_ptr<kpv::View> extraItemViewForImageBrowserView(LMImageBrowserView*) override
    {
        ++made;
        return std::make_unique<kpv::View>();
    }
};

// However wide the window, the columns reach across it: the room left over by whole columns is
// shared out, so the first column stands as far from the left edge as the last from the scroller,
// and no cell lies under the scroller.
TEST(ImageBrowserLayout, ColumnsSpreadOverTheWidthAndKeepClearOfTheScroller)
{
    Source src;
    for (int i = 0; i < 60; ++i)
        src.items.push_back(std::make_unique<Item>());
    LMImageBrowserView browser(kpv::Rect(0, 0, 1600, 900));
    browser.setCellSize({192, 144});
    auto* scroller = new kpv::Scroller();
    browser.setVerticalScroller(scroller);
    browser.setDataSource(&src);
    browser.reloadData();
    for (const double width : {640.0, 1285.0, 1600.0}) {
        browser.setFrame(kpv::Rect(0, 0, width, 900));
        ASSERT_FALSE(scroller->isHidden());
        const std::size_t columns = browser.layout().columns();
        const kpv::Rect first = browser.itemFrameAtIndex(0), last = browser.itemFrameAtIndex(columns - 1);
        const double right = scroller->frame().minX();
        EXPECT_NEAR(first.minX(), right - last.maxX(), 0.5) << width;
        EXPECT_LT(right - last.maxX(), 12 + 192 + 16) << "less than a column's room is spare at " << width;
        EXPECT_EQ(browser.indexOfItemAtPoint({last.midX(), last.midY()}), columns - 1) << width;
    }
}

TEST(ImageBrowserOverlay, OverlaysAreReusedWhileScrolling)
{
    for (bool plain : {false, true}) {
        Source src;
        src.plainViews = plain;
        for (int i = 0; i < 100; ++i) {
            src.items.push_back(std::make_unique<Item>());
            src.items.back()->uid = QStringLiteral("item%1").arg(i);
        }
        LMImageBrowserView browser(kpv::Rect(0, 0, 12 + 4 * 116, 400));
        browser.setCellSize({100, 75});
        browser.setLoadsPicturesSynchronously(true);
        browser.setDataSource(&src);
        browser.setDelegate(&src);
        browser.reloadData();
        const std::size_t visibleAtOnce = browser.visibleItemIndexes().size();
        EXPECT_EQ(browser.extraItemViewCount(), visibleAtOnce);
        kpv::View* first = browser.extraItemViewForImageUID("item0");
        ASSERT_TRUE(first);
        browser.updateItemUI();
        EXPECT_EQ(browser.extraItemViewForImageUID("item0"), first) << "a visible item keeps its overlay";

        std::size_t maxVisible = visibleAtOnce;
        for (double y = 0; y < 2500; y += 37) {
            browser.setScrollOffset(y);
            maxVisible = std::max(maxVisible, browser.visibleItemIndexes().size());
        }
        EXPECT_LE(std::size_t(src.made), maxVisible * 2);
        EXPECT_EQ(browser.extraItemViewCount() + browser.extraItemViewPoolSize(), std::size_t(src.made));

        // A changed identifier gets another overlay; the old one goes to the pool.
        browser.setScrollOffset(0);
        kpv::View* before = browser.extraItemViewForImageUID("item1");
        src.items[1]->uid = "item1-modified";
        browser.updateItemUI();
        EXPECT_EQ(browser.extraItemViewForImageUID("item1"), nullptr);
        EXPECT_TRUE(browser.extraItemViewForImageUID("item1-modified"));
        EXPECT_NE(before, nullptr);
    }
}

// A browser over `count` items whose pictures are real files in `dir`.
struct PictureGrid {
    QTemporaryDir dir;
    Source src;
    std::unique_ptr<LMImageBrowserView> browser;
    explicit PictureGrid(int count, bool sync)
    {
        for (int i = 0; i < count; ++i) {
            auto item = std::make_unique<Item>();
            item->uid = QStringLiteral("p%1").arg(i);
            item->path = dir.filePath(QStringLiteral("p%1.jpg").arg(i));
            writeTestJpeg(item->path, 64, 48);
            src.items.push_back(std::move(item));
        }
        src.plainViews = true;
        browser = std::make_unique<LMImageBrowserView>(kpv::Rect(0, 0, 12 + 4 * 116, 300));
        browser->setCellSize({100, 75});
        browser->setLoadsPicturesSynchronously(sync);
        browser->setDataSource(&src);
        browser->reloadData();
    }
};

TEST(ImageBrowserPictures, CacheStaysWithinItsBudgetAndKeepsWhatIsInSight)
{
    PictureGrid grid(200, true);
    LMImageBrowserView& browser = *grid.browser;
    browser.requestVisiblePictures();
    const std::size_t onScreen = browser.visibleItemIndexes().size();
    ASSERT_GT(onScreen, 4u);
    ASSERT_EQ(browser.pictureCacheCount(), onScreen);
    const qsizetype perPicture = browser.pictureCacheBytes() / qsizetype(onScreen);
    ASSERT_GT(perPicture, 64 * 48 * 3) << "a picture is counted with its pixels";

    // Room for two screens' worth: scrolling through everything never holds more.
    browser.setPictureCacheBudget(perPicture * qsizetype(onScreen) * 2);
    for (double y = 0; y < 200 / 4 * 91; y += 45) {
        browser.setScrollOffset(y);
        browser.requestVisiblePictures();
        EXPECT_LE(browser.pictureCacheBytes(), browser.pictureCacheBudget()) << "at offset " << y;
        for (std::size_t i : browser.visibleItemIndexes())
            EXPECT_FALSE(browser.cachedPicture(grid.src.items[i]->uid).isNull()) << "visible item " << i;
    }
    EXPECT_FALSE(browser.hasCachedPicture("p0")) << "the least recently drawn pictures went first";

    // Back at the top the first pictures are read again.
    browser.setScrollOffset(0);
    browser.requestVisiblePictures();
    EXPECT_FALSE(browser.cachedPicture("p0").isNull());

    // A budget smaller than one screen still keeps the screen.
    browser.setPictureCacheBudget(1);
    EXPECT_EQ(browser.pictureCacheCount(), browser.visibleItemIndexes().size());
}

// Painting scales each picture once to its cell and copies it from then on: what is on screen is
// the picture in its frame, after scrolling too, and the scaled copies count against the budget.
TEST(ImageBrowserPictures, PaintedPicturesFillTheirFramesAndStayWithinTheBudget)
{
    PictureGrid grid(120, true);
    LMImageBrowserView& browser = *grid.browser;
    browser.requestVisiblePictures();
    const qsizetype unpainted = browser.pictureCacheBytes();
    const std::size_t onScreen = browser.visibleItemIndexes().size();
    // Room for a few screens: the pictures in sight are always kept, scaled copies and all.
    browser.setPictureCacheBudget(unpainted * 8);
    auto checkScreen = [&](const char* when) {
        const QImage shot = browser.renderToImage(1.0);
        for (std::size_t i : browser.visibleItemIndexes()) {
            const kpv::Rect f = browser.itemImageFrameAtIndex(i);
            if (f.y() < 2 || f.y() + f.height() > browser.bounds().height() - 2)
                continue; // cut by the edge of the view
            const QImage picture = browser.cachedPicture(grid.src.items[i]->uid);
            ASSERT_FALSE(picture.isNull()) << when << ", item " << i;
            // The middle of the frame shows the middle of the picture (the view is flipped).
            const QColor want = picture.pixelColor(picture.width() / 2, picture.height() / 2);
            const QColor got = shot.pixelColor(int(f.x() + f.width() / 2), int(f.y() + f.height() / 2));
            EXPECT_NEAR(got.red(), want.red(), 24) << when << ", item " << i;
            EXPECT_NEAR(got.green(), want.green(), 24) << when << ", item " << i;
            EXPECT_NEAR(got.blue(), want.blue(), 24) << when << ", item " << i;
        }
        EXPECT_LE(browser.pictureCacheBytes(), browser.pictureCacheBudget()) << when;
    };
    ASSERT_NO_FATAL_FAILURE(checkScreen("first paint"));
    EXPECT_GT(browser.pictureCacheBytes(), unpainted) << "the scaled copies are counted";
    for (double y = 37; y < 120 / 4 * 91; y += 137) {
        browser.setScrollOffset(y);
        browser.requestVisiblePictures();
        ASSERT_NO_FATAL_FAILURE(checkScreen("scrolled"));
    }
    EXPECT_GE(browser.pictureCacheCount(), onScreen);
}

TEST(ImageBrowserPictures, PicturesAreReadAtTheCellsSize)
{
    QTemporaryDir dir;
    Source src;
    src.plainViews = true;
    auto item = std::make_unique<Item>();
    item->uid = "big";
    item->path = dir.filePath("big.jpg");
    writeTestJpeg(item->path, 640, 480);
    src.items.push_back(std::move(item));
    LMImageBrowserView browser(kpv::Rect(0, 0, 800, 600));
    browser.setLoadsPicturesSynchronously(true);
    browser.setDataSource(&src);
    browser.setCellSize({100, 75});
    browser.reloadData();
    EXPECT_EQ(browser.pictureMaxPixels(), 128) << "the cell's side rounded up to the next step";
    browser.requestVisiblePictures();
    EXPECT_EQ(browser.cachedPicture("big").width(), 128);
    const qsizetype small = browser.pictureCacheBytes();

    // Slightly larger cells keep the picture; much larger ones read a sharper one.
    browser.setCellSize({120, 90});
    browser.requestVisiblePictures();
    EXPECT_EQ(browser.cachedPicture("big").width(), 128);
    browser.setCellSize({300, 225});
    browser.requestVisiblePictures();
    EXPECT_EQ(browser.cachedPicture("big").width(), 320);
    EXPECT_GT(browser.pictureCacheBytes(), small) << "the cache counts the replacement, not both";
    EXPECT_LT(browser.pictureCacheBytes(), small + 320 * 240 * 4 + 1024);
    // A file smaller than the cell is read once, whatever the zoom.
    browser.setCellSize({800, 600});
    EXPECT_EQ(browser.pictureMaxPixels(), 832);
    browser.requestVisiblePictures();
    EXPECT_EQ(browser.cachedPicture("big").width(), 640);
    const QImage kept = browser.cachedPicture("big");
    browser.requestVisiblePictures();
    EXPECT_EQ(browser.cachedPicture("big").cacheKey(), kept.cacheKey()) << "not read again";
}

// A camera's photo carries a small thumbnail of its own, here with black bars above and below it,
// and the desktop's cache keeps pictures of 256 pixels: neither stands, enlarged, for a larger cell.
TEST(ImageBrowserPictures, ThumbnailsSmallerThanTheCellGiveWayToThePhoto)
{
    QTemporaryDir dir;
    kpv::Thumbnailer::setCacheDirectoryForTesting(dir.filePath("cache"));
    const QString path = dir.filePath("camera.jpg");
    QImage photo(1500, 1000, QImage::Format_RGB32);
    photo.fill(Qt::white);
    QPainter(&photo).fillRect(0, 0, 1500, 90, Qt::red);
    ASSERT_TRUE(photo.save(path, "JPEG", 95));
    QImage small(160, 120, QImage::Format_RGB32);
    small.fill(Qt::black);
    QPainter(&small).drawImage(QRect(0, 7, 160, 107), photo);
    QByteArray smallJpeg;
    QBuffer buffer(&smallJpeg);
    ASSERT_TRUE(buffer.open(QIODevice::WriteOnly) && small.save(&buffer, "JPEG"));
    {
        auto meta = Exiv2::ImageFactory::open(QFile::encodeName(path).toStdString());
        meta->readMetadata();
        Exiv2::ExifThumb(meta->exifData())
            .setJpegThumbnail(reinterpret_cast<const Exiv2::byte*>(smallJpeg.constData()), long(smallJpeg.size()));
        meta->writeMetadata();
    }
    ASSERT_EQ(kpv::Thumbnailer::storedThumbnail(path, 256).width(), 160);

    Source src;
    src.plainViews = true;
    src.items.push_back(std::make_unique<Item>());
    src.items.back()->uid = "camera";
    src.items.back()->path = path;
    LMImageBrowserView browser(kpv::Rect(0, 0, 1400, 900));
    browser.setLoadsPicturesSynchronously(true);
    browser.setDataSource(&src);
    browser.setCellSize({192, 144});
    browser.reloadData();
    browser.requestVisiblePictures();
    QImage shown = browser.cachedPicture("camera");
    EXPECT_EQ(shown.size(), QSize(192, 128)) << "the photo's shape, not its thumbnail's";
    EXPECT_GT(qRed(shown.pixel(96, 3)), 200) << "the photo's own top, not a bar";
    EXPECT_LT(qGreen(shown.pixel(96, 3)), 80);

    // The cache's picture of 256 pixels, for a cell that wants 640.
    const QFileInfo file(path);
    kpv::Thumbnailer::storeThumbnail(path, photo.scaledToWidth(256, Qt::SmoothTransformation), 1,
                                     file.lastModified().toSecsSinceEpoch(), file.size());
    ASSERT_EQ(kpv::Thumbnailer::cachedThumbnail(path, 640, 1).width(), 256);
    browser.setCellSize({600, 450});
    browser.requestVisiblePictures();
    EXPECT_EQ(browser.cachedPicture("camera").width(), 640);
    kpv::Thumbnailer::setCacheDirectoryForTesting(QString());
}

// At the smallest cells a camera's thumbnail is large enough to stand for the photo, but only for
// what the photo shows: its black bars are cut away, and one left behind by a program that turned
// the photo (another shape, no bars) gives way to the photo itself.
TEST(ImageBrowserPictures, SmallCellsShowThePhotoNotTheBarsOrAnOldShapeOfItsThumbnail)
{
    QTemporaryDir dir;
    kpv::Thumbnailer::setCacheDirectoryForTesting(dir.filePath("cache"));
    QImage photo(1500, 1000, QImage::Format_RGB32), barred(160, 120, QImage::Format_RGB32);
    photo.fill(Qt::white);
    QPainter(&photo).fillRect(0, 0, 1500, 90, Qt::red);
    barred.fill(Qt::black);
    QPainter(&barred).drawImage(QRect(0, 7, 160, 107), photo);
    QImage turned(1000, 1500, QImage::Format_RGB32), old(160, 120, QImage::Format_RGB32);
    turned.fill(QColor(255, 160, 0));
    old.fill(Qt::blue);
    Source src;
    src.plainViews = true;
    for (const auto& [name, picture, thumb] : {std::tuple{"barred", photo, barred}, std::tuple{"turned", turned, old}}) {
        src.items.push_back(std::make_unique<Item>());
        src.items.back()->uid = name;
        src.items.back()->path = dir.filePath(QString::fromLatin1(name) + ".jpg");
        QByteArray jpeg;
        QBuffer buffer(&jpeg);
        ASSERT_TRUE(picture.save(src.items.back()->path, "JPEG", 95) && buffer.open(QIODevice::WriteOnly) && thumb.save(&buffer, "JPEG"));
        auto meta = Exiv2::ImageFactory::open(QFile::encodeName(src.items.back()->path).toStdString());
        meta->readMetadata();
        Exiv2::ExifThumb(meta->exifData()).setJpegThumbnail(reinterpret_cast<const Exiv2::byte*>(jpeg.constData()), long(jpeg.size()));
        meta->writeMetadata();
    }
    LMImageBrowserView browser(kpv::Rect(0, 0, 800, 600));
    browser.setLoadsPicturesSynchronously(true);
    browser.setDataSource(&src);
    browser.setCellSize({92, 69});
    browser.reloadData();
    browser.requestVisiblePictures();
    const QImage shown = browser.cachedPicture("barred");
    EXPECT_EQ(shown.width(), 128);
    EXPECT_NEAR(shown.height(), 85, 1) << "the photo's shape, not its thumbnail's";
    EXPECT_GT(qRed(shown.pixel(64, 1)), 200) << "the photo's own top, not a bar";
    EXPECT_GT(qGreen(shown.pixel(64, shown.height() - 2)), 200) << "the photo's own bottom, not a bar";
    const QImage upright = browser.cachedPicture("turned");
    EXPECT_EQ(upright.size(), QSize(85, 128)) << "the photo's shape now, not the one its thumbnail kept";
    EXPECT_LT(qBlue(upright.pixel(40, 60)), 80) << "the photo, not the old thumbnail";
    kpv::Thumbnailer::setCacheDirectoryForTesting(QString());
}

TEST(ImageBrowserPictures, LoadsOfCellsScrolledPastAreGivenUp)
{
    PictureGrid grid(400, false);
    LMImageBrowserView& browser = *grid.browser;
    browser.requestVisiblePictures();
    const std::vector<std::size_t> first = browser.visibleItemIndexes();
    browser.setScrollOffset(300 * 91 / 4.0);
    browser.requestVisiblePictures();
    EXPECT_EQ(browser.pendingPictureCount(), browser.visibleItemIndexes().size())
        << "only the cells in sight wait for pictures";
    // Wait for the loads still wanted; a load that finished after it was given up is dropped.
    QDeadlineTimer deadline(20000);
    while (browser.pendingPictureCount() > 0 && !deadline.hasExpired())
        drainMainRunLoop();
    ASSERT_EQ(browser.pendingPictureCount(), 0u);
    for (std::size_t i : browser.visibleItemIndexes())
        EXPECT_FALSE(browser.cachedPicture(grid.src.items[i]->uid).isNull());
    for (std::size_t i : first)
        EXPECT_FALSE(browser.hasCachedPicture(grid.src.items[i]->uid)) << "item " << i << " was scrolled past";
}

struct Opener : Source {
    std::vector<std::size_t> opened;
    void imageBrowserCellWasDoubleClickedAtIndex(LMImageBrowserView*, std::size_t index) override { opened.push_back(index); }
};

// Wide enough for `columns` cells of 100 points beside the scroller.
constexpr double gridWidth(int columns)
{
    return 12 + columns * 116 + LMImageBrowserView::kScrollerWidth;
}

// A grid of plain cells over `count` items: four columns and three rows in sight.
struct OpenerGrid {
    Opener src;
    FavImageBrowserView browser{kpv::Rect(0, 0, gridWidth(4), 3 * 91 + 20)};
    OpenerGrid(int count, const QString& prefix, bool synchronous = false)
    {
        for (int i = 0; i < count; ++i) {
            src.items.push_back(std::make_unique<Item>());
            src.items.back()->uid = prefix + QString::number(i);
        }
        src.plainViews = true;
        browser.setCellSize({100, 75});
        browser.setLoadsPicturesSynchronously(synchronous);
        browser.setDataSource(&src);
        browser.setDelegate(&src);
        browser.reloadData();
    }
};

kpv::Event keyEvent(unsigned short keyCode, std::uint64_t flags = 0)
{
    return *kpv::Event::keyEvent(kpv::KeyDown, keyCode, QString(), QString(), nullptr, flags);
}

TEST(ImageBrowserKeys, ArrowsPagesEndsAndReturn)
{
    OpenerGrid grid(23, QStringLiteral("k"), true);
    Opener& src = grid.src;
    FavImageBrowserView& browser = grid.browser;
    ASSERT_EQ(browser.layout().columns(), 4u);
    auto press = [&](unsigned short key, std::uint64_t flags = 0) {
        browser.keyDown(keyEvent(key, flags));
        return browser.selectionIndexes();
    };
    using Sel = std::set<std::size_t>;
    EXPECT_EQ(press(124), Sel{0}) << "the first key with nothing selected selects the first item";
    EXPECT_EQ(press(124), Sel{1});
    EXPECT_EQ(press(125), Sel{5}) << "down one row";
    EXPECT_EQ(press(126), Sel{1});
    EXPECT_EQ(press(126), Sel{1}) << "the top row stays";
    EXPECT_EQ(press(123), Sel{0});
    EXPECT_EQ(press(123), Sel{0});
    EXPECT_EQ(press(121), Sel{12}) << "Page Down: the three rows in sight";
    EXPECT_EQ(press(121), Sel{20}) << "then the last row, same column";
    EXPECT_GT(browser.scrollOffset(), 0.0) << "the selection is scrolled into sight";
    EXPECT_EQ(press(119), Sel{22});
    EXPECT_EQ(press(125), Sel{22}) << "no row below";
    EXPECT_EQ(press(116), Sel{10});
    EXPECT_EQ(press(115), Sel{0});
    EXPECT_EQ(browser.scrollOffset(), 0.0);
    EXPECT_EQ(press(124, kpv::ShiftKeyMask), (Sel{0, 1})) << "Shift extends";
    EXPECT_TRUE(src.opened.empty());
    press(36);
    EXPECT_TRUE(src.opened.empty()) << "Return opens only a single selection";
    press(124);
    press(36);
    EXPECT_EQ(src.opened, std::vector<std::size_t>{2});
}

// With no photo chosen, F11 chose the first one and full screen did not come; a letter did too.
TEST(ImageBrowserKeys, KeysThatMoveNothingChooseNothing)
{
    OpenerGrid grid(5, QStringLiteral("n"), true);
    FavImageBrowserView& browser = grid.browser;
    for (unsigned short key : {103 /* F11 */, 3 /* F */})
        browser.keyDown(keyEvent(key));
    EXPECT_TRUE(browser.selectionIndexes().empty());
    browser.keyDown(keyEvent(124));
    EXPECT_EQ(browser.selectionIndexes(), std::set<std::size_t>{0});
}

// Shift with the arrows or a click selects from where the range started to the new end, so going
// back toward the start gives items up again, as in a file manager.
TEST(ImageBrowserKeys, ShiftRangesGrowAndShrinkFromWhereTheyStarted)
{
    OpenerGrid grid(23, QStringLiteral("r"), true);
    FavImageBrowserView& browser = grid.browser;
    browser.setAllowsMultipleSelection(true);
    using Sel = std::set<std::size_t>;
    auto press = [&](unsigned short key, std::uint64_t flags = 0) {
        browser.keyDown(keyEvent(key, flags));
        return browser.selectionIndexes();
    };
    auto click = [&](std::size_t index, std::uint64_t flags = 0) {
        const kpv::Rect f = browser.itemFrameAtIndex(index);
        const kpv::Point p = browser.convertPointToView({f.midX(), f.midY()}, nullptr);
        browser.mouseDown(*kpv::Event::mouseEvent(kpv::LeftMouseDown, p, nullptr, flags));
        browser.mouseUp(*kpv::Event::mouseEvent(kpv::LeftMouseUp, p, nullptr, flags));
        return browser.selectionIndexes();
    };
    const std::uint64_t shift = kpv::ShiftKeyMask;
    EXPECT_EQ(click(5), Sel{5});
    EXPECT_EQ(press(125, shift), (Sel{5, 6, 7, 8, 9}));
    EXPECT_EQ(press(126, shift), Sel{5}) << "back up to where the range started";
    EXPECT_EQ(press(126, shift), (Sel{1, 2, 3, 4, 5})) << "and on past it the other way";
    EXPECT_EQ(press(124, shift), (Sel{2, 3, 4, 5}));
    EXPECT_EQ(press(123), Sel{1}) << "a plain arrow moves on from the range's moving end";
    EXPECT_EQ(click(10, shift), (Sel{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    EXPECT_EQ(click(3, shift), (Sel{1, 2, 3})) << "a Shift+click nearer the start selects less";
}

// A press on the background and a drag select the photos the band meets; Shift or Ctrl keeps the
// photos already chosen, a drag past the bottom scrolls on, and a plain click there clears.
TEST(ImageBrowserKeys, ABandDraggedOverTheBackgroundSelectsThePhotosItMeets)
{
    OpenerGrid grid(23, QStringLiteral("b"), true);
    FavImageBrowserView& browser = grid.browser;
    browser.setAllowsMultipleSelection(true);
    using Sel = std::set<std::size_t>;
    auto at = [&](kpv::Point inView) { return browser.convertPointToView(inView, nullptr); };
    auto mouse = [&](kpv::EventType type, kpv::Point inView, std::uint64_t flags = 0) {
        auto e = kpv::Event::mouseEvent(type, at(inView), nullptr, flags);
        if (type == kpv::LeftMouseDown)
            browser.mouseDown(*e);
        else if (type == kpv::LeftMouseDragged)
            browser.mouseDragged(*e);
        else
            browser.mouseUp(*e);
    };
    auto middle = [&](std::size_t index) {
        const kpv::Rect f = browser.itemFrameAtIndex(index);
        return kpv::Point{f.midX(), f.midY()};
    };
    const kpv::Point corner{2, 2};
    ASSERT_EQ(browser.indexOfItemAtPoint(corner), FavImageBrowserView::kNotFound);

    mouse(kpv::LeftMouseDown, corner);
    mouse(kpv::LeftMouseDragged, middle(5));
    EXPECT_EQ(browser.selectionIndexes(), (Sel{0, 1, 4, 5})) << "the photos follow the band as it grows";
    EXPECT_FALSE(browser.selectionBand().isEmpty());
    mouse(kpv::LeftMouseDragged, middle(0));
    EXPECT_EQ(browser.selectionIndexes(), Sel{0}) << "and give photos up as it shrinks";
    mouse(kpv::LeftMouseUp, middle(0));
    EXPECT_TRUE(browser.selectionBand().isEmpty());

    const kpv::Rect lastInSight = browser.itemFrameAtIndex(11);
    const kpv::Point gapRight{lastInSight.maxX() + 4, lastInSight.maxY() + 4};
    ASSERT_EQ(browser.indexOfItemAtPoint(gapRight), FavImageBrowserView::kNotFound);
    mouse(kpv::LeftMouseDown, gapRight, kpv::CommandKeyMask);
    mouse(kpv::LeftMouseDragged, middle(11), kpv::CommandKeyMask);
    mouse(kpv::LeftMouseUp, middle(11), kpv::CommandKeyMask);
    EXPECT_EQ(browser.selectionIndexes(), (Sel{0, 11})) << "Ctrl keeps what was chosen";

    browser.keyDown(keyEvent(124));
    EXPECT_EQ(browser.selectionIndexes(), Sel{12}) << "the arrows go on from the selection's end";

    mouse(kpv::LeftMouseDown, corner);
    EXPECT_TRUE(browser.selectionIndexes().empty()) << "a plain press on the background clears";
    mouse(kpv::LeftMouseDragged, {corner.x + 150, browser.bounds().height() + 200});
    mouse(kpv::LeftMouseUp, {corner.x + 150, browser.bounds().height() + 200});
    EXPECT_GT(browser.scrollOffset(), 0.0) << "a band dragged past the bottom scrolls on";
    EXPECT_TRUE(browser.selectionIndexes().count(0) && browser.selectionIndexes().count(13));
    EXPECT_FALSE(browser.selectionIndexes().count(2)) << "columns the band did not reach stay out";
}

// A band held past the bottom or top edge keeps the grid scrolling on the clock, faster the
// farther out the pointer is, with the photos that scroll in joining the selection (as they do
// for a wheel turned meanwhile); it stops when the pointer comes back, the button is let go, or
// the grid ends. The band begins on a picture's shadow, as in the favourites: scrolling puts that
// shadow away, and the grid must still hear the pointer.
TEST(ImageBrowserKeys, ABandHeldPastAnEdgeKeepsScrollingAndSelecting)
{
    kpv::ManualClock clock;
    kpv::RunLoop::main().setClock(&clock);
    const auto restore = qScopeGuard([] { kpv::RunLoop::main().setClock(nullptr); });
    struct Shadowed : Opener {
        bool imageBrowserViewExtraItemViewOutside(LMImageBrowserView*, kpv::Point* leftTop, kpv::Point* rightBottom) override
        {
            *leftTop = {7, 6};
            *rightBottom = {12, 12};
            return true;
        }
    } src;
    for (int i = 0; i < 81; ++i) {
        src.items.push_back(std::make_unique<Item>());
        src.items.back()->uid = QStringLiteral("a%1").arg(i);
    }
    src.plainViews = true;
    kpv::Window window(kpv::Rect(0, 0, 600, 400), 0);
    auto* grid = new FavImageBrowserView(kpv::Rect(0, 0, gridWidth(4), 3 * 91 + 20));
    window.contentView()->addSubview(grid);
    FavImageBrowserView& browser = *grid;
    browser.setCellSize({100, 75});
    browser.setAllowsMultipleSelection(true);
    browser.setDataSource(&src);
    browser.setDelegate(&src);
    browser.reloadData();
    const double height = browser.bounds().height();
    auto mouse = [&](kpv::EventType type, kpv::Point inView) {
        window.sendEvent(kpv::Event::mouseEvent(type, browser.convertPointToView(inView, nullptr), &window, 0));
    };
    const kpv::Rect picture = browser.itemImageFrameAtIndex(0);
    const kpv::Point onShadow{picture.maxX() + 6, picture.minY() + 2};
    ASSERT_EQ(browser.indexOfItemAtPoint(onShadow), FavImageBrowserView::kNotFound);
    // From there to x 150 the band spans the second column, down to the pointer's row.
    auto bandedDownToView = [&] {
        std::set<std::size_t> expected;
        for (std::size_t i = 0; i < browser.numberOfItems(); ++i)
            if (i % 4 == 1 && browser.layout().cellFrame(i).minY() < browser.scrollOffset() + height)
                expected.insert(i);
        return expected;
    };
    auto scrolledIn = [&](double seconds) {
        const double before = browser.scrollOffset();
        clock.advance(seconds);
        return browser.scrollOffset() - before;
    };

    mouse(kpv::LeftMouseDown, onShadow);
    mouse(kpv::LeftMouseDragged, {150, height - 20});
    auto notch = kpv::Event::mouseEvent(kpv::ScrollWheel, browser.convertPointToView({150, height - 20}, nullptr), nullptr);
    notch->setScrollingDelta(0, -1);
    browser.scrollWheel(*notch);
    ASSERT_GT(browser.scrollOffset(), 0.0);
    EXPECT_EQ(browser.selectionIndexes(), bandedDownToView()) << "a wheel turned while the band is held";
    mouse(kpv::LeftMouseDragged, {150, height + 10});
    const double near = scrolledIn(0.5);
    EXPECT_GT(near, 0.0) << "held still past the bottom, the grid scrolls on";
    EXPECT_EQ(browser.selectionIndexes(), bandedDownToView()) << "the band follows the rows that scroll in";
    mouse(kpv::LeftMouseDragged, {150, height + 80});
    EXPECT_GT(scrolledIn(0.5), near) << "faster farther out";
    EXPECT_EQ(browser.selectionIndexes(), bandedDownToView());

    mouse(kpv::LeftMouseDragged, {150, height - 20});
    EXPECT_EQ(scrolledIn(1.0), 0.0) << "back inside, the scrolling stops";
    EXPECT_FALSE(browser.isAutoscrolling());
    mouse(kpv::LeftMouseDragged, {150, height - 1});
    EXPECT_GT(scrolledIn(0.3), 0.0) << "at the very edge it scrolls too: a grid at the screen's foot has no outside";
    mouse(kpv::LeftMouseDragged, {150, -20});
    EXPECT_LT(scrolledIn(0.3), 0.0) << "past the top it scrolls back up";
    mouse(kpv::LeftMouseUp, {150, -20});
    EXPECT_EQ(scrolledIn(1.0), 0.0) << "letting go stops it";
    EXPECT_TRUE(browser.selectionBand().isEmpty());

    browser.setScrollOffset(0);
    mouse(kpv::LeftMouseDown, onShadow);
    mouse(kpv::LeftMouseDragged, {150, height + 40});
    clock.advance(30.0);
    EXPECT_FALSE(browser.isAutoscrolling()) << "the end of the grid stops it";
    EXPECT_EQ(browser.selectionIndexes(), bandedDownToView());
    EXPECT_TRUE(browser.selectionIndexes().count(77)) << "down to the last row";
    mouse(kpv::LeftMouseUp, {150, height + 40});
}

// The favourites grid leaves its right clicks to the window's content, whose context menu acts on
// the chosen favourites: a right click chooses the photo under it and goes on, and the menu key
// does the same on the photo the arrows moved to.
TEST(ImageBrowserKeys, RightClicksAndTheMenuKeyReachTheContextMenuOnTheChosenPhoto)
{
    struct Content : kpv::View {
        using kpv::View::View;
        void rightMouseDown(const kpv::Event& e) override { clicks.push_back(e.locationInWindow()); }
        std::vector<kpv::Point> clicks;
    };
    kpv::Window window(kpv::Rect(0, 0, 600, 400), 0);
    auto* content = new Content(kpv::Rect(0, 0, 600, 400));
    window.setContentView(content);
    OpenerGrid grid(9, QStringLiteral("m"), true);
    auto* browser = new FavImageBrowserView(grid.browser.frame());
    content->addSubview(browser);
    browser->setCellSize({100, 75});
    browser->setDataSource(&grid.src);
    browser->setDelegate(&grid.src); // answers no right click
    browser->reloadData();
    ASSERT_TRUE(window.makeFirstResponder(browser));
    const auto middleOf = [&](std::size_t index) {
        const kpv::Rect f = browser->itemFrameAtIndex(index);
        return browser->convertPointToView({f.midX(), f.midY()}, nullptr);
    };
    browser->rightMouseDown(*kpv::Event::mouseEvent(kpv::RightMouseDown, middleOf(2), &window));
    EXPECT_EQ(browser->selectionIndexes(), std::set<std::size_t>{2});
    browser->keyDown(keyEvent(125)); // down a row, to the sixth photo
    window.sendEvent(kpv::Event::keyEvent(kpv::KeyDown, kpv::KeyCode::ContextMenu, QString(), QString(), &window));
    EXPECT_EQ(browser->selectionIndexes(), std::set<std::size_t>{6});
    EXPECT_EQ(content->clicks, (std::vector<kpv::Point>{middleOf(2), middleOf(6)}));
}

TEST(ImageBrowserKeys, WheelNotchesAndTouchpadsScrollByTheirOwnMeasure)
{
    OpenerGrid grid(300, QStringLiteral("w"));
    FavImageBrowserView& browser = grid.browser;
    auto wheel = [&](double dy, bool precise) {
        auto e = kpv::Event::mouseEvent(kpv::ScrollWheel, kpv::Point{50, 50}, nullptr);
        e->setHasPreciseScrollingDeltas(precise);
        e->setScrollingDelta(0, dy);
        e->setDelta(0, dy);
        browser.scrollWheel(*e);
    };
    wheel(-1, false); // one notch down: three lines, most of a row of these pictures
    EXPECT_DOUBLE_EQ(browser.scrollOffset(), LMImageBrowserView::kWheelNotchPixels);
    wheel(-25, true); // a touchpad's pixels, as they are
    EXPECT_DOUBLE_EQ(browser.scrollOffset(), LMImageBrowserView::kWheelNotchPixels + 25);
    wheel(3, false);
    EXPECT_DOUBLE_EQ(browser.scrollOffset(), 0.0);
}

TEST(ImageBrowserResize, ThePhotoInSightStaysInSightWhenTheColumnsChange)
{
    OpenerGrid grid(500, QStringLiteral("r"));
    FavImageBrowserView& browser = grid.browser;
    auto inSight = [&](std::size_t i) {
        const std::vector<std::size_t> v = browser.visibleItemIndexes();
        return std::find(v.begin(), v.end(), i) != v.end();
    };
    // The user walks to photo 200 and then widens and narrows the window.
    browser.setSelectionIndexes({199});
    browser.keyDown(keyEvent(124));
    ASSERT_EQ(browser.selectionIndexes(), std::set<std::size_t>{200});
    ASSERT_TRUE(inSight(200));
    for (int columns : {7, 2, 5, 1, 4}) {
        browser.setFrame(kpv::Rect(0, 0, gridWidth(columns), 3 * 91 + 20));
        ASSERT_EQ(browser.layout().columns(), std::size_t(columns));
        EXPECT_TRUE(inSight(200)) << columns << " columns";
    }
    // The window grows taller and comes back (full screen left): photo 200, in the bottom row of
    // the tall grid, is wholly in sight again, not cut by the lower edge.
    browser.setFrame(kpv::Rect(0, 0, gridWidth(4), 6 * 91 + 20));
    browser.setScrollOffset(browser.layout().cellFrame(200).maxY() + 5 - (6 * 91 + 20));
    browser.setFrame(kpv::Rect(0, 0, gridWidth(4), 3 * 91 + 20));
    EXPECT_GE(browser.layout().cellFrame(200).minY(), browser.scrollOffset());
    EXPECT_LE(browser.layout().cellFrame(200).maxY(), browser.scrollOffset() + 3 * 91 + 20);
    // With nothing selected, the first photo in sight stays in sight.
    browser.setSelectionIndexes({});
    browser.setScrollOffset(150 * 91 / 4.0);
    const std::size_t first = browser.visibleItemIndexes().front();
    browser.setFrame(kpv::Rect(0, 0, gridWidth(8), 3 * 91 + 20));
    EXPECT_TRUE(inSight(first));
}

class FakeThumbHost : public ThumbnailViewHost {
public:
    long mode = 4;
    QList<LMPathString> paths;
    QHash<LMPathString, QDateTime> dates;
    std::size_t cur = 0;
    bool modifiedReadOnly = false;
    bool refuse = false;
    std::vector<std::size_t> navigations;
    QList<LMPathString> deleted;
    kpv::View container{kpv::Rect(0, 0, 800, 600)};

    long showMode() const override { return mode; }
    void setShowMode(long m) override { mode = m; }
    kpv::View* containerViewByShowMode(long) const override { return const_cast<kpv::View*>(&container); }
    QList<LMPathString> sortedFilePaths() const override { return paths; }
    mutable int dateReads = 0;
    QDateTime fileModificationDate(const LMPathString& p) const override
    {
        ++dateReads;
        return dates.value(p);
    }
    std::size_t curFileIndex() const override { return cur; }
    bool isCurFileModifiedAndCannotOverwriteable() const override { return modifiedReadOnly; }
    void doNavCurFileToIndex(std::size_t i, std::function<void(bool)> done) override
    {
        navigations.push_back(i);
        if (done)
            done(refuse);
    }
    void deleteFiles(const QList<LMPathString>& p) override { deleted = p; }
    kpv::Window* window() const override { return nullptr; }
    void revealFilesInFinder(const QList<LMPathString>& p) override { revealed = p; }
    void tellFailure(const QString& message) override { failures << message; }
    QStringList failures;
    void batchFiles(long, const QList<LMPathString>&) override {}
    void popUpContextMenu(const kpv::Event&, kpv::View* v) override { contextMenuViews.push_back(v); }
    QList<LMPathString> revealed;
    std::vector<kpv::View*> contextMenuViews;
    std::vector<long> sorts;
    void sortFiles(long type) override { sorts.push_back(type); }
};

class ThumbnailMode : public testing::Test {
protected:
    FakeThumbHost host;
    std::unique_ptr<ThumbnailViewController> c;
    void SetUp() override
    {
        for (int i = 0; i < 6; ++i) {
            host.paths.append(P(QStringLiteral("/t%1.jpg").arg(i)));
            host.dates.insert(host.paths.back(), QDateTime::fromSecsSinceEpoch(100 + i));
        }
        c = std::make_unique<ThumbnailViewController>(host);
    }
    void enter()
    {
        const long old = host.mode;
        c->willChangeMainShowMode({{"old", qlonglong(old)}, {"new", 64}});
        host.mode = 64;
        c->didChangeMainShowMode({{"old", qlonglong(old)}, {"new", 64}});
        drainMainRunLoop();
    }
    void leave()
    {
        host.mode = 4;
        c->didChangeMainShowMode({{"old", 64}, {"new", 4}});
    }
    // The colour of the cell in `frame` once it turns red or ten seconds have gone, the grid
    // hearing of changes on the manual clock meanwhile.
    static QColor redOnceHeard(FavImageBrowserView& browser, kpv::ManualClock& clock, const kpv::Rect& frame)
    {
        QColor shown;
        for (QDeadlineTimer deadline(10000); shown != QColor(Qt::red) && !deadline.hasExpired();) {
            QCoreApplication::processEvents();
            QThread::msleep(2);
            clock.advance(1);
            shown = browser.renderToImage(1.0).pixelColor(int(frame.midX()), int(frame.midY()));
        }
        return shown;
    }
    // The grid entered on two blue photos, a.png and b.png in `dir`, its pictures read at once.
    FavImageBrowserView& enterOnTwoBluePhotos(const QTemporaryDir& dir)
    {
        host.paths = {P(dir.filePath("a.png")), P(dir.filePath("b.png"))};
        QImage blue(160, 120, QImage::Format_RGB32);
        blue.fill(Qt::blue);
        for (const LMPathString& p : std::as_const(host.paths)) {
            EXPECT_TRUE(blue.save(p.path()));
            host.dates.insert(p, p.dateModified());
        }
        enter();
        FavImageBrowserView& browser = *c->browser();
        browser.setLoadsPicturesSynchronously(true);
        return browser;
    }
};

TEST_F(ThumbnailMode, EnteringRebuildsOnlyWhenTheListChanged)
{
    host.cur = 2;
    enter();
    EXPECT_EQ(c->rebuildCount(), 1);
    EXPECT_EQ(c->browser()->selectionIndexes(), std::set<std::size_t>{2});
    leave();
    host.cur = 3;
    enter();
    EXPECT_EQ(c->rebuildCount(), 1) << "an unchanged list is not rebuilt";
    EXPECT_EQ(c->browser()->selectionIndexes(), std::set<std::size_t>{3});

    auto kept = c->itemForPath(host.paths[0]);
    auto changed = c->itemForPath(host.paths[1]);
    host.dates[host.paths[1]] = QDateTime::fromSecsSinceEpoch(999);
    c->updateThumbBrowserItems();
    EXPECT_EQ(c->itemForPath(host.paths[0]), kept);
    EXPECT_NE(c->itemForPath(host.paths[1]), changed);
    EXPECT_NE(c->itemForPath(host.paths[1])->imageUID(), changed->imageUID());
}

TEST_F(ThumbnailMode, CommandsFollowTheSelection)
{
    enter();
    c->browser()->setSelectionIndexes({});
    EXPECT_FALSE(c->canDoAction(6));
    EXPECT_FALSE(c->canDoAction(7));
    EXPECT_FALSE(c->canDoAction(8));
    EXPECT_TRUE(c->canDoAction(34));
    EXPECT_TRUE(c->canDoAction(37));
    c->doAction(35, 2);
    c->doAction(37, 0x1002);
    EXPECT_EQ(host.sorts, (std::vector<long>{2, 0x1002})) << "the sort commands reach the navigator";
    EXPECT_FALSE(c->canDoAction(10));
    c->deleteSelFiles();
    EXPECT_TRUE(host.deleted.isEmpty());
    c->browser()->setSelectionIndexes({4, 1});
    c->deleteSelFiles();
    EXPECT_EQ(host.deleted, (QList<LMPathString>{host.paths[1], host.paths[4]}));
    host.deleted.clear();
    c->browser()->setSelectionIndexes({2});
    c->browser()->keyDown(keyEvent(117)); // the Delete key does what Move to Trash does
    EXPECT_EQ(host.deleted, (QList<LMPathString>{host.paths[2]}));

    kpv::MenuItem selectAll;
    selectAll.setTag(10);
    EXPECT_EQ(c->imageBrowserViewValidateMenuItem(c->browser(), selectAll), std::optional<bool>(false));
    kpv::MenuItem other;
    other.setTag(3);
    EXPECT_EQ(c->imageBrowserViewValidateMenuItem(c->browser(), other), std::nullopt);

    EXPECT_FALSE(c->handleKeyDown(53, false)) << "Esc while another window is key passes";
    EXPECT_TRUE(c->handleKeyDown(53, true));
    EXPECT_EQ(host.mode, 4);
}

TEST_F(ThumbnailMode, CopyLeavesOutAndNamesFilesThatAreGone)
{
    // Another program took one photo away after the grid was listed: a paste must not meet a
    // file that is not there, and the user learns which one was left out.
    QTemporaryDir dir;
    host.paths.clear();
    for (const char* name : {"a.jpg", "b.jpg", "gone.jpg"}) {
        host.paths.append(P(dir.filePath(QLatin1String(name))));
        host.dates.insert(host.paths.back(), QDateTime::fromSecsSinceEpoch(100));
        QFile file(host.paths.back().path());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    c = std::make_unique<ThumbnailViewController>(host);
    enter();
    ASSERT_TRUE(QFile::remove(host.paths[2].path()));
    c->browser()->setSelectionIndexes({0, 1, 2});
    c->doCopy();
    kpv::Pasteboard& board = kpv::Pasteboard::generalPasteboard();
    EXPECT_EQ(board.fileURLs(), (QList<QUrl>{host.paths[0].filePathURL(), host.paths[1].filePathURL()}));
    ASSERT_EQ(host.failures.size(), 1);
    EXPECT_TRUE(host.failures[0].contains(QLatin1String("2 of 3"))) << host.failures[0].toStdString();
    EXPECT_TRUE(host.failures[0].contains(QLatin1String("gone.jpg: it is no longer there")));

    // Nothing left to copy: the clipboard keeps what it held.
    board.writeString(QStringLiteral("kept"));
    c->browser()->setSelectionIndexes({2});
    c->doCopy();
    EXPECT_EQ(board.string(), QStringLiteral("kept"));
    ASSERT_EQ(host.failures.size(), 2);
    EXPECT_TRUE(host.failures[1].contains(QLatin1String("keeps what it held")));
}

TEST_F(ThumbnailMode, ListChangesKeepTheSelectedFiles)
{
    enter();
    c->browser()->setSelectionIndexes({1, 3});
    host.paths.removeAt(1);
    host.paths.prepend(P("/new.jpg"));
    c->didChangeFileList();
    EXPECT_EQ(c->selectedThumbFilePaths(), QList<LMPathString>{P("/t3.jpg")});
    leave();
    c->didChangeFileList();
    EXPECT_TRUE(c->dirty());
}

// Photos another program adds before the one the user looks at leave it where it stands on screen.
TEST_F(ThumbnailMode, PhotosAddedBeforeTheSelectedOneLeaveItInPlace)
{
    for (int i = 6; i < 120; ++i)
        host.paths.append(P(QStringLiteral("/t%1.jpg").arg(i)));
    enter();
    FavImageBrowserView& browser = *c->browser();
    browser.setScrollOffset(browser.layout().cellFrame(60).minY() - 40);
    browser.setSelectionIndexes({62});
    const double top = browser.itemFrameAtIndex(62).minY();
    for (int i = 0; i < 21; ++i)
        host.paths.prepend(P(QStringLiteral("/a%1.jpg").arg(i)));
    c->didChangeFileList();
    ASSERT_EQ(c->selectedThumbFilePaths(), QList<LMPathString>{P("/t62.jpg")});
    EXPECT_EQ(browser.itemFrameAtIndex(83).minY(), top);
}

// Photos renamed while selected in the grid, by the batch rename or by another program, stay
// selected under their new names. The viewer hears of a rename before the grid and changes its
// list first.
TEST_F(ThumbnailMode, RenamedFilesStaySelected)
{
    auto& center = kpv::NotificationCenter::defaultCenter();
    int viewer = 0;
    center.addObserver(&viewer, "filesBatchRenamed", nullptr, [this, &center](const kpv::Notification& n) {
        for (auto it = n.userInfo.cbegin(); it != n.userInfo.cend(); ++it)
            host.paths.removeAll(P(it.key()));
        for (auto it = n.userInfo.cbegin(); it != n.userInfo.cend(); ++it)
            host.paths.append(it.value().value<LMPathString>());
        std::sort(host.paths.begin(), host.paths.end());
        center.postNotification("didChangeFileList", nullptr, {});
    });
    c = std::make_unique<ThumbnailViewController>(host);
    enter();
    const auto rename = [&](const char* from, const char* to) {
        center.postNotification("filesBatchRenamed", nullptr, {{from, QVariant::fromValue(P(to))}});
    };
    c->browser()->setSelectionIndexes({1, 2, 3});
    rename("/t2.jpg", "/t2 sea.jpg");
    EXPECT_EQ(c->selectedThumbFilePaths(), (QList<LMPathString>{P("/t1.jpg"), P("/t2 sea.jpg"), P("/t3.jpg")}));
    // The only one selected, renamed to the end of the list: it stays the selection, instead of
    // the file that took its place.
    c->browser()->setSelectionIndexes({0});
    rename("/t0.jpg", "/z0.jpg");
    EXPECT_EQ(c->selectedThumbFilePaths(), QList<LMPathString>{P("/z0.jpg")});
    center.removeObserver(&viewer);
}

// A photo moved to the trash from the grid leaves the one that took its place selected, so the
// next Delete or arrow goes on from there, not from the top of the grid.
TEST_F(ThumbnailMode, TheFileAfterOneThatLeftIsSelected)
{
    enter();
    c->browser()->setSelectionIndexes({2});
    c->browser()->keyDown(keyEvent(117));
    ASSERT_EQ(host.deleted, QList<LMPathString>{P("/t2.jpg")});
    host.paths.removeAt(2);
    c->didChangeFileList();
    EXPECT_EQ(c->selectedThumbFilePaths(), QList<LMPathString>{P("/t3.jpg")});
    c->browser()->keyDown(keyEvent(124));
    EXPECT_EQ(c->selectedThumbFilePaths(), QList<LMPathString>{P("/t4.jpg")});
    c->browser()->setSelectionIndexes({4});
    host.paths.removeAt(4); // the last one
    c->didChangeFileList();
    EXPECT_EQ(c->selectedThumbFilePaths(), QList<LMPathString>{P("/t4.jpg")});
}

// A photo moved to the trash from the grid and put back with Undo is selected again, so that a
// second Delete takes it and not the photo that stood in for it.
TEST_F(ThumbnailMode, APhotoPutBackFromTheTrashIsSelectedAgain)
{
    enter();
    c->browser()->setSelectionIndexes({2});
    c->browser()->keyDown(keyEvent(117));
    const LMPathString back = host.paths.takeAt(2);
    c->didChangeFileList();
    c->didChangeFileList(); // the folder's own change, heard later
    host.paths.insert(2, back);
    c->didChangeFileList();
    EXPECT_EQ(c->selectedThumbFilePaths(), QList<LMPathString>{back});
}

// Another program renames the selected photo, and the viewer, which has not read it, sees one
// photo leave the folder and another arrive (at once or one after the other): the photo stays
// selected under its new name, so that Delete does not take the one that took its place.
TEST_F(ThumbnailMode, APhotoRenamedByAnotherProgramStaysSelected)
{
    QTemporaryDir dir;
    host.paths.clear();
    for (const char* name : {"a.jpg", "b.jpg", "c.jpg", "d.jpg"}) {
        host.paths.append(P(dir.filePath(name)));
        writeTestJpeg(host.paths.back().path());
    }
    enter();
    const auto renameTo = [&](qsizetype index, const QString& name, bool inTwoSteps) {
        const LMPathString to = P(dir.filePath(name));
        ASSERT_TRUE(QFile::rename(host.paths[index].path(), to.path()));
        host.paths.removeAt(index);
        if (inTwoSteps)
            c->didChangeFileList();
        host.paths.append(to);
        std::sort(host.paths.begin(), host.paths.end());
        c->didChangeFileList();
    };
    c->browser()->setSelectionIndexes({1});
    renameTo(1, "b2.jpg", true);
    EXPECT_EQ(c->selectedThumbFilePaths(), QList<LMPathString>{P(dir.filePath("b2.jpg"))});
    renameTo(1, "z.jpg", true); // renamed again
    EXPECT_EQ(c->selectedThumbFilePaths(), QList<LMPathString>{P(dir.filePath("z.jpg"))});
    c->browser()->setSelectionIndexes({0, 1});
    renameTo(1, "a2.jpg", false);
    EXPECT_EQ(c->selectedThumbFilePaths(), (QList<LMPathString>{P(dir.filePath("a.jpg")), P(dir.filePath("a2.jpg"))}));
}

TEST_F(ThumbnailMode, DoubleClicks)
{
    enter();
    host.refuse = true;
    c->imageBrowserCellWasDoubleClickedAtIndex(c->browser(), 4);
    EXPECT_EQ(host.mode, 64) << "a cancelled save prompt keeps the grid";
    host.refuse = false;
    c->imageBrowserCellWasDoubleClickedAtIndex(c->browser(), 4);
    EXPECT_EQ(host.mode, 4);

    enter();
    host.modifiedReadOnly = true;
    host.navigations.clear();
    c->imageBrowserCellWasDoubleClickedAtIndex(c->browser(), 5);
    EXPECT_EQ(host.mode, 4);
    EXPECT_TRUE(host.navigations.empty()) << "navigation waits until the grid has gone";
}

TEST_F(ThumbnailMode, ALargeFolderReadsDatesOnlyForCellsInSight)
{
    host.paths.clear();
    for (int i = 0; i < 5000; ++i)
        host.paths.append(P(QStringLiteral("/big/%1.jpg").arg(i)));
    host.dateReads = 0;
    enter();
    EXPECT_EQ(c->thumbFilePaths().size(), 5000);
    const std::size_t inSight = c->browser()->visibleItemIndexes().size();
    EXPECT_GT(host.dateReads, 0);
    EXPECT_LE(std::size_t(host.dateReads), inSight) << "no file outside the screen is asked for its date";

    // A later rebuild still finds a changed file among those that were shown.
    const QString before = c->itemForPath(host.paths[0])->imageUID();
    host.dates[host.paths[0]] = QDateTime::fromSecsSinceEpoch(5);
    c->updateThumbBrowserItems();
    EXPECT_NE(c->itemForPath(host.paths[0])->imageUID(), before);
}

// Each cell's shadow and outline lie around its picture: the picture's own pixels reach its
// edges, and just outside them the shadow darkens the background.
TEST_F(ThumbnailMode, TheShadowFallsAroundEachPictureNotOverIt)
{
    QTemporaryDir dir;
    host.paths.clear();
    for (int i = 0; i < 3; ++i) {
        host.paths.append(P(dir.filePath(QStringLiteral("s%1.png").arg(i))));
        QImage picture(160, 120, QImage::Format_RGB32);
        picture.fill(QColor(250, 250, 250));
        ASSERT_TRUE(picture.save(host.paths.back().path()));
    }
    enter();
    FavImageBrowserView& browser = *c->browser();
    browser.setLoadsPicturesSynchronously(true);
    browser.requestVisiblePictures();
    // Over a mid grey, so that the shadow shows whatever the view draws beneath the cells.
    QImage shot(browser.renderToImage(1.0).size(), QImage::Format_RGB32);
    shot.fill(QColor(128, 128, 128));
    QPainter(&shot).drawImage(0, 0, browser.renderToImage(1.0));
    const kpv::Rect f = browser.itemImageFrameAtIndex(1); // not the current file: no selection ring
    ASSERT_FALSE(f.isEmpty());
    const int left = int(std::ceil(f.x())), right = int(std::floor(f.maxX())) - 1;
    const int top = int(std::ceil(f.y())), bottom = int(std::floor(f.maxY())) - 1;
    const int midY = (top + bottom) / 2, midX = (left + right) / 2;
    for (const QPoint at : {QPoint(left, midY), QPoint(left + 3, midY), QPoint(right, midY), QPoint(right - 3, midY),
                            QPoint(midX, top), QPoint(midX, top + 3), QPoint(midX, bottom), QPoint(midX, bottom - 3)}) {
        const QColor got = shot.pixelColor(at);
        EXPECT_GE(std::min({got.red(), got.green(), got.blue()}), 240) << "the picture at " << at.x() << "," << at.y();
    }
    const QColor background = shot.pixelColor(2, shot.height() - 3);
    EXPECT_LT(shot.pixelColor(right + 3, midY).lightness(), background.lightness()) << "the shadow beside the picture";
}

TEST_F(ThumbnailMode, AFileChangedByAnotherProgramIsRedrawnAtOnce)
{
    kpv::ManualClock clock;
    kpv::RunLoop::main().setClock(&clock);
    QTemporaryDir dir;
    host.paths.clear();
    for (int i = 0; i < 3; ++i) {
        host.paths.append(P(dir.filePath(QStringLiteral("m%1.png").arg(i))));
        QImage picture(160, 120, QImage::Format_RGB32);
        picture.fill(Qt::blue);
        ASSERT_TRUE(picture.save(host.paths.back().path()));
        // The viewer's list keeps the date it read first.
        host.dates.insert(host.paths.back(), host.paths.back().dateModified());
    }
    enter();
    FavImageBrowserView& browser = *c->browser();
    browser.setLoadsPicturesSynchronously(true);
    browser.renderToImage(1.0); // on screen: nothing left to draw
    ASSERT_FALSE(browser.needsDisplay());

    // Another program rewrites the second photo; the viewer tells the grid.
    QImage red(160, 120, QImage::Format_RGB32);
    red.fill(Qt::red);
    const QString changed = host.paths[1].path();
    ASSERT_TRUE(red.save(changed));
    QFile file(changed);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.setFileTime(QDateTime::currentDateTime().addSecs(60), QFileDevice::FileModificationTime));
    file.close();
    kpv::NotificationCenter::defaultCenter().postNotification(QStringLiteral("fileModified"), nullptr,
                                                              {{"filePath", QVariant::fromValue(host.paths[1])}});
    EXPECT_TRUE(browser.needsDisplay()) << "the old picture would stay on screen until something else redraws";
    const QImage shot = browser.renderToImage(1.0);
    const kpv::Rect f = browser.itemImageFrameAtIndex(1);
    EXPECT_EQ(shot.pixelColor(int(f.midX()), int(f.midY())), QColor(Qt::red));

    // The viewer tells only of the photos it read lately; the grid hears of the others itself.
    ASSERT_TRUE(red.save(host.paths[2].path()));
    QFile third(host.paths[2].path());
    ASSERT_TRUE(third.open(QIODevice::ReadWrite));
    ASSERT_TRUE(third.setFileTime(QDateTime::currentDateTime().addSecs(60), QFileDevice::FileModificationTime));
    third.close();
    const kpv::Rect g = browser.itemImageFrameAtIndex(2);
    const QColor shown = redOnceHeard(browser, clock, g);
    EXPECT_EQ(shown, QColor(Qt::red)) << "the new picture, not the old one";

    // Another photo arrives (or the user sorts again): the list still holds the old dates of the
    // rewritten photos, whose old pictures must not come back.
    host.paths.append(P(dir.filePath(QStringLiteral("m3.png"))));
    ASSERT_TRUE(red.save(host.paths.back().path()));
    kpv::NotificationCenter::defaultCenter().postNotification(QStringLiteral("didChangeFileList"), nullptr, {});
    const QImage after = browser.renderToImage(1.0);
    for (std::size_t i : {std::size_t(1), std::size_t(2)}) {
        const kpv::Rect h = browser.itemImageFrameAtIndex(i);
        EXPECT_EQ(after.pixelColor(int(h.midX()), int(h.midY())), QColor(Qt::red)) << "photo " << i;
    }
    c.reset();
    kpv::RunLoop::main().setClock(nullptr);
}

// A program that keeps the dates of what it copies (or sets the old date again after a rewrite)
// puts another photo at the path with the very date the grid knows.
TEST_F(ThumbnailMode, APhotoReplacedUnderTheSameDateIsRedrawn)
{
    kpv::ManualClock clock;
    kpv::RunLoop::main().setClock(&clock);
    QTemporaryDir dir;
    FavImageBrowserView& browser = enterOnTwoBluePhotos(dir);
    QImage blue(160, 120, QImage::Format_RGB32), red(160, 120, QImage::Format_RGB32);
    blue.fill(Qt::blue);
    red.fill(Qt::red);
    browser.renderToImage(1.0);

    const QString target = host.paths[1].path(), copy = dir.filePath("copy.png");
    const QDateTime date = QFileInfo(target).lastModified();
    ASSERT_TRUE(red.save(copy, "PNG", 0));
    QFile file(copy);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite) && file.setFileTime(date, QFileDevice::FileModificationTime));
    file.close();
    ASSERT_EQ(::rename(QFile::encodeName(copy).constData(), QFile::encodeName(target).constData()), 0);
    ASSERT_EQ(host.paths[1].dateModified(), date);
    const kpv::Rect f = browser.itemImageFrameAtIndex(1);
    const QColor shown = redOnceHeard(browser, clock, f);
    EXPECT_EQ(shown, QColor(Qt::red)) << "the photo now at the path, not the one it replaced";

    // The same while the grid is away: it shows the photo as it is when it comes back.
    leave();
    ASSERT_TRUE(blue.save(copy, "PNG", 0));
    ASSERT_TRUE(file.open(QIODevice::ReadWrite) && file.setFileTime(date, QFileDevice::FileModificationTime));
    file.close();
    ASSERT_EQ(::rename(QFile::encodeName(copy).constData(), QFile::encodeName(target).constData()), 0);
    enter();
    EXPECT_EQ(browser.renderToImage(1.0).pixelColor(int(f.midX()), int(f.midY())), QColor(Qt::blue));
    c.reset();
    kpv::RunLoop::main().setClock(nullptr);
}

// The desktop's thumbnail cache names a file by its date and size alone; a photo another program
// copied over one the viewer had cached, keeping date and size, is not shown as the old one in
// the smallest cells, which take their pictures from that cache.
TEST_F(ThumbnailMode, APhotoReplacedUnderTheSameDateAndSizeIsNotTakenFromTheDesktopCache)
{
    kpv::ManualClock clock;
    kpv::RunLoop::main().setClock(&clock);
    QTemporaryDir dir;
    kpv::Thumbnailer::setCacheDirectoryForTesting(dir.filePath("cache"));
    const auto cleanUp = qScopeGuard([&] {
        kpv::Thumbnailer::setCacheDirectoryForTesting(QString());
        c.reset();
        kpv::RunLoop::main().setClock(nullptr);
    });
    host.paths = {P(dir.filePath("a.bmp")), P(dir.filePath("b.bmp"))};
    QImage blue(320, 240, QImage::Format_RGB32), red(320, 240, QImage::Format_RGB32);
    blue.fill(Qt::blue);
    red.fill(Qt::red);
    for (const LMPathString& p : std::as_const(host.paths)) {
        ASSERT_TRUE(blue.save(p.path()));
        host.dates.insert(p, p.dateModified());
        // As the viewer keeps what it decoded when the photo was shown.
        const QFileInfo info(p.path());
        kpv::Thumbnailer::storeThumbnail(p.path(), blue, 1, info.lastModified().toSecsSinceEpoch(), info.size());
    }
    enter();
    c->updateThumbZoomValue(ThumbnailViewController::kMinThumbZoom, true);
    FavImageBrowserView& browser = *c->browser();
    browser.setLoadsPicturesSynchronously(true);
    const kpv::Rect f = browser.itemImageFrameAtIndex(1);
    ASSERT_EQ(browser.renderToImage(1.0).pixelColor(int(f.midX()), int(f.midY())), QColor(Qt::blue));

    const QString target = host.paths[1].path(), copy = dir.filePath("copy.bmp");
    const QDateTime date = QFileInfo(target).lastModified();
    ASSERT_TRUE(red.save(copy));
    QFile file(copy);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    // The file system's clock moves in steps of some milliseconds: the copy is dated in a later
    // step than the cache entry was written in, as it is when a person does it.
    struct stat entry {}, now {};
    ASSERT_EQ(::stat(QFile::encodeName(kpv::Thumbnailer::cachePathFor(target, QStringLiteral("large"))).constData(), &entry), 0);
    for (QDeadlineTimer deadline(10000); !deadline.hasExpired(); QThread::msleep(1)) {
        ASSERT_TRUE(file.setFileTime(date, QFileDevice::FileModificationTime));
        ASSERT_EQ(::stat(QFile::encodeName(copy).constData(), &now), 0);
        if (std::pair(now.st_ctim.tv_sec, now.st_ctim.tv_nsec) > std::pair(entry.st_mtim.tv_sec, entry.st_mtim.tv_nsec))
            break;
    }
    file.close();
    ASSERT_EQ(QFileInfo(copy).size(), QFileInfo(target).size());
    ASSERT_EQ(::rename(QFile::encodeName(copy).constData(), QFile::encodeName(target).constData()), 0);
    const QColor shown = redOnceHeard(browser, clock, f);
    EXPECT_EQ(shown, QColor(Qt::red)) << "the photo now at the path, not the cached picture of the one it replaced";
    // The unchanged photo's cache entry still serves.
    EXPECT_FALSE(kpv::Thumbnailer::cachedThumbnail(host.paths[0].path(), 128, 1).isNull());
}

// A program that rewrites a photo in place and then sets its old date again: the grid hears of the
// rewrite (a new date), then of the old date coming back, and shows the photo as it is now, not
// the picture it had read under that date before.
TEST_F(ThumbnailMode, APhotoRewrittenAndDatedBackIsNotShownAsBefore)
{
    kpv::ManualClock clock;
    kpv::RunLoop::main().setClock(&clock);
    QTemporaryDir dir;
    const auto cleanUp = qScopeGuard([&] {
        c.reset();
        kpv::RunLoop::main().setClock(nullptr);
    });
    FavImageBrowserView& browser = enterOnTwoBluePhotos(dir);
    QImage red(160, 120, QImage::Format_RGB32);
    red.fill(Qt::red);
    const kpv::Rect f = browser.itemImageFrameAtIndex(1);
    ASSERT_EQ(browser.renderToImage(1.0).pixelColor(int(f.midX()), int(f.midY())), QColor(Qt::blue));
    const qint64 untouched = browser.cachedPicture(c->itemForPath(host.paths[0])->imageUID()).cacheKey();

    const LMPathString target = host.paths[1];
    const QDateTime date = target.dateModified();
    const auto waitFor = [&](const std::function<bool()>& done) {
        for (QDeadlineTimer deadline(10000); !done() && !deadline.hasExpired();) {
            QCoreApplication::processEvents();
            QThread::msleep(2);
            clock.advance(1);
            browser.renderToImage(1.0);
        }
    };
    ASSERT_TRUE(red.save(target.path())); // in place: the same file, written over
    QFile file(target.path());
    ASSERT_TRUE(file.open(QIODevice::ReadWrite) &&
                file.setFileTime(date.addSecs(60), QFileDevice::FileModificationTime));
    file.close();
    waitFor([&] { return c->itemForPath(target)->fileModificationDate() == date.addSecs(60); });
    ASSERT_EQ(browser.renderToImage(1.0).pixelColor(int(f.midX()), int(f.midY())), QColor(Qt::red));

    ASSERT_TRUE(file.open(QIODevice::ReadWrite) && file.setFileTime(date, QFileDevice::FileModificationTime));
    file.close();
    waitFor([&] { return c->itemForPath(target)->fileModificationDate() == date; });
    ASSERT_EQ(c->itemForPath(target)->fileModificationDate(), date);
    EXPECT_EQ(browser.renderToImage(1.0).pixelColor(int(f.midX()), int(f.midY())), QColor(Qt::red))
        << "the photo as it is now, not the picture read under its old date";
    EXPECT_EQ(browser.cachedPicture(c->itemForPath(host.paths[0])->imageUID()).cacheKey(), untouched)
        << "the photo nobody touched is not read again";
}

// The cells follow the size slider's knob while it is dragged, the selected photo staying in
// sight; the pictures already read are drawn at each new size, and sharper ones are read once,
// when the knob rests, not at every step.
TEST_F(ThumbnailMode, CellsFollowTheSizeSliderAndReadSharperPicturesOnlyWhenItRests)
{
    kpv::ManualClock clock;
    kpv::RunLoop::main().setClock(&clock);
    QTemporaryDir dir;
    kpv::Thumbnailer::setCacheDirectoryForTesting(dir.filePath("cache"));
    host.paths.clear();
    for (int i = 0; i < 30; ++i) {
        host.paths.append(P(dir.filePath(QStringLiteral("s%1.jpg").arg(i))));
        writeTestJpeg(host.paths.back().path(), 640, 480);
    }
    host.cur = 12;
    kpv::Window window(kpv::Rect(0, 0, 800, 600), 0);
    window.contentView()->addSubview(&host.container);
    const auto cleanUp = qScopeGuard([&] {
        kpv::setFileAccessObserverForTesting(nullptr);
        kpv::Thumbnailer::setCacheDirectoryForTesting(QString());
        host.container.removeFromSuperview();
        c.reset();
        kpv::RunLoop::main().setClock(nullptr);
    });
    enter();
    FavImageBrowserView& browser = *c->browser();
    browser.setLoadsPicturesSynchronously(true);
    browser.renderToImage(1.0);
    int reads = 0;
    kpv::setFileAccessObserverForTesting([&](const QString& path, const char*) { reads += path.startsWith(dir.path()); });
    const auto inSight = [&](std::size_t i) {
        const kpv::Rect f = browser.itemFrameAtIndex(i);
        return f.minY() >= 0 && f.maxY() <= browser.bounds().height();
    };
    const auto sharp = [&] {
        for (std::size_t i : browser.visibleItemIndexes())
            if (browser.cachedPicture(c->itemForPath(host.paths[qsizetype(i)])->imageUID()).width() <
                std::min(640, browser.pictureMaxPixels()))
                return false;
        return true;
    };
    std::vector<double> widths;
    int readsWhileMoving = 0;
    bool sharpAtRest = false;
    dragSliderKnob(*c->zoomSlider(), {0.3, 0.45, 0.6, 0.6}, [&] {
        widths.push_back(browser.cellSize().width);
        EXPECT_TRUE(inSight(12)) << "at width " << widths.back();
        browser.renderToImage(1.0);
        if (widths.size() < 3) {
            readsWhileMoving = reads;
            return;
        }
        // The knob rests at the third place before it is let go there.
        clock.advance(LMImageBrowserView::kCellSizeRestInterval);
        browser.renderToImage(1.0);
        sharpAtRest = sharpAtRest || sharp();
    });
    ASSERT_GE(widths.size(), 3u) << "the cells stood still until the knob was let go";
    EXPECT_TRUE(widths[0] < widths[1] && widths[1] < widths[2]);
    EXPECT_EQ(readsWhileMoving, 0) << "pictures read again at every step of the knob";
    EXPECT_TRUE(sharpAtRest);
    const int readsAtRest = reads;
    browser.renderToImage(1.0);
    EXPECT_EQ(reads, readsAtRest) << "read twice for the same size";

    // Let go while still moving: the sharper pictures come at once.
    dragSliderKnob(*c->zoomSlider(), {0.75, 0.85}, [] {});
    browser.renderToImage(1.0);
    EXPECT_TRUE(sharp());
    EXPECT_TRUE(inSight(12));
}

// Esc while a band is held past the bottom: the grid goes, and the release it never hears must not
// leave it scrolling out of sight or coming back with the band still drawn.
TEST_F(ThumbnailMode, LeavingWhileABandIsHeldEndsTheBand)
{
    kpv::ManualClock clock;
    kpv::RunLoop::main().setClock(&clock);
    host.paths.clear();
    for (int i = 0; i < 80; ++i)
        host.paths.append(P(QStringLiteral("/band%1.jpg").arg(i)));
    kpv::Window window(kpv::Rect(0, 0, 800, 600), 0);
    window.contentView()->addSubview(&host.container);
    const auto cleanUp = qScopeGuard([&] {
        host.container.removeFromSuperview();
        c.reset();
        kpv::RunLoop::main().setClock(nullptr);
    });
    enter();
    FavImageBrowserView& browser = *c->browser();
    const kpv::Point corner = browser.convertPointToView({2, 2}, nullptr);
    const kpv::Point below = browser.convertPointToView({300, browser.bounds().height() + 60}, nullptr);
    ASSERT_EQ(browser.indexOfItemAtPoint({2, 2}), FavImageBrowserView::kNotFound);
    window.sendEvent(kpv::Event::mouseEvent(kpv::LeftMouseDown, corner, &window, 0));
    window.sendEvent(kpv::Event::mouseEvent(kpv::LeftMouseDragged, below, &window, 0));
    clock.advance(0.2);
    ASSERT_TRUE(browser.isAutoscrolling());
    const std::set<std::size_t> chosen = browser.selectionIndexes();

    ASSERT_TRUE(c->handleKeyDown(53, true));
    leave();
    clock.advance(2.0);
    window.sendEvent(kpv::Event::mouseEvent(kpv::LeftMouseUp, below, &window, 0));
    EXPECT_FALSE(browser.isAutoscrolling());
    const double offset = browser.scrollOffset();
    clock.advance(2.0);
    EXPECT_EQ(browser.scrollOffset(), offset) << "scrolled on out of sight";
    EXPECT_TRUE(browser.selectionBand().isEmpty());
    EXPECT_EQ(browser.selectionIndexes(), chosen) << "what the band chose stays chosen";
}

TEST_F(ThumbnailMode, ExitButtonZoomSliderAndContextMenu)
{
    enter();
    ASSERT_TRUE(c->exitButton());
    EXPECT_FALSE(c->exitButton()->toolTip().isEmpty());
    c->exitButton()->sendAction();
    EXPECT_EQ(host.mode, 4);

    enter();
    const kpv::Size before = c->browser()->cellSize();
    c->zoomSlider()->setDoubleValue(400);
    c->zoomSlider()->sendAction();
    EXPECT_EQ(c->browser()->cellSize(), (kpv::Size{400, 300}));
    EXPECT_NE(c->browser()->cellSize(), before);
    c->updateThumbZoomValue(5000, true);
    EXPECT_EQ(c->thumbZoomValue(), ThumbnailViewController::kMaxThumbZoom) << "clamped to the slider's range";
    EXPECT_EQ(c->zoomSlider()->doubleValue(), ThumbnailViewController::kMaxThumbZoom);
    c->updateThumbZoomValue(std::nan(""), true);
    EXPECT_EQ(c->thumbZoomValue(), ThumbnailViewController::kMaxThumbZoom);

    kpv::Event click;
    c->imageBrowserCellWasRightClickedAtIndex(c->browser(), 1, click);
    c->imageBrowserBackgroundWasRightClickedWithEvent(c->browser(), click);
    EXPECT_EQ(host.contextMenuViews, (std::vector<kpv::View*>{c->browser(), c->browser()}));
}

} // namespace
