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
#include "core/base/Host.h"
#include "core/decode/PictureDecoder.h"
#include "core/image/PictureDib.h"
#include "core/session/SyntaxParser.h"
#include "core/syntax/StreamState.h"
#include "core/tree/TreeStore.h"

namespace bitloupe::cli {

namespace {

constexpr int kContinue = -1;

constexpr uint8_t kPictureI = 1;

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
};

// Opens the file and parses its video stream. kContinue when there is something to decode,
// else the exit code.
int OpenAndParse(Session& s, const std::string& path) {
    if (!s.parser.OpenFile(path)) return s.stream.fileItem ? kExitRefused : kExitUsage;
    s.dialog.mode = kModeVideoOnly;
    s.dialog.BeginParse();
    s.parser.ParseVideoStream();
    if (s.stream.outOfMemory) {
        std::fputs("Out of memory!\n", stderr);
        return kExitUsage;
    }
    return kContinue;
}

std::vector<TreeItem> Pictures(Session& s) {
    return s.decoder().PicturesInStreamOrder();
}

// The index of the given word in a null-terminated list, or -1.
int IndexOf(const char* const* words, const std::string& w) {
    for (int i = 0; words[i]; ++i)
        if (w == words[i]) return i;
    return -1;
}

const char* const kDisplayTypes[] = {"auto", "raw", "diff0", "diff1", "null", nullptr};
const char* const kFieldOptions[] = {"frame", "top", "bottom", nullptr};
const char* const kColourModes[] = {"normal", "y",      "cb",      "cr",   "red",  "green",
                                    "blue",   "yellow", "magenta", "cyan", nullptr};
const char* const kFormats[] = {"gray", "yuv444p", "bgr24", "yuv", nullptr};
const char* const kOrders[] = {"display", "decode", nullptr};

// Reads the option at argv[i] that takes one of `words`; false (after a message) when the
// value is missing or unknown.
bool WordOption(int argc, char** argv, int& i, const char* const* words, int& out) {
    const char* name = argv[i];
    if (i + 1 >= argc) {
        std::fprintf(stderr, "bitloupe-cli: %s needs a value\n", name);
        return false;
    }
    out = IndexOf(words, argv[++i]);
    if (out < 0) {
        std::fprintf(stderr, "bitloupe-cli: %s does not take %s\n", name, argv[i]);
        return false;
    }
    return true;
}

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

int RunDecode(int argc, char** argv) {
    std::string path, out;
    int64_t number = 0;
    bool numberGiven = false;
    int display = display_type::kAuto;
    int field = field_option::kFrame;
    int colour = colour_mode::kNormal;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--picture") {
            if (i + 1 >= argc || !ParseNonNegative(argv[++i], number, 10) || number < 1) {
                std::fputs("bitloupe-cli: --picture takes a picture number from 1\n", stderr);
                return kExitUsage;
            }
            numberGiven = true;
        } else if (arg == "-o") {
            if (i + 1 >= argc) {
                std::fputs("bitloupe-cli: -o needs a file name\n", stderr);
                return kExitUsage;
            }
            out = argv[++i];
        } else if (arg == "--display") {
            if (!WordOption(argc, argv, i, kDisplayTypes, display)) return kExitUsage;
        } else if (arg == "--field") {
            if (!WordOption(argc, argv, i, kFieldOptions, field)) return kExitUsage;
        } else if (arg == "--colour") {
            if (!WordOption(argc, argv, i, kColourModes, colour)) return kExitUsage;
        } else if (!arg.empty() && arg[0] == '-') {
            std::fprintf(stderr, "bitloupe-cli: unknown option %s\n", arg.c_str());
            PrintUsage();
            return kExitUsage;
        } else if (path.empty()) {
            path = arg;
        } else {
            PrintUsage();
            return kExitUsage;
        }
    }
    if (path.empty() || out.empty() || !numberGiven) {
        PrintUsage();
        return kExitUsage;
    }

    auto session = std::make_unique<Session>();
    Session& s = *session;
    if (const int rc = OpenAndParse(s, path); rc != kContinue) return rc;
    const std::vector<TreeItem> pictures = Pictures(s);
    if (number < 1 || static_cast<unsigned long long>(number) > pictures.size()) {
        std::fprintf(stderr, "bitloupe-cli: there is no picture %" PRId64 "; the stream has %zu\n",
                     number, pictures.size());
        return kExitUsage;
    }
    PictureDecoder& dec = s.decoder();
    dec.fieldOption = static_cast<uint8_t>(field);
    dec.colourMode = static_cast<uint8_t>(colour);

    const size_t k = static_cast<size_t>(number - 1);
    std::vector<size_t> failed;
    dec.DecodeReferences(pictures, k, &failed);
    for (size_t i : failed)
        std::fprintf(stderr, "bitloupe-cli: warning: picture %zu (a reference) did not decode\n",
                     i + 1);
    dec.displayType = display_type::kAuto;
    if (!dec.DecodePicture(pictures[k], true)) {
        std::fprintf(stderr, "bitloupe-cli: picture %" PRId64 " could not be decoded\n", number);
        return kExitUsage;
    }
    if (display != display_type::kAuto) {
        // Drawn again with the chosen type, as after a change of the display type box.
        dec.displayType = static_cast<uint8_t>(display);
        if (!dec.DecodePicture(pictures[k], false)) {
            std::fprintf(stderr, "bitloupe-cli: picture %" PRId64 " could not be decoded as %s\n",
                         number, kDisplayTypes[display]);
            return kExitUsage;
        }
    }
    const BmpResult result = dec.dib.Save(out);
    if (result != BmpResult::kOk) {
        const BmpMessage m = BmpResultMessage(result);
        std::fprintf(stderr, "%s\n", m.text ? m.text : "Failed to write the BMP file!");
        return kExitUsage;
    }
    return kExitOk;
}

