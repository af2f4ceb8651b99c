#include "Edit/BatchSheetController.h"

#include "Edit/EditFileTools.h"
#include "Edit/EditPopUpButton.h"
#include "Kit/LMAlertSheet.h"
#include "Kit/LMButton.h"
#include "Kit/LMEventMonitorCenter.h"
#include "Kit/LMIconTextButton.h"
#include "Kit/LMNineSliceImageRep.h"
#include "Kit/LMNormalCustomButton.h"
#include "Kit/LMOpenPanelWrapper.h"
#include "Kit/LMProgressBar.h"
#include "Model/LMBlockOperation.h"
#include "Model/LMPerformSelectorWrapper.h"

#include "appkit/Control.h"
#include "appkit/Event.h"
#include "appkit/GraphicsContext.h"
#include "appkit/Image.h"
#include "appkit/Panels.h"
#include "foundation/Bundle.h"
#include "foundation/FileNames.h"
#include "foundation/OperationQueue.h"
#include "foundation/StringFormat.h"

#include <QDir>
#include <QStringList>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

namespace {
QString text(const char *key) { return kpv::Bundle::mainBundle().localizedString(QString::fromLatin1(key)); }

// The first `head` and last `tail` units of a text longer than both with an ellipsis between,
// never splitting a surrogate pair.
QString cutInTheMiddle(const QString &s, qsizetype head, qsizetype tail)
{
    if (s.size() <= head + tail + 1)
        return s;
    if (s.at(head - 1).isHighSurrogate())
        --head;
    if (s.at(s.size() - tail).isLowSurrogate())
        --tail;
    return s.left(head) + QChar(0x2026) + s.right(tail);
}

// A path for an alert as the user reads it (bytes that are not UTF-8 shown as such), a name too
// long to read shortened in its middle, and the whole too.
QString shownPath(const QString &path)
{
    QStringList names = kpv::displayFileName(path).split(QLatin1Char('/'));
    for (QString &name : names)
        name = cutInTheMiddle(name, 32, 12);
    return cutInTheMiddle(names.join(QLatin1Char('/')), 100, 60);
}
} // namespace

template <class Field>
bool BatchReportingField<Field>::textView_shouldChangeTextInRange(qint64 location, qint64 length,
                                                                  const QString &replacement)
{
    const bool ok = Field::textView_shouldChangeTextInRange(location, length, replacement);
    if (ok && m_changed) {
        auto changed = m_changed;
        LMPerformSelectorWrapper().performWithBlock([changed] { changed(); }, 0);
    }
    return ok;
}

template <class Field>
void BatchReportingField<Field>::drawRect(const kpv::Rect &dirty)
{
    if (kpv::GraphicsContext *gc = kpv::GraphicsContext::current())
        gc->fillRoundedRect(this->bounds(), 3, kpv::Color(1, 1, 1, 0.12));
    Field::drawRect(dirty);
}

template class BatchReportingField<LMLengthLimitTextField>;
template class BatchReportingField<LMNumericTextField>;
template class BatchReportingField<LMPathNameTextField>;

BatchSheetController::BatchSheetController(MainConfig *config, const kpv::Size &contentSize, const char *failedFormatKey)
    : m_config(config), m_alive(std::make_shared<BatchSheetController *>(this)), m_failedFormatKey(failedFormatKey)
{
    m_window = std::make_unique<LMCustomWindow>(kpv::Rect(0, 0, contentSize.width, contentSize.height));
    m_window->setPopWindowPanel();
}

BatchSheetController::~BatchSheetController()
{
    *m_alive = nullptr;
    if (m_operationQueue) {
        m_operationQueue->cancelAllOperations();
        m_operationQueue->waitUntilAllOperationsAreFinished();
    }
    if (m_eventMonitor)
        LMEventMonitorCenter::eventMonitorCenter().removeMonitor(m_eventMonitor);
}

QString BatchSheetController::sampleFileName() const
{
    if (m_srcFileInfos.isEmpty() || !m_srcFileInfos.front())
        return QString();
    return LMPathString::lastPathComponent(m_srcFileInfos.front()->filePath().path());
}

