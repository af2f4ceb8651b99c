#include "Edit/BatchResizeWorker.h"

#include "Edit/EditFileTools.h"
#include "Model/LMImage.h"
#include "Model/LMImageTools.h"
#include "Model/LMPathTools.h"
#include "Model/LMPhotoLoader.h"

#include "foundation/Bundle.h"
#include "foundation/Operation.h"
#include "imageio/DecodeBudget.h"
#include "imageio/ImageDestination.h"
#include "imageio/ImageLimits.h"

#include <QDir>
#include <QFile>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <vector>

namespace {

using namespace BatchResizeKeys;

constexpr uint64_t kTypeBMP = 1;
constexpr uint64_t kTypeJPEG = 2;
constexpr uint64_t kTypeGIF = 4;
constexpr uint64_t kTypePNG = 8;
constexpr uint64_t kTypeTIFF = 1024;

bool boolValue(const QVariantMap &c, const char *key) { return c.value(QString::fromLatin1(key)).toBool(); }
qint64 intValue(const QVariantMap &c, const char *key) { return c.value(QString::fromLatin1(key)).toLongLong(); }
QString stringValue(const QVariantMap &c, const char *key) { return c.value(QString::fromLatin1(key)).toString(); }

// A GIF by its codec type, or by its extension when nothing was read about it.
bool isGifFile(const LMFileImgBaseInfoPtr &info, const LMPathString &path)
{
    if (info)
        return info->AMCMImageType() == kTypeGIF;
    return EditFileTools::fileExtension(LMPathString::lastPathComponent(path.path())).compare(
               QStringLiteral("gif"), Qt::CaseInsensitive) == 0;
}

// For each pixel of a side of `to` pixels, the first pixel of the side of `from` that it covers
// and the share each covered pixel has in it (summing to 1).
struct Taps {
    int first = 0;
    std::vector<double> weights;
};
std::vector<Taps> areaTaps(int from, int to)
{
    std::vector<Taps> taps(size_t(std::max(to, 0)));
    const double step = double(from) / double(to);
    for (int o = 0; o < to; ++o) {
        const double a = o * step, b = (o + 1) * step;
        Taps &t = taps[size_t(o)];
        t.first = std::min(from - 1, int(a));
        const int end = std::max(t.first + 1, std::min(from, int(std::ceil(b))));
        for (int i = t.first; i < end; ++i)
            t.weights.push_back(std::max(0.0, std::min(b, double(i + 1)) - std::max(a, double(i))) / step);
    }
    return taps;
}

// A picture of 16 bits a channel scaled to `size` at that depth: each new pixel is the mean of the
// area of the picture it covers, each pixel weighted by its share of it (colours weighted by their
// alpha), so a flat colour keeps its exact levels. Null when memory runs out.
// The rows come from `rowAt` (RGBA64 premultiplied, `width` pixels), asked for in order from the
// top; null from it, or a lack of memory, gives a null picture.
QImage scaledSixteenBitRows(int width, int height, const std::function<const quint16 *(int)> &rowAt, const QSize &size)
{
    QImage scaled(size, QImage::Format_RGBA64_Premultiplied);
    if (scaled.isNull())
        return {};
    const std::vector<Taps> across = areaTaps(width, size.width());
    const std::vector<Taps> down = areaTaps(height, size.height());
    std::vector<double> row(size_t(width) * 4);
    for (int y = 0; y < size.height(); ++y) {
        std::fill(row.begin(), row.end(), 0.0);
        const Taps &rows = down[size_t(y)];
        for (size_t k = 0; k < rows.weights.size(); ++k) {
            const quint16 *in = rowAt(rows.first + int(k));
            if (!in)
                return {};
            const double w = rows.weights[k];
            for (size_t i = 0; i < row.size(); ++i)
                row[i] += w * in[i];
        }
        auto *out = reinterpret_cast<quint16 *>(scaled.scanLine(y));
        for (int x = 0; x < size.width(); ++x) {
            const Taps &columns = across[size_t(x)];
            double sum[4] = {0, 0, 0, 0};
            for (size_t k = 0; k < columns.weights.size(); ++k)
                for (int c = 0; c < 4; ++c)
                    sum[c] += columns.weights[k] * row[(size_t(columns.first) + k) * 4 + size_t(c)];
            for (int c = 0; c < 4; ++c)
                out[x * 4 + c] = quint16(std::clamp(std::lround(sum[c]), 0L, 65535L));
        }
    }
    return scaled.convertToFormat(QImage::Format_RGBA64);
}

QImage scaledSixteenBits(const QImage &picture, const QSize &size)
{
    const QImage source = picture.convertToFormat(QImage::Format_RGBA64_Premultiplied);
    if (source.isNull())
        return {};
    return scaledSixteenBitRows(
        source.width(), source.height(),
        [&](int y) { return reinterpret_cast<const quint16 *>(source.constScanLine(y)); }, size);
}

// The same of a file's picture too large to hold whole at 16 bits: its rows are read once from the
// top, a band at a time, each band held only while the new rows it covers are made. *error says
// why a null picture came.
QImage scaledSixteenBitFile(const QString &path, const QSize &size, const kpv::Operation *operation, QString *error)
{
    kpv::ImageDestination::SixteenBitRows rows(path);
    const QSize whole = rows.size();
    if (whole.isEmpty()) {
        *error = rows.error();
        return {};
    }
    const int bandRows = int(std::clamp<std::uint64_t>(
        kpv::DecodeBudget::shared().capacity() / 4 / (std::uint64_t(whole.width()) * 8 * 2), 1, std::uint64_t(whole.height())));
    QImage band;
    int bandTop = 0, bandEnd = 0;
    // The last row of the band before, which the first new row of this band may share.
    std::vector<quint16> before(size_t(whole.width()) * 4);
    const auto rowAt = [&](int y) -> const quint16 * {
        while (y >= bandEnd) {
            if (operation && operation->isCancelled())
                return nullptr;
            if (!band.isNull())
                std::memcpy(before.data(), band.constScanLine(band.height() - 1), before.size() * 2);
            QImage next(whole.width(), std::min(bandRows, whole.height() - bandEnd), QImage::Format_RGBA64);
            band = QImage();
            if (next.isNull() || !rows.read(&next)) {
                *error = next.isNull() ? QStringLiteral("out of memory for a band of %1 rows").arg(bandRows) : rows.error();
                return nullptr;
            }
            band = next.convertToFormat(QImage::Format_RGBA64_Premultiplied);
            bandTop = bandEnd;
            bandEnd += band.height();
        }
        if (y >= bandTop)
            return reinterpret_cast<const quint16 *>(band.constScanLine(y - bandTop));
        return y == bandTop - 1 ? before.data() : nullptr;
    };
    QImage scaled = scaledSixteenBitRows(whole.width(), whole.height(), rowAt, size);
    if (scaled.isNull() && error->isEmpty())
        *error = QStringLiteral("out of memory for a picture of %1 x %2 pixels").arg(size.width()).arg(size.height());
    return scaled;
}
} // namespace

