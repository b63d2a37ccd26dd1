#include "cli/DecodeCommands.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "cli/Cli.h"
#include "cli/Options.h"
#include "core/render/FrameOutput.h"
#include "core/session/SyntaxParser.h"
#include "core/tree/TreeStore.h"

namespace bitloupe::cli {

namespace {

constexpr int kContinue = -1;

constexpr uint8_t kPictureI = 1;
constexpr uint8_t kPictureB = 3;

void PrintUsage() {
    std::fprintf(stderr, "usage:\n%s", DecodeUsage());
}

// The engine as `tree` wires it, with what the decoding commands ask of the picture records.
struct Session : CliEngine {
    PictureDecoder& decoder() { return parser.decoder; }

    const PictureRecord* Record(TreeItem item) const {
        const auto it = stream.pictureRecords.find(item);
        return it == stream.pictureRecords.end() ? nullptr : &it->second;
    }
    int Structure(TreeItem item) const {
        const auto it = stream.pictureCodingRecords.find(item);
        return it == stream.pictureCodingRecords.end() ? 3 : it->second.picture_structure;
    }
    bool IsField(TreeItem item) const {
        const int s = Structure(item);
        return s == 1 || s == 2;
    }
    bool IsSecondField(TreeItem item) const {
        const PictureRecord* r = Record(item);
        return r && r->secondField;
    }
    int CodingType(TreeItem item) const {
        const PictureRecord* r = Record(item);
        return r ? r->picture_coding_type : 0;
    }
    int TemporalReference(TreeItem item) const {
        const PictureRecord* r = Record(item);
        return r ? r->temporal_reference : 0;
    }
    // A B picture that has a backward reference but no forward one: one of an open GOP that
    // opens the stream.
    bool LacksForwardReference(TreeItem item) const {
        if (CodingType(item) != kPictureB) return false;
        const auto it = stream.predictionFrames.find(item);
        if (it == stream.predictionFrames.end()) return false;
        const PredictionFramesRecord& r = it->second;
        return (r.backward_frames[0] || r.backward_frames[1]) && !r.forward_frames[0] &&
               !r.forward_frames[1];
    }
};

// Opens the file and parses its video stream. kContinue when there is something to decode,
// else the exit code.
int OpenAndParse(Session& s, const std::string& path) {
    if (!s.parser.OpenFile(path)) return s.stream.fileItem ? kExitRefused : kExitUsage;
    s.dialog.mode = kModeVideoOnly;
    s.dialog.BeginParse();
    s.parser.ParseVideoStream();
    if (s.decoder().outOfMemory) {
        std::fputs("Out of memory!\n", stderr);
        return kExitUsage;
    }
    return kContinue;
}

std::vector<TreeItem> Pictures(Session& s) {
    return s.decoder().PicturesInStreamOrder();
}

const char* const kDisplayTypes[] = {"auto", "raw", "diff0", "diff1", "null", nullptr};
const char* const kFieldOptions[] = {"frame", "top", "bottom", nullptr};
const char* const kColourModes[] = {"normal", "y",      "cb",      "cr",   "red",  "green",
                                    "blue",   "yellow", "magenta", "cyan", nullptr};
const char* const kFormats[] = {"gray", "yuv444p", "bgr24", "yuv", nullptr};
const char* const kOrders[] = {"display", "decode", nullptr};

}  // namespace

const char* DecodeUsage() {
    // clang-format off
    return "  bitloupe-cli decode FILE --picture N -o OUT.bmp"
           " [--display auto|raw|diff0|diff1|null]\n"
           "                         [--field frame|top|bottom]"
           " [--colour normal|y|cb|cr|red|green|blue|yellow|magenta|cyan]\n"
           "  bitloupe-cli frames FILE -o OUT [--format gray|yuv444p|bgr24|yuv]"
           " [--order display|decode] [--stats]\n";
    // clang-format on
}

// --- decode ---

namespace {

// What `decode` was asked to do.
struct DecodeArguments {
    std::string path, out;
    int64_t number = 0;  // the picture, from 1 in stream order
    int display = display_type::kAuto;
    int field = field_option::kFrame;
    int colour = colour_mode::kNormal;
};

bool ReadDecodeArguments(int argc, char** argv, DecodeArguments& a) {
    using enum Complaint;
    const std::vector<Option> options = {
        Number("--picture", {10, 1}, a.number)
            .Complains(kOwn, kOwn, "--picture takes a picture number from 1"),
        Text("-o", a.out).Complains(kOwn, kOwn, "-o needs a file name"),
        Choice("--display", kDisplayTypes, a.display),
        Choice("--field", kFieldOptions, a.field),
        Choice("--colour", kColourModes, a.colour),
    };
    ParsedArguments parsed;
    if (!ParseArguments(argc, argv, options, {PrintUsage}, parsed)) return false;
    a.path = parsed.path;
    if (a.path.empty() || a.out.empty() || !parsed.Given("--picture")) {
        PrintUsage();
        return false;
    }
    return true;
}

// Decodes the picture (its references first) as the display pane shows it, and saves it.
int DecodeAndSave(Session& s, const std::vector<TreeItem>& pictures, const DecodeArguments& a) {
    PictureDecoder& dec = s.decoder();
    dec.fieldOption = static_cast<uint8_t>(a.field);
    dec.colourMode = static_cast<uint8_t>(a.colour);

    const size_t k = static_cast<size_t>(a.number - 1);
    std::vector<size_t> failed;
    dec.DecodeReferences(pictures, k, &failed);
    for (size_t i : failed)
        std::fprintf(stderr, "bitloupe-cli: warning: picture %zu (a reference) did not decode\n",
                     i + 1);
    dec.displayType = display_type::kAuto;
    if (!dec.DecodePicture(pictures[k], true)) {
        std::fprintf(stderr, "bitloupe-cli: picture %" PRId64 " could not be decoded\n", a.number);
        return kExitUsage;
    }
    if (a.display != display_type::kAuto) {
        // Drawn again with the chosen type, as after a change of the display type box.
        dec.displayType = static_cast<uint8_t>(a.display);
        if (!dec.DecodePicture(pictures[k], false)) {
            std::fprintf(stderr, "bitloupe-cli: picture %" PRId64 " could not be decoded as %s\n",
                         a.number, kDisplayTypes[a.display]);
            return kExitUsage;
        }
    }
    const BmpResult result = dec.dib.Save(a.out);
    if (result != BmpResult::kOk) {
        const BmpMessage m = BmpResultMessage(result);
        std::fprintf(stderr, "%s\n", m.text ? m.text : "Failed to write the BMP file!");
        return kExitUsage;
    }
    return kExitOk;
}

}  // namespace

int RunDecode(int argc, char** argv) {
    DecodeArguments a;
    if (!ReadDecodeArguments(argc, argv, a)) return kExitUsage;
    auto session = std::make_unique<Session>();
    Session& s = *session;
    if (const int rc = OpenAndParse(s, a.path); rc != kContinue) return rc;
    const std::vector<TreeItem> pictures = Pictures(s);
    if (a.number < 1 || static_cast<unsigned long long>(a.number) > pictures.size()) {
        std::fprintf(stderr, "bitloupe-cli: there is no picture %" PRId64 "; the stream has %zu\n",
                     a.number, pictures.size());
        return kExitUsage;
    }
    return DecodeAndSave(s, pictures, a);
}

// --- frames ---

namespace {

using Format = FrameFormat;

// Writes to a file or to standard output and remembers the first failure.
class Output {
  public:
    bool Open(const std::string& path) {
        if (path == "-") {
            f_ = stdout;
            return true;
        }
        f_ = std::fopen(path.c_str(), "wb");
        owned_ = f_ != nullptr;
        return f_ != nullptr;
    }
    void Write(const std::vector<uint8_t>& bytes) {
        if (failed_ || bytes.empty()) return;
        if (std::fwrite(bytes.data(), 1, bytes.size(), f_) != bytes.size()) failed_ = true;
    }
    // Flushes and closes; false when anything failed.
    bool Close() {
        if (!f_) return false;
        if (std::fflush(f_) != 0 || std::ferror(f_)) failed_ = true;
        if (owned_ && std::fclose(f_) != 0) failed_ = true;
        f_ = nullptr;
        return !failed_;
    }
    bool Failed() const { return failed_; }

