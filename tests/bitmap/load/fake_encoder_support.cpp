#include "fake_encoder.h"

#include <cstring>

#include "MCodec.h"
#include "MMemory.h"
#include "MdColorID.h"
#include "MdComponent.h"

namespace loadtest {

std::vector<int64_t> g_fakeQualities;

namespace {

struct Enc {
    MDecComponentHead head;
    MSTREAM stream = nullptr;
    int64_t width = 0, height = 0, colour = 0, quality = 80, written = 0, type = 0;
    bool headerDone = false;
};

Enc* self(MHandle h) { return static_cast<Enc*>(h); }

MResult init(MHandle h, MVoid* p) {
    auto* e = self(h);
    auto* d = static_cast<MCodecEncParam*>(p);
    if (!d || !d->stream || d->lWidth < 1 || d->lHeight < 1) return MERR_INVALID_PARAM;
    e->stream = d->stream;
    e->width = d->lWidth;
    e->height = d->lHeight;
    e->colour = int64_t(d->dwColor);
    return MOK;
}
MResult destroy(MHandle h) {
    delete self(h);
    return MOK;
}
MResult typeId(MHandle, MUInt64* id) {
    *id = 0x81002f00;
    return MOK;
}
MResult version(MHandle, MUInt64*, MUInt64*, MUInt64*, MChar*, MInt64) { return MOK; }
MResult getProp(MHandle h, MInt64 id, MVoid* v, MInt64 n) {
    if (id == 0x2101 && n == 8) return std::memcpy(v, &self(h)->quality, 8), MOK;
    return MERR_INVALID_PARAM;
}
MResult setProp(MHandle h, MInt64 id, MVoid* v, MInt64 n) {
    if (n != 8) return MERR_INVALID_PARAM;
    int64_t x;
    std::memcpy(&x, v, 8);
    if (id == 0x2101) {
        if (x < 0 || x > 100) return MERR_INVALID_PARAM;
        self(h)->quality = x;
    }
    return MOK;
}
MResult lines(MHandle h, MByte** planes, MInt64* pitches, MInt64 count) {
    auto* e = self(h);
    if (!e->headerDone) {
        g_fakeQualities.push_back(e->quality);
        const int64_t head[4] = {e->width, e->height, e->colour, e->quality};
        if (MStreamWrite(e->stream, "KPVF", 4) != 4 || MStreamWrite(e->stream, head, 32) != 32) return MERR_FILE_WRITE;
        e->headerDone = true;
    }
    const int64_t depth = int64_t(MdUtilsGetColorDepth(MUInt64(e->colour)));
    int64_t rowBytes = depth ? (e->width * depth + 7) / 8 : e->width;
    if (e->type == 2) rowBytes = rowBytes * e->quality / 100;
    for (int64_t y = 0; y < count && e->written < e->height; ++y, ++e->written) {
        const int64_t n = rowBytes;
        if (MStreamWrite(e->stream, &n, 8) != 8) return MERR_FILE_WRITE;
        if (n && MStreamWrite(e->stream, planes[0] + y * pitches[0], n) != n) return MERR_FILE_WRITE;
    }
    return MOK;
}

const MDecComponentFuncs kTable = {init, destroy, typeId, version, getProp, setProp,
                                   reinterpret_cast<MDEC_FNDECSCANLINES>(reinterpret_cast<void*>(lines))};

template <int Type> MResult create(AMCMHandle m, MHandle* out) {
    auto* e = new Enc;
    e->head.pFuncs = &kTable;
    e->head.hAMCM = m;
    e->type = Type;
    *out = e;
    return MOK;
}

} // namespace

void registerFakeEncoder(AMCMHandle m) {
    AMCM_RegisterEx(m, 0x81002f01, AMCM_TYPECLASS_ENCODER, 1, 3, create<1>);
    AMCM_RegisterEx(m, 0x81002f02, AMCM_TYPECLASS_ENCODER, 2, 3, create<2>);
    AMCM_RegisterEx(m, 0x81002f08, AMCM_TYPECLASS_ENCODER, 4, 3, create<8>);
}

FakeFile parseFake(const std::vector<uint8_t>& b) {
    FakeFile f;
    if (b.size() < 36 || std::memcmp(b.data(), "KPVF", 4) != 0) return f;
    int64_t head[4];
    std::memcpy(head, b.data() + 4, 32);
    f.width = head[0];
    f.height = head[1];
    f.colour = head[2];
    f.quality = head[3];
    size_t at = 36;
    while (at + 8 <= b.size()) {
        int64_t n;
        std::memcpy(&n, b.data() + at, 8);
        at += 8;
        if (n < 0 || at + size_t(n) > b.size()) return f;
        f.rows.emplace_back(b.begin() + ptrdiff_t(at), b.begin() + ptrdiff_t(at + size_t(n)));
        at += size_t(n);
    }
    f.ok = at == b.size();
    return f;
}

} // namespace loadtest
