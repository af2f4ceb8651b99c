#pragma once
// Copies favourite files, unchanged, into a folder: one file after the other on a queue of its
// own, with a progress sheet and Cancel over the favourites window. A taken name is never
// overwritten: the copy gets the first free "name_N.ext". Files that cannot be copied are skipped;
// the user is told once, when the run ends, which were not copied and why. A folder that has no
// room left ends the run at the first file that did not fit.

#include "Model/LMFailedFiles.h"
#include "Model/LMPathString.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

class LMCustomWindow;
class LMProgressBar;
namespace kpv {
class OperationQueue;
class TextField;
class Window;
}

class FavFileCopyProcessController {
public:
    // Messages for the user (a folder that cannot take the copies, files that were not copied).
    using ReportBlock = std::function<void(const QString& message)>;

    FavFileCopyProcessController();
    ~FavFileCopyProcessController();
    FavFileCopyProcessController(const FavFileCopyProcessController&) = delete;
    FavFileCopyProcessController& operator=(const FavFileCopyProcessController&) = delete;

    void setReportBlock(ReportBlock block) { m_report = std::move(block); }

    // Starts a copy. Without a parent window (tests) the copy runs without a sheet. False when
    // nothing was started: an empty list, an empty folder name, a copy already running, or a
    // folder that is a file or cannot be made (reported).
    bool beginCopyFiles(const QList<LMPathString>& filePaths, const QString& directory, kpv::Window* parentWindow);
    bool isCopyingFiles() const { return m_running; }
    // Cancel: stops the copy at once; the copies made so far stay, the one under way is removed.
    void cancelButtonClicked();

    // Copies one file into the folder under a free name; the new path, or empty on failure with
    // *error (when given) saying why. *tagsLeftOut (when given) tells whether the folder could
    // not take the file's tags and comments along. Once `stop` (when given) answers true, a copy
    // under way ends, leaving nothing of it in the folder.
    static QString copyFile(const LMPathString& filePath, const QString& directory, QString* error = nullptr,
                            bool* tagsLeftOut = nullptr, const std::function<bool()>& stop = {});

    long finishCount() const { return m_finishCount; }
    long fileCount() const { return static_cast<long>(m_filePaths.size()); }
    QStringList failedFiles() const;
    const LMFailedFiles& failures() const { return m_failures; }
    // The progress text ("2/5").
    QString progressText() const;
    LMCustomWindow* fileCopyProgressWindow() const { return m_window.get(); }

private:
    void loadWindow();
    void didCopyOneFile(const LMPathString& path, bool copied, const QString& error, bool tagsLeftOut, int generation);
    void updateProgressUI();
    void endCopy(bool cancelled);

    QList<LMPathString> m_filePaths;
    long m_finishCount = 0;
    LMFailedFiles m_failures;
    bool m_running = false;
    int m_generation = 0; // results of an earlier, ended run are ignored
    std::unique_ptr<kpv::OperationQueue> m_operationQueue;
    std::unique_ptr<LMCustomWindow> m_window;
    kpv::TextField* m_txtProgressTitle = nullptr;
    kpv::TextField* m_txtProgress = nullptr;
    LMProgressBar* m_indicatorProgress = nullptr;
    ReportBlock m_report;
    std::shared_ptr<FavFileCopyProcessController*> m_self;
};
