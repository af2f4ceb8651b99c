// The main window controller's rate prompt schedule, its recommendation mail and the hiding of
// the resting pointer; and the toolbar's edit pop-up menu rows.

#include "Shell/MainWindow/AppDelegate.h"
#include "Shell/MainWindow/LMMainWindow.h"
#include "Shell/MainWindow/MainWndController.h"
#include "Shell/MainWindow/MainWndSecondaryWindows.h"
#include "Shell/ViewChrome/ToolbarEditPopViewController.h"
#include "view_mode_stub.h"

#include "Model/LMBlockRepeatTimer.h"
#include "Model/MainConfig.h"
#include "Slideshow/SlideshowNotifications.h"
#include "desktop/DesktopServices.h"
#include "desktop/FakeDesktopServices.h"
#include "Shell/Desktop/FileTypeAssociator.h"
#include "foundation/Bundle.h"
#include "foundation/Clock.h"
#include "foundation/NotificationCenter.h"
#include "foundation/RunLoop.h"
#include "foundation/UserDefaults.h"

#include <QApplication>
#include <cstdlib>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

void ensureApp()
{
    static int argc = 1;
    static char name[] = "test_main_wnd_prompts";
    static char* argv[] = {name, nullptr};
    if (!qApp)
        new QApplication(argc, argv);
}

class ViewerStub : public ViewModeStub {
public:
    bool canSwitchToViewMode() const override { return true; }
    LMPathString curFilePath() const override { return LMPathString(); }
    bool canDoAction(long) override { return true; }
    void openFilePaths(const QList<LMPathString>&, const QStringList&, bool) override {}
};

class MailCatcher : public kpv::DesktopServices {
public:
    QString defaultApplicationForType(const QString&) override { return {}; }
    QStringList allApplicationsForType(const QString&) override { return {}; }
    QStringList viewerApplicationsForType(const QString&) override { return {}; }
    bool setDefaultApplicationForType(const QString&, const QString&, QString*) override { return false; }
    QList<kpv::DesktopApplication> applicationsForFile(const QString&) override { return {}; }
    bool openFileWithApplication(const QString&, const QString&) override { return false; }
    bool composeMail(const QString& subject, const QString& body, const QStringList& files) override
    {
        if (!mailWorks)
            return false;
        if (copiesFail && !files.isEmpty())
            return false;
        mails.append({subject, body});
        attachments += files.size();
        return true;
    }
    bool mailAttachmentsNotCopied() const override { return copiesFail; }
    bool mailWorks = true;
    bool copiesFail = false; // the plain-named copies cannot be written
    QList<QPair<QString, QString>> mails;
    int attachments = 0;
};

QList<QMessageBox*> openAlerts()
{
    QList<QMessageBox*> boxes;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible())
            boxes.append(box);
    return boxes;
}

class Prompts : public ::testing::Test {
protected:
    void SetUp() override
    {
        ensureApp();
        ASSERT_TRUE(scratch.isValid());
        kpv::RunLoop::main().setClock(&clock);
        defaults = std::make_unique<kpv::UserDefaults>(scratch.filePath("defaults.json"));
        AppDelegate::Setup setup;
        setup.mainConfig = std::make_unique<MainConfig>(*defaults);
        setup.temporaryParent = scratch.filePath("tmp");
        setup.cacheDirectory = scratch.filePath("cache");
        setup.allowedFileExtensions = {"jpg"};
        setup.allowedFileTypes = {"public.jpeg"};
        setup.processorCount = 2;
        delegate = std::make_unique<AppDelegate>(std::move(setup));
        controller = std::make_unique<MainWndController>(*delegate,
                                                         std::make_unique<LMMainWindow>(kpv::Rect(0, 0, 640, 480)));
        controller->setNavigateController(&viewer);
        controller->awakeFromNib();
        controller->setOpenUrlHandler([this](const QUrl& url) {
            opened.append(url);
            return true;
        });
        kpv::NotificationCenter::defaultCenter().addObserver(this, {}, controller.get(),
                                                             [this](const kpv::Notification& n) {
                                                                 if (n.name == QLatin1String("didAutoHideCursor"))
                                                                     ++cursorHidden;
                                                             });
    }
    void TearDown() override
    {
        for (QMessageBox* box : openAlerts())
            box->reject();
        clock.advance(0);
        kpv::NotificationCenter::defaultCenter().removeObserver(this);
        controller.reset();
        delegate.reset();
        kpv::RunLoop::main().setClock(nullptr);
    }
    MainConfig& config() { return *delegate->mainConfig(); }

