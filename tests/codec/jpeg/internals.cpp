// Inverse transforms against a float model, Huffman table building, memory and stream layers.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "jpg_idct_impl.h"
#include "jpg_internal.h"

namespace {

// Direct 2-D inverse DCT (T.81 A.3.3) of dequantised coefficients, level-shifted, unclamped.
void floatIdct(const double* f, double* out) {
    const double pi = 3.14159265358979323846;
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
            double s = 0;
            for (int u = 0; u < 8; ++u) {
                for (int v = 0; v < 8; ++v) {
                    double cu = u ? 1 : std::sqrt(0.5), cv = v ? 1 : std::sqrt(0.5);
                    s += cu * cv * f[u * 8 + v] * std::cos((2 * y + 1) * u * pi / 16) *
                         std::cos((2 * x + 1) * v * pi / 16);
                }
            }
            out[y * 8 + x] = s / 4 + 128;
        }
    }
}

int clampRound(double v) {
    long r = std::lround(v);
    return int(r < 0 ? 0 : r > 255 ? 255 : r);
}

struct Block {
    int16_t coef[64];
    uint16_t q[64];
};

Block randomBlock(std::mt19937& rng, int density) {
    Block b{};
    std::uniform_int_distribution<int> quant(1, 60), pick(0, 99), val(-40, 40);
    for (int i = 0; i < 64; ++i) {
        b.q[i] = uint16_t(quant(rng));
        if (i == 0 || pick(rng) < density) {
            int c = val(rng) * (i == 0 ? 4 : 1) / (1 + i / 16);
            // Keep within what 8-bit samples can produce: |coefficient x quantiser| <= 1024.
            int limit = 1024 / b.q[i];
            b.coef[i] = int16_t(c > limit ? limit : c < -limit ? -limit : c);
        }
    }
    return b;
}

void dqTable(const Block& b, int shift, int32_t* dq) {
    for (int i = 0; i < 64; ++i) {
        dq[i] = int32_t(b.q[i]) * jpg_idct_scale_tbl[shift][i];
    }
}

} // namespace

TEST(JpegIdct, FullSizeMatchesTheFloatModelWithinOne) {
    std::mt19937 rng(1);
    int worst = 0;
    for (int n = 0; n < 3000; ++n) {
        Block b = randomBlock(rng, n % 100);
        double f[64], ref[64];
        for (int i = 0; i < 64; ++i) {
            f[i] = double(b.coef[i]) * b.q[i];
        }
        floatIdct(f, ref);
        int32_t dq[64];
        dqTable(b, 0, dq);
        for (bool portable : {true, false}) {
            Block c = b;
            uint8_t out[8 * 10];
            if (portable) {
                JpgIdct8Portable(out, c.coef, 1, 10, dq, 63);
            } else {
                JpgDQIDCT8(out, c.coef, 1, 10, dq, 0, 63, nullptr);
            }
            for (int y = 0; y < 8; ++y) {
                for (int x = 0; x < 8; ++x) {
                    int e = std::abs(out[y * 10 + x] - clampRound(ref[y * 8 + x]));
                    worst = e > worst ? e : worst;
                }
            }
            for (int i = 0; i < 64; ++i) {
                ASSERT_EQ(c.coef[i], 0); // the transform leaves the block cleared
            }
        }
    }
    EXPECT_LE(worst, 1);
}

TEST(JpegIdct, ReducedSizesFollowTheBoxAverageOfTheFloatModel) {
    std::mt19937 rng(2);
    const JpgIdctFn fns[4] = {JpgDQIDCT8, JpgDQIDCT4, JpgDQIDCT2, JpgDQIDCT1};
    for (int shift = 1; shift <= 3; ++shift) {
        int n = 8 >> shift;
        double worst = 0;
        for (int k = 0; k < 1000; ++k) {
            Block b = randomBlock(rng, 40);
            double f[64], ref[64];
            for (int i = 0; i < 64; ++i) {
                f[i] = double(b.coef[i]) * b.q[i];
            }
            floatIdct(f, ref);
            int32_t dq[64];
            dqTable(b, shift, dq);
            // Pixel step 1 may take a vector path, step 2 always the portable one.
            uint8_t out[64], wide[128];
            Block copy = b, third = b;
            fns[shift](out, b.coef, 1, n, dq, 0, 63, nullptr);
            fns[shift](wide, copy.coef, 2, 2 * n, dq, 0, 63, nullptr);
            // At a quarter the decoder runs the vector transform from weights made once per table.
            uint8_t weighed[4] = {};
            const bool hasWeighed = shift == 2 && JpgIdct2Weighted;
            if (hasWeighed) {
                float w[kJpgIdct2Weights];
                JpgIdct2Weigh(dq, w);
                JpgIdct2Weighted(weighed, third.coef, 2, w, 63);
                for (int i = 0; i < 64; ++i) {
                    ASSERT_EQ(third.coef[i], 0);
                }
            }
            for (int y = 0; y < n; ++y) {
                for (int x = 0; x < n; ++x) {
                    EXPECT_LE(std::abs(out[y * n + x] - wide[y * 2 * n + 2 * x]), 1);
                    if (hasWeighed) {
                        EXPECT_LE(std::abs(out[y * n + x] - weighed[y * n + x]), 1);
                    }
                    double avg = 0;
                    int s = 1 << shift;
                    for (int yy = 0; yy < s; ++yy) {
                        for (int xx = 0; xx < s; ++xx) {
                            avg += ref[(y * s + yy) * 8 + x * s + xx];
                        }
                    }
                    avg /= s * s;
                    if (avg > 1 && avg < 254) {
                        double e = std::abs(out[y * n + x] - avg);
                        worst = e > worst ? e : worst;
                    }
                }
            }
        }
        EXPECT_LE(worst, 1.0) << "shift " << shift;
    }
}

