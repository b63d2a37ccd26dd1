// Reconstruction of one macroblock from its decoded pieces: motion-compensated prediction out
// of the frame stores, the assembly of the 8x8 block results into three 16x16 arrays with the
// chroma up-sampling to the luma grid, and storing the result in a frame store.
//
// Every component lives at full luma resolution: chroma blocks are up-sampled right after the
// inverse DCT, the frame stores hold three full-size planes, and chroma is predicted with the
// luma vector on those planes.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>

#include "engine/TreeStore.h"
#include "macroblock/MacroblockRecord.h"

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

// Three 16x16 arrays (Y, Cb, Cr), row-major, 16 samples a row: the prediction buffer and the
// macroblock workspace.
struct MacroblockSamples {
    int16_t c[3][256];
};

// Clipping to 0..255. Written as a comparison rather than a table look-up: the same values
// for every input, and loops over whole macroblocks vectorise.
struct SaturationTable {
    int16_t operator()(int v) const { return static_cast<int16_t>(v < 0 ? 0 : v > 255 ? 255 : v); }
};

// One slot of the frame stores: three full-size planes of width x height bytes.
// Planes come from calloc: zero from the start without touching the pages, so a big picture
// size costs memory only as pictures are decoded into it.
struct FreePlane {
    void operator()(uint8_t* p) const { std::free(p); }
};
using Plane = std::unique_ptr<uint8_t[], FreePlane>;
struct FrameSlot {
    Plane plane[3];
};

// The part of a field entry the decoder keeps: which picture filled it, and whether it is
// complete (may serve as a reference).
struct FieldEntry {
    TreeItem item = 0;
    bool complete = false;
};

struct FrameStores {
    int32_t width = 0;   // 16 x macroblock-width
    int32_t height = 0;  // 16 x macroblock-height
    FrameSlot slots[3];
    int8_t currentReferenceSlot = -1;
    int8_t currentSlot = -1;  // the slot being written; -1 before the first decode
    FieldEntry entries[4];
    uint8_t currentEntry = 0;
    bool Allocated() const { return slots[0].plane[0] != nullptr; }
    uint8_t* Plane(int slot, int component) const {
        return slot >= 0 && slot < 3 ? slots[slot].plane[component].get() : nullptr;
    }
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

// Predicts `rows` rows of 16 samples at (x, y) (field lines for a field source) displaced by
// the vector (mx, my) in half samples, into dst with the given row stride, or averages the
// prediction into what dst holds. A displaced block that would leave the plane is taken at the
// block's own position (per axis), keeping the half-sample flags; half-sample neighbours past
// the last column or line repeat the last one. Nothing is read outside the plane, whatever the
// vector; a block position outside the plane predicts nothing and returns false.
bool PredictComponent(int16_t* dst, int dstStride, const PredictionSource& src, int x, int y,
                      int mx, int my, int rows, bool average);

// Places block results into the workspace and adds the prediction. `raw` is the raw-display
// flag after the prediction step: true shows the display halves (no prediction added), false
// adds the prediction to the raw halves. chromaFormat 1, 2, 3; dctType 1 for field DCT.
void AssembleMacroblock(MacroblockSamples& out, const BlockResult* blocks, int blockCount,
                        int chromaFormat, int dctType, const MacroblockSamples* prediction,
                        bool raw, const SaturationTable& sat);

// Writes the low bytes of a 16x16 array into a plane at (x, y): a frame picture writes 16
// lines, a field picture every second line of its field. Parts outside the plane are skipped.
void StoreComponent(uint8_t* plane, int32_t width, int32_t height, int pictureStructure, int x,
                    int y, const int16_t* samples);

}  // namespace bitloupe
