#include "View/NavToolbarController.h"
#include "Model/LMPhotoLibrary.h"
#include "Model/ShareWebsiteType.h"

#include "Kit/LMButton.h"
#include "Kit/LMNineSliceImageRep.h"
#include "Kit/LMThumbZoomSlider.h"
#include "appkit/View.h"
#include "foundation/NotificationCenter.h"
#include "foundation/RunLoop.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <vector>

namespace {

// Show modes of the main window.
constexpr int64_t kModeView = 4;
constexpr int64_t kModeFavorites = 8;
// Empty state and the two mini window modes (with bits 0 and 1): coming from them counts as entering
// the view mode afresh.
constexpr int64_t kModesFromOutside = 0x183;

// Action ids of the main menu, asked of the navigation controller.
constexpr int kActionMovetoTrash = 8;
constexpr int kActionCrop = 9;
constexpr int kActionILoveit = 11;
constexpr int kActionMyFavorites = 13;
constexpr int kActionRotateLeft = 14;
constexpr int kActionZoomIn = 32;
constexpr int kActionZoomOut = 33;
constexpr int kActionPrevious = 40;
constexpr int kActionNext = 41;

constexpr int64_t kShareTypePhotoLibrary = 34;
constexpr double kFavoriteBinDimAlpha = 0.5;
constexpr double kSliderMin = 0;
constexpr double kSliderMax = 100;

} // namespace

NavToolbarController::NavToolbarController(NavToolbarHost *host, const NavToolbarOutlets &outlets)
    : m_host(host), m_o(outlets)
{
}

NavToolbarController::~NavToolbarController()
{
    *m_alive = false;
    kpv::NotificationCenter::defaultCenter().removeObserver(this);
}

void NavToolbarController::wireButton(LMButton *b, const QString &image, const QString &offTip, const QString &onTip,
                                       bool care)
{
    if (!b)
        return;
    b->setImageName(image);
    if (onTip.isEmpty()) {
        if (!offTip.isEmpty())
            b->setToolTip(m_host->localizedString(offTip));
    } else {
        b->setToolTipForStateOff(m_host->localizedString(offTip), m_host->localizedString(onTip));
    }
    b->setCareState(care);
    b->setButtonDelegate(this);
}

