// The chunk walker every reader of a PNG's chunks goes through: file order, the end at IEND, and
// no chunk visited whose data runs past the bytes there are.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "MPngChunks.h"

namespace {

void addChunk(std::vector<uint8_t>& png, const char* type, const std::string& data)
{
    const uint32_t n = uint32_t(data.size());
    for (int shift = 24; shift >= 0; shift -= 8)
        png.push_back(uint8_t(n >> shift));
    png.insert(png.end(), type, type + 4);
    png.insert(png.end(), data.begin(), data.end());
    png.insert(png.end(), 4, 0); // the CRC; the walker does not check it
}

std::vector<std::string> walk(const std::vector<uint8_t>& png, MPngWalkEnd* end, const char* stopAt = nullptr)
{
    std::vector<std::string> seen;
    *end = MPngWalkChunksInMemory(png.data(), png.size(), [&](const MPngChunk& chunk) {
        seen.emplace_back(chunk.type);
        return stopAt == nullptr || !chunk.is(stopAt);
    });
    return seen;
}

} // namespace

TEST(PngChunks, WalkInFileOrderToIendAndNeverPastTheBytesThereAre)
{
    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    addChunk(png, "IHDR", std::string(13, '\0'));
    addChunk(png, "tEXt", std::string("Thumb::URI\0file:///a.png", 25));
    addChunk(png, "IDAT", std::string(100, 'x'));
    addChunk(png, "IEND", "");
    png.insert(png.end(), {'t', 'r', 'a', 'i', 'l', 'i', 'n', 'g', ' ', 'b', 'y', 't', 'e', 's'});

    MPngWalkEnd end;
    EXPECT_EQ(walk(png, &end), (std::vector<std::string>{"IHDR", "tEXt", "IDAT", "IEND"}));
    EXPECT_EQ(end, MPNG_WALK_END) << "nothing after IEND is a chunk";
    EXPECT_EQ(walk(png, &end, "tEXt"), (std::vector<std::string>{"IHDR", "tEXt"}));
    EXPECT_EQ(end, MPNG_WALK_STOPPED);

    // Cut inside the image data: the chunks before it are seen, the cut one is not.
    const std::vector<uint8_t> cut(png.begin(), png.begin() + 8 + 25 + 36 + 50);
    EXPECT_EQ(walk(cut, &end), (std::vector<std::string>{"IHDR", "tEXt"}));
    EXPECT_EQ(end, MPNG_WALK_BROKEN);
    // A length near 4 GiB is refused, not added up past the end.
    std::vector<uint8_t> huge(png.begin(), png.begin() + 8);
    addChunk(huge, "IHDR", "");
    huge[8] = huge[9] = huge[10] = huge[11] = 0xFF;
    EXPECT_TRUE(walk(huge, &end).empty());
    EXPECT_EQ(end, MPNG_WALK_BROKEN);
}
