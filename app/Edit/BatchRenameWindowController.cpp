#include "Edit/BatchRenameWindowController.h"

#include "Kit/LMLengthLimitTextField.h"
#include "Kit/LMNormalCustomButton.h"
#include "Kit/LMProgressBar.h"
#include "Model/MainConfig.h"

#include "appkit/Control.h"
#include "foundation/Bundle.h"

namespace {
QString text(const char *key) { return kpv::Bundle::mainBundle().localizedString(QString::fromLatin1(key)); }
} // namespace

BatchRenameWindowController::BatchRenameWindowController(MainConfig *config)
    : BatchSheetController(config, kpv::Size{420, 224}, "IDS_FailedRename_Fmt")
    , m_renamedFilePaths(std::make_shared<std::optional<BatchRenameWorker::RenameMap>>())
{
    loadWindow();
}

void BatchRenameWindowController::loadWindow()
{
    kpv::View *content = m_window->contentView();
    std::weak_ptr<BatchSheetController *> alive = m_alive;
    auto self = [alive]() -> BatchRenameWindowController * {
        auto p = alive.lock();
        return p && *p ? static_cast<BatchRenameWindowController *>(*p) : nullptr;
    };

    auto *title = new kpv::TextField(kpv::Rect(20, 190, 300, 22));
    title->setStringValue(text("IDS_BatchRename"));
    content->addSubview(title);
    auto *caption = new kpv::TextField(kpv::Rect(20, 152, 120, 22));
    caption->setStringValue(text("IDS_NewNameBase"));
    content->addSubview(caption);
    m_edtNewNameBase = new BatchReportingField<LMPathNameTextField>(kpv::Rect(140, 152, 260, 22), [self] {
        if (auto *s = self())
            s->newNameBaseTextDidChange();
    });
    // At most 32 characters, blanks at either end not counted.
    m_edtNewNameBase->setAllowedMaxLength(32, true);
    const QString stored = m_config ? m_config->batchRenameConfigNameBase() : QString();
    m_edtNewNameBase->setStringValue(stored.isNull() ? QStringLiteral("Photo_") : stored);
    content->addSubview(m_edtNewNameBase);
    // A paste cut to the limit, or refused at it, is told under the name until the name changes.
    m_txtNote = new kpv::TextField(kpv::Rect(20, 92, 380, 22));
    content->addSubview(m_txtNote);
    m_edtNewNameBase->setPasteShortenedHandler([self](const QString &message) {
        if (auto *s = self()) {
            s->m_pasteNote = message;
            s->m_noteForName = s->m_edtNewNameBase->stringValue();
            s->updateUIByMaske(kMaskPreview);
        }
    });

    m_txtOldFileName = new kpv::TextField(kpv::Rect(20, 122, 175, 22));
    setUpPreviewNameField(m_txtOldFileName);
    content->addSubview(m_txtOldFileName);
    auto *arrow = new kpv::TextField(kpv::Rect(195, 122, 25, 22));
    arrow->setAlignment(Qt::AlignCenter);
    arrow->setStringValue(QStringLiteral("\u2192"));
    content->addSubview(arrow);
    m_txtNewFileName = new kpv::TextField(kpv::Rect(220, 122, 180, 22));
    setUpPreviewNameField(m_txtNewFileName);
    content->addSubview(m_txtNewFileName);

    addProgressRow(60);
    addButtons(text("IDS_Rename"), [self] {
        if (auto *s = self())
            s->renameButtonClicked();
    });
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
        const QString oldName = sampleFileName();
        showPreviewName(m_txtOldFileName, oldName);
        const bool usable = BatchRenameWorker::isUsableNameBase(base);
        showPreviewName(m_txtNewFileName, !usable || oldName.isEmpty()
                                              ? QString()
                                              : BatchRenameWorker::newFileName(oldName, base, 1));
        if (m_edtNewNameBase->stringValue() != m_noteForName)
            m_pasteNote.clear();
        // Why Rename cannot be pressed for a name typed in full (a date such as 07/2026).
        m_txtNote->setStringValue(!base.isEmpty() && !usable ? text("IDS_RenameNameNotUsable") : m_pasteNote);
    }
    if ((mask & kMaskRunning) && indicatorProgress())
        indicatorProgress()->setHidden(!m_taskRunning);
    if (mask & kMaskRunning)
        m_edtNewNameBase->setEditable(!m_taskRunning);
    if ((mask & (kMaskPreview | kMaskRunning)) && btnRun())
        btnRun()->setEnabled(BatchRenameWorker::isUsableNameBase(base) && !m_taskRunning);
}

void BatchRenameWindowController::beginSheetOnParentWindow(kpv::Window *parent, const QList<LMPathString> &files,
                                                           RenameCompleteBlock completeBlock)
{
    FileInfoList infos;
    for (const LMPathString &path : files)
        infos.append(std::make_shared<LMFileInfo>(path));
    m_renamedFilePaths->reset();
    auto renamed = m_renamedFilePaths;
    BatchSheetController::beginSheetOnParentWindow(parent, infos, [renamed, completeBlock] {
        if (completeBlock)
            completeBlock(*renamed);
    });
    // What the user types first goes into the name.
    if (m_window && m_window->sheetRunning())
        m_window->makeFirstResponder(m_edtNewNameBase);
}

QString BatchRenameWindowController::stoppedRunSummary() const
{
    // Nothing renamed (the cancel came first) is what Cancel promises: nothing to tell.
    const qsizetype done = *m_renamedFilePaths ? (*m_renamedFilePaths)->size() : 0;
    if (done == 0)
        return {};
    return kpv::Bundle::mainBundle().localizedStringWithFormat(QStringLiteral("IDS_RenameStopped_Fmt"), qint64(done),
                                                               qint64(m_srcFileInfos.size()));
}

void BatchRenameWindowController::renameButtonClicked()
{
    const QString base = newNameBaseString();
    if (!BatchRenameWorker::isUsableNameBase(base) || m_taskRunning || m_srcFileInfos.isEmpty())
        return;
    if (m_config)
        m_config->setBatchRenameConfigNameBase(base);
    QList<LMPathString> sources;
    for (const auto &info : m_srcFileInfos)
        sources.append(info ? info->filePath() : LMPathString());
    auto renamed = m_renamedFilePaths;
    startRun([sources, base, renamed](LMFailedFiles *failed, const kpv::Operation *operation,
                                      const std::function<void(qint64)> &progress) {
        BatchRenameWorker::RenameMap map;
        QList<LMPathString> notRenamed;
        QStringList reasons;
        const int result =
            BatchRenameWorker::renameFilesOnThread(sources, base, &map, &notRenamed, operation, progress, &reasons);
        for (qsizetype i = 0; i < notRenamed.size(); ++i)
            failed->add(notRenamed[i], reasons.value(i));
        *renamed = std::move(map);
        return result;
    });
}
