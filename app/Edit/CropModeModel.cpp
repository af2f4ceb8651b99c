#include "Edit/CropModeModel.h"

#include "Model/LMImage.h"
#include "View/LMImageViewModel.h"
#include "View/LMMatrix.h"

#include "appkit/Event.h"

#include <cmath>

namespace {

// Crop rectangles are whole pixels; quarter-turn matrices leave float noise behind.
QRectF wholeRect(const QRectF &r)
{
    return QRectF(std::round(r.x()), std::round(r.y()), std::round(r.width()), std::round(r.height()));
}

} // namespace

void CropModeModel::enterWithFile(const LMPathString &path, const LMFileImgBaseInfoPtr &info,
                                  const LMImageRotateAngle &viewAngle, const QSizeF &displaySizePoints)
{
    m_info = info;
    m_viewAngle = viewAngle;
    // Every entry starts with the free preset.
    m_presets.rebuild(displaySizePoints, visualFrame().size());
    const bool keep = m_fileInfoLastCrop && m_fileInfoLastCrop->filePath() == path && !m_fileInfoLastCrop->fileModified();
    if (!keep) {
        m_rawCropRect = CropGeometry::initialRawCropRect(rawFrameRectOfCurFile());
        m_fileInfoLastCrop = std::make_shared<LMFileInfo>(path);
        m_fileInfoLastCrop->setImgBaseInfo(info);
    }
}

bool CropModeModel::setOriginalImageRawCropRect(const QRectF &rect)
{
    if (rect == m_rawCropRect)
        return false;
    m_rawCropRect = rect;
    return true;
}

// Raw pixels to visual ones: the file's orientation (its turn, then the mirror of orientations 2,
// 4, 5 and 7), the flip from the raw frame's downward y to the visual upward one, then the view's
// turn and flips; the image view draws by the same matrix.
LMMatrix CropModeModel::rawToVisualMatrix() const
{
    auto image = std::make_shared<LMImage>();
    image->setOriginalImgBaseInfo(m_info);
    return LMImageViewModel::matrixFromRawImageCropRectToVisualCropRect(image, m_viewAngle);
}

QRectF CropModeModel::rawToVisual(const QRectF &raw) const
{
    if (!m_info)
        return raw;
    const LMMatrix m = rawToVisualMatrix();
    const QRectF g = LMTransformRect(m, m_info->rawFrameRect());
    return wholeRect(LMTransformRect(m, raw).translated(-g.x(), -g.y()));
}

QRectF CropModeModel::visualToRaw(const QRectF &visual) const
{
    if (!m_info)
        return visual;
    const LMMatrix m = rawToVisualMatrix();
    const LMMatrix n = LMInverseMatrix(m);
    const QRectF g = LMTransformRect(m, m_info->rawFrameRect());
    const QRectF h = LMTransformRect(n, QRectF(0, 0, g.width(), g.height()));
    return wholeRect(LMTransformRect(n, visual).translated(-h.x(), -h.y()));
}

QRectF CropModeModel::visualFrame() const
{
    const QRectF v = rawToVisual(rawFrameRectOfCurFile());
    return QRectF(0, 0, v.width(), v.height());
}

bool CropModeModel::choosePreset(size_t index, double backingScale)
{
    bool indexChanged = false;
    if (!m_presets.choosePreset(index, &indexChanged))
        return false;
    const CropAspectPresets::Preset preset = m_presets.curCustomSizeInfo();
    const QRectF R = rawFrameRectOfCurFile();
    QRectF next = m_rawCropRect;
    switch (preset.type) {
    case CropAspectPresets::Image:
        next = R;
        break;
    case CropAspectPresets::Fixed:
        next = CropGeometry::fixedRatioRawCropRect(m_rawCropRect, R, preset.aspectRatio);
        break;
    case CropAspectPresets::Display: {
        const double scale = backingScale > 0 ? backingScale : 1.0;
        const QSizeF pixels(preset.aspectRatio.width() * scale, preset.aspectRatio.height() * scale);
        const QRectF current = rawToVisual(m_rawCropRect);
        const QRectF visual =
            CropGeometry::displayRatioVisualRect(pixels, visualFrame().size(), current.center());
        next = visualToRaw(visual);
        break;
    }
    default:
        return false;
    }
    return setOriginalImageRawCropRect(next);
}

