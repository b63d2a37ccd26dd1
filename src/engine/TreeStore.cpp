#include "engine/TreeStore.h"

#include <sys/mman.h>

#include <cstring>
#include <new>

namespace bitloupe {

void TreeStore::BlockDeleter::operator()(void* p) const {
    if (p) munmap(p, kBlockBytes);
}

TreeStore::Block TreeStore::MapBlock() {
    // Over-map by one block and trim, so the block starts on a 2 MiB boundary and can be one
    // huge page.
    const size_t span = 2 * kBlockBytes;
    void* raw = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) throw std::bad_alloc();
    const uintptr_t start = reinterpret_cast<uintptr_t>(raw);
    const uintptr_t aligned = (start + kBlockBytes - 1) & ~(uintptr_t{kBlockBytes} - 1);
    if (aligned > start) munmap(raw, aligned - start);
    const uintptr_t end = start + span;
    if (end > aligned + kBlockBytes)
        munmap(reinterpret_cast<void*>(aligned + kBlockBytes), end - (aligned + kBlockBytes));
    void* block = reinterpret_cast<void*>(aligned);
#ifdef MADV_HUGEPAGE
    madvise(block, kBlockBytes, MADV_HUGEPAGE);
#endif
    return Block(block);
}

void TreeStore::DestroyNodes() {
    for (size_t i = 0; i < nodeCount_; ++i) NodeAt(i).~Node();
    nodeBlocks_.clear();
    nodeCount_ = 0;
}

TreeStore::TreeStore() = default;
TreeStore::~TreeStore() {
    DestroyNodes();
}

TreeStore::Node* TreeStore::Find(TreeItem item) {
    if (item < base_ || item >= next_) return nullptr;
    Node& n = NodeAt(item - base_);
    return (n.flags & kAlive) ? &n : nullptr;
}

const TreeStore::Node* TreeStore::Find(TreeItem item) const {
    if (item < base_ || item >= next_) return nullptr;
    const Node& n = NodeAt(item - base_);
    return (n.flags & kAlive) ? &n : nullptr;
}

std::vector<TreeItem>& TreeStore::ChildrenOf(TreeItem parent) {
    return parent == kTreeRoot ? roots_ : Find(parent)->children;
}

uint32_t TreeStore::StoreText(std::string_view text, uint8_t* len) {
    if (text.size() > kMaxText) text = text.substr(0, kMaxText);
    *len = static_cast<uint8_t>(text.size());
    if (chunks_.empty() || chunkUsed_ + text.size() > kBlockBytes) {
        chunks_.push_back(MapBlock());
        chunkUsed_ = 0;
    }
    const uint32_t ref = static_cast<uint32_t>(((chunks_.size() - 1) << kChunkBits) | chunkUsed_);
    if (!text.empty())
        std::memcpy(static_cast<char*>(chunks_.back().get()) + chunkUsed_, text.data(),
                    text.size());
    chunkUsed_ += text.size();
    return ref;
}

std::string_view TreeStore::TextOf(const Node& n) const {
    const char* base = static_cast<const char*>(chunks_[n.textRef >> kChunkBits].get());
    return std::string_view(base + (n.textRef & (kBlockBytes - 1)), n.textLen);
}

void TreeStore::Renumber(std::vector<TreeItem>& list, size_t from) {
    for (size_t i = from; i < list.size(); ++i) Find(list[i])->row = static_cast<uint32_t>(i);
}

