// Decoding checked end to end through bitloupe-cli: every frame of the test streams against
// the reference planes in tests/data/ref (from an independent decoder), luma and chroma at its
// coded resolution, by PSNR; the BMP that
// `decode` writes; and the exit codes of the decoding commands on bad input.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "TestUtil.h"
#include "core/image/PictureDib.h"

namespace {

using bitloupe::test::DataPath;
using bitloupe::test::HaveData;

// A path in the temporary directory, removed when the object goes.
class TempPath {
  public:
    explicit TempPath(const std::string& suffix) {
        char name[] = "/tmp/bitloupe-decode-XXXXXX";
        const int fd = mkstemp(name);
        if (fd >= 0) close(fd);
        path_ = std::string(name) + suffix;
        std::rename(name, path_.c_str());
    }
    ~TempPath() { std::remove(path_.c_str()); }
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

constexpr int kCrashed = -1;

// Runs bitloupe-cli with the arguments; standard output goes to stdoutPath (or nowhere),
// standard error to stderrPath (or nowhere). Returns the exit code, or kCrashed when the
// process died from a signal.
int RunCli(const std::vector<std::string>& args, const std::string& stdoutPath = "",
           const std::string& stderrPath = "") {
    std::vector<std::string> all{BITLOUPE_CLI};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        auto redirect = [](const std::string& path, int target) {
            const int fd =
                open(path.empty() ? "/dev/null" : path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd >= 0) dup2(fd, target);
        };
        redirect(stdoutPath, 1);
        redirect(stderrPath, 2);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid) return kCrashed;
    return WIFEXITED(status) ? WEXITSTATUS(status) : kCrashed;
}

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

double Psnr(const uint8_t* a, const uint8_t* b, size_t n) {
    double se = 0;
    for (size_t i = 0; i < n; ++i) {
        const double d = static_cast<double>(a[i]) - static_cast<double>(b[i]);
        se += d * d;
    }
    if (se == 0) return 99.0;
    return 10.0 * std::log10(255.0 * 255.0 / (se / static_cast<double>(n)));
}

struct StreamCase {
    const char* file;
    const char* reference;  // in ref/, without the extension: .gray luma, .cbcr chroma
    int width, height;
    int chromaFormat;  // 1 4:2:0, 2 4:2:2
    // Display-order frames whose references come before the stream's first byte; none here,
    // as every stream starts with a closed GOP (the open GOPs come second and predict from
    // pictures inside the stream).
    std::set<int> excused;
};

const StreamCase kStreams[] = {
    {"mpeg1.m1v", "mpeg1", 168, 120, 1, {}},
    {"mpeg1-system.mpg", "mpeg1", 168, 120, 1, {}},
    {"mpeg1-system-mplex.mpg", "mpeg1", 168, 120, 1, {}},
    {"mpeg2-progressive.m2v", "mpeg2-progressive", 176, 144, 1, {}},
    {"mpeg2-ps.mpg", "mpeg2-progressive", 176, 144, 1, {}},
    {"mpeg2-custom-matrix.m2v", "mpeg2-custom-matrix", 176, 144, 1, {}},
    {"mpeg2-interlaced.m2v", "mpeg2-interlaced", 176, 144, 1, {}},
    {"mpeg2-422.m2v", "mpeg2-422", 176, 144, 2, {}},
    {"mpeg2-fieldpic.m2v", "mpeg2-fieldpic", 352, 288, 1, {}},
    {"mpeg2-ps-mplex.mpg", "mpeg2-ps-mplex", 176, 144, 1, {}},
    {"mpeg2-in-mpeg1-system.mpg", "mpeg2-progressive", 176, 144, 1, {}},
    {"mpeg2-ac3-in-mpeg1-system.mpg", "mpeg2-progressive", 176, 144, 1, {}},
    {"mpeg1-in-mpeg2-ps.mpg", "mpeg1", 168, 120, 1, {}},
};

// Names the case by its file in test listings.
void PrintTo(const StreamCase& k, std::ostream* os) {
    *os << k.file;
}

// Two correct decoders differ only by the rounding of their inverse DCTs.
constexpr double kMinPsnr = 60.0;

class DecodePsnr : public testing::TestWithParam<StreamCase> {};

// `frames --format yuv`: luma and both chroma planes at the stream's chroma resolution.
TEST_P(DecodePsnr, EveryFrameMatchesTheReference) {
    const StreamCase& k = GetParam();
    const std::string ref = std::string("ref/") + k.reference;
    if (!HaveData(k.file) || !HaveData(ref + ".gray") || !HaveData(ref + ".cbcr"))
        GTEST_SKIP() << "test data missing";
    const TempPath out(".yuv");
    ASSERT_EQ(RunCli({"frames", DataPath(k.file), "-o", out.path(), "--format", "yuv", "--order",
                      "display"}),
              0);
    const auto got = ReadAll(out.path());
    const auto luma = ReadAll(DataPath(ref + ".gray"));
    const auto chroma = ReadAll(DataPath(ref + ".cbcr"));
    const size_t lumaBytes = static_cast<size_t>(k.width) * k.height;
    const size_t chromaBytes = static_cast<size_t>((k.width + 1) / 2) *
                               (k.chromaFormat == 1 ? (k.height + 1) / 2 : k.height);
    const size_t frameBytes = lumaBytes + 2 * chromaBytes;
    ASSERT_EQ(luma.size() % lumaBytes, 0u);
    const size_t frames = luma.size() / lumaBytes;
    ASSERT_EQ(chroma.size(), frames * 2 * chromaBytes);
    ASSERT_EQ(got.size() % frameBytes, 0u) << "output is not whole frames";
    ASSERT_EQ(got.size() / frameBytes, frames) << "frame count";

    const char* const names[3] = {"Y", "Cb", "Cr"};
    double minimum[3] = {1000, 1000, 1000};
    for (size_t f = 0; f < frames; ++f) {
        if (k.excused.count(static_cast<int>(f))) continue;
        const uint8_t* ours = got.data() + f * frameBytes;
        const uint8_t* theirs[3] = {luma.data() + f * lumaBytes,
                                    chroma.data() + f * 2 * chromaBytes,
                                    chroma.data() + (f * 2 + 1) * chromaBytes};
        const uint8_t* planes[3] = {ours, ours + lumaBytes, ours + lumaBytes + chromaBytes};
        for (int c = 0; c < 3; ++c) {
            const double p = Psnr(planes[c], theirs[c], c == 0 ? lumaBytes : chromaBytes);
            EXPECT_GE(p, kMinPsnr) << k.file << " frame " << f << " (display order) " << names[c];
            minimum[c] = std::min(minimum[c], p);
        }
    }
    std::cout << k.file << ": " << frames << " frames, worst PSNR Y " << minimum[0] << " dB, Cb "
              << minimum[1] << " dB, Cr " << minimum[2] << " dB\n";
}

INSTANTIATE_TEST_SUITE_P(Streams, DecodePsnr, testing::ValuesIn(kStreams),
                         [](const testing::TestParamInfo<StreamCase>& info) {
                             std::string name = info.param.file;
                             for (char& c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             return name;
                         });

// --- frames: order, formats, standard output ---

// The video's own version decides its syntax, whatever the packs around it are.
TEST(Frames, VideoInTheOtherVersionsSystemStreamDecodesAsItsElementaryStream) {
    const std::pair<const char*, const char*> pairs[] = {
        {"mpeg2-in-mpeg1-system.mpg", "mpeg2-progressive.m2v"},
        {"mpeg2-ac3-in-mpeg1-system.mpg", "mpeg2-progressive.m2v"},
        {"mpeg1-in-mpeg2-ps.mpg", "mpeg1.m1v"},
    };
    for (const auto& [system, elementary] : pairs) {
        if (!HaveData(system)) GTEST_SKIP();
        const TempPath a(".yuv"), b(".yuv");
        ASSERT_EQ(RunCli({"frames", DataPath(system), "-o", a.path(), "--format", "yuv"}), 0);
        ASSERT_EQ(RunCli({"frames", DataPath(elementary), "-o", b.path(), "--format", "yuv"}), 0);
        const auto got = ReadAll(a.path());
        EXPECT_FALSE(got.empty());
        EXPECT_TRUE(got == ReadAll(b.path())) << system;
    }
}

TEST(Frames, DecodeOrderFormatsAndStandardOutput) {
    if (!HaveData("mpeg1.m1v")) GTEST_SKIP();
    const std::string file = DataPath("mpeg1.m1v");
    const size_t n = 168 * 120;
    const TempPath display(".gray"), decode(".gray"), yuv(".yuv"), bgr(".bgr"), piped(".gray");
    ASSERT_EQ(RunCli({"frames", file, "-o", display.path()}), 0);  // gray, display order
    ASSERT_EQ(RunCli({"frames", file, "-o", decode.path(), "--order", "decode"}), 0);
    ASSERT_EQ(RunCli({"frames", file, "-o", yuv.path(), "--format", "yuv444p"}), 0);
    ASSERT_EQ(RunCli({"frames", file, "-o", bgr.path(), "--format", "bgr24"}), 0);
    ASSERT_EQ(RunCli({"frames", file, "-o", "-"}, piped.path()), 0);
    const auto d = ReadAll(display.path()), c = ReadAll(decode.path()), y = ReadAll(yuv.path()),
               b = ReadAll(bgr.path()), p = ReadAll(piped.path());
    ASSERT_EQ(d.size(), 10 * n);
    ASSERT_EQ(c.size(), 10 * n);
    ASSERT_EQ(y.size(), 30 * n);
    ASSERT_EQ(b.size(), 30 * n);
    EXPECT_TRUE(p == d) << "-o - differs from the file";

    // Stream order I P B B | I B B P B B against display order I B B P | B B I B B P.
    const int displayOfCoded[10] = {0, 3, 1, 2, 6, 4, 5, 9, 7, 8};
    for (int i = 0; i < 10; ++i)
        EXPECT_TRUE(std::equal(c.begin() + i * n, c.begin() + (i + 1) * n,
                               d.begin() + displayOfCoded[i] * n))
            << "coded picture " << i << " is not display frame " << displayOfCoded[i];

    // yuv444p: the luma plane, then two chroma planes at full size; the test picture has
    // colour, so the chroma planes are not flat grey.
    for (int f = 0; f < 10; ++f) {
        const uint8_t* frame = y.data() + f * 3 * n;
        EXPECT_EQ(0, std::memcmp(frame, d.data() + f * n, n)) << "frame " << f;
        const auto [lo, hi] = std::minmax_element(frame + n, frame + 3 * n);
        EXPECT_GT(*hi - *lo, 40) << "frame " << f;
    }
    // bgr24: blue, green, red per pixel, top line first, converted from the same samples with
    // the conversion in force (this stream names no matrix: the default one).
    const bitloupe::ColourFactors factors =
        bitloupe::ColourFactorsFor(bitloupe::kDefaultMatrixCoefficients);
    int coloured = 0;
    for (int f = 0; f < 10; ++f)
        for (size_t i = 0; i < n; ++i) {
            const uint8_t* px = b.data() + (f * n + i) * 3;
            const uint8_t* planes = y.data() + f * 3 * n;
            const bitloupe::Bgr e =
                bitloupe::ConvertYCbCr(planes[i], planes[n + i], planes[2 * n + i], factors);
            ASSERT_EQ(px[0], e.blue) << "frame " << f << " sample " << i;
            ASSERT_EQ(px[1], e.green) << "frame " << f << " sample " << i;
            ASSERT_EQ(px[2], e.red) << "frame " << f << " sample " << i;
            if (std::abs(px[0] - px[2]) > 60) ++coloured;
        }
    EXPECT_GT(coloured, 100);
}

// Colour frames convert the shown planes, whichever way the chroma was stored: field pictures
// (field layout), frame pictures of interlaced material, and 4:2:2. The colour frames make the
// shown chroma a band at a time from the coded planes; yuv444p reads the refreshed planes.
TEST(Frames, ColourFramesConvertTheShownPlanesInEveryLayout) {
    const bitloupe::ColourFactors factors =
        bitloupe::ColourFactorsFor(bitloupe::kDefaultMatrixCoefficients);
    for (const auto& [name, frames] : {std::pair<const char*, size_t>{"mpeg2-fieldpic.m2v", 12},
                                       {"mpeg2-interlaced.m2v", 8},
                                       {"mpeg2-422.m2v", 8}}) {
        if (!HaveData(name)) continue;
        const TempPath yuv(".yuv"), bgr(".bgr");
        ASSERT_EQ(RunCli({"frames", DataPath(name), "-o", yuv.path(), "--format", "yuv444p"}), 0);
        ASSERT_EQ(RunCli({"frames", DataPath(name), "-o", bgr.path(), "--format", "bgr24"}), 0);
        const auto y = ReadAll(yuv.path()), b = ReadAll(bgr.path());
        ASSERT_EQ(y.size(), b.size()) << name;
        ASSERT_EQ(y.size() % (3 * frames), 0u) << name;
        const size_t n = y.size() / (3 * frames);
        for (size_t f = 0; f < frames; ++f)
            for (size_t i = 0; i < n; ++i) {
                const uint8_t* planes = y.data() + f * 3 * n;
                const uint8_t* px = b.data() + (f * n + i) * 3;
                const bitloupe::Bgr e =
                    bitloupe::ConvertYCbCr(planes[i], planes[n + i], planes[2 * n + i], factors);
                ASSERT_TRUE(px[0] == e.blue && px[1] == e.green && px[2] == e.red)
                    << name << " frame " << f << " sample " << i;
            }
    }
}

// The still stream decodes exactly: three equal frames, a flat field of 96 with a white
// 16x16 square at (16, 16).
TEST(Frames, StillStreamDecodesExactly) {
    if (!HaveData("still.m2v")) GTEST_SKIP();
    const TempPath out(".gray");
    ASSERT_EQ(RunCli({"frames", DataPath("still.m2v"), "-o", out.path()}), 0);
    const auto got = ReadAll(out.path());
    ASSERT_EQ(got.size(), 3u * 64 * 48);
    for (int f = 0; f < 3; ++f)
        for (int line = 0; line < 48; ++line)
            for (int x = 0; x < 64; ++x) {
                const bool square = line >= 16 && line < 32 && x >= 16 && x < 32;
                ASSERT_EQ(got[(f * 48 + line) * 64 + x], square ? 235 : 96)
                    << "frame " << f << " at " << x << "," << line;
            }
}

// Without GOP headers the frames of each run from one I picture to the next are sorted: the
// second run's leading B pictures (temporal_reference 0 and 1) come before its I picture (2).
TEST(Frames, DisplayOrderWithoutGopHeaders) {
    if (!HaveData("mpeg2-progressive.m2v")) GTEST_SKIP();
    const auto es = ReadAll(DataPath("mpeg2-progressive.m2v"));
    std::vector<uint8_t> stripped;
    int removed = 0;
    for (size_t i = 0; i < es.size();) {
        if (i + 8 <= es.size() && es[i] == 0 && es[i + 1] == 0 && es[i + 2] == 1 &&
            es[i + 3] == 0xB8) {
            i += 8;  // start code and the 27 bits of the GOP header, padded
            ++removed;
            continue;
        }
        stripped.push_back(es[i++]);
    }
    ASSERT_EQ(removed, 2);
    const bitloupe::test::TempFile in(stripped, ".m2v");
    const TempPath out(".gray");
    ASSERT_EQ(RunCli({"frames", in.path(), "-o", out.path()}), 0);
    const auto got = ReadAll(out.path());
    const auto ref = ReadAll(DataPath("ref/mpeg2-progressive.gray"));
    const size_t n = 176 * 144;
    ASSERT_EQ(got.size(), ref.size());
    for (size_t f = 0; f < ref.size() / n; ++f)
        EXPECT_GE(Psnr(got.data() + f * n, ref.data() + f * n, n), kMinPsnr) << "frame " << f;
}

// Two encoders' streams one after the other, of different sizes and chroma formats (64x48
// 4:2:0, 176x144 4:2:2, 64x48 again): every picture decodes as in its own stream, and `frames`
// writes each frame at its own size.
TEST(Frames, ConcatenatedSequencesDecodeAtTheirOwnSizes) {
    if (!HaveData("still.m2v") || !HaveData("mpeg2-422.m2v")) GTEST_SKIP();
    const auto still = ReadAll(DataPath("still.m2v"));
    const auto big = ReadAll(DataPath("mpeg2-422.m2v"));
    std::vector<uint8_t> joined(still);
    joined.insert(joined.end(), big.begin(), big.end());
    joined.insert(joined.end(), still.begin(), still.end());
    const bitloupe::test::TempFile in(joined, ".m2v");
    const TempPath all(".yuv"), first(".yuv"), second(".yuv");
    ASSERT_EQ(RunCli({"frames", in.path(), "-o", all.path(), "--format", "yuv"}), 0);
    ASSERT_EQ(RunCli({"frames", DataPath("still.m2v"), "-o", first.path(), "--format", "yuv"}), 0);
    ASSERT_EQ(RunCli({"frames", DataPath("mpeg2-422.m2v"), "-o", second.path(), "--format", "yuv"}),
              0);
    auto expected = ReadAll(first.path());
    const auto middle = ReadAll(second.path());
    const size_t firstBytes = expected.size();
    ASSERT_EQ(firstBytes, 3u * 64 * 48 * 3 / 2);
    expected.insert(expected.end(), middle.begin(), middle.end());
    expected.insert(expected.end(), expected.begin(), expected.begin() + firstBytes);
    EXPECT_TRUE(ReadAll(all.path()) == expected);

    // Pictures 3 (the still's last P), 5 (a B of the 4:2:2 stream), 12 (the still again, a new
    // I picture after the larger sequence).
    for (const auto& [picture, file, own] :
         {std::tuple{3, "still.m2v", 3}, std::tuple{5, "mpeg2-422.m2v", 2},
          std::tuple{12, "still.m2v", 1}}) {
        const TempPath a(".bmp"), b(".bmp");
        ASSERT_EQ(
            RunCli({"decode", in.path(), "--picture", std::to_string(picture), "-o", a.path()}), 0);
        ASSERT_EQ(
            RunCli({"decode", DataPath(file), "--picture", std::to_string(own), "-o", b.path()}),
            0);
        EXPECT_TRUE(ReadAll(a.path()) == ReadAll(b.path())) << "picture " << picture;
    }
}

// A damaged sequence header that claims a width of 0: its pictures give empty frames (no row
// copy into a buffer that was never allocated, which the sanitizers reported) and the intact
// sequence after it comes out as alone.
TEST(Frames, SequenceOfNoWidthGivesEmptyFrames) {
    if (!HaveData("still.m2v")) GTEST_SKIP();
    const auto still = ReadAll(DataPath("still.m2v"));
    std::vector<uint8_t> broken(still);
    const uint8_t code[4] = {0, 0, 1, 0xB3};
    const auto at = std::search(broken.begin(), broken.end(), code, code + 4) - broken.begin();
    ASSERT_LT(static_cast<size_t>(at) + 6, broken.size());
    broken[at + 4] = 0;  // horizontal_size_value 0
    broken[at + 5] &= 0x0F;
    broken.insert(broken.end(), still.begin(), still.end());
    const bitloupe::test::TempFile in(broken, ".m2v");
    for (const char* format : {"gray", "yuv", "yuv444p", "bgr24"}) {
        const TempPath joined(".out"), alone(".out");
        ASSERT_EQ(RunCli({"frames", in.path(), "-o", joined.path(), "--format", format}), 0)
            << format;
        ASSERT_EQ(RunCli({"frames", DataPath("still.m2v"), "-o", alone.path(), "--format", format}),
                  0);
        EXPECT_TRUE(ReadAll(joined.path()) == ReadAll(alone.path())) << format;
    }
}

TEST(Frames, TruncatedStreamKeepsItsIntactPictures) {
    if (!HaveData("truncated.m2v")) GTEST_SKIP();
    const TempPath out(".gray");
    ASSERT_EQ(RunCli({"frames", DataPath("truncated.m2v"), "-o", out.path()}), 0);
    const auto got = ReadAll(out.path());
    const auto ref = ReadAll(DataPath("ref/mpeg2-progressive.gray"));
    const size_t n = 176 * 144;
    // Coded I P B B, the last B cut inside its slices: display I B B P, of which all but the
    // cut picture (display frame 2) are whole.
    ASSERT_EQ(got.size(), 4 * n);
    for (int f : {0, 1, 3})
        EXPECT_GE(Psnr(got.data() + f * n, ref.data() + f * n, n), kMinPsnr) << "frame " << f;
}

// --- decode: the BMP ---

struct Bmp {
    int32_t width = 0, height = 0;
    uint16_t bits = 0;
    uint32_t dataOffset = 0, fileSize = 0, imageSize = 0;
    std::vector<uint8_t> bytes;
    size_t Stride() const { return (static_cast<size_t>(width) * 3 + 3) & ~size_t{3}; }
    // Blue of the pixel at (x, line), line 0 the top (rows are stored bottom-up).
    uint8_t Blue(int x, int line) const {
        return bytes[dataOffset + static_cast<size_t>(height - 1 - line) * Stride() + 3 * x];
    }
};

template <class T>
T Le(const std::vector<uint8_t>& b, size_t at) {
    T v = 0;
    for (size_t i = 0; i < sizeof(T); ++i)
        v |= static_cast<T>(static_cast<T>(b[at + i]) << (8 * i));
    return v;
}

Bmp ReadBmp(const std::string& path) {
    Bmp bmp;
    bmp.bytes = ReadAll(path);
    if (bmp.bytes.size() < 54 || bmp.bytes[0] != 'B' || bmp.bytes[1] != 'M') return bmp;
    bmp.fileSize = Le<uint32_t>(bmp.bytes, 2);
    bmp.dataOffset = Le<uint32_t>(bmp.bytes, 10);
    bmp.width = Le<int32_t>(bmp.bytes, 18);
    bmp.height = Le<int32_t>(bmp.bytes, 22);
    bmp.bits = Le<uint16_t>(bmp.bytes, 28);
    bmp.imageSize = Le<uint32_t>(bmp.bytes, 34);
    return bmp;
}

// mpeg1.m1v is 168x120 (neither side a multiple of 16): the bitmap has the coded size, 176x128.
TEST(Decode, WritesTheBmpOfThePicture) {
    if (!HaveData("mpeg1.m1v")) GTEST_SKIP();
    const auto ref = ReadAll(DataPath("ref/mpeg1.gray"));
    const size_t n = 168 * 120;
    // Stream picture -> display frame: 1 the first I, 3 a B between I and P, 6 a leading B of
    // the open GOP (predicted from the first GOP's P and the second GOP's I).
    for (const auto& [picture, frame] : {std::pair{1, 0}, std::pair{3, 1}, std::pair{6, 4}}) {
        const TempPath out(".bmp");
        ASSERT_EQ(RunCli({"decode", DataPath("mpeg1.m1v"), "--picture", std::to_string(picture),
                          "-o", out.path(), "--colour", "y"}),
                  0)
            << "picture " << picture;
        const Bmp bmp = ReadBmp(out.path());
        ASSERT_EQ(bmp.width, 176);
        ASSERT_EQ(bmp.height, 128);
        ASSERT_EQ(bmp.bits, 24);
        ASSERT_EQ(bmp.dataOffset, 54u);
        EXPECT_EQ(bmp.Stride() % 4, 0u);
        ASSERT_EQ(bmp.bytes.size(), 54 + bmp.Stride() * 128);
        EXPECT_EQ(bmp.fileSize, bmp.bytes.size());
        if (bmp.imageSize) {
            EXPECT_EQ(bmp.imageSize, bmp.Stride() * 128);
        }
        // Colour mode Y paints the luma as grey: compare the displayed part with the
        // reference frame.
        std::vector<uint8_t> luma(n);
        for (int line = 0; line < 120; ++line)
            for (int x = 0; x < 168; ++x) luma[line * 168 + x] = bmp.Blue(x, line);
        EXPECT_GE(Psnr(luma.data(), ref.data() + frame * n, n), kMinPsnr)
            << "picture " << picture << " against display frame " << frame;
    }
    // The other display types, the field options and a colour mode all give a bitmap.
    for (const std::vector<std::string>& extra : {std::vector<std::string>{"--display", "raw"},
                                                  {"--display", "diff0"},
                                                  {"--display", "diff1"},
                                                  {"--display", "null"},
                                                  {"--field", "top"},
                                                  {"--field", "bottom"},
                                                  {"--colour", "magenta"}}) {
        const TempPath out(".bmp");
        std::vector<std::string> args{"decode",  DataPath("mpeg1.m1v"), "--picture", "3", "-o",
                                      out.path()};
        args.insert(args.end(), extra.begin(), extra.end());
        EXPECT_EQ(RunCli(args), 0) << extra[0] << " " << extra[1];
        EXPECT_EQ(ReadBmp(out.path()).width, 176) << extra[0] << " " << extra[1];
    }
}

// --- bad input ---

TEST(DecodeCommands, BadInputGivesTheDocumentedExitCodes) {
    const TempPath out(".out"), err(".err");
    struct Case {
        std::vector<std::string> args;
        int exitCode;
    };
    const std::string m1v = DataPath("mpeg1.m1v");
    const std::vector<Case> cases = {
        // Refused files: 2, with the program's message.
        {{"decode", DataPath("empty.bin"), "--picture", "1", "-o", out.path()}, 2},
        {{"decode", DataPath("random.bin"), "--picture", "1", "-o", out.path()}, 2},
        {{"frames", DataPath("empty.bin"), "-o", out.path()}, 2},
        {{"frames", DataPath("random.bin"), "-o", out.path()}, 2},
        {{"frames", DataPath("one-byte.bin"), "-o", out.path()}, 2},
        {{"frames", DataPath("transport.ts"), "-o", out.path()}, 2},
        // Picture numbers out of range, usage and I/O errors: 1.
        {{"decode", m1v, "--picture", "0", "-o", out.path()}, 1},
        {{"decode", m1v, "--picture", "11", "-o", out.path()}, 1},
        {{"decode", m1v, "--picture", "-3", "-o", out.path()}, 1},
        {{"decode", m1v, "--picture", "99999999999999999999", "-o", out.path()}, 1},
        {{"decode", m1v, "--picture", "x", "-o", out.path()}, 1},
        {{"decode", m1v, "--picture", "1"}, 1},
        {{"decode", m1v, "-o", out.path()}, 1},
        {{"decode", m1v, "--picture", "1", "-o", out.path(), "--display", "sideways"}, 1},
        {{"decode", m1v, "--picture", "1", "-o", "/nonexistent-dir/x.bmp"}, 1},
        {{"decode", "/nonexistent.m1v", "--picture", "1", "-o", out.path()}, 1},
        {{"frames", m1v}, 1},
        {{"frames", m1v, "-o", out.path(), "--format", "rgb"}, 1},
        {{"frames", m1v, "-o", out.path(), "--order", "random"}, 1},
        {{"frames", m1v, "-o", "/nonexistent-dir/x.gray"}, 1},
        {{"frames", "/nonexistent.m1v", "-o", out.path()}, 1},
        // The truncated stream decodes what it holds.
        {{"frames", DataPath("truncated.m2v"), "-o", out.path()}, 0},
        {{"decode", DataPath("truncated.m2v"), "--picture", "4", "-o", out.path()}, 0},
        {{"decode", DataPath("truncated.m2v"), "--picture", "5", "-o", out.path()}, 1},
    };
    for (const Case& k : cases) {
        std::string line;
        for (const std::string& a : k.args) line += " " + a;
        const int rc = RunCli(k.args, "", err.path());
        EXPECT_NE(rc, kCrashed) << line;
        EXPECT_EQ(rc, k.exitCode) << line;
        const auto message = ReadAll(err.path());
        if (k.exitCode == 2) {
            const std::string text(message.begin(), message.end());
            EXPECT_TRUE(text.find("not a valid MPEG") != std::string::npos ||
                        text.find("not been supported") != std::string::npos)
                << line << ": " << text;
        }
        if (k.exitCode != 0) {
            EXPECT_FALSE(message.empty()) << line << ": no message";
        }
    }
}

}  // namespace
