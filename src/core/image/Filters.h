// The image filters of the Processing menu. They work in place on the shown picture's pixels,
// treating the blue, green and red bytes of every pixel as three independent 8-bit channels,
// and can be undone with "Restore" (the bitmap's saved copy, taken before the first filter).
//
// Neighbourhood filters change only interior pixels: every pixel but the first and last of a
// row, in every line but the first and last. They read from a full copy of the picture taken
// at the start.
#pragma once

#include <cstdint>

#include "core/image/PictureDib.h"

namespace bitloupe {

struct GammaTables;

enum class PictureFilter : uint8_t {
    kNegative,         // "Negative", with the colour mode in force
    kDeInterlace,      // "De-Interlacing": vertical smoothing
    kUniformSmooth,    // mean of the pixel and its four neighbours
    kGaussianSmooth,   // (U + D + L + R + 4X) / 8
    kMedianSmooth,     // median of the pixel and its four neighbours
    kWeakSharpen,      // 5X - U - D - L - R
    kStrongSharpen,    // 9X minus the eight neighbours
    kEdgeBlack,        // edge detection on a black background
    kEdgeWhite,        // ... on a white background
    kEdgeGray,         // ... on a grey background
    kEmbossLeftUp,     // emboss against the up-left neighbour
    kEmbossRightUp,    // ... the up-right neighbour
    kEmbossLeftDown,   // ... the down-left neighbour
    kEmbossRightDown,  // ... the down-right neighbour
    kVerticalFlip,
    kHorizontalFlip,
};

enum class FilterResult : uint8_t {
    kDone,
    kNoPicture,    // the bitmap has no pixels
    kOutOfMemory,  // the saved or the working copy could not be made; nothing changed
};

// Runs one filter of the Processing menu: keeps the saved copy for "Restore" first, then
// changes the pixels. colourMode matters to kNegative only, which inverts just the channels
// the mode shows. On kOutOfMemory the caller shows "Out of memory!" titled "Error".
FilterResult RunFilter(CPictureDib& dib, PictureFilter filter, uint8_t colourMode = 0);

// Replaces the blue, green and red byte of every pixel through the matching table, after
// keeping the saved copy ("Gamma Correction..." OK).
FilterResult ApplyGammaTables(CPictureDib& dib, const GammaTables& tables);

// Makes `preview` a copy of `source` mapped through the tables (the gamma dialog's preview).
// Returns false when source has no pixels or the preview cannot be made.
bool MapThroughGammaTables(const CPictureDib& source, CPictureDib& preview,
                           const GammaTables& tables);

// Vertical smoothing of the whole picture without touching the saved copy: live
// de-interlacing of a freshly decoded picture. A picture of one line is left as it is.
FilterResult DeInterlace(CPictureDib& dib);

}  // namespace bitloupe
