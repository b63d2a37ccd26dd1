#include "core/syntax/Emitters.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "core/base/StaticText.h"
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

// ---------------------------------------------------------------------------------------------
// Item records: an emitter keeps the syntax element's name and values instead of its text, and
// the text is made from them when it is asked for. Names and other texts that lie in the
// program's read-only image are kept as pointers, any other as a copy.

namespace {

enum RecordKind : uint8_t {
    kLiteral = 1,
    kValue,
    kFileOffset,
    kFlagValue,
    kBit,
    kIndexedBit,
    kBitsValue,
    kBitString,
    kHexBytes,
    kIndexedHexBytes,
    kDecBytes,
    kCodedField,
    kIndexedField,
    kFieldWithUnit,
    kEnumField,
    kEnumFieldDec,
    kVlc,
    kRunLevel,
    kMatrixRow16,
    kMatrixRow8,
};

constexpr uint8_t kPointerText = 0xFF;  // a text kept as its place in the image; else a copy
constexpr size_t kCopiedText = 254;     // longer copies are cut (the text is cut at 255)

class RecordWriter {
  public:
    explicit RecordWriter(RecordKind kind) { bytes_[size_++] = kind; }
    template <class T>
    RecordWriter& Put(T value) {
        std::memcpy(bytes_ + size_, &value, sizeof value);
        size_ += sizeof value;
        return *this;
    }
    RecordWriter& Text(const char* text) {
        if (IsStaticText(text)) {
            bytes_[size_++] = kPointerText;
            return Put<uint32_t>(StaticTextPlace(text));
        }
        const size_t n = std::min(std::strlen(text), kCopiedText);
        bytes_[size_++] = static_cast<uint8_t>(n);
        std::memcpy(bytes_ + size_, text, n);
        size_ += n;
        return *this;
    }
    const uint8_t* data() const { return bytes_; }
    size_t size() const { return size_; }

  private:
    uint8_t bytes_[640];  // a record too long for the store is formatted at once
    size_t size_ = 0;
};

class RecordReader {
  public:
    RecordReader(const uint8_t* bytes, size_t size) : p_(bytes), end_(bytes + size) {}
    template <class T>
    T Get() {
        T value{};
        if (p_ + sizeof value <= end_) std::memcpy(&value, p_, sizeof value);
        p_ += sizeof value;
        return value;
    }
    // A kept text; a copy goes into scratch (kCopiedText + 1 bytes).
    const char* Text(char* scratch) {
        const uint8_t tag = p_ < end_ ? *p_ : 0;
        ++p_;
        if (tag == kPointerText) return StaticTextAt(Get<uint32_t>());
        const size_t n = p_ + tag <= end_ ? tag : 0;
        std::memcpy(scratch, p_, n);
        scratch[n] = 0;
        p_ += tag;
        return scratch;
    }

