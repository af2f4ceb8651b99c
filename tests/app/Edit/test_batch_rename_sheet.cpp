// The batch rename sheet on the offscreen platform: preview and Rename state, a run that renames
// and ends the sheet, the failure report after the sheet, and closing while idle.

#include "Edit/BatchRenameWindowController.h"
#include "edit_test_support.h"
#include "Kit/LMLengthLimitTextField.h"
#include "Kit/LMNormalCustomButton.h"
#include "Kit/LMProgressBar.h"
#include "Model/MainConfig.h"

#include "appkit/Application.h"
#include "appkit/Control.h"
#include "appkit/Event.h"
#include "appkit/Menu.h"
#include "appkit/Pasteboard.h"
#include "appkit/Window.h"
#include "appkit/GraphicsContext.h"
#include "foundation/Bundle.h"
#include "foundation/FileNames.h"
#include "foundation/UserDefaults.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#include <cstring>
#include <future>

namespace {

class RenameSheet : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    LMPathString make(const QString &name)
    {
        QFile f(dir.filePath(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("the photo " + name.toUtf8());
        return LMPathString(dir.filePath(name), false);
    }
    static QByteArray checksum(const QString &path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256) : QByteArray();
    }
    // Begins the sheet with its failure report caught in alertText and its result in `result`.
    void begin(BatchRenameWindowController &c, const QList<LMPathString> &files)
    {
        c.setAlertPresenter([this](const QString &text, kpv::Window *, std::function<void()> done) {
            alertText = text;
            done();
        });
        c.beginSheetOnParentWindow(&parent, files, [this](const auto &m) {
            completed = true;
            result = m;
        });
    }
    void finishRun(BatchRenameWindowController &c)
    {
        c.waitUntilWorkerFinished();
        for (int i = 0; i < 20 && !completed; ++i)
            QCoreApplication::processEvents();
    }
    QTemporaryDir dir;
    kpv::UserDefaults defaults{dir.filePath("settings.conf")};
    MainConfig config{defaults};
    kpv::Window parent{kpv::Rect(0, 0, 600, 400), 0};
    bool completed = false;
    std::optional<BatchRenameWorker::RenameMap> result;
    QString alertText;
};

TEST_F(RenameSheet, PreviewRenameAndProgress)
{
    const QList<LMPathString> files{make("a.jpg"), make("b.PNG"), make("c.jpg")};
    BatchRenameWindowController c(&config);
    EXPECT_EQ(c.edtNewNameBase()->stringValue(), "Photo_");
    c.beginSheetOnParentWindow(&parent, files, [&](const auto &m) {
        completed = true;
        result = m;
    });
    EXPECT_EQ(c.txtOldFileName()->stringValue(), "a.jpg");
    EXPECT_EQ(c.txtNewFileName()->stringValue(), "Photo_1.jpg");
    EXPECT_EQ(c.txtProgress()->stringValue(), "0/3");
    EXPECT_TRUE(c.btnRename()->isEnabled());
    c.setNewNameBaseText("   ");
    EXPECT_FALSE(c.btnRename()->isEnabled());
    EXPECT_EQ(c.txtNewFileName()->stringValue(), "");
    c.setNewNameBaseText(" Trip ");
    EXPECT_EQ(c.txtNewFileName()->stringValue(), "Trip1.jpg");

    c.renameButtonClicked();
    EXPECT_TRUE(c.renameTaskRunning());
    EXPECT_FALSE(c.btnRename()->isEnabled());
    finishRun(c);
    ASSERT_TRUE(completed);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->size(), 3);
    EXPECT_EQ(result->value(files[1]).path(), dir.filePath("Trip2.PNG"));
    EXPECT_EQ(c.txtProgress()->stringValue(), "3/3");
    EXPECT_EQ(config.batchRenameConfigNameBase(), "Trip");
}

