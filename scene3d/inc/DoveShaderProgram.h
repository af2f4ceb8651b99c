// A vertex and a fragment shader linked into one program; after linking the backend matches every
// active uniform to the effect parameter of the same name.
#ifndef DOVE_SHADERPROGRAM_H
#define DOVE_SHADERPROGRAM_H

#include <string>

#include "DoveGraphicsBuffer.h"
#include "DoveObject.h"

namespace Dove {

class RenderEffect;

// 0 vertex shader, 1 fragment shader.
using ShaderType = int;

class ShaderProgram : public Refcount {
public:
    explicit ShaderProgram(const std::string& name);
    ~ShaderProgram() override = default;

    virtual bool attachShader(ShaderType type, const std::string& source) = 0;
    virtual bool linkShader() = 0;
    virtual void bind() = 0;
    virtual void unbind() = 0;
    // The attribute location of a vertex element usage, -1 when the program has none.
    virtual int getAttribLocation(VertexElementUsage usage) = 0;

    const std::string& getName() const { return mName; }
    RenderEffect* getEffect() const { return mEffect; }
    void setEffect(RenderEffect* effect) { mEffect = effect; }
    long isShaderValidate(ShaderType type) const { return type == 0 || type == 1 ? mCompiled[type] : 0; }
    long isValidate() const { return mLinked; }

    static uint32_t& nameIndex();  // the context's counter for generated names

protected:
    RenderEffect* mEffect = nullptr;
    long mCompiled[2] = {0, 0};
    long mLinked = 0;
    std::string mName;
};

// The engine's GLSL sources, shared by every backend that compiles GLSL.
extern const char* const kTransformVertexShader;
extern const char* const kMaskedTextureFragmentShader;
extern const char* const kPassThroughVertexShader;
extern const char* const kCopyFragmentShader;
extern const char* const kRotateFragmentShader;
extern const char* const kCropFragmentShader;

}  // namespace Dove

#endif
