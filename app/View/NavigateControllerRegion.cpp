// The sharp regions of the view-mode controller: the part of the current picture the view shows
// (a JPEG, or a PNG, TIFF, WebP or JPEG 2000 too large to hold whole), decoded at the resolution
// it needs, in bands of tiles on the workers, drawn over the picture.

#include "View/NavigateController.h"

#include "Model/LMBlockOperation.h"
#include "View/LMImageViewModel.h"
#include "View/NavImageLoader.h"
#include "View/NavLoadPlanner.h"

#include "foundation/RunLoop.h"
#include "foundation/Timer.h"

#include <algorithm>
#include <cmath>

namespace {

// How long the view stays still before what it shows is decoded sharp (a pan or a zoom that
// goes on asks for nothing on the way).
constexpr double kRegionStillWait = 0.1;

// The codec image types of JPEG and PNG, whose parts decode without the whole picture.
constexpr uint64_t kJpegImageType = 2;
constexpr uint64_t kPngImageType = 8;

// How far into the easing of a zoom its first sharp frames are wanted: the part shown then is
// decoded at once with the zoom's target.
constexpr double kZoomLeadTime = 0.12;

// How far into the easing of a zoom to 100% the tiles made ahead reach: its first frames show
// what lies around the middle at the scale of that moment.
constexpr double kZoomAheadTime = 2.0 / 30.0;

} // namespace

bool NavigateController::regionsServe(const LMNavFileInfoPtr &info) const
{
    const LMFileImgBaseInfoPtr base = info ? info->imgBaseInfo() : nullptr;
    if (!base)
        return false;
    // A JPEG's part costs a fraction of its whole decode; a PNG's or a WebP's costs the rows above
    // it, a TIFF's the tiles or strips under it and a JPEG 2000's the code blocks under it, worth
    // it only for a picture too large to be held whole.
    const bool jpeg = base->AMCMImageType() == kJpegImageType || base->imageUTI() == QLatin1String("public.jpeg");
    const bool large = !NavRegionCache::holdsWhole(base->rawFrameSize());
    const bool largePng = (base->AMCMImageType() == kPngImageType || base->imageUTI() == QLatin1String("public.png")) && large;
    const bool largeInParts =
        (base->imageUTI() == QLatin1String("public.tiff") || base->imageUTI() == QLatin1String("org.webmproject.webp") ||
         base->imageUTI() == QLatin1String("public.jpeg-2000")) &&
        large;
    return (jpeg || largePng || largeInParts) && m_loader && m_host && m_openGLView &&
           currentView() == m_openGLView && m_host->showMode() == NavShowModeView;
}

void NavigateController::scheduleRegionsForStillView()
{
    if (m_regionStillTimer)
        m_regionStillTimer->invalidate();
    m_regionStillTimer.reset();
    if (!regionsServe(curFileInfo()))
        return;
    // A zoom on its way tells where it ends from its first frame: that part is decoded from
    // then on, not once the easing is over and the view has been still.
    if (m_openGLView->isZoomTimerRunning())
        requestRegionsForZoomTarget();
    std::weak_ptr<NavigateController *> self = m_self;
    m_regionStillTimer = kpv::RunLoop::current().performAfterDelay(kRegionStillWait, [self] {
        if (auto s = self.lock(); s && *s) {
            (*s)->m_regionStillTimer.reset();
            (*s)->requestRegionsForShownPart();
        }
    });
}

void NavigateController::requestRegionsForShownPart()
{
    // A zoom that goes on tells again when it ends.
    if (!m_openGLView || m_openGLView->isZoomTimerRunning() || !m_openGLView->imageNormal())
        return;
    // The picture for the scale the view came to rest at, which a zoom did not ask for on its way.
    updateOpenGLViewImage(ImageModeNormal);
    const QRectF shown = m_openGLView->convertToOriginalImageRectForRect(m_openGLView->viewBounds());
    requestRegions(shown, m_openGLView->scale(), shown.center());
}

