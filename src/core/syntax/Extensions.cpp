// The extensions behind extension_start_code, and user data.
//
// Sequence-level extensions (sequence, sequence display, sequence scalable) hang under the
// video stream item; all others under the current picture, whose records they update.
#include <algorithm>
#include <cstdio>

#include "core/syntax/ParseContext.h"
#include "core/syntax/VideoFields.h"
#include "core/syntax/VideoHeaders.h"
#include "core/syntax/VideoTables.h"

namespace bitloupe {

using namespace video_tables;
namespace vf = video_fields;

namespace {

// The two items every extension starts with.
void AddExtensionStart(Emitters& emit, uint32_t id, TreeItem item) {
    // The identifier was read to tell which extension this is.
    emit.Back(36).Record(vf::extension_start_code, 0x1B5, item);
    emit.Record(vf::extension_start_code_identifier, id, item);
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
    emit.Record(vf::user_data_start_code, 0x1B2, item);
    // Every byte up to the next start code prefix.
    for (int index = 1; p_.PeekBits(24) != 0x000001 && !p_.AtEnd(); ++index)
        emit.AddIndexedHexBytes(vf::user_data.name, index, p_.ReadByte(), 1, item);
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

    TreeItem plItem = 0;
    const uint32_t pl = ReadField(p_, emit, vf::profile_and_level_indication, item, &plItem);
    st.profile_and_level_indication = static_cast<uint8_t>(pl);
    // With the escape bit set the other seven bits mean something else; profile and level
    // are shown as 0 then. The three stand for no bits of their own.
    const uint32_t escape = pl >> 7;
    const uint32_t profile = escape ? 0 : (pl >> 4) & 7;
    const uint32_t level = escape ? 0 : pl & 0x0F;
    emit.MarkVirtual(emit.Back(8).Record(vf::escape_bit, escape, plItem));
    emit.MarkVirtual(emit.Back(7).Record(vf::profile_indication, profile, plItem));
    emit.MarkVirtual(emit.Back(4).Record(vf::level_indication, level, plItem));

    st.progressive_sequence =
        static_cast<uint8_t>(ReadField(p_, emit, vf::progressive_sequence, item));
    const uint32_t chroma = ReadField(p_, emit, vf::chroma_format, item);
    st.chroma_format = static_cast<uint8_t>(chroma);
    st.blockCount = kBlocksPerMacroblock[chroma];

    // The size extensions are the upper bits of the sequence header's 12-bit sizes; they
    // replace, never accumulate, so a repeated extension gives the same size.
    const uint32_t hExt = ReadField(p_, emit, vf::horizontal_size_extension, item);
    st.horizontal_size = st.horizontal_size_value + hExt * 4096;
    st.displayWidth = st.horizontal_size;
    const uint32_t vExt = ReadField(p_, emit, vf::vertical_size_extension, item);
    st.vertical_size = st.vertical_size_value + vExt * 4096;
    st.displayHeight = st.vertical_size;
    UpdateMacroblockDimensions();
    UpdatePelAspectRatio();

    // 30 bits of 400 bit/s units exceed 32 bits of bit/s; the state keeps the most it can.
    const uint32_t rateExt = ReadField(p_, emit, vf::bit_rate_extension, item);
    const uint64_t rate = (uint64_t{rateExt} << 18 | st.bit_rate_value) * 400;
    st.bitRate = static_cast<uint32_t>(std::min<uint64_t>(rate, UINT32_MAX));
    ReadField(p_, emit, field::kMarkerBit, item);
    const uint32_t vbvExt = ReadField(p_, emit, vf::vbv_buffer_size_extension, item);
    st.vbvSize = uint32_t{st.vbv_buffer_size_value} * 16 + vbvExt * 16384;
    st.low_delay = static_cast<uint8_t>(ReadField(p_, emit, vf::low_delay, item));
    st.frame_rate_extension_n =
        static_cast<uint8_t>(ReadField(p_, emit, vf::frame_rate_extension_n, item));
    st.frame_rate_extension_d =
        static_cast<uint8_t>(ReadField(p_, emit, vf::frame_rate_extension_d, item));
}

void VideoHeaders::ParseSequenceDisplayExtension(TreeItem item) {
    CStreamState& st = p_.stream;
    Emitters& emit = p_.emit;
    AddExtensionStart(emit, kSequenceDisplayExtensionId, item);

    st.video_format = static_cast<uint8_t>(ReadField(p_, emit, vf::video_format, item));
    if (ReadField(p_, emit, vf::colour_description, item)) {
        auto describe = [&](const FieldDesc& d) {
            return static_cast<uint8_t>(ReadField(p_, emit, d, item));
        };
        st.colour_primaries = describe(vf::colour_primaries);
        st.transfer_characteristics = describe(vf::transfer_characteristics);
        SelectColourMatrix(describe(vf::matrix_coefficients));
        UpdateGreyColour();
    }

    st.displayWidth = ReadField(p_, emit, vf::display_horizontal_size, item);
    ReadField(p_, emit, field::kMarkerBit, item);
    st.displayHeight = ReadField(p_, emit, vf::display_vertical_size, item);
    UpdatePelAspectRatio();
}

void VideoHeaders::ParseSequenceScalableExtension(TreeItem item) {
    CStreamState& st = p_.stream;
    Emitters& emit = p_.emit;
    AddExtensionStart(emit, kSequenceScalableExtensionId, item);

    auto read = [&](const FieldDesc& d) { return ReadField(p_, emit, d, item); };
    st.scalable_mode = static_cast<uint8_t>(read(vf::scalable_mode));
    read(vf::layer_id);
    if (st.scalable_mode == kSpatialScalability) {
        for (const FieldDesc* d :
             {&vf::lower_layer_prediction_horizontal_size, &field::kMarkerBit,
              &vf::lower_layer_prediction_vertical_size, &vf::horizontal_subsampling_factor_m,
              &vf::horizontal_subsampling_factor_n, &vf::vertical_subsampling_factor_m,
              &vf::vertical_subsampling_factor_n})
            read(*d);
    } else if (st.scalable_mode == kTemporalScalability) {
        if (read(vf::picture_mux_enable)) read(vf::mux_to_progressive_sequence);
        read(vf::picture_mux_order);
        read(vf::picture_mux_factor);
    }
}

void VideoHeaders::ParseQuantMatrixExtension(TreeItem item) {
    Emitters& emit = p_.emit;
    QuantMatrixSet& q = p_.v.quant;
    AddExtensionStart(emit, kQuantMatrixExtensionId, item);

    struct Entry {
        const FieldDesc& load;
        QuantMatrix* matrix;
        QuantMatrix* chroma;  // also takes a loaded luma matrix
    };
    const Entry entries[4] = {
        {vf::load_intra_quantiser_matrix, &q.intra, &q.chromaIntra},
        {vf::load_non_intra_quantiser_matrix, &q.nonIntra, &q.chromaNonIntra},
        {vf::load_chroma_intra_quantiser_matrix, &q.chromaIntra, nullptr},
        {vf::load_chroma_non_intra_quantiser_matrix, &q.chromaNonIntra, nullptr},
    };
    // A matrix not loaded keeps the values it had.
    for (const Entry& e : entries) {
        TreeItem flag = 0;
        const uint32_t load = ReadField(p_, emit, e.load, item, &flag);
        e.matrix->loaded = static_cast<uint8_t>(load);
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

    auto read = [&](const FieldDesc& d) { return ReadField(p_, emit, d, item); };
    read(vf::copyright_flag);
    p_.ReadBits(8);  // copyright_identifier, not listed
    read(vf::original_or_copy);
    read(vf::copyright_reserved);
    read(field::kMarkerBit);
    const uint32_t n1 = read(vf::copyright_number_1);
    read(field::kMarkerBit);
    const uint32_t n2 = read(vf::copyright_number_2);
    read(field::kMarkerBit);
    const uint32_t n3 = read(vf::copyright_number_3);

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
    auto read = [&](const FieldDesc& f) { return ReadField(p_, emit, f, item); };
    for (int i = 0; i < count; ++i) {
        d.frame_centre_horizontal_offset[i] =
            static_cast<int16_t>(read(vf::frame_centre_horizontal_offset[i]));
        d.horizontalMarker[i] = static_cast<uint8_t>(read(field::kMarkerBit));
        d.frame_centre_vertical_offset[i] =
            static_cast<int16_t>(read(vf::frame_centre_vertical_offset[i]));
        d.verticalMarker[i] = static_cast<uint8_t>(read(field::kMarkerBit));
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

    auto read = [&](const FieldDesc& d) {
        return static_cast<uint8_t>(ReadField(p_, emit, d, item));
    };
    for (int s = 0; s < 2; ++s)
        for (int t = 0; t < 2; ++t) c.f_code[s][t] = read(vf::f_code[s][t]);
    c.intra_dc_precision = read(vf::intra_dc_precision);

    // A field picture holds half the frame's macroblocks.
    const TreeItem picture = tree.GetParentItem(item);
    c.picture_structure = read(vf::picture_structure);
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

    struct Flag {
        const FieldDesc& field;
        uint8_t* value;
    };
    const Flag flags[] = {
        {vf::top_field_first, &c.top_field_first},
        {vf::frame_pred_frame_dct, &c.frame_pred_frame_dct},
        {vf::concealment_motion_vectors, &c.concealment_motion_vectors},
        {vf::q_scale_type, &c.q_scale_type},
        {vf::intra_vlc_format, &c.intra_vlc_format},
        {vf::alternate_scan, &c.alternate_scan},
        {vf::repeat_first_field, &c.repeat_first_field},
        {vf::chroma_420_type, &c.chroma_420_type},
        {vf::progressive_frame, &c.progressive_frame},
        {vf::composite_display_flag, &c.composite_display_flag},
    };
    for (const Flag& f : flags) *f.value = read(f.field);

    // The composite signal values exist only with the flag; without it they are 0.
    c.v_axis = c.field_sequence = c.sub_carrier = c.burst_amplitude = c.sub_carrier_phase = 0;
    c.subCarrierPhaseDegrees = 0.0;
    if (c.composite_display_flag) {
        c.v_axis = read(vf::v_axis);
        c.field_sequence = read(vf::field_sequence);
        c.sub_carrier = read(vf::sub_carrier);
        c.burst_amplitude = read(vf::burst_amplitude);
        c.sub_carrier_phase = static_cast<uint8_t>(p_.ReadBits(8));
        c.subCarrierPhaseDegrees = c.sub_carrier_phase * 1.40625;
        emit.Bits(8).AddItemF(item, "sub_carrier_phase=(%d*360/256)=%g degree (8 bits)",
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

    auto read = [&](const FieldDesc& d) { return ReadField(p_, emit, d, item); };
    s.lower_layer_temporal_reference =
        static_cast<uint16_t>(read(vf::lower_layer_temporal_reference));
    s.temporalReferenceMarker = static_cast<uint8_t>(read(field::kMarkerBit));
    s.lower_layer_horizontal_offset = static_cast<int16_t>(read(vf::lower_layer_horizontal_offset));
    s.horizontalOffsetMarker = static_cast<uint8_t>(read(field::kMarkerBit));
    s.lower_layer_vertical_offset = static_cast<int16_t>(read(vf::lower_layer_vertical_offset));
    s.spatial_temporal_weight_code_table_index =
        static_cast<uint8_t>(read(vf::spatial_temporal_weight_code_table_index));
    s.lower_layer_progressive_frame = static_cast<uint8_t>(read(vf::lower_layer_progressive_frame));
    s.lower_layer_deinterlaced_field_select =
        static_cast<uint8_t>(read(vf::lower_layer_deinterlaced_field_select));
    p_.stream.spatialScalableRecords[item] = s;
}

void VideoHeaders::ParsePictureTemporalScalableExtension(TreeItem item) {
    Emitters& emit = p_.emit;
    AddExtensionStart(emit, kPictureTemporalScalableExtensionId, item);
    for (const FieldDesc* d : {&vf::reference_select_code, &vf::forward_temporal_reference,
                               &field::kMarkerBit, &vf::backward_temporal_reference})
        ReadField(p_, emit, *d, item);
}

}  // namespace bitloupe
