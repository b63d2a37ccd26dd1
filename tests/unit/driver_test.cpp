#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>

#include "TestUtil.h"
#include "core/base/Messages.h"

namespace bitloupe {
namespace {

using test::BitWriter;
using test::Engine;
using test::TempFile;

// A minimal MPEG video elementary stream: sequence header, then the given start code.
std::vector<uint8_t> VideoStream(uint8_t next, size_t leadingZeros = 0, size_t gap = 0) {
    BitWriter w;
    for (size_t i = 0; i < leadingZeros; ++i) w.Byte(0);
    w.StartCode(0xB3);
    w.Bytes({0x16, 0x00, 0xF0, 0x13, 0xFF, 0xFF, 0xE0, 0x18});
    for (size_t i = 0; i < gap; ++i) w.Byte(0x55);
    w.StartCode(next);
    w.Bytes({0x00, 0x00, 0x00, 0x00});
    return w.bytes();
}

struct Detected {
    uint8_t type;
    uint8_t version;
};

Detected Detect(const std::vector<uint8_t>& data) {
    TempFile f(data);
    Engine e;
    e.Open(f.path());
    return {e.stream.streamType, e.stream.mpegVersion};
}

TEST(DetectStreamType, RecognisesEachKind) {
    // Program streams, after leading zero bytes too.
    EXPECT_EQ(Detect({0, 0, 0, 0, 1, 0xBA, 0x44, 0, 4, 0, 4, 1}).type, kProgramStream);
    EXPECT_EQ(Detect({0, 0, 0, 0, 1, 0xBA, 0x44, 0, 4, 0, 4, 1}).version, kMpeg2);
    EXPECT_EQ(Detect({0, 0, 1, 0xBA, 0x21, 0, 1, 0, 1, 0x80, 0, 1}).version, kMpeg1);
    EXPECT_EQ(Detect({0, 0, 1, 0xBA, 0xC0, 0, 1, 0, 1, 0x80, 0, 1}).version, kMpegUnknown);
    // Video: an extension after the sequence header means MPEG-2; GOP, picture, user data 1.
    EXPECT_EQ(Detect(VideoStream(0xB5)).type, kPureVideoStream);
    EXPECT_EQ(Detect(VideoStream(0xB5)).version, kMpeg2);
    EXPECT_EQ(Detect(VideoStream(0xB8)).version, kMpeg1);
    EXPECT_EQ(Detect(VideoStream(0x00)).version, kMpeg1);
    EXPECT_EQ(Detect(VideoStream(0xB2)).version, kMpeg1);
    EXPECT_EQ(Detect(VideoStream(0xB5, 100)).version, kMpeg2);
    // The first code after the sequence header beyond 2 KB: not recognised.
    EXPECT_EQ(Detect(VideoStream(0xB5, 0, 2100)).version, kMpegUnknown);
    // Transport streams by their first byte, whatever follows.
    EXPECT_EQ(Detect({0x47, 0, 0, 1, 0xB3}).type, kTransportStream);
    EXPECT_EQ(Detect({0xFF, 0, 0, 1, 0xBA}).type, kUnknownStream);
}

TEST(OpenFile, RefusesInvalidFilesWithTheirMessages) {
    for (const std::vector<uint8_t>& data :
         {std::vector<uint8_t>{}, std::vector<uint8_t>{0x00}, std::vector<uint8_t>{0xFF, 1, 2}}) {
        TempFile f(data);
        Engine e;
        EXPECT_FALSE(e.Open(f.path()));
        ASSERT_EQ(e.host.messages.size(), 1u);
        EXPECT_EQ(e.host.messages[0].text, "This file is not a valid MPEG-1 or MPEG-2 video!");
        EXPECT_TRUE(e.stream.invalidFile);
        EXPECT_EQ(e.tree.GetItemImage(e.stream.fileItem), image::kInvalidFile);
        EXPECT_FALSE(e.dialog.parseEnabled);
        EXPECT_EQ(e.tree.ChildCount(kTreeRoot), 1u);
    }
    TempFile ts({0x47, 0x40, 0x00, 0x10});
    Engine e;
    EXPECT_FALSE(e.Open(ts.path()));
    ASSERT_EQ(e.host.messages.size(), 1u);
    EXPECT_EQ(e.host.messages[0].text, "TS MPEG-2 video has not been supported at current stage!");
    EXPECT_EQ(e.Text(e.tree.ChildAt(kTreeRoot, 1)), "Transport Stream (MPEG-2, to be supported)");
    EXPECT_EQ(e.tree.GetItemImage(e.tree.ChildAt(kTreeRoot, 1)), image::kTransportStream);

    Engine missing;
    EXPECT_FALSE(missing.Open("/nonexistent/file.mpg"));
    EXPECT_EQ(missing.host.messages.at(0).text, "Failed to open the file!");
    EXPECT_EQ(missing.tree.ChildCount(kTreeRoot), 0u);
}

TEST(OpenFile, FileItemListsSizeTimesAndAttributes) {
    std::vector<uint8_t> data = VideoStream(0xB5);
    data.resize(1234567, 0);
    TempFile f(data);
    Engine e;
    ASSERT_TRUE(e.Open(f.path()));
    const TreeItem file = e.stream.fileItem;
    EXPECT_EQ(e.Text(file), f.path());
    EXPECT_EQ(e.tree.GetItemImage(file), image::kFile);
    EXPECT_EQ(e.tree.GetItemData(file), kind::kFile);
    const auto lines = e.ChildTexts(file);
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0], "Size: 1,234,567 bytes");
    EXPECT_EQ(lines[1].rfind("Data Created: ", 0), 0u);
    EXPECT_EQ(lines[2].rfind("Data Modified: ", 0), 0u);
    EXPECT_EQ(lines[3].rfind("Data Accessed: ", 0), 0u);
    EXPECT_EQ(lines[5], "MPEG-Stream Type: MPEG-2 (Pure Video Stream)");
    for (TreeItem c = e.tree.GetChildItem(file); c; c = e.tree.GetNextSiblingItem(c))
        EXPECT_EQ(e.tree.GetItemData(c), kind::kVirtual);
    // Offsets of a 1,234,567-byte file take 6 hex digits (16^5 < size <= 16^6).
    EXPECT_EQ(e.parser.emit.offsetDigits, 6);

