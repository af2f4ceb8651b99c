#include "Browse/FavFileCopyProcessController.h"

#include "foundation/FileHelpers.h"
#include "foundation/FileNames.h"

#include "Kit/LMCustomWindow.h"
#include "Kit/LMNineSliceImageRep.h"
#include "Kit/LMNormalCustomButton.h"
#include "Kit/LMProgressBar.h"
#include "Model/LMBlockOperation.h"
#include "Model/LMPathTools.h"

#include "appkit/Control.h"
#include "foundation/Bundle.h"
#include "foundation/OperationQueue.h"
#include "foundation/RunLoop.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <sys/stat.h>

namespace {
QString tr(const char* key)
{
    return kpv::Bundle::mainBundle().localizedString(QString::fromLatin1(key));
}

// Makes the folder and its missing parents by the names' bytes (a name need not be UTF-8).
bool makeFolderWithParents(const QString& directory)
{
    const QByteArray path = kpv::encodeFileName(directory);
    for (qsizetype end = path.indexOf('/', 1); ; end = path.indexOf('/', end + 1)) {
        const QByteArray part = end < 0 ? path : path.left(end);
        if (!part.isEmpty() && ::mkdir(part.constData(), 0777) != 0 && errno != EEXIST)
            return false;
        if (end < 0)
            break;
    }
    return kpv::pathStatus(directory).isDirectory;
}
} // namespace

FavFileCopyProcessController::FavFileCopyProcessController()
    : m_self(std::make_shared<FavFileCopyProcessController*>(this))
{
}

FavFileCopyProcessController::~FavFileCopyProcessController()
{
    *m_self = nullptr;
    if (m_operationQueue) {
        m_operationQueue->cancelAllOperations();
        m_operationQueue->waitUntilAllOperationsAreFinished();
    }
}

void FavFileCopyProcessController::loadWindow()
{
    if (m_window)
        return;
    m_window = std::make_unique<LMCustomWindow>(kpv::Rect(0, 0, 360, 120), 0);
    auto* root = new kpv::View(kpv::Rect(0, 0, 360, 120));
    m_txtProgressTitle = new kpv::TextField(kpv::Rect(20, 80, 320, 22));
    m_txtProgressTitle->setStringValue(tr("IDS_SAVEAS"));
    m_txtProgress = new kpv::TextField(kpv::Rect(20, 56, 320, 20));
    m_indicatorProgress = new LMProgressBar(kpv::Rect(20, 40, 320, 12));
    m_indicatorProgress->setProgessImage(
        LMNineSliceImageRep::loadImageWithoutExtension(QStringLiteral("BT_Process")), 2.0, 2.0,
        std::make_shared<LMNineSliceImageRep>(QStringLiteral("BG_Process"), kpv::Point{8, 4}, kpv::Point{8, 4}));
    auto* cancel = new LMNormalCustomButton(kpv::Rect(250, 8, 90, 26));
    cancel->setTitle(tr("IDS_Cancel"));
    std::weak_ptr<FavFileCopyProcessController*> self = m_self;
    cancel->setAction([self](kpv::View*) {
        if (auto s = self.lock(); s && *s)
            (*s)->cancelButtonClicked();
    });
    root->addSubview(m_txtProgressTitle);
    root->addSubview(m_txtProgress);
    root->addSubview(m_indicatorProgress);
    root->addSubview(cancel);
    m_window->setContentView(root);
    m_window->setPopWindowPanel();
    // Esc stops the copy as Cancel does.
    m_window->setCancelButton(cancel);
}

bool FavFileCopyProcessController::beginCopyFiles(const QList<LMPathString>& filePaths, const QString& directory,
                                                  kpv::Window* parentWindow)
{
    if (filePaths.isEmpty() || directory.isEmpty() || m_running)
        return false;
    const kpv::PathStatus folder = kpv::pathStatus(directory);
    if (!folder.exists) {
        if (!makeFolderWithParents(directory)) {
            if (m_report)
                m_report(kpv::Bundle::mainBundle().localizedStringWithFormat(QStringLiteral("IDS_FolderCannotBeMade"),
                                                                         kpv::displayFileName(directory)));
            return false;
        }
    } else if (!folder.isDirectory) {
        if (m_report)
            m_report(kpv::Bundle::mainBundle().localizedStringWithFormat(QStringLiteral("IDS_FolderCannotBeMade"),
                                                                         kpv::displayFileName(directory)));
        return false;
    }

    m_running = true;
    ++m_generation;
    m_finishCount = 0;
    m_filePaths = filePaths;
    m_failures = LMFailedFiles();
    if (parentWindow) {
        loadWindow();
        m_indicatorProgress->setMinValue(0);
        m_indicatorProgress->setMaxValue(double(filePaths.size()));
        std::weak_ptr<FavFileCopyProcessController*> self = m_self;
        m_window->beginSheet(parentWindow, [self](std::int64_t returnCode) {
            if (auto s = self.lock(); s && *s && (*s)->m_running)
                (*s)->endCopy(returnCode != 0);
        });
    }
    updateProgressUI();

    m_operationQueue = std::make_unique<kpv::OperationQueue>();
    m_operationQueue->setMaxConcurrentOperationCount(1);
    std::shared_ptr<LMBlockOperation> previous;
    std::weak_ptr<FavFileCopyProcessController*> self = m_self;
    const int generation = m_generation;
    for (const LMPathString& path : filePaths) {
        auto op = LMBlockOperation::blockOperationWithBlock([self, path, directory, generation](LMBlockOperation* o) {
            if (o->isCancelled())
                return;
            QString error;
            bool tagsLeftOut = false;
            // Cancel does not wait for the rest of a large photo.
            const bool copied =
                !copyFile(path, directory, &error, &tagsLeftOut, [o] { return o->isCancelled(); }).isEmpty();
            kpv::RunLoop::performOnMainThread(
                [self, path, copied, error, tagsLeftOut, generation] {
                    if (auto s = self.lock(); s && *s)
                        (*s)->didCopyOneFile(path, copied, error, tagsLeftOut, generation);
                },
                false);
        });
        // Strictly one after the other, in list order.
        if (previous)
            op->addDependency(previous);
        previous = op;
        m_operationQueue->addOperation(op);
    }
    return true;
}

