// Every item that stands for bits knows where they lie in the file: checked on every item of
// every committed stream, macroblocks parsed, against the file's own bytes.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "TestUtil.h"

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
    }
}

}  // namespace
}  // namespace bitloupe
