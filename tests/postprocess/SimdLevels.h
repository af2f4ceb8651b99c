// The vector levels a test compares with the portable one, and a guard that puts back the level
// in force (which KPV_SIMD may have chosen) when a test ends.
#ifndef KPV_TESTS_POSTPROCESS_SIMDLEVELS_H
#define KPV_TESTS_POSTPROCESS_SIMDLEVELS_H

#include "PPCpu.h"

#include <vector>

// The levels to compare with the portable one: those the processor has.
inline std::vector<PPSimd> vectorLevels()
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

#endif
