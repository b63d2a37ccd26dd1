// A libFuzzer target; BITLOUPE_FUZZ_HARNESS names the harness it runs.
#include "Harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return bitloupe::fuzz::BITLOUPE_FUZZ_HARNESS(data, size);
}
