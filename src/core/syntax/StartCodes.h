// The start codes (00 00 01 xx) of video and system streams, and what each one opens. The
// drivers dispatch on `StartCodeOf` instead of on the numbers.
#pragma once

#include <array>
#include <cstdint>

namespace bitloupe {

namespace start_code {
inline constexpr uint32_t kPicture = 0x00000100;
inline constexpr uint32_t kSliceFirst = 0x00000101;
inline constexpr uint32_t kSliceLast = 0x000001AF;
inline constexpr uint32_t kUserData = 0x000001B2;
inline constexpr uint32_t kSequenceHeader = 0x000001B3;
inline constexpr uint32_t kSequenceError = 0x000001B4;
inline constexpr uint32_t kExtension = 0x000001B5;
inline constexpr uint32_t kSequenceEnd = 0x000001B7;
inline constexpr uint32_t kGroup = 0x000001B8;
inline constexpr uint32_t kEndOfSystemStream = 0x000001B9;
inline constexpr uint32_t kPack = 0x000001BA;
inline constexpr uint32_t kSystemHeader = 0x000001BB;
inline constexpr uint32_t kLast = 0x000001FF;
// The video layer's codes are kPicture..kGroup, the system layer's kEndOfSystemStream..kLast.
inline constexpr uint32_t kVideoFirst = kPicture;
inline constexpr uint32_t kVideoLast = kGroup;
inline constexpr uint32_t kSystemFirst = kEndOfSystemStream;
}  // namespace start_code

enum class StartCode : uint8_t {
    Picture,
    Slice,
    Reserved,  // B0, B1 and B6
    UserData,
    SequenceHeader,
    SequenceError,
    Extension,
    SequenceEnd,
    Group,
    EndOfSystemStream,
    Pack,
    SystemHeader,
    Packet,  // BC..FF: a PES packet of that stream id
};

namespace detail {
constexpr std::array<StartCode, 256> MakeStartCodeTable() {
    std::array<StartCode, 256> t{};
    t[0x00] = StartCode::Picture;
    for (int i = 0x01; i <= 0xAF; ++i) t[i] = StartCode::Slice;
    t[0xB0] = t[0xB1] = t[0xB6] = StartCode::Reserved;
    t[0xB2] = StartCode::UserData;
    t[0xB3] = StartCode::SequenceHeader;
    t[0xB4] = StartCode::SequenceError;
    t[0xB5] = StartCode::Extension;
    t[0xB7] = StartCode::SequenceEnd;
    t[0xB8] = StartCode::Group;
    t[0xB9] = StartCode::EndOfSystemStream;
    t[0xBA] = StartCode::Pack;
    t[0xBB] = StartCode::SystemHeader;
    for (int i = 0xBC; i <= 0xFF; ++i) t[i] = StartCode::Packet;
    return t;
}
inline constexpr std::array<StartCode, 256> kStartCodeTable = MakeStartCodeTable();
}  // namespace detail

// What the start code 00 00 01 xx opens; `code` holds the four bytes.
constexpr StartCode StartCodeOf(uint32_t code) {
    return detail::kStartCodeTable[code & 0xFF];
}

}  // namespace bitloupe
