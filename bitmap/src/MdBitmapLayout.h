// Plane layout of each pixel format an MBITMAP can hold.
#ifndef KPV_BITMAP_MDBITMAPLAYOUT_H
#define KPV_BITMAP_MDBITMAPLAYOUT_H

#include <cstdint>

struct MdBitmapLayout {
    enum Kind { Packed, Planar, SemiPlanar } kind = Packed;
    int64_t pitch[3] = {};  // default pitches
    int64_t minRow[3] = {}; // bytes a row of each plane needs
    int64_t rows[3] = {};   // rows of each plane in the block
};

// False for formats an MBITMAP cannot be allocated in.
bool MdBitmapDescribeLayout(uint64_t format, int64_t width, int64_t height, MdBitmapLayout* out);

#endif