    // The time format: weekday, day, month, year, H:M:S without leading zeros, AM/PM.
    const std::string& modified = lines[2];
    EXPECT_NE(modified.find(", 20"), std::string::npos);
    EXPECT_TRUE(modified.find(" AM") != std::string::npos ||
                modified.find(" PM") != std::string::npos);

    // Root items: file, then the video stream.
    EXPECT_EQ(e.Text(e.stream.videoItem), "Pure Video Stream (MPEG-2)");
    EXPECT_EQ(e.tree.GetItemData(e.stream.videoItem), kind::kVideoRoot);
    EXPECT_EQ(e.tree.GetSelectedItem(), e.stream.videoItem);
}

TEST(OpenFile, SizeTextsAndAttributeBits) {
    struct Case {
        size_t size;
        const char* text;
    };
    for (const Case& c :
         {Case{1, "Size: 1 byte"}, Case{999, "Size: 999 bytes"}, Case{1000, "Size: 1,000 bytes"}}) {
        std::vector<uint8_t> data(c.size, 0xFF);
        TempFile f(data);
        Engine e;
        e.Open(f.path());
        EXPECT_EQ(e.Text(e.tree.GetChildItem(e.stream.fileItem)), c.text);
    }
    TempFile empty({});
    Engine e;
    e.Open(empty.path());
    EXPECT_EQ(e.Text(e.tree.GetChildItem(e.stream.fileItem)), "Size: 0 bytes");
    EXPECT_EQ(e.ChildTexts(e.stream.fileItem)[4], "Attribute: normal");

    TempFile ro(VideoStream(0xB8));
    chmod(ro.path().c_str(), 0444);
    Engine r;
    r.Open(ro.path());
    // Root may write any file; the mode bits still say read-only.
    EXPECT_EQ(r.ChildTexts(r.stream.fileItem)[4], "Attribute: read-only");
}

