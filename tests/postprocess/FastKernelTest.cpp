// The fast kernels against the general kernel: for every case a selector takes, the conversion with
// the fast kernels on must leave the target byte for byte as the conversion with them off. Inputs
// are random, planes exactly as large as their formats need (so a stray read or write is caught by
// the address sanitizer), and the parameters cover orientations, block modes, nearest and
// bilinear, odd sizes, origins, source rectangles and target rectangles.
#include "MPP.h"
#include "PPKernels.h"
#include "PlaneBuffers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr MInt64 kRGB24 = 0x16000777, kBGR24 = 0x16001777, kRGB24x6 = 0x16000555, kRGBA = 0x17001777;
constexpr MInt64 kGrey = 0x64000000, kYUYV = 0x50000010;
constexpr MInt64 kI420 = 0x50000811, kI440 = 0x50000801, kI422 = 0x50000810, kI444 = 0x50000800;
constexpr MInt64 kNV21 = 0x70000002, kNV12 = 0x70000003, kNV16 = 0x70000004;

// Planes of one image with every byte that its format addresses and no more.
struct Image : PlaneBuffers {
    Image(MInt64 id, MInt64 w, MInt64 h, std::mt19937& rng)
    {
        const MInt64 cw = (w + 1) / 2, ch = (h + 1) / 2;
        switch (id) {
        case kRGB24: case kBGR24: case kRGB24x6: plane(0, w * 3, h); break;
        case kRGBA: plane(0, w * 4, h); break;
        case kGrey: plane(0, w, h); break;
        case kYUYV: plane(0, cw * 4, h); break;
        case kI420: planar(w, h, cw, ch); break;
        case kI440: planar(w, h, w, ch); break;
        case kI422: planar(w, h, cw, h); break;
        case kI444: planar(w, h, w, h); break;
        case kNV21: case kNV12: case kNV16: {
            plane(0, w, h);
            const MInt64 rows = id == kNV16 ? h : ch;
            plane(1, cw * 2, rows);
            // Interleaved chroma: the lower address holds V for 0x70000002, U otherwise.
            MByte* base = ptr[1];
            ptr[1] = id == kNV21 ? base + 1 : base;
            ptr[2] = id == kNV21 ? base : base + 1;
            pitch[2] = pitch[1];
            break;
        }
        default: ADD_FAILURE() << "no layout for " << id;
        }
        for (size_t i = 0; i < bufs.size(); ++i)
            for (size_t k = 0; k < sizes[i]; ++k)
                bufs[i][k] = static_cast<MByte>(rng());
    }
    void plane(int i, MInt64 p, MInt64 rows) { add(i, p, static_cast<size_t>(p * rows)); }
    void planar(MInt64 w, MInt64 h, MInt64 cw, MInt64 ch)
    {
        plane(0, w, h);
        plane(1, cw, ch);
        plane(2, cw, ch);
    }
};

struct Job {
    MInt64 dstID, srcID, dw, dh, sw, sh;
    PPPara para{};
    bool useRect = false;
    MRECT rect{};
    std::string describe() const
    {
        char text[256];
        std::snprintf(text, sizeof text,
                      "dst %llx %lldx%lld src %llx %lldx%lld resample %lld orient %lld block %lld origin %lld,%lld "
                      "rect %d",
                      static_cast<unsigned long long>(dstID), static_cast<long long>(dw), static_cast<long long>(dh),
                      static_cast<unsigned long long>(srcID), static_cast<long long>(sw), static_cast<long long>(sh),
                      static_cast<long long>(para.lResampleMode), static_cast<long long>(para.lOrientation),
                      static_cast<long long>(para.lBlockMode), static_cast<long long>(para.lDstOriginX),
                      static_cast<long long>(para.lDstOriginY), useRect ? 1 : 0);
        return text;
    }
};

