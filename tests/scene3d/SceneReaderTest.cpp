#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include <sys/stat.h>

#include "SceneFileWriter.h"
#include "ZepLoad3DS.h"

using namespace Dove;

namespace {

bool import(const std::vector<uint8_t>& bytes, t3DModel& model, std::string* error = nullptr) {
    CZepLoad3DS reader;
    bool ok = reader.Import3DSFromMemory(&model, bytes.data(), bytes.size());
    if (error) *error = reader.lastError();
    return ok;
}

// A main chunk around one editor chunk whose first child is the version chunk.
template <typename F>
std::vector<uint8_t> editorScene(F body) {
    ChunkWriter w;
    w.begin(0x4D4D).begin(0x3D3D);
    w.chunk(0x3D3E, [](ChunkWriter& c) { c.u32(3); });
    body(w);
    w.end().end();
    return w.out;
}

template <typename F>
std::vector<uint8_t> keyframeScene(F body) {
    ChunkWriter w;
    w.begin(0x4D4D).begin(0xB000);
    body(w);
    w.end().end();
    return w.out;
}

}  // namespace

TEST(SceneReaderTest, ReadsTheSampleTheme) {
    t3DModel m;
    std::string err;
    ASSERT_TRUE(import(makeSampleScene(), m, &err)) << err;
    EXPECT_EQ(m.chunk0005, 3u);
    ASSERT_EQ(m.numOfObjects, 1);
    const t3DObject& mesh = m.pObject[0];
    EXPECT_EQ(mesh.strName, "Plane");
    EXPECT_EQ(mesh.numOfVerts, 4);
    EXPECT_EQ(mesh.numOfFaces, 2);
    EXPECT_EQ(mesh.pFaces, (std::vector<uint32_t>{0, 1, 2, 0, 2, 3}));  // face flags 7 change nothing
    EXPECT_TRUE(mesh.bHasTexture);
    EXPECT_EQ(mesh.numTexVertex, 4);
    EXPECT_EQ(mesh.strMaterialName, "Mat");
    ASSERT_EQ(mesh.pNormals.size(), 4u);
    for (const Vector3& n : mesh.pNormals) {
        EXPECT_NEAR(n.z, 1.0f, 1e-6f);
        EXPECT_NEAR(n.x, 0.0f, 1e-6f);
    }

    ASSERT_EQ(m.numOfMaterials, 1);
    const tMaterialInfo& mat = m.pMaterials[0];
    EXPECT_EQ(mat.strName, "Mat");
    EXPECT_EQ(mat.diffuse.r, 255);
    EXPECT_EQ(mat.diffuse.g, 128);
    EXPECT_EQ(mat.ambient.r, 0);
    EXPECT_EQ(mat.colorA021.g, 255);  // white when the file has no such colour
    EXPECT_EQ(mat.transparency, 20);
    EXPECT_EQ(mat.strFile, "photo.png");
    ASSERT_EQ(mat.transparencyKeys.keys.size(), 2u);
    EXPECT_EQ(mat.transparencyKeys.keys[1].frame, 48.0f);

    ASSERT_EQ(m.numOfCameras, 1);
    const tCamera& cam = m.pCameras[0];
    EXPECT_EQ(cam.position.z, 10.0f);
    EXPECT_FLOAT_EQ(cam.fov, 0.8f);
    EXPECT_FLOAT_EQ(cam.aspect, 1.5f);
    EXPECT_FLOAT_EQ(cam.nearPlane, 0.5f);
    EXPECT_FLOAT_EQ(cam.farPlane, 500.0f);
    EXPECT_EQ(cam.translateKeys.x.keys.size(), 2u);
    EXPECT_EQ(cam.translateKeys.y.keys.size(), 1u);
    EXPECT_EQ(cam.fovKeys.keys.size(), 2u);

    ASSERT_EQ(m.numOfLights, 1);
    EXPECT_EQ(m.pLights[0].type, 1u);
    EXPECT_EQ(m.pLights[0].position.y, 2.0f);
    ASSERT_EQ(m.bendDeformers.size(), 1u);
    EXPECT_EQ(m.bendDeformers[0].params[3], 4.0f);
    EXPECT_EQ(m.bendDeformers[0].extra, 5.0f);

    EXPECT_EQ(m.startFrame, 0);
    EXPECT_EQ(m.endFrame, 48);
    EXPECT_EQ(m.curFrame, 10);
    ASSERT_EQ(m.keyRootNodes.size(), 1u);
    const tKeyMeshNode* node = m.keyRootNodes[0];
    EXPECT_EQ(node->strInstanceName, "Plane");
    EXPECT_EQ(node->nodeId, 1);
    EXPECT_EQ(node->translateKeys.x.keys.size(), 2u);
    EXPECT_TRUE(node->translateKeys.y.keys.empty());
    EXPECT_EQ(node->hideKeys.keys.size(), 2u);
    EXPECT_EQ(FindNodeIndex(m.keyRootNodes, 1), node);
    EXPECT_EQ(FindMaterial(&m, "Mat"), &m.pMaterials[0]);
    EXPECT_EQ(FindMaterial(&m, "mat"), nullptr);
    EXPECT_EQ(FindCamera(nullptr, "Cam"), nullptr);
    EXPECT_EQ(FindLight(&m, nullptr), nullptr);
}

