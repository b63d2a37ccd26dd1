// Whether a string lies in the program's read-only image (a literal, or a string of a constant
// table): it lives as long as the program and never changes, so a pointer to it may be kept
// instead of a copy.
#pragma once

namespace bitloupe {

bool IsStaticText(const char* text);

}  // namespace bitloupe
