#include "Edit/LMImageSaveParamView.h"

#include "Edit/EditPopUpButton.h"
#include "Edit/LMImageSaveParamController.h"

#include "appkit/Control.h"
#include "foundation/Bundle.h"

namespace {
QString text(const char *key) { return kpv::Bundle::mainBundle().localizedString(QString::fromLatin1(key)); }

kpv::TextField *label(kpv::View *parent, const kpv::Rect &frame, const QString &value, int alignment)
{
    auto *field = new kpv::TextField(frame);
    field->setStringValue(value);
    field->setAlignment(alignment);
    parent->addSubview(field);
    return field;
}
} // namespace

LMImageSaveParamView::LMImageSaveParamView(LMImageSaveParamController &controller)
    : kpv::View(kpv::Rect(0, 0, kWidth, kHeight)), m_controller(controller)
{
    const int right = Qt::AlignRight | Qt::AlignVCenter;
    const int left = Qt::AlignLeft | Qt::AlignVCenter;
    m_textFormat = label(this, kpv::Rect(0, 40, 122, 24), text("IDS_SAVE_FORMAT"), right);
    m_popupFormat = new EditPopUpButton(kpv::Rect(130, 40, 180, 24));
    QList<EditPopUpButton::Item> types;
    for (const auto &type : m_controller.saveTypes())
        types.append({type.localized, type.uti});
    m_popupFormat->setItems(types);
    m_popupFormat->setAction([this](kpv::View *) { formatChosen(); });
    addSubview(m_popupFormat);

    // The quality row serves JPEG and JPEG 2000; only the label at its high end differs.
    m_textQuality = label(this, kpv::Rect(0, 6, 122, 24), text("IDS_SAVE_QUALITY"), right);
    m_textLeast = label(this, kpv::Rect(130, 6, 56, 24), text("IDS_SAVE_LEAST"), right);
    m_sliderQuality = new kpv::Slider(kpv::Rect(192, 6, 164, 24));
    m_sliderQuality->setMinValue(0);
    m_sliderQuality->setMaxValue(1);
    m_sliderQuality->setContinuous(true);
    m_sliderQuality->setAction([this](kpv::View *) { qualityChanged(); });
    addSubview(m_sliderQuality);
    m_textBest = label(this, kpv::Rect(360, 6, 80, 24), text("IDS_SAVE_BEST"), left);

    m_textCompression = label(this, kpv::Rect(0, 6, 122, 24), text("IDS_SAVE_COMPRESSION"), right);
    m_popupCompression = new EditPopUpButton(kpv::Rect(130, 6, 180, 24));
    QList<EditPopUpButton::Item> compressions;
    for (const auto &c : m_controller.saveCompressions())
        compressions.append({c.localized, c.compression});
    m_popupCompression->setItems(compressions);
    m_popupCompression->setAction([this](kpv::View *) { compressionChosen(); });
    addSubview(m_popupCompression);
    reload();
}

void LMImageSaveParamView::reload()
{
    m_popupFormat->selectItemWithValue(m_controller.saveType());
    const int tab = m_controller.saveTab();
    m_shownTab = tab;
    const bool quality = tab == 1 || tab == 2;
    for (kpv::View *v : {static_cast<kpv::View *>(m_textQuality), static_cast<kpv::View *>(m_textLeast),
                         static_cast<kpv::View *>(m_sliderQuality), static_cast<kpv::View *>(m_textBest)})
        v->setHidden(!quality);
    m_textBest->setStringValue(text(tab == 2 ? "IDS_SAVE_LOSSLESS" : "IDS_SAVE_BEST"));
    m_textCompression->setHidden(tab != 3);
    m_popupCompression->setHidden(tab != 3);
    bool ok = false;
    const double q = m_controller.saveQuality().toDouble(&ok);
    m_sliderQuality->setDoubleValue(ok ? q : 0.9);
    m_popupCompression->selectItemWithValue(m_controller.saveCompression());
    setNeedsDisplay(true);
}

void LMImageSaveParamView::setLabelTextColor(const kpv::Color &colour)
{
    for (kpv::TextField *field : {m_textFormat, m_textQuality, m_textLeast, m_textBest, m_textCompression})
        field->setTextColor(colour);
}

void LMImageSaveParamView::formatChosen()
{
    m_controller.setSaveType(m_popupFormat->selectedValue().toString());
    reload();
}

void LMImageSaveParamView::qualityChanged()
{
    // Stored as the writer reads it: a 32-bit float between 0 and 1.
    m_controller.setSaveQuality(QVariant::fromValue(float(m_sliderQuality->doubleValue())));
}

void LMImageSaveParamView::compressionChosen()
{
    m_controller.setSaveCompression(m_popupCompression->selectedValue().toInt());
}
