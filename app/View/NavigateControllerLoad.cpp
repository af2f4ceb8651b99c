// The loading half of the view-mode controller: after each navigation it drops the records and
// frees the decoded images that fell out of the two windows around the current file, requests
// what is missing in order of need, and files the results that come back on the main thread.

#include "View/NavigateController.h"

#include "Model/LMBlockOperation.h"
#include "Model/LMImageTools.h"
#include "Model/LMPhotoLoader.h"
#include "Model/LMReadFailure.h"
#include "Model/MainConfig.h"
#include "Model/PhotoSearchHandler.h"
#include "View/LMImageViewModel.h"
#include "View/NavImageLoader.h"
#include "View/NavLaunchPicture.h"
#include "View/NavLoadPlanner.h"

#include "foundation/FileNames.h"
#include "foundation/NotificationCenter.h"
#include "foundation/RunLoop.h"
#include "foundation/Timer.h"

#include <QtGlobal>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

namespace {

QString key(const char *s) { return QString::fromLatin1(s); }

// Longest side of a small thumbnail made from a large one.
constexpr double kSmallThumbBox = 160;

// How long the held loads wait for the view's frame after the first picture was filed, for a view
// that draws none.
constexpr double kFirstPictureFrameWait = 0.25;

// How long the picture stays on screen, its file unchanged, before what 100% shows is decoded
// ahead (longer than a step through a folder takes, so that stepping decodes nothing for it);
// and the largest picture so served: the middle of a larger one costs more than a look at it is
// worth, and its 100% key asks for its parts.
constexpr double kStillViewWait = 0.6;
constexpr double kMaxStillViewZoomAheadPixels = 32e6;

// A large thumbnail wider or higher than the small box resampled into it; nullptr when it fits
// already (it then serves as the small thumbnail itself) or the resampling failed.
LMImagePtr smallThumbFromLarge(const NavImageLoader &loader, const LMImagePtr &largeThumb,
                               const kpv::Operation *operation)
{
    if (!largeThumb || (largeThumb->width() <= kSmallThumbBox && largeThumb->height() <= kSmallThumbBox))
        return nullptr;
    const QSizeF size = LMImageTools::calcScalingSize(QSizeF(double(largeThumb->width()), double(largeThumb->height())),
                                                      QSizeF(kSmallThumbBox, kSmallThumbBox), 0);
    return loader.resizeImage(largeThumb, size, operation);
}

QVariantMap loadResult(const LMPathString &path, int type, const LMImagePtr &image, int equivalent,
                       const kpv::Operation *operation)
{
    QVariantMap userInfo;
    userInfo.insert(key("filePath"), QVariant::fromValue(path));
    userInfo.insert(key("result"), image ? NavLoadSucceeded : (operation->isCancelled() ? NavLoadCancelled : NavLoadFailed));
    userInfo.insert(key("ImageScaleType"), type);
    if (image) {
        userInfo.insert(key("image"), QVariant::fromValue(image));
        userInfo.insert(key("equivalentImageScaleType"), equivalent);
    }
    return userInfo;
}

// Why the file at `path` could not be read, in words for a person: that it cannot be opened (no
// permission, gone) or is empty comes first, since a reader only says then that it found no
// picture; otherwise the reader's own reason.
QString failureReason(const LMPathString &path, const LMReadFailure &readFailure,
                      const NavigateController::UnreadableWords &words)
{
    const QByteArray native = kpv::encodeFileName(path.path());
    const int fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        const int error = errno;
        if (error == EACCES || error == EPERM)
            return words.noPermission;
        return qt_error_string(error);
    }
    struct stat st {};
    const bool empty = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size == 0;
    ::close(fd);
    if (empty)
        return words.empty;
    return readFailure.reason();
}

} // namespace

NavigateController::UnreadableWords NavigateController::unreadableWords() const
{
    if (!m_host)
        return {};
    return {m_host->localizedString(QStringLiteral("IDS_FileIsEmpty")),
            m_host->localizedString(QStringLiteral("IDS_NoPermissionToRead"))};
}

int NavigateController::fitinImageType() const
{
    const QSizeF size = m_openGLView ? m_openGLView->viewBounds().size() : QSizeF();
    return NavLoadPlanner::fitinTypeFor(!m_loader || m_loader->isSmallFitinTypeByCheckSize(size));
}

