// The state of the open stream: what kind of stream it is, its root items, the per-item
// record maps that let any item be re-read later, counters and sequence-level parameters.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "core/syntax/VideoState.h"
#include "core/tree/ItemMap.h"
#include "core/tree/TreeStore.h"

namespace bitloupe {

// Where an item was read: file offset of the byte, bits of it already consumed, and for the
// payload reader the count of its packet's bytes still to come (itself included).
struct ItemPosition {
    uint64_t offset = 0;
    uint32_t bitOffset = 0;
    uint32_t packetRemaining = 0;
};

inline constexpr uint8_t kPureVideoStream = 0;
inline constexpr uint8_t kProgramStream = 1;
inline constexpr uint8_t kTransportStream = 2;
inline constexpr uint8_t kUnknownStream = 3;
inline constexpr uint8_t kMpeg1 = 0;
inline constexpr uint8_t kMpeg2 = 1;
inline constexpr uint8_t kMpegUnknown = 2;

// Item data codes of the tree.
namespace kind {
inline constexpr uint32_t kFile = 0x00FF0000;
inline constexpr uint32_t kVideoRoot = 100;
inline constexpr uint32_t kSequenceHeader = 1;
inline constexpr uint32_t kSequenceExtension = 2;
inline constexpr uint32_t kExtension = 7;
inline constexpr uint32_t kGop = 3;
inline constexpr uint32_t kGopHeader = 4;
inline constexpr uint32_t kPicture = 5;
inline constexpr uint32_t kPictureHeader = 6;
inline constexpr uint32_t kSequenceError = 9;
inline constexpr uint32_t kUserData = 10;
inline constexpr uint32_t kSlice = 11;
inline constexpr uint32_t kSliceHeader = 12;
inline constexpr uint32_t kMacroblock = 13;
inline constexpr uint32_t kMacroblockHeader = 14;
inline constexpr uint32_t kSkippedMacroblock = 0xFFFF000F;
inline constexpr uint32_t kBlockY = 16;
inline constexpr uint32_t kBlockCb = 17;
inline constexpr uint32_t kBlockCr = 18;
inline constexpr uint32_t kBlockError = 19;
inline constexpr uint32_t kSkippedBlockY = 0xFFFF0010;
inline constexpr uint32_t kSkippedBlockCb = 0xFFFF0011;
inline constexpr uint32_t kSkippedBlockCr = 0xFFFF0012;
inline constexpr uint32_t kRawDct = 20;
inline constexpr uint32_t kCoefficientMatrix = 0xFFFF0014;
inline constexpr uint32_t kPelMatrix = 0xFFFF0015;
inline constexpr uint32_t kPredictionFrames = 257;
inline constexpr uint32_t kSlicePlaceholder = 0xFFFF0001;
inline constexpr uint32_t kPack = 256;
inline constexpr uint32_t kPackHeader = 512;
inline constexpr uint32_t kSystemHeader = 768;
inline constexpr uint32_t kPesPacket = 1024;
inline constexpr uint32_t kPayloadUnlisted = 0xFFFF0500;
inline constexpr uint32_t kPayloadListed = 1280;
inline constexpr uint32_t kVirtual = 0xFFFF0000;
}  // namespace kind

// The kind an item's data names, whether the item is virtual (0xFFFF in the high half) or not:
// the one place that reads it.
constexpr uint32_t KindOf(uint32_t data) {
    return data & 0xFFFF;
}

inline bool IsVirtual(uint32_t data) {
    return (data >> 16) == 0xFFFF;
}

// Icons of the tree.
namespace image {
inline constexpr int kPlain = 0;
inline constexpr int kVideoRoot = 1;
inline constexpr int kSequence = 2;
inline constexpr int kGop = 3;
inline constexpr int kGopHeader = 4;
inline constexpr int kFramePicture = 5;
inline constexpr int kTopField = 6;
inline constexpr int kBottomField = 7;
inline constexpr int kHeader = 8;
inline constexpr int kSlice = 9;
inline constexpr int kSliceHeader = 10;
inline constexpr int kMacroblock = 11;
inline constexpr int kSkippedMacroblock = 12;
inline constexpr int kMacroblockHeader = 13;
inline constexpr int kVlc = 20;
inline constexpr int kVirtual = 21;
inline constexpr int kEndOfVideo = 22;
inline constexpr int kAudioRoot = 23;
inline constexpr int kOtherStreamRoot = 24;
inline constexpr int kProgramStream = 25;
inline constexpr int kTransportStream = 26;
inline constexpr int kFile = 27;
inline constexpr int kDecoded = 28;
inline constexpr int kSliceError = 34;  // a slice whose macroblocks stopped on an error
inline constexpr int kError = 35;
inline constexpr int kInvalidFile = 36;
}  // namespace image

// The four colour conversion factors (16.16 fixed point) of a matrix_coefficients code, and
// the code they were chosen for.
struct ColourMatrix {
    int32_t crv = 104597;  // Cr to red
    int32_t cbu = 132201;  // Cb to blue
    int32_t cgu = 25675;   // Cb to green
    int32_t cgv = 53279;   // Cr to green
    uint8_t matrix_coefficients = 5;
    bool operator==(const ColourMatrix&) const = default;
};

// A GOP header, per GOP item.
struct GopRecord {
    uint32_t time_code = 0;  // the 25 bits as read, drop_frame_flag the most significant
    uint8_t drop_frame_flag = 0;
    uint8_t time_code_hours = 0;
    uint8_t time_code_minutes = 0;
    uint8_t marker_bit = 0;
    uint8_t time_code_seconds = 0;
    uint8_t time_code_pictures = 0;
    uint8_t closed_gop = 0;
    uint8_t broken_link = 0;
};

// The pictures a picture predicts from, per picture item (0 = none).
struct PredictionFramesRecord {
    TreeItem forward_frames[2] = {};
    TreeItem backward_frames[2] = {};
};

// A slice header, per slice item, with what re-reading the slice's macroblocks needs: the
// header fields to restore, where the macroblocks begin (the same position is kept for the
// placeholder item in videoPositions), the picture it belongs to and its placeholder item.
struct SliceRecord {
    SliceHeader header;
    ItemPosition macroblocks;
    TreeItem pictureItem = 0;
    TreeItem placeholderItem = 0;
};

using QuantMatrixRecord = QuantMatrixSet;
using PictureCodingRecord = PictureCodingExtension;
using PictureDisplayRecord = PictureDisplayExtension;
using SpatialScalableRecord = PictureSpatialScalableExtension;

// Counters of a parse; reset at the start of every parse.
struct StreamCounters {
    uint32_t sequenceHeaderCount = 0;
    uint32_t gopCount = 0;
    uint32_t pictureCount = 0;
    uint32_t frameCount = 0;
    std::array<uint32_t, 5> typeCounts{};  // index 1..4: I, P, B, D
    uint32_t packCount = 0;
    uint32_t packetCount = 0;
    std::array<uint32_t, 0x44> streamPacketCounts{};  // stream_id 0xBC..0xFF
};

// The parameters a sequence header and its extensions set, which hold for the pictures of that
// sequence.
struct SequenceParameters {
    uint32_t horizontal_size = 0;
    uint32_t vertical_size = 0;
    uint32_t displayWidth = 0;
    uint32_t displayHeight = 0;
    uint8_t aspect_ratio_information = 1;
    double pelAspectRatio = 1.0;
    uint32_t bitRate = 0;
    uint32_t vbvSize = 0;
    uint8_t constrained_parameters_flag = 0;
    uint8_t progressive_sequence = 1;
    uint8_t chroma_format = 1;
    uint8_t blockCount = 6;
    uint8_t low_delay = 0;
    uint8_t scalable_mode = 0xFF;
    int32_t mbWidth = 0;
    int32_t mbHeight = 0;
    int32_t mbCount = 0;
    int32_t codedWidth = 0;
    int32_t codedHeight = 0;
    // The fields behind the values above, as the headers carry them.
    uint16_t horizontal_size_value = 0;  // the 12 bits of the sequence header
    uint16_t vertical_size_value = 0;
    uint32_t bit_rate_value = 0;         // 18 bits, units of 400 bit/s
    uint16_t vbv_buffer_size_value = 0;  // 10 bits, units of 16 KB
    uint8_t frame_rate_code = 0;
    uint8_t frame_rate_extension_n = 0;
    uint8_t frame_rate_extension_d = 0;
    uint8_t profile_and_level_indication = 0;
    uint8_t video_format = 5;  // unspecified
    uint8_t colour_primaries = 0;
    uint8_t transfer_characteristics = 0;
    // The colour conversion in force.
    ColourMatrix colourMatrix;

