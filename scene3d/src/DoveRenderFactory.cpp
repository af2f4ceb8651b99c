#include "DoveRenderFactory.h"

#include "DoveNullRender.h"

namespace Dove {

namespace {
RenderFactory* gFactory = nullptr;
RenderFactory* makeNull() { return new NullRenderFactory(); }
RenderFactory::Maker gMaker = &makeNull;
}  // namespace

RenderFactory* RenderFactory::getSingleton() {
    if (!gFactory) gFactory = gMaker();
    return gFactory;
}

RenderFactory* RenderFactory::peekSingleton() { return gFactory; }

void RenderFactory::releaseSingleton() {
    delete gFactory;
    gFactory = nullptr;
}

void RenderFactory::setMaker(Maker maker) { gMaker = maker ? maker : &makeNull; }

RenderParameter* RenderFactory::createRenderParameter(RenderEffect* effect, const std::string& name,
                                                      RenderDataType type) {
    auto* p = new RenderParameter(effect, name, type);
    p->addRef();
    return p;
}

RenderVariable* RenderFactory::createRenderVariable(int type) {
    RenderVariable* v = nullptr;
    switch (type) {
        case RDT_BOOL: v = new RenderVariableConcrete<bool>(); break;
        case RDT_INT1: v = new RenderVariableConcrete<Vector_T<int, 1>>(); break;
        case RDT_INT2: v = new RenderVariableConcrete<Vector_T<int, 2>>(); break;
        case RDT_INT3: v = new RenderVariableConcrete<Vector_T<int, 3>>(); break;
        case RDT_INT4: v = new RenderVariableConcrete<Vector_T<int, 4>>(); break;
        case RDT_UINT1: v = new RenderVariableConcrete<Vector_T<unsigned int, 1>>(); break;
        case RDT_UINT2: v = new RenderVariableConcrete<Vector_T<unsigned int, 2>>(); break;
        case RDT_UINT3: v = new RenderVariableConcrete<Vector_T<unsigned int, 3>>(); break;
        case RDT_UINT4: v = new RenderVariableConcrete<Vector_T<unsigned int, 4>>(); break;
        case RDT_FLOAT1: v = new RenderVariableConcrete<Vector_T<float, 1>>(); break;
        case RDT_FLOAT2: v = new RenderVariableConcrete<Vector_T<float, 2>>(); break;
        case RDT_VECTOR3: v = new RenderVariableConcrete<Vector3>(); break;
        case RDT_VECTOR4: v = new RenderVariableConcrete<Vector4>(); break;
        case RDT_MATRIX3: v = new RenderVariableConcrete<Matrix3>(); break;
        case RDT_MATRIX4: v = new RenderVariableConcrete<Matrix4>(); break;
        case RDT_TEXTURE: v = new RenderVariableConcrete<Texture*>(); break;
        case RDT_SAMPLER: v = new RenderVariableConcrete<SamplerState*>(); break;
        default: return nullptr;
    }
    v->addRef();
    return v;
}

void RenderFactory::releaseRenderParameter(RenderParameter* parameter) {
    if (!parameter) return;
    if (parameter->release() == 0) delete parameter;
}

uint32_t RenderFactory::releaseRenderVariable(RenderVariable* variable) {
    if (!variable) return 0;
    uint32_t n = variable->release();
    if (n == 0) delete variable;
    return n;
}

}  // namespace Dove
