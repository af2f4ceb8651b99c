#pragma once
// The application's settings: a cache in front of the user defaults with one typed property per
// setting, its default and its validation. Setters only change the cache and mark it dirty;
// save() writes the cached values back. Main thread only.
//
// Yes/no settings come in two stored encodings, fixed per key:
//   - 1 yes / 2 no, so that an absent key (reads 0) means "the default is in force";
//   - 0 no / 1 yes, default no, any non-zero reads as yes.

#include <QPointF>
#include <QRectF>
#include <QString>
#include <QUrl>
#include <QVariant>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "Model/LMPathString.h"
#include "Model/ShareAutoLoginInfo.h"
#include "Model/ShareWebsiteType.h"

class SlideshowBkgrdMusicList;

namespace kpv {
class UserDefaults;
}

class MainConfig {
public:
    // Uses the application's standard user defaults.
    MainConfig();
    // Uses the given store, which must outlive the settings (tests pass a store over a file).
    explicit MainConfig(kpv::UserDefaults& defaults);
    ~MainConfig();
    MainConfig(const MainConfig&) = delete;
    MainConfig& operator=(const MainConfig&) = delete;

    bool autoSaveWhenChanged() const { return autoSaveWhenChanged_; }
    void setAutoSaveWhenChanged(bool on) { autoSaveWhenChanged_ = on; }
    // Some setter changed the cache since the last full save.
    bool isDirty() const { return dirty_; }
    // Called each time the cache turns dirty, so that the program can save soon after a change
    // rather than only at quit, and learn while it runs that the settings cannot be saved.
    void setChangeHandler(std::function<void()> handler) { changeHandler_ = std::move(handler); }
    // Told the reason once when the settings file cannot be written (see UserDefaults).
    void setSaveFailureHandler(std::function<void(const QString& why)> handler);
    // Why the settings file could not be read at start (so the defaults hold), and where it is
    // kept at the first save; empty when it was read (see UserDefaults).
    QString settingsLoadFailure() const;
    QString settingsKeptAs() const;
    // The folder of the settings file, where the program's other small files live too.
    QString settingsFolder() const;

    // ---- General operations ----
    qint64 integerValueForKey(const QString& key, qint64 defaultValue, qint64 invalidValueForCheck);
    QVariant configInfoValueForKey(const QString& key);
    void setConfigInfoValue(const QVariant& value, const QString& forKey);
    void setIntegerValue(qint64 value, const QString& forKey, qint64 currentValue);
    QUrl urlForKey(const QString& key);
    void setUrl(const QUrl& url, const QString& forKey);
    std::optional<QPointF> pointValueForKey(const QString& key);
    void setPointValue(std::optional<QPointF> point, const QString& forKey);

    // Writes the cached values whose key matches (an empty key matches all) in the fixed key
    // order, synchronises the store and saves the music list. Does not clear the dirty flag.
    // False, with the reason in *error when given, when the settings file could not be written.
    bool saveForKey(const QString& key = QString(), QString* error = nullptr);
    // When dirty: a full saveForKey() and the flag cleared; else synchronise only when asked.
    // False, with the reason in *error when given, when the settings file could not be written.
    bool save(bool synchronizeAnyway, QString* error = nullptr);

    std::vector<int> supportedShareWebsiteTypes() const;
    static bool isShareTypeSupported(qint64 type);
    static QString keyNameByWebsiteType(qint64 type);

    // ---- Yes/no settings stored as 1 yes / 2 no ----
    bool photoBinVisible();
    void setPhotoBinVisible(bool visible);
    bool slideshowRandomPlayMode();
    void setSlideshowRandomPlayMode(bool on);
    bool slideshowMute();
    void setSlideshowMute(bool on);
    bool mouseWheelEnabled();
    void setMouseWheelEnabled(bool on);
    bool zoomWhileMouseWheel();
    void setZoomWhileMouseWheel(bool on);
    bool animationZoom();
    void setAnimationZoom(bool on);

