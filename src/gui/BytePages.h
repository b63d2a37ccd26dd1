// The bytes pane's view of the file: pages of 64 KiB read with pread when a row needs them, the
// least recently used dropped beyond 16 MB, so that a file of many gigabytes opens at once and
// costs no more memory than a small one. Also the byte search the pane's find commands use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace bitloupe {

class BytePages {
  public:
    static constexpr size_t kPageSize = 64 * 1024;
    static constexpr size_t kMaxPages = 256;  // 16 MB

    BytePages() = default;
    ~BytePages() { Close(); }
    BytePages(const BytePages&) = delete;
    BytePages& operator=(const BytePages&) = delete;

    // Opens a file for reading; false with the reason in `error` when it cannot be read.
    bool Open(const std::string& path, std::string& error);
    void Close();
    bool IsOpen() const { return fd_ >= 0; }
    uint64_t Size() const { return size_; }

    // The byte at `offset`; 0 past the end (or where the file could not be read).
    uint8_t At(uint64_t offset);
    // Copies up to n bytes from `offset`; fewer at the end of the file.
    size_t Read(uint64_t offset, uint8_t* out, size_t n);
    size_t PagesHeld() const { return pages_.size(); }

  private:
    struct Page {
        uint64_t index = 0;
        size_t length = 0;  // bytes read; short for the last page or after a read error
        std::vector<uint8_t> bytes;
    };
    const Page* Fetch(uint64_t index);

    int fd_ = -1;
    uint64_t size_ = 0;
    std::list<Page> pages_;  // most recently used first
    std::unordered_map<uint64_t, std::list<Page>::iterator> byIndex_;
};

// A byte pattern for the find commands: a byte value, or -1 for a byte that matches any.
using BytePattern = std::vector<int>;

// Reads "00 00 01 B3", "000001b3" or "00 ?? 01 ?" (a wildcard is "?" or "??"); nullopt for
// anything else, an empty pattern included.
std::optional<BytePattern> ParseBytePattern(const std::string& text);

// The first place at or after `from` (forward) or the last at or before `from` (backward) where
// the pattern lies wholly inside the file. The file is read a window at a time, each window
// reaching the pattern's length less one into the next.
constexpr size_t kSearchWindow = 1 << 20;
std::optional<uint64_t> FindBytes(BytePages& pages, const BytePattern& pattern, uint64_t from,
                                  bool forward);

}  // namespace bitloupe
