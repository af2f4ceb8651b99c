#pragma once
// The Info panel on screen: a floating window beside the main window with the current file's
// facts, its thumbnail and the colour histogram, driven by a PropertiesWindowController. It
// follows the main window's focus and the show mode, and keeps its place in the settings. Main
// thread only.

#include "Shell/Panels/PropertiesWindowController.h"

#include <memory>
#include <vector>

class AppDelegate;
class LMImageView;
class LMNormalCustomWindow;
class MainWndController;
class NavigateController;
class PropertiesExifInfoItemController;

namespace kpv {
class TextField;
}

class PropertiesPanelWindow final : public PropertiesWindowHost {
public:
    // None owned; all outlive the panel.
    PropertiesPanelWindow(AppDelegate& delegate, MainWndController& windowController, NavigateController& navigator);
    ~PropertiesPanelWindow() override;
    PropertiesPanelWindow(const PropertiesPanelWindow&) = delete;
    PropertiesPanelWindow& operator=(const PropertiesPanelWindow&) = delete;

    PropertiesWindowController& controller() { return *m_controller; }
    LMNormalCustomWindow* window() const { return m_window.get(); }
    // View > Show Info: shows the panel when it is not wished, hides it otherwise.
    void switchShow();
    bool showStatus() const { return m_controller->showStatus(); }
    // The text a row shows now.
    QString rowValue(long type) const;
    // That text as drawn: shortened in the middle where the row is too narrow for it.
    QString rowShown(long type) const;

    // ---- Host ----
    LMNavFileInfoPtr curFileInfo() const override;
    long mainShowMode() const override;
    bool canDoAction(long actionId) const override;
    bool isMainWindowKey() const override;
    void setPanelWindowVisible(bool visible) override;
    QImage defaultImage(long kind) const override;
    QSizeF thumbPixelSize() const override;
    void panelContentChanged() override;

private:
    void loadWindow();
    void layoutRows();
    void placeWindow();

    AppDelegate& m_delegate;
    MainWndController& m_windowController;
    NavigateController& m_navigator;
    std::unique_ptr<LMNormalCustomWindow> m_window;
    kpv::TextField* m_txtTitle = nullptr;
    LMImageView* m_imageViewThumb = nullptr;
    kpv::View* m_viewBaseFileInfoContainer = nullptr;
    kpv::View* m_viewExifInfoContainer = nullptr;
    std::vector<std::unique_ptr<PropertiesExifInfoItemController>> m_rows;
    std::unique_ptr<PropertiesWindowController> m_controller;
    bool m_placed = false;
};
