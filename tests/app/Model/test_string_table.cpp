// The English string table holds a text for every key the model looks up, and defines each key
// once: a missing key shows as an empty text in the window, a duplicate silently replaces the first.
#include "foundation/Bundle.h"

#include <gtest/gtest.h>

#include <QDir>
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

// Keys named in the model's sources: every "IDS_..." literal, and the plain-word keys passed to
// the EXIF formatter's word lookup.
QSet<QString> keysUsedByTheModel()
{
    static const QRegularExpression idsKey(QStringLiteral("\"(IDS_[A-Za-z0-9_]+)\""));
    static const QRegularExpression wordKey(QStringLiteral("\\bword\\(\\s*(?:\\w+\\s*,\\s*)?\"([^\"]+)\"\\s*\\)"));
    QSet<QString> keys;
    const QDir model(sourceRoot() + QStringLiteral("/app/Model"));
    for (const QString &name : model.entryList({QStringLiteral("*.cpp"), QStringLiteral("*.h")}, QDir::Files)) {
        const QString text = readAll(model.filePath(name));
        for (const auto *re : {&idsKey, &wordKey})
            for (auto it = re->globalMatch(text); it.hasNext();)
                keys.insert(it.next().captured(1));
    }
    return keys;
}

TEST(StringTable, EveryKeyOfTheModelHasAnEnglishText)
{
    const QSet<QString> keys = keysUsedByTheModel();
    // The search itself must find what we know is there.
    ASSERT_TRUE(keys.contains(QStringLiteral("IDS_UNIT_KB")));
    ASSERT_TRUE(keys.contains(QStringLiteral("ISO")));

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
