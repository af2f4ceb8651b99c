#pragma once
// The tip that offers to make the viewer the default application of the image types it opens: at
// launch until the user answers it once. OK makes the viewer the handler of every supported type
// (the freedesktop MIME associations), Configure opens the preferences' association page with
// every group ticked, the close button only dismisses it; any of the three keeps it away for good.
// It shows over the viewer and the empty window only: it steps aside while a slideshow plays or
// another mode fills the window. Main thread only.

#include <QString>

#include <functional>

class LMButton;
class LMNineSliceImageView;
class LMNormalCustomButton;
class MainConfig;
namespace kpv {
class TextField;
class View;
}

class FileAssociateTipsViewController {
public:
    // What the OK and Configure buttons do beyond hiding the tip.
    struct Actions {
        std::function<void()> associateAll;
        std::function<void()> configure;
    };

    // The tip goes into `parentView` (not owned); `config` keeps the answered flag; `appName` is
    // the program's name as the user knows it.
    FileAssociateTipsViewController(kpv::View* parentView, MainConfig& config, const QString& appName, Actions actions);
    ~FileAssociateTipsViewController();
    FileAssociateTipsViewController(const FileAssociateTipsViewController&) = delete;
    FileAssociateTipsViewController& operator=(const FileAssociateTipsViewController&) = delete;

    // Shows (never once answered) or hides the tip.
    void show(bool flag);
    bool isShown() const;
    // How far down from the top of `parentView` a tip shown in it reaches (0 with none shown).
    static double shownHeightIn(const kpv::View* parentView);

    void closeButtonClicked();
    void configButtonClicked();
    void okButtonClicked();
    // Hides the tip and stores that it was answered.
    void hideWithUpdateConfig();

    LMNineSliceImageView* view() const { return m_view; }

    // Lays the strip out across the parent's width: the sentence wraps where one line does not
    // fit beside the buttons, and the buttons move under it where even that leaves too little.
    void layout();

private:
    MainConfig& m_config;
    Actions m_actions;
    kpv::View* m_parentView;
    LMNineSliceImageView* m_view = nullptr;
    kpv::TextField* m_info = nullptr;
    LMButton* m_close = nullptr;
    LMNormalCustomButton* m_configure = nullptr;
    LMNormalCustomButton* m_ok = nullptr;
};
