// The system layer: packs, system headers, PES packets and their payload, on hand-made
// program streams and on streams written by real muxers.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "TestUtil.h"

namespace bitloupe {
namespace {

using test::BitWriter;
using test::Engine;
using test::TempFile;
using Bytes = std::vector<uint8_t>;
using Texts = std::vector<std::string>;

// --- stream builders -----------------------------------------------------------------------

void Stamp(BitWriter& w, uint64_t v, unsigned lastMarker = 1) {  // 3, 1, 15, 1, 15, 1 bits
    w.Bits(v >> 30 & 7, 3);
    w.Bit(1);
    w.Bits(v >> 15 & 0x7FFF, 15);
    w.Bit(1);
    w.Bits(v & 0x7FFF, 15);
    w.Bit(lastMarker);
}
Bytes StampField(unsigned prefix, uint64_t v) {
    BitWriter w;
    w.Bits(prefix, 4);
    Stamp(w, v);
    return w.bytes();
}
Bytes Cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
void Mpeg1Pack(BitWriter& w, uint64_t scr) {
    w.StartCode(0xBA);
    w.Pattern("0010");
    Stamp(w, scr);
    w.Pattern("1 0000000000001111101000 1");  // marker, mux_rate 1000, marker
}
void Mpeg2Pack(BitWriter& w, uint64_t base, uint32_t ext = 0, const Bytes& stuffing = {},
               unsigned lastMarker = 1) {
    w.StartCode(0xBA);
    w.Pattern("01");
    Stamp(w, base);
    w.Bits(ext, 9);
    w.Pattern("1 0000000000001111101000 1");
    w.Bit(lastMarker);
    w.Pattern("11111");
    w.Bits(stuffing.size(), 3);
    w.Bytes(stuffing);
}
// An MPEG-2 PES packet; PES_header_data_length covers the fields and the stuffing.
void Pes(BitWriter& w, uint8_t id, uint8_t flags, const Bytes& fields, int stuffing,
         const Bytes& payload, int packetLength = -1) {
    w.StartCode(id);
    const size_t length = 3 + fields.size() + static_cast<size_t>(stuffing) + payload.size();
    w.Bits(packetLength >= 0 ? static_cast<uint64_t>(packetLength) : length, 16);
    w.Bytes({0x80, flags, static_cast<uint8_t>(fields.size() + static_cast<size_t>(stuffing))});
    w.Bytes(fields);
    for (int i = 0; i < stuffing; ++i) w.Byte(0xFF);
    w.Bytes(payload);
}
void RawPes(BitWriter& w, uint8_t id, const Bytes& data) {  // no PES header, or MPEG-1 by hand
    w.StartCode(id);
    w.Bits(data.size(), 16);
    w.Bytes(data);
}
void SystemHeader(BitWriter& w, const Bytes& entries) {
    w.StartCode(0xBB);
    w.Bits(6 + entries.size(), 16);
    w.Pattern("1 0000000000001111101000 1 000010 1010 1 00001");
    w.Byte(0xFF);
    w.Bytes(entries);
}
Bytes FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// --- tree helpers --------------------------------------------------------------------------

void Parse(Engine& e, const TempFile& f, int mode = kModeProgramStreamOnly) {
    ASSERT_TRUE(e.Open(f.path()));
    e.Parse(mode);
}
std::vector<TreeItem> Packets(const Engine& e) {
    std::vector<TreeItem> out;
    for (TreeItem pack = e.tree.GetChildItem(e.stream.systemItem); pack;
         pack = e.tree.GetNextSiblingItem(pack))
        for (TreeItem c = e.tree.GetChildItem(pack); c; c = e.tree.GetNextSiblingItem(c))
            if (e.tree.GetItemData(c) == kind::kPesPacket) out.push_back(c);
    return out;
}
TreeItem PayloadOf(const Engine& e, TreeItem packet) {
    for (TreeItem c = e.tree.GetChildItem(packet); c; c = e.tree.GetNextSiblingItem(c))
        if (e.stream.payloadSizes.count(c)) return c;
    return 0;
}
// True when every wanted text is a child of item, in this order (others may lie between).
::testing::AssertionResult InOrder(const Engine& e, TreeItem item, const Texts& wanted) {
    const Texts all = e.ChildTexts(item);
    size_t at = 0;
    for (const std::string& w : wanted) {
        while (at < all.size() && all[at] != w) ++at;
        if (at++ == all.size())
            return ::testing::AssertionFailure() << "missing or out of order: " << w;
    }
    return ::testing::AssertionSuccess();
}
void Branch(const Engine& e, TreeItem item, Texts& out) {  // pre-order, "......" left out
    for (TreeItem c = e.tree.GetChildItem(item); c; c = e.tree.GetNextSiblingItem(c)) {
        if (e.Text(c) != "......") out.push_back(e.Text(c));
        Branch(e, c, out);
    }
}
// The payload bytes, listed with "Parse Packet Payload".
Bytes List(Engine& e, TreeItem payload) {
    e.parser.system.ParsePacketPayload(payload);
    Bytes out;
    for (const std::string& t : e.ChildTexts(payload))
        if (size_t at = t.find("]=0x"); at != std::string::npos)
            out.push_back(static_cast<uint8_t>(std::stoi(t.substr(at + 4, 2), nullptr, 16)));
    return out;
}

// --- packs and system headers --------------------------------------------------------------

TEST(PackHeader, BothLayoutsStuffingAndMarkers) {
    BitWriter w;
    Mpeg2Pack(w, (uint64_t{1} << 32) + 5, 7, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE}, 0);
    w.StartCode(0xBA);
    w.Bytes({0xC4, 0x00});  // neither '01' nor '0010': only the start code is listed
    Mpeg2Pack(w, 2);
    TempFile f(w.bytes());
    Engine e;
    Parse(e, f);
    const TreeItem header = e.Find("Pack Header");
    EXPECT_EQ(e.tree.GetItemData(header), kind::kPackHeader);
    EXPECT_EQ(e.tree.GetItemData(e.Find("Pack #1")), kind::kPack);
    EXPECT_EQ(e.parser.system.firstPackItem, e.Find("Pack #1"));
    EXPECT_TRUE(
        InOrder(e, header,
                {"file_offset=0x00", "pack_start_code=0x000001BA (4 bytes)",
                 "system_clock_reference[32..30]=100B (3 bits)",
                 "system_clock_reference(SCR)=1288490190307 (42 bits)",
                 "marker_bit=0 (1 bit, must be 1!)", "pack_stuffing_length=7 (111B, 3 bits)",
                 "stuffing_byte[0]=0xFF (1 byte)", "stuffing_byte[6]=0xFE (1 byte)"}));
    EXPECT_EQ(e.tree.ChildCount(header), 24u);
    EXPECT_EQ(e.CountWithImage(image::kError), 1u);
    EXPECT_EQ(e.ChildTexts(e.tree.GetChildItem(e.Find("Pack #2"))),
              (Texts{"file_offset=0x15", "pack_start_code=0x000001BA (4 bytes)"}));
    EXPECT_TRUE(e.Find("system_clock_reference(SCR)=600 (42 bits)", e.Find("Pack #3")));

