// What the picture pane tells about the picture it shows, free of any toolkit: the macroblock
// maps drawn over it, the readout under the pointer, the macroblock item at a sample, the
// picture's time, and the pictures the navigation keys go to.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/syntax/StreamState.h"
#include "core/tree/TreeStore.h"

namespace bitloupe {

class PictureDecoder;

// --- macroblock maps ---

enum class MapKind { kNone, kMbType, kQuantiser, kCodedBlocks, kDctType, kMotionType };

// The script names of the kinds, in MapKind's order ("none", "mbtype", ...), and the names the
// View menu and the overlay box show.
extern const char* const kMapScriptNames[6];
extern const char* const kMapMenuNames[6];

struct MapCell {
    int column = 0;
    int row = 0;       // in the picture's own rows: field rows for a field picture
    int category = 0;  // the legend entry it belongs to
    uint32_t rgb = 0;  // 0xRRGGBB
};

struct MapLegendEntry {
    std::string label;
    uint32_t rgb = 0;
};

struct MacroblockMap {
    MapKind kind = MapKind::kNone;
    bool fieldPicture = false;
    bool bottomField = false;
    std::vector<MapCell> cells;  // only macroblocks the map says something of
    std::vector<MapLegendEntry> legend;
};

// Macroblock-type categories (the legend's order).
namespace map_type {
inline constexpr int kIntra = 0;
inline constexpr int kForward = 1;
inline constexpr int kBackward = 2;
inline constexpr int kInterpolated = 3;
inline constexpr int kSkipped = 4;
}  // namespace map_type

// The macroblock items of a picture (coded and skipped) in stream order; empty when none of its
// slices has been parsed down to its macroblocks.
std::vector<TreeItem> MacroblockItemsOf(const TreeStore& tree, TreeItem picture);
// True when every slice of the picture has its macroblocks listed.
bool MacroblocksParsed(const TreeStore& tree, TreeItem picture);

MacroblockMap BuildMacroblockMap(const TreeStore& tree, const CStreamState& stream,
                                 TreeItem picture, MapKind kind);

// --- readout and picking ---

// The picture item that an item belongs to (itself, an ancestor), 0 when none.
TreeItem PictureOf(const TreeStore& tree, TreeItem item);

// The macroblock item of the picture that covers the sample (x, y) of the shown frame; 0 when
// the macroblocks are not parsed or none covers it.
TreeItem MacroblockItemAt(const TreeStore& tree, const CStreamState& stream, TreeItem picture,
                          int x, int y);

// The status bar's text for the sample (x, y) of the shown picture: position, macroblock, the
// decoded Y, Cb and Cr there and, when the macroblocks are parsed, the macroblock's header.
std::string ReadoutText(const TreeStore& tree, const CStreamState& stream,
                        const PictureDecoder& decoder, TreeItem picture, int x, int y);
// The decoded samples at (x, y): Y from the luma plane, Cb and Cr from the coded chroma planes
// (as bitloupe-cli frames --format yuv writes them). False outside the stores.
bool DecodedSamplesAt(const PictureDecoder& decoder, int x, int y, int out[3]);

// --- time and navigation ---

// The followed video stream's packet whose payload holds file offset `offset` (the last to
// begin at or before it); null before the first, or when the video was not read from packets.
const CStreamState::VideoPacketTime* VideoPacketAt(const CStreamState& stream, int64_t offset);
// The PTS of the packet in which the picture's start code begins, when the picture is the first
// to begin there (the picture the stamp belongs to); -1 otherwise.
int64_t PicturePts(const TreeStore& tree, const CStreamState& stream, TreeItem picture);
// "PTS hh:mm:ss.mmm" where the picture has a PTS, else "time_code hh:mm:ss.mmm" from the GOP's
// time_code plus the picture's place in the GOP (its temporal_reference) at the sequence's
// frame rate; empty without either.
std::string PictureTimeText(const TreeStore& tree, const CStreamState& stream, TreeItem picture);

// Frames a second of frame_rate_code (25 for a code without one), and of a sequence's code
// with its frame_rate_extension_n and _d.
double FrameRateOf(int frameRateCode);
double FrameRateOf(const SequenceParameters& sequence);

// The picture items of the video stream in stream order (below GOP items or directly).
std::vector<TreeItem> AllPictures(const TreeStore& tree, const CStreamState& stream);
// The next (step 1) or previous (step -1) I picture from the picture `from`, 0 when none.
TreeItem NextIntraPicture(const TreeStore& tree, const CStreamState& stream, TreeItem from,
                          int step);
// The first picture of the next or previous GOP item, 0 when none.
TreeItem NextGopPicture(const TreeStore& tree, const CStreamState& stream, TreeItem from, int step);
// Picture n (from 1) in stream order, or in display order (GOP by GOP, by temporal_reference).
TreeItem PictureByNumber(const TreeStore& tree, const CStreamState& stream, int n,
                         bool displayOrder);

}  // namespace bitloupe
