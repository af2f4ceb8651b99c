#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <set>

#include "DoveAnimation.h"
#include "DoveBendDeformer.h"
#include "DoveCamera.h"
#include "DoveElement.h"
#include "DoveLight.h"
#include "DoveMaterial.h"
#include "DoveMesh.h"
#include "DoveTexture.h"
#include "DoveViewport.h"
#include "EngineFixture.h"
#include "SceneFileWriter.h"
#include "ZephraResource.h"

using namespace Dove;

namespace {

class SceneResourceTest : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        path = ::testing::TempDir() + "resource_test_theme.ziz";
        write(makeSampleScene());
    }
    void TearDown() override {
        std::remove(path.c_str());
        EngineTest::TearDown();
    }
    void write(const std::vector<uint8_t>& bytes) {
        std::ofstream f(path, std::ios::binary | std::ios::trunc);
        f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }
    std::string path;
};

// A converter that answers every path with a 2 x 2 opaque picture, and remembers the paths.
struct FakeConverter {
    std::vector<std::string> paths;
    long operator()(const std::string& p, MBITMAP** bitmap) {
        paths.push_back(p);
        MBITMAP* b = *bitmap;
        b->dwPixelArrayFormat = kColorRGBA8888;
        b->lWidth = 2;
        b->lHeight = 2;
        b->pPlane[0] = new MByte[16];
        for (int i = 0; i < 16; ++i) b->pPlane[0][i] = 255;
        return 1;
    }
};

struct Picture {
    std::vector<uint8_t> pixels;
    MBITMAP bitmap{};
    Picture(int w, int h) : pixels(size_t(w) * size_t(h) * 4, 255) {
        bitmap.dwPixelArrayFormat = kColorRGBA8888;
        bitmap.lWidth = w;
        bitmap.lHeight = h;
        bitmap.pPlane[0] = pixels.data();
    }
};

}  // namespace

