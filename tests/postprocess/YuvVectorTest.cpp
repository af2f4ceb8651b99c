// Every vector level against the portable path: the same job run with the level forced down to
// portable and forced to each level the CPU has must leave the target byte for byte the same.
// Images have odd and even sizes from 1 to 67, padded row pitches, and planes that end exactly at
// their last byte, so that a read or write past a row's end is either caught by the address
// sanitizer or shows up as a changed padding byte.
#include "MPP.h"
#include "PPCpu.h"
#include "PPSimdYuvRgb.h"
#include "PlaneBuffers.h"
#include "SimdLevels.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr MInt64 kI420 = 0x50000811, kI440 = 0x50000801, kI422 = 0x50000810, kI444 = 0x50000800;
constexpr MInt64 kYV12 = 0x50000a11, kGrey = 0x64000000, kYUYV = 0x50000010;
constexpr MInt64 kNV21 = 0x70000002, kNV12 = 0x70000003, kNV16 = 0x70000004, kNV61 = 0x70000005;

// Bytes per row and rows of each plane of a layout (width w, height h); chroma planes of the
// semi-planar layouts hold interleaved pairs.
struct PlaneShape {
    MInt64 rowBytes, rows;
};
std::vector<PlaneShape> shapes(MInt64 id, MInt64 w, MInt64 h)
{
    const MInt64 cw = (w + 1) / 2, ch = (h + 1) / 2;
    switch (id & ~MInt64{0x3000}) {
    case kI420: case kYV12: return {{w, h}, {cw, ch}, {cw, ch}};
    case kI440: return {{w, h}, {w, ch}, {w, ch}};
    case kI422: return {{w, h}, {cw, h}, {cw, h}};
    case kI444: return {{w, h}, {w, h}, {w, h}};
    case kNV21: case kNV12: return {{w, h}, {2 * cw, ch}};
    case kNV16: case kNV61: return {{w, h}, {2 * cw, h}};
    case kGrey: return {{w, h}};
    case kYUYV: return {{4 * cw, h}};
    default: break;
    }
    // Packed RGB: bits per pixel from the colour ID's nibble (5: 16, 6: 24, 7: 32).
    const MInt64 bytes = ((id >> 24) & 0xF) - 3;
    return {{w * bytes, h}};
}

// One image: planes with random padding after each row, the last row unpadded.
struct Image : PlaneBuffers {
    Image(MInt64 id, MInt64 w, MInt64 h, std::mt19937& rng)
    {
        std::uniform_int_distribution<MInt64> pad(0, 13);
        for (const PlaneShape& s : shapes(id, w, h)) {
            const MInt64 p = s.rowBytes + pad(rng);
            add(static_cast<int>(bufs.size()), p, static_cast<size_t>(p * (s.rows - 1) + s.rowBytes));
            for (size_t k = 0; k < sizes.back(); ++k)
                bufs.back()[k] = static_cast<MByte>(rng());
        }
        const MInt64 base = id & ~MInt64{0x3000};
        if (base == kNV21 || base == kNV12 || base == kNV16 || base == kNV61) {
            // The lower address of each pair holds V for the first layout of each pair of codes.
            MByte* pairs = ptr[1];
            const bool vFirst = base == kNV21 || base == kNV16;
            ptr[1] = vFirst ? pairs + 1 : pairs;
            ptr[2] = vFirst ? pairs : pairs + 1;
            pitch[2] = pitch[1];
        }
    }
};

struct Job {
    MInt64 dstID, srcID, dw, dh, sw, sh;
    PPPara para{};
    std::string describe() const
    {
        char text[200];
        std::snprintf(text, sizeof text, "dst %llx %lldx%lld src %llx %lldx%lld resample %lld orient %lld block %lld",
                      static_cast<unsigned long long>(dstID), static_cast<long long>(dw), static_cast<long long>(dh),
                      static_cast<unsigned long long>(srcID), static_cast<long long>(sw), static_cast<long long>(sh),
                      static_cast<long long>(para.lResampleMode), static_cast<long long>(para.lOrientation),
                      static_cast<long long>(para.lBlockMode));
        return text;
    }
};

// Runs the job at the portable level and at every vector level over the same random target and
// expects the same bytes. False when the engine refused the job.
bool sameAtEveryLevel(const Job& job, std::mt19937& rng)
{
    LevelGuard guard;
    PPFormat dst{job.dstID, job.dw, job.dh, nullptr}, src{job.srcID, job.sw, job.sh, nullptr};
    PPPara para = job.para;
    PPHandle h = nullptr;
    if (MPPCreate(&dst, &src, &para, &h) != MOK)
        return false;
    Image in(job.srcID, job.sw + job.para.lSrcOriginX, job.sh + job.para.lSrcOriginY, rng);
    Image out(job.dstID, job.dw, job.dh, rng);
    const std::vector<MByte> before = out.bytes();
    const MByte* sp[3] = {in.ptr[0], in.ptr[1], in.ptr[2]};
    const auto run = [&](PPSimd level) {
        out.restore(before);
        EXPECT_EQ(PPSetSimdLevel(level), level);
        EXPECT_EQ(MPProcess(h, out.ptr, nullptr, out.pitch, sp, in.pitch), MOK);
        return out.bytes();
    };
    const std::vector<MByte> portable = run(PPSimd::Portable);
    for (PPSimd level : vectorLevels())
        EXPECT_EQ(run(level), portable) << PPSimdName(level) << ": " << job.describe();
    MPPDestroy(h);
    return true;
}

