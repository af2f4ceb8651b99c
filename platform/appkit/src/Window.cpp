#include "appkit/Window.h"

#include "TextInputDispatch.h"
#include "WindowWidget.h"
#include "appkit/Application.h"
#include "appkit/View.h"
#include "appkit/WindowSystem.h"
#include "foundation/NotificationCenter.h"

#include <QApplication>
#include <QBitmap>
#include <QTimer>
#include <QShowEvent>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QPainter>
#include <QPointer>
#include <QScreen>
#include <QWindow>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <xcb/xcb.h>

namespace kpv {

const char* const WindowDidBecomeKeyNotification = "WindowDidBecomeKeyNotification";
const char* const WindowDidResignKeyNotification = "WindowDidResignKeyNotification";
const char* const WindowDidBecomeMainNotification = "WindowDidBecomeMainNotification";
const char* const WindowDidResignMainNotification = "WindowDidResignMainNotification";
const char* const WindowWillCloseNotification = "WindowWillCloseNotification";
const char* const WindowDidResizeNotification = "WindowDidResizeNotification";
const char* const WindowDidMoveNotification = "WindowDidMoveNotification";
const char* const WindowDidEnterFullScreenNotification = "WindowDidEnterFullScreenNotification";
const char* const WindowDidExitFullScreenNotification = "WindowDidExitFullScreenNotification";
const char* const WindowDidChangeOnScreenNotification = "WindowDidChangeOnScreenNotification";

namespace {
double primaryScreenHeight()
{
    QScreen* s = QGuiApplication::primaryScreen();
    return s ? s->geometry().height() : 0;
}

Rect fromQtScreenRect(const QRect& r)
{
    return Rect(r.x(), primaryScreenHeight() - r.y() - r.height(), r.width(), r.height());
}

void post(const char* name, const Window* w)
{
    NotificationCenter::defaultCenter().postNotification(name, w);
}

// The dialog that keeps `window` from input now (one modal over it, or over the application).
QWidget* dialogBlocking(const QWidget* window)
{
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        return nullptr;
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || modal == window || !modal->isVisible())
        return nullptr;
    if (modal->windowModality() == Qt::ApplicationModal)
        return modal;
    for (QWidget* p = modal->parentWidget(); p; p = p->parentWidget()) {
        if (p->window() == window)
            return modal;
    }
    return nullptr;
}
} // namespace

Screen Screen::mainScreen()
{
    Screen s;
    if (QScreen* q = QGuiApplication::primaryScreen()) {
        s.frame = fromQtScreenRect(q->geometry());
        s.visibleFrame = fromQtScreenRect(q->availableGeometry());
        s.backingScaleFactor = q->devicePixelRatio();
    }
    return s;
}

std::vector<Screen> Screen::screens()
{
    std::vector<Screen> all{mainScreen()};
    for (QScreen* q : QGuiApplication::screens()) {
        if (q == QGuiApplication::primaryScreen())
            continue;
        Screen s;
        s.frame = fromQtScreenRect(q->geometry());
        s.visibleFrame = fromQtScreenRect(q->availableGeometry());
        s.backingScaleFactor = q->devicePixelRatio();
        all.push_back(s);
    }
    return all;
}

void WindowWidget::resizeEvent(QResizeEvent*)
{
    if (m_window)
        m_window->widgetResized();
}

void WindowWidget::moveEvent(QMoveEvent*)
{
    if (m_window)
        m_window->widgetMoved();
}

void WindowWidget::closeEvent(QCloseEvent* e)
{
    // The title bar's close box, the window manager and the application's quit come here; our own
    // close() too. The close runs through performClose (delegate, notifications, sheet); the event
    // then says whether the window really closed, since a quit that sees a refused close stops.
    if (m_window && !m_window->m_closing) {
        QPointer<WindowWidget> self(this);
        m_window->performClose();
        if (self && m_window && isVisible())
            e->ignore();
        else
            e->accept();
        return;
    }
    e->accept();
}