// Makes each odd (parity 0) or even (parity 1) chroma row of an image a copy of the row above it,
// and likewise each chroma column of the pair that `colParity` names a copy of the one left of it,
// so that either pixel of a pair gives the same chroma. Semi-planar chroma is one interleaved plane
// of two-byte samples, planar chroma two planes.
void pairChroma(Image& img, MInt64 id, int rowParity, int colParity)
{
    const bool semi = id == kNV21 || id == kNV12 || id == kNV16;
    const MInt64 step = semi ? 2 : 1;
    for (size_t k = 1; k < (semi ? 2u : 3u) && k < img.bufs.size(); ++k) {
        MByte* base = img.bufs[k].get();
        const MInt64 pitch = img.pitch[k], rows = static_cast<MInt64>(img.sizes[k]) / pitch;
        if (colParity >= 0)
            for (MInt64 r = 0; r < rows; ++r)
                for (MInt64 c = 1; c < pitch / step; ++c)
                    if ((c - colParity) % 2 == 1)
                        std::memcpy(base + r * pitch + c * step, base + r * pitch + (c - 1) * step, size_t(step));
        if (rowParity >= 0)
            for (MInt64 r = 1; r < rows; ++r)
                if ((r - rowParity) % 2 == 1)
                    std::memcpy(base + r * pitch, base + (r - 1) * pitch, static_cast<size_t>(pitch));
    }
}

// The kernels that take a decimated chroma sample from the first pixel of its block where the
// general kernel (every pixel writes, the last one stays) leaves the last one.
bool firstOfBlock(int id)
{
    return id == PPK_YUV422toI420Fast_NORESAMPLE_R0_4x4 ||
           (id >= PPK_YUVtoNV21Fast_NORESAMPLE_R0_4x4 && id <= PPK_YUVtoNV21Fast_NORESAMPLE_SwapXY_4x4) ||
           (id >= PPK_YUVtoYUV422Fast_NORESAMPLE_R0_4x4 && id <= PPK_YUVtoYUV422Fast_NORESAMPLE_SwapXY_4x4);
}

int64_t firstOfBlockRuns()
{
    int64_t n = 0;
    for (int id = 0; id < PPK_FAST_KERNEL_COUNT; ++id)
        if (firstOfBlock(id))
            n += PPDebugFastKernelRuns(static_cast<PPFastKernelID>(id));
    return n;
}

// Chroma sampling factors (horizontal, vertical) of the layouts used here.
std::pair<int, int> chromaFactors(MInt64 id)
{
    switch (id) {
    case kI420: case kNV21: case kNV12: return {2, 2};
    case kI440: return {1, 2};
    case kI422: case kNV16: case kYUYV: return {2, 1};
    default: return {1, 1};
    }
}