void BatchSheetController::setUpPreviewNameField(kpv::TextField *field)
{
    field->setLineBreakMode(kpv::TextField::LineBreakByTruncatingMiddle);
}

void BatchSheetController::showPreviewName(kpv::TextField *field, const QString &fileName)
{
    field->setStringValue(kpv::displayFileName(fileName));
}

void BatchSheetController::addDestinationRow(double y, const QString &destFolder)
{
    kpv::View *content = m_window->contentView();
    const double width = content->bounds().width();
    auto *caption = new kpv::TextField(kpv::Rect(20, y, 150, 22));
    caption->setStringValue(text("IDS_DestinationFolder"));
    // The caption keeps its whole text; the field starts after it.
    caption->setFrameSize(kpv::Size{std::max(150.0, std::ceil(caption->attributedStringValueSize().width) + 2), 22});
    content->addSubview(caption);
    const double fieldX = std::max(172.0, caption->frame().maxX() + 2);
    auto alive = m_alive;
    // The browse button shows its icon and its name; the field gives it the room it needs.
    const QString browse = text("IDS_Browse");
    const double browseWidth = 20 + 5 + std::ceil(kpv::GraphicsContext::textWidth(browse, kpv::Font())) + 10;
    m_edtDestFolder = new BatchReportingField<LMLengthLimitTextField>(kpv::Rect(fieldX, y, width - fieldX - 28 - browseWidth, 22), [alive] {
        if (*alive)
            (*alive)->destinationChanged();
    });
    // A long path keeps its start and its last folders in view.
    m_edtDestFolder->setLineBreakMode(kpv::TextField::LineBreakByTruncatingMiddle);
    m_edtDestFolder->setStringValue(destFolder);
    content->addSubview(m_edtDestFolder);
    m_btnBrowseFolder = new LMIconTextButton(kpv::Rect(width - 20 - browseWidth, y - 3, browseWidth, 28));
    m_btnBrowseFolder->setImageName(QStringLiteral("icon_browse"));
    m_btnBrowseFolder->setTitle(browse);
    m_btnBrowseFolder->setToolTip(text("IDS_Tips_Browser"));
    m_btnBrowseFolder->setAction([alive](kpv::View *) {
        if (*alive)
            (*alive)->browserButtonClicked();
    });
    content->addSubview(m_btnBrowseFolder);
}

void BatchSheetController::addProgressRow(double y)
{
    kpv::View *content = m_window->contentView();
    const double width = content->bounds().width();
    m_indicatorProgress = new LMProgressBar(kpv::Rect(20, y + 5, width - 130, 12));
    m_indicatorProgress->setProgessImage(kpv::Image::imageNamed(QStringLiteral("BT_Process")), 2.0, 2.0,
                                         std::make_shared<LMNineSliceImageRep>(QStringLiteral("BG_Process"),
                                                                               kpv::Point{8, 4}, kpv::Point{8, 4}));
    m_indicatorProgress->setHidden(true);
    content->addSubview(m_indicatorProgress);
    m_txtProgress = new kpv::TextField(kpv::Rect(width - 100, y, 80, 22));
    content->addSubview(m_txtProgress);
}

void BatchSheetController::addButtons(const QString &runTitle, std::function<void()> run)
{
    kpv::View *content = m_window->contentView();
    const double width = content->bounds().width();
    m_btnRun = new LMNormalCustomButton(kpv::Rect(width - 120, 16, 100, 30));
    m_btnRun->setTitle(runTitle);
    m_btnRun->setTarget(this);
    auto alive = m_alive;
    m_btnRun->setAction([alive, run](kpv::View *) {
        if (*alive)
            run();
    });
    content->addSubview(m_btnRun);
    m_btnCancel = new LMNormalCustomButton(kpv::Rect(width - 230, 16, 100, 30));
    m_btnCancel->setTitle(text("IDS_Cancel"));
    m_btnCancel->setTarget(this);
    m_btnCancel->setAction([alive](kpv::View *) {
        if (*alive)
            (*alive)->cancelButtonClicked();
    });
    content->addSubview(m_btnCancel);
}

