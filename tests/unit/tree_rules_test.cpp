#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestUtil.h"
#include "core/session/TreeCommands.h"
#include "core/tree/TreeRules.h"

namespace bitloupe {
namespace {

using test::Children;
using test::Engine;
using test::Pictures;

constexpr const char* kStream = "mpeg2-progressive.m2v";  // GOPs of 4 and 6 pictures

// Every item of from's branch in pre-order (from itself first when it is a real item).
void PreOrder(const TreeStore& t, TreeItem from, std::vector<TreeItem>* out) {
    if (from != kTreeRoot) out->push_back(from);
    for (TreeItem c = t.GetChildItem(from); c; c = t.GetNextSiblingItem(c)) PreOrder(t, c, out);
}

class TreeRules : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!test::HaveData(kStream)) GTEST_SKIP() << "no test data";
        ASSERT_TRUE(e.Open(test::DataPath(kStream)));
        e.Parse();
        pictures = Pictures(e);
        ASSERT_EQ(pictures.size(), 10u);
        gops = Children(e.tree, e.stream.videoItem, kind::kGop);
        ASSERT_EQ(gops.size(), 2u);
        slice = Children(e.tree, pictures[0], kind::kSlice).at(0);
        sliceHeader = Children(e.tree, slice, kind::kSliceHeader).at(0);
        placeholder = FindSlicePlaceholder(e.tree, slice);
        ASSERT_NE(placeholder, 0u);
        pictureHeader = Children(e.tree, pictures[0], kind::kPictureHeader).at(0);
    }
    Engine e;
    std::vector<TreeItem> pictures, gops;
    TreeItem slice = 0, sliceHeader = 0, placeholder = 0, pictureHeader = 0;
};

// The five on-demand entries as a string: payload, parse slice, delete slice, picture (x2).
std::string OnDemand(const PopupMenuState& m) {
    std::string s;
    for (bool b :
         {m.parsePayload, m.parseSliceMbs, m.deleteSliceMbs, m.parsePictureMbs, m.deletePictureMbs})
        s += b ? '1' : '0';
    return s;
}

TEST_F(TreeRules, PopupMenu) {
    {
        SCOPED_TRACE("no target");
        const PopupMenuState m = PopupMenuRules(e.tree, 0, false, true);
        EXPECT_FALSE(m.exportItem || m.exportTrees);
        EXPECT_TRUE(m.expand && m.collapse && m.expandTree && m.collapseTree);
        EXPECT_TRUE(m.showCollapseChildren && m.expandAll && m.collapseAll);
        EXPECT_EQ(OnDemand(m), "00000");
        EXPECT_TRUE(m.searchAll && m.searchTree && m.searchAllChecked);
        EXPECT_FALSE(m.searchTreeChecked);
    }
    {
        SCOPED_TRACE("placeholder: a leaf");
        const PopupMenuState m = PopupMenuRules(e.tree, placeholder, false, false);
        EXPECT_FALSE(m.expand || m.collapse || m.expandTree || m.collapseTree);
        EXPECT_FALSE(m.showCollapseChildren || m.exportTrees);
        EXPECT_TRUE(m.exportItem);
        EXPECT_EQ(OnDemand(m), "01000");
        EXPECT_TRUE(m.searchTreeChecked);
        EXPECT_FALSE(m.searchAllChecked);
        const PopupMenuState empty = PopupMenuRules(e.tree, placeholder, true, true);
        EXPECT_FALSE(empty.searchAll || empty.searchTree || empty.searchAllChecked);
    }
    {
        SCOPED_TRACE("slice");
        PopupMenuState m = PopupMenuRules(e.tree, slice, false, true);
        EXPECT_TRUE(m.expand && m.expandTree && m.exportTrees);
        EXPECT_FALSE(m.collapse || m.showCollapseChildren);  // no child expanded
        EXPECT_EQ(OnDemand(m), "01111");
        e.tree.SetExpandedFlag(slice, true);
        e.tree.SetExpandedFlag(sliceHeader, true);
        m = PopupMenuRules(e.tree, slice, false, true);
        EXPECT_FALSE(m.expand);
        EXPECT_TRUE(m.collapse && m.showCollapseChildren);
        EXPECT_EQ(OnDemand(PopupMenuRules(e.tree, sliceHeader, false, true)), "01100");
    }
    {
        SCOPED_TRACE("picture header: its children are leaves");
        const PopupMenuState m = PopupMenuRules(e.tree, pictureHeader, false, true);
        EXPECT_TRUE(m.expand && m.exportTrees);
        EXPECT_FALSE(m.expandTree || m.collapseTree || m.showCollapseChildren);
        EXPECT_EQ(OnDemand(m), "00011");
    }
    {
        SCOPED_TRACE("no top-level item with children");
        TreeStore t;
        const TreeItem leaf = t.InsertItem("Double click the window...", 27, 0, kTreeRoot);
        const PopupMenuState m = PopupMenuRules(t, leaf, false, true);
        EXPECT_FALSE(m.expandAll || m.collapseAll);
    }
}

