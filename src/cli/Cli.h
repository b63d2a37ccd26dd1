// What the commands of bitloupe-cli share: the exit codes, the engine wired to the command
// line's surroundings, and number parsing.
#pragma once

#include <cerrno>
#include <cstdint>
#include <cstdlib>

#include "core/base/Host.h"
#include "core/session/HeadlessEngine.h"
#include "core/session/SyntaxParser.h"
#include "core/syntax/StreamState.h"
#include "core/tree/TreeStore.h"

namespace bitloupe::cli {

constexpr int kExitOk = 0;
constexpr int kExitUsage = 1;    // usage or I/O error
constexpr int kExitRefused = 2;  // the file was refused; the message is on stderr

// The engine with recording surroundings whose messages go to stderr, and no dialog shown.
struct CliEngine : HeadlessEngine {
    CliEngine() { host.echoToStderr = true; }
};

// A whole non-negative number in the given base (0: decimal, 0x hex or 0 octal, as C reads it).
inline bool ParseNonNegative(const char* s, int64_t& value, int base) {
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(s, &end, base);
    if (errno || !end || end == s || *end || v < 0) return false;
    value = v;
    return true;
}

}  // namespace bitloupe::cli
