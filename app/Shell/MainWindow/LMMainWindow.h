#pragma once
// The main window. Its top strip is the application's own title bar: a skinned background, the
// title text (centred, or beside the document icon when a file is represented) and an accessory
// view at the right end with the feedback, full-screen and mini-mode buttons. The window manager
// keeps its own frame; the strip sits inside the window, above the content view.
//
// The window's root view plays the frame view: the title bar is what the root has above the
// content view, so heightOfTitleBar() is the root's height less the content's.

#include "appkit/Control.h"
#include "appkit/Window.h"

#include <functional>

class LMButton;
class LMMainWindowTitleBkgrdView;
class LMMainWndContentView;

class LMMainWindow : public kpv::Window {
public:
    static constexpr double kTitleBarHeight = 26;
    // Width of the accessory view with its three buttons.
    static constexpr double kAccessoryWidth = 84;

    explicit LMMainWindow(const kpv::Rect& contentRect);
    ~LMMainWindow() override;

    kpv::View* frameView() const { return m_frameView; }
    LMMainWndContentView* mainContentView() const { return m_mainContentView; }
    kpv::TextField* txtTitle() const { return m_txtTitle; }
    kpv::View* viewFeedback() const { return m_viewFeedback; }
    LMButton* btnFeedback() const { return m_btnFeedback; }
    LMButton* btnFullScreen() const { return m_btnFullScreen; }
    LMButton* btnMiniMode() const { return m_btnMiniMode; }
    LMMainWindowTitleBkgrdView* viewTitleBkgrd() const { return m_viewTitleBkgrd; }

    double heightOfTitleBar() const;
    // Sheets hang below the title strip, which holds the title and the menus.
    double sheetTopInset() const override;
    void addViewToTitleBar(kpv::View* view, double x);
    // Lays the title field out, first copying the window title into it when `updateText`.
    void updateCustomTitleText(bool updateText);
    void updateFullScreenButton();

    // The title and the represented file. A represented file shows a document icon before the
    // title, so the title moves beside it.
    void setWindowTitle(const QString& title);
    void setTitleWithRepresentedFilename(const QString& path);
    QString representedFilename() const { return m_representedFilename; }
    void setRepresentedFilename(const QString& path);
    // Whether the window may go full screen at all (hides the full-screen button when not).
    bool isFullScreenPrimary() const { return m_fullScreenPrimary; }
    void setFullScreenPrimary(bool on);

    // Full screen: hides the title strip's views on the way in and shows them on the way out.
    void enterOrLeaveFullScreen();
    void willEnterFullScreen();
    void willExitFullScreen();

    // The button actions (the feedback menu, full screen, the mini window).
    std::function<void(kpv::Point locationInContent)> onFeedback;
    std::function<void()> onMiniMode;
    std::function<void()> onFullScreenWillChange; // before entering or leaving
    std::function<void()> onFullScreenDidChange;
    void feedbackButtonClicked();
    void fullscreenButtonClicked();
    void minimodeButtonClicked();

    // Key, key-up, scroll and magnify events that reached the end of the responder chain go here
    // first; true when it took them.
    std::function<bool(const kpv::Event&)> eventForwarder;
    void keyDown(const kpv::Event& e) override;
    void keyUp(const kpv::Event& e) override;
    void scrollWheel(const kpv::Event& e) override;
    void magnifyWithEvent(const kpv::Event& e) override;

    // Keeps the content view below the title strip when the window changes size.
    void layoutTitleBar();

protected:
    // The window manager's own full-screen key or menu takes the same road as the button.
    void fullScreenChangedBySystem(bool fullScreen) override;
    // The title keeps clear of the menus.
    void menuBarWidthChanged() override;

private:
    kpv::View* m_frameView = nullptr;
    LMMainWndContentView* m_mainContentView = nullptr;
    LMMainWindowTitleBkgrdView* m_viewTitleBkgrd = nullptr;
    kpv::TextField* m_txtTitle = nullptr;
    kpv::View* m_viewFeedback = nullptr;
    LMButton* m_btnFeedback = nullptr;
    LMButton* m_btnFullScreen = nullptr;
    LMButton* m_btnMiniMode = nullptr;
    QString m_representedFilename;
    bool m_fullScreenPrimary = true;
};