TEST_F(RenameSheet, FailuresAreReportedAfterTheSheetAndIdleCloseEndsAtOnce)
{
    const QList<LMPathString> files{LMPathString(dir.filePath("gone.jpg"), false), make("b.jpg")};
    BatchRenameWindowController c(&config);
    begin(c, files);
    c.renameButtonClicked();
    finishRun(c);
    ASSERT_TRUE(completed);
    // The report says why: the file had gone.
    EXPECT_TRUE(alertText.contains(QString::fromLocal8Bit(std::strerror(ENOENT)))) << alertText.toStdString();
    EXPECT_EQ(result->size(), 1);

    BatchRenameWindowController idle(&config);
    bool idleDone = false;
    std::optional<BatchRenameWorker::RenameMap> idleResult{BatchRenameWorker::RenameMap()};
    idle.beginSheetOnParentWindow(&parent, files, [&](const auto &m) {
        idleDone = true;
        idleResult = m;
    });
    idle.closeWindow();
    EXPECT_TRUE(idleDone);
    EXPECT_FALSE(idleResult.has_value());

    // An empty list never begins a sheet nor calls back.
    BatchRenameWindowController none(&config);
    bool called = false;
    none.beginSheetOnParentWindow(&parent, {}, [&](const auto &) { called = true; });
    EXPECT_FALSE(called);
}

// The preview of a long name keeps both ends, the extension included, within its field, and
// shows an arrow from the old name to the new one; a name that is not UTF-8 shows as the user
// reads it, and the new name is still made from its bytes.
TEST_F(RenameSheet, PreviewOfLongAndNonUtf8Names)
{
    const QString longName = QString(100, 'a') + '_' + QString(100, 'b') + "_end.jpg";
    BatchRenameWindowController c(&config);
    c.beginSheetOnParentWindow(&parent, {make(longName)}, {});
    const kpv::TextField *old = c.txtOldFileName();
    EXPECT_EQ(old->stringValue(), longName);
    const QString shown = old->displayedStringValue();
    EXPECT_TRUE(shown.startsWith("aaa")) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith("_end.jpg")) << shown.toStdString();
    EXPECT_LE(kpv::GraphicsContext::textWidth(shown, old->font()), old->bounds().width());
    EXPECT_EQ(c.txtNewFileName()->stringValue(), "Photo_1.jpg");
    bool arrow = false;
    for (kpv::View *v : c.window()->contentView()->subviews())
        if (auto *t = dynamic_cast<kpv::TextField *>(v); t && t->stringValue() == QStringLiteral("\u2192"))
            arrow = t->frame().minX() >= old->frame().maxX() && t->frame().maxX() <= c.txtNewFileName()->frame().minX();
    EXPECT_TRUE(arrow);
    c.closeWindow();

    const QByteArray latin1 = QFile::encodeName(dir.path()) + "/caf\xe9.JPG";
    QFile raw;
    ASSERT_TRUE(raw.open(::open(latin1.constData(), O_WRONLY | O_CREAT, 0644), QIODevice::WriteOnly, QFileDevice::AutoCloseHandle));
    raw.close();
    BatchRenameWindowController c2(&config);
    c2.beginSheetOnParentWindow(&parent, {LMPathString(kpv::decodeFileName(latin1), false)}, {});
    EXPECT_EQ(c2.txtOldFileName()->stringValue(), QString("caf") + QChar(0xFFFD) + ".JPG");
    EXPECT_EQ(c2.txtNewFileName()->stringValue(), "Photo_1.JPG");
    c2.closeWindow();
    ::unlink(latin1.constData()); // a name the temporary folder's clean-up cannot reach
}

// Return in the sheet presses Rename, as in any dialog; not while Rename cannot be pressed.
TEST_F(RenameSheet, ReturnPressesRename)
{
    const QList<LMPathString> files{make("a.jpg")};
    BatchRenameWindowController c(&config);
    begin(c, files);
    c.window()->makeKeyWindow();
    auto pressReturn = [&] {
        kpv::Application::shared().sendEvent(kpv::Event::keyEvent(kpv::KeyDown, kpv::KeyCode::Return, "\r", "\r", c.window()));
    };
    c.setNewNameBaseText(" ");
    pressReturn();
    EXPECT_FALSE(c.renameTaskRunning());
    EXPECT_FALSE(completed);
    c.setNewNameBaseText("Trip");
    pressReturn();
    finishRun(c);
    ASSERT_TRUE(completed);
    EXPECT_TRUE(QFile::exists(dir.filePath("Trip1.jpg")));
}