TreeItem TreeStore::InsertItem(std::string_view text, int image, uint32_t data, TreeItem parent,
                               TreeItem after) {
    auto lock = Lock();
    if (parent != kTreeRoot && !Find(parent)) return 0;
    // Texts live in 2 MiB chunks addressed by 32 bits: 2048 chunks at most.
    if (chunks_.size() >= (size_t{1} << (32 - kChunkBits)) - 1 &&
        chunkUsed_ + text.size() > kBlockBytes)
        return 0;
    if (next_ >= 0xFFFFFF00u) return 0;

    size_t pos;
    {
        std::vector<TreeItem>& siblings = ChildrenOf(parent);
        if (after == kInsertLast) {
            pos = siblings.size();
        } else if (after == kInsertFirst) {
            pos = 0;
        } else {
            const Node* a = Find(after);
            if (!a || a->parent != parent) return 0;
            pos = a->row + 1;
        }
    }

    const TreeItem handle = next_++;
    if (nodeCount_ / kNodesPerBlock == nodeBlocks_.size()) nodeBlocks_.push_back(MapBlock());
    Node& n = *new (&NodeAt(nodeCount_)) Node();
    ++nodeCount_;
    n.parent = parent;
    n.data = data;
    n.image = static_cast<uint8_t>(image < 0 || image > 255 ? 0 : image);
    n.flags = kAlive;
    n.textRef = StoreText(text, &n.textLen);
    n.row = static_cast<uint32_t>(pos);
    ++alive_;

    std::vector<TreeItem>& siblings = ChildrenOf(parent);
    if (pos == siblings.size()) {
        siblings.push_back(handle);
    } else {
        siblings.insert(siblings.begin() + static_cast<std::ptrdiff_t>(pos), handle);
        Renumber(siblings, pos + 1);
    }
    if (observer_) observer_->ItemInserted(parent, static_cast<uint32_t>(pos), handle);
    return handle;
}

void TreeStore::KillBranch(TreeItem item) {
    // Iterative, so a deep tree cannot exhaust the stack.
    std::vector<TreeItem> stack{item};
    while (!stack.empty()) {
        const TreeItem h = stack.back();
        stack.pop_back();
        Node* n = Find(h);
        if (!n) continue;
        for (TreeItem c : n->children) stack.push_back(c);
        std::vector<TreeItem>().swap(n->children);
        n->flags = 0;
        --alive_;
        if (selected_ == h) selected_ = 0;
        if (visible_ == h) visible_ = 0;
    }
}

void TreeStore::DeleteItem(TreeItem item) {
    auto lock = Lock();
    if (item == kTreeRoot) {
        if (observer_) observer_->AllRemoved();
        DestroyNodes();
        roots_.clear();
        chunks_.clear();
        chunkUsed_ = 0;
        alive_ = 0;
        base_ = next_;
        selected_ = visible_ = 0;
        return;
    }
    Node* n = Find(item);
    if (!n) return;
    const TreeItem parent = n->parent;
    const uint32_t row = n->row;
    if (observer_) observer_->ItemAboutToBeRemoved(parent, row, item);
    std::vector<TreeItem>& siblings = ChildrenOf(parent);
    siblings.erase(siblings.begin() + row);
    Renumber(siblings, row);
    KillBranch(item);
    if (observer_) observer_->ItemRemoved(parent, row);
}

bool TreeStore::IsValid(TreeItem item) const {
    auto lock = Lock();
    return Find(item) != nullptr;
}

std::string TreeStore::GetItemText(TreeItem item) const {
    auto lock = Lock();
    const Node* n = Find(item);
    return n ? std::string(TextOf(*n)) : std::string();
}

bool TreeStore::SetItemText(TreeItem item, std::string_view text) {
    auto lock = Lock();
    Node* n = Find(item);
    if (!n) return false;
    n->textRef = StoreText(text, &n->textLen);
    if (observer_) observer_->ItemChanged(item);
    return true;
}

int TreeStore::GetItemImage(TreeItem item) const {
    auto lock = Lock();
    const Node* n = Find(item);
    return n ? n->image : -1;
}

bool TreeStore::SetItemImage(TreeItem item, int image) {
    auto lock = Lock();
    Node* n = Find(item);
    if (!n) return false;
    n->image = static_cast<uint8_t>(image < 0 || image > 255 ? 0 : image);
    if (observer_) observer_->ItemChanged(item);
    return true;
}

uint32_t TreeStore::GetItemData(TreeItem item) const {
    auto lock = Lock();
    const Node* n = Find(item);
    return n ? n->data : 0;
}

bool TreeStore::SetItemData(TreeItem item, uint32_t data) {
    auto lock = Lock();
    Node* n = Find(item);
    if (!n) return false;
    n->data = data;
    return true;
}

TreeItem TreeStore::GetParentItem(TreeItem item) const {
    auto lock = Lock();
    const Node* n = Find(item);
    return n ? n->parent : 0;
}