void NavToolbarController::awakeFromNib()
{
    auto &nc = kpv::NotificationCenter::defaultCenter();
    nc.addObserver(this, QStringLiteral("didChangeMainShowMode"), nullptr, [this](const kpv::Notification &n) {
        didChangeMainShowMode(n.userInfo.value(QStringLiteral("new")).toLongLong(),
                              n.userInfo.value(QStringLiteral("old")).toLongLong());
    });
    nc.addObserver(this, QStringLiteral("didChangeFileList"), nullptr,
                   [this](const kpv::Notification &) { updateUI(UpdateFileList); });
    nc.addObserver(this, QStringLiteral("didChangeCurFile"), nullptr,
                   [this](const kpv::Notification &) { updateUI(UpdateCurFile); });
    if (m_o.openGLView) {
        nc.addObserver(this, QStringLiteral("doChangeScale"), m_o.openGLView,
                       [this](const kpv::Notification &) { updateUI(UpdateScale); });
        nc.addObserver(this, QStringLiteral("didChangeCurFitinScale"), m_o.openGLView,
                       [this](const kpv::Notification &) { updateUI(UpdateFitinScale); });
    }
    nc.addObserver(this, QStringLiteral("didCurFileImageUpdated"), nullptr, [this](const kpv::Notification &n) {
        if (n.userInfo.value(QStringLiteral("ImageScaleType")).toLongLong() == 8)
            updateUI(UpdateSmallThumb);
    });
    nc.addObserver(this, QStringLiteral("didAutoHideCursor"), nullptr,
                   [this](const kpv::Notification &) { didAutoHideCursor(); });

    auto make = [](kpv::View *v) { return v ? std::make_unique<LMFadeShowProxy>(v, v->isHidden()) : nullptr; };
    m_containerProxy = make(m_o.viewNavToolbarContainer);
    if (m_containerProxy)
        m_containerProxy->setDelegate(this);
    m_toolbarProxy = make(m_o.viewNavToolbar);
    m_playProxy = make(m_o.btnPlay);
    m_favoriteBinProxy = make(m_o.viewFavoriteBin);
    m_tipsProxy = make(m_o.viewSandboxAccessTipsContainer);

    wireButton(m_o.btnThumbView, "e_thumbnail", "IDS_ThumbView", {}, false);
    wireButton(m_o.btnPhotoBin, "E_THUMBBIN", "IDS_HidePhotoBin", "IDS_ShowPhotoBin", true);
    wireButton(m_o.btnInfo, "e_info", "IDS_ShowProperties", {}, false);
    wireButton(m_o.btnZoomToMinScale, "E_ZOOM_OUT", "IDS_ZoomToMin", {}, false);
    wireButton(m_o.btnZoomToMaxScale, "E_ZOOM_IN", "IDS_ZoomToMax", {}, false);
    wireButton(m_o.btnFitIn, "E_ACTUALSIZE", "IDS_ActualSize", "IDS_FitIn", true);
    wireButton(m_o.btnPrev, "E_PREV", "IDS_Previous", {}, false);
    wireButton(m_o.btnPlay, "E_PLAY", "IDS_Slideshow", {}, false);
    wireButton(m_o.btnNext, "E_NEXT", "IDS_Next", {}, false);
    wireButton(m_o.btnCrop, "e_crop", "IDS_Crop", {}, false);
    wireButton(m_o.btnDelete, "E_DELETE", "IDS_MovetoTrash", {}, false);
    wireButton(m_o.btnShare, toolbarButtonImageNameByShareType(m_host->curShareType()),
               toolbarButtonToolTipsByShareType(m_host->curShareType()), {}, true);
    wireButton(m_o.btnShareMore, "E_MORE_SHARE", {}, {}, true);
    wireButton(m_o.btnEditMore, "E_MORE", "IDS_Edit", {}, true);
    wireButton(m_o.btnFavorite, "E_LOVE", "IDS_ILoveit", "IDS_RemoveFavorite", true);
    // The arrows send no action: a press starts stepping and the release ends it, which the
    // button reports to its delegate only while it is held as a continuous one.
    for (LMButton *b : {m_o.btnPrev, m_o.btnNext})
        if (b)
            b->setContinuous(true);
    if (m_o.thumbZoomSlider) {
        m_o.thumbZoomSlider->setMinValue(kSliderMin);
        m_o.thumbZoomSlider->setMaxValue(kSliderMax);
        // Every move of the knob zooms, so that the picture follows the drag.
        m_o.thumbZoomSlider->setContinuous(true);
        m_o.thumbZoomSlider->setAction([this](kpv::View *) { zoomSliderDidChange(); });
    }
    auto connect = [this](LMButton *b, void (NavToolbarController::*fn)()) {
        if (b)
            b->setAction([this, fn](kpv::View *) { (this->*fn)(); });
    };
    connect(m_o.btnThumbView, &NavToolbarController::thumbViewButtonClicked);
    connect(m_o.btnPhotoBin, &NavToolbarController::photoBinButtonClicked);
    connect(m_o.btnInfo, &NavToolbarController::infoButtonClicked);
    connect(m_o.btnZoomToMinScale, &NavToolbarController::zoomToMinScaleButtonClicked);
    connect(m_o.btnZoomToMaxScale, &NavToolbarController::zoomToMaxScaleButtonClicked);
    connect(m_o.btnFitIn, &NavToolbarController::fitinButtonClicked);
    connect(m_o.btnPlay, &NavToolbarController::playSlideshowButtonClicked);
    connect(m_o.btnCrop, &NavToolbarController::cropButtonClicked);
    connect(m_o.btnDelete, &NavToolbarController::deleteButtonClicked);
    connect(m_o.btnShare, &NavToolbarController::shareButtonClicked);
    connect(m_o.btnShareMore, &NavToolbarController::shareMoreButtonClicked);
    connect(m_o.btnEditMore, &NavToolbarController::editMoreButtonClicked);
    connect(m_o.btnFavorite, &NavToolbarController::favoriteButtonClicked);
    m_host->setFavoriteBinEnabled(false);
    m_host->setFavoriteBinToolTip(m_host->localizedString(QStringLiteral("IDS_MyFavorites")));
    updatePhotoBinUIState();

    // On the next turn, hide and show every visible button once so that each one draws its
    // rollover state afresh for the pointer's position.
    std::weak_ptr<bool> alive = m_alive;
    kpv::RunLoop::main().performAfterDelay(0, [this, alive] {
        if (alive.expired() || !*alive.lock())
            return;
        std::vector<LMButton *> buttons;
        std::deque<kpv::View *> queue{m_o.viewNavToolbarContainer, m_o.viewFavoriteBin};
        while (!queue.empty()) {
            kpv::View *v = queue.front();
            queue.pop_front();
            if (!v)
                continue;
            if (auto *b = dynamic_cast<LMButton *>(v)) {
                if (!b->isHidden())
                    buttons.push_back(b);
                continue;
            }
            for (kpv::View *sub : v->subviews())
                queue.push_back(sub);
        }
        for (LMButton *b : buttons) {
            b->setHidden(true);
            b->setHidden(false);
        }
    });
}

