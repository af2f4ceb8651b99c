// Planar, grey and semi-planar YUV conversions against a model written from the conversion rules
// rather than from the kernels: which source sample each target luma and chroma sample takes, for
// every pair of these layouts, at one to one in every orientation, by the 4 x 4 block kernels and
// by the per-pixel kernel, and the bilinear luma of semi-planar resampling in floating point.
//
// The chroma rule: a target chroma sample covers a block of target pixels. The per-pixel kernel
// writes every pixel, so the block keeps the pixel that it walks last (rows of the source-oriented
// band outermost); the block kernels that decimate into or out of a semi-planar layout take the
// first pixel of the block in that walk (the even band row and column) along each source axis that
// has a chroma sample per pixel, and the last between planar layouts. (Along an axis where the
// source shares a sample between two pixels, the sizes here make both pixels of a block read it.)
#include "MPP.h"
#include "PPKernels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <random>
#include <vector>

namespace {

constexpr MInt64 kGrey = 0x64000000;
constexpr MInt64 kI420 = 0x50000811, kI440 = 0x50000801, kI422 = 0x50000810, kI444 = 0x50000800;
constexpr MInt64 kNV21 = 0x70000002, kNV12 = 0x70000003, kNV16 = 0x70000004;
// Planar with the planes in the order Y, V, U.
constexpr MInt64 kYV12 = 0x50000a11, kYV16 = 0x50000a10, kYV24 = 0x50000a00;

bool yvu(MInt64 id) { return id == kYV12 || id == kYV16 || id == kYV24; }

bool semiPlanar(MInt64 id) { return id == kNV21 || id == kNV12 || id == kNV16; }

// Chroma sampling factors (horizontal, vertical) of a layout.
std::pair<int, int> factors(MInt64 id)
{
    switch (id) {
    case kI420: case kNV21: case kNV12: case kYV12: return {2, 2};
    case kI440: return {1, 2};
    case kI422: case kNV16: case kYV16: return {2, 1};
    default: return {1, 1};
    }
}

// One image with its samples readable and writable by (plane, column, row) in chroma units.
struct Image {
    MInt64 id, w, h;
    int hs = 1, vs = 1;
    std::vector<MByte> luma, chroma[2]; // planar U, V; semi-planar: one interleaved plane in chroma[0]
    MByte* ptr[3] = {};
    MInt64 pitch[3] = {};

