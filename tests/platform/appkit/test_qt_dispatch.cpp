// Real Qt events through the application's filter: keys reach the first responder with their
// virtual codes, mouse presses reach the hit view in y-up window coordinates, monitors see them
// first; window frames convert to and from screen coordinates; panels hand their accessory view
// back when they end; alerts carry the program's name; the menu bar gives the keyboard back.
#include "appkit/Application.h"
#include "appkit/Control.h"
#include "appkit/Menu.h"
#include "appkit/MenuBar.h"
#include "appkit/Panels.h"
#include "appkit/View.h"
#include "appkit/Window.h"
#include "foundation/Bundle.h"

#include <QApplication>
#include <QDir>
#include <QDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QNativeGestureEvent>
#include <QScreen>
#include <QTest>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <memory>

using namespace kpv;

namespace {
class Target : public View {
public:
    using View::View;
    bool acceptsFirstResponder() const override { return true; }
    void keyDown(const Event& e) override { keys.push_back(e.keyCode()); }
    void mouseDown(const Event& e) override { downs.push_back(e.locationInWindow()); }
    void rightMouseDown(const Event& e) override { rightDowns.push_back(e.locationInWindow()); }
    void magnifyWithEvent(const Event& e) override { pinches.push_back(e.magnification()); }
    std::vector<int> keys;
    std::vector<double> pinches;
    std::vector<Point> downs, rightDowns;
};
} // namespace

TEST(QtDispatch, KeysAndClicksArriveTranslated)
{
    Window w(Rect(0, 0, 200, 100), TitledWindowMask);
    w.orderFront();
    auto* t = new Target(Rect(20, 10, 50, 40));
    w.contentView()->addSubview(t);
    ASSERT_TRUE(w.makeFirstResponder(t));

    QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(t->widget(), &esc);
    ASSERT_EQ(t->keys.size(), 1u);
    EXPECT_EQ(t->keys[0], 53);

    // A press 5 points right and 5 below the top of the target: Qt's (5, 5) in the widget is
    // (25, 45) in the window, whose origin is at the bottom-left.
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), t->widget()->mapToGlobal(QPointF(5, 5)), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(t->widget(), &press);
    ASSERT_EQ(t->downs.size(), 1u);
    EXPECT_EQ(t->downs[0], (Point{25, 45}));
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(5, 5), t->widget()->mapToGlobal(QPointF(5, 5)),
                        Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(t->widget(), &release);

    // A monitor consuming key-downs keeps them from the view.
    auto token = Application::shared().addLocalMonitorForEventsMatchingMask(KeyDownMask, [](const EventPtr&) {
        return EventPtr();
    });
    QKeyEvent a(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, "a");
    QCoreApplication::sendEvent(t->widget(), &a);
    EXPECT_EQ(t->keys.size(), 1u);
    Application::shared().removeMonitor(token);
    QCoreApplication::sendEvent(t->widget(), &a);
    EXPECT_EQ(t->keys.size(), 2u);
}

namespace {
class KeyWindow : public Window {
public:
    using Window::Window;
    void keyDown(const Event& e) override { keys.push_back(e.keyCode()); }
    std::vector<int> keys;
};

// Sends a key press and its release where Qt would: to the window's focus widget, else the window.
void pressKey(Window& w, int key)
{
    QWidget* top = w.widget();
    QWidget* to = top->focusWidget() ? top->focusWidget() : top;
    QTest::keyClick(to, Qt::Key(key));
}
// A window with a View menu on its bar.
struct WindowWithViewMenu {
    KeyWindow w{Rect(0, 0, 300, 200), TitledWindowMask};
    MenuBar bar{&w};
    WindowWithViewMenu()
    {
        auto menu = std::make_shared<Menu>("View");
        menu->addItemWithTitle("Slideshow", nullptr);
        bar.setMenus({menu});
    }
};
} // namespace