void WindowWidget::changeEvent(QEvent* e)
{
    QWidget::changeEvent(e);
    if (m_window && e->type() == QEvent::WindowStateChange)
        m_window->widgetStateChanged();
}

void WindowWidget::showEvent(QShowEvent*)
{
    if (m_window) {
        m_window->scheduleShapeUpdate();
        m_window->widgetShownOrHidden();
    }
}

void WindowWidget::hideEvent(QHideEvent*)
{
    if (m_window)
        m_window->widgetShownOrHidden();
}

void WindowWidget::paintEvent(QPaintEvent*)
{
    if (!m_window)
        return;
    QPainter p(this);
    const Color bg = m_window->backgroundColor();
    if (bg.isValid() && bg.alpha() > 0)
        p.fillRect(rect(), bg.toQColor());
    else if (m_window->isOpaque())
        p.fillRect(rect(), QColor(40, 40, 40));
}

Window::Window(const Rect& contentRect, unsigned styleMask)
    : m_styleMask(styleMask)
{
    m_widget = new WindowWidget(this);
    m_desktopWatch = std::make_unique<DesktopStateWatch>(m_widget, [this] {
        m_putAwayByDesktop = isPutAwayByDesktop(m_widget) || m_desktopWatch->isCoveredEntirely();
        widgetShownOrHidden();
    });
    Application::shared().registerWindow(this);
    applyWindowFlags();
    m_widget->resize(int(std::lround(contentRect.width())), int(std::lround(contentRect.height())));
    setFrameOrigin(contentRect.origin);
    setContentView(new View(Rect(0, 0, contentRect.width(), contentRect.height())));
}

Window::~Window()
{
    if (m_sheetParent)
        m_sheetParent->m_attachedSheet = nullptr;
    if (m_attachedSheet) {
        // The sheet's widget hangs from ours: take it back before Qt deletes it with us.
        m_attachedSheet->m_sheetParent = nullptr;
        m_attachedSheet->m_sheetHandler = nullptr;
        m_attachedSheet->m_widget->setParent(nullptr);
        m_attachedSheet->applyWindowFlags();
        m_attachedSheet = nullptr;
    }
    Application::shared().unregisterWindow(this);
    m_desktopWatch.reset();
    m_widget->detach();
    View* content = m_contentView;
    m_contentView = nullptr;
    m_firstResponder = nullptr;
    m_mouseDownView = nullptr;
    if (content) {
        content->setWindowInternal(nullptr);
        delete content;
    }
    delete m_widget;
}

QWidget* Window::widget() const { return m_widget; }

void Window::setContentView(View* view)
{
    if (view == m_contentView)
        return;
    View* old = m_contentView;
    m_contentView = view;
    if (old) {
        old->setWindowInternal(nullptr);
        delete old;
    }
    if (!view)
        return;
    view->removeFromSuperview();
    view->widget()->setParent(m_widget);
    view->setWindowInternal(this);
    layoutContent();
    view->widget()->setVisible(!view->isHidden());
}

void Window::layoutContent()
{
    if (!m_contentView)
        return;
    m_contentView->setFrame(Rect(0, 0, m_widget->width(), m_widget->height()));
    m_contentView->updateWidgetGeometry();
}

void Window::applyWindowFlags()
{
    Qt::WindowFlags f = Qt::Window;
    if (!(m_styleMask & TitledWindowMask))
        f |= Qt::FramelessWindowHint;
    if (m_floatingPanel)
        f |= Qt::Tool;
    if (m_level >= FloatingWindowLevel)
        f |= Qt::WindowStaysOnTopHint;
    if (m_sheetParent)
        f = Qt::Sheet | Qt::FramelessWindowHint;
    const bool visible = m_widget->isVisible();
    m_widget->setWindowFlags(f);
    m_widget->setAttribute(Qt::WA_TranslucentBackground, !m_opaque);
    if (visible) {
        applyParentWindow();
        m_widget->show();
    }
}

void Window::setStyleMask(unsigned mask)
{
    m_styleMask = mask;
    applyWindowFlags();
}

