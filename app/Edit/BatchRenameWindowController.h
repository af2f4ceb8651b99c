#pragma once

// The batch rename sheet: a base-name field with a preview of the first new name, Rename and
// Cancel, and a progress bar while the worker renames on its own queue. The sheet ends when the
// run ends (or at once when closed while idle); failures are reported once, after it has closed,
// and the caller gets the map of old to new paths.

#include "Edit/BatchRenameWorker.h"
#include "Kit/LMCustomWindow.h"
#include "Kit/LMEventMonitor.h"

#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class LMLengthLimitTextField;
class LMNormalCustomButton;
class LMProgressBar;
class MainConfig;
namespace kpv {
class OperationQueue;
class TextField;
class Window;
} // namespace kpv

class BatchRenameWindowController {
public:
    // Gets the renames (nullopt when no renaming ran).
    using CompleteBlock = std::function<void(const std::optional<BatchRenameWorker::RenameMap> &renamed)>;
    // Shows the failure alert on `parent` and calls `done` when it ends; the default is an alert sheet.
    using AlertPresenter = std::function<void(const QString &text, kpv::Window *parent, std::function<void()> done)>;

    static constexpr int kMaskPreview = 1;
    static constexpr int kMaskRunning = 2;
    static constexpr int kMaskAll = 0xFFFF;

    // Builds the sheet; the base name starts as the stored one, or "Photo_".
    explicit BatchRenameWindowController(MainConfig *config);
    ~BatchRenameWindowController();
    BatchRenameWindowController(const BatchRenameWindowController &) = delete;
    BatchRenameWindowController &operator=(const BatchRenameWindowController &) = delete;

    LMCustomWindow *window() const { return m_window.get(); }
    LMCustomWindow *batchRenameWindow() const { return window(); }

    // Nothing happens (and the block is never called) for an empty list.
    void beginSheetOnParentWindow(kpv::Window *parent, const QList<LMPathString> &files, CompleteBlock completeBlock);

    QString newNameBaseString() const;
    void setNewNameBaseText(const QString &text);
    void updateUIByMaske(int mask);
    void newNameBaseTextDidChange();
    void renameButtonClicked();
    void cancelButtonClicked() { closeWindow(); }
    void closeButtonClicked() { closeWindow(); }
    void closeWindow();
    void updateProgressOnThread(qint64 count);
    void updateProgress(qint64 count);

    bool renameTaskRunning() const { return m_renameTaskRunning; }
    // Waits for a running worker (tests and shut-down); its result still arrives on the main thread.
    void waitUntilWorkerFinished();
    void setAlertPresenter(AlertPresenter presenter) { m_alertPresenter = std::move(presenter); }

    LMLengthLimitTextField *edtNewNameBase() const { return m_edtNewNameBase; }
    kpv::TextField *txtOldFileName() const { return m_txtOldFileName; }
    kpv::TextField *txtNewFileName() const { return m_txtNewFileName; }
    kpv::TextField *txtProgress() const { return m_txtProgress; }
    LMProgressBar *indicatorProgress() const { return m_indicatorProgress; }
    LMNormalCustomButton *btnRename() const { return m_btnRename; }
    LMNormalCustomButton *btnCancel() const { return m_btnCancel; }

private:
    void loadWindow();
    void sheetDidEnd(std::int64_t returnCode);
    void workerEnded(int result, const BatchRenameWorker::RenameMap &renamed, const QList<LMPathString> &failed);

    MainConfig *m_config = nullptr;
    std::unique_ptr<LMCustomWindow> m_window;
    LMLengthLimitTextField *m_edtNewNameBase = nullptr;
    kpv::TextField *m_txtOldFileName = nullptr;
    kpv::TextField *m_txtNewFileName = nullptr;
    kpv::TextField *m_txtProgress = nullptr;
    LMProgressBar *m_indicatorProgress = nullptr;
    LMNormalCustomButton *m_btnRename = nullptr;
    LMNormalCustomButton *m_btnCancel = nullptr;

    kpv::Window *m_parentWindow = nullptr;
    QList<LMPathString> m_srcFilePaths;
    std::optional<BatchRenameWorker::RenameMap> m_renamedFilePaths;
    QList<LMPathString> m_failedRenameFilePaths;
    std::unique_ptr<kpv::OperationQueue> m_operationQueue;
    bool m_renameTaskRunning = false;
    LMEventMonitorPtr m_eventMonitor;
    CompleteBlock m_completeBlock;
    AlertPresenter m_alertPresenter;
    // Lets results posted to the main thread find out that the controller is gone.
    std::shared_ptr<BatchRenameWindowController *> m_alive;
};
