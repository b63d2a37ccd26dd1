#include "cli/FieldsCommand.h"

#include <cstdio>
#include <string>
#include <vector>

#include "cli/Cli.h"
#include "cli/Json.h"
#include "cli/Options.h"
#include "core/tree/ItemFields.h"

namespace bitloupe::cli {

namespace {

void PrintUsage() {
    std::fprintf(stderr, "usage:\n%s", FieldsUsage());
}

struct FieldsArguments {
    std::string path;
    std::vector<std::string> names;
    int mode = 0;  // index in kParseModeWords
    bool mbs = false;
    bool json = false;
};

const char* const kFormats[] = {"csv", "json", nullptr};

bool ReadFieldsArguments(int argc, char** argv, FieldsArguments& a) {
    using enum Complaint;
    int format = 0;
    const std::vector<Option> options = {
        Custom("-e",
               [&a](const char* v) {
                   a.names.emplace_back(v);
                   return *v != 0;
               })
            .Complains(kNeedsValue, kUsage),
        Choice("--mode", kParseModeWords, a.mode).Complains(kNeedsValue, kUsage),
        Choice("--format", kFormats, format).Complains(kNeedsValue, kUsage),
        Flag("--mbs", a.mbs),
    };
    ParsedArguments parsed;
    if (!ParseArguments(argc, argv, options, {PrintUsage}, parsed)) return false;
    if (parsed.path.empty() || a.names.empty()) {
        PrintUsage();
        return false;
    }
    a.path = parsed.path;
    a.json = format == 1;
    return true;
}

// Writes the rows in pre-order, which is the file's order; pictures are counted as met.
class RowWriter {
  public:
    RowWriter(const TreeStore& tree, const FieldsArguments& a) : tree_(tree), a_(a) {}

    void Walk(TreeItem item, uint32_t picture) {
        FieldName name;
        if (KindOf(tree_.GetItemData(item)) == ItemKind::Picture) picture = ++pictures_;
        if (FieldOf(tree_, item, name) && Wanted(name.field)) Row(item, name, picture);
        for (TreeItem c = tree_.GetChildItem(item); c; c = tree_.GetNextSiblingItem(c))
            Walk(c, picture);
    }

    void Begin() {
        if (a_.json)
            json_ << "[";
        else
            std::puts("field,index,picture,offset,bit,bits,value");
    }
    void End() {
        if (a_.json) json_ << (rows_ ? "\n]\n" : "]\n");
    }

  private:
    bool Wanted(const std::string& field) const {
        for (const std::string& n : a_.names)
            if (n == field) return true;
        return false;
    }

    void Row(TreeItem item, const FieldName& name, uint32_t picture) {
        ItemFacts span, own;
        const bool placed = tree_.GetItemSpan(item, span);
        const bool valued = tree_.GetItemFacts(item, own) && own.hasValue;
        if (a_.json) {
            json_ << (rows_ ? ",\n" : "\n") << "{\"field\": ";
            JsonString(json_, name.field);
            JsonIndex(json_, name.index);
            if (picture) json_ << ", \"picture\": " << picture;
            if (placed)
                json_ << ", \"offset\": " << span.start / 8 << ", \"bit\": " << span.start % 8
                      << ", \"bits\": " << span.bits << ", \"end\": " << span.end;
            if (valued) json_ << ", \"value\": " << own.value;
            json_ << "}";
        } else {
            std::string index;
            for (const std::string& i : name.index) index += "[" + i + "]";
            std::printf("%s,%s,", name.field.c_str(), index.c_str());
            if (picture) std::printf("%u", picture);
            if (placed)
                std::printf(",%llu,%u,%llu,", static_cast<unsigned long long>(span.start / 8),
                            static_cast<unsigned>(span.start % 8),
                            static_cast<unsigned long long>(span.bits));
            else
                std::fputs(",,,,", stdout);
            if (valued) std::printf("%lld", static_cast<long long>(own.value));
            std::putchar('\n');
        }
        ++rows_;
    }

    const TreeStore& tree_;
    const FieldsArguments& a_;
    uint32_t pictures_ = 0;
    size_t rows_ = 0;
    JsonOut json_;
};

}  // namespace

const char* FieldsUsage() {
    return "  bitloupe-cli fields FILE -e NAME [-e NAME]... [--mode video|ps|both] [--mbs]\n"
           "                         [--format csv|json]\n";
}

int RunFields(int argc, char** argv) {
    FieldsArguments a;
    if (!ReadFieldsArguments(argc, argv, a)) return kExitUsage;
    CliEngine engine;
    int exitCode = kExitOk;
    if (!engine.OpenAndParse(a.path, kParseModeOfWord[a.mode], a.mbs, exitCode)) return exitCode;
    const TreeStore& tree = engine.tree;
    auto lock = tree.Lock();
    RowWriter rows(tree, a);
    rows.Begin();
    for (TreeItem r = tree.GetChildItem(kTreeRoot); r; r = tree.GetNextSiblingItem(r))
        rows.Walk(r, 0);
    rows.End();
    return kExitOk;
}

}  // namespace bitloupe::cli