TEST(VideoDriver, StartOffsetLeavesEllipsisItems) {
    std::vector<uint8_t> data = VideoStream(0xB8);
    data.resize(5000, 0);
    TempFile f(data);
    Engine e;
    ASSERT_TRUE(e.Open(f.path()));
    e.dialog.startOffset = 100;
    e.Parse();
    // The sequence-level headers are listed again, then "......" marks the jump; the stream
    // has no sequence end code, so "......" also ends the list.
    const auto kids = e.ChildTexts(e.stream.videoItem);
    ASSERT_GE(kids.size(), 3u);
    EXPECT_EQ(kids[0], "Sequence Header #1");
    EXPECT_EQ(kids[1], "......");
    EXPECT_EQ(kids.back(), "......");
    EXPECT_TRUE(e.dialog.IsStopped());  // back to idle
}

TEST(SystemDriver, RunsToEndOfStreamAndSelectsVideoPacket) {
    BitWriter w;
    w.StartCode(0xBA);
    w.Pattern("01 000 1 000000000000000 1 000000000000000 1 000000000 1");
    w.Bits(1000, 22);
    w.Pattern("11 11111 000");
    w.StartCode(0xB9);
    w.StartCode(0xBA);  // after the end code: not scanned
    TempFile f(w.bytes());
    Engine e;
    ASSERT_TRUE(e.Open(f.path()));
    EXPECT_EQ(e.Text(e.stream.systemItem), "Program Stream");
    EXPECT_EQ(e.Text(e.stream.videoItem), "Elementary Video Stream #1 (MPEG-2)");
    EXPECT_EQ(e.tree.RowOf(e.stream.systemItem), 1);
    EXPECT_EQ(e.tree.RowOf(e.stream.videoItem), 2);
    e.dialog.startOffset = 4;
    e.Parse(kModeProgramStreamOnly);
    const auto kids = e.ChildTexts(e.stream.systemItem);
    ASSERT_GE(kids.size(), 2u);
    EXPECT_EQ(kids.front(), "......");
    EXPECT_EQ(kids.back(), "......");
}

TEST(Driver, StopFlagEndsTheScan) {
    std::vector<uint8_t> data = VideoStream(0xB8);
    data.resize(100000, 0);
    TempFile f(data);
    Engine e;
    ASSERT_TRUE(e.Open(f.path()));
    e.dialog.mode = kModeVideoOnly;
    e.dialog.BeginParse();
    e.dialog.stopped = true;  // the user pressed Stop
    e.parser.ParseVideoStream();
    EXPECT_LT(e.parser.file.fileOffset(), 4096);
}

}  // namespace
}  // namespace bitloupe

#include <cstring>
#include <fstream>
#include <iterator>

#include "core/session/ParseThread.h"
#include "core/tree/Export.h"