void NavigateController::submitCacheOperation(bool navNext, bool quick)
{
    const qsizetype n = fileCount();
    const qsizetype c = m_curFileIndex;
    if (n == 0 || c < 0 || c >= n || m_curFilePath.isEmpty())
        return;
    const QList<LMPathString> &paths = m_navSortFileInfoList->sortedFilePaths();
    const ThumbnailReach reach = thumbnailReach();
    const NavLoadPlanner::Window &info = reach.info, &image = reach.image, &ahead = reach.ahead;

    // Records outside the info window go; inside it, files outside the image window keep only
    // their thumbnails and the others their thumbnails and fit-in images. The current file keeps
    // everything.
    for (auto it = m_cacheFileInfos.begin(); it != m_cacheFileInfos.end();) {
        const qsizetype index = paths.indexOf(it.key());
        if (index < 0 || !NavLoadPlanner::isInWindow(index, c, n, info)) {
            m_operationMasks.remove(it.key());
            it = m_cacheFileInfos.erase(it);
            continue;
        }
        if (it.key() != m_curFilePath)
            it.value()->freeImages(NavLoadPlanner::isInWindow(index, c, n, image) ? 2 : 1);
        ++it;
    }

    acquireFileInfoByPath(m_curFilePath);
    // After a step to a file whose picture is decoded already, that picture is drawn right after
    // this pass: the background loads wait for its frame rather than share the processors with it.
    const bool holdForFrame = m_curFileChangedSincePass && !quick;
    m_curFileChangedSincePass = false;
    // Loads held for another file's first picture were forgotten with the masks when the file
    // changed (clearLoadMasks); any still held belong to the current file and keep waiting.
    std::vector<std::shared_ptr<kpv::Operation>> operations;
    std::vector<bool> waits;
    std::shared_ptr<kpv::Operation> quickPicture, firstPicture, nextPicture, windowFitin;
    // The small-thumbnail loads of this pass by file, for the same file's large-thumbnail load.
    QHash<LMPathString, std::pair<std::shared_ptr<kpv::Operation>, std::shared_ptr<ThumbnailPair>>> smallThumbLoads;
    // A file's thumbnails are made from its fit-in image when the pass decodes that too: they wait
    // for its load rather than decode the file a second time.
    QHash<LMPathString, std::shared_ptr<kpv::Operation>> fitinLoads;
    QHash<LMPathString, std::vector<std::shared_ptr<kpv::Operation>>> thumbLoads;
    QHash<LMPathString, std::shared_ptr<ThumbnailPair>> pairs;
    const int fitinType = fitinImageType();
    for (const NavLoadPlanner::Request &r :
         NavLoadPlanner::requestsForPass(c, n, fitinType, navNext, quick, info, ahead)) {
        if (r.isSearchMarker()) {
            if (m_photoSearchHandler->needStartSearch()) {
                std::weak_ptr<NavigateController *> self = m_self;
                kpv::RunLoop::performOnMainThread(
                    [self] {
                        if (auto s = self.lock(); s && *s)
                            (*s)->startSearchFiles();
                    },
                    false);
            }
            continue;
        }
        if (r.nextPicture && !NavLoadPlanner::isInWindow(r.index, c, n, ahead))
            continue;
        // A held arrow steps on once the quick picture is shown: the large thumbnail, another
        // decode of the whole file where the file stores its small one, would still be running
        // then, for a file already left. It is asked for where the stepping stops.
        if (quick && m_autoNavTimer && r.index == c && r.type == NavLoadPlanner::kLargeThumbType)
            continue;
        const size_t made = operations.size();
        if ((r.type == NavLoadPlanner::kSmallThumbType || r.type == NavLoadPlanner::kLargeThumbType) &&
            !NavLoadPlanner::thumbnailsWanted(r.index, c, n, reach.cells, reach.binShown, ahead, reach.beyond)) {
            acquireFileInfoByIndex(r.index);
            continue;
        }
        const LMNavFileInfoPtr info = acquireFileInfoByIndex(r.index);
        std::shared_ptr<ThumbnailPair> pair;
        std::shared_ptr<kpv::Operation> smallThumbLoad;
        const bool thumb = r.type == NavLoadPlanner::kSmallThumbType || r.type == NavLoadPlanner::kLargeThumbType;
        if (r.type == NavLoadPlanner::kSmallThumbType) {
            if (!info || !(pair = pairs.value(info->filePath())))
                pair = std::make_shared<ThumbnailPair>();
            // Ahead of the current file's sharp picture only a stored thumbnail is quick enough.
            pair->storedOnly = r.index == c && !quick;
        } else if (r.type == NavLoadPlanner::kLargeThumbType && info) {
            if (auto it = smallThumbLoads.constFind(info->filePath()); it != smallThumbLoads.cend())
                std::tie(smallThumbLoad, pair) = it.value();
        }
        if (!pair && info && !thumb) {
            if (!(pair = pairs.value(info->filePath())))
                pair = std::make_shared<ThumbnailPair>();
        }
        if (pair && info)
            pairs.insert(info->filePath(), pair);
        submitOperationForLoadImage(info, r.type, r.high, operations, pair);
        if (operations.size() == made)
            continue;
        if (r.index == c && r.type == NavLoadPlanner::kSmallThumbType)
            quickPicture = operations.back();
        if (thumb && !(r.index == c && r.type == NavLoadPlanner::kSmallThumbType)) {
            if (const auto fitin = fitinLoads.value(info->filePath()))
                operations.back()->addDependency(fitin);
            else
                thumbLoads[info->filePath()].push_back(operations.back());
        } else if (!thumb) {
            fitinLoads.insert(info->filePath(), operations.back());
            for (const auto &waiting : thumbLoads.take(info->filePath()))
                waiting->addDependency(operations.back());
        }
        // The neighbours' loads fill the caches ahead of need: they yield the processors to the
        // window and the current file, except the next file's fit-in, the picture of the next step.
        if (!r.high && !r.nextPicture)
            operations.back()->setQualityOfService(kpv::Operation::QualityOfService::Background);
        // Their fit-ins decode one after another: side by side, the buffers of every decode would
        // be held at once, as the window fills after the first step.
        if (!thumb && !r.high && !r.nextPicture && r.type == fitinType) {
            if (windowFitin)
                operations.back()->addDependency(windowFitin);
            windowFitin = operations.back();
        }
        if (r.type == NavLoadPlanner::kSmallThumbType)
            smallThumbLoads.insert(info->filePath(), {operations.back(), pair});
        else if (smallThumbLoad)
            operations.back()->addDependency(smallThumbLoad);
        if (r.firstPicture) {
            // The current file's loads take turns on the file: the quick picture goes first, and
            // the fit-in then finds the file's header read.
            if (quickPicture)
                operations.back()->addDependency(quickPicture);
            closeFirstPictureGate(fitinType);
            // A load cancelled before it ran posts no result: its end opens the gate all the same
            // (after any result it posted, which comes first on the main thread).
            std::weak_ptr<NavigateController *> self = m_self;
            const uint64_t generation = m_firstPictureGate.generation;
            operations.back()->setCompletionBlock([self, generation] {
                kpv::RunLoop::performOnMainThread(
                    [self, generation] {
                        auto s = self.lock();
                        if (!s || !*s)
                            return;
                        const FirstPictureGate &gate = (*s)->m_firstPictureGate;
                        if (gate.closed && gate.generation == generation)
                            (*s)->checkFirstPictureGate((*s)->fileInfoByPath(gate.path), false);
                    },
                    false);
            });
            firstPicture = operations.back();
        }
        if (r.nextPicture) {
            nextPicture = operations.back();
            if (firstPicture)
                nextPicture->addDependency(firstPicture);
        }
        else if (r.afterNextPicture && nextPicture)
            operations.back()->addDependency(nextPicture);
        waits.push_back(r.waits || (holdForFrame && !r.high && !firstPicture));
    }
    if (quickPicture) {
        m_quickPictureLoad = quickPicture;
        m_quickPicturePath = m_curFilePath;
    }
    if (holdForFrame && !firstPicture) {
        closeFirstPictureGate(fitinType);
        openFirstPictureGateAfterFrame();
    }
    for (size_t i = 0; i < operations.size(); ++i)
        queueOrHold(std::move(operations[i]), waits[i]);
}

