#include "core/syntax/Emitters.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "core/syntax/ParseContext.h"

namespace bitloupe {

namespace {
constexpr int kTextBuffer = 256;

// snprintf's result clamped to what the buffer holds.
int Clamp(int n) {
    return n < 0 ? 0 : (n >= kTextBuffer ? kTextBuffer - 1 : n);
}
}  // namespace

int FormatBits(char* out, uint32_t value, int width) {
    char digits[32];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + (value & 1));
        value >>= 1;
    } while (value);
    if (width > 32) width = 32;
    int len = 0;
    for (int i = n; i < width; ++i) out[len++] = '0';
    while (n) out[len++] = digits[--n];
    out[len] = 0;
    return len;
}

std::string BitString(uint32_t value, int width) {
    char buf[40];
    const int n = FormatBits(buf, value, width);
    return std::string(buf, static_cast<size_t>(n));
}

std::string GroupDigits(uint64_t value) {
    std::string digits = std::to_string(value);
    std::string out;
    const size_t lead = digits.size() % 3 == 0 ? 3 : digits.size() % 3;
    out.append(digits, 0, lead);
    for (size_t i = lead; i < digits.size(); i += 3) {
        out.push_back(',');
        out.append(digits, i, 3);
    }
    return out;
}

Emitters::Emitters(ParseContext& parser, TreeStore& tree, CStreamState& stream)
    : parser_(parser), tree_(tree), stream_(stream) {}

TreeItem Emitters::Insert(const char* text, int len, TreeItem parent, int image, uint32_t data) {
    return tree_.InsertItem(std::string_view(text, static_cast<size_t>(len)), image, data, parent,
                            kInsertLast);
}

TreeItem Emitters::AddItem(const char* text, TreeItem parent, int image, uint32_t data) {
    return tree_.InsertItem(text, image, data, parent, kInsertLast);
}

TreeItem Emitters::AddItemF(TreeItem parent, const char* format, ...) {
    char buf[kTextBuffer];
    va_list args;
    va_start(args, format);
    const int n = Clamp(std::vsnprintf(buf, sizeof buf, format, args));
    va_end(args);
    return Insert(buf, n, parent);
}

void Emitters::MarkVirtual(TreeItem item) {
    if (!item) return;
    tree_.SetItemData(item, MakeVirtualData(KindOf(tree_.GetItemData(item))));
    tree_.SetItemImage(item, image::kVirtual);
}

void Emitters::RecordPosition(TreeItem item, int show, bool systemLayer) {
    if (!item) return;
    ItemPosition pos;
    parser_.GetPosition(pos, systemLayer);
    (systemLayer ? stream_.psPositions : stream_.videoPositions)[item] = pos;
    if (show) AddFileOffset("file_offset", pos, item, show);
}

void Emitters::AddOffsetItem(TreeItem item, int show) {
    if (!item || !show) return;
    ItemPosition pos;
    parser_.GetPosition(pos, false);
    AddFileOffset("file_offset", pos, item, show);
}

TreeItem Emitters::AddValue(const char* name, int value, TreeItem parent) {
    char buf[kTextBuffer];
    return InsertVirtual(buf, Clamp(std::snprintf(buf, sizeof buf, "%s=%d", name, value)), parent);
}

TreeItem Emitters::AddFileOffset(const char* name, const ItemPosition& pos, TreeItem parent,
                                 int show) {
    char buf[kTextBuffer];
    const uint64_t offset = show == 1 ? pos.offset : pos.offset - 4;
    int n;
    if (pos.bitOffset)
        n = std::snprintf(buf, sizeof buf, "%s=0x%0*llX, the %d-th bit", name, offsetDigits,
                          static_cast<unsigned long long>(offset), static_cast<int>(pos.bitOffset));
    else
        n = std::snprintf(buf, sizeof buf, "%s=0x%0*llX", name, offsetDigits,
                          static_cast<unsigned long long>(offset));
    return InsertVirtual(buf, Clamp(n), parent);
}

TreeItem Emitters::AddFlagValue(const char* name, int flag, TreeItem parent) {
    char buf[kTextBuffer];
    return InsertVirtual(buf, Clamp(std::snprintf(buf, sizeof buf, "%s=%d", name, flag ? 1 : 0)),
                         parent);
}

