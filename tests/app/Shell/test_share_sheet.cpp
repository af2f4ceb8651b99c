// Sharing: the share pop-up's rows, the web-site sheet's decisions (per-site description limits,
// the chosen site, the saved sign-in, the honest last step), e-mail sharing through the desktop's
// mail program (a fake, and the real launcher with a stand-in helper on PATH) and the feedback form.
#include "Share/FeedbackWindowController.h"
#include "Share/ShareSelectWebsiteViewController.h"
#include "Share/ShareWindowController.h"

#include "Kit/LMImageView.h"
#include "Kit/LMNormalCustomButton.h"
#include "Kit/LMNormalCustomWindow.h"
#include "appkit/Control.h"
#include "appkit/Image.h"
#include "Model/MainConfig.h"
#include "desktop/DesktopServices.h"
#include "desktop/FakeDesktopServices.h"
#include "foundation/FileHelpers.h"
#include "foundation/FileNames.h"
#include "foundation/Bundle.h"
#include "foundation/UserDefaults.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QFileSystemWatcher>
#include <QEventLoop>
#include <QTimer>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <optional>
#include <unistd.h>

namespace {

QString tr(const char* key) { return kpv::Bundle::mainBundle().localizedString(QString::fromLatin1(key)); }

struct ShareTest : ::testing::Test {
    QTemporaryDir dir;
    kpv::UserDefaults defaults{dir.filePath("settings.conf")};
    MainConfig config{defaults};

    QString makeFile(const QString& name)
    {
        const QString path = dir.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("not really a picture");
        return path;
    }
    QList<ShareFileInfoPtr> infos(const QStringList& paths)
    {
        QList<ShareFileInfoPtr> out;
        for (const QString& p : paths)
            out << std::make_shared<ShareFileInfo>(LMPathString(p, false));
        return out;
    }

    // Puts an executable stand-in for a desktop helper into "bin" in the scratch folder and that
    // folder at the head of PATH, until restorePath() (or the end of the test).
    bool putStandInOnPath(const QString& name, const QByteArray& script)
    {
        const QString bin = dir.filePath("bin");
        QFile helper(bin + "/" + name);
        if (!QDir().mkpath(bin) || !helper.open(QIODevice::WriteOnly) || helper.write(script) != script.size())
            return false;
        helper.close();
        if (!helper.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))
            return false;
        if (!oldPath)
            oldPath = qgetenv("PATH");
        qputenv("PATH", bin.toUtf8() + ":" + *oldPath);
        return true;
    }
    void restorePath()
    {
        if (oldPath)
            qputenv("PATH", *oldPath);
        oldPath.reset();
    }
    void TearDown() override { restorePath(); }

    std::optional<QByteArray> oldPath;
};

TEST_F(ShareTest, PopUpListsTheSitesAndMailButNotThePhotoLibrary)
{
    ShareSelectWebsiteViewController popup(nullptr, nullptr);
    EXPECT_EQ(popup.shareTypes(), QList<long>({1, 2, 3, 4, 33}));
    EXPECT_EQ(popup.shareTypeByRepresentedObject(QVariant::fromValue<qlonglong>(3)), 3);
    EXPECT_EQ(popup.shareTypeByRepresentedObject(QVariant::fromValue<qlonglong>(34)), 0);
    EXPECT_EQ(popup.shareTypeByRepresentedObject(QVariant(QStringLiteral("33"))), 0);
    EXPECT_EQ(ShareSelectWebsiteViewController::toolbarButtonImageNameByShareType(2), "E_FLICK");
    EXPECT_EQ(ShareSelectWebsiteViewController::toolbarButtonImageNameByShareType(33), "e_email");
    EXPECT_TRUE(ShareSelectWebsiteViewController::toolbarButtonImageNameByShareType(5).isEmpty());
    EXPECT_EQ(ShareSelectWebsiteViewController::toolbarButtonToolTipsByShareType(4), tr("IDS_SharetoTumblr"));
    EXPECT_TRUE(ShareSelectWebsiteViewController::toolbarButtonToolTipsByShareType(0).isEmpty());
}

