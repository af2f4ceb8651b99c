// The slideshow's background-music list: loading on first use, the three most recent files,
// and writing only when something changed.

#include "Model/SlideshowBkgrdMusicList.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

LMPathString music(const char* name) { return LMPathString(QString("/music/") + name, false); }

class MusicListTest : public ::testing::Test {
protected:
    QVariantMap stored() const { return defaults_.dictionaryForKey("slideshowBkgrdMusicList"); }

    QTemporaryDir dir_;
    kpv::UserDefaults defaults_{dir_.filePath("settings.json")};
};

TEST_F(MusicListTest, NothingStoredMeansTheThemeMusic)
{
    SlideshowBkgrdMusicList list(defaults_);
    EXPECT_TRUE(list.isUsingDefaultThemeBkgrdMusic());
    EXPECT_TRUE(list.recentMusicPaths().empty());
    EXPECT_FALSE(list.curPlayingMusicPath().has_value());
    list.save();
    EXPECT_TRUE(stored().isEmpty()) << "nothing changed, nothing written";
}

TEST_F(MusicListTest, LoadsOnFirstQueryNotBefore)
{
    SlideshowBkgrdMusicList list(defaults_);
    // Written after the list was made but before its first query: the query sees it.
    defaults_.setObject(QVariantMap{{"pathList", QVariantList{"/music/a.mid", "/music/b.mp3"}},
                                    {"curPath", "/music/b.mp3"},
                                    {"IsCustomMusic", true}},
                        "slideshowBkgrdMusicList");
    EXPECT_FALSE(list.isUsingDefaultThemeBkgrdMusic());
    EXPECT_EQ(list.recentMusicPaths(), (std::vector<LMPathString>{music("a.mid"), music("b.mp3")}));
    EXPECT_EQ(list.curPlayingMusicPath(), music("b.mp3"));
    EXPECT_FALSE(list.hasUnsavedChanges());
}

TEST_F(MusicListTest, KeepsTheThreeNewestOldestFirst)
{
    SlideshowBkgrdMusicList list(defaults_);
    for (const char* name : {"a.mid", "b.mid", "c.mid", "d.mid"})
        list.setCurPlayingMusic(false, music(name), false);
    EXPECT_EQ(list.recentMusicPaths(), (std::vector<LMPathString>{music("b.mid"), music("c.mid"), music("d.mid")}));
    EXPECT_EQ(list.curPlayingMusicPath(), music("d.mid"));

    // Choosing a listed file again makes it the newest without listing it twice.
    list.setCurPlayingMusic(false, music("b.mid"), false);
    EXPECT_EQ(list.recentMusicPaths(), (std::vector<LMPathString>{music("c.mid"), music("d.mid"), music("b.mid")}));
}

TEST_F(MusicListTest, HandEditedListIsCutToTheNewestThree)
{
    defaults_.setObject(QVariantMap{{"pathList", QVariantList{"/music/1.mid", 7, "", "/music/2.mid", "/music/3.mid",
                                                              "/music/2.mid", "/music/4.mid"}},
                                    {"IsCustomMusic", true}},
                        "slideshowBkgrdMusicList");
    SlideshowBkgrdMusicList list(defaults_);
    EXPECT_EQ(list.recentMusicPaths(), (std::vector<LMPathString>{music("2.mid"), music("3.mid"), music("4.mid")}));
    EXPECT_TRUE(list.isUsingDefaultThemeBkgrdMusic()) << "custom music without a file plays the theme's";
}

TEST_F(MusicListTest, SavesOnlyWhenChanged)
{
    SlideshowBkgrdMusicList list(defaults_);
    list.setCurPlayingMusic(false, music("a.mid"), true);
    EXPECT_EQ(stored().value("curPath").toString(), "/music/a.mid");
    EXPECT_TRUE(stored().value("IsCustomMusic").toBool());
    EXPECT_FALSE(list.hasUnsavedChanges());

    // Someone else changes the stored entry; an unchanged list must not overwrite it.
    defaults_.setObject(QVariantMap{{"IsCustomMusic", false}}, "slideshowBkgrdMusicList");
    list.setCurPlayingMusic(false, music("a.mid"), true); // already the choice
    list.save();
    EXPECT_EQ(stored(), (QVariantMap{{"IsCustomMusic", false}}));

    list.setCurPlayingMusic(true, std::nullopt, true);
    EXPECT_FALSE(stored().value("IsCustomMusic").toBool());
    EXPECT_EQ(stored().value("pathList").toList().size(), 1) << "the recent file stays offered";
}

TEST_F(MusicListTest, RemovingTheChosenFileFallsBackToTheThemeMusic)
{
    SlideshowBkgrdMusicList list(defaults_);
    list.setCurPlayingMusic(false, music("a.mid"), false);
    list.setCurPlayingMusic(false, music("b.mid"), false);
    list.removeFromRecentMusicPaths(music("x.mid"), false);
    EXPECT_EQ(list.recentMusicPaths().size(), 2u);

    list.removeFromRecentMusicPaths(music("b.mid"), true);
    EXPECT_TRUE(list.isUsingDefaultThemeBkgrdMusic());
    EXPECT_FALSE(list.curPlayingMusicPath().has_value());
    EXPECT_EQ(list.recentMusicPaths(), std::vector<LMPathString>{music("a.mid")});

    list.removeFromRecentMusicPaths(music("a.mid"), true);
    const QVariantMap dict = stored();
    EXPECT_FALSE(dict.contains("pathList")) << "an empty list writes only the choice";
    EXPECT_FALSE(dict.contains("curPath"));
    EXPECT_TRUE(dict.contains("IsCustomMusic"));
}

} // namespace
