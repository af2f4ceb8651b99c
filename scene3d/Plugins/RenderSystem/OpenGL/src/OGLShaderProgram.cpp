#include "DoveOGLShaderProgram.h"

#include <vector>

#include "DoveOGLRenderEngine.h"
#include "DoveRenderEffect.h"
#include "DoveTexture.h"
#include "OGLCommon.h"

namespace Dove {

const char* const OGLShaderProgram::s_AttribNames[3] = {"a_position", "a_normal", "a_texCoord"};

unsigned int getGLShaderType(ShaderType type) {
    switch (type) {
        case 0: return GL_VERTEX_SHADER;
        case 1: return GL_FRAGMENT_SHADER;
        default: return 0;
    }
}

int OGLShaderProgram::textureUnitFor(const std::string& uniformName) {
    return uniformName == "s_baseTexture" || uniformName == "s_texture" ? 0 : 1;
}

OGLShaderProgram::OGLShaderProgram(const std::string& name) : ShaderProgram(name) {
    for (int i = 0; i < 3; ++i) mAttribNames[i] = s_AttribNames[i];
}

OGLShaderProgram::~OGLShaderProgram() {
    if (!glReady()) return;
    if (mProgram) glDeleteProgram(mProgram);
    // The shader objects too: a program keeps them alive only while it exists.
    for (uint32_t s : mShaders)
        if (s) glDeleteShader(s);
    drainGLErrors();
}

bool OGLShaderProgram::attachShader(ShaderType type, const std::string& source) {
    const GLenum glType = getGLShaderType(type);
    if (glType == 0 || !glReady()) return false;
    const GLuint shader = glCreateShader(glType);
    drainGLErrors();
    if (shader == 0) return false;
    const GLchar* text = source.c_str();
    glShaderSource(shader, 1, &text, nullptr);
    glCompileShader(shader);
    GLint status = GL_FALSE;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &status);
    drainGLErrors();
    if (status != GL_TRUE) {
        // The log is read and dropped: a shader that does not compile is an ordinary failure.
        GLchar log[256];
        GLsizei length = 0;
        glGetShaderInfoLog(shader, sizeof log, &length, log);
        glDeleteShader(shader);
        drainGLErrors();
        return false;
    }
    if (mShaders[type]) glDeleteShader(mShaders[type]);  // a replaced shader is not kept alive
    mShaders[type] = shader;
    mCompiled[type] = 1;
    return true;
}

bool OGLShaderProgram::linkGLSL() {
    if (!glReady()) return false;
    if (mProgram) {
        glDeleteProgram(mProgram);
        mProgram = 0;
    }
    mLinked = 0;
    mBindings.clear();
    const GLuint program = glCreateProgram();
    drainGLErrors();
    if (program == 0) return false;
    for (uint32_t s : mShaders)
        if (s) glAttachShader(program, s);
    glLinkProgram(program);
    GLint status = GL_FALSE;
    glGetProgramiv(program, GL_LINK_STATUS, &status);
    drainGLErrors();
    if (status != GL_TRUE) {
        GLchar log[256];
        GLsizei length = 0;
        glGetProgramInfoLog(program, sizeof log, &length, log);
        glDeleteProgram(program);
        drainGLErrors();
        return false;
    }
    mProgram = program;
    mLinked = 1;
    for (int i = 0; i < 3; ++i) {
        mAttribNames[i] = s_AttribNames[i];
        mAttribLocations[i] = -1;
    }
    for (int i = 0; i < 3; ++i) getAttribLocation(VertexElementUsage(i));
    return true;
}

bool OGLShaderProgram::linkShader() {
    linkGLSL();
    if (!mLinked || mProgram == 0) return false;
    GLint maxLength = 0, count = 0;
    glGetProgramiv(mProgram, GL_ACTIVE_UNIFORM_MAX_LENGTH, &maxLength);
    glGetProgramiv(mProgram, GL_ACTIVE_UNIFORMS, &count);
    drainGLErrors();
    if (maxLength <= 0) return true;
    std::vector<GLchar> name(size_t(maxLength) + 1);
    for (GLint i = 0; i < count; ++i) {
        GLsizei length = 0;
        GLint size = 0;
        GLenum type = 0;
        glGetActiveUniform(mProgram, GLuint(i), maxLength, &length, &size, &type, name.data());
        drainGLErrors();
        if (length <= 0 || length > maxLength) continue;
        const std::string uniform(name.data(), size_t(length));
        const GLint location = glGetUniformLocation(mProgram, uniform.c_str());
        drainGLErrors();
        if (location == -1 || !mEffect) continue;
        RenderParameter* parameter = mEffect->getRenderParameterByName(uniform);
        if (!parameter || parameter->getType() == RDT_SAMPLER) continue;  // samplers load nothing of their own
        ParameterBindInfo_tag binding;
        binding.parameter = parameter;
        binding.location = location;
        binding.textureUnit = parameter->getType() == RDT_TEXTURE ? textureUnitFor(parameter->getName()) : 0;
        mBindings.push_back(binding);
    }
    return true;
}

