#include "Model/LMNavFileInfo.h"

#include <cmath>

namespace {

constexpr uint64_t kGifImageType = 4;

// A copy that shares no data with the source. Implicitly shared copies would let a reader outside
// the lock and a writer inside it touch one table (the writer only detaches while the reader's
// copy is alive, and that check is not ordered with the reader's release).
template <typename Table>
Table unsharedCopy(const Table &source)
{
    Table copy;
    copy.reserve(source.size());
    for (auto it = source.cbegin(); it != source.cend(); ++it)
        copy.insert(it.key(), it.value());
    return copy;
}

bool isScaleType(int type) { return type >= LMNavFileInfo::kMinScaleType && type <= LMNavFileInfo::kMaxScaleType; }

} // namespace

LMImagePtr LMNavFileInfo::atomImageByType(int type, bool *failFlag) const
{
    const bool failed = isScaleType(type) && (m_failedImageTypeMask & LMScaleTypeMask::bit(type)) != 0;
    if (failFlag)
        *failFlag = failed;
    return failed ? nullptr : m_images.value(type);
}

LMImagePtr LMNavFileInfo::imageByType(int type, bool *failFlag) const
{
    std::lock_guard lock(m_lock);
    return atomImageByType(type, failFlag);
}

void LMNavFileInfo::setImage(LMImagePtr image, bool failFlag, int type, int64_t equivalentImageTypeMask)
{
    if (!isScaleType(type))
        return;
    std::lock_guard lock(m_lock);
    if (!failFlag && image) {
        m_images.insert(type, image);
        if (equivalentImageTypeMask != 0) {
            for (int t = kMinScaleType; t <= kMaxScaleType; ++t) {
                if (equivalentImageTypeMask & LMScaleTypeMask::bit(t))
                    m_images.insert(t, image);
            }
            m_equivalentImageTypeMask.insert(type, equivalentImageTypeMask);
        }
    } else {
        m_failedImageTypeMask |= LMScaleTypeMask::bit(type) | equivalentImageTypeMask;
        if (!m_failedFileIdentity && !imgBaseInfo())
            m_failedFileIdentity = kpv::fileIdentity(filePath().path());
    }
}

QString LMNavFileInfo::failureReason() const
{
    std::lock_guard lock(m_lock);
    return m_failureReason;
}

void LMNavFileInfo::setFailureReason(const QString &reason)
{
    std::lock_guard lock(m_lock);
    if (m_failureReason.isEmpty())
        m_failureReason = reason;
}

bool LMNavFileInfo::fileChangedSinceRead() const
{
    // Written over in place and dated back, a file keeps its size and date: only its change time
    // tells, and the pictures read before are of the file as it was.
    if (const LMFileImgBaseInfoPtr base = imgBaseInfo(); base && base->fileIdentity().isValid())
        return base->fileIdentity().changedSince(kpv::fileIdentity(filePath().path()));
    std::lock_guard lock(m_lock);
    return m_failedFileIdentity && m_failedFileIdentity->changedSince(kpv::fileIdentity(filePath().path()));
}

void LMNavFileInfo::freeImages(int mode)
{
    std::lock_guard lock(m_lock);
    if (mode == 3) {
        m_images.clear();
        m_equivalentImageTypeMask.clear();
        m_failedImageTypeMask = 0;
        m_failedFileIdentity.reset();
        m_failureReason.clear();
        return;
    }
    int64_t keep;
    if (mode == 1)
        keep = LMScaleTypeMask::kThumbnails;
    else if (mode == 2)
        keep = LMScaleTypeMask::kThumbnailsAndFitIn;
    else
        return;
    // A larger image that is also filed under a kept type stays.
    int64_t kept = keep;
    for (int t = kMinScaleType; t <= kMaxScaleType; ++t) {
        if (keep & LMScaleTypeMask::bit(t))
            kept |= m_equivalentImageTypeMask.value(t, 0);
    }
    for (int t = kMinScaleType; t <= kMaxScaleType; ++t) {
        if (!(kept & LMScaleTypeMask::bit(t))) {
            m_images.remove(t);
            m_equivalentImageTypeMask.remove(t);
        }
    }
}

