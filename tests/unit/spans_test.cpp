// Every item that stands for bits knows where they lie in the file: checked on every item of
// every committed stream, macroblocks parsed, against the file's own bytes.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "TestUtil.h"
#include "core/tree/ItemLookup.h"

namespace bitloupe {
namespace {

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// The `bits` bits (at most 32) from bit place `start` of the file.
uint64_t BitsAt(const std::vector<uint8_t>& file, uint64_t start, uint64_t bits) {
    uint64_t v = 0;
    for (uint64_t i = 0; i < bits; ++i) {
        const uint64_t at = start + i;
        v = v << 1 | ((file[at / 8] >> (7 - at % 8)) & 1);
    }
    return v;
}

struct Walk {
    const TreeStore& tree;
    const std::vector<uint8_t>& file;
    std::vector<std::string> faults;

    void Fault(TreeItem item, const std::string& why) {
        if (faults.size() < 100000) faults.push_back(tree.GetItemText(item) + ": " + why);
    }

    void Visit(TreeItem item, const ItemFacts* parent) {
        ItemFacts span;
        const bool has = tree.GetItemSpan(item, span);
        if (has) {
            if (span.end > file.size() || span.start / 8 >= span.end)
                Fault(item, "range outside the file or empty");
            if (parent && (span.start < parent->start || span.end > parent->end))
                Fault(item, "range outside its parent's");
            ItemFacts own;
            // A fixed-width field in one piece reads back as its value.
            if (tree.GetItemFacts(item, own) && own.hasSpan && own.hasValue && own.bits <= 32 &&
                tree.GetItemImage(item) != image::kVlc &&
                own.end == (own.start + own.bits + 7) / 8 && own.end <= file.size()) {
                const uint64_t mask = own.bits == 64 ? ~0ull : (1ull << own.bits) - 1;
                if (BitsAt(file, own.start, own.bits) != (static_cast<uint64_t>(own.value) & mask))
                    Fault(item, "bits at offset " + std::to_string(own.start / 8) + " bit " +
                                    std::to_string(own.start % 8) + " are not its value");
            }
            if (KindOf(tree.GetItemData(item)) == ItemKind::Picture &&
                BitsAt(file, span.start, 32) != 0x100)
                Fault(item, "no picture start code at its offset");
        }
        for (TreeItem c = tree.GetChildItem(item); c; c = tree.GetNextSiblingItem(c))
            Visit(c, has ? &span : parent);
    }
};

// A byte's item, as a click on it in the bytes pane and bitloupe-cli at find it: every item on
// the path covers the byte, and no child of the last one does.
void LookUpRandomBytes(const TreeStore& tree, size_t size) {
    uint64_t seed = size;
    int found = 0;
    for (int n = 0; n < 200; ++n) {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        const uint64_t bit = (seed >> 20) % (uint64_t{size} * 8);
        const std::vector<TreeItem> path = ItemPathAt(tree, bit);
        SCOPED_TRACE("bit place " + std::to_string(bit));
        for (size_t i = 0; i < path.size(); ++i) {
            ItemFacts r;
            ASSERT_TRUE(ItemRange(tree, path[i], r));
            EXPECT_TRUE(r.start <= bit && bit < r.end * 8) << tree.GetItemText(path[i]);
            if (i) {
                EXPECT_EQ(tree.GetParentItem(path[i]), path[i - 1]);
            }
        }
        if (path.empty()) continue;
        ++found;
        for (TreeItem c = tree.GetChildItem(path.back()); c; c = tree.GetNextSiblingItem(c)) {
            ItemFacts r;
            if (ItemRange(tree, c, r)) {
                EXPECT_FALSE(r.start <= bit && bit < r.end * 8) << tree.GetItemText(c);
            }
        }
    }
    EXPECT_GT(found, 150);  // stuffing and padding aside, bytes belong to items
}

TEST(Spans, EveryItemLiesInTheFileInsideItsParentAndReadsBackAsItsValue) {
    for (const auto& entry : std::filesystem::directory_iterator(BITLOUPE_TEST_DATA)) {
        const std::string name = entry.path().filename().string();
        if (!name.ends_with(".m2v") && !name.ends_with(".m1v") && !name.ends_with(".mpg")) continue;
        SCOPED_TRACE(name);
        test::Engine e;
        ASSERT_TRUE(e.Open(entry.path().string()));
        e.Parse(e.stream.streamType == kProgramStream ? kModeBoth : kModeVideoOnly);
        for (TreeItem picture : test::Pictures(e))
            e.parser.macroblocks.ParseMacroblocksOfPicture(picture);
        const std::vector<uint8_t> file = ReadFile(entry.path().string());
        Walk walk{e.tree, file, {}};
        for (TreeItem r = e.tree.GetChildItem(kTreeRoot); r; r = e.tree.GetNextSiblingItem(r))
            walk.Visit(r, nullptr);
        for (const std::string& f : walk.faults) ADD_FAILURE() << f;
        LookUpRandomBytes(e.tree, file.size());
    }
}

// A field the file ends inside stands for the bits it has, and the fields after it for none:
// width read whole, height with 4 of its 12 bits, nothing of the aspect ratio.
TEST(Spans, FieldsCutShortByTheEndOfTheFileKeepTheBitsTheyHave) {
    test::BitWriter w;
    // A whole sequence header first, so that the file is taken for a video stream.
    w.StartCode(0xB3);
    w.Bits(720, 12);
    w.Bits(576, 12);
    w.Bits(1, 4);
    w.Bits(3, 4);
    w.Bits(20000, 18);
    w.Bit(1);
    w.Bits(112, 10);
    w.Bits(0, 3);  // constrained_parameters_flag, no matrices
    const size_t second = w.size();
    w.StartCode(0xB3);
    w.Bits(720, 12);
    w.Bits(0x2, 4);  // the first 4 of the height's 12 bits
    test::TempFile f(w.bytes(), ".m2v");
    test::Engine e;
    ASSERT_TRUE(e.Open(f.path()));
    e.Parse();
    std::vector<std::pair<std::string, ItemFacts>> placed;
    const TreeItem header = e.Find("Sequence Header #2");
    ASSERT_NE(header, 0u);
    for (TreeItem c = e.tree.GetChildItem(header); c; c = e.tree.GetNextSiblingItem(c)) {
        ItemFacts span;
        if (e.tree.GetItemSpan(c, span)) placed.emplace_back(e.tree.GetItemText(c), span);
    }
    ASSERT_GE(placed.size(), 3u);
    EXPECT_EQ(placed[1].first.substr(0, 15), "horizontal_size");
    const uint64_t at = second * 8 + 32;
    EXPECT_EQ(placed[1].second.start, at);
    EXPECT_EQ(placed[1].second.bits, 12u);
    EXPECT_EQ(placed[2].first.substr(0, 13), "vertical_size");
    EXPECT_EQ(placed[2].second.start, at + 12);
    EXPECT_EQ(placed[2].second.bits, 4u);
    EXPECT_EQ(placed[2].second.end, w.size());
    for (const auto& [text, span] : placed) EXPECT_LE(span.end, w.size()) << text;
}

}  // namespace
}  // namespace bitloupe
