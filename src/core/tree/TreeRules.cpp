#include "core/tree/TreeRules.h"

#include "core/tree/ItemKinds.h"

namespace bitloupe {

namespace {

bool IsSliceData(uint32_t data) {
    return data == kind::kSlice || data == kind::kSliceHeader;
}

TreeItem Sibling(const TreeStore& tree, TreeItem item, bool down) {
    return down ? tree.GetNextSiblingItem(item) : tree.GetPrevSiblingItem(item);
}

// The nearest item whose data is `data` from `from` on (from included), walking in one
// direction.
TreeItem NearestOfKind(const TreeStore& tree, TreeItem from, uint32_t data, bool down) {
    for (TreeItem c = from; c; c = Sibling(tree, c, down))
        if (tree.GetItemData(c) == data) return c;
    return 0;
}

}  // namespace

PopupMenuState PopupMenuRules(const TreeStore& tree, TreeItem target, bool keywordEmpty,
                              bool searchRootIsAll) {
    auto lock = tree.Lock();
    PopupMenuState m;
    if (target != kTreeRoot && !tree.IsValid(target)) target = kTreeRoot;

    if (target == kTreeRoot) {
        m.exportItem = false;
        m.exportTrees = false;
    } else if (!tree.ItemHasChildren(target)) {
        m.expand = m.collapse = m.expandTree = m.collapseTree = false;
        m.exportTrees = false;
        m.showCollapseChildren = false;
    } else {
        bool grandchildren = false, expandedBranch = false;
        for (TreeItem c = tree.GetChildItem(target); c && !expandedBranch;
             c = tree.GetNextSiblingItem(c)) {
            if (!tree.ItemHasChildren(c)) continue;
            grandchildren = true;
            expandedBranch = tree.IsExpanded(c);
        }
        if (!grandchildren) {
            m.expandTree = m.collapseTree = false;
            m.showCollapseChildren = false;
        } else if (!expandedBranch) {
            m.showCollapseChildren = false;
        }
        if (tree.IsExpanded(target))
            m.expand = false;
        else
            m.collapse = false;
    }

    const uint32_t data = target != kTreeRoot ? tree.GetItemData(target) : kind::kNone;
    const bool hasKind = target != kTreeRoot;
    m.parseSliceMbs = hasKind && (data == kind::kSlicePlaceholder || IsSliceData(data));
    m.deleteSliceMbs = hasKind && IsSliceData(data);
    m.parsePictureMbs = m.deletePictureMbs =
        hasKind && (data == kind::kPicture || data == kind::kPictureHeader ||
                    data == kind::kExtension || data == kind::kSlice);
    m.parsePayload = hasKind && data == kind::kPayloadUnlisted;

    bool anyBranch = false;
    for (TreeItem c = tree.GetChildItem(kTreeRoot); c && !anyBranch; c = tree.GetNextSiblingItem(c))
        anyBranch = tree.ItemHasChildren(c);
    if (!anyBranch) m.expandAll = m.collapseAll = false;

    if (keywordEmpty) {
        m.searchTree = m.searchAll = false;
    } else {
        m.searchAllChecked = searchRootIsAll;
        m.searchTreeChecked = !searchRootIsAll;
    }
    return m;
}

TreeItem DeleteSliceTarget(const TreeStore& tree, TreeItem t) {
    if (t == kTreeRoot) return 0;
    auto lock = tree.Lock();
    const uint32_t data = tree.GetItemData(t);
    if (data == kind::kSlice) return t;
    if (data == kind::kSliceHeader) return tree.GetParentItem(t);
    return 0;
}

TreeItem PictureTarget(const TreeStore& tree, TreeItem t) {
    if (t == kTreeRoot) return 0;
    auto lock = tree.Lock();
    const uint32_t data = tree.GetItemData(t);
    if (data == kind::kPictureHeader || data == kind::kExtension || data == kind::kSlice)
        t = tree.GetParentItem(t);
    return t != kTreeRoot && tree.GetItemData(t) == kind::kPicture ? t : 0;
}

TreeItem PayloadTarget(const TreeStore& tree, TreeItem t) {
    if (t == kTreeRoot) return 0;
    return tree.GetItemData(t) == kind::kPayloadUnlisted ? t : 0;
}

DoubleClickAction DoubleClickRule(const TreeStore& tree, TreeItem item) {
    auto lock = tree.Lock();
    if (item == kTreeRoot || !tree.IsValid(item)) return DoubleClickAction::OpenFile;
    const uint32_t data = tree.GetItemData(item);
    if (data == kind::kSlicePlaceholder) return DoubleClickAction::ParseSliceMbs;
    if (data == kind::kPayloadUnlisted) return DoubleClickAction::ParsePayload;
    if (tree.ItemHasChildren(item)) return DoubleClickAction::None;
    return DoubleClickAction::OpenFile;
}

TreeItem AutoPictureTarget(const TreeStore& tree, TreeItem selected, bool down) {
    if (selected == kTreeRoot) return 0;
    auto lock = tree.Lock();
    if (tree.GetItemData(selected) != kind::kPicture) return 0;
    if (down && tree.IsExpanded(selected)) return 0;
    if (TreeItem p = NearestOfKind(tree, Sibling(tree, selected, down), kind::kPicture, down))
        return p;
    const TreeItem parent = tree.GetParentItem(selected);
    if (parent == kTreeRoot) return 0;
    const TreeItem gop = NearestOfKind(tree, Sibling(tree, parent, down), kind::kGop, down);
    if (!gop) return 0;
    const TreeItem first = tree.GetChildItem(gop);
    if (!first) return 0;
    if (down) return NearestOfKind(tree, tree.GetNextSiblingItem(first), kind::kPicture, true);
    // Up: the GOP's last picture, its first child excepted.
    const TreeItem p = NearestOfKind(tree, tree.GetLastChildItem(gop), kind::kPicture, false);
    return p != first ? p : 0;
}

void SearchWalk::Start(const TreeStore& tree, TreeItem root, std::string keyword) {
    auto lock = tree.Lock();
    keyword_ = std::move(keyword);
    root_ = root;
    current_ = 0;
    started_ = false;
    matches_ = 0;
    version_ = tree.StructureVersion();
    active_ = root == kTreeRoot || tree.IsValid(root);
}

SearchWalk::Step SearchWalk::Advance(const TreeStore& tree, size_t budget) {
    if (!active_) return Step::Done;
    auto lock = tree.Lock();
    if (tree.StructureVersion() != version_) {
        active_ = false;
        return Step::Done;
    }
    for (size_t tested = 0; tested < budget; ++tested) {
        TreeItem next;
        if (!started_) {
            started_ = true;
            next = root_ != kTreeRoot ? root_ : tree.GetChildItem(kTreeRoot);
        } else {
            // Pre-order: into the children first, else the next sibling of the nearest
            // ancestor that has one, without leaving the branch.
            next = tree.GetChildItem(current_);
            for (TreeItem at = current_; !next && at != root_;) {
                next = tree.GetNextSiblingItem(at);
                if (!next) at = tree.GetParentItem(at);
                if (at == kTreeRoot) break;
            }
        }
        if (!next) {
            active_ = false;
            return Step::Done;
        }
        current_ = next;
        if (tree.GetItemText(next).find(keyword_) != std::string::npos) {
            ++matches_;
            return Step::Match;
        }
    }
    return Step::Continue;
}

}  // namespace bitloupe
