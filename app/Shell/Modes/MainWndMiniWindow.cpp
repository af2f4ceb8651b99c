#include "Shell/Modes/MainWndMiniWindow.h"

#include "Shell/MainWindow/AppDelegate.h"
#include "Shell/MainWindow/LMMainWindow.h"
#include "Shell/MainWindow/MainWndController.h"
#include "Shell/Modes/MainWndNavigateHost.h"
#include "Shell/MainWindow/ViewModeController.h"

#include "Browse/MiniWindowContentView.h"
#include "Browse/MiniWindowTitleBar.h"
#include "Kit/LMEquivalentResponder.h"
#include "Kit/LMImageView.h"
#include "Kit/LMNineSliceImageRep.h"
#include "Kit/LMNineSliceImageView.h"
#include "Model/MainConfig.h"
#include "View/LMImageViewModel.h"
#include "View/LMOpenGLView.h"
#include "View/LMShareGLContext.h"
#include "View/NavLoadPlanner.h"
#include "View/NavigateController.h"
#include "appkit/Color.h"
#include "appkit/Control.h"
#include "appkit/Event.h"
#include "appkit/Image.h"
#include "foundation/Bundle.h"
#include "foundation/NotificationCenter.h"

#include <QWidget>
#include <cmath>

namespace {

kpv::Rect toRect(const QRectF& r)
{
    return kpv::Rect(r.x(), r.y(), r.width(), r.height());
}

bool isMini(long mode)
{
    return mode == MainShowModeMiniWithImage || mode == MainShowModeMiniEmpty;
}

} // namespace

// ---- The window ----

MainWndMiniHost::MainWndMiniHost(MainWndController& windowController, NavigateController& navigator)
    : m_windowController(windowController), m_navigator(navigator)
{
    buildWindow();
}

MainWndMiniHost::~MainWndMiniHost()
{
    if (m_window) {
        m_window->setDelegate(nullptr);
        m_window->eventForwarder = nullptr;
        m_window->orderOut();
    }
}

