#include "View/LMImageViewModel.h"

#include "foundation/NotificationCenter.h"
#include "foundation/RunLoop.h"

#include <algorithm>
#include <cmath>

const char *const LMOpenGLViewDoChangeScaleNotification = "doChangeScale";
const char *const LMOpenGLViewDoMoveImageNotification = "doMoveImage";
const char *const LMOpenGLViewDidChangeImageVisibleRectNotification = "didChangeImageVisibleRect";
const char *const LMOpenGLViewDidChangeCurFitinScaleNotification = "didChangeCurFitinScale";
const char *const LMOpenGLViewBeginRotateNotification = "beginRotate";
const char *const LMOpenGLViewEndRotateNotification = "endRotate";

namespace {

LMMatrix translationMatrix(double x, double y) { return LMMatrix{1, 0, x, 0, 1, y}; }
LMMatrix scaleMatrix(double x, double y) { return LMMatrix{x, 0, 0, 0, y, 0}; }

bool isFiniteMatrix(const LMMatrix &m)
{
    return std::isfinite(m.a) && std::isfinite(m.b) && std::isfinite(m.c) && std::isfinite(m.d) && std::isfinite(m.e) &&
           std::isfinite(m.f);
}

// The inverse, or nullopt for a matrix that flattens the plane (a flip seen edge-on, a viewport
// squeezed to nothing): its inverse would fill every later result with NaN.
std::optional<LMMatrix> invertible(const LMMatrix &m)
{
    const double det = m.a * m.e - m.b * m.d;
    if (det == 0.0 || !std::isfinite(det))
        return std::nullopt;
    LMMatrix inv = LMInverseMatrix(m);
    if (!isFiniteMatrix(inv))
        return std::nullopt;
    return inv;
}

// Whole-pixel rect that holds `r` (an empty rect gives the zero rect).
QRectF integralRect(const QRectF &r)
{
    if (!(r.width() > 0) || !(r.height() > 0))
        return QRectF();
    const double x0 = std::floor(r.x()), y0 = std::floor(r.y());
    const double x1 = std::ceil(r.x() + r.width()), y1 = std::ceil(r.y() + r.height());
    return QRectF(x0, y0, x1 - x0, y1 - y0);
}

QRectF intersection(const QRectF &a, const QRectF &b)
{
    const double x0 = std::max(a.left(), b.left()), y0 = std::max(a.top(), b.top());
    const double x1 = std::min(a.x() + a.width(), b.x() + b.width());
    const double y1 = std::min(a.y() + a.height(), b.y() + b.height());
    if (!(x1 > x0) || !(y1 > y0))
        return QRectF();
    return QRectF(x0, y0, x1 - x0, y1 - y0);
}

// Left and bottom edges included, right and top excluded.
bool pointInRect(QPointF p, const QRectF &r)
{
    return p.x() >= r.x() && p.x() < r.x() + r.width() && p.y() >= r.y() && p.y() < r.y() + r.height();
}

QPointF centreOf(const QRectF &r) { return QPointF(r.x() + r.width() / 2, r.y() + r.height() / 2); }

} // namespace

LMImageViewModel::LMImageViewModel() = default;
LMImageViewModel::~LMImageViewModel() = default;

double LMImageViewModel::now() const { return kpv::RunLoop::current().now(); }

void LMImageViewModel::postNotification(const char *name) const
{
    kpv::NotificationCenter::defaultCenter().postNotification(QString::fromLatin1(name), notificationObject());
}

void LMImageViewModel::setEnable(bool enable)
{
    if (enable == m_enable)
        return;
    m_enable = enable;
    invalidateCursorRects();
    // A disabled view (another mode over it) shows no new frame: its animation holds with no timer.
    updateFrameSwitchTimer();
}

void LMImageViewModel::setNeedsUpdateDrawContent()
{
    if (!m_layerAsynchronous)
        ++m_drawContentUpdates;
}

LMImagePtr LMImageViewModel::imageByImageMode(int mode) const
{
    switch (mode) {
    case ImageModeNormal:
        return m_imageNormal;
    case ImageModeFitin:
        return m_imageFitin;
    case ImageModeBadFile:
        return m_imageBadFile;
    default:
        return nullptr;
    }
}

LMImagePtr LMImageViewModel::validImage() const
{
    if (m_imageNormal)
        return m_imageNormal;
    if (m_imageFitin)
        return m_imageFitin;
    return m_imageBadFile;
}

