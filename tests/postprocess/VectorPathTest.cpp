// The vector paths of the resampling kernels against the portable per-pixel path: every
// instruction set this processor has, forced in turn, must leave the target byte for byte as the
// general kernel alone does.
// Sizes are random and small (1 to 67 columns, odd row counts), scaling goes both ways, every
// orientation and block mode, pitches carry padding that must stay untouched, and every plane is
// exactly as large as its rows need, so that a read or write past the edge is caught by the address
// sanitizer.
#include "MPP.h"
#include "PPCpu.h"
#include "PPKernels.h"
#include "PPScaleBlend.h"
#include "SimdLevels.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr MInt64 kRGB24 = 0x16000777, kBGR24 = 0x16001777, kRGBA = 0x17001777, kRGBA2 = 0x37001777;
constexpr MInt64 kGrey = 0x64000000, kI420 = 0x50000811, kI422 = 0x50000810, kI444 = 0x50000800;
constexpr MInt64 kNV21 = 0x70000002, kNV12 = 0x70000003;

// One image: each plane's rows are pitch bytes apart, its last row only as long as its samples.
struct Image {
    std::unique_ptr<MByte[]> buf[3];
    size_t size[3] = {};
    MInt64 pitch[3] = {};
    MByte* ptr[3] = {};
    MInt64 rowBytes[3] = {};

    Image(MInt64 id, MInt64 w, MInt64 h, std::mt19937& rng)
    {
        const auto padding = [&] { return static_cast<MInt64>(rng() % 3 ? 0 : rng() % 13); };
        const MInt64 cw = (w + 1) / 2, ch = (h + 1) / 2;
        switch (id) {
        case kRGB24: case kBGR24: plane(0, w * 3, h, padding()); break;
        case kRGBA: case kRGBA2: plane(0, w * 4, h, padding()); break;
        case kGrey: plane(0, w, h, padding()); break;
        case kI420: plane(0, w, h, padding()); plane(1, cw, ch, padding()); plane(2, cw, ch, padding()); break;
        case kI422: plane(0, w, h, padding()); plane(1, cw, h, padding()); plane(2, cw, h, padding()); break;
        case kI444: plane(0, w, h, padding()); plane(1, w, h, padding()); plane(2, w, h, padding()); break;
        case kNV12: case kNV21: {
            plane(0, w, h, padding());
            plane(1, cw * 2, ch, padding());
            // Interleaved chroma: the lower address holds V for the first of the two IDs.
            MByte* base = ptr[1];
            ptr[1] = id == kNV21 ? base + 1 : base;
            ptr[2] = id == kNV21 ? base : base + 1;
            pitch[2] = pitch[1];
            break;
        }
        default: ADD_FAILURE() << "no layout for " << id;
        }
        for (int p = 0; p < 3; ++p)
            for (size_t i = 0; i < size[p]; ++i)
                buf[p][i] = static_cast<MByte>(rng());
    }
    void plane(int i, MInt64 row, MInt64 rows, MInt64 padding)
    {
        rowBytes[i] = row;
        pitch[i] = row + padding;
        size[i] = static_cast<size_t>(pitch[i] * (rows - 1) + row);
        buf[i].reset(new MByte[size[i]]);
        ptr[i] = buf[i].get();
    }
    std::vector<MByte> bytes() const
    {
        std::vector<MByte> all;
        for (int p = 0; p < 3; ++p)
            if (buf[p])
                all.insert(all.end(), buf[p].get(), buf[p].get() + size[p]);
        return all;
    }
    void restore(const std::vector<MByte>& all)
    {
        size_t at = 0;
        for (int p = 0; p < 3; ++p)
            if (buf[p]) {
                std::copy(all.begin() + static_cast<ptrdiff_t>(at), all.begin() + static_cast<ptrdiff_t>(at + size[p]),
                          buf[p].get());
                at += size[p];
            }
    }
    // True when the bytes between the rows (past each row's samples) are those of before.
    bool paddingKept(const std::vector<MByte>& before) const
    {
        size_t at = 0;
        for (int p = 0; p < 3; ++p) {
            if (!buf[p])
                continue;
            for (size_t i = 0; i < size[p]; ++i)
                if (static_cast<MInt64>(i) % pitch[p] >= rowBytes[p] && buf[p][i] != before[at + i])
                    return false;
            at += size[p];
        }
        return true;
    }
};