void MainWndMiniHost::buildWindow()
{
    kpv::Rect frame(0, 0, 480, 360);
    if (kpv::Window* main = m_windowController.window())
        frame = main->frame();
    m_window = std::make_unique<MiniWindow>(frame);
    m_window->setDelegate(this);
    m_window->setTitle(kpv::Bundle::mainBundle().infoDictionary().value(QStringLiteral("CFBundleName")).toString());
    const kpv::Rect b(0, 0, frame.width(), frame.height());
    m_contentView = new MiniWindowContentView(b, *this);
    m_window->setContentView(m_contentView);
    kpv::View* background = m_contentView->nineSliceImageViewBkgrd();

    m_imageView = new LMOpenGLView(b);
    m_imageView->setAutoresizingMask(kpv::ViewWidthSizable | kpv::ViewHeightSizable);
    // Without OpenGL the view cannot be composed into a window; as in the main window it stays
    // out, and the mini window keeps its frame, title bars and status without a picture.
    if (LMShareGLContext::defaultShareGLContext().glContextObj() == nullptr)
        m_detachedImageView.reset(m_imageView);
    else
        background->addSubview(m_imageView);

    // The drop prompt of the empty form: the icon above its text, centred.
    m_dragView = new kpv::View(kpv::Rect(0, (b.height() - 140) / 2, b.width(), 140));
    m_dragView->setAutoresizingMask(kpv::ViewWidthSizable | kpv::ViewMinYMargin | kpv::ViewMaxYMargin);
    auto* icon = new LMImageView(kpv::Rect((b.width() - 96) / 2, 40, 96, 96));
    icon->setAutoresizingMask(kpv::ViewMinXMargin | kpv::ViewMaxXMargin);
    icon->setImage(kpv::Image::imageNamed(QStringLiteral("Img_Open")), 0);
    m_dragView->addSubview(icon);
    auto* text = new kpv::TextField(kpv::Rect(0, 8, b.width(), 24));
    text->setAutoresizingMask(kpv::ViewWidthSizable);
    text->setAlignment(Qt::AlignCenter);
    text->setTextColor(kpv::Color(0.9019607843137255, 0.9019607843137255, 0.9019607843137255, 1.0));
    text->setStringValue(kpv::Bundle::mainBundle().localizedString(QStringLiteral("IDS_DragDropPhoto")));
    m_dragView->addSubview(text);
    background->addSubview(m_dragView);

    m_statusPlate = new LMNineSliceImageView(
        kpv::Rect(0, (b.height() - kStatusHeight) / 2, 80, kStatusHeight),
        std::make_shared<LMNineSliceImageRep>(QStringLiteral("BG_ZoomInfo"), kpv::Point{9, 9}, kpv::Point{9, 9}));
    m_statusPlate->setAutoresizingMask(kpv::ViewMinYMargin | kpv::ViewMaxYMargin);
    m_statusPlate->setHidden(true);
    background->addSubview(m_statusPlate);
    m_status = new kpv::TextField(m_statusPlate->bounds());
    m_status->setAlignment(Qt::AlignCenter);
    m_status->setTextColor(kpv::Color(1, 1, 1, 1));
    m_status->setAutoresizingMask(kpv::ViewWidthSizable | kpv::ViewHeightSizable);
    m_statusPlate->addSubview(m_status);

    m_badFilePlate = new LMNineSliceImageView(
        kpv::Rect(0, (b.height() - kStatusHeight) / 2, b.width(), kStatusHeight),
        std::make_shared<LMNineSliceImageRep>(QStringLiteral("BG_ZoomInfo"), kpv::Point{9, 9}, kpv::Point{9, 9}));
    m_badFilePlate->setHidden(true);
    background->addSubview(m_badFilePlate);
    m_badFileMessage = new kpv::TextField(m_badFilePlate->bounds());
    m_badFileMessage->setAlignment(Qt::AlignCenter);
    m_badFileMessage->setTextColor(kpv::Color(1, 1, 1, 1));
    m_badFileMessage->setAutoresizingMask(kpv::ViewWidthSizable | kpv::ViewHeightSizable);
    m_badFileMessage->setStringValue(kpv::Bundle::mainBundle().localizedString(QStringLiteral("IDS_BAD_IMAGE")));
    m_badFilePlate->addSubview(m_badFileMessage);
    m_badFileReason = new kpv::TextField(kpv::Rect(0, 0, b.width(), kBadFileReasonHeight));
    m_badFileReason->setFont(kpv::Font(11));
    m_badFileReason->setTextColor(kpv::Color(0.62, 0.62, 0.62, 1));
    m_badFileReason->setAlignment(Qt::AlignCenter);
    m_badFileReason->setLineBreakMode(kpv::TextField::LineBreakByTruncatingMiddle);
    m_badFileReason->setHidden(true);
    background->addSubview(m_badFileReason);

    const kpv::Rect barFrame(0, b.height() - kTitleBarHeight, b.width(), kTitleBarHeight);
    m_windowTitleBar = new MiniWindowTitleBar(barFrame, *this);
    m_windowTitleBar->setAutoresizingMask(kpv::ViewWidthSizable | kpv::ViewMinYMargin);
    m_windowTitleBar->setHidden(true);
    background->addSubview(m_windowTitleBar);
    m_contentView->nineSliceImageViewBkgrd()->setWindowTitleBar(m_windowTitleBar);
    m_dragTitleBar = new MiniWindowTitleBar(barFrame, *this);
    m_dragTitleBar->setAutoresizingMask(kpv::ViewWidthSizable | kpv::ViewMinYMargin);
    background->addSubview(m_dragTitleBar);
}

void MainWndMiniHost::updateTitleFrame()
{
    MiniWindowTitleBar* bar = showMode() == MainShowModeMiniEmpty ? m_dragTitleBar : m_windowTitleBar;
    bar->updatetheFrame();
}

void MainWndMiniHost::enterFromMainWindow()
{
    kpv::Window* main = m_windowController.window();
    const int level = main ? main->level() : int(kpv::NormalWindowLevel);
    // Named as the viewer named its photo (the program's name alone when there is none).
    if (main)
        m_window->setTitle(main->title());
    m_window->makeKeyAndOrderFront();
    m_window->setLevel(level);
    if (main)
        main->orderOut();
    m_imageView->setAnimationZoom(false);
    m_imageView->didChangeFileByKeepPrevScale(false);
    // The wheel zooms, pans or steps to the next photo here as the user chose for the viewer.
    if (const LMImageViewModel* own = m_navigator.openGLView())
        m_imageView->setMouseWheelAction(own->mouseWheelAction());
}

bool MainWndMiniHost::windowShouldClose(kpv::Window*)
{
    // Once the main window is back (or the program quits from it) this window only goes.
    if (!isMini(showMode()))
        return true;
    // Closed by way of the main window, which writes a turned photo (or asks) and then quits; a
    // save the user cancels leaves the main window up with the photo as it was turned.
    switchToNormalMode();
    if (kpv::Window* main = m_windowController.window())
        main->performClose();
    return false;
}

