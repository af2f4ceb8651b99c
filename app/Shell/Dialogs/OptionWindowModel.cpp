#include "Shell/Dialogs/OptionWindowModel.h"

#include "Model/MainConfig.h"
#include "Shell/Desktop/FileTypeAssociator.h"
#include "foundation/Bundle.h"
#include "foundation/NotificationCenter.h"
#include "imageio/ContentTypes.h"

#include <iterator>

OptionWindowModel::OptionWindowModel(MainConfig& config, FileTypeAssociator& associator, kpv::NotificationCenter& center)
    : m_config(config), m_associator(associator), m_center(center)
{
    const qint64 tab = m_config.curOptionTabType();
    m_curOptionTabType = (tab >= 1 && tab <= 3) ? long(tab) : 2;
}

void OptionWindowModel::initAssociateFileTypes()
{
    if (m_groupsBuilt)
        return;
    m_groupsBuilt = true;
    const QStringList supported = m_associator.allowedFileTypes();
    QStringList named;
    for (long g = 0; g <= 5; ++g)
        named << OptionFileAssociateItemInfo::fileUtiTypeByInfoType(g);
    QStringList raw;
    for (const QString& t : supported)
        if (kpv::ContentTypes::conformsTo(t, kpv::ContentTypes::kCameraRaw))
            raw << t;
    for (long g = 0; g <= 7; ++g) {
        QStringList members;
        if (g <= 5) {
            if (supported.contains(named[g]))
                members << named[g];
        } else if (g == 6) {
            members = raw;
        } else {
            for (const QString& t : supported)
                if (!named.contains(t) && !raw.contains(t))
                    members << t;
        }
        if (members.isEmpty())
            continue;
        OptionFileAssociateItemInfo info(g);
        info.setArraySubFileTypes(members);
        m_groups << info;
    }
    m_groupClicked = QList<bool>(m_groups.size(), false);
    loadFileTypeAssociatedInfo();
}

void OptionWindowModel::loadFileTypeAssociatedInfo()
{
    for (OptionFileAssociateItemInfo& group : m_groups) {
        QStringList ours;
        for (const QString& t : group.arraySubFileTypes())
            if (m_associator.fileTypeAssociated(t, QString(), nullptr))
                ours << t;
        group.setArrayPrevAssociatedSubFileTypes(ours);
        group.setAssociated(ours.size() == group.arraySubFileTypes().size());
    }
}

void OptionWindowModel::showWithTabType(long tab, bool associateAll, bool alreadyVisible)
{
    initAssociateFileTypes();
    if (associateAll) {
        m_showedWithWantAssociatedFileTypes = true;
        for (OptionFileAssociateItemInfo& group : m_groups)
            group.setAssociated(true);
    } else if (!m_showedWithWantAssociatedFileTypes) {
        if (m_associator.hasPrevAssociatedApps()) {
            loadFileTypeAssociatedInfo();
        } else {
            // Nothing was ever associated from here: nothing shows as ticked.
            for (OptionFileAssociateItemInfo& group : m_groups) {
                group.setAssociated(false);
                group.setArrayPrevAssociatedSubFileTypes({});
            }
        }
    }
    if (tab >= 1 && tab <= 3)
        m_curOptionTabType = tab;
    if (associateAll)
        m_dirty = true;
    if (!alreadyVisible) {
        m_zoomWhileMouseWheel = m_config.zoomWhileMouseWheel();
        m_animationZoom = m_config.animationZoom();
        m_keepZoomRatio = m_config.keepPrevScaleWhenNavFile();
        m_viewPhotosInSubfolder = m_config.viewPhotosInSubfolder();
        m_useDesktopColours = m_config.useDesktopColours();
        m_mouseWheelEnabled = m_config.mouseWheelEnabled();
        m_filePropertyMask = m_config.filePropertyMask();
    }
}

void OptionWindowModel::closeWindow()
{
    m_groupClicked.fill(false);
    m_dirty = false;
    m_showedWithWantAssociatedFileTypes = false;
}

