// Memory streams against a reference model, file streams, the 64-bit forms, the copy and the
// file utilities.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "../../../codec/runtime/StreamRecord.h"
#include "MFileReplace.h"
#include "MRuntime.h"

namespace fs = std::filesystem;

namespace {

// A private folder per test, removed afterwards.
class TempDir {
public:
    TempDir()
    {
        std::string pattern = (fs::temp_directory_path() / "kpv-stream-XXXXXX").string();
        path_ = ::mkdtemp(pattern.data());
    }
    ~TempDir() { fs::remove_all(path_); }
    std::string file(const std::string& name) const { return (fs::path(path_) / name).string(); }

private:
    std::string path_;
};

void writeFile(const std::string& path, const std::vector<unsigned char>& bytes)
{
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

std::vector<unsigned char> readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<unsigned char> pattern(size_t n, unsigned seed)
{
    std::vector<unsigned char> v(n);
    std::mt19937 rng(seed);
    for (auto& b : v)
        b = static_cast<unsigned char>(rng());
    return v;
}

std::u16string u16(const std::string& ascii)
{
    return std::u16string(ascii.begin(), ascii.end());
}

// The reference: every byte ever written (the backing store), the valid length and the position.
// Bytes past a lowered length stay in the backing store and reappear if a later write passes
// them, exactly as in the stream's chunks or the caller's buffer.
struct Model {
    std::vector<unsigned char> backing;
    int64_t length = 0;
    int64_t pos = 0;
    int64_t capacity = INT64_MAX; // a fixed stream's buffer size
};

void runModel(MSTREAM s, Model& m, uint32_t seed, int steps)
{
    std::mt19937 rng(seed);
    auto pick = [&](int64_t hi) { return static_cast<int64_t>(rng() % static_cast<uint64_t>(hi + 1)); };
    for (int step = 0; step < steps; ++step) {
        const int op = rng() % 10;
        const int64_t n = rng() % 4 == 0 ? pick(40000) : pick(300);
        if (op < 3) {
            std::vector<unsigned char> data = pattern(static_cast<size_t>(n), rng());
            int64_t expect = std::min(n, m.capacity - m.pos);
            ASSERT_EQ(MStreamWrite(s, data.data(), n), expect) << "step " << step;
            if (m.backing.size() < static_cast<size_t>(m.pos + expect))
                m.backing.resize(static_cast<size_t>(m.pos + expect));
            std::copy_n(data.begin(), expect, m.backing.begin() + m.pos);
            m.pos += expect;
            if (expect > 0)
                m.length = std::max(m.length, m.pos);
        } else if (op < 6) {
            std::vector<unsigned char> got(static_cast<size_t>(n) + 1);
            int64_t expect = std::max<int64_t>(0, std::min(n, m.length - m.pos));
            ASSERT_EQ(MStreamRead(s, got.data(), n), expect) << "step " << step;
            for (int64_t i = 0; i < expect; ++i)
                ASSERT_EQ(got[i], m.backing[m.pos + i]) << "step " << step << " byte " << i;
            m.pos += expect;
        } else if (op < 9) {
            const MWord origin = rng() % 3;
            const int64_t offset = pick(2 * m.length + 40000) - m.length - 20000;
            ASSERT_EQ(MStreamSeek(s, origin, offset), MOK);
            int64_t base = origin == 0 ? 0 : origin == 1 ? m.length : m.pos;
            m.pos = std::clamp<int64_t>(base + offset, 0, m.length);
        } else {
            const int64_t size = pick(m.length + 100) - 50;
            int64_t expect = size < m.length ? std::max<int64_t>(size, 0) : m.length;
            ASSERT_EQ(MStreamSetSize(s, size), expect);
            m.length = expect;
        }
        ASSERT_EQ(MStreamTell(s), m.pos) << "step " << step;
        ASSERT_EQ(MStreamGetSize(s), m.length) << "step " << step;
        ASSERT_EQ(MStreamTell64(s), m.pos);
        ASSERT_EQ(MStreamGetSize64(s), m.length);
    }
}

TEST(MemoryStream, GrowableMatchesTheReferenceAcrossChunks)
{
    for (uint32_t seed = 1; seed <= 8; ++seed) {
        const int64_t first = seed % 2 ? 100 : 0;
        MSTREAM s = MStreamOpenFromMemoryBlock(nullptr, first);
        ASSERT_NE(s, nullptr);
        Model m;
        ASSERT_NO_FATAL_FAILURE(runModel(s, m, seed, 600));
        EXPECT_EQ(MStreamClose(s), MTrue);
        if (HasFatalFailure())
            return;
    }
}

TEST(MemoryStream, FixedBufferMatchesTheReferenceAndNeverGrows)
{
    for (uint32_t seed = 20; seed <= 25; ++seed) {
        std::vector<unsigned char> buffer = pattern(50000, seed);
        MSTREAM s = MStreamOpenFromMemoryBlock(buffer.data(), static_cast<MInt64>(buffer.size()));
        ASSERT_NE(s, nullptr);
        Model m;
        m.backing = buffer;
        m.length = static_cast<int64_t>(buffer.size());
        m.capacity = m.length;
        ASSERT_NO_FATAL_FAILURE(runModel(s, m, seed, 600));
        EXPECT_EQ(MStreamClose(s), MTrue);
        EXPECT_EQ(buffer.size(), 50000u);
        EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), m.backing.begin()));
        if (HasFatalFailure())
            return;
    }
}

