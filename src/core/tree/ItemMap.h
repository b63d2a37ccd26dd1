// The per-item record maps: a record keyed by tree item handle. A parse fills them by the
// hundred thousand (a macroblock parse by the million), so they are flat: the entries lie back
// to back in blocks that never move, and an open-addressing index of 8-byte slots (linear
// probing, deletion by backward shift) finds them. Growing rebuilds the index only, and the
// entries take their own size and no more, whatever the index's load.
//
// The interface is the part of std::unordered_map the engine uses. find() returns a pointer to
// the entry, or end() (null) when there is none. Pointers stay valid across insertions; an
// erasure may move one other entry.
#pragma once

#include <cstdint>
#include <memory>
#include <new>
#include <stdexcept>
#include <type_traits>
#include <utility>
#include <vector>

#include "core/tree/TreeStore.h"

namespace bitloupe {

template <class T>
class ItemMap {
    static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>,
                  "records are plain data: entries are copied as bytes and never destroyed");

  public:
    struct value_type {
        TreeItem first;
        T second;
    };
    using iterator = value_type*;
    using const_iterator = const value_type*;

    iterator end() { return nullptr; }
    const_iterator end() const { return nullptr; }
    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }

    iterator find(TreeItem key) { return const_cast<iterator>(std::as_const(*this).find(key)); }
    const_iterator find(TreeItem key) const {
        const size_t i = IndexSlot(key);
        return i == kNone ? nullptr : &Entry(index_[i].entry);
    }
    size_t count(TreeItem key) const { return find(key) ? 1 : 0; }

    T& at(TreeItem key) {
        if (iterator it = find(key)) return it->second;
        throw std::out_of_range("no record for this item");
    }
    const T& at(TreeItem key) const {
        if (const_iterator it = find(key)) return it->second;
        throw std::out_of_range("no record for this item");
    }

    T& operator[](TreeItem key) { return emplace(key, T()).first->second; }

    // Inserts the value unless the key has an entry; returns the entry and whether it is new.
    std::pair<iterator, bool> emplace(TreeItem key, const T& value) {
        if (iterator it = find(key)) return {it, false};
        if ((size_ + 1) * 4 > index_.size() * 3) Grow();
        if (size_ == blocks_.size() * kBlockEntries)
            blocks_.emplace_back(
                static_cast<value_type*>(::operator new(kBlockEntries * sizeof(value_type))));
        size_t i = Home(key);
        while (index_[i].tag != 0) i = (i + 1) & mask_;
        index_[i] = {key + 1, static_cast<uint32_t>(size_)};
        value_type* entry = new (&Entry(size_)) value_type{key, value};
        ++size_;
        return {entry, true};
    }

    size_t erase(TreeItem key) {
        size_t i = IndexSlot(key);
        if (i == kNone) return 0;
        const uint32_t hole = index_[i].entry;
        index_[i] = {};
        // Move later slots of the probe run back, so every key stays reachable from its home
        // slot without tombstones.
        for (size_t j = (i + 1) & mask_; index_[j].tag != 0; j = (j + 1) & mask_) {
            const size_t home = Home(index_[j].tag - 1);
            if (((j - home) & mask_) >= ((j - i) & mask_)) {
                index_[i] = index_[j];
                index_[j] = {};
                i = j;
            }
        }
        // The last entry fills the hole, so the entries stay back to back.
        --size_;
        if (hole != size_) {
            Entry(hole) = Entry(size_);
            index_[IndexSlot(Entry(hole).first)].entry = hole;
        }
        if (size_ + kBlockEntries <= (blocks_.size() - 1) * kBlockEntries) blocks_.pop_back();
        return 1;
    }
    void erase(iterator it) { erase(it->first); }

    // Calls f(entry) for every entry, in no particular order.
    template <class F>
    void ForEach(F f) const {
        for (size_t i = 0; i < size_; ++i) f(Entry(i));
    }

    void clear() {
        std::vector<Slot>().swap(index_);
        std::vector<Block>().swap(blocks_);
        size_ = 0;
        mask_ = 0;
        shift_ = 64;
    }

  private:
    static constexpr size_t kNone = SIZE_MAX;
    static constexpr size_t kBlockShift = 12;
    static constexpr size_t kBlockEntries = size_t{1} << kBlockShift;

    struct Slot {
        uint32_t tag = 0;    // key + 1; 0 marks a free slot
        uint32_t entry = 0;  // where the entry lies
    };
    struct FreeBlock {
        void operator()(value_type* p) const { ::operator delete(p); }
    };
    using Block = std::unique_ptr<value_type, FreeBlock>;

    value_type& Entry(size_t n) const {
        return blocks_[n >> kBlockShift].get()[n & (kBlockEntries - 1)];
    }
    size_t Home(TreeItem key) const {
        return static_cast<size_t>((uint64_t{key} * 0x9E3779B97F4A7C15ull) >> shift_) & mask_;
    }
    // The index slot of the key, or kNone.
    size_t IndexSlot(TreeItem key) const {
        if (size_ == 0) return kNone;
        const uint32_t tag = key + 1;
        for (size_t i = Home(key);; i = (i + 1) & mask_) {
            if (index_[i].tag == tag) return i;
            if (index_[i].tag == 0) return kNone;
        }
    }
    void Grow() {
        const size_t capacity = index_.empty() ? 16 : index_.size() * 2;
        std::vector<Slot>(capacity).swap(index_);
        mask_ = capacity - 1;
        shift_ = 64;
        for (size_t c = capacity; c > 1; c >>= 1) --shift_;
        for (size_t n = 0; n < size_; ++n) {
            const TreeItem key = Entry(n).first;
            size_t i = Home(key);
            while (index_[i].tag != 0) i = (i + 1) & mask_;
            index_[i] = {key + 1, static_cast<uint32_t>(n)};
        }
    }

    std::vector<Slot> index_;
    std::vector<Block> blocks_;  // kBlockEntries entries each; the first size_ entries are used
    size_t size_ = 0;
    size_t mask_ = 0;
    unsigned shift_ = 64;
};

}  // namespace bitloupe
