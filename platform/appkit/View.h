#pragma once
// A rectangle of a window that draws and receives events. Frames are in the superview's
// coordinates with the origin at the bottom-left and y up, unless the superview is flipped.
// A superview owns its subviews: addSubview takes ownership, removeFromSuperview hands it back.

#include "appkit/Cursor.h"
#include "appkit/Event.h"
#include "appkit/Geometry.h"
#include "appkit/TrackingArea.h"

#include <QPointer>
#include <QString>

class QImage;
class QRect;
#include <functional>
#include <memory>
#include <vector>

class QWidget;

namespace kpv {

class GraphicsContext;
class TextInputClient;
class Window;
class ViewWidget;

enum AutoresizingMask : unsigned {
    ViewNotSizable = 0,
    ViewMinXMargin = 1,
    ViewWidthSizable = 2,
    ViewMaxXMargin = 4,
    ViewMinYMargin = 8,
    ViewHeightSizable = 16,
    ViewMaxYMargin = 32,
};

class View {
public:
    explicit View(const Rect& frame = Rect());
    virtual ~View();
    View(const View&) = delete;
    View& operator=(const View&) = delete;

    QWidget* widget() const;

    // Geometry
    Rect frame() const { return m_frame; }
    virtual void setFrame(const Rect& frame);
    void setFrameOrigin(Point origin) { setFrame(Rect(origin, m_frame.size)); }
    void setFrameSize(Size size) { setFrame(Rect(m_frame.origin, size)); }
    Rect bounds() const { return Rect(0, 0, m_frame.width(), m_frame.height()); }
    virtual bool isFlipped() const { return false; }
    unsigned autoresizingMask() const { return m_autoresizingMask; }
    void setAutoresizingMask(unsigned mask) { m_autoresizingMask = mask; }
    virtual void resizeSubviewsWithOldSize(Size oldSize);
    virtual void resizeWithOldSuperviewSize(Size oldSize);
    // The part of the bounds not clipped away by the superviews.
    Rect visibleRect() const;

    // Hierarchy
    View* superview() const { return m_superview; }
    const std::vector<View*>& subviews() const { return m_subviews; }
    void addSubview(View* view);
    // Above (`above` true) or below `relativeTo` (nullptr: all of them).
    void addSubview(View* view, bool above, View* relativeTo);
    // Detaches the view; the caller owns it afterwards.
    void removeFromSuperview();
    bool isDescendantOf(const View* other) const;
    Window* window() const;
    virtual void viewWillMoveToWindow(Window*) {}
    virtual void viewDidMoveToWindow() {}
    virtual void viewDidMoveToSuperview() {}

    // Display
    bool isHidden() const { return m_hidden; }
    virtual void setHidden(bool hidden);
    bool isHiddenOrHasHiddenAncestor() const;
    double alphaValue() const { return m_alpha; }
    void setAlphaValue(double alpha);
    // Animates the alpha value to `alpha` over `duration` seconds on the run loop's timers,
    // then calls `completion` (also when a new animation or setAlphaValue replaces it, with
    // `finished` false).
    void animateAlphaValue(double alpha, double duration, std::function<void(bool finished)> completion = {});
    bool isAnimatingAlpha() const;
    bool needsDisplay() const { return m_needsDisplay; }
    void setNeedsDisplay(bool flag = true);
    void setNeedsDisplayInRect(const Rect& r);
    // Draws now (the widget repaints synchronously).
    void display();
    bool wantsLayer() const { return m_wantsLayer; }
    void setWantsLayer(bool w) { m_wantsLayer = w; }
    // Subclasses draw here; the current GraphicsContext is set to this view's coordinates.
    virtual void drawRect(const Rect& dirtyRect);
    // Whether drawRect paints anything. A container that only holds subviews says no: what it
    // shows then lies where they lie, and a fade pictures only that part.
    virtual bool drawsOwnContent() const { return true; }
    // Told before the view's own content is to be redrawn (setNeedsDisplay, setNeedsDisplayInRect,
    // display), with the widget pixels (y down) of that part; null for the whole view.
    virtual void contentWillRedraw(const QRect* widgetRect) {}
    // Renders the view and its subviews into an image at `scale` device pixels per point.
    QImage renderToImage(double scale = 1.0);

    // Coordinates. A null view means the window's coordinates.
    Point convertPointFromView(Point p, const View* from) const;
    Point convertPointToView(Point p, const View* to) const;
    Rect convertRectFromView(const Rect& r, const View* from) const;
    Rect convertRectToView(const Rect& r, const View* to) const;
    // The point in the superview's coordinates; the deepest visible view there, or nullptr.
    virtual View* hitTest(Point pointInSuperview);
    bool mouseInBounds(Point pointInView) const { return mouseInRect(pointInView, bounds(), isFlipped()); }

    // Responder. Unhandled events go up to the superview, then the window.
    virtual bool acceptsFirstResponder() const { return false; }
    virtual bool acceptsFirstMouse(const Event*) const { return false; }
    virtual bool becomeFirstResponder() { return true; }
    virtual bool resignFirstResponder() { return true; }
    virtual void mouseDown(const Event& e);
    virtual void mouseUp(const Event& e);
    virtual void mouseDragged(const Event& e);
    virtual void mouseMoved(const Event& e);
    virtual void mouseEntered(const Event& e);
    virtual void mouseExited(const Event& e);
    virtual void rightMouseDown(const Event& e);
    virtual void rightMouseUp(const Event& e);
    virtual void rightMouseDragged(const Event& e);
    virtual void otherMouseDown(const Event& e);
    virtual void otherMouseUp(const Event& e);
    virtual void scrollWheel(const Event& e);
    virtual void keyDown(const Event& e);
    virtual void keyUp(const Event& e);
    virtual void flagsChanged(const Event& e);
    virtual void magnifyWithEvent(const Event& e);
    virtual void rotateWithEvent(const Event& e);
    virtual void swipeWithEvent(const Event& e);
    virtual void smartMagnifyWithEvent(const Event& e);
    virtual void cursorUpdate(const Event& e);
    // A context menu for a right click; the default asks the superview.
    virtual class Menu* menuForEvent(const Event& e);
    // A view that edits text answers what the input method talks to while it is first responder.
    virtual TextInputClient* textInputClient() { return nullptr; }