  private:
    const uint8_t* p_;
    const uint8_t* end_;
};

// The text of a record, exactly as the emitter of its kind writes it.
int FormatRecord(const uint8_t* record, size_t size, char* buf) {
    constexpr size_t kOut = TreeStore::kMaxText + 1;
    RecordReader r(record + 1, size - 1);
    char scratch[3][kCopiedText + 1];
    char b[40];
    switch (size ? record[0] : 0) {
        case kLiteral: {
            const char* text = r.Text(scratch[0]);
            return Clamp(std::snprintf(buf, kOut, "%s", text));
        }
        case kValue: {
            const char* name = r.Text(scratch[0]);
            return Clamp(std::snprintf(buf, kOut, "%s=%d", name, r.Get<int32_t>()));
        }
        case kFileOffset: {
            const char* name = r.Text(scratch[0]);
            const auto offset = r.Get<uint64_t>();
            const int bit = r.Get<uint8_t>();
            const int digits = r.Get<uint8_t>();
            if (bit)
                return Clamp(std::snprintf(buf, kOut, "%s=0x%0*llX, the %d-th bit", name, digits,
                                           static_cast<unsigned long long>(offset), bit));
            return Clamp(std::snprintf(buf, kOut, "%s=0x%0*llX", name, digits,
                                       static_cast<unsigned long long>(offset)));
        }
        case kFlagValue: {
            const char* name = r.Text(scratch[0]);
            return Clamp(std::snprintf(buf, kOut, "%s=%d", name, r.Get<uint8_t>()));
        }
        case kBit: {
            const char* name = r.Text(scratch[0]);
            return Clamp(std::snprintf(buf, kOut, "%s=%d (1 bits)", name, r.Get<uint8_t>()));
        }
        case kIndexedBit: {
            const char* name = r.Text(scratch[0]);
            const int index = r.Get<int32_t>();
            return Clamp(
                std::snprintf(buf, kOut, "%s[%d]=%d (1 bits)", name, index, r.Get<uint8_t>()));
        }
        case kBitsValue: {
            const char* name = r.Text(scratch[0]);
            const int value = r.Get<int32_t>();
            return Clamp(
                std::snprintf(buf, kOut, "%s=%d (%d bits)", name, value, r.Get<uint8_t>()));
        }
        case kBitString: {
            const char* name = r.Text(scratch[0]);
            const auto value = r.Get<uint32_t>();
            const int bits = r.Get<uint8_t>();
            if (bits == 1)
                return Clamp(
                    std::snprintf(buf, kOut, "%s=%d (1 bit)", name, static_cast<int>(value)));
            FormatBits(b, value, bits);
            return Clamp(std::snprintf(buf, kOut, "%s=%sB (%d bits)", name, b, bits));
        }
        case kHexBytes:
        case kIndexedHexBytes: {
            const char* name = r.Text(scratch[0]);
            const int index = record[0] == kIndexedHexBytes ? r.Get<int32_t>() : 0;
            const auto value = r.Get<uint32_t>();
            const int bytes = r.Get<uint8_t>();
            char named[kCopiedText + 16];
            if (record[0] == kIndexedHexBytes)
                std::snprintf(named, sizeof named, "%s[%d]", name, index);
            else
                std::snprintf(named, sizeof named, "%s", name);
            if (bytes == 1)
                return Clamp(std::snprintf(buf, kOut, "%s=0x%02X (1 byte)", named, value));
            return Clamp(
                std::snprintf(buf, kOut, "%s=0x%0*X (%d bytes)", named, 2 * bytes, value, bytes));
        }
        case kDecBytes: {
            const char* name = r.Text(scratch[0]);
            const int value = r.Get<int32_t>();
            const int bytes = r.Get<uint8_t>();
            if (bytes == 1) return Clamp(std::snprintf(buf, kOut, "%s=%d (1 byte)", name, value));
            return Clamp(std::snprintf(buf, kOut, "%s=%d (%d bytes)", name, value, bytes));
        }
        case kCodedField: {
            const char* name = r.Text(scratch[0]);
            const int shown = r.Get<int32_t>();
            const auto code = r.Get<uint32_t>();
            const int bits = r.Get<uint8_t>();
            FormatBits(b, code, bits);
            return Clamp(std::snprintf(buf, kOut, "%s=%d (%sB, %d bits)", name, shown, b, bits));
        }
        case kIndexedField: {
            const char* name = r.Text(scratch[0]);
            const int index = r.Get<int32_t>();
            const int value = r.Get<int32_t>();
            const int bits = r.Get<uint8_t>();
            FormatBits(b, static_cast<uint32_t>(value), bits);
            return Clamp(
                std::snprintf(buf, kOut, "%s[%d]=%d (%sB, %d bits)", name, index, value, b, bits));
        }
        case kFieldWithUnit: {
            const char* name = r.Text(scratch[0]);
            const char* unit = r.Text(scratch[1]);
            const auto shown = r.Get<int64_t>();
            const auto code = r.Get<uint32_t>();
            const int bits = r.Get<uint8_t>();
            FormatBits(b, code, bits);
            return Clamp(std::snprintf(buf, kOut, "%s=%lld%s (%sB, %d bits)", name,
                                       static_cast<long long>(shown), unit, b, bits));
        }
        case kEnumField:
        case kEnumFieldDec: {
            const char* name = r.Text(scratch[0]);
            const char* meaning = r.Text(scratch[1]);
            const auto code = r.Get<uint32_t>();
            const int bits = r.Get<uint8_t>();
            if (record[0] == kEnumFieldDec)
                return Clamp(
                    std::snprintf(buf, kOut, "%s=%s (%u, %d bits)", name, meaning, code, bits));
            FormatBits(b, code, bits);
            return Clamp(std::snprintf(buf, kOut, "%s=%s (%sB, %d bits)", name, meaning, b, bits));
        }
        case kVlc: {
            const char* name = r.Text(scratch[0]);
            const int value = r.Get<int32_t>();
            const auto code = r.Get<uint32_t>();
            const int length = r.Get<uint8_t>();
            FormatBits(b, code, length);
            return Clamp(
                std::snprintf(buf, kOut, "%s=%d (%sB, %d-bit VLC)", name, value, b, length));
        }
        case kRunLevel: {
            const int run = r.Get<uint8_t>();
            const int level = r.Get<int16_t>();
            const auto code = r.Get<uint32_t>();
            const int len = r.Get<uint8_t>();
            FormatBits(b, code, len);
            return Clamp(std::snprintf(buf, kOut, "(run,level)=(%d,%+d) (%sB, %d-bit VLC)", run,
                                       level, b, len));
        }
        case kMatrixRow16: {
            int16_t v[8];
            for (int16_t& x : v) x = r.Get<int16_t>();
            return FormatMatrixRow(buf, v, 5);
        }
        case kMatrixRow8: {
            uint8_t v[8];
            for (uint8_t& x : v) x = r.Get<uint8_t>();
            return Clamp(FormatMatrixRow(buf, v, r.Get<uint8_t>()));
        }
        default:
            return 0;
    }
}

}  // namespace

