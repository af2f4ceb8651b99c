// Moving to the trash: the photo lands where a file manager finds and restores it, the record is
// written before the move, and every failure leaves the photo where it was, unchanged, with a
// message that says why.

#include "../../support/FaultInjection.h"

#include "desktop/Trash.h"
#include "foundation/FileNames.h"
#include "desktop/WorkspaceServices.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using kpv::Trash;
using namespace kpv::test;

bool existsNative(const QByteArray& path)
{
    struct stat st {};
    return ::lstat(path.constData(), &st) == 0;
}

QByteArray makeFileNative(const QByteArray& path, const QByteArray& content)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    EXPECT_GE(fd, 0) << path.constData();
    EXPECT_EQ(::write(fd, content.constData(), size_t(content.size())), content.size());
    ::close(fd);
    return path;
}

QByteArray readNative(const QByteArray& path)
{
    const int fd = ::open(path.constData(), O_RDONLY);
    if (fd < 0)
        return "missing";
    QByteArray out;
    char buffer[4096];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;)
        out.append(buffer, n);
    ::close(fd);
    return out;
}

// What a file manager does to restore: the info file's Path, decoded, relative to `top` when the
// trash belongs to a volume.
QByteArray restore(const Trash::Result& r, const QByteArray& top = {})
{
    const QList<QByteArray> lines = readNative(r.nativeInfoPath).split('\n');
    EXPECT_EQ(lines.value(0), "[Trash Info]");
    QByteArray path;
    bool dated = false;
    for (const QByteArray& line : lines) {
        if (line.startsWith("Path="))
            path = QByteArray::fromPercentEncoding(line.mid(5));
        dated = dated || (line.startsWith("DeletionDate=") && line.size() == 13 + 19);
    }
    EXPECT_TRUE(dated);
    if (!top.isEmpty())
        path = top + "/" + path;
    EXPECT_EQ(::rename(r.nativeTrashedPath.constData(), path.constData()), 0);
    ::unlink(r.nativeInfoPath.constData());
    return path;
}

class TrashTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(home.isValid() && photos.isValid());
        qputenv("HOME", QFile::encodeName(home.path()));
        qunsetenv("XDG_DATA_HOME");
        trash = QFile::encodeName(home.path()) + "/.local/share/Trash";
        ASSERT_EQ(Trash::homeTrashDirectory(), trash);
    }
    void TearDown() override
    {
        savedHome.isEmpty() ? qunsetenv("HOME") : qputenv("HOME", savedHome);
        savedData.isEmpty() ? qunsetenv("XDG_DATA_HOME") : qputenv("XDG_DATA_HOME", savedData);
    }
    QByteArray photo(const QByteArray& name, const QByteArray& content = "pixels of a photo")
    {
        return makeFileNative(QFile::encodeName(photos.path()) + "/" + name, content);
    }
    QByteArray savedHome = qgetenv("HOME");
    QByteArray savedData = qgetenv("XDG_DATA_HOME");
    QTemporaryDir home, photos;
    QByteArray trash;
};