TEST(MemoryStream, ChunkLayout)
{
    MSTREAM s = MStreamOpenFromMemoryBlock(nullptr, 0);
    EXPECT_EQ(s->totalCapacity, 16384u);
    EXPECT_EQ(s->growable, kGrowableMarker);
    MStreamClose(s);

    s = MStreamOpenFromMemoryBlock(nullptr, 100);
    std::vector<unsigned char> data = pattern(150, 3);
    EXPECT_EQ(MStreamWrite(s, data.data(), 150), 150);
    EXPECT_EQ(MStreamGetSize(s), 150);
    EXPECT_EQ(s->totalCapacity, 16484u);
    MStreamClose(s);

    // A position exactly at a chunk's end stays in that chunk; the next read crosses over.
    s = MStreamOpenFromMemoryBlock(nullptr, 0);
    data = pattern(20000, 4);
    MStreamWrite(s, data.data(), 20000);
    EXPECT_EQ(MStreamSeek(s, MSTREAM_SEEK_BEGIN, 16384), MOK);
    EXPECT_EQ(s->chunks->current, s->chunks->first);
    EXPECT_EQ(s->blockPosition, 16384u);
    unsigned char b[4];
    EXPECT_EQ(MStreamRead(s, b, 4), 4);
    EXPECT_EQ(0, std::memcmp(b, data.data() + 16384, 4));
    EXPECT_EQ(MStreamSeek(s, 7, 0), MERR_UNKNOWN);
    EXPECT_EQ(MStreamTell(s), 16388);
    MStreamClose(s);
}

TEST(MemoryStream, FixedWritesStopAtTheBufferEnd)
{
    unsigned char buf[10] = {};
    MSTREAM s = MStreamOpenFromMemoryBlock(buf, 10);
    MStreamSeek(s, MSTREAM_SEEK_BEGIN, 8);
    const unsigned char five[5] = {1, 2, 3, 4, 5};
    EXPECT_EQ(MStreamWrite(s, five, 5), 2);
    EXPECT_EQ(buf[9], 2);
    EXPECT_EQ(MStreamSetSize(s, 20), 10);
    EXPECT_EQ(MStreamSetSize(s, -5), 0);
    EXPECT_EQ(MStreamGetSize(s), 0);
    EXPECT_EQ(MStreamRead(s, buf, 4), 0) << "nothing is left once the length is 0";
    EXPECT_EQ(MStreamFlush(s), MTrue);
    EXPECT_EQ(MStreamClose(s), MTrue);
    EXPECT_EQ(MStreamOpenFromMemoryBlock(buf, -1), nullptr);
}

