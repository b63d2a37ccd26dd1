// The problems list: each check found on a stream made to break its rule (a committed stream
// with one field rewritten where the parse placed it, or a stream made for it), and nothing
// found on the clean encoder streams.
#include "core/render/Problems.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

#include "TestUtil.h"
#include "core/session/ParseThread.h"
#include "core/session/TreeCommands.h"
#include "core/tree/ItemFields.h"

namespace bitloupe {
namespace {

using test::TempFile;

struct Checked {
    std::vector<Problem> problems;
    const Problem* Find(const std::string& code) const {
        for (const Problem& p : problems)
            if (p.code == code) return &p;
        return nullptr;
    }
    size_t Count(const std::string& code) const {
        size_t n = 0;
        for (const Problem& p : problems) n += p.code == code;
        return n;
    }
};

int ModeFor(const std::string& path) {
    return path.ends_with(".mpg") ? kModeBoth : kModeVideoOnly;
}

Checked Check(const std::string& path, bool mbs = true) {
    test::Engine e;
    Checked c;
    if (!e.Open(path)) return c;
    e.Parse(ModeFor(path));
    if (mbs)
        for (TreeItem picture : test::Pictures(e))
            e.parser.macroblocks.ParseMacroblocksOfPicture(picture);
    auto lock = e.tree.Lock();
    const StreamStats stats = GatherStreamStats(e.tree, e.stream, std::filesystem::file_size(path));
    c.problems = FindProblems(e.tree, e.stream, stats);
    return c;
}

std::vector<uint8_t> Bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), {});
}

// The committed stream with the nth occurrence (from 0) of `field` holding `value`, written
// where the parse places that field. The field's file offset goes to *offset.
std::vector<uint8_t> WithField(const std::string& name, const std::string& field, int nth,
                               uint32_t value, uint64_t* offset = nullptr, bool mbs = false) {
    const std::string path = test::DataPath(name);
    std::vector<uint8_t> data = Bytes(path);
    test::Engine e;
    EXPECT_TRUE(e.Open(path));
    e.Parse(ModeFor(path));
    if (mbs)
        for (TreeItem picture : test::Pictures(e))
            e.parser.macroblocks.ParseMacroblocksOfPicture(picture);
    int seen = 0;
    std::function<bool(TreeItem)> walk = [&](TreeItem item) {
        FieldName f;
        ItemFacts facts;
        if (FieldOf(e.tree, item, f) && f.field == field && e.tree.GetItemFacts(item, facts) &&
            facts.hasSpan && seen++ == nth) {
            for (uint64_t k = 0; k < facts.bits; ++k) {
                const uint64_t place = facts.start + k;
                const int bit = static_cast<int>((value >> (facts.bits - 1 - k)) & 1);
                uint8_t& b = data[place / 8];
                b = static_cast<uint8_t>((b & ~(0x80 >> (place % 8))) | (bit << (7 - place % 8)));
            }
            if (offset) *offset = facts.start / 8;
            return true;
        }
        for (TreeItem c = e.tree.GetChildItem(item); c; c = e.tree.GetNextSiblingItem(c))
            if (walk(c)) return true;
        return false;
    };
    EXPECT_TRUE(walk(kTreeRoot)) << field << " #" << nth << " not in " << name;
    return data;
}

TEST(Problems, CleanEncoderStreamsHaveNone) {
    for (const char* name :
         {"mpeg1.m1v", "mpeg2-progressive.m2v", "mpeg2-interlaced.m2v", "mpeg2-fieldpic.m2v",
          "mpeg2-422.m2v", "mpeg2-custom-matrix.m2v", "mpeg2-ps.mpg", "mpeg2-ps-mplex.mpg",
          "mpeg1-system.mpg", "mpeg1-system-mplex.mpg", "mpeg1-in-mpeg2-ps.mpg"}) {
        SCOPED_TRACE(name);
        const Checked c = Check(test::DataPath(name));
        for (const Problem& p : c.problems) ADD_FAILURE() << p.code << ": " << p.message;
    }
}