// Runs the job twice, fast kernels on and off, over the same random target; true when the engine
// accepted it. The two targets must agree.
//
// The exception: the first-of-block kernels (planar or grey into semi-planar, semi-planar 4:2:2
// into planar 4:2:0) take a decimated chroma sample from the first pixel of its block where the
// general kernel leaves the last. Such a kernel must then agree with the general kernel over a
// source whose chroma pairs are equal along each axis that the target decimates and the source
// does not, paired from whichever sample the job's offsets make first (ChromaRuleTest pins which
// one that is).
bool compare(const Job& job, std::mt19937& rng)
{
    PPFormat dst{job.dstID, job.dw, job.dh, nullptr}, src{job.srcID, job.sw, job.sh, nullptr};
    PPPara para = job.para;
    PPHandle h = nullptr;
    if (MPPCreate(&dst, &src, &para, &h) != MOK)
        return false;
    Image in(job.srcID, job.sw + job.para.lSrcOriginX, job.sh + job.para.lSrcOriginY, rng);
    Image out(job.dstID, job.dw, job.dh, rng);
    const std::vector<MByte> before = out.bytes();
    const MByte* sp[3] = {in.ptr[0], in.ptr[1], in.ptr[2]};
    const int64_t firstRuns = firstOfBlockRuns();
    PPSetFastKernelsEnabled(true);
    EXPECT_EQ(MPProcess(h, out.ptr, job.useRect ? &job.rect : nullptr, out.pitch, sp, in.pitch), MOK);
    const std::vector<MByte> fast = out.bytes();
    const auto general = [&] {
        out.restore(before);
        PPSetFastKernelsEnabled(false);
        EXPECT_EQ(MPProcess(h, out.ptr, job.useRect ? &job.rect : nullptr, out.pitch, sp, in.pitch), MOK);
        PPSetFastKernelsEnabled(true);
        return out.bytes();
    };
    if (firstOfBlockRuns() != firstRuns) {
        // Which source axes need pairing: those along which the target takes one chroma sample
        // for two pixels while the source has a sample for each.
        const bool swap = job.para.lOrientation & PP_ORIENT_SWAPXY;
        const auto [shs, svs] = chromaFactors(job.srcID);
        const auto [dhs, dvs] = chromaFactors(job.dstID);
        const bool rows = svs == 1 && (swap ? dhs : dvs) == 2, cols = shs == 1 && (swap ? dvs : dhs) == 2;
        const std::vector<MByte> source = in.bytes();
        std::vector<std::vector<MByte>> paired;
        for (int rp : {0, 1})
            for (int cp : {0, 1}) {
                if ((!rows && rp) || (!cols && cp))
                    continue;
                in.restore(source);
                pairChroma(in, job.srcID, rows ? rp : -1, cols ? cp : -1);
                paired.push_back(general());
            }
        MPPDestroy(h);
        // Luma byte for byte; each chroma byte as one of the pairings gives it (a band that starts
        // or ends part-way through a block, or the clamped edges of a source rectangle, take their
        // sample from the other pixel of a pair).
        const size_t luma = out.sizes[0];
        EXPECT_TRUE(std::equal(fast.begin(), fast.begin() + static_cast<ptrdiff_t>(luma), paired[0].begin()))
            << job.describe();
        for (size_t at = luma; at < fast.size(); ++at) {
            const bool same = std::any_of(paired.begin(), paired.end(), [&](const auto& g) { return g[at] == fast[at]; });
            EXPECT_TRUE(same) << job.describe() << " chroma byte " << at;
            if (!same)
                break;
        }
        return true;
    }
    const std::vector<MByte> slow = general();
    MPPDestroy(h);
    EXPECT_EQ(fast, slow) << job.describe();
    return true;
}

struct Pair {
    MInt64 dst, src;
};

// Every layout pair a fast selector takes, and a few it must leave alone.
const Pair kPairs[] = {
    {kRGB24, kRGB24}, {kBGR24, kBGR24}, {kRGB24, kBGR24}, {kBGR24, kRGB24}, {kRGB24, kI420}, {kBGR24, kI420},
    {kRGB24, kI422},  {kBGR24, kI444},  {kRGB24, kI440},  {kI420, kRGB24},  {kI422, kRGB24}, {kI444, kRGB24},
    {kI440, kRGB24},  {kI422, kI420},   {kI440, kI420},   {kI420, kI422},   {kI420, kI440},  {kI420, kI420},
    {kI422, kI422},   {kI440, kI440},   {kI444, kI444},   {kI420, kNV21},   {kI420, kNV12},  {kI420, kYUYV},
    {kI420, kNV16},   {kNV21, kNV21},   {kNV12, kNV12},   {kNV12, kNV21},   {kNV21, kNV12},  {kNV21, kI420},
    {kNV12, kI444},   {kNV21, kGrey},   {kNV12, kI422},   {kNV21, kI440},   {kNV16, kNV16},  {kNV16, kI420},
    {kNV16, kGrey},   {kNV16, kI444},   {kYUYV, kYUYV},   {kRGB24x6, kRGB24x6}, {kRGB24, kRGB24x6},
    {kRGBA, kRGB24},  {kI420, kRGBA},   {kRGB24, kGrey},  {kI444, kNV21},
};

