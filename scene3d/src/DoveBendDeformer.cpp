#include "DoveBendDeformer.h"

namespace Dove {

uint32_t BendDeformer::mNameIndex = 0;

BendDeformer::BendDeformer(const std::string& name) {
    setOriginalName(name);
    mName = name.empty() ? makeGeneratedName("BendDeformer_", mNameIndex) : name;
}

}  // namespace Dove
