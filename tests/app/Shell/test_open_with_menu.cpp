// Handing files to other applications: the open-with list and mail, against the fake desktop.
#include "Shell/Desktop/OpenWithMenu.h"

#include "desktop/FakeDesktopServices.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

const QString kOurs = QStringLiteral("org.kestrane.viewer.desktop");

TEST(OpenWithMenu, ListsEachOtherApplicationOnceSortedAndCachesPerExtension)
{
    kpv::FakeDesktopServices desktop;
    desktop.fileApplications.insert("jpg", {{"zeta.desktop", "Zeta", "2.1", "", {}},
                                            {kOurs, "Kestrane", "", "", {}},
                                            {"alpha.desktop", "alpha", "", "alpha-icon", {}},
                                            {"Zeta.desktop", "Zeta", "2.1", "", {}}});
    desktop.fileApplications.insert("png", {{"alpha.desktop", "alpha", "", "", {}}});
    OpenWithMenu menu(desktop, kOurs);
    menu.buildMenuItemsByFile("/p/a.jpg");
    ASSERT_EQ(menu.items().size(), 2);
    EXPECT_EQ(menu.items()[0]->title, "alpha");
    EXPECT_EQ(menu.items()[1]->title, "Zeta (2.1)");
    const auto alphaItem = menu.items()[0];

    // Same extension in another case: items kept, file replaced, no new query.
    menu.buildMenuItemsByFile("/p/b.JPG");
    EXPECT_EQ(desktop.applicationQueries, 1);
    EXPECT_EQ(menu.curFile(), "/p/b.JPG");
    // Another extension rebuilds, sharing the item of an application already listed.
    // The file handed over must be there.
    QTemporaryDir dir;
    const QString png = dir.filePath("c.png");
    QFile(png).open(QIODevice::WriteOnly);
    menu.buildMenuItemsByFile(png);
    ASSERT_EQ(menu.items().size(), 1);
    EXPECT_EQ(menu.items()[0], alphaItem);
    EXPECT_TRUE(menu.openWithAppMenuItemClicked(*menu.items()[0]));
    ASSERT_EQ(desktop.launches.size(), 1);
    EXPECT_EQ(desktop.launches[0], qMakePair(png, QString("alpha.desktop")));
    EXPECT_TRUE(menu.acquireMenuItemsByFile(QString()).isEmpty());
}

// Another program moves the photo away while the menu is up: neither the listed application nor
// one chosen under "Other Application..." is started on a name that leads nowhere, and the
// failure says the file is gone rather than that the application would not start.
TEST(OpenWithMenu, PhotoGoneMeanwhileIsNotHandedOver)
{
    kpv::FakeDesktopServices desktop;
    desktop.fileApplications.insert("jpg", {{"alpha.desktop", "alpha", "", "", {}}});
    QTemporaryDir dir;
    const QString photo = dir.filePath("a.jpg");
    QFile(photo).open(QIODevice::WriteOnly);
    OpenWithMenu menu(desktop, kOurs);
    menu.buildMenuItemsByFile(photo);
    ASSERT_EQ(menu.items().size(), 1);
    ASSERT_TRUE(QFile::rename(photo, dir.filePath("elsewhere.jpg")));

    EXPECT_FALSE(menu.openWithAppMenuItemClicked(*menu.items()[0]));
    EXPECT_EQ(menu.lastFailure(), OpenWithMenu::Failure::FileGone);
    EXPECT_FALSE(menu.openWithApplication("alpha.desktop"));
    EXPECT_EQ(menu.lastFailure(), OpenWithMenu::Failure::FileGone);
    EXPECT_TRUE(desktop.launches.isEmpty());

    // Back in its place, it is handed over again.
    ASSERT_TRUE(QFile::rename(dir.filePath("elsewhere.jpg"), photo));
    EXPECT_TRUE(menu.openWithAppMenuItemClicked(*menu.items()[0]));
    EXPECT_EQ(menu.lastFailure(), OpenWithMenu::Failure::None);
    EXPECT_EQ(desktop.launches.size(), 1);
}

TEST(SendEmail, FilesBecomeAttachmentsInOrderAndRecommendHasNone)
{
    kpv::FakeDesktopServices desktop;
    LMSendEmail mail(desktop);
    EXPECT_TRUE(mail.sendEmailForFiles({"/a/1.jpg", "/a/2.png"}));
    EXPECT_TRUE(mail.sendEmailWithSubject("Hi", "Try this"));
    ASSERT_EQ(desktop.mails.size(), 2);
    EXPECT_TRUE(desktop.mails[0].subject.isEmpty());
    EXPECT_EQ(desktop.mails[0].attachments, QStringList({"/a/1.jpg", "/a/2.png"}));
    EXPECT_EQ(desktop.mails[1].subject, "Hi");
    EXPECT_TRUE(desktop.mails[1].attachments.isEmpty());
    desktop.mailAvailable = false;
    EXPECT_FALSE(mail.sendEmailForFiles({"/a/1.jpg"})); // a missing mail program is reported
}

TEST(SendEmail, CommandLineIsAnArgumentVectorWithAbsolutePaths)
{
    const QStringList args = kpv::DesktopServices::mailCommandLine("s; rm -rf", "", {"-x.jpg"});
    ASSERT_GE(args.size(), 6);
    EXPECT_EQ(args[0], "xdg-email");
    EXPECT_EQ(args.indexOf("s; rm -rf"), args.indexOf("--subject") + 1);
    EXPECT_FALSE(args.contains("--body"));
    EXPECT_TRUE(args.last().startsWith('/'));
}

}  // namespace
