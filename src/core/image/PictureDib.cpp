#include "core/image/PictureDib.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <new>
#include <type_traits>
#include <vector>

#include "core/base/Simd.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define BITLOUPE_AVX2_COLOUR 1
#endif

namespace bitloupe {

// --- colour conversion ---

namespace {

// Y - 16 scaled to 16.16 fixed point for the 219 steps of video black to white.
constexpr int32_t kLumaFactor = 76309;

// With 8-bit samples every sum below stays within -384..639 after the shift, and within 32
// bits before it (at most about 36.3 million in magnitude); the clamp is the saturation table.
inline uint8_t Saturate(int32_t v) {
    return static_cast<uint8_t>(std::clamp(v, 0, 255));
}

// Buffer bytes for a row of `width` pixels, padded to a multiple of 4.
inline size_t PaddedRowBytes(int32_t width) {
    return (static_cast<size_t>(width) * 3 + 3) & ~size_t{3};
}

inline void PutColour(uint8_t* bgr, uint32_t colour) {
    bgr[0] = static_cast<uint8_t>(colour >> 16);
    bgr[1] = static_cast<uint8_t>(colour >> 8);
    bgr[2] = static_cast<uint8_t>(colour);
}

}  // namespace

ColourFactors ColourFactorsFor(int matrix_coefficients) {
    if (matrix_coefficients < 0 || matrix_coefficients > 7)
        matrix_coefficients = kDefaultMatrixCoefficients;
    return kColourCoefficients[matrix_coefficients];
}

Bgr ConvertYCbCr(uint8_t y, uint8_t cb, uint8_t cr, const ColourFactors& f) {
    const int32_t luma = (int32_t{y} - 16) * kLumaFactor;
    const int32_t u = int32_t{cb} - 128;
    const int32_t v = int32_t{cr} - 128;
    // Blue rounds with 32786 rather than 32768; the pictures this program has always shown
    // were made that way, so it stays.
    return {Saturate((luma + u * f.cbu + 32786) >> 16),
            Saturate((luma - v * f.cgv - u * f.cgu + 32768) >> 16),
            Saturate((luma + v * f.crv + 32768) >> 16)};
}

uint32_t YCbCrToColour(uint8_t y, uint8_t cb, uint8_t cr, const ColourFactors& f) {
    const Bgr c = ConvertYCbCr(y, cb, cr, f);
    return uint32_t{c.red} | uint32_t{c.green} << 8 | uint32_t{c.blue} << 16;
}

uint32_t GreyColour(const ColourFactors& f) {
    return YCbCrToColour(128, 128, 128, f);
}

void WritePixel(uint8_t* bgr, uint8_t y, uint8_t cb, uint8_t cr, uint8_t mode,
                const ColourFactors& f) {
    using namespace colour_mode;
    switch (mode) {
        case kY:
            bgr[0] = bgr[1] = bgr[2] = y;
            return;
        case kCb:
            bgr[0] = bgr[1] = bgr[2] = cb;
            return;
        case kCr:
            bgr[0] = bgr[1] = bgr[2] = cr;
            return;
        default:
            break;
    }
    const Bgr c = ConvertYCbCr(y, cb, cr, f);
    bgr[0] = c.blue;
    bgr[1] = c.green;
    bgr[2] = c.red;
    switch (mode) {
        case kRed:
            bgr[0] = bgr[1] = 0;
            break;
        case kGreen:
            bgr[0] = bgr[2] = 0;
            break;
        case kBlue:
            bgr[1] = bgr[2] = 0;
            break;
        case kYellow:
            bgr[0] = 0;
            break;
        case kMagenta:
            bgr[1] = 0;
            break;
        case kCyan:
            bgr[2] = 0;
            break;
        default:
            break;
    }
}

namespace {

#ifdef BITLOUPE_AVX2_COLOUR
// The same arithmetic 16 pixels at a time in 16-bit lanes, exactly. Each factor F splits into
// H * 65536 + L with L within 16 bits, and a channel's sum over its terms becomes
//   (sum of s * F + c) >> 16  =  sum of s * H  +  ((sum of s * L + c) >> 16),
// the second part as pairs multiplied and added into 32 bits. Writes the three channels of
// the first n & ~15 pixels and returns that count.
#define BITLOUPE_AVX2 __attribute__((target("avx2"), always_inline)) inline

struct SplitFactor {
    int16_t hi, lo;
};
// v = hi * 65536 + lo, lo within -32768..32767.
SplitFactor Split(int32_t v) {
    const int32_t hi = (v + 32768) >> 16;
    return {static_cast<int16_t>(hi), static_cast<int16_t>(v - hi * 65536)};
}
// Every 32-bit lane holds `first` in its low and `second` in its high 16 bits.
BITLOUPE_AVX2 __m256i Pairs(int16_t first, int16_t second) {
    return _mm256_set1_epi32(static_cast<int32_t>(static_cast<uint16_t>(first) |
                                                  uint32_t{static_cast<uint16_t>(second)} << 16));
}
// 16 bytes from p, widened, less `offset`.
BITLOUPE_AVX2 __m256i LoadLess(const uint8_t* p, __m256i offset) {
    return _mm256_sub_epi16(
        _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))), offset);
}
// The 32-bit sums lo (lanes of pixels 0-3, 8-11) and hi (4-7, 12-15) shifted down by 16, back in
// pixel order as 16-bit lanes, plus `add`.
BITLOUPE_AVX2 __m256i High(__m256i lo, __m256i hi, __m256i add) {
    return _mm256_add_epi16(
        _mm256_packs_epi32(_mm256_srai_epi32(lo, 16), _mm256_srai_epi32(hi, 16)), add);
}
// Where each byte of 16 pixels' blue, green, red comes from: [part of 16 output bytes][channel]
// [byte], the pixel's index in its channel's vector, or 0x80 for none.
struct InterleaveMasks {
    alignas(16) uint8_t at[3][3][16];
};
constexpr InterleaveMasks MakeInterleaveMasks() {
    InterleaveMasks t{};
    for (int part = 0; part < 3; ++part)
        for (int c = 0; c < 3; ++c)
            for (int k = 0; k < 16; ++k) {
                const int at = part * 16 + k;
                t.at[part][c][k] = at % 3 == c ? static_cast<uint8_t>(at / 3) : 0x80;
            }
    return t;
}
constexpr InterleaveMasks kInterleave = MakeInterleaveMasks();

