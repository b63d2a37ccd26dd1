// Reconstruction of one macroblock from its decoded pieces: motion-compensated prediction out
// of the frame stores, the assembly of the 8x8 block results at the coded resolution of each
// component, the chroma up-sampling to the luma grid for display, and storing the result in a
// frame store.
//
// Chroma is predicted and reconstructed at its coded resolution (4:2:0, 4:2:2 or 4:4:4) with
// the chroma vectors derived from the luma ones. The picture that is shown is made of three
// full-size planes: each reconstructed macroblock's chroma is up-sampled to 16x16 for them.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "core/base/ZeroedMemory.h"
#include "core/syntax/MacroblockRecord.h"
#include "core/tree/TreeStore.h"

namespace bitloupe {

// One decoded 8x8 block. For an intra block both halves hold the samples, clipped; for a
// non-intra block `raw` holds the residual and `display` residual / 2 + 128. A block that was
// not coded has raw 0 and display 128 (128 in both halves for an intra macroblock).
struct BlockResult {
    int16_t display[64] = {};
    int16_t raw[64] = {};
    uint8_t index = 0;      // 0..11 within the macroblock
    uint8_t component = 0;  // 0 Y, 1 Cb, 2 Cr
    int32_t x = 0;          // top-left sample in the picture
    int32_t y = 0;
    // Set by MarkNotCoded only: the halves then hold one value each, which the assembly relies
    // on to skip the up-sampling.
    uint8_t notCoded = 0;
};

// Sets the block result of a block whose coded_block_pattern bit is 0.
void MarkNotCoded(BlockResult& block, bool intraMacroblock);

// The vectors of one macroblock as the display pane draws them (one record per macroblock of
// the picture, row-major).
#pragma pack(push, 1)
struct MotionOverlayRecord {
    int16_t vector[2][2][2] = {};  // [first/second][forward/backward][horizontal/vertical]
    uint8_t motionType = 0;
    uint8_t motionVectorFormat = 0;
};
#pragma pack(pop)
static_assert(sizeof(MotionOverlayRecord) == 18);

// Three arrays (Y, Cb, Cr), row-major, 16 samples a row: the prediction buffer and the
// macroblock workspace. At the coded resolution luma fills 16x16 and chroma the macroblock's
// chroma block (ChromaSize); up-sampled for display every component fills 16x16.
struct MacroblockSamples {
    int16_t c[3][256];
};

// The chroma samples of one macroblock per chroma_format (1 4:2:0, 2 4:2:2, 3 4:4:4), and the
// shifts from luma to chroma coordinates.
struct ChromaSize {
    int shiftX = 1;
    int shiftY = 1;
    int cols() const { return 16 >> shiftX; }
    int rows() const { return 16 >> shiftY; }
};
inline ChromaSize ChromaSizeOf(int chromaFormat) {
    return {chromaFormat == 3 ? 0 : 1, chromaFormat == 1 ? 1 : 0};
}

// Clipping to 0..255. Written as a comparison rather than a table look-up: the same values
// for every input, and loops over whole macroblocks vectorise.
struct SaturationTable {
    int16_t operator()(int v) const { return static_cast<int16_t>(v < 0 ? 0 : v > 255 ? 255 : v); }
};

// One slot of the frame stores: three full-size planes of width x height bytes, the picture
// that is shown, and the two chroma planes at their coded resolution, which prediction reads.
// Planes are zeroed blocks (ZeroedMemory.h): zero from the start without touching the pages,
// so a big picture size costs memory and time only as pictures are decoded into it.
//
// The full-size chroma planes are up-sampled from the coded ones only when something asks for
// them (FrameStores::DisplayPlane): a reference that is never shown costs no up-sampling. Until
// then the slot remembers which macroblocks were written, laid out as the picture that wrote
// them was: frame macroblocks, or the macroblocks of each field.
using Plane = ZeroedBlock;
struct FrameSlot {
    Plane plane[3];
    Plane coded[2];  // Cb, Cr
    // Per macroblock, 1 when its display chroma is behind its coded chroma. Frame layout:
    // row * macroblock-width + column; field layout: the top field's macroblocks, then the
    // bottom field's. Mutable: a refresh changes what the planes hold, not what they are, so
    // readers of a const store get them up to date.
    mutable std::vector<uint8_t> stale;
    mutable uint8_t staleLayout = 0;  // 0 nothing behind, else kFrameLayout or kFieldLayout
    // Whether anything may have written the full-size chroma planes since they were
    // allocated; until then they hold zeros, as the coded chroma does wherever it is not
    // behind.
    mutable bool displayChromaTouched = false;
    static constexpr uint8_t kFrameLayout = 1;
    static constexpr uint8_t kFieldLayout = 2;
};

// The part of a field entry the decoder keeps: which picture filled it, and whether it is
// complete (may serve as a reference).
struct FieldEntry {
    TreeItem item = 0;
    bool complete = false;
};

struct FrameStores {
    int32_t width = 0;        // 16 x macroblock-width
    int32_t height = 0;       // 16 x macroblock-height
    int32_t chromaWidth = 0;  // of the coded chroma planes
    int32_t chromaHeight = 0;
    uint8_t chromaFormat = 1;
    ChromaSize chroma;
    FrameSlot slots[3];
    int8_t currentReferenceSlot = -1;
    int8_t currentSlot = -1;  // the slot being written; -1 before the first decode
    FieldEntry entries[4];
    uint8_t currentEntry = 0;
    bool Allocated() const { return slots[0].plane[0] != nullptr; }
    // A full-size plane as it was last written: the luma plane, and for chroma the plane the
    // decoder writes only when it refreshes it (DisplayPlane is what readers want).
    uint8_t* Plane(int slot, int component) const {
        if (slot < 0 || slot >= 3) return nullptr;
        if (component > 0) slots[slot].displayChromaTouched = true;
        return slots[slot].plane[component].get();
    }
    // A full-size plane of the shown picture, chroma brought up to date first.
    uint8_t* DisplayPlane(int slot, int component) const {
        if (component > 0) RefreshDisplayChroma(slot);
        return Plane(slot, component);
    }
    // The planes at the coded resolution (luma is the full-size plane).
    uint8_t* CodedPlane(int slot, int component) const {
        if (slot < 0 || slot >= 3) return nullptr;
        return component == 0 ? slots[slot].plane[0].get() : slots[slot].coded[component - 1].get();
    }

