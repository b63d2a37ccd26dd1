#include "core/render/Overlay.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numbers>

namespace bitloupe {

namespace {

// Nearest integer, halves away from zero.
int Round(double v) {
    return static_cast<int>(std::lround(v));
}

}  // namespace

// --- layout and scrolling ---

PaneLayout ComputeLayout(int width, int height) {
    PaneLayout layout;
    layout.frame = {kPaneMargin - 1, kPaneMargin - 1, width + 1 + kPaneMargin,
                    height + 1 + kPaneMargin};
    layout.neededWidth = layout.frame.right + kPaneMargin;
    layout.neededHeight = layout.frame.bottom + kPaneMargin;
    return layout;
}

ScrollBar UpdateScrollBar(const ScrollBar& current, int needed, int client) {
    if (needed <= client) return {};
    ScrollBar bar;
    bar.shown = true;
    bar.range = needed - client;
    bar.position = current.shown ? std::clamp(current.position, 0, bar.range) : 0;
    return bar;
}

ScrollState UpdateScroll(const ScrollState& current, const PaneLayout& layout, int clientWidth,
                         int clientHeight) {
    return {UpdateScrollBar(current.horizontal, layout.neededWidth, clientWidth),
            UpdateScrollBar(current.vertical, layout.neededHeight, clientHeight)};
}

// --- picture view ---

std::vector<PaneLine> GridLines(const PaneRect& frame, int width, int height, double scaleX,
                                double scaleY) {
    std::vector<PaneLine> lines;
    const int shownWidth = Round(width * scaleX);
    const int shownHeight = Round(height * scaleY);
    for (int k = 16; k < width - 1; k += 16) {
        const int x = frame.left + Round(k * scaleX);
        lines.push_back({{x, frame.top + 1}, {x, frame.top + 1 + shownHeight}});
    }
    for (int k = 16; k < height - 1; k += 16) {
        const int y = frame.top + Round(k * scaleY);
        lines.push_back({{frame.left + 1, y}, {frame.left + 1 + shownWidth, y}});
    }
    return lines;
}

PaneRect PartFocusRect(const PaneRect& frame, const FocusRect& focus, bool gridOn) {
    const int inset = gridOn ? 1 : 0;
    return {focus.x0 + frame.left, focus.y0 + frame.top, focus.x1 + 3 + frame.left - inset,
            focus.y1 + 3 + frame.top - inset};
}

PaneRect DisplayAreaRect(const PaneRect& frame, const DisplayAreaInput& in) {
    // A display size is scaled to the shown size only when it is below the picture's.
    auto areaSide = [](int display, int picture, int shown) {
        if (picture <= 0 || display >= picture) return shown;
        return Round(static_cast<double>(display) * shown / picture);
    };
    auto offset = [](int sixteenths, int picture, int shown) {
        if (picture <= 0) return 0;
        return Round(static_cast<double>(sixteenths >> 4) * shown / picture);
    };
    const int w = areaSide(in.displayHorizontalSize, in.pictureWidth, in.shownWidth);
    const int h = areaSide(in.displayVerticalSize, in.pictureHeight, in.shownHeight);
    int x = frame.left;
    int y = frame.top;
    if (in.hasPictureDisplay) {
        x += (in.shownWidth - w) / 2 +
             offset(in.frameCentreHorizontalOffset, in.pictureWidth, in.shownWidth);
        y += (in.shownHeight - h) / 2 +
             offset(in.frameCentreVerticalOffset, in.pictureHeight, in.shownHeight);
    }
    return {x, y, x + w + 2, y + h + 2};
}

// --- motion vectors ---

ArrowHeadStrokes ArrowHead(int x1, int y1, int x2, int y2) {
    const int64_t dx = int64_t{x2} - x1;
    const int64_t dy = int64_t{y2} - y1;
    const int64_t q = dx * dx + dy * dy;
    int length = 4;
    if (q < 64) {
        length = Round(std::sqrt(static_cast<double>(q)) * 0.3);
        if (length < 3) return {};
    }
    constexpr double pi = std::numbers::pi;
    double a;
    if (dx == 0) {
        a = y1 > y2 ? -pi / 2 : pi / 2;
    } else {
        a = std::atan(static_cast<double>(dy) / static_cast<double>(std::llabs(dx)));
        if (x2 > x1) a = pi - a;
    }
    ArrowHeadStrokes head;
    head.count = 2;
    const double sides[2] = {a + pi / 4, a - pi / 4};
    for (int i = 0; i < 2; ++i) {
        head.stroke[i] = {
            {x2, y2},
            {x2 + Round(length * std::cos(sides[i])), y2 - Round(length * std::sin(sides[i]))}};
    }
    return head;
}

std::vector<Arrow> MotionVectorLines(const std::vector<MotionOverlayRecord>& overlay,
                                     const MotionVectorView& view) {
    std::vector<Arrow> arrows;
    if (view.intraPicture || view.displayMode < 1 || view.mbWidth <= 0 || view.mbHeight <= 0)
        return arrows;
    const bool field = view.pictureStructure == CPictureDib::kTopField ||
                       view.pictureStructure == CPictureDib::kBottomField;
    const bool scaled = view.displayMode == 4;
    // A macroblock covers 32 lines of the bitmap in a field picture.
    const int64_t rowLines = field ? 32 : 16;

    // The macroblocks to visit: the whole picture, or those under the focus rectangle.
    int64_t first = 0;
    int64_t rows = view.mbHeight;
    int64_t columns = view.mbWidth;
    if (view.displayMode < 3) {
        const FocusRect& f = view.focus;
        first = int64_t{f.y0} / rowLines * view.mbWidth + int64_t{f.x0} / 16;
        rows = std::min<int64_t>((int64_t{f.y1} - f.y0 + 3) / rowLines, view.mbHeight);
        columns = std::min<int64_t>((int64_t{f.x1} - f.x0 + 3) / 16, view.mbWidth);
    }

    const int originX = view.frame.left + 1;
    const int originY =
        view.frame.top + 1 + (view.pictureStructure == CPictureDib::kBottomField ? 1 : 0);

    for (int r = 0; r < 2; ++r) {
        if (view.vectorIndex == 1 - r) continue;
        for (int s = 0; s < 2; ++s) {
            if (view.direction == 1 - s) continue;
            for (int64_t i = 0; i < rows; ++i) {
                for (int64_t j = 0; j < columns; ++j) {
                    const int64_t index = first + i * view.mbWidth + j;
                    if (index < 0 || index >= static_cast<int64_t>(overlay.size())) continue;
                    const MotionOverlayRecord& rec = overlay[static_cast<size_t>(index)];
                    int dx = rec.vector[r][s][0] / 2;
                    int dy = field ? rec.vector[r][s][1] : rec.vector[r][s][1] / 2;
                    if (dx == 0 && dy == 0) continue;

                    const int row = static_cast<int>(index / view.mbWidth);
                    const int column = static_cast<int>(index % view.mbWidth);
                    int cx = column * 16 + 8;
                    int cy = field ? row * 32 + 16 : row * 16 + 8;
                    // 16x8 prediction: each vector belongs to its half of the macroblock.
                    if (field && rec.motionType == 2) cy += r == 1 ? 8 : -8;
                    if (scaled) {
                        cx = Round(cx * view.scaleX);
                        cy = Round(cy * view.scaleY);
                        dx = Round(dx * view.scaleX);
                        dy = Round(dy * view.scaleY);
                        if (dx == 0 && dy == 0) continue;
                    }
                    const PanePoint centre{cx + originX, cy + originY};
                    const PanePoint displaced{centre.x + dx, centre.y + dy};

                    Arrow arrow;
                    arrow.vectorIndex = static_cast<uint8_t>(r);
                    arrow.direction = static_cast<uint8_t>(s);
                    // Forward vectors point at the macroblock, backward ones away from it.
                    arrow.line = s == 0 ? PaneLine{displaced, centre} : PaneLine{centre, displaced};
                    arrow.head = ArrowHead(arrow.line.from.x, arrow.line.from.y, arrow.line.to.x,
                                           arrow.line.to.y);
                    arrows.push_back(arrow);
                }
            }
        }
    }
    return arrows;
}

// --- block view ---

PaneRect BlockViewRect(const PaneRect& frame, int x, int y, int component, int chromaFormat) {
    int width = 10;
    int height = 10;
    if (component != 0) {
        if (chromaFormat == 1) width = height = 18;
        if (chromaFormat == 2) height = 18;
    }
    const int left = frame.left + x;
    const int top = frame.top + y;
    return {left, top, left + width, top + height};
}

uint32_t BlockSampleColour(int component, int v, bool notCoded) {
    const uint32_t c = notCoded ? 128u : static_cast<uint32_t>(std::clamp(v, 0, 255));
    if (component == 1) return c << 16;
    if (component == 2) return c;
    return c | c << 8 | c << 16;
}

}  // namespace bitloupe
