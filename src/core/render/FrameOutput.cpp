#include "core/render/FrameOutput.h"

#include <algorithm>
#include <cstring>

#include "core/decode/PictureDecoder.h"
#include "core/image/PictureDib.h"

namespace bitloupe {

namespace {

// A frame of the sequence's width x height and the stores it is cropped from.
struct Crop {
    size_t w, h;    // the displayed frame
    size_t sw, sh;  // the stores' full size
    const uint8_t* plane[3] = {nullptr, nullptr, nullptr};

    // One cropped plane row, padded to w. Whatever lies outside the store (or a plane that
    // was never written) comes out as 128.
    void Row(int c, size_t y, uint8_t* dst) const {
        size_t copied = 0;
        if (plane[c] && y < sh) {
            copied = std::min(w, sw);
            std::memcpy(dst, plane[c] + y * sw, copied);
        }
        std::memset(dst + copied, 128, w - copied);
    }
};

// Colour with the picture wholly inside the stores (the usual case): the shown chroma a band
// of lines at a time from the coded planes, converted while it is in cache.
void ExtractBgrInBands(const PictureDecoder& dec, const Crop& crop, int slot, int bandLines,
                       const ColourFactors& factors, std::vector<uint8_t>& out) {
    const size_t w = crop.w, h = crop.h, sw = crop.sw;
    out.resize(w * h * 3);
    const uint8_t* luma = dec.CurrentPlane(0);
    std::vector<uint8_t> cb(bandLines * sw), cr(bandLines * sw);
    for (size_t y0 = 0; y0 < h; y0 += bandLines) {
        dec.stores.DisplayChromaBand(slot, static_cast<int>(y0 / bandLines), cb.data(), cr.data());
        for (size_t y = y0; y < std::min(h, y0 + bandLines); ++y)
            ConvertSamplesToBgr(out.data() + y * w * 3, luma + y * sw, cb.data() + (y - y0) * sw,
                                cr.data() + (y - y0) * sw, static_cast<int>(w), factors);
    }
}

void ExtractBgr(const Crop& crop, const ColourFactors& factors, std::vector<uint8_t>& out) {
    const size_t w = crop.w;
    out.resize(w * crop.h * 3);
    std::vector<uint8_t> yr(w), cbr(w), crr(w);
    for (size_t y = 0; y < crop.h; ++y) {
        crop.Row(0, y, yr.data());
        crop.Row(1, y, cbr.data());
        crop.Row(2, y, crr.data());
        ConvertSamplesToBgr(out.data() + y * w * 3, yr.data(), cbr.data(), crr.data(),
                            static_cast<int>(w), factors);
    }
}

// Luma, then the two chroma planes at their coded resolution, each cropped to the displayed
// part (half a sample rounds up).
void ExtractYuv(const PictureDecoder& dec, const Crop& crop, std::vector<uint8_t>& out) {
    const size_t w = crop.w, h = crop.h;
    const ChromaSize cs = dec.stores.chroma;
    const size_t cw = (w + cs.shiftX) >> cs.shiftX, ch = (h + cs.shiftY) >> cs.shiftY;
    const size_t scw = crop.sw >> cs.shiftX, sch = crop.sh >> cs.shiftY;
    out.resize(w * h + 2 * cw * ch);
    uint8_t* d = out.data();
    for (size_t y = 0; y < h; ++y, d += w) crop.Row(0, y, d);
    for (int c = 1; c < 3; ++c) {
        const uint8_t* p = dec.CurrentCodedPlane(c);
        for (size_t y = 0; y < ch; ++y, d += cw) {
            size_t copied = 0;
            if (p && y < sch) {
                copied = std::min(cw, scw);
                std::memcpy(d, p + y * scw, copied);
            }
            std::memset(d + copied, 128, cw - copied);
        }
    }
}

// The planes one after the other, each at the full size.
void ExtractPlanes(const Crop& crop, int planes, std::vector<uint8_t>& out) {
    out.resize(crop.w * crop.h * planes);
    for (int c = 0; c < planes; ++c)
        for (size_t y = 0; y < crop.h; ++y) crop.Row(c, y, out.data() + (c * crop.h + y) * crop.w);
}

}  // namespace

// The displayed part of the store the last decode wrote: width x height of the sequence,
// each plane cropped from the store's full size.
void ExtractFrame(const PictureDecoder& dec, FrameFormat format, std::vector<uint8_t>& out) {
    const SequenceParameters& sequence = dec.Sequence();
    Crop crop{sequence.horizontal_size, sequence.vertical_size,
              dec.stores.width > 0 ? static_cast<size_t>(dec.stores.width) : 0,
              dec.stores.height > 0 ? static_cast<size_t>(dec.stores.height) : 0};
    // A sequence header that claims no width or no height (a damaged stream): the frame is
    // empty, and the row copies must not be handed a buffer that was never allocated.
    if (crop.w == 0 || crop.h == 0) {
        out.clear();
        return;
    }
    const ColourMatrix& m = sequence.colourMatrix;
    const ColourFactors factors{m.crv, m.cbu, m.cgu, m.cgv};
    const int slot = dec.stores.currentSlot;
    const int bandLines = format == FrameFormat::kBgr24 && crop.w <= crop.sw && crop.h <= crop.sh
                              ? dec.stores.DisplayChromaBandLines(slot)
                              : 0;
    if (bandLines > 0) return ExtractBgrInBands(dec, crop, slot, bandLines, factors, out);

    // The full-size chroma planes only for the formats that show them (asking for one brings
    // it up to date).
    crop.plane[0] = dec.CurrentPlane(0);
    if (format == FrameFormat::kBgr24 || format == FrameFormat::kYuv444p)
        for (int c = 1; c < 3; ++c) crop.plane[c] = dec.CurrentPlane(c);
    switch (format) {
        case FrameFormat::kBgr24:
            return ExtractBgr(crop, factors, out);
        case FrameFormat::kYuv:
            return ExtractYuv(dec, crop, out);
        case FrameFormat::kGray:
            return ExtractPlanes(crop, 1, out);
        case FrameFormat::kYuv444p:
            return ExtractPlanes(crop, 3, out);
    }
}

}  // namespace bitloupe