// The name field's menu: Select All, then Cut empties it onto the clipboard, and Paste brings the
// name back; Cut and Copy are greyed while nothing is selected.
TEST_F(RenameSheet, NameFieldMenuCutsAndPastes)
{
    BatchRenameWindowController c(&config);
    begin(c, {make("a.jpg")});
    LMLengthLimitTextField *field = c.edtNewNameBase();
    auto item = [&](const char *key) {
        const QString title = kpv::Bundle::mainBundle().localizedString(QString::fromLatin1(key));
        const auto menu = field->textMenu();
        for (const auto &i : menu->itemArray())
            if (i->title() == title)
                return i;
        ADD_FAILURE() << key;
        return kpv::MenuItemPtr();
    };
    field->editor().setCaret(field->stringValue().size());
    EXPECT_FALSE(item("IDS_MENU_Cut")->isEnabled());
    EXPECT_FALSE(item("IDS_MENU_Copy")->isEnabled());
    item("IDS_MENU_SelectAll")->performAction();
    ASSERT_TRUE(item("IDS_MENU_Cut")->isEnabled());
    item("IDS_MENU_Cut")->performAction();
    QCoreApplication::processEvents(); // the sheet hears of an edit once it is applied
    EXPECT_EQ(field->stringValue(), "");
    EXPECT_EQ(kpv::Pasteboard::generalPasteboard().string(), "Photo_");
    EXPECT_EQ(c.txtNewFileName()->stringValue(), "");
    ASSERT_TRUE(item("IDS_MENU_Paste")->isEnabled());
    item("IDS_MENU_Paste")->performAction();
    QCoreApplication::processEvents();
    EXPECT_EQ(field->stringValue(), "Photo_");
    EXPECT_EQ(c.txtNewFileName()->stringValue(), "Photo_1.jpg");
    c.closeWindow();
}

// A name pasted longer than the field takes: what was typed stays, the paste is cut to the limit
// and the sheet says so, naming the limit; with the field full it says nothing was pasted, and a
// key typed then says no more can be typed; a leading point, typed or left by Backspace, is
// refused and told; the note goes with the next change of the name.
TEST_F(RenameSheet, WhatTheNameRefusesIsTold)
{
    BatchRenameWindowController c(&config);
    begin(c, {make("a.jpg")});
    c.window()->makeKeyWindow();
    auto paste = [&](const QString &text) {
        kpv::Pasteboard::generalPasteboard().writeString(text);
        kpv::Application::shared().sendEvent(
            kpv::Event::keyEvent(kpv::KeyDown, kpv::KeyCode::V, "v", "v", c.window(), kpv::CommandKeyMask));
        QCoreApplication::processEvents();
    };
    auto type = [&](unsigned short code, const QString &chars) {
        kpv::Application::shared().sendEvent(kpv::Event::keyEvent(kpv::KeyDown, code, chars, chars, c.window(), 0));
        QCoreApplication::processEvents();
    };
    LMLengthLimitTextField *field = c.edtNewNameBase();
    field->editor().setCaret(field->stringValue().size());
    paste(QString(40, QLatin1Char('x')));
    EXPECT_EQ(field->stringValue(), "Photo_" + QString(26, QLatin1Char('x')));
    EXPECT_TRUE(c.txtNote()->stringValue().contains("cut") && c.txtNote()->stringValue().contains("32"))
        << c.txtNote()->stringValue().toStdString();
    paste(QStringLiteral("more"));
    EXPECT_EQ(field->stringValue().size(), 32);
    EXPECT_TRUE(c.txtNote()->stringValue().contains("Nothing was pasted")) << c.txtNote()->stringValue().toStdString();
    // A key typed into the full name is refused and told as well.
    c.setNewNameBaseText(QString(32, QLatin1Char('y')));
    EXPECT_EQ(c.txtNote()->stringValue(), "");
    type(kpv::KeyCode::X, QStringLiteral("x"));
    EXPECT_EQ(field->stringValue(), QString(32, QLatin1Char('y')));
    EXPECT_TRUE(c.txtNote()->stringValue().contains("typed") && c.txtNote()->stringValue().contains("32"))
        << c.txtNote()->stringValue().toStdString();
    // A leading point, pasted or typed, is refused and told as the rule of file names.
    c.setNewNameBaseText(QString());
    QCoreApplication::processEvents();
    EXPECT_EQ(c.txtNote()->stringValue(), "");
    paste(QStringLiteral(".hidden"));
    EXPECT_EQ(field->stringValue(), "");
    EXPECT_TRUE(c.txtNote()->stringValue().contains("begin with")) << c.txtNote()->stringValue().toStdString();
    type(kpv::KeyCode::A, QStringLiteral("a"));
    EXPECT_EQ(c.txtNote()->stringValue(), "");
    field->editor().setCaret(0);
    type(kpv::KeyCode::Unknown, QStringLiteral("."));
    EXPECT_EQ(field->stringValue(), "a");
    EXPECT_TRUE(c.txtNote()->stringValue().contains("begin with")) << c.txtNote()->stringValue().toStdString();
    type(kpv::KeyCode::B, QStringLiteral("b"));
    EXPECT_EQ(field->stringValue(), "ba");
    EXPECT_EQ(c.txtNote()->stringValue(), "") << "the note goes once the name changes";
    // So is Backspace that would leave the point in front.
    c.setNewNameBaseText(QStringLiteral("x.jpg"));
    field->editor().setCaret(1);
    type(kpv::KeyCode::Delete, QStringLiteral("\x7f"));
    EXPECT_EQ(field->stringValue(), "x.jpg");
    EXPECT_TRUE(c.txtNote()->stringValue().contains("begin with")) << c.txtNote()->stringValue().toStdString();
    c.closeWindow();
}

