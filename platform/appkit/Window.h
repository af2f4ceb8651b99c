#pragma once
// A top-level window. Its frame is in screen coordinates (origin at the bottom-left of the
// primary screen, y up); window coordinates have their origin at the content's bottom-left.
// Key and main state changes post notifications on the default NotificationCenter with the
// window as sender.

#include "appkit/Color.h"
#include "appkit/Event.h"
#include "appkit/Geometry.h"
#include "appkit/TrackingArea.h"

#include <QPointer>
#include <QRegion>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

class QWidget;

namespace kpv {

class DesktopStateWatch;
class View;
class WindowWidget;

enum WindowStyleMask : unsigned {
    BorderlessWindowMask = 0,
    TitledWindowMask = 1 << 0,
    ClosableWindowMask = 1 << 1,
    MiniaturizableWindowMask = 1 << 2,
    ResizableWindowMask = 1 << 3,
    FullScreenWindowMask = 1 << 14,
};

enum WindowLevel : int {
    NormalWindowLevel = 0,
    FloatingWindowLevel = 3,
};

// Return codes of sheets and panels.
enum ModalResponse : long {
    ModalResponseOK = 1,
    ModalResponseCancel = 0,
    AlertDefaultReturn = 1,
    AlertAlternateReturn = 0,
    AlertOtherReturn = -1,
    // An alert closed by Esc when no button of it cancels (see AlertEscape).
    AlertDismissedReturn = -2,
};

extern const char* const WindowDidBecomeKeyNotification;
extern const char* const WindowDidResignKeyNotification;
extern const char* const WindowDidBecomeMainNotification;
extern const char* const WindowDidResignMainNotification;
extern const char* const WindowWillCloseNotification;
extern const char* const WindowDidResizeNotification;
extern const char* const WindowDidMoveNotification;
extern const char* const WindowDidEnterFullScreenNotification;
extern const char* const WindowDidExitFullScreenNotification;
// Posted when the window comes on screen or leaves it: shown or hidden, minimised or restored,
// covered entirely by other windows or uncovered.
extern const char* const WindowDidChangeOnScreenNotification;

struct Screen {
    Rect frame;
    Rect visibleFrame;
    double backingScaleFactor = 1.0;
    static Screen mainScreen();
    // Every screen of the desktop, the main one first.
    static std::vector<Screen> screens();
};

class Window;

class WindowDelegate {
public:
    virtual ~WindowDelegate() = default;
    virtual bool windowShouldClose(Window*) { return true; }
    virtual void windowWillClose(Window*) {}
    virtual void windowDidResize(Window*) {}
};

class Window {
public:
    Window(const Rect& contentRect, unsigned styleMask);
    virtual ~Window();
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    QWidget* widget() const;

    // Content. The window owns its content view.
    View* contentView() const { return m_contentView; }
    void setContentView(View* view);

    unsigned styleMask() const { return m_styleMask; }
    void setStyleMask(unsigned mask);
    bool isOpaque() const { return m_opaque; }
    // A translucent window drawn with see-through corners or margins: where no compositing
    // manager runs (a bare X11 window manager), those parts would show black, so the window is
    // cut to the shape its content paints instead. Off by default.
    void setCutToPaintedShape(bool cut);
    // The shape the window is cut to; empty while it is not cut.
    QRegion cutShape() const;
    // Whether a compositing manager draws the windows (always outside X11).
    static bool desktopComposited();
    void setOpaque(bool opaque);
    Color backgroundColor() const { return m_backgroundColor; }
    void setBackgroundColor(const Color& c);
    bool hasShadow() const { return m_hasShadow; }
    void setHasShadow(bool s) { m_hasShadow = s; }
    QString title() const { return m_title; }
    void setTitle(const QString& t);
    int level() const { return m_level; }
    // A window above the normal level stays on top of the others and is otherwise an ordinary
    // window: in the task bar and the window switcher. Only a floating panel is a utility window.
    void setLevel(int level);
    bool isFloatingPanel() const { return m_floatingPanel; }
    void setFloatingPanel(bool panel);
    // The window this one belongs to (a panel's main window), nullptr for none: the window
    // manager keeps it above that window in every state, full screen included, where a window
    // merely kept on top goes under the full-screen one.
    void setParentWindow(Window* parent);
    WindowDelegate* delegate() const { return m_delegate; }
    void setDelegate(WindowDelegate* d) { m_delegate = d; }

