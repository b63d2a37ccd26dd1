// The picture decoder on real streams: display types, the frame-store slots, the unit decoders
// against the whole-picture decode, and broken slice data.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include "TestUtil.h"
#include "core/base/Messages.h"
#include "core/syntax/VideoTables.h"

namespace bitloupe {
namespace {

using test::Engine;

using test::Pictures;
using video_tables::kPictureP;

// The Y plane of the slot the last decode wrote.
std::vector<uint8_t> LumaPlane(const PictureDecoder& d) {
    const size_t n = static_cast<size_t>(d.stores.width) * d.stores.height;
    return std::vector<uint8_t>(d.CurrentPlane(0), d.CurrentPlane(0) + n);
}

bool Posted(const Engine& e, int id) {
    return std::find(e.poster.posted.begin(), e.poster.posted.end(), id) != e.poster.posted.end();
}

struct Opened : Engine {
    explicit Opened(const char* name) {
        ok = Open(test::DataPath(name));
        if (ok) Parse();
        pictures = Pictures(*this);
    }
    bool ok = false;
    std::vector<TreeItem> pictures;
};

TEST(Decoder, DiffOfAPictureEqualToItsReferenceIsUniformGrey) {
    if (!test::HaveData("still.m2v")) GTEST_SKIP() << "no test data";
    Opened e("still.m2v");
    ASSERT_TRUE(e.ok);
    ASSERT_EQ(e.pictures.size(), 3u);
    PictureDecoder& d = e.parser.decoder;
    ASSERT_TRUE(d.DecodePicture(e.pictures[0], true));
    const std::vector<uint8_t> intra = LumaPlane(d);
    ASSERT_TRUE(d.DecodePicture(e.pictures[1], true));
    EXPECT_EQ(LumaPlane(d), intra);  // the P picture predicts its reference exactly

    // The user picks "Diff[0]": the picture is drawn again as its difference to the reference.
    d.displayType = display_type::kDiff0;
    ASSERT_TRUE(d.DecodePicture(e.pictures[1], false));
    EXPECT_EQ(d.displayType, display_type::kDiff0);
    for (int c = 0; c < 3; ++c) {
        const uint8_t* p = d.CurrentPlane(c);
        const size_t n = static_cast<size_t>(d.stores.width) * d.stores.height;
        EXPECT_TRUE(std::all_of(p, p + n, [](uint8_t s) { return s == 128; })) << "component " << c;
    }
    EXPECT_EQ(d.dib.Pixel(5, 5), d.dib.Pixel(40, 30));
    // The I picture keeps its own samples: Diff applies to P and B pictures only.
    d.displayType = display_type::kDiff0;
    ASSERT_TRUE(d.DecodePicture(e.pictures[0], true));
    EXPECT_EQ(LumaPlane(d), intra);
}

TEST(Decoder, RawShowsTheResidualAroundMidGrey) {
    if (!test::HaveData("mpeg2-progressive.m2v")) GTEST_SKIP() << "no test data";
    Opened e("mpeg2-progressive.m2v");
    ASSERT_TRUE(e.ok);
    PictureDecoder& d = e.parser.decoder;
    ASSERT_TRUE(d.DecodePicture(e.pictures[0], true));  // I
    ASSERT_TRUE(d.DecodePicture(e.pictures[1], true));  // P
    const std::vector<uint8_t> reconstructed = LumaPlane(d);
    d.displayType = display_type::kRaw;
    ASSERT_TRUE(d.DecodePicture(e.pictures[1], false));
    EXPECT_EQ(d.displayType, display_type::kRaw);
    const std::vector<uint8_t> raw = LumaPlane(d);
    EXPECT_NE(raw, reconstructed);
    // A residual is small: nearly every sample lies close to 128, and the mean is near it.
    double sum = 0;
    size_t near = 0;
    for (uint8_t s : raw) {
        sum += s;
        near += s >= 96 && s <= 160;
    }
    EXPECT_NEAR(sum / raw.size(), 128.0, 4.0);
    EXPECT_GT(near, raw.size() * 8 / 10);
    // A picture decoded as "Raw" cannot serve as a reference.
    int forward, backward;
    EXPECT_FALSE(d.LookUpReferences(e.pictures[2], forward, backward));
}

TEST(Decoder, BPictureWithoutItsReferencesSwitchesToRaw) {
    if (!test::HaveData("mpeg2-progressive.m2v")) GTEST_SKIP() << "no test data";
    Opened e("mpeg2-progressive.m2v");
    ASSERT_TRUE(e.ok);
    PictureDecoder& d = e.parser.decoder;
    // Coded order I P B B: the third picture is a B picture; nothing was decoded before it.
    ASSERT_EQ(e.stream.pictureRecords[e.pictures[2]].picture_coding_type, 3);
    e.poster.posted.clear();
    ASSERT_TRUE(d.DecodePicture(e.pictures[2], true));
    EXPECT_EQ(d.displayType, display_type::kRaw);
    EXPECT_TRUE(Posted(e, msg::kCommandDisplayTypeChanged));
    EXPECT_TRUE(Posted(e, msg::kCommandFieldOption));

    // With its references decoded it is reconstructed, and the type is back to "Auto".
    ASSERT_TRUE(d.DecodePicture(e.pictures[0], true));
    EXPECT_EQ(d.displayType, display_type::kAuto);
    ASSERT_TRUE(d.DecodePicture(e.pictures[1], true));
    ASSERT_TRUE(d.DecodePicture(e.pictures[2], true));
    EXPECT_EQ(d.displayType, display_type::kAuto);
    EXPECT_EQ(d.stores.currentSlot, 2);
    // "Null" is never kept.
    d.displayType = display_type::kNull;
    ASSERT_TRUE(d.DecodePicture(e.pictures[2], false));
    EXPECT_EQ(d.displayType, display_type::kAuto);
}

TEST(Decoder, ReferencePicturesAlternateBetweenTwoSlots) {
    if (!test::HaveData("mpeg2-progressive.m2v")) GTEST_SKIP() << "no test data";
    Opened e("mpeg2-progressive.m2v");
    ASSERT_TRUE(e.ok);
    PictureDecoder& d = e.parser.decoder;
    // Coded order I P B B I B B P B B.
    ASSERT_TRUE(d.DecodePicture(e.pictures[0], true));
    EXPECT_EQ(d.stores.currentSlot, 0);
    ASSERT_TRUE(d.DecodePicture(e.pictures[1], true));
    EXPECT_EQ(d.stores.currentSlot, 1);
    // The same P picture again reuses its slot.
    ASSERT_TRUE(d.DecodePicture(e.pictures[1], true));
    EXPECT_EQ(d.stores.currentSlot, 1);
    ASSERT_TRUE(d.DecodePicture(e.pictures[2], true));
    EXPECT_EQ(d.stores.currentSlot, 2);
    // The third reference picture replaces the first.
    ASSERT_TRUE(d.DecodePicture(e.pictures[4], true));
    EXPECT_EQ(d.stores.currentSlot, 0);
    EXPECT_EQ(d.stores.entries[0].item, e.pictures[4]);
    EXPECT_TRUE(d.stores.entries[0].complete);
    EXPECT_EQ(d.stores.entries[2].item, e.pictures[1]);
}

TEST(Decoder, SecondFieldSharesTheSlotOfItsFirstField) {
    if (!test::HaveData("mpeg2-fieldpic.m2v")) GTEST_SKIP() << "no test data";
    Opened e("mpeg2-fieldpic.m2v");
    ASSERT_TRUE(e.ok);
    PictureDecoder& d = e.parser.decoder;
    ASSERT_GE(e.pictures.size(), 4u);
    ASSERT_TRUE(d.DecodePicture(e.pictures[0], true));  // I field
    EXPECT_EQ(d.stores.currentEntry, 0);
    const TreeItem background = 0;
    (void)background;
    ASSERT_TRUE(d.DecodePicture(e.pictures[1], true));  // its P field
    EXPECT_EQ(d.stores.currentSlot, 0);
    EXPECT_EQ(d.stores.currentEntry, 1);
    EXPECT_TRUE(d.stores.entries[0].complete);
    EXPECT_TRUE(d.stores.entries[1].complete);
    // The next frame's first field takes the other slot; its second field, decoded after a
    // picture of another frame, takes a new slot of its own.
    ASSERT_TRUE(d.DecodePicture(e.pictures[2], true));
    EXPECT_EQ(d.stores.currentSlot, 1);
    ASSERT_TRUE(d.DecodePicture(e.pictures[0], true));
    ASSERT_TRUE(d.DecodePicture(e.pictures[3], true));
    EXPECT_EQ(d.stores.entries[d.stores.currentEntry].item, e.pictures[3]);
    EXPECT_EQ(d.stores.currentEntry % 2, 1);
}

// A picture shown as "Raw" for want of its references takes no reference store: the pictures
// decoded after it still find theirs.
TEST(Decoder, PictureWithoutItsReferencesTakesNoReferenceStore) {
    if (!test::HaveData("mpeg2-fieldpic.m2v")) GTEST_SKIP() << "no test data";
    Opened e("mpeg2-fieldpic.m2v");
    ASSERT_TRUE(e.ok);
    PictureDecoder& d = e.parser.decoder;
    // The last P picture that begins a frame, far from the I frame (fields 0 and 1).
    size_t late = 0;
    for (size_t k = 4; k < e.pictures.size(); ++k) {
        const PictureRecord& r = e.stream.pictureRecords[e.pictures[k]];
        if (r.picture_coding_type == kPictureP && !r.secondField) late = k;
    }
    ASSERT_GT(late, 4u);
    ASSERT_EQ(e.stream.pictureRecords[e.pictures[2]].picture_coding_type, kPictureP);
    ASSERT_TRUE(d.DecodePicture(e.pictures[0], true));
    ASSERT_TRUE(d.DecodePicture(e.pictures[1], true));
    ASSERT_TRUE(d.DecodePicture(e.pictures[late], true));
    EXPECT_EQ(d.displayType, display_type::kRaw);
    ASSERT_TRUE(d.DecodePicture(e.pictures[late + 1], true));  // its second field
    EXPECT_EQ(d.displayType, display_type::kRaw);
    // The next frame after the I frame predicts from it, which is still in its store.
    ASSERT_TRUE(d.DecodePicture(e.pictures[2], true));
    EXPECT_EQ(d.displayType, display_type::kAuto);
    ASSERT_TRUE(d.DecodePicture(e.pictures[3], true));
    EXPECT_EQ(d.displayType, display_type::kAuto);
    EXPECT_TRUE(d.stores.entries[d.stores.currentEntry].complete);
}

// References decoded into the stores only leave the bitmap alone, and the picture drawn after
// them comes out as after drawing every one; a second field is drawn over its first field.
TEST(Decoder, ReferencesDecodedIntoTheStoresOnly) {
    for (const char* name : {"mpeg2-progressive.m2v", "mpeg2-fieldpic.m2v"}) {
        if (!test::HaveData(name)) GTEST_SKIP() << "no test data";
        SCOPED_TRACE(name);
        Opened drawn(name), quiet(name);
        ASSERT_TRUE(drawn.ok && quiet.ok);
        const size_t target = 5;  // a B picture; in the field stream the second field of a P
        PictureDecoder& a = drawn.parser.decoder;
        PictureDecoder& b = quiet.parser.decoder;
        const std::vector<uint8_t> blank(b.dib.Bits(), b.dib.Bits() + b.dib.ImageSize());
        for (size_t i = 0; i < target; ++i) {
            ASSERT_TRUE(a.DecodePicture(drawn.pictures[i], true));
            const bool ownFirstField =
                i + 1 == target && quiet.stream.pictureRecords[quiet.pictures[target]].secondField;
            if (!ownFirstField) {
                ASSERT_TRUE(b.DecodeIntoStores(quiet.pictures[i]));
                ASSERT_TRUE(std::equal(blank.begin(), blank.end(), b.dib.Bits()));
            } else {
                ASSERT_TRUE(b.DecodePicture(quiet.pictures[i], true));
            }
            EXPECT_EQ(LumaPlane(b), LumaPlane(a)) << i;
        }
        ASSERT_TRUE(a.DecodePicture(drawn.pictures[target], true));
        ASSERT_TRUE(b.DecodePicture(quiet.pictures[target], true));
        EXPECT_EQ(b.displayType, display_type::kAuto);
        EXPECT_TRUE(std::equal(a.dib.Bits(), a.dib.Bits() + a.dib.ImageSize(), b.dib.Bits()));
    }
}

TEST(Decoder, FieldLinesNotDecodedYetShowTheBackground) {
    if (!test::HaveData("mpeg2-fieldpic.m2v")) GTEST_SKIP() << "no test data";
    Opened e("mpeg2-fieldpic.m2v");
    ASSERT_TRUE(e.ok);
    PictureDecoder& d = e.parser.decoder;
    d.fieldBackground = 0x00FF00;  // green
    ASSERT_TRUE(d.DecodePicture(e.pictures[0], true));
    const bool topFirst = e.stream.pictureCodingRecords[e.pictures[0]].picture_structure == 1;
    const int other = topFirst ? 1 : 0;
    for (int line = other; line < d.dib.Height(); line += 2)
        ASSERT_EQ(d.dib.Pixel(7, line), 0x00FF00u);
    EXPECT_NE(d.dib.Pixel(7, 1 - other), 0x00FF00u);
    // The second field fills the other lines and leaves the first field's lines as they were.
    const uint32_t kept = d.dib.Pixel(100, 1 - other);
    ASSERT_TRUE(d.DecodePicture(e.pictures[1], true));
    EXPECT_EQ(d.dib.Pixel(100, 1 - other), kept);
    EXPECT_NE(d.dib.Pixel(7, other), 0x00FF00u);
}

// Every unit decoder paints what the picture decode drew at the same place.
TEST(Decoder, UnitDecodersAgreeWithThePictureDecode) {
    for (const char* name : {"mpeg2-interlaced.m2v", "mpeg1.m1v", "mpeg2-422.m2v"}) {
        if (!test::HaveData(name)) GTEST_SKIP() << "no test data";
        Opened e(name);
        ASSERT_TRUE(e.ok);
        PictureDecoder& d = e.parser.decoder;
        // Decode I and P, then parse the macroblocks of the P picture.
        ASSERT_TRUE(d.DecodePicture(e.pictures[0], true));
        ASSERT_TRUE(d.DecodePicture(e.pictures[1], true));
        ASSERT_TRUE(e.parser.macroblocks.ParseMacroblocksOfPicture(e.pictures[1]));
        CPictureDib whole;
        ASSERT_TRUE(whole.CopyFrom(d.dib));
        const TreeStore& t = e.tree;
        int coded = 0, skipped = 0, checked = 0;
        for (TreeItem slice : test::Children(t, e.pictures[1], kind::kSlice)) {
            for (TreeItem mb = t.GetChildItem(slice); mb; mb = t.GetNextSiblingItem(mb)) {
                const uint32_t kindOf = t.GetItemData(mb);
                if (kindOf != kind::kMacroblock && kindOf != kind::kSkippedMacroblock) continue;
                d.dib.Fill(0);
                const bool ok = kindOf == kind::kMacroblock ? d.DecodeMacroblock(mb)
                                                            : d.DecodeSkippedMacroblock(mb);
                ASSERT_TRUE(ok) << name;
                (kindOf == kind::kMacroblock ? coded : skipped)++;
                const MacroblockRecord& r = e.stream.macroblockRecords[mb];
                FocusRect f;
                ASSERT_TRUE(d.dib.ClippedFocus(f));
                EXPECT_EQ(f.x0, r.column * 16);
                EXPECT_EQ(f.y0, r.row * 16);
                for (int y = f.y0; y <= f.y1; y += 3)
                    for (int x = f.x0; x <= f.x1; x += 3) {
                        ASSERT_EQ(d.dib.Pixel(x, y), whole.Pixel(x, y))
                            << name << " macroblock at " << x << "," << y;
                        ++checked;
                    }
            }
        }
        EXPECT_GT(coded, 0) << name;
        EXPECT_GT(checked, 0);

        // A slice paints its macroblocks the same way.
        const TreeItem firstSlice = test::Children(t, e.pictures[1], kind::kSlice).front();
        d.dib.Fill(0);
        ASSERT_TRUE(d.DecodeSlice(firstSlice));
        FocusRect f;
        ASSERT_TRUE(d.dib.ClippedFocus(f));
        EXPECT_EQ(f.x0, 0);
        for (int x = 0; x < d.dib.Width(); x += 5)
            ASSERT_EQ(d.dib.Pixel(x, f.y0), whole.Pixel(x, f.y0));
    }
}

TEST(Decoder, BlockDecoderMatchesThePelMatrixOfTheTree) {
    if (!test::HaveData("mpeg2-progressive.m2v")) GTEST_SKIP() << "no test data";
    Opened e("mpeg2-progressive.m2v");
    ASSERT_TRUE(e.ok);
    ASSERT_TRUE(e.parser.macroblocks.ParseMacroblocksOfPicture(e.pictures[0]));
    const TreeStore& t = e.tree;
    const TreeItem slice = test::Children(t, e.pictures[0], kind::kSlice).front();
    const TreeItem mb = test::Children(t, slice, kind::kMacroblock)[1];
    int blocks = 0;
    for (TreeItem block = t.GetChildItem(mb); block; block = t.GetNextSiblingItem(block)) {
        const uint32_t k = t.GetItemData(block);
        if (k != kind::kBlockY && k != kind::kBlockCb && k != kind::kBlockCr) continue;
        BlockResult r;
        ASSERT_TRUE(e.parser.decoder.DecodeBlock(r, block));
        EXPECT_EQ(r.notCoded, 0);
        // The last matrix below the block holds its pel values, eight numbers to a row.
        TreeItem pel = 0;
        for (TreeItem c = t.GetChildItem(block); c; c = t.GetNextSiblingItem(c))
            if (t.GetItemData(c) == kind::kPelMatrix) pel = c;
        ASSERT_NE(pel, 0u);
        std::vector<int> values;
        for (TreeItem row = t.GetChildItem(pel); row; row = t.GetNextSiblingItem(row)) {
            std::string text = t.GetItemText(row);
            std::replace(text.begin(), text.end(), ',', ' ');
            std::istringstream in(text);
            int v;
            while (in >> v) values.push_back(v);
        }
        ASSERT_EQ(values.size(), 64u) << t.GetItemText(block);
        for (int i = 0; i < 64; ++i) EXPECT_EQ(r.display[i], std::clamp(values[i], 0, 255));
        ++blocks;
    }
    EXPECT_EQ(blocks, 6);

    // Block numbers outside 1..blockCount show nothing.
    const TreeItem first = t.GetChildItem(mb);
    TreeItem block = 0;
    for (TreeItem c = first; c; c = t.GetNextSiblingItem(c))
        if (t.GetItemData(c) == kind::kBlockY) block = c;
    ASSERT_NE(block, 0u);
    BlockResult r;
    e.tree.SetItemText(block, "#0: Coded Y-Block");
    EXPECT_FALSE(e.parser.decoder.DecodeBlock(r, block));
    e.tree.SetItemText(block, "#7: Coded Y-Block");
    EXPECT_FALSE(e.parser.decoder.DecodeBlock(r, block));
}

TEST(Decoder, SelectiveDctMaskReachesTheDecodedPicture) {
    if (!test::HaveData("mpeg2-progressive.m2v")) GTEST_SKIP() << "no test data";
    Opened e("mpeg2-progressive.m2v");
    ASSERT_TRUE(e.ok);
    PictureDecoder& d = e.parser.decoder;
    ASSERT_TRUE(d.DecodePicture(e.pictures[0], true));
    const std::vector<uint8_t> full = LumaPlane(d);
    // Only the DC coefficient: every 8x8 luma block becomes flat.
    d.selectiveDct.enabled = true;
    d.selectiveDct.mask.fill(0);
    d.selectiveDct.mask[0] = 1;
    ASSERT_TRUE(d.DecodePicture(e.pictures[0], true));
    const std::vector<uint8_t> dcOnly = LumaPlane(d);
    EXPECT_NE(dcOnly, full);
    const int w = d.stores.width;
    for (int by = 0; by < d.stores.height; by += 8)
        for (int bx = 0; bx < w; bx += 8)
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < 8; ++x)
                    ASSERT_EQ(dcOnly[(by + y) * w + bx + x], dcOnly[by * w + bx]);
}

// An MPEG-1 D picture holds DC coefficients only: each block shows flat at its DC level.
TEST(Decoder, DPictureBlocksAreFlatAtTheirDcLevel) {
    test::BitWriter w;
    test::DPictureSlice(w);
    // Macroblock 1: luma DC +7 in block 1 (the others repeat the predictor), chroma 0.
    w.Pattern("1 1");
    w.Pattern("101 111  100 100 100  00 00");
    w.Pattern("1");
    // Macroblock 2: luma unchanged, Cb DC -3, Cr 0.
    w.Pattern("1 1");
    w.Pattern("100 100 100 100  10 00  00");
    w.Pattern("1");
    w.Align();
    w.StartCode(0xB7);
    test::TempFile f(w.bytes());
    Engine e;
    ASSERT_TRUE(e.Open(f.path()));
    e.Parse();
    const auto pictures = Pictures(e);
    ASSERT_EQ(pictures.size(), 1u);
    PictureDecoder& d = e.parser.decoder;
    ASSERT_TRUE(d.DecodePicture(pictures[0], true));
    ASSERT_EQ(d.stores.width, 32);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 32; ++x) {
            const size_t i = static_cast<size_t>(y) * 32 + x;
            ASSERT_EQ(d.CurrentPlane(0)[i], 128 + 7) << x << "," << y;
            ASSERT_EQ(d.CurrentPlane(1)[i], x < 16 ? 128 : 128 - 3) << x << "," << y;
            ASSERT_EQ(d.CurrentPlane(2)[i], 128) << x << "," << y;
        }
    EXPECT_EQ(e.CountWithImage(image::kError), 0u);
}

