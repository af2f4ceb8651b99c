#pragma once

// Everything the image view knows without a GPU: the scale, offset and angle that place the image,
// the fit-in rule with its margins, the minimum and maximum scales and the scale modes, the mappings
// between view points, original-image pixels and decoded pixels, stepped and animated zoom, the
// frames of an animated image, the rotation animation, and the decisions behind wheel, gesture and
// press input. The OpenGL view (LMOpenGLView) derives from it and supplies the side effects through
// the virtual hooks at the bottom; tests drive it directly on the run loop's manual clock.
//
// Coordinates: view space is points with the origin at the bottom left (y up); original-image space
// is pixels of the file's raw frame, (0, 0, raw width, raw height), before orientation and angle.
// Scale is device pixels per original pixel; on a high-density screen (contents scale above 1) one
// point is two device pixels.
//
// Main thread only: timers fire on the main run loop and notifications are posted synchronously.

#include "Model/LMBlockRepeatTimer.h"
#include "Model/LMImage.h"
#include "Model/LMImageRotateAngle.h"
#include "View/LMMatrix.h"
#include "View/LMRegionTile.h"

#include <QImage>
#include <QMarginsF>
#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace kpv {
class Event;
}

// Notifications posted on the default centre with the view as sender and no user information.
extern const char *const LMOpenGLViewDoChangeScaleNotification;             // "doChangeScale"
extern const char *const LMOpenGLViewDoMoveImageNotification;               // "doMoveImage"
extern const char *const LMOpenGLViewDidChangeImageVisibleRectNotification; // "didChangeImageVisibleRect"
extern const char *const LMOpenGLViewDidChangeCurFitinScaleNotification;    // "didChangeCurFitinScale"
extern const char *const LMOpenGLViewBeginRotateNotification;               // "beginRotate"
extern const char *const LMOpenGLViewEndRotateNotification;                 // "endRotate"

// The three image slots.
enum ImageMode : int {
    ImageModeNormal = 0,  // the decoded image chosen for the current scale
    ImageModeFitin = 1,   // a decoded image of the fit-in size, the low-resolution filler
    ImageModeBadFile = 2, // shown for a file that cannot be decoded
};

enum ScaleMode : int {
    ScaleModeNone = 0,         // before any mode is set; behaves as fit-in
    ScaleModeFitin = 1,        // the fit-in scale, never above 1.0
    ScaleModeActualSize = 2,   // 1.0
    ScaleModeMaximum = 3,      // curMaxScale
    ScaleModeFitinEnlarge = 4, // fit-in that may enlarge above 1.0
};

// What started a zoom animation step.
enum ZoomSource : int {
    ZoomSourceStep = 1, // arrow keys, wheel and gesture deltas
    ZoomSourceUnused = 2,
    ZoomSourceFitin = 3,
    ZoomSourceActualSize = 4,
    ZoomSourceMaximum = 5,
    ZoomSourceFitinEnlarge = 6,
};

// What a plain mouse wheel does.
enum MouseWheelAction : int64_t {
    MouseWheelActionZoom = 0,
    MouseWheelActionPan = 1,
    MouseWheelActionPassOn = 2,
};

class LMImageViewModel {
public:
    LMImageViewModel();
    virtual ~LMImageViewModel();
    LMImageViewModel(const LMImageViewModel &) = delete;
    LMImageViewModel &operator=(const LMImageViewModel &) = delete;

    // ---- Host state (the view keeps these current) ----
    QRectF viewBounds() const { return m_viewBounds; }
    void setViewBounds(const QRectF &bounds) { m_viewBounds = bounds; }
    double contentsScale() const { return m_contentsScale; }
    void setContentsScale(double scale) { m_contentsScale = scale; }
    bool isRetinaScreen() const { return m_contentsScale > 1.0; }
    // Device pixels per point on the window's screen: 1, 2, or between (a screen scaled by 125%
    // or 150% is neither plain nor double).
    double pixelRatio() const { return m_contentsScale > 0 ? m_contentsScale : 1.0; }
    // The sender of the notifications (the view); this object when unset.
    const void *notificationObject() const { return m_notificationObject ? m_notificationObject : this; }
    void setNotificationObject(const void *object) { m_notificationObject = object; }