    // One launch of `version`; true when it brings the rate prompt.
    bool launch(const QString& version) { return MainWndController::countLaunchForRate(config(), version); }
    // A photo of one byte in the scratch folder, as much as sharing it needs.
    QString scratchPhoto(const char* name)
    {
        const QString photo = scratch.filePath(QString::fromLatin1(name));
        QFile file(photo);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("x");
        return photo;
    }

    kpv::ManualClock clock;
    QTemporaryDir scratch;
    std::unique_ptr<kpv::UserDefaults> defaults;
    std::unique_ptr<AppDelegate> delegate;
    std::unique_ptr<MainWndController> controller;
    ViewerStub viewer;
    QList<QUrl> opened;
    int cursorHidden = 0;
};

TEST_F(Prompts, RatePromptComesAtTheTenthLaunchOfOneVersionOnly)
{
    for (int i = 1; i <= 9; ++i) {
        EXPECT_FALSE(launch("2.0")) << i;
        EXPECT_EQ(config().runCountBeforeRate(), i);
    }
    EXPECT_TRUE(launch("2.0"));
    EXPECT_TRUE(config().userHasDoneRate());
    // Done for good: no version asks again.
    EXPECT_FALSE(launch("2.0"));
    EXPECT_FALSE(launch("3.0"));
}

TEST_F(Prompts, ANewVersionRestartsTheCount)
{
    for (int i = 0; i < 5; ++i)
        launch("2.0");
    EXPECT_FALSE(launch("2.1"));
    EXPECT_EQ(config().runVersionBeforeRate(), "2.1");
    EXPECT_EQ(config().runCountBeforeRate(), 1);
    for (int i = 0; i < 8; ++i)
        EXPECT_FALSE(launch("2.1"));
    EXPECT_TRUE(launch("2.1"));
}

TEST_F(Prompts, DelayedCheckShowsTheSheetAndItsDefaultButtonOpensTheStorePage)
{
    config().setRunVersionBeforeRate(delegate->appVersion());
    config().setRunCountBeforeRate(9);
    controller->delayCheckRateForUs();
    EXPECT_TRUE(openAlerts().isEmpty()); // not before the next turn of the run loop
    clock.advance(0);
    const auto boxes = openAlerts();
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_TRUE(config().userHasDoneRate());
    ASSERT_NE(boxes.first()->defaultButton(), nullptr);
    boxes.first()->defaultButton()->click();
    clock.advance(0);
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened.first(), MainWndController::storePageUrl());

    // Once done, later launches show nothing.
    controller->delayCheckRateForUs();
    clock.advance(0);
    EXPECT_TRUE(openAlerts().isEmpty());
}

TEST_F(Prompts, DecliningTheRatePromptOpensNothing)
{
    config().setRunVersionBeforeRate(delegate->appVersion());
    config().setRunCountBeforeRate(9);
    controller->delayCheckRateForUs();
    clock.advance(0);
    const auto boxes = openAlerts();
    ASSERT_EQ(boxes.size(), 1);
    QAbstractButton* other = nullptr;
    for (QAbstractButton* b : boxes.first()->buttons())
        if (b != boxes.first()->defaultButton())
            other = b;
    ASSERT_NE(other, nullptr);
    other->click();
    clock.advance(0);
    EXPECT_TRUE(opened.isEmpty());
}

// The prompt stays over the window, centred, when the window is made smaller or larger beneath it.
TEST_F(Prompts, RatePromptStaysCentredOverAWindowThatChangesSize)
{
    controller->window()->makeKeyAndOrderFront();
    QApplication::processEvents();
    config().setRunVersionBeforeRate(delegate->appVersion());
    config().setRunCountBeforeRate(9);
    controller->delayCheckRateForUs();
    clock.advance(0);
    const auto boxes = openAlerts();
    ASSERT_EQ(boxes.size(), 1);
    QMessageBox* box = boxes.first();
    QWidget* window = controller->window()->widget();
    for (const kpv::Rect& frame : {kpv::Rect(0, 0, 520, 360), kpv::Rect(300, 200, 1000, 700)}) {
        controller->window()->setFrame(frame);
        QApplication::processEvents();
        const QPoint centre = window->frameGeometry().center();
        const QPoint boxCentre = box->frameGeometry().center();
        EXPECT_LE(std::abs(boxCentre.x() - centre.x()), 1) << frame.width();
        EXPECT_LE(std::abs(boxCentre.y() - centre.y()), 1) << frame.width();
        EXPECT_TRUE(window->frameGeometry().contains(box->frameGeometry())) << frame.width();
    }
}

