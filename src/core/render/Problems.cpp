#include "core/render/Problems.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "core/render/PictureFacts.h"
#include "core/syntax/VideoTables.h"
#include "core/tree/ItemKinds.h"
#include "core/tree/ItemLookup.h"

namespace bitloupe {

const char* SeverityName(Severity s) {
    switch (s) {
        case Severity::kNote:
            return "note";
        case Severity::kWarning:
            return "warning";
        default:
            return "error";
    }
}

const std::vector<ProblemCode>& ProblemCodes() {
    using enum Severity;
    static const std::vector<ProblemCode> codes = {
        {"marker-bit", kError, "a marker bit is 0"},
        {"forbidden-value", kError, "a field holds a forbidden or reserved value"},
        {"fixed-bits", kError, "fixed bits of the syntax hold other values"},
        {"picture-type", kError, "a picture type the stream's standard does not have"},
        {"stuffing-byte", kError, "a PES header's stuffing byte is not 0xFF"},
        {"end-of-macroblock", kError, "a D picture's end_of_macroblock bit is 0"},
        {"forbidden-level", kError, "an escaped coefficient level that is forbidden"},
        {"mb-syntax", kError, "the macroblock data breaks the syntax (no VLC matches, ...)"},
        {"mb-truncated", kError, "the data ends inside a macroblock"},
        {"pes-truncated", kError, "the file ends inside a PES packet"},
        {"pes-length", kError, "packet_length does not lead to the next start code"},
        {"pes-header-overrun", kError, "a PES header runs past packet_length"},
        {"syntax-error", kError, "any other error item of the parse"},
        {"temporal-ref-gap", kWarning, "a GOP's temporal_references leave a number out"},
        {"temporal-ref-repeat", kWarning, "two frames of a GOP share a temporal_reference"},
        {"no-reference", kError, "a P or B picture without the reference it predicts from"},
        {"open-gop-start", kWarning,
         "B pictures of an open GOP that opens the stream: no forward reference, decoded from "
         "the backward one alone"},
        {"closed-gop-forward", kError,
         "a B picture of a closed GOP shown before its I picture predicts forward"},
        {"field-pair", kError, "a field picture without its opposite field"},
        {"sequence-change", kWarning,
         "the sequence's size or frame rate changes without a sequence end code"},
        {"level-limit", kError, "a size, rate, buffer or f_code beyond the signalled level"},
        {"profile-chroma", kError, "a chroma format the signalled profile does not allow"},
        {"mb-address", kError, "a macroblock address goes backwards or leaves the picture"},
        {"mbs-missing", kWarning, "macroblocks of a picture that no slice codes"},
        {"skipped-in-intra", kError, "an I picture holds skipped macroblocks"},
        {"rows-uncovered", kWarning, "macroblock rows of a picture without a slice"},
        {"vbv-underflow", kError, "the decoder buffer lacks the picture's bits when it is due"},
        {"vbv-overflow", kError, "the decoder buffer holds more than its size"},
        {"vbv-delay", kNote, "a picture's vbv_delay and the buffer model differ by over 1 %"},
        {"scr-backwards", kError, "a pack's SCR is below the one before"},
        {"scr-gap", kWarning, "packs' SCRs more than 0.7 s apart"},
        {"pts-backwards", kWarning, "the video's PTS goes back in stream order past reordering"},
        {"dts-after-pts", kError, "a packet's DTS is later than its PTS"},
        {"stream-unannounced", kWarning, "packets of a stream the system header did not list"},
    };
    return codes;
}

namespace {

Severity SeverityOf(const char* code) {
    for (const ProblemCode& c : ProblemCodes())
        if (std::strcmp(c.code, code) == 0) return c.severity;
    return Severity::kError;
}

// A code's place in the table: problems at one offset are listed in the table's order.
size_t CodeRank(const std::string& code) {
    const std::vector<ProblemCode>& codes = ProblemCodes();
    for (size_t i = 0; i < codes.size(); ++i)
        if (code == codes[i].code) return i;
    return codes.size();
}

// The list's order: by offset, then code, picture, item and message, so a list found in many
// updates is the list found in one.
bool ListedBefore(const Problem& a, const Problem& b) {
    if (a.offset != b.offset) return a.offset < b.offset;
    const size_t ra = CodeRank(a.code), rb = CodeRank(b.code);
    if (ra != rb) return ra < rb;
    if (a.picture != b.picture) return a.picture < b.picture;
    if (a.item != b.item) return a.item < b.item;
    return a.message < b.message;
}

struct PacketFacts {
    TreeItem item = 0;
    int64_t pts = -1, dts = -1, id = -1;
};

}  // namespace

// What the checks carry from one update to the next.
struct ProblemFinder::State {
    // Error items.
    size_t flaggedMark = 0;
    std::unordered_set<TreeItem> seenFlagged;
    std::unordered_set<TreeItem> above;     // ancestors of the error items seen
    std::unordered_set<TreeItem> reported;  // error items listed as problems
    // Pictures and GOPs.
    std::unordered_map<TreeItem, uint32_t> pictureNumbers;
    size_t picturesDone = 0;
    bool seenReference = false;
    uint32_t gopsDone = 0;
    uint32_t lastSequence = 0;  // the sequence record of the last picture checked (from 1)
    std::set<std::string> levelMessages;
    bool profileChroma = false;
    TreeItem firstSequenceItem = 0;
    // The system layer.
    TreeItem lastPack = 0;  // the last top-level item of the system layer walked
    std::set<int64_t> announced;
    bool haveSystemHeader = false;
    int64_t lastScr = -1;
    std::set<int> unannounced;
    int64_t videoId = -1;  // the first video stream's
    int64_t lastPts = -1;
};

namespace {

class Finder {
  public:
    using State = ProblemFinder::State;
    Finder(const TreeStore& tree, const CStreamState& stream, const StreamStats& stats,
           State& state)
        : tree_(tree), stream_(stream), stats_(stats), st_(state) {
        for (size_t i = st_.pictureNumbers.size(); i < stats.pictures.size(); ++i)
            st_.pictureNumbers[stats.pictures[i].item] = stats.pictures[i].number;
    }

