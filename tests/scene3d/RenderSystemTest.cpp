#include <gtest/gtest.h>

#include <cmath>

#include "DoveCamera.h"
#include "DoveElement.h"
#include "DoveMesh.h"
#include "DovePostProcess.h"
#include "DoveRenderEffect.h"
#include "DoveRenderQueue.h"
#include "DoveRenderState.h"
#include "DoveViewport.h"
#include "EngineFixture.h"

using namespace Dove;

using RenderSystemTest = EngineTest;

TEST_F(RenderSystemTest, ParametersHoldOneTypeEach) {
    RenderFactory* f = RenderFactory::getSingleton();
    RenderParameter* p = f->createRenderParameter(nullptr, "v4", RDT_VECTOR4);
    *p->getVariable() = Vector4(1, 2, 3, 4);
    *p->getVariable() = Vector3(9, 9, 9);  // another type: ignored
    Vector4 out;
    p->getVariable()->getValue(out);
    EXPECT_EQ(out, Vector4(1, 2, 3, 4));
    Matrix3 untouched(2, 0, 0, 0, 2, 0, 0, 0, 2);
    p->getVariable()->getValue(untouched);  // reading another type leaves the target
    EXPECT_EQ(untouched[0][0], 2.0f);

    RenderParameter* m = f->createRenderParameter(nullptr, "m4", RDT_MATRIX4);
    Matrix4 id(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
    m->getVariable()->getValue(id);
    EXPECT_EQ(id, Matrix4::IDENTITY);
    EXPECT_EQ(RenderFactory::createRenderVariable(17), nullptr);

    Vector_T<unsigned int, 4> u;
    u[3] = 7;
    p->setParaValue(RDT_UINT4, &u);
    Vector_T<unsigned int, 4> back;
    p->getVariable()->getValue(back);
    EXPECT_EQ(back[3], 7u);

    p->addRef();  // a second holder
    RenderFactory::releaseRenderParameter(p);
    EXPECT_EQ(p->getRef(), 1u);
    RenderFactory::releaseRenderParameter(p);
    RenderFactory::releaseRenderParameter(m);
}

TEST_F(RenderSystemTest, EffectsTechniquesAndPasses) {
    uint32_t e0 = RenderEffect::nameIndex(), t0 = RenderTechnique::nameIndex(), p0 = RenderPass::nameIndex();
    RenderEffect* a = rm()->createRenderEffect("");
    RenderEffect* b = rm()->createRenderEffect("");
    EXPECT_EQ(a->getName(), "Effect_" + std::to_string(e0 + 1));
    EXPECT_EQ(b->getName(), "Effect_" + std::to_string(e0 + 2));
    RenderTechnique* t = a->createRenderTechnique("");
    RenderPass* pass = t->createPass("");
    EXPECT_EQ(t->getName(), "RenderTechnique_" + std::to_string(t0 + 1));
    EXPECT_EQ(pass->getName(), "RenderPass_" + std::to_string(p0 + 1));
    t->release();
    pass->release();
    t->addPass(nullptr);
    EXPECT_EQ(t->getPasses().size(), 1u);

    a->addRenderParameter("u_transparency", RDT_FLOAT1)->release();
    EXPECT_EQ(a->getRenderParameterByName("u_transp"), nullptr);
    EXPECT_NE(a->getRenderParameterByName("u_transparency"), nullptr);
    EXPECT_EQ(rm()->createRenderEffect(a->getName()), nullptr);
    EXPECT_EQ(rm()->effectCount(), 2u);

    RenderEffect* d3 = rm()->getDefault3DEffect();
    EXPECT_EQ(rm()->getDefault3DEffect(), d3);
    EXPECT_EQ(d3->getParameters().size(), 7u);
    RenderPass* dp = d3->getTechniques().front()->getPasses().front();
    EXPECT_EQ(dp->getDepthState()->depthTest, 1);
    ASSERT_NE(dp->getShaderProgram(), nullptr);
    EXPECT_EQ(dp->getShaderProgram()->getName(), "Default3DProgram");
    EXPECT_TRUE(dp->getShaderProgram()->isValidate());
    EXPECT_EQ(rm()->getDefault3DProgram(), dp->getShaderProgram());
    EXPECT_EQ(rm()->getDefault2DEffect()->getTechniques().front()->getName(), "Default2DTechnique");
    EXPECT_EQ(rm()->getRotateTextureEffect()->getRenderParameterByName("u_rotateType")->getType(), RDT_INT1);
    EXPECT_EQ(rm()->getCropTextureEffect()->getParameters().size(), 3u);
}

TEST_F(RenderSystemTest, StatesApplyOnlyWhenTheyChange) {
    RasterizerState r;
    EXPECT_EQ(r.cullMode, 2u);
    BlendState blend;
    blend.colorSrc = 3;
    blend.alphaDst = 4;
    BlendState copy;
    copy = blend;
    EXPECT_TRUE(copy == blend);
    SamplerState s1, s2;
    s1.lodBias = s2.lodBias = NAN;
    EXPECT_TRUE(s1 != s2);

    int before = engine()->stateChanges();
    engine()->setBlendState(&blend);
    engine()->setBlendState(&blend);
    EXPECT_EQ(engine()->stateChanges(), before + 1);
    DepthState same;
    engine()->setDepthState(&same);  // equal to the engine's current one
    EXPECT_EQ(engine()->stateChanges(), before + 1);
}

TEST_F(RenderSystemTest, FactoryReleaseCountsHolders) {
    RenderFactory* f = RenderFactory::getSingleton();
    VertexBuffer* vb = f->createVertexBuffer(12, 2, GraphicsBuffer::BU_STATIC);
    EXPECT_EQ(vb->getBufferSize(), 24u);
    vb->addRef();
    EXPECT_FALSE(f->releaseVertexBuffer(vb));
    EXPECT_TRUE(f->releaseVertexBuffer(vb));
    EXPECT_FALSE(f->releaseVertexBuffer(nullptr));
    EXPECT_TRUE(f->releaseRenderEngine(nullptr));

    IndexBuffer* ib = f->createIndexBuffer(IndexBuffer::IT_16BIT, 6, GraphicsBuffer::BU_DYNAMIC);
    const uint16_t whole[6] = {1, 2, 3, 4, 5, 6};
    ib->writeData(0, 12, whole);
    const uint16_t part[3] = {7, 8, 9};
    ib->writeData(6, 6, part);
    ib->writeData(10, 6, part);  // past the end: refused
    auto& bytes = static_cast<NullIndexBuffer*>(ib)->bytes();
    EXPECT_EQ(bytes[0], 1);
    EXPECT_EQ(bytes[6], 7);
    EXPECT_EQ(bytes[10], 9);
    f->releaseIndexBuffer(ib);
    EXPECT_EQ(getTypeSize(0), 0u);
    EXPECT_EQ(getComponentCount(0), 0u);
    EXPECT_EQ(getComponentCount(9), 4u);
    EXPECT_EQ(getTypeSize(7), 6u);
}

TEST_F(RenderSystemTest, FrameBufferAttachments) {
    RenderFactory* f = RenderFactory::getSingleton();
    FrameBuffer* fb = f->createFrameBuffer(64, 64);
    Texture* t1 = f->createTexture(64, 64, "");
    Texture* t2 = f->createTexture(64, 64, "");
    RenderBuffer* first = f->createTexture2DRenderBuffer(t1);
    RenderBuffer* second = f->createTexture2DRenderBuffer(t2);
    fb->attach(first, RBA_COLOR3);
    fb->attach(second, RBA_COLOR3);  // the first is detached
    EXPECT_EQ(fb->getAttachment(RBA_COLOR3), second);
    fb->attach(first, RenderBufferAttachment(9));  // no such slot: ignored
    f->releaseRenderBuffer(first);
    fb->clear(2, Color{}, 1.0f, 0);
    EXPECT_EQ(static_cast<NullFrameBuffer*>(fb)->lastClearFlags(), 2u);
    f->releaseFrameBuffer(fb);  // releases the attached buffer, which drops its texture
    f->releaseTexture(t1);
    f->releaseTexture(t2);
}

TEST_F(RenderSystemTest, FrameLimiterLetsOneFrameThroughPer20ms) {
    clock.setMillis(1000000);
    EXPECT_TRUE(RenderEngine::needToRender());
    clock.advanceMillis(10);
    EXPECT_FALSE(RenderEngine::needToRender());
    clock.advanceMillis(10);
    EXPECT_TRUE(RenderEngine::needToRender());
    // Across the 32-bit wrap of the millisecond clock.
    clock.setMicros((4294967295ull - 5) * 1000);
    EXPECT_TRUE(RenderEngine::needToRender());
    clock.setMicros((4294967296ull + 20) * 1000);
    EXPECT_TRUE(RenderEngine::needToRender());
}

TEST_F(RenderSystemTest, EachEngineHasItsOwnFrameLimiter) {
    clock.setMillis(1000000);
    EXPECT_TRUE(RenderEngine::needToRender());
    EXPECT_FALSE(RenderEngine::needToRender());
    // A new engine has drawn nothing yet, so its first frame goes through at once.
    SceneManager::releaseSingleton();
    Context::releaseSingleton();
    Context::getSingleton()->init();
    SceneManager::getSingleton()->init(800, 600);
    EXPECT_TRUE(RenderEngine::needToRender());
}

TEST_F(RenderSystemTest, FrameDrawsGroupsAndViewportsInOrder) {
    NullHostView host{800, 600};
    DisplayParam param;
    param.hostView = &host;
    engine()->initDisplayParam(&param);
    unsigned w = 0, h = 0;
    engine()->getScreenFrameBufferSize(&w, &h);
    EXPECT_EQ(w, 800u);

    auto makeElement = [&](const char* name, Scene* scene, float z) {
        Element* e = sm()->createElement(name, 0);
        Mesh* mesh = e->createMesh();
        mesh->setRenderEffect(rm()->getDefault3DEffect());
        mesh->setBoundingBox(AABBox(Vector3::ZERO, Vector3::ZERO));
        e->getTransform().setTranslate(Vector3(0, 0, z));
        scene->addElement(e);
        return e;
    };
    Element* back = makeElement("back", sm()->getRoot2DBackScene(), 0);
    Element* near = makeElement("near", sm()->getRoot3DScene(), -2);
    Element* far = makeElement("far", sm()->getRoot3DScene(), -50);
    Element* front = makeElement("front", sm()->getRoot2DFrontScene(), 0);

    Camera* cam = sm()->createCamera("cam", 0);
    FrameBuffer* window = engine()->getScreenFrameBuffer();
    Viewport* v2 = window->addViewport(cam, 0, 0, 0.5f, 1, 2);
    Viewport* v0 = window->addViewport(cam, 0.5f, 0, 0.5f, 1, 0);
    engine()->clearDraws();
    window->render();

    std::vector<RenderOperation*> drawn;
    for (auto& d : engine()->draws()) drawn.push_back(d.operation);
    auto op = [](Element* e) { return e->getMesh()->getRenderOperation(); };
    // Back 2D, then the 3D scene per viewport (index 0, then 2), far before near, then front 2D.
    std::vector<RenderOperation*> expect = {op(back), op(far), op(near), op(far), op(near), op(front)};
    EXPECT_EQ(drawn, expect);
    auto& vps = engine()->viewportsSet();
    ASSERT_GE(vps.size(), 3u);
    EXPECT_EQ(vps[vps.size() - 2], v0);
    EXPECT_EQ(vps[vps.size() - 1], v2);
    EXPECT_EQ(static_cast<NullRenderWindow*>(window)->swaps(), 1);
    EXPECT_EQ(static_cast<NullFrameBuffer*>(window)->lastClearFlags(), 7u);

    engine()->bindFrameBuffer(nullptr);
    EXPECT_EQ(engine()->getCurFrameBuffer(), window);
    engine()->startRender();
    EXPECT_TRUE(static_cast<NullRenderWindow*>(window)->isRunning());
    engine()->stopRender();
    EXPECT_FALSE(static_cast<NullRenderWindow*>(window)->isRunning());
}

TEST_F(RenderSystemTest, RenderQueueOrdersByDepthAndTransparency) {
    Camera* cam = sm()->createCamera("cam", 0);
    sm()->setCurrentCamera(cam);
    auto at = [&](const char* name, float z) {
        Element* e = sm()->createElement(name, 0);
        e->createMesh()->setBoundingBox(AABBox(Vector3::ZERO, Vector3::ZERO));
        e->getTransform().setTranslate(Vector3(0, 0, z));
        return e;
    };
    Element* five = at("five", -5);
    Element* nineA = at("nineA", -9);
    Element* nineB = at("nineB", -9);
    RenderQueue q;
    q.addElement(five, 0);
    q.addElement(nineA, 0);
    q.addElement(nineB, 0);
    std::vector<Element*> order(q.opaque3D().begin(), q.opaque3D().end());
    EXPECT_EQ(order, (std::vector<Element*>{nineA, nineB, five}));

    Element* masked = at("masked", -1);
    Texture* mask = rm()->createBlankTexture(4, 4, "mask");
    masked->bindTexture(mask, TU_MASK);
    q.addElement(masked, 0);
    EXPECT_EQ(q.transparent3D().size(), 1u);
    masked->unbindTexture(TU_MASK);
    EXPECT_FALSE(masked->isTransparent());

    // The depth key is computed once until the element is drawn again.
    float d = five->getModelCenterDistanceInProjCoord();
    five->getTransform().setTranslate(Vector3(0, 0, -100));
    EXPECT_EQ(five->getModelCenterDistanceInProjCoord(), d);
    five->render();
    EXPECT_NE(five->getModelCenterDistanceInProjCoord(), d);
}

TEST_F(RenderSystemTest, PostProcessBindingsAndQuad) {
    PostProcess* pp = rm()->createPostProcess("pp");
    EXPECT_EQ(rm()->createPostProcess("pp"), nullptr);
    pp->addInputTextureName("s_texture");
    pp->addOutputTextureName("Output0");
    EXPECT_EQ(pp->addParamName("u_rotateType", RDT_INT1), 0u);
    engine()->clearDraws();
    pp->apply();  // without a frame buffer: nothing
    EXPECT_TRUE(engine()->draws().empty());

    RenderEffect* effect = rm()->getRotateTextureEffect();
    pp->setTechnique(effect->getTechniques().front());
    ASSERT_NE(pp->getOutputBinding(0), nullptr);
    EXPECT_EQ(pp->getOutputBinding(0)->getName(), "Output0");  // made fresh: the effect has none
    EXPECT_EQ(pp->getInputBinding(0), effect->getRenderParameterByName("s_texture"));
    EXPECT_EQ(pp->getParam(0), effect->getRenderParameterByName("u_rotateType"));
    RenderOperation* quad = pp->getRenderOperation();
    EXPECT_EQ(quad->getIndexCount(), 6u);
    EXPECT_EQ(quad->getDataUnits().front().vertexBuffer->getVertexSize(), 20u);

    FrameBuffer* fb = RenderFactory::getSingleton()->createFrameBuffer(8, 8);
    pp->setFrameBuffer(fb);
    RenderFactory::getSingleton()->releaseFrameBuffer(fb);  // the post-process keeps it
    Texture* out = rm()->createBlankTexture(8, 8, "");
    pp->setOutputTexture(0, out);
    EXPECT_NE(fb->getAttachment(RBA_COLOR0), nullptr);
    Vector_T<int, 1> type;
    type[0] = 3;
    pp->setParam(0, type);
    pp->setParam(0, 2.0f);  // wrong type: ignored
    Vector_T<int, 1> read;
    pp->getParam(0)->getVariable()->getValue(read);
    EXPECT_EQ(read[0], 3);
    pp->apply();
    EXPECT_EQ(engine()->getCurFrameBuffer(), fb);
    EXPECT_EQ(engine()->draws().size(), 1u);
    pp->setOutputTexture(0, nullptr);
    rm()->releaseTexture(out, 1);
    EXPECT_EQ(rm()->getTextureByName(out->getName()), out);  // the render buffer still holds it
}