// ---- Photo bin ----

void NavToolbarController::switchPhotoBin()
{
    showPhotoBin(m_host->sandboxAccessTipsShowing() || !m_host->photoBinVisible());
}

void NavToolbarController::showPhotoBin(bool flag)
{
    showToolbarByCurMouseLocation();
    m_host->setPhotoBinVisible(flag);
    updatePhotoBinUIState();
}

void NavToolbarController::updatePhotoBinUIState()
{
    const bool visible = m_host->photoBinVisible();
    m_host->showPhotoBinView(visible);
    if (m_o.btnPhotoBin)
        m_o.btnPhotoBin->setState(visible ? kpv::OffState : kpv::OnState);
}

uint64_t NavToolbarController::photoBinMaxVisibleItemCount()
{
    if (m_photoBinMaxVisibleItemCount)
        return m_photoBinMaxVisibleItemCount;
    const double w = m_host->photoBinItemWidth();
    if (!(w > 0))
        return 40;
    const double screen = std::max(0.0, m_host->mainScreenWidth());
    m_photoBinMaxVisibleItemCount = uint64_t(std::floor(screen / w)) + 2;
    return m_photoBinMaxVisibleItemCount;
}

uint64_t NavToolbarController::photoBinWholeVisibleItemCountOfCurPage() const
{
    return uint64_t(std::max<qsizetype>(0, m_host->photoBinWholeVisibleItemCountOfCurPage()));
}

void NavToolbarController::resetPhotoBinFiles()
{
    m_host->resetPhotoBinFiles();
}

// ---- Favourites ----

void NavToolbarController::beginAniFavorFile(bool)
{
    if (m_favoriteBinProxy)
        m_favoriteBinProxy->setAlpha(1.0, true, false, kFavoriteBinDimAlpha);
}

void NavToolbarController::endAniFavorFile(bool)
{
    bool needAutoHide = false;
    if (hitTestOnToolbar(m_host->mouseLocationInWindow(), &needAutoHide) || !m_favoriteBinProxy)
        return;
    if (m_host->favoriteFileCount() > 0)
        m_favoriteBinProxy->restoreAlpha(kFavoriteBinDimAlpha, true, true);
    else
        m_favoriteBinProxy->showWithAnimation(true, true);
}

void NavToolbarController::favoriteBinShow(bool autoHide)
{
    if (!m_favoriteBinProxy)
        return;
    if (m_host->favoriteFileCount() < 1)
        m_favoriteBinProxy->showWithAnimation(true, autoHide);
    else
        m_favoriteBinProxy->setAlpha(1.0, true, autoHide, kFavoriteBinDimAlpha);
}

void NavToolbarController::favoriteBinHide(bool delay)
{
    if (!m_favoriteBinProxy)
        return;
    if (m_host->favoriteFileCount() < 1)
        m_favoriteBinProxy->hideWithAnimation(true, delay);
    else
        m_favoriteBinProxy->restoreAlpha(kFavoriteBinDimAlpha, true, delay);
}

// ---- Tips ----

void NavToolbarController::showSandboxAccessTips()
{
    m_host->showSandboxAccessTipsView();
    showPhotoBin(true);
}

