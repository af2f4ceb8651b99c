#include <gtest/gtest.h>

#include <cmath>

#include "DoveAnimation.h"
#include "DoveCamera.h"
#include "DoveElement.h"
#include "DoveMaterial.h"
#include "DoveMesh.h"
#include "DoveRenderEffect.h"
#include "DoveTexture.h"
#include "EngineFixture.h"

using namespace Dove;

using ElementTest = EngineTest;

TEST_F(ElementTest, TwoDElementsSitInTheCentredPixelSpace) {
    Element* e = sm()->createElement("flat", 0);
    e->setIs3D(0);
    e->setRect(Rect{0, 0, 100, 50});
    Matrix4 m = e->getModelMatrix();
    EXPECT_FLOAT_EQ(m.getTrans().x, -350.0f);
    EXPECT_FLOAT_EQ(m.getTrans().y, 275.0f);
    EXPECT_FLOAT_EQ(m.getTrans().z, 0.0f);

    // A 3D element composes its scene's matrix with its own transform.
    Scene* s = sm()->createScene("s", 0);
    s->setPosition(Vector3(10, 0, 0));
    Element* solid = sm()->createElement("solid", 0);
    solid->getTransform().setTranslate(Vector3(0, 1, 0));
    s->addElement(solid);
    EXPECT_EQ(solid->getModelMatrix().getTrans(), Vector3(10, 1, 0));
    solid->setInitialState();
    solid->getTransform().setTranslate(Vector3(5, 5, 5));
    solid->resetToInitialState();
    EXPECT_EQ(solid->getTransform().getTranslate(), Vector3(0, 1, 0));
}

TEST_F(ElementTest, MeshesMaterialsAndTextureReferences) {
    Element* e = sm()->createElement("e", 0);
    EXPECT_EQ(e->getTexture(TU_BASE), nullptr);  // no mesh yet: nothing to bind to
    Mesh* first = e->createMesh();
    EXPECT_EQ(first->getMeshName().rfind("Mesh_", 0), 0u);
    ASSERT_NE(first->getMaterial(), nullptr);  // every mesh starts with a material of its own
    size_t materials = rm()->materialCount();
    Mesh* second = e->createMesh();  // the first is destroyed with its material
    EXPECT_NE(second, nullptr);
    EXPECT_EQ(rm()->materialCount(), materials);

    Texture* t = rm()->createBlankTexture(4, 4, "shared");
    Material* mat = rm()->createMaterial("mat", 0);
    mat->setTexture(t, TU_BASE);
    EXPECT_EQ(t->getRef(), 2u);
    mat->setTexture(t, TU_BASE);  // the same texture again: the count stays
    EXPECT_EQ(t->getRef(), 2u);
    second->setMaterial(mat);
    EXPECT_EQ(second->getTexture(TU_BASE), t);  // taken over from the material
    EXPECT_EQ(t->getRef(), 3u);
    second->setMaterial(mat);  // already held: nothing
    EXPECT_EQ(mat->getRef(), 2u);

    mat->setTransparency(0.0f);
    EXPECT_FALSE(e->isTransparent());
    mat->setTransparency(NAN);  // not a number counts as not 0
    EXPECT_TRUE(e->isTransparent());
    mat->setTransparency(0.0f);
    Texture* mask = rm()->createBlankTexture(4, 4, "mask");
    e->bindTexture(mask, TU_MASK);
    EXPECT_TRUE(e->isTransparent());
    e->unbindTexture(TU_MASK);
    EXPECT_EQ(mask->getRef(), 1u);

    // Releasing the registry's reference while a mesh holds the texture keeps it registered.
    rm()->releaseTexture(t, 1);
    EXPECT_EQ(rm()->getTextureByName("shared"), t);
    EXPECT_EQ(rm()->releaseTextureByName("nothing", 1), 0);
}

TEST_F(ElementTest, MeshRenderWritesTheShaderParameters) {
    Element* e = sm()->createElement("e", 0);
    Mesh* mesh = e->createMesh();
    RenderEffect* effect = rm()->getDefault3DEffect();
    mesh->setRenderEffect(effect);
    EXPECT_EQ(effect->getRef(), 2u);
    mesh->setRenderEffect(effect);  // the same effect: nothing changes
    EXPECT_EQ(effect->getRef(), 2u);
    mesh->setUVOffset(0.25f, 0.5f);
    e->getTransform().setTranslate(Vector3(1, 2, 3));
    mesh->getMaterial()->setTransparency(0.3f);
    Camera* cam = sm()->createCamera("cam", 0);
    cam->setPosition(Vector3(0, 0, 5));
    sm()->setCurrentCamera(cam);
    engine()->clearDraws();
    e->render();
    ASSERT_EQ(engine()->draws().size(), 1u);
    EXPECT_EQ(engine()->draws()[0].technique, effect->getTechniques().front());

    Matrix4 model;
    effect->getRenderParameterByName("u_modelMatrix")->getVariable()->getValue(model);
    EXPECT_EQ(model.m[12], 1.0f);  // transposed: the translation sits in the last row
    EXPECT_EQ(model.m[14], 3.0f);
    Matrix4 view;
    effect->getRenderParameterByName("u_viewMatrix")->getVariable()->getValue(view);
    EXPECT_EQ(view.m[14], -5.0f);
    Vector_T<float, 1> transparency;
    effect->getRenderParameterByName("u_transparency")->getVariable()->getValue(transparency);
    EXPECT_FLOAT_EQ(transparency[0], 0.3f);
    Vector_T<float, 2> uv;
    effect->getRenderParameterByName("u_uvtexture_offset")->getVariable()->getValue(uv);
    EXPECT_FLOAT_EQ(uv[1], 0.5f);

    // Another effect hands the old one back without destroying what the registry keeps.
    mesh->setRenderEffect(rm()->getDefault2DEffect());
    EXPECT_EQ(effect->getRef(), 1u);
    EXPECT_EQ(rm()->getDefault3DEffect(), effect);
}

TEST_F(ElementTest, ResourceRegistriesNameAndRelease) {
    Material* a = rm()->createMaterial("", 1);
    Material* b = rm()->createMaterial("", 1);
    EXPECT_NE(a->getName(), b->getName());
    EXPECT_EQ(a->getName().rfind("Material_", 0), 0u);
    Material* named = rm()->createMaterial("Skin", 0);
    EXPECT_EQ(rm()->createMaterial("Skin", 0), nullptr);
    Material* renamed = rm()->createMaterial("Skin", 1);
    ASSERT_NE(renamed, nullptr);
    EXPECT_EQ(renamed->getOriginalName(), "Skin");
    EXPECT_NE(renamed->getName(), "Skin");

    named->addRef();
    EXPECT_EQ(rm()->releaseMaterial(named, 1), 1);
    EXPECT_EQ(rm()->getMaterialByName("Skin"), named);
    EXPECT_EQ(rm()->releaseMaterial(named, 1), 1);
    EXPECT_EQ(rm()->getMaterialByName("Skin"), nullptr);

    Animation* anim = rm()->createAnimation("", 1.0f, 1);
    EXPECT_EQ(anim->getName().rfind("Animation_", 0), 0u);
    rm()->updateAllAnimations();  // nothing is playing: nothing happens
    EXPECT_EQ(rm()->getTextPixelSize("text", nullptr).width, 0.0f);
}