NavigateController::ThumbnailReach NavigateController::thumbnailReach() const
{
    const qsizetype n = fileCount();
    const qsizetype binMax = m_host ? m_host->photoBinMaxVisibleItemCount() : 40;
    const qsizetype binCells = m_host ? std::min(m_host->photoBinWholeVisibleItemCountOfCurPage(), binMax) : 0;
    ThumbnailReach reach;
    reach.info = NavLoadPlanner::infoWindow(n, binMax);
    reach.image = NavLoadPlanner::imageWindow(n);
    // The fit-ins decoded ahead: the image window's once the user steps through the list, until
    // then the files on either side of the current one. What is decoded is kept for the window.
    reach.ahead = m_steppedInList ? reach.image
        : NavLoadPlanner::Window{std::min<qsizetype>(reach.image.following, 1), std::min<qsizetype>(reach.image.preceding, 1)};
    // Until then the file across the list's end is two presses away, the first only telling that
    // the end is reached: its picture is asked for at that press, not for a photo opened at either
    // end of its folder and looked at.
    if (!m_steppedInList && !m_reachHeadOrTailAtLastTime) {
        if (m_curFileIndex + 1 >= n)
            reach.ahead.following = 0;
        if (m_curFileIndex <= 0)
            reach.ahead.preceding = 0;
    }
    // Thumbnails nobody sees cost a decode each: only for the cells the photo bin shows across
    // the window (the most it could show across the screen while it is not laid out). The cell
    // beyond each end is made ready only once the user steps, which slides it in: a photo opened
    // and looked at decodes no thumbnail for a cell out of sight.
    reach.cells = binCells > 0 ? binCells : binMax;
    reach.beyond = m_steppedInList ? 1 : 0;
    reach.binShown = !config() || config()->photoBinVisible();
    return reach;
}

