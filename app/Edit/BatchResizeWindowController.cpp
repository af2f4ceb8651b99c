#include "Edit/BatchResizeWindowController.h"

#include "Edit/BatchResizeWorker.h"
#include "Edit/BatchToolSettings.h"
#include "Edit/EditPopUpButton.h"
#include "Kit/LMButton.h"
#include "Kit/LMNormalCheckButton.h"
#include "Kit/LMNormalCustomButton.h"
#include "Kit/LMProgressBar.h"

#include "appkit/Control.h"
#include "foundation/Bundle.h"
#include "foundation/StringFormat.h"

using namespace BatchResizeKeys;

namespace {
QString text(const char *key) { return kpv::Bundle::mainBundle().localizedString(QString::fromLatin1(key)); }
QString key(const char *k) { return QString::fromLatin1(k); }

kpv::TextField *caption(kpv::View *parent, const kpv::Rect &frame, const QString &value)
{
    auto *field = new kpv::TextField(frame);
    field->setStringValue(value);
    parent->addSubview(field);
    return field;
}
} // namespace

BatchResizeWindowController::BatchResizeWindowController(MainConfig *config, const LMPhotoLoader &loader)
    : BatchSheetController(config, kpv::Size{480, 360}, "IDS_FailedResize_Fmt")
    , m_loader(loader)
    , m_model(BatchToolSettings::loadResizeConfigInfo(config))
{
    loadWindow();
}

void BatchResizeWindowController::loadWindow()
{
    kpv::View *content = m_window->contentView();
    const QVariantMap &c = m_model.configInfos();
    std::weak_ptr<BatchSheetController *> alive = m_alive;
    auto self = [alive]() -> BatchResizeWindowController * {
        auto p = alive.lock();
        return p && *p ? static_cast<BatchResizeWindowController *>(*p) : nullptr;
    };

    caption(content, kpv::Rect(20, 326, 300, 22), text("IDS_BatchResize"));
    caption(content, kpv::Rect(20, 288, 150, 22), text("IDS_ResizeTo"));
    m_popupBtnSizeFitInto = new EditPopUpButton(kpv::Rect(175, 288, 180, 24));
    QList<EditPopUpButton::Item> sizes;
    for (const QSizeF &size : BatchResizeSheetModel::classicSizes())
        sizes.append({BatchResizeSheetModel::classicSizeTitle(size, text("IDS_Custom")),
                      size.width() < 0 ? QVariant() : QVariant(size)});
    m_popupBtnSizeFitInto->setItems(sizes);
    m_popupBtnSizeFitInto->selectItemAtIndex(m_model.selectedClassicIndex());
    m_popupBtnSizeFitInto->setAction([self](kpv::View *) {
        if (auto *s = self())
            s->sizeFitIntoChanged();
    });
    content->addSubview(m_popupBtnSizeFitInto);

    // The custom size: four digits each, blanks at either end not counted.
    auto field = [&](const kpv::Rect &frame, bool width) {
        auto *f = new BatchReportingField<LMNumericTextField>(frame, [self, width] {
            if (auto *s = self())
                s->customSizeTextDidChange(width);
        });
        f->setAllowedMaxLength(4, true);
        content->addSubview(f);
        return f;
    };
    m_edtCustomSizeWidth = field(kpv::Rect(175, 254, 60, 22), true);
    caption(content, kpv::Rect(239, 254, 16, 22), QStringLiteral("x"));
    m_edtCustomSizeHeight = field(kpv::Rect(257, 254, 60, 22), false);
    m_popupBtnSizeUnitType = new EditPopUpButton(kpv::Rect(325, 253, 110, 24));
    m_popupBtnSizeUnitType->setItems({{text("IDS_pixels"), 0}, {text("IDS_percent"), 1}});
    m_popupBtnSizeUnitType->selectItemWithValue(m_model.unitType());
    m_popupBtnSizeUnitType->setAction([self](kpv::View *) {
        if (auto *s = self())
            s->customSizeUnitTypeChanged();
    });
    content->addSubview(m_popupBtnSizeUnitType);

    caption(content, kpv::Rect(20, 220, 150, 22), text("IDS_Dpi"));
    m_edtDpi = new BatchReportingField<LMNumericTextField>(kpv::Rect(175, 220, 60, 22), [self] {
        if (auto *s = self())
            s->updateUIByMaske(kMaskPasteNote);
    });
    m_edtDpi->setAllowedMaxLength(4, true);
    m_edtDpi->setStringValue(c.value(key(kDpi)).toString());
    content->addSubview(m_edtDpi);

    auto check = [&](const kpv::Rect &frame, const char *title, bool on, void (BatchResizeWindowController::*clicked)()) {
        auto *b = new LMNormalCheckButton(frame);
        b->setImageName(QStringLiteral("icon_chck"));
        b->setIconLeftMargin(0);
        auto *titleField = new kpv::TextField(kpv::Rect(22, 0, frame.width() - 22, frame.height()));
        b->addSubview(titleField);
        b->setTextButtonTitle(titleField);
        b->awakeFromNib();
        b->setTitle(text(title));
        b->setState(on ? kpv::OnState : kpv::OffState);
        b->setAction([self, clicked](kpv::View *) {
            if (auto *s = self())
                (s->*clicked)();
        });
        content->addSubview(b);
        return b;
    };
    m_chkNotEnlarge = check(kpv::Rect(175, 190, 290, 22), "IDS_NotEnlarge", c.value(key(kNotEnlarge)).toBool(),
                            &BatchResizeWindowController::notEnlargeCheckButtonClicked);
    m_chkKeepAlpha = check(kpv::Rect(175, 164, 290, 22), "IDS_KeepAlpha", c.value(key(kKeepAlpha)).toBool(),
                           &BatchResizeWindowController::keepAlphaCheckButtonClicked);

    caption(content, kpv::Rect(20, 130, 150, 22), text("IDS_NewNameBase"));
    m_edtNewNameBase = new BatchReportingField<LMPathNameTextField>(kpv::Rect(175, 130, 200, 22), [self] {
        if (auto *s = self())
            s->newNameBaseTextDidChange();
    });
    m_edtNewNameBase->setAllowedMaxLength(32, true);
    m_edtNewNameBase->setStringValue(c.value(key(kNewNameBase)).toString());
    content->addSubview(m_edtNewNameBase);
    m_txtOldFileName = caption(content, kpv::Rect(175, 104, 130, 22), QString());
    setUpPreviewNameField(m_txtOldFileName);
    caption(content, kpv::Rect(305, 104, 20, 22), QStringLiteral("\u2192"));
    m_txtNewFileName = caption(content, kpv::Rect(325, 104, 145, 22), QString());
    setUpPreviewNameField(m_txtNewFileName);

    addDestinationRow(72, c.value(key(kDestFolderPath)).toString());
    addProgressRow(50);
    // The note shares the progress row: no field takes a paste while the bar shows.
    m_txtNote = caption(content, kpv::Rect(20, 50, content->bounds().width() - 130, 22), QString());
    for (LMLengthLimitTextField *f : {m_edtCustomSizeWidth, m_edtCustomSizeHeight, m_edtDpi, m_edtNewNameBase})
        f->setPasteShortenedHandler([self, f](const QString &message) {
            if (auto *s = self())
                s->pasteShortened(f, message);
        });
    addButtons(text("IDS_Resize"), [self] {
        if (auto *s = self())
            s->resizeButtonClicked();
    });
    updateUIByMaske(kMaskAll);
}

