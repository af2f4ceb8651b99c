#pragma once
// The main window's secondary windows, each made on first use and kept: About, Preferences, the
// accounts sheet (made anew for every opening), the feedback form and the share sheet; and the one
// entry through which the viewer, its toolbar and the favourites share files. Main thread only.

#include "Share/ShareFileInfo.h"

#include <QList>

#include <memory>

class AboutWindowController;
class AppDelegate;
class FeedbackWindowController;
class FileTypeAssociator;
class MainWndController;
class OptionWindowController;
class ShareAccountWindowController;
class ShareWindowController;

namespace kpv {
class DesktopServices;
class NotificationCenter;
class Window;
}

class MainWndSecondaryWindows {
public:
    // None owned; all outlive this object.
    MainWndSecondaryWindows(AppDelegate& delegate, MainWndController& windowController, kpv::DesktopServices& desktop,
                            kpv::NotificationCenter& center);
    ~MainWndSecondaryWindows();
    MainWndSecondaryWindows(const MainWndSecondaryWindows&) = delete;
    MainWndSecondaryWindows& operator=(const MainWndSecondaryWindows&) = delete;

    void showAboutWindow();
    // Tab 0 keeps the current tab; `associateAll` ticks every type group (the default-viewer tip).
    void showOptionWindowWithTabType(long tab, bool associateAllFileTypes);
    // Makes this program the default viewer of image types (made on first use).
    FileTypeAssociator* fileTypeAssociator();
    void showAccountWindow();
    void showFeedbackWindow();
    // 1 to 4 open the share sheet, 33 composes a mail with the files; false when nothing started.
    bool shareFiles(const QList<ShareFileInfoPtr>& files, long shareType);
    // Whether the photo of the last mail handed to the desktop had the user's turn written into
    // it first: a mail program that then gives up is told with that, not as if nothing changed.
    bool lastMailSharedSavedTurn() const { return m_lastMailSavedTurn; }

    AboutWindowController* aboutWindowController() const { return m_about.get(); }
    OptionWindowController* optionWindowController() const { return m_option.get(); }
    ShareAccountWindowController* shareAccountWindowController() const { return m_account.get(); }
    FeedbackWindowController* feedbackWindowController() const { return m_feedback.get(); }
    ShareWindowController* shareWindowController();

private:
    AppDelegate& m_delegate;
    MainWndController& m_windowController;
    kpv::DesktopServices& m_desktop;
    kpv::NotificationCenter& m_center;
    std::unique_ptr<AboutWindowController> m_about;
    std::unique_ptr<FileTypeAssociator> m_associator;
    std::unique_ptr<OptionWindowController> m_option;
    std::unique_ptr<ShareAccountWindowController> m_account;
    std::unique_ptr<FeedbackWindowController> m_feedback;
    std::unique_ptr<ShareWindowController> m_share;
    bool m_lastMailSavedTurn = false;
};