TEST_F(TrashTest, HomeTrashIsMadeAsNeededAndTheFileComesBackIntact)
{
    ASSERT_FALSE(existsNative(QFile::encodeName(home.path()) + "/.local"));
    const QByteArray path = photo("holiday 1.jpg");
    const QByteArray sum = checksum(QFile::decodeName(path));
    const QByteArray cwdBefore = QDir::currentPath().toLocal8Bit();

    const Trash::Result r = Trash::moveToTrash(path);
    ASSERT_TRUE(r.ok) << r.error.toStdString();
    EXPECT_FALSE(existsNative(path));
    EXPECT_EQ(QFile::encodeName(r.trashedPath), trash + "/files/holiday 1.jpg");
    EXPECT_EQ(QFile::encodeName(r.infoPath), trash + "/info/holiday 1.jpg.trashinfo");
    EXPECT_FALSE(QFileInfo::exists(QStringLiteral("files/holiday 1.jpg"))) << "never relative to the start folder";
    struct stat st {};
    ASSERT_EQ(::stat(trash.constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    // A second file of the same name gets another entry.
    const QByteArray again = photo("holiday 1.jpg", "another photo");
    const Trash::Result second = Trash::moveToTrash(again);
    ASSERT_TRUE(second.ok);
    EXPECT_EQ(QFile::encodeName(second.trashedPath), trash + "/files/holiday 1.jpg 2");

    EXPECT_EQ(restore(r), path);
    EXPECT_EQ(checksum(QFile::decodeName(path)), sum);
    (void)cwdBefore;
}

TEST_F(TrashTest, OddAndVeryLongNamesGoAndComeBack)
{
    const QByteArray latin1 = photo("caf\xe9 \xff.jpg");  // not UTF-8
    const Trash::Result odd = Trash::moveToTrash(latin1);
    ASSERT_TRUE(odd.ok) << odd.error.toStdString();
    EXPECT_FALSE(existsNative(latin1));
    EXPECT_EQ(restore(odd), latin1);
    EXPECT_TRUE(existsNative(latin1));
    // The name as the program holds it (from a folder listing or the command line) reaches it too.
    const Trash::Result asListed = Trash::moveToTrash(kpv::decodeFileName(latin1));
    ASSERT_TRUE(asListed.ok) << asListed.error.toStdString();
    EXPECT_FALSE(existsNative(latin1));

    const QByteArray longName = QByteArray(120, 'a') + QByteArray("\xc3\xa9").repeated(60) + ".jpeg";  // 245 bytes
    const QByteArray path = photo(longName);
    const Trash::Result r = Trash::moveToTrash(path);
    ASSERT_TRUE(r.ok) << r.error.toStdString();
    EXPECT_FALSE(existsNative(path)) << "reported trashed but stays";
    const QByteArray entry = r.nativeInfoPath.mid(r.nativeInfoPath.lastIndexOf('/') + 1);
    EXPECT_LE(entry.size(), 255);
    EXPECT_TRUE(entry.endsWith(".jpeg.trashinfo"));
    EXPECT_TRUE(QString::fromUtf8(entry).toUtf8() == entry) << "cut inside a character";
    EXPECT_EQ(restore(r), path);
}

TEST_F(TrashTest, FullDiskWritesNoEmptyRecordAndKeepsThePhoto)
{
    const QByteArray path = photo("full.jpg");
    const QByteArray sum = checksum(QFile::decodeName(path));
    ASSERT_TRUE(Trash::moveToTrash(photo("warm-up.jpg")).ok);  // the trash folders exist now
    Trash::Result r;
    {
        FileSizeLimit full(8);
        r = Trash::moveToTrash(path);
    }
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.error.contains("full.jpg")) << r.error.toStdString();
    EXPECT_EQ(checksum(QFile::decodeName(path)), sum);
    EXPECT_EQ(entriesOf(QFile::decodeName(trash + "/info")), QStringList{"warm-up.jpg.trashinfo"});
    EXPECT_EQ(entriesOf(QFile::decodeName(trash + "/files")), QStringList{"warm-up.jpg"});
}

TEST_F(TrashTest, ReadOnlyFolderReportsAndLeavesNoRecord)
{
    NoPermissionOverride asUser;
    const QByteArray locked = QFile::encodeName(photos.path()) + "/locked";
    ASSERT_EQ(::mkdir(locked.constData(), 0755), 0);
    const QByteArray path = makeFileNative(locked + "/kept.jpg", "keep me");
    ::chmod(locked.constData(), 0555);
    const Trash::Result r = Trash::moveToTrash(path);
    ::chmod(locked.constData(), 0755);
    EXPECT_FALSE(r.ok);
    EXPECT_FALSE(r.error.isEmpty());
    EXPECT_EQ(readNative(path), "keep me");
    EXPECT_TRUE(entriesOf(QFile::decodeName(trash + "/info")).isEmpty());

    // The workspace passes the message on instead of reporting success.
    kpv::SystemWorkspaceServices workspace;
    ::chmod(locked.constData(), 0555);
    const auto result = workspace.recyclePaths({QFile::decodeName(path)});
    ::chmod(locked.constData(), 0755);
    EXPECT_NE(result.errorCode, 0);
    EXPECT_TRUE(result.moved.isEmpty());
    EXPECT_TRUE(result.failureReason.contains("kept.jpg"));
}

TEST_F(TrashTest, NoHomeMeansAClearErrorNotAFolderNearby)
{
    qunsetenv("HOME");
    qputenv("XDG_DATA_HOME", "relative/data");
    const QByteArray path = photo("nohome.jpg");
    const Trash::Result r = Trash::moveToTrash(path);
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.error.contains("home folder")) << r.error.toStdString();
    EXPECT_TRUE(existsNative(path));
    EXPECT_FALSE(QFileInfo::exists(QStringLiteral("relative"))) << "a trash made relative to the start folder";
    EXPECT_FALSE(QFileInfo::exists(QStringLiteral("files/nohome.jpg")));
}

