// Name and value tables of the video headers. Every table is indexed directly by the code
// read, and holds an entry for every value the code's bits can take.
#pragma once

#include <array>
#include <cstdint>

namespace bitloupe::video_tables {

// --- sequence header ---

// pel_aspect_ratio (MPEG-1), by the 4-bit code.
inline constexpr const char* kPelAspectRatioNames[16] = {
    "forbidden", "1.0000", "0.6735", "0.7031", "0.7615", "0.8055", "0.8437", "0.8935",
    "0.9157",    "0.9815", "1.0255", "1.0695", "1.0950", "1.1575", "1.2015", "reserved"};

// aspect_ratio_information (MPEG-2), by the 4-bit code; the quotes belong to the names.
inline constexpr const char* kAspectRatioNames[16] = {
    "forbidden", "\"SAR=1:1\"", "\"DAR=3:4\"", "\"DAR=9:16\"", "\"DAR=1:2.21\"", "reserved",
    "reserved",  "reserved",    "reserved",    "reserved",     "reserved",       "reserved",
    "reserved",  "reserved",    "reserved",    "reserved"};

// Height of a pel over its width for the MPEG-1 codes (1.0 for the forbidden and reserved).
inline constexpr double kPelAspectValues[16] = {1.0,    1.0,    0.6735, 0.7031, 0.7615, 0.8055,
                                                0.8437, 0.8935, 0.9157, 0.9815, 1.0255, 1.0695,
                                                1.095,  1.1575, 1.2015, 1.0};

// picture_rate / frame_rate_code, by the 4-bit code.
inline constexpr const char* kFrameRateNames[16] = {
    "forbidden", "23.976",   "24",       "25",       "29.97",    "30",
    "50",        "59.94",    "60",       "reserved", "reserved", "reserved",
    "reserved",  "reserved", "reserved", "reserved"};

// --- picture header ---

// picture_coding_type, by the 3-bit code.
inline constexpr const char* kPictureCodingTypeNames[8] = {
    "forbidden",      "intra-coded", "predictive-coded", "bidirectionally-predictive-coded",
    "DC intra-coded", "reserved",    "reserved",         "reserved"};

// Picture kinds for the picture item texts, by picture_coding_type.
inline constexpr const char* kPictureKindNames[8] = {"Unknown-Type Picture",
                                                     "I-Picture",
                                                     "P-Picture",
                                                     "B-Picture",
                                                     "D-Picture",
                                                     "Reserved-Type Picture",
                                                     "Reserved-Type Picture",
                                                     "Reserved-Type Picture"};

inline constexpr uint8_t kPictureI = 1;
inline constexpr uint8_t kPictureP = 2;
inline constexpr uint8_t kPictureB = 3;
inline constexpr uint8_t kPictureD = 4;

// --- quantiser matrices (natural order, row by row) ---

inline constexpr uint8_t kDefaultIntraMatrix[64] = {8,  16, 19, 22, 26, 27, 29, 34,  //
                                                    16, 16, 22, 24, 27, 29, 34, 37,  //
                                                    19, 22, 26, 27, 29, 34, 34, 38,  //
                                                    22, 22, 26, 27, 29, 34, 37, 40,  //
                                                    22, 26, 27, 29, 32, 35, 40, 48,  //
                                                    26, 27, 29, 32, 35, 40, 48, 58,  //
                                                    26, 27, 29, 34, 38, 46, 56, 69,  //
                                                    27, 29, 35, 38, 46, 56, 69, 83};
inline constexpr uint8_t kDefaultNonIntraValue = 16;

// --- extensions ---

// Names of the extension items, by extension_start_code_identifier.
inline constexpr const char* kExtensionNames[16] = {"reserved",
                                                    "Sequence Extension",
                                                    "Sequence Display Extension",
                                                    "Quant Matrix Extension",
                                                    "Copyright Extension",
                                                    "Sequence Scalable Extension",
                                                    "reserved",
                                                    "Picture Display Extension",
                                                    "Picture Coding Extension",
                                                    "Picture Spatial Scalable Extension",
                                                    "Picture Temporal Scalable Extension",
                                                    "reserved",
                                                    "reserved",
                                                    "reserved",
                                                    "reserved",
                                                    "reserved"};

// Values of extension_start_code_identifier.
inline constexpr const char* kExtensionIdNames[16] = {"reserved",
                                                      "Sequence Extension ID",
                                                      "Sequence Display Extension ID",
                                                      "Quant Matrix Extension ID",
                                                      "Copyright Extension ID",
                                                      "Sequence Scalable Extension ID",
                                                      "reserved",
                                                      "Picture Display Extension ID",
                                                      "Picture Coding Extension ID",
                                                      "Picture Spatial Scalable Extension ID",
                                                      "Picture Temporal Scalable Extension ID",
                                                      "reserved",
                                                      "reserved",
                                                      "reserved",
                                                      "reserved",
                                                      "reserved"};

inline constexpr uint32_t kSequenceExtensionId = 1;
inline constexpr uint32_t kSequenceDisplayExtensionId = 2;
inline constexpr uint32_t kQuantMatrixExtensionId = 3;
inline constexpr uint32_t kCopyrightExtensionId = 4;
inline constexpr uint32_t kSequenceScalableExtensionId = 5;
inline constexpr uint32_t kPictureDisplayExtensionId = 7;
inline constexpr uint32_t kPictureCodingExtensionId = 8;
inline constexpr uint32_t kPictureSpatialScalableExtensionId = 9;
inline constexpr uint32_t kPictureTemporalScalableExtensionId = 10;

inline constexpr const char* kProfileNames[8] = {"reserved",     "High",    "Spatiallu Scalable",
                                                 "SNR Scalable", "Main",    "Simple",
                                                 "reserved",     "reserved"};

inline constexpr const char* kLevelNames[16] = {"reserved", "reserved", "reserved",  "reserved",
                                                "High",     "reserved", "High 1440", "reserved",
                                                "Main",     "reserved", "Low",       "reserved",
                                                "reserved", "reserved", "reserved",  "reserved"};

inline constexpr const char* kChromaFormatNames[4] = {"reserved", "4:2:0", "4:2:2", "4:4:4"};
// Blocks per macroblock by chroma_format.
inline constexpr uint8_t kBlocksPerMacroblock[4] = {0, 6, 8, 12};

inline constexpr const char* kVideoFormatNames[8] = {
    "component", "PAL", "NTSC", "SECAM", "MAC", "Unspecified video format", "reserved", "reserved"};

inline constexpr const char* kScalableModeNames[4] = {"data partitioning", "spatial scalability",
                                                      "SNR scalability", "temporal scalability"};
inline constexpr uint8_t kDataPartitioning = 0;
inline constexpr uint8_t kSpatialScalability = 1;
inline constexpr uint8_t kTemporalScalability = 3;

inline constexpr const char* kPictureStructureNames[4] = {"reserved", "Top Field", "Bottom Field",
                                                          "Frame picture"};
inline constexpr uint8_t kTopField = 1;
inline constexpr uint8_t kBottomField = 2;
inline constexpr uint8_t kFramePicture = 3;

inline constexpr const char* kFieldSequenceNames[8] = {"1:1", "1:2", "2:3", "2:4",
                                                       "3:5", "3:6", "4:7", "4:8"};

// A name for every value of an 8-bit code: the given names first, "reserved" for the rest.
using ByteNameTable = std::array<const char*, 256>;
template <size_t N>
constexpr ByteNameTable ByteNames(const char* const (&names)[N]) {
    ByteNameTable t{};
    for (size_t i = 0; i < t.size(); ++i) t[i] = i < N ? names[i] : "reserved";
    return t;
}

inline constexpr const char* kColourDescriptionNames[9] = {
    "forbidden",
    "Recommendation ITU-R BT.709",
    "Unspecified Video",
    "reserved",
    "Recommendation ITU-R BT.470-2 System M",
    "Recommendation ITU-R BT.470-2 System B, G",
    "SMPTE 170M",
    "SMPTE 240M (1987)",
    "Linear transfer characteristics"};
inline constexpr const char* kMatrixCoefficientsNames[8] = {
    "forbidden",
    "Recommendation ITU-R BT.709",
    "Unspecified Video",
    "reserved",
    "FCC",
    "Recommendation ITU-R BT.470-2 System B, G",
    "SMPTE 170M",
    "SMPTE 240M (1987)"};
// colour_primaries uses the first eight names, transfer_characteristics all nine.
inline constexpr const char* kColourPrimariesNames[8] = {
    kColourDescriptionNames[0], kColourDescriptionNames[1], kColourDescriptionNames[2],
    kColourDescriptionNames[3], kColourDescriptionNames[4], kColourDescriptionNames[5],
    kColourDescriptionNames[6], kColourDescriptionNames[7]};

inline constexpr ByteNameTable kColourPrimariesByte = ByteNames(kColourPrimariesNames);
inline constexpr ByteNameTable kTransferCharacteristicsByte = ByteNames(kColourDescriptionNames);
inline constexpr ByteNameTable kMatrixCoefficientsByte = ByteNames(kMatrixCoefficientsNames);

}  // namespace bitloupe::video_tables