TEST_F(SceneResourceTest, LoadsTheThemeIntoEngineObjects) {
    auto converter = std::make_shared<FakeConverter>();
    Context::getSingleton()->registerBitmapConverter([converter](const std::string& p, MBITMAP** b) { return (*converter)(p, b); });
    auto res = std::make_unique<ZephraResource>(path);
    Scene* root = res->getRootScene();
    ASSERT_NE(root, nullptr) << res->loadError();
    EXPECT_EQ(root->getName(), "ZephraRes_RootScene");
    EXPECT_EQ(res->getRootScene(), root);  // loaded once

    // Animation: frames 0 to 48 at the default 24 frames a second.
    ASSERT_NE(res->animation, nullptr);
    EXPECT_FLOAT_EQ(res->animation->getDuration(), 2.0f);
    EXPECT_EQ(res->getCurFrame(), 10u);

    // The quad: element with mesh, material, texture from the converter, rectangle 4 x 3.
    Element* plane = res->getElement("Plane");
    ASSERT_NE(plane, nullptr);
    EXPECT_EQ(plane->getParentNode(), root);
    EXPECT_FLOAT_EQ(plane->getRect().right, 4.0f);
    EXPECT_FLOAT_EQ(plane->getRect().bottom, 3.0f);
    Mesh* mesh = plane->getMesh();
    ASSERT_NE(mesh, nullptr);
    ASSERT_NE(mesh->getMaterial(), nullptr);
    EXPECT_EQ(mesh->getMaterial()->getOriginalName(), "Mat");
    EXPECT_FLOAT_EQ(mesh->getMaterial()->colors[2].g, 128.0f / 255.0f);
    ASSERT_EQ(converter->paths.size(), 1u);
    EXPECT_EQ(converter->paths[0], path.substr(0, path.rfind('/') + 1) + "photo.png");
    EXPECT_NE(mesh->getTexture(TU_BASE), nullptr);
    EXPECT_EQ(mesh->getRenderEffect(), rm()->getDefault3DEffect());
    EXPECT_EQ(mesh->getVertexBuffer()->getVertexSize(), 32u);
    EXPECT_EQ(mesh->getRenderOperation()->getIndexCount(), 6u);
    Vector3 c = mesh->getBoundingBox().getCenter();
    EXPECT_FLOAT_EQ(c.x, 2.0f);
    EXPECT_FLOAT_EQ(c.y, 1.5f);

    // Key frames: X moves 0 to 10 over 2 s; the hide timeline hides from frame 24 (1 s).
    ASSERT_EQ(res->animation->transformTracks().size(), 2u);  // the camera's and the quad's
    res->animation->seek(0.5f);
    EXPECT_FLOAT_EQ(plane->getTransform().getTranslate().x, 2.5f);
    EXPECT_EQ(plane->getVisible(), 1);
    res->animation->seek(1.5f);
    EXPECT_EQ(plane->getVisible(), 0);

    // Camera with its viewport on the screen frame buffer, field of view from the file.
    Camera* cam = res->getCamera();
    ASSERT_NE(cam, nullptr);
    EXPECT_FLOAT_EQ(cam->getFov().value, 0.8f);
    EXPECT_FLOAT_EQ(cam->getFar(), 500.0f);
    FrameBuffer* screen = RenderEngine::getSingleton()->getScreenFrameBuffer();
    ASSERT_NE(screen->getViewport(0), nullptr);
    EXPECT_EQ(screen->getViewport(0)->getCamera(), cam);

    int kind = -1;
    EXPECT_NE(res->getResTypeByName("Lamp", &kind), nullptr);
    EXPECT_EQ(kind, ZephraResource::RT_LIGHT);
    EXPECT_NE(res->getResTypeByName("Bend", &kind), nullptr);
    EXPECT_EQ(kind, ZephraResource::RT_BENDDEFORMER);
    EXPECT_EQ(static_cast<Light*>(res->getResTypeByName("Lamp", &kind))->getType(), 2);  // file type 1

    sm()->getRoot3DScene()->addChild(root);
    res.reset();
    // Everything the theme made is gone again.
    EXPECT_EQ(sm()->elementCount(), 0u);
    EXPECT_EQ(sm()->lightCount(), 0u);
    EXPECT_EQ(sm()->bendDeformerCount(), 0u);
    EXPECT_EQ(sm()->cameraCount(), 0u);
    EXPECT_EQ(rm()->animationCount(), 0u);
    EXPECT_EQ(rm()->textureCount(), 0u);
    EXPECT_TRUE(sm()->getRoot3DScene()->getChildren().empty());
    EXPECT_EQ(screen->getViewportCount(), 0u);
}

TEST_F(SceneResourceTest, FrameRateChangesKeyTimesAndDuration) {
    ZephraResource res(path);
    res.setAnimationFrameRate(0.0f);  // ignored
    res.setAnimationFrameRate(12.0f);
    ASSERT_NE(res.getRootScene(), nullptr);
    EXPECT_FLOAT_EQ(res.animation->getDuration(), 4.0f);
    EXPECT_FLOAT_EQ(res.animation->getFrameRate(), 12.0f);
    TransformAnimationTrack* quad = res.animation->transformTracks().back();
    ASSERT_EQ(quad->getNumKeyFrames(), 2u);
    EXPECT_FLOAT_EQ(quad->getKeyFrame(1)->getTime(), 4.0f);
    res.setAnimationFrameRate(24.0f);  // after loading: changes nothing
    EXPECT_FLOAT_EQ(res.animation->getDuration(), 4.0f);
}

