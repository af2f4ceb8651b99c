#include "Shell/Modes/NavigateViewMode.h"

#include "Shell/Panels/NavigateWindowController.h"
#include "Shell/Panels/PropertiesPanelWindow.h"

#include "Shell/MainWindow/AppDelegate.h"
#include "Shell/MainWindow/LMMainWindow.h"
#include "Shell/MainWindow/LMMainWndContentView.h"
#include "Shell/MainWindow/MainWndController.h"
#include "Shell/Modes/MainWndNavigateHost.h"
#include "Shell/Modes/MainWndFavoriteHost.h"
#include "Shell/Modes/MainWndMiniWindow.h"
#include "Shell/ViewChrome/MainWndPhotoBin.h"
#include "Shell/ViewChrome/NavigateOverlays.h"
#include "Shell/ViewChrome/NavigatePagingViews.h"
#include "Shell/ViewChrome/NavigateToolbar.h"
#include "Shell/Modes/NavigateViewModeAdapter.h"
#include "Shell/Tips/FileAssociateTipsViewController.h"

#include "Kit/LMFadeShowProxy.h"

#include "Kit/LMNineSliceImageRep.h"
#include "Model/PublicObject.h"
#include "View/LMOpenGLView.h"
#include "View/LMShareGLContext.h"
#include "View/NavImageLoader.h"
#include "View/NavigateController.h"
#include "appkit/Window.h"
#include "foundation/NotificationCenter.h"
#include "foundation/OperationQueue.h"

#include <QtGlobal>

#include <algorithm>

NavigateViewMode::NavigateViewMode(AppDelegate& delegate, MainWndController& windowController,
                                   std::unique_ptr<NavImageLoader> loader)
    : m_delegate(delegate), m_windowController(windowController), m_loader(std::move(loader))
{
    if (!m_loader)
        m_loader = std::make_unique<NavPhotoLoaderAdapter>(PublicObject::getPublicObject()->photoLoader());

    LMMainWndContentView* content = windowController.contentView();
    const kpv::Rect frame = content ? content->bounds() : kpv::Rect(0, 0, 800, 600);
    m_imageView = new LMOpenGLView(frame);
    m_imageView->setAutoresizingMask(kpv::ViewWidthSizable | kpv::ViewHeightSizable);
    // Pictures go on screen without OpenGL for as long as the painter can show them.
    m_imageView->setPaintsFirstPictureWithoutOpenGL(true);
    // Shown when the view mode is; the empty state starts the run.
    m_imageView->setHidden(true);
    // OpenGL is not set up here: a picture the view paints without it needs none, and the driver
    // is loaded when a paint first needs it (a view that cannot make a context then paints black).
    if (content) {
        content->addSubview(m_imageView);
    } else {
        m_detachedView.reset(m_imageView);
    }
    m_imageView->setViewBounds(QRectF(0, 0, frame.width(), frame.height()));

    m_host = std::make_unique<MainWndNavigateHost>(delegate, windowController, m_imageView, nullptr);
    m_imageViewProxy = std::make_unique<LMFadeShowProxy>(m_imageView);
    m_host->setImageViewShowProxy(m_imageViewProxy.get());
    if (content) {
        m_overlays = std::make_unique<NavigateOverlays>(content);
        m_host->setOverlays(m_overlays.get());
    }
    // Swipes page with the images following the fingers where the view is in the window.
    if (content && !m_detachedView)
        m_pagingViews = std::make_unique<NavigatePagingViews>(content, m_imageView);
    m_controller = std::make_unique<NavigateController>(m_imageView, m_host.get(), m_loader.get(), m_pagingViews.get());
    m_host->setController(m_controller.get());
    m_adapter = std::make_unique<NavigateViewModeAdapter>(*m_controller, *m_host);
    m_host->setResponder(m_adapter.get());
    m_imageView->setDelegate(this);
    if (m_overlays) {
        m_overlays->setArrowHandler([this](bool next, bool down) {
            if (down)
                m_controller->buttonMouseDown(next);
            else
                m_controller->buttonMouseUp();
        });
    }
    // A turn that cannot be written back into its file is asked about before the file is left.
    NavigateController* controller = m_controller.get();
    m_controller->setUnsavedRotationCheck([controller](bool cancelAlternateButton, std::function<void(int)> done) {
        controller->checkAndSaveCurFile(false, cancelAlternateButton, std::move(done));
    });
    windowController.setNavigateController(m_adapter.get());
    m_photoBin = std::make_unique<MainWndPhotoBin>(windowController, *m_controller);
    m_host->setPhotoBin(m_photoBin.get());
    if (NavigateOverlays* overlays = m_overlays.get())
        m_photoBin->setCoveredHeightHandler([overlays](double height) { overlays->setFileLineBottom(height); });
    // The photo bin and the file line stay over the bottom of the picture, the default-viewer
    // tip over its top, for as long as they show: a picture panned to its edge comes out from
    // under them, so that no row of it is out of reach.
    if (content && !m_detachedView) {
        MainWndPhotoBin* bin = m_photoBin.get();
        NavigateOverlays* overlays = m_overlays.get();
        m_imageView->setCoveredEdgesProvider([bin, overlays, content] {
            const double bottom = std::max(bin->coveredHeight(), overlays ? overlays->fileLineCoveredTop() : 0.0);
            return QMarginsF(0, FileAssociateTipsViewController::shownHeightIn(content), 0, bottom);
        });
    }
    if (content) {
        m_toolbar = std::make_unique<NavigateToolbar>(windowController, *m_controller, *m_adapter, *m_host, *m_photoBin,
                                                      m_overlays.get());
        m_host->setToolbar(&m_toolbar->controller());
    }
    if (m_overlays)
        m_overlays->previewStatusShowProxy().setDelegate(this);
    // Around the picture the window's own tile shows, with the picture's shadow on it; in full
    // screen the picture stands on black.
    if (content && !m_detachedView) {
        QColor tile(0, 0, 0);
        if (const kpv::ImagePtr image = LMNineSliceImageRep::loadImageWithoutExtension(QStringLiteral("bg_maintile")); image && image->isValid())
            tile = image->bestRepresentation(1.0).pixelColor(0, 0);
        LMOpenGLView* view = m_imageView;
        const kpv::Window* window = windowController.window();
        auto follow = [view, window, tile] { view->setBackgroundColor(window && window->isFullScreen() ? QColor(0, 0, 0) : tile); };
        follow();
        for (const char* name : {kpv::WindowDidEnterFullScreenNotification, kpv::WindowDidExitFullScreenNotification})
            kpv::NotificationCenter::defaultCenter().addObserver(this, QString::fromLatin1(name), window,
                                                                 [follow](const kpv::Notification&) { follow(); });
    }
    m_controller->awakeFromNib();
    m_propertiesPanel = std::make_unique<PropertiesPanelWindow>(delegate, windowController, *m_controller);
    PropertiesPanelWindow* panel = m_propertiesPanel.get();
    m_host->entries().switchPropertiesWindow = [panel] { panel->switchShow(); };
    m_host->entries().propertiesWindowShown = [panel] { return panel->showStatus(); };
    // The mini window's image view, once the mini window mode has been entered.
    m_host->entries().miniWindowOpenGLView = [&windowController]() -> LMImageViewModel* {
        MainWndMiniController* mini = miniWindowControllerOf(windowController);
        return mini ? mini->openGLView() : nullptr;
    };
    m_navigateWindowController =
        std::make_unique<NavigateWindowController>(*m_imageView, *m_controller, windowController, delegate);
    m_host->setNavigateWindowController(m_navigateWindowController.get());

    // The favourites changed what the toolbar's favourites box shows.
    kpv::NotificationCenter::defaultCenter().addObserver(
        this, QString::fromLatin1(FavoritePhotoBoxNeedsUpdateNotification), nullptr,
        [this](const kpv::Notification&) { m_host->updateFavPhotoBoxUI(); });
    // The window's title while a slideshow plays or crop mode shows, and after them (the empty
    // window sets its own).
    kpv::NotificationCenter::defaultCenter().addObserver(
        this, QStringLiteral("didChangeMainShowMode"), nullptr, [this](const kpv::Notification& n) {
            const long oldMode = long(n.userInfo.value(QStringLiteral("old")).toLongLong());
            const long newMode = long(n.userInfo.value(QStringLiteral("new")).toLongLong());
            if (newMode == MainShowModeSlideshow)
                m_host->slideshowModeChanged(true);
            else if ((oldMode == MainShowModeSlideshow || oldMode == MainShowModeCrop) && newMode != MainShowModeEmpty)
                m_host->showViewerTitle();
        });
    // A new window size asks for decoded images of the new fit-in size.
    kpv::NotificationCenter::defaultCenter().addObserver(
        this, QString::fromLatin1(kpv::WindowDidResizeNotification), static_cast<kpv::Window*>(windowController.window()),
        [this](const kpv::Notification&) {
            if (m_controller)
                m_controller->didResizeWindow();
        });
}

