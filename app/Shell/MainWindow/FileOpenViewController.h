#pragma once
// The empty state (show mode 2): an invitation to drop photos onto the window, a divider with
// "or" between two lines, and an Open button. Its view is in the window exactly while the mode is
// shown; the drop itself is the content view's.

#include "appkit/Control.h"
#include "appkit/View.h"

#include <memory>

class LMImageView;
class LMNormalCustomButton;
class MainWndController;

class FileOpenViewController {
public:
    explicit FileOpenViewController(MainWndController& controller);
    ~FileOpenViewController();
    FileOpenViewController(const FileOpenViewController&) = delete;
    FileOpenViewController& operator=(const FileOpenViewController&) = delete;

    kpv::View* view() const { return m_view; }
    LMImageView* imageViewDragIcon() const { return m_imageViewDragIcon; }
    LMNormalCustomButton* btnOpenFile() const { return m_btnOpenFile; }
    kpv::TextField* txtOR() const { return m_txtOR; }
    kpv::View* imageViewLeftLine() const { return m_imageViewLeftLine; }
    kpv::View* imageViewRightLine() const { return m_imageViewRightLine; }
    kpv::TextField* txtDragDropDesc() const { return m_txtDragDropDesc; }
    kpv::View* imageViewPhoto() const { return m_imageViewPhoto; }

    // Lays the row of texts out across the view's width.
    void layoutViews();
    void didChangeMainShowMode(long newMode, long oldMode);
    void openFileButtonClicked();

private:
    MainWndController& m_controller;
    // Owned while out of the window; the window's container owns it while shown.
    std::unique_ptr<kpv::View> m_ownedView;
    kpv::View* m_view = nullptr;
    LMImageView* m_imageViewDragIcon = nullptr;
    LMNormalCustomButton* m_btnOpenFile = nullptr;
    kpv::TextField* m_txtOR = nullptr;
    kpv::View* m_imageViewLeftLine = nullptr;
    kpv::View* m_imageViewRightLine = nullptr;
    kpv::TextField* m_txtDragDropDesc = nullptr;
    kpv::View* m_imageViewPhoto = nullptr;
};
