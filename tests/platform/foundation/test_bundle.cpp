// Bundle: information dictionary, string table, formats and image lookup.
#include "foundation/Bundle.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace kpv;

namespace {

void writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

TEST(Bundle, ShippedInfoDictionaryListsTheDocumentTypes)
{
    const QVariantMap info = Bundle::mainBundle().infoDictionary();
    EXPECT_EQ(info.value("CFBundleName").toString(), QString("Kestrane Photo Viewer"));
    EXPECT_FALSE(Bundle::mainBundle().bundleIdentifier().isEmpty());
    EXPECT_FALSE(info.value("CFBundleShortVersionString").toString().isEmpty());
    QStringList types;
    QStringList imageTypes;
    for (const QVariant& entry : info.value("CFBundleDocumentTypes").toList()) {
        const QVariantMap m = entry.toMap();
        types += m.value("LSItemContentTypes").toStringList();
        imageTypes << m.value("AMImageType").toString();
    }
    for (const char* t : {"public.jpeg", "public.png", "com.compuserve.gif", "com.microsoft.bmp", "public.tiff",
                          "org.webmproject.webp", "public.jpeg-2000", "com.microsoft.ico", "public.camera-raw-image"}) {
        EXPECT_TRUE(types.contains(t)) << t;
    }
    EXPECT_TRUE(imageTypes.contains("AM_JPEG"));
    EXPECT_EQ(Bundle::mainBundle().localizedString("IDS_OK"), QString("OK"));
}

TEST(Bundle, StringsLanguagesAndDefaults)
{
    QTemporaryDir first;
    QTemporaryDir second;
    ASSERT_NO_FATAL_FAILURE(writeFile(first.path() + "/strings/en.strings", "\"IDS_A\" = \"first A\";\n"));
    ASSERT_NO_FATAL_FAILURE(writeFile(second.path() + "/strings/en.strings", "\"IDS_A\" = \"second A\"; \"IDS_B\" = \"B\";\n"));
    ASSERT_NO_FATAL_FAILURE(writeFile(second.path() + "/strings/de.strings", "\"IDS_B\" = \"B auf Deutsch\";\n"));
    Bundle bundle({first.path(), second.path()}, "de_AT");
    EXPECT_EQ(bundle.localizedString("IDS_A"), QString("first A")); // earlier folder wins
    EXPECT_EQ(bundle.localizedString("IDS_B"), QString("B auf Deutsch"));
    EXPECT_EQ(bundle.localizedString("IDS_Missing"), QString());
    EXPECT_EQ(bundle.localizedString("IDS_Missing", "fallback"), QString("fallback"));
}

TEST(Bundle, StringsTableSyntax)
{
    QHash<QString, QString> t;
    QString error;
    const QByteArray text = "/* comment \"IDS_X\" = \"no\"; */\n"
                            "// line comment\n"
                            "\"IDS_Esc\" = \"say \\\"hi\\\"\\n\\tok \\\\ \\u00e9\";\n"
                            "\"IDS_Spaced\"\n  =\n  \"multi\nline\" ;\n"
                            "\"IDS_Self\";\n";
    EXPECT_TRUE(parseStringsTable(text, &t, &error)) << error.toStdString();
    EXPECT_EQ(t.value("IDS_Esc"), QString::fromUtf8("say \"hi\"\n\tok \\ é"));
    EXPECT_EQ(t.value("IDS_Spaced"), QString("multi\nline"));
    EXPECT_EQ(t.value("IDS_Self"), QString("IDS_Self"));
    EXPECT_FALSE(t.contains("IDS_X"));

    // A broken entry is reported and skipped; the entries around it survive.
    t.clear();
    EXPECT_FALSE(parseStringsTable("\"A\" = \"1\";\n\"B\" = oops;\n\"C\" = \"3\";\n", &t, &error));
    EXPECT_TRUE(error.contains("line 2")) << error.toStdString();
    EXPECT_EQ(t.value("A"), QString("1"));
    EXPECT_EQ(t.value("C"), QString("3"));
    EXPECT_FALSE(t.contains("B"));

    // UTF-16 with a byte-order mark.
    QByteArray utf16("\xFF\xFE", 2);
    for (char16_t c : u"\"K\" = \"\u00fc\";") {
        if (c == 0) break;
        utf16.append(char(c & 0xff)).append(char(c >> 8));
    }
    t.clear();
    EXPECT_TRUE(parseStringsTable(utf16, &t));
    EXPECT_EQ(t.value("K"), QString::fromUtf8("ü"));
}

TEST(Bundle, EveryPrefixOfAStringsTableParsesSafely)
{
    const QByteArray text = "/* c */ \"IDS_1\" = \"a\\\"b\\u00e9\"; // x\n\"IDS_2\" = \"two\";\n\"IDS_3\";";
    for (qsizetype n = 0; n <= text.size(); ++n) {
        QHash<QString, QString> t;
        parseStringsTable(text.left(n), &t);
        if (n == text.size()) {
            EXPECT_EQ(t.size(), 3);
        }
        // Only complete entries ever appear.
        if (t.contains("IDS_2")) {
            EXPECT_EQ(t.value("IDS_2"), QString("two"));
        }
    }
}

TEST(Bundle, ImagesByLowerCasedNameWithoutExtension)
{
    QTemporaryDir generated;
    QTemporaryDir source;
    ASSERT_NO_FATAL_FAILURE(writeFile(generated.path() + "/skin/bg_maintile.png", "png"));
    ASSERT_NO_FATAL_FAILURE(writeFile(source.path() + "/bg_maintile.png", "older"));
    ASSERT_NO_FATAL_FAILURE(writeFile(source.path() + "/Close_ROLL.PNG", "png"));
    ASSERT_NO_FATAL_FAILURE(writeFile(source.path() + "/notes.txt", "not an image"));
    Bundle bundle({generated.path(), source.path()});
    EXPECT_EQ(bundle.imageNamed("BG_MainTile"), generated.path() + "/skin/bg_maintile.png");
    EXPECT_EQ(bundle.imageNamed("close_roll"), source.path() + "/Close_ROLL.PNG");
    EXPECT_EQ(bundle.imageNamed("close_roll.png"), source.path() + "/Close_ROLL.PNG");
    EXPECT_TRUE(bundle.imageNamed("notes").isEmpty());
    EXPECT_TRUE(bundle.imageNamed("missing").isEmpty());
    EXPECT_TRUE(bundle.imageNamed("").isEmpty());
    ASSERT_NO_FATAL_FAILURE(writeFile(source.path() + "/late.png", "png"));
    EXPECT_TRUE(bundle.imageNamed("late").isEmpty()); // lookups are cached ...
    bundle.reload();
    EXPECT_FALSE(bundle.imageNamed("late").isEmpty()); // ... until reloaded
    EXPECT_TRUE(bundle.pathForResource("../etc/passwd").isEmpty());
    EXPECT_EQ(bundle.pathForResource("skin/bg_maintile.png"), generated.path() + "/skin/bg_maintile.png");
}

TEST(StringFormat, PrintfConversions)
{
    EXPECT_EQ(formatString("%d of %d", {3, 10}), QString("3 of 10"));
    EXPECT_EQ(formatString("%@ (%ld)", {"photo.jpg", 12}), QString("photo.jpg (12)"));
    EXPECT_EQ(formatString("%.2f MB", {1.234}), QString("1.23 MB"));
    EXPECT_EQ(formatString("%5.1f|%-4d|%04d", {2.25, 7, 42}), QString("  2.2|7   |0042"));
    EXPECT_EQ(formatString("100%% %s", {"done"}), QString("100% done"));
    EXPECT_EQ(formatString("%2$@ %1$@", {"world", "hello"}), QString("hello world"));
    EXPECT_EQ(formatString("%x %X %u", {255, 255, 7}), QString("ff FF 7"));
    EXPECT_EQ(stringWithFormat("%@ x %d", QString("w"), 3), QString("w x 3"));
}

TEST(StringFormat, BadFormatsAndArgumentsNeverCrash)
{
    EXPECT_EQ(formatString("%d and %@", {}), QString("0 and "));   // missing arguments
    EXPECT_EQ(formatString("%d", {"12"}), QString("12"));          // converted
    EXPECT_EQ(formatString("tail %", {1}), QString("tail %"));     // broken tail kept
    EXPECT_EQ(formatString("%q!", {1}), QString("%q!"));           // unknown conversion kept
    EXPECT_EQ(formatString("%k%d", {5}), QString("%k5"));          // ... without eating an argument
    EXPECT_EQ(formatString("%99999999d", {1}).size(), 256);        // width is bounded
    EXPECT_EQ(formatString("%.99999f", {1.0}).size(), 258);        // so is precision
    EXPECT_EQ(formatString("%9$@", {"a"}), QString(""));           // position out of range
}

} // namespace

TEST(Bundle, InstalledProgramUsesTheResourcesBesideItsFolder)
{
    QTemporaryDir prefix;
    ASSERT_TRUE(prefix.isValid());
    ASSERT_TRUE(QDir(prefix.path()).mkpath(QStringLiteral("bin")));
    const QString program = prefix.filePath(QStringLiteral("bin/kestrane-viewer"));
    // Not installed there yet: the program is in a build tree.
    EXPECT_TRUE(kpv::Bundle::installedResourceDirectory(program).isEmpty());
    ASSERT_TRUE(QDir(prefix.path()).mkpath(QStringLiteral("share/kestrane-viewer")));
    EXPECT_TRUE(kpv::Bundle::installedResourceDirectory(program).isEmpty()); // a folder without the information file
    QFile info(prefix.filePath(QStringLiteral("share/kestrane-viewer/Info.json")));
    ASSERT_TRUE(info.open(QIODevice::WriteOnly));
    info.write("{}");
    info.close();
    EXPECT_EQ(kpv::Bundle::installedResourceDirectory(program), prefix.filePath(QStringLiteral("share/kestrane-viewer")));
    EXPECT_TRUE(kpv::Bundle::installedResourceDirectory(QString()).isEmpty());
}
