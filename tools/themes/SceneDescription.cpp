#include "SceneDescription.h"

#include "ChunkWriter.h"

namespace themes {

namespace {

using Pairs = std::vector<std::pair<float, float>>;

Pairs pairs(const Keys& keys) {
    Pairs out;
    for (const Key& k : keys) out.emplace_back(k.frame, k.value);
    return out;
}

void axisTrack(ChunkWriter& w, uint16_t id, const AxisKeys& keys) {
    if (keys.empty()) return;
    const uint16_t axes = uint16_t((keys.x.empty() ? 0 : 1) | (keys.y.empty() ? 0 : 2) | (keys.z.empty() ? 0 : 4));
    w.axisTrack(id, axes, pairs(keys.x), pairs(keys.y), pairs(keys.z));
}

void material(ChunkWriter& w, const Material& m) {
    w.chunk(0xAFFF, [&](ChunkWriter& c) {
        c.chunk(0xA000, [&](ChunkWriter& s) { s.str(m.name); });
        c.chunk(0xA020, [&](ChunkWriter& s) { s.chunk(0x0011, [&](ChunkWriter& t) { t.u8(m.r).u8(m.g).u8(m.b); }); });
        if (!m.texture.empty())
            c.chunk(0xA200, [&](ChunkWriter& s) { s.chunk(0xA300, [&](ChunkWriter& t) { t.str(m.texture); }); });
    });
}

void mesh(ChunkWriter& w, const Mesh& m) {
    const float x1 = m.x0 + m.width, y1 = m.y0 + m.height;
    w.begin(0x4000).str(m.name);
    w.begin(0x4100);
    w.chunk(0x4110, [&](ChunkWriter& c) { c.u16(4).vec(m.x0, m.y0, 0).vec(x1, m.y0, 0).vec(x1, y1, 0).vec(m.x0, y1, 0); });
    w.chunk(0x4140, [](ChunkWriter& c) { c.u16(4).f32(0).f32(0).f32(1).f32(0).f32(1).f32(1).f32(0).f32(1); });
    w.begin(0x4120).u16(2).u16(0).u16(1).u16(2).u16(0).u16(0).u16(2).u16(3).u16(0);
    w.chunk(0x4130, [&](ChunkWriter& c) { c.str(m.material).u16(2).u16(0).u16(1); });
    w.end();  // faces
    w.end();  // mesh
    w.end();  // object
}

void node(ChunkWriter& w, const Node& n, uint16_t id, uint16_t parent) {
    w.chunk(0xB002, [&](ChunkWriter& c) {
        c.nodeHeader(n.name, parent);
        c.chunk(0xB011, [&](ChunkWriter& s) { s.str(n.instance); });
        c.chunk(0xB030, [&](ChunkWriter& s) { s.u16(id); });
        c.chunk(0xB013, [&](ChunkWriter& s) {
            s.vec(0, 0, 0).vec(n.scale.x, n.scale.y, n.scale.z).vec(0, 0, 0).vec(0, 0, 0).vec(0, 0, 0);
            s.f32(0).f32(0).f32(0).f32(1);
            s.vec(n.rotate.x, n.rotate.y, n.rotate.z).vec(0, 0, 0).vec(n.translate.x, n.translate.y, n.translate.z);
        });
        axisTrack(c, 0xB020, n.move);
        axisTrack(c, 0xB021, n.turn);
        axisTrack(c, 0xB022, n.grow);
        if (!n.hide.empty()) c.singleTrack(0xB029, pairs(n.hide));
    });
}

}  // namespace

std::vector<uint8_t> writeScene(const Scene& scene) {
    ChunkWriter w;
    w.begin(0x4D4D);
    w.chunk(0x0005, [](ChunkWriter& c) { c.u32(3); });
    w.begin(0x3D3D);
    w.chunk(0x3D3E, [](ChunkWriter& c) { c.u32(3); });
    for (const Material& m : scene.materials) material(w, m);
    for (const Mesh& m : scene.meshes) mesh(w, m);
    const Camera& cam = scene.camera;
    w.begin(0x4000).str("Camera");
    w.chunk(0x4700, [&](ChunkWriter& c) {
        c.vec(cam.position.x, cam.position.y, cam.position.z).vec(cam.lookAt.x, cam.lookAt.y, cam.lookAt.z);
        c.vec(0, 0, 0).f32(cam.fov);
        c.chunk(0x4710, [&](ChunkWriter& s) { s.f32(cam.aspect); });
        c.chunk(0x4720, [&](ChunkWriter& s) { s.f32(cam.nearPlane).f32(cam.farPlane); });
        c.chunk(0x4730, [](ChunkWriter& s) { s.vec(0, 1, 0); });
    });
    w.end();
    w.end();  // 0x3D3D
    w.begin(0xB000);
    w.chunk(0xB008, [&](ChunkWriter& c) { c.u32(0).u32(uint32_t(scene.endFrame)); });
    // Node identifiers start at 1; a parent is written before its children.
    for (size_t i = 0; i < scene.nodes.size(); ++i) {
        const Node& n = scene.nodes[i];
        node(w, n, uint16_t(i + 1), n.parent < 0 ? uint16_t(0xFFFF) : uint16_t(n.parent + 1));
    }
    w.end();  // 0xB000
    w.end();  // 0x4D4D
    return w.out;
}

}  // namespace themes
