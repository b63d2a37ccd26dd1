// The video layer's picture-level state: tree anchors of the parse in progress, the fields of
// the current picture header and its extensions, the quantiser matrices, the slice and
// macroblock state and the history of reference pictures. A plain struct, so the pause
// checkpoint can copy it whole.
#pragma once

#include <array>
#include <cstdint>

#include "core/syntax/MacroblockRecord.h"
#include "core/tree/TreeStore.h"

namespace bitloupe {

// Four quantiser matrices in natural (row by row) order, each with its load flag.
struct QuantMatrix {
    uint8_t loaded = 0;
    uint8_t values[64] = {};
};
struct QuantMatrixSet {
    QuantMatrix intra, nonIntra, chromaIntra, chromaNonIntra;
};

// The picture header's fields, stored per picture item.
struct PictureRecord {
    uint16_t temporal_reference = 0;
    uint8_t picture_coding_type = 0;
    uint16_t vbv_delay = 0;
    uint8_t full_pel_forward_vector = 0;
    uint8_t forward_f_code = 0;
    uint8_t full_pel_backward_vector = 0;
    uint8_t backward_f_code = 0;
    uint8_t extra_bit_picture = 0;
    uint8_t referenceKept = 0;
    uint16_t secondField = 0;
    // The picture's sequence: 1 + its index in the stream state's sequenceRecords (0 none).
    uint32_t sequence = 0;
};

// The picture coding extension's fields (MPEG-1 pictures get fixed defaults).
struct PictureCodingExtension {
    uint8_t f_code[2][2] = {{15, 15}, {15, 15}};
    uint8_t intra_dc_precision = 0;
    uint8_t picture_structure = 3;
    uint8_t top_field_first = 0;
    uint8_t frame_pred_frame_dct = 1;
    uint8_t concealment_motion_vectors = 0;
    uint8_t q_scale_type = 0;
    uint8_t intra_vlc_format = 0;
    uint8_t alternate_scan = 0;
    uint8_t repeat_first_field = 0;
    uint8_t chroma_420_type = 0;
    uint8_t progressive_frame = 1;
    uint8_t composite_display_flag = 0;
    uint8_t v_axis = 0;
    uint8_t field_sequence = 0;
    uint8_t sub_carrier = 0;
    uint8_t burst_amplitude = 0;
    uint8_t sub_carrier_phase = 0;
    uint32_t mbsInPicture = 0;
    double subCarrierPhaseDegrees = 0.0;  // sub_carrier_phase * 360 / 256
};

struct PictureDisplayExtension {
    int16_t frame_centre_horizontal_offset[3] = {};
    int16_t frame_centre_vertical_offset[3] = {};
    uint8_t offsetCount = 1;
    // The marker bits after each horizontal and each vertical offset.
    uint8_t horizontalMarker[3] = {};
    uint8_t verticalMarker[3] = {};
};

struct PictureSpatialScalableExtension {
    uint16_t lower_layer_temporal_reference = 0;
    int16_t lower_layer_horizontal_offset = 0;
    int16_t lower_layer_vertical_offset = 0;
    uint8_t spatial_temporal_weight_code_table_index = 0;
    uint8_t lower_layer_progressive_frame = 0;
    uint8_t lower_layer_deinterlaced_field_select = 0;
    // The marker bits after lower_layer_temporal_reference and lower_layer_horizontal_offset.
    uint8_t temporalReferenceMarker = 0;
    uint8_t horizontalOffsetMarker = 0;
};

struct SliceHeader {
    uint32_t slice_vertical_position = 0;
    uint8_t slice_vertical_position_extension = 0;
    uint8_t priority_breakpoint = 0;
    uint8_t quantiser_scale_code = 0;
    uint8_t intra_slice_flag = 0;
    uint8_t intra_slice = 0;
    uint8_t slice_picture_id_enable = 0;
    uint8_t slice_picture_id = 0;
    uint8_t reserved_bits = 0;  // the 7 bits after intra_slice, as read
    uint8_t extra_bit_slice = 0;
    uint8_t extra_information_slice = 0;  // the last one read
};

struct ReferenceEntry {
    uint8_t picture_coding_type = 0;
    uint8_t picture_structure = 0;
    uint16_t temporal_reference = 0xFFFF;
    TreeItem item = 0;
};

struct VideoState {
    // Tree anchors of the parse in progress.
    TreeItem currentGopItem = 0;
    TreeItem currentPictureItem = 0;
    TreeItem firstGopItem = 0;
    TreeItem firstPictureItem = 0;
    TreeItem firstMacroblockItem = 0;
    TreeItem firstBlockItem = 0;

    int32_t picturesInGop = -1;
    int32_t slicesInPicture = 0;
    int32_t lastTemporalReference = -1;

    PictureRecord picture;
    PictureCodingExtension coding;
    PictureDisplayExtension display;
    PictureSpatialScalableExtension spatial;
    QuantMatrixSet quant;

    SliceHeader slice;
    uint32_t macroblocksInSlice = 0;
    bool macroblockError = false;
    int32_t dcPredictor[3] = {};
    uint8_t quantiser_scale_code = 0;

    std::array<ReferenceEntry, 4> referenceHistory{};

    // The running state of the macroblocks of the slice being parsed.
    MacroblockState mb;
};

}  // namespace bitloupe
