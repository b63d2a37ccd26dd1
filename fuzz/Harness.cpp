#include "Harness.h"

#include <vector>

#include "core/base/Host.h"
#include "core/decode/PictureDecoder.h"
#include "core/session/HeadlessEngine.h"
#include "core/session/SyntaxParser.h"
#include "core/syntax/StreamState.h"
#include "core/tree/TreeStore.h"

namespace bitloupe::fuzz {

namespace {

// Pictures whose sequence claims more than this on either side are left undecoded: their
// planes alone would take most of the memory a fuzzer allows.
constexpr uint32_t kMaxDecodedSide = 8192;
// The tree may take this many 2 MiB blocks (1 GiB); beyond, the parse ends with "Out of
// memory!" as on a machine without more, which keeps a harness run within 4 GB with the
// records and the sanitizers' own memory.
constexpr size_t kTreeBlocks = 512;
// Drawing a picture takes time in proportion to its size, whatever the file holds for it, so
// the pictures of one input are drawn up to this many samples in all (four of 8192x8192);
// decoding into the stores, in proportion to the coded data, goes on for every picture.
constexpr uint64_t kDrawnSamples = uint64_t{4} * 8192 * 8192;

// The engine as the command-line tool wires it, parsing on the calling thread.
struct Engine : HeadlessEngine {
    Engine() { tree.SetBlockLimit(kTreeBlocks); }

    bool Open(const uint8_t* data, size_t size) {
        return parser.OpenMemory(data, size, "fuzz input");
    }
    bool IsProgramStream() const { return stream.streamType == kProgramStream; }
    void Parse(int mode) {
        dialog.mode = mode;
        dialog.BeginParse();
        if (IsProgramStream() && mode == kModeProgramStreamOnly)
            parser.ParseSystemStream();
        else
            parser.ParseVideoStream();
    }
    // The parse that reaches the pictures: both layers of a program stream, else the video.
    void ParseForPictures() { Parse(IsProgramStream() ? kModeBoth : kModeVideoOnly); }

    // The picture items in stream order: children of the video root or of its GOP items.
    std::vector<TreeItem> Pictures() const {
        std::vector<TreeItem> out;
        if (!stream.videoItem) return out;
        for (TreeItem c = tree.GetChildItem(stream.videoItem); c; c = tree.GetNextSiblingItem(c)) {
            const uint32_t data = tree.GetItemData(c);
            if (data == kind::kPicture) out.push_back(c);
            if (data == kind::kGop)
                for (TreeItem p = tree.GetChildItem(c); p; p = tree.GetNextSiblingItem(p))
                    if (tree.GetItemData(p) == kind::kPicture) out.push_back(p);
        }
        return out;
    }
    // The picture's coded size in samples (0 without a sequence).
    uint64_t Samples(TreeItem picture) const {
        const auto it = stream.pictureRecords.find(picture);
        if (it == stream.pictureRecords.end()) return 0;
        const uint32_t s = it->second.sequence;
        if (s == 0 || s > stream.sequenceRecords.size()) return 0;
        const SequenceParameters& seq = stream.sequenceRecords[s - 1];
        return uint64_t(seq.codedWidth > 0 ? seq.codedWidth : 0) *
               uint64_t(seq.codedHeight > 0 ? seq.codedHeight : 0);
    }
    bool TooLargeToDecode(TreeItem picture) const {
        const auto it = stream.pictureRecords.find(picture);
        if (it == stream.pictureRecords.end()) return false;
        const uint32_t s = it->second.sequence;
        if (s == 0 || s > stream.sequenceRecords.size()) return false;
        const SequenceParameters& seq = stream.sequenceRecords[s - 1];
        return seq.horizontal_size > kMaxDecodedSide || seq.vertical_size > kMaxDecodedSide;
    }
};

}  // namespace

int FuzzParse(const uint8_t* data, size_t size) {
    Engine probe;
    if (!probe.Open(data, size)) return 0;
    probe.Parse(kModeVideoOnly);
    if (!probe.IsProgramStream()) return 0;
    for (int mode : {kModeProgramStreamOnly, kModeBoth}) {
        Engine e;
        if (e.Open(data, size)) e.Parse(mode);
    }
    return 0;
}

int FuzzMacroblocks(const uint8_t* data, size_t size) {
    Engine e;
    if (!e.Open(data, size)) return 0;
    e.ParseForPictures();
    for (TreeItem picture : e.Pictures()) e.parser.macroblocks.ParseMacroblocksOfPicture(picture);
    return 0;
}

int FuzzDecode(const uint8_t* data, size_t size) {
    Engine e;
    if (!e.Open(data, size)) return 0;
    e.ParseForPictures();
    const std::vector<TreeItem> pictures = e.Pictures();
    PictureDecoder& decoder = e.parser.decoder;
    // Into the stores only, as the command-line tool decodes references and frames.
    for (TreeItem picture : pictures)
        if (!e.TooLargeToDecode(picture)) decoder.DecodeIntoStores(picture);
    // Drawn, each picture in the next display type, and the first one again in every type as
    // a change of the display type box draws it.
    constexpr uint8_t kTypes[] = {display_type::kAuto, display_type::kRaw, display_type::kDiff0,
                                  display_type::kDiff1, display_type::kNull};
    uint64_t drawn = 0;
    for (size_t i = 0; i < pictures.size(); ++i) {
        if (e.TooLargeToDecode(pictures[i])) continue;
        drawn += e.Samples(pictures[i]) * (i == 0 ? 6 : 1);
        if (drawn > kDrawnSamples) break;
        decoder.displayType = kTypes[i % 5];
        decoder.DecodePicture(pictures[i], true);
        if (i == 0)
            for (uint8_t type : kTypes) {
                decoder.displayType = type;
                decoder.DecodePicture(pictures[i], false);
            }
    }
    return 0;
}

int FuzzPayload(const uint8_t* data, size_t size) {
    for (int mode : {kModeProgramStreamOnly, kModeBoth}) {
        Engine e;
        if (!e.Open(data, size) || !e.IsProgramStream()) return 0;
        e.Parse(mode);
        std::vector<TreeItem> items;
        e.stream.payloadSizes.ForEach([&](const auto& entry) { items.push_back(entry.first); });
        for (TreeItem item : items) e.parser.system.ParsePacketPayload(item);
    }
    return 0;
}

}  // namespace bitloupe::fuzz
