#include "Model/LMImageRotateAngle.h"

#include <cmath>

bool LMImageRotateAngle::isEqual(const LMImageRotateAngle &other) const
{
    return m_angleRotate == other.m_angleRotate && m_angleHorizontalFlip == other.m_angleHorizontalFlip
        && m_angleVerticalFlip == other.m_angleVerticalFlip;
}

LMImageRotateAngle LMImageRotateAngle::angleByRotateAction(int action) const
{
    double sign = isHorizontalFlipped() ? -1.0 : 1.0;
    if (isVerticalFlipped())
        sign = -sign;
    switch (action) {
    case RotateActionLeft:
        return {m_angleRotate + sign * -90.0, m_angleHorizontalFlip, m_angleVerticalFlip};
    case RotateActionRight:
        return {m_angleRotate + sign * 90.0, m_angleHorizontalFlip, m_angleVerticalFlip};
    case RotateActionFlipHorizontal:
        return {m_angleRotate, m_angleHorizontalFlip + 180.0, m_angleVerticalFlip};
    case RotateActionFlipVertical:
        return {m_angleRotate, m_angleHorizontalFlip, m_angleVerticalFlip + 180.0};
    default:
        return *this;
    }
}

LMImageRotateAngle LMImageRotateAngle::angleByIncreaseAngle(double increase) const
{
    return {m_angleRotate + increase, m_angleHorizontalFlip, m_angleVerticalFlip};
}

LMImageRotateAngle LMImageRotateAngle::middleAngleFromBeginAngle(const LMImageRotateAngle &b, double p) const
{
    return {b.m_angleRotate + (m_angleRotate - b.m_angleRotate) * p,
            b.m_angleHorizontalFlip + (m_angleHorizontalFlip - b.m_angleHorizontalFlip) * p,
            b.m_angleVerticalFlip + (m_angleVerticalFlip - b.m_angleVerticalFlip) * p};
}

double LMImageRotateAngle::normalizeDegrees(double degrees)
{
    // Truncating to an integer type would be undefined for NaN, infinities and values beyond the
    // 64-bit range; fmod of the truncated value gives the same remainder for every finite value.
    if (!std::isfinite(degrees))
        return 0.0;
    double r = std::fmod(std::trunc(degrees), 360.0);
    if (r < 0)
        r += 360.0;
    return r == 0.0 ? 0.0 : r; // no negative zero
}

LMImageRotateAngle LMImageRotateAngle::normalizeAngle() const
{
    return {normalizeDegrees(m_angleRotate), normalizeDegrees(m_angleHorizontalFlip), normalizeDegrees(m_angleVerticalFlip)};
}