Emitters::Emitters(ParseContext& parser, TreeStore& tree, CStreamState& stream)
    : parser_(parser), tree_(tree), stream_(stream) {
    TreeStore::SetRecordFormatter(&FormatRecord);
}

TreeItem Emitters::Insert(const char* text, int len, TreeItem parent, int image, uint32_t data) {
    return tree_.InsertItem(std::string_view(text, static_cast<size_t>(len)), image, data, parent,
                            kInsertLast);
}

namespace {
// Appends the record, or, should it not fit, its text.
TreeItem Append(TreeStore& tree, const RecordWriter& w, TreeItem parent, int image = 0,
                uint32_t data = kind::kNone) {
    if (w.size() <= TreeStore::kMaxText)
        return tree.AppendRecord(w.data(), w.size(), image, data, parent);
    char buf[kTextBuffer];
    const int n = FormatRecord(w.data(), w.size(), buf);
    return tree.InsertItem(std::string_view(buf, static_cast<size_t>(n)), image, data, parent,
                           kInsertLast);
}
}  // namespace

TreeItem Emitters::AddItem(const char* text, TreeItem parent, int image, uint32_t data) {
    // A short text costs less than the record that points at it.
    if (!IsStaticText(text) || std::strlen(text) <= 6)
        return tree_.InsertItem(text, image, data, parent, kInsertLast);
    return Append(tree_, RecordWriter(kLiteral).Text(text), parent, image, data);
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
    return Append(tree_, RecordWriter(kValue).Text(name).Put<int32_t>(value), parent,
                  image::kVirtual, kind::kVirtual);
}

