// Drawing through the OpenGL engine into off-screen frame buffers, read back and compared with
// golden images or with what the shaders must compute.
#include <epoxy/gl.h>

#include "DoveOGLFrameBuffer.h"
#include "DoveOGLRenderEngine.h"
#include "DoveRenderState.h"
#include "DoveViewport.h"
#include "GLDrawing.h"
#include "GLFixture.h"

using namespace Dove;

namespace {

// A 4 x 4 RGBA picture with a distinct colour in every pixel.
std::vector<uint8_t> fourByFour() {
    std::vector<uint8_t> px;
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) {
            px.push_back(uint8_t(x * 80));
            px.push_back(uint8_t(y * 80));
            px.push_back(uint8_t((x + y) % 2 ? 255 : 0));
            px.push_back(255);
        }
    return px;
}

Texture* textureFrom(std::vector<uint8_t>& px, int w, int h, uint64_t format) {
    MBITMAP bm{};
    bm.dwPixelArrayFormat = format;
    bm.lWidth = w;
    bm.lHeight = h;
    bm.pPlane[0] = px.data();
    Texture* t = RenderFactory::getSingleton()->createTexture(unsigned(w), unsigned(h), "");
    EXPECT_EQ(t->createFromMBitmap(&bm), 1);
    return t;
}

}  // namespace

class GLRenderTest : public GLEngineTest {};

TEST_F(GLRenderTest, CopyAndRotatePrograms_MatchGoldenImages) {
    makeTarget(32, 32);
    auto px = fourByFour();
    Texture* tex = textureFrom(px, 4, 4, kColorRGBA8888);

    GLDrawing copy(kPassThroughVertexShader, kCopyFragmentShader, {{"s_texture", RDT_TEXTURE}});
    copy.set("s_texture", TexturePtr(tex));
    copy.draw();
    // Linear filtering by a software rasteriser: a few steps of rounding either way.
    EXPECT_TRUE(gltest::matchesGolden("copy_4x4_to_32x32", gltest::readPixels(32, 32), 3));

    GLDrawing rotate(kPassThroughVertexShader, kRotateFragmentShader,
                     {{"s_texture", RDT_TEXTURE}, {"u_rotateType", RDT_INT1}});
    rotate.set("s_texture", TexturePtr(tex));
    for (int type : {1, 2, 3}) {
        Int1 t;
        t.v[0] = type;
        rotate.set("u_rotateType", t);
        rotate.draw();
        EXPECT_TRUE(gltest::matchesGolden("rotate_" + std::to_string(type), gltest::readPixels(32, 32), 3));
    }
    RenderFactory::getSingleton()->releaseTexture(tex);
}

TEST_F(GLRenderTest, RotateTypesAgreeWithTheCoordinateModel) {
    // A 2 x 2 nearest-sampled picture turned every way: each quadrant of the output must hold the
    // texel the model picks.
    makeTarget(16, 16);
    std::vector<uint8_t> px = {255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 255, 255, 255, 255};
    Texture* tex = textureFrom(px, 2, 2, kColorRGBA8888);
    glBindTexture(GL_TEXTURE_2D, tex->getTextureID());
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    GLDrawing rotate(kPassThroughVertexShader, kRotateFragmentShader,
                     {{"s_texture", RDT_TEXTURE}, {"u_rotateType", RDT_INT1}});
    rotate.set("s_texture", TexturePtr(tex));
    auto model = [](int type, float x, float y) -> std::pair<float, float> {
        switch (type) {
            case 1: return {y, x};
            case 2: return {1 - x, 1 - y};
            case 3: return {1 - y, x};
            default: return {x, y};
        }
    };
    for (int type = 0; type <= 4; ++type) {
        Int1 t;
        t.v[0] = type;
        rotate.set("u_rotateType", t);
        rotate.draw();
        const gltest::Image img = gltest::readPixels(16, 16);
        for (int qy = 0; qy < 2; ++qy)
            for (int qx = 0; qx < 2; ++qx) {
                // Centre of the quadrant in texture coordinates (v grows upwards, rows top first).
                const float u = qx * 0.5f + 0.25f, v = 1.0f - (qy * 0.5f + 0.25f);
                auto [su, sv] = model(type, u, v);
                const int tx = su < 0.5f ? 0 : 1, ty = sv < 0.5f ? 0 : 1;
                const uint8_t* want = &px[size_t(ty * 2 + tx) * 4];
                const uint8_t* got = img.at(qx * 8 + 4, qy * 8 + 4);
                EXPECT_EQ(std::vector<int>(got, got + 3), std::vector<int>(want, want + 3))
                    << "type " << type << " quadrant " << qx << "," << qy;
            }
    }
    RenderFactory::getSingleton()->releaseTexture(tex);
}

