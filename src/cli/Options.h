// The option parser of bitloupe-cli's commands. A command declares its options once, each
// bound to the variable it sets, and how it complains about a missing or bad value; the
// parser walks the arguments after the command name, takes the one file name, and stops at
// the first error with the message the tool has always printed for it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace bitloupe::cli {

// What is printed when an option's value is missing or not one it takes.
enum class Complaint {
    kNeedsValue,        // "bitloupe-cli: NAME needs a value"
    kDoesNotTake,       // "bitloupe-cli: NAME does not take VALUE"
    kUsage,             // the command's usage text
    kOwn,               // the option's own message
    kNeedsValueThenOwn  // "NAME needs a value", then the option's own message
};

// The values a number option takes: whole numbers in the base (0: decimal, 0x hex or 0 octal,
// as C reads them) from min to max.
struct NumberRange {
    int base = 0;
    int64_t min = 0;
    int64_t max = INT64_MAX;
};

struct Option {
    std::string name;
    bool takesValue = false;
    // Stores the value (nullptr for a flag); false when the value is not one the option takes.
    std::function<bool(const char* value)> take;
    Complaint whenMissing = Complaint::kNeedsValue;
    Complaint whenBad = Complaint::kDoesNotTake;
    std::string message;  // the option's own complaint, without the tool's name

    // The complaints for a missing and for a bad value, and the option's own message.
    Option& Complains(Complaint missing, Complaint bad, std::string own = {});
};

// An option without a value that sets `target`.
Option Flag(const char* name, bool& target);
// An option whose value is any text.
Option Text(const char* name, std::string& target);
// An option that takes one of `words` (null-terminated); `target` is the word's index.
Option Choice(const char* name, const char* const* words, int& target);
// An option that takes a number in `range`.
Option Number(const char* name, NumberRange range, int64_t& target);
// An option whose value `take` reads and checks itself.
Option Custom(const char* name, std::function<bool(const char* value)> take);

// A whole number in the range; false when the text is anything else.
bool ParseNumber(const char* text, NumberRange range, int64_t& value);

// How a command's arguments are read besides its options.
struct CommandSyntax {
    void (*usage)();              // printed after an unknown option or a second file name
    bool loneDashIsFile = false;  // "-" is a file name (standard input/output), not an option
    size_t extraWords = 0;        // words allowed after the file name (an offset, ...)
};

// What the arguments held besides the options' values.
struct ParsedArguments {
    std::string path;                // the file name, empty when none was given
    std::vector<std::string> given;  // the options that appeared, in order
    std::vector<std::string> extra;  // the words after the file name

    bool Given(const std::string& name) const;
};

// Reads the arguments after the command name. False, after the message has gone to stderr,
// when they are not well formed; the command then exits with kExitUsage.
bool ParseArguments(int argc, char** argv, const std::vector<Option>& options,
                    const CommandSyntax& syntax, ParsedArguments& parsed);

}  // namespace bitloupe::cli
