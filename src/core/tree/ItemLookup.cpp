#include "core/tree/ItemLookup.h"

#include <algorithm>
#include <utility>

#include "core/tree/ItemKinds.h"

namespace bitloupe {

namespace {

// Depth of the walks down to a first or last placed descendant; deeper trees do not occur.
constexpr int kMaxDepth = 64;

bool Placed(const TreeStore& tree, TreeItem item, ItemFacts& own) {
    return !IsVirtual(tree.GetItemData(item)) && tree.GetItemFacts(item, own) && own.hasSpan;
}

// The first bit of the first placed item at or under `item`, in tree order.
bool FirstBit(const TreeStore& tree, TreeItem item, uint64_t& start, int depth = 0) {
    ItemFacts own;
    if (Placed(tree, item, own)) {
        start = own.start;
        return true;
    }
    if (depth >= kMaxDepth || IsVirtual(tree.GetItemData(item))) return false;
    for (TreeItem c = tree.GetChildItem(item); c; c = tree.GetNextSiblingItem(c))
        if (FirstBit(tree, c, start, depth + 1)) return true;
    return false;
}

// Structures whose data is listed without items of its own until asked for (a slice's
// macroblocks, a packet's payload): they run up to the next item in the file.
bool RunsToNextItem(const TreeStore& tree, TreeItem item) {
    const ItemKind kind = KindOf(tree.GetItemData(item));
    return kind == ItemKind::Slice || kind == ItemKind::PesPacket;
}

}  // namespace

bool NextItemOffset(const TreeStore& tree, TreeItem item, uint64_t& offset) {
    for (TreeItem at = item; at && at != kTreeRoot; at = tree.GetParentItem(at)) {
        for (TreeItem s = tree.GetNextSiblingItem(at); s; s = tree.GetNextSiblingItem(s)) {
            uint64_t start = 0;
            if (FirstBit(tree, s, start)) {
                offset = start / 8;
                return true;
            }
        }
    }
    return false;
}

namespace {

// The end (file offset past its last byte) of the last placed item at or under `item`.
bool EndOf(const TreeStore& tree, TreeItem item, uint64_t& end, int depth = 0) {
    ItemFacts own;
    if (Placed(tree, item, own)) {
        end = own.end;
        return true;
    }
    if (depth >= kMaxDepth || IsVirtual(tree.GetItemData(item))) return false;
    bool found = false;
    for (TreeItem c = tree.GetLastChildItem(item); c && !found; c = tree.GetPrevSiblingItem(c))
        found = EndOf(tree, c, end, depth + 1);
    uint64_t next = 0;
    if (found && RunsToNextItem(tree, item) && NextItemOffset(tree, item, next) && next > end)
        end = next;
    return found;
}

bool Covers(const TreeStore& tree, TreeItem item, uint64_t bit) {
    ItemFacts r;
    return ItemRange(tree, item, r) && r.start <= bit && bit < r.end * 8;
}

// The child of `parent` whose range holds `bit`, or 0. Children lie in file order; those that
// cover no bits are stepped over.
TreeItem ChildAtBit(const TreeStore& tree, TreeItem parent, uint64_t bit) {
    const uint32_t count = tree.ChildCount(parent);
    // Bisection on the first bits: the last child that begins at or before `bit`.
    uint32_t lo = 0, hi = count;
    while (hi - lo > 8) {
        const uint32_t mid = lo + (hi - lo) / 2;
        // The nearest placed child at or after mid (a few texts without bits may sit there).
        uint32_t probe = mid;
        uint64_t start = 0;
        while (probe < hi && !FirstBit(tree, tree.ChildAt(parent, probe), start)) ++probe;
        if (probe == hi) {
            hi = mid;
            continue;
        }
        if (start <= bit)
            lo = probe;
        else
            hi = mid;
    }
    // A short run is searched from its end, where the last beginning at or before bit lies.
    for (uint32_t i = hi; i-- > lo;) {
        const TreeItem c = tree.ChildAt(parent, i);
        uint64_t start = 0;
        if (!FirstBit(tree, c, start) || start > bit) continue;
        if (Covers(tree, c, bit)) return c;
        // An item that crossed into later packets may hold bits past a later sibling's start;
        // the runs here are short, so the ones before are looked at too.
    }
    return 0;
}

std::vector<TreeItem> PathFrom(const TreeStore& tree, TreeItem root, uint64_t bit) {
    std::vector<TreeItem> path;
    if (!Covers(tree, root, bit)) return path;
    path.push_back(root);
    for (TreeItem at = root; path.size() < kMaxDepth;) {
        at = ChildAtBit(tree, at, bit);
        if (!at) break;
        path.push_back(at);
    }
    return path;
}

}  // namespace

bool ItemRange(const TreeStore& tree, TreeItem item, ItemFacts& range) {
    range = ItemFacts();
    if (!tree.IsValid(item) || IsVirtual(tree.GetItemData(item))) return false;
    if (tree.GetItemFacts(item, range) && range.hasSpan) return true;
    uint64_t start = 0, end = 0;
    if (!FirstBit(tree, item, start) || !EndOf(tree, item, end)) return false;
    range = ItemFacts();
    range.hasSpan = true;
    range.start = start;
    range.end = end;
    range.bits = end * 8 > start ? end * 8 - start : 0;
    return true;
}

std::vector<TreeItem> ItemPathAt(const TreeStore& tree, uint64_t bit) {
    // Where two roots hold the bit (a packet and the video it carries), a packet that holds it
    // only in its payload gives way to what the payload carries; otherwise the narrower deepest
    // item is the one meant.
    std::vector<TreeItem> best;
    std::pair<int, uint64_t> bestRank;
    for (TreeItem root = tree.GetChildItem(kTreeRoot); root; root = tree.GetNextSiblingItem(root)) {
        std::vector<TreeItem> path = PathFrom(tree, root, bit);
        if (path.empty()) continue;
        ItemFacts leaf;
        ItemRange(tree, path.back(), leaf);
        const std::pair<int, uint64_t> rank{
            KindOf(tree.GetItemData(path.back())) == ItemKind::PesPacket ? 1 : 0,
            leaf.end * 8 - leaf.start};
        if (best.empty() || rank < bestRank || (rank == bestRank && path.size() > best.size())) {
            best = std::move(path);
            bestRank = rank;
        }
    }
    return best;
}

}  // namespace bitloupe