// Random jobs over every pair: each fast kernel must write what the general kernel writes.
void writeWhatTheGeneralKernelWrites()
{
    std::mt19937 rng(2024);
    std::uniform_int_distribution<MInt64> extent(1, 37), origin(0, 5), coin(0, 1), orient(0, 7), adjust(-40, 40);
    const MInt64 blocks[] = {1, 2, 3, 4, 256, 256};
    std::uniform_int_distribution<size_t> pickBlock(0, std::size(blocks) - 1);
    int accepted = 0;
    for (int i = 0; i < 9000; ++i) {
        const Pair& p = kPairs[static_cast<size_t>(i) % std::size(kPairs)];
        Job job{p.dst, p.src, extent(rng), extent(rng), 0, 0};
        job.para.lOrientation = orient(rng);
        job.para.lBlockMode = blocks[pickBlock(rng)];
        job.para.lResampleMode = coin(rng) ? PP_RESAMPLE_BILINEAR : PP_RESAMPLE_NEAREST;
        job.para.lBandMode = coin(rng) ? 4 : 0;
        // Half the jobs at one to one (the oriented target as large as the source), with even
        // sizes more often, since the block kernels cover the aligned interior.
        const bool swap = job.para.lOrientation & PP_ORIENT_SWAPXY;
        if (i % 2 == 0) {
            if (coin(rng)) {
                job.dw = (job.dw + 3) / 4 * 4;
                job.dh = (job.dh + 3) / 4 * 4;
            }
            job.sw = swap ? job.dh : job.dw;
            job.sh = swap ? job.dw : job.dh;
        } else {
            job.sw = extent(rng) * (coin(rng) ? 2 : 1);
            job.sh = extent(rng) * (coin(rng) ? 2 : 1);
            if (i % 7 == 1) { // exact halving
                job.sw = 2 * (swap ? job.dh : job.dw);
                job.sh = 2 * (swap ? job.dw : job.dh);
            }
            job.para.lAspectMode = orient(rng) & 3;
        }
        if (i % 5 == 0) {
            job.para.lSrcOriginX = origin(rng);
            job.para.lSrcOriginY = origin(rng);
            job.para.lDstOriginX = origin(rng) - 2;
            job.para.lDstOriginY = origin(rng) - 2;
        }
        if (i % 6 == 0) {
            job.para.lSrcLeft = job.para.lSrcOriginX + origin(rng);
            job.para.lSrcTop = job.para.lSrcOriginY + origin(rng);
            job.para.lSrcRight = job.para.lSrcLeft + extent(rng);
            job.para.lSrcBottom = job.para.lSrcTop + extent(rng);
        }
        if (i % 9 == 0)
            job.para.lBrightness = adjust(rng); // colour work: the fast kernels must decline
        if (i % 4 == 0) {
            job.useRect = true;
            job.rect = MRECT{origin(rng) - 2, origin(rng) - 2, job.dw - origin(rng) + 2, job.dh - origin(rng) + 2};
            if (coin(rng)) { // block-aligned, as the callers of block modes 2 and 3 pass
                job.rect = MRECT{(job.rect.left + 4) / 4 * 4 - 4, (job.rect.top + 4) / 4 * 4 - 4,
                                 job.rect.right / 4 * 4, job.rect.bottom / 4 * 4};
            }
        }
        accepted += compare(job, rng);
        if (::testing::Test::HasFailure())
            return;
    }
    EXPECT_GT(accepted, 6000);
}

// The general kernel does large, exactly halved and exactly one-to-one jobs too: the run copies,
// word packing and four-row gathers of the fast kernels meet their longer rows here.
void largerImagesAgreeWithTheGeneralKernel()
{
    std::mt19937 rng(7);
    const Pair pairs[] = {{kRGB24, kRGB24}, {kRGB24, kI420}, {kI420, kRGB24}, {kNV21, kNV21},
                          {kI420, kNV12},   {kNV12, kNV21},  {kNV16, kI422},  {kBGR24, kRGB24}};
    for (const Pair& p : pairs)
        for (MInt64 o = 0; o < 8; ++o)
            for (MInt64 block : {1, 2, 3, 256})
                for (int halve = 0; halve < 2; ++halve)
                    for (MInt64 resample : {PP_RESAMPLE_NEAREST, PP_RESAMPLE_BILINEAR}) {
                    const bool swap = o & PP_ORIENT_SWAPXY;
                    Job job{p.dst, p.src, 132, 68, 0, 0};
                    job.sw = (swap ? job.dh : job.dw) << halve;
                    job.sh = (swap ? job.dw : job.dh) << halve;
                    job.para.lOrientation = o;
                    job.para.lBlockMode = block;
                    job.para.lResampleMode = resample;
                    EXPECT_TRUE(compare(job, rng)) << job.describe();
                }
}

