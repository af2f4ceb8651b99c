#include "DoveRenderParameter.h"

#include "DoveRenderFactory.h"

namespace Dove {

RenderParameter::RenderParameter(RenderEffect* effect, const std::string& name, RenderDataType type)
    : mEffect(effect), mName(name), mType(type) {
    mVariable = RenderFactory::createRenderVariable(type);
}

// The parameter owns its variable to the end.
RenderParameter::~RenderParameter() {
    if (mVariable) RenderFactory::releaseRenderVariable(mVariable);
}

template <typename T>
static RenderVariable* makeHolding(const void* value) {
    auto* v = new RenderVariableConcrete<T>();
    v->addRef();
    *v = *static_cast<const T*>(value);
    return v;
}

void RenderParameter::setParaValue(RenderDataType type, const void* value) {
    if (!value) return;
    RenderVariable* v = nullptr;
    switch (type) {
        case RDT_BOOL: v = makeHolding<bool>(value); break;
        case RDT_INT1: v = makeHolding<Vector_T<int, 1>>(value); break;
        case RDT_INT2: v = makeHolding<Vector_T<int, 2>>(value); break;
        case RDT_INT3: v = makeHolding<Vector_T<int, 3>>(value); break;
        case RDT_INT4: v = makeHolding<Vector_T<int, 4>>(value); break;
        case RDT_UINT1: v = makeHolding<Vector_T<unsigned int, 1>>(value); break;
        case RDT_UINT2: v = makeHolding<Vector_T<unsigned int, 2>>(value); break;
        case RDT_UINT3: v = makeHolding<Vector_T<unsigned int, 3>>(value); break;
        case RDT_UINT4: v = makeHolding<Vector_T<unsigned int, 4>>(value); break;
        case RDT_FLOAT1: v = makeHolding<Vector_T<float, 1>>(value); break;
        case RDT_FLOAT2: v = makeHolding<Vector_T<float, 2>>(value); break;
        case RDT_VECTOR3: v = makeHolding<Vector3>(value); break;
        case RDT_VECTOR4: v = makeHolding<Vector4>(value); break;
        case RDT_MATRIX3: v = makeHolding<Matrix3>(value); break;
        case RDT_MATRIX4: v = makeHolding<Matrix4>(value); break;
        case RDT_TEXTURE: v = makeHolding<Texture*>(value); break;
        case RDT_SAMPLER: v = makeHolding<SamplerState*>(value); break;
    }
    if (!v) return;
    if (mVariable) RenderFactory::releaseRenderVariable(mVariable);
    mVariable = v;
    mType = type;
}

}  // namespace Dove
