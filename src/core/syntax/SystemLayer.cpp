#include "core/syntax/SystemLayer.h"

#include <cinttypes>
#include <cstdio>

#include "core/base/Messages.h"
#include "core/syntax/ParseContext.h"
#include "core/syntax/StartCodes.h"

namespace bitloupe {

namespace sf = system_fields;

namespace {

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
    return streamId >= 0xF0 ? sf::kDataStreamNames[streamId - 0xF0] : "";
}

TreeItem SystemLayer::PackParent() const {
    if (currentPackItem && p_.tree.IsValid(currentPackItem)) return currentPackItem;
    return p_.stream.systemItem;
}

SystemLayer::TimeStamp SystemLayer::ReadTimeStamp(const system_fields::TimeStampFields& names,
                                                  TreeItem parent) {
    FileReader& f = p_.file;
    Emitters& e = p_.emit;
    TimeStamp ts;
    ts.high = ReadField(f, e, names.high, parent);
    ts.marker[0] = ReadField(f, e, field::kMarkerBit, parent);
    ts.mid = ReadField(f, e, names.mid, parent);
    ts.marker[1] = ReadField(f, e, field::kMarkerBit, parent);
    ts.low = ReadField(f, e, names.low, parent);
    return ts;
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
    e.Record(sf::pack_start_code, 0x1BA, header);

    // The layout follows the bits of each pack, whatever the stream was detected as.
    auto read = [&](const FieldDesc& d) { return ReadField(f, e, d, header); };
    if (f.PeekBits(2) == 1) {
        read(sf::mpeg2_pack_bits);
        const TimeStamp base = ReadTimeStamp(sf::kScr, header);
        read(field::kMarkerBit);
        const uint32_t extension = read(sf::system_clock_reference_extension);
        s.NoteScr(static_cast<int64_t>(base.Value() * 300 + extension));
        std::snprintf(text, sizeof text, "system_clock_reference(SCR)=%" PRIu64 " (42 bits)",
                      base.Value() * 300 + extension);
        e.InsertVirtual(text, header);
        for (const FieldDesc* d : {&field::kMarkerBit, &sf::program_mux_rate, &field::kMarkerBit,
                                   &field::kMarkerBit, &sf::pack_reserved})
            read(*d);
        const uint32_t stuffingLength = read(sf::pack_stuffing_length);
        for (uint32_t i = 0; i < stuffingLength; ++i)
            e.AddIndexedHexBytes(sf::stuffing_byte.name, static_cast<int>(i), f.ReadByte(), 1,
                                 header);
    } else if (f.PeekBits(4) == 2) {
        read(sf::mpeg1_pack_bits);
        const TimeStamp scr = ReadTimeStamp(sf::kScr, header);
        s.NoteScr(static_cast<int64_t>(scr.Value() * 300));
        std::snprintf(text, sizeof text, "system_clock_reference(SCR)=%" PRIu64 " (33 bits)",
                      scr.Value());
        e.InsertVirtual(text, header);
        for (const FieldDesc* d :
             {&field::kMarkerBit, &field::kMarkerBit, &sf::mux_rate, &field::kMarkerBit})
            read(*d);
    }
    // Neither layout: only the start code is listed and the scan goes on from here.
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
    e.Back(48).Record(sf::system_header_start_code, 0x1BB, header);

    auto read = [&](const FieldDesc& d) { return ReadField(f, e, d, header); };
    for (const FieldDesc* d :
         {&field::kMarkerBit, &sf::rate_bound, &field::kMarkerBit, &sf::audio_bound,
          &sf::fixed_flag, &sf::CSPS_flag, &sf::system_audio_lock_flag, &sf::system_video_lock_flag,
          &field::kMarkerBit, &sf::video_bound})
        read(*d);
    if (p_.stream.mpegVersion == kMpeg2) {
        read(sf::packet_rate_restriction_flag);
        read(sf::reserved_bits);
    } else {
        read(sf::reserved_byte);
    }

    // Stream entries follow while the next bit is 1; header_length does not bound them.
    for (int n = 0; n < kMaxStreamEntries && f.PeekBits(1) == 1; ++n) {
        read(sf::stream_id_entry);
        read(sf::stream_entry_bits);
        read(sf::STD_buffer_size_bound[read(sf::STD_buffer_bound_scale)]);
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
    e.Record(sf::packet_start_code_prefix, 1, packet);
    e.Record(sf::stream_id, streamId, packet);
    e.Record(sf::packet_length, static_cast<uint32_t>(packetLength), packet);
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
    lastPts_ = lastDts_ = -1;
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
        e.AddIndexedHexBytes(sf::stuffing_byte.name, n, 0xFF, 1, packet);
    }

    auto read = [&](const FieldDesc& d) { return ReadField(f, e, d, packet); };
    if (f.PeekBits(2) == 1) {
        read(sf::std_bits);
        read(sf::STD_buffer_size[read(sf::STD_buffer_scale)]);
        remaining -= 2;
    }

    const uint32_t prefix = f.PeekBits(4);
    if (prefix == 2 || prefix == 3) {
        read(sf::mpeg1_pts_bits);
        const TimeStamp pts = ReadTimeStamp(sf::kMpeg1Pts, packet);
        lastPts_ = static_cast<int64_t>(pts.Value());
        read(field::kMarkerBit);
        std::snprintf(text, sizeof text, "presentation_time_stamp(PTS)=%" PRIu64 " (33 bits)",
                      pts.Value());
        e.InsertVirtual(text, packet);
        remaining -= 5;
        if (prefix == 3) {
            read(sf::dts_bits);
            const TimeStamp dts = ReadTimeStamp(sf::kMpeg1Dts, packet);
            lastDts_ = static_cast<int64_t>(dts.Value());
            read(field::kMarkerBit);
            std::snprintf(text, sizeof text, "decoding_time_stamp(DTS)=%" PRIu64 " (33 bits)",
                          dts.Value());
            e.InsertVirtual(text, packet);
            remaining -= 5;
        }
    } else {
        read(sf::no_time_stamp_bits);
        remaining -= 1;
    }
    return remaining;
}

int64_t SystemLayer::ParsePesHeaderMpeg2(int packetLength, TreeItem packet) {
    FileReader& f = p_.file;
    Emitters& e = p_.emit;
    char text[128];
    auto read = [&](const FieldDesc& d) { return ReadField(f, e, d, packet); };
    read(sf::mpeg2_header_bits);
    for (const FieldDesc* d :
         {&sf::PES_scrambling_control, &sf::PES_priority, &sf::data_alignment_indicator,
          &sf::copyright, &sf::original_or_copy})
        read(*d);
    const uint32_t ptsDtsFlags = read(sf::PTS_DTS_flags);
    const uint32_t escrFlag = read(sf::ESCR_flag);
    const uint32_t esRateFlag = read(sf::ES_rate_flag);
    const uint32_t trickModeFlag = read(sf::DSM_trick_mode_flag);
    const uint32_t copyInfoFlag = read(sf::additional_copy_info_flag);
    const uint32_t crcFlag = read(sf::PES_CRC_flag);
    const uint32_t extensionFlag = read(sf::PES_extension_flag);
    const uint32_t headerDataLength = read(sf::PES_header_data_length);
    int64_t remaining = int64_t{packetLength} - 3;
    const int64_t headerStart = remaining;

    if (ptsDtsFlags == 2 || ptsDtsFlags == 3) {
        // The PTS is announced by 0010 (PTS only) or 0011 (PTS and DTS).
        read(sf::pts_bits);
        const TimeStamp pts = ReadTimeStamp(sf::kPts, packet);
        lastPts_ = static_cast<int64_t>(pts.Value());
        remaining -= 5;
        read(field::kMarkerBit);
        std::snprintf(text, sizeof text, "PTS=%" PRIu64 " (33 bits)", pts.Value());
        e.InsertVirtual(text, packet);
        if (ptsDtsFlags == 3) {
            read(sf::dts_bits);
            const TimeStamp dts = ReadTimeStamp(sf::kDts, packet);
            lastDts_ = static_cast<int64_t>(dts.Value());
            remaining -= 5;
            read(field::kMarkerBit);
            std::snprintf(text, sizeof text, "DTS=%" PRIu64 " (33 bits)", dts.Value());
            e.InsertVirtual(text, packet);
        }
    }

    if (escrFlag) {
        read(sf::escr_reserved);
        const TimeStamp base = ReadTimeStamp(sf::kEscr, packet);
        read(field::kMarkerBit);
        const uint32_t extension = read(sf::ESCR_extension);
        read(field::kMarkerBit);
        remaining -= 6;
        std::snprintf(text, sizeof text, "ESCR=%" PRIu64 " (33 bits)",
                      base.Value() * 300 + extension);
        e.InsertVirtual(text, packet);
    }

    if (esRateFlag) {
        for (const FieldDesc* d : {&field::kMarkerBit, &sf::ES_rate, &field::kMarkerBit}) read(*d);
        remaining -= 3;
    }

    if (trickModeFlag) {
        ParseTrickMode(packet);
        remaining -= 1;
    }

    if (copyInfoFlag) {
        read(field::kMarkerBit);
        read(sf::additional_copy_info);
        remaining -= 1;
    }

    if (crcFlag) {
        read(sf::previous_PES_packet_CRC);
        remaining -= 2;
    }

    if (extensionFlag) remaining -= ParsePesExtension(packet);

    // Stuffing fills the header up to PES_header_data_length and no further: a payload that
    // begins with 0xFF (an audio sync word, a video packet cut inside a slice) keeps its bytes.
    for (int64_t used = headerStart - remaining; used < int64_t{headerDataLength} && !f.AtEnd();
         ++used) {
        const uint32_t b = f.ReadBits(8);
        --remaining;
        if (b == 0xFF) {
            e.Record(sf::stuffing_byte, 0xFF, packet);
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
    auto read = [&](const FieldDesc& d) { return ReadField(f, e, d, packet); };
    switch (read(sf::trick_mode_control)) {
        case 0:  // fast forward
        case 3:  // fast reverse
            read(sf::field_id);
            read(sf::intra_slice_refresh);
            read(sf::frequency_truncation);
            break;
        case 1:  // slow motion
        case 4:  // slow reverse
            read(sf::rep_cntrl);
            break;
        case 2:  // freeze frame
            read(sf::field_id);
            read(sf::trick_mode_reserved_3);
            break;
        default:
            read(sf::trick_mode_reserved_5);
            break;
    }
}

int SystemLayer::ParsePesExtension(TreeItem packet) {
    FileReader& f = p_.file;
    Emitters& e = p_.emit;
    auto read = [&](const FieldDesc& d) { return ReadField(f, e, d, packet); };
    const uint32_t privateDataFlag = read(sf::PES_private_data_flag);
    const uint32_t packHeaderFlag = read(sf::pack_header_field_flag);
    const uint32_t sequenceCounterFlag = read(sf::program_packet_sequence_counter_flag);
    const uint32_t pstdFlag = read(sf::P_STD_buffer_flag);
    read(sf::extension_reserved);
    const uint32_t extensionFlag2 = read(sf::PES_extension_flag_2);
    int used = 1;

    if (privateDataFlag) {
        for (int i = 0; i < 16; ++i)
            e.AddIndexedHexBytes("PES_private_data", i, f.ReadBits(8), 1, packet);
        used += 16;
    }

    if (packHeaderFlag) {
        const int fieldLength = static_cast<int>(read(sf::pack_field_length));
        // The embedded pack header is listed like one met by the scan, as a new pack.
        f.ReadBits(32);
        ParsePackHeader(true);
        used += fieldLength + 1;
    }

    if (sequenceCounterFlag) {
        for (const FieldDesc* d :
             {&field::kMarkerBit, &sf::program_packet_sequence_counter, &field::kMarkerBit,
              &sf::MPEG1_MPEG2_identifier, &sf::original_stuff_length})
            read(*d);
        used += 2;
    }

    if (pstdFlag) {
        read(sf::p_std_bits);
        read(sf::P_STD_buffer_size[read(sf::P_STD_buffer_scale)]);
        used += 2;
    }

    if (extensionFlag2) {
        const uint32_t marker = f.ReadBits(1);
        const int fieldLength = static_cast<int>(f.ReadBits(7));
        e.Back(8).AddMarkerBit(marker, packet);
        e.Record(sf::PES_extension_field_length, static_cast<uint32_t>(fieldLength), packet);
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
            p_.stream.NoteVideoPacket(static_cast<uint64_t>(f.fileOffset()), lastPts_, payload,
                                      lastDts_);
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
    int64_t pts = -1, dts = -1;
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
            if (skip == 10) dts = stamp();
        } else {
            f.ReadByte();
        }
        p_.stream.NoteVideoPacket(static_cast<uint64_t>(f.fileOffset()), pts, length - skip, dts);
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
        if ((flags & 0x40) && headerLength >= 10) {
            dts = stamp();
            used = 10;
        }
    }
    for (int i = used; i < headerLength; ++i) f.ReadByte();
    p_.stream.NoteVideoPacket(static_cast<uint64_t>(f.fileOffset()), pts, length - headerLength - 3,
                              dts);
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
