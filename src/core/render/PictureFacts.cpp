#include "core/render/PictureFacts.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "core/decode/PictureDecoder.h"
#include "core/syntax/VideoTables.h"

namespace bitloupe {

const char* const kMapScriptNames[6] = {"none", "mbtype", "quantiser", "cbp", "dct", "motion"};
const char* const kMapMenuNames[6] = {"No Map",       "Macroblock Type", "Quantiser Scale",
                                      "Coded Blocks", "DCT Type",        "Motion Type"};

namespace {

using video_tables::kPictureB;
using video_tables::kPictureI;

bool IsMacroblockKind(uint32_t data) {
    return data == kind::kMacroblock || data == kind::kSkippedMacroblock;
}

const PictureCodingExtension* CodingOf(const CStreamState& stream, TreeItem picture) {
    const auto c = stream.pictureCodingRecords.find(picture);
    return c == stream.pictureCodingRecords.end() ? nullptr : &c->second;
}

bool IsFieldPicture(const CStreamState& stream, TreeItem picture) {
    const PictureCodingExtension* coding = CodingOf(stream, picture);
    return coding && (coding->picture_structure == 1 || coding->picture_structure == 2);
}

int PictureTypeOf(const CStreamState& stream, TreeItem picture) {
    const auto pic = stream.pictureRecords.find(picture);
    return pic == stream.pictureRecords.end() ? 0 : pic->second.picture_coding_type;
}

// The macroblock column and row at sample (x, y) of the shown frame: a field picture's rows are
// 32 frame lines high.
struct MacroblockPlace {
    int column = 0;
    int row = 0;
};
MacroblockPlace PlaceOf(const CStreamState& stream, TreeItem picture, int x, int y) {
    return {x / 16, y / (IsFieldPicture(stream, picture) ? 32 : 16)};
}

int CodedBlockCount(const MacroblockRecord& rec, int blockCount) {
    int n = 0;
    for (int i = 0; i < std::min(blockCount, 12); ++i) n += rec.coded[i] != 0;
    return n;
}

// A heat colour from blue (0) over green to red (1).
uint32_t Heat(double t) {
    t = std::clamp(t, 0.0, 1.0);
    const auto channel = [](double v) {
        return static_cast<uint32_t>(std::clamp(v, 0.0, 1.0) * 255 + 0.5);
    };
    const double r = t < 0.5 ? 0.0 : (t - 0.5) * 2;
    const double g = t < 0.5 ? t * 2 : (1 - t) * 2;
    const double b = t < 0.5 ? 1 - t * 2 : 0.0;
    return channel(r) << 16 | channel(g) << 8 | channel(b);
}

constexpr uint32_t kTypeColours[5] = {0xE02020, 0x2060F0, 0x20C040, 0xC040E0, 0x808080};
const char* const kTypeNames[5] = {"intra", "forward", "backward", "interpolated", "skipped"};

int TypeCategory(const MacroblockRecord& rec, bool skipped, int pictureType) {
    if (skipped) return map_type::kSkipped;
    if (rec.macroblock_intra) return map_type::kIntra;
    if (rec.macroblock_motion_forward && rec.macroblock_motion_backward)
        return map_type::kInterpolated;
    if (rec.macroblock_motion_backward) return map_type::kBackward;
    // A P macroblock without motion vectors predicts forward with a zero vector.
    return pictureType == kPictureB && !rec.macroblock_motion_forward ? map_type::kSkipped
                                                                      : map_type::kForward;
}

}  // namespace

std::vector<TreeItem> MacroblockItemsOf(const TreeStore& tree, TreeItem picture) {
    std::vector<TreeItem> out;
    for (TreeItem s = tree.GetChildItem(picture); s; s = tree.GetNextSiblingItem(s)) {
        if (tree.GetItemData(s) != kind::kSlice) continue;
        for (TreeItem m = tree.GetChildItem(s); m; m = tree.GetNextSiblingItem(m))
            if (IsMacroblockKind(tree.GetItemData(m))) out.push_back(m);
    }
    return out;
}

bool MacroblocksParsed(const TreeStore& tree, TreeItem picture) {
    bool any = false;
    for (TreeItem s = tree.GetChildItem(picture); s; s = tree.GetNextSiblingItem(s)) {
        if (tree.GetItemData(s) != kind::kSlice) continue;
        any = true;
        bool has = false;
        for (TreeItem m = tree.GetChildItem(s); m && !has; m = tree.GetNextSiblingItem(m))
            has = IsMacroblockKind(tree.GetItemData(m));
        if (!has) return false;
    }
    return any;
}

namespace {

// The picture's range of quantiser_scale over its coded macroblocks, and the steps of its
// legend: five from lowest to highest, or one for each value when there are fewer.
struct QuantiserRange {
    int low = 255, high = 0, steps = 0;
    int Category(int q) const {
        return steps < 5 ? q - low : ((q - low) * 4 + (high - low) / 2) / (high - low);
    }
};

QuantiserRange QuantiserRangeOf(const TreeStore& tree, const CStreamState& stream,
                                const std::vector<TreeItem>& items) {
    QuantiserRange q;
    for (TreeItem item : items) {
        const auto r = stream.macroblockRecords.find(item);
        if (r == stream.macroblockRecords.end()) continue;
        if (tree.GetItemData(item) == kind::kSkippedMacroblock) continue;
        q.low = std::min<int>(q.low, r->second.quantiser_scale);
        q.high = std::max<int>(q.high, r->second.quantiser_scale);
    }
    if (q.high < q.low) q.low = q.high = 0;
    q.steps = std::min(5, q.high - q.low + 1);
    return q;
}

// What the categories of a map depend on besides the macroblock.
struct MapContext {
    int pictureType = 0;
    int blockCount = 0;
    bool fieldPicture = false;
    bool mpeg2 = false;
    bool framePredFrameDct = false;
    QuantiserRange quantiser;
};

std::vector<MapLegendEntry> MapLegend(MapKind kind, const QuantiserRange& q, int blockCount,
                                      bool fieldPicture) {
    std::vector<MapLegendEntry> legend;
    switch (kind) {
        case MapKind::kMbType:
            for (int c = 0; c < 5; ++c) legend.push_back({kTypeNames[c], kTypeColours[c]});
            break;
        case MapKind::kQuantiser:
            for (int k = 0; k < q.steps; ++k) {
                const int value = q.steps < 5 ? q.low + k : q.low + (q.high - q.low) * k / 4;
                const double heat = q.steps > 1 ? static_cast<double>(k) / (q.steps - 1) : 0.5;
                legend.push_back({"quantiser_scale " + std::to_string(value), Heat(heat)});
            }
            break;
        case MapKind::kCodedBlocks:
            for (int n = 0; n <= blockCount; ++n)
                legend.push_back({std::to_string(n) + (n == 1 ? " block" : " blocks"),
                                  Heat(blockCount ? static_cast<double>(n) / blockCount : 0)});
            break;
        case MapKind::kDctType:
            legend = {{"frame DCT", 0x20B0E0}, {"field DCT", 0xF08020}};
            break;
        case MapKind::kMotionType:
            if (fieldPicture)
                legend = {{"field", 0x20B0E0}, {"16x8", 0xF08020}, {"dual prime", 0xC040E0}};
            else
                legend = {{"frame", 0x20B0E0}, {"field", 0xF08020}, {"dual prime", 0xC040E0}};
            break;
        case MapKind::kNone:
            break;
    }
    return legend;
}

// Which legend entry a macroblock falls in, -1 for none.
int MapCategory(MapKind kind, const MacroblockRecord& rec, bool skipped, const MapContext& m) {
    switch (kind) {
        case MapKind::kMbType:
            return TypeCategory(rec, skipped, m.pictureType);
        case MapKind::kQuantiser:
            return skipped ? -1 : m.quantiser.Category(rec.quantiser_scale);
        case MapKind::kCodedBlocks:
            return skipped ? 0 : CodedBlockCount(rec, m.blockCount);
        case MapKind::kDctType:
            // Only a frame picture's coded macroblocks that may choose carry a DCT type.
            if (skipped || m.fieldPicture || CodedBlockCount(rec, m.blockCount) == 0) return -1;
            return rec.dct_type ? 1 : 0;
        case MapKind::kMotionType:
            if (skipped || rec.macroblock_intra ||
                !(rec.macroblock_motion_forward || rec.macroblock_motion_backward))
                return -1;
            if (!m.mpeg2 || m.framePredFrameDct) return 0;
            if (rec.motionType == 3) return 2;
            if (m.fieldPicture) return rec.motionType == 2 ? 1 : 0;
            return rec.motionType == 1 ? 1 : 0;
        case MapKind::kNone:
            break;
    }
    return -1;
}

}  // namespace

namespace {
// The parameters of the picture's own sequence (the stream's last ones when it names none).
const SequenceParameters& SequenceOf(const CStreamState& stream, TreeItem picture) {
    const auto p = stream.pictureRecords.find(picture);
    const SequenceParameters* own =
        p == stream.pictureRecords.end() ? nullptr : stream.SequenceOf(p->second);
    return own ? *own : stream;
}
}  // namespace

MacroblockMap BuildMacroblockMap(const TreeStore& tree, const CStreamState& stream,
                                 TreeItem picture, MapKind kind) {
    MacroblockMap map;
    map.kind = kind;
    const PictureCodingExtension* coding = CodingOf(stream, picture);
    map.fieldPicture = IsFieldPicture(stream, picture);
    map.bottomField = coding && coding->picture_structure == 2;
    if (kind == MapKind::kNone) return map;

    const std::vector<TreeItem> items = MacroblockItemsOf(tree, picture);
    MapContext m;
    m.pictureType = PictureTypeOf(stream, picture);
    m.blockCount = SequenceOf(stream, picture).blockCount;
    m.fieldPicture = map.fieldPicture;
    m.mpeg2 = stream.videoVersion == kMpeg2;
    m.framePredFrameDct = coding && coding->frame_pred_frame_dct;
    m.quantiser = QuantiserRangeOf(tree, stream, items);
    map.legend = MapLegend(kind, m.quantiser, m.blockCount, m.fieldPicture);

    for (TreeItem item : items) {
        const auto r = stream.macroblockRecords.find(item);
        if (r == stream.macroblockRecords.end()) continue;
        const MacroblockRecord& rec = r->second;
        const bool skipped = tree.GetItemData(item) == kind::kSkippedMacroblock;
        const int category = MapCategory(kind, rec, skipped, m);
        if (category < 0 || category >= static_cast<int>(map.legend.size())) continue;
        map.cells.push_back({rec.column, rec.row, category, map.legend[category].rgb});
    }
    return map;
}

TreeItem PictureOf(const TreeStore& tree, TreeItem item) {
    for (int depth = 0; item && depth < 64; ++depth, item = tree.GetParentItem(item))
        if (tree.GetItemData(item) == kind::kPicture) return item;
    return 0;
}

TreeItem MacroblockItemAt(const TreeStore& tree, const CStreamState& stream, TreeItem picture,
                          int x, int y) {
    if (x < 0 || y < 0) return 0;
    const MacroblockPlace at = PlaceOf(stream, picture, x, y);
    for (TreeItem item : MacroblockItemsOf(tree, picture)) {
        const auto r = stream.macroblockRecords.find(item);
        if (r != stream.macroblockRecords.end() && r->second.column == at.column &&
            r->second.row == at.row)
            return item;
    }
    return 0;
}

bool DecodedSamplesAt(const PictureDecoder& decoder, int x, int y, int out[3]) {
    const FrameStores& s = decoder.stores;
    if (x < 0 || y < 0 || x >= s.width || y >= s.height || s.currentSlot < 0) return false;
    const uint8_t* luma = decoder.CurrentCodedPlane(0);
    const uint8_t* cb = decoder.CurrentCodedPlane(1);
    const uint8_t* cr = decoder.CurrentCodedPlane(2);
    if (!luma || !cb || !cr) return false;
    out[0] = luma[static_cast<size_t>(y) * s.width + x];
    const size_t stride = static_cast<size_t>(s.width >> s.chroma.shiftX);
    const size_t at = static_cast<size_t>(y >> s.chroma.shiftY) * stride + (x >> s.chroma.shiftX);
    out[1] = cb[at];
    out[2] = cr[at];
    return true;
}

std::string ReadoutText(const TreeStore& tree, const CStreamState& stream,
                        const PictureDecoder& decoder, TreeItem picture, int x, int y) {
    char text[320];
    const MacroblockPlace at = PlaceOf(stream, picture, x, y);
    const int mbWidth = SequenceOf(stream, picture).mbWidth;
    const int width = mbWidth > 0 ? mbWidth : (decoder.stores.width + 15) / 16;
    int n = std::snprintf(text, sizeof text, "x=%d, y=%d  MB column %d, row %d, address %d", x, y,
                          at.column, at.row, at.row * width + at.column);
    int yuv[3];
    if (DecodedSamplesAt(decoder, x, y, yuv))
        n += std::snprintf(text + n, sizeof text - static_cast<size_t>(n), "  Y=%d Cb=%d Cr=%d",
                           yuv[0], yuv[1], yuv[2]);
    const TreeItem mb = MacroblockItemAt(tree, stream, picture, x, y);
    const auto r = mb ? stream.macroblockRecords.find(mb) : stream.macroblockRecords.end();
    if (r != stream.macroblockRecords.end() && n > 0 && n < static_cast<int>(sizeof text)) {
        const MacroblockRecord& rec = r->second;
        const bool skipped = tree.GetItemData(mb) == kind::kSkippedMacroblock;
        const int type = PictureTypeOf(stream, picture);
        // A skipped macroblock carries no header: only its kind is said.
        if (skipped)
            n += std::snprintf(text + n, sizeof text - static_cast<size_t>(n), "  skipped");
        else
            n += std::snprintf(text + n, sizeof text - static_cast<size_t>(n),
                               "  %s, quantiser_scale=%d, coded_block_pattern=%d",
                               kTypeNames[TypeCategory(rec, skipped, type)], rec.quantiser_scale,
                               rec.coded_block_pattern);
        for (int s = 0; s < 2 && !skipped; ++s) {
            const bool used =
                s == 0 ? rec.macroblock_motion_forward : rec.macroblock_motion_backward;
            if (!used || n <= 0 || n >= static_cast<int>(sizeof text)) continue;
            n += std::snprintf(text + n, sizeof text - static_cast<size_t>(n), ", %s MV (%d, %d)",
                               s == 0 ? "forward" : "backward", rec.vector[0][s][0],
                               rec.vector[0][s][1]);
        }
    }
    return text;
}

namespace {

std::string Clock(long long ms) {
    char text[48];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld.%03lld", ms / 3600000, ms / 60000 % 60,
                  ms / 1000 % 60, ms % 1000);
    return text;
}

// Where a picture's start code begins in the file (approximately, when it straddles packets).
int64_t StartCodeOffset(const CStreamState& stream, TreeItem picture) {
    const auto pos = stream.videoPositions.find(picture);
    if (pos == stream.videoPositions.end()) return -1;
    return static_cast<int64_t>(pos->second.offset) - 4;
}

}  // namespace

