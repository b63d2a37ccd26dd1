#include "core/image/DctMask.h"

namespace bitloupe {

namespace {

// Eight lines of eight characters with CR LF between them: 8 * 10 - 2 characters.
constexpr size_t kMaskTextLength = 78;

std::string UniformText(char c) {
    std::string text;
    for (int v = 0; v < 8; ++v) {
        if (v) text += "\r\n";
        text.append(8, c);
    }
    return text;
}

}  // namespace

std::string MaskToText(const DctMask& mask) {
    std::string text;
    text.reserve(kMaskTextLength);
    for (int v = 0; v < 8; ++v) {
        if (v) text += "\r\n";
        for (int u = 0; u < 8; ++u) text += mask[v * 8 + u] == 0 ? '0' : '1';
    }
    return text;
}

DctMask MaskFromText(std::string_view text) {
    DctMask mask{};
    for (int r = 0; r < 8; ++r)
        for (int u = 0; u < 8; ++u) {
            const size_t at = static_cast<size_t>(u + 10 * r);
            mask[r * 8 + u] = at < text.size() && text[at] == '0' ? 0 : 1;
        }
    return mask;
}

std::string AllOnesText() {
    return UniformText('1');
}
std::string AllZerosText() {
    return UniformText('0');
}

std::string ApplyIndexText(std::string_view maskText, std::string_view indexText, char value) {
    std::string text(maskText);
    if (text.size() < kMaskTextLength) text = MaskToText(MaskFromText(text));
    for (size_t at = 0; at + 5 <= indexText.size(); at += 5) {
        const int x = indexText[at + 1] - '0';
        const int y = indexText[at + 3] - '0';
        if (x < 0 || x > 7 || y < 0 || y > 7) continue;
        text[static_cast<size_t>(x + 10 * y)] = value;
    }
    return text;
}

void SelectiveDct::Apply(int16_t coefficients[64]) const {
    if (!enabled) return;
    for (int i = 0; i < 64; ++i)
        if (mask[i] == 0) coefficients[i] = 0;
}

}  // namespace bitloupe