QRectF LMImageViewModel::rawFrameRectOf(const LMImagePtr &image) const
{
    if (!image || !image->originalImgBaseInfo())
        return QRectF();
    return image->originalImgBaseInfo()->rawFrameRect();
}

// ---- Fit-in rule ----

QSizeF LMImageViewModel::viewPortSizeScale() const
{
    const double w = m_viewBounds.width(), h = m_viewBounds.height();
    if (w == 0 || h == 0 || m_viewPortMargin == 0)
        return QSizeF(1, 1);
    const double m = double(m_viewPortMargin);
    // A margin of half the view or more leaves nothing to draw; never turn that into a mirror.
    return QSizeF(std::max(0.0, (w - 2 * m) / w), std::max(0.0, (h - 2 * m) / h));
}

QRectF LMImageViewModel::getBoundsForFitin() const
{
    const QRectF b = m_viewBounds;
    double x = b.x() + m_leftMargin, y = b.y() + m_bottomMargin;
    double w = std::max(0.0, b.width() - m_leftMargin - m_rightMargin);
    double h = std::max(0.0, b.height() - m_topMargin - m_bottomMargin);
    if (!isRetinaScreen()) {
        // Even sizes keep the centre on a whole point, so a 1:1 image lands on whole pixels.
        w = 2 * std::floor(w / 2);
        h = 2 * std::floor(h / 2);
    }
    return QRectF(x, y, w, h);
}

double LMImageViewModel::calcFitinScaleForImage(const LMFileImgBaseInfoPtr &info, const LMImageRotateAngle &angle) const
{
    const QRectF raw = info ? info->rawFrameRect() : QRectF();
    const QRectF r = LMTransformRect(LMRotateDegreeMatrix(double(info ? info->orientationAngle() : 0) + angle.angleRotate()), raw);
    const QRectF f = getBoundsForFitin();
    if (f.width() == 0 || f.height() == 0 || !(r.width() > 0) || !(r.height() > 0))
        return 0.0;
    double s = std::min(f.width() / r.width(), f.height() / r.height()) * pixelRatio();
    if (m_curScaleMode != ScaleModeFitinEnlarge)
        s = std::min(s, 1.0);
    return s;
}

double LMImageViewModel::calcFitinScale() const
{
    const LMImagePtr image = validImage();
    return calcFitinScaleForImage(image ? image->originalImgBaseInfo() : nullptr, m_angleRotate);
}

double LMImageViewModel::calcMinScaleByFitinScale(double fitinScale) const
{
    return m_limitFitinBeMinScale ? std::max(0.01, fitinScale) : 0.01;
}

double LMImageViewModel::curMinScale() const { return calcMinScaleByFitinScale(calcFitinScale()); }

double LMImageViewModel::minScaleByNewAngle(const LMImageRotateAngle &angle) const
{
    return calcMinScaleByFitinScale(
        calcFitinScaleForImage(m_imageNormal ? m_imageNormal->originalImgBaseInfo() : nullptr, angle));
}

double LMImageViewModel::scale() const
{
    const double s = m_fitinMode ? calcFitinScale() : m_scale;
    return s == 0.0 ? 1.0 : s;
}

// ---- Committing geometry ----

void LMImageViewModel::setScale(double scale)
{
    endRotate();
    abortZoom();
    setScale(scale, std::nullopt, true);
}

void LMImageViewModel::setScale(double scale, const std::optional<QPointF> &holdPosition, bool checkUpdateFitinMode)
{
    adjustDispImageByNewScale(scale, checkUpdateFitinMode, m_angleRotate, holdPosition, false);
}

void LMImageViewModel::adjustDispImageByNewScale(double scale, bool checkUpdateFitinMode, const LMImageRotateAngle &angle,
                                                 const std::optional<QPointF> &holdPosition, bool forceUpdateDrawContent)
{
    if (!m_imageNormal || !std::isfinite(scale))
        return;
    const QRectF f = getBoundsForFitin();
    const QPointF h = holdPosition && pointInRect(*holdPosition, f) ? *holdPosition : centreOf(f);
    const double s = std::min(std::max(minScaleByNewAngle(angle), scale), m_curMaxScale);
    const QPointF o = calcNewOffsetByNewScale(s, angle, h);
    setNewScale(s, checkUpdateFitinMode, angle, o, forceUpdateDrawContent, true);
}