BITLOUPE_AVX2 __m128i Gather3(__m128i b, __m128i g, __m128i r, int part) {
    auto mask = [part](int c) {
        return _mm_load_si128(reinterpret_cast<const __m128i*>(kInterleave.at[part][c]));
    };
    return _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(b, mask(0)), _mm_shuffle_epi8(g, mask(1))),
                        _mm_shuffle_epi8(r, mask(2)));
}

// Writes blue, green, red bytes of the first n & ~15 pixels, the channels masked by keep
// (blue in bits 0-7, green 8-15, red 16-23), and returns that count.
__attribute__((target("avx2"))) int ConvertRowAvx2(uint8_t* bgr, const uint8_t* y,
                                                   const uint8_t* cb, const uint8_t* cr, int n,
                                                   const ColourFactors& f, uint32_t keep) {
    const __m128i keepB = _mm_set1_epi8(static_cast<char>(keep & 0xFF)),
                  keepG = _mm_set1_epi8(static_cast<char>((keep >> 8) & 0xFF)),
                  keepR = _mm_set1_epi8(static_cast<char>((keep >> 16) & 0xFF));
    const SplitFactor luma = Split(kLumaFactor), bu = Split(f.cbu), rv = Split(f.crv),
                      gv = Split(-f.cgv), gu = Split(-f.cgu);
    const __m256i mulB = Pairs(luma.lo, bu.lo), mulR = Pairs(luma.lo, rv.lo),
                  mulG = Pairs(luma.lo, gv.lo), mulGu = Pairs(gu.lo, 0);
    const __m256i roundB = _mm256_set1_epi32(32786), round = _mm256_set1_epi32(32768);
    const __m256i k16 = _mm256_set1_epi16(16), k128 = _mm256_set1_epi16(128);
    const __m256i zero = _mm256_setzero_si256();
    const __m256i lumaHi = _mm256_set1_epi16(luma.hi), buHi = _mm256_set1_epi16(bu.hi),
                  rvHi = _mm256_set1_epi16(rv.hi), gvHi = _mm256_set1_epi16(gv.hi),
                  guHi = _mm256_set1_epi16(gu.hi);
    int i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m256i a = LoadLess(y + i, k16), u = LoadLess(cb + i, k128),
                      v = LoadLess(cr + i, k128);
        const __m256i aHi = _mm256_mullo_epi16(a, lumaHi);
        const __m256i auLo = _mm256_unpacklo_epi16(a, u), auHi = _mm256_unpackhi_epi16(a, u);
        const __m256i avLo = _mm256_unpacklo_epi16(a, v), avHi = _mm256_unpackhi_epi16(a, v);
        const __m256i u0Lo = _mm256_unpacklo_epi16(u, zero), u0Hi = _mm256_unpackhi_epi16(u, zero);
        const __m256i blue = High(_mm256_add_epi32(_mm256_madd_epi16(auLo, mulB), roundB),
                                  _mm256_add_epi32(_mm256_madd_epi16(auHi, mulB), roundB),
                                  _mm256_add_epi16(aHi, _mm256_mullo_epi16(u, buHi)));
        const __m256i red = High(_mm256_add_epi32(_mm256_madd_epi16(avLo, mulR), round),
                                 _mm256_add_epi32(_mm256_madd_epi16(avHi, mulR), round),
                                 _mm256_add_epi16(aHi, _mm256_mullo_epi16(v, rvHi)));
        const __m256i green = High(
            _mm256_add_epi32(
                _mm256_add_epi32(_mm256_madd_epi16(avLo, mulG), _mm256_madd_epi16(u0Lo, mulGu)),
                round),
            _mm256_add_epi32(
                _mm256_add_epi32(_mm256_madd_epi16(avHi, mulG), _mm256_madd_epi16(u0Hi, mulGu)),
                round),
            _mm256_add_epi16(_mm256_add_epi16(aHi, _mm256_mullo_epi16(v, gvHi)),
                             _mm256_mullo_epi16(u, guHi)));
        // Saturated to bytes: blue and green in one pack, red in another, each in pixel order.
        const __m256i bg = _mm256_permute4x64_epi64(_mm256_packus_epi16(blue, green), 0xD8);
        const __m256i rr = _mm256_permute4x64_epi64(_mm256_packus_epi16(red, red), 0xD8);
        const __m128i b = _mm_and_si128(_mm256_castsi256_si128(bg), keepB);
        const __m128i g = _mm_and_si128(_mm256_extracti128_si256(bg, 1), keepG);
        const __m128i r = _mm_and_si128(_mm256_castsi256_si128(rr), keepR);
        __m128i* out = reinterpret_cast<__m128i*>(bgr + 3 * i);
        _mm_storeu_si128(out, Gather3(b, g, r, 0));
        _mm_storeu_si128(out + 1, Gather3(b, g, r, 1));
        _mm_storeu_si128(out + 2, Gather3(b, g, r, 2));
    }
    return i;
}

