// bitloupe-cli: the engine without windows, for scripts, batch work, tests and benchmarks.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "cli/AtCommand.h"
#include "cli/CheckCommand.h"
#include "cli/Cli.h"
#include "cli/DecodeCommands.h"
#include "cli/FieldsCommand.h"
#include "cli/Json.h"
#include "cli/Options.h"
#include "cli/StatsCommand.h"
#include "core/session/SyntaxParser.h"
#include "core/tree/Export.h"
#include "core/tree/ItemFields.h"
#include "core/tree/TreeStore.h"

using namespace bitloupe;
using namespace bitloupe::cli;

namespace {

void Usage() {
    std::fputs(
        "usage:\n"
        "  bitloupe-cli tree FILE [--mode video|ps|both] [--mbs] [--filter all|non-virtual|ycbcr]\n"
        "                         [--start-offset BYTES] [--start-picture any|I|P|B|D:N] [--crlf]\n"
        "                         [--format text|json]\n",
        stderr);
    std::fputs(cli::DecodeUsage(), stderr);
    std::fputs(cli::FieldsUsage(), stderr);
    std::fputs(cli::AtUsage(), stderr);
    std::fputs(cli::StatsUsage(), stderr);
    std::fputs(cli::CheckUsage(), stderr);
}

bool Included(uint32_t data, ExportFilter filter, bool allBelow) {
    if (allBelow || filter == ExportFilter::All) return true;
    if (filter == ExportFilter::NonVirtual) return !IsVirtual(data);
    if (data == kind::kPelMatrix) return true;
    return !IsVirtual(data) && data != kind::kRawDct;
}

// Writes the item and returns its span (its own, or that of the items below it), which its
// parent's span is made of: the places come after the children, so one walk makes them all.
ItemFacts WriteJsonItem(JsonOut& out, const TreeStore& tree, TreeItem item, ExportFilter filter,
                        bool allBelow, int depth) {
    const std::string text = tree.GetItemText(item);
    const uint32_t data = tree.GetItemData(item);
    ItemFacts own;
    const bool hasOwn = tree.GetItemFacts(item, own);
    out << "{\"text\": ";
    JsonString(out, text);
    out << ", \"image\": " << tree.GetItemImage(item) << ", \"data\": " << data;
    // The element it stands for, its value, and after its children where its bits lie.
    FieldName name;
    if (FieldOf(data, text, hasOwn && own.hasSpan, name)) {
        out << ", \"field\": ";
        JsonString(out, name.field);
        JsonIndex(out, name.index);
    }
    if (hasOwn && own.hasValue) out << ", \"value\": " << own.value;
    out << ", \"children\": [";
    const bool below =
        allBelow || (filter == ExportFilter::YCbCr && data == kind::kPelMatrix && depth > 0);
    bool first = true;
    ItemFacts span;
    for (TreeItem c = tree.GetChildItem(item); c; c = tree.GetNextSiblingItem(c)) {
        ItemFacts child;
        if (Included(tree.GetItemData(c), filter, below)) {
            if (!first) out << ", ";
            first = false;
            child = WriteJsonItem(out, tree, c, filter, below, depth + 1);
        } else {
            tree.GetItemSpan(c, child);
        }
        span.Include(child);
    }
    out << "]";
    if (hasOwn && own.hasSpan) span = own;
    if (IsVirtual(data)) span = ItemFacts();
    if (span.hasSpan)
        out << ", \"offset\": " << span.start / 8 << ", \"bit\": " << span.start % 8
            << ", \"bits\": " << span.bits << ", \"end\": " << span.end;
    out << "}";
    return span;
}

void PrintTree(const TreeStore& tree, ExportFilter filter, bool json, bool crlf) {
    auto lock = tree.Lock();
    if (!json) {
        for (TreeItem root = tree.GetChildItem(kTreeRoot); root;
             root = tree.GetNextSiblingItem(root))
            WriteBranch(std::cout, tree, root, filter, crlf ? "\r\n" : "\n");
        std::cout.flush();
        return;
    }
    JsonOut out;
    out << "[";
    bool first = true;
    for (TreeItem root = tree.GetChildItem(kTreeRoot); root; root = tree.GetNextSiblingItem(root)) {
        if (!Included(tree.GetItemData(root), filter, false)) continue;
        out << (first ? "\n" : ",\n");
        WriteJsonItem(out, tree, root, filter, false, 0);
        first = false;
    }
    out << "\n]\n";
}

// "Parse MBs in Picture" on every picture of the video stream, in stream order.
void ParseAllMacroblocks(CSyntaxParser& parser, const TreeStore& tree, TreeItem videoItem,
                         bool stats) {
    if (!videoItem) return;
    std::vector<TreeItem> pictures;
    for (TreeItem c = tree.GetChildItem(videoItem); c; c = tree.GetNextSiblingItem(c)) {
        const uint32_t data = tree.GetItemData(c);
        if (data == kind::kPicture) pictures.push_back(c);
        if (data == kind::kGop)
            for (TreeItem p = tree.GetChildItem(c); p; p = tree.GetNextSiblingItem(p))
                if (tree.GetItemData(p) == kind::kPicture) pictures.push_back(p);
    }
    for (TreeItem picture : pictures) {
        const size_t before = tree.ItemCount();
        const auto t0 = std::chrono::steady_clock::now();
        parser.macroblocks.ParseMacroblocksOfPicture(picture);
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0)
                .count();
        if (stats)
            std::fprintf(stderr, "  %s: %.2f ms, %zu items\n", tree.GetItemText(picture).c_str(),
                         ms, tree.ItemCount() - before);
    }
}