TEST(SceneReaderTest, EveryTruncationFailsCleanly) {
    const std::vector<uint8_t> full = makeSampleScene();
    for (size_t len = 0; len < full.size(); ++len) {
        std::vector<uint8_t> cut(full.begin(), full.begin() + long(len));
        t3DModel m;
        EXPECT_FALSE(import(cut, m)) << "prefix of " << len << " bytes";
        EXPECT_EQ(m.numOfObjects, 0);
        EXPECT_TRUE(m.pObject.empty() && m.keyRootNodes.empty() && m.nodeStore.empty());
    }
    t3DModel m;
    EXPECT_TRUE(import(full, m));
}

TEST(SceneReaderTest, MainChunkRules) {
    t3DModel empty;
    EXPECT_TRUE(import({0x4D, 0x4D, 6, 0, 0, 0}, empty));
    EXPECT_EQ(empty.numOfObjects, 0);

    t3DModel wrong;
    std::string err;
    EXPECT_FALSE(import({0x3D, 0x3D, 6, 0, 0, 0}, wrong, &err));
    EXPECT_FALSE(err.empty());

    // The editor chunk's first child is consumed whole, whatever it is.
    ChunkWriter w;
    w.begin(0x4D4D).begin(0x3D3D);
    w.begin(0x4000).str("Lost").chunk(0x4100, [](ChunkWriter& c) { c.chunk(0x4110, [](ChunkWriter& v) { v.u16(0); }); }).end();
    w.begin(0x4000).str("Kept").chunk(0x4100, [](ChunkWriter& c) { c.chunk(0x4110, [](ChunkWriter& v) { v.u16(0); }); }).end();
    w.chunk(0x7777, [](ChunkWriter& c) { c.u32(1).u32(2); });  // unknown: skipped
    w.end().end();
    t3DModel m;
    ASSERT_TRUE(import(w.out, m));
    ASSERT_EQ(m.numOfObjects, 1);
    EXPECT_EQ(m.pObject[0].strName, "Kept");
}

TEST(SceneReaderTest, MeshAndMaterialDetails) {
    auto bytes = editorScene([](ChunkWriter& w) {
        w.begin(0x4000).str("M").begin(0x4100);
        w.chunk(0x4110, [](ChunkWriter& c) { c.u16(3).vec(0, 0, 0).vec(1, 0, 0).vec(0, 1, 0).u32(0xDEAD); });
        w.begin(0x4120).u16(1).u16(0).u16(1).u16(2).u16(0);
        w.chunk(0x4130, [](ChunkWriter& c) { c.str("First").u16(0); });
        w.chunk(0x4130, [](ChunkWriter& c) { c.str("Second").u16(0); });
        w.end().end().end();
        w.chunk(0xAFFF, [](ChunkWriter& c) {
            c.chunk(0xA000, [](ChunkWriter& s) { s.str(std::string(40, 'n')); });
            // A longer colour payload is cut to three bytes; a second sub-chunk is skipped.
            c.chunk(0xA010, [](ChunkWriter& s) {
                s.chunk(0x0011, [](ChunkWriter& t) { t.u8(1).u8(2).u8(3).u8(4); });
                s.chunk(0x0012, [](ChunkWriter& t) { t.u8(9).u8(9).u8(9); });
            });
            c.chunk(0xA040, [](ChunkWriter& s) { s.chunk(0x0030, [](ChunkWriter& t) { t.u16(uint16_t(-5)); }); });
        });
    });
    t3DModel m;
    std::string err;
    ASSERT_TRUE(import(bytes, m, &err)) << err;
    EXPECT_EQ(m.pObject[0].strMaterialName, "Second");
    EXPECT_EQ(m.pObject[0].numOfVerts, 3);
    const tMaterialInfo& mat = m.pMaterials[0];
    EXPECT_EQ(mat.strName.size(), 31u);
    EXPECT_EQ(mat.ambient.r, 1);
    EXPECT_EQ(mat.ambient.b, 3);
    EXPECT_EQ(mat.shininess, -5);
    EXPECT_EQ(mat.colorA021.r, 255);
    EXPECT_EQ(mat.diffuse.r, 0);
}

