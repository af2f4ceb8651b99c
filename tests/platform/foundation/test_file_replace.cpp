// Replacing a file's contents: the new bytes arrive whole or not at all. Every failure (full disk,
// read-only file or folder, a missing folder, a caller that backs out at the last moment) leaves the
// old file byte for byte as it was and no temporary file behind; what the old file was (its mode,
// a link to it) carries over to the new one.
#include "../../support/FaultInjection.h"

#include "foundation/FileReplace.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

using namespace kpv;
using namespace kpv::test;

namespace {

class FileReplaceTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString file(const QString& name = QStringLiteral("data.txt")) const { return dir.filePath(name); }
    static void put(const QString& path, const QByteArray& bytes, int mode = 0644)
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(f.write(bytes), bytes.size());
        f.close();
        ::chmod(QFile::encodeName(path).constData(), mode_t(mode));
    }
    static QByteArray read(const QString& path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("missing");
    }
    static unsigned modeOf(const QString& path)
    {
        struct stat st {};
        return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 0777 : 0u;
    }
};

TEST_F(FileReplaceTest, NewAndReplacedFilesHoldExactlyTheBytesWithTheRightMode)
{
    const QByteArray bytes("line one\n\0binary\xff", 17);
    QString error;
    ASSERT_TRUE(replaceFileContents(file(), bytes, {}, &error)) << error.toStdString();
    EXPECT_EQ(read(file()), bytes);
    const mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(modeOf(file()), 0666u & ~unsigned(mask));

    // A replaced file keeps the mode the user gave it; a shorter content leaves no old tail.
    ::chmod(QFile::encodeName(file()).constData(), 0640);
    ASSERT_TRUE(replaceFileContents(file(), "short", {}, &error)) << error.toStdString();
    EXPECT_EQ(read(file()), "short");
    EXPECT_EQ(modeOf(file()), 0640u);

    // A private file is private even when the old one was not; an empty content is a content.
    FileReplaceOptions privately;
    privately.mode = 0600;
    ASSERT_TRUE(replaceFileContents(file(), QByteArray(), privately, &error)) << error.toStdString();
    EXPECT_EQ(read(file()), QByteArray());
    EXPECT_EQ(modeOf(file()), 0600u);
    EXPECT_EQ(entriesOf(dir.path()), QStringList{"data.txt"});
}

TEST_F(FileReplaceTest, FullDiskLeavesTheOldFileAndNoTemporary)
{
    ASSERT_NO_FATAL_FAILURE(put(file(), QByteArray(100, 'o')));
    const QByteArray before = checksum(file());
    // Larger than the limit, and past the size a buffered writer would hold back until its flush.
    const QByteArray big(256 * 1024, 'n');
    for (const rlim_t limit : {rlim_t(0), rlim_t(64), rlim_t(100 * 1024)}) {
        QString error;
        {
            FileSizeLimit full(limit);
            EXPECT_FALSE(replaceFileContents(file(), big, {}, &error)) << limit;
        }
        EXPECT_TRUE(error.contains(file())) << error.toStdString();
        EXPECT_TRUE(error.contains(QStringLiteral("larger than this disk allows"))) << error.toStdString();
        EXPECT_EQ(checksum(file()), before) << limit;
        EXPECT_EQ(entriesOf(dir.path()), QStringList{"data.txt"}) << limit;
    }
}

TEST_F(FileReplaceTest, RealFullDiskSaysSoAndKeepsTheOldFile)
{
    const QString mountPoint = file("small");
    ASSERT_TRUE(QDir().mkpath(mountPoint));
    KPV_EXPECT_CHILD_PASSED(runWithOwnMounts([&] {
        SmallTmpfs tmpfs(mountPoint, 64);
        ASSERT_TRUE(tmpfs.isMounted());
        const QString path = mountPoint + QStringLiteral("/data.txt");
        ASSERT_NO_FATAL_FAILURE(put(path, "the old contents"));
        ASSERT_NO_FATAL_FAILURE(put(mountPoint + QStringLiteral("/filler"), QByteArray(56 * 1024, 'f')));
        const QByteArray before = checksum(path);
        QString error;
        EXPECT_FALSE(replaceFileContents(path, QByteArray(32 * 1024, 'n'), {}, &error));
        EXPECT_TRUE(error.contains(QStringLiteral("the disk is full"))) << error.toStdString();
        EXPECT_EQ(checksum(path), before);
        EXPECT_EQ(entriesOf(mountPoint), (QStringList{"data.txt", "filler"}));
    }), "no right to mount a tmpfs here; the file-size limit case covers a full disk");
}

