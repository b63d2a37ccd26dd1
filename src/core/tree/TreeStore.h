// The syntax tree: every item the parser lists, with its text, icon, kind code and place.
//
// Handles are non-zero 32-bit numbers that are never reused while the program runs: a handle
// that was deleted stays invalid forever, even after the whole tree was cleared.
//
// How a view keeps up with a tree that another thread is filling
// ---------------------------------------------------------------
// One thread is the interface thread (the one that made the store, unless `SetInterfaceThread`
// names another); a parse may run on one other thread at a time. The contract:
//
//  1. A parse thread only appends: new items as last children of their parent. Every other
//     structural change (deleting, clearing, inserting before the last child) is made on the
//     interface thread, before or after the parse, or handed to it with `DeleteItemLater` and
//     `InsertItemLater` and carried out there by `ApplyDeferred`. (Made on another thread, such
//     a change fails an assertion in a debug build and is handed over in a release build.)
//  2. A view sees only published rows. Rows appended to a parent the view has asked for
//     (`SetFetched`: the root level, expanded or revealed items) are recorded as "this parent
//     gained rows"; the view drains that record (`Drain`) a few times a second on the
//     interface thread and publishes each parent's new rows (`PendingRows`, then
//     `CommitRows`), parents before children. The rows of other parents wait until the view
//     fetches them. Until then it never reads them, so appends never move anything it shows.
//  3. The interface thread's own changes that touch published rows are announced to the
//     `TreeObserver` before and after they happen, on that thread, without the store's lock,
//     so the observer may call any getter. Changes to unpublished rows need no announcement.
//  4. Select, expand, collapse and ensure-visible requests, and changes of text or icon, are
//     recorded in order and drained with the rows.
//  5. The store never calls out while it holds its lock, and every getter takes the lock, so a
//     reader on any thread sees a consistent tree.
//
// Nothing is recorded until `SetPublishing(true)`: the command-line tool pays nothing for it.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace bitloupe {

using TreeItem = uint32_t;

// What an item says of the bits it stands for and its value, besides its text.
struct ItemFacts {
    bool hasSpan = false;
    uint64_t start = 0;  // the place of its first bit: file offset * 8 + bit (0 = first)
    uint64_t bits = 0;   // the stream bits it stands for
    uint64_t end = 0;    // the file offset just past the byte of its last bit
    bool hasValue = false;
    int64_t value = 0;

    // Widens the span to take in a part's: the first bit of the first, the end of the
    // furthest, their bits summed (what a structure stands for).
    void Include(const ItemFacts& part) {
        if (!part.hasSpan) return;
        if (!hasSpan || part.start < start) start = part.start;
        if (!hasSpan || part.end > end) end = part.end;
        bits += part.bits;
        hasSpan = true;
    }
};

// Special values for the parent and insert-after arguments.
inline constexpr TreeItem kTreeRoot = 0;               // the root level (as a parent)
inline constexpr TreeItem kInsertLast = 0xFFFFFFFFu;   // append as the last child
inline constexpr TreeItem kInsertFirst = 0xFFFFFFFEu;  // insert as the first child

// The view's side of rule 3 above: told of the interface thread's changes to published rows.
class TreeObserver {
  public:
    virtual ~TreeObserver() = default;
    virtual void RowAboutToBeInserted(TreeItem parent, uint32_t row) = 0;
    virtual void RowInserted() = 0;
    virtual void RowAboutToBeRemoved(TreeItem parent, uint32_t row) = 0;
    virtual void RowRemoved() = 0;
    virtual void AboutToClear() = 0;
    virtual void Cleared() = 0;
};

enum class ViewRequestKind : uint8_t { Select, Expand, Collapse, EnsureVisible };
struct ViewRequest {
    ViewRequestKind kind;
    TreeItem item;
};

// What changed since the last drain.
struct TreeChanges {
    std::vector<TreeItem> parents;       // parents that gained rows, ascending (parents first)
    std::vector<ViewRequest> requests;   // in the order they were made
    std::vector<TreeItem> changedItems;  // text or icon changed
};

class TreeStore {
  public:
    static constexpr size_t kMaxText = 255;

    TreeStore();
    ~TreeStore();
    TreeStore(const TreeStore&) = delete;
    TreeStore& operator=(const TreeStore&) = delete;

    // Inserts an item under parent (kTreeRoot for the root level) after `after` (a sibling,
    // kInsertLast or kInsertFirst). Texts longer than 255 characters are cut. Returns 0 when
    // the parent or the sibling does not exist, or memory ran out (see `OutOfMemory`).
    TreeItem InsertItem(std::string_view text, int image, uint32_t data, TreeItem parent,
                        TreeItem after = kInsertLast);