// An MPEG-2 I picture of width x height, every block at DC level 0 (grey 128) except the last
// macroblock: luma DC +3 (131) and Cb DC +1 (129). One slice per macroblock row; past 2800
// lines the slices carry slice_vertical_position_extension.
std::vector<uint8_t> FlatIntraPicture(int width, int height) {
    test::BitWriter w;
    w.StartCode(0xB3);
    w.Bits(width & 0xFFF, 12);
    w.Bits(height & 0xFFF, 12);
    w.Bits(1, 4);  // square pels
    w.Bits(3, 4);  // 25 fps
    w.Bits(0x3FFFF, 18);
    w.Bit(1);
    w.Bits(112, 10);
    w.Pattern("0 0 0");  // constrained_parameters_flag, no matrices
    w.Align();
    w.StartCode(0xB5);  // sequence extension
    w.Bits(1, 4);
    w.Bits(0x42, 8);                // high profile, high level
    w.Pattern("1 01");              // progressive_sequence, 4:2:0
    w.Bits((width >> 12) & 3, 2);   // horizontal_size_extension
    w.Bits((height >> 12) & 3, 2);  // vertical_size_extension
    w.Bits(0, 12);
    w.Bit(1);
    w.Bits(0, 8);
    w.Pattern("0 00 00000");
    w.Align();
    w.StartCode(0x00);
    w.Bits(0, 10);
    w.Bits(1, 3);  // I picture
    w.Bits(0xFFFF, 16);
    w.Bit(0);
    w.Align();
    w.StartCode(0xB5);  // picture coding extension
    w.Bits(8, 4);
    w.Bits(0xFFFF, 16);              // f_codes
    w.Pattern("00 11 0 1 0 0 0 0");  // 8-bit DC, frame, frame_pred_frame_dct
    w.Pattern("0 0 1 0");            // progressive_frame
    w.Align();
    const int mbWidth = (width + 15) / 16, mbHeight = (height + 15) / 16;
    for (int row = 0; row < mbHeight; ++row) {
        w.StartCode(static_cast<uint8_t>(height > 2800 ? (row & 127) + 1 : row + 1));
        if (height > 2800) w.Bits(row >> 7, 3);
        w.Bits(8, 5);  // quantiser_scale_code
        w.Bit(0);
        for (int column = 0; column < mbWidth; ++column) {
            w.Pattern("1 1");  // address increment 1, intra
            if (row == mbHeight - 1 && column == mbWidth - 1)
                w.Pattern("01 11 10  100 10  100 10  100 10  01 1 10  00 10");
            else
                w.Pattern("100 10  100 10  100 10  100 10  00 10  00 10");
        }
        w.Align();
    }
    w.StartCode(0xB7);
    return w.bytes();
}

