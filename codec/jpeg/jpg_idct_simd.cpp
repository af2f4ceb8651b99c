// Vector inverse transform (not yet written: the portable path serves).
#include "jpg_idct_impl.h"

JpgIdct8SimdFn JpgIdct8Simd = nullptr;
