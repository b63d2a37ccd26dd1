// The fuzz harnesses: each runs one way a user drives the engine over the bytes it is given,
// with no file on disk. The libFuzzer targets call one of them per input; the replay tool
// calls them on saved inputs, so that every build can run the inputs that once failed.
#pragma once

#include <cstddef>
#include <cstdint>

namespace bitloupe::fuzz {

// Open, stream detection and the parse in every mode the stream allows.
int FuzzParse(const uint8_t* data, size_t size);
// The parse, then "Parse MBs in Picture" on every picture.
int FuzzMacroblocks(const uint8_t* data, size_t size);
// The parse, then every picture decoded in stream order into the stores only, then drawn,
// in turn in each display type.
int FuzzDecode(const uint8_t* data, size_t size);
// The program stream parse, then the byte listing of every PES payload.
int FuzzPayload(const uint8_t* data, size_t size);

using HarnessFn = int (*)(const uint8_t*, size_t);
struct NamedHarness {
    const char* name;
    HarnessFn run;
};
// The harnesses by the names of their targets and corpus folders.
inline constexpr NamedHarness kHarnesses[] = {
    {"parse", FuzzParse},
    {"macroblocks", FuzzMacroblocks},
    {"decode", FuzzDecode},
    {"payload", FuzzPayload},
};

}  // namespace bitloupe::fuzz
