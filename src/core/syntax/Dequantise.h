// Inverse quantisation of one block: the working record of a block, placing the decoded levels
// at their positions in scan order, turning them into DCT coefficients for MPEG-1 and MPEG-2,
// and MPEG-2 mismatch control. The tree parse and the silent decoder share these operations.
#pragma once

#include <cstdint>

#include "core/syntax/ScanTables.h"
#include "core/syntax/VideoState.h"

namespace bitloupe {

// All 16 (the default non-intra matrix): what a BlockState points at until a matrix is
// selected, so that the pointer is never null.
// clang-format off
inline constexpr uint8_t kFlatQuantMatrix[64] = {
    16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16,
    16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16,
    16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16,
    16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16,
};
// clang-format on

// The working record of one block, from its DC coefficient to its pel values. Coefficient
// arrays are in natural (row-major) order.
struct BlockState {
    uint8_t dct_dc_size = 0;
    uint16_t dc_dct_differential = 0;  // as read
    int16_t dct_diff = 0;
    int16_t predictor = 0;       // the component's DC predictor after this block
    uint8_t alternate_scan = 0;  // 0 zig-zag, otherwise alternate; always 0 for MPEG-1
    const uint8_t* quantMatrix = kFlatQuantMatrix;  // the selected matrix, 64 entries
    int32_t sum = 0;                                // running sum of F, for mismatch control
    int16_t QF[64] = {};                            // the levels as decoded
    int16_t F[64] = {};                             // inverse-quantised coefficients
    int16_t pel[64] = {};                           // the inverse DCT's output
};

// The matrix a block uses: intra macroblocks take the intra matrix for luma (component 0) and
// the chroma intra matrix for Cb and Cr (any other component); non-intra macroblocks likewise
// the non-intra and chroma non-intra matrices.
const uint8_t* SelectQuantMatrix(const QuantMatrixSet& matrices, bool intra, int component);

// Skips run coefficients from index n on: each position the run covers gets QF and F of 0.
// Returns n + run (run taken as 0..64); a result of 64 or more means the run left the block,
// and positions outside 0..63 are never written.
int SkipZeroRun(BlockState& block, int n, int run);

// The inverse-quantised value of a level under matrix entry w. quantiserScale is the
// macroblock's quantiser_scale; mpeg1 selects MPEG-1 arithmetic (with oddification), otherwise
// MPEG-2. The value saturates to -2048..2047. Levels are taken within -2048..2048 and
// quantiserScale within 0..255, beyond anything a stream can code. Inline: it runs once for
// every coefficient of the stream.
inline int32_t DequantisedValue(int level, int quantiserScale, int32_t w, bool intra, bool mpeg1) {
    auto bounded = [](int32_t v, int32_t lo, int32_t hi) { return v < lo ? lo : v > hi ? hi : v; };
    level = bounded(level, -2048, 2048);
    const int32_t q = bounded(quantiserScale, 0, 255);
    const int32_t m = level < 0 ? -level : level;

    // At most 255 * 4097 * 255, well within 32 bits. A level of 0 (only a broken escape gives
    // one) goes through the same formulas as a positive level.
    int32_t v;
    if (mpeg1) {
        v = intra ? (w * q * m) >> 3 : (w * (2 * m + 1) * q) >> 4;
        if (v != 0) v = (v - 1) | 1;  // oddification: an even magnitude moves one towards zero
    } else {
        v = intra ? (w * q * m) >> 4 : (w * (2 * m + 1) * q) >> 5;
    }
    return level < 0 ? (v <= 2048 ? -v : -2048) : (v <= 2047 ? v : 2047);
}

// Stores level and its inverse-quantised value at the natural position of coefficient n under
// the block's scan, and adds the value to the running sum. Returns false, storing nothing, when
// n is outside 0..63.
inline bool Dequantise(BlockState& block, int n, int level, int quantiserScale, bool intra,
                       bool mpeg1) {
    if (n < 0 || n > 63) return false;
    const int p = kScanTables[(block.alternate_scan ? 64 : 0) + n];
    level = level < -2048 ? -2048 : level > 2048 ? 2048 : level;
    const int32_t f = DequantisedValue(level, quantiserScale, block.quantMatrix[p], intra, mpeg1);
    block.QF[p] = static_cast<int16_t>(level);
    block.F[p] = static_cast<int16_t>(f);
    block.sum += f;
    return true;
}

// MPEG-2 mismatch control, applied after a block's last coefficient: when the sum of F is
// even, the lowest bit of F[7][7] is toggled (an odd value moves down by one, an even one up).
void ApplyMismatchControl(BlockState& block);
inline void ApplyMismatchControl(int16_t F[64], int32_t sum) {
    if ((sum & 1) == 0) F[63] = static_cast<int16_t>(F[63] ^ 1);
}

}  // namespace bitloupe
