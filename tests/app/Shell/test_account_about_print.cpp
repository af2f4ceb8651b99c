// The accounts sheet (listing order, missing names, sign-out that reaches the disk, Esc), the
// About window's texts and keys, and the print view's page layout.
#include "Shell/Dialogs/AboutWindowController.h"
#include "Shell/Desktop/PrintView.h"
#include "Shell/Dialogs/ShareAccountWindowController.h"

#include "Kit/LMCustomWindow.h"
#include "Kit/LMEventMonitorCenter.h"
#include "Kit/LMNormalCustomButton.h"
#include "Model/MainConfig.h"
#include "appkit/Control.h"
#include "foundation/UserDefaults.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

std::vector<long> listedTypes(const ShareAccountWindowController& c)
{
    std::vector<long> out;
    for (const auto& item : c.accountItems())
        out.push_back(item.websiteType);
    return out;
}

TEST(AccountsWindow, ListsSignInsInSiteOrderAndSignOutRemovesTheTokenFromDisk)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("settings.conf");
    {
        kpv::UserDefaults defaults(path);
        MainConfig config(defaults);
        LMEventMonitorCenter monitors;
        ShareAccountWindowController empty(config, monitors);
        empty.loadAccountInfos();
        EXPECT_TRUE(empty.accountItems().empty());

        config.setShareAutoLoginInfo(ShareAutoLoginInfo("1", "fb-token", "", "Ann"), 1, true);
        config.setShareAutoLoginInfo(ShareAutoLoginInfo(QVariantMap{{"accessToken", "tw-token"}}), 3, true);
        const QString longName = QStringLiteral("Maximilian_M\u00fcller-L\u00fcdenscheidt_") + QString(60, u'W') + "_end";
        config.setShareAutoLoginInfo(ShareAutoLoginInfo("4", "tb-token", "s", longName), 4, true);

        ShareAccountWindowController accounts(config, monitors);
        EXPECT_EQ(accounts.txtShareAccountTitle()->stringValue(), "Accounts");
        accounts.loadAccountInfos();
        EXPECT_EQ(listedTypes(accounts), (std::vector<long>{3, 1, 4}));
        ASSERT_EQ(accounts.items().size(), 3u);
        EXPECT_FALSE(accounts.accountItems()[0].userName.has_value());
        EXPECT_EQ(accounts.items()[0]->textField()->stringValue(), ""); // no name: empty
        EXPECT_EQ(accounts.items()[1]->textField()->stringValue(), "Ann");
        // A name longer than its row shows its start and end, and all of it under the pointer.
        const kpv::TextField* shown = accounts.items()[2]->textField();
        EXPECT_TRUE(shown->displayedStringValue().startsWith("Max")) << shown->displayedStringValue().toStdString();
        EXPECT_TRUE(shown->displayedStringValue().endsWith("_end")) << shown->displayedStringValue().toStdString();
        EXPECT_TRUE(shown->displayedStringValue().contains(QChar(0x2026)));
        EXPECT_EQ(shown->toolTip(), longName);
        EXPECT_EQ(accounts.collectionView()->subviews().size(), 3u);
        // Rows run top down in list order.
        EXPECT_GT(accounts.items()[0]->view()->frame().y(), accounts.items()[1]->view()->frame().y());

        // The sign-out button of the Facebook row; its own row is replaced while it handles the click.
        accounts.items()[1]->btnSignOut()->action()(nullptr);
        EXPECT_EQ(listedTypes(accounts), (std::vector<long>{3, 4}));
        EXPECT_EQ(accounts.collectionView()->subviews().size(), 2u);
        EXPECT_FALSE(config.shareAutoLoginInfoForWebsite(1).has_value());
    }
    // Nothing else saved the settings: the sign-out alone took the token off the disk.
    kpv::UserDefaults reopened(path);
    MainConfig again(reopened);
    EXPECT_FALSE(again.shareAutoLoginInfoForWebsite(1).has_value());
    EXPECT_TRUE(again.shareAutoLoginInfoForWebsite(3).has_value());
    EXPECT_TRUE(again.shareAutoLoginInfoForWebsite(4).has_value());
}

TEST(AccountsWindow, IconNamesPerSite)
{
    EXPECT_EQ(ShareAccountItemViewController::iconNameForWebsiteType(1), "facebook icon");
    EXPECT_EQ(ShareAccountItemViewController::iconNameForWebsiteType(2), "flickr icon");
    EXPECT_EQ(ShareAccountItemViewController::iconNameForWebsiteType(4), "tumblr icon");
    EXPECT_EQ(ShareAccountItemViewController::iconNameForWebsiteType(33), "");
}