// ---- MiniWindowHost ----

long MainWndMiniHost::showMode() const { return m_windowController.showMode(); }

void MainWndMiniHost::setShowMode(long mode) { m_windowController.setShowMode(mode); }

kpv::Rect MainWndMiniHost::windowFrame() const { return m_window->frame(); }

void MainWndMiniHost::setWindowFrame(const kpv::Rect& frame)
{
    m_window->setFrame(frame, true);
    updateTitleFrame();
}

kpv::Rect MainWndMiniHost::visibleScreenFrame() const { return m_window->screen().visibleFrame; }

double MainWndMiniHost::backingScaleFactor() const
{
    const double scale = m_window->backingScaleFactor();
    return scale > 0 ? scale : 1.0;
}

bool MainWndMiniHost::isWindowVisible() const { return m_window->isVisible(); }

void MainWndMiniHost::showImageForm(bool imageForm)
{
    m_imageView->setHidden(!imageForm);
    m_imageView->setEnable(imageForm);
    m_dragView->setHidden(imageForm);
    m_dragTitleBar->setHidden(imageForm);
    if (imageForm)
        m_windowTitleBar->setHidden(true);
    m_contentView->updateBackgroundImage();
    m_contentView->nineSliceImageViewBkgrd()->updateTrackingAreas();
    updateTitleFrame();
}

void MainWndMiniHost::orderFrontMiniWindow() { m_window->makeKeyAndOrderFront(); }

void MainWndMiniHost::orderFrontMainWindow()
{
    kpv::Window* main = m_windowController.window();
    if (!main)
        return;
    const int level = m_window->level();
    main->makeKeyAndOrderFront();
    main->setLevel(level);
}

void MainWndMiniHost::orderOutMiniWindow() { m_window->orderOut(); }

double MainWndMiniHost::setStatusText(const QString& text, bool)
{
    m_status->setStringValue(text);
    m_statusPlate->setHidden(text.isEmpty() || statusToldByBadFileCaption());
    if (text.isEmpty())
        return 0;
    // Centred on the image view, as wide as its text with a margin on each side.
    const double width = std::ceil(m_status->attributedStringValueSize().width) + 24;
    const kpv::Rect view = m_imageView->frame();
    m_statusPlate->setFrame(kpv::Rect(view.x() + (view.width() - width) / 2,
                                 std::floor(view.y() + view.height() / 2 - kStatusHeight / 2), width, kStatusHeight));
    return width;
}

void MainWndMiniHost::showBadFileCaption(bool show)
{
    const LMNavFileInfoPtr info = show ? m_navigator.curFileInfo() : nullptr;
    const QString reason = info ? info->failureReason() : QString();
    m_badFilePlate->setHidden(!show);
    m_badFileReason->setStringValue(reason);
    m_badFileReason->setHidden(reason.isEmpty());
    if (!show)
        return;
    if (statusToldByBadFileCaption())
        m_statusPlate->setHidden(true);
    // The plate as wide as its message, centred on the view as the viewer's; the reason along
    // the view's bottom, in the band the picture leaves under its mark.
    const kpv::Rect view = m_imageView->frame();
    const double width = std::min(view.width(), std::ceil(m_badFileMessage->attributedStringValueSize().width) + 24);
    m_badFilePlate->setFrame(kpv::Rect(view.x() + (view.width() - width) / 2,
                                       std::floor(view.y() + view.height() / 2 - kStatusHeight / 2), width, kStatusHeight));
    m_badFileReason->setFrame(kpv::Rect(view.x() + 4, view.y() + 2, std::max(0.0, view.width() - 8), kBadFileReasonHeight));
}

bool MainWndMiniHost::statusToldByBadFileCaption() const
{
    // The caption says a file cannot be shown, with the reason under it; the status line saying
    // the same over it would stack a second plate on the first.
    return !m_badFilePlate->isHidden() && m_status->stringValue() == m_badFileMessage->stringValue();
}

QString MainWndMiniHost::badFileMessageShown() const
{
    return m_badFilePlate->isHiddenOrHasHiddenAncestor() ? QString() : m_badFileMessage->displayedStringValue();
}

QString MainWndMiniHost::badFileReasonShown() const
{
    return m_badFileReason->isHiddenOrHasHiddenAncestor() ? QString() : m_badFileReason->displayedStringValue();
}

kpv::Rect MainWndMiniHost::badFileReasonFrame() const { return m_badFileReason->frame(); }

