// Crop mode's controls: the toolbar that follows the crop rectangle, the preset button with its
// pop-up, the result page's toolbar, and the zoom of the result page's preview.

#include "Edit/CropViewController.h"

#include "Edit/CropGeometry.h"
#include "Edit/CropPreviewView.h"
#include "Kit/LMAreaTrackView.h"
#include "Kit/LMButton.h"
#include "Kit/LMImageView.h"
#include "Kit/LMNineSliceImageRep.h"
#include "Kit/LMNormalCustomButton.h"
#include "Kit/LMPopMenuView.h"
#include "Kit/LMPopMenuViewController.h"
#include "Model/LMBlockRepeatTimer.h"
#include "Model/LMBlockTimer.h"
#include "Model/LMImageTools.h"
#include "Model/MainConfig.h"
#include "appkit/Color.h"
#include "appkit/Control.h"
#include "appkit/GraphicsContext.h"
#include "appkit/Image.h"
#include "appkit/View.h"
#include "appkit/Window.h"
#include "foundation/Bundle.h"
#include "foundation/RunLoop.h"

#include <algorithm>
#include <cmath>

using kpv::Rect;

namespace {

QString text(const char *key) { return kpv::Bundle::mainBundle().localizedString(QString::fromLatin1(key)); }

constexpr double kButtonSide = 28;
constexpr double kButtonGap = 4;
constexpr double kToolbarPadding = 4;
constexpr double kToolbarMargin = 4;
constexpr double kPresetButtonMinWidth = 170;
constexpr double kPresetTitlePadding = 14;
// How long an arrow-key zoom session waits for the key's next repeat.
constexpr double kArrowKeyZoomHold = 0.1;
// The drop shadow behind the preview: where its picture is cut (left, top / right, bottom) and
// how far it reaches outside the crop.
const QPointF kShadowSliceLeftTop(9, 12);
const QPointF kShadowSliceRightBottom(12, 21);
const QPointF kShadowDrawOffsetLeftTop(7, 6);
const QPointF kShadowDrawOffsetRightBottom(12, 13);

// A toolbar of image buttons side by side, with a dark translucent background.
class CropToolbarView final : public kpv::View {
public:
    explicit CropToolbarView(int buttons)
        : kpv::View(Rect(0, 0, buttons * kButtonSide + (buttons - 1) * kButtonGap + 2 * kToolbarPadding,
                         kButtonSide + 2 * kToolbarPadding))
    {
    }
    void drawRect(const Rect &) override
    {
        if (kpv::GraphicsContext *gc = kpv::GraphicsContext::current())
            gc->fillRoundedRect(bounds(), 6, kpv::Color(0, 0, 0, 0.6));
    }
};

// A short text on a dark rounded plate.
class CropTipView final : public kpv::TextField {
public:
    CropTipView() : kpv::TextField(Rect(0, 0, 110, 22))
    {
        setTextColor(kpv::Color::whiteColor());
        setAlignment(Qt::AlignCenter);
    }
    void drawRect(const Rect &dirty) override
    {
        if (kpv::GraphicsContext *gc = kpv::GraphicsContext::current())
            gc->fillRoundedRect(bounds(), 5, kpv::Color(0, 0, 0, 0.65));
        kpv::TextField::drawRect(dirty);
    }
};

} // namespace