TEST_F(FileReplaceTest, ReadOnlyFilesAndFoldersAndMissingFoldersAreRefused)
{
    NoPermissionOverride asUser;
    QString error;

    ASSERT_NO_FATAL_FAILURE(put(file("kept.txt"), "mine", 0444));
    const QByteArray kept = checksum(file("kept.txt"));
    EXPECT_FALSE(replaceFileContents(file("kept.txt"), "theirs", {}, &error));
    EXPECT_EQ(error, file("kept.txt") + QStringLiteral(" is read-only"));
    EXPECT_EQ(checksum(file("kept.txt")), kept);

    const QString locked = file("locked");
    ASSERT_TRUE(QDir().mkpath(locked));
    ASSERT_NO_FATAL_FAILURE(put(locked + QStringLiteral("/data.txt"), "inside"));
    const QByteArray inside = checksum(locked + QStringLiteral("/data.txt"));
    ::chmod(QFile::encodeName(locked).constData(), 0555);
    error.clear();
    EXPECT_FALSE(replaceFileContents(locked + QStringLiteral("/data.txt"), "new", {}, &error));
    EXPECT_TRUE(error.startsWith(QStringLiteral("cannot write ") + locked)) << error.toStdString();
    ::chmod(QFile::encodeName(locked).constData(), 0755);
    EXPECT_EQ(checksum(locked + QStringLiteral("/data.txt")), inside);
    EXPECT_EQ(entriesOf(locked), QStringList{"data.txt"});

    error.clear();
    EXPECT_FALSE(replaceFileContents(file("no/such/folder/data.txt"), "x", {}, &error));
    EXPECT_FALSE(error.isEmpty());
    error.clear();
    EXPECT_FALSE(replaceFileContents(locked, "a folder is not a file", {}, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("not a regular file"))) << error.toStdString();
    EXPECT_FALSE(replaceFileContents(QString(), "x", {}, &error));
}

TEST_F(FileReplaceTest, ACallerBackingOutBeforeTheRenameLeavesEverythingAsItWas)
{
    ASSERT_NO_FATAL_FAILURE(put(file(), "old"));
    const QByteArray before = checksum(file());
    QString seen;
    FileReplaceOptions options;
    options.mode = 0600;
    options.beforeRename = [&](const QString& temp, QString* error) {
        seen = temp;
        // The new file is whole, private and beside the target before it replaces anything.
        EXPECT_EQ(read(temp), "new contents");
        EXPECT_EQ(modeOf(temp), 0600u);
        EXPECT_EQ(QFileInfo(temp).absolutePath(), QFileInfo(file()).absolutePath());
        *error = QStringLiteral("changed meanwhile");
        return false;
    };
    QString error;
    EXPECT_FALSE(replaceFileContents(file(), "new contents", options, &error));
    EXPECT_EQ(error, QStringLiteral("changed meanwhile"));
    EXPECT_FALSE(seen.isEmpty());
    EXPECT_EQ(checksum(file()), before);
    EXPECT_EQ(entriesOf(dir.path()), QStringList{"data.txt"});
}

TEST_F(FileReplaceTest, LinksStayLinksAndLongNamesStillFindATemporaryName)
{
    ASSERT_TRUE(QDir().mkpath(file("real")));
    ASSERT_NO_FATAL_FAILURE(put(file("real/data.txt"), "old", 0640));
    ASSERT_TRUE(QFile::link(QStringLiteral("real/data.txt"), file("link.txt")));
    ASSERT_TRUE(QFile::link(file("link.txt"), file("link-to-link.txt")));
    QString error;
    ASSERT_TRUE(replaceFileContents(file("link-to-link.txt"), "through the links", {}, &error)) << error.toStdString();
    EXPECT_TRUE(QFileInfo(file("link-to-link.txt")).isSymLink());
    EXPECT_TRUE(QFileInfo(file("link.txt")).isSymLink());
    EXPECT_EQ(read(file("real/data.txt")), "through the links");
    EXPECT_EQ(modeOf(file("real/data.txt")), 0640u);
    EXPECT_EQ(entriesOf(file("real")), QStringList{"data.txt"});

    // A dangling link makes the file it names.
    ASSERT_TRUE(QFile::link(QStringLiteral("real/later.txt"), file("dangling.txt")));
    ASSERT_TRUE(replaceFileContents(file("dangling.txt"), "made", {}, &error)) << error.toStdString();
    EXPECT_EQ(read(file("real/later.txt")), "made");

    // A name of 255 bytes, with a multi-byte character across the point where the stem is cut.
    const QString longName = QString(199, u'a') + QStringLiteral("\u00e9") + QString(54, u'b');
    ASSERT_EQ(QFile::encodeName(longName).size(), 255);
    ASSERT_TRUE(replaceFileContents(file(longName), "first", {}, &error)) << error.toStdString();
    ASSERT_TRUE(replaceFileContents(file(longName), "second", {}, &error)) << error.toStdString();
    EXPECT_EQ(read(file(longName)), "second");
}

} // namespace

