#pragma once

// What the photo loader asks of its owner (the application singleton): the calling thread's own
// codec component manager, and the type tables of the supported documents. Called from the
// loader's worker threads, several at once.

#include "Model/LMPathString.h"

#include "AMCM.h"

#include <QString>

#include <cstdint>

class LMPhotoLoaderInfoProvider {
public:
    virtual ~LMPhotoLoaderInfoProvider() = default;

    // The calling thread's component manager, made on the thread's first request; null when it
    // could not be made.
    virtual AMCMHandle currentTheadAMCMHandle() = 0;
    // The codec image type of a content type identifier; 0 when none.
    virtual uint64_t imageTypeToAMCMType(const QString &uti) const = 0;
    // The content type identifier of a file by its extension; empty when not supported.
    virtual QString fileUTIByPath(const LMPathString &path) const = 0;
};
