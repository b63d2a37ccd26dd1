// Zero-filled blocks for picture planes and bitmaps. Large blocks are mapped straight from the
// system, whose pages read as zero until written, so making or dropping a picture of a large
// size costs what is written into it, not its size. (calloc gives no such promise: once the
// allocator has handed back a large block it serves the next ones from its heap, cleared byte
// by byte.)
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace bitloupe {

// n zero bytes (n may be 0), or null when memory is lacking. Free with FreeZeroed.
uint8_t* AllocateZeroed(size_t n);
void FreeZeroed(uint8_t* p);

struct ZeroedDeleter {
    void operator()(uint8_t* p) const { FreeZeroed(p); }
};
using ZeroedBlock = std::unique_ptr<uint8_t[], ZeroedDeleter>;

}  // namespace bitloupe
