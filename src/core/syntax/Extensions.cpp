// The extensions behind extension_start_code, and user data.
//
// Sequence-level extensions (sequence, sequence display, sequence scalable) hang under the
// video stream item; all others under the current picture, whose records they update.
#include <algorithm>
#include <cstdio>

#include "core/syntax/ParseContext.h"
#include "core/syntax/VideoHeaders.h"
#include "core/syntax/VideoTables.h"

namespace bitloupe {

using namespace video_tables;

namespace {

// The two items every extension starts with.
void AddExtensionStart(Emitters& emit, uint32_t id, TreeItem item) {
    // The identifier was read to tell which extension this is.
    emit.Back(36).AddHexBytes("extension_start_code", 0x1B5, 4, item);
    emit.AddEnumField("extension_start_code_identifier", kExtensionIdNames, id, 4, item);
}

bool IsSequenceLevel(uint32_t id) {
    return id == kSequenceExtensionId || id == kSequenceDisplayExtensionId ||
           id == kSequenceScalableExtensionId;
}

}  // namespace

void VideoHeaders::ParseUserData() {
    Emitters& emit = p_.emit;
    const TreeItem item =
        p_.tree.InsertItem("User Data", image::kPlain, kind::kUserData, p_.v.currentGopItem);
    emit.AddOffsetItem(item, 4);
    emit.AddHexBytes("user_data_start_code", 0x1B2, 4, item);
    // Every byte up to the next start code prefix.
    for (int index = 1; p_.PeekBits(24) != 0x000001 && !p_.AtEnd(); ++index)
        emit.AddIndexedHexBytes("user_data", index, p_.ReadByte(), 1, item);
}

void VideoHeaders::ParseExtension() {
    ItemPosition pos;
    p_.GetPosition(pos, false);
    const uint32_t id = p_.ReadBits(4);
    const bool sequenceLevel = IsSequenceLevel(id);
    const TreeItem item =
        p_.tree.InsertItem(kExtensionNames[id], sequenceLevel ? image::kSequence : image::kHeader,
                           sequenceLevel ? kind::kSequenceExtension : kind::kExtension,
                           sequenceLevel ? p_.stream.videoItem : p_.v.currentPictureItem);
    p_.emit.AddFileOffset("file_offset", pos, item, 4);
    switch (id) {
        case kSequenceExtensionId:
            ParseSequenceExtension(item);
            break;
        case kSequenceDisplayExtensionId:
            ParseSequenceDisplayExtension(item);
            break;
        case kQuantMatrixExtensionId:
            ParseQuantMatrixExtension(item);
            break;
        case kCopyrightExtensionId:
            ParseCopyrightExtension(item);
            break;
        case kSequenceScalableExtensionId:
            ParseSequenceScalableExtension(item);
            break;
        case kPictureDisplayExtensionId:
            ParsePictureDisplayExtension(item);
            break;
        case kPictureCodingExtensionId:
            ParsePictureCodingExtension(item);
            break;
        case kPictureSpatialScalableExtensionId:
            ParsePictureSpatialScalableExtension(item);
            break;
        case kPictureTemporalScalableExtensionId:
            ParsePictureTemporalScalableExtension(item);
            break;
        default:
            break;  // reserved: the item says so, the scan goes on
    }
}

void VideoHeaders::ParseSequenceExtension(TreeItem item) {
    CStreamState& st = p_.stream;
    Emitters& emit = p_.emit;
    AddExtensionStart(emit, kSequenceExtensionId, item);

    const uint32_t pl = p_.ReadBits(8);
    st.profile_and_level_indication = static_cast<uint8_t>(pl);
    const TreeItem plItem = emit.AddBitString("profile_and_level_indication", pl, 8, item);
    // With the escape bit set the other seven bits mean something else; profile and level
    // are shown as 0 then.
    const uint32_t escape = pl >> 7;
    const uint32_t profile = escape ? 0 : (pl >> 4) & 7;
    const uint32_t level = escape ? 0 : pl & 0x0F;
    emit.MarkVirtual(emit.AddBit("escape_bit", escape, plItem));
    emit.MarkVirtual(emit.AddEnumField("profile_indication", kProfileNames, profile, 3, plItem));
    emit.MarkVirtual(emit.AddEnumField("level_indication", kLevelNames, level, 4, plItem));

    st.progressive_sequence = static_cast<uint8_t>(p_.ReadBits(1));
    emit.AddBit("progressive_sequence", st.progressive_sequence, item);
    const uint32_t chroma = p_.ReadBits(2);
    st.chroma_format = static_cast<uint8_t>(chroma);
    st.blockCount = kBlocksPerMacroblock[chroma];
    emit.AddEnumField("chroma_format", kChromaFormatNames, chroma, 2, item);

    // The size extensions are the upper bits of the sequence header's 12-bit sizes; they
    // replace, never accumulate, so a repeated extension gives the same size.
    const uint32_t hExt = p_.ReadBits(2);
    st.horizontal_size = st.horizontal_size_value + hExt * 4096;
    st.displayWidth = st.horizontal_size;
    emit.AddField("horizontal_size_extension", static_cast<int>(hExt), 2, item);
    const uint32_t vExt = p_.ReadBits(2);
    st.vertical_size = st.vertical_size_value + vExt * 4096;
    st.displayHeight = st.vertical_size;
    UpdateMacroblockDimensions();
    UpdatePelAspectRatio();
    emit.AddField("vertical_size_extension", static_cast<int>(vExt), 2, item);

    // 30 bits of 400 bit/s units exceed 32 bits of bit/s; the state keeps the most it can.
    const uint32_t rateExt = p_.ReadBits(12);
    const uint64_t rate = (uint64_t{rateExt} << 18 | st.bit_rate_value) * 400;
    st.bitRate = static_cast<uint32_t>(std::min<uint64_t>(rate, UINT32_MAX));
    emit.AddFieldWithUnit("bit_rate_extension", int64_t{rateExt} * 400 * 262144, "bps", rateExt, 12,
                          item);
    emit.AddMarkerBit(p_.ReadBits(1), item);
    const uint32_t vbvExt = p_.ReadByte();
    st.vbvSize = uint32_t{st.vbv_buffer_size_value} * 16 + vbvExt * 16384;
    emit.AddFieldWithUnit("vbv_buffer_size_extension", int64_t{vbvExt} * 16384, "KB", vbvExt, 8,
                          item);
    st.low_delay = static_cast<uint8_t>(p_.ReadBits(1));
    emit.AddBit("low_delay", st.low_delay, item);
    st.frame_rate_extension_n = static_cast<uint8_t>(p_.ReadBits(2));
    emit.AddBitsValue("frame_rate_extension_n", st.frame_rate_extension_n, 2, item);
    st.frame_rate_extension_d = static_cast<uint8_t>(p_.ReadBits(5));
    emit.AddBitsValue("frame_rate_extension_d", st.frame_rate_extension_d, 5, item);
}

void VideoHeaders::ParseSequenceDisplayExtension(TreeItem item) {
    CStreamState& st = p_.stream;
    Emitters& emit = p_.emit;
    TreeStore& tree = p_.tree;
    AddExtensionStart(emit, kSequenceDisplayExtensionId, item);

    const uint32_t bits = p_.ReadBits(4);
    st.video_format = static_cast<uint8_t>(bits >> 1);
    const uint32_t colourDescription = bits & 1;
    emit.Back(4).AddEnumField("video_format", kVideoFormatNames, st.video_format, 3, item);
    emit.AddBit("colour_description", colourDescription, item);
    if (colourDescription) {
        auto describe = [&](const char* name, const ByteNameTable& names) {
            const uint8_t code = p_.ReadByte();
            const TreeItem t = emit.AddEnumFieldDec(name, names.data(), code, 8, item);
            if (code == 0) tree.SetItemImage(t, image::kError);
            return code;
        };
        st.colour_primaries = describe("colour_primaries", kColourPrimariesByte);
        st.transfer_characteristics =
            describe("transfer_characteristics", kTransferCharacteristicsByte);
        const uint8_t matrix = describe("matrix_coefficients", kMatrixCoefficientsByte);
        SelectColourMatrix(matrix);
        UpdateGreyColour();
    }

    st.displayWidth = p_.ReadBits(14);
    emit.AddField("display_horizontal_size", static_cast<int>(st.displayWidth), 14, item);
    emit.AddMarkerBit(p_.ReadBits(1), item);
    st.displayHeight = p_.ReadBits(14);
    emit.AddField("display_vertical_size", static_cast<int>(st.displayHeight), 14, item);
    UpdatePelAspectRatio();
}

void VideoHeaders::ParseSequenceScalableExtension(TreeItem item) {
    CStreamState& st = p_.stream;
    Emitters& emit = p_.emit;
    AddExtensionStart(emit, kSequenceScalableExtensionId, item);

    st.scalable_mode = static_cast<uint8_t>(p_.ReadBits(2));
    emit.AddEnumField("scalable_mode", kScalableModeNames, st.scalable_mode, 2, item);
    emit.AddField("layer_id", static_cast<int>(p_.ReadBits(4)), 4, item);
    if (st.scalable_mode == kSpatialScalability) {
        emit.AddField("lower_layer_prediction_horizontal_size", static_cast<int>(p_.ReadBits(14)),
                      14, item);
        emit.AddMarkerBit(p_.ReadBits(1), item);
        emit.AddField("lower_layer_prediction_vertical_size", static_cast<int>(p_.ReadBits(14)), 14,
                      item);
        for (const char* name :
             {"horizontal_subsampling_factor_m", "horizontal_subsampling_factor_n",
              "vertical_subsampling_factor_m", "vertical_subsampling_factor_n"})
            emit.AddField(name, static_cast<int>(p_.ReadBits(5)), 5, item);
    } else if (st.scalable_mode == kTemporalScalability) {
        const uint32_t muxEnable = p_.ReadBits(1);
        emit.AddBit("picture_mux_enable", muxEnable, item);
        if (muxEnable) emit.AddBit("mux_to_progressive_sequence", p_.ReadBits(1), item);
        emit.AddField("picture_mux_order", static_cast<int>(p_.ReadBits(3)), 3, item);
        emit.AddField("picture_mux_factor", static_cast<int>(p_.ReadBits(3)), 3, item);
    }
}

void VideoHeaders::ParseQuantMatrixExtension(TreeItem item) {
    Emitters& emit = p_.emit;
    QuantMatrixSet& q = p_.v.quant;
    AddExtensionStart(emit, kQuantMatrixExtensionId, item);

    struct Entry {
        const char* name;
        QuantMatrix* matrix;
        QuantMatrix* chroma;  // also takes a loaded luma matrix
    };
    const Entry entries[4] = {
        {"load_intra_quantiser_matrix", &q.intra, &q.chromaIntra},
        {"load_non_intra_quantiser_matrix", &q.nonIntra, &q.chromaNonIntra},
        {"load_chroma_intra_quantiser_matrix", &q.chromaIntra, nullptr},
        {"load_chroma_non_intra_quantiser_matrix", &q.chromaNonIntra, nullptr},
    };
    // A matrix not loaded keeps the values it had.
    for (const Entry& e : entries) {
        const uint32_t load = p_.ReadBits(1);
        e.matrix->loaded = static_cast<uint8_t>(load);
        const TreeItem flag = emit.AddBit(e.name, load, item);
        if (load) {
            ReadMatrix(e.matrix->values);
            if (e.chroma)
                std::copy(std::begin(e.matrix->values), std::end(e.matrix->values),
                          e.chroma->values);
        }
        emit.AddMatrix8Small(e.matrix->values, flag, !load);
    }
    p_.stream.quantMatrixRecords[p_.tree.GetParentItem(item)] = q;
}

void VideoHeaders::ParseCopyrightExtension(TreeItem item) {
    Emitters& emit = p_.emit;
    AddExtensionStart(emit, kCopyrightExtensionId, item);

    emit.AddBit("copyright_flag", p_.ReadBits(1), item);
    p_.ReadBits(8);  // copyright_identifier, not listed
    emit.AddBit("original_or_copy", p_.ReadBits(1), item);
    emit.AddBitString("reserved", p_.ReadBits(7), 7, item);
    emit.AddMarkerBit(p_.ReadBits(1), item);
    const uint32_t n1 = p_.ReadBits(20);
    emit.AddBitString("copyright_number_1", n1, 20, item);
    emit.AddMarkerBit(p_.ReadBits(1), item);
    const uint32_t n2 = p_.ReadBits(22);
    emit.AddBitString("copyright_number_2", n2, 22, item);
    emit.AddMarkerBit(p_.ReadBits(1), item);
    const uint32_t n3 = p_.ReadBits(22);
    emit.AddBitString("copyright_number_3", n3, 22, item);

    // The three parts make one 64-bit number, the first part the most significant.
    const uint64_t number = uint64_t{n1} << 44 | uint64_t{n2} << 22 | n3;
    char text[64];
    const int len = std::snprintf(text, sizeof text, "copyright_number=0x%08llX (4 bytes)",
                                  static_cast<unsigned long long>(number));
    emit.InsertVirtual(text, len, item);
}

void VideoHeaders::ParsePictureDisplayExtension(TreeItem item) {
    CStreamState& st = p_.stream;
    Emitters& emit = p_.emit;
    AddExtensionStart(emit, kPictureDisplayExtensionId, item);

    // How many offsets follow depends on the picture's coding extension.
    const TreeItem picture = p_.tree.GetParentItem(item);
    const auto found = st.pictureCodingRecords.find(picture);
    if (found == st.pictureCodingRecords.end()) return;
    const PictureCodingRecord& c = found->second;
    int count;
    if (st.progressive_sequence)
        count = c.repeat_first_field ? (c.top_field_first ? 3 : 2) : 1;
    else if (c.picture_structure == kTopField || c.picture_structure == kBottomField)
        count = 1;
    else
        count = c.repeat_first_field ? 3 : 2;

    PictureDisplayExtension d;
    d.offsetCount = static_cast<uint8_t>(count);
    char name[64];
    for (int i = 0; i < count; ++i) {
        const uint32_t h = p_.ReadBits(16);
        d.frame_centre_horizontal_offset[i] = static_cast<int16_t>(h);
        std::snprintf(name, sizeof name, "frame_centre_horizontal_offset[%d]", i);
        emit.AddCodedField(name, d.frame_centre_horizontal_offset[i], h, 16, item);
        d.horizontalMarker[i] = static_cast<uint8_t>(p_.ReadBits(1));
        emit.AddMarkerBit(d.horizontalMarker[i], item);
        const uint32_t vOffset = p_.ReadBits(16);
        d.frame_centre_vertical_offset[i] = static_cast<int16_t>(vOffset);
        std::snprintf(name, sizeof name, "frame_centre_vertical_offset[%d]", i);
        emit.AddCodedField(name, d.frame_centre_vertical_offset[i], vOffset, 16, item);
        d.verticalMarker[i] = static_cast<uint8_t>(p_.ReadBits(1));
        emit.AddMarkerBit(d.verticalMarker[i], item);
    }
    p_.v.display = d;
    st.pictureDisplayRecords[picture] = d;
}

void VideoHeaders::ParsePictureCodingExtension(TreeItem item) {
    CStreamState& st = p_.stream;
    VideoState& v = p_.v;
    Emitters& emit = p_.emit;
    TreeStore& tree = p_.tree;
    PictureCodingExtension& c = v.coding;
    AddExtensionStart(emit, kPictureCodingExtensionId, item);

    c.f_code[0][0] = static_cast<uint8_t>(p_.ReadBits(4));
    const uint32_t middle = p_.ReadByte();
    c.f_code[0][1] = static_cast<uint8_t>(middle >> 4);
    c.f_code[1][0] = static_cast<uint8_t>(middle & 0x0F);
    c.f_code[1][1] = static_cast<uint8_t>(p_.ReadBits(4));
    emit.Back(16).AddField("f_code[0][0]", c.f_code[0][0], 4, item);
    emit.Back(12).AddField("f_code[0][1]", c.f_code[0][1], 4, item);
    emit.Back(8).AddField("f_code[1][0]", c.f_code[1][0], 4, item);
    emit.AddField("f_code[1][1]", c.f_code[1][1], 4, item);

    c.intra_dc_precision = static_cast<uint8_t>(p_.ReadBits(2));
    emit.AddFieldWithUnit("intra_dc_precision", c.intra_dc_precision + 8, "", c.intra_dc_precision,
                          2, item);

    // A field picture holds half the frame's macroblocks.
    const TreeItem picture = tree.GetParentItem(item);
    c.picture_structure = static_cast<uint8_t>(p_.ReadBits(2));
    const int32_t mbCount = st.mbCount > 0 ? st.mbCount : 0;
    if (c.picture_structure != kFramePicture) {
        c.mbsInPicture = static_cast<uint32_t>(mbCount) >> 1;
        if (tree.GetItemData(picture) == kind::kPicture) {
            if (c.picture_structure == kTopField) tree.SetItemImage(picture, image::kTopField);
            if (c.picture_structure == kBottomField)
                tree.SetItemImage(picture, image::kBottomField);
        }
    } else {
        c.mbsInPicture = static_cast<uint32_t>(mbCount);
    }
    emit.AddEnumField("picture_structure", kPictureStructureNames, c.picture_structure, 2, item);

    struct Flag {
        const char* name;
        uint8_t* value;
    };
    const Flag flags[] = {
        {"top_field_first", &c.top_field_first},
        {"frame_pred_frame_dct", &c.frame_pred_frame_dct},
        {"concealment_motion_vectors", &c.concealment_motion_vectors},
        {"q_scale_type", &c.q_scale_type},
        {"intra_vlc_format", &c.intra_vlc_format},
        {"alternate_scan", &c.alternate_scan},
        {"repeat_first_field", &c.repeat_first_field},
        {"chroma_420_type", &c.chroma_420_type},
        {"progressive_frame", &c.progressive_frame},
        {"composite_display_flag", &c.composite_display_flag},
    };
    for (const Flag& f : flags) {
        *f.value = static_cast<uint8_t>(p_.ReadBits(1));
        emit.AddBit(f.name, *f.value, item);
    }

    // The composite signal values exist only with the flag; without it they are 0.
    c.v_axis = c.field_sequence = c.sub_carrier = c.burst_amplitude = c.sub_carrier_phase = 0;
    c.subCarrierPhaseDegrees = 0.0;
    if (c.composite_display_flag) {
        c.v_axis = static_cast<uint8_t>(p_.ReadBits(1));
        emit.AddBit("v_axis", c.v_axis, item);
        c.field_sequence = static_cast<uint8_t>(p_.ReadBits(3));
        emit.AddEnumField("field_sequence", kFieldSequenceNames, c.field_sequence, 3, item);
        c.sub_carrier = static_cast<uint8_t>(p_.ReadBits(1));
        emit.AddBit("sub_carrier", c.sub_carrier, item);
        c.burst_amplitude = static_cast<uint8_t>(p_.ReadBits(7));
        emit.AddField("burst_amplitude", c.burst_amplitude, 7, item);
        c.sub_carrier_phase = static_cast<uint8_t>(p_.ReadBits(8));
        c.subCarrierPhaseDegrees = c.sub_carrier_phase * 1.40625;
        emit.AddItemF(item, "sub_carrier_phase=(%d*360/256)=%g degree (8 bits)",
                      c.sub_carrier_phase, c.subCarrierPhaseDegrees);
    }

    UpdatePredictionFrames();
    st.pictureCodingRecords[picture] = c;
    st.pictureRecords[picture] = v.picture;
}

void VideoHeaders::ParsePictureSpatialScalableExtension(TreeItem item) {
    Emitters& emit = p_.emit;
    PictureSpatialScalableExtension& s = p_.v.spatial;
    AddExtensionStart(emit, kPictureSpatialScalableExtensionId, item);

    s.lower_layer_temporal_reference = static_cast<uint16_t>(p_.ReadBits(10));
    emit.AddField("lower_layer_temporal_reference", s.lower_layer_temporal_reference, 10, item);
    s.temporalReferenceMarker = static_cast<uint8_t>(p_.ReadBits(1));
    emit.AddMarkerBit(s.temporalReferenceMarker, item);
    s.lower_layer_horizontal_offset = static_cast<int16_t>(p_.ReadBits(15));
    emit.AddField("lower_layer_horizontal_offset", s.lower_layer_horizontal_offset, 15, item);
    s.horizontalOffsetMarker = static_cast<uint8_t>(p_.ReadBits(1));
    emit.AddMarkerBit(s.horizontalOffsetMarker, item);
    s.lower_layer_vertical_offset = static_cast<int16_t>(p_.ReadBits(15));
    emit.AddField("lower_layer_vertical_offset", s.lower_layer_vertical_offset, 15, item);
    s.spatial_temporal_weight_code_table_index = static_cast<uint8_t>(p_.ReadBits(2));
    emit.AddBitsValue("spatial_temporal_weight_code_table_index",
                      s.spatial_temporal_weight_code_table_index, 2, item);
    s.lower_layer_progressive_frame = static_cast<uint8_t>(p_.ReadBits(1));
    emit.AddBit("lower_layer_progressive_frame", s.lower_layer_progressive_frame, item);
    s.lower_layer_deinterlaced_field_select = static_cast<uint8_t>(p_.ReadBits(1));
    emit.AddBit("lower_layer_deinterlaced_field_select", s.lower_layer_deinterlaced_field_select,
                item);
    p_.stream.spatialScalableRecords[item] = s;
}

void VideoHeaders::ParsePictureTemporalScalableExtension(TreeItem item) {
    Emitters& emit = p_.emit;
    AddExtensionStart(emit, kPictureTemporalScalableExtensionId, item);
    emit.AddBitString("reference_select_code", p_.ReadBits(2), 2, item);
    emit.AddField("forward_temporal_reference", static_cast<int>(p_.ReadBits(10)), 10, item);
    emit.AddMarkerBit(p_.ReadBits(1), item);
    emit.AddField("backward_temporal_reference", static_cast<int>(p_.ReadBits(10)), 10, item);
}

}  // namespace bitloupe