void NavigateController::requestPhotoBinThumbnails()
{
    const qsizetype n = fileCount();
    const qsizetype c = m_curFileIndex;
    if (!m_host || n == 0 || c < 0 || c >= n || m_curFilePath.isEmpty() ||
        (m_host->showMode() != NavShowModeView && m_host->showMode() != NavShowModeMiniImage))
        return;
    const ThumbnailReach reach = thumbnailReach();
    for (qsizetype i : NavLoadPlanner::interleavedNeighbours(c, n, reach.info)) {
        if (!NavLoadPlanner::thumbnailsWanted(i, c, n, reach.cells, reach.binShown, reach.ahead, reach.beyond))
            continue;
        // One decode for both sizes, as a pass makes them; what a pass asked for already is
        // not asked for again.
        const auto pair = std::make_shared<ThumbnailPair>();
        std::vector<std::shared_ptr<kpv::Operation>> operations;
        submitOperationForLoadImage(acquireFileInfoByIndex(i), NavLoadPlanner::kSmallThumbType, false, operations, pair);
        submitOperationForLoadImage(acquireFileInfoByIndex(i), NavLoadPlanner::kLargeThumbType, false, operations, pair);
        if (operations.size() == 2)
            operations[1]->addDependency(operations[0]);
        for (auto &op : operations) {
            op->setQualityOfService(kpv::Operation::QualityOfService::Background);
            queueOrHold(std::move(op), true);
        }
    }
}

void NavigateController::clearLoadMasks()
{
    m_operationMasks.clear();
    m_framesSoFar = FramesSoFar();
    m_quickPictureLoad.reset();
    // A held load was never queued: with its mask bit gone it is simply requested again.
    m_firstPictureGate.held.clear();
    openFirstPictureGate();
    // The file changed or its loads start afresh: its picture has not been still yet.
    if (m_zoomAheadTimer)
        m_zoomAheadTimer->invalidate();
    m_zoomAheadTimer.reset();
    dropRegions();
}

void NavigateController::queueOrHold(std::shared_ptr<kpv::Operation> operation, bool waits)
{
    if (waits && m_firstPictureGate.closed)
        m_firstPictureGate.held.push_back(std::move(operation));
    else if (m_host)
        m_host->addOperation(std::move(operation));
}

void NavigateController::closeFirstPictureGate(int fitinType)
{
    m_firstPictureGate.closed = true;
    m_firstPictureGate.releasing = false;
    m_firstPictureGate.path = m_curFilePath;
    m_firstPictureGate.type = fitinType;
    ++m_firstPictureGate.generation;
}

void NavigateController::openFirstPictureGate()
{
    if (m_firstPictureGate.fallback)
        m_firstPictureGate.fallback->invalidate();
    m_firstPictureGate.fallback.reset();
    m_firstPictureGate.closed = false;
    m_firstPictureGate.releasing = false;
    auto held = std::move(m_firstPictureGate.held);
    m_firstPictureGate.held.clear();
    for (auto &op : held)
        queueOrHold(std::move(op), false);
    scheduleZoomAheadForStillView();
}

void NavigateController::scheduleZoomAheadForStillView()
{
    if (m_zoomAheadTimer)
        m_zoomAheadTimer->invalidate();
    m_zoomAheadTimer.reset();
    if (!m_host || m_curFilePath.isEmpty())
        return;
    std::weak_ptr<NavigateController *> self = m_self;
    const LMPathString path = m_curFilePath;
    m_zoomAheadTimer = kpv::RunLoop::current().performAfterDelay(kStillViewWait, [self, path] {
        if (auto s = self.lock(); s && *s)
            (*s)->requestZoomAheadForStillView(path);
    });
}

void NavigateController::requestZoomAheadForStillView(const LMPathString &path)
{
    m_zoomAheadTimer.reset();
    const LMNavFileInfoPtr info = curFileInfo();
    if (!info || info->filePath() != path || !m_host || m_host->showMode() != NavShowModeView)
        return;
    const LMFileImgBaseInfoPtr base = info->imgBaseInfo();
    // Only a JPEG shown sharp: its fit-in came from a scaled decode, so 100% needs pixels of its
    // own, and its parts decode for a fraction of the whole (an animation's fit-in is its full
    // size already; other pictures are decoded whole on the way to their fit-in, and spend the
    // time again only when 100% is asked for).
    bool failed = false;
    const bool jpeg = base && (base->AMCMImageType() == 2 || base->imageUTI() == QLatin1String("public.jpeg"));
    if (!jpeg || !info->imageByType(fitinImageType(), &failed) || failed)
        return;
    const QSizeF raw = base->rawFrameSize();
    if (!(raw.width() * raw.height() <= kMaxStillViewZoomAheadPixels))
        return;
    if (!m_openGLView || currentView() != m_openGLView || m_openGLView->isZoomTimerRunning())
        return;
    // The 100% key zooms about the middle of the view from where it is now.
    const double scale = m_openGLView->scale();
    if (scale > 0 && scale < 1)
        requestRegionsForZoom(scale, 1.0, std::nullopt, true);
}