bool CropModeModel::selectAll()
{
    const size_t image = m_presets.customSizeIdxByType(CropAspectPresets::Image);
    m_presets.setCurCustomSizeIdx(image == CropAspectPresets::NotFound ? 0 : image);
    return setOriginalImageRawCropRect(rawFrameRectOfCurFile());
}

bool CropModeModel::doRotate()
{
    return setOriginalImageRawCropRect(
        CropGeometry::rotatedRawCropRect(m_rawCropRect, rawFrameRectOfCurFile(), aspect()));
}

bool CropModeModel::moveOrResizeByKeyboard(QPointF delta, bool move)
{
    const auto visual =
        CropGeometry::moveOrResizeVisualActualTrackRect(rawToVisual(m_rawCropRect), visualFrame(), delta, move, aspect());
    if (!visual)
        return false;
    return setOriginalImageRawCropRect(visualToRaw(*visual));
}

bool CropModeModel::scrollWheelUsed(double deltaX, double deltaY, bool directionInverted, bool hasMomentumPhase,
                                    bool *changed)
{
    if (changed)
        *changed = false;
    if (hasMomentumPhase)
        return false;
    const QPointF d = CropGeometry::scrollWheelMoveDelta(deltaX, deltaY, directionInverted);
    if (!d.isNull()) {
        const bool c = moveOrResizeByKeyboard(d, true);
        if (changed)
            *changed = c;
    }
    return true;
}

bool CropModeModel::magnify(double magnification)
{
    const QRectF visual =
        CropGeometry::magnifyRect(rawToVisual(m_rawCropRect), visualFrame(), magnification, aspect());
    return setOriginalImageRawCropRect(visualToRaw(visual));
}

CropModeModel::KeyDecision CropModeModel::keyDownDecision(const QString &chars, quint64 flags, bool resultPage)
{
    KeyDecision d;
    if (chars.size() != 1 || (flags & (kpv::ShiftKeyMask | kpv::ControlKeyMask | kpv::AlternateKeyMask)))
        return d;
    const char16_t c = chars.front().unicode();
    const bool command = flags & kpv::CommandKeyMask;
    if (resultPage) {
        if (command && (c == 0xF700 || c == 0xF701)) {
            d.consumed = true;
            d.zoom = true;
            d.zoomIn = c == 0xF700;
        }
        return d;
    }
    if (!(flags & kpv::NumericPadKeyMask))
        return d;
    d.consumed = true;
    d.move = !command;
    switch (c) {
    case 0xF700: d.delta = QPointF(0, 1); break;
    case 0xF701: d.delta = QPointF(0, -1); break;
    case 0xF702: d.delta = QPointF(-1, 0); break;
    case 0xF703: d.delta = QPointF(1, 0); break;
    default: break;
    }
    return d;
}

bool CropModeModel::canDoAction(int action, const QRectF &rect, bool resultPage, const PreviewState &p)
{
    switch (action) {
    case SaveAs:
    case Copy:
    case Crop:
    case ILoveIt:
        return rect.width() != 0 && rect.height() != 0;
    case SelectAll:
    case RotateLeft:
    case RotateRight:
        return !resultPage;
    case ActualSize:
        return resultPage && p.scale != 1.0;
    case ZoomToFit:
        return resultPage && !p.fitinMode;
    case ZoomIn:
        return resultPage && p.canZoomIn;
    case ZoomOut:
        return resultPage && p.canZoomOut;
    default:
        return false;
    }
}
