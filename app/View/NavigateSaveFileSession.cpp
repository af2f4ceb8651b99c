#include "View/NavigateSaveFileSession.h"

#include "Kit/LMEventMonitorCenter.h"
#include "Model/LMBlockOperation.h"
#include "Model/LMImageTools.h"
#include "Model/LMPathString.h"
#include "Model/LMPerformSelectorWrapper.h"
#include "Model/LMSaveStages.h"
#include "View/NavImageLoader.h"
#include "appkit/Event.h"
#include "foundation/OperationQueue.h"
#include "foundation/TerminationSignals.h"
#include "imageio/ContentTypes.h"
#include "imageio/ImageProperties.h"
#include "foundation/FileNames.h"
#include "imageio/FileAccess.h"
#include "imageio/ImageLimits.h"
#include "imageio/ImageSource.h"
#include "imageio/UprightImage.h"

#include <QTransform>
#include <cerrno>
#include <sys/stat.h>
#include <algorithm>

namespace {

constexpr int kFullSizeType = 1;
constexpr unsigned short kEscKeyCode = 53;

// Every event but the pointer entering or leaving a view.
constexpr kpv::EventMask kHoldBackMask =
    kpv::AnyEventMask & ~(kpv::eventMaskFromType(kpv::MouseEntered) | kpv::eventMaskFromType(kpv::MouseExited));

} // namespace

// Tells the outcome of one save on the main thread, exactly once: a save cancelled before its
// worker started (Esc with another save ahead of it) is told as cancelled when its operation goes,
// so that the input held back is let go and those waiting for the saves to end go on.
class NavigateSaveFileSession::Reporter {
public:
    using Tell = std::function<void(int code, const QImage &image, const QString &error, bool tagsLeftOut)>;
    explicit Reporter(Tell tell) : m_tell(std::move(tell)) {}
    ~Reporter()
    {
        if (!m_told)
            report(Cancelled, QImage(), QString());
    }
    void report(int code, const QImage &image, const QString &error, bool tagsLeftOut = false)
    {
        m_told = true;
        m_quitWaits.release();
        LMPerformSelectorWrapper().performOnMainThreadWithBlock(
            [tell = m_tell, code, image, error, tagsLeftOut] { tell(code, image, error, tagsLeftOut); }, false);
    }

private:
    Tell m_tell;
    bool m_told = false;
    // A quit, also one at the end of the session, lets the save finish first.
    kpv::QuitWaitsFor m_quitWaits;
};

NavigateSaveFileSession::NavigateSaveFileSession(const NavImageLoader *loader)
    : m_loader(loader), m_operationQueue(std::make_unique<kpv::OperationQueue>()), m_alive(std::make_shared<bool>(true)),
      m_lastError(std::make_shared<QString>()), m_lastTagsLeftOut(std::make_shared<bool>(false)), m_running(std::make_shared<Running>())
{
}

NavigateSaveFileSession::~NavigateSaveFileSession()
{
    *m_alive = false;
    m_operationQueue->cancelAllOperations();
    m_operationQueue->waitUntilAllOperationsAreFinished();
}

QString NavigateSaveFileSession::writeTypeOf(const LMFileImgBaseInfoPtr &info, const QString &path)
{
    static const QStringList writable{kpv::ContentTypes::kJpeg, kpv::ContentTypes::kPng, kpv::ContentTypes::kBmp,
                                      kpv::ContentTypes::kTiff};
    if (info && !info->imageUTI().isEmpty())
        return writable.contains(info->imageUTI()) ? info->imageUTI() : QString();
    const QString byName = kpv::ImageDestination::typeForPath(path);
    return writable.contains(byName) ? byName : QString();
}

QString NavigateSaveFileSession::goneError(const QString &path)
{
    return QStringLiteral("\u201C%1\u201D was moved or removed by another program, so the turn could not be saved "
                          "into it. Nothing was written.")
        .arg(kpv::displayFileName(LMPathString::lastPathComponent(path)));
}

QString NavigateSaveFileSession::lastError() const
{
    return *m_lastError;
}

bool NavigateSaveFileSession::lastTagsLeftOut() const
{
    return *m_lastTagsLeftOut;
}