bool HaveAvx2() {
    static const bool have = __builtin_cpu_supports("avx2");
    return have;
}
#endif

// One row of samples into blue, green, red bytes under colour mode `mode`: the arithmetic of
// ConvertYCbCr and the channel choice of WritePixel, in one loop the compiler can keep tight.
template <class S>
inline __attribute__((always_inline)) void ConvertRow(uint8_t* bgr, const S* y, const S* cb,
                                                      const S* cr, int n, uint8_t mode,
                                                      const ColourFactors& f) {
    using namespace colour_mode;
    if (mode == kY || mode == kCb || mode == kCr) {
        const S* grey = mode == kY ? y : mode == kCb ? cb : cr;
        for (int x = 0; x < n; ++x)
            bgr[3 * x] = bgr[3 * x + 1] = bgr[3 * x + 2] = static_cast<uint8_t>(grey[x]);
        return;
    }
    // Channels the mode keeps: blue, green, red (an unknown mode shows the normal picture).
    uint8_t keepB = 0xFF, keepG = 0xFF, keepR = 0xFF;
    switch (mode) {
        case kRed:
            keepB = keepG = 0;
            break;
        case kGreen:
            keepB = keepR = 0;
            break;
        case kBlue:
            keepG = keepR = 0;
            break;
        case kYellow:
            keepB = 0;
            break;
        case kMagenta:
            keepG = 0;
            break;
        case kCyan:
            keepR = 0;
            break;
        default:
            break;
    }
    // In runs: the arithmetic into three plain arrays (which vectorises), then the bytes
    // interleaved.
    constexpr int kRun = 64;
    uint8_t b[kRun], g[kRun], r[kRun];
    int done = 0;
#ifdef BITLOUPE_AVX2_COLOUR
    if constexpr (std::is_same_v<S, uint8_t>)
        if (HaveAvx2())
            done = ConvertRowAvx2(bgr, y, cb, cr, n, f,
                                  uint32_t{keepB} | uint32_t{keepG} << 8 | uint32_t{keepR} << 16);
#endif
    for (int x0 = done; x0 < n; x0 += kRun) {
        const int m = n - x0 < kRun ? n - x0 : kRun;
        for (int i = 0; i < m; ++i) {
            const int32_t luma = (int32_t{static_cast<uint8_t>(y[x0 + i])} - 16) * kLumaFactor;
            const int32_t u = int32_t{static_cast<uint8_t>(cb[x0 + i])} - 128;
            const int32_t v = int32_t{static_cast<uint8_t>(cr[x0 + i])} - 128;
            b[i] = Saturate((luma + u * f.cbu + 32786) >> 16);
            g[i] = Saturate((luma - v * f.cgv - u * f.cgu + 32768) >> 16);
            r[i] = Saturate((luma + v * f.crv + 32768) >> 16);
        }
        uint8_t* out = bgr + 3 * x0;
        for (int i = 0; i < m; ++i) {
            out[3 * i] = b[i] & keepB;
            out[3 * i + 1] = g[i] & keepG;
            out[3 * i + 2] = r[i] & keepR;
        }
    }
}

}  // namespace