const CStreamState::VideoPacketTime* VideoPacketAt(const CStreamState& stream, int64_t offset) {
    const auto& packets = stream.videoPacketTimes;
    if (packets.empty() || offset < 0) return nullptr;
    const auto packet = std::upper_bound(packets.begin(), packets.end(), offset,
                                         [](int64_t at, const CStreamState::VideoPacketTime& p) {
                                             return at < static_cast<int64_t>(p.payloadStart);
                                         });
    return packet == packets.begin() ? nullptr : &*std::prev(packet);
}

int64_t PicturePts(const TreeStore& tree, const CStreamState& stream, TreeItem picture) {
    const CStreamState::VideoPacketTime* packet =
        VideoPacketAt(stream, StartCodeOffset(stream, picture));
    if (!packet || packet->pts < 0) return -1;
    // The time stamp belongs to the first picture that begins in the packet.
    const std::vector<TreeItem> pictures = AllPictures(tree, stream);
    const auto at = std::find(pictures.begin(), pictures.end(), picture);
    if (at != pictures.begin() && at != pictures.end() &&
        StartCodeOffset(stream, *(at - 1)) >= static_cast<int64_t>(packet->payloadStart))
        return -1;
    return packet->pts;
}

double FrameRateOf(int frameRateCode) {
    static constexpr double kRates[9] = {0,  24000.0 / 1001, 24, 25, 30000.0 / 1001, 30,
                                         50, 60000.0 / 1001, 60};
    return frameRateCode >= 1 && frameRateCode <= 8 ? kRates[frameRateCode] : 25.0;
}

