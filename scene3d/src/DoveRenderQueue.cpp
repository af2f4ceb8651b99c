#include "DoveRenderQueue.h"

#include "DoveElement.h"

namespace Dove {

void RenderQueue::addElement(Element* element, RenderQueueGroup group) {
    if (!element) return;
    if (group == 1) {
        mFront2D.push_back(element);
    } else if (group == 2) {
        mBack2D.push_back(element);
    } else if (group == 0) {
        std::list<Element*>& list = element->isTransparent() ? mTransparent : mOpaque;
        const float d = element->getModelCenterDistanceInProjCoord();
        // Farther first; equal distances keep their order of arrival.
        auto it = list.begin();
        while (it != list.end() && !((*it)->getModelCenterDistanceInProjCoord() < d)) ++it;
        list.insert(it, element);
    }
}

void RenderQueue::render3DScene() {
    for (Element* e : mOpaque) e->render();
    for (Element* e : mTransparent) e->render();
}

void RenderQueue::renderBack2DScene() {
    for (Element* e : mBack2D) e->render();
}

void RenderQueue::renderFront2DScene() {
    for (Element* e : mFront2D) e->render();
}

void RenderQueue::clear() {
    mFront2D.clear();
    mBack2D.clear();
    mOpaque.clear();
    mTransparent.clear();
}

}  // namespace Dove
