#pragma once
// The registry of slideshow themes. The application makes it at start with the settings, starts
// reading the theme catalogues on the manager's own queue once launch has completed, and cancels
// and waits for that work at exit. Themes come from two catalogues "SlideShowTheme.xml": the one
// in the bundle's "SSThemes" folder and the one in the user-data folder "themesContents". Either
// may be missing or empty; that simply means no themes from there. Main thread, except for the
// loading itself, whose results are guarded by a lock.

#include "Slideshow/SlideshowThemeLoading.h"
#include "Slideshow/SlideshowTheme.h"

#include <QString>
#include <QStringList>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

class MainConfig;
namespace kpv {
class OperationQueue;
}

class SlideshowThemeMgr : public SlideshowThemeLoading {
public:
    static constexpr const char* kCatalogueName = "SlideShowTheme.xml";

    // `mainConfig` is not owned and may be null.
    explicit SlideshowThemeMgr(MainConfig* mainConfig);
    ~SlideshowThemeMgr() override;
    SlideshowThemeMgr(const SlideshowThemeMgr&) = delete;
    SlideshowThemeMgr& operator=(const SlideshowThemeMgr&) = delete;

    // The folders that hold the catalogues (tests point them elsewhere; empty: none).
    void setThemeFolders(const QString& bundleFolder, const QString& userFolder);
    QString bundleThemeFolder() const { return m_bundleFolder; }
    QString userThemeFolder() const { return m_userFolder; }

    // Queues one load of both catalogues; the themes of an earlier load stay until it is done.
    void startLoad() override;
    // Cancels loading and waits until the queue is idle. Safe to call more than once.
    void uninit() override;
    // Waits until queued loading has finished, without cancelling it.
    void waitUntilLoadFinished();

    bool isLoaded() const;
    std::vector<SlideshowTheme> themes() const;
    std::vector<SlideshowTheme> themesOfType(SlideshowTheme::Type type) const;
    std::optional<SlideshowTheme> themeByID(qint64 themeID, qint64 groupID) const;
    // Why a catalogue could not be read, or which entries were left out; empty after a clean load.
    QStringList loadProblems() const;
    MainConfig* mainConfig() const { return m_mainConfig; }

    // Reads one catalogue folder: a missing catalogue gives no themes and no problem.
    static void loadCatalogueFolder(const QString& folder, std::vector<SlideshowTheme>* themes, QStringList* problems);

private:
    MainConfig* m_mainConfig;
    QString m_bundleFolder;
    QString m_userFolder;
    std::unique_ptr<kpv::OperationQueue> m_queue;
    mutable std::mutex m_lock;
    bool m_loaded = false;
    std::vector<SlideshowTheme> m_themes;
    QStringList m_problems;
};
