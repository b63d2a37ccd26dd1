// The fixed-width fields of the system layer: pack and system headers and the PES packet
// header, for both standards.
#pragma once

#include "core/syntax/FieldDesc.h"

namespace bitloupe::system_fields {

using namespace field;

// A time stamp's three parts, each followed by a marker bit.
struct TimeStampFields {
    FieldDesc high, mid, low;
};
inline constexpr TimeStampFields kScr{BitString("system_clock_reference[32..30]", 3),
                                      BitString("system_clock_reference[29..15]", 15),
                                      BitString("system_clock_reference[14..0]", 15)};
inline constexpr TimeStampFields kMpeg1Pts{BitString("presentation_time_stamp[32..30]", 3),
                                           BitString("presentation_time_stamp[29..15]", 15),
                                           BitString("presentation_time_stamp[14..0]", 15)};
inline constexpr TimeStampFields kMpeg1Dts{BitString("decoding_time_stamp[32..30]", 3),
                                           BitString("decoding_time_stamp[29..15]", 15),
                                           BitString("decoding_time_stamp[14..0]", 15)};
inline constexpr TimeStampFields kPts{BitString("PTS[32..30]", 3), BitString("PTS[29..15]", 15),
                                      BitString("PTS[14..0]", 15)};
inline constexpr TimeStampFields kDts{BitString("DTS[32..30]", 3), BitString("DTS[29..15]", 15),
                                      BitString("DTS[14..0]", 15)};
inline constexpr TimeStampFields kEscr{BitString("ESCR_base[32..30]", 3),
                                       BitString("ESCR_base[29..15]", 15),
                                       BitString("ESCR_base[14..0]", 15)};

// The names of the data streams, by stream_id - 0xF0.
inline constexpr const char* kDataStreamNames[16] = {
    "ECM Stream",
    "EMM Stream",
    "DSMCC Stream",
    "ISO/IEC 13522 Stream",
    "H.222.1 Type-A Stream",
    "H.222.1 Type-B Stream",
    "H.222.1 Type-C Stream",
    "H.222.1 Type-D Stream",
    "H.222.1 Type-E Stream",
    "Ancillary Stream",
    "Reserved Data Stream #1",
    "Reserved Data Stream #2",
    "Reserved Data Stream #3",
    "Reserved Data Stream #4",
    "Reserved Data Stream #5",
    "Program Stream Directory",
};

// --- pack header ---
inline constexpr FieldDesc pack_start_code = Hex("pack_start_code", 4);
inline constexpr FieldDesc mpeg2_pack_bits = Pattern(2, 1, nullptr);  // '01'
inline constexpr FieldDesc mpeg1_pack_bits = Pattern(4, 2, nullptr);  // '0010'
inline constexpr FieldDesc system_clock_reference_extension =
    Count("system_clock_reference_extension", 9);
inline constexpr FieldDesc program_mux_rate = Scaled("program_mux_rate", 22, 50, "Bps");
inline constexpr FieldDesc mux_rate = Scaled("mux_rate", 22, 50, "Bps");
inline constexpr FieldDesc pack_reserved = BitString("reserved", 5);
inline constexpr FieldDesc pack_stuffing_length = Number("pack_stuffing_length", 3);

// --- system header ---
inline constexpr FieldDesc system_header_start_code = Hex("system_header_start_code", 4);
inline constexpr FieldDesc rate_bound = Scaled("rate_bound", 22, 50, "Bps");
inline constexpr FieldDesc audio_bound = Number("audio_bound", 6);
inline constexpr FieldDesc fixed_flag = Flag("fixed_flag");
inline constexpr FieldDesc CSPS_flag = Flag("CSPS_flag");
inline constexpr FieldDesc system_audio_lock_flag = Flag("system_audio_lock_flag");
inline constexpr FieldDesc system_video_lock_flag = Flag("system_video_lock_flag");
inline constexpr FieldDesc video_bound = Number("video_bound", 5);
inline constexpr FieldDesc packet_rate_restriction_flag = Flag("packet_rate_restriction_flag");
inline constexpr FieldDesc reserved_bits = BitString("reserved_byte", 7);
inline constexpr FieldDesc reserved_byte = Hex("reserved_byte", 1);
// An entry's stream_id, shown with the stream it names ("Audio Stream #1 (0xC0, 1 byte)").
inline constexpr FieldDesc stream_id_entry{"stream_id", 8, Shown::kStreamId};
inline constexpr FieldDesc stream_entry_bits = Pattern(2, 3, "11");  // '11'
inline constexpr FieldDesc STD_buffer_bound_scale = Flag("STD_buffer_bound_scale");
// The size counts units of 128 bytes with the scale 0, of 1024 with 1.
inline constexpr FieldDesc STD_buffer_size_bound[2] = {
    Scaled("STD_buffer_size_bound", 13, 128, " Bytes"),
    Scaled("STD_buffer_size_bound", 13, 1024, " Bytes")};

// --- PES packet ---
inline constexpr FieldDesc packet_start_code_prefix = Hex("packet_start_code_prefix", 3);
inline constexpr FieldDesc stream_id{"stream_id", 8, Shown::kByteBits};
inline constexpr FieldDesc packet_length = Decimal("packet_length", 2);
inline constexpr FieldDesc stuffing_byte = Hex("stuffing_byte", 1);
inline constexpr FieldDesc std_bits = Pattern(2, 1, nullptr);  // '01'
inline constexpr FieldDesc STD_buffer_scale = Flag("STD_buffer_scale");
inline constexpr FieldDesc STD_buffer_size[2] = {Scaled("STD_buffer_size", 13, 128, " Bytes"),
                                                 Scaled("STD_buffer_size", 13, 1024, " Bytes")};
inline constexpr FieldDesc mpeg1_pts_bits = Pattern(4, 2, nullptr, 0xE);  // '0010' or '0011'
inline constexpr FieldDesc dts_bits = Pattern(4, 1, "0001");              // '0001'
inline constexpr FieldDesc no_time_stamp_bits = Pattern(8, 0x0F, "00001111");
inline constexpr FieldDesc mpeg2_header_bits = Pattern(2, 2, nullptr);  // '10'
inline constexpr FieldDesc pts_bits = Pattern(4, 2, "001x", 0xE);       // '0010' or '0011'
inline constexpr FieldDesc PES_scrambling_control = BitString("PES_scrambling_control", 2);
inline constexpr FieldDesc PES_priority = Flag("PES_priority");
inline constexpr FieldDesc data_alignment_indicator = Flag("data_alignment_indicator");
inline constexpr FieldDesc copyright = Flag("copyright");
inline constexpr FieldDesc original_or_copy = Flag("original_or_copy");
inline constexpr FieldDesc PTS_DTS_flags = BitString("PTS_DTS_flags", 2);
inline constexpr FieldDesc ESCR_flag = Flag("ESCR_flag");
inline constexpr FieldDesc ES_rate_flag = Flag("ES_rate_flag");
inline constexpr FieldDesc DSM_trick_mode_flag = Flag("DSM_trick_mode_flag");
inline constexpr FieldDesc additional_copy_info_flag = Flag("additional_copy_info_flag");
inline constexpr FieldDesc PES_CRC_flag = Flag("PES_CRC_flag");
inline constexpr FieldDesc PES_extension_flag = Flag("PES_extension_flag");
inline constexpr FieldDesc PES_header_data_length = Decimal("PES_header_data_length", 1);
inline constexpr FieldDesc escr_reserved = BitString("reserved", 2);
inline constexpr FieldDesc ESCR_extension = BitString("ESCR_extension", 9);
inline constexpr FieldDesc ES_rate = Scaled("ES_rate", 22, 50, "Bps");
inline constexpr FieldDesc additional_copy_info = BitString("additional_copy_info", 7);
inline constexpr FieldDesc previous_PES_packet_CRC = Hex("previous_PES_packet_CRC", 2);

// trick_mode_control, indexed by its 3-bit code.
inline constexpr const char* kTrickModeControl[8] = {
    "fast forward", "slow motion", "freeze frame", "fast reverse",
    "slow reverse", "reserved",    "reserved",     "reserved",
};
// field_id, indexed by its 2-bit code.
inline constexpr const char* kFieldId[4] = {
    "display from top field only",
    "display from bottom field only",
    "display complete frame",
    "reserved",
};
// frequency_truncation, indexed by its 2-bit code.
inline constexpr const char* kFrequencyTruncation[4] = {
    "only DC coefficients are non-zero",
    "typically only the first three coefficients are non-zero",
    "typically only the first six coefficients are non-zero",
    "all coefficients may be non-zero",
};

inline constexpr FieldDesc trick_mode_control = Meaning("trick_mode_control", 3, kTrickModeControl);
inline constexpr FieldDesc field_id = Meaning("field_id", 2, kFieldId);
inline constexpr FieldDesc intra_slice_refresh = Flag("intra_slice_refresh");
inline constexpr FieldDesc frequency_truncation =
    Meaning("frequency_truncation", 2, kFrequencyTruncation);
inline constexpr FieldDesc rep_cntrl = Number("rep_cntrl", 5);
inline constexpr FieldDesc trick_mode_reserved_3 = BitString("reserved", 3);
inline constexpr FieldDesc trick_mode_reserved_5 = BitString("reserved", 5);

// PES extension
inline constexpr FieldDesc PES_private_data_flag = Flag("PES_private_data_flag");
inline constexpr FieldDesc pack_header_field_flag = Flag("pack_header_field_flag");
inline constexpr FieldDesc program_packet_sequence_counter_flag =
    Flag("program_packet_sequence_counter_flag");
inline constexpr FieldDesc P_STD_buffer_flag = Flag("P-STD_buffer_flag");
inline constexpr FieldDesc extension_reserved = BitString("reserved", 3);
inline constexpr FieldDesc PES_extension_flag_2 = Flag("PES_extension_flag_2");
inline constexpr FieldDesc pack_field_length = Decimal("pack_field_length", 1);
inline constexpr FieldDesc program_packet_sequence_counter =
    Number("program_packet_sequence_counter", 7);
inline constexpr FieldDesc MPEG1_MPEG2_identifier = Flag("MPEG1_MPEG2_identifier");
inline constexpr FieldDesc original_stuff_length = Number("original_stuff_length", 6);
inline constexpr FieldDesc p_std_bits = Pattern(2, 1, "01");  // '01'
inline constexpr FieldDesc P_STD_buffer_scale = Flag("P-STD_buffer_scale");
inline constexpr FieldDesc P_STD_buffer_size[2] = {Scaled("P-STD_buffer_size", 13, 128, " bytes"),
                                                   Scaled("P-STD_buffer_size", 13, 1024, " bytes")};
inline constexpr FieldDesc PES_extension_field_length = Number("PES_extension_field_length", 7);

}  // namespace bitloupe::system_fields