QRectF LMImageViewModel::originalRectShownAtScale(double scale, const std::optional<QPointF> &holdPosition) const
{
    if (!m_imageNormal || !std::isfinite(scale))
        return QRectF();
    const QRectF f = getBoundsForFitin();
    const QPointF h = holdPosition && pointInRect(*holdPosition, f) ? *holdPosition : centreOf(f);
    const double s = std::min(std::max(minScaleByNewAngle(m_angleRotate), scale), m_curMaxScale);
    const QPointF o = calcNewOffsetByNewScale(s, m_angleRotate, h);
    const std::optional<LMMatrix> inv = invertible(matrixFromOriginalImageToView(
        m_imageNormal, s, m_angleRotate, o, f, viewPortSizeScale(), pixelRatio()));
    const QRectF raw = rawFrameRectOf(m_imageNormal);
    if (!inv)
        return raw;
    return intersection(integralRect(LMTransformRect(*inv, m_viewBounds)), raw);
}

void LMImageViewModel::setRegionTiles(std::vector<LMRegionTilePtr> tiles)
{
    m_regionTiles = std::move(tiles);
    didChangeRegionTiles();
}

void LMImageViewModel::setNewScale(double scale, bool checkUpdateFitinMode, const LMImageRotateAngle &angle,
                                   QPointF offset, bool forceUpdateDrawContent, bool notifyFlag)
{
    if (!m_imageNormal)
        return;
    // A NaN offset would poison every later mapping; keep the placement that still works.
    if (!std::isfinite(offset.x()) || !std::isfinite(offset.y()))
        offset = m_offset;
    const bool oldFitin = m_fitinMode;
    const LMImageRotateAngle oldAngle = m_angleRotate;
    const QPointF oldOffset = m_offset;
    const double oldScale = this->scale();
    const bool newFitin =
        checkUpdateFitinMode ? calcFitinScaleForImage(m_imageNormal->originalImgBaseInfo(), angle) == scale : oldFitin;
    const bool changed = newFitin != oldFitin || (!oldFitin && oldScale != scale) || !oldAngle.isEqual(angle) ||
                         oldOffset != offset;
    if (!changed && !forceUpdateDrawContent)
        return;
    m_fitinMode = newFitin;
    m_angleRotate = angle;
    m_offset = offset;
    m_scale = scale;
    setNeedsUpdateDrawContent();
    invalidateCursorRects();
    if (notifyFlag)
        postNotificationByOldScale(oldScale, oldAngle, oldOffset, forceUpdateDrawContent);
}

void LMImageViewModel::postNotificationByOldScale(double oldScale, const LMImageRotateAngle &oldAngle, QPointF oldOffset,
                                                  bool forceNotifyImageVisibleRectChanged)
{
    const bool scaleChanged = scale() != oldScale;
    const bool offsetChanged = m_offset != oldOffset;
    if (scaleChanged)
        postNotification(LMOpenGLViewDoChangeScaleNotification);
    if (offsetChanged)
        postNotification(LMOpenGLViewDoMoveImageNotification);
    if (offsetChanged || scaleChanged || !m_angleRotate.isEqual(oldAngle) || forceNotifyImageVisibleRectChanged)
        postNotification(LMOpenGLViewDidChangeImageVisibleRectNotification);
}

void LMImageViewModel::setOffset(QPointF offset)
{
    if (offset == m_offset)
        return;
    setNewScale(scale(), false, m_angleRotate, offset, false, true);
}

void LMImageViewModel::moveImageByDeltaPoint(QPointF delta)
{
    const QRectF v = imageVisibleViewRect();
    const QRectF moved = v.translated(delta);
    setOffset(calcOffsetFromImageViewRect(v, moved, scale(), pixelRatio()));
    // Panned while a zoom runs: the zoom goes on about what is now under its hold point.
    if (isZoomTimerRunning())
        m_zoomImagePoint = imagePointHeldAt(zoomHoldViewPoint(zoomHoldPosition()));
}

void LMImageViewModel::setFitinLeftMargin(double left, double top, double right, double bottom)
{
    if (left == m_leftMargin && top == m_topMargin && right == m_rightMargin && bottom == m_bottomMargin)
        return;
    // As for a new size: a zoom under way lands first (full screen hides the bars around the view).
    finishZoom(true);
    m_leftMargin = left;
    m_topMargin = top;
    m_rightMargin = right;
    m_bottomMargin = bottom;
    endRotate();
    redrawImage();
}

