// Constant tables of the JPEG decoder.
#include "jpg_internal.h"

// ITU-T T.81 figure A.6: zig-zag sequence. The 16 trailing entries catch runs that step past
// the last coefficient in corrupt data, so a store never leaves the block.
const uint8_t jpg_natural_order[80] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33,
    40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36,
    29, 22, 15, 23, 30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54,
    47, 55, 62, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63};

// T.81 F.2.2.1 EXTEND: added to an n-bit magnitude whose top bit is 0.
const int32_t jpg_extend_tbl[16] = {0,    -1,   -3,   -7,    -15,   -31,   -63,   -127,
                                    -255, -511, -1023, -2047, -4095, -8191, -16383, -32767};

// Last zig-zag index stored by scale shift: the 1/2 and 1/4 transforms average the whole 8x8
// transform, so they need every coefficient; 1/8 needs the DC term only.
const int32_t jpg_scalese_tbl[4] = {63, 63, 63, 0};

// Block handling by vertical class (row) and horizontal class (column): 0 inside, 1 reaches
// the edge, 2 starts at or beyond it. Handling 0 full, 1 clip columns, 2 clip rows, 3 both, 4 skip.
const int32_t jpg_mcumode_tbl[3][3] = {{0, 1, 4}, {2, 3, 4}, {4, 4, 4}};

// Pixel steps of components 0, 1, 2 by output-layout row.
const uint8_t jpg_yccrun_tbl[24][3] = {
    {1, 1, 1}, {1, 1, 1}, {1, 1, 1}, {1, 1, 1}, {1, 1, 1}, {1, 1, 1}, {8, 8, 8}, {2, 4, 4},
    {2, 4, 4}, {2, 4, 4}, {2, 4, 4}, {2, 2, 2}, {2, 2, 2}, {2, 2, 2}, {2, 2, 2}, {3, 3, 3},
    {1, 1, 1}, {8, 8, 8}, {1, 1, 1}, {1, 1, 1}, {1, 1, 1}, {1, 2, 2}, {1, 2, 2}, {1, 1, 1}};

// Subsampling type by maxV * 3 + maxH (rows V = 0, 1, 2).
const int32_t jpg_yuvsample_tbl[9] = {6, 6, 6, 6, 3, 1, 6, 2, 0};

// Factors multiplied into the quantisers, one row per scale shift, natural order.
// Row 0: 16384 * c(u) * c(v), c(0) = 1, c(k) = sqrt(2) cos(k pi / 16), the scaling of the
// factorised 8-point transform. Rows 1 and 2 fold the 2:1 and 4:1 box average of the full
// transform into the reduced ones; row 3 keeps the DC term only.
const int16_t jpg_idct_scale_tbl[4][64] = {
    {16384, 22725, 21407, 19266, 16384, 12873, 8867,  4520,  22725, 31521, 29692, 26722, 22725,
     17855, 12299, 6270,  21407, 29692, 27969, 25172, 21407, 16819, 11585, 5906,  19266, 26722,
     25172, 22654, 19266, 15137, 10426, 5315,  16384, 22725, 21407, 19266, 16384, 12873, 8867,
     4520,  12873, 17855, 16819, 15137, 12873, 10114, 6967,  3552,  8867,  12299, 11585, 10426,
     8867,  6967,  4799,  2446,  4520,  6270,  5906,  5315,  4520,  3552,  2446,  1247},
    {16384, 20995, 15137, 7373,  0, 11893, -6269, -1729, 20995, 26905, 19397, 9448,  0,
     15240, -8034, -2216, 15137, 19397, 13985, 6811,  0, 10988, -5792, -1597, 7373,  9448,
     6811,  3318,  0,     5352,  -2820, -777,  0,     0, 0,     0,     0,     0,     0,
     0,     11893, 15240, 10988, 5352,  0,     8633, -4550, -1255, -6269, -8034, -5792, -2820,
     0,     -4550, 2399,  662,   -1729, -2216, -1597, -777, 0,     -1255, 662,   183},
    {16384, 14846, 0, -5212, 0, 3483,  0, -2952, 14846, 13452, 0, -4723, 0, 3156,  0, -2675,
     0,     0,     0, 0,     0, 0,     0, 0,     -5212, -4723, 0, 1659,  0, -1107, 0, 940,
     0,     0,     0, 0,     0, 0,     0, 0,     3483,  3156,  0, -1107, 0, 741,   0, -627,
     0,     0,     0, 0,     0, 0,     0, 0,     -2952, -2675, 0, 940,   0, -627,  0, 532},
    {64, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
     0,  0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
     0,  0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}};
