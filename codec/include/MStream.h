/* Streams: one handle type over files and memory, so that a codec reads and writes the same
 * way from either. */
#ifndef KPV_CODEC_MSTREAM_H
#define KPV_CODEC_MSTREAM_H

#include "MTypes.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct MStreamRecord* MSTREAM;

/* Stream types (the record's type word). */
#define MSTREAM_TYPE_FILE 1
#define MSTREAM_TYPE_MEMORY 2

/* Seek origins. */
#define MSTREAM_SEEK_BEGIN 0
#define MSTREAM_SEEK_END 1
#define MSTREAM_SEEK_CUR 2

/* File open modes; any other value counts as MSTREAM_MODE_READ. */
#define MSTREAM_MODE_READ 1          /* "rb" */
#define MSTREAM_MODE_WRITE 2         /* "wb" */
#define MSTREAM_MODE_APPEND 3        /* "ab" */
#define MSTREAM_MODE_READ_UPDATE 4   /* "rb+" */
#define MSTREAM_MODE_WRITE_UPDATE 5  /* "wb+" */
#define MSTREAM_MODE_APPEND_UPDATE 6 /* "ab+" */

/* Data bytes of every chunk after the first of a growable memory stream. */
#define MSTREAM_CHUNK_SIZE 16384

/* Opening; each returns null on failure. A memory stream over a caller buffer never grows and
 * never frees the buffer; with a null buffer the stream grows in chunks. */
MSTREAM MStreamOpenFromMemoryBlock(MVoid* pBuffer, MInt64 length);
MSTREAM MStreamOpenFromFileS(const MChar* szPath, MDWord mode);
MSTREAM MStreamOpenFromFileW(const MWChar* wszPath, MDWord mode);
MSTREAM MStreamOpenFromFile64S(const MChar* szPath, MDWord mode);
MSTREAM MStreamOpenFromFile64W(const MWChar* wszPath, MDWord mode);

MInt64 MStreamRead(MSTREAM stream, MVoid* pBuffer, MInt64 count);
MInt64 MStreamWrite(MSTREAM stream, const MVoid* pBuffer, MInt64 count);
MResult MStreamSeek(MSTREAM stream, MWord origin, MInt64 offset);
MInt64 MStreamTell(MSTREAM stream);
MInt64 MStreamGetSize(MSTREAM stream);
MInt64 MStreamSetSize(MSTREAM stream, MInt64 size);
MBool MStreamFlush(MSTREAM stream);
MBool MStreamClose(MSTREAM stream);

/* 64-bit forms: -1 for a null stream or buffer. */
MInt64 MStreamRead64(MSTREAM stream, MVoid* pBuffer, MInt64 count);
MInt64 MStreamWrite64(MSTREAM stream, const MVoid* pBuffer, MInt64 count);
MResult MStreamSeek64(MSTREAM stream, MWord origin, MInt64 offset);
MInt64 MStreamTell64(MSTREAM stream);
MInt64 MStreamGetSize64(MSTREAM stream);
MBool MStreamClose64(MSTREAM stream);

/* Copies up to count bytes from the source's position to the target's; returns the bytes
 * written. */
MInt64 MStreamCopy(MSTREAM source, MSTREAM target, MInt64 count);

/* File utilities. The W forms take the library's 16-bit text. */
MBool MStreamFileDeleteS(const MChar* szPath);
MBool MStreamFileMoveS(const MChar* szNewPath, const MChar* szOldPath);
MBool MStreamFileRenameS(const MChar* szOldPath, const MChar* szNewPath);
MInt64 MStreamFileGetSizeS(const MChar* szPath);
MInt64 MStreamFileGetSize64S(const MChar* szPath);
MInt64 MStreamFileGetSize64W(const MWChar* wszPath);
MSTREAM MStreamFileCreateS(const MChar* szPath);
MSTREAM MStreamFileCreateW(const MWChar* wszPath);
MBool MStreamFileExistsS(const MChar* szPath);
MBool MStreamFileExistsW(const MWChar* wszPath);
/* 1 when the whole source was copied; on any failure the target is removed and 0 returned. */
MBool MStreamFileCopyS(const MChar* szTargetPath, const MChar* szSourcePath);

#ifdef __cplusplus
}
#endif

#endif
