// A translucent window with see-through corners on an X server without a compositing manager:
// what it does not paint must not show as black, so the window is cut to the shape it paints.
#include "appkit/GraphicsContext.h"
#include "appkit/View.h"
#include "appkit/Window.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <gtest/gtest.h>

using namespace kpv;

namespace {

// This file's windows go to the X server when there is one (the folder's other tests stay
// offscreen), before the shared application starts.
[[maybe_unused]] const bool g_onX = [] {
    if (!qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    return true;
}();

// A panel drawn inside a clear margin, with round corners.
class RoundPanel : public View {
public:
    using View::View;
    void drawRect(const Rect&) override
    {
        GraphicsContext::current()->fillRoundedRect(Rect(4, 4, bounds().width() - 8, bounds().height() - 8), 12,
                                                     Color(0.2, 0.2, 0.2));
    }
};

void settle()
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 300)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

} // namespace

TEST(WindowShape, ATranslucentPanelIsCutToWhatItPaintsWhereNothingComposites)
{
    if (Window::desktopComposited())
        GTEST_SKIP() << "no X server, or a compositing manager draws the windows";
    Window panel(Rect(40, 40, 200, 120), BorderlessWindowMask);
    panel.setOpaque(false);
    panel.setBackgroundColor(Color::clearColor());
    auto* content = new RoundPanel(Rect(0, 0, 200, 120));
    panel.setContentView(content);
    panel.setCutToPaintedShape(true);
    panel.orderFront();
    settle();
    const QRegion shape = panel.cutShape();
    EXPECT_TRUE(shape.contains(QPoint(100, 60)));
    EXPECT_TRUE(shape.contains(QPoint(100, 5)));
    EXPECT_FALSE(shape.contains(QPoint(1, 60)));   // the clear margin
    EXPECT_FALSE(shape.contains(QPoint(5, 5)));    // outside the round corner
    EXPECT_FALSE(shape.contains(QPoint(198, 118)));

    // It follows the window's size.
    panel.setFrame(Rect(40, 40, 300, 120), true);
    settle();
    EXPECT_TRUE(panel.cutShape().contains(QPoint(250, 60)));
}

TEST(WindowShape, AWindowThatPaintsAllOfItselfOrIsNotAskedIsNeverCut)
{
    Window opaque(Rect(40, 200, 100, 80), BorderlessWindowMask);
    opaque.setCutToPaintedShape(true);
    opaque.orderFront();
    Window unasked(Rect(200, 200, 100, 80), BorderlessWindowMask);
    unasked.setOpaque(false);
    unasked.setBackgroundColor(Color::clearColor());
    unasked.setContentView(new RoundPanel(Rect(0, 0, 100, 80)));
    unasked.orderFront();
    settle();
    EXPECT_TRUE(opaque.cutShape().isEmpty());
    EXPECT_TRUE(unasked.cutShape().isEmpty());
}
