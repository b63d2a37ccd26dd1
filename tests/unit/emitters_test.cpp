#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "TestUtil.h"

namespace bitloupe {
namespace {

class EmittersTest : public ::testing::Test {
  protected:
    test::Engine e;
    Emitters& emit = e.parser.emit;
    TreeItem parent = e.tree.InsertItem("parent", 0, 0, kTreeRoot);
    std::string T(TreeItem item) { return e.tree.GetItemText(item); }
};

TEST_F(EmittersTest, FieldForms) {
    EXPECT_EQ(T(emit.AddField("horizontal_size_value", 720, 12, parent)),
              "horizontal_size_value=720 (001011010000B, 12 bits)");
    EXPECT_EQ(T(emit.AddCodedField("x", 50, 1, 4, parent)), "x=50 (0001B, 4 bits)");
    EXPECT_EQ(T(emit.AddIndexedField("q", 3, 5, 4, parent)), "q[3]=5 (0101B, 4 bits)");
    // A value wider than its field shows all 32 digits.
    EXPECT_EQ(T(emit.AddField("neg", -1, 8, parent)),
              "neg=-1 (11111111111111111111111111111111B, 8 bits)");
    EXPECT_EQ(T(emit.AddFieldWithUnit("program_mux_rate", 50 * 1000, "Bps", 1000, 22, parent)),
              "program_mux_rate=50000Bps (0000000000001111101000B, 22 bits)");
    const char* const names[] = {"zero", "one"};
    EXPECT_EQ(T(emit.AddEnumField("e", names, 1, 2, parent)), "e=one (01B, 2 bits)");
    EXPECT_EQ(T(emit.AddEnumFieldDec("e", names, 1, 2, parent)), "e=one (1, 2 bits)");
}

// Items keep their names and values and make their text when asked: a name written in a buffer
// that changes afterwards (as the motion vectors' names are) is copied, and a record too long to
// keep gives its text at once, cut where every text is cut.
TEST_F(EmittersTest, TextsMadeLaterSurviveChangedBuffersAndLongNames) {
    char name[48] = "motion_code[0][0][0]";
    const TreeItem first = emit.AddSignedVlc(name, -2, 3, 3, parent);
    std::snprintf(name, sizeof name, "motion_code[0][0][1]");
    const TreeItem second = emit.AddSignedVlc(name, 0, 1, 1, parent);
    std::memset(name, 'x', sizeof name - 1);
    EXPECT_EQ(T(first), "motion_code[0][0][0]=-2 (0011B, 4-bit VLC)");
    EXPECT_EQ(T(second), "motion_code[0][0][1]=0 (1B, 1-bit VLC)");

    const std::string longName(200, 'n'), longUnit(200, 'u');
    const std::string text =
        T(emit.AddFieldWithUnit(longName.c_str(), 7, longUnit.c_str(), 7, 3, parent));
    EXPECT_EQ(text, (longName + "=7" + longUnit).substr(0, TreeStore::kMaxText));
}

TEST_F(EmittersTest, BitAndByteForms) {
    EXPECT_EQ(T(emit.AddBit("closed_gop", 1, parent)), "closed_gop=1 (1 bits)");
    EXPECT_EQ(T(emit.AddIndexedBit("b", 2, 0, parent)), "b[2]=0 (1 bits)");
    EXPECT_EQ(T(emit.AddBitString("s", 1, 1, parent)), "s=1 (1 bit)");
    EXPECT_EQ(T(emit.AddBitString("s", 5, 5, parent)), "s=00101B (5 bits)");
    EXPECT_EQ(T(emit.AddBitsValue("v", 1, 1, parent)), "v=1 (1 bits)");
    EXPECT_EQ(T(emit.AddBitsValue("v", 12, 6, parent)), "v=12 (6 bits)");
    EXPECT_EQ(T(emit.AddHexBytes("pack_start_code", 0x1BA, 4, parent)),
              "pack_start_code=0x000001BA (4 bytes)");
    EXPECT_EQ(T(emit.AddHexBytes("b", 0xF, 1, parent)), "b=0x0F (1 byte)");
    EXPECT_EQ(T(emit.AddIndexedHexBytes("stuffing_byte", 6, 0xFF, 1, parent)),
              "stuffing_byte[6]=0xFF (1 byte)");
    EXPECT_EQ(T(emit.AddDecBytes("packet_length", 2048, 2, parent)),
              "packet_length=2048 (2 bytes)");
    EXPECT_EQ(T(emit.AddDecBytes("l", 9, 1, parent)), "l=9 (1 byte)");
}

TEST_F(EmittersTest, MarkerBitsAndVirtualItems) {
    const TreeItem good = emit.AddMarkerBit(1, parent);
    const TreeItem bad = emit.AddMarkerBit(0, parent);
    EXPECT_EQ(T(good), "marker_bit=1 (1 bit)");
    EXPECT_EQ(T(bad), "marker_bit=0 (1 bit, must be 1!)");
    EXPECT_EQ(e.tree.GetItemImage(bad), image::kError);
    EXPECT_EQ(e.tree.GetItemImage(good), 0);

    const TreeItem value = emit.AddValue("mbs", 1620, parent);
    EXPECT_EQ(T(value), "mbs=1620");
    EXPECT_EQ(e.tree.GetItemData(value), kind::kVirtual);
    EXPECT_EQ(e.tree.GetItemImage(value), image::kVirtual);
    EXPECT_EQ(T(emit.AddFlagValue("f", 7, parent)), "f=1");

    const TreeItem payload = e.tree.InsertItem("p", 0, kind::kPayloadListed, parent);
    emit.MarkVirtual(payload);
    EXPECT_EQ(e.tree.GetItemData(payload), kind::kPayloadUnlisted);
    emit.MarkVirtual(0);  // ignored
}

TEST_F(EmittersTest, FileOffsets) {
    emit.offsetDigits = 6;
    ItemPosition pos{0x10, 0, 0};
    EXPECT_EQ(T(emit.AddFileOffset("file_offset", pos, parent, 4)), "file_offset=0x00000C");
    EXPECT_EQ(T(emit.AddFileOffset("file_offset", pos, parent, 1)), "file_offset=0x000010");
    pos.bitOffset = 3;
    EXPECT_EQ(T(emit.AddFileOffset("file_offset", pos, parent, 1)),
              "file_offset=0x000010, the 3-th bit");
}

TEST_F(EmittersTest, VlcForms) {
    EXPECT_EQ(T(emit.AddVlc("macroblock_type", 1, 1, 1, parent)),
              "macroblock_type=1 (1B, 1-bit VLC)");
    const TreeItem vlc = emit.AddSignedVlc("motion_code", 0, 1, 1, parent);
    EXPECT_EQ(T(vlc), "motion_code=0 (1B, 1-bit VLC)");
    EXPECT_EQ(e.tree.GetItemImage(vlc), image::kVlc);
    EXPECT_EQ(T(emit.AddSignedVlc("motion_code", -3, 0x9, 4, parent)),
              "motion_code=-3 (01001B, 5-bit VLC)");
    // run 0, level -1: the code 11 with its sign bit 1.
    const uint32_t word = (static_cast<uint32_t>(static_cast<uint16_t>(-1)) << 16) | 0;
    EXPECT_EQ(T(emit.AddRunLevel(word, 2, 7, parent)), "(run,level)=(0,-1) (111B, 3-bit VLC)");
    EXPECT_EQ(T(emit.AddRunLevel(64u << 16, 2, 2, parent)), "(run,level)=(0,+64) (10B, 2-bit VLC)");
}

TEST_F(EmittersTest, MatricesAndReferences) {
    uint8_t m[64];
    for (int i = 0; i < 64; ++i) m[i] = static_cast<uint8_t>(i);
    const TreeItem title = emit.AddMatrix8("Q", m, parent);
    EXPECT_EQ(e.tree.ChildCount(title), 8u);
    EXPECT_EQ(T(e.tree.GetChildItem(title)), "    0,    1,    2,    3,    4,    5,    6,    7");
    const TreeItem row = emit.AddMatrix8Small(m, parent, false);
    EXPECT_EQ(T(row), " 56, 57, 58, 59, 60, 61, 62, 63");
    EXPECT_EQ(e.tree.GetItemData(row), kind::kNone);
    int16_t s[64] = {-2048};
    const TreeItem t16 = emit.AddMatrix16("F", s, parent);
    EXPECT_EQ(T(e.tree.GetChildItem(t16)), "-2048,    0,    0,    0,    0,    0,    0,    0");
    EXPECT_TRUE(IsVirtual(e.tree.GetItemData(e.tree.GetChildItem(t16))));

    const TreeItem pic =
        e.tree.InsertItem("I-Picture #1 (Picture #1, Frame #1)", 5, kind::kPicture, parent);
    EXPECT_EQ(T(emit.AddItemRef("forward_frames", 0, pic, parent)),
              "forward_frames[0]=\"I-Picture #1 (Picture #1, Frame #1)\"");
    EXPECT_EQ(emit.AddItemRef("forward_frames", 1, 0, parent), 0u);
}

TEST(Formatting, GroupsAndBits) {
    EXPECT_EQ(GroupDigits(0), "0");
    EXPECT_EQ(GroupDigits(999), "999");
    EXPECT_EQ(GroupDigits(1234567), "1,234,567");
    EXPECT_EQ(GroupDigits(5000000000000ull), "5,000,000,000,000");
    EXPECT_EQ(BitString(0, 0), "0");
    EXPECT_EQ(BitString(5, 2), "101");  // a longer string is not cut
}

TEST(Emitters, MatrixRowsReadAsPrintfWritesThem) {
    const int16_t values[5][8] = {{0, 1, -1, 9999, -32768, 32767, 12, -7},
                                  {16, 16, 16, 16, 16, 16, 16, 16},
                                  {-256, 255, 0, 0, 0, 0, 0, 0},
                                  {-2048, 2047, -1000, 1000, -10, 10, -100, 100},
                                  {7, 77, 777, 7777, -7, -77, -777, -7777}};
    for (const auto& row : values) {
        char ours[128], theirs[128];
        FormatMatrixRow(ours, row, 5);
        std::snprintf(theirs, sizeof theirs, "%5d,%5d,%5d,%5d,%5d,%5d,%5d,%5d", row[0], row[1],
                      row[2], row[3], row[4], row[5], row[6], row[7]);
        EXPECT_STREQ(ours, theirs);
    }
    const uint8_t small[8] = {0, 1, 9, 10, 99, 100, 255, 128};
    char ours[64], theirs[64];
    EXPECT_EQ(FormatMatrixRow(ours, small, 3), 31);
    std::snprintf(theirs, sizeof theirs, "%3d,%3d,%3d,%3d,%3d,%3d,%3d,%3d", small[0], small[1],
                  small[2], small[3], small[4], small[5], small[6], small[7]);
    EXPECT_STREQ(ours, theirs);
}

}  // namespace
}  // namespace bitloupe
