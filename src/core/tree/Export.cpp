#include "core/tree/Export.h"

#include <sstream>
#include <vector>

#include "core/tree/ItemKinds.h"

namespace bitloupe {

namespace {

// Whether a child is listed, and whether its branch is listed in full from there on.
enum class Take { Skip, Item, ItemAllBelow };

Take Decide(uint32_t data, ExportFilter filter, bool allBelow) {
    if (allBelow || filter == ExportFilter::All) return Take::Item;
    if (filter == ExportFilter::NonVirtual) return IsVirtual(data) ? Take::Skip : Take::Item;
    // Y-Cb-Cr: pel matrices with all their rows; no other virtual item, no raw DCT data.
    if (data == kind::kPelMatrix) return Take::ItemAllBelow;
    if (IsVirtual(data) || data == kind::kRawDct) return Take::Skip;
    return Take::Item;
}

void Write(std::ostream& out, const TreeStore& tree, TreeItem item, bool withSelf,
           ExportFilter filter, const char* lineEnd) {
    auto lock = tree.Lock();
    const uint32_t rootData = tree.GetItemData(item);
    if (filter == ExportFilter::NonVirtual && IsVirtual(rootData)) return;
    if (filter == ExportFilter::YCbCr && IsVirtual(rootData) && rootData != kind::kPelMatrix)
        return;
    bool first = true;  // no line end before the first line
    if (withSelf) {
        out << tree.GetItemText(item);
        first = false;
    }
    // Pre-order walk: each frame is a parent, the next row to visit and its mode.
    struct Frame {
        TreeItem parent;
        uint32_t row;
        bool allBelow;
    };
    std::vector<Frame> stack{{item, 0, false}};
    std::string tabs;
    while (!stack.empty()) {
        Frame& f = stack.back();
        const TreeItem child = tree.ChildAt(f.parent, f.row++);
        if (!child) {
            stack.pop_back();
            if (!tabs.empty()) tabs.pop_back();
            continue;
        }
        const Take take = Decide(tree.GetItemData(child), filter, f.allBelow);
        if (take == Take::Skip) continue;
        if (!first) out << lineEnd;
        first = false;
        tabs.push_back('\t');
        out << tabs << tree.GetItemText(child);
        stack.push_back({child, 0, f.allBelow || take == Take::ItemAllBelow});
    }
    if (withSelf) out << lineEnd;
}

}  // namespace

std::string ExportBranch(const TreeStore& tree, TreeItem item, bool withSelf, bool all,
                         const char* lineEnd) {
    std::ostringstream out;
    Write(out, tree, item, withSelf, all ? ExportFilter::All : ExportFilter::NonVirtual, lineEnd);
    return out.str();
}

std::string ExportPelBranch(const TreeStore& tree, TreeItem item, bool withSelf,
                            const char* lineEnd) {
    std::ostringstream out;
    Write(out, tree, item, withSelf, ExportFilter::YCbCr, lineEnd);
    return out.str();
}

void WriteBranch(std::ostream& out, const TreeStore& tree, TreeItem item, ExportFilter filter,
                 const char* lineEnd) {
    Write(out, tree, item, true, filter, lineEnd);
}

bool IsLargeBranch(const TreeStore& tree, TreeItem item) {
    auto lock = tree.Lock();
    const uint32_t data = tree.GetItemData(item);
    if (data == kind::kGop || data == kind::kPicture || data == kind::kVideoRoot) return true;
    if (data != kind::kSlice) return false;
    int macroblocks = 0;
    for (TreeItem c = tree.GetChildItem(item); c; c = tree.GetNextSiblingItem(c))
        if (tree.GetItemData(c) == kind::kMacroblock && ++macroblocks >= 10) return true;
    return false;
}

}  // namespace bitloupe