void Window::setOpaque(bool opaque)
{
    m_opaque = opaque;
    m_widget->setAttribute(Qt::WA_TranslucentBackground, !opaque);
    m_widget->update();
}

void Window::setCutToPaintedShape(bool cut)
{
    m_cutToPaintedShape = cut;
    scheduleShapeUpdate();
}

// Whether a compositing manager draws the windows, so that a translucent one shows what lies
// under it. Outside X11 (Wayland) windows always are composited.
bool Window::desktopComposited()
{
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* c = x11 ? x11->connection() : nullptr;
    if (!c)
        return true;
    // The X screen the display names ("host:0.1" is screen 1), where the manager claims it.
    const QByteArray display = qgetenv("DISPLAY");
    const qsizetype dot = display.lastIndexOf('.');
    const int number = dot > display.lastIndexOf(':') ? display.mid(dot + 1).toInt() : 0;
    const QByteArray name = "_NET_WM_CM_S" + QByteArray::number(number);
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(c, xcb_intern_atom(c, 1, uint16_t(name.size()), name.constData()), nullptr);
    if (!atom)
        return true;
    const xcb_atom_t selection = atom->atom;
    std::free(atom);
    if (selection == XCB_ATOM_NONE)
        return false; // nobody ever claimed it
    xcb_get_selection_owner_reply_t* owner = xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, selection), nullptr);
    if (!owner)
        return true;
    const bool claimed = owner->owner != XCB_NONE;
    std::free(owner);
    return claimed;
}

QRegion Window::cutShape() const
{
    return m_widget->mask();
}

void Window::scheduleShapeUpdate()
{
    if (m_shapeUpdatePending || (!m_cutToPaintedShape && m_widget->mask().isEmpty()))
        return;
    // After the layout of this turn: the content is painted once in its final place.
    m_shapeUpdatePending = true;
    QTimer::singleShot(0, m_widget, [this] {
        m_shapeUpdatePending = false;
        updateShape();
    });
}

void Window::updateShape()
{
    if (!m_cutToPaintedShape || m_opaque || !m_widget->isVisible() || desktopComposited()) {
        if (!m_widget->mask().isEmpty())
            m_widget->clearMask();
        return;
    }
    // What the content paints, half covered or more; a faint drop shadow is left out.
    QImage painted = m_widget->grab().toImage();
    if (painted.isNull())
        return;
    if (painted.size() != m_widget->size())
        painted = painted.scaled(m_widget->size(), Qt::IgnoreAspectRatio, Qt::FastTransformation);
    const QBitmap shape = QBitmap::fromImage(painted.createAlphaMask(Qt::ThresholdAlphaDither));
    if (QRegion(shape).isEmpty())
        return;
    m_widget->setMask(shape);
}

void Window::setBackgroundColor(const Color& c)
{
    m_backgroundColor = c;
    m_widget->update();
}

void Window::setTitle(const QString& t)
{
    m_title = t;
    m_widget->setWindowTitle(t);
}

void Window::setLevel(int level)
{
    if (level == m_level)
        return;
    m_level = level;
    applyWindowFlags();
}

void Window::setParentWindow(Window* parent)
{
    m_parentWidget = parent ? parent->m_widget : nullptr;
    applyParentWindow();
}

void Window::applyParentWindow()
{
    // The toolkit names the parent to the window manager when the window is mapped; a window
    // without one is given to no window in particular, which keeps no panel over a full screen.
    if (!m_parentWidget)
        return;
    m_widget->winId();
    m_parentWidget->winId();
    if (QWindow* own = m_widget->windowHandle())
        own->setTransientParent(m_parentWidget->windowHandle());
}

void Window::setFloatingPanel(bool panel)
{
    if (panel == m_floatingPanel)
        return;
    m_floatingPanel = panel;
    applyWindowFlags();
}

Rect Window::frame() const
{
    const QRect g = m_widget->geometry();
    return Rect(g.x(), primaryScreenHeight() - g.y() - g.height(), g.width(), g.height());
}

