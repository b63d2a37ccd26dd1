#include "core/decode/PictureDecoder.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "core/base/Messages.h"
#include "core/bits/BitCursor.h"
#include "core/image/Filters.h"
#include "core/syntax/BlockSyntax.h"
#include "core/syntax/Dequantise.h"
#include "core/syntax/MacroblockLayer.h"
#include "core/syntax/MacroblockSyntax.h"
#include "core/syntax/ParseContext.h"
#include "core/syntax/VideoTables.h"
#include "core/syntax/VlcTables.h"

namespace bitloupe {

namespace {

using namespace video_tables;  // picture types and structures

bool IsReference(int type) {
    return type == kPictureI || type == kPictureP;
}

}  // namespace

void PictureDecoder::ConvertToBitmap(uint8_t lines) {
    const int slot = stores.currentSlot;
    const int w = stores.width, h = stores.height;
    // While every macroblock's full-size chroma is behind its coded chroma, the chroma is
    // up-sampled a band at a time as the bitmap takes it: the full-size planes, which only
    // some views read, are neither written nor read (reading never-written memory costs as
    // much as writing it on some systems).
    const int bandLines = stores.DisplayChromaBandLines(slot);
    if (bandLines <= 0 || dib.Width() != w || dib.Height() != h) {
        dib.ConvertFromPlanes(CurrentPlane(0), CurrentPlane(1), CurrentPlane(2), w, h, lines,
                              colourMode, Factors());
        return;
    }
    const size_t bandSize = static_cast<size_t>(bandLines) * static_cast<size_t>(w);
    std::vector<uint8_t> cb(bandSize), cr(bandSize);
    const uint8_t* luma = stores.Plane(slot, 0);
    for (int band = 0, y0 = 0; y0 < h; ++band, y0 += bandLines) {
        stores.DisplayChromaBand(slot, band, cb.data(), cr.data());
        dib.ConvertLines(y0, std::min(bandLines, h - y0), luma + static_cast<size_t>(y0) * w,
                         cb.data(), cr.data(), lines, colourMode, Factors());
    }
}

// ---------------------------------------------------------------------------------------------
// Frame stores

bool PictureDecoder::AllocatePictureBuffers(const SequenceParameters& st) {
    FreePictureBuffers(false);
    const int32_t w = st.codedWidth;
    const int32_t h = st.codedHeight;
    // Without a sequence header there is nothing to decode and nothing to allocate.
    if (w <= 0 || h <= 0) return true;
    if (!CPictureDib::IsValidSize(w, h)) {
        FreePictureBuffers(true);
        return false;
    }
    const int format = st.chroma_format >= 1 && st.chroma_format <= 3 ? st.chroma_format : 1;
    const ChromaSize cs = ChromaSizeOf(format);
    try {
        const size_t n = static_cast<size_t>(w) * static_cast<size_t>(h);
        const size_t cn = n >> (cs.shiftX + cs.shiftY);
        for (FrameSlot& slot : stores.slots) {
            for (auto& plane : slot.plane) {
                plane.reset(AllocateZeroed(n));
                if (!plane) throw std::bad_alloc();
            }
            for (auto& plane : slot.coded) {
                plane.reset(AllocateZeroed(cn));
                if (!plane) throw std::bad_alloc();
            }
        }
        overlay.assign(static_cast<size_t>(st.mbWidth) * static_cast<size_t>(st.mbHeight),
                       MotionOverlayRecord());
    } catch (const std::bad_alloc&) {
        FreePictureBuffers(true);
        return false;
    }
    if (!dib.Create(w, h)) {
        FreePictureBuffers(true);
        return false;
    }
    stores.width = w;
    stores.height = h;
    stores.chromaFormat = static_cast<uint8_t>(format);
    stores.chroma = cs;
    stores.chromaWidth = w >> cs.shiftX;
    stores.chromaHeight = h >> cs.shiftY;
    stores.ResetStale();
    // The aspect-corrected size of the scaled view.
    const double a = st.pelAspectRatio > 0.0 ? st.pelAspectRatio : 1.0;
    int32_t dw = w;
    int32_t dh = static_cast<int32_t>(h * a);
    if (dh > h) {
        dw = static_cast<int32_t>(w / a);
        dh = h;
    }
    dib.displayWidth = dw;
    dib.displayHeight = dh;
    dib.scaleX = static_cast<double>(dw) / w;
    dib.scaleY = static_cast<double>(dh) / h;
    return true;
}

void PictureDecoder::FreePictureBuffers(bool lacking) {
    for (FrameSlot& slot : stores.slots) {
        for (auto& plane : slot.plane) plane.reset();
        for (auto& plane : slot.coded) plane.reset();
        slot.stale.clear();
        slot.staleLayout = 0;
    }
    for (FieldEntry& e : stores.entries) e = FieldEntry();
    stores.width = stores.height = 0;
    stores.chromaWidth = stores.chromaHeight = 0;
    stores.currentReferenceSlot = -1;
    stores.currentSlot = -1;
    stores.currentEntry = 0;
    overlay.clear();
    currentPicture = 0;
    lastTemporalReference = -1;
    rememberedParent_ = 0;
    outOfMemory = lacking;
}

int PictureDecoder::FindCompleteEntry(TreeItem item) const {
    if (!item) return -1;
    for (int e = 0; e < 4; ++e)
        if (stores.entries[e].item == item && stores.entries[e].complete) return e;
    return -1;
}

bool PictureDecoder::LookUpReferences(TreeItem pictureItem, int& forward, int& backward) const {
    forward = backward = -1;
    const CStreamState& st = parse_.stream;
    const auto frames = st.predictionFrames.find(pictureItem);
    if (frames == st.predictionFrames.end()) return false;
    const TreeItem items[4] = {frames->second.forward_frames[0], frames->second.forward_frames[1],
                               frames->second.backward_frames[0],
                               frames->second.backward_frames[1]};
    int slot[4];
    for (int k = 0; k < 4; ++k) {
        slot[k] = -1;
        if (!items[k]) continue;
        const int e = FindCompleteEntry(items[k]);
        if (e < 0) return false;
        slot[k] = e / 2;
    }
    forward = slot[0];
    backward = slot[1] < 0 || slot[1] == slot[0] ? slot[2] : slot[1];
    const auto picture = st.pictureRecords.find(pictureItem);
    if (picture == st.pictureRecords.end()) return false;
    switch (picture->second.picture_coding_type) {
        case kPictureI:
            return true;
        case kPictureP:
            if (!picture->second.secondField) return forward >= 0;
            return forward >= 0 || backward >= 0;
        case kPictureB:
            return forward >= 0 || backward >= 0;
        default:
            return true;
    }
}

void PictureDecoder::ChooseSlot(TreeItem pictureItem, int entry) {
    // The same picture again goes into the same store; until it is finished it cannot serve
    // as a reference (drawn as "Raw" it never does).
    if (pictureItem == currentPicture && lastTemporalReference != -1 && stores.currentSlot >= 0) {
        if (stores.currentEntry < 4 && stores.entries[stores.currentEntry].item == pictureItem)
            stores.entries[stores.currentEntry].complete = false;
        return;
    }
    currentPicture = pictureItem;
    if (entry >= 0) {
        stores.currentSlot = static_cast<int8_t>(entry / 2);
        stores.currentEntry = static_cast<uint8_t>(entry);
        stores.entries[entry].complete = false;  // being rewritten
        return;
    }
    const PictureRecord& pic = p_.v.picture;
    int forward = -1, backward = -1;
    if (!IsReference(pic.picture_coding_type) ||
        (pic.picture_coding_type != kPictureI &&
         !LookUpReferences(pictureItem, forward, backward))) {
        // A picture decoded without its references is no reference itself: it goes where the
        // B pictures go and leaves the reference stores as they are.
        stores.currentSlot = 2;
        return;
    }
    const bool mpeg2 = p_.stream.videoVersion == kMpeg2;
    if (pic.secondField && mpeg2 && lastTemporalReference == pic.temporal_reference &&
        (stores.currentSlot == 0 || stores.currentSlot == 1)) {
        // The second field of the frame whose first field was just decoded.
        stores.currentEntry = static_cast<uint8_t>(stores.currentSlot * 2 + 1);
        stores.entries[stores.currentEntry] = {pictureItem, false};
        return;
    }
    stores.currentReferenceSlot = static_cast<int8_t>((stores.currentReferenceSlot + 1 + 2) % 2);
    stores.currentSlot = stores.currentReferenceSlot;
    const int even = stores.currentSlot * 2;
    if (pic.secondField) {
        stores.entries[even] = FieldEntry();
        stores.entries[even + 1] = {pictureItem, false};
        stores.currentEntry = static_cast<uint8_t>(even + 1);
    } else {
        stores.entries[even] = {pictureItem, false};
        stores.entries[even + 1] = FieldEntry();
        stores.currentEntry = static_cast<uint8_t>(even);
    }
}

void PictureDecoder::AdjustDisplayType(bool intraCheck, bool newFrameCheck) {
    const uint8_t before = displayType;
    if (displayType == display_type::kNull) displayType = display_type::kAuto;
    const PictureRecord& pic = p_.v.picture;
    if (intraCheck && pic.picture_coding_type == kPictureI) {
        displayType = display_type::kAuto;
    } else {
        if (newFrameCheck && lastTemporalReference != pic.temporal_reference)
            displayType = display_type::kAuto;
        if (displayType != display_type::kRaw && !refs_.ok) displayType = display_type::kRaw;
    }
    if (displayType != before) p_.poster.PostCommand(msg::kCommandDisplayTypeChanged);
}

void PictureDecoder::UpdateReferences() {
    refs_.ok = LookUpReferences(currentPicture, refs_.forward, refs_.backward);
}

int PictureDecoder::DifferenceReference() const {
    const int type = p_.v.picture.picture_coding_type;
    if ((type != kPictureP && type != kPictureB) ||
        (displayType != display_type::kDiff0 && displayType != display_type::kDiff1) || !refs_.ok)
        return -1;
    return type == kPictureP || displayType == display_type::kDiff0 ? refs_.forward
                                                                    : refs_.backward;
}

int PictureDecoder::BlockCount() const {
    return p_.stream.blockCount > 12 ? 12 : p_.stream.blockCount;
}

void PictureDecoder::ClearOverlay() {
    std::fill(overlay.begin(), overlay.end(), MotionOverlayRecord());
}

bool PictureDecoder::IsFieldPicture() const {
    const int s = p_.v.coding.picture_structure;
    return s == kTopField || s == kBottomField;
}

ColourFactors PictureDecoder::Factors() const {
    const ColourMatrix& m = p_.stream.colourMatrix;
    return {m.crv, m.cbu, m.cgu, m.cgv};
}

uint32_t PictureDecoder::BackgroundColour() const {
    return fieldBackground == kStreamGrey ? p_.stream.greyColourRgb : fieldBackground;
}

// ---------------------------------------------------------------------------------------------
// Pictures

bool PictureDecoder::RestorePictureState(TreeItem pictureItem) {
    PictureJob job;
    if (GatherPictureJob(parse_.stream, pictureItem, job)) return false;
    job_.Follow(parse_);
    job_.Apply(job);
    // A picture of another size or chroma format than the stores: new stores for it, empty,
    // so that the pictures of the other sequence are no references.
    const CStreamState& st = p_.stream;
    if (st.codedWidth != stores.width || st.codedHeight != stores.height ||
        (stores.Allocated() && st.chroma_format != stores.chromaFormat)) {
        if (!AllocatePictureBuffers(st)) return false;
    }
    dib.SetPictureStructure(p_.v.coding.picture_structure);
    return true;
}

bool PictureDecoder::DecodePicture(TreeItem pictureItem, bool firstDisplay) {
    const CStreamState& st = parse_.stream;
    if (!RestorePictureState(pictureItem) || !stores.Allocated()) return false;
    const auto pos = st.videoPositions.find(pictureItem);
    if (pos == st.videoPositions.end()) return false;
    SeekToPosition(pos->second);

    const TreeItem parent = p_.tree.GetParentItem(pictureItem);
    if (parent != rememberedParent_) {
        lastTemporalReference = -1;
        rememberedParent_ = parent;
    }
    ChooseSlot(pictureItem, FindCompleteEntry(pictureItem));
    UpdateReferences();
    p_.poster.PostCommand(msg::kCommandFieldOption);
    AdjustDisplayType(true, firstDisplay);
    const PictureRecord& pic = p_.v.picture;
    if (drawing_) {
        if (lastTemporalReference != pic.temporal_reference || bitmapBehind_)
            dib.Fill(BackgroundColour());
        bitmapBehind_ = false;
        ClearOverlay();
    }

    // The first slice; user data and extensions may come before it, anything else means the
    // picture has none.
    uint32_t acc = 0xFFFFFFFF;
    uint32_t code = 0;
    for (;;) {
        if (p_.ScanStartCode(acc, 0x100, 0x1FF)) {
            code = acc & 0xFF;
            if (code >= 0x01 && code <= 0xAF) break;
            if (code == 0xB2 || code == 0xB5) continue;
            return false;
        }
        if (p_.AtEnd()) return false;
    }
    // Every slice up to the next start code that is not a slice's.
    for (;;) {
        DecodeSliceHeaderAndMacroblocks(code);
        acc = 0xFFFFFFFF;
        bool found = false;
        while (!found && !p_.AtEnd()) found = p_.ScanStartCode(acc, 0x100, 0x1FF);
        if (!found) break;
        code = acc & 0xFF;
        if (code < 0x01 || code > 0xAF) break;
    }
    FinishPicture();
    return true;
}

namespace {
// Nothing below a picture is a picture, so its subtree is not walked.
void CollectPictures(const TreeStore& tree, TreeItem parent, std::vector<TreeItem>& out) {
    for (TreeItem c = tree.GetChildItem(parent); c; c = tree.GetNextSiblingItem(c)) {
        if (KindOf(tree.GetItemData(c)) == ItemKind::Picture) {
            out.push_back(c);
            continue;
        }
        if (tree.ItemHasChildren(c)) CollectPictures(tree, c, out);
    }
}
}  // namespace

std::vector<TreeItem> PictureDecoder::PicturesInStreamOrder() const {
    std::vector<TreeItem> out;
    if (parse_.stream.videoItem) CollectPictures(p_.tree, parse_.stream.videoItem, out);
    return out;
}

void PictureDecoder::DecodeReferences(const std::vector<TreeItem>& pictures, size_t k,
                                      std::vector<size_t>* failed) {
    if (k >= pictures.size()) return;
    const CStreamState& st = parse_.stream;
    auto secondField = [&](size_t i) {
        const auto r = st.pictureRecords.find(pictures[i]);
        return r != st.pictureRecords.end() && r->second.secondField;
    };
    auto previousIntra = [&](size_t before) -> long long {
        for (size_t i = before; i-- > 0;) {
            const auto r = st.pictureRecords.find(pictures[i]);
            if (r != st.pictureRecords.end() && r->second.picture_coding_type == kPictureI &&
                !r->second.secondField)
                return static_cast<long long>(i);
        }
        return -1;
    };
    const long long i1 = previousIntra(k);
    // Only a leading picture of an open GOP (shown before its I picture, so predicted from the
    // GOP before) needs the GOP before decoded; the others start at their own I picture.
    auto leading = [&] {
        if (i1 < 0) return false;
        const TreeItem intra = pictures[static_cast<size_t>(i1)];
        const auto a = st.pictureRecords.find(pictures[k]);
        const auto b = st.pictureRecords.find(intra);
        return a == st.pictureRecords.end() || b == st.pictureRecords.end() ||
               p_.tree.GetParentItem(pictures[k]) != p_.tree.GetParentItem(intra) ||
               a->second.temporal_reference < b->second.temporal_reference;
    };
    const long long i0 = i1 > 0 && leading() ? previousIntra(static_cast<size_t>(i1)) : i1;
    for (size_t i = i0 < 0 ? 0 : static_cast<size_t>(i0); i < k; ++i) {
        displayType = display_type::kAuto;
        const bool ownFirstField = i + 1 == k && secondField(k);
        const bool decoded =
            ownFirstField ? DecodePicture(pictures[i], true) : DecodeIntoStores(pictures[i]);
        if (!decoded && failed) failed->push_back(i);
    }
}

bool PictureDecoder::DecodeIntoStores(TreeItem pictureItem) {
    drawing_ = false;
    const bool ok = DecodePicture(pictureItem, true);
    drawing_ = true;
    // The bitmap holds some earlier picture: the next picture drawn fills it first.
    bitmapBehind_ = true;
    return ok;
}

void PictureDecoder::DecodeSliceHeaderAndMacroblocks(uint32_t code) {
    SilentEmitters silent;
    ReadSliceHeader(p_, silent, code, p_.v.slice, 0);
    ResetSliceState();
    DecodeSliceMacroblocks(true);
}

void PictureDecoder::FinishPicture() {
    const PictureRecord& pic = p_.v.picture;
    const int type = pic.picture_coding_type;
    const int structure = p_.v.coding.picture_structure;
    if (IsReference(type) && displayType != display_type::kRaw && stores.currentEntry < 4)
        stores.entries[stores.currentEntry].complete = true;
    if (!drawing_) {
        lastTemporalReference = pic.temporal_reference;
        return;
    }

    const int w = stores.width, h = stores.height;
    // The difference to a reference, in place.
    const int ref = DifferenceReference();
    if (ref >= 0 && ref != stores.currentSlot) {
        const int first = structure == kBottomField ? 1 : 0;
        const int step = IsFieldPicture() ? 2 : 1;
        auto difference = [&](uint8_t* cur, const uint8_t* r, int pw, int ph) {
            for (int y = first; y < ph; y += step)
                for (int x = 0; x < pw; ++x) {
                    const size_t i = static_cast<size_t>(y) * pw + x;
                    cur[i] = static_cast<uint8_t>((cur[i] - r[i]) / 2 + 128);
                }
        };
        for (int c = 0; c < 3; ++c)
            difference(stores.DisplayPlane(stores.currentSlot, c), stores.DisplayPlane(ref, c), w,
                       h);
        for (int c = 1; c < 3; ++c)
            difference(stores.CodedPlane(stores.currentSlot, c), stores.CodedPlane(ref, c),
                       stores.chromaWidth, stores.chromaHeight);
    }

    uint8_t lines = CPictureDib::kAllLines;
    if (structure == kTopField)
        lines = CPictureDib::kTopFieldLines;
    else if (structure == kBottomField)
        lines = CPictureDib::kBottomFieldLines;
    else if (fieldOption == field_option::kTopField)
        lines = CPictureDib::kTopFieldLines;
    else if (fieldOption == field_option::kBottomField)
        lines = CPictureDib::kBottomFieldLines;
    ConvertToBitmap(lines);
    if (liveDeInterlace) DeInterlace(dib);
    dib.SetFocus({0, 0, dib.Width() - 1, dib.Height() - 1});
    lastTemporalReference = pic.temporal_reference;
    focusItem = currentPicture;
    dib.DropSavedCopy();
}

// ---------------------------------------------------------------------------------------------
// Units below a picture

bool PictureDecoder::RestoreUnitPictureState(TreeItem pictureItem) {
    if (!RestorePictureState(pictureItem) || !stores.Allocated()) return false;
    if (pictureItem != currentPicture) {
        ClearOverlay();
        currentPicture = pictureItem;
    }
    UpdateReferences();
    p_.poster.PostCommand(msg::kCommandFieldOption);
    return true;
}

void PictureDecoder::SeekToPosition(const ItemPosition& pos) {
    if (p_.UsesPayload()) p_.silentSystemLayer = true;
    p_.SeekTo(pos.offset, pos.bitOffset, pos.packetRemaining, !p_.UsesPayload());
}

void PictureDecoder::ResetSliceState() {
    MacroblockState& mb = p_.v.mb;
    mb.currentQuantiserScaleCode = p_.v.slice.quantiser_scale_code;
    mb.macroblockError = false;
    mb.mbsParsedInSlice = 0;
    std::memset(mb.dcPredictor, 0, sizeof mb.dcPredictor);
    std::memset(mb.PMV, 0, sizeof mb.PMV);
    mb.previousMotionForward = mb.previousMotionBackward = 0;
}

bool PictureDecoder::DecodeSlice(TreeItem sliceItem) {
    const CStreamState& st = parse_.stream;
    const auto slice = st.sliceRecords.find(sliceItem);
    if (slice == st.sliceRecords.end()) return false;
    if (!RestoreUnitPictureState(p_.tree.GetParentItem(sliceItem))) return false;
    p_.v.slice = slice->second.header;
    ResetSliceState();
    SeekToPosition(slice->second.macroblocks);
    if (displayType != display_type::kRaw) AdjustDisplayType(false, false);
    const bool ok = DecodeSliceMacroblocks(false);
    focusItem = sliceItem;
    return ok;
}

bool PictureDecoder::DecodeMacroblock(TreeItem macroblockItem) {
    const CStreamState& st = parse_.stream;
    const auto pos = st.videoPositions.find(macroblockItem);
    const auto found = st.macroblockRecords.find(macroblockItem);
    if (pos == st.videoPositions.end() || found == st.macroblockRecords.end()) return false;
    const MacroblockRecord rec = found->second;
    const TreeItem picture = p_.tree.GetParentItem(p_.tree.GetParentItem(macroblockItem));
    if (!RestoreUnitPictureState(picture)) return false;
    std::memcpy(p_.v.mb.dcPredictor, rec.dcPredictor, sizeof rec.dcPredictor);
    WriteOverlay(rec);
    SeekToPosition(pos->second);
    if (displayType != display_type::kRaw) AdjustDisplayType(false, false);
    if (!DecodeBlocks(rec)) return false;
    ReconstructAndOutput(rec, false, false);
    focusItem = macroblockItem;
    return true;
}

bool PictureDecoder::DecodeSkippedMacroblock(TreeItem item) {
    const CStreamState& st = parse_.stream;
    const auto found = st.macroblockRecords.find(item);
    if (found == st.macroblockRecords.end()) return false;
    const MacroblockRecord rec = found->second;
    const TreeItem picture = p_.tree.GetParentItem(p_.tree.GetParentItem(item));
    if (!RestoreUnitPictureState(picture)) return false;
    if (displayType != display_type::kRaw) AdjustDisplayType(false, false);
    WriteOverlay(rec);
    OutputSkipped(rec, false, false);
    focusItem = item;
    return true;
}

bool PictureDecoder::DecodeBlock(BlockResult& out, TreeItem blockItem) {
    const CStreamState& st = parse_.stream;
    TreeStore& tree = p_.tree;
    const TreeItem macroblockItem = tree.GetParentItem(blockItem);
    const auto found = st.macroblockRecords.find(macroblockItem);
    if (!blockItem || found == st.macroblockRecords.end()) return false;
    const MacroblockRecord rec = found->second;
    const TreeItem picture = tree.GetParentItem(tree.GetParentItem(macroblockItem));
    if (!RestoreUnitPictureState(picture)) return false;
    const std::string text = tree.GetItemText(blockItem);
    int number = 0;
    if (text.empty() || text[0] != '#' || std::sscanf(text.c_str(), "#%d", &number) != 1)
        return false;
    if (number < 1 || number > BlockCount()) return false;
    const int i = number - 1;
    BlockPlacement(i, rec, out);
    const auto pos = st.videoPositions.find(blockItem);
    if (pos == st.videoPositions.end()) {
        MarkNotCoded(out, rec.macroblock_intra != 0);
        return true;
    }
    const auto dc = st.blockRecords.find(blockItem);
    if (dc != st.blockRecords.end()) p_.v.mb.dcPredictor[out.component] = dc->second;
    SeekToPosition(pos->second);
    focusItem = blockItem;
    return DecodeBlockData(i, rec, out, true);
}

// ---------------------------------------------------------------------------------------------
// The silent reader

bool PictureDecoder::DecodeSliceMacroblocks(bool storeMode) {
    const CStreamState& st = p_.stream;
    MacroblockState& mb = p_.v.mb;
    int previousAddress =
        (static_cast<int>(p_.v.slice.slice_vertical_position) - 1) * st.mbWidth - 1;
    bool first = true;
    for (;;) {
        if (!DecodeSilentMacroblock(previousAddress, storeMode, !first)) {
            mb.macroblockError = true;
            return false;
        }
        first = false;
        ++mb.mbsParsedInSlice;
        if (p_.PeekBits(23) == 0 || p_.AtEnd()) return true;
    }
}

// The decoder's side of the macroblock syntax: no items; skipped and coded macroblocks are
// reconstructed into the store or painted, their vectors written to the motion overlay.
struct PictureDecoder::SilentSink {
    PictureDecoder& d;
    bool storeMode;
    bool keepFocus;
    SilentEmitters emit;

