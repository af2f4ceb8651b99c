// The theme catalogue and parameter readers, and the theme manager's loading on its own queue.
#include "Slideshow/SlideshowDovePresenter.h"
#include "Slideshow/SlideshowNotifications.h"
#include "Slideshow/SlideshowTheme.h"
#include "Slideshow/SlideshowThemeMgr.h"

#include "foundation/NotificationCenter.h"
#include "foundation/RunLoop.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

void writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

const QByteArray kValidCatalogue = R"(<?xml version="1.0"?>
<SlideShowTheme>
  <Theme ID="1" Type="2D" Name="Fade" Folder="Fade" Thumb="thumb.png"/>
  <Theme ID="7" GroupID="2" Type="3D" Name="Cube" Folder="Cube" Scene="cube.3ds" Param="param.xml" Music="m.mid"/>
</SlideShowTheme>)";

TEST(ThemeCatalogue, ValidCatalogueListsBothKindsWithPathsInsideTheirFolders)
{
    SlideshowThemeCatalogue cat;
    QString error;
    ASSERT_TRUE(parseSlideshowThemeCatalogue(kValidCatalogue, "/themes", &cat, &error)) << error.toStdString();
    ASSERT_EQ(cat.themes.size(), 2u);
    EXPECT_TRUE(cat.skipped.isEmpty());
    EXPECT_EQ(cat.themes[0].type, SlideshowTheme::Normal);
    EXPECT_EQ(cat.themes[0].thumbFile, "/themes/Fade/thumb.png");
    const SlideshowTheme& cube = cat.themes[1];
    EXPECT_EQ(cube.type, SlideshowTheme::ThreeD);
    EXPECT_EQ(cube.themeID, 7);
    EXPECT_EQ(cube.groupID, 2);
    EXPECT_EQ(cube.sceneFile, "/themes/Cube/cube.3ds");
    EXPECT_EQ(cube.paramFile, "/themes/Cube/param.xml");
    EXPECT_EQ(cube.musicFile, "/themes/Cube/m.mid");
}

TEST(ThemeCatalogue, EntriesThatLackWhatTheyNeedOrLeaveTheFolderAreSkipped)
{
    const QByteArray bytes = R"(<SlideShowTheme>
      <Theme Type="2D" Folder="NoID"/>
      <Theme ID="2" Type="4D" Folder="X"/>
      <Theme ID="3" Type="3D" Folder="NoScene" Param="p.xml"/>
      <Theme ID="4" Folder="../outside"/>
      <Theme ID="5" Type="3D" Folder="Y" Scene="../../etc/passwd" Param="p.xml"/>
      <Theme ID="6" Folder="/abs"/>
      <Theme ID="8" Folder="Good"/>
    </SlideShowTheme>)";
    SlideshowThemeCatalogue cat;
    ASSERT_TRUE(parseSlideshowThemeCatalogue(bytes, "/themes", &cat, nullptr));
    ASSERT_EQ(cat.themes.size(), 1u);
    EXPECT_EQ(cat.themes[0].themeID, 8);
    EXPECT_EQ(cat.skipped.size(), 6);
}

TEST(ThemeCatalogue, FilesResolveOnlyInsideTheThemesFolder)
{
    const QString root = QStringLiteral("/data/Themes");
    EXPECT_EQ(resolveThemeFile(root, QStringLiteral("wall/scene.xml")), QStringLiteral("/data/Themes/wall/scene.xml"));
    EXPECT_EQ(resolveThemeFile(root + QStringLiteral("/"), QStringLiteral("a/../b.xml")), QStringLiteral("/data/Themes/b.xml"));
    // A sibling folder whose name begins with the themes folder's name is outside it.
    EXPECT_TRUE(resolveThemeFile(root, QStringLiteral("../ThemesExtra/scene.xml")).isEmpty());
    EXPECT_TRUE(resolveThemeFile(root, QStringLiteral("../Themes2/x.xml")).isEmpty());
    EXPECT_TRUE(resolveThemeFile(root, QStringLiteral("..")).isEmpty());
    EXPECT_TRUE(resolveThemeFile(root, QStringLiteral(".")).isEmpty());
    EXPECT_TRUE(resolveThemeFile(root, QStringLiteral("/etc/passwd")).isEmpty());
    EXPECT_TRUE(resolveThemeFile(root, QStringLiteral("a\\b.xml")).isEmpty());
    EXPECT_TRUE(resolveThemeFile(root, QString()).isEmpty());
}

