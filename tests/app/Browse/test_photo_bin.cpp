// The photo bin: the strip's geometry, the cache rule of its pictures and how it follows the
// navigator's notifications, and the strip's moves on a manual clock.
#include "browse_support.h"

#include "Browse/PhotoBinViewController.h"
#include "Browse/PhotoBinStripGeometry.h"

#include "Kit/PhotoBinScrollView.h"
#include "foundation/Clock.h"
#include "foundation/NotificationCenter.h"
#include "foundation/RunLoop.h"

#include <QImage>
#include <QWidget>
#include <gtest/gtest.h>

#include <limits>
#include <set>

namespace {

LMPathString P(const QString& s)
{
    return LMPathString(s, false);
}

PhotoBinStripGeometry geometry(std::uint64_t count, double windowWidth)
{
    PhotoBinStripGeometry g;
    g.itemSize = {48, 40};
    g.itemCount = count;
    g.superBounds = kpv::Rect(0, 0, windowWidth, 52);
    g.stripHeight = 52;
    return g;
}

TEST(PhotoBinGeometry, FramesRangesAndHits)
{
    const PhotoBinStripGeometry empty = geometry(0, 400);
    EXPECT_EQ(empty.stripWidth(), 8.0) << "an empty list gives a strip of width 8";
    EXPECT_EQ(empty.visibleRange(empty.frameForIndex(0)).length, 0u);

    const PhotoBinStripGeometry g = geometry(100, 400);
    EXPECT_EQ(g.pitch(), 56.0);
    const kpv::Rect f10 = g.frameForIndex(10);
    EXPECT_DOUBLE_EQ(f10.x(), 200 - (10 * 56 + 8 + 24));
    // Item 10 is centred: its middle lies on the window's centre line.
    EXPECT_DOUBLE_EQ(f10.x() + g.cellOrigin(10).x + 24, 200.0);
    const auto r = g.visibleRange(f10);
    EXPECT_LE(r.location, 10u);
    EXPECT_GE(r.location + r.length, 11u);

    const auto tail = g.visibleRange(g.frameForIndex(99));
    EXPECT_EQ(tail.location + tail.length, 100u) << "never past the last item";
    // The index of no file (before the folder is read) lays the strip out far to the left: no
    // item shows, and the count does not overflow.
    const auto none = g.visibleRange(g.frameForIndex(std::numeric_limits<std::uint64_t>::max()));
    EXPECT_EQ(none.length, 0u);

    EXPECT_EQ(g.indexAtPoint({8, 10}), 0u);
    EXPECT_EQ(g.indexAtPoint({8 + 47.5, 10}), 0u);
    EXPECT_EQ(g.indexAtPoint({8 + 50, 10}), PhotoBinStripGeometry::kNotFound) << "the gap";
    EXPECT_EQ(g.indexAtPoint({7, 10}), PhotoBinStripGeometry::kNotFound);
    EXPECT_EQ(g.indexAtPoint({8 + 56, 10}), 1u);
    EXPECT_EQ(g.indexAtPoint({8, 5}), PhotoBinStripGeometry::kNotFound) << "below the cells";
    EXPECT_EQ(g.indexAtPoint({8 + 100 * 56, 10}), PhotoBinStripGeometry::kNotFound);

    EXPECT_EQ(g.wholeVisibleCount(kpv::Rect(0, 0, 100, 52)), 7u);
    // A strip scrolled absurdly far left still counts the cells that fit, without overflowing.
    EXPECT_LE(g.wholeVisibleCount(kpv::Rect(-0x1p70, 0, 100, 52)), 7u);
}

TEST(PhotoBinGeometry, MovesStopWithAnEndOnTheCentreLine)
{
    const PhotoBinStripGeometry g = geometry(10, 400);
    bool reached = false;
    const kpv::Rect last = g.frameForIndex(9);
    const kpv::Rect past = g.frameMovedByDelta(last, -500, &reached);
    EXPECT_TRUE(reached);
    EXPECT_DOUBLE_EQ(past.x() + past.width(), 200.0);
    const kpv::Rect first = g.frameMovedByDelta(g.frameForIndex(0), 500, &reached);
    EXPECT_TRUE(reached);
    EXPECT_DOUBLE_EQ(first.x(), 200.0);
    g.frameMovedByDelta(g.frameForIndex(5), 10, &reached);
    EXPECT_FALSE(reached);
}

class FakeNavigator : public PhotoBinNavigator {
public:
    QList<LMPathString> paths;
    std::size_t cur = 0;
    QHash<LMPathString, std::shared_ptr<LMNavFileInfo>> records;
    std::vector<std::size_t> navigations;
    bool refuse = false;
    kpv::View container{kpv::Rect(0, 0, 600, 80)};

