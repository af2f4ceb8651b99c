// Settings: defaults, validation of stored values, the two yes/no encodings, dirty tracking,
// migration of older keys, and a round trip through a real settings file.

#include "Model/MainConfig.h"
#include "Model/LMBookmarkCache.h"
#include "Model/LMPathString.h"
#include "foundation/UserDefaults.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <sys/stat.h>

namespace {

class MainConfigTest : public ::testing::Test {
protected:
    QString settingsPath() const { return dir_.filePath("settings.json"); }

    // A store over the settings file, as another run of the program would see it.
    std::unique_ptr<kpv::UserDefaults> reopen() { return std::make_unique<kpv::UserDefaults>(settingsPath()); }

    QTemporaryDir dir_;
    kpv::UserDefaults defaults_{settingsPath()};
};

TEST_F(MainConfigTest, EmptyStoreReadsTheDefaults)
{
    MainConfig config(defaults_);
    EXPECT_TRUE(config.photoBinVisible());
    EXPECT_TRUE(config.mouseWheelEnabled());
    EXPECT_TRUE(config.zoomWhileMouseWheel());
    EXPECT_TRUE(config.animationZoom());
    EXPECT_FALSE(config.slideshowRandomPlayMode());
    EXPECT_FALSE(config.slideshowMute());
    EXPECT_FALSE(config.viewPhotosInSubfolder());
    EXPECT_FALSE(config.defaultViewerConfigured());
    EXPECT_EQ(config.sortByType(), 1);
    EXPECT_EQ(config.curSlideshowEffectDuration(), 2);
    EXPECT_EQ(config.curOptionTabType(), 2);
    EXPECT_EQ(config.favoriteThumbZoomValue(), 192);
    EXPECT_EQ(config.filePropertyMask(), 14);
    EXPECT_EQ(config.curShareType(), 1);
    EXPECT_EQ(config.lastSlideshowTransitionStyle(), 0);
    EXPECT_TRUE(config.lastSaveAsDirUrl().isEmpty());
    EXPECT_FALSE(config.mainWindowFrame().has_value());
    EXPECT_FALSE(config.navigationWindowOrigin().has_value());
    EXPECT_TRUE(config.curSlideshowThemeID().isEmpty());
    EXPECT_TRUE(config.batchResizeConfigInfo().isEmpty());
    EXPECT_FALSE(config.shareAutoLoginInfoForWebsite(ShareWebsiteTypeFlickr).has_value());
    EXPECT_FALSE(config.isDirty()); // reading caches values but changes nothing
}

struct StoredInteger {
    const char* name;
    const char* key;
    qint64 stored;
    qint64 expected;
    qint64 (MainConfig::*getter)();
};

class StoredIntegerTest : public MainConfigTest, public ::testing::WithParamInterface<StoredInteger> {};

TEST_P(StoredIntegerTest, ReadsValidated)
{
    const StoredInteger& row = GetParam();
    defaults_.setInteger(row.stored, row.key);
    MainConfig config(defaults_);
    EXPECT_EQ((config.*row.getter)(), row.expected);
    EXPECT_EQ((config.*row.getter)(), row.expected) << "a second (cached) read validates too";
}

INSTANTIATE_TEST_SUITE_P(
    Table, StoredIntegerTest,
    ::testing::Values(StoredInteger{"SortUnknownDescending", "sortByType", 0x1005, 0x1001, &MainConfig::sortByType},
                      StoredInteger{"SortUnknownAscending", "sortByType", 7, 1, &MainConfig::sortByType},
                      StoredInteger{"SortDateDescending", "sortByType", 0x1002, 0x1002, &MainConfig::sortByType},
                      StoredInteger{"DurationNotOffered", "curSlideshowEffectDuration", 7, 2,
                                    &MainConfig::curSlideshowEffectDuration},
                      StoredInteger{"DurationOffered", "curSlideshowEffectDuration", 20, 20,
                                    &MainConfig::curSlideshowEffectDuration},
                      StoredInteger{"ShareUnknown", "curShareWebsiteType", 5, 1, &MainConfig::curShareType},
                      StoredInteger{"SharePhotoLibrary", "curShareWebsiteType", 34, 34, &MainConfig::curShareType},
                      StoredInteger{"TransitionStyleInvalid", "curSlideshowTransitionStyle", 13, 0,
                                    &MainConfig::lastSlideshowTransitionStyle},
                      StoredInteger{"TabKept", "curOptionTabType", 3, 3, &MainConfig::curOptionTabType}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(MainConfigTest, ZoomValueOutsideItsRangeReadsTheDefault)
{
    const struct {
        double stored;
        double expected;
    } rows[] = {{808, 808}, {808.5, 192}, {92, 92}, {91, 192}, {std::numeric_limits<double>::quiet_NaN(), 192},
                {std::numeric_limits<double>::infinity(), 192}};
    for (const auto& row : rows) {
        defaults_.setDouble(row.stored, "favoriteThumbZoomValue");
        MainConfig config(defaults_);
        EXPECT_EQ(config.favoriteThumbZoomValue(), row.expected) << "stored " << row.stored;
    }
}

TEST_F(MainConfigTest, YesNoEncodingsAsEachKeyStoresThem)
{
    MainConfig config(defaults_);
    config.setPhotoBinVisible(false);
    config.setViewPhotosInSubfolder(true);
    config.save(false);
    EXPECT_EQ(defaults_.integerForKey("photoBinVisibleMode"), 2);
    EXPECT_EQ(defaults_.integerForKey("ViewPhotosInSubfolder"), 1);

    config.setPhotoBinVisible(true);
    config.setViewPhotosInSubfolder(false);
    config.save(false);
    EXPECT_EQ(defaults_.integerForKey("photoBinVisibleMode"), 1);
    EXPECT_EQ(defaults_.integerForKey("ViewPhotosInSubfolder"), 0);

    // Any non-zero reads as yes for the 0/1 keys; only 1 is yes for the 1/2 keys.
    defaults_.setInteger(5, "keepPrevScaleWhenNavFile");
    defaults_.setInteger(5, "ZoomMode");
    MainConfig fresh(defaults_);
    EXPECT_TRUE(fresh.keepPrevScaleWhenNavFile());
    EXPECT_FALSE(fresh.animationZoom());
}

TEST_F(MainConfigTest, DirtyOnlyWhenAValueReallyChanges)
{
    MainConfig config(defaults_);
    config.setPhotoBinVisible(true); // already in force
    config.setSortByType(1);
    config.setSortByType(0); // ignored
    config.setMainWindowFrame(QRectF());
    config.setNavigationWindowOrigin(QPointF(0, 0));
    config.setCurSlideshowEffectDuration(2);
    EXPECT_FALSE(config.isDirty());

    config.setSortByType(0x1002);
    EXPECT_TRUE(config.isDirty());
    EXPECT_FALSE(defaults_.objectForKey("sortByType").isValid()) << "setters only touch the cache";
    config.save(false);
    EXPECT_FALSE(config.isDirty());
    EXPECT_EQ(defaults_.integerForKey("sortByType"), 0x1002);
}

TEST_F(MainConfigTest, ZeroFrameAndZeroOriginKeepWhatIsStored)
{
    MainConfig config(defaults_);
    config.setMainWindowFrame(QRectF(10, 20, 800, 600));
    config.setInfoWindowOrigin(QPointF(5.5, 7));
    config.save(false);

    config.setMainWindowFrame(QRectF());
    config.setMainWindowFrame(std::nullopt);
    config.setInfoWindowOrigin(QPointF());
    EXPECT_FALSE(config.isDirty());
    EXPECT_EQ(config.mainWindowFrame(), QRectF(10, 20, 800, 600));
    EXPECT_EQ(config.infoWindowOrigin(), QPointF(5.5, 7));
}

TEST_F(MainConfigTest, ThemeFallsBackToTheOlderTransitionStyle)
{
    defaults_.setInteger(5, "curSlideshowTransitionStyle");
    {
        MainConfig config(defaults_);
        const QVariantMap theme = config.curSlideshowThemeID();
        EXPECT_EQ(theme.value("SlideshowType").toLongLong(), 0);
        EXPECT_EQ(theme.value("ThemeID").toLongLong(), 5);
        EXPECT_EQ(theme.value("ThemeGroupID").toLongLong(), 0);
        EXPECT_FALSE(config.isDirty());
    }
    defaults_.setInteger(13, "curSlideshowTransitionStyle");
    {
        MainConfig config(defaults_);
        EXPECT_TRUE(config.curSlideshowThemeID().isEmpty());
    }
    // Choosing a 2D theme keeps the older key in step.
    MainConfig config(defaults_);
    config.setCurSlideshowThemeID({{"SlideshowType", 0}, {"ThemeID", 7}, {"ThemeGroupID", 0}});
    EXPECT_EQ(config.lastSlideshowTransitionStyle(), 7);
    config.setCurSlideshowThemeID({{"SlideshowType", 1}, {"ThemeID", 3}, {"ThemeGroupID", 2}});
    EXPECT_EQ(config.lastSlideshowTransitionStyle(), 7);
}

TEST_F(MainConfigTest, OlderFilePropertyMaskIsCarriedOver)
{
    defaults_.setInteger(6, "filePropertyMask");
    MainConfig config(defaults_);
    EXPECT_EQ(config.filePropertyMask(), 6);
    config.saveForKey();
    EXPECT_EQ(defaults_.integerForKey("filePropertyMaskNumber"), 6);

    // A stored 0 under the new key is a real choice (no items), not "absent".
    defaults_.setInteger(0, "filePropertyMaskNumber");
    MainConfig again(defaults_);
    EXPECT_EQ(again.filePropertyMask(), 0);
}

TEST_F(MainConfigTest, SaveWritesOnlyWhenDirtyOrAsked)
{
    MainConfig config(defaults_);
    config.photoBinVisible();
    config.save(false);
    EXPECT_FALSE(QFile::exists(settingsPath())) << "nothing changed: nothing written";

    defaults_.setInteger(1, "unrelated");
    config.save(true);
    EXPECT_TRUE(QFile::exists(settingsPath())) << "asked to synchronise anyway";
}

TEST_F(MainConfigTest, SignInSavedAtOnceLeavesOtherChangesPending)
{
    MainConfig config(defaults_);
    config.setSortByType(2);
    const ShareAutoLoginInfo login("u1", "token", "secret", "Ann");
    config.setShareAutoLoginInfo(login, ShareWebsiteTypeTwitter, true);

    auto other = reopen();
    EXPECT_EQ(other->dictionaryForKey("shareLoginInfoTwitter").value("accessToken").toString(), "token");
    EXPECT_FALSE(other->objectForKey("sortByType").isValid());
    EXPECT_TRUE(config.isDirty());

    // Unknown sites have no key: nothing is stored or found.
    config.setShareAutoLoginInfo(login, ShareWebsiteTypeEmail, true);
    EXPECT_FALSE(config.shareAutoLoginInfoForWebsite(ShareWebsiteTypeEmail).has_value());

    // Signing out removes the token from the file at once.
    config.removeAutoLoginInfoByWebsiteType(ShareWebsiteTypeTwitter);
    EXPECT_FALSE(config.shareAutoLoginInfoForWebsite(ShareWebsiteTypeTwitter).has_value());
    EXPECT_FALSE(reopen()->objectForKey("shareLoginInfoTwitter").isValid());
}

TEST_F(MainConfigTest, AutoSaveWritesEachChangeAtOnce)
{
    MainConfig config(defaults_);
    config.setAutoSaveWhenChanged(true);
    config.setSlideshowMute(true);
    EXPECT_FALSE(config.isDirty());
    EXPECT_EQ(reopen()->integerForKey("slideshowVolumeMode"), 1);
}

TEST_F(MainConfigTest, RoundTripThroughASettingsFile)
{
    const QUrl saveDir = QUrl::fromLocalFile("/home/user/Pictures/out");
    const ShareAutoLoginInfo login("42", "tok", "sec", "Bo");
    {
        MainConfig config(defaults_);
        config.setSortByType(0x1002);
        config.setSlideshowRandomPlayMode(true);
        config.setKeepPrevScaleWhenNavFile(true);
        config.setCurShareType(ShareWebsiteTypeTumblr);
        config.setCurSlideshowEffectDuration(10);
        config.setFavoriteThumbZoomValue(300.5);
        config.setLastSaveAsDirUrl(saveDir);
        config.setMainWindowFrame(QRectF(12, 34, 1024, 700));
        config.setNavigationWindowOrigin(QPointF(-20, 300));
        config.setBatchRenameConfigNameBase("Holiday");
        config.setBatchResizeConfigInfo({{"width", 640}, {"keepRatio", true}});
        config.setRunVersionBeforeRate("1.2");
        config.setFilePropertyMask(3);
        config.setShareAutoLoginInfo(login, ShareWebsiteTypeFacebook, false);
        config.setCurPlayingMusic(false, LMPathString("/music/a.mid", false), false);
        config.save(false);
    }
    auto stored = reopen();
    MainConfig config(*stored);
    EXPECT_EQ(config.sortByType(), 0x1002);
    EXPECT_TRUE(config.slideshowRandomPlayMode());
    EXPECT_TRUE(config.keepPrevScaleWhenNavFile());
    EXPECT_EQ(config.curShareType(), ShareWebsiteTypeTumblr);
    EXPECT_EQ(config.curSlideshowEffectDuration(), 10);
    EXPECT_EQ(config.favoriteThumbZoomValue(), 300.5);
    EXPECT_EQ(config.lastSaveAsDirUrl(), saveDir);
    EXPECT_EQ(config.mainWindowFrame(), QRectF(12, 34, 1024, 700));
    EXPECT_EQ(config.navigationWindowOrigin(), QPointF(-20, 300));
    EXPECT_EQ(config.batchRenameConfigNameBase(), "Holiday");
    EXPECT_EQ(config.batchResizeConfigInfo().value("width").toInt(), 640);
    EXPECT_EQ(config.runVersionBeforeRate(), "1.2");
    EXPECT_EQ(config.filePropertyMask(), 3);
    EXPECT_EQ(config.shareAutoLoginInfoForWebsite(ShareWebsiteTypeFacebook), login);
    EXPECT_FALSE(config.isUsingDefaultThemeBkgrdMusic());
    EXPECT_EQ(config.curPlayingMusicPath(), LMPathString("/music/a.mid", false));

    // The file holds sign-in tokens: only its owner may read it.
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(settingsPath()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600);
}

TEST(BookmarkCacheTest, UnconfinedStoreIsUnsupportedAndEveryCallSucceeds)
{
    LMBookmarkCache& cache = LMBookmarkCache::defaultCache();
    EXPECT_EQ(&cache, &LMBookmarkCache::defaultCache());
    EXPECT_FALSE(cache.isSandBoxed());
    EXPECT_FALSE(cache.supportBookmarkCache());
    cache.cacheSecurityScopedURL(QUrl::fromLocalFile("/tmp/photos"));
    cache.startAccessingSecurityScopedResourceForPath("/tmp/photos/a.jpg");
    EXPECT_FALSE(cache.securityScopedURLAllowingAccessToPath("/tmp/photos/a.jpg").has_value());
    cache.stopAccessingAllSecurityScopedResource();
}

} // namespace
