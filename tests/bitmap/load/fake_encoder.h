// A small encoder component for the save tests; the library ships none. It writes
//   "KPVF", width, height, old colour ID, quality (four 64-bit words), then each row's plane-0
//   bytes, cut to quality percent of the row for JPEG (so the file size follows the quality),
// and takes no more lines than the height it was created for.
#pragma once

#include <cstdint>
#include <vector>

#include "AMCM.h"

namespace loadtest {

// Registers the encoder for BMP, JPEG and PNG on the manager.
void registerFakeEncoder(AMCMHandle m);

struct FakeFile {
    bool ok = false;
    int64_t width = 0, height = 0, colour = 0, quality = 0;
    std::vector<std::vector<uint8_t>> rows;
};
FakeFile parseFake(const std::vector<uint8_t>& bytes);

// Qualities of every encoder created since the last reset, in order.
extern std::vector<int64_t> g_fakeQualities;

} // namespace loadtest
