#include "Shell/Panels/PropertiesWindowController.h"

#include "Shell/Panels/NavigateWindowController.h"

#include "Model/LMExifInfoFormat.h"
#include "Model/LMFileImgBaseInfo.h"
#include "Model/LMImage.h"
#include "Model/LMBitmap.h"
#include "Model/LMBlockOperation.h"
#include "Model/LMPathTools.h"
#include "foundation/FileNames.h"
#include "foundation/Bundle.h"
#include "foundation/NotificationCenter.h"
#include "foundation/Operation.h"
#include "foundation/OperationQueue.h"
#include "foundation/RunLoop.h"

#include <QFileInfo>

#include <cmath>

namespace {

constexpr int kScaleTypeSmallThumb = 8;
constexpr int kScaleTypeSmallFitin = 10;
constexpr int kScaleTypeLargeFitin = 11;
const QString kNoValue = QStringLiteral("--");

QString nameKeyByType(long type)
{
    static const char* const keys[] = {
        "IDS_FileName",    "IDS_Resolution",  "IDS_DateTaken",    "IDS_FileSize",        "IDS_CameraMaker",
        "IDS_CameraModel", "IDS_FNumber",     "IDS_ExposureTime", "IDS_ISO",             "IDS_ExposureBias",
        "IDS_FocalLength", "IDS_Flash",       "IDS_MeteringMode", "IDS_ExposureProgram", "IDS_WhiteBalance",
        "IDS_Brightness",  "IDS_Contrast",    "IDS_Saturation",   "IDS_Lens",            "IDS_GPSPosition",
    };
    if (type < 0 || type >= long(std::size(keys)))
        return {};
    return QString::fromLatin1(keys[type]);
}

// A null text (nothing known) shows as "--"; an empty one stays empty.
QString shown(const QString& value) { return value.isNull() ? kNoValue : value; }

}  // namespace

PropertiesWindowController::PropertiesWindowController(PropertiesWindowHost& host, kpv::NotificationCenter& center,
                                                       const void* application, const void* mainWindow)
    : m_host(host), m_center(center), m_application(application), m_mainWindow(mainWindow),
      m_alive(std::make_shared<bool>(true))
{
    for (int i = 0; i < kItemCount; ++i)
        m_values << kNoValue;
    registNotifications(true);
}

PropertiesWindowController::~PropertiesWindowController()
{
    registNotifications(false);
    *m_alive = false;
    if (m_operationQueueGrayHistogram) {
        m_operationQueueGrayHistogram->cancelAllOperations();
        m_operationQueueGrayHistogram->waitUntilAllOperationsAreFinished();
    }
}

void PropertiesWindowController::registNotifications(bool regist)
{
    if (!regist) {
        m_center.removeObserver(this);
        return;
    }
    auto on = [this](const char* name, const void* sender, kpv::NotificationCenter::Handler handler) {
        m_center.addObserver(this, QString::fromLatin1(name), sender, std::move(handler));
    };
    on("applicationWillBecomeActive", m_application, [this](const kpv::Notification&) { showWithCheckStatus(); });
    on("applicationWillResignActive", m_application, [this](const kpv::Notification&) { hideWithoutChangeStatus(); });
    on("windowDidBecomeKey", m_mainWindow, [this](const kpv::Notification&) { showWithCheckStatus(); });
    on("windowDidResignKey", m_mainWindow, [this](const kpv::Notification&) { hideWithoutChangeStatus(); });
    on("didLoadCurrentFileInfo", nullptr, [this](const kpv::Notification&) { updateFileInfo(); });
    on("didLoadCurrentSmallThumb", nullptr, [this](const kpv::Notification&) { updateThumb(); });
    on("didLoadImage", nullptr, [this](const kpv::Notification& n) {
        const LMNavFileInfoPtr cur = m_host.curFileInfo();
        const QVariant path = n.userInfo.value(QStringLiteral("filePath"));
        const int type = n.userInfo.value(QStringLiteral("ImageScaleType")).toInt();
        if (cur && path.value<LMPathString>() == cur->filePath() &&
            (type == kScaleTypeSmallFitin || type == kScaleTypeLargeFitin)) {
            updateThumb();
            beginUpdateGrayHistogram();
        }
    });
    on("didRenameCurrentFile", nullptr, [this](const kpv::Notification&) { updateFileName(); });
    on("didChangeCurFile", nullptr, [this](const kpv::Notification&) {
        updateThumb();
        updateFileInfo();
        if (m_operationQueueGrayHistogram)
            m_operationQueueGrayHistogram->cancelAllOperations();
        beginUpdateGrayHistogram();
    });
    on("didChangeMainShowMode", nullptr, [this](const kpv::Notification& n) {
        if (n.userInfo.value(QStringLiteral("new")).toLongLong() == 4)
            showWithCheckStatus();
        else
            hideWithoutChangeStatus();
    });
}

