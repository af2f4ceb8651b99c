#include "DoveSceneManager.h"

#include "DoveBendDeformer.h"
#include "DoveCamera.h"
#include "DoveElement.h"
#include "DoveLight.h"
#include "DoveRenderEngine.h"
#include "DoveRenderQueue.h"
#include "DoveResManager.h"
#include "DoveViewport.h"

namespace Dove {

namespace {
SceneManager* gSceneManager = nullptr;
}

SceneManager* SceneManager::getSingleton() {
    if (!gSceneManager) gSceneManager = new SceneManager();
    return gSceneManager;
}

SceneManager* SceneManager::peekSingleton() { return gSceneManager; }

void SceneManager::releaseSingleton() {
    delete gSceneManager;
    gSceneManager = nullptr;
}

// Takes a scene out of its parent's children before it is destroyed, so that no parent keeps a
// dangling child.
static void detachFromParent(Scene* s) {
    if (Node* parent = s->getParent()) parent->detachChild(s);
}

SceneManager::~SceneManager() {
    // Roots first, then the registered scenes: their destructors hand elements and child scenes
    // back to this manager, which stays reachable while they run.
    for (Scene* root : {mRoot3DScene, mRoot2DFrontScene, mRoot2DBackScene}) delete root;
    mRoot3DScene = mRoot2DFrontScene = mRoot2DBackScene = nullptr;
    while (!mScenes.empty()) {
        auto it = mScenes.begin();
        Scene* scene = it->second;
        mScenes.erase(it);
        detachFromParent(scene);
        delete scene;
    }
    for (auto& [name, e] : mElements) delete e;
    mElements.clear();
    for (auto& [name, c] : mCameras) delete c;
    mCameras.clear();
    // Lights and deformers have no other owner once the manager goes; free them rather than leak.
    for (auto& [name, l] : mLights) delete l;
    mLights.clear();
    for (auto& [name, d] : mBendDeformers) delete d;
    mBendDeformers.clear();
    delete mCamera2D;
    delete mRenderQueue;
    gSceneManager = nullptr;
}

void SceneManager::init(unsigned int width, unsigned int height) {
    mRenderWidth = float(width);
    mRenderHeight = float(height);
    Camera* camera = create2DCamera(width, height);
    camera->setRenderSize(float(width), float(height));
    if (mCurrentCamera == mCamera2D) mCurrentCamera = nullptr;
    delete mCamera2D;
    mCamera2D = camera;
    delete mRenderQueue;
    mRenderQueue = new RenderQueue();
}

Camera* SceneManager::create2DCamera(unsigned int width, unsigned int height) {
    Camera* camera = new Camera(std::string());
    camera->setCameraType(0);
    camera->setRenderSize(float(width), float(height));
    camera->setNear(0.01f);
    camera->setFar(1000.0f);
    camera->setPosition(Vector3(0, 0, 1));
    camera->setLookAt(Vector3(0, 0, 0));
    return camera;
}

std::string SceneManager::uniqueName(const std::string& requested, const std::function<bool(const std::string&)>& taken,
                                     long renameIfTaken, uint32_t& counter, bool& refused) const {
    refused = false;
    if (requested.empty() || !taken(requested)) return requested;
    if (!renameIfTaken) {
        refused = true;
        return {};
    }
    // A file may already hold "G_4" when the second "G" asks for a name: step on until the name
    // is free, so that no live entry is ever replaced.
    std::string n;
    do {
        ++counter;
        n = requested + "_" + std::to_string(counter);
    } while (taken(n));
    return n;
}

namespace {
// Makes an object under `name`; an empty name lets the object generate one, which may belong to
// a live entry already (a file can name anything "Element_7"), so a taken one is generated again.
template <typename T, typename M, typename Make>
T* makeUnclaimed(const M& map, const std::string& name, Make make) {
    T* object = make(name);
    for (int attempt = 0; name.empty() && map.count(object->getName()) != 0; ++attempt) {
        delete object;
        if (attempt == 1000) return nullptr;
        object = make(name);
    }
    return object;
}
}  // namespace

Element* SceneManager::createElement(const std::string& name, long renameIfTaken) {
    bool refused = false;
    std::string n = uniqueName(name, takenIn(mElements), renameIfTaken, Object::nameIndex(), refused);
    if (refused) return nullptr;
    Element* e = makeUnclaimed<Element>(mElements, n, [](const std::string& s) { return new Element(s); });
    if (!e) return nullptr;
    e->setOriginalName(name);
    mElements[e->getName()] = e;
    e->addRef();
    return e;
}

Camera* SceneManager::createCamera(const std::string& name, long renameIfTaken) {
    bool refused = false;
    std::string n = uniqueName(name, takenIn(mCameras), renameIfTaken, Object::nameIndex(), refused);
    if (refused) return nullptr;
    Camera* c = makeUnclaimed<Camera>(mCameras, n, [](const std::string& s) { return new Camera(s); });
    if (!c) return nullptr;
    c->setRenderSize(mRenderWidth, mRenderHeight);
    // An entry of that name is kept; the camera then belongs to its caller alone.
    mCameras.emplace(c->getName(), c);
    c->addRef();
    return c;
}

Light* SceneManager::createLight(Light_Type type, const std::string& name, long renameIfTaken) {
    bool refused = false;
    std::string n = uniqueName(name, takenIn(mLights), renameIfTaken, Object::nameIndex(), refused);
    if (refused) return nullptr;
    Light* l = makeUnclaimed<Light>(mLights, n, [](const std::string& s) { return new Light(s); });
    if (!l) return nullptr;
    l->setType(type);
    l->setOriginalName(name);
    mLights[l->getName()] = l;
    l->addRef();
    return l;
}

BendDeformer* SceneManager::createBendDeformer(const std::string& name, long renameIfTaken) {
    bool refused = false;
    std::string n = uniqueName(name, takenIn(mBendDeformers), renameIfTaken, Object::nameIndex(), refused);
    if (refused) return nullptr;
    BendDeformer* d =
        makeUnclaimed<BendDeformer>(mBendDeformers, n, [](const std::string& s) { return new BendDeformer(s); });
    if (!d) return nullptr;
    d->setOriginalName(name);
    mBendDeformers[d->getName()] = d;
    d->addRef();
    return d;
}

Scene* SceneManager::createScene(const std::string& name, long renameIfTaken) {
    bool refused = false;
    std::string n = uniqueName(name, takenIn(mScenes), renameIfTaken, Node::nameIndex(), refused);
    if (refused) return nullptr;
    Scene* s = makeUnclaimed<Scene>(mScenes, n, [](const std::string& r) { return new Scene(r); });
    if (!s) return nullptr;
    s->setRequestedName(name);
    mScenes[s->getName()] = s;
    s->addRef();
    return s;
}

template <typename M>
static typename M::mapped_type lookup(const M& map, const std::string& name) {
    auto it = map.find(name);
    return it == map.end() ? nullptr : it->second;
}

Element* SceneManager::getElementByName(const std::string& name) const { return lookup(mElements, name); }
Camera* SceneManager::getCameraByName(const std::string& name) const { return lookup(mCameras, name); }
Light* SceneManager::getLightByName(const std::string& name) const { return lookup(mLights, name); }
BendDeformer* SceneManager::getBendDeformerByName(const std::string& name) const {
    return lookup(mBendDeformers, name);
}
Scene* SceneManager::getSceneByName(const std::string& name) const { return lookup(mScenes, name); }

template <typename M>
static void releaseFrom(M& map, const std::string& name) {
    auto it = map.find(name);
    if (it == map.end()) return;
    auto* object = it->second;
    object->release();
    if (object->getRef() != 0) return;
    map.erase(it);
    delete object;
}

void SceneManager::releaseElementByName(const std::string& name) { releaseFrom(mElements, name); }
void SceneManager::releaseCameraByName(const std::string& name) {
    auto it = mCameras.find(name);
    if (it != mCameras.end() && it->second == mCurrentCamera && it->second->getRef() <= 1)
        mCurrentCamera = nullptr;
    releaseFrom(mCameras, name);
}
void SceneManager::releaseLightByName(const std::string& name) { releaseFrom(mLights, name); }

void SceneManager::releaseBendDeformerByName(const std::string& name) {
    auto it = mBendDeformers.find(name);
    if (it == mBendDeformers.end()) return;
    BendDeformer* d = it->second;
    d->release();
    // A deformer is destroyed by its release whatever count remains: the scene's list must not
    // keep pointing at it.
    if (Node* parent = d->getParentNode()) static_cast<Scene*>(parent)->detachBendDeformer(d);
    mBendDeformers.erase(it);
    delete d;
}

void SceneManager::releaseSceneByName(const std::string& name) {
    auto it = mScenes.find(name);
    if (it == mScenes.end()) return;
    Scene* s = it->second;
    s->release();
    if (s->getRef() != 0) return;
    s->removeAllElement();
    s->removeAllChild();
    // The removals above may have changed the map; look the entry up again.
    it = mScenes.find(name);
    if (it != mScenes.end() && it->second == s) mScenes.erase(it);
    detachFromParent(s);
    delete s;
}

Scene* SceneManager::getRoot3DScene() {
    if (!mRoot3DScene) mRoot3DScene = new Scene("Root3DScene");
    return mRoot3DScene;
}

Scene* SceneManager::getRoot2DFrontScene() {
    if (!mRoot2DFrontScene) mRoot2DFrontScene = new Scene("Root2DFrontScene");
    return mRoot2DFrontScene;
}

Scene* SceneManager::getRoot2DBackScene() {
    if (!mRoot2DBackScene) mRoot2DBackScene = new Scene("Root2DBackScene");
    return mRoot2DBackScene;
}

void SceneManager::clearRenderQueue() {
    if (mRenderQueue) mRenderQueue->clear();
}

void SceneManager::insert3DSceneIntoRenderQueue() {
    if (mRoot3DScene && mRenderQueue) mRoot3DScene->addIntoRenderQueue(mRenderQueue, 0);
}

void SceneManager::insertFront2DSceneIntoRenderQueue() {
    if (mRoot2DFrontScene && mRenderQueue) mRoot2DFrontScene->addIntoRenderQueue(mRenderQueue, 1);
}

void SceneManager::insertBack2DSceneIntoRenderQueue() {
    if (mRoot2DBackScene && mRenderQueue) mRoot2DBackScene->addIntoRenderQueue(mRenderQueue, 2);
}

void SceneManager::render3DScene() {
    if (mRenderQueue) mRenderQueue->render3DScene();
}

void SceneManager::renderFront2DScene() {
    if (mRenderQueue) mRenderQueue->renderFront2DScene();
}

void SceneManager::renderBack2DScene() {
    if (mRenderQueue) mRenderQueue->renderBack2DScene();
}

void SceneManager::update() { ResManager::getSingleton()->updateAllAnimations(); }

void SceneManager::activeViewport(Viewport* viewport) {
    if (!viewport) return;
    RenderEngine::getSingleton()->doViewport(viewport);
    mCurrentCamera = viewport->getCamera();
}

}  // namespace Dove
