// Image processing: the Processing menu's filters, gamma correction and the selective DCT
// matrix.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "core/image/DctMask.h"
#include "core/image/Filters.h"
#include "core/image/Gamma.h"
#include "core/image/PictureDib.h"
#include "core/syntax/Idct.h"

namespace bitloupe {
namespace {

using Lines = std::vector<std::vector<int>>;

// A picture of grey levels given line by line, top line first.
void Grey(CPictureDib& dib, const Lines& lines) {
    ASSERT_TRUE(dib.Create(int(lines[0].size()), int(lines.size())));
    for (int y = 0; y < dib.Height(); ++y)
        for (int j = 0; j < dib.Width() * 3; ++j) dib.Line(y)[j] = uint8_t(lines[y][j / 3]);
}
int At(const CPictureDib& dib, int x, int y) {
    return int(dib.Pixel(x, y) & 0xFF);
}

// Different values everywhere and in every channel.
void Busy(CPictureDib& dib, int w, int h) {
    ASSERT_TRUE(dib.Create(w, h));
    for (int y = 0; y < h; ++y)
        for (int j = 0; j < w * 3; ++j) dib.Line(y)[j] = uint8_t((y * 37 + j * 11 + j * j) & 0xFF);
}
bool Same(const CPictureDib& a, const CPictureDib& b) {
    return a.Width() == b.Width() && a.Height() == b.Height() &&
           std::memcmp(a.Bits(), b.Bits(), a.ImageSize()) == 0;
}

const Lines kSpot = {
    {0, 0, 0, 0, 0}, {0, 0, 0, 0, 0}, {0, 0, 255, 0, 0}, {0, 0, 0, 0, 0}, {0, 0, 0, 0, 0}};

TEST(Filters, UniformPicture) {
    using F = PictureFilter;
    // filter, interior result, frame result (the outer frame keeps 77 unless emboss).
    const struct {
        F filter;
        int inside, frame;
    } cases[] = {{F::kDeInterlace, 76, 76},  // 38 + 38 and 19 + 38 + 19: shifts of bytes
                 {F::kUniformSmooth, 77, 77},    {F::kGaussianSmooth, 77, 77},
                 {F::kMedianSmooth, 77, 77},     {F::kEdgeBlack, 0, 77},
                 {F::kEdgeWhite, 255, 77},       {F::kEdgeGray, 128, 77},
                 {F::kEmbossLeftUp, 128, 128},   {F::kEmbossRightUp, 128, 128},
                 {F::kEmbossLeftDown, 128, 128}, {F::kEmbossRightDown, 128, 128}};
    CPictureDib dib;
    for (const auto& c : cases) {
        Grey(dib, Lines(6, std::vector<int>(7, 77)));
        ASSERT_EQ(RunFilter(dib, c.filter), FilterResult::kDone);
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x < 7; ++x) {
                const bool frame = x == 0 || x == 6 || y == 0 || y == 5;
                EXPECT_EQ(dib.Pixel(x, y), 0x010101u * (frame ? c.frame : c.inside))
                    << int(c.filter) << " at " << x << "," << y;
            }
    }
}

TEST(Filters, NeighbourhoodFiltersOnASpot) {
    using F = PictureFilter;
    const struct {
        F filter;
        int centre, side, corner;
    } cases[] = {{F::kUniformSmooth, 51, 51, 0},    // 255 / 5
                 {F::kGaussianSmooth, 127, 31, 0},  // 4 * 255 >> 3, 255 >> 3
                 {F::kMedianSmooth, 0, 0, 0},
                 {F::kWeakSharpen, 255, 0, 0},  // 5 * 255 and -255, clamped
                 {F::kStrongSharpen, 255, 0, 0},
                 {F::kEdgeBlack, 255, 255, 0},
                 {F::kEdgeWhite, 0, 0, 255},
                 {F::kEdgeGray, 255, 0, 128}};  // 510 + 128 clamped, (-255 >> 1) + 128
    CPictureDib dib;
    for (const auto& c : cases) {
        Grey(dib, kSpot);
        ASSERT_EQ(RunFilter(dib, c.filter), FilterResult::kDone);
        EXPECT_EQ(At(dib, 2, 2), c.centre) << int(c.filter);
        EXPECT_EQ(At(dib, 1, 2), c.side) << int(c.filter);
        EXPECT_EQ(At(dib, 2, 3), c.side) << int(c.filter);
        EXPECT_EQ(At(dib, 1, 1), c.corner) << int(c.filter);
        EXPECT_EQ(At(dib, 2, 0) + At(dib, 0, 2) + At(dib, 4, 2) + At(dib, 2, 4), 0);
    }
    Grey(dib, {{0, 0, 0}, {0, 30, 0}, {0, 0, 20}});  // strong sharpen sees the diagonals
    RunFilter(dib, F::kStrongSharpen);
    EXPECT_EQ(At(dib, 1, 1), 9 * 30 - 20);
    Grey(dib, {{0, 70, 0}, {10, 50, 90}, {0, 30, 0}});  // the median of five
    RunFilter(dib, F::kMedianSmooth);
    EXPECT_EQ(At(dib, 1, 1), 50);
    dib.Fill(0);           // channels are independent
    dib.Line(1)[5] = 250;  // the centre's red
    RunFilter(dib, F::kUniformSmooth);
    EXPECT_EQ(dib.Pixel(1, 1), 50u);
}

TEST(Filters, VerticalSmoothingAndEmboss) {
    CPictureDib dib;
    Grey(dib, {{200}, {100}, {0}, {40}});
    ASSERT_EQ(RunFilter(dib, PictureFilter::kDeInterlace), FilterResult::kDone);
    EXPECT_EQ(At(dib, 0, 0), 100 + 50);
    EXPECT_EQ(At(dib, 0, 1), 50 + 50 + 0);
    EXPECT_EQ(At(dib, 0, 2), 25 + 0 + 10);
    EXPECT_EQ(At(dib, 0, 3), 0 + 20);
    Grey(dib, {{9, 200}});  // one line: the live version leaves it, and keeps no copy
    ASSERT_EQ(DeInterlace(dib), FilterResult::kDone);
    EXPECT_EQ(At(dib, 1, 0), 200);
    EXPECT_FALSE(dib.HasSavedCopy());

    // Each emboss compares with one diagonal neighbour: only the pixel that has the spot as
    // that neighbour goes dark, the spot itself bright.
    const struct {
        PictureFilter filter;
        int darkX, darkY;
    } cases[] = {{PictureFilter::kEmbossLeftUp, 3, 3},
                 {PictureFilter::kEmbossRightUp, 1, 3},
                 {PictureFilter::kEmbossLeftDown, 3, 1},
                 {PictureFilter::kEmbossRightDown, 1, 1}};
    for (const auto& c : cases) {
        Grey(dib, kSpot);
        ASSERT_EQ(RunFilter(dib, c.filter), FilterResult::kDone);
        int dark = 0;
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 5; ++x) dark += At(dib, x, y) < 128;
        EXPECT_EQ(dark, 1) << int(c.filter);
        EXPECT_EQ(At(dib, c.darkX, c.darkY), 0) << int(c.filter);  // (-255 >> 1) + 128
        EXPECT_EQ(At(dib, 2, 2), 255) << int(c.filter);            // (255 >> 1) + 128
    }
    Busy(dib, 4, 3);  // the line and column without that neighbour become 128
    RunFilter(dib, PictureFilter::kEmbossRightDown);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(dib.Pixel(i, 2), 0x808080u);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(dib.Pixel(3, i), 0x808080u);
}

