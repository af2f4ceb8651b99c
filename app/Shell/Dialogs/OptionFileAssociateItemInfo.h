#pragma once
// One row of the association tab of the preferences: a group of supported image types (JPEG,
// PNG, TIFF, GIF, BMP, PSD, all camera-raw types, all others) with its tick.

#include <QString>
#include <QStringList>

class OptionFileAssociateItemInfo {
public:
    explicit OptionFileAssociateItemInfo(long infoType) : m_infoType(infoType) {}

    long infoType() const { return m_infoType; }
    bool associated() const { return m_associated; }
    void setAssociated(bool on) { m_associated = on; }
    const QStringList& arraySubFileTypes() const { return m_subFileTypes; }
    void setArraySubFileTypes(const QStringList& types) { m_subFileTypes = types; }
    // The group's types that were ours when the state was loaded.
    const QStringList& arrayPrevAssociatedSubFileTypes() const { return m_prevAssociated; }
    void setArrayPrevAssociatedSubFileTypes(const QStringList& types) { m_prevAssociated = types; }
    bool isRawType() const { return m_infoType == 6; }
    bool isOthersType() const { return m_infoType == 7; }
    QString dispName() const;
    // The content type of groups 0 to 6; empty otherwise.
    static QString fileUtiTypeByInfoType(long infoType);

private:
    long m_infoType;
    bool m_associated = false;
    QStringList m_subFileTypes;
    QStringList m_prevAssociated;
};