void BatchSheetController::beginSheetOnParentWindow(kpv::Window *parent, const FileInfoList &files,
                                                    CompleteBlock completeBlock)
{
    if (files.isEmpty())
        return;
    m_parentWindow = parent;
    m_srcFileInfos = files;
    m_failures = LMFailedFiles();
    m_completeBlock = std::move(completeBlock);
    m_indicatorProgress->setMinValue(0);
    m_indicatorProgress->setMaxValue(double(files.size()));
    updateProgress(0);
    allControlsChanged();

    auto alive = m_alive;
    m_eventMonitor = LMEventMonitorCenter::eventMonitorCenter().addLocalMonitorForEventsMatchingMask(
        kpv::AnyEventMask, [alive](const kpv::Event &e) {
            BatchSheetController *self = *alive;
            if (!self || e.type() != kpv::KeyDown || !self->m_window->isKeyWindow())
                return false;
            if (e.keyCode() == kpv::KeyCode::Escape) {
                self->closeWindow();
                return true;
            }
            // Return and Enter press the sheet's own button (Rename, Resize, Convert) when it
            // can be pressed, as in any dialog.
            if (e.keyCode() == kpv::KeyCode::Return || e.keyCode() == kpv::KeyCode::KeypadEnter) {
                // A button or check box that has the keyboard focus is pressed itself (Return on
                // Cancel cancels). A menu is not: the sheet opens with the focus on its first menu,
                // and Return there runs the sheet as in any dialog; Space or the arrows open it.
                kpv::View *focus = self->m_window->firstResponder();
                if (focus && !focus->acceptsFirstResponder() && !dynamic_cast<EditPopUpButton *>(focus) &&
                    focus->performKeyAction(e))
                    return true;
                if (self->m_btnRun && self->m_btnRun->isEnabled() && !self->m_taskRunning)
                    self->m_btnRun->sendAction(self->m_btnRun->action(), self->m_btnRun->target());
                return true;
            }
            return false;
        });
    m_window->beginSheet(parent, [alive](std::int64_t code) {
        if (*alive)
            (*alive)->sheetDidEnd(code);
    });
    // The keyboard starts on the first control, with its ring (a field has its text selected,
    // so typing replaces it), as the first Tab would.
    if (m_window->sheetRunning() && !m_window->firstResponder())
        m_window->selectNextKeyView();
}

void BatchSheetController::closeWindow()
{
    if (m_taskRunning) {
        if (m_operationQueue)
            m_operationQueue->cancelAllOperations();
        return;
    }
    m_window->close();
}

void BatchSheetController::browserButtonClicked()
{
    if (m_taskRunning || m_folderPanel || !m_edtDestFolder)
        return;
    m_folderPanel = m_folderPanelFactory ? m_folderPanelFactory() : std::make_unique<kpv::OpenPanel>();
    // The panel says what it is for: a folder for the new files, not a photo to open.
    m_folderPanel->setTitle(text("IDS_Tips_Browser"));
    m_folderPanel->setPrompt(text("IDS_ChooseFolderPrompt"));
    m_folderPanel->setCanChooseDirectories(true);
    m_folderPanel->setCanChooseFiles(false);
    m_folderPanel->setAllowsMultipleSelection(false);
    m_folderPanel->setCanCreateDirectories(true);
    const QString start = m_edtDestFolder->stringValue().trimmed();
    if (!start.isEmpty())
        m_folderPanel->setDirectoryURL(start);
    auto alive = m_alive;
    LMOpenPanelWrapper().openPanel(*m_folderPanel, m_window.get(), [alive](std::int64_t result) {
        BatchSheetController *self = *alive;
        if (!self)
            return;
        const QString chosen = result == 1 && self->m_folderPanel ? self->m_folderPanel->URL() : QString();
        self->m_folderPanel.reset();
        if (chosen.isEmpty())
            return;
        EditFileTools::FolderProblem problem;
        if (EditFileTools::checkExistingFolder(chosen, &problem) != EditFileTools::FolderCheck::Ready) {
            LMPerformSelectorWrapper().performWithBlock(
                [alive, chosen, problem] {
                    if (*alive)
                        (*alive)->alertForUnusableFolder(chosen, problem);
                },
                0);
            return;
        }
        self->m_edtDestFolder->setStringValue(chosen);
        self->destinationChanged();
    });
}

