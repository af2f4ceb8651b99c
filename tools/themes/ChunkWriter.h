// Writes scene files: the chunk tree the engine's scene-file reader takes (u16 identifier, u32
// length counting the 6-byte header, little-endian). Used by the theme generator and by tests.
#ifndef KPV_TOOLS_THEMES_CHUNKWRITER_H
#define KPV_TOOLS_THEMES_CHUNKWRITER_H

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

class ChunkWriter {
public:
    ChunkWriter& begin(uint16_t id) {
        open.push_back(out.size());
        u16(id);
        u32(0);  // patched by end()
        return *this;
    }
    ChunkWriter& end() {
        size_t start = open.back();
        open.pop_back();
        uint32_t len = uint32_t(out.size() - start);
        for (int i = 0; i < 4; ++i) out[start + 2 + i] = uint8_t(len >> (8 * i));
        return *this;
    }
    ChunkWriter& u8(uint8_t v) {
        out.push_back(v);
        return *this;
    }
    ChunkWriter& u16(uint16_t v) {
        out.push_back(uint8_t(v));
        out.push_back(uint8_t(v >> 8));
        return *this;
    }
    ChunkWriter& u32(uint32_t v) {
        for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
        return *this;
    }
    ChunkWriter& f32(float f) {
        uint32_t bits;
        std::memcpy(&bits, &f, 4);
        return u32(bits);
    }
    ChunkWriter& vec(float x, float y, float z) { return f32(x).f32(y).f32(z); }
    ChunkWriter& str(const std::string& s) {
        out.insert(out.end(), s.begin(), s.end());
        out.push_back(0);
        return *this;
    }
    // A whole chunk with a payload written by the callable.
    template <typename F>
    ChunkWriter& chunk(uint16_t id, F body) {
        begin(id);
        body(*this);
        return end();
    }
    // A timeline of (frame, value) keys with flags 0.
    ChunkWriter& timeline(const std::vector<std::pair<float, float>>& keys) {
        u32(uint32_t(keys.size()));
        for (auto& [frame, value] : keys) f32(frame).u16(0).f32(value);
        return *this;
    }
    ChunkWriter& singleTrack(uint16_t id, const std::vector<std::pair<float, float>>& keys) {
        return chunk(id, [&](ChunkWriter& w) { w.u16(0).u32(0).u32(0).timeline(keys); });
    }
    // Three-axis track with the given axes (bit 1 X, 2 Y, 4 Z) sharing one key list.
    ChunkWriter& axisTrack(uint16_t id, uint16_t axes, const std::vector<std::pair<float, float>>& x,
                           const std::vector<std::pair<float, float>>& y = {},
                           const std::vector<std::pair<float, float>>& z = {}) {
        return chunk(id, [&](ChunkWriter& w) {
            w.u16(axes).u16(0).u16(0).u16(0).u16(0);
            if (axes & 1) w.timeline(x);
            if (axes & 2) w.timeline(y);
            if (axes & 4) w.timeline(z);
        });
    }
    ChunkWriter& nodeHeader(const std::string& name, uint16_t parent = 0xFFFF) {
        return chunk(0xB010, [&](ChunkWriter& w) { w.str(name).u16(0).u16(0).u16(parent); });
    }

    std::vector<uint8_t> out;
    std::vector<size_t> open;
};

#endif