    const QList<LMPathString>& filePaths() const override { return paths; }
    std::size_t curFileIndex() const override { return cur; }
    std::shared_ptr<LMNavFileInfo> fileInfoByPath(const LMPathString& p) const override { return records.value(p); }
    bool announce = false; // tells the strip of the new current file, as the viewer does
    void doNavCurFileToIndex(std::size_t index, std::function<void(bool)> done) override
    {
        navigations.push_back(index);
        if (!refuse)
            cur = index;
        if (announce && !refuse)
            kpv::NotificationCenter::defaultCenter().postNotification(QStringLiteral("didChangeCurFile"));
        done(refuse);
    }
    kpv::View* viewNavToolbarContainer() const override { return const_cast<kpv::View*>(&container); }
    QList<LMPathString> favorites;
    int fitins = 0;
    bool isFavoriteFile(const LMPathString& p) const override { return favorites.contains(p); }
    void switchToFitin() override { ++fitins; }
    bool beginDraggingSession(kpv::View*, const kpv::Event&, std::size_t) override { return false; }
    QImage defaultImage(int kind) const override
    {
        QImage img(2, 2, QImage::Format_RGB32);
        img.fill(kind == 1 ? Qt::gray : Qt::black);
        return img;
    }
};

LMImagePtr thumb(QColor c, const QString& path)
{
    QImage img(4, 4, QImage::Format_ARGB32_Premultiplied);
    img.fill(c);
    auto base = std::make_shared<LMFileImgBaseInfo>(P(path), QStringLiteral("public.jpeg"), 2,
                                                    QDateTime::fromSecsSinceEpoch(1), QSizeF(4, 4), 6, QVariantMap());
    return std::make_shared<LMImage>(img, base);
}

QVariantMap loaded(const QString& path, int result, const LMImagePtr& image = nullptr, int type = 8)
{
    QVariantMap m{{"filePath", QVariant::fromValue(P(path))}, {"result", result}, {"ImageScaleType", type}};
    if (image)
        m.insert("image", QVariant::fromValue(image));
    return m;
}

class PhotoBin : public testing::Test {
protected:
    FakeNavigator nav;
    std::unique_ptr<PhotoBinViewController> c;
    void SetUp() override
    {
        for (int i = 0; i < 30; ++i)
            nav.paths.append(P(QStringLiteral("/f%1.jpg").arg(i)));
        for (int i = 0; i < 5; ++i)
            nav.records.insert(nav.paths[i], std::make_shared<LMNavFileInfo>(nav.paths[i]));
        c = std::make_unique<PhotoBinViewController>(nav);
    }
};

// Every EXIF orientation, for pixels stored wide and tall: the strip shows the photo as the
// viewer does, turned and mirrored, so the stored top-left pixel lands where the tag puts it.
TEST_F(PhotoBin, ItemsAreUprightForEveryOrientation)
{
    for (const QSize stored : {QSize(4, 2), QSize(2, 4)}) {
        for (int orientation = 1; orientation <= 8; ++orientation) {
            SCOPED_TRACE(testing::Message() << stored.width() << "x" << stored.height() << " orientation " << orientation);
            QImage img(stored, QImage::Format_ARGB32_Premultiplied);
            img.fill(Qt::white);
            img.setPixelColor(0, 0, Qt::red);
            auto base = std::make_shared<LMFileImgBaseInfo>(P("/f4.jpg"), QStringLiteral("public.jpeg"), 2, QDateTime::fromSecsSinceEpoch(1),
                                                            QSizeF(stored), orientation, QVariantMap());
            const LMImagePtr picture = std::make_shared<LMImage>(img, base);
            c->didUpdateSmallThumb({{"filePath", QVariant::fromValue(P("/f4.jpg"))}, {"image", QVariant::fromValue(picture)}});
            auto item = c->photoBinViewItemAtIndex(nullptr, 4);
            ASSERT_TRUE(item);
            EXPECT_EQ(item->imageAngle(), 0);
            const int w = stored.width(), h = stored.height();
            // Where the stored top-left corner is shown (row 0 and column 0 of the EXIF table).
            const QPoint corner[9] = {{}, {0, 0}, {w - 1, 0}, {w - 1, h - 1}, {0, h - 1}, {0, 0}, {h - 1, 0}, {h - 1, w - 1}, {0, w - 1}};
            EXPECT_EQ(item->image().size(), orientation >= 5 ? stored.transposed() : stored);
            EXPECT_EQ(item->image().pixelColor(corner[orientation]), QColor(Qt::red));
        }
    }
}

TEST_F(PhotoBin, ItemsShowPlaceholdersAndFollowTheCacheRule)
{
    // No record: no item at all; a record without thumbnail: the loading picture.
    EXPECT_EQ(c->photoBinViewItemAtIndex(nullptr, 10), nullptr);
    auto loading = c->photoBinViewItemAtIndex(nullptr, 0);
    ASSERT_TRUE(loading);
    EXPECT_EQ(loading->image().pixelColor(0, 0), QColor(Qt::gray));
    EXPECT_EQ(c->cachedItem(nav.paths[0]), nullptr);

    // A failure marks the file bad only when nothing was cached.
    c->didLoadImage(loaded("/f1.jpg", -1));
    EXPECT_EQ(c->photoBinViewItemAtIndex(nullptr, 1)->image().pixelColor(0, 0), QColor(Qt::black));
    c->didLoadImage(loaded("/f0.jpg", 0, thumb(Qt::red, "/f0.jpg")));
    c->didLoadImage(loaded("/f0.jpg", -1));
    auto item = c->photoBinViewItemAtIndex(nullptr, 0);
    EXPECT_EQ(item->image().pixelColor(0, 0), QColor(Qt::red));
    EXPECT_EQ(item->imageAngle(), 0) << "the picture comes upright";

    // A later informal picture changes nothing; a formal one does.
    c->didLoadImage(loaded("/f0.jpg", 0, thumb(Qt::blue, "/f0.jpg")));
    EXPECT_EQ(c->photoBinViewItemAtIndex(nullptr, 0)->image().pixelColor(0, 0), QColor(Qt::red));
    c->didUpdateSmallThumb({{"filePath", QVariant::fromValue(P("/f0.jpg"))}, {"image", QVariant::fromValue(thumb(Qt::green, "/f0.jpg"))}});
    EXPECT_EQ(c->photoBinViewItemAtIndex(nullptr, 0)->image().pixelColor(0, 0), QColor(Qt::green));

    // Cancelled loads, other types and paths outside the list are ignored.
    c->didLoadImage(loaded("/f2.jpg", -2));
    c->didLoadImage(loaded("/f3.jpg", 0, thumb(Qt::red, "/f3.jpg"), 9));
    c->didLoadImage(loaded("/outside.jpg", 0, thumb(Qt::red, "/outside.jpg")));
    EXPECT_EQ(c->cacheSize(), 2u);

    // Modified: the entry goes, the cell reads the navigator again.
    c->didFileModified({{"filePath", QVariant::fromValue(P("/f0.jpg"))}});
    EXPECT_EQ(c->cachedItem(P("/f0.jpg")), nullptr);
    nav.records[P("/f0.jpg")]->setImage(thumb(Qt::yellow, "/f0.jpg"), false, 8, 0);
    EXPECT_EQ(c->photoBinViewItemAtIndex(nullptr, 0)->image().pixelColor(0, 0), QColor(Qt::yellow));

    // A batch rename re-keys; a rename naming nothing cached leaves the cache alone.
    c->didFilesBatchRenamed({{"/nothing.jpg", QVariant::fromValue(P("/else.jpg"))}});
    EXPECT_TRUE(c->cachedItem(P("/f1.jpg")));
    c->didFilesBatchRenamed({{"/f1.jpg", QVariant::fromValue(P("/g1.jpg"))}});
    EXPECT_TRUE(c->cachedItem(P("/g1.jpg")));
    EXPECT_FALSE(c->cachedItem(P("/f1.jpg")));

    // A new list empties the cache; the visible cells then read the navigator's records again.
    c->didChangeFileList();
    EXPECT_FALSE(c->cachedItem(P("/g1.jpg")));
    ASSERT_TRUE(c->cachedItem(P("/f0.jpg")));
    EXPECT_EQ(c->cachedItem(P("/f0.jpg"))->image().pixelColor(0, 0), QColor(Qt::yellow));
}

// Cells cut by an edge of the bin's window are not shown once the strip is at rest, whichever item
// is current; while it slides they are, so that thumbnails come in from the edge.
TEST_F(PhotoBin, OnlyWholeThumbnailsShowAtRest)
{
    kpv::ManualClock clock;
    kpv::RunLoop::main().setClock(&clock);
    c->show(true);
    PhotoBinView* strip = c->photoBinView();
    ASSERT_TRUE(strip->superview());
    auto check = [&](const char* when) {
        const kpv::Rect window = strip->superview()->bounds();
        int shown = 0, cut = 0;
        for (std::uint64_t i = 0; i < 30; ++i) {
            PhotoBinItemView* cell = strip->cellAtIndex(i);
            if (!cell)
                continue;
            const double left = strip->frame().x() + cell->frame().x();
            const bool whole = left >= window.x() && left + cell->frame().width() <= window.x() + window.width();
            EXPECT_EQ(cell->isHidden(), !whole) << when << ", cell " << i;
            shown += whole;
            cut += !whole;
        }
        EXPECT_GT(shown, 2) << when;
        return cut;
    };
    // The first file: cells from the centre to the right edge, the last one cut there.
    EXPECT_GT(check("first item"), 0);
    nav.cur = 15;
    strip->curItemChanged();
    check("middle item");
    strip->navigateToIndex(16);
    ASSERT_TRUE(strip->isAnimating());
    std::set<std::uint64_t> shownWhileSliding;
    for (std::uint64_t i = 0; i < 30; ++i)
        if (PhotoBinItemView* cell = strip->cellAtIndex(i); cell && !cell->isHidden())
            shownWhileSliding.insert(i);
    clock.advance(0.5);
    ASSERT_FALSE(strip->isAnimating());
    check("after sliding");
    // Everything whole at the end was already in sight on the way, the edge cells included.
    for (std::uint64_t i = 0; i < 30; ++i)
        if (PhotoBinItemView* cell = strip->cellAtIndex(i); cell && !cell->isHidden())
            EXPECT_TRUE(shownWhileSliding.count(i)) << "cell " << i << " popped in at the end";
    kpv::RunLoop::main().setClock(nullptr);
}

// The current item is framed all round, along the middle of each side as at its corners.
TEST_F(PhotoBin, TheCurrentItemIsFramedAllRound)
{
    c->show(true);
    PhotoBinItemView* cell = c->photoBinView()->cellAtIndex(0);
    ASSERT_TRUE(cell && cell->select());
    const QImage picture = cell->renderToImage();
    // How much the frames cover the top side's outer rows (the picture starts below them), near a
    // corner and in the middle.
    const auto edgeAt = [&picture](int x) { return std::max(qAlpha(picture.pixel(x, 0)), qAlpha(picture.pixel(x, 1))); };
    EXPECT_NEAR(edgeAt(picture.width() / 2), edgeAt(6), 8);
}

TEST_F(PhotoBin, ClicksNavigateAndRefusalsReturnOnAManualClock)
{
    kpv::ManualClock clock;
    kpv::RunLoop::main().setClock(&clock);
    c->show(true);
    PhotoBinView* strip = c->photoBinView();
    ASSERT_TRUE(strip->superview());
    const auto range = strip->visibleItemRange();
    EXPECT_EQ(range.location, 0u);
    EXPECT_GT(range.length, 0u);
    EXPECT_LE(range.location + range.length, 30u);
    ASSERT_TRUE(strip->cellAtIndex(0));
    EXPECT_TRUE(strip->cellAtIndex(0)->select());

    bool completed = false;
    c->photoBinViewCellWasClickedAtIndex(strip, 0, [&](bool notNavigated) {
        completed = true;
        EXPECT_FALSE(notNavigated);
    });
    EXPECT_TRUE(completed);
    EXPECT_TRUE(nav.navigations.empty()) << "the current item does not navigate";

    strip->navigateToIndex(3);
    EXPECT_TRUE(strip->isAnimating());
    clock.advance(0.5);
    EXPECT_FALSE(strip->isAnimating());
    EXPECT_EQ(strip->frame(), strip->calcFrameRectByIndex(3));
    clock.advance(0);
    ASSERT_EQ(nav.navigations, std::vector<std::size_t>{3});
    strip->curItemChanged();
    EXPECT_EQ(strip->frame(), strip->calcCurFrameRect());

    nav.refuse = true;
    strip->navigateToIndex(6);
    clock.advance(0.5);
    clock.advance(0);
    clock.advance(0.5);
    EXPECT_EQ(strip->frame(), strip->calcFrameRectByIndex(3)) << "a refused navigation comes back";

    // A reload during a click animation finishes it first, then jumps to the current item.
    nav.refuse = false;
    strip->navigateToIndex(8);
    strip->reloadData();
    EXPECT_FALSE(strip->isAnimating());
    EXPECT_EQ(strip->frame(), strip->calcCurFrameRect());
    clock.advance(0);
    EXPECT_EQ(nav.navigations.back(), 8u);

    // Wheel at the last item does nothing.
    nav.cur = 29;
    strip->curItemChanged();
    const std::size_t before = nav.navigations.size();
    strip->scrollToNextItem(true);
    clock.advance(1);
    EXPECT_EQ(nav.navigations.size(), before);

    c->show(false);
    kpv::RunLoop::main().setClock(nullptr);
}

// Files that vanish while the strip still slides to a clicked cell move every later file up the
// list: the click's place now holds another photo, which must not be opened in its stead.
TEST_F(PhotoBin, AClickSlidingWhileTheListChangesOpensNoOtherPhoto)
{
    kpv::ManualClock clock;
    kpv::RunLoop::main().setClock(&clock);
    c->show(true);
    PhotoBinView* strip = c->photoBinView();
    strip->navigateToIndex(8); // the cell of /f8.jpg
    ASSERT_TRUE(strip->isAnimating());
    nav.paths.erase(nav.paths.begin(), nav.paths.begin() + 3);
    kpv::NotificationCenter::defaultCenter().postNotification(QStringLiteral("didChangeFileList"));
    clock.advance(0.5);
    clock.advance(0);
    EXPECT_TRUE(nav.navigations.empty()) << "place 8 now holds /f11.jpg";
    EXPECT_EQ(strip->frame(), strip->calcCurFrameRect());

    // A click made on the new list goes where it was made.
    strip->navigateToIndex(4);
    clock.advance(0.5);
    clock.advance(0);
    EXPECT_EQ(nav.navigations, std::vector<std::size_t>{4});
    c->show(false);
    kpv::RunLoop::main().setClock(nullptr);
}

// Every notch of the wheel moves one photo, however fast the wheel turns: notches that come while
// the strip still slides, and several notches in one report, each count.
TEST_F(PhotoBin, EveryWheelNotchMovesOnePhotoEvenWhileTheStripSlides)
{
    kpv::ManualClock clock;
    kpv::RunLoop::main().setClock(&clock);
    nav.announce = true;
    c->show(true);
    PhotoBinScrollView* bin = c->view();
    auto notches = [&](double n) {
        auto e = kpv::Event::mouseEvent(kpv::ScrollWheel, kpv::Point{10, 10}, nullptr);
        e->setScrollingDelta(0, -n);
        bin->scrollWheel(*e);
    };
    auto settle = [&] {
        for (int i = 0; i < 10; ++i)
            clock.advance(0.1);
    };
    // Three notches in quick succession, then two reported at once.
    notches(1);
    clock.advance(0.05);
    notches(1);
    clock.advance(0.05);
    notches(1);
    notches(2);
    settle();
    EXPECT_EQ(nav.cur, 5u);
    EXPECT_EQ(c->photoBinView()->frame(), c->photoBinView()->calcFrameRectByIndex(5));
    // Back two, one of them arriving while the strip slides to the first; then a forward notch
    // arriving just after a slide ended but before the viewer moved.
    notches(-1);
    clock.advance(0.1);
    notches(-1);
    settle();
    EXPECT_EQ(nav.cur, 3u);
    notches(1);
    clock.advance(PhotoBinView::kAnimationDuration);
    notches(1);
    settle();
    EXPECT_EQ(nav.cur, 5u);
    // A touchpad's small moves add up to steps: 200 pixels are five photos.
    for (int i = 0; i < 40; ++i) {
        auto e = kpv::Event::mouseEvent(kpv::ScrollWheel, kpv::Point{10, 10}, nullptr);
        e->setScrollingDelta(0, -5);
        e->setHasPreciseScrollingDeltas(true);
        bin->scrollWheel(*e);
        clock.advance(0.02);
    }
    settle();
    EXPECT_EQ(nav.cur, 10u);
    // At the end of the folder extra notches stop at the last photo.
    notches(30);
    settle();
    EXPECT_EQ(nav.cur, 29u);
    EXPECT_EQ(c->photoBinView()->frame(), c->photoBinView()->calcFrameRectByIndex(29));
    c->show(false);
    kpv::RunLoop::main().setClock(nullptr);
}

} // namespace

