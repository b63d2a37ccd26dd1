// Hot loops that gain from wider vectors are built twice, for the baseline instruction set and
// for AVX2-class processors, and the loader picks the one the processor runs.
#pragma once

// Not under the sanitizers: the clones are chosen by resolvers that run before the sanitizer
// runtime is up.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && defined(__linux__) && \
    !defined(BITLOUPE_NO_VECTOR_CLONES)
#define BITLOUPE_VECTOR_CLONES __attribute__((target_clones("arch=x86-64-v3", "default")))
#else
#define BITLOUPE_VECTOR_CLONES
#endif
