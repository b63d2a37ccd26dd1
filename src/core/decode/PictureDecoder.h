// Decoding for display. Pictures are decoded on demand, when the user selects an item: the
// decoder gathers the picture's job from the parse's records (its sequence's parameters, its
// header, extensions and matrices), re-reads the picture (or slice, macroblock, block) through
// a reader of its own with a silent second reading of the slice syntax that makes no tree
// items, reconstructs it against the frame stores and hands the result to the picture bitmap.
// It reads the parse's records and tree and writes nothing of the parse.
//
// References are whatever the stores hold: a P or B picture comes out right only when its
// reference pictures were decoded before it. The decoder never decodes references by itself;
// when they are missing it switches the display type to "Raw" and shows the residual.
#pragma once

#include <cstdint>
#include <vector>

#include "core/decode/JobReader.h"
#include "core/decode/Reconstruction.h"
#include "core/image/DctMask.h"
#include "core/image/PictureDib.h"
#include "core/syntax/MacroblockRecord.h"
#include "core/syntax/StreamState.h"
#include "core/tree/TreeStore.h"

namespace bitloupe {

struct BlockState;

// The "Picture Display Type" box, in its order.
namespace display_type {
inline constexpr uint8_t kAuto = 0;
inline constexpr uint8_t kRaw = 1;
inline constexpr uint8_t kDiff0 = 2;
inline constexpr uint8_t kDiff1 = 3;
inline constexpr uint8_t kNull = 4;
}  // namespace display_type

// The "Field Option" box, in its order.
namespace field_option {
inline constexpr uint8_t kFrame = 0;
inline constexpr uint8_t kTopField = 1;
inline constexpr uint8_t kBottomField = 2;
}  // namespace field_option

class PictureDecoder {
  public:
    // Decodes what the parse in `parse` has read: its records, its tree, its file.
    explicit PictureDecoder(ParseContext& parse)
        : parse_(parse), job_(parse.tree, parse.host, parse.poster), p_(job_.context) {}
    PictureDecoder(const PictureDecoder&) = delete;
    PictureDecoder& operator=(const PictureDecoder&) = delete;

    // --- frame stores ---
    // Creates the picture bitmap at the coded size of `sequence`, the motion overlay array and
    // the planes, all cleared; the stores start empty. False (with the out-of-memory flag set)
    // when the size is refused or memory is lacking.
    bool AllocatePictureBuffers(const SequenceParameters& sequence);
    // Frees the planes, empties the field entries and sets the out-of-memory flag to `lacking`.
    void FreePictureBuffers(bool lacking);
    // Set when the picture buffers could not be had.
    bool outOfMemory = false;
    // The parameters of the sequence of the picture decoded last (sizes, chroma format, colour
    // conversion), and the grey its missing lines are drawn in.
    const SequenceParameters& Sequence() const { return p_.stream; }
    uint32_t GreyRgb() const { return p_.stream.greyColourRgb; }

    // --- pictures ---
    // Decodes the picture into a frame store and shows it in the bitmap. firstDisplay is set
    // when the selection changed, clear when the shown picture is drawn again (display type,
    // field option). False when a record is missing or no slice precedes a sequence end.
    bool DecodePicture(TreeItem pictureItem, bool firstDisplay);
    // Decodes the picture into a frame store only, for the pictures that predict from it or
    // for reading its planes: the bitmap and the motion overlay are left as they are, so the
    // work is that of the coded macroblocks whatever size the picture has. The display type
    // may change as in DecodePicture; the next DecodePicture fills the bitmap first.
    bool DecodeIntoStores(TreeItem pictureItem);
    // The picture items of the video stream, in stream order.
    std::vector<TreeItem> PicturesInStreamOrder() const;
    // Decodes what picture k of `pictures` needs before it, in stream order: from the I picture
    // before the one that precedes k (a leading B picture of an open GOP predicts from the GOP
    // before), or from the first picture. References go into the stores only; the first field
    // of k's own frame is drawn too, as the second field is drawn over it. The indices of the
    // pictures that did not decode go to `failed` when given.
    void DecodeReferences(const std::vector<TreeItem>& pictures, size_t k,
                          std::vector<size_t>* failed = nullptr);
    // The slots (0..2, -1 none) holding the picture's forward and backward references; false
    // when the references it needs are not complete in the stores.
    bool LookUpReferences(TreeItem pictureItem, int& forward, int& backward) const;

    // --- units below a picture; each paints into the bitmap ---
    bool DecodeSlice(TreeItem sliceItem);
    bool DecodeMacroblock(TreeItem macroblockItem);
    bool DecodeSkippedMacroblock(TreeItem item);
    // Decodes a block item ("#n: ..." below a macroblock) into `out`.
    bool DecodeBlock(BlockResult& out, TreeItem blockItem);

    // --- display settings ---
    uint8_t displayType = display_type::kAuto;
    uint8_t fieldOption = field_option::kFrame;
    uint8_t colourMode = 0;
    bool liveDeInterlace = false;
    SelectiveDct selectiveDct;
    // The colour lines of a field not decoded yet show; kStreamGrey for the stream's grey.
    static constexpr uint32_t kStreamGrey = 0xFFFFFFFF;
    uint32_t fieldBackground = kStreamGrey;

    // --- what was decoded ---
    CPictureDib dib;
    FrameStores stores;
    std::vector<MotionOverlayRecord> overlay;  // macroblock-width x macroblock-height
    TreeItem currentPicture = 0;
    TreeItem focusItem = 0;
    int32_t lastTemporalReference = -1;
    // Planes of the slot the last decode wrote (null before any): full size as shown, and at
    // the coded resolution.
    const uint8_t* CurrentPlane(int component) const {
        return stores.DisplayPlane(stores.currentSlot, component);
    }
    const uint8_t* CurrentCodedPlane(int component) const {
        return stores.CodedPlane(stores.currentSlot, component);
    }

