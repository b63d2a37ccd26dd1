#include "core/bits/PayloadReader.h"

#include <cstring>

#include "core/bits/StartCodeScan.h"

namespace bitloupe {

namespace {
constexpr int kCarry = 4;
}

PayloadReader::PayloadReader(FileReader& file)
    : file_(file), buf_(new uint8_t[kBufferEntries + 8]()), runs_(new Run[kBufferEntries + 8]()) {
    AddRun(0, 0, 0);
}

PayloadReader::~PayloadReader() {
    delete[] buf_;
    delete[] runs_;
}

int PayloadReader::FillPayload(int max) {
    if (file_.AtEnd()) return 0;
    int count = 0;
    uint8_t* dst = buf_ + kCarry;
    for (;;) {
        while (packetRemaining > 0) {
            int64_t n = file_.ContiguousBytes();
            if (n > packetRemaining) n = packetRemaining;
            if (n > max - count) n = max - count;
            AddRun(kCarry + count, static_cast<uint64_t>(file_.fileOffset()),
                   static_cast<uint32_t>(packetRemaining));
            if (n > 0) {
                // The bytes of the file reader's chunk in one piece.
                std::memcpy(dst + count, file_.CurrentPointer(), static_cast<size_t>(n));
                file_.Advance(static_cast<int>(n));
                count += static_cast<int>(n);
                packetRemaining -= n;
            } else {
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
        missing_ = 0;
        file_.FillChunk();
        std::memset(buf_, 0, kBufferEntries + 8);
        runCount_ = 0;
        AddRun(0, 0, 0);
        count_ = 0;
        pos_ = kCarry;
    } else {
        pos_ = 0;
    }
    // The last 4 valid bytes of the previous fill become the first 4 of this one. count_ is
    // where reading of the previous fill stopped, so they sit at count_..count_+3.
    const int from = count_;
    if (!initial) {
        uint64_t history[kHistory];
        for (int j = 1; j <= kHistory; ++j) history[kHistory - j] = OffsetOfIndex(from - j);
        std::memcpy(history_, history, sizeof history);
    } else {
        std::memset(history_, 0, sizeof history_);
    }
    std::memmove(buf_, buf_ + from, kCarry);
    Run carried[kCarry];
    for (int k = 0; k < kCarry; ++k) carried[k] = {k, OffsetAt(from + k), RemainingAt(from + k)};
    runCount_ = 0;
    for (const Run& r : carried) AddRun(r.start, r.offset, r.remaining);
    nextProgressCheck_ = 0;
    std::memset(buf_ + kCarry, 0, kBufferEntries + 8 - kCarry);
    const int n = FillPayload(kChunkSize);
    count_ = n;
    if (file_.AtEnd()) count_ += kCarry;
    // A short fill before the end (the followed stream ended early) must not leave the read
    // pointer behind the data.
    if (pos_ > count_) count_ = pos_;
    bitOffset_ = 0;
}

uint64_t PayloadReader::BitPositionBack(int bits) const {
    const int64_t s = int64_t{pos_} * 8 + bitOffset_ - bits;
    const int64_t byte = s >= 0 ? s / 8 : -((7 - s) / 8);
    return OffsetOfIndex(static_cast<int>(byte)) * 8 + static_cast<uint64_t>(s - byte * 8);
}

bool PayloadReader::ScanStartCode(uint32_t& acc, uint32_t lo, uint32_t hi) {
    if (bitOffset_) NextByte(true);
    if (AtEnd()) return false;
    const int end = ScanForStartCode(buf_, pos_, count_, acc, lo, hi);
    pos_ = end < 0 ? count_ : end;
    ReportProgress();
    if (pos_ >= count_ && !file_.AtEnd()) LoadPayload(false);
    return end >= 0;
}

void PayloadReader::AddRun(int start, uint64_t offset, uint32_t remaining) {
    if (runCount_ > 0) {
        const Run& last = runs_[runCount_ - 1];
        // A run that continues the last one adds nothing.
        const int gap = start - last.start;
        if (last.offset + static_cast<uint64_t>(gap) == offset &&
            last.remaining - static_cast<uint32_t>(gap) == remaining)
            return;
        if (last.start == start) --runCount_;
    }
    if (runCount_ < kBufferEntries + 8) runs_[runCount_++] = {start, offset, remaining};
}

const PayloadReader::Run& PayloadReader::RunAt(int index) const {
    // The last run that starts at or before index.
    int lo = 0, hi = runCount_ - 1;
    while (lo < hi) {
        const int mid = (lo + hi + 1) / 2;
        if (runs_[mid].start <= index)
            lo = mid;
        else
            hi = mid - 1;
    }
    return runs_[lo];
}

void PayloadReader::ReportProgress() {
    // Checked once in a while rather than on every byte: at most every 256 bytes.
    nextProgressCheck_ = pos_ + 256;
    if (!reportProgress || !progress_) return;
    const int64_t offset = static_cast<int64_t>(OffsetAt(pos_));
    if (offset - lastProgress >= progressStep) {
        lastProgress = offset;
        progress_(lastProgress);
    }
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
    missing_ += static_cast<uint64_t>(n);
}

void PayloadReader::NextByte(bool advance) {
    if (advance && !AtEnd()) Step(true);
    if (!AtEnd()) bitOffset_ = 0;
}

}  // namespace bitloupe
