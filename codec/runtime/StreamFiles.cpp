// File utilities on paths: delete, move, size, create, exists and copy.
#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "MFileReplace.h"
#include "StreamRecord.h"

namespace {

int64_t statSize(const char* path)
{
    struct stat st;
    if (path == nullptr || ::stat(path, &st) != 0)
        return -1;
    return static_cast<int64_t>(st.st_size);
}

} // namespace

extern "C" {

MBool MStreamFileDeleteS(const MChar* szPath)
{
    return szPath != nullptr && std::remove(szPath) == 0 ? MTrue : MFalse;
}

MBool MStreamFileMoveS(const MChar* szNewPath, const MChar* szOldPath)
{
    if (szNewPath == nullptr || szOldPath == nullptr)
        return MFalse;
    return std::rename(szOldPath, szNewPath) == 0 ? MTrue : MFalse;
}

MBool MStreamFileRenameS(const MChar* szOldPath, const MChar* szNewPath)
{
    return MStreamFileMoveS(szNewPath, szOldPath);
}

MInt64 MStreamFileGetSizeS(const MChar* szPath)
{
    return statSize(szPath);
}

MInt64 MStreamFileGetSize64S(const MChar* szPath)
{
    return statSize(szPath);
}

MInt64 MStreamFileGetSize64W(const MWChar* wszPath)
{
    const auto path = kpvNarrowPath(wszPath);
    return path ? statSize(path->c_str()) : -1;
}

MSTREAM MStreamFileCreateS(const MChar* szPath)
{
    return MStreamOpenFromFileS(szPath, MSTREAM_MODE_WRITE);
}

MSTREAM MStreamFileCreateW(const MWChar* wszPath)
{
    return MStreamOpenFromFileW(wszPath, MSTREAM_MODE_WRITE);
}

MBool MStreamFileExistsS(const MChar* szPath)
{
    MSTREAM s = MStreamOpenFromFileS(szPath, MSTREAM_MODE_READ);
    if (s == nullptr)
        return MFalse;
    MStreamClose(s);
    return MTrue;
}

MBool MStreamFileExistsW(const MWChar* wszPath)
{
    const auto path = kpvNarrowPath(wszPath);
    return path ? MStreamFileExistsS(path->c_str()) : MFalse;
}

// The copy goes through the file replacer, so a read error, a short write or a failing sync
// never leaves a partial file, and an existing target stays intact until the copy is complete.
MBool MStreamFileCopyS(const MChar* szTargetPath, const MChar* szSourcePath)
{
    if (szTargetPath == nullptr || szSourcePath == nullptr)
        return MFalse;
    FILE* in = std::fopen(szSourcePath, "rb");
    if (in == nullptr)
        return MFalse;
    const bool ok = MFileReplace(szTargetPath, [in](int fd, const std::string&) {
        unsigned char piece[1024];
        for (;;) {
            const size_t got = std::fread(piece, 1, sizeof piece, in);
            if (got == 0)
                return std::ferror(in) == 0;
            if (!MFileWriteAll(fd, piece, got))
                return false;
        }
    });
    std::fclose(in);
    return ok ? MTrue : MFalse;
}

} // extern "C"
