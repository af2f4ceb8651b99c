#include "Model/MainConfig.h"

#include <QFileInfo>

#include "Model/LMPathString.h"
#include "Model/SlideshowBkgrdMusicList.h"
#include "foundation/UserDefaults.h"

#include <algorithm>
#include <cmath>

namespace {

// Keys of the user defaults. They are stored data: never rename one.
constexpr const char* kFilePropertyMaskNumber = "filePropertyMaskNumber";
constexpr const char* kFilePropertyMaskLegacy = "filePropertyMask";
constexpr const char* kLastSaveAsDirUrl = "lastSaveAsDirUrl";
constexpr const char* kLastSaveDirUrlForFavFile = "lastSaveDirUrlForFavFile";
constexpr const char* kPhotoBinVisibleMode = "photoBinVisibleMode";
constexpr const char* kCurShareWebsiteType = "curShareWebsiteType";
constexpr const char* kFavoriteThumbZoomValue = "favoriteThumbZoomValue";
constexpr const char* kCurSlideShowThemeID = "CurSlideShowThemeID";
constexpr const char* kCurSlideshowTransitionStyle = "curSlideshowTransitionStyle";
constexpr const char* kCurSlideshowEffectDuration = "curSlideshowEffectDuration";
constexpr const char* kSlideshowPlayMode = "slideshowPlayMode";
constexpr const char* kSlideshowVolumeMode = "slideshowVolumeMode";
constexpr const char* kMouseWheelEnabled = "MouseWheelEnabled";
constexpr const char* kMouseWheelMode = "mouseWheelMode";
constexpr const char* kZoomMode = "ZoomMode";
constexpr const char* kSortByType = "sortByType";
constexpr const char* kBatchRenameConfigNameBase = "batchRenameConfigNameBase";
constexpr const char* kBatchResizeConfigInfo = "batchResizeConfigInfo";
constexpr const char* kBatchConvertConfigInfo = "batchConvertConfigInfo";
constexpr const char* kMainWindowFrame = "MainWindowFrame";
constexpr const char* kNavigationWindowOrigin = "NavigationWindowOrigin";
constexpr const char* kInfoWindowOrigin = "InfoWindowOrigin";
constexpr const char* kDefaultViewerConfigured = "defaultViewerConfigured";
constexpr const char* kPrevAssociatedApps = "prevAssociatedApps";
constexpr const char* kCurOptionTabType = "curOptionTabType";
constexpr const char* kUserHasDoneRate = "userHasDoneRate";
constexpr const char* kRunVersionBeforeRate = "runVersionBeforeRate";
constexpr const char* kRunCountBeforeRate = "runCountBeforeRate";
constexpr const char* kLoveTipsAlreadyShowed = "loveTipsAlreadyShowed";
constexpr const char* kExitFavoriteTipsAlreadyShowed = "ExitFavoriteTipsAlreadyShowed";
constexpr const char* kKeepPrevScaleWhenNavFile = "keepPrevScaleWhenNavFile";
constexpr const char* kViewPhotosInSubfolder = "ViewPhotosInSubfolder";
constexpr const char* kUseDesktopColours = "UseDesktopColours";

constexpr const char* kOriginalX = "Original_X";
constexpr const char* kOriginalY = "Original_Y";
constexpr const char* kSizeWidth = "Size_Width";
constexpr const char* kSizeHeight = "Size_Height";

constexpr const char* kThemeSlideshowType = "SlideshowType";
constexpr const char* kThemeID = "ThemeID";
constexpr const char* kThemeGroupID = "ThemeGroupID";

constexpr qint64 kSortDescendingFlag = 0x1000;
constexpr qint64 kDefaultFilePropertyMask = 14;
constexpr double kDefaultFavoriteThumbZoom = 192;
// Transition styles at or above this number belong to no built-in 2D theme.
constexpr qint64 kTransitionStyleLimit = 13;

enum class WriteKind { Object, Url, Integer, Double };
struct SavedKey {
    const char* key;
    WriteKind kind;
};

// Settings are written in this order; the sign-ins go between the zoom value and the theme.
constexpr SavedKey kKeysBeforeSignIns[] = {
    {kFilePropertyMaskNumber, WriteKind::Object},  {kLastSaveAsDirUrl, WriteKind::Url},
    {kLastSaveDirUrlForFavFile, WriteKind::Url},   {kPhotoBinVisibleMode, WriteKind::Integer},
    {kCurShareWebsiteType, WriteKind::Integer},    {kFavoriteThumbZoomValue, WriteKind::Double},
};
constexpr SavedKey kKeysAfterSignIns[] = {
    {kCurSlideShowThemeID, WriteKind::Object},
    {kCurSlideshowTransitionStyle, WriteKind::Integer},
    {kCurSlideshowEffectDuration, WriteKind::Integer},
    {kSlideshowPlayMode, WriteKind::Integer},
    {kSlideshowVolumeMode, WriteKind::Integer},
    {kMouseWheelEnabled, WriteKind::Integer},
    {kMouseWheelMode, WriteKind::Integer},
    {kZoomMode, WriteKind::Integer},
    {kSortByType, WriteKind::Integer},
    {kBatchRenameConfigNameBase, WriteKind::Object},
    {kBatchResizeConfigInfo, WriteKind::Object},
    {kBatchConvertConfigInfo, WriteKind::Object},
    {kMainWindowFrame, WriteKind::Object},
    {kNavigationWindowOrigin, WriteKind::Object},
    {kInfoWindowOrigin, WriteKind::Object},
    {kDefaultViewerConfigured, WriteKind::Integer},
    {kPrevAssociatedApps, WriteKind::Object},
    {kCurOptionTabType, WriteKind::Integer},
    {kUserHasDoneRate, WriteKind::Integer},
    {kRunVersionBeforeRate, WriteKind::Object},
    {kRunCountBeforeRate, WriteKind::Integer},
    {kLoveTipsAlreadyShowed, WriteKind::Integer},
    {kExitFavoriteTipsAlreadyShowed, WriteKind::Integer},
    {kKeepPrevScaleWhenNavFile, WriteKind::Integer},
    {kViewPhotosInSubfolder, WriteKind::Integer},
    {kUseDesktopColours, WriteKind::Integer},
    // The Open Recent list, newest first (the main window controller keeps it).
    {"recentDocuments", WriteKind::Object},
};

bool isValidSortBase(qint64 base) { return base == 1 || base == 2; }

QPointF pointFromDictionary(const QVariantMap& dict)
{
    // Stored as single-precision numbers; read them back the same way so that a value read and
    // written again compares equal.
    return QPointF(dict.value(kOriginalX).toFloat(), dict.value(kOriginalY).toFloat());
}

} // namespace