TEST_F(GLRenderTest, CropProgram_OutsideTheThresholdIsOpaqueBlack) {
    makeTarget(16, 16);
    Texture* white = RenderFactory::getSingleton()->createTexture(4, 4, "");
    white->createPureTexture(4, 4, Color{1, 1, 1, 1});
    GLDrawing crop(kPassThroughVertexShader, kCropFragmentShader,
                   {{"s_texture", RDT_TEXTURE}, {"u_textureMatrix", RDT_MATRIX3}, {"u_texCoord_threshold", RDT_FLOAT2}});
    crop.set("s_texture", TexturePtr(white));
    Float2 threshold;
    threshold.v[0] = 0.5f;
    threshold.v[1] = 1.0f;
    crop.set("u_texCoord_threshold", threshold);  // the identity matrix is the variable's start value
    crop.draw();
    const gltest::Image img = gltest::readPixels(16, 16);
    EXPECT_EQ(img.at(2, 8)[0], 255);   // left half: inside
    EXPECT_EQ(img.at(13, 8)[0], 0);    // right half: outside, black
    EXPECT_EQ(img.at(13, 8)[3], 255);  // and opaque
    RenderFactory::getSingleton()->releaseTexture(white);
}

TEST_F(GLRenderTest, MaskedProgram_AlphaIsBaseTimesMaskTimesOpacity) {
    makeTarget(8, 8);
    RenderFactory* f = RenderFactory::getSingleton();
    Texture* base = f->createTexture(1, 1, "");
    base->createPureTexture(1, 1, Color{1, 0, 0, 1});
    std::vector<uint8_t> grey = {128};
    Texture* mask = textureFrom(grey, 1, 1, kColorGray8);
    GLDrawing masked(kTransformVertexShader, kMaskedTextureFragmentShader,
                     {{"u_modelMatrix", RDT_MATRIX4}, {"u_viewMatrix", RDT_MATRIX4}, {"u_projectionMatrix", RDT_MATRIX4},
                      {"s_baseTexture", RDT_TEXTURE}, {"s_maskTexture", RDT_TEXTURE}, {"u_transparency", RDT_FLOAT1}});
    masked.set("s_baseTexture", TexturePtr(base));
    masked.set("s_maskTexture", TexturePtr(mask));
    Float1 transparency;
    transparency.v[0] = 0.5f;
    masked.set("u_transparency", transparency);
    masked.draw();
    const gltest::Image img = gltest::readPixels(8, 8);
    EXPECT_EQ(img.at(4, 4)[0], 255);
    EXPECT_NEAR(img.at(4, 4)[3], 128 * 0.5, 1.5);
    f->releaseTexture(base);
    f->releaseTexture(mask);
}

TEST_F(GLRenderTest, IndexedDraws_StartAtTheIndexOffsetAndRefuseRangesPastTheBuffer) {
    makeTarget(8, 8);
    Texture* white = RenderFactory::getSingleton()->createTexture(1, 1, "");
    white->createPureTexture(1, 1, Color{1, 1, 1, 1});
    GLDrawing copy(kPassThroughVertexShader, kCopyFragmentShader, {{"s_texture", RDT_TEXTURE}});
    copy.set("s_texture", TexturePtr(white));
    auto clearAndDraw = [&] {
        engine()->getCurFrameBuffer()->clear(1, Color{0, 0, 0, 1}, 1, 0);
        copy.draw();
        return gltest::readPixels(8, 8);
    };
    // Second triangle only (indices 3, 1, 2): the lower right half.
    copy.operation->setStartIndexLocation(3);
    copy.operation->setIndexCount(3);
    gltest::Image img = clearAndDraw();
    EXPECT_EQ(img.at(7, 7)[0], 255);
    EXPECT_EQ(img.at(0, 0)[0], 0);
    // 32-bit indices: the offset is counted in 4-byte steps.
    const uint32_t wide[] = {0, 2, 1, 3, 1, 2};
    IndexBuffer* ib32 = RenderFactory::getSingleton()->createIndexBuffer(IndexBuffer::IT_32BIT, 6,
                                                                         GraphicsBuffer::BU_STATIC);
    ib32->writeData(0, sizeof wide, wide);
    copy.operation->setIndexBuffer(ib32);
    img = clearAndDraw();
    EXPECT_EQ(img.at(7, 7)[0], 255);
    EXPECT_EQ(img.at(0, 0)[0], 0);
    // A range that runs past the buffer's end draws nothing.
    copy.operation->setIndexCount(6);
    img = clearAndDraw();
    EXPECT_EQ(img.at(7, 7)[0], 0);
    copy.operation->setIndexBuffer(copy.indices);
    RenderFactory::getSingleton()->releaseIndexBuffer(ib32);
    // Without indices the vertex range is checked the same way.
    IndexBuffer* none = nullptr;
    copy.operation->setIndexBuffer(none);
    copy.operation->setStartVertexLcoation(1);
    copy.operation->setVertexCount(3);
    img = clearAndDraw();
    EXPECT_EQ(img.at(7, 7)[0], 255);  // vertices 1, 2, 3
    copy.operation->setVertexCount(4);
    img = clearAndDraw();
    EXPECT_EQ(img.at(7, 7)[0], 0);
    RenderFactory::getSingleton()->releaseTexture(white);
}

