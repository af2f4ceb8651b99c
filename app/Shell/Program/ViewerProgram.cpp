#include "Shell/Program/ViewerProgram.h"

#include "Shell/MainWindow/AppDelegate.h"
#include "Shell/Tips/FileAssociateTipsViewController.h"
#include "Shell/Desktop/FileTypeAssociator.h"
#include "Shell/MainWindow/LMMainWndContentView.h"
#include "Shell/MainWindow/MainWndSecondaryWindows.h"
#include "Shell/MainWindow/LMMainWindow.h"
#include "Shell/MainWindow/MainWndController.h"
#include "Shell/MainWindow/ViewModeController.h"
#include "Shell/Modes/MainWndCropHost.h"
#include "Shell/Modes/MainWndFavoriteHost.h"
#include "Shell/Modes/MainWndMiniWindow.h"
#include "Shell/Modes/MainWndNavigateHost.h"
#include "Shell/Modes/MainWndSlideshowHost.h"
#include "Shell/Modes/MainWndThumbnailHost.h"
#include "Shell/Modes/NavigateViewMode.h"

#include "Kit/LMEventMonitorCenter.h"
#include "Model/LMPerformSelectorWrapper.h"
#include "Model/MainConfig.h"
#include "Slideshow/SlideshowThemeMgr.h"
#include "appkit/Application.h"
#include "appkit/Event.h"
#include "appkit/MenuBar.h"
#include "foundation/Bundle.h"
#include "foundation/FileNames.h"
#include "foundation/NotificationCenter.h"

#include <QMenuBar>
#include <QWidget>

namespace {
// Seconds between a change to the settings and its save: a slider dragged through many values
// is written once.
constexpr double kSettingsSaveDelay = 1.0;
} // namespace

