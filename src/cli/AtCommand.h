// bitloupe-cli at: the items that cover one bit of the file, from the root down to the deepest,
// each with its range; the same lookup as a click on a byte in the desktop's bytes pane.
#pragma once

namespace bitloupe::cli {

int RunAt(int argc, char** argv);
const char* AtUsage();

}  // namespace bitloupe::cli