TEST_F(ShareTest, DescriptionLimitsFollowTheChosenSite)
{
    ShareWindowController sheet(config);
    sheet.beginShareFiles(infos({makeFile("a.jpg"), makeFile("b.jpg")}), 2, nullptr);
    ASSERT_EQ(sheet.websiteType(), 2);
    EXPECT_EQ(sheet.shareWindow()->firstResponder(), sheet.descTextView()) << "typing goes to the description";
    const QString long118(118, QChar('x'));
    sheet.setDescriptionOfCurFile(long118);
    EXPECT_EQ(sheet.lengthText(), "118 / 255");
    EXPECT_TRUE(sheet.descriptionsFit());
    // The second file's description is its own; the first keeps its text.
    sheet.selectFile(1);
    EXPECT_TRUE(sheet.descriptionOfFile(1).isEmpty());
    EXPECT_EQ(sheet.descriptionOfFile(0), long118);
    // Twitter allows 117: the first file's text no longer fits, so Share refuses with a word.
    sheet.selectWebsite(3);
    EXPECT_EQ(config.curShareType(), 3);
    EXPECT_FALSE(sheet.descriptionsFit());
    sheet.shareButtonClicked();
    EXPECT_FALSE(sheet.finished());
    EXPECT_EQ(sheet.messageText(), tr("IDS_ShareDescTooLong"));
    // Tumblr has no limit: the count stands alone and the last step is reached.
    sheet.selectWebsite(4);
    sheet.selectFile(0);
    EXPECT_EQ(sheet.lengthText(), "118");
    sheet.shareButtonClicked();
    EXPECT_TRUE(sheet.finished());
    EXPECT_EQ(sheet.messageText(), tr("IDS_ShareUploadNotAvailable"));
    EXPECT_TRUE(sheet.btnShare()->isHidden());
}

TEST_F(ShareTest, SheetShowsTheSavedSignInOfTheChosenSite)
{
    config.setShareAutoLoginInfo(ShareAutoLoginInfo("7", "token", "", "Ann"), 1, true);
    config.setShareAutoLoginInfo(ShareAutoLoginInfo(QVariantMap{{"accessToken", "t"}}), 4, true);
    ShareWindowController sheet(config);
    sheet.beginShareFiles(infos({makeFile("a.jpg")}), 1, nullptr);
    EXPECT_EQ(sheet.signedInUserName(), "Ann");
    EXPECT_TRUE(sheet.signInStateText().contains("Ann"));
    sheet.selectWebsite(2);
    EXPECT_TRUE(sheet.signedInUserName().isEmpty());
    EXPECT_EQ(sheet.signInStateText(),
              kpv::Bundle::mainBundle().localizedStringWithFormat(QStringLiteral("IDS_ShareNotSignedIn_Fmt"), QStringLiteral("Flickr")));
    sheet.selectWebsite(4); // a sign-in without a user name
    EXPECT_TRUE(sheet.signInStateText().contains("Tumblr"));
    EXPECT_FALSE(sheet.signInStateText().contains(" as "));
    // Not a web site: nothing changes.
    sheet.selectWebsite(33);
    EXPECT_EQ(sheet.websiteType(), 4);
}

TEST_F(ShareTest, SheetShowsEachThumbnailUprightAsTheViewerDoes)
{
    // Stored landscape with a red left half; orientation 6 shows it turned a quarter clockwise,
    // so upright the picture is portrait with the red half on top.
    QImage stored(40, 20, QImage::Format_RGB32);
    stored.fill(Qt::blue);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 20; ++x)
            stored.setPixel(x, y, qRgb(255, 0, 0));
    const QString path = makeFile(QStringLiteral("turned.jpg"));
    auto turned = std::make_shared<ShareFileInfo>(LMPathString(path, false));
    turned->setImgBaseInfo(std::make_shared<const LMFileImgBaseInfo>(LMPathString(path, false), QStringLiteral("public.jpeg"),
                                                                     0, QDateTime(), QSizeF(40, 20), 6, QVariantMap()));
    turned->setRawThumb(stored);
    auto plain = std::make_shared<ShareFileInfo>(LMPathString(makeFile(QStringLiteral("plain.jpg")), false));
    plain->setRawThumb(stored);

    ShareWindowController sheet(config);
    sheet.beginShareFiles({turned, plain}, 2, nullptr);
    ASSERT_TRUE(sheet.thumbView(0)->image());
    const QImage shown = sheet.thumbView(0)->image()->bestRepresentation(1.0);
    ASSERT_EQ(shown.size(), QSize(20, 40));
    EXPECT_EQ(QColor(shown.pixel(10, 5)), QColor(Qt::red));
    EXPECT_EQ(QColor(shown.pixel(10, 35)), QColor(Qt::blue));
    // Without base information the thumbnail is shown as it came.
    ASSERT_TRUE(sheet.thumbView(1)->image());
    EXPECT_EQ(sheet.thumbView(1)->image()->bestRepresentation(1.0).size(), QSize(40, 20));
}