    // Deletes the item with all its descendants; kTreeRoot deletes every item.
    // Appends an item whose text is made when it is asked for: `record` (at most kMaxText
    // bytes) is kept instead of the text, and the record formatter turns it into the text.
    TreeItem AppendRecord(const uint8_t* record, size_t len, int image, uint32_t data,
                          TreeItem parent);
    // Writes the text of a record into out (kMaxText + 1 bytes) and returns its length. One
    // formatter serves every store; the layer that makes records sets it before the first.
    using RecordFormatter = int (*)(const uint8_t* record, size_t len, char* out);
    // Reads the span and value a record holds into facts; false when it holds neither.
    using RecordReader = bool (*)(const uint8_t* record, size_t len, ItemFacts& facts);
    static void SetRecordFormatter(RecordFormatter formatter, RecordReader reader);
    // The item's own facts (from its record).
    bool GetItemFacts(TreeItem item, ItemFacts& facts) const;
    // Its span: its own, or for an item without one the span of what its descendants stand
    // for (first bit of the first, end of the furthest, their bits summed). False for a virtual
    // item and for an item that stands for no bits.
    bool GetItemSpan(TreeItem item, ItemFacts& facts) const;

    void DeleteItem(TreeItem item);
    void DeleteAllItems() { DeleteItem(kTreeRoot); }

    // The same changes asked for by a parse thread (rule 1): carried out at once on the
    // interface thread, else queued for `ApplyDeferred`. A queued insertion's handle is not
    // known to the caller.
    void DeleteItemLater(TreeItem item);
    void InsertItemLater(std::string_view text, int image, uint32_t data, TreeItem parent,
                         TreeItem after);
    // Carries out the queued changes in order; interface thread only.
    void ApplyDeferred();
    bool HasDeferred() const;

    bool IsValid(TreeItem item) const;
    // Counts every change of the structure but appends: deletions, clearing, insertions before
    // the last child. A walk that remembers its place can tell when that place may be gone.
    uint64_t StructureVersion() const { return structureVersion_.load(std::memory_order_acquire); }
    std::string GetItemText(TreeItem item) const;
    bool SetItemText(TreeItem item, std::string_view text);
    int GetItemImage(TreeItem item) const;  // -1 for no item
    bool SetItemImage(TreeItem item, int image);
    uint32_t GetItemData(TreeItem item) const;
    bool SetItemData(TreeItem item, uint32_t data);

    TreeItem GetParentItem(TreeItem item) const;  // kTreeRoot for a root item, 0 for none
    TreeItem GetChildItem(TreeItem item) const;   // first child (item may be kTreeRoot)
    TreeItem GetNextSiblingItem(TreeItem item) const;
    TreeItem GetPrevSiblingItem(TreeItem item) const;
    TreeItem GetLastChildItem(TreeItem item) const;
    bool ItemHasChildren(TreeItem item) const;
    uint32_t ChildCount(TreeItem item) const;
    TreeItem ChildAt(TreeItem parent, uint32_t row) const;  // 0 when out of range
    // Calls f(item, depth, image, data) for every item below `from` in pre-order (depth 1 for
    // its children), under one hold of the lock: a walk of millions of items without a lock
    // each. f may call the store's other functions.
    template <class F>
    void ForEachDescendant(TreeItem from, F&& f) const;
    // The items given an error image (image::kError, or a block's error images) since `mark`
    // (0 at first) and still showing it, in the order they were given it (an item may come
    // twice); moves `mark` past them. Kept as they are inserted or given the image.
    std::vector<TreeItem> FlaggedItemsFrom(size_t& mark) const;
    int RowOf(TreeItem item) const;  // -1 for no item
    size_t ItemCount() const;

    // View requests: remembered here, carried out by whatever view shows the tree.
    void Expand(TreeItem item);
    void Collapse(TreeItem item);
    bool IsExpanded(TreeItem item) const;
    // Records what the user did in the view, without asking the view for it again.
    void SetExpandedFlag(TreeItem item, bool expanded);
    void SelectItem(TreeItem item);
    TreeItem GetSelectedItem() const;
    void EnsureVisible(TreeItem item);  // expands the ancestors too
    TreeItem LastEnsuredVisible() const;

