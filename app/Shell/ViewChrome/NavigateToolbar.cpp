#include "Shell/ViewChrome/NavigateToolbar.h"

#include "Shell/MainWindow/LMMainWindow.h"
#include "Shell/MainWindow/LMMainWndContentView.h"
#include "Shell/MainWindow/MainWndController.h"
#include "Shell/Modes/MainWndNavigateHost.h"
#include "Shell/ViewChrome/MainWndPhotoBin.h"
#include "Shell/ViewChrome/NavigateOverlays.h"
#include "Shell/Modes/NavigateViewModeAdapter.h"
#include "Share/SharePopMenu.h"
#include "Shell/ViewChrome/ToolbarEditPopViewController.h"
#include "Model/LMImage.h"

#include "Browse/FavBinButton.h"
#include "Browse/FavoriteFileInfo.h"
#include "Browse/FavoriteViewController.h"
#include "Kit/LMButton.h"
#include "Kit/LMThumbZoomSlider.h"
#include "Model/MainConfig.h"
#include "Share/ShareSelectWebsiteViewController.h"
#include "View/LMOpenGLView.h"
#include "View/NavigateController.h"
#include "appkit/Color.h"
#include "appkit/Event.h"
#include "appkit/GraphicsContext.h"
#include "appkit/Window.h"
#include "foundation/Bundle.h"
#include "foundation/NotificationCenter.h"

#include <QFileInfo>

#include <cmath>

namespace {

constexpr double kStripHeight = 40;
constexpr double kHitTestHeight = 64;
constexpr double kButtonSize = 28;
constexpr double kButtonPitch = 32;
constexpr double kSliderWidth = 100;

// The toolbar's band: a dark strip the buttons sit on.
class StripView final : public kpv::View {
public:
    using kpv::View::View;
    void drawRect(const kpv::Rect&) override
    {
        if (kpv::GraphicsContext* gc = kpv::GraphicsContext::current())
            gc->fillRect(bounds(), kpv::Color(0.12, 0.12, 0.13, 0.88));
    }
};

// The area along the bottom whose pointer brings the toolbar up; it takes no clicks itself.
class HitTestView final : public kpv::View {
public:
    using kpv::View::View;
    kpv::View* hitTest(kpv::Point) override { return nullptr; }
};

// Holds a screen laid over the picture; where that screen is hidden, clicks reach the picture.
class PassThroughView final : public kpv::View {
public:
    using kpv::View::View;
    bool drawsOwnContent() const override { return false; }
    kpv::View* hitTest(kpv::Point p) override
    {
        kpv::View* hit = kpv::View::hitTest(p);
        return hit == this ? nullptr : hit;
    }
};

// The big play button over the middle of the picture. It takes clicks, not the wheel: a wheel
// turned with the pointer on it reaches what lies beneath, as it does a pixel beside it (the
// picture zooms there), instead of being lost on the button.
class PlayButton final : public LMButton {
public:
    using LMButton::LMButton;
    kpv::View* hitTest(kpv::Point p) override { return m_lookingBeneath ? nullptr : LMButton::hitTest(p); }
    void scrollWheel(const kpv::Event& e) override
    {
        kpv::View* root = this;
        while (root->superview())
            root = root->superview();
        m_lookingBeneath = true;
        kpv::View* beneath = root->hitTest(e.locationInWindow());
        m_lookingBeneath = false;
        if (beneath && beneath != this)
            beneath->scrollWheel(e);
        else
            LMButton::scrollWheel(e);
    }

private:
    bool m_lookingBeneath = false;
};

} // namespace

// The edit button's pop-up: rotate and flip.
class NavigateToolbar::EditMenu final : public LMPopMenuViewDelegate {
public:
    EditMenu(NavigateToolbar& toolbar, kpv::View* parent)
        : m_toolbar(toolbar), m_controller(std::make_unique<ToolbarEditPopViewController>(this, parent))
    {
    }
    ToolbarEditPopViewController* controller() const { return m_controller.get(); }
    void popMenuViewItemClicked(LMPopMenuView*, const QVariant& object, const QVariant&) override
    {
        const long type = m_controller->editItemTypeByRepresentedObject(object);
        m_controller->hide(false);
        if (type != ToolbarEditItemNone)
            m_toolbar.controller().popMenuViewItemClicked(NavToolbarController::PopMenuEdit, type);
    }
    void popMenuView_viewShowed(LMPopMenuView*, bool shown) override
    {
        m_toolbar.controller().popMenuViewShowed(NavToolbarController::PopMenuEdit, shown);
    }
    bool popMenuViewItemEnabled(LMPopMenuView*, const QVariant& object, const QVariant&) override
    {
        const long type = m_controller->editItemTypeByRepresentedObject(object);
        return type != ToolbarEditItemNone && m_toolbar.controller().popMenuViewItemEnabled(NavToolbarController::PopMenuEdit, type);
    }

private:
    NavigateToolbar& m_toolbar;
    std::unique_ptr<ToolbarEditPopViewController> m_controller;
};

