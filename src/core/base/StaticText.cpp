#include "core/base/StaticText.h"

#include <link.h>

#include <cstdint>

namespace bitloupe {

namespace {

// The program's read-only loaded segments (its code and constants). The first object
// dl_iterate_phdr reports is the program.
struct ImageRange {
    uintptr_t low = UINTPTR_MAX;  // the lowest start, which places count from
    struct Segment {
        uintptr_t start, end;
    } segments[8];
    int count = 0;
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
                if (r->count == 8) break;
                r->segments[r->count++] = {start, start + ph.p_memsz};
                if (start < r->low) r->low = start;
            }
            return 1;  // the program only
        },
        &range);
    return range;
}

const ImageRange& Image() {
    static const ImageRange image = FindImage();
    return image;
}

}  // namespace

bool IsStaticText(const char* text) {
    const ImageRange& image = Image();
    const auto p = reinterpret_cast<uintptr_t>(text);
    for (int i = 0; i < image.count; ++i)
        if (p >= image.segments[i].start && p < image.segments[i].end)
            return p - image.low <= UINT32_MAX;
    return false;
}

uint32_t StaticTextPlace(const char* text) {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(text) - Image().low);
}

const char* StaticTextAt(uint32_t place) {
    return reinterpret_cast<const char*>(Image().low + place);
}

}  // namespace bitloupe
