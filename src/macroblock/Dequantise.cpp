#include "macroblock/Dequantise.h"

#include "macroblock/ScanTables.h"

namespace bitloupe {

namespace {

const uint8_t* ScanOf(const BlockState& block) {
    return kScanTables + (block.alternate_scan ? 64 : 0);
}

int32_t Bounded(int32_t v, int32_t lo, int32_t hi) { return v < lo ? lo : v > hi ? hi : v; }

}  // namespace

const uint8_t* SelectQuantMatrix(const QuantMatrixSet& matrices, bool intra, int component) {
    if (intra) return component == 0 ? matrices.intra.values : matrices.chromaIntra.values;
    return component == 0 ? matrices.nonIntra.values : matrices.chromaNonIntra.values;
}

int SkipZeroRun(BlockState& block, int n, int run) {
    run = Bounded(run, 0, 64);
    const uint8_t* scan = ScanOf(block);
    const int end = n + run;
    for (int i = n < 0 ? 0 : n; i < end && i < 64; ++i) {
        block.QF[scan[i]] = 0;
        block.F[scan[i]] = 0;
    }
    return end;
}

bool Dequantise(BlockState& block, int n, int level, int quantiserScale, bool intra, bool mpeg1) {
    if (n < 0 || n > 63) return false;
    const int p = ScanOf(block)[n];
    level = Bounded(level, -2048, 2048);
    const int32_t q = Bounded(quantiserScale, 0, 255);
    const int32_t w = block.quantMatrix[p];
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
    const int32_t f = level < 0 ? (v <= 2048 ? -v : -2048) : (v <= 2047 ? v : 2047);

    block.QF[p] = static_cast<int16_t>(level);
    block.F[p] = static_cast<int16_t>(f);
    block.sum += f;
    return true;
}

void ApplyMismatchControl(BlockState& block) {
    if ((block.sum & 1) == 0) block.F[63] = static_cast<int16_t>(block.F[63] ^ 1);
}

}  // namespace bitloupe
