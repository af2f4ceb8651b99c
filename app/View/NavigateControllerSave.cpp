// What happens to a turn the user made before the current file is left or used: written into the
// file when its type can be written and the file is writable, otherwise the user is asked to save
// under another name or to go on without saving. The same rule guards dragging the file out.

#include "View/NavigateController.h"
#include "View/NavigateControllerGuard.h"

#include "Model/LMPerformSelectorWrapper.h"
#include "View/LMImageViewModel.h"
#include "View/NavLoadPlanner.h"
#include "imageio/ImageDestination.h"

#include <QFileInfo>

bool NavigateController::isWritableFileType(const QString &path)
{
    static const QStringList types{QStringLiteral("jpg"), QStringLiteral("jpeg"), QStringLiteral("png"),
                                   QStringLiteral("bmp"), QStringLiteral("tif"), QStringLiteral("tiff")};
    return types.contains(QFileInfo(path).suffix().toLower());
}

bool NavigateController::isCurFileModifiedAndCannotOverwriteable() const
{
    const LMImageViewModel *view = currentView();
    if (m_curFilePath.isEmpty() || !view || !view->angleRotate().isRotatedOrFlipped())
        return false;
    const QString path = m_curFilePath.path();
    return !isWritableFileType(path) || !QFileInfo(path).isWritable() || !curFileOverwriteConcern().isEmpty();
}

QString NavigateController::curFileOverwriteConcern() const
{
    const LMImageViewModel *view = currentView();
    if (m_curFilePath.isEmpty() || !view || !view->angleRotate().isRotatedOrFlipped() || !m_host)
        return {};
    const LMNavFileInfoPtr info = curFileInfo();
    const LMFileImgBaseInfoPtr base = info ? info->imgBaseInfo() : nullptr;
    if (base && base->fileModified())
        return m_host->localizedString(QStringLiteral("IDS_FileChangedOnDisk"));
    const QStringList lost = kpv::ImageDestination::contentLostByRewriting(m_curFilePath.path());
    if (!lost.isEmpty())
        return m_host->localizedString(QStringLiteral("IDS_SaveWouldLose")).replace(QStringLiteral("%@"), lost.join(QStringLiteral(", ")));
    return {};
}

void NavigateController::checkAndSaveCurFile(bool navToSavedFile, bool cancelAlternateButton,
                                             std::function<void(int)> completeSaveBlock)
{
    auto finish = [completeSaveBlock](int outcome) {
        if (completeSaveBlock)
            completeSaveBlock(outcome);
    };
    const LMImageViewModel *view = currentView();
    if (isCurFileModifiedAndCannotOverwriteable() && m_host) {
        m_host->beginAlertSheet(
            m_host->localizedString(QStringLiteral("IDS_SAVE_PHOTOTIP")),
            m_host->localizedString(QStringLiteral("IDS_SAVEAS")),
            m_host->localizedString(cancelAlternateButton ? QStringLiteral("IDS_Cancel") : QStringLiteral("IDS_Continue")),
            QString(), curFileOverwriteConcern(), guarded(m_self, [this, navToSavedFile, finish](int code) {
                if (code != 1) {
                    finish(4);
                    return;
                }
                nextTurn(guarded(m_self, [this, navToSavedFile, finish] {
                    saveAsCurFile(navToSavedFile, [finish](int r) { finish(r == 0 ? 5 : (r == -2 ? 7 : 6)); });
                }));
            }));
        return;
    }
    if (view && view->angleRotate().isRotatedOrFlipped() && !m_curFilePath.isEmpty()) {
        beginSaveCurFileToPath(m_curFilePath.path(),
                               [finish](int r) { finish(r == 0 ? 1 : (r == -2 ? 3 : 2)); });
        return;
    }
    finish(0);
}

bool NavigateController::beginDraggingSessionAtIndex(qsizetype index)
{
    const LMNavFileInfoPtr info = fileInfoByIndex(index);
    const LMImageViewModel *view = currentView();
    if (!info || !m_host)
        return true;
    if (index == m_curFileIndex && view && view->angleRotate().isRotatedOrFlipped()) {
        const bool saveAs = isCurFileModifiedAndCannotOverwriteable();
        const QString path = info->filePath().path();
        m_host->beginAlertSheet(
            m_host->localizedString(QStringLiteral("IDS_DragMsg_NeedSave")).arg(QFileInfo(path).fileName()),
            m_host->localizedString(saveAs ? QStringLiteral("IDS_SAVEAS") : QStringLiteral("IDS_Save")),
            m_host->localizedString(QStringLiteral("IDS_Cancel")), QString(), QString(),
            guarded(m_self, [this, saveAs, path](int code) {
                if (code != 1)
                    return;
                if (saveAs)
                    nextTurn(guarded(m_self, [this] { saveAsCurFile(true, {}); }));
                else
                    beginSaveCurFileToPath(path, {});
            }));
        return true;
    }
    const LMImagePtr thumb = info->imageByType(NavLoadPlanner::kSmallThumbType);
    m_host->beginDragFile(info->filePath().path(), thumb ? thumb->convertToUprightImage() : QImage());
    return true;
}