    // Geometry (screen coordinates).
    Rect frame() const;
    void setFrame(const Rect& frame, bool display = true, bool animate = false);
    void setFrameOrigin(Point p);
    void setContentSize(Size s);
    void center();
    Screen screen() const;
    double backingScaleFactor() const;
    // Tests: pretend the window's device pixel density.
    void setBackingScaleFactorOverride(double scale) { m_scaleOverride = scale; }
    Point convertPointToScreen(Point p) const;
    Point convertPointFromScreen(Point p) const;
    Rect convertRectToScreen(const Rect& r) const;
    Rect convertRectFromScreen(const Rect& r) const;

    // Ordering and state.
    bool isVisible() const;
    // Shown, not minimised and not covered entirely by other windows, by the toolkit's count and
    // by the desktop's word on the display: what it draws can be seen. Animations of a window off
    // screen wait.
    bool isOnScreen() const;
    void makeKeyAndOrderFront();
    void orderFront();
    void orderOut();
    virtual void close();
    void performClose();
    bool isReleasedWhenClosed() const { return false; }
    virtual bool canBecomeKeyWindow() const;
    virtual bool canBecomeMainWindow() const;
    bool isKeyWindow() const;
    bool isMainWindow() const;
    void makeKeyWindow();
    // The dialog that holds this window now (a sheet or modal alert over it), or nullptr.
    QWidget* blockingDialog() const;
    void makeMainWindow();
    virtual void becomeKeyWindow();
    virtual void resignKeyWindow();
    virtual void becomeMainWindow();
    virtual void resignMainWindow();
    // Asks the system for full screen or back. A window the window manager puts into full screen or
    // out of it by itself (its own key, a menu of the title bar) follows through
    // fullScreenChangedBySystem.
    void toggleFullScreen();
    bool isFullScreen() const { return (m_styleMask & FullScreenWindowMask) != 0; }
    bool isMovableByWindowBackground() const { return m_movableByBackground; }
    void setMovableByWindowBackground(bool m) { m_movableByBackground = m; }
    bool ignoresMouseEvents() const { return m_ignoresMouseEvents; }
    void setIgnoresMouseEvents(bool ignore);

    // Events.
    // The pointer's position in window coordinates, as of the last mouse event the window saw.
    Point mouseLocationOutsideOfEventStream() const { return m_mouseLocation; }
    void setMouseLocationInternal(Point p) { m_mouseLocation = p; }
    // Dispatches an event that passed the application's monitors.
    virtual void sendEvent(const EventPtr& e);
    // The next event for this window matching the mask, from a nested loop (see Application).
    EventPtr nextEventMatchingMask(EventMask mask);
    View* firstResponder() const { return m_firstResponder; }
    // Takes a view that accepts first responder or can become a key view (see View).
    bool makeFirstResponder(View* view);
    // With the loop on, Tab and Shift+Tab move the first responder through the window's key views
    // in the order they stand on screen, round from the last to the first; a text view that is
    // first responder gets Tab itself and passes it on here. Off by default: in a window whose
    // keys belong to what it shows (the main window's modes), Tab stays theirs.
    void setAutorecalculatesKeyViewLoop(bool on) { m_keyViewLoop = on; }
    bool autorecalculatesKeyViewLoop() const { return m_keyViewLoop; }
    void selectNextKeyView() { selectKeyView(true); }
    void selectPreviousKeyView() { selectKeyView(false); }
    // End of the responder chain.
    virtual void mouseDown(const Event& e);
    virtual void mouseUp(const Event&) {}
    virtual void mouseDragged(const Event& e);
    virtual void rightMouseDown(const Event&) {}
    virtual void rightMouseUp(const Event&) {}
    virtual void rightMouseDragged(const Event&) {}
    virtual void otherMouseDown(const Event&) {}
    virtual void otherMouseUp(const Event&) {}
    virtual void scrollWheel(const Event&) {}
    virtual void keyDown(const Event&) {}
    virtual void keyUp(const Event&) {}
    virtual void flagsChanged(const Event&) {}
    virtual void magnifyWithEvent(const Event&) {}
    virtual void rotateWithEvent(const Event&) {}
    virtual void swipeWithEvent(const Event&) {}
    virtual void smartMagnifyWithEvent(const Event&) {}
    // Rechecks every tracking area against the mouse location, sending entered and exited events
    // through the application (so monitors see them) and moved events to owners that want them.
    void updateTrackingForMouse(Point locationInWindow, bool mouseInWindow, const Event* cause);
    void invalidateCursorRectsForView(View* view);
    // Does nothing: drawing reaches the screen through the toolkit's own flush.
    void flushWindow() {}
    void display();