TEST_F(ShareTest, SheetShowsEachFileNameWithinItsThumbnailsWidth)
{
    const QString shortName = QStringLiteral("a.png");
    const QString longName = QStringLiteral("a holiday photo with a rather long name.png");
    ShareWindowController sheet(config);
    sheet.beginShareFiles(infos({makeFile(shortName), makeFile(QStringLiteral("turned16.png")), makeFile(longName)}), 2,
                          nullptr);
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const kpv::TextField* name = sheet.thumbName(i);
        ASSERT_TRUE(name);
        EXPECT_LE(name->attributedStringValueSize().width, name->bounds().width());
    }
    // A name that fits is shown whole; a longer one keeps its start and its extension.
    EXPECT_EQ(sheet.thumbName(0)->stringValue(), shortName);
    const QString shown = sheet.thumbName(2)->stringValue();
    EXPECT_NE(shown, longName);
    EXPECT_TRUE(shown.startsWith(QStringLiteral("a h"))) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith(QStringLiteral(".png"))) << shown.toStdString();
}

TEST_F(ShareTest, SheetIgnoresNoFilesAndTypesThatAreNotSites)
{
    ShareWindowController sheet(config);
    sheet.beginShareFiles({}, 1, nullptr);
    EXPECT_FALSE(sheet.shareWindow()->isVisible());
    sheet.beginShareFiles(infos({makeFile("a.jpg")}), 33, nullptr);
    EXPECT_FALSE(sheet.shareWindow()->isVisible());
    EXPECT_EQ(sheet.websiteType(), 0);
}

TEST_F(ShareTest, MailAttachesTheFilesThatStillExist)
{
    kpv::FakeDesktopServices desktop;
    const QString a = makeFile("a.jpg");
    const QString b = makeFile("b.png");
    // Latin-1 "café", as a disk from another system holds it: attached like any other, and handed
    // to the mail helper as a copy of its bytes under a plain name.
    const QByteArray native = QFile::encodeName(dir.path()) + "/caf\xe9.jpg";
    FILE* f = std::fopen(native.constData(), "wb");
    ASSERT_TRUE(f);
    std::fputs("photo bytes", f);
    std::fclose(f);
    const QString latin1 = kpv::decodeFileName(native);
    EXPECT_TRUE(ShareWindowController::shareFilesByEmail(infos({a, dir.filePath("gone.jpg"), latin1, b}), desktop));
    ASSERT_EQ(desktop.mails.size(), 1);
    EXPECT_EQ(desktop.mails[0].attachments, QStringList({a, latin1, b}));
    const QStringList safe = kpv::DesktopServices::mailSafeAttachments({latin1});
    ASSERT_EQ(safe.size(), 1);
    EXPECT_TRUE(QRegularExpression("^[A-Za-z0-9._/+-]+$").match(safe[0]).hasMatch()) << safe[0].toStdString();
    QFile copy(safe[0]);
    ASSERT_TRUE(copy.open(QIODevice::ReadOnly));
    EXPECT_EQ(copy.readAll(), QByteArray("photo bytes"));
    ::unlink(native.constData());
    EXPECT_TRUE(desktop.mails[0].subject.isEmpty());
    // Nothing left to attach, or no mail program: a failure, not a silent success.
    EXPECT_FALSE(ShareWindowController::shareFilesByEmail(infos({dir.filePath("gone.jpg")}), desktop));
    desktop.mailAvailable = false;
    EXPECT_FALSE(ShareWindowController::shareFilesByEmail(infos({a}), desktop));
    EXPECT_EQ(desktop.mails.size(), 1);
}