TreeItem Emitters::AddFileOffset(const char* name, const ItemPosition& pos, TreeItem parent,
                                 int show) {
    const uint64_t offset = show == 1 ? pos.offset : pos.offset - 4;
    return Append(tree_,
                  RecordWriter(kFileOffset)
                      .Text(name)
                      .Put<uint64_t>(offset)
                      .Put<uint8_t>(static_cast<uint8_t>(pos.bitOffset))
                      .Put<uint8_t>(static_cast<uint8_t>(offsetDigits)),
                  parent, image::kVirtual, kind::kVirtual);
}

TreeItem Emitters::AddFlagValue(const char* name, int flag, TreeItem parent) {
    return Append(tree_, RecordWriter(kFlagValue).Text(name).Put<uint8_t>(flag ? 1 : 0), parent,
                  image::kVirtual, kind::kVirtual);
}

TreeItem Emitters::AddMarkerBit(uint32_t bit, TreeItem parent) {
    if (bit) return AddItem("marker_bit=1 (1 bit)", parent);
    return AddItem("marker_bit=0 (1 bit, must be 1!)", parent, image::kError);
}

TreeItem Emitters::AddBit(const char* name, uint32_t bit, TreeItem parent) {
    return Append(tree_, RecordWriter(kBit).Text(name).Put<uint8_t>(bit ? 1 : 0), parent);
}

TreeItem Emitters::AddIndexedBit(const char* name, int index, uint32_t bit, TreeItem parent) {
    return Append(
        tree_, RecordWriter(kIndexedBit).Text(name).Put<int32_t>(index).Put<uint8_t>(bit ? 1 : 0),
        parent);
}

TreeItem Emitters::AddBitsValue(const char* name, int value, int bits, TreeItem parent) {
    if (bits == 1) return AddBit(name, static_cast<uint32_t>(value), parent);
    return Append(tree_,
                  RecordWriter(kBitsValue)
                      .Text(name)
                      .Put<int32_t>(value)
                      .Put<uint8_t>(static_cast<uint8_t>(bits)),
                  parent);
}

TreeItem Emitters::AddBitString(const char* name, uint32_t value, int bits, TreeItem parent) {
    return Append(tree_,
                  RecordWriter(kBitString)
                      .Text(name)
                      .Put<uint32_t>(value)
                      .Put<uint8_t>(static_cast<uint8_t>(bits)),
                  parent);
}

TreeItem Emitters::AddHexBytes(const char* name, uint32_t value, int bytes, TreeItem parent) {
    return Append(tree_,
                  RecordWriter(kHexBytes).Text(name).Put<uint32_t>(value).Put<uint8_t>(
                      static_cast<uint8_t>(bytes)),
                  parent);
}

TreeItem Emitters::AddIndexedHexBytes(const char* name, int index, uint32_t value, int bytes,
                                      TreeItem parent) {
    return Append(tree_,
                  RecordWriter(kIndexedHexBytes)
                      .Text(name)
                      .Put<int32_t>(index)
                      .Put<uint32_t>(value)
                      .Put<uint8_t>(static_cast<uint8_t>(bytes)),
                  parent);
}

TreeItem Emitters::AddDecBytes(const char* name, int value, int bytes, TreeItem parent) {
    return Append(tree_,
                  RecordWriter(kDecBytes).Text(name).Put<int32_t>(value).Put<uint8_t>(
                      static_cast<uint8_t>(bytes)),
                  parent);
}

TreeItem Emitters::AddField(const char* name, int value, int bits, TreeItem parent) {
    return AddCodedField(name, value, static_cast<uint32_t>(value), bits, parent);
}

TreeItem Emitters::AddCodedField(const char* name, int shown, uint32_t code, int bits,
                                 TreeItem parent) {
    return Append(tree_,
                  RecordWriter(kCodedField)
                      .Text(name)
                      .Put<int32_t>(shown)
                      .Put<uint32_t>(code)
                      .Put<uint8_t>(static_cast<uint8_t>(bits)),
                  parent);
}