TreeItem Emitters::AddMarkerBit(uint32_t bit, TreeItem parent) {
    if (bit) return AddItem("marker_bit=1 (1 bit)", parent);
    return AddItem("marker_bit=0 (1 bit, must be 1!)", parent, image::kError);
}

TreeItem Emitters::AddBit(const char* name, uint32_t bit, TreeItem parent) {
    char buf[kTextBuffer];
    return Insert(buf, Clamp(std::snprintf(buf, sizeof buf, "%s=%d (1 bits)", name, bit ? 1 : 0)),
                  parent);
}

TreeItem Emitters::AddIndexedBit(const char* name, int index, uint32_t bit, TreeItem parent) {
    char buf[kTextBuffer];
    return Insert(
        buf, Clamp(std::snprintf(buf, sizeof buf, "%s[%d]=%d (1 bits)", name, index, bit ? 1 : 0)),
        parent);
}

TreeItem Emitters::AddBitsValue(const char* name, int value, int bits, TreeItem parent) {
    if (bits == 1) return AddBit(name, static_cast<uint32_t>(value), parent);
    char buf[kTextBuffer];
    return Insert(buf, Clamp(std::snprintf(buf, sizeof buf, "%s=%d (%d bits)", name, value, bits)),
                  parent);
}

TreeItem Emitters::AddBitString(const char* name, uint32_t value, int bits, TreeItem parent) {
    char buf[kTextBuffer];
    if (bits == 1)
        return Insert(
            buf,
            Clamp(std::snprintf(buf, sizeof buf, "%s=%d (1 bit)", name, static_cast<int>(value))),
            parent);
    char b[40];
    FormatBits(b, value, bits);
    return Insert(buf, Clamp(std::snprintf(buf, sizeof buf, "%s=%sB (%d bits)", name, b, bits)),
                  parent);
}

TreeItem Emitters::AddHexBytes(const char* name, uint32_t value, int bytes, TreeItem parent) {
    char buf[kTextBuffer];
    int n;
    if (bytes == 1)
        n = std::snprintf(buf, sizeof buf, "%s=0x%02X (1 byte)", name, value);
    else
        n = std::snprintf(buf, sizeof buf, "%s=0x%0*X (%d bytes)", name, 2 * bytes, value, bytes);
    return Insert(buf, Clamp(n), parent);
}

TreeItem Emitters::AddIndexedHexBytes(const char* name, int index, uint32_t value, int bytes,
                                      TreeItem parent) {
    char buf[kTextBuffer];
    int n;
    if (bytes == 1)
        n = std::snprintf(buf, sizeof buf, "%s[%d]=0x%02X (1 byte)", name, index, value);
    else
        n = std::snprintf(buf, sizeof buf, "%s[%d]=0x%0*X (%d bytes)", name, index, 2 * bytes,
                          value, bytes);
    return Insert(buf, Clamp(n), parent);
}

TreeItem Emitters::AddDecBytes(const char* name, int value, int bytes, TreeItem parent) {
    char buf[kTextBuffer];
    int n;
    if (bytes == 1)
        n = std::snprintf(buf, sizeof buf, "%s=%d (1 byte)", name, value);
    else
        n = std::snprintf(buf, sizeof buf, "%s=%d (%d bytes)", name, value, bytes);
    return Insert(buf, Clamp(n), parent);
}

TreeItem Emitters::AddField(const char* name, int value, int bits, TreeItem parent) {
    return AddCodedField(name, value, static_cast<uint32_t>(value), bits, parent);
}

TreeItem Emitters::AddCodedField(const char* name, int shown, uint32_t code, int bits,
                                 TreeItem parent) {
    char buf[kTextBuffer];
    char b[40];
    FormatBits(b, code, bits);
    return Insert(
        buf, Clamp(std::snprintf(buf, sizeof buf, "%s=%d (%sB, %d bits)", name, shown, b, bits)),
        parent);
}

TreeItem Emitters::AddIndexedField(const char* name, int index, int value, int bits,
                                   TreeItem parent) {
    char buf[kTextBuffer];
    char b[40];
    FormatBits(b, static_cast<uint32_t>(value), bits);
    return Insert(buf,
                  Clamp(std::snprintf(buf, sizeof buf, "%s[%d]=%d (%sB, %d bits)", name, index,
                                      value, b, bits)),
                  parent);
}

