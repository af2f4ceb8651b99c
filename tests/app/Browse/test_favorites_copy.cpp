// Copying favourites into a folder: free names, never overwriting, serial order, cancel, and
// failures told once.
#include "browse_support.h"

#include "Browse/FavFileCopyProcessController.h"
#include "Kit/LMCustomWindow.h"
#include "appkit/Application.h"
#include "appkit/Event.h"
#include "appkit/Window.h"

#include "foundation/FileNames.h"
#include "foundation/FileReplace.h"
#include "foundation/RunLoop.h"

#include "../../support/FaultInjection.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

LMPathString P(const QString& s)
{
    return LMPathString(s, false);
}

void writeText(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void waitForCopy(FavFileCopyProcessController& c)
{
    kpv::RunLoop::main().runWhile([&] { return c.isCopyingFiles(); });
}

TEST(FavoritesCopy, FreeNamesNeverOverwrite)
{
    QTemporaryDir src, dst;
    ASSERT_NO_FATAL_FAILURE(writeText(src.filePath("a.jpg"), "new-a"));
    ASSERT_NO_FATAL_FAILURE(writeText(src.filePath("b_3.jpg"), "new-b"));
    ASSERT_NO_FATAL_FAILURE(writeText(dst.filePath("a.jpg"), "old-a"));
    ASSERT_NO_FATAL_FAILURE(writeText(dst.filePath("a_1.jpg"), "old-a1"));
    ASSERT_NO_FATAL_FAILURE(writeText(dst.filePath("b_3.jpg"), "old-b"));

    EXPECT_EQ(FavFileCopyProcessController::copyFile(P(src.filePath("a.jpg")), dst.path()), dst.filePath("a_2.jpg"));
    EXPECT_EQ(FavFileCopyProcessController::copyFile(P(src.filePath("b_3.jpg")), dst.path()), dst.filePath("b_4.jpg"));
    EXPECT_EQ(readAll(dst.filePath("a.jpg")), "old-a");
    EXPECT_EQ(readAll(dst.filePath("a_1.jpg")), "old-a1");
    EXPECT_EQ(readAll(dst.filePath("a_2.jpg")), "new-a");
    EXPECT_EQ(readAll(dst.filePath("b_4.jpg")), "new-b");
    EXPECT_TRUE(FavFileCopyProcessController::copyFile(P(src.filePath("missing.jpg")), dst.path()).isEmpty());

    // Names that are not UTF-8 (Latin-1, a cut sequence) are copied by their bytes, under a free
    // name too; a pipe named like a photo is refused rather than waited on.
    for (const QByteArray& name : {QByteArray("caf\xe9.jpg"), QByteArray("x\xc3(y.jpg")}) {
        const QByteArray from = QFile::encodeName(src.path()) + "/" + name;
        const QByteArray taken = QFile::encodeName(dst.path()) + "/" + name;
        for (const QByteArray& path : {from, taken}) {
            FILE* f = std::fopen(path.constData(), "wb");
            ASSERT_TRUE(f);
            std::fputs(path == from ? "new" : "old", f);
            std::fclose(f);
        }
        const QString copy = FavFileCopyProcessController::copyFile(P(kpv::decodeFileName(from)), dst.path());
        const QByteArray stem = name.left(name.size() - 4);
        EXPECT_EQ(kpv::encodeFileName(copy), QFile::encodeName(dst.path()) + "/" + stem + "_1.jpg");
        const auto bytesOf = [](const QByteArray& path) {
            char text[8] = {};
            if (FILE* f = std::fopen(path.constData(), "rb")) {
                (void)!std::fread(text, 1, sizeof text - 1, f);
                std::fclose(f);
            }
            return std::string(text);
        };
        EXPECT_EQ(bytesOf(kpv::encodeFileName(copy)), "new");
        EXPECT_EQ(bytesOf(taken), "old");
        for (const QByteArray& path : {from, taken, kpv::encodeFileName(copy)})
            ::unlink(path.constData());
    }
    ASSERT_EQ(::mkfifo(QFile::encodeName(src.filePath("pipe.jpg")).constData(), 0600), 0);
    EXPECT_TRUE(FavFileCopyProcessController::copyFile(P(src.filePath("pipe.jpg")), dst.path()).isEmpty());
    EXPECT_FALSE(QFileInfo::exists(dst.filePath("pipe.jpg")));
}

TEST(FavoritesCopy, RunCopiesAllCreatesFolderAndReportsFailuresOnce)
{
    QTemporaryDir src, dst;
    QList<LMPathString> files;
    for (int i = 0; i < 5; ++i) {
        const QString p = src.filePath(QStringLiteral("f%1.jpg").arg(i));
        ASSERT_NO_FATAL_FAILURE(writeText(p, QByteArray::number(i)));
        files.append(P(p));
    }
    files.insert(2, P(src.filePath("deleted-meanwhile.jpg")));
    // A pipe named like a photo: refused at once, never waited on.
    ASSERT_EQ(::mkfifo(QFile::encodeName(src.filePath("stuck.jpg")).constData(), 0644), 0);
    files.append(P(src.filePath("stuck.jpg")));
    const QString target = dst.filePath("new/inner");

    FavFileCopyProcessController c;
    std::vector<QString> reports;
    c.setReportBlock([&](const QString& m) { reports.push_back(m); });
    ASSERT_TRUE(c.beginCopyFiles(files, target, nullptr));
    EXPECT_TRUE(c.isCopyingFiles());
    EXPECT_FALSE(c.beginCopyFiles(files, target, nullptr)) << "one copy at a time";
    waitForCopy(c);
    EXPECT_EQ(c.finishCount(), 7);
    EXPECT_EQ(c.progressText(), QStringLiteral("7/7"));
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(readAll(QDir(target).filePath(QStringLiteral("f%1.jpg").arg(i))), QByteArray::number(i));
    ASSERT_EQ(c.failedFiles().size(), 2);
    ASSERT_EQ(reports.size(), 1u) << "failures are told once, at the end";
    // Each by name, with why.
    const QString report = reports[0];
    EXPECT_TRUE(report.startsWith(QLatin1String("2 files could not be copied."))) << report.toStdString();
    EXPECT_TRUE(report.contains(QLatin1String("deleted-meanwhile.jpg: "))) << report.toStdString();
    EXPECT_TRUE(report.contains(QLatin1String("stuck.jpg: "))) << report.toStdString();
    EXPECT_TRUE(report.contains(QLatin1String("not a regular file"))) << report.toStdString();
    EXPECT_TRUE(report.endsWith(QLatin1String("The originals are unchanged."))) << report.toStdString();
    EXPECT_EQ(QDir(target).entryList(QDir::Files | QDir::Hidden | QDir::System).size(), 5);
}

TEST(FavoritesCopy, ACopyIsNoMoreOpenToOthersThanItsPhoto)
{
    QTemporaryDir src, dst;
    const QString privatePhoto = src.filePath("private.jpg");
    const QString sharedPhoto = src.filePath("shared.jpg");
    const QString readOnlyPhoto = src.filePath("kept.jpg");
    ASSERT_NO_FATAL_FAILURE(writeText(privatePhoto, "p"));
    ASSERT_NO_FATAL_FAILURE(writeText(sharedPhoto, "s"));
    ASSERT_NO_FATAL_FAILURE(writeText(readOnlyPhoto, "k"));
    ASSERT_EQ(::chmod(QFile::encodeName(privatePhoto).constData(), 0600), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(sharedPhoto).constData(), 0664), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(readOnlyPhoto).constData(), 0444), 0);
    const mode_t oldMask = ::umask(022);
    FavFileCopyProcessController c;
    ASSERT_TRUE(c.beginCopyFiles({P(privatePhoto), P(sharedPhoto), P(readOnlyPhoto)}, dst.path(), nullptr));
    waitForCopy(c);
    ::umask(oldMask);
    const auto modeOf = [](const QString& path) {
        struct stat st {};
        return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 0777) : -1;
    };
    // A photo others may not read gives a copy they may not read either; the user's mask still holds.
    EXPECT_EQ(modeOf(dst.filePath("private.jpg")), 0600);
    EXPECT_EQ(modeOf(dst.filePath("shared.jpg")), 0644);
    EXPECT_EQ(modeOf(dst.filePath("kept.jpg")), 0444);
    EXPECT_EQ(readAll(dst.filePath("private.jpg")), "p");
}