void ConvertMacroblockToColour(ColourMacroblock& out, const int16_t* y, const int16_t* cb,
                               const int16_t* cr, uint8_t mode, const ColourFactors& f,
                               bool liveDeInterlace) {
    for (int row = 0; row < 16; ++row)
        ConvertRow(out.rows[row], y + row * 16, cb + row * 16, cr + row * 16, 16, mode, f);
    if (liveDeInterlace) DeInterlaceColourMacroblock(out);
}

void DeInterlaceColourMacroblock(ColourMacroblock& mb) {
    uint8_t copy[16][ColourMacroblock::kRowBytes];
    std::memcpy(copy, mb.rows, sizeof copy);
    for (int j = 0; j < ColourMacroblock::kRowBytes; ++j) {
        mb.rows[0][j] = static_cast<uint8_t>((copy[0][j] >> 1) + (copy[1][j] >> 1));
        for (int i = 1; i < 15; ++i)
            mb.rows[i][j] = static_cast<uint8_t>((copy[i - 1][j] >> 2) + (copy[i][j] >> 1) +
                                                 (copy[i + 1][j] >> 2));
        mb.rows[15][j] = static_cast<uint8_t>((copy[14][j] >> 1) + (copy[15][j] >> 1));
    }
}

BmpMessage BmpResultMessage(BmpResult result) {
    switch (result) {
        case BmpResult::kNoData:
            return {dib_msg::kNoValidDataForSaving, dib_msg::kWarningCaption};
        case BmpResult::kCannotCreate:
            return {dib_msg::kFailedToCreateBmp, dib_msg::kErrorCaption};
        case BmpResult::kCannotWrite:
            return {dib_msg::kFailedToWriteBmp, dib_msg::kErrorCaption};
        case BmpResult::kOk:
            break;
    }
    return {nullptr, nullptr};
}

// --- the bitmap ---

bool CPictureDib::IsValidSize(int32_t width, int32_t height) {
    if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide) return false;
    return PaddedRowBytes(width) * static_cast<size_t>(height) <= kMaxImageBytes;
}

bool CPictureDib::Create(int32_t width, int32_t height) {
    if (pixels_ && width == width_ && height == height_) return true;
    Release();
    if (!IsValidSize(width, height)) return false;
    const size_t stride = PaddedRowBytes(width);
    pixels_.reset(AllocateZeroed(stride * static_cast<size_t>(height)));
    if (!pixels_) return false;
    width_ = width;
    height_ = height;
    stride_ = stride;
    focus_ = {0, 0, width - 1, height - 1};
    return true;
}

