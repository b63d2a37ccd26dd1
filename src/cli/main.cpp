// bitloupe-cli: the engine without windows, for scripts, batch work, tests and benchmarks.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "cli/Cli.h"
#include "cli/DecodeCommands.h"
#include "core/base/Host.h"
#include "core/session/SyntaxParser.h"
#include "core/syntax/StreamState.h"
#include "core/tree/Export.h"
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
}

void JsonString(std::ostream& out, const std::string& s) {
    out << '"';
    for (unsigned char c : s) {
        switch (c) {
            case '"':
                out << "\\\"";
                break;
            case '\\':
                out << "\\\\";
                break;
            case '\n':
                out << "\\n";
                break;
            case '\r':
                out << "\\r";
                break;
            case '\t':
                out << "\\t";
                break;
            default:
                if (c < 0x20 || c >= 0x80) {
                    // Item texts are 8-bit; keep them readable whatever the bytes are.
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    out << buf;
                } else {
                    out << static_cast<char>(c);
                }
        }
    }
    out << '"';
}

bool Included(uint32_t data, ExportFilter filter, bool allBelow) {
    if (allBelow || filter == ExportFilter::All) return true;
    if (filter == ExportFilter::NonVirtual) return !IsVirtual(data);
    if (data == kind::kPelMatrix) return true;
    return !IsVirtual(data) && data != kind::kRawDct;
}

void WriteJsonItem(std::ostream& out, const TreeStore& tree, TreeItem item, ExportFilter filter,
                   bool allBelow, int depth) {
    out << "{\"text\": ";
    JsonString(out, tree.GetItemText(item));
    out << ", \"image\": " << tree.GetItemImage(item) << ", \"data\": " << tree.GetItemData(item)
        << ", \"children\": [";
    const bool below = allBelow || (filter == ExportFilter::YCbCr &&
                                    tree.GetItemData(item) == kind::kPelMatrix && depth > 0);
    bool first = true;
    for (TreeItem c = tree.GetChildItem(item); c; c = tree.GetNextSiblingItem(c)) {
        if (!Included(tree.GetItemData(c), filter, below)) continue;
        if (!first) out << ", ";
        first = false;
        WriteJsonItem(out, tree, c, filter, below, depth + 1);
    }
    out << "]}";
}