// The largest pictures have more than 255 macroblock columns or rows: they parse and decode,
// and the last macroblock lands in its place.
TEST(Decoder, PicturesBeyond4096Samples) {
    for (const auto& [width, height] : {std::pair{4112, 16}, std::pair{16, 4128}}) {
        SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
        test::TempFile f(FlatIntraPicture(width, height), ".m2v");
        Engine e;
        ASSERT_TRUE(e.Open(f.path()));
        e.Parse();
        const auto pictures = Pictures(e);
        ASSERT_EQ(pictures.size(), 1u);
        ASSERT_TRUE(e.parser.macroblocks.ParseMacroblocksOfPicture(pictures[0]));
        EXPECT_EQ(e.CountWithImage(29) + e.CountWithImage(30) + e.CountWithImage(image::kError),
                  0u);
        const std::string last = "Coded Macroblock (MB) (x=" + std::to_string(width - 16) +
                                 ", y=" + std::to_string(height - 16) + ")";
        EXPECT_NE(e.Find(last), 0u) << last;

        PictureDecoder& d = e.parser.decoder;
        ASSERT_TRUE(d.DecodePicture(pictures[0], true));
        ASSERT_EQ(d.stores.width, width);
        ASSERT_EQ(d.stores.height, height);
        for (int y = 0; y < height; y += 8)
            for (int x = 0; x < width; x += 8) {
                const bool lastMb = x >= width - 16 && y >= height - 16;
                const size_t i = static_cast<size_t>(y) * width + x;
                ASSERT_EQ(d.CurrentPlane(0)[i], lastMb ? 131 : 128) << x << "," << y;
                const size_t c = static_cast<size_t>(y / 2) * (width / 2) + x / 2;
                ASSERT_EQ(d.CurrentCodedPlane(1)[c], lastMb ? 129 : 128) << x << "," << y;
            }
    }
}