    // Sheets: a window-modal child. The handler gets the return code of endSheet.
    void beginSheet(Window* sheet, std::function<void(long returnCode)> handler);
    // How far below the window's top edge sheets hang: a window that draws its own title bar
    // inside its frame answers that bar's height, so a sheet leaves the title and menus in view.
    virtual double sheetTopInset() const { return 0; }
    // The width the menu bar takes at the start of the window's top edge (0 without one), set by
    // the bar; a window that draws its own title there keeps the title clear of it.
    void setMenuBarWidth(double width);
    double menuBarWidth() const { return m_menuBarWidth; }
    void endSheet(Window* sheet, long returnCode = ModalResponseOK);
    Window* attachedSheet() const { return m_attachedSheet; }
    Window* sheetParent() const { return m_sheetParent; }

    // Views call this when they leave the window or are destroyed.
    void viewWillBeDestroyed(View* v);

protected:
    // The window manager changed the full-screen state: the style mask follows and the did-enter
    // or did-exit notification is posted. A subclass that prepares for the change overrides it.
    virtual void fullScreenChangedBySystem(bool fullScreen);
    // The menu bar's width changed.
    virtual void menuBarWidthChanged() {}
    // Only the style mask's full-screen bit, nothing asked of the system, nothing posted.
    void setFullScreenState(bool fullScreen);

    // Tests and subclasses: the style mask the window was made with (before any change).
    unsigned m_styleMask;

private:
    friend class WindowWidget;
    friend class Application;
    void applyWindowFlags();
    void applyParentWindow();
    void layoutContent();
    void widgetResized();
    void widgetMoved();
    void widgetClosed();
    void widgetStateChanged();
    void widgetShownOrHidden();
    void scheduleShapeUpdate();
    void updateShape();
    void collectTracking(View* v, std::vector<std::pair<View*, TrackingAreaPtr>>& out);
    View* cursorViewAt(View* v, Point p, struct CursorHit& hit);
    void selectKeyView(bool forward);

    WindowWidget* m_widget = nullptr;
    View* m_contentView = nullptr;
    WindowDelegate* m_delegate = nullptr;
    bool m_opaque = true;
    bool m_cutToPaintedShape = false;
    bool m_shapeUpdatePending = false;
    bool m_hasShadow = true;
    Color m_backgroundColor;
    QString m_title;
    int m_level = NormalWindowLevel;
    bool m_floatingPanel = false;
    double m_scaleOverride = 0;
    bool m_wasOnScreen = false;
    // Minimised by a window manager that says so only on the display (see isPutAwayByDesktop),
    // or covered entirely.
    bool m_putAwayByDesktop = false;
    std::unique_ptr<DesktopStateWatch> m_desktopWatch;
    bool m_movableByBackground = false;
    bool m_ignoresMouseEvents = false;
    Point m_mouseLocation{-1e9, -1e9};
    View* m_firstResponder = nullptr;
    View* m_mouseDownView = nullptr;
    Window* m_attachedSheet = nullptr;
    Window* m_sheetParent = nullptr;
    QPointer<QWidget> m_parentWidget;
    double m_menuBarWidth = 0;
    std::function<void(long)> m_sheetHandler;
    bool m_closing = false;
    bool m_keyViewLoop = false;
};

} // namespace kpv