// --- frames ---

namespace {

enum class Format { kGray, kYuv444p, kBgr24, kYuv };

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

// The displayed part of the store the last decode wrote: width x height of the sequence,
// each plane cropped from the store's full size. Whatever lies outside the store (or a store
// that was never written) comes out as 128.
void ExtractFrame(const Session& s, Format format, std::vector<uint8_t>& out) {
    const PictureDecoder& dec = s.parser.decoder;
    const size_t w = s.stream.horizontal_size, h = s.stream.vertical_size;
    // A sequence header that claims no width or no height (a damaged stream): the frame is
    // empty, and the row copies below must not be handed a buffer that was never allocated.
    if (w == 0 || h == 0) {
        out.clear();
        return;
    }
    const size_t sw = dec.stores.width > 0 ? static_cast<size_t>(dec.stores.width) : 0;
    const size_t sh = dec.stores.height > 0 ? static_cast<size_t>(dec.stores.height) : 0;
    const ColourMatrix& m = s.stream.colourMatrix;
    const ColourFactors factors{m.crv, m.cbu, m.cgu, m.cgv};

    // Colour with the picture wholly inside the stores (the usual case): the shown chroma a
    // band of lines at a time from the coded planes, converted while it is in cache.
    const int slot = dec.stores.currentSlot;
    const int bandLines = format == Format::kBgr24 && w <= sw && h <= sh
                              ? dec.stores.DisplayChromaBandLines(slot)
                              : 0;
    if (bandLines > 0) {
        out.resize(w * h * 3);
        const uint8_t* luma = dec.CurrentPlane(0);
        std::vector<uint8_t> cb(bandLines * sw), cr(bandLines * sw);
        for (size_t y0 = 0; y0 < h; y0 += bandLines) {
            dec.stores.DisplayChromaBand(slot, static_cast<int>(y0 / bandLines), cb.data(),
                                         cr.data());
            for (size_t y = y0; y < std::min(h, y0 + bandLines); ++y)
                ConvertSamplesToBgr(out.data() + y * w * 3, luma + y * sw,
                                    cb.data() + (y - y0) * sw, cr.data() + (y - y0) * sw,
                                    static_cast<int>(w), factors);
        }
        return;
    }
    // The full-size chroma planes only for the formats that show them (asking for one brings
    // it up to date).
    const bool fullChroma = format == Format::kBgr24 || format == Format::kYuv444p;
    const uint8_t* plane[3] = {dec.CurrentPlane(0), nullptr, nullptr};
    if (fullChroma)
        for (int c = 1; c < 3; ++c) plane[c] = dec.CurrentPlane(c);
    const size_t inW = std::min(w, sw);

    // One cropped plane row, padded to w.
    auto row = [&](int c, size_t y, uint8_t* dst) {
        size_t copied = 0;
        if (plane[c] && y < sh) {
            std::memcpy(dst, plane[c] + y * sw, inW);
            copied = inW;
        }
        std::memset(dst + copied, 128, w - copied);
    };

    if (format == Format::kBgr24) {
        out.resize(w * h * 3);
        std::vector<uint8_t> yr(w), cbr(w), crr(w);
        for (size_t y = 0; y < h; ++y) {
            row(0, y, yr.data());
            row(1, y, cbr.data());
            row(2, y, crr.data());
            ConvertSamplesToBgr(out.data() + y * w * 3, yr.data(), cbr.data(), crr.data(),
                                static_cast<int>(w), factors);
        }
        return;
    }
    if (format == Format::kYuv) {
        // Luma, then the two chroma planes at their coded resolution, each cropped to the
        // displayed part (half a sample rounds up).
        const ChromaSize cs = dec.stores.chroma;
        const size_t cw = (w + cs.shiftX) >> cs.shiftX, ch = (h + cs.shiftY) >> cs.shiftY;
        const size_t scw = sw >> cs.shiftX, sch = sh >> cs.shiftY;
        out.resize(w * h + 2 * cw * ch);
        uint8_t* d = out.data();
        for (size_t y = 0; y < h; ++y, d += w) row(0, y, d);
        for (int c = 1; c < 3; ++c) {
            const uint8_t* p = dec.CurrentCodedPlane(c);
            for (size_t y = 0; y < ch; ++y, d += cw) {
                size_t copied = 0;
                if (p && y < sch) {
                    copied = std::min(cw, scw);
                    std::memcpy(d, p + y * scw, copied);
                }
                std::memset(d + copied, 128, cw - copied);
            }
        }
        return;
    }
    const int planes = format == Format::kGray ? 1 : 3;
    out.resize(w * h * planes);
    for (int c = 0; c < planes; ++c)
        for (size_t y = 0; y < h; ++y) row(c, y, out.data() + (c * h + y) * w);
}

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

}  // namespace

