// Image slots, animated frames and the rotation animation of the image view.

#include "View/LMImageViewModel.h"

#include <cmath>
#include <numbers>

namespace {
constexpr double kRotateTick = 1.0 / 60.0;
constexpr double kRotateDuration = 0.3;
} // namespace

void LMImageViewModel::setImage(const LMImagePtr &image, int imageMode) { setImage(image, imageMode, std::nullopt); }

void LMImageViewModel::setImage(const LMImagePtr &image, int imageMode, const std::optional<LMImageRotateAngle> &angle)
{
    bool changed = false;
    double oldFitinScale = 0;
    bool storedNormal = false;
    auto replaceNormalTiles = [&] {
        recoveryTextures(TileSet::Normal);
        updateFrameSwitchTimer();
        invalidateCursorRects();
        changed = true;
    };
    if (imageMode == ImageModeNormal) {
        if (image != m_imageNormal) {
            oldFitinScale = calcFitinScale();
            m_imageNormal = image;
            storedNormal = image != nullptr;
            replaceNormalTiles();
        }
    } else if (imageMode == ImageModeBadFile) {
        if (image != m_imageBadFile) {
            m_imageBadFile = image;
            if (m_needCheckScaleWhileFileChanged) {
                m_fitinMode = true;
                m_scale = 0;
                m_offset = QPointF();
                m_needCheckScaleWhileFileChanged = false;
            }
            replaceNormalTiles();
        }
    } else if (image != m_imageFitin) {
        m_imageFitin = image;
        recoveryTextures(TileSet::Fitin);
        changed = true;
    }

    const bool angleDiffers = angle && !angle->isEqual(m_angleRotate);
    if (!angleDiffers && (!m_needCheckScaleWhileFileChanged || !image) && !changed)
        return;
    if (angleDiffers || (m_needCheckScaleWhileFileChanged && image)) {
        adjustDispImageByNewScale(scale(), true, angle.value_or(LMImageRotateAngle()), std::nullopt, false);
        // The kept scale waits for the normal image: a fit-in image that arrives first cannot be
        // laid out, and clearing the request then would show the new file at a stale offset.
        if (m_imageNormal)
            m_needCheckScaleWhileFileChanged = false;
    }
    setNeedsUpdateDrawContent();
    // The new file has a picture to draw: the one held for it goes.
    if (m_imageNormal || m_imageBadFile)
        releaseHeldPicture();
    if (imageMode == ImageModeNormal) {
        const double fitin = calcFitinScale();
        if (fitin != (storedNormal ? oldFitinScale : 0.0))
            notifyChangeCurFitinScale();
    }
}

void LMImageViewModel::didChangeFile() { didChangeFileByKeepPrevScale(false); }

void LMImageViewModel::didChangeFileByKeepPrevScale(bool keep)
{
    emptyForNextFile(keep);
    releaseHeldPicture();
}

void LMImageViewModel::didChangeFileHoldingPicture(bool keep)
{
    // Taken before the slots empty: the drawing side keeps what it shows of them.
    if (!m_pictureHeld && (m_imageNormal || m_imageBadFile))
        m_pictureHeld = holdShownPicture();
    emptyForNextFile(keep);
}

void LMImageViewModel::releaseHeldPicture()
{
    if (!m_pictureHeld)
        return;
    m_pictureHeld = false;
    releaseShownPicture();
}

void LMImageViewModel::emptyForNextFile(bool keep)
{
    // The scale kept for the next file is the one the user zoomed to, not a frame of the way there.
    if (keep)
        finishZoom(false);
    abortZoom();
    stopFrameSwitchTimer();
    endRotate();
    m_angleRotate = LMImageRotateAngle();
    if (!keep) {
        m_needCheckScaleWhileFileChanged = false;
        m_fitinMode = true;
        m_scale = 0;
        m_offset = QPointF();
    } else {
        m_needCheckScaleWhileFileChanged = true;
    }
    m_curFrameIdx = 0;
    m_framesStillDecoding = false;
    m_imageNormal.reset();
    m_imageFitin.reset();
    m_imageBadFile.reset();
    recoveryTextures(TileSet::Normal);
    recoveryTextures(TileSet::Fitin);
    m_regionTiles.clear();
    prepareTilesAhead(nullptr, QRectF());
    didEmptyImageSlots();
    setNeedsUpdateDrawContent();
    invalidateCursorRects();
}

// ---- Animated frames ----

void LMImageViewModel::setOnScreen(bool onScreen)
{
    if (onScreen == m_onScreen)
        return;
    m_onScreen = onScreen;
    updateFrameSwitchTimer();
}

void LMImageViewModel::updateFrameSwitchTimer()
{
    if (!m_onScreen || !m_enable || !m_imageNormal || m_imageNormal->frameCount() < 2) {
        stopFrameSwitchTimer();
        return;
    }
    if (!m_frameSwitchTimer)
        m_frameSwitchTimer = std::make_unique<LMBlockRepeatTimer>();
    const LMFileImgBaseInfoPtr &info = m_imageNormal->originalImgBaseInfo();
    const double delay = info ? info->delayTime() : 0.1;
    m_frameSwitchTimer->start(delay, nullptr, [this](bool *) { frameSwitchTimerHandler(); }, nullptr);
}

