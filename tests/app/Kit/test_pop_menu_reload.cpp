// A menu whose row click reloads and shows the menu again: the clicked row is retired, not
// destroyed while its own click is still running, and the new rows answer the next click.
#include "Kit/LMPopMenuItemView.h"
#include "Kit/LMPopMenuViewController.h"
#include "appkit/Application.h"
#include "appkit/Window.h"
#include "foundation/Clock.h"
#include "foundation/RunLoop.h"
#include "kit_support.h"

#include <gtest/gtest.h>

using namespace kpv;

namespace {
class ReloadingMenu : public LMPopMenuViewDataSource, public LMPopMenuViewDelegate {
public:
    QStringList titles{"One", "Two"};
    QStringList clicked;
    unsigned long numberOfItemsInPopMenuView(LMPopMenuView*, const QVariant&) override { return titles.size(); }
    QVariant popMenuView_itemAtIndex(LMPopMenuView*, const QVariant&, unsigned long i) override { return titles[i]; }
    QString popMenuView_itemTitleForRepresentedObject(LMPopMenuView*, const QVariant& o) override
    {
        return o.toString();
    }
    void popMenuViewItemClicked(LMPopMenuView* menu, const QVariant& o, const QVariant&) override
    {
        clicked << o.toString();
        titles << o.toString() + "+";
        // Showing a menu that is up only moves it; hiding and showing again builds new rows at once.
        menu->hide(false);
        menu->showAtLocationInWindow({100, 20}, false);
    }
};
} // namespace

TEST(PopMenuReload, RowClickThatRebuildsTheMenuOutlivesItsOwnClick)
{
    ManualClock clock;
    RunLoop::main().setClock(&clock);
    {
        Window window(Rect(0, 0, 300, 200), TitledWindowMask);
        auto* container = new View(Rect(0, 0, 300, 200));
        window.setContentView(container);
        ReloadingMenu m;
        auto c = LMPopMenuViewController::popMenuViewControllerWithDataSource(&m, &m, container);
        LMPopMenuView* menu = c->popMenuView();
        menu->setFrame(Rect(50, 20, 100, 40));
        for (int round = 0; round < 3; ++round) {
            menu->showAtLocationInWindow({100, 20}, false);
            ASSERT_EQ(menu->viewItems().size(), size_t(2 + round));
            LMPopMenuItemView* row = menu->viewItems()[0]->view();
            const Point inRow = row->convertPointToView(Point{row->bounds().midX(), row->bounds().midY()}, nullptr);
            Application::shared().postEvent(Event::mouseEvent(LeftMouseUp, inRow, &window));
            row->mouseDown(*Event::mouseEvent(LeftMouseDown, inRow, &window));
            clock.advance(0);
        }
        EXPECT_EQ(m.clicked, (QStringList{"One", "One", "One"}));
        EXPECT_EQ(menu->viewItems().size(), 5u);
        Application::shared().discardQueuedEvents();
    }
    clock.advance(0);
    RunLoop::main().setClock(nullptr);
}