TreeItem Emitters::AddFieldWithUnit(const char* name, int64_t shown, const char* unit,
                                    uint32_t code, int bits, TreeItem parent) {
    char buf[kTextBuffer];
    char b[40];
    FormatBits(b, code, bits);
    return Insert(buf,
                  Clamp(std::snprintf(buf, sizeof buf, "%s=%lld%s (%sB, %d bits)", name,
                                      static_cast<long long>(shown), unit, b, bits)),
                  parent);
}

TreeItem Emitters::AddEnumField(const char* name, const char* const* table, uint32_t code, int bits,
                                TreeItem parent) {
    char buf[kTextBuffer];
    char b[40];
    FormatBits(b, code, bits);
    return Insert(
        buf,
        Clamp(std::snprintf(buf, sizeof buf, "%s=%s (%sB, %d bits)", name, table[code], b, bits)),
        parent);
}

TreeItem Emitters::AddEnumFieldDec(const char* name, const char* const* table, uint32_t code,
                                   int bits, TreeItem parent) {
    char buf[kTextBuffer];
    return Insert(
        buf,
        Clamp(std::snprintf(buf, sizeof buf, "%s=%s (%u, %d bits)", name, table[code], code, bits)),
        parent);
}

TreeItem Emitters::AddVlc(const char* name, int value, uint32_t code, int length, TreeItem parent) {
    char buf[kTextBuffer];
    char b[40];
    FormatBits(b, code, length);
    return Insert(
        buf,
        Clamp(std::snprintf(buf, sizeof buf, "%s=%d (%sB, %d-bit VLC)", name, value, b, length)),
        parent, image::kVlc);
}

TreeItem Emitters::AddSignedVlc(const char* name, int value, uint32_t code, int length,
                                TreeItem parent) {
    return AddVlc(name, value, code, value != 0 ? length + 1 : length, parent);
}

TreeItem Emitters::AddRunLevel(uint32_t runLevel, int length, uint32_t code, TreeItem parent) {
    const int run = static_cast<int>(runLevel & 0xFF);
    const int level = static_cast<int16_t>(runLevel >> 16);
    int len = length & 0xFF;
    if (level != 64 && level != 65) len = (len + 1) & 0xFF;
    char buf[kTextBuffer];
    char b[40];
    FormatBits(b, code, len);
    return Insert(buf,
                  Clamp(std::snprintf(buf, sizeof buf, "(run,level)=(%d,%+d) (%sB, %d-bit VLC)",
                                      run, level, b, len)),
                  parent, image::kVlc);
}

TreeItem Emitters::AddMatrix16(const char* title, const int16_t* v, TreeItem parent) {
    const TreeItem item = InsertVirtual(title, static_cast<int>(std::strlen(title)), parent);
    char buf[kTextBuffer];
    for (int r = 0; r < 8; ++r, v += 8) InsertVirtual(buf, FormatMatrixRow(buf, v, 5), item);
    return item;
}

TreeItem Emitters::AddMatrix8(const char* title, const uint8_t* v, TreeItem parent) {
    const TreeItem item = InsertVirtual(title, static_cast<int>(std::strlen(title)), parent);
    char buf[kTextBuffer];
    for (int r = 0; r < 8; ++r, v += 8) InsertVirtual(buf, FormatMatrixRow(buf, v, 5), item);
    return item;
}

TreeItem Emitters::AddMatrix8Small(const uint8_t* v, TreeItem parent, bool mark) {
    TreeItem last = 0;
    char buf[kTextBuffer];
    for (int r = 0; r < 8; ++r, v += 8) {
        const int n = FormatMatrixRow(buf, v, 3);
        last = mark ? InsertVirtual(buf, Clamp(n), parent) : Insert(buf, Clamp(n), parent);
    }
    return last;
}

TreeItem Emitters::AddItemRef(const char* name, int index, TreeItem referenced, TreeItem parent) {
    if (!referenced) return 0;
    const std::string text = tree_.GetItemText(referenced);
    char buf[kTextBuffer];
    return InsertVirtual(
        buf, Clamp(std::snprintf(buf, sizeof buf, "%s[%d]=\"%s\"", name, index, text.c_str())),
        parent);
}

}  // namespace bitloupe
