// The 8x8 inverse DCT that turns a block's inverse-quantised coefficients into pel values (intra
// blocks, before the +128 level shift) or prediction errors (non-intra blocks).
//
// It is a separable integer transform: a row pass, then a column pass, each a fast butterfly
// network with 11-bit fixed-point constants. Everything is integer and nothing is allocated.
// The final clipping to -256..255 gives the values of the clip table below; the column pass
// computes them with comparisons so that its eight columns run side by side in vector
// registers. The table is built once when the object is made; the parser owns one object and
// reuses it for every block.
#pragma once

#include <cstdint>

namespace bitloupe {

class CIdct {
  public:
    // The range of column-pass results the clip table covers.
    static constexpr int kClipMin = -3840;
    static constexpr int kClipMax = 4095;

    CIdct();

    // Transforms the 64 coefficients (natural row-major order) in place into 64 values in
    // -256..255. Any 16-bit input is accepted: garbage gives garbage values, never an
    // out-of-range read or an arithmetic overflow.
    void FastIdct(int16_t block[64]) const;

    // The clip table's entry for v: v clamped to -256..255. Indices outside the table are
    // clamped into it first, which gives the same value.
    int16_t Clip(int32_t v) const {
        if (v < kClipMin) v = kClipMin;
        if (v > kClipMax) v = kClipMax;
        return clipTable_[v - kClipMin];
    }

  private:
    int16_t clipTable_[kClipMax - kClipMin + 1];
};

}  // namespace bitloupe