    void Begin() {}
    void Skipped(const MacroblockRecord& skipped) {
        d.WriteOverlay(skipped);
        d.OutputSkipped(skipped, storeMode, true);
        ++d.p_.v.mb.mbsParsedInSlice;
    }
    TreeItem Header(const MacroblockRecord&) { return 0; }
    void Located(const MacroblockRecord&) {}
    void HeaderFailed() {}
    void Motion(const MacroblockRecord& rec) { d.WriteOverlay(rec); }
    bool Blocks(const MacroblockRecord& rec) { return d.DecodeBlocks(rec); }
    void BlocksFailed(const MacroblockRecord&) {}
    void EndOfMacroblock(uint32_t) {}
    void Done(const MacroblockRecord& rec) { d.ReconstructAndOutput(rec, storeMode, keepFocus); }
};

bool PictureDecoder::DecodeSilentMacroblock(int& previousAddress, bool storeMode, bool keepFocus) {
    SilentSink sink{*this, storeMode, keepFocus, {}};
    return ReadMacroblock(p_, sink, previousAddress);
}

bool PictureDecoder::DecodeBlocks(const MacroblockRecord& rec) {
    for (int i = 0; i < BlockCount(); ++i) {
        BlockPlacement(i, rec, blocks_[i]);
        if (rec.coded[i]) {
            if (!DecodeBlockData(i, rec, blocks_[i])) return false;
        } else {
            MarkNotCoded(blocks_[i], rec.macroblock_intra != 0);
        }
    }
    return true;
}

void PictureDecoder::BlockPlacement(int i, const MacroblockRecord& rec, BlockResult& out) const {
    out.index = static_cast<uint8_t>(i);
    out.component = static_cast<uint8_t>(MacroblockLayer::ComponentOf(i));
    int x, y;
    MacroblockLayer::BlockPosition(rec.row, rec.column, i, p_.stream.chroma_format, &x, &y);
    out.x = x;
    out.y = y;
}

int16_t PictureDecoder::FlatIdct(int16_t dc) {
    const int i = std::clamp<int>(dc, -2048, 2047) + 2048;
    if (!flatKnown_[i]) {
        int16_t b[64] = {};
        b[0] = dc;
        p_.idct.FastIdct(b);
        flatValue_[i] = b[0];
        flatKnown_[i] = true;
    }
    return flatValue_[i];
}

namespace {

// The most bytes one block's coefficient codes can take, and the window read behind them: 64
// escapes of at most 28 bits each.
constexpr int kMostBlockBytes = 64 * 28 / 8 + 16;

// A block's coefficients; when the whole block lies in the reader's buffer at hand, through a
// cursor that keeps the position in registers, and the reader then steps over what it used.
template <class R>
bool ReadBlockCoefficients(R& r, CoefficientTarget& t, bool intra, bool mpeg2) {
    SilentCoefficientSink sink;
    if (r.BytesInChunk() < kMostBlockBytes) return ReadCoefficientsOf(r, t, sink, intra, mpeg2);
    BitCursor cursor(r.CurrentPointer(), r.bitOffset());
    const bool ok = ReadCoefficientsOf(cursor, t, sink, intra, mpeg2);
    r.SkipBits(static_cast<int>(cursor.BitsUsed()));
    return ok;
}

}  // namespace

bool PictureDecoder::DecodeBlockData(int i, const MacroblockRecord& rec, BlockResult& out,
                                     bool fillDisplay) {
    VideoState& v = p_.v;
    MacroblockState& mb = v.mb;
    const bool mpeg2 = p_.stream.videoVersion == kMpeg2;
    const int c = MacroblockLayer::ComponentOf(i);
    const bool intra = rec.macroblock_intra != 0;
    int16_t F[64] = {};
    CoefficientTarget t{F,
                        0,
                        kScanTables + (mpeg2 && (v.coding.alternate_scan & 1) ? 64 : 0),
                        SelectQuantMatrix(v.quant, intra, c),
                        rec.quantiser_scale,
                        v.coding.intra_vlc_format != 0};
    bool dcOnly = false;
    if (intra) {
        const VlcResult size = c == 0 ? GetDctDcSizeLuminance(p_) : GetDctDcSizeChrominance(p_);
        if (!size.IsValid()) return false;
        int diff = 0;
        if (size.value > 0) {
            const int s = size.value;
            const int raw = static_cast<int>(p_.ReadBits(s));
            diff = (raw >> (s - 1)) & 1 ? raw : raw + 1 - (1 << s);
        }
        mb.dcPredictor[c] = static_cast<int16_t>(mb.dcPredictor[c] + diff);
        const int precision = mpeg2 ? (v.coding.intra_dc_precision & 3) : 0;
        int dc = mb.dcPredictor[c] * (1 << (3 - precision));
        if (dc < -2048) dc = -2048;
        if (dc > 2047) dc = 2047;
        F[0] = static_cast<int16_t>(dc);
        t.sum = dc;
        // A D picture holds the DC coefficient only: a flat block at its level.
        dcOnly = !mpeg2 && v.picture.picture_coding_type == kPictureD;
    }
    if (!dcOnly) {
        // The reader and the block kind are chosen once per block, so the coefficient loop
        // calls the reader directly.
        const bool ok = p_.UsesPayload() ? ReadBlockCoefficients(p_.payload, t, intra, mpeg2)
                                         : ReadBlockCoefficients(p_.file, t, intra, mpeg2);
        if (!ok) return false;
    }
    selectiveDct.Apply(F);
    // Any AC coefficient, as one OR over the block (which vectorises).
    int ac = 0;
    for (int k = 1; k < 64; ++k) ac |= F[k];
    if (ac == 0) {
        // The inverse DCT of a lone DC coefficient is one value throughout.
        const int16_t value = FlatIdct(F[0]);
        for (int16_t& x : out.raw) x = value;
    } else {
        std::memcpy(out.raw, F, sizeof out.raw);
        p_.idct.FastIdct(out.raw);
    }
    if (intra) {
        for (int k = 0; k < 64; ++k) out.display[k] = out.raw[k] = sat_(out.raw[k] + 128);
    } else if (fillDisplay) {
        FillDisplayHalf(out);
    }
    out.notCoded = 0;
    return true;
}

void PictureDecoder::FillDisplayHalf(BlockResult& b) {
    for (int k = 0; k < 64; ++k) b.display[k] = static_cast<int16_t>(b.raw[k] / 2 + 128);
}

void PictureDecoder::FillDisplayHalves(int count) {
    for (int i = 0; i < count; ++i)
        if (!blocks_[i].notCoded) FillDisplayHalf(blocks_[i]);
}

// ---------------------------------------------------------------------------------------------
// Prediction and output

bool PictureDecoder::FormPrediction(MacroblockSamples& pred, const MacroblockRecord& rec) {
    // A damaged stream can leave part of the macroblock unpredicted (a block placed outside
    // the reference, half of a 16x8 pair without its field): that part is the flat level,
    // never what the workspace held before.
    std::fill(&pred.c[0][0], &pred.c[0][0] + sizeof pred.c / sizeof pred.c[0][0], int16_t{128});
    const SamplePlace<int16_t> place{{pred.c[0], pred.c[1], pred.c[2]}, {16, 16, 16}};
    return FormPrediction(place, rec);
}

bool PictureDecoder::StorePlaceOf(const MacroblockRecord& rec, StorePlace& place) const {
    const int slot = stores.currentSlot;
    const int structure = p_.v.coding.picture_structure;
    const bool field = structure == kTopField || structure == kBottomField;
    const ChromaSize cs = stores.chroma;
    for (int c = 0; c < 3; ++c) {
        uint8_t* plane = stores.CodedPlane(slot, c);
        const int64_t width = c == 0 ? stores.width : stores.chromaWidth;
        const int64_t height = c == 0 ? stores.height : stores.chromaHeight;
        const int cols = c == 0 ? 16 : cs.cols();
        const int rows = c == 0 ? 16 : cs.rows();
        const int64_t x = static_cast<int64_t>(rec.column) * cols;
        const int64_t y = static_cast<int64_t>(rec.row) * rows;
        const int64_t first = field ? 2 * y + (structure == kBottomField) : y;
        const int64_t step = field ? 2 : 1;
        if (!plane || x + cols > width || first + step * (rows - 1) >= height) return false;
        place.at[c] = plane + first * width + x;
        place.stride[c] = static_cast<int>(step * width);
    }
    return true;
}

bool PictureDecoder::PredictIntoStore(const MacroblockRecord& rec, const BlockResult* blocks) {
    // The prediction must not read what it writes. A P field reads the other field of its own
    // slot, which is apart from its own lines; any other reading of the slot being written
    // (a broken stream's references) goes through the workspace.
    const int current = stores.currentSlot;
    const bool pField = IsFieldPicture() && p_.v.picture.picture_coding_type == kPictureP;
    if (!refs_.ok || refs_.forward == current || (refs_.backward == current && !pField))
        return false;
    StorePlace place;
    if (!StorePlaceOf(rec, place) || !FormPrediction(place, rec)) return false;
    if (blocks) AddResidual(place, blocks, BlockCount(), stores.chromaFormat, rec.dct_type);
    stores.MarkChromaWritten(stores.currentSlot, p_.v.coding.picture_structure, rec.row,
                             rec.column);
    return true;
}

template <class T>
bool PictureDecoder::Predict(const SamplePlace<T>& dst, int x, const PredictionStep& s) {
    const ChromaSize cs = stores.chroma;
    bool ok =
        PredictComponent(dst.at[0] + s.firstRow * dst.stride[0], dst.stride[0] * s.rowStep,
                         {stores.Plane(s.slot, 0), stores.width, stores.height, s.field, s.bottom},
                         x, s.py, s.mx, s.my, s.rows, s.average);
    const int chromaFirst = s.rowStep == 2 ? s.firstRow : s.firstRow >> cs.shiftY;
    for (int c = 1; c < 3; ++c)
        ok = PredictComponent(dst.at[c] + chromaFirst * dst.stride[c], dst.stride[c] * s.rowStep,
                              {stores.CodedPlane(s.slot, c), stores.chromaWidth,
                               stores.chromaHeight, s.field, s.bottom},
                              x >> cs.shiftX, s.py >> cs.shiftY, ChromaVector(s.mx, cs.shiftX),
                              ChromaVector(s.my, cs.shiftY), s.rows >> cs.shiftY, s.average,
                              cs.cols()) &&
             ok;
    return ok;
}

template <class T>
bool PictureDecoder::FormPrediction(const SamplePlace<T>& dst, const MacroblockRecord& rec) {
    if (!refs_.ok) return false;
    return p_.v.coding.picture_structure == kFramePicture ? FormFramePrediction(dst, rec)
                                                          : FormFieldPrediction(dst, rec);
}

template <class T>
bool PictureDecoder::FormFramePrediction(const SamplePlace<T>& dst, const MacroblockRecord& rec) {
    const int forward = refs_.forward, backward = refs_.backward;
    const int x = rec.column * 16;
    const int y = rec.row * 16;
    // A macroblock with neither motion flag (in a P picture) predicts forward with its vectors.
    const bool flags[2] = {rec.macroblock_motion_forward || !rec.macroblock_motion_backward,
                           rec.macroblock_motion_backward != 0};
    const int slots[2] = {forward, backward};
    bool formed = false;
    if (rec.motionType == 3) {
        if (!flags[0] || forward < 0) return false;
        const int mx = rec.vector[0][0][0];
        const int my = rec.vector[0][0][1] >> 1;
        const int vec[2] = {mx, my};
        const int dm[2] = {rec.dmvector[0], rec.dmvector[1]};
        int derived[2][2];
        MacroblockLayer::DualPrimeArithmetic(
            vec, dm, {kFramePicture, p_.v.coding.top_field_first != 0}, derived);
        for (int r = 0; r < 2; ++r) {
            const bool bottom = r == 1;
            Predict(dst, x, {forward, true, bottom, r, 2, y / 2, mx, my, 8, false});
            Predict(dst, x,
                    {forward, true, !bottom, r, 2, y / 2, derived[r][0], derived[r][1], 8, true});
        }
        return true;
    }
    for (int s = 0; s < 2; ++s) {
        if (!flags[s] || slots[s] < 0) continue;
        if (rec.motionType == 1) {
            for (int r = 0; r < 2; ++r)
                Predict(dst, x,
                        {slots[s], true, rec.motion_vertical_field_select[r][s] != 0, r, 2, y / 2,
                         rec.vector[r][s][0], rec.vector[r][s][1] >> 1, 8, formed});
        } else {
            Predict(dst, x,
                    {slots[s], false, false, 0, 1, y, rec.vector[0][s][0], rec.vector[0][s][1], 16,
                     formed});
        }
        formed = true;
    }
    return formed;
}

// A P field that is the second of its frame finds the field of opposite parity, its own
// frame's first field, in the slot that frame is being decoded into.
template <class T>
bool PictureDecoder::FormFieldPrediction(const SamplePlace<T>& dst, const MacroblockRecord& rec) {
    const int forward = refs_.forward, backward = refs_.backward;
    const VideoState& v = p_.v;
    const int structure = v.coding.picture_structure;
    const bool secondField = v.picture.secondField != 0;
    const bool secondP = v.picture.picture_coding_type == kPictureP && secondField;
    const int x = rec.column * 16;
    const int y = rec.row * 16;
    const bool flags[2] = {rec.macroblock_motion_forward || !rec.macroblock_motion_backward,
                           rec.macroblock_motion_backward != 0};
    const bool bottomCurrent = structure == kBottomField;
    auto forwardSlot = [&](int select) {
        const bool opposite = (select != 0) != bottomCurrent;
        return secondP && opposite ? backward : forward;
    };
    if (rec.motionType == 3) {
        if (!flags[0] || forward < 0) return false;
        const int vec[2] = {rec.vector[0][0][0], rec.vector[0][0][1]};
        const int dm[2] = {rec.dmvector[0], rec.dmvector[1]};
        int derived[2][2];
        MacroblockLayer::DualPrimeArithmetic(vec, dm, {structure, v.coding.top_field_first != 0},
                                             derived);
        const int oppositeSlot = secondField ? backward : forward;
        Predict(dst, x, {forward, true, bottomCurrent, 0, 1, y, vec[0], vec[1], 16, false});
        if (oppositeSlot >= 0)
            Predict(dst, x,
                    {oppositeSlot, true, !bottomCurrent, 0, 1, y, derived[0][0], derived[0][1], 16,
                     true});
        return true;
    }
    bool formed = false;
    for (int s = 0; s < 2; ++s) {
        if (!flags[s]) continue;
        bool any = false;
        const int vectors = rec.motionType == 2 ? 2 : 1;  // 16x8: one vector a half
        for (int r = 0; r < vectors; ++r) {
            const int select = rec.motion_vertical_field_select[r][s];
            const int slot = s == 0 ? forwardSlot(select) : backward;
            if (slot < 0) continue;
            const int rows = vectors == 2 ? 8 : 16;
            Predict(dst, x,
                    {slot, true, select != 0, 8 * r, 1, y + 8 * r, rec.vector[r][s][0],
                     rec.vector[r][s][1], rows, formed});
            any = true;
        }
        formed = formed || any;
    }
    return formed;
}

void PictureDecoder::ApplyDifference(MacroblockSamples& ws, const MacroblockRecord& rec) const {
    const int ref = DifferenceReference();
    if (ref < 0) return;
    const int x = rec.column * 16, y = rec.row * 16;
    if (x + 16 > stores.width || y + 16 > stores.height) return;
    for (int c = 0; c < 3; ++c) {
        const uint8_t* r = stores.DisplayPlane(ref, c) + static_cast<size_t>(y) * stores.width + x;
        for (int row = 0; row < 16; ++row)
            for (int col = 0; col < 16; ++col) {
                int16_t& s = ws.c[c][row * 16 + col];
                s = static_cast<int16_t>((s - r[row * stores.width + col]) / 2 + 128);
            }
    }
}

void PictureDecoder::Output(const MacroblockSamples& coded, const MacroblockRecord& rec,
                            bool storeMode, bool keepFocus) {
    if (storeMode) {
        StoreMacroblock(coded, rec);
        return;
    }
    MacroblockSamples display;
    UpsampleChroma(display, coded, stores.chromaFormat);
    std::memcpy(display.c[0], coded.c[0], sizeof display.c[0]);
    ApplyDifference(display, rec);
    PaintSamples(display, rec, keepFocus);
}

void PictureDecoder::ReconstructAndOutput(const MacroblockRecord& rec, bool storeMode,
                                          bool keepFocus) {
    const BlockResult* blocks = blocks_;
    bool raw = displayType == display_type::kRaw || rec.macroblock_intra;
    // Decoding into the store, the prediction goes straight there and the residual onto it.
    if (!raw && storeMode && PredictIntoStore(rec, blocks)) return;
    MacroblockSamples pred;
    if (!raw && !FormPrediction(pred, rec)) raw = true;
    if (raw && !rec.macroblock_intra) FillDisplayHalves(BlockCount());
    StorePlace place;
    if (raw && storeMode && StorePlaceOf(rec, place)) {
        StoreDisplayHalves(place, blocks, BlockCount(), stores.chromaFormat, rec.dct_type);
        stores.MarkChromaWritten(stores.currentSlot, p_.v.coding.picture_structure, rec.row,
                                 rec.column);
        return;
    }
    MacroblockSamples coded;
    AssembleCoded(coded, blocks, BlockCount(), stores.chromaFormat, rec.dct_type,
                  raw ? nullptr : &pred, raw, sat_);
    Output(coded, rec, storeMode, keepFocus);
}

void PictureDecoder::OutputSkipped(const MacroblockRecord& rec, bool storeMode, bool keepFocus) {
    if (storeMode && displayType != display_type::kRaw && PredictIntoStore(rec, nullptr)) return;
    MacroblockSamples pred;
    // A skipped macroblock has no residual: in "Raw" it shows as the flat residual level.
    const bool formed = displayType != display_type::kRaw && FormPrediction(pred, rec);
    if (!formed && !storeMode) {
        ColourMacroblock cm;
        std::memset(cm.rows, p_.stream.greyColour, sizeof cm.rows);
        Paint(cm, rec, keepFocus);
        return;
    }
    if (!formed)
        for (auto& component : pred.c)
            for (int16_t& s : component) s = 128;
    Output(pred, rec, storeMode, keepFocus);
}

void PictureDecoder::StoreMacroblock(const MacroblockSamples& coded, const MacroblockRecord& rec) {
    const int slot = stores.currentSlot;
    const int structure = p_.v.coding.picture_structure;
    const int x = rec.column * 16, y = rec.row * 16;
    StoreComponent(stores.Plane(slot, 0), stores.width, stores.height, structure, x, y, coded.c[0]);
    const ChromaSize cs = stores.chroma;
    for (int c = 1; c < 3; ++c)
        StoreComponent(stores.CodedPlane(slot, c), stores.chromaWidth, stores.chromaHeight,
                       structure, x >> cs.shiftX, y >> cs.shiftY, coded.c[c], cs.cols(), cs.rows());
    // The full-size chroma follows when it is shown.
    stores.MarkChromaWritten(slot, structure, rec.row, rec.column);
}

void PictureDecoder::Paint(ColourMacroblock& cm, const MacroblockRecord& rec, bool keepFocus) {
    cm.x = rec.column * 16;
    cm.y = rec.row * 16;
    // The field option applies to frame pictures; a field picture paints its own lines.
    dib.PaintMacroblock(cm, IsFieldPicture() ? CPictureDib::kAllLines : fieldOption, keepFocus);
}

void PictureDecoder::PaintSamples(const MacroblockSamples& ws, const MacroblockRecord& rec,
                                  bool keepFocus) {
    ColourMacroblock cm;
    ConvertMacroblockToColour(cm, ws.c[0], ws.c[1], ws.c[2], colourMode, Factors(),
                              liveDeInterlace);
    Paint(cm, rec, keepFocus);
}

void PictureDecoder::WriteOverlay(const MacroblockRecord& rec) {
    if (!drawing_) return;
    const size_t i =
        static_cast<size_t>(rec.row) * static_cast<size_t>(p_.stream.mbWidth) + rec.column;
    if (i >= overlay.size()) return;
    MotionOverlayRecord& o = overlay[i];
    std::memcpy(o.vector, rec.vector, sizeof o.vector);
    o.motionType = rec.motionType;
    o.motionVectorFormat = rec.motionVectorFormat;
}

}  // namespace bitloupe
