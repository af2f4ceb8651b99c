// The engine context: starts and stops the engine's singletons and holds the application's
// bitmap converter, which turns texture files named by a scene file into bitmaps.
#ifndef DOVE_CONTEXT_H
#define DOVE_CONTEXT_H

#include <cstdint>
#include <functional>
#include <string>

#include "MdBitmap.h"

namespace Dove {

class RenderEngine;

// Fills the empty record behind the pointer from the image at the path and returns non-zero, or
// returns 0 and leaves the record alone. The engine frees the record's first plane afterwards
// with delete[], and the record itself.
using BitmapConverter = std::function<long(const std::string& path, MBITMAP** bitmap)>;

// The counters behind generated object names ("Node_3", "Texture_1"). They belong to the
// context, so a context made anew (another engine, the next test) numbers from 1 again and names
// never depend on what ran before in the process.
struct NameCounters {
    uint32_t object = 0, node = 0, texture = 0, postProcess = 0, shaderProgram = 0, bendDeformer = 0;
    uint32_t effect = 0, technique = 0, pass = 0;
};

class Context {
public:
    static Context* getSingleton();
    static void releaseSingleton();
    // The name counters of the current context (made on first use).
    static NameCounters& names() { return getSingleton()->mNames; }

    void init();
    void registerBitmapConverter(BitmapConverter converter) { mBitmapConverter = std::move(converter); }
    const BitmapConverter& getBitmapConverter() const { return mBitmapConverter; }
    RenderEngine* getRenderEngine() const { return mRenderEngine; }

private:
    Context() = default;
    RenderEngine* mRenderEngine = nullptr;
    BitmapConverter mBitmapConverter;
    NameCounters mNames;
};

}  // namespace Dove

#endif