struct Job {
    MInt64 id = kRGBA, sw = 1, sh = 1, dw = 1, dh = 1;
    PPPara para{};
    std::string describe() const
    {
        char hex[24];
        std::snprintf(hex, sizeof hex, "%llx", static_cast<unsigned long long>(id));
        return std::string("format ") + hex + " src " + std::to_string(sw) + "x" + std::to_string(sh) + " dst " +
               std::to_string(dw) + "x" + std::to_string(dh) + " resample " + std::to_string(para.lResampleMode) +
               " orientation " + std::to_string(para.lOrientation) + " block " + std::to_string(para.lBlockMode) +
               " source rect " + std::to_string(para.lSrcLeft) + "," + std::to_string(para.lSrcTop) + "," +
               std::to_string(para.lSrcRight) + "," + std::to_string(para.lSrcBottom);
    }
};

// The target after the job at one level, from the target's bytes in start; false when the engine
// refused the job. The portable level runs with the fast kernels off too, so that every vector
// path is held against the per-pixel path.
bool run(const Job& job, PPSimd level, const Image& src, Image& dst, const std::vector<MByte>& start,
         std::vector<MByte>* out)
{
    PPFormat d{job.id, job.dw, job.dh, nullptr}, s{job.id, job.sw, job.sh, nullptr};
    PPPara para = job.para;
    PPHandle h = nullptr;
    if (MPPCreate(&d, &s, &para, &h) != MOK)
        return false;
    PPSetSimdLevel(level);
    PPSetFastKernelsEnabled(level != PPSimd::Portable);
    dst.restore(start);
    const MByte* sp[3] = {src.ptr[0], src.ptr[1], src.ptr[2]};
    EXPECT_EQ(MPProcess(h, dst.ptr, nullptr, dst.pitch, sp, src.pitch), MOK) << job.describe();
    PPSetFastKernelsEnabled(true);
    MPPDestroy(h);
    EXPECT_TRUE(dst.paddingKept(start)) << PPSimdName(level) << ": " << job.describe();
    *out = dst.bytes();
    return true;
}

Job randomJob(MInt64 id, std::mt19937& rng)
{
    const auto pick = [&](int lo, int hi) { return static_cast<MInt64>(std::uniform_int_distribution<int>(lo, hi)(rng)); };
    Job j;
    j.id = id;
    j.sw = pick(1, 67);
    j.sh = pick(0, 33) * 2 + 1;
    // Down as far as a sixth, up as far as six times, or a size of its own.
    switch (pick(0, 2)) {
    case 0: j.dw = std::max<MInt64>(1, j.sw / pick(1, 6)); j.dh = std::max<MInt64>(1, j.sh / pick(1, 6)) | 1; break;
    case 1: j.dw = std::min<MInt64>(67, j.sw * pick(1, 6)); j.dh = std::min<MInt64>(67, j.sh * pick(1, 6)) | 1; break;
    default: j.dw = pick(1, 67); j.dh = pick(0, 33) * 2 + 1; break;
    }
    if (pick(0, 3) == 0) { // under a quarter turn the target's sides are the other way round
        std::swap(j.dw, j.dh);
        j.para.lOrientation = PP_ORIENT_SWAPXY;
    }
    j.para.lOrientation |= pick(0, 3) * 2;
    j.para.lResampleMode = pick(0, 4) ? PP_RESAMPLE_BILINEAR : PP_RESAMPLE_NEAREST;
    const MInt64 blocks[] = {PP_BLOCK_1X1, PP_BLOCK_2X2, PP_BLOCK_4X4, PP_BLOCK_AUTO};
    j.para.lBlockMode = blocks[pick(0, 3)];
    if (pick(0, 4) == 0 && j.sw > 2 && j.sh > 2) { // a source rectangle inside the image
        j.para.lSrcLeft = pick(0, static_cast<int>(j.sw / 2));
        j.para.lSrcTop = pick(0, static_cast<int>(j.sh / 2));
        j.para.lSrcRight = pick(static_cast<int>(j.para.lSrcLeft) + 1, static_cast<int>(j.sw));
        j.para.lSrcBottom = pick(static_cast<int>(j.para.lSrcTop) + 1, static_cast<int>(j.sh));
    }
    return j;
}