void LMImageViewModel::setViewPortMargin(int64_t margin)
{
    m_viewPortMargin = margin;
    setNeedsUpdateDrawContent();
    invalidateCursorRects();
}

void LMImageViewModel::redrawImage()
{
    if (!m_imageNormal)
        return;
    adjustDispImageByNewScale(scale(), true, m_angleRotate, std::nullopt, true);
    postNotification(LMOpenGLViewDidChangeCurFitinScaleNotification);
}

bool LMImageViewModel::needOptimizeDrawImage() const { return isZoomTimerRunning(); }

void LMImageViewModel::switchToScaleMode(int64_t mode)
{
    const int64_t previous = m_curScaleMode;
    m_curScaleMode = mode;
    if (!m_enable || m_inArrowKeyZoomSession || !m_imageNormal)
        return;
    double target = 0;
    int source = 0;
    switch (mode) {
    case ScaleModeFitin:
        if (m_fitinMode && previous != ScaleModeFitinEnlarge)
            return;
        target = calcFitinScale();
        source = ZoomSourceFitin;
        break;
    case ScaleModeActualSize:
        if (scale() == 1.0)
            return;
        target = 1.0;
        source = ZoomSourceActualSize;
        break;
    case ScaleModeFitinEnlarge:
        target = calcFitinScale();
        source = ZoomSourceFitinEnlarge;
        break;
    default:
        if (scale() == m_curMaxScale)
            return;
        target = m_curMaxScale;
        source = ZoomSourceMaximum;
        break;
    }
    endRotate();
    if (m_animationZoom) {
        if (isZoomTimerRunning() && zoomTimerUserInfo().value(QStringLiteral("zoomSource")).toInt() == source)
            return;
        startZoomTimerForType(source, target > scale(), target, std::nullopt, 0.0, false, m_curMaxScale);
    } else {
        abortZoom();
        setScale(target, std::nullopt, true);
    }
}

// ---- Matrices and mappings ----

LMMatrix LMImageViewModel::matrixFromOriginalImageToView(const LMImagePtr &image, double scale,
                                                         const LMImageRotateAngle &angle, QPointF offset,
                                                         const QRectF &fitinBounds, QSizeF viewPortSizeScale,
                                                         double pixelRatio)
{
    const LMFileImgBaseInfoPtr info = image ? image->originalImgBaseInfo() : nullptr;
    const QSizeF raw = info ? info->rawFrameSize() : QSizeF();
    const double r = pixelRatio > 0 ? pixelRatio : 1.0;
    LMMatrix m = translationMatrix(-raw.width() / 2, -raw.height() / 2);
    auto then = [&m](const LMMatrix &x) { m = LMMultiplyMatrices(x, m); };
    then(LMRotateDegreeMatrix(double(info ? info->orientationAngle() : 0)));
    if (info && info->isOrientationMirrored())
        then(LMRotateDegreeMatrixByAxisY(180)); // orientations 2, 4, 5 and 7 mirror after the turn
    then(LMRotateDegreeMatrixByAxisX(180)); // image rows run down, view y runs up
    then(scaleMatrix(scale / r, scale / r));
    then(LMRotateDegreeMatrix(-angle.angleRotate()));
    then(scaleMatrix(viewPortSizeScale.width(), viewPortSizeScale.height()));
    then(translationMatrix(offset.x(), offset.y()));
    then(LMRotateDegreeMatrixByAxisY(-angle.angleHorizontalFlip()));
    then(LMRotateDegreeMatrixByAxisX(-angle.angleVerticalFlip()));
    then(translationMatrix(fitinBounds.x() + fitinBounds.width() / 2, fitinBounds.y() + fitinBounds.height() / 2));
    return m;
}

LMMatrix LMImageViewModel::matrixFromViewToOriginalImage(const LMImagePtr &image, double scale,
                                                         const LMImageRotateAngle &angle, QPointF offset,
                                                         const QRectF &fitinBounds, QSizeF viewPortSizeScale,
                                                         double pixelRatio)
{
    return LMInverseMatrix(
        matrixFromOriginalImageToView(image, scale, angle, offset, fitinBounds, viewPortSizeScale, pixelRatio));
}

