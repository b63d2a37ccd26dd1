#include "core/syntax/MacroblockLayer.h"

#include <cstdio>
#include <cstring>

#include "core/base/Messages.h"
#include "core/syntax/BlockSyntax.h"
#include "core/syntax/Dequantise.h"
#include "core/syntax/Idct.h"
#include "core/syntax/MacroblockSyntax.h"
#include "core/syntax/ParseContext.h"
#include "core/syntax/PictureJob.h"
#include "core/syntax/VideoHeaders.h"
#include "core/syntax/VideoTables.h"
#include "core/syntax/VlcTables.h"

namespace bitloupe {

namespace {

using namespace video_tables;  // picture types and structures

const char* const kComponentNames[3] = {"Y", "Cb", "Cr"};
// The titles of a block's pel matrix, by component: whole texts, kept by reference.
const char* const kPelTitles[3] = {"Pel values: pel_Y[u][v] (8x8 matrix, after IDCT transform)",
                                   "Pel values: pel_Cb[u][v] (8x8 matrix, after IDCT transform)",
                                   "Pel values: pel_Cr[u][v] (8x8 matrix, after IDCT transform)"};
const char* const kSkippedPelTitles[3] = {"Pel values: pel_Y[u][v] (8x8 matrix)",
                                          "Pel values: pel_Cb[u][v] (8x8 matrix)",
                                          "Pel values: pel_Cr[u][v] (8x8 matrix)"};
// The data codes of a coded and of a skipped block, by component.
constexpr uint32_t kCodedBlockData[3] = {kind::kBlockY, kind::kBlockCb, kind::kBlockCr};
constexpr uint32_t kSkippedBlockData[3] = {kind::kSkippedBlockY, kind::kSkippedBlockCb,
                                           kind::kSkippedBlockCr};

// Non-linear quantiser_scale of MPEG-2 (q_scale_type 1), by quantiser_scale_code.
constexpr uint8_t kNonLinearQuantiserScale[32] = {0,  1,  2,  3,  4,  5,  6,  7,  8,   10, 12,
                                                  14, 16, 18, 20, 22, 24, 28, 32, 36,  40, 44,
                                                  48, 52, 56, 64, 72, 80, 88, 96, 104, 112};

// Spatial-temporal weight type by table index (1..3) and spatial_temporal_weight_code.
constexpr uint8_t kWeightTypes[3][4] = {{6, 3, 7, 4}, {2, 1, 5, 4}, {2, 5, 7, 4}};
constexpr uint8_t kWeightClasses[9] = {0, 1, 2, 1, 1, 2, 3, 3, 4};

bool IsFieldPicture(int structure) {
    return structure == kTopField || structure == kBottomField;
}

}  // namespace

void MacroblockLayer::SetTypeFlags(MacroblockRecord& rec, int flags) {
    rec.macroblock_type = static_cast<uint8_t>(flags);
    rec.macroblock_quant = (flags & kMacroblockQuant) != 0;
    rec.macroblock_motion_forward = (flags & kMacroblockMotionForward) != 0;
    rec.macroblock_motion_backward = (flags & kMacroblockMotionBackward) != 0;
    rec.macroblock_pattern = (flags & kMacroblockPattern) != 0;
    rec.macroblock_intra = (flags & kMacroblockIntra) != 0;
    rec.spatial_temporal_weight_code_flag = (flags & kSpatialTemporalWeightCodeFlag) != 0;
    rec.permitted_spatial_temporal_weight_class = (flags & kMacroblockCompatible) != 0;
}

void MacroblockLayer::SetWeightClass(MacroblockRecord& rec, int tableIndex) {
    int weightType;
    if (!rec.spatial_temporal_weight_code_flag)
        weightType = rec.permitted_spatial_temporal_weight_class ? 8 : 0;
    else if (tableIndex != 0)
        weightType = kWeightTypes[tableIndex - 1][rec.spatial_temporal_weight_code & 3];
    else
        weightType = 4;
    rec.spatial_temporal_weight_class = kWeightClasses[weightType];
}

void MacroblockLayer::SetMotionVectorFormat(MacroblockRecord& rec, int motionType,
                                            bool fieldPicture) {
    rec.motionType = static_cast<uint8_t>(motionType);
    if (fieldPicture) {
        rec.motionVectorFormat = 1;
        rec.motionVectorCount = motionType == 2 ? 2 : 1;
    } else {
        rec.motionVectorCount = motionType == 1 && rec.spatial_temporal_weight_class < 2 ? 2 : 1;
        rec.motionVectorFormat = motionType == 2 ? 0 : 1;
    }
    rec.dmv = motionType == 3;
    rec.mvscale = rec.motionVectorFormat == 1 && !fieldPicture;
}

int MacroblockLayer::QuantiserScale(int code, bool mpeg2, bool nonLinear) {
    code &= 31;
    if (!mpeg2) return code;
    return nonLinear ? kNonLinearQuantiserScale[code] : code * 2;
}

int MacroblockLayer::DecodeMotionVector(int predictor, int rSize, int motionCode, int residual,
                                        bool fullPel, bool halve) {
    // A broken f_code (0) would shift by a negative count; treat it as the smallest range.
    if (rSize < 0) rSize = 0;
    if (rSize > 14) rSize = 14;
    int v = predictor;
    if (fullPel) v >>= 1;
    if (halve) v >>= 1;
    const int lim = 16 << rSize;
    if (motionCode > 0) {
        v += ((motionCode - 1) << rSize) + residual + 1;
        if (v >= lim) v -= 2 * lim;
    } else if (motionCode < 0) {
        v -= ((-motionCode - 1) << rSize) + residual + 1;
        if (v < -lim) v += 2 * lim;
    }
    if (halve) v *= 2;
    if (fullPel) v *= 2;
    return v;
}

void MacroblockLayer::DualPrimeArithmetic(const int vector[2], const int dmvector[2],
                                          const MotionVectorFormat& format, int out[2][2]) {
    auto h = [](int m) { return (m + (m > 0)) >> 1; };
    auto t = [](int m) { return (3 * m + (m > 0)) >> 1; };
    const int mvx = vector[0], mvy = vector[1], dx = dmvector[0], dy = dmvector[1];
    if (format.pictureStructure == kFramePicture) {
        if (format.topFieldFirst) {
            out[0][0] = h(mvx) + dx;
            out[0][1] = h(mvy) + dy - 1;
            out[1][0] = t(mvx) + dx;
            out[1][1] = t(mvy) + dy + 1;
        } else {
            out[0][0] = t(mvx) + dx;
            out[0][1] = t(mvy) + dy - 1;
            out[1][0] = h(mvx) + dx;
            out[1][1] = h(mvy) + dy + 1;
        }
    } else {
        out[0][0] = h(mvx) + dx;
        out[0][1] = h(mvy) + dy + (format.pictureStructure == kTopField ? -1 : 1);
        out[1][0] = out[0][0];
        out[1][1] = out[0][1];
    }
}

void MacroblockLayer::BlockPosition(int row, int column, int block, int chromaFormat, int* x,
                                    int* y) {
    static constexpr int8_t kOffsets[12][2] = {{0, 0}, {8, 0}, {0, 8}, {8, 8}, {0, 0}, {0, 0},
                                               {0, 8}, {0, 8}, {8, 0}, {8, 0}, {8, 8}, {8, 8}};
    const int limit = chromaFormat == 3 ? 12 : chromaFormat == 2 ? 8 : 6;
    if (block < 0 || block >= limit) block = 0;
    *x = column * 16 + kOffsets[block][0];
    *y = row * 16 + kOffsets[block][1];
}

bool MacroblockLayer::RestorePictureState(TreeItem pictureItem, bool report) {
    PictureJob job;
    if (const char* lost = GatherPictureJob(p_.stream, pictureItem, job)) {
        if (report) p_.host.MessageBox(lost, msg::kErrorCaption, MsgIcon::None, MsgButtons::Ok);
        return false;
    }
    ApplyPictureJob(job);
    return true;
}

void MacroblockLayer::ApplyPictureJob(const PictureJob& job) {
    CStreamState& st = p_.stream;
    VideoState& v = p_.v;
    v.picture = job.header;
    // The sizes, chroma format and colour conversion of the picture's own sequence.
    if (job.hasSequence && !(job.sequence == static_cast<const SequenceParameters&>(st))) {
        static_cast<SequenceParameters&>(st) = job.sequence;
        video_.UpdateGreyColour();
    }
    if (job.hasQuant) v.quant = job.quant;
    if (job.hasCoding) {
        v.coding = job.coding;
        if (job.hasDisplay) v.display = job.display;
    } else {
        video_.SetMpeg1PictureDefaults();
    }
}

bool MacroblockLayer::ParseSliceWithRecords(TreeItem sliceItem, TreeItem placeholderItem) {
    const auto slice = p_.stream.sliceRecords.find(sliceItem);
    if (slice == p_.stream.sliceRecords.end()) {
        p_.host.MessageBox(msg::kSliceHeaderLost, msg::kErrorCaption, MsgIcon::None,
                           MsgButtons::Ok);
        return false;
    }
    p_.v.slice = slice->second.header;
    return ParseSliceMacroblocks(sliceItem, placeholderItem);
}

bool MacroblockLayer::ParseMacroblocksOfSlice(TreeItem placeholderItem) {
    TreeStore& tree = p_.tree;
    itemToRedisplay = 0;
    if (!placeholderItem || !tree.IsValid(placeholderItem) ||
        tree.GetItemData(placeholderItem) != kind::kSlicePlaceholder) {
        p_.host.MessageBox(msg::kSelectedItemNotValid, msg::kErrorCaption, MsgIcon::None,
                           MsgButtons::Ok);
        return false;
    }
    const TreeItem sliceItem = tree.GetParentItem(placeholderItem);
    if (!RestorePictureState(tree.GetParentItem(sliceItem), true)) return false;
    p_.v.firstMacroblockItem = 0;
    const bool ok = ParseSliceWithRecords(sliceItem, placeholderItem);
    if (p_.v.firstMacroblockItem) {
        itemToRedisplay = p_.v.firstMacroblockItem;
        tree.SelectItem(itemToRedisplay);
        p_.poster.PostCommand(msg::kCommandRedisplay);
    }
    return ok;
}

bool MacroblockLayer::ParseMacroblocksOfPicture(TreeItem pictureItem) {
    TreeStore& tree = p_.tree;
    itemToRedisplay = 0;
    if (!pictureItem || KindOf(tree.GetItemData(pictureItem)) != ItemKind::Picture) {
        p_.host.MessageBox(msg::kSelectedItemNotValid, msg::kErrorCaption, MsgIcon::None,
                           MsgButtons::Ok);
        return false;
    }
    if (!RestorePictureState(pictureItem, true)) return false;
    p_.v.firstMacroblockItem = 0;
    bool ok = true;
    TreeItem last = 0;
    for (TreeItem slice = tree.GetChildItem(pictureItem); slice;
         slice = tree.GetNextSiblingItem(slice)) {
        if (tree.GetItemData(slice) != kind::kSlice) continue;
        if (p_.ShouldStopOnDemand()) break;
        TreeItem placeholder = 0;
        for (TreeItem c = tree.GetChildItem(slice); c; c = tree.GetNextSiblingItem(c))
            if (tree.GetItemData(c) == kind::kSlicePlaceholder) placeholder = c;
        if (!placeholder) continue;
        if (!ParseSliceWithRecords(slice, placeholder)) ok = false;
        tree.Expand(slice);
        last = slice;
    }
    for (TreeItem slice = tree.GetChildItem(pictureItem); slice;
         slice = tree.GetNextSiblingItem(slice))
        if (tree.GetItemData(slice) == kind::kSlice) tree.Collapse(slice);
    if (last) {
        tree.Expand(last);
        tree.EnsureVisible(last);
    }
    if (p_.v.firstMacroblockItem) {
        itemToRedisplay = p_.v.firstMacroblockItem;
        tree.SelectItem(itemToRedisplay);
        p_.poster.PostCommand(msg::kCommandRedisplay);
    }
    return ok && last != 0;
}

bool MacroblockLayer::ParseSliceMacroblocks(TreeItem sliceItem, TreeItem placeholderItem) {
    CStreamState& st = p_.stream;
    MacroblockState& mb = p_.v.mb;
    const auto found = st.videoPositions.find(placeholderItem);
    if (found == st.videoPositions.end()) {
        p_.host.MessageBox(msg::kPositioningLost, msg::kErrorCaption, MsgIcon::Error,
                           MsgButtons::Ok);
        return false;
    }
    const ItemPosition pos = found->second;
    if (p_.UsesPayload()) p_.silentSystemLayer = true;
    p_.SeekTo(pos.offset, pos.bitOffset, pos.packetRemaining, !p_.UsesPayload());
    st.videoPositions.erase(placeholderItem);  // by key: the reads above may have moved entries
    p_.tree.DeleteItemLater(placeholderItem);

    mb.currentQuantiserScaleCode = p_.v.slice.quantiser_scale_code;
    int previousAddress =
        (static_cast<int>(p_.v.slice.slice_vertical_position) - 1) * st.mbWidth - 1;
    mb.macroblockError = false;
    mb.mbsParsedInSlice = 0;
    std::memset(mb.dcPredictor, 0, sizeof mb.dcPredictor);
    std::memset(mb.PMV, 0, sizeof mb.PMV);

    bool ok = ParseMacroblock(previousAddress, sliceItem);
    while (ok) {
        ++mb.mbsParsedInSlice;
        if (p_.PeekBits(23) == 0) break;  // a start code follows
        if (p_.ShouldStopOnDemand()) break;
        ok = ParseMacroblock(previousAddress, sliceItem);
    }
    if (!ok) {
        p_.host.Beep();
        p_.tree.SetItemImage(sliceItem, image::kSliceError);
    }
    return ok;
}

namespace {

// The tree parse's side of the macroblock syntax: an item for every field, the macroblock and
// skipped-macroblock items with their records, the blocks with their items.
struct TreeSink {
    ParseContext& p;
    MacroblockLayer& layer;
    TreeItem sliceItem;
    Emitters& emit;
    ItemPosition start;
    TreeItem mbItem = 0;
    TreeItem header = 0;

