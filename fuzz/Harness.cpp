#include "Harness.h"

#include <vector>

#include "decode/PictureDecoder.h"
#include "engine/Host.h"
#include "engine/StreamState.h"
#include "engine/SyntaxParser.h"
#include "engine/TreeStore.h"

namespace bitloupe::fuzz {

namespace {

// Pictures whose sequence claims more than this on either side are left undecoded: their
// planes alone would take most of the memory a fuzzer allows.
constexpr uint32_t kMaxDecodedSide = 8192;

// The engine as the command-line tool wires it, parsing on the calling thread.
struct Engine {
    TreeStore tree;
    CStreamState stream;
    RecordingHost host;
    ParseDialog dialog;
    RecordingPoster poster;
    CSyntaxParser parser{stream, tree, host, dialog, poster};

    Engine() { dialog.visible = false; }

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
    for (uint8_t type : {display_type::kAuto, display_type::kRaw, display_type::kDiff0,
                         display_type::kDiff1, display_type::kNull}) {
        for (TreeItem picture : pictures) {
            if (e.TooLargeToDecode(picture)) continue;
            decoder.displayType = type;
            decoder.DecodePicture(picture, true);
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
