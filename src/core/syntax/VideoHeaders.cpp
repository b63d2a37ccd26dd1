// Sequence, GOP, picture and slice headers, and the sequence- and picture-level values
// derived from them.
#include "core/syntax/VideoHeaders.h"

#include <algorithm>
#include <cstdio>

#include "core/image/PictureDib.h"
#include "core/syntax/MacroblockSyntax.h"
#include "core/syntax/ParseContext.h"
#include "core/syntax/ScanTables.h"
#include "core/syntax/VideoFields.h"
#include "core/syntax/VideoTables.h"

namespace bitloupe {

using namespace video_tables;
namespace vf = video_fields;

bool VideoHeaders::Mpeg2() const {
    return p_.stream.videoVersion == kMpeg2;
}

void VideoHeaders::ReadMatrix(uint8_t* natural) {
    for (int i = 0; i < 64; ++i) natural[kScanTables[i]] = static_cast<uint8_t>(p_.ReadBits(8));
}

void VideoHeaders::ParseSequenceHeader() {
    CStreamState& st = p_.stream;
    Emitters& emit = p_.emit;
    TreeStore& tree = p_.tree;
    const bool mpeg2 = Mpeg2();

    st.counters.sequenceHeaderCount += 1;
    char text[64];
    std::snprintf(text, sizeof text, "Sequence Header #%u", st.counters.sequenceHeaderCount);
    const TreeItem item =
        tree.InsertItem(text, image::kSequence, kind::kSequenceHeader, st.videoItem);
    emit.AddOffsetItem(item, 4);
    emit.Record(vf::sequence_header_code, 0x1B3, item);

    const uint32_t width =
        ReadField(p_, emit, mpeg2 ? vf::horizontal_size_value : vf::horizontal_size, item);
    st.horizontal_size = st.displayWidth = st.horizontal_size_value = static_cast<uint16_t>(width);
    const uint32_t height =
        ReadField(p_, emit, mpeg2 ? vf::vertical_size_value : vf::vertical_size, item);
    st.vertical_size = st.displayHeight = st.vertical_size_value = static_cast<uint16_t>(height);
    UpdateMacroblockDimensions();

    st.aspect_ratio_information = static_cast<uint8_t>(
        ReadField(p_, emit, mpeg2 ? vf::aspect_ratio_information : vf::pel_aspect_ratio, item));
    UpdatePelAspectRatio();
    st.frame_rate_code = static_cast<uint8_t>(
        ReadField(p_, emit, mpeg2 ? vf::frame_rate_code : vf::picture_rate, item));

    const uint32_t bitRate = ReadField(p_, emit, mpeg2 ? vf::bit_rate_value : vf::bit_rate, item);
    st.bit_rate_value = bitRate;
    st.bitRate = bitRate * 400;
    ReadField(p_, emit, field::kMarkerBit, item);
    const uint32_t vbv =
        ReadField(p_, emit, mpeg2 ? vf::vbv_buffer_size_value : vf::vbv_buffer_size, item);
    st.vbv_buffer_size_value = static_cast<uint16_t>(vbv);
    st.vbvSize = vbv * 16;
    st.constrained_parameters_flag =
        static_cast<uint8_t>(ReadField(p_, emit, vf::constrained_parameters_flag, item));

    // A sequence header sets all four matrices: loaded ones for luma and chroma alike, the
    // defaults otherwise.
    QuantMatrixSet& q = p_.v.quant;
    TreeItem intraItem = 0;
    const uint32_t loadIntra =
        ReadField(p_, emit, vf::load_intra_quantizer_matrix, item, &intraItem);
    if (loadIntra)
        ReadMatrix(q.intra.values);
    else
        std::copy(std::begin(kDefaultIntraMatrix), std::end(kDefaultIntraMatrix), q.intra.values);
    std::copy(std::begin(q.intra.values), std::end(q.intra.values), q.chromaIntra.values);
    q.intra.loaded = q.chromaIntra.loaded = static_cast<uint8_t>(loadIntra);
    emit.AddMatrix8Small(q.intra.values, intraItem, !loadIntra);

    TreeItem nonIntraItem = 0;
    const uint32_t loadNonIntra =
        ReadField(p_, emit, vf::load_non_intra_quantizer_matrix, item, &nonIntraItem);
    if (loadNonIntra)
        ReadMatrix(q.nonIntra.values);
    else
        std::fill(std::begin(q.nonIntra.values), std::end(q.nonIntra.values),
                  kDefaultNonIntraValue);
    std::copy(std::begin(q.nonIntra.values), std::end(q.nonIntra.values), q.chromaNonIntra.values);
    q.nonIntra.loaded = q.chromaNonIntra.loaded = static_cast<uint8_t>(loadNonIntra);
    emit.AddMatrix8Small(q.nonIntra.values, nonIntraItem, !loadNonIntra);

    SelectColourMatrix(kDefaultMatrixCoefficients);
    UpdateGreyColour();
    tree.EnsureVisible(item);
}

void VideoHeaders::UpdateMacroblockDimensions() {
    CStreamState& st = p_.stream;
    st.mbWidth = static_cast<int32_t>((st.horizontal_size + 15) / 16);
    // Interlaced MPEG-2 frames are coded as two fields of whole macroblock rows each.
    if (Mpeg2() && st.progressive_sequence == 0)
        st.mbHeight = static_cast<int32_t>(2 * ((st.vertical_size + 31) / 32));
    else
        st.mbHeight = static_cast<int32_t>((st.vertical_size + 15) / 16);
    st.mbCount = st.mbWidth * st.mbHeight;
    st.codedWidth = st.mbWidth * 16;
    st.codedHeight = st.mbHeight * 16;
}

void VideoHeaders::UpdatePelAspectRatio() {
    CStreamState& st = p_.stream;
    const int code = st.aspect_ratio_information & 0x0F;
    if (!Mpeg2()) {
        st.pelAspectRatio = kPelAspectValues[code];
        return;
    }
    // MPEG-2 codes give the display's shape; the pel shape follows from the display size.
    // A display size of 0 (a broken header) leaves square pels.
    double displayAspect = 0.0;
    if (code == 2) displayAspect = 0.75;
    if (code == 3) displayAspect = 0.5625;
    if (displayAspect > 0.0 && st.displayHeight != 0 && st.displayWidth != 0)
        st.pelAspectRatio = st.displayWidth * displayAspect / st.displayHeight;
    else
        st.pelAspectRatio = 1.0;
}

void VideoHeaders::SelectColourMatrix(int code) {
    ColourMatrix& m = p_.stream.colourMatrix;
    const ColourFactors f = ColourFactorsFor(code);
    m.crv = f.crv;
    m.cbu = f.cbu;
    m.cgu = f.cgu;
    m.cgv = f.cgv;
    m.matrix_coefficients = static_cast<uint8_t>(code);
}

void VideoHeaders::UpdateGreyColour() {
    CStreamState& st = p_.stream;
    if (st.greyColourFixed) return;
    // The colour the picture's conversion gives Y = Cb = Cr = 128.
    const ColourMatrix& m = st.colourMatrix;
    const uint32_t rgb = GreyColour({m.crv, m.cbu, m.cgu, m.cgv});
    st.greyColour = static_cast<uint8_t>(rgb >> 8);
    st.greyColourRgb = rgb;
}

void VideoHeaders::ParseSequenceEnd() {
    p_.emit.Bits(32).AddItem("EOVS (End of Video Stream) (0x000001B7, 4 bytes)",
                             p_.stream.videoItem, image::kEndOfVideo, 0);
}

void VideoHeaders::ParseReservedStartCode(uint32_t code) {
    char text[64];
    std::snprintf(text, sizeof text, "reserved start codes (0x%08X, 4 bytes)", code);
    const TreeItem item = p_.tree.InsertItem(text, image::kPlain, 0, p_.stream.videoItem);
    p_.emit.AddOffsetItem(item, 4);
}

void VideoHeaders::ParseSequenceError() {
    const TreeItem item = p_.tree.InsertItem("Sequence Error", image::kPlain, kind::kSequenceError,
                                             p_.stream.videoItem);
    p_.emit.AddOffsetItem(item, 4);
}

void VideoHeaders::ParseGopHeader() {
    CStreamState& st = p_.stream;
    VideoState& v = p_.v;
    Emitters& emit = p_.emit;
    TreeStore& tree = p_.tree;

    st.counters.gopCount += 1;
    v.picturesInGop = 0;
    v.lastTemporalReference = -1;

    char text[64];
    std::snprintf(text, sizeof text, "GOP (Group of Pictures) #%u", st.counters.gopCount);
    const TreeItem gop = tree.InsertItem(text, image::kGop, kind::kGop, st.videoItem);
    v.currentGopItem = v.currentPictureItem = gop;
    if (st.counters.gopCount == 1) v.firstGopItem = gop;

    const TreeItem header = tree.InsertItem("GOP Header", image::kGopHeader, kind::kGopHeader, gop);
    emit.AddOffsetItem(header, 4);
    emit.Record(vf::group_start_code, 0x1B8, header);

    // The time code's parts are listed under one item that shows the 25 bits together.
    const TreeItem timeCode = tree.InsertItem("time_code (25 bits)", image::kPlain, 0, header);
    GopRecord r;
    // Listed under the time code, standing for the bits it shows.
    auto part = [&](const FieldDesc& d) {
        TreeItem made = 0;
        const uint32_t code = ReadField(p_, emit, d, timeCode, &made);
        emit.MarkVirtual(made);
        return static_cast<uint8_t>(code);
    };
    r.drop_frame_flag = part(vf::drop_frame_flag);
    r.time_code_hours = part(vf::time_code_hours);
    r.time_code_minutes = part(vf::time_code_minutes);
    TreeItem marker = 0;
    r.marker_bit = static_cast<uint8_t>(ReadField(p_, emit, field::kMarkerBit, timeCode, &marker));
    emit.MarkVirtual(marker);
    if (!r.marker_bit) tree.SetItemImage(marker, image::kError);  // keep the error in sight
    r.time_code_seconds = part(vf::time_code_seconds);
    r.time_code_pictures = part(vf::time_code_pictures);
    r.time_code = uint32_t{r.drop_frame_flag} << 24 | uint32_t{r.time_code_hours} << 19 |
                  uint32_t{r.time_code_minutes} << 13 | uint32_t{r.marker_bit} << 12 |
                  uint32_t{r.time_code_seconds} << 6 | r.time_code_pictures;
    const std::string tcText = "time_code=" + BitString(r.time_code, 25) + "B (25 bits)";
    tree.SetItemText(timeCode, tcText);

    r.closed_gop = static_cast<uint8_t>(ReadField(p_, emit, vf::closed_gop, header));
    r.broken_link = static_cast<uint8_t>(ReadField(p_, emit, vf::broken_link, header));

    tree.EnsureVisible(gop);
    st.gopRecords[gop] = r;
}

void VideoHeaders::ParsePictureHeader() {
    CStreamState& st = p_.stream;
    VideoState& v = p_.v;
    Emitters& emit = p_.emit;
    TreeStore& tree = p_.tree;
    PictureRecord& pic = v.picture;
    StreamCounters& n = st.counters;

    n.pictureCount += 1;
    v.picturesInGop += 1;
    v.slicesInPicture = 0;
    ItemPosition pos;
    p_.GetPosition(pos, false);

    // A picture that repeats the temporal_reference of the one before it is the second field
    // of the same frame.
    pic.temporal_reference = static_cast<uint16_t>(p_.ReadBits(10));
    if (pic.temporal_reference != v.lastTemporalReference) {
        pic.secondField = 0;
        v.lastTemporalReference = pic.temporal_reference;
        n.frameCount += 1;
    } else {
        pic.secondField = 1;
    }

    char text[128];
    std::snprintf(text, sizeof text, "Picture #%u (Frame #%u)", n.pictureCount, n.frameCount);
    const TreeItem item =
        tree.InsertItem(text, image::kFramePicture, kind::kPicture, v.currentGopItem);
    v.currentPictureItem = item;
    if (item) st.videoPositions[item] = pos;

    const TreeItem header =
        tree.InsertItem("Picture Header", image::kHeader, kind::kPictureHeader, item);
    emit.AddFileOffset("file_offset", pos, header, 4);
    // temporal_reference was read first, to tell a second field.
    emit.Back(42).Record(vf::picture_start_code, 0x100, header);
    emit.Back(10).Record(vf::temporal_reference, pic.temporal_reference, header);

    TreeItem typeItem = 0;
    const uint32_t type = ReadField(p_, emit, vf::picture_coding_type, header, &typeItem);
    pic.picture_coding_type = static_cast<uint8_t>(type);
    const bool known = type >= kPictureI && type <= kPictureD;
    if (known) n.typeCounts[type] += 1;
    if (!known || (type == kPictureD && Mpeg2())) tree.SetItemImage(typeItem, image::kError);
    if (known) {
        std::snprintf(text, sizeof text, "%s #%u (Picture #%u, Frame #%u)", kPictureKindNames[type],
                      n.typeCounts[type], n.pictureCount, n.frameCount);
        tree.SetItemText(item, text);
    }

    pic.vbv_delay = static_cast<uint16_t>(ReadField(p_, emit, vf::vbv_delay, header));
    auto read8 = [&](const FieldDesc& d) {
        return static_cast<uint8_t>(ReadField(p_, emit, d, header));
    };
    if (type == kPictureP || type == kPictureB) {
        pic.full_pel_forward_vector = read8(vf::full_pel_forward_vector);
        pic.forward_f_code = read8(vf::forward_f_code);
    }
    if (type == kPictureB) {
        pic.full_pel_backward_vector = read8(vf::full_pel_backward_vector);
        pic.backward_f_code = read8(vf::backward_f_code);
    }

    pic.extra_bit_picture = 0;
    while (p_.PeekBits(1) == 1 && !p_.AtEnd()) {
        pic.extra_bit_picture = read8(vf::extra_bit_picture);
        read8(vf::extra_information_picture);
    }
    read8(vf::extra_bit_picture);

    // MPEG-2 pictures learn their coding values from the picture coding extension that
    // follows; MPEG-1 pictures have them fixed.
    if (!Mpeg2()) {
        SetMpeg1PictureDefaults();
        UpdatePredictionFrames();
    }
    if (v.picturesInGop == 1) tree.EnsureVisible(item);
    // The parameters in force are those of the picture's sequence; a new entry when a
    // sequence header or extension changed them.
    const SequenceParameters& sequence = st;
    if (st.sequenceRecords.empty() || !(st.sequenceRecords.back() == sequence))
        st.sequenceRecords.push_back(sequence);
    pic.sequence = static_cast<uint32_t>(st.sequenceRecords.size());
    if (item) {
        st.pictureRecords[item] = pic;
        st.quantMatrixRecords[item] = v.quant;
    }
}

void VideoHeaders::SetMpeg1PictureDefaults() {
    VideoState& v = p_.v;
    PictureCodingExtension& c = v.coding;
    const int32_t mbCount = p_.stream.mbCount;
    c.mbsInPicture = mbCount > 0 ? static_cast<uint32_t>(mbCount) : 0;
    c.f_code[0][0] = c.f_code[0][1] = v.picture.forward_f_code;
    c.f_code[1][0] = c.f_code[1][1] = v.picture.backward_f_code;
    c.picture_structure = kFramePicture;
    c.alternate_scan = 0;
    c.intra_dc_precision = 0;
    c.concealment_motion_vectors = 0;
    v.spatial.spatial_temporal_weight_code_table_index = 0;
    // What MPEG-1 implies for the other coding values: progressive frames, frame prediction
    // and DCT, linear quantiser scale, the first intra VLC table.
    c.frame_pred_frame_dct = 1;
    c.q_scale_type = 0;
    c.intra_vlc_format = 0;
    c.top_field_first = 0;
    c.repeat_first_field = 0;
    c.progressive_frame = 1;
    c.composite_display_flag = 0;
    v.display = PictureDisplayExtension();
    v.display.offsetCount = 1;
}

namespace {

struct PredictionRefs {
    TreeItem fwd0 = 0, fwd1 = 0, bwd0 = 0, bwd1 = 0;
};

// A reference of two entries: a frame picture (newer) alone, or a field pair whose top field
// goes first, whichever of newer and older it is.
void FieldPair(const ReferenceEntry& newer, const ReferenceEntry& older, TreeItem& first,
               TreeItem& second) {
    if (newer.picture_structure == kFramePicture) {
        first = newer.item;
    } else if (newer.picture_structure == kTopField) {
        first = newer.item;
        second = older.item;
    } else {
        first = older.item;
        second = newer.item;
    }
}

// The references a picture predicts from, by the history of reference pictures (newest at
// the end; a field reference pair appears as two entries, in the order its fields were coded).
PredictionRefs ReferencesOf(const std::array<ReferenceEntry, 4>& h, int type, int structure,
                            bool secondField, bool mpeg2) {
    PredictionRefs r;
    if (!mpeg2) {
        if (type == kPictureP) r.fwd0 = h[3].item;
        if (type == kPictureB) {
            r.fwd0 = h[2].item;
            r.bwd0 = h[3].item;
        }
        return r;
    }
    if (type == kPictureP) {
        if (secondField) {
            r.fwd1 = h[3].item;
            r.fwd0 = h[2].picture_structure == kFramePicture || h[2].picture_structure == structure
                         ? h[2].item
                         : h[1].item;
        } else {
            FieldPair(h[3], h[2], r.fwd0, r.fwd1);
        }
    } else if (type == kPictureB) {
        FieldPair(h[3], h[2], r.bwd0, r.bwd1);
        const bool frameBackward = h[3].picture_structure == kFramePicture;
        FieldPair(frameBackward ? h[2] : h[1], frameBackward ? h[1] : h[0], r.fwd0, r.fwd1);
    }
    return r;
}

}  // namespace

void VideoHeaders::UpdatePredictionFrames() {
    CStreamState& st = p_.stream;
    VideoState& v = p_.v;
    TreeStore& tree = p_.tree;
    std::array<ReferenceEntry, 4>& h = v.referenceHistory;
    const int type = v.picture.picture_coding_type;
    const int structure = v.coding.picture_structure;
    auto [fwd0, fwd1, bwd0, bwd1] =
        ReferencesOf(h, type, structure, v.picture.secondField != 0, Mpeg2());

    // While a start picture is sought, the pictures passed over are deleted from the tree,
    // and the headers that follow one are read with the GOP as their parent. Such pictures
    // keep their place in the history, but without an item: they cannot be referred to.
    const TreeItem picture =
        tree.GetItemData(v.currentPictureItem) == kind::kPicture ? v.currentPictureItem : 0;
    auto listed = [&](TreeItem& ref) {
        if (ref && !tree.IsValid(ref)) ref = 0;
    };
    listed(fwd0);
    listed(fwd1);
    listed(bwd0);
    listed(bwd1);
    if (picture) {
        PredictionFramesRecord rec;
        rec.forward_frames[0] = fwd0;
        rec.forward_frames[1] = fwd1;
        rec.backward_frames[0] = bwd0;
        rec.backward_frames[1] = bwd1;
        st.predictionFrames[picture] = rec;
    }
    if (picture && (fwd0 || fwd1 || bwd0 || bwd1)) {
        const TreeItem list = tree.InsertItem("Frames for Predictions", image::kPlain,
                                              kind::kPredictionFrames, picture);
        p_.emit.MarkVirtual(list);
        p_.emit.AddItemRef("forward_frames", 0, fwd0, list);
        p_.emit.AddItemRef("forward_frames", 1, fwd1, list);
        p_.emit.AddItemRef("backward_frames", 0, bwd0, list);
        p_.emit.AddItemRef("backward_frames", 1, bwd1, list);
    }

    // B pictures are not references; everything else becomes the newest history entry.
    if (type == kPictureB && (v.picture.temporal_reference != h[3].temporal_reference ||
                              h[3].picture_coding_type == kPictureB || h[3].item == 0)) {
        v.picture.referenceKept = 0;
        return;
    }
    for (size_t i = 0; i + 1 < h.size(); ++i) h[i] = h[i + 1];
    h[3].picture_coding_type = static_cast<uint8_t>(type);
    h[3].picture_structure = static_cast<uint8_t>(structure);
    h[3].temporal_reference = v.picture.temporal_reference;
    h[3].item = picture;
    v.picture.referenceKept = 1;
}

void VideoHeaders::ParseSlice(uint32_t code) {
    CStreamState& st = p_.stream;
    VideoState& v = p_.v;
    Emitters& emit = p_.emit;
    TreeStore& tree = p_.tree;
    const uint32_t row = code & 0xFF;

    v.slicesInPicture += 1;
    for (int32_t& dc : v.dcPredictor) dc = 0;
    SliceHeader& sh = v.slice;

    char text[64];
    std::snprintf(text, sizeof text, "Slice #%d (y=%d)", v.slicesInPicture,
                  static_cast<int>(row) * 16 - 16);
    const TreeItem slice = tree.InsertItem(text, image::kSlice, kind::kSlice, v.currentPictureItem);
    // The slice keeps where its macroblocks begin (below); here only its start is listed.
    emit.AddOffsetItem(slice, 4);
    const TreeItem header =
        emit.AddItem("Slice Header", slice, image::kSliceHeader, kind::kSliceHeader);
    emit.Record(vf::slice_start_code, code, header);

    ReadSliceHeader(p_, emit, code, sh, header);
    v.quantiser_scale_code = sh.quantiser_scale_code;

    // The macroblocks are parsed on demand: the slice and its placeholder keep where they
    // begin, the record keeps the header to restore first.
    SliceRecord rec;
    rec.header = sh;
    p_.GetPosition(rec.macroblocks, false);
    emit.RecordPosition(slice, 1, false);
    rec.placeholderItem = emit.AddItem("Macroblock(s) is/are to be parsed ...", slice,
                                       image::kVirtual, kind::kSlicePlaceholder);
    if (rec.placeholderItem) st.videoPositions[rec.placeholderItem] = rec.macroblocks;
    rec.pictureItem = v.currentPictureItem;
    if (slice) st.sliceRecords[slice] = rec;
}

void VideoHeaders::ResetParse() {
    VideoState& v = p_.v;
    v.currentGopItem = v.currentPictureItem = p_.stream.videoItem;
    v.firstPictureItem = v.firstMacroblockItem = v.firstBlockItem = 0;
    v.lastTemporalReference = -1;
    v.picturesInGop = -1;
    for (ReferenceEntry& e : v.referenceHistory) e = ReferenceEntry();
}

}  // namespace bitloupe
