#include "DoveLight.h"

namespace Dove {

Light::Light(const std::string& name) {
    nameObject(name, "Light_");
    mOriginalName = name;
}

}  // namespace Dove