LMMatrix LMImageViewModel::matrixFromRawImageCropRectToVisualCropRect(const LMImagePtr &image,
                                                                      const LMImageRotateAngle &angle)
{
    const LMFileImgBaseInfoPtr info = image ? image->originalImgBaseInfo() : nullptr;
    const QSizeF raw = info ? info->rawFrameSize() : QSizeF();
    LMMatrix m = translationMatrix(-raw.width() / 2, -raw.height() / 2);
    auto then = [&m](const LMMatrix &x) { m = LMMultiplyMatrices(x, m); };
    then(LMRotateDegreeMatrix(double(info ? info->orientationAngle() : 0)));
    if (info && info->isOrientationMirrored())
        then(LMRotateDegreeMatrixByAxisY(180));
    then(LMRotateDegreeMatrixByAxisX(180));
    then(LMRotateDegreeMatrix(-angle.angleRotate()));
    then(LMRotateDegreeMatrixByAxisY(-angle.angleHorizontalFlip()));
    then(LMRotateDegreeMatrixByAxisX(-angle.angleVerticalFlip()));
    return m;
}

LMMatrix LMImageViewModel::currentMatrix() const
{
    return matrixFromOriginalImageToView(m_imageNormal, scale(), m_angleRotate, m_offset, getBoundsForFitin(),
                                         viewPortSizeScale(), pixelRatio());
}

std::optional<LMMatrix> LMImageViewModel::currentInverseMatrix() const { return invertible(currentMatrix()); }

QRectF LMImageViewModel::mapToOriginalRect(const QRectF &rect, bool alignBorder) const
{
    return mapToOriginalRect(rect, alignBorder, m_imageNormal);
}

QRectF LMImageViewModel::mapToOriginalRect(const QRectF &rect, bool alignBorder, const LMImagePtr &image) const
{
    const std::optional<LMMatrix> inv = invertible(matrixFromOriginalImageToView(
        image, scale(), m_angleRotate, m_offset, getBoundsForFitin(), viewPortSizeScale(), pixelRatio()));
    const QRectF raw = rawFrameRectOf(image);
    if (!inv) {
        // Edge-on, a sliver of the view can reach any row or column of the image.
        return alignBorder ? raw : QRectF();
    }
    QRectF r = integralRect(LMTransformRect(*inv, rect));
    if (alignBorder)
        r = intersection(r, raw);
    return r;
}

QRectF LMImageViewModel::mapToImageRect(const QRectF &rect) const { return mapToImageRect(rect, m_imageNormal); }

QRectF LMImageViewModel::mapToImageRect(const QRectF &rect, const LMImagePtr &image) const
{
    if (!image || image->width() == 0 || image->height() == 0)
        return QRectF();
    const QRectF raw = rawFrameRectOf(image);
    if (!(raw.width() > 0) || !(raw.height() > 0))
        return QRectF();
    const QRectF r = mapToOriginalRect(rect, true, image);
    const double sx = double(image->width()) / raw.width(), sy = double(image->height()) / raw.height();
    return QRectF(r.x() * sx, r.y() * sy, r.width() * sx, r.height() * sy);
}

QPointF LMImageViewModel::convertToOriginalImagePointForPoint(QPointF point) const
{
    const std::optional<LMMatrix> inv = currentInverseMatrix();
    if (!inv)
        return QPointF();
    const QPointF p = LMTransformPoint(*inv, point);
    return QPointF(std::floor(p.x()), std::floor(p.y()));
}

bool LMImageViewModel::isPointOnImage(QPointF point) const
{
    const std::optional<LMMatrix> inv = currentInverseMatrix();
    return inv && pointInRect(LMTransformPoint(*inv, point), rawFrameRectOf(m_imageNormal));
}

bool LMImageViewModel::canDragImage(QPointF point) const
{
    return isPointOnImage(point) && canDragImageWithoutCheckCursorPosition();
}

bool LMImageViewModel::canDragImageWithoutCheckCursorPosition() const
{
    return canDragImageAt(scale(), m_angleRotate, m_offset);
}

bool LMImageViewModel::canDragImageWhenSettled() const
{
    if (!m_imageNormal)
        return false;
    if (isZoomTimerRunning()) {
        const double s = zoomLandingScale();
        return canDragImageAt(s, m_angleRotate, zoomOffsetForScale(s));
    }
    return canDragImageWithoutCheckCursorPosition();
}

