// The state of the open stream: what kind of stream it is, its root items, the per-item
// record maps that let any item be re-read later, counters and sequence-level parameters.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "core/syntax/VideoState.h"
#include "core/tree/ItemKinds.h"
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
        int64_t payloadBytes = 0;
        int64_t dts = -1;
    };
    std::vector<VideoPacketTime> videoPacketTimes;
    // The first and last SCR of the packs listed (27 MHz), -1 before any.
    int64_t firstScr = -1, lastScr = -1;
    void NoteScr(int64_t scr) {
        if (firstScr < 0) firstScr = scr;
        lastScr = scr;
    }
    // Adds a packet after the last one known; a packet read again (a decode, a second parse)
    // adds nothing.
    void NoteVideoPacket(uint64_t payloadStart, int64_t pts, int64_t payloadBytes,
                         int64_t dts = -1) {
        if (!videoPacketTimes.empty() && payloadStart <= videoPacketTimes.back().payloadStart)
            return;
        videoPacketTimes.push_back({payloadStart, pts, payloadBytes < 0 ? 0 : payloadBytes, dts});
    }
    // Bit places [start, end) of video bits split into the pieces that lie in the followed
    // video stream's payloads; `between` gets what lies between the pieces (headers, other
    // streams' packets). One piece when the video was not read from packets.
    void SplitAtPayloads(uint64_t start, uint64_t end,
                         std::vector<std::pair<uint64_t, uint64_t>>& pieces,
                         std::vector<std::pair<uint64_t, uint64_t>>& between) const;

    uint8_t greyColour = 128;
    bool greyColourFixed = false;
    // greyColour as an RGB word (red in bits 0..7).
    uint32_t greyColourRgb = 0x808080;
    // The parameters of every sequence of the video stream, in stream order; a picture's
    // record names its own (PictureRecord::sequence).
    std::vector<SequenceParameters> sequenceRecords;

    // The parameters of the sequence a picture record names (null when it names none).
    const SequenceParameters* SequenceOf(const PictureRecord& picture) const {
        const uint32_t k = picture.sequence;
        return k >= 1 && k <= sequenceRecords.size() ? &sequenceRecords[k - 1] : nullptr;
    }

    // Back to the state of no open file.
    void Reset();
    // Counters and sequence-level parameters, at the start of every parse.
    void ResetParse();
    // Empties the maps that belong to the system layer or to the video layer.
    void ClearSystemMaps();
    void ClearVideoMaps();
};

}  // namespace bitloupe
