#include "core/syntax/Emitters.h"

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <unordered_map>
#include <utility>
#include <vector>

#include "core/base/StaticText.h"
#include "core/syntax/ParseContext.h"
#include "core/syntax/SystemFields.h"

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
    kMarkerBit,
    kPattern,
    kByteBits,
    kStreamId,
};

// The high bits of a record's first byte: after it come the place of the item's first bit (5
// bytes, or 8 when wide) and, when its bytes lie further apart than its bits (it crossed into
// the next packet), the file offset past its last byte (as wide).
constexpr uint8_t kKindMask = 0x1F;
constexpr uint8_t kHasSpan = 0x40;
constexpr uint8_t kHasEnd = 0x80;
constexpr uint8_t kWideSpan = 0x20;

size_t SpanBytes(uint8_t first) {
    if (!(first & kHasSpan)) return 0;
    const size_t one = (first & kWideSpan) ? 8 : 5;
    return (first & kHasEnd) ? 2 * one : one;
}

constexpr uint8_t kPointerText = 0xFF;  // a text kept as its place in the image
constexpr uint8_t kNamedText = 0xFE;    // a text kept as its number in the table of names
// (any other tag is the length of a copy)

// The static texts met most (the names of syntax elements) get numbers of two bytes, shared by
// every thread; a small cache per thread spares the lock.
class NameTable {
  public:
    static constexpr uint32_t kFull = 0xFFFF;
    // The number of the text at `place`, kFull once the table is full.
    uint32_t Number(uint32_t place) {
        thread_local uint32_t cachedPlace[64] = {};
        thread_local uint16_t cachedNumber[64] = {};
        thread_local bool cached[64] = {};
        const size_t slot = (place ^ (place >> 7)) & 63;
        if (cached[slot] && cachedPlace[slot] == place) return cachedNumber[slot];
        std::lock_guard<std::mutex> lock(mutex_);
        auto [it, added] = numbers_.try_emplace(place, count_);
        if (added) {
            if (count_ >= kFull) {
                numbers_.erase(it);
                return kFull;
            }
            // Stored before the number is handed out: a reader on another thread finds it.
            places_[count_++].store(place, std::memory_order_release);
        }
        cached[slot] = true;
        cachedPlace[slot] = place;
        cachedNumber[slot] = static_cast<uint16_t>(it->second);
        return it->second;
    }
    uint32_t Place(uint32_t number) const {
        return number < kFull ? places_[number].load(std::memory_order_acquire) : 0;
    }

  private:
    std::mutex mutex_;
    std::unordered_map<uint32_t, uint32_t> numbers_;
    uint32_t count_ = 0;
    std::atomic<uint32_t> places_[kFull] = {};
};

NameTable& Names() {
    static NameTable table;
    return table;
}
constexpr size_t kCopiedText = 253;  // longer copies are cut (the text is cut at 255)

