#pragma once

// The batch rename sheet: a base-name field with a preview of the first new name, a note when
// a paste did not fit the name or the name cannot be used, Rename and Cancel, and a progress bar
// while the worker renames on its own queue. The sheet ends when the run ends (or at once when
// closed while idle); failures are reported once, after it has closed, and the caller gets the
// map of old to new paths. The sheet, the run, Esc and the report are the batch sheets' shared ones.

#include "Edit/BatchRenameWorker.h"
#include "Edit/BatchSheetController.h"

#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class BatchRenameWindowController final : public BatchSheetController {
public:
    // Gets the renames (nullopt when no renaming ran).
    using RenameCompleteBlock = std::function<void(const std::optional<BatchRenameWorker::RenameMap> &renamed)>;

    static constexpr int kMaskPreview = 1;
    static constexpr int kMaskRunning = 2;
    static constexpr int kMaskAll = 0xFFFF;

    // Builds the sheet; the base name starts as the stored one, or "Photo_".
    explicit BatchRenameWindowController(MainConfig *config);

    LMCustomWindow *batchRenameWindow() const { return window(); }

    // Nothing happens (and the block is never called) for an empty list.
    void beginSheetOnParentWindow(kpv::Window *parent, const QList<LMPathString> &files, RenameCompleteBlock completeBlock);

    QString newNameBaseString() const;
    void setNewNameBaseText(const QString &text);
    void updateUIByMaske(int mask);
    void newNameBaseTextDidChange();
    void renameButtonClicked();

    bool renameTaskRunning() const { return taskRunning(); }

    LMLengthLimitTextField *edtNewNameBase() const { return m_edtNewNameBase; }
    kpv::TextField *txtOldFileName() const { return m_txtOldFileName; }
    kpv::TextField *txtNewFileName() const { return m_txtNewFileName; }
    // What the sheet says of a paste that did not fit the name, or of a name that cannot be used.
    kpv::TextField *txtNote() const { return m_txtNote; }
    LMNormalCustomButton *btnRename() const { return btnRun(); }

protected:
    void runningStateChanged() override { updateUIByMaske(kMaskRunning); }
    void destinationChanged() override {}
    void allControlsChanged() override { updateUIByMaske(kMaskAll); }
    // How many files a cancelled run renamed, of how many; the others keep their names.
    QString stoppedRunSummary() const override;

private:
    void loadWindow();

    LMLengthLimitTextField *m_edtNewNameBase = nullptr;
    kpv::TextField *m_txtOldFileName = nullptr;
    kpv::TextField *m_txtNewFileName = nullptr;
    kpv::TextField *m_txtNote = nullptr;
    // What was said of the last paste, and the name it left: the note goes when the name changes.
    QString m_pasteNote;
    QString m_noteForName;
    // Filled by the run; nullopt until one ran.
    std::shared_ptr<std::optional<BatchRenameWorker::RenameMap>> m_renamedFilePaths;
};
