// Video headers: hand-made headers for the edge cases, and the committed streams for what real
// encoders wrote (facts read back with ffprobe and a start-code scan, see tests/data/README.md).
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "TestUtil.h"

namespace bitloupe {
namespace {

using test::BitWriter;
using test::Engine;
using test::TempFile;
using Texts = std::vector<std::string>;

// --- stream builders (field values as the headers carry them) ---

void SequenceHeader(BitWriter& w, int width, int height, int aspect = 2, int rate = 3) {
    w.StartCode(0xB3);
    w.Bits(width, 12);
    w.Bits(height, 12);
    w.Bits(aspect, 4);
    w.Bits(rate, 4);
    // 15000000 bps, marker, vbv 112, constrained_parameters_flag, no matrices
    w.Pattern("001001001001111100 1 0001110000 0 0 0");
    w.Align();
}

struct SeqExt {
    int profileLevel = 0x48, progressive = 1, chroma = 1, hExt = 0, rateExt = 0, vbvExt = 0;
};
void SequenceExtension(BitWriter& w, const SeqExt& x = {}) {
    w.StartCode(0xB5);
    w.Bits(1, 4);
    w.Bits(x.profileLevel, 8);
    w.Bit(x.progressive);
    w.Bits(x.chroma, 2);
    w.Bits(x.hExt, 2);
    w.Bits(0, 2);
    w.Bits(x.rateExt, 12);
    w.Bit(1);
    w.Bits(x.vbvExt, 8);
    w.Bits(0, 8);
    w.Align();
}

void Gop(BitWriter& w, uint32_t timeCode = 1u << 12) {
    w.StartCode(0xB8);
    w.Bits(timeCode, 25);
    w.Pattern("10");  // closed_gop, broken_link
    w.Align();
}

void Picture(BitWriter& w, int tr, int type) {
    w.StartCode(0x00);
    w.Bits(tr, 10);
    w.Bits(type, 3);
    w.Bits(0xFFFF, 16);
    if (type == 2 || type == 3) w.Pattern("0111");
    if (type == 3) w.Pattern("0111");
    w.Bit(0);
    w.Align();
}

struct Coding {
    int structure = 3, repeatFirstField = 0, dcPrecision = 0, composite = 0;
};
void PictureCoding(BitWriter& w, const Coding& c = {}) {
    w.StartCode(0xB5);
    w.Pattern("1000 0010 0010 0011 0011");  // f_codes 2, 2, 3, 3
    w.Bits(c.dcPrecision, 2);
    w.Bits(c.structure, 2);
    w.Pattern("0 10000");  // top_field_first .. alternate_scan
    w.Bit(c.repeatFirstField);
    w.Pattern("0 1");  // chroma_420_type, progressive_frame
    w.Bit(c.composite);
    if (c.composite) w.Pattern("1 010 1 0000011 01000000");  // phase 64 = 90 degrees
    w.Align();
}

void Slice(BitWriter& w, int row, const std::string& header) {
    w.StartCode(static_cast<uint8_t>(row));
    w.Pattern(header);
    w.Align();
}

BitWriter Mpeg2Start(const SeqExt& x = {}, int height = 576) {
    BitWriter w;
    SequenceHeader(w, 720, height);
    SequenceExtension(w, x);
    Gop(w);
    return w;
}

// A stream opened and parsed in video mode.
struct Parsed {
    TempFile file;
    Engine e;
    bool ok = false;
    explicit Parsed(const std::vector<uint8_t>& bytes, const std::string& path = "")
        : file(bytes, ".m2v") {
        ok = e.Open(path.empty() ? file.path() : path);
        if (ok) e.Parse();
    }
    TreeItem Find(const std::string& prefix, TreeItem from = kTreeRoot) const {
        return e.Find(prefix, from);
    }
    std::string Text(const std::string& prefix, TreeItem from = kTreeRoot) const {
        return e.Text(Find(prefix, from));
    }
    int Image(const std::string& prefix, TreeItem from = kTreeRoot) const {
        return e.tree.GetItemImage(Find(prefix, from));
    }
    std::string FirstChild(TreeItem item) const { return e.Text(e.tree.GetChildItem(item)); }
    // Picture items in stream order (under the GOPs or the video item).
    std::vector<TreeItem> Pictures() const {
        std::vector<TreeItem> out;
        auto add = [&](TreeItem parent, auto& self) -> void {
            for (TreeItem c = e.tree.GetChildItem(parent); c; c = e.tree.GetNextSiblingItem(c)) {
                if (e.tree.GetItemData(c) == kind::kPicture) out.push_back(c);
                if (e.tree.GetItemData(c) == kind::kGop) self(c, self);
            }
        };
        add(e.stream.videoItem, add);
        return out;
    }
};

// --- sequence level ---

TEST(SequenceHeader, Mpeg1NamesDefaultMatricesForbiddenCodesAndCutHeader) {
    BitWriter w;
    SequenceHeader(w, 352, 240, 3, 3);
    Gop(w);
    SequenceHeader(w, 352, 240, 0, 0);
    w.StartCode(0xB3);
    w.Byte(0x16);  // cut after one byte
    Parsed p(w.bytes());
    ASSERT_TRUE(p.ok);
    const Texts kids = p.e.ChildTexts(p.Find("Sequence Header #1"));
    EXPECT_EQ(Texts(kids.begin() + 1, kids.begin() + 7),
              (Texts{"sequence_header_code=0x000001B3 (4 bytes)",
                     "horizontal_size=352 (000101100000B, 12 bits)",
                     "vertical_size=240 (000011110000B, 12 bits)",
                     "pel_aspect_ratio=0.7031 (0011B, 4 bits)", "picture_rate=25 (0011B, 4 bits)",
                     "bit_rate=15000000bps (001001001001111100B, 18 bits)"}));
    EXPECT_EQ(kids[8], "vbv_buffer_size=1792KB (0001110000B, 10 bits)");
    const TreeItem intra = p.Find("load_intra_quantizer_matrix=0");
    EXPECT_EQ(p.FirstChild(intra), "  8, 16, 19, 22, 26, 27, 29, 34");
    EXPECT_TRUE(IsVirtual(p.e.tree.GetItemData(p.e.tree.GetChildItem(intra))));
    EXPECT_EQ(p.e.parser.v.quant.chromaIntra.values[63], 83);
    EXPECT_EQ(p.e.parser.v.quant.nonIntra.values[63], 16);
    EXPECT_EQ(p.e.stream.greyColourRgb, 0x828282u);  // Y = Cb = Cr = 128 converted

    const TreeItem forbidden = p.Find("Sequence Header #2");
    EXPECT_EQ(p.Image("pel_aspect_ratio=forbidden", forbidden), image::kError);
    EXPECT_EQ(p.Image("picture_rate=forbidden", forbidden), image::kError);
    const TreeItem cut = p.Find("Sequence Header #3");
    EXPECT_EQ(p.Text("vertical_size=", cut), "vertical_size=0 (000000000000B, 12 bits)");
    EXPECT_EQ(p.Text("bit_rate=", cut), "bit_rate=0bps (000000000000000000B, 18 bits)");
    EXPECT_EQ(p.Image("marker_bit", cut), image::kError);
    EXPECT_EQ(p.e.stream.mbCount, 0);
}

TEST(SequenceExtension, Mpeg2NamesInterlacedRowsAndProfile) {
    BitWriter w = Mpeg2Start({.progressive = 0});
    Parsed p(w.bytes());
    ASSERT_TRUE(p.ok);
    const CStreamState& st = p.e.stream;
    EXPECT_TRUE(p.Find("horizontal_size_value=720"));
    EXPECT_EQ(p.Text("aspect_ratio_information"),
              "aspect_ratio_information=\"DAR=3:4\" (0010B, 4 bits)");
    EXPECT_TRUE(p.Find("frame_rate_code=25"));
    EXPECT_TRUE(p.Find("bit_rate_value=15000000bps"));
    EXPECT_EQ(st.mbCount, 1620);
    EXPECT_EQ(st.mbHeight, 36);
    EXPECT_DOUBLE_EQ(st.pelAspectRatio, 0.9375);
    const TreeItem pl = p.Find("profile_and_level_indication=01001000B (8 bits)");
    EXPECT_EQ(p.e.ChildTexts(pl),
              (Texts{"escape_bit=0 (1 bits)", "profile_indication=Main (100B, 3 bits)",
                     "level_indication=Main (1000B, 4 bits)"}));
    EXPECT_TRUE(IsVirtual(p.e.tree.GetItemData(p.e.tree.GetChildItem(pl))));
}

TEST(SequenceExtension, EscapeBitSizeRateAndChromaExtensions) {
    BitWriter w;
    SequenceHeader(w, 720, 576, 4);
    const SeqExt x{.profileLevel = 0x85, .chroma = 2, .hExt = 1, .rateExt = 4095, .vbvExt = 3};
    SequenceExtension(w, x);
    SequenceExtension(w, x);  // repeated: the size must not grow again
    Gop(w);
    Parsed p(w.bytes());
    ASSERT_TRUE(p.ok);
    const CStreamState& st = p.e.stream;
    const Texts pl = p.e.ChildTexts(p.Find("profile_and_level_indication=10000101B"));
    EXPECT_EQ(pl[1], "profile_indication=reserved (000B, 3 bits)");
    EXPECT_EQ(pl[2], "level_indication=reserved (0000B, 4 bits)");
    EXPECT_EQ(st.horizontal_size, 4816u);
    EXPECT_EQ(st.mbWidth, 301);
    EXPECT_DOUBLE_EQ(st.pelAspectRatio, 1.0);  // code 4
    EXPECT_EQ(st.blockCount, 8);
    // 4095 << 18 units of 400 bit/s: the item shows it all, the 32-bit state saturates.
    EXPECT_EQ(p.Text("bit_rate_extension"),
              "bit_rate_extension=429391872000bps (111111111111B, 12 bits)");
    EXPECT_EQ(st.bitRate, UINT32_MAX);
    EXPECT_EQ(p.Text("vbv_buffer_size_extension"),
              "vbv_buffer_size_extension=49152KB (00000011B, 8 bits)");
    EXPECT_EQ(st.vbvSize, 112u * 16 + 3 * 16384);
}

TEST(SequenceDisplayExtension, NamesColourRowsAndDisplaySize) {
    BitWriter w;
    SequenceHeader(w, 720, 576, 2);
    SequenceExtension(w);
    auto display = [&](std::vector<uint8_t> colours, int width, int height) {
        w.StartCode(0xB5);
        w.Pattern("0010 010 1");
        w.Bytes(colours);
        w.Bits(width, 14);
        w.Bit(1);
        w.Bits(height, 14);
        w.Align();
    };
    display({1, 1, 200}, 704, 480);
    display({200, 0, 1}, 0, 0);  // then a broken one: display size 0 x 0
    Gop(w);
    Parsed p(w.bytes());
    ASSERT_TRUE(p.ok);
    const TreeItem first = p.Find("Sequence Display Extension");
    EXPECT_EQ(p.e.tree.GetItemData(first), kind::kSequenceExtension);
    EXPECT_EQ(p.Text("video_format", first), "video_format=NTSC (010B, 3 bits)");
    EXPECT_EQ(p.Text("matrix_coefficients", first), "matrix_coefficients=reserved (200, 8 bits)");
    const TreeItem second = p.e.tree.GetNextSiblingItem(first);
    EXPECT_EQ(p.Text("colour_primaries", second), "colour_primaries=reserved (200, 8 bits)");
    EXPECT_EQ(p.Image("transfer_characteristics=forbidden (0, 8 bits)", second), image::kError);
    EXPECT_EQ(p.e.stream.colourMatrix.crv, 117504);    // row 1
    EXPECT_DOUBLE_EQ(p.e.stream.pelAspectRatio, 1.0);  // not a division by zero
}

TEST(SequenceScalableExtension, SpatialFieldsThenDataPartitioningSlices) {
    BitWriter w;
    SequenceHeader(w, 720, 576);
    SequenceExtension(w);
    w.StartCode(0xB5);
    w.Pattern("0101 01 0011 00001011000000 1 00001001000000 00001 00010 00011 00100");
    w.Align();
    w.StartCode(0xB5);
    w.Pattern("0101 00 0001");
    w.Align();
    Gop(w);
    Picture(w, 0, 1);
    PictureCoding(w);
    Slice(w, 1, "1010101 00100 0");
    Parsed p(w.bytes());
    ASSERT_TRUE(p.ok);
    const Texts kids = p.e.ChildTexts(p.Find("Sequence Scalable Extension"));
    EXPECT_EQ(kids[3], "scalable_mode=spatial scalability (01B, 2 bits)");
    EXPECT_EQ(kids[5], "lower_layer_prediction_horizontal_size=704 (00001011000000B, 14 bits)");
    EXPECT_EQ(kids.back(), "vertical_subsampling_factor_n=4 (00100B, 5 bits)");
    EXPECT_EQ(p.Text("priority_breakpoint"), "priority_breakpoint=85 (1010101B, 7 bits)");
    EXPECT_TRUE(p.Find("quantiser_scale_code=4 (00100B, 5 bits)"));
}

// --- GOP and picture headers ---

TEST(GopHeader, TimeCodeMarkerUserDataAndOtherCodes) {
    BitWriter w;
    SequenceHeader(w, 352, 240);
    Gop(w, 0b0'00001'000010'1'000011'000100);
    Gop(w, 0b0'00001'000010'0'000011'000100);
    w.StartCode(0xB2);
    w.Bytes({'A', 'B'});
    for (uint8_t code : {0xB0, 0xB4, 0xB7}) w.StartCode(code);
    Parsed p(w.bytes());
    ASSERT_TRUE(p.ok);
    const TreeItem gop = p.Find("GOP (Group of Pictures) #1");
    EXPECT_EQ(p.Text("time_code", gop), "time_code=0000010000101000011000100B (25 bits)");
    const GopRecord& r = p.e.stream.gopRecords.at(gop);
    EXPECT_EQ(r.time_code_minutes, 2);
    EXPECT_EQ(r.time_code_pictures, 4);
    EXPECT_EQ(r.closed_gop, 1);
    const TreeItem second = p.Find("GOP (Group of Pictures) #2");
    EXPECT_EQ(p.Image("marker_bit", second), image::kError);
    EXPECT_EQ(p.e.ChildTexts(p.Find("User Data", second)),
              (Texts{"file_offset=0x1C", "user_data_start_code=0x000001B2 (4 bytes)",
                     "user_data[1]=0x41 (1 byte)", "user_data[2]=0x42 (1 byte)"}));
    EXPECT_TRUE(p.Find("reserved start codes (0x000001B0, 4 bytes)"));
    EXPECT_EQ(p.e.tree.GetItemData(p.Find("Sequence Error")), kind::kSequenceError);
    EXPECT_EQ(p.Image("EOVS (End of Video Stream) (0x000001B7, 4 bytes)"), image::kEndOfVideo);
}

TEST(PictureHeader, ExtraInformationReservedAndDTypes) {
    BitWriter w = Mpeg2Start();
    w.StartCode(0x00);
    w.Pattern("0000000000 001 1111111111111111 1 01010101 0");
    w.Align();
    PictureCoding(w, {.dcPrecision = 2, .composite = 1});
    Picture(w, 1, 6);
    Picture(w, 2, 4);
    Parsed p(w.bytes());
    ASSERT_TRUE(p.ok);
    const auto pics = p.Pictures();
    ASSERT_EQ(pics.size(), 3u);
    const Texts header = p.e.ChildTexts(p.Find("Picture Header", pics[0]));
    EXPECT_EQ(Texts(header.end() - 3, header.end()),
              (Texts{"extra_bit_picture=1 (1 bits)", "extra_information_picture=85 (8 bits)",
                     "extra_bit_picture=0 (1 bits)"}));
    EXPECT_TRUE(p.Find("intra_dc_precision=10 (10B, 2 bits)", pics[0]));
    EXPECT_TRUE(p.Find("sub_carrier_phase=(64*360/256)=90 degree (8 bits)", pics[0]));
    EXPECT_EQ(p.e.Text(pics[1]), "Picture #2 (Frame #2)");
    EXPECT_EQ(p.Text("picture_coding_type", pics[1]),
              "picture_coding_type=reserved (110B, 3 bits)");
    EXPECT_EQ(p.Image("picture_coding_type", pics[1]), image::kError);
    EXPECT_EQ(p.e.Text(pics[2]), "D-Picture #1 (Picture #3, Frame #3)");
    EXPECT_EQ(p.Image("picture_coding_type", pics[2]), image::kError);  // no D in MPEG-2
}

TEST(PictureHeader, FieldPairSharesAFrameAndHalvesTheMacroblocks) {
    BitWriter w = Mpeg2Start({.progressive = 0});
    Picture(w, 0, 1);
    PictureCoding(w, {.structure = 1});
    Picture(w, 0, 2);
    PictureCoding(w, {.structure = 2});
    Parsed p(w.bytes());
    ASSERT_TRUE(p.ok);
    const auto pics = p.Pictures();
    ASSERT_EQ(pics.size(), 2u);
    EXPECT_EQ(p.e.Text(pics[1]), "P-Picture #1 (Picture #2, Frame #1)");
    EXPECT_EQ(p.e.tree.GetItemImage(pics[0]), image::kTopField);
    EXPECT_EQ(p.e.tree.GetItemImage(pics[1]), image::kBottomField);
    EXPECT_EQ(p.e.stream.pictureRecords.at(pics[1]).secondField, 1);
    EXPECT_EQ(p.e.stream.pictureCodingRecords.at(pics[1]).mbsInPicture, 810u);
    EXPECT_EQ(p.e.stream.predictionFrames.at(pics[1]).forward_frames[1], pics[0]);
}

TEST(PictureHeader, Mpeg1PredictionFramesAndHistory) {
    BitWriter w;
    SequenceHeader(w, 352, 240, 1);
    Gop(w);
    for (auto [tr, type] : {std::pair{0, 1}, {3, 2}, {1, 3}, {2, 3}}) {
        Picture(w, tr, type);
        Slice(w, 1, "00100 0");
    }
    Parsed p(w.bytes());
    ASSERT_TRUE(p.ok);
    const auto pics = p.Pictures();
    ASSERT_EQ(pics.size(), 4u);
    EXPECT_FALSE(p.Find("Frames for Predictions", pics[0]));
    EXPECT_EQ(p.e.ChildTexts(p.Find("Frames for Predictions", pics[1])),
              Texts{"forward_frames[0]=\"I-Picture #1 (Picture #1, Frame #1)\""});
    for (TreeItem b : {pics[2], pics[3]}) {
        EXPECT_EQ(p.e.ChildTexts(p.Find("Frames for Predictions", b)),
                  (Texts{"forward_frames[0]=\"I-Picture #1 (Picture #1, Frame #1)\"",
                         "backward_frames[0]=\"P-Picture #1 (Picture #2, Frame #2)\""}));
        EXPECT_EQ(p.e.stream.pictureRecords.at(b).referenceKept, 0);
    }
    EXPECT_EQ(p.e.parser.v.referenceHistory[3].item, pics[1]);
    EXPECT_EQ(p.e.parser.v.coding.f_code[1][1], 7);  // from the header
    EXPECT_EQ(p.e.parser.v.coding.mbsInPicture, 330u);
}

TEST(PictureHeader, PicturePassedOverLeavesNoTrace) {
    // Starting from picture 2 deletes picture 1; its coding extension then lands under the
    // GOP, which must keep its icon, and nothing may refer to the deleted field.
    BitWriter w = Mpeg2Start({.progressive = 0});
    Picture(w, 0, 1);
    PictureCoding(w, {.structure = 2});
    Picture(w, 0, 2);
    PictureCoding(w, {.structure = 1});
    TempFile f(w.bytes());
    Engine e;
    ASSERT_TRUE(e.Open(f.path()));
    e.dialog.startFromPicture = true;
    e.dialog.pictureNumber = 2;
    e.Parse();
    const TreeItem pic = e.Find("P-Picture #1");
    EXPECT_EQ(e.tree.GetItemImage(e.tree.GetParentItem(pic)), image::kGop);
    EXPECT_EQ(e.tree.GetItemImage(pic), image::kTopField);
    EXPECT_FALSE(e.Find("Frames for Predictions"));
}

// --- picture-level extensions ---

TEST(QuantMatrixExtension, IntraLoadAlsoSetsChromaIntraOnly) {
    BitWriter w = Mpeg2Start();
    Picture(w, 0, 1);
    PictureCoding(w);
    w.StartCode(0xB5);
    w.Pattern("0011 1");
    for (int i = 1; i <= 64; ++i) w.Byte(static_cast<uint8_t>(i));
    w.Pattern("0 0 0");
    w.Align();
    Parsed p(w.bytes());
    ASSERT_TRUE(p.ok);
    const TreeItem ext = p.Find("Quant Matrix Extension");
    // Zig-zag order in the stream, rows in the tree.
    const TreeItem intra = p.Find("load_intra_quantiser_matrix=1", ext);
    EXPECT_EQ(p.FirstChild(intra), "  1,  2,  6,  7, 15, 16, 28, 29");
    EXPECT_FALSE(IsVirtual(p.e.tree.GetItemData(p.e.tree.GetChildItem(intra))));
    const TreeItem chroma = p.Find("load_chroma_intra_quantiser_matrix=0", ext);
    EXPECT_EQ(p.e.Text(p.e.tree.GetLastChildItem(chroma)), " 36, 37, 49, 50, 58, 59, 63, 64");
    EXPECT_TRUE(IsVirtual(p.e.tree.GetItemData(p.e.tree.GetChildItem(chroma))));
    const QuantMatrixRecord& rec = p.e.stream.quantMatrixRecords.at(p.e.tree.GetParentItem(ext));
    EXPECT_EQ(rec.chromaIntra.values[63], 64);
    EXPECT_EQ(rec.nonIntra.values[0], 16);
    EXPECT_EQ(rec.chromaNonIntra.values[0], 16);
}

TEST(PictureDisplayExtension, OffsetCountFollowsTheCodingExtension) {
    BitWriter w = Mpeg2Start({.progressive = 0});
    auto display = [&](int count) {
        w.StartCode(0xB5);
        w.Bits(7, 4);
        for (int i = 0; i < count; ++i) {
            w.Pattern("1111111111110000 1");  // -16
            w.Bits(8 * (i + 1), 16);
            w.Bit(1);
        }
        w.Align();
    };
    Picture(w, 0, 1);
    PictureCoding(w, {.repeatFirstField = 1});
    display(3);
    Picture(w, 1, 1);
    PictureCoding(w, {.structure = 1});
    display(1);
    Parsed p(w.bytes());
    ASSERT_TRUE(p.ok);
    const auto pics = p.Pictures();
    ASSERT_EQ(pics.size(), 2u);
    EXPECT_EQ(p.Text("frame_centre_horizontal_offset[0]", pics[0]),
              "frame_centre_horizontal_offset[0]=-16 (1111111111110000B, 16 bits)");
    EXPECT_TRUE(p.Find("frame_centre_vertical_offset[2]=24", pics[0]));
    EXPECT_EQ(p.e.stream.pictureDisplayRecords.at(pics[0]).frame_centre_horizontal_offset[2], -16);
    EXPECT_EQ(p.e.stream.pictureDisplayRecords.at(pics[1]).offsetCount, 1);
    EXPECT_FALSE(p.Find("frame_centre_horizontal_offset[1]", pics[1]));
}

TEST(Extensions, CopyrightSpatialScalableAndReserved) {
    BitWriter w = Mpeg2Start();
    Picture(w, 0, 1);
    PictureCoding(w);
    w.StartCode(0xB5);
    w.Pattern("0100 1 00010010 1 0000000 1");
    w.Bits(0xABCDE, 20);
    w.Bit(1);
    w.Bits(0x3FFFFF, 22);
    w.Bit(1);
    w.Bits(0x2AAAAA, 22);
    w.Align();
    w.StartCode(0xB5);
    w.Pattern("1001 0000000101 1 000000000000011 1 000000000000101 10 1 0");
    w.Align();
    w.StartCode(0xB5);
    w.Pattern("0110 1111");
    w.Align();
    Parsed p(w.bytes());
    ASSERT_TRUE(p.ok);
    const Texts copyright = p.e.ChildTexts(p.Find("Copyright Extension"));
    EXPECT_EQ(copyright[4], "original_or_copy=1 (1 bits)");  // the identifier is not listed
    EXPECT_EQ(copyright.back(), "copyright_number=0xABCDEFFFFFEAAAAA (4 bytes)");
    const TreeItem spatial = p.Find("Picture Spatial Scalable Extension");
    EXPECT_TRUE(p.Find("lower_layer_vertical_offset=5 (000000000000101B, 15 bits)", spatial));
    EXPECT_EQ(
        p.e.stream.spatialScalableRecords.at(spatial).spatial_temporal_weight_code_table_index, 2);
    const TreeItem reserved = p.e.tree.GetLastChildItem(p.e.tree.GetParentItem(spatial));
    EXPECT_EQ(p.e.Text(reserved), "reserved");
    EXPECT_EQ(p.e.tree.ChildCount(reserved), 1u);  // only its file_offset
}

// --- other start codes and slices ---

TEST(Slice, HeaderRecordAndPlaceholderForTheMacroblockParse) {
    BitWriter w = Mpeg2Start({}, 2880);  // tall enough for slice_vertical_position_extension
    Picture(w, 0, 1);
    PictureCoding(w);
    const size_t sliceAt = w.size();
    Slice(w, 5, "001 01100 1 1 0000001 1 10100101 0");  // 27 bits
    Slice(w, 6, "000 01001 0");
    Parsed p(w.bytes());
    ASSERT_TRUE(p.ok);
    const TreeItem slice = p.Find("Slice #1 (y=64)");
    ASSERT_TRUE(slice);
    EXPECT_EQ(p.e.ChildTexts(p.Find("Slice Header", slice)),
              (Texts{"slice_start_code=0x00000105 (4 bytes)",
                     "slice_vertical_position_extension=1 (001B, 3 bits)",
                     "slice_vertical_position=133", "quantiser_scale_code=12 (01100B, 5 bits)",
                     "intra_slice_flag=1 (1 bits)", "intra_slice=1 (1 bits)",
                     "reserved_bits=1 (0000001B, 7 bits)", "extra_bit_slice=1 (1 bits)",
                     "extra_information_slice=10100101B (8 bits)", "extra_bit_slice=0 (1 bits)"}));
    const SliceRecord& rec = p.e.stream.sliceRecords.at(slice);
    EXPECT_EQ(rec.header.slice_vertical_position, 133u);
    EXPECT_EQ(rec.header.quantiser_scale_code, 12);
    EXPECT_EQ(rec.pictureItem, p.Pictures().at(0));
    EXPECT_EQ(rec.macroblocks.offset, sliceAt + 4 + 3);  // 27 bits after the start code
    EXPECT_EQ(rec.macroblocks.bitOffset, 3u);
    EXPECT_EQ(p.e.tree.GetItemData(rec.placeholderItem), kind::kSlicePlaceholder);
    EXPECT_EQ(p.e.Text(rec.placeholderItem), "Macroblock(s) is/are to be parsed ...");
    EXPECT_EQ(p.e.stream.videoPositions.at(rec.placeholderItem).offset, rec.macroblocks.offset);
    EXPECT_EQ(p.e.stream.videoPositions.at(slice).bitOffset, 3u);
    EXPECT_NE(p.e.ChildTexts(slice).at(2).find(", the 3-th bit"), std::string::npos);
    // A slice without intra_slice fields does not inherit them.
    EXPECT_EQ(p.e.stream.sliceRecords.at(p.Find("Slice #2 (y=80)")).header.intra_slice, 0);
}

// --- committed streams ---

struct StreamFacts {
    const char* file;
    uint8_t version;
    uint32_t width, height;
    uint8_t aspect, frameRate;
    uint32_t bitRate, vbvSize;
    uint8_t chroma, progressive, blockCount;
    const char* types;  // stream order
    std::vector<int> temporalReferences;
    uint32_t gops, frames;
    bool endCode;
};

// clang-format off
const std::vector<int> kTenPictures = {0, 3, 1, 2, 2, 0, 1, 5, 3, 4};
const StreamFacts kStreams[] = {
    {"mpeg1.m1v", kMpeg1, 168, 120, 1, 3, 400000, 160, 1, 1, 6, "IPBBIBBPBB", kTenPictures, 2, 10, false},
    {"mpeg1-system.mpg", kMpeg1, 168, 120, 1, 3, 400000, 160, 1, 1, 6, "IPBBIBBPBB", kTenPictures, 2, 10, false},
    {"mpeg2-progressive.m2v", kMpeg2, 176, 144, 2, 2, 600000, 224, 1, 1, 6, "IPBBIBBPBB", kTenPictures, 2, 10, false},
    {"mpeg2-ps.mpg", kMpeg2, 176, 144, 2, 2, 600000, 224, 1, 1, 6, "IPBBIBBPBB", kTenPictures, 2, 10, false},
    {"truncated.m2v", kMpeg2, 176, 144, 2, 2, 600000, 224, 1, 1, 6, "IPBB", {0, 3, 1, 2}, 1, 4, false},
    {"mpeg2-custom-matrix.m2v", kMpeg2, 176, 144, 1, 3, 700000, 224, 1, 0, 6, "IPBPBPBP",
     {0, 2, 1, 4, 3, 6, 5, 7}, 1, 8, false},
    {"mpeg2-interlaced.m2v", kMpeg2, 176, 144, 3, 4, 700000, 224, 1, 0, 6, "IPBBPBBP",
     {0, 3, 1, 2, 6, 4, 5, 7}, 1, 8, false},
    {"mpeg2-422.m2v", kMpeg2, 176, 144, 1, 3, 600000, 448, 2, 1, 8, "IPBBPBBP",
     {0, 3, 1, 2, 6, 4, 5, 7}, 1, 8, false},
    {"mpeg2-ps-mplex.mpg", kMpeg2, 176, 144, 2, 3, 800000, 1792, 1, 1, 6, "IPBBPBIB",
     {0, 3, 1, 2, 5, 4, 1, 0}, 2, 8, true},
    {"mpeg2-fieldpic.m2v", kMpeg2, 352, 288, 2, 3, 2861200, 1792, 1, 0, 6, "IPPPBBBBPPBBBBPPBBBBPPBB",
     {0, 0, 3, 3, 1, 1, 2, 2, 6, 6, 4, 4, 5, 5, 9, 9, 7, 7, 8, 8, 11, 11, 10, 10}, 1, 12, true},
};
// clang-format on

TEST(RealStreams, SequenceValuesAndPicturesInStreamOrder) {
    for (const StreamFacts& s : kStreams) {
        SCOPED_TRACE(s.file);
        if (!test::HaveData(s.file)) GTEST_SKIP() << "no test data";
        Parsed p({}, test::DataPath(s.file));
        ASSERT_TRUE(p.ok);
        const CStreamState& st = p.e.stream;
        EXPECT_EQ(st.mpegVersion, s.version);
        EXPECT_EQ(st.horizontal_size, s.width);
        EXPECT_EQ(st.vertical_size, s.height);
        EXPECT_EQ(st.aspect_ratio_information, s.aspect);
        EXPECT_EQ(st.frame_rate_code, s.frameRate);
        EXPECT_EQ(st.bitRate, s.bitRate);
        EXPECT_EQ(st.vbvSize, s.vbvSize);
        EXPECT_EQ(st.chroma_format, s.chroma);
        EXPECT_EQ(st.progressive_sequence, s.progressive);
        EXPECT_EQ(st.blockCount, s.blockCount);
        EXPECT_EQ(st.counters.gopCount, s.gops);
        EXPECT_EQ(st.counters.frameCount, s.frames);
        EXPECT_EQ(p.Find("EOVS") != 0, s.endCode);
        EXPECT_EQ(p.e.CountWithImage(image::kError), 0u);
        std::string types;
        std::vector<int> trs;
        for (TreeItem pic : p.Pictures()) {
            const PictureRecord& r = st.pictureRecords.at(pic);
            types += "?IPBD???"[r.picture_coding_type & 7];
            trs.push_back(r.temporal_reference);
            if (s.version != kMpeg2) continue;
            // Field pictures show their parity, and hold half the macroblocks.
            const PictureCodingRecord& c = st.pictureCodingRecords.at(pic);
            const int icon[] = {image::kFramePicture, image::kTopField, image::kBottomField,
                                image::kFramePicture};
            EXPECT_EQ(p.e.tree.GetItemImage(pic), icon[c.picture_structure & 3]);
            EXPECT_EQ(c.mbsInPicture * (c.picture_structure == 3 ? 1 : 2),
                      static_cast<uint32_t>(st.mbCount));
        }
        EXPECT_EQ(types, s.types);
        EXPECT_EQ(trs, s.temporalReferences);
    }
}

TEST(RealStreams, LoadedMatricesAreListedAsRead) {
    if (!test::HaveData("mpeg2-custom-matrix.m2v")) GTEST_SKIP() << "no test data";
    Parsed p({}, test::DataPath("mpeg2-custom-matrix.m2v"));
    ASSERT_TRUE(p.ok);
    // The encoder was given intra = 8 + 2x + 4y and non-intra = 16 + 3x + y.
    const TreeItem intra = p.Find("load_intra_quantizer_matrix=1");
    const TreeItem nonIntra = p.Find("load_non_intra_quantizer_matrix=1");
    EXPECT_EQ(p.FirstChild(intra), "  8, 10, 12, 14, 16, 18, 20, 22");
    EXPECT_EQ(p.e.Text(p.e.tree.GetLastChildItem(intra)), " 36, 38, 40, 42, 44, 46, 48, 50");
    EXPECT_EQ(p.FirstChild(nonIntra), " 16, 19, 22, 25, 28, 31, 34, 37");
    EXPECT_FALSE(IsVirtual(p.e.tree.GetItemData(p.e.tree.GetChildItem(intra))));
    const QuantMatrixRecord& q = p.e.stream.quantMatrixRecords.at(p.Pictures().back());
    for (int i = 0; i < 64; ++i) {
        EXPECT_EQ(q.intra.values[i], 8 + 2 * (i % 8) + 4 * (i / 8));
        EXPECT_EQ(q.chromaNonIntra.values[i], 16 + 3 * (i % 8) + i / 8);
    }
}

// --- damaged input ---

TEST(DamagedStreams, CorruptedBytesNeverCrash) {
    // Deterministic damage: runs of random bytes and of 0xFF (endless "extra" bits).
    for (const char* name :
         {"mpeg1.m1v", "mpeg2-fieldpic.m2v", "mpeg2-custom-matrix.m2v", "mpeg2-ps-mplex.mpg"}) {
        if (!test::HaveData(name)) GTEST_SKIP() << "no test data";
        std::ifstream in(test::DataPath(name), std::ios::binary);
        const std::vector<uint8_t> original(std::istreambuf_iterator<char>(in), {});
        uint64_t x = 0x9E3779B97F4A7C15ull;
        auto next = [&] { return x ^= x << 13, x ^= x >> 7, x ^= x << 17; };
        for (int round = 0; round < 12; ++round) {
            std::vector<uint8_t> data = original;
            for (int i = 0; i < 40; ++i) {
                const size_t at = 16 + next() % (data.size() - 80), len = 1 + next() % 48;
                const bool ones = next() % 4 == 0;
                for (size_t k = 0; k < len; ++k)
                    data[at + k] = ones ? 0xFF : static_cast<uint8_t>(next());
            }
            Parsed p(data);
            EXPECT_TRUE(!p.ok || p.e.stream.videoItem) << name << " round " << round;
        }
    }
}

}  // namespace
}  // namespace bitloupe
