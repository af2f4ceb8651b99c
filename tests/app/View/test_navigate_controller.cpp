// The view-mode controller on a model view, a recording host and a loader that decodes nothing:
// opening and navigating, what is loaded and kept around the current file, the filing of results,
// stepping with the end tip, auto-navigation on the manual clock, keys, wheel, the command gate
// and deleted files.

#include "nav_test_support.h"

#include "appkit/Event.h"

using namespace navtest;

namespace {

kpv::Event keyEvent(char16_t c, uint64_t flags, bool repeat = false)
{
    kpv::Event e(kpv::KeyDown);
    e.setCharacters(QString(QChar(c)), QString(QChar(c)));
    e.setModifierFlags(flags);
    e.setARepeat(repeat);
    return e;
}

kpv::Event wheelEvent(double dx, double dy)
{
    kpv::Event e(kpv::ScrollWheel);
    e.setScrollingDelta(dx, dy);
    return e;
}

constexpr uint64_t kNumPad = 1 << 21;
constexpr uint64_t kCommand = 1 << 20;
constexpr uint64_t kShift = 1 << 17;

} // namespace

TEST_F(NavTest, OpenNavigateAndNotify)
{
    Recorder rec(controller.get());
    open(5);
    EXPECT_EQ(controller->curFileIndex(), 0);
    EXPECT_EQ(controller->curFilePath(), paths[0]);
    EXPECT_EQ(rec.names, (QStringList{"didChangeFileList", "didChangeCurFile"}));
    EXPECT_FALSE(rec.infos[1].value("quickNav").toBool());
    EXPECT_EQ(host->title, "img000.jpg (1/5)");
    EXPECT_EQ(host->representedFile, paths[0].path());

    rec.clear();
    // The current index again with the list unchanged: nothing at all.
    const size_t queued = host->queue.size();
    EXPECT_FALSE(controller->navCurFileToIndex(0, false, true, false));
    EXPECT_TRUE(rec.names.isEmpty());
    EXPECT_EQ(host->queue.size(), queued);
    // Out of range: NO, nothing changes.
    EXPECT_FALSE(controller->navCurFileToIndex(5, false, true, false));
    EXPECT_FALSE(controller->navCurFileToIndex(-1, false, true, false));
    EXPECT_EQ(controller->curFileIndex(), 0);

    EXPECT_TRUE(controller->navCurFileToIndex(3, false, true, true));
    EXPECT_EQ(rec.names, QStringList{"didChangeCurFile"});
    EXPECT_TRUE(rec.infos[0].value("quickNav").toBool());
    EXPECT_EQ(rec.infos[0].value("filePath").value<LMPathString>(), paths[3]);
    EXPECT_EQ(host->title, "img003.jpg (4/5)");
}

TEST_F(NavTest, SingleFileTitleAndLoadsOnlyInViewModes)
{
    open(1);
    EXPECT_EQ(host->title, "img000.jpg");
    runLoads();
    std::set<int> types;
    for (const auto &l : loader.loads)
        if (l.path == paths[0])
            types.insert(l.type);
    // Shown fitted, the file is decoded once, at the fit-in size, which holds every pixel the view
    // shows: never whole, nor at a larger reduction; its thumbnails are made from the fit-in image.
    EXPECT_EQ(types, (std::set<int>{10}));

    // Favourites mode: navigation changes the file but loads nothing until the mode returns.
    host->mode = NavShowModeFavorite;
    open(3);
    host->queue.clear();
    EXPECT_TRUE(controller->navCurFileToIndex(2, false, true, false));
    EXPECT_TRUE(host->queue.empty());
    controller->willChangeMainShowMode(NavShowModeFavorite, NavShowModeView);
    EXPECT_FALSE(host->queue.empty());
}

namespace {

// Runs the queued loads once and files their results, without drawing a frame.
void runQueuedOnce(FakeHost &host)
{
    auto ops = std::move(host.queue);
    host.queue.clear();
    for (auto &op : ops)
        op->start();
    kpv::RunLoop::main().runOnce();
}

} // namespace

// A thumbnail the file stores is the quick picture of a file opened; the desktop cache's is not
// when the sharp picture comes at once (a visit after the first would flash it enlarged): the
// sharp picture is the first, and the bin's cell is made from it.
TEST_F(NavTest, OnlyAThumbnailTheFileStoresGoesAheadOfASharpPictureThatComesAtOnce)
{
    loader.storedThumbs = true;
    for (const bool inCache : {false, true}) {
        loader.storedThumbsInCache = inCache;
        open(3);
        runQueuedOnce(*host);
        EXPECT_EQ(!controller->fileInfoByIndex(0)->imageByType(8), inCache);
        EXPECT_TRUE(view.imageFitin());
        host->drawFrame();
        runLoads();
        EXPECT_TRUE(controller->fileInfoByIndex(0)->imageByType(8));
    }
}

