#include "Model/LMAppServices.h"

#include <QFileInfo>

#include <atomic>

namespace {
std::atomic<LMAppServices *> g_services{nullptr};
}

bool LMAppServices::checkSupportForFilePathUrl(const QUrl &url, const QStringList &extensions)
{
    const QString name = QFileInfo(url.path()).fileName();
    const qsizetype dot = name.lastIndexOf(u'.');
    // A leading point names a hidden file, not an extension; a trailing point gives none.
    if (dot <= 0 || dot == name.size() - 1)
        return false;
    return extensions.contains(name.mid(dot + 1).toLower(), Qt::CaseSensitive);
}

LMAppServices *LMAppServices::shared() { return g_services.load(std::memory_order_acquire); }

void LMAppServices::setShared(LMAppServices *services) { g_services.store(services, std::memory_order_release); }
