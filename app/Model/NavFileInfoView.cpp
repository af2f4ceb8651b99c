#include "Model/NavFileInfoView.h"

#include "Model/LMExifInfoFormat.h"
#include "Model/LMPathString.h"
#include "Model/LMPathTools.h"
#include "foundation/FileNames.h"
#include "foundation/Bundle.h"
#include "foundation/StringFormat.h"


#include <array>
#include <cmath>

namespace {

const QString kSeparator = QStringLiteral(" | ");

// Display order of the items after the name.
constexpr std::array<uint64_t, 18> kItemOrder = {
    NavFileProperty::kDimensions,    NavFileProperty::kDate,          NavFileProperty::kFileSize,
    NavFileProperty::kMaker,         NavFileProperty::kModel,         NavFileProperty::kLens,
    NavFileProperty::kFNumber,       NavFileProperty::kExposureTime,  NavFileProperty::kISO,
    NavFileProperty::kExposureBias,  NavFileProperty::kFocalLength,   NavFileProperty::kFlash,
    NavFileProperty::kMeteringMode,  NavFileProperty::kExposureProgram, NavFileProperty::kWhiteBalance,
    NavFileProperty::kBrightness,    NavFileProperty::kContrast,      NavFileProperty::kSaturation,
};

QDateTime fileCreationDate(const LMPathString &path)
{
    if (path.isEmpty() || path.isMemoryFilePathString())
        return {};
    return LMPathTools::fileCreationDate(path.path());
}

} // namespace

NavFileInfoView::NavFileInfoView(TextWidth textWidth, const kpv::Bundle *bundle)
    : m_textWidth(std::move(textWidth)), m_bundle(bundle != nullptr ? *bundle : kpv::Bundle::mainBundle()),
      m_creationDate(fileCreationDate)
{
}

void NavFileInfoView::setBounds(const QRectF &bounds)
{
    m_bounds = bounds;
    updateFrame();
}

void NavFileInfoView::setMarginLeft(double marginLeft, double marginRight)
{
    m_marginLeft = marginLeft;
    m_marginRight = marginRight;
    updateFrame();
}

void NavFileInfoView::setFieldFrames(const QRectF &nameFrame, const QRectF &exifFrame)
{
    m_txtFileName.frame = nameFrame;
    m_txtExifInfo.frame = exifFrame;
}

void NavFileInfoView::setFileImgBaseInfo(const LMFileImgBaseInfoPtr &info, uint64_t mask)
{
    QString name;
    if (info != nullptr && (mask & NavFileProperty::kFileName) != 0)
        name = kpv::displayFileName(LMPathString::lastPathComponent(info->filePath().path()));
    m_txtFileName.stringValue = name;

    const QString items = formatExifString(info, mask);
    m_txtExifInfo.stringValue = (!name.isEmpty() && !items.isEmpty()) ? kSeparator + items : items;
    updateFrame();
}

QString NavFileInfoView::formatExifString(const LMFileImgBaseInfoPtr &info, uint64_t options) const
{
    QString text;
    if (info == nullptr || options == 0)
        return text;
    for (const uint64_t bit : kItemOrder) {
        if ((options & bit) == 0)
            continue;
        // One line: a camera's text may hold a line break.
        const QString item = kpv::singleLine(itemText(*info, bit));
        if (item.isEmpty())
            continue;
        if (!text.isEmpty())
            text += kSeparator;
        text += item;
    }
    return text;
}

QString NavFileInfoView::itemText(const LMFileImgBaseInfo &info, uint64_t bit) const
{
    const LMExifInfoFormat exif(info.properties(), &m_bundle);
    switch (bit) {
    case NavFileProperty::kDimensions: {
        const QSizeF size = info.frameSize();
        return QStringLiteral("%1x%2").arg(static_cast<int64_t>(size.width())).arg(static_cast<int64_t>(size.height()));
    }
    case NavFileProperty::kDate: {
        const QString taken = exif.stringFromTakenTime();
        if (!taken.isEmpty())
            return taken;
        // The creation date is shown in the user's time zone, like the date taken: in UTC a file
        // made shortly after midnight would show the day before.
        const QDateTime created = m_creationDate ? m_creationDate(info.filePath()) : QDateTime();
        return created.isValid() ? LMExifInfoFormat::stringFromDate(created, true) : QString();
    }
    case NavFileProperty::kFileSize: return LMExifInfoFormat::stringFromFileSize(info.fileSize(), &m_bundle);
    case NavFileProperty::kMaker: return exif.maker();
    case NavFileProperty::kModel: return exif.model();
    case NavFileProperty::kLens: return exif.lensModel();
    case NavFileProperty::kFNumber: return exif.stringFromFNumber();
    case NavFileProperty::kExposureTime: return exif.stringFromExposureTime();
    case NavFileProperty::kISO: return exif.stringFromISOWithISOPrefix(true);
    case NavFileProperty::kExposureBias: return exif.stringFromExposureBias();
    case NavFileProperty::kFocalLength: return exif.stringFromFocalLength();
    case NavFileProperty::kFlash: return exif.stringFromFlash();
    case NavFileProperty::kMeteringMode: return exif.stringFromMeteringMode();
    case NavFileProperty::kExposureProgram: return exif.stringFromExposureProgram();
    case NavFileProperty::kWhiteBalance: return exif.stringFromWhiteBalance();
    case NavFileProperty::kBrightness: return exif.stringFromBrightness();
    case NavFileProperty::kContrast: return exif.stringFromContrast();
    case NavFileProperty::kSaturation: return exif.stringFromSaturation();
    default: return {};
    }
}

void NavFileInfoView::updateFrame()
{
    const auto measure = [this](const QString &s) {
        return std::round(m_textWidth ? m_textWidth(s) : 0.0) + kTextPadding;
    };
    double n = measure(m_txtFileName.stringValue);
    double e = measure(m_txtExifInfo.stringValue);
    const double width = m_bounds.width();
    const double available = width - m_marginLeft - m_marginRight;
    if (available - e < n) {
        n = available - e;
        if (n < kMinNameWidth) {
            n = kMinNameWidth;
            // A line narrower than the name's minimum leaves the properties no room at all, not
            // a negative width.
            e = std::max(0.0, available - kMinNameWidth);
        }
    }

    const QRectF &oldName = m_txtFileName.frame;
    const QRectF nameFrame = integralRect(QRectF((width - (n + e)) * 0.5, oldName.y(), n, oldName.height()));
    if (nameFrame != oldName)
        m_txtFileName.frame = nameFrame;

    const QRectF &oldExif = m_txtExifInfo.frame;
    const QRectF exifFrame = integralRect(QRectF(nameFrame.right(), oldExif.y(), e, oldExif.height()));
    if (exifFrame != oldExif)
        m_txtExifInfo.frame = exifFrame;
}

QRectF NavFileInfoView::integralRect(const QRectF &rect)
{
    const double left = std::floor(rect.left());
    const double top = std::floor(rect.top());
    const double right = rect.width() > 0 ? std::ceil(rect.right()) : left;
    const double bottom = rect.height() > 0 ? std::ceil(rect.bottom()) : top;
    return QRectF(left, top, right - left, bottom - top);
}
