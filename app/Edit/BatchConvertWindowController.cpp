#include "Edit/BatchConvertWindowController.h"

#include "Edit/BatchConvertWorker.h"
#include "Edit/BatchToolSettings.h"
#include "Edit/LMImageSaveParamView.h"
#include "Kit/LMButton.h"
#include "Kit/LMNormalCustomButton.h"
#include "Kit/LMProgressBar.h"

#include "appkit/Control.h"
#include "foundation/Bundle.h"

using namespace BatchConvertKeys;

namespace {
QString text(const char *key) { return kpv::Bundle::mainBundle().localizedString(QString::fromLatin1(key)); }
QString key(const char *k) { return QString::fromLatin1(k); }
} // namespace

BatchConvertWindowController::BatchConvertWindowController(MainConfig *config, const LMPhotoLoader &loader)
    : BatchSheetController(config, kpv::Size{480, 230}, "IDS_FailedConvert_Fmt")
    , m_loader(loader)
    , m_configInfos(BatchToolSettings::loadConvertConfigInfo(config))
{
    // The picker starts from the stored choice; a stored dictionary that lacks a key has read
    // that key's default.
    m_picker.setSaveType(m_configInfos.value(key(kFileTypeUTI)).toString());
    m_picker.setSaveCompression(m_configInfos.value(key(kTIFFCompression)).toInt());
    m_picker.setSaveQuality(m_configInfos.value(key(kCompressionQuality)));

    kpv::View *content = m_window->contentView();
    auto *title = new kpv::TextField(kpv::Rect(20, 196, 300, 22));
    title->setStringValue(text("IDS_BatchConvert"));
    content->addSubview(title);
    m_pickerView = new LMImageSaveParamView(m_picker);
    m_pickerView->setFrameOrigin(kpv::Point{10, 118});
    content->addSubview(m_pickerView);

    std::weak_ptr<BatchSheetController *> alive = m_alive;
    addDestinationRow(80, m_configInfos.value(key(kDestFolderPath)).toString());
    addProgressRow(52);
    addButtons(text("IDS_Convert"), [alive] {
        if (auto p = alive.lock(); p && *p)
            static_cast<BatchConvertWindowController *>(*p)->convertButtonClicked();
    });
    updateUIByMaske(kMaskAll);
}

BatchConvertWindowController::~BatchConvertWindowController() = default;

void BatchConvertWindowController::updateUIByMaske(int mask)
{
    if ((mask & (kMaskDestFolder | kMaskRunning)) && btnRun())
        btnRun()->setEnabled(!m_taskRunning && edtDestFolder() && !edtDestFolder()->stringValue().trimmed().isEmpty());
    if (mask & kMaskRunning) {
        if (btnBrowseFolder())
            btnBrowseFolder()->setEnabled(!m_taskRunning);
        if (indicatorProgress())
            indicatorProgress()->setHidden(!m_taskRunning);
    }
}

void BatchConvertWindowController::convertButtonClicked()
{
    if (m_taskRunning || m_srcFileInfos.isEmpty())
        return;
    const std::optional<QString> dest = preparedDestination();
    if (!dest)
        return;
    m_configInfos.insert(key(kFileTypeUTI), m_picker.saveType());
    m_configInfos.insert(key(kCompressionQuality), m_picker.saveQuality());
    m_configInfos.insert(key(kTIFFCompression), m_picker.saveCompression());
    m_configInfos.insert(key(kDestFolderPath), *dest);
    BatchToolSettings::saveConvertConfigInfo(m_config, m_configInfos);

    // The run works on the options as they are now: the picker stays editable during it.
    const FileInfoList files = m_srcFileInfos;
    const QString type = m_picker.saveType();
    const QVariantMap params = *m_picker.saveParameters();
    const LMPhotoLoader *loader = &m_loader;
    const bool pauseSet = m_pauseSet;
    const std::function<void()> pause = m_pause;
    const QString folder = *dest;
    startRun([files, type, params, loader, folder, pauseSet, pause](LMFailedFiles *failed,
                                                                    const kpv::Operation *operation,
                                                                    const std::function<void(qint64)> &progress) {
        BatchConvertWorker worker(*loader);
        if (pauseSet)
            worker.setPauseBlock(pause);
        return worker.convertFilesOnThread(files, folder, type, params, failed, operation, progress);
    });
}
