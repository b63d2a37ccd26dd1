// The code tables of the slice and macroblock layer, written row by row as ISO/IEC 13818-2
// Annex B prints them, and expanded at compile time into the directly indexed sub-tables that
// the lookups of VlcTables.h use.
//
// A code is written as printed: '0' and '1' digits in groups of four, and a trailing 's' where
// the sign bit of a motion_code or DCT coefficient follows. The expansion refuses (the build
// fails) a table whose codes are not prefix-free, and a sub-table that a longer code would
// need more bits than its index holds to tell apart.
#include "core/syntax/VlcTables.h"

#include <cstddef>

namespace bitloupe {
namespace vlc {
namespace {

// ---------------------------------------------------------------------------------------------
// Code rows and their expansion.

struct Code {
    uint32_t bits = 0;
    int length = 0;  // 0: the row is not part of the table being built
    bool sign = false;
};

constexpr Code ParseCode(const char* text) {
    Code c;
    for (const char* p = text; *p; ++p) {
        if (*p == '0' || *p == '1') {
            if (c.sign) throw "the sign bit comes last";
            c.bits = c.bits << 1 | static_cast<uint32_t>(*p - '0');
            ++c.length;
        } else if (*p == 's') {
            c.sign = true;
        } else if (*p != ' ') {
            throw "a code holds only 0, 1, spaces and a final s";
        }
    }
    if (c.length < 1 || c.length > 16) throw "codes are 1 to 16 bits long";
    return c;
}

constexpr bool IsPrefix(const Code& shorter, const Code& longer) {
    return shorter.length <= longer.length &&
           (longer.bits >> (longer.length - shorter.length)) == shorter.bits;
}

struct VlcRow {
    const char* code;
    int value;
};

struct MacroblockTypeRow {
    const char* code;
    int flags;
    const char* name;
};

// Table B-14 gives two codes for run 0, level 1: one for the first coefficient of a non-intra
// block and one for every other coefficient (where the first one's prefix is end_of_block).
enum class Use { kAlways, kFirstOnly, kNotFirst };

struct DctRow {
    const char* code;
    int run;
    int level;
    Use use = Use::kAlways;
};

// A code with the entry it decodes to.
template <typename Entry>
struct Keyed {
    Code code;
    Entry entry;
};

constexpr int8_t ToValue(int v) {
    if (v < -128 || v > 127) throw "value out of range";
    return static_cast<int8_t>(v);
}

template <size_t M>
constexpr std::array<Keyed<VlcEntry>, M> Keys(const VlcRow (&rows)[M]) {
    std::array<Keyed<VlcEntry>, M> keys{};
    for (size_t i = 0; i < M; ++i) {
        const Code c = ParseCode(rows[i].code);
        if (c.sign) throw "no sign bit in this table";
        keys[i] = {c, {ToValue(rows[i].value), static_cast<uint8_t>(c.length)}};
    }
    return keys;
}

template <size_t M>
constexpr std::array<Keyed<VlcEntry>, M> Keys(const MacroblockTypeRow (&rows)[M]) {
    std::array<Keyed<VlcEntry>, M> keys{};
    for (size_t i = 0; i < M; ++i) {
        const Code c = ParseCode(rows[i].code);
        if (c.sign) throw "no sign bit in this table";
        keys[i] = {c, {ToValue(rows[i].flags), static_cast<uint8_t>(c.length)}};
    }
    return keys;
}

// motion_code as it is looked up: after the leading 0, without the sign bit, by magnitude.
// Every non-zero code must be 0, then the magnitude's bits, then the sign, with the negative
// code differing from the positive one in the sign bit only; 0 must be the one-bit code 1.
template <size_t M>
constexpr std::array<Keyed<VlcEntry>, M> MotionKeys(const VlcRow (&rows)[M]) {
    std::array<Keyed<VlcEntry>, M> keys{};
    for (size_t i = 0; i < M; ++i) {
        const Code c = ParseCode(rows[i].code);
        const int value = rows[i].value;
        if (value == 0 && (c.length != 1 || c.bits != 1)) throw "motion_code 0 is the code 1";
        if (value <= 0) continue;
        if (c.length < 3 || (c.bits >> (c.length - 1)) != 0 || (c.bits & 1))
            throw "a non-zero motion_code is 0, the magnitude and the sign";
        bool negative = false;
        for (const VlcRow& other : rows) {
            const Code o = ParseCode(other.code);
            if (other.value == -value && o.length == c.length && o.bits == (c.bits | 1))
                negative = true;
        }
        if (!negative) throw "the negative code differs in the sign bit only";
        const int length = c.length - 2;
        keys[i] = {{(c.bits >> 1) & ((1u << length) - 1), length, false},
                   {ToValue(value), static_cast<uint8_t>(length)}};
    }
    return keys;
}

// The DCT coefficient codes of one of the table's uses, with the length of each code without
// its sign bit.
template <size_t M>
constexpr std::array<Keyed<DctEntry>, M> DctKeys(const DctRow (&rows)[M], bool first) {
    std::array<Keyed<DctEntry>, M> keys{};
    for (size_t i = 0; i < M; ++i) {
        const DctRow& row = rows[i];
        if ((row.use == Use::kFirstOnly && !first) || (row.use == Use::kNotFirst && first))
            continue;
        const Code c = ParseCode(row.code);
        const bool runLevel = row.run < kDctEndOfBlock;
        if (c.sign != runLevel) throw "run/level codes, and only they, carry a sign bit";
        if (runLevel ? (row.run < 0 || row.level < 1 || row.level > 40) : row.level != 0)
            throw "bad run or level";
        keys[i] = {c,
                   {static_cast<uint8_t>(row.run), static_cast<int16_t>(row.level),
                    static_cast<uint8_t>(c.length)}};
    }
    return keys;
}

template <typename Entry, size_t M>
constexpr bool PrefixFree(const std::array<Keyed<Entry>, M>& keys) {
    for (size_t i = 0; i < M; ++i)
        for (size_t j = 0; j < M; ++j)
            if (i != j && keys[i].code.length && keys[j].code.length &&
                IsPrefix(keys[i].code, keys[j].code))
                return false;
    return true;
}

// The share of all 16-bit patterns that begin with a code of the table, in 1/65536ths.
template <typename Entry, size_t M>
constexpr uint32_t Coverage(const std::array<Keyed<Entry>, M>& keys) {
    uint32_t sum = 0;
    for (const auto& k : keys)
        if (k.code.length) sum += 1u << (16 - k.code.length);
    return sum;
}

// A sub-table indexed by `width` leading bits of the peeked value less `offset`: entry i
// holds the code that the bits i + offset begin with. Entries below `first` are not reached
// (their values go to other sub-tables) and stay invalid. A code longer than `width` bits that
// begins with a reachable index would make the layout wrong, and fails the build.
template <size_t N, typename Entry, size_t M>
constexpr std::array<Entry, N> Expand(const std::array<Keyed<Entry>, M>& keys, int width,
                                      uint32_t offset, Entry invalid, size_t first = 0) {
    if (((offset + N - 1) >> width) != 0) throw "the sub-table is larger than its index";
    if (!PrefixFree(keys)) throw "the codes are not prefix-free";
    std::array<Entry, N> table{};
    table.fill(invalid);
    for (size_t i = first; i < N; ++i) {
        const Code index{static_cast<uint32_t>(i) + offset, width, false};
        for (const auto& k : keys) {
            if (k.code.length == 0) continue;
            if (IsPrefix(k.code, index))
                table[i] = k.entry;
            else if (IsPrefix(index, k.code))
                throw "a code is longer than the sub-table's index";
        }
    }
    return table;
}

template <size_t N, size_t M>
constexpr std::array<VlcEntry, N> ExpandVlc(const std::array<Keyed<VlcEntry>, M>& keys, int width,
                                            uint32_t offset = 0, size_t first = 0) {
    return Expand<N>(keys, width, offset, kInvalidVlcEntry, first);
}

template <size_t N, size_t M>
constexpr std::array<DctEntry, N> ExpandDct(const std::array<Keyed<DctEntry>, M>& keys, int width,
                                            uint32_t offset) {
    return Expand<N>(keys, width, offset, kInvalidDctEntry);
}

// ---------------------------------------------------------------------------------------------
// Table B-1: variable length codes for macroblock_address_increment. The table's
// macroblock_escape (0000 0001 000), and the macroblock_stuffing (0000 0001 111) of ISO/IEC
// 11172-2, are read by the slice parser before it asks for an increment.

constexpr VlcRow kTableB1[] = {
    {"1", 1},
    {"011", 2},
    {"010", 3},
    {"0011", 4},
    {"0010", 5},
    {"0001 1", 6},
    {"0001 0", 7},
    {"0000 111", 8},
    {"0000 110", 9},
    {"0000 1011", 10},
    {"0000 1010", 11},
    {"0000 1001", 12},
    {"0000 1000", 13},
    {"0000 0111", 14},
    {"0000 0110", 15},
    {"0000 0101 11", 16},
    {"0000 0101 10", 17},
    {"0000 0101 01", 18},
    {"0000 0101 00", 19},
    {"0000 0100 11", 20},
    {"0000 0100 10", 21},
    {"0000 0100 011", 22},
    {"0000 0100 010", 23},
    {"0000 0100 001", 24},
    {"0000 0100 000", 25},
    {"0000 0011 111", 26},
    {"0000 0011 110", 27},
    {"0000 0011 101", 28},
    {"0000 0011 100", 29},
    {"0000 0011 011", 30},
    {"0000 0011 010", 31},
    {"0000 0011 001", 32},
    {"0000 0011 000", 33},
};

// ---------------------------------------------------------------------------------------------
// macroblock_type: code, flags, and the name this program shows for the type.

// Table B-2: I-pictures.
constexpr MacroblockTypeRow kTableB2[] = {
    {"1", 1, "Intra"},
    {"01", 17, "Intra, Quant"},
};

// Table B-3: P-pictures.
constexpr MacroblockTypeRow kTableB3[] = {
    {"1", 10, "MC, Coded"},
    {"01", 2, "No MC, Coded"},
    {"001", 8, "MC, Not Coded"},
    {"0001 1", 1, "Intra"},
    {"0001 0", 26, "MC, Coded, Quant"},
    {"0000 1", 18, "No MC, Coded, Quant"},
    {"0000 01", 17, "Intra, Quant"},
};

// Table B-4: B-pictures.
constexpr MacroblockTypeRow kTableB4[] = {
    {"10", 12, "Interp, Not Coded"},
    {"11", 14, "Interp, Coded"},
    {"010", 4, "Bwd, Not Coded"},
    {"011", 6, "Bwd, Coded"},
    {"0010", 8, "Fwd, Not Coded"},
    {"0011", 10, "Fwd, Coded"},
    {"0001 1", 1, "Intra"},
    {"0001 0", 30, "Interp, Coded, Quant"},
    {"0000 11", 26, "Fwd, Coded, Quant"},
    {"0000 10", 22, "Bwd, Coded, Quant"},
    {"0000 01", 17, "Intra, Quant"},
};

// D-pictures (ISO/IEC 11172-2): intra macroblocks only.
constexpr MacroblockTypeRow kTableD[] = {
    {"1", 1, "Intra"},
};

// Table B-5: I-pictures with spatial scalability.
constexpr MacroblockTypeRow kTableB5[] = {
    {"1", 66, "Coded, Compatible"}, {"01", 82, "Coded, Compatible, Quant"}, {"0011", 1, "Intra"},
    {"0010", 17, "Intra, Quant"},   {"0001", 64, "Not Coded, Compatible"},
};

// Table B-6: P-pictures with spatial scalability.
constexpr MacroblockTypeRow kTableB6[] = {
    {"10", 10, "MC, Coded"},
    {"011", 42, "MC, Coded, Compatible"},
    {"0000 100", 2, "No MC, Coded"},
    {"0001 11", 34, "No MC, Coded, Compatible"},
    {"0010", 8, "MC, Not Coded"},
    {"0000 111", 1, "Intra"},
    {"0011", 40, "MC, Not coded, Compatible"},
    {"010", 26, "MC, Coded, Quant"},
    {"0001 00", 18, "No MC, Coded, Quant"},
    {"0000 110", 17, "Intra, Quant"},
    {"11", 58, "MC, Coded, Compatible, Quant"},
    {"0001 01", 50, "No MC, Coded, Compatible,Quant"},
    {"0000 010", 82, "Coded, Compatible, Quant"},
    {"0001 10", 32, "No MC, Not Coded, Compatible"},
    {"0000 101", 66, "Coded, Compatible"},
    {"0000 011", 64, "Not Coded, Compatible"},
};

// Table B-7: B-pictures with spatial scalability.
constexpr MacroblockTypeRow kTableB7[] = {
    {"10", 12, "Interp, Not coded"},
    {"11", 14, "Interp, Coded"},
    {"010", 4, "Back, Not coded"},
    {"011", 6, "Back, Coded"},
    {"0010", 8, "For, Not coded"},
    {"0011", 10, "For, Coded"},
    {"0001 10", 36, "Back, Not Coded, Compatible"},
    {"0001 11", 38, "Back, Coded, Compatible"},
    {"0001 00", 40, "For, Not Coded, Compatible"},
    {"0001 01", 42, "For, Coded, Compatible"},
    {"0000 110", 1, "Intra"},
    {"0000 111", 30, "Interp, Coded, Quant"},
    {"0000 100", 26, "For, Coded, Quant"},
    {"0000 101", 22, "Back, Coded, Quant"},
    {"0000 0100", 17, "Intra, Quant"},
    {"0000 0101", 58, "For, Coded, Compatible, Quant"},
    {"0000 0110 0", 54, "Back, Coded, Compatible, Quant"},
    {"0000 0110 1", 82, "Coded, Compatible, Quant"},
    {"0000 0111 0", 64, "Not Coded, Compatible"},
    {"0000 0111 1", 66, "Coded, Compatible"},
};

// Table B-8: SNR scalability, any picture type.
constexpr MacroblockTypeRow kTableB8[] = {
    {"1", 2, "Coded"},
    {"01", 18, "Coded, Quant"},
    {"001", 0, "Not Coded"},
};

// ---------------------------------------------------------------------------------------------
// Table B-9: variable length codes for coded_block_pattern.

constexpr VlcRow kTableB9[] = {
    {"111", 60},         {"1101", 4},         {"1100", 8},         {"1011", 16},
    {"1010", 32},        {"1001 1", 12},      {"1001 0", 48},      {"1000 1", 20},
    {"1000 0", 40},      {"0111 1", 28},      {"0111 0", 44},      {"0110 1", 52},
    {"0110 0", 56},      {"0101 1", 1},       {"0101 0", 61},      {"0100 1", 2},
    {"0100 0", 62},      {"0011 11", 24},     {"0011 10", 36},     {"0011 01", 3},
    {"0011 00", 63},     {"0010 111", 5},     {"0010 110", 9},     {"0010 101", 17},
    {"0010 100", 33},    {"0010 011", 6},     {"0010 010", 10},    {"0010 001", 18},
    {"0010 000", 34},    {"0001 1111", 7},    {"0001 1110", 11},   {"0001 1101", 19},
    {"0001 1100", 35},   {"0001 1011", 13},   {"0001 1010", 49},   {"0001 1001", 21},
    {"0001 1000", 41},   {"0001 0111", 14},   {"0001 0110", 50},   {"0001 0101", 22},
    {"0001 0100", 42},   {"0001 0011", 15},   {"0001 0010", 51},   {"0001 0001", 23},
    {"0001 0000", 43},   {"0000 1111", 25},   {"0000 1110", 37},   {"0000 1101", 26},
    {"0000 1100", 38},   {"0000 1011", 29},   {"0000 1010", 45},   {"0000 1001", 53},
    {"0000 1000", 57},   {"0000 0111", 30},   {"0000 0110", 46},   {"0000 0101", 54},
    {"0000 0100", 58},   {"0000 0011 1", 31}, {"0000 0011 0", 47}, {"0000 0010 1", 55},
    {"0000 0010 0", 59}, {"0000 0001 1", 27}, {"0000 0001 0", 39}, {"0000 0000 1", 0},
};

// ---------------------------------------------------------------------------------------------
// Table B-10: variable length codes for motion_code (the last bit of each non-zero code is its
// sign).

constexpr VlcRow kTableB10[] = {
    {"0000 0011 001", -16},
    {"0000 0011 011", -15},
    {"0000 0011 101", -14},
    {"0000 0011 111", -13},
    {"0000 0100 001", -12},
    {"0000 0100 011", -11},
    {"0000 0100 11", -10},
    {"0000 0101 01", -9},
    {"0000 0101 11", -8},
    {"0000 0111", -7},
    {"0000 1001", -6},
    {"0000 1011", -5},
    {"0000 111", -4},
    {"0001 1", -3},
    {"0011", -2},
    {"011", -1},
    {"1", 0},
    {"010", 1},
    {"0010", 2},
    {"0001 0", 3},
    {"0000 110", 4},
    {"0000 1010", 5},
    {"0000 1000", 6},
    {"0000 0110", 7},
    {"0000 0101 10", 8},
    {"0000 0101 00", 9},
    {"0000 0100 10", 10},
    {"0000 0100 010", 11},
    {"0000 0100 000", 12},
    {"0000 0011 110", 13},
    {"0000 0011 100", 14},
    {"0000 0011 010", 15},
    {"0000 0011 000", 16},
};

// Table B-11: variable length codes for dmvector[t].
constexpr VlcRow kTableB11[] = {
    {"11", -1},
    {"0", 0},
    {"10", 1},
};

// Table B-12: variable length codes for dct_dc_size_luminance.
constexpr VlcRow kTableB12[] = {
    {"100", 0},      {"00", 1},        {"01", 2},           {"101", 3},
    {"110", 4},      {"1110", 5},      {"1111 0", 6},       {"1111 10", 7},
    {"1111 110", 8}, {"1111 1110", 9}, {"1111 1111 0", 10}, {"1111 1111 1", 11},
};

// Table B-13: variable length codes for dct_dc_size_chrominance.
constexpr VlcRow kTableB13[] = {
    {"00", 0},
    {"01", 1},
    {"10", 2},
    {"110", 3},
    {"1110", 4},
    {"1111 0", 5},
    {"1111 10", 6},
    {"1111 110", 7},
    {"1111 1110", 8},
    {"1111 1111 0", 9},
    {"1111 1111 10", 10},
    {"1111 1111 11", 11},
};

// ---------------------------------------------------------------------------------------------
// Table B-14: DCT coefficients table zero (code, run, level).

constexpr int kEob = kDctEndOfBlock;
constexpr int kEsc = kDctEscape;

constexpr DctRow kTableB14[] = {
    {"10", kEob, 0, Use::kNotFirst},
    {"1 s", 0, 1, Use::kFirstOnly},
    {"11 s", 0, 1, Use::kNotFirst},
    {"011 s", 1, 1},
    {"0100 s", 0, 2},
    {"0101 s", 2, 1},
    {"0010 1 s", 0, 3},
    {"0011 1 s", 3, 1},
    {"0011 0 s", 4, 1},
    {"0001 10 s", 1, 2},
    {"0001 11 s", 5, 1},
    {"0001 01 s", 6, 1},
    {"0001 00 s", 7, 1},
    {"0000 110 s", 0, 4},
    {"0000 100 s", 2, 2},
    {"0000 111 s", 8, 1},
    {"0000 101 s", 9, 1},
    {"0000 01", kEsc, 0},
    {"0010 0110 s", 0, 5},
    {"0010 0001 s", 0, 6},
    {"0010 0101 s", 1, 3},
    {"0010 0100 s", 3, 2},
    {"0010 0111 s", 10, 1},
    {"0010 0011 s", 11, 1},
    {"0010 0010 s", 12, 1},
    {"0010 0000 s", 13, 1},
    {"0000 0010 10 s", 0, 7},
    {"0000 0011 00 s", 1, 4},
    {"0000 0010 11 s", 2, 3},
    {"0000 0011 11 s", 4, 2},
    {"0000 0010 01 s", 5, 2},
    {"0000 0011 10 s", 14, 1},
    {"0000 0011 01 s", 15, 1},
    {"0000 0010 00 s", 16, 1},
    {"0000 0001 1101 s", 0, 8},
    {"0000 0001 1000 s", 0, 9},
    {"0000 0001 0011 s", 0, 10},
    {"0000 0001 0000 s", 0, 11},
    {"0000 0001 1011 s", 1, 5},
    {"0000 0001 0100 s", 2, 4},
    {"0000 0001 1100 s", 3, 3},
    {"0000 0001 0010 s", 4, 3},
    {"0000 0001 1110 s", 6, 2},
    {"0000 0001 0101 s", 7, 2},
    {"0000 0001 0001 s", 8, 2},
    {"0000 0001 1111 s", 17, 1},
    {"0000 0001 1010 s", 18, 1},
    {"0000 0001 1001 s", 19, 1},
    {"0000 0001 0111 s", 20, 1},
    {"0000 0001 0110 s", 21, 1},
    {"0000 0000 1101 0 s", 0, 12},
    {"0000 0000 1100 1 s", 0, 13},
    {"0000 0000 1100 0 s", 0, 14},
    {"0000 0000 1011 1 s", 0, 15},
    {"0000 0000 1011 0 s", 1, 6},
    {"0000 0000 1010 1 s", 1, 7},
    {"0000 0000 1010 0 s", 2, 5},
    {"0000 0000 1001 1 s", 3, 4},
    {"0000 0000 1001 0 s", 5, 3},
    {"0000 0000 1000 1 s", 9, 2},
    {"0000 0000 1000 0 s", 10, 2},
    {"0000 0000 1111 1 s", 22, 1},
    {"0000 0000 1111 0 s", 23, 1},
    {"0000 0000 1110 1 s", 24, 1},
    {"0000 0000 1110 0 s", 25, 1},
    {"0000 0000 1101 1 s", 26, 1},
    {"0000 0000 0111 11 s", 0, 16},
    {"0000 0000 0111 10 s", 0, 17},
    {"0000 0000 0111 01 s", 0, 18},
    {"0000 0000 0111 00 s", 0, 19},
    {"0000 0000 0110 11 s", 0, 20},
    {"0000 0000 0110 10 s", 0, 21},
    {"0000 0000 0110 01 s", 0, 22},
    {"0000 0000 0110 00 s", 0, 23},
    {"0000 0000 0101 11 s", 0, 24},
    {"0000 0000 0101 10 s", 0, 25},
    {"0000 0000 0101 01 s", 0, 26},
    {"0000 0000 0101 00 s", 0, 27},
    {"0000 0000 0100 11 s", 0, 28},
    {"0000 0000 0100 10 s", 0, 29},
    {"0000 0000 0100 01 s", 0, 30},
    {"0000 0000 0100 00 s", 0, 31},
    {"0000 0000 0011 000 s", 0, 32},
    {"0000 0000 0010 111 s", 0, 33},
    {"0000 0000 0010 110 s", 0, 34},
    {"0000 0000 0010 101 s", 0, 35},
    {"0000 0000 0010 100 s", 0, 36},
    {"0000 0000 0010 011 s", 0, 37},
    {"0000 0000 0010 010 s", 0, 38},
    {"0000 0000 0010 001 s", 0, 39},
    {"0000 0000 0010 000 s", 0, 40},
    {"0000 0000 0011 111 s", 1, 8},
    {"0000 0000 0011 110 s", 1, 9},
    {"0000 0000 0011 101 s", 1, 10},
    {"0000 0000 0011 100 s", 1, 11},
    {"0000 0000 0011 011 s", 1, 12},
    {"0000 0000 0011 010 s", 1, 13},
    {"0000 0000 0011 001 s", 1, 14},
    {"0000 0000 0001 0011 s", 1, 15},
    {"0000 0000 0001 0010 s", 1, 16},
    {"0000 0000 0001 0001 s", 1, 17},
    {"0000 0000 0001 0000 s", 1, 18},
    {"0000 0000 0001 0100 s", 6, 3},
    {"0000 0000 0001 1010 s", 11, 2},
    {"0000 0000 0001 1001 s", 12, 2},
    {"0000 0000 0001 1000 s", 13, 2},
    {"0000 0000 0001 0111 s", 14, 2},
    {"0000 0000 0001 0110 s", 15, 2},
    {"0000 0000 0001 0101 s", 16, 2},
    {"0000 0000 0001 1111 s", 27, 1},
    {"0000 0000 0001 1110 s", 28, 1},
    {"0000 0000 0001 1101 s", 29, 1},
    {"0000 0000 0001 1100 s", 30, 1},
    {"0000 0000 0001 1011 s", 31, 1},
};

// Table B-15: DCT coefficients table one (code, run, level), rows in the order of Table B-14.

constexpr DctRow kTableB15[] = {
    {"0110", kEob, 0},
    {"10 s", 0, 1},
    {"010 s", 1, 1},
    {"110 s", 0, 2},
    {"0010 1 s", 2, 1},
    {"0111 s", 0, 3},
    {"0011 1 s", 3, 1},
    {"0001 10 s", 4, 1},
    {"0011 0 s", 1, 2},
    {"0001 11 s", 5, 1},
    {"0000 110 s", 6, 1},
    {"0000 100 s", 7, 1},
    {"1110 0 s", 0, 4},
    {"0000 111 s", 2, 2},
    {"0000 101 s", 8, 1},
    {"1111 000 s", 9, 1},
    {"0000 01", kEsc, 0},
    {"1110 1 s", 0, 5},
    {"0001 01 s", 0, 6},
    {"1111 001 s", 1, 3},
    {"0010 0110 s", 3, 2},
    {"1111 010 s", 10, 1},
    {"0010 0001 s", 11, 1},
    {"0010 0101 s", 12, 1},
    {"0010 0100 s", 13, 1},
    {"0001 00 s", 0, 7},
    {"0010 0111 s", 1, 4},
    {"1111 1100 s", 2, 3},
    {"1111 1101 s", 4, 2},
    {"0000 0010 0 s", 5, 2},
    {"0000 0010 1 s", 14, 1},
    {"0000 0011 1 s", 15, 1},
    {"0000 0011 01 s", 16, 1},
    {"1111 011 s", 0, 8},
    {"1111 100 s", 0, 9},
    {"0010 0011 s", 0, 10},
    {"0010 0010 s", 0, 11},
    {"0010 0000 s", 1, 5},
    {"0000 0011 00 s", 2, 4},
    {"0000 0001 1100 s", 3, 3},
    {"0000 0001 0010 s", 4, 3},
    {"0000 0001 1110 s", 6, 2},
    {"0000 0001 0101 s", 7, 2},
    {"0000 0001 0001 s", 8, 2},
    {"0000 0001 1111 s", 17, 1},
    {"0000 0001 1010 s", 18, 1},
    {"0000 0001 1001 s", 19, 1},
    {"0000 0001 0111 s", 20, 1},
    {"0000 0001 0110 s", 21, 1},
    {"1111 1010 s", 0, 12},
    {"1111 1011 s", 0, 13},
    {"1111 1110 s", 0, 14},
    {"1111 1111 s", 0, 15},
    {"0000 0000 1011 0 s", 1, 6},
    {"0000 0000 1010 1 s", 1, 7},
    {"0000 0000 1010 0 s", 2, 5},
    {"0000 0000 1001 1 s", 3, 4},
    {"0000 0000 1001 0 s", 5, 3},
    {"0000 0000 1000 1 s", 9, 2},
    {"0000 0000 1000 0 s", 10, 2},
    {"0000 0000 1111 1 s", 22, 1},
    {"0000 0000 1111 0 s", 23, 1},
    {"0000 0000 1110 1 s", 24, 1},
    {"0000 0000 1110 0 s", 25, 1},
    {"0000 0000 1101 1 s", 26, 1},
    {"0000 0000 0111 11 s", 0, 16},
    {"0000 0000 0111 10 s", 0, 17},
    {"0000 0000 0111 01 s", 0, 18},
    {"0000 0000 0111 00 s", 0, 19},
    {"0000 0000 0110 11 s", 0, 20},
    {"0000 0000 0110 10 s", 0, 21},
    {"0000 0000 0110 01 s", 0, 22},
    {"0000 0000 0110 00 s", 0, 23},
    {"0000 0000 0101 11 s", 0, 24},
    {"0000 0000 0101 10 s", 0, 25},
    {"0000 0000 0101 01 s", 0, 26},
    {"0000 0000 0101 00 s", 0, 27},
    {"0000 0000 0100 11 s", 0, 28},
    {"0000 0000 0100 10 s", 0, 29},
    {"0000 0000 0100 01 s", 0, 30},
    {"0000 0000 0100 00 s", 0, 31},
    {"0000 0000 0011 000 s", 0, 32},
    {"0000 0000 0010 111 s", 0, 33},
    {"0000 0000 0010 110 s", 0, 34},
    {"0000 0000 0010 101 s", 0, 35},
    {"0000 0000 0010 100 s", 0, 36},
    {"0000 0000 0010 011 s", 0, 37},
    {"0000 0000 0010 010 s", 0, 38},
    {"0000 0000 0010 001 s", 0, 39},
    {"0000 0000 0010 000 s", 0, 40},
    {"0000 0000 0011 111 s", 1, 8},
    {"0000 0000 0011 110 s", 1, 9},
    {"0000 0000 0011 101 s", 1, 10},
    {"0000 0000 0011 100 s", 1, 11},
    {"0000 0000 0011 011 s", 1, 12},
    {"0000 0000 0011 010 s", 1, 13},
    {"0000 0000 0011 001 s", 1, 14},
    {"0000 0000 0001 0011 s", 1, 15},
    {"0000 0000 0001 0010 s", 1, 16},
    {"0000 0000 0001 0001 s", 1, 17},
    {"0000 0000 0001 0000 s", 1, 18},
    {"0000 0000 0001 0100 s", 6, 3},
    {"0000 0000 0001 1010 s", 11, 2},
    {"0000 0000 0001 1001 s", 12, 2},
    {"0000 0000 0001 1000 s", 13, 2},
    {"0000 0000 0001 0111 s", 14, 2},
    {"0000 0000 0001 0110 s", 15, 2},
    {"0000 0000 0001 0101 s", 16, 2},
    {"0000 0000 0001 1111 s", 27, 1},
    {"0000 0000 0001 1110 s", 28, 1},
    {"0000 0000 0001 1101 s", 29, 1},
    {"0000 0000 0001 1100 s", 30, 1},
    {"0000 0000 0001 1011 s", 31, 1},
};

// ---------------------------------------------------------------------------------------------
// Checks on the rows that the expansion does not make by itself.

constexpr auto kB14First = DctKeys(kTableB14, true);
constexpr auto kB14Next = DctKeys(kTableB14, false);
constexpr auto kB15 = DctKeys(kTableB15, false);

// Both DCT tables hold each run/level pair once: 111 pairs, end_of_block and escape.
template <size_t M>
constexpr bool EachPairOnce(const std::array<Keyed<DctEntry>, M>& keys, int expected) {
    int count = 0;
    for (size_t i = 0; i < M; ++i) {
        if (keys[i].code.length == 0) continue;
        ++count;
        for (size_t j = i + 1; j < M; ++j)
            if (keys[j].code.length && keys[j].entry.run == keys[i].entry.run &&
                keys[j].entry.level == keys[i].entry.level)
                return false;
    }
    return count == expected;
}
static_assert(EachPairOnce(kB14Next, 113) && EachPairOnce(kB15, 113));

// Codes with seven or more leading zeros are looked up in sub-tables shared by both tables:
// every such code of Table B-15 has the same meaning in Table B-14.
constexpr bool LongCodesShared() {
    for (const auto& k : kB15) {
        const Code& c = k.code;
        if (c.length < 7 || (c.bits >> (c.length - 7)) != 0) continue;
        bool found = false;
        for (const auto& z : kB14Next)
            if (z.code.length == c.length && z.code.bits == c.bits && z.entry.run == k.entry.run &&
                z.entry.level == k.entry.level)
                found = true;
        if (!found) return false;
    }
    return true;
}
static_assert(LongCodesShared());

// Tables B-11 to B-14 leave no pattern undecoded, but for the sixteen zero bits that no DCT
// coefficient code begins with.
static_assert(Coverage(Keys(kTableB11)) == 65536 && Coverage(Keys(kTableB12)) == 65536 &&
              Coverage(Keys(kTableB13)) == 65536);
static_assert(Coverage(kB14First) == 65536 - 16 && Coverage(kB14Next) == 65536 - 16);

// ---------------------------------------------------------------------------------------------
// The zig-zag and alternate scans, as ISO/IEC 13818-2 defines them: scan[alternate_scan][v][u]
// is the scan index of the coefficient in row v, column u.

constexpr uint8_t kScan[2][8][8] = {
    {
        {0, 1, 5, 6, 14, 15, 27, 28},
        {2, 4, 7, 13, 16, 26, 29, 42},
        {3, 8, 12, 17, 25, 30, 41, 43},
        {9, 11, 18, 24, 31, 40, 44, 53},
        {10, 19, 23, 32, 39, 45, 52, 54},
        {20, 22, 33, 38, 46, 51, 55, 60},
        {21, 34, 37, 47, 50, 56, 59, 61},
        {35, 36, 48, 49, 57, 58, 62, 63},
    },
    {
        {0, 4, 6, 20, 22, 36, 38, 52},
        {1, 5, 7, 21, 23, 37, 39, 53},
        {2, 8, 19, 24, 34, 40, 50, 54},
        {3, 9, 18, 25, 35, 41, 51, 55},
        {10, 17, 26, 30, 42, 46, 56, 60},
        {11, 16, 27, 31, 43, 47, 57, 61},
        {12, 15, 28, 32, 44, 48, 58, 62},
        {13, 14, 29, 33, 45, 49, 59, 63},
    },
};

// The scans turned round: scan index to natural position. Each scan must be a permutation.
constexpr std::array<uint8_t, 128> InvertScans() {
    std::array<uint8_t, 128> table{};
    std::array<bool, 128> seen{};
    for (int s = 0; s < 2; ++s)
        for (int v = 0; v < 8; ++v)
            for (int u = 0; u < 8; ++u) {
                const int index = s * 64 + kScan[s][v][u];
                if (kScan[s][v][u] > 63 || seen[index]) throw "a scan is not a permutation";
                seen[index] = true;
                table[index] = static_cast<uint8_t>(v * 8 + u);
            }
    return table;
}

// ---------------------------------------------------------------------------------------------
// macroblock_type names, by flags & 63. A table that lists a value both with and without the
// compatible flag (P-pictures with spatial scalability: 2 and 18) keeps both names apart.

struct MacroblockTypeNames {
    std::array<const char*, 64> plain{};
    std::array<const char*, 64> compatible{};
};

template <size_t M>
constexpr MacroblockTypeNames Names(const MacroblockTypeRow (&rows)[M]) {
    MacroblockTypeNames names;
    for (const MacroblockTypeRow& row : rows) {
        if (row.flags < 0 || row.flags > 127) throw "flags out of range";
        const char*& slot =
            (row.flags & kMacroblockCompatible ? names.compatible : names.plain)[row.flags & 63];
        if (slot) throw "two types share a name slot";
        slot = row.name;
    }
    return names;
}

constexpr MacroblockTypeNames kNamesI = Names(kTableB2);
constexpr MacroblockTypeNames kNamesP = Names(kTableB3);
constexpr MacroblockTypeNames kNamesB = Names(kTableB4);
constexpr MacroblockTypeNames kNamesD = Names(kTableD);
constexpr MacroblockTypeNames kNamesISpatial = Names(kTableB5);
constexpr MacroblockTypeNames kNamesPSpatial = Names(kTableB6);
constexpr MacroblockTypeNames kNamesBSpatial = Names(kTableB7);
constexpr MacroblockTypeNames kNamesSnr = Names(kTableB8);

// The same choice of table as GetMacroblockType.
const MacroblockTypeNames* SelectNames(int scalableMode, int pictureCodingType) {
    if (scalableMode == 2) return &kNamesSnr;
    const bool spatial = scalableMode == 1;
    switch (pictureCodingType) {
        case 1:
            return spatial ? &kNamesISpatial : &kNamesI;
        case 2:
            return spatial ? &kNamesPSpatial : &kNamesP;
        case 3:
            return spatial ? &kNamesBSpatial : &kNamesB;
        case 4:
            return &kNamesD;
        default:
            return nullptr;
    }
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// The sub-tables. Each is indexed as its declaration in VlcTables.h says; `width` is the
// number of leading peeked bits its index stands for.

constexpr std::array<VlcEntry, 1> kAddressIncrement0 = ExpandVlc<1>(Keys(kTableB1), 1, 1);
constexpr std::array<VlcEntry, 16> kAddressIncrement1 = ExpandVlc<16>(Keys(kTableB1), 5, 0, 2);
constexpr std::array<VlcEntry, 104> kAddressIncrement2 = ExpandVlc<104>(Keys(kTableB1), 11, 24);

constexpr std::array<VlcEntry, 4> kMacroblockTypeI = ExpandVlc<4>(Keys(kTableB2), 2);
constexpr std::array<VlcEntry, 8> kMacroblockTypeP1 = ExpandVlc<8>(Keys(kTableB3), 3, 0, 1);
constexpr std::array<VlcEntry, 8> kMacroblockTypeP2 = ExpandVlc<8>(Keys(kTableB3), 6);
constexpr std::array<VlcEntry, 16> kMacroblockTypeB1 = ExpandVlc<16>(Keys(kTableB4), 4, 0, 2);
constexpr std::array<VlcEntry, 8> kMacroblockTypeB2 = ExpandVlc<8>(Keys(kTableB4), 6);
constexpr std::array<VlcEntry, 2> kMacroblockTypeD = ExpandVlc<2>(Keys(kTableD), 1);
constexpr std::array<VlcEntry, 16> kMacroblockTypeISpatial = ExpandVlc<16>(Keys(kTableB5), 4);
constexpr std::array<VlcEntry, 16> kMacroblockTypePSpatial1 =
    ExpandVlc<16>(Keys(kTableB6), 4, 0, 2);
constexpr std::array<VlcEntry, 16> kMacroblockTypePSpatial2 =
    ExpandVlc<16>(Keys(kTableB6), 7, 0, 2);
constexpr std::array<VlcEntry, 16> kMacroblockTypeBSpatial1 =
    ExpandVlc<16>(Keys(kTableB7), 4, 0, 2);
constexpr std::array<VlcEntry, 16> kMacroblockTypeBSpatial2 =
    ExpandVlc<16>(Keys(kTableB7), 7, 0, 4);
constexpr std::array<VlcEntry, 16> kMacroblockTypeBSpatial3 =
    ExpandVlc<16>(Keys(kTableB7), 9, 0, 8);
constexpr std::array<VlcEntry, 8> kMacroblockTypeSnr = ExpandVlc<8>(Keys(kTableB8), 3);

constexpr std::array<VlcEntry, 32> kCodedBlockPattern1 = ExpandVlc<32>(Keys(kTableB9), 5, 0, 8);
constexpr std::array<VlcEntry, 64> kCodedBlockPattern2 = ExpandVlc<64>(Keys(kTableB9), 8, 0, 4);
constexpr std::array<VlcEntry, 8> kCodedBlockPattern3 = ExpandVlc<8>(Keys(kTableB9), 9);

constexpr std::array<VlcEntry, 8> kMotionCode1 = ExpandVlc<8>(MotionKeys(kTableB10), 3, 0, 1);
constexpr std::array<VlcEntry, 8> kMotionCode2 = ExpandVlc<8>(MotionKeys(kTableB10), 6, 0, 3);
constexpr std::array<VlcEntry, 12> kMotionCode3 = ExpandVlc<12>(MotionKeys(kTableB10), 9, 12);

constexpr std::array<VlcEntry, 4> kDmvector = ExpandVlc<4>(Keys(kTableB11), 2);

constexpr std::array<VlcEntry, 31> kDctDcSizeLuminance1 = ExpandVlc<31>(Keys(kTableB12), 5);
constexpr std::array<VlcEntry, 16> kDctDcSizeLuminance2 = ExpandVlc<16>(Keys(kTableB12), 9, 496);
constexpr std::array<VlcEntry, 31> kDctDcSizeChrominance1 = ExpandVlc<31>(Keys(kTableB13), 5);
constexpr std::array<VlcEntry, 32> kDctDcSizeChrominance2 = ExpandVlc<32>(Keys(kTableB13), 10, 992);

constexpr std::array<DctEntry, 12> kDctZeroFirst = ExpandDct<12>(kB14First, 4, 4);
constexpr std::array<DctEntry, 12> kDctZeroNext = ExpandDct<12>(kB14Next, 4, 4);
constexpr std::array<DctEntry, 60> kDctZero1 = ExpandDct<60>(kB14Next, 8, 4);
constexpr std::array<DctEntry, 8> kDctZero2 = ExpandDct<8>(kB14Next, 10, 8);
constexpr std::array<DctEntry, 252> kDctOne1 = ExpandDct<252>(kB15, 8, 4);
constexpr std::array<DctEntry, 8> kDctOne2 = ExpandDct<8>(kB15, 10, 8);
constexpr std::array<DctEntry, 16> kDctShared1 = ExpandDct<16>(kB14Next, 12, 16);
constexpr std::array<DctEntry, 16> kDctShared2 = ExpandDct<16>(kB14Next, 13, 16);
constexpr std::array<DctEntry, 16> kDctShared3 = ExpandDct<16>(kB14Next, 14, 16);
constexpr std::array<DctEntry, 16> kDctShared4 = ExpandDct<16>(kB14Next, 15, 16);
constexpr std::array<DctEntry, 16> kDctShared5 = ExpandDct<16>(kB14Next, 16, 16);

// Spot checks against the tables' first rows.
static_assert(kAddressIncrement0[0].value == 1 && kAddressIncrement0[0].length == 1);
static_assert(kCodedBlockPattern3[1].value == 0 && kCodedBlockPattern3[1].length == 9);
static_assert(kMotionCode3[0].value == 16 && kMotionCode3[0].length == 9);
static_assert(kDctZeroFirst[4].run == 0 && kDctZeroFirst[4].length == 1);
static_assert(kDctZeroNext[4].run == kDctEndOfBlock && kDctZeroNext[4].length == 2);

}  // namespace vlc

namespace {
// kScanTables (ScanTables.h) must be the scans above turned round.
constexpr bool ScanTablesMatch() {
    const std::array<uint8_t, 128> derived = vlc::InvertScans();
    for (size_t i = 0; i < derived.size(); ++i)
        if (kScanTables[i] != derived[i]) return false;
    return true;
}
}  // namespace
static_assert(ScanTablesMatch());

namespace vlc {
namespace {

// A reader over one 32-bit pattern, for building the one-step table.
struct PatternReader {
    uint32_t bits;
    int used = 0;
    uint32_t PeekBits(int n) const { return n <= 0 || n > 32 ? 0 : (bits << used) >> (32 - n); }
    uint32_t ReadBits(int n) {
        const uint32_t v = PeekBits(n);
        used += n;
        return v;
    }
};

std::array<FastDctEntry, 1 << kFastDctBits> MakeFastDctTable(DctTable table) {
    std::array<FastDctEntry, 1 << kFastDctBits> out{};
    constexpr int kRest = 32 - kFastDctBits;
    for (uint32_t i = 0; i < out.size(); ++i) {
        // The same code whatever follows the ten bits (but the sign), or the entry stays
        // unresolved.
        PatternReader zeros{i << kRest}, ones{(i << kRest) | ((1u << kRest) - 1)};
        const DctResult a = GetDct(zeros, table), b = GetDct(ones, table);
        const int16_t level = a.level < 0 ? static_cast<int16_t>(-a.level) : a.level;
        if (!a.IsValid() || !b.IsValid() || a.length > kFastDctBits || a.length != b.length ||
            a.run != b.run || (level != b.level && level != -b.level))
            continue;
        out[i] = {a.run, a.length, level};
    }
    return out;
}

}  // namespace

const FastDctEntry* FastDctTable(DctTable table) {
    static const auto zeroFirst = MakeFastDctTable(DctTable::kZeroFirst);
    static const auto zeroNext = MakeFastDctTable(DctTable::kZeroNext);
    static const auto one = MakeFastDctTable(DctTable::kOne);
    switch (table) {
        case DctTable::kZeroFirst:
            return zeroFirst.data();
        case DctTable::kOne:
            return one.data();
        default:
            return zeroNext.data();
    }
}

}  // namespace vlc

const char* MacroblockTypeName(int flags, int scalableMode, int pictureCodingType) {
    const vlc::MacroblockTypeNames* names = vlc::SelectNames(scalableMode, pictureCodingType);
    if (!names) return "Forbidden";
    const size_t i = static_cast<size_t>(flags & 63);
    if ((flags & kMacroblockCompatible) && names->compatible[i]) return names->compatible[i];
    if (names->plain[i]) return names->plain[i];
    if (names->compatible[i]) return names->compatible[i];
    return "Forbidden";
}

}  // namespace bitloupe