void NavigateController::requestRegionsForZoomTarget()
{
    if (!m_openGLView || !m_openGLView->isZoomTimerRunning() || !m_openGLView->imageNormal())
        return;
    const QVariantMap zoom = m_openGLView->zoomTimerUserInfo();
    // Asked for once per zoom. A zoom key held down aims further at each frame: what it ends on
    // is known only when it is let go, and decoded once the view is still.
    if (zoom == m_regionZoomAskedFor)
        return;
    m_regionZoomAskedFor = zoom;
    if (m_openGLView->inArrowKeyZoomSession() && !zoom.value(QStringLiteral("arrowKeyFirstZoom")).toBool())
        return;
    requestRegionsForZoom(zoom.value(QStringLiteral("beginScale")).toDouble(),
                          zoom.value(QStringLiteral("endScale")).toDouble(), m_openGLView->zoomHoldPosition(), false);
}

void NavigateController::requestRegionsForZoom(double begin, double end, const std::optional<QPointF> &hold,
                                               bool ahead)
{
    const LMImagePtr normal = m_openGLView ? m_openGLView->imageNormal() : nullptr;
    if (!normal)
        return;
    const QRectF target = m_openGLView->originalRectShownAtScale(end, hold);
    // The easing's curve a moment in: what the view shows then holds the target.
    const double p = (1 - 1 / std::pow(kZoomLeadTime + 1, 4)) / 0.9744;
    const QRectF soon = m_openGLView->originalRectShownAtScale(begin + (end - begin) * p, hold);
    if (ahead) {
        // Decoded before the zoom, all of it at the target's resolution, in one go: the first
        // frames show the file's own pixels over the middle of the view (finer than they need,
        // as sharp as the picture itself drawn smaller), and where the zoom ends is among them.
        // Out to whole tiles of half that resolution: those the key asks for are all there.
        const double grid = NavRegionCache::kTileSize * NavRegionCache::reductionForScale(end) * 2.0;
        const QRectF wanted = soon | target;
        const QPointF topLeft(std::floor(wanted.left() / grid) * grid, std::floor(wanted.top() / grid) * grid);
        const QPointF bottomRight(std::ceil(wanted.right() / grid) * grid, std::ceil(wanted.bottom() / grid) * grid);
        const LMFileImgBaseInfoPtr base = normal->originalImgBaseInfo();
        if (base)
            requestRegions(QRectF(topLeft, bottomRight).intersected(base->rawFrameRect()), end, target.center(), true);
        return;
    }
    requestRegions(target, end, target.center());
    // Around the target, what the frames show from then on, at half the target's resolution:
    // cheaper, decoded beside it, and as sharp as those frames need, so that they are sharp all
    // over and not only in the middle.
    const int reduction = NavRegionCache::reductionForScale(end);
    if (reduction < 8)
        requestRegions(soon | target, 0.5 / reduction, target.center(), false, true);
}

void NavigateController::prepareZoomAhead(const LMImagePtr &fullSize)
{
    if (!m_openGLView || !fullSize || currentView() != m_openGLView || m_openGLView->imageNormal() == fullSize ||
        m_openGLView->isZoomTimerRunning() || !m_openGLView->imageNormal())
        return;
    const LMFileImgBaseInfoPtr base = fullSize->originalImgBaseInfo();
    const double begin = m_openGLView->scale();
    if (!base || !(begin > 0 && begin < 1))
        return;
    const double p = (1 - 1 / std::pow(kZoomAheadTime + 1, 4)) / 0.9744;
    const QRectF raw = m_openGLView->originalRectShownAtScale(begin + (1 - begin) * p, std::nullopt);
    const QSizeF rawSize = base->rawFrameSize();
    if (raw.isEmpty() || rawSize.isEmpty())
        return;
    const double sx = double(fullSize->width()) / rawSize.width(), sy = double(fullSize->height()) / rawSize.height();
    m_openGLView->prepareTilesAhead(fullSize, QRectF(raw.x() * sx, raw.y() * sy, raw.width() * sx, raw.height() * sy));
}

