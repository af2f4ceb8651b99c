// A GLSL program: compiles and links a vertex and a fragment shader, binds every active uniform
// to the effect parameter of the same name and loads them all when bound.
#ifndef DOVE_OGLSHADERPROGRAM_H
#define DOVE_OGLSHADERPROGRAM_H

#include <string>
#include <vector>

#include "DoveRenderParameter.h"
#include "DoveShaderProgram.h"

namespace Dove {

// OpenGL shader type of an engine shader type, 0 (invalid) for anything but 0 and 1.
unsigned int getGLShaderType(ShaderType type);

class OGLShaderProgram : public ShaderProgram {
public:
    // One matched uniform: the parameter, its location, and for textures the unit it is bound to.
    struct ParameterBindInfo_tag {
        RenderParameter* parameter = nullptr;
        int location = -1;
        int textureUnit = 0;
    };

    // The attribute name of each vertex element usage.
    static const char* const s_AttribNames[3];

    explicit OGLShaderProgram(const std::string& name);
    ~OGLShaderProgram() override;

    bool attachShader(ShaderType type, const std::string& source) override;
    bool linkShader() override;
    void bind() override;
    void unbind() override;
    int getAttribLocation(VertexElementUsage usage) override;
    virtual bool linkGLSL();

    uint32_t getProgramName() const { return mProgram; }
    const std::vector<ParameterBindInfo_tag>& getBindings() const { return mBindings; }
    // The texture unit of a sampler uniform: the base texture and the plain texture take unit 0,
    // every other sampler unit 1.
    static int textureUnitFor(const std::string& uniformName);

private:
    void loadBinding(const ParameterBindInfo_tag& binding);

    int mAttribLocations[3] = {-1, -1, -1};
    std::string mAttribNames[3];
    uint32_t mShaders[2] = {0, 0};
    uint32_t mProgram = 0;
    std::vector<ParameterBindInfo_tag> mBindings;
};

}  // namespace Dove

#endif
