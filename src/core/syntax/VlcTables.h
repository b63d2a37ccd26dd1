// The variable-length codes of the slice and macroblock layer: the code tables of ISO/IEC
// 13818-2 Annex B (which hold those of ISO/IEC 11172-2 Annex B), one lookup per table, and the
// program's names for the macroblock types.
//
// Every lookup works the same way: peek a fixed number of bits, choose a sub-table by the range
// the peeked value falls in, index it, and consume exactly the code's length. The result carries
// the decoded value, the code length and the code bits that were consumed, so that the caller
// can show the code in the tree. A pattern that is not a code gives the invalid entry (length
// kVlcInvalidLength) and consumes nothing, except where a lookup reads bit by bit (the I- and
// D-picture macroblock_type, dmvector) or always takes the first bit (motion_code).
//
// The lookups are templates over the bit reader: anything with `uint32_t PeekBits(int n)` and
// `uint32_t ReadBits(int n)` (n up to 32; reads past the end of the data give 0).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// kScanTables: the zig-zag and alternate scans, checked in VlcTables.cpp against their
// definition in ISO/IEC 13818-2.
#include "core/syntax/ScanTables.h"

namespace bitloupe {

// macroblock_type flags.
inline constexpr int kMacroblockIntra = 1;
inline constexpr int kMacroblockPattern = 2;
inline constexpr int kMacroblockMotionBackward = 4;
inline constexpr int kMacroblockMotionForward = 8;
inline constexpr int kMacroblockQuant = 16;
inline constexpr int kSpatialTemporalWeightCodeFlag = 32;
// Spatial scalability: the spatial_temporal_weight classes are permitted (the "compatible"
// prediction from the lower layer).
inline constexpr int kMacroblockCompatible = 64;

// The length of the invalid entry: a bit pattern that is not a code of the table.
inline constexpr uint8_t kVlcInvalidLength = 255;
// The run values of the two DCT coefficient codes that carry no run/level pair.
inline constexpr uint8_t kDctEndOfBlock = 64;
inline constexpr uint8_t kDctEscape = 65;

// A short-code table entry: the value and the number of bits to consume at the position the
// entry was looked up from.
struct VlcEntry {
    int8_t value;
    uint8_t length;
};
inline constexpr VlcEntry kInvalidVlcEntry{0, kVlcInvalidLength};

// A DCT coefficient table entry. The level is positive; the length leaves out the sign bit that
// follows every run/level code.
struct DctEntry {
    uint8_t run;
    int16_t level;
    uint8_t length;
};
inline constexpr DctEntry kInvalidDctEntry{0, 0, kVlcInvalidLength};

// What a short-code lookup hands back: the entry's value and length, and the code bits it
// consumed (for display only).
struct VlcResult {
    int8_t value = 0;
    uint8_t length = kVlcInvalidLength;
    uint32_t code = 0;

    bool IsValid() const { return length != kVlcInvalidLength; }
};

// What a DCT coefficient lookup hands back. For a run/level code the level carries the sign
// read after the code, `length` stays the code's length without that sign bit, and `code`
// holds the code bits followed by the sign bit.
struct DctResult {
    uint8_t run = 0;
    int16_t level = 0;
    uint8_t length = kVlcInvalidLength;
    uint32_t code = 0;

