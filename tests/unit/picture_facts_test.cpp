// What the picture pane says of a picture: its time from the packets' stamps, and the pictures
// the navigation keys reach, on real streams.
#include <gtest/gtest.h>

#include "TestUtil.h"
#include "core/render/PictureFacts.h"
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