void PrintTree(const TreeStore& tree, ExportFilter filter, bool json, bool crlf) {
    auto lock = tree.Lock();
    std::ostream& out = std::cout;
    if (json) out << "[";
    bool first = true;
    for (TreeItem root = tree.GetChildItem(kTreeRoot); root; root = tree.GetNextSiblingItem(root)) {
        if (json) {
            if (!Included(tree.GetItemData(root), filter, false)) continue;
            out << (first ? "\n" : ",\n");
            WriteJsonItem(out, tree, root, filter, false, 0);
        } else {
            WriteBranch(out, tree, root, filter, crlf ? "\r\n" : "\n");
        }
        first = false;
    }
    if (json) out << "\n]\n";
    out.flush();
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

int RunTree(int argc, char** argv) {
    if (argc < 1) {
        Usage();
        return kExitUsage;
    }
    std::string path;
    std::string mode = "video";
    bool modeGiven = false;
    ExportFilter filter = ExportFilter::All;
    int64_t startOffset = 0;
    bool startFrom = false;
    int pictureKind = 0;
    int pictureNumber = 1;
    bool crlf = false;
    bool json = false;
    bool mbs = false;
    bool quiet = false;  // no tree output (benchmarks)
    bool stats = false;  // timings, item count and tree memory on stderr
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](const char* name) -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "bitloupe-cli: %s needs a value\n", name);
                return nullptr;
            }
            return argv[++i];
        };
        if (arg == "--mode") {
            const char* v = value("--mode");
            if (!v) return kExitUsage;
            mode = v;
            modeGiven = true;
            if (mode != "video" && mode != "ps" && mode != "both") {
                Usage();
                return kExitUsage;
            }
        } else if (arg == "--filter") {
            const char* v = value("--filter");
            if (!v) return kExitUsage;
            const std::string f = v;
            if (f == "all")
                filter = ExportFilter::All;
            else if (f == "non-virtual")
                filter = ExportFilter::NonVirtual;
            else if (f == "ycbcr")
                filter = ExportFilter::YCbCr;
            else {
                Usage();
                return kExitUsage;
            }
        } else if (arg == "--start-offset") {
            const char* v = value("--start-offset");
            if (!v || !ParseNonNegative(v, startOffset, 0)) {
                std::fputs("bitloupe-cli: --start-offset takes a byte offset\n", stderr);
                return kExitUsage;
            }
        } else if (arg == "--start-picture") {
            const char* v = value("--start-picture");
            if (!v) return kExitUsage;
            const std::string s = v;
            const size_t colon = s.find(':');
            const std::string kindText = s.substr(0, colon);
            static const char* const kKinds[] = {"any", "I", "P", "B", "D"};
            pictureKind = -1;
            for (int k = 0; k < 5; ++k)
                if (kindText == kKinds[k]) pictureKind = k;
            int64_t n = 1;
            if (pictureKind < 0 || colon == std::string::npos ||
                !ParseNonNegative(s.c_str() + colon + 1, n, 0) || n < 1 || n > 0x7FFFFFFF) {
                std::fputs("bitloupe-cli: --start-picture takes any|I|P|B|D:N with N >= 1\n",
                           stderr);
                return kExitUsage;
            }
            pictureNumber = static_cast<int>(n);
            startFrom = true;
        } else if (arg == "--quiet") {
            quiet = true;
        } else if (arg == "--stats") {
            stats = true;
        } else if (arg == "--mbs") {
            mbs = true;
        } else if (arg == "--crlf") {
            crlf = true;
        } else if (arg == "--format") {
            const char* v = value("--format");
            if (!v) return kExitUsage;
            const std::string f = v;
            if (f == "json")
                json = true;
            else if (f != "text") {
                Usage();
                return kExitUsage;
            }
        } else if (!arg.empty() && arg[0] == '-') {
            std::fprintf(stderr, "bitloupe-cli: unknown option %s\n", arg.c_str());
            Usage();
            return kExitUsage;
        } else if (path.empty()) {
            path = arg;
        } else {
            Usage();
            return kExitUsage;
        }
    }
    if (path.empty()) {
        Usage();
        return kExitUsage;
    }

    CliEngine engine;
    TreeStore& tree = engine.tree;
    CStreamState& stream = engine.stream;
    ParseDialog& dialog = engine.dialog;
    CSyntaxParser& parser = engine.parser;

    if (!parser.OpenFile(path)) {
        PrintTree(tree, filter, json, crlf);
        // A file that could not be opened at all is an I/O error; a refused one is not.
        return stream.fileItem ? kExitRefused : kExitUsage;
    }
    dialog.mode = mode == "ps"     ? kModeProgramStreamOnly
                  : mode == "both" ? kModeBoth
                                   : kModeVideoOnly;
    (void)modeGiven;
    dialog.startOffset = startOffset;
    dialog.startFromPicture = startFrom;
    dialog.pictureKind = pictureKind;
    dialog.pictureNumber = pictureNumber;
    dialog.BeginParse();
    const auto t0 = std::chrono::steady_clock::now();
    if (stream.streamType == kProgramStream && dialog.mode == kModeProgramStreamOnly)
        parser.ParseSystemStream();
    else
        parser.ParseVideoStream();
    const auto t1 = std::chrono::steady_clock::now();
    const size_t itemsAfterParse = tree.ItemCount();
    if (mbs) ParseAllMacroblocks(parser, tree, stream.videoItem, stats);
    const auto t2 = std::chrono::steady_clock::now();
    if (stats) {
        const double parse = std::chrono::duration<double>(t1 - t0).count();
        const double mbTime = std::chrono::duration<double>(t2 - t1).count();
        const double mb = static_cast<double>(parser.fileStatus.size) / 1e6;
        std::fprintf(stderr,
                     "parse: %.3f s, %.1f MB/s, %zu items\n"
                     "macroblocks: %.3f s, %zu items\n"
                     "tree: %zu items, %zu bytes, %.1f bytes per item\n",
                     parse, parse > 0 ? mb / parse : 0.0, itemsAfterParse, mbTime,
                     tree.ItemCount() - itemsAfterParse, tree.ItemCount(), tree.MemoryBytes(),
                     tree.ItemCount() ? static_cast<double>(tree.MemoryBytes()) /
                                            static_cast<double>(tree.ItemCount())
                                      : 0.0);
    }
    if (!quiet) PrintTree(tree, filter, json, crlf);
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
    if (command == "--help" || command == "-h") {
        Usage();
        return kExitOk;
    }
    std::fprintf(stderr, "bitloupe-cli: unknown command %s\n", argv[1]);
    Usage();
    return kExitUsage;
}