    // ---- Properties ----
    bool enable() const { return m_enable; }
    void setEnable(bool enable);
    int64_t mouseWheelAction() const { return m_mouseWheelAction; }
    void setMouseWheelAction(int64_t action) { m_mouseWheelAction = action; }
    bool animationZoom() const { return m_animationZoom; }
    void setAnimationZoom(bool animate) { m_animationZoom = animate; }
    bool imageSupportRotate() const { return m_imageSupportRotate; }
    void setImageSupportRotate(bool support) { m_imageSupportRotate = support; }
    double curMaxScale() const { return m_curMaxScale; }
    void setCurMaxScale(double scale) { m_curMaxScale = scale; }
    bool limitFitinBeMinScale() const { return m_limitFitinBeMinScale; }
    void setLimitFitinBeMinScale(bool limit) { m_limitFitinBeMinScale = limit; }
    bool fitinMode() const { return m_fitinMode; }
    const LMImageRotateAngle &angleRotate() const { return m_angleRotate; }
    QPointF offset() const { return m_offset; }
    int64_t curScaleMode() const { return m_curScaleMode; }
    int64_t curFrameIdx() const { return m_curFrameIdx; }
    int64_t viewPortMargin() const { return m_viewPortMargin; }
    bool inArrowKeyZoomSession() const { return m_inArrowKeyZoomSession; }
    bool needCheckScaleWhileFileChanged() const { return m_needCheckScaleWhileFileChanged; }
    bool isLayerAsynchronous() const { return m_layerAsynchronous; }
    double leftMargin() const { return m_leftMargin; }
    double topMargin() const { return m_topMargin; }
    double rightMargin() const { return m_rightMargin; }
    double bottomMargin() const { return m_bottomMargin; }

    // ---- Images ----
    LMImagePtr imageNormal() const { return m_imageNormal; }
    LMImagePtr imageFitin() const { return m_imageFitin; }
    LMImagePtr imageBadFile() const { return m_imageBadFile; }
    // The slot's image; nullptr for an unknown mode.
    LMImagePtr imageByImageMode(int mode) const;
    // The normal image, else the fit-in image, else the bad-file image.
    LMImagePtr validImage() const;
    void setImage(const LMImagePtr &image, int imageMode);
    void setImage(const LMImagePtr &image, int imageMode, const std::optional<LMImageRotateAngle> &angle);
    void didChangeFile();
    // Empties the view for the next file; with `keep` the first image of that file is laid out at
    // the present scale instead of fitted.
    void didChangeFileByKeepPrevScale(bool keep);
    // The same for a next file whose first picture is still on its way: the picture on screen
    // stays there until the view is given one it draws (a normal or bad-file image), the hold is
    // released, or the file changes again without one. Only the screen waits: the place, scale
    // and turn are the next file's at once, and the picture held is drawn as it was, never under
    // them. A step on while a hold lasts keeps it.
    void didChangeFileHoldingPicture(bool keep);
    void releaseHeldPicture();
    bool holdsPicture() const { return m_pictureHeld; }

