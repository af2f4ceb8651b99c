// The vector instruction set the post-processing kernels use, chosen once at start-up from the
// processor's features. Every vector path writes the same bytes as the portable one, so the choice
// changes speed only.
//
// KPV_SIMD=portable|sse4.1|avx2 in the environment caps the choice (for measuring one path, or
// for running on a machine whose vector unit is suspect); a level the processor lacks is never
// chosen. Tests switch levels with PPSetSimdLevel.
#ifndef KPV_POSTPROCESS_PPCPU_H
#define KPV_POSTPROCESS_PPCPU_H

enum class PPSimd : int { Portable = 0, SSE41 = 1, AVX2 = 2 };

// The level in force.
PPSimd PPSimdLevel();
// The best level this processor supports.
PPSimd PPSimdBest();
// Test hook: sets the level in force, lowered to what the processor supports; returns the level
// now in force.
PPSimd PPSetSimdLevel(PPSimd level);
// The level a KPV_SIMD value asks for, lowered to best; an empty or missing value gives best, and
// an unknown one gives best with known set to false.
PPSimd PPSimdCapped(const char* text, PPSimd best, bool* known);
// "portable", "sse4.1" or "avx2".
const char* PPSimdName(PPSimd level);

// Function attributes for kernels built for one level; the rest of a file stays portable.
#if defined(__x86_64__) || defined(__i386__)
#define KPV_HAVE_X86_SIMD 1
#define KPV_TARGET_SSE41 __attribute__((target("sse4.1")))
#define KPV_TARGET_AVX2 __attribute__((target("avx2")))
#else
#define KPV_HAVE_X86_SIMD 0
#endif

#endif
