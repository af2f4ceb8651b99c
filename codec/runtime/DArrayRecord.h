// The record behind an ADK_DArray handle.
#ifndef KPV_CODEC_RUNTIME_DARRAYRECORD_H
#define KPV_CODEC_RUNTIME_DARRAYRECORD_H

#include <cstdint>

#include "AMCM.h"

struct ADK_DArrayRecord {
    unsigned char* buffer;
    int64_t capacity;    // in elements
    int64_t upperBound;  // index of the last element, -1 when empty
    int64_t elementSize; // a non-zero multiple of 4
    MHandle memContext;
};

#endif