    // MPEG-1 layout; passed over without emit, a pack is still counted.
    BitWriter w1;
    Mpeg1Pack(w1, (uint64_t{1} << 30) | 1);
    Mpeg1Pack(w1, 90000);
    TempFile f1(w1.bytes());
    Engine e1;
    ASSERT_TRUE(e1.Open(f1.path()));
    e1.parser.SeekTo(4, 0, 0, true);
    e1.parser.system.ParsePackHeader(false);
    EXPECT_EQ(e1.parser.file.ReadDWord(), 0x000001BAu);
    e1.parser.system.ParsePackHeader(true);
    const TreeItem pack = e1.parser.system.currentPackItem;
    EXPECT_EQ(e1.Text(pack), "Pack #2");
    EXPECT_TRUE(InOrder(e1, e1.tree.GetChildItem(pack),
                        {"0010B (4 bits)", "system_clock_reference(SCR)=90000 (33 bits)",
                         "mux_rate=50000Bps (0000000000001111101000B, 22 bits)"}));
    EXPECT_EQ(e1.tree.ChildCount(e1.tree.GetChildItem(pack)), 13u);
    e1.Parse(kModeProgramStreamOnly);
    EXPECT_TRUE(e1.Find("system_clock_reference(SCR)=1073741825 (33 bits)"));
}

TEST(SystemHeader, FieldsAndStreamEntries) {
    BitWriter w;
    Mpeg2Pack(w, 0);
    const size_t start = w.size();
    SystemHeader(w, {0xF3, 0xE0, 0xE8, 0xBC, 0x80, 0x20, 0xC5, 0xC0, 0x01, 0xE1, 0xE0, 0x01});
    const size_t end = w.size();
    RawPes(w, 0xBE, {0xFF});
    TempFile f(w.bytes());
    Engine e;
    Parse(e, f);
    const TreeItem header = e.Find("System Header");
    EXPECT_EQ(e.tree.GetParentItem(header), e.Find("Pack #1"));
    EXPECT_EQ(e.tree.GetItemData(header), kind::kSystemHeader);
    EXPECT_TRUE(
        InOrder(e, header,
                {"audio_bound=2 (000010B, 6 bits)", "packet_rate_restriction_flag=1 (1 bits)",
                 "stream_id=ISO/IEC 13522 Stream (0xF3, 1 byte)", "11B (2 bits)",
                 "STD_buffer_size_bound=237568 Bytes (0000011101000B, 13 bits)",
                 "stream_id=Unknown Stream (0xBC, 1 byte)", "10B (2 bits, must be 11B!)",
                 "stream_id=Audio Stream #6 (0xC5, 1 byte)",
                 "STD_buffer_size_bound=128 Bytes (0000000000001B, 13 bits)",
                 "stream_id=Video Stream #2 (0xE1, 1 byte)"}));
    EXPECT_EQ(e.tree.ChildCount(header), 13u + 4 * 4);
    EXPECT_TRUE(e.Find("Packet #1 (1 of Padding Stream)"));  // the entries end at a 0 bit
    e.parser.SeekTo(start + 4, 0, 0, true);
    e.parser.system.ParseSystemHeader(false);
    EXPECT_EQ(e.parser.file.fileOffset(), static_cast<int64_t>(end));
}

// --- PES packets ---------------------------------------------------------------------------

TEST(PesMpeg2, TimeStampsAndTheirPrefixes) {
    BitWriter w;
    Mpeg2Pack(w, 0);
    Pes(w, 0xE0, 0x80, StampField(2, uint64_t{1} << 32), 0, {0});
    Pes(w, 0xE0, 0x80, StampField(4, 90000), 0, {0});
    Pes(w, 0xE0, 0xC0, Cat(StampField(3, 93600), StampField(1, 90000)), 0, {0});
    Pes(w, 0xE0, 0xC0, Cat(StampField(3, 7), StampField(3, 5)), 0, {0});
    TempFile f(w.bytes());
    Engine e;
    Parse(e, f);
    const auto p = Packets(e);
    ASSERT_EQ(p.size(), 4u);
    EXPECT_TRUE(
        InOrder(e, p[0],
                {"PTS_DTS_flags=10B (2 bits)", "0010B (4 bits)", "PTS[32..30]=100B (3 bits)",
                 "PTS=4294967296 (33 bits)", "PES_packet_data_byte (1 byte)"}));
    EXPECT_TRUE(InOrder(e, p[1], {"0100B (4 bits, must be 001xB!)", "PTS=90000 (33 bits)"}));
    EXPECT_TRUE(InOrder(e, p[2],
                        {"0011B (4 bits)", "PTS=93600 (33 bits)", "0001B (4 bits)",
                         "DTS[32..30]=000B (3 bits)", "DTS=90000 (33 bits)"}));
    EXPECT_TRUE(InOrder(e, p[3], {"0011B (4 bits, must be 0001B!)", "DTS=5 (33 bits)"}));
    EXPECT_EQ(e.tree.GetItemData(e.Find("PTS=90000", p[1])), kind::kVirtual);
    // Fixed bits are data like any field: wrong ones are errors, and carry what they hold.
    for (const auto& [text, packet, wrong] : {std::tuple{"0100B", p[1], true},
                                              {"0011B (4 bits, must", p[3], true},
                                              {"0010B (4 bits)", p[0], false}}) {
        SCOPED_TRACE(text);
        const TreeItem bits = e.Find(text, packet);
        EXPECT_EQ(e.tree.GetItemImage(bits) == image::kError, wrong);
        ItemFacts facts;
        ASSERT_TRUE(e.tree.GetItemFacts(bits, facts));
        EXPECT_TRUE(facts.hasValue && facts.hasSpan && facts.bits == 4);
        EXPECT_EQ(facts.value, std::string(text).starts_with("0100") ? 4 : (wrong ? 3 : 2));
    }
}

// PTS and DTS, ESCR, ES_rate, trick mode, copy info, CRC, and an extension with every part.
Bytes EveryOptionalField() {
    BitWriter o;
    o.Bytes(Cat(StampField(3, 1000), StampField(1, 900)));
    o.Pattern("11");
    Stamp(o, 2);
    o.Pattern("000000011 1 1 0000000000000001100100 1 000 01 1 10 1 1010101");
    o.Pattern("1011111011101111 1111 111 1");  // CRC 0xBEEF; extension flags
    for (int i = 0; i < 16; ++i) o.Byte(static_cast<uint8_t>(i));
    BitWriter pack;
    Mpeg2Pack(pack, 45000, 0, {0xFF});
    o.Byte(static_cast<uint8_t>(pack.size()));
    o.Bytes(pack.bytes());
    o.Pattern("1 0000101 1 1 000011 01 0 0000000001010 1 0000010 10101010 10111011");
    return o.bytes();
}

TEST(PesMpeg2, EveryOptionalFieldAndThePayloadBehindThem) {
    BitWriter w;
    Mpeg2Pack(w, 0);
    const Bytes payload = {0xFF, 0x00, 0x00, 0x01, 0xB3};  // begins with 0xFF: not stuffing
    Pes(w, 0xE0, 0xFF, EveryOptionalField(), 2, payload);
    Pes(w, 0xE0, 0x08, {0x3F}, 0, {});  // slow motion
    Pes(w, 0xE0, 0x08, {0x57}, 0, {});  // freeze frame
    Pes(w, 0xE0, 0x00, {0x12}, 1, {});  // a header byte that is not stuffing
    TempFile f(w.bytes());
    Engine e;
    Parse(e, f);
    const auto p = Packets(e);
    ASSERT_EQ(p.size(), 4u);
    EXPECT_TRUE(InOrder(e, p[0],
                        {"PES_extension_flag=1 (1 bits)",
                         "PTS=1000 (33 bits)",
                         "DTS=900 (33 bits)",
                         "reserved=11B (2 bits)",
                         "ESCR_extension=000000011B (9 bits)",
                         "ESCR=603 (33 bits)",
                         "ES_rate=5000Bps (0000000000000001100100B, 22 bits)",
                         "trick_mode_control=fast forward (000B, 3 bits)",
                         "field_id=display from bottom field only (01B, 2 bits)",
                         "frequency_truncation=typically only the first six coefficients are "
                         "non-zero (10B, 2 bits)",
                         "additional_copy_info=1010101B (7 bits)",
                         "previous_PES_packet_CRC=0xBEEF (2 bytes)",
                         "PES_private_data[15]=0x0F (1 byte)",
                         "pack_field_length=15 (1 byte)",
                         "program_packet_sequence_counter=5 (0000101B, 7 bits)",
                         "P-STD_buffer_size=1280 bytes (0000000001010B, 13 bits)",
                         "PES_extension_field_length=2 (0000010B, 7 bits)",
                         "reserved=0xBB (1 byte)",
                         "stuffing_byte=0xFF (1 byte)",
                         "stuffing_byte=0xFF (1 byte)",
                         "PES_packet_data_byte[0..4] (5 bytes)"}));
    EXPECT_EQ(e.tree.ChildCount(p[0]), 92u);
    EXPECT_EQ(e.CountWithImage(image::kError, e.stream.systemItem), 1u);
    // The embedded pack header is a pack of its own; the payload has exactly its bytes.
    EXPECT_TRUE(e.Find("system_clock_reference(SCR)=13500000 (42 bits)", e.Find("Pack #2")));
    EXPECT_EQ(List(e, PayloadOf(e, p[0])), payload);
    EXPECT_TRUE(InOrder(e, p[1],
                        {"trick_mode_control=slow motion (001B, 3 bits)",
                         "rep_cntrl=31 (11111B, 5 bits)", "PES_packet_data_byte (0 bytes)"}));
    EXPECT_TRUE(
        InOrder(e, p[2],
                {"trick_mode_control=freeze frame (010B, 3 bits)",
                 "field_id=display complete frame (10B, 2 bits)", "reserved=111B (3 bits)"}));
    EXPECT_TRUE(InOrder(e, p[3],
                        {"stuffing_byte=0x12 (1 byte, must be 0xFF!)",
                         "stuffing_byte=0xFF (1 byte)", "PES_packet_data_byte (0 bytes)"}));
}

TEST(PesMpeg2, HeaderlessStreamsAndHeaderOverrun) {
    BitWriter w;
    Mpeg2Pack(w, 0);
    RawPes(w, 0xBE, {0xFF, 0xFF, 0xFF});
    RawPes(w, 0xBF, {0x01});
    RawPes(w, 0xF0, {});
    Pes(w, 0xE0, 0x80, StampField(2, 1), 0, {}, /*packetLength=*/4);  // 8 header bytes in 4
    TempFile f(w.bytes());
    Engine e;
    Parse(e, f);
    const auto p = Packets(e);
    ASSERT_EQ(p.size(), 4u);
    EXPECT_EQ(e.ChildTexts(p[0]),
              (Texts{"file_offset=0x0E", "packet_start_code_prefix=0x000001 (3 bytes)",
                     "stream_id=10111110B (1 byte)", "packet_length=3 (2 bytes)",
                     "padding_byte[0..2] (3 bytes)"}));
    EXPECT_EQ(e.ChildTexts(p[1]).back(), "PES_packet_data_byte (1 byte)");
    EXPECT_EQ(e.Text(p[2]), "Packet #3 (1 of ECM Stream)");
    EXPECT_EQ(e.ChildTexts(p[2]).back(), "PES_packet_data_byte (0 bytes)");
    // The remaining count went below zero: an empty payload, never a wrapped-round size.
    const TreeItem payload = PayloadOf(e, p[3]);
    EXPECT_EQ(e.Text(payload),
              "PES_packet_data_byte (0 bytes, the header runs 4 bytes past packet_length!)");
    EXPECT_EQ(e.tree.GetItemImage(payload), image::kError);
    EXPECT_EQ(e.stream.payloadSizes.at(payload), 0);
    e.parser.SeekTo(0x24 + 4, 0, 0, true);
    EXPECT_EQ(e.parser.system.ParsePesPacket(0xE0), 0);
}

TEST(PesMpeg2, PayloadListedOnRequest) {
    Bytes payload(2048);
    for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i * 31 + 0x47);
    BitWriter w;
    Mpeg2Pack(w, 0);
    Pes(w, 0xE0, 0x00, {}, 0, payload);
    TempFile f(w.bytes());
    Engine e;
    Parse(e, f);
    const TreeItem item = PayloadOf(e, Packets(e).at(0));
    EXPECT_EQ(e.Text(item), "PES_packet_data_byte[0..2047] (2048 bytes)");
    EXPECT_EQ(e.tree.GetItemData(item), kind::kPayloadUnlisted);
    EXPECT_EQ(e.tree.GetItemImage(item), image::kVirtual);
    e.parser.SeekTo(0, 0, 0, true);  // the listing positions the reader itself
    EXPECT_EQ(List(e, item), payload);
    const Texts texts = e.ChildTexts(item);
    ASSERT_EQ(texts.size(), 2049u);
    EXPECT_EQ(texts[0], "file_offset=0x0017");
    EXPECT_EQ(texts[1], "PES_packet_data_byte[0]=0x47 (1 byte)");
    EXPECT_EQ(e.tree.GetItemData(item), kind::kPayloadListed);
    EXPECT_EQ(e.tree.GetItemImage(item), image::kPlain);
    EXPECT_TRUE(e.tree.IsExpanded(item));
}

