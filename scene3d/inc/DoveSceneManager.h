// Owns every scene, element, camera, light and bend deformer by name, the three root scenes, the
// 2D camera and the render queue, and offers the render window the steps of a frame.
#ifndef DOVE_SCENEMANAGER_H
#define DOVE_SCENEMANAGER_H

#include <functional>
#include <map>
#include <string>

#include "DoveScene.h"

namespace Dove {

class Element;
class Camera;
class Light;
class BendDeformer;
class RenderQueue;
class Viewport;

using Light_Type = int;

class SceneManager {
public:
    static SceneManager* getSingleton();
    // The manager if it exists, without making one.
    static SceneManager* peekSingleton();
    static void releaseSingleton();

    void init(unsigned int width, unsigned int height);
    Camera* create2DCamera(unsigned int width, unsigned int height);
    Camera* get2DCamera() const { return mCamera2D; }

    Element* createElement(const std::string& name, long renameIfTaken);
    Camera* createCamera(const std::string& name, long renameIfTaken);
    Light* createLight(Light_Type type, const std::string& name, long renameIfTaken);
    BendDeformer* createBendDeformer(const std::string& name, long renameIfTaken);
    Scene* createScene(const std::string& name, long renameIfTaken);

    Element* getElementByName(const std::string& name) const;
    Camera* getCameraByName(const std::string& name) const;
    Light* getLightByName(const std::string& name) const;
    BendDeformer* getBendDeformerByName(const std::string& name) const;
    Scene* getSceneByName(const std::string& name) const;

    void releaseElementByName(const std::string& name);
    void releaseCameraByName(const std::string& name);
    void releaseLightByName(const std::string& name);
    void releaseBendDeformerByName(const std::string& name);
    void releaseSceneByName(const std::string& name);

    Scene* getRoot3DScene();
    Scene* getRoot2DFrontScene();
    Scene* getRoot2DBackScene();

    RenderQueue* getRenderQueue() const { return mRenderQueue; }
    void clearRenderQueue();
    void insert3DSceneIntoRenderQueue();
    void insertFront2DSceneIntoRenderQueue();
    void insertBack2DSceneIntoRenderQueue();
    void render3DScene();
    void renderFront2DScene();
    void renderBack2DScene();

    void update();
    void activeViewport(Viewport* viewport);

    Camera* getCurrentCamera() const { return mCurrentCamera; }
    void setCurrentCamera(Camera* camera) { mCurrentCamera = camera; }
    float getRenderWidth() const { return mRenderWidth; }
    float getRenderHeight() const { return mRenderHeight; }
    void setRenderSize(float width, float height) {
        mRenderWidth = width;
        mRenderHeight = height;
    }

    size_t elementCount() const { return mElements.size(); }
    size_t sceneCount() const { return mScenes.size(); }
    size_t cameraCount() const { return mCameras.size(); }
    size_t lightCount() const { return mLights.size(); }
    size_t bendDeformerCount() const { return mBendDeformers.size(); }

private:
    SceneManager() = default;
    ~SceneManager();
    // The requested name when it is free; else refused, or the first free "<name>_<n>".
    std::string uniqueName(const std::string& requested, const std::function<bool(const std::string&)>& taken,
                           long renameIfTaken, uint32_t& counter, bool& refused) const;
    template <typename M>
    static std::function<bool(const std::string&)> takenIn(const M& map) {
        return [&map](const std::string& n) { return map.count(n) != 0; };
    }

    Camera* mCurrentCamera = nullptr;
    std::map<std::string, Element*> mElements;
    std::map<std::string, Camera*> mCameras;
    std::map<std::string, Scene*> mScenes;
    std::map<std::string, Light*> mLights;
    std::map<std::string, BendDeformer*> mBendDeformers;
    Scene* mRoot3DScene = nullptr;
    Scene* mRoot2DFrontScene = nullptr;
    Scene* mRoot2DBackScene = nullptr;
    RenderQueue* mRenderQueue = nullptr;
    Camera* mCamera2D = nullptr;
    float mRenderWidth = 0.0f;
    float mRenderHeight = 0.0f;
};

}  // namespace Dove

#endif
