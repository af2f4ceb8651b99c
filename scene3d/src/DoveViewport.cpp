#include "DoveViewport.h"

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
    mLeft = int(mRelLeft * w);
    mWidth = int(mRelWidth * w);
    mTop = int(mRelTop * h);
    mHeight = int(mRelHeight * h);
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
    if (h != 0.0f && aspect != 0.0f && w / h > aspect) {
        *y = 0;
        *height = int(h);
        *width = int(aspect * h);
        *x = int((w - float(*width)) / 2.0f);
    } else {
        *x = 0;
        *width = int(w);
        *height = aspect != 0.0f ? int(w / aspect) : int(h);
        *y = int((h - float(*height)) / 2.0f);
    }
}

}  // namespace Dove