double MainWndMiniHost::viewScale() const { return m_imageView->scale(); }

double MainWndMiniHost::viewMaxScale() const { return m_imageView->curMaxScale(); }

kpv::Rect MainWndMiniHost::imageVisibleViewRect() const { return toRect(m_imageView->imageVisibleViewRect()); }

void MainWndMiniHost::setNewScaleMode(int mode) { m_imageView->setNewScaleMode(mode); }

void MainWndMiniHost::switchToScaleMode(int mode) { m_imageView->switchToScaleMode(mode); }

bool MainWndMiniHost::viewHoldsPicture() const { return m_imageView->holdsPicture(); }

kpv::Size MainWndMiniHost::curFileFrameSize() const
{
    const LMNavFileInfoPtr info = m_navigator.curFileInfo();
    if (!info)
        return {};
    LMFileImgBaseInfoPtr base = info->imgBaseInfo();
    if (!base) {
        // Not read yet: any decoded picture of the file carries it.
        for (int type : {NavLoadPlanner::kSmallFitinType, NavLoadPlanner::kLargeFitinType, NavLoadPlanner::kOriginalType})
            if (const LMImagePtr image = info->imageByType(type); image && image->originalImgBaseInfo()) {
                base = image->originalImgBaseInfo();
                break;
            }
    }
    // A file that cannot be shown takes the size of the picture that says so.
    if (!base && m_navigator.curFileCannotBeShown())
        if (const LMImagePtr bad = m_navigator.acquireBadFileImage())
            base = bad->originalImgBaseInfo();
    if (!base)
        return {};
    const QSizeF size = base->frameSize();
    return {size.width(), size.height()};
}

bool MainWndMiniHost::hasCurFile() const { return m_navigator.fileCount() > 0 && m_navigator.curFileInfo() != nullptr; }

void MainWndMiniHost::updateOpenGLViewImage(int imageMode)
{
    const bool bad = m_navigator.curFileCannotBeShown();
    showBadFileCaption(bad);
    if (!m_navigator.putCurFileImageIntoView(*m_imageView, imageMode)) {
        if (bad)
            m_imageView->setImage(m_navigator.acquireBadFileImage(), ImageModeBadFile);
        return;
    }
    const LMNavFileInfoPtr info = m_navigator.curFileInfo();
    m_imageView->setImageSupportRotate(!(info && AppDelegate::isGifFile(*info)));
    if (!m_shadowSet) {
        if (const LMImagePtr shadow = m_navigator.acquireShadowImage()) {
            MainWndNavigateHost::applyShadowImage(*m_imageView, shadow);
            m_shadowSet = true;
        }
    }
}

void MainWndMiniHost::restoreNavigatorView()
{
    LMImageViewModel* own = m_navigator.openGLView();
    if (!own)
        return;
    own->didChangeFileByKeepPrevScale(false);
    m_navigator.updateOpenGLViewImage(ImageModeFitin);
    m_navigator.updateOpenGLViewImage();
    m_navigator.updatePreviewStatusUIForCurFile(false);
    own->setAngleRotate(m_imageView->angleRotate());
    kpv::NotificationCenter::defaultCenter().postNotification(QString::fromLatin1(LMOpenGLViewEndRotateNotification),
                                                              own->notificationObject());
    // The toolbar last read the zoom off the mini window's view, or off this one before its
    // picture came back (a photo dropped into the empty window, one changed on disk): its zoom
    // buttons and slider read it again now, as the scale may well be the one it had.
    own->notifyChangeCurFitinScale();
}

void MainWndMiniHost::registEquivalentResponder(bool regist)
{
    if (!m_controller)
        return;
    if (auto* responder = dynamic_cast<LMEquivalentResponder*>(m_windowController.navigateController()))
        m_controller->registEquivalentResponder(responder, regist);
}

// ---- MiniWindowShell ----

bool MainWndMiniHost::isImageRotating() const { return m_controller && m_controller->isImageRotating(); }

bool MainWndMiniHost::viewPhotosInSubfolder() const
{
    MainConfig* config = m_windowController.appDelegate().mainConfig();
    return config && config->viewPhotosInSubfolder();
}

bool MainWndMiniHost::hasSupportedFileInPaths(const QStringList& paths, bool includeSubDir) const
{
    return !m_windowController.appDelegate().firstSupportedFileInPaths(paths, includeSubDir).isEmpty();
}

void MainWndMiniHost::openFiles(const QStringList& paths, bool includeSubDir)
{
    m_windowController.openFiles(paths, includeSubDir);
}