// Hands the window's mouse moves to the toolbar, which shows itself near the bottom edge.
class NavigateToolbar::MouseResponder final : public LMEquivalentResponder {
public:
    explicit MouseResponder(NavToolbarController& toolbar) : m_toolbar(toolbar) {}
    bool performMouseMovedEquivalent(const kpv::Event& e) override
    {
        return m_toolbar.performMouseMovedEquivalent(e.locationInWindow());
    }

private:
    NavToolbarController& m_toolbar;
};

NavigateToolbar::NavigateToolbar(MainWndController& windowController, NavigateController& navigator,
                                 NavigateViewModeAdapter& adapter, MainWndNavigateHost& host, MainWndPhotoBin& photoBin,
                                 NavigateOverlays* overlays)
    : m_windowController(windowController)
    , m_navigator(navigator)
    , m_adapter(adapter)
    , m_host(host)
    , m_photoBin(photoBin)
    , m_overlays(overlays)
{
    buildViews();
    m_controller = std::make_unique<NavToolbarController>(this, m_outlets);
    m_mouseResponder = std::make_unique<MouseResponder>(*m_controller);
    m_controller->awakeFromNib();
    if (m_favBinButton) {
        NavToolbarController* toolbar = m_controller.get();
        m_favBinButton->setAction([toolbar](kpv::View*) { toolbar->switchFavoriteView(); });
    }
    // Full screen shows the photo alone: the toolbar and the photo bin go unless the pointer is
    // on them, and come back when it reaches the bottom edge.
    for (const char* name : {kpv::WindowDidEnterFullScreenNotification, kpv::WindowDidExitFullScreenNotification}) {
        kpv::NotificationCenter::defaultCenter().addObserver(
            this, QString::fromLatin1(name), m_windowController.window(),
            [this](const kpv::Notification&) { m_controller->updateToolbarShowStatusByLocationInWindow(mouseLocationInWindow()); });
    }
}

NavigateToolbar::~NavigateToolbar()
{
    kpv::NotificationCenter::defaultCenter().removeObserver(this);
    if (m_mouseResponder)
        m_windowController.registEquivalentResponder(m_mouseResponder.get(), false);
    m_editMenu.reset();
    m_shareMenu.reset();
    m_loveTips.reset();
    m_controller.reset();
}

