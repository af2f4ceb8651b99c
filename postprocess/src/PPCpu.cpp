#include "PPCpu.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

PPSimd detect()
{
#if KPV_HAVE_X86_SIMD
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("sse4.1"))
        return PPSimd::AVX2;
    if (__builtin_cpu_supports("sse4.1"))
        return PPSimd::SSE41;
#endif
    return PPSimd::Portable;
}

PPSimd fromEnvironment(PPSimd best)
{
    const char* v = std::getenv("KPV_SIMD");
    bool known = true;
    const PPSimd level = PPSimdCapped(v, best, &known);
    if (!known)
        std::fprintf(stderr, "KPV_SIMD=%s is none of portable, sse4.1, avx2; using %s\n", v, PPSimdName(level));
    return level;
}

std::atomic<int>& current()
{
    static std::atomic<int> level{static_cast<int>(fromEnvironment(PPSimdBest()))};
    return level;
}

} // namespace

PPSimd PPSimdBest()
{
    static const PPSimd best = detect();
    return best;
}

PPSimd PPSimdLevel() { return static_cast<PPSimd>(current().load(std::memory_order_relaxed)); }

PPSimd PPSetSimdLevel(PPSimd level)
{
    const int capped = std::min(static_cast<int>(level), static_cast<int>(PPSimdBest()));
    current().store(capped);
    return static_cast<PPSimd>(capped);
}

const char* PPSimdName(PPSimd level)
{
    switch (level) {
    case PPSimd::AVX2: return "avx2";
    case PPSimd::SSE41: return "sse4.1";
    default: return "portable";
    }
}

PPSimd PPSimdCapped(const char* text, PPSimd best, bool* known)
{
    *known = true;
    if (!text || !*text)
        return best;
    PPSimd asked = best;
    if (!std::strcmp(text, "portable"))
        asked = PPSimd::Portable;
    else if (!std::strcmp(text, "sse4.1") || !std::strcmp(text, "sse41"))
        asked = PPSimd::SSE41;
    else if (!std::strcmp(text, "avx2"))
        asked = PPSimd::AVX2;
    else
        *known = false;
    return std::min(asked, best, [](PPSimd a, PPSimd b) { return static_cast<int>(a) < static_cast<int>(b); });
}
