// Points and rectangles, decimal and version text, path splitting and the fit-in placement.
#include <algorithm>
#include <cstring>

#include "ADK.h"

namespace {

// Appends text when it fits together with a terminator; the target is always terminated.
class TextOut {
public:
    TextOut(MChar* dst, MInt64 size) : dst_(dst), size_(size) { dst_[0] = 0; }

    bool append(const char* text, size_t len)
    {
        if (static_cast<MInt64>(len) + 1 > size_ - used_)
            return false;
        std::memcpy(dst_ + used_, text, len);
        used_ += static_cast<MInt64>(len);
        dst_[used_] = 0;
        return true;
    }

    bool appendNumber(MUInt64 value)
    {
        char digits[24];
        const MInt64 n = ADK_U2Str(value, digits, sizeof digits);
        return append(digits, static_cast<size_t>(n));
    }

    // As much of the text as fits.
    void appendCut(const char* text)
    {
        const size_t room = static_cast<size_t>(size_ - used_ - 1);
        append(text, std::min(std::strlen(text), room));
    }

private:
    MChar* dst_;
    MInt64 size_;
    MInt64 used_ = 0;
};

bool isSeparator(char c)
{
    return c == '/' || c == '\\';
}

// Copies [begin, begin + len) into an optional output of the given size; false when it is too
// small for the part.
bool putPart(MChar* out, MInt64 size, const char* begin, size_t len)
{
    if (out == nullptr)
        return true;
    if (static_cast<MInt64>(len) + 1 > size)
        return false;
    std::memcpy(out, begin, len);
    out[len] = 0;
    return true;
}

} // namespace