void NavigateController::checkFirstPictureGate(const LMNavFileInfoPtr &info, bool shown)
{
    FirstPictureGate &gate = m_firstPictureGate;
    if (!gate.closed || gate.releasing || !info || info->filePath() != gate.path)
        return;
    bool failed = false;
    const bool decoded = info->imageByType(gate.type, &failed) != nullptr;
    if (failed || !shown || !m_host) {
        // Nothing to show and nothing to wait for: the neighbours may start.
        if (failed || !decoded) {
            if (failed)
                NavLaunchPicture::closeFiles();
            openFirstPictureGate();
        }
        return;
    }
    if (!decoded)
        return;
    // The picture is in the view: the held loads start once it is on screen.
    openFirstPictureGateAfterFrame();
}

void NavigateController::openFirstPictureGateAfterFrame()
{
    FirstPictureGate &gate = m_firstPictureGate;
    if (!gate.closed || gate.releasing)
        return;
    if (!m_host) {
        openFirstPictureGate();
        return;
    }
    gate.releasing = true;
    const uint64_t generation = gate.generation;
    std::weak_ptr<NavigateController *> self = m_self;
    auto release = [self, generation] {
        auto s = self.lock();
        if (s && *s && (*s)->m_firstPictureGate.closed && (*s)->m_firstPictureGate.generation == generation) {
            // The first photo is on screen: what the start opened of it is needed no more.
            NavLaunchPicture::closeFiles();
            (*s)->openFirstPictureGate();
        }
    };
    gate.fallback = kpv::RunLoop::current().performAfterDelay(kFirstPictureFrameWait, release);
    m_host->performAfterImageViewFrame(release);
}

void NavigateController::loadCurFileOriginalImage()
{
    if (auto op = createOperationForLoadImage(curFileInfo(), NavLoadPlanner::kOriginalType, true, false); op && m_host)
        m_host->addOperation(op);
}

void NavigateController::submitOperationForLoadImage(const LMNavFileInfoPtr &fileInfo, int type, bool highPriority,
                                                     std::vector<std::shared_ptr<kpv::Operation>> &operations,
                                                     const std::shared_ptr<ThumbnailPair> &thumbPair)
{
    if (auto op = createOperationForLoadImage(fileInfo, type, highPriority, false, thumbPair))
        operations.push_back(op);
}

