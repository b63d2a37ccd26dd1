// Whether a string lies in the program's read-only image (a literal, or a string of a constant
// table): it lives as long as the program and never changes, so a pointer to it may be kept
// instead of a copy.
#pragma once

#include <cstdint>

namespace bitloupe {

bool IsStaticText(const char* text);
// A static text as its place in the image (32 bits, the image being far smaller), and back.
uint32_t StaticTextPlace(const char* text);
const char* StaticTextAt(uint32_t place);

}  // namespace bitloupe
