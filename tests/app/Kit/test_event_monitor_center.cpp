// The event monitor centre: newest first, consumption, removal during dispatch, the platform
// monitor's mask, and the Esc-ignore counter on every path of the panels and alerts.
#include "Kit/LMAlertSheet.h"
#include "Kit/LMEventMonitorCenter.h"
#include "Kit/LMOpenPanelWrapper.h"
#include "Kit/LMSavePanelWrapper.h"
#include "appkit/Application.h"
#include "foundation/Clock.h"
#include "foundation/RunLoop.h"
#include "kit_support.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QPushButton>
#include <gtest/gtest.h>
#include <stdexcept>
#include <vector>

using namespace kpv;

namespace {
EventPtr keyDown(unsigned short code) { return Event::keyEvent(KeyDown, code, "", "", nullptr); }

class MonitorCenterTest : public testing::Test {
protected:
    void SetUp() override { RunLoop::main().setClock(&clock); }
    void TearDown() override { RunLoop::main().setClock(nullptr); }
    // The next pass of the run loop, where removals are cleaned up.
    void nextPass() { clock.advance(0); }
    ManualClock clock;
    LMEventMonitorCenter center;
};
} // namespace

TEST_F(MonitorCenterTest, NewestFirstAndConsumption)
{
    std::vector<int> calls;
    center.addLocalMonitorForEventsMatchingMask(KeyDownMask, [&](const Event&) { calls.push_back(1); return false; });
    center.addLocalMonitorForEventsMatchingMask(KeyDownMask, [&](const Event&) { calls.push_back(2); return true; });
    EXPECT_EQ(center.dispatch(keyDown(KeyCode::A)), nullptr);
    EXPECT_EQ(calls, (std::vector<int>{2}));

    // Through the application: the consumed event reaches nobody else.
    calls.clear();
    Application::shared().sendEvent(keyDown(KeyCode::A));
    EXPECT_EQ(calls, (std::vector<int>{2}));
}

TEST_F(MonitorCenterTest, RemovalDuringDispatchAndAddingDuringDispatch)
{
    std::vector<int> calls;
    LMEventMonitorPtr first, second;
    first = center.addLocalMonitorForEventsMatchingMask(AnyEventMask, [&](const Event&) {
        calls.push_back(1);
        return false;
    });
    second = center.addLocalMonitorForEventsMatchingMask(AnyEventMask, [&](const Event&) {
        calls.push_back(2);
        center.removeMonitor(first); // removed: not called later in this same dispatch
        center.removeMonitor(second);
        center.addLocalMonitorForEventsMatchingMask(AnyEventMask, [&](const Event&) {
            calls.push_back(3);
            return false;
        });
        return false;
    });
    EXPECT_NE(center.dispatch(keyDown(KeyCode::A)), nullptr);
    EXPECT_EQ(calls, (std::vector<int>{2}));
    EXPECT_EQ(center.eventMonitors().size(), 3u); // still listed until the next pass
    nextPass();
    EXPECT_EQ(center.eventMonitors().size(), 1u);
    calls.clear();
    center.dispatch(keyDown(KeyCode::A));
    EXPECT_EQ(calls, (std::vector<int>{3}));
}