TEST(PesMpeg1, StuffingBufferTimeStampsAndMarkerByte) {
    BitWriter w;
    Mpeg1Pack(w, 0);
    RawPes(w, 0xE0,
           Cat(Cat({0xFF, 0xFF, 0x60, 0x14}, StampField(3, 7200)),
               Cat(StampField(1, 3600), {1, 2, 3})));
    RawPes(w, 0xC0, {0x0F, 0xAB});
    RawPes(w, 0xC0, Cat(StampField(3, 1), StampField(2, 1)));
    RawPes(w, 0xC0, {0x1F});
    RawPes(w, 0xBF, {0x01, 0x02});
    RawPes(w, 0xC0, Bytes(40, 0xFF));  // stuffing longer than the packet is not its stuffing
    TempFile f(Cat(w.bytes(), Bytes(2, 0xFF)));
    Engine e;
    Parse(e, f);
    ASSERT_EQ(e.stream.mpegVersion, kMpeg1);
    const auto p = Packets(e);
    ASSERT_EQ(p.size(), 6u);
    EXPECT_TRUE(
        InOrder(e, p[0],
                {"packet_length=17 (2 bytes)", "stuffing_byte[1]=0xFF (1 byte)",
                 "stuffing_byte[2]=0xFF (1 byte)", "01B (2 bits)", "STD_buffer_scale=1 (1 bits)",
                 "STD_buffer_size=20480 Bytes (0000000010100B, 13 bits)", "0011B (4 bits)",
                 "presentation_time_stamp[14..0]=001110000100000B (15 bits)",
                 "presentation_time_stamp(PTS)=7200 (33 bits)", "0001B (4 bits)",
                 "decoding_time_stamp(DTS)=3600 (33 bits)", "packet_data_byte[0..2] (3 bytes)"}));
    EXPECT_EQ(e.tree.ChildCount(p[0]), 4u + 2 + 3 + 8 + 8 + 1);
    EXPECT_EQ(e.ChildTexts(p[1]),
              (Texts{"file_offset=0x23", "packet_start_code_prefix=0x000001 (3 bytes)",
                     "stream_id=11000000B (1 byte)", "packet_length=2 (2 bytes)",
                     "00001111B (1 byte)", "packet_data_byte (1 byte)"}));
    EXPECT_EQ(List(e, PayloadOf(e, p[1])), Bytes{0xAB});
    EXPECT_TRUE(e.Find("packet_data_byte[0]=0xAB (1 byte)", p[1]));
    EXPECT_TRUE(InOrder(e, p[2], {"0010B (4 bits, must be 0001B!)", "packet_data_byte (0 bytes)"}));
    EXPECT_TRUE(
        InOrder(e, p[3], {"00011111B (1 byte, must be 00001111B!)", "packet_data_byte (0 bytes)"}));
    EXPECT_EQ(e.ChildTexts(p[4]).back(), "packet_data_byte[0..1] (2 bytes)");
    EXPECT_EQ(e.tree.ChildCount(p[5]), 4u + 40 + 2);
    EXPECT_EQ(e.ChildTexts(p[5]).back(),
              "packet_data_byte (0 bytes, the header runs 1 byte past packet_length!)");
}