void NavigateToolbar::buildViews()
{
    kpv::View* content = m_windowController.contentView();
    if (!content)
        return;
    const kpv::Rect b = content->bounds();
    auto add = [](kpv::View* parent, kpv::View* v, unsigned mask) {
        v->setAutoresizingMask(mask);
        parent->addSubview(v);
        return v;
    };
    m_outlets.openGLView = m_host.imageView() ? m_host.imageView()->notificationObject() : nullptr;
    // The favourites screen covers the picture but stays under the strip, the play button and
    // the favourites bin, which lead out of it.
    kpv::View* favorites = add(content, new PassThroughView(b), kpv::ViewWidthSizable | kpv::ViewHeightSizable);
    m_windowController.setViewNavFavContainer(favorites);
    // The strip stands on the photo bin's bar along the bottom.
    const double bottom = MainWndPhotoBin::kBarHeight;
    m_outlets.viewHitTestNavToolbar = add(content, new HitTestView(kpv::Rect(0, 0, b.width(), bottom + kHitTestHeight)),
                                          kpv::ViewWidthSizable | kpv::ViewMaxYMargin);
    m_outlets.viewNavToolbarContainer =
        add(content, new kpv::View(kpv::Rect(0, bottom, b.width(), kStripHeight)), kpv::ViewWidthSizable | kpv::ViewMaxYMargin);
    m_outlets.viewNavToolbarContainer->setHidden(true);
    m_outlets.viewNavToolbar = add(m_outlets.viewNavToolbarContainer, new StripView(kpv::Rect(0, 0, b.width(), kStripHeight)),
                                   kpv::ViewWidthSizable);

    // The buttons, centred on the strip.
    const int buttonCount = 16;
    const double total = buttonCount * kButtonPitch + kSliderWidth + 4;
    double x = std::floor((b.width() - total) / 2);
    const double y = std::floor((kStripHeight - kButtonSize) / 2);
    const unsigned centred = kpv::ViewMinXMargin | kpv::ViewMaxXMargin;
    auto button = [&] {
        auto* btn = new LMButton(kpv::Rect(x, y, kButtonSize, kButtonSize));
        add(m_outlets.viewNavToolbar, btn, centred);
        x += kButtonPitch;
        return btn;
    };
    m_outlets.btnThumbView = button();
    m_outlets.btnPhotoBin = button();
    m_outlets.btnInfo = button();
    m_outlets.btnZoomToMinScale = button();
    m_outlets.thumbZoomSlider = new LMThumbZoomSlider(kpv::Rect(x, y, kSliderWidth, kButtonSize));
    add(m_outlets.viewNavToolbar, m_outlets.thumbZoomSlider, centred);
    x += kSliderWidth + 4;
    m_outlets.btnZoomToMaxScale = button();
    m_outlets.btnFitIn = button();
    m_outlets.btnPrev = button();
    m_outlets.btnNext = button();
    m_outlets.btnCrop = button();
    m_outlets.btnDelete = button();
    m_outlets.btnEditMore = button();
    m_outlets.btnShare = button();
    m_outlets.btnShareMore = button();
    m_outlets.btnFavorite = button();

    // The big play button in the middle of the image, shown with the toolbar.
    m_outlets.btnPlay = new PlayButton(kpv::Rect(std::floor((b.width() - 56) / 2), std::floor((b.height() - 56) / 2), 56, 56));
    add(content, m_outlets.btnPlay, kpv::ViewMinXMargin | kpv::ViewMaxXMargin | kpv::ViewMinYMargin | kpv::ViewMaxYMargin);
    m_outlets.btnPlay->setHidden(true);

    // The favourites bin at the strip's right end.
    m_outlets.viewFavoriteBin =
        add(content, new kpv::View(kpv::Rect(b.width() - 64, bottom + 2, 56, kStripHeight - 4)),
            kpv::ViewMinXMargin | kpv::ViewMaxYMargin);
    m_outlets.viewFavoriteBin->setHidden(true);
    m_favBinButton = new FavBinButton(m_outlets.viewFavoriteBin->bounds());
    add(m_outlets.viewFavoriteBin, m_favBinButton, kpv::ViewWidthSizable | kpv::ViewHeightSizable);
    m_windowController.setViewFavoriteBin(m_outlets.viewFavoriteBin);

    // Folder-access tips never show on this desktop; their container stays empty and hidden.
    m_outlets.viewSandboxAccessTipsContainer =
        add(content, new HitTestView(kpv::Rect(0, b.height() - 1, 1, 1)), kpv::ViewMinYMargin);
    m_outlets.viewSandboxAccessTipsContainer->setHidden(true);
}

// ---- Navigation controller: zoom ----

double NavigateToolbar::curScale() const { return m_navigator.curScale(); }
double NavigateToolbar::curMinScale() const { return m_navigator.curMinScale(); }
double NavigateToolbar::curMaxScale() const { return m_navigator.curMaxScale(); }
void NavigateToolbar::setScale(double scale) { m_navigator.setScale(scale); }
bool NavigateToolbar::fitinMode() const { return m_navigator.fitinMode(); }
void NavigateToolbar::switchToFitin() { m_navigator.switchToFitin(); }
void NavigateToolbar::switchToOriginal() { m_navigator.switchToOriginal(); }
void NavigateToolbar::switchToMaxScale() { m_navigator.switchToMaxScale(); }

// ---- Current file and commands: the toolbar's buttons run the menus' commands ----

int NavigateToolbar::curFileState() const { return m_navigator.curFileState(); }
bool NavigateToolbar::canDoAction(int actionId) const { return m_adapter.canDoAction(actionId); }
QString NavigateToolbar::curFilePath() const { return m_navigator.curFilePath().path(); }
void NavigateToolbar::switchToThumbView() { m_windowController.performMenuAction(38); }