TEST(MemoryStream, SixtyFourBitFormsWorkOnMemory)
{
    MSTREAM s = MStreamOpenFromMemoryBlock(nullptr, 0);
    std::vector<unsigned char> data = pattern(40000, 9);
    EXPECT_EQ(MStreamWrite64(s, data.data(), 40000), 40000);
    EXPECT_EQ(MStreamGetSize64(s), 40000);
    EXPECT_EQ(MStreamSeek64(s, MSTREAM_SEEK_END, -100), MOK);
    EXPECT_EQ(MStreamTell64(s), 39900);
    unsigned char b[200];
    EXPECT_EQ(MStreamRead64(s, b, 200), 100);
    EXPECT_EQ(0, std::memcmp(b, data.data() + 39900, 100));
    EXPECT_EQ(MStreamRead64(s, b, 10), -1) << "nothing read is reported as -1";
    EXPECT_EQ(MStreamRead64(s, b, 0), 0);
    EXPECT_EQ(MStreamRead64(s, nullptr, 4), -1);
    EXPECT_EQ(MStreamSeek64(s, 3, 0), -1);
    EXPECT_EQ(MStreamClose64(s), MTrue);
    EXPECT_EQ(MStreamSeek64(nullptr, 0, 0), -1);
    EXPECT_EQ(MStreamTell64(nullptr), -1);
    EXPECT_EQ(MStreamGetSize64(nullptr), -1);
    EXPECT_EQ(MStreamClose64(nullptr), MFalse);
    EXPECT_EQ(MStreamWrite64(nullptr, b, 1), -1);
}

TEST(MemoryStream, NullAndForeignStreamsDoNothing)
{
    unsigned char b[4];
    EXPECT_EQ(MStreamRead(nullptr, b, 4), 0);
    EXPECT_EQ(MStreamWrite(nullptr, b, 4), 0);
    EXPECT_EQ(MStreamTell(nullptr), 0);
    EXPECT_EQ(MStreamFlush(nullptr), MFalse);
    MStreamRecord foreign{};
    foreign.type = 9;
    EXPECT_EQ(MStreamRead(&foreign, b, 4), 0);
    EXPECT_EQ(MStreamClose(&foreign), MFalse);
}

TEST(FileStream, RoundTripSeekAndSize)
{
    TempDir dir;
    const std::string path = dir.file("a.bin");
    std::vector<unsigned char> data = pattern(70000, 11);
    MSTREAM w = MStreamOpenFromFileS(path.c_str(), MSTREAM_MODE_WRITE);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(MStreamWrite(w, data.data(), 70000), 70000);
    EXPECT_EQ(MStreamFlush(w), MTrue);
    EXPECT_EQ(MStreamClose(w), MTrue);
    EXPECT_EQ(MStreamFileGetSizeS(path.c_str()), 70000);

    MSTREAM r = MStreamOpenFromFileS(path.c_str(), 99); // unknown modes read
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(MStreamSeek(r, MSTREAM_SEEK_BEGIN, 1000), 0);
    EXPECT_EQ(MStreamGetSize(r), 70000);
    EXPECT_EQ(MStreamTell(r), 1000) << "asking the size keeps the position";
    std::vector<unsigned char> got(100);
    EXPECT_EQ(MStreamRead(r, got.data(), 100), 100);
    EXPECT_TRUE(std::equal(got.begin(), got.end(), data.begin() + 1000));
    EXPECT_EQ(MStreamWrite(r, got.data(), 10), 0);
    EXPECT_EQ(MStreamSetSize(r, 5), -1);
    EXPECT_EQ(MStreamSeek64(r, MSTREAM_SEEK_CUR, 5), 0);
    EXPECT_EQ(MStreamTell64(r), 1105);
    EXPECT_EQ(MStreamClose(r), MTrue);

    MSTREAM a = MStreamOpenFromFile64S(path.c_str(), MSTREAM_MODE_APPEND_UPDATE);
    EXPECT_EQ(MStreamTell64(a), 70000) << "append opens at the end";
    EXPECT_EQ(MStreamClose64(a), MTrue);
    EXPECT_EQ(MStreamOpenFromFileS(dir.file("missing").c_str(), MSTREAM_MODE_READ), nullptr);
    EXPECT_EQ(MStreamOpenFromFileS(nullptr, MSTREAM_MODE_READ), nullptr);
    EXPECT_EQ(MStreamOpenFromFile64S(nullptr, MSTREAM_MODE_READ), nullptr);
}

