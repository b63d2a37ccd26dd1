#include "macroblock/MacroblockLayer.h"

#include <cstdio>
#include <cstring>

#include "engine/Messages.h"
#include "engine/SyntaxParser.h"
#include "macroblock/Dequantise.h"
#include "macroblock/Idct.h"
#include "macroblock/VlcTables.h"
#include "video/VideoTables.h"

namespace bitloupe {

namespace {

using namespace video_tables;  // picture types and structures

const char* const kComponentNames[3] = {"Y", "Cb", "Cr"};
const char* const kFrameMotionTypeNames[4] = {"reserved", "Field-based", "Frame-based",
                                              "Dual-Prime"};
const char* const kFieldMotionTypeNames[4] = {"reserved", "Field-based", "16x8 MC",
                                              "Dual-Prime"};

// Non-linear quantiser_scale of MPEG-2 (q_scale_type 1), by quantiser_scale_code.
constexpr uint8_t kNonLinearQuantiserScale[32] = {0,  1,  2,  3,  4,  5,  6,  7,  8,  10, 12,
                                                  14, 16, 18, 20, 22, 24, 28, 32, 36, 40, 44,
                                                  48, 52, 56, 64, 72, 80, 88, 96, 104, 112};

// Spatial-temporal weight type by table index (1..3) and spatial_temporal_weight_code.
constexpr uint8_t kWeightTypes[3][4] = {{6, 3, 7, 4}, {2, 1, 5, 4}, {2, 5, 7, 4}};
constexpr uint8_t kWeightClasses[9] = {0, 1, 2, 1, 1, 2, 3, 3, 4};

bool IsFieldPicture(int structure) { return structure == kTopField || structure == kBottomField; }

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
    CStreamState& st = p_.stream;
    VideoState& v = p_.v;
    auto lost = [&](const char* text) {
        if (report) p_.host.MessageBox(text, msg::kErrorCaption, MsgIcon::None, MsgButtons::Ok);
        return false;
    };
    const auto picture = st.pictureRecords.find(pictureItem);
    if (picture == st.pictureRecords.end()) return lost(msg::kPictureHeaderLost);
    v.picture = picture->second;
    // The sizes, chroma format and colour conversion of the picture's own sequence.
    const uint32_t sequence = v.picture.sequence;
    if (sequence >= 1 && sequence <= st.sequenceRecords.size()) {
        const SequenceParameters& own = st.sequenceRecords[sequence - 1];
        if (!(own == static_cast<const SequenceParameters&>(st))) {
            static_cast<SequenceParameters&>(st) = own;
            p_.video.UpdateGreyColour();
        }
    }
    const auto quant = st.quantMatrixRecords.find(pictureItem);
    if (st.mpegVersion == kMpeg2) {
        const auto coding = st.pictureCodingRecords.find(pictureItem);
        if (coding == st.pictureCodingRecords.end()) return lost(msg::kPictureCodingExtensionLost);
        if (quant == st.quantMatrixRecords.end()) return lost(msg::kQuantMatrixExtensionLost);
        v.coding = coding->second;
        v.quant = quant->second;
        const auto display = st.pictureDisplayRecords.find(pictureItem);
        if (display != st.pictureDisplayRecords.end()) v.display = display->second;
    } else {
        if (quant != st.quantMatrixRecords.end()) v.quant = quant->second;
        p_.video.SetMpeg1PictureDefaults();
    }
    return true;
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
    if (!pictureItem || (tree.GetItemData(pictureItem) & 0xFFFF) != kind::kPicture) {
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
    p_.tree.DeleteItem(placeholderItem);

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
        ok = ParseMacroblock(previousAddress, sliceItem);
    }
    if (!ok) {
        p_.host.Beep();
        p_.tree.SetItemImage(sliceItem, image::kDecoded);
    }
    return ok;
}

bool MacroblockLayer::ParseMacroblock(int& previousAddress, TreeItem sliceItem) {
    CStreamState& st = p_.stream;
    VideoState& v = p_.v;
    MacroblockState& mb = v.mb;
    Emitters& emit = p_.emit;
    const bool mpeg2 = st.mpegVersion == kMpeg2;

    ItemPosition start;
    p_.GetPosition(start, false);

    MacroblockRecord rec;
    if (!mpeg2) {
        while (p_.PeekBits(11) == 0x0F && !p_.AtEnd()) {
            p_.ReadBits(11);
            ++rec.stuffingCount;
        }
    }
    while (p_.PeekBits(11) == 0x08) {
        p_.ReadBits(11);
        ++rec.escapeCount;
    }
    const VlcResult inc = GetMacroblockAddressIncrement(p_);
    if (!inc.IsValid() || st.mbWidth <= 0) {
        mb.macroblockError = true;
        return false;
    }
    const int address = previousAddress + 33 * rec.escapeCount + inc.value;
    if (address < 0 || address >= static_cast<int>(v.coding.mbsInPicture) || address > 0xFFFF) {
        mb.macroblockError = true;
        return false;
    }
    rec.macroblock_address_increment = static_cast<int16_t>(inc.value);
    rec.macroblock_address = static_cast<uint16_t>(address);
    rec.row = static_cast<uint8_t>(address / st.mbWidth);
    rec.column = static_cast<uint8_t>(address % st.mbWidth);
    const int pictureType = v.picture.picture_coding_type;

    // Skipped macroblocks between the previous macroblock and this one.
    if (mb.mbsParsedInSlice > 0 && address - previousAddress > 1) {
        if (pictureType == kPictureP) {
            mb.PMV[0][0][0] = mb.PMV[0][0][1] = mb.PMV[1][0][0] = mb.PMV[1][0][1] = 0;
        }
        for (int a = previousAddress + 1; a < address; ++a) {
            MacroblockRecord skipped;
            MakeSkippedMacroblock(skipped, a);
            char text[96];
            std::snprintf(text, sizeof text, "Skipped Macroblock (MB) (x=%d, y=%d)",
                          skipped.column * 16, skipped.row * 16);
            const TreeItem item = p_.tree.InsertItem(text, image::kSkippedMacroblock,
                                                     kind::kSkippedMacroblock, sliceItem);
            if (item) st.macroblockRecords[item] = skipped;
        }
    }

    const TreeItem mbItem =
        p_.tree.InsertItem("Macroblock (MB)", image::kMacroblock, kind::kMacroblock, sliceItem);
    emit.AddFileOffset("file_offset", start, mbItem, 1);
    if (!v.firstMacroblockItem) v.firstMacroblockItem = mbItem;
    const TreeItem header = p_.tree.InsertItem("Macroblock Header", image::kMacroblockHeader,
                                               kind::kMacroblockHeader, mbItem);
    for (int i = 0; i < rec.stuffingCount; ++i)
        emit.AddField("macroblock_stuffing", 15, 11, header);
    for (int i = 0; i < rec.escapeCount; ++i) emit.AddField("macroblock_escape", 8, 11, header);
    emit.AddVlc("macroblock_address_increment", inc.value, inc.code, inc.length, header);
    emit.AddValue("macroblock_address", address, header);
    {
        char text[96];
        std::snprintf(text, sizeof text, "Coded Macroblock (MB) (x=%d, y=%d)", rec.column * 16,
                      rec.row * 16);
        p_.tree.SetItemText(mbItem, text);
    }

    auto failHeader = [&] {
        p_.tree.SetItemImage(mbItem, 29);
        p_.tree.SetItemImage(header, 30);
        return false;
    };
    if (!ParseMacroblockModes(rec, header)) return failHeader();

    if (rec.macroblock_quant) {
        mb.currentQuantiserScaleCode = static_cast<uint8_t>(p_.ReadBits(5));
        emit.AddField(mpeg2 ? "quantiser_scale_code" : "quantizer_scale",
                      mb.currentQuantiserScaleCode, 5, header);
    }
    rec.quantiser_scale_code = mb.currentQuantiserScaleCode;
    rec.quantiser_scale = static_cast<uint8_t>(
        QuantiserScale(mb.currentQuantiserScaleCode, mpeg2, v.coding.q_scale_type == 1));

    if (rec.macroblock_motion_forward ||
        (rec.macroblock_intra && v.coding.concealment_motion_vectors)) {
        if (!ParseMotionVectors(0, rec, header)) return failHeader();
    }
    if (rec.macroblock_motion_backward) {
        if (!ParseMotionVectors(1, rec, header)) return failHeader();
    }
    const int structure = v.coding.picture_structure;
    if (pictureType == kPictureP && structure != kFramePicture && !rec.macroblock_intra &&
        !rec.macroblock_motion_forward) {
        rec.motion_vertical_field_select[0][0] = structure == kBottomField ? 1 : 0;
    }
    if (rec.macroblock_intra && v.coding.concealment_motion_vectors) {
        rec.concealmentMarker = static_cast<uint8_t>(p_.ReadBits(1));
        emit.AddMarkerBit(rec.concealmentMarker, header);
    }
    if (!ParseCodedBlockPattern(rec, header)) return failHeader();

    if (!rec.macroblock_intra || address - previousAddress > 1)
        std::memset(mb.dcPredictor, 0, sizeof mb.dcPredictor);
    std::memcpy(rec.dcPredictor, mb.dcPredictor, sizeof rec.dcPredictor);
    p_.emit.RecordPosition(mbItem, 0, false);

    const int blockCount = st.blockCount > 12 ? 12 : st.blockCount;
    for (int i = 0; i < blockCount; ++i) {
        if (!ParseBlock(i, rec, mbItem)) {
            p_.tree.SetItemImage(mbItem, 29);
            st.macroblockRecords[mbItem] = rec;
            previousAddress = address;
            return false;
        }
    }
    if (pictureType == kPictureD) {
        if (p_.ReadBits(1))
            emit.AddItem("end_of_macroblock=1 (1 bit)", mbItem);
        else
            emit.AddItem("end_of_macroblock=0 (1 bit, must be 1!)", mbItem, image::kError);
    }
    ResetMotionPredictors(rec);
    mb.previousMotionForward = rec.macroblock_motion_forward;
    mb.previousMotionBackward = rec.macroblock_motion_backward;
    st.macroblockRecords[mbItem] = rec;
    previousAddress = address;
    return true;
}

bool MacroblockLayer::ParseMacroblockModes(MacroblockRecord& rec, TreeItem header) {
    VideoState& v = p_.v;
    Emitters& emit = p_.emit;
    const int scalable = p_.stream.scalable_mode;
    const int pictureType = v.picture.picture_coding_type;
    const VlcResult type = GetMacroblockType(p_, scalable, pictureType);
    if (!type.IsValid()) {
        v.mb.macroblockError = true;
        return false;
    }
    const int flags = type.value;
    MacroblockLayer::SetTypeFlags(rec, flags);

    char bits[40];
    FormatBits(bits, type.code, type.length);
    char text[160];
    std::snprintf(text, sizeof text, "macroblock_type=\"%s\" (%sB, %d-bit VLC)",
                  MacroblockTypeName(flags, scalable, pictureType), bits, type.length);
    const TreeItem typeItem = emit.AddItem(text, header, image::kVlc);
    emit.AddFlagValue("macroblock_quant", rec.macroblock_quant, typeItem);
    emit.AddFlagValue("macroblock_motion_forward", rec.macroblock_motion_forward, typeItem);
    emit.AddFlagValue("macroblock_motion_backward", rec.macroblock_motion_backward, typeItem);
    emit.AddFlagValue("macroblock_pattern", rec.macroblock_pattern, typeItem);
    emit.AddFlagValue("macroblock_intra", rec.macroblock_intra, typeItem);

    if (pictureType == kPictureI && rec.macroblock_motion_forward &&
        !v.coding.concealment_motion_vectors)
        return false;
    if ((pictureType == kPictureI || pictureType == kPictureP) && rec.macroblock_motion_backward)
        return false;

    if (p_.stream.mpegVersion != kMpeg2) {
        rec.motionType = 2;
        rec.motionVectorCount = 1;
        rec.motionVectorFormat = 0;
        rec.dmv = 0;
        rec.mvscale = 0;
        rec.dct_type = 0;
        p_.video.SetMpeg1PictureDefaults();
        return true;
    }

    emit.AddFlagValue("spatial_temporal_weight_code_flag", rec.spatial_temporal_weight_code_flag,
                      typeItem);
    emit.InsertVirtual(rec.permitted_spatial_temporal_weight_class
                           ? "permitted spatial_temporal_weight_class=4"
                           : "permitted spatial_temporal_weight_class=0",
                       typeItem);
    const int tableIndex = v.spatial.spatial_temporal_weight_code_table_index & 3;
    if (rec.spatial_temporal_weight_code_flag && tableIndex != 0) {
        rec.spatial_temporal_weight_code = static_cast<uint8_t>(p_.ReadBits(2));
        emit.AddBitString("spatial_temporal_weight_code", rec.spatial_temporal_weight_code, 2,
                          header);
    }
    SetWeightClass(rec, tableIndex);

    const int structure = v.coding.picture_structure;
    const bool field = IsFieldPicture(structure);
    int motionType;
    if (!rec.macroblock_motion_forward && !rec.macroblock_motion_backward) {
        motionType = field ? 1 : 2;
        const TreeItem item =
            field ? emit.AddEnumField("field_motion_type", kFieldMotionTypeNames, 1, 2, header)
                  : emit.AddEnumField("frame_motion_type", kFrameMotionTypeNames, 2, 2, header);
        emit.MarkVirtual(item);
    } else if (field) {
        motionType = static_cast<int>(p_.ReadBits(2));
        emit.AddEnumField("field_motion_type", kFieldMotionTypeNames, motionType, 2, header);
    } else if (v.coding.frame_pred_frame_dct == 1) {
        motionType = 2;
        emit.MarkVirtual(
            emit.AddEnumField("frame_motion_type", kFrameMotionTypeNames, 2, 2, header));
    } else {
        motionType = static_cast<int>(p_.ReadBits(2));
        emit.AddEnumField("frame_motion_type", kFrameMotionTypeNames, motionType, 2, header);
    }
    SetMotionVectorFormat(rec, motionType, field);
    rec.dct_type = 0;
    if (!field && v.coding.frame_pred_frame_dct == 0 &&
        (rec.macroblock_intra || rec.macroblock_pattern)) {
        rec.dct_type = static_cast<uint8_t>(p_.ReadBits(1));
        emit.AddBit("dct_type", rec.dct_type, header);
    }
    return true;
}

bool MacroblockLayer::ParseMotionVectors(int s, MacroblockRecord& rec, TreeItem header) {
    MacroblockState& mb = p_.v.mb;
    if (rec.motionVectorCount == 2) {
        rec.motion_vertical_field_select[0][s] = static_cast<uint8_t>(p_.ReadBits(1));
        p_.emit.AddIndexedBit("motion_vertical_field_select[0]", s,
                              rec.motion_vertical_field_select[0][s], header);
        if (!ParseMotionVector(0, s, rec, header)) return false;
        rec.motion_vertical_field_select[1][s] = static_cast<uint8_t>(p_.ReadBits(1));
        p_.emit.AddIndexedBit("motion_vertical_field_select[1]", s,
                              rec.motion_vertical_field_select[1][s], header);
        return ParseMotionVector(1, s, rec, header);
    }
    if (rec.motionVectorFormat == 1 && !rec.dmv) {
        rec.motion_vertical_field_select[0][s] = static_cast<uint8_t>(p_.ReadBits(1));
        p_.emit.AddIndexedBit("motion_vertical_field_select[0]", s,
                              rec.motion_vertical_field_select[0][s], header);
    }
    if (!ParseMotionVector(0, s, rec, header)) return false;
    mb.PMV[1][s][0] = mb.PMV[0][s][0];
    mb.PMV[1][s][1] = mb.PMV[0][s][1];
    return true;
}

bool MacroblockLayer::ParseMotionVector(int r, int s, MacroblockRecord& rec, TreeItem header) {
    VideoState& v = p_.v;
    MacroblockState& mb = v.mb;
    Emitters& emit = p_.emit;
    const bool mpeg2 = p_.stream.mpegVersion == kMpeg2;
    static const char* const kMpeg1Codes[2][2] = {
        {"motion_horizontal_forward_code", "motion_vertical_forward_code"},
        {"motion_horizontal_backward_code", "motion_vertical_backward_code"}};
    static const char* const kMpeg1Residuals[2][2] = {
        {"motion_horizontal_forward_r", "motion_vertical_forward_r"},
        {"motion_horizontal_backward_r", "motion_vertical_backward_r"}};
    const bool fullPel = !mpeg2 && (s == 0 ? v.picture.full_pel_forward_vector
                                           : v.picture.full_pel_backward_vector);
    for (int t = 0; t < 2; ++t) {
        const VlcResult code = GetMotionCode(p_);
        if (!code.IsValid()) {
            mb.macroblockError = true;
            return false;
        }
        char name[48];
        if (mpeg2)
            std::snprintf(name, sizeof name, "motion_code[%d][%d][%d]", r, s, t);
        else
            std::snprintf(name, sizeof name, "%s", kMpeg1Codes[s][t]);
        emit.AddSignedVlc(name, code.value, code.code, code.length, header);
        rec.motion_code[r][s][t] = static_cast<int16_t>(code.value);

        const int rSize = v.coding.f_code[s][t] - 1;
        int residual = 0;
        if (rSize >= 1 && rSize <= 8 && code.value != 0) {
            residual = static_cast<int>(p_.ReadBits(rSize));
            if (mpeg2)
                std::snprintf(name, sizeof name, "motion_residual[%d][%d][%d]", r, s, t);
            else
                std::snprintf(name, sizeof name, "%s", kMpeg1Residuals[s][t]);
            emit.AddField(name, residual, rSize, header);
        }
        rec.motion_residual[r][s][t] = static_cast<uint8_t>(residual);
        const int vec = DecodeMotionVector(mb.PMV[r][s][t], rSize, code.value, residual, fullPel,
                                           t == 1 && rec.mvscale);
        mb.PMV[r][s][t] = static_cast<int16_t>(vec);
        rec.vector[r][s][t] = static_cast<int16_t>(vec);
        std::snprintf(name, sizeof name, "motion_vector[%d][%d][%d]", r, s, t);
        emit.AddValue(name, vec, header);

        if (rec.dmv) {
            const VlcResult dm = GetDmvector(p_);
            rec.dmvector[t] = static_cast<int8_t>(dm.value);
            emit.AddVlc(t == 0 ? "dmvector[0]" : "dmvector[1]", dm.value, dm.code, dm.length,
                        header);
        }
    }
    return true;
}

bool MacroblockLayer::ParseCodedBlockPattern(MacroblockRecord& rec, TreeItem header) {
    std::memset(rec.coded, rec.macroblock_intra ? 1 : 0, sizeof rec.coded);
    if (!rec.macroblock_pattern) return true;
    const VlcResult cbp = GetCodedBlockPattern(p_);
    if (!cbp.IsValid()) {
        p_.v.mb.macroblockError = true;
        return false;
    }
    const bool mpeg2 = p_.stream.mpegVersion == kMpeg2;
    p_.emit.AddVlc(mpeg2 ? "coded_block_pattern_420" : "coded_block_pattern", cbp.value,
                   cbp.code, cbp.length, header);
    rec.coded_block_pattern = static_cast<uint16_t>(cbp.value);
    const int chroma = p_.stream.chroma_format;
    if (chroma == 2) {
        rec.coded_block_pattern_1 = static_cast<uint8_t>(p_.ReadBits(2));
        p_.emit.AddBitString("coded_block_pattern_1", rec.coded_block_pattern_1, 2, header);
    } else if (chroma == 3) {
        rec.coded_block_pattern_2 = static_cast<uint8_t>(p_.ReadBits(6));
        p_.emit.AddBitString("coded_block_pattern_2", rec.coded_block_pattern_2, 6, header);
    }
    for (int i = 0; i < 6; ++i) rec.coded[i] = (cbp.value >> (5 - i)) & 1;
    if (chroma == 2) {
        rec.coded[6] = (rec.coded_block_pattern_1 >> 1) & 1;
        rec.coded[7] = rec.coded_block_pattern_1 & 1;
    } else if (chroma == 3) {
        for (int i = 0; i < 6; ++i) rec.coded[6 + i] = (rec.coded_block_pattern_2 >> (5 - i)) & 1;
    }
    return true;
}

void MacroblockLayer::MakeSkippedMacroblock(MacroblockRecord& rec, int address) {
    const CStreamState& st = p_.stream;
    VideoState& v = p_.v;
    MacroblockState& mb = v.mb;
    rec = MacroblockRecord();
    rec.macroblock_address = static_cast<uint16_t>(address);
    if (st.mbWidth > 0) {
        rec.row = static_cast<uint8_t>(address / st.mbWidth);
        rec.column = static_cast<uint8_t>(address % st.mbWidth);
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
    rec.macroblock_type = static_cast<uint8_t>((rec.macroblock_motion_forward ? kMacroblockMotionForward : 0) |
                                               (rec.macroblock_motion_backward ? kMacroblockMotionBackward : 0));
    rec.quantiser_scale_code = mb.currentQuantiserScaleCode;
    std::memcpy(rec.vector, mb.PMV, sizeof rec.vector);
}

void MacroblockLayer::ResetMotionPredictors(const MacroblockRecord& rec) {
    VideoState& v = p_.v;
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
        const TreeItem item =
            p_.tree.InsertItem(text, 14 + c, kind::kBlockY + static_cast<uint32_t>(c),
                               macroblockItem);
        if (!v.firstBlockItem) v.firstBlockItem = item;
        p_.emit.RecordPosition(item, 0, false);
        if (item) st.blockRecords[item] = v.mb.dcPredictor[c];
        if (!ParseCodedBlock(i, rec, item, st.mpegVersion == kMpeg2)) {
            p_.tree.SetItemImage(item, 31 + c);
            p_.tree.SetItemData(item, kind::kBlockError);
            return false;
        }
        return true;
    }
    std::snprintf(text, sizeof text, "#%d: Skipped %s-Block", i + 1, kComponentNames[c]);
    const TreeItem item = p_.tree.InsertItem(
        text, 17 + c, kind::kSkippedBlockY + static_cast<uint32_t>(c), macroblockItem);
    if (item) st.blockRecords[item] = v.mb.dcPredictor[c];
    ShowSkippedBlock(i, item);
    return true;
}

void MacroblockLayer::ShowSkippedBlock(int i, TreeItem blockItem) {
    static const uint8_t kZeros[64] = {};
    char title[80];
    std::snprintf(title, sizeof title, "Pel values: pel_%s[u][v] (8x8 matrix)",
                  kComponentNames[ComponentOf(i)]);
    const TreeItem matrix = p_.emit.AddMatrix8(title, kZeros, blockItem);
    p_.tree.SetItemData(matrix, kind::kPelMatrix);
}

bool MacroblockLayer::ParseIntraDc(int c, BlockState& block, TreeItem parent) {
    VideoState& v = p_.v;
    MacroblockState& mb = v.mb;
    const VlcResult size = c == 0 ? GetDctDcSizeLuminance(p_) : GetDctDcSizeChrominance(p_);
    if (!size.IsValid()) {
        mb.macroblockError = true;
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
    const int precision = p_.stream.mpegVersion == kMpeg2 ? (v.coding.intra_dc_precision & 3) : 0;
    int dc = mb.dcPredictor[c] * (1 << (3 - precision));
    if (dc < -2048) dc = -2048;
    if (dc > 2047) dc = 2047;
    block.F[0] = static_cast<int16_t>(dc);
    block.sum = dc;
    return true;
}

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
    int n = intra ? 1 : 0;
    block.quantMatrix = SelectQuantMatrix(v.quant, intra, c);
    const int q = rec.quantiser_scale;
    auto fail = [&] {
        mb.macroblockError = true;
        return false;
    };
    for (;;) {
        const DctResult coef = mpeg2 && intra
                                 ? GetIntraDctCoefficient(p_, v.coding.intra_vlc_format != 0)
                                 : GetDctCoefficient(p_, n == 0);
        if (!coef.IsValid()) return fail();
        if (coef.IsEndOfBlock()) {
            if (!mpeg2 || coef.length == 2) {
                emit.AddItem("end_of_block (10B, VLC)", rle, image::kVlc);
            } else if (coef.length == 4 && coef.code == 6) {
                emit.AddItem("end_of_block (0110B, VLC)", rle, image::kVlc);
            } else {
                char bits[40], text[64];
                FormatBits(bits, coef.code, coef.length);
                std::snprintf(text, sizeof text, "end_of_block (%sB, VLC)", bits);
                emit.AddItem(text, rle, image::kVlc);
                return fail();
            }
            break;
        }
        int run, level;
        if (coef.IsEscape()) {
            const TreeItem esc = emit.AddItem("escape code (0000 01B, VLC)", rle, image::kVlc);
            run = static_cast<int>(p_.ReadBits(6));
            emit.AddField("run", run, 6, esc);
            if (n + run >= 64) return fail();
            if (mpeg2) {
                const int raw = static_cast<int>(p_.ReadBits(12));
                if (raw == 0) {
                    emit.AddItem("level=forbidden (000000000000B, 12 bits)", esc, image::kError);
                    return fail();
                }
                level = raw >= 2048 ? raw - 4096 : raw;
                emit.AddCodedField("level", level, static_cast<uint32_t>(raw), 12, esc);
            } else {
                const int b = static_cast<int>(p_.ReadBits(8));
                if (b != 0 && b != 128) {
                    level = b > 128 ? b - 256 : b;
                    emit.AddCodedField("level", level, static_cast<uint32_t>(b), 8, esc);
                } else {
                    const int second = static_cast<int>(p_.ReadBits(8));
                    level = b == 0 ? second : second - 256;
                    emit.AddCodedField("level", level, static_cast<uint32_t>(b << 8 | second), 16,
                                       esc);
                }
            }
        } else {
            run = coef.run;
            level = coef.level;
            if (n + run >= 64) return fail();
            const uint32_t word =
                static_cast<uint32_t>(run & 0xFF) |
                (static_cast<uint32_t>(static_cast<uint16_t>(level)) << 16);
            emit.AddRunLevel(word, coef.length, coef.code, rle);
        }
        n = SkipZeroRun(block, n, run);
        Dequantise(block, n, level, q, intra, !mpeg2);
        ++n;
        if (n > 64) return fail();
    }
    if (mpeg2) ApplyMismatchControl(block);

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
    char title[80];
    std::snprintf(title, sizeof title, "Pel values: pel_%s[u][v] (8x8 matrix, after IDCT transform)",
                  kComponentNames[c]);
    const TreeItem pelItem = emit.AddMatrix16(title, pel, blockItem);
    p_.tree.SetItemData(pelItem, kind::kPelMatrix);
    return true;
}

}  // namespace bitloupe