TEST(AccountsWindow, EscEndsTheSheetOnlyWhileItIsKeyAndTheMonitorLivesWithTheSheet)
{
    QTemporaryDir dir;
    kpv::UserDefaults defaults(dir.filePath("settings.conf"));
    MainConfig config(defaults);
    LMEventMonitorCenter monitors;
    ShareAccountWindowController accounts(config, monitors);
    const auto esc = kpv::Event::keyEvent(kpv::KeyDown, 53, "\x1b", "\x1b", nullptr);
    const auto other = kpv::Event::keyEvent(kpv::KeyDown, 0, "a", "a", nullptr);
    // Not key: the key goes on to whichever window is.
    EXPECT_FALSE(accounts.handleMonitoredEvent(*esc));

    kpv::Window parent(kpv::Rect(0, 0, 400, 400), kpv::ClosableWindowMask);
    accounts.beginSheetOnParentWindow(&parent);
    EXPECT_TRUE(accounts.eventMonitorActive());
    EXPECT_TRUE(accounts.accountWindow()->sheetRunning());
    EXPECT_FALSE(accounts.handleMonitoredEvent(*other));
    accounts.accountWindow()->endSheet();
    EXPECT_FALSE(accounts.accountWindow()->sheetRunning());
    EXPECT_FALSE(accounts.eventMonitorActive());
}

TEST(AboutWindow, ShowsTheBundleTextsAndEscClosesIt)
{
    AboutWindowController about;
    EXPECT_EQ(about.txtProductName()->stringValue(), "Kestrane Photo Viewer");
    EXPECT_FALSE(about.txtVersion()->stringValue().isEmpty());
    EXPECT_TRUE(about.txtCopyright()->stringValue().contains("Copyright"));
    EXPECT_TRUE(about.aboutWindow()->mouseDownMoveable());

    AboutWindowController missing{QString(), QString(), QString()};
    EXPECT_EQ(missing.txtVersion()->stringValue(), "");

    about.showWindow();
    EXPECT_TRUE(about.aboutWindow()->isVisible());
    const auto a = kpv::Event::keyEvent(kpv::KeyDown, 0, "a", "a", nullptr);
    EXPECT_FALSE(about.customWindow(about.aboutWindow(), *a));
    EXPECT_TRUE(about.aboutWindow()->isVisible());
    const auto esc = kpv::Event::keyEvent(kpv::KeyDown, 53, "\x1b", "\x1b", nullptr);
    EXPECT_TRUE(about.customWindow(about.aboutWindow(), *esc));
    EXPECT_FALSE(about.aboutWindow()->isVisible());
}

kpv::ImagePtr imageOfSize(int w, int h)
{
    return std::make_shared<kpv::Image>(QImage(w, h, QImage::Format_RGB32));
}

TEST(PrintView, EachPageFitsItsImageUprightToTheImageableArea)
{
    PrintView view;
    long location = 0, length = 0;
    view.setPrintImageItems({imageOfSize(4000, 3000), imageOfSize(300, 600), imageOfSize(100, 100)});
    ASSERT_TRUE(view.knowsPageRange(&location, &length));
    EXPECT_EQ(location, 1);
    EXPECT_EQ(length, 3);

    struct Row {
        long page;
        PrintView::Orientation orientation;
        double width, height;
        bool lossless; // the pixels show on paper: not re-compressed
    } rows[] = {
        {1, PrintView::Landscape, 720, 540, false}, // reduced
        {2, PrintView::Portrait, 360, 720, true},   // enlarged to the page height
        {3, PrintView::Landscape, 540, 540, true},  // a square prints landscape
        {9, PrintView::Landscape, 720, 540, false}, // past the end: the first image
        {0, PrintView::Landscape, 720, 540, false}, // before the start: the first image, not a crash
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.page);
        const kpv::Rect r = view.rectForPage(row.page);
        EXPECT_EQ(view.printInfo().orientation, row.orientation);
        EXPECT_DOUBLE_EQ(r.width(), row.width);
        EXPECT_DOUBLE_EQ(r.height(), row.height);
        EXPECT_DOUBLE_EQ(view.frame().width(), row.width);
        EXPECT_EQ(view.printInfo().leftMargin, 0);
        EXPECT_EQ(view.printInfo().losslessImages, row.lossless);
        EXPECT_TRUE(view.printInfo().horizontallyCentered && view.printInfo().verticallyCentered);
    }
}

TEST(PrintView, NoImageOrAnEmptyImagePrintsTheBoundsUnchanged)
{
    PrintView view(kpv::Rect(0, 0, 50, 40));
    const kpv::Rect r = view.rectForPage(1);
    EXPECT_EQ(r.width(), 50);
    view.setPrintImageItems({std::make_shared<kpv::Image>()});
    const kpv::Rect e = view.rectForPage(1);
    EXPECT_EQ(e.width(), 50);
    EXPECT_EQ(e.height(), 40);
}

} // namespace