void NavigateSaveFileSession::cancelAll()
{
    m_operationQueue->cancelAllOperations();
}

int NavigateSaveFileSession::runningSaves() const
{
    return m_running->count;
}

void NavigateSaveFileSession::performWhenIdle(std::function<void(bool allDone)> block)
{
    if (!block)
        return;
    if (m_running->count == 0) {
        block(true);
        return;
    }
    m_running->whenIdle.push_back(std::move(block));
}

void NavigateSaveFileSession::waitUntilAllOperationsAreFinished()
{
    m_operationQueue->waitUntilAllOperationsAreFinished();
}

QImage NavigateSaveFileSession::uprightImage(const LMImage &original, const LMImageRotateAngle &userAngle)
{
    // The whole orientation transform comes first (a mirrored orientation must not survive into
    // an upright file); the user's turn then applies to what the user saw.
    const QImage upright = original.convertToUprightImage();
    if (upright.isNull())
        return upright;
    const LMImageRotateAngle angle = userAngle.normalizeAngle();
    if (!angle.isRotatedOrFlipped())
        return upright;
    return LMImageTools::imageRotatedByAngle(upright, angle);
}

std::optional<kpv::LosslessTransform> NavigateSaveFileSession::losslessTransformFor(const LMFileImgBaseInfoPtr &info,
                                                                                   const LMImageRotateAngle &userAngle)
{
    if (!info)
        return std::nullopt;
    // A 3 x 2 probe whose pixels all differ goes the way the real pixels go.
    QImage probe(3, 2, QImage::Format_RGBA8888_Premultiplied);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            probe.setPixel(x, y, qRgb(40 * x + 10, 100 * y + 20, 7));
    // The stored proportions decide whether an orientation applies (see LMFileImgBaseInfo); the
    // probe keeps the file's: tall files get a tall probe.
    const bool tall = info->rawFrameSize().height() > info->rawFrameSize().width();
    if (tall)
        probe = probe.transformed(QTransform().rotate(90));
    const auto scaled = std::make_shared<LMFileImgBaseInfo>(info->filePath(), info->imageUTI(), info->AMCMImageType(),
                                                            info->fileModificationDate(), probe.size(),
                                                            info->rawOrientation(), info->properties());
    const QImage turned = uprightImage(LMImage(probe, scaled), userAngle).convertToFormat(probe.format());
    using T = kpv::LosslessTransform;
    for (T transform : {T::None, T::FlipHorizontal, T::FlipVertical, T::Rotate90, T::Rotate180, T::Rotate270,
                        T::Transpose, T::Transverse})
        if (kpv::ImageDestination::transformed(probe, transform).convertToFormat(probe.format()) == turned)
            return transform;
    return std::nullopt;
}

QImage NavigateSaveFileSession::pixelsToWrite(const QImage &shown, const QString &path,
                                              const LMFileImgBaseInfoPtr &info, const LMImageRotateAngle &userAngle)
{
    if (shown.isNull() || !info || path.isEmpty() || !shown.hasAlphaChannel())
        return shown;
    // Converted once: scanned for transparency here, compared with the file's pixels below.
    const QImage shownRgba = shown.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
    if (!kpv::ImageDestination::hasTransparency(shownRgba))
        return shown;
    const auto transform = losslessTransformFor(info, userAngle);
    if (!transform)
        return shown;
    const auto source = kpv::ImageSource::createWithFile(path);
    if (!source)
        return shown;
    const QImage stored = source->createStraightImageAtIndex(0);
    if (stored.format() != QImage::Format_RGBA8888)
        return shown;
    const QImage straight = kpv::ImageDestination::transformed(stored, *transform);
    // Only the very pixels that were shown: a file replaced or decoded differently keeps the
    // shown picture.
    const QImage premultiplied = straight.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
    if (premultiplied != shownRgba)
        return shown;
    return straight;
}