// What one start has to say comes one dialog at a time, each told once: a dialog over another
// leaves the keyboard with neither once the top one goes.
TEST_F(Prompts, TheDialogsOfOneStartComeOneAfterTheOther)
{
    config().setRunVersionBeforeRate(delegate->appVersion());
    config().setRunCountBeforeRate(9);
    controller->showFailureAlertSoon("Cannot open it.");
    controller->delayCheckRateForUs();
    controller->showFailureAlertSoon("Cannot open it.");
    clock.advance(0);
    auto boxes = openAlerts();
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_EQ(boxes.first()->text(), "Cannot open it.");
    boxes.first()->defaultButton()->click();
    clock.advance(0);
    clock.advance(0);
    boxes = openAlerts();
    ASSERT_EQ(boxes.size(), 1) << "the rate prompt follows; the failure is not told twice";
    EXPECT_NE(boxes.first()->text(), "Cannot open it.");
}

TEST_F(Prompts, RecommendationMailNamesTheProductAndItsPages)
{
    MailCatcher mail;
    kpv::DesktopServices::setShared(&mail);
    controller->recommendMenuItemClicked();
    kpv::DesktopServices::setShared(nullptr);
    ASSERT_EQ(mail.mails.size(), 1);
    EXPECT_EQ(mail.attachments, 0);
    EXPECT_TRUE(mail.mails.first().first.contains(delegate->appName()));
    EXPECT_TRUE(mail.mails.first().second.contains(MainWndController::storeWebPageUrl().toString()));
    EXPECT_TRUE(mail.mails.first().second.contains(MainWndController::productWebPageUrl().toString()));
    EXPECT_FALSE(mail.mails.first().second.contains(QLatin1String("%@")));
}

// Sharing photos by mail with no mail program to take them: the viewer says so instead of doing
// nothing at all.
TEST_F(Prompts, MailShareThatCannotStartSaysSo)
{
    const QString photo = scratchPhoto("p.jpg");
    MailCatcher mail;
    MainWndSecondaryWindows windows(*delegate, *controller, mail, kpv::NotificationCenter::defaultCenter());
    const QList<ShareFileInfoPtr> files{std::make_shared<ShareFileInfo>(LMPathString(photo, false))};
    constexpr long kMail = 33;

    EXPECT_TRUE(windows.shareFiles(files, kMail));
    EXPECT_EQ(mail.attachments, 1);
    EXPECT_TRUE(openAlerts().isEmpty());

    mail.mailWorks = false;
    EXPECT_FALSE(windows.shareFiles(files, kMail));
    const QList<QMessageBox*> alerts = openAlerts();
    ASSERT_EQ(alerts.size(), 1);
    // One photo is told of as one, and as left as it was.
    EXPECT_EQ(alerts.first()->text(), kpv::Bundle::mainBundle().localizedString("IDS_ShareMailFailedOne"));
    alerts.first()->accept();
    clock.advance(0);
    EXPECT_TRUE(openAlerts().isEmpty());

    const QList<ShareFileInfoPtr> two{files.first(),
                                      std::make_shared<ShareFileInfo>(LMPathString(scratchPhoto("q.jpg"), false))};
    EXPECT_FALSE(windows.shareFiles(two, kMail));
    ASSERT_EQ(openAlerts().size(), 1);
    EXPECT_EQ(openAlerts().first()->text(), kpv::Bundle::mainBundle().localizedString("IDS_ShareMailFailed"));
    openAlerts().first()->accept();
    clock.advance(0);

    // A mail program there, but no room for the copies it needs: the disk is named, not the program.
    mail.mailWorks = true;
    mail.copiesFail = true;
    EXPECT_FALSE(windows.shareFiles(files, kMail));
    ASSERT_EQ(openAlerts().size(), 1);
    EXPECT_EQ(openAlerts().first()->text(), kpv::Bundle::mainBundle().localizedString("IDS_ShareMailNotCopiedOne"));
    openAlerts().first()->accept();
    clock.advance(0);
}

