// What the picture pane says of a picture: its time from the packets' stamps, and the pictures
// the navigation keys reach, on real streams.
#include <gtest/gtest.h>

#include <filesystem>

#include "TestUtil.h"
#include "core/render/PictureFacts.h"
#include "core/render/StreamStats.h"
#include "core/syntax/VideoTables.h"

namespace bitloupe {
namespace {

using test::Engine;

// mpeg1-system.mpg's video packets stamp the pictures coded 0, 2 and 3 (ffprobe's packet
// listing: 0.510911, 0.590911 and 0.630911 s); the P picture coded 1 has no stamp of its own
// and is timed from its nearest stamped neighbour in display order.
TEST(PictureFacts, TimesFromThePacketsStampsInEitherParseMode) {
    if (!test::HaveData("mpeg1-system.mpg")) GTEST_SKIP();
    for (int mode : {kModeVideoOnly, kModeBoth}) {
        Engine e;
        ASSERT_TRUE(e.Open(test::DataPath("mpeg1-system.mpg")));
        e.Parse(mode);
        const std::vector<TreeItem> pictures = test::Pictures(e);
        ASSERT_GE(pictures.size(), 4u);
        EXPECT_EQ(PicturePts(e.tree, e.stream, pictures[0]), 45982);  // 0.510911 s x 90 kHz
        EXPECT_EQ(PicturePts(e.tree, e.stream, pictures[1]), -1);
        EXPECT_EQ(PicturePts(e.tree, e.stream, pictures[2]), 53182);
        EXPECT_EQ(PicturePts(e.tree, e.stream, pictures[3]), 56782);
        EXPECT_EQ(PictureTimeText(e.tree, e.stream, pictures[0]), "PTS 00:00:00.511");
        EXPECT_EQ(PictureTimeText(e.tree, e.stream, pictures[1]), "PTS 00:00:00.671");
    }
    // A video stream has no stamps: the GOP's time_code and the picture's place.
    Engine es;
    ASSERT_TRUE(es.Open(test::DataPath("mpeg1.m1v")));
    es.Parse();
    EXPECT_EQ(PictureTimeText(es.tree, es.stream, test::Pictures(es)[1]), "time_code 00:00:00.120");
}

// mpeg1.m1v: coded I P B B | I B B P B B, the second GOP open (display B B I B B P).
TEST(PictureFacts, NavigationByKindGopAndNumber) {
    if (!test::HaveData("mpeg1.m1v")) GTEST_SKIP();
    Engine e;
    ASSERT_TRUE(e.Open(test::DataPath("mpeg1.m1v")));
    e.Parse();
    const std::vector<TreeItem> p = test::Pictures(e);
    ASSERT_EQ(p.size(), 10u);
    EXPECT_EQ(NextIntraPicture(e.tree, e.stream, p[1], 1), p[4]);
    EXPECT_EQ(NextIntraPicture(e.tree, e.stream, p[4], 1), 0u);
    EXPECT_EQ(NextIntraPicture(e.tree, e.stream, p[6], -1), p[4]);
    // From any item of a picture, its header too.
    EXPECT_EQ(NextIntraPicture(e.tree, e.stream, e.tree.GetChildItem(p[5]), -1), p[4]);
    EXPECT_EQ(NextGopPicture(e.tree, e.stream, p[2], 1), p[4]);
    EXPECT_EQ(NextGopPicture(e.tree, e.stream, p[7], -1), p[0]);
    EXPECT_EQ(NextGopPicture(e.tree, e.stream, p[7], 1), 0u);
    EXPECT_EQ(PictureByNumber(e.tree, e.stream, 2, false), p[1]);
    // In display order the second picture is the first B, and the fifth the open GOP's
    // leading B picture.
    EXPECT_EQ(PictureByNumber(e.tree, e.stream, 2, true), p[2]);
    EXPECT_EQ(PictureByNumber(e.tree, e.stream, 5, true), p[5]);
    EXPECT_EQ(PictureByNumber(e.tree, e.stream, 11, true), 0u);
    EXPECT_EQ(PictureByNumber(e.tree, e.stream, 0, false), 0u);
}

}  // namespace
}  // namespace bitloupe

