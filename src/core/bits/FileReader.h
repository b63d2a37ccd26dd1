// The file reader: the open file read in 4096-byte chunks with 4 look-ahead bytes behind each
// chunk, so that the 32 bits starting at any bit of the chunk are always at hand.
//
// Rules: reads never ask for more than 32 bits; at the end of the data every read yields 0 and
// consumes nothing; offsets and sizes are 64-bit so files beyond 4 GiB are addressed.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

namespace bitloupe {

// Reports the file offset reached, at most once per progress step.
using ProgressFn = std::function<void(int64_t offset)>;

class FileReader {
  public:
    static constexpr int kChunkSize = 4096;
    static constexpr int kLookAhead = 4;

    FileReader();
    ~FileReader();
    FileReader(const FileReader&) = delete;
    FileReader& operator=(const FileReader&) = delete;

    // Opens the file for reading; false when it cannot be opened.
    bool Open(const std::string& path);
    // Reads size bytes at data as if they were a file; the caller keeps them alive until
    // Close or the next Open.
    void OpenMemory(const uint8_t* data, size_t size);
    void Close();
    // Reads the same file or bytes as `other`, through a reader of its own (another position,
    // another cache). Nothing changes when it already does.
    void ShareSource(const FileReader& other);
    // Counts the opens and closes, so a sharing reader can tell that the source changed.
    uint64_t Generation() const { return generation_; }
    // The size of the blocks read on from one to the next (1 MiB unless set before the first
    // read): a reader that jumps about reads less ahead, and its cache costs fewer fresh pages.
    void SetCacheBytes(int bytes) {
        if (!cache_) cacheBytes_ = bytes < kJumpReadBytes ? kJumpReadBytes : bytes;
    }
    bool IsOpen() const { return fd_ >= 0 || memory_ != nullptr; }
    int64_t FileSize() const { return fileSize_; }

    void FillChunk();
    bool AtEnd() const { return lastChunk_ && pos_ >= count_; }

    uint32_t PeekBits(int n) const {
        if (n <= 0 || n > 32) return 0;
        return Window() >> (32 - n);
    }
    void SkipBits(int n) {
        // Within the chunk: one step; across its end the byte-wise path refills.
        const int total = bitOffset_ + n;
        if (n > 0 && pos_ + (total >> 3) < count_) {
            pos_ += total >> 3;
            fileOffset_ += total >> 3;
            bitOffset_ = total & 7;
            return;
        }
        SkipBitsSlow(n);
    }
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
    uint32_t ReadBit() { return ReadBits(1); }

    // Reads the next whole byte (stepping first past a partly consumed byte); 0 at the end.
    uint8_t ReadByte() {
        if (bitOffset_) NextByte(true);
        if (AtEnd()) {
            missing_ += 8;
            return 0;
        }
        const uint8_t b = buf_[pos_];
        Step();
        return b;
    }
    uint16_t ReadWord() {
        const uint16_t hi = ReadByte();
        return static_cast<uint16_t>(hi << 8 | ReadByte());
    }
    uint32_t ReadDWord() {
        const uint32_t hi = ReadWord();
        return hi << 16 | ReadWord();
    }
    // Steps to the next byte (advance set); then, unless at the end, the bit offset is 0.
    void NextByte(bool advance);
    // The current byte, not consumed (0 at the end).
    uint8_t CurrentByte() const { return AtEnd() ? 0 : buf_[pos_]; }

    // Start-code scan over the bytes of the current chunk (see StartCodeScan.h): true when a
    // code in lo..hi was found (the reader then stands after it), false when the chunk was
    // used up or the data ended; call again to go on.
    bool ScanStartCode(uint32_t& acc, uint32_t lo, uint32_t hi);
    // Bytes that can be taken from the current chunk in one piece (0 when not byte-aligned).
    int ContiguousBytes() const { return bitOffset_ ? 0 : BytesInChunk(); }
    // Bytes of the current chunk from the current (perhaps partly consumed) byte on, 0 at the
    // end: they, and the window's padding behind them, can be read through CurrentPointer()
    // before SkipBits steps over what was used.
    int BytesInChunk() const { return AtEnd() ? 0 : count_ - pos_; }
    const uint8_t* CurrentPointer() const { return buf_ + pos_; }
    // Consumes n whole bytes of the current chunk (n <= ContiguousBytes()).
    void Advance(int n);

    // Moves the file to offset; an offset at or beyond the file size is ignored.
    void Seek(int64_t offset);
    // Steps forward or back to offset, the chunk loaded and the progress marks passed
    // reported as reading would; at or beyond the file size the reader stands at the end.
    void SkipTo(int64_t offset);

    int64_t fileOffset() const { return fileOffset_; }
    int bitOffset() const { return bitOffset_; }
    // The bits reads asked for beyond the end of the data (they yielded zeros) since the
    // reader was last placed.
    uint64_t MissingBits() const { return missing_; }
    // The place in the file (offset * 8 + bit) of the bit `bits` bits before the current one.
    uint64_t BitPositionBack(int bits) const {
        const uint64_t here = static_cast<uint64_t>(fileOffset_) * 8 + bitOffset_;
        return here >= static_cast<uint64_t>(bits) ? here - static_cast<uint64_t>(bits) : 0;
    }
    uint32_t Window() const {
        if (AtEnd()) return 0;
        // Eight bytes in one load (the buffer's padding keeps it inside), of which the five
        // that hold the window count.
        uint64_t w;
        std::memcpy(&w, buf_ + pos_, sizeof w);
        w = __builtin_bswap64(w);
        return static_cast<uint32_t>((w << bitOffset_) >> 32);
    }

    // Progress: reported on byte steps when the offset is a multiple of the step.
    void SetProgress(ProgressFn fn) { progress_ = std::move(fn); }
    bool reportProgress = true;
    bool progressAllowed = true;  // the driver's own condition (dialog visible, mode)
    int64_t progressStep = 1;

  private:
    // Back to the first byte with nothing read.
    void Rewind();
    void SkipBitsSlow(int n);
    void Step() {
        ++pos_;
        ++fileOffset_;
        if (fileOffset_ >= nextProgress_) CheckProgress();
        if (pos_ >= count_ && !lastChunk_) FillChunk();
    }
    void CheckProgress();
    // Reports the last progress mark at or before the offset once it passed the next mark.
    void PassProgress();

    int fd_ = -1;
    const uint8_t* memory_ = nullptr;  // the bytes read instead of a file, when set
    uint64_t generation_ = 0;
    uint64_t missing_ = 0;
    uint64_t sharedGeneration_ = 0;           // the source's generation when shared
    const FileReader* sharedFrom_ = nullptr;  // the reader shared, if any
    // Read-ahead block the chunks are copied from.
    static constexpr int kCacheBytes = 1 << 20;
    int cacheBytes_ = kCacheBytes;
    static constexpr int kJumpReadBytes = 1 << 15;
    int ReadThroughCache(uint8_t* dst, int n, int64_t offset);
    std::unique_ptr<uint8_t[]> cache_;
    int64_t cacheStart_ = 0;
    int cacheLength_ = 0;
    int64_t fileSize_ = 0;
    int64_t filePos_ = 0;  // where the next chunk is read
    uint8_t* buf_;         // kChunkSize + kLookAhead bytes, plus padding for the window
    int pos_ = 0;
    int count_ = 0;
    int bitOffset_ = 0;
    int64_t fileOffset_ = 0;
    bool lastChunk_ = true;
    int64_t nextProgress_ = 0;
    ProgressFn progress_;
};

}  // namespace bitloupe