// The decoder tells each transform the block's last zig-zag index, and the reduced ones leave out
// what lies beyond it: a block told its true last index comes out as when told 63.
TEST(JpegIdct, ReducedSizesGiveTheSameSamplesWhenToldTheLastIndex) {
    std::mt19937 rng(3);
    const JpgIdctFn fns[4] = {JpgDQIDCT8, JpgDQIDCT4, JpgDQIDCT2, JpgDQIDCT1};
    for (int shift = 1; shift <= 3; ++shift) {
        const int n = 8 >> shift;
        for (int k = 0; k < 640; ++k) {
            const int last = k % 64;
            Block b = randomBlock(rng, 60);
            for (int i = last + 1; i < 64; ++i) {
                b.coef[jpg_natural_order[i]] = 0;
            }
            int32_t dq[64];
            dqTable(b, shift, dq);
            Block told = b, weighedAll = b, weighedTold = b;
            uint8_t all[64], cut[64];
            fns[shift](all, b.coef, 1, n, dq, 0, 63, nullptr);
            fns[shift](cut, told.coef, 1, n, dq, 0, last, nullptr);
            ASSERT_EQ(0, std::memcmp(all, cut, size_t(n) * n)) << "shift " << shift << ", last index " << last;
            for (int i = 0; i < 64; ++i) {
                ASSERT_EQ(told.coef[i], 0);
            }
            if (shift == 2 && JpgIdct2Weighted) {
                float w[kJpgIdct2Weights];
                JpgIdct2Weigh(dq, w);
                JpgIdct2Weighted(all, weighedAll.coef, 2, w, 63);
                JpgIdct2Weighted(cut, weighedTold.coef, 2, w, last);
                ASSERT_EQ(0, std::memcmp(all, cut, 4)) << "weighed, last index " << last;
                for (int i = 0; i < 64; ++i) {
                    ASSERT_EQ(weighedTold.coef[i], 0);
                }
            }
        }
    }
}

TEST(JpegIdct, ExtremeCoefficientsAndQuantisersSaturateWithoutOverflow) {
    int32_t dq[64];
    for (int shift = 0; shift < 4; ++shift) {
        for (int i = 0; i < 64; ++i) {
            dq[i] = 65535 * int32_t(jpg_idct_scale_tbl[shift][i]);
        }
        const JpgIdctFn fns[4] = {JpgDQIDCT8, JpgDQIDCT4, JpgDQIDCT2, JpgDQIDCT1};
        for (int16_t v : {int16_t(32767), int16_t(-32768)}) {
            int16_t coef[64];
            for (int i = 0; i < 64; ++i) {
                coef[i] = (i % 3) ? v : int16_t(-v - 1);
            }
            uint8_t out[64];
            fns[shift](out, coef, 1, 8, dq, 0, 63, nullptr);
            if (shift == 0) {
                JpgIdct8Portable(out, coef, 1, 8, dq, 63);
            }
        }
    }
    int16_t dc[64] = {-32768};
    uint8_t one = 7;
    JpgDQIDCT1(&one, dc, 1, 8, dq, 0, 0, nullptr);
    EXPECT_EQ(one, 0);
}

namespace {

struct FakeDecoder {
    JpgDecoder d{};
    FakeDecoder() { d.allocTable = nullptr; }
    ~FakeDecoder() {
        for (JpgHuffTable* t = d.tables; t;) {
            JpgHuffTable* next = t->next;
            JpgDecFree(&d, t);
            t = next;
        }
    }
};

// A reader over fixed bytes, without a stream.
struct BitSource {
    std::vector<uint8_t> buf;
    JpgBitReader br{};
    explicit BitSource(std::vector<uint8_t> bytes) : buf(std::move(bytes)) {
        buf.resize(buf.size() + 200);
        br.buf = buf.data();
        br.bufSize = 64;
        br.cap = uint32_t(buf.size() - 16);
        br.valid = uint32_t(buf.size() - 200);
        br.end = true;
        br.p = br.buf;
        br.buf[br.valid++] = 0xFF;
        br.buf[br.valid++] = 0xD9;
    }
};

} // namespace

