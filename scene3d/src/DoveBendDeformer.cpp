#include "DoveBendDeformer.h"

#include "DoveContext.h"

namespace Dove {

uint32_t& BendDeformer::nameIndex() { return Context::names().bendDeformer; }

BendDeformer::BendDeformer(const std::string& name) {
    setOriginalName(name);
    mName = name.empty() ? makeGeneratedName("BendDeformer_", nameIndex()) : name;
}

}  // namespace Dove
