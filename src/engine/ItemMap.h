// The per-item record maps: a record keyed by tree item handle. A parse fills them by the
// hundred thousand, so they are flat open-addressing tables (linear probing, deletion by
// backward shift) rather than node-based hash maps: one allocation per growth, no pointer
// chasing, a fraction of the memory.
//
// The interface is the part of std::unordered_map the engine uses. find() returns a pointer to
// the entry, or end() (null) when there is none. Pointers stay valid until the next insertion
// or erasure.
#pragma once

#include <cstdint>
#include <memory>
#include <new>
#include <stdexcept>
#include <type_traits>
#include <utility>
#include <vector>

#include "engine/TreeStore.h"

namespace bitloupe {

template <class T>
class ItemMap {
    static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>,
                  "records are plain data: slots are copied as bytes and never destroyed");

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
        if (size_ == 0) return nullptr;
        const uint32_t tag = key + 1;
        for (size_t i = Home(key);; i = (i + 1) & mask_) {
            if (tags_[i] == tag) return &slots_.get()[i];
            if (tags_[i] == 0) return nullptr;
        }
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
        if ((size_ + 1) * 4 > tags_.size() * 3) Grow();
        size_t i = Home(key);
        while (tags_[i] != 0) i = (i + 1) & mask_;
        tags_[i] = key + 1;
        value_type* slot = new (&slots_.get()[i]) value_type{key, value};
        ++size_;
        return {slot, true};
    }

    size_t erase(TreeItem key) {
        iterator it = find(key);
        if (!it) return 0;
        erase(it);
        return 1;
    }
    void erase(iterator it) {
        value_type* slots = slots_.get();
        size_t i = static_cast<size_t>(it - slots);
        tags_[i] = 0;
        --size_;
        // Move later entries of the probe run back, so every entry stays reachable from its
        // home slot without tombstones.
        for (size_t j = (i + 1) & mask_; tags_[j] != 0; j = (j + 1) & mask_) {
            const size_t home = Home(tags_[j] - 1);
            if (((j - home) & mask_) >= ((j - i) & mask_)) {
                tags_[i] = tags_[j];
                slots[i] = slots[j];
                tags_[j] = 0;
                i = j;
            }
        }
    }

    // Calls f(entry) for every entry, in no particular order.
    template <class F>
    void ForEach(F f) const {
        for (size_t i = 0; i < tags_.size(); ++i)
            if (tags_[i]) f(slots_.get()[i]);
    }

    void clear() {
        std::vector<uint32_t>().swap(tags_);
        slots_.reset();
        size_ = 0;
        mask_ = 0;
        shift_ = 64;
    }

  private:
    size_t Home(TreeItem key) const {
        return static_cast<size_t>((uint64_t{key} * 0x9E3779B97F4A7C15ull) >> shift_) & mask_;
    }
    void Grow() {
        const size_t capacity = tags_.empty() ? 16 : tags_.size() * 2;
        std::vector<uint32_t> oldTags = std::exchange(tags_, std::vector<uint32_t>(capacity, 0));
        // Slots are raw storage: only slots whose tag is set hold an entry.
        Slots oldSlots = std::exchange(
            slots_, Slots(static_cast<value_type*>(::operator new(capacity * sizeof(value_type)))));
        mask_ = capacity - 1;
        shift_ = 64;
        for (size_t c = capacity; c > 1; c >>= 1) --shift_;
        for (size_t k = 0; k < oldTags.size(); ++k) {
            if (!oldTags[k]) continue;
            size_t i = Home(oldTags[k] - 1);
            while (tags_[i] != 0) i = (i + 1) & mask_;
            tags_[i] = oldTags[k];
            new (&slots_.get()[i]) value_type(oldSlots.get()[k]);
        }
    }

    struct FreeSlots {
        void operator()(value_type* p) const { ::operator delete(p); }
    };
    using Slots = std::unique_ptr<value_type, FreeSlots>;

    std::vector<uint32_t> tags_;  // key + 1; 0 marks a free slot
    Slots slots_;
    size_t size_ = 0;
    size_t mask_ = 0;
    unsigned shift_ = 64;
};

}  // namespace bitloupe
