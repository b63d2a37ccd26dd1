#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <unordered_map>
#include <utility>

#include "core/syntax/StreamState.h"
#include "core/tree/TreeStore.h"

namespace bitloupe {
namespace {

TEST(TreeStore, InsertPlacesItemsAndKeepsRowsRight) {
    TreeStore t;
    const TreeItem a = t.InsertItem("a", 0, 0, kTreeRoot);
    const TreeItem c = t.InsertItem("c", 0, 0, kTreeRoot);
    const TreeItem b = t.InsertItem("b", 0, 0, kTreeRoot, a);  // after a
    const TreeItem z = t.InsertItem("z", 0, 0, kTreeRoot, kInsertFirst);
    ASSERT_TRUE(a && b && c && z);
    EXPECT_EQ(t.ChildCount(kTreeRoot), 4u);
    const TreeItem order[] = {z, a, b, c};
    for (uint32_t row = 0; row < 4; ++row) {
        EXPECT_EQ(t.ChildAt(kTreeRoot, row), order[row]);
        EXPECT_EQ(t.RowOf(order[row]), static_cast<int>(row));
    }
    EXPECT_EQ(t.GetNextSiblingItem(a), b);
    EXPECT_EQ(t.GetPrevSiblingItem(a), z);
    EXPECT_EQ(t.GetNextSiblingItem(c), 0u);
    EXPECT_EQ(t.GetParentItem(a), kTreeRoot);

    // A sibling that belongs to another parent cannot be the insert-after item.
    const TreeItem child = t.InsertItem("child", 0, 0, a);
    EXPECT_EQ(t.InsertItem("x", 0, 0, b, child), 0u);
    EXPECT_EQ(t.InsertItem("x", 0, 0, 12345), 0u);  // no such parent
}

TEST(TreeStore, DeleteRemovesBranchAndRenumbers) {
    TreeStore t;
    const TreeItem p = t.InsertItem("p", 0, 0, kTreeRoot);
    TreeItem kids[5];
    for (int i = 0; i < 5; ++i) kids[i] = t.InsertItem(std::to_string(i), 0, 0, p);
    const TreeItem grandchild = t.InsertItem("g", 0, 0, kids[1]);
    t.SelectItem(grandchild);
    t.DeleteItem(kids[1]);
    EXPECT_FALSE(t.IsValid(kids[1]));
    EXPECT_FALSE(t.IsValid(grandchild));
    EXPECT_EQ(t.GetSelectedItem(), 0u);
    EXPECT_EQ(t.ChildCount(p), 4u);
    EXPECT_EQ(t.RowOf(kids[2]), 1);
    EXPECT_EQ(t.RowOf(kids[4]), 3);
    EXPECT_EQ(t.GetNextSiblingItem(kids[0]), kids[2]);
    EXPECT_EQ(t.ItemCount(), 5u);
    EXPECT_EQ(t.GetItemText(kids[1]), "");
    EXPECT_FALSE(t.SetItemData(kids[1], 7));
}

TEST(TreeStore, HandlesAreNeverReused) {
    TreeStore t;
    const TreeItem first = t.InsertItem("x", 0, 0, kTreeRoot);
    t.DeleteItem(first);
    const TreeItem second = t.InsertItem("y", 0, 0, kTreeRoot);
    EXPECT_NE(first, second);
    t.DeleteAllItems();
    const TreeItem third = t.InsertItem("z", 0, 0, kTreeRoot);
    EXPECT_GT(third, second);
    EXPECT_FALSE(t.IsValid(first));
    EXPECT_FALSE(t.IsValid(second));
    EXPECT_EQ(t.GetItemText(third), "z");
}

// The child lists of a deleted branch serve later parents: they start empty, and the items
// of the old branch neither show up under the new parents nor count in them.
TEST(TreeStore, ChildListsOfDeletedBranchesStartEmptyWhenUsedAgain) {
    TreeStore t;
    const TreeItem old = t.InsertItem("old", 0, 0, kTreeRoot);
    const TreeItem oldChild = t.InsertItem("old child", 0, 0, old);
    t.InsertItem("old grandchild", 0, 0, oldChild);
    t.DeleteItem(old);
    const TreeItem a = t.InsertItem("a", 0, 0, kTreeRoot);
    const TreeItem b = t.InsertItem("b", 0, 0, kTreeRoot);
    EXPECT_FALSE(t.ItemHasChildren(a));
    const TreeItem a1 = t.InsertItem("a1", 0, 0, a);
    const TreeItem b1 = t.InsertItem("b1", 0, 0, b);
    const TreeItem b2 = t.InsertItem("b2", 0, 0, b, kInsertFirst);
    EXPECT_EQ(t.ChildCount(a), 1u);
    EXPECT_EQ(t.GetChildItem(a), a1);
    EXPECT_EQ(t.ChildCount(b), 2u);
    EXPECT_EQ(t.GetChildItem(b), b2);
    EXPECT_EQ(t.GetLastChildItem(b), b1);
    EXPECT_EQ(t.GetChildItem(a1), 0u);
    EXPECT_EQ(t.ItemCount(), 5u);
}

// Kinds that share a number tell their items apart by the virtual mark alone (the decode of a
// selection goes by the kind), and the data codes keep the numbers the JSON form prints.
TEST(ItemKinds, DataCodesSplitIntoKindAndMark) {
    const std::pair<uint32_t, uint32_t> shared[] = {
        {kind::kBlockY, kind::kSkippedBlockY},
        {kind::kRawDct, kind::kCoefficientMatrix},
        {kind::kSequenceHeader, kind::kSlicePlaceholder},
        {kind::kPayloadListed, kind::kPayloadUnlisted}};
    for (const auto& [plain, marked] : shared) {
        EXPECT_EQ(KindOf(plain), KindOf(marked)) << plain;
        EXPECT_FALSE(IsVirtual(plain)) << plain;
        EXPECT_TRUE(IsVirtual(marked)) << marked;
    }
    EXPECT_FALSE(IsVirtual(kind::kFile));
    EXPECT_EQ(KindOf(kind::kFile), ItemKind::None);
    EXPECT_EQ(kind::kFile, 0x00FF0000u);
    EXPECT_EQ(kind::kSkippedMacroblock, 0xFFFF000Fu);
    EXPECT_EQ(kind::kPredictionFrames, 257u);
    EXPECT_EQ(kind::kPayloadUnlisted, 0xFFFF0500u);
}

TEST(TreeStore, TextDataImageAndViewState) {
    TreeStore t;
    const std::string longText(300, 'q');
    const TreeItem a = t.InsertItem(longText, 27, kind::kFile, kTreeRoot);
    EXPECT_EQ(t.GetItemText(a).size(), 255u);
    EXPECT_EQ(t.GetItemImage(a), 27);
    EXPECT_EQ(t.GetItemData(a), kind::kFile);
    EXPECT_TRUE(t.SetItemText(a, "new"));
    EXPECT_EQ(t.GetItemText(a), "new");
    const TreeItem b = t.InsertItem("b", 0, 0, a);
    const TreeItem c = t.InsertItem("c", 0, 0, b);
    EXPECT_FALSE(t.IsExpanded(a));
    t.EnsureVisible(c);
    EXPECT_TRUE(t.IsExpanded(a));
    EXPECT_TRUE(t.IsExpanded(b));
    EXPECT_EQ(t.LastEnsuredVisible(), c);
    t.Collapse(a);
    EXPECT_FALSE(t.IsExpanded(a));
    EXPECT_EQ(t.GetLastChildItem(a), b);
}

// One thread appends as a parse does, the interface thread walks the tree as the view does
// and deletes as "Delete MBs" does; run under ThreadSanitizer this proves the store's locking
// rule.
TEST(TreeStore, ReaderWalksWhileWriterAppends) {
    TreeStore t;
    const TreeItem root = t.InsertItem("root", 0, 0, kTreeRoot);
    std::atomic<bool> done{false};
    std::thread writer([&] {
        TreeItem parent = root;
        for (int i = 0; i < 20000; ++i) {
            const TreeItem item = t.InsertItem("item " + std::to_string(i), 0, 5, parent);
            if (!item)
                parent = root;  // the branch was deleted meanwhile
            else if (i % 100 == 0)
                parent = item;
        }
        done = true;
    });
    size_t walks = 0;
    while (!done || walks == 0) {
        {
            auto lock = t.Lock();
            // Depth-first walk by rows; every row must give back its own item.
            std::vector<TreeItem> stack{root};
            while (!stack.empty()) {
                const TreeItem p = stack.back();
                stack.pop_back();
                const uint32_t n = t.ChildCount(p);
                for (uint32_t r = 0; r < n; ++r) {
                    const TreeItem c = t.ChildAt(p, r);
                    ASSERT_EQ(t.RowOf(c), static_cast<int>(r));
                    ASSERT_EQ(t.GetParentItem(c), p);
                    stack.push_back(c);
                }
            }
        }
        if (++walks % 8 == 0) t.DeleteItem(t.GetChildItem(root));
    }
    writer.join();
    EXPECT_GT(walks, 0u);
}

// Records what the view would be told, and on which thread.
struct RecordingObserver : TreeObserver {
    std::vector<std::string> calls;
    bool offThread = false;
    void Note(std::string call) {
        if (std::this_thread::get_id() != mainThread) offThread = true;
        calls.push_back(std::move(call));
    }
    void RowAboutToBeInserted(TreeItem p, uint32_t row) override {
        Note("insert " + std::to_string(p) + ":" + std::to_string(row));
    }
    void RowInserted() override { Note("inserted"); }
    void RowAboutToBeRemoved(TreeItem p, uint32_t row) override {
        Note("remove " + std::to_string(p) + ":" + std::to_string(row));
    }
    void RowRemoved() override { Note("removed"); }
    void AboutToClear() override { Note("clear"); }
    void Cleared() override { Note("cleared"); }
    std::thread::id mainThread = std::this_thread::get_id();
};

// Appended rows wait in the record until published, parents first; changes to published rows
// are announced, changes to unpublished rows are not; requests come back in order.
TEST(TreeStore, PublishesAppendsAndAnnouncesOwnChanges) {
    TreeStore t;
    RecordingObserver obs;
    t.SetObserver(&obs);
    const TreeItem a = t.InsertItem("a", 0, 0, kTreeRoot);
    t.SetPublishing(true);  // a tree that exists already is published on the first drain
    t.SetFetched(a);        // the view opened a, then b: their rows are recorded
    const TreeItem b = t.InsertItem("b", 0, 0, a);
    t.SetFetched(b);
    const TreeItem c = t.InsertItem("c", 0, 0, b);
    const TreeItem unopened = t.InsertItem("d", 0, 0, c);  // c was not opened: not recorded
    t.Expand(a);
    t.SelectItem(c);
    EXPECT_EQ(t.PublishedChildCount(kTreeRoot), 0u);
    EXPECT_FALSE(t.IsPublished(a));

    TreeChanges ch = t.Drain();
    ASSERT_EQ(ch.parents, (std::vector<TreeItem>{kTreeRoot, a, b}));
    ASSERT_EQ(ch.requests.size(), 2u);
    EXPECT_EQ(ch.requests[0].kind, ViewRequestKind::Expand);
    EXPECT_EQ(ch.requests[1].item, c);
    for (TreeItem p : ch.parents) {
        uint32_t first = 9, count = 0;
        ASSERT_TRUE(t.PendingRows(p, &first, &count));
        EXPECT_EQ(first, 0u);
        EXPECT_EQ(count, 1u);
        t.CommitRows(p, first + count);
    }
    EXPECT_TRUE(t.IsPublished(c));
    EXPECT_FALSE(t.IsPublished(unopened));
    EXPECT_TRUE(t.Drain().parents.empty());
    EXPECT_TRUE(obs.calls.empty());

    // Unpublished rows change silently; published ones are announced around the change.
    const TreeItem d = t.InsertItem("d", 0, 0, a);                // appended: recorded
    t.DeleteItem(d);                                              // never shown: silent
    const TreeItem e = t.InsertItem("e", 0, 0, a, kInsertFirst);  // before a shown row
    t.SetItemText(b, "b2");
    t.DeleteItem(b);
    EXPECT_EQ(obs.calls,
              (std::vector<std::string>{"insert " + std::to_string(a) + ":0", "inserted",
                                        "remove " + std::to_string(a) + ":1", "removed"}));
    EXPECT_EQ(t.PublishedChildCount(a), 1u);
    EXPECT_TRUE(t.IsPublished(e));
    ch = t.Drain();
    EXPECT_EQ(ch.changedItems, std::vector<TreeItem>{b});  // gone: the view skips it
    uint32_t first, count;
    EXPECT_FALSE(t.PendingRows(a, &first, &count));
    t.DeleteAllItems();
    EXPECT_EQ(obs.calls.back(), "cleared");
    EXPECT_FALSE(obs.offThread);
}

// A parse thread's deletions and insertions before the last child wait for the interface
// thread and are carried out there in order; on the interface thread they happen at once.
TEST(TreeStore, HandsOverChangesOfAParseThread) {
    TreeStore t;
    RecordingObserver obs;
    t.SetObserver(&obs);
    const TreeItem gop = t.InsertItem("gop", 0, 0, kTreeRoot);
    const TreeItem header = t.InsertItem("header", 0, 0, gop);
    const TreeItem early = t.InsertItem("early", 0, 0, gop);
    std::thread worker([&] {
        t.DeleteItemLater(early);
        t.InsertItemLater("......", 21, 0xFFFF0000, gop, header);
        t.InsertItem("late", 0, 0, gop);  // appends go straight in
    });
    worker.join();
    EXPECT_TRUE(t.HasDeferred());
    EXPECT_EQ(t.ChildCount(gop), 3u);
    t.ApplyDeferred();
    EXPECT_FALSE(t.HasDeferred());
    ASSERT_EQ(t.ChildCount(gop), 3u);
    EXPECT_EQ(t.GetItemText(t.ChildAt(gop, 1)), "......");
    EXPECT_EQ(t.GetItemText(t.ChildAt(gop, 2)), "late");
    t.DeleteItemLater(header);
    EXPECT_FALSE(t.IsValid(header));
}

// Running out of memory makes every later insertion fail, until the tree is cleared.
TEST(TreeStore, OutOfMemoryFailsInsertionsCleanly) {
    TreeStore t;
    t.SetBlockLimit(2);  // one block of nodes, one of text
    TreeItem parent = t.InsertItem("root", 0, 0, kTreeRoot);
    size_t inserted = 1;
    while (t.InsertItem("an item of some length", 0, 0, parent)) ++inserted;
    EXPECT_TRUE(t.OutOfMemory());
    EXPECT_EQ(t.ItemCount(), inserted);
    EXPECT_EQ(t.InsertItem("x", 0, 0, kTreeRoot), 0u);
    EXPECT_EQ(t.ChildCount(kTreeRoot), 1u);
    t.DeleteAllItems();
    EXPECT_FALSE(t.OutOfMemory());
    EXPECT_NE(t.InsertItem("x", 0, 0, kTreeRoot), 0u);
}

}  // namespace
}  // namespace bitloupe

