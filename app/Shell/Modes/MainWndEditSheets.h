#pragma once
// The editing sheets and panels as the main window shows them: Save As with the format picker,
// and the batch rename, resize and convert sheets on the viewer's list or the favourites'
// selection. Each sheet's controller lives until its sheet has ended and its report was read.
// Main thread only.

#include "Model/LMFileInfo.h"
#include "Model/LMPathString.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <optional>

class BatchRenameWindowController;
class BatchSheetController;
class MainWndController;

namespace MainWndEditSheets {

using SavePanelDone = std::function<void(bool chosen, const QString& path, const std::optional<QVariantMap>& params)>;
void runSaveAsPanel(MainWndController& windowController, const QString& sourcePath, const QString& directory,
                    SavePanelDone done);

using RenameDone = std::function<void(const QHash<LMPathString, LMPathString>& renamed)>;
void beginBatchRename(MainWndController& windowController, const QList<LMPathString>& files, RenameDone done);
// Resize (true) or convert (false).
void beginBatchResizeOrConvert(MainWndController& windowController, bool resize,
                               const QList<std::shared_ptr<LMFileInfo>>& files, std::function<void()> done);

// The sheet up at the moment (nullptr when none), for tests and for the command check.
BatchSheetController* activeBatchSheet();
BatchRenameWindowController* activeRenameSheet();

}  // namespace MainWndEditSheets
