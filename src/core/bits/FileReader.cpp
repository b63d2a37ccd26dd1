#include "core/bits/FileReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "core/bits/StartCodeScan.h"

namespace bitloupe {

namespace {
// The window reads up to 5 bytes from the current one; the padding keeps that inside the
// buffer even at the last look-ahead byte.
constexpr int kBufferBytes = FileReader::kChunkSize + FileReader::kLookAhead + 8;

// Reads up to n bytes at offset; a failed read counts as the end of the file.
int ReadAt(int fd, uint8_t* dst, int n, int64_t offset) {
    int got = 0;
    while (got < n) {
        const ssize_t r = pread(fd, dst + got, static_cast<size_t>(n - got), offset + got);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break;
        got += static_cast<int>(r);
    }
    return got;
}
}  // namespace

FileReader::FileReader() : buf_(new uint8_t[kBufferBytes]()) {}

FileReader::~FileReader() {
    Close();
    delete[] buf_;
}

bool FileReader::Open(const std::string& path) {
    Close();
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) return false;
    struct stat st {};
    if (fstat(fd_, &st) != 0) {
        Close();
        return false;
    }
    fileSize_ = S_ISREG(st.st_mode) ? static_cast<int64_t>(st.st_size) : 0;
    Rewind();
    return true;
}

void FileReader::OpenMemory(const uint8_t* data, size_t size) {
    Close();
    // Without bytes there is nothing to point at; an empty buffer of our own stands in.
    static const uint8_t kNothing = 0;
    memory_ = data ? data : &kNothing;
    fileSize_ = data ? static_cast<int64_t>(size) : 0;
    Rewind();
}

void FileReader::Rewind() {
    missing_ = 0;
    filePos_ = 0;
    fileOffset_ = 0;
    pos_ = count_ = bitOffset_ = 0;
    lastChunk_ = true;
    std::memset(buf_, 0, kBufferBytes);
}

void FileReader::ShareSource(const FileReader& other) {
    if (sharedFrom_ == &other && sharedGeneration_ == other.generation_) return;
    Close();
    if (other.memory_) {
        OpenMemory(other.memory_, static_cast<size_t>(other.fileSize_));
    } else if (other.fd_ >= 0) {
        // Reads are positioned (pread), so a duplicate descriptor shares nothing that moves.
        fd_ = ::fcntl(other.fd_, F_DUPFD_CLOEXEC, 0);
        if (fd_ >= 0) {
            fileSize_ = other.fileSize_;
            Rewind();
        }
    }
    sharedFrom_ = &other;
    sharedGeneration_ = other.generation_;
}

void FileReader::Close() {
    ++generation_;
    sharedFrom_ = nullptr;
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    memory_ = nullptr;
    fileSize_ = 0;
    pos_ = count_ = bitOffset_ = 0;
    lastChunk_ = true;
    cacheStart_ = 0;
    cacheLength_ = 0;
}

int FileReader::ReadThroughCache(uint8_t* dst, int n, int64_t offset) {
    if (memory_) {
        // The bytes are at hand: copied straight from the buffer.
        const int64_t available = fileSize_ - offset;
        const int m = available <= 0 ? 0 : available < n ? static_cast<int>(available) : n;
        if (m > 0) std::memcpy(dst, memory_ + offset, static_cast<size_t>(m));
        return m;
    }
    // Chunks are small; the file is read in large blocks and the chunks copied out of them.
    if (offset < cacheStart_ || offset + n > cacheStart_ + cacheLength_) {
        if (!cache_) cache_ = std::make_unique_for_overwrite<uint8_t[]>(cacheBytes_);
        // Reading on from the block before gets a whole block; after a jump elsewhere (a
        // selected item, a checkpoint) a small one, which grows again as reading goes on.
        const bool onward = offset >= cacheStart_ && offset <= cacheStart_ + cacheLength_;
        const int size = onward ? cacheBytes_ : kJumpReadBytes;
        cacheStart_ = offset;
        cacheLength_ = ReadAt(fd_, cache_.get(), std::max(size, n), offset);
    }
    const int64_t available = cacheStart_ + cacheLength_ - offset;
    const int m = available <= 0 ? 0 : available < n ? static_cast<int>(available) : n;
    if (m > 0) std::memcpy(dst, cache_.get() + (offset - cacheStart_), static_cast<size_t>(m));
    return m;
}

