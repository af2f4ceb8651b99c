// Compiling, linking and binding GLSL programs: failures are ordinary results, uniforms are matched
// to effect parameters by name and loaded on bind.
#include <epoxy/gl.h>

#include "DoveOGLRenderEngine.h"
#include "DoveOGLShaderProgram.h"
#include "DoveRenderEffect.h"
#include "GLFixture.h"

using namespace Dove;

class GLShaderTest : public GLEngineTest {
protected:
    OGLShaderProgram* make() {
        return static_cast<OGLShaderProgram*>(RenderFactory::getSingleton()->createShaderProgram(""));
    }
    void drop(ShaderProgram* p) { RenderFactory::getSingleton()->releaseShaderProgram(p); }
};

TEST_F(GLShaderTest, CompileAndLinkFailures_AreResultsNotCrashes) {
    OGLShaderProgram* p = make();
    EXPECT_FALSE(p->attachShader(0, "this is not GLSL"));
    EXPECT_EQ(p->isShaderValidate(0), 0);
    EXPECT_FALSE(p->attachShader(7, kPassThroughVertexShader));
    EXPECT_TRUE(p->attachShader(1, kCopyFragmentShader));
    EXPECT_EQ(p->isShaderValidate(1), 1);
    // The vertex shader's varying has another type than the fragment shader's: the link fails.
    ASSERT_TRUE(p->attachShader(0, "varying vec3 v_texCoord; void main(void) { v_texCoord = vec3(0.0); "
                                   "gl_Position = vec4(0.0); }"));
    RenderEffect effect(nullptr, "");
    effect.addRenderParameter("s_texture", RDT_TEXTURE)->release();
    p->setEffect(&effect);
    EXPECT_FALSE(p->linkShader());
    EXPECT_EQ(p->isValidate(), 0);
    EXPECT_EQ(p->getProgramName(), 0u);
    EXPECT_TRUE(p->getBindings().empty());
    EXPECT_EQ(p->getAttribLocation(VEU_POSITION), -1);
    p->bind();  // binding a program that did not link draws nothing and does not crash
    p->unbind();
    drop(p);
}

TEST_F(GLShaderTest, EngineSources_CompileLinkAndBindTheirUniforms) {
    struct Pair {
        const char* vs;
        const char* fs;
    };
    for (Pair s : {Pair{kTransformVertexShader, kMaskedTextureFragmentShader}, Pair{kPassThroughVertexShader, kCopyFragmentShader},
                   Pair{kPassThroughVertexShader, kRotateFragmentShader}, Pair{kPassThroughVertexShader, kCropFragmentShader}}) {
        OGLShaderProgram* p = make();
        ASSERT_TRUE(p->attachShader(0, s.vs));
        ASSERT_TRUE(p->attachShader(1, s.fs));
        EXPECT_TRUE(p->linkShader());
        EXPECT_EQ(p->isValidate(), 1);
        EXPECT_NE(p->getAttribLocation(VEU_POSITION), -1);
        EXPECT_EQ(p->getAttribLocation(VEU_NORMAL), -1);  // no program of the engine has normals
        EXPECT_TRUE(p->getBindings().empty());            // no effect: nothing to bind
        drop(p);
    }

    RenderEffect effect(nullptr, "");
    for (const char* n : {"s_baseTexture", "s_maskTexture"}) effect.addRenderParameter(n, RDT_TEXTURE)->release();
    effect.addRenderParameter("u_transparency", RDT_FLOAT1)->release();
    effect.addRenderParameter("u_unused", RDT_FLOAT1)->release();
    effect.addRenderParameter("u_model", RDT_MATRIX4)->release();  // a prefix of a uniform name: no match
    OGLShaderProgram* p = make();
    p->setEffect(&effect);
    p->attachShader(0, kTransformVertexShader);
    p->attachShader(1, kMaskedTextureFragmentShader);
    p->linkShader();
    std::map<std::string, int> units;
    for (const auto& b : p->getBindings()) units[b.parameter->getName()] = b.textureUnit;
    EXPECT_EQ(units.size(), 3u);
    EXPECT_EQ(units["s_baseTexture"], 0);
    EXPECT_EQ(units["s_maskTexture"], 1);
    EXPECT_EQ(units.count("u_unused"), 0u);

    // A texture parameter holding nothing binds texture 0 and still loads its unit.
    glActiveTexture(GL_TEXTURE1);
    glBindTexture(GL_TEXTURE_2D, 0);
    p->bind();
    GLint unit = -1;
    glGetUniformiv(p->getProgramName(), glGetUniformLocation(p->getProgramName(), "s_maskTexture"), &unit);
    EXPECT_EQ(unit, 1);
    GLint bound = -1;
    glActiveTexture(GL_TEXTURE1);
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    EXPECT_EQ(bound, 0);
    p->unbind();
    GLint current = -1;
    glGetIntegerv(GL_CURRENT_PROGRAM, &current);
    EXPECT_EQ(current, 0);
    drop(p);
}

