// The engine context: starts and stops the engine's singletons and holds the application's
// bitmap converter, which turns texture files named by a scene file into bitmaps.
#ifndef DOVE_CONTEXT_H
#define DOVE_CONTEXT_H

#include <functional>
#include <string>

#include "MdBitmap.h"

namespace Dove {

class RenderEngine;

// Fills the empty record behind the pointer from the image at the path and returns non-zero, or
// returns 0 and leaves the record alone. The engine frees the record's first plane afterwards
// with delete[], and the record itself.
using BitmapConverter = std::function<long(const std::string& path, MBITMAP** bitmap)>;

class Context {
public:
    static Context* getSingleton();
    static void releaseSingleton();

    void init();
    void registerBitmapConverter(BitmapConverter converter) { mBitmapConverter = std::move(converter); }
    const BitmapConverter& getBitmapConverter() const { return mBitmapConverter; }
    RenderEngine* getRenderEngine() const { return mRenderEngine; }

private:
    Context() = default;
    RenderEngine* mRenderEngine = nullptr;
    BitmapConverter mBitmapConverter;
};

}  // namespace Dove

#endif
