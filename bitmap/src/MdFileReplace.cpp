// Replacing a file only once its new content is complete.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "MdLoadInternal.h"

MResult MdWriteFileReplacing(const MChar* path, MResult openFailure, const std::function<MResult(MSTREAM)>& fn) {
    std::string tmp = std::string(path) + ".kpv-XXXXXX";
    const int fd = mkstemp(tmp.data());
    if (fd < 0) return openFailure;
    // A temporary file is private; the finished one keeps the mode of the file it replaces.
    struct stat st {};
    fchmod(fd, stat(path, &st) == 0 ? (st.st_mode & 0777) : 0644);
    close(fd);
    MSTREAM s = MStreamOpenFromFileS(tmp.c_str(), MSTREAM_MODE_WRITE);
    if (!s) {
        std::remove(tmp.c_str());
        return openFailure;
    }
    MResult r = fn(s);
    if (r == MOK && !MStreamFlush(s)) r = MERR_FILE_WRITE;
    MStreamClose(s);
    if (r == MOK && std::rename(tmp.c_str(), path) != 0) r = MERR_FILE_WRITE;
    if (r != MOK) std::remove(tmp.c_str());
    return r;
}
