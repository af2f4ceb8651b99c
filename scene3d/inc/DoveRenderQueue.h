// The elements of one frame in three groups: 3D (opaque, then transparent, each back to front),
// the front 2D scene and the back 2D scene (insertion order).
#ifndef DOVE_RENDERQUEUE_H
#define DOVE_RENDERQUEUE_H

#include <list>

#include "DoveScene.h"

namespace Dove {

class Element;

class RenderQueue {
public:
    void addElement(Element* element, RenderQueueGroup group);
    void render3DScene();
    void renderBack2DScene();
    void renderFront2DScene();
    void clear();

    const std::list<Element*>& front2D() const { return mFront2D; }
    const std::list<Element*>& back2D() const { return mBack2D; }
    const std::list<Element*>& opaque3D() const { return mOpaque; }
    const std::list<Element*>& transparent3D() const { return mTransparent; }

private:
    std::list<Element*> mFront2D;
    std::list<Element*> mBack2D;
    std::list<Element*> mOpaque;
    std::list<Element*> mTransparent;
};

}  // namespace Dove

#endif