// Pictures located by a parse of packs and packets together decode as after a video parse.
TEST(Decoder, ProgramStreamDecodesAlikeInEveryParseMode) {
    for (const char* name : {"mpeg2-ps-mplex.mpg", "mpeg1-system.mpg"}) {
        if (!test::HaveData(name)) GTEST_SKIP() << "no test data";
        std::vector<std::vector<uint8_t>> planes[2];
        for (int m = 0; m < 2; ++m) {
            Engine e;
            ASSERT_TRUE(e.Open(test::DataPath(name)));
            e.Parse(m == 0 ? kModeVideoOnly : kModeBoth);
            for (TreeItem p : Pictures(e)) {
                ASSERT_TRUE(e.parser.decoder.DecodePicture(p, true)) << name;
                planes[m].push_back(LumaPlane(e.parser.decoder));
            }
        }
        ASSERT_EQ(planes[0].size(), 8u + (std::string(name) == "mpeg1-system.mpg" ? 2u : 0u));
        EXPECT_EQ(planes[0], planes[1]) << name;
    }
}

// Random bit flips and garbage in the slice data: every picture decodes or fails, in every
// display type, without a read or write outside a plane (the sanitizer build checks that).
TEST(Decoder, CorruptedSliceDataNeverLeavesThePlanes) {
    for (const char* name :
         {"mpeg2-fieldpic.m2v", "mpeg2-interlaced.m2v", "mpeg1.m1v", "mpeg2-422.m2v"}) {
        if (!test::HaveData(name)) GTEST_SKIP() << "no test data";
        std::ifstream in(test::DataPath(name), std::ios::binary);
        const std::vector<uint8_t> clean((std::istreambuf_iterator<char>(in)), {});
        uint32_t seed = 7;
        auto next = [&] { return seed = seed * 1664525u + 1013904223u; };
        for (int round = 0; round < 6; ++round) {
            std::vector<uint8_t> data = clean;
            const size_t from = 200;
            if (round % 2) {
                const size_t at = from + (next() >> 8) % (data.size() - from - 600);
                for (size_t i = 0; i < 400; ++i) data[at + i] = static_cast<uint8_t>(next() >> 24);
            } else {
                for (int flips = 0; flips < 60; ++flips)
                    data[from + (next() >> 8) % (data.size() - from)] ^=
                        static_cast<uint8_t>(1u << ((next() >> 16) & 7));
            }
            test::TempFile f(data);
            Engine e;
            if (!e.Open(f.path())) continue;
            e.Parse();
            PictureDecoder& d = e.parser.decoder;
            for (uint8_t type : {display_type::kAuto, display_type::kDiff1}) {
                for (TreeItem p : Pictures(e)) {
                    d.displayType = type;
                    d.DecodePicture(p, false);
                }
            }
        }
    }
}

