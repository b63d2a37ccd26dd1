// Gamma correction: the conversions between the dialog's slider positions and gamma values,
// the texts it shows, the 256-entry lookup tables, and the dialog's rules (linking the three
// channels, accepting typed values, changing the range) as plain state that the window only
// mirrors.
//
// Slider positions run from -100 (left end, the maximum gamma) through 0 (gamma 1) to 100
// (right end, the minimum gamma, which is always 1 / maximum). A gamma below 1 brightens the
// picture, one above 1 darkens it.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace bitloupe {

inline constexpr int kGammaSliderMin = -100;
inline constexpr int kGammaSliderMax = 100;
inline constexpr int kGammaSliderTicks = 25;
// Typed gamma values outside this range are ignored.
inline constexpr double kGammaLowest = 0.1;
inline constexpr double kGammaHighest = 10.0;
// The initial range.
inline constexpr double kDefaultGammaMaximum = 4.0;

// Slider position to gamma within [gMin, gMax] (position taken within -100..100).
double SliderToGamma(int position, double gMax, double gMin);
// Gamma to the nearest slider position (halves away from zero), within -100..100.
int GammaToSlider(double gamma, double gMax, double gMin);

using GammaTable = std::array<uint8_t, 256>;
// Entry i = 255 * (i / 255) ^ gamma, to the nearest integer. Gammas are taken within
// 0.1..10 (anything else, including not-a-number, as 1), so entry 0 is always 0 and
// entry 255 always 255.
GammaTable MakeGammaTable(double gamma);

struct GammaTables {
    GammaTable red;
    GammaTable green;
    GammaTable blue;
};

// A gamma as the edits show it ("%g").
std::string FormatGamma(double value);
// A typed gamma: the leading decimal number of the text, accepted within 0.1..10.
std::optional<double> ParseGammaText(std::string_view text);
// A typed maximum: accepted above 1 and at most 10. (A maximum of 1 or less would leave the
// slider no range, or turn it round, and the conversions would divide by zero.)
std::optional<double> ParseGammaMaximum(std::string_view text);
// The minimum's text for a maximum: 1 / gMax with "%g", or "1/" and the maximum ("1/%g") when
// that is more than 2 characters longer than the maximum's own text.
std::string MinimumGammaText(double gMax, std::string_view maxText);

// The state behind the "Gamma Correction" dialog. Channels are 0 red, 1 green, 2 blue.
class GammaSettings {
  public:
    static constexpr int kRed = 0;
    static constexpr int kGreen = 1;
    static constexpr int kBlue = 2;

    GammaSettings();

    double Maximum() const { return gMax_; }
    double Minimum() const { return gMin_; }
    // The range labels' texts ("4" and "1/4" at first).
    const std::string& MaximumText() const { return maxText_; }
    const std::string& MinimumText() const { return minText_; }

    double Gamma(int channel) const { return gamma_[Index(channel)]; }
    int Position(int channel) const { return position_[Index(channel)]; }
    // What the channel's edit shows ("%g" of its gamma).
    std::string GammaText(int channel) const { return FormatGamma(Gamma(channel)); }
    bool Linked() const { return linked_; }

    // A slider moved. When linked, green and blue follow red. Every gamma is recomputed from
    // its position.
    void SetPosition(int channel, int position);
    // A gamma edit changed. Returns false, changing nothing, when the text is not accepted.
    // Otherwise the channel takes the value (all three when linked) and its slider follows.
    bool SetGammaText(int channel, std::string_view text);
    // The link box toggled. Linking copies the red position to green and blue.
    void SetLinked(bool linked);
    // The maximum edit changed. Returns false, changing nothing, when not accepted. Otherwise
    // the range changes and every gamma is clamped into it, its slider recomputed.
    bool SetMaximumText(std::string_view text);

    GammaTables Tables() const;

  private:
    static int Index(int channel) { return channel < 0 ? 0 : channel > 2 ? 2 : channel; }
    void SetGamma(int channel, double gamma);

    double gMax_;
    double gMin_;
    std::string maxText_;
    std::string minText_;
    double gamma_[3] = {1.0, 1.0, 1.0};
    int position_[3] = {0, 0, 0};
    bool linked_ = true;
};

}  // namespace bitloupe
