#include "core/syntax/StreamState.h"

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

}  // namespace bitloupe