void PropertiesWindowController::show()
{
    if (m_showStatus)
        return;
    m_showStatus = true;
    showWithCheckStatus();
    updateFileInfo();
    updateThumb();
    beginUpdateGrayHistogram();
}

void PropertiesWindowController::hide()
{
    if (!m_showStatus)
        return;
    hideWithoutChangeStatus();
    m_showStatus = false;
}

void PropertiesWindowController::showWithCheckStatus()
{
    if (m_showStatus && m_host.mainShowMode() == 4 && m_host.canDoAction(kPropertiesAction) && m_host.isMainWindowKey()) {
        m_windowVisible = true;
        m_host.setPanelWindowVisible(true);
    }
}

void PropertiesWindowController::hideWithoutChangeStatus()
{
    m_windowVisible = false;
    m_host.setPanelWindowVisible(false);
}

QString PropertiesWindowController::infoDisplayNameByType(long type)
{
    const QString key = nameKeyByType(type);
    if (key.isEmpty())
        return {};
    const kpv::Bundle& bundle = kpv::Bundle::mainBundle();
    const QString text = bundle.localizedString(key);
    if (text.isEmpty())
        return text;
    return bundle.localizedStringWithFormat(QStringLiteral("IDS_TextWithColon_Fmt"), text);
}

QString PropertiesWindowController::infoValueByType(long type, const LMFileInfo* fileInfo)
{
    if (!fileInfo)
        return kNoValue;
    if (type == 0) {
        const QString name = kpv::displayFileName(LMPathString::lastPathComponent(fileInfo->filePath().path()));
        return name.isEmpty() ? kNoValue : name;
    }
    const LMFileImgBaseInfoPtr base = fileInfo->imgBaseInfo();
    if (!base || type < 1 || type >= kItemCount)
        return kNoValue;
    const LMExifInfoFormat format(base->properties());
    switch (type) {
    case 1: {
        const QSizeF size = base->frameSize();
        return QStringLiteral("%1x%2").arg(qint64(size.width())).arg(qint64(size.height()));
    }
    case 2: {
        QString taken = format.stringFromTakenDateAndTime();
        if (taken.isEmpty()) {
            const QDateTime created = LMPathTools::fileCreationDate(fileInfo->filePath().path());
            if (created.isValid())
                taken = LMExifInfoFormat::stringFromDate(created, true);
        }
        return shown(taken);
    }
    case 3: return shown(LMExifInfoFormat::stringFromFileSize(base->fileSize()));
    case 4: return shown(format.maker());
    case 5: return shown(format.model());
    case 6: return shown(format.stringFromFNumber());
    case 7: return shown(format.stringFromExposureTime());
    case 8: return shown(format.stringFromISOWithISOPrefix(false));
    case 9: return shown(format.stringFromExposureBias());
    case 10: return shown(format.stringFromFocalLength());
    case 11: return shown(format.stringFromFlash());
    case 12: return shown(format.stringFromMeteringMode());
    case 13: return shown(format.stringFromExposureProgram());
    case 14: return shown(format.stringFromWhiteBalance());
    case 15: return shown(format.stringFromBrightness());
    case 16: return shown(format.stringFromContrast());
    case 17: return shown(format.stringFromSaturation());
    case 18: return shown(format.lensModel());
    case 19: return shown(format.stringFromGPSPosition());
    }
    return kNoValue;
}

void PropertiesWindowController::updateFileName()
{
    if (!m_showStatus)
        return;
    const LMNavFileInfoPtr cur = m_host.curFileInfo();
    m_values[0] = infoValueByType(0, cur.get());
    m_host.panelContentChanged();
}

void PropertiesWindowController::updateFileInfo()
{
    if (!m_showStatus)
        return;
    updateFileName();
    const LMNavFileInfoPtr cur = m_host.curFileInfo();
    for (int type = 1; type < kItemCount; ++type)
        m_values[type] = infoValueByType(type, cur.get());
    m_host.panelContentChanged();
}