// A second volume is a small tmpfs, mounted in a namespace of the test's own.
TEST_F(TrashTest, FileOnAnotherVolumeUsesThatVolumesTrash)
{
    const QByteArray mountPoint = QFile::encodeName(photos.path()) + "/usb";
    ASSERT_EQ(::mkdir(mountPoint.constData(), 0755), 0);
    KPV_EXPECT_CHILD_PASSED(runWithOwnMounts([&] {
        SmallTmpfs volume(QFile::decodeName(mountPoint));
        ASSERT_TRUE(volume.isMounted());
        const QByteArray uid = QByteArray::number(::getuid());
        const QByteArray path = makeFileNative(mountPoint + "/card.jpg", "from the card");
        const Trash::Result r = Trash::moveToTrash(path);
        ASSERT_TRUE(r.ok) << r.error.toStdString();
        const QByteArray own = mountPoint + "/.Trash-" + uid;
        EXPECT_EQ(QFile::encodeName(r.trashedPath), own + "/files/card.jpg");
        EXPECT_FALSE(existsNative(trash + "/files/card.jpg")) << "copied across volumes";
        EXPECT_TRUE(readNative(r.nativeInfoPath).contains("\nPath=card.jpg\n")) << "volume paths are relative to its top";
        EXPECT_EQ(restore(r, mountPoint), path);
        EXPECT_EQ(readNative(path), "from the card");

        // A shared .Trash that anyone could empty of others' files (no sticky bit) is passed by;
        // a safe one takes the file in a folder of the user's own.
        const QByteArray shared = mountPoint + "/.Trash";
        ASSERT_EQ(::mkdir(shared.constData(), 0777), 0);
        ASSERT_EQ(::chmod(shared.constData(), 0777), 0);
        const Trash::Result unsafe = Trash::moveToTrash(path);
        ASSERT_TRUE(unsafe.ok) << unsafe.error.toStdString();
        EXPECT_EQ(unsafe.nativeTrashedPath, own + "/files/card.jpg");
        EXPECT_FALSE(existsNative(shared + "/" + uid));
        EXPECT_EQ(restore(unsafe, mountPoint), path);
        ASSERT_EQ(::chmod(shared.constData(), 01777), 0);
        const Trash::Result safe = Trash::moveToTrash(path);
        ASSERT_TRUE(safe.ok) << safe.error.toStdString();
        EXPECT_EQ(safe.nativeTrashedPath, shared + "/" + uid + "/files/card.jpg");
    }), "the kernel lets this user mount no second volume here");
}

// A folder shown a second time elsewhere (a bind mount) is a mount of its own even on the home
// volume: its photos go to that mount's trash, and when it is read-only the user is told so.
TEST_F(TrashTest, AFolderMountedElsewhereTrashesThereOrSaysItIsReadOnly)
{
    const QByteArray source = QFile::encodeName(photos.path()) + "/shelf";
    const QByteArray view = QFile::encodeName(photos.path()) + "/view";
    ASSERT_EQ(::mkdir(source.constData(), 0755), 0);
    ASSERT_EQ(::mkdir(view.constData(), 0755), 0);
    makeFileNative(source + "/first.jpg", "first");
    makeFileNative(source + "/kept.jpg", "keep me");
    KPV_EXPECT_CHILD_PASSED(runWithOwnMounts([&] {
        ASSERT_EQ(::mount(source.constData(), view.constData(), nullptr, MS_BIND, nullptr), 0);
        const Trash::Result moved = Trash::moveToTrash(view + "/first.jpg");
        ASSERT_TRUE(moved.ok) << moved.error.toStdString();
        EXPECT_EQ(moved.nativeTrashedPath, view + "/.Trash-" + QByteArray::number(::getuid()) + "/files/first.jpg");

        ASSERT_EQ(::mount(nullptr, view.constData(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr), 0);
        kpv::SystemWorkspaceServices workspace;
        const auto result = workspace.recyclePaths({QFile::decodeName(view + "/kept.jpg")});
        EXPECT_NE(result.errorCode, 0);
        EXPECT_TRUE(result.moved.isEmpty());
        EXPECT_TRUE(result.failureReason.contains("read-only")) << result.failureReason.toStdString();
        EXPECT_TRUE(result.failureReason.contains("kept.jpg"));
        EXPECT_EQ(readNative(view + "/kept.jpg"), "keep me");
        EXPECT_TRUE(entriesOf(QFile::decodeName(trash + "/files")).isEmpty());
        ::umount2(view.constData(), MNT_DETACH);
    }), "the kernel lets this user mount nothing here");
}

// A file left in files/ without its record (another program's half-finished trashing) is no free
// name: the new file goes beside it, and it stays as it was.
TEST_F(TrashTest, AnEntryWithoutItsRecordIsNotOverwritten)
{
    ASSERT_TRUE(Trash::moveToTrash(photo("warm-up.jpg")).ok);
    const QByteArray orphan = makeFileNative(trash + "/files/beach.jpg", "an earlier beach");
    const Trash::Result r = Trash::moveToTrash(photo("beach.jpg", "this summer's beach"));
    ASSERT_TRUE(r.ok) << r.error.toStdString();
    EXPECT_EQ(r.nativeTrashedPath, trash + "/files/beach.jpg 2");
    EXPECT_EQ(readNative(orphan), "an earlier beach");
    EXPECT_EQ(readNative(r.nativeTrashedPath), "this summer's beach");
}

} // namespace