    Image(MInt64 id_, MInt64 w_, MInt64 h_, std::mt19937& rng) : id(id_), w(w_), h(h_)
    {
        std::tie(hs, vs) = factors(id);
        luma.resize(size_t(w * h));
        ptr[0] = luma.data();
        pitch[0] = w;
        const MInt64 cw = (w + hs - 1) / hs, ch = (h + vs - 1) / vs;
        if (semiPlanar(id)) {
            chroma[0].resize(size_t(cw * 2 * ch));
            // 0x70000002 puts V at the lower address of each pair, the others U.
            ptr[1] = chroma[0].data() + (id == kNV21 ? 1 : 0);
            ptr[2] = chroma[0].data() + (id == kNV21 ? 0 : 1);
            pitch[1] = pitch[2] = cw * 2;
        } else if (id != kGrey) {
            for (int k = 0; k < 2; ++k) {
                chroma[k].resize(size_t(cw * ch));
                ptr[k + 1] = chroma[k].data();
                pitch[k + 1] = cw;
            }
        }
        for (auto* v : {&luma, &chroma[0], &chroma[1]})
            for (MByte& b : *v)
                b = MByte(rng());
    }
    // Component k (0 U, 1 V) of chroma sample (cx, cy); 128 for grey.
    int c(int k, MInt64 cx, MInt64 cy) const
    {
        if (id == kGrey)
            return 128;
        const MInt64 step = semiPlanar(id) ? 2 : 1;
        const int plane = yvu(id) ? 2 - k : k + 1;
        return ptr[plane][cy * pitch[plane] + cx * step];
    }
    int y(MInt64 x, MInt64 yy) const { return luma[size_t(yy * w + x)]; }
};

// Oriented (band) position of target pixel (tx, ty) for the orientation flags, the way the engine
// walks a target of tw x th: mirrors first, then the exchange.
std::pair<MInt64, MInt64> bandOf(MInt64 o, MInt64 tx, MInt64 ty, MInt64 tw, MInt64 th)
{
    if (o & PP_ORIENT_MIRROR_LR)
        tx = tw - 1 - tx;
    if (o & PP_ORIENT_MIRROR_TB)
        ty = th - 1 - ty;
    if (o & PP_ORIENT_SWAPXY)
        return {ty, tx};
    return {tx, ty};
}

struct Pair {
    MInt64 dst, src;
};

// Every layout pair among planar, grey and semi-planar that the conversion takes at one to one.
std::vector<Pair> allPairs()
{
    std::vector<Pair> pairs;
    for (MInt64 dst : {kI420, kI440, kI422, kI444, kYV12, kYV16, kYV24, kNV21, kNV12, kNV16})
        for (MInt64 src : {kGrey, kI420, kI440, kI422, kI444, kYV12, kYV16, kYV24, kNV21, kNV12, kNV16})
            pairs.push_back({dst, src});
    return pairs;
}

// Converts src into a fresh random target with the given block mode and orientation and checks
// every target sample against the rule.
void checkOneToOne(const Pair& p, MInt64 orientation, MInt64 block, MInt64 w, MInt64 h, std::mt19937& rng)
{
    const bool swap = orientation & PP_ORIENT_SWAPXY;
    const MInt64 tw = swap ? h : w, th = swap ? w : h;
    PPFormat df{p.dst, tw, th, nullptr}, sf{p.src, w, h, nullptr};
    PPPara para{};
    para.lOrientation = orientation;
    para.lBlockMode = block;
    para.lResampleMode = PP_RESAMPLE_NEAREST;
    PPHandle hp = nullptr;
    ASSERT_EQ(MPPCreate(&df, &sf, &para, &hp), MOK);
    Image in(p.src, w, h, rng), out(p.dst, tw, th, rng);
    const MByte* sp[3] = {in.ptr[0], in.ptr[1], in.ptr[2]};
    ASSERT_EQ(MPProcess(hp, out.ptr, nullptr, out.pitch, sp, in.pitch), MOK);
    MPPDestroy(hp);

    // Block kernels run only over blocks of 4 x 4 target pixels; these sizes are whole blocks. The
    // ones that take the first pixel: planar (Y, U, V order) or grey into semi-planar in every
    // orientation but all three flags at once, and semi-planar 4:2:2 into planar 4:2:0 upright.
    // Every other pair either samples chroma alike at both ends of a block or is done pixel by
    // pixel (the Y, V, U planar layouts always are).
    const bool planarSource = !semiPlanar(p.src) && !yvu(p.src);
    const bool firstOfBlock = block == PP_BLOCK_4X4 && ((planarSource && semiPlanar(p.dst) && orientation != 7) ||
                                                        (p.src == kNV16 && p.dst == kI420 && orientation == 0));
    int lumaErrors = 0, chromaErrors = 0;
    for (MInt64 ty = 0; ty < th; ++ty)
        for (MInt64 tx = 0; tx < tw; ++tx) {
            const auto [u, v] = bandOf(orientation, tx, ty, tw, th);
            lumaErrors += out.y(tx, ty) != in.y(u, v);
        }
    const MInt64 cw = (tw + out.hs - 1) / out.hs, ch = (th + out.vs - 1) / out.vs;
    for (MInt64 cy = 0; cy < ch; ++cy)
        for (MInt64 cx = 0; cx < cw; ++cx) {
            // The block's pixels in band order; the rule picks the first or the last of them.
            MInt64 bu = -1, bv = -1;
            for (MInt64 ty = cy * out.vs; ty < std::min(th, (cy + 1) * out.vs); ++ty)
                for (MInt64 tx = cx * out.hs; tx < std::min(tw, (cx + 1) * out.hs); ++tx) {
                    const auto [u, v] = bandOf(orientation, tx, ty, tw, th);
                    const bool better = bv < 0 || (firstOfBlock ? (v < bv || (v == bv && u < bu))
                                                                : (v > bv || (v == bv && u > bu)));
                    if (better) {
                        bu = u;
                        bv = v;
                    }
                }
            for (int k = 0; k < 2; ++k) {
                const int want = in.c(k, bu / in.hs, bv / in.vs);
                if (out.c(k, cx, cy) != want && ++chromaErrors <= 3)
                    ADD_FAILURE() << (k ? "V" : "U") << " of target chroma sample " << cx << "," << cy << " is "
                                  << out.c(k, cx, cy) << ", want " << want << " from band pixel " << bu << "," << bv;
            }
        }
    EXPECT_EQ(lumaErrors, 0);
    EXPECT_EQ(chromaErrors, 0);
}

} // namespace

TEST(ChromaRule, EveryPlanarAndSemiPlanarPairTakesTheRulesSamples)
{
    std::mt19937 rng(41);
    for (const Pair& p : allPairs())
        for (MInt64 orientation = 0; orientation < 8; ++orientation)
            for (MInt64 block : {PP_BLOCK_1X1, PP_BLOCK_4X4})
                for (auto [w, h] : {std::pair<MInt64, MInt64>{8, 8}, {12, 20}, {24, 4}}) {
                    SCOPED_TRACE(testing::Message() << std::hex << "target " << p.dst << " source " << p.src << std::dec
                                                    << " orientation " << orientation << " block " << block << " "
                                                    << w << "x" << h);
                    ASSERT_NO_FATAL_FAILURE(checkOneToOne(p, orientation, block, w, h, rng));
                    if (testing::Test::HasFailure())
                        return;
                }
}

