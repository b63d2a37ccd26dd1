#include "cli/AtCommand.h"

#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "cli/Cli.h"
#include "cli/Json.h"
#include "cli/Options.h"
#include "core/tree/ItemFields.h"
#include "core/tree/ItemLookup.h"

namespace bitloupe::cli {

namespace {

void PrintUsage() {
    std::fprintf(stderr, "usage:\n%s", AtUsage());
}

// A decimal or 0x hexadecimal offset, nothing else.
bool ReadOffset(const std::string& word, uint64_t& offset) {
    if (word.empty() || word[0] == '-') return false;
    const bool hex = word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X');
    char* end = nullptr;
    errno = 0;
    offset = std::strtoull(word.c_str() + (hex ? 2 : 0), &end, hex ? 16 : 10);
    return errno == 0 && end && *end == 0 && end != word.c_str() + (hex ? 2 : 0);
}

struct AtArguments {
    std::string path;
    uint64_t offset = 0;
    int bit = 0;
    int mode = 0;  // index in kParseModeWords
    bool mbs = false;
    bool json = false;
    bool stats = false;
};

bool ReadAtArguments(int argc, char** argv, AtArguments& a) {
    using enum Complaint;
    int format = 0;
    const char* const formats[] = {"text", "json", nullptr};
    const std::vector<Option> options = {
        Custom("--bit",
               [&a](const char* v) {
                   char* end = nullptr;
                   const long bit = std::strtol(v, &end, 10);
                   a.bit = static_cast<int>(bit);
                   return *v && end && *end == 0 && bit >= 0 && bit <= 7;
               })
            .Complains(kNeedsValue, kUsage),
        Choice("--mode", kParseModeWords, a.mode).Complains(kNeedsValue, kUsage),
        Choice("--format", formats, format).Complains(kNeedsValue, kUsage),
        Flag("--mbs", a.mbs),
        Flag("--stats", a.stats),
    };
    ParsedArguments parsed;
    if (!ParseArguments(argc, argv, options, {PrintUsage, false, 1}, parsed)) return false;
    // FILE OFFSET: the first word is the file, the second the offset.
    if (parsed.path.empty() || parsed.extra.size() != 1 || !ReadOffset(parsed.extra[0], a.offset)) {
        PrintUsage();
        return false;
    }
    a.path = parsed.path;
    a.json = format == 1;
    return true;
}

}  // namespace

const char* AtUsage() {
    return "  bitloupe-cli at FILE OFFSET [--bit N] [--mode video|ps|both] [--mbs]\n"
           "                     [--format text|json] [--stats]\n";
}

int RunAt(int argc, char** argv) {
    AtArguments a;
    if (!ReadAtArguments(argc, argv, a)) return kExitUsage;
    CliEngine engine;
    int exitCode = kExitOk;
    if (!engine.OpenAndParse(a.path, kParseModeOfWord[a.mode], a.mbs, exitCode)) return exitCode;
    const TreeStore& tree = engine.tree;
    auto lock = tree.Lock();
    const auto t0 = std::chrono::steady_clock::now();
    const std::vector<TreeItem> path =
        ItemPathAt(tree, a.offset * 8 + static_cast<uint64_t>(a.bit));
    if (a.stats)
        std::fprintf(
            stderr, "lookup: %.3f ms over %zu items\n",
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0)
                .count(),
            tree.ItemCount());
    JsonOut json;
    if (a.json) json << "[";
    for (size_t depth = 0; depth < path.size(); ++depth) {
        const TreeItem item = path[depth];
        ItemFacts r;
        ItemRange(tree, item, r);
        const std::string text = tree.GetItemText(item);
        if (a.json) {
            json << (depth ? ",\n" : "\n") << "{\"text\": ";
            JsonString(json, text);
            FieldName name;
            if (FieldOf(tree, item, name)) {
                json << ", \"field\": ";
                JsonString(json, name.field);
                JsonIndex(json, name.index);
            }
            json << ", \"offset\": " << r.start / 8 << ", \"bit\": " << r.start % 8
                 << ", \"bits\": " << r.bits << ", \"end\": " << r.end << "}";
        } else {
            std::printf("%*s%" PRIu64 ".%u-%" PRIu64 " %s\n", static_cast<int>(2 * depth), "",
                        r.start / 8, static_cast<unsigned>(r.start % 8), r.end, text.c_str());
        }
    }
    if (a.json) json << (path.empty() ? "]\n" : "\n]\n");
    if (path.empty() && !a.json)
        std::printf("no item covers offset %" PRIu64 " bit %d\n", a.offset, a.bit);
    return kExitOk;
}

}  // namespace bitloupe::cli
