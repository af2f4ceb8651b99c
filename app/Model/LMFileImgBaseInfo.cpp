#include "Model/LMFileImgBaseInfo.h"

#include "foundation/FileNames.h"
#include "imageio/ImageProperties.h"
#include "imageio/Orientation.h"

#include <QFileInfo>

namespace {

// Stored GIF delays below this play at kSlowGifDelay: files that ask for 0 or 0.01 s mean "fast",
// and every browser plays them at a tenth of a second.
constexpr float kMinimumGifDelay = 0.02f;
constexpr double kSlowGifDelay = 0.1;

float floatValue(const QVariant &v, bool *ok = nullptr) { return v.toFloat(ok); }

} // namespace

LMFileImgBaseInfo::LMFileImgBaseInfo(const LMPathString &filePath, const QString &imageUTI, uint64_t AMCMImageType,
                                     const QDateTime &fileModificationDate, const QSizeF &rawFrameSize,
                                     int64_t orientation, const QVariantMap &properties,
                                     const kpv::FileIdentity &fileIdentity)
    : m_filePath(filePath), m_imageUTI(imageUTI), m_AMCMImageType(AMCMImageType),
      m_fileModificationDate(fileModificationDate), m_rawFrameSize(rawFrameSize),
      m_rawOrientation(orientation == 0 ? 1 : orientation), m_properties(properties), m_fileIdentity(fileIdentity)
{
    m_orientationAngle = angleByOrientation(m_rawOrientation);
    m_orientationMirrored = isMirroredOrientation(m_rawOrientation);

    const QVariantMap gif = m_properties.value(kpv::kCGImagePropertyGIFDictionary).toMap();
    const QVariant delay = gif.value(kpv::kCGImagePropertyGIFDelayTime);
    if (delay.isValid()) {
        bool ok = false;
        const float d = floatValue(delay, &ok);
        if (ok && d == d)
            m_delayTime = d < kMinimumGifDelay ? kSlowGifDelay : double(d);
    }
}

std::shared_ptr<const LMFileImgBaseInfo> LMFileImgBaseInfo::createMemoryFileImgBaseInfoWithRawFrameSize(const QSizeF &rawFrameSize,
                                                                                                        const QVariantMap &properties)
{
    return std::make_shared<LMFileImgBaseInfo>(LMPathString::memoryFilePathString(), QString(""), 0, QDateTime(), rawFrameSize, 1,
                                               properties);
}

std::shared_ptr<const LMFileImgBaseInfo> LMFileImgBaseInfo::fileImgBaseInfoByReplaceFilePath(const LMPathString &filePath) const
{
    auto copy = std::make_shared<LMFileImgBaseInfo>(*this);
    copy->m_filePath = filePath;
    return copy;
}

std::shared_ptr<const LMFileImgBaseInfo> LMFileImgBaseInfo::fileImgBaseInfoByReplaceFilePath(
    const LMPathString &filePath, const kpv::FileIdentity &fileIdentity) const
{
    auto copy = std::make_shared<LMFileImgBaseInfo>(*this);
    copy->m_filePath = filePath;
    copy->m_fileIdentity = fileIdentity;
    return copy;
}

int64_t LMFileImgBaseInfo::angleByOrientation(int64_t orientation)
{
    return orientation >= 1 && orientation <= 8 ? kpv::orientationTurn(int(orientation)).angle : 0;
}

bool LMFileImgBaseInfo::isMirroredOrientation(int64_t orientation)
{
    return orientation >= 1 && orientation <= 8 && kpv::orientationTurn(int(orientation)).mirrored;
}

QRectF LMFileImgBaseInfo::frameRect() const
{
    // Exact quarter turns of (0, 0, w, h) by the y-up rotation (cos, -sin; sin, cos).
    const double w = m_rawFrameSize.width(), h = m_rawFrameSize.height();
    switch (m_orientationAngle) {
    case 90:
        return QRectF(-h, 0, h, w);
    case 180:
        return QRectF(-w, -h, w, h);
    case 270:
        return QRectF(0, -w, h, w);
    default:
        return QRectF(0, 0, w, h);
    }
}

QSizeF LMFileImgBaseInfo::frameSize() const { return frameRect().size(); }

bool LMFileImgBaseInfo::fileModified() const
{
    if (m_filePath.isMemoryFilePathString())
        return false;
    if (m_fileIdentity.isValid())
        return kpv::fileIdentity(m_filePath.path()) != m_fileIdentity;
    const QDateTime now = m_filePath.dateModified();
    if (!now.isValid())
        return true;
    return now != m_fileModificationDate;
}

bool LMFileImgBaseInfo::isEqual(const LMFileImgBaseInfo &other) const
{
    if (!m_fileModificationDate.isValid() || !other.m_fileModificationDate.isValid())
        return false;
    return m_filePath == other.m_filePath && m_fileModificationDate == other.m_fileModificationDate;
}

uint64_t LMFileImgBaseInfo::fileSize() const
{
    if (m_filePath.isEmpty() || m_filePath.isMemoryFilePathString())
        return 0;
    return uint64_t(std::max<qint64>(kpv::pathStatus(m_filePath.path()).size, 0));
}

QSizeF LMFileImgBaseInfo::dpi() const
{
    return QSizeF(floatValue(m_properties.value(kpv::kCGImagePropertyDPIWidth)),
                  floatValue(m_properties.value(kpv::kCGImagePropertyDPIHeight)));
}
