// The slice header and macroblock syntax, written once for the two readings of slice data:
// the tree parse, whose emitters turn every field into an item, and the silent reader of the
// decoder, whose emitters do nothing, so that it keeps only what reconstruction needs. Both
// readings advance the bit position alike and fill the same MacroblockRecord.
//
// A reading supplies a sink with its emitters and the steps that differ (see ReadMacroblock).
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <type_traits>

#include "core/syntax/Emitters.h"
#include "core/syntax/MacroblockLayer.h"
#include "core/syntax/ParseContext.h"
#include "core/syntax/VideoFields.h"
#include "core/syntax/VideoTables.h"
#include "core/syntax/VlcTables.h"

namespace bitloupe {

namespace vf = video_fields;

// The emitters of a reading that makes no items: every call does nothing and gives no item.
struct SilentEmitters {
    SilentEmitters& Back(int) { return *this; }
    template <class... A>
    static TreeItem Record(const A&...) {
        return 0;
    }
    template <class... A>
    static TreeItem AddItem(const A&...) {
        return 0;
    }
    template <class... A>
    static TreeItem AddValue(const A&...) {
        return 0;
    }
    template <class... A>
    static TreeItem AddFlagValue(const A&...) {
        return 0;
    }
    template <class... A>
    static TreeItem AddMarkerBit(const A&...) {
        return 0;
    }
    template <class... A>
    static TreeItem AddBit(const A&...) {
        return 0;
    }
    template <class... A>
    static TreeItem AddIndexedBit(const A&...) {
        return 0;
    }
    template <class... A>
    static TreeItem AddBitString(const A&...) {
        return 0;
    }
    template <class... A>
    static TreeItem AddField(const A&...) {
        return 0;
    }
    template <class... A>
    static TreeItem AddEnumField(const A&...) {
        return 0;
    }
    template <class... A>
    static TreeItem AddVlc(const A&...) {
        return 0;
    }
    template <class... A>
    static TreeItem AddSignedVlc(const A&...) {
        return 0;
    }
    template <class... A>
    static TreeItem InsertVirtual(const A&...) {
        return 0;
    }
    static void MarkVirtual(TreeItem) {}
};

// Whether a reading with these emitters makes items (and so needs item texts formatted).
template <class E>
inline constexpr bool kMakesItems = !std::is_same_v<E, SilentEmitters>;

namespace macroblock_syntax {

inline bool IsFieldPicture(int structure) {
    return structure == video_tables::kTopField || structure == video_tables::kBottomField;
}

}  // namespace macroblock_syntax

// A skipped macroblock's record at `address`: the motion of the macroblock before it, the
// current quantiser, the predictors as they stand (reset first in a P picture).
void MakeSkippedMacroblock(const CStreamState& st, VideoState& v, MacroblockRecord& record,
                           int address);
// The motion vector predictors' resets after a macroblock.
void ResetMotionPredictors(VideoState& v, const MacroblockRecord& record);

// The slice header after its start code, whose last byte is `code`, into sh; the items go under
// `header`.
template <class E>
void ReadSliceHeader(ParseContext& p, E& emit, uint32_t code, SliceHeader& sh, TreeItem header) {
    const CStreamState& st = p.stream;
    const bool mpeg2 = st.videoVersion == kMpeg2;
    sh = SliceHeader();
    sh.slice_vertical_position = code & 0xFF;
    // Pictures taller than 2800 lines carry the upper bits of the row in the header.
    if (mpeg2 && st.vertical_size > 2800) {
        sh.slice_vertical_position_extension =
            static_cast<uint8_t>(ReadField(p, emit, vf::slice_vertical_position_extension, header));
        sh.slice_vertical_position += uint32_t{sh.slice_vertical_position_extension} * 128;
    }
    emit.AddValue("slice_vertical_position", static_cast<int>(sh.slice_vertical_position), header);
    if (mpeg2 && st.scalable_mode == video_tables::kDataPartitioning) {
        sh.priority_breakpoint =
            static_cast<uint8_t>(ReadField(p, emit, vf::priority_breakpoint, header));
    }
    auto read = [&](const FieldDesc& d) {
        return static_cast<uint8_t>(ReadField(p, emit, d, header));
    };
    sh.quantiser_scale_code = read(mpeg2 ? vf::quantiser_scale_code : vf::quantiser_scale);
    if (mpeg2 && p.PeekBits(1) == 1) {
        sh.intra_slice_flag = read(vf::intra_slice_flag);
        sh.intra_slice = read(vf::intra_slice);
        sh.reserved_bits = read(vf::reserved_bits);
        sh.slice_picture_id_enable = sh.reserved_bits >> 6;
        sh.slice_picture_id = sh.reserved_bits & 0x3F;
    }
    // Past the end of the data every bit reads 0, which ends the loop.
    for (;;) {
        sh.extra_bit_slice = read(vf::extra_bit_slice);
        if (!sh.extra_bit_slice) break;
        sh.extra_information_slice = read(vf::extra_information_slice);
    }
}

// macroblock_modes: macroblock_type, spatial_temporal_weight_code, the motion type and
// dct_type. False on a type not in the table (with the slice's error flag) or one the picture
// type forbids.
template <class E>
bool ReadMacroblockModes(ParseContext& p, E& emit, MacroblockRecord& rec, TreeItem header) {
    using namespace video_tables;
    using namespace macroblock_syntax;
    VideoState& v = p.v;
    const int scalable = p.stream.scalable_mode;
    const int pictureType = v.picture.picture_coding_type;
    const VlcResult type = GetMacroblockType(p, scalable, pictureType);
    if (!type.IsValid()) {
        v.mb.macroblockError = true;
        v.mb.failure = "no macroblock_type has this code";
        return false;
    }
    const int flags = type.value;
    MacroblockLayer::SetTypeFlags(rec, flags);

    TreeItem typeItem = 0;
    if constexpr (kMakesItems<E>) {
        char bits[40];
        FormatBits(bits, type.code, type.length);
        char text[160];
        std::snprintf(text, sizeof text, "macroblock_type=\"%s\" (%sB, %d-bit VLC)",
                      MacroblockTypeName(flags, scalable, pictureType), bits, type.length);
        typeItem = emit.AddItem(text, header, image::kVlc);
    }
    emit.AddFlagValue("macroblock_quant", rec.macroblock_quant, typeItem);
    emit.AddFlagValue("macroblock_motion_forward", rec.macroblock_motion_forward, typeItem);
    emit.AddFlagValue("macroblock_motion_backward", rec.macroblock_motion_backward, typeItem);
    emit.AddFlagValue("macroblock_pattern", rec.macroblock_pattern, typeItem);
    emit.AddFlagValue("macroblock_intra", rec.macroblock_intra, typeItem);

    if (pictureType == kPictureI && rec.macroblock_motion_forward &&
        !v.coding.concealment_motion_vectors) {
        v.mb.failure = "a forward motion vector in an I picture without concealment vectors";
        return false;
    }
    if ((pictureType == kPictureI || pictureType == kPictureP) && rec.macroblock_motion_backward) {
        v.mb.failure = "a backward motion vector in an I or P picture";
        return false;
    }

    if (p.stream.videoVersion != kMpeg2) {
        rec.motionType = 2;
        rec.motionVectorCount = 1;
        rec.motionVectorFormat = 0;
        rec.dmv = 0;
        rec.mvscale = 0;
        rec.dct_type = 0;
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
        rec.spatial_temporal_weight_code =
            static_cast<uint8_t>(ReadField(p, emit, vf::spatial_temporal_weight_code, header));
    }
    MacroblockLayer::SetWeightClass(rec, tableIndex);

    const bool field = IsFieldPicture(v.coding.picture_structure);
    int motionType;
    if (!rec.macroblock_motion_forward && !rec.macroblock_motion_backward) {
        // Not transmitted: field prediction in a field picture, frame prediction otherwise.
        motionType = field ? 1 : 2;
        emit.MarkVirtual(field ? emit.Record(vf::field_motion_type, 1, header)
                               : emit.Record(vf::frame_motion_type, 2, header));
    } else if (field) {
        motionType = static_cast<int>(ReadField(p, emit, vf::field_motion_type, header));
    } else if (v.coding.frame_pred_frame_dct == 1) {
        motionType = 2;
        emit.MarkVirtual(emit.Record(vf::frame_motion_type, 2, header));
    } else {
        motionType = static_cast<int>(ReadField(p, emit, vf::frame_motion_type, header));
    }
    MacroblockLayer::SetMotionVectorFormat(rec, motionType, field);
    rec.dct_type = 0;
    if (!field && v.coding.frame_pred_frame_dct == 0 &&
        (rec.macroblock_intra || rec.macroblock_pattern)) {
        rec.dct_type = static_cast<uint8_t>(ReadField(p, emit, vf::dct_type, header));
    }
    return true;
}

// motion_vector(r, s): both components with their codes and residuals, decoded against the
// predictors, and dmvector for dual prime. False on a motion code not in the table.
template <class E>
bool ReadMotionVector(ParseContext& p, E& emit, int r, int s, MacroblockRecord& rec,
                      TreeItem header) {
    VideoState& v = p.v;
    MacroblockState& mb = v.mb;
    const bool mpeg2 = p.stream.videoVersion == kMpeg2;
    static const char* const kMpeg1Codes[2][2] = {
        {"motion_horizontal_forward_code", "motion_vertical_forward_code"},
        {"motion_horizontal_backward_code", "motion_vertical_backward_code"}};
    static const char* const kMpeg1Residuals[2][2] = {
        {"motion_horizontal_forward_r", "motion_vertical_forward_r"},
        {"motion_horizontal_backward_r", "motion_vertical_backward_r"}};
    const bool fullPel =
        !mpeg2 && (s == 0 ? v.picture.full_pel_forward_vector : v.picture.full_pel_backward_vector);
    char name[48] = "";
    for (int t = 0; t < 2; ++t) {
        const VlcResult code = GetMotionCode(p);
        if (!code.IsValid()) {
            mb.macroblockError = true;
            mb.failure = "no motion_code has this code";
            return false;
        }
        if constexpr (kMakesItems<E>) {
            if (mpeg2)
                std::snprintf(name, sizeof name, "motion_code[%d][%d][%d]", r, s, t);
            else
                std::snprintf(name, sizeof name, "%s", kMpeg1Codes[s][t]);
        }
        emit.AddSignedVlc(name, code.value, code.code, code.length, header);
        rec.motion_code[r][s][t] = static_cast<int16_t>(code.value);

        const int rSize = v.coding.f_code[s][t] - 1;
        int residual = 0;
        if (rSize >= 1 && rSize <= 8 && code.value != 0) {
            residual = static_cast<int>(p.ReadBits(rSize));
            if constexpr (kMakesItems<E>) {
                if (mpeg2)
                    std::snprintf(name, sizeof name, "motion_residual[%d][%d][%d]", r, s, t);
                else
                    std::snprintf(name, sizeof name, "%s", kMpeg1Residuals[s][t]);
            }
            emit.AddField(name, residual, rSize, header);
        }
        rec.motion_residual[r][s][t] = static_cast<uint8_t>(residual);
        const int vec = MacroblockLayer::DecodeMotionVector(
            mb.PMV[r][s][t], rSize, code.value, residual, fullPel, t == 1 && rec.mvscale);
        mb.PMV[r][s][t] = static_cast<int16_t>(vec);
        rec.vector[r][s][t] = static_cast<int16_t>(vec);
        if constexpr (kMakesItems<E>)
            std::snprintf(name, sizeof name, "motion_vector[%d][%d][%d]", r, s, t);
        emit.AddValue(name, vec, header);

        if (rec.dmv) {
            const VlcResult dm = GetDmvector(p);
            rec.dmvector[t] = static_cast<int8_t>(dm.value);
            emit.AddVlc(t == 0 ? "dmvector[0]" : "dmvector[1]", dm.value, dm.code, dm.length,
                        header);
        }
    }
    return true;
}

// motion_vectors(s): the field selects and one or two vectors of direction s.
template <class E>
bool ReadMotionVectors(ParseContext& p, E& emit, int s, MacroblockRecord& rec, TreeItem header) {
    MacroblockState& mb = p.v.mb;
    if (rec.motionVectorCount == 2) {
        rec.motion_vertical_field_select[0][s] = static_cast<uint8_t>(p.ReadBits(1));
        emit.AddIndexedBit("motion_vertical_field_select[0]", s,
                           rec.motion_vertical_field_select[0][s], header);
        if (!ReadMotionVector(p, emit, 0, s, rec, header)) return false;
        rec.motion_vertical_field_select[1][s] = static_cast<uint8_t>(p.ReadBits(1));
        emit.AddIndexedBit("motion_vertical_field_select[1]", s,
                           rec.motion_vertical_field_select[1][s], header);
        return ReadMotionVector(p, emit, 1, s, rec, header);
    }
    if (rec.motionVectorFormat == 1 && !rec.dmv) {
        rec.motion_vertical_field_select[0][s] = static_cast<uint8_t>(p.ReadBits(1));
        emit.AddIndexedBit("motion_vertical_field_select[0]", s,
                           rec.motion_vertical_field_select[0][s], header);
    }
    if (!ReadMotionVector(p, emit, 0, s, rec, header)) return false;
    mb.PMV[1][s][0] = mb.PMV[0][s][0];
    mb.PMV[1][s][1] = mb.PMV[0][s][1];
    return true;
}

// coded_block_pattern and the coded flags of the blocks (all set for an intra macroblock).
template <class E>
bool ReadCodedBlockPattern(ParseContext& p, E& emit, MacroblockRecord& rec, TreeItem header) {
    std::memset(rec.coded, rec.macroblock_intra ? 1 : 0, sizeof rec.coded);
    if (!rec.macroblock_pattern) return true;
    const VlcResult cbp = GetCodedBlockPattern(p);
    if (!cbp.IsValid()) {
        p.v.mb.macroblockError = true;
        p.v.mb.failure = "no coded_block_pattern has this code";
        return false;
    }
    const bool mpeg2 = p.stream.videoVersion == kMpeg2;
    emit.AddVlc(mpeg2 ? "coded_block_pattern_420" : "coded_block_pattern", cbp.value, cbp.code,
                cbp.length, header);
    rec.coded_block_pattern = static_cast<uint16_t>(cbp.value);
    const int chroma = p.stream.chroma_format;
    if (chroma == 2) {
        rec.coded_block_pattern_1 =
            static_cast<uint8_t>(ReadField(p, emit, vf::coded_block_pattern_1, header));
    } else if (chroma == 3) {
        rec.coded_block_pattern_2 =
            static_cast<uint8_t>(ReadField(p, emit, vf::coded_block_pattern_2, header));
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

// One macroblock and the skipped ones before it; previousAddress is read and updated. The
// sink gives the emitters (sink.emit) and the steps that differ between the readings:
//   Begin()                 before the first bit of the macroblock
//   Skipped(record)         a skipped macroblock between the previous one and this one
//   Header(record)          the macroblock's address is known; returns the header item
//   Located(record)         after the address items
//   HeaderFailed()          the header ended in an error
//   Motion(record)          the vectors and field selects are read
//   Blocks(record)          reads the blocks (false on an error); BlocksFailed(record) then
//   EndOfMacroblock(bit)    a D picture's end_of_macroblock
//   Done(record)            the macroblock is complete
// False when the macroblock ends in an error.
template <class Sink>
bool ReadMacroblock(ParseContext& p, Sink& sink, int& previousAddress) {
    using namespace video_tables;
    const CStreamState& st = p.stream;
    VideoState& v = p.v;
    MacroblockState& mb = v.mb;
    auto& emit = sink.emit;
    const bool mpeg2 = st.videoVersion == kMpeg2;

    sink.Begin();
    MacroblockRecord rec;
    if (!mpeg2) {
        while (p.PeekBits(11) == 0x0F && !p.AtEnd()) {
            p.ReadBits(11);
            ++rec.stuffingCount;
        }
    }
    while (p.PeekBits(11) == 0x08 && !p.AtEnd()) {
        p.ReadBits(11);
        ++rec.escapeCount;
    }
    const VlcResult inc = GetMacroblockAddressIncrement(p);
    if (!inc.IsValid() || st.mbWidth <= 0) {
        mb.macroblockError = true;
        mb.failure = st.mbWidth <= 0 ? "the picture has no width"
                                     : "no macroblock_address_increment has this code";
        return false;
    }
    const int64_t address = int64_t{previousAddress} + 33 * int64_t{rec.escapeCount} + inc.value;
    if (address < 0 || address >= static_cast<int64_t>(v.coding.mbsInPicture)) {
        mb.macroblockError = true;
        mb.failure = "the macroblock address lies beyond the picture";
        return false;
    }
    rec.macroblock_address_increment = static_cast<int16_t>(inc.value);
    rec.macroblock_address = static_cast<uint32_t>(address);
    rec.row = static_cast<uint16_t>(address / st.mbWidth);
    rec.column = static_cast<uint16_t>(address % st.mbWidth);
    const int pictureType = v.picture.picture_coding_type;
    const bool skippedBefore = address - previousAddress > 1;

    // Skipped macroblocks between the previous macroblock and this one.
    if (mb.mbsParsedInSlice > 0 && skippedBefore) {
        if (pictureType == kPictureP)
            mb.PMV[0][0][0] = mb.PMV[0][0][1] = mb.PMV[1][0][0] = mb.PMV[1][0][1] = 0;
        for (int64_t a = previousAddress + 1; a < address; ++a) {
            MacroblockRecord skipped;
            MakeSkippedMacroblock(st, v, skipped, static_cast<int>(a));
            sink.Skipped(skipped);
        }
    }

    const TreeItem header = sink.Header(rec);
    // The stuffing and escapes were read before the increment: each lies that far back.
    int behind = 11 * (rec.stuffingCount + rec.escapeCount) + inc.length;
    for (int i = 0; i < rec.stuffingCount; ++i, behind -= 11)
        emit.Back(behind).AddField("macroblock_stuffing", 15, 11, header);
    for (int i = 0; i < rec.escapeCount; ++i, behind -= 11)
        emit.Back(behind).AddField("macroblock_escape", 8, 11, header);
    emit.AddVlc("macroblock_address_increment", inc.value, inc.code, inc.length, header);
    emit.AddValue("macroblock_address", static_cast<int>(address), header);
    sink.Located(rec);

    if (!ReadMacroblockModes(p, emit, rec, header)) {
        sink.HeaderFailed();
        return false;
    }
    if (rec.macroblock_quant) {
        mb.currentQuantiserScaleCode = static_cast<uint8_t>(ReadField(
            p, emit, mpeg2 ? vf::quantiser_scale_code : vf::macroblock_quantizer_scale, header));
    }
    rec.quantiser_scale_code = mb.currentQuantiserScaleCode;
    rec.quantiser_scale = static_cast<uint8_t>(MacroblockLayer::QuantiserScale(
        mb.currentQuantiserScaleCode, mpeg2, v.coding.q_scale_type == 1));

    if (rec.macroblock_motion_forward ||
        (rec.macroblock_intra && v.coding.concealment_motion_vectors)) {
        if (!ReadMotionVectors(p, emit, 0, rec, header)) {
            sink.HeaderFailed();
            return false;
        }
    }
    if (rec.macroblock_motion_backward && !ReadMotionVectors(p, emit, 1, rec, header)) {
        sink.HeaderFailed();
        return false;
    }
    // A P field macroblock without forward vectors predicts from the field of its own parity.
    const int structure = v.coding.picture_structure;
    if (pictureType == kPictureP && structure != kFramePicture && !rec.macroblock_intra &&
        !rec.macroblock_motion_forward)
        rec.motion_vertical_field_select[0][0] = structure == kBottomField ? 1 : 0;
    sink.Motion(rec);
    if (rec.macroblock_intra && v.coding.concealment_motion_vectors) {
        rec.concealmentMarker = static_cast<uint8_t>(ReadField(p, emit, field::kMarkerBit, header));
    }
    if (!ReadCodedBlockPattern(p, emit, rec, header)) {
        sink.HeaderFailed();
        return false;
    }

    if (!rec.macroblock_intra || skippedBefore)
        std::memset(mb.dcPredictor, 0, sizeof mb.dcPredictor);
    std::memcpy(rec.dcPredictor, mb.dcPredictor, sizeof rec.dcPredictor);
    if (!sink.Blocks(rec)) {
        sink.BlocksFailed(rec);
        previousAddress = static_cast<int>(address);
        return false;
    }
    if (pictureType == kPictureD) sink.EndOfMacroblock(p.ReadBits(1));
    ResetMotionPredictors(v, rec);
    mb.previousMotionForward = rec.macroblock_motion_forward;
    mb.previousMotionBackward = rec.macroblock_motion_backward;
    sink.Done(rec);
    previousAddress = static_cast<int>(address);
    return true;
}

}  // namespace bitloupe
