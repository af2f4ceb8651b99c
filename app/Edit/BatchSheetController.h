#pragma once

// What the batch resize and convert sheets share: the sheet window on the main window, the
// destination folder row with its browse button, the progress row, the run on a queue of the
// sheet's own (Return starts it) with its progress and cancellation (Cancel or Esc), and the one
// report of the files that failed, shown after the sheet has closed. Each sheet adds its own
// controls and decides what a run does.

#include "Edit/EditFileTools.h"
#include "Kit/LMCustomWindow.h"
#include "Kit/LMEventMonitor.h"
#include "Kit/LMIconTextButton.h"
#include "Kit/LMLengthLimitTextField.h"
#include "Model/LMFailedFiles.h"
#include "Model/LMFileInfo.h"
#include "Model/LMPathString.h"

#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class LMButton;
class LMNormalCustomButton;
class LMProgressBar;
class MainConfig;
namespace kpv {
class Operation;
class OperationQueue;
class OpenPanel;
class TextField;
class Window;
} // namespace kpv

// A text field of the sheets: drawn on a field background, and reporting each accepted edit once
// it has been applied (when given a block).
template <class Field>
class BatchReportingField final : public Field {
public:
    BatchReportingField(const kpv::Rect &frame, std::function<void()> changed) : m_changed(std::move(changed))
    {
        this->setFrame(frame);
    }
    bool textView_shouldChangeTextInRange(qint64 location, qint64 length, const QString &replacement) override;
    void drawRect(const kpv::Rect &dirty) override;

private:
    std::function<void()> m_changed;
};

class BatchSheetController {
public:
    using FileInfoList = QList<std::shared_ptr<LMFileInfo>>;
    using CompleteBlock = std::function<void()>;
    // Shows an alert on `parent` and calls `done` when it ends; an alert sheet by default.
    using AlertPresenter = std::function<void(const QString &text, kpv::Window *parent, std::function<void()> done)>;
    // The open panel that chooses a destination folder; tests answer it themselves.
    using FolderPanelFactory = std::function<std::unique_ptr<kpv::OpenPanel>()>;
    // The run, on the worker thread: the files, the failures out, the operation to poll, progress.
    using Run = std::function<int(LMFailedFiles *failed, const kpv::Operation *operation,
                                  const std::function<void(qint64)> &progress)>;

    static constexpr int kCancelled = -2;

    virtual ~BatchSheetController();
    BatchSheetController(const BatchSheetController &) = delete;
    BatchSheetController &operator=(const BatchSheetController &) = delete;

    LMCustomWindow *window() const { return m_window.get(); }

    // Nothing happens (and the block is never called) for an empty list. The block runs once,
    // after the failure report when there is one; the caller keeps the controller until then.
    void beginSheetOnParentWindow(kpv::Window *parent, const FileInfoList &files, CompleteBlock completeBlock);
    // While a run goes: cancels it and leaves the sheet up; else closes the sheet.
    void closeWindow();
    void cancelButtonClicked() { closeWindow(); }
    void closeButtonClicked() { closeWindow(); }
    // Chooses the destination folder with an open panel starting at the field's path.
    void browserButtonClicked();

    bool taskRunning() const { return m_taskRunning; }
    const FileInfoList &srcFileInfos() const { return m_srcFileInfos; }
    const QList<LMPathString> &failedFilePaths() const { return m_failures.paths(); }
    const LMFailedFiles &failures() const { return m_failures; }
    void updateProgressOnThread(qint64 count);
    void updateProgress(qint64 count);
    // Waits for a running worker (tests and shut-down); its result still arrives on the main thread.
    void waitUntilWorkerFinished();

    void setAlertPresenter(AlertPresenter presenter) { m_alertPresenter = std::move(presenter); }
    void setFolderPanelFactory(FolderPanelFactory factory) { m_folderPanelFactory = std::move(factory); }
    // Runs on the worker thread each time a file is done, before the next is begun (tests use it
    // to act at a known point of a run, as another program or the user might).
    void setWorkerProgressHook(std::function<void(qint64 done)> hook) { m_workerProgressHook = std::move(hook); }

