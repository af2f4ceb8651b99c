// Swipe paging: the commit threshold of a quarter of the view, springing back at the ends, the
// direction of a diagonal first delta, and mouse wheels that never start a session.

#include "nav_test_support.h"

#include "appkit/Event.h"

using namespace navtest;

namespace {

class FakePagingView : public NavPagingView {
public:
    void setImage(const LMImagePtr &image) override { m_image = image; }
    LMImagePtr image() const override { return m_image; }
    QRectF frame() const override { return m_frame; }
    void setFrame(const QRectF &frame) override { m_frame = frame; }
    double alpha() const override { return m_alpha; }
    void setAlpha(double alpha) override { m_alpha = alpha; }
    bool isHidden() const override { return m_hidden; }
    void setHidden(bool hidden) override { m_hidden = hidden; }
    bool isInContainer() const override { return m_in; }
    void addToContainer() override { m_in = true; }

    LMImagePtr m_image;
    QRectF m_frame;
    double m_alpha = 1;
    bool m_hidden = true;
    bool m_in = false;
};

class FakeContainer : public NavPagingViewFactory {
public:
    std::unique_ptr<NavPagingView> createPagingView() override { return std::make_unique<FakePagingView>(); }
    QRectF containerBounds() const override { return QRectF(0, 0, 800, 600); }
    QRectF convertFromMainView(const QRectF &rect) const override { return rect; }
    void setMainViewImageNotDraw(bool notDraw) override { this->notDraw = notDraw; }
    bool notDraw = false;
};

kpv::Event swipe(double dx, double dy, int phase, int momentum = 0)
{
    kpv::Event e(kpv::ScrollWheel);
    e.setScrollingDelta(dx, dy);
    e.setPhase(phase);
    e.setMomentumPhase(momentum);
    return e;
}

class SwipeTest : public NavTest {
protected:
    void SetUp() override
    {
        NavTest::SetUp();
        controller = std::make_unique<NavigateController>(&view, host.get(), &loader, &container);
        controller->awakeFromNib();
    }
    // A swipe of `dx` points in one move, then the fingers lift.
    void drag(double dx)
    {
        controller->performScrollWheelEquivalent(swipe(0, 0, 1));
        controller->performScrollWheelEquivalent(swipe(dx, 0, 4));
        controller->performScrollWheelEquivalent(swipe(0, 0, 8));
        clock.advance(1.0);
    }
    FakeContainer container;
};

} // namespace

TEST_F(SwipeTest, QuarterOfTheViewIsNotEnoughOnePointMoreIs)
{
    open(3);
    drag(-200); // exactly a quarter of 800
    EXPECT_EQ(controller->curFileIndex(), 0);
    ASSERT_TRUE(controller->navGestureScrollFileSession());
    EXPECT_FALSE(controller->navGestureScrollFileSession()->scrollSessionRunning());
    EXPECT_FALSE(container.notDraw);
    EXPECT_TRUE(view.enable());
    drag(-201);
    EXPECT_EQ(controller->curFileIndex(), 1);
    drag(201); // back to the previous file
    EXPECT_EQ(controller->curFileIndex(), 0);
}

TEST_F(SwipeTest, EndsSpringBackAndDiagonalIsHorizontal)
{
    open(2);
    drag(300); // previous from the first file: no target
    EXPECT_EQ(controller->curFileIndex(), 0);
    auto *session = controller->navGestureScrollFileSession();
    ASSERT_TRUE(session);
    EXPECT_EQ(session->fileIndexScrollTo(), NavGestureScrollFileSession::kNotFound);
    controller->navCurFileToIndex(1, false, true, false);
    drag(-600); // next from the last file
    EXPECT_EQ(controller->curFileIndex(), 1);

    session->beginScroll();
    session->doScroll(QPointF(-5, 5), false);
    EXPECT_EQ(session->scrollDirection(), NavGestureScrollFileSession::NextHorizontal);
    session->abortScrollSession();
}

TEST_F(SwipeTest, MouseWheelNeverStartsASession)
{
    open(3);
    config->setZoomWhileMouseWheel(true);
    EXPECT_FALSE(controller->performScrollWheelEquivalent(swipe(-50, 0, 0)));
    EXPECT_FALSE(controller->navGestureScrollFileSession());
}