namespace bitloupe {

namespace {
PictureStats Pic(uint8_t type, uint64_t bits, uint16_t vbvDelay = 0xFFFF) {
    PictureStats p;
    p.type = type;
    p.bits = bits;
    p.vbvDelay = vbvDelay;
    return p;
}
}  // namespace

// The buffer worked by hand: 1 Mbit/s at 25 frames/s brings 40,000 bits a picture period.
TEST(StreamStats, BufferModelByHand) {
    using namespace video_tables;
    // Without vbv_delay the buffer starts full and stops filling when full. An I or P picture
    // leaves one period after the reference before it, a B picture after its own period.
    std::vector<PictureStats> v = {Pic(kPictureI, 200000), Pic(kPictureP, 100000),
                                   Pic(kPictureB, 30000), Pic(kPictureB, 30000),
                                   Pic(kPictureI, 150000)};
    ModelBuffer(v, 1e6, 300000, 25);
    const double before[] = {300000, 140000, 80000, 90000, 100000};
    const double after[] = {100000, 40000, 50000, 60000, 0};
    for (size_t i = 0; i < v.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_DOUBLE_EQ(v[i].bufferBefore, before[i]);
        EXPECT_DOUBLE_EQ(v[i].bufferAfter, after[i]);
        EXPECT_EQ(v[i].underflow, i == 4);  // 150,000 bits wanted, 100,000 there
        EXPECT_FALSE(v[i].overflow);
    }
    // With vbv_delay the buffer starts as the first picture says (18000 / 90 kHz = 0.2 s of
    // bits) and fills without pause: past its size is an overflow. The second picture's
    // delay agrees with the model, the third's does not.
    std::vector<PictureStats> c = {Pic(kPictureI, 100000, 18000), Pic(kPictureP, 100000, 12600),
                                   Pic(kPictureB, 0, 9000), Pic(kPictureB, 0, 9000)};
    ModelBuffer(c, 1e6, 150000, 25);
    EXPECT_DOUBLE_EQ(c[0].bufferBefore, 200000);
    EXPECT_TRUE(c[0].overflow);  // it starts above the 150,000 the buffer holds
    EXPECT_DOUBLE_EQ(c[1].bufferBefore, 140000);
    EXPECT_FALSE(c[1].disagrees);
    EXPECT_DOUBLE_EQ(c[2].bufferBefore, 80000);
    EXPECT_TRUE(c[2].disagrees);  // it says 100,000
    // From there the model takes up the stream's account: 100,000 and a period's 40,000.
    EXPECT_DOUBLE_EQ(c[3].bufferBefore, 140000);
    EXPECT_FALSE(c[3].overflow);
}

// Pictures of some 28 kbit each at 300 kbit/s (12 kbit a picture period) into a 48 kbit
// buffer: from the third picture on, each must wait for bits that have not arrived.
TEST(StreamStats, AStreamTooRichForItsBufferUnderflows) {
    test::Engine e;
    ASSERT_TRUE(e.Open(test::DataPath("small-vbv.m2v")));
    e.Parse(kModeVideoOnly);
    auto lock = e.tree.Lock();
    const StreamStats s = GatherStreamStats(
        e.tree, e.stream, std::filesystem::file_size(test::DataPath("small-vbv.m2v")));
    ASSERT_EQ(s.pictures.size(), 6u);
    EXPECT_EQ(s.bufferSize, 49152);
    for (const PictureStats& p : s.pictures) EXPECT_EQ(p.underflow, p.number >= 3) << p.number;
    EXPECT_EQ(s.summary.underflows, 4u);
    EXPECT_EQ(s.summary.overflows, 0u);
}

// On a real stream the pictures' and headers' bits account for every bit of the video, and the
// display numbers are a permutation.
TEST(StreamStats, PicturesAccountForTheVideo) {
    for (const char* name : {"mpeg2-progressive.m2v", "mpeg2-fieldpic.m2v", "mpeg1.m1v"}) {
        SCOPED_TRACE(name);
        test::Engine e;
        ASSERT_TRUE(e.Open(test::DataPath(name)));
        e.Parse(kModeVideoOnly);
        auto lock = e.tree.Lock();
        const StreamStats s =
            GatherStreamStats(e.tree, e.stream, std::filesystem::file_size(test::DataPath(name)));
        ASSERT_FALSE(s.pictures.empty());
        uint64_t bits = 0;
        std::vector<bool> seen(s.pictures.size() + 1);
        for (const PictureStats& p : s.pictures) {
            bits += p.bits + p.headerBits;
            ASSERT_TRUE(p.display >= 1 && p.display <= s.pictures.size());
            EXPECT_FALSE(seen[p.display]);
            seen[p.display] = true;
        }
        // From the first start code to the last picture's end: the file less what precedes
        // the video and the end code after it.
        const uint64_t fileBits = std::filesystem::file_size(test::DataPath(name)) * 8;
        EXPECT_LE(bits, fileBits);
        EXPECT_GE(bits + 64, fileBits) << "bits unaccounted for: " << fileBits - bits;
    }
}

}  // namespace bitloupe
