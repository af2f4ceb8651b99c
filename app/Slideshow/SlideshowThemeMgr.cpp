#include "Slideshow/SlideshowThemeMgr.h"

#include "Slideshow/SlideshowNotifications.h"

#include "foundation/Bundle.h"
#include "foundation/NotificationCenter.h"
#include "foundation/OperationQueue.h"
#include "foundation/RunLoop.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

QString defaultBundleFolder()
{
    const QString catalogue = kpv::Bundle::mainBundle().pathForResource(
        QStringLiteral("SSThemes/") + QLatin1String(SlideshowThemeMgr::kCatalogueName));
    return catalogue.isEmpty() ? QString() : QFileInfo(catalogue).absolutePath();
}

QString defaultUserFolder()
{
    const QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    return data.isEmpty() ? QString() : data + QStringLiteral("/themesContents");
}

} // namespace

SlideshowThemeMgr::SlideshowThemeMgr(MainConfig* mainConfig)
    : m_mainConfig(mainConfig)
    , m_bundleFolder(defaultBundleFolder())
    , m_userFolder(defaultUserFolder())
    , m_queue(std::make_unique<kpv::OperationQueue>())
{
    m_queue->setName(QStringLiteral("SlideshowThemeMgr"));
    m_queue->setMaxConcurrentOperationCount(1);
}

SlideshowThemeMgr::~SlideshowThemeMgr()
{
    uninit();
}

void SlideshowThemeMgr::setThemeFolders(const QString& bundleFolder, const QString& userFolder)
{
    m_bundleFolder = bundleFolder;
    m_userFolder = userFolder;
}

void SlideshowThemeMgr::loadCatalogueFolder(const QString& folder, std::vector<SlideshowTheme>* themes,
                                            QStringList* problems)
{
    if (folder.isEmpty())
        return;
    const QString path = folder + QLatin1Char('/') + QLatin1String(kCatalogueName);
    QFile file(path);
    if (!file.exists())
        return;
    if (!file.open(QIODevice::ReadOnly)) {
        problems->append(QStringLiteral("%1: %2").arg(path, file.errorString()));
        return;
    }
    // Read one byte past the cap so that an oversized file is refused rather than cut short.
    const QByteArray bytes = file.read(4 * 1024 * 1024 + 1);
    if (bytes.trimmed().isEmpty())
        return; // an empty catalogue lists no themes
    SlideshowThemeCatalogue catalogue;
    QString error;
    if (!parseSlideshowThemeCatalogue(bytes, QFileInfo(path).absolutePath(), &catalogue, &error)) {
        problems->append(QStringLiteral("%1: %2").arg(path, error));
        return;
    }
    for (const QString& s : catalogue.skipped)
        problems->append(QStringLiteral("%1: %2").arg(path, s));
    for (SlideshowTheme& t : catalogue.themes)
        themes->push_back(std::move(t));
}

void SlideshowThemeMgr::startLoad()
{
    // uninit (also run by the destructor) waits for this operation, so the manager outlives it.
    struct LoadOperation : kpv::Operation {
        SlideshowThemeMgr* mgr;
        QString bundle, user;
        void main() override
        {
            std::vector<SlideshowTheme> themes;
            QStringList problems;
            loadCatalogueFolder(bundle, &themes, &problems);
            if (isCancelled())
                return;
            loadCatalogueFolder(user, &themes, &problems);
            if (isCancelled())
                return;
            {
                std::lock_guard lock(mgr->m_lock);
                mgr->m_themes = std::move(themes);
                mgr->m_problems = std::move(problems);
                mgr->m_loaded = true;
            }
            kpv::RunLoop::performOnMainThread(
                [] { kpv::NotificationCenter::defaultCenter().postNotification(DidLoadSlideshowThemesNotification); },
                false);
        }
    };
    auto load = std::make_shared<LoadOperation>();
    load->mgr = this;
    load->bundle = m_bundleFolder;
    load->user = m_userFolder;
    m_queue->addOperation(load);
}

void SlideshowThemeMgr::uninit()
{
    if (!m_queue)
        return;
    m_queue->cancelAllOperations();
    m_queue->waitUntilAllOperationsAreFinished();
}

void SlideshowThemeMgr::waitUntilLoadFinished()
{
    m_queue->waitUntilAllOperationsAreFinished();
}

bool SlideshowThemeMgr::isLoaded() const
{
    std::lock_guard lock(m_lock);
    return m_loaded;
}

std::vector<SlideshowTheme> SlideshowThemeMgr::themes() const
{
    std::lock_guard lock(m_lock);
    return m_themes;
}

std::vector<SlideshowTheme> SlideshowThemeMgr::themesOfType(SlideshowTheme::Type type) const
{
    std::lock_guard lock(m_lock);
    std::vector<SlideshowTheme> out;
    for (const SlideshowTheme& t : m_themes)
        if (t.type == type)
            out.push_back(t);
    return out;
}

std::optional<SlideshowTheme> SlideshowThemeMgr::themeByID(qint64 themeID, qint64 groupID) const
{
    std::lock_guard lock(m_lock);
    for (const SlideshowTheme& t : m_themes)
        if (t.themeID == themeID && t.groupID == groupID)
            return t;
    return std::nullopt;
}

QStringList SlideshowThemeMgr::loadProblems() const
{
    std::lock_guard lock(m_lock);
    return m_problems;
}