// Help > Help where the desktop's opener takes longer than the command waits for it to find no
// browser: the page is still told as not opened, once the opener has given up.
TEST_F(Prompts, HelpPageWhoseOpenerGivesUpLateIsStillTold)
{
    QFile opener(scratch.filePath("xdg-open"));
    ASSERT_TRUE(opener.open(QIODevice::WriteOnly));
    opener.write("#!/bin/sh\nsleep 3\nexit 3\n");
    opener.close();
    ASSERT_TRUE(opener.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(scratch.path()) + ":" + path);
    controller->setOpenUrlHandler(nullptr); // the desktop's own way, through the stand-in
    controller->performMenuAction(MainWndController::TagHelp);
    qputenv("PATH", path);
    EXPECT_TRUE(openAlerts().isEmpty()) << "the opener was still looking";

    // Until the opener has ended (the bound only keeps a broken run from hanging).
    QEventLoop untilGivenUp;
    kpv::NotificationCenter::defaultCenter().addObserver(&untilGivenUp, kpv::kDesktopHelperFailedNotification, nullptr,
                                                         [&](const kpv::Notification&) { untilGivenUp.quit(); });
    QTimer::singleShot(30000, &untilGivenUp, &QEventLoop::quit);
    untilGivenUp.exec();
    kpv::NotificationCenter::defaultCenter().removeObserver(&untilGivenUp);
    const QList<QMessageBox*> alerts = openAlerts();
    ASSERT_EQ(alerts.size(), 1);
    EXPECT_EQ(alerts.first()->text(), kpv::Bundle::mainBundle().localizedStringWithFormat(
                                          QStringLiteral("IDS_WebPageFailedLate_Fmt"),
                                          MainWndController::helpPageUrl().toString()));
}

// Making the viewer the default of photos, from the first-run tip or the preferences, when the
// desktop cannot take it (its list of defaults on a full disk): the user is told why, never left
// believing it was done.
TEST_F(Prompts, ADefaultViewerTheDesktopDidNotTakeIsTold)
{
    const QByteArray dataHome = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", scratch.filePath("data").toUtf8()); // where our desktop entry goes
    kpv::FakeDesktopServices desktop;
    desktop.refuseDefaultsWith = QStringLiteral("cannot write /home/u/.config/mimeapps.list: the disk is full");
    MainWndSecondaryWindows windows(*delegate, *controller, desktop, kpv::NotificationCenter::defaultCenter());
    ASSERT_NE(windows.fileTypeAssociator(), nullptr);
    EXPECT_FALSE(windows.fileTypeAssociator()->makeFileAssoicateForFileTypes({"public.jpeg"}));
    qputenv("XDG_DATA_HOME", dataHome);
    const QList<QMessageBox*> alerts = openAlerts();
    ASSERT_EQ(alerts.size(), 1);
    EXPECT_TRUE(alerts.first()->text().endsWith(desktop.refuseDefaultsWith + QLatin1Char('.')))
        << alerts.first()->text().toStdString();
    EXPECT_TRUE(alerts.first()->text().startsWith(delegate->appName())) << alerts.first()->text().toStdString();

    // Once the desktop takes it, nothing is said.
    alerts.first()->accept();
    clock.advance(0);
    desktop.refuseDefaultsWith.clear();
    qputenv("XDG_DATA_HOME", scratch.filePath("data").toUtf8());
    EXPECT_TRUE(windows.fileTypeAssociator()->makeFileAssoicateForFileTypes({"public.jpeg"}));
    qputenv("XDG_DATA_HOME", dataHome);
    EXPECT_EQ(desktop.defaults.value(QStringLiteral("image/jpeg")), windows.fileTypeAssociator()->ourAppId());
    EXPECT_TRUE(openAlerts().isEmpty());
}