TEST(Filters, FlipsNegativeAndRestore) {
    CPictureDib dib, decoded;
    Busy(dib, 5, 3);  // odd sizes keep a middle column and line
    ASSERT_TRUE(decoded.CopyFrom(dib));
    RunFilter(dib, PictureFilter::kVerticalFlip);
    EXPECT_EQ(dib.Pixel(1, 0), decoded.Pixel(1, 2));
    RunFilter(dib, PictureFilter::kVerticalFlip);
    EXPECT_TRUE(Same(dib, decoded));
    RunFilter(dib, PictureFilter::kHorizontalFlip);
    EXPECT_EQ(dib.Pixel(0, 1), decoded.Pixel(4, 1));
    EXPECT_EQ(dib.Pixel(3, 1), decoded.Pixel(1, 1));
    RunFilter(dib, PictureFilter::kHorizontalFlip);
    EXPECT_TRUE(Same(dib, decoded));

    // Negative inverts only what the colour mode shows: (blue, green, red) inverted by mode.
    const bool shown[10][3] = {{1, 1, 1}, {1, 1, 1}, {1, 1, 1}, {1, 1, 1}, {0, 0, 1},
                               {0, 1, 0}, {1, 0, 0}, {0, 1, 1}, {1, 0, 1}, {1, 1, 0}};
    for (uint8_t mode = 0; mode < 10; ++mode) {
        CPictureDib p;
        ASSERT_TRUE(p.Create(3, 1));
        p.Fill(10 | 20 << 8 | 30 << 16);
        RunFilter(p, PictureFilter::kNegative, mode);
        const uint32_t want = (shown[mode][2] ? 245 : 10) | (shown[mode][1] ? 235 : 20) << 8 |
                              (shown[mode][0] ? 225 : 30) << 16;
        EXPECT_EQ(p.Pixel(2, 0), want) << int(mode);
        EXPECT_EQ(p.Bits()[9], 0);  // row padding is no pixel
    }

    for (PictureFilter f : {PictureFilter::kStrongSharpen, PictureFilter::kEmbossLeftDown,
                            PictureFilter::kNegative, PictureFilter::kMedianSmooth})
        ASSERT_EQ(RunFilter(dib, f, colour_mode::kCyan), FilterResult::kDone);
    ASSERT_EQ(ApplyGammaTables(dib, {MakeGammaTable(2), MakeGammaTable(0.5), MakeGammaTable(3)}),
              FilterResult::kDone);
    EXPECT_FALSE(Same(dib, decoded));
    ASSERT_TRUE(dib.Restore());
    EXPECT_TRUE(Same(dib, decoded));
}

