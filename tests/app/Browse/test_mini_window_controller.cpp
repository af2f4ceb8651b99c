// The mini window controller: entering and leaving from each mode, fitting the window to turned
// images, zoom in both forms, rotation room and the equivalent responders.
#include "browse_support.h"

#include "Browse/MiniWindowController.h"

#include "appkit/Event.h"
#include "foundation/Clock.h"
#include "foundation/RunLoop.h"

#include <gtest/gtest.h>

namespace {

class FakeMiniHost : public MiniWindowHost {
public:
    long mode = 4;
    kpv::Rect frame{100, 100, 400, 300};
    kpv::Rect visible{0, 0, 1440, 900};
    kpv::Size fileSize{800, 600};
    bool hasFile = true;
    double scale = 0.5, maxScale = 8;
    kpv::Rect imageRect{0, 0, 400, 300};
    int scaleMode = 0;
    bool imageForm = false;
    bool registered = false;
    QString status;
    std::vector<long> modes;

    long showMode() const override { return mode; }
    void setShowMode(long m) override
    {
        modes.push_back(m);
        mode = m;
    }
    kpv::Rect windowFrame() const override { return frame; }
    void setWindowFrame(const kpv::Rect& f) override { frame = f; }
    kpv::Rect visibleScreenFrame() const override { return visible; }
    double viewScale() const override { return scale; }
    double viewMaxScale() const override { return maxScale; }
    kpv::Rect imageVisibleViewRect() const override { return imageRect; }
    void setNewScaleMode(int m) override { scaleMode = m; }
    void switchToScaleMode(int m) override { scaleMode = m; }
    bool viewHoldsPicture() const override { return false; }
    kpv::Size curFileFrameSize() const override { return fileSize; }
    bool hasCurFile() const override { return hasFile; }
    void showImageForm(bool f) override { imageForm = f; }
    double statusWidth = 80;
    double setStatusText(const QString& t, bool) override
    {
        status = t;
        return t.isEmpty() ? 0 : statusWidth;
    }
    void registEquivalentResponder(bool r) override { registered = r; }
    kpv::Size minWindowSize() const override { return {200, 150}; }
    double backingScaleFactor() const override { return 1.0; }
    bool isWindowVisible() const override { return true; }
    int frontMini = 0, frontMain = 0, outMini = 0, restored = 0;
    std::vector<int> imageUpdates;
    void orderFrontMiniWindow() override { ++frontMini; }
    void orderFrontMainWindow() override { ++frontMain; }
    void orderOutMiniWindow() override { ++outMini; }
    void updateOpenGLViewImage(int m) override { imageUpdates.push_back(m); }
    void restoreNavigatorView() override { ++restored; }
};

void switchMode(MiniWindowController& c, FakeMiniHost& h, long to)
{
    const long from = h.mode;
    h.mode = to;
    c.didChangeMainShowMode({{"old", qlonglong(from)}, {"new", qlonglong(to)}});
}

TEST(MiniWindowController, EmptyStateRoundTrip)
{
    FakeMiniHost h;
    MiniWindowController c(h);
    h.mode = 2;
    h.hasFile = false;
    switchMode(c, h, 256);
    c.updateMiniUI(0, 0);
    EXPECT_EQ(h.mode, 256);
    EXPECT_FALSE(h.imageForm);
    c.switchToNormalMode();
    EXPECT_EQ(h.mode, 2);

    // A drop into the empty window turns it into the image form; leaving then shows the viewer.
    switchMode(c, h, 256);
    h.hasFile = true;
    h.mode = 128;
    c.updateMiniUI(0, 0);
    EXPECT_TRUE(h.imageForm);
    c.switchToNormalMode();
    EXPECT_EQ(h.mode, 4);
}

TEST(MiniWindowController, FitsTheTurnedImageAndZooms)
{
    FakeMiniHost h;
    MiniWindowController c(h);
    switchMode(c, h, 128);
    EXPECT_TRUE(h.registered);
    c.updateMiniUI(0, 90);
    EXPECT_EQ(h.frame.size, (kpv::Size{600, 800})) << "90 degrees swaps the sides";
    EXPECT_FALSE(c.isWindowZoomed());

    h.imageRect = {0, 0, 600, 800};
    h.scale = 1;
    c.performZoom();
    EXPECT_TRUE(c.isWindowZoomed());
    EXPECT_EQ(h.scaleMode, 4);
    EXPECT_DOUBLE_EQ(h.frame.height(), 900);
    c.performZoom();
    EXPECT_FALSE(c.isWindowZoomed());
    EXPECT_EQ(h.scaleMode, 1);

    // Refused when the window already spans the full width.
    h.frame = kpv::Rect(0, 100, 1440, 300);
    c.performZoom();
    EXPECT_FALSE(c.isWindowZoomed());

    c.didBeginRotate();
    h.imageRect = {0, 0, 100, 100};
    const kpv::Rect before = h.frame;
    c.doChangeScale();
    EXPECT_EQ(h.frame, before) << "scale changes wait while a rotation runs";
    c.didEndRotate(0);
    EXPECT_FALSE(c.isImageRotating());
    kpv::ManualClock clock;
    kpv::RunLoop::main().setClock(&clock);
    h.scale = 0.666;
    c.doChangeScale();
    EXPECT_EQ(h.status, QStringLiteral("66%"));
    clock.advance(MiniWindowController::kZoomStatusHideDelay / 2);
    h.scale = 0.75;
    c.doChangeScale(); // each step of a zoom keeps the percentage up
    clock.advance(MiniWindowController::kZoomStatusHideDelay * 0.75);
    EXPECT_EQ(h.status, QStringLiteral("75%"));
    clock.advance(MiniWindowController::kZoomStatusHideDelay);
    EXPECT_EQ(h.status, QString()) << "the percentage goes when the zoom rests";
    kpv::RunLoop::main().setClock(nullptr);

    c.doBeforeRotate();
    EXPECT_EQ(h.frame, h.visible);
    c.switchToNormalMode();
    EXPECT_EQ(h.mode, 4);
}

TEST(MiniWindowController, WideStatusTextWidensTheWindow)
{
    FakeMiniHost h;
    MiniWindowController c(h);
    h.statusWidth = 700;
    c.updateStatusInfo(QString(), false);
    EXPECT_EQ(h.frame.width(), 400);
    c.updateStatusInfo(QStringLiteral("a long status text"), false);
    EXPECT_EQ(h.frame.width(), 700);
    EXPECT_EQ(h.frame.height(), 300);
}

TEST(MiniWindowController, EmptyFormZoomToggles)
{
    FakeMiniHost h;
    MiniWindowController c(h);
    h.mode = 2;
    switchMode(c, h, 256);
    const kpv::Rect start = h.frame;
    c.performZoom();
    EXPECT_EQ(h.frame, h.visible);
    c.performZoom();
    EXPECT_EQ(h.frame, start);
}

struct Responder : LMEquivalentResponder {
    bool answer = false;
    int asked = 0;
    bool performKeyDownEquivalent(const kpv::Event&) override
    {
        ++asked;
        return answer;
    }
};

TEST(MiniWindowController, EquivalentRespondersInOrder)
{
    FakeMiniHost h;
    MiniWindowController c(h);
    Responder a, b;
    b.answer = true;
    c.registEquivalentResponder(&a, true);
    c.registEquivalentResponder(&a, true);
    c.registEquivalentResponder(&b, true);
    c.registEquivalentResponder(nullptr, true);
    EXPECT_EQ(c.equivalentResponderCount(), 2u);
    auto e = kpv::Event::keyEvent(kpv::KeyDown, 0, QString(), QString(), nullptr);
    EXPECT_TRUE(c.doEquivalentResponder([&](LMEquivalentResponder& r) { return r.performKeyDownEquivalent(*e); }));
    EXPECT_EQ(a.asked, 1);
    c.registEquivalentResponder(&b, false);
    EXPECT_FALSE(c.doEquivalentResponder([&](LMEquivalentResponder& r) { return r.performKeyDownEquivalent(*e); }));
    EXPECT_FALSE(c.doEquivalentResponder({}));

    // A responder that unregisters a later one while it handles the event (a mode ending on a
    // key): the later one, which may be gone, is not asked.
    c.registEquivalentResponder(&b, true);
    a.asked = b.asked = 0;
    EXPECT_FALSE(c.doEquivalentResponder([&](LMEquivalentResponder& r) {
        c.registEquivalentResponder(&b, false);
        return r.performKeyDownEquivalent(*e);
    }));
    EXPECT_EQ(a.asked, 1);
    EXPECT_EQ(b.asked, 0);
}

} // namespace
