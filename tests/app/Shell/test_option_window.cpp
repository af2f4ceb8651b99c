// The preferences window over its model: the controls follow the edits, the wheel radios follow
// the wheel check, tabs swap pages, association rows tick through the model, Esc and Cancel drop
// the edits, OK writes them and tells the running viewer, or the user when they could not be written.
#include "Shell/Dialogs/OptionWindowController.h"

#include "Kit/LMNormalCheckButton.h"
#include "Kit/LMNormalCustomButton.h"
#include "Kit/LMNormalCustomWindow.h"
#include "Model/MainConfig.h"
#include "Shell/Desktop/FileTypeAssociator.h"
#include "appkit/Application.h"
#include "appkit/Event.h"
#include "desktop/FakeDesktopServices.h"
#include "foundation/NotificationCenter.h"
#include "foundation/UserDefaults.h"
#include "../../support/FileSizeLimit.h"

#include <QApplication>
#include <QCoreApplication>
#include <QPalette>
#include <QTemporaryDir>
#include <QWidget>
#include <gtest/gtest.h>

#include <algorithm>

namespace {

struct OptionWindowControllerTest : ::testing::Test {
    QTemporaryDir dir;
    kpv::UserDefaults defaults{dir.filePath("settings.conf")};
    MainConfig config{defaults};
    kpv::FakeDesktopServices desktop;
    kpv::NotificationCenter center;
    FileTypeAssociator associator{desktop, config, "org.kestrane.viewer.desktop", {"public.jpeg", "public.png"}};
    int changes = 0;

    void key(kpv::Window* w, unsigned short code, const QString& chars, std::uint64_t flags = 0)
    {
        kpv::Application::shared().sendEvent(kpv::Event::keyEvent(kpv::KeyDown, code, chars, chars, w, flags));
    }

