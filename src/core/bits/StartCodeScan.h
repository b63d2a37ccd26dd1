// The byte-wise start-code scan, done fast: every byte is shifted into a 32-bit accumulator
// as a plain scan would, but runs of bytes that cannot end a start code are skipped with memchr
// looking for the 0x01 of a 00 00 01 prefix. The result is the same as the byte-by-byte scan:
// the first place where the accumulator lies in lo..hi (codes 0x000001xx only).
#pragma once

#include <cstdint>
#include <cstring>

namespace bitloupe {

// Scans b[from..to); returns the index just past the code byte and leaves the code in acc, or
// returns -1 with acc holding the last four bytes shifted in.
inline int ScanForStartCode(const uint8_t* b, int from, int to, uint32_t& acc, uint32_t lo,
                            uint32_t hi) {
    const uint32_t span = hi - lo;
    int i = from;
    // The first bytes join the bytes shifted in before this run.
    const int head = to < from + 3 ? to : from + 3;
    for (; i < head; ++i) {
        acc = acc << 8 | b[i];
        if (acc - lo <= span) return i + 1;
    }
    if (to - i > 8) {
        // Candidates have their 0x01 at j in [i - 1, to - 2]: the code byte lies behind the
        // bytes already tested and inside the run, and the two bytes before j are in the run.
        const uint8_t* q = b + i - 1;
        const uint8_t* last = b + to - 2;
        while (q <= last) {
            q = static_cast<const uint8_t*>(std::memchr(q, 1, static_cast<size_t>(last - q + 1)));
            if (!q) break;
            if (q[-1] == 0 && q[-2] == 0) {
                const uint32_t code = 0x00000100u | q[1];
                if (code - lo <= span) {
                    acc = code;
                    return static_cast<int>(q - b) + 2;
                }
            }
            ++q;
        }
        // The last three bytes go byte by byte, so a code that continues in the next run is
        // found there.
        i = to - 3;
        acc = uint32_t{b[i - 4]} << 24 | uint32_t{b[i - 3]} << 16 | uint32_t{b[i - 2]} << 8 |
              b[i - 1];
    }
    for (; i < to; ++i) {
        acc = acc << 8 | b[i];
        if (acc - lo <= span) return i + 1;
    }
    return -1;
}

}  // namespace bitloupe