// A thumbnail that arrives marks only its own cell for drawing: not the strip, the bin around it
// or the other cells (which would have every arrival redraw the whole bin and what lies under it).
TEST_F(PhotoBin, AThumbnailArrivalRedrawsOnlyItsCell)
{
    c->show(true);
    PhotoBinView* strip = c->photoBinView();
    ASSERT_TRUE(strip->cellAtIndex(2) && strip->cellAtIndex(3));
    nav.container.widget()->grab(); // paints everything once: no shown view is left marked
    std::function<void(kpv::View*, std::vector<kpv::View*>&)> marked = [&](kpv::View* v, std::vector<kpv::View*>& out) {
        if (v->isHidden())
            return;
        if (v->needsDisplay())
            out.push_back(v);
        for (kpv::View* child : v->subviews())
            marked(child, out);
    };
    auto markedViews = [&] {
        std::vector<kpv::View*> out;
        marked(&nav.container, out);
        return out;
    };
    ASSERT_TRUE(markedViews().empty());

    c->didLoadImage(loaded("/f2.jpg", 0, thumb(Qt::red, "/f2.jpg")));
    EXPECT_EQ(markedViews(), std::vector<kpv::View*>{strip->cellAtIndex(2)});
    nav.container.widget()->grab();
    c->didUpdateSmallThumb({{"filePath", QVariant::fromValue(P("/f3.jpg"))}, {"image", QVariant::fromValue(thumb(Qt::green, "/f3.jpg"))}});
    EXPECT_EQ(markedViews(), std::vector<kpv::View*>{strip->cellAtIndex(3)});
    nav.container.widget()->grab();
    // A large thumbnail, or an informal picture for a cell that has one, draws nothing.
    c->didLoadImage(loaded("/f3.jpg", 0, thumb(Qt::blue, "/f3.jpg"), 9));
    c->didLoadImage(loaded("/f2.jpg", 0, thumb(Qt::blue, "/f2.jpg")));
    EXPECT_TRUE(markedViews().empty());
}

TEST(PhotoBinMemory, SteppingThroughAThousandsOfFilesKeepsOnlyPicturesNearTheCurrentOne)
{
    // The viewer keeps records for the files around the current one (as many as the strip can
    // show on either side); the strip's pictures of files it let go must go too.
    FakeNavigator nav;
    for (int i = 0; i < 2000; ++i)
        nav.paths.append(P(QStringLiteral("/big/%1.jpg").arg(i)));
    PhotoBinViewController c(nav);
    constexpr int kWindow = 40;
    std::size_t most = 0;
    for (int cur = 0; cur < 2000; ++cur) {
        nav.cur = std::size_t(cur);
        if (cur > kWindow)
            nav.records.remove(nav.paths[cur - kWindow - 1]);
        nav.records.insert(nav.paths[cur], std::make_shared<LMNavFileInfo>(nav.paths[cur]));
        const QString path = nav.paths[cur].path();
        c.didLoadImage(loaded(path, 0, thumb(Qt::red, path)));
        most = std::max(most, c.cacheSize());
    }
    EXPECT_LE(most, 300u);
}