TEST(FileStream, WidePathsAreNeverCutOrMangled)
{
    TempDir dir;
    // A path well past 255 characters must reach exactly that file.
    std::string deep = dir.file(std::string(200, 'd'));
    fs::create_directory(deep);
    const std::string longPath = deep + "/" + std::string(120, 'f') + ".bin";
    ASSERT_GT(longPath.size(), 300u);
    const std::u16string wide = u16(longPath);
    MSTREAM s = MStreamFileCreateW(wide.c_str());
    ASSERT_NE(s, nullptr);
    MStreamWrite(s, "abc", 3);
    MStreamClose(s);
    EXPECT_EQ(readFile(longPath).size(), 3u);
    EXPECT_EQ(MStreamFileGetSize64W(wide.c_str()), 3);
    EXPECT_EQ(MStreamFileExistsW(wide.c_str()), MTrue);
    // The 255-character prefix names another file, which must not have appeared.
    EXPECT_FALSE(fs::exists(longPath.substr(0, 255)));

    // Non-ASCII names reach the UTF-8 name on disk.
    const std::string utf8Name = dir.file("caf\xC3\xA9-\xE2\x82\xAC-\xF0\x9F\x98\x80.bin");
    writeFile(utf8Name, {1, 2});
    std::u16string w = u16(dir.file("caf"));
    w += u"\u00e9-\u20ac-\U0001F600.bin";
    MSTREAM r = MStreamOpenFromFile64W(w.c_str(), MSTREAM_MODE_READ);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(MStreamGetSize64(r), 2);
    MStreamClose(r);
    std::u16string lone = u16(dir.file("x"));
    lone += char16_t(0xD800);
    EXPECT_EQ(MStreamOpenFromFileW(lone.c_str(), MSTREAM_MODE_WRITE), nullptr);
    EXPECT_EQ(MStreamOpenFromFile64W(nullptr, MSTREAM_MODE_READ), nullptr);
    EXPECT_EQ(MStreamFileGetSize64W(nullptr), -1);
}

TEST(FileStream, CopyBetweenStreams)
{
    std::vector<unsigned char> data = pattern(300000, 12);
    MSTREAM src = MStreamOpenFromMemoryBlock(data.data(), static_cast<MInt64>(data.size()));
    MSTREAM dst = MStreamOpenFromMemoryBlock(nullptr, 0);
    EXPECT_EQ(MStreamCopy(src, dst, 250000), 250000);
    EXPECT_EQ(MStreamCopy(src, dst, 250000), 50000) << "stops at the end of the source";
    EXPECT_EQ(MStreamCopy(src, dst, -1), 0);
    std::vector<unsigned char> back(300000);
    MStreamSeek(dst, MSTREAM_SEEK_BEGIN, 0);
    EXPECT_EQ(MStreamRead(dst, back.data(), 300000), 300000);
    EXPECT_EQ(back, data);
    // A full fixed target ends the copy with what it took.
    unsigned char small[1000];
    MSTREAM tiny = MStreamOpenFromMemoryBlock(small, sizeof small);
    MStreamSeek(src, MSTREAM_SEEK_BEGIN, 0);
    EXPECT_EQ(MStreamCopy(src, tiny, 5000), 1000);
    MStreamClose(tiny);
    MStreamClose(src);
    MStreamClose(dst);
}

