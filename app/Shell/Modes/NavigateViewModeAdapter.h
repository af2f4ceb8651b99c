#pragma once
// Puts the image viewer's controller behind the main window controller's view-mode interface and
// behind the window's equivalent-responder chain: the shell asks for state, hands over opened
// files and routes the menu commands here; key, wheel and mouse-move events of the window reach the
// viewer's controller while the view mode is shown. A command whose window or mode the application
// does not have is refused here, so that its items stay disabled. Main thread only.

#include "Kit/LMEquivalentResponder.h"
#include "Shell/MainWindow/ViewModeController.h"

class MainWndNavigateHost;
class NavigateController;

class NavigateViewModeAdapter final : public ViewModeController, public LMEquivalentResponder {
public:
    // Not owned; both outlive the adapter.
    NavigateViewModeAdapter(NavigateController& controller, MainWndNavigateHost& host)
        : m_controller(controller), m_host(host)
    {
    }

    NavigateController& controller() const { return m_controller; }

    // ---- View-mode interface ----
    bool canSwitchToViewMode() const override;
    LMPathString curFilePath() const override;
    bool canDoAction(long actionId) override;
    bool curLoveIntroTipsShowStatus() const override;
    void hideLoveIntroTips(bool animate) override;
    bool gestureScrollSessionRunning() const override;
    bool curPropertiesWindowShowStatus() const override;
    void openFilePaths(const QList<LMPathString>& files, const QStringList& chosenPaths, bool includeSubDir) override;
    void abortScrollSession() override;
    void savePopWindowsPostionInfo() override;
    void toggleFullScreen() override;
    void goToFile(const LMPathString& path) override;
    void checkUnsavedTurnBeforeLeaving(std::function<void(bool)> done) override;
    void checkUnsavedTurnBeforeHandOver(std::function<void(const LMPathString&, bool)> done) override;
    void doAction(long tag, long argument) override;

    // ---- Equivalent responder ----
    bool performKeyDownEquivalent(const kpv::Event& e) override;
    bool performScrollWheelEquivalent(const kpv::Event& e) override;
    bool performMouseMovedEquivalent(const kpv::Event& e) override;

private:
    NavigateController& m_controller;
    MainWndNavigateHost& m_host;
};