QString FavFileCopyProcessController::copyFile(const LMPathString& filePath, const QString& directory, QString* error,
                                              bool* tagsLeftOut, const std::function<bool()>& stop)
{
    const QString name = LMPathString::lastPathComponent(filePath.path());
    // Another writer may take the free name before we write; the copy never replaces a file, so
    // try the next free name a few times.
    for (int attempt = 0; attempt < 4; ++attempt) {
        const QString target = LMPathTools::writableFilePathInDirectory(directory, name);
        if (target.isEmpty())
            break;
        // By the names' bytes, so a name that is not UTF-8 is copied like any other.
        bool taken = false;
        if (kpv::copyFileToNewName(filePath.path(), target, &taken, error, tagsLeftOut, stop))
            return target;
        if (!taken)
            return {}; // the source is gone or unreadable, or the folder refuses the write
    }
    if (error)
        *error = QStringLiteral("no free name was left in %1").arg(kpv::displayFileName(directory));
    return {};
}

QStringList FavFileCopyProcessController::failedFiles() const
{
    QStringList paths;
    for (const LMPathString& path : m_failures.paths())
        paths << path.path();
    return paths;
}

void FavFileCopyProcessController::didCopyOneFile(const LMPathString& path, bool copied, const QString& error,
                                                  bool tagsLeftOut, int generation)
{
    if (!m_running || generation != m_generation)
        return;
    ++m_finishCount;
    if (!copied)
        m_failures.add(path, error);
    else if (tagsLeftOut)
        m_failures.addNote(path, kpv::Bundle::mainBundle().localizedString(QStringLiteral("IDS_TagsNotKeptThere")));
    updateProgressUI();
    if (m_failures.stoppedForRoom() && m_finishCount < fileCount()) {
        // The folder is out of room: every later copy would fail the same way.
        m_failures.setNotTried(fileCount() - m_finishCount);
        if (m_window && m_window->sheetRunning())
            m_window->endSheetWithReturnCode(0);
        else
            endCopy(false);
        return;
    }
    if (m_finishCount >= fileCount()) {
        if (m_window && m_window->sheetRunning())
            m_window->endSheetWithReturnCode(0); // calls endCopy through the sheet's block
        else
            endCopy(false);
    }
}

QString FavFileCopyProcessController::progressText() const
{
    return kpv::Bundle::mainBundle().localizedStringWithFormat(QStringLiteral("IDS_CopyProgress"), m_finishCount,
                                                                fileCount());
}

void FavFileCopyProcessController::updateProgressUI()
{
    if (m_txtProgress)
        m_txtProgress->setStringValue(progressText());
    if (m_indicatorProgress)
        m_indicatorProgress->setDoubleValue(double(m_finishCount));
}

void FavFileCopyProcessController::cancelButtonClicked()
{
    if (!m_running)
        return;
    if (m_window && m_window->sheetRunning())
        m_window->endSheetWithReturnCode(1);
    else
        endCopy(true);
}

void FavFileCopyProcessController::endCopy(bool cancelled)
{
    if (!m_running)
        return;
    m_running = false;
    if (m_operationQueue) {
        m_operationQueue->cancelAllOperations();
        // The running operation is one file copy, which stops at the cancel and never waits for
        // the main thread.
        m_operationQueue->waitUntilAllOperationsAreFinished();
        m_operationQueue.reset();
    }
    // Failures are told once, after the sheet has closed; a cancelled run reports the files that
    // failed before the cancel.
    // Copies made without the tags and comments their photos carry are told with them.
    const kpv::Bundle& bundle = kpv::Bundle::mainBundle();
    if ((!m_failures.isEmpty() || m_failures.hasNotes()) && m_report)
        m_report((m_failures.isEmpty()       ? bundle.localizedString(QStringLiteral("IDS_FavCopiesLackTags"))
                  : m_failures.size() == 1 ? bundle.localizedString(QStringLiteral("IDS_FavCopyFailedOne"))
                                           : bundle.localizedStringWithFormat(QStringLiteral("IDS_FavCopyFailedCount"),
                                                                              long(m_failures.size()))) +
                 QLatin1Char('\n') + m_failures.details());
    (void)cancelled;
}
