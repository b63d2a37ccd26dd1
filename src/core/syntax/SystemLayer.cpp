#include "core/syntax/SystemLayer.h"

#include <cinttypes>
#include <cstdio>

#include "core/base/Messages.h"
#include "core/syntax/ParseContext.h"
#include "core/syntax/StartCodes.h"

namespace bitloupe {

namespace {

const char* const kDataStreamNames[16] = {
    "ECM Stream",
    "EMM Stream",
    "DSMCC Stream",
    "ISO/IEC 13522 Stream",
    "H.222.1 Type-A Stream",
    "H.222.1 Type-B Stream",
    "H.222.1 Type-C Stream",
    "H.222.1 Type-D Stream",
    "H.222.1 Type-E Stream",
    "Ancillary Stream",
    "Reserved Data Stream #1",
    "Reserved Data Stream #2",
    "Reserved Data Stream #3",
    "Reserved Data Stream #4",
    "Reserved Data Stream #5",
    "Program Stream Directory",
};

// trick_mode_control, indexed by its 3-bit code.
const char* const kTrickModeControl[8] = {
    "fast forward", "slow motion", "freeze frame", "fast reverse",
    "slow reverse", "reserved",    "reserved",     "reserved",
};
// field_id, indexed by its 2-bit code.
const char* const kFieldId[4] = {
    "display from top field only",
    "display from bottom field only",
    "display complete frame",
    "reserved",
};
// frequency_truncation, indexed by its 2-bit code.
const char* const kFrequencyTruncation[4] = {
    "only DC coefficients are non-zero",
    "typically only the first three coefficients are non-zero",
    "typically only the first six coefficients are non-zero",
    "all coefficients may be non-zero",
};

const char* const kScrNames[3] = {"system_clock_reference[32..30]",
                                  "system_clock_reference[29..15]",
                                  "system_clock_reference[14..0]"};
const char* const kMpeg1PtsNames[3] = {"presentation_time_stamp[32..30]",
                                       "presentation_time_stamp[29..15]",
                                       "presentation_time_stamp[14..0]"};
const char* const kMpeg1DtsNames[3] = {"decoding_time_stamp[32..30]", "decoding_time_stamp[29..15]",
                                       "decoding_time_stamp[14..0]"};
const char* const kPtsNames[3] = {"PTS[32..30]", "PTS[29..15]", "PTS[14..0]"};
const char* const kDtsNames[3] = {"DTS[32..30]", "DTS[29..15]", "DTS[14..0]"};
const char* const kEscrNames[3] = {"ESCR_base[32..30]", "ESCR_base[29..15]", "ESCR_base[14..0]"};

// The most stream entries a system header can describe: header_length (16 bits) holds the
// 6 fixed bytes and 3 bytes per entry. A longer run of entries is garbage, and listing it
// would only flood the tree.
constexpr int kMaxStreamEntries = (0xFFFF - 6) / 3;

// MPEG-2 packets of these streams have no PES header: the data follows packet_length.
bool HasNoPesHeader(uint8_t streamId) {
    switch (streamId) {
        case 0xBC:
        case 0xBE:
        case 0xBF:
        case 0xF0:
        case 0xF1:
        case 0xF2:
        case 0xF8:
        case 0xFF:
            return true;
        default:
            return streamId < 0xBC;
    }
}

int64_t BufferSize(uint32_t scale, uint32_t size) {
    return int64_t{size} * (scale ? 1024 : 128);
}

// The item for the 4 bits in front of a DTS, which must be 0001.
void AddDtsPrefix(Emitters& e, uint32_t bits, TreeItem parent) {
    if (bits == 1)
        e.Bits(4).AddItem("0001B (4 bits)", parent);
    else
        e.Bits(4).AddItemF(parent, "%sB (4 bits, must be 0001B!)", BitString(bits, 4).c_str());
}

}  // namespace

// Marks the reads of the system layer, so that the items it makes take their places from the
// file reader even while the video layer reads through the payload reader around them.
class SystemReading {
  public:
    explicit SystemReading(ParseContext& p) : p_(p), was_(p.systemReading) {
        p.systemReading = true;
    }
    ~SystemReading() { p_.systemReading = was_; }
    SystemReading(const SystemReading&) = delete;
    SystemReading& operator=(const SystemReading&) = delete;