    bool operator==(const SequenceParameters&) const = default;
};

// The stream state holds the parameters of the sequence being parsed, or, while a picture is
// decoded, of the picture's own sequence.
class CStreamState : public SequenceParameters {
  public:
    uint8_t streamType = kUnknownStream;
    // The version of the stream as its first pack header (or, for a video stream, its video)
    // says; the pack and packet syntax follow it.
    uint8_t mpegVersion = kMpegUnknown;
    // The version of the video: MPEG-2 when an extension follows its first sequence header.
    // The video, macroblock and decoding layers follow it, whatever the packs say.
    uint8_t videoVersion = kMpegUnknown;
    bool invalidFile = false;
    bool outOfMemory = false;

    TreeItem fileItem = 0;
    TreeItem systemItem = 0;
    TreeItem videoItem = 0;

    // Root items of the other streams of a program stream, by stream_id 0xBC..0xFF (the slot of
    // stream 0xE0 is the video root item itself).
    std::array<TreeItem, 0x44> streamRootItems{};

    // System-layer records, emptied together when the "Program Stream" item is deleted.
    ItemMap<ItemPosition> psPositions;
    ItemMap<uint16_t> payloadSizes;
    // Video-layer records, emptied together when the video root item is deleted.
    ItemMap<ItemPosition> videoPositions;
    ItemMap<GopRecord> gopRecords;                          // GOP item
    ItemMap<PictureRecord> pictureRecords;                  // picture item
    ItemMap<QuantMatrixRecord> quantMatrixRecords;          // picture item
    ItemMap<PredictionFramesRecord> predictionFrames;       // picture item
    ItemMap<PictureCodingRecord> pictureCodingRecords;      // picture item
    ItemMap<PictureDisplayRecord> pictureDisplayRecords;    // picture item
    ItemMap<SpatialScalableRecord> spatialScalableRecords;  // extension item
    ItemMap<SliceRecord> sliceRecords;                      // slice item
    ItemMap<MacroblockRecord> macroblockRecords;            // macroblock item, coded or skipped
    ItemMap<int16_t> blockRecords;  // block item: its component's DC predictor before it