void CPictureDib::Release() {
    pixels_.reset();
    saved_.reset();
    width_ = height_ = 0;
    stride_ = 0;
}

uint8_t* CPictureDib::Line(int32_t line) {
    if (!pixels_ || line < 0 || line >= height_) return nullptr;
    return pixels_.get() + static_cast<size_t>(height_ - 1 - line) * stride_;
}

const uint8_t* CPictureDib::Line(int32_t line) const {
    return const_cast<CPictureDib*>(this)->Line(line);
}

uint32_t CPictureDib::Pixel(int32_t x, int32_t line) const {
    const uint8_t* row = Line(line);
    if (!row || x < 0 || x >= width_) return 0;
    const uint8_t* p = row + static_cast<size_t>(x) * 3;
    return uint32_t{p[2]} | uint32_t{p[1]} << 8 | uint32_t{p[0]} << 16;
}

bool CPictureDib::ClippedFocus(FocusRect& out) const {
    out.x0 = std::max(focus_.x0, 0);
    out.y0 = std::max(focus_.y0, 0);
    out.x1 = std::min(focus_.x1, width_ - 1);
    out.y1 = std::min(focus_.y1, height_ - 1);
    return pixels_ && out.x0 <= out.x1 && out.y0 <= out.y1;
}

void CPictureDib::Fill(uint32_t colour) {
    if (!pixels_) return;
    uint8_t* first = pixels_.get();
    for (int32_t x = 0; x < width_; ++x) PutColour(first + x * 3, colour);
    for (int32_t r = 1; r < height_; ++r) std::memcpy(first + r * stride_, first, RowBytes());
}

void CPictureDib::FillFieldLines(uint8_t fieldOption, uint32_t colour) {
    FocusRect r;
    if (!ClippedFocus(r)) return;
    int32_t line = r.y0;
    int32_t step = 1;
    if (fieldOption == kTopFieldLines || fieldOption == kBottomFieldLines) {
        step = 2;
        if (fieldOption == kBottomFieldLines) line += 1;
    }
    for (; line <= r.y1; line += step) {
        uint8_t* row = Line(line);
        for (int32_t x = 0; x < width_; ++x) PutColour(row + x * 3, colour);
    }
}

void CPictureDib::PaintMacroblock(const ColourMacroblock& mb, uint8_t fieldOption, bool keepFocus) {
    const bool field = pictureStructure_ == kTopField || pictureStructure_ == kBottomField;
    // Positions come from the stream; work in 64 bits so no value of them can overflow.
    const int64_t top =
        field ? int64_t{mb.y} * 2 + (pictureStructure_ == kBottomField ? 1 : 0) : int64_t{mb.y};
    const int64_t lineStep = field ? 2 : 1;

    if (pixels_) {
        // The columns of the macroblock that lie inside the picture.
        const int64_t left = std::max<int64_t>(mb.x, 0);
        const int64_t right = std::min<int64_t>(int64_t{mb.x} + 16, width_);
        for (int i = 0; i < 16 && left < right; ++i) {
            if (fieldOption == kTopFieldLines && (i & 1)) continue;
            if (fieldOption == kBottomFieldLines && !(i & 1)) continue;
            const int64_t line = top + i * lineStep;
            if (line < 0 || line >= height_) continue;
            uint8_t* row = Line(static_cast<int32_t>(line));
            std::memcpy(row + left * 3, mb.rows[i] + (left - mb.x) * 3,
                        static_cast<size_t>(right - left) * 3);
        }
    }

    // The rectangle is kept as painted (clipped only into 32 bits).
    auto to32 = [](int64_t v) {
        return static_cast<int32_t>(std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(),
                                                        std::numeric_limits<int32_t>::max()));
    };
    if (!keepFocus) {
        focus_.x0 = mb.x;
        focus_.y0 = to32(top);
    }
    focus_.x1 = to32(int64_t{mb.x} + 15);
    focus_.y1 = to32(top + (field ? 31 : 15));
}