bool OptionWindowModel::saveSettings(QString* error)
{
    // A group the user left alone keeps exactly what the desktop gives us now: an unticked row
    // only means "never set from here", not "take it away", and a type only partly ours (some
    // kinds of camera raw) stays so.
    bool anyClicked = m_showedWithWantAssociatedFileTypes;
    QStringList wanted;
    QStringList leftAlone;
    for (int row = 0; row < m_groups.size(); ++row) {
        const OptionFileAssociateItemInfo& group = m_groups[row];
        if (m_showedWithWantAssociatedFileTypes || groupClicked(row)) {
            anyClicked = true;
            if (group.associated())
                wanted << group.arraySubFileTypes();
            continue;
        }
        leftAlone << group.arraySubFileTypes();
    }
    if (anyClicked)
        m_associator.makeFileAssoicateForFileTypes(wanted, leftAlone);
    m_groupClicked.fill(false);
    if (!m_dirty)
        return true;
    m_config.setMouseWheelEnabled(m_mouseWheelEnabled);
    m_config.setZoomWhileMouseWheel(m_zoomWhileMouseWheel);
    m_config.setAnimationZoom(m_animationZoom);
    m_config.setKeepPrevScaleWhenNavFile(m_keepZoomRatio);
    m_config.setViewPhotosInSubfolder(m_viewPhotosInSubfolder);
    m_config.setUseDesktopColours(m_useDesktopColours);
    m_config.setFilePropertyMask(m_filePropertyMask);
    m_dirty = false;
    // Unsaved, the choices still hold for this run, and the next save writes them.
    const bool saved = m_config.save(false, error);
    m_center.postNotification(QStringLiteral("didChangeOptionSetting"), this);
    return saved;
}

void OptionWindowModel::setMouseWheelEnabled(bool on) { m_mouseWheelEnabled = on; m_dirty = true; }
void OptionWindowModel::setAnimationZoom(bool on) { m_animationZoom = on; m_dirty = true; }
void OptionWindowModel::setKeepZoomRatio(bool on) { m_keepZoomRatio = on; m_dirty = true; }
void OptionWindowModel::setViewPhotosInSubfolder(bool on) { m_viewPhotosInSubfolder = on; m_dirty = true; }
void OptionWindowModel::setUseDesktopColours(bool on) { m_useDesktopColours = on; m_dirty = true; }

void OptionWindowModel::setZoomWhileMouseWheel(bool zoom)
{
    if (zoom == m_zoomWhileMouseWheel)
        return;
    m_zoomWhileMouseWheel = zoom;
    m_dirty = true;
}

void OptionWindowModel::fileInfoCheckButtonClicked(long type)
{
    if (type < 0 || type > 62)
        return;
    m_filePropertyMask ^= qint64(1) << type;
    m_dirty = true;
}

void OptionWindowModel::optionTabButtonClicked(long tab)
{
    if (tab < 1 || tab > 3)
        return;
    m_curOptionTabType = tab;
    m_config.setCurOptionTabType(tab);
    m_config.saveForKey(QStringLiteral("curOptionTabType"));
}

void OptionWindowModel::optionFileAssociateItemClicked(int row)
{
    if (row < 0 || row >= m_groups.size())
        return;
    OptionFileAssociateItemInfo& group = m_groups[row];
    group.setArrayPrevAssociatedSubFileTypes({});
    group.setAssociated(!group.associated());
    m_groupClicked[row] = true;
    m_dirty = true;
}

QString OptionWindowModel::fileInfoDisplayNameByType(long type)
{
    static const char* const keys[] = {
        "IDS_FileName",     "IDS_Resolution",   "IDS_DateTaken",     "IDS_FileSize",        "IDS_CameraMaker",
        "IDS_CameraModel",  "IDS_FNumber",      "IDS_ExposureTime",  "IDS_ISO",             "IDS_ExposureBias",
        "IDS_FocalLength",  "IDS_Flash",        "IDS_MeteringMode",  "IDS_ExposureProgram", "IDS_WhiteBalance",
        "IDS_Brightness",   "IDS_Contrast",     "IDS_Saturation",    "IDS_Lens",
    };
    if (type < 0 || type >= long(std::size(keys)))
        return {};
    return kpv::Bundle::mainBundle().localizedString(QString::fromLatin1(keys[type]));
}
