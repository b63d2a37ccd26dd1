// The tree pane's rules, free of any toolkit: what the popup menu offers for an item, which
// item an on-demand command targets, what a double click does, where the arrow keys go in
// auto-picture mode, and the keyword search as a resumable pre-order walk.
#pragma once

#include <cstdint>
#include <string>

#include "core/tree/TreeStore.h"

namespace bitloupe {

// The state of the tree's popup menu for a target item (0 for none). "enabled" false means
// the entry is grayed; showCollapseChildren false means "Collapse Children" is removed.
struct PopupMenuState {
    bool expand = true, collapse = true, collapseChildren = true, expandTree = true,
         collapseTree = true, expandAll = true, collapseAll = true;
    bool showCollapseChildren = true;
    bool parsePayload = false, parseSliceMbs = false, deleteSliceMbs = false,
         parsePictureMbs = false, deletePictureMbs = false;
    bool searchTree = true, searchAll = true;  // enabled
    bool searchTreeChecked = false, searchAllChecked = false;
    bool exportItem = true, exportTrees = true;  // "Export Item"; the three "Export Tree" entries
};

// keywordEmpty: the bar's keyword box is empty; searchRootIsAll: the search root is the whole
// tree. Reads children, expanded flags and kind codes from the store.
PopupMenuState PopupMenuRules(const TreeStore& tree, TreeItem target, bool keywordEmpty,
                              bool searchRootIsAll);

// The targets of the on-demand commands for popup target t (0 when the command does not
// apply). The slice placeholder target is FindSlicePlaceholder (TreeCommands.h).
TreeItem DeleteSliceTarget(const TreeStore& tree, TreeItem t);  // a slice or its header
TreeItem PictureTarget(const TreeStore& tree, TreeItem t);      // a picture or a unit of it
TreeItem PayloadTarget(const TreeStore& tree, TreeItem t);      // a payload not listed yet

// What a double click on item (0: blank space) asks the main frame for.
enum class DoubleClickAction { None, ParseSliceMbs, ParsePayload, OpenFile };
DoubleClickAction DoubleClickRule(const TreeStore& tree, TreeItem item);

// The item Up (down false) or Down selects in auto-picture mode when `selected` is a picture
// item, or 0 when the tree's default key handling applies.
TreeItem AutoPictureTarget(const TreeStore& tree, TreeItem selected, bool down);

// The keyword search: a pre-order walk of a branch (kTreeRoot: the whole tree) that stops at
// every item whose text contains the keyword (byte for byte, case-sensitive). The walk is
// resumable and advances in bounded steps, so the interface thread can drive it without
// stalling. It ends when the tree's structure changes (an item deleted or inserted before the
// last child), since the place it stopped at may be gone.
class SearchWalk {
  public:
    enum class Step { Match, Continue, Done };

    // Starts a walk of root's branch; the root item itself is tested first when it is a real
    // item.
    void Start(const TreeStore& tree, TreeItem root, std::string keyword);
    // Walks at most `budget` items. Match: `current()` is the match (the count went up);
    // Continue: the budget ran out; Done: the branch is exhausted, or the tree changed.
    Step Advance(const TreeStore& tree, size_t budget);
    bool active() const { return active_; }
    void Stop() { active_ = false; }
    TreeItem current() const { return current_; }
    int matches() const { return matches_; }
    TreeItem root() const { return root_; }
    const std::string& keyword() const { return keyword_; }

  private:
    std::string keyword_;
    TreeItem root_ = kTreeRoot;
    TreeItem current_ = 0;  // last item tested
    bool started_ = false;  // the first item was tested
    bool active_ = false;
    int matches_ = 0;
    uint64_t version_ = 0;
};

}  // namespace bitloupe