void NavigateViewMode::endHideFadeShowProxy(LMFadeShowProxy* proxy)
{
    if (m_overlays && proxy == &m_overlays->previewStatusShowProxy() && m_controller)
        m_controller->endHideFadeShowProxy();
}

bool NavigateViewMode::beginDraggingSessionWithEvent(LMOpenGLView*, const kpv::Event&)
{
    if (!m_controller || m_controller->curFilePath().isEmpty())
        return false;
    return m_controller->beginDraggingSessionAtIndex(m_controller->curFileIndex());
}

NavigateViewMode::~NavigateViewMode()
{
    if (m_imageView) {
        m_imageView->setDelegate(nullptr);
        m_imageView->setCoveredEdgesProvider({}); // the bar and the line it asks go first
    }
    kpv::NotificationCenter::defaultCenter().removeObserver(this);
    if (m_windowController.navigateController() == m_adapter.get())
        m_windowController.setNavigateController(nullptr);
    m_windowController.registEquivalentResponder(m_adapter.get(), false);
    // Load workers use the loader and the controller's records: none may still run when they go.
    if (kpv::OperationQueue* queue = m_delegate.operationQueue()) {
        queue->cancelAllOperations();
        queue->waitUntilAllOperationsAreFinished();
    }
    m_host->setNavigateWindowController(nullptr);
    m_navigateWindowController.reset();
    m_host->setToolbar(nullptr);
    m_toolbar.reset();
    m_host->setPhotoBin(nullptr);
    m_photoBin.reset();
    m_host->entries().switchPropertiesWindow = nullptr;
    m_host->entries().propertiesWindowShown = nullptr;
    m_host->entries().miniWindowOpenGLView = nullptr;
    m_propertiesPanel.reset();
    m_controller.reset();
    m_adapter.reset();
    m_host.reset();
    m_overlays.reset();
    m_pagingViews.reset();
    m_imageViewProxy.reset();
    m_detachedView.reset();
}