void BatchResizeWindowController::updateUIByMaske(int mask)
{
    const bool custom = m_model.curCustomSize();
    if (mask & (kMaskClassic | kMaskUnit | kMaskRunning)) {
        if (mask & kMaskUnit) {
            m_edtCustomSizeWidth->setStringValue(m_model.customWidthText());
            m_edtCustomSizeHeight->setStringValue(m_model.customHeightText());
        }
        const bool editable = custom && !m_taskRunning;
        m_edtCustomSizeWidth->setHidden(false);
        m_popupBtnSizeUnitType->setEnabled(editable);
        m_edtCustomSizeWidth->setEditable(editable);
        m_edtCustomSizeHeight->setEditable(editable);
    }
    if (mask & (kMaskClassic | kMaskCustomText | kMaskUnit | kMaskDestFolder | kMaskRunning)) {
        if (btnRun())
            btnRun()->setEnabled(m_model.resizeEnabled(m_taskRunning, m_edtCustomSizeWidth->stringValue(),
                                                       m_edtCustomSizeHeight->stringValue(),
                                                       edtDestFolder() ? edtDestFolder()->stringValue().trimmed()
                                                                       : QString()));
    }
    if (mask & kMaskRunning) {
        m_popupBtnSizeFitInto->setEnabled(!m_taskRunning);
        m_chkNotEnlarge->setEnabled(!m_taskRunning);
        m_chkKeepAlpha->setEnabled(!m_taskRunning);
        m_edtDpi->setEditable(!m_taskRunning);
        m_edtNewNameBase->setEditable(!m_taskRunning);
        if (btnBrowseFolder())
            btnBrowseFolder()->setEnabled(!m_taskRunning);
        if (indicatorProgress())
            indicatorProgress()->setHidden(!m_taskRunning);
    }
    if (m_noteField && (m_taskRunning || m_noteField->stringValue() != m_noteFieldText)) {
        m_noteField = nullptr;
        m_txtNote->setStringValue(QString());
    }
    if (mask & (kMaskNameBase | kMaskKeepAlpha)) {
        const QString oldName = sampleFileName();
        showPreviewName(m_txtOldFileName, oldName);
        showPreviewName(m_txtNewFileName,
                        oldName.isEmpty() ? QString()
                                          : BatchResizeWorker::newFileNameBy(oldName, m_edtNewNameBase->stringValue().trimmed(),
                                                                             m_chkKeepAlpha->state() == kpv::OnState, 1));
    }
}