TEST_F(SceneResourceTest, MeshTextureSizesAndBinding) {
    EXPECT_FLOAT_EQ(ZephraResource::meshTextureSize(4, 3, 1000, 500, 1).height, 750.0f);
    EXPECT_FLOAT_EQ(ZephraResource::meshTextureSize(4, 3, 1000, 500, 0).height, 750.0f);
    Size tall = ZephraResource::meshTextureSize(4, 3, 500, 1000, 1);
    EXPECT_NEAR(tall.width, 1333.33f, 0.01f);
    EXPECT_FLOAT_EQ(tall.height, 1000.0f);
    Size tall0 = ZephraResource::meshTextureSize(4, 3, 500, 1000, 0);
    EXPECT_FLOAT_EQ(tall0.width, 500.0f);
    EXPECT_FLOAT_EQ(tall0.height, 375.0f);
    EXPECT_FLOAT_EQ(ZephraResource::meshTextureSize(0, 3, 500, 1000, 1).width, 500.0f);
    // A picture of a pixel gets a texture with room for the margins that keep its shape.
    Size dot = ZephraResource::meshTextureSize(4, 3, 1, 1, 1);
    EXPECT_NEAR(dot.width, 85.33f, 0.01f);
    EXPECT_FLOAT_EQ(dot.height, 64.0f);

    ZephraResource res(path);
    ASSERT_NE(res.getRootScene(), nullptr);
    Picture pic(8, 6);
    size_t before = rm()->textureCount();
    res.bindMeshTexture("Nothing", &pic.bitmap, 0, 1);
    EXPECT_EQ(rm()->textureCount(), before);
    res.bindMeshTexture("Plane", &pic.bitmap, 1, 1);
    Texture* t = res.getElement("Plane")->getTexture(TU_BASE);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->getWidth(), 85u);  // 6 x 8 after the quarter turn, fitted into 4:3, 64 high at least
    EXPECT_EQ(t->getHeight(), 64u);
    EXPECT_EQ(rm()->textureCount(), before + 1);  // the intermediate textures are gone
}

TEST_F(SceneResourceTest, DuplicateMeshNamesAndMissingFiles) {
    ChunkWriter w;
    w.begin(0x4D4D).begin(0x3D3D).chunk(0x3D3E, [](ChunkWriter&) {});
    for (int i = 0; i < 2; ++i) {
        w.begin(0x4000).str("Twin").begin(0x4100);
        w.chunk(0x4110, [](ChunkWriter& c) { c.u16(3).vec(0, 0, 0).vec(1, 0, 0).vec(0, 1, 0); });
        w.chunk(0x4120, [](ChunkWriter& c) { c.u16(1).u16(0).u16(1).u16(2).u16(0); });
        w.end().end();
    }
    w.end().end();
    write(w.out);
    {
        ZephraResource res(path);
        ASSERT_NE(res.getRootScene(), nullptr);
        EXPECT_NE(res.getElement("Twin"), nullptr);
        EXPECT_EQ(sm()->elementCount(), 2u);
        EXPECT_EQ(res.getCamera(), nullptr);  // no camera in the file
        EXPECT_EQ(res.getElement("Twin")->getMesh()->getVertexBuffer()->getVertexSize(), 24u);
    }
    EXPECT_EQ(sm()->elementCount(), 0u);

    ZephraResource missing(path + ".none");
    EXPECT_EQ(missing.getRootScene(), nullptr);
    EXPECT_FALSE(missing.loadError().empty());
    Scene* empty = missing.getRootScene();  // the empty root scene from the failed load
    ASSERT_NE(empty, nullptr);
    EXPECT_TRUE(empty->getElements().empty());

    std::string full;
    ZephraResource::getResFileName("/a/b/theme.ziz", "t.png", &full);
    EXPECT_EQ(full, "/a/b/t.png");
    ZephraResource::getResFileName("theme.ziz", "t.png", &full);
    EXPECT_EQ(full, "t.png");
}

