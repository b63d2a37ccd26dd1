// What a selection in the tree shows: the unit an item belongs to (block, macroblock, slice or
// picture) is decoded and the right pane's display mode set; and the current unit is drawn
// again when the display type, field option, colour mode or filters change. Free of any
// toolkit: the pane asks and repaints as told.
#pragma once

#include <cstdint>

#include "core/decode/Reconstruction.h"
#include "core/tree/TreeStore.h"

namespace bitloupe {

class ParseContext;
class PictureDecoder;

// What the pane must do after a dispatch.
enum class Repaint { None, KeepBackground, Erase };

// Display modes of the right pane.
namespace display_mode {
inline constexpr int kNothing = -1;
inline constexpr int kBlock = 0;
inline constexpr int kMacroblock = 1;
inline constexpr int kSlice = 2;
inline constexpr int kPictureByHeader = 3;
inline constexpr int kPicture = 4;
}  // namespace display_mode

class DecodeDispatch {
  public:
    DecodeDispatch(ParseContext& parser, PictureDecoder& decoder) : p_(parser), decoder_(decoder) {}

    int displayMode = display_mode::kNothing;
    TreeItem shownItem = 0;
    BlockResult block;  // the shown block (display mode 0)

    // Decodes the unit of a newly selected item; the caller has checked that the parser may
    // be used (no parse running unpaused) and that the parsing dialog is hidden.
    Repaint DecodeSelectedItem(TreeItem item);

    // Draws the current unit again. With the display-type box (combo set), its rules apply
    // first: `displayType` may change, and *comboValue tells what the box must show. The caller
    // has checked that the picture is available and the parser may be used.
    Repaint RenderCurrent(bool combo, int previousType, bool fromFieldOption, int* comboValue);

    // Decodes what a picture needs before it, so that it then decodes as the command-line
    // tool decodes it. Scripts use it.
    void DecodeReferencesOf(TreeItem picture);
    // The same, only when the stores lack what a P or B picture (or its second field) needs:
    // what a selection does with "Decode References First" checked.
    void DecodeMissingReferences(TreeItem picture);

    // Forgets the shown unit (a new file).
    void Reset() {
        displayMode = display_mode::kNothing;
        shownItem = 0;
        macroblock_ = slice_ = picture_ = 0;
    }

  private:
    Repaint Macroblock(TreeItem unit, bool skipped);
    Repaint Block(TreeItem unit);
    Repaint Slice(TreeItem unit);
    Repaint Picture(TreeItem unit, int mode);
    Repaint Clear(int before);
    bool BuffersMissing();

    ParseContext& p_;
    PictureDecoder& decoder_;
    TreeItem macroblock_ = 0;
    bool skipped_ = false;
    TreeItem slice_ = 0;
    TreeItem picture_ = 0;
};

}  // namespace bitloupe