    void Begin() { p.GetPosition(start, false); }
    void Skipped(const MacroblockRecord& skipped) {
        char text[96];
        std::snprintf(text, sizeof text, "Skipped Macroblock (MB) (x=%d, y=%d)",
                      skipped.column * 16, skipped.row * 16);
        const TreeItem item =
            p.tree.InsertItem(text, image::kSkippedMacroblock, kind::kSkippedMacroblock, sliceItem);
        if (item) p.stream.macroblockRecords[item] = skipped;
    }
    TreeItem Header(const MacroblockRecord&) {
        mbItem =
            p.tree.InsertItem("Macroblock (MB)", image::kMacroblock, kind::kMacroblock, sliceItem);
        emit.AddFileOffset("file_offset", start, mbItem, 1);
        if (!p.v.firstMacroblockItem) p.v.firstMacroblockItem = mbItem;
        header = p.tree.InsertItem("Macroblock Header", image::kMacroblockHeader,
                                   kind::kMacroblockHeader, mbItem);
        return header;
    }
    void Located(const MacroblockRecord& rec) {
        char text[96];
        std::snprintf(text, sizeof text, "Coded Macroblock (MB) (x=%d, y=%d)", rec.column * 16,
                      rec.row * 16);
        p.tree.SetItemText(mbItem, text);
    }
    void HeaderFailed() {
        p.tree.SetItemImage(mbItem, 29);
        p.tree.SetItemImage(header, 30);
    }
    void Motion(const MacroblockRecord&) {}
    bool Blocks(MacroblockRecord& rec) {
        p.emit.RecordPosition(mbItem, 0, false);
        const int blockCount = p.stream.blockCount > 12 ? 12 : p.stream.blockCount;
        for (int i = 0; i < blockCount; ++i)
            if (!layer.ParseBlock(i, rec, mbItem)) return false;
        return true;
    }
    void BlocksFailed(const MacroblockRecord& rec) {
        p.tree.SetItemImage(mbItem, 29);
        p.stream.macroblockRecords[mbItem] = rec;
    }
    void EndOfMacroblock(uint32_t bit) {
        if (bit)
            emit.AddItem("end_of_macroblock=1 (1 bit)", mbItem);
        else
            emit.AddItem("end_of_macroblock=0 (1 bit, must be 1!)", mbItem, image::kError);
    }
    void Done(const MacroblockRecord& rec) { p.stream.macroblockRecords[mbItem] = rec; }
};

}  // namespace

bool MacroblockLayer::ParseMacroblock(int& previousAddress, TreeItem sliceItem) {
    TreeSink sink{p_, *this, sliceItem, p_.emit, {}};
    p_.v.mb.failure = nullptr;
    if (ReadMacroblock(p_, sink, previousAddress)) return true;
    // The item where the macroblocks stopped says why: the failed block, else the macroblock
    // header, else (the macroblock never got an item) the slice.
    TreeStore& tree = p_.tree;
    TreeItem at = sliceItem;
    if (sink.mbItem) {
        at = sink.header;
        const TreeItem last = tree.GetLastChildItem(sink.mbItem);
        if (last && tree.GetItemData(last) == kind::kBlockError) at = last;
    }
    char text[160];
    // Past the end of the data every code reads as zeros: say that, not what the zeros break.
    const char* why = p_.AtEnd()        ? "the data ends inside the macroblock"
                      : p_.v.mb.failure ? p_.v.mb.failure
                                        : "the data breaks the syntax here";
    std::snprintf(text, sizeof text, "Macroblock parsing stopped: %s", why);
    p_.emit.AddItem(text, at, image::kError);
    return false;
}

void MakeSkippedMacroblock(const CStreamState& st, VideoState& v, MacroblockRecord& rec,
                           int address) {
    MacroblockState& mb = v.mb;
    rec = MacroblockRecord();
    rec.macroblock_address = static_cast<uint32_t>(address);
    if (st.mbWidth > 0) {
        rec.row = static_cast<uint16_t>(address / st.mbWidth);
        rec.column = static_cast<uint16_t>(address % st.mbWidth);
    }
    const int structure = v.coding.picture_structure;
    const bool field = IsFieldPicture(structure);
    rec.motionType = field ? 1 : 2;
    rec.motionVectorFormat = field ? 1 : 0;
    rec.motionVectorCount = 1;
    const uint8_t select = structure == kBottomField ? 1 : 0;
    rec.motion_vertical_field_select[0][0] = rec.motion_vertical_field_select[0][1] = select;
    if (v.picture.picture_coding_type == kPictureP) {
        mb.PMV[0][0][0] = mb.PMV[0][0][1] = mb.PMV[1][0][0] = mb.PMV[1][0][1] = 0;
    }
    rec.macroblock_motion_forward = mb.previousMotionForward;
    rec.macroblock_motion_backward = mb.previousMotionBackward;
    rec.macroblock_type =
        static_cast<uint8_t>((rec.macroblock_motion_forward ? kMacroblockMotionForward : 0) |
                             (rec.macroblock_motion_backward ? kMacroblockMotionBackward : 0));
    rec.quantiser_scale_code = mb.currentQuantiserScaleCode;
    std::memcpy(rec.vector, mb.PMV, sizeof rec.vector);
}

void ResetMotionPredictors(VideoState& v, const MacroblockRecord& rec) {
    MacroblockState& mb = v.mb;
    if (rec.macroblock_intra && !v.coding.concealment_motion_vectors)
        std::memset(mb.PMV, 0, sizeof mb.PMV);
    if (v.picture.picture_coding_type == kPictureP && !rec.macroblock_intra &&
        !rec.macroblock_motion_forward) {
        mb.PMV[0][0][0] = mb.PMV[0][0][1] = mb.PMV[1][0][0] = mb.PMV[1][0][1] = 0;
    }
    if (rec.spatial_temporal_weight_class == 4) std::memset(mb.PMV, 0, sizeof mb.PMV);
}

// ---------------------------------------------------------------------------------------------
// Blocks

bool MacroblockLayer::ParseBlock(int i, MacroblockRecord& rec, TreeItem macroblockItem) {
    CStreamState& st = p_.stream;
    VideoState& v = p_.v;
    const int c = ComponentOf(i);
    char text[64];
    if (rec.coded[i]) {
        std::snprintf(text, sizeof text, "#%d: Coded %s-Block", i + 1, kComponentNames[c]);
        const TreeItem item = p_.tree.InsertItem(text, 14 + c, kCodedBlockData[c], macroblockItem);
        if (!v.firstBlockItem) v.firstBlockItem = item;
        p_.emit.RecordPosition(item, 0, false);
        if (item) st.blockRecords[item] = v.mb.dcPredictor[c];
        if (!ParseCodedBlock(i, rec, item, st.videoVersion == kMpeg2)) {
            p_.tree.SetItemImage(item, 31 + c);
            p_.tree.SetItemData(item, kind::kBlockError);
            return false;
        }
        return true;
    }
    std::snprintf(text, sizeof text, "#%d: Skipped %s-Block", i + 1, kComponentNames[c]);
    const TreeItem item = p_.tree.InsertItem(text, 17 + c, kSkippedBlockData[c], macroblockItem);
    if (item) st.blockRecords[item] = v.mb.dcPredictor[c];
    ShowSkippedBlock(i, item);
    return true;
}

void MacroblockLayer::ShowSkippedBlock(int i, TreeItem blockItem) {
    static const uint8_t kZeros[64] = {};
    const TreeItem matrix =
        p_.emit.AddMatrix8(kSkippedPelTitles[ComponentOf(i)], kZeros, blockItem);
    p_.tree.SetItemData(matrix, kind::kPelMatrix);
}

bool MacroblockLayer::ParseIntraDc(int c, BlockState& block, TreeItem parent) {
    VideoState& v = p_.v;
    MacroblockState& mb = v.mb;
    const VlcResult size = c == 0 ? GetDctDcSizeLuminance(p_) : GetDctDcSizeChrominance(p_);
    if (!size.IsValid()) {
        mb.macroblockError = true;
        mb.failure = "no dct_dc_size has this code";
        return false;
    }
    p_.emit.AddVlc("dc_dct_size", size.value, size.code, size.length, parent);
    int diff = 0;
    if (size.value > 0) {
        const int s = size.value;
        const int raw = static_cast<int>(p_.ReadBits(s));
        p_.emit.AddField("dc_dct_differential", raw, s, parent);
        diff = (raw >> (s - 1)) & 1 ? raw : raw + 1 - (1 << s);
    }
    p_.emit.AddValue("dct_diff", diff, parent);
    const int predictor = mb.dcPredictor[c] + diff;
    mb.dcPredictor[c] = static_cast<int16_t>(predictor);
    const int precision = p_.stream.videoVersion == kMpeg2 ? (v.coding.intra_dc_precision & 3) : 0;
    int dc = mb.dcPredictor[c] * (1 << (3 - precision));
    if (dc < -2048) dc = -2048;
    if (dc > 2047) dc = 2047;
    block.F[0] = static_cast<int16_t>(dc);
    block.sum = dc;
    return true;
}

namespace {

// The tree's side of the coefficient syntax: each code an item under the block's RLE item, and
// the levels kept for the QF matrix.
struct TreeCoefficientSink {
    static constexpr bool kItems = true;
    static constexpr const char* kNoSuchCode =
        "no DCT coefficient has this code, or its run passes the block's 64 coefficients";
    Emitters& emit;
    TreeItem rle;
    BlockState& block;
    bool mpeg2;
    const char* failure = kNoSuchCode;  // why the coefficients would stop here
    void RunLevel(const DctResult& coef) {
        const uint32_t word = static_cast<uint32_t>(coef.run & 0xFF) |
                              (static_cast<uint32_t>(static_cast<uint16_t>(coef.level)) << 16);
        emit.AddRunLevel(word, coef.length, coef.code, rle);
    }
    void EndOfBlock(const DctResult& coef, bool valid) {
        if (!mpeg2 || coef.length == 2) {
            emit.AddItem("end_of_block (10B, VLC)", rle, image::kVlc);
        } else if (valid) {
            emit.AddItem("end_of_block (0110B, VLC)", rle, image::kVlc);
        } else {
            char bits[40], text[64];
            FormatBits(bits, coef.code, coef.length);
            std::snprintf(text, sizeof text, "end_of_block (%sB, VLC)", bits);
            emit.AddItem(text, rle, image::kVlc);
            failure = "this end_of_block code is not the one of the picture's coefficient table";
        }
    }
    TreeItem Escape() { return emit.AddItem("escape code (0000 01B, VLC)", rle, image::kVlc); }
    void EscapeRun(int run, TreeItem escape) {
        emit.AddField("run", run, 6, escape);
        failure = "the escape's run passes the block's 64 coefficients";
    }
    void EscapeLevel(int level, uint32_t raw, int bits, TreeItem escape) {
        emit.AddCodedField("level", level, raw, bits, escape);
        failure = kNoSuchCode;
    }
    void ForbiddenLevel(TreeItem escape) {
        emit.AddItem("level=forbidden (000000000000B, 12 bits)", escape, image::kError);
        failure = "an escape with the forbidden level 0";
    }
    void Level(int position, int level) {
        block.QF[position] = static_cast<int16_t>(level < -2048  ? -2048
                                                  : level > 2048 ? 2048
                                                                 : level);
    }
};

}  // namespace

bool MacroblockLayer::ParseCodedBlock(int i, MacroblockRecord& rec, TreeItem blockItem,
                                      bool mpeg2) {
    VideoState& v = p_.v;
    MacroblockState& mb = v.mb;
    Emitters& emit = p_.emit;
    const int c = ComponentOf(i);
    const bool intra = rec.macroblock_intra != 0;
    BlockState block;
    block.alternate_scan = mpeg2 ? (v.coding.alternate_scan & 1) : 0;
    const TreeItem rle =
        p_.tree.InsertItem("raw DCT data (RLE)", image::kPlain, kind::kRawDct, blockItem);

    if (intra) {
        if (!ParseIntraDc(c, block, rle)) return false;
        if (!mpeg2 && v.picture.picture_coding_type == kPictureD) return true;
    }
    TreeCoefficientSink sink{emit, rle, block, mpeg2};
    CoefficientTarget t{block.F,
                        block.sum,
                        kScanTables + (block.alternate_scan ? 64 : 0),
                        SelectQuantMatrix(v.quant, intra, c),
                        rec.quantiser_scale,
                        v.coding.intra_vlc_format != 0};
    if (!ReadCoefficientsOf(p_, t, sink, intra, mpeg2)) {
        mb.macroblockError = true;
        mb.failure = sink.failure;
        return false;
    }
    block.sum = t.sum;

    int16_t pel[64];
    std::memcpy(pel, block.F, sizeof pel);
    p_.idct.FastIdct(pel);
    const TreeItem qf = emit.AddMatrix16(
        mpeg2 ? "DCT coefficients: QF[u][v] (8x8 matrix, before quantization)"
              : "DCT coefficients: dct_recon[m][n] (8x8 matrix, before quantization)",
        block.QF, blockItem);
    p_.tree.SetItemData(qf, kind::kCoefficientMatrix);
    const TreeItem f = emit.AddMatrix16(
        mpeg2 ? "DCT coefficients: F[u][v] (8x8 matrix, after quantization)"
              : "DCT coefficients: dct_recon[m][n] (8x8 matrix, after quantization)",
        block.F, blockItem);
    p_.tree.SetItemData(f, kind::kCoefficientMatrix);
    if (intra)
        for (int16_t& x : pel) x = static_cast<int16_t>(x + 128);
    const TreeItem pelItem = emit.AddMatrix16(kPelTitles[c], pel, blockItem);
    p_.tree.SetItemData(pelItem, kind::kPelMatrix);
    return true;
}

}  // namespace bitloupe