void NavToolbarController::hideSandboxAccessTips(bool showToolbarByMouse)
{
    m_host->hideSandboxAccessTipsView();
    if (showToolbarByMouse)
        showToolbarByCurMouseLocation();
}

bool NavToolbarController::okWasClickedForSandboxAccessTips()
{
    const QString path = m_host->curFilePath();
    if (path.isEmpty())
        return false;
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const QString folder = slash > 0 ? path.left(slash) : QStringLiteral("/");
    return m_host->doOpenFolder(folder, true);
}

void NavToolbarController::showLoveIntroTips()
{
    m_host->showLoveIntroTipsView();
    showToolbarByCurMouseLocation();
}

void NavToolbarController::hideLoveIntroTips(bool showToolbarByMouse)
{
    // While the tip shows every command is held back and the buttons are drawn disabled. It can
    // go by its close button, the first key, files handed over or the window closing; whichever
    // way, the buttons must come back, the arrows too, which only a change of list refreshes.
    const bool wasShowing = curLoveIntroTipsShowStatus();
    m_host->hideLoveIntroTipsView();
    if (showToolbarByMouse)
        showToolbarByCurMouseLocation();
    if (wasShowing && !curLoveIntroTipsShowStatus())
        updateUI(UpdateAll);
}

bool NavToolbarController::curLoveIntroTipsShowStatus() const
{
    return m_host->loveIntroTipsShowing();
}

void NavToolbarController::closeClickedOnLoveIntroTips()
{
    hideLoveIntroTips(true);
    updateUI(UpdateAll);
}

// ---- Share and edit ----

QString NavToolbarController::toolbarButtonImageNameByShareType(int64_t shareType)
{
    const ShareWebsiteTypeInfo* info = shareWebsiteTypeInfo(long(shareType));
    return QString::fromLatin1(info ? info->imageName : "e_email");
}

QString NavToolbarController::toolbarButtonToolTipsByShareType(int64_t shareType)
{
    const ShareWebsiteTypeInfo* info = shareWebsiteTypeInfo(long(shareType));
    return QString::fromLatin1(info ? info->toolTipKey : "IDS_SharetoEmail");
}

void NavToolbarController::updateShareButtonUI(int64_t shareType)
{
    if (m_o.btnShare) {
        m_o.btnShare->setImageName(toolbarButtonImageNameByShareType(shareType));
        m_o.btnShare->setToolTip(m_host->localizedString(toolbarButtonToolTipsByShareType(shareType)));
    }
    updateUI(UpdateShareType);
}

void NavToolbarController::doShareForType(int64_t shareType)
{
    m_host->hidePopMenu(PopMenuShare, false);
    updatePopMenuButtonState(PopMenuShare);
    if (!m_host->doShareForType(shareType))
        updateUI(UpdateShareType);
}

void NavToolbarController::doEditForType(int editType)
{
    m_host->hidePopMenu(PopMenuEdit, false);
    if (editType >= 1 && editType <= 4)
        m_host->rotateCurFile(editType);
}

// ---- Buttons and zoom ----

