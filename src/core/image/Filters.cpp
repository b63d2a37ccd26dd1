#include "core/image/Filters.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

#include "core/image/Gamma.h"

namespace bitloupe {

namespace {

inline uint8_t Clamp255(int v) {
    return static_cast<uint8_t>(std::clamp(v, 0, 255));
}

// A full copy of the pixels for the filters that must read unfiltered neighbours; null when
// memory is lacking.
std::unique_ptr<uint8_t[]> WorkingCopy(const CPictureDib& dib) {
    std::unique_ptr<uint8_t[]> copy(new (std::nothrow) uint8_t[dib.ImageSize()]);
    if (copy) std::memcpy(copy.get(), dib.Bits(), dib.ImageSize());
    return copy;
}

// Runs `op(x, stride)` for every interior byte: x points at the byte in the copy, the picture
// line above is at x + stride and the one below at x - stride (the buffer is bottom-up), the
// same channel of the left and right pixels at x - 3 and x + 3. Pictures of fewer than three
// lines or pixels have no interior and stay as they are.
template <class Op>
FilterResult Neighbourhood(CPictureDib& dib, Op op) {
    if (dib.Height() < 3 || dib.Width() < 3) return FilterResult::kDone;
    const auto copy = WorkingCopy(dib);
    if (!copy) return FilterResult::kOutOfMemory;
    const size_t stride = dib.Stride();
    const size_t rowBytes = dib.RowBytes();
    for (int32_t r = 1; r < dib.Height() - 1; ++r) {
        const uint8_t* src = copy.get() + static_cast<size_t>(r) * stride;
        uint8_t* dst = dib.Bits() + static_cast<size_t>(r) * stride;
        for (size_t j = 3; j < rowBytes - 3; ++j) dst[j] = op(src + j, stride);
    }
    return FilterResult::kDone;
}

FilterResult VerticalSmooth(CPictureDib& dib) {
    const int32_t h = dib.Height();
    if (h < 2) return FilterResult::kDone;
    const auto copy = WorkingCopy(dib);
    if (!copy) return FilterResult::kOutOfMemory;
    const size_t stride = dib.Stride();
    const size_t rowBytes = dib.RowBytes();
    for (int32_t r = 0; r < h; ++r) {
        const uint8_t* x = copy.get() + static_cast<size_t>(r) * stride;
        uint8_t* dst = dib.Bits() + static_cast<size_t>(r) * stride;
        if (r == 0) {
            for (size_t j = 0; j < rowBytes; ++j)
                dst[j] = static_cast<uint8_t>((x[j] >> 1) + (x[j + stride] >> 1));
        } else if (r == h - 1) {
            for (size_t j = 0; j < rowBytes; ++j)
                dst[j] = static_cast<uint8_t>((x[j - stride] >> 1) + (x[j] >> 1));
        } else {
            for (size_t j = 0; j < rowBytes; ++j)
                dst[j] =
                    static_cast<uint8_t>((x[j - stride] >> 2) + (x[j] >> 1) + (x[j + stride] >> 2));
        }
    }
    return FilterResult::kDone;
}

// Emboss: each byte becomes half its difference to one diagonal neighbour, around 128.
// `up` picks the picture line above (buffer row r + 1) or below (r - 1), `left` the pixel to
// the left or right. Pixels without that neighbour (one column and one line) become 128.
FilterResult Emboss(CPictureDib& dib, bool up, bool left) {
    const auto copy = WorkingCopy(dib);
    if (!copy) return FilterResult::kOutOfMemory;
    const int32_t h = dib.Height();
    const size_t stride = dib.Stride();
    const size_t rowBytes = dib.RowBytes();
    const ptrdiff_t toNeighbour =
        (up ? static_cast<ptrdiff_t>(stride) : -static_cast<ptrdiff_t>(stride)) + (left ? -3 : 3);
    for (int32_t r = 0; r < h; ++r) {
        const uint8_t* src = copy.get() + static_cast<size_t>(r) * stride;
        uint8_t* dst = dib.Bits() + static_cast<size_t>(r) * stride;
        const bool edgeLine = up ? r == h - 1 : r == 0;
        if (edgeLine || rowBytes < 6) {
            std::memset(dst, 128, rowBytes);
            continue;
        }
        const size_t first = left ? 3 : 0;
        const size_t end = left ? rowBytes : rowBytes - 3;
        for (size_t j = first; j < end; ++j) {
            const int diff = int{src[j]} - int{src[static_cast<ptrdiff_t>(j) + toNeighbour]};
            dst[j] = static_cast<uint8_t>((diff >> 1) + 128);
        }
        std::memset(dst + (left ? 0 : rowBytes - 3), 128, 3);
    }
    return FilterResult::kDone;
}

// The channels (blue, green, red) that each colour mode shows.
void Negative(CPictureDib& dib, uint8_t mode) {
    bool channel[3] = {true, true, true};
    switch (mode) {
        case colour_mode::kRed:
            channel[0] = channel[1] = false;
            break;
        case colour_mode::kGreen:
            channel[0] = channel[2] = false;
            break;
        case colour_mode::kBlue:
            channel[1] = channel[2] = false;
            break;
        case colour_mode::kYellow:
            channel[0] = false;
            break;
        case colour_mode::kMagenta:
            channel[1] = false;
            break;
        case colour_mode::kCyan:
            channel[2] = false;
            break;
        default:
            break;
    }
    for (int32_t line = 0; line < dib.Height(); ++line) {
        uint8_t* p = dib.Line(line);
        for (int32_t x = 0; x < dib.Width(); ++x, p += 3)
            for (int c = 0; c < 3; ++c)
                if (channel[c]) p[c] = static_cast<uint8_t>(255 - p[c]);
    }
}

void VerticalFlip(CPictureDib& dib) {
    const int32_t h = dib.Height();
    for (int32_t i = 0; i < h / 2; ++i)
        std::swap_ranges(dib.Line(i), dib.Line(i) + dib.RowBytes(), dib.Line(h - 1 - i));
}

void HorizontalFlip(CPictureDib& dib) {
    const int32_t w = dib.Width();
    for (int32_t line = 0; line < dib.Height(); ++line) {
        uint8_t* row = dib.Line(line);
        for (int32_t p = 0; p < w / 2; ++p)
            std::swap_ranges(row + p * 3, row + p * 3 + 3, row + (w - 1 - p) * 3);
    }
}

void MapPixels(const uint8_t* src, uint8_t* dst, const CPictureDib& layout, const GammaTables& t) {
    for (int32_t r = 0; r < layout.Height(); ++r) {
        const size_t at = static_cast<size_t>(r) * layout.Stride();
        const uint8_t* s = src + at;
        uint8_t* d = dst + at;
        for (int32_t x = 0; x < layout.Width(); ++x, s += 3, d += 3) {
            d[0] = t.blue[s[0]];
            d[1] = t.green[s[1]];
            d[2] = t.red[s[2]];
        }
    }
}

FilterResult Run(CPictureDib& dib, PictureFilter filter, uint8_t colourMode) {
    switch (filter) {
        case PictureFilter::kNegative:
            Negative(dib, colourMode);
            return FilterResult::kDone;
        case PictureFilter::kDeInterlace:
            return VerticalSmooth(dib);
        case PictureFilter::kUniformSmooth:
            return Neighbourhood(dib, [](const uint8_t* x, size_t s) {
                return static_cast<uint8_t>((x[s] + x[-3] + x[0] + x[-ptrdiff_t(s)] + x[3]) / 5);
            });
        case PictureFilter::kGaussianSmooth:
            return Neighbourhood(dib, [](const uint8_t* x, size_t s) {
                return static_cast<uint8_t>((x[s] + x[-ptrdiff_t(s)] + 4 * x[0] + x[3] + x[-3]) >>
                                            3);
            });
        case PictureFilter::kMedianSmooth:
            return Neighbourhood(dib, [](const uint8_t* x, size_t s) {
                uint8_t v[5] = {x[0], x[-3], x[3], x[s], x[-ptrdiff_t(s)]};
                std::nth_element(v, v + 2, v + 5);
                return v[2];
            });
        case PictureFilter::kWeakSharpen:
            return Neighbourhood(dib, [](const uint8_t* x, size_t s) {
                return Clamp255(5 * x[0] - x[s] - x[-ptrdiff_t(s)] - x[-3] - x[3]);
            });
        case PictureFilter::kStrongSharpen:
            return Neighbourhood(dib, [](const uint8_t* x, size_t s) {
                const ptrdiff_t u = static_cast<ptrdiff_t>(s);
                const int around =
                    x[u - 3] + x[u] + x[u + 3] + x[-3] + x[3] + x[-u - 3] + x[-u] + x[-u + 3];
                return Clamp255(9 * x[0] - around);
            });
        case PictureFilter::kEdgeBlack:
        case PictureFilter::kEdgeWhite:
        case PictureFilter::kEdgeGray: {
            const int variant = filter == PictureFilter::kEdgeBlack   ? 0
                                : filter == PictureFilter::kEdgeWhite ? 1
                                                                      : 2;
            return Neighbourhood(dib, [variant](const uint8_t* x, size_t s) {
                const int e = 4 * x[0] - x[s] - x[-ptrdiff_t(s)] - x[3] - x[-3];
                const int magnitude = std::min(e < 0 ? -e : e, 255);
                if (variant == 0) return static_cast<uint8_t>(magnitude);
                if (variant == 1) return static_cast<uint8_t>(255 - magnitude);
                return Clamp255((e >> 1) + 128);
            });
        }
        case PictureFilter::kEmbossLeftUp:
            return Emboss(dib, true, true);
        case PictureFilter::kEmbossRightUp:
            return Emboss(dib, true, false);
        case PictureFilter::kEmbossLeftDown:
            return Emboss(dib, false, true);
        case PictureFilter::kEmbossRightDown:
            return Emboss(dib, false, false);
        case PictureFilter::kVerticalFlip:
            VerticalFlip(dib);
            return FilterResult::kDone;
        case PictureFilter::kHorizontalFlip:
            HorizontalFlip(dib);
            return FilterResult::kDone;
    }
    return FilterResult::kDone;
}

}  // namespace

FilterResult RunFilter(CPictureDib& dib, PictureFilter filter, uint8_t colourMode) {
    if (!dib.HasPixels()) return FilterResult::kNoPicture;
    if (!dib.SaveCopy()) return FilterResult::kOutOfMemory;
    return Run(dib, filter, colourMode);
}

FilterResult ApplyGammaTables(CPictureDib& dib, const GammaTables& tables) {
    if (!dib.HasPixels()) return FilterResult::kNoPicture;
    if (!dib.SaveCopy()) return FilterResult::kOutOfMemory;
    MapPixels(dib.Bits(), dib.Bits(), dib, tables);
    return FilterResult::kDone;
}

bool MapThroughGammaTables(const CPictureDib& source, CPictureDib& preview,
                           const GammaTables& tables) {
    if (!source.HasPixels() || &source == &preview) return false;
    if (!preview.Create(source.Width(), source.Height())) return false;
    MapPixels(source.Bits(), preview.Bits(), source, tables);
    return true;
}

FilterResult DeInterlace(CPictureDib& dib) {
    if (!dib.HasPixels()) return FilterResult::kNoPicture;
    return VerticalSmooth(dib);
}

}  // namespace bitloupe