TEST(FavoritesCopy, CopiesIntoAFolderThatStoresNoTagsAreToldWithoutThem)
{
    QTemporaryDir src, dst;
    const QString photo = src.filePath("harbour.jpg");
    ASSERT_NO_FATAL_FAILURE(writeText(photo, "h"));
    const QByteArray native = QFile::encodeName(photo);
    if (::setxattr(native.constData(), "user.xdg.tags", "harbour", 7, 0) != 0)
        GTEST_SKIP() << "this file system stores no tags";
    const QByteArray sum = kpv::test::checksum(photo);
    // A stick that stores no tags: the copy is made, and the user hears what it lacks.
    kpv::setAttributeSetterForTesting([](int, const char*, const void*, size_t, int) {
        errno = EOPNOTSUPP;
        return -1;
    });
    FavFileCopyProcessController c;
    std::vector<QString> reports;
    c.setReportBlock([&](const QString& m) { reports.push_back(m); });
    ASSERT_TRUE(c.beginCopyFiles({P(photo)}, dst.path(), nullptr));
    waitForCopy(c);
    kpv::setAttributeSetterForTesting(nullptr);
    EXPECT_EQ(readAll(dst.filePath("harbour.jpg")), "h");
    EXPECT_TRUE(c.failedFiles().isEmpty());
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_TRUE(reports[0].startsWith(QLatin1String("Some copies were made without their tags and comments.\n")))
        << reports[0].toStdString();
    EXPECT_TRUE(reports[0].contains(QLatin1String("harbour.jpg: its tags and comments could not be kept there")))
        << reports[0].toStdString();
    EXPECT_TRUE(reports[0].endsWith(QLatin1String("The originals are unchanged."))) << reports[0].toStdString();
    EXPECT_EQ(kpv::test::checksum(photo), sum);
    char tags[16] = {};
    EXPECT_EQ(::getxattr(native.constData(), "user.xdg.tags", tags, sizeof tags), 7);

    // Where tags are kept, nothing is told.
    reports.clear();
    ASSERT_TRUE(c.beginCopyFiles({P(photo)}, dst.path(), nullptr));
    waitForCopy(c);
    EXPECT_TRUE(reports.empty());
}