    void Run(size_t settled, bool ended) {
        ErrorItems();
        Pictures(settled, ended);
        if (ended && st_.lastSequence == 0 && stream_.videoVersion == kMpeg2 &&
            stream_.counters.sequenceHeaderCount)
            Level(stream_, FirstSequenceItem(), 0);  // its sequence came without a picture
        SystemLayer(ended);
    }

    // The checks of one picture that read its macroblocks, with the error items flagged since.
    void RunMacroblocks(size_t index) {
        ErrorItems();
        const PictureStats& p = stats_.pictures[index];
        Macroblocks(p, stream_.videoVersion == kMpeg2);
        ClosedGopForward(p, index);
    }

    std::vector<Problem>& Found() { return out_; }
    const std::vector<TreeItem>& Superseded() const { return superseded_; }

  private:
    void Add(const char* code, std::string message, TreeItem item, uint32_t picture = 0) {
        Problem p;
        p.code = code;
        p.severity = SeverityOf(code);
        p.message = std::move(message);
        p.item = item;
        // A text item that stands for no bits is placed where its parent is.
        ItemFacts r;
        for (TreeItem at = item; at && at != kTreeRoot; at = tree_.GetParentItem(at)) {
            if (!ItemRange(tree_, at, r)) continue;
            p.offset = r.start / 8;
            break;
        }
        p.picture = picture ? picture : PictureNumberOf(item);
        out_.push_back(std::move(p));
    }

    uint32_t PictureNumberOf(TreeItem item) const {
        const TreeItem picture = item ? PictureOf(tree_, item) : 0;
        const auto it = st_.pictureNumbers.find(picture);
        return it == st_.pictureNumbers.end() ? 0 : it->second;
    }

    // --- the parse's error items ---

    static const char* CodeOfText(const std::string& t) {
        if (t.starts_with("marker_bit=0")) return "marker-bit";
        if (t.starts_with("Macroblock parsing stopped: the data ends")) return "mb-truncated";
        if (t.starts_with("Macroblock parsing stopped")) return "mb-syntax";
        if (t.starts_with("Packet cut short")) return "pes-truncated";
        if (t.starts_with("No start code after the payload")) return "pes-length";
        if (t.find("past packet_length") != std::string::npos) return "pes-header-overrun";
        if (t.starts_with("stuffing_byte=")) return "stuffing-byte";
        if (t.starts_with("end_of_macroblock=")) return "end-of-macroblock";
        if (t.starts_with("level=forbidden")) return "forbidden-level";
        if (t.starts_with("picture_coding_type=")) return "picture-type";
        if (t.find("forbidden") != std::string::npos || t.find("=reserved") != std::string::npos)
            return "forbidden-value";
        // Fixed bits are listed as their bits alone: "00B (2 bits)".
        const size_t b = t.find_first_not_of("01");
        if (t.find("must be") != std::string::npos ||
            (b > 0 && b != std::string::npos && t[b] == 'B'))
            return "fixed-bits";
        return "syntax-error";
    }