QString MainConfig::settingsFolder() const
{
    return QFileInfo(defaults_.filePath()).absolutePath();
}

MainConfig::MainConfig() : MainConfig(kpv::UserDefaults::standardUserDefaults()) {}

MainConfig::MainConfig(kpv::UserDefaults& defaults)
    : defaults_(defaults), musicList_(std::make_unique<SlideshowBkgrdMusicList>(defaults))
{
}

MainConfig::~MainConfig() = default;

// ---- General operations ----

qint64 MainConfig::integerValueForKey(const QString& key, qint64 defaultValue, qint64 invalidValueForCheck)
{
    if (key.isEmpty())
        return defaultValue;
    const auto cached = configInfos_.constFind(key);
    if (cached != configInfos_.constEnd())
        return cached->toLongLong();
    qint64 value = defaults_.integerForKey(key);
    if (value == invalidValueForCheck)
        value = defaultValue;
    configInfos_.insert(key, QVariant::fromValue<qint64>(value));
    return value;
}

QVariant MainConfig::configInfoValueForKey(const QString& key)
{
    if (key.isEmpty())
        return {};
    const auto cached = configInfos_.constFind(key);
    if (cached != configInfos_.constEnd())
        return *cached;
    QVariant value = defaults_.objectForKey(key);
    if (value.isValid())
        configInfos_.insert(key, value);
    return value;
}

void MainConfig::setConfigInfoValue(const QVariant& value, const QString& forKey)
{
    if (!value.isValid() || forKey.isEmpty())
        return;
    configInfos_.insert(forKey, value);
    markChanged(forKey);
}

void MainConfig::markChanged(const QString& key)
{
    if (autoSaveWhenChanged_)
        saveForKey(key);
    else
        setDirty();
}

void MainConfig::setDirty()
{
    const bool wasClean = !dirty_;
    dirty_ = true;
    if (wasClean && changeHandler_)
        changeHandler_();
}