TEST(ThemeCatalogue, MalformedOrForeignFilesAreErrors)
{
    for (const QByteArray& bytes : {QByteArray("<SlideShowTheme><Theme ID=\"1\""), QByteArray("not xml at all"),
                                    QByteArray("<Other/>"), QByteArray("")}) {
        SlideshowThemeCatalogue cat;
        QString error;
        EXPECT_FALSE(parseSlideshowThemeCatalogue(bytes, "/t", &cat, &error)) << bytes.constData();
        EXPECT_FALSE(error.isEmpty());
    }
    // Every prefix of a valid catalogue either parses or fails cleanly.
    for (qsizetype n = 0; n <= kValidCatalogue.size(); ++n) {
        SlideshowThemeCatalogue cat;
        parseSlideshowThemeCatalogue(kValidCatalogue.left(n), "/t", &cat, nullptr);
    }
}

TEST(ThemeCatalogue, ParamFileGivesFrameRateAndMaskGroups)
{
    SlideshowThemeParam p;
    QString error;
    ASSERT_TRUE(parseSlideshowThemeParam(R"(<ThemeParam FrameRate="30">
        <Group Start="0"><Mask Element="A"/><Mask Element="B"/></Group>
        <Group></Group>
        <Group Start="nan"><Mask Element="C"/><Mask/></Group>
        <Group Start="72.5"><Mask Element="D"/></Group>
      </ThemeParam>)",
                                         &p, &error));
    EXPECT_FLOAT_EQ(p.frameRate, 30.0f);
    ASSERT_EQ(p.maskGroups.size(), 3u);
    EXPECT_EQ(p.maskGroups[0], QStringList({"A", "B"}));
    EXPECT_EQ(p.maskGroups[1], QStringList({"C"}));
    // One start per group; a start that is not a frame number counts as none.
    EXPECT_EQ(p.groupStartFrames, (std::vector<float>{0.0f, -1.0f, 72.5f}));

    for (const char* rate : {"0", "-5", "nan", "inf", "junk"}) {
        SlideshowThemeParam q;
        ASSERT_TRUE(parseSlideshowThemeParam(QByteArray("<ThemeParam FrameRate=\"") + rate + "\"/>", &q, nullptr));
        EXPECT_FLOAT_EQ(q.frameRate, 24.0f) << rate;
    }
    EXPECT_FALSE(parseSlideshowThemeParam("<ThemeParam><Group>", &p, &error));
}

// A pipe where a user's theme keeps its parameter file, nobody writing to it: the start is refused
// at once with why, instead of the window waiting on the pipe for good.
TEST(ThemeCatalogue, APipeAsTheParamFileIsRefusedUnread)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    SlideshowTheme theme;
    theme.type = SlideshowTheme::ThreeD;
    theme.paramFile = dir.filePath(QStringLiteral("param.xml"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(theme.paramFile).constData(), 0600), 0);
    SlideshowThemeParam param;
    QString error;
    EXPECT_FALSE(SlideshowDovePresenter::loadThemeParam(theme, &param, &error));
    EXPECT_FALSE(error.isEmpty());
}

class ThemeMgrTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString bundle() const { return dir.path() + "/SSThemes"; }
    QString user() const { return dir.path() + "/themesContents"; }
    // Loads and waits; the posted notification is delivered by one pass of the main loop.
    void load(SlideshowThemeMgr& mgr)
    {
        mgr.setThemeFolders(bundle(), user());
        mgr.startLoad();
        mgr.waitUntilLoadFinished();
        kpv::RunLoop::main().runOnce();
    }
};

TEST_F(ThemeMgrTest, MissingAndEmptyCataloguesGiveNoThemesAndNoProblems)
{
    SlideshowThemeMgr missing(nullptr);
    load(missing);
    EXPECT_TRUE(missing.isLoaded());
    EXPECT_TRUE(missing.themes().empty());
    EXPECT_TRUE(missing.loadProblems().isEmpty());

    ASSERT_NO_FATAL_FAILURE(writeFile(bundle() + "/SlideShowTheme.xml", ""));
    ASSERT_NO_FATAL_FAILURE(writeFile(user() + "/SlideShowTheme.xml", "<SlideShowTheme/>"));
    SlideshowThemeMgr empty(nullptr);
    load(empty);
    EXPECT_TRUE(empty.isLoaded());
    EXPECT_TRUE(empty.themes().empty());
    EXPECT_TRUE(empty.loadProblems().isEmpty());
}

TEST_F(ThemeMgrTest, MalformedCatalogueIsReportedAndTheOtherStillLoads)
{
    ASSERT_NO_FATAL_FAILURE(writeFile(bundle() + "/SlideShowTheme.xml", "<SlideShowTheme><Theme"));
    ASSERT_NO_FATAL_FAILURE(writeFile(user() + "/SlideShowTheme.xml", kValidCatalogue));
    int posts = 0;
    kpv::NotificationCenter::defaultCenter().addObserver(this, DidLoadSlideshowThemesNotification, nullptr,
                                                         [&](const kpv::Notification&) { ++posts; });
    SlideshowThemeMgr mgr(nullptr);
    load(mgr);
    kpv::NotificationCenter::defaultCenter().removeObserver(this);
    EXPECT_EQ(posts, 1);
    EXPECT_EQ(mgr.loadProblems().size(), 1);
    ASSERT_EQ(mgr.themes().size(), 2u);
    EXPECT_EQ(mgr.themesOfType(SlideshowTheme::ThreeD).size(), 1u);
    ASSERT_TRUE(mgr.themeByID(7, 2));
    EXPECT_EQ(mgr.themeByID(7, 2)->sceneFile, user() + "/Cube/cube.3ds");
    EXPECT_FALSE(mgr.themeByID(7, 0));
}

TEST_F(ThemeMgrTest, UninitBeforeTheLoadRanCancelsItAndCanBeRepeated)
{
    ASSERT_NO_FATAL_FAILURE(writeFile(bundle() + "/SlideShowTheme.xml", kValidCatalogue));
    SlideshowThemeMgr mgr(nullptr);
    mgr.setThemeFolders(bundle(), user());
    mgr.startLoad();
    mgr.uninit();
    mgr.uninit();
    // Either the load finished before the cancel or it never ran; never half-done.
    EXPECT_EQ(mgr.isLoaded(), mgr.themes().size() == 2u);
    kpv::RunLoop::main().runOnce();
}

} // namespace

namespace {
TEST(ThemeCatalogue, EveryPrefixOfAParamFileParsesOrFailsCleanly)
{
    const QByteArray bytes = R"(<ThemeParam FrameRate="30"><Group><Mask Element="A"/><Mask Element="B"/></Group></ThemeParam>)";
    int parsed = 0;
    for (qsizetype n = 0; n <= bytes.size(); ++n) {
        SlideshowThemeParam p;
        QString error;
        if (parseSlideshowThemeParam(bytes.left(n), &p, &error))
            ++parsed;
        else
            EXPECT_FALSE(error.isEmpty()) << n;
    }
    EXPECT_GE(parsed, 1);
}
} // namespace