TEST_F(SceneResourceTest, NestedNodesBecomeSubScenes) {
    ChunkWriter w;
    w.begin(0x4D4D).begin(0x3D3D).chunk(0x3D3E, [](ChunkWriter&) {});
    w.begin(0x4000).str("Leaf").begin(0x4100);
    w.chunk(0x4110, [](ChunkWriter& c) { c.u16(3).vec(0, 0, 0).vec(1, 0, 0).vec(0, 1, 0); });
    w.end().end();
    w.end();
    w.begin(0xB000);
    w.chunk(0xB002, [](ChunkWriter& c) {
        c.nodeHeader("group");
        c.chunk(0xB011, [](ChunkWriter& s) { s.str("Group"); });
        c.chunk(0xB030, [](ChunkWriter& s) { s.u16(1); });
        c.chunk(0xB013, [](ChunkWriter& s) {
            s.vec(0, 0, 0).vec(1, 1, 1).vec(0, 0, 0).vec(0, 0, 0).vec(0, 0, 0).f32(0).f32(0).f32(0).f32(1);
            s.vec(0, 0, 0).vec(0, 0, 0).vec(5, 0, 0);
        });
    });
    w.chunk(0xB002, [](ChunkWriter& c) {
        c.nodeHeader("leaf", 1);
        c.chunk(0xB011, [](ChunkWriter& s) { s.str("Leaf"); });
        c.chunk(0xB030, [](ChunkWriter& s) { s.u16(2); });
        c.chunk(0xB015, [](ChunkWriter& s) { s.u32(0); });
    });
    w.end();
    w.end();
    write(w.out);
    ZephraResource res(path);
    Scene* root = res.getRootScene();
    ASSERT_NE(root, nullptr);
    ASSERT_EQ(root->getChildren().size(), 1u);
    auto* group = static_cast<Scene*>(root->getChildren().begin()->second);
    EXPECT_EQ(group->getRequestedName(), "Group");
    EXPECT_EQ(group->getRef(), 1u);  // the parent's reference only
    EXPECT_FLOAT_EQ(group->getPosition().x, 5.0f);
    ASSERT_EQ(group->getElements().size(), 1u);
    EXPECT_EQ(group->getElements()[0], res.getElement("Leaf"));
    EXPECT_EQ(res.getElement("Leaf")->getVisible(), 0);
}

// Theme files may come from the user's folder. A file naming things "G_<n>" while two others are
// both "G" must not make the second "G" take a live "G_<n>" name: the registry would then free
// an object the scene graph still holds, or one mesh's geometry would stand in for another's.
TEST_F(SceneResourceTest, NamesThatClashWithGeneratedNamesKeepEveryLiveObject) {
    const uint32_t objects = Object::nameIndex();
    const uint32_t nodes = Node::nameIndex();
    std::vector<std::string> meshes, groups;
    // Every object made bumps the counter, so the file's names lie ahead of it, where the
    // generated name of the second "E" (and "G") lands.
    for (uint32_t k = 41; k <= 80; ++k) meshes.push_back("E_" + std::to_string(objects + k));
    meshes.push_back("E");
    meshes.push_back("E");
    for (uint32_t k = 41; k <= 80; ++k) groups.push_back("G_" + std::to_string(nodes + k));
    groups.push_back("G");
    groups.push_back("G");

    ChunkWriter w;
    w.begin(0x4D4D).begin(0x3D3D).chunk(0x3D3E, [](ChunkWriter&) {});
    for (size_t i = 0; i < meshes.size(); ++i) {
        // Each mesh has its own vertex count, so that a swapped geometry shows.
        const uint16_t count = uint16_t(3 + i);
        w.begin(0x4000).str(meshes[i]).begin(0x4100);
        w.chunk(0x4110, [&](ChunkWriter& c) {
            c.u16(count);
            for (uint16_t v = 0; v < count; ++v) c.vec(float(v), float(v % 2), 0);
        });
        w.end().end();
    }
    w.end();
    w.begin(0xB000);
    uint16_t id = 1;
    for (const std::string& g : groups) {
        const uint16_t parent = id++;
        w.chunk(0xB002, [&](ChunkWriter& c) {
            c.nodeHeader(g);
            c.chunk(0xB011, [&](ChunkWriter& s) { s.str(g); });
            c.chunk(0xB030, [&](ChunkWriter& s) { s.u16(parent); });
        });
        const uint16_t leaf = id++;
        w.chunk(0xB002, [&](ChunkWriter& c) {
            c.nodeHeader("leaf", parent);
            c.chunk(0xB011, [](ChunkWriter& s) { s.str("nothing"); });
            c.chunk(0xB030, [&](ChunkWriter& s) { s.u16(leaf); });
        });
    }
    w.end();
    w.end();
    write(w.out);
    {
        ZephraResource res(path);
        Scene* root = res.getRootScene();
        ASSERT_NE(root, nullptr) << res.loadError();
        sm()->getRoot3DScene()->addChild(root);
        // Every group is a live scene of its own under the root, registered under its name.
        EXPECT_EQ(root->getChildren().size(), groups.size());
        for (const auto& [name, child] : root->getChildren()) {
            EXPECT_EQ(sm()->getSceneByName(name), child) << name;
            EXPECT_EQ(child->getParent(), root) << name;
        }
        // Every mesh kept its own geometry: one element and one vertex count per mesh.
        EXPECT_EQ(sm()->elementCount(), meshes.size());
        std::set<uint32_t> counts;
        for (size_t i = 0; i + 2 < meshes.size(); ++i) {
            Element* e = res.getElement(meshes[i]);
            ASSERT_NE(e, nullptr) << meshes[i];
            EXPECT_EQ(sm()->getElementByName(meshes[i]), e);
            EXPECT_EQ(e->getMesh()->getVertexBuffer()->getVertexCount(), 3u + i) << meshes[i];
        }
        std::set<Element*> seen;
        for (uint32_t k = 0; k <= 200; ++k) {
            Element* e = sm()->getElementByName(k == 0 ? std::string("E") : "E_" + std::to_string(objects + k));
            if (e && seen.insert(e).second) counts.insert(e->getMesh()->getVertexBuffer()->getVertexCount());
        }
        EXPECT_EQ(counts.size(), meshes.size());
    }
    // The release frees each object once (the sanitizer catches a double free).
    EXPECT_EQ(sm()->elementCount(), 0u);
    EXPECT_TRUE(sm()->getRoot3DScene()->getChildren().empty());
}

