#pragma once
// What the preferences window edits, without the window: the six general values loaded from and
// saved to the settings, the file-information mask, the tab, the type groups of the association
// tab and the "changed" state that enables Apply. The window's controls read and drive this.
// Main thread only.

#include "Shell/Dialogs/OptionFileAssociateItemInfo.h"

#include <QList>

class FileTypeAssociator;
class MainConfig;
namespace kpv {
class NotificationCenter;
}

class OptionWindowModel {
public:
    OptionWindowModel(MainConfig& config, FileTypeAssociator& associator, kpv::NotificationCenter& center);

    // The label of a file-information field (0 to 18); empty for other numbers.
    static QString fileInfoDisplayNameByType(long type);

    // Builds the groups from the supported types (once), then loads their state.
    void initAssociateFileTypes();
    void loadFileTypeAssociatedInfo();
    const QList<OptionFileAssociateItemInfo>& arrayFileTypes() const { return m_groups; }

    // Opening: tab 0 keeps the current tab; `associateAll` ticks every group and marks a change.
    // `alreadyVisible` keeps the edits of the open window.
    void showWithTabType(long tab, bool associateAll, bool alreadyVisible);
    void closeWindow();
    // OK and Apply. Associations change only for the groups the user clicked (every group when the
    // window was opened to associate all types); the others keep what the desktop has now. False,
    // with the reason in *error when given, when the settings file could not be written.
    bool saveSettings(QString* error = nullptr);
    bool groupClicked(int row) const { return row >= 0 && row < m_groupClicked.size() && m_groupClicked[row]; }

    // ---- Edits ----
    void setMouseWheelEnabled(bool on);
    void setZoomWhileMouseWheel(bool zoom);
    void setAnimationZoom(bool on);
    void setKeepZoomRatio(bool on);
    void setViewPhotosInSubfolder(bool on);
    void setUseDesktopColours(bool on);
    void fileInfoCheckButtonClicked(long type);
    void optionTabButtonClicked(long tab);
    void optionFileAssociateItemClicked(int row);

    bool mouseWheelEnabled() const { return m_mouseWheelEnabled; }
    bool zoomWhileMouseWheel() const { return m_zoomWhileMouseWheel; }
    // The radio buttons follow the wheel check; their selection is kept.
    bool wheelRadioButtonsEnabled() const { return m_mouseWheelEnabled; }
    bool animationZoom() const { return m_animationZoom; }
    bool keepZoomRatio() const { return m_keepZoomRatio; }
    bool viewPhotosInSubfolder() const { return m_viewPhotosInSubfolder; }
    bool useDesktopColours() const { return m_useDesktopColours; }
    qint64 filePropertyMask() const { return m_filePropertyMask; }
    long curOptionTabType() const { return m_curOptionTabType; }
    bool dirty() const { return m_dirty; }
    bool applyEnabled() const { return m_dirty; }
    bool showedWithWantAssociatedFileTypes() const { return m_showedWithWantAssociatedFileTypes; }

private:
    MainConfig& m_config;
    FileTypeAssociator& m_associator;
    kpv::NotificationCenter& m_center;
    QList<OptionFileAssociateItemInfo> m_groups;
    bool m_groupsBuilt = false;
    bool m_mouseWheelEnabled = true;
    bool m_zoomWhileMouseWheel = true;
    bool m_animationZoom = true;
    bool m_keepZoomRatio = false;
    bool m_viewPhotosInSubfolder = false;
    bool m_useDesktopColours = false;
    qint64 m_filePropertyMask = 14;
    long m_curOptionTabType = 2;
    bool m_dirty = false;
    bool m_showedWithWantAssociatedFileTypes = false;
    // Rows the user clicked since the window opened; only these change an association.
    QList<bool> m_groupClicked;
};
