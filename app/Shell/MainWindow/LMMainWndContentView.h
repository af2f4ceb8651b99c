#pragma once
// The main window's content view: the skinned background under every mode's views (black in full
// screen, except in the empty state), full screen on a double click, the right-click menus of the
// viewer and the favourites, and the drop target for files and folders from other programs.

#include "Kit/LMNineSliceImageRep.h"
#include "appkit/View.h"

#include <QStringList>

class LMNineSliceImageView;
class MainWndController;

class LMMainWndContentView : public kpv::View {
public:
    explicit LMMainWndContentView(const kpv::Rect& frame);
    ~LMMainWndContentView() override;

    void setMainWndController(MainWndController* controller) { m_controller = controller; }
    LMNineSliceImageView* nineSliceImageViewBkgrd() const { return m_nineSliceImageViewBkgrd; }
    const LMNineSliceImageRepPtr& bkgrdImageRep() const { return m_bkgrdImageRep; }

    // Shows the tile background or, in full screen outside the empty state, nothing.
    void updateBackgroundImage(bool fullScreen);
    bool isShowingBackground() const;

    // Drops: whether the paths may be dropped, and the drop itself.
    bool canAcceptDroppedPaths(const QStringList& paths) const;
    bool performDrop(const QStringList& paths);

    void updateTrackingAreas() override;
    void drawRect(const kpv::Rect& dirty) override;
    void mouseDown(const kpv::Event& e) override;
    void rightMouseDown(const kpv::Event& e) override;
    void mouseMoved(const kpv::Event& e) override;

private:
    bool inFullScreen() const;

    MainWndController* m_controller = nullptr;
    LMNineSliceImageView* m_nineSliceImageViewBkgrd = nullptr;
    LMNineSliceImageRepPtr m_bkgrdImageRep;
    kpv::TrackingAreaPtr m_trackingArea;
};
