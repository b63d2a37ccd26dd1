// bitloupe-cli check: the stream's problems, one a line or as JSON, and an exit code a pipeline
// can act on (0 none, 3 warnings at worst, 4 errors).
#pragma once

namespace bitloupe::cli {

int RunCheck(int argc, char** argv);
const char* CheckUsage();

}  // namespace bitloupe::cli
