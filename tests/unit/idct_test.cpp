// Inverse quantisation, scan order and the inverse DCT: worked examples, the boundaries of
// saturation and mismatch control, the IEEE 1180 accuracy measurement against a
// double-precision transform, and garbage coefficients that must stay in bounds.
#include "core/syntax/Idct.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <limits>
#include <memory>
#include <random>
#include <string>

#include "core/syntax/Dequantise.h"
#include "core/syntax/ScanTables.h"

namespace bitloupe {
namespace {

// --- scan tables ---

TEST(ScanTables, EachScanVisitsEveryPositionOnce) {
    for (int scan = 0; scan < 2; ++scan) {
        bool seen[64] = {};
        for (int n = 0; n < 64; ++n) {
            const int p = kScanTables[scan * 64 + n];
            ASSERT_LT(p, 64);
            EXPECT_FALSE(seen[p]) << "scan " << scan << " repeats position " << p;
            seen[p] = true;
        }
    }
    // The first steps of each order: zig-zag goes right first, the alternate scan down.
    EXPECT_EQ(kScanTables[1], 1);
    EXPECT_EQ(kScanTables[2], 8);
    EXPECT_EQ(kScanTables[64 + 1], 8);
    EXPECT_EQ(kScanTables[64 + 2], 16);
    EXPECT_EQ(kScanTables[63], 63);
    EXPECT_EQ(kScanTables[127], 63);
}

// --- inverse quantisation ---

// A matrix whose entry at natural position p is p + 1, to tell positions apart.
QuantMatrixSet DistinctMatrices() {
    QuantMatrixSet m{};
    for (int p = 0; p < 64; ++p) {
        m.intra.values[p] = static_cast<uint8_t>(p + 1);
        m.nonIntra.values[p] = static_cast<uint8_t>(p + 101);
        m.chromaIntra.values[p] = static_cast<uint8_t>(p + 2);
        m.chromaNonIntra.values[p] = static_cast<uint8_t>(p + 102);
    }
    return m;
}

TEST(Dequantise, WorkedExamples) {
    struct Case {
        int level, q;
        bool intra, mpeg1;
        int expected;
    };
    // All with W = 16 (the flat matrix) at coefficient 1.
    const Case cases[] = {
        {1, 8, false, true, 23},    // MPEG-1 non-intra: (16*3*8) >> 4 = 24, oddified to 23
        {1, 8, false, false, 12},   // MPEG-2 non-intra: (16*3*8) >> 5 = 12, even kept
        {-3, 4, true, true, -23},   // MPEG-1 intra: 192 >> 3 = 24 -> 23, negated
        {-3, 4, true, false, -12},  // MPEG-2 intra: 192 >> 4 = 12
        {-1, 8, false, true, -23},  // MPEG-1 non-intra negative
    };
    for (const Case& c : cases) {
        BlockState b;
        ASSERT_TRUE(Dequantise(b, 1, c.level, c.q, c.intra, c.mpeg1));
        EXPECT_EQ(b.F[1], c.expected)
            << "level " << c.level << " intra " << c.intra << " mpeg1 " << c.mpeg1;
        EXPECT_EQ(b.QF[1], c.level);
        EXPECT_EQ(b.sum, c.expected);
    }
}

TEST(Dequantise, Mpeg1OddificationLeavesOddAndZeroValues) {
    QuantMatrixSet m{};
    for (int p = 0; p < 64; ++p) m.intra.values[p] = 3;
    BlockState b;
    b.quantMatrix = SelectQuantMatrix(m, true, 0);
    Dequantise(b, 1, 8, 1, true, true);  // 3*1*8 >> 3 = 3: already odd
    EXPECT_EQ(b.F[1], 3);
    Dequantise(b, 2, 2, 1, true, true);  // 3*1*2 >> 3 = 0: stays 0, not -1
    EXPECT_EQ(b.F[8], 0);
    Dequantise(b, 3, -2, 1, true, true);
    EXPECT_EQ(b.F[16], 0);
    EXPECT_EQ(b.sum, 3);
}

TEST(Dequantise, SaturatesAsymmetrically) {
    // MPEG-2 intra with W = 16: v = q * m.
    struct Case {
        int level, q, expected;
    };
    const Case cases[] = {
        {100, 30, 2047},   {-100, 30, -2048},    // 3000
        {128, 16, 2047},   {-128, 16, -2048},    // 2048: only the negative side holds it
        {89, 23, 2047},    {-89, 23, -2047},     // 2047 is not changed
        {2048, 255, 2047}, {-2048, 255, -2048},  // the largest possible product
    };
    for (const Case& c : cases) {
        BlockState b;
        Dequantise(b, 5, c.level, c.q, true, false);
        EXPECT_EQ(b.F[kScanTables[5]], c.expected) << "level " << c.level << " q " << c.q;
    }
    // Levels beyond the codable range are held at the range's ends instead of overflowing.
    BlockState b;
    Dequantise(b, 0, std::numeric_limits<int>::min(), 1000, false, true);
    EXPECT_EQ(b.F[0], -2048);
    EXPECT_EQ(b.QF[0], -2048);
}

TEST(Dequantise, UsesTheMatrixEntryAtTheNaturalPosition) {
    const QuantMatrixSet m = DistinctMatrices();
    BlockState b;
    b.alternate_scan = 1;
    b.quantMatrix = SelectQuantMatrix(m, true, 0);
    // Alternate scan coefficient 1 is natural position 8, W = 9; MPEG-2 intra q 16: v = 9.
    Dequantise(b, 1, 1, 16, true, false);
    EXPECT_EQ(b.QF[8], 1);
    EXPECT_EQ(b.F[8], 9);
    EXPECT_EQ(b.F[1], 0);
    // Zig-zag coefficient 1 is natural position 1, W = 2.
    BlockState z;
    z.quantMatrix = SelectQuantMatrix(m, true, 0);
    Dequantise(z, 1, 1, 16, true, false);
    EXPECT_EQ(z.F[1], 2);
    EXPECT_EQ(z.F[8], 0);
}

TEST(Dequantise, SelectsMatrixByIntraAndComponent) {
    const QuantMatrixSet m = DistinctMatrices();
    EXPECT_EQ(SelectQuantMatrix(m, true, 0), m.intra.values);
    EXPECT_EQ(SelectQuantMatrix(m, true, 1), m.chromaIntra.values);
    EXPECT_EQ(SelectQuantMatrix(m, true, 2), m.chromaIntra.values);
    EXPECT_EQ(SelectQuantMatrix(m, false, 0), m.nonIntra.values);
    EXPECT_EQ(SelectQuantMatrix(m, false, 1), m.chromaNonIntra.values);
    EXPECT_EQ(SelectQuantMatrix(m, false, 2), m.chromaNonIntra.values);
}

void FillWith(BlockState& b, int16_t v) {
    for (int i = 0; i < 64; ++i) b.QF[i] = b.F[i] = b.pel[i] = v;
}

void ExpectUnchanged(const BlockState& a, const BlockState& b) {
    for (int i = 0; i < 64; ++i) {
        ASSERT_EQ(a.QF[i], b.QF[i]) << i;
        ASSERT_EQ(a.F[i], b.F[i]) << i;
        ASSERT_EQ(a.pel[i], b.pel[i]) << i;
    }
    EXPECT_EQ(a.sum, b.sum);
}

TEST(Dequantise, IndexOutsideTheBlockWritesNothing) {
    BlockState b;
    FillWith(b, 7);
    const BlockState before = b;
    for (int n : {64, 65, -1, 1000, std::numeric_limits<int>::min()})
        EXPECT_FALSE(Dequantise(b, n, 5, 8, false, false)) << n;
    b.alternate_scan = 1;
    EXPECT_FALSE(Dequantise(b, 64, 5, 8, false, false));
    b.alternate_scan = 0;
    ExpectUnchanged(b, before);
}

TEST(SkipZeroRun, ClearsTheRunAndReturnsTheNextIndex) {
    BlockState b;
    FillWith(b, 7);
    EXPECT_EQ(SkipZeroRun(b, 1, 3), 4);
    for (int n = 1; n < 4; ++n) {
        EXPECT_EQ(b.QF[kScanTables[n]], 0);
        EXPECT_EQ(b.F[kScanTables[n]], 0);
    }
    EXPECT_EQ(b.F[kScanTables[0]], 7);
    EXPECT_EQ(b.F[kScanTables[4]], 7);
    EXPECT_EQ(SkipZeroRun(b, 9, 0), 9);

    // The coefficient after a run lands where the scan says.
    BlockState a;
    a.alternate_scan = 1;
    const int n = SkipZeroRun(a, 0, 2);
    Dequantise(a, n, 1, 8, false, false);
    EXPECT_EQ(a.F[kScanTables[64 + 2]], 12);
}

TEST(SkipZeroRun, RunPastTheEndStopsAtTheBlock) {
    BlockState b;
    FillWith(b, 7);
    EXPECT_EQ(SkipZeroRun(b, 60, 10), 70);  // the caller sees 64 or more and fails the block
    for (int n = 0; n < 64; ++n) EXPECT_EQ(b.F[kScanTables[n]], n >= 60 ? 0 : 7) << n;
    BlockState c;
    FillWith(c, 7);
    const BlockState before = c;
    EXPECT_GE(SkipZeroRun(c, 64, 63), 64);
    EXPECT_GE(SkipZeroRun(c, 200, 5), 64);
    ExpectUnchanged(c, before);
}

TEST(MismatchControl, TogglesTheLastCoefficientOnlyForAnEvenSum) {
    struct Case {
        int32_t sum;
        int16_t f63, expected;
    };
    const Case cases[] = {
        {1024, 0, 1},  // DC 1024 alone: even
        {1023, 0, 0},  // odd: untouched
        {0, 0, 1},     // all zero counts as even
        {-2, -3, -4},  // odd negative moves down
        {-2, -4, -3},  // even negative moves up
        {10, 2047, 2046}, {10, -2048, -2047},
    };
    for (const Case& c : cases) {
        BlockState b;
        b.sum = c.sum;
        b.F[63] = c.f63;
        ApplyMismatchControl(b);
        EXPECT_EQ(b.F[63], c.expected) << "sum " << c.sum << " F[63] " << c.f63;
    }

    // A whole MPEG-2 block: DC 1024 set by the caller, then two coefficients.
    BlockState b;
    b.F[0] = 1024;
    b.sum = 1024;
    Dequantise(b, 1, 1, 8, true, false);   // 16*8*1 >> 4 = 8
    Dequantise(b, 2, -1, 8, true, false);  // -8
    ApplyMismatchControl(b);
    EXPECT_EQ(b.F[63], 1);
}

// --- inverse DCT ---

TEST(FastIdct, DcOnlyBlocks) {
    const CIdct idct;
    struct Case {
        int16_t dc, pel;
    };
    // d / 8 rounded, clipped to -256..255.
    const Case cases[] = {{8, 1}, {-2048, -256}, {2047, 255}, {4, 1},
                          {3, 0}, {-4, 0},       {-5, -1},    {0, 0}};
    for (const Case& c : cases) {
        int16_t block[64] = {};
        block[0] = c.dc;
        idct.FastIdct(block);
        for (int i = 0; i < 64; ++i) ASSERT_EQ(block[i], c.pel) << "dc " << c.dc << " pel " << i;
    }
}

TEST(FastIdct, ClipClampsIndicesOutsideTheTable) {
    const auto idct = std::make_unique<CIdct>();  // on the heap, so that a stray read is caught
    EXPECT_EQ(idct->Clip(CIdct::kClipMin), -256);
    EXPECT_EQ(idct->Clip(CIdct::kClipMax), 255);
    EXPECT_EQ(idct->Clip(CIdct::kClipMin - 1), -256);
    EXPECT_EQ(idct->Clip(CIdct::kClipMax + 1), 255);
    EXPECT_EQ(idct->Clip(std::numeric_limits<int32_t>::min()), -256);
    EXPECT_EQ(idct->Clip(std::numeric_limits<int32_t>::max()), 255);
    for (int v = -300; v <= 300; ++v) ASSERT_EQ(idct->Clip(v), v < -256 ? -256 : v > 255 ? 255 : v);
}

// The orthonormal 8x8 DCT pair in double precision.
class ReferenceDct {
  public:
    ReferenceDct() {
        const double pi = std::acos(-1.0);
        for (int u = 0; u < 8; ++u)
            for (int x = 0; x < 8; ++x)
                c_[u][x] = (u == 0 ? std::sqrt(0.125) : 0.5) * std::cos((2 * x + 1) * u * pi / 16);
    }
    // out[u][v] = sum over x, y of c[u][x] c[v][y] in[x][y]
    void Forward(const double in[64], double out[64]) const {
        double t[64];
        for (int x = 0; x < 8; ++x)
            for (int v = 0; v < 8; ++v) {
                double s = 0;
                for (int y = 0; y < 8; ++y) s += c_[v][y] * in[8 * x + y];
                t[8 * x + v] = s;
            }
        for (int u = 0; u < 8; ++u)
            for (int v = 0; v < 8; ++v) {
                double s = 0;
                for (int x = 0; x < 8; ++x) s += c_[u][x] * t[8 * x + v];
                out[8 * u + v] = s;
            }
    }
    void Inverse(const double in[64], double out[64]) const {
        double t[64];
        for (int u = 0; u < 8; ++u)
            for (int y = 0; y < 8; ++y) {
                double s = 0;
                for (int v = 0; v < 8; ++v) s += c_[v][y] * in[8 * u + v];
                t[8 * u + y] = s;
            }
        for (int x = 0; x < 8; ++x)
            for (int y = 0; y < 8; ++y) {
                double s = 0;
                for (int u = 0; u < 8; ++u) s += c_[u][x] * t[8 * u + y];
                out[8 * x + y] = s;
            }
    }

