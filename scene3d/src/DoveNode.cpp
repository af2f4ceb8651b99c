#include "DoveNode.h"

#include "DoveContext.h"

namespace Dove {

uint32_t& Node::nameIndex() { return Context::names().node; }

Node::Node() { mName = makeGeneratedName("Node_", nameIndex()); }

void Node::setOrientation(const Quaternion& q) {
    mOrientation = q;
    mOrientation.normalise();
    needUpdate();
}

void Node::translate(const Vector3& v) {
    mPosition += v;
    needUpdate();
}

void Node::rotate(AxisType axis, const Radian& angle) {
    Quaternion q;
    q.fromAngleAxis(angle, axis == 0 ? Vector3::UNIT_X : axis == 1 ? Vector3::UNIT_Y : Vector3::UNIT_Z);
    rotate(q);
}

void Node::rotate(const Quaternion& q) {
    // The new turn comes after the current orientation, about the parent's axes.
    Quaternion n = q;
    n.normalise();
    mOrientation = n * mOrientation;
    needUpdate();
}

void Node::rotate(const Vector3& angles) {
    rotate(0, Radian(angles.x));
    rotate(1, Radian(angles.y));
    rotate(2, Radian(angles.z));
}

void Node::scale(const Vector3& v) {
    mScale = mScale * v;
    needUpdate();
}

Node* Node::createChild(const std::string& name, const Vector3& position, const Quaternion& orientation) {
    (void)name;  // children always receive a generated name
    Node* child = createChildImpl();
    if (!child) return nullptr;
    child->translate(position);
    child->rotate(orientation);
    addChild(child);
    return child;
}

void Node::addChild(Node* child) {
    if (!child || child->mParent) return;
    mChildren.emplace(child->getName(), child);  // an entry of that name is kept
    child->addRef();
    child->mParent = this;
}

void Node::detachChild(Node* child) {
    if (!child) return;
    auto it = mChildren.find(child->getName());
    if (it != mChildren.end() && it->second == child) mChildren.erase(it);
    if (child->mParent == this) child->mParent = nullptr;
}

void Node::updateFromParent() {
    if (!mParent) {
        mDerivedOrientation = mOrientation;
        mDerivedPosition = mPosition;
        mDerivedScale = mScale;
    } else {
        if (mParent->mNeedParentUpdate) mParent->updateFromParent();
        mDerivedOrientation = mParent->mDerivedOrientation * mOrientation;
        mDerivedScale = mParent->mDerivedScale * mScale;
        mDerivedPosition = mParent->mDerivedOrientation * (mParent->mDerivedScale * mPosition) +
                           mParent->mDerivedPosition;
    }
    mNeedParentUpdate = 0;
}

const Vector3& Node::getDerivedPosition() {
    if (mNeedParentUpdate) updateFromParent();
    return mDerivedPosition;
}

const Quaternion& Node::getDerivedOrientation() {
    if (mNeedParentUpdate) updateFromParent();
    return mDerivedOrientation;
}

const Vector3& Node::getDerivedScale() {
    if (mNeedParentUpdate) updateFromParent();
    return mDerivedScale;
}

const Matrix4& Node::getModelMatrix() {
    if (mNeedMatrixUpdate) {
        if (mNeedParentUpdate) updateFromParent();
        mModelMatrix.makeTransform(mDerivedPosition, mDerivedScale, mDerivedOrientation);
        mNeedMatrixUpdate = 0;
    }
    return mModelMatrix;
}

void Node::setInitialState() {
    mInitialPosition = mPosition;
    mInitialOrientation = mOrientation;
    mInitialScale = mScale;
}

void Node::resetToInitialState() {
    mPosition = mInitialPosition;
    mOrientation = mInitialOrientation;
    mScale = mInitialScale;
    needUpdate();
}

}  // namespace Dove