    bool IsValid() const { return length != kVlcInvalidLength; }
    bool IsEndOfBlock() const { return IsValid() && run == kDctEndOfBlock; }
    bool IsEscape() const { return IsValid() && run == kDctEscape; }
};

// The program's name of a macroblock_type value under the table that GetMacroblockType would
// use for these scalable_mode and picture_coding_type values; "Forbidden" for a value that
// table does not list.
const char* MacroblockTypeName(int flags, int scalableMode, int pictureCodingType);

// The sub-tables behind the lookups, laid out for direct indexing (see VlcTables.cpp for the
// code tables they are built from). Entries that no peeked value reaches are invalid.
namespace vlc {

// Table B-1, macroblock_address_increment.
extern const std::array<VlcEntry, 1> kAddressIncrement0;    // value >= 1024: (value >> 10) - 1
extern const std::array<VlcEntry, 16> kAddressIncrement1;   // 128..1023: value >> 6
extern const std::array<VlcEntry, 104> kAddressIncrement2;  // 24..127: value - 24

// Tables B-2 to B-8 and the D-picture table, macroblock_type.
extern const std::array<VlcEntry, 4> kMacroblockTypeI;  // two bits, read one at a time
extern const std::array<VlcEntry, 8> kMacroblockTypeP1;
extern const std::array<VlcEntry, 8> kMacroblockTypeP2;
extern const std::array<VlcEntry, 16> kMacroblockTypeB1;
extern const std::array<VlcEntry, 8> kMacroblockTypeB2;
extern const std::array<VlcEntry, 2> kMacroblockTypeD;  // one bit
extern const std::array<VlcEntry, 16> kMacroblockTypeISpatial;
extern const std::array<VlcEntry, 16> kMacroblockTypePSpatial1;
extern const std::array<VlcEntry, 16> kMacroblockTypePSpatial2;
extern const std::array<VlcEntry, 16> kMacroblockTypeBSpatial1;
extern const std::array<VlcEntry, 16> kMacroblockTypeBSpatial2;
extern const std::array<VlcEntry, 16> kMacroblockTypeBSpatial3;
extern const std::array<VlcEntry, 8> kMacroblockTypeSnr;

// Table B-9, coded_block_pattern.
extern const std::array<VlcEntry, 32> kCodedBlockPattern1;
extern const std::array<VlcEntry, 64> kCodedBlockPattern2;
extern const std::array<VlcEntry, 8> kCodedBlockPattern3;

// Table B-10, motion_code: indexed by the nine bits after the leading 0; the value is the
// magnitude and the length leaves out the leading 0 and the sign bit.
extern const std::array<VlcEntry, 8> kMotionCode1;
extern const std::array<VlcEntry, 8> kMotionCode2;
extern const std::array<VlcEntry, 12> kMotionCode3;

// Table B-11, dmvector: two bits, read one at a time.
extern const std::array<VlcEntry, 4> kDmvector;

// Tables B-12 and B-13, dct_dc_size_luminance and dct_dc_size_chrominance.
extern const std::array<VlcEntry, 31> kDctDcSizeLuminance1;
extern const std::array<VlcEntry, 16> kDctDcSizeLuminance2;
extern const std::array<VlcEntry, 31> kDctDcSizeChrominance1;
extern const std::array<VlcEntry, 32> kDctDcSizeChrominance2;

// Tables B-14 and B-15, DCT coefficients, indexed by ranges of the 16 peeked bits v.
extern const std::array<DctEntry, 12> kDctZeroFirst;  // B-14, first coefficient: (v >> 12) - 4
extern const std::array<DctEntry, 12> kDctZeroNext;   // B-14, other coefficients: (v >> 12) - 4
extern const std::array<DctEntry, 60> kDctZero1;      // B-14, 1024..16383: (v >> 8) - 4
extern const std::array<DctEntry, 8> kDctZero2;       // B-14, 512..1023: (v >> 6) - 8
extern const std::array<DctEntry, 252> kDctOne1;      // B-15, v >= 1024: (v >> 8) - 4
extern const std::array<DctEntry, 8> kDctOne2;        // B-15, 512..1023: (v >> 6) - 8
// Codes with seven or more leading zeros, the same in both tables.
extern const std::array<DctEntry, 16> kDctShared1;  // 256..511: (v >> 4) - 16
extern const std::array<DctEntry, 16> kDctShared2;  // 128..255: (v >> 3) - 16
extern const std::array<DctEntry, 16> kDctShared3;  // 64..127: (v >> 2) - 16
extern const std::array<DctEntry, 16> kDctShared4;  // 32..63: (v >> 1) - 16
extern const std::array<DctEntry, 16> kDctShared5;  // 16..31: v - 16

// A table entry, or the invalid entry for an index outside the table.
template <typename T, size_t N>
T At(const std::array<T, N>& table, uint32_t index, T invalid) {
    return index < N ? table[index] : invalid;
}
template <size_t N>
VlcEntry At(const std::array<VlcEntry, N>& table, uint32_t index) {
    return At(table, index, kInvalidVlcEntry);
}
template <size_t N>
DctEntry At(const std::array<DctEntry, N>& table, uint32_t index) {
    return At(table, index, kInvalidDctEntry);
}

// Consumes the code of a looked-up entry.
template <typename R>
VlcResult Consume(R& reader, VlcEntry e) {
    if (e.length == kVlcInvalidLength) return {};
    return {e.value, e.length, reader.ReadBits(e.length)};
}

// Consumes a DCT code and, after a run/level code, its sign bit.
template <typename R>
DctResult ConsumeDct(R& reader, DctEntry e) {
    if (e.length == kVlcInvalidLength) return {};
    if (e.run >= kDctEndOfBlock) return {e.run, 0, e.length, reader.ReadBits(e.length)};
    const uint32_t bits = reader.ReadBits(e.length + 1);
    const int16_t level = (bits & 1) ? static_cast<int16_t>(-e.level) : e.level;
    return {e.run, level, e.length, bits};
}

// Which DCT coefficient table applies to the next code.
enum class DctTable { kZeroFirst, kZeroNext, kOne };

template <typename R>
DctResult GetDct(R& reader, DctTable table) {
    const uint32_t v = reader.PeekBits(16);
    DctEntry e = kInvalidDctEntry;
    if (v >= 1024 && table == DctTable::kOne)
        e = At(kDctOne1, (v >> 8) - 4);
    else if (v >= 16384)
        e = At(table == DctTable::kZeroFirst ? kDctZeroFirst : kDctZeroNext, (v >> 12) - 4);
    else if (v >= 1024)
        e = At(kDctZero1, (v >> 8) - 4);
    else if (v >= 512)
        e = At(table == DctTable::kOne ? kDctOne2 : kDctZero2, (v >> 6) - 8);
    else if (v >= 256)
        e = At(kDctShared1, (v >> 4) - 16);
    else if (v >= 128)
        e = At(kDctShared2, (v >> 3) - 16);
    else if (v >= 64)
        e = At(kDctShared3, (v >> 2) - 16);
    else if (v >= 32)
        e = At(kDctShared4, (v >> 1) - 16);
    else if (v >= 16)
        e = At(kDctShared5, v - 16);
    return ConsumeDct(reader, e);
}

// The DCT codes that fit in the first ten bits of the window, looked up in one step: a table
// of 1024 entries per DctTable, indexed by those ten bits, made from GetDct itself. An entry of
// length 0 means the code is longer (or no code) and GetDct has to look it up.
struct FastDctEntry {
    uint8_t run = 0;     // kDctEndOfBlock and kDctEscape as in DctEntry
    uint8_t length = 0;  // without the sign bit; 0: not resolved here
    int16_t level = 0;   // positive
};
inline constexpr int kFastDctBits = 10;
const FastDctEntry* FastDctTable(DctTable table);

}  // namespace vlc

// macroblock_address_increment (Table B-1). The escape (0000 0001 000) and, in MPEG-1 streams,
// the stuffing code (0000 0001 111) are left to the caller: they come back invalid here.
template <typename R>
VlcResult GetMacroblockAddressIncrement(R& reader) {
    const uint32_t v = reader.PeekBits(11);
    VlcEntry e = kInvalidVlcEntry;
    if (v >= 1024)
        e = vlc::At(vlc::kAddressIncrement0, (v >> 10) - 1);
    else if (v >= 128)
        e = vlc::At(vlc::kAddressIncrement1, v >> 6);
    else if (v >= 24)
        e = vlc::At(vlc::kAddressIncrement2, v - 24);
    return vlc::Consume(reader, e);
}

// macroblock_type: Table B-8 for SNR scalability (scalable_mode 2) whatever the picture type;
// otherwise by picture_coding_type, with Tables B-5 to B-7 under spatial scalability
// (scalable_mode 1) and B-2 to B-4 without, and the D-picture table.
template <typename R>
VlcResult GetMacroblockType(R& reader, int scalableMode, int pictureCodingType) {
    using namespace vlc;
    if (scalableMode == 2) return Consume(reader, At(kMacroblockTypeSnr, reader.PeekBits(3)));
    const bool spatial = scalableMode == 1;
    switch (pictureCodingType) {
        case 1: {
            if (spatial) return Consume(reader, At(kMacroblockTypeISpatial, reader.PeekBits(4)));
            // Read bit by bit: 1, then 01; 00 is not a code.
            const uint32_t first = reader.ReadBits(1);
            const uint32_t bits = first ? 2 : reader.ReadBits(1);
            const VlcEntry e = At(kMacroblockTypeI, bits);
            if (e.length == kVlcInvalidLength) return {};
            return {e.value, e.length, first ? 1 : bits};
        }
        case 2: {
            if (spatial) {
                const uint32_t v = reader.PeekBits(7);
                if (v < 2) return {};
                return Consume(reader, v < 16 ? At(kMacroblockTypePSpatial2, v)
                                              : At(kMacroblockTypePSpatial1, v >> 3));
            }
            const uint32_t v = reader.PeekBits(6);
            if (v == 0) return {};
            return Consume(reader,
                           v >= 8 ? At(kMacroblockTypeP1, v >> 3) : At(kMacroblockTypeP2, v));
        }
        case 3: {
            if (spatial) {
                const uint32_t v = reader.PeekBits(9);
                if (v >= 64) return Consume(reader, At(kMacroblockTypeBSpatial1, v >> 5));
                if (v >= 16) return Consume(reader, At(kMacroblockTypeBSpatial2, v >> 2));
                if (v >= 8) return Consume(reader, At(kMacroblockTypeBSpatial3, v));
                return {};
            }
            const uint32_t v = reader.PeekBits(6);
            if (v == 0) return {};
            return Consume(reader,
                           v >= 8 ? At(kMacroblockTypeB1, v >> 2) : At(kMacroblockTypeB2, v));
        }
        case 4: {
            // D pictures: the one-bit code 1; a 0 bit is read and is not a code.
            const uint32_t bit = reader.ReadBits(1);
            const VlcEntry e = At(kMacroblockTypeD, bit);
            if (e.length == kVlcInvalidLength) return {};
            return {e.value, e.length, bit};
        }
        default:
            return {};
    }
}

// motion_code (Table B-10). The first bit is always consumed: 1 is motion_code 0 (length 1).
// After a 0 the rest of the code and its sign bit are consumed; the returned length and code
// bits are those after the leading 0 (the sign included), so 0000 0011 001 gives -16 with
// length 10.
template <typename R>
VlcResult GetMotionCode(R& reader) {
    using namespace vlc;
    if (reader.ReadBits(1)) return {0, 1, 1};
    const uint32_t v = reader.PeekBits(9);
    VlcEntry e = kInvalidVlcEntry;
    if (v >= 64)
        e = At(kMotionCode1, v >> 6);
    else if (v >= 24)
        e = At(kMotionCode2, v >> 3);
    else if (v >= 12)
        e = At(kMotionCode3, v - 12);
    if (e.length == kVlcInvalidLength) return {};
    const uint8_t length = static_cast<uint8_t>(e.length + 1);
    const uint32_t bits = reader.ReadBits(length);
    const int8_t value = (bits & 1) ? static_cast<int8_t>(-e.value) : e.value;
    return {value, length, bits};
}

// dmvector (Table B-11), read bit by bit: 0 is 0; 10 is +1; 11 is -1.
template <typename R>
VlcResult GetDmvector(R& reader) {
    const uint32_t first = reader.ReadBits(1);
    const uint32_t bits = first ? 2 | reader.ReadBits(1) : 0;
    const VlcEntry e = vlc::At(vlc::kDmvector, bits);
    return {e.value, e.length, bits};
}

// coded_block_pattern (Table B-9, with the 4:2:0 pattern 0 coded 0000 0000 1).
template <typename R>
VlcResult GetCodedBlockPattern(R& reader) {
    const uint32_t v = reader.PeekBits(9);
    VlcEntry e = kInvalidVlcEntry;
    if (v >= 128)
        e = vlc::At(vlc::kCodedBlockPattern1, v >> 4);
    else if (v >= 8)
        e = vlc::At(vlc::kCodedBlockPattern2, v >> 1);
    else if (v >= 1)
        e = vlc::At(vlc::kCodedBlockPattern3, v);
    return vlc::Consume(reader, e);
}

// dct_dc_size_luminance (Table B-12).
template <typename R>
VlcResult GetDctDcSizeLuminance(R& reader) {
    const uint32_t v = reader.PeekBits(5);
    if (v < 31) return vlc::Consume(reader, vlc::At(vlc::kDctDcSizeLuminance1, v));
    return vlc::Consume(reader, vlc::At(vlc::kDctDcSizeLuminance2, reader.PeekBits(9) - 496));
}

// dct_dc_size_chrominance (Table B-13).
template <typename R>
VlcResult GetDctDcSizeChrominance(R& reader) {
    const uint32_t v = reader.PeekBits(5);
    if (v < 31) return vlc::Consume(reader, vlc::At(vlc::kDctDcSizeChrominance1, v));
    return vlc::Consume(reader, vlc::At(vlc::kDctDcSizeChrominance2, reader.PeekBits(10) - 992));
}

// A DCT coefficient of a block coded with Table B-14. `first`: the first coefficient of a
// non-intra block, where 1s is run 0, level 1 (elsewhere 10 is end_of_block and 11s is run 0,
// level 1).
template <typename R>
DctResult GetDctCoefficient(R& reader, bool first) {
    return vlc::GetDct(reader, first ? vlc::DctTable::kZeroFirst : vlc::DctTable::kZeroNext);
}

// A DCT coefficient after the DC term of an intra block: Table B-14 when intra_vlc_format is
// 0, Table B-15 when it is 1 (whose codes with seven or more leading zeros are looked up in
// the sub-tables it shares with Table B-14).
template <typename R>
DctResult GetIntraDctCoefficient(R& reader, bool intraVlcFormat) {
    return vlc::GetDct(reader, intraVlcFormat ? vlc::DctTable::kOne : vlc::DctTable::kZeroNext);
}

}  // namespace bitloupe