TEST_F(GLRenderTest, FrameBuffers_ClearByFlagsAndDrawIntoEveryAttachedSlot) {
    RenderFactory* f = RenderFactory::getSingleton();
    FrameBuffer* fb = makeTarget(4, 4);
    RenderBuffer* depth = static_cast<OGLRenderFactory*>(f)->createScreenDepthStencilBuffer(4, 4);
    f->releaseRenderBuffer(depth);
    auto* ds = new OGLDepthStencilRenderBuffer(4, 4);
    ds->addRef();
    fb->attach(ds, RBA_DEPTH_STENCIL);
    engine()->bindFrameBuffer(fb);
    fb->clear(7, Color{0, 0, 1, 1}, 0.25f, 3);
    float d = 0;
    glReadPixels(1, 1, 1, 1, GL_DEPTH_COMPONENT, GL_FLOAT, &d);
    EXPECT_NEAR(d, 0.25f, 1e-3);
    // Depth only: the colour stays, even while a pass has depth writing switched off.
    DepthState noWrite;
    noWrite.depthWrite = 0;
    engine()->setDepthState(&noWrite);
    fb->clear(2, Color{1, 0, 0, 1}, 0.75f, 0);
    glReadPixels(1, 1, 1, 1, GL_DEPTH_COMPONENT, GL_FLOAT, &d);
    EXPECT_NEAR(d, 0.75f, 1e-3);
    EXPECT_EQ(gltest::readPixels(4, 4).at(0, 0)[2], 255);

    // Slots 0 and 2 filled: a colour clear reaches both textures.
    Texture* second = f->createTexture(4, 4, "");
    second->createBlankTexture(4, 4);
    fb->attach(f->createTexture2DRenderBuffer(second), RBA_COLOR2);
    engine()->bindFrameBuffer(fb);
    fb->clear(1, Color{0, 1, 0, 1}, 1, 0);
    std::vector<uint8_t> px(4 * 4 * 4);
    glBindTexture(GL_TEXTURE_2D, second->getTextureID());
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, px.data());
    EXPECT_EQ(px[1], 255);
    EXPECT_EQ(gltest::readPixels(4, 4).at(3, 3)[1], 255);
    f->releaseTexture(second);
}

TEST_F(GLRenderTest, Engine_CachesStatesViewportAndFrameBufferBindings) {
    // A state equal to the current one changes nothing in OpenGL.
    glEnable(GL_DEPTH_TEST);
    DepthState same;  // equal to the engine's start state (test off)
    engine()->setDepthState(&same);
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
    DepthState on;
    on.depthTest = 1;
    engine()->setDepthState(&on);
    EXPECT_EQ(engine()->getCurrentDepthState()->depthTest, 1);
    glDisable(GL_CULL_FACE);
    RasterizerState unknown;
    unknown.cullMode = 3;
    engine()->setRasterizerState(&unknown);
    EXPECT_FALSE(glIsEnabled(GL_CULL_FACE));  // an unknown mode leaves culling alone
    RasterizerState front;
    front.cullMode = 1;
    engine()->setRasterizerState(&front);
    GLint face = 0;
    glGetIntegerv(GL_CULL_FACE_MODE, &face);
    EXPECT_TRUE(glIsEnabled(GL_CULL_FACE));
    EXPECT_EQ(face, GL_FRONT);
    BlendState blend;
    blend.colorSrc = 7;
    engine()->setBlendState(&blend);
    engine()->setBlendState(&blend);
    EXPECT_TRUE(*engine()->getCurrentBlendState() == blend);

    // Binding 0 records it and leaves the bound object in place.
    FrameBuffer* fb = makeTarget(4, 4);
    const uint32_t name = static_cast<OGLFrameBuffer*>(fb)->getFrameBufferName();
    engine()->bindFramebuffer(name);
    engine()->bindFramebuffer(0);
    GLint bound = 0;
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &bound);
    EXPECT_EQ(engine()->getBoundFramebuffer(), 0u);
    EXPECT_EQ(uint32_t(bound), name);

    Viewport* vp = fb->addViewportWithActualValue(nullptr, 1, 2, 3, 4, 1);
    engine()->doViewport(vp);
    GLint rect[4] = {};
    glGetIntegerv(GL_VIEWPORT, rect);
    EXPECT_EQ(std::vector<int>(rect, rect + 4), (std::vector<int>{1, 2, 3, 4}));

    const RenderCapability* cap = engine()->getRenderCapability();
    EXPECT_GT(cap->maxTextureSize, 0);
    EXPECT_EQ(engine()->getRenderCapability(), cap);
}