void Window::setFrame(const Rect& frame, bool display, bool)
{
    const int w = int(std::lround(frame.width()));
    const int h = int(std::lround(frame.height()));
    const int y = int(std::lround(primaryScreenHeight() - frame.y() - frame.height()));
    m_widget->setGeometry(int(std::lround(frame.x())), y, w, h);
    layoutContent();
    if (display)
        m_widget->update();
}

void Window::setFrameOrigin(Point p)
{
    Rect f = frame();
    setFrame(Rect(p, f.size), true, false);
}

void Window::setContentSize(Size s)
{
    Rect f = frame();
    // Keep the top-left corner in place, as a window grows downwards on screen.
    setFrame(Rect(f.x(), f.maxY() - s.height, s.width, s.height));
}

void Window::center()
{
    Screen s = screen();
    Rect f = frame();
    setFrameOrigin(Point{s.visibleFrame.midX() - f.width() / 2,
                         s.visibleFrame.y() + (s.visibleFrame.height() - f.height()) * 2 / 3});
}

Screen Window::screen() const
{
    Screen s = Screen::mainScreen();
    if (QScreen* q = m_widget->screen()) {
        s.frame = fromQtScreenRect(q->geometry());
        s.visibleFrame = fromQtScreenRect(q->availableGeometry());
        s.backingScaleFactor = q->devicePixelRatio();
    }
    return s;
}

double Window::backingScaleFactor() const
{
    if (m_scaleOverride > 0)
        return m_scaleOverride;
    return m_widget->devicePixelRatioF();
}

Point Window::convertPointToScreen(Point p) const
{
    Rect f = frame();
    return Point{f.x() + p.x, f.y() + p.y};
}

Point Window::convertPointFromScreen(Point p) const
{
    Rect f = frame();
    return Point{p.x - f.x(), p.y - f.y()};
}

Rect Window::convertRectToScreen(const Rect& r) const { return Rect(convertPointToScreen(r.origin), r.size); }
Rect Window::convertRectFromScreen(const Rect& r) const { return Rect(convertPointFromScreen(r.origin), r.size); }

bool Window::isVisible() const { return m_widget->isVisible(); }

bool Window::isOnScreen() const
{
    return m_widget->isVisible() && !m_widget->isMinimized() && !m_putAwayByDesktop;
}

void Window::makeKeyAndOrderFront()
{
    orderFront();
    makeKeyWindow();
    if (canBecomeMainWindow())
        makeMainWindow();
}

void Window::orderFront()
{
    applyParentWindow();
    m_widget->show();
    m_widget->raise();
    // A dialog over this window stays over it.
    if (QWidget* dialog = dialogBlocking(m_widget))
        dialog->raise();
}

void Window::orderOut()
{
    if (Application::shared().keyWindow() == this)
        Application::shared().setKeyWindowInternal(nullptr);
    if (Application::shared().mainWindow() == this)
        Application::shared().setMainWindowInternal(nullptr);
    updateTrackingForMouse(Point{-1e9, -1e9}, false, nullptr);
    m_widget->hide();
}

void Window::close()
{
    if (m_closing)
        return;
    m_closing = true;
    post(WindowWillCloseNotification, this);
    if (m_delegate)
        m_delegate->windowWillClose(this);
    if (m_attachedSheet)
        endSheet(m_attachedSheet, ModalResponseCancel);
    orderOut();
    m_widget->close();
    m_closing = false;
}

void Window::performClose()
{
    if (m_delegate && !m_delegate->windowShouldClose(this))
        return;
    close();
}

bool Window::canBecomeKeyWindow() const { return (m_styleMask & TitledWindowMask) != 0; }
bool Window::canBecomeMainWindow() const { return (m_styleMask & TitledWindowMask) != 0 && !m_sheetParent; }
bool Window::isKeyWindow() const { return Application::shared().keyWindow() == this; }
bool Window::isMainWindow() const { return Application::shared().mainWindow() == this; }