  private:
    ParseContext& p_;
    bool was_;
};

const char* SystemLayer::DataStreamName(uint8_t streamId) {
    return streamId >= 0xF0 ? kDataStreamNames[streamId - 0xF0] : "";
}

TreeItem SystemLayer::PackParent() const {
    if (currentPackItem && p_.tree.IsValid(currentPackItem)) return currentPackItem;
    return p_.stream.systemItem;
}

SystemLayer::TimeStamp SystemLayer::ReadTimeStamp() {
    FileReader& f = p_.file;
    TimeStamp ts;
    ts.high = f.ReadBits(3);
    ts.marker[0] = f.ReadBits(1);
    ts.mid = f.ReadBits(15);
    ts.marker[1] = f.ReadBits(1);
    ts.low = f.ReadBits(15);
    ts.marker[2] = f.ReadBits(1);
    return ts;
}

void SystemLayer::ListTimeStamp(const TimeStamp& ts, const char* const names[3], TreeItem parent) {
    Emitters& e = p_.emit;
    e.AddBitString(names[0], ts.high, 3, parent);
    e.AddMarkerBit(ts.marker[0], parent);
    e.AddBitString(names[1], ts.mid, 15, parent);
    e.AddMarkerBit(ts.marker[1], parent);
    e.AddBitString(names[2], ts.low, 15, parent);
}

// ---------------------------------------------------------------------------------------------
// Pack and system headers

void SystemLayer::ParsePackHeader(bool emit) {
    SystemReading reading(p_);
    FileReader& f = p_.file;
    CStreamState& s = p_.stream;
    ++s.counters.packCount;

    if (!emit) {
        if (s.mpegVersion == kMpeg1) {
            for (int i = 0; i < 8; ++i) f.ReadByte();
        } else {
            for (int i = 0; i < 9; ++i) f.ReadByte();
            const int stuffing = f.ReadByte() & 7;
            for (int i = 0; i < stuffing; ++i) f.ReadByte();
        }
        return;
    }

    Emitters& e = p_.emit;
    char text[128];
    std::snprintf(text, sizeof text, "Pack #%u", s.counters.packCount);
    const TreeItem pack = e.AddItem(text, s.systemItem, image::kPlain, kind::kPack);
    currentPackItem = pack;
    if (s.counters.packCount == 1) firstPackItem = pack;
    const TreeItem header = e.AddItem("Pack Header", pack, image::kPlain, kind::kPackHeader);
    e.RecordPosition(header, 4, true);
    e.AddHexBytes("pack_start_code", 0x1BA, 4, header);

    // The layout follows the bits of each pack, whatever the stream was detected as. Each is
    // read whole, then listed field by field from where it began.
    e.Follow(p_.BitPlace());
    if (f.PeekBits(2) == 1) {
        f.ReadBits(2);
        const TimeStamp base = ReadTimeStamp();
        const uint32_t extension = f.ReadBits(9);
        const uint32_t markerAfterExtension = f.ReadBits(1);
        const uint32_t muxRate = f.ReadBits(22);
        const uint32_t marker1 = f.ReadBits(1);
        const uint32_t marker2 = f.ReadBits(1);
        const uint32_t reserved = f.ReadBits(5);
        const uint32_t stuffingLength = f.ReadBits(3);
        uint8_t stuffing[7];
        for (uint32_t i = 0; i < stuffingLength; ++i) stuffing[i] = f.ReadByte();

        e.Bits(2).AddItem("01B (2 bits)", header);
        ListTimeStamp(base, kScrNames, header);
        e.AddMarkerBit(base.marker[2], header);
        e.AddBitsValue("system_clock_reference_extension", static_cast<int>(extension), 9, header);
        std::snprintf(text, sizeof text, "system_clock_reference(SCR)=%" PRIu64 " (42 bits)",
                      base.Value() * 300 + extension);
        e.InsertVirtual(text, header);
        e.AddMarkerBit(markerAfterExtension, header);
        e.AddFieldWithUnit("program_mux_rate", int64_t{muxRate} * 50, "Bps", muxRate, 22, header);
        e.AddMarkerBit(marker1, header);
        e.AddMarkerBit(marker2, header);
        e.AddBitString("reserved", reserved, 5, header);
        e.AddField("pack_stuffing_length", static_cast<int>(stuffingLength), 3, header);
        for (uint32_t i = 0; i < stuffingLength; ++i)
            e.AddIndexedHexBytes("stuffing_byte", static_cast<int>(i), stuffing[i], 1, header);
    } else if (f.PeekBits(4) == 2) {
        f.ReadBits(4);
        const TimeStamp scr = ReadTimeStamp();
        const uint32_t marker = f.ReadBits(1);
        const uint32_t muxRate = f.ReadBits(22);
        const uint32_t lastMarker = f.ReadBits(1);

        e.Bits(4).AddItem("0010B (4 bits)", header);
        ListTimeStamp(scr, kScrNames, header);
        std::snprintf(text, sizeof text, "system_clock_reference(SCR)=%" PRIu64 " (33 bits)",
                      scr.Value());
        e.InsertVirtual(text, header);
        e.AddMarkerBit(scr.marker[2], header);
        e.AddMarkerBit(marker, header);
        e.AddFieldWithUnit("mux_rate", int64_t{muxRate} * 50, "Bps", muxRate, 22, header);
        e.AddMarkerBit(lastMarker, header);
    }
    // Neither layout: only the start code is listed and the scan goes on from here.
    e.StopFollowing();
}

void SystemLayer::ParseSystemHeader(bool emit) {
    SystemReading reading(p_);
    FileReader& f = p_.file;
    const int headerLength = static_cast<int>(f.ReadBits(16));
    if (!emit) {
        for (int i = 0; i < headerLength && !f.AtEnd(); ++i) f.ReadByte();
        return;
    }

    Emitters& e = p_.emit;
    const TreeItem header =
        e.AddItem("System Header", PackParent(), image::kPlain, kind::kSystemHeader);
    // header_length was read after the start code (it has no item of its own).
    e.Back(48).AddHexBytes("system_header_start_code", 0x1BB, 4, header);

    e.AddMarkerBit(f.ReadBits(1), header);
    const uint32_t rateBound = f.ReadBits(22);
    e.AddFieldWithUnit("rate_bound", int64_t{rateBound} * 50, "Bps", rateBound, 22, header);
    e.AddMarkerBit(f.ReadBits(1), header);
    e.AddField("audio_bound", static_cast<int>(f.ReadBits(6)), 6, header);
    e.AddBit("fixed_flag", f.ReadBits(1), header);
    e.AddBit("CSPS_flag", f.ReadBits(1), header);
    e.AddBit("system_audio_lock_flag", f.ReadBits(1), header);
    e.AddBit("system_video_lock_flag", f.ReadBits(1), header);
    e.AddMarkerBit(f.ReadBits(1), header);
    e.AddField("video_bound", static_cast<int>(f.ReadBits(5)), 5, header);

    const uint32_t lastByte = f.ReadBits(8);
    if (p_.stream.mpegVersion == kMpeg2) {
        e.AddBit("packet_rate_restriction_flag", lastByte >> 7, header);
        e.AddBitString("reserved_byte", lastByte & 0x7F, 7, header);
    } else {
        e.AddHexBytes("reserved_byte", lastByte, 1, header);
    }

    // Stream entries follow while the next bit is 1; header_length does not bound them.
    for (int n = 0; n < kMaxStreamEntries && f.PeekBits(1) == 1; ++n) {
        const uint32_t id = f.ReadBits(8);
        if (id >= 0xC0 && id <= 0xDF)
            e.Bits(8).AddItemF(header, "stream_id=Audio Stream #%u (0x%02X, 1 byte)", id - 0xBF,
                               id);
        else if (id >= 0xE0 && id <= 0xEF)
            e.Bits(8).AddItemF(header, "stream_id=Video Stream #%u (0x%02X, 1 byte)", id - 0xDF,
                               id);
        else if (id >= 0xF0)
            e.Bits(8).AddItemF(header, "stream_id=%s (0x%02X, 1 byte)",
                               DataStreamName(static_cast<uint8_t>(id)), id);
        else if (id == 0xBE)
            e.Bits(8).AddItemF(header, "stream_id=Padding Stream (0x%02X, 1 byte)", id);
        else if (id == 0xBD)
            e.Bits(8).AddItemF(header, "stream_id=Private Stream #1 (0x%02X, 1 byte)", id);
        else if (id == 0xBF)
            e.Bits(8).AddItemF(header, "stream_id=Private Stream #2 (0x%02X, 1 byte)", id);
        else
            e.Bits(8).AddItemF(header, "stream_id=Unknown Stream (0x%02X, 1 byte)", id);

        const uint32_t fixed = f.ReadBits(2);
        if (fixed == 3)
            e.Bits(2).AddItem("11B (2 bits)", header);
        else
            e.Bits(2).AddItemF(header, "%sB (2 bits, must be 11B!)", BitString(fixed, 2).c_str());
        const uint32_t scale = f.ReadBits(1);
        e.AddBit("STD_buffer_bound_scale", scale, header);
        const uint32_t bound = f.ReadBits(13);
        e.AddFieldWithUnit("STD_buffer_size_bound", BufferSize(scale, bound), " Bytes", bound, 13,
                           header);
    }
}

// ---------------------------------------------------------------------------------------------
// PES packets

void SystemLayer::EnsureStreamRootItem(uint8_t streamId) {
    if (streamId < 0xBC) return;
    CStreamState& s = p_.stream;
    TreeStore& tree = p_.tree;
    TreeItem& slot = s.streamRootItems[streamId - 0xBC];
    // The first video stream's packets belong to the video root item.
    if (streamId == 0xE0 && s.videoItem && tree.IsValid(s.videoItem)) {
        slot = s.videoItem;
        return;
    }
    if (slot && tree.IsValid(slot)) return;

    char text[128];
    int image = image::kOtherStreamRoot;
    if (streamId >= 0xC0 && streamId <= 0xDF) {
        std::snprintf(text, sizeof text, "Audio Stream #%d", streamId - 0xBF);
        image = image::kAudioRoot;
    } else if (streamId >= 0xE0 && streamId <= 0xEF) {
        std::snprintf(text, sizeof text, "Video Stream #%d", streamId - 0xDF);
        image = image::kVideoRoot;
    } else if (streamId >= 0xF0) {
        std::snprintf(text, sizeof text, "%s (Data Stream #%d)", DataStreamName(streamId),
                      streamId - 0xEF);
    } else if (streamId == 0xBC) {
        std::snprintf(text, sizeof text, "Program Stream Map");
    } else if (streamId == 0xBD) {
        std::snprintf(text, sizeof text, "Private Stream #1");
    } else if (streamId == 0xBE) {
        std::snprintf(text, sizeof text, "Padding Stream");
    } else {
        std::snprintf(text, sizeof text, "Private Stream #2");
    }
    slot = tree.InsertItem(text, image, 0, kTreeRoot, kInsertLast);
}

TreeItem SystemLayer::AddPacketItem(uint8_t streamId, int packetLength) {
    SystemReading reading(p_);
    CStreamState& s = p_.stream;
    Emitters& e = p_.emit;
    const unsigned total = s.counters.packetCount;
    const unsigned n = streamId >= 0xBC ? s.counters.streamPacketCounts[streamId - 0xBC] : 0;

    char text[128];
    if (streamId >= 0xC0 && streamId <= 0xDF)
        std::snprintf(text, sizeof text, "Packet #%u (%u of Audio Stream #%d)", total, n,
                      streamId - 0xBF);
    else if (streamId >= 0xE0 && streamId <= 0xEF)
        std::snprintf(text, sizeof text, "Packet #%u (%u of Video Stream #%d)", total, n,
                      streamId - 0xDF);
    else if (streamId >= 0xF0)
        std::snprintf(text, sizeof text, "Packet #%u (%u of %s)", total, n,
                      DataStreamName(streamId));
    else if (streamId == 0xBC)
        std::snprintf(text, sizeof text, "Packet #%u (%u of Program Stream Map)", total, n);
    else if (streamId == 0xBD)
        std::snprintf(text, sizeof text, "Packet #%u (%u of Private Stream #1)", total, n);
    else if (streamId == 0xBE)
        std::snprintf(text, sizeof text, "Packet #%u (%u of Padding Stream)", total, n);
    else if (streamId == 0xBF)
        std::snprintf(text, sizeof text, "Packet #%u (%u of Private Stream #2)", total, n);
    else
        std::snprintf(text, sizeof text, "Packet #%u", total);
    EnsureStreamRootItem(streamId);

    const TreeItem packet = e.AddItem(text, PackParent(), image::kPlain, kind::kPesPacket);
    if (total == 1) firstPacketItem = packet;
    if (streamId == 0xE0 && n == 1) firstVideoPacketItem = packet;
    e.RecordPosition(packet, 4, true);
    // The start code was read, packet_length not yet.
    e.Follow(p_.BitPlace() - 32);
    e.AddHexBytes("packet_start_code_prefix", 1, 3, packet);
    e.Bits(8).AddItemF(packet, "stream_id=%sB (1 byte)", BitString(streamId, 8).c_str());
    e.AddDecBytes("packet_length", packetLength, 2, packet);
    e.StopFollowing();
    return packet;
}

uint16_t SystemLayer::ParsePesPacket(uint8_t streamId) {
    SystemReading reading(p_);
    FileReader& f = p_.file;
    CStreamState& s = p_.stream;
    // packet_length is looked at before the packet item records its position, so that the
    // position (and its file_offset child) names the packet's start code.
    const int packetLength = static_cast<int>(f.PeekBits(16));
    ++s.counters.packetCount;
    if (streamId >= 0xBC) ++s.counters.streamPacketCounts[streamId - 0xBC];
    const TreeItem packet = AddPacketItem(streamId, packetLength);
    f.ReadBits(16);
    lastPacket_ = packet;
    lastPts_ = -1;
    packetLength_ = packetLength;
    packetEnd_ = f.fileOffset() + packetLength;
    const uint16_t payload = ParsePesBody(streamId, packetLength, packet);

    if (packetEnd_ > f.FileSize() && packet) {
        // The file ends inside the packet: what is listed is not the whole packet.
        char text[96];
        const int64_t missing = packetEnd_ - f.FileSize();
        std::snprintf(text, sizeof text,
                      "Packet cut short: %" PRId64 " byte%s missing at the end of the file!",
                      missing, missing == 1 ? "" : "s");
        FlagPacket(packet, text);
    }
    return payload;
}

uint16_t SystemLayer::ParsePesBody(uint8_t streamId, int packetLength, TreeItem packet) {
    const bool mpeg2 = p_.stream.mpegVersion == kMpeg2;
    if (mpeg2 ? HasNoPesHeader(streamId) : streamId == 0xBF) {
        // The data follows packet_length directly; it is shown as one plain item.
        const char* name = !mpeg2 ? "packet_data_byte"
                                  : (streamId == 0xBE ? "padding_byte" : "PES_packet_data_byte");
        if (packetLength == 1)
            p_.emit.AddItemF(packet, "%s (1 byte)", name);
        else if (packetLength == 0)
            p_.emit.AddItemF(packet, "%s (0 bytes)", name);
        else
            p_.emit.AddItemF(packet, "%s[0..%d] (%d bytes)", name, packetLength - 1, packetLength);
        return static_cast<uint16_t>(packetLength);
    }

    const int64_t remaining = mpeg2 ? ParsePesHeaderMpeg2(packetLength, packet)
                                    : ParsePesHeaderMpeg1(packetLength, packet);
    return AddPayloadItem(remaining, packet);
}

namespace {

// The codes a program stream's structures begin with: packs, system headers, packets and the
// end code.
bool IsSystemStartCode(uint32_t word) {
    return (word >> 8) == 1 && (word & 0xFF) >= 0xB9;
}

}  // namespace

void SystemLayer::FlagPacket(TreeItem packet, const char* why) {
    p_.emit.AddItem(why, packet, image::kError);
    p_.tree.SetItemImage(packet, image::kError);
}

void SystemLayer::StepOverPayload(TreeItem packet) {
    SystemReading reading(p_);
    FileReader& f = p_.file;
    const int64_t first = f.fileOffset() + (f.bitOffset() ? 1 : 0);
    // A header that ran past packet_length leaves nothing to step over.
    if (packetEnd_ < first) return;
    f.SkipTo(packetEnd_);
    // Zero bytes before the next start code are allowed, a few of them.
    for (int zeros = 0; zeros < 64 && !f.AtEnd() && f.PeekBits(24) == 0; ++zeros) f.ReadByte();
    if (f.AtEnd() || IsSystemStartCode(f.PeekBits(32))) return;
    if (packet) {
        char text[128];
        std::snprintf(text, sizeof text,
                      "No start code after the payload: packet_length=%d is wrong, the next "
                      "start code is searched from the payload's first byte!",
                      packetLength_);
        FlagPacket(packet, text);
    }
    f.SkipTo(first);
}

int64_t SystemLayer::ParsePesHeaderMpeg1(int packetLength, TreeItem packet) {
    FileReader& f = p_.file;
    Emitters& e = p_.emit;
    char text[128];
    int64_t remaining = packetLength;

    // Stuffing bytes belong to the packet: a run of 0xFF longer than the packet is not
    // stuffing of this one.
    for (int n = 1; remaining > 0 && f.CurrentByte() == 0xFF && !f.AtEnd(); ++n) {
        f.ReadByte();
        --remaining;
        e.AddIndexedHexBytes("stuffing_byte", n, 0xFF, 1, packet);
    }

    if (f.PeekBits(2) == 1) {
        f.ReadBits(2);
        e.Bits(2).AddItem("01B (2 bits)", packet);
        const uint32_t scale = f.ReadBits(1);
        e.AddBit("STD_buffer_scale", scale, packet);
        const uint32_t size = f.ReadBits(13);
        e.AddFieldWithUnit("STD_buffer_size", BufferSize(scale, size), " Bytes", size, 13, packet);
        remaining -= 2;
    }

    const uint32_t prefix = f.PeekBits(4);
    if (prefix == 2 || prefix == 3) {
        f.ReadBits(4);
        e.Bits(4).AddItemF(packet, "%sB (4 bits)", BitString(prefix, 4).c_str());
        e.Follow(p_.BitPlace());
        const TimeStamp pts = ReadTimeStamp();
        lastPts_ = static_cast<int64_t>(pts.Value());
        ListTimeStamp(pts, kMpeg1PtsNames, packet);
        e.AddMarkerBit(pts.marker[2], packet);
        e.StopFollowing();
        std::snprintf(text, sizeof text, "presentation_time_stamp(PTS)=%" PRIu64 " (33 bits)",
                      pts.Value());
        e.InsertVirtual(text, packet);
        remaining -= 5;
        if (prefix == 3) {
            AddDtsPrefix(e, f.ReadBits(4), packet);
            e.Follow(p_.BitPlace());
            const TimeStamp dts = ReadTimeStamp();
            ListTimeStamp(dts, kMpeg1DtsNames, packet);
            e.AddMarkerBit(dts.marker[2], packet);
            e.StopFollowing();
            std::snprintf(text, sizeof text, "decoding_time_stamp(DTS)=%" PRIu64 " (33 bits)",
                          dts.Value());
            e.InsertVirtual(text, packet);
            remaining -= 5;
        }
    } else {
        const uint32_t b = f.ReadBits(8);
        if (b == 0x0F)
            e.Bits(8).AddItem("00001111B (1 byte)", packet);
        else
            e.Bits(8).AddItemF(packet, "%sB (1 byte, must be 00001111B!)", BitString(b, 8).c_str());
        remaining -= 1;
    }
    return remaining;
}

int64_t SystemLayer::ParsePesHeaderMpeg2(int packetLength, TreeItem packet) {
    FileReader& f = p_.file;
    Emitters& e = p_.emit;
    char text[128];
    // Each group of fields is read whole, then listed from where it began.
    e.Follow(p_.BitPlace());

    const uint32_t fixedBits = f.ReadBits(2);
    const uint32_t scrambling = f.ReadBits(2);
    const uint32_t priority = f.ReadBits(1);
    const uint32_t alignment = f.ReadBits(1);
    const uint32_t copyright = f.ReadBits(1);
    const uint32_t original = f.ReadBits(1);
    const uint32_t ptsDtsFlags = f.ReadBits(2);
    const uint32_t escrFlag = f.ReadBits(1);
    const uint32_t esRateFlag = f.ReadBits(1);
    const uint32_t trickModeFlag = f.ReadBits(1);
    const uint32_t copyInfoFlag = f.ReadBits(1);
    const uint32_t crcFlag = f.ReadBits(1);
    const uint32_t extensionFlag = f.ReadBits(1);
    const uint32_t headerDataLength = f.ReadBits(8);
    int64_t remaining = int64_t{packetLength} - 3;
    const int64_t headerStart = remaining;

    if (fixedBits == 2)
        e.Bits(2).AddItem("10B (2 bits)", packet);
    else
        e.Bits(2).AddItemF(packet, "%sB (2 bits)", BitString(fixedBits, 2).c_str());
    e.AddBitString("PES_scrambling_control", scrambling, 2, packet);
    e.AddBit("PES_priority", priority, packet);
    e.AddBit("data_alignment_indicator", alignment, packet);
    e.AddBit("copyright", copyright, packet);
    e.AddBit("original_or_copy", original, packet);
    e.AddBitString("PTS_DTS_flags", ptsDtsFlags, 2, packet);
    e.AddBit("ESCR_flag", escrFlag, packet);
    e.AddBit("ES_rate_flag", esRateFlag, packet);
    e.AddBit("DSM_trick_mode_flag", trickModeFlag, packet);
    e.AddBit("additional_copy_info_flag", copyInfoFlag, packet);
    e.AddBit("PES_CRC_flag", crcFlag, packet);
    e.AddBit("PES_extension_flag", extensionFlag, packet);
    e.AddDecBytes("PES_header_data_length", static_cast<int>(headerDataLength), 1, packet);

    if (ptsDtsFlags == 2 || ptsDtsFlags == 3) {
        const uint32_t prefix = f.ReadBits(4);
        const TimeStamp pts = ReadTimeStamp();
        lastPts_ = static_cast<int64_t>(pts.Value());
        remaining -= 5;
        // The PTS is announced by 0010 (PTS only) or 0011 (PTS and DTS).
        e.Bits(4).AddItemF(packet, "%sB (4 bits%s", BitString(prefix, 4).c_str(),
                           prefix == 2 || prefix == 3 ? ")" : ", must be 001xB!)");
        ListTimeStamp(pts, kPtsNames, packet);
        e.AddMarkerBit(pts.marker[2], packet);
        std::snprintf(text, sizeof text, "PTS=%" PRIu64 " (33 bits)", pts.Value());
        e.InsertVirtual(text, packet);
        if (ptsDtsFlags == 3) {
            const uint32_t dtsPrefix = f.ReadBits(4);
            const TimeStamp dts = ReadTimeStamp();
            remaining -= 5;
            AddDtsPrefix(e, dtsPrefix, packet);
            ListTimeStamp(dts, kDtsNames, packet);
            e.AddMarkerBit(dts.marker[2], packet);
            std::snprintf(text, sizeof text, "DTS=%" PRIu64 " (33 bits)", dts.Value());
            e.InsertVirtual(text, packet);
        }
    }

    if (escrFlag) {
        const uint32_t reserved = f.ReadBits(2);
        const TimeStamp base = ReadTimeStamp();
        const uint32_t extension = f.ReadBits(9);
        const uint32_t marker = f.ReadBits(1);
        remaining -= 6;
        e.AddBitString("reserved", reserved, 2, packet);
        ListTimeStamp(base, kEscrNames, packet);
        e.AddMarkerBit(base.marker[2], packet);
        e.AddBitString("ESCR_extension", extension, 9, packet);
        e.AddMarkerBit(marker, packet);
        std::snprintf(text, sizeof text, "ESCR=%" PRIu64 " (33 bits)",
                      base.Value() * 300 + extension);
        e.InsertVirtual(text, packet);
    }

    if (esRateFlag) {
        const uint32_t marker1 = f.ReadBits(1);
        const uint32_t rate = f.ReadBits(22);
        const uint32_t marker2 = f.ReadBits(1);
        remaining -= 3;
        e.AddMarkerBit(marker1, packet);
        e.AddFieldWithUnit("ES_rate", int64_t{rate} * 50, "Bps", rate, 22, packet);
        e.AddMarkerBit(marker2, packet);
    }

    // From here on each field is listed as it is read.
    e.StopFollowing();
    if (trickModeFlag) {
        ParseTrickMode(packet);
        remaining -= 1;
    }

    if (copyInfoFlag) {
        const uint32_t marker = f.ReadBits(1);
        const uint32_t info = f.ReadBits(7);
        remaining -= 1;
        e.AddMarkerBit(marker, packet);
        e.AddBitString("additional_copy_info", info, 7, packet);
    }

    if (crcFlag) {
        const uint32_t crc = f.ReadBits(16);
        remaining -= 2;
        e.AddHexBytes("previous_PES_packet_CRC", crc, 2, packet);
    }

    if (extensionFlag) remaining -= ParsePesExtension(packet);

    // Stuffing fills the header up to PES_header_data_length and no further: a payload that
    // begins with 0xFF (an audio sync word, a video packet cut inside a slice) keeps its bytes.
    for (int64_t used = headerStart - remaining; used < int64_t{headerDataLength} && !f.AtEnd();
         ++used) {
        const uint32_t b = f.ReadBits(8);
        --remaining;
        if (b == 0xFF) {
            e.AddHexBytes("stuffing_byte", 0xFF, 1, packet);
        } else {
            std::snprintf(text, sizeof text, "stuffing_byte=0x%02X (1 byte, must be 0xFF!)", b);
            e.Bits(8).AddItem(text, packet, image::kError);
        }
    }
    return remaining;
}

void SystemLayer::ParseTrickMode(TreeItem packet) {
    FileReader& f = p_.file;
    Emitters& e = p_.emit;
    const uint32_t control = f.ReadBits(3);
    e.AddEnumField("trick_mode_control", kTrickModeControl, control, 3, packet);
    e.Follow(p_.BitPlace());  // the fields below are read before they are listed
    switch (control) {
        case 0:  // fast forward
        case 3:  // fast reverse
        {
            const uint32_t fieldId = f.ReadBits(2);
            const uint32_t refresh = f.ReadBits(1);
            const uint32_t truncation = f.ReadBits(2);
            e.AddEnumField("field_id", kFieldId, fieldId, 2, packet);
            e.AddBit("intra_slice_refresh", refresh, packet);
            e.AddEnumField("frequency_truncation", kFrequencyTruncation, truncation, 2, packet);
            break;
        }
        case 1:  // slow motion
        case 4:  // slow reverse
            e.AddField("rep_cntrl", static_cast<int>(f.ReadBits(5)), 5, packet);
            break;
        case 2:  // freeze frame
        {
            const uint32_t fieldId = f.ReadBits(2);
            const uint32_t reserved = f.ReadBits(3);
            e.AddEnumField("field_id", kFieldId, fieldId, 2, packet);
            e.AddBitString("reserved", reserved, 3, packet);
            break;
        }
        default:
            e.AddBitString("reserved", f.ReadBits(5), 5, packet);
            break;
    }
    e.StopFollowing();
}

int SystemLayer::ParsePesExtension(TreeItem packet) {
    FileReader& f = p_.file;
    Emitters& e = p_.emit;
    e.Follow(p_.BitPlace());
    const uint32_t privateDataFlag = f.ReadBits(1);
    const uint32_t packHeaderFlag = f.ReadBits(1);
    const uint32_t sequenceCounterFlag = f.ReadBits(1);
    const uint32_t pstdFlag = f.ReadBits(1);
    const uint32_t reserved = f.ReadBits(3);
    const uint32_t extensionFlag2 = f.ReadBits(1);
    e.AddBit("PES_private_data_flag", privateDataFlag, packet);
    e.AddBit("pack_header_field_flag", packHeaderFlag, packet);
    e.AddBit("program_packet_sequence_counter_flag", sequenceCounterFlag, packet);
    e.AddBit("P-STD_buffer_flag", pstdFlag, packet);
    e.AddBitString("reserved", reserved, 3, packet);
    e.AddBit("PES_extension_flag_2", extensionFlag2, packet);
    e.StopFollowing();
    int used = 1;

    if (privateDataFlag) {
        for (int i = 0; i < 16; ++i)
            e.AddIndexedHexBytes("PES_private_data", i, f.ReadBits(8), 1, packet);
        used += 16;
    }

    if (packHeaderFlag) {
        const int fieldLength = static_cast<int>(f.ReadBits(8));
        e.AddDecBytes("pack_field_length", fieldLength, 1, packet);
        // The embedded pack header is listed like one met by the scan, as a new pack.
        f.ReadBits(32);
        ParsePackHeader(true);
        used += fieldLength + 1;
    }

    if (sequenceCounterFlag) {
        e.Follow(p_.BitPlace());
        const uint32_t marker1 = f.ReadBits(1);
        const uint32_t counter = f.ReadBits(7);
        const uint32_t marker2 = f.ReadBits(1);
        const uint32_t identifier = f.ReadBits(1);
        const uint32_t stuffLength = f.ReadBits(6);
        e.AddMarkerBit(marker1, packet);
        e.AddField("program_packet_sequence_counter", static_cast<int>(counter), 7, packet);
        e.AddMarkerBit(marker2, packet);
        e.AddBit("MPEG1_MPEG2_identifier", identifier, packet);
        e.AddField("original_stuff_length", static_cast<int>(stuffLength), 6, packet);
        e.StopFollowing();
        used += 2;
    }

    if (pstdFlag) {
        e.Follow(p_.BitPlace());
        const uint32_t fixed = f.ReadBits(2);
        const uint32_t scale = f.ReadBits(1);
        const uint32_t size = f.ReadBits(13);
        if (fixed == 1)
            e.Bits(2).AddItem("01B (2 bits)", packet);
        else
            e.Bits(2).AddItemF(packet, "%sB (2 bits, must be 01B!)", BitString(fixed, 2).c_str());
        e.AddBit("P-STD_buffer_scale", scale, packet);
        e.AddFieldWithUnit("P-STD_buffer_size", BufferSize(scale, size), " bytes", size, 13,
                           packet);
        e.StopFollowing();
        used += 2;
    }

    if (extensionFlag2) {
        const uint32_t marker = f.ReadBits(1);
        const int fieldLength = static_cast<int>(f.ReadBits(7));
        e.Back(8).AddMarkerBit(marker, packet);
        e.AddField("PES_extension_field_length", fieldLength, 7, packet);
        for (int i = 0; i < fieldLength; ++i) e.AddHexBytes("reserved", f.ReadBits(8), 1, packet);
        used += fieldLength + 1;
    }
    return used;
}

uint16_t SystemLayer::AddPayloadItem(int64_t remaining, TreeItem packet) {
    CStreamState& s = p_.stream;
    Emitters& e = p_.emit;
    const char* name = s.mpegVersion == kMpeg2 ? "PES_packet_data_byte" : "packet_data_byte";
    char text[160];
    int image = image::kVirtual;
    uint16_t size = 0;
    if (remaining < 0) {
        // The header ran past the end the packet declared: there is no payload to show, and
        // the count must not wrap round to a huge size.
        std::snprintf(text, sizeof text,
                      "%s (0 bytes, the header runs %" PRId64 " byte%s past packet_length!)", name,
                      -remaining, remaining == -1 ? "" : "s");
        image = image::kError;
    } else {
        size = static_cast<uint16_t>(remaining);
        if (size == 0)
            std::snprintf(text, sizeof text, "%s (0 bytes)", name);
        else if (size == 1)
            std::snprintf(text, sizeof text, "%s (1 byte)", name);
        else
            std::snprintf(text, sizeof text, "%s[0..%d] (%d bytes)", name, size - 1, size);
    }
    const TreeItem item = e.AddItem(text, packet, image, kind::kPayloadUnlisted);
    if (item) s.payloadSizes[item] = size;
    e.RecordPosition(item, 1, true);
    return size;
}

void SystemLayer::ParseEndOfSystemStream() {
    SystemReading reading(p_);
    p_.emit.AddItem("EOSS (End of System Stream) (0x000001B9, 4 bytes)", p_.stream.systemItem);
}

int64_t SystemLayer::ParseSystemUntil(uint8_t streamId) {
    SystemReading reading(p_);
    FileReader& f = p_.file;
    const uint32_t wanted = 0x00000100u + streamId;
    uint32_t acc = 0;
    while (!f.AtEnd()) {
        if (!f.ScanStartCode(acc, start_code::kSystemFirst, start_code::kLast)) continue;
        const uint32_t code = acc;
        acc = 0;
        if (code == wanted) {
            const uint16_t payload = ParsePesPacket(streamId);
            p_.stream.NoteVideoPacket(static_cast<uint64_t>(f.fileOffset()), lastPts_);
            return payload;
        }
        const StartCode what = StartCodeOf(code);
        if (what == StartCode::EndOfSystemStream) {
            ParseEndOfSystemStream();
            return 0;
        }
        if (what == StartCode::Pack) {
            ParsePackHeader(true);
        } else if (what == StartCode::SystemHeader) {
            ParseSystemHeader(true);
        } else {
            ParsePesPacket(static_cast<uint8_t>(code & 0xFF));
            StepOverPayload(lastPacket_);
        }
    }
    return 0;
}

int64_t SystemLayer::SkipUntil(uint8_t streamId) {
    SystemReading reading(p_);
    FileReader& f = p_.file;
    const uint32_t wanted = 0x00000100u + streamId;
    uint32_t acc = 0xFFFFFFFFu;
    while (!f.AtEnd()) {
        if (!f.ScanStartCode(acc, start_code::kPack, start_code::kLast)) continue;
        const uint32_t code = acc;
        acc = 0xFFFFFFFFu;
        if (code == wanted) return SkipPesHeader(streamId);
        if (code == start_code::kPack) {
            // Each pack in its own layout: MPEG-2's ends with its stuffing.
            if (f.PeekBits(2) == 1) {
                f.SkipTo(f.fileOffset() + 9);
                const int stuffing = f.ReadByte() & 7;
                f.SkipTo(f.fileOffset() + stuffing);
            } else {
                f.SkipTo(f.fileOffset() + 8);
            }
            continue;
        }
        // A system header or another packet: both say their length next.
        packetLength_ = f.ReadWord();
        packetEnd_ = f.fileOffset() + packetLength_;
        StepOverPayload(0);
    }
    return 0;
}

int64_t SystemLayer::SkipPesHeader(uint8_t streamId) {
    FileReader& f = p_.file;
    int64_t length = f.ReadWord();
    int64_t pts = -1;
    // The 33 bits of a time stamp from its five bytes (prefix and marker bits among them).
    auto stamp = [&f] {
        uint8_t b[5];
        for (uint8_t& x : b) x = f.ReadByte();
        const auto u = [](unsigned v) { return static_cast<uint64_t>(v); };
        return static_cast<int64_t>(u(b[0] >> 1 & 7u) << 30 | u(b[1]) << 22 | u(b[2] >> 1) << 15 |
                                    u(b[3]) << 7 | u(b[4] >> 1));
    };
    if (p_.stream.mpegVersion == kMpeg1) {
        if (streamId == 0xBF) return length;
        while (f.CurrentByte() == 0xFF && !f.AtEnd()) {
            f.ReadByte();
            --length;
        }
        if (f.PeekBits(2) == 1) {
            f.ReadByte();
            f.ReadByte();
            length -= 2;
        }
        int skip = 1;
        if (f.PeekBits(4) == 2 || f.PeekBits(4) == 3) {
            skip = f.PeekBits(4) == 2 ? 5 : 10;
            pts = stamp();
            for (int i = 5; i < skip; ++i) f.ReadByte();
        } else {
            f.ReadByte();
        }
        p_.stream.NoteVideoPacket(static_cast<uint64_t>(f.fileOffset()), pts);
        return length - skip;
    }
    if (HasNoPesHeader(streamId) || streamId < 0xBC) return length;
    f.ReadByte();
    const int flags = f.ReadByte();
    const int headerLength = f.ReadByte();
    int used = 0;
    if ((flags & 0x80) && headerLength >= 5) {
        pts = stamp();
        used = 5;
    }
    for (int i = used; i < headerLength; ++i) f.ReadByte();
    p_.stream.NoteVideoPacket(static_cast<uint64_t>(f.fileOffset()), pts);
    return length - headerLength - 3;
}

// ---------------------------------------------------------------------------------------------
// Listing a payload on request

void SystemLayer::ParsePacketPayload(TreeItem item) {
    SystemReading reading(p_);
    CStreamState& s = p_.stream;
    const auto size = s.payloadSizes.find(item);
    if (size == s.payloadSizes.end()) return;
    const auto position = s.psPositions.find(item);
    if (position == s.psPositions.end()) {
        p_.host.MessageBox(msg::kPositioningLost, msg::kErrorCaption, MsgIcon::Error,
                           MsgButtons::Ok);
        return;
    }
    TreeStore& tree = p_.tree;
    if (!tree.IsValid(item)) return;

    FileReader& f = p_.file;
    const ItemPosition where = position->second;
    const int count = size->second;
    // Listing bytes must not move the slider: its position is the user's start offset.
    const bool report = f.reportProgress;
    f.reportProgress = false;
    // Only bytes the file holds are listed: a packet cut short by the end of the file shows
    // what is there, not zeros in place of the missing bytes.
    if (f.IsOpen() && where.offset < static_cast<uint64_t>(f.FileSize())) {
        p_.SeekTo(where.offset, where.bitOffset, where.packetRemaining, true);
        const char* name = s.mpegVersion == kMpeg2 ? "PES_packet_data_byte" : "packet_data_byte";
        for (int i = 0; i < count && !f.AtEnd(); ++i)
            p_.emit.AddIndexedHexBytes(name, i, f.ReadByte(), 1, item);
    }
    f.reportProgress = report;

    tree.SetItemData(item, kind::kPayloadListed);
    if (tree.GetItemImage(item) != image::kError) tree.SetItemImage(item, image::kPlain);
    tree.Expand(item);
}

}  // namespace bitloupe
