#include "core/session/TreeCommands.h"

#include <vector>

namespace bitloupe {

namespace {
TreeItem FirstPlaceholderFrom(const TreeStore& tree, TreeItem first) {
    for (TreeItem c = first; c; c = tree.GetNextSiblingItem(c))
        if (tree.GetItemData(c) == kind::kSlicePlaceholder) return c;
    return 0;
}
}  // namespace

TreeItem FindSlicePlaceholder(const TreeStore& tree, TreeItem target) {
    auto lock = tree.Lock();
    const uint32_t data = tree.GetItemData(target);
    if (data == kind::kSlicePlaceholder) return target;
    if (data == kind::kSliceHeader)
        return FirstPlaceholderFrom(tree, tree.GetNextSiblingItem(target));
    if (data == kind::kSlice) return FirstPlaceholderFrom(tree, tree.GetChildItem(target));
    return 0;
}

void DeleteSliceMacroblocks(TreeStore& tree, CStreamState& stream, TreeItem slice) {
    if (!tree.IsValid(slice)) return;
    std::vector<TreeItem> doomed;
    for (TreeItem c = tree.GetChildItem(slice); c; c = tree.GetNextSiblingItem(c)) {
        const uint32_t data = tree.GetItemData(c);
        if (data == kind::kSlicePlaceholder) return;  // never parsed: nothing to delete
        const ItemKind k = KindOf(data);
        // Also the item that says why a parse stopped before its macroblock had an item.
        if (k == ItemKind::Macroblock || k == ItemKind::SkippedMacroblock ||
            tree.GetItemImage(c) == image::kError)
            doomed.push_back(c);
    }
    if (tree.GetItemImage(slice) == image::kSliceError) tree.SetItemImage(slice, image::kSlice);
    // The records of the macroblocks and their blocks go with them.
    std::vector<TreeItem> branch;
    for (TreeItem item : doomed) {
        branch.assign(1, item);
        while (!branch.empty()) {
            const TreeItem h = branch.back();
            branch.pop_back();
            stream.macroblockRecords.erase(h);
            stream.videoPositions.erase(h);
            stream.blockRecords.erase(h);
            for (TreeItem c = tree.GetChildItem(h); c; c = tree.GetNextSiblingItem(c))
                branch.push_back(c);
        }
        tree.DeleteItem(item);
    }
    const TreeItem placeholder = tree.InsertItem("Macroblock(s) is/are to be parsed ...",
                                                 image::kPlain, kind::kSlicePlaceholder, slice);
    // A slice without a recorded position gets a zero one first.
    const ItemPosition pos = stream.videoPositions.emplace(slice, ItemPosition{}).first->second;
    if (placeholder) stream.videoPositions[placeholder] = pos;
}

}  // namespace bitloupe