void NavToolbarController::updateUI(int64_t mask)
{
    const int state = m_host->curFileState();
    const bool ok = state == 1;
    auto enable = [](kpv::Control *c, bool e) {
        if (c)
            c->setEnabled(e);
    };
    if ((mask & 0x6D) && state != 0) {
        const bool other = (mask & ~int64_t(UpdateShareType)) != 0;
        if (mask & 0x49) {
            if (other) {
                enable(m_o.btnCrop, m_host->canDoAction(kActionCrop));
                enable(m_o.btnShareMore, ok);
                enable(m_o.btnFavorite, curLoveIntroTipsShowStatus() || m_host->canDoAction(kActionILoveit));
            }
            if (m_host->curShareType() == kShareTypePhotoLibrary)
                enable(m_o.btnShare, ok && m_host->fileExists(LMPhotoLibrary::applicationPath()));
            else
                enable(m_o.btnShare, ok);
        }
        if (other) {
            enable(m_o.btnZoomToMaxScale, m_host->canDoAction(kActionZoomIn));
            enable(m_o.btnZoomToMinScale, m_host->canDoAction(kActionZoomOut));
            enable(m_o.btnFitIn, ok);
            if (m_o.btnFitIn)
                m_o.btnFitIn->setState(m_host->fitinMode() ? kpv::OffState : kpv::OnState);
            if (mask & 9)
                enable(m_o.thumbZoomSlider, ok);
            if (mask & 36)
                updateZoomSlider();
        }
    }
    if (mask & UpdateCurFile)
        enable(m_o.btnDelete, m_host->canDoAction(kActionMovetoTrash));
    if (mask & (UpdateCurFile | UpdateSmallThumb))
        placePlayButton(state == 2 && m_host->showMode() == kModeView);
    if (mask & UpdateFileList) {
        enable(m_o.btnPrev, m_host->canDoAction(kActionPrevious));
        enable(m_o.btnNext, m_host->canDoAction(kActionNext));
    }
    if (mask & 17) {
        if (mask & UpdateFavorites) {
            const qsizetype n = m_host->favoriteFileCount();
            if (n < 1) {
                m_host->setFavoriteBinThumb(QImage(), 0);
            } else {
                int angle = 0;
                QImage thumb = m_host->lastFavoriteThumb(&angle);
                // A favourite whose picture cannot be read (moved, unreadable) still gets a face.
                if (thumb.isNull()) {
                    if (kpv::ImagePtr placeholder =
                            LMNineSliceImageRep::loadImageWithoutExtension(QStringLiteral("Img_DefaultThumb"));
                        placeholder && placeholder->isValid())
                        thumb = placeholder->bestRepresentation(1.0);
                    angle = 0;
                }
                m_host->setFavoriteBinThumb(thumb, angle);
            }
            m_host->setFavoriteBinPhotoCount(n);
            m_host->setFavoriteBinEnabled(m_host->canDoAction(kActionMyFavorites));
        }
        if (m_o.btnFavorite) {
            const QString path = m_host->curFilePath();
            m_o.btnFavorite->setState(!path.isEmpty() && m_host->isFavoriteFile(path) ? kpv::OnState : kpv::OffState);
        }
    }
}

void NavToolbarController::updateZoomSlider()
{
    if (!m_o.thumbZoomSlider)
        return;
    const double lo = m_host->curMinScale();
    const double hi = m_host->curMaxScale();
    // A range that is empty, reversed or not a number leaves the slider where it is rather than
    // dividing by zero.
    if (!(lo > 0) || !(hi > lo) || !std::isfinite(hi))
        return;
    const double s = std::min(std::max(lo, m_host->curScale()), hi);
    const double sMin = m_o.thumbZoomSlider->minValue();
    const double sMax = m_o.thumbZoomSlider->maxValue();
    const double v = sMin + (sMax - sMin) * (std::log2(s) - std::log2(lo)) / (std::log2(hi) - std::log2(lo));
    if (std::isfinite(v))
        m_o.thumbZoomSlider->setDoubleValue(v);
}

void NavToolbarController::zoomSliderDidChange()
{
    if (!m_o.thumbZoomSlider)
        return;
    const double lo = m_host->curMinScale();
    const double hi = m_host->curMaxScale();
    if (!(lo > 0) || !(hi >= lo) || !std::isfinite(hi))
        return;
    const double v = m_o.thumbZoomSlider->doubleValue();
    const double sMin = m_o.thumbZoomSlider->minValue();
    const double sMax = m_o.thumbZoomSlider->maxValue();
    double scale = lo;
    if (v != 0 && sMax > sMin)
        scale = std::exp2(std::log2(lo) + (std::log2(hi) - std::log2(lo)) * (v - sMin) / (sMax - sMin));
    if (std::isfinite(scale) && scale > 0)
        m_host->setScale(scale);
}

void NavToolbarController::placePlayButton(bool belowCentre)
{
    kpv::View *parent = m_o.btnPlay ? m_o.btnPlay->superview() : nullptr;
    if (!parent)
        return;
    const kpv::Rect bounds = parent->bounds();
    const kpv::Rect f = m_o.btnPlay->frame();
    double y = std::floor((bounds.height() - f.height()) / 2);
    if (belowCentre) {
        // Clear of a one-line message centred on the picture, and of the lower edge of the
        // broken-file picture drawn around that centre with the reason under it: the button's
        // top sits a gap below all of them.
        constexpr double kGap = 8;
        const double pictureHalf = std::max(0.0, m_host->badFilePictureHeight() / 2);
        const double below = pictureHalf + std::max(0.0, m_host->badFileReasonRoom());
        const double shift = std::max(f.height() + kGap, below + kGap + f.height() / 2);
        y += parent->isFlipped() ? shift : -shift;
    }
    const kpv::Rect placed(std::floor((bounds.width() - f.width()) / 2), y, f.width(), f.height());
    if (placed != f) {
        m_o.btnPlay->setFrame(placed);
        m_host->playButtonMoved();
    }
}