void CropViewController::loadControls()
{
    std::weak_ptr<bool> alive = m_alive;
    auto button = [&](kpv::View *bar, int index, const char *image, const char *tip, void (CropViewController::*run)()) {
        auto *b = new LMButton(Rect(kToolbarPadding + index * (kButtonSide + kButtonGap), kToolbarPadding, kButtonSide,
                                    kButtonSide));
        b->setImageName(QString::fromLatin1(image));
        b->setToolTip(text(tip));
        b->setAction([this, alive, run](kpv::View *) {
            if (!alive.expired())
                (this->*run)();
        });
        bar->addSubview(b);
        return b;
    };

    // Crop page: the rectangle's frame with its corner handles reaches 5 points outside it; thirds
    // guide lines inside it.
    m_trackView->setTrackImage(std::make_shared<LMNineSliceImageRep>(QStringLiteral("bg_crop"), kpv::Point{21, 21},
                                                                     kpv::Point{21, 21}),
                               kpv::Point{5, 5}, kpv::Point{5, 5});
    m_trackView->setReferenceHoriLineImage(kpv::Image::imageNamed(QStringLiteral("crop_lineh")),
                                           kpv::Image::imageNamed(QStringLiteral("crop_linev")), {3, 9});
    // Crop page: the toolbar at the rectangle, the preset button and the read-out.
    m_trackToolbar = new CropToolbarView(3);
    m_btnRotate = button(m_trackToolbar, 0, "icon_cprotate", "IDS_Rotate", &CropViewController::doRotate);
    m_btnCrop = button(m_trackToolbar, 1, "icon_cpcrop", "IDS_Crop", &CropViewController::doCrop);
    m_btnClose1 = button(m_trackToolbar, 2, "icon_cpclose", "IDS_Close", &CropViewController::backToViewMode);
    m_cropPage->addSubview(m_trackToolbar);

    m_btnCustomSize = new LMNormalCustomButton(Rect(12, 0, 170, 26));
    m_btnCustomSize->setCareState(true);
    m_btnCustomSize->setButtonDelegate(this);
    m_btnCustomSize->setTitleColor(kpv::Color::whiteColor());
    m_btnCustomSize->setAction([this, alive](kpv::View *) {
        if (!alive.expired())
            customSizeButtonClicked();
    });
    m_cropPage->addSubview(m_btnCustomSize);
    m_txtCropRectInfo = new kpv::TextField(Rect(190, 0, 320, 22));
    m_txtCropRectInfo->setTextColor(kpv::Color::whiteColor());
    m_cropPage->addSubview(m_txtCropRectInfo);
    m_cropRectTextView = new CropTipView;
    m_cropRectTextView->setHidden(true);
    m_cropPage->addSubview(m_cropRectTextView);

    // Result page: its toolbar centred at the bottom.
    m_croppedToolbar = new CropToolbarView(5);
    m_btnBackToCrop = button(m_croppedToolbar, 0, "e_ccrop", "IDS_Recrop", &CropViewController::doCrop);
    m_btnFavorite = button(m_croppedToolbar, 1, "e_clove", "IDS_ILoveit", &CropViewController::doFavorite);
    m_btnCopy = button(m_croppedToolbar, 2, "e_ccopy", "IDS_Copy", &CropViewController::doCopy);
    m_btnSave = button(m_croppedToolbar, 3, "e_save", "IDS_SAVEAS", &CropViewController::doSaveAs);
    m_btnClose2 = button(m_croppedToolbar, 4, "e_cclose", "IDS_Close", &CropViewController::backToViewMode);
    m_resultPage->addSubview(m_croppedToolbar);
    // The preview's picture fits above the toolbar and stands on a drop shadow.
    m_previewView->setFitinLeftMargin(0, 0, 0, m_croppedToolbar->frame().height() + 2 * kToolbarMargin);
    m_previewView->setShadowImage(kpv::Image::imageNamed(QStringLiteral("bg_picshadow")), kShadowSliceLeftTop,
                                  kShadowSliceRightBottom, kShadowDrawOffsetLeftTop, kShadowDrawOffsetRightBottom);
    // Over both pages: the preview's zoom, and what a running save is doing.
    m_viewCropInfoPrompt = new CropTipView;
    m_viewCropInfoPrompt->setFrameSize(kpv::Size{140, 24});
    m_viewCropInfoPrompt->setHidden(true);
    m_view->addSubview(m_viewCropInfoPrompt);
}

