// What the commands of bitloupe-cli share: the exit codes and the engine wired to the command
// line's surroundings.
#pragma once

#include "core/session/HeadlessEngine.h"
#include "core/session/SyntaxParser.h"
#include "core/tree/TreeStore.h"

namespace bitloupe::cli {

constexpr int kExitOk = 0;
constexpr int kExitUsage = 1;    // usage or I/O error
constexpr int kExitRefused = 2;  // the file was refused; the message is on stderr

// The engine with recording surroundings whose messages go to stderr, and no dialog shown.
struct CliEngine : HeadlessEngine {
    CliEngine() { host.echoToStderr = true; }
};

}  // namespace bitloupe::cli