BITLOUPE_VECTOR_CLONES
void ConvertSamplesToBgr(uint8_t* bgr, const uint8_t* y, const uint8_t* cb, const uint8_t* cr,
                         int n, const ColourFactors& f) {
    ConvertRow(bgr, y, cb, cr, n, colour_mode::kNormal, f);
}

BITLOUPE_VECTOR_CLONES
bool CPictureDib::ConvertFromPlanes(const uint8_t* y, const uint8_t* cb, const uint8_t* cr,
                                    int32_t width, int32_t height, uint8_t fieldLines, uint8_t mode,
                                    const ColourFactors& f) {
    if (width != width_ || height != height_) return false;
    return ConvertLines(0, height_, y, cb, cr, fieldLines, mode, f);
}

bool CPictureDib::ConvertLines(int32_t first, int32_t count, const uint8_t* y, const uint8_t* cb,
                               const uint8_t* cr, uint8_t fieldLines, uint8_t mode,
                               const ColourFactors& f) {
    if (!pixels_ || !y || !cb || !cr || first < 0 || count < 0 || count > height_ - first)
        return false;
    int32_t step = 1;
    int32_t parity = -1;
    if (fieldLines == kTopFieldLines || fieldLines == kBottomFieldLines) {
        step = 2;
        parity = fieldLines == kBottomFieldLines ? 1 : 0;
    }
    int32_t line = first;
    if (parity >= 0 && (line & 1) != parity) ++line;
    for (; line < first + count; line += step) {
        const size_t at = static_cast<size_t>(line - first) * static_cast<size_t>(width_);
        ConvertRow(Line(line), y + at, cb + at, cr + at, width_, mode, f);
    }
    return true;
}

bool CPictureDib::SaveCopy() {
    if (!pixels_) return false;
    if (saved_) return true;
    saved_.reset(new (std::nothrow) uint8_t[ImageSize()]);
    if (!saved_) return false;
    std::memcpy(saved_.get(), pixels_.get(), ImageSize());
    return true;
}

bool CPictureDib::Restore() {
    if (!pixels_ || !saved_) return false;
    std::memcpy(pixels_.get(), saved_.get(), ImageSize());
    return true;
}

void CPictureDib::DropSavedCopy() {
    saved_.reset();
}

bool CPictureDib::CopyFrom(const CPictureDib& other) {
    if (&other == this) return pixels_ != nullptr;
    if (!other.pixels_) {
        Release();
        return false;
    }
    if (!Create(other.width_, other.height_)) return false;
    std::memcpy(pixels_.get(), other.pixels_.get(), ImageSize());
    return true;
}

bool CPictureDib::CreateFromScreenBitmap(const ScreenBitmap& s) {
    const int bpp = s.bitsPerPixel;
    if (!s.bits || (bpp != 16 && bpp != 24 && bpp != 32) || !IsValidSize(s.width, s.height) ||
        s.bytesPerLine < static_cast<size_t>(s.width) * static_cast<size_t>(bpp / 8)) {
        Release();
        return false;
    }
    if (!Create(s.width, s.height)) return false;
    for (int32_t line = 0; line < height_; ++line) {
        const uint8_t* src = s.bits + static_cast<size_t>(line) * s.bytesPerLine;
        uint8_t* dst = Line(line);
        if (bpp == 24) {
            std::memcpy(dst, src, RowBytes());
        } else if (bpp == 32) {
            for (int32_t x = 0; x < width_; ++x) std::memcpy(dst + x * 3, src + x * 4, 3);
        } else {
            // 5-6-5 words, little-endian: five bits of each channel scaled by 8 (the lowest
            // green bit is not used).
            for (int32_t x = 0; x < width_; ++x) {
                const uint32_t v = uint32_t{src[x * 2]} | uint32_t{src[x * 2 + 1]} << 8;
                dst[x * 3] = static_cast<uint8_t>((v & 0x1F) * 8);
                dst[x * 3 + 1] = static_cast<uint8_t>(((v >> 6) & 0x1F) * 8);
                dst[x * 3 + 2] = static_cast<uint8_t>(((v >> 11) & 0x1F) * 8);
            }
        }
    }
    return true;
}

// --- BMP files ---