double FrameRateOf(const SequenceParameters& sequence) {
    return FrameRateOf(sequence.frame_rate_code) *
           ((sequence.frame_rate_extension_n + 1.0) / (sequence.frame_rate_extension_d + 1.0));
}

std::string PictureTimeText(const TreeStore& tree, const CStreamState& stream, TreeItem picture) {
    const auto p = stream.pictureRecords.find(picture);
    if (p == stream.pictureRecords.end()) return {};
    const SequenceParameters* own = stream.SequenceOf(p->second);
    const double rate = FrameRateOf(own ? own->frame_rate_code : stream.frame_rate_code);
    const int tr = p->second.temporal_reference;

    // A picture without a stamp of its own is timed from the stamped picture of its GOP nearest
    // to it in display order, by their places, as a player times it.
    int64_t derived = -1;
    int64_t pts = PicturePts(tree, stream, picture);
    const TreeItem gop = tree.GetParentItem(picture);
    int nearest = 1 << 30;
    for (TreeItem q = tree.GetChildItem(gop); pts < 0 && q && tree.GetItemData(gop) == kind::kGop;
         q = tree.GetNextSiblingItem(q)) {
        const auto r = stream.pictureRecords.find(q);
        if (r == stream.pictureRecords.end() || q == picture) continue;
        const int distance = tr - r->second.temporal_reference;
        if (std::abs(distance) >= nearest) continue;
        const int64_t stamp = PicturePts(tree, stream, q);
        if (stamp < 0) continue;
        nearest = std::abs(distance);
        derived = stamp + static_cast<int64_t>(std::lround(distance * 90000.0 / rate));
    }
    if (pts < 0) pts = derived;
    if (pts >= 0) return "PTS " + Clock((pts + 45) / 90);

    const auto g = stream.gopRecords.find(gop);
    if (g == stream.gopRecords.end()) return {};
    const GopRecord& t = g->second;
    const double seconds = t.time_code_hours * 3600.0 + t.time_code_minutes * 60.0 +
                           t.time_code_seconds + (t.time_code_pictures + tr) / rate;
    return "time_code " + Clock(static_cast<long long>(seconds * 1000 + 0.5));
}