TEST_F(NavTest, OnlyTheQuickPictureAndTheFitInStartBeforeTheFirstPictureIsOnScreen)
{
    // As with real photographs, the fit-in image is the reduction a fitted view wants.
    loader.equivalentFor[10] = 2;
    open(10);
    auto fileLoads = [&] {
        std::vector<FakeLoader::Load> out;
        for (const auto &l : loader.loads)
            if (paths.contains(l.path))
                out.push_back(l);
        return out;
    };
    // The current file's small thumbnail starts at once and its fit-in after it (the two take
    // turns on the file, the quick picture first); everything else is held, the next file's
    // fit-in too, so that nothing decodes beside the first sharp picture.
    ASSERT_EQ(host->queue.size(), 2u);
    EXPECT_TRUE(host->queue[0]->dependencies().empty());
    EXPECT_EQ(host->queue[1]->dependencies(), std::vector<std::shared_ptr<kpv::Operation>>{host->queue[0]});
    // What the user waits for runs at the threads' normal priority.
    for (const auto &op : host->queue)
        EXPECT_EQ(op->qualityOfService(), kpv::Operation::QualityOfService::Default);
    const std::shared_ptr<kpv::Operation> quickPicture = host->queue[0];
    const std::shared_ptr<kpv::Operation> firstPicture = host->queue[1];
    EXPECT_GT(controller->heldLoadCount(), 10u);
    runQueuedOnce(*host);
    auto loads = fileLoads();
    // The file stores no thumbnail: no quick picture is decoded ahead of the sharp one, which is
    // the one decode.
    ASSERT_EQ(loads.size(), 1u);
    EXPECT_EQ(loads[0].type, 10);
    EXPECT_FALSE(controller->fileInfoByIndex(0)->imageByType(8));
    // The fit-in is in the view, but not yet on screen: still nothing else runs.
    EXPECT_TRUE(view.imageFitin());
    EXPECT_TRUE(host->queue.empty());
    ASSERT_EQ(host->afterFrame.size(), 1u);

    // The frame is drawn: the held loads are queued in their order, the current file's large
    // thumbnail first (made from the fit-in), then the next file's fit-in, then the neighbours'
    // thumbnails and fit-ins, which wait for the next file's fit-in, each large thumbnail also
    // for its file's small one, and the thumbnails of a file whose fit-in the pass decodes for
    // that fit-in.
    host->drawFrame();
    EXPECT_EQ(controller->heldLoadCount(), 0u);
    ASSERT_GT(host->queue.size(), 10u);
    const auto firstDeps = host->queue[0]->dependencies();
    EXPECT_EQ(std::set<std::shared_ptr<kpv::Operation>>(firstDeps.begin(), firstDeps.end()),
              (std::set<std::shared_ptr<kpv::Operation>>{quickPicture, firstPicture}));
    const std::shared_ptr<kpv::Operation> nextPicture = host->queue[1];
    EXPECT_EQ(nextPicture->dependencies(), std::vector<std::shared_ptr<kpv::Operation>>{firstPicture});
    // The neighbours' loads fill caches ahead of need: they yield the processors.
    EXPECT_EQ(host->queue[0]->qualityOfService(), kpv::Operation::QualityOfService::Default);
    EXPECT_EQ(nextPicture->qualityOfService(), kpv::Operation::QualityOfService::Default);
    for (size_t i = 2; i < host->queue.size(); ++i) {
        EXPECT_EQ(host->queue[i]->qualityOfService(), kpv::Operation::QualityOfService::Background) << i;
        const auto deps = host->queue[i]->dependencies();
        EXPECT_NE(std::find(deps.begin(), deps.end(), nextPicture), deps.end()) << i;
    }
    // Run as a queue runs them: each once its dependencies have finished.
    for (auto ops = std::move(host->queue); !ops.empty();) {
        const auto ready = std::find_if(ops.begin(), ops.end(), [](const auto &op) { return op->isReady(); });
        ASSERT_NE(ready, ops.end());
        (*ready)->start();
        ops.erase(ready);
    }
    kpv::RunLoop::main().runOnce();
    loads = fileLoads();
    ASSERT_GT(loads.size(), 4u);
    EXPECT_EQ(loads[1].path, paths[1]);
    EXPECT_EQ(loads[1].type, 10);
    // The current file and the six around it whose fit-ins are decoded get their thumbnails from
    // those: each of them is decoded once. Files further away are decoded once, for their
    // thumbnails.
    std::map<QString, int> decodes;
    for (const auto &l : loads)
        ++decodes[l.path.path()];
    for (const auto &[path, count] : decodes)
        EXPECT_EQ(count, 1) << path.toStdString();
    EXPECT_TRUE(controller->fileInfoByIndex(0)->imageByType(8));
    EXPECT_TRUE(controller->fileInfoByIndex(1)->imageByType(8));
    EXPECT_TRUE(controller->fileInfoByIndex(1)->imageByType(9));
    // Nothing decoded the current file whole, nor again at the size of its fit-in.
    for (const auto &l : loads)
        EXPECT_FALSE(l.path == paths[0] && (l.type == 1 || l.type == 2));

    // With the fit-in decoded, the next pass holds nothing back.
    host->queue.clear();
    controller->navCurFileToIndex(0, true, true, false);
    EXPECT_EQ(controller->heldLoadCount(), 0u);
}

// After the first step the image window widens: its fit-ins decode one after another, not side by
// side, so that their buffers are not all held at once while the user steps.
TEST_F(NavTest, TheWindowsFitinsDecodeOneAfterAnother)
{
    loader.equivalentFor[10] = 2;
    open(10);
    runLoads();
    host->queue.clear();
    loader.loads.clear();
    ASSERT_TRUE(controller->navCurFileToIndex(1, false, true, false));
    host->drawFrame(); // the step's picture is on screen: the held loads go
    int windowFitins = 0;
    // Each round starts what is ready when it begins, as a queue with free workers would.
    for (int round = 0; round < 20 && !host->queue.empty(); ++round) {
        std::vector<std::shared_ptr<kpv::Operation>> ready, waiting;
        for (const auto &op : host->queue)
            (op->isReady() ? ready : waiting).push_back(op);
        ASSERT_FALSE(ready.empty());
        host->queue = std::move(waiting);
        const size_t before = loader.loads.size();
        for (const auto &op : ready)
            op->start();
        kpv::RunLoop::main().runOnce();
        int fitins = 0;
        for (size_t i = before; i < loader.loads.size(); ++i)
            fitins += loader.loads[i].type == 10 && loader.loads[i].path != paths[1] && loader.loads[i].path != paths[2];
        EXPECT_LE(fitins, 1) << round;
        windowFitins += fitins;
    }
    // Files 3, 4, 8 and 9: 0 was shown, and 9, across the list's start, was not decoded ahead.
    EXPECT_EQ(windowFitins, 4);
}

// A picture left on screen for a moment has what 100% shows decoded in the background, as parts
// of the file, never the whole; a step before that decodes nothing for it.
TEST_F(NavTest, AStillPictureHasWhatOneHundredPercentShowsDecodedAheadNeverWhole)
{
    loader.equivalentFor[10] = 2;
    loader.codecType = 2; // JPEG: its fit-in comes from a scaled decode
    auto wholeDecodes = [&](int index) {
        return std::count_if(loader.loads.begin(), loader.loads.end(),
                             [&](const auto &l) { return l.path == paths[index] && l.type == 1; });
    };
    open(10);
    runLoads();
    host->queue.clear();
    clock.advance(0.5);
    kpv::RunLoop::main().runOnce();
    EXPECT_TRUE(host->queue.empty());
    // A step within the moment: the next picture is shown, and nothing is decoded for the first.
    EXPECT_TRUE(controller->navCurFileToIndex(1, true, true, false));
    runLoads();
    host->queue.clear();
    clock.advance(0.5);
    kpv::RunLoop::main().runOnce();
    EXPECT_TRUE(host->queue.empty());
    EXPECT_EQ(wholeDecodes(0), 0);
    EXPECT_EQ(loader.regionLoads, 0);

    clock.advance(0.3);
    kpv::RunLoop::main().runOnce();
    ASSERT_EQ(host->queue.size(), 1u); // one band of parts
    EXPECT_EQ(host->queue[0]->qualityOfService(), kpv::Operation::QualityOfService::Background);
    runLoads();
    EXPECT_EQ(loader.regionLoads, 1);
    EXPECT_EQ(wholeDecodes(1), 0);
    EXPECT_TRUE(view.imageFitin()); // the fitted view keeps its fit-in picture
}

TEST_F(NavTest, HeldLoadsStartWithoutAFrameOrAPictureAndGoWithTheFile)
{
    loader.equivalentFor[10] = 2;
    // A view that draws no frame: the held loads start a moment after the picture was filed.
    open(10);
    runQueuedOnce(*host);
    EXPECT_TRUE(host->queue.empty());
    clock.advance(0.1);
    kpv::RunLoop::main().runOnce();
    EXPECT_TRUE(host->queue.empty());
    clock.advance(0.2);
    kpv::RunLoop::main().runOnce();
    EXPECT_GT(host->queue.size(), 10u);
    // The late frame queues nothing twice.
    const size_t queued = host->queue.size();
    host->drawFrame();
    EXPECT_EQ(host->queue.size(), queued);

    // The fit-in is cancelled before it ran: nothing will be shown soon, so the neighbours go.
    host->queue.clear();
    open(10, QStringLiteral(".png"));
    ASSERT_EQ(host->queue.size(), 2u);
    for (auto &op : host->queue)
        op->cancel();
    runQueuedOnce(*host);
    EXPECT_GT(host->queue.size(), 10u);

    // An unreadable file fails its fit-in: the neighbours go at once too.
    host->queue.clear();
    paths = {LMPathString("/nonexistent/bad1.jpg", false), LMPathString("/nonexistent/img2.jpg", false)};
    controller->openFilePaths(paths, {}, false);
    runQueuedOnce(*host);
    bool failed = false;
    EXPECT_FALSE(controller->curFileInfo()->imageByType(10, &failed));
    EXPECT_TRUE(failed);
    EXPECT_FALSE(host->queue.empty());
    EXPECT_EQ(controller->heldLoadCount(), 0u);

    // Moving on before the picture arrived forgets what was held for the former file.
    host->queue.clear();
    open(10, QStringLiteral(".tif"));
    controller->navCurFileToIndex(4, false, true, false);
    EXPECT_GT(controller->heldLoadCount(), 0u);
    const size_t heldForFirst = controller->heldLoadCount();
    host->queue.clear();
    controller->navCurFileToIndex(5, false, true, false);
    // Only the new file's quick picture and fit-in are queued; the new file holds its own set.
    ASSERT_EQ(host->queue.size(), 2u);
    EXPECT_EQ(controller->heldLoadCount(), heldForFirst);
    loader.loads.clear();
    runQueuedOnce(*host);
    std::vector<int> types;
    for (const auto &l : loader.loads)
        if (l.path == paths[5])
            types.push_back(l.type);
    EXPECT_EQ(types, (std::vector<int>{10}));
}

