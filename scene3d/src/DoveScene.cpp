#include "DoveScene.h"

#include <algorithm>

#include "DoveBendDeformer.h"
#include "DoveCamera.h"
#include "DoveElement.h"
#include "DoveLight.h"
#include "DoveRenderQueue.h"
#include "DoveSceneManager.h"

namespace Dove {

Scene::Scene(const std::string& name) {
    mRequestedName = name;
    mName = name.empty() ? makeGeneratedName("Scene_", Node::nameIndex()) : name;
}

Scene::~Scene() {
    SceneManager* sm = SceneManager::peekSingleton();
    // Child scenes belong to the manager's registry; hand back our reference to each.
    std::vector<std::string> children;
    for (auto& [name, node] : mChildren) {
        node->setParent(nullptr);  // a child that survives must not point at a dead scene
        children.push_back(name);
    }
    mChildren.clear();
    for (auto& name : children)
        if (sm) sm->releaseSceneByName(name);
    std::vector<Element*> elements;
    elements.swap(mElements);
    for (Element* e : elements) {
        e->setParentNode(nullptr);
        e->release();
        if (e->getRef() == 0 && sm) sm->releaseElementByName(e->getName());
    }
    mLights.clear();
    mCameras.clear();
    mBendDeformers.clear();
}

template <typename T>
static void addTo(std::vector<T*>& list, T* object, Node* owner) {
    if (!object) return;
    list.push_back(object);
    object->setParentNode(owner);
    object->addRef();
}

template <typename T>
static bool removeFrom(std::vector<T*>& list, T* object) {
    if (!object) return false;
    auto it = std::remove(list.begin(), list.end(), object);
    bool found = it != list.end();
    list.erase(it, list.end());
    object->setParentNode(nullptr);
    return found;
}

void Scene::addElement(Element* element) { addTo(mElements, element, this); }
void Scene::addLight(Light* light) { addTo(mLights, light, this); }
void Scene::addCamera(Camera* camera) { addTo(mCameras, camera, this); }
void Scene::addBendDeformer(BendDeformer* deformer) { addTo(mBendDeformers, deformer, this); }

// The manager releases by name; the name is copied first because the release may destroy the
// object that holds it.
void Scene::removeElement(Element* element) {
    if (!element) return;
    removeFrom(mElements, element);
    std::string name = element->getName();
    SceneManager::getSingleton()->releaseElementByName(name);
}

void Scene::removeLight(Light* light) {
    if (!light) return;
    removeFrom(mLights, light);
    std::string name = light->getName();
    SceneManager::getSingleton()->releaseLightByName(name);
}

void Scene::removeCamera(Camera* camera) {
    if (!camera) return;
    removeFrom(mCameras, camera);
    std::string name = camera->getName();
    SceneManager::getSingleton()->releaseCameraByName(name);
}

void Scene::removeBendDeformer(BendDeformer* deformer) {
    if (!deformer) return;
    removeFrom(mBendDeformers, deformer);
    std::string name = deformer->getName();
    SceneManager::getSingleton()->releaseBendDeformerByName(name);
}

void Scene::detachBendDeformer(BendDeformer* deformer) { std::erase(mBendDeformers, deformer); }

void Scene::removeAllElement() {
    std::vector<Element*> elements;
    elements.swap(mElements);
    SceneManager* sm = SceneManager::getSingleton();
    for (Element* e : elements) {
        e->setParentNode(nullptr);
        std::string name = e->getName();
        sm->releaseElementByName(name);
    }
}

Node* Scene::createChildImpl() { return SceneManager::getSingleton()->createScene(std::string(), 1); }

Node* Scene::createChildImpl(const std::string& name) { return SceneManager::getSingleton()->createScene(name, 1); }

void Scene::removeChild(Node* child) {
    if (!child) return;
    auto it = mChildren.find(child->getName());
    if (it == mChildren.end()) return;
    std::string name = it->first;
    mChildren.erase(it);
    child->setParent(nullptr);
    SceneManager::getSingleton()->releaseSceneByName(name);
}

void Scene::removeAllChild() {
    std::vector<std::string> names;
    for (auto& [name, node] : mChildren) {
        node->setParent(nullptr);
        names.push_back(name);
    }
    mChildren.clear();
    SceneManager* sm = SceneManager::getSingleton();
    for (auto& name : names) sm->releaseSceneByName(name);
}

void Scene::addIntoRenderQueue(RenderQueue* queue, RenderQueueGroup group) {
    if (!queue) return;
    for (Element* e : mElements)
        if (e->getVisible()) queue->addElement(e, group);
    for (auto& [name, node] : mChildren) static_cast<Scene*>(node)->addIntoRenderQueue(queue, group);
}

}  // namespace Dove