void PropertiesWindowController::updateThumb()
{
    if (!m_showStatus)
        return;
    const LMNavFileInfoPtr cur = m_host.curFileInfo();
    if (!cur) {
        m_thumb = QImage();
        m_thumbAngle = 0;
        m_host.panelContentChanged();
        return;
    }
    bool failed = false;
    const LMImagePtr image = cur->imageByType(kScaleTypeSmallThumb, &failed);
    if (failed || !image) {
        m_thumb = m_host.defaultImage(failed ? 2 : 1);
        m_thumbAngle = 0;
        m_lastThumbImage.reset();
        m_host.panelContentChanged();
        return;
    }
    // The image view can only turn, as the navigator's: it is given the same picture and turn.
    double angle = 0;
    QImage picture = NavigateWindowController::thumbPicture(*image, &angle);
    const QSizeF place = m_host.thumbPixelSize();
    const QSizeF box = std::lround(std::abs(angle)) % 180 == 90 ? place.transposed() : place;
    const LMImagePtr source = NavigateWindowController::sharpThumbSource(*cur, image, picture.size(), box);
    if (source == m_lastThumbImage)
        return;
    if (source != image)
        picture = NavigateWindowController::sharpThumbPicture(
            NavigateWindowController::thumbPicture(*source, &angle), box);
    m_thumb = picture;
    m_thumbAngle = long(angle);
    m_lastThumbImage = source;
    m_host.panelContentChanged();
}

LMImagePtr PropertiesWindowController::curFileImageForGrayHistogramWithFailFlag(bool* failFlag) const
{
    const LMNavFileInfoPtr cur = m_host.curFileInfo();
    bool failed = false;
    LMImagePtr image;
    if (cur) {
        image = cur->imageByType(kScaleTypeSmallFitin, &failed);
        if (!image && !failed)
            image = cur->imageByType(kScaleTypeLargeFitin, &failed);
    }
    if (failFlag)
        *failFlag = failed;
    return image;
}

void PropertiesWindowController::applyGrayHistogram(const tagLMGrayHistogramDataInfos& infos, const LMImagePtr& image)
{
    m_histogramView.setGrayHistogramDataInfos(&infos);
    m_lastImageForGrayHistogram = image;
}

void PropertiesWindowController::beginUpdateGrayHistogram()
{
    bool failed = false;
    const LMImagePtr image = curFileImageForGrayHistogramWithFailFlag(&failed);
    if (failed || !image) {
        applyGrayHistogram(tagLMGrayHistogramDataInfos(), nullptr);
        return;
    }
    if (image == m_lastImageForGrayHistogram)
        return;
    if (!m_operationQueueGrayHistogram)
        m_operationQueueGrayHistogram = std::make_unique<kpv::OperationQueue>();
    std::weak_ptr<bool> alive = m_alive;
    auto op = LMBlockOperation::blockOperationWithBlock([this, image, alive](LMBlockOperation* self) {
        const auto cancelled = [self] { return self->isCancelled(); };
        auto infos = std::make_shared<tagLMGrayHistogramDataInfos>();
        const std::shared_ptr<LMBitmap> bitmap = image->preferredBitmap();
        bool done;
        if (bitmap && bitmap->isValid()) {
            done = LMGrayHistogramView::computeGrayHistogram(
                static_cast<const uint8_t*>(bitmap->bitmap()->pPlane[0]), bitmap->width(), bitmap->height(),
                int64_t(bitmap->bytesPerRow()), int64_t(bitmap->bitsPerPixel()), cancelled, infos.get());
        } else {
            done = LMGrayHistogramView::computeGrayHistogram(nullptr, 0, 0, 0, 0, cancelled, infos.get());
        }
        if (!done)
            return;
        kpv::RunLoop::performOnMainThread([this, infos, image, alive] {
            const auto stillAlive = alive.lock();
            if (!stillAlive || !*stillAlive)
                return;
            // Only the histogram of the image that is still current is shown.
            if (curFileImageForGrayHistogramWithFailFlag(nullptr) == image)
                applyGrayHistogram(*infos, image);
        }, false);
    });
    m_operationQueueGrayHistogram->addOperation(op);
}

void PropertiesWindowController::waitForGrayHistogram()
{
    if (m_operationQueueGrayHistogram)
        m_operationQueueGrayHistogram->waitUntilAllOperationsAreFinished();
}
