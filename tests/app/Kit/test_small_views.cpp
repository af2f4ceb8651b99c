// The kit's small pieces: the print sheet's Esc counter on every path, the filmstrip's scrolling
// seam on the manual clock, the layer scale, the Open panel's sub-folder choice, the status label's
// layout and minimum width, the link button's colours and cursor, the truncating label's tip,
// the intro overlay and the favourites shadow frames.
#include "Kit/LMAutoTipsLabel.h"
#include "Kit/LMBkgrdImageTextView.h"
#include "Kit/LMEventMonitorCenter.h"
#include "Kit/LMImageBrowserExtraItemViewController.h"
#include "Kit/LMIncludeSubDirOpenPanelController.h"
#include "Kit/LMLayerView.h"
#include "Kit/LMLinkButton.h"
#include "Kit/LMListView.h"
#include "Kit/LMNormalCheckButton.h"
#include "Kit/LMOverlapIntroTipsView.h"
#include "Kit/LMPrintPanelWrapper.h"
#include "Kit/NavStatusView.h"
#include "Kit/PhotoBinScrollView.h"
#include "Model/MainConfig.h"
#include "appkit/Window.h"
#include "foundation/Clock.h"
#include "foundation/RunLoop.h"
#include "foundation/UserDefaults.h"
#include "kit_support.h"

#include <QTemporaryDir>
#include <QTextDocument>
#include <QToolTip>
#include <QHelpEvent>
#include <QScreen>
#include <QMouseEvent>
#include <QWidget>
#include <QApplication>
#include <gtest/gtest.h>

using namespace kpv;

