// The favourites list reader: whatever bytes are in the file, reading ends in a list of usable
// paths, with a message when the file was not whole, and what it kept is written back and read
// again unchanged.
#include "Browse/FavoriteListFile.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const FavoriteListFile::Contents c = FavoriteListFile::parse(bytes);
    for (const LMPathString& p : c.paths)
        if (!p.path().startsWith(u'/') || p.path().size() > FavoriteListFile::kMaxPathLength)
            std::abort();
    const FavoriteListFile::Contents again = FavoriteListFile::parse(FavoriteListFile::serialize(c.paths));
    if (!again.error.isEmpty() || again.paths != c.paths)
        std::abort();
    return 0;
}