TreeItem TreeStore::GetChildItem(TreeItem item) const {
    auto lock = Lock();
    if (item == kTreeRoot) return roots_.empty() ? 0 : roots_.front();
    const Node* n = Find(item);
    return (n && !n->children.empty()) ? n->children.front() : 0;
}

TreeItem TreeStore::GetLastChildItem(TreeItem item) const {
    auto lock = Lock();
    if (item == kTreeRoot) return roots_.empty() ? 0 : roots_.back();
    const Node* n = Find(item);
    return (n && !n->children.empty()) ? n->children.back() : 0;
}

TreeItem TreeStore::GetNextSiblingItem(TreeItem item) const {
    auto lock = Lock();
    const Node* n = Find(item);
    if (!n) return 0;
    const std::vector<TreeItem>& s = n->parent == kTreeRoot ? roots_ : Find(n->parent)->children;
    return n->row + 1 < s.size() ? s[n->row + 1] : 0;
}

TreeItem TreeStore::GetPrevSiblingItem(TreeItem item) const {
    auto lock = Lock();
    const Node* n = Find(item);
    if (!n || n->row == 0) return 0;
    const std::vector<TreeItem>& s = n->parent == kTreeRoot ? roots_ : Find(n->parent)->children;
    return s[n->row - 1];
}

bool TreeStore::ItemHasChildren(TreeItem item) const {
    return ChildCount(item) > 0;
}

uint32_t TreeStore::ChildCount(TreeItem item) const {
    auto lock = Lock();
    if (item == kTreeRoot) return static_cast<uint32_t>(roots_.size());
    const Node* n = Find(item);
    return n ? static_cast<uint32_t>(n->children.size()) : 0;
}

TreeItem TreeStore::ChildAt(TreeItem parent, uint32_t row) const {
    auto lock = Lock();
    const std::vector<TreeItem>* s = &roots_;
    if (parent != kTreeRoot) {
        const Node* n = Find(parent);
        if (!n) return 0;
        s = &n->children;
    }
    return row < s->size() ? (*s)[row] : 0;
}

int TreeStore::RowOf(TreeItem item) const {
    auto lock = Lock();
    const Node* n = Find(item);
    return n ? static_cast<int>(n->row) : -1;
}

size_t TreeStore::ItemCount() const {
    auto lock = Lock();
    return alive_;
}

void TreeStore::Expand(TreeItem item) {
    auto lock = Lock();
    if (Node* n = Find(item)) n->flags |= kExpanded;
}

void TreeStore::Collapse(TreeItem item) {
    auto lock = Lock();
    if (Node* n = Find(item)) n->flags &= static_cast<uint8_t>(~kExpanded);
}

bool TreeStore::IsExpanded(TreeItem item) const {
    auto lock = Lock();
    const Node* n = Find(item);
    return n && (n->flags & kExpanded);
}

void TreeStore::SelectItem(TreeItem item) {
    auto lock = Lock();
    selected_ = Find(item) ? item : 0;
}

TreeItem TreeStore::GetSelectedItem() const {
    auto lock = Lock();
    return selected_;
}

void TreeStore::EnsureVisible(TreeItem item) {
    auto lock = Lock();
    Node* n = Find(item);
    if (!n) return;
    visible_ = item;
    for (TreeItem p = n->parent; p != kTreeRoot;) {
        Node* pn = Find(p);
        if (!pn) break;
        pn->flags |= kExpanded;
        p = pn->parent;
    }
}

TreeItem TreeStore::LastEnsuredVisible() const {
    auto lock = Lock();
    return visible_;
}

void TreeStore::SetObserver(TreeObserver* observer) {
    auto lock = Lock();
    observer_ = observer;
}

size_t TreeStore::MemoryBytes() const {
    auto lock = Lock();
    size_t bytes = nodeBlocks_.size() * kBlockBytes + roots_.capacity() * sizeof(TreeItem);
    for (size_t i = 0; i < nodeCount_; ++i)
        bytes += NodeAt(i).children.capacity() * sizeof(TreeItem);
    bytes += chunks_.size() ? (chunks_.size() - 1) * kBlockBytes + chunkUsed_ : 0;
    return bytes;
}

}  // namespace bitloupe