TEST(Filters, SmallAndEmptyPictures) {
    CPictureDib dib;
    EXPECT_EQ(RunFilter(dib, PictureFilter::kUniformSmooth), FilterResult::kNoPicture);
    EXPECT_EQ(DeInterlace(dib), FilterResult::kNoPicture);
    EXPECT_EQ(ApplyGammaTables(dib, GammaSettings().Tables()), FilterResult::kNoPicture);
    // Fewer than three lines or pixels: no interior, nothing changes. Every filter runs on
    // the narrowest shapes without leaving the picture (checked under the sanitizers).
    for (auto [w, h] : {std::pair{8, 2}, {2, 8}, {1, 1}, {1, 5}, {5, 1}}) {
        CPictureDib original;
        Busy(dib, w, h);
        ASSERT_TRUE(original.CopyFrom(dib));
        for (int f = int(PictureFilter::kUniformSmooth); f <= int(PictureFilter::kEdgeGray); ++f)
            ASSERT_EQ(RunFilter(dib, PictureFilter(f)), FilterResult::kDone);
        EXPECT_TRUE(Same(dib, original)) << w << "x" << h;
        for (int f = 0; f <= int(PictureFilter::kHorizontalFlip); ++f)
            EXPECT_EQ(RunFilter(dib, PictureFilter(f)), FilterResult::kDone);
    }
}