    // The deepest items with the error image: a packet flagged with its reason is one problem.
    // An item flagged below one already listed takes its place.
    void ErrorItems() {
        for (TreeItem item : tree_.FlaggedItemsFrom(st_.flaggedMark)) {
            if (!st_.seenFlagged.insert(item).second) continue;
            if (st_.above.count(item)) continue;  // an item below it is listed
            for (TreeItem up = tree_.GetParentItem(item); up && up != kTreeRoot;
                 up = tree_.GetParentItem(up)) {
                if (st_.reported.erase(up)) superseded_.push_back(up);
                if (!st_.above.insert(up).second) break;
            }
            if (KindOf(tree_.GetItemData(item)) == ItemKind::BlockError) continue;  // why: below
            st_.reported.insert(item);
            const std::string text = tree_.GetItemText(item);
            Add(CodeOfText(text), text, item);
        }
    }

    // --- pictures, GOPs and references ---

    void Pictures(size_t settled, bool ended) {
        const bool mpeg2 = stream_.videoVersion == kMpeg2;
        const std::vector<PictureStats>& pictures = stats_.pictures;
        // A picture is checked once the one after it is settled too (a field against its
        // pair), or when nothing more comes.
        const size_t checked = ended && settled == pictures.size() ? settled
                               : settled                           ? settled - 1
                                                                   : 0;
        for (size_t i = st_.picturesDone; i < checked; ++i) {
            const PictureStats& p = pictures[i];
            const auto rec = stream_.pictureRecords.find(p.item);
            if (rec != stream_.pictureRecords.end() && rec->second.sequence > st_.lastSequence) {
                SequenceBegins(rec->second.sequence, p);
                st_.lastSequence = rec->second.sequence;
            }
            // Field pairs: a first field is followed by the opposite field of the same frame.
            const bool field =
                p.structure == video_tables::kTopField || p.structure == video_tables::kBottomField;
            const bool second = rec != stream_.pictureRecords.end() && rec->second.secondField;
            if (field && !second) {
                const PictureStats* next = i + 1 < pictures.size() ? &pictures[i + 1] : nullptr;
                if (!next || next->temporalReference != p.temporalReference ||
                    next->structure == p.structure ||
                    next->structure == video_tables::kFramePicture)
                    Add("field-pair",
                        "This field is not followed by the opposite field of its frame", p.item,
                        p.number);
            }
            References(p, i);
            if (p.type == video_tables::kPictureI || p.type == video_tables::kPictureP)
                st_.seenReference = true;
            Macroblocks(p, mpeg2);
            FCodes(p);
            Buffer(p);
        }
        st_.picturesDone = std::max(st_.picturesDone, checked);
        // A GOP's numbering is checked once all its pictures are settled: a later GOP has a
        // settled picture, or nothing more comes.
        const uint32_t lastSettledGop = checked ? pictures[checked - 1].gop : 0;
        while (st_.gopsDone < stats_.gops.size()) {
            const GopStats& g = stats_.gops[st_.gopsDone];
            const bool complete = g.number < lastSettledGop || checked == pictures.size();
            if (!complete) break;
            std::vector<const PictureStats*> members;
            for (uint32_t k = 0; k < g.pictures; ++k) {
                const size_t at = g.firstPicture - 1 + k;
                if (at < pictures.size()) members.push_back(&pictures[at]);
            }
            TemporalReferences(g.number, members);
            ++st_.gopsDone;
        }
    }

    void References(const PictureStats& p, size_t index) {
        const auto r = stream_.predictionFrames.find(p.item);
        const PredictionFramesRecord none;
        const PredictionFramesRecord& refs = r == stream_.predictionFrames.end() ? none : r->second;
        const bool forward = refs.forward_frames[0] || refs.forward_frames[1];
        const bool backward = refs.backward_frames[0] || refs.backward_frames[1];
        if (p.type == video_tables::kPictureP && !forward) {
            Add("no-reference", "A P picture with no I or P picture before it to predict from",
                p.item, p.number);
        } else if (p.type == video_tables::kPictureB) {
            if (!backward) {
                Add("no-reference", "A B picture with no backward reference", p.item, p.number);
            } else if (!forward && !Closed(p.gop)) {
                if (!st_.seenReference || stats_.pictures.front().gop == p.gop)
                    Add("open-gop-start",
                        "A B picture of the open GOP that opens the stream: it has no forward "
                        "reference and is decoded from the backward one alone",
                        p.item, p.number);
                else
                    Add("no-reference", "A B picture with no forward reference", p.item, p.number);
            }
            ClosedGopForward(p, index);
        }
    }

