// A named, typed light record filled by the scene loader. The default effects do no lighting.
#ifndef DOVE_LIGHT_H
#define DOVE_LIGHT_H

#include "DoveMath.h"
#include "DoveObject.h"

namespace Dove {

using Light_Type = int;

class Light : public Object {
public:
    // The empty name gives "Light_" and the next object number; the original name is the one given.
    explicit Light(const std::string& name = std::string());

    Light_Type getType() const { return mType; }
    void setType(Light_Type type) { mType = type; }

    long enabled = 0;
    Vector3 position;
    Vector3 direction;
    Color colors[3];
    float falloff = 0.0f;
    Vector3 attenuation;
    float innerValue = 0.0f;
    float outerValue = 0.0f;

private:
    Light_Type mType = 0;
};

}  // namespace Dove

#endif
