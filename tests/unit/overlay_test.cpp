// The picture pane's geometry: layout and scroll bars, the macroblock grid, motion vector
// arrows and their heads, the focused rectangles and the block view.
#include "core/render/Overlay.h"

#include <gtest/gtest.h>

#include <vector>

namespace bitloupe {
namespace {

const PaneRect kFrame = ComputeLayout(352, 288).frame;  // origin (9, 9)

TEST(PaneLayout, FrameNeededSizeAndScrollBars) {
    const PaneLayout l = ComputeLayout(352, 288);
    EXPECT_EQ(l.frame, (PaneRect{9, 9, 363, 299}));
    EXPECT_EQ(l.neededWidth, 373);
    EXPECT_EQ(l.neededHeight, 309);

    ScrollState s = UpdateScroll({}, l, 373, 309);
    EXPECT_FALSE(s.horizontal.shown || s.vertical.shown);
    s = UpdateScroll(s, l, 372, 300);
    EXPECT_TRUE(s.horizontal.shown);
    EXPECT_EQ(s.horizontal.range, 1);
    EXPECT_EQ(s.vertical.range, 9);
    s.vertical.position = 9;
    s = UpdateScroll(s, l, 372, 305);  // a bar that stays keeps its position within range
    EXPECT_EQ(s.vertical.position, 4);
    s = UpdateScroll(s, l, 400, 400);
    EXPECT_FALSE(s.vertical.shown);
    EXPECT_EQ(s.vertical.position, 0);
}

TEST(GridLines, EverySixteenPixelsInsideThePicture) {
    const std::vector<PaneLine> g = GridLines(kFrame, 352, 288, 1.0, 1.0);
    ASSERT_EQ(g.size(), 21u + 17u);
    EXPECT_EQ(g.front(), (PaneLine{{25, 10}, {25, 298}}));
    EXPECT_EQ(g[20], (PaneLine{{345, 10}, {345, 298}}));  // left + 336
    EXPECT_EQ(g[21], (PaneLine{{10, 25}, {362, 25}}));

    EXPECT_EQ(GridLines(kFrame, 33, 17, 1.0, 1.0).size(), 1u);  // k < width - 1

    const std::vector<PaneLine> s = GridLines(kFrame, 64, 16, 0.9, 1.0);  // display mode 4
    ASSERT_EQ(s.size(), 3u);
    EXPECT_EQ(s[0].from.x, 9 + 14);
    EXPECT_EQ(s[1].from.x, 9 + 29);
    EXPECT_EQ(s[2], (PaneLine{{9 + 43, 10}, {9 + 43, 26}}));
}

TEST(ArrowHead, ShortLinesHaveNoneLongOnesFourPixels) {
    EXPECT_EQ(ArrowHead(0, 0, 7, 0).count, 0);  // q = 49

    const ArrowHeadStrokes right = ArrowHead(0, 0, 8, 0);  // q = 64
    ASSERT_EQ(right.count, 2);
    EXPECT_EQ(right.stroke[0], (PaneLine{{8, 0}, {5, 3}}));
    EXPECT_EQ(right.stroke[1], (PaneLine{{8, 0}, {5, -3}}));

    const ArrowHeadStrokes left = ArrowHead(0, 0, -300, 0);
    EXPECT_EQ(left.stroke[0].to, (PanePoint{-297, -3}));
    EXPECT_EQ(left.stroke[1].to, (PanePoint{-297, 3}));

    const ArrowHeadStrokes up = ArrowHead(0, 10, 0, 0);
    EXPECT_EQ(up.stroke[0].to, (PanePoint{3, 3}));
    EXPECT_EQ(up.stroke[1].to, (PanePoint{-3, 3}));
}

// A 2x2 macroblock picture: macroblock 3 carries a forward (6, -4) and a backward (-40, 20)
// first vector, macroblock 0 a second forward vector (-3, 3), macroblock 1 a vector that
// halves to zero.
std::vector<MotionOverlayRecord> FrameOverlay() {
    std::vector<MotionOverlayRecord> o(4);
    o[3].vector[0][0][0] = 6;
    o[3].vector[0][0][1] = -4;
    o[3].vector[0][1][0] = -40;
    o[3].vector[0][1][1] = 20;
    o[3].motionType = 2;  // frame-based: no 16x8 offset in a frame picture
    o[0].vector[1][0][0] = -3;
    o[0].vector[1][0][1] = 3;
    o[1].vector[0][0][0] = 1;
    o[1].vector[0][0][1] = -1;
    return o;
}

MotionVectorView FrameView() {
    MotionVectorView v;
    v.mbWidth = 2;
    v.mbHeight = 2;
    v.displayMode = 3;
    v.frame = kFrame;
    return v;
}

TEST(MotionVectors, FramePictureDirectionsAndSelection) {
    const std::vector<MotionOverlayRecord> o = FrameOverlay();
    MotionVectorView v = FrameView();

    const std::vector<Arrow> all = MotionVectorLines(o, v);
    ASSERT_EQ(all.size(), 3u);
    // Forward: from 3 right and 2 up of the centre (34, 34) to the centre; too short for a head.
    EXPECT_EQ(all[0].line, (PaneLine{{37, 32}, {34, 34}}));
    EXPECT_EQ(all[0].direction, 0);
    EXPECT_EQ(all[0].head.count, 0);
    // Backward: from the centre to the displaced point, head there.
    EXPECT_EQ(all[1].line, (PaneLine{{34, 34}, {14, 44}}));
    EXPECT_EQ(all[1].direction, 1);
    ASSERT_EQ(all[1].head.count, 2);
    EXPECT_EQ(all[1].head.stroke[0], (PaneLine{{14, 44}, {15, 40}}));
    EXPECT_EQ(all[1].head.stroke[1], (PaneLine{{14, 44}, {18, 45}}));
    // Halving truncates toward zero: (-3, 3) is (-1, 1).
    EXPECT_EQ(all[2].line, (PaneLine{{17, 19}, {18, 18}}));
    EXPECT_EQ(all[2].vectorIndex, 1);

    v.vectorIndex = 255;  // any other value selects both
    v.direction = 0;
    EXPECT_EQ(MotionVectorLines(o, v).size(), 2u);

    // A macroblock view covers only the macroblock under the focus rectangle.
    v = FrameView();
    v.displayMode = 1;
    v.focus = {0, 0, 15, 15};
    ASSERT_EQ(MotionVectorLines(o, v).size(), 1u);
    EXPECT_EQ(MotionVectorLines(o, v)[0].vectorIndex, 1);

    v = FrameView();
    v.intraPicture = true;
    EXPECT_TRUE(MotionVectorLines(o, v).empty());
    v = FrameView();
    v.displayMode = 0;
    EXPECT_TRUE(MotionVectorLines(o, v).empty());
}

TEST(MotionVectors, ScaledViewRoundsHalvesAwayFromZero) {
    MotionVectorView v = FrameView();
    v.displayMode = 4;
    v.scaleX = 0.5;
    v.scaleY = 0.75;
    v.vectorIndex = 0;
    v.direction = 0;
    const std::vector<Arrow> a = MotionVectorLines(FrameOverlay(), v);
    ASSERT_EQ(a.size(), 1u);
    // Centre (24, 24) becomes (12, 18); (3, -2) becomes (2, -2).
    EXPECT_EQ(a[0].line, (PaneLine{{24, 26}, {22, 28}}));
}

TEST(MotionVectors, FieldPictures) {
    std::vector<MotionOverlayRecord> o(4);
    o[1].vector[0][0][0] = 4;  // field vector: dy = v
    o[1].vector[0][0][1] = -6;
    o[0].motionType = 2;  // 16x8: the first vector in the upper half, the second in the lower
    o[0].vector[0][0][1] = 4;
    o[0].vector[1][0][1] = 4;

    MotionVectorView v = FrameView();
    v.pictureStructure = CPictureDib::kTopField;
    const std::vector<Arrow> top = MotionVectorLines(o, v);
    ASSERT_EQ(top.size(), 3u);
    EXPECT_EQ(top[0].line, (PaneLine{{18, 22}, {18, 18}}));  // centre (8, 16) 8 lines up
    EXPECT_EQ(top[1].line, (PaneLine{{36, 20}, {34, 26}}));
    EXPECT_EQ(top[2].line, (PaneLine{{18, 38}, {18, 34}}));  // 8 lines down

    // The bottom field lies one line lower; its macroblock's focus starts on line 1.
    v.pictureStructure = CPictureDib::kBottomField;
    v.displayMode = 1;
    v.focus = {16, 1, 31, 32};
    const std::vector<Arrow> bottom = MotionVectorLines(o, v);
    ASSERT_EQ(bottom.size(), 1u);
    EXPECT_EQ(bottom[0].line, (PaneLine{{36, 21}, {34, 27}}));
}

TEST(FocusRects, PartAndDisplayArea) {
    EXPECT_EQ(PartFocusRect(kFrame, {16, 16, 31, 31}, false), (PaneRect{25, 25, 43, 43}));
    EXPECT_EQ(PartFocusRect(kFrame, {16, 16, 31, 31}, true), (PaneRect{25, 25, 42, 42}));

    DisplayAreaInput in;
    in.pictureWidth = in.shownWidth = 720;
    in.pictureHeight = in.shownHeight = 576;
    in.displayHorizontalSize = 704;
    in.displayVerticalSize = 576;
    EXPECT_EQ(DisplayAreaRect(kFrame, in), (PaneRect{9, 9, 715, 587}));

    // Centred, moved by (8, -5) whole samples (-72 / 16 shifts down to -5).
    in.hasPictureDisplay = true;
    in.frameCentreHorizontalOffset = 128;
    in.frameCentreVerticalOffset = -72;
    EXPECT_EQ(DisplayAreaRect(kFrame, in), (PaneRect{25, 4, 731, 582}));

    // Shown at 720x540: height 480 becomes 450, the offset -5 becomes -4.6875, i.e. -5.
    in.shownHeight = 540;
    in.displayVerticalSize = 480;
    EXPECT_EQ(DisplayAreaRect(kFrame, in), (PaneRect{25, 49, 731, 501}));
}

TEST(BlockView, RectanglesAndSampleColours) {
    EXPECT_EQ(BlockViewRect(kFrame, 8, 16, 0, 1), (PaneRect{17, 25, 27, 35}));
    EXPECT_EQ(BlockViewRect(kFrame, 16, 16, 1, 1), (PaneRect{25, 25, 43, 43}));
    EXPECT_EQ(BlockViewRect(kFrame, 16, 16, 2, 2), (PaneRect{25, 25, 35, 43}));
    EXPECT_EQ(BlockViewRect(kFrame, 16, 16, 2, 3), (PaneRect{25, 25, 35, 35}));

    EXPECT_EQ(BlockSampleColour(0, 200), 0xC8C8C8u);
    EXPECT_EQ(BlockSampleColour(1, 200), 0xC80000u);
    EXPECT_EQ(BlockSampleColour(2, 300), 0xFFu);
    EXPECT_EQ(BlockSampleColour(0, 7, true), 0x808080u);
}

}  // namespace
}  // namespace bitloupe