// What `tree` was asked to do.
struct TreeArguments {
    std::string path;
    int mode = 0;    // index in kModes
    int filter = 0;  // index in kFilters, in ExportFilter's order
    bool json = false;
    int64_t startOffset = 0;
    bool startFromPicture = false;
    int pictureKind = 0;  // index in kPictureKinds
    int pictureNumber = 1;
    bool crlf = false;
    bool mbs = false;
    bool quiet = false;  // no tree output (benchmarks)
    bool stats = false;  // timings, item count and tree memory on stderr

    ExportFilter Filter() const { return static_cast<ExportFilter>(filter); }
};

const char* const kModes[] = {"video", "ps", "both", nullptr};
const int kModeOfOption[] = {kModeVideoOnly, kModeProgramStreamOnly, kModeBoth};
const char* const kFilters[] = {"all", "non-virtual", "ycbcr", nullptr};
const char* const kPictureKinds[] = {"any", "I", "P", "B", "D", nullptr};

// The value of --start-picture: a picture kind and the number of that kind, KIND:N.
bool ReadStartPicture(const char* value, TreeArguments& a) {
    const std::string s = value;
    const size_t colon = s.find(':');
    if (colon == std::string::npos) return false;
    int kind = -1;
    for (int k = 0; kPictureKinds[k]; ++k)
        if (s.compare(0, colon, kPictureKinds[k]) == 0) kind = k;
    int64_t n = 1;
    if (kind < 0 || !ParseNumber(s.c_str() + colon + 1, {0, 1, 0x7FFFFFFF}, n)) return false;
    a.pictureKind = kind;
    a.pictureNumber = static_cast<int>(n);
    a.startFromPicture = true;
    return true;
}

bool ReadTreeArguments(int argc, char** argv, TreeArguments& a) {
    using enum Complaint;
    const std::vector<Option> options = {
        Choice("--mode", kModes, a.mode).Complains(kNeedsValue, kUsage),
        Choice("--filter", kFilters, a.filter).Complains(kNeedsValue, kUsage),
        Number("--start-offset", {}, a.startOffset)
            .Complains(kNeedsValueThenOwn, kOwn, "--start-offset takes a byte offset"),
        Custom("--start-picture", [&a](const char* v) { return ReadStartPicture(v, a); })
            .Complains(kNeedsValue, kOwn, "--start-picture takes any|I|P|B|D:N with N >= 1"),
        Flag("--quiet", a.quiet),
        Flag("--stats", a.stats),
        Flag("--mbs", a.mbs),
        Flag("--crlf", a.crlf),
        // "text" leaves an earlier "json" in force.
        Custom("--format",
               [&a](const char* v) {
                   const bool json = std::strcmp(v, "json") == 0;
                   a.json = a.json || json;
                   return json || std::strcmp(v, "text") == 0;
               })
            .Complains(kNeedsValue, kUsage),
    };
    ParsedArguments parsed;
    if (!ParseArguments(argc, argv, options, {Usage}, parsed)) return false;
    if (parsed.path.empty()) {
        Usage();
        return false;
    }
    a.path = parsed.path;
    return true;
}

