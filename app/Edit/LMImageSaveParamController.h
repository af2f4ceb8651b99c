#pragma once

// The output format and its options for Save As and batch convert: one of five types, the page of
// options that goes with it, and the save parameters (a TIFF sub-dictionary with the compression
// and the lossy quality) that the image writer merges into the properties. The parameters are one
// live dictionary, shared with whoever asked for it, so later changes show there too.

#include <QList>
#include <QMap>
#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <memory>

class LMImageSaveParamController;

class LMImageSaveParamControllerDelegate {
public:
    virtual ~LMImageSaveParamControllerDelegate() = default;
    virtual void saveTypeChangedOfImageSaveParamController(LMImageSaveParamController *controller) { (void)controller; }
};

class LMImageSaveParamController {
public:
    struct TypeEntry {
        QString uti;
        QString localized;
        bool operator==(const TypeEntry &o) const { return uti == o.uti && localized == o.localized; }
    };
    struct CompressionEntry {
        int compression = 1;
        QString localized;
        bool operator==(const CompressionEntry &o) const { return compression == o.compression && localized == o.localized; }
    };

    // The chosen type; empty until set. Setting tells the delegate every time, also for the same value.
    QString saveType() const { return m_curSaveUTI; }
    void setSaveType(const QString &uti);
    // The five types in menu order: JPEG, JPEG 2000, PNG, TIFF, BMP.
    QList<TypeEntry> saveTypes() const;
    // 3 TIFF, 2 JPEG 2000, 1 JPEG, 0 anything else.
    int saveTab() const;
    QList<CompressionEntry> saveCompressions() const;
    // 1, 5 or 32773 as stored; 1 for anything else (the stored value is left alone).
    int saveCompression() const;
    void setSaveCompression(int compression);
    QVariant saveQuality() const;
    void setSaveQuality(const QVariant &quality);
    // The live parameters.
    std::shared_ptr<QVariantMap> saveParameters() const { return saveMetaAndOpts(); }

    LMImageSaveParamControllerDelegate *delegate() const { return m_delegate; }
    void setDelegate(LMImageSaveParamControllerDelegate *delegate) { m_delegate = delegate; }

    // The parameters, made on first use with an empty TIFF sub-dictionary and the quality 0.9.
    std::shared_ptr<QVariantMap> saveMetaAndOpts() const;

    // A type's display name from the string table, the identifier itself when it has none.
    static QString imageIOLocalizedString(const QString &uti);
    // Type identifier to the extension written for it.
    static QMap<QString, QString> savedFileExtensionAndUtis();
    // The label of a TIFF compression code; empty for an unknown code.
    static QString compressionLabel(int compression);

private:
    QString m_curSaveUTI;
    mutable std::shared_ptr<QVariantMap> m_curSaveMetaAndOpts;
    LMImageSaveParamControllerDelegate *m_delegate = nullptr;
};
