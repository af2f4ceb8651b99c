#pragma once
// The store of folders the user granted access to, for systems that confine the application to a
// sandbox and let it reopen such folders only through saved access grants. Linux desktops run the
// viewer unconfined: every file the user can read, the viewer can read. So the store reports itself
// unsupported, never reads or writes the "cachedBookmarks" setting, and every access call succeeds
// without doing anything. Callers keep asking it, so the application's flow stays the same.
// Main thread only.

#include <QString>
#include <QUrl>

#include <optional>

class LMBookmarkCache {
public:
    // The one store of the process.
    static LMBookmarkCache& defaultCache();

    // Whether the process runs confined. Never here.
    static bool checkSandBoxed() { return false; }
    bool isSandBoxed() const { return isSandBoxed_; }
    // Whether the store keeps access grants at all. Never here.
    bool supportBookmarkCache() const { return false; }

    // Remembers access to a folder: nothing to remember here.
    void cacheSecurityScopedURL(const QUrl& folderURL);
    // The granted folder that holds the path; none here, and none is needed to read it.
    std::optional<QUrl> securityScopedURLAllowingAccessToPath(const QString& path) const;
    std::optional<QUrl> securityScopedURLAllowingAccessToURL(const QUrl& url) const;
    // Opens and closes access: reading needs no grant here, so both succeed at once.
    void startAccessingSecurityScopedResourceForPath(const QString& path);
    void stopAccessingAllSecurityScopedResource();

private:
    LMBookmarkCache() = default;
    bool isSandBoxed_ = checkSandBoxed();
};
