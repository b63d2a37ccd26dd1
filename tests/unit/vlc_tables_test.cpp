// The variable-length code lookups of the macroblock layer, checked against the code tables of
// ISO/IEC 13818-2 Annex B written out again here as (length, code, value) numbers: every
// pattern of a lookup's peek width is decoded and compared with the code it begins with, and the
// codes a lookup produces are checked to be prefix-free and, where the table is, complete.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <map>
#include <set>
#include <string_view>
#include <tuple>
#include <vector>

#include "core/syntax/VlcTables.h"

namespace bitloupe {
namespace {

// Bits from a '0'/'1' string or a number; past the end every bit reads as `pad`.
class BitReader {
  public:
    explicit BitReader(std::string_view pattern, int pad = 0) : pad_(pad) {
        for (char c : pattern)
            if (c == '0' || c == '1') bits_.push_back(c == '1');
    }
    BitReader(uint32_t value, int n, int pad = 0) : pad_(pad) {
        for (int i = n - 1; i >= 0; --i) bits_.push_back((value >> i) & 1);
    }
    uint32_t PeekBits(int n) const {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i) {
            const size_t at = pos_ + static_cast<size_t>(i);
            v = v << 1 | (at < bits_.size() ? bits_[at] : pad_);
        }
        return v;
    }
    uint32_t ReadBits(int n) {
        const uint32_t v = PeekBits(n);
        pos_ += static_cast<size_t>(n);
        return v;
    }
    int position() const { return static_cast<int>(pos_); }

