// The message a later start hands to the running viewer: whatever arrives on the socket, reading
// it ends in a list of paths and the desktop's token, "wait for more" or a refusal; every path and
// token read is an acceptable one and is sent on again unchanged.
#include "appkit/SingleInstance.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray message(reinterpret_cast<const char*>(data), qsizetype(size));
    using kpv::SingleInstance;
    QStringList paths;
    SingleInstance::Activation token;
    if (SingleInstance::decodePaths(message, &paths, &token) != SingleInstance::Message::Complete)
        return 0;
    for (const QByteArray& t : {token.startupId, token.activationToken})
        if (!t.isEmpty() && !SingleInstance::isAcceptableToken(t))
            std::abort();
    QStringList again;
    SingleInstance::Activation tokenAgain;
    if (SingleInstance::decodePaths(SingleInstance::encodePaths(paths, token), &again, &tokenAgain) !=
            SingleInstance::Message::Complete ||
        again.size() != paths.size() || tokenAgain.startupId != token.startupId ||
        tokenAgain.activationToken != token.activationToken)
        std::abort();
    return 0;
}