TEST_F(GLShaderTest, Bind_LoadsEveryValueTypeFromItsParameter) {
    if (epoxy_gl_version() < 30) GTEST_FAIL() << "the software renderer offers OpenGL " << epoxy_gl_version();
    const char* vs =
        "#version 130\nin vec4 a_position; uniform uvec4 u_u4; uniform ivec3 u_i3; uniform vec2 u_f2; uniform mat4 u_m4; "
        "uniform mat3 u_m3; uniform bool u_b; out vec4 v; void main(void) { v = vec4(u_u4) + vec4(u_i3, 1.0) + "
        "vec4(u_f2, 0.0, 0.0) + u_m4[1] + vec4(u_m3[2], 0.0) + (u_b ? vec4(1.0) : vec4(0.0)); gl_Position = a_position; }";
    const char* fs = "#version 130\nin vec4 v; out vec4 c; void main(void) { c = v; }";
    RenderEffect effect(nullptr, "");
    RenderParameter* u4 = effect.addRenderParameter("u_u4", RDT_UINT4);
    RenderParameter* i3 = effect.addRenderParameter("u_i3", RDT_INT3);
    RenderParameter* f2 = effect.addRenderParameter("u_f2", RDT_FLOAT2);
    RenderParameter* m4 = effect.addRenderParameter("u_m4", RDT_MATRIX4);
    RenderParameter* m3 = effect.addRenderParameter("u_m3", RDT_MATRIX3);
    RenderParameter* b = effect.addRenderParameter("u_b", RDT_BOOL);
    UInt4 uv;
    for (int i = 0; i < 4; ++i) uv.v[i] = 10u + unsigned(i);
    *u4->getVariable() = uv;
    Int3 iv;
    iv.v[0] = -1, iv.v[1] = 2, iv.v[2] = -3;
    *i3->getVariable() = iv;
    Float2 fv;
    fv.v[0] = 0.5f, fv.v[1] = 1.5f;
    *f2->getVariable() = fv;
    Matrix4 m;
    for (int i = 0; i < 16; ++i) m.m[i] = float(i);
    *m4->getVariable() = m;
    Matrix3 n;
    for (int i = 0; i < 9; ++i) n.m[i] = float(i) + 0.25f;
    *m3->getVariable() = n;
    *b->getVariable() = true;
    for (RenderParameter* r : {u4, i3, f2, m4, m3, b}) r->release();

    OGLShaderProgram* p = make();
    p->setEffect(&effect);
    ASSERT_TRUE(p->attachShader(0, vs));
    ASSERT_TRUE(p->attachShader(1, fs));
    ASSERT_TRUE(p->linkShader());
    EXPECT_EQ(p->getBindings().size(), 6u);
    p->bind();
    const GLuint prog = p->getProgramName();
    GLuint gotU[4] = {};
    glGetUniformuiv(prog, glGetUniformLocation(prog, "u_u4"), gotU);
    EXPECT_EQ(std::vector<GLuint>(gotU, gotU + 4), (std::vector<GLuint>{10, 11, 12, 13}));
    GLint gotI[3] = {};
    glGetUniformiv(prog, glGetUniformLocation(prog, "u_i3"), gotI);
    EXPECT_EQ(std::vector<GLint>(gotI, gotI + 3), (std::vector<GLint>{-1, 2, -3}));
    GLfloat gotF[16] = {};
    glGetUniformfv(prog, glGetUniformLocation(prog, "u_f2"), gotF);
    EXPECT_EQ(gotF[1], 1.5f);
    // Matrices go up in their memory order, untransposed.
    glGetUniformfv(prog, glGetUniformLocation(prog, "u_m4"), gotF);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(gotF[i], float(i));
    glGetUniformfv(prog, glGetUniformLocation(prog, "u_m3"), gotF);
    for (int i = 0; i < 9; ++i) EXPECT_EQ(gotF[i], float(i) + 0.25f);
    GLint gotB = 0;
    glGetUniformiv(prog, glGetUniformLocation(prog, "u_b"), &gotB);
    EXPECT_EQ(gotB, 1);
    p->unbind();
    drop(p);
}