TEST_F(TreeRules, OnDemandTargetsAndDoubleClick) {
    EXPECT_EQ(DeleteSliceTarget(e.tree, sliceHeader), slice);
    EXPECT_EQ(DeleteSliceTarget(e.tree, placeholder), 0u);
    EXPECT_EQ(PictureTarget(e.tree, slice), pictures[0]);
    EXPECT_EQ(PictureTarget(e.tree, pictures[0]), pictures[0]);
    EXPECT_EQ(PictureTarget(e.tree, sliceHeader), 0u);

    const TreeItem payload =
        e.tree.InsertItem("payload", 0, kind::kPayloadUnlisted, e.stream.videoItem);
    EXPECT_EQ(PayloadTarget(e.tree, payload), payload);
    EXPECT_EQ(DoubleClickRule(e.tree, placeholder), DoubleClickAction::ParseSliceMbs);
    EXPECT_EQ(DoubleClickRule(e.tree, payload), DoubleClickAction::ParsePayload);
    EXPECT_EQ(DoubleClickRule(e.tree, slice), DoubleClickAction::None);
    EXPECT_EQ(DoubleClickRule(e.tree, e.tree.GetChildItem(pictureHeader)),
              DoubleClickAction::OpenFile);
    EXPECT_EQ(DoubleClickRule(e.tree, 0), DoubleClickAction::OpenFile);
}

TEST_F(TreeRules, AutoPictureAcrossGops) {
    const auto& p = pictures;  // GOP 1: p[0..3], GOP 2: p[4..9]
    EXPECT_EQ(AutoPictureTarget(e.tree, p[1], true), p[2]);
    EXPECT_EQ(AutoPictureTarget(e.tree, p[2], false), p[1]);
    EXPECT_EQ(AutoPictureTarget(e.tree, p[3], true), p[4]);
    EXPECT_EQ(AutoPictureTarget(e.tree, p[4], false), p[3]);  // the last, not the first
    EXPECT_EQ(AutoPictureTarget(e.tree, p[0], false), 0u);    // no earlier GOP
    EXPECT_EQ(AutoPictureTarget(e.tree, p[9], true), 0u);     // the last picture
    EXPECT_EQ(AutoPictureTarget(e.tree, p[9], false), p[8]);
    EXPECT_EQ(AutoPictureTarget(e.tree, pictureHeader, true), 0u);

    e.tree.SetExpandedFlag(p[3], true);
    EXPECT_EQ(AutoPictureTarget(e.tree, p[3], true), 0u);  // Down enters the children
    EXPECT_EQ(AutoPictureTarget(e.tree, p[3], false), p[2]);
}

// Walks the branch to its end, returning the matches.
std::vector<TreeItem> WalkAll(SearchWalk& w, const TreeStore& t, size_t budget,
                              size_t* tested = nullptr) {
    std::vector<TreeItem> out;
    size_t steps = 0;
    for (SearchWalk::Step s; (s = w.Advance(t, budget)) != SearchWalk::Step::Done; ++steps)
        if (s == SearchWalk::Step::Match) out.push_back(w.current());
    if (tested) *tested = steps;
    EXPECT_FALSE(w.active());
    return out;
}

TEST_F(TreeRules, SearchWalkVisitsEveryItemInPreOrder) {
    std::vector<TreeItem> all, expected;
    PreOrder(e.tree, kTreeRoot, &all);
    for (TreeItem item : all)
        if (e.Text(item).find("_c") != std::string::npos) expected.push_back(item);
    ASSERT_GT(expected.size(), 10u);

    SearchWalk w;
    w.Start(e.tree, kTreeRoot, "_c");
    size_t tested = 0;
    EXPECT_EQ(WalkAll(w, e.tree, 1, &tested), expected);
    EXPECT_EQ(tested, e.tree.ItemCount());  // one item per step, each exactly once
    EXPECT_EQ(w.matches(), static_cast<int>(expected.size()));

    w.Start(e.tree, kTreeRoot, "_c");
    EXPECT_EQ(WalkAll(w, e.tree, 1000), expected);
}

TEST_F(TreeRules, SearchWalkOnceTwiceAndBranch) {
    SearchWalk w;
    w.Start(e.tree, kTreeRoot, "(Picture #7,");
    EXPECT_EQ(WalkAll(w, e.tree, 1u << 20), std::vector<TreeItem>{pictures[6]});

    w.Start(e.tree, kTreeRoot, "GOP (Group");
    EXPECT_EQ(WalkAll(w, e.tree, 1u << 20), gops);
    EXPECT_EQ(w.matches(), 2);
    w.Start(e.tree, kTreeRoot, "GOP (Group");  // the restart the caller asks for
    EXPECT_EQ(w.Advance(e.tree, 1u << 20), SearchWalk::Step::Match);
    EXPECT_EQ(w.current(), gops[0]);
    EXPECT_EQ(w.matches(), 1);

    // A branch: its root first, then into its children, never past it.
    w.Start(e.tree, gops[0], "GOP");
    const TreeItem header = Children(e.tree, gops[0], kind::kGopHeader).at(0);
    EXPECT_EQ(WalkAll(w, e.tree, 1u << 20), (std::vector<TreeItem>{gops[0], header}));
}

TEST_F(TreeRules, SearchWalkFollowsAppendsAndEndsOnDeletion) {
    SearchWalk w;
    w.Start(e.tree, kTreeRoot, "GOP (Group");
    ASSERT_EQ(w.Advance(e.tree, 1u << 20), SearchWalk::Step::Match);
    // An append, as a parse thread makes, is walked into.
    const TreeItem appended =
        e.tree.InsertItem("GOP (Group of Pictures) #3", 0, kind::kGop, e.stream.videoItem);
    EXPECT_EQ(WalkAll(w, e.tree, 1u << 20), (std::vector<TreeItem>{gops[1], appended}));

    w.Start(e.tree, kTreeRoot, "GOP (Group");
    ASSERT_EQ(w.Advance(e.tree, 1u << 20), SearchWalk::Step::Match);
    e.tree.DeleteItem(slice);
    EXPECT_EQ(w.Advance(e.tree, 1u << 20), SearchWalk::Step::Done);
    EXPECT_FALSE(w.active());
}

}  // namespace
}  // namespace bitloupe
