#pragma once
// The Navigation panel: a floating window with a thumbnail of the current image, turned and
// mirrored as the main view shows it, and a frame over the part the view shows. Dragging the
// frame or clicking beside it pans the main view; the wheel over it zooms about the image point
// under the pointer, a trackpad scroll pans. It shows only while the image is larger than the
// view's fit-in area, the view mode is up and the main window is key. Main thread only.

#include "Kit/LMAreaTrackViewDelegate.h"
#include "View/LMMatrix.h"

#include "Model/LMImage.h"
#include "Model/LMImageRotateAngle.h"

#include <QRectF>
#include <QSize>
#include <QSizeF>

#include <memory>

class AppDelegate;
class LM3DRotateImageView;
class LMAreaTrackView;
class LMImageViewModel;
class LMNavFileInfo;
class LMNormalCustomWindow;
class MainWndController;
class NavigateController;

namespace kpv {
class TextField;
}

class NavigateWindowController : public LMAreaTrackViewDelegate {
public:
    // None owned; all outlive the panel. `openGLView` is the main image view.
    NavigateWindowController(LMImageViewModel& openGLView, NavigateController& navigator,
                             MainWndController& windowController, AppDelegate& delegate);
    ~NavigateWindowController() override;
    NavigateWindowController(const NavigateWindowController&) = delete;
    NavigateWindowController& operator=(const NavigateWindowController&) = delete;

    LMNormalCustomWindow* window() const { return m_window.get(); }
    LM3DRotateImageView* imageViewThumb() const { return m_imageViewThumb; }
    LMAreaTrackView* trackViewZoom() const { return m_trackViewZoom; }
    bool showStatus() const { return m_showStatus; }
    bool isImageRotating() const { return m_isImageRotating; }

    void show();
    void hide();
    void showWithCheckStatus();
    void hideWithoutChangeStatus();
    // The viewer's check after a change of file, scale or content: shows the panel (sized and
    // placed on its first showing) while the image can be panned, hides it otherwise.
    void checkShowHide();

    void updateThumbWithRotateAngle();
    // The picture the thumbnail view is given and the file's turn to add to the view's. The
    // thumbnail view only turns and flips what it is given, so a mirrored file (orientations 2,
    // 4, 5 and 7) is given upright with no turn; any other keeps its stored pixels and its turn.
    static QImage thumbPicture(const LMImage& image, double* orientationAngle);
    // What a thumbnail place shows, `box` being the place's device pixels in the frame of the small
    // thumbnail's picture (of size `shown`): the small thumbnail, or where that would be drawn
    // enlarged (a dense screen) the photo's fitted picture once loaded. sharpThumbPicture brings
    // the picture made of it down to the box.
    static LMImagePtr sharpThumbSource(const LMNavFileInfo& file, const LMImagePtr& small, const QSize& shown,
                                       const QSizeF& box);
    static QImage sharpThumbPicture(const QImage& picture, const QSizeF& box);
    void updateWindowFrameByCurFile();
    void updateImageVisibleRect();
    void moveImageByTrackRect(const kpv::Rect& trackRect);
    QRectF imageViewRectInImageView() const;
    LMMatrix matrixFromImageViewRectToTrackRect() const;

    // ---- Track view delegate ----
    std::optional<bool> areaTrackView_canDrag(LMAreaTrackView*, LMTrackPosition position) override;
    bool canLocateTrackAtUnknownPositionForAreaTrackView(LMAreaTrackView*) override { return !m_isImageRotating; }
    void areaTrackView_locateTrackRect(LMAreaTrackView*, const kpv::Rect& rect) override { moveImageByTrackRect(rect); }
    void areaTrackView_beginDrag(LMAreaTrackView*, const kpv::Rect&, LMTrackPosition, kpv::Rect*) override;
    // The frame's place after a drag step; the track view reports no separate actual rectangle
    // (an empty one) unless a delegate computes it, so the frame itself is where to pan to.
    void areaTrackView_doDragging(LMAreaTrackView*, const kpv::Rect& trackRect, LMTrackPosition,
                                  const kpv::Rect& actual) override
    {
        moveImageByTrackRect(actual.isEmpty() ? trackRect : actual);
    }
    void areaTrackView_endDrag(LMAreaTrackView*, const kpv::Rect& trackRect, LMTrackPosition,
                               const kpv::Rect& actual) override
    {
        moveImageByTrackRect(actual.isEmpty() ? trackRect : actual);
    }
    std::optional<kpv::Cursor> areaTrackView_cursorByTrackPosition(LMAreaTrackView*, LMTrackPosition position) override;
    bool areaTrackView_scrollWheel(LMAreaTrackView*, const kpv::Event& e) override;

private:
    void loadWindow();
    void setWindowVisible(bool visible);
    bool isWindowVisible() const;

    LMImageViewModel& m_openGLView;
    NavigateController& m_navigator;
    MainWndController& m_windowController;
    AppDelegate& m_delegate;
    std::unique_ptr<LMNormalCustomWindow> m_window;
    kpv::TextField* m_txtNavigateTitle = nullptr;
    LM3DRotateImageView* m_imageViewThumb = nullptr;
    LMAreaTrackView* m_trackViewZoom = nullptr;
    bool m_showStatus = false;
    bool m_placed = false;
    bool m_isImageRotating = false;
    LMImagePtr m_lastThumbImage;
    LMImageRotateAngle m_lastThumbRotateAngle;
};
