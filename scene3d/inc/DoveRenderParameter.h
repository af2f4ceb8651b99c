// Named, typed shader inputs of an effect and the variables that hold their values.
#ifndef DOVE_RENDERPARAMETER_H
#define DOVE_RENDERPARAMETER_H

#include <string>

#include "DoveMath.h"
#include "DoveObject.h"

namespace Dove {

class Texture;
class SamplerState;
class RenderEffect;

// The value types, numbered as shader uploads expect them.
enum RenderDataType {
    RDT_BOOL = 0,
    RDT_INT1, RDT_INT2, RDT_INT3, RDT_INT4,
    RDT_UINT1, RDT_UINT2, RDT_UINT3, RDT_UINT4,
    RDT_FLOAT1, RDT_FLOAT2,
    RDT_VECTOR3, RDT_VECTOR4,
    RDT_MATRIX3, RDT_MATRIX4,
    RDT_TEXTURE, RDT_SAMPLER,
};

using Int1 = Vector_T<int, 1>;
using Int2 = Vector_T<int, 2>;
using Int3 = Vector_T<int, 3>;
using Int4 = Vector_T<int, 4>;
using UInt1 = Vector_T<unsigned int, 1>;
using UInt2 = Vector_T<unsigned int, 2>;
using UInt3 = Vector_T<unsigned int, 3>;
using UInt4 = Vector_T<unsigned int, 4>;
using Float1 = Vector_T<float, 1>;
using Float2 = Vector_T<float, 2>;
using TexturePtr = Texture*;
using SamplerPtr = SamplerState*;

#define DOVE_RENDER_VALUE_TYPES(X)                                                                  \
    X(bool) X(Int1) X(Int2) X(Int3) X(Int4) X(UInt1) X(UInt2) X(UInt3) X(UInt4) X(Float1) X(Float2) \
    X(Vector3) X(Vector4) X(Matrix3) X(Matrix4) X(TexturePtr) X(SamplerPtr)

// Holds one value. The base ignores every assignment and every read, so a value of another type
// than the variable's is silently dropped and a read of another type leaves the target unchanged.
class RenderVariable : public Refcount {
public:
    ~RenderVariable() override = default;
#define DOVE_DECLARE_ASSIGN(T) \
    virtual RenderVariable& operator=(const T&) { return *this; }
    DOVE_RENDER_VALUE_TYPES(DOVE_DECLARE_ASSIGN)
#undef DOVE_DECLARE_ASSIGN
#define DOVE_DECLARE_GET(T) \
    virtual void getValue(T&) const {}
    DOVE_RENDER_VALUE_TYPES(DOVE_DECLARE_GET)
#undef DOVE_DECLARE_GET
};

template <typename T>
class RenderVariableConcrete : public RenderVariable {
public:
    using RenderVariable::operator=;
    using RenderVariable::getValue;
    RenderVariable& operator=(const T& v) override {
        mValue = v;
        return *this;
    }
    void getValue(T& out) const override { out = mValue; }

private:
    T mValue{};
};

class RenderParameter : public Refcount {
public:
    RenderParameter(RenderEffect* effect, const std::string& name, RenderDataType type);
    ~RenderParameter() override;

    RenderEffect* getEffect() const { return mEffect; }
    const std::string& getName() const { return mName; }
    RenderDataType getType() const { return mType; }
    RenderVariable* getVariable() const { return mVariable; }

    // Replaces the variable by a new one of the type holding the value behind the pointer.
    void setParaValue(RenderDataType type, const void* value);

private:
    RenderEffect* mEffect;
    std::string mName;
    RenderVariable* mVariable = nullptr;
    RenderDataType mType;
};

}  // namespace Dove

#endif