  private:
    double c_[8][8];
};

// The pseudo-random generator of the IEEE 1180 test procedure: integers in -L..H, starting
// from the same seed for every data set.
class Ieee1180Random {
  public:
    int Next(int L, int H) {
        randx_ = randx_ * 1103515245u + 12345u;  // 32-bit arithmetic, as the procedure has it
        const uint32_t i = randx_ & 0x7ffffffeu;
        double x = static_cast<double>(i) / static_cast<double>(0x7fffffff);
        x *= L + H + 1;
        return static_cast<int>(x) - L;
    }

  private:
    uint32_t randx_ = 1;
};

int RoundClamp(double v, int lo, int hi) {
    const double r = std::floor(v + 0.5);
    return r < lo ? lo : r > hi ? hi : static_cast<int>(r);
}

struct AccuracyRun {
    int L, H, sign;
};

std::string RunName(const testing::TestParamInfo<AccuracyRun>& info) {
    return "L" + std::to_string(info.param.L) + "_H" + std::to_string(info.param.H) +
           (info.param.sign > 0 ? "_positive" : "_negated");
}

class Ieee1180Accuracy : public testing::TestWithParam<AccuracyRun> {};

TEST_P(Ieee1180Accuracy, MeetsTheLimits) {
    constexpr int kBlocks = 10000;
    const AccuracyRun run = GetParam();
    const ReferenceDct ref;
    const CIdct idct;
    Ieee1180Random rng;

    int peak = 0;
    int64_t errSum[64] = {};
    int64_t errSquares[64] = {};
    for (int blockIndex = 0; blockIndex < kBlocks; ++blockIndex) {
        double pixels[64], coeffs[64], reconstructed[64];
        for (double& p : pixels) p = run.sign * rng.Next(run.L, run.H);
        ref.Forward(pixels, coeffs);
        int16_t block[64];
        for (int i = 0; i < 64; ++i) {
            block[i] = static_cast<int16_t>(RoundClamp(coeffs[i], -2048, 2047));
            coeffs[i] = block[i];
        }
        ref.Inverse(coeffs, reconstructed);
        idct.FastIdct(block);
        for (int i = 0; i < 64; ++i) {
            const int err = block[i] - RoundClamp(reconstructed[i], -256, 255);
            peak = std::max(peak, std::abs(err));
            errSum[i] += err;
            errSquares[i] += err * err;
        }
    }

    double worstPelMse = 0, worstPelMean = 0, totalSum = 0, totalSquares = 0;
    for (int i = 0; i < 64; ++i) {
        worstPelMse = std::max(worstPelMse, static_cast<double>(errSquares[i]) / kBlocks);
        worstPelMean = std::max(worstPelMean, std::abs(static_cast<double>(errSum[i])) / kBlocks);
        totalSum += static_cast<double>(errSum[i]);
        totalSquares += static_cast<double>(errSquares[i]);
    }
    const double overallMse = totalSquares / (64.0 * kBlocks);
    const double overallMean = std::abs(totalSum) / (64.0 * kBlocks);

    char line[200];
    std::snprintf(line, sizeof line,
                  "IEEE 1180 L=%d H=%d %s: peak %d, worst pel mse %.6f, overall mse %.6f, "
                  "worst pel mean %.6f, overall mean %.6f",
                  run.L, run.H, run.sign > 0 ? "positive" : "negated", peak, worstPelMse,
                  overallMse, worstPelMean, overallMean);
    std::cout << line << "\n";
    RecordProperty("peak", peak);
    RecordProperty("worst_pel_mse", std::to_string(worstPelMse));
    RecordProperty("overall_mse", std::to_string(overallMse));
    RecordProperty("worst_pel_mean", std::to_string(worstPelMean));
    RecordProperty("overall_mean", std::to_string(overallMean));

    EXPECT_LE(peak, 1);
    EXPECT_LE(worstPelMse, 0.06);
    EXPECT_LE(overallMse, 0.02);
    EXPECT_LE(worstPelMean, 0.015);
    EXPECT_LE(overallMean, 0.0015);
}

INSTANTIATE_TEST_SUITE_P(FastIdct, Ieee1180Accuracy,
                         testing::Values(AccuracyRun{256, 255, 1}, AccuracyRun{256, 255, -1},
                                         AccuracyRun{5, 5, 1}, AccuracyRun{5, 5, -1},
                                         AccuracyRun{300, 300, 1}, AccuracyRun{300, 300, -1}),
                         RunName);

TEST(FastIdct, ZeroInZeroOut) {
    const CIdct idct;
    int16_t block[64] = {};
    idct.FastIdct(block);
    for (int i = 0; i < 64; ++i) ASSERT_EQ(block[i], 0) << i;
}

// Garbage coefficients: whatever the block holds, every pel is a clip-table value and nothing
// overflows (run under -fsanitize=address,undefined to see the latter).
void ExpectInRange(const CIdct& idct, int16_t block[64], const char* what) {
    idct.FastIdct(block);
    for (int i = 0; i < 64; ++i) {
        ASSERT_GE(block[i], -256) << what << " pel " << i;
        ASSERT_LE(block[i], 255) << what << " pel " << i;
    }
}

TEST(FastIdct, GarbageCoefficientsStayInBounds) {
    const auto idct = std::make_unique<CIdct>();
    int16_t block[64];

    for (int16_t v : {int16_t{2048}, int16_t{-2048}, int16_t{32767}, int16_t{-32768}}) {
        for (int16_t& c : block) c = v;
        ExpectInRange(*idct, block, "constant");
    }

    // Signs chosen so that each pel's exact value is as large as it can be, and its negation:
    // the rows overflow 16 bits and the columns see the extremes.
    const ReferenceDct ref;
    for (int pel = 0; pel < 64; ++pel) {
        double impulse[64] = {}, basis[64];
        impulse[pel] = 1;
        ref.Forward(impulse, basis);
        for (int sign : {1, -1}) {
            for (int magnitude : {2048, 32767}) {
                for (int i = 0; i < 64; ++i)
                    block[i] = static_cast<int16_t>(sign * (basis[i] < 0 ? -magnitude : magnitude));
                ExpectInRange(*idct, block, "worst case");
            }
        }
    }

    std::mt19937 gen(1180);
    std::uniform_int_distribution<int> bit(0, 1);
    std::uniform_int_distribution<int> any(-32768, 32767);
    for (int n = 0; n < 20000; ++n) {
        for (int16_t& c : block) c = bit(gen) ? 2048 : -2048;
        ExpectInRange(*idct, block, "random +-2048");
        for (int16_t& c : block) c = static_cast<int16_t>(any(gen));
        ExpectInRange(*idct, block, "random 16-bit");
    }
}

}  // namespace
}  // namespace bitloupe
