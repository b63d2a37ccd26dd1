#include "core/syntax/Dequantise.h"

#include "core/syntax/ScanTables.h"

namespace bitloupe {

namespace {

const uint8_t* ScanOf(const BlockState& block) {
    return kScanTables + (block.alternate_scan ? 64 : 0);
}

int32_t Bounded(int32_t v, int32_t lo, int32_t hi) {
    return v < lo ? lo : v > hi ? hi : v;
}

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

void ApplyMismatchControl(BlockState& block) {
    ApplyMismatchControl(block.F, block.sum);
}

}  // namespace bitloupe
