#include "core/syntax/StreamState.h"

#include <algorithm>

namespace bitloupe {

void CStreamState::Reset() {
    const bool fixedGrey = greyColourFixed;
    const uint8_t grey = greyColour;
    const uint32_t greyRgb = greyColourRgb;
    *this = CStreamState();
    // The grey colour chosen in the colours dialog outlives the file.
    greyColourFixed = fixedGrey;
    if (fixedGrey) {
        greyColour = grey;
        greyColourRgb = greyRgb;
    }
}

void CStreamState::ResetParse() {
    counters = StreamCounters();
    horizontal_size = vertical_size = 0;
    displayWidth = displayHeight = 0;
    bitRate = vbvSize = 0;
    aspect_ratio_information = 1;
    pelAspectRatio = 1.0;
    scalable_mode = 0xFF;
    if (!greyColourFixed) {
        greyColour = 128;
        greyColourRgb = 0x808080;
    }
    horizontal_size_value = vertical_size_value = 0;
    bit_rate_value = 0;
    vbv_buffer_size_value = 0;
    frame_rate_code = 0;
    if (videoVersion == kMpeg1) {
        progressive_sequence = 1;
        chroma_format = 1;
        blockCount = 6;
        low_delay = 0;
    }
}

void CStreamState::ClearSystemMaps() {
    psPositions.clear();
    payloadSizes.clear();
}

void CStreamState::ClearVideoMaps() {
    videoPositions.clear();
    gopRecords.clear();
    pictureRecords.clear();
    quantMatrixRecords.clear();
    predictionFrames.clear();
    pictureCodingRecords.clear();
    pictureDisplayRecords.clear();
    spatialScalableRecords.clear();
    sliceRecords.clear();
    macroblockRecords.clear();
    blockRecords.clear();
    sequenceRecords.clear();
}

void CStreamState::SplitAtPayloads(uint64_t start, uint64_t end,
                                   std::vector<std::pair<uint64_t, uint64_t>>& pieces,
                                   std::vector<std::pair<uint64_t, uint64_t>>& between) const {
    pieces.clear();
    between.clear();
    const std::vector<VideoPacketTime>& packets = videoPacketTimes;
    // The payload the range begins in: the last that begins at or before it.
    auto it = std::upper_bound(
        packets.begin(), packets.end(), start / 8,
        [](uint64_t offset, const VideoPacketTime& p) { return offset < p.payloadStart; });
    if (it == packets.begin() || end <= start) {
        pieces.push_back({start, end});
        return;
    }
    --it;
    uint64_t from = start;
    for (; it != packets.end() && it->payloadStart * 8 < end; ++it) {
        const uint64_t first = std::max<uint64_t>(it->payloadStart * 8, start);
        const uint64_t last = std::min<uint64_t>(
            (it->payloadStart + static_cast<uint64_t>(it->payloadBytes)) * 8, end);
        if (first >= last) continue;
        if (first > from && !pieces.empty()) between.push_back({from, first});
        pieces.push_back({first, last});
        from = last;
    }
    // Bits past the payloads known (a packet cut short) stay with the last piece.
    if (pieces.empty())
        pieces.push_back({start, end});
    else if (from < end)
        pieces.back().second = end;
}

}  // namespace bitloupe