TEST(YuvVector, CpuLevelIsForcedAndRestored)
{
    LevelGuard guard;
    EXPECT_EQ(PPSetSimdLevel(PPSimd::Portable), PPSimd::Portable);
    EXPECT_EQ(PPSimdLevel(), PPSimd::Portable);
    // A level the CPU lacks is clamped to the CPU's best, never granted.
    EXPECT_EQ(PPSetSimdLevel(PPSimd::AVX2), PPSimdBest());
    EXPECT_EQ(PPSimdLevel(), PPSimdBest());
}

// YUV into every RGB target the engine writes from YUV: random sizes, orientations, block modes,
// ranges, adjustments and alpha; one to one mostly, since that is where the vector rows work.
TEST(YuvVector, YuvToRgbMatchesThePortablePath)
{
    if (vectorLevels().empty())
        GTEST_SKIP() << "this CPU has no vector level to compare";
    const MInt64 sources[] = {kI420, kI422, kI440, kI444, kYV12, kNV21, kNV12, kNV16, kNV61, kGrey, kYUYV};
    const MInt64 targets[] = {0x16000777, 0x16001777, 0x17001777, 0x17000777, 0x37001777,
                              0x15000454, 0x15001454, 0x15000444, 0x16000555};
    const MInt64 blocks[] = {1, 2, 3, 4, 256, 256};
    std::mt19937 rng(4242);
    std::uniform_int_distribution<MInt64> extent(1, 67), pick(0, 1000), origin(0, 4), adjust(-60, 60);
    const int64_t vectorBefore = PPDebugVectorYuvBands();
    int accepted = 0;
    for (int i = 0; i < 1500; ++i) {
        Job job{targets[static_cast<size_t>(i) % std::size(targets)],
                sources[static_cast<size_t>(i / 9) % std::size(sources)] | (pick(rng) % 4) << 12,
                extent(rng), extent(rng), 0, 0};
        job.para.lBlockMode = blocks[static_cast<size_t>(pick(rng)) % std::size(blocks)];
        job.para.lResampleMode = pick(rng) % 3 ? PP_RESAMPLE_NEAREST : PP_RESAMPLE_BILINEAR;
        job.para.lOrientation = pick(rng) % 3 ? (pick(rng) % 2) * PP_ORIENT_MIRROR_TB : pick(rng) % 8;
        job.para.lAlpha = pick(rng) % 300;
        const bool swap = job.para.lOrientation & PP_ORIENT_SWAPXY;
        job.sw = swap ? job.dh : job.dw;
        job.sh = swap ? job.dw : job.dh;
        if (i % 7 == 3) { // scaled: the portable path does these, at every level
            job.sw = extent(rng);
            job.sh = extent(rng);
        }
        if (i % 5 == 0) {
            job.para.lSrcOriginX = origin(rng);
            job.para.lSrcOriginY = origin(rng);
        }
        if (i % 4 == 0) {
            job.para.lBrightness = adjust(rng);
            job.para.lContrast = adjust(rng);
            job.para.lSaturation = adjust(rng);
        }
        if (i % 11 == 0)
            job.para.lDither = 1; // dithered 16-bit targets stay on the portable path
        accepted += sameAtEveryLevel(job, rng);
        if (::testing::Test::HasFailure())
            return;
    }
    EXPECT_GT(accepted, 1200);
    EXPECT_GT(PPDebugVectorYuvBands(), vectorBefore + 500) << "the vector rows hardly ran";
}

// Full-width rows of a frame as video players hand them over: long rows, every block and tail,
// both byte orders of 32-bit targets and both orders of interleaved chroma pairs, each pair of
// layouts through the vector rows.
TEST(YuvVector, LongRowsMatchThePortablePath)
{
    if (vectorLevels().empty())
        GTEST_SKIP() << "this CPU has no vector level to compare";
    std::mt19937 rng(99);
    for (MInt64 src : {kI420, kNV12, kNV21, kI422, kI444})
        for (MInt64 dst : {0x16000777, 0x17000777, 0x17001777, 0x15000454}) {
            const int64_t vectorBefore = PPDebugVectorYuvBands();
            for (MInt64 w : {256, 257, 300})
                for (MInt64 block : {1, 256}) {
                    Job job{dst, src, w, 20, w, 20};
                    job.para.lBlockMode = block;
                    job.para.lResampleMode = PP_RESAMPLE_NEAREST;
                    EXPECT_TRUE(sameAtEveryLevel(job, rng)) << job.describe();
                }
            EXPECT_GT(PPDebugVectorYuvBands(), vectorBefore)
                << std::hex << "no vector row from " << src << " into " << dst;
        }
}

