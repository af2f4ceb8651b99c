#pragma once
// Puts the image viewer's controller behind the main window controller's view-mode interface and
// behind the window's equivalent-responder chain: the shell asks for state, hands over opened
// files and routes the menu commands here; key, wheel and mouse-move events of the window reach the
// viewer's controller while the view mode is shown. Main thread only.

#include "Kit/LMEquivalentResponder.h"
#include "Shell/ViewModeController.h"

class NavigateController;
class PropertiesPanelWindow;

class NavigateViewModeAdapter final : public ViewModeController, public LMEquivalentResponder {
public:
    // Not owned; the controller outlives the adapter.
    explicit NavigateViewModeAdapter(NavigateController& controller) : m_controller(controller) {}

    NavigateController& controller() const { return m_controller; }
    // The Info panel that View > Show Info toggles (not owned; may be null).
    void setPropertiesPanel(PropertiesPanelWindow* panel) { m_propertiesPanel = panel; }

    // ---- View-mode interface ----
    bool canSwitchToViewMode() const override;
    LMPathString curFilePath() const override;
    bool canDoAction(long actionId) override;
    bool gestureScrollSessionRunning() const override;
    bool curPropertiesWindowShowStatus() const override;
    void openFilePaths(const QList<LMPathString>& files, const QStringList& chosenPaths, bool includeSubDir) override;
    void abortScrollSession() override;
    void toggleFullScreen() override;

    void saveAsCurFile() override;
    void printCurFile() override;
    void revealCurFileInFinder() override;
    void copyCurFile() override;
    void deleteCurFile() override;
    void cropCurFile() override;
    void favorCurFile() override;
    void switchToMyFavorites() override;
    void switchToThumbView() override;
    void rotateCurFile(int command) override;
    void doBatchRename() override;
    void doBatchResize() override;
    void doBatchConvert() override;
    void doShareForType(long shareType) override;
    void setCurFileToDesktop() override;
    void switchPhotoBin() override;
    void switchPropertiesWindow() override;
    void switchToOriginal() override;
    void switchToFitin() override;
    void doZoomCurFile(bool zoomIn) override;
    void sortFiles(long sortType) override;
    void playSlideshow() override;
    void doNavCurFileToNext(bool next) override;
    void doNavCurFileByPageUp(bool pageUp) override;
    void doNavCurFileToFirst(bool first) override;

    // ---- Equivalent responder ----
    bool performKeyDownEquivalent(const kpv::Event& e) override;
    bool performScrollWheelEquivalent(const kpv::Event& e) override;
    bool performMouseMovedEquivalent(const kpv::Event& e) override;

private:
    NavigateController& m_controller;
    PropertiesPanelWindow* m_propertiesPanel = nullptr;
};
