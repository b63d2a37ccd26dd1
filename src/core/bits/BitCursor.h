// Bits read straight from memory, for a stretch of the stream the caller knows to lie in one
// buffer (one block's coefficients inside the reader's chunk): no end test and no refill, so
// the position stays in registers. The reads behave as the file reader's do inside its data.
#pragma once

#include <cstdint>
#include <cstring>

namespace bitloupe {

class BitCursor {
  public:
    // p: the current byte, of which bitOffset bits are used; at least 8 bytes must be readable
    // from every byte the cursor reaches.
    BitCursor(const uint8_t* p, int bitOffset)
        : start_(p), p_(p), bit_(bitOffset), first_(bitOffset) {}

    uint32_t PeekBits(int n) const {
        if (n <= 0 || n > 32) return 0;
        uint64_t w;
        std::memcpy(&w, p_, sizeof w);
        w = __builtin_bswap64(w);
        return static_cast<uint32_t>((w << bit_) >> 32) >> (32 - n);
    }
    void SkipBits(int n) {
        if (n <= 0) return;
        bit_ += n;
        p_ += bit_ >> 3;
        bit_ &= 7;
    }
    uint32_t ReadBits(int n) {
        if (n <= 0 || n > 32) return 0;
        const uint32_t v = PeekBits(n);
        SkipBits(n);
        return v;
    }
    // Bits read since the start.
    int64_t BitsUsed() const { return (p_ - start_) * 8 + bit_ - first_; }

  private:
    const uint8_t* start_;
    const uint8_t* p_;
    int bit_;
    int first_;
};

}  // namespace bitloupe