// Whether the engine can ever hand a slot a band: the set-up lowers block mode 3 to 2 for a
// non-bilinear semi-planar 4:2:0 source unless the target is planar 4:2:0 or the other chroma
// order, so the 4 x 4 members between two sides of one semi-planar 4:2:0 layout never run.
bool reachable(int id)
{
    switch (id) {
    case PPK_NV21toNV21Fast_NORESAMPLE_V_Flip_4x4:
    case PPK_NV21toNV21Fast_NORESAMPLE_H_Flip_4x4:
    case PPK_NV21toNV21Fast_NORESAMPLE_R180_4x4:
    case PPK_NV21toNV21Fast_NORESAMPLE_R90_4x4:
    case PPK_NV21toNV21Fast_NORESAMPLE_R270_4x4:
    case PPK_NV21toNV21Fast_N_RESAMPLE_R0_4x4:
        return false;
    default:
        return true;
    }
}

// Runs both comparisons and checks that they covered every reachable slot, counting only the runs
// of this test, so that it holds alone, shuffled or beside any other test.
TEST(FastKernels, EveryReachableSlotAgreesWithTheGeneralKernel)
{
    std::vector<int64_t> before(PPK_FAST_KERNEL_COUNT);
    for (int id = 0; id < PPK_FAST_KERNEL_COUNT; ++id)
        before[size_t(id)] = PPDebugFastKernelRuns(static_cast<PPFastKernelID>(id));
    writeWhatTheGeneralKernelWrites();
    if (::testing::Test::HasFailure())
        return;
    largerImagesAgreeWithTheGeneralKernel();
    for (int id = 0; id < PPK_FAST_KERNEL_COUNT; ++id)
        if (reachable(id))
            EXPECT_GT(PPDebugFastKernelRuns(static_cast<PPFastKernelID>(id)), before[size_t(id)])
                << "slot " << id << " never ran";
}

// Calls a selector directly on a created engine over its whole oriented area.
struct Direct {
    PPHandle h = nullptr;
    const PPEngine* e = nullptr;
    PPPlaneSet dst{}, src{};
    std::unique_ptr<Image> in, out;

    Direct(MInt64 dstID, MInt64 srcID, MInt64 w, MInt64 h0, const PPPara& para, std::mt19937& rng)
    {
        PPFormat df{dstID, w, h0, nullptr}, sf{srcID, w, h0, nullptr};
        PPPara copy = para;
        EXPECT_EQ(MPPCreate(&df, &sf, &copy, &h), MOK);
        e = reinterpret_cast<PPHandleRecord*>(h)->engine[0];
        in = std::make_unique<Image>(srcID, w, h0, rng);
        out = std::make_unique<Image>(dstID, w, h0, rng);
        dst = e->dst;
        src = e->src;
        MInitConvertData(dst.layout, &dst, out->ptr, out->pitch);
        MInitConvertData(src.layout, &src, in->ptr, in->pitch);
    }
    ~Direct() { MPPDestroy(h); }
    PPBand band() const { return PPBand{0, e->orientedW, 0, e->orientedH}; }
};

