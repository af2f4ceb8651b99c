// Shared by the backend's sources: the OpenGL entry points and the error drain.
#ifndef DOVE_OGLCOMMON_H
#define DOVE_OGLCOMMON_H

#include <epoxy/gl.h>

#include "DoveOGLContext.h"

namespace Dove {

// OpenGL errors are read after each call and dropped: the engine reports failures by results,
// never by the error state, and a stale error must not be blamed on a later call.
inline void drainGLErrors() {
    for (int i = 0; i < 16 && glGetError() != GL_NO_ERROR; ++i) {
    }
}

inline bool glReady() { return OGLContext::hasCurrentContext(); }

}  // namespace Dove

#endif
