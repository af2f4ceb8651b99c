// File utilities on paths: delete, move, size, create, exists and copy.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <string>

#include "StreamRecord.h"

namespace {

int64_t statSize(const char* path)
{
    struct stat st;
    if (path == nullptr || ::stat(path, &st) != 0)
        return -1;
    return static_cast<int64_t>(st.st_size);
}

// Makes a new, empty file beside the target under a name no one else uses, so that a copy can
// be completed there and renamed over the target. The file mode follows the umask, as a plain
// create of the target would.
std::string makeSiblingTemp(const std::string& target, int* fd)
{
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = target + ".part-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
        int f = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (f >= 0) {
            *fd = f;
            return name;
        }
        if (errno != EEXIST)
            break;
    }
    *fd = -1;
    return {};
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

// The copy is written beside the target and renamed over it only when every byte was read and
// written, so a read error, a short write or a failing close never leaves a partial file, and an
// existing target stays intact until the copy is complete.
MBool MStreamFileCopyS(const MChar* szTargetPath, const MChar* szSourcePath)
{
    if (szTargetPath == nullptr || szSourcePath == nullptr)
        return MFalse;
    FILE* in = std::fopen(szSourcePath, "rb");
    if (in == nullptr)
        return MFalse;
    int fd = -1;
    const std::string temp = makeSiblingTemp(szTargetPath, &fd);
    FILE* out = fd >= 0 ? ::fdopen(fd, "wb") : nullptr;
    if (out == nullptr) {
        if (fd >= 0) {
            ::close(fd);
            std::remove(temp.c_str());
        }
        std::fclose(in);
        return MFalse;
    }

    bool ok = true;
    unsigned char piece[1024];
    for (;;) {
        const size_t got = std::fread(piece, 1, sizeof piece, in);
        if (got == 0) {
            ok = std::ferror(in) == 0;
            break;
        }
        if (std::fwrite(piece, 1, got, out) != got) {
            ok = false;
            break;
        }
    }
    std::fclose(in);
    if (std::fclose(out) != 0)
        ok = false;
    if (ok && std::rename(temp.c_str(), szTargetPath) != 0)
        ok = false;
    if (!ok)
        std::remove(temp.c_str());
    return ok ? MTrue : MFalse;
}

} // extern "C"