std::shared_ptr<LMBlockOperation> NavigateController::createOperationForLoadImage(const LMNavFileInfoPtr &fileInfo,
                                                                                  int type, bool highPriority,
                                                                                  bool resetLoadMaskCache,
                                                                                  const std::shared_ptr<ThumbnailPair> &thumbPair)
{
    if (resetLoadMaskCache)
        clearLoadMasks();
    if (!fileInfo || type < LMNavFileInfo::kMinScaleType || type > LMNavFileInfo::kMaxScaleType)
        return nullptr;
    const LMPathString path = fileInfo->filePath();
    const int64_t bit = LMScaleTypeMask::bit(type);
    if (m_operationMasks.value(path) & bit)
        return nullptr;
    bool failed = false;
    if (fileInfo->imageByType(type, &failed) || failed)
        return nullptr;
    m_operationMasks[path] |= bit;

    const NavImageLoader *loader = m_loader;
    std::weak_ptr<NavigateController *> self = m_self;
    const UnreadableWords words = unreadableWords();
    auto op = LMBlockOperation::blockOperationWithBlock([fileInfo, type, loader, self, thumbPair, words](LMBlockOperation *o) {
        bool failedNow = false;
        if (fileInfo->imageByType(type, &failedNow) || failedNow || !loader)
            return;
        // Why a read of the file failed, for the message that says it cannot be shown.
        const LMReadFailure readFailure;
        // The file's description, the thumbnails it keeps and its pixels come from one opening.
        const LMPhotoLoader::LoadScope oneOpening(fileInfo->filePath());
        // The small-thumbnail load of this file decoded the large thumbnail and filed it.
        if (type == NavLoadPlanner::kLargeThumbType && thumbPair && thumbPair->largeThumbFiled)
            return;
        auto post = [self](QVariantMap userInfo) {
            kpv::RunLoop::performOnMainThread(
                [self, userInfo = std::move(userInfo)] {
                    if (auto s = self.lock(); s && *s)
                        (*s)->didLoadImageFromThread(userInfo);
                },
                false);
        };
        int equivalent = 0;
        LMImagePtr image;
        bool resized = false;
        // A thumbnail made from the fit-in image this pass decoded, or from a larger picture of
        // the file already filed, rather than by decoding the file again. Not for animations,
        // whose thumbnails are their first frame.
        auto fromDecoded = [&](int thumbType, int *thumbEquivalent) -> LMImagePtr {
            const LMFileImgBaseInfoPtr base = fileInfo->imgBaseInfo();
            if (!base || base->AMCMImageType() == 4)
                return nullptr;
            std::vector<LMImagePtr> candidates;
            if (thumbPair) {
                std::lock_guard lock(thumbPair->mutex);
                candidates.push_back(thumbPair->fitin);
            }
            for (int t : {NavLoadPlanner::kSmallFitinType, NavLoadPlanner::kLargeFitinType, 7, 6, 5, 4, 3, 2, 1})
                candidates.push_back(fileInfo->imageByType(t));
            for (const LMImagePtr &candidate : candidates) {
                const LMFileImgBaseInfoPtr candidateBase = candidate ? candidate->originalImgBaseInfo() : nullptr;
                if (!candidateBase || !candidateBase->isEqual(*base))
                    continue;
                if (LMImagePtr made = loader->thumbnailFromImage(candidate, thumbType, o, thumbEquivalent))
                    return made;
            }
            return nullptr;
        };
        if (type >= 2 && type <= 7) {
            // A reduction is resampled from the nearest larger image already decoded rather than
            // decoded from the file again.
            for (int larger = type - 1; larger >= 1; --larger) {
                if (LMImagePtr source = fileInfo->imageByType(larger)) {
                    const QSizeF size = loader->imageSizeByScaleType(type, source->originalImgBaseInfo());
                    image = loader->resizeImage(source, size, o);
                    resized = true;
                    break;
                }
            }
        }
        if (!resized) {
            if (!fileInfo->imgBaseInfo()) {
                fileInfo->setImgBaseInfo(loader->loadImgBaseInfo(fileInfo->filePath(), o));
                if (!o->isCancelled()) {
                    const LMPathString path = fileInfo->filePath();
                    kpv::RunLoop::performOnMainThread(
                        [self, path] {
                            auto s = self.lock();
                            if (s && *s && (*s)->curFilePath() == path)
                                kpv::NotificationCenter::defaultCenter().postNotification(
                                    key(NavDidLoadCurrentFileInfoNotification), *s);
                        },
                        false);
                }
            }
            const LMFileImgBaseInfoPtr base = fileInfo->imgBaseInfo();
            if (base && !o->isCancelled() && type == NavLoadPlanner::kSmallThumbType) {
                // A cached or stored small picture costs no decode. Without one the file is decoded
                // once, at the large thumbnail's size, and the small one is made from that. A cached
                // large one is read once for both: filed here, the small one made from it.
                LMImagePtr storedLarge;
                if (thumbPair && !thumbPair->storedOnly && !fileInfo->imageByType(NavLoadPlanner::kLargeThumbType))
                    storedLarge = loader->loadStoredLargeThumb(fileInfo->filePath(), base, o);
                if (storedLarge) {
                    post(loadResult(fileInfo->filePath(), NavLoadPlanner::kLargeThumbType, storedLarge, 0, o));
                    thumbPair->largeThumbFiled = true;
                    image = smallThumbFromLarge(*loader, storedLarge, o);
                    if (!image && !o->isCancelled())
                        image = storedLarge;
                } else {
                    // Ahead of a sharp picture that comes at once, the desktop cache's thumbnail
                    // would only flash a blurred picture first; one the file stores still serves.
                    const bool inFileOnly = thumbPair && thumbPair->storedOnly &&
                                            !NavImageLoader::quickPictureWorthDecoding(base);
                    image = loader->loadStoredSmallThumb(fileInfo->filePath(), base, o, inFileOnly);
                }
                if (!image && !storedLarge && !o->isCancelled()) {
                    LMImagePtr large = fileInfo->imageByType(NavLoadPlanner::kLargeThumbType);
                    int largeEquivalent = 0;
                    if (!large)
                        large = fromDecoded(NavLoadPlanner::kLargeThumbType, &largeEquivalent);
                    if (!large && thumbPair && thumbPair->storedOnly && !NavImageLoader::quickPictureWorthDecoding(base)) {
                        // No quick picture then: the sharp one comes first, undelayed, and the
                        // thumbnails are made from it afterwards. Nothing failed, nothing is filed.
                        thumbPair->smallThumbSkipped = true;
                        QVariantMap skipped = loadResult(fileInfo->filePath(), type, nullptr, 0, o);
                        skipped.insert(key("result"), NavLoadCancelled);
                        post(std::move(skipped));
                        return;
                    }
                    if (large && !fileInfo->imageByType(NavLoadPlanner::kLargeThumbType))
                        post(loadResult(fileInfo->filePath(), NavLoadPlanner::kLargeThumbType, large, largeEquivalent, o));
                    else if (!large) {
                        large = loader->loadImage(fileInfo->filePath(), NavLoadPlanner::kLargeThumbType, base, o,
                                                  &largeEquivalent, {});
                        if (large)
                            post(loadResult(fileInfo->filePath(), NavLoadPlanner::kLargeThumbType, large,
                                            largeEquivalent, o));
                    }
                    if (thumbPair && !o->isCancelled())
                        thumbPair->largeThumbFiled = true;
                    image = smallThumbFromLarge(*loader, large, o);
                    if (!image && large && !o->isCancelled()) {
                        image = large; // small enough to serve as the small thumbnail too
                        equivalent = largeEquivalent;
                    }
                }
            } else if (base && !o->isCancelled()) {
                const LMPathString path = fileInfo->filePath();
                auto framesSoFar = [self, path, type](const LMImagePtr &frame) {
                    kpv::RunLoop::performOnMainThread(
                        [self, path, type, frame] {
                            if (auto s = self.lock(); s && *s)
                                (*s)->showFramesSoFar(path, type, frame);
                        },
                        false);
                };
                if (type == NavLoadPlanner::kLargeThumbType)
                    image = fromDecoded(type, &equivalent);
                if (!image)
                    image = loader->loadImage(path, type, base, o, &equivalent, framesSoFar);
                if (image && thumbPair && (type == NavLoadPlanner::kSmallFitinType || type == NavLoadPlanner::kLargeFitinType)) {
                    std::lock_guard lock(thumbPair->mutex);
                    thumbPair->fitin = image;
                }
                if (image && type == NavLoadPlanner::kLargeThumbType) {
                    bool smallFailed = false;
                    const bool smallWaits = thumbPair ? thumbPair->smallThumbSkipped.load()
                                                      : !fileInfo->imageByType(NavLoadPlanner::kSmallThumbType, &smallFailed) && !smallFailed;
                    if (smallWaits) {
                        // The small thumbnail waited for this one (it was no quick picture).
                        LMImagePtr small = smallThumbFromLarge(*loader, image, o);
                        post(loadResult(path, NavLoadPlanner::kSmallThumbType, small ? small : image,
                                        small ? 0 : equivalent, o));
                    } else if (auto s = self.lock(); s && *s) {
                        (*s)->checkResizeToSmallThumbOnThread(image, fileInfo->filePath(), o);
                    }
                }
            }
        }
        QVariantMap result = loadResult(fileInfo->filePath(), type, image, equivalent, o);
        if (result.value(key("result")).toInt() == NavLoadFailed)
            result.insert(key("failureReason"), failureReason(fileInfo->filePath(), readFailure, words));
        post(std::move(result));
    });
    op->setQueuePriority(highPriority ? NavLoadPlanner::kHighPriority : NavLoadPlanner::kLowPriority);
    return op;
}