void MainWndMiniHost::performZoom()
{
    if (m_controller)
        m_controller->performZoom();
}

void MainWndMiniHost::switchToNormalMode()
{
    if (m_controller)
        m_controller->switchToNormalMode();
}

void MainWndMiniHost::miniaturize()
{
    if (QWidget* w = m_window->widget())
        w->showMinimized();
}

// ---- The controller ----

MainWndMiniController::MainWndMiniController(MainWndController& windowController, NavigateController& navigator)
    : detail::MainWndMiniHostHolder(windowController, navigator)
    , MiniWindowController(miniHost)
{
    miniHost.setController(this);
    MiniWindow* w = miniHost.window();
    w->eventForwarder = [this](const kpv::Event& e) {
        switch (e.type()) {
        case kpv::KeyDown: return doEquivalentResponder([&](LMEquivalentResponder& r) { return r.performKeyDownEquivalent(e); });
        case kpv::KeyUp: return doEquivalentResponder([&](LMEquivalentResponder& r) { return r.performKeyUpEquivalent(e); });
        case kpv::ScrollWheel:
            return doEquivalentResponder([&](LMEquivalentResponder& r) { return r.performScrollWheelEquivalent(e); });
        case kpv::EventTypeMagnify:
            return doEquivalentResponder([&](LMEquivalentResponder& r) { return r.performMagnifyEquivalent(e); });
        default: return false;
        }
    };
    auto& center = kpv::NotificationCenter::defaultCenter();
    const void* view = miniHost.imageView()->notificationObject();
    center.addObserver(this, QString::fromLatin1(LMOpenGLViewDoChangeScaleNotification), view,
                       [this](const kpv::Notification&) { doChangeScale(); });
    center.addObserver(this, QString::fromLatin1(LMOpenGLViewBeginRotateNotification), view,
                       [this](const kpv::Notification&) { didBeginRotate(); });
    center.addObserver(this, QString::fromLatin1(LMOpenGLViewEndRotateNotification), view, [this](const kpv::Notification&) {
        didEndRotate(miniHost.imageView()->angleRotate().angleRotate());
    });
    center.addObserver(this, QString::fromLatin1(kpv::WindowDidResizeNotification), static_cast<kpv::Window*>(w),
                       [this](const kpv::Notification&) {
                           if (showMode() == MainShowModeMiniWithImage)
                               miniHost.updateOpenGLViewImage(0);
                           miniHost.updateTitleFrame();
                       });
    // After the base controller has remembered the mode it came from.
    center.addObserver(this, QString::fromLatin1(DidChangeMainShowModeNotification), nullptr,
                       [this](const kpv::Notification& n) {
                           didChangeShowMode(long(n.userInfo.value(QStringLiteral("old")).toLongLong()),
                                             long(n.userInfo.value(QStringLiteral("new")).toLongLong()));
                       });
}

MainWndMiniController::~MainWndMiniController()
{
    kpv::NotificationCenter::defaultCenter().removeObserver(this);
    registEquivalentResponder(nullptr, false);
}

LMImageViewModel* MainWndMiniController::openGLView() const { return miniHost.imageView(); }

long MainWndMiniController::showMode() const { return miniHost.showMode(); }

void MainWndMiniController::didChangeShowMode(long oldMode, long newMode)
{
    if (!isMini(newMode) || isMini(oldMode))
        return;
    miniHost.enterFromMainWindow();
    const LMImageViewModel* own = miniHost.navigator().openGLView();
    updateMiniUI(0, own ? own->angleRotate().angleRotate() : 0.0);
    miniHost.navigator().updatePreviewStatusUIForCurFile(false);
    // The turn the photo has in the viewer goes with it, once the picture is in the view: an
    // empty view has nothing to lay out at an angle and lets the angle go, and with it the turn,
    // which the way back would then hand to the viewer as undone.
    if (own)
        miniHost.imageView()->setAngleRotate(own->angleRotate());
}

void registerMiniWindowMode(MainWndController& windowController, NavigateController& navigator)
{
    windowController.setShowModeControllerFactory(MainShowModeMiniWithImage, [&navigator](MainWndController& controller) {
        return std::unique_ptr<ShowModeController>(std::make_unique<MainWndMiniController>(controller, navigator));
    });
}

MainWndMiniController* miniWindowControllerOf(const MainWndController& windowController)
{
    return dynamic_cast<MainWndMiniController*>(windowController.existingModeController(MainShowModeMiniWithImage));
}