void MainConfig::setSaveFailureHandler(std::function<void(const QString&)> handler)
{
    defaults_.setSaveFailureHandler(std::move(handler));
}

QString MainConfig::settingsLoadFailure() const
{
    return defaults_.loadFailure();
}

QString MainConfig::settingsKeptAs() const
{
    return defaults_.loadFailureKeptAs();
}

void MainConfig::setIntegerValue(qint64 value, const QString& forKey, qint64 currentValue)
{
    if (forKey.isEmpty() || value == currentValue)
        return;
    setConfigInfoValue(QVariant::fromValue<qint64>(value), forKey);
}

QUrl MainConfig::urlForKey(const QString& key)
{
    if (key.isEmpty())
        return {};
    const auto cached = configInfos_.constFind(key);
    if (cached != configInfos_.constEnd())
        return cached->toUrl();
    const QUrl url = defaults_.URLForKey(key);
    if (!url.isEmpty())
        configInfos_.insert(key, url);
    return url;
}

void MainConfig::setUrl(const QUrl& url, const QString& forKey)
{
    if (url.isEmpty() || url == urlForKey(forKey))
        return;
    setConfigInfoValue(url, forKey);
}

std::optional<QPointF> MainConfig::pointValueForKey(const QString& key)
{
    const QVariantMap dict = mapValueForKey(key);
    if (dict.isEmpty())
        return std::nullopt;
    return pointFromDictionary(dict);
}

void MainConfig::setPointValue(std::optional<QPointF> point, const QString& forKey)
{
    if (point == pointValueForKey(forKey))
        return;
    if (!point || point->isNull())
        return; // the zero point means "no position": keep what is stored
    QVariantMap dict;
    dict.insert(kOriginalX, static_cast<float>(point->x()));
    dict.insert(kOriginalY, static_cast<float>(point->y()));
    setConfigInfoValue(dict, forKey);
}

QVariantMap MainConfig::mapValueForKey(const QString& key)
{
    if (key.isEmpty())
        return {};
    const auto cached = configInfos_.constFind(key);
    if (cached != configInfos_.constEnd())
        return cached->toMap();
    QVariantMap dict = defaults_.dictionaryForKey(key);
    if (!dict.isEmpty())
        configInfos_.insert(key, dict);
    return dict;
}

QString MainConfig::stringValueForKey(const QString& key)
{
    const QVariant value = configInfoValueForKey(key);
    return value.isValid() ? value.toString() : QString();
}

void MainConfig::setObjectIfChanged(const QVariant& value, const QVariant& current, const QString& key)
{
    if (!value.isValid() || value == current)
        return;
    setConfigInfoValue(value, key);
}

// ---- Saving ----

bool MainConfig::saveForKey(const QString& key, QString* error)
{
    auto write = [&](const QString& name, WriteKind kind) {
        if (!key.isEmpty() && key != name)
            return;
        const auto cached = configInfos_.constFind(name);
        if (cached == configInfos_.constEnd())
            return;
        switch (kind) {
        case WriteKind::Object:
            defaults_.setObject(*cached, name);
            break;
        case WriteKind::Url:
            defaults_.setURL(cached->toUrl(), name);
            break;
        case WriteKind::Integer:
            defaults_.setInteger(cached->toLongLong(), name);
            break;
        case WriteKind::Double:
            defaults_.setDouble(cached->toDouble(), name);
            break;
        }
    };
    for (const SavedKey& k : kKeysBeforeSignIns)
        write(QString::fromLatin1(k.key), k.kind);
    for (int type : supportedShareWebsiteTypes())
        write(keyNameByWebsiteType(type), WriteKind::Object);
    for (const SavedKey& k : kKeysAfterSignIns)
        write(QString::fromLatin1(k.key), k.kind);
    const bool saved = defaults_.synchronize(error);
    musicList_->save();
    return saved;
}

bool MainConfig::save(bool synchronizeAnyway, QString* error)
{
    if (dirty_) {
        dirty_ = false;
        return saveForKey(QString(), error);
    }
    return !synchronizeAnyway || defaults_.synchronize(error);
}

// ---- Sites ----

std::vector<int> MainConfig::supportedShareWebsiteTypes() const
{
    return std::vector<int>(std::begin(kShareSignInWebsiteTypes), std::end(kShareSignInWebsiteTypes));
}

