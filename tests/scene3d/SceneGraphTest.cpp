#include <gtest/gtest.h>
#include <ctime>

#include <string>

#include "DoveBendDeformer.h"
#include "DoveCamera.h"
#include "DoveElement.h"
#include "DoveLight.h"
#include "DoveRenderQueue.h"
#include "EngineFixture.h"

using namespace Dove;

namespace {

void expectVec(const Vector3& v, float x, float y, float z, float tol = 1e-5f) {
    EXPECT_NEAR(v.x, x, tol);
    EXPECT_NEAR(v.y, y, tol);
    EXPECT_NEAR(v.z, z, tol);
}

uint32_t numberAfter(const std::string& name, const std::string& prefix) {
    EXPECT_EQ(name.rfind(prefix, 0), 0u) << name;
    return uint32_t(std::stoul(name.substr(prefix.size())));
}

}  // namespace

using SceneGraphTest = EngineTest;

TEST_F(SceneGraphTest, AddChildRefusesNullAndParentedNodesAndKeepsFirstOfAName) {
    Scene* parent = sm()->createScene("parent", 0);
    Scene* other = sm()->createScene("other", 0);
    Scene* child = sm()->createScene("child", 0);
    parent->addChild(nullptr);
    parent->addChild(child);
    EXPECT_EQ(child->getRef(), 2u);
    EXPECT_EQ(child->getParent(), parent);
    other->addChild(child);  // already parented: nothing changes
    EXPECT_EQ(child->getRef(), 2u);
    EXPECT_TRUE(other->getChildren().empty());
    EXPECT_EQ(parent->getChildren().size(), 1u);
}

TEST_F(SceneGraphTest, RotateByEulerAnglesTurnsXThenYThenZ) {
    Scene* s = sm()->createScene("s", 0);
    s->rotate(Vector3(Math::HALF_PI, Math::HALF_PI, 0));
    // (0,0,1): X a quarter turn gives (0,-1,0); Y a quarter turn leaves it.
    expectVec(s->getOrientation() * Vector3(0, 0, 1), 0, -1, 0);
    expectVec(s->getOrientation() * Vector3(0, 1, 0), 1, 0, 0);
}

TEST_F(SceneGraphTest, DerivedTransformsFollowTheParentOnlyWhenMarked) {
    Scene* parent = sm()->createScene("p", 0);
    Scene* child = sm()->createScene("c", 0);
    parent->addChild(child);
    parent->setPosition(Vector3(10, 0, 0));
    parent->setScale(Vector3(2, 2, 2));
    parent->rotate(2, Radian(Math::HALF_PI));
    child->setPosition(Vector3(1, 0, 0));
    expectVec(child->getDerivedPosition(), 10, 2, 0);
    expectVec(child->getDerivedScale(), 2, 2, 2);
    Vector4 p = child->getModelMatrix() * Vector4(1, 0, 0, 1);
    expectVec(Vector3(p.x, p.y, p.z), 10, 4, 0);

    parent->translate(Vector3(0, 0, 5));
    expectVec(child->getDerivedPosition(), 10, 2, 0);  // not marked: stale on purpose
    child->needUpdate();
    expectVec(child->getDerivedPosition(), 10, 2, 5);

    child->setInitialState();
    child->translate(Vector3(1, 1, 1));
    child->resetToInitialState();
    expectVec(child->getPosition(), 1, 0, 0);
}

TEST_F(SceneGraphTest, CreateChildGetsAGeneratedSceneName) {
    Scene* s = sm()->createScene("owner", 0);
    Node* c = s->createChild("wanted", Vector3(1, 2, 3), Quaternion::IDENTITY);
    ASSERT_NE(c, nullptr);
    numberAfter(c->getName(), "Scene_");
    EXPECT_EQ(c->getParent(), s);
    expectVec(c->getPosition(), 1, 2, 3);
    EXPECT_EQ(sm()->getSceneByName(c->getName()), c);
    s->removeChild(c);  // hands the child's extra reference back
    EXPECT_EQ(static_cast<Scene*>(c)->getRef(), 1u);
    EXPECT_EQ(c->getParent(), nullptr);
}