ViewerProgram::ViewerProgram(AppDelegate& delegate)
{
    kpv::Application::setIdentity(kpv::Bundle::mainBundle().bundleIdentifier(), delegate.appName(),
                                  kpv::Bundle::mainBundle().pathForResource(QStringLiteral("appicon/app_icon.png")));
    // Dialogs wear the window's dark colours unless the user chose the desktop's in Preferences.
    if (MainConfig* config = delegate.mainConfig()) {
        kpv::Application::useDarkColours(!config->useDesktopColours());
        kpv::NotificationCenter::defaultCenter().addObserver(
            this, QStringLiteral("didChangeOptionSetting"), nullptr,
            [config](const kpv::Notification&) { kpv::Application::useDarkColours(!config->useDesktopColours()); });
    }
    m_controller = std::make_unique<MainWndController>(delegate, std::make_unique<LMMainWindow>(kpv::Rect(0, 0, 800, 600)));
    // A change to the settings is written a moment later, not only at quit: a settings file that
    // cannot be written is then told while the user can still do something about it.
    if (MainConfig* config = delegate.mainConfig()) {
        m_config = config;
        MainWndController* controller = m_controller.get();
        config->setSaveFailureHandler([controller, alive = std::weak_ptr<bool>(m_lifetime)](const QString& why) {
            LMPerformSelectorWrapper().performOnMainThreadWithBlock(
                [controller, alive, why] {
                    if (!alive.expired())
                        controller->showFailureAlert(kpv::Bundle::mainBundle().localizedStringWithFormat(
                            QStringLiteral("IDS_SettingsNotSaved"), why));
                },
                false);
        });
        // Settings that could not be read leave the viewer on its defaults: told once the window
        // is up, with where the unreadable file is kept.
        if (const QString why = config->settingsLoadFailure(); !why.isEmpty()) {
            qWarning("settings not read: %s", qUtf8Printable(why));
            controller->showFailureAlertSoon(kpv::Bundle::mainBundle().localizedStringWithFormat(
                QStringLiteral("IDS_SettingsNotRead"), why, kpv::displayFileName(config->settingsKeptAs())));
        }
        config->setChangeHandler([this] { saveSettingsSoon(); });
        // What changed before the program was assembled (the run count) is saved the same way.
        if (config->isDirty())
            saveSettingsSoon();
    }
    delegate.setSlideshowThemeMgr(std::make_unique<SlideshowThemeMgr>(delegate.mainConfig()));
    // Every show mode other than the empty state and the viewer, one line each.
    registerSlideshowMode(*m_controller);
    registerFavoriteMode(*m_controller,
                         [this] { return m_viewMode ? m_viewMode->host().workspaceServices() : nullptr; });
    m_viewMode = std::make_unique<NavigateViewMode>(delegate, *m_controller);
    registerCropMode(*m_controller, m_viewMode->controller(), m_viewMode->imageView(), m_viewMode->host());
    NavigateViewMode* viewMode = m_viewMode.get();
    registerThumbnailMode(*m_controller, m_viewMode->controller(),
                          [viewMode] { return viewMode->host().workspaceServices(); });
    registerMiniWindowMode(*m_controller, m_viewMode->controller());
    m_controller->awakeFromNib();
    restoreFavorites(*m_controller);
    m_menuBar = std::make_unique<kpv::MenuBar>(m_controller->window());
    m_menuBar->setMenus(m_controller->mainMenus());
    // The mini window stands in for the main window, and with it its menu bar: the menus' keys
    // (turn, copy, save, close, quit...) work there as they do in the main window.
    {
        MainWndController* controller = m_controller.get();
        kpv::MenuBar* bar = m_menuBar.get();
        m_miniWindowMenuKeys = LMEventMonitorCenter::eventMonitorCenter().addLocalMonitorForEventsMatchingMask(
            kpv::KeyDownMask, [controller, bar](const kpv::Event& e) {
                const MainWndMiniController* mini = miniWindowControllerOf(*controller);
                return mini && e.window() && e.window() == mini->window() && bar->performKeyEquivalent(e);
            });
    }

    // Until answered once, the viewer offers to become the default application for photos.
    if (MainConfig* config = delegate.mainConfig(); config && m_controller->contentView()) {
        MainWndController* controller = m_controller.get();
        FileAssociateTipsViewController::Actions actions;
        actions.associateAll = [controller, &delegate] {
            if (FileTypeAssociator* associator = controller->secondaryWindows().fileTypeAssociator())
                associator->makeFileAssoicateForFileTypes(delegate.allowedFileTypes());
        };
        actions.configure = [controller] { controller->secondaryWindows().showOptionWindowWithTabType(3, true); };
        m_fileAssociateTips = std::make_unique<FileAssociateTipsViewController>(m_controller->contentView(), *config,
                                                                                delegate.appName(), std::move(actions));
        m_fileAssociateTips->show(true);
        // Esc puts the tip away as its close button does.
        FileAssociateTipsViewController* tips = m_fileAssociateTips.get();
        kpv::Window* window = m_controller->window();
        // Through the monitor centre, where a monitor added later comes first: Esc during a save
        // cancels the save before it puts the tip away. The favourite button's tip stands over
        // everything while it is up: Esc goes to it first, and only the next one reaches this tip.
        m_escapeMonitor = LMEventMonitorCenter::eventMonitorCenter().addLocalMonitorForEventsMatchingMask(
            kpv::KeyDownMask, [tips, window, controller](const kpv::Event &e) {
                const ViewModeController* viewer = controller->navigateController();
                if (viewer && viewer->curLoveIntroTipsShowStatus())
                    return false;
                // A menu closed with Esc leaves its title lit, the arrows moving along the titles:
                // the next Esc is the menu bar's, to give the arrows back to the photos.
                const QMenuBar* bar = window && window->widget() ? window->widget()->findChild<QMenuBar*>() : nullptr;
                if (bar && bar->activeAction())
                    return false;
                if (e.window() == window && e.keyCode() == kpv::KeyCode::Escape && tips->isShown()) {
                    tips->closeButtonClicked();
                    return true;
                }
                return false;
            });
    }
}

void ViewerProgram::saveSettingsSoon()
{
    if (m_saveWaiting)
        return;
    m_saveWaiting = true;
    LMPerformSelectorWrapper().performWithBlock(
        [this, alive = std::weak_ptr<bool>(m_lifetime)] {
            if (alive.expired())
                return;
            m_saveWaiting = false;
            m_config->save(false);
        },
        kSettingsSaveDelay);
}

ViewerProgram::~ViewerProgram()
{
    if (m_config) {
        m_config->setChangeHandler({});
        m_config->setSaveFailureHandler({});
    }
    kpv::NotificationCenter::defaultCenter().removeObserver(this);
    if (m_escapeMonitor)
        LMEventMonitorCenter::eventMonitorCenter().removeMonitor(m_escapeMonitor);
    if (m_miniWindowMenuKeys)
        LMEventMonitorCenter::eventMonitorCenter().removeMonitor(m_miniWindowMenuKeys);
    m_fileAssociateTips.reset();
    m_menuBar.reset();
    // The viewer goes before the window controller it lives in.
    m_viewMode.reset();
    m_controller.reset();
}