bool MainConfig::isShareTypeSupported(qint64 type)
{
    return (type >= ShareWebsiteTypeFacebook && type <= ShareWebsiteTypeTumblr) || type == ShareWebsiteTypeEmail ||
           type == ShareWebsiteTypePhotoLibrary;
}

QString MainConfig::keyNameByWebsiteType(qint64 type)
{
    switch (type) {
    case ShareWebsiteTypeFacebook:
        return QStringLiteral("shareLoginInfoFaceBook");
    case ShareWebsiteTypeFlickr:
        return QStringLiteral("shareLoginInfoFlickr");
    case ShareWebsiteTypeTwitter:
        return QStringLiteral("shareLoginInfoTwitter");
    case ShareWebsiteTypeTumblr:
        return QStringLiteral("shareLoginInfoTumblr");
    default:
        return {};
    }
}

// ---- Yes/no helpers ----

bool MainConfig::yesNo12(const char* key, bool defaultYes)
{
    return integerValueForKey(QString::fromLatin1(key), defaultYes ? 1 : 2, 0) == 1;
}

void MainConfig::setYesNo12(const char* key, bool yes, bool current)
{
    setIntegerValue(yes ? 1 : 2, QString::fromLatin1(key), current ? 1 : 2);
}

bool MainConfig::yesNo01(const char* key)
{
    return integerValueForKey(QString::fromLatin1(key), 0, 0) != 0;
}

void MainConfig::setYesNo01(const char* key, bool yes, bool current)
{
    setIntegerValue(yes ? 1 : 0, QString::fromLatin1(key), current ? 1 : 0);
}

bool MainConfig::photoBinVisible() { return yesNo12(kPhotoBinVisibleMode, true); }
void MainConfig::setPhotoBinVisible(bool v) { setYesNo12(kPhotoBinVisibleMode, v, photoBinVisible()); }
bool MainConfig::slideshowRandomPlayMode() { return yesNo12(kSlideshowPlayMode, false); }
void MainConfig::setSlideshowRandomPlayMode(bool v) { setYesNo12(kSlideshowPlayMode, v, slideshowRandomPlayMode()); }
bool MainConfig::slideshowMute() { return yesNo12(kSlideshowVolumeMode, false); }
void MainConfig::setSlideshowMute(bool v) { setYesNo12(kSlideshowVolumeMode, v, slideshowMute()); }
bool MainConfig::mouseWheelEnabled() { return yesNo12(kMouseWheelEnabled, true); }
void MainConfig::setMouseWheelEnabled(bool v) { setYesNo12(kMouseWheelEnabled, v, mouseWheelEnabled()); }
bool MainConfig::zoomWhileMouseWheel() { return yesNo12(kMouseWheelMode, true); }
void MainConfig::setZoomWhileMouseWheel(bool v) { setYesNo12(kMouseWheelMode, v, zoomWhileMouseWheel()); }
bool MainConfig::animationZoom() { return yesNo12(kZoomMode, true); }
void MainConfig::setAnimationZoom(bool v) { setYesNo12(kZoomMode, v, animationZoom()); }

bool MainConfig::defaultViewerConfigured() { return yesNo01(kDefaultViewerConfigured); }
void MainConfig::setDefaultViewerConfigured(bool v) { setYesNo01(kDefaultViewerConfigured, v, defaultViewerConfigured()); }
bool MainConfig::userHasDoneRate() { return yesNo01(kUserHasDoneRate); }
void MainConfig::setUserHasDoneRate(bool v) { setYesNo01(kUserHasDoneRate, v, userHasDoneRate()); }
bool MainConfig::loveTipsAlreadyShowed() { return yesNo01(kLoveTipsAlreadyShowed); }
void MainConfig::setLoveTipsAlreadyShowed(bool v) { setYesNo01(kLoveTipsAlreadyShowed, v, loveTipsAlreadyShowed()); }
bool MainConfig::exitFavoriteTipsAlreadyShowed() { return yesNo01(kExitFavoriteTipsAlreadyShowed); }
void MainConfig::setExitFavoriteTipsAlreadyShowed(bool v)
{
    setYesNo01(kExitFavoriteTipsAlreadyShowed, v, exitFavoriteTipsAlreadyShowed());
}
bool MainConfig::keepPrevScaleWhenNavFile() { return yesNo01(kKeepPrevScaleWhenNavFile); }
void MainConfig::setKeepPrevScaleWhenNavFile(bool v) { setYesNo01(kKeepPrevScaleWhenNavFile, v, keepPrevScaleWhenNavFile()); }
bool MainConfig::viewPhotosInSubfolder() { return yesNo01(kViewPhotosInSubfolder); }
void MainConfig::setViewPhotosInSubfolder(bool v) { setYesNo01(kViewPhotosInSubfolder, v, viewPhotosInSubfolder()); }
bool MainConfig::useDesktopColours() { return yesNo01(kUseDesktopColours); }
void MainConfig::setUseDesktopColours(bool v) { setYesNo01(kUseDesktopColours, v, useDesktopColours()); }

