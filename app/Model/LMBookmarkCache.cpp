#include "Model/LMBookmarkCache.h"

LMBookmarkCache& LMBookmarkCache::defaultCache()
{
    static LMBookmarkCache cache;
    return cache;
}

void LMBookmarkCache::cacheSecurityScopedURL(const QUrl&) {}

std::optional<QUrl> LMBookmarkCache::securityScopedURLAllowingAccessToPath(const QString&) const
{
    return std::nullopt;
}

std::optional<QUrl> LMBookmarkCache::securityScopedURLAllowingAccessToURL(const QUrl& url) const
{
    return securityScopedURLAllowingAccessToPath(url.toLocalFile());
}

void LMBookmarkCache::startAccessingSecurityScopedResourceForPath(const QString&) {}

void LMBookmarkCache::stopAccessingAllSecurityScopedResource() {}
