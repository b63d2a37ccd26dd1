// Helpers shared by the unit tests: a bit writer for hand-made streams, temporary files, and
// an engine wired to recording surroundings.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "core/base/Host.h"
#include "core/session/HeadlessEngine.h"
#include "core/session/SyntaxParser.h"
#include "core/syntax/StreamState.h"
#include "core/tree/TreeStore.h"

namespace bitloupe::test {

class BitWriter {
  public:
    void Bits(uint64_t value, int n) {
        for (int i = n - 1; i >= 0; --i) Bit((value >> i) & 1);
    }
    void Bit(unsigned b) {
        if (fill_ == 0) bytes_.push_back(0);
        if (b) bytes_.back() |= static_cast<uint8_t>(0x80 >> fill_);
        fill_ = (fill_ + 1) & 7;
    }
    void Byte(uint8_t b) { Bits(b, 8); }
    void Bytes(const std::vector<uint8_t>& v) {
        for (uint8_t b : v) Byte(b);
    }
    void StartCode(uint8_t code) { Bits(0x00000100u | code, 32); }
    void Align() {
        while (fill_) Bit(0);
    }
    // "0110 01" style strings; spaces ignored.
    void Pattern(const std::string& s) {
        for (char c : s)
            if (c == '0' || c == '1') Bit(c == '1');
    }
    const std::vector<uint8_t>& bytes() const { return bytes_; }
    size_t size() const { return bytes_.size(); }

  private:
    std::vector<uint8_t> bytes_;
    int fill_ = 0;
};

// An MPEG-1 sequence header (32x16, square pels, 25 fps) and a GOP header, then the picture
// header of a D picture and its slice header (quantizer_scale 8): its macroblocks come next.
inline void DPictureSlice(BitWriter& w) {
    w.StartCode(0xB3);
    w.Bits(32, 12);
    w.Bits(16, 12);
    w.Bits(1, 4);
    w.Bits(3, 4);
    w.Pattern("001001001001111100 1 0001110000 0 0 0");
    w.Align();
    w.StartCode(0xB8);
    w.Bits(1u << 12, 25);
    w.Pattern("10");
    w.Align();
    w.StartCode(0x00);
    w.Bits(0, 10);       // temporal_reference
    w.Bits(4, 3);        // D picture
    w.Bits(0xFFFF, 16);  // vbv_delay
    w.Bit(0);            // extra_bit_picture
    w.Align();
    w.StartCode(0x01);
    w.Bits(8, 5);  // quantizer_scale
    w.Bit(0);      // extra_bit_slice
}

// A file in the temporary directory, removed when the object goes.
class TempFile {
  public:
    explicit TempFile(const std::vector<uint8_t>& data, const std::string& suffix = ".bin") {
        char name[] = "/tmp/bitloupe-test-XXXXXX";
        const int fd = mkstemp(name);
        if (fd >= 0) close(fd);
        path_ = std::string(name) + suffix;
        std::rename(name, path_.c_str());
        std::ofstream out(path_, std::ios::binary);
        out.write(reinterpret_cast<const char*>(data.data()),
                  static_cast<std::streamsize>(data.size()));
    }
    ~TempFile() { std::remove(path_.c_str()); }
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

inline std::string DataPath(const std::string& name) {
    return std::string(BITLOUPE_TEST_DATA) + "/" + name;
}
inline bool HaveData(const std::string& name) {
    return std::ifstream(DataPath(name)).good();
}

// The engine with recording surroundings, as the command-line tool wires it.
struct Engine : HeadlessEngine {
    bool Open(const std::string& path) { return parser.OpenFile(path); }
    // Runs the parse of the given mode as the Parse button does.
    void Parse(int mode = kModeVideoOnly) {
        dialog.mode = mode;
        dialog.BeginParse();
        if (stream.streamType == kProgramStream && mode == kModeProgramStreamOnly)
            parser.ParseSystemStream();
        else
            parser.ParseVideoStream();
    }
    std::string Text(TreeItem item) const { return tree.GetItemText(item); }
    std::vector<std::string> ChildTexts(TreeItem item) const {
        std::vector<std::string> out;
        for (TreeItem c = tree.GetChildItem(item); c; c = tree.GetNextSiblingItem(c))
            out.push_back(tree.GetItemText(c));
        return out;
    }
    // Finds the first item in pre-order whose text starts with prefix (0 when none).
    TreeItem Find(const std::string& prefix, TreeItem from = kTreeRoot) const;
    size_t CountWithImage(int image, TreeItem from = kTreeRoot) const;
};

// The picture items of the video root, in stream order (below GOP items or directly).
inline std::vector<TreeItem> Pictures(const Engine& e) {
    std::vector<TreeItem> out;
    const TreeStore& t = e.tree;
    for (TreeItem c = t.GetChildItem(e.stream.videoItem); c; c = t.GetNextSiblingItem(c)) {
        if (t.GetItemData(c) == kind::kPicture) out.push_back(c);
        if (t.GetItemData(c) == kind::kGop)
            for (TreeItem p = t.GetChildItem(c); p; p = t.GetNextSiblingItem(p))
                if (t.GetItemData(p) == kind::kPicture) out.push_back(p);
    }
    return out;
}

// The children of item whose data is `data`.
inline std::vector<TreeItem> Children(const TreeStore& t, TreeItem item, uint32_t data) {
    std::vector<TreeItem> out;
    for (TreeItem c = t.GetChildItem(item); c; c = t.GetNextSiblingItem(c))
        if (t.GetItemData(c) == data) out.push_back(c);
    return out;
}

inline TreeItem Engine::Find(const std::string& prefix, TreeItem from) const {
    for (TreeItem c = tree.GetChildItem(from); c; c = tree.GetNextSiblingItem(c)) {
        if (tree.GetItemText(c).rfind(prefix, 0) == 0) return c;
        if (TreeItem f = Find(prefix, c)) return f;
    }
    return 0;
}

inline size_t Engine::CountWithImage(int image, TreeItem from) const {
    size_t n = 0;
    for (TreeItem c = tree.GetChildItem(from); c; c = tree.GetNextSiblingItem(c)) {
        if (tree.GetItemImage(c) == image) ++n;
        n += CountWithImage(image, c);
    }
    return n;
}

}  // namespace bitloupe::test