// The parse's own error items, each with its code at the field's place.
TEST(Problems, ErrorItemsBecomeProblemsWithTheirPlaces) {
    uint64_t at = 0;
    const TempFile marker(WithField("mpeg2-progressive.m2v", "marker_bit", 0, 0, &at), ".m2v");
    Checked c = Check(marker.path(), false);
    ASSERT_TRUE(c.Find("marker-bit"));
    EXPECT_EQ(c.Find("marker-bit")->offset, at);
    EXPECT_EQ(c.Find("marker-bit")->severity, Severity::kError);

    const TempFile aspect(WithField("mpeg2-progressive.m2v", "aspect_ratio_information", 0, 0),
                          ".m2v");
    EXPECT_TRUE(Check(aspect.path(), false).Find("forbidden-value"));

    // The file ends inside a packet.
    std::vector<uint8_t> ps = Bytes(test::DataPath("mpeg2-ps.mpg"));
    ps.resize(3000);
    const TempFile cut(ps, ".mpg");
    c = Check(cut.path(), false);
    ASSERT_TRUE(c.Find("pes-truncated"));
    EXPECT_EQ(c.Find("pes-truncated")->severity, Severity::kError);
}

// More of the parse's error items, each under its own code.
TEST(Problems, ErrorItemsOfEveryLayerHaveTheirCodes) {
    // A D picture in an MPEG-2 stream.
    const TempFile d(WithField("mpeg2-progressive.m2v", "picture_coding_type", 1, 4), ".m2v");
    EXPECT_TRUE(Check(d.path(), false).Find("picture-type"));
    // An escaped coefficient's level of 0, which the syntax forbids.
    const TempFile level(WithField("mpeg2-progressive.m2v", "level", 0, 0, nullptr, true), ".m2v");
    const Checked zero = Check(level.path());
    ASSERT_TRUE(zero.Find("forbidden-level"));
    EXPECT_EQ(zero.Find("forbidden-level")->picture, 1u);
    // A packet shorter than its own header.
    const TempFile shortPacket(WithField("mpeg2-ps.mpg", "packet_length", 0, 5), ".mpg");
    EXPECT_TRUE(Check(shortPacket.path(), false).Find("pes-header-overrun"));
    // A packet that says it is 5 bytes longer than it is.
    const TempFile length(WithField("mpeg2-ps.mpg", "packet_length", 1, 2033), ".mpg");
    EXPECT_TRUE(Check(length.path(), false).Find("pes-length"));
    // Slice data overwritten with ones: no VLC of the macroblock syntax begins that way.
    uint64_t slice = 0;
    std::vector<uint8_t> bytes =
        WithField("mpeg2-progressive.m2v", "quantiser_scale_code", 0, 8, &slice);
    for (uint64_t k = slice + 8; k < slice + 40; ++k) bytes[k] = 0xFF;
    const TempFile ones(bytes, ".m2v");
    const Checked c = Check(ones.path());
    ASSERT_TRUE(c.Find("mb-syntax"));
    EXPECT_EQ(c.Find("mb-syntax")->picture, 1u);
    EXPECT_TRUE(c.Find("mbs-missing"));  // the rest of the slice is never coded

    // An MPEG-1 D picture of two macroblocks, the second without its end_of_macroblock bit.
    test::BitWriter w;
    test::DPictureSlice(w);
    w.Pattern("1 1  100 100 100 100  00 00  1");  // address increment 1, D, DCs, the end bit
    const uint64_t second = w.size() - 1;         // (not on a byte boundary)
    w.Pattern("1 1  100 100 100 100  00 00  0");
    w.Align();
    w.StartCode(0xB7);
    const TempFile dPicture(w.bytes(), ".m1v");
    const Checked dc = Check(dPicture.path());
    ASSERT_TRUE(dc.Find("end-of-macroblock"));
    EXPECT_EQ(dc.Find("end-of-macroblock")->picture, 1u);
    EXPECT_EQ(dc.Find("end-of-macroblock")->offset, second);  // the macroblock's first byte
    EXPECT_EQ(dc.Count("end-of-macroblock"), 1u);

    // An error item of a kind no check names is still listed, as a syntax error.
    test::Engine odd;
    const TreeItem item = odd.tree.InsertItem("odd_field=5 (3 bits)", image::kError, 0, kTreeRoot);
    auto lock = odd.tree.Lock();
    const std::vector<Problem> found = FindProblems(odd.tree, odd.stream, StreamStats());
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].code, "syntax-error");
    EXPECT_EQ(found[0].item, item);
    EXPECT_EQ(found[0].severity, Severity::kError);
}

