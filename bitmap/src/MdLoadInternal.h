// Pieces shared by the bitmap loads and saves: the result lists, the plane fill, the pass-and-line
// decoding loop and a guard that hands a stream back at the position where it was found.
#ifndef KPV_BITMAP_MDLOADINTERNAL_H
#define KPV_BITMAP_MDLOADINTERNAL_H

#include <functional>

#include "MStream.h"
#include "MTypes.h"
#include "MdBitmap.h"

// Codes the loads let through; anything else becomes the first entry.
extern const MResult g_dwLoadReturn[6];
extern const MResult g_dwFileInfoReturn[5];
extern const MResult g_dwFileFrmtReturn[4];
// Codes the saves let through.
extern const MResult g_dwSaveReturn[5];

inline MResult MdFilterLoad(MResult r) { return MdUtilConvertErrorCode(r, g_dwLoadReturn, 6); }
inline MResult MdFilterSave(MResult r) { return MdUtilConvertErrorCode(r, g_dwSaveReturn, 5); }

// Fills every plane of the bitmap with one byte value. 2 for a null bitmap, 3 for an unknown colour.
MResult s_SetMBITMAP(MByte value, MBITMAP* pBitmap);

// Blends one row of source pixels into a destination row (the transparency merge).
typedef MResult (*MdLineMergeFn)(MInt64 count, MByte* pDst, MUInt64 dwDstColor, const MByte* pSrc,
                                 MUInt64 dwSrcColor);

// Runs the decoder into the bitmap, pass by pass. The direct path (flag 0, offset 0) lets the
// decoder write the bitmap's planes; the line path decodes one line at a time into a buffer and
// copies (or, with a merge function, blends) it to offset (x, y), clipped to the bitmap.
MResult s_Decode(MHandle hDecoder, MInt64 lPasses, MInt64 bLinePath, MInt64 lWidth, MInt64 lHeight,
                 MBITMAP* pBitmap, MInt64 x, MInt64 y);
MResult MdDecodeWithMerge(MHandle hDecoder, MInt64 lPasses, MInt64 bLinePath, MInt64 lWidth, MInt64 lHeight,
                          MBITMAP* pBitmap, MInt64 x, MInt64 y, MdLineMergeFn fnMerge, MUInt64 dwSrcColor);

// Notes a stream's position on construction and seeks back to it when destroyed.
class MdStreamPosition {
public:
    explicit MdStreamPosition(MSTREAM s) : m_stream(s), m_pos(s ? MStreamTell(s) : 0) {}
    ~MdStreamPosition() {
        if (m_stream) MStreamSeek(m_stream, MSTREAM_SEEK_BEGIN, m_pos);
    }
    MdStreamPosition(const MdStreamPosition&) = delete;
    MdStreamPosition& operator=(const MdStreamPosition&) = delete;

private:
    MSTREAM m_stream;
    MInt64 m_pos;
};

// Planes and record of a bitmap this code allocated itself; freed when the owner goes.
struct MdOwnedBitmap {
    MBITMAP bmp{};
    MdOwnedBitmap() = default;
    MdOwnedBitmap(const MdOwnedBitmap&) = delete;
    MdOwnedBitmap& operator=(const MdOwnedBitmap&) = delete;
    ~MdOwnedBitmap() {
        if (bmp.pPlane[0]) MdBitmapFree(&bmp);
    }
    MResult alloc(MUInt64 color, MInt64 w, MInt64 h) {
        bmp = MBITMAP{};
        bmp.dwPixelArrayFormat = color;
        bmp.lWidth = w;
        bmp.lHeight = h;
        return MdBitmapAlloc(&bmp);
    }
};

// Opens a file read-only, runs fn on the stream, closes it and filters the result.
template <typename Fn> MResult MdWithFile(const MChar* szPath, MDWord mode, MResult openFailure, Fn fn) {
    MSTREAM s = MStreamOpenFromFileS(szPath, mode);
    if (!s) return openFailure;
    const MResult r = fn(s);
    MStreamClose(s);
    return r;
}

// Writes a file through fn: into a temporary file beside the target, renamed over it only when
// fn succeeded and the file was synced and closed; otherwise the temporary is removed and the target kept.
// openFailure when no temporary file can be made there.
MResult MdWriteFileReplacing(const MChar* szPath, MResult openFailure, const std::function<MResult(MSTREAM)>& fn);

#endif
