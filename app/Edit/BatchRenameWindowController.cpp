#include "Edit/BatchRenameWindowController.h"

#include "Kit/LMAlertSheet.h"
#include "Kit/LMEventMonitorCenter.h"
#include "Kit/LMLengthLimitTextField.h"
#include "Kit/LMNineSliceImageRep.h"
#include "Kit/LMNormalCustomButton.h"
#include "Kit/LMProgressBar.h"
#include "Model/LMBlockOperation.h"
#include "Model/LMPerformSelectorWrapper.h"
#include "Model/MainConfig.h"

#include "appkit/Control.h"
#include "appkit/Event.h"
#include "appkit/Image.h"
#include "foundation/Bundle.h"
#include "foundation/OperationQueue.h"
#include "foundation/StringFormat.h"

namespace {

QString text(const char *key) { return kpv::Bundle::mainBundle().localizedString(QString::fromLatin1(key)); }

// The base-name field: refuses a leading point (as every path-name field does) and reports each
// accepted edit after it has been applied.
class NameBaseField final : public LMPathNameTextField {
public:
    explicit NameBaseField(const kpv::Rect &frame, std::function<void()> changed)
        : m_changed(std::move(changed))
    {
        setFrame(frame);
    }
    bool textView_shouldChangeTextInRange(qint64 location, qint64 length, const QString &replacement) override
    {
        const bool ok = LMPathNameTextField::textView_shouldChangeTextInRange(location, length, replacement);
        if (ok && m_changed) {
            auto changed = m_changed;
            LMPerformSelectorWrapper().performWithBlock([changed] { changed(); }, 0);
        }
        return ok;
    }

private:
    std::function<void()> m_changed;
};

} // namespace

BatchRenameWindowController::BatchRenameWindowController(MainConfig *config)
    : m_config(config), m_alive(std::make_shared<BatchRenameWindowController *>(this))
{
    loadWindow();
}

BatchRenameWindowController::~BatchRenameWindowController()
{
    *m_alive = nullptr;
    if (m_operationQueue) {
        m_operationQueue->cancelAllOperations();
        m_operationQueue->waitUntilAllOperationsAreFinished();
    }
    if (m_eventMonitor)
        LMEventMonitorCenter::eventMonitorCenter().removeMonitor(m_eventMonitor);
}

void BatchRenameWindowController::loadWindow()
{
    m_window = std::make_unique<LMCustomWindow>(kpv::Rect(0, 0, 420, 170));
    kpv::View *content = m_window->contentView();
    auto alive = m_alive;

    auto *caption = new kpv::TextField(kpv::Rect(20, 128, 120, 22));
    caption->setStringValue(text("IDS_NewNameBase"));
    content->addSubview(caption);
    m_edtNewNameBase = new NameBaseField(kpv::Rect(140, 128, 260, 22), [alive] {
        if (*alive)
            (*alive)->newNameBaseTextDidChange();
    });
    // At most 32 characters, blanks at either end not counted.
    m_edtNewNameBase->setAllowedMaxLength(32, true);
    const QString stored = m_config ? m_config->batchRenameConfigNameBase() : QString();
    m_edtNewNameBase->setStringValue(stored.isNull() ? QStringLiteral("Photo_") : stored);
    content->addSubview(m_edtNewNameBase);

    m_txtOldFileName = new kpv::TextField(kpv::Rect(20, 98, 180, 22));
    content->addSubview(m_txtOldFileName);
    m_txtNewFileName = new kpv::TextField(kpv::Rect(220, 98, 180, 22));
    content->addSubview(m_txtNewFileName);

    m_indicatorProgress = new LMProgressBar(kpv::Rect(20, 66, 300, 12));
    m_indicatorProgress->setProgessImage(kpv::Image::imageNamed(QStringLiteral("BT_Process")), 2.0, 2.0,
                                         std::make_shared<LMNineSliceImageRep>(QStringLiteral("BG_Process"),
                                                                               kpv::Point{8, 4}, kpv::Point{8, 4}));
    content->addSubview(m_indicatorProgress);
    m_txtProgress = new kpv::TextField(kpv::Rect(330, 60, 70, 22));
    content->addSubview(m_txtProgress);

    m_btnRename = new LMNormalCustomButton(kpv::Rect(300, 16, 100, 30));
    m_btnRename->setTitle(text("IDS_Rename"));
    m_btnRename->setTarget(this);
    m_btnRename->setAction([alive](kpv::View *) {
        if (*alive)
            (*alive)->renameButtonClicked();
    });
    content->addSubview(m_btnRename);
    m_btnCancel = new LMNormalCustomButton(kpv::Rect(190, 16, 100, 30));
    m_btnCancel->setTitle(text("IDS_Cancel"));
    m_btnCancel->setTarget(this);
    m_btnCancel->setAction([alive](kpv::View *) {
        if (*alive)
            (*alive)->cancelButtonClicked();
    });
    content->addSubview(m_btnCancel);
}