TEST_F(NavTest, FullSizeOnlyWhenZoomedPastTheFitInOrAskedFor)
{
    open(3);
    runLoads();
    auto fullLoads = [&] {
        int count = 0;
        for (const auto &l : loader.loads)
            count += l.path == paths[0] && l.type == 1;
        return count;
    };
    EXPECT_EQ(fullLoads(), 0);
    EXPECT_FALSE(controller->curFileInfo()->imageByType(1));
    // Zoomed to actual pixels, the view asks for the whole picture.
    view.setScale(1.0);
    runLoads();
    EXPECT_EQ(fullLoads(), 1);
    EXPECT_TRUE(controller->curFileInfo()->imageByType(1));
    // Asked for by a page that needs every pixel: decoded once, not again.
    controller->loadCurFileOriginalImage();
    EXPECT_TRUE(host->queue.empty());
}

// An animation shows its frames as they decode, in the place and at the size of the whole
// animation: in order, waiting on the last decoded frame for the next rather than starting over,
// until the whole animation takes over and plays round. Frames told late, or of a file no longer
// shown, change nothing.
TEST_F(NavTest, AnimationShowsItsFramesAsTheyDecode)
{
    loader.gifFrames = 4;
    std::vector<LMImagePtr> shown;
    std::vector<int64_t> frameAfterDelay;
    loader.afterFramesSoFar = [&](int count) {
        // The current file's animation is asked for first.
        if (shown.size() >= 2 || (count == 1 && !shown.empty()))
            return;
        kpv::RunLoop::main().runOnce();
        shown.push_back(view.imageNormal());
        // Two delays later the view has reached the last decoded frame and waits there.
        const double delay = view.imageNormal()->originalImgBaseInfo()->delayTime();
        clock.advance(delay);
        clock.advance(delay);
        frameAfterDelay.push_back(view.curFrameIdx());
    };
    open(2, QStringLiteral(".gif"));
    runLoads();
    ASSERT_EQ(shown.size(), 2u);
    const LMImagePtr whole = controller->curFileInfo()->imageByType(10);
    ASSERT_TRUE(whole);
    ASSERT_EQ(whole->frameDatas().size(), 4);
    for (size_t i = 0; i < shown.size(); ++i) {
        ASSERT_TRUE(shown[i]);
        EXPECT_EQ(shown[i]->frameDatas().size(), qsizetype(1) << i);
        EXPECT_EQ(shown[i]->width(), whole->width());
        EXPECT_EQ(shown[i]->frameDatas().first(), whole->frameDatas().first());
    }
    EXPECT_EQ(frameAfterDelay, (std::vector<int64_t>{0, 1}));
    // The whole animation is shown, goes on from the frame reached and plays round.
    EXPECT_EQ(view.imageNormal(), whole);
    EXPECT_FALSE(view.framesStillDecoding());
    EXPECT_TRUE(view.isFrameSwitchTimerRunning());
    const int64_t reached = view.curFrameIdx();
    const double delay = whole->originalImgBaseInfo()->delayTime();
    for (int step = 1; step <= 4; ++step) {
        clock.advance(delay);
        EXPECT_EQ(view.curFrameIdx(), (reached + step) % 4) << "step " << step;
    }

    // Frames told late for the shown animation, or for another file, are not shown.
    controller->showFramesSoFar(paths[0], 10, shown[1]);
    EXPECT_EQ(view.imageNormal(), whole);
    controller->showFramesSoFar(paths[1], 10, shown[1]);
    EXPECT_EQ(view.imageNormal(), whole);
}

// An animation under another mode (the grid, favourites) holds its frame with no timer left to
// wake the program; back in the viewer it goes on from that frame.
TEST_F(NavTest, AnAnimationUnderAnotherModeHoldsItsFrameWithNoTimerRunning)
{
    loader.gifFrames = 4;
    open(1, QStringLiteral(".gif"));
    runLoads();
    controller->didChangeMainShowMode(NavShowModeEmpty, NavShowModeView);
    ASSERT_TRUE(view.isFrameSwitchTimerRunning());
    const double delay = view.imageNormal()->originalImgBaseInfo()->delayTime();
    clock.advance(delay);
    for (const int64_t mode : {int64_t(NavShowModeThumbnail), int64_t(NavShowModeFavorite)}) {
        SCOPED_TRACE(mode);
        controller->didChangeMainShowMode(NavShowModeView, mode);
        clock.advance(1.0); // the favourites' margin animation ends
        EXPECT_FALSE(view.isFrameSwitchTimerRunning());
        EXPECT_EQ(kpv::RunLoop::main().timerCount(), 0);
        const int64_t held = view.curFrameIdx();
        clock.advance(delay * 10);
        EXPECT_EQ(view.curFrameIdx(), held);

        controller->didChangeMainShowMode(mode, NavShowModeView);
        EXPECT_TRUE(view.isFrameSwitchTimerRunning());
        clock.advance(delay);
        EXPECT_EQ(view.curFrameIdx(), (held + 1) % 4);
    }
}