TEST_F(MonitorCenterTest, PlatformMonitorFollowsTheUnionOfMasks)
{
    auto a = center.addLocalMonitorForEventsMatchingMask(KeyDownMask, [](const Event&) { return false; });
    const auto token = center.rootEventMonitor();
    ASSERT_TRUE(token.has_value());
    EXPECT_EQ(center.allEventMonitroMask(), KeyDownMask);
    // Covered: the platform monitor stays the same.
    center.addLocalMonitorForEventsMatchingMask(KeyDownMask, [](const Event&) { return false; });
    EXPECT_EQ(center.rootEventMonitor(), token);
    // A new bit replaces it with one for the union.
    auto c = center.addLocalMonitorForEventsMatchingMask(LeftMouseDownMask, [](const Event&) { return false; });
    EXPECT_NE(center.rootEventMonitor(), token);
    EXPECT_EQ(center.allEventMonitroMask(), KeyDownMask | LeftMouseDownMask);
    EXPECT_EQ(Application::shared().monitorMask(*center.rootEventMonitor()), KeyDownMask | LeftMouseDownMask);
    // Narrowing happens on the next pass after a removal.
    center.removeMonitor(c);
    EXPECT_EQ(center.allEventMonitroMask(), KeyDownMask | LeftMouseDownMask);
    nextPass();
    EXPECT_EQ(center.allEventMonitroMask(), KeyDownMask);
    // A monitor without the key-down bit is not called for key-downs.
    bool mouseOnlyCalled = false;
    center.addLocalMonitorForEventsMatchingMask(LeftMouseDownMask, [&](const Event&) { return mouseOnlyCalled = true; });
    center.dispatch(keyDown(KeyCode::A));
    EXPECT_FALSE(mouseOnlyCalled);
    // Removing everything removes the platform monitor.
    for (const auto& m : center.eventMonitors())
        center.removeMonitor(m);
    nextPass();
    EXPECT_FALSE(center.rootEventMonitor().has_value());
    EXPECT_EQ(center.allEventMonitroMask(), 0u);
}

TEST_F(MonitorCenterTest, EscPassesUntouchedWhileTheCounterIsRaised)
{
    int seen = 0;
    center.addLocalMonitorForEventsMatchingMask(AnyEventMask, [&](const Event&) { ++seen; return true; });
    center.increaseCountForIgnoreEscKey();
    auto esc = keyDown(KeyCode::Escape);
    EXPECT_EQ(center.dispatch(esc), esc);
    EXPECT_EQ(seen, 0);
    EXPECT_EQ(center.dispatch(keyDown(KeyCode::A)), nullptr); // other keys still go to monitors
    auto escUp = Event::keyEvent(KeyUp, KeyCode::Escape, "", "", nullptr);
    EXPECT_EQ(center.dispatch(escUp), nullptr);
    EXPECT_EQ(seen, 2);
    center.decreaseCountForIgnoreEscKey();
    center.decreaseCountForIgnoreEscKey(); // unbalanced: negative counts ignore Esc too
    EXPECT_EQ(center.ignoreEscKeyCount(), -1);
    EXPECT_EQ(center.dispatch(esc), esc);
    center.increaseCountForIgnoreEscKey();
    EXPECT_EQ(center.dispatch(esc), nullptr);
}

namespace {
// Panels that answer at once, or fail, so the wrappers can be driven without a dialog.
class FakeSavePanel : public SavePanel {
public:
    enum Mode { Answer, ThrowPlatform, ThrowOther } mode = Answer;
    std::int64_t countSeen = 0;
    std::function<void(long)> pending;
    long runModal() override
    {
        countSeen = LMEventMonitorCenter::eventMonitorCenter().ignoreEscKeyCount();
        if (mode == ThrowPlatform)
            throw std::runtime_error("panel failed");
        if (mode == ThrowOther)
            throw 42;
        return ModalResponseOK;
    }
    void beginSheetModalForWindow(Window*, std::function<void(long)> handler) override
    {
        if (mode != Answer)
            throw std::runtime_error("no sheet");
        pending = std::move(handler);
    }
};

class FakeOpenPanel : public OpenPanel {
public:
    bool fail = false;
    long runModal() override
    {
        if (fail)
            throw std::runtime_error("panel failed");
        return ModalResponseCancel;
    }
};
} // namespace