// A menu of the bar closed with Esc leaves the bar holding the keyboard (its title lit, so the
// arrows can move along the titles). Once it lets go of that title, Esc must reach the window
// again, every time: a slideshow ends on it.
TEST(QtDispatch, EscReachesTheWindowOnceTheMenuBarLetsGo)
{
    WindowWithViewMenu s;
    KeyWindow& w = s.w;
    MenuBar& bar = s.bar;
    w.orderFront();
    QMenuBar* qbar = bar.qMenuBar();
    ASSERT_NE(qbar, nullptr);
    ASSERT_FALSE(qbar->actions().isEmpty());

    // Open the menu from the bar, close it with Esc, then Esc again for the lit title.
    qbar->setActiveAction(qbar->actions().first());
    if (QWidget* popup = QApplication::activePopupWidget())
        QTest::keyClick(popup, Qt::Key_Escape);
    pressKey(w, Qt::Key_Escape);
    w.keys.clear();
    pressKey(w, Qt::Key_Escape);
    pressKey(w, Qt::Key_Escape);
    EXPECT_EQ(w.keys, (std::vector<int>{53, 53}));

    // Whatever way the bar came to hold the focus with nothing lit, the next key passes on and
    // the bar drops the focus.
    qbar->setFocus(Qt::MenuBarFocusReason);
    w.keys.clear();
    QTest::keyClick(qbar, Qt::Key_Escape);
    QTest::keyClick(qbar, Qt::Key_Space);
    EXPECT_EQ(w.keys, (std::vector<int>{53, 49}));
    EXPECT_FALSE(qbar->hasFocus());
}

// While a menu title is lit, the plain keys are the bar's: the Esc that puts the light out is
// not taken first by a mode that leaves on Esc (the thumbnails), and the next Esc is the mode's.
TEST(QtDispatch, EscForALitMenuTitleIsNotTakenByAMode)
{
    WindowWithViewMenu s;
    s.w.orderFront();
    QMenuBar* qbar = s.bar.qMenuBar();
    std::vector<unsigned short> taken;
    const auto monitor = Application::shared().addLocalMonitorForEventsMatchingMask(
        KeyDownMask, [&](const EventPtr& e) -> EventPtr {
            if (e && e->keyCode() == 53) {
                taken.push_back(e->keyCode());
                return nullptr;
            }
            return e;
        });
    qbar->setActiveAction(qbar->actions().first());
    if (QWidget* popup = QApplication::activePopupWidget())
        QTest::keyClick(popup, Qt::Key_Escape);
    ASSERT_NE(qbar->activeAction(), nullptr);
    pressKey(s.w, Qt::Key_Escape);
    EXPECT_EQ(qbar->activeAction(), nullptr) << "the Esc for the lit title was taken by the mode";
    pressKey(s.w, Qt::Key_Escape);
    EXPECT_EQ(taken, (std::vector<unsigned short>{53}));
    Application::shared().removeMonitor(monitor);
}

// A menu closed with Esc leaves its title lit and the keyboard with the bar; a click in the
// window puts the light out and the arrows reach the window again, to step through the photos.
TEST(QtDispatch, AClickInTheWindowTakesTheKeyboardBackFromTheMenuBar)
{
    WindowWithViewMenu s;
    KeyWindow& w = s.w;
    MenuBar& bar = s.bar;
    auto* photo = new Target(Rect(20, 10, 200, 150));
    w.contentView()->addSubview(photo);
    w.orderFront();
    bar.qMenuBar()->setActiveAction(bar.qMenuBar()->actions().first());
    if (QWidget* popup = QApplication::activePopupWidget())
        QTest::keyClick(popup, Qt::Key_Escape);
    ASSERT_NE(bar.qMenuBar()->activeAction(), nullptr);
    QTest::mouseClick(photo->widget(), Qt::LeftButton, Qt::NoModifier, QPoint(50, 50));
    pressKey(w, Qt::Key_Right);
    EXPECT_EQ(bar.qMenuBar()->activeAction(), nullptr);
    EXPECT_EQ(photo->keys, (std::vector<int>{124})); // the clicked view took the keyboard
}