QPointF LMImageViewModel::zoomHoldViewPoint(const std::optional<QPointF> &holdPosition) const
{
    const QRectF f = getBoundsForFitin();
    return holdPosition && pointInRect(*holdPosition, f) ? *holdPosition : centreOf(f);
}

QPointF LMImageViewModel::zoomOffsetForScale(double scale) const
{
    const QPointF h = zoomHoldViewPoint(zoomHoldPosition());
    if (!isZoomTimerRunning())
        return calcNewOffsetByNewScale(scale, m_angleRotate, h);
    return offsetHoldingImagePoint(scale, m_angleRotate, m_zoomImagePoint, h);
}

void LMImageViewModel::applyZoomScale(double scale, bool checkUpdateFitinMode)
{
    if (!m_imageNormal || !std::isfinite(scale))
        return;
    const double s = std::min(std::max(minScaleByNewAngle(m_angleRotate), scale), m_curMaxScale);
    setNewScale(s, checkUpdateFitinMode, m_angleRotate, zoomOffsetForScale(s), false, true);
}

bool LMImageViewModel::canDragImageAt(double scale, const LMImageRotateAngle &angle, QPointF offset) const
{
    if (!m_imageNormal)
        return false;
    const QRectF f = getBoundsForFitin();
    const QRectF raw = rawFrameRectOf(m_imageNormal);
    const std::optional<LMMatrix> inv = invertible(
        matrixFromOriginalImageToView(m_imageNormal, scale, angle, offset, f, viewPortSizeScale(), pixelRatio()));
    // Edge-on, a sliver of the bounds can reach any row or column of the image.
    const QRectF m = inv ? intersection(integralRect(LMTransformRect(*inv, f)), raw) : raw;
    return raw.width() > m.width() || raw.height() > m.height();
}

QRectF LMImageViewModel::imageVisibleViewRect() const
{
    return imageVisibleViewRectByOriginalImageRect(rawFrameRectOf(m_imageNormal));
}

QRectF LMImageViewModel::imageVisibleViewRectByOriginalImageRect(const QRectF &rect) const
{
    return LMTransformRect(currentMatrix(), rect);
}

QRectF LMImageViewModel::calcFitinVisibleViewRectForImageWithoutModified(const LMImagePtr &image) const
{
    const double s = calcFitinScaleForImage(image ? image->originalImgBaseInfo() : nullptr, LMImageRotateAngle());
    return calcVisibleViewRectForImageWithoutModified(image, s);
}

QRectF LMImageViewModel::calcVisibleViewRectForImageWithoutModified(const LMImagePtr &image, double scale) const
{
    const LMMatrix m = matrixFromOriginalImageToView(image, scale, LMImageRotateAngle(), QPointF(), getBoundsForFitin(),
                                                     viewPortSizeScale(), pixelRatio());
    return LMTransformRect(m, rawFrameRectOf(image));
}

QRectF LMImageViewModel::adjustImageViewRectInFitinBounds(QRectF rect) const
{
    const QRectF f = getBoundsForFitin();
    const QRectF v = m_viewBounds;
    const QMarginsF covered = m_coveredEdges ? m_coveredEdges() : QMarginsF();
    // One axis at a time: centre what fits, otherwise close any gap at an edge, where the part
    // of the view under what stays over it (`low` and `high` from the view's ends) counts as gap.
    auto adjust = [](double pos, double len, double fPos, double fLen, double vPos, double vLen, double low,
                     double high) {
        if (len <= fLen)
            return fPos + fLen / 2 - len / 2;
        const double greatest = std::max(fPos, vPos + low);
        const double least = std::min(fPos + fLen, vPos + vLen - high) - len;
        // len > fLen: the least never passes the greatest while the covered parts leave any view.
        return least <= greatest ? std::clamp(pos, least, greatest) : fPos + fLen / 2 - len / 2;
    };
    rect.moveLeft(adjust(rect.x(), rect.width(), f.x(), f.width(), v.x(), v.width(), covered.left(), covered.right()));
    // The view's y grows upwards: its bottom edge is the low end.
    rect.moveTop(adjust(rect.y(), rect.height(), f.y(), f.height(), v.y(), v.height(), covered.bottom(), covered.top()));
    return rect;
}