  private:
    std::FILE* f_ = nullptr;
    bool owned_ = false;
    bool failed_ = false;
};

// Frames held back for display order: those of one GOP (or, without GOP headers, of one run
// from an I picture to the next), written sorted by temporal_reference when the group ends.
class DisplayOrderBuffer {
  public:
    explicit DisplayOrderBuffer(Output& out) : out_(out) {}

    // Beyond this many bytes a group is written as it stands, so that a stream without GOP
    // headers or I pictures cannot make the buffer grow without bound.
    static constexpr size_t kMaxBytes = size_t{512} << 20;

    void Add(std::pair<int, uint64_t> group, int temporalReference, std::vector<uint8_t>&& frame) {
        if (!frames_.empty() && group != group_) Flush();
        if (frames_.empty()) {
            group_ = group;
            base_ = temporalReference;
        }
        // Relative to the group's first frame, within -512..511, so that leading B pictures
        // sort before their I picture and a wrap of the 10-bit counter keeps the order.
        const int order = ((temporalReference - base_ + 512) & 1023) - 512;
        bytes_ += frame.size();
        frames_.push_back({order, std::move(frame)});
        if (bytes_ > kMaxBytes) {
            if (!warned_)
                std::fputs(
                    "bitloupe-cli: warning: a group of pictures too large to hold; its "
                    "frames are written in parts\n",
                    stderr);
            warned_ = true;
            Flush();
        }
    }
    void Flush() {
        std::stable_sort(frames_.begin(), frames_.end(),
                         [](const Held& a, const Held& b) { return a.order < b.order; });
        for (const Held& f : frames_) out_.Write(f.bytes);
        // The buffers serve the next group's frames: fresh ones each time would cost the
        // kernel's zeroing of their pages on every frame.
        for (Held& f : frames_)
            if (spare_.size() < kMaxSpare) spare_.push_back(std::move(f.bytes));
        frames_.clear();
        bytes_ = 0;
    }
    // A buffer for the next frame, one a written frame used when there is one.
    std::vector<uint8_t> TakeBuffer() {
        if (spare_.empty()) return {};
        std::vector<uint8_t> b = std::move(spare_.back());
        spare_.pop_back();
        return b;
    }

