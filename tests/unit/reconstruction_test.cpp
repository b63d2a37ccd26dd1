// Macroblock reconstruction: prediction out of a plane, assembly of the block results with the
// chroma up-sampling, and storing into a frame store. The expected values come from plain
// formulas written out here, not from the code under test.
#include "core/decode/Reconstruction.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

using namespace bitloupe;

namespace {

// A plane of random samples that ends exactly where its heap block ends, so that a read past
// the last sample is caught by the address sanitizer.
struct Plane {
    int w, h;
    std::unique_ptr<uint8_t[]> data;
    Plane(int width, int height, uint32_t seed) : w(width), h(height) {
        data.reset(new uint8_t[static_cast<size_t>(w) * h]);
        std::mt19937 rng(seed);
        for (int i = 0; i < w * h; ++i) data[i] = static_cast<uint8_t>(rng() & 0xFF);
    }
    int at(int line, int col) const { return data[line * w + col]; }
    PredictionSource Source(bool field = false, bool bottom = false) const {
        return PredictionSource{data.get(), w, h, field, bottom};
    }
};

int FloorHalf(int v) {
    return v >= 0 ? v / 2 : -((-v + 1) / 2);
}

// The prediction sample at row r, column c of a block at (x, y) moved by (mx, my) half
// samples, for a vector that keeps the block and its half-sample neighbours inside.
int ExpectedSample(const Plane& p, bool field, bool bottom, int x, int y, int mx, int my, int r,
                   int c) {
    auto line = [&](int l) { return field ? 2 * l + (bottom ? 1 : 0) : l; };
    const int X = x + FloorHalf(mx) + c;
    const int Y = y + FloorHalf(my) + r;
    const bool hx = mx % 2 != 0;
    const bool hy = my % 2 != 0;
    const int a = p.at(line(Y), X);
    if (!hx && !hy) return a;
    if (hx && !hy) return (a + p.at(line(Y), X + 1) + 1) / 2;
    if (!hx && hy) return (a + p.at(line(Y + 1), X) + 1) / 2;
    return (a + p.at(line(Y), X + 1) + p.at(line(Y + 1), X) + p.at(line(Y + 1), X + 1) + 2) / 4;
}

std::vector<int16_t> Predict(const PredictionSource& src, int x, int y, int mx, int my,
                             int rows = 16, bool* ok = nullptr) {
    std::vector<int16_t> dst(16 * 16, -1);
    const bool r = PredictComponent(dst.data(), 16, src, x, y, mx, my, rows, false);
    if (ok) *ok = r;
    return dst;
}

// --- prediction ---

TEST(PredictComponent, AllHalfSampleCasesMatchTheFormula) {
    const Plane p(64, 48, 1);
    for (int my = -5; my <= 5; ++my)
        for (int mx = -5; mx <= 5; ++mx) {
            const auto d = Predict(p.Source(), 16, 16, mx, my);
            for (int r = 0; r < 16; ++r)
                for (int c = 0; c < 16; ++c)
                    ASSERT_EQ(d[r * 16 + c], ExpectedSample(p, false, false, 16, 16, mx, my, r, c))
                        << "vector " << mx << "," << my << " at " << r << "," << c;
        }
}

TEST(PredictComponent, AveragingRoundsUpTheMeanWithWhatIsThere) {
    const Plane p(64, 48, 2);
    std::mt19937 rng(3);
    for (int mx : {0, 3, -7})
        for (int my : {0, 1, -4, 5}) {
            int16_t dst[16 * 16];
            for (auto& v : dst) v = static_cast<int16_t>(rng() & 0xFF);
            int16_t before[16 * 16];
            std::memcpy(before, dst, sizeof dst);
            ASSERT_TRUE(PredictComponent(dst, 16, p.Source(), 24, 8, mx, my, 16, true));
            for (int r = 0; r < 16; ++r)
                for (int c = 0; c < 16; ++c) {
                    const int s = ExpectedSample(p, false, false, 24, 8, mx, my, r, c);
                    ASSERT_EQ(dst[r * 16 + c], (before[r * 16 + c] + s + 1) / 2)
                        << mx << "," << my << " at " << r << "," << c;
                }
        }
}

// Into the bytes of a store (rows of another stride) the prediction is the workspace's, for
// every half-sample case, both widths and row counts, averaged or not, at the plane's edges
// too; nothing beside the block is written.
TEST(PredictComponent, IntoBytesEqualsTheWorkspacePrediction) {
    const Plane p(48, 40, 9);
    std::mt19937 rng(10);
    for (int cols : {16, 8})
        for (int rows : {16, 8, 4})
            for (bool average : {false, true})
                for (int my = -3; my <= 3; ++my)
                    for (int mx = -3; mx <= 3; ++mx)
                        for (int x : {0, 48 - cols}) {
                            const int y = 40 - rows;
                            int16_t words[16 * 16];
                            uint8_t bytes[20 * 17];
                            for (int i = 0; i < 20 * 17; ++i) bytes[i] = rng() & 0xFF;
                            for (int r = 0; r < 16; ++r)
                                for (int c = 0; c < 16; ++c) words[r * 16 + c] = bytes[r * 20 + c];
                            uint8_t before[20 * 17];
                            std::memcpy(before, bytes, sizeof bytes);
                            ASSERT_TRUE(PredictComponent(words, 16, p.Source(), x, y, mx, my, rows,
                                                         average, cols));
                            ASSERT_TRUE(PredictComponent(bytes, 20, p.Source(), x, y, mx, my, rows,
                                                         average, cols));
                            for (int r = 0; r < 17; ++r)
                                for (int c = 0; c < 20; ++c) {
                                    const bool inside = r < rows && c < cols;
                                    ASSERT_EQ(bytes[r * 20 + c],
                                              inside ? words[r * 16 + c] : before[r * 20 + c])
                                        << cols << "x" << rows << " avg " << average << " vector "
                                        << mx << "," << my << " x " << x << " at " << r << "," << c;
                                }
                        }
}

TEST(PredictComponent, HonoursDestinationStrideAndRowCount) {
    const Plane p(32, 32, 4);
    std::vector<int16_t> dst(40 * 10, 999);
    ASSERT_TRUE(PredictComponent(dst.data(), 40, p.Source(), 0, 8, 2, -2, 8, false));
    for (int r = 0; r < 10; ++r)
        for (int c = 0; c < 40; ++c) {
            const int16_t v = dst[r * 40 + c];
            if (r < 8 && c < 16)
                EXPECT_EQ(v, p.at(8 - 1 + r, c + 1)) << r << "," << c;
            else
                EXPECT_EQ(v, 999) << "written outside the block at " << r << "," << c;
        }
}

// Chroma blocks: 8 columns (4:2:0 and 4:2:2), 4 rows for a 4:2:0 field half; the chroma
// vector is the luma one halved toward zero, so -3 moves half a sample left, not one and a half.
TEST(PredictComponent, ChromaBlocksOfEightColumns) {
    const Plane p(40, 24, 5);
    EXPECT_EQ(ChromaVector(-3, 1), -1);
    EXPECT_EQ(ChromaVector(3, 1), 1);
    EXPECT_EQ(ChromaVector(-3, 0), -3);
    for (int rows : {8, 4})
        for (int mx : {-3, 0, 5})
            for (int my : {-1, 2}) {
                std::vector<int16_t> dst(16 * 8, 999);
                ASSERT_TRUE(PredictComponent(dst.data(), 16, p.Source(), 8, 8, ChromaVector(mx, 1),
                                             ChromaVector(my, 1), rows, false, 8));
                for (int r = 0; r < 8; ++r)
                    for (int c = 0; c < 16; ++c) {
                        const int expected =
                            r < rows && c < 8
                                ? ExpectedSample(p, false, false, 8, 8, mx / 2, my / 2, r, c)
                                : 999;
                        ASSERT_EQ(dst[r * 16 + c], expected)
                            << rows << " rows, vector " << mx << "," << my << " at " << r << ","
                            << c;
                    }
            }
}

// A displaced block that would leave the plane is taken at the block's own column (or row);
// the other axis keeps its displacement, and the half-sample flag stays.
TEST(PredictComponent, VectorLeavingThePlaneFallsBackPerAxis) {
    const Plane p(48, 48, 5);
    struct Case {
        int x, y, mx, my;
        int ex, ey;  // where the block is expected to be read, in whole samples
        const char* what;
    };
    const Case cases[] = {
        {0, 16, -2, 4, 0, 18, "left of column 0, vertical kept"},
        {0, 16, -3, 0, 0, 16, "left, half-sample"},
        {32, 16, 2, -6, 32, 13, "right of the last column, vertical kept"},
        {32, 16, 1, 0, 32, 16, "right edge, half-sample stays inside"},
        {16, 0, 6, -1, 19, 0, "above line 0, horizontal kept"},
        {16, 32, -4, 2, 14, 32, "below the last line, horizontal kept"},
        {0, 0, -40, -40, 0, 0, "both axes"},
        {16, 16, 1000, -1000, 16, 16, "far away"},
    };
    for (const Case& k : cases) {
        const auto d = Predict(p.Source(), k.x, k.y, k.mx, k.my);
        const bool hx = k.mx % 2 != 0, hy = k.my % 2 != 0;
        for (int r = 0; r < 16; ++r)
            for (int c = 0; c < 16; ++c) {
                const int X = k.ex + c, Y = k.ey + r;
                const int X1 = std::min(X + 1, p.w - 1), Y1 = std::min(Y + 1, p.h - 1);
                int e;
                if (!hx && !hy)
                    e = p.at(Y, X);
                else if (hx && !hy)
                    e = (p.at(Y, X) + p.at(Y, X1) + 1) / 2;
                else if (!hx && hy)
                    e = (p.at(Y, X) + p.at(Y1, X) + 1) / 2;
                else
                    e = (p.at(Y, X) + p.at(Y, X1) + p.at(Y1, X) + p.at(Y1, X1) + 2) / 4;
                ASSERT_EQ(d[r * 16 + c], e) << k.what << " at " << r << "," << c;
            }
    }
}

// Half-sample reads at the last column and line take the last sample again and never step
// past the plane (the plane ends its heap block, so the sanitizer build sees any overrun).
TEST(PredictComponent, HalfSamplesAtTheLastColumnAndLineStayInside) {
    for (const auto& [w, h] : {std::pair{16, 16}, std::pair{48, 32}, std::pair{33, 17}}) {
        const Plane p(w, h, 6);
        const int x = w - 16, y = h - 16;
        for (const auto& [mx, my] : {std::pair{1, 0}, std::pair{0, 1}, std::pair{1, 1},
                                     std::pair{-1, 1}, std::pair{1, -1}}) {
            const auto d = Predict(p.Source(), x, y, mx, my);
            for (int r = 0; r < 16; ++r)
                for (int c = 0; c < 16; ++c) {
                    const int X = std::max(x + FloorHalf(mx), 0) + c;
                    const int Y = std::max(y + FloorHalf(my), 0) + r;
                    const int X1 = std::min(X + (mx % 2 != 0), w - 1);
                    const int Y1 = std::min(Y + (my % 2 != 0), h - 1);
                    const int e = (p.at(Y, X) + p.at(Y, X1) + p.at(Y1, X) + p.at(Y1, X1) + 2) / 4;
                    ASSERT_EQ(d[r * 16 + c], e) << w << "x" << h << " vector " << mx << "," << my
                                                << " at " << r << "," << c;
                }
        }
    }
    // The bottom field's last line is the plane's last line.
    const Plane f(16, 32, 7);
    const auto d = Predict(f.Source(true, true), 0, 0, 1, 1);
    for (int c = 0; c < 16; ++c) {
        const int c1 = std::min(c + 1, 15);
        EXPECT_EQ(d[15 * 16 + c], (2 * f.at(31, c) + 2 * f.at(31, c1) + 2) / 4) << c;
    }
}

TEST(PredictComponent, FieldSourcesReadEverySecondLine) {
    const Plane p(32, 64, 8);
    for (bool bottom : {false, true})
        for (int my : {0, 1, 2, -3})
            for (int mx : {0, 1, -2}) {
                const auto d = Predict(p.Source(true, bottom), 8, 8, mx, my);
                for (int r = 0; r < 16; ++r)
                    for (int c = 0; c < 16; ++c)
                        ASSERT_EQ(d[r * 16 + c],
                                  ExpectedSample(p, true, bottom, 8, 8, mx, my, r, c))
                            << (bottom ? "bottom" : "top") << " vector " << mx << "," << my
                            << " at " << r << "," << c;
            }
    // 8-row field prediction (16x8 motion) at the last rows of a field.
    const auto d = Predict(p.Source(true, true), 0, 24, 0, 0, 8);
    for (int r = 0; r < 8; ++r) EXPECT_EQ(d[r * 16], p.at(2 * (24 + r) + 1, 0)) << r;
    // A field has half the lines: 16 rows from field line 24 do not fit a 64-line plane.
    bool ok = true;
    Predict(p.Source(true, false), 0, 24, 0, 0, 16, &ok);
    EXPECT_FALSE(ok);
}

TEST(PredictComponent, BlockOutsideThePlanePredictsNothing) {
    const Plane p(32, 32, 9);
    struct Case {
        PredictionSource src;
        int x, y, rows;
    };
    const PredictionSource none{nullptr, 32, 32, false, false};
    const Case cases[] = {
        {p.Source(), -1, 0, 16},  {p.Source(), 17, 0, 16},
        {p.Source(), 0, -16, 16}, {p.Source(), 0, 17, 16},
        {p.Source(), 0, 0, 0},    {p.Source(), 0, 0, 17},
        {none, 0, 0, 16},         {PredictionSource{p.data.get(), 8, 8}, 0, 0, 8}};
    for (const Case& k : cases) {
        int16_t dst[256];
        std::fill(std::begin(dst), std::end(dst), int16_t{-7});
        EXPECT_FALSE(PredictComponent(dst, 16, k.src, k.x, k.y, 0, 0, k.rows, false))
            << k.x << "," << k.y << " rows " << k.rows;
        EXPECT_TRUE(std::all_of(std::begin(dst), std::end(dst), [](int16_t v) { return v == -7; }));
    }
}

// --- assembly ---

// Six (4:2:0), eight (4:2:2) or twelve (4:4:4) blocks whose every sample tells its block,
// row and column: 1000 * (block + 1) + 10 * row + column.
std::vector<BlockResult> Tagged(int count) {
    std::vector<BlockResult> blocks(count);
    for (int i = 0; i < count; ++i) {
        blocks[i].index = static_cast<uint8_t>(i);
        blocks[i].notCoded = 0;
        for (int k = 0; k < 64; ++k) {
            const int16_t v = static_cast<int16_t>(1000 * (i + 1) + 10 * (k / 8) + k % 8);
            blocks[i].raw[k] = v;
            blocks[i].display[k] = v;
        }
    }
    return blocks;
}

int Tag(int block, int r, int c) {
    return 1000 * (block + 1) + 10 * r + c;
}

// Up-sampled 4:2:0 chroma written out: even rows and columns repeat the block's samples, odd
// columns 1..13 are the mean of their neighbours, odd rows 1..13 likewise, the odd/odd
// samples the mean of their four neighbours; row 15 and column 15 repeat row 14 and column
// 14. Means truncate toward zero.
int RowValue(const int16_t* b, int R, int c) {
    if (c % 2 == 0 || c == 15) return b[R * 8 + std::min(c, 14) / 2];
    return (b[R * 8 + (c - 1) / 2] + b[R * 8 + (c + 1) / 2]) / 2;
}
int Expected420(const int16_t* b, int r, int c) {
    if (r % 2 == 0 || r == 15) return RowValue(b, std::min(r, 14) / 2, c);
    auto vertical = [&](int cc) {
        return (RowValue(b, (r - 1) / 2, cc) + RowValue(b, (r + 1) / 2, cc)) / 2;
    };
    if (c % 2 == 0 || c == 15) return vertical(c);
    return (RowValue(b, (r - 1) / 2, c) + RowValue(b, (r + 1) / 2, c) + vertical(c - 1) +
            vertical(c + 1)) /
           4;
}

// 4:2:2 chroma rows widened: even columns repeat, odd columns 1..13 the mean of their
// neighbours, column 15 repeats column 14.
int Expected422(const int16_t* row8, int c) {
    if (c % 2 == 0 || c == 15) return row8[std::min(c, 14) / 2];
    return (row8[(c - 1) / 2] + row8[(c + 1) / 2]) / 2;
}

const SaturationTable& Sat() {
    static const SaturationTable sat;
    return sat;
}

TEST(AssembleMacroblock, UniformChroma420StaysUniform) {
    for (int value : {0, 77, 128, 255}) {
        std::vector<BlockResult> blocks(6);
        for (int i = 0; i < 6; ++i)
            for (int k = 0; k < 64; ++k) blocks[i].display[k] = static_cast<int16_t>(value);
        MacroblockSamples out;
        AssembleMacroblock(out, blocks.data(), 6, 1, 0, nullptr, true, Sat());
        for (int comp = 1; comp < 3; ++comp)
            for (int k = 0; k < 256; ++k) ASSERT_EQ(out.c[comp][k], value) << comp << " " << k;
    }
}

TEST(AssembleMacroblock, Chroma420UpsamplingFollowsTheFormula) {
    // A ramp with odd steps and negative residuals (non-intra halves, no prediction), so the
    // means have remainders on both sides of zero; and random blocks.
    std::vector<BlockResult> blocks(6);
    for (int k = 0; k < 64; ++k) {
        const int r = k / 8, c = k % 8;
        blocks[4].raw[k] = static_cast<int16_t>(-21 + 3 * c + 5 * r);
        blocks[5].raw[k] = static_cast<int16_t>(40 - 7 * c - 3 * r);
    }
    MacroblockSamples out;
    AssembleMacroblock(out, blocks.data(), 6, 1, 0, nullptr, false, Sat());
    for (int comp = 1; comp < 3; ++comp)
        for (int r = 0; r < 16; ++r)
            for (int c = 0; c < 16; ++c)
                ASSERT_EQ(out.c[comp][r * 16 + c], Expected420(blocks[3 + comp].raw, r, c))
                    << "component " << comp << " at " << r << "," << c;
    // Spot checks by hand: Cb row 0 holds -21, -18, ... so column 1 is (-21 + -18) / 2 = -19
    // (truncated toward zero, not -20); row 1 column 0 is (-21 + -16) / 2 = -18.
    EXPECT_EQ(out.c[1][1], -19);
    EXPECT_EQ(out.c[1][16], -18);
    // Row 1 column 1: above -19, below (-16 + -13) / 2 = -14, left -18, right
    // (-18 + -13) / 2 = -15; (-19 - 14 - 18 - 15) / 4 = -66 / 4 = -16.
    EXPECT_EQ(out.c[1][17], -16);

    std::mt19937 rng(10);
    for (int round = 0; round < 20; ++round) {
        for (int k = 0; k < 64; ++k) {
            blocks[4].display[k] = static_cast<int16_t>(rng() & 0xFF);
            blocks[5].display[k] = static_cast<int16_t>(rng() & 0xFF);
        }
        AssembleMacroblock(out, blocks.data(), 6, 1, 0, nullptr, true, Sat());
        for (int comp = 1; comp < 3; ++comp) {
            for (int r = 0; r < 16; ++r)
                for (int c = 0; c < 16; ++c)
                    ASSERT_EQ(out.c[comp][r * 16 + c], Expected420(blocks[3 + comp].display, r, c))
                        << "round " << round << " component " << comp << " at " << r << "," << c;
            for (int i = 0; i < 16; ++i) {
                EXPECT_EQ(out.c[comp][15 * 16 + i], out.c[comp][14 * 16 + i]);
                EXPECT_EQ(out.c[comp][i * 16 + 15], out.c[comp][i * 16 + 14]);
            }
        }
    }
}

TEST(AssembleMacroblock, Chroma422WidensAndPlacesByDctType) {
    std::vector<BlockResult> blocks(8);
    std::mt19937 rng(11);
    for (int i = 4; i < 8; ++i)
        for (int k = 0; k < 64; ++k)
            blocks[i].raw[k] = static_cast<int16_t>(int(rng() % 301) - 150);
    for (int dct : {0, 1}) {
        MacroblockSamples out;
        AssembleMacroblock(out, blocks.data(), 8, 2, dct, nullptr, false, Sat());
        for (int comp = 1; comp < 3; ++comp) {
            const BlockResult& upper = blocks[comp == 1 ? 4 : 5];
            const BlockResult& lower = blocks[comp == 1 ? 6 : 7];
            for (int line = 0; line < 16; ++line) {
                // Frame DCT: upper block lines 0..7, lower 8..15. Field DCT: upper block the
                // even lines (top field), lower the odd lines.
                const BlockResult& b =
                    dct == 0 ? (line < 8 ? upper : lower) : (line % 2 == 0 ? upper : lower);
                const int row = dct == 0 ? line % 8 : line / 2;
                for (int c = 0; c < 16; ++c)
                    ASSERT_EQ(out.c[comp][line * 16 + c], Expected422(b.raw + row * 8, c))
                        << "dct_type " << dct << " component " << comp << " line " << line
                        << " column " << c;
            }
        }
    }
    // Truncation toward zero: -3 and 0 give -1, not -2.
    BlockResult& cb = blocks[4];
    cb.raw[0] = -3;
    cb.raw[1] = 0;
    MacroblockSamples out;
    AssembleMacroblock(out, blocks.data(), 8, 2, 0, nullptr, false, Sat());
    EXPECT_EQ(out.c[1][1], -1);
}

TEST(AssembleMacroblock, LumaAnd444PlacementByDctType) {
    const auto blocks = Tagged(12);
    // Quadrants in raster order: Y 0 1 / 2 3, Cb 4 8 / 6 10, Cr 5 9 / 7 11.
    const int quads[3][4] = {{0, 1, 2, 3}, {4, 8, 6, 10}, {5, 9, 7, 11}};
    for (int dct : {0, 1}) {
        MacroblockSamples out;
        AssembleMacroblock(out, blocks.data(), 12, 3, dct, nullptr, true, Sat());
        for (int comp = 0; comp < 3; ++comp)
            for (int line = 0; line < 16; ++line)
                for (int c = 0; c < 16; ++c) {
                    int block, row;
                    if (dct == 0) {
                        block = quads[comp][(line / 8) * 2 + c / 8];
                        row = line % 8;
                    } else {
                        // Field DCT: the upper blocks hold the top field (even lines), the
                        // lower ones the bottom field.
                        block = quads[comp][(line % 2) * 2 + c / 8];
                        row = line / 2;
                    }
                    ASSERT_EQ(out.c[comp][line * 16 + c], Tag(block, row, c % 8))
                        << "dct_type " << dct << " component " << comp << " line " << line
                        << " column " << c;
                }
    }
    // 4:2:0 luma follows the same layout; chroma does not depend on dct_type.
    MacroblockSamples frame, field;
    AssembleMacroblock(frame, blocks.data(), 6, 1, 0, nullptr, true, Sat());
    AssembleMacroblock(field, blocks.data(), 6, 1, 1, nullptr, true, Sat());
    EXPECT_EQ(field.c[0][1 * 16 + 0], Tag(2, 0, 0));
    EXPECT_EQ(field.c[0][14 * 16 + 9], Tag(1, 7, 1));
    EXPECT_EQ(frame.c[0][9 * 16 + 9], Tag(3, 1, 1));
    EXPECT_EQ(0, std::memcmp(frame.c[1], field.c[1], sizeof frame.c[1]));
    EXPECT_EQ(0, std::memcmp(frame.c[2], field.c[2], sizeof frame.c[2]));
}

TEST(AssembleMacroblock, RawFlagChoosesDisplayHalvesOrResidualPlusPrediction) {
    std::vector<BlockResult> blocks(6);
    const int residuals[] = {-50, 240, 10, -300, 0, 200};
    for (int i = 0; i < 6; ++i)
        for (int k = 0; k < 64; ++k) {
            blocks[i].raw[k] = static_cast<int16_t>(residuals[i]);
            blocks[i].display[k] = static_cast<int16_t>(residuals[i] / 2 + 128);
        }
    MacroblockSamples pred;
    for (int comp = 0; comp < 3; ++comp)
        for (int k = 0; k < 256; ++k)
            pred.c[comp][k] = static_cast<int16_t>(comp == 0 ? 30 + k % 3 : 100 + comp);

    MacroblockSamples out;
    AssembleMacroblock(out, blocks.data(), 6, 1, 0, &pred, false, Sat());
    // Luma quadrants: -50 + 30 clips to 0, 240 + 30 to 255, 10 + 30.. adds, -300 + 30 clips.
    EXPECT_EQ(out.c[0][0], 0);
    EXPECT_EQ(out.c[0][8], 255);
    for (int k = 128; k < 136; ++k) EXPECT_EQ(out.c[0][k], 10 + 30 + k % 3) << k;
    EXPECT_EQ(out.c[0][8 * 16 + 8], 0);
    EXPECT_EQ(out.c[1][100], 101);  // residual 0
    EXPECT_EQ(out.c[2][17], 255);   // 200 + 102

    // Raw: the display halves as they are, no prediction.
    AssembleMacroblock(out, blocks.data(), 6, 1, 0, &pred, true, Sat());
    EXPECT_EQ(out.c[0][0], -50 / 2 + 128);
    EXPECT_EQ(out.c[0][8], 240 / 2 + 128);
    EXPECT_EQ(out.c[0][8 * 16 + 8], -300 / 2 + 128);
    EXPECT_EQ(out.c[2][255], 200 / 2 + 128);

    // No prediction (an intra macroblock): the raw halves unchanged.
    AssembleMacroblock(out, blocks.data(), 6, 1, 0, nullptr, false, Sat());
    EXPECT_EQ(out.c[0][0], -50);
    EXPECT_EQ(out.c[0][8 * 16 + 8], -300);

    // Blocks past blockCount: no residual (the prediction) or, raw, the grey of 128.
    AssembleMacroblock(out, blocks.data(), 4, 1, 0, &pred, false, Sat());
    EXPECT_EQ(out.c[1][0], 101);
    EXPECT_EQ(out.c[2][255], 102);
    AssembleMacroblock(out, blocks.data(), 4, 1, 0, &pred, true, Sat());
    EXPECT_EQ(out.c[1][0], 128);
    EXPECT_EQ(out.c[2][255], 128);
}

TEST(AssembleMacroblock, NotCodedBlocks) {
    BlockResult intra, inter;
    intra.notCoded = inter.notCoded = 0;
    intra.raw[5] = inter.raw[5] = 77;
    MarkNotCoded(intra, true);
    MarkNotCoded(inter, false);
    EXPECT_EQ(intra.notCoded, 1);
    for (int k = 0; k < 64; ++k) {
        EXPECT_EQ(intra.raw[k], 128);
        EXPECT_EQ(intra.display[k], 128);
        EXPECT_EQ(inter.raw[k], 0);
        EXPECT_EQ(inter.display[k], 128);
    }
}

TEST(SaturationTable, ClipsEveryInput) {
    const SaturationTable& sat = Sat();
    EXPECT_EQ(sat(-100000), 0);
    EXPECT_EQ(sat(-385), 0);
    EXPECT_EQ(sat(-1), 0);
    EXPECT_EQ(sat(0), 0);
    EXPECT_EQ(sat(200), 200);
    EXPECT_EQ(sat(255), 255);
    EXPECT_EQ(sat(256), 255);
    EXPECT_EQ(sat(640), 255);
    EXPECT_EQ(sat(100000), 255);
}

// --- storing ---

struct Store {
    int w, h;
    std::unique_ptr<uint8_t[]> data;
    Store(int width, int height) : w(width), h(height) {
        data.reset(new uint8_t[static_cast<size_t>(w) * h]);
        std::memset(data.get(), 0, static_cast<size_t>(w) * h);
    }
    int at(int line, int col) const { return data[line * w + col]; }
};

std::vector<int16_t> Rows() {
    std::vector<int16_t> s(256);
    for (int r = 0; r < 16; ++r)
        for (int c = 0; c < 16; ++c) s[r * 16 + c] = static_cast<int16_t>(10 * r + c + 1);
    return s;
}

TEST(StoreComponent, FrameAndFieldPictures) {
    const auto s = Rows();
    for (int structure : {3, 1, 2}) {
        Store st(48, 64);
        StoreComponent(st.data.get(), st.w, st.h, structure, 16, 16, s.data());
        for (int line = 0; line < st.h; ++line)
            for (int c = 0; c < st.w; ++c) {
                int expected = 0;
                int row = -1;
                if (structure == 3 && line >= 16 && line < 32) row = line - 16;
                // A field picture's row r at field line y + r: frame line 2 (y + r), plus one
                // for the bottom field.
                if (structure == 1 && line % 2 == 0 && line / 2 >= 16 && line / 2 < 32)
                    row = line / 2 - 16;
                if (structure == 2 && line % 2 == 1 && line / 2 >= 16 && line / 2 < 32)
                    row = line / 2 - 16;
                if (row >= 0 && c >= 16 && c < 32) expected = s[row * 16 + c - 16];
                ASSERT_EQ(st.at(line, c), expected)
                    << "structure " << structure << " line " << line << " column " << c;
            }
    }
}

TEST(StoreComponent, PartsOutsideThePlaneAreSkipped) {
    const auto s = Rows();
    // The last macroblock row of a 40-line plane: 8 lines inside, 8 beyond.
    Store frame(32, 40);
    StoreComponent(frame.data.get(), frame.w, frame.h, 3, 16, 32, s.data());
    for (int line = 32; line < 40; ++line) EXPECT_EQ(frame.at(line, 16), s[(line - 32) * 16]);
    // The bottom field's last row lands one line below a plane of odd height.
    Store odd(16, 31);
    StoreComponent(odd.data.get(), odd.w, odd.h, 2, 0, 0, s.data());
    EXPECT_EQ(odd.at(29, 0), s[14 * 16]);
    StoreComponent(odd.data.get(), odd.w, odd.h, 1, 0, 8, s.data());
    EXPECT_EQ(odd.at(30, 0), s[7 * 16]);
    // Columns past the plane, negative positions, a null plane: nothing is written.
    Store st(32, 32);
    StoreComponent(st.data.get(), st.w, st.h, 3, 17, 0, s.data());
    StoreComponent(st.data.get(), st.w, st.h, 3, -1, 0, s.data());
    StoreComponent(st.data.get(), st.w, st.h, 3, 0, 32, s.data());
    StoreComponent(nullptr, st.w, st.h, 3, 0, 0, s.data());
    for (int i = 0; i < 32 * 32; ++i) ASSERT_EQ(st.data[i], 0) << i;
    StoreComponent(st.data.get(), st.w, st.h, 3, 0, -8, s.data());
    EXPECT_EQ(st.at(0, 0), s[8 * 16]);
    EXPECT_EQ(st.at(7, 15), s[15 * 16 + 15]);
    EXPECT_EQ(st.at(8, 0), 0);
}

// Writing a macroblock straight into the stores gives what the workspace assembly stores, in
// every chroma format, DCT type and picture structure, also when the stream's block count
// disagrees with the stores' chroma format (a damaged stream); nothing lands outside the
// macroblock.
TEST(StoreDisplayHalves, MatchesTheWorkspaceAssemblyAndStaysInsideTheMacroblock) {
    std::mt19937 rng(7);
    for (int format = 1; format <= 3; ++format)
        for (int blockCount : {6, 8, 12})
            for (int dctType = 0; dctType < 2; ++dctType)
                for (int structure : {3, 2})
                    for (bool add : {false, true}) {
                        std::vector<BlockResult> blocks(12);
                        for (auto& b : blocks) {
                            b.notCoded = (rng() % 4) == 0;
                            for (int k = 0; k < 64; ++k) {
                                b.display[k] = static_cast<int16_t>(rng() % 256);
                                b.raw[k] =
                                    static_cast<int16_t>(static_cast<int>(rng() % 512) - 256);
                            }
                            if (b.notCoded) MarkNotCoded(b, false);
                        }
                        const ChromaSize cs = ChromaSizeOf(format);
                        MacroblockSamples pred;
                        for (auto& component : pred.c)
                            for (int16_t& v : component) v = static_cast<int16_t>(rng() % 256);
                        MacroblockSamples coded;
                        AssembleCoded(coded, blocks.data(), blockCount, format, dctType,
                                      add ? &pred : nullptr, !add, Sat());
                        Store expected[3] = {{48, 64}, {48, 64}, {48, 64}};
                        Store actual[3] = {{48, 64}, {48, 64}, {48, 64}};
                        StorePlace place;
                        for (int c = 0; c < 3; ++c) {
                            const int cols = c ? cs.cols() : 16, rows = c ? cs.rows() : 16;
                            StoreComponent(expected[c].data.get(), 48, 64, structure, 16, 16,
                                           coded.c[c], cols, rows);
                            const int first = structure == 3 ? 16 : 33;
                            place.at[c] = actual[c].data.get() + first * 48 + 16;
                            place.stride[c] = structure == 3 ? 48 : 96;
                            for (int r = 0; r < rows; ++r)
                                for (int k = 0; k < cols; ++k)
                                    place.at[c][r * place.stride[c] + k] =
                                        static_cast<uint8_t>(pred.c[c][r * 16 + k]);
                        }
                        if (add)
                            AddResidual(place, blocks.data(), blockCount, format, dctType);
                        else
                            StoreDisplayHalves(place, blocks.data(), blockCount, format, dctType);
                        for (int c = 0; c < 3; ++c)
                            ASSERT_EQ(
                                std::memcmp(expected[c].data.get(), actual[c].data.get(), 48 * 64),
                                0)
                                << "format " << format << " blocks " << blockCount << " dct "
                                << dctType << " structure " << structure << " add " << add
                                << " component " << c;
                    }
}

// The display chroma a refresh makes from the stored chroma is the workspace up-sampling of
// each written macroblock, in 4:2:0 and 4:2:2, for frame and field layouts; macroblocks not
// written stay as they were.
TEST(FrameStores, RefreshUpsamplesEachWrittenMacroblockAsTheWorkspaceDoes) {
    std::mt19937 rng(11);
    for (int format : {1, 2})
        for (int structure : {3, 1, 2}) {
            FrameStores st;
            st.width = 48;
            st.height = 64;
            st.chromaFormat = static_cast<uint8_t>(format);
            st.chroma = ChromaSizeOf(format);
            st.chromaWidth = st.width >> st.chroma.shiftX;
            st.chromaHeight = st.height >> st.chroma.shiftY;
            const size_t full = 48 * 64,
                         coded = static_cast<size_t>(st.chromaWidth) * st.chromaHeight;
            for (int c = 0; c < 3; ++c) st.slots[0].plane[c].reset(AllocateZeroed(full));
            for (int c = 0; c < 2; ++c) {
                st.slots[0].coded[c].reset(AllocateZeroed(coded));
                for (size_t i = 0; i < coded; ++i) st.slots[0].coded[c][i] = rng() & 0xFF;
            }
            st.ResetStale();
            const int rows = structure == 3 ? 4 : 2;
            for (int row = 0; row < rows; ++row)
                for (int column = 0; column < 3; ++column)
                    if (row != 1 || column != 1) st.MarkChromaWritten(0, structure, row, column);
            st.RefreshDisplayChroma(0);
            const ChromaSize cs = st.chroma;
            for (int row = 0; row < rows; ++row)
                for (int column = 0; column < 3; ++column) {
                    const bool written = row != 1 || column != 1;
                    MacroblockSamples in{}, out{};
                    for (int c = 1; c < 3; ++c)
                        for (int r = 0; r < cs.rows(); ++r)
                            for (int k = 0; k < cs.cols(); ++k) {
                                const int line = structure == 3
                                                     ? row * cs.rows() + r
                                                     : 2 * (row * cs.rows() + r) + (structure == 2);
                                in.c[c][r * 16 + k] =
                                    st.slots[0].coded[c - 1][line * st.chromaWidth +
                                                             column * cs.cols() + k];
                            }
                    UpsampleChroma(out, in, format);
                    for (int c = 1; c < 3; ++c)
                        for (int r = 0; r < 16; ++r)
                            for (int k = 0; k < 16; ++k) {
                                const int line = structure == 3
                                                     ? row * 16 + r
                                                     : 2 * (row * 16 + r) + (structure == 2);
                                ASSERT_EQ(st.Plane(0, c)[line * 48 + column * 16 + k],
                                          written ? out.c[c][r * 16 + k] : 0)
                                    << "format " << format << " structure " << structure
                                    << " macroblock " << row << "," << column << " component " << c
                                    << " at " << r << "," << k;
                            }
                }
        }
}

}  // namespace