// Each file of the photo bin is decoded once for both its thumbnails: the small one is made from
// the large one unless the file or the desktop has a small picture that costs no decode.
TEST_F(NavTest, OneDecodePerFileForBothThumbnails)
{
    host->binMax = 9;
    Recorder rec(controller.get());
    open(20);
    runLoads();
    auto loadsOf = [&](const LMPathString &path, int type) {
        return std::count_if(loader.loads.begin(), loader.loads.end(),
                             [&](const auto &l) { return l.path == path && l.type == type; });
    };
    // The current file and the next have their fit-ins decoded: their thumbnails are made from
    // those. The others the bin shows (the first file's cell and four after it) are decoded once,
    // at the large thumbnail's size; the bin does not wrap, and the last file, across the list's
    // start, is not decoded ahead: it has no thumbnails.
    auto fromFitin = [](qsizetype i) { return i <= 1; };
    auto decodedForThumbnails = [](qsizetype i) { return i > 1 && i <= 5; };
    int neighbours = 0;
    for (qsizetype i = 0; i < paths.size(); ++i) {
        const auto info = controller->fileInfoByIndex(i);
        if (!info || !(fromFitin(i) || decodedForThumbnails(i))) {
            EXPECT_FALSE(loadsOf(paths[i], 9) || (info && info->imageByType(8))) << i;
            continue;
        }
        ++neighbours;
        EXPECT_EQ(loadsOf(paths[i], 8), 0) << i;
        EXPECT_EQ(loadsOf(paths[i], 9), decodedForThumbnails(i) ? 1 : 0) << i;
        const LMImagePtr small = info->imageByType(8), large = info->imageByType(9);
        ASSERT_TRUE(small && large) << i;
        EXPECT_EQ(small->width(), 160u) << i;
        EXPECT_EQ(small->height(), 120u) << i;
        EXPECT_EQ(large->width(), 256u) << i;
    }
    EXPECT_EQ(neighbours, 5);
    EXPECT_TRUE(controller->fileInfoByIndex(16));
    // The small pictures made so are the sharp ones already: none is made again.
    EXPECT_EQ(rec.count("didUpdateSmallThumb"), 0);

    // With stored small pictures, those are filed first; the large thumbnail is still made once
    // (decoded, or from the fit-in), and the sharper small one is made from it.
    loader.loads.clear();
    loader.storedThumbs = true;
    rec.clear();
    open(20, QStringLiteral(".tif"));
    runLoads();
    for (qsizetype i = 0; i < paths.size(); ++i) {
        if (!controller->fileInfoByIndex(i) || !(fromFitin(i) || decodedForThumbnails(i)))
            continue;
        EXPECT_EQ(loadsOf(paths[i], 8), 0) << i;
        EXPECT_EQ(loadsOf(paths[i], 9), decodedForThumbnails(i) ? 1 : 0) << i;
    }
    EXPECT_EQ(rec.count("didUpdateSmallThumb"), 5);

    // A second visit finds the large thumbnails in the cache: each is read once, for both sizes,
    // and no cell the bin shows is decoded.
    loader.loads.clear();
    loader.storedThumbs = false;
    loader.storedLargeThumbs = true;
    loader.storedLargeLookups = 0;
    open(20, QStringLiteral(".png"));
    runLoads();
    int cells = 0, others = 0;
    for (qsizetype i = 1; i < paths.size(); ++i) {
        const auto info = controller->fileInfoByIndex(i);
        if (!info || !info->imageByType(8))
            continue;
        ++others;
        if (!decodedForThumbnails(i))
            continue;
        ++cells;
        EXPECT_EQ(loadsOf(paths[i], 8) + loadsOf(paths[i], 9), 0) << i;
        ASSERT_TRUE(info->imageByType(9)) << i;
        EXPECT_EQ(info->imageByType(8)->width(), 160u) << i;
    }
    EXPECT_GE(cells, 3);
    EXPECT_EQ(loader.storedLargeLookups, others);
}

// A step to a file whose picture is decoded already draws it at once: the neighbours' loads of
// that step, the next file's fit-in among them, start only once it is on screen.
TEST_F(NavTest, AStepHoldsTheBackgroundLoadsUntilThePictureIsOnScreen)
{
    host->binMax = 5;
    open(12);
    runLoads();
    ASSERT_TRUE(controller->fileInfoByIndex(1)->imageByType(10));
    host->queue.clear();
    ASSERT_TRUE(controller->navFile(true, false));
    EXPECT_TRUE(view.imageFitin());
    for (const auto &op : host->queue)
        EXPECT_EQ(op->queuePriority(), 0);
    const size_t held = controller->heldLoadCount();
    EXPECT_GE(held, 3u); // the new neighbours' thumbnails and the next files' fit-ins
    const size_t queued = host->queue.size();
    host->drawFrame();
    EXPECT_EQ(controller->heldLoadCount(), 0u);
    EXPECT_EQ(host->queue.size(), queued + held);
    // The next file's fit-in still comes first among them.
    ASSERT_FALSE(host->queue.empty());
    runLoads();
    EXPECT_TRUE(controller->fileInfoByIndex(3)->imageByType(10));

    // A view that draws no frame: they go a moment later.
    host->queue.clear();
    ASSERT_TRUE(controller->navFile(true, false));
    EXPECT_GT(controller->heldLoadCount(), 0u);
    clock.advance(0.3);
    kpv::RunLoop::main().runOnce();
    EXPECT_EQ(controller->heldLoadCount(), 0u);
    EXPECT_FALSE(host->queue.empty());

    // Quick steps load only the current file's thumbnails and hold nothing; a pass for the same
    // file holds nothing either.
    host->queue.clear();
    ASSERT_TRUE(controller->navFile(true, true));
    EXPECT_EQ(controller->heldLoadCount(), 0u);
    controller->submitCacheOperation(true, false);
    EXPECT_EQ(controller->heldLoadCount(), 0u);
}

TEST_F(NavTest, LoadsAreFiledAndNotRequestedTwice)
{
    Recorder rec(controller.get());
    open(10);
    runLoads();
    const auto cur = controller->curFileInfo();
    ASSERT_TRUE(cur);
    EXPECT_TRUE(cur->imageByType(8));
    EXPECT_FALSE(cur->imageByType(1));
    EXPECT_TRUE(cur->imgBaseInfo());
    EXPECT_EQ(controller->curFileState(), 1);
    EXPECT_GE(rec.count("didLoadCurrentSmallThumb"), 1);
    EXPECT_GE(rec.count("didLoadCurrentLargeThumb"), 1);
    EXPECT_GE(rec.count("didCurFileImageUpdated"), 3);
    // The view shows the fit-in filler and a decoded image.
    EXPECT_TRUE(view.imageFitin());
    EXPECT_TRUE(view.imageNormal());
    // Neighbours got thumbnails and fit-ins, never full size.
    const auto next = controller->fileInfoByIndex(1);
    ASSERT_TRUE(next);
    EXPECT_TRUE(next->imageByType(10));
    EXPECT_FALSE(next->imageByType(1));
    // Once the better reductions asked for by the view are in, a new pass asks for nothing more.
    runLoads();
    host->queue.clear();
    controller->submitCacheOperation(true, false);
    EXPECT_TRUE(host->queue.empty());
    // A record outside the windows never gets a load.
    EXPECT_FALSE(controller->fileInfoByIndex(5) && controller->fileInfoByIndex(5)->imageByType(10));
}

// A photo opened and looked at costs one fit-in decode on either side of it, ready for the first
// step either way; once the user steps, the passes decode the three on each side ahead. At the
// folder's first file, the last one is two presses away (the first tells that the start is
// reached): it is decoded at that press.
TEST_F(NavTest, TheFitInsDecodedAheadWidenOnceTheUserSteps)
{
    open(20);
    runLoads();
    auto fitins = [&] {
        std::set<QString> out;
        for (const auto &l : loader.loads)
            if (l.type == 10)
                out.insert(QFileInfo(l.path.path()).fileName());
        loader.loads.clear();
        return out;
    };
    auto names = [&](std::initializer_list<int> indices) {
        std::set<QString> out;
        for (int i : indices)
            out.insert(QFileInfo(paths[i].path()).fileName());
        return out;
    };
    EXPECT_EQ(fitins(), names({0, 1}));
    EXPECT_FALSE(controller->navFile(false, false));
    runLoads();
    EXPECT_EQ(fitins(), names({19}));
    controller->navCurFileToIndex(1, false, true, false);
    runLoads();
    EXPECT_EQ(fitins(), names({2, 3, 4, 18}));
}

