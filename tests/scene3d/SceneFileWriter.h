// Writes scene files (the chunk tree the reader takes) for tests and fuzz seeds.
#ifndef KPV_TESTS_SCENE3D_SCENEFILEWRITER_H
#define KPV_TESTS_SCENE3D_SCENEFILEWRITER_H

#include <cstdint>
#include <string>
#include <vector>

#include "../../tools/themes/ChunkWriter.h"

// A small theme: a textured quad "Plane" with material "Mat", a camera, a light, a bend
// deformer, and key frames moving the quad and fading the material over frames 0 to 48.
inline std::vector<uint8_t> makeSampleScene(const std::string& texture = "photo.png") {
    ChunkWriter w;
    w.begin(0x4D4D);
    w.chunk(0x0005, [](ChunkWriter& c) { c.u32(3); });
    w.begin(0x3D3D);
    w.chunk(0x3D3E, [](ChunkWriter& c) { c.u32(3); });
    w.chunk(0xAFFF, [&](ChunkWriter& c) {
        c.chunk(0xA000, [](ChunkWriter& s) { s.str("Mat"); });
        c.chunk(0xA020, [](ChunkWriter& s) { s.chunk(0x0011, [](ChunkWriter& t) { t.u8(255).u8(128).u8(0); }); });
        c.chunk(0xA050, [](ChunkWriter& s) { s.chunk(0x0030, [](ChunkWriter& t) { t.u16(20); }); });
        c.chunk(0xA200, [&](ChunkWriter& s) { s.chunk(0xA300, [&](ChunkWriter& t) { t.str(texture); }); });
    });
    w.begin(0x4000).str("Plane");
    w.begin(0x4100);
    w.chunk(0x4110, [](ChunkWriter& c) {
        c.u16(4).vec(0, 0, 0).vec(4, 0, 0).vec(4, 3, 0).vec(0, 3, 0);
    });
    w.chunk(0x4140, [](ChunkWriter& c) { c.u16(4).f32(0).f32(0).f32(1).f32(0).f32(1).f32(1).f32(0).f32(1); });
    w.begin(0x4120).u16(2).u16(0).u16(1).u16(2).u16(0).u16(0).u16(2).u16(3).u16(7);
    w.chunk(0x4130, [](ChunkWriter& c) { c.str("Mat").u16(2).u16(0).u16(1); });
    w.end();  // 0x4120
    w.end();  // 0x4100
    w.end();  // 0x4000
    w.begin(0x4000).str("Cam");
    w.chunk(0x4700, [](ChunkWriter& c) {
        c.vec(0, 0, 10).vec(0, 0, 0).vec(0, 0, 0).f32(0.8f);
        c.chunk(0x4710, [](ChunkWriter& s) { s.f32(1.5f); });
        c.chunk(0x4720, [](ChunkWriter& s) { s.f32(0.5f).f32(500); });
        c.chunk(0x4730, [](ChunkWriter& s) { s.vec(0, 1, 0); });
    });
    w.end();
    w.begin(0x4000).str("Lamp");
    w.chunk(0x4600, [](ChunkWriter& c) {
        c.vec(1, 2, 3);
        c.chunk(0x0010, [](ChunkWriter& s) { s.vec(1, 1, 1); });
        c.chunk(0x4680, [](ChunkWriter& s) { s.u32(1); });
    });
    w.end();
    w.begin(0x4000).str("Bend");
    w.chunk(0x4800, [](ChunkWriter& c) { c.f32(1).f32(2).f32(3).f32(4).f32(5); });
    w.end();
    w.end();  // 0x3D3D
    w.begin(0xB000);
    w.chunk(0xB008, [](ChunkWriter& c) { c.u32(0).u32(48); });
    w.chunk(0xB009, [](ChunkWriter& c) { c.u32(1600); });
    w.chunk(0xB002, [](ChunkWriter& c) {
        c.nodeHeader("PlaneNode");
        c.chunk(0xB011, [](ChunkWriter& s) { s.str("Plane"); });
        c.chunk(0xB030, [](ChunkWriter& s) { s.u16(1); });
        c.chunk(0xB015, [](ChunkWriter& s) { s.u32(1); });
        c.axisTrack(0xB020, 1, {{0, 0}, {48, 10}});
        c.singleTrack(0xB029, {{0, 0}, {24, 1}});
    });
    w.chunk(0xB003, [](ChunkWriter& c) {
        c.nodeHeader("Cam");
        c.axisTrack(0xB020, 7, {{0, 0}, {24, 1}}, {{0, 0}}, {{0, 10}});
        c.singleTrack(0xB023, {{0, 0.8f}, {48, 1.0f}});
    });
    w.chunk(0xB501, [](ChunkWriter& c) {
        c.nodeHeader("Mat");
        c.singleTrack(0xB502, {{0, 0}, {48, 1}});
    });
    w.end();  // 0xB000
    w.end();  // 0x4D4D
    return w.out;
}

#endif
