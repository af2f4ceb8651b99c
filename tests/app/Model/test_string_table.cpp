// The English string table holds a text for every key the application looks up, and defines each key
// once: a missing key shows as an empty text in the window, a duplicate silently replaces the first.
#include "foundation/Bundle.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QSet>

namespace {

QString sourceRoot() { return QDir(QStringLiteral(KPV_TEST_DATA_DIR "/../..")).canonicalPath(); }

QString readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

// Keys named in the application's sources: every "IDS_..." literal in any folder of app/, and the
// plain-word keys passed to the EXIF formatter's word lookup.
QSet<QString> keysUsedByTheApplication()
{
    static const QRegularExpression idsKey(QStringLiteral("\"(IDS_[A-Za-z0-9_]+)\""));
    static const QRegularExpression wordKey(QStringLiteral("\\bword\\(\\s*(?:\\w+\\s*,\\s*)?\"([^\"]+)\"\\s*\\)"));
    QSet<QString> keys;
    QDirIterator it(sourceRoot() + QStringLiteral("/app"), {QStringLiteral("*.cpp"), QStringLiteral("*.h")}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString text = readAll(path);
        for (auto m = idsKey.globalMatch(text); m.hasNext();)
            keys.insert(m.next().captured(1));
        if (path.contains(QStringLiteral("/app/Model/")))
            for (auto m = wordKey.globalMatch(text); m.hasNext();)
                keys.insert(m.next().captured(1));
    }
    return keys;
}

TEST(StringTable, EveryKeyUsedInTheApplicationHasAnEnglishText)
{
    const QSet<QString> keys = keysUsedByTheApplication();
    // The search itself must find what we know is there, in the model and in other folders.
    ASSERT_TRUE(keys.contains(QStringLiteral("IDS_UNIT_KB")));
    ASSERT_TRUE(keys.contains(QStringLiteral("ISO")));
    ASSERT_TRUE(keys.contains(QStringLiteral("IDS_TIPS_NAVIGATENEXT")));
    ASSERT_TRUE(keys.contains(QStringLiteral("IDS_SHARETIPS_DESC")));

    const kpv::Bundle bundle({sourceRoot() + QStringLiteral("/resources")}, QStringLiteral("en"));
    for (const QString &key : keys)
        EXPECT_FALSE(bundle.localizedString(key).isEmpty()) << key.toStdString();
}

TEST(StringTable, DefinesEachKeyOnce)
{
    const QString table = readAll(sourceRoot() + QStringLiteral("/resources/strings/en.strings"));
    ASSERT_FALSE(table.isEmpty());
    static const QRegularExpression entry(QStringLiteral("^\\s*\"((?:[^\"\\\\]|\\\\.)*)\"\\s*=\\s*\"(?:[^\"\\\\]|\\\\.)*\"\\s*;\\s*$"),
                                          QRegularExpression::MultilineOption);
    QSet<QString> seen;
    int entries = 0;
    for (auto it = entry.globalMatch(table); it.hasNext();) {
        const QString key = it.next().captured(1);
        ++entries;
        EXPECT_FALSE(seen.contains(key)) << "defined twice: " << key.toStdString();
        seen.insert(key);
    }
    EXPECT_GT(entries, 10);
}

} // namespace
