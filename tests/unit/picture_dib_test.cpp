// The picture bitmap: colour conversion and colour modes, painting and filling, the saved
// copy, snapshots from screen pixels, and the BMP writers, whose files are read back by a
// small BMP reader of the test's own.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/image/PictureDib.h"

namespace bitloupe {
namespace {

uint32_t Rgb(int r, int g, int b) {
    return uint32_t(r) | uint32_t(g) << 8 | uint32_t(b) << 16;
}

TEST(ColourConversion, LevelsAndKnownColours) {
    for (int code = 0; code < 8; ++code) {
        EXPECT_EQ(YCbCrToColour(16, 128, 128, ColourFactorsFor(code)), 0u);
        EXPECT_EQ(YCbCrToColour(235, 128, 128, ColourFactorsFor(code)), 0xFFFFFFu);
    }
    const ColourFactors f = ColourFactorsFor(5);
    EXPECT_EQ(YCbCrToColour(81, 90, 240, f), Rgb(254, 0, 0));       // studio-range red
    EXPECT_EQ(YCbCrToColour(128, 100, 160, f), Rgb(181, 115, 74));  // nothing clipped
    EXPECT_EQ(YCbCrToColour(255, 0, 255, f), Rgb(255, 225, 20));    // clipped, not wrapped
    EXPECT_EQ(ConvertYCbCr(46, 161, 128, f).blue, 102);             // blue rounds with 32786
    EXPECT_EQ(GreyColour(f), Rgb(130, 130, 130));
    EXPECT_EQ(ColourFactorsFor(9).cgv, f.cgv);  // codes without a row take row 5
    EXPECT_EQ(ColourFactorsFor(-1).crv, f.crv);
}

TEST(ColourConversion, FollowsTheMatrixOfEveryRow) {
    auto ref = [](double x) { return std::fmin(255, std::fmax(0, x)); };
    for (int code = 0; code < 8; ++code) {
        const ColourFactors f = ColourFactorsFor(code);
        for (int y = 0; y < 256; y += 17)
            for (int u = -128; u < 128; u += 15)
                for (int v = -128; v < 128; v += 15) {
                    const double l = (y - 16) * 76309 / 65536.0;
                    const Bgr c = ConvertYCbCr(uint8_t(y), uint8_t(u + 128), uint8_t(v + 128), f);
                    EXPECT_NEAR(c.red, ref(l + v * f.crv / 65536.0), 1.0);
                    EXPECT_NEAR(c.green, ref(l - (v * f.cgv + u * f.cgu) / 65536.0), 1.0);
                    EXPECT_NEAR(c.blue, ref(l + u * f.cbu / 65536.0), 1.0);
                }
    }
}

// Rows of samples convert exactly as one sample does, with every matrix, for every Y and Cb
// and a spread of Cr, in rows whose length leaves a tail after the runs of 16.
TEST(ColourConversion, RowsConvertAsSingleSamples) {
    std::vector<uint8_t> y(261), cb(261), cr(261), bgr(3 * 261);
    for (int code = 0; code < 8; ++code) {
        const ColourFactors f = ColourFactorsFor(code);
        for (int luma = 0; luma < 256; ++luma)
            for (int v = 0; v < 256; v += v == 252 ? 3 : 4) {
                for (int i = 0; i < 261; ++i) {
                    y[i] = uint8_t(luma);
                    cb[i] = uint8_t(i);
                    cr[i] = uint8_t(v ^ (i >> 8));
                }
                ConvertSamplesToBgr(bgr.data(), y.data(), cb.data(), cr.data(), 261, f);
                for (int i = 0; i < 261; ++i) {
                    const Bgr e = ConvertYCbCr(y[i], cb[i], cr[i], f);
                    ASSERT_TRUE(bgr[3 * i] == e.blue && bgr[3 * i + 1] == e.green &&
                                bgr[3 * i + 2] == e.red)
                        << "matrix " << code << " Y " << luma << " Cb " << int(cb[i]) << " Cr "
                        << int(cr[i]);
                }
            }
    }
    // A picture line in every colour mode, as WritePixel writes each pixel.
    CPictureDib dib;
    ASSERT_TRUE(dib.Create(261, 1));
    const ColourFactors f = ColourFactorsFor(5);
    for (int i = 0; i < 261; ++i) y[i] = uint8_t(i * 7), cr[i] = uint8_t(255 - i);
    for (uint8_t mode = 0; mode < 11; ++mode) {
        ASSERT_TRUE(dib.ConvertFromPlanes(y.data(), cb.data(), cr.data(), 261, 1, 0, mode, f));
        for (int i = 0; i < 261; ++i) {
            uint8_t px[3];
            WritePixel(px, y[i], cb[i], cr[i], mode, f);
            ASSERT_EQ(std::memcmp(dib.Line(0) + 3 * i, px, 3), 0)
                << "mode " << int(mode) << " " << i;
        }
    }
}

TEST(ColourConversion, ModesAndMacroblocks) {
    const ColourFactors f = ColourFactorsFor(5);
    // Y 128, Cb 100, Cr 160 is red 181, green 115, blue 74. Expected blue, green, red by mode;
    // unknown modes show the normal picture.
    const uint8_t want[][3] = {{74, 115, 181}, {128, 128, 128}, {100, 100, 100}, {160, 160, 160},
                               {0, 0, 181},    {0, 115, 0},     {74, 0, 0},      {0, 115, 181},
                               {74, 0, 181},   {74, 115, 0},    {74, 115, 181}};
    for (int mode = 0; mode < 11; ++mode) {
        uint8_t px[3];
        WritePixel(px, 128, 100, 160, uint8_t(mode), f);
        EXPECT_EQ(std::vector<uint8_t>(px, px + 3),
                  std::vector<uint8_t>(want[mode], want[mode] + 3))
            << mode;
    }
    // Only the low byte of a sample counts; live de-interlacing smooths rows 0 / 255.
    int16_t y[256], c[256];
    for (int i = 0; i < 256; ++i) y[i] = int16_t(256 + ((i / 16) % 2 ? 255 : 0)), c[i] = 128;
    ColourMacroblock mb;
    ConvertMacroblockToColour(mb, y, c, c, colour_mode::kY, f, false);
    EXPECT_EQ(mb.rows[0][0], 0);
    EXPECT_EQ(mb.rows[1][47], 255);
    ConvertMacroblockToColour(mb, y, c, c, colour_mode::kY, f, true);
    EXPECT_EQ(mb.rows[0][5], 127);
    EXPECT_EQ(mb.rows[2][5], 63 + 0 + 63);
    EXPECT_EQ(mb.rows[3][5], 0 + 127 + 0);
    EXPECT_EQ(mb.rows[15][47], 127);
}

// Every pixel (x, line) gets its own colour.
void Pattern(CPictureDib& dib) {
    for (int line = 0; line < dib.Height(); ++line)
        for (int x = 0; x < dib.Width(); ++x) {
            uint8_t* p = dib.Line(line) + x * 3;
            p[0] = uint8_t(x), p[1] = uint8_t(line), p[2] = uint8_t(x * 7 + line * 13);
        }
}
uint32_t PatternColour(int x, int line) {
    return Rgb((x * 7 + line * 13) & 0xFF, line, x);
}

// Blocks small and large read as zero, hold what is written to their last byte, and a large
// one that is dropped and made again is zero again.
TEST(ZeroedMemory, BlocksOfEverySizeStartAtZero) {
    for (size_t n : {size_t{0}, size_t{1}, size_t{4000}, size_t{3} << 20, size_t{64} << 20}) {
        for (int round = 0; round < 2; ++round) {
            ZeroedBlock b(AllocateZeroed(n));
            ASSERT_NE(b, nullptr) << n;
            for (size_t i = 0; i < n; i += 4093) ASSERT_EQ(b[i], 0) << n << " at " << i;
            if (n) {
                ASSERT_EQ(b[n - 1], 0);
                std::memset(b.get(), 0xAB, n);
                EXPECT_EQ(b[n - 1], 0xAB);
            }
        }
    }
    EXPECT_EQ(AllocateZeroed(SIZE_MAX), nullptr);
}

TEST(PictureDib, CreateFillAndSavedCopy) {
    CPictureDib dib;
    ASSERT_TRUE(dib.Create(7, 3));
    EXPECT_EQ(dib.Stride(), 24u);  // 21 bytes of pixels padded to 4
    dib.Fill(Rgb(1, 2, 3));
    EXPECT_EQ(dib.Pixel(6, 2), Rgb(1, 2, 3));
    EXPECT_EQ(dib.Bits()[21], 0);
    ASSERT_TRUE(dib.SaveCopy());
    ASSERT_TRUE(dib.Create(7, 3));  // the same size keeps pixels and copy
    dib.Fill(Rgb(4, 4, 4));
    ASSERT_TRUE(dib.SaveCopy());  // a copy exists: the first one stays
    ASSERT_TRUE(dib.Restore());
    EXPECT_EQ(dib.Pixel(0, 0), Rgb(1, 2, 3));
    ASSERT_TRUE(dib.Create(8, 3));  // another size: cleared, and no copy to restore
    EXPECT_EQ(dib.Pixel(6, 2), 0u);
    EXPECT_FALSE(dib.Restore());

    for (auto [w, h] : {std::pair{0, 16}, {16, -1}, {40000, 1}, {30000, 30000}}) {
        EXPECT_FALSE(dib.Create(w, h));
        EXPECT_FALSE(dib.HasPixels());
        dib.Fill(0);  // harmless on an empty bitmap
        dib.PaintMacroblock(ColourMacroblock{}, 0, false);
        EXPECT_FALSE(dib.SaveCopy());
    }
}

TEST(PictureDib, FieldFillCoversTheFocusLinesAtFullWidth) {
    CPictureDib dib;
    ASSERT_TRUE(dib.Create(7, 10));
    dib.SetFocus({2, 3, 4, 7});
    dib.FillFieldLines(CPictureDib::kTopFieldLines, Rgb(255, 0, 0));
    dib.FillFieldLines(CPictureDib::kBottomFieldLines, Rgb(0, 0, 255));
    for (int line = 0; line < 10; ++line) {
        const uint32_t want = line < 3 || line > 7 ? 0 : line % 2 ? Rgb(255, 0, 0) : Rgb(0, 0, 255);
        EXPECT_EQ(dib.Pixel(0, line), want) << line;
        EXPECT_EQ(dib.Pixel(6, line), want) << line;
    }
    dib.SetFocus({-5, 8, 100, 40});  // clipped to the picture
    dib.FillFieldLines(CPictureDib::kAllLines, Rgb(1, 1, 1));
    EXPECT_EQ(dib.Pixel(6, 9), Rgb(1, 1, 1));
    EXPECT_EQ(dib.Pixel(6, 7), Rgb(255, 0, 0));
}

ColourMacroblock Numbered(int x, int y) {
    ColourMacroblock mb;
    for (int i = 0; i < 16; ++i) std::fill_n(mb.rows[i], 48, uint8_t(i + 1));
    mb.x = x, mb.y = y;
    return mb;
}
uint32_t Row(int i) {
    return Rgb(i + 1, i + 1, i + 1);
}

TEST(PictureDib, PaintMacroblock) {
    CPictureDib dib;
    ASSERT_TRUE(dib.Create(48, 64));
    dib.PaintMacroblock(Numbered(16, 16), CPictureDib::kTopFieldLines, false);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(dib.Pixel(31, 16 + i), i % 2 ? 0u : Row(i));
    EXPECT_EQ(dib.Pixel(15, 16) | dib.Pixel(32, 16) | dib.Pixel(16, 32), 0u);
    dib.PaintMacroblock(Numbered(32, 32), CPictureDib::kAllLines, true);  // a slice goes on
    EXPECT_EQ(dib.Pixel(40, 47), Row(15));
    EXPECT_EQ(dib.Focus().x0, 16);
    EXPECT_EQ(dib.Focus().y0, 16);
    EXPECT_EQ(dib.Focus().x1, 47);
    EXPECT_EQ(dib.Focus().y1, 47);

    // Field pictures: every second line of the field, the focus 32 lines high.
    dib.Fill(0);
    dib.SetPictureStructure(CPictureDib::kBottomField);
    dib.PaintMacroblock(Numbered(0, 16), CPictureDib::kAllLines, false);
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(dib.Pixel(0, 33 + 2 * i), Row(i));
        EXPECT_EQ(dib.Pixel(0, 32 + 2 * i), 0u);
    }
    EXPECT_EQ(dib.Focus().y0, 33);
    EXPECT_EQ(dib.Focus().y1, 64);  // one line below the picture, clipped where it is used
    dib.SetPictureStructure(CPictureDib::kTopField);
    dib.PaintMacroblock(Numbered(16, 0), CPictureDib::kAllLines, false);
    EXPECT_EQ(dib.Pixel(16, 30), Row(15));
}

TEST(PictureDib, PaintMacroblockClipsToThePicture) {
    CPictureDib dib;
    ASSERT_TRUE(dib.Create(20, 20));
    dib.PaintMacroblock(Numbered(12, 10), CPictureDib::kAllLines, false);
    dib.PaintMacroblock(Numbered(-8, -8), CPictureDib::kAllLines, false);
    EXPECT_EQ(dib.Pixel(19, 19), Row(9));
    EXPECT_EQ(dib.Pixel(0, 0), Row(8));
    EXPECT_EQ(dib.Pixel(8, 0), 0u);
    dib.SetPictureStructure(CPictureDib::kBottomField);
    for (int v : {INT32_MIN, -17, 20, INT32_MAX}) {  // nothing inside, no fault
        dib.PaintMacroblock(Numbered(v, 0), CPictureDib::kAllLines, false);
        dib.PaintMacroblock(Numbered(0, v), CPictureDib::kAllLines, false);
    }
    EXPECT_EQ(dib.Pixel(19, 19), Row(9));
}

TEST(PictureDib, ConvertFromPlanesByFieldLines) {
    std::vector<uint8_t> y(16), c(16, 128);
    for (int i = 0; i < 16; ++i) y[i] = uint8_t(16 + i * 10);
    CPictureDib dib;
    ASSERT_TRUE(dib.Create(4, 4));
    const ColourFactors f = ColourFactorsFor(5);
    ASSERT_TRUE(dib.ConvertFromPlanes(y.data(), c.data(), c.data(), 4, 4,
                                      CPictureDib::kBottomFieldLines, colour_mode::kY, f));
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(dib.Pixel(i % 4, i / 4), (i / 4) % 2 ? Row(y[i] - 1) : 0u);
    EXPECT_FALSE(dib.ConvertFromPlanes(y.data(), c.data(), c.data(), 4, 5, 0, 0, f));
}

TEST(PictureDib, CopiesAndScreenBitmaps) {
    CPictureDib a, dib;
    ASSERT_TRUE(a.Create(5, 2));
    Pattern(a);
    ASSERT_TRUE(dib.CopyFrom(a));
    EXPECT_EQ(dib.Pixel(4, 1), PatternColour(4, 1));

    // Screen rows are top-down; the 24-bit line here is 3 pixels and 3 bytes of padding.
    const uint8_t rgb24[] = {1,  2,  3,  4,  5,  6,  7,  8,  9,  0xEE, 0xEE, 0xEE,
                             10, 11, 12, 13, 14, 15, 16, 17, 18, 0xEE, 0xEE, 0xEE};
    ASSERT_TRUE(dib.CreateFromScreenBitmap({rgb24, 3, 2, 24, 12}));
    EXPECT_EQ(dib.Pixel(0, 0), Rgb(3, 2, 1));
    EXPECT_EQ(dib.Pixel(2, 1), Rgb(18, 17, 16));
    EXPECT_EQ(dib.Bits()[9], 0);
    const uint8_t rgb32[] = {1, 2, 3, 0xFF, 4, 5, 6, 0xFF};
    ASSERT_TRUE(dib.CreateFromScreenBitmap({rgb32, 1, 2, 32, 4}));
    EXPECT_EQ(dib.Pixel(0, 1), Rgb(6, 5, 4));
    const uint16_t word = 0b10001'101010'00011;  // 5-6-5: green's top five bits are used
    const uint8_t rgb16[] = {uint8_t(word), uint8_t(word >> 8), 0xFF, 0xFF};
    ASSERT_TRUE(dib.CreateFromScreenBitmap({rgb16, 2, 1, 16, 4}));
    EXPECT_EQ(dib.Pixel(0, 0), Rgb(17 * 8, 21 * 8, 3 * 8));
    EXPECT_EQ(dib.Pixel(1, 0), Rgb(248, 248, 248));

    EXPECT_FALSE(dib.CreateFromScreenBitmap({rgb24, 3, 2, 8, 12}));
    EXPECT_FALSE(dib.HasPixels());
    EXPECT_FALSE(dib.CreateFromScreenBitmap({rgb24, 3, 2, 24, 8}));  // lines too short
    EXPECT_FALSE(dib.CreateFromScreenBitmap({nullptr, 3, 2, 24, 12}));
}

// A BMP file read back: every header field must be the standard one for a 24-bit bottom-up
// picture; returns the pixels, top line first, or nothing.
std::vector<std::vector<uint32_t>> ReadBmp(const std::string& path, int width, int height) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> d((std::istreambuf_iterator<char>(in)), {});
    auto u = [&](size_t o, int n) {
        uint32_t v = 0;
        for (int i = n - 1; i >= 0; --i) v = v << 8 | d[o + i];
        return v;
    };
    const size_t rowBytes = (size_t(width) * 3 + 3) / 4 * 4;
    const size_t size = 54 + rowBytes * height;
    EXPECT_EQ(d.size(), size);
    if (d.size() != size) return {};
    // offset, bytes, value: "BM", file size, reserved, offset, 40, width, height, 1 plane,
    // 24 bits, and zero compression, image size, resolutions and colour counts.
    const uint32_t fields[][3] = {{0, 2, 19778},
                                  {2, 4, uint32_t(size)},
                                  {6, 4, 0},
                                  {10, 4, 54},
                                  {14, 4, 40},
                                  {18, 4, uint32_t(width)},
                                  {22, 4, uint32_t(height)},
                                  {26, 2, 1},
                                  {28, 2, 24},
                                  {30, 4, 0},
                                  {34, 4, 0},
                                  {38, 4, 0},
                                  {42, 4, 0},
                                  {46, 4, 0},
                                  {50, 4, 0}};
    for (auto [o, n, v] : fields) EXPECT_EQ(u(o, int(n)), v) << "offset " << o;
    std::vector<std::vector<uint32_t>> lines(height);
    for (int k = 0; k < height; ++k) {
        const size_t row = 54 + k * rowBytes;
        for (int x = 0; x < width; ++x) {
            const uint32_t bgr = u(row + x * 3, 3);  // blue in the low byte
            lines[height - 1 - k].push_back(Rgb(bgr >> 16, (bgr >> 8) & 0xFF, bgr & 0xFF));
        }
        for (size_t j = width * 3; j < rowBytes; ++j) EXPECT_EQ(d[row + j], 0) << "padding";
    }
    return lines;
}

