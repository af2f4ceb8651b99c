// The stream functions: dispatch on the stream's type, file streams, the 64-bit forms and the
// stream copy.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "StreamRecord.h"

#include "MMemory.h"

namespace {

const char* modeString(MDWord mode)
{
    switch (mode) {
    case MSTREAM_MODE_WRITE:
        return "wb";
    case MSTREAM_MODE_APPEND:
        return "ab";
    case MSTREAM_MODE_READ_UPDATE:
        return "rb+";
    case MSTREAM_MODE_WRITE_UPDATE:
        return "wb+";
    case MSTREAM_MODE_APPEND_UPDATE:
        return "ab+";
    default:
        return "rb";
    }
}

int stdOrigin(MWord origin)
{
    switch (origin) {
    case MSTREAM_SEEK_END:
        return SEEK_END;
    case MSTREAM_SEEK_CUR:
        return SEEK_CUR;
    default:
        return SEEK_SET;
    }
}

FILE* fileOf(MSTREAM s)
{
    return static_cast<FILE*>(s->data);
}

bool isFile(MSTREAM s)
{
    return s != nullptr && s->type == MSTREAM_TYPE_FILE;
}

bool isMemory(MSTREAM s)
{
    return s != nullptr && s->type == MSTREAM_TYPE_MEMORY;
}

int64_t fileSize(FILE* f)
{
    const off_t old = ftello(f);
    if (old < 0 || fseeko(f, 0, SEEK_END) != 0)
        return -1;
    const off_t end = ftello(f);
    fseeko(f, old, SEEK_SET);
    return end;
}

} // namespace