    // ---- Geometry ----
    // The scale in force: the fit-in scale in fit-in mode, else the stored one; 0 reads as 1.
    double scale() const;
    void setScale(double scale);
    void setScale(double scale, const std::optional<QPointF> &holdPosition, bool checkUpdateFitinMode);
    // The central change of scale and angle: clamps the scale, keeps the image point under the hold
    // point (the fit-in centre when absent or outside the fit-in bounds), then commits.
    void adjustDispImageByNewScale(double scale, bool checkUpdateFitinMode, const LMImageRotateAngle &angle,
                                   const std::optional<QPointF> &holdPosition, bool forceUpdateDrawContent);
    void setNewScale(double scale, bool checkUpdateFitinMode, const LMImageRotateAngle &angle, QPointF offset,
                     bool forceUpdateDrawContent, bool notifyFlag);
    void postNotificationByOldScale(double oldScale, const LMImageRotateAngle &oldAngle, QPointF oldOffset,
                                    bool forceNotifyImageVisibleRectChanged);
    // Takes the offset as given (callers pass clamped offsets).
    void setOffset(QPointF offset);
    // Pans by a delta in view points as far as the fit-in bounds allow.
    void moveImageByDeltaPoint(QPointF delta);
    void setFitinLeftMargin(double left, double top, double right, double bottom);
    // What stays over the picture along the view's edges (view points; a strip along the top, the
    // bar along the bottom), asked at each pan: a picture larger than the view pans so far that
    // its edges come out from under them. Fitting, centring and zooming in place are unchanged.
    void setCoveredEdgesProvider(std::function<QMarginsF()> provider) { m_coveredEdges = std::move(provider); }
    void setViewPortMargin(int64_t margin);
    QSizeF viewPortSizeScale() const;
    QRectF getBoundsForFitin() const;
    double calcFitinScale() const;
    double calcFitinScaleForImage(const LMFileImgBaseInfoPtr &info, const LMImageRotateAngle &angle) const;
    double curMinScale() const;
    double minScaleByNewAngle(const LMImageRotateAngle &angle) const;
    double calcMinScaleByFitinScale(double fitinScale) const;
    void setNewScaleMode(int64_t mode) { m_curScaleMode = mode; }
    void switchToScaleMode(int64_t mode);
    void redrawImage();
    // YES while a zoom step runs: the drawing then fills gaps with the fit-in tiles.
    bool needOptimizeDrawImage() const;

    // ---- Sharp regions ----
    // Parts of the picture decoded at the resolution a zoomed-in view needs, drawn over the
    // normal image where they are finer than it (and, during a zoom, under its tiles still on
    // their way); a new file empties them.
    void setRegionTiles(std::vector<LMRegionTilePtr> tiles);
    const std::vector<LMRegionTilePtr> &regionTiles() const { return m_regionTiles; }
    // The part of the picture (original-image pixels, within its frame) the view would show at
    // `scale` with the image point under `holdPosition` kept in place, as a zoom to that scale
    // ends; empty without a normal image.
    QRectF originalRectShownAtScale(double scale, const std::optional<QPointF> &holdPosition) const;

    // ---- Mappings ----
    QRectF mapToOriginalRect(const QRectF &rect, bool alignBorder) const;
    QRectF mapToOriginalRect(const QRectF &rect, bool alignBorder, const LMImagePtr &image) const;
    QRectF mapToImageRect(const QRectF &rect) const;
    QRectF mapToImageRect(const QRectF &rect, const LMImagePtr &image) const;
    QRectF convertToOriginalImageRectForRect(const QRectF &rect) const { return mapToOriginalRect(rect, true); }
    QPointF convertToOriginalImagePointForPoint(QPointF point) const;
    bool isPointOnImage(QPointF point) const;
    bool canDragImage(QPointF point) const;
    // YES when part of the image lies outside the fit-in bounds.
    bool canDragImageWithoutCheckCursorPosition() const;
    // The same once a running zoom has landed (now, when none runs): a picture on its way to
    // fitting its bounds is one the arrow keys step past, not one they pan.
    bool canDragImageWhenSettled() const;
    QRectF imageVisibleViewRect() const;
    QRectF imageVisibleViewRectByOriginalImageRect(const QRectF &rect) const;
    QRectF calcFitinVisibleViewRectForImageWithoutModified(const LMImagePtr &image) const;
    QRectF calcVisibleViewRectForImageWithoutModified(const LMImagePtr &image, double scale) const;
    QRectF adjustImageViewRectInFitinBounds(QRectF rect) const;
    // Each of these takes the screen's pixel ratio, or the Retina flag (2 or 1).
    QPointF calcOffsetFromImageViewRect(const QRectF &from, const QRectF &to, double scale, double pixelRatio) const;
    QPointF calcOffsetFromImageViewRect(const QRectF &from, const QRectF &to, double scale, bool isRetinaScreen) const
    {
        return calcOffsetFromImageViewRect(from, to, scale, isRetinaScreen ? 2.0 : 1.0);
    }
    QPointF calcNewOffsetByNewScale(double scale, const LMImageRotateAngle &angle, QPointF holdPosition) const;
    // At scale 1 the offset lands on whole device pixels.
    static QPointF adjustOffset(QPointF offset, double scale, double pixelRatio);
    static QPointF adjustOffset(QPointF offset, double scale, bool isRetinaScreen)
    {
        return adjustOffset(offset, scale, isRetinaScreen ? 2.0 : 1.0);
    }

