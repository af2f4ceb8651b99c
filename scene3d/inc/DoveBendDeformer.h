// Small value holders of a scene: the bend deformer's parameters and the axis-aligned box.
#ifndef DOVE_BENDDEFORMER_H
#define DOVE_BENDDEFORMER_H

#include "DoveMath.h"
#include "DoveObject.h"

namespace Dove {

class BendDeformer : public Object {
public:
    // The empty name gives "BendDeformer_" and the next value of the deformers' own counter.
    explicit BendDeformer(const std::string& name = std::string());

    float params[4] = {0, 0, 0, 0};

    static uint32_t& nameIndex();  // the context's counter for generated names
};

class AABBox {
public:
    AABBox() : mMin(3.4e38f, 3.4e38f, 3.4e38f), mMax(0, 0, 0) {}
    AABBox(const Vector3& min, const Vector3& max) : mMin(min), mMax(max) {}
    Vector3 getCenter() const {
        return {(mMin.x + mMax.x) * 0.5f, (mMin.y + mMax.y) * 0.5f, (mMin.z + mMax.z) * 0.5f};
    }
    const Vector3& getMin() const { return mMin; }
    const Vector3& getMax() const { return mMax; }

private:
    Vector3 mMin, mMax;
};

}  // namespace Dove

#endif