TEST(FavoritesCopy, AFolderWithNoRoomLeftStopsTheCopyAtTheFirstFile)
{
    QTemporaryDir src, dst;
    const QString disk = dst.filePath("disk");
    ASSERT_TRUE(QDir().mkpath(disk));
    kpv::test::SmallTmpfs tmpfs(disk, 64);
    if (!tmpfs.isMounted())
        GTEST_SKIP() << "no right to mount a tmpfs here";
    QList<LMPathString> files;
    QList<QByteArray> sums;
    for (int i = 0; i < 4; ++i) {
        const QString p = src.filePath(QStringLiteral("f%1.jpg").arg(i));
        ASSERT_NO_FATAL_FAILURE(writeText(p, QByteArray(40 * 1024, char('a' + i))));
        files.append(P(p));
        sums.append(kpv::test::checksum(p));
    }
    FavFileCopyProcessController c;
    std::vector<QString> reports;
    c.setReportBlock([&](const QString& m) { reports.push_back(m); });
    ASSERT_TRUE(c.beginCopyFiles(files, disk, nullptr));
    waitForCopy(c);
    // The first fits, the second finds the disk full: the two after it are not tried.
    ASSERT_EQ(reports.size(), 1u);
    const QString report = reports[0];
    // The copy that did not fit is told as a write that failed, not as a photo that cannot be read.
    EXPECT_TRUE(report.contains(QLatin1String("f1.jpg: cannot write ") + QDir(disk).filePath("f1.jpg")))
        << report.toStdString();
    EXPECT_TRUE(report.contains(QLatin1String("2 more file(s) were not tried"))) << report.toStdString();
    EXPECT_EQ(c.failedFiles(), QStringList{files[1].path()});
    EXPECT_EQ(kpv::test::entriesOf(disk), QStringList{"f0.jpg"});
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(kpv::test::checksum(files[i].path()), sums[i]);

    // The last (here the only) file finding no room leaves nothing untried to count.
    reports.clear();
    ASSERT_TRUE(c.beginCopyFiles({files[3]}, disk, nullptr));
    waitForCopy(c);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_TRUE(reports[0].startsWith(QLatin1String("1 file could not be copied.\n"))) << reports[0].toStdString();
    EXPECT_TRUE(reports[0].contains(QLatin1String("The destination has no room left.\n"))) << reports[0].toStdString();
    EXPECT_FALSE(reports[0].contains(QLatin1String("not tried"))) << reports[0].toStdString();
}

TEST(FavoritesCopy, BadTargetsAreRefusedAndReported)
{
    QTemporaryDir src, dst;
    ASSERT_NO_FATAL_FAILURE(writeText(src.filePath("a.jpg"), "a"));
    ASSERT_NO_FATAL_FAILURE(writeText(dst.filePath("plainfile"), "x"));
    FavFileCopyProcessController c;
    std::vector<QString> reports;
    c.setReportBlock([&](const QString& m) { reports.push_back(m); });
    EXPECT_FALSE(c.beginCopyFiles({P(src.filePath("a.jpg"))}, dst.filePath("plainfile"), nullptr));
    EXPECT_EQ(reports.size(), 1u);
    EXPECT_FALSE(c.beginCopyFiles({}, dst.path(), nullptr));
    EXPECT_FALSE(c.beginCopyFiles({P(src.filePath("a.jpg"))}, QString(), nullptr));
    EXPECT_FALSE(c.isCopyingFiles());
}

