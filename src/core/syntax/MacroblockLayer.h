// The slice data of the tree parse: macroblocks with their modes, motion vectors and coded
// block patterns, and the blocks with their coefficients and matrices. Parsed on demand, one
// slice at a time, after the picture and slice state were restored from their records.
#pragma once

#include <cstdint>

#include "core/syntax/MacroblockRecord.h"
#include "core/tree/TreeStore.h"

namespace bitloupe {

class ParseContext;
class VideoHeaders;
struct BlockState;
struct PictureJob;

// Picture-level values the macroblock arithmetic needs, gathered once per picture.
struct MotionVectorFormat {
    int pictureStructure = 3;
    bool topFieldFirst = false;
};

class MacroblockLayer {
  public:
    MacroblockLayer(ParseContext& parser, VideoHeaders& video) : p_(parser), video_(video) {}

    // The on-demand commands "Parse MBs in Slice" (given the slice's placeholder item) and
    // "Parse MBs in Picture": restore the picture and slice state from their records, report
    // a missing record by message, parse with tree items. False when nothing was parsed or a
    // slice ended in an error.
    bool ParseMacroblocksOfSlice(TreeItem placeholderItem);
    bool ParseMacroblocksOfPicture(TreeItem pictureItem);
    // Restores the picture header, coding extension and quantiser matrices of a picture from
    // its records, and the parameters of its sequence; with report set a missing record is
    // named in a message box.
    bool RestorePictureState(TreeItem pictureItem, bool report);
    // The same from a job gathered before: the context takes the picture's header, extensions,
    // matrices and sequence parameters (MPEG-1 pictures the fixed defaults of the extension).
    void ApplyPictureJob(const PictureJob& job);
    // The item the last on-demand parse wants shown (0 for none).
    TreeItem itemToRedisplay = 0;

    // Parses the macroblocks of a slice whose placeholder item is given; the picture and slice
    // state must have been restored. False when the slice ended in an error.
    bool ParseSliceMacroblocks(TreeItem sliceItem, TreeItem placeholderItem);
    // One macroblock and the skipped ones before it, with items (the syntax is ReadMacroblock,
    // shared with the decoder's silent reader); previousAddress is read and updated.
    bool ParseMacroblock(int& previousAddress, TreeItem sliceItem);

    // Block layer.
    bool ParseBlock(int i, MacroblockRecord& record, TreeItem macroblockItem);
    bool ParseCodedBlock(int i, MacroblockRecord& record, TreeItem blockItem, bool mpeg2);
    bool ParseIntraDc(int component, BlockState& block, TreeItem parent);
    void ShowSkippedBlock(int i, TreeItem blockItem);

    static int DecodeMotionVector(int predictor, int rSize, int motionCode, int residual,
                                  bool fullPel, bool halve);
    // The two derived vectors of dual prime (the second is unused for field pictures).
    static void DualPrimeArithmetic(const int vector[2], const int dmvector[2],
                                    const MotionVectorFormat& format, int out[2][2]);
    // Top-left pixel of block i of the macroblock at (row, column).
    static void BlockPosition(int row, int column, int block, int chromaFormat, int* x, int* y);
    static int ComponentOf(int block) { return block < 4 ? 0 : (block % 2 == 0 ? 1 : 2); }
    static int QuantiserScale(int code, bool mpeg2, bool nonLinear);
    // macroblock_type and the flags it stands for.
    static void SetTypeFlags(MacroblockRecord& rec, int flags);
    // The spatial_temporal_weight_class from the type flags and the weight code read.
    static void SetWeightClass(MacroblockRecord& rec, int tableIndex);
    // Vector count, vector format, dual prime and the vertical scaling of a motion type.
    static void SetMotionVectorFormat(MacroblockRecord& rec, int motionType, bool fieldPicture);

  private:
    bool ParseSliceWithRecords(TreeItem sliceItem, TreeItem placeholderItem);

    ParseContext& p_;
    VideoHeaders& video_;
};

}  // namespace bitloupe