  private:
    std::vector<uint8_t> bits_;
    size_t pos_ = 0;
    int pad_;
};

struct Row {
    int length;
    uint32_t code;
    int value;
};
using CodeKey = std::pair<int, uint32_t>;  // length, bits
using CodeMap = std::map<CodeKey, int>;

CodeMap ToMap(const std::vector<Row>& rows) {
    CodeMap m;
    for (const Row& r : rows) m[{r.length, r.code}] = r.value;
    return m;
}

bool PrefixFree(const std::set<CodeKey>& codes) {
    for (const auto& [la, a] : codes)
        for (const auto& [lb, b] : codes)
            if (la < lb && (b >> (lb - la)) == a) return false;
    return true;
}

// The share of `width`-bit patterns that begin with one of the codes.
uint32_t Coverage(const std::set<CodeKey>& codes, int width) {
    uint32_t n = 0;
    for (const auto& [length, bits] : codes) n += 1u << (width - length);
    return n;
}

template <typename Map>
std::set<CodeKey> Keys(const Map& m) {
    std::set<CodeKey> s;
    for (const auto& [key, value] : m) s.insert(key);
    return s;
}

// Decodes every `peek`-bit pattern, with the bits behind it all 0 and all 1, and collects the
// codes found. Each result must consume exactly its length, show exactly the bits it consumed,
// and not depend on the bits behind the code; a non-code consumes `invalidConsumed` bits.
template <typename Lookup>
CodeMap Survey(Lookup lookup, int peek, int invalidConsumed = 0) {
    CodeMap found;
    for (uint32_t p = 0; p < (1u << peek) && !::testing::Test::HasFailure(); ++p) {
        for (int pad = 0; pad < 2; ++pad) {
            BitReader r(p, peek, pad);
            const VlcResult got = lookup(r);
            if (!got.IsValid()) {
                EXPECT_EQ(r.position(), invalidConsumed) << "pattern " << p;
                EXPECT_EQ(got.value, 0);
                continue;
            }
            if (got.length > peek) {
                ADD_FAILURE() << "pattern " << p << " gives length " << int{got.length};
                return found;
            }
            EXPECT_EQ(r.position(), got.length) << "pattern " << p;
            EXPECT_EQ(got.code, p >> (peek - got.length)) << "pattern " << p;
            const CodeKey key{got.length, got.code};
            if (pad == 1) {
                const auto it = found.find(key);
                EXPECT_TRUE(it != found.end() && it->second == got.value)
                    << "pattern " << p << " depends on the bits behind it";
            } else if (auto [it, fresh] = found.emplace(key, got.value); !fresh) {
                EXPECT_EQ(it->second, got.value) << "pattern " << p;
            }
        }
    }
    return found;
}

// ---------------------------------------------------------------------------------------------
// Short-code tables.

// Table B-1, macroblock_address_increment.
const std::vector<Row> kB1 = {
    {1, 0x1, 1},    {3, 0x3, 2},    {3, 0x2, 3},    {4, 0x3, 4},    {4, 0x2, 5},    {5, 0x3, 6},
    {5, 0x2, 7},    {7, 0x7, 8},    {7, 0x6, 9},    {8, 0xB, 10},   {8, 0xA, 11},   {8, 0x9, 12},
    {8, 0x8, 13},   {8, 0x7, 14},   {8, 0x6, 15},   {10, 0x17, 16}, {10, 0x16, 17}, {10, 0x15, 18},
    {10, 0x14, 19}, {10, 0x13, 20}, {10, 0x12, 21}, {11, 0x23, 22}, {11, 0x22, 23}, {11, 0x21, 24},
    {11, 0x20, 25}, {11, 0x1F, 26}, {11, 0x1E, 27}, {11, 0x1D, 28}, {11, 0x1C, 29}, {11, 0x1B, 30},
    {11, 0x1A, 31}, {11, 0x19, 32}, {11, 0x18, 33},
};

// Table B-9, coded_block_pattern.
const std::vector<Row> kB9 = {
    {3, 0x7, 60},  {4, 0xD, 4},   {4, 0xC, 8},   {4, 0xB, 16},  {4, 0xA, 32},  {5, 0x13, 12},
    {5, 0x12, 48}, {5, 0x11, 20}, {5, 0x10, 40}, {5, 0xF, 28},  {5, 0xE, 44},  {5, 0xD, 52},
    {5, 0xC, 56},  {5, 0xB, 1},   {5, 0xA, 61},  {5, 0x9, 2},   {5, 0x8, 62},  {6, 0xF, 24},
    {6, 0xE, 36},  {6, 0xD, 3},   {6, 0xC, 63},  {7, 0x17, 5},  {7, 0x16, 9},  {7, 0x15, 17},
    {7, 0x14, 33}, {7, 0x13, 6},  {7, 0x12, 10}, {7, 0x11, 18}, {7, 0x10, 34}, {8, 0x1F, 7},
    {8, 0x1E, 11}, {8, 0x1D, 19}, {8, 0x1C, 35}, {8, 0x1B, 13}, {8, 0x1A, 49}, {8, 0x19, 21},
    {8, 0x18, 41}, {8, 0x17, 14}, {8, 0x16, 50}, {8, 0x15, 22}, {8, 0x14, 42}, {8, 0x13, 15},
    {8, 0x12, 51}, {8, 0x11, 23}, {8, 0x10, 43}, {8, 0xF, 25},  {8, 0xE, 37},  {8, 0xD, 26},
    {8, 0xC, 38},  {8, 0xB, 29},  {8, 0xA, 45},  {8, 0x9, 53},  {8, 0x8, 57},  {8, 0x7, 30},
    {8, 0x6, 46},  {8, 0x5, 54},  {8, 0x4, 58},  {9, 0x7, 31},  {9, 0x6, 47},  {9, 0x5, 55},
    {9, 0x4, 59},  {9, 0x3, 27},  {9, 0x2, 39},  {9, 0x1, 0},
};

// Tables B-12 and B-13, dct_dc_size_luminance and dct_dc_size_chrominance.
const std::vector<Row> kB12 = {
    {3, 0x4, 0},  {2, 0x0, 1},  {2, 0x1, 2},  {3, 0x5, 3},  {3, 0x6, 4},    {4, 0xE, 5},
    {5, 0x1E, 6}, {6, 0x3E, 7}, {7, 0x7E, 8}, {8, 0xFE, 9}, {9, 0x1FE, 10}, {9, 0x1FF, 11},
};
const std::vector<Row> kB13 = {
    {2, 0x0, 0},  {2, 0x1, 1},  {2, 0x2, 2},  {3, 0x6, 3},   {4, 0xE, 4},     {5, 0x1E, 5},
    {6, 0x3E, 6}, {7, 0x7E, 7}, {8, 0xFE, 8}, {9, 0x1FE, 9}, {10, 0x3FE, 10}, {10, 0x3FF, 11},
};

// Table B-11, dmvector.
const std::vector<Row> kB11 = {{2, 0x3, -1}, {1, 0x0, 0}, {2, 0x2, 1}};

TEST(VlcTables, AddressIncrementDecodesEveryCodeAndNothingElse) {
    const CodeMap found = Survey([](BitReader& r) { return GetMacroblockAddressIncrement(r); }, 11);
    EXPECT_EQ(found, ToMap(kB1));
    EXPECT_TRUE(PrefixFree(Keys(found)));
    // Every pattern from 0000 0011 000 up begins with a code.
    EXPECT_EQ(Coverage(Keys(found), 11), 2048u - 24u);
}

TEST(VlcTables, AddressIncrementLeavesEscapeAndStuffingToTheCaller) {
    for (const char* code : {"0000 0001 000", "0000 0001 111", "0000 0000 000"}) {
        BitReader r(code, 1);
        EXPECT_FALSE(GetMacroblockAddressIncrement(r).IsValid()) << code;
        EXPECT_EQ(r.position(), 0) << code;
    }
}

TEST(VlcTables, CodedBlockPattern) {
    const CodeMap found = Survey([](BitReader& r) { return GetCodedBlockPattern(r); }, 9);
    EXPECT_EQ(found, ToMap(kB9));
    EXPECT_TRUE(PrefixFree(Keys(found)));
    EXPECT_EQ(Coverage(Keys(found), 9), 511u);  // all but 0000 0000 0
    std::set<int> patterns;
    for (const auto& [code, value] : found) patterns.insert(value);
    EXPECT_EQ(patterns.size(), 64u);  // each of the 64 patterns once

    BitReader r("0000 0000 1");
    const VlcResult zero = GetCodedBlockPattern(r);
    EXPECT_EQ(zero.value, 0);
    EXPECT_EQ(zero.length, 9);
    EXPECT_EQ(zero.code, 1u);
}

TEST(VlcTables, DcSizeTablesAreCompletePrefixCodes) {
    const CodeMap luma = Survey([](BitReader& r) { return GetDctDcSizeLuminance(r); }, 9);
    EXPECT_EQ(luma, ToMap(kB12));
    EXPECT_TRUE(PrefixFree(Keys(luma)));
    EXPECT_EQ(Coverage(Keys(luma), 9), 512u);

    const CodeMap chroma = Survey([](BitReader& r) { return GetDctDcSizeChrominance(r); }, 10);
    EXPECT_EQ(chroma, ToMap(kB13));
    EXPECT_TRUE(PrefixFree(Keys(chroma)));
    EXPECT_EQ(Coverage(Keys(chroma), 10), 1024u);
}

TEST(VlcTables, DmvectorIsReadBitByBit) {
    const CodeMap found = Survey([](BitReader& r) { return GetDmvector(r); }, 2);
    EXPECT_EQ(found, ToMap(kB11));
    EXPECT_EQ(Coverage(Keys(found), 2), 4u);
}

// Table B-10, the positive motion codes; the negative code ends in 1 where the positive ends
// in 0.
const std::vector<Row> kB10Positive = {
    {3, 0x2, 1},    {4, 0x2, 2},    {5, 0x2, 3},    {7, 0x6, 4},    {8, 0xA, 5},    {8, 0x8, 6},
    {8, 0x6, 7},    {10, 0x16, 8},  {10, 0x14, 9},  {10, 0x12, 10}, {11, 0x22, 11}, {11, 0x20, 12},
    {11, 0x1E, 13}, {11, 0x1C, 14}, {11, 0x1A, 15}, {11, 0x18, 16},
};

TEST(VlcTables, MotionCodeDecodesEveryCodeAndNothingElse) {
    CodeMap expected = {{{1, 1}, 0}};
    for (const Row& r : kB10Positive) {
        expected[{r.length, r.code}] = r.value;
        expected[{r.length, r.code | 1}] = -r.value;
    }
    // The returned length and code bits leave out the leading 0 of every code but 1; the
    // lookup consumes the whole code, and only its first bit when the rest is not a code.
    CodeMap found;
    for (uint32_t p = 0; p < 2048 && !HasFailure(); ++p) {
        BitReader r(p, 11);
        const VlcResult got = GetMotionCode(r);
        if (!got.IsValid()) {
            EXPECT_EQ(r.position(), 1) << p;
            continue;
        }
        const int length = p >= 1024 ? 1 : got.length + 1;
        EXPECT_EQ(r.position(), length) << p;
        EXPECT_EQ(got.code, p >> (11 - length)) << p;
        found[{length, got.code}] = got.value;
    }
    EXPECT_EQ(found, expected);
    EXPECT_TRUE(PrefixFree(Keys(found)));
    // Inside the leading 0 only patterns below 0000 0011 000 are not codes.
    EXPECT_EQ(Coverage(Keys(found), 11), 2048u - 24u);
}

TEST(VlcTables, MotionCodeLengthCountsTheBitsAfterTheLeadingZero) {
    BitReader r("0000 0011 001", 1);
    const VlcResult got = GetMotionCode(r);
    EXPECT_EQ(got.value, -16);
    EXPECT_EQ(got.length, 10);
    EXPECT_EQ(got.code, 0x19u);
    EXPECT_EQ(r.position(), 11);

    BitReader one("1", 0);
    const VlcResult zero = GetMotionCode(one);
    EXPECT_EQ(zero.value, 0);
    EXPECT_EQ(zero.length, 1);
    EXPECT_EQ(one.position(), 1);
}

// ---------------------------------------------------------------------------------------------
// macroblock_type: every code of each table, the flags it gives and the name shown for them.

struct TypeRow {
    int scalableMode;
    int pictureType;
    const char* code;
    int flags;
    const char* name;
};

const std::vector<TypeRow> kTypes = {
    // Table B-2.
    {0, 1, "1", 1, "Intra"},
    {0, 1, "01", 17, "Intra, Quant"},
    // Table B-3.
    {0, 2, "1", 10, "MC, Coded"},
    {0, 2, "01", 2, "No MC, Coded"},
    {0, 2, "001", 8, "MC, Not Coded"},
    {0, 2, "00011", 1, "Intra"},
    {0, 2, "00010", 26, "MC, Coded, Quant"},
    {0, 2, "00001", 18, "No MC, Coded, Quant"},
    {0, 2, "000001", 17, "Intra, Quant"},
    // Table B-4.
    {0, 3, "10", 12, "Interp, Not Coded"},
    {0, 3, "11", 14, "Interp, Coded"},
    {0, 3, "010", 4, "Bwd, Not Coded"},
    {0, 3, "011", 6, "Bwd, Coded"},
    {0, 3, "0010", 8, "Fwd, Not Coded"},
    {0, 3, "0011", 10, "Fwd, Coded"},
    {0, 3, "00011", 1, "Intra"},
    {0, 3, "00010", 30, "Interp, Coded, Quant"},
    {0, 3, "000011", 26, "Fwd, Coded, Quant"},
    {0, 3, "000010", 22, "Bwd, Coded, Quant"},
    {0, 3, "000001", 17, "Intra, Quant"},
    // D pictures.
    {0, 4, "1", 1, "Intra"},
    // Table B-5.
    {1, 1, "1", 66, "Coded, Compatible"},
    {1, 1, "01", 82, "Coded, Compatible, Quant"},
    {1, 1, "0011", 1, "Intra"},
    {1, 1, "0010", 17, "Intra, Quant"},
    {1, 1, "0001", 64, "Not Coded, Compatible"},
    // Table B-6.
    {1, 2, "10", 10, "MC, Coded"},
    {1, 2, "011", 42, "MC, Coded, Compatible"},
    {1, 2, "0000100", 2, "No MC, Coded"},
    {1, 2, "000111", 34, "No MC, Coded, Compatible"},
    {1, 2, "0010", 8, "MC, Not Coded"},
    {1, 2, "0000111", 1, "Intra"},
    {1, 2, "0011", 40, "MC, Not coded, Compatible"},
    {1, 2, "010", 26, "MC, Coded, Quant"},
    {1, 2, "000100", 18, "No MC, Coded, Quant"},
    {1, 2, "0000110", 17, "Intra, Quant"},
    {1, 2, "11", 58, "MC, Coded, Compatible, Quant"},
    {1, 2, "000101", 50, "No MC, Coded, Compatible,Quant"},
    {1, 2, "0000010", 82, "Coded, Compatible, Quant"},
    {1, 2, "000110", 32, "No MC, Not Coded, Compatible"},
    {1, 2, "0000101", 66, "Coded, Compatible"},
    {1, 2, "0000011", 64, "Not Coded, Compatible"},
    // Table B-7.
    {1, 3, "10", 12, "Interp, Not coded"},
    {1, 3, "11", 14, "Interp, Coded"},
    {1, 3, "010", 4, "Back, Not coded"},
    {1, 3, "011", 6, "Back, Coded"},
    {1, 3, "0010", 8, "For, Not coded"},
    {1, 3, "0011", 10, "For, Coded"},
    {1, 3, "000110", 36, "Back, Not Coded, Compatible"},
    {1, 3, "000111", 38, "Back, Coded, Compatible"},
    {1, 3, "000100", 40, "For, Not Coded, Compatible"},
    {1, 3, "000101", 42, "For, Coded, Compatible"},
    {1, 3, "0000110", 1, "Intra"},
    {1, 3, "0000111", 30, "Interp, Coded, Quant"},
    {1, 3, "0000100", 26, "For, Coded, Quant"},
    {1, 3, "0000101", 22, "Back, Coded, Quant"},
    {1, 3, "00000100", 17, "Intra, Quant"},
    {1, 3, "00000101", 58, "For, Coded, Compatible, Quant"},
    {1, 3, "000001100", 54, "Back, Coded, Compatible, Quant"},
    {1, 3, "000001101", 82, "Coded, Compatible, Quant"},
    {1, 3, "000001110", 64, "Not Coded, Compatible"},
    {1, 3, "000001111", 66, "Coded, Compatible"},
    // Table B-8 (shown for P pictures; the picture type does not matter).
    {2, 2, "1", 2, "Coded"},
    {2, 2, "01", 18, "Coded, Quant"},
    {2, 2, "001", 0, "Not Coded"},
};

struct TypeTable {
    int scalableMode;
    int pictureType;
    int peek;               // bits that hold the longest code
    int invalidConsumed;    // bits a non-code consumes
    uint32_t codePatterns;  // patterns of `peek` bits that begin with a code
};

const std::vector<TypeTable> kTypeTables = {
    {0, 1, 2, 2, 3},    // B-2: 00 is read and is not a code
    {0, 2, 6, 0, 63},   // B-3
    {0, 3, 6, 0, 63},   // B-4
    {0, 4, 1, 1, 1},    // D: 0 is read and is not a code
    {1, 1, 4, 0, 15},   // B-5
    {1, 2, 7, 0, 126},  // B-6
    {1, 3, 9, 0, 504},  // B-7
    {2, 2, 3, 0, 7},    // B-8
};

TEST(VlcTables, MacroblockTypeDecodesEveryCodeOfTheSelectedTable) {
    for (const TypeTable& t : kTypeTables) {
        SCOPED_TRACE(::testing::Message() << "scalable_mode " << t.scalableMode
                                          << ", picture_coding_type " << t.pictureType);
        const CodeMap found = Survey(
            [&](BitReader& r) { return GetMacroblockType(r, t.scalableMode, t.pictureType); },
            t.peek, t.invalidConsumed);
        CodeMap expected;
        for (const TypeRow& row : kTypes)
            if (row.scalableMode == t.scalableMode && row.pictureType == t.pictureType) {
                const BitReader code(row.code);
                const int length = static_cast<int>(std::string_view(row.code).size());
                expected[{length, code.PeekBits(length)}] = row.flags;
            }
        EXPECT_EQ(found, expected);
        EXPECT_TRUE(PrefixFree(Keys(found)));
        EXPECT_EQ(Coverage(Keys(found), t.peek), t.codePatterns);
    }
}

TEST(VlcTables, MacroblockTypeNames) {
    for (const TypeRow& row : kTypes)
        EXPECT_STREQ(MacroblockTypeName(row.flags, row.scalableMode, row.pictureType), row.name)
            << row.scalableMode << "/" << row.pictureType << " " << row.code;
}

TEST(VlcTables, MacroblockTypeNamesOutsideTheTables) {
    // Values a table does not list, and picture types without a table.
    EXPECT_STREQ(MacroblockTypeName(2, 0, 1), "Forbidden");
    EXPECT_STREQ(MacroblockTypeName(0, 0, 2), "Forbidden");
    EXPECT_STREQ(MacroblockTypeName(17, 0, 4), "Forbidden");
    EXPECT_STREQ(MacroblockTypeName(1, 0, 0), "Forbidden");
    EXPECT_STREQ(MacroblockTypeName(1, 1, 5), "Forbidden");
    EXPECT_STREQ(MacroblockTypeName(1, 2, 2), "Forbidden");
    // The name goes by flags & 63; the compatible flag only parts the P-spatial 2 and 18.
    EXPECT_STREQ(MacroblockTypeName(10 | 64, 0, 2), "MC, Coded");
    EXPECT_STREQ(MacroblockTypeName(2, 1, 3), "Coded, Compatible");
    EXPECT_STREQ(MacroblockTypeName(18, 1, 1), "Coded, Compatible, Quant");
    EXPECT_STREQ(MacroblockTypeName(0, 1, 3), "Not Coded, Compatible");
    EXPECT_STREQ(MacroblockTypeName(18 | 64, 1, 2), "Coded, Compatible, Quant");
    EXPECT_STREQ(MacroblockTypeName(18, 1, 2), "No MC, Coded, Quant");
    EXPECT_STREQ(MacroblockTypeName(2 | 64, 2, 3), "Coded");
}

TEST(VlcTables, MacroblockTypeEdgeCases) {
    {
        BitReader r("0", 0);
        EXPECT_FALSE(GetMacroblockType(r, 0, 4).IsValid());  // D picture
    }
    {
        BitReader r("00", 1);
        EXPECT_FALSE(GetMacroblockType(r, 0, 1).IsValid());  // I picture
    }
    for (int type : {0, 5, 7, -1}) {
        BitReader r("1", 1);
        EXPECT_FALSE(GetMacroblockType(r, 0, type).IsValid()) << type;
        EXPECT_EQ(r.position(), 0);
    }
    // SNR scalability decides the table before the picture type: 001 is "Not Coded", which in
    // Table B-4 would be the start of a longer code.
    BitReader r("001 1111", 0);
    const VlcResult got = GetMacroblockType(r, 2, 3);
    EXPECT_EQ(got.value, 0);
    EXPECT_EQ(got.length, 3);
    EXPECT_EQ(r.position(), 3);
}

// ---------------------------------------------------------------------------------------------
// DCT coefficients: length without the sign bit, code, run, level (64 end_of_block, 65 escape).

struct DctRow {
    int length;
    uint32_t code;
    int run;
    int level;
};
constexpr int kEob = kDctEndOfBlock;
constexpr int kEsc = kDctEscape;

// Table B-14 without the two codes of run 0, level 1 and end_of_block that depend on the
// coefficient being the first of a non-intra block.
const std::vector<DctRow> kB14 = {
    {3, 0x3, 1, 1},    {4, 0x4, 0, 2},    {4, 0x5, 2, 1},    {5, 0x5, 0, 3},    {5, 0x6, 4, 1},
    {5, 0x7, 3, 1},    {6, 0x1, kEsc, 0}, {6, 0x4, 7, 1},    {6, 0x5, 6, 1},    {6, 0x6, 1, 2},
    {6, 0x7, 5, 1},    {7, 0x4, 2, 2},    {7, 0x5, 9, 1},    {7, 0x6, 0, 4},    {7, 0x7, 8, 1},
    {8, 0x20, 13, 1},  {8, 0x21, 0, 6},   {8, 0x22, 12, 1},  {8, 0x23, 11, 1},  {8, 0x24, 3, 2},
    {8, 0x25, 1, 3},   {8, 0x26, 0, 5},   {8, 0x27, 10, 1},  {10, 0x8, 16, 1},  {10, 0x9, 5, 2},
    {10, 0xA, 0, 7},   {10, 0xB, 2, 3},   {10, 0xC, 1, 4},   {10, 0xD, 15, 1},  {10, 0xE, 14, 1},
    {10, 0xF, 4, 2},   {12, 0x10, 0, 11}, {12, 0x11, 8, 2},  {12, 0x12, 4, 3},  {12, 0x13, 0, 10},
    {12, 0x14, 2, 4},  {12, 0x15, 7, 2},  {12, 0x16, 21, 1}, {12, 0x17, 20, 1}, {12, 0x18, 0, 9},
    {12, 0x19, 19, 1}, {12, 0x1A, 18, 1}, {12, 0x1B, 1, 5},  {12, 0x1C, 3, 3},  {12, 0x1D, 0, 8},
    {12, 0x1E, 6, 2},  {12, 0x1F, 17, 1}, {13, 0x10, 10, 2}, {13, 0x11, 9, 2},  {13, 0x12, 5, 3},
    {13, 0x13, 3, 4},  {13, 0x14, 2, 5},  {13, 0x15, 1, 7},  {13, 0x16, 1, 6},  {13, 0x17, 0, 15},
    {13, 0x18, 0, 14}, {13, 0x19, 0, 13}, {13, 0x1A, 0, 12}, {13, 0x1B, 26, 1}, {13, 0x1C, 25, 1},
    {13, 0x1D, 24, 1}, {13, 0x1E, 23, 1}, {13, 0x1F, 22, 1}, {14, 0x10, 0, 31}, {14, 0x11, 0, 30},
    {14, 0x12, 0, 29}, {14, 0x13, 0, 28}, {14, 0x14, 0, 27}, {14, 0x15, 0, 26}, {14, 0x16, 0, 25},
    {14, 0x17, 0, 24}, {14, 0x18, 0, 23}, {14, 0x19, 0, 22}, {14, 0x1A, 0, 21}, {14, 0x1B, 0, 20},
    {14, 0x1C, 0, 19}, {14, 0x1D, 0, 18}, {14, 0x1E, 0, 17}, {14, 0x1F, 0, 16}, {15, 0x10, 0, 40},
    {15, 0x11, 0, 39}, {15, 0x12, 0, 38}, {15, 0x13, 0, 37}, {15, 0x14, 0, 36}, {15, 0x15, 0, 35},
    {15, 0x16, 0, 34}, {15, 0x17, 0, 33}, {15, 0x18, 0, 32}, {15, 0x19, 1, 14}, {15, 0x1A, 1, 13},
    {15, 0x1B, 1, 12}, {15, 0x1C, 1, 11}, {15, 0x1D, 1, 10}, {15, 0x1E, 1, 9},  {15, 0x1F, 1, 8},
    {16, 0x10, 1, 18}, {16, 0x11, 1, 17}, {16, 0x12, 1, 16}, {16, 0x13, 1, 15}, {16, 0x14, 6, 3},
    {16, 0x15, 16, 2}, {16, 0x16, 15, 2}, {16, 0x17, 14, 2}, {16, 0x18, 13, 2}, {16, 0x19, 12, 2},
    {16, 0x1A, 11, 2}, {16, 0x1B, 31, 1}, {16, 0x1C, 30, 1}, {16, 0x1D, 29, 1}, {16, 0x1E, 28, 1},
    {16, 0x1F, 27, 1},
};
const std::vector<DctRow> kB14First = {{1, 0x1, 0, 1}};
const std::vector<DctRow> kB14Next = {{2, 0x2, kEob, 0}, {2, 0x3, 0, 1}};

// Table B-15, the codes with fewer than seven leading zeros; the others are those of B-14.
const std::vector<DctRow> kB15Short = {
    {2, 0x2, 0, 1},    {3, 0x2, 1, 1},   {3, 0x6, 0, 2},   {4, 0x6, kEob, 0}, {4, 0x7, 0, 3},
    {5, 0x5, 2, 1},    {5, 0x6, 1, 2},   {5, 0x7, 3, 1},   {5, 0x1C, 0, 4},   {5, 0x1D, 0, 5},
    {6, 0x1, kEsc, 0}, {6, 0x4, 0, 7},   {6, 0x5, 0, 6},   {6, 0x6, 4, 1},    {6, 0x7, 5, 1},
    {7, 0x4, 7, 1},    {7, 0x5, 8, 1},   {7, 0x6, 6, 1},   {7, 0x7, 2, 2},    {7, 0x78, 9, 1},
    {7, 0x79, 1, 3},   {7, 0x7A, 10, 1}, {7, 0x7B, 0, 8},  {7, 0x7C, 0, 9},   {8, 0x20, 1, 5},
    {8, 0x21, 11, 1},  {8, 0x22, 0, 11}, {8, 0x23, 0, 10}, {8, 0x24, 13, 1},  {8, 0x25, 12, 1},
    {8, 0x26, 3, 2},   {8, 0x27, 1, 4},  {8, 0xFA, 0, 12}, {8, 0xFB, 0, 13},  {8, 0xFC, 2, 3},
    {8, 0xFD, 4, 2},   {8, 0xFE, 0, 14}, {8, 0xFF, 0, 15}, {9, 0x4, 5, 2},    {9, 0x5, 14, 1},
    {9, 0x7, 15, 1},   {10, 0xC, 2, 4},  {10, 0xD, 16, 1},
};

using DctMap = std::map<CodeKey, std::pair<int, int>>;  // code -> run, level

DctMap ToDctMap(const std::vector<std::vector<DctRow>>& parts, bool longCodesOnly = false) {
    DctMap m;
    for (const auto& part : parts)
        for (const DctRow& r : part)
            if (!longCodesOnly || (r.length > 7 && (r.code >> (r.length - 7)) == 0))
                m[{r.length, r.code}] = {r.run, r.level};
    return m;
}

// Decodes every 16-bit pattern followed by a 0 and a 1 sign bit, checks the sign handling and
// the consumption, and collects the codes found (without their sign bits).
template <typename Lookup>
DctMap SurveyDct(Lookup lookup) {
    DctMap found;
    for (uint32_t q = 0; q < (1u << 17) && !::testing::Test::HasFailure(); ++q) {
        BitReader r(q, 17);
        const DctResult got = lookup(r);
        if (!got.IsValid()) {
            EXPECT_EQ(r.position(), 0) << q;
            continue;
        }
        if (got.length > 16) {
            ADD_FAILURE() << q << " gives length " << int{got.length};
            return found;
        }
        const bool runLevel = got.run < kDctEndOfBlock;
        const int consumed = got.length + (runLevel ? 1 : 0);
        EXPECT_EQ(r.position(), consumed) << q;
        EXPECT_EQ(got.code, q >> (17 - consumed)) << q;
        if (runLevel) {
            EXPECT_NE(got.level, 0) << q;
            EXPECT_EQ(got.level < 0, (got.code & 1) == 1) << q;
        } else {
            EXPECT_EQ(got.level, 0) << q;
        }
        found[{got.length, q >> (17 - got.length)}] = {got.run,
                                                       got.level < 0 ? -got.level : got.level};
    }
    return found;
}

std::set<CodeKey> Keys(const DctMap& m) {
    std::set<CodeKey> s;
    for (const auto& [key, value] : m) s.insert(key);
    return s;
}

TEST(VlcTables, DctTableZero) {
    const DctMap first = SurveyDct([](BitReader& r) { return GetDctCoefficient(r, true); });
    EXPECT_EQ(first, ToDctMap({kB14, kB14First}));
    const DctMap next = SurveyDct([](BitReader& r) { return GetDctCoefficient(r, false); });
    EXPECT_EQ(next, ToDctMap({kB14, kB14Next}));
    const DctMap intra = SurveyDct([](BitReader& r) { return GetIntraDctCoefficient(r, false); });
    EXPECT_EQ(intra, next);

    // Prefix-free, and complete but for the patterns beginning with twelve zeros.
    for (const DctMap* m : {&first, &next}) {
        EXPECT_TRUE(PrefixFree(Keys(*m)));
        EXPECT_EQ(Coverage(Keys(*m), 16), 65536u - 16u);
    }
    // The run/level pairs: run 0 up to level 40, run 1 up to 18, run 2 up to 5, run 3 up to 4,
    // runs 4 to 6 up to 3, runs 7 to 16 up to 2, runs 17 to 31 level 1; each once.
    std::multiset<std::pair<int, int>> pairs;
    for (const auto& [code, runLevel] : next)
        if (runLevel.first < kEob) pairs.insert(runLevel);
    std::multiset<std::pair<int, int>> expected;
    for (int run = 0; run < 32; ++run) {
        const int maxLevel = run == 0    ? 40
                             : run == 1  ? 18
                             : run == 2  ? 5
                             : run == 3  ? 4
                             : run <= 6  ? 3
                             : run <= 16 ? 2
                                         : 1;
        for (int level = 1; level <= maxLevel; ++level) expected.insert({run, level});
    }
    EXPECT_EQ(pairs, expected);
}

// The one-step table of the decoder resolves each code exactly as the full lookup does, and
// resolves every code of ten bits or fewer (the common ones) itself.
TEST(VlcTables, FastDctTableAgreesWithTheFullLookup) {
    for (const vlc::DctTable t :
         {vlc::DctTable::kZeroFirst, vlc::DctTable::kZeroNext, vlc::DctTable::kOne}) {
        const vlc::FastDctEntry* fast = vlc::FastDctTable(t);
        int resolved = 0;
        for (uint32_t q = 0; q < (1u << 17); ++q) {
            BitReader r(q, 17);
            const DctResult full = vlc::GetDct(r, t);
            const vlc::FastDctEntry e = fast[q >> (17 - vlc::kFastDctBits)];
            if (e.length == 0) {
                ASSERT_FALSE(full.IsValid() && full.length <= vlc::kFastDctBits) << q;
                continue;
            }
            ++resolved;
            ASSERT_TRUE(full.IsValid()) << q;
            ASSERT_EQ(e.length, full.length) << q;
            ASSERT_EQ(e.run, full.run) << q;
            ASSERT_EQ(e.level, full.level < 0 ? -full.level : full.level) << q;
        }
        EXPECT_GT(resolved, (1 << 17) * 9 / 10);
    }
}

TEST(VlcTables, DctTableOneSharesTheLongCodesOfTableZero) {
    const DctMap one = SurveyDct([](BitReader& r) { return GetIntraDctCoefficient(r, true); });
    DctMap expected = ToDctMap({kB15Short});
    for (const auto& entry : ToDctMap({kB14}, true)) expected.insert(entry);
    EXPECT_EQ(one, expected);
    EXPECT_TRUE(PrefixFree(Keys(one)));
    EXPECT_EQ(Coverage(Keys(one), 16), 65536u - 16u);
}

TEST(VlcTables, DctCodesFromTheTables) {
    struct Case {
        const char* bits;
        bool intra;
        bool formatOrFirst;
        int run;
        int level;
        int length;
        int consumed;
    };
    const Case cases[] = {
        {"011 1", false, false, 1, -1, 3, 4},                     // B-14 011s
        {"011 0", false, false, 1, 1, 3, 4},                      //
        {"1 1", false, true, 0, -1, 1, 2},                        // first coefficient: 1s
        {"10", false, false, kEob, 0, 2, 2},                      // elsewhere 10 is end_of_block
        {"0000 01", false, false, kEsc, 0, 6, 6},                 // escape
        {"10 1", true, true, 0, -1, 2, 3},                        // B-15 10s
        {"0110", true, true, kEob, 0, 4, 4},                      // B-15 end_of_block
        {"0111 0", true, true, 0, 3, 4, 5},                       // B-15 0111s
        {"1111 1111 1", true, true, 0, -15, 8, 9},                //
        {"0000 0001 0000 1", true, true, 0, -11, 12, 13},         // a B-14 code in B-15 blocks
        {"0000 0000 0001 1011 1", false, false, 31, -1, 16, 17},  // sign past the 16-bit peek
    };
    for (const Case& c : cases) {
        BitReader r(c.bits, 1);
        const DctResult got = c.intra ? GetIntraDctCoefficient(r, c.formatOrFirst)
                                      : GetDctCoefficient(r, c.formatOrFirst);
        EXPECT_EQ(got.run, c.run) << c.bits;
        EXPECT_EQ(got.level, c.level) << c.bits;
        EXPECT_EQ(got.length, c.length) << c.bits;
        EXPECT_EQ(r.position(), c.consumed) << c.bits;
    }
}

TEST(VlcTables, DctLookAheadOfFifteenZerosIsInvalid) {
    // No code begins with twelve zeros: fifteen zeros and a 1, or twelve zeros and then ones.
    for (const char* bits : {"0000 0000 0000 0001", "0000 0000 0000 1111"}) {
        for (bool format : {false, true}) {
            BitReader r(bits, 1);
            const DctResult got = GetIntraDctCoefficient(r, format);
            EXPECT_FALSE(got.IsValid()) << bits;
            EXPECT_EQ(got.length, kVlcInvalidLength);
            EXPECT_EQ(r.position(), 0);
        }
        BitReader r(bits, 1);
        EXPECT_FALSE(GetDctCoefficient(r, true).IsValid()) << bits;
    }
    // Eleven zeros and a 1 begin a code.
    BitReader r("0000 0000 0001");
    EXPECT_TRUE(GetDctCoefficient(r, false).IsValid());
}

TEST(VlcTables, LookupsAtTheEndOfTheData) {
    // Readers give 0 past the end: nothing is decoded and nothing consumed where all-zero bits
    // are not a code.
    BitReader r("");
    EXPECT_FALSE(GetMacroblockAddressIncrement(r).IsValid());
    EXPECT_FALSE(GetCodedBlockPattern(r).IsValid());
    EXPECT_FALSE(GetDctCoefficient(r, true).IsValid());
    EXPECT_FALSE(GetIntraDctCoefficient(r, true).IsValid());
    EXPECT_EQ(r.position(), 0);
}

// ---------------------------------------------------------------------------------------------
// Scan orders.

TEST(VlcTables, ScanTablesArePermutations) {
    for (int scan = 0; scan < 2; ++scan) {
        std::set<int> positions;
        for (int i = 0; i < 64; ++i) positions.insert(kScanTables[scan * 64 + i]);
        EXPECT_EQ(positions.size(), 64u);
        EXPECT_EQ(*positions.rbegin(), 63);
    }
}

TEST(VlcTables, ZigZagWalksTheAntiDiagonals) {
    // Each step moves to a neighbouring coefficient and never back to an earlier anti-diagonal.
    for (int i = 1; i < 64; ++i) {
        const int a = kScanTables[i - 1], b = kScanTables[i];
        const int dr = b / 8 - a / 8, dc = b % 8 - a % 8;
        EXPECT_LE(std::abs(dr), 1) << i;
        EXPECT_LE(std::abs(dc), 1) << i;
        EXPECT_GE(b / 8 + b % 8, a / 8 + a % 8) << i;
    }
    EXPECT_EQ(kScanTables[1], 1);
    EXPECT_EQ(kScanTables[2], 8);
    EXPECT_EQ(kScanTables[63], 63);
}

TEST(VlcTables, AlternateScanGoesDownTheFirstColumnFirst) {
    const int expected[] = {0, 8, 16, 24, 1, 9, 2, 10};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(kScanTables[64 + i], expected[i]) << i;
    EXPECT_EQ(kScanTables[127], 63);
}

}  // namespace
}  // namespace bitloupe