void NavigateToolbar::showPropertiesWindow()
{
    if (!m_host.propertiesWindowShown())
        m_windowController.performMenuAction(29);
}

void NavigateToolbar::playSlideshow() { m_windowController.performMenuAction(39); }
void NavigateToolbar::cropCurFile() { m_windowController.performMenuAction(9); }
void NavigateToolbar::deleteCurFile() { m_windowController.performMenuAction(8); }
void NavigateToolbar::favorCurFile() { m_windowController.performMenuAction(11); }
void NavigateToolbar::switchToMyFavorites() { m_windowController.performMenuAction(13); }
void NavigateToolbar::beginAutoNav(bool next) { m_navigator.beginAutoNav(next); }
void NavigateToolbar::endAutoNav() { m_navigator.endAutoNav(); }
double NavigateToolbar::badFilePictureHeight() const
{
    const LMImagePtr picture = m_navigator.acquireBadFileImage();
    return picture ? double(picture->height()) : 0;
}
double NavigateToolbar::badFileReasonRoom() const { return NavigateOverlays::kStatusReasonRoom; }
bool NavigateToolbar::doShareForType(int64_t shareType) { return m_navigator.doShareForType(shareType); }
void NavigateToolbar::rotateCurFile(int editType) { m_navigator.rotateCurFile(editType); }

void NavigateToolbar::showFileInfo(bool animation)
{
    if (m_overlays)
        m_overlays->fileInfoShowProxy().showWithAnimation(animation, false);
}

void NavigateToolbar::hideFileInfo(bool animation)
{
    // The toolbar begins to show.
    if (m_overlays)
        m_overlays->fileInfoShowProxy().hideWithAnimation(animation, false);
    m_host.placeStatusLine();
}

void NavigateToolbar::playButtonMoved() { m_host.placeStatusLine(); }

// ---- Main window controller ----

int64_t NavigateToolbar::showMode() const { return m_windowController.showMode(); }
void NavigateToolbar::setShowMode(int64_t mode) { m_windowController.setShowMode(long(mode)); }

void NavigateToolbar::registEquivalentResponder(NavToolbarController*, bool regist)
{
    if (m_mouseResponder)
        m_windowController.registEquivalentResponder(m_mouseResponder.get(), regist);
}

kpv::Point NavigateToolbar::mouseLocationInWindow() const
{
    kpv::Window* window = m_windowController.window();
    return window ? window->mouseLocationOutsideOfEventStream() : kpv::Point{-1e9, -1e9};
}

bool NavigateToolbar::doOpenFolder(const QString& folder, bool fromSandboxAccessTips)
{
    return m_windowController.doOpenFile(folder, fromSandboxAccessTips);
}

void NavigateToolbar::playFavoritesSlideshow()
{
    if (FavoriteViewController* fav = m_host.favoriteController())
        fav->playSlideshow();
}

// ---- Settings ----

bool NavigateToolbar::photoBinVisible() const { return m_host.mainConfig()->photoBinVisible(); }
void NavigateToolbar::setPhotoBinVisible(bool visible) { m_host.mainConfig()->setPhotoBinVisible(visible); }
int64_t NavigateToolbar::curShareType() const { return m_host.mainConfig()->curShareType(); }
bool NavigateToolbar::loveTipsAlreadyShowed() const { return m_host.mainConfig()->loveTipsAlreadyShowed(); }
void NavigateToolbar::setLoveTipsAlreadyShowed(bool showed) { m_host.mainConfig()->setLoveTipsAlreadyShowed(showed); }
QString NavigateToolbar::localizedString(const QString& key) const { return kpv::Bundle::mainBundle().localizedString(key); }
bool NavigateToolbar::fileExists(const QString& path) const { return QFileInfo::exists(path); }
double NavigateToolbar::mainScreenWidth() const { return kpv::Screen::mainScreen().frame.width(); }

// ---- Favourites ----

qsizetype NavigateToolbar::favoriteFileCount() const { return m_host.favoriteFileCount(); }
bool NavigateToolbar::isFavoriteFile(const QString& path) const { return m_host.isFavoriteFile(LMPathString(path, false)); }

QImage NavigateToolbar::lastFavoriteThumb(int* angle) const
{
    FavoriteViewController* fav = m_host.favoriteFileCount() > 0 ? m_host.favoriteController() : nullptr;
    if (!fav)
        return {};
    return m_host.favoriteThumb(fav->getLastFavoriteFile(), angle);
}