// --- numbering, stream roots and the listing system parse ----------------------------------

TEST(PacketItems, CountersRootItemsAndFirstItems) {
    BitWriter w;
    Mpeg2Pack(w, 0);
    Pes(w, 0xC0, 0, {}, 0, {1});
    Pes(w, 0xE0, 0, {}, 0, {2});
    Mpeg2Pack(w, 0);
    Pes(w, 0xC0, 0, {}, 0, {3});
    Pes(w, 0xF3, 0, {}, 0, {4});
    RawPes(w, 0xBC, {5});
    Pes(w, 0xE0, 0, {}, 0, {6});
    Pes(w, 0xE1, 0, {}, 0, {7});
    TempFile f(w.bytes());
    Engine e;
    Parse(e, f);
    const auto p = Packets(e);
    Texts names;
    for (TreeItem t : p) names.push_back(e.Text(t));
    EXPECT_EQ(names,
              (Texts{"Packet #1 (1 of Audio Stream #1)", "Packet #2 (1 of Video Stream #1)",
                     "Packet #3 (2 of Audio Stream #1)", "Packet #4 (1 of ISO/IEC 13522 Stream)",
                     "Packet #5 (1 of Program Stream Map)", "Packet #6 (2 of Video Stream #1)",
                     "Packet #7 (1 of Video Stream #2)"}));
    EXPECT_EQ(e.tree.GetParentItem(p[2]), e.Find("Pack #2"));
    EXPECT_EQ(e.parser.system.firstPacketItem, p[0]);
    EXPECT_EQ(e.parser.system.firstVideoPacketItem, p[1]);
    // The packet's record and file_offset name its start code.
    EXPECT_EQ(e.ChildTexts(p[0])[0], "file_offset=0x0E");
    EXPECT_EQ(e.stream.psPositions.at(p[0]).offset, 0x0Eu + 4);
    // One root per stream, appended as first met; stream 0xE0 is the video root itself.
    Texts roots;
    for (TreeItem r = e.tree.GetChildItem(kTreeRoot); r; r = e.tree.GetNextSiblingItem(r))
        roots.push_back(e.Text(r));
    EXPECT_EQ(Texts(roots.begin() + 3, roots.end()),
              (Texts{"Audio Stream #1", "ISO/IEC 13522 Stream (Data Stream #4)",
                     "Program Stream Map", "Video Stream #2"}));
    EXPECT_EQ(e.tree.GetItemImage(e.stream.streamRootItems[0xC0 - 0xBC]), image::kAudioRoot);
    EXPECT_EQ(e.tree.GetItemImage(e.stream.streamRootItems[0xE1 - 0xBC]), image::kVideoRoot);
    EXPECT_EQ(e.tree.GetItemImage(e.stream.streamRootItems[0xBC - 0xBC]), image::kOtherStreamRoot);
    // A second parse numbers afresh and makes no second set of roots.
    e.Parse(kModeProgramStreamOnly);
    EXPECT_EQ(e.tree.ChildCount(kTreeRoot), roots.size());
    EXPECT_EQ(e.Text(Packets(e)[0]), "Packet #1 (1 of Audio Stream #1)");
}