// In a window narrower than the screen the photo bin shows fewer cells: only theirs are decoded for
// thumbnails (the current file's and its neighbours' come from their fit-ins). The cell beyond
// each end waits until the user steps, which slides it in.
TEST_F(NavTest, ThumbnailsAreDecodedForTheCellsTheBinShowsAcrossTheWindow)
{
    host->binMax = 12;
    host->binPage = 5;
    open(20);
    runLoads();
    auto decodedThumbs = [&] {
        std::multiset<qsizetype> out;
        for (const auto &l : loader.loads)
            if (l.type == 8 || l.type == 9)
                out.insert(paths.indexOf(l.path));
        loader.loads.clear();
        return out;
    };
    EXPECT_EQ(decodedThumbs(), (std::multiset<qsizetype>{2}));
    for (qsizetype i : {0, 1, 2})
        EXPECT_TRUE(controller->fileInfoByIndex(i)->imageByType(8)) << i;
    EXPECT_FALSE(controller->fileInfoByIndex(3)->imageByType(8));

    // The window grows: the cells the bin shows now get their thumbnails at once, each decoded
    // once, and what was there is not asked for again.
    host->binPage = 9;
    controller->didResizeWindow();
    runLoads();
    EXPECT_EQ(decodedThumbs(), (std::multiset<qsizetype>{3, 4}));
    for (qsizetype i : {3, 4})
        EXPECT_TRUE(controller->fileInfoByIndex(i)->imageByType(8) && controller->fileInfoByIndex(i)->imageByType(9)) << i;

    // A step slides the next cell in and readies the one beyond it.
    controller->navCurFileToIndex(1, false, true, false);
    runLoads();
    EXPECT_EQ(decodedThumbs(), (std::multiset<qsizetype>{5, 6}));
}

TEST_F(NavTest, NeighbourCacheFreesWhatLeavesTheWindows)
{
    host->binMax = 4; // info window: one before, two after
    open(20);
    runLoads();
    controller->loadCurFileOriginalImage();
    runLoads();
    ASSERT_TRUE(controller->curFileInfo()->imageByType(1));
    const LMPathString first = paths[0];
    controller->navCurFileToIndex(1, false, true, false);
    runLoads();
    // The former current file keeps thumbnails and fit-in, loses its full-size image.
    auto former = controller->fileInfoByPath(first);
    ASSERT_TRUE(former);
    EXPECT_FALSE(former->imageByType(1));
    EXPECT_TRUE(former->imageByType(8));
    // Moving far away drops its record entirely.
    controller->navCurFileToIndex(10, false, true, false);
    EXPECT_FALSE(controller->fileInfoByPath(first));
    // Records live for the bin's window and the fit-in window only.
    EXPECT_LE(controller->cacheFileInfos().size(), 7);
}

TEST_F(NavTest, LateFullSizeResultOfFormerFileIsDropped)
{
    open(5);
    // Keep the current file's operations, move on, then let them finish.
    auto ops = std::move(host->queue);
    host->queue.clear();
    controller->navCurFileToIndex(1, false, true, false);
    for (auto &op : ops)
        op->start();
    kpv::RunLoop::main().runOnce();
    auto former = controller->fileInfoByPath(paths[0]);
    ASSERT_TRUE(former);
    EXPECT_TRUE(former->imageByType(10)); // a neighbour's fit-in is kept
    EXPECT_FALSE(former->imageByType(1));
}

TEST_F(NavTest, UnreadableFileFailsEverywhereAndShowsBadState)
{
    paths = {LMPathString("/nonexistent/bad1.jpg", false), LMPathString("/nonexistent/bad2.jpg", false)};
    controller->openFilePaths(paths, {}, false);
    runLoads();
    bool failed = false;
    EXPECT_FALSE(controller->curFileInfo()->imageByType(11, &failed));
    EXPECT_TRUE(failed);
    EXPECT_EQ(controller->curFileState(), 2);
    EXPECT_EQ(host->statusText, "IDS_BAD_IMAGE");
    EXPECT_FALSE(controller->canDoAction(4));
    EXPECT_TRUE(controller->canDoAction(41));
    // Nothing of the failed file is requested again.
    EXPECT_FALSE(controller->createOperationForLoadImage(controller->curFileInfo(), 1, true, true));
}

TEST_F(NavTest, CancelledLoadKeepsItsMaskUntilTheFileChanges)
{
    open(3);
    host->cancelAllOperations();
    runLoads();
    EXPECT_FALSE(controller->curFileInfo()->imageByType(10));
    EXPECT_FALSE(controller->createOperationForLoadImage(controller->curFileInfo(), 10, true, false));
    controller->navCurFileToIndex(1, false, true, false);
    controller->navCurFileToIndex(0, false, false, false);
    runLoads();
    EXPECT_TRUE(controller->curFileInfo()->imageByType(10));
}

TEST_F(NavTest, EquivalentTypesFilledFromOneDecode)
{
    // A picture no larger than a small thumbnail: every type is its full size.
    loader.equivalentFor = {{8, 1}, {9, 1}, {10, 1}, {11, 1}};
    loader.sizes = {{8, {120, 90}}, {9, {120, 90}}, {10, {120, 90}}, {11, {120, 90}}};
    open(1);
    runLoads();
    auto cur = controller->curFileInfo();
    EXPECT_TRUE(cur->imageByType(1));
    EXPECT_TRUE(cur->imageByType(9));
    EXPECT_TRUE(cur->imageByType(11));
    EXPECT_EQ(cur->imageByType(11), cur->imageByType(8));
    EXPECT_EQ(std::count_if(loader.loads.begin(), loader.loads.end(), [&](const auto &l) { return l.path == paths[0]; }), 1);
}

TEST_F(NavTest, StaleResultOfModifiedFileIsIgnored)
{
    open(2);
    auto cur = controller->curFileInfo();
    auto ops = std::move(host->queue);
    host->queue.clear();
    for (auto &op : ops)
        op->start();
    // The file changed on disk while the results were on their way.
    cur->setImgBaseInfo(std::make_shared<LMFileImgBaseInfo>(paths[0], "public.png", 8, kFileDate.addSecs(5),
                                                            QSizeF(1600, 1200), 1, QVariantMap()));
    kpv::RunLoop::main().runOnce();
    EXPECT_FALSE(cur->imageByType(8));
}

TEST_F(NavTest, StepsShowEndTipOnceThenWrap)
{
    open(2);
    Recorder rec(controller.get());
    EXPECT_TRUE(controller->navFile(true, false));
    EXPECT_EQ(controller->curFileIndex(), 1);
    EXPECT_FALSE(controller->navFile(true, false));
    EXPECT_EQ(host->statusText, "IDS_TIPS_NAVIGATENEXT");
    EXPECT_TRUE(controller->reachTopOrBottomInfoShowed());
    EXPECT_EQ(controller->curFileIndex(), 1);
    EXPECT_TRUE(controller->navFile(true, false));
    EXPECT_EQ(controller->curFileIndex(), 0);
    EXPECT_FALSE(controller->navFile(false, false));
    EXPECT_EQ(host->statusText, "IDS_TIPS_NAVIGATEPREV");
    EXPECT_GE(host->cancelAllCount, 2);
    // A list of one never steps.
    open(1);
    EXPECT_FALSE(controller->navFile(true, false));
}