// A name with a slash (a date such as 07/2026) cannot be used: no new name is previewed and the
// sheet says why Rename is greyed.
TEST_F(RenameSheet, ANameWithASlashIsToldWhyItCannotBeUsed)
{
    BatchRenameWindowController c(&config);
    begin(c, {make("a.jpg")});
    c.setNewNameBaseText("Trip 07/2026 ");
    EXPECT_FALSE(c.btnRename()->isEnabled());
    EXPECT_EQ(c.txtNewFileName()->stringValue(), "");
    EXPECT_TRUE(c.txtNote()->stringValue().contains("/")) << c.txtNote()->stringValue().toStdString();
    c.setNewNameBaseText("Trip 07-2026 ");
    EXPECT_EQ(c.txtNewFileName()->stringValue(), "Trip 07-20261.jpg");
    EXPECT_EQ(c.txtNote()->stringValue(), "");
    c.closeWindow();
}

// Cancel right after Rename, before the run has started: the run never begins, and the sheet still
// learns that it ended, closes, and reports nothing (it used to stay up with Rename disabled). Should
// the worker have renamed a file before the cancel reached it, the sheet says so instead.
TEST_F(RenameSheet, CancelBeforeTheRunStartsClosesTheSheet)
{
    const QList<LMPathString> files{make("a.jpg"), make("b.jpg")};
    BatchRenameWindowController c(&config);
    begin(c, files);
    c.renameButtonClicked();
    c.cancelButtonClicked();
    finishRun(c);
    ASSERT_TRUE(completed);
    EXPECT_FALSE(c.renameTaskRunning());
    if (!result || result->isEmpty())
        EXPECT_TRUE(alertText.isNull()) << alertText.toStdString();
    else
        EXPECT_TRUE(alertText.contains("1 of 2 files were renamed")) << alertText.toStdString();
    EXPECT_TRUE(QFile::exists(files[0].path()) || QFile::exists(dir.filePath("Photo_1.jpg")));
}

