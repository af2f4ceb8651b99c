#include "Edit/CropAspectPresets.h"

#include "foundation/Bundle.h"
#include "foundation/StringFormat.h"

void CropAspectPresets::rebuild(const QSizeF &displaySizePoints, const QSizeF &imageVisualSize)
{
    m_presets = {
        {QSizeF(0, 0), Free},        {displaySizePoints, Display}, {imageVisualSize, Image}, {QSizeF(16, 9), Fixed},
        {QSizeF(4, 3), Fixed},       {QSizeF(3, 2), Fixed},        {QSizeF(1, 1), Fixed},
    };
    m_curIdx = 0;
}

CropAspectPresets::Preset CropAspectPresets::curCustomSizeInfo() const
{
    if (m_presets.empty())
        return Preset{};
    return m_curIdx < m_presets.size() ? m_presets[m_curIdx] : m_presets.front();
}

size_t CropAspectPresets::customSizeIdxByType(int type) const
{
    for (size_t i = 0; i < m_presets.size(); ++i)
        if (m_presets[i].type == type)
            return i;
    return NotFound;
}

QString CropAspectPresets::customSizeTitleString(const Preset &preset, const Localizer &localize)
{
    const Localizer text = localize ? localize : [](const QString &key) {
        return kpv::Bundle::mainBundle().localizedString(key);
    };
    // The titles show the ratio's two numbers truncated to 32-bit integers.
    const int w = int(preset.aspectRatio.width());
    const int h = int(preset.aspectRatio.height());
    switch (preset.type) {
    case Free:
        return text(QStringLiteral("IDS_Custom"));
    case Display:
        return kpv::stringWithFormat(text(QStringLiteral("IDS_CropSize_Display_Fmt")), w, h);
    case Image:
        return kpv::stringWithFormat(text(QStringLiteral("IDS_CropSize_Original_Fmt")), w, h);
    case Fixed:
        return QStringLiteral("%1 x %2").arg(w).arg(h);
    default:
        return QString();
    }
}

bool CropAspectPresets::choosePreset(size_t idx, bool *indexChanged)
{
    if (indexChanged)
        *indexChanged = false;
    if (idx >= m_presets.size())
        return false;
    const int type = m_presets[idx].type;
    if (idx != m_curIdx) {
        m_curIdx = idx;
        if (indexChanged)
            *indexChanged = true;
        return type != Free;
    }
    return type == Display || type == Image;
}