  private:
    struct Held {
        int order;
        std::vector<uint8_t> bytes;
    };
    static constexpr size_t kMaxSpare = 64;
    Output& out_;
    std::vector<Held> frames_;
    std::vector<std::vector<uint8_t>> spare_;
    std::pair<int, uint64_t> group_{};
    int base_ = 0;
    size_t bytes_ = 0;
    bool warned_ = false;
};

// What `frames` was asked to do.
struct FramesArguments {
    std::string path, outPath;
    int format = 0;  // index in kFormats, in Format's order
    int order = 0;   // index in kOrders
    bool stats = false;
};

bool ReadFramesArguments(int argc, char** argv, FramesArguments& a) {
    using enum Complaint;
    const std::vector<Option> options = {
        Text("-o", a.outPath).Complains(kOwn, kOwn, "-o needs a file name (- for standard output)"),
        Choice("--format", kFormats, a.format),
        Choice("--order", kOrders, a.order),
        Flag("--stats", a.stats),
    };
    ParsedArguments parsed;
    if (!ParseArguments(argc, argv, options, {PrintUsage, true}, parsed)) return false;
    a.path = parsed.path;
    if (a.path.empty() || a.outPath.empty()) {
        PrintUsage();
        return false;
    }
    return true;
}

// Decodes the pictures in stream order and writes a frame for each frame picture and for each
// pair of fields, in display or in decode order.
class FrameWriter {
  public:
    FrameWriter(Session& s, Output& out, Format format, bool displayOrder)
        : s_(s), out_(out), held_(out), format_(format), displayOrder_(displayOrder) {}

    void WriteAll(const std::vector<TreeItem>& pictures) {
        for (size_t i = 0; i < pictures.size() && !out_.Failed(); ++i) {
            const TreeItem item = pictures[i];
            if (!frameOpen_) OpenFrame(item);
            Decode(item, i);
            // A first field waits for its second field when that comes next.
            if (i + 1 < pictures.size() && WaitsFor(item, pictures[i + 1])) continue;
            WriteFrame(i);
        }
        held_.Flush();
    }

    void PrintStats() const {
        std::fprintf(stderr,
                     "pictures decoded: %zu\n"
                     "frames written: %zu\n"
                     "decode time: %.3f s\n"
                     "per picture: %.3f ms\n",
                     decoded_, frames_, decodeSeconds_,
                     decoded_ ? 1000.0 * decodeSeconds_ / static_cast<double>(decoded_) : 0.0);
    }
    bool NoneDecoded() const { return failed_ == decoded_; }

  private:
    // The group and order of a frame are those of its first field.
    void OpenFrame(TreeItem item) {
        const TreeItem parent = s_.tree.GetParentItem(item);
        if (parent && s_.tree.GetItemData(parent) == kind::kGop) {
            group_ = {1, parent};
        } else {
            if (s_.CodingType(item) == kPictureI) ++run_;
            group_ = {0, run_};
        }
        frameTemporalReference_ = s_.TemporalReference(item);
        frameOpen_ = true;
    }

