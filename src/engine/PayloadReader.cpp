#include "engine/PayloadReader.h"

#include <cstring>

#include "engine/StartCodeScan.h"

namespace bitloupe {

namespace {
constexpr int kCarry = 4;
}

PayloadReader::PayloadReader(FileReader& file)
    : file_(file),
      buf_(new uint8_t[kBufferEntries + 8]()),
      offsets_(new uint64_t[kBufferEntries + 8]()),
      remaining_(new uint32_t[kBufferEntries + 8]()) {}

PayloadReader::~PayloadReader() {
    delete[] buf_;
    delete[] offsets_;
    delete[] remaining_;
}

int PayloadReader::FillPayload(int max) {
    if (file_.AtEnd()) return 0;
    int count = 0;
    uint8_t* dst = buf_ + kCarry;
    uint64_t* off = offsets_ + kCarry;
    uint32_t* rem = remaining_ + kCarry;
    for (;;) {
        while (packetRemaining > 0) {
            int64_t n = file_.ContiguousBytes();
            if (n > packetRemaining) n = packetRemaining;
            if (n > max - count) n = max - count;
            if (n > 0) {
                // The bytes of the file reader's chunk in one piece.
                const int64_t first = file_.fileOffset();
                std::memcpy(dst + count, file_.CurrentPointer(), static_cast<size_t>(n));
                for (int64_t k = 0; k < n; ++k) {
                    off[count + k] = static_cast<uint64_t>(first + k);
                    rem[count + k] = static_cast<uint32_t>(packetRemaining - k);
                }
                file_.Advance(static_cast<int>(n));
                count += static_cast<int>(n);
                packetRemaining -= n;
            } else {
                off[count] = static_cast<uint64_t>(file_.fileOffset());
                rem[count] = static_cast<uint32_t>(packetRemaining);
                dst[count] = file_.ReadByte();
                ++count;
                --packetRemaining;
            }
            if (file_.AtEnd() || count >= max) return count;
        }
        if (file_.AtEnd() || !nextPacket_) return count;
        // A packet with an empty payload does not end the stream: look for the next one
        // until the file ends.
        packetRemaining = nextPacket_();
        if (packetRemaining < 0) packetRemaining = 0;
    }
}

void PayloadReader::LoadPayload(bool initial) {
    if (initial) {
        file_.FillChunk();
        std::memset(buf_, 0, kBufferEntries + 8);
        std::memset(offsets_, 0, sizeof(uint64_t) * (kBufferEntries + 8));
        std::memset(remaining_, 0, sizeof(uint32_t) * (kBufferEntries + 8));
        count_ = 0;
        pos_ = kCarry;
    } else {
        pos_ = 0;
    }
    // The last 4 valid bytes of the previous fill become the first 4 of this one. count_ is
    // where reading of the previous fill stopped, so they sit at count_..count_+3.
    const int from = count_;
    std::memmove(buf_, buf_ + from, kCarry);
    std::memmove(offsets_, offsets_ + from, sizeof(uint64_t) * kCarry);
    std::memmove(remaining_, remaining_ + from, sizeof(uint32_t) * kCarry);
    std::memset(buf_ + kCarry, 0, kBufferEntries + 8 - kCarry);
    const int n = FillPayload(kChunkSize);
    count_ = n;
    if (file_.AtEnd()) count_ += kCarry;
    // A short fill before the end (the followed stream ended early) must not leave the read
    // pointer behind the data.
    if (pos_ > count_) count_ = pos_;
    bitOffset_ = 0;
}

bool PayloadReader::ScanStartCode(uint32_t& acc, uint32_t lo, uint32_t hi) {
    if (bitOffset_) NextByte(true);
    if (AtEnd()) return false;
    const int end = ScanForStartCode(buf_, pos_, count_, acc, lo, hi);
    pos_ = end < 0 ? count_ : end;
    if (reportProgress && progress_ &&
        static_cast<int64_t>(offsets_[pos_]) - lastProgress >= progressStep) {
        lastProgress = static_cast<int64_t>(offsets_[pos_]);
        progress_(lastProgress);
    }
    if (pos_ >= count_ && !file_.AtEnd()) LoadPayload(false);
    return end >= 0;
}

void PayloadReader::SkipBits(int n) {
    if (n <= 0) return;
    while (n > 0 && !AtEnd()) {
        const int inByte = 8 - bitOffset_;
        if (n < inByte) {
            bitOffset_ += n;
            return;
        }
        n -= inByte;
        bitOffset_ = 0;
        Step(false);
    }
}

void PayloadReader::NextByte(bool advance) {
    if (advance && !AtEnd()) Step(true);
    if (!AtEnd()) bitOffset_ = 0;
}

}  // namespace bitloupe