class RecordWriter {
  public:
    explicit RecordWriter(RecordKind kind) { bytes_[size_++] = kind; }
    // The item's span, right after the kind.
    RecordWriter(RecordKind kind, const ItemFacts& span) : RecordWriter(kind) {
        if (!span.hasSpan) return;
        const bool crossed = span.end != (span.start + span.bits + 7) / 8;
        const bool wide = span.start >> 40 || span.end >> 40;
        bytes_[0] |= kHasSpan | (crossed ? kHasEnd : 0) | (wide ? kWideSpan : 0);
        const size_t width = wide ? 8 : 5;
        auto put = [&](uint64_t v) {
            for (size_t i = 0; i < width; ++i) bytes_[size_++] = static_cast<uint8_t>(v >> (8 * i));
        };
        put(span.start);
        if (crossed) put(span.end);
    }
    template <class T>
    RecordWriter& Put(T value) {
        std::memcpy(bytes_ + size_, &value, sizeof value);
        size_ += sizeof value;
        return *this;
    }
    RecordWriter& Text(const char* text) {
        if (IsStaticText(text)) {
            const uint32_t place = StaticTextPlace(text);
            if (const uint32_t number = Names().Number(place); number != NameTable::kFull) {
                bytes_[size_++] = kNamedText;
                return Put<uint16_t>(static_cast<uint16_t>(number));
            }
            bytes_[size_++] = kPointerText;
            return Put<uint32_t>(place);
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
        if (tag == kNamedText) return StaticTextAt(Names().Place(Get<uint16_t>()));
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

// A record taken apart, for its text and for its facts: what each kind holds, read in the
// order its emitter wrote it.
struct Parts {
    uint8_t kind = 0;
    ItemFacts facts;
    const char* name = "";    // the element's name, or a literal's text
    const char* second = "";  // a unit or a meaning
    int index = 0;            // an index (the run of a run/level pair)
    int64_t number = 0;       // the value shown (the level of a run/level pair)
    uint32_t code = 0;        // the bits as read
    int width = 0;            // bits, bytes or VLC length, as the kind counts them
    uint64_t offset = 0;      // a file offset item's offset, bit and digits
    int bit = 0;
    int digits = 0;
    int16_t row[8] = {};  // a matrix row
    char scratch[2][kCopiedText + 1];
};

bool TakeApart(const uint8_t* record, size_t size, Parts& p) {
    if (!size) return false;
    const uint8_t first = record[0];
    const size_t skip = 1 + SpanBytes(first);
    if (skip > size) return false;
    ItemFacts& f = p.facts;
    if (first & kHasSpan) {
        const size_t width = (first & kWideSpan) ? 8 : 5;
        auto get = [&](size_t at) {
            uint64_t v = 0;
            for (size_t i = 0; i < width; ++i) v |= uint64_t{record[at + i]} << (8 * i);
            return v;
        };
        f.hasSpan = true;
        f.start = get(1);
        if (first & kHasEnd) f.end = get(1 + width);
    }
    p.kind = first & kKindMask;
    RecordReader r(record + skip, size - skip);
    // The element's value and the bits it stands for.
    auto field = [&](int64_t value, int bits) {
        f.hasValue = true;
        f.value = value;
        f.bits = static_cast<uint64_t>(bits);
    };
    switch (p.kind) {
        case kLiteral:
            p.name = r.Text(p.scratch[0]);
            if (first & kHasSpan) f.bits = r.Get<uint8_t>();
            break;
        case kValue:
            p.name = r.Text(p.scratch[0]);
            p.number = r.Get<int32_t>();
            break;
        case kFileOffset:
            p.name = r.Text(p.scratch[0]);
            p.offset = r.Get<uint64_t>();
            p.bit = r.Get<uint8_t>();
            p.digits = r.Get<uint8_t>();
            break;
        case kFlagValue:
            p.name = r.Text(p.scratch[0]);
            p.number = r.Get<uint8_t>();
            break;
        case kMarkerBit:
            p.number = r.Get<uint8_t>();
            field(p.number, 1);
            break;
        case kByteBits:
        case kStreamId:
            p.name = r.Text(p.scratch[0]);
            p.code = r.Get<uint32_t>();
            p.width = r.Get<uint8_t>();
            field(p.code, p.width);
            break;
        case kPattern:
            p.second = r.Text(p.scratch[1]);  // what the bits must be, "" when they are right
            p.code = r.Get<uint32_t>();
            p.width = r.Get<uint8_t>();
            field(p.code, p.width);
            break;
        case kBit:
        case kIndexedBit:
            p.name = r.Text(p.scratch[0]);
            if (p.kind == kIndexedBit) p.index = r.Get<int32_t>();
            p.number = r.Get<uint8_t>();
            field(p.number, 1);
            break;
        case kBitsValue:
        case kIndexedField:
            p.name = r.Text(p.scratch[0]);
            if (p.kind == kIndexedField) p.index = r.Get<int32_t>();
            p.number = r.Get<int32_t>();
            p.width = r.Get<uint8_t>();
            field(p.number, p.width);
            break;
        case kBitString:
        case kHexBytes:
        case kIndexedHexBytes:
            p.name = r.Text(p.scratch[0]);
            if (p.kind == kIndexedHexBytes) p.index = r.Get<int32_t>();
            p.code = r.Get<uint32_t>();
            p.width = r.Get<uint8_t>();
            field(p.code, p.kind == kBitString ? p.width : 8 * p.width);
            break;
        case kDecBytes:
            p.name = r.Text(p.scratch[0]);
            p.number = r.Get<int32_t>();
            p.width = r.Get<uint8_t>();
            field(p.number, 8 * p.width);
            break;
        case kCodedField:
        case kFieldWithUnit:
            p.name = r.Text(p.scratch[0]);
            if (p.kind == kFieldWithUnit) p.second = r.Text(p.scratch[1]);
            p.number = p.kind == kFieldWithUnit ? r.Get<int64_t>() : r.Get<int32_t>();
            p.code = r.Get<uint32_t>();
            p.width = r.Get<uint8_t>();
            field(p.code, p.width);
            break;
        case kEnumField:
        case kEnumFieldDec:
            p.name = r.Text(p.scratch[0]);
            p.second = r.Text(p.scratch[1]);
            p.code = r.Get<uint32_t>();
            p.width = r.Get<uint8_t>();
            field(p.code, p.width);
            break;
        case kVlc:
            p.name = r.Text(p.scratch[0]);
            p.number = r.Get<int32_t>();
            p.code = r.Get<uint32_t>();
            p.width = r.Get<uint8_t>();
            field(p.number, p.width);
            break;
        case kRunLevel:
            p.index = r.Get<uint8_t>();
            p.number = r.Get<int16_t>();
            p.code = r.Get<uint32_t>();
            p.width = r.Get<uint8_t>();
            f.bits = static_cast<uint64_t>(p.width);
            break;
        case kMatrixRow16:
            for (int16_t& x : p.row) x = r.Get<int16_t>();
            break;
        case kMatrixRow8:
            for (int16_t& x : p.row) x = r.Get<uint8_t>();
            p.width = r.Get<uint8_t>();
            break;
        default:
            return false;
    }
    if (f.hasSpan && !(first & kHasEnd)) f.end = (f.start + f.bits + 7) / 8;
    // Cut short by the end of the data: the bits it has end where the file does.
    if (f.hasSpan && (first & kHasEnd) && f.end * 8 < f.start + f.bits)
        f.bits = f.end * 8 > f.start ? f.end * 8 - f.start : 0;
    return true;
}

// The text of a record, exactly as the emitter of its kind writes it.
int FormatRecord(const uint8_t* record, size_t size, char* buf) {
    constexpr size_t kOut = TreeStore::kMaxText + 1;
    Parts p;
    if (!TakeApart(record, size, p)) return 0;
    const char* name = p.name;
    const int value = static_cast<int>(p.number);
    char b[40];
    auto out = [&](const char* format, auto... args) {
        return Clamp(std::snprintf(buf, kOut, format, args...));
    };
    switch (p.kind) {
        case kLiteral:
            return out("%s", name);
        case kValue:
        case kFlagValue:
            return out("%s=%d", name, value);
        case kFileOffset: {
            const auto offset = static_cast<unsigned long long>(p.offset);
            if (p.bit) return out("%s=0x%0*llX, the %d-th bit", name, p.digits, offset, p.bit);
            return out("%s=0x%0*llX", name, p.digits, offset);
        }
        case kMarkerBit:
            return out("%s", value ? "marker_bit=1 (1 bit)" : "marker_bit=0 (1 bit, must be 1!)");
        case kPattern: {
            FormatBits(b, p.code, p.width);
            char size[16];
            if (p.width == 8)
                std::snprintf(size, sizeof size, "1 byte");
            else
                std::snprintf(size, sizeof size, "%d bits", p.width);
            if (*p.second) return out("%sB (%s, must be %sB!)", b, size, p.second);
            return out("%sB (%s)", b, size);
        }
        case kByteBits:
            FormatBits(b, p.code, p.width);
            if (p.width == 8) return out("%s=%sB (1 byte)", name, b);
            return out("%s=%sB (%d bytes)", name, b, p.width / 8);
        case kStreamId: {
            const unsigned id = p.code & 0xFF;
            char stream[48];
            if (id >= 0xC0 && id <= 0xDF)
                std::snprintf(stream, sizeof stream, "Audio Stream #%u", id - 0xBF);
            else if (id >= 0xE0 && id <= 0xEF)
                std::snprintf(stream, sizeof stream, "Video Stream #%u", id - 0xDF);
            else
                std::snprintf(stream, sizeof stream, "%s",
                              id >= 0xF0   ? system_fields::kDataStreamNames[id - 0xF0]
                              : id == 0xBE ? "Padding Stream"
                              : id == 0xBD ? "Private Stream #1"
                              : id == 0xBF ? "Private Stream #2"
                                           : "Unknown Stream");
            return out("%s=%s (0x%02X, 1 byte)", name, stream, id);
        }
        case kBit:
            return out("%s=%d (1 bits)", name, value);
        case kIndexedBit:
            return out("%s[%d]=%d (1 bits)", name, p.index, value);
        case kBitsValue:
            return out("%s=%d (%d bits)", name, value, p.width);
        case kBitString:
            if (p.width == 1) return out("%s=%d (1 bit)", name, static_cast<int>(p.code));
            FormatBits(b, p.code, p.width);
            return out("%s=%sB (%d bits)", name, b, p.width);
        case kHexBytes:
        case kIndexedHexBytes: {
            char named[kCopiedText + 16];
            if (p.kind == kIndexedHexBytes)
                std::snprintf(named, sizeof named, "%s[%d]", name, p.index);
            else
                std::snprintf(named, sizeof named, "%s", name);
            if (p.width == 1) return out("%s=0x%02X (1 byte)", named, p.code);
            return out("%s=0x%0*X (%d bytes)", named, 2 * p.width, p.code, p.width);
        }
        case kDecBytes:
            if (p.width == 1) return out("%s=%d (1 byte)", name, value);
            return out("%s=%d (%d bytes)", name, value, p.width);
        case kCodedField:
            FormatBits(b, p.code, p.width);
            return out("%s=%d (%sB, %d bits)", name, value, b, p.width);
        case kIndexedField:
            FormatBits(b, static_cast<uint32_t>(value), p.width);
            return out("%s[%d]=%d (%sB, %d bits)", name, p.index, value, b, p.width);
        case kFieldWithUnit:
            FormatBits(b, p.code, p.width);
            return out("%s=%lld%s (%sB, %d bits)", name, static_cast<long long>(p.number), p.second,
                       b, p.width);
        case kEnumField:
            FormatBits(b, p.code, p.width);
            return out("%s=%s (%sB, %d bits)", name, p.second, b, p.width);
        case kEnumFieldDec:
            return out("%s=%s (%u, %d bits)", name, p.second, p.code, p.width);
        case kVlc:
            FormatBits(b, p.code, p.width);
            return out("%s=%d (%sB, %d-bit VLC)", name, value, b, p.width);
        case kRunLevel:
            FormatBits(b, p.code, p.width);
            return out("(run,level)=(%d,%+d) (%sB, %d-bit VLC)", p.index, value, b, p.width);
        case kMatrixRow16:
            return FormatMatrixRow(buf, p.row, 5);
        case kMatrixRow8:
            return Clamp(FormatMatrixRow(buf, p.row, p.width));
        default:
            return 0;
    }
}

// The span and the value a record holds.
bool ReadRecordFacts(const uint8_t* record, size_t size, ItemFacts& f) {
    Parts p;
    f = ItemFacts();
    if (!TakeApart(record, size, p)) return false;
    f = p.facts;
    return f.hasSpan || f.hasValue;
}
}  // namespace

Emitters::Emitters(ParseContext& parser, TreeStore& tree, CStreamState& stream)
    : parser_(parser), tree_(tree), stream_(stream) {
    TreeStore::SetRecordFormatter(&FormatRecord, &ReadRecordFacts);
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
    if (const int bits = std::exchange(textBits_, 0); bits > 0)
        return Append(tree_,
                      RecordWriter(kLiteral, SpanOf(bits))
                          .Text(text)
                          .Put<uint8_t>(static_cast<uint8_t>(bits)),
                      parent, image, data);
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
    if (textBits_ > 0) return AddItem(buf, parent);
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

TreeItem Emitters::Record(const FieldDesc& d, uint32_t code, TreeItem parent) {
    const char* name = d.name;
    const int bits = d.bits;
    const int value = static_cast<int>(FieldValue(d, code));
    TreeItem item = 0;
    switch (d.shown) {
        case Shown::kNumber:
            item = AddField(name, value, bits, parent);
            break;
        case Shown::kCount:
            item = AddBitsValue(name, value, bits, parent);
            break;
        case Shown::kFlag:
            item = AddBit(name, code, parent);
            break;
        case Shown::kBitString:
            item = AddBitString(name, code, bits, parent);
            break;
        case Shown::kHex:
            item = AddHexBytes(name, code, bits / 8, parent);
            break;
        case Shown::kDecimal:
            item = AddDecBytes(name, value, bits / 8, parent);
            break;
        case Shown::kMeaning:
            item = AddEnumField(name, d.meanings, code, bits, parent);
            break;
        case Shown::kMeaningDec:
            item = AddEnumFieldDec(name, d.meanings, code, bits, parent);
            break;
        case Shown::kScaled:
            item = AddFieldWithUnit(name, FieldValue(d, code), d.unit, code, bits, parent);
            break;
        case Shown::kMarker:
            return AddMarkerBit(code, parent);  // its text and image say what is wrong
        case Shown::kByteBits:
        case Shown::kStreamId:
            return Append(
                tree_,
                RecordWriter(d.shown == Shown::kByteBits ? kByteBits : kStreamId, SpanOf(bits))
                    .Text(name)
                    .Put<uint32_t>(code)
                    .Put<uint8_t>(static_cast<uint8_t>(bits)),
                parent);
        case Shown::kPattern: {
            const bool broken = d.Breaks(code);
            const char* required = broken && d.unit ? d.unit : "";
            return Append(tree_,
                          RecordWriter(kPattern, SpanOf(bits))
                              .Text(required)
                              .Put<uint32_t>(code)
                              .Put<uint8_t>(static_cast<uint8_t>(bits)),
                          parent, broken ? image::kError : 0);
        }
        case Shown::kSigned:
            item = AddCodedField(name, value, code, bits, parent);
            break;
    }
    if (d.Breaks(code)) tree_.SetItemImage(item, image::kError);
    return item;
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
    return Append(tree_, RecordWriter(kMarkerBit, SpanOf(1)).Put<uint8_t>(bit ? 1 : 0), parent,
                  bit ? 0 : image::kError);
}

ItemFacts Emitters::SpanOf(int bits) {
    ItemFacts span;
    span.bits = static_cast<uint64_t>(bits < 0 ? 0 : bits);
    if (following_) {
        span.start = follow_;
        follow_ += span.bits;
        span.end = (follow_ + 7) / 8;
        back_ = -1;
        // A block the data ended inside: its fields keep what lies in the file.
        const auto size = static_cast<uint64_t>(parser_.file.FileSize());
        if (size && span.end > size) span.end = size;
        span.hasSpan = span.bits > 0 && span.start < span.end * 8;
        return span;
    }
    const int back = back_ >= 0 ? back_ : bits;
    back_ = -1;
    int had = bits;
    parser_.SpanOfBits(back, had, span.start, span.end);
    // A field the data ended before has no place; one it ended inside keeps the bits it has
    // (its end comes before where its bit count would put it).
    span.hasSpan = had > 0;
    return span;
}

TreeItem Emitters::AddBit(const char* name, uint32_t bit, TreeItem parent) {
    return Append(tree_, RecordWriter(kBit, SpanOf(1)).Text(name).Put<uint8_t>(bit ? 1 : 0),
                  parent);
}

TreeItem Emitters::AddIndexedBit(const char* name, int index, uint32_t bit, TreeItem parent) {
    return Append(tree_,
                  RecordWriter(kIndexedBit, SpanOf(1))
                      .Text(name)
                      .Put<int32_t>(index)
                      .Put<uint8_t>(bit ? 1 : 0),
                  parent);
}

TreeItem Emitters::AddBitsValue(const char* name, int value, int bits, TreeItem parent) {
    if (bits == 1) return AddBit(name, static_cast<uint32_t>(value), parent);
    return Append(tree_,
                  RecordWriter(kBitsValue, SpanOf(bits))
                      .Text(name)
                      .Put<int32_t>(value)
                      .Put<uint8_t>(static_cast<uint8_t>(bits)),
                  parent);
}

TreeItem Emitters::AddBitString(const char* name, uint32_t value, int bits, TreeItem parent) {
    return Append(tree_,
                  RecordWriter(kBitString, SpanOf(bits))
                      .Text(name)
                      .Put<uint32_t>(value)
                      .Put<uint8_t>(static_cast<uint8_t>(bits)),
                  parent);
}

TreeItem Emitters::AddHexBytes(const char* name, uint32_t value, int bytes, TreeItem parent) {
    return Append(tree_,
                  RecordWriter(kHexBytes, SpanOf(8 * bytes))
                      .Text(name)
                      .Put<uint32_t>(value)
                      .Put<uint8_t>(static_cast<uint8_t>(bytes)),
                  parent);
}

TreeItem Emitters::AddIndexedHexBytes(const char* name, int index, uint32_t value, int bytes,
                                      TreeItem parent) {
    return Append(tree_,
                  RecordWriter(kIndexedHexBytes, SpanOf(8 * bytes))
                      .Text(name)
                      .Put<int32_t>(index)
                      .Put<uint32_t>(value)
                      .Put<uint8_t>(static_cast<uint8_t>(bytes)),
                  parent);
}

TreeItem Emitters::AddDecBytes(const char* name, int value, int bytes, TreeItem parent) {
    return Append(tree_,
                  RecordWriter(kDecBytes, SpanOf(8 * bytes))
                      .Text(name)
                      .Put<int32_t>(value)
                      .Put<uint8_t>(static_cast<uint8_t>(bytes)),
                  parent);
}

TreeItem Emitters::AddField(const char* name, int value, int bits, TreeItem parent) {
    return AddCodedField(name, value, static_cast<uint32_t>(value), bits, parent);
}

TreeItem Emitters::AddCodedField(const char* name, int shown, uint32_t code, int bits,
                                 TreeItem parent) {
    return Append(tree_,
                  RecordWriter(kCodedField, SpanOf(bits))
                      .Text(name)
                      .Put<int32_t>(shown)
                      .Put<uint32_t>(code)
                      .Put<uint8_t>(static_cast<uint8_t>(bits)),
                  parent);
}

TreeItem Emitters::AddIndexedField(const char* name, int index, int value, int bits,
                                   TreeItem parent) {
    return Append(tree_,
                  RecordWriter(kIndexedField, SpanOf(bits))
                      .Text(name)
                      .Put<int32_t>(index)
                      .Put<int32_t>(value)
                      .Put<uint8_t>(static_cast<uint8_t>(bits)),
                  parent);
}

TreeItem Emitters::AddFieldWithUnit(const char* name, int64_t shown, const char* unit,
                                    uint32_t code, int bits, TreeItem parent) {
    return Append(tree_,
                  RecordWriter(kFieldWithUnit, SpanOf(bits))
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
                  RecordWriter(kEnumField, SpanOf(bits))
                      .Text(name)
                      .Text(table[code])
                      .Put<uint32_t>(code)
                      .Put<uint8_t>(static_cast<uint8_t>(bits)),
                  parent);
}

TreeItem Emitters::AddEnumFieldDec(const char* name, const char* const* table, uint32_t code,
                                   int bits, TreeItem parent) {
    return Append(tree_,
                  RecordWriter(kEnumFieldDec, SpanOf(bits))
                      .Text(name)
                      .Text(table[code])
                      .Put<uint32_t>(code)
                      .Put<uint8_t>(static_cast<uint8_t>(bits)),
                  parent);
}

TreeItem Emitters::AddVlc(const char* name, int value, uint32_t code, int length, TreeItem parent) {
    return Append(tree_,
                  RecordWriter(kVlc, SpanOf(length))
                      .Text(name)
                      .Put<int32_t>(value)
                      .Put<uint32_t>(code)
                      .Put<uint8_t>(static_cast<uint8_t>(length)),
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
                  RecordWriter(kRunLevel, SpanOf(len))
                      .Put<uint8_t>(static_cast<uint8_t>(run))
                      .Put<int16_t>(static_cast<int16_t>(level))
                      .Put<uint32_t>(code)
                      .Put<uint8_t>(static_cast<uint8_t>(len)),
                  parent, image::kVlc);
}

TreeItem Emitters::AddMatrixTitle(const char* title, TreeItem parent) {
    if (IsStaticText(title))
        return Append(tree_, RecordWriter(kLiteral).Text(title), parent, image::kVirtual,
                      kind::kVirtual);
    return InsertVirtual(title, static_cast<int>(std::strlen(title)), parent);
}

TreeItem Emitters::AddMatrix16(const char* title, const int16_t* v, TreeItem parent) {
    const TreeItem item = AddMatrixTitle(title, parent);
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
    const TreeItem item = AddMatrixTitle(title, parent);
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
