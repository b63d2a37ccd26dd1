// The item emitters: each formats one syntax element into its item text and appends it as the
// last child of a parent. Parse code reads a field and hands it to exactly one emitter; nothing
// else formats item texts.
#pragma once

#include <cstdint>
#include <string>

#include "core/syntax/FieldDesc.h"
#include "core/syntax/StreamState.h"
#include "core/tree/TreeStore.h"

namespace bitloupe {

class ParseContext;

// The value written in base 2 as an unsigned 32-bit number, zero-filled to width digits
// (a longer string is not cut).
std::string BitString(uint32_t value, int width);
// Writes the same into out (at least 33 bytes), returns the length.
int FormatBits(char* out, uint32_t value, int width);
// Eight values right-aligned in fields of `width` characters (wider values take the room they
// need), separated by commas, as printf's "%5d,%5d,..." writes them; out needs 96 bytes.
// Returns the length.
template <class T>
int FormatMatrixRow(char* out, const T* v, int width) {
    char* p = out;
    for (int i = 0; i < 8; ++i) {
        if (i) *p++ = ',';
        char digits[12];
        int n = 0;
        const int x = v[i];
        unsigned u = x < 0 ? 0u - static_cast<unsigned>(x) : static_cast<unsigned>(x);
        do {
            digits[n++] = static_cast<char>('0' + u % 10);
            u /= 10;
        } while (u);
        if (x < 0) digits[n++] = '-';
        for (int k = n; k < width; ++k) *p++ = ' ';
        while (n) *p++ = digits[--n];
    }
    *p = 0;
    return static_cast<int>(p - out);
}
// "1,234,567": the decimal digits of value in groups of three.
std::string GroupDigits(uint64_t value);

class Emitters {
  public:
    Emitters(ParseContext& parser, TreeStore& tree, CStreamState& stream);

    // Plain insertion of a fixed text (image 0, a plain item unless given).
    TreeItem AddItem(const char* text, TreeItem parent, int image = 0, uint32_t data = kind::kNone);
    TreeItem AddItemF(TreeItem parent, const char* format, ...)
        __attribute__((format(printf, 3, 4)));

    // An item made virtual at birth (what MarkVirtual does to a fresh item).
    TreeItem InsertVirtual(const char* text, int len, TreeItem parent) {
        return Insert(text, len, parent, image::kVirtual, kind::kVirtual);
    }
    TreeItem InsertVirtual(const char* text, TreeItem parent) {
        return InsertVirtual(text, static_cast<int>(std::char_traits<char>::length(text)), parent);
    }

    void MarkVirtual(TreeItem item);
    void RecordPosition(TreeItem item, int show, bool systemLayer);
    void AddOffsetItem(TreeItem item, int show);

    // A field read as `code`, shown as its descriptor says; a code that breaks the field's rule
    // gives the item the error image.
    TreeItem Record(const FieldDesc& d, uint32_t code, TreeItem parent);

    TreeItem AddValue(const char* name, int value, TreeItem parent);
    TreeItem AddFileOffset(const char* name, const ItemPosition& pos, TreeItem parent, int show);
    TreeItem AddFlagValue(const char* name, int flag, TreeItem parent);
    TreeItem AddMarkerBit(uint32_t bit, TreeItem parent);
    TreeItem AddBit(const char* name, uint32_t bit, TreeItem parent);
    TreeItem AddIndexedBit(const char* name, int index, uint32_t bit, TreeItem parent);
    TreeItem AddBitsValue(const char* name, int value, int bits, TreeItem parent);
    TreeItem AddBitString(const char* name, uint32_t value, int bits, TreeItem parent);
    TreeItem AddHexBytes(const char* name, uint32_t value, int bytes, TreeItem parent);
    TreeItem AddIndexedHexBytes(const char* name, int index, uint32_t value, int bytes,
                                TreeItem parent);
    TreeItem AddDecBytes(const char* name, int value, int bytes, TreeItem parent);
    TreeItem AddField(const char* name, int value, int bits, TreeItem parent);
    TreeItem AddCodedField(const char* name, int shown, uint32_t code, int bits, TreeItem parent);
    TreeItem AddIndexedField(const char* name, int index, int value, int bits, TreeItem parent);
    TreeItem AddFieldWithUnit(const char* name, int64_t shown, const char* unit, uint32_t code,
                              int bits, TreeItem parent);
    // table must hold at least code + 1 entries; callers pass tables indexed by every code
    // their field can hold.
    TreeItem AddEnumField(const char* name, const char* const* table, uint32_t code, int bits,
                          TreeItem parent);
    TreeItem AddEnumFieldDec(const char* name, const char* const* table, uint32_t code, int bits,
                             TreeItem parent);
    TreeItem AddVlc(const char* name, int value, uint32_t code, int length, TreeItem parent);
    TreeItem AddSignedVlc(const char* name, int value, uint32_t code, int length, TreeItem parent);
    TreeItem AddRunLevel(uint32_t runLevel, int length, uint32_t code, TreeItem parent);
    TreeItem AddMatrix16(const char* title, const int16_t* values, TreeItem parent);
    TreeItem AddMatrix8(const char* title, const uint8_t* values, TreeItem parent);
    TreeItem AddMatrix8Small(const uint8_t* values, TreeItem parent, bool mark);
    TreeItem AddItemRef(const char* name, int index, TreeItem referenced, TreeItem parent);

    int offsetDigits = 2;

    // The next item's bits began `bits` bits before the reader's place, not right before it
    // (a field emitted after the fields read behind it).
    Emitters& Back(int bits) {
        back_ = bits;
        return *this;
    }

    // The items from here on lie one after another from bit place `start` (fields read as a
    // block before they are listed), until StopFollowing; items that stand for no bits (virtual
    // ones, texts not marked with Bits) take no room.
    void Follow(uint64_t start) {
        follow_ = start;
        following_ = true;
    }
    void StopFollowing() { following_ = false; }
    // The next AddItem or AddItemF stands for `bits` bits of the stream.
    Emitters& Bits(int bits) {
        textBits_ = bits;
        return *this;
    }

  private:
    ItemFacts SpanOf(int bits);
    // A matrix's title item (virtual), kept as a record when the title is a static text.
    TreeItem AddMatrixTitle(const char* title, TreeItem parent);
    int back_ = -1;
    int textBits_ = 0;
    bool following_ = false;
    uint64_t follow_ = 0;
    TreeItem Insert(const char* text, int len, TreeItem parent, int image = 0, uint32_t data = 0);

    ParseContext& parser_;
    TreeStore& tree_;
    CStreamState& stream_;
};

}  // namespace bitloupe