    // Decodes picture i (from 0) into the stores, with a warning when it comes out wrong.
    void Decode(TreeItem item, size_t i) {
        PictureDecoder& dec = s_.decoder();
        dec.displayType = display_type::kAuto;
        const auto t0 = std::chrono::steady_clock::now();
        const bool ok = dec.DecodeIntoStores(item);
        decodeSeconds_ +=
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        ++decoded_;
        if (!ok) {
            ++failed_;
            std::fprintf(stderr,
                         "bitloupe-cli: warning: picture %zu did not decode; its frame holds "
                         "what the store had\n",
                         i + 1);
        } else if (dec.displayType != display_type::kAuto) {
            std::fprintf(stderr,
                         "bitloupe-cli: warning: picture %zu lacks its references; its frame "
                         "holds the residual\n",
                         i + 1);
        } else if (s_.LacksForwardReference(item)) {
            std::fprintf(stderr,
                         "bitloupe-cli: warning: picture %zu (a B picture of the open GOP that "
                         "opens the stream) has no forward reference; it is decoded from the "
                         "backward one alone\n",
                         i + 1);
        }
    }

    bool WaitsFor(TreeItem item, TreeItem next) const {
        return s_.IsField(item) && !s_.IsSecondField(item) && s_.IsField(next) &&
               s_.IsSecondField(next) && s_.Structure(next) != s_.Structure(item);
    }

    // The frame the stores hold after picture i (from 0).
    void WriteFrame(size_t i) {
        // Each frame has the size of its own sequence.
        const SequenceParameters& sequence = s_.decoder().Sequence();
        const uint32_t width = sequence.horizontal_size, height = sequence.vertical_size;
        if (frames_ > 0 && (width != frameWidth_ || height != frameHeight_))
            std::fprintf(stderr, "bitloupe-cli: frames from picture %zu on are %ux%u\n", i + 1,
                         width, height);
        frameWidth_ = width;
        frameHeight_ = height;
        ExtractFrame(s_.decoder(), format_, frame_);
        ++frames_;
        frameOpen_ = false;
        if (displayOrder_) {
            held_.Add(group_, frameTemporalReference_, std::move(frame_));
            frame_ = held_.TakeBuffer();
        } else {
            out_.Write(frame_);
        }
    }

    Session& s_;
    Output& out_;
    DisplayOrderBuffer held_;
    const Format format_;
    const bool displayOrder_;

    double decodeSeconds_ = 0;
    size_t decoded_ = 0, failed_ = 0, frames_ = 0;
    uint64_t run_ = 0;  // runs between I pictures, for pictures outside any GOP
    std::pair<int, uint64_t> group_{};
    int frameTemporalReference_ = 0;
    bool frameOpen_ = false;
    uint32_t frameWidth_ = 0, frameHeight_ = 0;
    std::vector<uint8_t> frame_;
};

}  // namespace

int RunFrames(int argc, char** argv) {
    FramesArguments a;
    if (!ReadFramesArguments(argc, argv, a)) return kExitUsage;
    auto session = std::make_unique<Session>();
    Session& s = *session;
    if (const int rc = OpenAndParse(s, a.path); rc != kContinue) return rc;
    const std::vector<TreeItem> pictures = Pictures(s);
    if (pictures.empty() || s.stream.horizontal_size == 0 || s.stream.vertical_size == 0) {
        std::fputs("bitloupe-cli: the stream holds no picture to decode\n", stderr);
        return kExitUsage;
    }

    Output out;
    if (!out.Open(a.outPath)) {
        std::fprintf(stderr, "bitloupe-cli: cannot create %s: %s\n", a.outPath.c_str(),
                     std::strerror(errno));
        return kExitUsage;
    }
    FrameWriter writer(s, out, static_cast<Format>(a.format), a.order == 0);
    writer.WriteAll(pictures);
    const bool written = out.Close();
    if (a.stats) writer.PrintStats();
    if (!written) {
        std::fprintf(stderr, "bitloupe-cli: writing %s failed\n", a.outPath.c_str());
        return kExitUsage;
    }
    if (writer.NoneDecoded()) {
        std::fputs("bitloupe-cli: no picture could be decoded\n", stderr);
        return kExitUsage;
    }
    return kExitOk;
}

}  // namespace bitloupe::cli