TEST(SceneReaderTest, TracksAndKeys) {
    auto bytes = keyframeScene([](ChunkWriter& w) {
        w.chunk(0xB009, [](ChunkWriter& c) { c.u32(1599); });
        w.chunk(0xB002, [](ChunkWriter& c) {
            c.nodeHeader("root");
            c.chunk(0xB030, [](ChunkWriter& s) { s.u16(7); });
            // Axis flags 0x5: an X and a Z timeline. The X key carries both optional blocks.
            c.chunk(0xB020, [](ChunkWriter& s) {
                s.u16(5).u16(0).u16(11).u16(12).u16(13);
                s.u32(1).f32(3).u16(0x60).u16(1).u32(0).u32(0).u16(2).u32(0).u32(0).f32(42);
                s.timeline({{5, 6}});
            });
        });
        w.chunk(0xB002, [](ChunkWriter& c) {
            c.nodeHeader("child", 7);
            c.chunk(0xB030, [](ChunkWriter& s) { s.u16(8); });
        });
        w.chunk(0xB002, [](ChunkWriter& c) {
            c.nodeHeader("orphan", 99);
            c.axisTrack(0xB020, 1, {{0, 1}});
        });
    });
    t3DModel m;
    std::string err;
    ASSERT_TRUE(import(bytes, m, &err)) << err;
    EXPECT_EQ(m.curFrame, 9);
    ASSERT_EQ(m.keyRootNodes.size(), 1u);
    const tKeyMeshNode* root = m.keyRootNodes[0];
    ASSERT_EQ(root->translateKeys.x.keys.size(), 1u);
    EXPECT_EQ(root->translateKeys.x.keys[0].value, 42.0f);
    EXPECT_EQ(root->translateKeys.x.keys[0].frame, 3.0f);
    EXPECT_EQ(root->translateKeys.x.headerTag, 11);
    EXPECT_TRUE(root->translateKeys.y.keys.empty());
    ASSERT_EQ(root->translateKeys.z.keys.size(), 1u);
    EXPECT_EQ(root->translateKeys.z.headerTag, 13);
    ASSERT_EQ(root->children.size(), 1u);
    EXPECT_EQ(root->children[0]->strNodeName, "child");
    EXPECT_EQ(root->children[0]->parent, root);
    EXPECT_EQ(m.nodeStore.size(), 2u);  // the orphan is gone
}