void CropViewController::showInfoPrompt(const QString &text, bool autoHide)
{
    if (!m_viewCropInfoPrompt)
        return;
    m_viewCropInfoPrompt->setStringValue(text);
    // Keep it above the pages added after it.
    m_viewCropInfoPrompt->removeFromSuperview();
    m_view->addSubview(m_viewCropInfoPrompt);
    const Rect bounds = m_view->bounds();
    const Rect tip = m_viewCropInfoPrompt->frame();
    m_viewCropInfoPrompt->setFrameOrigin(
        kpv::Point{std::round((bounds.width() - tip.width()) / 2), std::round((bounds.height() - tip.height()) / 2)});
    m_viewCropInfoPrompt->setHidden(text.isEmpty());
    if (!m_infoPromptTimer)
        m_infoPromptTimer = std::make_unique<LMBlockTimer>();
    m_infoPromptTimer->stop();
    if (!autoHide || text.isEmpty())
        return;
    std::weak_ptr<bool> alive = m_alive;
    m_infoPromptTimer->start(1.0, [this, alive] {
        if (!alive.expired() && m_viewCropInfoPrompt)
            m_viewCropInfoPrompt->setHidden(true);
    });
}

void CropViewController::beginAddFileToFavoriteWithAnimation(const LMPathString &path, const LMImagePtr &thumb,
                                                             const LMImagePtr &picture)
{
    kpv::View *parent = m_host.popupParentView();
    if (!parent || !picture) {
        m_host.addFavoriteFile(path, thumb);
        return;
    }
    // From the rectangle on the crop page, or the preview on the result page.
    const QRectF onPage = m_previewView->imageVisibleViewRect();
    const Rect source = m_isCurCroppedImagePage
                            ? m_previewView->convertRectToView(
                                  kpv::intersectionRect(Rect(onPage.x(), onPage.y(), onPage.width(), onPage.height()),
                                                        m_previewView->bounds()),
                                  nullptr)
                                                : m_trackView->convertRectToView(m_trackView->cropTrackRect(), nullptr);
    const Rect S = kpv::intersectionRect(parent->convertRectFromView(source, nullptr), parent->bounds());
    const Rect box = m_host.favoriteBoxFrameInWindow();
    const Rect T = box.isEmpty() ? Rect() : parent->convertRectFromView(box, nullptr);
    // The end keeps the start's proportions and covers the box.
    kpv::Size endSize{0, 0};
    if (!S.isEmpty() && !T.isEmpty()) {
        if (S.width() / T.width() > S.height() / T.height())
            endSize = kpv::Size{T.height() * S.width() / S.height(), T.height()};
        else
            endSize = kpv::Size{T.width(), T.width() * S.height() / S.width()};
    }
    const QPointF endCentre(T.midX(), T.midY());
    const QPointF startCentre(S.midX(), S.midY());

    // A small picture is enough for 60 frames a second.
    QImage shown = picture->convertToImage();
    const QSizeF fitted = LMImageTools::calcScalingSize(QSizeF(shown.size()), QSizeF(400, 400), 0);
    if (shown.width() > 1.25 * fitted.width())
        shown = shown.scaled(fitted.toSize(), Qt::KeepAspectRatio, Qt::SmoothTransformation);
    if (!m_favorFileAnimationView)
        m_favorFileAnimationView = std::make_unique<LMImageView>();
    m_favorFileAnimationView->setImageScaling(1);
    m_favorFileAnimationView->setImage(std::make_shared<kpv::Image>(shown), 0);
    m_favorFileAnimationView->setFrame(S);
    m_favorFileAnimationView->removeFromSuperview();
    parent->addSubview(m_favorFileAnimationView.get());

    if (!m_favorFileAnimationTimer)
        m_favorFileAnimationTimer = std::make_unique<LMBlockRepeatTimer>();
    m_favorFileAnimationTimer->stop();
    const double start = kpv::RunLoop::main().now();
    const kpv::Size startSize = S.size;
    std::weak_ptr<bool> alive = m_alive;
    m_favorFileAnimationTimer->start(
        1.0 / 60.0, {},
        [this, alive, start, startSize, endSize, startCentre, endCentre](bool *stop) {
            const auto live = alive.lock();
            if (!live || !*live)
                return;
            const double t = std::min(kpv::RunLoop::main().now() - start, 0.3);
            const double p = std::sin(t / 0.3 * M_PI / 2);
            const double w = startSize.width + (endSize.width - startSize.width) * p;
            const double h = startSize.height + (endSize.height - startSize.height) * p;
            const QPointF c = startCentre + (endCentre - startCentre) * p;
            m_favorFileAnimationView->setFrame(Rect(c.x() - w / 2, c.y() - h / 2, w, h));
            if (t >= 0.3)
                *stop = true;
        },
        [this, alive, path, thumb](bool) {
            const auto live = alive.lock();
            if (!live || !*live)
                return;
            m_favorFileAnimationView->removeFromSuperview();
            m_favorFileAnimationView->setImage(nullptr, 0);
            m_host.addFavoriteFile(path, thumb);
        });
}

