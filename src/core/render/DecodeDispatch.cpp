#include "core/render/DecodeDispatch.h"

#include <algorithm>
#include <vector>

#include "core/base/Messages.h"
#include "core/decode/PictureDecoder.h"
#include "core/syntax/ParseContext.h"
#include "core/syntax/VideoTables.h"

namespace bitloupe {

namespace {
ItemKind KindOfItem(const TreeStore& tree, TreeItem item) {
    return KindOf(tree.GetItemData(item));
}

// The wait cursor for as long as a decode runs.
struct WaitCursor {
    Host& host;
    explicit WaitCursor(Host& h) : host(h) { host.BeginWaitCursor(); }
    ~WaitCursor() { host.EndWaitCursor(); }
};
}  // namespace

Repaint DecodeDispatch::DecodeSelectedItem(TreeItem item) {
    const TreeStore& tree = p_.tree;
    const int before = displayMode;
    const ItemKind k = KindOfItem(tree, item);
    const TreeItem parent = tree.GetParentItem(item);
    const ItemKind parentKind = KindOfItem(tree, parent);
    const bool parentIsBlock = parentKind == ItemKind::BlockY || parentKind == ItemKind::BlockCb ||
                               parentKind == ItemKind::BlockCr;
    switch (k) {
        case ItemKind::Macroblock:
            return Macroblock(item, false);
        case ItemKind::MacroblockHeader:
            return parentKind == ItemKind::Macroblock ? Macroblock(parent, false) : Clear(before);
        case ItemKind::SkippedMacroblock:
            return Macroblock(item, true);
        case ItemKind::BlockY:
        case ItemKind::BlockCb:
        case ItemKind::BlockCr:
            return Block(item);
        case ItemKind::RawDct:  // also the coefficient matrix's kind
        case ItemKind::PelMatrix:
            return parentIsBlock ? Block(parent) : Clear(before);
        case ItemKind::Picture:
            return Picture(item, display_mode::kPicture);
        case ItemKind::SequenceExtension:
        case ItemKind::PictureHeader:
        case ItemKind::Extension:
        case ItemKind::PredictionFrames:
            if (parentKind == ItemKind::Picture)
                return Picture(parent, display_mode::kPictureByHeader);
            return Repaint::None;
        case ItemKind::Slice:
            return Slice(item);
        case ItemKind::SliceHeader:
            return parentKind == ItemKind::Slice ? Slice(parent) : Clear(before);
        default:
            return Clear(before);
    }
}

bool DecodeDispatch::BuffersMissing() {
    if (!decoder_.outOfMemory && decoder_.dib.HasPixels()) return false;
    p_.host.MessageBox(msg::kOutOfMemory, msg::kErrorCaption, MsgIcon::Error, MsgButtons::Ok);
    return true;
}

Repaint DecodeDispatch::Macroblock(TreeItem unit, bool skipped) {
    if (unit == shownItem) return Repaint::None;
    bool ok;
    {
        WaitCursor wait(p_.host);
        ok = skipped ? decoder_.DecodeSkippedMacroblock(unit) : decoder_.DecodeMacroblock(unit);
    }
    displayMode = ok ? display_mode::kMacroblock : display_mode::kNothing;
    shownItem = ok ? unit : 0;
    if (ok) {
        macroblock_ = unit;
        skipped_ = skipped;
        picture_ = decoder_.currentPicture;
    }
    return Repaint::KeepBackground;
}

Repaint DecodeDispatch::Block(TreeItem unit) {
    if (unit == shownItem) return Repaint::None;
    bool ok;
    {
        WaitCursor wait(p_.host);
        ok = decoder_.DecodeBlock(block, unit);
    }
    displayMode = ok ? display_mode::kBlock : display_mode::kNothing;
    shownItem = ok ? unit : 0;
    return Repaint::Erase;
}

Repaint DecodeDispatch::Slice(TreeItem unit) {
    if (unit == shownItem) return Repaint::None;
    if (BuffersMissing()) return Repaint::None;
    bool ok;
    {
        WaitCursor wait(p_.host);
        ok = decoder_.DecodeSlice(unit);
    }
    displayMode = ok ? display_mode::kSlice : display_mode::kNothing;
    shownItem = ok ? unit : 0;
    if (ok) {
        slice_ = unit;
        picture_ = decoder_.currentPicture;
    }
    return Repaint::KeepBackground;
}

Repaint DecodeDispatch::Picture(TreeItem unit, int mode) {
    if (unit == shownItem) {
        displayMode = mode;
        return Repaint::KeepBackground;
    }
    if (BuffersMissing()) return Repaint::None;
    bool ok;
    {
        WaitCursor wait(p_.host);
        ok = decoder_.DecodePicture(unit, true);
    }
    displayMode = ok ? mode : display_mode::kNothing;
    shownItem = ok ? unit : 0;
    if (ok) picture_ = unit;
    return Repaint::KeepBackground;
}

Repaint DecodeDispatch::Clear(int before) {
    shownItem = 0;
    displayMode = display_mode::kNothing;
    return before != display_mode::kNothing ? Repaint::Erase : Repaint::None;
}

Repaint DecodeDispatch::RenderCurrent(bool combo, int previousType, bool fromFieldOption,
                                      int* comboValue) {
    PictureDecoder& dec = decoder_;
    const TreeItem picture = dec.currentPicture;
    if (combo) {
        if (dec.displayType == display_type::kNull) {
            dec.dib.FillFieldLines(dec.fieldOption, dec.GreyRgb());
            return Repaint::KeepBackground;
        }
        const auto record = p_.stream.pictureRecords.find(picture);
        const int codingType =
            record != p_.stream.pictureRecords.end() ? record->second.picture_coding_type : 0;
        bool stop = false;
        if (codingType == video_tables::kPictureI) {
            dec.displayType = display_type::kAuto;
            if (comboValue) *comboValue = display_type::kAuto;
            stop = !fromFieldOption && previousType != display_type::kNull;
        } else if (codingType == video_tables::kPictureP &&
                   dec.displayType == display_type::kDiff1) {
            dec.displayType = display_type::kDiff0;
            if (comboValue) *comboValue = display_type::kDiff0;
            stop = !fromFieldOption && previousType == display_type::kDiff0;
        }
        if (stop) return Repaint::None;
        if (codingType != 1 && dec.displayType != display_type::kRaw) {
            int forward = -1, backward = -1;
            if (!dec.LookUpReferences(picture, forward, backward)) {
                dec.displayType = display_type::kRaw;
                if (comboValue) *comboValue = display_type::kRaw;
                if (!fromFieldOption) return Repaint::None;
            }
        }
    }
    bool ok = true;
    switch (displayMode) {
        case display_mode::kMacroblock:
            ok = skipped_ ? dec.DecodeSkippedMacroblock(macroblock_)
                          : dec.DecodeMacroblock(macroblock_);
            break;
        case display_mode::kSlice:
            ok = dec.DecodeSlice(slice_);
            break;
        case display_mode::kPictureByHeader:
        case display_mode::kPicture:
            ok = dec.DecodePicture(picture, false);
            break;
        default:
            return Repaint::None;
    }
    (void)ok;
    return Repaint::KeepBackground;
}

void DecodeDispatch::DecodeMissingReferences(TreeItem picture) {
    const CStreamState& st = p_.stream;
    const auto record = st.pictureRecords.find(picture);
    if (!picture || record == st.pictureRecords.end()) return;
    const int type = record->second.picture_coding_type;
    if (type != video_tables::kPictureP && type != video_tables::kPictureB) return;
    // Nothing to do when the stores hold what the picture predicts from and, for a second
    // field, its first field is the picture shown (the second is drawn over it).
    int forward = -1, backward = -1;
    const bool ready = decoder_.LookUpReferences(picture, forward, backward);
    if (ready && !record->second.secondField) return;
    const auto shown = st.pictureRecords.find(decoder_.currentPicture);
    if (ready && shown != st.pictureRecords.end() && !shown->second.secondField &&
        shown->second.temporal_reference == record->second.temporal_reference)
        return;
    DecodeReferencesOf(picture);
}

void DecodeDispatch::DecodeReferencesOf(TreeItem picture) {
    PictureDecoder& dec = decoder_;
    const std::vector<TreeItem> pictures = dec.PicturesInStreamOrder();
    const auto k = std::find(pictures.begin(), pictures.end(), picture);
    if (k == pictures.end()) return;
    const uint8_t type = dec.displayType;
    dec.DecodeReferences(pictures, static_cast<size_t>(k - pictures.begin()));
    dec.displayType = type;
    shownItem = 0;  // the bitmap may show another picture now
}

}  // namespace bitloupe