class BmpWriters : public ::testing::Test {
  protected:
    void SetUp() override {
        char name[] = "/tmp/bitloupe-dib-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir_ = name;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string Path(const std::string& name) const { return dir_ + "/" + name; }
    std::string dir_;
};

TEST_F(BmpWriters, WholePictureAndFieldsAtEveryRowPadding) {
    for (int w : {1, 2, 3, 4, 5}) {
        CPictureDib dib;
        ASSERT_TRUE(dib.Create(w, 7));  // odd height: each field file holds 3 lines
        Pattern(dib);
        ASSERT_EQ(dib.Save(Path("whole.bmp")), BmpResult::kOk);
        ASSERT_EQ(dib.SaveField(Path("top.bmp"), false), BmpResult::kOk);
        ASSERT_EQ(dib.SaveField(Path("bottom.bmp"), true), BmpResult::kOk);
        const auto whole = ReadBmp(Path("whole.bmp"), w, 7);
        const auto top = ReadBmp(Path("top.bmp"), w, 3);
        const auto bottom = ReadBmp(Path("bottom.bmp"), w, 3);
        ASSERT_FALSE(whole.empty() || top.empty() || bottom.empty());
        for (int x = 0; x < w; ++x) {
            for (int line = 0; line < 7; ++line) EXPECT_EQ(whole[line][x], PatternColour(x, line));
            for (int k = 0; k < 3; ++k) {
                EXPECT_EQ(top[k][x], PatternColour(x, 2 * k));
                EXPECT_EQ(bottom[k][x], PatternColour(x, 2 * k + 1));
            }
        }
    }
}

TEST_F(BmpWriters, FocusWithBackgroundAndFocusOnly) {
    CPictureDib dib;
    ASSERT_TRUE(dib.Create(9, 6));
    Pattern(dib);
    dib.SetFocus({6, 2, 8, 4});  // at the right edge, 3 pixels wide
    const uint32_t bg = Rgb(0xC0, 0xB0, 0xA0);
    ASSERT_EQ(dib.SaveFocusWithBackground(Path("big.bmp"), bg), BmpResult::kOk);
    ASSERT_EQ(dib.SaveFocusOnly(Path("small.bmp")), BmpResult::kOk);
    const auto big = ReadBmp(Path("big.bmp"), 9, 6);
    const auto small = ReadBmp(Path("small.bmp"), 3, 3);
    ASSERT_FALSE(big.empty() || small.empty());
    for (int line = 0; line < 6; ++line)
        for (int x = 0; x < 9; ++x) {
            const bool inside = x >= 6 && line >= 2 && line <= 4;
            EXPECT_EQ(big[line][x], inside ? PatternColour(x, line) : bg);
            if (inside) {
                EXPECT_EQ(small[line - 2][x - 6], PatternColour(x, line));
            }
        }

    dib.SetFocus({0, 3, 4, 6});  // a bottom-field rectangle one line past the picture
    ASSERT_EQ(dib.SaveFocusOnly(Path("clip.bmp")), BmpResult::kOk);
    EXPECT_EQ(ReadBmp(Path("clip.bmp"), 5, 3).at(2).at(4), PatternColour(4, 5));
    dib.SetFocus({9, 0, 12, 3});  // nothing inside
    EXPECT_EQ(dib.SaveFocusOnly(Path("none.bmp")), BmpResult::kNoData);
    ASSERT_EQ(dib.SaveFocusWithBackground(Path("bg.bmp"), bg), BmpResult::kOk);
    EXPECT_EQ(ReadBmp(Path("bg.bmp"), 9, 6).at(3).at(7), bg);
}

TEST_F(BmpWriters, FailuresAreReported) {
    CPictureDib dib;
    EXPECT_EQ(dib.Save(Path("a.bmp")), BmpResult::kNoData);
    EXPECT_EQ(dib.SaveFocusWithBackground(Path("a.bmp"), 0), BmpResult::kNoData);
    ASSERT_TRUE(dib.Create(64, 1));
    EXPECT_EQ(dib.SaveField(Path("a.bmp"), false), BmpResult::kNoData);  // a field of no line
    EXPECT_FALSE(std::filesystem::exists(Path("a.bmp")));
    EXPECT_STREQ(BmpResultMessage(BmpResult::kNoData).text, "No valid data for saving!");
    EXPECT_EQ(dib.Save(Path("missing-folder/a.bmp")), BmpResult::kCannotCreate);

    // A file that cannot grow beyond 100 bytes: the write fails and the stump is removed.
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 100;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const BmpResult result = dib.Save(Path("big.bmp"));
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(result, BmpResult::kCannotWrite);
    EXPECT_FALSE(std::filesystem::exists(Path("big.bmp")));
}

}  // namespace
}  // namespace bitloupe