void FileReader::FillChunk() {
    // The chunk and its look-ahead bytes in one read; the next chunk starts right after the
    // chunk, so the look-ahead bytes are read again then.
    int got = IsOpen() ? ReadThroughCache(buf_, kChunkSize + kLookAhead, filePos_) : 0;
    if (got > kChunkSize) {
        count_ = kChunkSize;
        lastChunk_ = false;
    } else if (got == kChunkSize) {
        count_ = kChunkSize;
        lastChunk_ = false;
    } else {
        count_ = got;
        lastChunk_ = true;
    }
    std::memset(buf_ + got, 0, static_cast<size_t>(kBufferBytes - got));
    filePos_ += count_;
    pos_ = 0;
    bitOffset_ = 0;
}

void FileReader::SkipBitsSlow(int n) {
    if (n <= 0) return;
    while (n > 0 && !AtEnd()) {
        const int inByte = 8 - bitOffset_;
        if (n < inByte) {
            bitOffset_ += n;
            return;
        }
        n -= inByte;
        bitOffset_ = 0;
        ++pos_;
        ++fileOffset_;
        if (pos_ >= count_ && !lastChunk_) FillChunk();
    }
    missing_ += static_cast<uint64_t>(n);
}

void FileReader::NextByte(bool advance) {
    if (advance && !AtEnd()) Step();
    if (!AtEnd()) bitOffset_ = 0;
}

bool FileReader::ScanStartCode(uint32_t& acc, uint32_t lo, uint32_t hi) {
    if (bitOffset_) NextByte(true);
    if (AtEnd()) return false;
    const int end = ScanForStartCode(buf_, pos_, count_, acc, lo, hi);
    Advance((end < 0 ? count_ : end) - pos_);
    return end >= 0;
}

void FileReader::Advance(int n) {
    if (n <= 0) return;
    pos_ += n;
    fileOffset_ += n;
    PassProgress();
    if (pos_ >= count_ && !lastChunk_) FillChunk();
}

void FileReader::PassProgress() {
    if (fileOffset_ < nextProgress_) return;
    // Report the last progress mark passed, as byte steps would have.
    const int64_t step = progressStep < 1 ? 1 : progressStep;
    const int64_t mark = fileOffset_ / step * step;
    if (mark >= nextProgress_ && reportProgress && progressAllowed && progress_) progress_(mark);
    nextProgress_ = mark + step;
}

void FileReader::SkipTo(int64_t offset) {
    if (bitOffset_) NextByte(true);
    const int64_t ahead = offset - fileOffset_;
    missing_ = 0;
    if (ahead >= 0 && ahead < BytesInChunk()) {
        Advance(static_cast<int>(ahead));
        return;
    }
    const int64_t next = nextProgress_;
    if (offset >= fileSize_) {
        // Nothing is left to read.
        filePos_ = fileOffset_ = fileSize_;
        pos_ = count_ = bitOffset_ = 0;
        lastChunk_ = true;
    } else {
        Seek(offset < 0 ? 0 : offset);
        FillChunk();
    }
    if (ahead > 0) {
        nextProgress_ = next;
        PassProgress();
    }
}

void FileReader::Seek(int64_t offset) {
    if (offset < 0 || offset >= fileSize_) return;
    missing_ = 0;
    filePos_ = offset;
    lastChunk_ = false;
    fileOffset_ = offset;
    nextProgress_ = offset;
    // The reader's bytes are stale until the next FillChunk.
    pos_ = count_ = 0;
    bitOffset_ = 0;
}

void FileReader::CheckProgress() {
    const int64_t step = progressStep < 1 ? 1 : progressStep;
    if (fileOffset_ % step == 0 && reportProgress && progressAllowed && progress_) {
        progress_(fileOffset_);
    }
    nextProgress_ = (fileOffset_ / step + 1) * step;
}

}  // namespace bitloupe
