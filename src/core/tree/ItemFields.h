// The syntax element an item stands for, as the standard names it: a field's name without its
// indices (they come apart, "f_code[0][1]" is f_code with the index 0, 1), a structure's name
// for the items that hold one (picture_header, slice, macroblock, PES_packet, ...).
#pragma once

#include <string>
#include <vector>

#include "core/tree/TreeStore.h"

namespace bitloupe {

struct FieldName {
    std::string field;
    std::vector<std::string> index;  // each bracket's contents, in order
};

// False for items that stand for no element (virtual items, texts, the file's items).
bool FieldOf(const TreeStore& tree, TreeItem item, FieldName& out);
// The same from what the caller already has of the item: its data, its text and whether its
// record places it in the file.
bool FieldOf(uint32_t data, const std::string& text, bool placed, FieldName& out);

}  // namespace bitloupe
