// A viewport places a camera's picture into a frame buffer, as a rectangle in fractions of the
// frame buffer and in pixels.
#ifndef DOVE_VIEWPORT_H
#define DOVE_VIEWPORT_H

#include "DoveMath.h"

namespace Dove {

class Camera;
class FrameBuffer;

class Viewport {
public:
    Viewport(Camera* camera, FrameBuffer* frameBuffer, int index, float left, float top, float width,
             float height);

    void setRelativeValue(float left, float top, float width, float height);
    void setActualValue(int left, int top, int width, int height);

    bool operator==(const Viewport& o) const;
    Viewport& operator=(const Viewport& o) = default;
    Viewport(const Viewport&) = default;

    Camera* getCamera() const { return mCamera; }
    void setCamera(Camera* camera) { mCamera = camera; }
    FrameBuffer* getFrameBuffer() const { return mFrameBuffer; }
    int getIndex() const { return mIndex; }

    float getRelativeLeft() const { return mRelLeft; }
    float getRelativeTop() const { return mRelTop; }
    float getRelativeWidth() const { return mRelWidth; }
    float getRelativeHeight() const { return mRelHeight; }
    int getActualLeft() const { return mLeft; }
    int getActualTop() const { return mTop; }
    int getActualWidth() const { return mWidth; }
    int getActualHeight() const { return mHeight; }

private:
    void updateActual();

    FrameBuffer* mFrameBuffer;
    Camera* mCamera;
    int mIndex;
    float mRelLeft, mRelTop, mRelWidth, mRelHeight;
    int mLeft = 0, mTop = 0, mWidth = 0, mHeight = 0;
};

// The largest rectangle of the aspect inside the size, centred; every value cut to an integer.
void getViewportValueWithCameraAspect(float aspect, const Size& size, int* x, int* y, int* width, int* height);

}  // namespace Dove

#endif