// The menus can be reached without a mouse: F10 opens the first, Alt and a title's first letter
// that menu, and a key equivalent with Alt still runs its item instead; Ctrl++ runs Ctrl+=.
TEST(QtDispatch, MenusOpenFromTheKeyboard)
{
    KeyWindow w(Rect(0, 0, 300, 200), TitledWindowMask);
    MenuBar bar(&w);
    auto file = std::make_shared<Menu>("File");
    file->addItemWithTitle("Open", nullptr);
    auto view = std::make_shared<Menu>("View");
    int ran = 0;
    auto item = view->addItemWithTitle("Fit", [&](MenuItem&) { ++ran; }, "v");
    item->setKeyEquivalentModifierMask(AlternateKeyMask);
    int zoomedIn = 0;
    view->addItemWithTitle("Zoom In", [&](MenuItem&) { ++zoomedIn; }, "=");
    bar.setMenus({file, view});
    w.orderFront();
    QMenuBar* qbar = bar.qMenuBar();
    ASSERT_NE(qbar, nullptr);
    const auto closeMenu = [&] {
        if (QWidget* popup = QApplication::activePopupWidget())
            QTest::keyClick(popup, Qt::Key_Escape);
        qbar->setActiveAction(nullptr);
    };

    QTest::keyClick(w.widget(), Qt::Key_F10);
    ASSERT_NE(qbar->activeAction(), nullptr);
    EXPECT_EQ(qbar->activeAction()->text(), QString("File"));
    closeMenu();
    QTest::keyClick(w.widget(), Qt::Key_W, Qt::AltModifier);
    EXPECT_EQ(qbar->activeAction(), nullptr) << "no menu starts with W";
    QTest::keyClick(w.widget(), Qt::Key_V, Qt::AltModifier);
    EXPECT_EQ(ran, 1);
    EXPECT_EQ(qbar->activeAction(), nullptr);
    QTest::keyClick(w.widget(), Qt::Key_F, Qt::AltModifier);
    ASSERT_NE(qbar->activeAction(), nullptr);
    EXPECT_EQ(qbar->activeAction()->text(), QString("File"));
    closeMenu();
    // Ctrl with + is Ctrl+=, whether the + comes with Shift or from the keypad.
    QTest::keyClick(w.widget(), Qt::Key_Equal, Qt::ControlModifier);
    QTest::keyClick(w.widget(), Qt::Key_Plus, Qt::ControlModifier | Qt::ShiftModifier);
    QTest::keyClick(w.widget(), Qt::Key_Plus, Qt::ControlModifier | Qt::KeypadModifier);
    EXPECT_EQ(zoomedIn, 3);
}

// A trackpad pinch reaches the view under it once, though Qt offers an unaccepted gesture to
// every parent widget in turn.
TEST(QtDispatch, APinchArrivesOnce)
{
    Window w(Rect(0, 0, 200, 100), TitledWindowMask);
    w.orderFront();
    auto* outer = new View(Rect(10, 10, 150, 80));
    w.contentView()->addSubview(outer);
    auto* t = new Target(Rect(10, 10, 100, 50));
    outer->addSubview(t);
    const QPointF at(20, 20);
    QNativeGestureEvent pinch(Qt::ZoomNativeGesture, QPointingDevice::primaryPointingDevice(), 2, at, at,
                              t->widget()->mapToGlobal(at), 0.2, QPointF(), 1);
    QCoreApplication::sendEvent(t->widget(), &pinch);
    ASSERT_EQ(t->pinches.size(), 1u);
    EXPECT_DOUBLE_EQ(t->pinches[0], 0.2);
}