void NavigateToolbar::setFavoriteBinThumb(const QImage& thumb, int angle)
{
    if (m_favBinButton)
        m_favBinButton->setThumb(thumb, angle);
}

void NavigateToolbar::setFavoriteBinPhotoCount(qsizetype count)
{
    if (m_favBinButton)
        m_favBinButton->setPhotoCount(count);
}

void NavigateToolbar::setFavoriteBinEnabled(bool enabled)
{
    if (m_favBinButton)
        m_favBinButton->setEnabled(enabled);
}

void NavigateToolbar::setFavoriteBinToolTip(const QString& tip)
{
    if (m_favBinButton)
        m_favBinButton->setToolTip(tip);
}

// ---- Photo bin ----

void NavigateToolbar::showPhotoBinView(bool show) { m_photoBin.showPhotoBinView(show); }
double NavigateToolbar::photoBinItemWidth() const { return m_photoBin.photoBinItemWidth(); }
qsizetype NavigateToolbar::photoBinWholeVisibleItemCountOfCurPage() const { return m_photoBin.photoBinWholeVisibleItemCountOfCurPage(); }
void NavigateToolbar::resetPhotoBinFiles() { m_photoBin.resetPhotoBinFiles(); }

// ---- Pop-up menus ----

void NavigateToolbar::showPopMenu(int type, kpv::Point locationInWindow, bool delay)
{
    kpv::View* parent = m_windowController.contentView();
    if (type == NavToolbarController::PopMenuEdit) {
        if (!m_editMenu)
            m_editMenu = std::make_unique<EditMenu>(*this, parent);
        m_editMenu->controller()->showAtLocationInWindow(locationInWindow, delay);
    } else if (type == NavToolbarController::PopMenuShare) {
        if (!m_shareMenu) {
            m_shareMenu = std::make_unique<SharePopMenu>(parent, SharePopMenu::Actions{
                [this](long shareType) { m_controller->popMenuViewItemClicked(NavToolbarController::PopMenuShare, shareType); },
                [this](long shareType) { return m_controller->popMenuViewItemEnabled(NavToolbarController::PopMenuShare, shareType); },
                [this](bool shown) { m_controller->popMenuViewShowed(NavToolbarController::PopMenuShare, shown); }});
        }
        m_shareMenu->controller()->showAtLocationInWindow(locationInWindow, delay);
    }
}

void NavigateToolbar::hidePopMenu(int type, bool animation)
{
    if (type == NavToolbarController::PopMenuEdit && m_editMenu)
        m_editMenu->controller()->hide(animation);
    if (type == NavToolbarController::PopMenuShare && m_shareMenu)
        m_shareMenu->controller()->hide(animation);
}

int NavigateToolbar::mainActionTypeForShareType(int64_t shareType) const
{
    return int(MainWndController::mainActionTypeForShareType(long(shareType)));
}

// ---- Tips ----

// The desktop gives the program every folder the user can read: the folder-access tip never shows.
void NavigateToolbar::showSandboxAccessTipsView() {}
void NavigateToolbar::hideSandboxAccessTipsView() {}
bool NavigateToolbar::sandboxAccessTipsShowing() const { return false; }

void NavigateToolbar::showLoveIntroTipsView()
{
    if (!m_loveTips) {
        m_loveTips = std::make_unique<LoveIntroTipsViewController>();
        m_loveTips->setDelegate(this);
        m_loveTips->setParentView(m_windowController.contentView());
    }
    m_loveTips->showTips();
    // The pointers end at the two buttons where this window has them.
    kpv::View* tip = m_loveTips->view();
    auto rectIn = [tip](kpv::View* button) {
        return button && button->superview() && tip ? button->convertRectToView(button->bounds(), tip) : kpv::Rect();
    };
    m_loveTips->pointAt(rectIn(m_outlets.btnFavorite), rectIn(m_outlets.viewFavoriteBin));
    m_loveTips->overlapIntroTipsView()->setSpotlightOn(m_outlets.viewFavoriteBin);
}

void NavigateToolbar::hideLoveIntroTipsView()
{
    if (m_loveTips)
        m_loveTips->hideTips();
}

bool NavigateToolbar::loveIntroTipsShowing() const { return m_loveTips && m_loveTips->showStatus(); }

void NavigateToolbar::closeClickedOnLoveIntroTipsViewController(LoveIntroTipsViewController*)
{
    m_controller->closeClickedOnLoveIntroTips();
}