bool NavigateSaveFileSession::turnsInBands(const LMNavFileInfoPtr &fileInfo, const LMImageRotateAngle &userAngle,
                                          const QString &toPath)
{
    const LMFileImgBaseInfoPtr info = fileInfo ? fileInfo->imgBaseInfo() : nullptr;
    if (toPath.isEmpty() || !info)
        return false;
    const QString sourcePath = fileInfo->filePath().path();
    const QString type = toPath == sourcePath ? writeTypeOf(info, toPath) : kpv::ImageDestination::typeForPath(toPath);
    if (!kpv::ImageDestination::typeKeepsSixteenBits(type) || !kpv::ImageDestination::keepsSixteenBitsOnRewrite(sourcePath))
        return false;
    const QSize size = info->rawFrameSize().toSize();
    const bool fitsWhole = double(size.width()) * size.height() * 8 <= double(kpv::ImageLimits::kMaxDecodedBytes) &&
                           kpv::ImageDestination::sixteenBitPartFits(size);
    return !fitsWhole && losslessTransformFor(info, userAngle).has_value();
}

void NavigateSaveFileSession::beginSaveFile(const LMNavFileInfoPtr &fileInfo, const LMImageRotateAngle &rotatedAngle,
                                            const QString &toPath, const std::optional<QVariantMap> &saveParameters,
                                            bool convertOriginalImage, BeginBlock beginBlock,
                                            CompleteBlock completeBlock, bool asNewFile, const HeldCopy &heldSource)
{
    beginWork(fileInfo, rotatedAngle, toPath, saveParameters, convertOriginalImage, false, std::move(beginBlock),
              std::move(completeBlock), asNewFile, heldSource);
}

void NavigateSaveFileSession::beginPrintPicture(const LMNavFileInfoPtr &fileInfo, const LMImageRotateAngle &rotatedAngle,
                                                BeginBlock beginBlock, CompleteBlock completeBlock)
{
    beginWork(fileInfo, rotatedAngle, QString(), std::nullopt, true, true, std::move(beginBlock), std::move(completeBlock),
              false, {});
}