int RunFrames(int argc, char** argv) {
    std::string path, outPath;
    int format = 0;
    int order = 0;
    bool stats = false;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-o") {
            if (i + 1 >= argc) {
                std::fputs("bitloupe-cli: -o needs a file name (- for standard output)\n", stderr);
                return kExitUsage;
            }
            outPath = argv[++i];
        } else if (arg == "--format") {
            if (!WordOption(argc, argv, i, kFormats, format)) return kExitUsage;
        } else if (arg == "--order") {
            if (!WordOption(argc, argv, i, kOrders, order)) return kExitUsage;
        } else if (arg == "--stats") {
            stats = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            std::fprintf(stderr, "bitloupe-cli: unknown option %s\n", arg.c_str());
            PrintUsage();
            return kExitUsage;
        } else if (path.empty()) {
            path = arg;
        } else {
            PrintUsage();
            return kExitUsage;
        }
    }
    if (path.empty() || outPath.empty()) {
        PrintUsage();
        return kExitUsage;
    }

    auto session = std::make_unique<Session>();
    Session& s = *session;
    if (const int rc = OpenAndParse(s, path); rc != kContinue) return rc;
    const std::vector<TreeItem> pictures = Pictures(s);
    if (pictures.empty() || s.stream.horizontal_size == 0 || s.stream.vertical_size == 0) {
        std::fputs("bitloupe-cli: the stream holds no picture to decode\n", stderr);
        return kExitUsage;
    }

    Output out;
    if (!out.Open(outPath)) {
        std::fprintf(stderr, "bitloupe-cli: cannot create %s: %s\n", outPath.c_str(),
                     std::strerror(errno));
        return kExitUsage;
    }
    DisplayOrderBuffer held(out);
    const bool displayOrder = order == 0;
    PictureDecoder& dec = s.decoder();
    const Format fmt = static_cast<Format>(format);

    double decodeSeconds = 0;
    size_t decoded = 0, failed = 0, frames = 0;
    uint64_t run = 0;  // runs between I pictures, for pictures outside any GOP
    std::pair<int, uint64_t> group{};
    int frameTemporalReference = 0;
    bool frameOpen = false;
    uint32_t frameWidth = 0, frameHeight = 0;
    std::vector<uint8_t> frame;
    for (size_t i = 0; i < pictures.size() && !out.Failed(); ++i) {
        const TreeItem item = pictures[i];
        // The group and order of a frame are those of its first field.
        if (!frameOpen) {
            const TreeItem parent = s.tree.GetParentItem(item);
            if (parent && s.tree.GetItemData(parent) == kind::kGop) {
                group = {1, parent};
            } else {
                if (s.CodingType(item) == kPictureI) ++run;
                group = {0, run};
            }
            frameTemporalReference = s.TemporalReference(item);
            frameOpen = true;
        }

        dec.displayType = display_type::kAuto;
        const auto t0 = std::chrono::steady_clock::now();
        const bool ok = dec.DecodeIntoStores(item);
        decodeSeconds +=
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        ++decoded;
        if (!ok) {
            ++failed;
            std::fprintf(stderr,
                         "bitloupe-cli: warning: picture %zu did not decode; its frame holds "
                         "what the store had\n",
                         i + 1);
        } else if (dec.displayType != display_type::kAuto) {
            std::fprintf(stderr,
                         "bitloupe-cli: warning: picture %zu lacks its references; its frame "
                         "holds the residual\n",
                         i + 1);
        }

        // A first field waits for its second field when that comes next.
        const bool waitsForSecondField = s.IsField(item) && !s.IsSecondField(item) &&
                                         i + 1 < pictures.size() && s.IsField(pictures[i + 1]) &&
                                         s.IsSecondField(pictures[i + 1]) &&
                                         s.Structure(pictures[i + 1]) != s.Structure(item);
        if (waitsForSecondField) continue;

        // Each frame has the size of its own sequence.
        if (frames > 0 &&
            (s.stream.horizontal_size != frameWidth || s.stream.vertical_size != frameHeight))
            std::fprintf(stderr, "bitloupe-cli: frames from picture %zu on are %ux%u\n", i + 1,
                         s.stream.horizontal_size, s.stream.vertical_size);
        frameWidth = s.stream.horizontal_size;
        frameHeight = s.stream.vertical_size;
        ExtractFrame(s, fmt, frame);
        ++frames;
        frameOpen = false;
        if (displayOrder) {
            held.Add(group, frameTemporalReference, std::move(frame));
            frame = held.TakeBuffer();
        } else {
            out.Write(frame);
        }
    }
    held.Flush();
    const bool written = out.Close();

    if (stats) {
        std::fprintf(stderr,
                     "pictures decoded: %zu\n"
                     "frames written: %zu\n"
                     "decode time: %.3f s\n"
                     "per picture: %.3f ms\n",
                     decoded, frames, decodeSeconds,
                     decoded ? 1000.0 * decodeSeconds / static_cast<double>(decoded) : 0.0);
    }
    if (!written) {
        std::fprintf(stderr, "bitloupe-cli: writing %s failed\n", outPath.c_str());
        return kExitUsage;
    }
    if (failed == decoded) {
        std::fputs("bitloupe-cli: no picture could be decoded\n", stderr);
        return kExitUsage;
    }
    return kExitOk;
}

}  // namespace bitloupe::cli