TEST(SceneReaderTest, HostileStructuresFailWithoutHarm) {
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
    };
    std::vector<Case> cases;
    // A chunk whose length is below its own header.
    cases.push_back({"short length", editorScene([](ChunkWriter& w) { w.u16(0x4000).u32(3); })});
    // A chunk that claims more than its parent holds.
    cases.push_back({"past parent", editorScene([](ChunkWriter& w) { w.u16(0x7000).u32(1000).u32(0); })});
    // A vertex count the chunk cannot hold.
    cases.push_back({"vertex count", editorScene([](ChunkWriter& w) {
                         w.begin(0x4000).str("m").begin(0x4100);
                         w.chunk(0x4110, [](ChunkWriter& c) { c.u16(60000).vec(0, 0, 0); });
                         w.end().end();
                     })});
    // A face that names a vertex the mesh lacks.
    cases.push_back({"face index", editorScene([](ChunkWriter& w) {
                         w.begin(0x4000).str("m").begin(0x4100);
                         w.chunk(0x4110, [](ChunkWriter& c) { c.u16(1).vec(0, 0, 0); });
                         w.chunk(0x4120, [](ChunkWriter& c) { c.u16(1).u16(0).u16(0).u16(5).u16(0); });
                         w.end().end();
                     })});
    // A key count far beyond the chunk.
    cases.push_back({"key count", keyframeScene([](ChunkWriter& w) {
                         w.chunk(0xB002, [](ChunkWriter& c) {
                             c.chunk(0xB020, [](ChunkWriter& s) { s.u16(1).u32(0).u32(0).u32(0xFFFFFFFF); });
                         });
                     })});
    // A name without its terminating NUL.
    cases.push_back({"unterminated", editorScene([](ChunkWriter& w) { w.u16(0x4000).u32(9).u8('a').u8('b').u8('c'); })});
    // Texture maps nested far deeper than any theme.
    {
        ChunkWriter w;
        w.begin(0x4D4D).begin(0x3D3D).chunk(0x3D3E, [](ChunkWriter&) {}).begin(0xAFFF);
        for (int i = 0; i < 5000; ++i) w.begin(0xA200);
        for (int i = 0; i < 5000; ++i) w.end();
        w.end().end().end();
        cases.push_back({"deep nesting", w.out});
    }
    for (const Case& c : cases) {
        t3DModel m;
        std::string err;
        EXPECT_FALSE(import(c.bytes, m, &err)) << c.name;
        EXPECT_FALSE(err.empty()) << c.name;
        EXPECT_TRUE(m.pObject.empty() && m.pMaterials.empty()) << c.name;
    }
}

TEST(SceneReaderTest, DegenerateFacesKeepNormalsFinite) {
    auto bytes = editorScene([](ChunkWriter& w) {
        w.begin(0x4000).str("m").begin(0x4100);
        w.chunk(0x4110, [](ChunkWriter& c) { c.u16(4).vec(0, 0, 0).vec(0, 0, 0).vec(1, 0, 0).vec(0, 1, 0); });
        w.chunk(0x4120, [](ChunkWriter& c) { c.u16(2).u16(0).u16(1).u16(2).u16(0).u16(1).u16(2).u16(3).u16(0); });
        w.end().end();
    });
    t3DModel m;
    ASSERT_TRUE(import(bytes, m));
    for (const Vector3& n : m.pObject[0].pNormals) {
        EXPECT_TRUE(std::isfinite(n.x) && std::isfinite(n.y) && std::isfinite(n.z));
    }
    Vector3 tiny(1e-8f, 0, 0);
    EXPECT_EQ(vec3::normalize(tiny), 0.0f);
    EXPECT_EQ(tiny.x, 1e-8f);
    Vector3 v(0, 3, 4);
    EXPECT_FLOAT_EQ(vec3::normalize(v), 5.0f);
    EXPECT_FLOAT_EQ(v.z, 0.8f);
}

TEST(SceneReaderTest, ReadsFilesOnceAndReportsMissingOnes) {
    std::string path = ::testing::TempDir() + "scene_reader_test.ziz";
    {
        auto bytes = makeSampleScene();
        std::ofstream f(path, std::ios::binary);
        f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }
    CZepLoad3DS reader;
    t3DModel m;
    EXPECT_TRUE(reader.Import3DS(&m, path.c_str()));
    EXPECT_EQ(m.numOfObjects, 1);
    t3DModel again;
    EXPECT_FALSE(reader.Import3DS(&again, path.c_str()));  // one import per reader
    std::remove(path.c_str());

    CZepLoad3DS other;
    t3DModel none;
    EXPECT_FALSE(other.Import3DS(&none, (path + ".missing").c_str()));
    EXPECT_FALSE(other.lastError().empty());

    // A pipe named as the scene file (nobody writing to it) is refused at once, not waited on.
    const std::string pipe = path + ".pipe";
    std::remove(pipe.c_str());
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    CZepLoad3DS third;
    t3DModel fromPipe;
    EXPECT_FALSE(third.Import3DS(&fromPipe, pipe.c_str()));
    EXPECT_EQ(third.lastError(), "the scene file is not a regular file");
    std::remove(pipe.c_str());

    // Seeds for the fuzz target, written when asked.
    if (const char* dir = std::getenv("KPV_WRITE_SCENE_SEEDS")) {
        auto write = [&](const std::string& name, const std::vector<uint8_t>& b) {
            std::ofstream f(std::string(dir) + "/" + name, std::ios::binary);
            f.write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
        };
        write("sample.ziz", makeSampleScene("t.png"));
        write("empty.ziz", {0x4D, 0x4D, 6, 0, 0, 0});
    }
}
