#include "gui/StringTable.h"

#include <cstddef>

#include "gui/CommandIds.h"

namespace bitloupe {

namespace {
struct Entry {
    int id;
    const char* text;
};

constexpr Entry kPrompts[] = {
    {cmd::kOpen, "Open an existing MPEG-1/2 video file\nOpen an MPEG file"},
    {cmd::kSaveFrame, "Save the frame (both fields) \nSave Frame"},
    {cmd::kSaveTopField, "Save the top field\nSave Top Field"},
    {cmd::kSaveBottomField, "Save the bottom field\nSave Bottom Field"},
    {cmd::kSaveSnapshot, "Save the current snapshot within the video boundary\nSave Snapshot"},
    {cmd::kSaveMbsBig, "Save the focused MB or Slice\nSave MB/Slice (Big)"},
    {cmd::kSaveMbsSmall, "Save the focused MB or Slice (Small)\nSave MBs/Slice (Small)"},
    {cmd::kAbout, "Display program information, version number and copyright\nAbout"},
    {cmd::kExit, "Quit the application\nExit"},
    {cmd::kToolbar, "Show or hide the toolbar\nToggle Toolbar"},
    {cmd::kStatusBar, "Show or hide the status bar\nToggle Status Bar"},
    {cmd::kRefresh, "Decode and show the current item again\nRefresh"},
    {cmd::kDisplayModes[0], "Show the picture in its own colours\nDisplay: Normal"},
    {cmd::kDisplayModes[1], "Show the luma (Y) samples as grey\nDisplay: Y"},
    {cmd::kDisplayModes[2], "Show the Cb (U) samples\nDisplay: Cb"},
    {cmd::kDisplayModes[3], "Show the Cr (V) samples\nDisplay: Cr"},
    {cmd::kDisplayModes[4], "Show the red channel only\nDisplay: Red"},
    {cmd::kDisplayModes[5], "Show the green channel only\nDisplay: Green"},
    {cmd::kDisplayModes[6], "Show the blue channel only\nDisplay: Blue"},
    {cmd::kDisplayModes[7], "Show the yellow channels only\nDisplay: Yellow"},
    {cmd::kDisplayModes[8], "Show the magenta channels only\nDisplay: Magenta"},
    {cmd::kDisplayModes[9], "Show the cyan channels only\nDisplay: Cyan"},
    {cmd::kSelectiveDct, "Choose the DCT coefficients used in the reconstruction\nSelective DCT"},
    {cmd::kLiveDeinterlacing, "De-interlace every picture as it is shown\nLive De-Interlacing"},
    {cmd::kAutoPictureMode, "Let the arrow keys step from picture to picture\nAuto-Picture Mode"},
    {cmd::kNegative, "Invert the shown picture\nNegative"},
    {cmd::kGamma, "Correct the gamma of the shown picture\nGamma Correction"},
    {cmd::kDeinterlacing, "De-interlace the shown picture\nDe-Interlacing"},
    {cmd::kUniformSmooth, "Smooth the shown picture with a uniform kernel\nUniform Smooth"},
    {cmd::kGaussianSmooth, "Smooth the shown picture with a Gaussian kernel\nGaussian Smooth"},
    {cmd::kMedianSmooth, "Smooth the shown picture with a median filter\nMedian Smooth"},
    {cmd::kWeakSharpen, "Sharpen the shown picture a little\nWeak Sharpen"},
    {cmd::kStrongSharpen, "Sharpen the shown picture strongly\nStrong Sharpen"},
    {cmd::kEdgeBlack, "Detect edges on a black background\nEdge Detection"},
    {cmd::kEdgeWhite, "Detect edges on a white background\nEdge Detection"},
    {cmd::kEdgeGray, "Detect edges on a grey background\nEdge Detection"},
    {cmd::kEmbossLeftUp, "Emboss towards the upper left\nEmboss"},
    {cmd::kEmbossLeftDown, "Emboss towards the lower left\nEmboss"},
    {cmd::kEmbossRightUp, "Emboss towards the upper right\nEmboss"},
    {cmd::kEmbossRightDown, "Emboss towards the lower right\nEmboss"},
    {cmd::kVerticalFlip, "Flip the shown picture upside down\nVertical Flip"},
    {cmd::kHorizontalFlip, "Mirror the shown picture\nHorizontal Flip"},
    {cmd::kRestore, "Restore the picture as it was decoded\nRestore"},
};

constexpr Entry kTooltips[] = {
    {cmd::kSearch, "Search Syntax"},
    {cmd::kKeyword, "Keyword for Syntax Search"},
    {cmd::kDisplayMvs, "Display MVs"},
    {cmd::kMvType, "Select MV Type for Display"},
    {cmd::kDisplayType, "Picture Display Type"},
    {cmd::kMbGrid, "Display MB Grid"},
    {cmd::kFieldOption, "Field Option"},
    {cmd::kColors, "Customize Colors"},
    // The parsing dialog
    {1039, "Parse Program Stream"},
    {1040, "Parse Elementary Video Stream"},
    {1041, "Parse PS and EVS"},
    {1042, "Indicator of Parsing Point"},
    {1046, "Select Parsing Mode"},
    {1047, "Parsing Point"},
    {1049, "Starting Picture"},
};

template <std::size_t N>
const char* Lookup(const Entry (&table)[N], int id) {
    for (const Entry& e : table)
        if (e.id == id) return e.text;
    return "";
}
}  // namespace

const char* CommandPrompt(int id) {
    return Lookup(kPrompts, id);
}

const char* ControlTooltip(int id) {
    return Lookup(kTooltips, id);
}

}  // namespace bitloupe