// ---- Toolbar show state ----

void NavToolbarController::updateToolbarShowStatus(bool show, bool autoHide)
{
    if (!show) {
        hideToolbarWithDelay(true);
        return;
    }
    if (m_containerProxy)
        m_containerProxy->showWithAnimation(true, autoHide);
    if (m_playProxy)
        m_playProxy->showWithAnimation(true, autoHide);
    favoriteBinShow(autoHide);
}

void NavToolbarController::hideToolbarWithDelay(bool delay)
{
    if (m_containerProxy)
        m_containerProxy->hideWithAnimation(true, delay);
    if (m_playProxy)
        m_playProxy->hideWithAnimation(true, delay);
    favoriteBinHide(delay);
}

void NavToolbarController::showToolbarByCurMouseLocation()
{
    bool needAutoHide = false;
    shouldShowToolbarByLocationInWindow(m_host->mouseLocationInWindow(), &needAutoHide);
    updateToolbarShowStatus(true, needAutoHide);
}

void NavToolbarController::updateToolbarShowStatusByLocationInWindow(kpv::Point p)
{
    bool needAutoHide = false;
    const bool show = shouldShowToolbarByLocationInWindow(p, &needAutoHide);
    updateToolbarShowStatus(show, needAutoHide);
}

bool NavToolbarController::shouldShowToolbarByLocationInWindow(kpv::Point p, bool ignoreToolbarHidden,
                                                               bool *needAutoHide) const
{
    if (needAutoHide)
        *needAutoHide = false;
    if (m_popMenuViewPopup[0] || m_popMenuViewPopup[1] || m_host->sandboxAccessTipsShowing()
        || curLoveIntroTipsShowStatus())
        return true;
    return hitTestOnToolbar(p, ignoreToolbarHidden, needAutoHide);
}

bool NavToolbarController::hitTestOnToolbar(kpv::Point p, bool ignoreToolbarHidden, bool *needAutoHide) const
{
    const kpv::View *views[] = {m_o.viewNavToolbar, m_o.viewHitTestNavToolbar, m_o.viewNavToolbarContainer};
    for (const kpv::View *v : views) {
        if (!v)
            continue;
        if (v == m_o.viewNavToolbarContainer && !m_host->photoBinVisible())
            continue;
        if (!ignoreToolbarHidden && v->isHiddenOrHasHiddenAncestor())
            continue;
        const kpv::Point q = v->convertPointFromView(p, nullptr);
        const kpv::Rect b = v->bounds();
        if (q.x >= b.x() && q.y >= b.y() && q.x < b.x() + b.width() && q.y < b.y() + b.size.height) {
            if (needAutoHide)
                *needAutoHide = false;
            return true;
        }
    }
    if (needAutoHide)
        *needAutoHide = true;
    return false;
}

bool NavToolbarController::performMouseMovedEquivalent(kpv::Point locationInWindow)
{
    updateToolbarShowStatusByLocationInWindow(locationInWindow);
    return false;
}

// ---- Pop menus ----

void NavToolbarController::showPopViewByButton(LMButton *button, bool delay)
{
    int type = PopMenuNone;
    if (button && (button == m_o.btnShare || button == m_o.btnShareMore))
        type = PopMenuShare;
    else if (button && button == m_o.btnEditMore)
        type = PopMenuEdit;
    if (type == PopMenuNone)
        return;
    const kpv::View *anchor = button == m_o.btnShareMore && m_o.btnShare ? m_o.btnShare : button;
    const kpv::Rect r = anchor->convertRectToView(anchor->bounds(), nullptr);
    const kpv::Point at{r.x() + r.width() * 0.5, r.y() + r.size.height};
    showHidePopMenuViewForType(type, true, at, delay);
}