TEST_F(NavTest, AutoNavigationStepsFasterAndEndsAfterRelease)
{
    // Photos quick to decode: each step's picture is filed before the next step is due.
    auto advanceDecoding = [this](double seconds) {
        for (double t = 0; t < seconds - 1e-9; t += 0.005) {
            clock.advance(0.005);
            runLoads();
        }
    };
    open(100);
    runLoads();
    controller->beginAutoNav(true, false);
    EXPECT_EQ(controller->curFileIndex(), 1);
    EXPECT_TRUE(controller->isAutoNavStepping());
    EXPECT_FALSE(view.enable());
    advanceDecoding(0.19);
    EXPECT_EQ(controller->curFileIndex(), 1);
    advanceDecoding(0.02);
    EXPECT_EQ(controller->curFileIndex(), 2);
    // Quick steps request only the small thumbnail of the file shown.
    host->queue.clear();
    clock.advance(0.2);
    EXPECT_EQ(controller->curFileIndex(), 3);
    EXPECT_LE(host->queue.size(), 1u);
    runLoads();
    // Steps get faster: more steps in the fourth second than in the first.
    const qsizetype at1 = controller->curFileIndex();
    advanceDecoding(3.0);
    const qsizetype at4 = controller->curFileIndex();
    advanceDecoding(1.0);
    EXPECT_GT(controller->curFileIndex() - at4, at1 * 2);
    // Guarded steps are held off while stepping.
    const qsizetype now = controller->curFileIndex();
    controller->doNavCurFileToIndex(0, false, {});
    EXPECT_EQ(controller->curFileIndex(), now);
    host->queue.clear();
    controller->endAutoNav();
    EXPECT_FALSE(controller->isAutoNavStepping());
    EXPECT_TRUE(view.enable());
    bool full = false;
    for (const auto &op : host->queue)
        full = full || op->queuePriority() == 0;
    EXPECT_TRUE(full);
}

TEST_F(NavTest, HeldKeyEndsAfterLastRepeat)
{
    open(3);
    EXPECT_TRUE(controller->performKeyDownEquivalent(keyEvent(0xF703, kNumPad)));
    EXPECT_EQ(controller->curFileIndex(), 1);
    runLoads();
    clock.advance(0.1);
    EXPECT_TRUE(controller->performKeyDownEquivalent(keyEvent(0xF703, kNumPad, true))); // repeat pushes the end
    clock.advance(0.1);
    EXPECT_TRUE(controller->isAutoNavStarted());
    clock.advance(0.06);
    EXPECT_FALSE(controller->isAutoNavStarted());
    EXPECT_FALSE(controller->isAutoNavStepping());
    // Stepping to the end stops with the tip and keeps the view disabled until release.
    EXPECT_EQ(controller->curFileIndex(), 2); // the repeat's pending step ran before the end
    controller->navCurFileToIndex(0, false, true, false);
    controller->beginAutoNav(true, false);
    EXPECT_FALSE(view.enable());
    for (int i = 0; i < 100; ++i) {
        runLoads();
        clock.advance(0.01);
    }
    EXPECT_EQ(controller->curFileIndex(), 2);
    EXPECT_TRUE(controller->reachTopOrBottomInfoShowed());
    EXPECT_FALSE(view.enable());
    controller->endAutoNav();
    EXPECT_TRUE(view.enable());
}

// Over photos that take longer to decode than a step lasts, a held arrow cancelled each photo's
// quick picture at the next step, so nothing came on screen until the key was let go.
TEST_F(NavTest, AHeldArrowShowsEachPhotoItComesToAndTheLastOneSharpAfterRelease)
{
    loader.codecType = 2;
    open(20);
    double sinceRepeat = 0;
    auto holdFor = [&](double seconds, bool decoding) {
        for (double t = 0; t < seconds - 1e-9; t += 0.01) {
            clock.advance(0.01);
            if ((sinceRepeat += 0.01) >= 0.04 - 1e-9) {
                sinceRepeat = 0;
                controller->performKeyDownEquivalent(keyEvent(0xF703, kNumPad, true));
            }
            if (decoding)
                runLoads();
        }
    };
    auto shownPath = [this] {
        const LMImagePtr image = view.imageNormal();
        return image && image->originalImgBaseInfo() ? image->originalImgBaseInfo()->filePath() : LMPathString();
    };
    EXPECT_TRUE(controller->performKeyDownEquivalent(keyEvent(0xF703, kNumPad)));
    EXPECT_EQ(controller->curFileIndex(), 1);
    loader.loads.clear();
    // The decode of the photo stepped to takes a second: the key stays on it, its load running.
    holdFor(1.0, false);
    EXPECT_EQ(controller->curFileIndex(), 1);
    EXPECT_TRUE(controller->isAutoNavStepping());
    EXPECT_TRUE(std::any_of(host->queue.begin(), host->queue.end(), [](const auto &op) { return !op->isCancelled(); }));
    // Its quick picture comes: it is shown, then the key goes on, showing each photo it comes to.
    runLoads();
    EXPECT_EQ(shownPath(), paths[1]);
    holdFor(1.0, true);
    EXPECT_GE(controller->curFileIndex(), 5);
    EXPECT_EQ(shownPath(), paths[controller->curFileIndex()]);
    // While held, only the quick pictures were decoded: no larger picture of a photo passed.
    for (const auto &load : loader.loads)
        EXPECT_TRUE(load.type >= 8 || !paths.contains(load.path)) << load.path.path().toStdString();
    // Released: the photo it stopped at gets its sharp picture.
    clock.advance(0.2);
    EXPECT_FALSE(controller->isAutoNavStarted());
    const qsizetype stopped = controller->curFileIndex();
    runLoads();
    EXPECT_EQ(controller->curFileIndex(), stopped);
    ASSERT_TRUE(view.imageNormal());
    EXPECT_EQ(shownPath(), paths[stopped]);
    EXPECT_GE(view.imageNormal()->width(), 800u);
}

// A quick picture whose result never comes (dropped on its way) holds the key only a while.
TEST_F(NavTest, AHeldArrowGoesOnWhenAQuickPictureNeverComes)
{
    loader.codecType = 2;
    open(5);
    EXPECT_TRUE(controller->performKeyDownEquivalent(keyEvent(0xF703, kNumPad)));
    for (int i = 0; i < 250; ++i) {
        clock.advance(0.01);
        if (i % 4 == 3)
            controller->performKeyDownEquivalent(keyEvent(0xF703, kNumPad, true));
    }
    EXPECT_GE(controller->curFileIndex(), 2);
}

