#include "core/tree/TreeColours.h"

#include "core/tree/ItemKinds.h"

namespace bitloupe {

namespace {
constexpr TextColour Rgb(uint8_t r, uint8_t g, uint8_t b) {
    return TextColour{true, r, g, b};
}
}  // namespace

TextColour ItemTextColour(bool topLevel, uint32_t data) {
    if (data == kind::kGop) return Rgb(0, 192, 0);
    if (data == kind::kPicture) return Rgb(0, 0, 255);
    if (data == kind::kPack) return Rgb(255, 0, 0);
    if (IsVirtual(data)) return Rgb(128, 128, 128);
    if (topLevel) return Rgb(255, 0, 0);
    return {};
}

}  // namespace bitloupe