LMImagePtr LMNavFileInfo::matchImageByScale(double scale, int *preferredImageType, bool *failFlag) const
{
    std::lock_guard lock(m_lock);
    const double s = std::min(scale, 1.0);
    // A zero, negative or undefined scale has no logarithm: show the small thumbnail.
    if (!(s > 0))
        return atomImageByType(kSmallThumbType, failFlag);

    const double L = std::log2(s);
    int typeAbove = 0, typeBelow = 0;
    double distAbove = 1000, distBelow = 1000;
    for (int t = kMinScaleType; t <= kMaxScaleType; ++t) {
        const LMImagePtr image = atomImageByType(t);
        if (!image)
            continue;
        const double ratio = image->scaleOfOriginal();
        if (!(ratio > 0) || !std::isfinite(ratio))
            continue;
        const double d = std::log2(ratio);
        if (d >= L) {
            if (d - L < distAbove) {
                distAbove = d - L;
                typeAbove = t;
            }
        } else if (L - d < distBelow) {
            distBelow = L - d;
            typeBelow = t;
        }
    }
    if (!typeAbove && !typeBelow)
        return atomImageByType(kSmallThumbType, failFlag);

    // Prefer the larger image unless it is much larger than asked; a smaller one is taken only
    // when it is close, since enlarging shows blur sooner than reducing shows waste.
    int chosen;
    const double fu = std::floor(distAbove), fd = std::floor(distBelow);
    if (fu != fd) {
        chosen = fu < fd ? typeAbove : typeBelow;
    } else {
        const double ru = distAbove - fu, rd = distBelow - fd;
        if (ru <= 0.65)
            chosen = typeAbove;
        else if (rd <= 0.35)
            chosen = typeBelow;
        else
            chosen = (rd - 0.35 < ru - 0.65) ? typeBelow : typeAbove;
    }

    LMImagePtr result = atomImageByType(chosen, failFlag);
    if (preferredImageType) {
        *preferredImageType = 0;
        const LMFileImgBaseInfoPtr info = imgBaseInfo();
        // A GIF's frames are only kept at the raw size.
        const int ideal = (info && info->AMCMImageType() == kGifImageType) ? 1 : estimateImageScaleTypeNearScale(s, true);
        if (ideal != chosen)
            *preferredImageType = ideal;
    }
    return result;
}

int LMNavFileInfo::estimateImageScaleTypeNearScale(double scale, bool onlyRealScale)
{
    if (scale == 0 || !(scale > 0))
        return 0;
    const double x = std::log2(std::min(scale, 1.0));
    double f = std::floor(x);
    const double r = x - f;
    if (r > 0.35) {
        f += 1;
        if (!onlyRealScale && f - x > 0.35)
            return 0;
    }
    if (f < -6 || f > 0)
        return 0;
    return 1 - int(f);
}

bool LMNavFileInfo::updateSmallThumb(LMImagePtr image)
{
    if (!image)
        return false;
    std::lock_guard lock(m_lock);
    bool failed = false;
    const LMImagePtr current = atomImageByType(kSmallThumbType, &failed);
    if (failed || !current)
        return false;
    const LMFileImgBaseInfoPtr &a = current->originalImgBaseInfo();
    const LMFileImgBaseInfoPtr &b = image->originalImgBaseInfo();
    if (!a || !b || !a->isEqual(*b))
        return false;
    if (m_equivalentImageTypeMask.value(kSmallThumbType, 0) & LMScaleTypeMask::bit(kLargeThumbType))
        return false;
    m_images.insert(kSmallThumbType, std::move(image));
    return true;
}

std::shared_ptr<LMNavFileInfo> LMNavFileInfo::navFileInfoByReplaceFilePath(const LMPathString &filePath) const
{
    auto record = std::make_shared<LMNavFileInfo>(filePath);
    if (const LMFileImgBaseInfoPtr info = imgBaseInfo())
        record->setImgBaseInfo(info->fileImgBaseInfoByReplaceFilePath(filePath));
    // The tables are copied, so the two records never guard one container with two locks. The
    // images keep describing their source by the old base information.
    std::lock_guard lock(m_lock);
    record->m_images = unsharedCopy(m_images);
    record->m_equivalentImageTypeMask = unsharedCopy(m_equivalentImageTypeMask);
    record->m_failedImageTypeMask = m_failedImageTypeMask;
    record->m_failedFileIdentity = m_failedFileIdentity;
    record->m_failureReason = m_failureReason;
    return record;
}

QHash<int, LMImagePtr> LMNavFileInfo::images() const
{
    std::lock_guard lock(m_lock);
    return unsharedCopy(m_images);
}

void LMNavFileInfo::setImages(const QHash<int, LMImagePtr> &images)
{
    std::lock_guard lock(m_lock);
    m_images = unsharedCopy(images);
}

QHash<int, int64_t> LMNavFileInfo::equivalentImageTypeMask() const
{
    std::lock_guard lock(m_lock);
    return unsharedCopy(m_equivalentImageTypeMask);
}

void LMNavFileInfo::setEquivalentImageTypeMask(const QHash<int, int64_t> &masks)
{
    std::lock_guard lock(m_lock);
    m_equivalentImageTypeMask = unsharedCopy(masks);
}

int64_t LMNavFileInfo::failedImageTypeMask() const
{
    std::lock_guard lock(m_lock);
    return m_failedImageTypeMask;
}

void LMNavFileInfo::setFailedImageTypeMask(int64_t mask)
{
    std::lock_guard lock(m_lock);
    m_failedImageTypeMask = mask;
}