TEST_F(SceneGraphTest, RenderQueueGetsVisibleElementsThenChildScenesByName) {
    Scene* root = sm()->getRoot3DScene();
    Scene* b = sm()->createScene("b", 0);
    Scene* a = sm()->createScene("a", 0);
    root->addChild(b);
    root->addChild(a);
    Element* e1 = sm()->createElement("e1", 0);
    Element* hidden = sm()->createElement("hidden", 0);
    Element* inB = sm()->createElement("inB", 0);
    Element* inA = sm()->createElement("inA", 0);
    root->addElement(e1);
    root->addElement(hidden);
    hidden->setVisible(0);
    b->addElement(inB);
    a->addElement(inA);
    RenderQueue q;
    root->addIntoRenderQueue(&q, 1);
    std::vector<Element*> order(q.front2D().begin(), q.front2D().end());
    EXPECT_EQ(order, (std::vector<Element*>{e1, inA, inB}));
    q.addElement(e1, 3);  // an unknown group is ignored
    EXPECT_EQ(q.front2D().size(), 3u);
    EXPECT_TRUE(q.back2D().empty() && q.opaque3D().empty() && q.transparent3D().empty());
}

TEST_F(SceneGraphTest, RegistryNamingAndRenaming) {
    Element* first = sm()->createElement("Photo", 1);
    Element* second = sm()->createElement("Photo", 1);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->getName(), "Photo_" + std::to_string(Object::nameIndex()));
    EXPECT_EQ(second->getOriginalName(), "Photo");
    EXPECT_EQ(sm()->createElement("Photo", 0), nullptr);
    EXPECT_EQ(sm()->getElementByName("Photo"), first);

    sm()->createScene("Group", 0);
    Scene* renamedScene = sm()->createScene("Group", 1);
    EXPECT_NE(renamedScene->getName(), "Group");
    EXPECT_EQ(renamedScene->getRequestedName(), "Group");

    Scene* unnamed = sm()->createScene("", 1);
    numberAfter(unnamed->getName(), "Scene_");
    EXPECT_EQ(sm()->getSceneByName(unnamed->getName()), unnamed);

    EXPECT_EQ(sm()->getElementByName("ghost"), nullptr);
    EXPECT_NE(sm()->createElement("ghost", 0), nullptr);

    Camera* c = sm()->createCamera("", 1);
    numberAfter(c->getName(), "Element_");
    Light* l = sm()->createLight(2, "", 1);
    numberAfter(l->getName(), "Light_");
    EXPECT_EQ(l->getType(), 2);

    uint32_t before = BendDeformer::nameIndex();
    BendDeformer* d1 = sm()->createBendDeformer("", 1);
    sm()->createElement("", 1);  // other counters do not disturb the deformers'
    BendDeformer* d2 = sm()->createBendDeformer("", 1);
    EXPECT_EQ(d1->getName(), "BendDeformer_" + std::to_string(before + 1));
    EXPECT_EQ(d2->getName(), "BendDeformer_" + std::to_string(before + 2));
}

TEST_F(SceneGraphTest, ReleaseByNameHonoursOtherHolders) {
    Scene* s = sm()->createScene("held", 0);
    Element* e = sm()->createElement("member", 0);
    s->addElement(e);
    sm()->getRoot3DScene()->addChild(s);
    EXPECT_EQ(s->getRef(), 2u);
    sm()->releaseSceneByName("held");
    EXPECT_EQ(sm()->getSceneByName("held"), s);
    sm()->releaseSceneByName("unknown");
    sm()->releaseSceneByName("held");
    EXPECT_EQ(sm()->getSceneByName("held"), nullptr);
    // The scene's reference went back; the creator's remains.
    EXPECT_EQ(e->getRef(), 1u);
    EXPECT_EQ(e->getParentNode(), nullptr);
    EXPECT_TRUE(sm()->getRoot3DScene()->getChildren().empty());  // no dangling child left behind
}