namespace {

void Put16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void Put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// Writes a 24-bit BMP file of width x height pixels. `row(k)` gives the k-th row of the file
// (k = 0 is the bottom row) as at least PaddedRowBytes(width) bytes, padding included.
template <class RowFn>
BmpResult WriteBmp(const std::string& path, int32_t width, int32_t height, RowFn row) {
    if (width <= 0 || height <= 0) return BmpResult::kNoData;
    const size_t rowBytes = PaddedRowBytes(width);
    const size_t pixelBytes = rowBytes * static_cast<size_t>(height);

    uint8_t fileHeader[14] = {};
    Put16(fileHeader + 0, 19778);  // "BM"
    Put32(fileHeader + 2, static_cast<uint32_t>(54 + pixelBytes));
    Put32(fileHeader + 10, 54);
    uint8_t infoHeader[40] = {};
    Put32(infoHeader + 0, 40);
    Put32(infoHeader + 4, static_cast<uint32_t>(width));
    Put32(infoHeader + 8, static_cast<uint32_t>(height));  // positive: rows bottom-up
    Put16(infoHeader + 12, 1);
    Put16(infoHeader + 14, 24);

    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return BmpResult::kCannotCreate;
    bool ok = std::fwrite(fileHeader, sizeof fileHeader, 1, file) == 1 &&
              std::fwrite(infoHeader, sizeof infoHeader, 1, file) == 1;
    for (int32_t k = 0; ok && k < height; ++k) ok = std::fwrite(row(k), rowBytes, 1, file) == 1;
    ok = std::fclose(file) == 0 && ok;
    if (!ok) {
        // An incomplete picture is no use to anyone; only an ordinary file is removed, never
        // whatever else the path may name.
        std::error_code error;
        if (std::filesystem::is_regular_file(path, error)) std::filesystem::remove(path, error);
        return BmpResult::kCannotWrite;
    }
    return BmpResult::kOk;
}

}  // namespace

BmpResult CPictureDib::Save(const std::string& path) const {
    if (!pixels_) return BmpResult::kNoData;
    return WriteBmp(path, width_, height_,
                    [&](int32_t k) { return pixels_.get() + static_cast<size_t>(k) * stride_; });
}

BmpResult CPictureDib::SaveField(const std::string& path, bool bottom) const {
    if (!pixels_) return BmpResult::kNoData;
    const int32_t rows = height_ / 2;
    // File row k (from the bottom) is the field's line rows - 1 - k.
    return WriteBmp(path, width_, rows,
                    [&](int32_t k) { return Line(2 * (rows - 1 - k) + (bottom ? 1 : 0)); });
}

BmpResult CPictureDib::SaveFocusWithBackground(const std::string& path, uint32_t background) const {
    if (!pixels_) return BmpResult::kNoData;
    FocusRect r;
    const bool inside = ClippedFocus(r);
    std::vector<uint8_t> buffer(stride_, 0);
    for (int32_t x = 0; x < width_; ++x) PutColour(buffer.data() + x * 3, background);
    std::vector<uint8_t> rowBuffer(stride_, 0);
    return WriteBmp(path, width_, height_, [&](int32_t k) -> const uint8_t* {
        const int32_t line = height_ - 1 - k;
        if (!inside || line < r.y0 || line > r.y1) return buffer.data();
        std::memcpy(rowBuffer.data(), buffer.data(), stride_);
        std::memcpy(rowBuffer.data() + r.x0 * 3, Line(line) + r.x0 * 3,
                    static_cast<size_t>(r.x1 - r.x0 + 1) * 3);
        return rowBuffer.data();
    });
}

BmpResult CPictureDib::SaveFocusOnly(const std::string& path) const {
    FocusRect r;
    if (!ClippedFocus(r)) return BmpResult::kNoData;
    const int32_t w = r.x1 - r.x0 + 1;
    const int32_t h = r.y1 - r.y0 + 1;
    std::vector<uint8_t> rowBuffer(PaddedRowBytes(w), 0);
    return WriteBmp(path, w, h, [&](int32_t k) {
        std::memcpy(rowBuffer.data(), Line(r.y1 - k) + r.x0 * 3, static_cast<size_t>(w) * 3);
        return rowBuffer.data();
    });
}

}  // namespace bitloupe