    // B pictures shown before the I picture of a closed GOP may not look back.
    void ClosedGopForward(const PictureStats& p, size_t index) {
        if (p.type == video_tables::kPictureB && Closed(p.gop) && p.macroblocksParsed &&
            (p.forward || p.interpolated) && ShownBeforeGopIntra(p, index))
            Add("closed-gop-forward",
                "A B picture of a closed GOP, shown before its I picture, predicts from before "
                "the GOP",
                p.item, p.number);
    }

    bool Closed(uint32_t gop) const {
        return gop >= 1 && gop <= stats_.gops.size() && stats_.gops[gop - 1].closed;
    }

    // Whether the B picture is shown before the first I picture of its GOP that comes before
    // it in the stream (the one it is decoded after).
    bool ShownBeforeGopIntra(const PictureStats& b, size_t index) const {
        for (size_t i = 0; i < index; ++i) {
            const PictureStats& p = stats_.pictures[i];
            if (p.gop == b.gop && p.type == video_tables::kPictureI)
                return b.temporalReference < p.temporalReference;
        }
        return false;
    }

    void TemporalReferences(uint32_t gop, const std::vector<const PictureStats*>& pictures) {
        if (!gop) return;  // pictures before any GOP header have no numbering to keep
        std::map<uint16_t, const PictureStats*> seen;
        for (const PictureStats* p : pictures) {
            // The second field of a frame shares its number; a frame picture never does.
            const auto rec = stream_.pictureRecords.find(p->item);
            if (rec != stream_.pictureRecords.end() && rec->second.secondField &&
                p->structure != video_tables::kFramePicture)
                continue;
            const auto [it, added] = seen.emplace(p->temporalReference, p);
            if (!added) {
                char text[128];
                std::snprintf(text, sizeof text,
                              "temporal_reference %u again in GOP #%u (pictures %u and %u)",
                              p->temporalReference, gop, it->second->number, p->number);
                Add("temporal-ref-repeat", text, p->item, p->number);
            }
        }
        uint16_t expected = 0;
        for (const auto& [tr, p] : seen) {
            if (tr != expected) {
                char text[128];
                std::snprintf(text, sizeof text,
                              "GOP #%u has no frame with temporal_reference %u (the next is %u)",
                              gop, expected, tr);
                Add("temporal-ref-gap", text, p->item, p->number);
            }
            expected = static_cast<uint16_t>(tr + 1);
        }
    }

    // The sequence parameters a picture was coded with (the stream's last ones when unknown).
    const SequenceParameters& Sequence(const PictureStats& p) const {
        const auto rec = stream_.pictureRecords.find(p.item);
        const SequenceParameters* own =
            rec == stream_.pictureRecords.end() ? nullptr : stream_.SequenceOf(rec->second);
        return own ? *own : stream_;
    }