extern "C" {

MVoid ADK_PointSet(MPOINT* pt, MInt64 x, MInt64 y)
{
    if (pt != nullptr)
        *pt = MPOINT{x, y};
}

MVoid ADK_PointOffset(MPOINT* pt, MInt64 dx, MInt64 dy)
{
    if (pt != nullptr) {
        pt->x += dx;
        pt->y += dy;
    }
}

MBool ADK_PointIsEqual(const MPOINT* pt, MInt64 x, MInt64 y)
{
    return pt != nullptr && pt->x == x && pt->y == y;
}

MVoid ADK_SetRect(MRECT* rc, MInt64 left, MInt64 top, MInt64 right, MInt64 bottom)
{
    if (rc != nullptr)
        *rc = MRECT{left, top, right, bottom};
}

MBool ADK_PtInRect(const MRECT* rc, MInt64 x, MInt64 y)
{
    return rc != nullptr && rc->left <= x && x < rc->right && rc->top <= y && y < rc->bottom;
}

MVoid ADK_OffsetRect(MRECT* rc, MInt64 dx, MInt64 dy)
{
    if (rc == nullptr)
        return;
    rc->left += dx;
    rc->right += dx;
    rc->top += dy;
    rc->bottom += dy;
}

MVoid ADK_InflateRect(MRECT* rc, MInt64 dl, MInt64 dt, MInt64 dr, MInt64 db)
{
    if (rc == nullptr)
        return;
    rc->left -= dl;
    rc->top -= dt;
    rc->right += dr;
    rc->bottom += db;
}

MBool ADK_IsRectEmpty(const MRECT* rc)
{
    return rc == nullptr || !(rc->left < rc->right && rc->top < rc->bottom);
}

MBool ADK_IsRectNull(const MRECT* rc)
{
    return rc != nullptr && rc->left == 0 && rc->top == 0 && rc->right == 0 && rc->bottom == 0;
}

MVoid ADK_SetRectEmpty(MRECT* rc)
{
    if (rc != nullptr)
        *rc = MRECT{0, 0, 0, 0};
}

MBool ADK_EqualRect(const MRECT* a, const MRECT* b)
{
    return a != nullptr && b != nullptr && a->left == b->left && a->top == b->top && a->right == b->right &&
           a->bottom == b->bottom;
}

MVoid ADK_NormalizeRect(MRECT* rc)
{
    if (rc == nullptr)
        return;
    if (rc->left > rc->right)
        std::swap(rc->left, rc->right);
    if (rc->top > rc->bottom)
        std::swap(rc->top, rc->bottom);
}

MInt64 ADK_GetRectWidth(const MRECT* rc)
{
    return rc != nullptr ? rc->right - rc->left : 0;
}

MInt64 ADK_GetRectHeight(const MRECT* rc)
{
    return rc != nullptr ? rc->bottom - rc->top : 0;
}

MSIZE ADK_GetRectSize(const MRECT* rc)
{
    return rc != nullptr ? MSIZE{rc->right - rc->left, rc->bottom - rc->top} : MSIZE{0, 0};
}

MPOINT ADK_RectTopLeft(const MRECT* rc)
{
    return rc != nullptr ? MPOINT{rc->left, rc->top} : MPOINT{-1, -1};
}

MPOINT ADK_RectBottomRight(const MRECT* rc)
{
    return rc != nullptr ? MPOINT{rc->right, rc->bottom} : MPOINT{-1, -1};
}

// Halving by an arithmetic shift: rounds towards minus infinity.
MPOINT ADK_RectCenterPoint(const MRECT* rc)
{
    if (rc == nullptr)
        return MPOINT{-1, -1};
    return MPOINT{(rc->left + rc->right) >> 1, (rc->top + rc->bottom) >> 1};
}

MBool ADK_IntersectRect(MRECT* out, const MRECT* a, const MRECT* b)
{
    if (out == nullptr || a == nullptr || b == nullptr)
        return MFalse;
    const MRECT r{std::max(a->left, b->left), std::max(a->top, b->top), std::min(a->right, b->right),
                  std::min(a->bottom, b->bottom)};
    if (ADK_IsRectEmpty(&r)) {
        *out = MRECT{0, 0, 0, 0};
        return MFalse;
    }
    *out = r;
    return MTrue;
}

MBool ADK_UnionRect(MRECT* out, const MRECT* a, const MRECT* b)
{
    if (out == nullptr || a == nullptr || b == nullptr)
        return MFalse;
    const MRECT r{std::min(a->left, b->left), std::min(a->top, b->top), std::max(a->right, b->right),
                  std::max(a->bottom, b->bottom)};
    if (ADK_IsRectEmpty(&r)) {
        *out = MRECT{0, 0, 0, 0};
        return MFalse;
    }
    *out = r;
    return MTrue;
}

// All 20 digits of the largest values are kept.
MInt64 ADK_U2Str(MUInt64 value, MChar* dst, MInt64 size)
{
    if (dst == nullptr || size < 1)
        return 0;
    char digits[20];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    const MInt64 count = std::min<MInt64>(n, size - 1);
    for (MInt64 i = 0; i < count; ++i)
        dst[i] = digits[n - 1 - i];
    dst[count] = 0;
    return count;
}

MResult ADK_FormatVersionInfo(MDWord major, MDWord minor, MDWord build, const MChar* szDate, MChar* dst,
                              MInt64 size)
{
    if (szDate == nullptr || dst == nullptr || size < 1)
        return MERR_INVALID_PARAM;
    TextOut out(dst, size);
    if (!out.appendNumber(major) || !out.append(".", 1) || !out.appendNumber(minor) || !out.append(".", 1) ||
        !out.appendNumber(build))
        return MERR_BUFFER_TOO_SMALL;
    if (szDate[0] == 0)
        return MOK;
    if (out.append(".", 1))
        out.appendCut(szDate);
    return MOK;
}

MResult ADKUTILS_GetVersionInfo(MDWord* pMajor, MDWord* pMinor, MDWord* pBuild, MChar* dst, MInt64 size)
{
    if (pMajor != nullptr)
        *pMajor = 1;
    if (pMinor != nullptr)
        *pMinor = 2;
    if (pBuild != nullptr)
        *pBuild = 0;
    if (dst != nullptr)
        return ADK_FormatVersionInfo(1, 2, 0, "01302007", dst, size);
    return MOK;
}

MInt32 ADK_GetColorDepth(MDWord oldColorID)
{
    return oldColorID == 5 || oldColorID == 6 ? 16 : 24;
}

MInt32 ADK_GetPixelBytes(MDWord oldColorID)
{
    return oldColorID == 5 || oldColorID == 6 ? 2 : 3;
}

MChar* ADK_GetFileExt(const MChar* szPath)
{
    if (szPath == nullptr)
        return nullptr;
    for (size_t i = std::strlen(szPath); i > 0; --i) {
        const char c = szPath[i - 1];
        if (c == '.')
            return const_cast<MChar*>(szPath + i - 1);
        if (isSeparator(c))
            return nullptr;
    }
    return nullptr;
}

MResult ADK_SplitFullPath(MHandle, const MChar* szPath, MChar* szFolder, MInt64 folderSize, MChar* szName,
                          MInt64 nameSize, MChar* szExt, MInt64 extSize)
{
    if (szFolder != nullptr && folderSize > 0)
        szFolder[0] = 0;
    if (szName != nullptr && nameSize > 0)
        szName[0] = 0;
    if (szExt != nullptr && extSize > 0)
        szExt[0] = 0;
    if (szPath == nullptr || szPath[0] == 0)
        return MERR_INVALID_PARAM;

    const size_t len = std::strlen(szPath);
    // The extension begins at the last dot of the file name.
    size_t stem = len;
    for (size_t i = len; i > 0; --i) {
        const char c = szPath[i - 1];
        if (isSeparator(c))
            break;
        if (c == '.') {
            stem = i - 1;
            break;
        }
    }
    size_t nameStart = 0;
    for (size_t i = stem; i > 0; --i) {
        if (isSeparator(szPath[i - 1])) {
            nameStart = i;
            break;
        }
    }
    if (!putPart(szExt, extSize, szPath + stem, len - stem) ||
        !putPart(szName, nameSize, szPath + nameStart, stem - nameStart) ||
        !putPart(szFolder, folderSize, szPath, nameStart)) {
        if (szFolder != nullptr && folderSize > 0)
            szFolder[0] = 0;
        if (szName != nullptr && nameSize > 0)
            szName[0] = 0;
        if (szExt != nullptr && extSize > 0)
            szExt[0] = 0;
        return MERR_INVALID_PARAM;
    }
    return MOK;
}

MResult ADK_GetFitinSize(const MRECT* container, MRECT* object, MInt64* pScale)
{
    if (ADK_IsRectEmpty(container) || ADK_IsRectEmpty(object))
        return MERR_INVALID_PARAM;
    // 128-bit intermediates: the products of coordinates and 1,000 must not wrap.
    using Wide = __int128;
    const Wide w = Wide(object->right) - object->left, h = Wide(object->bottom) - object->top;
    const Wide wc = Wide(container->right) - container->left, hc = Wide(container->bottom) - container->top;
    Wide left, top, right, bottom, scale;
    if (wc >= w && hc >= h) {
        left = container->left + ((wc - w) >> 1);
        top = container->top + ((hc - h) >> 1);
        right = left + w;
        bottom = top + h;
        scale = 1000;
    } else {
        const Wide sx = wc * 1000 / w, sy = hc * 1000 / h;
        if (sx > sy) {
            top = container->top;
            bottom = container->top + hc;
            const Wide sw = w * sy / 1000;
            left = container->left + ((wc - sw) >> 1);
            right = left + sw;
            if (sw == 0)
                left -= 1;
            scale = sy;
        } else {
            left = container->left;
            right = container->left + wc;
            const Wide sh = h * sx / 1000;
            top = container->top + ((hc - sh) >> 1);
            bottom = top + sh;
            if (sh == 0)
                top -= 1;
            scale = sx;
        }
    }
    *object = MRECT{static_cast<MInt64>(left), static_cast<MInt64>(top), static_cast<MInt64>(right),
                    static_cast<MInt64>(bottom)};
    if (pScale != nullptr)
        *pScale = static_cast<MInt64>(scale);
    return MOK;
}

} // extern "C"