TEST(FastKernels, SelectorsDeclineWhatTheyDoNotCoverAndTouchNothing)
{
    std::mt19937 rng(3);
    struct Case {
        const char* what;
        MInt64 dst, src, orientation, block, resample, brightness;
    };
    const Case cases[] = {
        {"same semi-planar layout, no turn", kNV21, kNV21, 0, 3, 1, 0},
        {"same semi-planar layout, swap alone", kNV21, kNV21, PP_ORIENT_SWAPXY, 3, 1, 0},
        {"same semi-planar layout, all three flags", kNV12, kNV12, 7, 3, 1, 0},
        {"same semi-planar layout, mirror, one-pixel blocks", kNV21, kNV21, PP_ORIENT_MIRROR_LR, 1, 1, 0},
        {"4:4:4 copy with a turn", kI444, kI444, PP_ORIENT_SWAPXY, 3, 1, 0},
        {"4:2:0 copy with a mirror", kI420, kI420, PP_ORIENT_MIRROR_TB, 3, 1, 0},
        {"planar into semi-planar, all three flags", kNV21, kI420, 7, 3, 1, 0},
        {"planar into semi-planar, one-pixel blocks", kNV12, kI420, 0, 1, 1, 0},
        {"brightness needs the range table", kI420, kNV21, 0, 3, 1, 20},
        {"brightness on a planar copy", kI420, kI420, 0, 3, 1, -5},
        {"both sides BGR order, one to one", kBGR24, kBGR24, 0, 3, 1, 0},
        {"24-bit RGB with six-bit channels", kRGB24x6, kRGB24x6, 0, 3, 1, 0},
        {"24-bit into 6-bit channels", kRGB24x6, kRGB24, 0, 1, 1, 0},
        {"32-bit RGB on both sides", kRGBA, kRGBA, 0, 3, 1, 0},
        {"BGR-order RGB into YUV", kI420, kBGR24, 0, 3, 1, 0},
        {"YUV into 32-bit RGB", kRGBA, kI420, 0, 3, 1, 0},
        {"YUYV copy at one to one", kYUYV, kYUYV, 0, 2, 1, 0},
    };
    for (const Case& c : cases) {
        PPPara para{};
        para.lOrientation = c.orientation;
        para.lBlockMode = c.block;
        para.lResampleMode = c.resample;
        para.lBrightness = c.brightness;
        Direct d(c.dst, c.src, 8, 8, para, rng);
        const std::vector<MByte> before = d.out->bytes();
        const PPBand band = d.band();
        EXPECT_EQ(ANY_ANY_C_FAST_R8G8B8(&band, &d.dst, &d.src, d.e), MERR_UNSUPPORTED) << c.what;
        EXPECT_EQ(YUV2YUV_Fast(&band, &d.dst, &d.src, d.e), MERR_UNSUPPORTED) << c.what;
        EXPECT_EQ(d.out->bytes(), before) << c.what;
    }
}

// Exact pixels of a few conversions whose result is easy to state, checked without the general
// kernel (the two could share a mistake).
TEST(FastKernels, QuarterTurnOfSemiPlanarBlock)
{
    std::mt19937 rng(5);
    PPPara para{};
    para.lOrientation = PP_ORIENT_SWAPXY | PP_ORIENT_MIRROR_LR; // 90 degrees clockwise
    para.lBlockMode = PP_BLOCK_4X4; // lowered to 2 x 2 blocks for this layout pair
    para.lResampleMode = PP_RESAMPLE_NEAREST;
    for (MInt64 id : {kNV21, kNV12}) {
        Direct d(id, id, 4, 4, para, rng);
        const PPBand band = d.band();
        const int64_t before = PPDebugFastKernelRuns(PPK_NV12_TO_NV12_NORESAMPLE_Rotate);
        ASSERT_EQ(YUV2YUV_Fast(&band, &d.dst, &d.src, d.e), MOK);
        EXPECT_EQ(PPDebugFastKernelRuns(PPK_NV12_TO_NV12_NORESAMPLE_Rotate), before + 1);
        // Target row j is source column j read from the bottom row upwards.
        for (int j = 0; j < 4; ++j)
            for (int i = 0; i < 4; ++i)
                EXPECT_EQ(d.out->ptr[0][j * 4 + i], d.in->ptr[0][(3 - i) * 4 + j]) << j << "," << i;
        // Chroma pairs keep their layout's order; target pair (cx, cy) comes from source pair
        // (cy, 1 - cx) turned the same way, U and V each from its own component.
        for (int cy = 0; cy < 2; ++cy)
            for (int cx = 0; cx < 2; ++cx) {
                EXPECT_EQ(d.out->ptr[1][cy * 4 + cx * 2], d.in->ptr[1][(1 - cx) * 4 + cy * 2]);
                EXPECT_EQ(d.out->ptr[2][cy * 4 + cx * 2], d.in->ptr[2][(1 - cx) * 4 + cy * 2]);
            }
    }
}