// A step to a photo whose picture takes a while showed black and "Loading" until it came: the
// screen flickered between every two large photos.
TEST_F(NavTest, AStepToASlowPhotoKeepsTheLastOneOnScreenUntilItsPictureComes)
{
    paths = makePaths(8);
    paths[3] = LMPathString(QStringLiteral("/nonexistent/photos/img003bad.jpg"), false);
    controller->openFilePaths(paths, {}, false);
    // Only the photo shown is decoded: none ahead.
    const auto decodeShownOnly = [this] {
        for (int round = 0; round < 4; ++round) {
            auto ops = std::move(host->queue);
            host->queue.clear();
            for (const auto &op : ops)
                if (op->queuePriority() == 0 && !op->isCancelled())
                    op->start();
            kpv::RunLoop::main().runOnce();
            host->drawFrame();
        }
    };
    const auto tapRight = [this] {
        EXPECT_TRUE(controller->performKeyDownEquivalent(keyEvent(0xF703, kNumPad)));
        clock.advance(0.2); // let go
    };
    decodeShownOnly();
    ASSERT_TRUE(view.imageNormal());
    // Zoomed in on the first photo (the arrows pan it now), the next arrow clicked.
    view.setScale(view.scale() * 3, std::nullopt, true);
    ASSERT_FALSE(view.fitinMode());
    EXPECT_TRUE(controller->navFile(true, false));
    EXPECT_EQ(controller->curFileIndex(), 1);
    EXPECT_TRUE(host->title.startsWith(QStringLiteral("img001.jpg")));
    // The last photo stays on screen as it was shown; the view is the new photo's already.
    EXPECT_TRUE(view.holdsPicture());
    EXPECT_FALSE(view.imageNormal());
    EXPECT_TRUE(view.fitinMode());
    EXPECT_FALSE(host->statusShown);
    EXPECT_NE(host->statusText, "IDS_LOADING");
    // Its picture comes: it takes the screen.
    clock.advance(0.2);
    decodeShownOnly();
    EXPECT_FALSE(view.holdsPicture());
    ASSERT_TRUE(view.imageNormal());
    EXPECT_EQ(view.imageNormal()->originalImgBaseInfo()->filePath(), paths[1]);

    // A picture late a while: "Loading" shows then, and the screen lets go of the last photo.
    tapRight();
    EXPECT_EQ(controller->curFileIndex(), 2);
    EXPECT_TRUE(view.holdsPicture());
    clock.advance(0.05);
    EXPECT_TRUE(view.holdsPicture());
    EXPECT_NE(host->statusText, "IDS_LOADING");
    clock.advance(0.1);
    EXPECT_FALSE(view.holdsPicture());
    EXPECT_TRUE(host->statusShown);
    EXPECT_EQ(host->statusText, "IDS_LOADING");
    decodeShownOnly();
    EXPECT_FALSE(host->statusShown);

    // A photo that cannot be shown ends the hold with its bad-file picture.
    tapRight();
    EXPECT_TRUE(view.holdsPicture());
    decodeShownOnly();
    EXPECT_FALSE(view.holdsPicture());
    EXPECT_TRUE(view.imageBadFile());
    EXPECT_EQ(host->statusText, "IDS_BAD_IMAGE");

    // A photo taken away leaves the screen at once.
    tapRight();
    ASSERT_TRUE(view.holdsPicture());
    controller->didFilesDeleted({paths[4]});
    EXPECT_EQ(controller->curFilePath(), paths[5]);
    EXPECT_FALSE(view.holdsPicture());
    // A photo decoded ahead is shown at once, without a hold.
    runLoads();
    tapRight();
    EXPECT_FALSE(view.holdsPicture());
    EXPECT_TRUE(view.imageNormal());
}

TEST_F(NavTest, QuickTapsOfAnArrowTakeAStepEach)
{
    open(5);
    // Three taps 50 ms apart, then one of the other arrow: each a step of its own, at once.
    for (int i = 1; i <= 3; ++i) {
        EXPECT_TRUE(controller->performKeyDownEquivalent(keyEvent(0xF703, kNumPad)));
        EXPECT_EQ(controller->curFileIndex(), i);
        clock.advance(0.05);
    }
    EXPECT_TRUE(controller->performKeyDownEquivalent(keyEvent(0xF702, kNumPad)));
    EXPECT_EQ(controller->curFileIndex(), 2);
    clock.advance(0.3);
    EXPECT_FALSE(controller->isAutoNavStarted());
    EXPECT_EQ(controller->curFileIndex(), 2);
    EXPECT_TRUE(view.enable());
}

TEST_F(NavTest, KeysAndWheel)
{
    open(3);
    // Up over a fitted image is not consumed; Shift+Backspace neither; Backspace goes back (here,
    // at the first file, to the end-of-folder tip) and trashes nothing.
    EXPECT_FALSE(controller->performKeyDownEquivalent(keyEvent(0xF700, kNumPad)));
    EXPECT_FALSE(controller->performKeyDownEquivalent(keyEvent(0x7F, kShift)));
    EXPECT_TRUE(controller->performKeyDownEquivalent(keyEvent(0x7F, 0)));
    EXPECT_TRUE(host->workspace.recycled.isEmpty());
    EXPECT_EQ(controller->curFileIndex(), 0);
    EXPECT_TRUE(controller->performKeyDownEquivalent(keyEvent(0xF728, 0))); // the Delete key
    ASSERT_EQ(host->workspace.recycled.size(), 1);
    EXPECT_EQ(host->workspace.recycled[0], QStringList{paths[0].path()});
    EXPECT_FALSE(controller->performKeyDownEquivalent(keyEvent(0xF703, kNumPad | kShift)));

    // Wheel: zoom setting on means never consumed; page-turn setting steps forward on scrolling down.
    kpv::Event wheel(kpv::ScrollWheel);
    wheel.setScrollingDelta(0, -1);
    config->setZoomWhileMouseWheel(true);
    EXPECT_FALSE(controller->performScrollWheelEquivalent(wheel));
    config->setZoomWhileMouseWheel(false);
    const qsizetype before = controller->curFileIndex();
    EXPECT_TRUE(controller->performScrollWheelEquivalent(wheel));
    EXPECT_EQ(controller->curFileIndex(), before + 1);
}

TEST_F(NavTest, CommandGate)
{
    EXPECT_FALSE(controller->canDoAction(40));
    EXPECT_FALSE(controller->canDoAction(39));
    open(3);
    runLoads();
    EXPECT_TRUE(controller->canDoAction(4));
    EXPECT_TRUE(controller->canDoAction(41));
    EXPECT_FALSE(controller->canDoAction(42)); // first file
    EXPECT_TRUE(controller->canDoAction(45));
    EXPECT_FALSE(controller->canDoAction(3));
    EXPECT_FALSE(controller->canDoAction(46));
    EXPECT_FALSE(controller->canDoAction(10));
    controller->navCurFileToIndex(2, false, true, false);
    EXPECT_FALSE(controller->canDoAction(45));
    EXPECT_TRUE(controller->canDoAction(44));
}

TEST_F(NavTest, DeletingFilesMovesOnAndEmptiesTheView)
{
    open(3);
    controller->navCurFileToIndex(2, false, true, false);
    controller->didFilesDeleted({paths[2]});
    EXPECT_EQ(controller->curFileIndex(), 1);
    EXPECT_EQ(controller->curFilePath(), paths[1]);
    controller->didFilesDeleted({paths[0]});
    EXPECT_EQ(controller->curFileIndex(), 0);
    EXPECT_EQ(controller->curFilePath(), paths[1]);
    controller->didFilesDeleted({paths[1]});
    EXPECT_TRUE(controller->curFilePath().isEmpty());
    EXPECT_EQ(host->setShowModeCalls.back(), NavShowModeEmpty);

    host->mode = NavShowModeMiniImage;
    open(1);
    controller->didFilesDeleted({paths[0]});
    EXPECT_EQ(host->setShowModeCalls.back(), NavShowModeMiniEmpty);
}

TEST_F(NavTest, ShowModeChangesAndViewportAnimation)
{
    open(2);
    controller->didChangeMainShowMode(NavShowModeEmpty, NavShowModeView);
    EXPECT_TRUE(host->registered);
    EXPECT_TRUE(view.enable());
    EXPECT_FALSE(host->navInfoHidden);
    EXPECT_TRUE(host->arrowsShown);

    controller->didChangeMainShowMode(NavShowModeView, NavShowModeFavorite);
    EXPECT_FALSE(host->registered);
    EXPECT_FALSE(view.enable());
    EXPECT_EQ(view.viewPortMargin(), 0);
    clock.advance(0.15);
    EXPECT_GT(view.viewPortMargin(), 0);
    EXPECT_LT(view.viewPortMargin(), 30);
    clock.advance(0.2);
    EXPECT_EQ(view.viewPortMargin(), 30);
    EXPECT_FALSE(controller->isViewportMarginAnimating());

    controller->setNeedReorderFilePaths(true);
    controller->didChangeMainShowMode(NavShowModeFavorite, NavShowModeView);
    EXPECT_FALSE(controller->needReorderFilePaths());
    // Stopping early still lands on the end value.
    controller->reduceImageForFavSwitch(true);
    controller->reduceImageForFavSwitch(false);
    EXPECT_EQ(view.viewPortMargin(), 30);
    clock.advance(0.5);
    EXPECT_EQ(view.viewPortMargin(), 0);
}