// Random jobs of one format: each vector level must match the portable level, the padding of the
// target's rows must stay as it was, and the vector rows must really have run.
void matchPortable(MInt64 id, uint32_t seed)
{
    const std::vector<PPSimd> levels = vectorLevels();
    if (levels.empty())
        GTEST_SKIP() << "this processor has no vector level to compare";
    LevelGuard guard;
    std::mt19937 rng(seed);
    const int64_t before = PPDebugVectorPixels();
    int ran = 0;
    for (int iter = 0; iter < 300; ++iter) {
        const Job job = randomJob(id, rng);
        const Image src(id, job.sw, job.sh, rng);
        Image dst(id, job.dw, job.dh, rng);
        const std::vector<MByte> start = dst.bytes();
        std::vector<MByte> portable, vector;
        if (!run(job, PPSimd::Portable, src, dst, start, &portable))
            continue;
        ++ran;
        for (PPSimd level : levels) {
            ASSERT_TRUE(run(job, level, src, dst, start, &vector));
            ASSERT_EQ(portable, vector) << PPSimdName(level) << ": " << job.describe();
        }
    }
    EXPECT_GT(ran, 250);
    EXPECT_GT(PPDebugVectorPixels(), before) << "no band went through the vector rows";
}

TEST(VectorResample, FourBytePixelsMatchThePortablePath)
{
    ASSERT_NO_FATAL_FAILURE(matchPortable(kRGBA, 11));
    ASSERT_NO_FATAL_FAILURE(matchPortable(kRGBA2, 12));
}

TEST(VectorResample, ThreeBytePixelsMatchThePortablePath)
{
    ASSERT_NO_FATAL_FAILURE(matchPortable(kRGB24, 21));
    ASSERT_NO_FATAL_FAILURE(matchPortable(kBGR24, 22));
}

TEST(VectorResample, PlanesMatchThePortablePath)
{
    ASSERT_NO_FATAL_FAILURE(matchPortable(kGrey, 31));
    ASSERT_NO_FATAL_FAILURE(matchPortable(kI420, 32));
    ASSERT_NO_FATAL_FAILURE(matchPortable(kI422, 33));
    ASSERT_NO_FATAL_FAILURE(matchPortable(kI444, 34));
    ASSERT_NO_FATAL_FAILURE(matchPortable(kNV12, 35));
    ASSERT_NO_FATAL_FAILURE(matchPortable(kNV21, 36));
}

// Each job at every vector level against the portable level, on random pixels; the vector rows
// must really have run.
void matchPortable(const std::vector<Job>& jobs, uint32_t seed)
{
    const std::vector<PPSimd> levels = vectorLevels();
    if (levels.empty())
        GTEST_SKIP() << "this processor has no vector level to compare";
    LevelGuard guard;
    std::mt19937 rng(seed);
    const int64_t before = PPDebugVectorPixels();
    for (const Job& job : jobs) {
        const Image src(job.id, job.sw, job.sh, rng);
        Image dst(job.id, job.dw, job.dh, rng);
        const std::vector<MByte> start = dst.bytes();
        std::vector<MByte> portable, vector;
        ASSERT_TRUE(run(job, PPSimd::Portable, src, dst, start, &portable)) << job.describe();
        for (PPSimd level : levels) {
            ASSERT_TRUE(run(job, level, src, dst, start, &vector));
            ASSERT_EQ(portable, vector) << PPSimdName(level) << ": " << job.describe();
        }
    }
    EXPECT_GT(PPDebugVectorPixels(), before) << "no band went through the vector rows";
}