TEST(Gamma, SliderAndTables) {
    EXPECT_DOUBLE_EQ(SliderToGamma(-100, 4, 0.25), 4.0);
    EXPECT_DOUBLE_EQ(SliderToGamma(0, 4, 0.25), 1.0);
    EXPECT_DOUBLE_EQ(SliderToGamma(100, 4, 0.25), 0.25);
    EXPECT_DOUBLE_EQ(SliderToGamma(-50, 4, 0.25), 2.5);
    for (int p = -100; p <= 100; ++p)
        EXPECT_EQ(GammaToSlider(SliderToGamma(p, 4, 0.25), 4, 0.25), p);
    EXPECT_EQ(GammaToSlider(1.015, 3, 1.0 / 3), -1);  // -0.75: halves and more away from zero
    EXPECT_EQ(GammaToSlider(1.005, 3, 1.0 / 3), 0);
    EXPECT_EQ(GammaToSlider(9, 4, 0.25), -100);  // beyond the range: the slider's end

    const GammaTable identity = MakeGammaTable(1.0);
    for (int i = 0; i < 256; ++i) EXPECT_EQ(identity[i], i);
    for (double g : {0.1, 0.25, 2.0, 10.0, 0.0, -3.0, 1e9}) {
        const GammaTable t = MakeGammaTable(g);
        EXPECT_EQ(t[0], 0) << g;
        EXPECT_EQ(t[255], 255) << g;
    }
    EXPECT_EQ(MakeGammaTable(2.0)[128], 64);  // 255 * (128/255)^2 = 64.25: darker
    EXPECT_EQ(MakeGammaTable(0.5)[64], 128);  // 255 * sqrt(64/255) = 127.75: brighter
}

TEST(Gamma, DialogRules) {
    for (const char* t : {"12", "0.05", "", "abc", "nan", "1e400"})
        EXPECT_FALSE(ParseGammaText(t)) << t;
    EXPECT_EQ(ParseGammaText(" 2.5"), 2.5);
    for (const char* t : {"10.5", "1", "0.5", "-4"}) EXPECT_FALSE(ParseGammaMaximum(t)) << t;
    EXPECT_EQ(MinimumGammaText(8, "8"), "1/8");  // "0.125" is too long beside "8"
    EXPECT_EQ(MinimumGammaText(8, "8.000"), "0.125");

    GammaSettings s;
    EXPECT_EQ(s.MaximumText(), "4");
    EXPECT_EQ(s.MinimumText(), "1/4");
    EXPECT_EQ(s.GammaText(GammaSettings::kBlue), "1");
    s.SetPosition(GammaSettings::kRed, -100);  // linked: all follow red
    EXPECT_DOUBLE_EQ(s.Gamma(GammaSettings::kBlue), 4.0);
    s.SetLinked(false);
    s.SetPosition(GammaSettings::kBlue, 100);
    EXPECT_DOUBLE_EQ(s.Gamma(GammaSettings::kBlue), 0.25);
    EXPECT_DOUBLE_EQ(s.Gamma(GammaSettings::kRed), 4.0);
    EXPECT_FALSE(s.SetGammaText(GammaSettings::kGreen, "12"));
    ASSERT_TRUE(s.SetGammaText(GammaSettings::kGreen, "3"));
    EXPECT_EQ(s.Position(GammaSettings::kGreen), -67);

    ASSERT_TRUE(s.SetMaximumText("2"));  // clamps 3 to 2 and 0.25 to 0.5
    EXPECT_EQ(s.MinimumText(), "0.5");
    EXPECT_EQ(s.GammaText(GammaSettings::kGreen), "2");
    EXPECT_EQ(s.Position(GammaSettings::kGreen), -100);
    EXPECT_EQ(s.GammaText(GammaSettings::kBlue), "0.5");
    s.SetPosition(GammaSettings::kRed, 50);
    s.SetLinked(true);  // linking copies red's position
    EXPECT_EQ(s.Position(GammaSettings::kBlue), 50);
    EXPECT_DOUBLE_EQ(s.Gamma(GammaSettings::kGreen), 0.75);

    CPictureDib dib, original, preview;
    Busy(dib, 5, 4);
    ASSERT_TRUE(original.CopyFrom(dib));
    ASSERT_EQ(ApplyGammaTables(dib, GammaSettings().Tables()), FilterResult::kDone);
    EXPECT_TRUE(Same(dib, original));  // all gammas 1: unchanged
    GammaTables t{};
    t.red.fill(1), t.green.fill(2), t.blue.fill(3);
    ASSERT_TRUE(MapThroughGammaTables(dib, preview, t));
    EXPECT_EQ(preview.Pixel(4, 3), 1u | 2u << 8 | 3u << 16);
    EXPECT_TRUE(Same(dib, original));
}