    void Macroblocks(const PictureStats& p, bool mpeg2) {
        const auto coding = stream_.pictureCodingRecords.find(p.item);
        const int32_t rows =
            Sequence(p).mbHeight / (p.structure == video_tables::kFramePicture ? 1 : 2);
        // Rows without a slice, macroblocks parsed or not.
        std::vector<bool> covered(static_cast<size_t>(std::max(rows, 0)));
        for (TreeItem s = tree_.GetChildItem(p.item); s; s = tree_.GetNextSiblingItem(s)) {
            const auto r = stream_.sliceRecords.find(s);
            if (r == stream_.sliceRecords.end()) continue;
            const uint32_t row = r->second.header.slice_vertical_position;
            if (row >= 1 && row <= covered.size()) covered[row - 1] = true;
        }
        // (An MPEG-1 slice may run over several rows: there only the macroblocks can tell.)
        const auto uncovered = std::count(covered.begin(), covered.end(), false);
        if (mpeg2 && p.slices && uncovered) {
            char text[96];
            std::snprintf(text, sizeof text, "%d of %d macroblock rows have no slice",
                          static_cast<int>(uncovered), rows);
            Add("rows-uncovered", text, p.item, p.number);
        }
        if (!p.macroblocksParsed) return;
        if (p.type == video_tables::kPictureI && p.skipped) {
            char text[96];
            std::snprintf(text, sizeof text, "The I picture holds %u skipped macroblocks",
                          p.skipped);
            Add("skipped-in-intra", text, p.item, p.number);
        }
        const uint32_t expected = coding != stream_.pictureCodingRecords.end()
                                      ? coding->second.mbsInPicture
                                      : static_cast<uint32_t>(std::max(Sequence(p).mbCount, 0));
        uint32_t listed = 0;
        // Within a slice addresses rise; a slice begins past the start of the one before (a
        // slice broken by damage may have claimed addresses the next one takes again).
        int64_t previousFirst = -1;
        for (TreeItem s = tree_.GetChildItem(p.item); s; s = tree_.GetNextSiblingItem(s)) {
            if (KindOf(tree_.GetItemData(s)) != ItemKind::Slice) continue;
            int64_t last = -1;
            bool first = true;
            for (TreeItem m = tree_.GetChildItem(s); m; m = tree_.GetNextSiblingItem(m)) {
                const auto r = stream_.macroblockRecords.find(m);
                if (r == stream_.macroblockRecords.end()) continue;
                ++listed;
                const int64_t address = r->second.macroblock_address;
                if (std::exchange(first, false)) {
                    if (address <= previousFirst) {
                        char text[128];
                        std::snprintf(text, sizeof text,
                                      "The slice begins at macroblock %" PRId64
                                      ", not past the slice before (from %" PRId64 ")",
                                      address, previousFirst);
                        Add("mb-address", text, m, p.number);
                    }
                    previousFirst = address;
                    last = address - 1;  // the first is checked against the picture below
                }
                if (address <= last || (expected && address >= expected)) {
                    char text[128];
                    std::snprintf(text, sizeof text,
                                  "macroblock_address %" PRId64 " %s (the one before: %" PRId64 ")",
                                  address, address <= last ? "goes back" : "lies past the picture",
                                  last);
                    Add("mb-address", text, m, p.number);
                }
                last = std::max(last, address);
            }
        }
        if (expected && listed < expected) {
            char text[128];
            std::snprintf(text, sizeof text,
                          "%u of the picture's %u macroblocks are never coded (no slice reaches "
                          "them)",
                          expected - listed, expected);
            Add("mbs-missing", text, p.item, p.number);
        }
    }

    // --- the sequence: changes and the level's limits ---

    // The first settled picture of sequence record `sequence` (from 1): the parameters change
    // from the record before, and they keep the level's limits.
    void SequenceBegins(uint32_t sequence, const PictureStats& p) {
        const std::vector<SequenceParameters>& seqs = stream_.sequenceRecords;
        if (sequence < 1 || sequence > seqs.size()) return;
        const SequenceParameters& b = seqs[sequence - 1];
        if (sequence >= 2) {
            const SequenceParameters& a = seqs[sequence - 2];
            if ((a.horizontal_size != b.horizontal_size || a.vertical_size != b.vertical_size ||
                 a.frame_rate_code != b.frame_rate_code) &&
                !EndCodeBefore(p.item)) {
                char text[160];
                std::snprintf(text, sizeof text,
                              "The sequence changes from %ux%u to %ux%u (frame rate code %u to %u) "
                              "without a sequence end code",
                              a.horizontal_size, a.vertical_size, b.horizontal_size,
                              b.vertical_size, a.frame_rate_code, b.frame_rate_code);
                Add("sequence-change", text, p.item, p.number);
            }
        }
        if (stream_.videoVersion != kMpeg2) return;
        // The first sequence's limits are told at its header, a later one's at its first picture.
        if (sequence == 1)
            Level(b, FirstSequenceItem(), 0);
        else
            Level(b, p.item, p.number);
    }

    bool EndCodeBefore(TreeItem picture) const {
        // An end code item under the video root before the picture's GOP (or the picture).
        TreeItem top = picture;
        while (top && tree_.GetParentItem(top) != stream_.videoItem) top = tree_.GetParentItem(top);
        for (TreeItem s = tree_.GetPrevSiblingItem(top); s; s = tree_.GetPrevSiblingItem(s)) {
            const std::string t = tree_.GetItemText(s);
            if (t.starts_with("EOVS")) return true;
            if (t.starts_with("Sequence Header")) continue;
            if (t.starts_with("GOP") || t.find("Picture #") != std::string::npos) return false;
        }
        return false;
    }