    StreamCounters counters;

    // The followed video stream's packets in file order, as the video parse met them: where
    // each payload begins and its PTS (-1 without one), for the time of the pictures whose
    // start codes begin in them.
    struct VideoPacketTime {
        uint64_t payloadStart = 0;
        int64_t pts = -1;
    };
    std::vector<VideoPacketTime> videoPacketTimes;
    // Adds a packet after the last one known; a packet read again (a decode, a second parse)
    // adds nothing.
    void NoteVideoPacket(uint64_t payloadStart, int64_t pts) {
        if (!videoPacketTimes.empty() && payloadStart <= videoPacketTimes.back().payloadStart)
            return;
        videoPacketTimes.push_back({payloadStart, pts});
    }

    uint8_t greyColour = 128;
    bool greyColourFixed = false;
    // greyColour as an RGB word (red in bits 0..7).
    uint32_t greyColourRgb = 0x808080;
    // The parameters of every sequence of the video stream, in stream order; a picture's
    // record names its own (PictureRecord::sequence).
    std::vector<SequenceParameters> sequenceRecords;

    // Back to the state of no open file.
    void Reset();
    // Counters and sequence-level parameters, at the start of every parse.
    void ResetParse();
    // Empties the maps that belong to the system layer or to the video layer.
    void ClearSystemMaps();
    void ClearVideoMaps();
};

}  // namespace bitloupe