// Renaming in a folder that refuses changes fails for every file: the report says how many, and
// every file keeps its name and bytes.
TEST_F(RenameSheet, ReadOnlyFolderReportsEveryFileAndKeepsThem)
{
    const QList<LMPathString> files{make("a.jpg"), make("b.jpg")};
    BatchRenameWindowController c(&config);
    begin(c, files);
    {
        ReadOnlyFolderScope locked(dir.path());
        ASSERT_TRUE(locked.isReadOnly());
        c.renameButtonClicked();
        finishRun(c);
    }
    ASSERT_TRUE(completed);
    EXPECT_TRUE(alertText.contains('2'));
    // Each file with what the system said, not an unknown reason.
    EXPECT_FALSE(alertText.contains(kpv::Bundle::mainBundle().localizedString(QStringLiteral("IDS_FailedForUnknownReason"))))
        << alertText.toStdString();
    ASSERT_TRUE(result);
    EXPECT_TRUE(result->isEmpty());
    EXPECT_TRUE(QFile::exists(files[0].path()));
    EXPECT_TRUE(QFile::exists(files[1].path()));
}

// Cancel half-way: the report after the sheet says how many files were renamed of how many, those
// bear their new names, and the files the run did not reach keep their names and bytes.
TEST_F(RenameSheet, ACancelledRunTellsHowManyFilesWereRenamed)
{
    const QList<LMPathString> files{make("a.jpg"), make("b.jpg"), make("c.jpg"), make("d.jpg")};
    const QByteArray notReached = checksum(files[2].path()) + checksum(files[3].path());
    BatchRenameWindowController c(&config);
    begin(c, files);
    std::promise<void> reached, cancelled;
    std::shared_future<void> resume = cancelled.get_future().share();
    c.setWorkerProgressHook([&reached, resume](qint64 done) {
        if (done == 2) {
            reached.set_value();
            resume.wait();
        }
    });
    c.renameButtonClicked();
    reached.get_future().wait();
    c.cancelButtonClicked(); // as Esc does while the run goes
    cancelled.set_value();
    finishRun(c);
    ASSERT_TRUE(completed);
    EXPECT_TRUE(alertText.contains("2 of 4 files were renamed")) << alertText.toStdString();
    ASSERT_TRUE(result);
    EXPECT_EQ(result->size(), 2);
    EXPECT_TRUE(QFile::exists(dir.filePath("Photo_1.jpg")));
    EXPECT_TRUE(QFile::exists(dir.filePath("Photo_2.jpg")));
    EXPECT_EQ(checksum(files[2].path()) + checksum(files[3].path()), notReached);
}

// Another program makes a file under a name the run is about to give, once after the preview
// showed it and once half-way through the run: each such file keeps its name and its bytes, and
// the file of the list takes the next free number, without a failure.
TEST_F(RenameSheet, ANameTakenMeanwhileIsSkippedAndNeverReplaced)
{
    const QList<LMPathString> files{make("a.jpg"), make("b.jpg"), make("c.jpg")};
    const QByteArray a = checksum(files[0].path()), b = checksum(files[1].path()), c3 = checksum(files[2].path());
    BatchRenameWindowController c(&config);
    begin(c, files);
    ASSERT_EQ(c.txtNewFileName()->stringValue(), "Photo_1.jpg");
    auto otherProgramWrites = [this](const QString &name) {
        QFile f(dir.filePath(name));
        if (f.open(QIODevice::NewOnly))
            f.write("another program's " + name.toUtf8());
    };
    otherProgramWrites("Photo_1.jpg");
    const QByteArray first = checksum(dir.filePath("Photo_1.jpg"));
    c.setWorkerProgressHook([&](qint64 done) {
        if (done == 1)
            otherProgramWrites("Photo_3.jpg");
    });
    c.renameButtonClicked();
    finishRun(c);
    ASSERT_TRUE(completed);
    EXPECT_TRUE(alertText.isNull()) << alertText.toStdString();
    EXPECT_EQ(checksum(dir.filePath("Photo_1.jpg")), first);
    EXPECT_EQ(checksum(dir.filePath("Photo_3.jpg")),
              QCryptographicHash::hash("another program's Photo_3.jpg", QCryptographicHash::Sha256));
    EXPECT_EQ(checksum(dir.filePath("Photo_2.jpg")), a);
    EXPECT_EQ(checksum(dir.filePath("Photo_4.jpg")), b);
    EXPECT_EQ(checksum(dir.filePath("Photo_5.jpg")), c3);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->value(files[1]).path(), dir.filePath("Photo_4.jpg"));
}

} // namespace
