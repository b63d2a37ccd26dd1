// The text colours of the tree's unselected items: top-level items red, GOPs green, pictures
// blue, packs red and virtual items grey. A selected row keeps the palette's selection colours,
// which read on the selection band whatever the palette.
#pragma once

#include <cstdint>

namespace bitloupe {

// An RGB colour, or none (the view's default for the state).
struct TextColour {
    bool set = false;
    uint8_t r = 0, g = 0, b = 0;
};

TextColour ItemTextColour(bool topLevel, uint32_t data);

}  // namespace bitloupe