std::vector<TreeItem> AllPictures(const TreeStore& tree, const CStreamState& stream) {
    std::vector<TreeItem> out;
    for (TreeItem c = tree.GetChildItem(stream.videoItem); c; c = tree.GetNextSiblingItem(c)) {
        if (tree.GetItemData(c) == kind::kPicture) out.push_back(c);
        if (tree.GetItemData(c) == kind::kGop)
            for (TreeItem p = tree.GetChildItem(c); p; p = tree.GetNextSiblingItem(p))
                if (tree.GetItemData(p) == kind::kPicture) out.push_back(p);
    }
    return out;
}

namespace {

// The index of `from` (or of the picture it belongs to) in the list, -1 when not in it.
int IndexOf(const TreeStore& tree, const std::vector<TreeItem>& pictures, TreeItem from) {
    const TreeItem picture = PictureOf(tree, from);
    const auto at = std::find(pictures.begin(), pictures.end(), picture);
    return at == pictures.end() ? -1 : static_cast<int>(at - pictures.begin());
}

}  // namespace

TreeItem NextIntraPicture(const TreeStore& tree, const CStreamState& stream, TreeItem from,
                          int step) {
    const std::vector<TreeItem> pictures = AllPictures(tree, stream);
    int k = IndexOf(tree, pictures, from);
    if (k < 0) k = step > 0 ? -1 : static_cast<int>(pictures.size());
    for (k += step; k >= 0 && k < static_cast<int>(pictures.size()); k += step) {
        const auto r = stream.pictureRecords.find(pictures[k]);
        // The first field of an I frame; its second field is the next picture.
        if (r != stream.pictureRecords.end() && r->second.picture_coding_type == kPictureI &&
            !r->second.secondField)
            return pictures[k];
    }
    return 0;
}