TEST(ParseSystemUntil, ListsWhatItPassesAndReturnsThePayloadLength) {
    BitWriter w;
    Mpeg2Pack(w, 0);
    SystemHeader(w, {0xE0, 0xE0, 0x10});
    RawPes(w, 0xBE, {0xFF, 0xFF});
    Pes(w, 0xC0, 0, {}, 0, {0x11, 0x22});
    w.StartCode(0xB9);
    Mpeg2Pack(w, 0);
    Pes(w, 0xE0, 0x80, StampField(2, 9), 1, Bytes(10, 0x33));
    TempFile f(w.bytes());
    Engine e;
    ASSERT_TRUE(e.Open(f.path()));
    e.parser.SeekTo(0, 0, 0, true);
    SystemLayer& sys = e.parser.system;
    EXPECT_EQ(sys.ParseSystemUntil(0xE0), 0);  // the end code
    EXPECT_EQ(e.ChildTexts(e.stream.systemItem),
              (Texts{"Pack #1", "EOSS (End of System Stream) (0x000001B9, 4 bytes)"}));
    EXPECT_EQ(e.ChildTexts(e.Find("Pack #1")),
              (Texts{"Pack Header", "System Header", "Packet #1 (1 of Padding Stream)",
                     "Packet #2 (1 of Audio Stream #1)"}));
    EXPECT_EQ(sys.ParseSystemUntil(0xE0), 10);
    EXPECT_EQ(e.parser.file.fileOffset(), static_cast<int64_t>(w.size() - 10));
    EXPECT_EQ(sys.ParseSystemUntil(0xE0), 0);  // the end of the file
    EXPECT_TRUE(e.parser.file.AtEnd());
}

// --- bad input -----------------------------------------------------------------------------

TEST(BadInput, StreamCutAnywhere) {
    BitWriter w;
    Mpeg2Pack(w, 12345, 6, {0xFF, 0xFF});
    SystemHeader(w, {0xE0, 0xE0, 0x10, 0xC0, 0xC0, 0x20});
    Pes(w, 0xE0, 0xFF, EveryOptionalField(), 2, {0x00, 0x00, 0x01, 0xB3, 0x16, 0x00, 0xF0});
    RawPes(w, 0xBE, {0xFF, 0xFF, 0xFF});
    Mpeg2Pack(w, 90000);
    Pes(w, 0xC0, 0x80, StampField(2, 3600), 0, {0xFF, 0xFD, 0x01});
    Pes(w, 0xE0, 0x00, {}, 0, {0x00, 0x00, 0x01, 0xB8});
    w.StartCode(0xB9);
    const Bytes full = w.bytes();
    for (size_t n = 1; n <= full.size(); ++n) {
        SCOPED_TRACE(n);
        TempFile f(Bytes(full.begin(), full.begin() + static_cast<long>(n)));
        for (int mode : {kModeProgramStreamOnly, kModeBoth}) {
            Engine e;
            if (!e.Open(f.path())) continue;  // cut before the first pack's layout bits
            e.Parse(mode);
            std::vector<TreeItem> items;
            e.stream.payloadSizes.ForEach([&](const auto& entry) { items.push_back(entry.first); });
            for (TreeItem item : items) e.parser.system.ParsePacketPayload(item);
        }
    }
    TempFile f(full);
    Engine e;
    Parse(e, f);
    EXPECT_EQ(e.CountWithImage(image::kError, e.stream.systemItem), 0u);
    EXPECT_EQ(Packets(e).size(), 4u);
}

