// Adding the current file to the favourites, or taking it out, with the flight of its image into
// (or out of) the favourites-bin button. The list changes before the animation starts, so stopping
// the animation never loses the change.

#include "View/NavigateController.h"

#include "Model/LMImageTools.h"
#include "Model/LMPerformSelectorWrapper.h"
#include "View/LMImageViewModel.h"
#include "View/LMMatrix.h"
#include "View/NavLoadPlanner.h"
#include "foundation/RunLoop.h"

#include <QTransform>

#include <algorithm>
#include <cmath>

namespace {

constexpr double kFavorDuration = 0.3;
constexpr double kFavorTick = 1.0 / 60.0;
constexpr double kLift = 200.0;

QRectF rectAbout(QPointF centre, QSizeF size)
{
    return QRectF(centre.x() - size.width() / 2, centre.y() - size.height() / 2, size.width(), size.height());
}

// A size with `aspect`'s proportions that covers `box`; zero when either is empty.
QSizeF coverSize(QSizeF aspect, QSizeF box)
{
    if (aspect.isEmpty() || box.isEmpty())
        return QSizeF(0, 0);
    if (aspect.width() / box.width() > aspect.height() / box.height())
        return QSizeF(box.height() * aspect.width() / aspect.height(), box.height());
    return QSizeF(box.width(), box.width() * aspect.height() / aspect.width());
}

} // namespace

void NavigateController::favorCurFile()
{
    if (!canDoAction(11) || m_autoNavTimer || !m_host)
        return;
    abortScrollSession();
    if (m_openGLView)
        m_openGLView->endRotate();
    if (m_host->isFavoriteFile(m_curFilePath)) {
        beginFavorCurFile();
        return;
    }
    std::weak_ptr<NavigateController *> weak = m_self;
    auto later = [weak] {
        LMPerformSelectorWrapper().performWithBlock(
            [weak] {
                const auto p = weak.lock();
                if (p && *p)
                    (*p)->beginFavorCurFile();
            },
            0.05);
    };
    checkAndSaveCurFile(true, [weak, later](int outcome) {
        const auto p = weak.lock();
        if (!p || !*p)
            return;
        NavigateController *self = *p;
        switch (outcome) {
        case 0: case 5:
            self->beginFavorCurFile();
            break;
        case 1:
            later();
            break;
        case 2: case 4:
            self->letTurnGo(self->m_openGLView);
            later();
            break;
        default:
            break;
        }
    });
}

void NavigateController::beginFavorCurFile()
{
    if (!m_host || m_curFilePath.isEmpty())
        return;
    stopFavorFileAnimationTimer();
    const bool adding = !m_host->isFavoriteFile(m_curFilePath);
    m_favorAdding = adding;
    m_host->beginAniFavorFile(adding);
    const QRectF B = m_host->favoriteBinRectInView();
    const QPointF cB = B.center();
    const double t0 = kpv::RunLoop::main().now();
    LMBlockRepeatTimer::RepeatBlock tick;

    if (adding) {
        int angle = 0;
        QImage snapshot = m_openGLView ? m_openGLView->cropImageForVisibleRect(&angle) : QImage();
        if (!snapshot.isNull()) {
            const QSizeF F = LMImageTools::calcScalingSize(QSizeF(snapshot.size()), QSizeF(400, 400), 0);
            if (F.width() > 0 && snapshot.width() / F.width() > 1.25)
                snapshot = LMImageTools::convertImage(snapshot, 0, F);
        }
        const QRectF V = m_openGLView ? m_openGLView->viewBounds().intersected(m_openGLView->imageVisibleViewRect())
                                      : QRectF();
        const QSizeF E = (B.isEmpty() || V.isEmpty()) ? QSizeF(0, 0) : coverSize(V.size(), B.size());
        const QPointF cV = V.center();
        const LMNavFileInfoPtr info = curFileInfo();
        const LMImagePtr thumb = info ? info->imageByType(NavLoadPlanner::kSmallThumbType) : nullptr;
        m_host->addFavoriteFile(m_curFilePath, info ? info->imgBaseInfo() : nullptr,
                                thumb ? thumb->convertToImage() : QImage());
        m_host->showFavorSnapshot(snapshot, angle);
        m_host->updateFavorSnapshot(V, 1.0);
        tick = [this, t0, V, E, cV, cB](bool *stop) {
            const double e = std::min(kpv::RunLoop::main().now() - t0, kFavorDuration);
            const double p = e / kFavorDuration;
            const double theta0 = std::asin(0.9);
            const double theta = theta0 + (3 * M_PI / 2 - theta0) * p;
            const double k = (std::sin(theta) + 1) / 2;
            const QSizeF size((V.width() / 0.9 - E.width()) * k + E.width(),
                              (V.height() / 0.9 - E.height()) * k + E.height());
            const QPointF centre = theta <= M_PI / 2 ? cV : cB + (cV - cB) * k;
            m_host->updateFavorSnapshot(rectAbout(centre, size), 1 - 0.9 * p);
            if (e >= kFavorDuration)
                *stop = true;
        };
    } else {
        int a = 0;
        const QImage thumb = m_host->favoriteThumb(m_curFilePath, &a);
        const QRectF turned = QTransform().rotate(a).mapRect(QRectF(0, 0, thumb.width(), thumb.height()));
        QSizeF S(0, 0), L(0, 0);
        if (!turned.isEmpty()) {
            S = coverSize(turned.size(), B.size());
            L = coverSize(turned.size(), QSizeF(kLift, kLift));
            if (B.isEmpty())
                S = QSizeF(0, 0);
        }
        m_host->removeFavoriteFile(m_curFilePath);
        m_host->showFavorSnapshot(thumb, a);
        m_host->updateFavorSnapshot(rectAbout(cB, S), 1.0);
        tick = [this, t0, S, L, cB](bool *stop) {
            const double e = std::min(kpv::RunLoop::main().now() - t0, kFavorDuration);
            const double s = std::sin(e / kFavorDuration * M_PI / 2);
            const QSizeF size = S + (L - S) * s;
            m_host->updateFavorSnapshot(rectAbout(cB + QPointF(0, kLift * s), size), 1 - 0.9 * s);
            if (e >= kFavorDuration)
                *stop = true;
        };
    }
    m_favorFileAnimationTimer.start(kFavorTick, {}, std::move(tick), [this](bool) {
        if (!m_host)
            return;
        m_host->updateFavPhotoBoxUI();
        m_host->removeFavorSnapshot();
        m_host->endAniFavorFile(m_favorAdding);
    });
}

void NavigateController::stopFavorFileAnimationTimer()
{
    if (m_favorFileAnimationTimer.isTimerRunning())
        m_favorFileAnimationTimer.stop();
}

void NavigateController::addFavoriteFile(const LMPathString &path, const LMImagePtr &thumb)
{
    if (!m_host)
        return;
    m_host->beginAniFavorFile(true);
    m_host->addFavoriteFile(path, thumb ? thumb->originalImgBaseInfo() : nullptr,
                            thumb ? thumb->convertToImage() : QImage());
    m_host->updateFavPhotoBoxUI();
    m_host->endAniFavorFile(true);
}