// Opening what holds no photo (a folder without any, a recent photo removed since, a dropped
// file of another kind) says why instead of leaving the window as it was without a word.
TEST_F(Prompts, OpeningWhatHoldsNoPhotoSaysWhy)
{
    struct CountingViewer : ViewerStub {
        void openFilePaths(const QList<LMPathString>&, const QStringList&, bool) override { ++opened; }
        int opened = 0;
    } counting;
    controller->setNavigateController(&counting);
    delegate->applicationDidFinishLaunching();
    const QString folder = scratch.filePath("no-photos");
    ASSERT_TRUE(QDir().mkpath(folder));
    QFile text(scratch.filePath("notes.txt"));
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.close();
    const struct {
        QString path;
        QString says;
    } rows[] = {
        {folder, "no photos in the folder"},
        {scratch.filePath("gone.jpg"), "no such file"},
        {text.fileName(), "not a type of photo"},
    };
    for (const auto& row : rows) {
        controller->openFiles({row.path}, false);
        const QList<QMessageBox*> alerts = openAlerts();
        ASSERT_EQ(alerts.size(), 1) << row.path.toStdString();
        EXPECT_TRUE(alerts.first()->text().contains(row.says, Qt::CaseInsensitive)) << alerts.first()->text().toStdString();
        alerts.first()->accept();
        clock.advance(0);
    }
    EXPECT_EQ(counting.opened, 0);
    controller->setNavigateController(&viewer);
}

// Photos that are gone or unreadable cannot go with the message: the mail still starts with the
// others, and the user is told which are missing from it; when none is left, that no message was
// made and why.
TEST_F(Prompts, MailShareNamesThePhotosItLeftOut)
{
    const QString photo = scratchPhoto("here.jpg");
    MailCatcher mail;
    MainWndSecondaryWindows windows(*delegate, *controller, mail, kpv::NotificationCenter::defaultCenter());
    auto info = [](const QString& path) { return std::make_shared<ShareFileInfo>(LMPathString(path, false)); };
    constexpr long kMail = 33;

    EXPECT_TRUE(windows.shareFiles({info(photo), info(scratch.filePath("gone.jpg"))}, kMail));
    EXPECT_EQ(mail.attachments, 1);
    QList<QMessageBox*> alerts = openAlerts();
    ASSERT_EQ(alerts.size(), 1);
    EXPECT_TRUE(alerts.first()->text().contains("gone.jpg"));
    EXPECT_FALSE(alerts.first()->text().contains("here.jpg"));
    alerts.first()->accept();
    clock.advance(0);

    EXPECT_FALSE(windows.shareFiles({info(scratch.filePath("gone.jpg"))}, kMail));
    EXPECT_EQ(mail.mails.size(), 1) << "no message without a photo";
    alerts = openAlerts();
    ASSERT_EQ(alerts.size(), 1);
    EXPECT_TRUE(alerts.first()->text().startsWith(kpv::Bundle::mainBundle().localizedString("IDS_ShareMailNothingReadable")));
    alerts.first()->accept();
    clock.advance(0);
}

// No browser or mail program to start: Help, Rate and Recommend say so, and the page's address is
// in the alert for the user to copy, instead of doing nothing at all.
TEST_F(Prompts, HelpRateAndRecommendThatCannotStartSaySo)
{
    bool browserWorks = false;
    controller->setOpenUrlHandler([&](const QUrl& url) {
        opened.append(url);
        return browserWorks;
    });
    const auto dismissOnlyAlert = [&](const QString& expected) {
        const QList<QMessageBox*> alerts = openAlerts();
        ASSERT_EQ(alerts.size(), 1);
        EXPECT_TRUE(alerts.first()->text().contains(expected)) << alerts.first()->text().toStdString();
        alerts.first()->accept();
        clock.advance(0);
        EXPECT_TRUE(openAlerts().isEmpty());
    };

    controller->performMenuAction(203); // Help
    ASSERT_EQ(opened.size(), 1);
    ASSERT_NO_FATAL_FAILURE(dismissOnlyAlert(MainWndController::helpPageUrl().toString()));
    controller->performMenuAction(48); // Rate
    ASSERT_EQ(opened.size(), 2);
    ASSERT_NO_FATAL_FAILURE(dismissOnlyAlert(MainWndController::storePageUrl().toString()));

    MailCatcher mail;
    mail.mailWorks = false;
    kpv::DesktopServices::setShared(&mail);
    controller->performMenuAction(49); // Recommend
    kpv::DesktopServices::setShared(nullptr);
    ASSERT_NO_FATAL_FAILURE(dismissOnlyAlert(kpv::Bundle::mainBundle().localizedString("IDS_FeedbackNoMail")));

    // A browser that starts brings no alert.
    browserWorks = true;
    controller->performMenuAction(203);
    EXPECT_EQ(opened.size(), 3);
    EXPECT_TRUE(openAlerts().isEmpty());
}

