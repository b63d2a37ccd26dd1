#include "core/decode/Reconstruction.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

#include "core/base/Simd.h"

namespace bitloupe {

void MarkNotCoded(BlockResult& block, bool intraMacroblock) {
    block.notCoded = 1;
    for (int i = 0; i < 64; ++i) {
        block.display[i] = 128;
        block.raw[i] = intraMacroblock ? 128 : 0;
    }
}

namespace {

// A row of COLS bytes as 16-bit lanes, and back (the values stay within 0..255).
template <int COLS>
struct ByteVectors;
template <>
struct ByteVectors<16> {
    using Bytes = uint8_t __attribute__((vector_size(16)));
    using Words = uint16_t __attribute__((vector_size(32)));
};
template <>
struct ByteVectors<8> {
    using Bytes = uint8_t __attribute__((vector_size(8)));
    using Words = uint16_t __attribute__((vector_size(16)));
};
template <int COLS>
struct ByteRow {
    using Bytes = typename ByteVectors<COLS>::Bytes;
    using Words = typename ByteVectors<COLS>::Words;
    // (Vectors pass by reference: 32 bytes are no argument for a function built without AVX.)
    static inline __attribute__((always_inline)) void Load(const uint8_t* p, Words& w) {
        Bytes b;
        std::memcpy(&b, p, COLS);
        w = __builtin_convertvector(b, Words);
    }
    static inline __attribute__((always_inline)) void Store(uint8_t* p, const Words& w) {
        const Bytes b = __builtin_convertvector(w, Bytes);
        std::memcpy(p, &b, COLS);
    }
};

// The four half-sample cases, each with and without averaging into the destination. Into
// bytes (a frame store) a row is one vector of 16-bit lanes: the same sums, COLS at a time.
template <int COLS, bool HX, bool HY, bool AVG, class T>
inline __attribute__((always_inline)) void Interpolate(T* dst, int dstStride, const uint8_t* s,
                                                       int ss, int rows) {
    if constexpr (std::is_same_v<T, uint8_t>) {
        using Row = ByteRow<COLS>;
        for (int r = 0; r < rows; ++r, dst += dstStride, s += ss) {
            const uint8_t* n = s + ss;
            typename Row::Words p, a, b, c, d;
            Row::Load(s, a);
            if constexpr (!HX && !HY) {
                p = a;
            } else if constexpr (HX && !HY) {
                Row::Load(s + 1, b);
                p = (a + b + 1) >> 1;
            } else if constexpr (!HX && HY) {
                Row::Load(n, c);
                p = (a + c + 1) >> 1;
            } else {
                Row::Load(s + 1, b);
                Row::Load(n, c);
                Row::Load(n + 1, d);
                p = (a + b + c + d + 2) >> 2;
            }
            if constexpr (AVG) {
                Row::Load(dst, d);
                p = (d + p + 1) >> 1;
            }
            Row::Store(dst, p);
        }
        return;
    }
    for (int r = 0; r < rows; ++r, dst += dstStride, s += ss) {
        const uint8_t* n = s + ss;
        for (int c = 0; c < COLS; ++c) {
            int p;
            if constexpr (!HX && !HY)
                p = s[c];
            else if constexpr (HX && !HY)
                p = (s[c] + s[c + 1] + 1) >> 1;
            else if constexpr (!HX && HY)
                p = (s[c] + n[c] + 1) >> 1;
            else
                p = (s[c] + s[c + 1] + n[c] + n[c + 1] + 2) >> 2;
            if constexpr (AVG)
                dst[c] = static_cast<T>((dst[c] + p + 1) >> 1);
            else
                dst[c] = static_cast<T>(p);
        }
    }
}

// The row count as a constant for the counts that occur (16, 8 and 4: whole blocks, field and
// 16x8 halves, and those of 4:2:0 chroma), so the loops unroll.
template <int COLS, bool HX, bool HY, bool AVG, class T>
inline __attribute__((always_inline)) void InterpolateRows(T* dst, int dstStride, const uint8_t* s,
                                                           int ss, int rows) {
    if (rows == 16)
        Interpolate<COLS, HX, HY, AVG>(dst, dstStride, s, ss, 16);
    else if (rows == 8)
        Interpolate<COLS, HX, HY, AVG>(dst, dstStride, s, ss, 8);
    else if (rows == 4)
        Interpolate<COLS, HX, HY, AVG>(dst, dstStride, s, ss, 4);
    else
        Interpolate<COLS, HX, HY, AVG>(dst, dstStride, s, ss, rows);
}

template <int COLS, bool AVG, class T>
inline __attribute__((always_inline)) void InterpolateCase(bool hx, bool hy, T* dst, int dstStride,
                                                           const uint8_t* s, int ss, int rows) {
    if (!hx && !hy)
        InterpolateRows<COLS, false, false, AVG>(dst, dstStride, s, ss, rows);
    else if (hx && !hy)
        InterpolateRows<COLS, true, false, AVG>(dst, dstStride, s, ss, rows);
    else if (!hx && hy)
        InterpolateRows<COLS, false, true, AVG>(dst, dstStride, s, ss, rows);
    else
        InterpolateRows<COLS, true, true, AVG>(dst, dstStride, s, ss, rows);
}

// The prediction into samples of either width (the int16 workspace, or a frame store's bytes).
template <class T>
inline __attribute__((always_inline)) bool Predict(T* dst, int dstStride,
                                                   const PredictionSource& src, int x, int y,
                                                   int mx, int my, int rows, bool average,
                                                   int cols) {
    const int width = src.width;
    const int stride = src.field ? 2 * width : width;
    const int lines = src.field ? src.height / 2 : src.height;
    if (cols != 16 && cols != 8) return false;
    if (!src.plane || rows <= 0 || rows > 16 || x < 0 || x + cols > width || y < 0 ||
        y + rows > lines)
        return false;
    int xi = x + (mx >> 1);
    int yi = y + (my >> 1);
    const bool hx = (mx & 1) != 0;
    const bool hy = (my & 1) != 0;
    if (xi < 0 || xi + cols > width) xi = x;
    if (yi < 0 || yi + rows > lines) yi = y;
    const uint8_t* base = src.plane + (src.field && src.bottom ? width : 0);

    const uint8_t* s = base + static_cast<ptrdiff_t>(yi) * stride + xi;
    int ss = stride;
    uint8_t window[17 * 17];
    // A half-sample neighbour past the last column or line repeats the last one.
    if ((hx && xi + cols >= width) || (hy && yi + rows >= lines)) {
        for (int r = 0; r <= rows; ++r) {
            const int line = std::min(yi + r, lines - 1);
            const uint8_t* row = base + static_cast<ptrdiff_t>(line) * stride;
            for (int c = 0; c <= cols; ++c) window[r * 17 + c] = row[std::min(xi + c, width - 1)];
        }
        s = window;
        ss = 17;
    }
    if (cols == 16) {
        if (average)
            InterpolateCase<16, true>(hx, hy, dst, dstStride, s, ss, rows);
        else
            InterpolateCase<16, false>(hx, hy, dst, dstStride, s, ss, rows);
    } else {
        if (average)
            InterpolateCase<8, true>(hx, hy, dst, dstStride, s, ss, rows);
        else
            InterpolateCase<8, false>(hx, hy, dst, dstStride, s, ss, rows);
    }
    return true;
}

}  // namespace

BITLOUPE_VECTOR_CLONES
bool PredictComponent(int16_t* dst, int dstStride, const PredictionSource& src, int x, int y,
                      int mx, int my, int rows, bool average, int cols) {
    return Predict(dst, dstStride, src, x, y, mx, my, rows, average, cols);
}

BITLOUPE_VECTOR_CLONES
bool PredictComponent(uint8_t* dst, int dstStride, const PredictionSource& src, int x, int y,
                      int mx, int my, int rows, bool average, int cols) {
    return Predict(dst, dstStride, src, x, y, mx, my, rows, average, cols);
}

namespace {

// Copies an 8x8 block into a 16-wide array at (column, row0), every line or, with field DCT,
// every second line.
inline __attribute__((always_inline)) void Place8x8(int16_t* out, const int16_t* b, int column,
                                                    int row0, bool fieldDct) {
    for (int r = 0; r < 8; ++r) {
        const int line = fieldDct ? row0 / 8 + 2 * r : row0 + r;
        std::memcpy(out + line * 16 + column, b + r * 8, 8 * sizeof(int16_t));
    }
}

// Widens 8 samples to 16: each sample twice, then the odd columns 1..13 the mean of their
// neighbours; column 15 stays a copy of column 14.
template <class D, class S>
inline __attribute__((always_inline)) void WidenRow(D* out, const S* in) {
    for (int k = 0; k < 8; ++k) out[2 * k] = out[2 * k + 1] = static_cast<D>(in[k]);
    for (int c = 1; c <= 13; c += 2) out[c] = static_cast<D>((out[c - 1] + out[c + 1]) / 2);
}

// 4:2:0 chroma (8x8, row stride 16) to 16x16 in one pass. The rule, stated in steps: every
// sample to a 2x2 square; odd columns 1..13 the mean of their left and right neighbours; odd
// rows 1..13, column by column, the mean of the rows above and below; then the samples at odd
// rows and odd columns (1..13) the mean of their four neighbours; row 15 and column 15 stay
// copies. Divisions truncate toward zero; for samples known not to be negative (every
// reconstructed picture) they are shifts, which give the same values faster.
// The samples are read from b (rows bStride apart) and written to out (rows outStride apart):
// the int16 workspace, or a frame store's bytes.
template <bool NonNegative, class D, class S>
inline __attribute__((always_inline)) void Upsample420(D* out, int outStride, const S* b,
                                                       int bStride) {
    auto half = [](int x) { return NonNegative ? x >> 1 : x / 2; };
    auto quarter = [](int x) { return NonNegative ? x >> 2 : x / 4; };
    for (int j = 0; j < 8; ++j) {
        const S* s = b + j * bStride;
        D* even = out + (2 * j) * outStride;
        int a[7];  // even row, odd column
        for (int k = 0; k < 7; ++k) a[k] = half(s[k] + s[k + 1]);
        for (int k = 0; k < 7; ++k) {
            even[2 * k] = static_cast<D>(s[k]);
            even[2 * k + 1] = static_cast<D>(a[k]);
        }
        even[14] = even[15] = static_cast<D>(s[7]);
        D* odd = even + outStride;
        if (j == 7) {  // row 15 repeats row 14
            std::memcpy(odd, even, 16 * sizeof(D));
            break;
        }
        const S* t = s + bStride;  // the next row
        int v[8];                  // odd row, even column
        for (int k = 0; k < 8; ++k) v[k] = half(s[k] + t[k]);
        for (int k = 0; k < 7; ++k) {
            const int below = half(t[k] + t[k + 1]);
            odd[2 * k] = static_cast<D>(v[k]);
            odd[2 * k + 1] = static_cast<D>(quarter(a[k] + below + v[k] + v[k + 1]));
        }
        odd[14] = odd[15] = static_cast<D>(v[7]);
    }
}

}  // namespace

BITLOUPE_VECTOR_CLONES
void AssembleCoded(MacroblockSamples& out, const BlockResult* blocks, int blockCount,
                   int chromaFormat, int dctType, const MacroblockSamples* prediction, bool raw,
                   const SaturationTable& sat) {
    const bool fieldDct = dctType == 1;
    auto half = [&](int i) -> const int16_t* {
        static const int16_t kGrey[64] = {
            128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128,
            128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128,
            128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128,
            128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128};
        static const int16_t kZero[64] = {};
        if (i >= blockCount) return raw ? kGrey : kZero;
        return raw ? blocks[i].display : blocks[i].raw;
    };
    // A block that was not coded is one value throughout, and so is everything made of such
    // blocks alone.
    auto flat = [&](int i) { return i >= blockCount || blocks[i].notCoded; };
    // The blocks each component is made of: four (luma and 4:4:4 chroma: top-left, top-right,
    // bottom-left, bottom-right), an upper and a lower one (4:2:2), or one (4:2:0). An upper
    // and a lower block take the even and the odd lines with field DCT; a lone 4:2:0 block is
    // always frame-ordered.
    static constexpr int kQuads[3][4] = {{0, 1, 2, 3}, {4, 8, 6, 10}, {5, 9, 7, 11}};
    const ChromaSize cs = ChromaSizeOf(chromaFormat);
    for (int c = 0; c < 3; ++c) {
        const int count = c == 0 || chromaFormat == 3 ? 4 : chromaFormat == 2 ? 2 : 1;
        const int first = c == 2 ? 5 : 4;  // the chroma component's upper block
        const int src[4] = {count == 4 ? kQuads[c][0] : first,
                            count == 4 ? kQuads[c][1] : first + 2, kQuads[c][2], kQuads[c][3]};
        bool allFlat = true;
        for (int k = 0; k < count; ++k) allFlat = allFlat && flat(src[k]);
        int16_t* o = out.c[c];
        const int cols = c == 0 ? 16 : cs.cols();
        const int rows = c == 0 ? 16 : cs.rows();
        if (allFlat) {
            const int16_t value = half(src[0])[0];
            for (int r = 0; r < rows; ++r) std::fill(o + r * 16, o + r * 16 + cols, value);
        } else if (count == 4) {
            for (int q = 0; q < 4; ++q)
                Place8x8(o, half(src[q]), (q % 2) * 8, (q / 2) * 8, fieldDct);
        } else if (count == 2) {
            Place8x8(o, half(src[0]), 0, 0, fieldDct);
            Place8x8(o, half(src[1]), 0, 8, fieldDct);
        } else {
            Place8x8(o, half(src[0]), 0, 0, false);
        }
        if (!raw && prediction) {
            const int16_t* p = prediction->c[c];
            for (int r = 0; r < rows; ++r)
                for (int k = 0; k < cols; ++k) o[r * 16 + k] = sat(o[r * 16 + k] + p[r * 16 + k]);
        }
    }
}

namespace {

template <bool Add>
inline __attribute__((always_inline)) void PlaceBlocks(const StorePlace& place,
                                                       const BlockResult* blocks, int blockCount,
                                                       int chromaFormat, int dctType) {
    // A chroma block's quarter of its component: Cb 4, 6, 8, 10 and Cr 5, 7, 9, 11 are the
    // top-left, bottom-left, top-right and bottom-right ones (4:2:2 uses the first two).
    static constexpr int kChromaQuarter[4] = {0, 2, 1, 3};
    static const BlockResult kGrey = [] {
        BlockResult b;
        MarkNotCoded(b, true);
        return b;
    }();
    // The blocks of the stores' chroma format; one the macroblock does not have (a stream
    // whose block count disagrees with the stores) is a residual of 0, grey when shown.
    const int formatBlocks = chromaFormat == 3 ? 12 : chromaFormat == 2 ? 8 : 6;
    for (int i = 0; i < formatBlocks; ++i) {
        const BlockResult& b = i < blockCount ? blocks[i] : kGrey;
        if (Add && b.notCoded) continue;  // a residual of 0
        const int c = i < 4 ? 0 : 1 + (i & 1);
        const int q = i < 4 ? i : kChromaQuarter[((i - 4) >> 1) & 3];
        const bool fieldDct = dctType == 1 && (c == 0 || chromaFormat != 1);
        const int stride = place.stride[c];
        uint8_t* d = place.at[c] + (q % 2) * 8;
        int step = stride;
        if (fieldDct) {
            d += (q / 2) * stride;  // the second block takes the odd lines
            step = 2 * stride;
        } else {
            d += (q / 2) * 8 * stride;
        }
        // A row of eight as one vector of 16-bit lanes: samples 0..255 plus a residual of
        // -256..255 cannot leave them.
        using Words = int16_t __attribute__((vector_size(16)));
        using Bytes = uint8_t __attribute__((vector_size(8)));
        const int16_t* s = Add ? b.raw : b.display;
        for (int r = 0; r < 8; ++r, d += step, s += 8) {
            Words v;
            std::memcpy(&v, s, sizeof v);
            if constexpr (Add) {
                Bytes old;
                std::memcpy(&old, d, sizeof old);
                v += __builtin_convertvector(old, Words);
            }
            v = v < 0 ? 0 : v;
            v = v > 255 ? 255 : v;
            const Bytes out = __builtin_convertvector(v, Bytes);
            std::memcpy(d, &out, sizeof out);
        }
    }
}

}  // namespace

BITLOUPE_VECTOR_CLONES
void AddResidual(const StorePlace& place, const BlockResult* blocks, int blockCount,
                 int chromaFormat, int dctType) {
    PlaceBlocks<true>(place, blocks, blockCount, chromaFormat, dctType);
}

BITLOUPE_VECTOR_CLONES
void StoreDisplayHalves(const StorePlace& place, const BlockResult* blocks, int blockCount,
                        int chromaFormat, int dctType) {
    PlaceBlocks<false>(place, blocks, blockCount, chromaFormat, dctType);
}

BITLOUPE_VECTOR_CLONES
void UpsampleChroma(MacroblockSamples& display, const MacroblockSamples& coded, int chromaFormat) {
    for (int c = 1; c < 3; ++c) {
        int16_t* o = display.c[c];
        const int16_t* in = coded.c[c];
        if (chromaFormat == 3) {
            std::memcpy(o, in, sizeof display.c[c]);
        } else if (chromaFormat == 2) {
            for (int r = 0; r < 16; ++r) WidenRow(o + r * 16, in + r * 16);
        } else {
            int16_t signs = 0;
            for (int r = 0; r < 8; ++r)
                for (int k = 0; k < 8; ++k) signs |= in[r * 16 + k];
            if (signs >= 0)
                Upsample420<true>(o, 16, in, 16);
            else
                Upsample420<false>(o, 16, in, 16);
        }
    }
}

void AssembleMacroblock(MacroblockSamples& out, const BlockResult* blocks, int blockCount,
                        int chromaFormat, int dctType, const MacroblockSamples* prediction,
                        bool raw, const SaturationTable& sat) {
    MacroblockSamples coded;
    AssembleCoded(coded, blocks, blockCount, chromaFormat, dctType, prediction, raw, sat);
    std::memcpy(out.c[0], coded.c[0], sizeof out.c[0]);
    UpsampleChroma(out, coded, chromaFormat);
}

BITLOUPE_VECTOR_CLONES
void StoreComponent(uint8_t* plane, int32_t width, int32_t height, int pictureStructure, int x,
                    int y, const int16_t* samples, int cols, int rows) {
    if (!plane || x < 0 || x + cols > width || cols > 16 || rows > 16) return;
    const bool field = pictureStructure == 1 || pictureStructure == 2;
    for (int r = 0; r < rows; ++r) {
        const int64_t line = field ? 2 * static_cast<int64_t>(y + r) + (pictureStructure == 2)
                                   : static_cast<int64_t>(y) + r;
        if (line < 0 || line >= height) continue;
        uint8_t* d = plane + line * width + x;
        const int16_t* s = samples + r * 16;
        for (int c = 0; c < cols; ++c) d[c] = static_cast<uint8_t>(s[c]);
    }
}

namespace {

// The inverse of StoreComponent: a cols x rows array (row stride 16) read from the plane at
// (x, y); samples outside the plane read as 0.
void LoadComponent(const uint8_t* plane, int32_t width, int32_t height, int pictureStructure, int x,
                   int y, int16_t* samples, int cols, int rows) {
    const bool field = pictureStructure == 1 || pictureStructure == 2;
    for (int r = 0; r < rows; ++r) {
        int16_t* s = samples + r * 16;
        const int64_t line = field ? 2 * static_cast<int64_t>(y + r) + (pictureStructure == 2)
                                   : static_cast<int64_t>(y) + r;
        if (!plane || x < 0 || x + cols > width || line < 0 || line >= height) {
            std::fill(s, s + cols, int16_t{0});
            continue;
        }
        const uint8_t* d = plane + line * width + x;
        for (int c = 0; c < cols; ++c) s[c] = d[c];
    }
}

}  // namespace

void FrameStores::ResetStale() {
    const size_t mbWidth = static_cast<size_t>(width > 0 ? width / 16 : 0);
    const size_t mbHeight = static_cast<size_t>(height > 0 ? height / 16 : 0);
    // Field layout: two fields of ceil(mbHeight / 2) rows each.
    const size_t n = mbWidth * (mbHeight + 1);
    for (FrameSlot& s : slots) {
        s.stale.assign(s.plane[0] ? n : 0, 0);
        s.staleLayout = 0;
        s.displayChromaTouched = false;
    }
}

void FrameStores::MarkChromaWritten(int slot, int pictureStructure, int row, int column) {
    if (slot < 0 || slot > 2) return;
    const FrameSlot& s = slots[slot];
    const int mbWidth = width / 16;
    const bool field = pictureStructure == 1 || pictureStructure == 2;
    const int rows = field ? (height / 16 + 1) / 2 : height / 16;
    if (row < 0 || row >= rows || column < 0 || column >= mbWidth) return;
    const uint8_t layout = field ? FrameSlot::kFieldLayout : FrameSlot::kFrameLayout;
    if (s.staleLayout != 0 && s.staleLayout != layout) RefreshDisplayChroma(slot);
    const size_t i = (pictureStructure == 2 ? static_cast<size_t>(rows) * mbWidth : 0) +
                     static_cast<size_t>(row) * mbWidth + static_cast<size_t>(column);
    if (i >= s.stale.size()) return;
    s.stale[i] = 1;
    s.staleLayout = layout;
}

namespace {

// One macroblock's chroma from the coded plane straight into the full-size plane (rows
// srcStride and dstStride bytes apart): what LoadComponent, UpsampleChroma and StoreComponent
// do together, for a macroblock wholly inside both planes. Stored samples are never negative.
//
// 4:2:0 and 4:2:2 run on whole rows of 16 as vectors. Each output column c reads the source columns
// L = min(c, 14) / 2 and H = L + (c odd and below 15), and the rule above becomes, for source
// rows s and t (the next):
//   even row  (s[L] + s[H]) >> 1
//   odd row   (((s[L] + s[H]) >> 1) + ((t[L] + t[H]) >> 1) + ((s[L] + t[L]) >> 1)
//              + ((s[H] + t[H]) >> 1)) >> 2
// For an even column (L = H) the odd row's formula is (s + t + 2 ((s + t) >> 1)) >> 2, which
// is (s + t) >> 1 whether s + t is even or odd: the rule's value.
using Bytes8 = uint8_t __attribute__((vector_size(8)));
using Bytes16 = uint8_t __attribute__((vector_size(16)));
using Words8 = int16_t __attribute__((vector_size(16)));
using Words16 = int16_t __attribute__((vector_size(32)));
using Quads2 = uint64_t __attribute__((vector_size(16)));

// The eight samples of a row widened once, then spread to the L and H columns. The row goes
// into a register as one 64-bit load: a vector assembled in memory from a narrower store
// stalls the load that reads it back.
inline __attribute__((always_inline)) void SpreadRow(const uint8_t* row, Words16& lo, Words16& hi) {
    uint64_t q;
    std::memcpy(&q, row, 8);
    const Quads2 v = {q, 0};
    Bytes16 b;
    std::memcpy(&b, &v, 16);
    const Words8 w =
        __builtin_convertvector(__builtin_shufflevector(b, b, 0, 1, 2, 3, 4, 5, 6, 7), Words8);
    lo = __builtin_shufflevector(w, w, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7);
    hi = __builtin_shufflevector(w, w, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 7);
}

inline __attribute__((always_inline)) void PutRow(uint8_t* out, Words16 v) {
    const Bytes16 b = __builtin_convertvector(v, Bytes16);
    std::memcpy(out, &b, 16);
}

inline __attribute__((always_inline)) void Upsample420Rows(uint8_t* dst, int dstStride,
                                                           const uint8_t* src, int srcStride) {
    Words16 sl, sh;
    SpreadRow(src, sl, sh);
    for (int j = 0; j < 8; ++j) {
        const Words16 even = (sl + sh) >> 1;
        PutRow(dst + 2 * j * dstStride, even);
        if (j == 7) {  // row 15 repeats row 14
            PutRow(dst + 15 * dstStride, even);
            break;
        }
        Words16 tl, th;
        SpreadRow(src + (j + 1) * srcStride, tl, th);
        const Words16 below = (tl + th) >> 1;
        PutRow(dst + (2 * j + 1) * dstStride,
               (even + below + ((sl + tl) >> 1) + ((sh + th) >> 1)) >> 2);
        sl = tl;
        sh = th;
    }
}

BITLOUPE_VECTOR_CLONES
void UpsampleStored(uint8_t* dst, int dstStride, const uint8_t* src, int srcStride,
                    int chromaFormat) {
    if (chromaFormat == 3) {
        for (int r = 0; r < 16; ++r) std::memcpy(dst + r * dstStride, src + r * srcStride, 16);
    } else if (chromaFormat == 2) {
        for (int r = 0; r < 16; ++r) {  // the even rows' formula on every row
            Words16 lo, hi;
            SpreadRow(src + r * srcStride, lo, hi);
            PutRow(dst + r * dstStride, (lo + hi) >> 1);
        }
    } else {
        Upsample420Rows(dst, dstStride, src, srcStride);
    }
}

// Where a component of the macroblock at (x, y) (in samples of its plane) lies in a plane of
// width x height: its first sample and row stride for a picture of the given structure, or
// false when it is not wholly inside.
bool PlaceIn(const uint8_t* plane, int32_t width, int32_t height, int structure, int x, int y,
             int cols, int rows, size_t& first, int& stride) {
    const bool field = structure == 1 || structure == 2;
    const int64_t line = field ? 2 * static_cast<int64_t>(y) + (structure == 2) : y;
    const int64_t step = field ? 2 : 1;
    if (!plane || x < 0 || x + cols > width || line + step * (rows - 1) >= height) return false;
    first = static_cast<size_t>(line) * static_cast<size_t>(width) + static_cast<size_t>(x);
    stride = static_cast<int>(step * width);
    return true;
}

// Component c of the shown chroma of the macroblock at (x, y) (luma samples, field rows for a
// field structure), up-sampled from the slot's coded plane into 16 rows of 16 at dst, rows
// dstStride apart: whole rows as vectors when the coded block lies inside its plane.
void UpsampleFromCoded(const FrameStores& st, int slot, int c, int structure, int x, int y,
                       uint8_t* dst, int dstStride) {
    const ChromaSize cs = st.chroma;
    const uint8_t* coded = st.CodedPlane(slot, c);
    size_t from;
    int fromStride;
    if (PlaceIn(coded, st.chromaWidth, st.chromaHeight, structure, x >> cs.shiftX, y >> cs.shiftY,
                cs.cols(), cs.rows(), from, fromStride)) {
        UpsampleStored(dst, dstStride, coded + from, fromStride, st.chromaFormat);
        return;
    }
    MacroblockSamples in{}, out;  // (the other component is up-sampled too, from zeros)
    LoadComponent(coded, st.chromaWidth, st.chromaHeight, structure, x >> cs.shiftX, y >> cs.shiftY,
                  in.c[c], cs.cols(), cs.rows());
    UpsampleChroma(out, in, st.chromaFormat);
    for (int r = 0; r < 16; ++r)
        for (int k = 0; k < 16; ++k)
            dst[r * dstStride + k] = static_cast<uint8_t>(out.c[c][r * 16 + k]);
}

}  // namespace

void FrameStores::RefreshDisplayChroma(int slot) const {
    if (slot < 0 || slot > 2 || slots[slot].staleLayout == 0) return;
    const FrameSlot& s = slots[slot];
    const bool field = s.staleLayout == FrameSlot::kFieldLayout;
    s.staleLayout = 0;
    const int mbWidth = width / 16;
    const int rows = field ? (height / 16 + 1) / 2 : height / 16;
    size_t i = 0;
    for (int part = 0; part < (field ? 2 : 1); ++part) {
        const int structure = field ? 1 + part : 3;
        for (int row = 0; row < rows; ++row)
            for (int column = 0; column < mbWidth; ++column, ++i) {
                if (i >= s.stale.size() || !s.stale[i]) continue;
                s.stale[i] = 0;
                const int x = column * 16, y = row * 16;
                for (int c = 1; c < 3; ++c) {
                    size_t to;
                    int toStride;
                    if (PlaceIn(Plane(slot, c), width, height, structure, x, y, 16, 16, to,
                                toStride)) {
                        UpsampleFromCoded(*this, slot, c, structure, x, y, Plane(slot, c) + to,
                                          toStride);
                        continue;
                    }
                    // Past the planes' last line (a field row of half a macroblock): the lines
                    // inside.
                    uint8_t block[16 * 16];
                    UpsampleFromCoded(*this, slot, c, structure, x, y, block, 16);
                    int16_t samples[256];
                    for (int k = 0; k < 256; ++k) samples[k] = block[k];
                    StoreComponent(Plane(slot, c), width, height, structure, x, y, samples);
                }
            }
    }
}

int FrameStores::DisplayChromaBandLines(int slot) const {
    if (slot < 0 || slot > 2 || !slots[slot].coded[0] || !slots[slot].coded[1]) return 0;
    const FrameSlot& s = slots[slot];
    const size_t mbWidth = static_cast<size_t>(width > 0 ? width / 16 : 0);
    const size_t mbHeight = static_cast<size_t>(height > 0 ? height / 16 : 0);
    const size_t n = mbWidth * mbHeight;
    const bool field = s.staleLayout == FrameSlot::kFieldLayout;
    // Field layout with an odd number of macroblock rows leaves half a row out of the planes.
    if (n == 0 || (field && mbHeight % 2) || s.stale.size() < n) return 0;
    // Every macroblock behind: the bands are what a refresh would write. Full-size planes
    // never touched: the macroblocks not behind hold zeros in both, and zeros up-sample to
    // zeros.
    if (s.displayChromaTouched && (s.staleLayout == 0 || std::memchr(s.stale.data(), 0, n)))
        return 0;
    return field ? 32 : 16;
}

void FrameStores::DisplayChromaBand(int slot, int band, uint8_t* cb, uint8_t* cr) const {
    if (slot < 0 || slot > 2) return;
    const bool field = slots[slot].staleLayout == FrameSlot::kFieldLayout;
    uint8_t* const out[3] = {nullptr, cb, cr};
    for (int part = 0; part < (field ? 2 : 1); ++part)
        for (int x = 0; x + 16 <= width; x += 16)
            for (int c = 1; c < 3; ++c)
                UpsampleFromCoded(*this, slot, c, field ? 1 + part : 3, x, band * 16,
                                  out[c] + (field ? part * width : 0) + x,
                                  field ? 2 * width : width);
}

}  // namespace bitloupe