TEST_F(SceneGraphTest, RemovingObjectsFromAScene) {
    Scene* s = sm()->createScene("s", 0);
    Element* e = sm()->createElement("e", 0);
    Light* l = sm()->createLight(1, "l", 0);
    Camera* c = sm()->createCamera("c", 0);
    BendDeformer* d = sm()->createBendDeformer("d", 0);
    s->addElement(e);
    s->addLight(l);
    s->addCamera(c);
    s->addBendDeformer(d);
    EXPECT_EQ(e->getParentNode(), s);
    EXPECT_EQ(e->getRef(), 2u);
    s->removeElement(e);
    EXPECT_EQ(e->getRef(), 1u);
    EXPECT_EQ(e->getParentNode(), nullptr);
    s->removeLight(l);
    s->removeCamera(c);
    EXPECT_EQ(sm()->lightCount(), 1u);
    sm()->releaseLightByName("l");
    EXPECT_EQ(sm()->lightCount(), 0u);
    // A deformer is destroyed by its release whatever holds it; the scene forgets it.
    sm()->releaseBendDeformerByName("d");
    EXPECT_TRUE(s->getBendDeformers().empty());
    EXPECT_EQ(sm()->getBendDeformerByName("d"), nullptr);
}

TEST_F(SceneGraphTest, DestroyingAManagerWithAGraphFreesEverything) {
    // LeakSanitizer checks the rest: elements, scenes, lights and deformers all go.
    Scene* s = sm()->createScene("s", 0);
    Scene* child = sm()->createScene("child", 0);
    s->addChild(child);
    sm()->getRoot3DScene()->addChild(s);
    child->addElement(sm()->createElement("e", 0));
    child->addLight(sm()->createLight(1, "l", 0));
    s->addBendDeformer(sm()->createBendDeformer("d", 0));
    Element* e = sm()->createElement("mesh", 0);
    e->createMesh();
    s->addElement(e);
    SceneManager::releaseSingleton();
    EXPECT_EQ(SceneManager::peekSingleton(), nullptr);
}

TEST(EngineClockTest, MillisecondsRoundAndWrap) {
    int64_t s = 1700000000, us = 499600;
    TimeGlobal::setClockSource([&](int64_t& a, int64_t& b) {
        a = s;
        b = us;
    });
    EXPECT_EQ(getTimeStampInMillisecond(), 3487918580u);
    us = 400;
    EXPECT_EQ(getTimeStampInMillisecond(), 3487918080u);
    EXPECT_EQ(getTimeStampInMicrosecond(), 1700000000ull * 1000000ull + 400ull);
    TimeGlobal::setClockSource({});
    TimeGlobal::releaseSingleton();
}

// The system clock is the monotonic one: the time of day (which the user or NTP may set back)
// is far from it on any machine that has not been up since 1970, and it never goes backwards.
TEST(EngineClockTest, SystemClockIsMonotonic) {
    TimeGlobal::setClockSource({});
    auto monotonicMicros = [] {
        timespec ts{};
        clock_gettime(CLOCK_MONOTONIC, &ts);
        return uint64_t(ts.tv_sec) * 1000000u + uint64_t(ts.tv_nsec / 1000);
    };
    timespec wall{};
    clock_gettime(CLOCK_REALTIME, &wall);
    const uint64_t before = monotonicMicros();
    const uint64_t engine = getTimeStampInMicrosecond();
    const uint64_t after = monotonicMicros();
    EXPECT_GE(engine, before);
    EXPECT_LE(engine, after);
    EXPECT_GT(uint64_t(wall.tv_sec) * 1000000u - engine, uint64_t(3600) * 1000000u);
    uint64_t last = engine;
    for (int i = 0; i < 1000; ++i) {
        const uint64_t now = getTimeStampInMicrosecond();
        ASSERT_GE(now, last);
        last = now;
    }
    TimeGlobal::releaseSingleton();
}

TEST_F(SceneGraphTest, GeneratedNamesStartAfreshWithEachContext) {
    EXPECT_EQ(sm()->createBendDeformer("", 1)->getName(), "BendDeformer_1");
    EXPECT_EQ(sm()->createBendDeformer("", 1)->getName(), "BendDeformer_2");

    // Another engine in the same process (here: the next one) is not numbered on from this one.
    SceneManager::releaseSingleton();
    Context::releaseSingleton();
    Context::getSingleton()->init();
    SceneManager::getSingleton()->init(800, 600);
    EXPECT_EQ(sm()->createBendDeformer("", 1)->getName(), "BendDeformer_1");
}
