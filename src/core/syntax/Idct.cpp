#include "core/syntax/Idct.h"

#include "core/base/Simd.h"

namespace bitloupe {

namespace {

// How the transform is scaled.
//
// Both passes evaluate, for each output x, the sum over u of k(u) * X[u] * cos((2x + 1)u*pi/16)
// with k(0) = 1 and k(u) = sqrt(2) otherwise; the two passes together, divided by 8, give the
// orthonormal 2-D inverse DCT. The products k(u) * cos(u*pi/16) are held as integers in units
// of 1/2048 (11 fraction bits):
//
//   W_k = round(2048 * sqrt(2) * cos(k*pi/16))
constexpr int32_t W1 = 2841;  // 2048 * sqrt(2) * cos(1*pi/16) = 2840.66
constexpr int32_t W2 = 2676;  // 2048 * sqrt(2) * cos(2*pi/16) = 2675.84
constexpr int32_t W3 = 2408;  // 2048 * sqrt(2) * cos(3*pi/16) = 2408.19
constexpr int32_t W4 = 2048;  // 2048 * sqrt(2) * cos(4*pi/16) = 2048 exactly: the DC scale
constexpr int32_t W5 = 1609;  // 2048 * sqrt(2) * cos(5*pi/16) = 1609.10
constexpr int32_t W6 = 1108;  // 2048 * sqrt(2) * cos(6*pi/16) = 1108.37
constexpr int32_t W7 = 565;   // 2048 * sqrt(2) * cos(7*pi/16) =  565.04
//
// The butterflies rotate pairs of inputs with one shared product and two corrections, so the
// constants actually multiplied are these sums and differences:
static_assert(W1 - W7 == 2276 && W1 + W7 == 3406);
static_assert(W3 - W5 == 799 && W3 + W5 == 4017);
static_assert(W2 + W6 == 3784 && W2 - W6 == 1568);
//
// The last stage of the odd part multiplies by cos(pi/4) = 1/sqrt(2), held in units of 1/256:
//   round(256 / sqrt(2)) = round(181.02) = 181
constexpr int32_t kInvSqrt2 = 181;
//
// Row pass: the DC and the coefficient 4 enter as X * W4 (11 fraction bits, like the
// products); +128 in the DC term rounds the final >> 8, which keeps 3 fraction bits in the
// 16-bit results (a DC-only row of d gives 8d everywhere).
//
// Column pass: the DC and coefficient 4 enter as X * 256 (8 fraction bits); the products are
// brought from 11 to 8 fraction bits by >> 3, each rounded by its +4. The final >> 14 removes
// the 8 fraction bits of the constants, the 3 the row pass kept and the 1/8 of the 2-D
// normalisation; +8192 (half of 2^14) in the DC term rounds it. A DC-only block of d thus gives
// (8d + 32) >> 6, that is d / 8 rounded.
constexpr int32_t kRowDcScale = W4;      // 2048
constexpr int32_t kColumnDcScale = 256;  // W4 >> 3

// (d * 181 + 128) >> 8: d / sqrt(2), rounded. Garbage coefficients can make d * 181 leave 32
// bits (|d| * 181 up to about 6.2e10 for 16-bit inputs), so it is formed from the two parts of
// d = 256q + r (q = d >> 8, r = d & 255): 181q + ((181r + 128) >> 8), the same value, with
// 32-bit products that vectorise.
inline int32_t MulInvSqrt2(int32_t d) {
    return (d >> 8) * kInvSqrt2 + (((d & 255) * kInvSqrt2 + 128) >> 8);
}

// One row, b[0..7], in place.
inline __attribute__((always_inline)) void RowPass(int16_t* b) {
    if (!(b[1] | b[2] | b[3] | b[4] | b[5] | b[6] | b[7])) {
        const int16_t dc = static_cast<int16_t>(b[0] * 8);
        for (int k = 0; k < 8; ++k) b[k] = dc;
        return;
    }
    int32_t x0 = b[0] * kRowDcScale + 128;
    int32_t x1 = b[4] * kRowDcScale;
    int32_t x2 = b[6];
    int32_t x3 = b[2];
    int32_t x4 = b[1];
    int32_t x5 = b[7];
    int32_t x6 = b[5];
    int32_t x7 = b[3];
    int32_t x8;

    // Odd part, first stage: rotations of (1, 7) and (5, 3).
    x8 = W7 * (x4 + x5);
    x4 = x8 + (W1 - W7) * x4;
    x5 = x8 - (W1 + W7) * x5;
    x8 = W3 * (x6 + x7);
    x6 = x8 - (W3 - W5) * x6;
    x7 = x8 - (W3 + W5) * x7;

    // Even part: DC and 4 added and subtracted, rotation of (2, 6); odd part second stage.
    x8 = x0 + x1;
    x0 -= x1;
    x1 = W6 * (x3 + x2);
    x2 = x1 - (W2 + W6) * x2;
    x3 = x1 + (W2 - W6) * x3;
    x1 = x4 + x6;
    x4 -= x6;
    x6 = x5 + x7;
    x5 -= x7;

    // Third stage.
    x7 = x8 + x3;
    x8 -= x3;
    x3 = x0 + x2;
    x0 -= x2;
    x2 = MulInvSqrt2(x4 + x5);
    x4 = MulInvSqrt2(x4 - x5);

    // Outputs, 3 fraction bits kept. Garbage rows can exceed 16 bits; they wrap (two's
    // complement), which only changes which garbage the column pass sees.
    b[0] = static_cast<int16_t>((x7 + x1) >> 8);
    b[1] = static_cast<int16_t>((x3 + x2) >> 8);
    b[2] = static_cast<int16_t>((x0 + x4) >> 8);
    b[3] = static_cast<int16_t>((x8 + x6) >> 8);
    b[4] = static_cast<int16_t>((x8 - x6) >> 8);
    b[5] = static_cast<int16_t>((x0 - x4) >> 8);
    b[6] = static_cast<int16_t>((x3 - x2) >> 8);
    b[7] = static_cast<int16_t>((x7 - x1) >> 8);
}

}  // namespace

CIdct::CIdct() {
    for (int v = kClipMin; v <= kClipMax; ++v)
        clipTable_[v - kClipMin] = static_cast<int16_t>(v < -256 ? -256 : v > 255 ? 255 : v);
}

BITLOUPE_VECTOR_CLONES
void CIdct::FastIdct(int16_t block[64]) const {
    for (int row = 0; row < 8; ++row) RowPass(block + 8 * row);

    // Column pass, c[k] = block[8k + column], all eight columns side by side: straight-line
    // code that vectorises across the columns. A column holding only its DC term comes out
    // the same as through a shortcut, so there is none. The results are clamped to -256..255
    // as Clip does; with 16-bit inputs they stay within about +-3830 before it.
    int32_t x0[8], x1[8], x2[8], x3[8], x4[8], x5[8], x6[8], x7[8], x8[8];
    for (int k = 0; k < 8; ++k) {
        x0[k] = block[k] * kColumnDcScale + 8192;
        x1[k] = block[32 + k] * kColumnDcScale;
        x2[k] = block[48 + k];
        x3[k] = block[16 + k];
        x4[k] = block[8 + k];
        x5[k] = block[56 + k];
        x6[k] = block[40 + k];
        x7[k] = block[24 + k];
    }
    for (int k = 0; k < 8; ++k) {
        // Odd part, first stage; products taken from 11 to 8 fraction bits.
        x8[k] = W7 * (x4[k] + x5[k]) + 4;
        x4[k] = (x8[k] + (W1 - W7) * x4[k]) >> 3;
        x5[k] = (x8[k] - (W1 + W7) * x5[k]) >> 3;
        x8[k] = W3 * (x6[k] + x7[k]) + 4;
        x6[k] = (x8[k] - (W3 - W5) * x6[k]) >> 3;
        x7[k] = (x8[k] - (W3 + W5) * x7[k]) >> 3;

        // Even part; odd part second stage.
        x8[k] = x0[k] + x1[k];
        x0[k] -= x1[k];
        x1[k] = W6 * (x3[k] + x2[k]) + 4;
        x2[k] = (x1[k] - (W2 + W6) * x2[k]) >> 3;
        x3[k] = (x1[k] + (W2 - W6) * x3[k]) >> 3;
        x1[k] = x4[k] + x6[k];
        x4[k] -= x6[k];
        x6[k] = x5[k] + x7[k];
        x5[k] -= x7[k];

        // Third stage.
        x7[k] = x8[k] + x3[k];
        x8[k] -= x3[k];
        x3[k] = x0[k] + x2[k];
        x0[k] -= x2[k];
        x2[k] = MulInvSqrt2(x4[k] + x5[k]);
        x4[k] = MulInvSqrt2(x4[k] - x5[k]);
    }
    auto clip = [](int32_t v) { return static_cast<int16_t>(v < -256 ? -256 : v > 255 ? 255 : v); };
    for (int k = 0; k < 8; ++k) {
        block[k] = clip((x7[k] + x1[k]) >> 14);
        block[8 + k] = clip((x3[k] + x2[k]) >> 14);
        block[16 + k] = clip((x0[k] + x4[k]) >> 14);
        block[24 + k] = clip((x8[k] + x6[k]) >> 14);
        block[32 + k] = clip((x8[k] - x6[k]) >> 14);
        block[40 + k] = clip((x0[k] - x4[k]) >> 14);
        block[48 + k] = clip((x3[k] - x2[k]) >> 14);
        block[56 + k] = clip((x7[k] - x1[k]) >> 14);
    }
}

}  // namespace bitloupe