QString BatchRenameWindowController::newNameBaseString() const
{
    return BatchRenameWorker::trimmedNameBase(m_edtNewNameBase->stringValue());
}

void BatchRenameWindowController::setNewNameBaseText(const QString &value)
{
    m_edtNewNameBase->setStringValue(value);
    newNameBaseTextDidChange();
}

void BatchRenameWindowController::newNameBaseTextDidChange() { updateUIByMaske(kMaskPreview); }

void BatchRenameWindowController::updateUIByMaske(int mask)
{
    const QString base = newNameBaseString();
    if (mask & kMaskPreview) {
        if (m_txtOldFileName->stringValue().isEmpty() && !m_srcFilePaths.isEmpty())
            m_txtOldFileName->setStringValue(LMPathString::lastPathComponent(m_srcFilePaths.front().path()));
        const QString oldName = m_txtOldFileName->stringValue();
        m_txtNewFileName->setStringValue(base.isEmpty() || oldName.isEmpty()
                                             ? QString()
                                             : BatchRenameWorker::newFileName(oldName, base, 1));
    }
    if (mask & kMaskRunning) {
        m_edtNewNameBase->setHidden(false);
        m_indicatorProgress->setHidden(!m_renameTaskRunning);
    }
    if (mask & (kMaskPreview | kMaskRunning))
        m_btnRename->setEnabled(BatchRenameWorker::isUsableNameBase(base) && !m_renameTaskRunning);
}

void BatchRenameWindowController::beginSheetOnParentWindow(kpv::Window *parent, const QList<LMPathString> &files,
                                                           CompleteBlock completeBlock)
{
    if (files.isEmpty())
        return;
    m_parentWindow = parent;
    m_srcFilePaths = files;
    m_renamedFilePaths.reset();
    m_failedRenameFilePaths.clear();
    m_completeBlock = std::move(completeBlock);
    m_indicatorProgress->setMinValue(0);
    m_indicatorProgress->setMaxValue(double(files.size()));
    updateProgress(0);
    updateUIByMaske(kMaskAll);

    auto alive = m_alive;
    m_eventMonitor = LMEventMonitorCenter::eventMonitorCenter().addLocalMonitorForEventsMatchingMask(
        kpv::AnyEventMask, [alive](const kpv::Event &e) {
            BatchRenameWindowController *self = *alive;
            if (!self || e.type() != kpv::KeyDown || e.keyCode() != 53 || !self->m_window->isKeyWindow())
                return false;
            self->closeWindow();
            return true;
        });
    m_window->beginSheet(parent, [alive](std::int64_t code) {
        if (*alive)
            (*alive)->sheetDidEnd(code);
    });
}