TEST(FileUtilities, CopyMoveDeleteAndExists)
{
    TempDir dir;
    const std::string a = dir.file("a"), b = dir.file("b"), c = dir.file("c");
    std::vector<unsigned char> data = pattern(5000, 13);
    writeFile(a, data);
    EXPECT_EQ(MStreamFileCopyS(b.c_str(), a.c_str()), MTrue);
    EXPECT_EQ(readFile(b), data);
    EXPECT_EQ(MStreamFileRenameS(b.c_str(), c.c_str()), MTrue);
    EXPECT_EQ(MStreamFileExistsS(b.c_str()), MFalse);
    EXPECT_EQ(MStreamFileMoveS(b.c_str(), c.c_str()), MTrue);
    EXPECT_EQ(MStreamFileGetSize64S(b.c_str()), 5000);
    EXPECT_EQ(MStreamFileDeleteS(b.c_str()), MTrue);
    EXPECT_EQ(MStreamFileDeleteS(b.c_str()), MFalse);
    EXPECT_EQ(MStreamFileGetSizeS(b.c_str()), -1);
    EXPECT_EQ(MStreamFileCopyS(b.c_str(), dir.file("missing").c_str()), MFalse);
    EXPECT_FALSE(fs::exists(b));
}

TEST(FileUtilities, FailedCopyLeavesNoPartialFileAndKeepsTheTarget)
{
    TempDir dir;
    const std::string folder = dir.file("folder");
    fs::create_directory(folder);
    const std::string target = dir.file("target");
    // Reading a folder opens but fails on the first read: that is an error, not an empty file.
    EXPECT_EQ(MStreamFileCopyS(target.c_str(), folder.c_str()), MFalse);
    EXPECT_FALSE(fs::exists(target));

    std::vector<unsigned char> old = pattern(100, 14);
    writeFile(target, old);
    EXPECT_EQ(MStreamFileCopyS(target.c_str(), folder.c_str()), MFalse);
    EXPECT_EQ(readFile(target), old) << "a failed copy must not damage the existing target";
    size_t entries = 0;
    for ([[maybe_unused]] auto& e : fs::directory_iterator(dir.file("")))
        ++entries;
    EXPECT_EQ(entries, 2u) << "no temporary file is left behind";
}

} // namespace

TEST(FileUtilities, ReplacingKeepsTheModeAndLinksOfTheTargetAndNothingOnFailure)
{
    TempDir dir;
    const std::string source = dir.file("source"), target = dir.file("target"), link = dir.file("link");
    const std::vector<unsigned char> data = pattern(3000, 15), old = pattern(200, 16);
    writeFile(source, data);
    writeFile(target, old);
    fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    fs::create_symlink("target", link);

    // A copy through the link fills the file it names and leaves the link a link.
    EXPECT_EQ(MStreamFileCopyS(link.c_str(), source.c_str()), MTrue);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(readFile(target), data);
    EXPECT_EQ(fs::status(target).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

    // A writer that fails half-way leaves the old content and no temporary file.
    EXPECT_FALSE(MFileReplace(target, [](int fd, const std::string&) { return MFileWriteAll(fd, "half", 4) && false; }));
    EXPECT_EQ(readFile(target), data);
    size_t entries = 0;
    for ([[maybe_unused]] auto& e : fs::directory_iterator(dir.file("")))
        ++entries;
    EXPECT_EQ(entries, 3u);

    // A name near the length limit, in two-byte characters, still finds a temporary name beside it.
    std::string longName;
    for (int i = 0; i < 120; ++i)
        longName += "\xC3\xA9";
    EXPECT_TRUE(MFileReplace(dir.file(longName), [&](int fd, const std::string&) {
        return MFileWriteAll(fd, data.data(), data.size());
    }));
    EXPECT_EQ(readFile(dir.file(longName)), data);
}