// Two fingers spreading on a touch screen over a view that takes pinches arrive as magnify
// steps whose scales multiply to the spread; one finger still arrives as the mouse. A view that
// does not take pinches sees none.
TEST(QtDispatch, ATouchScreenPinchArrivesAsMagnifySteps)
{
    Window w(Rect(0, 0, 400, 300), TitledWindowMask);
    w.orderFront();
    auto* t = new Target(Rect(50, 50, 300, 200));
    w.contentView()->addSubview(t);
    t->setAcceptsTouchPinch(true);
    QWidget* top = w.widget();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(top));
    // Made for this test and gone with it (the registry of devices does not own it).
    const std::unique_ptr<QPointingDevice> device(QTest::createTouchDevice());
    QPointingDevice* screen = device.get();
    auto spread = [&] {
        QTest::touchEvent(top, screen).press(0, QPoint(150, 150));
        QTest::touchEvent(top, screen).move(0, QPoint(150, 150)).press(1, QPoint(250, 150));
        for (int i = 1; i <= 5; ++i)
            QTest::touchEvent(top, screen).move(0, QPoint(150 - i * 10, 150)).move(1, QPoint(250 + i * 10, 150));
        QTest::touchEvent(top, screen).release(0, QPoint(100, 150)).release(1, QPoint(300, 150));
    };
    spread();
    ASSERT_FALSE(t->pinches.empty());
    double total = 1;
    for (double m : t->pinches)
        total *= 1 + m;
    EXPECT_NEAR(total, 2.0, 1e-9);  // the fingers went from 100 to 200 points apart

    t->downs.clear();
    QTest::touchEvent(top, screen).press(0, QPoint(120, 120));
    QTest::touchEvent(top, screen).release(0, QPoint(120, 120));
    ASSERT_EQ(t->downs.size(), 1u);
    EXPECT_EQ(t->downs[0], (Point{120, 180}));

    t->pinches.clear();
    t->setAcceptsTouchPinch(false);
    spread();
    EXPECT_TRUE(t->pinches.empty());
}

TEST(WindowFrames, ScreenCoordinatesHaveTheirOriginBottomLeft)
{
    const int screenH = QGuiApplication::primaryScreen()->geometry().height();
    Window w(Rect(100, 50, 200, 120), BorderlessWindowMask);
    EXPECT_EQ(w.frame(), Rect(100, 50, 200, 120));
    EXPECT_EQ(w.widget()->geometry(), QRect(100, screenH - 50 - 120, 200, 120));
    EXPECT_EQ(w.convertPointToScreen(Point{10, 10}), (Point{110, 60}));
    EXPECT_EQ(w.convertPointFromScreen(Point{110, 60}), (Point{10, 10}));
    w.setFrame(Rect(0, 0, 300, 200));
    EXPECT_EQ(w.contentView()->frame(), Rect(0, 0, 300, 200));
    EXPECT_GT(Screen::mainScreen().visibleFrame.width(), 0);
}