namespace bitloupe {
namespace {

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// Pausing a parse, decoding the pictures parsed so far meanwhile (as a selection in the tree
// does) and resuming gives the same tree as a parse that was never paused: the decoder reads
// through a reader and a picture state of its own.
TEST(Pause, DecodesDuringPauseLeaveTheParseIntact) {
    for (const char* name : {"mpeg2-progressive.m2v", "mpeg2-ps.mpg"}) {
        if (!test::HaveData(name)) GTEST_SKIP() << "no test data";
        // Many copies, so the parse is still running when the pause comes.
        const std::vector<uint8_t> one = ReadAll(test::DataPath(name));
        std::vector<uint8_t> data;
        for (int i = 0; i < 60; ++i) data.insert(data.end(), one.begin(), one.end());
        TempFile f(data);

        Engine plain;
        ASSERT_TRUE(plain.Open(f.path()));
        plain.Parse();
        const std::string expected = ExportBranch(plain.tree, plain.stream.videoItem, true, true);

        Engine e;
        ASSERT_TRUE(e.Open(f.path()));
        e.dialog.mode = kModeVideoOnly;
        e.dialog.BeginParse();
        e.parser.BeginVideoParse();
        ParseThread worker(e.dialog);
        int decodes = 0;
        ASSERT_TRUE(worker.Start([&] { e.parser.ParseVideoStream(); }));
        // A few dozen pauses with decodes, the parse left to run a little between them (each
        // decode walks the tree for its pictures, which grows as the parse goes on).
        while (worker.Running()) {
            e.dialog.SetPaused(true);
            if (worker.Running() && decodes < 24) {
                PictureDecoder& dec = e.parser.decoder;
                const std::vector<TreeItem> pictures = dec.PicturesInStreamOrder();
                // The last picture may still be in the making; the one before is whole.
                if (pictures.size() >= 2 && dec.AllocatePictureBuffers(e.stream)) {
                    dec.DecodeReferences(pictures, pictures.size() - 2);
                    decodes += dec.DecodePicture(pictures[pictures.size() - 2], true);
                }
            }
            e.dialog.SetPaused(false);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        worker.Join();
        EXPECT_GT(decodes, 0);
        EXPECT_EQ(ExportBranch(e.tree, e.stream.videoItem, true, true), expected) << name;
    }
}

// "Start from" a picture on a parse thread: the pictures and GOPs passed over are deleted and
// "......" inserted on the interface thread (checked by the store's assertions in a debug
// build), and the tree ends as the same parse made on one thread leaves it.
TEST(VideoDriver, StartPictureOnAParseThreadEndsLikeOneThread) {
    for (const char* name : {"mpeg2-progressive.m2v", "mpeg2-ps.mpg"}) {
        if (!test::HaveData(name)) GTEST_SKIP() << "no test data";
        const std::vector<uint8_t> one = ReadAll(test::DataPath(name));
        std::vector<uint8_t> data;
        for (int i = 0; i < 20; ++i) data.insert(data.end(), one.begin(), one.end());
        TempFile f(data);
        auto setup = [](Engine& e) {
            e.dialog.startFromPicture = true;
            e.dialog.pictureKind = 3;  // B
            e.dialog.pictureNumber = 30;
        };
        Engine plain;
        ASSERT_TRUE(plain.Open(f.path()));
        setup(plain);
        plain.Parse();
        // The file's access time may tick between the two opens; the rest must match.
        auto tree = [](const Engine& e) {
            std::string text = ExportBranch(e.tree, kTreeRoot, true, true);
            const size_t at = text.find("Data Accessed:");
            if (at != std::string::npos) text.erase(at, text.find('\n', at) - at);
            return text;
        };
        const std::string expected = tree(plain);

        Engine e;
        ASSERT_TRUE(e.Open(f.path()));
        setup(e);
        e.tree.SetPublishing(true);
        e.dialog.BeginParse();
        e.parser.BeginVideoParse();
        ParseThread worker(e.dialog);
        ASSERT_TRUE(worker.Start([&] { e.parser.ParseVideoStream(); }));
        while (worker.Running()) {
            e.tree.ApplyDeferred();  // as the interface does on every drain
            e.tree.Drain();
            std::this_thread::yield();
        }
        worker.Join();
        e.tree.ApplyDeferred();
        EXPECT_EQ(tree(e), expected) << name;
    }
}

// A tree that runs out of memory ends the parse with "Out of memory!" and nothing misplaced.
TEST(Driver, OutOfMemoryEndsTheParseWithItsMessage) {
    if (!test::HaveData("mpeg2-ps.mpg")) GTEST_SKIP() << "no test data";
    const std::vector<uint8_t> one = ReadAll(test::DataPath("mpeg2-ps.mpg"));
    std::vector<uint8_t> data;
    for (int i = 0; i < 60; ++i) data.insert(data.end(), one.begin(), one.end());
    TempFile f(data);
    Engine e;
    ASSERT_TRUE(e.Open(f.path()));
    e.tree.SetBlockLimit(2);  // one block of items and one of texts: too few for 60 copies
    e.Parse(kModeBoth);
    EXPECT_TRUE(e.tree.OutOfMemory());
    ASSERT_FALSE(e.host.messages.empty());
    EXPECT_EQ(e.host.messages.back().text, "Out of memory!");
    // Only stream roots at the top level, as a full parse makes them.
    Engine full;
    ASSERT_TRUE(full.Open(f.path()));
    full.Parse(kModeBoth);
    for (TreeItem r = e.tree.GetChildItem(kTreeRoot); r; r = e.tree.GetNextSiblingItem(r))
        EXPECT_NE(full.Find(e.Text(r)), 0u) << e.Text(r);
    EXPECT_LE(e.tree.ChildCount(kTreeRoot), full.tree.ChildCount(kTreeRoot));
    EXPECT_LT(e.parser.file.fileOffset(), static_cast<int64_t>(data.size()));
}

// Bytes in memory open and parse as the same bytes in a file do: the same tree below the file
// item, the same macroblocks and the same decoded picture; no bytes at all are refused.
TEST(OpenMemory, ParsesAndDecodesAsTheFileDoes) {
    if (!test::HaveData("mpeg2-ps.mpg")) GTEST_SKIP() << "no test data";
    const std::string path = test::DataPath("mpeg2-ps.mpg");
    const std::vector<uint8_t> data = ReadAll(path);
    Engine fromFile, fromMemory;
    ASSERT_TRUE(fromFile.Open(path));
    ASSERT_TRUE(fromMemory.parser.OpenMemory(data.data(), data.size(), "memory"));
    EXPECT_EQ(fromMemory.Text(fromMemory.stream.fileItem), "memory");
    EXPECT_EQ(fromMemory.ChildTexts(fromMemory.stream.fileItem)[0], "Size: 40,960 bytes");
    for (Engine* e : {&fromFile, &fromMemory}) {
        e->Parse(kModeBoth);
        const std::vector<TreeItem> pictures = test::Pictures(*e);
        ASSERT_EQ(pictures.size(), 10u);
        e->parser.macroblocks.ParseMacroblocksOfPicture(pictures[1]);
        for (TreeItem p : {pictures[0], pictures[1]})
            ASSERT_TRUE(e->parser.decoder.DecodePicture(p, true));
    }
    for (TreeItem root : {fromFile.stream.systemItem, fromFile.stream.videoItem}) {
        const TreeItem same = root == fromFile.stream.systemItem ? fromMemory.stream.systemItem
                                                                 : fromMemory.stream.videoItem;
        EXPECT_EQ(ExportBranch(fromFile.tree, root, true, true),
                  ExportBranch(fromMemory.tree, same, true, true));
    }
    const CPictureDib& a = fromFile.parser.decoder.dib;
    const CPictureDib& b = fromMemory.parser.decoder.dib;
    ASSERT_EQ(a.Width(), b.Width());
    ASSERT_EQ(a.Height(), b.Height());
    EXPECT_EQ(0, std::memcmp(a.Bits(), b.Bits(), a.ImageSize()));

    Engine none;
    EXPECT_FALSE(none.parser.OpenMemory(nullptr, 0, "nothing"));
    EXPECT_EQ(none.host.messages.at(0).text, "This file is not a valid MPEG-1 or MPEG-2 video!");
}

}  // namespace
}  // namespace bitloupe
