// What an item is: the data code every item carries (its kind in the low half, a mark in the high
// half for a virtual item) and the icons of the tree.
#pragma once

#include <cstdint>

namespace bitloupe {

// What an item is. Some kinds name two sorts of item, told apart only by the virtual mark of
// their data codes: a coded and a skipped block, the raw DCT data and the coefficient matrix, a
// payload listed and not yet listed, the sequence header and a slice's placeholder.
enum class ItemKind : uint16_t {
    None = 0,  // a plain item: a field, a marker, a row of values (and the file item)
    SequenceHeader = 1,
    SequenceExtension = 2,
    Gop = 3,
    GopHeader = 4,
    Picture = 5,
    PictureHeader = 6,
    Extension = 7,
    SequenceError = 9,
    UserData = 10,
    Slice = 11,
    SliceHeader = 12,
    Macroblock = 13,
    MacroblockHeader = 14,
    SkippedMacroblock = 15,
    BlockY = 16,
    BlockCb = 17,
    BlockCr = 18,
    BlockError = 19,
    RawDct = 20,
    PelMatrix = 21,
    VideoRoot = 100,
    Pack = 256,
    PredictionFrames = 257,
    PackHeader = 512,
    SystemHeader = 768,
    PesPacket = 1024,
    Payload = 1280,
};

// The high half of a data code: the mark of a virtual item, of the file item.
inline constexpr uint16_t kVirtualMark = 0xFFFF;
inline constexpr uint16_t kFileMark = 0x00FF;

// The data code of an item of kind k with the given high half (none by default).
constexpr uint32_t MakeData(ItemKind k, uint16_t mark = 0) {
    return uint32_t{mark} << 16 | static_cast<uint16_t>(k);
}

constexpr uint32_t MakeVirtualData(ItemKind k) {
    return MakeData(k, kVirtualMark);
}

// The kind an item's data names, whether the item is virtual or not: the one place that reads
// it.
constexpr ItemKind KindOf(uint32_t data) {
    return static_cast<ItemKind>(static_cast<uint16_t>(data));
}

constexpr bool IsVirtual(uint32_t data) {
    return data >> 16 == kVirtualMark;
}

// Item data codes of the tree, as stored (and printed by the command-line tool's JSON form).
namespace kind {
inline constexpr uint32_t kNone = MakeData(ItemKind::None);
inline constexpr uint32_t kFile = MakeData(ItemKind::None, kFileMark);
inline constexpr uint32_t kVideoRoot = MakeData(ItemKind::VideoRoot);
inline constexpr uint32_t kSequenceHeader = MakeData(ItemKind::SequenceHeader);
inline constexpr uint32_t kSequenceExtension = MakeData(ItemKind::SequenceExtension);
inline constexpr uint32_t kExtension = MakeData(ItemKind::Extension);
inline constexpr uint32_t kGop = MakeData(ItemKind::Gop);
inline constexpr uint32_t kGopHeader = MakeData(ItemKind::GopHeader);
inline constexpr uint32_t kPicture = MakeData(ItemKind::Picture);
inline constexpr uint32_t kPictureHeader = MakeData(ItemKind::PictureHeader);
inline constexpr uint32_t kSequenceError = MakeData(ItemKind::SequenceError);
inline constexpr uint32_t kUserData = MakeData(ItemKind::UserData);
inline constexpr uint32_t kSlice = MakeData(ItemKind::Slice);
inline constexpr uint32_t kSliceHeader = MakeData(ItemKind::SliceHeader);
inline constexpr uint32_t kMacroblock = MakeData(ItemKind::Macroblock);
inline constexpr uint32_t kMacroblockHeader = MakeData(ItemKind::MacroblockHeader);
inline constexpr uint32_t kSkippedMacroblock = MakeVirtualData(ItemKind::SkippedMacroblock);
inline constexpr uint32_t kBlockY = MakeData(ItemKind::BlockY);
inline constexpr uint32_t kBlockCb = MakeData(ItemKind::BlockCb);
inline constexpr uint32_t kBlockCr = MakeData(ItemKind::BlockCr);
inline constexpr uint32_t kBlockError = MakeData(ItemKind::BlockError);
inline constexpr uint32_t kSkippedBlockY = MakeVirtualData(ItemKind::BlockY);
inline constexpr uint32_t kSkippedBlockCb = MakeVirtualData(ItemKind::BlockCb);
inline constexpr uint32_t kSkippedBlockCr = MakeVirtualData(ItemKind::BlockCr);
inline constexpr uint32_t kRawDct = MakeData(ItemKind::RawDct);
inline constexpr uint32_t kCoefficientMatrix = MakeVirtualData(ItemKind::RawDct);
inline constexpr uint32_t kPelMatrix = MakeVirtualData(ItemKind::PelMatrix);
inline constexpr uint32_t kPredictionFrames = MakeData(ItemKind::PredictionFrames);
// The placeholder of a slice's macroblocks carries the sequence header's number, virtual.
inline constexpr uint32_t kSlicePlaceholder = MakeVirtualData(ItemKind::SequenceHeader);
inline constexpr uint32_t kPack = MakeData(ItemKind::Pack);
inline constexpr uint32_t kPackHeader = MakeData(ItemKind::PackHeader);
inline constexpr uint32_t kSystemHeader = MakeData(ItemKind::SystemHeader);
inline constexpr uint32_t kPesPacket = MakeData(ItemKind::PesPacket);
inline constexpr uint32_t kPayloadUnlisted = MakeVirtualData(ItemKind::Payload);
inline constexpr uint32_t kPayloadListed = MakeData(ItemKind::Payload);
inline constexpr uint32_t kVirtual = MakeVirtualData(ItemKind::None);
}  // namespace kind

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
inline constexpr int kBlockErrorFirst = 31;  // the Y, Cb and Cr blocks that stopped on an error
inline constexpr int kBlockErrorLast = 33;
}  // namespace image

// An image that marks an error of the item itself (not a slice that holds one).
inline constexpr bool IsErrorImage(int image) {
    return image == image::kError ||
           (image >= image::kBlockErrorFirst && image <= image::kBlockErrorLast);
}

}  // namespace bitloupe
