#pragma once

// The batch resize sheet: a classic size or a custom one in pixels or percent, an optional DPI,
// "do not enlarge" and "keep alpha", an optional new name base with a preview of the first new
// name, and the destination folder; a paste that a field refused or cut is told below them.
// Resize checks the input, stores the settings and runs the resize worker with a progress bar;
// the decisions themselves live in BatchResizeSheetModel.

#include "Edit/BatchResizeSheetModel.h"
#include "Edit/BatchSheetController.h"

class EditPopUpButton;
class LMNormalCheckButton;
class LMPhotoLoader;

class BatchResizeWindowController final : public BatchSheetController {
public:
    // Bits of updateUIByMaske: what changed.
    static constexpr int kMaskClassic = 1, kMaskCustomText = 2, kMaskUnit = 4, kMaskDestFolder = 8,
                         kMaskRunning = 16, kMaskNameBase = 32, kMaskKeepAlpha = 64, kMaskPasteNote = 128,
                         kMaskAll = 0xFFFF;

    // Builds the sheet from the stored settings (the defaults without a settings object).
    BatchResizeWindowController(MainConfig *config, const LMPhotoLoader &loader);

    void updateUIByMaske(int mask);
    void sizeFitIntoChanged();
    void customSizeUnitTypeChanged();
    void customSizeTextDidChange(bool widthEdited);
    void newNameBaseTextDidChange() { updateUIByMaske(kMaskNameBase); }
    void notEnlargeCheckButtonClicked();
    void keepAlphaCheckButtonClicked();
    void resizeButtonClicked();

    const BatchResizeSheetModel &model() const { return m_model; }
    EditPopUpButton *popupBtnSizeFitInto() const { return m_popupBtnSizeFitInto; }
    EditPopUpButton *popupBtnSizeUnitType() const { return m_popupBtnSizeUnitType; }
    LMLengthLimitTextField *edtCustomSizeWidth() const { return m_edtCustomSizeWidth; }
    LMLengthLimitTextField *edtCustomSizeHeight() const { return m_edtCustomSizeHeight; }
    LMLengthLimitTextField *edtDpi() const { return m_edtDpi; }
    LMNormalCheckButton *chkNotEnlarge() const { return m_chkNotEnlarge; }
    LMNormalCheckButton *chkKeepAlpha() const { return m_chkKeepAlpha; }
    LMLengthLimitTextField *edtNewNameBase() const { return m_edtNewNameBase; }
    kpv::TextField *txtOldFileName() const { return m_txtOldFileName; }
    kpv::TextField *txtNewFileName() const { return m_txtNewFileName; }
    // Says what became of a paste a field refused or cut, until that field changes.
    kpv::TextField *txtNote() const { return m_txtNote; }

protected:
    void runningStateChanged() override { updateUIByMaske(kMaskRunning); }
    void destinationChanged() override { updateUIByMaske(kMaskDestFolder); }
    void allControlsChanged() override { updateUIByMaske(kMaskAll); }
    // The photos stay as they were and each new file is whole (written aside, then put in
    // place): a stopped run leaves nothing to tell beyond the files that failed.
    QString stoppedRunSummary() const override { return {}; }

private:
    void loadWindow();
    void pasteShortened(LMLengthLimitTextField *field, const QString &message);

    const LMPhotoLoader &m_loader;
    BatchResizeSheetModel m_model;
    EditPopUpButton *m_popupBtnSizeFitInto = nullptr;
    LMLengthLimitTextField *m_edtCustomSizeWidth = nullptr;
    LMLengthLimitTextField *m_edtCustomSizeHeight = nullptr;
    EditPopUpButton *m_popupBtnSizeUnitType = nullptr;
    LMLengthLimitTextField *m_edtDpi = nullptr;
    LMNormalCheckButton *m_chkNotEnlarge = nullptr;
    LMNormalCheckButton *m_chkKeepAlpha = nullptr;
    LMLengthLimitTextField *m_edtNewNameBase = nullptr;
    kpv::TextField *m_txtOldFileName = nullptr;
    kpv::TextField *m_txtNewFileName = nullptr;
    kpv::TextField *m_txtNote = nullptr;
    // The field the note is about and its text then: the note goes when the text does.
    LMLengthLimitTextField *m_noteField = nullptr;
    QString m_noteFieldText;
};