// Fills the stack below the caller with `value`, so that a later call at the same depth that
// reads what it never wrote shows it.
__attribute__((noinline)) void FillStack(uint8_t value) {
    volatile uint8_t junk[1 << 16];
    for (size_t i = 0; i < sizeof junk; ++i) junk[i] = value;
}

// A damaged picture coding extension makes a P picture of a progressive 176x144 stream a bottom
// field: the last field row of macroblocks reaches past the reference (9 rows of 16 lines are
// 4.5 field rows), so part of its prediction cannot be formed. That part is the flat level, not
// whatever the decoder's stack held: the picture is the same whatever was there.
TEST(Decoder, PredictionPastTheReferenceIsFlatNotLeftOver) {
    if (!test::HaveData("mpeg2-progressive.m2v")) GTEST_SKIP() << "no test data";
    std::ifstream in(test::DataPath("mpeg2-progressive.m2v"), std::ios::binary);
    std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), {});
    // The second picture coding extension (start code, then extension id 8), the P picture's.
    int seen = 0;
    for (size_t i = 0; i + 6 < data.size(); ++i)
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1 && data[i + 3] == 0xB5 &&
            (data[i + 4] >> 4) == 8 && ++seen == 2) {
            data[i + 6] = static_cast<uint8_t>((data[i + 6] & ~3) | 2);  // picture_structure
            break;
        }
    ASSERT_EQ(seen, 2);
    test::TempFile f(data, ".m2v");
    Engine e;
    ASSERT_TRUE(e.Open(f.path()));
    e.Parse();
    const std::vector<TreeItem> pictures = Pictures(e);
    ASSERT_GE(pictures.size(), 2u);
    PictureDecoder& d = e.parser.decoder;
    std::vector<uint8_t> shown[2];
    for (int run = 0; run < 2; ++run) {
        ASSERT_TRUE(d.DecodePicture(pictures[0], true));
        FillStack(run ? 0x5A : 0xC3);
        d.displayType = display_type::kAuto;
        d.DecodePicture(pictures[1], true);
        ASSERT_TRUE(d.dib.HasPixels());
        shown[run].assign(d.dib.Bits(), d.dib.Bits() + d.dib.ImageSize());
    }
    EXPECT_TRUE(shown[0] == shown[1]);
}

}  // namespace
}  // namespace bitloupe