    // --- publishing (rule 2) ---
    void SetObserver(TreeObserver* observer);
    void SetInterfaceThread(std::thread::id id);
    bool OnInterfaceThread() const { return std::this_thread::get_id() == interfaceThread_; }
    // Starts or stops recording rows, requests and changes for a view. Starting marks every
    // row unpublished, so a view attached to a full tree publishes it all on its first drain.
    void SetPublishing(bool on);
    // Takes the record since the last drain.
    TreeChanges Drain();
    // The rows of parent that exist but are not published yet: false when there are none or
    // the parent itself is not published (or gone).
    bool PendingRows(TreeItem parent, uint32_t* first, uint32_t* count) const;
    // Marks parent's rows below `count` published.
    void CommitRows(TreeItem parent, uint32_t count);
    // Whether the view has asked for an item's rows (it was expanded or revealed). A view may
    // publish only the rows of such parents and fetch the others when it needs them; the root
    // level always counts as asked for.
    bool IsFetched(TreeItem parent) const;
    void SetFetched(TreeItem parent);
    uint32_t PublishedChildCount(TreeItem parent) const;
    // True for an item the view has been shown (its parent chain is published).
    bool IsPublished(TreeItem item) const;

    // True after an insertion failed for lack of memory; every later insertion fails too
    // until the tree is cleared, so nothing lands in the wrong place.
    bool OutOfMemory() const { return outOfMemory_.load(std::memory_order_relaxed); }
    // Caps the number of 2 MiB blocks the store may map (0: no cap), to test running out.
    void SetBlockLimit(size_t blocks);
    // Whether new blocks ask the kernel for huge pages (not by default). Where the kernel
    // compacts memory to find a huge page at the fault, as a usual setting does, a large
    // parse waits on it: a 150 MB program stream parsed 0.97 s with small pages against a
    // median of 1.35 s (0.88 to 1.76 s) with huge ones on a 2-core machine, and in a window
    // each fault also holds up the drawing thread.
    void UseHugePages(bool use) { hugePages_ = use; }

    // Holds the store's lock for a group of reads; the store's own operations may be
    // called while it is held (the mutex is recursive). The interface thread goes first: a
    // parse thread that wants the lock while the interface waits for it stands back, so the
    // window never waits on a parse that takes and releases the lock a million times a second.
    class Locked {
      public:
        Locked(std::recursive_mutex& m) : lock_(m) { ++depth_; }
        Locked(Locked&& other) noexcept = default;
        ~Locked() {
            if (lock_.owns_lock()) --depth_;
        }
        // Locks this thread holds on any store, to tell a nested lock from a first one.
        static int Depth() { return depth_; }

      private:
        std::unique_lock<std::recursive_mutex> lock_;
        static thread_local int depth_;
    };
    Locked Lock() const {
        if (std::this_thread::get_id() == interfaceThread_) {
            if (!shared_.load(std::memory_order_relaxed)) return Locked(mutex_);
            interfaceWaiting_.fetch_add(1, std::memory_order_acq_rel);
            Locked lock(mutex_);
            interfaceWaiting_.fetch_sub(1, std::memory_order_release);
            return lock;
        }
        if (!shared_.load(std::memory_order_relaxed)) shared_.store(true);
        if (Locked::Depth() == 0)
            while (interfaceWaiting_.load(std::memory_order_acquire) != 0)
                std::this_thread::yield();
        return Locked(mutex_);
    }

    // Bytes held by the store (items, child lists, texts), for measurements.
    size_t MemoryBytes() const;

  private:
    // Most items are leaves: the child list and the count of children shown live in a family
    // of their own, which an item gets with its first child, so a leaf is 24 bytes.
    struct Node {
        TreeItem parent = 0;
        uint32_t row = 0;
        uint32_t data = 0;
        uint32_t textRef = 0;  // chunk << kChunkBits | offset
        uint32_t family = 0;   // 1 + its index in families_, 0 for none yet
        uint8_t textLen = 0;
        uint8_t image = 0;
        uint8_t flags = 0;
    };
    struct Family {
        std::vector<TreeItem> children;
        uint32_t published = 0;  // children the view has been shown
    };
    static constexpr uint8_t kAlive = 1;
    static constexpr uint8_t kExpanded = 2;
    static constexpr uint8_t kDirty = 4;        // listed in dirty_
    static constexpr uint8_t kChanged = 8;      // listed in changedItems
    static constexpr uint8_t kFetched = 16;     // the view asked for its rows
    static constexpr uint8_t kRecord = 32;      // the text is a record to format
    static constexpr unsigned kChunkBits = 21;  // 2 MiB text chunks