void Window::makeKeyWindow()
{
    if (!canBecomeKeyWindow())
        return;
    // While a dialog holds this window, the keyboard goes to the dialog. Activated itself, the
    // window would take the keyboard where every key is dropped, and the window system would not
    // hand it back: the dialog still counts as its active window.
    if (QWidget* dialog = m_widget->isVisible() ? dialogBlocking(m_widget) : nullptr) {
        dialog->raise();
        dialog->activateWindow();
        return;
    }
    Application::shared().setKeyWindowInternal(this);
    if (m_widget->isVisible())
        m_widget->activateWindow();
}

QWidget* Window::blockingDialog() const { return m_widget ? dialogBlocking(m_widget) : nullptr; }

void Window::makeMainWindow()
{
    if (canBecomeMainWindow())
        Application::shared().setMainWindowInternal(this);
}

void Window::becomeKeyWindow() { post(WindowDidBecomeKeyNotification, this); }
void Window::resignKeyWindow()
{
    // Tracking areas active only in the key window see the mouse leave.
    updateTrackingForMouse(m_mouseLocation, false, nullptr);
    post(WindowDidResignKeyNotification, this);
}
void Window::becomeMainWindow() { post(WindowDidBecomeMainNotification, this); }
void Window::resignMainWindow() { post(WindowDidResignMainNotification, this); }

void Window::toggleFullScreen()
{
    const bool entering = !isFullScreen();
    // The state first: the widget's own state change that follows then finds nothing to do.
    setFullScreenState(entering);
    if (entering)
        m_widget->showFullScreen();
    else
        m_widget->showNormal();
    post(entering ? WindowDidEnterFullScreenNotification : WindowDidExitFullScreenNotification, this);
}

void Window::setFullScreenState(bool fullScreen)
{
    if (fullScreen)
        m_styleMask |= FullScreenWindowMask;
    else
        m_styleMask &= ~unsigned(FullScreenWindowMask);
}

void Window::fullScreenChangedBySystem(bool fullScreen)
{
    setFullScreenState(fullScreen);
    post(fullScreen ? WindowDidEnterFullScreenNotification : WindowDidExitFullScreenNotification, this);
}

void Window::widgetStateChanged()
{
    const bool fullScreen = m_widget->isFullScreen();
    if (fullScreen != isFullScreen())
        fullScreenChangedBySystem(fullScreen);
    widgetShownOrHidden();
}

void Window::widgetShownOrHidden()
{
    // A hidden window is the toolkit's to show again; the desktop's word about it comes anew.
    if (!m_widget->isVisible()) {
        m_putAwayByDesktop = false;
        m_desktopWatch->windowHidden();
    } else {
        m_desktopWatch->windowShown();
    }
    const bool onScreen = isOnScreen();
    if (onScreen == m_wasOnScreen)
        return;
    m_wasOnScreen = onScreen;
    post(WindowDidChangeOnScreenNotification, this);
}

void Window::setIgnoresMouseEvents(bool ignore)
{
    m_ignoresMouseEvents = ignore;
    m_widget->setAttribute(Qt::WA_TransparentForMouseEvents, ignore);
}

void Window::widgetResized()
{
    layoutContent();
    scheduleShapeUpdate();
    if (m_delegate)
        m_delegate->windowDidResize(this);
    post(WindowDidResizeNotification, this);
}

void Window::widgetMoved() { post(WindowDidMoveNotification, this); }

void Window::widgetClosed() {}

bool Window::makeFirstResponder(View* view)
{
    if (view == m_firstResponder)
        return true;
    if (m_firstResponder && !m_firstResponder->resignFirstResponder())
        return false;
    View* old = m_firstResponder;
    if (view && ((!view->acceptsFirstResponder() && !view->canBecomeKeyView()) || !view->becomeFirstResponder())) {
        m_firstResponder = nullptr;
        if (old)
            old->updateFocusRing();
        firstResponderChanged(this);
        return false;
    }
    m_firstResponder = view;
    if (old)
        old->updateFocusRing();
    if (view)
        view->updateFocusRing();
    firstResponderChanged(this);
    return true;
}