QString BatchResizeWorker::newFileNameBy(const QString &oldFileName, const QString &newFileNameBase, bool keepAlpha,
                                         qint64 renameNumber)
{
    if (oldFileName.isEmpty())
        return QString();
    QString ext = EditFileTools::fileExtension(oldFileName);
    const QString lower = ext.toLower();
    const bool kept = lower == QLatin1String("gif") || lower == QLatin1String("jpg") || lower == QLatin1String("jpeg") ||
                      (keepAlpha && (lower == QLatin1String("png") || lower == QLatin1String("bmp") ||
                                     lower == QLatin1String("tif") || lower == QLatin1String("tiff")));
    if (!kept)
        ext = QStringLiteral("jpg");
    const QString stem = newFileNameBase.isEmpty() ? EditFileTools::fileNameWithoutExtension(oldFileName)
                                                   : newFileNameBase + QString::number(renameNumber);
    return stem + QLatin1Char('.') + ext;
}

std::optional<LMPathString> BatchResizeWorker::newFilePathBy(const LMPathString &srcFilePath,
                                                             const QString &newFileNameBase, bool keepAlpha,
                                                             qint64 *renameNumber, const LMPathString &dstFolderPath)
{
    if (srcFilePath.isEmpty() || dstFolderPath.isEmpty() || !renameNumber)
        return std::nullopt;
    const QString oldName = LMPathString::lastPathComponent(srcFilePath.path());
    const QDir folder(dstFolderPath.path());
    QString name;
    // Each taken candidate raises the number; the number is bounded so that a folder full of
    // numbered files cannot keep a worker spinning.
    for (int tries = 0; tries < 100000; ++tries) {
        name = newFileNameBy(oldName, newFileNameBase, keepAlpha, *renameNumber);
        // A base with a "/" would write outside the destination folder.
        if (!LMPathTools::isValidFileName(name))
            return std::nullopt;
        const QString candidate = folder.filePath(name);
        if (!EditFileTools::itemExistsAtPath(candidate))
            return LMPathString(candidate, false);
        if (newFileNameBase.isEmpty())
            break;
        ++*renameNumber;
    }
    const QString free = LMPathTools::writableFilePathInDirectory(dstFolderPath.path(), name);
    if (free.isEmpty())
        return std::nullopt;
    return LMPathString(free, false);
}