namespace {

class ClockTest : public testing::Test {
protected:
    void SetUp() override { RunLoop::main().setClock(&clock); }
    void TearDown() override
    {
        clock.advance(0);
        RunLoop::main().setClock(nullptr);
    }
    ManualClock clock;
};

// A panel that keeps its handler so the test decides when (and whether) the sheet ends.
class HeldPrintPanel : public PrintPanel {
public:
    std::vector<std::function<void(long)>> handlers;
    bool fail = false;
    void beginSheetWithPrintInfo(Window*, std::function<void(long)> handler) override
    {
        if (fail)
            throw std::runtime_error("no printer dialog");
        handlers.push_back(std::move(handler));
    }
};

TEST(PrintPanelWrapper, EscCounterIsRaisedOncePerSheetAndLoweredOnEveryPath)
{
    auto& center = LMEventMonitorCenter::eventMonitorCenter();
    const auto base = center.ignoreEscKeyCount();
    HeldPrintPanel panel;
    std::vector<long> codes;
    {
        LMPrintPanelWrapper w;
        w.printPanel(panel, nullptr, [&](long c) { codes.push_back(c); });
        EXPECT_EQ(center.ignoreEscKeyCount(), base + 1);
        panel.handlers[0](1);
        EXPECT_EQ(center.ignoreEscKeyCount(), base);
        EXPECT_EQ(codes, std::vector<long>{1});
        // A second end of the same sheet does not lower the counter below its start.
        panel.handlers[0](0);
        EXPECT_EQ(center.ignoreEscKeyCount(), base);

        // Two sheets begun, one ended: the wrapper's end lowers the other.
        w.printPanel(panel, nullptr, {});
        w.printPanel(panel, nullptr, [&](long c) { codes.push_back(c); });
        EXPECT_EQ(center.ignoreEscKeyCount(), base + 2);
        panel.handlers[2](0);
        EXPECT_EQ(center.ignoreEscKeyCount(), base + 1);
    }
    EXPECT_EQ(center.ignoreEscKeyCount(), base);
    // The sheet that outlived its wrapper ends into nothing.
    panel.handlers[1](1);
    EXPECT_EQ(center.ignoreEscKeyCount(), base);

    // A sheet that cannot begin leaves the counter as it was.
    LMPrintPanelWrapper w;
    panel.fail = true;
    EXPECT_THROW(w.printPanel(panel, nullptr, {}), std::runtime_error);
    EXPECT_EQ(center.ignoreEscKeyCount(), base);
}

TEST(PrintPanelWrapper, ASheetDroppedWithItsWindowLowersTheCounter)
{
    auto& center = LMEventMonitorCenter::eventMonitorCenter();
    const auto base = center.ignoreEscKeyCount();
    HeldPrintPanel panel;
    LMPrintPanelWrapper w;
    w.printPanel(panel, nullptr, {});
    w.printPanel(panel, nullptr, {});
    EXPECT_EQ(center.ignoreEscKeyCount(), base + 2);
    panel.handlers[0](1);
    panel.handlers.clear(); // the second sheet's window went away: its completion is dropped
    EXPECT_EQ(center.ignoreEscKeyCount(), base);
    EXPECT_EQ(w.sheetsUp(), 0);
}

TEST(PrintPanelWrapper, CompletionMayReleaseTheWrapper)
{
    auto& center = LMEventMonitorCenter::eventMonitorCenter();
    const auto base = center.ignoreEscKeyCount();
    HeldPrintPanel panel;
    auto w = std::make_unique<LMPrintPanelWrapper>();
    std::string seen = "a long enough capture to live on the heap, not inside the function object";
    long code = -1;
    w->printPanel(panel, nullptr, [&, seen](long c) {
        w.reset(); // the owner lets the wrapper go from its completion
        code = c;
        EXPECT_FALSE(seen.empty()); // the block's own state is still there
    });
    panel.handlers[0](1);
    EXPECT_EQ(code, 1);
    EXPECT_EQ(w, nullptr);
    EXPECT_EQ(center.ignoreEscKeyCount(), base);
}

class Strip : public PhotoBinViewScrolling {
public:
    std::vector<bool> nextItems;
    std::vector<double> moves;
    std::vector<double> snaps;
    bool atEnd = false;
    void scrollToNextItem(bool forward) override { nextItems.push_back(forward); }
    bool scrollWithoutChangeItemByDelta(double d) override
    {
        moves.push_back(d);
        return atEnd;
    }
    void scrollToItemByCenterPositionWithDelta(double d) override { snaps.push_back(d); }
};

using StripScrollTest = ClockTest;

EventPtr scroll(double dx, double dy, int phase, int momentum)
{
    auto e = Event::mouseEvent(ScrollWheel, Point{10, 10}, nullptr);
    e->setScrollingDelta(dx, dy);
    e->setPhase(phase);
    e->setMomentumPhase(momentum);
    return e;
}

TEST_F(StripScrollTest, WheelStepsOneItemPerNotch)
{
    Strip strip;
    PhotoBinScrollView v(Rect(0, 0, 400, 60));
    v.setPhotoBinView(&strip);
    v.scrollWheel(*scroll(0, -1, PhaseNone, PhaseNone));
    v.scrollWheel(*scroll(0, 2, PhaseNone, PhaseNone)); // two notches in one report: two steps
    v.scrollWheel(*scroll(5, 0, PhaseNone, PhaseNone)); // only sideways: nothing
    EXPECT_EQ(strip.nextItems, (std::vector<bool>{true, false, false}));
    EXPECT_TRUE(strip.moves.empty());
}

TEST_F(StripScrollTest, SmoothWheelAndPhaselessTouchpadStepOneItemPerNotchNotPerReport)
{
    Strip strip;
    PhotoBinScrollView v(Rect(0, 0, 400, 60));
    v.setPhotoBinView(&strip);
    // A smooth wheel reports each notch in eighths: two notches down step two photos on.
    for (int i = 0; i < 16; ++i)
        v.scrollWheel(*scroll(0, -0.125, PhaseNone, PhaseNone));
    EXPECT_EQ(strip.nextItems, (std::vector<bool>{true, true}));
    // Half a notch back and then forth again moves nothing.
    v.scrollWheel(*scroll(0, 0.5, PhaseNone, PhaseNone));
    v.scrollWheel(*scroll(0, -0.5, PhaseNone, PhaseNone));
    EXPECT_EQ(strip.nextItems.size(), 2u);
    // A touchpad without gesture phases reports pixels: a short swipe is one step, not thirty.
    strip.nextItems.clear();
    for (int i = 0; i < 30; ++i) {
        auto e = scroll(0, 2, PhaseNone, PhaseNone);
        e->setHasPreciseScrollingDeltas(true);
        v.scrollWheel(*e);
    }
    EXPECT_EQ(strip.nextItems, (std::vector<bool>{false}));
    EXPECT_TRUE(strip.moves.empty());
}

TEST_F(StripScrollTest, GestureSnapsAfterTheLastMomentumEvent)
{
    Strip strip;
    PhotoBinScrollView v(Rect(0, 0, 400, 60));
    v.setPhotoBinView(&strip);
    v.scrollWheel(*scroll(-3, 0, PhaseBegan, PhaseNone));
    v.scrollWheel(*scroll(-4, 0, PhaseChanged, PhaseNone));
    v.scrollWheel(*scroll(0, 0, PhaseEnded, PhaseNone));
    EXPECT_TRUE(v.isGestureScrollTimerRunning());
    clock.advance(0.03);
    v.scrollWheel(*scroll(-6, 0, PhaseNone, PhaseBegan));
    clock.advance(0.03);
    v.scrollWheel(*scroll(-2, 0, PhaseNone, PhaseChanged)); // pushes the snap further
    clock.advance(0.04);
    EXPECT_TRUE(strip.snaps.empty());
    clock.advance(0.02);
    EXPECT_EQ(strip.snaps, std::vector<double>{-2});
    EXPECT_EQ(strip.moves, (std::vector<double>{-3, -4, -6, -2}));
    // Stray momentum after the snap moves nothing.
    v.scrollWheel(*scroll(-1, 0, PhaseNone, PhaseChanged));
    EXPECT_EQ(strip.moves.size(), 4u);
}

TEST_F(StripScrollTest, ReachingAnEndSnapsAtOnceOnlyAfterTheFingerLifts)
{
    Strip strip;
    strip.atEnd = true;
    PhotoBinScrollView v(Rect(0, 0, 400, 60));
    v.setPhotoBinView(&strip);
    v.scrollWheel(*scroll(-3, 0, PhaseBegan, PhaseNone));
    v.scrollWheel(*scroll(-4, 0, PhaseChanged, PhaseNone));
    EXPECT_TRUE(strip.snaps.empty()); // the finger is still down
    v.scrollWheel(*scroll(0, 0, PhaseEnded, PhaseNone));
    v.scrollWheel(*scroll(-9, 0, PhaseNone, PhaseBegan));
    EXPECT_EQ(strip.snaps, std::vector<double>{-9});
    EXPECT_FALSE(v.isGestureScrollTimerRunning());
    clock.advance(1);
    EXPECT_EQ(strip.snaps.size(), 1u);
}

TEST(LayerView, ScaleFollowsTheWindowItMovesTo)
{
    LMLayerView* v = new LMLayerView(Rect(0, 0, 50, 50));
    auto sub = Layer::layer();
    auto deeper = Layer::layer();
    sub->addSublayer(deeper);
    v->layer()->addSublayer(sub);
    v->awakeFromNib(); // not in a window yet: nothing changes
    EXPECT_EQ(v->layer()->contentsScale(), 1.0);

    Window dense(Rect(0, 0, 100, 100), TitledWindowMask);
    dense.setBackingScaleFactorOverride(2.0);
    dense.contentView()->addSubview(v);
    EXPECT_EQ(v->layer()->contentsScale(), 2.0);
    EXPECT_EQ(sub->contentsScale(), 2.0);
    EXPECT_EQ(deeper->contentsScale(), 1.0); // only direct sublayers follow

    // A window of the same scale changes nothing, not even sublayers set apart meanwhile.
    sub->setContentsScale(3.0);
    Window other(Rect(0, 0, 100, 100), TitledWindowMask);
    other.setBackingScaleFactorOverride(2.0);
    v->removeFromSuperview();
    other.contentView()->addSubview(v);
    EXPECT_EQ(sub->contentsScale(), 3.0);
}

class FakeOpenPanel : public OpenPanel {
public:
    long answer = ModalResponseOK;
    bool sawAccessory = false;
    long runModal() override
    {
        sawAccessory = accessoryView() != nullptr;
        if (answer == ModalResponseOK)
            m_urls = {"/photos/a", "/photos/b"};
        return answer;
    }
};

TEST(IncludeSubDirOpenPanel, ChoiceIsShownFromAndStoredToTheSettingsOnlyOnOk)
{
    QTemporaryDir dir;
    UserDefaults defaults(dir.path() + "/settings.json");
    MainConfig config(defaults);
    config.setViewPhotosInSubfolder(true);
    FakeOpenPanel* last = nullptr;
    long answer = ModalResponseOK;
    LMIncludeSubDirOpenPanelController c(&config, [&] {
        auto p = std::make_unique<FakeOpenPanel>();
        p->answer = answer;
        last = p.get();
        return p;
    });
    const auto escBase = LMEventMonitorCenter::eventMonitorCenter().ignoreEscKeyCount();

    EXPECT_EQ(c.runModalOpenPanelWithDirectory(QUrl::fromLocalFile("/photos"), true, true), ModalResponseOK);
    EXPECT_TRUE(last->sawAccessory);
    EXPECT_TRUE(c.includeSubDir()); // the accessory showed the stored choice
    EXPECT_TRUE(last->canChooseDirectories());
    EXPECT_TRUE(last->canChooseFiles());
    EXPECT_TRUE(last->allowsMultipleSelection());
    EXPECT_EQ(last->directoryURL(), QString("/photos"));
    EXPECT_EQ(c.openFileURLs(), (QStringList{"/photos/a", "/photos/b"}));
    EXPECT_EQ(LMEventMonitorCenter::eventMonitorCenter().ignoreEscKeyCount(), escBase);

    // Unticked, then cancelled: the settings keep the old choice.
    c.setIncludeSubDir(false);
    answer = 0;
    EXPECT_EQ(c.runModalOpenPanelWithDirectory(QUrl(), true, true), 0);
    EXPECT_TRUE(config.viewPhotosInSubfolder());
    EXPECT_TRUE(c.openFileURLs().isEmpty());

    // Unticked and confirmed: stored.
    answer = ModalResponseOK;
    c.runModalOpenPanelWithDirectory(QUrl(), true, true);
    EXPECT_FALSE(config.viewPhotosInSubfolder());

    // Folders only, no accessory: the setting is left alone whatever the box says.
    c.setIncludeSubDir(true);
    c.runModalOpenPanelWithDirectory(QUrl(), false, false);
    EXPECT_FALSE(last->sawAccessory);
    EXPECT_FALSE(last->canChooseFiles());
    EXPECT_FALSE(config.viewPhotosInSubfolder());
}

// The accessory lives in the desktop's dialog, not on our dark skin: its title must not be drawn in
// the skin's near-white.
TEST(IncludeSubDirOpenPanel, TitleReadsInTheDialogsColours)
{
    QTemporaryDir dir;
    UserDefaults defaults(dir.path() + "/settings.json");
    MainConfig config(defaults);
    LMIncludeSubDirOpenPanelController c(&config, [] { return std::make_unique<FakeOpenPanel>(); });
    TextField* title = nullptr;
    for (View* v : c.view()->subviews())
        if (auto* t = dynamic_cast<TextField*>(v))
            title = t;
    ASSERT_NE(title, nullptr);
    EXPECT_EQ(title->textColor(), Color::panelTextColor());
    EXPECT_NE(title->textColor(), Color::controlTextColor());

    // The box is drawn beside its title, not over its first letters.
    LMNormalCheckButton* box = nullptr;
    for (View* v : c.view()->subviews())
        if (auto* b = dynamic_cast<LMNormalCheckButton*>(v))
            box = b;
    ASSERT_NE(box, nullptr);
    const ImagePtr mark = box->imageByState(0);
    ASSERT_TRUE(mark);
    EXPECT_LE(box->frame().x() + double(box->iconLeftMargin()) + mark->size().width, title->frame().x());
}

// The box sits in the desktop's dialog, outside our windows: a click on it still ticks it, and a
// second click unticks it.
TEST(IncludeSubDirOpenPanel, AClickInTheDesktopsDialogTicksTheBox)
{
    // The program has its main window, and so the route of the toolkit's events to views, before
    // the dialog can open; a test run alone has no window yet.
    Application::shared().ensureEventFilter();
    QTemporaryDir dir;
    UserDefaults defaults(dir.path() + "/settings.json");
    MainConfig config(defaults);
    LMIncludeSubDirOpenPanelController c(&config, [] { return std::make_unique<FakeOpenPanel>(); });
    c.setIncludeSubDir(false);
    QWidget dialog;
    c.view()->widget()->setParent(&dialog);
    dialog.show();
    LMNormalCheckButton* box = nullptr;
    for (View* v : c.view()->subviews())
        if (auto* b = dynamic_cast<LMNormalCheckButton*>(v))
            box = b;
    ASSERT_NE(box, nullptr);
    QWidget* w = box->widget();
    const QPointF at(6, w->height() / 2.0); // on the box itself, left of its title
    auto click = [&] {
        QMouseEvent press(QEvent::MouseButtonPress, at, w->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(w, &press);
        QMouseEvent release(QEvent::MouseButtonRelease, at, w->mapToGlobal(at), Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(w, &release);
    };
    click();
    EXPECT_TRUE(c.includeSubDir());
    click();
    EXPECT_FALSE(c.includeSubDir());
    c.view()->widget()->setParent(nullptr);
}

using LabelTest = ClockTest;

TEST_F(LabelTest, LayoutCentresWithMarginsOrKeepsLeft)
{
    using L = LMBkgrdImageTextView;
    // Text 50 x 14, slices 6 and 6: content 60, width 8 + 60 + 12 + 8 = 88, height 31. Frames are
    // made integral outwards, so the half-point centre (y 34.5) costs a point of height.
    L::Layout l = L::layoutFor(Rect(0, 0, 200, 100), {49.6, 14.2}, {}, 6, 6, false);
    EXPECT_EQ(l.frame, Rect(56, 34, 88, 32));
    EXPECT_EQ(l.textFrame, Rect(16, 10, 74, 15)); // left (88 - 60) / 2 + 2, top (31 - 14) / 2 + 2 = 10.5
    // With an indicator 16 x 16: content 84, height from the indicator.
    l = L::layoutFor(Rect(0, 0, 200, 100), {50, 14}, {16, 16}, 6, 6, false);
    EXPECT_EQ(l.frame.size, (Size{112, 34})); // 33 high from y 33.5
    EXPECT_EQ(l.indicatorOrigin, (Point{14, 10}));
    // Left aligned: no side margins, at x 0.
    l = L::layoutFor(Rect(0, 0, 200, 100), {50, 14}, {}, 6, 6, true);
    EXPECT_EQ(l.frame, Rect(0, 34, 72, 32));
    // A superview smaller than the label: placed at 0, never negative.
    l = L::layoutFor(Rect(0, 0, 40, 10), {50, 14}, {}, 6, 6, false);
    EXPECT_EQ(l.frame.origin, (Point{0, 0}));
    // A minimum width widens the label around its centred text.
    l = L::layoutFor(Rect(0, 0, 200, 100), {10, 14}, {}, 6, 6, false, 60);
    EXPECT_EQ(l.frame, Rect(70, 34, 60, 32));
    EXPECT_EQ(l.textFrame.x(), 2 + (60 - 20) / 2);
}

TEST_F(LabelTest, SameTextDoesNothingAndTheSpinnerStartsLate)
{
    View parent(Rect(0, 0, 300, 80));
    auto* status = new NavStatusView();
    parent.addSubview(status);
    EXPECT_EQ(status->minWidth(), 60);
    status->setText(""); // the text it already shows: nothing to lay out
    EXPECT_EQ(status->layoutCount(), 0);
    status->setText("1");
    EXPECT_GE(status->frame().width(), 60); // the status box never shrinks to a sliver
    status->setText("Loading", true);
    const int layouts = status->layoutCount();
    EXPECT_FALSE(status->waitingIndicator()->isHidden());
    EXPECT_FALSE(status->waitingIndicator()->isAnimating());
    clock.advance(LMBkgrdImageTextView::kWaitingDelay);
    EXPECT_TRUE(status->waitingIndicator()->isAnimating());
    status->setText("Loading", true);
    EXPECT_EQ(status->layoutCount(), layouts);
    const double wide = status->frame().width();
    status->setText("Loading", false); // same text, other flag: hidden at once, laid out again
    EXPECT_TRUE(status->waitingIndicator()->isHidden());
    EXPECT_FALSE(status->waitingIndicator()->isAnimating());
    EXPECT_EQ(status->layoutCount(), layouts + 1);
    EXPECT_LT(status->frame().width(), wide);
    // Hidden again before the delay ran out: the spinner never starts.
    status->setText("Again", true);
    status->setText("Again", false);
    clock.advance(1);
    EXPECT_FALSE(status->waitingIndicator()->isAnimating());
}

TEST(LinkButton, ColourFollowsTheMouseOnlyWithARollColour)
{
    Window w(Rect(0, 0, 200, 100), TitledWindowMask);
    auto* b = new LMLinkButton(Rect(10, 10, 80, 20));
    w.contentView()->addSubview(b);
    const Color normal(0.1, 0.2, 0.3, 1), roll(1, 0, 0, 1);
    b->textButtonTitle()->setTextColor(normal);
    b->awakeFromNib();
    b->mouseEntered(*Event::mouseEvent(MouseEntered, Point{20, 20}, &w));
    EXPECT_EQ(b->textButtonTitle()->textColor(), normal); // no roll colour: never changes

    b->setRollTextColor(roll);
    b->updateButtonUI();
    EXPECT_EQ(b->textButtonTitle()->textColor(), roll);
    b->mouseExited(*Event::mouseEvent(MouseExited, Point{150, 80}, &w));
    EXPECT_EQ(b->textButtonTitle()->textColor(), normal);

    ASSERT_EQ(b->cursorRects().size(), 1u);
    EXPECT_EQ(b->cursorRects()[0].rect, b->bounds());
    b->mouseEntered(*Event::mouseEvent(MouseEntered, Point{20, 20}, &w));
    b->setEnabled(false);
    EXPECT_EQ(b->textButtonTitle()->textColor(), normal);
    ASSERT_EQ(b->cursorRects().size(), 1u); // the plain button's own rectangle: the arrow
    EXPECT_EQ(b->cursorRects()[0].cursor.shape(), Qt::ArrowCursor);
}

TEST(AutoTipsLabel, TipOnlyWhenTheTextDoesNotFit)
{
    EXPECT_TRUE(LMAutoTipsLabel::textNeedsTip(98, 100));
    EXPECT_FALSE(LMAutoTipsLabel::textNeedsTip(97, 100));
    LMAutoTipsLabel label(Rect(0, 0, 40, 16));
    label.setStringValue("A caption far too long for forty points");
    EXPECT_EQ(label.toolTip(), label.stringValue());
    label.setFrame(Rect(0, 0, 2000, 16));
    EXPECT_EQ(label.toolTip(), QString());
    label.setFrame(Rect(5, 5, 2000, 16)); // moved, not resized: nothing to recheck
    label.setStringValue("ok");
    EXPECT_EQ(label.toolTip(), QString());
}

// A value from a photo's metadata that looks like markup is shown by its tip as it stands: no
// bold, no image loaded from the path it names.
TEST(AutoTipsLabel, ATipShowsMarkupAsText)
{
    Window window(Rect(0, 0, 200, 40), TitledWindowMask);
    auto* label = new LMAutoTipsLabel(Rect(0, 10, 40, 17));
    window.contentView()->addSubview(label);
    for (const QString& text : {QString("<b>Maker</b> <img src=\"/tmp/x.png\"> & co"), QString("<i>a</i>\n  b<br>c")}) {
        label->setStringValue(text);
        EXPECT_EQ(label->toolTip(), text);
        // What the toolkit's tip shows: markup when the tip looks like markup, else the text.
        const QString tip = label->widget()->toolTip();
        QTextDocument shown;
        Qt::mightBeRichText(tip) ? shown.setHtml(tip) : shown.setPlainText(tip);
        EXPECT_EQ(shown.toPlainText().replace(QChar(0x2028), u'\n').simplified(), text.simplified());
    }
}

// The tip of a file name of 250 letters, shown as the pointer rests on the label, stays within
// the screen: it wraps, though the name has nowhere to break.
TEST(AutoTipsLabel, ALongTipStaysWithinTheScreen)
{
    Window window(Rect(0, 0, 200, 40), TitledWindowMask);
    auto* label = new LMAutoTipsLabel(Rect(0, 10, 40, 17));
    window.contentView()->addSubview(label);
    window.orderFront();
    const QString name = QString(250, u'a') + ".jpg";
    label->setStringValue(name);
    EXPECT_EQ(label->toolTip(), name);
    QWidget* w = label->widget();
    QHelpEvent rest(QEvent::ToolTip, QPoint(5, 5), w->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(w, &rest);
    QWidget* tip = nullptr;
    for (QWidget* t : QApplication::topLevelWidgets())
        if (t->objectName() == "qtooltip_label" && t->isVisible())
            tip = t;
    ASSERT_NE(tip, nullptr);
    EXPECT_LE(tip->width(), w->screen()->availableGeometry().width());
    EXPECT_GT(tip->height(), 2 * tip->fontMetrics().lineSpacing());
    QToolTip::hideText();
}

// A label of the default font in a row of the Info panel's 17 points shows the whole of its line:
// the underscore of "IMG_0001.jpg" sits lowest of all and was cut off when the font came out
// larger than the row.
TEST(AutoTipsLabel, AnUnderscoreShowsInARowOfSeventeenPoints)
{
    Window window(Rect(0, 0, 200, 40), TitledWindowMask);
    auto* label = new LMAutoTipsLabel(Rect(0, 10, 200, 17));
    window.contentView()->addSubview(label);
    label->setTextColor(Color(1, 1, 1, 1));
    for (double scale : {1.0, 2.0}) {
        label->setStringValue("_");
        const QImage underscore = label->renderToImage(scale);
        label->setStringValue("");
        const QImage empty = label->renderToImage(scale);
        ASSERT_EQ(underscore.size(), empty.size());
        EXPECT_NE(underscore, empty) << "scale " << scale;
    }
}

class TipOwner : public LMOverlapIntroTipsViewDelegate {
public:
    int clicks = 0;
    void mouseDownOnOverlapIntroTipsView(LMOverlapIntroTipsView*) override { ++clicks; }
};

class Beneath : public View {
public:
    using View::View;
    int events = 0;
    void mouseDown(const Event&) override { ++events; }
    void mouseUp(const Event&) override { ++events; }
    void scrollWheel(const Event&) override { ++events; }
};

TEST(OverlapIntroTips, ClicksStopAtTheOverlay)
{
    Window w(Rect(0, 0, 200, 100), TitledWindowMask);
    auto* beneath = new Beneath(Rect(0, 0, 200, 100));
    w.contentView()->addSubview(beneath);
    auto* overlay = new LMOverlapIntroTipsView(Rect(0, 0, 200, 100));
    beneath->addSubview(overlay);
    overlay->mouseDown(*Event::mouseEvent(LeftMouseDown, Point{50, 50}, &w)); // no delegate
    TipOwner owner;
    overlay->setDelegate(&owner);
    overlay->mouseDown(*Event::mouseEvent(LeftMouseDown, Point{50, 50}, &w));
    overlay->mouseUp(*Event::mouseEvent(LeftMouseUp, Point{50, 50}, &w));
    overlay->scrollWheel(*Event::mouseEvent(ScrollWheel, Point{50, 50}, &w));
    EXPECT_EQ(owner.clicks, 1);
    EXPECT_EQ(beneath->events, 0);
}

TEST(FavouritesOverlay, SelectionSwitchesBetweenTwoSharedFrames)
{
    clearSkinImages(); // the generated skin
    FavBrowserExtraItemViewController a, b;
    a.updateUIWithCellFrame(Rect(), Rect(), false);
    b.updateUIWithCellFrame(Rect(), Rect(), true);
    EXPECT_EQ(a.shadowView()->bkNineSliceImageRep(), FavBrowserExtraItemViewController::shadowRep(false));
    EXPECT_EQ(b.shadowView()->bkNineSliceImageRep(), FavBrowserExtraItemViewController::shadowRep(true));
    a.updateUIWithCellFrame(Rect(), Rect(), true);
    EXPECT_EQ(a.shadowView()->bkNineSliceImageRep(), b.shadowView()->bkNineSliceImageRep());
    const auto& on = FavBrowserExtraItemViewController::shadowRep(true);
    ASSERT_NE(on->nineSliceImage(), nullptr); // the skin has the picture
    EXPECT_EQ(on->nineSliceSizeRightBottom(), (Point{19, 18}));
    EXPECT_NE(FavBrowserExtraItemViewController::shadowRep(false)->nineSliceImage(), nullptr);
}

} // namespace

// A list with no row says so in its own words, the line gone while a row is shown and back once
// the last row leaves (the last account signed out), on screen.
TEST(ListView, ShowsItsEmptyTextOnlyWhileItHoldsNoRow)
{
    Window window(Rect(0, 0, 300, 200), TitledWindowMask);
    window.setBackgroundColor(Color(0, 0, 0));
    auto* list = new LMListView(Rect(0, 0, 300, 200), QStringLiteral("No accounts yet: the sites you sign in to are listed here."));
    window.contentView()->addSubview(list);
    window.orderFront();
    // Light pixels of text in the middle band of the list.
    auto textShown = [&] {
        window.display();
        const QImage shot = window.widget()->grab().toImage();
        int light = 0;
        for (int y = 70; y < 130; ++y)
            for (int x = 0; x < 300; ++x)
                light += qGray(shot.pixel(x, y)) > 100;
        return light > 30;
    };
    EXPECT_TRUE(list->isShowingEmptyText());
    EXPECT_TRUE(textShown());

    auto* row = new View(Rect(0, 160, 300, 40));
    list->addSubview(row);
    EXPECT_FALSE(list->isShowingEmptyText());
    EXPECT_FALSE(textShown());
    row->removeFromSuperview();
    delete row;
    EXPECT_TRUE(textShown());
}