// "NNN%" over the preview for a moment after its zoom changed.
void CropViewController::showZoomPrompt() { showInfoPrompt(QStringLiteral("%1%").arg(qint64(previewScale() * 100)), true); }

// Under the rectangle with a 2-point gap; above it when there is no room below and the rectangle
// is low, else inside along its lower edge; right-aligned 2 points inside its right edge, never
// left of the page. Hidden while a drag runs.
void CropViewController::updateTrackToolbarViewByTrackRect(const Rect &r, bool dragging)
{
    if (!m_trackToolbar)
        return;
    if (dragging || r.isEmpty()) {
        m_trackToolbar->setHidden(true);
        return;
    }
    const Rect B = m_cropPage->bounds();
    const Rect T = m_trackToolbar->bounds();
    double y = r.y() - (T.height() + 2);
    if (y < B.y())
        y = r.height() <= T.height() + 2 ? r.y() + r.height() + 2 : r.y() + 2;
    const double x = std::max(B.x(), r.x() + r.width() - T.width() - 2);
    m_trackToolbar->setFrameOrigin(kpv::Point{std::round(x), std::round(y)});
    m_trackToolbar->setHidden(false);
}

void CropViewController::showCropSizeTip(const Rect &r)
{
    if (!m_cropRectTextView)
        return;
    if (r.isEmpty()) {
        m_cropRectTextView->setHidden(true);
        return;
    }
    m_cropRectTextView->setStringValue(m_cropSizeTipText);
    const Rect page = m_cropPage->bounds();
    const Rect tip = m_cropRectTextView->frame();
    double x = 0, y = 0;
    const kpv::Window *window = m_cropPage->window();
    const kpv::Point mouse = window ? window->mouseLocationOutsideOfEventStream() : kpv::Point{-1e9, -1e9};
    if (mouse.x > -1e8) {
        // Beside the pointer, centred on it, kept on the page.
        const kpv::Point p = m_cropPage->convertPointFromView(mouse, nullptr);
        const Rect tipBounds = m_cropRectTextView->bounds();
        const QPointF o = CropGeometry::sizeTipOrigin(QPointF(p.x, p.y),
                                                      QRectF(tipBounds.x(), tipBounds.y(), tipBounds.width(), tipBounds.height()),
                                                      QRectF(page.x(), page.y(), page.width(), page.height()));
        x = o.x();
        y = o.y();
    } else {
        // Without a pointer: just inside the rectangle's top-left corner, kept on the page.
        x = std::clamp(r.x() + 4, 0.0, std::max(0.0, page.width() - tip.width()));
        y = std::clamp(r.y() + r.height() - tip.height() - 4, 0.0, std::max(0.0, page.height() - tip.height()));
    }
    m_cropRectTextView->setFrameOrigin(kpv::Point{std::round(x), std::round(y)});
    m_cropRectTextView->setHidden(false);
}

void CropViewController::areaTrackView_beginDrag(LMAreaTrackView *, const Rect &trackRect, LMTrackPosition,
                                                 Rect *actualTrackRectBeforeDrag)
{
    // The drag starts from the stored crop; a new rectangle being drawn starts from the press.
    m_dragActualRect.reset();
    if (actualTrackRectBeforeDrag) {
        const QRectF visual = m_model.rawToVisual(m_model.originalImageRawCropRect());
        *actualTrackRectBeforeDrag = Rect(visual.x(), visual.y(), visual.width(), visual.height());
    }
    updateTrackToolbarViewByTrackRect(trackRect, true);
}

// ---- Presets ----