// Planar 4:4:4 and 4:2:2 into semi-planar 4:2:0 by the 4 x 4 kernels, spelled out: target chroma
// sample (cx, cy) is the source chroma of pixel (2 cx, 2 cy), the even row and column.
TEST(ChromaRule, PlanarIntoSemiPlanar420TakesTheEvenRowsAndColumns)
{
    std::mt19937 rng(43);
    for (MInt64 src : {kI444, kI422, kI440})
        for (MInt64 dst : {kNV21, kNV12}) {
            SCOPED_TRACE(testing::Message() << std::hex << src << " to " << dst);
            PPFormat df{dst, 8, 8, nullptr}, sf{src, 8, 8, nullptr};
            PPPara para{};
            para.lBlockMode = PP_BLOCK_4X4;
            PPHandle hp = nullptr;
            ASSERT_EQ(MPPCreate(&df, &sf, &para, &hp), MOK);
            Image in(src, 8, 8, rng), out(dst, 8, 8, rng);
            const MByte* sp[3] = {in.ptr[0], in.ptr[1], in.ptr[2]};
            const int64_t before = PPDebugFastKernelRuns(PPK_YUVtoNV21Fast_NORESAMPLE_R0_4x4);
            ASSERT_EQ(MPProcess(hp, out.ptr, nullptr, out.pitch, sp, in.pitch), MOK);
            EXPECT_GT(PPDebugFastKernelRuns(PPK_YUVtoNV21Fast_NORESAMPLE_R0_4x4), before);
            MPPDestroy(hp);
            for (int cy = 0; cy < 4; ++cy)
                for (int cx = 0; cx < 4; ++cx)
                    for (int k = 0; k < 2; ++k)
                        EXPECT_EQ(out.c(k, cx, cy), in.c(k, 2 * cx / in.hs, 2 * cy / in.vs)) << cx << "," << cy;
        }
}

// Semi-planar 4:2:0 resampled onto itself, bilinear: luma against the interpolation in floating
// point at the pixel-centre positions (within a level for the fixed-point fractions); chroma is
// never interpolated and equals one of the source's chroma samples near the position.
TEST(ChromaRule, SemiPlanarBilinearResamplingFollowsTheFloatModel)
{
    std::mt19937 rng(47);
    for (MInt64 id : {kNV21, kNV12})
        for (MInt64 block : {PP_BLOCK_1X1, PP_BLOCK_4X4})
            for (auto [sw, sh, tw, th] : {std::array<MInt64, 4>{32, 24, 16, 12}, {30, 22, 20, 16}, {16, 12, 28, 20}}) {
                SCOPED_TRACE(testing::Message() << std::hex << id << std::dec << " block " << block << " " << sw
                                                << "x" << sh << " to " << tw << "x" << th);
                PPFormat df{id, tw, th, nullptr}, sf{id, sw, sh, nullptr};
                PPPara para{};
                para.lBlockMode = block;
                para.lResampleMode = PP_RESAMPLE_BILINEAR;
                PPHandle hp = nullptr;
                ASSERT_EQ(MPPCreate(&df, &sf, &para, &hp), MOK);
                Image in(id, sw, sh, rng), out(id, tw, th, rng);
                const MByte* sp[3] = {in.ptr[0], in.ptr[1], in.ptr[2]};
                ASSERT_EQ(MPProcess(hp, out.ptr, nullptr, out.pitch, sp, in.pitch), MOK);
                MPPDestroy(hp);
                const double kx = double(sw) / tw, ky = double(sh) / th;
                double sum = 0;
                int worst = 0;
                for (MInt64 ty = 0; ty < th; ++ty)
                    for (MInt64 tx = 0; tx < tw; ++tx) {
                        const double px = std::clamp((tx + 0.5) * kx - 0.5, 0.0, double(sw - 1));
                        const double py = std::clamp((ty + 0.5) * ky - 0.5, 0.0, double(sh - 1));
                        const MInt64 x0 = MInt64(px), y0 = MInt64(py);
                        const MInt64 x1 = std::min(x0 + 1, sw - 1), y1 = std::min(y0 + 1, sh - 1);
                        const double fx = px - x0, fy = py - y0;
                        const double top = in.y(x0, y0) + (in.y(x1, y0) - in.y(x0, y0)) * fx;
                        const double bottom = in.y(x0, y1) + (in.y(x1, y1) - in.y(x0, y1)) * fx;
                        const double want = top + (bottom - top) * fy;
                        const double d = out.y(tx, ty) - want;
                        sum += d;
                        worst = std::max(worst, int(std::lround(std::fabs(d))));
                        // Chroma: the sample of the pixel's nearest source position, or of a
                        // neighbour on the same pair of rows.
                        const MInt64 cx = tx / 2, cy = ty / 2;
                        bool found = false;
                        for (MInt64 sy = std::max<MInt64>(0, MInt64(py) - 1) / 2; sy <= std::min(sh - 1, MInt64(py) + 2) / 2; ++sy)
                            for (MInt64 sx = std::max<MInt64>(0, MInt64(px) - 2) / 2; sx <= std::min(sw - 1, MInt64(px) + 3) / 2; ++sx)
                                found = found || (out.c(0, cx, cy) == in.c(0, sx, sy) && out.c(1, cx, cy) == in.c(1, sx, sy));
                        EXPECT_TRUE(found) << "chroma of " << tx << "," << ty;
                    }
                EXPECT_LE(worst, 1);
                EXPECT_LE(std::fabs(sum / double(tw * th)), 0.25);
            }
}
