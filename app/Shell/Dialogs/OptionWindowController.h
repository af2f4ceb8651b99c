#pragma once
// The preferences window: General (mouse wheel, zoom animation, keeping the zoom, sub-folders),
// File Information (what the status line shows) and File Association (which type groups this
// viewer opens by default). The edits live in an OptionWindowModel until OK or Apply; Cancel, the
// close button and Esc drop them. Main thread only.

#include "Kit/LMCustomWindowDelegate.h"
#include "Shell/Dialogs/OptionFileAssociateItemController.h"
#include "Shell/Dialogs/OptionWindowModel.h"

#include <functional>
#include <map>
#include <memory>
#include <vector>

class FileTypeAssociator;
class LMNineSliceImageView;
class LMNormalCheckButton;
class LMNormalCustomButton;
class LMNormalCustomWindow;
class MainConfig;

namespace kpv {
class NotificationCenter;
class TextField;
class View;
}

class OptionWindowController : public LMCustomWindowDelegate, public OptionFileAssociateItemControllerDelegate {
public:
    // None owned; all must outlive the controller.
    OptionWindowController(MainConfig& config, FileTypeAssociator& associator, kpv::NotificationCenter& center);
    ~OptionWindowController() override;
    OptionWindowController(const OptionWindowController&) = delete;
    OptionWindowController& operator=(const OptionWindowController&) = delete;

    // Tab 1 General, 2 File Information, 3 File Association; 0 keeps the current tab.
    void showWithTabType(long tab, bool associateAllFileTypes);
    void show() { showWithTabType(0, false); }
    LMNormalCustomWindow* optionWindow() const { return m_window.get(); }
    const OptionWindowModel& model() const { return m_model; }

    // OK and Apply; a settings file that could not be written is told through the failure handler.
    void saveSettings();
    void setFailureHandler(std::function<void(const QString& message)> handler) { m_failureHandler = std::move(handler); }
    void closeWindow();
    void updateUI();
    void updateTabPage();

    // ---- Actions ----
    void optionTabButtonClicked(long tab);
    void generalRadioButtonClicked(bool zoom);
    void enableMouseWheelCheckButtonClicked();
    void enableAnimationZoomCheckButtonClicked();
    void keepZoomRatioCheckButtonClicked();
    void viewPhotosInSubfolderRatioCheckButtonClicked();
    void useDesktopColoursCheckButtonClicked();
    void fileInfoCheckButtonClicked(long type);
    void okButtonClicked();
    void cancelButtonClicked();
    void applyButtonClicked();
    bool customWindow(LMCustomWindow* window, const kpv::Event& keyDown) override;
    void optionFileAssociateItemController(OptionFileAssociateItemController* item, int row) override;

    // ---- Controls (tests read them) ----
    LMNormalCheckButton* chkEnableMouseWheel() const { return m_chkEnableMouseWheel; }
    LMNormalCheckButton* rdoMouseWheelNavFile() const { return m_rdoMouseWheelNavFile; }
    LMNormalCheckButton* rdoMouseWheelZoom() const { return m_rdoMouseWheelZoom; }
    LMNormalCheckButton* chkEnableAnimationZoom() const { return m_chkEnableAnimationZoom; }
    LMNormalCheckButton* chkKeepZoomRatio() const { return m_chkKeepZoomRatio; }
    LMNormalCheckButton* chkViewPhotosInSubfolder() const { return m_chkViewPhotosInSubfolder; }
    LMNormalCheckButton* chkUseDesktopColours() const { return m_chkUseDesktopColours; }
    LMNormalCheckButton* fileInfoCheckButton(long type) const;
    LMNormalCustomButton* btnApply() const { return m_btnApply; }
    LMNormalCustomButton* tabButton(long tab) const;
    kpv::View* currentPage() const;
    const std::vector<std::unique_ptr<OptionFileAssociateItemController>>& associateItems() const { return m_items; }

private:
    void loadWindow();
    void awakeFromNib();
    void buildGeneralPage();
    void buildFileInfoPage();
    void buildAssociatePage();
    void focusFirstChoice();
    LMNormalCheckButton* makeCheck(kpv::View* page, const kpv::Rect& frame, const char* titleKey, bool radio);

    std::function<void(const QString& message)> m_failureHandler;
    OptionWindowModel m_model;
    std::unique_ptr<LMNormalCustomWindow> m_window;
    kpv::TextField* m_txtTitle = nullptr;
    LMNineSliceImageView* m_nineSliceImageViewInfoContainer = nullptr;
    // The pages not on screen are kept here; the one on screen belongs to the container.
    std::unique_ptr<kpv::View> m_pageHolders[3];
    kpv::View* m_pages[3] = {nullptr, nullptr, nullptr};
    LMNormalCustomButton* m_tabButtons[3] = {nullptr, nullptr, nullptr};
    LMNormalCheckButton* m_chkEnableMouseWheel = nullptr;
    LMNormalCheckButton* m_rdoMouseWheelNavFile = nullptr;
    LMNormalCheckButton* m_rdoMouseWheelZoom = nullptr;
    LMNormalCheckButton* m_chkEnableAnimationZoom = nullptr;
    LMNormalCheckButton* m_chkKeepZoomRatio = nullptr;
    LMNormalCheckButton* m_chkViewPhotosInSubfolder = nullptr;
    LMNormalCheckButton* m_chkUseDesktopColours = nullptr;
    std::map<long, LMNormalCheckButton*> m_fileInfoBtnAndTypeDict;
    std::vector<std::unique_ptr<OptionFileAssociateItemController>> m_items;
    LMNormalCustomButton* m_btnOK = nullptr;
    LMNormalCustomButton* m_btnCancel = nullptr;
    LMNormalCustomButton* m_btnApply = nullptr;
};