TEST(DctMask, TextRules) {
    const std::string ones = AllOnesText();
    EXPECT_EQ(ones.size(), 78u);
    EXPECT_EQ(ones.substr(0, 10), "11111111\r\n");
    EXPECT_EQ(MaskToText(AllOnesMask()), ones);
    DctMask m = AllOnesMask();
    m[2 * 8 + 5] = 0;
    m[63] = 7;  // anything but 0 shows as 1
    const std::string text = MaskToText(m);
    EXPECT_EQ(text[5 + 10 * 2], '0');
    EXPECT_EQ(MaskFromText(text), (m[63] = 1, m));
    const DctMask shortMask = MaskFromText("0x0\r\n0");  // missing positions are 1
    EXPECT_EQ(shortMask[0] + shortMask[1] + shortMask[2] + shortMask[8] + shortMask[9], 3);

    m = MaskFromText(ApplyIndexText(AllZerosText(), "(1,2)(3,4)", '1'));
    for (int i = 0; i < 64; ++i) EXPECT_EQ(m[i], i == 2 * 8 + 1 || i == 4 * 8 + 3) << i;
    // (8,1) and (a,2) are skipped, only offsets 1 and 3 are read, a short last group ends it.
    m = MaskFromText(ApplyIndexText(AllZerosText(), "(8,1)(a,2)[0;7]!7,0?(5,5", '1'));
    for (int i = 0; i < 64; ++i) EXPECT_EQ(m[i], i == 7 * 8 || i == 7) << i;
    const std::string restored = ApplyIndexText("0000", "(7,7)", '0');  // shortened by hand
    ASSERT_EQ(restored.size(), 78u);
    m = MaskFromText(restored);
    EXPECT_EQ(m[0] + m[3] + m[4] + m[63], 0 + 0 + 1 + 0);
}

TEST(DctMask, AppliedBeforeTheInverseDct) {
    int16_t block[64], copy[64];
    for (int i = 0; i < 64; ++i) block[i] = int16_t(i * 3 - 90);
    std::memcpy(copy, block, sizeof block);
    SelectiveDct dct;
    dct.mask = MaskFromText(AllZerosText());
    dct.Apply(block);  // disabled
    dct.enabled = true;
    dct.mask = AllOnesMask();
    dct.Apply(block);
    EXPECT_EQ(std::memcmp(block, copy, sizeof block), 0);

    // Only (0,0): the block shows its DC level alone, a flat square.
    dct.mask = MaskFromText(ApplyIndexText(AllZerosText(), "(0,0)", '1'));
    block[0] = 800;
    dct.Apply(block);
    CIdct idct;
    idct.FastIdct(block);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(block[i], 100);  // 800 / 8
    // "All Zeros" masks the DC as well: an intra block is level 0 before the +128.
    std::memcpy(block, copy, sizeof block);
    dct.mask = MaskFromText(AllZerosText());
    dct.Apply(block);
    idct.FastIdct(block);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(block[i], 0);
}

}  // namespace
}  // namespace bitloupe
