// Replacing a file only once its new content is complete, through a stream on the fresh file.
#include <string>

#include "MFileReplace.h"
#include "MdLoadInternal.h"

MResult MdWriteFileReplacing(const MChar* path, MResult openFailure, const std::function<MResult(MSTREAM)>& fn) {
    MResult r = openFailure;
    const bool ok = MFileReplace(path, [&](int, const std::string& temp) {
        MSTREAM s = MStreamOpenFromFileS(temp.c_str(), MSTREAM_MODE_WRITE);
        if (!s) return false;
        r = fn(s);
        if (r == MOK && !MStreamFlush(s)) r = MERR_FILE_WRITE;
        if (!MStreamClose(s) && r == MOK) r = MERR_FILE_WRITE;
        return r == MOK;
    });
    if (ok) return MOK;
    return r != MOK ? r : MERR_FILE_WRITE;
}