    struct LevelLimits {
        int level;
        uint32_t width, height;
        double frameRate;
        uint64_t bitRate, vbvBits;
        int fHorizontal, fVertical;
    };

    static const LevelLimits* LimitsOf(int profileAndLevel) {
        static constexpr LevelLimits kLimits[] = {
            {10, 352, 288, 30, 4000000, 475136, 7, 4},
            {8, 720, 576, 30, 15000000, 1835008, 8, 5},
            {6, 1440, 1152, 60, 60000000, 7340032, 9, 5},
            {4, 1920, 1152, 60, 80000000, 9781248, 9, 5},
        };
        if (profileAndLevel >> 7) return nullptr;  // escaped: the 4:2:2 and multi-view profiles
        for (const LevelLimits& l : kLimits)
            if (l.level == (profileAndLevel & 15)) return &l;
        return nullptr;
    }

    // A sequence's parameters against its profile and level; each broken limit is told once.
    void Level(const SequenceParameters& q, TreeItem at, uint32_t picture) {
        const int pl = q.profile_and_level_indication;
        if (pl >> 7) return;
        const int profile = (pl >> 4) & 7;
        if ((profile == 4 || profile == 5) && q.chroma_format != 1 && !st_.profileChroma) {
            st_.profileChroma = true;
            Add("profile-chroma", "The Main and Simple profiles allow 4:2:0 chroma only", at,
                picture);
        }
        const LevelLimits* lim = LimitsOf(pl);
        if (!lim) return;
        char text[160];
        auto over = [&](const char* what, double value, double limit) {
            if (value <= limit) return;
            std::snprintf(text, sizeof text, "%s %.0f exceeds the level's %.0f", what, value,
                          limit);
            if (st_.levelMessages.insert(text).second) Add("level-limit", text, at, picture);
        };
        over("horizontal_size", q.horizontal_size, lim->width);
        over("vertical_size", q.vertical_size, lim->height);
        over("frame rate", FrameRateOf(q), lim->frameRate + 0.01);
        // All ones: no bit rate given (a variable rate).
        if (q.bit_rate_value != 0x3FFFF)
            over("bit rate", q.bitRate, static_cast<double>(lim->bitRate));
        over("vbv_buffer_size (bits)", q.vbvSize * 1024.0, static_cast<double>(lim->vbvBits));
    }

    // A picture's f_codes against the level of its sequence.
    void FCodes(const PictureStats& p) {
        if (stream_.videoVersion != kMpeg2) return;
        const LevelLimits* lim = LimitsOf(Sequence(p).profile_and_level_indication);
        const auto c = stream_.pictureCodingRecords.find(p.item);
        if (!lim || c == stream_.pictureCodingRecords.end()) return;
        for (int s = 0; s < 2; ++s) {
            const int h = c->second.f_code[s][0], v = c->second.f_code[s][1];
            if ((h != 15 && h > lim->fHorizontal) || (v != 15 && v > lim->fVertical)) {
                char text[160];
                std::snprintf(text, sizeof text,
                              "f_code[%d] = (%d, %d) exceeds the level's (%d, %d)", s, h, v,
                              lim->fHorizontal, lim->fVertical);
                Add("level-limit", text, p.item, p.number);
            }
        }
    }

    TreeItem FirstSequenceItem() {
        if (st_.firstSequenceItem) return st_.firstSequenceItem;
        for (TreeItem c = tree_.GetChildItem(stream_.videoItem); c; c = tree_.GetNextSiblingItem(c))
            if (tree_.GetItemText(c).starts_with("Sequence Header"))
                return st_.firstSequenceItem = c;
        return stream_.videoItem;
    }

    // --- the decoder buffer ---

