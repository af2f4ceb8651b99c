#pragma once
// The mini window's content view: the tiled background of the empty form, and the drop target
// for files dragged in from other applications. Its background view shows the title bar while
// the pointer is over the image form.

#include "Kit/LMNineSliceImageView.h"

#include <QStringList>

class MiniWindowShell;
class MiniWindowTitleBar;

class MiniWindowView : public LMNineSliceImageView {
public:
    MiniWindowView(const kpv::Rect& frame, MiniWindowShell& shell) : LMNineSliceImageView(frame), m_shell(shell) {}
    void setWindowTitleBar(MiniWindowTitleBar* bar) { m_windowTitleBar = bar; }
    void updateTrackingAreas() override;
    void mouseEntered(const kpv::Event& e) override { showTitleBar(); }
    void mouseMoved(const kpv::Event& e) override { showTitleBar(); }
    void mouseExited(const kpv::Event& e) override;
    void showTitleBar();

private:
    MiniWindowShell& m_shell;
    MiniWindowTitleBar* m_windowTitleBar = nullptr;
    kpv::TrackingAreaPtr m_trackingArea;
};

class MiniWindowContentView : public kpv::View {
public:
    MiniWindowContentView(const kpv::Rect& frame, MiniWindowShell& shell);
    MiniWindowView* nineSliceImageViewBkgrd() const { return m_background; }
    // The tiled background in the empty form, none in the image form; other modes change nothing.
    void updateBackgroundImage();
    // Whether a drag of these paths is taken: not from our own views, and holding a supported image.
    bool canAcceptDrop(const QStringList& paths, bool fromThisApplication) const;
    // Opens the dropped paths; true in every case, as a drop is always consumed.
    bool performDrop(const QStringList& paths);

private:
    MiniWindowShell& m_shell;
    MiniWindowView* m_background = nullptr;
    LMNineSliceImageRepPtr m_bkgrdImageRep;
};