std::optional<QString> BatchSheetController::preparedDestination()
{
    QString dest = m_edtDestFolder ? m_edtDestFolder->stringValue().trimmed() : QString();
    // "~" is the home folder, as in a terminal; the field shows where the files will go.
    if (dest == QLatin1String("~") || dest.startsWith(QLatin1String("~/"))) {
        dest = QDir::homePath() + dest.mid(1);
        m_edtDestFolder->setStringValue(dest);
    }
    // Any other path is taken from the root: a relative one would land wherever the program
    // happened to be started, where the user would never find the files.
    if (!dest.isEmpty() && !dest.startsWith(QLatin1Char('/'))) {
        showAlert(kpv::stringWithFormat(text("IDS_DestinationNotFullPath_Fmt"), dest), QString(), m_window.get(), {});
        return std::nullopt;
    }
    EditFileTools::FolderProblem problem;
    switch (EditFileTools::prepareDestinationFolder(dest, &problem)) {
    case EditFileTools::FolderCheck::Empty:
        return std::nullopt;
    case EditFileTools::FolderCheck::NotUsable:
        alertForUnusableFolder(dest, problem);
        return std::nullopt;
    case EditFileTools::FolderCheck::Ready:
        break;
    }
    return dest;
}

void BatchSheetController::alertForUnusableFolder(const QString &folder, const EditFileTools::FolderProblem &problem)
{
    using Fault = EditFileTools::FolderFault;
    const QString shown = shownPath(folder);
    QString title;
    switch (problem.fault) {
    case Fault::None:
    case Fault::NoPermission:
        showAlert(text("IDS_NoPermissionToSaveFiles"), shown, m_window.get(), {});
        return;
    case Fault::ReadOnlyVolume:
        title = kpv::stringWithFormat(text("IDS_DestinationReadOnly_Fmt"), shown);
        break;
    case Fault::NameTooLong:
        title = problem.item.isEmpty()
                    ? kpv::stringWithFormat(text("IDS_DestinationPathTooLong_Fmt"), shown, qlonglong(PATH_MAX))
                    : kpv::stringWithFormat(text("IDS_DestinationNameTooLong_Fmt"), shown,
                                            shownPath(problem.item), qlonglong(NAME_MAX));
        break;
    case Fault::FileInPath:
        title = problem.item.isEmpty() || EditFileTools::isSameFolder(problem.item, folder)
                    ? kpv::stringWithFormat(text("IDS_DestinationIsAFile_Fmt"), shown)
                    : kpv::stringWithFormat(text("IDS_DestinationFileInPath_Fmt"), shown,
                                            kpv::displayFileName(LMPathString::lastPathComponent(problem.item)));
        break;
    case Fault::DiskFull:
        title = kpv::stringWithFormat(text("IDS_DestinationDiskFull_Fmt"), shown);
        break;
    case Fault::Other:
        title = kpv::stringWithFormat(text("IDS_DestinationNotUsable_Fmt"), shown,
                                      QString::fromLocal8Bit(std::strerror(problem.error)));
        break;
    }
    showAlert(title, QString(), m_window.get(), {});
}

void BatchSheetController::showAlert(const QString &title, const QString &message, kpv::Window *parent,
                                     std::function<void()> done)
{
    if (m_alertPresenter) {
        m_alertPresenter(message.isEmpty() ? title : title + QLatin1Char('\n') + message, parent, std::move(done));
        return;
    }
    auto *alert = new LMAlertSheet;
    alert->beginAlertSheet(title, text("IDS_OK"), QString(), QString(), parent,
                           [alert, done](std::int32_t) {
                               if (done)
                                   done();
                               // The alert is still unwinding: free it on the next turn.
                               LMPerformSelectorWrapper().performWithBlock([alert] { delete alert; }, 0);
                           },
                           message);
}