void CropViewController::updateCustomSizeInfo()
{
    if (!m_btnCustomSize)
        return;
    m_btnCustomSize->setTitle(customSizeButtonTitle());
    // Wide enough for the longest preset title (the display and image sizes vary), so no title is
    // cut and the button does not jump between choices; the read-out follows it.
    double widest = 0;
    const kpv::Font font = m_btnCustomSize->textButtonTitle()->font();
    for (const auto &preset : m_model.presets().arrayCustomSizes())
        widest = std::max(widest, kpv::GraphicsContext::sizeOfText(CropAspectPresets::customSizeTitleString(preset), font).width);
    m_btnCustomSize->setFrameSize(kpv::Size{std::max(kPresetButtonMinWidth, std::ceil(widest) + 2 * kPresetTitlePadding),
                                            m_btnCustomSize->frame().height()});
    if (m_txtCropRectInfo) {
        const Rect b = m_btnCustomSize->frame();
        m_txtCropRectInfo->setFrameOrigin(kpv::Point{b.x() + b.width() + 10, m_txtCropRectInfo->frame().y()});
    }
}

void CropViewController::customSizeButtonClicked() { showHideCustomPopView(true, false); }

void CropViewController::makeCustomSizePopMenu()
{
    if (!m_customSizePopMenu) {
        m_customSizePopMenu = std::make_unique<LMPopMenuViewController>(this, m_host.popupParentView());
        if (LMPopMenuView *menu = m_customSizePopMenu->popMenuView()) {
            menu->setDataSource(this);
            menu->setItemTitleNormalColor(kpv::Color::whiteColor(), kpv::Color::blackColor());
            menu->setItemBkgrdRollColor(kpv::Color(0.19607843137254902, 0.19607843137254902, 0.19607843137254902, 1));
            menu->setItemContainerMarginLeftTop(kpv::Point{5, 8}, kpv::Point{5, 8});
            menu->setMinWidth(m_btnCustomSize->frame().width());
            menu->setPopViewAlignLeftFlag(true);
            // A plain panel: the list hangs under the button, with no arrow pointing at it.
            menu->setBackgroundImage(LMNineSliceImageRep::loadImageWithoutExtension(QStringLiteral("bg_popwin")),
                                     {10, 30}, {10, 30});
        }
    }
}

void CropViewController::showHideCustomPopView(bool show, bool delay)
{
    if (!show) {
        if (m_customSizePopMenu)
            m_customSizePopMenu->hide(delay);
        return;
    }
    if (!m_active || !m_btnCustomSize)
        return;
    makeCustomSizePopMenu();
    LMPopMenuView *menu = m_customSizePopMenu->popMenuView();
    if (!menu)
        return;
    // The button sits at the top of the page, so the list hangs under it, left edges aligned; it
    // is laid out first so that its height is known.
    if (!menu->isShown()) {
        menu->setMinWidth(m_btnCustomSize->frame().width());
        menu->reloadData();
        menu->updateItems();
    }
    const Rect r = m_btnCustomSize->convertRectToView(m_btnCustomSize->bounds(), nullptr);
    m_customSizePopMenu->showAtLocationInWindow(kpv::Point{r.x(), std::max(0.0, r.y() - menu->frame().height() - 2)},
                                                delay);
}

void CropViewController::simButtonBaseMouseEntered(LMSimButtonBase *button)
{
    if (button == m_btnCustomSize)
        showHideCustomPopView(true, true);
}

void CropViewController::simButtonBaseMouseExited(LMSimButtonBase *button)
{
    if (button == m_btnCustomSize)
        showHideCustomPopView(false, true);
}

void CropViewController::hideCustomSizePopMenu()
{
    // Also drops a show that waits for its delay, so nothing opens after the mode is left.
    if (m_customSizePopMenu)
        m_customSizePopMenu->hide(false);
}

unsigned long CropViewController::numberOfItemsInPopMenuView(LMPopMenuView *, const QVariant &)
{
    return static_cast<unsigned long>(m_model.presets().arrayCustomSizes().size());
}

QVariant CropViewController::popMenuView_itemAtIndex(LMPopMenuView *, const QVariant &, unsigned long index)
{
    return QVariant::fromValue(qulonglong(index));
}

