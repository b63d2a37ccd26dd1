// The fixed-width fields of the video layer: sequence, GOP and picture headers, the
// extensions, the slice header and the macroblock's fixed-width parts. Where the two standards
// name an element differently, each name has its own descriptor.
#pragma once

#include "core/syntax/FieldDesc.h"
#include "core/syntax/VideoTables.h"

namespace bitloupe::video_fields {

using namespace field;
using namespace video_tables;

// --- start codes (read by the scan, recorded behind it) ---
inline constexpr FieldDesc sequence_header_code = Hex("sequence_header_code", 4);
inline constexpr FieldDesc group_start_code = Hex("group_start_code", 4);
inline constexpr FieldDesc picture_start_code = Hex("picture_start_code", 4);
inline constexpr FieldDesc slice_start_code = Hex("slice_start_code", 4);
inline constexpr FieldDesc extension_start_code = Hex("extension_start_code", 4);
inline constexpr FieldDesc user_data_start_code = Hex("user_data_start_code", 4);

// --- sequence header ---
inline constexpr FieldDesc horizontal_size_value = Number("horizontal_size_value", 12);
inline constexpr FieldDesc horizontal_size = Number("horizontal_size", 12);
inline constexpr FieldDesc vertical_size_value = Number("vertical_size_value", 12);
inline constexpr FieldDesc vertical_size = Number("vertical_size", 12);
inline constexpr FieldDesc aspect_ratio_information =
    Meaning("aspect_ratio_information", 4, kAspectRatioNames, Rule::kNotZero);
inline constexpr FieldDesc pel_aspect_ratio =
    Meaning("pel_aspect_ratio", 4, kPelAspectRatioNames, Rule::kNotZero);
inline constexpr FieldDesc frame_rate_code =
    Meaning("frame_rate_code", 4, kFrameRateNames, Rule::kNotZero);
inline constexpr FieldDesc picture_rate =
    Meaning("picture_rate", 4, kFrameRateNames, Rule::kNotZero);
inline constexpr FieldDesc bit_rate_value = Scaled("bit_rate_value", 18, 400, "bps");
inline constexpr FieldDesc bit_rate = Scaled("bit_rate", 18, 400, "bps");
inline constexpr FieldDesc vbv_buffer_size_value = Scaled("vbv_buffer_size_value", 10, 16, "KB");
inline constexpr FieldDesc vbv_buffer_size = Scaled("vbv_buffer_size", 10, 16, "KB");
inline constexpr FieldDesc constrained_parameters_flag = Flag("constrained_parameters_flag");
inline constexpr FieldDesc load_intra_quantizer_matrix = Flag("load_intra_quantizer_matrix");
inline constexpr FieldDesc load_non_intra_quantizer_matrix =
    Flag("load_non_intra_quantizer_matrix");

// --- GOP header ---
inline constexpr FieldDesc drop_frame_flag = Flag("drop_frame_flag");
inline constexpr FieldDesc time_code_hours = Count("time_code_hours", 5);
inline constexpr FieldDesc time_code_minutes = Count("time_code_minutes", 6);
inline constexpr FieldDesc time_code_seconds = Count("time_code_seconds", 6);
inline constexpr FieldDesc time_code_pictures = Count("time_code_pictures", 6);
inline constexpr FieldDesc closed_gop = Flag("closed_gop");
inline constexpr FieldDesc broken_link = Flag("broken_link");

// --- picture header ---
inline constexpr FieldDesc temporal_reference = Number("temporal_reference", 10);
// D pictures are MPEG-1's alone; the caller marks one in an MPEG-2 stream.
inline constexpr FieldDesc picture_coding_type =
    Meaning("picture_coding_type", 3, kPictureCodingTypeNames, Rule::kNotZero);
inline constexpr FieldDesc vbv_delay = Number("vbv_delay", 16);
inline constexpr FieldDesc full_pel_forward_vector = Flag("full_pel_forward_vector");
inline constexpr FieldDesc forward_f_code = Number("forward_f_code", 3);
inline constexpr FieldDesc full_pel_backward_vector = Flag("full_pel_backward_vector");
inline constexpr FieldDesc backward_f_code = Number("backward_f_code", 3);
inline constexpr FieldDesc extra_bit_picture = Flag("extra_bit_picture");
inline constexpr FieldDesc extra_information_picture = Count("extra_information_picture", 8);

// --- extensions ---
inline constexpr FieldDesc extension_start_code_identifier =
    Meaning("extension_start_code_identifier", 4, kExtensionIdNames);
inline constexpr FieldDesc user_data = Hex("user_data", 1);

// sequence extension
inline constexpr FieldDesc profile_and_level_indication =
    BitString("profile_and_level_indication", 8);
inline constexpr FieldDesc escape_bit = Flag("escape_bit");
inline constexpr FieldDesc profile_indication = Meaning("profile_indication", 3, kProfileNames);
inline constexpr FieldDesc level_indication = Meaning("level_indication", 4, kLevelNames);
inline constexpr FieldDesc progressive_sequence = Flag("progressive_sequence");
inline constexpr FieldDesc chroma_format = Meaning("chroma_format", 2, kChromaFormatNames);
inline constexpr FieldDesc horizontal_size_extension = Number("horizontal_size_extension", 2);
inline constexpr FieldDesc vertical_size_extension = Number("vertical_size_extension", 2);
inline constexpr FieldDesc bit_rate_extension =
    Scaled("bit_rate_extension", 12, int64_t{400} * 262144, "bps");
inline constexpr FieldDesc vbv_buffer_size_extension =
    Scaled("vbv_buffer_size_extension", 8, 16384, "KB");
inline constexpr FieldDesc low_delay = Flag("low_delay");
inline constexpr FieldDesc frame_rate_extension_n = Count("frame_rate_extension_n", 2);
inline constexpr FieldDesc frame_rate_extension_d = Count("frame_rate_extension_d", 5);

// sequence display extension
inline constexpr FieldDesc video_format = Meaning("video_format", 3, kVideoFormatNames);
inline constexpr FieldDesc colour_description = Flag("colour_description");
inline constexpr FieldDesc colour_primaries =
    MeaningDec("colour_primaries", 8, kColourPrimariesByte.data(), Rule::kNotZero);
inline constexpr FieldDesc transfer_characteristics =
    MeaningDec("transfer_characteristics", 8, kTransferCharacteristicsByte.data(), Rule::kNotZero);
inline constexpr FieldDesc matrix_coefficients =
    MeaningDec("matrix_coefficients", 8, kMatrixCoefficientsByte.data(), Rule::kNotZero);
inline constexpr FieldDesc display_horizontal_size = Number("display_horizontal_size", 14);
inline constexpr FieldDesc display_vertical_size = Number("display_vertical_size", 14);

// sequence scalable extension
inline constexpr FieldDesc scalable_mode = Meaning("scalable_mode", 2, kScalableModeNames);
inline constexpr FieldDesc layer_id = Number("layer_id", 4);
inline constexpr FieldDesc lower_layer_prediction_horizontal_size =
    Number("lower_layer_prediction_horizontal_size", 14);
inline constexpr FieldDesc lower_layer_prediction_vertical_size =
    Number("lower_layer_prediction_vertical_size", 14);
inline constexpr FieldDesc horizontal_subsampling_factor_m =
    Number("horizontal_subsampling_factor_m", 5);
inline constexpr FieldDesc horizontal_subsampling_factor_n =
    Number("horizontal_subsampling_factor_n", 5);
inline constexpr FieldDesc vertical_subsampling_factor_m =
    Number("vertical_subsampling_factor_m", 5);
inline constexpr FieldDesc vertical_subsampling_factor_n =
    Number("vertical_subsampling_factor_n", 5);
inline constexpr FieldDesc picture_mux_enable = Flag("picture_mux_enable");
inline constexpr FieldDesc mux_to_progressive_sequence = Flag("mux_to_progressive_sequence");
inline constexpr FieldDesc picture_mux_order = Number("picture_mux_order", 3);
inline constexpr FieldDesc picture_mux_factor = Number("picture_mux_factor", 3);

// quant matrix extension
inline constexpr FieldDesc load_intra_quantiser_matrix = Flag("load_intra_quantiser_matrix");
inline constexpr FieldDesc load_non_intra_quantiser_matrix =
    Flag("load_non_intra_quantiser_matrix");
inline constexpr FieldDesc load_chroma_intra_quantiser_matrix =
    Flag("load_chroma_intra_quantiser_matrix");
inline constexpr FieldDesc load_chroma_non_intra_quantiser_matrix =
    Flag("load_chroma_non_intra_quantiser_matrix");

// copyright extension
inline constexpr FieldDesc copyright_flag = Flag("copyright_flag");
inline constexpr FieldDesc original_or_copy = Flag("original_or_copy");
inline constexpr FieldDesc copyright_reserved = BitString("reserved", 7);
inline constexpr FieldDesc copyright_number_1 = BitString("copyright_number_1", 20);
inline constexpr FieldDesc copyright_number_2 = BitString("copyright_number_2", 22);
inline constexpr FieldDesc copyright_number_3 = BitString("copyright_number_3", 22);

// picture display extension (the index is part of the name)
inline constexpr FieldDesc frame_centre_horizontal_offset[3] = {
    Signed("frame_centre_horizontal_offset[0]", 16),
    Signed("frame_centre_horizontal_offset[1]", 16),
    Signed("frame_centre_horizontal_offset[2]", 16)};
inline constexpr FieldDesc frame_centre_vertical_offset[3] = {
    Signed("frame_centre_vertical_offset[0]", 16), Signed("frame_centre_vertical_offset[1]", 16),
    Signed("frame_centre_vertical_offset[2]", 16)};

// picture coding extension
inline constexpr FieldDesc f_code[2][2] = {{Number("f_code[0][0]", 4), Number("f_code[0][1]", 4)},
                                           {Number("f_code[1][0]", 4), Number("f_code[1][1]", 4)}};
inline constexpr FieldDesc intra_dc_precision = Scaled("intra_dc_precision", 2, 1, "", 8);
inline constexpr FieldDesc picture_structure =
    Meaning("picture_structure", 2, kPictureStructureNames);
inline constexpr FieldDesc top_field_first = Flag("top_field_first");
inline constexpr FieldDesc frame_pred_frame_dct = Flag("frame_pred_frame_dct");
inline constexpr FieldDesc concealment_motion_vectors = Flag("concealment_motion_vectors");
inline constexpr FieldDesc q_scale_type = Flag("q_scale_type");
inline constexpr FieldDesc intra_vlc_format = Flag("intra_vlc_format");
inline constexpr FieldDesc alternate_scan = Flag("alternate_scan");
inline constexpr FieldDesc repeat_first_field = Flag("repeat_first_field");
inline constexpr FieldDesc chroma_420_type = Flag("chroma_420_type");
inline constexpr FieldDesc progressive_frame = Flag("progressive_frame");
inline constexpr FieldDesc composite_display_flag = Flag("composite_display_flag");
inline constexpr FieldDesc v_axis = Flag("v_axis");
inline constexpr FieldDesc field_sequence = Meaning("field_sequence", 3, kFieldSequenceNames);
inline constexpr FieldDesc sub_carrier = Flag("sub_carrier");
inline constexpr FieldDesc burst_amplitude = Number("burst_amplitude", 7);

// picture spatial scalable extension
inline constexpr FieldDesc lower_layer_temporal_reference =
    Number("lower_layer_temporal_reference", 10);
inline constexpr FieldDesc lower_layer_horizontal_offset =
    Number("lower_layer_horizontal_offset", 15);
inline constexpr FieldDesc lower_layer_vertical_offset = Number("lower_layer_vertical_offset", 15);
inline constexpr FieldDesc spatial_temporal_weight_code_table_index =
    Count("spatial_temporal_weight_code_table_index", 2);
inline constexpr FieldDesc lower_layer_progressive_frame = Flag("lower_layer_progressive_frame");
inline constexpr FieldDesc lower_layer_deinterlaced_field_select =
    Flag("lower_layer_deinterlaced_field_select");

// picture temporal scalable extension
inline constexpr FieldDesc reference_select_code = BitString("reference_select_code", 2);
inline constexpr FieldDesc forward_temporal_reference = Number("forward_temporal_reference", 10);
inline constexpr FieldDesc backward_temporal_reference = Number("backward_temporal_reference", 10);

// --- slice header ---
inline constexpr FieldDesc slice_vertical_position_extension =
    Number("slice_vertical_position_extension", 3);
inline constexpr FieldDesc priority_breakpoint = Number("priority_breakpoint", 7);
inline constexpr FieldDesc quantiser_scale_code = Number("quantiser_scale_code", 5);
inline constexpr FieldDesc quantiser_scale = Number("quantiser_scale", 5);
inline constexpr FieldDesc intra_slice_flag = Flag("intra_slice_flag");
inline constexpr FieldDesc intra_slice = Flag("intra_slice");
inline constexpr FieldDesc reserved_bits = Number("reserved_bits", 7);
inline constexpr FieldDesc extra_bit_slice = Flag("extra_bit_slice");
inline constexpr FieldDesc extra_information_slice = BitString("extra_information_slice", 8);

// --- macroblock ---
// MPEG-1 spells the macroblock's quantiser with a z.
inline constexpr FieldDesc macroblock_quantizer_scale = Number("quantizer_scale", 5);
inline constexpr FieldDesc spatial_temporal_weight_code =
    BitString("spatial_temporal_weight_code", 2);
inline constexpr const char* kFrameMotionTypeNames[4] = {"reserved", "Field-based", "Frame-based",
                                                         "Dual-Prime"};
inline constexpr const char* kFieldMotionTypeNames[4] = {"reserved", "Field-based", "16x8 MC",
                                                         "Dual-Prime"};
inline constexpr FieldDesc frame_motion_type =
    Meaning("frame_motion_type", 2, kFrameMotionTypeNames);
inline constexpr FieldDesc field_motion_type =
    Meaning("field_motion_type", 2, kFieldMotionTypeNames);
inline constexpr FieldDesc dct_type = Flag("dct_type");
inline constexpr FieldDesc coded_block_pattern_1 = BitString("coded_block_pattern_1", 2);
inline constexpr FieldDesc coded_block_pattern_2 = BitString("coded_block_pattern_2", 6);
inline constexpr FieldDesc run = Number("run", 6);

}  // namespace bitloupe::video_fields