QSizeF BatchResizeWorker::targetSizeForSource(const QSizeF &raw, const QVariantMap &c)
{
    const double W0 = raw.width(), H0 = raw.height();
    double w, h;
    if (boolValue(c, kClassicSizeType)) {
        w = double(intValue(c, kClassicSizeWidth));
        h = double(intValue(c, kClassicSizeHeight));
    } else if (intValue(c, kCustomSizeUnitType) == 1) {
        const double p = double(intValue(c, kCustomSizePercent));
        w = p * W0 / 100;
        h = H0 * p / 100;
    } else {
        w = double(intValue(c, kCustomSizeWidth));
        h = double(intValue(c, kCustomSizeHeight));
    }
    // The box takes the source's orientation; a square source counts as portrait.
    const QSizeF box = W0 > H0 ? QSizeF(std::max(w, h), std::min(w, h)) : QSizeF(std::min(w, h), std::max(w, h));
    QSizeF target = LMImageTools::calcScalingSize(raw, box, LMImageTools::ScaleProportionallyUpOrDown);
    if (boolValue(c, kNotEnlarge))
        target = QSizeF(std::min(target.width(), W0), std::min(target.height(), H0));
    return target;
}

int BatchResizeWorker::decodeScaleTypeFor(const QSizeF &raw, const QSizeF &target)
{
    const double m = std::trunc(std::max(target.width(), target.height()));
    const double S = std::max(raw.width(), raw.height());
    int k = 1;
    for (int t = 1; t <= 7; ++t)
        if (S / std::ldexp(1.0, t - 1) >= m)
            k = t;
    return k;
}