TEST_F(NavTest, ReopenKeepsCurrentFileAndResetForgetsAll)
{
    open(5);
    controller->navCurFileToIndex(3, false, true, false);
    runLoads();
    Recorder rec(controller.get());
    controller->openFilePaths(makePaths(8), {}, false);
    EXPECT_EQ(controller->curFileIndex(), 3);
    EXPECT_EQ(controller->curFilePath(), paths[3]);
    EXPECT_EQ(rec.count("didChangeCurFile"), 0);
    // The files do not exist on disk, so the kept record is not trusted.
    EXPECT_FALSE(controller->curFileInfo() && controller->curFileInfo()->imageByType(1));

    controller->resetAllNavFiles();
    EXPECT_TRUE(controller->curFilePath().isEmpty());
    EXPECT_EQ(controller->fileCount(), 0);
    EXPECT_TRUE(controller->cacheFileInfos().isEmpty());
    EXPECT_FALSE(controller->navFile(true, false));
}

TEST_F(NavTest, SlideshowStartsFromCurrentFileWithDecodedImages)
{
    open(3);
    controller->navCurFileToIndex(1, false, true, false);
    runLoads();
    controller->loadCurFileOriginalImage();
    runLoads();
    controller->playSlideshow();
    ASSERT_EQ(host->slides.size(), 3);
    EXPECT_EQ(host->slideIndex, 1);
    EXPECT_TRUE(host->slides[1].prevLoadedOriginalImage);
    EXPECT_FALSE(host->slides[0].prevLoadedOriginalImage);
    EXPECT_TRUE(host->slides[1].imgBaseInfo);
}

TEST_F(NavTest, ZoomStatusTruncates)
{
    open(1);
    runLoads();
    view.setScale(1.239);
    controller->doChangeScale();
    EXPECT_EQ(host->statusText, "123%");
}

TEST_F(NavTest, PageCommandsMoveWithoutAPhotoBin)
{
    open(5);
    // No photo bin: a page is one file, so the enabled page commands always move.
    host->binPage = 0;
    ASSERT_TRUE(controller->canDoAction(43));
    controller->doNavCurFileByPageUp(false);
    EXPECT_EQ(controller->curFileIndex(), 1);
    controller->doNavCurFileByPageUp(true);
    EXPECT_EQ(controller->curFileIndex(), 0);
    // A bin showing four whole items pages by three, and stops at the ends.
    host->binPage = 4;
    controller->doNavCurFileByPageUp(false);
    EXPECT_EQ(controller->curFileIndex(), 3);
    controller->doNavCurFileByPageUp(false);
    EXPECT_EQ(controller->curFileIndex(), 4);
    controller->doNavCurFileByPageUp(true);
    EXPECT_EQ(controller->curFileIndex(), 1);
}

TEST_F(NavTest, TheDeleteKeyTrashesWithoutModifiers)
{
    open(2);
    EXPECT_FALSE(controller->performKeyDownEquivalent(keyEvent(0xF728, kShift)));
    EXPECT_TRUE(controller->performKeyDownEquivalent(keyEvent(0xF728, 0)));
    ASSERT_EQ(host->workspace.recycled.size(), 1);
    EXPECT_EQ(host->workspace.recycled[0], QStringList{paths[0].path()});
}

// A photo sent from 100% back to fit is larger than the window for most of the easing: the arrow
// keys and swipes step all the same (at 100% they still pan), and a scale kept for the next photo
// is the one zoomed to.
TEST_F(NavTest, StepKeysAreHonouredWhileAZoomEasesToFit)
{
    open(4);
    runLoads();
    config->setKeepPrevScaleWhenNavFile(true);
    auto press = [&](char16_t c) {
        EXPECT_TRUE(controller->performKeyDownEquivalent(keyEvent(c, kNumPad)));
        clock.advance(0.3); // released: the loads of the new photo follow
        runLoads();
    };
    auto toActualSizeAndHalfwayBack = [&] {
        controller->switchToOriginal();
        clock.advance(2.0);
        controller->switchToFitin();
        clock.advance(0.5);
        ASSERT_TRUE(view.canDragImageWithoutCheckCursorPosition());
    };
    controller->switchToOriginal();
    clock.advance(2.0);
    const QPointF offset = view.offset();
    press(0xF703);
    EXPECT_EQ(controller->curFileIndex(), 0);
    EXPECT_NE(view.offset(), offset);

    toActualSizeAndHalfwayBack();
    press(0xF703);
    EXPECT_EQ(controller->curFileIndex(), 1);
    EXPECT_TRUE(view.fitinMode());
    toActualSizeAndHalfwayBack();
    press(0xF72D); // Page Down
    EXPECT_EQ(controller->curFileIndex(), 2);

    // The wheel: a notch in, then a big one back out to fit.
    view.handleScrollWheel(wheelEvent(0, 1), QPointF(400, 300));
    clock.advance(2.0);
    view.handleScrollWheel(wheelEvent(0, -9), QPointF(400, 300));
    clock.advance(0.2);
    ASSERT_TRUE(view.canDragImageWithoutCheckCursorPosition());
    press(0xF702);
    EXPECT_EQ(controller->curFileIndex(), 1);

    toActualSizeAndHalfwayBack();
    kpv::Event swipe = wheelEvent(-30, 0);
    swipe.setPhase(kpv::PhaseBegan);
    EXPECT_TRUE(controller->performScrollWheelEquivalent(swipe));
    EXPECT_TRUE(view.fitinMode());
}

// Stepping through a large folder keeps what the windows around the current file need and
// nothing per file visited: records, load records and decoded pictures stay bounded however far
// the user goes.
TEST_F(NavTest, SteppingThroughThousandsOfFilesHoldsOnlyTheWindowsAroundTheCurrentOne)
{
    host->binMax = 40;
    open(2000);
    runLoads();
    qsizetype mostRecords = 0, mostMasks = 0, mostPictures = 0;
    for (int i = 1; i < 2000; ++i) {
        controller->doNavCurFileToNext(true, i % 3 != 0, {});
        runLoads();
        clock.advance(0.05);
        kpv::RunLoop::main().runOnce();
        qsizetype pictures = 0;
        for (const LMNavFileInfoPtr &info : controller->cacheFileInfos())
            for (int type = 1; type <= 11; ++type)
                pictures += info->imageByType(type) ? 1 : 0;
        mostRecords = std::max(mostRecords, controller->cacheFileInfos().size());
        mostMasks = std::max(mostMasks, controller->operationImageTypeMaskForCacheFiles().size());
        mostPictures = std::max(mostPictures, pictures);
    }
    ASSERT_EQ(controller->curFileIndex(), 1999);
    // The photo bin's window (40 files either way at most) and the six neighbours.
    EXPECT_LE(mostRecords, 2 * 40 + 7);
    EXPECT_LE(mostMasks, 2 * 40 + 7);
    EXPECT_LE(mostPictures, 3 * (2 * 40 + 7));
    loader.loads.clear();
}