namespace bitloupe {
namespace {

// Random insertions, look-ups and erasures agree with a node-based map; erasure keeps every
// remaining entry reachable.
TEST(ItemMap, AgreesWithAStandardMap) {
    ItemMap<ItemPosition> flat;
    std::unordered_map<TreeItem, ItemPosition> ref;
    uint64_t seed = 12345;
    auto next = [&] {
        seed ^= seed << 13;
        seed ^= seed >> 7;
        seed ^= seed << 17;
        return seed;
    };
    for (int step = 0; step < 200000; ++step) {
        const TreeItem key = static_cast<TreeItem>(next() % 5000);  // key 0 included
        switch (next() % 4) {
            case 0:
            case 1: {
                const ItemPosition pos{next(), static_cast<uint32_t>(step), 7};
                flat[key] = pos;
                ref[key] = pos;
                break;
            }
            case 2:
                EXPECT_EQ(flat.erase(key), ref.erase(key));
                break;
            default: {
                const auto* f = flat.find(key);
                const auto r = ref.find(key);
                ASSERT_EQ(f != flat.end(), r != ref.end());
                if (f) {
                    EXPECT_EQ(f->second.offset, r->second.offset);
                }
            }
        }
    }
    ASSERT_EQ(flat.size(), ref.size());
    for (const auto& [key, pos] : ref) ASSERT_EQ(flat.at(key).bitOffset, pos.bitOffset);
    size_t visited = 0;
    flat.ForEach([&](const auto&) { ++visited; });
    EXPECT_EQ(visited, ref.size());
    EXPECT_THROW(flat.at(999999), std::out_of_range);
    EXPECT_FALSE(flat.emplace(ref.begin()->first, ItemPosition{}).second);
    flat.clear();
    EXPECT_TRUE(flat.empty());
    EXPECT_EQ(flat.find(ref.begin()->first), flat.end());
}

}  // namespace
}  // namespace bitloupe