    // Sizes the record of written macroblocks for planes of width x height (after allocation)
    // and forgets what it held.
    void ResetStale();
    // Records that the macroblock at (row, column) of a picture of this structure (field
    // pictures count their own rows) was written into the slot's coded chroma. A slot whose
    // record holds the other layout is brought up to date first.
    void MarkChromaWritten(int slot, int pictureStructure, int row, int column);
    // Up-samples the coded chroma of every macroblock written since the last refresh into the
    // full-size planes, macroblock by macroblock as the decoder always has.
    void RefreshDisplayChroma(int slot) const;

    // The shown chroma straight from the coded planes, a band of lines at a time, for a reader
    // that converts the picture once (the colour frames of the command-line tool): what
    // DisplayPlane would hold on those lines, made in a small buffer that stays in cache
    // instead of the full-size planes. It needs every macroblock of the slot written since the
    // last refresh, in one layout, as after a picture decoded whole; then the lines a band
    // covers (16 in frame layout, 32 in field layout, both fields' lines), else 0 and the
    // reader takes DisplayPlane.
    int DisplayChromaBandLines(int slot) const;
    // Band `band` (lines band x DisplayChromaBandLines onwards) into cb and cr, `width` bytes a
    // line. Nothing of the slot changes.
    void DisplayChromaBand(int slot, int band, uint8_t* cb, uint8_t* cr) const;
};

// Where one component prediction reads: the reference plane, its size, and whether it is read
// as a field (every second line, from line 1 for the bottom field).
struct PredictionSource {
    const uint8_t* plane = nullptr;
    int32_t width = 0;
    int32_t height = 0;
    bool field = false;
    bool bottom = false;
};

// Predicts `rows` rows of `cols` samples (16 or 8) at (x, y) (field lines for a field source)
// displaced by the vector (mx, my) in half samples, into dst with the given row stride, or
// averages the prediction into what dst holds. A displaced block that would leave the plane is
// taken at the block's own position (per axis), keeping the half-sample flags; half-sample
// neighbours past the last column or line repeat the last one. Nothing is read outside the plane,
// whatever the vector; a block position outside the plane predicts nothing and returns false.
bool PredictComponent(int16_t* dst, int dstStride, const PredictionSource& src, int x, int y,
                      int mx, int my, int rows, bool average, int cols = 16);
// The same into bytes, as a frame store holds them.
bool PredictComponent(uint8_t* dst, int dstStride, const PredictionSource& src, int x, int y,
                      int mx, int my, int rows, bool average, int cols = 16);

// The chroma vector component of a luma vector component (half samples): halved, truncating
// toward zero, along an axis where chroma is subsampled.
inline int ChromaVector(int v, int shift) {
    return shift ? v / 2 : v;
}

// Places block results into the workspace at the coded resolution and adds the prediction
// (also at the coded resolution). `raw` is the raw-display flag after the prediction step:
// true takes the display halves (no prediction added), false adds the prediction to the raw
// halves. chromaFormat 1, 2, 3; dctType 1 for field DCT.
void AssembleCoded(MacroblockSamples& out, const BlockResult* blocks, int blockCount,
                   int chromaFormat, int dctType, const MacroblockSamples* prediction, bool raw,
                   const SaturationTable& sat);

// Where a macroblock's samples go, per component: its first sample and the distance between
// its rows, at the coded resolution. In the workspace (int16, 16 a row), or in a frame store
// (bytes; two lines a row in a field picture).
template <class T>
struct SamplePlace {
    T* at[3];
    int stride[3];
};
using StorePlace = SamplePlace<uint8_t>;

// Adds the residual (the raw halves) of the coded blocks to the prediction already in the
// store at `place`, clipped to 0..255, each block where AssembleCoded would put it.
void AddResidual(const StorePlace& place, const BlockResult* blocks, int blockCount,
                 int chromaFormat, int dctType);
// Writes the display halves of all blocks into the store at `place` (what AssembleCoded makes
// without a prediction): the samples of an intra macroblock, or the residual as shown.
void StoreDisplayHalves(const StorePlace& place, const BlockResult* blocks, int blockCount,
                        int chromaFormat, int dctType);

// Up-samples the coded chroma of a macroblock to 16x16 for display (luma is not touched):
// 4:2:0 and 4:2:2 by the fixed interpolation rule, 4:4:4 as it is.
void UpsampleChroma(MacroblockSamples& display, const MacroblockSamples& coded, int chromaFormat);

// AssembleCoded, then the whole macroblock at display resolution.
void AssembleMacroblock(MacroblockSamples& out, const BlockResult* blocks, int blockCount,
                        int chromaFormat, int dctType, const MacroblockSamples* prediction,
                        bool raw, const SaturationTable& sat);

// Writes the low bytes of a cols x rows array (row stride 16) into a plane at (x, y): a frame
// picture writes `rows` lines, a field picture every second line of its field. Parts outside
// the plane are skipped.
void StoreComponent(uint8_t* plane, int32_t width, int32_t height, int pictureStructure, int x,
                    int y, const int16_t* samples, int cols = 16, int rows = 16);

}  // namespace bitloupe