    // --- the silent reader, exposed for the tests ---
    // Decodes the macroblocks of a slice from the reader's position; the slice header state
    // must be restored. storeMode writes the frame store, else paints the bitmap.
    bool DecodeSliceMacroblocks(bool storeMode);

  private:
    bool RestorePictureState(TreeItem pictureItem);
    bool RestoreUnitPictureState(TreeItem pictureItem);
    void SeekToPosition(const ItemPosition& pos);
    void ChooseSlot(TreeItem pictureItem, int entry);
    int FindCompleteEntry(TreeItem item) const;
    void AdjustDisplayType(bool intraCheck, bool newFrameCheck);
    // Looks up the current picture's references once for the decode that follows: the stores
    // do not change while a picture or unit is decoded.
    void UpdateReferences();
    // The slot "Diff[0]" or "Diff[1]" subtracts for the current picture, or -1 for none.
    int DifferenceReference() const;
    int BlockCount() const;
    void ClearOverlay();
    void FinishPicture();
    void ResetSliceState();
    void DecodeSliceHeaderAndMacroblocks(uint32_t code);
    // One macroblock of the silent reader (the syntax is ReadMacroblock, shared with the tree
    // parse) and the skipped ones before it.
    struct SilentSink;
    bool DecodeSilentMacroblock(int& previousAddress, bool storeMode, bool keepFocus);
    // One coded block. The display half of a non-intra block is filled only with fillDisplay;
    // the reconstruction fills it when it shows the residual (FillDisplayHalves).
    bool DecodeBlockData(int i, const MacroblockRecord& rec, BlockResult& out,
                         bool fillDisplay = false);
    static void FillDisplayHalf(BlockResult& b);
    void FillDisplayHalves(int count);
    // Every block of the macroblock into blocks_: decoded, or marked not coded.
    bool DecodeBlocks(const MacroblockRecord& rec);
    // The macroblock's prediction into the workspace or straight into the store; false when
    // none could be formed (nothing was written then).
    // The current picture into the bitmap, only the given lines (CPictureDib::kAllLines...).
    void ConvertToBitmap(uint8_t lines);
    template <class T>
    bool FormPrediction(const SamplePlace<T>& dst, const MacroblockRecord& rec);
    bool FormPrediction(MacroblockSamples& pred, const MacroblockRecord& rec);
    // Its two cases: a frame picture's and a field picture's motion types.
    template <class T>
    bool FormFramePrediction(const SamplePlace<T>& dst, const MacroblockRecord& rec);
    template <class T>
    bool FormFieldPrediction(const SamplePlace<T>& dst, const MacroblockRecord& rec);
    // One prediction of every component at macroblock column x: luma `rows` rows at field or
    // frame line py from row firstRow of the buffer on, every rowStep-th row; chroma the same at
    // its coded resolution with the chroma vector. Interleaved field rows stay interleaved in
    // chroma.
    struct PredictionStep {
        int slot;
        bool field, bottom;
        int firstRow, rowStep, py, mx, my, rows;
        bool average;
    };
    template <class T>
    [[gnu::always_inline]] inline bool Predict(const SamplePlace<T>& dst, int x,
                                               const PredictionStep& s);
    // The macroblock's place in the slot being written, false when it is not wholly inside.
    bool StorePlaceOf(const MacroblockRecord& rec, StorePlace& place) const;
    // Store mode with a prediction: formed in the store, the residual added there. False when
    // no prediction could be formed, or the macroblock is not wholly inside the store (nothing
    // was written then).
    bool PredictIntoStore(const MacroblockRecord& rec, const BlockResult* blocks);
    // The macroblock from blocks_ and its prediction, stored or painted.
    void ReconstructAndOutput(const MacroblockRecord& rec, bool storeMode, bool keepFocus);
    void ApplyDifference(MacroblockSamples& ws, const MacroblockRecord& rec) const;
    void OutputSkipped(const MacroblockRecord& rec, bool storeMode, bool keepFocus);
    void PaintSamples(const MacroblockSamples& ws, const MacroblockRecord& rec, bool keepFocus);
    // Up-samples the chroma of a macroblock reconstructed at the coded resolution and stores
    // or paints it.
    void Output(const MacroblockSamples& coded, const MacroblockRecord& rec, bool storeMode,
                bool keepFocus);
    void StoreMacroblock(const MacroblockSamples& coded, const MacroblockRecord& rec);
    void Paint(ColourMacroblock& cm, const MacroblockRecord& rec, bool keepFocus);
    void WriteOverlay(const MacroblockRecord& rec);
    void BlockPlacement(int i, const MacroblockRecord& rec, BlockResult& out) const;
    ColourFactors Factors() const;
    uint32_t BackgroundColour() const;
    bool IsFieldPicture() const;

    // The inverse DCT of a block whose only coefficient is dc (-2048..2047), remembered.
    int16_t FlatIdct(int16_t dc);

    ParseContext& parse_;  // the parse: records, tree and file, read only
    JobReader job_;        // the decoder's own reader and picture state
    ParseContext& p_;      // job_'s context
    SaturationTable sat_;
    struct References {
        bool ok = false;
        int forward = -1;
        int backward = -1;
    } refs_;
    int16_t flatValue_[4096] = {};
    bool flatKnown_[4096] = {};
    bool drawing_ = true;        // clear while DecodeIntoStores runs
    bool bitmapBehind_ = false;  // pictures were decoded since the bitmap was drawn
    TreeItem rememberedParent_ = 0;
    BlockResult blocks_[12];
};

}  // namespace bitloupe
