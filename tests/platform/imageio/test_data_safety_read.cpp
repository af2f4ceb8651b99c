// Opening files for decoding: only regular files are read, nothing blocks, and the identity read
// with the bytes tells a later replacement apart.

#include "imageio/FileAccess.h"
#include "imageio/ImageSource.h"
#include "imageio_support.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

namespace {

using namespace kpv;

TEST(FileAccess, OnlyRegularFilesAreReadAndNothingBlocks)
{
    QTemporaryDir dir;
    const QString fifo = dir.filePath("x.jpg");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QByteArray data;
    QString error;
    // Without a writer a blocking open would never return.
    EXPECT_FALSE(readRegularFile(fifo, 1 << 20, &data, &error));
    EXPECT_TRUE(error.contains("not a regular file")) << error.toStdString();
    EXPECT_FALSE(ImageSource::createWithFile(fifo, &error));
    EXPECT_TRUE(error.contains("not a regular file")) << error.toStdString();

    EXPECT_FALSE(readRegularFile(QStringLiteral("/dev/zero"), 1 << 20, &data, &error));
    EXPECT_FALSE(readRegularFile(dir.path(), 1 << 20, &data, &error));
    EXPECT_FALSE(readRegularFile(dir.filePath("missing.png"), 1 << 20, &data, &error));

    const QString big = test::writeFile(dir, "big.png", QByteArray(4096, 'x'));
    EXPECT_FALSE(readRegularFile(big, 4095, &data, &error));
    EXPECT_TRUE(error.contains("too large"));
}

TEST(FileAccess, IdentityTellsAReplacementFromTheFileThatWasRead)
{
    QTemporaryDir dir;
    const QString path = test::writeFile(dir, "a.png", "first version");
    QByteArray data;
    FileIdentity read;
    ASSERT_TRUE(readRegularFile(path, 1 << 20, &data, nullptr, &read));
    EXPECT_EQ(data, "first version");
    EXPECT_TRUE(read.isValid());
    EXPECT_EQ(fileIdentity(path), read);

    // Same size, same time, another inode: replaced by rename.
    const QString other = test::writeFile(dir, "b.png", "other version");
    struct stat st {};
    ::stat(QFile::encodeName(path).constData(), &st);
    struct timespec times[2] = {st.st_atim, st.st_mtim};
    ::utimensat(AT_FDCWD, QFile::encodeName(other).constData(), times, 0);
    ASSERT_EQ(::rename(QFile::encodeName(other).constData(), QFile::encodeName(path).constData()), 0);
    EXPECT_NE(fileIdentity(path), read);
    EXPECT_FALSE(fileIdentity(dir.filePath("gone.png")).isValid());
}

} // namespace