class CursorRest : public Prompts {
protected:
    void SetUp() override
    {
        Prompts::SetUp();
        lastMove = clock.now();
        controller->setPointerStateSources([this] { return clock.now() - lastMove; }, [this] { return pressed; });
    }
    double lastMove = 0;
    bool pressed = false;
};

TEST_F(CursorRest, HidesAfterThreeSecondsOfRestInTheViewerOnly)
{
    controller->setShowMode(MainShowModeView);
    ASSERT_EQ(controller->showMode(), MainShowModeView);
    controller->startCursorAutoHide();
    clock.advance(2.0);
    EXPECT_EQ(cursorHidden, 0);
    clock.advance(1.0);
    EXPECT_EQ(cursorHidden, 1);
    // The mouse moves: the count of rest starts again.
    lastMove = clock.now();
    clock.advance(2.0);
    EXPECT_EQ(cursorHidden, 1);
    // A held button keeps the pointer however long it rests.
    pressed = true;
    clock.advance(5.0);
    EXPECT_EQ(cursorHidden, 1);
    pressed = false;
    clock.advance(1.0);
    EXPECT_EQ(cursorHidden, 2);
    controller->stopCursorAutoHide();
    EXPECT_FALSE(controller->cursorAutoHideTimer()->isTimerRunning());
    clock.advance(5.0);
    EXPECT_EQ(cursorHidden, 2);
}

TEST_F(CursorRest, OtherModesAndARefusingObserverKeepThePointer)
{
    controller->startCursorAutoHide();
    clock.advance(5.0); // show mode 0: nothing
    EXPECT_EQ(cursorHidden, 0);

    controller->setShowMode(MainShowModeView);
    int asked = 0;
    kpv::NotificationCenter::defaultCenter().addObserver(
        &asked, QLatin1String(QueryAutoHideCursorNotification), controller.get(), [&](const kpv::Notification& n) {
            ++asked;
            if (auto reply = n.userInfo.value(QLatin1String(QueryAutoHideCursorReplyKey)).value<SlideshowQueryReply>())
                reply->insert(QLatin1String(DisableAutoHideCursorKey), true);
        });
    clock.advance(2.0);
    EXPECT_GT(asked, 0);
    EXPECT_EQ(cursorHidden, 0);
    kpv::NotificationCenter::defaultCenter().removeObserver(&asked);
    clock.advance(1.0);
    EXPECT_EQ(cursorHidden, 1);
    controller->stopCursorAutoHide();
}

TEST(ToolbarEditPop, RowsTitlesIconsAndNoCheckMarks)
{
    ensureApp();
    ToolbarEditPopViewController edit(nullptr, nullptr);
    ASSERT_EQ(edit.numberOfItemsInPopMenuView(nullptr, {}), 4u);
    const char* const icons[] = {"icon_rotatel", "icon_rotater", "icon_mirrorh", "icon_mirrorv"};
    for (unsigned long i = 0; i < 4; ++i) {
        const QVariant row = edit.popMenuView_itemAtIndex(nullptr, {}, i);
        EXPECT_EQ(edit.editItemTypeByRepresentedObject(row), long(i + 1));
        EXPECT_FALSE(edit.popMenuView_itemTitleForRepresentedObject(nullptr, row).isEmpty());
        EXPECT_EQ(edit.popMenuView_iconImageNameForRepresentedObject(nullptr, row, false), icons[i]);
        EXPECT_TRUE(edit.popMenuView_iconImageNameForRepresentedObject(nullptr, row, true).isEmpty());
    }
    EXPECT_FALSE(edit.popMenuView_itemAtIndex(nullptr, {}, 4).isValid());
    // Anything that is not one of the four entries stands for nothing.
    EXPECT_EQ(edit.editItemTypeByRepresentedObject(5), 0);
    EXPECT_EQ(edit.editItemTypeByRepresentedObject(0), 0);
    EXPECT_EQ(edit.editItemTypeByRepresentedObject(QStringLiteral("1")), 0);
    EXPECT_EQ(edit.editItemTypeByRepresentedObject(QVariant()), 0);
    EXPECT_TRUE(edit.popMenuView_itemTitleForRepresentedObject(nullptr, 7).isEmpty());
    EXPECT_TRUE(edit.popMenuView_iconImageNameForRepresentedObject(nullptr, QStringLiteral("x"), false).isEmpty());
    EXPECT_EQ(edit.popMenuView()->dataSource(), &edit);
}

} // namespace
