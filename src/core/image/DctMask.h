// The selective DCT matrix: an 8x8 mask of ones and zeros that, while enabled, zeroes the
// coefficients whose entry is 0 after inverse quantisation and before the inverse DCT, in
// every block decoded for display. The pel matrices of the tree never see it.
//
// Entry v * 8 + u belongs to vertical frequency v (row) and horizontal frequency u (column).
// The dialog edits the mask as text: eight lines of eight "0" or "1" characters separated by
// CR LF, so character u + 10 * v is entry (v, u).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace bitloupe {

using DctMask = std::array<uint8_t, 64>;

inline constexpr DctMask AllOnesMask() {
    DctMask m{};
    for (auto& e : m) e = 1;
    return m;
}

// The mask as the dialog shows it; entries other than 0 show as "1".
std::string MaskToText(const DctMask& mask);
// The dialog's OK: character u + 10 * r "0" gives entry r * 8 + u = 0, anything else 1,
// positions past the end of the text included.
DctMask MaskFromText(std::string_view text);

// "All Ones" and "All Zeros".
std::string AllOnesText();
std::string AllZerosText();

// "Some Ones" (value '1') and "Some Zeros" (value '0'): the index text is read in groups of
// five characters "(x,y)"; x is the character at offset 1 and y at offset 3; a group whose x
// and y are both digits 0..7 sets entry row y, column x of the mask text to the value, other
// groups are skipped; a last group of fewer than five characters ends the reading. Returns
// the new mask text. A text that has lost positions (edited by hand) is first brought back to
// the full layout, its missing entries as "1".
std::string ApplyIndexText(std::string_view maskText, std::string_view indexText, char value);

// The selective DCT matrix as the decoder holds it.
struct SelectiveDct {
    bool enabled = false;
    DctMask mask = AllOnesMask();

    // Zeroes every coefficient (natural row-major order) whose entry is 0, the DC included;
    // does nothing while disabled.
    void Apply(int16_t coefficients[64]) const;
};

}  // namespace bitloupe
