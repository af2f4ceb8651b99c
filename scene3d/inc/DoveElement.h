// A drawable thing of a scene: a name, a place (a pivot transform in 3D, a pixel rectangle in 2D)
// and one mesh.
#ifndef DOVE_ELEMENT_H
#define DOVE_ELEMENT_H

#include "DoveMath.h"
#include "DoveObject.h"
#include "DoveRenderable.h"
#include "DoveTransform.h"

namespace Dove {

class Mesh;
class Texture;

class Element : public Object {
public:
    // The empty name gives "Element_" and the next object number.
    explicit Element(const std::string& name = std::string());
    ~Element() override;

    void bindTexture(Texture* texture, TextureUsage usage);
    void unbindTexture(TextureUsage usage) { bindTexture(nullptr, usage); }
    Texture* getTexture(TextureUsage usage) const;
    Mesh* getMesh() const { return mMesh; }
    Mesh* createMesh();

    void setRect(const Rect& rect);
    const Rect& getRect() const { return mRect; }
    void updateOffsetPosition();
    float getOffsetX() const { return mOffsetX; }
    float getOffsetY() const { return mOffsetY; }
    void setIs3D(int is3D) { mIs3D = is3D; }
    int getIs3D() const { return mIs3D; }

    void setTransform(const Transform& t) { mTransform = t; }
    Transform& getTransform() { return mTransform; }
    void setInitialState() { mInitialTransform = mTransform; }
    void resetToInitialState() { mTransform = mInitialTransform; }

    Matrix4 getModelMatrix();
    bool isTransparent();
    Vector3 getCenterPosition() const;
    float getModelCenterDistanceInProjCoord();
    void render();

private:
    int mIs3D = 1;
    Rect mRect;
    float mOffsetX = 0.0f, mOffsetY = 0.0f;
    Transform mTransform;
    Transform mInitialTransform;
    Mesh* mMesh = nullptr;
    float mDepth = 0.0f;
    long mDepthStale = 1;
};

}  // namespace Dove

#endif
