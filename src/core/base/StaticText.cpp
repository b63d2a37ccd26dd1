#include "core/base/StaticText.h"

#include <link.h>

#include <cstdint>

namespace bitloupe {

namespace {

// The address range the program's read-only loaded segments span (its code and constants; the
// writable data lies above them). The first object dl_iterate_phdr reports is the program.
struct ImageRange {
    uintptr_t low = UINTPTR_MAX;
    uintptr_t high = 0;
};

ImageRange FindImage() {
    ImageRange range;
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) -> int {
            auto* r = static_cast<ImageRange*>(data);
            for (int i = 0; i < info->dlpi_phnum; ++i) {
                const ElfW(Phdr)& ph = info->dlpi_phdr[i];
                // Read-only segments only: a writable static buffer may change its text.
                if (ph.p_type != PT_LOAD || (ph.p_flags & PF_W)) continue;
                const uintptr_t start = info->dlpi_addr + ph.p_vaddr;
                if (start < r->low) r->low = start;
                if (start + ph.p_memsz > r->high) r->high = start + ph.p_memsz;
            }
            return 1;  // the program only
        },
        &range);
    return range;
}

}  // namespace

bool IsStaticText(const char* text) {
    static const ImageRange image = FindImage();
    const auto p = reinterpret_cast<uintptr_t>(text);
    return p >= image.low && p < image.high;
}

}  // namespace bitloupe