TreeItem Emitters::AddIndexedField(const char* name, int index, int value, int bits,
                                   TreeItem parent) {
    return Append(tree_,
                  RecordWriter(kIndexedField)
                      .Text(name)
                      .Put<int32_t>(index)
                      .Put<int32_t>(value)
                      .Put<uint8_t>(static_cast<uint8_t>(bits)),
                  parent);
}

TreeItem Emitters::AddFieldWithUnit(const char* name, int64_t shown, const char* unit,
                                    uint32_t code, int bits, TreeItem parent) {
    return Append(tree_,
                  RecordWriter(kFieldWithUnit)
                      .Text(name)
                      .Text(unit)
                      .Put<int64_t>(shown)
                      .Put<uint32_t>(code)
                      .Put<uint8_t>(static_cast<uint8_t>(bits)),
                  parent);
}

TreeItem Emitters::AddEnumField(const char* name, const char* const* table, uint32_t code, int bits,
                                TreeItem parent) {
    return Append(tree_,
                  RecordWriter(kEnumField)
                      .Text(name)
                      .Text(table[code])
                      .Put<uint32_t>(code)
                      .Put<uint8_t>(static_cast<uint8_t>(bits)),
                  parent);
}

TreeItem Emitters::AddEnumFieldDec(const char* name, const char* const* table, uint32_t code,
                                   int bits, TreeItem parent) {
    return Append(tree_,
                  RecordWriter(kEnumFieldDec)
                      .Text(name)
                      .Text(table[code])
                      .Put<uint32_t>(code)
                      .Put<uint8_t>(static_cast<uint8_t>(bits)),
                  parent);
}

TreeItem Emitters::AddVlc(const char* name, int value, uint32_t code, int length, TreeItem parent) {
    return Append(
        tree_,
        RecordWriter(kVlc).Text(name).Put<int32_t>(value).Put<uint32_t>(code).Put<uint8_t>(
            static_cast<uint8_t>(length)),
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
    return Append(tree_,
                  RecordWriter(kRunLevel)
                      .Put<uint8_t>(static_cast<uint8_t>(run))
                      .Put<int16_t>(static_cast<int16_t>(level))
                      .Put<uint32_t>(code)
                      .Put<uint8_t>(static_cast<uint8_t>(len)),
                  parent, image::kVlc);
}

TreeItem Emitters::AddMatrix16(const char* title, const int16_t* v, TreeItem parent) {
    const TreeItem item = InsertVirtual(title, static_cast<int>(std::strlen(title)), parent);
    for (int r = 0; r < 8; ++r, v += 8) {
        RecordWriter w(kMatrixRow16);
        for (int i = 0; i < 8; ++i) w.Put<int16_t>(v[i]);
        Append(tree_, w, item, image::kVirtual, kind::kVirtual);
    }
    return item;
}

namespace {
RecordWriter MatrixRow8(const uint8_t* v, int width) {
    RecordWriter w(kMatrixRow8);
    for (int i = 0; i < 8; ++i) w.Put<uint8_t>(v[i]);
    w.Put<uint8_t>(static_cast<uint8_t>(width));
    return w;
}
}  // namespace

TreeItem Emitters::AddMatrix8(const char* title, const uint8_t* v, TreeItem parent) {
    const TreeItem item = InsertVirtual(title, static_cast<int>(std::strlen(title)), parent);
    for (int r = 0; r < 8; ++r, v += 8)
        Append(tree_, MatrixRow8(v, 5), item, image::kVirtual, kind::kVirtual);
    return item;
}

TreeItem Emitters::AddMatrix8Small(const uint8_t* v, TreeItem parent, bool mark) {
    TreeItem last = 0;
    for (int r = 0; r < 8; ++r, v += 8)
        last = mark ? Append(tree_, MatrixRow8(v, 3), parent, image::kVirtual, kind::kVirtual)
                    : Append(tree_, MatrixRow8(v, 3), parent);
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
