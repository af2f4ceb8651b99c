#pragma once
// The image viewer inside the main window: the OpenGL image view over the whole content area, the
// photo loader behind the viewer's load workers, the window side of the viewer's controller, the
// controller itself and its place behind the main window controller's view-mode interface. Made
// once at start-up, after the main window controller and before its awakeFromNib; taken down
// before the window controller goes. Main thread only.

#include "Kit/LMFadeShowProxy.h"
#include "View/LMOpenGLView.h"
#include "View/LMOpenGLViewDelegate.h"
#include "View/NavImageLoader.h"

#include <memory>

class AppDelegate;
class LMFadeShowProxy;
class MainWndController;
class MainWndNavigateHost;
class MainWndPhotoBin;
class NavigateController;
class NavigateOverlays;
class NavigatePagingViews;
class NavigateToolbar;
class NavigateViewModeAdapter;
class NavigateWindowController;
class PropertiesPanelWindow;

class NavigateViewMode final : public LMOpenGLViewDelegate, public LMFadeShowProxyDelegate {
public:
    // `loader` decodes the files; the application's shared photo loader when null.
    NavigateViewMode(AppDelegate& delegate, MainWndController& windowController,
                     std::unique_ptr<NavImageLoader> loader = nullptr);
    ~NavigateViewMode() override;
    NavigateViewMode(const NavigateViewMode&) = delete;
    NavigateViewMode& operator=(const NavigateViewMode&) = delete;

    LMOpenGLView* imageView() const { return m_imageView; }
    NavigateController& controller() const { return *m_controller; }
    NavigateViewModeAdapter& adapter() const { return *m_adapter; }
    MainWndNavigateHost& host() const { return *m_host; }
    NavigateOverlays* overlays() const { return m_overlays.get(); }
    NavigateToolbar* toolbar() const { return m_toolbar.get(); }
    PropertiesPanelWindow& propertiesPanel() const { return *m_propertiesPanel; }
    MainWndPhotoBin& photoBin() const { return *m_photoBin; }
    NavigateWindowController& navigateWindowController() const { return *m_navigateWindowController; }

    // A drag on the image that cannot be panned hands the current file to other applications.
    bool beginDraggingSessionWithEvent(LMOpenGLView* view, const kpv::Event& event) override;
    // The status line gone after the end-of-folder tip: the viewer shows the file's own status
    // again (a file that cannot be shown says so).
    void endHideFadeShowProxy(LMFadeShowProxy* proxy) override;

private:
    AppDelegate& m_delegate;
    MainWndController& m_windowController;
    // Owned by the window's content view once added; by m_detachedView when it cannot be.
    LMOpenGLView* m_imageView = nullptr;
    std::unique_ptr<LMOpenGLView> m_detachedView;
    std::unique_ptr<NavImageLoader> m_loader;
    std::unique_ptr<MainWndNavigateHost> m_host;
    std::unique_ptr<NavigateOverlays> m_overlays;
    std::unique_ptr<NavigatePagingViews> m_pagingViews;
    std::unique_ptr<LMFadeShowProxy> m_imageViewProxy;
    std::unique_ptr<NavigateController> m_controller;
    std::unique_ptr<NavigateViewModeAdapter> m_adapter;
    std::unique_ptr<PropertiesPanelWindow> m_propertiesPanel;
    std::unique_ptr<MainWndPhotoBin> m_photoBin;
    std::unique_ptr<NavigateToolbar> m_toolbar;
    std::unique_ptr<NavigateWindowController> m_navigateWindowController;
};