// A job from source and target sizes {sw, sh, dw, dh}; under a quarter turn the target's sides
// are exchanged.
Job sizedJob(MInt64 id, const MInt64 (&size)[4], MInt64 orientation, MInt64 resample)
{
    Job job;
    job.id = id;
    job.sw = size[0];
    job.sh = size[1];
    job.dw = size[orientation & PP_ORIENT_SWAPXY ? 3 : 2];
    job.dh = size[orientation & PP_ORIENT_SWAPXY ? 2 : 3];
    job.para.lOrientation = orientation;
    job.para.lResampleMode = resample;
    return job;
}

// Rows wider than the random jobs': enlarging repeats source rows (a repeated row is copied from
// the target row before it, also when rows run bottom to top), shrinking skips them (the next one
// is asked for ahead, its samples close together or more than a cache line apart), and four-byte
// groups whose sources lie far apart are gathered. Under a quarter turn target rows are not
// contiguous and nothing is copied between them.
TEST(VectorResample, NearestRowsRepeatedAndSkipped)
{
    std::vector<Job> jobs;
    const MInt64 sizes[][4] = {{200, 21, 300, 63}, {203, 20, 611, 41}, {400, 45, 20, 9},  {601, 97, 103, 15},
                               {97, 13, 97, 39},   {64, 3, 67, 65},   {1000, 7, 999, 3}, {37, 301, 5, 51}};
    for (MInt64 id : {kRGBA, kGrey, kRGB24})
        for (const auto& size : sizes)
            for (MInt64 orientation : {0, 2, 4, 6, 1, 7}) {
                Job job = sizedJob(id, size, orientation, PP_RESAMPLE_NEAREST);
                job.para.lBlockMode = orientation == 2 ? PP_BLOCK_1X1 : PP_BLOCK_AUTO;
                jobs.push_back(job);
            }
    ASSERT_NO_FATAL_FAILURE(matchPortable(jobs, 41));
}

// Enlarging four-byte pixels and planes, neighbouring target rows that read the same source rows
// (two, or three between them) are blended together, two to four at a time: factors that give runs
// of each kind, rows bottom to top, rows wide enough for full register groups and a few pixels
// over, and a source rectangle.
TEST(VectorResample, BilinearRowsSharingSourceRows)
{
    std::vector<Job> jobs;
    const MInt64 sizes[][4] = {{64, 12, 96, 18},  {61, 9, 122, 18},  {40, 5, 121, 15},  {33, 4, 133, 16},
                               {70, 21, 140, 43}, {19, 7, 133, 61},  {128, 3, 131, 11}, {67, 30, 67, 31}};
    for (MInt64 id : {kRGBA, kRGBA2, kGrey, kI420, kNV12})
        for (const auto& size : sizes)
            for (MInt64 orientation : {0, 2, 4, 6}) {
                Job job = sizedJob(id, size, orientation, PP_RESAMPLE_BILINEAR);
                job.para.lBlockMode = orientation == 2 ? PP_BLOCK_AUTO : PP_BLOCK_1X1;
                if (orientation == 6) { // a rectangle inside the source
                    job.para.lSrcLeft = 3;
                    job.para.lSrcTop = 1;
                    job.para.lSrcRight = job.sw - 2;
                    job.para.lSrcBottom = job.sh - 1;
                }
                jobs.push_back(job);
            }
    ASSERT_NO_FATAL_FAILURE(matchPortable(jobs, 42));
}

