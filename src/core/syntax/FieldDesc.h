// Field descriptors: a fixed-width syntax element written down once, with its name as the
// standard writes it, its width, how its item shows the value and the rule the value must keep.
// Each layer keeps its descriptors in one table (VideoFields.h, SystemFields.h); ReadField
// reads, checks and records a field in one call, through the reading's emitters (the tree's
// emitters make its item, the silent ones of the decoder nothing).
#pragma once

#include <cstdint>

#include "core/tree/TreeStore.h"

namespace bitloupe {

// How a field's item shows its value.
enum class Shown : uint8_t {
    kNumber,      // name=value (bitsB, n bits)
    kCount,       // name=value (n bits)
    kFlag,        // name=value (1 bits)
    kBitString,   // name=bitsB (n bits)
    kHex,         // name=0xVALUE (n bytes)
    kDecimal,     // name=value (n bytes)
    kMeaning,     // name=meaning (bitsB, n bits)
    kMeaningDec,  // name=meaning (code, n bits)
    kScaled,      // name=value*scale+offset unit (bitsB, n bits)
    kMarker,      // marker_bit=1 (1 bit)
    kSigned,      // name=value as two's complement of n bits (bitsB, n bits)
    kPattern,     // bitsB (n bits): fixed bits; when they differ, "must be ...!" if `unit` says
    kByteBits,    // name=bitsB (n bytes)
    kStreamId,    // name=the stream it names (0xNN, 1 byte)
};

// What a field's value must keep; an item whose value breaks it shows the error image.
enum class Rule : uint8_t {
    kAny,
    kNotZero,  // 0 is forbidden
    kOne,      // a marker bit (its text says "must be 1!")
    kFixed,    // fixed bits: (code & mask) == fixed
};

struct FieldDesc {
    const char* name;  // as the standard writes it
    uint8_t bits;
    Shown shown;
    Rule rule = Rule::kAny;
    const char* const* meanings = nullptr;  // kMeaning(Dec): an entry for every code
    const char* unit = nullptr;             // kScaled: after the value ("bps", " Bytes", "")
    int64_t scale = 1;                      // kScaled: value shown = code * scale + offset
    int64_t offset = 0;
    uint32_t fixed = 0;  // kFixed: the bits required under the mask
    uint32_t mask = 0;

    constexpr bool Breaks(uint32_t code) const {
        return (rule == Rule::kNotZero && code == 0) || (rule == Rule::kOne && code != 1) ||
               (rule == Rule::kFixed && (code & mask) != fixed);
    }
};

// The descriptors' makers, one per way of showing.
namespace field {
constexpr FieldDesc Number(const char* name, int bits) {
    return {name, static_cast<uint8_t>(bits), Shown::kNumber};
}
constexpr FieldDesc Count(const char* name, int bits) {
    return {name, static_cast<uint8_t>(bits), Shown::kCount};
}
constexpr FieldDesc Flag(const char* name) {
    return {name, 1, Shown::kFlag};
}
constexpr FieldDesc BitString(const char* name, int bits) {
    return {name, static_cast<uint8_t>(bits), Shown::kBitString};
}
constexpr FieldDesc Hex(const char* name, int bytes) {
    return {name, static_cast<uint8_t>(8 * bytes), Shown::kHex};
}
constexpr FieldDesc Decimal(const char* name, int bytes) {
    return {name, static_cast<uint8_t>(8 * bytes), Shown::kDecimal};
}
constexpr FieldDesc Meaning(const char* name, int bits, const char* const* meanings,
                            Rule rule = Rule::kAny) {
    return {name, static_cast<uint8_t>(bits), Shown::kMeaning, rule, meanings};
}
constexpr FieldDesc MeaningDec(const char* name, int bits, const char* const* meanings,
                               Rule rule = Rule::kAny) {
    return {name, static_cast<uint8_t>(bits), Shown::kMeaningDec, rule, meanings};
}
constexpr FieldDesc Scaled(const char* name, int bits, int64_t scale, const char* unit,
                           int64_t offset = 0) {
    return {name,  static_cast<uint8_t>(bits), Shown::kScaled, Rule::kAny, nullptr, unit, scale,
            offset};
}
constexpr FieldDesc Signed(const char* name, int bits) {
    return {name, static_cast<uint8_t>(bits), Shown::kSigned};
}
// Fixed bits with no name of their own ('0010' before a time stamp); `required` is how the text
// writes what they must be ("0001", "001x"), or null where a wrong value is listed as it is.
constexpr FieldDesc Pattern(int bits, uint32_t fixed, const char* required, uint32_t mask = ~0u) {
    return {"",
            static_cast<uint8_t>(bits),
            Shown::kPattern,
            Rule::kFixed,
            nullptr,
            required,
            1,
            0,
            fixed,
            mask};
}
inline constexpr FieldDesc kMarkerBit{"marker_bit", 1, Shown::kMarker, Rule::kOne};
}  // namespace field

// The value a field's code stands for (a signed field's two's complement, a scaled one's
// product), as its item shows it.
constexpr int64_t FieldValue(const FieldDesc& d, uint32_t code) {
    if (d.shown == Shown::kScaled) return int64_t{code} * d.scale + d.offset;
    if (d.shown == Shown::kSigned && d.bits > 0 && d.bits < 32 && (code >> (d.bits - 1)) & 1)
        return int64_t{code} - (int64_t{1} << d.bits);
    return code;
}

// Reads a field with `reader`, records it under `parent` through `emit` and returns its code;
// `item` (when given) receives the item made.
template <class Reader, class E>
uint32_t ReadField(Reader& reader, E& emit, const FieldDesc& d, TreeItem parent,
                   TreeItem* item = nullptr) {
    const uint32_t code = reader.ReadBits(d.bits);
    const TreeItem made = emit.Record(d, code, parent);
    if (item) *item = made;
    return code;
}

}  // namespace bitloupe
