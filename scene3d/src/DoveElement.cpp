#include "DoveElement.h"

#include "DoveCamera.h"
#include "DoveMesh.h"
#include "DoveNode.h"
#include "DoveSceneManager.h"

namespace Dove {

Element::Element(const std::string& name) { nameObject(name, "Element_"); }

Element::~Element() {
    if (mMesh && mMesh->release() == 0) delete mMesh;
    mMesh = nullptr;
}

void Element::bindTexture(Texture* texture, TextureUsage usage) {
    if (!mMesh) return;
    mMesh->setTexture(texture, usage);  // also evaluates the transparency again
}

Texture* Element::getTexture(TextureUsage usage) const { return mMesh ? mMesh->getTexture(usage) : nullptr; }

Mesh* Element::createMesh() {
    if (mMesh && mMesh->release() == 0) delete mMesh;
    mMesh = new Mesh(std::string());
    mMesh->addRef();
    return mMesh;
}

void Element::setRect(const Rect& rect) {
    mRect = rect;
    updateOffsetPosition();
}

void Element::updateOffsetPosition() {
    mOffsetX = (mRect.left + mRect.right) / 2.0f;
    mOffsetY = (mRect.top + mRect.bottom) / 2.0f;
}

Matrix4 Element::getModelMatrix() {
    Matrix4 base = mParentNode ? mParentNode->getModelMatrix() : Matrix4::IDENTITY;
    if (mIs3D) return base.multiply(mTransform.getTransformMatrix());
    // 2D: the pixel rectangle's centre moves to a space whose origin is the middle of the view and
    // whose y axis points up, the space of the orthographic 2D camera.
    SceneManager* sm = SceneManager::getSingleton();
    Matrix4 t;
    t.setTrans(Vector3(mOffsetX - sm->getRenderWidth() * 0.5f, -(mOffsetY - sm->getRenderHeight() * 0.5f), 0));
    return base.multiply(t);
}

bool Element::isTransparent() { return mMesh ? mMesh->checkIfTransparent() : false; }

Vector3 Element::getCenterPosition() const {
    if (!mMesh) return Vector3::ZERO;
    Vector3 c = mMesh->getBoundingBox().getCenter();
    return {c.x, c.y, 0};
}

float Element::getModelCenterDistanceInProjCoord() {
    if (!mDepthStale) return mDepth;
    Vector3 c = mMesh ? mMesh->getBoundingBox().getCenter() : Vector3::ZERO;
    Matrix4 m = getModelMatrix();
    if (Camera* camera = SceneManager::getSingleton()->getCurrentCamera())
        m = camera->getProjectionMatrix().multiply(camera->getViewMatrix()).multiply(m);
    Vector4 p = m * Vector4(c, 1.0f);
    mDepth = p.w != 0.0f ? p.z / p.w : 3.4e38f;
    mDepthStale = 0;
    return mDepth;
}

void Element::render() {
    if (mMesh) mMesh->render(this);
    mDepthStale = 1;
}

}  // namespace Dove