QImage NavigateSaveFileSession::printPicture(const LMImage &original, const LMImageRotateAngle &userAngle)
{
    const LMFileImgBaseInfoPtr info = original.originalImgBaseInfo();
    const QImage stored = original.convertToImage();
    if (!info || stored.isNull() || std::max(stored.width(), stored.height()) <= kpv::kPrintPixels)
        return uprightImage(original, userAngle);
    // Reduced before it is turned, so that no second picture at full size is made; the record
    // keeps the reduced proportions, which decide whether the orientation applies.
    const QImage reduced = stored.scaled(kpv::kPrintPixels, kpv::kPrintPixels, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    const auto scaled = std::make_shared<LMFileImgBaseInfo>(info->filePath(), info->imageUTI(), info->AMCMImageType(),
                                                            info->fileModificationDate(), reduced.size(),
                                                            info->rawOrientation(), info->properties());
    return uprightImage(LMImage(reduced, scaled), userAngle);
}

void NavigateSaveFileSession::beginWork(const LMNavFileInfoPtr &fileInfo, const LMImageRotateAngle &rotatedAngle,
                                        const QString &toPath, const std::optional<QVariantMap> &saveParameters,
                                        bool convertOriginalImage, bool forPrint, BeginBlock beginBlock,
                                        CompleteBlock completeBlock, bool asNewFile, const HeldCopy &heldSource)
{
    if (!fileInfo || (toPath.isEmpty() && !convertOriginalImage)) {
        if (completeBlock)
            completeBlock(Failed, QImage());
        return;
    }

    // Input is held back while the save works; Esc cancels it.
    kpv::OperationQueue *queue = m_operationQueue.get();
    std::shared_ptr<bool> alive = m_alive;
    LMEventMonitorPtr monitor = LMEventMonitorCenter::eventMonitorCenter().addLocalMonitorForEventsMatchingMask(
        kHoldBackMask, [queue, alive](const kpv::Event &event) {
            if (*alive && event.type() == kpv::KeyDown && event.keyCode() == kEscKeyCode)
                queue->cancelAllOperations();
            return event.type() != kpv::KeyUp && event.type() != kpv::LeftMouseUp;
        });

    // The name was chosen a moment ago: free then, it must still be free when the file is written;
    // taken then (the user agreed to replace that file), it must still be the same file. What
    // another program puts there meanwhile is left alone and the save is told failed.
    struct stat chosenStat {};
    const bool chosenFree = !toPath.isEmpty() && ::lstat(kpv::encodeFileName(toPath).constData(), &chosenStat) != 0 &&
                            errno == ENOENT;
    const kpv::FileIdentity chosen = toPath.isEmpty() || chosenFree ? kpv::FileIdentity() : kpv::fileIdentity(toPath);

    const NavImageLoader *loader = m_loader;
    std::shared_ptr<QString> lastError = m_lastError;
    std::shared_ptr<bool> lastTagsLeftOut = m_lastTagsLeftOut;
    std::shared_ptr<Running> running = m_running;
    ++running->count;
    auto reporter = std::make_shared<Reporter>([monitor, completeBlock, lastError, lastTagsLeftOut, running](
                                                   int code, const QImage &produced, const QString &error,
                                                   bool tagsLeftOut) {
        LMEventMonitorCenter::eventMonitorCenter().removeMonitor(monitor);
        *lastError = code == Failed ? error : QString();
        *lastTagsLeftOut = code == Done && tagsLeftOut;
        if (completeBlock)
            completeBlock(code, produced);
        running->allDone = running->allDone && code == Done;
        if (--running->count > 0)
            return;
        // Those waiting for the saves to end go on now, after the saves' own messages.
        const bool allDone = running->allDone;
        running->allDone = true;
        const std::vector<std::function<void(bool)>> waiting = std::move(running->whenIdle);
        running->whenIdle.clear();
        for (const auto &block : waiting)
            block(allDone);
    });
    auto op = LMBlockOperation::blockOperationWithBlock([=](LMBlockOperation *self) {
        if (!toPath.isEmpty())
            LMSaveStages::reach(LMSaveStages::Preparing, toPath);
        bool failedBefore = false;
        LMImagePtr original = fileInfo->imageByType(kFullSizeType, &failedBefore);
        // A print takes no more pixels than a page holds: a picture larger than that is read
        // reduced, so that one larger than all decodes may hold at full size prints too. A copy
        // hands over the whole picture.
        int type = kFullSizeType;
        if (!original && forPrint && loader && fileInfo->imgBaseInfo()) {
            for (int reduced = kFullSizeType + 1; reduced <= 7; ++reduced) {
                const QSizeF size = loader->imageSizeByScaleType(reduced, fileInfo->imgBaseInfo());
                if (std::max(size.width(), size.height()) < kpv::kPrintPixels)
                    break;
                type = reduced;
            }
            if (type != kFullSizeType)
                original = fileInfo->imageByType(type, &failedBefore);
        }
        bool big = false;
        if (original && original->originalImgBaseInfo()) {
            const QSizeF size = original->originalImgBaseInfo()->frameSize();
            big = size.width() * size.height() >= kBigImagePixels;
        }
        if (beginBlock && (convertOriginalImage || big || (!original && !failedBefore)))
            LMPerformSelectorWrapper().performOnMainThreadWithBlock(beginBlock, false);

        int result = Failed;
        QImage image;
        QString error;
        bool tagsLeftOut = false;
        // A photo of 16 bits per channel too large to hold whole at that depth, written as PNG or
        // TIFF, is turned from the file a band at a time: its pixels are never decoded whole.
        const bool inBands = !failedBefore && !convertOriginalImage && turnsInBands(fileInfo, rotatedAngle, toPath);
        if (!failedBefore) {
            if (!original && loader && !inBands) {
                // Moved away or removed: its whole picture is read from the copy held.
                const LMFileImgBaseInfoPtr base = fileInfo->imgBaseInfo();
                const LMPathString held(heldSource.path, false);
                if (heldSource.stillThere() && base && !kpv::pathStatus(fileInfo->filePath().path()).exists &&
                    heldSource.copiedFrom == base->fileIdentity())
                    original = loader->loadImage(held, type, base->fileImgBaseInfoByReplaceFilePath(held, heldSource.copy),
                                                 self, nullptr, {});
                else
                    original = loader->loadImage(fileInfo->filePath(), type, base, self, nullptr, {});
            }
            if ((original || inBands) && !self->isCancelled()) {
                if (forPrint)
                    image = printPicture(*original, rotatedAngle);
                else if (!inBands)
                    image = uprightImage(*original, rotatedAngle);
                if ((inBands || !image.isNull()) && !self->isCancelled()) {
                    if (toPath.isEmpty()) {
                        result = Done;
                    } else {
                        LMFileImgBaseInfoPtr decodedInfo =
                            original ? original->originalImgBaseInfo() : fileInfo->imgBaseInfo();
                        // Renamed by another program since it was decoded: the same file (the
                        // rename was told by its identity) is written over under its new name.
                        if (const LMFileImgBaseInfoPtr now = fileInfo->imgBaseInfo();
                            decodedInfo && now && decodedInfo->filePath() != now->filePath() &&
                            decodedInfo->fileIdentity().isValid() && decodedInfo->fileIdentity() == now->fileIdentity())
                            decodedInfo = decodedInfo->fileImgBaseInfoByReplaceFilePath(now->filePath());
                        std::optional<QVariantMap> source;
                        if (decodedInfo)
                            source = decodedInfo->properties();
                        else
                            source = QVariantMap();
                        std::optional<QVariantMap> properties = LMImageTools::createPropertiesFrom(source, 1);
                        if (saveParameters)
                            properties = LMImageTools::createPropertiesFrom(properties, saveParameters);
                        QVariantMap props = properties.value_or(QVariantMap());
                        // The pixels are upright now, whatever the source said.
                        props.insert(QString::fromLatin1(kpv::kCGImagePropertyOrientation), 1);
                        // The file keeps its metadata; written over itself, it is replaced only
                        // while it is still the file that was decoded.
                        const QString sourcePath = fileInfo->filePath().path();
                        const kpv::FileIdentity onDisk = kpv::fileIdentity(sourcePath);
                        kpv::ImageWriteOptions options;
                        if (onDisk.isValid())
                            options = LMImageTools::writeOptionsKeepingMetadataOf(sourcePath);
                        else if (heldSource.stillThere() && decodedInfo &&
                                 (decodedInfo->fileIdentity() == heldSource.copiedFrom ||
                                  decodedInfo->fileIdentity() == heldSource.copy))
                            // Moved away or removed: its metadata is read from the copy held.
                            options = LMImageTools::writeOptionsKeepingMetadataOf(heldSource.path);
                        // Esc reaches into the write up to the moment the new file would take
                        // the old one's place; after that the file is saved, Esc or not.
                        // A folder that stores no tags (a FAT stick) takes the file without them.
                        options.attributesLeftOut = &tagsLeftOut;
                        options.stillWanted = [self, toPath] {
                            LMSaveStages::reach(LMSaveStages::Writing, toPath);
                            return !self->isCancelled();
                        };
                        bool changedOnDisk = false;
                        if (decodedInfo && toPath == sourcePath && onDisk.isValid()) {
                            changedOnDisk = decodedInfo->fileModified();
                            options.replaceOnly = decodedInfo->fileIdentity();
                            if (!options.replaceOnly.isValid())
                                options.replaceOnly = onDisk;
                        } else if (toPath == sourcePath && !onDisk.isValid() && !asNewFile && decodedInfo &&
                                   decodedInfo->fileIdentity().isValid()) {
                            // Moved or removed since it was read: a new file under its old name
                            // would be one the user never had.
                            changedOnDisk = true;
                            error = goneError(sourcePath);
                        } else if (toPath != sourcePath || asNewFile) {
                            options.createNew = chosenFree;
                            options.replaceOnly = chosen;
                        }
                        // Written over itself, a file keeps the type its bytes have, whatever
                        // its name says; under a new name the chosen extension decides.
                        const QString type = toPath == sourcePath ? writeTypeOf(decodedInfo, toPath)
                                                                  : kpv::ImageDestination::typeForPath(toPath);
                        if (changedOnDisk && error.isEmpty())
                            error = kpv::ImageDestination::changedOnDiskError(toPath);
                        else if (type.isEmpty())
                            error = QStringLiteral("%1 does not name a file type that can be written").arg(toPath);
                        if (!changedOnDisk && !type.isEmpty() && !saveParameters && decodedInfo &&
                            toPath == sourcePath && type == kpv::ContentTypes::kJpeg) {
                            // Without new quality settings a turned JPEG keeps its own coding.
                            const auto lossless = losslessTransformFor(decodedInfo, rotatedAngle);
                            if (lossless && kpv::ImageDestination::transformJpegLosslessly(toPath, *lossless, options))
                                result = Done;
                        }
                        if (!changedOnDisk && !type.isEmpty() && result != Done) {
                            const bool asRead = onDisk.isValid() && decodedInfo && !decodedInfo->fileModified();
                            QImage pixels;
                            if (inBands) {
                                const auto transform = losslessTransformFor(decodedInfo, rotatedAngle);
                                if (!asRead)
                                    error = kpv::ImageDestination::changedOnDiskError(sourcePath);
                                else if (transform &&
                                         kpv::ImageDestination::writeSixteenBitTransformed(
                                             sourcePath, *transform, toPath, type, props, &error, options,
                                             [self] { return self->isCancelled(); }))
                                    result = Done;
                            } else if (asRead && kpv::ImageDestination::typeKeepsSixteenBits(type) &&
                                kpv::ImageDestination::keepsSixteenBitsOnRewrite(sourcePath)) {
                                // 16 bits per channel stay 16 where the format holds them: the
                                // file's own samples, turned whole. What cannot be read so fails
                                // the save rather than dropping them unasked.
                                const auto transform = losslessTransformFor(decodedInfo, rotatedAngle);
                                const QImage deep =
                                    transform ? kpv::ImageDestination::readSixteenBitPicture(sourcePath, &error) : QImage();
                                if (!deep.isNull() && deep.size() == decodedInfo->rawFrameSize().toSize())
                                    pixels = kpv::ImageDestination::transformed(deep, *transform);
                                else if (error.isEmpty())
                                    error = QStringLiteral("its 16 bits per channel could not be kept");
                            } else {
                                pixels = asRead ? pixelsToWrite(image, sourcePath, decodedInfo, rotatedAngle) : image;
                            }
                            if (!inBands)
                                result = !pixels.isNull() && kpv::ImageDestination::writeImage(pixels, toPath, type,
                                                                                              props, &error, options)
                                             ? Done
                                             : Failed;
                        }
                    }
                }
            }
        }
        // Esc that came after the file was written cancels nothing: the file is the new one.
        const bool written = result == Done && !toPath.isEmpty();
        if (written)
            LMSaveStages::reach(LMSaveStages::Replaced, toPath);
        const int code = written ? Done : (self->isCancelled() ? Cancelled : result);
        const QImage produced = (convertOriginalImage && code == Done) ? image : QImage();
        if (code == Failed && error.isEmpty() && !inBands && !original && !failedBefore &&
            !kpv::pathStatus(fileInfo->filePath().path()).exists)
            // Only part of a large photo is held while it is shown: the rest went with the file.
            error = QStringLiteral("\u201C%1\u201D was moved or removed by another program before its whole picture "
                                   "was read, so the turned picture could not be made. Nothing was written.")
                        .arg(kpv::displayFileName(LMPathString::lastPathComponent(fileInfo->filePath().path())));
        if (const LMFileImgBaseInfoPtr base = fileInfo->imgBaseInfo();
            code == Failed && error.isEmpty() && !original && !inBands && type == kFullSizeType && base) {
            // Too large for the decode budget: say so rather than that it could not be read.
            const QSize size = base->frameSize().toSize();
            if (size.width() > 0 && size.height() > 0 &&
                (!kpv::ImageLimits::frameAllowed(uint64_t(size.width()), uint64_t(size.height())) ||
                 uint64_t(size.width()) * uint64_t(size.height()) * 4 > kpv::ImageLimits::kMaxDecodedBytes))
                error = QStringLiteral("its whole picture, %1 x %2 pixels, is larger than can be held in memory at once")
                            .arg(size.width())
                            .arg(size.height());
        }
        if (code == Failed && error.isEmpty())
            error = failedBefore || !original ? QStringLiteral("the picture could not be read")
                                              : QStringLiteral("the turned picture could not be made");
        reporter->report(code, produced, error, written && tagsLeftOut);
    });
    m_operationQueue->addOperation(op);
}