    // Original-image pixels to view points and back.
    static LMMatrix matrixFromOriginalImageToView(const LMImagePtr &image, double scale, const LMImageRotateAngle &angle,
                                                  QPointF offset, const QRectF &fitinBounds, QSizeF viewPortSizeScale,
                                                  double pixelRatio);
    static LMMatrix matrixFromOriginalImageToView(const LMImagePtr &image, double scale, const LMImageRotateAngle &angle,
                                                  QPointF offset, const QRectF &fitinBounds, QSizeF viewPortSizeScale,
                                                  bool isRetinaScreen)
    {
        return matrixFromOriginalImageToView(image, scale, angle, offset, fitinBounds, viewPortSizeScale,
                                             isRetinaScreen ? 2.0 : 1.0);
    }
    static LMMatrix matrixFromViewToOriginalImage(const LMImagePtr &image, double scale, const LMImageRotateAngle &angle,
                                                  QPointF offset, const QRectF &fitinBounds, QSizeF viewPortSizeScale,
                                                  double pixelRatio);
    static LMMatrix matrixFromViewToOriginalImage(const LMImagePtr &image, double scale, const LMImageRotateAngle &angle,
                                                  QPointF offset, const QRectF &fitinBounds, QSizeF viewPortSizeScale,
                                                  bool isRetinaScreen)
    {
        return matrixFromViewToOriginalImage(image, scale, angle, offset, fitinBounds, viewPortSizeScale,
                                             isRetinaScreen ? 2.0 : 1.0);
    }
    // Raw pixels to the shown orientation about the image's centre (no scale, no offset).
    static LMMatrix matrixFromRawImageCropRectToVisualCropRect(const LMImagePtr &image, const LMImageRotateAngle &angle);
    QRectF rawImageCropRectToVisualCropRect(const QRectF &rect) const;
    QPointF rawImagePointToVisualPoint(QPointF point) const;
    QRectF rawImageCropRectFromVisualCropRect(const QRectF &rect) const;

    // ---- Zoom ----
    static double calcLimitScaleEndZoom(double scale, bool zoomIn, bool skipOriginalScale, double minScale, double maxScale);
    static double calcScaleEndZoom(double scale, bool zoomIn, double multiple, bool skipOriginalScale, double minScale,
                                   double maxScale);
    bool canZoom(bool zoomIn) const { return canZoom(zoomIn, true); }
    bool canZoom(bool zoomIn, bool skipOriginalScale) const;
    void beginArrowKeyZoom(bool zoomIn);
    void endArrowKeyZoom() { m_inArrowKeyZoomSession = false; }
    // YES when the view took the wheel or gesture delta (also when it changed nothing).
    bool beginZoomByDelta(double delta, const std::optional<QPointF> &holdPosition);
    void zoomWithoutAnimation(bool zoomIn, const std::optional<QPointF> &holdPosition);
    void startZoomTimerForType(int zoomSource, bool zoomIn, double endScale, const std::optional<QPointF> &holdPosition,
                               double zoomSessionEnterTime, bool arrowKeyFirstZoom, double limitScale);
    // The animated scale now; through the pointers, whether the step ends and whether a next step
    // should begin (either may be null).
    double calcScaleByZoomTimer(bool *end, bool *resetTimer) const;
    // One tick; YES when the zoom has ended.
    bool zoomTimerHandler();
    void stopZoomTimer();
    void abortZoom() { stopZoomTimer(); }
    // Ends a running zoom at once on the scale and place where it would have landed (a zoom to fit
    // enters fit-in mode); `notify` posts the change as a step of the zoom does.
    void finishZoom(bool notify);
    // The scale a running zoom lands on, clamped as a commit clamps it; the scale when none runs.
    double zoomLandingScale() const;
    bool isZoomTimerRunning() const { return m_zoomTimer && m_zoomTimer->isTimerRunning(); }
    QVariantMap zoomTimerUserInfo() const { return m_zoomTimer ? m_zoomTimer->userInfo() : QVariantMap(); }
    std::optional<QPointF> zoomHoldPosition() const;
    // What each frame of the asynchronous layer does first during a zoom step: applies the animated
    // scale now, with the fit-in check on.
    void advanceZoomForFrame();