void NavigateController::requestRegions(const QRectF &rawRect, double scale, QPointF rawFocus, bool ahead,
                                        bool forZoomFrames)
{
    const LMNavFileInfoPtr info = curFileInfo();
    if (!regionsServe(info) || rawRect.isEmpty())
        return;
    const LMImagePtr normal = m_openGLView->imageNormal();
    const LMFileImgBaseInfoPtr base = info->imgBaseInfo();
    const LMFileImgBaseInfoPtr normalBase = normal ? normal->originalImgBaseInfo() : nullptr;
    if (!normalBase || !normalBase->isEqual(*base))
        return;
    const int reduction = NavRegionCache::reductionForScale(scale);
    // The picture shown, or one the file holds for another scale, is as fine as that already: a
    // fitted picture made for the view's size shows each of its pixels once, and tiles of the
    // next finer reduction would only be drawn smaller over it.
    if (scale <= normal->scaleOfOriginal() * 1.0001)
        return;
    for (int type = 1; (1 << (type - 1)) <= reduction; ++type)
        if (info->imageByType(type))
            return;
    m_regionCache.resetFor(info->filePath(), base);
    // Finer tiles stand in for those asked for where the view draws them: through the frames of
    // a zoom all of them, at rest those it shrinks no more than twice.
    int finestStandIn = 1;
    while (!forZoomFrames && finestStandIn < reduction && 1.0 / finestStandIn > 2 * scale * 1.0001)
        finestStandIn *= 2;
    const std::vector<NavRegionCache::Band> bands = m_regionCache.bandsToDecode(rawRect, reduction, rawFocus, finestStandIn);
    std::erase_if(m_regionLoads, [](const std::weak_ptr<kpv::Operation> &op) { return op.expired(); });
    const NavImageLoader *loader = m_loader;
    std::weak_ptr<NavigateController *> self = m_self;
    const LMPathString path = info->filePath();
    for (const NavRegionCache::Band &band : bands) {
        auto op = LMBlockOperation::blockOperationWithBlock([loader, path, base, band, self](LMBlockOperation *o) {
            std::vector<LMRegionTilePtr> tiles;
            if (!o->isCancelled())
                tiles = NavRegionCache::cutBand(band, loader->loadImageRegion(path, base, band.decodeRect,
                                                                                band.reduction, o));
            kpv::RunLoop::performOnMainThread(
                [self, band, tiles = std::move(tiles)] {
                    if (auto s = self.lock(); s && *s)
                        (*s)->fileRegionBand(band, tiles);
                },
                false);
        });
        // What the user waits for now, ahead of every load of the neighbours. Decoded ahead of
        // need, it is background work, though for the picture on screen: ahead of the
        // neighbours' loads still.
        op->setQueuePriority(ahead ? NavLoadPlanner::kHighPriority - 1 : NavLoadPlanner::kHighPriority + 1);
        if (ahead)
            op->setQualityOfService(kpv::Operation::QualityOfService::Background);
        m_regionLoads.push_back(op);
        m_host->addOperation(std::move(op));
    }
}

void NavigateController::fileRegionBand(const NavRegionCache::Band &band, const std::vector<LMRegionTilePtr> &tiles)
{
    if (band.generation != m_regionCache.generation() || !m_openGLView)
        return;
    const QRectF shown = m_openGLView->imageNormal()
                             ? m_openGLView->convertToOriginalImageRectForRect(m_openGLView->viewBounds())
                             : QRectF();
    m_regionCache.fileBand(band, tiles, shown);
    if (!tiles.empty())
        m_openGLView->setRegionTiles(m_regionCache.tiles());
}

void NavigateController::dropRegions()
{
    if (m_regionStillTimer)
        m_regionStillTimer->invalidate();
    m_regionStillTimer.reset();
    for (const std::weak_ptr<kpv::Operation> &load : m_regionLoads)
        if (auto op = load.lock())
            op->cancel();
    m_regionLoads.clear();
    m_regionZoomAskedFor.clear();
    if (m_loader && m_regionCache.imageBaseInfo())
        m_loader->releaseRegionSource();
    m_regionCache.clear();
    if (m_openGLView && !m_openGLView->regionTiles().empty())
        m_openGLView->setRegionTiles({});
}