TEST(PanelWrappers, TheEscCounterIsBalancedOnEveryPath)
{
    auto& shared = LMEventMonitorCenter::eventMonitorCenter();
    const auto before = shared.ignoreEscKeyCount();
    LMSavePanelWrapper save;
    FakeSavePanel panel;
    EXPECT_EQ(save.runModalForSavePanel(panel), 1);
    EXPECT_EQ(panel.countSeen, before + 1);
    EXPECT_EQ(shared.ignoreEscKeyCount(), before);

    panel.mode = FakeSavePanel::ThrowPlatform;
    EXPECT_EQ(save.runModalForSavePanel(panel), 0);
    EXPECT_EQ(shared.ignoreEscKeyCount(), before);

    panel.mode = FakeSavePanel::ThrowOther;
    EXPECT_THROW(save.runModalForSavePanel(panel), int);
    EXPECT_EQ(shared.ignoreEscKeyCount(), before);

    // As a sheet: raised until the completion, which lowers it before the caller's handler.
    panel.mode = FakeSavePanel::Answer;
    std::int64_t seenInHandler = -100;
    save.savePanel(panel, nullptr, [&](std::int64_t) { seenInHandler = shared.ignoreEscKeyCount(); });
    EXPECT_EQ(shared.ignoreEscKeyCount(), before + 1);
    panel.pending(1);
    EXPECT_EQ(seenInHandler, before);
    panel.mode = FakeSavePanel::ThrowPlatform;
    EXPECT_THROW(save.savePanel(panel, nullptr, nullptr), std::runtime_error);
    EXPECT_EQ(shared.ignoreEscKeyCount(), before);

    // A sheet whose window is destroyed while it is up never answers; dropping its completion
    // lowers the counter all the same, once.
    panel.mode = FakeSavePanel::Answer;
    bool called = false;
    save.savePanel(panel, nullptr, [&](std::int64_t) { called = true; });
    EXPECT_EQ(shared.ignoreEscKeyCount(), before + 1);
    panel.pending = nullptr;
    EXPECT_EQ(shared.ignoreEscKeyCount(), before);
    EXPECT_FALSE(called);

    LMOpenPanelWrapper open;
    FakeOpenPanel openPanel;
    EXPECT_EQ(open.runModalForOpenPanel(openPanel), 0);
    openPanel.fail = true;
    EXPECT_THROW(open.runModalForOpenPanel(openPanel), std::runtime_error);
    EXPECT_EQ(shared.ignoreEscKeyCount(), before);
}

TEST(AlertSheetTest, RaisesTheCounterUntilItEndsAndShowsTextLiterally)
{
    auto& shared = LMEventMonitorCenter::eventMonitorCenter();
    const auto before = shared.ignoreEscKeyCount();
    int code = 99;
    QMessageBox* box;
    {
        LMAlertSheet alert; // dropped at once: the sheet keeps what it needs
        box = alert.beginAlertSheet("Title", "OK", "Cancel", "", nullptr, [&](std::int32_t rc) { code = rc; },
                                    "100% done, %d %@ left");
    }
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->informativeText(), "100% done, %d %@ left");
    EXPECT_EQ(box->textFormat(), Qt::PlainText);
    EXPECT_EQ(shared.ignoreEscKeyCount(), before + 1);
    QAbstractButton* cancel = nullptr;
    for (QAbstractButton* b : box->buttons())
        if (b->text() == "Cancel")
            cancel = b;
    ASSERT_NE(cancel, nullptr);
    cancel->click();
    EXPECT_EQ(code, 0);
    EXPECT_EQ(shared.ignoreEscKeyCount(), before);
}

TEST(AlertSheetTest, ASheetDestroyedWhileUpLowersTheCounter)
{
    auto& shared = LMEventMonitorCenter::eventMonitorCenter();
    const auto before = shared.ignoreEscKeyCount();
    bool called = false;
    LMAlertSheet alert;
    QMessageBox* box = alert.beginAlertSheet("Title", "OK", "", "", nullptr, [&](std::int32_t) { called = true; }, "");
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(shared.ignoreEscKeyCount(), before + 1);
    delete box; // as when the window it belongs to goes away
    EXPECT_EQ(shared.ignoreEscKeyCount(), before);
    EXPECT_FALSE(called);
}