// Quarter turns, mirrors and copies between YUV layouts at one to one: luma transposed in blocks
// of 16 rows, chroma in blocks of 16 samples per component, on every layout pair whose turns the
// vector blocks serve, beside a few they leave alone.
TEST(YuvVector, TurnsMatchThePortablePath)
{
    if (vectorLevels().empty())
        GTEST_SKIP() << "this CPU has no vector level to compare";
    struct Pair {
        MInt64 dst, src;
    };
    const Pair pairs[] = {{kI420, kNV21}, {kNV21, kNV21}, {kNV12, kNV12}, {kNV12, kNV21}, {kNV21, kNV12},
                          {kNV21, kI420}, {kNV12, kI444}, {kNV21, kGrey}, {kNV16, kNV16}, {kNV16, kI420},
                          {kNV16, kI422}, {kNV21, kI440}, {kI420, kI420}, {kI444, kI444}, {kI420, kYUYV}};
    const MInt64 blocks[] = {1, 2, 3, 256};
    std::mt19937 rng(77);
    std::uniform_int_distribution<MInt64> extent(1, 67), pick(0, 1000);
    int accepted = 0;
    for (int i = 0; i < 1200; ++i) {
        const Pair& p = pairs[static_cast<size_t>(i) % std::size(pairs)];
        Job job{p.dst, p.src, extent(rng), extent(rng), 0, 0};
        if (i % 3 == 0) { // sizes of whole blocks, where the 4 x 4 kernels do the whole band
            job.dw = (job.dw + 3) / 4 * 4;
            job.dh = (job.dh + 3) / 4 * 4;
        }
        job.para.lOrientation = pick(rng) % 4 ? 1 + 2 * (pick(rng) % 4) : pick(rng) % 8; // mostly turns
        job.para.lBlockMode = blocks[static_cast<size_t>(pick(rng)) % std::size(blocks)];
        job.para.lBandMode = pick(rng) % 2 ? 4 : 0;
        job.para.lResampleMode = PP_RESAMPLE_NEAREST;
        const bool swap = job.para.lOrientation & PP_ORIENT_SWAPXY;
        job.sw = swap ? job.dh : job.dw;
        job.sh = swap ? job.dw : job.dh;
        accepted += sameAtEveryLevel(job, rng);
        if (::testing::Test::HasFailure())
            return;
    }
    EXPECT_GT(accepted, 1100);
}

// Turns of whole frames: many blocks of 16 and 32 per band, and the columns past them.
TEST(YuvVector, FrameTurnsMatchThePortablePath)
{
    if (vectorLevels().empty())
        GTEST_SKIP() << "this CPU has no vector level to compare";
    std::mt19937 rng(31);
    const MInt64 pairs[][2] = {{kI420, kNV21}, {kNV21, kNV21}, {kNV12, kNV21}, {kNV21, kI420}, {kNV16, kNV16}};
    for (const auto& p : pairs)
        for (MInt64 o : {3, 5})
            for (MInt64 block : {2, 3, 256})
                for (MInt64 w : {96, 130}) {
                    Job job{p[0], p[1], 72, w, w, 72};
                    job.para.lOrientation = o;
                    job.para.lBlockMode = block;
                    job.para.lResampleMode = PP_RESAMPLE_NEAREST;
                    EXPECT_TRUE(sameAtEveryLevel(job, rng)) << job.describe();
                }
}

// Planes in the order Y, V, U convert as the same planes in the order Y, U, V, each read with its
// own pitch, also when the two chroma pitches differ.
TEST(YuvVector, PlanesInTheOtherChromaOrderKeepTheirOwnPitches)
{
    LevelGuard guard;
    std::mt19937 rng(12);
    for (PPSimd level : {PPSimd::Portable, PPSimdBest()}) {
        PPSetSimdLevel(level);
        for (MInt64 w : {7, 40}) {
            Image in(kI420, w, 9, rng);
            std::mt19937 twin = rng;
            Image yuv(0x16000777, w, 9, rng), yvu(0x16000777, w, 9, twin);
            PPPara para{};
            para.lBlockMode = 256;
            para.lResampleMode = PP_RESAMPLE_NEAREST;
            for (MInt64 id : {kI420, kYV12}) {
                PPFormat dst{0x16000777, w, 9, nullptr}, src{id, w, 9, nullptr};
                PPHandle h = nullptr;
                ASSERT_EQ(MPPCreate(&dst, &src, &para, &h), MOK);
                const bool swapped = id == kYV12;
                const MByte* sp[3] = {in.ptr[0], in.ptr[swapped ? 2 : 1], in.ptr[swapped ? 1 : 2]};
                const MInt64 spitch[3] = {in.pitch[0], in.pitch[swapped ? 2 : 1], in.pitch[swapped ? 1 : 2]};
                Image& out = swapped ? yvu : yuv;
                EXPECT_EQ(MPProcess(h, out.ptr, nullptr, out.pitch, sp, spitch), MOK);
                MPPDestroy(h);
            }
            EXPECT_EQ(yuv.bytes(), yvu.bytes()) << PPSimdName(level) << " width " << w;
        }
    }
}

} // namespace