void BatchRenameWindowController::renameButtonClicked()
{
    const QString base = newNameBaseString();
    if (!BatchRenameWorker::isUsableNameBase(base) || m_renameTaskRunning)
        return;
    if (m_config)
        m_config->setBatchRenameConfigNameBase(base);
    m_renameTaskRunning = true;
    updateUIByMaske(kMaskRunning);

    m_operationQueue = std::make_unique<kpv::OperationQueue>();
    const QList<LMPathString> sources = m_srcFilePaths;
    auto alive = m_alive;
    // A run cancelled before it started never runs its block; the completion runs either way, so
    // the sheet always learns that the run has ended.
    struct Outcome {
        int result = BatchRenameWorker::kCancelled;
        BatchRenameWorker::RenameMap renamed;
        QList<LMPathString> failed;
    };
    auto outcome = std::make_shared<Outcome>();
    auto op = LMBlockOperation::blockOperationWithBlock([sources, base, alive, outcome](LMBlockOperation *operation) {
        outcome->result = BatchRenameWorker::renameFilesOnThread(
            sources, base, &outcome->renamed, &outcome->failed, operation, [alive](qint64 n) {
                LMPerformSelectorWrapper().performOnMainThreadWithBlock(
                    [alive, n] {
                        if (*alive)
                            (*alive)->updateProgress(n);
                    },
                    false);
            });
    });
    op->setCompletionBlock([alive, outcome] {
        LMPerformSelectorWrapper().performOnMainThreadWithBlock(
            [alive, outcome] {
                if (*alive)
                    (*alive)->workerEnded(outcome->result, outcome->renamed, outcome->failed);
            },
            false);
    });
    m_operationQueue->addOperation(op);
}

void BatchRenameWindowController::workerEnded(int result, const BatchRenameWorker::RenameMap &renamed,
                                              const QList<LMPathString> &failed)
{
    m_renamedFilePaths = renamed;
    m_failedRenameFilePaths = failed;
    m_renameTaskRunning = false;
    m_window->endSheetWithReturnCode(result == BatchRenameWorker::kCancelled ? 1 : 0);
}

void BatchRenameWindowController::closeWindow()
{
    if (m_renameTaskRunning) {
        if (m_operationQueue)
            m_operationQueue->cancelAllOperations();
        return;
    }
    m_window->close();
}

void BatchRenameWindowController::updateProgressOnThread(qint64 count)
{
    auto alive = m_alive;
    LMPerformSelectorWrapper().performOnMainThreadWithBlock(
        [alive, count] {
            if (*alive)
                (*alive)->updateProgress(count);
        },
        false);
}

void BatchRenameWindowController::updateProgress(qint64 count)
{
    m_txtProgress->setStringValue(kpv::stringWithFormat(QStringLiteral("%ld/%ld"), count, qint64(m_srcFilePaths.size())));
    m_indicatorProgress->setDoubleValue(double(count));
}

void BatchRenameWindowController::waitUntilWorkerFinished()
{
    if (m_operationQueue)
        m_operationQueue->waitUntilAllOperationsAreFinished();
}

void BatchRenameWindowController::sheetDidEnd(std::int64_t returnCode)
{
    if (m_eventMonitor) {
        LMEventMonitorCenter::eventMonitorCenter().removeMonitor(m_eventMonitor);
        m_eventMonitor.reset();
    }
    m_btnRename->setTarget(nullptr);
    m_btnCancel->setTarget(nullptr);
    const auto renamed = m_renamedFilePaths;
    CompleteBlock complete = m_completeBlock;
    if (!m_failedRenameFilePaths.isEmpty() && returnCode == 0) {
        const QString message = kpv::stringWithFormat(text("IDS_FailedRename_Fmt"), int(m_failedRenameFilePaths.size()));
        AlertPresenter present = m_alertPresenter;
        kpv::Window *parent = m_parentWindow;
        LMPerformSelectorWrapper().performOnMainThreadWithBlock(
            [present, message, parent, complete, renamed] {
                auto done = [complete, renamed] {
                    if (complete)
                        complete(renamed);
                };
                if (present) {
                    present(message, parent, done);
                    return;
                }
                auto *alert = new LMAlertSheet;
                alert->beginAlertSheet(message, text("IDS_OK"), QString(), QString(), parent,
                                       [alert, done](std::int32_t) {
                                           done();
                                           // The alert is still unwinding: free it on the next turn.
                                           LMPerformSelectorWrapper().performWithBlock([alert] { delete alert; }, 0);
                                       },
                                       QString());
            },
            false);
        return;
    }
    if (complete)
        complete(renamed);
}