TreeItem NextGopPicture(const TreeStore& tree, const CStreamState& stream, TreeItem from,
                        int step) {
    std::vector<TreeItem> gops;
    for (TreeItem c = tree.GetChildItem(stream.videoItem); c; c = tree.GetNextSiblingItem(c))
        if (tree.GetItemData(c) == kind::kGop) gops.push_back(c);
    const TreeItem picture = PictureOf(tree, from);
    const TreeItem gop = picture ? tree.GetParentItem(picture) : 0;
    int k = static_cast<int>(std::find(gops.begin(), gops.end(), gop) - gops.begin());
    if (k == static_cast<int>(gops.size())) k = step > 0 ? -1 : k;
    for (k += step; k >= 0 && k < static_cast<int>(gops.size()); k += step)
        for (TreeItem p = tree.GetChildItem(gops[k]); p; p = tree.GetNextSiblingItem(p))
            if (tree.GetItemData(p) == kind::kPicture) return p;
    return 0;
}

TreeItem PictureByNumber(const TreeStore& tree, const CStreamState& stream, int n,
                         bool displayOrder) {
    std::vector<TreeItem> pictures = AllPictures(tree, stream);
    if (displayOrder) {
        // Within each GOP by temporal_reference; the GOPs stay in stream order.
        auto begin = pictures.begin();
        while (begin != pictures.end()) {
            const TreeItem gop = tree.GetParentItem(*begin);
            auto end = std::find_if(begin, pictures.end(),
                                    [&](TreeItem p) { return tree.GetParentItem(p) != gop; });
            std::stable_sort(begin, end, [&](TreeItem a, TreeItem b) {
                const auto ra = stream.pictureRecords.find(a), rb = stream.pictureRecords.find(b);
                const int ta =
                    ra == stream.pictureRecords.end() ? 0 : ra->second.temporal_reference;
                const int tb =
                    rb == stream.pictureRecords.end() ? 0 : rb->second.temporal_reference;
                return ta < tb;
            });
            begin = end;
        }
    }
    if (n < 1 || n > static_cast<int>(pictures.size())) return 0;
    return pictures[static_cast<size_t>(n - 1)];
}

}  // namespace bitloupe
