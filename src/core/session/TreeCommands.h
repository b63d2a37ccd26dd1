// The tree side of the on-demand macroblock commands: finding the placeholder of a slice and
// putting it back when a slice's macroblocks are deleted.
#pragma once

#include "core/syntax/StreamState.h"
#include "core/tree/TreeStore.h"

namespace bitloupe {

// The placeholder "Macroblock(s) is/are to be parsed ..." that target stands for: the target
// itself, the first placeholder after a slice header, or the first among a slice's children.
// 0 when the macroblocks were parsed already.
TreeItem FindSlicePlaceholder(const TreeStore& tree, TreeItem target);

// Deletes the macroblock items of a parsed slice and puts a placeholder back, with the
// slice's recorded position, so that the slice can be parsed again. A slice that still has
// its placeholder is left alone.
void DeleteSliceMacroblocks(TreeStore& tree, CStreamState& stream, TreeItem slice);

}  // namespace bitloupe
