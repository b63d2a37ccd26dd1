#include "gui/BytePages.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

namespace bitloupe {

bool BytePages::Open(const std::string& path, std::string& error) {
    Close();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = S_ISDIR(st.st_mode) ? "it is a folder" : "not a regular file";
        ::close(fd);
        return false;
    }
    fd_ = fd;
    size_ = static_cast<uint64_t>(st.st_size);
    return true;
}

void BytePages::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    size_ = 0;
    pages_.clear();
    byIndex_.clear();
}

const BytePages::Page* BytePages::Fetch(uint64_t index) {
    if (fd_ < 0 || index * kPageSize >= size_) return nullptr;
    if (!pages_.empty() && pages_.front().index == index) return &pages_.front();
    if (auto it = byIndex_.find(index); it != byIndex_.end()) {
        pages_.splice(pages_.begin(), pages_, it->second);
        return &pages_.front();
    }
    // A new page takes the buffer of the least recently used one once the cache is full.
    if (pages_.size() >= kMaxPages) {
        byIndex_.erase(pages_.back().index);
        pages_.splice(pages_.begin(), pages_, std::prev(pages_.end()));
    } else {
        pages_.emplace_front();
        pages_.front().bytes.resize(kPageSize);
    }
    Page& page = pages_.front();
    page.index = index;
    page.length = 0;
    const uint64_t start = index * kPageSize;
    const size_t want = static_cast<size_t>(std::min<uint64_t>(kPageSize, size_ - start));
    while (page.length < want) {
        const ssize_t got = ::pread(fd_, page.bytes.data() + page.length, want - page.length,
                                    static_cast<off_t>(start + page.length));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;  // a read error or a file cut short since it was opened
        page.length += static_cast<size_t>(got);
    }
    byIndex_[index] = pages_.begin();
    return &page;
}

uint8_t BytePages::At(uint64_t offset) {
    const Page* page = Fetch(offset / kPageSize);
    const size_t at = offset % kPageSize;
    return page && at < page->length ? page->bytes[at] : 0;
}

size_t BytePages::Read(uint64_t offset, uint8_t* out, size_t n) {
    size_t done = 0;
    while (done < n && offset < size_) {
        const Page* page = Fetch(offset / kPageSize);
        const size_t at = offset % kPageSize;
        if (!page || at >= page->length) break;
        const size_t count = std::min(n - done, page->length - at);
        std::memcpy(out + done, page->bytes.data() + at, count);
        done += count;
        offset += count;
    }
    return done;
}

std::optional<BytePattern> ParseBytePattern(const std::string& text) {
    BytePattern pattern;
    size_t i = 0;
    auto hexValue = [](char c) {
        return std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : std::tolower(c) - 'a' + 10;
    };
    while (i < text.size()) {
        const char c = text[i];
        if (std::isspace(static_cast<unsigned char>(c))) {
            ++i;
        } else if (c == '?') {
            // "?" and "??" are one byte each; "???" is a byte and a half, which means nothing.
            const bool twice = i + 1 < text.size() && text[i + 1] == '?';
            i += twice ? 2 : 1;
            if (i < text.size() && !std::isspace(static_cast<unsigned char>(text[i])))
                return std::nullopt;
            pattern.push_back(-1);
        } else if (std::isxdigit(static_cast<unsigned char>(c)) && i + 1 < text.size() &&
                   std::isxdigit(static_cast<unsigned char>(text[i + 1]))) {
            pattern.push_back(hexValue(c) * 16 + hexValue(text[i + 1]));
            i += 2;
        } else {
            return std::nullopt;
        }
    }
    if (pattern.empty()) return std::nullopt;
    return pattern;
}

namespace {

bool MatchesAt(const uint8_t* bytes, const BytePattern& pattern) {
    for (size_t k = 0; k < pattern.size(); ++k)
        if (pattern[k] >= 0 && bytes[k] != pattern[k]) return false;
    return true;
}

}  // namespace

std::optional<uint64_t> FindBytes(BytePages& pages, const BytePattern& pattern, uint64_t from,
                                  bool forward) {
    const uint64_t size = pages.Size();
    const size_t m = pattern.size();
    if (m == 0 || m > size) return std::nullopt;
    const uint64_t lastStart = size - m;
    // A byte of the pattern that memchr looks for first, which is what keeps a search through
    // gigabytes down to seconds: not a wildcard, and rather not 00 or FF, which fill whole
    // stretches of a stream (stuffing, zero bytes, holes) and would stop memchr at every byte.
    size_t k = m;
    for (size_t i = 0; i < m; ++i) {
        if (pattern[i] < 0) continue;
        if (k == m) k = i;
        if (pattern[i] != 0x00 && pattern[i] != 0xFF) {
            k = i;
            break;
        }
    }
    const int key = k < m ? pattern[k] : -1;
    // The windows overlap by the pattern's length less one, so a match across two is seen.
    std::vector<uint8_t> buffer(kSearchWindow + m - 1);
    const uint8_t* b = buffer.data();
    if (forward) {
        for (uint64_t pos = from; pos <= lastStart; pos += kSearchWindow) {
            const size_t got = pages.Read(pos, buffer.data(), buffer.size());
            if (got < m) break;
            const size_t starts = std::min<uint64_t>(got - m, lastStart - pos) + 1;
            for (size_t i = 0; i < starts; ++i) {
                if (key >= 0) {
                    const void* hit = std::memchr(b + i + k, key, starts - i);
                    if (!hit) break;
                    i = static_cast<size_t>(static_cast<const uint8_t*>(hit) - b) - k;
                }
                if (MatchesAt(b + i, pattern)) return pos + i;
            }
        }
        return std::nullopt;
    }
    uint64_t end = std::min(from, lastStart);  // the last start still to look at
    for (;;) {
        const uint64_t pos = end >= kSearchWindow - 1 ? end - (kSearchWindow - 1) : 0;
        const size_t got = pages.Read(pos, buffer.data(), static_cast<size_t>(end - pos) + m);
        if (got >= m) {
            for (size_t i = std::min<size_t>(static_cast<size_t>(end - pos), got - m) + 1;
                 i-- > 0;) {
                if (key >= 0) {
                    const void* hit = memrchr(b + k, key, i + 1);
                    if (!hit) break;
                    i = static_cast<size_t>(static_cast<const uint8_t*>(hit) - b) - k;
                }
                if (MatchesAt(b + i, pattern)) return pos + i;
            }
        }
        if (pos == 0) return std::nullopt;
        end = pos - 1;
    }
}

}  // namespace bitloupe