void Window::selectKeyView(bool forward)
{
    if (!m_contentView)
        return;
    const std::vector<View*> loop = m_contentView->keyViewsInScreenOrder();
    const auto n = std::ptrdiff_t(loop.size());
    if (n == 0)
        return;
    const auto at = std::find(loop.begin(), loop.end(), m_firstResponder);
    std::ptrdiff_t i = at == loop.end() ? (forward ? -1 : n) : at - loop.begin();
    // A view that refuses the focus is passed over.
    for (std::ptrdiff_t tries = 0; tries < n; ++tries) {
        i = ((forward ? i + 1 : i - 1) % n + n) % n;
        View* v = loop[size_t(i)];
        if (v == m_firstResponder || makeFirstResponder(v)) {
            v->didReceiveKeyFocusFromKeyboard();
            return;
        }
    }
}

EventPtr Window::nextEventMatchingMask(EventMask mask)
{
    return Application::shared().nextEventMatchingMask(mask, this);
}

void Window::sendEvent(const EventPtr& ep)
{
    const Event& e = *ep;
    if (e.isMouseEvent() && e.type() != MouseEntered && e.type() != MouseExited)
        m_mouseLocation = e.locationInWindow();
    auto hit = [&]() -> View* { return m_contentView ? m_contentView->hitTest(e.locationInWindow()) : nullptr; };
    switch (e.type()) {
    case LeftMouseDown: {
        View* v = hit();
        m_mouseDownView = v;
        if (Application::shared().keyWindow() != this && canBecomeKeyWindow())
            makeKeyWindow();
        if (v && v->acceptsFirstResponder())
            makeFirstResponder(v);
        if (v)
            v->mouseDown(e);
        else
            mouseDown(e);
        break;
    }
    case LeftMouseDragged:
        if (m_mouseDownView)
            m_mouseDownView->mouseDragged(e);
        else
            mouseDragged(e);
        break;
    case LeftMouseUp: {
        View* v = m_mouseDownView;
        m_mouseDownView = nullptr;
        if (v)
            v->mouseUp(e);
        else
            mouseUp(e);
        break;
    }
    case RightMouseDown:
        if (View* v = hit()) {
            m_mouseDownView = v;
            v->rightMouseDown(e);
        } else {
            rightMouseDown(e);
        }
        break;
    case RightMouseDragged:
        if (m_mouseDownView)
            m_mouseDownView->rightMouseDragged(e);
        break;
    case RightMouseUp: {
        View* v = m_mouseDownView ? m_mouseDownView : hit();
        m_mouseDownView = nullptr;
        if (v)
            v->rightMouseUp(e);
        else
            rightMouseUp(e);
        break;
    }
    case OtherMouseDown:
        if (View* v = hit())
            v->otherMouseDown(e);
        break;
    case OtherMouseUp:
        if (View* v = hit())
            v->otherMouseUp(e);
        break;
    case MouseMoved:
        break; // delivered to tracking-area owners by updateTrackingForMouse
    case MouseEntered:
        if (e.trackingArea() && e.trackingArea()->owner())
            e.trackingArea()->owner()->mouseEntered(e);
        break;
    case MouseExited:
        if (e.trackingArea() && e.trackingArea()->owner())
            e.trackingArea()->owner()->mouseExited(e);
        break;
    case ScrollWheel:
        if (View* v = hit())
            v->scrollWheel(e);
        else
            scrollWheel(e);
        break;
    case EventTypeMagnify:
        if (View* v = hit()) v->magnifyWithEvent(e); else magnifyWithEvent(e);
        break;
    case EventTypeRotate:
        if (View* v = hit()) v->rotateWithEvent(e); else rotateWithEvent(e);
        break;
    case EventTypeSwipe:
        if (View* v = hit()) v->swipeWithEvent(e); else swipeWithEvent(e);
        break;
    case EventTypeSmartMagnify:
        if (View* v = hit()) v->smartMagnifyWithEvent(e); else smartMagnifyWithEvent(e);
        break;
    case KeyDown:
        if (m_firstResponder && m_firstResponder->performKeyAction(e))
            break;
        // The keyboard's right click: on the view with the focus, at the place that view chooses;
        // with no view focused, as a click of the right button in the middle of the window.
        if (e.isContextMenuKey() && m_contentView) {
            View* v = m_firstResponder;
            Point p;
            if (v) {
                p = v->convertPointToView(v->contextMenuLocationForKeyboard(), nullptr);
            } else {
                p = m_contentView->convertPointToView(m_contentView->contextMenuLocationForKeyboard(), nullptr);
                v = m_contentView->hitTest(p);
            }
            if (v && !e.isARepeat())
                v->rightMouseDown(*Event::mouseEvent(RightMouseDown, p, this, 0, 1));
            break;
        }
        if (m_keyViewLoop && e.keyCode() == KeyCode::Tab &&
            !(e.modifierFlags() & (CommandKeyMask | AlternateKeyMask | ControlKeyMask)) &&
            (!m_firstResponder || !m_firstResponder->acceptsFirstResponder())) {
            selectKeyView(!(e.modifierFlags() & ShiftKeyMask));
            break;
        }
        if (m_firstResponder) m_firstResponder->keyDown(e); else keyDown(e);
        break;
    case KeyUp:
        if (m_firstResponder) m_firstResponder->keyUp(e); else keyUp(e);
        break;
    case FlagsChanged:
        if (m_firstResponder) m_firstResponder->flagsChanged(e); else flagsChanged(e);
        break;
    default:
        break;
    }
}