    void Buffer(const PictureStats& p) {
        char text[160];
        if (p.underflow) {
            std::snprintf(text, sizeof text,
                          "The buffer holds %.0f bits when the picture's %" PRIu64
                          " are due (underflow)",
                          p.bufferBefore, p.bits + p.headerBits);
            Add("vbv-underflow", text, p.item, p.number);
        }
        if (p.overflow) {
            std::snprintf(text, sizeof text,
                          "The buffer would hold %.0f bits, over its %.0f (overflow)",
                          p.bufferBefore, stats_.bufferSize);
            Add("vbv-overflow", text, p.item, p.number);
        }
        if (p.disagrees) {
            std::snprintf(text, sizeof text,
                          "vbv_delay says the buffer holds %.0f bits, the model %.0f", p.stated,
                          p.bufferBefore);
            Add("vbv-delay", text, p.item, p.number);
        }
    }

    // --- the system layer: clocks, stamps and streams ---

    static bool NumberAfter(const std::string& text, const char* prefix, int64_t& value) {
        if (!text.starts_with(prefix)) return false;
        return std::sscanf(text.c_str() + std::strlen(prefix), "%" SCNd64, &value) == 1;
    }

    // The packs (top-level items) once another follows them or nothing more comes, each walked
    // once.
    void SystemLayer(bool ended) {
        if (!stream_.systemItem || !tree_.IsValid(stream_.systemItem)) return;
        TreeItem pack = st_.lastPack ? tree_.GetNextSiblingItem(st_.lastPack)
                                     : tree_.GetChildItem(stream_.systemItem);
        for (; pack; pack = tree_.GetNextSiblingItem(pack)) {
            if (!ended && !tree_.GetNextSiblingItem(pack)) break;
            Pack(pack);
            st_.lastPack = pack;
        }
    }

    // One pack: its header's clock, a system header's streams, and its packets (one walk: the
    // pack's children at depth 1, their fields at 2).
    void Pack(TreeItem pack) {
        ItemKind parentKind = ItemKind::None;
        TreeItem parent = 0;
        PacketFacts packet;
        auto finishPacket = [&] {
            if (packet.item) Packet(packet);
            packet = PacketFacts();
        };
        tree_.ForEachDescendant(pack, [&](TreeItem item, int depth, int, uint32_t data) {
            if (depth == 1) {
                finishPacket();
                parentKind = KindOf(data);
                parent = item;
                if (parentKind == ItemKind::SystemHeader) st_.haveSystemHeader = true;
                if (parentKind == ItemKind::PesPacket) packet.item = item;
                return;
            }
            if (depth != 2) return;
            // The clock and the stamps are worked-out (virtual) items; fields are not made
            // text, but for a system header's few stream entries.
            const bool worked = IsVirtual(data);
            if (parentKind == ItemKind::PackHeader && worked) {
                int64_t scr = 0;
                const std::string t = tree_.GetItemText(item);
                if (!NumberAfter(t, "system_clock_reference(SCR)=", scr)) return;
                // MPEG-1 packs count 90 kHz, MPEG-2 ones 27 MHz.
                const int64_t ticks = t.find("(42 bits)") != std::string::npos ? scr : scr * 300;
                if (st_.lastScr >= 0 && ticks < st_.lastScr)
                    Add("scr-backwards", "The SCR goes back from the pack before", parent);
                else if (st_.lastScr >= 0 && ticks - st_.lastScr > 27000000 * 7 / 10)
                    Add("scr-gap", "More than 0.7 s of SCR since the pack before", parent);
                st_.lastScr = ticks;
            } else if (parentKind == ItemKind::SystemHeader) {
                ItemFacts facts;
                if (tree_.GetItemText(item).starts_with("stream_id=") &&
                    tree_.GetItemFacts(item, facts) && facts.hasValue)
                    st_.announced.insert(facts.value);
            } else if (parentKind == ItemKind::PesPacket) {
                if (!worked) {
                    // The stream_id: the packet's first field of one byte.
                    ItemFacts facts;
                    if (packet.id < 0 && tree_.GetItemFacts(item, facts) && facts.hasValue &&
                        facts.bits == 8)
                        packet.id = facts.value;
                    return;
                }
                const std::string t = tree_.GetItemText(item);
                int64_t v = 0;
                if (NumberAfter(t, "PTS=", v) || NumberAfter(t, "presentation_time_stamp(PTS)=", v))
                    packet.pts = v;
                if (NumberAfter(t, "DTS=", v) || NumberAfter(t, "decoding_time_stamp(DTS)=", v))
                    packet.dts = v;
            }
        });
        finishPacket();
    }