    void SetUp() override
    {
        center.addObserver(this, "didChangeOptionSetting", nullptr, [this](const kpv::Notification&) { ++changes; });
    }
};

TEST_F(OptionWindowControllerTest, WheelCheckDrivesTheRadiosAndApply)
{
    OptionWindowController window(config, associator, center);
    window.showWithTabType(1, false);
    EXPECT_TRUE(window.optionWindow()->isVisible());
    EXPECT_EQ(window.currentPage(), window.chkEnableMouseWheel()->superview());
    EXPECT_EQ(window.chkEnableMouseWheel()->state(), 1);
    EXPECT_EQ(window.rdoMouseWheelZoom()->state(), 1);
    EXPECT_FALSE(window.btnApply()->isEnabled());

    window.enableMouseWheelCheckButtonClicked();
    EXPECT_EQ(window.chkEnableMouseWheel()->state(), 0);
    EXPECT_FALSE(window.rdoMouseWheelZoom()->isEnabled());
    EXPECT_FALSE(window.rdoMouseWheelNavFile()->isEnabled());
    EXPECT_EQ(window.rdoMouseWheelZoom()->state(), 1); // the choice is kept
    EXPECT_TRUE(window.btnApply()->isEnabled());

    window.applyButtonClicked();
    EXPECT_EQ(changes, 1);
    EXPECT_FALSE(config.mouseWheelEnabled());
    EXPECT_FALSE(window.btnApply()->isEnabled());
    EXPECT_TRUE(window.optionWindow()->isVisible());
}

// A settings file that cannot be written (a full disk) is told; the choice holds for this run and
// the next save writes it.
TEST_F(OptionWindowControllerTest, ChoicesThatCannotBeSavedAreTold)
{
    OptionWindowController window(config, associator, center);
    QStringList told;
    window.setFailureHandler([&told](const QString& message) { told << message; });
    window.showWithTabType(1, false);
    window.enableMouseWheelCheckButtonClicked();
    {
        kpv::test::FileSizeLimit full(8);
        window.okButtonClicked();
    }
    ASSERT_EQ(told.size(), 1);
    EXPECT_TRUE(told.first().contains(dir.filePath("settings.conf"))) << told.first().toStdString();
    EXPECT_FALSE(config.mouseWheelEnabled());
    EXPECT_EQ(changes, 1);

    window.showWithTabType(1, false);
    window.useDesktopColoursCheckButtonClicked();
    window.okButtonClicked();
    EXPECT_EQ(told.size(), 1);
    kpv::UserDefaults reread(dir.filePath("settings.conf"));
    MainConfig saved(reread);
    EXPECT_FALSE(saved.mouseWheelEnabled());
    EXPECT_TRUE(saved.useDesktopColours());
}

// Dialogs wear the program's dark colours until the user picks the desktop's in Preferences.
TEST_F(OptionWindowControllerTest, DesktopColoursAreAChoiceThatDialogsFollow)
{
    const QPalette desktop = QApplication::palette();
    kpv::Application::useDarkColours(!config.useDesktopColours());
    EXPECT_EQ(QApplication::palette().color(QPalette::Window), QColor(43, 45, 48));
    OptionWindowController window(config, associator, center);
    window.showWithTabType(1, false);
    EXPECT_EQ(window.chkUseDesktopColours()->state(), 0);
    window.useDesktopColoursCheckButtonClicked();
    window.okButtonClicked();
    EXPECT_TRUE(config.useDesktopColours());
    kpv::Application::useDarkColours(!config.useDesktopColours());
    EXPECT_EQ(QApplication::palette().color(QPalette::Window), desktop.color(QPalette::Window));
}

TEST_F(OptionWindowControllerTest, TabsSwapPagesAndTheChoiceIsStoredAtOnce)
{
    OptionWindowController window(config, associator, center);
    window.showWithTabType(2, false);
    EXPECT_EQ(window.currentPage(), window.fileInfoCheckButton(0)->superview());
    EXPECT_EQ(window.tabButton(2)->state(), 1);
    EXPECT_EQ(window.tabButton(1)->state(), 0);
    // The default mask shows dimensions, date taken and file size.
    EXPECT_EQ(window.fileInfoCheckButton(1)->state(), 1);
    EXPECT_EQ(window.fileInfoCheckButton(0)->state(), 0);
    EXPECT_EQ(window.fileInfoCheckButton(18)->state(), 0);

    window.optionTabButtonClicked(3);
    ASSERT_FALSE(window.associateItems().empty());
    EXPECT_EQ(window.currentPage(), window.associateItems()[0]->chkFileType()->superview()->superview());
    EXPECT_EQ(config.curOptionTabType(), 3);
    window.optionTabButtonClicked(1);
    window.optionTabButtonClicked(1); // the page already shown stays
    EXPECT_EQ(window.currentPage(), window.chkEnableMouseWheel()->superview());
}

TEST_F(OptionWindowControllerTest, AssociationRowTicksThroughTheModel)
{
    OptionWindowController window(config, associator, center);
    window.showWithTabType(3, false);
    auto& row = *window.associateItems()[1];
    EXPECT_EQ(row.chkFileType()->state(), 0);
    row.fileTypeCheckButtonClicked();
    EXPECT_EQ(row.chkFileType()->state(), 1);
    EXPECT_TRUE(window.btnApply()->isEnabled());
    window.okButtonClicked();
    EXPECT_EQ(desktop.defaults.value("image/png"), "org.kestrane.viewer.desktop");
    EXPECT_FALSE(desktop.defaults.contains("image/jpeg"));
    EXPECT_FALSE(window.optionWindow()->isVisible());
}

TEST_F(OptionWindowControllerTest, EscAndCancelDropTheEdits)
{
    OptionWindowController window(config, associator, center);
    window.show();
    window.keepZoomRatioCheckButtonClicked();
    window.fileInfoCheckButtonClicked(5);
    EXPECT_TRUE(window.customWindow(window.optionWindow(), *kpv::Event::keyEvent(kpv::KeyDown, 53, "\x1b", "\x1b", nullptr)));
    EXPECT_FALSE(window.optionWindow()->isVisible());
    EXPECT_FALSE(config.keepPrevScaleWhenNavFile());
    window.show();
    EXPECT_EQ(window.chkKeepZoomRatio()->state(), 0);
    EXPECT_EQ(window.fileInfoCheckButton(5)->state(), 0);
    EXPECT_FALSE(window.customWindow(window.optionWindow(), *kpv::Event::keyEvent(kpv::KeyDown, 0, "a", "a", nullptr)));
    window.viewPhotosInSubfolderRatioCheckButtonClicked();
    window.cancelButtonClicked();
    EXPECT_FALSE(config.viewPhotosInSubfolder());
    EXPECT_EQ(changes, 0);
}

// Opened, the window has the keyboard on its page's first choice, shown by a ring; a click on
// another tab takes it to that page's first choice, whose ring is whole.
TEST_F(OptionWindowControllerTest, OpensWithTheFocusShownOnThePagesFirstChoice)
{
    OptionWindowController window(config, associator, center);
    window.showWithTabType(1, false);
    kpv::Window* w = window.optionWindow();
    EXPECT_EQ(w->firstResponder(), window.chkEnableMouseWheel());
    QCoreApplication::processEvents();
    const QWidget* ring = window.chkEnableMouseWheel()->focusRing();
    ASSERT_NE(ring, nullptr);
    EXPECT_TRUE(ring->isVisible());

    const kpv::Rect tab = window.tabButton(2)->convertRectToView(window.tabButton(2)->bounds(), nullptr);
    const kpv::Point at{tab.midX(), tab.midY()};
    kpv::Application::shared().postEvent(kpv::Event::mouseEvent(kpv::LeftMouseUp, at, w));
    kpv::Application::shared().sendEvent(kpv::Event::mouseEvent(kpv::LeftMouseDown, at, w));
    EXPECT_EQ(window.currentPage(), window.fileInfoCheckButton(0)->superview());
    EXPECT_EQ(w->firstResponder(), window.fileInfoCheckButton(0));
    // Each choice is as wide as its box and title, so its ring stands whole inside the page.
    for (long type = 0; type <= 18; ++type)
        EXPECT_LE(window.fileInfoCheckButton(type)->frame().maxX(), window.currentPage()->bounds().width()) << type;

    // The ring stands round the focused choice and covers nothing of it: its box and title look
    // the same once the focus has gone back to the tabs.
    const kpv::View* choice = window.fileInfoCheckButton(0);
    QCoreApplication::processEvents();
    const QWidget* choiceRing = choice->focusRing();
    ASSERT_NE(choiceRing, nullptr);
    ASSERT_TRUE(choiceRing->isVisible());
    QWidget* page = choice->widget()->parentWidget();
    const QRect own = choice->widget()->geometry();
    const QImage focused = page->grab(own).toImage();
    key(w, kpv::KeyCode::Tab, "\t", kpv::ShiftKeyMask);
    QCoreApplication::processEvents();
    ASSERT_NE(w->firstResponder(), choice);
    EXPECT_FALSE(choiceRing->isVisible());
    EXPECT_TRUE(page->grab(own).toImage() == focused) << "the ring covers part of the choice";
    window.closeWindow();
}

// From the keyboard: Space ticks the focused choice, Esc leaves without keeping it, Return
// presses OK, which keeps it.
TEST_F(OptionWindowControllerTest, ReturnPressesOkAndEscCancels)
{
    OptionWindowController window(config, associator, center);
    kpv::Window* w = window.optionWindow();
    window.showWithTabType(1, false);
    key(w, kpv::KeyCode::Space, " ");
    EXPECT_EQ(window.chkEnableMouseWheel()->state(), 0);
    key(w, kpv::KeyCode::Escape, "\x1b");
    EXPECT_FALSE(w->isVisible());
    EXPECT_TRUE(config.mouseWheelEnabled());

    window.showWithTabType(1, false);
    key(w, kpv::KeyCode::Space, " ");
    key(w, kpv::KeyCode::Return, "\r");
    EXPECT_FALSE(w->isVisible()) << "Return did not press OK";
    EXPECT_EQ(window.chkEnableMouseWheel()->state(), 0) << "Return ticked the check box";
    EXPECT_FALSE(config.mouseWheelEnabled());
    EXPECT_EQ(changes, 1);
}

// The file information choices stand in two columns: Tab runs down the first, then down the
// second, as the list reads.
TEST_F(OptionWindowControllerTest, TabRunsDownEachColumnOfFileInformation)
{
    OptionWindowController window(config, associator, center);
    window.showWithTabType(2, false);
    kpv::Window* w = window.optionWindow();
    ASSERT_TRUE(w->makeFirstResponder(window.fileInfoCheckButton(0)));
    std::vector<kpv::View*> reached;
    for (int i = 0; i < 30 && w->firstResponder()->superview() == window.currentPage(); ++i) {
        reached.push_back(w->firstResponder());
        key(w, kpv::KeyCode::Tab, "\t");
    }
    ASSERT_EQ(reached.size(), 19u);
    auto columnWise = reached;
    std::sort(columnWise.begin(), columnWise.end(), [](kpv::View* a, kpv::View* b) {
        return a->frame().x() != b->frame().x() ? a->frame().x() < b->frame().x() : a->frame().y() > b->frame().y();
    });
    EXPECT_EQ(reached, columnWise);
    window.closeWindow();
}

// On the association page each group's check is a whole row: its ring stands whole round it,
// not cut by the row's edges, and goes with the page when another tab is chosen.
TEST_F(OptionWindowControllerTest, TheRingRoundAnAssociationRowIsWhole)
{
    OptionWindowController window(config, associator, center);
    window.showWithTabType(3, false);
    kpv::Window* w = window.optionWindow();
    LMNormalCheckButton* check = window.associateItems()[0]->chkFileType();
    for (int i = 0; i < 10 && w->firstResponder() != check; ++i)
        key(w, kpv::KeyCode::Tab, "\t");
    ASSERT_EQ(w->firstResponder(), check) << "Tab never reaches the first group";
    QCoreApplication::processEvents();
    const QWidget* ring = check->focusRing();
    ASSERT_NE(ring, nullptr);
    ASSERT_TRUE(ring->isVisible());
    // Seen whole: inside the container it stands in, and round every edge of the check.
    EXPECT_TRUE(ring->parentWidget()->rect().contains(ring->geometry()));
    const QWidget* top = check->widget()->window();
    const QRect around(ring->mapTo(top, QPoint(0, 0)), ring->size());
    const QRect own(check->widget()->mapTo(top, QPoint(0, 0)), check->widget()->size());
    EXPECT_TRUE(around.adjusted(2, 2, -2, -2).contains(own)) << "the ring does not stand round the check";

    const kpv::Rect tab = window.tabButton(1)->convertRectToView(window.tabButton(1)->bounds(), nullptr);
    const kpv::Point at{tab.midX(), tab.midY()};
    kpv::Application::shared().postEvent(kpv::Event::mouseEvent(kpv::LeftMouseUp, at, w));
    kpv::Application::shared().sendEvent(kpv::Event::mouseEvent(kpv::LeftMouseDown, at, w));
    ASSERT_EQ(window.currentPage(), window.chkEnableMouseWheel()->superview());
    QCoreApplication::processEvents();
    EXPECT_FALSE(ring->isVisible()) << "the ring is left behind on the general page";
    window.closeWindow();
}

}  // namespace