void PrintParseStats(const CliEngine& engine, double parseSeconds, double mbSeconds,
                     size_t itemsAfterParse) {
    const TreeStore& tree = engine.tree;
    const double mb = static_cast<double>(engine.parser.fileStatus.size) / 1e6;
    std::fprintf(
        stderr,
        "parse: %.3f s, %.1f MB/s, %zu items\n"
        "macroblocks: %.3f s, %zu items\n"
        "tree: %zu items, %zu bytes, %.1f bytes per item\n",
        parseSeconds, parseSeconds > 0 ? mb / parseSeconds : 0.0, itemsAfterParse, mbSeconds,
        tree.ItemCount() - itemsAfterParse, tree.ItemCount(), tree.MemoryBytes(),
        tree.ItemCount()
            ? static_cast<double>(tree.MemoryBytes()) / static_cast<double>(tree.ItemCount())
            : 0.0);
}

// Parses the opened file as the parse dialog would with the arguments' settings, then the
// macroblocks of every picture when asked.
void ParseFile(CliEngine& engine, const TreeArguments& a) {
    ParseDialog& dialog = engine.dialog;
    CSyntaxParser& parser = engine.parser;
    dialog.mode = kModeOfOption[a.mode];
    dialog.startOffset = a.startOffset;
    dialog.startFromPicture = a.startFromPicture;
    dialog.pictureKind = a.pictureKind;
    dialog.pictureNumber = a.pictureNumber;
    dialog.BeginParse();
    const auto t0 = std::chrono::steady_clock::now();
    if (engine.stream.streamType == kProgramStream && dialog.mode == kModeProgramStreamOnly)
        parser.ParseSystemStream();
    else
        parser.ParseVideoStream();
    const auto t1 = std::chrono::steady_clock::now();
    const size_t itemsAfterParse = engine.tree.ItemCount();
    if (a.mbs) ParseAllMacroblocks(parser, engine.tree, engine.stream.videoItem, a.stats);
    const auto t2 = std::chrono::steady_clock::now();
    if (a.stats)
        PrintParseStats(engine, std::chrono::duration<double>(t1 - t0).count(),
                        std::chrono::duration<double>(t2 - t1).count(), itemsAfterParse);
}

int RunTree(int argc, char** argv) {
    TreeArguments a;
    if (!ReadTreeArguments(argc, argv, a)) return kExitUsage;
    CliEngine engine;
    if (!engine.parser.OpenFile(a.path)) {
        PrintTree(engine.tree, a.Filter(), a.json, a.crlf);
        // A file that could not be opened at all is an I/O error; a refused one is not.
        return engine.stream.fileItem ? kExitRefused : kExitUsage;
    }
    ParseFile(engine, a);
    if (!a.quiet) PrintTree(engine.tree, a.Filter(), a.json, a.crlf);
    return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        Usage();
        return kExitUsage;
    }
    const std::string command = argv[1];
    if (command == "tree") return RunTree(argc - 2, argv + 2);
    if (command == "decode") return cli::RunDecode(argc - 2, argv + 2);
    if (command == "frames") return cli::RunFrames(argc - 2, argv + 2);
    if (command == "fields") return cli::RunFields(argc - 2, argv + 2);
    if (command == "at") return cli::RunAt(argc - 2, argv + 2);
    if (command == "stats") return cli::RunStats(argc - 2, argv + 2);
    if (command == "check") return cli::RunCheck(argc - 2, argv + 2);
    if (command == "--help" || command == "-h") {
        Usage();
        return kExitOk;
    }
    std::fprintf(stderr, "bitloupe-cli: unknown command %s\n", argv[1]);
    Usage();
    return kExitUsage;
}