void NavToolbarController::showHidePopMenuViewForType(int type, bool showFlag, kpv::Point locationInWindow, bool delay)
{
    if (type < 0 || type > 1)
        return;
    if (!showFlag) {
        m_host->hidePopMenu(type, true);
        return;
    }
    if (m_host->showMode() != kModeView || curLoveIntroTipsShowStatus())
        return;
    m_host->showPopMenu(type, locationInWindow, delay);
}

void NavToolbarController::updatePopMenuButtonState(int type)
{
    const long state = popMenuShowing(type) ? kpv::OnState : kpv::OffState;
    if (type == PopMenuEdit) {
        if (m_o.btnEditMore)
            m_o.btnEditMore->setState(state);
    } else if (type == PopMenuShare) {
        if (m_o.btnShare)
            m_o.btnShare->setState(state);
        if (m_o.btnShareMore)
            m_o.btnShareMore->setState(state);
    }
}

void NavToolbarController::popMenuViewShowed(int type, bool showed)
{
    if (type < 0 || type > 1)
        return;
    m_popMenuViewPopup[size_t(type)] = showed;
    updatePopMenuButtonState(type);
}

void NavToolbarController::popMenuViewItemClicked(int type, int64_t item)
{
    if (type == PopMenuEdit)
        doEditForType(int(item));
    else if (type == PopMenuShare)
        doShareForType(item);
}

bool NavToolbarController::popMenuViewItemEnabled(int type, int64_t item) const
{
    int action = 0;
    if (type == PopMenuEdit)
        action = item >= 1 && item <= 4 ? kActionRotateLeft + int(item) - 1 : 0;
    else if (type == PopMenuShare)
        action = m_host->mainActionTypeForShareType(item);
    return m_host->canDoAction(action);
}

// ---- Show modes ----

void NavToolbarController::didChangeMainShowMode(int64_t newMode, int64_t oldMode)
{
    if (m_o.viewHitTestNavToolbar)
        m_o.viewHitTestNavToolbar->setHidden(newMode != kModeView);

    if (newMode != kModeView) {
        m_host->hidePopMenu(PopMenuEdit, false);
        m_host->hidePopMenu(PopMenuShare, false);
        if (m_containerProxy)
            m_containerProxy->hideWithAnimation(newMode == kModeFavorites, false);
        if (newMode == kModeFavorites) {
            if (m_o.btnFavorite)
                m_o.btnFavorite->setHidden(true);
            if (m_toolbarProxy)
                m_toolbarProxy->hideWithAnimation(true, false);
            placePlayButton(false);
            if (m_playProxy)
                m_playProxy->showWithAnimation(true, false);
            if (m_favoriteBinProxy)
                m_favoriteBinProxy->setAlpha(1.0, true, false, kFavoriteBinDimAlpha);
        } else {
            if (m_playProxy)
                m_playProxy->hideWithAnimation(false, false);
            if (m_favoriteBinProxy)
                m_favoriteBinProxy->hideWithAnimation(false, false);
        }
        if (m_tipsProxy)
            m_tipsProxy->hideWithAnimation(true, false);
    } else {
        updateShareButtonUI(m_host->curShareType());
        if (oldMode == 0 || (oldMode & kModesFromOutside)) {
            if (m_toolbarProxy)
                m_toolbarProxy->showWithAnimation(false, false);
            if (!m_host->loveTipsAlreadyShowed()) {
                m_host->setLoveTipsAlreadyShowed(true);
                showLoveIntroTips();
            }
            showToolbarByCurMouseLocation();
        } else {
            if (oldMode == kModeFavorites) {
                if (m_o.btnFavorite)
                    m_o.btnFavorite->setHidden(false);
                if (m_toolbarProxy)
                    m_toolbarProxy->showWithAnimation(true, false);
                if (m_playProxy)
                    m_playProxy->hideWithAnimation(true, false);
            }
            bool needAutoHide = false;
            if (shouldShowToolbarByLocationInWindow(m_host->mouseLocationInWindow(), true, &needAutoHide)) {
                updateToolbarShowStatus(true, needAutoHide);
            } else {
                auto showThenHide = [](LMFadeShowProxy *p) {
                    if (p) {
                        p->showWithAnimation(false, false);
                        p->hideWithAnimation(false, false);
                    }
                };
                showThenHide(m_containerProxy.get());
                if (oldMode != kModeFavorites)
                    showThenHide(m_playProxy.get());
                if (m_host->favoriteFileCount() < 1)
                    showThenHide(m_favoriteBinProxy.get());
                else if (m_favoriteBinProxy && oldMode != kModeFavorites)
                    m_favoriteBinProxy->setAlpha(kFavoriteBinDimAlpha, true, false, kFavoriteBinDimAlpha);
                else if (m_favoriteBinProxy)
                    m_favoriteBinProxy->restoreAlpha(kFavoriteBinDimAlpha, true, true);
            }
        }
        updateUI(UpdateAll);
        if (m_tipsProxy)
            m_tipsProxy->showWithAnimation(true, false);
    }
    m_host->registEquivalentResponder(this, newMode == kModeView);
}

