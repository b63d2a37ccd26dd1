// Command ids of the main window: menus, toolbar, accelerators, the bar of display controls,
// and the commands other windows post to the frame.
#pragma once

namespace bitloupe::cmd {

// File
inline constexpr int kOpen = 57601;
inline constexpr int kSaveFrame = 57603;
inline constexpr int kSaveTopField = 32800;
inline constexpr int kSaveBottomField = 32801;
inline constexpr int kSaveMbsBig = 32798;
inline constexpr int kSaveMbsSmall = 32802;
inline constexpr int kSaveSnapshot = 32799;
inline constexpr int kExit = 57665;
// View
inline constexpr int kToolbar = 59392;
inline constexpr int kStatusBar = 59393;
inline constexpr int kRefresh = 32818;
// "Display: Normal" .. "Display: Cyan", colour modes 0..9 in this order.
inline constexpr int kDisplayModes[10] = {32822, 32819, 32821, 32820, 32823,
                                          32824, 32825, 32826, 32829, 32828};
inline constexpr int kSelectiveDct = 32847;
inline constexpr int kLiveDeinterlacing = 32849;
inline constexpr int kAutoPictureMode = 32852;
// Processing
inline constexpr int kNegative = 32831;
inline constexpr int kGamma = 32848;
inline constexpr int kDeinterlacing = 32809;
inline constexpr int kUniformSmooth = 32811;
inline constexpr int kGaussianSmooth = 32813;
inline constexpr int kMedianSmooth = 32845;
inline constexpr int kWeakSharpen = 32815;
inline constexpr int kStrongSharpen = 32830;
inline constexpr int kEdgeBlack = 32834;
inline constexpr int kEdgeWhite = 32835;
inline constexpr int kEdgeGray = 32836;
inline constexpr int kEmbossLeftUp = 32841;
inline constexpr int kEmbossLeftDown = 32842;
inline constexpr int kEmbossRightUp = 32843;
inline constexpr int kEmbossRightDown = 32844;
inline constexpr int kVerticalFlip = 32832;
inline constexpr int kHorizontalFlip = 32833;
inline constexpr int kRestore = 32814;
// Help
inline constexpr int kAbout = 57664;
// The bar of display controls
inline constexpr int kColors = 2000;
inline constexpr int kDisplayType = 1058;
inline constexpr int kFieldOption = 1062;
inline constexpr int kDisplayMvs = 1056;
inline constexpr int kMvType = 1057;
inline constexpr int kMbGrid = 1060;
inline constexpr int kKeyword = 1005;
inline constexpr int kSearch = 1002;
// Posted by other windows
inline constexpr int kFocusKeyword = 32796;
inline constexpr int kParseVideo = 32783;
inline constexpr int kParseProgramStream = 32784;
inline constexpr int kParseBoth = 32785;
inline constexpr int kParseSliceMbs = 32790;
inline constexpr int kParsePictureMbs = 32792;
inline constexpr int kDeleteSliceMbs = 32850;
inline constexpr int kDeletePictureMbs = 32851;
inline constexpr int kParsePayload = 32794;

// The picture pane's zoom, maps and navigation, and the File menu's recent files.
inline constexpr int kZoomIn = 40001;
inline constexpr int kZoomOut = 40002;
inline constexpr int kZoomActual = 40003;
inline constexpr int kZoomFit = 40004;
inline constexpr int kMapNone = 40010;  // kMapNone + MapKind, six entries
inline constexpr int kDecodeReferencesFirst = 40020;
inline constexpr int kNextIntra = 40021;
inline constexpr int kPreviousIntra = 40022;
inline constexpr int kNextGop = 40023;
inline constexpr int kPreviousGop = 40024;
inline constexpr int kGoToPicture = 40025;

// The tree's popup menu; its commands go to the tree itself.
namespace tree {
inline constexpr int kExpand = 32776;
inline constexpr int kCollapse = 32774;
inline constexpr int kCollapseChildren = 32787;
inline constexpr int kExpandTree = 32778;
inline constexpr int kCollapseTree = 32779;
inline constexpr int kExpandAll = 32773;
inline constexpr int kCollapseAll = 32777;
inline constexpr int kSearchTree = 32791;
inline constexpr int kSearchAll = 32788;
inline constexpr int kExportItem = 32775;
inline constexpr int kExportAll = 32780;
inline constexpr int kExportNonVirtual = 32796;
inline constexpr int kExportYCbCr = 32797;
}  // namespace tree

}  // namespace bitloupe::cmd
