// A decoded frame as the command line writes it: the displayed part of the frame store the last
// decode wrote, in one of the raw layouts.
#pragma once

#include <cstdint>
#include <vector>

namespace bitloupe {

class PictureDecoder;

// gray: luma only; yuv444p: the three planes at full size; bgr24: packed colour rows; yuv: luma
// and the two chroma planes at their coded resolution.
enum class FrameFormat { kGray, kYuv444p, kBgr24, kYuv };

// The frame of the sequence's width x height, each plane cropped from the store's full size;
// samples outside the store come out as 128, and a sequence of no width or height gives none.
void ExtractFrame(const PictureDecoder& decoder, FrameFormat format, std::vector<uint8_t>& out);

}  // namespace bitloupe
