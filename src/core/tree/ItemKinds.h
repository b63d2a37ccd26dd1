// What an item is: the data code every item carries (its kind in the low half, 0xFFFF in the
// high half for a virtual item) and the icons of the tree.
#pragma once

#include <cstdint>

namespace bitloupe {

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

}  // namespace bitloupe
