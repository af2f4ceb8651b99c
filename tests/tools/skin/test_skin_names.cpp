// Lists the image names the application's sources ask for and checks that the skin generator
// drew each of them, at 1x and at 2x (twice the size); and that every text key the sources name
// has its text in the string table.

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QRegularExpression>
#include <QSet>

#include <gtest/gtest.h>

namespace {

// The calls that take a skin image's name as a literal, and the button images of the share targets'
// table.
const QRegularExpression kNameUse(QStringLiteral(
    R"re((?:setImageName|loadImageWithoutExtension|setBkgrdImageName|imageNamed|loadOriginalImageByFileName|LMNineSliceImageRep>?|wireButton\([^,()]+,)\s*\(?\s*(?:QStringLiteral\()?"([A-Za-z0-9_.]+)")re"));
// Names handed on through constants, tables and helpers (a lambda that sets a button's image, a
// table of placeholders indexed by kind) never sit beside the call, so in a source that asks for
// images by name every literal shaped like a skin name counts as one.
const QRegularExpression kImageCall(QStringLiteral(
    R"re(setImageName|loadImageWithoutExtension|setBkgrdImageName|imageNamed|loadOriginalImageByFileName|iconName)re"));
const QRegularExpression kSkinShapedName(
    QStringLiteral(R"re("((?:[eE]|[iI]mg|bg|bt|icon|ss|tm|nav)_[A-Za-z0-9_]+)")re"));
const QRegularExpression kShareButtonName(
    QStringLiteral(R"re(\{ShareWebsiteType[A-Za-z]+,\s*[0-9]+,\s*"([eE]_[A-Za-z]+)")re"));

QString normalised(QString name)
{
    name = name.toLower();
    for (const char* ext : {".png", ".tiff", ".tif"}) {
        if (name.endsWith(QLatin1String(ext)))
            name.chop(int(qstrlen(ext)));
    }
    return name;
}

// Every text of the given files under app/ and platform/.
QStringList sourceTexts()
{
    QStringList texts;
    for (const char* folder : {"app", "platform"}) {
        QDirIterator it(QStringLiteral(KPV_SOURCE_DIR "/") + QLatin1String(folder), {QStringLiteral("*.cpp"), QStringLiteral("*.h")},
                        QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            QFile f(it.next());
            if (!f.open(QIODevice::ReadOnly))
                continue;
            texts << QString::fromUtf8(f.readAll());
        }
    }
    return texts;
}

QSet<QString> namesUsedInSources()
{
    QSet<QString> names;
    for (const QString& text : sourceTexts()) {
        for (const QRegularExpression* re : {&kNameUse, &kShareButtonName}) {
            auto matches = re->globalMatch(text);
            while (matches.hasNext())
                names.insert(normalised(matches.next().captured(1)));
        }
        if (!text.contains(kImageCall))
            continue;
        auto shaped = kSkinShapedName.globalMatch(text);
        while (shaped.hasNext())
            names.insert(normalised(shaped.next().captured(1)));
    }
    return names;
}

TEST(SkinNames, EveryNameInTheSourcesIsDrawnAtBothScales)
{
    const QSet<QString> names = namesUsedInSources();
    // The scan itself must keep finding the names (title bar, viewer, toolbar, tips).
    // Those last ones reach the call through a helper or a table: the bin's own images, the
    // placeholders and the favourites toolbar's buttons.
    for (const char* known : {"bg_title", "nav_next", "img_bad", "bg_picshadow", "e_facebook", "e_thumbnail", "img_open",
                              "e_lovebin_on_roll", "e_number_bg", "img_defaultthumb", "img_default", "e_batch",
                              "icon_rotatel", "icon_mirrorv"})
        EXPECT_TRUE(names.contains(QLatin1String(known))) << known;
    ASSERT_GT(names.size(), 30);
    const QString skin = QStringLiteral(KPV_SKIN_DIR "/");
    for (const QString& name : names) {
        const QImage one(skin + name + QStringLiteral(".png"));
        const QImage two(skin + name + QStringLiteral("@2x.png"));
        EXPECT_FALSE(one.isNull()) << qPrintable(name) << " is not drawn";
        EXPECT_FALSE(two.isNull()) << qPrintable(name) << "@2x is not drawn";
        if (!one.isNull() && !two.isNull())
            EXPECT_EQ(two.size(), one.size() * 2) << qPrintable(name);
    }
}

// Each share target and each edit of the toolbar's pop-up has a picture of its own.
TEST(SkinNames, ShareTargetsAndEditsLookDifferent)
{
    const QString skin = QStringLiteral(KPV_SKIN_DIR "/");
    for (const QStringList& group : {QStringList{"e_facebook", "e_flick", "e_twitter", "e_tumblr", "e_email", "e_iphoto", "e_share"},
                                     QStringList{"icon_rotatel", "icon_rotater", "icon_mirrorh", "icon_mirrorv"}}) {
        QSet<QByteArray> seen;
        for (const QString& name : group) {
            QImage image(skin + name + QStringLiteral(".png"));
            ASSERT_FALSE(image.isNull()) << qPrintable(name);
            image = image.convertToFormat(QImage::Format_ARGB32);
            const QByteArray pixels(reinterpret_cast<const char*>(image.constBits()), int(image.sizeInBytes()));
            EXPECT_FALSE(seen.contains(pixels)) << qPrintable(name) << " looks like another of its group";
            seen.insert(pixels);
        }
    }
}

TEST(SkinNames, EveryTextKeyInTheSourcesHasItsText)
{
    QFile table(QStringLiteral(KPV_SOURCE_DIR "/resources/strings/en.strings"));
    ASSERT_TRUE(table.open(QIODevice::ReadOnly));
    const QString strings = QString::fromUtf8(table.readAll());
    QSet<QString> known;
    auto entries = QRegularExpression(QStringLiteral(R"re(^"(IDS_[A-Za-z0-9_]+)"\s*=)re"),
                                      QRegularExpression::MultilineOption).globalMatch(strings);
    while (entries.hasNext()) {
        const QString k = entries.next().captured(1);
        // A key given twice keeps only one of its texts.
        EXPECT_FALSE(known.contains(k)) << qPrintable(k) << " is in the table twice";
        known.insert(k);
    }
    ASSERT_GT(known.size(), 100);
    QSet<QString> used;
    const QRegularExpression key(QStringLiteral(R"re("(IDS_[A-Za-z0-9_]+)")re"));
    for (const QString& text : sourceTexts()) {
        auto matches = key.globalMatch(text);
        while (matches.hasNext())
            used.insert(matches.next().captured(1));
    }
    // A missing text shows as an empty line or button, or no tip at all.
    for (const QString& k : used)
        EXPECT_TRUE(known.contains(k)) << qPrintable(k) << " has no text";
}

} // namespace
