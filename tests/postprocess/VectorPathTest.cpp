// The vector paths of the resampling kernels against the portable path: every instruction set this
// processor has, forced in turn, must leave the target byte for byte as the portable code does.
// Sizes are random and small (1 to 67 columns, odd row counts), scaling goes both ways, every
// orientation and block mode, pitches carry padding that must stay untouched, and every plane is
// exactly as large as its rows need, so that a read or write past the edge is caught by the address
// sanitizer.
#include "MPP.h"
#include "PPCpu.h"
#include "PPScaleBlend.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr MInt64 kRGB24 = 0x16000777, kBGR24 = 0x16001777, kRGBA = 0x17001777, kRGBA2 = 0x37001777;

// The levels to compare with the portable one: those the processor has.
std::vector<PPSimd> vectorLevels()
{
    std::vector<PPSimd> levels;
    for (PPSimd l : {PPSimd::SSE41, PPSimd::AVX2})
        if (static_cast<int>(l) <= static_cast<int>(PPSimdBest()))
            levels.push_back(l);
    return levels;
}

// Restores the level in force when a test ends, whatever it set.
struct LevelGuard {
    PPSimd saved = PPSimdLevel();
    ~LevelGuard() { PPSetSimdLevel(saved); }
};

// One packed plane: rows of pitch bytes, the last row only as long as its pixels.
struct Plane {
    std::unique_ptr<MByte[]> buf;
    size_t size = 0;
    MInt64 pitch = 0;
    Plane(MInt64 w, MInt64 h, int bpp, MInt64 padding, std::mt19937& rng)
    {
        pitch = w * bpp + padding;
        size = static_cast<size_t>(pitch * (h - 1) + w * bpp);
        buf.reset(new MByte[size]);
        for (size_t i = 0; i < size; ++i)
            buf[i] = static_cast<MByte>(rng());
    }
    std::vector<MByte> bytes() const { return {buf.get(), buf.get() + size}; }
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

int bytesOf(MInt64 id) { return id == kRGB24 || id == kBGR24 ? 3 : 4; }

// The target after the job at one level; false when the engine refused the job.
bool run(const Job& job, PPSimd level, const Plane& src, const Plane& dstStart, std::vector<MByte>* out)
{
    PPFormat d{job.id, job.dw, job.dh, nullptr}, s{job.id, job.sw, job.sh, nullptr};
    PPPara para = job.para;
    PPHandle h = nullptr;
    if (MPPCreate(&d, &s, &para, &h) != MOK)
        return false;
    PPSetSimdLevel(level);
    std::unique_ptr<MByte[]> target(new MByte[dstStart.size]);
    std::copy(dstStart.buf.get(), dstStart.buf.get() + dstStart.size, target.get());
    MByte* dp[3] = {target.get(), nullptr, nullptr};
    const MByte* sp[3] = {src.buf.get(), nullptr, nullptr};
    const MInt64 dpitch[3] = {dstStart.pitch, 0, 0}, spitch[3] = {src.pitch, 0, 0};
    EXPECT_EQ(MPProcess(h, dp, nullptr, dpitch, sp, spitch), MOK) << job.describe();
    MPPDestroy(h);
    out->assign(target.get(), target.get() + dstStart.size);
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
    const int bpp = bytesOf(id);
    const int64_t before = PPDebugVectorPixels();
    int ran = 0;
    for (int iter = 0; iter < 300; ++iter) {
        const Job job = randomJob(id, rng);
        const Plane src(job.sw, job.sh, bpp, rng() % 3 ? 0 : rng() % 13, rng);
        const Plane dst(job.dw, job.dh, bpp, rng() % 3 ? 0 : rng() % 13, rng);
        std::vector<MByte> portable, vector;
        if (!run(job, PPSimd::Portable, src, dst, &portable))
            continue;
        ++ran;
        for (MInt64 r = 0; r + 1 < job.dh; ++r) // padding after each row but the last
            for (MInt64 k = job.dw * bpp; k < dst.pitch; ++k)
                ASSERT_EQ(portable[static_cast<size_t>(r * dst.pitch + k)], dst.buf[static_cast<size_t>(r * dst.pitch + k)])
                    << job.describe();
        for (PPSimd level : levels) {
            ASSERT_TRUE(run(job, level, src, dst, &vector));
            ASSERT_EQ(portable, vector) << PPSimdName(level) << ": " << job.describe();
        }
    }
    EXPECT_GT(ran, 250);
    EXPECT_GT(PPDebugVectorPixels(), before) << "no band went through the vector rows";
}

TEST(VectorResample, FourBytePixelsMatchThePortablePath)
{
    matchPortable(kRGBA, 11);
    matchPortable(kRGBA2, 12);
}

TEST(VectorResample, ThreeBytePixelsMatchThePortablePath)
{
    matchPortable(kRGB24, 21);
    matchPortable(kBGR24, 22);
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
    for (MInt64 id : {kRGBA, kRGB24}) {
        const int bpp = bytesOf(id);
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
                Plane src(job.sw, job.sh, bpp, 0, rng);
                for (size_t i = 0; i < src.size; ++i)
                    src.buf[i] = pattern == 0 ? 255 : ((i / static_cast<size_t>(bpp)) + i / static_cast<size_t>(src.pitch)) % 2 ? 255 : 0;
                const Plane dst(job.dw, job.dh, bpp, 0, rng);
                std::vector<MByte> portable, vector;
                ASSERT_TRUE(run(job, PPSimd::Portable, src, dst, &portable));
                if (pattern == 0)
                    for (size_t i = 0; i < portable.size(); ++i)
                        ASSERT_EQ(portable[i], 255) << i;
                for (PPSimd level : levels) {
                    ASSERT_TRUE(run(job, level, src, dst, &vector));
                    ASSERT_EQ(portable, vector) << PPSimdName(level) << ": " << job.describe();
                }
            }
        }
    }
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
