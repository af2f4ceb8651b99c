// The message a later start hands to the running viewer: whatever arrives on the socket, reading
// it ends in a list of paths, "wait for more" or a refusal, and every path read is sent on again.
#include "appkit/SingleInstance.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray message(reinterpret_cast<const char*>(data), qsizetype(size));
    QStringList paths;
    if (kpv::SingleInstance::decodePaths(message, &paths) != kpv::SingleInstance::Message::Complete)
        return 0;
    QStringList again;
    if (kpv::SingleInstance::decodePaths(kpv::SingleInstance::encodePaths(paths), &again) !=
            kpv::SingleInstance::Message::Complete ||
        again.size() != paths.size())
        std::abort();
    return 0;
}
