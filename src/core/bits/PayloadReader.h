// The payload reader: the PES payload bytes of one video stream of a program stream, gathered
// 4096 at a time through the file reader and read as one continuous elementary stream. For
// every gathered byte it knows the byte's file offset and the count of its packet's bytes
// still to come (itself included), so positions taken here name real file offsets. They are
// kept per run of bytes that lie back to back in one packet (a fill holds a handful of runs),
// which gives every byte's values without storing them byte by byte.
//
// Buffer layout: 4 carry-over bytes, then the new fill. The last 4 gathered bytes stay unread
// as look-ahead for the window until the next fill carries them to the buffer start; at the
// end of the file they become readable.
#pragma once

#include <cstdint>
#include <functional>

#include "core/bits/FileReader.h"

namespace bitloupe {

class PayloadReader {
  public:
    static constexpr int kChunkSize = FileReader::kChunkSize;

    // Finds the next packet of the followed stream and passes its header; returns its payload
    // length (0 or less when none was found).
    using NextPacketFn = std::function<int64_t()>;

    explicit PayloadReader(FileReader& file);
    ~PayloadReader();
    PayloadReader(const PayloadReader&) = delete;
    PayloadReader& operator=(const PayloadReader&) = delete;

    void SetNextPacket(NextPacketFn fn) { nextPacket_ = std::move(fn); }

    int FillPayload(int max);
    void LoadPayload(bool initial);

    bool AtEnd() const { return file_.AtEnd() && pos_ >= count_; }
    uint32_t Window() const {
        if (AtEnd()) return 0;
        const uint8_t* p = buf_ + pos_;
        uint32_t w = uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
        if (bitOffset_) w = (w << bitOffset_) | (p[4] >> (8 - bitOffset_));
        return w;
    }
    uint32_t PeekBits(int n) const {
        if (n <= 0 || n > 32) return 0;
        return Window() >> (32 - n);
    }
    void SkipBits(int n);
    uint32_t ReadBits(int n) {
        if (n <= 0 || n > 32) return 0;
        if (AtEnd()) {
            missing_ += static_cast<uint64_t>(n);
            return 0;
        }
        const uint32_t v = PeekBits(n);
        SkipBits(n);
        return v;
    }
    uint8_t ReadByte() {
        if (bitOffset_) NextByte(true);
        if (AtEnd()) {
            missing_ += 8;
            return 0;
        }
        const uint8_t b = buf_[pos_];
        Step(true);
        return b;
    }
    void NextByte(bool advance);
    uint8_t CurrentByte() const { return AtEnd() ? 0 : buf_[pos_]; }
    // Bytes of the current fill from the current (perhaps partly consumed) byte on, 0 at the
    // end: they can be read through CurrentPointer() before SkipBits steps over what was used.
    int BytesInChunk() const { return AtEnd() ? 0 : count_ - pos_; }
    const uint8_t* CurrentPointer() const { return buf_ + pos_; }

    // Start-code scan over the payload bytes of the current fill; see FileReader.
    bool ScanStartCode(uint32_t& acc, uint32_t lo, uint32_t hi);

    // File offset and packet-remaining count of the current payload byte.
    uint64_t CurrentOffset() const { return OffsetAt(pos_); }
    uint32_t CurrentRemaining() const { return RemainingAt(pos_); }
    int bitOffset() const { return bitOffset_; }
    // The place in the file (offset * 8 + bit) of the bit `bits` bits (1..64) before the
    // current one. Bits read across a packet's end lie further apart in the file than in the
    // stream.
    uint64_t BitPositionBack(int bits) const;
    // The bits reads asked for beyond the end of the data (they yielded zeros) since the
    // reader was last placed.
    uint64_t MissingBits() const { return missing_; }

    int64_t packetRemaining = 0;
    int64_t lastProgress = 0;
    bool reportProgress = true;
    int64_t progressStep = 1;
    void SetProgress(ProgressFn fn) { progress_ = std::move(fn); }

  private:
    void Step(bool report) {
        ++pos_;
        if (report && pos_ >= nextProgressCheck_) ReportProgress();
        if (pos_ >= count_ && !file_.AtEnd()) LoadPayload(false);
    }
    void ReportProgress();
    static constexpr int kBufferEntries = kChunkSize + 8;

    // A run of buffer bytes [start, next run's start) that lie back to back in the file.
    struct Run {
        int start;
        uint64_t offset;     // file offset of the byte at start
        uint32_t remaining;  // its packet's bytes still to come, itself included
    };
    const Run& RunAt(int index) const;
    uint64_t OffsetAt(int index) const {
        const Run& r = RunAt(index);
        return r.offset + static_cast<uint64_t>(index - r.start);
    }
    uint32_t RemainingAt(int index) const {
        const Run& r = RunAt(index);
        return r.remaining - static_cast<uint32_t>(index - r.start);
    }
    void AddRun(int start, uint64_t offset, uint32_t remaining);
    // The file offset of buffer byte `index`, down to kHistory bytes before the buffer.
    uint64_t OffsetOfIndex(int index) const {
        if (index >= 0) return OffsetAt(index);
        return index >= -kHistory ? history_[kHistory + index] : 0;
    }
    static constexpr int kHistory = 8;
    // The file offsets of the bytes read before the buffer's first byte, nearest last.
    uint64_t history_[kHistory] = {};
    uint64_t missing_ = 0;

    FileReader& file_;
    NextPacketFn nextPacket_;
    uint8_t* buf_;
    Run* runs_;  // in order of start; at most one per buffer byte
    int runCount_ = 0;
    int nextProgressCheck_ = 0;  // buffer index from which progress is checked again
    int pos_ = 4;
    int count_ = 0;  // reading stops here; the bytes behind it are look-ahead
    int bitOffset_ = 0;
    ProgressFn progress_;
};

}  // namespace bitloupe
