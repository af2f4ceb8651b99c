/* Strings, 16-bit text and UTF-8, points and rectangles, and small utilities. */
#ifndef KPV_CODEC_ADK_H
#define KPV_CODEC_ADK_H

#include <wchar.h>

#include "MTypes.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Narrow strings (each as the standard library function of the same role) ---- */
MInt32 MSCsCmp(const MChar* a, const MChar* b);
MInt32 MSCsNCmp(const MChar* a, const MChar* b, size_t n);
MInt32 MSCsICmp(const MChar* a, const MChar* b);
MInt32 MSCsNICmp(const MChar* a, const MChar* b, size_t n);
MChar* MSCsCpy(MChar* dst, const MChar* src);
MChar* MSCsNCpy(MChar* dst, const MChar* src, size_t n);
MChar* MSCsCat(MChar* dst, const MChar* src);
MChar* MSCsChr(const MChar* s, MInt32 c);
MChar* MSCsRChr(const MChar* s, MInt32 c);
MChar* MSCsStr(const MChar* s, const MChar* find);
size_t MSCsLen(const MChar* s);
MUInt64 MSCsToUL(const MChar* s, MChar** pEnd, MInt32 base);
MInt32 MStoi(const MChar* s);
MInt64 MStol(const MChar* s);
MInt64 MStoi64(const MChar* s);
/* No size limit: only for targets whose needed size is known. */
MInt32 MSSprintf(MChar* dst, const MChar* format, ...) __attribute__((format(printf, 2, 3)));

/* ---- Platform wide strings (wchar_t) ---- */
MInt32 MWCsCmp(const wchar_t* a, const wchar_t* b);
MInt32 MWCsNCmp(const wchar_t* a, const wchar_t* b, size_t n);
MInt32 MWCsICmp(const wchar_t* a, const wchar_t* b);
MInt32 MWCsNICmp(const wchar_t* a, const wchar_t* b, size_t n);
wchar_t* MWCsCpy(wchar_t* dst, const wchar_t* src);
wchar_t* MWCsNCpy(wchar_t* dst, const wchar_t* src, size_t n);
wchar_t* MWCsCat(wchar_t* dst, const wchar_t* src);
wchar_t* MWCsChr(const wchar_t* s, wchar_t c);
wchar_t* MWCsRChr(const wchar_t* s, wchar_t c);
wchar_t* MWCsStr(const wchar_t* s, const wchar_t* find);
MUInt64 MWCsToUL(const wchar_t* s, wchar_t** pEnd, MInt32 base);
MInt64 MWtol(const wchar_t* s);
MInt32 MWtoi(const wchar_t* s);
/* At most 4,096 wide characters, terminator included. */
MInt32 MWSprintf(wchar_t* dst, const wchar_t* format, ...);

/* ---- Case and length ---- */
MResult MSCsMakeLower(MChar* s);
MResult MSCsMakeUpper(MChar* s);
MResult MWCsMakeLower(MWChar* s);
MResult MWCsMakeUpper(MWChar* s);
MInt64 MWCsLen(const MWChar* s);

/* ---- Conversions between narrow text, 16-bit text and UTF-8 ---- */
MInt64 MCharToWChar(const MChar* src, MWChar* dst, MInt64 dstUnits);
MInt64 MWCharToChar(const MWChar* src, MChar* dst, MInt64 dstBytes);
MInt64 MUnicodeToUTF8(const MWChar* src, MChar* dst, MInt64 dstBytes);
MInt64 MUTF8ToUnicode(const MChar* src, MWChar* dst, MInt64 dstUnits);
MInt64 MMultiByteToWideChar(MDWord codePage, const MChar* src, MInt64 srcBytes, MWChar* dst, MInt64 dstUnits);
MInt64 MWideCharToMultiByte(MDWord codePage, const MWChar* src, MInt64 srcUnits, MChar* dst, MInt64 dstBytes);

/* ---- Points and rectangles (a null pointer is tolerated) ---- */
MVoid ADK_PointSet(MPOINT* pt, MInt64 x, MInt64 y);
MVoid ADK_PointOffset(MPOINT* pt, MInt64 dx, MInt64 dy);
MBool ADK_PointIsEqual(const MPOINT* pt, MInt64 x, MInt64 y);
MVoid ADK_SetRect(MRECT* rc, MInt64 left, MInt64 top, MInt64 right, MInt64 bottom);
MBool ADK_PtInRect(const MRECT* rc, MInt64 x, MInt64 y);
MVoid ADK_OffsetRect(MRECT* rc, MInt64 dx, MInt64 dy);
MVoid ADK_InflateRect(MRECT* rc, MInt64 dl, MInt64 dt, MInt64 dr, MInt64 db);
MBool ADK_IsRectEmpty(const MRECT* rc);
MBool ADK_IsRectNull(const MRECT* rc);
MVoid ADK_SetRectEmpty(MRECT* rc);
MBool ADK_EqualRect(const MRECT* a, const MRECT* b);
MVoid ADK_NormalizeRect(MRECT* rc);
MInt64 ADK_GetRectWidth(const MRECT* rc);
MInt64 ADK_GetRectHeight(const MRECT* rc);
MSIZE ADK_GetRectSize(const MRECT* rc);
MPOINT ADK_RectTopLeft(const MRECT* rc);
MPOINT ADK_RectBottomRight(const MRECT* rc);
MPOINT ADK_RectCenterPoint(const MRECT* rc);
MBool ADK_IntersectRect(MRECT* out, const MRECT* a, const MRECT* b);
MBool ADK_UnionRect(MRECT* out, const MRECT* a, const MRECT* b);

/* ---- Other utilities ---- */

/* Decimal digits of value (up to 20); returns the characters written, cut to size - 1. */
MInt64 ADK_U2Str(MUInt64 value, MChar* dst, MInt64 size);
/* "major.minor.build.date"; 2 for a null date, target or size; 9 when the numbers do not fit
 * (a date that does not fit is cut). */
MResult ADK_FormatVersionInfo(MDWord major, MDWord minor, MDWord build, const MChar* szDate, MChar* dst,
                              MInt64 size);
MResult ADKUTILS_GetVersionInfo(MDWord* pMajor, MDWord* pMinor, MDWord* pBuild, MChar* dst, MInt64 size);
MInt32 ADK_GetColorDepth(MDWord oldColorID);
MInt32 ADK_GetPixelBytes(MDWord oldColorID);
/* Address of the last "." of the file name, or null. */
MChar* ADK_GetFileExt(const MChar* szPath);
/* Splits a path into folder (with its trailing separator), name and extension (with its dot).
 * Each output is optional and bounded by its size; 2 for a null or empty path or an output too
 * small for its part, 4 without memory. */
MResult ADK_SplitFullPath(MHandle hMemContext, const MChar* szPath, MChar* szFolder, MInt64 folderSize,
                          MChar* szName, MInt64 nameSize, MChar* szExt, MInt64 extSize);
/* Places the object rectangle inside the container: centred at its own size when it fits, else
 * scaled down to fit; the scale is in thousandths. */
MResult ADK_GetFitinSize(const MRECT* container, MRECT* object, MInt64* pScale);

#ifdef __cplusplus
}
#endif

#endif