    // ---- Frames and rotation ----
    void updateFrameSwitchTimer();
    void stopFrameSwitchTimer();
    void frameSwitchTimerHandler();
    bool isFrameSwitchTimerRunning() const { return m_frameSwitchTimer && m_frameSwitchTimer->isTimerRunning(); }
    // A view nobody can see (its window minimised or hidden, or the view disabled under another
    // mode) holds its animation on the frame it shows, with no timer left to wake the program;
    // back on screen and enabled it goes on from that frame.
    void setOnScreen(bool onScreen);
    bool isOnScreen() const { return m_onScreen; }
    // While the normal image holds only the frames decoded so far, the animation waits on its last
    // frame instead of starting over. A new file clears it.
    void setFramesStillDecoding(bool decoding) { m_framesStillDecoding = decoding; }
    bool framesStillDecoding() const { return m_framesStillDecoding; }
    // The frame to draw from the normal image: the current one, or 0 when that image has fewer.
    int64_t drawableFrameIdx() const;
    // Rotates or flips with a 0.3 s animation (RotateAction).
    void rotate(int action);
    // NO when the angle is already in force; otherwise re-lays the image out at the new angle.
    bool setAngleRotate(const LMImageRotateAngle &angle);
    void resetRotateAngle();
    // Ends a running rotation animation on its end state.
    void endRotate();
    bool isRotateTimerRunning() const { return m_rotateTimer && m_rotateTimer->isTimerRunning(); }
    void notifyChangeCurFitinScale();

    // ---- Input decisions (events arrive through the view; NO means "pass it on") ----
    bool handleScrollWheel(const kpv::Event &event, QPointF pointInView);
    bool handleMagnify(const kpv::Event &event);
    bool handleSmartMagnify();
    bool handleRotateGesture(const kpv::Event &event);
    bool canRotate() const;
    // Whether a press at the point is the view's (a single click on the image of an enabled view).
    bool takesMouseDown(QPointF pointInView, int clickCount) const;
    // The part of the normal image under a view rect, in the stored orientation; through `angle` the
    // whole degrees (0..359) by which it is to be turned for showing.
    QImage cropImageForRect(const QRectF &rect, int *angle) const;
    QImage cropImageForVisibleRect(int *angle) const { return cropImageForRect(m_viewBounds, angle); }