// The real launcher runs the mail helper with an argument vector: a stand-in on PATH records it.
TEST_F(ShareTest, MailHelperGetsOneAttachOptionPerFileWithoutAShell)
{
    const QString record = dir.filePath("record");
    ASSERT_TRUE(putStandInOnPath(
        "xdg-email",
        QStringLiteral("#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > '%1.tmp'\nmv '%1.tmp' '%1'\n")
            .arg(record)
            .toUtf8()));
    const QString odd = makeFile("$(touch pwned) ; name.jpg");
    // The helper runs detached: wait for its record to appear (or give up after a generous bound).
    QFileSystemWatcher watcher({dir.path()});
    QEventLoop loop;
    QObject::connect(&watcher, &QFileSystemWatcher::directoryChanged, &loop, [&] {
        if (QFile::exists(record))
            loop.quit();
    });
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    kpv::GioDesktopServices desktop;
    const bool started = ShareWindowController::shareFilesByEmail(infos({odd}), desktop);
    if (started && !QFile::exists(record))
        loop.exec();
    restorePath();
    ASSERT_TRUE(started);
    QFile out(record);
    ASSERT_TRUE(out.open(QIODevice::ReadOnly));
    const QStringList args = QString::fromUtf8(out.readAll()).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(args.size(), 3);
    EXPECT_EQ(args.mid(0, 2), QStringList({"--utf8", "--attach"}));
    // The helper writes the path into the mail program's command line as it is: a name with
    // shell or list characters goes as a private copy under a plain name, with the same bytes.
    EXPECT_TRUE(QRegularExpression("^[A-Za-z0-9._/+-]+$").match(args[2]).hasMatch()) << args[2].toStdString();
    EXPECT_TRUE(args[2].endsWith("name.jpg"));
    QFile original(odd), copy(args[2]);
    ASSERT_TRUE(original.open(QIODevice::ReadOnly) && copy.open(QIODevice::ReadOnly));
    EXPECT_EQ(copy.readAll(), original.readAll());
    EXPECT_FALSE(QFile::exists(dir.filePath("pwned")));
    // A plain name goes as it is.
    EXPECT_EQ(kpv::DesktopServices::mailSafeAttachments({"/photos/plain_name-1.jpg"}),
              QStringList{"/photos/plain_name-1.jpg"});
    EXPECT_TRUE(kpv::DesktopServices::mailSafeAttachments({"/photos/a,to=evil@example.com.jpg"})
                    .isEmpty()); // no such file: no copy, no mail
}

// The helper's own verdict counts: one that finds no mail program fails the mail (it used to be
// reported as sent because the helper had merely started).
TEST_F(ShareTest, MailHelperThatFindsNoMailProgramFailsTheMail)
{
    const QString bin = dir.filePath("bin");
    ASSERT_TRUE(putStandInOnPath(
        "xdg-email", "#!/bin/sh\n[ -e \"$0.works\" ] && exit 0\necho 'no method available' >&2\nexit 3\n"));
    const QString photo = makeFile("a.jpg");
    kpv::GioDesktopServices desktop;
    const bool withoutProgram = ShareWindowController::shareFilesByEmail(infos({photo}), desktop);
    const bool blamedOnCopies = desktop.mailAttachmentsNotCopied();
    const bool withoutProgramFeedback = desktop.composeMail("s", "b", {});
    QFile(bin + "/xdg-email.works").open(QIODevice::WriteOnly);
    const bool withProgram = ShareWindowController::shareFilesByEmail(infos({photo}), desktop);
    // A name the helper cannot take, whose plain-named copy cannot be written: no program is asked.
    const bool uncopied = desktop.composeMail("s", "b", {dir.filePath("gone photo.jpg")});
    restorePath();
    EXPECT_FALSE(withoutProgram);
    EXPECT_FALSE(blamedOnCopies);
    EXPECT_FALSE(withoutProgramFeedback);
    EXPECT_TRUE(withProgram);
    EXPECT_FALSE(uncopied);
    EXPECT_TRUE(desktop.mailAttachmentsNotCopied());
}