TEST_F(FileReplaceTest, ASharedPhotoKeepsItsGroupModeAndAttributesWhenAGroupMemberSavesIt)
{
    ASSERT_NO_FATAL_FAILURE(put(file(), "old", 0664));
    const QByteArray native = QFile::encodeName(file());
    if (::setxattr(native.constData(), "user.xdg.tags", "harbour", 7, 0) != 0)
        GTEST_SKIP() << "this file system keeps no extended attributes";
    // An access list giving user 2003 write access (version 2; entries of tag, permissions, id):
    // owner rw, user 2003 rw, group rw, mask rw, others r.
    const auto entry = [](quint16 tag, quint16 perm, quint32 id) {
        QByteArray e(8, '\0');
        std::memcpy(e.data(), &tag, 2);
        std::memcpy(e.data() + 2, &perm, 2);
        std::memcpy(e.data() + 4, &id, 4);
        return e;
    };
    const quint32 version = 2;
    QByteArray acl(reinterpret_cast<const char*>(&version), 4);
    acl += entry(0x01, 6, quint32(-1)) + entry(0x02, 6, 2003) + entry(0x04, 6, quint32(-1)) +
           entry(0x10, 6, quint32(-1)) + entry(0x20, 4, quint32(-1));
    const bool hasAcl = ::setxattr(native.constData(), "system.posix_acl_access", acl.constData(), size_t(acl.size()), 0) == 0;
    // Saved by its owner: the tags and the access list stay.
    ASSERT_TRUE(replaceFileContents(file(), "mine"));
    EXPECT_EQ(::getxattr(native.constData(), "user.xdg.tags", nullptr, 0), 7);
    if (hasAcl) {
        QByteArray back(256, '\0');
        const ssize_t n = ::getxattr(native.constData(), "system.posix_acl_access", back.data(), size_t(back.size()));
        EXPECT_EQ(back.left(qsizetype(std::max<ssize_t>(n, 0))), acl) << "the access list was dropped";
    }
    if (::geteuid() != 0)
        GTEST_SKIP() << "only root can hand the file to another owner for this case";
    // Owned by 2001, shared with group 3000; saved by 2002, a member of 3000 but not its owner.
    ASSERT_EQ(::chown(native.constData(), 2001, 3000), 0);
    ::chmod(QFile::encodeName(dir.path()).constData(), 0777);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const gid_t groups[] = {3000};
        const bool ok = ::setgroups(1, groups) == 0 && ::setgid(2002) == 0 && ::setuid(2002) == 0 &&
                        replaceFileContents(file(), "new");
        ::_exit(ok ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(read(file()), "new");
    struct stat st {};
    ASSERT_EQ(::stat(native.constData(), &st), 0);
    EXPECT_EQ(st.st_gid, 3000u);
    EXPECT_EQ(st.st_mode & 0777, 0664u);
    char tags[32] = {};
    EXPECT_EQ(::getxattr(native.constData(), "user.xdg.tags", tags, sizeof tags), 7);
    EXPECT_STREQ(tags, "harbour");
}

TEST_F(FileReplaceTest, ANewFileNeverReplacesANameThatAppearedMeanwhile)
{
    FileReplaceOptions fresh;
    bool taken = false;
    fresh.createOnly = true;
    fresh.nameTaken = &taken;
    // Another writer takes the name while our bytes are being written.
    fresh.beforeRename = [&](const QString&, QString*) {
        put(file(), "theirs");
        return true;
    };
    QString error;
    EXPECT_FALSE(replaceFileContents(file(), "ours", fresh, &error));
    EXPECT_TRUE(taken);
    EXPECT_EQ(read(file()), "theirs");
    EXPECT_EQ(entriesOf(dir.path()), QStringList{"data.txt"});

    // A name taken before is refused at once; a free one is written.
    fresh.beforeRename = nullptr;
    EXPECT_FALSE(replaceFileContents(file(), "ours", fresh, &error));
    EXPECT_TRUE(taken);
    ASSERT_TRUE(replaceFileContents(file("free.txt"), "ours", fresh, &error)) << error.toStdString();
    EXPECT_FALSE(taken);
    EXPECT_EQ(read(file("free.txt")), "ours");
}
