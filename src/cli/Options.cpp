#include "cli/Options.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace bitloupe::cli {

Option& Option::Complains(Complaint missing, Complaint bad, std::string own) {
    whenMissing = missing;
    whenBad = bad;
    message = std::move(own);
    return *this;
}

Option Flag(const char* name, bool& target) {
    Option o;
    o.name = name;
    o.take = [&target](const char*) { return target = true; };
    return o;
}

Option Text(const char* name, std::string& target) {
    return Custom(name, [&target](const char* value) {
        target = value;
        return true;
    });
}

Option Choice(const char* name, const char* const* words, int& target) {
    return Custom(name, [words, &target](const char* value) {
        for (int i = 0; words[i]; ++i) {
            if (std::string(value) == words[i]) {
                target = i;
                return true;
            }
        }
        return false;
    });
}

Option Number(const char* name, NumberRange range, int64_t& target) {
    return Custom(
        name, [range, &target](const char* value) { return ParseNumber(value, range, target); });
}

Option Custom(const char* name, std::function<bool(const char* value)> take) {
    Option o;
    o.name = name;
    o.takesValue = true;
    o.take = std::move(take);
    return o;
}

bool ParseNumber(const char* text, NumberRange range, int64_t& value) {
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text, &end, range.base);
    if (errno || !end || end == text || *end || v < range.min || v > range.max) return false;
    value = v;
    return true;
}

bool ParsedArguments::Given(const std::string& name) const {
    return std::find(given.begin(), given.end(), name) != given.end();
}

namespace {

void Complain(const Option& option, Complaint complaint, const char* value,
              const CommandSyntax& syntax) {
    const char* name = option.name.c_str();
    switch (complaint) {
        case Complaint::kNeedsValue:
            std::fprintf(stderr, "bitloupe-cli: %s needs a value\n", name);
            break;
        case Complaint::kDoesNotTake:
            std::fprintf(stderr, "bitloupe-cli: %s does not take %s\n", name, value);
            break;
        case Complaint::kUsage:
            syntax.usage();
            break;
        case Complaint::kOwn:
            std::fprintf(stderr, "bitloupe-cli: %s\n", option.message.c_str());
            break;
        case Complaint::kNeedsValueThenOwn:
            std::fprintf(stderr, "bitloupe-cli: %s needs a value\nbitloupe-cli: %s\n", name,
                         option.message.c_str());
            break;
    }
}

bool LooksLikeOption(const std::string& arg, const CommandSyntax& syntax) {
    if (arg.empty() || arg[0] != '-') return false;
    return arg.size() > 1 || !syntax.loneDashIsFile;
}

}  // namespace

bool ParseArguments(int argc, char** argv, const std::vector<Option>& options,
                    const CommandSyntax& syntax, ParsedArguments& parsed) {
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto option = std::find_if(options.begin(), options.end(),
                                         [&](const Option& o) { return o.name == arg; });
        if (option == options.end()) {
            if (LooksLikeOption(arg, syntax)) {
                std::fprintf(stderr, "bitloupe-cli: unknown option %s\n", arg.c_str());
                syntax.usage();
                return false;
            }
            // One file name; the empty name leaves room for another.
            if (!parsed.path.empty()) {
                if (parsed.extra.size() < syntax.extraWords) {
                    parsed.extra.push_back(arg);
                    continue;
                }
                syntax.usage();
                return false;
            }
            parsed.path = arg;
            continue;
        }
        const char* value = nullptr;
        if (option->takesValue) {
            if (i + 1 >= argc) {
                Complain(*option, option->whenMissing, nullptr, syntax);
                return false;
            }
            value = argv[++i];
        }
        if (!option->take(value)) {
            Complain(*option, option->whenBad, value, syntax);
            return false;
        }
        parsed.given.push_back(option->name);
    }
    return true;
}

}  // namespace bitloupe::cli