TEST(Problems, PicturesAndGops) {
    // Picture 4 (a B picture, coded after the P) numbered as picture 3: a repeat and a gap.
    const TempFile repeat(WithField("mpeg2-progressive.m2v", "temporal_reference", 3, 1), ".m2v");
    Checked c = Check(repeat.path(), false);
    ASSERT_TRUE(c.Find("temporal-ref-repeat"));
    EXPECT_EQ(c.Find("temporal-ref-repeat")->picture, 4u);
    EXPECT_TRUE(c.Find("temporal-ref-gap"));

    // The first picture made a P picture: it has nothing to predict from.
    const TempFile first(WithField("mpeg2-progressive.m2v", "picture_coding_type", 0, 2), ".m2v");
    c = Check(first.path(), false);
    ASSERT_TRUE(c.Find("no-reference"));
    EXPECT_EQ(c.Find("no-reference")->picture, 1u);

    // The second field of the first frame made a top field like the first.
    const TempFile fields(WithField("mpeg2-fieldpic.m2v", "picture_structure", 1, 1), ".m2v");
    c = Check(fields.path(), false);
    ASSERT_TRUE(c.Find("field-pair"));
    EXPECT_EQ(c.Find("field-pair")->picture, 1u);

    // The open second GOP said to be closed: its B pictures shown before its I picture
    // predict from the GOP before.
    const TempFile closed(WithField("mpeg2-progressive.m2v", "closed_gop", 1, 1), ".m2v");
    c = Check(closed.path());
    ASSERT_TRUE(c.Find("closed-gop-forward"));
    EXPECT_EQ(c.Find("closed-gop-forward")->picture, 6u);

    // An open GOP opens the stream: its first B pictures lack the forward reference.
    c = Check(test::DataPath("open-gop-start.m2v"), false);
    EXPECT_EQ(c.Count("open-gop-start"), 2u);
    EXPECT_EQ(c.Find("open-gop-start")->picture, 2u);
    EXPECT_EQ(c.Find("open-gop-start")->severity, Severity::kWarning);
}

TEST(Problems, MacroblocksSlicesAndLevels) {
    // The data ends inside a macroblock: it stops, and the rest of the picture is never coded.
    Checked c = Check(test::DataPath("truncated.m2v"));
    EXPECT_TRUE(c.Find("mb-truncated"));
    EXPECT_TRUE(c.Find("mbs-missing"));
    // A slice moved down a row: the row it left has no slice. (The slice's row is the last
    // byte of its start code.)
    const TempFile moved(WithField("mpeg2-progressive.m2v", "slice_start_code", 1, 0x00000103),
                         ".m2v");
    c = Check(moved.path(), false);
    ASSERT_TRUE(c.Find("rows-uncovered"));
    EXPECT_EQ(c.Find("rows-uncovered")->picture, 1u);
    // Bits flipped in slice data: an I picture's macroblocks skipped, a slice that starts over.
    c = Check(test::DataPath("damaged-flips.m2v"));
    ASSERT_TRUE(c.Find("skipped-in-intra"));
    EXPECT_EQ(c.Find("skipped-in-intra")->picture, 1u);
    ASSERT_TRUE(c.Find("mb-address"));
    EXPECT_EQ(c.Find("mb-address")->picture, 4u);
    // 8192x8192 pictures are beyond every level.
    c = Check(test::DataPath("large-many-pictures.m2v"), false);
    EXPECT_TRUE(c.Find("level-limit"));
    // A size that changes with no end code before it.
    EXPECT_TRUE(Check(test::DataPath("large-size-switches.m2v"), false).Find("sequence-change"));
    // 4:2:2 chroma in a stream that says Main profile.
    const TempFile chroma(WithField("mpeg2-progressive.m2v", "chroma_format", 0, 2), ".m2v");
    EXPECT_TRUE(Check(chroma.path(), false).Find("profile-chroma"));
}