TEST(JpegHuffman, LongCodesUnderManyPrefixesGetASecondLevelSizedForThem) {
    // 1 code of length 1, 125 of length 8, 1 of length 9 and 129 of length 16: the 16-bit
    // codes run from 0xFD80 to 0xFE00, across two 8-bit prefixes that need 256 entries each.
    uint8_t counts[16] = {1, 0, 0, 0, 0, 0, 0, 125, 1, 0, 0, 0, 0, 0, 0, 129};
    uint8_t values[256];
    for (int i = 0; i < 256; ++i) {
        values[i] = uint8_t(i);
    }
    FakeDecoder f;
    JpgHuffTable* t = nullptr;
    ASSERT_EQ(JpgDecSetHuffTable(&f.d, counts, values, &t), 0);
    EXPECT_EQ(t->size, 256u + 512u);
    const struct {
        std::vector<uint8_t> bits;
        int symbol;
    } cases[] = {{{0x00}, 0}, // 0xFF bytes carry their stuffing byte
                         {{0x80}, 1},        {{0xFC}, 125},       {{0xFD, 0x00}, 126},
                 {{0xFD, 0x80}, 127}, {{0xFD, 0xFF, 0x00}, 254}, {{0xFE, 0x00}, 255}, {{0xFE, 0x01}, -1},
                 {{0xFF, 0x00}, -1}};
    for (const auto& c : cases) {
        BitSource src(c.bits);
        JpgBrFill(&src.br);
        EXPECT_EQ(JpgHufDecode(&src.br, t), c.symbol) << int(c.bits[0]);
    }
}

TEST(JpegHuffman, UnusedEntriesAreInvalidAndOverfullTablesRefused) {
    uint8_t counts[16] = {1};
    uint8_t values[1] = {5};
    FakeDecoder f;
    JpgHuffTable* t = nullptr;
    ASSERT_EQ(JpgDecSetHuffTable(&f.d, counts, values, &t), 0);
    BitSource one({0x80});
    JpgBrFill(&one.br);
    EXPECT_EQ(JpgHufDecode(&one.br, t), -1);
    BitSource zero({0x00});
    JpgBrFill(&zero.br);
    EXPECT_EQ(JpgHufDecode(&zero.br, t), 5);
    uint8_t full[16] = {2, 1};
    EXPECT_EQ(JpgDecSetHuffTable(&f.d, full, values, &t), JPG_ERR_PARAM);
}

namespace {

struct Pool {
    int allocs = 0, frees = 0;
    bool fail = false;
};
void* poolAlloc(int64_t size, void* user) {
    auto* p = static_cast<Pool*>(user);
    if (p->fail) {
        return nullptr;
    }
    p->allocs++;
    // Deliberately misaligned by 3 bytes.
    auto* raw = static_cast<uint8_t*>(std::malloc(size_t(size) + 3));
    return raw + 3;
}
void poolFree(void* block, void* user) {
    static_cast<Pool*>(user)->frees++;
    std::free(static_cast<uint8_t*>(block) - 3);
}

} // namespace

TEST(JpegMemory, CallbackSlotsAlignmentAndFallback) {
    Pool pool;
    void* table[JPG_ALLOC_SLOTS] = {};
    std::vector<void*> blocks;
    for (int i = 0; i < 19; ++i) {
        void* b = JpgMemAlloc(100, poolAlloc, table, &pool);
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(b) % 16, 0u);
        std::memset(b, 0xAB, 100);
        blocks.push_back(b);
    }
    EXPECT_EQ(pool.allocs, 18); // the 19th came from the runtime heap
    for (void* b : blocks) {
        JpgMemFree(b, poolFree, table, &pool);
    }
    EXPECT_EQ(pool.frees, 18);
    pool.fail = true;
    void* b = JpgMemAlloc(10, poolAlloc, table, &pool);
    ASSERT_NE(b, nullptr);
    JpgMemFree(b, poolFree, table, &pool);
    EXPECT_EQ(pool.frees, 18);
    JpgMemFree(nullptr, poolFree, table, &pool);
    char buf[4] = {1, 2, 3, 4};
    EXPECT_EQ(JpgMemSet(buf, 0x1FF, 2), buf);
    EXPECT_EQ(buf[0], char(0xFF));
    EXPECT_EQ(buf[2], 3);
}

TEST(JpegMemory, StreamCallsOnANullStreamDoNothing) {
    char b[4];
    int calls = 0;
    auto cb = [](int32_t, void*, void*) -> int32_t { return 99; };
    EXPECT_EQ(JpgStreamRead(nullptr, b, 4, cb), 0);
    EXPECT_EQ(JpgStreamWrite(nullptr, b, 4, cb), 0);
    EXPECT_EQ(JpgStreamSeek(nullptr, 0, 0, cb), 0);
    EXPECT_EQ(JpgStreamTell(nullptr, cb), 0);
    EXPECT_EQ(JpgStreamFlush(nullptr, cb), 0);
    EXPECT_EQ(JpgStreamRead(&calls, b, 4, cb), 99);
    EXPECT_EQ(JpgStreamRead(nullptr, b, 4, nullptr), 0);
}