    // ---- Yes/no settings stored as 0 no / 1 yes ----
    bool defaultViewerConfigured();
    void setDefaultViewerConfigured(bool on);
    bool userHasDoneRate();
    void setUserHasDoneRate(bool on);
    bool loveTipsAlreadyShowed();
    void setLoveTipsAlreadyShowed(bool on);
    bool exitFavoriteTipsAlreadyShowed();
    void setExitFavoriteTipsAlreadyShowed(bool on);
    bool keepPrevScaleWhenNavFile();
    void setKeepPrevScaleWhenNavFile(bool on);
    bool viewPhotosInSubfolder();
    void setViewPhotosInSubfolder(bool on);
    // Dialogs in the desktop's colours instead of the program's dark ones.
    bool useDesktopColours();
    void setUseDesktopColours(bool on);

    // ---- Integer settings ----
    qint64 curShareType();
    void setCurShareType(qint64 type);
    // 1 by name, 2 by modification date, plus 0x1000 for descending.
    qint64 sortByType();
    void setSortByType(qint64 type);
    qint64 curSlideshowEffectDuration();
    void setCurSlideshowEffectDuration(qint64 seconds);
    qint64 lastSlideshowTransitionStyle();
    qint64 curOptionTabType();
    void setCurOptionTabType(qint64 tab);
    qint64 runCountBeforeRate();
    void setRunCountBeforeRate(qint64 count);
    qint64 filePropertyMask();
    void setFilePropertyMask(qint64 mask);
    const std::vector<qint64>& slideshowEffectDurations();

    // ---- Other settings ----
    QUrl lastSaveAsDirUrl();
    void setLastSaveAsDirUrl(const QUrl& url);
    QUrl lastSaveDirUrlForFavFile();
    void setLastSaveDirUrlForFavFile(const QUrl& url);
    double favoriteThumbZoomValue();
    void setFavoriteThumbZoomValue(double value);
    // {"SlideshowType", "ThemeID", "ThemeGroupID"}; empty when none.
    QVariantMap curSlideshowThemeID();
    void setCurSlideshowThemeID(const QVariantMap& themeID);
    QString batchRenameConfigNameBase();
    void setBatchRenameConfigNameBase(const QString& nameBase);
    QVariantMap batchResizeConfigInfo();
    void setBatchResizeConfigInfo(const QVariantMap& info);
    QVariantMap batchConvertConfigInfo();
    void setBatchConvertConfigInfo(const QVariantMap& info);
    std::optional<QRectF> mainWindowFrame();
    void setMainWindowFrame(std::optional<QRectF> frame);
    std::optional<QPointF> navigationWindowOrigin();
    void setNavigationWindowOrigin(std::optional<QPointF> origin);
    std::optional<QPointF> infoWindowOrigin();
    void setInfoWindowOrigin(std::optional<QPointF> origin);
    QVariantMap prevAssociatedApps();
    void setPrevAssociatedApps(const QVariantMap& apps);
    QString runVersionBeforeRate();
    void setRunVersionBeforeRate(const QString& version);

    // ---- Sign-ins ----
    std::optional<ShareAutoLoginInfo> shareAutoLoginInfoForWebsite(qint64 type);
    void setShareAutoLoginInfo(const std::optional<ShareAutoLoginInfo>& info, qint64 forWebsite,
                               bool saveImmediately);
    void removeAutoLoginInfoByWebsiteType(qint64 type);

    // ---- Background music, forwarded to the owned list ----
    SlideshowBkgrdMusicList& slideshowBkgrdMusicList() { return *musicList_; }
    bool isUsingDefaultThemeBkgrdMusic();
    std::vector<LMPathString> recentMusicPaths();
    std::optional<LMPathString> curPlayingMusicPath();
    void setCurPlayingMusic(bool useThemeMusic, const std::optional<LMPathString>& path, bool saveImmediately);
    void removeFromRecentMusicPaths(const LMPathString& path, bool saveImmediately);

private:
    bool yesNo12(const char* key, bool defaultYes);
    void setYesNo12(const char* key, bool yes, bool current);
    bool yesNo01(const char* key);
    void setYesNo01(const char* key, bool yes, bool current);
    QVariantMap mapValueForKey(const QString& key);
    QString stringValueForKey(const QString& key);
    void setObjectIfChanged(const QVariant& value, const QVariant& current, const QString& key);
    void markChanged(const QString& key);
    void setDirty();

    kpv::UserDefaults& defaults_;
    bool autoSaveWhenChanged_ = false;
    QVariantMap configInfos_;
    std::unique_ptr<SlideshowBkgrdMusicList> musicList_;
    std::vector<qint64> arraySlideshowEffectDurations_;
    bool dirty_ = false;
    std::function<void()> changeHandler_;
};