void NavigateController::checkResizeToSmallThumbOnThread(const LMImagePtr &largeThumb, const LMPathString &filePath,
                                                         const kpv::Operation *operation) const
{
    if (!largeThumb || filePath.isEmpty() || !m_loader)
        return;
    LMImagePtr thumb = smallThumbFromLarge(*m_loader, largeThumb, operation);
    if (!thumb)
        return;
    std::weak_ptr<NavigateController *> self = m_self;
    kpv::RunLoop::performOnMainThread(
        [self, filePath, thumb] {
            auto s = self.lock();
            if (!s || !*s)
                return;
            (*s)->postNotification(NavDidUpdateSmallThumbNotification,
                                   {{key("filePath"), QVariant::fromValue(filePath)},
                                    {key("image"), QVariant::fromValue(thumb)}});
        },
        false);
}

void NavigateController::didUpdateSmallThumb(const QVariantMap &userInfo)
{
    const LMNavFileInfoPtr info = fileInfoByPath(userInfo.value(key("filePath")).value<LMPathString>());
    if (!info)
        return;
    if (info->updateSmallThumb(userInfo.value(key("image")).value<LMImagePtr>()))
        postNotification(NavDidLoadCurrentSmallThumbNotification);
}

void NavigateController::didLoadImageFromThread(const QVariantMap &userInfo)
{
    postNotification(NavDidLoadImageNotification, userInfo);
}

void NavigateController::didLoadImage(const QVariantMap &userInfo)
{
    const LMNavFileInfoPtr info = fileInfoByPath(userInfo.value(key("filePath")).value<LMPathString>());
    const bool awaited = m_firstPictureGate.closed && info && info->filePath() == m_firstPictureGate.path &&
                         userInfo.value(key("ImageScaleType")).toInt() == m_firstPictureGate.type;
    // Whatever its result, the quick picture's load has ended.
    if (info && info->filePath() == m_quickPicturePath &&
        userInfo.value(key("ImageScaleType")).toInt() == NavLoadPlanner::kSmallThumbType)
        m_quickPictureLoad.reset();
    fileLoadResult(info, userInfo);
    // The picture the held loads wait for failed, was cancelled or was dropped: they go now.
    if (awaited)
        checkFirstPictureGate(info, false);
    if (m_autoNavWaitsForPicture && !quickPictureOnItsWay())
        stepOnAfterQuickPicture();
}

bool NavigateController::quickPictureOnItsWay() const
{
    if (!m_quickPictureLoad || m_quickPicturePath != m_curFilePath)
        return false;
    // Cancelled (a change of mode, a save), it brings no picture.
    if (m_quickPictureLoad->isCancelled())
        return false;
    const LMNavFileInfoPtr info = curFileInfo();
    if (!info)
        return false;
    bool failed = false;
    if (info->imageByType(NavLoadPlanner::kSmallThumbType, &failed) || failed)
        return false;
    // A fit-in decoded ahead is on screen already.
    return !info->imageByType(NavLoadPlanner::kSmallFitinType) && !info->imageByType(NavLoadPlanner::kLargeFitinType);
}

