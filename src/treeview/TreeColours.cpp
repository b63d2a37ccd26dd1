#include "treeview/TreeColours.h"

#include "engine/StreamState.h"

namespace bitloupe {

namespace {
constexpr TextColour Rgb(uint8_t r, uint8_t g, uint8_t b) {
    return TextColour{true, r, g, b};
}
constexpr TextColour kWhite = Rgb(255, 255, 255);
}  // namespace

TextColour ItemTextColour(bool topLevel, uint32_t data, bool selected, bool focused) {
    TextColour c;
    if (topLevel) c = selected && focused ? kWhite : Rgb(255, 0, 0);
    if (data == kind::kGop) return selected ? kWhite : Rgb(0, 192, 0);
    if (data == kind::kPicture) return Rgb(0, 0, 255);
    if (data == kind::kPack) return selected ? kWhite : Rgb(255, 0, 0);
    if (IsVirtual(data)) return selected ? kWhite : Rgb(128, 128, 128);
    return c;
}

}  // namespace bitloupe