TEST(FavoritesCopy, CancelKeepsWhatWasCopiedAndStops)
{
    QTemporaryDir src, dst;
    QList<LMPathString> files;
    for (int i = 0; i < 50; ++i) {
        const QString p = src.filePath(QStringLiteral("f%1.jpg").arg(i));
        ASSERT_NO_FATAL_FAILURE(writeText(p, QByteArray(1024, char('a' + i % 26))));
        files.append(P(p));
    }
    FavFileCopyProcessController c;
    ASSERT_TRUE(c.beginCopyFiles(files, dst.path(), nullptr));
    c.cancelButtonClicked();
    EXPECT_FALSE(c.isCopyingFiles());
    const int copied = int(QDir(dst.path()).entryList(QDir::Files).size());
    drainMainRunLoop(); // late results of the cancelled run change nothing
    EXPECT_EQ(int(QDir(dst.path()).entryList(QDir::Files).size()), copied);
    EXPECT_LE(copied, 50);
    EXPECT_EQ(c.finishCount() <= copied, true);
}

// Cancel while a large photo is being copied stops that copy where it is instead of keeping the
// window waiting for the rest of it, and leaves no part of it in the folder.
TEST(FavoritesCopy, CancelStopsALargeCopyUnderWayAndLeavesNothingOfIt)
{
    QTemporaryDir src, dst;
    const QString big = src.filePath(QStringLiteral("panorama.tif"));
    QByteArray bytes(8 << 20, '\0');
    for (qsizetype i = 0; i < bytes.size(); i += 4096)
        bytes[i] = char(i >> 12);
    ASSERT_NO_FATAL_FAILURE(writeText(big, bytes));
    const QByteArray before = kpv::test::checksum(big);

    // The worker's copy is asked to stop after its second piece.
    int asked = 0;
    QString error;
    EXPECT_TRUE(FavFileCopyProcessController::copyFile(P(big), dst.path(), &error, nullptr, [&] { return ++asked > 2; })
                    .isEmpty());
    EXPECT_EQ(asked, 3) << "the copy stopped at the first piece after the cancel";
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(kpv::test::entriesOf(dst.path()), QStringList()) << "no part of the stopped copy is left";
    EXPECT_EQ(kpv::test::checksum(big), before);

    // Through the sheet's Cancel: whatever the folder holds afterwards is whole.
    const QString small = src.filePath(QStringLiteral("a.jpg"));
    ASSERT_NO_FATAL_FAILURE(writeText(small, QByteArray(1024, 'a')));
    FavFileCopyProcessController c;
    ASSERT_TRUE(c.beginCopyFiles({P(big), P(small)}, dst.path(), nullptr));
    c.cancelButtonClicked();
    EXPECT_FALSE(c.isCopyingFiles());
    drainMainRunLoop();
    for (const QString& name : kpv::test::entriesOf(dst.path()))
        EXPECT_EQ(kpv::test::checksum(dst.filePath(name)),
                  kpv::test::checksum(src.filePath(name)))
            << name.toStdString();
    EXPECT_EQ(kpv::test::checksum(big), before);
}

} // namespace

// Esc on the progress sheet stops the copy as Cancel does.
TEST(FavoritesCopy, EscOnTheProgressSheetCancels)
{
    QTemporaryDir src, dst;
    ASSERT_NO_FATAL_FAILURE(writeText(src.filePath("a.jpg"), QByteArray(1024, 'a')));
    const QList<LMPathString> files(50, P(src.filePath("a.jpg")));
    kpv::Window parent(kpv::Rect(0, 0, 600, 400), kpv::TitledWindowMask);
    FavFileCopyProcessController c;
    ASSERT_TRUE(c.beginCopyFiles(files, dst.path(), &parent));
    kpv::Application::shared().sendEvent(
        kpv::Event::keyEvent(kpv::KeyDown, kpv::KeyCode::Escape, "\x1b", "\x1b", c.fileCopyProgressWindow()));
    EXPECT_FALSE(c.isCopyingFiles());
    EXPECT_FALSE(c.fileCopyProgressWindow()->sheetRunning());
    waitForCopy(c);
}

TEST(FavoritesCopy, TheProgressSheetPaintsItsOwnPanel)
{
    QTemporaryDir src, dst;
    ASSERT_NO_FATAL_FAILURE(writeText(src.filePath("a.jpg"), "a"));
    kpv::Window parent(kpv::Rect(0, 0, 600, 400), kpv::TitledWindowMask);
    FavFileCopyProcessController c;
    ASSERT_TRUE(c.beginCopyFiles({P(src.filePath("a.jpg"))}, dst.path(), &parent));
    LMCustomWindow* sheet = c.fileCopyProgressWindow();
    ASSERT_NE(sheet, nullptr);
    // See-through, the window would show its texts on the photo beneath, or on nothing at all
    // where no compositing manager runs.
    const QImage shot = sheet->contentView()->renderToImage(1.0);
    for (const QPoint p : {QPoint(10, shot.height() / 2), QPoint(shot.width() / 2, 4)})
        EXPECT_GT(qAlpha(shot.pixel(p)), 200) << p.x() << "," << p.y();
    waitForCopy(c);
}