int OGLShaderProgram::getAttribLocation(VertexElementUsage usage) {
    if (usage < 0 || usage > 2) return -1;
    if (mAttribLocations[usage] != -1) return mAttribLocations[usage];
    if (!mProgram) return -1;
    const GLint location = glGetAttribLocation(mProgram, mAttribNames[usage].c_str());
    drainGLErrors();
    mAttribLocations[usage] = location;
    return location;
}

void OGLShaderProgram::bind() {
    glUseProgram(mProgram);
    drainGLErrors();
    for (const ParameterBindInfo_tag& b : mBindings) loadBinding(b);
}

void OGLShaderProgram::unbind() {
    glUseProgram(0);
    drainGLErrors();
}

void OGLShaderProgram::loadBinding(const ParameterBindInfo_tag& b) {
    OGLRenderEngine* engine = OGLRenderEngine::current();
    RenderVariable* var = b.parameter ? b.parameter->getVariable() : nullptr;
    if (!engine || !var) return;
    const int loc = b.location;
    switch (b.parameter->getType()) {
        case RDT_BOOL: {
            bool v = false;
            var->getValue(v);
            engine->Uniform1i(loc, v ? 1 : 0);
            break;
        }
        case RDT_INT1: {
            Int1 v;
            var->getValue(v);
            engine->Uniform1i(loc, v.v[0]);
            break;
        }
        case RDT_INT2: { Int2 v; var->getValue(v); engine->Uniform2iv(loc, 1, v.v); break; }
        case RDT_INT3: { Int3 v; var->getValue(v); engine->Uniform3iv(loc, 1, v.v); break; }
        case RDT_INT4: { Int4 v; var->getValue(v); engine->Uniform4iv(loc, 1, v.v); break; }
        case RDT_UINT1: {
            UInt1 v;
            var->getValue(v);
            engine->Uniform1ui(loc, v.v[0]);
            break;
        }
        case RDT_UINT2: { UInt2 v; var->getValue(v); engine->Uniform2uiv(loc, 1, v.v); break; }
        case RDT_UINT3: { UInt3 v; var->getValue(v); engine->Uniform3uiv(loc, 1, v.v); break; }
        case RDT_UINT4: { UInt4 v; var->getValue(v); engine->Uniform4uiv(loc, 1, v.v); break; }
        case RDT_FLOAT1: {
            Float1 v;
            var->getValue(v);
            engine->Uniform1f(loc, v.v[0]);
            break;
        }
        case RDT_FLOAT2: { Float2 v; var->getValue(v); engine->Uniform2fv(loc, 1, v.v); break; }
        case RDT_VECTOR3: {
            Vector3 v;
            var->getValue(v);
            const float f[3] = {v.x, v.y, v.z};
            engine->Uniform3fv(loc, 1, f);
            break;
        }
        case RDT_VECTOR4: {
            Vector4 v;
            var->getValue(v);
            const float f[4] = {v.x, v.y, v.z, v.w};
            engine->Uniform4fv(loc, 1, f);
            break;
        }
        case RDT_MATRIX3: {
            Matrix3 m;
            var->getValue(m);
            engine->UniformMatrix3fv(loc, 1, 0, m.m);
            break;
        }
        case RDT_MATRIX4: {
            Matrix4 m;
            var->getValue(m);
            engine->UniformMatrix4fv(loc, 1, 0, m.m);
            break;
        }
        case RDT_TEXTURE: {
            Texture* t = nullptr;
            var->getValue(t);
            engine->activeTexture(GL_TEXTURE0 + unsigned(b.textureUnit));
            glBindTexture(GL_TEXTURE_2D, t ? t->getTextureID() : 0);
            drainGLErrors();
            engine->Uniform1i(loc, b.textureUnit);
            break;
        }
        default: break;
    }
}

}  // namespace Dove