int BatchResizeWorker::resizeOneFileOnThread(const std::shared_ptr<LMFileInfo> &file, const QVariantMap &c,
                                             qint64 *curRenameNumber, const kpv::Operation *operation,
                                             QString *why) const
{
    // Why the file could not be read, as its reader said.
    const LMReadFailure readFailure;
    const auto unreadable = [&] { return cannotReadPicture(readFailure); };
    auto finish = [operation](int code) { return cancelled(operation) ? kCancelled : code; };
    auto failBecause = [&](const QString &reason) {
        if (why)
            *why = reason;
        return finish(kFailed);
    };
    if (!file)
        return finish(kFailed);
    const LMPathString dstFolder(stringValue(c, kDestFolderPath), true);
    if (const QString reason = unreadableReason(file->filePath()); !reason.isEmpty())
        return failBecause(reason);

    const LMFileImgBaseInfoPtr info = currentImgBaseInfo(*file, operation);
    if (!info)
        return failBecause(unreadable());
    const QSizeF raw = info->rawFrameSize();
    if (raw.width() <= 0 || raw.height() <= 0)
        return failBecause(unreadable());
    const QSizeF target = targetSizeForSource(raw, c);

    double dpi = 0;
    const QString dpiText = stringValue(c, kDpi);
    if (!dpiText.isEmpty() && dpiText.trimmed().toLongLong() != 0)
        dpi = double(dpiText.trimmed().toLongLong());

    const bool keepAlpha = boolValue(c, kKeepAlpha);
    const bool gif = isGifFile(info, file->filePath());
    bool copy = gif;
    // A GIF is copied as it is, so that all of its frames stay; when the run asked for another
    // size, the report says that this one kept its own.
    QString gifKept;
    if (gif) {
        const QSize rawPixels = raw.toSize();
        const QSize targetPixels(int(std::max(1.0, target.width())), int(std::max(1.0, target.height())));
        if (targetPixels != rawPixels)
            gifKept = kpv::Bundle::mainBundle().localizedStringWithFormat(
                QStringLiteral("IDS_GifKeptAsItIs_Fmt"), qint64(rawPixels.width()), qint64(rawPixels.height()));
    }
    const auto copyNote = [&gifKept](const QString &tags) {
        QStringList notes;
        if (!gifKept.isEmpty())
            notes << gifKept;
        if (!tags.isEmpty())
            notes << tags;
        return notes.join(QStringLiteral("; "));
    };
    if (!copy) {
        const QSizeF fileDpi = info->dpi();
        const bool dpiKept = dpi == 0 || (dpi == fileDpi.width() && dpi == fileDpi.height());
        const uint64_t type = info->AMCMImageType();
        const bool keptType =
            type == kTypeJPEG || (keepAlpha && (type == kTypePNG || type == kTypeTIFF || type == kTypeBMP));
        copy = dpiKept && target == raw && keptType;
    }

    const QString nameBase = stringValue(c, kNewNameBase);
    const bool sameFolder = EditFileTools::isSameFolder(file->filePath().parentDirectory().path(), dstFolder.path());
    qint64 scratchNumber = 1;
    qint64 *number = curRenameNumber ? curRenameNumber : &scratchNumber;
    // The next free name for the new file, and the name it was meant to have, for the report to
    // tell one cut short to fit.
    QString plannedName, writtenPath;
    const auto nextName = [&] {
        const auto out = newFilePathBy(file->filePath(), nameBase, keepAlpha, number, dstFolder);
        plannedName = newFileNameBy(LMPathString::lastPathComponent(file->filePath().path()), nameBase, keepAlpha, *number);
        writtenPath = out ? out->path() : QString();
        return writtenPath;
    };

    if (copy) {
        if (sameFolder && nameBase.isEmpty()) {
            if (why)
                *why = copyNote(QString());
            return finish(kDone);
        }
        // A name taken in the meantime is not replaced: the next one is tried.
        QString error;
        bool tagsLeftOut = false;
        if (!copyAsNewFile(file->filePath(), nextName, &error, &tagsLeftOut))
            return failBecause(error);
        if (why)
            *why = joinNotes(shortenedNameNote(plannedName, writtenPath), copyNote(lostInCopy(tagsLeftOut)));
        return finish(kDone);
    }

    // A size asked for (a high percent of a large photo) that no picture may have is told as such
    // before anything is read: the photo itself is fine.
    if (const double w = std::max(1.0, target.width()), h = std::max(1.0, target.height());
        w > double(kpv::ImageLimits::kMaxPixelsPerFrame) || h > double(kpv::ImageLimits::kMaxPixelsPerFrame) ||
        !kpv::ImageLimits::frameAllowed(std::uint64_t(w), std::uint64_t(h)))
        return failBecause(QStringLiteral("a new picture of %1 x %2 pixels would be too large to make")
                               .arg(qint64(std::min(w, 1e15)))
                               .arg(qint64(std::min(h, 1e15))));

    QImage picture;
    const uint64_t type = info->AMCMImageType();
    // PNG and TIFF stay what they are (and may keep 16 bits) when the user keeps their formats.
    const bool typeKeepsSixteenBits = keepAlpha && (type == kTypePNG || type == kTypeTIFF);
    const bool sixteenBits =
        typeKeepsSixteenBits && kpv::ImageDestination::keepsSixteenBitsOnRewrite(file->filePath().path());
    if (sixteenBits) {
        // A photo of 16 bits per channel written again as PNG or TIFF keeps them: it is read and
        // scaled at that depth, or fails with the reason instead of losing them unasked.
        QString error;
        const kpv::DecodeBudget::CancelScope stopWaiting([operation] { return cancelled(operation); });
        // The size the resampler of the 8-bit road makes: the target's sides truncated, at least 1.
        const QSize size(int(std::max(1.0, target.width())), int(std::max(1.0, target.height())));
        // The new picture is held whole to be written; the source, when it cannot be, is read in bands.
        if (!kpv::ImageDestination::sixteenBitPartFits(size, &error))
            return failBecause(QStringLiteral("a picture of %1 x %2 pixels at 16 bits per channel is too large to make: %3")
                                   .arg(size.width())
                                   .arg(size.height())
                                   .arg(error));
        QImage scaled;
        if (kpv::ImageDestination::sixteenBitPartFits(raw.toSize())) {
            const QImage whole =
                kpv::ImageDestination::readSixteenBitPart(file->filePath().path(), QRect(QPoint(0, 0), raw.toSize()), &error);
            if (whole.isNull() || cancelled(operation))
                return failBecause(error.isEmpty() ? unreadable() : error);
            scaled = scaledSixteenBits(whole, size);
            if (scaled.isNull())
                error = QStringLiteral("out of memory for a picture of %1 x %2 pixels").arg(size.width()).arg(size.height());
        } else {
            scaled = scaledSixteenBitFile(file->filePath().path(), size, operation, &error);
        }
        if (scaled.isNull() || cancelled(operation))
            return failBecause(error.isEmpty() ? unreadable() : error);
        picture = LMImage::uprightImage(scaled, *info);
    } else {
        picture = loadUprightImage(file->filePath(), decodeScaleTypeFor(raw, target), info, target, operation);
    }
    if (picture.isNull())
        return failBecause(unreadable());
    const auto props = LMImageTools::createPropertiesFrom(info->properties(), 1, dpi);
    // The output is a new file: a name that another run (or program) takes while this one writes
    // is left alone, and the next free name is taken instead.
    QString error;
    bool tagsLeftOut = false;
    if (!saveImageAsNewFile(picture, nextName, props, file->filePath(), &error, &tagsLeftOut))
        return failBecause(error);
    // Done, with what the new file could not take from the photo told beside the run's failures.
    if (why)
        *why = joinNotes(shortenedNameNote(plannedName, writtenPath),
                         lostInNewFile(file->filePath(),
                                       kpv::ImageDestination::typeForPath(newFileNameBy(
                                           LMPathString::lastPathComponent(file->filePath().path()), QString(), keepAlpha, 0)),
                                       typeKeepsSixteenBits && !sixteenBits, tagsLeftOut, &picture));
    return finish(kDone);
}

int BatchResizeWorker::resizeFilesOnThread(const FileInfoList &files, const QVariantMap &c, LMFailedFiles *outFailures,
                                           const kpv::Operation *operation, const ProgressBlock &progress) const
{
    qint64 number = 1;
    return runFiles(files, outFailures, operation, progress,
                    [&](const std::shared_ptr<LMFileInfo> &file, QString *why) {
                        return resizeOneFileOnThread(file, c, &number, operation, why);
                    });
}