    Node* Find(TreeItem item);
    const Node* Find(TreeItem item) const;
    std::vector<TreeItem>& ChildrenOf(TreeItem parent);
    // The children of a node (an empty list for a node without a family).
    const std::vector<TreeItem>& Kids(const Node& n) const {
        return n.family ? families_[n.family - 1].children : kNoChildren;
    }
    uint32_t PublishedCount(const Node& n) const {
        return n.family ? families_[n.family - 1].published : 0;
    }
    // The node's family, made when it has none.
    Family& FamilyOf(Node& n);
    static const std::vector<TreeItem> kNoChildren;
    uint32_t StoreText(std::string_view text, uint8_t* len);
    std::string_view TextOf(const Node& n) const;
    void Renumber(std::vector<TreeItem>& list, size_t from);
    void KillBranch(TreeItem item);
    bool PublishedLocked(TreeItem item) const;
    uint32_t& PublishedOf(TreeItem parent);
    void Request(ViewRequestKind kind, TreeItem item);
    void NoteChanged(Node& n, TreeItem item);
    TreeItem InsertLocked(std::string_view text, int image, uint32_t data, TreeItem parent,
                          TreeItem after, bool dryRun, bool* announce, uint32_t* row,
                          bool record = false);
    void DeleteAll();

    mutable std::recursive_mutex mutex_;
    std::vector<TreeItem> flagged_;  // items given an error image (some since changed or gone)
    mutable std::atomic<int> interfaceWaiting_{0};
    mutable std::atomic<bool> shared_{false};  // another thread has used the store
    // Nodes live in fixed blocks that never move, so the store grows without copying: node i
    // (handle base_ + i) is nodeBlocks_[i / kNodesPerBlock][i % kNodesPerBlock]. Blocks and
    // text chunks are 2 MiB mappings, aligned so that huge pages can back them when asked
    // for (UseHugePages).
    struct BlockDeleter {
        void operator()(void* p) const;
    };
    using Block = std::unique_ptr<void, BlockDeleter>;
    static constexpr size_t kBlockBytes = size_t{1} << kChunkBits;  // a text chunk is a block
    static constexpr size_t kNodesPerBlock = kBlockBytes / sizeof(Node);
    Block MapBlock();
    Node& NodeAt(size_t i) {
        return static_cast<Node*>(nodeBlocks_[i / kNodesPerBlock].get())[i % kNodesPerBlock];
    }
    const Node& NodeAt(size_t i) const {
        return static_cast<const Node*>(nodeBlocks_[i / kNodesPerBlock].get())[i % kNodesPerBlock];
    }
    void DestroyNodes();
    std::vector<Block> nodeBlocks_;
    size_t nodeCount_ = 0;
    TreeItem base_ = 1;  // handle of node 0
    TreeItem next_ = 1;  // next handle to hand out (never goes back)
    size_t alive_ = 0;
    std::vector<TreeItem> roots_;
    std::deque<Family> families_;         // never moves an element as it grows
    std::vector<uint32_t> freeFamilies_;  // families of deleted nodes, to use again
    std::vector<Block> chunks_;
    size_t chunkUsed_ = 0;
    TreeItem selected_ = 0;
    TreeItem visible_ = 0;
    TreeObserver* observer_ = nullptr;

    std::thread::id interfaceThread_ = std::this_thread::get_id();
    bool publishing_ = false;
    uint32_t rootPublished_ = 0;
    std::vector<TreeItem> dirty_;
    bool rootDirty_ = false;
    TreeChanges record_;
    struct Deferred {
        bool insert;
        TreeItem item;  // the item to delete, or the parent to insert under
        TreeItem after;
        int image;
        uint32_t data;
        std::string text;
    };
    std::vector<Deferred> deferred_;
    std::atomic<bool> outOfMemory_{false};
    std::atomic<uint64_t> structureVersion_{0};
    size_t blockLimit_ = 0;
    bool hugePages_ = false;
    size_t blocksMapped_ = 0;
};

template <class F>
void TreeStore::ForEachDescendant(TreeItem from, F&& f) const {
    auto lock = Lock();
    const Node* start = from == kTreeRoot ? nullptr : Find(from);
    if (from != kTreeRoot && !start) return;
    struct Level {
        const std::vector<TreeItem>* items;
        size_t next;
    };
    std::vector<Level> stack{{start ? &Kids(*start) : &roots_, 0}};
    while (!stack.empty()) {
        Level& level = stack.back();
        if (level.next >= level.items->size()) {
            stack.pop_back();
            continue;
        }
        const TreeItem item = (*level.items)[level.next++];
        const Node* n = Find(item);
        if (!n) continue;
        f(item, static_cast<int>(stack.size()), static_cast<int>(n->image), n->data);
        const std::vector<TreeItem>& kids = Kids(*n);
        if (!kids.empty()) stack.push_back({&kids, 0});
    }
}

}  // namespace bitloupe