// A message that was not made leaves none of the copies made for it in the private temporary
// folder: not when no mail program took it, not when a later photo could not be copied.
TEST_F(ShareTest, MessageNotMadeLeavesNoCopiesBehind)
{
    ASSERT_TRUE(putStandInOnPath("xdg-email", "#!/bin/sh\nexit 3\n"));
    const QString photo = makeFile("my photo.jpg");
    const QString privateFolder = kpv::temporaryDirectory();
    ASSERT_FALSE(privateFolder.isEmpty());
    auto copies = [&] { return QDir(privateFolder).entryList({"mail-*"}, QDir::Dirs | QDir::NoDotAndDotDot); };
    const QStringList before = copies();
    kpv::GioDesktopServices desktop;
    const bool withoutProgram = ShareWindowController::shareFilesByEmail(infos({photo}), desktop);
    const QStringList afterNoProgram = copies();
    const bool secondGone = desktop.composeMail("s", "b", {photo, dir.filePath("gone photo.jpg")});
    restorePath();
    EXPECT_FALSE(withoutProgram);
    EXPECT_EQ(afterNoProgram, before);
    EXPECT_FALSE(secondGone);
    EXPECT_TRUE(desktop.mailAttachmentsNotCopied());
    EXPECT_EQ(copies(), before);
}

// Opening a web page counts the opener's verdict the same way: one that finds no browser fails,
// and an address that is not a web page never reaches it.
TEST_F(ShareTest, WebPageOpenerThatFindsNoBrowserFailsTheOpen)
{
    const QString bin = dir.filePath("bin");
    const QString record = dir.filePath("record");
    ASSERT_TRUE(putStandInOnPath(
        "xdg-open", QStringLiteral("#!/bin/sh\nprintf '%s\\n' \"$@\" >> '%1'\n[ -e \"$0.works\" ] && exit 0\nexit 3\n")
                        .arg(record)
                        .toUtf8()));
    const QUrl page(QStringLiteral("https://kestrane.app/help"));
    const bool withoutBrowser = kpv::openWebAddress(page);
    const bool notAWebPage = kpv::openWebAddress(QUrl::fromLocalFile(dir.filePath("a.jpg")));
    QFile(bin + "/xdg-open.works").open(QIODevice::WriteOnly);
    const bool withBrowser = kpv::openWebAddress(page);
    restorePath();
    EXPECT_FALSE(withoutBrowser);
    EXPECT_FALSE(notAWebPage);
    EXPECT_TRUE(withBrowser);
    QFile out(record);
    ASSERT_TRUE(out.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(out.readAll()).split('\n', Qt::SkipEmptyParts),
              QStringList({page.toString(), page.toString()}));
}

TEST_F(ShareTest, FeedbackFormComposesThroughTheMailProgramAndKeepsTheTextOnFailure)
{
    kpv::FakeDesktopServices desktop;
    FeedbackWindowController form(desktop, "Kestrane Photo Viewer", "0.1.0");
    form.beginSheetOnParentWindow(nullptr);
    EXPECT_FALSE(form.sendButtonClicked());
    EXPECT_EQ(form.statusText(), tr("IDS_FeedbackEmpty"));
    EXPECT_TRUE(desktop.mails.isEmpty());

    // Typing takes the word away again.
    form.messageTextView()->insertText("T");
    EXPECT_TRUE(form.statusText().isEmpty());
    form.messageTextView()->setString("  The wheel should zoom.  ");
    desktop.mailAvailable = false;
    EXPECT_FALSE(form.sendButtonClicked());
    EXPECT_EQ(form.statusText(), tr("IDS_FeedbackNoMail"));
    EXPECT_EQ(form.messageTextView()->string(), "  The wheel should zoom.  ");
    // The status line shows its whole sentence, not the start of it.
    kpv::TextField* status = nullptr;
    for (kpv::View* v : form.feedbackWindow()->contentView()->subviews())
        if (auto* field = dynamic_cast<kpv::TextField*>(v); field && field->stringValue() == form.statusText())
            status = field;
    ASSERT_NE(status, nullptr);
    EXPECT_LE(status->attributedStringValueSize().width, status->frame().width()) << status->stringValue().toStdString();

    desktop.mailAvailable = true;
    EXPECT_TRUE(form.sendButtonClicked());
    ASSERT_EQ(desktop.mails.size(), 1);
    EXPECT_TRUE(desktop.mails[0].subject.contains("Kestrane Photo Viewer"));
    EXPECT_TRUE(desktop.mails[0].subject.contains("0.1.0"));
    EXPECT_TRUE(desktop.mails[0].body.startsWith("The wheel should zoom.\n"));
    EXPECT_TRUE(desktop.mails[0].attachments.isEmpty());
    EXPECT_TRUE(form.messageTextView()->string().isEmpty());
    EXPECT_FALSE(form.feedbackWindow()->isVisible());
}

}  // namespace
