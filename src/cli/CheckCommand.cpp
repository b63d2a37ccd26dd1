#include "cli/CheckCommand.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "cli/Cli.h"
#include "cli/Json.h"
#include "cli/Options.h"
#include "core/render/Problems.h"

namespace bitloupe::cli {

namespace {

constexpr int kExitWarnings = 3;
constexpr int kExitErrors = 4;

void PrintUsage() {
    std::fprintf(stderr, "usage:\n%s", CheckUsage());
}

struct CheckArguments {
    std::string path;
    int mode = 0;  // index in kParseModeWords
    bool mbs = false;
    bool json = false;
    long maxProblems = -1;
    bool codes = false;
};

bool ReadCheckArguments(int argc, char** argv, CheckArguments& a) {
    using enum Complaint;
    int format = 0;
    const char* const formats[] = {"text", "json", nullptr};
    const std::vector<Option> options = {
        Choice("--mode", kParseModeWords, a.mode).Complains(kNeedsValue, kUsage),
        Choice("--format", formats, format).Complains(kNeedsValue, kUsage),
        Flag("--mbs", a.mbs),
        Flag("--codes", a.codes),
        Custom("--max-problems",
               [&a](const char* v) {
                   char* end = nullptr;
                   a.maxProblems = std::strtol(v, &end, 10);
                   return *v && end && *end == 0 && a.maxProblems >= 0;
               })
            .Complains(kNeedsValue, kUsage),
    };
    ParsedArguments parsed;
    if (!ParseArguments(argc, argv, options, {PrintUsage}, parsed)) return false;
    if (parsed.path.empty() && !a.codes) {
        PrintUsage();
        return false;
    }
    a.path = parsed.path;
    a.json = format == 1;
    return true;
}

// The codes a check reports, one a line: code, severity, meaning.
int PrintCodes() {
    for (const ProblemCode& c : ProblemCodes())
        std::printf("%-20s %-8s %s\n", c.code, SeverityName(c.severity), c.meaning);
    return kExitOk;
}

}  // namespace

const char* CheckUsage() {
    return "  bitloupe-cli check FILE [--mode video|ps|both] [--mbs] [--format text|json]\n"
           "                        [--max-problems N]\n"
           "  bitloupe-cli check --codes\n";
}

int RunCheck(int argc, char** argv) {
    CheckArguments a;
    if (!ReadCheckArguments(argc, argv, a)) return kExitUsage;
    if (a.codes) return PrintCodes();
    CliEngine engine;
    int exitCode = kExitOk;
    if (!engine.OpenAndParse(a.path, kParseModeOfWord[a.mode], a.mbs, exitCode)) return exitCode;
    const StreamStats stats = engine.Stats(a.path);
    auto lock = engine.tree.Lock();
    const std::vector<Problem> problems = FindProblems(engine.tree, engine.stream, stats);
    Severity worst = Severity::kNote;
    bool any = false;
    for (const Problem& p : problems) {
        if (p.severity == Severity::kNote) continue;
        any = true;
        worst = std::max(worst, p.severity);
    }
    const size_t shown = a.maxProblems >= 0
                             ? std::min(problems.size(), static_cast<size_t>(a.maxProblems))
                             : problems.size();
    JsonOut json;
    if (a.json) json << "[";
    for (size_t i = 0; i < shown; ++i) {
        const Problem& p = problems[i];
        if (a.json) {
            json << (i ? ",\n" : "\n") << "{\"offset\": " << p.offset
                 << ", \"picture\": " << p.picture << ", \"severity\": \""
                 << SeverityName(p.severity) << "\", \"code\": \"" << p.code << "\", \"message\": ";
            JsonString(json, p.message);
            json << "}";
        } else {
            std::printf("%" PRIu64 " %u %s %s %s\n", p.offset, p.picture, SeverityName(p.severity),
                        p.code.c_str(), p.message.c_str());
        }
    }
    if (a.json) json << (shown ? "\n]\n" : "]\n");
    if (!any) return kExitOk;
    return worst == Severity::kError ? kExitErrors : kExitWarnings;
}

}  // namespace bitloupe::cli
