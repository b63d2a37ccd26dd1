// What the macroblock layer keeps: the decoded header of one macroblock (filled alike by the
// tree parse and by the silent decoder) and the running state of a slice's macroblocks.
#pragma once

#include <cstdint>

namespace bitloupe {

struct MacroblockRecord {
    uint16_t stuffingCount = 0;
    uint16_t escapeCount = 0;
    int16_t macroblock_address_increment = 0;
    uint32_t macroblock_address = 0;
    uint16_t row = 0;
    uint16_t column = 0;
    uint8_t macroblock_type = 0;
    uint8_t macroblock_quant = 0;
    uint8_t macroblock_motion_forward = 0;
    uint8_t macroblock_motion_backward = 0;
    uint8_t macroblock_pattern = 0;
    uint8_t macroblock_intra = 0;
    uint8_t spatial_temporal_weight_code_flag = 0;
    uint8_t permitted_spatial_temporal_weight_class = 0;
    uint8_t spatial_temporal_weight_code = 0;
    uint8_t spatial_temporal_weight_class = 0;
    uint8_t motionType = 0;          // 1 field-based, 2 frame-based or 16x8, 3 dual prime
    uint8_t motionVectorCount = 1;   // 1 or 2
    uint8_t motionVectorFormat = 0;  // 1 field, 0 frame
    uint8_t dmv = 0;
    uint8_t mvscale = 0;
    uint8_t dct_type = 0;
    uint8_t quantiser_scale_code = 0;
    uint8_t quantiser_scale = 0;
    uint8_t motion_vertical_field_select[2][2] = {};
    int16_t motion_code[2][2][2] = {};
    uint8_t motion_residual[2][2][2] = {};
    int16_t vector[2][2][2] = {};
    int8_t dmvector[2] = {};
    uint8_t concealmentMarker = 0;
    uint16_t coded_block_pattern = 0;
    uint8_t coded_block_pattern_1 = 0;
    uint8_t coded_block_pattern_2 = 0;
    uint8_t coded[12] = {};
    int16_t dcPredictor[3] = {};
};

// Running state of the macroblocks of one slice.
struct MacroblockState {
    uint8_t currentQuantiserScaleCode = 0;
    bool macroblockError = false;
    // Why the last macroblock failed, for the item that says so (a static text; null: unknown).
    const char* failure = nullptr;
    int32_t mbsParsedInSlice = 0;
    int16_t PMV[2][2][2] = {};  // [first/second vector][forward/backward][horizontal/vertical]
    uint8_t previousMotionForward = 0;
    uint8_t previousMotionBackward = 0;
    int16_t dcPredictor[3] = {};
};

}  // namespace bitloupe