namespace bitloupe {
namespace {

// The bitmap is converted a band of chroma at a time while the full-size chroma planes lag
// behind (or were never written): it must equal the conversion from the full-size planes, in
// both field layouts, with 4:2:2 chroma, and with macroblocks no slice covers.
TEST(Decoder, BitmapFromChromaBandsEqualsBitmapFromFullPlanes) {
    for (const char* name :
         {"mpeg2-progressive.m2v", "mpeg2-fieldpic.m2v", "mpeg2-422.m2v", "truncated.m2v"}) {
        if (!test::HaveData(name)) GTEST_SKIP() << "no test data";
        Opened e(name);
        ASSERT_TRUE(e.ok);
        PictureDecoder& d = e.parser.decoder;
        for (size_t k = 0; k < e.pictures.size() && k < 4; ++k) {
            if (!d.DecodePicture(e.pictures[k], true)) continue;
            const int h = d.dib.Height();
            std::vector<std::string> banded;
            for (int y = 0; y < h; ++y)
                banded.emplace_back(reinterpret_cast<const char*>(d.dib.Line(y)),
                                    static_cast<size_t>(d.dib.Width()) * 3);
            // Full-size planes brought up to date, then the picture's lines from them.
            const int structure = d.dib.PictureStructure();
            const uint8_t lines = structure == 1   ? CPictureDib::kTopFieldLines
                                  : structure == 2 ? CPictureDib::kBottomFieldLines
                                                   : CPictureDib::kAllLines;
            const int first = structure == 2 ? 1 : 0, step = structure == 3 ? 1 : 2;
            const ColourMatrix& m = d.Sequence().colourMatrix;
            ASSERT_TRUE(d.dib.ConvertFromPlanes(d.CurrentPlane(0), d.CurrentPlane(1),
                                                d.CurrentPlane(2), d.stores.width, d.stores.height,
                                                lines, d.colourMode, {m.crv, m.cbu, m.cgu, m.cgv}));
            for (int y = first; y < h; y += step)
                ASSERT_EQ(std::memcmp(banded[y].data(), d.dib.Line(y), banded[y].size()), 0)
                    << name << " picture " << k + 1 << " line " << y;
        }
    }
}

}  // namespace
}  // namespace bitloupe
