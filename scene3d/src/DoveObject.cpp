#include "DoveObject.h"

#include "DoveContext.h"

namespace Dove {

uint32_t& Object::nameIndex() { return Context::names().object; }

std::string makeGeneratedName(const char* prefix, uint32_t& counter) {
    ++counter;
    return std::string(prefix) + std::to_string(counter);
}

}  // namespace Dove
