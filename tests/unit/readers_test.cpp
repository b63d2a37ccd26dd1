#include <gtest/gtest.h>

#include "TestUtil.h"
#include "core/bits/StartCodeScan.h"

namespace bitloupe {
namespace {

using test::BitWriter;
using test::TempFile;

std::vector<uint8_t> Ramp(size_t n) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * 7 + 3);
    return v;
}

TEST(FileReader, FieldAcrossChunkBoundaryReadsRight) {
    std::vector<uint8_t> data = Ramp(10000);
    TempFile f(data);
    FileReader r;
    ASSERT_TRUE(r.Open(f.path()));
    r.FillChunk();
    // Step to 3 bits before the end of the first chunk, then read 24 bits that cross it.
    r.SkipBits(4095 * 8 + 5);
    EXPECT_EQ(r.fileOffset(), 4095);
    const uint32_t expected = ((uint32_t{data[4095]} << 24 | uint32_t{data[4096]} << 16 |
                                uint32_t{data[4097]} << 8 | data[4098]) >>
                               3) &
                              0xFFFFFF;
    EXPECT_EQ(r.PeekBits(24), expected);
    EXPECT_EQ(r.ReadBits(24), expected);
    EXPECT_EQ(r.fileOffset(), 4098);
    EXPECT_EQ(r.bitOffset(), 5);
    // Byte reads continue in the second chunk.
    EXPECT_EQ(r.ReadByte(), data[4099]);
}

TEST(FileReader, ZeroAndOversizedReadsConsumeNothing) {
    TempFile f(Ramp(100));
    FileReader r;
    ASSERT_TRUE(r.Open(f.path()));
    r.FillChunk();
    EXPECT_EQ(r.PeekBits(0), 0u);
    EXPECT_EQ(r.ReadBits(0), 0u);
    EXPECT_EQ(r.ReadBits(33), 0u);
    EXPECT_EQ(r.fileOffset(), 0);
    EXPECT_EQ(r.bitOffset(), 0);
    EXPECT_EQ(r.ReadBits(32), 0x030A1118u);
}

TEST(FileReader, EndOfFileAtChunkMultiple) {
    const std::vector<uint8_t> data = Ramp(8192);
    TempFile f(data);
    FileReader r;
    ASSERT_TRUE(r.Open(f.path()));
    r.FillChunk();
    for (int i = 0; i < 8192; ++i) ASSERT_EQ(r.ReadByte(), data[static_cast<size_t>(i)]) << i;
    EXPECT_TRUE(r.AtEnd());
    EXPECT_EQ(r.ReadByte(), 0);
    EXPECT_EQ(r.ReadBits(8), 0u);
    EXPECT_EQ(r.PeekBits(32), 0u);
    EXPECT_EQ(r.fileOffset(), 8192);
}

TEST(FileReader, SeekBeyondOrAtSizeIsIgnored) {
    TempFile f(Ramp(300));
    FileReader r;
    ASSERT_TRUE(r.Open(f.path()));
    r.FillChunk();
    r.ReadBits(16);
    r.Seek(300);
    EXPECT_EQ(r.fileOffset(), 2);
    r.Seek(10);
    r.FillChunk();
    EXPECT_EQ(r.fileOffset(), 10);
    EXPECT_EQ(r.ReadByte(), static_cast<uint8_t>(10 * 7 + 3));
}

TEST(FileReader, ProgressAtMultiplesOfStep) {
    TempFile f(Ramp(1000));
    FileReader r;
    ASSERT_TRUE(r.Open(f.path()));
    std::vector<int64_t> reported;
    r.SetProgress([&](int64_t o) { reported.push_back(o); });
    r.progressStep = 100;
    r.FillChunk();
    while (!r.AtEnd()) r.ReadByte();
    ASSERT_EQ(reported.size(), 10u);
    EXPECT_EQ(reported.front(), 100);
    EXPECT_EQ(reported.back(), 1000);
}

// A program stream of MPEG-2 packs with video packets whose payloads are given.
std::vector<uint8_t> MakeProgramStream(const std::vector<std::vector<uint8_t>>& payloads,
                                       std::vector<size_t>* payloadOffsets = nullptr) {
    BitWriter w;
    for (const auto& p : payloads) {
        // Pack header: '01', SCR 0, markers, mux rate, no stuffing.
        w.StartCode(0xBA);
        w.Pattern("01 000 1 000000000000000 1 000000000000000 1 000000000 1");
        w.Bits(1000, 22);
        w.Pattern("11 11111 000");
        // A padding packet that must not be gathered.
        w.StartCode(0xBE);
        w.Bits(3, 16);
        w.Bytes({0xFF, 0xFF, 0xFF});
        // The video packet: '10' flags, no PTS, header data length 2 (two stuffing bytes).
        w.StartCode(0xE0);
        w.Bits(p.size() + 5, 16);
        w.Bytes({0x80, 0x00, 0x02, 0xFF, 0xFF});
        if (payloadOffsets) payloadOffsets->push_back(w.size());
        w.Bytes(p);
    }
    return w.bytes();
}

