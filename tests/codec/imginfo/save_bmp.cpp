// Writing raw rows as a BMP: layout, a read-back through the BMP decoder, and write failures
// that must leave neither a partial file nor a damaged original.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

#include "BmpDecoder.h"
#include "MStream.h"
#include "MdImgInfo.h"

namespace {

std::string tempDir() {
    char tmpl[] = "/tmp/kpv-savebmp-XXXXXX";
    return mkdtemp(tmpl);
}

std::vector<uint8_t> slurp(const std::string& p) {
    std::ifstream f(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), {}};
}

TEST(SaveAsBmp, LayoutAndReadBack) {
    const std::string dir = tempDir();
    struct Row { int w, h, bits; int64_t rowSize, offset; };
    for (const Row& r : {Row{1, 2, 24, 4, 54}, Row{33, 3, 1, 8, 62}, Row{5, -4, 8, 8, 1078}, Row{3, 2, 16, 8, 70},
                         Row{2, 2, 32, 8, 54}}) {
        const int rows = r.h < 0 ? -r.h : r.h;
        std::vector<uint8_t> px(size_t(r.rowSize * rows));
        for (size_t i = 0; i < px.size(); ++i) px[i] = uint8_t(i * 7 + 1);
        std::string path = dir + "/out.bmp";
        ASSERT_EQ(MdUtilsSaveAsBmp(path.c_str(), px.data(), r.w, r.h, r.bits), 1);
        auto f = slurp(path);
        ASSERT_EQ(int64_t(f.size()), r.offset + r.rowSize * rows);
        uint32_t off;
        std::memcpy(&off, &f[10], 4);
        EXPECT_EQ(off, r.offset);
        EXPECT_EQ(0, std::memcmp(&f[size_t(r.offset)], px.data(), px.size()));

        MSTREAM s = MStreamOpenFromFileS(path.c_str(), MSTREAM_MODE_READ);
        BMPHandle d = nullptr;
        ASSERT_EQ(BMP_DecodeInit(s, &d), MOK) << r.bits;
        BMPInfoHeader ih;
        BMP_DecodeGetInfoHeader(d, &ih);
        EXPECT_EQ(ih.lWidth, r.w);
        EXPECT_EQ(ih.lHeight, rows);
        BMP_DecodeUninit(d);
        MStreamClose(s);
    }
    std::remove((dir + "/out.bmp").c_str());
    rmdir(dir.c_str());
}

TEST(SaveAsBmp, WriteFailureRemovesThePartialFileAndKeepsTheOriginal) {
    const std::string dir = tempDir();
    const std::string path = dir + "/keep.bmp";
    {
        std::ofstream(path) << "original";
    }
    std::vector<uint8_t> px(size_t(400 * 400 * 3));
    // A file size limit makes the writes fail part-way.
    signal(SIGXFSZ, SIG_IGN);
    rlimit old;
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 4096;
    setrlimit(RLIMIT_FSIZE, &small);
    int64_t r = MdUtilsSaveAsBmp(path.c_str(), px.data(), 400, 400, 24);
    setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_EQ(r, 0);
    auto f = slurp(path);
    EXPECT_EQ(std::string(f.begin(), f.end()), "original");
    EXPECT_EQ(std::remove(path.c_str()), 0);
    EXPECT_EQ(rmdir(dir.c_str()), 0) << "no partial file left behind";

    EXPECT_EQ(MdUtilsSaveAsBmp("/nonexistent-dir/x.bmp", px.data(), 4, 4, 24), 0);
    EXPECT_EQ(MdUtilsSaveAsBmp((dir + "x.bmp").c_str(), px.data(), 4, 4, 7), 0);
}

}  // namespace
