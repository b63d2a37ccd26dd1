#include "core/tree/TreeStore.h"

#include <sys/mman.h>

#include <algorithm>
#include <cassert>
#include <cstring>
#include <new>

#include "core/tree/ItemKinds.h"

namespace bitloupe {

thread_local int TreeStore::Locked::depth_ = 0;

void TreeStore::BlockDeleter::operator()(void* p) const {
    if (p) munmap(p, kBlockBytes);
}

TreeStore::Block TreeStore::MapBlock() {
    if (blockLimit_ && blocksMapped_ >= blockLimit_) throw std::bad_alloc();
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
    if (hugePages_) madvise(block, kBlockBytes, MADV_HUGEPAGE);
#endif
#ifdef MADV_POPULATE_WRITE
    // Every page of a block is written before the next block is mapped: one call that fills in
    // the whole block costs far less than a fault for each page (a kernel without it refuses,
    // and the pages come by faults as before).
    madvise(block, kBlockBytes, MADV_POPULATE_WRITE);
#endif
    ++blocksMapped_;
    return Block(block);
}

void TreeStore::DestroyNodes() {
    for (size_t i = 0; i < nodeCount_; ++i) NodeAt(i).~Node();
    blocksMapped_ -= nodeBlocks_.size();
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

const std::vector<TreeItem> TreeStore::kNoChildren;

TreeStore::Family& TreeStore::FamilyOf(Node& n) {
    if (!n.family) {
        if (!freeFamilies_.empty()) {
            n.family = freeFamilies_.back();
            freeFamilies_.pop_back();
        } else {
            families_.emplace_back();
            n.family = static_cast<uint32_t>(families_.size());
        }
    }
    return families_[n.family - 1];
}

std::vector<TreeItem>& TreeStore::ChildrenOf(TreeItem parent) {
    return parent == kTreeRoot ? roots_ : FamilyOf(*Find(parent)).children;
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

namespace {
std::atomic<TreeStore::RecordFormatter> recordFormatter{nullptr};
std::atomic<TreeStore::RecordReader> recordReader{nullptr};
}  // namespace

void TreeStore::SetRecordFormatter(RecordFormatter formatter, RecordReader reader) {
    recordFormatter.store(formatter, std::memory_order_release);
    recordReader.store(reader, std::memory_order_release);
}

bool TreeStore::GetItemFacts(TreeItem item, ItemFacts& facts) const {
    facts = ItemFacts();
    auto lock = Lock();
    const Node* n = Find(item);
    if (!n || !(n->flags & kRecord)) return false;
    const RecordReader read = recordReader.load(std::memory_order_acquire);
    const char* base = static_cast<const char*>(chunks_[n->textRef >> kChunkBits].get());
    return read && read(reinterpret_cast<const uint8_t*>(base + (n->textRef & (kBlockBytes - 1))),
                        n->textLen, facts);
}

bool TreeStore::GetItemSpan(TreeItem item, ItemFacts& facts) const {
    auto lock = Lock();
    const Node* n = Find(item);
    if (!n || IsVirtual(n->data)) {
        facts = ItemFacts();
        return false;
    }
    if (GetItemFacts(item, facts) && facts.hasSpan) return true;
    ItemFacts span;
    for (TreeItem c : Kids(*n)) {
        ItemFacts f;
        if (GetItemSpan(c, f)) span.Include(f);
    }
    facts.hasSpan = span.hasSpan;
    facts.start = span.start;
    facts.end = span.end;
    facts.bits = span.bits;
    return span.hasSpan;
}

std::string_view TreeStore::TextOf(const Node& n) const {
    const char* base = static_cast<const char*>(chunks_[n.textRef >> kChunkBits].get());
    const std::string_view stored(base + (n.textRef & (kBlockBytes - 1)), n.textLen);
    if (!(n.flags & kRecord)) return stored;
    thread_local char text[kMaxText + 1];
    const RecordFormatter format = recordFormatter.load(std::memory_order_acquire);
    if (!format) return {};
    const int len = format(reinterpret_cast<const uint8_t*>(stored.data()), stored.size(), text);
    return std::string_view(text, len < 0 ? 0 : len > int{kMaxText} ? kMaxText : len);
}

void TreeStore::Renumber(std::vector<TreeItem>& list, size_t from) {
    for (size_t i = from; i < list.size(); ++i) Find(list[i])->row = static_cast<uint32_t>(i);
}

TreeItem TreeStore::InsertLocked(std::string_view text, int image, uint32_t data, TreeItem parent,
                                 TreeItem after, bool dryRun, bool* announce, uint32_t* row,
                                 bool record) {
    if (outOfMemory_.load(std::memory_order_relaxed)) return 0;
    if (parent != kTreeRoot && !Find(parent)) return 0;
    // Texts live in 2 MiB chunks addressed by 32 bits: 2048 chunks at most.
    if (chunks_.size() >= (size_t{1} << (32 - kChunkBits)) - 1 &&
        chunkUsed_ + text.size() > kBlockBytes)
        return 0;
    if (next_ >= 0xFFFFFF00u) return 0;

    std::vector<TreeItem>* list;
    try {
        list = &ChildrenOf(parent);
    } catch (const std::bad_alloc&) {
        outOfMemory_.store(true, std::memory_order_relaxed);
        return 0;
    }
    std::vector<TreeItem>& siblings = *list;
    size_t pos;
    if (after == kInsertLast) {
        pos = siblings.size();
    } else if (after == kInsertFirst) {
        pos = 0;
    } else {
        const Node* a = Find(after);
        if (!a || a->parent != parent) return 0;
        pos = a->row + 1;
    }
    uint32_t& published = PublishedOf(parent);
    *row = static_cast<uint32_t>(pos);
    *announce = pos < published;
    if (dryRun) return 0;  // the caller only wanted to know the row

    // Everything that can fail comes first, so a failure leaves the tree as it was.
    uint8_t textLen = 0;
    uint32_t textRef = 0;
    try {
        if (nodeCount_ / kNodesPerBlock == nodeBlocks_.size()) nodeBlocks_.push_back(MapBlock());
        if (siblings.size() == siblings.capacity())
            siblings.reserve(siblings.empty() ? 4 : siblings.capacity() * 2);
        textRef = StoreText(text, &textLen);
    } catch (const std::bad_alloc&) {
        outOfMemory_.store(true, std::memory_order_relaxed);
        return 0;
    }

    const TreeItem handle = next_++;
    Node& n = *new (&NodeAt(nodeCount_)) Node();
    ++nodeCount_;
    n.parent = parent;
    n.data = data;
    n.image = static_cast<uint8_t>(image < 0 || image > 255 ? 0 : image);
    if (IsErrorImage(n.image)) flagged_.push_back(handle);
    n.flags = record ? kAlive | kRecord : kAlive;
    n.textRef = textRef;
    n.textLen = textLen;
    n.row = static_cast<uint32_t>(pos);
    ++alive_;

    if (pos == siblings.size()) {
        siblings.push_back(handle);
    } else {
        siblings.insert(siblings.begin() + static_cast<std::ptrdiff_t>(pos), handle);
        Renumber(siblings, pos + 1);
        structureVersion_.fetch_add(1, std::memory_order_release);
    }
    if (*announce) {
        ++published;  // the view was told of this row
    } else if (publishing_) {
        // Only parents the view has asked for are recorded: the rows of the others are
        // fetched when someone opens them, so a parse that fills millions of collapsed
        // branches costs the view nothing.
        if (parent == kTreeRoot) {
            rootDirty_ = true;
        } else if (Node* p = Find(parent); (p->flags & (kDirty | kFetched)) == kFetched) {
            p->flags |= kDirty;
            dirty_.push_back(parent);
        }
    }
    return handle;
}

TreeItem TreeStore::InsertItem(std::string_view text, int image, uint32_t data, TreeItem parent,
                               TreeItem after) {
    bool announce = false;
    uint32_t row = 0;
    if (after != kInsertLast) {
        if (!OnInterfaceThread()) {
            assert(!"only the interface thread inserts before the last child");
            InsertItemLater(text, image, data, parent, after);
            return 0;
        }
        if (observer_) {
            // A dry run tells whether the view must hear of it first.
            {
                auto lock = Lock();
                InsertLocked(text, image, data, parent, after, true, &announce, &row);
            }
            if (announce) observer_->RowAboutToBeInserted(parent, row);
        }
    }
    TreeItem handle;
    {
        auto lock = Lock();
        bool shown = false;
        handle = InsertLocked(text, image, data, parent, after, false, &shown, &row);
    }
    if (announce) observer_->RowInserted();
    return handle;
}

TreeItem TreeStore::AppendRecord(const uint8_t* record, size_t len, int image, uint32_t data,
                                 TreeItem parent) {
    if (len > kMaxText) return 0;
    auto lock = Lock();
    bool shown = false;
    uint32_t row = 0;
    return InsertLocked(std::string_view(reinterpret_cast<const char*>(record), len), image, data,
                        parent, kInsertLast, false, &shown, &row, true);
}

void TreeStore::KillBranch(TreeItem item) {
    // Iterative, so a deep tree cannot exhaust the stack.
    std::vector<TreeItem> stack{item};
    while (!stack.empty()) {
        const TreeItem h = stack.back();
        stack.pop_back();
        Node* n = Find(h);
        if (!n) continue;
        if (n->family) {
            Family& f = families_[n->family - 1];
            stack.insert(stack.end(), f.children.begin(), f.children.end());
            std::vector<TreeItem>().swap(f.children);
            f.published = 0;
            freeFamilies_.push_back(n->family);
            n->family = 0;
        }
        n->flags = 0;
        --alive_;
        if (selected_ == h) selected_ = 0;
        if (visible_ == h) visible_ = 0;
    }
}

void TreeStore::DeleteAll() {
    structureVersion_.fetch_add(1, std::memory_order_release);
    DestroyNodes();
    roots_.clear();
    flagged_.clear();
    families_.clear();
    freeFamilies_.clear();
    blocksMapped_ -= chunks_.size();
    chunks_.clear();
    chunkUsed_ = 0;
    alive_ = 0;
    base_ = next_;
    selected_ = visible_ = 0;
    rootPublished_ = 0;
    rootDirty_ = false;
    dirty_.clear();
    record_ = TreeChanges();
    deferred_.clear();
    outOfMemory_.store(false, std::memory_order_relaxed);
}

void TreeStore::DeleteItem(TreeItem item) {
    if (!OnInterfaceThread()) {
        assert(!"only the interface thread deletes items");
        DeleteItemLater(item);
        return;
    }
    if (item == kTreeRoot) {
        if (observer_) observer_->AboutToClear();
        {
            auto lock = Lock();
            DeleteAll();
        }
        if (observer_) observer_->Cleared();
        return;
    }
    TreeItem parent;
    uint32_t row;
    bool announce;
    {
        auto lock = Lock();
        const Node* n = Find(item);
        if (!n) return;
        parent = n->parent;
        row = n->row;
        announce = observer_ && row < PublishedOf(parent) && PublishedLocked(parent);
    }
    // Only this thread moves existing rows, so the row stays right while the lock is off.
    if (announce) observer_->RowAboutToBeRemoved(parent, row);
    {
        auto lock = Lock();
        std::vector<TreeItem>& siblings = ChildrenOf(parent);
        siblings.erase(siblings.begin() + row);
        Renumber(siblings, row);
        uint32_t& published = PublishedOf(parent);
        if (row < published) --published;
        KillBranch(item);
        structureVersion_.fetch_add(1, std::memory_order_release);
    }
    if (announce) observer_->RowRemoved();
}

void TreeStore::DeleteItemLater(TreeItem item) {
    if (OnInterfaceThread()) {
        DeleteItem(item);
        return;
    }
    auto lock = Lock();
    deferred_.push_back({false, item, 0, 0, 0, {}});
}

void TreeStore::InsertItemLater(std::string_view text, int image, uint32_t data, TreeItem parent,
                                TreeItem after) {
    if (OnInterfaceThread()) {
        InsertItem(text, image, data, parent, after);
        return;
    }
    auto lock = Lock();
    deferred_.push_back({true, parent, after, image, data, std::string(text)});
}

void TreeStore::ApplyDeferred() {
    assert(OnInterfaceThread());
    std::vector<Deferred> work;
    {
        auto lock = Lock();
        work.swap(deferred_);
    }
    for (const Deferred& d : work) {
        if (d.insert)
            InsertItem(d.text, d.image, d.data, d.item, d.after);
        else
            DeleteItem(d.item);
    }
}

bool TreeStore::HasDeferred() const {
    auto lock = Lock();
    return !deferred_.empty();
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
    try {
        uint8_t len = 0;
        n->textRef = StoreText(text, &len);
        n->textLen = len;
        n->flags &= static_cast<uint8_t>(~kRecord);
    } catch (const std::bad_alloc&) {
        outOfMemory_.store(true, std::memory_order_relaxed);
        return false;
    }
    NoteChanged(*n, item);
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
    if (IsErrorImage(n->image)) flagged_.push_back(item);
    NoteChanged(*n, item);
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
    return (n && !Kids(*n).empty()) ? Kids(*n).front() : 0;
}

TreeItem TreeStore::GetLastChildItem(TreeItem item) const {
    auto lock = Lock();
    if (item == kTreeRoot) return roots_.empty() ? 0 : roots_.back();
    const Node* n = Find(item);
    return (n && !Kids(*n).empty()) ? Kids(*n).back() : 0;
}

TreeItem TreeStore::GetNextSiblingItem(TreeItem item) const {
    auto lock = Lock();
    const Node* n = Find(item);
    if (!n) return 0;
    const std::vector<TreeItem>& s = n->parent == kTreeRoot ? roots_ : Kids(*Find(n->parent));
    return n->row + 1 < s.size() ? s[n->row + 1] : 0;
}

TreeItem TreeStore::GetPrevSiblingItem(TreeItem item) const {
    auto lock = Lock();
    const Node* n = Find(item);
    if (!n || n->row == 0) return 0;
    const std::vector<TreeItem>& s = n->parent == kTreeRoot ? roots_ : Kids(*Find(n->parent));
    return s[n->row - 1];
}

bool TreeStore::ItemHasChildren(TreeItem item) const {
    return ChildCount(item) > 0;
}

uint32_t TreeStore::ChildCount(TreeItem item) const {
    auto lock = Lock();
    if (item == kTreeRoot) return static_cast<uint32_t>(roots_.size());
    const Node* n = Find(item);
    return n ? static_cast<uint32_t>(Kids(*n).size()) : 0;
}

TreeItem TreeStore::ChildAt(TreeItem parent, uint32_t row) const {
    auto lock = Lock();
    const std::vector<TreeItem>* s = &roots_;
    if (parent != kTreeRoot) {
        const Node* n = Find(parent);
        if (!n) return 0;
        s = &Kids(*n);
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

void TreeStore::Request(ViewRequestKind kind, TreeItem item) {
    if (publishing_) record_.requests.push_back({kind, item});
}

void TreeStore::NoteChanged(Node& n, TreeItem item) {
    if (!publishing_ || (n.flags & kChanged)) return;
    n.flags |= kChanged;
    record_.changedItems.push_back(item);
}

void TreeStore::Expand(TreeItem item) {
    auto lock = Lock();
    if (Node* n = Find(item)) {
        n->flags |= kExpanded;
        Request(ViewRequestKind::Expand, item);
    }
}

void TreeStore::Collapse(TreeItem item) {
    auto lock = Lock();
    if (Node* n = Find(item)) {
        n->flags &= static_cast<uint8_t>(~kExpanded);
        Request(ViewRequestKind::Collapse, item);
    }
}

void TreeStore::SetExpandedFlag(TreeItem item, bool expanded) {
    auto lock = Lock();
    if (Node* n = Find(item)) {
        if (expanded)
            n->flags |= kExpanded;
        else
            n->flags &= static_cast<uint8_t>(~kExpanded);
    }
}

bool TreeStore::IsExpanded(TreeItem item) const {
    auto lock = Lock();
    const Node* n = Find(item);
    return n && (n->flags & kExpanded);
}

void TreeStore::SelectItem(TreeItem item) {
    auto lock = Lock();
    selected_ = Find(item) ? item : 0;
    Request(ViewRequestKind::Select, selected_);
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
    Request(ViewRequestKind::EnsureVisible, item);
}

TreeItem TreeStore::LastEnsuredVisible() const {
    auto lock = Lock();
    return visible_;
}

void TreeStore::SetObserver(TreeObserver* observer) {
    auto lock = Lock();
    observer_ = observer;
}

void TreeStore::SetInterfaceThread(std::thread::id id) {
    auto lock = Lock();
    interfaceThread_ = id;
}

uint32_t& TreeStore::PublishedOf(TreeItem parent) {
    return parent == kTreeRoot ? rootPublished_ : FamilyOf(*Find(parent)).published;
}

bool TreeStore::PublishedLocked(TreeItem item) const {
    // An item is shown when its row is below its parent's published count, all the way up.
    while (item != kTreeRoot) {
        const Node* n = Find(item);
        if (!n) return false;
        const uint32_t shown =
            n->parent == kTreeRoot ? rootPublished_ : PublishedCount(*Find(n->parent));
        if (n->row >= shown) return false;
        item = n->parent;
    }
    return true;
}

bool TreeStore::IsPublished(TreeItem item) const {
    auto lock = Lock();
    return PublishedLocked(item);
}

void TreeStore::SetPublishing(bool on) {
    auto lock = Lock();
    if (on == publishing_) return;
    publishing_ = on;
    dirty_.clear();
    record_ = TreeChanges();
    rootPublished_ = 0;
    rootDirty_ = false;
    for (Family& f : families_) f.published = 0;
    for (size_t i = 0; i < nodeCount_; ++i) {
        Node& n = NodeAt(i);
        n.flags &= static_cast<uint8_t>(~(kDirty | kChanged | kFetched));
    }
    rootDirty_ = on && !roots_.empty();
}

TreeChanges TreeStore::Drain() {
    auto lock = Lock();
    TreeChanges out;
    std::swap(out, record_);
    // Handles grow with time and a parent is always older than its children, so ascending
    // order publishes every parent before the rows below it.
    std::sort(dirty_.begin(), dirty_.end());
    if (rootDirty_) out.parents.push_back(kTreeRoot);
    rootDirty_ = false;
    for (TreeItem p : dirty_) {
        if (Node* n = Find(p)) {
            n->flags &= static_cast<uint8_t>(~kDirty);
            out.parents.push_back(p);
        }
    }
    dirty_.clear();
    for (TreeItem c : out.changedItems)
        if (Node* n = Find(c)) n->flags &= static_cast<uint8_t>(~kChanged);
    return out;
}

bool TreeStore::PendingRows(TreeItem parent, uint32_t* first, uint32_t* count) const {
    auto lock = Lock();
    if (!PublishedLocked(parent)) return false;
    const std::vector<TreeItem>& list = parent == kTreeRoot ? roots_ : Kids(*Find(parent));
    const uint32_t shown = parent == kTreeRoot ? rootPublished_ : PublishedCount(*Find(parent));
    if (list.size() <= shown) return false;
    *first = shown;
    *count = static_cast<uint32_t>(list.size()) - shown;
    return true;
}

void TreeStore::CommitRows(TreeItem parent, uint32_t count) {
    auto lock = Lock();
    if (parent != kTreeRoot && !Find(parent)) return;
    const size_t size = parent == kTreeRoot ? roots_.size() : Kids(*Find(parent)).size();
    if (size == 0) return;  // nothing shown, and no family to make for it
    uint32_t& shown = PublishedOf(parent);
    shown = static_cast<uint32_t>(std::min<size_t>(count, size));
}

bool TreeStore::IsFetched(TreeItem parent) const {
    auto lock = Lock();
    if (parent == kTreeRoot) return true;
    const Node* n = Find(parent);
    return n && (n->flags & kFetched);
}

void TreeStore::SetFetched(TreeItem parent) {
    auto lock = Lock();
    if (Node* n = Find(parent)) {
        n->flags |= kFetched;
        // Rows appended from now on are recorded; those before wait for the caller to fetch.
        if (publishing_ && !(n->flags & kDirty)) {
            n->flags |= kDirty;
            dirty_.push_back(parent);
        }
    }
}

uint32_t TreeStore::PublishedChildCount(TreeItem parent) const {
    auto lock = Lock();
    if (parent == kTreeRoot) return rootPublished_;
    const Node* n = Find(parent);
    return n ? PublishedCount(*n) : 0;
}

void TreeStore::SetBlockLimit(size_t blocks) {
    auto lock = Lock();
    blockLimit_ = blocks;
}

size_t TreeStore::MemoryBytes() const {
    auto lock = Lock();
    size_t bytes = nodeBlocks_.size() * kBlockBytes + roots_.capacity() * sizeof(TreeItem);
    bytes += families_.size() * sizeof(Family);
    for (const Family& f : families_) bytes += f.children.capacity() * sizeof(TreeItem);
    bytes += chunks_.size() ? (chunks_.size() - 1) * kBlockBytes + chunkUsed_ : 0;
    return bytes;
}

std::vector<TreeItem> TreeStore::FlaggedItemsFrom(size_t& mark) const {
    auto lock = Lock();
    std::vector<TreeItem> out;
    if (mark > flagged_.size()) mark = 0;  // the tree was cleared since
    for (size_t i = mark; i < flagged_.size(); ++i) {
        const Node* n = Find(flagged_[i]);
        if (n && IsErrorImage(n->image)) out.push_back(flagged_[i]);
    }
    mark = flagged_.size();
    return out;
}

}  // namespace bitloupe