TEST(Problems, BufferAndSystemLayer) {
    Checked c = Check(test::DataPath("small-vbv.m2v"), false);
    EXPECT_EQ(c.Count("vbv-underflow"), 4u);
    EXPECT_EQ(c.Find("vbv-underflow")->picture, 3u);

    // vbv_delay given: the buffer starts as the first picture says, and never waits. 0.67 s of
    // 600 kbit/s is more than the 229,376 bits the buffer holds.
    const TempFile over(WithField("mpeg2-progressive.m2v", "vbv_delay", 0, 60000), ".m2v");
    c = Check(over.path(), false);
    ASSERT_TRUE(c.Find("vbv-overflow"));
    EXPECT_EQ(c.Find("vbv-overflow")->picture, 1u);
    // The second picture's delay says 0.1 s of bits where the model has more.
    const TempFile first(WithField("mpeg2-progressive.m2v", "vbv_delay", 0, 9000), ".m2v");
    const std::string path = first.path() + ".2.m2v";
    {
        std::vector<uint8_t> both = Bytes(first.path());
        // The second picture's field, rewritten as well.
        uint64_t at = 0;
        const std::vector<uint8_t> second =
            WithField("mpeg2-progressive.m2v", "vbv_delay", 1, 9000, &at);
        both[at] = second[at];
        both[at + 1] = second[at + 1];
        both[at + 2] = second[at + 2];
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(both.data()),
                   static_cast<std::streamsize>(both.size()));
    }
    c = Check(path, false);
    std::filesystem::remove(path);
    ASSERT_TRUE(c.Find("vbv-delay"));
    EXPECT_EQ(c.Find("vbv-delay")->severity, Severity::kNote);

    // A PES header's stuffing byte that is not 0xFF, and the '10' that opens an MPEG-2 PES
    // header written as '00' (the first packet's header at byte 38).
    const TempFile stuffing(WithField("mpeg2-ps.mpg", "stuffing_byte", 0, 0x12), ".mpg");
    EXPECT_TRUE(Check(stuffing.path(), false).Find("stuffing-byte"));
    std::vector<uint8_t> ps = Bytes(test::DataPath("mpeg2-ps.mpg"));
    ps[38] &= 0x3F;
    const TempFile fixed(ps, ".mpg");
    EXPECT_TRUE(Check(fixed.path(), false).Find("fixed-bits"));

    // The third pack's SCR set below the second's.
    const TempFile scr(WithField("mpeg2-ps.mpg", "system_clock_reference", 8, 0), ".mpg");
    c = Check(scr.path(), false);
    EXPECT_TRUE(c.Find("scr-backwards"));

    // The third pack's SCR set 20 s on: a gap, then (the fourth's) a step back.
    const TempFile gap(WithField("mpeg2-ps.mpg", "system_clock_reference", 7, 20000), ".mpg");
    c = Check(gap.path(), false);
    EXPECT_TRUE(c.Find("scr-gap"));
    // A video packet stamped at 2^32 ticks (13 hours): the next one goes back. (The first
    // stamp of the file is the audio packet's; the second group of three parts is video's.)
    const TempFile pts(WithField("mpeg2-ps.mpg", "PTS", 3, 4), ".mpg");
    EXPECT_TRUE(Check(pts.path(), false).Find("pts-backwards"));

    // A DTS later than its packet's PTS.
    const TempFile dts(WithField("mpeg2-ps-mplex.mpg", "DTS", 2, 20000), ".mpg");
    EXPECT_TRUE(Check(dts.path(), false).Find("dts-after-pts"));

    // The system header lists 0xBF instead of the private stream 0xBD its packets carry.
    const TempFile unlisted(WithField("mpeg2-ps.mpg", "stream_id", 1, 0xBF), ".mpg");
    c = Check(unlisted.path(), false);
    ASSERT_TRUE(c.Find("stream-unannounced"));
    EXPECT_EQ(c.Find("stream-unannounced")->severity, Severity::kWarning);
}

}  // namespace
}  // namespace bitloupe

