#include "DoveObject.h"

namespace Dove {

uint32_t Object::mNameIndex = 0;

std::string makeGeneratedName(const char* prefix, uint32_t& counter) {
    ++counter;
    return std::string(prefix) + std::to_string(counter);
}

}  // namespace Dove