// ---- Integer settings ----

qint64 MainConfig::curShareType()
{
    const qint64 type = integerValueForKey(QString::fromLatin1(kCurShareWebsiteType), ShareWebsiteTypeFacebook, 0);
    return isShareTypeSupported(type) ? type : qint64(ShareWebsiteTypeFacebook);
}

void MainConfig::setCurShareType(qint64 type)
{
    setIntegerValue(type, QString::fromLatin1(kCurShareWebsiteType), curShareType());
}

qint64 MainConfig::sortByType()
{
    const qint64 type = integerValueForKey(QString::fromLatin1(kSortByType), 1, 0);
    const qint64 flag = type & kSortDescendingFlag;
    if (!isValidSortBase(type & ~kSortDescendingFlag))
        return flag + 1;
    return type;
}

void MainConfig::setSortByType(qint64 type)
{
    if (type == 0)
        return;
    setIntegerValue(type, QString::fromLatin1(kSortByType), sortByType());
}

const std::vector<qint64>& MainConfig::slideshowEffectDurations()
{
    if (arraySlideshowEffectDurations_.empty())
        arraySlideshowEffectDurations_ = {1, 2, 3, 4, 5, 10, 20, 30};
    return arraySlideshowEffectDurations_;
}

qint64 MainConfig::curSlideshowEffectDuration()
{
    const qint64 seconds = integerValueForKey(QString::fromLatin1(kCurSlideshowEffectDuration), 2, 0);
    const auto& offered = slideshowEffectDurations();
    return std::find(offered.begin(), offered.end(), seconds) != offered.end() ? seconds : 2;
}

void MainConfig::setCurSlideshowEffectDuration(qint64 seconds)
{
    setIntegerValue(seconds, QString::fromLatin1(kCurSlideshowEffectDuration), curSlideshowEffectDuration());
}

qint64 MainConfig::lastSlideshowTransitionStyle()
{
    return integerValueForKey(QString::fromLatin1(kCurSlideshowTransitionStyle), 0, kTransitionStyleLimit);
}

qint64 MainConfig::curOptionTabType() { return integerValueForKey(QString::fromLatin1(kCurOptionTabType), 2, 0); }
void MainConfig::setCurOptionTabType(qint64 tab)
{
    setIntegerValue(tab, QString::fromLatin1(kCurOptionTabType), curOptionTabType());
}

qint64 MainConfig::runCountBeforeRate() { return integerValueForKey(QString::fromLatin1(kRunCountBeforeRate), 0, 0); }
void MainConfig::setRunCountBeforeRate(qint64 count)
{
    setIntegerValue(count, QString::fromLatin1(kRunCountBeforeRate), runCountBeforeRate());
}

qint64 MainConfig::filePropertyMask()
{
    const QString key = QString::fromLatin1(kFilePropertyMaskNumber);
    const QVariant value = configInfoValueForKey(key);
    if (value.isValid())
        return value.toLongLong();
    // Older versions kept the mask as a plain integer under another key; carry it over so that the
    // next save writes it under the new key.
    qint64 mask = defaults_.integerForKey(QString::fromLatin1(kFilePropertyMaskLegacy));
    if (mask == 0)
        mask = kDefaultFilePropertyMask;
    configInfos_.insert(key, QVariant::fromValue<qint64>(mask));
    return mask;
}

void MainConfig::setFilePropertyMask(qint64 mask)
{
    setConfigInfoValue(QVariant::fromValue<qint64>(mask), QString::fromLatin1(kFilePropertyMaskNumber));
}

// ---- Other settings ----