void Window::mouseDown(const Event& e)
{
    if (!m_movableByBackground)
        return;
    // Dragging the background moves the window: follow the pointer in screen coordinates.
    const Point start = convertPointToScreen(e.locationInWindow());
    const Rect startFrame = frame();
    for (;;) {
        EventPtr next = nextEventMatchingMask(LeftMouseUpMask | LeftMouseDraggedMask);
        if (!next || next->type() == LeftMouseUp)
            break;
        // The location of a drag is relative to the frame at the time; use the frame we set.
        const Point now{frame().x() + next->locationInWindow().x, frame().y() + next->locationInWindow().y};
        setFrameOrigin(Point{startFrame.x() + now.x - start.x, startFrame.y() + now.y - start.y});
    }
}

void Window::mouseDragged(const Event&) {}

struct CursorHit {
    const Cursor* cursor = nullptr;
};

void Window::collectTracking(View* v, std::vector<std::pair<View*, TrackingAreaPtr>>& out)
{
    if (!v)
        return;
    for (const auto& a : v->trackingAreas())
        out.emplace_back(v, a);
    for (View* child : v->subviews())
        collectTracking(child, out);
}

View* Window::cursorViewAt(View* v, Point p, CursorHit& hit)
{
    if (!v || v->isHidden())
        return nullptr;
    const Point local = v->convertPointFromView(p, nullptr);
    if (!v->mouseInBounds(local))
        return nullptr;
    for (const auto& cr : v->cursorRects())
        if (mouseInRect(local, cr.rect, v->isFlipped()))
            hit.cursor = &cr.cursor;
    View* found = v;
    for (View* child : v->subviews())
        if (View* deeper = cursorViewAt(child, p, hit))
            found = deeper;
    return found;
}

void Window::updateTrackingForMouse(Point loc, bool mouseInWindow, const Event* cause)
{
    std::vector<std::pair<View*, TrackingAreaPtr>> areas;
    collectTracking(m_contentView, areas);
    Application& app = Application::shared();
    const bool key = app.keyWindow() == this;
    const bool dragging = cause && cause->type() == LeftMouseDragged;
    for (auto& [view, area] : areas) {
        const unsigned o = area->options();
        bool active = (o & TrackingActiveAlways) || ((o & TrackingActiveInKeyWindow) && key) ||
                      ((o & TrackingActiveInActiveApp) && app.isActive()) ||
                      ((o & TrackingActiveWhenFirstResponder) && m_firstResponder == view && key);
        active = active && m_widget->isVisible() && !view->isHiddenOrHasHiddenAncestor();
        if (dragging && !(o & TrackingEnabledDuringMouseDrag) && mouseInWindow)
            continue; // hold the state until the drag ends
        const Rect r = (o & TrackingInVisibleRect) ? view->visibleRect() : area->rect();
        const Point local = view->convertPointFromView(loc, nullptr);
        const bool inside = active && mouseInWindow && mouseInRect(local, r, view->isFlipped());
        if (inside != area->isInside()) {
            area->setInside(inside);
            if (o & TrackingMouseEnteredAndExited) {
                auto ev = Event::mouseEvent(inside ? MouseEntered : MouseExited, loc, this);
                ev->setTrackingArea(area.get());
                app.sendEvent(ev);
            }
        } else if (inside && (o & TrackingMouseMoved) && cause && cause->type() == MouseMoved) {
            view->mouseMoved(*cause);
        }
    }
    if (mouseInWindow && m_contentView) {
        CursorHit hit;
        cursorViewAt(m_contentView, loc, hit);
        m_widget->setCursor(hit.cursor ? hit.cursor->qcursor() : QCursor(Qt::ArrowCursor));
    }
}

