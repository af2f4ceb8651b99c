#pragma once
// The Open panel with its accessory: a check box that chooses whether the sub-folders of chosen
// folders are searched too. The choice is remembered in the settings when the panel is confirmed.

#include "Kit/LMNormalCheckButton.h"
#include "appkit/Panels.h"

#include <QStringList>
#include <QUrl>
#include <functional>
#include <memory>

class MainConfig;

class LMIncludeSubDirOpenPanelController {
public:
    // `config` (the application's settings when null) and `makePanel` (a real open panel when
    // empty) can be replaced by tests.
    explicit LMIncludeSubDirOpenPanelController(MainConfig* config = nullptr,
                                                std::function<std::unique_ptr<kpv::OpenPanel>()> makePanel = {});
    ~LMIncludeSubDirOpenPanelController();
    static std::unique_ptr<LMIncludeSubDirOpenPanelController> includeSubDirOpenPanelController()
    {
        return std::make_unique<LMIncludeSubDirOpenPanelController>();
    }

    QString includeSubDirTitle() const { return m_includeSubDirTitle; }
    void setIncludeSubDirTitle(const QString& t);
    bool includeSubDir() const;
    void setIncludeSubDir(bool on);
    // The accessory view (made on first use; its waking shows the current setting).
    kpv::View* view();
    void awakeFromNib();

    long runModalOpenPanelWithDirectory(const QUrl& directory, bool canChooseFiles, bool canChooseSubDirectory);
    QStringList openFileURLs() const;
    kpv::OpenPanel* openPanel() const { return m_openPanel.get(); }

private:
    MainConfig* config() const;

    MainConfig* m_config;
    std::function<std::unique_ptr<kpv::OpenPanel>()> m_makePanel;
    std::unique_ptr<kpv::OpenPanel> m_openPanel;
    QString m_includeSubDirTitle;
    bool m_includeSubDir = false;
    std::unique_ptr<kpv::View> m_view;
    LMNormalCheckButton* m_checkBox = nullptr;
};
