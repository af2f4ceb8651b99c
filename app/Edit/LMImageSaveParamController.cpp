#include "Edit/LMImageSaveParamController.h"

#include "foundation/Bundle.h"
#include "imageio/ContentTypes.h"
#include "imageio/ImageProperties.h"

#include <QMap>

namespace {
const QString kTiffKey = QString::fromLatin1(kpv::kCGImagePropertyTIFFDictionary);
const QString kCompressionKey = QString::fromLatin1(kpv::kCGImagePropertyTIFFCompression);
const QString kQualityKey = QString::fromLatin1(kpv::kCGImageDestinationLossyCompressionQuality);

bool isKnownCompression(int c) { return c == 1 || c == 5 || c == 32773; }
} // namespace

std::shared_ptr<QVariantMap> LMImageSaveParamController::saveMetaAndOpts() const
{
    if (!m_curSaveMetaAndOpts) {
        m_curSaveMetaAndOpts = std::make_shared<QVariantMap>();
        m_curSaveMetaAndOpts->insert(kTiffKey, QVariantMap());
        m_curSaveMetaAndOpts->insert(kQualityKey, QVariant::fromValue(0.9f));
    }
    return m_curSaveMetaAndOpts;
}

void LMImageSaveParamController::setSaveType(const QString &uti)
{
    m_curSaveUTI = uti;
    if (m_delegate)
        m_delegate->saveTypeChangedOfImageSaveParamController(this);
}

QList<LMImageSaveParamController::TypeEntry> LMImageSaveParamController::saveTypes() const
{
    using namespace kpv::ContentTypes;
    QList<TypeEntry> list;
    for (const QString &uti : {kJpeg, kJpeg2000, kPng, kTiff, kBmp})
        list.append(TypeEntry{uti, imageIOLocalizedString(uti)});
    return list;
}

int LMImageSaveParamController::saveTab() const
{
    using namespace kpv::ContentTypes;
    if (m_curSaveUTI == kTiff)
        return 3;
    if (m_curSaveUTI == kJpeg2000)
        return 2;
    if (m_curSaveUTI == kJpeg)
        return 1;
    return 0;
}

QList<LMImageSaveParamController::CompressionEntry> LMImageSaveParamController::saveCompressions() const
{
    QList<CompressionEntry> list;
    for (int c : {1, 5, 32773})
        list.append(CompressionEntry{c, compressionLabel(c)});
    return list;
}

QString LMImageSaveParamController::compressionLabel(int compression)
{
    switch (compression) {
    case 1:
        return kpv::Bundle::mainBundle().localizedString(QStringLiteral("IDS_None"));
    case 5:
        return QStringLiteral("LZW");
    case 32773:
        return QStringLiteral("PackBits");
    default:
        return QString();
    }
}

int LMImageSaveParamController::saveCompression() const
{
    const QVariantMap tiff = saveMetaAndOpts()->value(kTiffKey).toMap();
    const QVariant v = tiff.value(kCompressionKey);
    bool ok = false;
    const int c = v.toInt(&ok);
    return ok && isKnownCompression(c) ? c : 1;
}

void LMImageSaveParamController::setSaveCompression(int compression)
{
    auto params = saveMetaAndOpts();
    QVariantMap tiff = params->value(kTiffKey).toMap();
    tiff.insert(kCompressionKey, compression);
    params->insert(kTiffKey, tiff);
}

QVariant LMImageSaveParamController::saveQuality() const { return saveMetaAndOpts()->value(kQualityKey); }

void LMImageSaveParamController::setSaveQuality(const QVariant &quality)
{
    saveMetaAndOpts()->insert(kQualityKey, quality);
}

QString LMImageSaveParamController::imageIOLocalizedString(const QString &uti)
{
    return kpv::Bundle::mainBundle().localizedString(uti, uti);
}

QMap<QString, QString> LMImageSaveParamController::savedFileExtensionAndUtis()
{
    using namespace kpv::ContentTypes;
    return {{kJpeg, QStringLiteral("jpg")},
            {kPng, QStringLiteral("png")},
            {kTiff, QStringLiteral("tiff")},
            {kBmp, QStringLiteral("bmp")},
            {kJpeg2000, QStringLiteral("jp2")}};
}