    LMLengthLimitTextField *edtDestFolder() const { return m_edtDestFolder; }
    LMIconTextButton *btnBrowseFolder() const { return m_btnBrowseFolder; }
    kpv::TextField *txtProgress() const { return m_txtProgress; }
    LMProgressBar *indicatorProgress() const { return m_indicatorProgress; }
    LMNormalCustomButton *btnRun() const { return m_btnRun; }
    LMNormalCustomButton *btnCancel() const { return m_btnCancel; }

protected:
    // `failedFormatKey`: the report's format, given the number of failed files.
    BatchSheetController(MainConfig *config, const kpv::Size &contentSize, const char *failedFormatKey);

    // The rows every sheet has, placed by the sheet: the destination row at `destY`, the progress
    // row at `progressY`, and the run and Cancel buttons at the bottom right.
    void addDestinationRow(double destY, const QString &destFolder);
    void addProgressRow(double progressY);
    void addButtons(const QString &runTitle, std::function<void()> run);

    // The name preview shows what a run makes of the first file's name.
    QString sampleFileName() const;
    // A field of the name preview: the name as the user reads it (bytes that are not UTF-8 shown
    // as such) and, when longer than the field, shortened in the middle so its extension stays.
    static void setUpPreviewNameField(kpv::TextField *field);
    static void showPreviewName(kpv::TextField *field, const QString &fileName);

    // The destination typed, made when missing; nullopt (after the alert where one is due) when
    // the run must not start.
    std::optional<QString> preparedDestination();
    // Says why `folder` cannot take the files (no permission, a read-only volume, a name too long,
    // a file in the way, a full disk), naming it.
    void alertForUnusableFolder(const QString &folder, const EditFileTools::FolderProblem &problem);
    void showAlert(const QString &text, const QString &message, kpv::Window *parent, std::function<void()> done);
    // Starts the run on a new queue; the sheet ends when it ends.
    void startRun(Run run);

    // The controls follow the running state and the destination field.
    virtual void runningStateChanged() = 0;
    virtual void destinationChanged() = 0;
    virtual void allControlsChanged() = 0;
    // What a run stopped by Cancel or Esc leaves behind, said after the sheet has closed; empty
    // when there is nothing to tell (the sheet then closes silently unless files failed).
    virtual QString stoppedRunSummary() const = 0;

    MainConfig *m_config = nullptr;
    std::unique_ptr<LMCustomWindow> m_window;
    kpv::Window *m_parentWindow = nullptr;
    FileInfoList m_srcFileInfos;
    LMFailedFiles m_failures;
    bool m_taskRunning = false;
    // The last run ended by a cancel rather than by reaching the end of the list.
    bool m_runStopped = false;
    // Lets results posted to the main thread find out that the controller is gone.
    std::shared_ptr<BatchSheetController *> m_alive;

private:
    void workerEnded(int result, const LMFailedFiles &failed);
    void sheetDidEnd(std::int64_t returnCode);

    const char *m_failedFormatKey;
    LMLengthLimitTextField *m_edtDestFolder = nullptr;
    LMIconTextButton *m_btnBrowseFolder = nullptr;
    kpv::TextField *m_txtProgress = nullptr;
    LMProgressBar *m_indicatorProgress = nullptr;
    LMNormalCustomButton *m_btnRun = nullptr;
    LMNormalCustomButton *m_btnCancel = nullptr;
    std::unique_ptr<kpv::OperationQueue> m_operationQueue;
    std::unique_ptr<kpv::OpenPanel> m_folderPanel;
    LMEventMonitorPtr m_eventMonitor;
    CompleteBlock m_completeBlock;
    AlertPresenter m_alertPresenter;
    FolderPanelFactory m_folderPanelFactory;
    std::function<void(qint64)> m_workerProgressHook;
};
