#include "core/base/ZeroedMemory.h"

#include <sys/mman.h>

#include <cstdlib>

namespace bitloupe {

namespace {

// Blocks from this size on are mapped.
constexpr size_t kMapFrom = size_t{1} << 20;
// Each block starts with its header; the bytes handed out follow it, 64-byte aligned.
constexpr size_t kHeader = 64;
struct Header {
    size_t total;  // bytes mapped, header included; 0 for a block from calloc
};

}  // namespace

uint8_t* AllocateZeroed(size_t n) {
    if (n > SIZE_MAX - kHeader - 4096) return nullptr;
    const size_t total = n + kHeader;
    void* base = nullptr;
    if (total >= kMapFrom) {
        base = mmap(nullptr, total, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (base == MAP_FAILED) return nullptr;
        static_cast<Header*>(base)->total = total;
    } else {
        base = std::calloc(total, 1);
        if (!base) return nullptr;
    }
    return static_cast<uint8_t*>(base) + kHeader;
}

void FreeZeroed(uint8_t* p) {
    if (!p) return;
    uint8_t* base = p - kHeader;
    const size_t total = reinterpret_cast<Header*>(base)->total;
    if (total)
        munmap(base, total);
    else
        std::free(base);
}

}  // namespace bitloupe