    // Keyboard focus. A view of a kind that takes it (acceptsKeyFocus) and can take it now
    // (canBecomeKeyView: shown, and enabled where it has such a flag) has a place in its window's
    // Tab loop, where the window keeps one, and in the Tab order of a toolkit dialog that shows it.
    // While it has the focus it is offered each key first through performKeyAction. A view that
    // takes the focus only from the keyboard (no first responder for clicks) shows it with a ring
    // drawn over it; a text view shows its caret instead.
    virtual bool acceptsKeyFocus() const { return acceptsFirstResponder(); }
    virtual bool canBecomeKeyView() const { return acceptsKeyFocus() && !isHiddenOrHasHiddenAncestor(); }
    // A key pressed while the view has the focus; true when the view used it.
    virtual bool performKeyAction(const Event&) { return false; }
    // Told when Tab or Shift+Tab brought the focus here: a text view selects its whole text, so
    // that typing replaces it.
    virtual void didReceiveKeyFocusFromKeyboard() {}
    // Where the menu key (or Shift+F10) right-clicks the view while it has the focus, in its own
    // coordinates: the middle of what shows of it, unless the view knows its chosen part.
    virtual Point contextMenuLocationForKeyboard() const;
    // Whether the view has the keyboard focus: its window's first responder, or the focus of the
    // toolkit dialog that shows it.
    bool hasKeyFocus() const;
    // Shows or hides the ring of a view that takes the focus only from the keyboard (called as
    // the focus moves).
    void updateFocusRing();
    // The ring drawn round this view while it shows the keyboard focus: just outside the view,
    // over nothing of its own (nullptr before it was first shown).
    const QWidget* focusRing() const;
    // This view and those inside it that take the keyboard focus, in the order they stand on
    // screen: rows from the top down, each from left to right. `availableNow` leaves out those
    // that cannot take it now (hidden, disabled). A view laid out in columns (a list of choices
    // that runs down one column and on in the next) is read so: its controls column by column,
    // each top down, while the view itself takes its place among the rows around it.
    std::vector<View*> keyViewsInScreenOrder(bool availableNow = true);
    void setKeyViewsReadInColumns(bool columns) { m_keyViewsReadInColumns = columns; }
    bool keyViewsReadInColumns() const { return m_keyViewsReadInColumns; }

    // Tracking areas
    void addTrackingArea(const TrackingAreaPtr& area);
    void removeTrackingArea(const TrackingAreaPtr& area);
    const std::vector<TrackingAreaPtr>& trackingAreas() const { return m_trackingAreas; }
    // Called when the view's geometry or window changes: subclasses replace their areas here.
    virtual void updateTrackingAreas() {}

    // Cursor rectangles (rebuilt through resetCursorRects when invalidated)
    virtual void resetCursorRects() {}
    void addCursorRect(const Rect& r, const Cursor& cursor);
    void discardCursorRects();
    struct CursorRect {
        Rect rect;
        Cursor cursor;
    };
    const std::vector<CursorRect>& cursorRects();

    // Tool tips
    QString toolTip() const { return m_toolTip; }
    virtual void setToolTip(const QString& tip);
    // Two fingers on a touch screen pinching over the view arrive as magnify events; one finger
    // still acts as the mouse.
    void setAcceptsTouchPinch(bool accepts);

    // Pictures of fading views drawn so far in the process (a fade draws its view's picture once).
    static int fadePicturesDrawnForTesting();

    // Window bookkeeping, for Window only.
    void setWindowInternal(Window* w);
    void updateWidgetGeometry();

protected:
    // For views whose widget must be a special QWidget subclass (the OpenGL view). The widget
    // is taken over; it must call View::paintFromWidget from its paint handler when it draws
    // through drawRect.
    View(const Rect& frame, QWidget* customWidget);
    void paintFromWidget(class QPainter* painter);
    friend class ViewWidget;

private:
    void init(QWidget* w);
    void applyAlphaValue(double alpha, bool fading);
    static void stepAlphaAnimations();
    void stepAlphaAnimation(double now);
    void attachTo(View* superview, bool above, View* relativeTo);

    Rect m_frame;
    View* m_superview = nullptr;
    Window* m_window = nullptr;
    std::vector<View*> m_subviews;
    QWidget* m_widget = nullptr;
    bool m_hidden = false;
    double m_alpha = 1.0;
    bool m_needsDisplay = false;
    bool m_wantsLayer = false;
    unsigned m_autoresizingMask = 0;
    std::vector<TrackingAreaPtr> m_trackingAreas;
    std::vector<CursorRect> m_cursorRects;
    bool m_cursorRectsValid = false;
    QString m_toolTip;
    struct AlphaAnimation;
    std::unique_ptr<AlphaAnimation> m_alphaAnimation;
    QPointer<QWidget> m_focusRing; // round m_widget in its parent (or the nearest container where it is whole), made when first shown
    bool m_keyViewsReadInColumns = false;
};

} // namespace kpv