std::optional<std::string> kpvNarrowPath(const MWChar* path)
{
    if (path == nullptr)
        return std::nullopt;
    std::string out;
    for (const MWChar* p = path; *p != 0; ++p) {
        uint32_t cp = *p;
        if (cp >= 0xD800 && cp <= 0xDBFF) {
            if (p[1] < 0xDC00 || p[1] > 0xDFFF)
                return std::nullopt;
            cp = 0x10000 + ((cp - 0xD800) << 10) + (p[1] - 0xDC00);
            ++p;
        } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
            return std::nullopt;
        }
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

extern "C" {

MSTREAM MStreamOpenFromFileS(const MChar* szPath, MDWord mode)
{
    if (szPath == nullptr)
        return nullptr;
    auto* s = static_cast<MStreamRecord*>(MMemAlloc(nullptr, sizeof(MStreamRecord)));
    if (s == nullptr)
        return nullptr;
    std::memset(s, 0, sizeof(*s));
    FILE* f = std::fopen(szPath, modeString(mode));
    if (f == nullptr) {
        MMemFree(nullptr, s);
        return nullptr;
    }
    s->data = f;
    s->type = MSTREAM_TYPE_FILE;
    return s;
}

MSTREAM MStreamOpenFromFileW(const MWChar* wszPath, MDWord mode)
{
    const auto path = kpvNarrowPath(wszPath);
    return path ? MStreamOpenFromFileS(path->c_str(), mode) : nullptr;
}

MSTREAM MStreamOpenFromFile64S(const MChar* szPath, MDWord mode)
{
    if (szPath == nullptr)
        return nullptr;
    MSTREAM s = MStreamOpenFromFileS(szPath, mode);
    if (s != nullptr && (mode == MSTREAM_MODE_APPEND || mode == MSTREAM_MODE_APPEND_UPDATE))
        fseeko(fileOf(s), 0, SEEK_END);
    return s;
}

MSTREAM MStreamOpenFromFile64W(const MWChar* wszPath, MDWord mode)
{
    const auto path = kpvNarrowPath(wszPath);
    return path ? MStreamOpenFromFile64S(path->c_str(), mode) : nullptr;
}

MInt64 MStreamRead(MSTREAM stream, MVoid* pBuffer, MInt64 count)
{
    if (isFile(stream))
        return (pBuffer == nullptr || count <= 0)
                   ? 0
                   : static_cast<MInt64>(std::fread(pBuffer, 1, static_cast<size_t>(count), fileOf(stream)));
    if (isMemory(stream))
        return kpvMemoryRead(stream, pBuffer, count);
    return 0;
}

MInt64 MStreamWrite(MSTREAM stream, const MVoid* pBuffer, MInt64 count)
{
    if (isFile(stream))
        return (pBuffer == nullptr || count <= 0)
                   ? 0
                   : static_cast<MInt64>(std::fwrite(pBuffer, 1, static_cast<size_t>(count), fileOf(stream)));
    if (isMemory(stream))
        return kpvMemoryWrite(stream, pBuffer, count);
    return 0;
}

MResult MStreamSeek(MSTREAM stream, MWord origin, MInt64 offset)
{
    if (isFile(stream))
        return fseeko(fileOf(stream), static_cast<off_t>(offset), stdOrigin(origin));
    if (isMemory(stream))
        return kpvMemorySeek(stream, origin, offset);
    return MOK;
}

MInt64 MStreamTell(MSTREAM stream)
{
    if (isFile(stream))
        return ftello(fileOf(stream));
    if (isMemory(stream))
        return kpvMemoryTell(stream);
    return 0;
}

MInt64 MStreamGetSize(MSTREAM stream)
{
    if (isFile(stream))
        return fileSize(fileOf(stream));
    if (isMemory(stream))
        return stream->length;
    return 0;
}

MInt64 MStreamSetSize(MSTREAM stream, MInt64 size)
{
    if (isFile(stream))
        return -1;
    if (!isMemory(stream))
        return 0;
    if (size < stream->length)
        stream->length = size;
    if (stream->length <= 0) {
        stream->length = 0;
        return 0;
    }
    return stream->length;
}

MBool MStreamFlush(MSTREAM stream)
{
    if (isFile(stream))
        return std::fflush(fileOf(stream)) == 0 ? MTrue : MFalse;
    if (isMemory(stream))
        return MTrue;
    return MFalse;
}

MBool MStreamClose(MSTREAM stream)
{
    if (isFile(stream)) {
        const int rc = std::fclose(fileOf(stream));
        MMemFree(nullptr, stream);
        return rc == 0 ? MTrue : MFalse;
    }
    if (isMemory(stream)) {
        kpvMemoryClose(stream);
        return MTrue;
    }
    return MFalse;
}

MInt64 MStreamRead64(MSTREAM stream, MVoid* pBuffer, MInt64 count)
{
    if (stream == nullptr || pBuffer == nullptr || count < 0)
        return -1;
    if (count == 0)
        return 0;
    const MInt64 n = MStreamRead(stream, pBuffer, count);
    return n == 0 ? -1 : n;
}

MInt64 MStreamWrite64(MSTREAM stream, const MVoid* pBuffer, MInt64 count)
{
    if (stream == nullptr || pBuffer == nullptr || count < 0)
        return -1;
    if (count == 0)
        return 0;
    const MInt64 n = MStreamWrite(stream, pBuffer, count);
    return n == 0 ? -1 : n;
}

MResult MStreamSeek64(MSTREAM stream, MWord origin, MInt64 offset)
{
    if (stream == nullptr || origin > MSTREAM_SEEK_CUR)
        return -1;
    if (isFile(stream))
        return fseeko(fileOf(stream), static_cast<off_t>(offset), stdOrigin(origin));
    if (isMemory(stream))
        return kpvMemorySeek(stream, origin, offset);
    return MOK;
}

MInt64 MStreamTell64(MSTREAM stream)
{
    if (stream == nullptr)
        return -1;
    return MStreamTell(stream);
}

MInt64 MStreamGetSize64(MSTREAM stream)
{
    if (stream == nullptr)
        return -1;
    return MStreamGetSize(stream);
}

MBool MStreamClose64(MSTREAM stream)
{
    if (stream == nullptr)
        return MFalse;
    return MStreamClose(stream);
}

MInt64 MStreamCopy(MSTREAM source, MSTREAM target, MInt64 count)
{
    constexpr MInt64 kPiece = 131072;
    if (source == nullptr || target == nullptr || count <= 0)
        return 0;
    auto* buffer = static_cast<unsigned char*>(std::malloc(kPiece));
    if (buffer == nullptr)
        return 0;
    MInt64 total = 0;
    while (total < count) {
        const MInt64 want = std::min(count - total, kPiece);
        const MInt64 got = MStreamRead(source, buffer, want);
        if (got <= 0)
            break;
        const MInt64 put = MStreamWrite(target, buffer, got);
        if (put > 0)
            total += put;
        if (put < got || put == 0)
            break;
    }
    std::free(buffer);
    return total;
}

} // extern "C"