    // ---- Hooks for the drawing side; the defaults only count, for tests ----
    enum class TileSet { Normal, Fitin };
    // Rebuild the tiles to draw and redraw (not while the layer is asynchronous).
    virtual void setNeedsUpdateDrawContent();
    // The animation moved to another frame; nothing else changed.
    virtual void setNeedsUpdateFrameContent() { setNeedsUpdateDrawContent(); }
    virtual void invalidateCursorRects() { ++m_cursorInvalidations; }
    // Continuous redrawing during a zoom animation.
    virtual void setLayerAsynchronous(bool asynchronous) { m_layerAsynchronous = asynchronous; }
    virtual void recoveryTextures(TileSet set) {}
    // The image slots were emptied for a new file.
    virtual void didEmptyImageSlots() {}
    // Keep what the view shows on screen (NO when the drawing side cannot), and let go of it.
    virtual bool holdShownPicture() { return true; }
    virtual void releaseShownPicture() {}
    // Other sharp regions are to be drawn.
    virtual void didChangeRegionTiles() { setNeedsUpdateDrawContent(); }
    // A finer picture of the file shown, which the view takes when the user zooms in: the drawing
    // side makes ahead its tiles that cover `imageRect` (pixels of that picture), so that the
    // zoom's first frames show its pixels. A null image, or a new file, drops them.
    virtual void prepareTilesAhead(const LMImagePtr &image, const QRectF &imageRect)
    {
        m_imageAhead = image;
        m_imageAheadRect = image ? imageRect : QRectF();
    }
    const LMImagePtr &imageAhead() const { return m_imageAhead; }
    const QRectF &imageAheadRect() const { return m_imageAheadRect; }
    virtual void enableShadow(bool enabled) { m_shadowEnabled = enabled; }
    bool shadowEnabled() const { return m_shadowEnabled; }
    int drawContentUpdates() const { return m_drawContentUpdates; }
    int cursorInvalidations() const { return m_cursorInvalidations; }

protected:
    double now() const;
    void postNotification(const char *name) const;
    // The inverse of the current placement; nullopt while it cannot be inverted (an image seen
    // edge-on in the middle of a flip).
    std::optional<LMMatrix> currentInverseMatrix() const;
    LMMatrix currentMatrix() const;
    bool m_shadowEnabled = true;

private:
    QRectF rawFrameRectOf(const LMImagePtr &image) const;
    bool canDragImageAt(double scale, const LMImageRotateAngle &angle, QPointF offset) const;
    // The offset that keeps the running zoom's image point under its hold point (the fit-in centre
    // without one) at `scale`.
    QPointF zoomOffsetForScale(double scale) const;
    // The hold point a zoom keeps: the given one inside the fit-in bounds, else their centre.
    QPointF zoomHoldViewPoint(const std::optional<QPointF> &holdPosition) const;
    // The original-image point under a view point (the one under the fit-in centre when it is off
    // the image), and the offset that puts that image point under the view point at `scale`.
    QPointF imagePointHeldAt(QPointF holdPosition) const;
    QPointF offsetHoldingImagePoint(double scale, const LMImageRotateAngle &angle, QPointF imagePoint,
                                    QPointF holdPosition) const;
    // One frame of a running zoom at `scale`, clamped as a commit clamps it.
    void applyZoomScale(double scale, bool checkUpdateFitinMode);
    void applyRotationFrame(double p);
    void emptyForNextFile(bool keep);

    QRectF m_viewBounds;
    double m_contentsScale = 1.0;
    const void *m_notificationObject = nullptr;

    double m_leftMargin = 0, m_topMargin = 0, m_rightMargin = 0, m_bottomMargin = 0;
    std::function<QMarginsF()> m_coveredEdges;
    bool m_limitFitinBeMinScale = true;
    double m_curMaxScale = 4.0;
    bool m_enable = true;
    int64_t m_mouseWheelAction = MouseWheelActionZoom;
    bool m_animationZoom = true;
    LMImagePtr m_imageNormal, m_imageFitin, m_imageBadFile;
    bool m_imageSupportRotate = false;
    LMImageRotateAngle m_angleRotate;
    bool m_fitinMode = true;
    double m_scale = 0.0;
    QPointF m_offset;
    int64_t m_curFrameIdx = 0;
    int64_t m_viewPortMargin = 0;
    bool m_needCheckScaleWhileFileChanged = false;
    bool m_pictureHeld = false;
    std::unique_ptr<LMBlockRepeatTimer> m_zoomTimer;
    bool m_inArrowKeyZoomSession = false;
    // The image point the running zoom keeps under its hold point, taken as the zoom starts: taken
    // again at every frame, a picture centred on its way (smaller than the view) would carry
    // another point there, and the zoom would end far from where the user pointed.
    QPointF m_zoomImagePoint;
    std::unique_ptr<LMBlockRepeatTimer> m_frameSwitchTimer;
    bool m_framesStillDecoding = false;
    bool m_onScreen = true;
    std::unique_ptr<LMBlockRepeatTimer> m_rotateTimer;
    double m_rotateDetectBeginTime = 0, m_rotateDetectLastTime = 0, m_totalRotateDegreeFromBegin = 0;
    int64_t m_curScaleMode = ScaleModeNone;
    std::vector<LMRegionTilePtr> m_regionTiles;
    LMImagePtr m_imageAhead;
    QRectF m_imageAheadRect;
    bool m_layerAsynchronous = false;

    // The running rotation animation, so that an early end can land on its last frame.
    struct RotationRun {
        LMImageRotateAngle oldAngle, newAngle;
        double s0 = 0, s1 = 0;
        QPointF o0, o1;
        double t0 = 0;
        bool reachedEnd = false;
    };
    RotationRun m_rotation;

    int m_drawContentUpdates = 0;
    int m_cursorInvalidations = 0;
};
