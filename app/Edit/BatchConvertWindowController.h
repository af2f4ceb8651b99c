#pragma once

// The batch convert sheet: the save-format picker for the output format and its options, and the
// destination folder. Convert checks the folder, stores the settings and runs the convert worker
// with a progress bar on the picker's parameters as they were when the run started.

#include "Edit/BatchSheetController.h"
#include "Edit/LMImageSaveParamController.h"

class LMImageSaveParamView;
class LMPhotoLoader;

class BatchConvertWindowController final : public BatchSheetController {
public:
    // Bits of updateUIByMaske: what changed.
    static constexpr int kMaskDestFolder = 1, kMaskRunning = 2, kMaskAll = 0xFFFF;

    // Builds the sheet; the picker starts from the stored settings.
    BatchConvertWindowController(MainConfig *config, const LMPhotoLoader &loader);
    ~BatchConvertWindowController() override;

    void updateUIByMaske(int mask);
    void convertButtonClicked();
    // Tests take the pause after a run without failures out.
    void setWorkerPause(std::function<void()> pause) { m_pause = std::move(pause); m_pauseSet = true; }

    LMImageSaveParamController &imageSaveParamController() { return m_picker; }
    LMImageSaveParamView *saveParamView() const { return m_pickerView; }

protected:
    void runningStateChanged() override { updateUIByMaske(kMaskRunning); }
    void destinationChanged() override { updateUIByMaske(kMaskDestFolder); }
    void allControlsChanged() override { updateUIByMaske(kMaskAll); }
    // The photos stay as they were and each new file is whole (written aside, then put in
    // place): a stopped run leaves nothing to tell beyond the files that failed.
    QString stoppedRunSummary() const override { return {}; }

private:
    const LMPhotoLoader &m_loader;
    QVariantMap m_configInfos;
    LMImageSaveParamController m_picker;
    LMImageSaveParamView *m_pickerView = nullptr;
    std::function<void()> m_pause;
    bool m_pauseSet = false;
};
