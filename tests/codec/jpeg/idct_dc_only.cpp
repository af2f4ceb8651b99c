// The inverse transforms of blocks that carry only their DC coefficient (the shortcut taken when the
// last non-zero coefficient is the first) against the exact value of the float model, with the mean
// of the signed error: a flat block one level off everywhere is a visible bias that a per-sample
// tolerance of two would let through.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "JpgIdct.h"

namespace {

int clampSample(long v) { return int(v < 0 ? 0 : v > 255 ? 255 : v); }

// The float model of a block whose only coefficient is the DC: every sample is F(0,0) / 8,
// level-shifted, rounded and clamped. A value exactly half-way between two levels may go to
// either (the transforms break ties differently, each within half a level): the sample the
// transform gave is returned for it when it is one of the two.
int modelSample(int coef, int quant, int ours) {
    const double exact = double(coef) * quant / 8.0 + 128.0;
    if (exact - std::floor(exact) == 0.5) {
        const int low = clampSample(long(std::floor(exact))), high = clampSample(long(std::ceil(exact)));
        if (ours == low || ours == high) return ours;
    }
    return clampSample(std::lround(exact));
}

struct Errors {
    long samples = 0;
    long signedSum = 0;
    int worst = 0;
    void add(int ours, int model) {
        const int e = ours - model;
        signedSum += e;
        worst = std::max(worst, std::abs(e));
        ++samples;
    }
    double mean() const { return samples ? double(signedSum) / double(samples) : 0; }
};

} // namespace

// Every DC value that 8-bit samples can produce, a spread of quantisers, each transform size, the
// vector-friendly step 1 and the interleaved step 2.
TEST(JpegIdctDcOnly, EveryDcValueMatchesTheFloatModelWithoutBias) {
    const JpgIdctFn fns[4] = {JpgDQIDCT8, JpgDQIDCT4, JpgDQIDCT2, JpgDQIDCT1};
    for (int shift = 0; shift < 4; ++shift) {
        const int n = 8 >> shift;
        Errors errors;
        for (int quant : {1, 2, 3, 5, 7, 8, 13, 16, 37, 64, 99, 255}) {
            int32_t dq[64];
            for (int i = 0; i < 64; ++i) dq[i] = quant * jpg_idct_scale_tbl[shift][i];
            const int limit = 1100 / quant + 1; // a little past the sample range, to see the clamp
            for (int coef = -limit; coef <= limit; ++coef) {
                for (int step : {1, 2}) {
                    int16_t block[64] = {};
                    block[0] = int16_t(coef);
                    uint8_t out[8 * 20];
                    std::memset(out, 0xA5, sizeof out);
                    const int pitch = n * step + 3;
                    fns[shift](out, block, step, pitch, dq, 0, 0, nullptr);
                    for (int y = 0; y < n; ++y)
                        for (int x = 0; x < n; ++x) {
                            const int ours = out[y * pitch + x * step];
                            errors.add(ours, modelSample(coef, quant, ours));
                        }
                    EXPECT_EQ(block[0], 0) << "the block is left cleared";
                }
            }
        }
        SCOPED_TRACE(testing::Message() << "size " << n);
        EXPECT_LE(errors.worst, 0);
        EXPECT_LE(std::abs(errors.mean()), 0.01);
    }
}

// A DC-only block must give the same samples whether or not the caller knew it was DC-only:
// otherwise flat areas show seams where neighbouring blocks took different routes.
TEST(JpegIdctDcOnly, TheShortcutAgreesWithTheFullTransformOfTheSameBlock) {
    Errors errors;
    for (int quant : {1, 4, 11, 16, 50}) {
        int32_t dq[64];
        for (int i = 0; i < 64; ++i) dq[i] = quant * jpg_idct_scale_tbl[0][i];
        const int limit = 1024 / quant;
        for (int coef = -limit; coef <= limit; ++coef) {
            int16_t shortcut[64] = {}, full[64] = {};
            shortcut[0] = full[0] = int16_t(coef);
            uint8_t a[64], b[64];
            JpgDQIDCT8(a, shortcut, 1, 8, dq, 0, 0, nullptr);
            JpgDQIDCT8(b, full, 1, 8, dq, 0, 63, nullptr);
            for (int i = 0; i < 64; ++i) errors.add(a[i], b[i]);
        }
    }
    EXPECT_LE(errors.worst, 0);
    EXPECT_EQ(errors.signedSum, 0);
}
