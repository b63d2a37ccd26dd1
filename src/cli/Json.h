// The JSON the command line writes: standard output through a buffer of its own, strings and
// the indices of an element.
#pragma once

#include <charconv>
#include <cstdio>
#include <string>
#include <type_traits>
#include <vector>

namespace bitloupe::cli {

// Standard output through a large buffer of its own: the JSON form writes hundreds of megabytes
// in small pieces, which a stream's per-call costs would dominate.
class JsonOut {
  public:
    ~JsonOut() { Flush(); }
    JsonOut& operator<<(const char* text) {
        buf_ += text;
        return Check();
    }
    JsonOut& operator<<(const std::string& text) {
        buf_ += text;
        return Check();
    }
    JsonOut& operator<<(char c) {
        buf_ += c;
        return Check();
    }
    template <class T>
    requires std::is_integral_v<T> JsonOut& operator<<(T value) {
        char digits[24];
        const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
        buf_.append(digits, end);
        return Check();
    }
    void Flush() {
        if (!buf_.empty()) std::fwrite(buf_.data(), 1, buf_.size(), stdout);
        buf_.clear();
        std::fflush(stdout);
    }

  private:
    JsonOut& Check() {
        if (buf_.size() >= (1u << 20)) {
            std::fwrite(buf_.data(), 1, buf_.size(), stdout);
            buf_.clear();
        }
        return *this;
    }
    std::string buf_;
};

// A string in quotes, escaped; bytes outside ASCII as \u00XX.
void JsonString(JsonOut& out, const std::string& s);
// ", \"index\": [...]" for an element's indices (numbers as numbers); nothing for none.
void JsonIndex(JsonOut& out, const std::vector<std::string>& index);

}  // namespace bitloupe::cli