    void Packet(const PacketFacts& f) {
        const TreeItem packet = f.item;
        const int64_t pts = f.pts, dts = f.dts, id = f.id;
        if (pts >= 0 && dts > pts)
            Add("dts-after-pts", "The packet's DTS is later than its PTS", packet);
        // The video stream the parse follows is the first one; its stamps go forward.
        // Reordering moves a picture's stamp back by a few periods; more is a jump back, told
        // once: the stamps after it are read against it.
        if (st_.videoId < 0 && id >= 0xE0 && id <= 0xEF) st_.videoId = id;
        if (id == st_.videoId && pts >= 0) {
            if (st_.lastPts >= 0 && pts + 90000 < st_.lastPts) {
                Add("pts-backwards", "The video's PTS goes back by over a second", packet);
                st_.lastPts = pts;
            } else {
                st_.lastPts = std::max(st_.lastPts, pts);
            }
        }
        // Padding and the map need no announcement; every other stream does, once reported.
        // 0xB8 in the header stands for every audio stream, 0xB9 for every video stream.
        const auto& announced = st_.announced;
        const bool wildcard = (id >= 0xC0 && id <= 0xDF && announced.count(0xB8)) ||
                              (id >= 0xE0 && id <= 0xEF && announced.count(0xB9));
        if (st_.haveSystemHeader && id >= 0xBD && id != 0xBE && !announced.count(id) && !wildcard &&
            st_.unannounced.insert(static_cast<int>(id)).second) {
            char text[96];
            std::snprintf(text, sizeof text,
                          "Packets of stream 0x%02X, which the system header does not list",
                          static_cast<unsigned>(id));
            Add("stream-unannounced", text, packet);
        }
    }

    const TreeStore& tree_;
    const CStreamState& stream_;
    const StreamStats& stats_;
    State& st_;
    std::vector<Problem> out_;
    std::vector<TreeItem> superseded_;
};

}  // namespace

ProblemFinder::ProblemFinder() : state_(std::make_unique<State>()) {}
ProblemFinder::~ProblemFinder() = default;

void ProblemFinder::Reset() {
    state_ = std::make_unique<State>();
    problems_.clear();
    ++version_;
}

void ProblemFinder::Update(const TreeStore& tree, const CStreamState& stream,
                           const StreamStats& stats, size_t settled, bool ended) {
    Finder finder(tree, stream, stats, *state_);
    finder.Run(std::min(settled, stats.pictures.size()), ended);
    Merge(tree, finder.Found(), finder.Superseded());
}

void ProblemFinder::Merge(const TreeStore& tree, std::vector<Problem>& found,
                          const std::vector<TreeItem>& superseded) {
    if (found.empty() && superseded.empty()) return;
    ++version_;
    if (!superseded.empty()) {
        // An error item that gave way to one below it: its problem has the item's own text.
        const std::unordered_set<TreeItem> gone(superseded.begin(), superseded.end());
        std::erase_if(problems_, [&](const Problem& p) {
            return gone.count(p.item) && p.message == tree.GetItemText(p.item);
        });
    }
    std::sort(found.begin(), found.end(), ListedBefore);
    const size_t middle = problems_.size();
    problems_.insert(problems_.end(), std::make_move_iterator(found.begin()),
                     std::make_move_iterator(found.end()));
    std::inplace_merge(problems_.begin(), problems_.begin() + static_cast<ptrdiff_t>(middle),
                       problems_.end(), ListedBefore);
}

void ProblemFinder::RecheckMacroblocks(const TreeStore& tree, const CStreamState& stream,
                                       const StreamStats& stats, uint32_t number) {
    static const std::set<std::string> kOfMacroblocks = {
        "rows-uncovered", "mb-address", "mbs-missing", "skipped-in-intra", "closed-gop-forward"};
    std::erase_if(problems_, [&](const Problem& p) {
        return (p.item && !tree.IsValid(p.item)) ||
               (p.picture == number && kOfMacroblocks.count(p.code));
    });
    // Only a picture already checked is checked again; a later update checks the others.
    if (number >= 1 && number <= std::min(stats.pictures.size(), state_->picturesDone)) {
        Finder finder(tree, stream, stats, *state_);
        finder.RunMacroblocks(number - 1);
        Merge(tree, finder.Found(), finder.Superseded());
    }
    ++version_;
}

std::vector<Problem> FindProblems(const TreeStore& tree, const CStreamState& stream,
                                  const StreamStats& stats) {
    ProblemFinder finder;
    finder.Update(tree, stream, stats, stats.pictures.size(), true);
    return finder.Problems();
}

}  // namespace bitloupe