void NavigateController::showFramesSoFar(const LMPathString &path, int type, const LMImagePtr &frame)
{
    const LMNavFileInfoPtr info = curFileInfo();
    if (!frame || !info || info->filePath() != path)
        return;
    // The whole animation came first, or the load was given up (the masks were reset).
    bool failed = false;
    if (info->imageByType(type, &failed) || failed || !(m_operationMasks.value(path) & LMScaleTypeMask::bit(type)))
        return;
    const LMFileImgBaseInfoPtr base = info->imgBaseInfo(), frameBase = frame->originalImgBaseInfo();
    if (!base || !frameBase || !base->isEqual(*frameBase))
        return;
    const FramesSoFar &shown = m_framesSoFar;
    if (shown.image && shown.path == path && shown.image->frameCount() >= frame->frameCount())
        return;
    m_framesSoFar = FramesSoFar{path, type, frame};
    updateOpenGLViewImage(ImageModeNormal);
}

void NavigateController::fileLoadResult(const LMNavFileInfoPtr &info, const QVariantMap &userInfo)
{
    if (!info)
        return;
    const int type = userInfo.value(key("ImageScaleType")).toInt();
    if (m_framesSoFar.image && m_framesSoFar.path == info->filePath() && m_framesSoFar.type == type) {
        // The load ended, whatever its result: what is shown no longer waits for more frames.
        m_framesSoFar = FramesSoFar();
        if (m_openGLView)
            m_openGLView->setFramesStillDecoding(false);
    }
    if (type < LMNavFileInfo::kMinScaleType || type > LMNavFileInfo::kMaxScaleType)
        return;
    bool failed = false;
    if (info->imageByType(type, &failed) || failed)
        return;
    const int result = userInfo.value(key("result")).toInt();
    const int equivalent = userInfo.value(key("equivalentImageScaleType")).toInt();
    int64_t mask = (equivalent >= 1 && equivalent <= LMNavFileInfo::kMaxScaleType) ? LMScaleTypeMask::bit(equivalent) : 0;
    bool baseInfoLearned = false;
    LMImagePtr image;
    if (result == NavLoadFailed) {
        mask = type == NavLoadPlanner::kSmallThumbType ? NavLoadPlanner::kAllTypesFailedMask : 0;
    } else if (result != NavLoadSucceeded) {
        return; // cancelled: the request's mask bit stays set until the next reset
    } else {
        image = userInfo.value(key("image")).value<LMImagePtr>();
        if (!image)
            return; // a success without an image is no result at all
        const LMFileImgBaseInfoPtr base = info->imgBaseInfo();
        const LMFileImgBaseInfoPtr imageBase = image->originalImgBaseInfo();
        if (!base) {
            info->setImgBaseInfo(imageBase);
            baseInfoLearned = true;
        } else if (!imageBase || !base->isEqual(*imageBase)) {
            return; // decoded from an older state of the file
        }
        if (type >= 8 && type <= 10) {
            const bool gif = imageBase && imageBase->AMCMImageType() == 4;
            const NavImageLoader *loader = m_loader;
            mask |= NavLoadPlanner::servedTypesMask(type, equivalent, image, gif, [loader, imageBase](int u, int *e) {
                if (!loader) {
                    *e = 0;
                    return QSizeF();
                }
                return loader->calcPreferredImageSizeForImageScaleType(u, imageBase, e);
            });
        }
    }
    const bool cur = info->filePath() == m_curFilePath;
    if (!cur && type >= 1 && type <= 7)
        return; // full-size images and reductions are kept for the current file only
    info->setImage(image, result == NavLoadFailed, type, mask);
    if (result == NavLoadFailed)
        info->setFailureReason(userInfo.value(key("failureReason")).toString());
    if (!cur)
        return;
    if (type == NavLoadPlanner::kSmallFitinType || type == NavLoadPlanner::kLargeFitinType)
        updateOpenGLViewImage(ImageModeFitin);
    updateOpenGLViewImage(ImageModeNormal);
    if (type == NavLoadPlanner::kOriginalType)
        prepareZoomAhead(image);
    if (type == NavLoadPlanner::kSmallThumbType ||
        (type == fitinImageType() && !info->imageByType(NavLoadPlanner::kSmallThumbType)))
        updatePreviewStatusUIForCurFile(false);
    postNotification(NavDidCurFileImageUpdatedNotification, {{key("ImageScaleType"), type}});
    if (baseInfoLearned)
        postNotification(NavDidLoadCurrentFileInfoNotification);
    if (type == NavLoadPlanner::kSmallThumbType)
        postNotification(NavDidLoadCurrentSmallThumbNotification);
    if (type == NavLoadPlanner::kLargeThumbType)
        postNotification(NavDidLoadCurrentLargeThumbNotification);
    checkFirstPictureGate(info, true);
}
