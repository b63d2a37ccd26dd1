#include "core/tree/Export.h"

#include <gtest/gtest.h>

#include "core/syntax/StreamState.h"

namespace bitloupe {
namespace {

TEST(Export, AllAndNonVirtualOutlines) {
    TreeStore t;
    const TreeItem a = t.InsertItem("item", 0, 0, kTreeRoot);
    const TreeItem b = t.InsertItem("child", 0, 0, a);
    t.InsertItem("grandchild", 0, 0, b);
    EXPECT_EQ(ExportBranch(t, a, true, true), "item\r\n\tchild\r\n\t\tgrandchild\r\n");

    const TreeItem v = t.InsertItem("virtual", 21, kind::kVirtual, a);
    t.InsertItem("under virtual", 0, 0, v);
    t.InsertItem("last", 0, 0, a);
    EXPECT_EQ(ExportBranch(t, a, true, false), "item\r\n\tchild\r\n\t\tgrandchild\r\n\tlast\r\n");
    EXPECT_EQ(ExportBranch(t, a, true, true),
              "item\r\n\tchild\r\n\t\tgrandchild\r\n\tvirtual\r\n\t\tunder virtual\r\n\tlast\r\n");
    EXPECT_EQ(ExportBranch(t, v, true, false), "");
    // Without itself: the children at one tab, no trailing line end.
    EXPECT_EQ(ExportBranch(t, b, false, true), "\tgrandchild");
}

TEST(Export, PelBranchKeepsPelMatricesOnly) {
    TreeStore t;
    const TreeItem block = t.InsertItem("Block #0 (Y)", 14, kind::kBlockY, kTreeRoot);
    t.InsertItem("dct_dc_size_luminance=3 (100B, 3-bit VLC)", 20, 0, block);
    const TreeItem rle = t.InsertItem("raw DCT data (RLE)", 0, kind::kRawDct, block);
    t.InsertItem("(run,level)=(0,+1) (110B, 3-bit VLC)", 20, 0, rle);
    const TreeItem coef = t.InsertItem("coefficients", 21, kind::kCoefficientMatrix, block);
    t.InsertItem("row", 21, kind::kVirtual, coef);
    const TreeItem pel = t.InsertItem("Pel values", 21, kind::kPelMatrix, block);
    t.InsertItem("  1,  2", 21, kind::kVirtual, pel);
    EXPECT_EQ(ExportPelBranch(t, block, true),
              "Block #0 (Y)\r\n\tdct_dc_size_luminance=3 (100B, 3-bit VLC)\r\n\tPel values\r\n"
              "\t\t  1,  2\r\n");
    EXPECT_FALSE(IsLargeBranch(t, block));
}

TEST(Export, LargeBranchRule) {
    TreeStore t;
    const TreeItem slice = t.InsertItem("Slice", 9, kind::kSlice, kTreeRoot);
    for (int i = 0; i < 9; ++i) t.InsertItem("MB", 11, kind::kMacroblock, slice);
    EXPECT_FALSE(IsLargeBranch(t, slice));
    t.InsertItem("MB", 11, kind::kMacroblock, slice);
    EXPECT_TRUE(IsLargeBranch(t, slice));
    EXPECT_TRUE(IsLargeBranch(t, t.InsertItem("GOP", 3, kind::kGop, kTreeRoot)));
}

}  // namespace
}  // namespace bitloupe