// The largest sums the rows form: white everywhere with fractions just below a whole pixel, and
// black and white side by side so that every weight is seen against a full step.
TEST(VectorResample, ExtremeValuesAndFractions)
{
    const std::vector<PPSimd> levels = vectorLevels();
    if (levels.empty())
        GTEST_SKIP() << "this processor has no vector level to compare";
    LevelGuard guard;
    std::mt19937 rng(5);
    for (MInt64 id : {kRGBA, kRGB24, kGrey}) {
        for (int pattern = 0; pattern < 2; ++pattern) {
            for (MInt64 dw : {61, 64, 67}) {
                Job job;
                job.id = id;
                job.sw = 64;
                job.sh = 9;
                job.dw = dw;
                job.dh = 33;
                job.para.lResampleMode = PP_RESAMPLE_BILINEAR;
                job.para.lBlockMode = PP_BLOCK_1X1;
                Image src(id, job.sw, job.sh, rng);
                const size_t bpp = static_cast<size_t>(src.rowBytes[0] / job.sw);
                for (size_t i = 0; i < src.size[0]; ++i)
                    src.buf[0][i] = pattern == 0 || (i / bpp + i / static_cast<size_t>(src.pitch[0])) % 2 ? 255 : 0;
                Image dst(id, job.dw, job.dh, rng);
                const std::vector<MByte> start = dst.bytes();
                std::vector<MByte> portable, vector;
                ASSERT_TRUE(run(job, PPSimd::Portable, src, dst, start, &portable));
                if (pattern == 0)
                    for (MInt64 r = 0; r < job.dh; ++r)
                        for (MInt64 k = 0; k < dst.rowBytes[0]; ++k)
                            ASSERT_EQ(portable[static_cast<size_t>(r * dst.pitch[0] + k)], 255) << r << "," << k;
                for (PPSimd level : levels) {
                    ASSERT_TRUE(run(job, level, src, dst, start, &vector));
                    ASSERT_EQ(portable, vector) << PPSimdName(level) << ": " << job.describe();
                }
            }
        }
    }
}

// What KPV_SIMD asks for is capped by what the processor has; a word it does not know is reported.
TEST(VectorResample, EnvironmentValuesCapTheLevel)
{
    bool known = false;
    EXPECT_EQ(PPSimdCapped("portable", PPSimd::AVX2, &known), PPSimd::Portable);
    EXPECT_TRUE(known);
    EXPECT_EQ(PPSimdCapped("sse4.1", PPSimd::AVX2, &known), PPSimd::SSE41);
    EXPECT_EQ(PPSimdCapped("avx2", PPSimd::SSE41, &known), PPSimd::SSE41);
    EXPECT_EQ(PPSimdCapped("avx2", PPSimd::Portable, &known), PPSimd::Portable);
    EXPECT_EQ(PPSimdCapped(nullptr, PPSimd::AVX2, &known), PPSimd::AVX2);
    EXPECT_TRUE(known);
    EXPECT_EQ(PPSimdCapped("AVX-512", PPSimd::SSE41, &known), PPSimd::SSE41);
    EXPECT_FALSE(known);
}

// Without a test's change, the level in force is the best the processor has, as KPV_SIMD caps it
// (every test here puts the level back when it ends).
TEST(VectorResample, StartsAtTheBestLevelTheEnvironmentAllows)
{
    bool known = false;
    EXPECT_EQ(PPSimdLevel(), PPSimdCapped(std::getenv("KPV_SIMD"), PPSimdBest(), &known));
}

// A level the processor lacks is never put in force.
TEST(VectorResample, LevelsAreCappedByTheProcessor)
{
    LevelGuard guard;
    EXPECT_EQ(PPSetSimdLevel(PPSimd::Portable), PPSimd::Portable);
    EXPECT_EQ(PPSimdLevel(), PPSimd::Portable);
    const PPSimd top = PPSetSimdLevel(PPSimd::AVX2);
    EXPECT_EQ(top, PPSimdBest());
    EXPECT_EQ(PPSimdLevel(), top);
}

} // namespace