QUrl MainConfig::lastSaveAsDirUrl() { return urlForKey(QString::fromLatin1(kLastSaveAsDirUrl)); }
void MainConfig::setLastSaveAsDirUrl(const QUrl& url) { setUrl(url, QString::fromLatin1(kLastSaveAsDirUrl)); }
QUrl MainConfig::lastSaveDirUrlForFavFile() { return urlForKey(QString::fromLatin1(kLastSaveDirUrlForFavFile)); }
void MainConfig::setLastSaveDirUrlForFavFile(const QUrl& url)
{
    setUrl(url, QString::fromLatin1(kLastSaveDirUrlForFavFile));
}

double MainConfig::favoriteThumbZoomValue()
{
    const QString key = QString::fromLatin1(kFavoriteThumbZoomValue);
    const auto cached = configInfos_.constFind(key);
    if (cached != configInfos_.constEnd())
        return cached->toDouble();
    double value = defaults_.doubleForKey(key);
    // Written so that a stored NaN falls back to the default too.
    if (!(value >= 92 && value <= 808))
        value = kDefaultFavoriteThumbZoom;
    configInfos_.insert(key, value);
    return value;
}

void MainConfig::setFavoriteThumbZoomValue(double value)
{
    if (value == favoriteThumbZoomValue() || std::isnan(value))
        return;
    setConfigInfoValue(value, QString::fromLatin1(kFavoriteThumbZoomValue));
}

QVariantMap MainConfig::curSlideshowThemeID()
{
    const QString key = QString::fromLatin1(kCurSlideShowThemeID);
    const QVariant value = configInfoValueForKey(key);
    if (value.isValid())
        return value.toMap();
    // Older versions kept only the 2D transition style; it names a theme of type 0.
    const QString legacyKey = QString::fromLatin1(kCurSlideshowTransitionStyle);
    if (defaults_.dictionaryRepresentation().contains(legacyKey)) {
        const qint64 style = defaults_.integerForKey(legacyKey);
        if (style < kTransitionStyleLimit) {
            QVariantMap themeID;
            themeID.insert(kThemeSlideshowType, QVariant::fromValue<qint64>(0));
            themeID.insert(kThemeID, QVariant::fromValue<qint64>(style));
            themeID.insert(kThemeGroupID, QVariant::fromValue<qint64>(0));
            configInfos_.insert(key, themeID);
            return themeID;
        }
    }
    return {};
}

void MainConfig::setCurSlideshowThemeID(const QVariantMap& themeID)
{
    if (themeID.isEmpty() || themeID == curSlideshowThemeID())
        return;
    setConfigInfoValue(themeID, QString::fromLatin1(kCurSlideShowThemeID));
    if (themeID.value(kThemeSlideshowType).toLongLong() == 0) {
        setIntegerValue(themeID.value(kThemeID).toLongLong(), QString::fromLatin1(kCurSlideshowTransitionStyle),
                        lastSlideshowTransitionStyle());
    }
}

QString MainConfig::batchRenameConfigNameBase() { return stringValueForKey(QString::fromLatin1(kBatchRenameConfigNameBase)); }
void MainConfig::setBatchRenameConfigNameBase(const QString& nameBase)
{
    if (nameBase.isNull())
        return;
    setObjectIfChanged(nameBase, configInfoValueForKey(QString::fromLatin1(kBatchRenameConfigNameBase)),
                       QString::fromLatin1(kBatchRenameConfigNameBase));
}

QVariantMap MainConfig::batchResizeConfigInfo() { return mapValueForKey(QString::fromLatin1(kBatchResizeConfigInfo)); }
void MainConfig::setBatchResizeConfigInfo(const QVariantMap& info)
{
    if (info.isEmpty() || info == batchResizeConfigInfo())
        return;
    setConfigInfoValue(info, QString::fromLatin1(kBatchResizeConfigInfo));
}

QVariantMap MainConfig::batchConvertConfigInfo() { return mapValueForKey(QString::fromLatin1(kBatchConvertConfigInfo)); }
void MainConfig::setBatchConvertConfigInfo(const QVariantMap& info)
{
    if (info.isEmpty() || info == batchConvertConfigInfo())
        return;
    setConfigInfoValue(info, QString::fromLatin1(kBatchConvertConfigInfo));
}

std::optional<QRectF> MainConfig::mainWindowFrame()
{
    const QVariantMap dict = mapValueForKey(QString::fromLatin1(kMainWindowFrame));
    if (dict.isEmpty())
        return std::nullopt;
    return QRectF(dict.value(kOriginalX).toFloat(), dict.value(kOriginalY).toFloat(),
                  dict.value(kSizeWidth).toFloat(), dict.value(kSizeHeight).toFloat());
}