void BatchResizeWindowController::pasteShortened(LMLengthLimitTextField *field, const QString &message)
{
    m_noteField = field;
    m_noteFieldText = field->stringValue();
    m_txtNote->setStringValue(message);
}

// Editing is refused while a run goes: the controls that would start one are disabled, but a
// click that arrives anyway changes nothing.
void BatchResizeWindowController::sizeFitIntoChanged()
{
    if (m_taskRunning)
        return;
    m_model.setSelectedClassicIndex(m_popupBtnSizeFitInto->indexOfSelectedItem());
    m_popupBtnSizeFitInto->selectItemAtIndex(m_model.selectedClassicIndex());
    updateUIByMaske(kMaskClassic);
}

void BatchResizeWindowController::customSizeUnitTypeChanged()
{
    if (m_taskRunning)
        return;
    m_model.setUnitType(m_popupBtnSizeUnitType->selectedValue().toInt());
    updateUIByMaske(kMaskUnit);
}

void BatchResizeWindowController::customSizeTextDidChange(bool widthEdited)
{
    QString w, h;
    m_model.customSizeTextDidChange(widthEdited, m_edtCustomSizeWidth->stringValue(),
                                    m_edtCustomSizeHeight->stringValue(), &w, &h);
    if (w != m_edtCustomSizeWidth->stringValue())
        m_edtCustomSizeWidth->setStringValue(w);
    if (h != m_edtCustomSizeHeight->stringValue())
        m_edtCustomSizeHeight->setStringValue(h);
    updateUIByMaske(kMaskCustomText);
}

void BatchResizeWindowController::notEnlargeCheckButtonClicked()
{
    m_chkNotEnlarge->setState(m_chkNotEnlarge->state() == kpv::OnState ? kpv::OffState : kpv::OnState);
}

void BatchResizeWindowController::keepAlphaCheckButtonClicked()
{
    m_chkKeepAlpha->setState(m_chkKeepAlpha->state() == kpv::OnState ? kpv::OffState : kpv::OnState);
    updateUIByMaske(kMaskKeepAlpha);
}

void BatchResizeWindowController::resizeButtonClicked()
{
    if (m_taskRunning || m_srcFileInfos.isEmpty())
        return;
    QSizeF size;
    qint64 percent = 0;
    switch (m_model.sizeForResize(m_edtCustomSizeWidth->stringValue(), m_edtCustomSizeHeight->stringValue(), &size,
                                  &percent)) {
    case BatchResizeSheetModel::SizeCheck::TooLarge:
        showAlert(kpv::stringWithFormat(text("IDS_Title_TooLarge"), int(percent)), text("IDS_Desc_TooLarge"),
                  m_window.get(), {});
        return;
    case BatchResizeSheetModel::SizeCheck::Empty:
        return;
    case BatchResizeSheetModel::SizeCheck::Ok:
        break;
    }
    const std::optional<QString> dest = preparedDestination();
    if (!dest)
        return;
    const QVariantMap settings =
        m_model.configForRun(size, m_edtDpi->stringValue(), m_chkNotEnlarge->state() == kpv::OnState,
                             m_chkKeepAlpha->state() == kpv::OnState, m_edtNewNameBase->stringValue(), *dest);
    BatchToolSettings::saveResizeConfigInfo(m_config, settings);

    const FileInfoList files = m_srcFileInfos;
    const LMPhotoLoader *loader = &m_loader;
    startRun([files, settings, loader](LMFailedFiles *failed, const kpv::Operation *operation,
                                       const std::function<void(qint64)> &progress) {
        return BatchResizeWorker(*loader).resizeFilesOnThread(files, settings, failed, operation, progress);
    });
}