void NavToolbarController::didAutoHideCursor()
{
    if (m_host->showMode() == kModeView)
        hideToolbarWithDelay(false);
}

// ---- Button actions ----

void NavToolbarController::thumbViewButtonClicked() { m_host->switchToThumbView(); }
void NavToolbarController::infoButtonClicked() { m_host->showPropertiesWindow(); }
void NavToolbarController::zoomToMinScaleButtonClicked() { m_host->switchToFitin(); }
void NavToolbarController::zoomToMaxScaleButtonClicked() { m_host->switchToMaxScale(); }

void NavToolbarController::fitinButtonClicked()
{
    if (m_host->fitinMode())
        m_host->switchToOriginal();
    else
        m_host->switchToFitin();
}

void NavToolbarController::playSlideshowButtonClicked()
{
    const int64_t mode = m_host->showMode();
    if (mode == kModeView)
        m_host->playSlideshow();
    else if (mode == kModeFavorites)
        m_host->playFavoritesSlideshow();
}

void NavToolbarController::cropButtonClicked() { m_host->cropCurFile(); }
void NavToolbarController::deleteButtonClicked() { m_host->deleteCurFile(); }
void NavToolbarController::shareButtonClicked() { doShareForType(m_host->curShareType()); }

void NavToolbarController::shareMoreButtonClicked()
{
    updatePopMenuButtonState(PopMenuShare);
    showPopViewByButton(m_o.btnShareMore, false);
}

void NavToolbarController::editMoreButtonClicked()
{
    updatePopMenuButtonState(PopMenuEdit);
    showPopViewByButton(m_o.btnEditMore, false);
}

void NavToolbarController::favoriteButtonClicked() { m_host->favorCurFile(); }

void NavToolbarController::switchFavoriteView()
{
    if (m_host->showMode() != kModeView)
        m_host->setShowMode(kModeView);
    else
        m_host->switchToMyFavorites();
}

// ---- Delegates ----

void NavToolbarController::buttonMouseDown(LMButton *button)
{
    if (button && (button == m_o.btnPrev || button == m_o.btnNext))
        m_host->beginAutoNav(button == m_o.btnNext);
}

void NavToolbarController::buttonMouseUp(LMButton *button)
{
    if (button && (button == m_o.btnPrev || button == m_o.btnNext))
        m_host->endAutoNav();
}

void NavToolbarController::buttonMouseEntered(LMButton *button)
{
    if (button && (button == m_o.btnShare || button == m_o.btnShareMore || button == m_o.btnEditMore))
        showPopViewByButton(button, true);
}

void NavToolbarController::buttonMouseExited(LMButton *button)
{
    if (!button)
        return;
    if (button == m_o.btnShare || button == m_o.btnShareMore)
        showHidePopMenuViewForType(PopMenuShare, false, {}, false);
    else if (button == m_o.btnEditMore)
        showHidePopMenuViewForType(PopMenuEdit, false, {}, false);
}

void NavToolbarController::beginShowFadeShowProxy(LMFadeShowProxy *proxy, bool animation)
{
    if (proxy == m_containerProxy.get())
        m_host->hideFileInfo(animation);
}

void NavToolbarController::beginHideFadeShowProxy(LMFadeShowProxy *proxy, bool animation)
{
    if (proxy == m_containerProxy.get())
        m_host->showFileInfo(animation);
}