// Semi-planar 4:2:2 to planar 4:2:0, upright, one to one, 4 x 4 blocks: chroma row k of the target
// is source chroma row 2k (the even rows), luma is copied.
TEST(FastKernels, SemiPlanar422To420TakesTheFirstRowOfEachPair)
{
    std::mt19937 rng(10);
    PPPara para{};
    para.lBlockMode = PP_BLOCK_4X4;
    para.lResampleMode = PP_RESAMPLE_NEAREST;
    Direct d(kI420, kNV16, 8, 8, para, rng);
    const PPBand band = d.band();
    const int64_t before = PPDebugFastKernelRuns(PPK_YUV422toI420Fast_NORESAMPLE_R0_4x4);
    ASSERT_EQ(YUV2YUV_Fast(&band, &d.dst, &d.src, d.e), MOK);
    EXPECT_EQ(PPDebugFastKernelRuns(PPK_YUV422toI420Fast_NORESAMPLE_R0_4x4), before + 1);
    EXPECT_EQ(0, std::memcmp(d.out->ptr[0], d.in->ptr[0], 64));
    for (int cy = 0; cy < 4; ++cy)
        for (int cx = 0; cx < 4; ++cx) {
            const MInt64 at = 2 * cy * d.in->pitch[1] + 2 * cx;
            EXPECT_EQ(d.out->ptr[1][cy * 4 + cx], d.in->ptr[1][at]) << "U " << cx << "," << cy;
            EXPECT_EQ(d.out->ptr[2][cy * 4 + cx], d.in->ptr[2][at]) << "V " << cx << "," << cy;
        }
}

TEST(FastKernels, GreyIntoSemiPlanarGivesNeutralChroma)
{
    std::mt19937 rng(6);
    PPPara para{};
    para.lOrientation = PP_ORIENT_SWAPXY | PP_ORIENT_MIRROR_LR;
    para.lBlockMode = PP_BLOCK_4X4;
    Direct d(kNV21, kGrey, 8, 8, para, rng);
    const PPBand band = d.band();
    ASSERT_EQ(YUV2YUV_Fast(&band, &d.dst, &d.src, d.e), MOK);
    for (int k = 0; k < 8 * 4; ++k)
        EXPECT_EQ(d.out->bufs[1][static_cast<size_t>(k)], 0x80);
}

TEST(FastKernels, ChromaOrderSwapKeepsEveryValue)
{
    std::mt19937 rng(8);
    PPPara para{};
    para.lBlockMode = PP_BLOCK_4X4;
    Direct d(kNV12, kNV21, 8, 4, para, rng);
    const PPBand band = d.band();
    ASSERT_EQ(YUV2YUV_Fast(&band, &d.dst, &d.src, d.e), MOK);
    // Source pairs are V, U; target pairs U, V.
    for (int k = 0; k < 8; k += 2) {
        EXPECT_EQ(d.out->bufs[1][static_cast<size_t>(k)], d.in->bufs[1][static_cast<size_t>(k + 1)]);
        EXPECT_EQ(d.out->bufs[1][static_cast<size_t>(k + 1)], d.in->bufs[1][static_cast<size_t>(k)]);
    }
    EXPECT_EQ(0, std::memcmp(d.out->ptr[0], d.in->ptr[0], 32));
}

TEST(FastKernels, RedAndBlueExchangeBetweenByteOrders)
{
    std::mt19937 rng(9);
    PPPara para{};
    para.lBlockMode = PP_BLOCK_4X4;
    para.lResampleMode = PP_RESAMPLE_NEAREST;
    PPFormat df{kRGB24, 4, 4, nullptr}, sf{kBGR24, 8, 8, nullptr};
    PPHandle h = nullptr;
    ASSERT_EQ(MPPCreate(&df, &sf, &para, &h), MOK);
    Image in(kBGR24, 8, 8, rng), out(kRGB24, 4, 4, rng);
    const MByte* sp[3] = {in.ptr[0], nullptr, nullptr};
    const int64_t before = PPDebugFastKernelRuns(PPK_BGR2RGBFast_RGB888_N_RESIZE_4x4);
    ASSERT_EQ(MPProcess(h, out.ptr, nullptr, out.pitch, sp, in.pitch), MOK);
    EXPECT_EQ(PPDebugFastKernelRuns(PPK_BGR2RGBFast_RGB888_N_RESIZE_4x4), before + 1);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            for (int c = 0; c < 3; ++c)
                EXPECT_EQ(out.ptr[0][y * 12 + x * 3 + c], in.ptr[0][(2 * y) * 24 + (2 * x) * 3 + (2 - c)]);
    MPPDestroy(h);
}

} // namespace