void MainConfig::setMainWindowFrame(std::optional<QRectF> frame)
{
    const QRectF rect = frame.value_or(QRectF());
    if (frame == mainWindowFrame() || rect == QRectF())
        return;
    QVariantMap dict;
    dict.insert(kOriginalX, static_cast<float>(rect.x()));
    dict.insert(kOriginalY, static_cast<float>(rect.y()));
    dict.insert(kSizeWidth, static_cast<float>(rect.width()));
    dict.insert(kSizeHeight, static_cast<float>(rect.height()));
    setConfigInfoValue(dict, QString::fromLatin1(kMainWindowFrame));
}

std::optional<QPointF> MainConfig::navigationWindowOrigin() { return pointValueForKey(QString::fromLatin1(kNavigationWindowOrigin)); }
void MainConfig::setNavigationWindowOrigin(std::optional<QPointF> origin)
{
    setPointValue(origin, QString::fromLatin1(kNavigationWindowOrigin));
}
std::optional<QPointF> MainConfig::infoWindowOrigin() { return pointValueForKey(QString::fromLatin1(kInfoWindowOrigin)); }
void MainConfig::setInfoWindowOrigin(std::optional<QPointF> origin)
{
    setPointValue(origin, QString::fromLatin1(kInfoWindowOrigin));
}

QVariantMap MainConfig::prevAssociatedApps() { return mapValueForKey(QString::fromLatin1(kPrevAssociatedApps)); }
void MainConfig::setPrevAssociatedApps(const QVariantMap& apps)
{
    if (apps.isEmpty() || apps == prevAssociatedApps())
        return;
    setConfigInfoValue(apps, QString::fromLatin1(kPrevAssociatedApps));
}

QString MainConfig::runVersionBeforeRate() { return stringValueForKey(QString::fromLatin1(kRunVersionBeforeRate)); }
void MainConfig::setRunVersionBeforeRate(const QString& version)
{
    if (version.isNull())
        return;
    setObjectIfChanged(version, configInfoValueForKey(QString::fromLatin1(kRunVersionBeforeRate)),
                       QString::fromLatin1(kRunVersionBeforeRate));
}

// ---- Sign-ins ----

std::optional<ShareAutoLoginInfo> MainConfig::shareAutoLoginInfoForWebsite(qint64 type)
{
    const QString key = keyNameByWebsiteType(type);
    if (key.isEmpty())
        return std::nullopt;
    const QVariantMap dict = mapValueForKey(key);
    if (dict.isEmpty())
        return std::nullopt;
    return ShareAutoLoginInfo(dict);
}

void MainConfig::setShareAutoLoginInfo(const std::optional<ShareAutoLoginInfo>& info, qint64 forWebsite,
                                       bool saveImmediately)
{
    const QString key = keyNameByWebsiteType(forWebsite);
    if (!info || key.isEmpty())
        return;
    configInfos_.insert(key, info->dictionary());
    if (saveImmediately || autoSaveWhenChanged_)
        saveForKey(key);
    else
        setDirty();
}

void MainConfig::removeAutoLoginInfoByWebsiteType(qint64 type)
{
    const QString key = keyNameByWebsiteType(type);
    if (key.isEmpty())
        return;
    configInfos_.remove(key);
    defaults_.removeObjectForKey(key);
    // A sign-out must not leave the token in the settings file until some later save.
    defaults_.synchronize();
}

// ---- Background music ----

bool MainConfig::isUsingDefaultThemeBkgrdMusic() { return musicList_->isUsingDefaultThemeBkgrdMusic(); }
std::vector<LMPathString> MainConfig::recentMusicPaths() { return musicList_->recentMusicPaths(); }
std::optional<LMPathString> MainConfig::curPlayingMusicPath() { return musicList_->curPlayingMusicPath(); }
void MainConfig::setCurPlayingMusic(bool useThemeMusic, const std::optional<LMPathString>& path, bool saveImmediately)
{
    musicList_->setCurPlayingMusic(useThemeMusic, path, saveImmediately);
}
void MainConfig::removeFromRecentMusicPaths(const LMPathString& path, bool saveImmediately)
{
    musicList_->removeFromRecentMusicPaths(path, saveImmediately);
}
