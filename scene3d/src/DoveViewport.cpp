#include "DoveViewport.h"

#include <cmath>

#include "DoveFrameBuffer.h"

namespace Dove {

Viewport::Viewport(Camera* camera, FrameBuffer* frameBuffer, int index, float left, float top, float width,
                   float height)
    : mFrameBuffer(frameBuffer), mCamera(camera), mIndex(index), mRelLeft(left), mRelTop(top),
      mRelWidth(width), mRelHeight(height) {
    updateActual();
}

void Viewport::updateActual() {
    if (!mFrameBuffer) return;
    const float w = float(mFrameBuffer->getWidth()), h = float(mFrameBuffer->getHeight());
    mLeft = truncToInt(mRelLeft * w);
    mWidth = truncToInt(mRelWidth * w);
    mTop = truncToInt(mRelTop * h);
    mHeight = truncToInt(mRelHeight * h);
}

void Viewport::setRelativeValue(float left, float top, float width, float height) {
    mRelLeft = left;
    mRelTop = top;
    mRelWidth = width;
    mRelHeight = height;
    updateActual();
}

void Viewport::setActualValue(int left, int top, int width, int height) {
    mLeft = left;
    mTop = top;
    mWidth = width;
    mHeight = height;
    if (!mFrameBuffer) return;
    const float w = float(mFrameBuffer->getWidth()), h = float(mFrameBuffer->getHeight());
    // A frame buffer of no size has no fractions; keep the relative values rather than divide by 0.
    if (w != 0.0f) {
        mRelLeft = float(left) / w;
        mRelWidth = float(width) / w;
    }
    if (h != 0.0f) {
        mRelTop = float(top) / h;
        mRelHeight = float(height) / h;
    }
}

bool Viewport::operator==(const Viewport& o) const {
    return mRelLeft == o.mRelLeft && mRelTop == o.mRelTop && mRelWidth == o.mRelWidth && mRelHeight == o.mRelHeight;
}

void getViewportValueWithCameraAspect(float aspect, const Size& size, int* x, int* y, int* width, int* height) {
    const float w = size.width, h = size.height;
    if (!(aspect > 0.0f) || std::isinf(aspect) || !(h > 0.0f)) {
        // No usable aspect (a camera from a file may carry anything): the whole area.
        *x = 0;
        *y = 0;
        *width = truncToInt(w);
        *height = truncToInt(h);
        return;
    }
    if (w / h > aspect) {
        *y = 0;
        *height = truncToInt(h);
        *width = truncToInt(aspect * h);
        *x = truncToInt((w - float(*width)) / 2.0f);
    } else {
        *x = 0;
        *width = truncToInt(w);
        *height = truncToInt(w / aspect);
        *y = truncToInt((h - float(*height)) / 2.0f);
    }
}

}  // namespace Dove
