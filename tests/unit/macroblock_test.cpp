#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <set>

#include "TestUtil.h"
#include "core/base/Messages.h"
#include "core/session/TreeCommands.h"
#include "core/syntax/MacroblockLayer.h"
#include "core/tree/Export.h"

namespace bitloupe {
namespace {

using test::Engine;
using test::TempFile;

using test::Pictures;

using test::Children;

size_t ErrorItems(const Engine& e) {
    size_t n = 0;
    for (int image : {28, 29, 30, 31, 32, 33, image::kError}) n += e.CountWithImage(image);
    return n;
}

struct StreamCase {
    const char* name;
    int mode;
};

// Every macroblock of every picture made by a real encoder parses without an error, and the
// coded and skipped macroblock items of a picture cover each address exactly once.
TEST(Macroblocks, RealStreamsParseCompletely) {
    const StreamCase cases[] = {
        {"mpeg1.m1v", kModeVideoOnly},
        {"mpeg2-progressive.m2v", kModeVideoOnly},
        {"mpeg2-interlaced.m2v", kModeVideoOnly},
        {"mpeg2-custom-matrix.m2v", kModeVideoOnly},
        {"mpeg2-422.m2v", kModeVideoOnly},
        {"mpeg2-fieldpic.m2v", kModeVideoOnly},
        {"mpeg2-ps.mpg", kModeVideoOnly},
        {"mpeg2-ps.mpg", kModeBoth},
        {"mpeg2-ps-mplex.mpg", kModeVideoOnly},
        {"mpeg1-system.mpg", kModeBoth},
    };
    for (const StreamCase& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " mode " + std::to_string(c.mode));
        if (!test::HaveData(c.name)) GTEST_SKIP() << "no test data";
        Engine e;
        ASSERT_TRUE(e.Open(test::DataPath(c.name)));
        e.Parse(c.mode);
        const auto pictures = Pictures(e);
        ASSERT_FALSE(pictures.empty());
        for (TreeItem picture : pictures) {
            ASSERT_TRUE(e.parser.macroblocks.ParseMacroblocksOfPicture(picture));
            const uint32_t mbs = e.stream.pictureCodingRecords.count(picture)
                                     ? e.stream.pictureCodingRecords[picture].mbsInPicture
                                     : static_cast<uint32_t>(e.stream.mbCount);
            std::multiset<int> addresses;
            for (TreeItem slice : Children(e.tree, picture, kind::kSlice)) {
                EXPECT_EQ(FindSlicePlaceholder(e.tree, slice), 0u);
                for (TreeItem mb = e.tree.GetChildItem(slice); mb;
                     mb = e.tree.GetNextSiblingItem(mb)) {
                    const uint32_t data = e.tree.GetItemData(mb);
                    if (data != kind::kMacroblock && data != kind::kSkippedMacroblock) continue;
                    ASSERT_TRUE(e.stream.macroblockRecords.count(mb));
                    addresses.insert(e.stream.macroblockRecords[mb].macroblock_address);
                }
            }
            ASSERT_EQ(addresses.size(), mbs) << e.Text(picture);
            int expected = 0;
            for (int a : addresses) ASSERT_EQ(a, expected++) << e.Text(picture);
        }
        EXPECT_EQ(ErrorItems(e), 0u);
        EXPECT_EQ(e.host.beeps, 0);
        EXPECT_TRUE(e.host.messages.empty());
    }
}

TEST(Macroblocks, BlocksShowTheirMatricesAndRecords) {
    if (!test::HaveData("mpeg2-progressive.m2v")) GTEST_SKIP() << "no test data";
    Engine e;
    ASSERT_TRUE(e.Open(test::DataPath("mpeg2-progressive.m2v")));
    e.Parse();
    const TreeItem first = Pictures(e).front();  // the I picture
    ASSERT_TRUE(e.parser.macroblocks.ParseMacroblocksOfPicture(first));
    EXPECT_EQ(e.poster.posted, std::vector<int>{msg::kCommandRedisplay});
    const TreeItem mb = e.parser.macroblocks.itemToRedisplay;
    ASSERT_EQ(e.tree.GetItemData(mb), kind::kMacroblock);
    EXPECT_EQ(e.Text(mb), "Coded Macroblock (MB) (x=0, y=0)");
    const auto blocks = Children(e.tree, mb, kind::kBlockY);
    ASSERT_EQ(blocks.size(), 4u);
    EXPECT_EQ(e.Text(blocks[0]), "#1: Coded Y-Block");
    EXPECT_TRUE(e.stream.blockRecords.count(blocks[0]));
    // Under an intra block: the raw data, both coefficient matrices and the pel matrix.
    const auto kids = e.ChildTexts(blocks[0]);
    ASSERT_EQ(kids.size(), 4u);
    EXPECT_EQ(kids[0], "raw DCT data (RLE)");
    EXPECT_EQ(kids[1], "DCT coefficients: QF[u][v] (8x8 matrix, before quantization)");
    EXPECT_EQ(kids[2], "DCT coefficients: F[u][v] (8x8 matrix, after quantization)");
    EXPECT_EQ(kids[3], "Pel values: pel_Y[u][v] (8x8 matrix, after IDCT transform)");
    const TreeItem rle = e.tree.GetChildItem(blocks[0]);
    EXPECT_EQ(e.Text(e.tree.GetChildItem(rle)).rfind("dc_dct_size=", 0), 0u);
    EXPECT_EQ(e.Text(e.tree.GetLastChildItem(rle)), "end_of_block (10B, VLC)");
    // The Y-Cb-Cr export keeps the pel rows and leaves the raw data out.
    const std::string pel = ExportPelBranch(e.tree, blocks[0], true, "\n");
    EXPECT_EQ(pel.find("raw DCT data"), std::string::npos);
    EXPECT_NE(pel.find("Pel values: pel_Y"), std::string::npos);
}

TEST(Macroblocks, DeleteAndParseAgainGivesTheSameSubtree) {
    if (!test::HaveData("mpeg2-interlaced.m2v")) GTEST_SKIP() << "no test data";
    Engine e;
    ASSERT_TRUE(e.Open(test::DataPath("mpeg2-interlaced.m2v")));
    e.Parse();
    const TreeItem picture = Pictures(e)[1];  // a P picture
    ASSERT_TRUE(e.parser.macroblocks.ParseMacroblocksOfPicture(picture));
    const std::string once = ExportBranch(e.tree, picture, true, true);
    const auto slices = Children(e.tree, picture, kind::kSlice);
    ASSERT_FALSE(slices.empty());
    const size_t macroblocks = e.stream.macroblockRecords.size();
    const size_t blocks = e.stream.blockRecords.size();
    ASSERT_GT(macroblocks, 0u);
    for (TreeItem slice : slices) DeleteSliceMacroblocks(e.tree, e.stream, slice);
    // The records of the deleted items go with them.
    EXPECT_EQ(e.stream.macroblockRecords.size(), 0u);
    EXPECT_EQ(e.stream.blockRecords.size(), 0u);
    for (TreeItem slice : slices) {
        const TreeItem placeholder = FindSlicePlaceholder(e.tree, slice);
        ASSERT_NE(placeholder, 0u);
        EXPECT_EQ(e.Text(placeholder), "Macroblock(s) is/are to be parsed ...");
        const TreeItem header = Children(e.tree, slice, kind::kSliceHeader).at(0);
        EXPECT_EQ(FindSlicePlaceholder(e.tree, header), placeholder);
    }
    // Deleting a slice that has its placeholder changes nothing.
    DeleteSliceMacroblocks(e.tree, e.stream, slices[0]);
    EXPECT_EQ(Children(e.tree, slices[0], kind::kSlicePlaceholder).size(), 1u);
    ASSERT_TRUE(e.parser.macroblocks.ParseMacroblocksOfPicture(picture));
    EXPECT_EQ(ExportBranch(e.tree, picture, true, true), once);
    EXPECT_EQ(e.stream.macroblockRecords.size(), macroblocks);
    EXPECT_EQ(e.stream.blockRecords.size(), blocks);
}

TEST(Macroblocks, OnDemandCommandsReportWhatIsMissing) {
    if (!test::HaveData("mpeg1.m1v")) GTEST_SKIP() << "no test data";
    Engine e;
    ASSERT_TRUE(e.Open(test::DataPath("mpeg1.m1v")));
    e.Parse();
    const TreeItem picture = Pictures(e).front();
    const TreeItem slice = Children(e.tree, picture, kind::kSlice).front();
    const TreeItem placeholder = FindSlicePlaceholder(e.tree, slice);
    ASSERT_TRUE(e.parser.macroblocks.ParseMacroblocksOfSlice(placeholder));
    // The placeholder is consumed: the same slice cannot be parsed twice.
    EXPECT_FALSE(e.tree.IsValid(placeholder));
    EXPECT_EQ(FindSlicePlaceholder(e.tree, slice), 0u);
    EXPECT_FALSE(e.parser.macroblocks.ParseMacroblocksOfSlice(placeholder));
    EXPECT_EQ(e.host.messages.back().text, "The selected item is not valid!");
    EXPECT_EQ(e.host.messages.back().caption, "Error");

    // A placeholder without its position.
    DeleteSliceMacroblocks(e.tree, e.stream, slice);
    const TreeItem again = FindSlicePlaceholder(e.tree, slice);
    e.stream.videoPositions.erase(again);
    EXPECT_FALSE(e.parser.macroblocks.ParseMacroblocksOfSlice(again));
    EXPECT_EQ(e.host.messages.back().text, "The positioning information is lost!");
    EXPECT_EQ(e.host.messages.back().icon, MsgIcon::Error);

    // A picture whose header record is gone.
    const TreeItem second = Pictures(e)[1];
    e.stream.pictureRecords.erase(second);
    EXPECT_FALSE(e.parser.macroblocks.ParseMacroblocksOfPicture(second));
    EXPECT_EQ(e.host.messages.back().text, "The picture header is lost!");
    EXPECT_FALSE(e.parser.macroblocks.ParseMacroblocksOfPicture(slice));
    EXPECT_EQ(e.host.messages.back().text, "The selected item is not valid!");
}

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// Damaged slice data ends the slice with the error images and a beep, and an error item where
// the macroblocks stopped says why; nothing crashes, hangs or reads out of bounds (this runs
// under the sanitizers in CI).
TEST(Macroblocks, CorruptedSliceDataEndsTheSlice) {
    for (const char* name : {"mpeg2-progressive.m2v", "mpeg2-fieldpic.m2v", "mpeg1.m1v",
                             "mpeg2-422.m2v", "mpeg2-ps.mpg"}) {
        if (!test::HaveData(name)) GTEST_SKIP() << "no test data";
        const std::vector<uint8_t> clean = ReadAll(test::DataPath(name));
        uint32_t seed = 99;
        auto next = [&] { return seed = seed * 1664525u + 1013904223u; };
        int beeps = 0;
        for (int round = 0; round < 12; ++round) {
            std::vector<uint8_t> data = clean;
            // Leave the sequence header alone so the stream is still accepted.
            const size_t from = 200;
            if (round % 3 == 2) {
                const size_t at = from + (next() >> 8) % (data.size() - from - 600);
                for (size_t i = 0; i < 500; ++i) data[at + i] = static_cast<uint8_t>(next() >> 24);
            } else {
                for (int flips = 0; flips < 40; ++flips)
                    data[from + (next() >> 8) % (data.size() - from)] ^=
                        static_cast<uint8_t>(1u << ((next() >> 16) & 7));
            }
            TempFile f(data);
            Engine e;
            if (!e.Open(f.path())) continue;
            e.Parse();
            for (TreeItem picture : Pictures(e))
                e.parser.macroblocks.ParseMacroblocksOfPicture(picture);
            beeps += e.host.beeps;
            // One stop item for each slice that stopped, inside that slice.
            const TreeStore& t = e.tree;
            size_t stops = 0;
            std::vector<TreeItem> walk{kTreeRoot};
            while (!walk.empty()) {
                const TreeItem i = walk.back();
                walk.pop_back();
                for (TreeItem c = t.GetChildItem(i); c; c = t.GetNextSiblingItem(c))
                    walk.push_back(c);
                if (t.GetItemText(i).rfind("Macroblock parsing stopped: ", 0) != 0) continue;
                ++stops;
                EXPECT_EQ(t.GetItemImage(i), image::kError);
                TreeItem slice = t.GetParentItem(i);
                while (slice && t.GetItemData(slice) != kind::kSlice)
                    slice = t.GetParentItem(slice);
                ASSERT_TRUE(slice);
                EXPECT_EQ(t.GetItemImage(slice), image::kSliceError);
            }
            EXPECT_EQ(stops, static_cast<size_t>(e.host.beeps));
            EXPECT_EQ(e.CountWithImage(image::kSliceError), static_cast<size_t>(e.host.beeps));
        }
        EXPECT_GT(beeps, 0) << name;
    }
}

TEST(MotionVectors, DecodeWrapsWithinTheRange) {
    // f_code 1 (r_size 0): vectors wrap within -16..15.
    EXPECT_EQ(MacroblockLayer::DecodeMotionVector(15, 0, 1, 0, false, false), -16);
    EXPECT_EQ(MacroblockLayer::DecodeMotionVector(-16, 0, -1, 0, false, false), 15);
    EXPECT_EQ(MacroblockLayer::DecodeMotionVector(3, 0, 2, 0, false, false), 5);
    // r_size 2: code 3 with residual 1 adds ((3 - 1) << 2) + 1 + 1 = 10.
    EXPECT_EQ(MacroblockLayer::DecodeMotionVector(4, 2, 3, 1, false, false), 14);
    // A field vector in a frame picture is halved for prediction and doubled back.
    EXPECT_EQ(MacroblockLayer::DecodeMotionVector(8, 0, 1, 0, false, true), 10);
    // MPEG-1 full-pel vectors likewise.
    EXPECT_EQ(MacroblockLayer::DecodeMotionVector(6, 0, -1, 0, true, false), 4);
    // A broken f_code of 0 is handled as the smallest range.
    EXPECT_EQ(MacroblockLayer::DecodeMotionVector(0, -1, 1, 0, false, false), 1);
}

TEST(MotionVectors, DualPrime) {
    const int vector[2] = {5, -3};
    const int dm[2] = {1, -1};
    int out[2][2];
    MacroblockLayer::DualPrimeArithmetic(vector, dm, {3, true}, out);
    EXPECT_EQ(out[0][0], 4);
    EXPECT_EQ(out[0][1], -4);
    EXPECT_EQ(out[1][0], 9);
    EXPECT_EQ(out[1][1], -5);
    MacroblockLayer::DualPrimeArithmetic(vector, dm, {2, false}, out);  // bottom field
    EXPECT_EQ(out[0][0], 4);
    EXPECT_EQ(out[0][1], -2);
}

TEST(Blocks, PositionsAndComponents) {
    int x, y;
    MacroblockLayer::BlockPosition(2, 3, 3, 1, &x, &y);
    EXPECT_EQ(x, 56);
    EXPECT_EQ(y, 40);
    MacroblockLayer::BlockPosition(0, 0, 10, 3, &x, &y);
    EXPECT_EQ(x, 8);
    EXPECT_EQ(y, 8);
    MacroblockLayer::BlockPosition(0, 0, 10, 1, &x, &y);  // no block 10 in 4:2:0
    EXPECT_EQ(x, 0);
    EXPECT_EQ(MacroblockLayer::ComponentOf(3), 0);
    EXPECT_EQ(MacroblockLayer::ComponentOf(4), 1);
    EXPECT_EQ(MacroblockLayer::ComponentOf(5), 2);
    EXPECT_EQ(MacroblockLayer::ComponentOf(10), 1);
    EXPECT_EQ(MacroblockLayer::ComponentOf(11), 2);
    EXPECT_EQ(MacroblockLayer::QuantiserScale(31, true, true), 112);
    EXPECT_EQ(MacroblockLayer::QuantiserScale(31, true, false), 62);
    EXPECT_EQ(MacroblockLayer::QuantiserScale(31, false, false), 31);
}

}  // namespace
}  // namespace bitloupe
