// A scene: a node holding elements, lights, cameras and bend deformers, and owning child scenes.
#ifndef DOVE_SCENE_H
#define DOVE_SCENE_H

#include <string>
#include <vector>

#include "DoveNode.h"

namespace Dove {

class Element;
class Light;
class Camera;
class BendDeformer;
class RenderQueue;

// 0 the 3D scene, 1 the front 2D scene, 2 the back 2D scene.
using RenderQueueGroup = int;

class Scene : public Node {
public:
    // The empty name gives "Scene_" and the next node number.
    explicit Scene(const std::string& name = std::string());
    ~Scene() override;

    const std::string& getRequestedName() const { return mRequestedName; }
    void setRequestedName(const std::string& name) { mRequestedName = name; }

    void addElement(Element* element);
    void addLight(Light* light);
    void addCamera(Camera* camera);
    void addBendDeformer(BendDeformer* deformer);
    void removeElement(Element* element);
    void removeLight(Light* light);
    void removeCamera(Camera* camera);
    void removeBendDeformer(BendDeformer* deformer);
    void removeAllElement();
    // Forgets a deformer that its registry destroys (no release through the manager).
    void detachBendDeformer(BendDeformer* deformer);

    const std::vector<Element*>& getElements() const { return mElements; }
    const std::vector<Light*>& getLights() const { return mLights; }
    const std::vector<Camera*>& getCameras() const { return mCameras; }
    const std::vector<BendDeformer*>& getBendDeformers() const { return mBendDeformers; }

    Node* createChildImpl() override;
    Node* createChildImpl(const std::string& name);
    Node* createSubScene(const std::string& name, const Vector3& position, const Quaternion& orientation) {
        return createChild(name, position, orientation);
    }
    void removeChild(Node* child) override;
    void removeAllChild() override;

    void addIntoRenderQueue(RenderQueue* queue, RenderQueueGroup group);

private:
    std::vector<Element*> mElements;
    std::vector<Light*> mLights;
    std::vector<Camera*> mCameras;
    std::vector<BendDeformer*> mBendDeformers;
};

}  // namespace Dove

#endif