void Window::invalidateCursorRectsForView(View* view)
{
    if (view)
        view->discardCursorRects();
}

void Window::display()
{
    m_widget->repaint();
}

void Window::setMenuBarWidth(double width)
{
    if (width == m_menuBarWidth)
        return;
    m_menuBarWidth = width;
    menuBarWidthChanged();
}

void Window::beginSheet(Window* sheet, std::function<void(long)> handler)
{
    if (!sheet || sheet == this)
        return;
    if (m_attachedSheet) {
        // One sheet at a time: the new one ends at once with a cancel.
        if (handler)
            handler(ModalResponseCancel);
        return;
    }
    m_attachedSheet = sheet;
    sheet->m_sheetParent = this;
    sheet->m_sheetHandler = std::move(handler);
    const Rect pf = frame();
    const Rect sf = sheet->frame();
    sheet->m_widget->setParent(m_widget, Qt::Sheet | Qt::FramelessWindowHint);
    sheet->m_widget->setWindowModality(Qt::WindowModal);
    // Hang the sheet from the top of the parent (below a title bar drawn inside it), centred.
    const double top = pf.maxY() - std::clamp(sheetTopInset(), 0.0, pf.height());
    Rect placed(pf.midX() - sf.width() / 2, top - sf.height(), sf.width(), sf.height());
    // A sheet larger than a window near the screen's edge is moved onto the screen: none of its
    // controls may lie where neither the pointer nor the eye reaches.
    const Rect visible = screen().visibleFrame;
    if (visible.width() > 0 && visible.height() > 0) {
        placed.origin.x = std::max(visible.x(), std::min(placed.x(), visible.maxX() - sf.width()));
        placed.origin.y = std::min(visible.maxY() - sf.height(), std::max(placed.y(), visible.y()));
    }
    sheet->setFrame(placed);
    sheet->m_widget->show();
    sheet->makeKeyWindow();
}

void Window::endSheet(Window* sheet, long returnCode)
{
    if (!sheet || sheet != m_attachedSheet)
        return;
    m_attachedSheet = nullptr;
    auto handler = std::move(sheet->m_sheetHandler);
    sheet->m_sheetHandler = nullptr;
    sheet->m_sheetParent = nullptr;
    if (handler)
        handler(returnCode);
    // The handler usually orders the sheet out; make it a window of its own again either way,
    // so it neither stays modal nor is deleted along with this window's widget.
    const bool visible = sheet->m_widget->isVisible();
    sheet->m_widget->setWindowModality(Qt::NonModal);
    sheet->m_widget->setParent(nullptr);
    sheet->applyWindowFlags();
    if (visible)
        sheet->m_widget->show();
    if (canBecomeKeyWindow() && isVisible())
        makeKeyWindow();
}

void Window::viewWillBeDestroyed(View* v)
{
    auto inside = [v](View* x) { return x && x->isDescendantOf(v); };
    if (inside(m_firstResponder)) {
        m_firstResponder = nullptr;
        firstResponderChanged(this);
    }
    if (inside(m_mouseDownView))
        m_mouseDownView = nullptr;
}

} // namespace kpv