namespace bitloupe {
namespace {

// Figures and problems kept up to date while a parse runs, the parse held at its gate before
// every scan, end as one gathering at the end does.
TEST(Problems, ListKeptUpDuringTheParseEndsAsOneFoundAtTheEnd) {
    size_t totalUpdates = 0, listedDuring = 0;
    for (const char* name :
         {"damaged-flips.m2v", "small-vbv.m2v", "open-gop-start.m2v", "mpeg2-fieldpic.m2v",
          "truncated.m2v", "large-size-switches.m2v", "mpeg2-ps.mpg", "mpeg1-system.mpg"}) {
        SCOPED_TRACE(name);
        const std::string path = test::DataPath(name);
        const uint64_t size = std::filesystem::file_size(path);
        // A packet cut short at the end, in a program stream.
        std::vector<uint8_t> bytes = Bytes(path);
        if (ModeFor(path) == kModeBoth) bytes.resize(bytes.size() - 1000);
        const TempFile file(bytes, ModeFor(path) == kModeBoth ? ".mpg" : ".m2v");
        test::Engine e;
        ASSERT_TRUE(e.Open(file.path()));
        e.dialog.mode = ModeFor(path);
        e.dialog.BeginParse();
        e.parser.BeginVideoParse();
        StatsGatherer gatherer;
        ProblemFinder finder;
        size_t updates = 0, seenDuring = 0;
        {
            // The parse stops at its first gate, and then at every next one.
            e.dialog.SetPaused(true);
            ParseThread thread(e.dialog);
            thread.Start([&] { e.parser.ParseVideoStream(); });
            e.dialog.SetPaused(true);  // once it waits at the gate
            for (;;) {
                e.dialog.Step();
                if (!e.dialog.ParseRunning()) break;
                {
                    auto lock = e.tree.Lock();
                    gatherer.Update(e.tree, e.stream, size, false);
                    finder.Update(e.tree, e.stream, gatherer.Stats(), gatherer.Settled(), false);
                }
                ++updates;
                seenDuring = finder.Problems().size();
            }
            e.dialog.SetPaused(false);
        }
        auto lock = e.tree.Lock();
        gatherer.Update(e.tree, e.stream, size, true);
        finder.Update(e.tree, e.stream, gatherer.Stats(), gatherer.Settled(), true);

        const StreamStats once = GatherStreamStats(e.tree, e.stream, size);
        const StreamStats& kept = gatherer.Stats();
        ASSERT_EQ(kept.pictures.size(), once.pictures.size());
        for (size_t i = 0; i < once.pictures.size(); ++i) {
            const PictureStats &a = kept.pictures[i], &b = once.pictures[i];
            EXPECT_TRUE(a.item == b.item && a.display == b.display && a.bits == b.bits &&
                        a.headerBits == b.headerBits && a.pts == b.pts && a.gop == b.gop &&
                        a.bufferBefore == b.bufferBefore && a.bitrate == b.bitrate &&
                        a.slices == b.slices)
                << "picture " << i + 1;
        }
        ASSERT_EQ(kept.gops.size(), once.gops.size());
        for (size_t g = 0; g < once.gops.size(); ++g)
            EXPECT_EQ(kept.gops[g].pictures, once.gops[g].pictures) << "GOP " << g + 1;
        EXPECT_EQ(SummaryText(kept), SummaryText(once));

        const std::vector<Problem> all = FindProblems(e.tree, e.stream, once);
        ASSERT_EQ(finder.Problems().size(), all.size());
        for (size_t i = 0; i < all.size(); ++i) {
            const Problem &a = finder.Problems()[i], &b = all[i];
            EXPECT_TRUE(a.code == b.code && a.item == b.item && a.offset == b.offset &&
                        a.picture == b.picture && a.message == b.message)
                << i << ": " << a.code << " " << a.message << " / " << b.code << " " << b.message;
        }
        totalUpdates += updates;
        listedDuring += seenDuring;
    }
    // The parse was looked at many times, and problems were listed before it ended.
    EXPECT_GT(totalUpdates, 500u);
    EXPECT_GT(listedDuring, 0u);
}

// A picture's macroblocks parsed after the parse, then deleted: its figures and checks again
// give what gathering the whole stream gives.
TEST(Problems, MacroblocksParsedLaterAreCheckedAgain) {
    const std::string path = test::DataPath("damaged-flips.m2v");
    const uint64_t size = std::filesystem::file_size(path);
    test::Engine e;
    ASSERT_TRUE(e.Open(path));
    e.Parse();
    StatsGatherer gatherer;
    ProblemFinder finder;
    auto same = [&](const char* when) {
        SCOPED_TRACE(when);
        auto lock = e.tree.Lock();
        const StreamStats once = GatherStreamStats(e.tree, e.stream, size);
        const std::vector<Problem> all = FindProblems(e.tree, e.stream, once);
        ASSERT_EQ(finder.Problems().size(), all.size());
        for (size_t i = 0; i < all.size(); ++i)
            EXPECT_TRUE(finder.Problems()[i].code == all[i].code &&
                        finder.Problems()[i].item == all[i].item)
                << i << ": " << finder.Problems()[i].code << " / " << all[i].code;
        for (size_t i = 0; i < once.pictures.size(); ++i)
            EXPECT_EQ(gatherer.Stats().pictures[i].intra, once.pictures[i].intra);
    };
    {
        auto lock = e.tree.Lock();
        gatherer.Update(e.tree, e.stream, size, true);
        finder.Update(e.tree, e.stream, gatherer.Stats(), gatherer.Settled(), true);
    }
    const std::vector<TreeItem> pictures = test::Pictures(e);
    const size_t before = finder.Problems().size();
    for (size_t k : {size_t{1}, size_t{4}}) {
        e.parser.macroblocks.ParseMacroblocksOfPicture(pictures[k]);
        auto lock = e.tree.Lock();
        finder.RecheckMacroblocks(e.tree, e.stream, gatherer.Stats(),
                                  gatherer.RegatherMacroblocks(e.tree, e.stream, pictures[k]));
    }
    same("parsed");
    EXPECT_GT(finder.Problems().size(), before);  // the flipped bits show in the macroblocks
    for (TreeItem s : test::Children(e.tree, pictures[1], kind::kSlice))
        DeleteSliceMacroblocks(e.tree, e.stream, s);
    {
        auto lock = e.tree.Lock();
        finder.RecheckMacroblocks(e.tree, e.stream, gatherer.Stats(),
                                  gatherer.RegatherMacroblocks(e.tree, e.stream, pictures[1]));
    }
    same("deleted");
}

}  // namespace
}  // namespace bitloupe
