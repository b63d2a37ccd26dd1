// bitloupe-cli stats: one row per picture (size, type, times, quantiser, the decoder buffer
// around it), or the stream's summary, for scripts and charts of one's own.
#pragma once

namespace bitloupe::cli {

int RunStats(int argc, char** argv);
const char* StatsUsage();

}  // namespace bitloupe::cli