void LMImageViewModel::stopFrameSwitchTimer()
{
    if (m_frameSwitchTimer)
        m_frameSwitchTimer->stop();
}

void LMImageViewModel::frameSwitchTimerHandler()
{
    if (!enable() || m_inArrowKeyZoomSession || isZoomTimerRunning() || !m_imageNormal)
        return;
    const int64_t count = m_imageNormal->frameCount();
    // The next frame is still being decoded: this one stays until it comes.
    if (m_framesStillDecoding && m_curFrameIdx + 1 >= count)
        return;
    ++m_curFrameIdx;
    if (m_curFrameIdx >= count)
        m_curFrameIdx = 0;
    setNeedsUpdateFrameContent();
}

int64_t LMImageViewModel::drawableFrameIdx() const
{
    // A new normal image of the same file may hold fewer frames than the index reached.
    if (!m_imageNormal || m_curFrameIdx < 0 || m_curFrameIdx >= m_imageNormal->frameCount())
        return 0;
    return m_curFrameIdx;
}

// ---- Rotation ----

void LMImageViewModel::applyRotationFrame(double p)
{
    const RotationRun &r = m_rotation;
    const LMImageRotateAngle angle = r.newAngle.middleAngleFromBeginAngle(r.oldAngle, p);
    const double s = r.s0 + (r.s1 - r.s0) * p;
    const QPointF o = r.o0 + (r.o1 - r.o0) * p;
    setNewScale(s, true, angle, o, false, false);
}

void LMImageViewModel::rotate(int action)
{
    if (!m_imageNormal)
        return;
    abortZoom();
    endRotate();
    const LMImageRotateAngle oldAngle = m_angleRotate;
    const LMImageRotateAngle newAngle = oldAngle.angleByRotateAction(action);
    if (newAngle.isEqual(oldAngle))
        return;
    const QRectF f = getBoundsForFitin();
    const QPointF o0 = m_offset;
    const double s0 = scale();
    const double fitNew = calcFitinScaleForImage(m_imageNormal->originalImgBaseInfo(), newAngle);
    const double minNew = calcMinScaleByFitinScale(fitNew);
    const double s1 = minNew > s0 ? minNew : (m_fitinMode ? fitNew : s0);
    const QPointF o1 = (action == RotateActionLeft || action == RotateActionRight)
                           ? calcNewOffsetByNewScale(s1, newAngle, QPointF(f.x() + f.width() / 2, f.y() + f.height() / 2))
                           : o0;
    m_rotation = RotationRun{oldAngle, newAngle, s0, s1, o0, o1, now(), false};
    enableShadow(false);
    if (!m_rotateTimer)
        m_rotateTimer = std::make_unique<LMBlockRepeatTimer>();
    m_rotateTimer->start(
        kRotateTick, [this] { postNotification(LMOpenGLViewBeginRotateNotification); },
        [this](bool *stop) {
            const double t = std::min(now() - m_rotation.t0, kRotateDuration);
            // A quarter sine: fast start, soft landing.
            applyRotationFrame(std::sin(t / kRotateDuration * std::numbers::pi * 0.5));
            if (t >= kRotateDuration) {
                m_rotation.reachedEnd = true;
                *stop = true;
            }
        },
        [this](bool) {
            const RotationRun run = m_rotation;
            // Ended early (a new file, a zoom, a press): land on the last frame first, so that a
            // fitted image stays fitted instead of keeping a scale from the middle of the turn.
            if (!run.reachedEnd)
                applyRotationFrame(1.0);
            setAngleRotate(run.newAngle.normalizeAngle());
            notifyChangeCurFitinScale();
            postNotificationByOldScale(run.s0, run.oldAngle, run.o0, false);
            enableShadow(true);
            postNotification(LMOpenGLViewEndRotateNotification);
        });
}

bool LMImageViewModel::setAngleRotate(const LMImageRotateAngle &angle)
{
    if (angle.isEqual(m_angleRotate))
        return false;
    adjustDispImageByNewScale(scale(), true, angle, std::nullopt, false);
    return true;
}

void LMImageViewModel::resetRotateAngle()
{
    if (!m_imageNormal)
        return;
    endRotate();
    abortZoom();
    if (m_angleRotate.isEqual(LMImageRotateAngle()))
        return;
    postNotification(LMOpenGLViewBeginRotateNotification);
    if (setAngleRotate(LMImageRotateAngle()))
        notifyChangeCurFitinScale();
    postNotification(LMOpenGLViewEndRotateNotification);
}

void LMImageViewModel::endRotate()
{
    if (m_rotateTimer)
        m_rotateTimer->stop();
}

void LMImageViewModel::notifyChangeCurFitinScale()
{
    if (m_imageNormal)
        postNotification(LMOpenGLViewDidChangeCurFitinScaleNotification);
}
