// A node of the transform hierarchy: local position, orientation and scale, and the derived
// (world) values computed from the parent on demand.
#ifndef DOVE_NODE_H
#define DOVE_NODE_H

#include <map>
#include <string>

#include "DoveMath.h"
#include "DoveObject.h"

namespace Dove {

class Node : public Refcount {
public:
    Node();
    ~Node() override = default;

    const std::string& getName() const { return mName; }
    Node* getParent() const { return mParent; }
    void setParent(Node* parent) { mParent = parent; }
    const std::map<std::string, Node*>& getChildren() const { return mChildren; }
    // Forgets a child that is going away (no reference is handed back).
    void detachChild(Node* child);

    void setPosition(const Vector3& p) { mPosition = p; needUpdate(); }
    const Vector3& getPosition() const { return mPosition; }
    void setOrientation(const Quaternion& q);
    const Quaternion& getOrientation() const { return mOrientation; }
    void setScale(const Vector3& s) { mScale = s; needUpdate(); }
    const Vector3& getScale() const { return mScale; }

    virtual void translate(const Vector3& v);
    virtual void rotate(AxisType axis, const Radian& angle);
    virtual void rotate(const Quaternion& q);
    virtual void rotate(const Vector3& angles);
    virtual void scale(const Vector3& v);
    virtual Node* createChild(const std::string& name, const Vector3& position, const Quaternion& orientation);
    virtual Node* createChildImpl() = 0;
    virtual void addChild(Node* child);
    virtual void removeChild(Node* child) = 0;
    virtual void removeAllChild() = 0;

    // Visibility that node animation tracks write; the scene graph itself does not read it.
    long getVisible() const { return mVisible; }
    void setVisible(long visible) { mVisible = visible; }

    void needUpdate() {
        mNeedParentUpdate = 1;
        mNeedMatrixUpdate = 1;
    }
    bool needsParentUpdate() const { return mNeedParentUpdate != 0; }
    bool needsMatrixUpdate() const { return mNeedMatrixUpdate != 0; }

    const Vector3& getDerivedPosition();
    const Quaternion& getDerivedOrientation();
    const Vector3& getDerivedScale();
    const Matrix4& getModelMatrix();

    void setInitialState();
    void resetToInitialState();

    static uint32_t& nameIndex();  // the context's counter for generated names

protected:
    void updateFromParent();

    Node* mParent = nullptr;
    std::map<std::string, Node*> mChildren;
    std::string mName;
    std::string mRequestedName;
    Vector3 mPosition, mDerivedPosition, mInitialPosition;
    Quaternion mOrientation, mDerivedOrientation, mInitialOrientation;
    Vector3 mScale{1, 1, 1}, mDerivedScale{1, 1, 1}, mInitialScale{1, 1, 1};
    Matrix4 mModelMatrix;
    long mNeedParentUpdate = 1;
    long mNeedMatrixUpdate = 1;
    long mVisible = 1;
};

}  // namespace Dove

#endif
