#include "core/image/Gamma.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace bitloupe {

namespace {

// 1 / 255 as the tables have always been computed with it.
constexpr double kInv255 = 0.00392156862745098;

// The edits' texts are short; a gamma's "%g" takes at most a dozen characters.
std::string Format(const char* format, double value) {
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// The leading decimal number of a text (blanks before it allowed), as a typed value is read.
std::optional<double> LeadingNumber(std::string_view text) {
    size_t at = 0;
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) ++at;
    if (at < text.size() && text[at] == '+') ++at;
    double value = 0.0;
    const auto [end, error] = std::from_chars(text.data() + at, text.data() + text.size(), value,
                                              std::chars_format::general);
    if (error != std::errc() || end == text.data() + at || !std::isfinite(value))
        return std::nullopt;
    return value;
}

}  // namespace

double SliderToGamma(int position, double gMax, double gMin) {
    const int p = std::clamp(position, kGammaSliderMin, kGammaSliderMax);
    if (p > 0) return 1.0 + (gMin - 1.0) * p * 0.01;
    return 1.0 + (gMax - 1.0) * (-p) * 0.01;
}

int GammaToSlider(double gamma, double gMax, double gMin) {
    double p = 0.0;
    if (gamma >= 1.0) {
        if (gMax > 1.0) p = -((gamma - 1.0) * 100.0 / (gMax - 1.0));
    } else if (gamma < 1.0) {
        if (gMin < 1.0) p = (gamma - 1.0) * 100.0 / (gMin - 1.0);
    }
    // Not-a-number compares false both ways above and stays 0.
    p = std::clamp(p, double{kGammaSliderMin}, double{kGammaSliderMax});
    return static_cast<int>(std::lround(p));
}

GammaTable MakeGammaTable(double gamma) {
    if (!(gamma >= kGammaLowest && gamma <= kGammaHighest))
        gamma = std::isnan(gamma) ? 1.0 : std::clamp(gamma, kGammaLowest, kGammaHighest);
    GammaTable table{};
    for (int i = 0; i < 256; ++i) {
        const double v = 255.0 * std::pow(i * kInv255, gamma);
        table[i] = static_cast<uint8_t>(std::clamp<long>(std::lround(v), 0, 255));
    }
    return table;
}

std::string FormatGamma(double value) {
    return Format("%g", value);
}

std::optional<double> ParseGammaText(std::string_view text) {
    const auto value = LeadingNumber(text);
    if (!value || *value < kGammaLowest || *value > kGammaHighest) return std::nullopt;
    return value;
}

std::optional<double> ParseGammaMaximum(std::string_view text) {
    const auto value = LeadingNumber(text);
    if (!value || *value <= 1.0 || *value > kGammaHighest) return std::nullopt;
    return value;
}

std::string MinimumGammaText(double gMax, std::string_view maxText) {
    std::string text = Format("%g", 1.0 / gMax);
    if (text.size() > maxText.size() + 2) text = Format("1/%g", gMax);
    return text;
}

// --- the dialog's state ---

GammaSettings::GammaSettings()
    : gMax_(kDefaultGammaMaximum),
      gMin_(1.0 / kDefaultGammaMaximum),
      maxText_(FormatGamma(kDefaultGammaMaximum)),
      minText_(MinimumGammaText(kDefaultGammaMaximum, maxText_)) {}

void GammaSettings::SetGamma(int channel, double gamma) {
    const int c = Index(channel);
    gamma_[c] = gamma;
    position_[c] = GammaToSlider(gamma, gMax_, gMin_);
}

void GammaSettings::SetPosition(int channel, int position) {
    position_[Index(channel)] = std::clamp(position, kGammaSliderMin, kGammaSliderMax);
    if (linked_) position_[kGreen] = position_[kBlue] = position_[kRed];
    for (int c = 0; c < 3; ++c) gamma_[c] = SliderToGamma(position_[c], gMax_, gMin_);
}

bool GammaSettings::SetGammaText(int channel, std::string_view text) {
    const auto value = ParseGammaText(text);
    if (!value) return false;
    // A value beyond the slider's range is used as typed; the slider stops at its end.
    if (linked_) {
        for (int c = 0; c < 3; ++c) SetGamma(c, *value);
    } else {
        SetGamma(channel, *value);
    }
    return true;
}

void GammaSettings::SetLinked(bool linked) {
    const bool wasLinked = linked_;
    linked_ = linked;
    if (linked && !wasLinked &&
        (position_[kGreen] != position_[kRed] || position_[kBlue] != position_[kRed]))
        SetPosition(kRed, position_[kRed]);
}

bool GammaSettings::SetMaximumText(std::string_view text) {
    const auto value = ParseGammaMaximum(text);
    if (!value) return false;
    gMax_ = *value;
    gMin_ = 1.0 / gMax_;
    maxText_ = std::string(text);
    minText_ = MinimumGammaText(gMax_, maxText_);
    for (int c = 0; c < 3; ++c) SetGamma(c, std::clamp(gamma_[c], gMin_, gMax_));
    return true;
}

GammaTables GammaSettings::Tables() const {
    return {MakeGammaTable(gamma_[kRed]), MakeGammaTable(gamma_[kGreen]),
            MakeGammaTable(gamma_[kBlue])};
}

}  // namespace bitloupe