QString CropViewController::popMenuView_itemTitleForRepresentedObject(LMPopMenuView *, const QVariant &object)
{
    const auto &presets = m_model.presets().arrayCustomSizes();
    const size_t index = size_t(object.toULongLong());
    return index < presets.size() ? CropAspectPresets::customSizeTitleString(presets[index]) : QString();
}

QString CropViewController::popMenuView_iconImageNameForRepresentedObject(LMPopMenuView *, const QVariant &, bool checkIcon)
{
    return checkIcon ? QStringLiteral("icon_menuchkw") : QString();
}

bool CropViewController::popMenuViewItemChecked(LMPopMenuView *, const QVariant &object, const QVariant &)
{
    return size_t(object.toULongLong()) == m_model.presets().curCustomSizeIdx();
}

void CropViewController::popMenuViewItemClicked(LMPopMenuView *, const QVariant &object, const QVariant &)
{
    hideCustomSizePopMenu();
    chooseCustomSize(size_t(object.toULongLong()));
}

void CropViewController::popMenuView_viewShowed(LMPopMenuView *, bool shown)
{
    m_customSizeMenuViewPopup = shown;
    if (m_btnCustomSize)
        m_btnCustomSize->setState(shown ? kpv::OnState : kpv::OffState);
}

// ---- Preview zoom ----

void CropViewController::layoutPreview()
{
    const Rect page = m_resultPage->bounds();
    if (m_croppedToolbar)
        m_croppedToolbar->setFrameOrigin(
            kpv::Point{std::round((page.width() - m_croppedToolbar->frame().width()) / 2), kToolbarMargin});
    // The preview fills the page; its picture fits above the toolbar.
    m_previewView->setFrame(page);
}

double CropViewController::previewScale() const { return m_previewView->scale(); }

bool CropViewController::previewFitinMode() const { return m_previewView->fitinMode(); }

CropModeModel::PreviewState CropViewController::previewState() const
{
    CropModeModel::PreviewState state;
    state.scale = m_previewView->scale();
    state.fitinMode = m_previewView->fitinMode();
    state.canZoomIn = m_previewView->canZoom(true);
    state.canZoomOut = m_previewView->canZoom(false);
    return state;
}

void CropViewController::updateCroppedOpenGLViewSettingsByCurConfig()
{
    MainConfig *config = m_host.mainConfig();
    if (!config)
        return;
    int64_t action = MouseWheelActionPan;
    if (config->mouseWheelEnabled())
        action = config->zoomWhileMouseWheel() ? MouseWheelActionZoom : MouseWheelActionPassOn;
    m_previewView->setMouseWheelAction(action);
    m_previewView->setAnimationZoom(config->animationZoom());
}

void CropViewController::switchToScaleMode(int mode)
{
    if ((mode == ScaleModeFitin && canDoAction(CropModeModel::ZoomToFit)) ||
        (mode == ScaleModeActualSize && canDoAction(CropModeModel::ActualSize)))
        m_previewView->switchToScaleMode(mode);
}

void CropViewController::doZoom(bool zoomIn)
{
    if (canDoAction(zoomIn ? CropModeModel::ZoomIn : CropModeModel::ZoomOut))
        beginArrowKeyZoom(zoomIn, true);
}

void CropViewController::beginArrowKeyZoom(bool zoomIn, bool delayEnd)
{
    if (m_imageZoomTimer)
        m_imageZoomTimer->stop();
    m_previewView->beginArrowKeyZoom(zoomIn);
    // An animated step must not be disturbed by the wheel or a drag until it ends.
    if (m_previewView->animationZoom())
        m_previewView->setEnable(false);
    if (!delayEnd)
        return;
    if (!m_imageZoomTimer)
        m_imageZoomTimer = std::make_unique<LMBlockTimer>();
    std::weak_ptr<bool> alive = m_alive;
    m_imageZoomTimer->start(kArrowKeyZoomHold, [this, alive] {
        if (!alive.expired())
            endArrowKeyZoom();
    });
}

void CropViewController::endArrowKeyZoom()
{
    if (m_previewView->animationZoom())
        m_previewView->setEnable(true);
    m_previewView->endArrowKeyZoom();
}
