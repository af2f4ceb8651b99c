#pragma once
// The slideshow's background music choice: the theme's own music or a file of the user's, and the
// few files chosen most recently. Kept in the settings under "slideshowBkgrdMusicList":
//   "pathList"      array of path strings, oldest first (written only when not empty)
//   "curPath"       the chosen file (written only when the list is not empty)
//   "IsCustomMusic" whether the user's file plays instead of the theme's music
// The list loads itself on first use and writes only when it changed. Main thread only.
//
// Header-only: the settings (app_model) own one, and app_slideshow links app_model.

#include "Model/LMBookmarkCache.h"
#include "Model/LMPathString.h"
#include "foundation/UserDefaults.h"

#include <QStringList>
#include <QVariantList>
#include <QVariantMap>

#include <algorithm>
#include <optional>
#include <vector>

class SlideshowBkgrdMusicList {
public:
    static constexpr const char* kSettingsKey = "slideshowBkgrdMusicList";
    static constexpr const char* kPathListKey = "pathList";
    static constexpr const char* kCurPathKey = "curPath";
    static constexpr const char* kIsCustomMusicKey = "IsCustomMusic";
    static constexpr std::size_t kMaxRecentPaths = 3;

    // The list reads and writes `defaults`, which must outlive it.
    explicit SlideshowBkgrdMusicList(kpv::UserDefaults& defaults = kpv::UserDefaults::standardUserDefaults())
        : defaults_(defaults)
    {
    }

    // Writes the list and synchronises the settings, only when something changed since the last save.
    void save()
    {
        if (!changed_)
            return;
        QVariantMap dict;
        if (!recent_.empty()) {
            QVariantList paths;
            for (const LMPathString& p : recent_)
                paths.append(p.path());
            dict.insert(kPathListKey, paths);
            if (cur_)
                dict.insert(kCurPathKey, cur_->path());
        }
        dict.insert(kIsCustomMusicKey, isCustomMusic_);
        defaults_.setObject(dict, QString::fromLatin1(kSettingsKey));
        defaults_.synchronize();
        changed_ = false;
    }

    bool isUsingDefaultThemeBkgrdMusic()
    {
        loadIfNeeded();
        return !isCustomMusic_;
    }

    // At most three files, oldest first.
    std::vector<LMPathString> recentMusicPaths()
    {
        loadIfNeeded();
        return recent_;
    }

    std::optional<LMPathString> curPlayingMusicPath()
    {
        loadIfNeeded();
        return cur_;
    }

    // Chooses the theme's music, or the user's file `path`, which becomes the newest of the
    // recent files (the oldest is dropped beyond three). Choosing a file of one's own without
    // a file changes nothing.
    void setCurPlayingMusic(bool useThemeMusic, const std::optional<LMPathString>& path, bool saveImmediately)
    {
        loadIfNeeded();
        if (useThemeMusic) {
            if (isCustomMusic_) {
                isCustomMusic_ = false;
                changed_ = true;
            }
        } else if (path && !path->isEmpty()) {
            if (!isCustomMusic_ || cur_ != path) {
                isCustomMusic_ = true;
                cur_ = *path;
                changed_ = true;
            }
            addRecent(*path);
        }
        if (saveImmediately)
            save();
    }

    // Forgets a recent file; when it was the chosen one, the theme's music plays again.
    void removeFromRecentMusicPaths(const LMPathString& path, bool saveImmediately)
    {
        loadIfNeeded();
        const auto it = std::find(recent_.begin(), recent_.end(), path);
        if (it != recent_.end()) {
            recent_.erase(it);
            changed_ = true;
        }
        if (cur_ == path) {
            cur_.reset();
            isCustomMusic_ = false;
            changed_ = true;
        }
        if (saveImmediately)
            save();
    }

    bool hasUnsavedChanges() const { return changed_; }

private:
    void addRecent(const LMPathString& path)
    {
        const auto it = std::find(recent_.begin(), recent_.end(), path);
        if (it != recent_.end()) {
            if (it + 1 == recent_.end())
                return; // already the newest
            recent_.erase(it);
        }
        recent_.push_back(path);
        while (recent_.size() > kMaxRecentPaths)
            recent_.erase(recent_.begin());
        changed_ = true;
    }

    void loadIfNeeded()
    {
        if (loaded_)
            return;
        loaded_ = true;
        const QVariantMap dict = defaults_.dictionaryForKey(QString::fromLatin1(kSettingsKey));
        isCustomMusic_ = dict.value(kIsCustomMusicKey).toBool();
        // A confined process could not open the stored files anyway.
        if (LMBookmarkCache::defaultCache().isSandBoxed())
            return;
        for (const QVariant& v : dict.value(kPathListKey).toList()) {
            const QString s = v.toString();
            if (s.isEmpty())
                continue; // not a path: written by something else, skip it
            const LMPathString p(s, false);
            if (std::find(recent_.begin(), recent_.end(), p) == recent_.end())
                recent_.push_back(p);
        }
        // Keep the newest three of a list that was edited by hand.
        while (recent_.size() > kMaxRecentPaths)
            recent_.erase(recent_.begin());
        const QString cur = dict.value(kCurPathKey).toString();
        if (!cur.isEmpty())
            cur_ = LMPathString(cur, false);
        if (!cur_)
            isCustomMusic_ = false; // no file to play: the theme's music it is
    }

    kpv::UserDefaults& defaults_;
    bool loaded_ = false;
    bool changed_ = false;
    bool isCustomMusic_ = false;
    std::vector<LMPathString> recent_;
    std::optional<LMPathString> cur_;
};