TEST(BadInput, ShortFilesGarbageAndCodesInsidePayloads) {
    // A PTS announced, then the file ends: the fields read as zeros, the payload lists nothing.
    BitWriter w;
    Mpeg2Pack(w, 0);
    w.StartCode(0xE0);
    w.Bytes({0x00, 100, 0x80, 0x80, 0x05});
    TempFile f(w.bytes());
    Engine e;
    Parse(e, f);
    const TreeItem packet = Packets(e).at(0);
    EXPECT_TRUE(InOrder(e, packet,
                        {"0000B (4 bits, must be 001xB!)", "marker_bit=0 (1 bit, must be 1!)",
                         "PTS=0 (33 bits)", "PES_packet_data_byte[0..91] (92 bytes)"}));
    const TreeItem payload = PayloadOf(e, packet);
    e.parser.system.ParsePacketPayload(payload);
    EXPECT_EQ(e.tree.ChildCount(payload), 1u);

    // A packet longer than the file lists the bytes there are, in either mode.
    BitWriter l;
    Mpeg2Pack(l, 0);
    Bytes present(100);
    for (size_t i = 0; i < present.size(); ++i) present[i] = static_cast<uint8_t>(i + 1);
    Pes(l, 0xE0, 0x00, {}, 0, present, 3 + 2048);
    TempFile lf(l.bytes());
    for (int mode : {kModeProgramStreamOnly, kModeBoth}) {
        Engine le;
        Parse(le, lf, mode);
        const TreeItem item = PayloadOf(le, Packets(le).at(0));
        EXPECT_EQ(le.Text(item), "PES_packet_data_byte[0..2047] (2048 bytes)");
        EXPECT_EQ(List(le, item), present);
    }

    // Garbage between packs is passed over; zero bytes after a payload are no fault.
    BitWriter g;
    Mpeg2Pack(g, 0);
    for (int i = 0; i < 300; ++i) g.Byte(static_cast<uint8_t>(0x80 + i % 97));
    Mpeg2Pack(g, 1);
    Pes(g, 0xE0, 0x00, {}, 0, {0x12, 0x00, 0x00, 0x01, 0xBD, 0x00, 0x00});
    g.Bytes({0x00, 0x00, 0x00});
    Mpeg2Pack(g, 2);
    TempFile gf(g.bytes());
    Engine ge;
    Parse(ge, gf);
    EXPECT_EQ(ge.tree.ChildCount(ge.stream.systemItem), 3u);
    EXPECT_TRUE(ge.Find("system_clock_reference(SCR)=600 (42 bits)"));
    EXPECT_EQ(Packets(ge).size(), 1u);
    EXPECT_EQ(ge.CountWithImage(image::kError), 0u);
}

// A program stream around still.m2v whose other packets carry bytes that look like the codes
// of packs, system headers, end codes and video packets.
Bytes PayloadsThatLookLikeStructures(bool mpeg2, Bytes& video) {
    video = FileBytes(test::DataPath("still.m2v"));
    const Bytes decoys = {0x00, 0x00, 0x01, 0xBA, 0x44, 0x00, 0x04, 0x00, 0x00, 0x01, 0xB9,
                          0x00, 0x00, 0x01, 0xE0, 0x00, 0x08, 0x00, 0x00, 0x01, 0xB3, 0x12,
                          0x34, 0x00, 0x00, 0x01, 0xBB, 0x00, 0x02, 0x00, 0x00, 0x01, 0xBC};
    const size_t half = video.size() / 2;
    const Bytes first(video.begin(), video.begin() + static_cast<long>(half));
    const Bytes second(video.begin() + static_cast<long>(half), video.end());
    BitWriter w;
    auto packet = [&](uint8_t id, const Bytes& payload) {
        if (mpeg2) return Pes(w, id, 0x00, {}, 0, payload);
        RawPes(w, id, Cat({0x0F}, payload));  // MPEG-1: no time stamps
    };
    if (mpeg2)
        Mpeg2Pack(w, 0);
    else
        Mpeg1Pack(w, 0);
    packet(0xE0, first);
    packet(0xC0, decoys);
    packet(0xBD, Cat(decoys, decoys));
    // MPEG-1 packets other than private stream 2 carry 0x0F when they have no time stamps.
    const Bytes headerless = mpeg2 ? decoys : Cat({0x0F}, decoys);
    RawPes(w, 0xBE, headerless);  // padding
    packet(0xE0, second);
    RawPes(w, 0xBC, headerless);  // a program stream map, stepped over alike
    w.StartCode(0xB9);
    return w.bytes();
}

TEST(Payloads, AreSteppedOverNotScanned) {
    for (bool mpeg2 : {false, true}) {
        SCOPED_TRACE(mpeg2 ? "MPEG-2" : "MPEG-1");
        Bytes video;
        TempFile f(PayloadsThatLookLikeStructures(mpeg2, video));
        TempFile es(video, ".m2v");
        Engine ref;
        ASSERT_TRUE(ref.Open(es.path()));
        ref.Parse();
        Texts wanted;
        Branch(ref, ref.stream.videoItem, wanted);
        auto noOffsets = [](Texts t) {
            std::erase_if(t, [](const std::string& s) { return s.starts_with("file_offset"); });
            return t;
        };
        for (int mode : {kModeProgramStreamOnly, kModeVideoOnly, kModeBoth}) {
            SCOPED_TRACE(mode);
            Engine e;
            Parse(e, f, mode);
            EXPECT_EQ(e.CountWithImage(image::kError), 0u);
            if (mode != kModeVideoOnly) {
                Texts roots = e.ChildTexts(e.stream.systemItem);
                std::erase(roots, "......");
                EXPECT_EQ(roots,
                          (Texts{"Pack #1", "EOSS (End of System Stream) (0x000001B9, 4 bytes)"}));
                Texts packets;
                for (TreeItem p : Packets(e)) packets.push_back(e.Text(p));
                EXPECT_EQ(
                    packets,
                    (Texts{"Packet #1 (1 of Video Stream #1)", "Packet #2 (1 of Audio Stream #1)",
                           "Packet #3 (1 of Private Stream #1)", "Packet #4 (1 of Padding Stream)",
                           "Packet #5 (2 of Video Stream #1)",
                           "Packet #6 (1 of Program Stream Map)"}));
            }
            if (mode != kModeProgramStreamOnly) {
                Texts got;
                Branch(e, e.stream.videoItem, got);
                EXPECT_EQ(noOffsets(got), noOffsets(wanted));
            }
        }
    }
}