QPointF LMImageViewModel::calcOffsetFromImageViewRect(const QRectF &from, const QRectF &to, double scale,
                                                      double pixelRatio) const
{
    const QRectF b = adjustImageViewRectInFitinBounds(to);
    QPointF d = centreOf(b) - centreOf(from);
    // The offset is applied before the flips, so a move on screen is un-flipped first. Mid-flip the
    // axis may be edge-on; then the move is taken as it is.
    const LMMatrix flip = LMMultiplyMatrices(LMRotateDegreeMatrixByAxisY(-m_angleRotate.angleHorizontalFlip()),
                                             LMRotateDegreeMatrixByAxisX(-m_angleRotate.angleVerticalFlip()));
    if (const std::optional<LMMatrix> inv = invertible(flip))
        d = LMTransformPoint(*inv, d);
    return adjustOffset(m_offset + d, scale, pixelRatio);
}

QPointF LMImageViewModel::calcNewOffsetByNewScale(double scale, const LMImageRotateAngle &angle, QPointF holdPosition) const
{
    return offsetHoldingImagePoint(scale, angle, imagePointHeldAt(holdPosition), holdPosition);
}

QPointF LMImageViewModel::imagePointHeldAt(QPointF holdPosition) const
{
    const QRectF r0 = rawFrameRectOf(m_imageNormal);
    const std::optional<LMMatrix> inv = currentInverseMatrix();
    QPointF p = inv ? LMTransformPoint(*inv, holdPosition) : centreOf(r0);
    if (!pointInRect(p, r0))
        p = inv ? LMTransformPoint(*inv, centreOf(getBoundsForFitin())) : centreOf(r0);
    return p;
}

QPointF LMImageViewModel::offsetHoldingImagePoint(double scale, const LMImageRotateAngle &angle, QPointF imagePoint,
                                                  QPointF holdPosition) const
{
    const QRectF r0 = rawFrameRectOf(m_imageNormal);
    const LMMatrix n = matrixFromOriginalImageToView(m_imageNormal, scale, angle, QPointF(), getBoundsForFitin(),
                                                     viewPortSizeScale(), pixelRatio());
    const QPointF q = LMTransformPoint(n, imagePoint);
    const LMMatrix t = LMMultiplyMatrices(translationMatrix(holdPosition.x() - q.x(), holdPosition.y() - q.y()), n);
    return calcOffsetFromImageViewRect(imageVisibleViewRect(), LMTransformRect(t, r0), scale, pixelRatio());
}

QPointF LMImageViewModel::adjustOffset(QPointF offset, double scale, double pixelRatio)
{
    if (scale != 1.0)
        return offset;
    // Rounding noise of the matrix chain (a whole offset computed as 29.999999999) must not move
    // the image by a whole pixel, so values within a hair of a step count as on it.
    constexpr double kNoise = 1e-6;
    const double r = pixelRatio > 0 ? pixelRatio : 1.0;
    return QPointF(std::floor(offset.x() * r + kNoise) / r, std::floor(offset.y() * r + kNoise) / r);
}

QRectF LMImageViewModel::rawImageCropRectToVisualCropRect(const QRectF &rect) const
{
    const LMMatrix m = matrixFromRawImageCropRectToVisualCropRect(m_imageNormal, m_angleRotate);
    const QRectF g = LMTransformRect(m, rawFrameRectOf(m_imageNormal));
    return LMTransformRect(m, rect).translated(-g.x(), -g.y());
}

QPointF LMImageViewModel::rawImagePointToVisualPoint(QPointF point) const
{
    const LMMatrix m = matrixFromRawImageCropRectToVisualCropRect(m_imageNormal, m_angleRotate);
    const QRectF g = LMTransformRect(m, rawFrameRectOf(m_imageNormal));
    return LMTransformPoint(m, point) - g.topLeft();
}

QRectF LMImageViewModel::rawImageCropRectFromVisualCropRect(const QRectF &rect) const
{
    const LMMatrix m = matrixFromRawImageCropRectToVisualCropRect(m_imageNormal, m_angleRotate);
    const std::optional<LMMatrix> n = invertible(m);
    if (!n)
        return QRectF();
    const QRectF g = LMTransformRect(m, rawFrameRectOf(m_imageNormal));
    const QRectF h = LMTransformRect(*n, QRectF(0, 0, g.width(), g.height()));
    return LMTransformRect(*n, rect).translated(-h.x(), -h.y());
}