// A new photo on a mesh releases the one it replaces, in the engine's context: 200 slides leave
// as many textures as one.
TEST_F(SceneResourceTest, RebindingAMeshPhotoReleasesTheOldOne) {
    ZephraResource res(path);
    ASSERT_NE(res.getRootScene(), nullptr);
    Picture pic(8, 6);
    res.bindMeshTexture("Plane", &pic.bitmap, 0, 1);
    const size_t textures = rm()->textureCount();
    const size_t held = res.textureCount();
    const int freedWithoutContext = NullTexture::sDeletedWithoutContext;
    for (int slide = 0; slide < 200; ++slide) res.bindMeshTexture("Plane", &pic.bitmap, slide % 4, 1);
    EXPECT_EQ(rm()->textureCount(), textures);
    EXPECT_EQ(res.textureCount(), held);
    // Every replaced photo was freed with the engine's context current, so the driver freed it too.
    EXPECT_EQ(NullTexture::sDeletedWithoutContext, freedWithoutContext);
    Texture* t = res.getElement("Plane")->getTexture(TU_BASE);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->getRef(), 2u);  // the resource's and the mesh's
}

TEST_F(SceneResourceTest, KeysOutsideTheSearchRangeDoNotHang) {
    ChunkWriter w;
    w.begin(0x4D4D).begin(0x3D3D).chunk(0x3D3E, [](ChunkWriter&) {});
    w.begin(0x4000).str("Quad").begin(0x4100);
    w.chunk(0x4110, [](ChunkWriter& c) { c.u16(3).vec(0, 0, 0).vec(1, 0, 0).vec(0, 1, 0); });
    w.end().end();
    w.begin(0x4000).str("Cam");
    w.chunk(0x4700, [](ChunkWriter& c) { c.vec(0, 0, 10).vec(0, 0, 0).vec(0, 0, 0).f32(0.8f); });
    w.end();
    w.end();
    w.begin(0xB000);
    w.chunk(0xB002, [](ChunkWriter& c) {
        c.nodeHeader("n");
        c.chunk(0xB011, [](ChunkWriter& s) { s.str("Quad"); });
        c.axisTrack(0xB020, 3, {{0, 1}, {NAN, 2}}, {{2e8f, 5}});
    });
    w.chunk(0xB003, [](ChunkWriter& c) {
        c.nodeHeader("Cam");
        c.axisTrack(0xB020, 1, {{0, 0}, {3e8f, 1}});
    });
    w.end();  // 0xB000
    w.end();  // 0x4D4D
    write(w.out);
    ZephraResource res(path);
    ASSERT_NE(res.getRootScene(), nullptr);
    // The keys that can be placed are; the rest are left out.
    ASSERT_EQ(res.animation->transformTracks().size(), 2u);
    EXPECT_GE(res.animation->transformTracks()[0]->getNumKeyFrames(), 1u);
    EXPECT_GE(res.animation->transformTracks()[1]->getNumKeyFrames(), 1u);
}