TEST(PayloadReader, StartCodeSplitAcrossPacketsIsFound) {
    std::vector<size_t> offsets;
    const auto data = MakeProgramStream({{0x11, 0x00, 0x00}, {0x01, 0xB3, 0x22}}, &offsets);
    TempFile f(data);
    test::Engine e;
    ASSERT_TRUE(e.parser.file.Open(f.path()));
    e.stream.streamType = kProgramStream;
    e.stream.mpegVersion = kMpeg2;
    e.parser.PositionVideoReader(0);

    uint32_t acc = 0xFFFFFFFF;
    std::vector<uint8_t> bytes;
    bool found = false;
    while (!e.parser.AtEnd()) {
        const uint8_t b = e.parser.ReadByte();
        bytes.push_back(b);
        acc = acc << 8 | b;
        if (acc == 0x000001B3) {
            found = true;
            // The position of the next video byte is its own file offset in the second packet.
            ItemPosition pos;
            e.parser.GetPosition(pos, false);
            EXPECT_EQ(pos.offset, offsets[1] + 2);
            EXPECT_EQ(pos.bitOffset, 0u);
            EXPECT_EQ(pos.packetRemaining, 1u);  // only 0x22 is left of that packet
            EXPECT_EQ(e.parser.GetBytePosition(), static_cast<int64_t>(offsets[1] + 2));
        }
    }
    EXPECT_TRUE(found);
    EXPECT_EQ(bytes, (std::vector<uint8_t>{0x11, 0x00, 0x00, 0x01, 0xB3, 0x22}));
}

TEST(PayloadReader, LongPayloadAcrossManyFillsAndSeekBack) {
    std::vector<std::vector<uint8_t>> payloads;
    std::vector<uint8_t> all;
    for (int p = 0; p < 12; ++p) {
        std::vector<uint8_t> v(1500);
        for (size_t i = 0; i < v.size(); ++i) v[i] = static_cast<uint8_t>(i * 13 + p);
        all.insert(all.end(), v.begin(), v.end());
        payloads.push_back(v);
    }
    std::vector<size_t> offsets;
    TempFile f(MakeProgramStream(payloads, &offsets));
    test::Engine e;
    ASSERT_TRUE(e.parser.file.Open(f.path()));
    e.stream.streamType = kProgramStream;
    e.stream.mpegVersion = kMpeg2;
    e.parser.PositionVideoReader(0);
    std::vector<uint8_t> got;
    ItemPosition mark{};
    while (!e.parser.AtEnd()) {
        if (got.size() == 9000) e.parser.GetPosition(mark, false);
        got.push_back(e.parser.ReadByte());
    }
    EXPECT_EQ(got, all);
    // Byte 9000 is byte 0 of payload 6 (9000 = 6 * 1500).
    EXPECT_EQ(mark.offset, offsets[6]);
    EXPECT_EQ(mark.packetRemaining, 1500u);
    // Reading again from the recorded position gives the same bytes.
    e.parser.SeekTo(mark.offset, 0, mark.packetRemaining, false);
    for (size_t i = 9000; i < all.size(); ++i) ASSERT_EQ(e.parser.ReadByte(), all[i]) << i;
    EXPECT_TRUE(e.parser.AtEnd());
}

TEST(PayloadReader, BitReadsAcrossPacketsAndEmptyPackets) {
    // An empty video packet in the middle must not end the stream.
    TempFile f(MakeProgramStream({{0xAB, 0xCD}, {}, {0xEF, 0x12}}));
    test::Engine e;
    ASSERT_TRUE(e.parser.file.Open(f.path()));
    e.stream.streamType = kProgramStream;
    e.stream.mpegVersion = kMpeg2;
    e.parser.PositionVideoReader(0);
    EXPECT_EQ(e.parser.ReadBits(4), 0xAu);
    EXPECT_EQ(e.parser.ReadBits(24), 0xBCDEF1u);
    EXPECT_EQ(e.parser.ReadBits(4), 0x2u);
    EXPECT_TRUE(e.parser.AtEnd());
    EXPECT_EQ(e.parser.ReadBits(8), 0u);
}

}  // namespace
}  // namespace bitloupe

namespace bitloupe {
namespace {

// The fast scan must find exactly what a byte-by-byte scan finds, wherever the codes fall
// against the edges of a run and whatever the accumulator held before.
TEST(StartCodeScan, AgreesWithByteByByteScan) {
    uint32_t seed = 12345;
    auto next = [&] { return seed = seed * 1103515245u + 12345u; };
    for (int round = 0; round < 3000; ++round) {
        std::vector<uint8_t> b(static_cast<size_t>(next() % 64 + 1));
        for (uint8_t& x : b) {
            const uint32_t r = next() >> 16;
            x = r % 4 == 0 ? 0 : r % 4 == 1 ? 1 : static_cast<uint8_t>(r >> 3);
        }
        const uint32_t lo = 0x100 + (next() >> 16) % 0xC0;
        const uint32_t hi = lo + (next() >> 16) % (0x200 - lo);
        const uint32_t start = round % 3 == 0 ? 0 : round % 3 == 1 ? 0xFFFFFFFF : 0x00000001;
        const int from = static_cast<int>((next() >> 16) % b.size());
        uint32_t slow = start;
        int expected = -1;
        for (int i = from; i < static_cast<int>(b.size()); ++i) {
            slow = slow << 8 | b[static_cast<size_t>(i)];
            if (slow >= lo && slow <= hi) {
                expected = i + 1;
                break;
            }
        }
        uint32_t fast = start;
        const int got = ScanForStartCode(b.data(), from, static_cast<int>(b.size()), fast, lo, hi);
        ASSERT_EQ(got, expected) << "round " << round;
        ASSERT_EQ(fast, slow) << "round " << round;
    }
}

}  // namespace
}  // namespace bitloupe
