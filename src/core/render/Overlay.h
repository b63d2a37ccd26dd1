// The geometry of the picture pane, free of any toolkit: where the picture frame sits and how
// far the pane scrolls, the macroblock grid, the motion vector arrows, the focused rectangle
// and the block view. The pane's widget only draws what these functions return.
//
// Coordinates are the pane's content pixels (before scrolling). A rectangle's right and bottom
// are exclusive, so the frame (9, 9, w + 11, h + 11) outlines the pixels 9 .. w + 10 and the
// picture fills 10 .. w + 9. A line runs from `from` up to, but not including, `to`.
//
// Display modes are those of the selection dispatch: -1 nothing, 0 block, 1 macroblock,
// 2 slice, 3 picture (below a picture item), 4 picture at its aspect-corrected display size.
#pragma once

#include <cstdint>
#include <vector>

#include "core/decode/Reconstruction.h"
#include "core/image/PictureDib.h"

namespace bitloupe {

struct PanePoint {
    int x = 0;
    int y = 0;
    bool operator==(const PanePoint&) const = default;
};

struct PaneLine {
    PanePoint from;
    PanePoint to;
    bool operator==(const PaneLine&) const = default;
};

struct PaneRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    bool operator==(const PaneRect&) const = default;
};

// The space around the picture on every side.
inline constexpr int kPaneMargin = 10;

// --- layout and scrolling ---

// The picture frame and the content size the pane needs. Without a file the default (empty)
// layout applies: nothing to scroll.
struct PaneLayout {
    PaneRect frame;
    int neededWidth = 0;
    int neededHeight = 0;
};
PaneLayout ComputeLayout(int width, int height);

// One scroll bar: shown when the client is smaller than the content, with the difference as
// its range.
struct ScrollBar {
    bool shown = false;
    int range = 0;
    int position = 0;
};
struct ScrollState {
    ScrollBar horizontal;
    ScrollBar vertical;
};

// The bar after a resize: a bar that appears starts at 0, one that stays keeps its position
// (limited to the new range), one that is hidden goes back to 0 (the caller scrolls the
// content back by the old position).
ScrollBar UpdateScrollBar(const ScrollBar& current, int needed, int client);
ScrollState UpdateScroll(const ScrollState& current, const PaneLayout& layout, int clientWidth,
                         int clientHeight);

// --- picture view ---

// The macroblock grid over a width x height picture: vertical lines first, then horizontal.
// In display mode 4 pass the display scales, else 1.0.
std::vector<PaneLine> GridLines(const PaneRect& frame, int width, int height, double scaleX,
                                double scaleY);

// The focused rectangle of a macroblock or slice: the bitmap's focus rectangle moved to the
// frame's origin, one pixel smaller on the right and bottom when the grid is drawn.
PaneRect PartFocusRect(const PaneRect& frame, const FocusRect& focus, bool gridOn);

// What the stream says about the shown area of a whole picture.
struct DisplayAreaInput {
    int pictureWidth = 0;  // coded size
    int pictureHeight = 0;
    int shownWidth = 0;  // the size the picture is drawn at (display size in mode 4)
    int shownHeight = 0;
    // The sequence display extension's display_horizontal_size and display_vertical_size, or
    // the picture size when there was none.
    int displayHorizontalSize = 0;
    int displayVerticalSize = 0;
    // Whether the picture had a picture display extension, and its first
    // frame_centre_horizontal_offset and frame_centre_vertical_offset (1/16 sample units).
    bool hasPictureDisplay = false;
    int frameCentreHorizontalOffset = 0;
    int frameCentreVerticalOffset = 0;
};

// The focused rectangle of a whole picture: the display area scaled to the shown size, at the
// frame's top-left or, with a picture display extension, centred in the shown picture and
// moved by the frame centre offset.
PaneRect DisplayAreaRect(const PaneRect& frame, const DisplayAreaInput& in);

// --- motion vectors ---

// Selector value for "both" (0/1 pick one); any value other than 0 and 1 means both.
inline constexpr int kBothSelected = -1;

// The two strokes of an arrow head, drawn from the line's end point.
struct ArrowHeadStrokes {
    int count = 0;  // 0 or 2
    PaneLine stroke[2];
};
ArrowHeadStrokes ArrowHead(int x1, int y1, int x2, int y2);

struct Arrow {
    PaneLine line;
    uint8_t vectorIndex = 0;  // 0 first vector, 1 second
    uint8_t direction = 0;    // 0 forward ("Forward Motion Vectors"), 1 backward
    ArrowHeadStrokes head;
};

struct MotionVectorView {
    int mbWidth = 0;  // the motion overlay is mbWidth x mbHeight records, row-major
    int mbHeight = 0;
    uint8_t pictureStructure = CPictureDib::kFrame;
    bool intraPicture = false;
    int displayMode = -1;
    FocusRect focus;  // chooses the macroblocks in display modes 1 and 2
    PaneRect frame;
    double scaleX = 1.0;  // used in display mode 4 only
    double scaleY = 1.0;
    int vectorIndex = kBothSelected;
    int direction = kBothSelected;
};

// The arrows of the selected vectors, in drawing order: vector index outer, direction inner,
// then macroblocks row by row. Nothing for an I picture or a display mode below 1.
std::vector<Arrow> MotionVectorLines(const std::vector<MotionOverlayRecord>& overlay,
                                     const MotionVectorView& view);

// --- block view ---

// The rectangle around a block at picture position (x, y) (luma coordinates, as the block
// result holds them) for component 0 Y, 1 Cb, 2 Cr and chroma_format 1 4:2:0, 2 4:2:2,
// 3 4:4:4. The 8x8 samples are drawn one pixel in from its top-left.
PaneRect BlockViewRect(const PaneRect& frame, int x, int y, int component, int chromaFormat);

// The colour (red in bits 0..7, blue in 16..23) one block sample shows: luma grey, Cb blue,
// Cr red, of intensity v (clipped to 0..255); a block that was not coded shows 128.
uint32_t BlockSampleColour(int component, int v, bool notCoded = false);

}  // namespace bitloupe