TEST(Panels, AccessoryViewIsHandedBackWhenTheSheetEnds)
{
    Window w(Rect(0, 0, 400, 300), TitledWindowMask);
    w.orderFront();
    View accessory(Rect(0, 0, 200, 30));
    SavePanel panel;
    panel.setAccessoryView(&accessory);
    panel.setAllowedFileTypes({"png"});
    panel.setNameFieldStringValue("picture.png");
    long result = 99;
    panel.beginSheetModalForWindow(&w, [&](long r) { result = r; });
    auto* dialog = w.widget()->findChild<QDialog*>(QStringLiteral("filePanel"));
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(accessory.widget()->parent(), dialog);
    // While it is up, the name field is the dialog's: set into it, and read as the user typed it.
    auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(edit, nullptr);
    panel.setNameFieldStringValue("picture.bmp");
    EXPECT_EQ(edit->text(), QString("picture.bmp"));
    edit->setText("typed.png");
    EXPECT_EQ(panel.nameFieldStringValue(), QString("typed.png"));
    dialog->reject();
    EXPECT_EQ(result, ModalResponseCancel);
    EXPECT_EQ(accessory.widget()->parent(), nullptr); // ours again, not deleted with the dialog
    EXPECT_TRUE(panel.URL().isEmpty());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// An alert names the program in its title bar, not the executable: the window manager shows
// the toolkit's application name when a dialog has no title of its own. Its caller hears one
// answer, however often the dialog ends.
TEST(Panels, AlertIsTitledWithTheProgramsName)
{
    Window w(Rect(0, 0, 400, 300), TitledWindowMask);
    w.orderFront();
    long result = 99;
    int answers = 0;
    QMessageBox* box = AlertSheet::begin("Could not save", "OK", "", "", &w, [&](long r) { result = r; ++answers; }, "why");
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->windowTitle(), Bundle::mainBundle().objectForInfoDictionaryKey("CFBundleName").toString());
    EXPECT_EQ(box->windowTitle(), QString("Kestrane Photo Viewer"));
    box->done(0);
    EXPECT_EQ(result, AlertDefaultReturn);
    // Ended again (closed as its window goes): the caller, who may free what the alert held on the
    // first answer, hears nothing more.
    box->done(0);
    EXPECT_EQ(answers, 1);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// A click on a window under its alert, where the window manager hands the keyboard to the window
// clicked: the alert takes the keyboard back, instead of every key being dropped until it is
// clicked itself.
TEST(Panels, AWindowActivatedUnderItsAlertHandsTheKeyboardToTheAlert)
{
    Window w(Rect(0, 0, 400, 300), TitledWindowMask);
    w.orderFront();
    QMessageBox* box = AlertSheet::begin("Could not open the page", "OK", "", "", &w, nullptr, "");
    ASSERT_NE(box, nullptr);
    QCoreApplication::processEvents();
    EXPECT_EQ(w.blockingDialog(), box);
    w.widget()->activateWindow();
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_EQ(QApplication::activeWindow(), box);
    box->done(0);
    QCoreApplication::processEvents();
    EXPECT_EQ(w.blockingDialog(), nullptr);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// A file name of 250 letters and a deep folder hold no space to wrap at: the alert wraps them
// inside the window and shows every line, and still reports its texts exactly as given.
TEST(Panels, AlertWrapsLongNamesWithinTheWindow)
{
    Window w(Rect(0, 0, 700, 400), TitledWindowMask);
    w.orderFront();
    const QString title = QStringLiteral("The file \u201c%1.jpg\u201d could not be saved.").arg(QString(250, u'a'));
    const QString message = QStringLiteral("/photos") + QStringLiteral("/Holiday-2024-Sardinia").repeated(12);
    QMessageBox* box = AlertSheet::begin(title, "OK", "", "", &w, nullptr, message);
    ASSERT_NE(box, nullptr);
    QCoreApplication::processEvents();
    EXPECT_EQ(box->text(), title);
    EXPECT_EQ(box->informativeText(), message);
    const int screenWidth = box->screen()->availableGeometry().width();
    EXPECT_LE(box->frameGeometry().width(), std::min(screenWidth, w.widget()->width()));
    // Tall enough for every wrapped line of both texts at the width it has.
    const QFontMetrics fm(box->font());
    const int lines = fm.horizontalAdvance(title) / box->width() + fm.horizontalAdvance(message) / box->width() + 2;
    EXPECT_GE(box->height(), lines * fm.lineSpacing());
    box->done(0);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// An open panel that may choose folders and files: a folder typed into the name field and
// confirmed with Enter is the choice, instead of being opened inside the dialog.
TEST(Panels, TypedFolderIsChosenWhenFoldersMayBeChosen)
{
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkpath("album/inner"));
    Window w(Rect(0, 0, 400, 300), TitledWindowMask);
    w.orderFront();
    for (bool folders : {true, false}) {
        OpenPanel panel;
        panel.setCanChooseFiles(true);
        panel.setCanChooseDirectories(folders);
        panel.setAllowsMultipleSelection(true);
        panel.setDirectoryURL(dir.path());
        long result = 99;
        panel.beginSheetModalForWindow(&w, [&](long r) { result = r; });
        auto* dialog = w.widget()->findChild<QDialog*>(QStringLiteral("filePanel"));
        ASSERT_NE(dialog, nullptr);
        auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
        ASSERT_NE(name, nullptr);
        name->setText(dir.filePath("album"));
        name->setFocus();
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
        QApplication::sendEvent(name, &press);
        QApplication::sendEvent(name, &release);
        if (folders) {
            EXPECT_EQ(result, ModalResponseOK);
            EXPECT_EQ(panel.URLs(), QStringList{dir.filePath("album")});
        } else {
            // Files only: the folder opens inside the dialog, which stays up.
            EXPECT_EQ(result, 99);
            EXPECT_EQ(QDir(panel.directoryURL()).absolutePath(), QDir(dir.filePath("album")).absolutePath());
            dialog->reject();
            EXPECT_EQ(result, ModalResponseCancel);
        }
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

// An accessory view lives in the toolkit's own dialog, outside any window of ours: its presses,
// drags and releases still reach the view under the pointer, in the accessory's y-up coordinates,
// and a slider there follows the drag (before, the accessory's controls took no clicks at all).
TEST(Panels, AccessoryViewControlsTakeClicksInsideTheDialog)
{
    Window w(Rect(0, 0, 400, 300), TitledWindowMask);
    w.orderFront();
    View accessory(Rect(0, 0, 200, 60));
    auto* target = new Target(Rect(10, 30, 50, 20));
    accessory.addSubview(target);
    auto* slider = new Slider(Rect(10, 0, 100, 20));
    slider->setMinValue(0);
    slider->setMaxValue(1);
    int sliderActions = 0;
    slider->setAction([&](View*) { ++sliderActions; });
    accessory.addSubview(slider);
    SavePanel panel;
    panel.setAccessoryView(&accessory);
    panel.beginSheetModalForWindow(&w, [](long) {});
    auto* dialog = w.widget()->findChild<QDialog*>(QStringLiteral("filePanel"));
    ASSERT_NE(dialog, nullptr);

    auto send = [](QWidget* widget, QEvent::Type type, QPointF at, Qt::MouseButtons buttons) {
        QMouseEvent e(type, at, widget->mapToGlobal(at), type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                      buttons, Qt::NoModifier);
        QCoreApplication::sendEvent(widget, &e);
    };
    // (5, 5) in the target's widget is 5 right and 5 down from its top-left: (15, 45) in the
    // accessory, whose origin is at the bottom-left.
    send(target->widget(), QEvent::MouseButtonPress, QPointF(5, 5), Qt::LeftButton);
    send(target->widget(), QEvent::MouseButtonRelease, QPointF(5, 5), Qt::NoButton);
    ASSERT_EQ(target->downs.size(), 1u);
    EXPECT_EQ(target->downs[0], (Point{15, 45}));

    // A press at a quarter of the slider jumps there; a drag to three quarters follows.
    send(slider->widget(), QEvent::MouseButtonPress, QPointF(25, 10), Qt::LeftButton);
    const double pressed = slider->doubleValue();
    send(slider->widget(), QEvent::MouseMove, QPointF(75, 10), Qt::LeftButton);
    send(slider->widget(), QEvent::MouseButtonRelease, QPointF(75, 10), Qt::NoButton);
    EXPECT_LT(pressed, 0.5);
    EXPECT_GT(slider->doubleValue(), 0.5);
    EXPECT_GE(sliderActions, 2);

    dialog->reject();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// The keyboard's right click, for the context menus: the menu key or Shift+F10 right-clicks the
// middle of the focused view; with no view focused, the middle of the window, where the mouse's
// right button would. F10 alone still belongs to the menu bar.
TEST(QtDispatch, MenuKeyRightClicksTheFocusedViewOrTheMiddleOfTheWindow)
{
    KeyWindow w(Rect(0, 0, 300, 200), TitledWindowMask);
    auto* middle = new Target(Rect(100, 50, 100, 100));
    auto* corner = new Target(Rect(0, 0, 40, 20));
    w.contentView()->addSubview(middle);
    w.contentView()->addSubview(corner);
    w.orderFront();
    pressKey(w, Qt::Key_Menu);
    ASSERT_TRUE(w.makeFirstResponder(corner));
    QTest::keyClick(w.widget(), Qt::Key_F10, Qt::ShiftModifier);
    pressKey(w, Qt::Key_Menu);
    EXPECT_EQ(middle->rightDowns, (std::vector<Point>{{150, 100}}));
    EXPECT_EQ(corner->rightDowns, (std::vector<Point>{{20, 10}, {20, 10}}));
    EXPECT_TRUE(w.keys.empty() && corner->keys.empty()) << "the key went on as well";
}