TEST(Payloads, LengthThatMissesTheNextStartCodeIsFlagged) {
    // packet_length 6 bytes too long: it ends inside the next packet's header. The packet is
    // flagged and the scan finds the next packet from the payload's first byte.
    BitWriter w;
    Mpeg2Pack(w, 0);
    Pes(w, 0xC0, 0x00, {}, 0, Bytes(10, 0x11), 3 + 10 + 6);
    Pes(w, 0xC0, 0x00, {}, 0, Bytes(20, 0x22));
    Pes(w, 0xE0, 0x00, {}, 0, Bytes(5, 0x33));
    // packet_length 1000: the file ends 900-odd bytes early.
    Pes(w, 0xBD, 0x00, {}, 0, Bytes(10, 0x44), 1000);
    TempFile f(w.bytes());
    for (int mode : {kModeProgramStreamOnly, kModeBoth}) {
        Engine e;
        Parse(e, f, mode);
        const std::vector<TreeItem> packets = Packets(e);
        ASSERT_EQ(packets.size(), 4u);
        EXPECT_EQ(e.tree.GetItemImage(packets[0]), image::kError);
        EXPECT_EQ(e.ChildTexts(packets[0]).back(),
                  "No start code after the payload: packet_length=19 is wrong, the next start "
                  "code is searched from the payload's first byte!");
        EXPECT_EQ(e.Text(packets[1]), "Packet #2 (2 of Audio Stream #1)");
        EXPECT_NE(e.tree.GetItemImage(packets[1]), image::kError);
        EXPECT_EQ(e.Text(packets[2]), "Packet #3 (1 of Video Stream #1)");
        EXPECT_EQ(e.tree.GetItemImage(packets[3]), image::kError);
        EXPECT_EQ(e.ChildTexts(packets[3]).back(),
                  "Packet cut short: 987 bytes missing at the end of the file!");
    }
}

TEST(BadInput, PayloadRecordsThatPointAnywhere) {
    BitWriter w;
    Mpeg2Pack(w, 0);
    Pes(w, 0xE0, 0x00, {}, 0, {0x10, 0x20, 0x30});
    TempFile f(w.bytes());
    Engine e;
    Parse(e, f);
    const TreeItem payload = PayloadOf(e, Packets(e).at(0));
    e.stream.psPositions[payload] = ItemPosition{1u << 30, 5, 0xFFFFFFFF};  // past the end
    e.parser.system.ParsePacketPayload(payload);
    EXPECT_EQ(e.tree.ChildCount(payload), 1u);
    e.stream.psPositions[payload] = ItemPosition{w.size() - 2, 0, 0};  // 2 bytes before it
    e.parser.system.ParsePacketPayload(payload);
    EXPECT_EQ(e.ChildTexts(payload),
              (Texts{"file_offset=0x17", "PES_packet_data_byte[0]=0x20 (1 byte)",
                     "PES_packet_data_byte[1]=0x30 (1 byte)"}));
    e.stream.psPositions.erase(payload);
    e.parser.system.ParsePacketPayload(payload);
    ASSERT_EQ(e.host.messages.size(), 1u);
    EXPECT_EQ(e.host.messages[0].text, "The positioning information is lost!");
    EXPECT_EQ(e.host.messages[0].caption, "Error");
    EXPECT_EQ(e.host.messages[0].icon, MsgIcon::Error);
    e.stream.payloadSizes.erase(payload);
    e.parser.system.ParsePacketPayload(payload);  // no size record: nothing at all
    EXPECT_EQ(e.host.messages.size(), 1u);
}

// --- streams written by real muxers --------------------------------------------------------
// Positions, sizes and time stamps as ffprobe reads the files; the video payloads put
// together must be the elementary streams the files were muxed from.

Bytes VideoPayloads(Engine& e) {
    Bytes out;
    for (TreeItem p : Packets(e))
        if (e.Text(p).find("of Video Stream #1)") != std::string::npos)
            out = Cat(out, List(e, PayloadOf(e, p)));
    return out;
}

TEST(RealStreams, FfmpegMpeg2ProgramStream) {
    Engine e;
    ASSERT_TRUE(e.Open(test::DataPath("mpeg2-ps.mpg")));
    e.Parse(kModeProgramStreamOnly);
    EXPECT_EQ(e.stream.counters.packCount, 20u);
    EXPECT_EQ(e.stream.counters.streamPacketCounts[0xE0 - 0xBC], 17u);
    EXPECT_EQ(e.stream.counters.streamPacketCounts[0xBD - 0xBC], 3u);
    EXPECT_EQ(e.CountWithImage(image::kError), 0u);
    EXPECT_TRUE(e.Find("system_clock_reference(SCR)=597000 (42 bits)", e.Find("Pack #2")));
    const TreeItem video = e.parser.system.firstVideoPacketItem;
    EXPECT_EQ(e.ChildTexts(video)[0], "file_offset=0x0020");
    EXPECT_EQ(e.Text(PayloadOf(e, video)), "PES_packet_data_byte[0..2002] (2003 bytes)");
    const TreeItem audio = e.Find("Packet #2 (1 of Private Stream #1)");
    EXPECT_EQ(e.stream.psPositions.at(audio).offset, 2062u + 4);
    EXPECT_TRUE(e.Find("PTS=45000 (33 bits)", audio));
    const TreeItem later = e.Find("Packet #8 (7 of Video Stream #1)");
    EXPECT_EQ(e.stream.psPositions.at(later).offset, 14350u + 4);
    EXPECT_TRUE(e.Find("PTS=52980 (33 bits)", later));
    EXPECT_EQ(VideoPayloads(e), FileBytes(test::DataPath("mpeg2-progressive.m2v")));
}

