// Finding items by their place in the file: the range of bits an item covers, and the path
// down to the deepest item that covers a bit. The search goes down by ranges, a few steps of
// bisection a level, never through every item.
#pragma once

#include <cstdint>
#include <vector>

#include "core/tree/TreeStore.h"

namespace bitloupe {

// The bits an item covers: its own span, or a container's from its first placed descendant's
// first bit to its last placed descendant's end. False for an item that covers none (virtual
// items, texts with no bits).
bool ItemRange(const TreeStore& tree, TreeItem item, ItemFacts& range);

// The first byte of the next placed item after `item` and its descendants, in tree order;
// false when none follows.
bool NextItemOffset(const TreeStore& tree, TreeItem item, uint64_t& offset);

// The path from a root item down to the deepest item whose range holds bit place `bit`
// (offset * 8 + bit); empty when no item's does. When several root items hold it (a program
// stream's packet and the video it carries), the deeper path wins.
std::vector<TreeItem> ItemPathAt(const TreeStore& tree, uint64_t bit);

}  // namespace bitloupe