void BatchSheetController::startRun(Run run)
{
    m_taskRunning = true;
    // What the run was started with stays as it is on screen until it ends.
    if (m_edtDestFolder)
        m_edtDestFolder->setEditable(false);
    runningStateChanged();
    m_operationQueue = std::make_unique<kpv::OperationQueue>();
    auto alive = m_alive;
    // A run cancelled before it started never runs its block; the completion runs either way, so
    // the sheet always learns that the run has ended.
    struct Outcome {
        int result = kCancelled;
        LMFailedFiles failed;
    };
    auto outcome = std::make_shared<Outcome>();
    auto op = LMBlockOperation::blockOperationWithBlock([run, alive, outcome, hook = m_workerProgressHook](
                                                            LMBlockOperation *operation) {
        outcome->result = run(&outcome->failed, operation, [alive, hook](qint64 n) {
            if (hook)
                hook(n);
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
                    (*alive)->workerEnded(outcome->result, outcome->failed);
            },
            false);
    });
    m_operationQueue->addOperation(op);
}

void BatchSheetController::workerEnded(int result, const LMFailedFiles &failed)
{
    m_failures = failed;
    m_taskRunning = false;
    m_runStopped = result == kCancelled;
    if (m_edtDestFolder)
        m_edtDestFolder->setEditable(true);
    m_window->endSheetWithReturnCode(result == kCancelled ? 1 : 0);
}

void BatchSheetController::updateProgressOnThread(qint64 count)
{
    auto alive = m_alive;
    LMPerformSelectorWrapper().performOnMainThreadWithBlock(
        [alive, count] {
            if (*alive)
                (*alive)->updateProgress(count);
        },
        false);
}

void BatchSheetController::updateProgress(qint64 count)
{
    m_txtProgress->setStringValue(
        kpv::stringWithFormat(QStringLiteral("%ld/%ld"), count, qint64(m_srcFileInfos.size())));
    m_indicatorProgress->setDoubleValue(double(count));
}

void BatchSheetController::waitUntilWorkerFinished()
{
    if (m_operationQueue)
        m_operationQueue->waitUntilAllOperationsAreFinished();
}

void BatchSheetController::sheetDidEnd(std::int64_t)
{
    if (m_eventMonitor) {
        LMEventMonitorCenter::eventMonitorCenter().removeMonitor(m_eventMonitor);
        m_eventMonitor.reset();
    }
    m_btnRun->setTarget(nullptr);
    m_btnCancel->setTarget(nullptr);
    CompleteBlock complete = m_completeBlock;
    const QString stopped = m_runStopped ? stoppedRunSummary() : QString();
    m_runStopped = false;
    // A cancelled run tells what it did before the cancel, and the files that failed until then.
    if (!m_failures.isEmpty() || m_failures.hasNotes() || !stopped.isEmpty()) {
        // One report for the whole run: how many failed, each by name with the reason, what new
        // files lack, and that the originals are as they were.
        QStringList titles;
        if (!stopped.isEmpty())
            titles << stopped;
        if (!m_failures.isEmpty())
            titles << kpv::stringWithFormat(text(m_failedFormatKey), int(m_failures.size()));
        else if (m_failures.hasNotes())
            titles << text("IDS_NewFilesLackSome");
        const QString title = titles.join(QLatin1Char(' '));
        const QString details = m_failures.isEmpty() && !m_failures.hasNotes() ? QString() : m_failures.details();
        auto alive = m_alive;
        kpv::Window *parent = m_parentWindow;
        LMPerformSelectorWrapper().performOnMainThreadWithBlock(
            [alive, title, details, parent, complete] {
                if (!*alive) {
                    if (complete)
                        complete();
                    return;
                }
                (*alive)->showAlert(title, details, parent, [complete] {
                    if (complete)
                        complete();
                });
            },
            false);
        return;
    }
    if (complete)
        complete();
}