TEST(RealStreams, MplexMpeg2ProgramStream) {
    Engine e;
    ASSERT_TRUE(e.Open(test::DataPath("mpeg2-ps-mplex.mpg")));
    e.Parse(kModeProgramStreamOnly);
    EXPECT_EQ(e.stream.counters.packCount, 23u);
    EXPECT_EQ(e.stream.counters.streamPacketCounts[0xE0 - 0xBC], 17u);
    EXPECT_EQ(e.stream.counters.streamPacketCounts[0xC0 - 0xBC], 3u);
    EXPECT_EQ(e.stream.counters.streamPacketCounts[0xBF - 0xBC], 4u);
    EXPECT_EQ(e.CountWithImage(image::kError), 0u);
    EXPECT_EQ(e.Text(e.tree.GetLastChildItem(e.stream.systemItem)),
              "EOSS (End of System Stream) (0x000001B9, 4 bytes)");
    EXPECT_TRUE(e.Find("stream_id=Unknown Stream (0xB9, 1 byte)"));  // DVD's "all video streams"
    const TreeItem video = e.parser.system.firstVideoPacketItem;
    EXPECT_EQ(e.stream.psPositions.at(video).offset, 2062u + 4);
    EXPECT_TRUE(InOrder(e, video,
                        {"PTS=10800 (33 bits)", "DTS=7200 (33 bits)",
                         "PES_packet_data_byte[0..2011] (2012 bytes)"}));
    // The first audio payload, 2017 bytes at PTS 10800, begins with the audio sync word.
    const TreeItem audio = e.Find("Packet #8 (1 of Audio Stream #1)");
    EXPECT_EQ(e.stream.psPositions.at(audio).offset, 12302u + 4);
    EXPECT_TRUE(
        InOrder(e, audio, {"PTS=10800 (33 bits)", "PES_packet_data_byte[0..2016] (2017 bytes)"}));
    const Bytes bytes = List(e, PayloadOf(e, audio));
    ASSERT_EQ(bytes.size(), 2017u);
    EXPECT_EQ(bytes[0], 0xFF);
    EXPECT_EQ(bytes[1] & 0xF0, 0xF0);
}

TEST(RealStreams, FfmpegMpeg1SystemStream) {
    Engine e;
    ASSERT_TRUE(e.Open(test::DataPath("mpeg1-system.mpg")));
    e.Parse(kModeProgramStreamOnly);
    EXPECT_EQ(e.stream.counters.packCount, 1u);
    EXPECT_EQ(e.stream.counters.streamPacketCounts[0xE0 - 0xBC], 16u);
    EXPECT_EQ(e.stream.counters.streamPacketCounts[0xC0 - 0xBC], 2u);
    EXPECT_EQ(e.CountWithImage(image::kError), 0u);
    const TreeItem video = e.parser.system.firstVideoPacketItem;
    EXPECT_EQ(e.stream.psPositions.at(video).offset, 30u + 4);
    EXPECT_TRUE(InOrder(e, video,
                        {"presentation_time_stamp(PTS)=45982 (33 bits)",
                         "packet_data_byte[0..2006] (2007 bytes)"}));
    EXPECT_TRUE(e.Find("presentation_time_stamp(PTS)=45000 (33 bits)",
                       e.Find("Packet #2 (1 of Audio Stream #1)")));
    EXPECT_EQ(VideoPayloads(e), FileBytes(test::DataPath("mpeg1.m1v")));
}

// In the "both" mode the system layer is listed as the payload reader gathers the video: the
// same system tree as the PS-only parse, every video packet with its payload item, and the
// gathered bytes are the muxed video stream.
TEST(RealStreams, VideoOfTheOtherVersionShowsItsOwnSyntax) {
    const std::pair<const char*, const char*> pairs[] = {
        {"mpeg2-in-mpeg1-system.mpg", "mpeg2-progressive.m2v"},
        {"mpeg2-ac3-in-mpeg1-system.mpg", "mpeg2-progressive.m2v"},
        {"mpeg1-in-mpeg2-ps.mpg", "mpeg1.m1v"},
    };
    auto videoBranch = [](const std::string& name, std::string& root) {
        Engine e;
        EXPECT_TRUE(e.Open(test::DataPath(name)));
        e.Parse(kModeBoth);
        root = e.Text(e.stream.videoItem);
        Texts out;
        Branch(e, e.stream.videoItem, out);
        std::erase_if(out, [](const std::string& t) { return t.starts_with("file_offset"); });
        return out;
    };
    for (const auto& [system, elementary] : pairs) {
        if (!test::HaveData(system)) GTEST_SKIP();
        SCOPED_TRACE(system);
        std::string systemRoot, elementaryRoot;
        const Texts got = videoBranch(system, systemRoot);
        EXPECT_EQ(got, videoBranch(elementary, elementaryRoot));
        // The root names the video's version, the stream type item the packs'.
        EXPECT_EQ(systemRoot.substr(systemRoot.size() - 8),
                  elementaryRoot.substr(elementaryRoot.size() - 8));
    }
}

TEST(RealStreams, BothModeListsTheSameSystemLayer) {
    for (const char* name : {"mpeg2-ps.mpg", "mpeg2-ps-mplex.mpg", "mpeg1-system.mpg"}) {
        SCOPED_TRACE(name);
        Engine ps, both;
        ASSERT_TRUE(ps.Open(test::DataPath(name)));
        ps.Parse(kModeProgramStreamOnly);
        ASSERT_TRUE(both.Open(test::DataPath(name)));
        both.Parse(kModeBoth);
        Texts a, b;
        Branch(ps, ps.stream.systemItem, a);
        Branch(both, both.stream.systemItem, b);
        EXPECT_EQ(a, b);
        size_t video = 0;
        for (TreeItem p : Packets(both))
            if (both.Text(p).find("of Video Stream #1)") != std::string::npos) {
                ++video;
                ASSERT_TRUE(PayloadOf(both, p)) << both.Text(p);
                EXPECT_GT(both.stream.payloadSizes.at(PayloadOf(both, p)), 0);
            }
        EXPECT_EQ(video, ps.stream.counters.streamPacketCounts[0xE0 - 0xBC]);
    }
    Engine e;
    ASSERT_TRUE(e.Open(test::DataPath("mpeg2-ps.mpg")));
    e.dialog.mode = kModeBoth;
    e.parser.silentSystemLayer = false;
    e.parser.PositionVideoReader(0);
    Bytes bytes;
    while (!e.parser.AtEnd()) bytes.push_back(e.parser.ReadByte());
    EXPECT_EQ(bytes, FileBytes(test::DataPath("mpeg2-progressive.m2v")));
}

}  // namespace
}  // namespace bitloupe
