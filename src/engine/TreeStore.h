// The syntax tree: every item the parser lists, with its text, icon, kind code and place.
//
// Threading rule: every public operation takes the store's one mutex, so a parse thread may
// append while the user-interface thread reads. A reader that needs several answers to agree
// (a row count and the rows behind it) either holds the store's lock across them through
// `Lock()` or tolerates the tree having grown in between: items are only ever removed by the
// thread that also inserts them, or while no parse runs, and the Qt model learns of every
// structural change through the observer before it happens (removal) or after it (insertion).
//
// Handles are non-zero 32-bit numbers that are never reused while the program runs: a handle
// that was deleted stays invalid forever, even after the whole tree was cleared.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace bitloupe {

using TreeItem = uint32_t;

// Special values for the parent and insert-after arguments.
inline constexpr TreeItem kTreeRoot = 0;               // the root level (as a parent)
inline constexpr TreeItem kInsertLast = 0xFFFFFFFFu;   // append as the last child
inline constexpr TreeItem kInsertFirst = 0xFFFFFFFEu;  // insert as the first child

// Receives notice of structural changes; used by the desktop model. Called with the store's
// lock held, from the thread that changes the tree.
class TreeObserver {
  public:
    virtual ~TreeObserver() = default;
    virtual void ItemInserted(TreeItem parent, uint32_t row, TreeItem item) = 0;
    virtual void ItemAboutToBeRemoved(TreeItem parent, uint32_t row, TreeItem item) = 0;
    virtual void ItemRemoved(TreeItem parent, uint32_t row) = 0;
    virtual void AllRemoved() = 0;
    virtual void ItemChanged(TreeItem item) = 0;
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
    // the parent or the sibling does not exist.
    TreeItem InsertItem(std::string_view text, int image, uint32_t data, TreeItem parent,
                        TreeItem after = kInsertLast);

    // Deletes the item with all its descendants; kTreeRoot deletes every item.
    void DeleteItem(TreeItem item);
    void DeleteAllItems() { DeleteItem(kTreeRoot); }

    bool IsValid(TreeItem item) const;
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
    int RowOf(TreeItem item) const;                         // -1 for no item
    size_t ItemCount() const;

    // View requests: remembered here, carried out by whatever view shows the tree.
    void Expand(TreeItem item);
    void Collapse(TreeItem item);
    bool IsExpanded(TreeItem item) const;
    void SelectItem(TreeItem item);
    TreeItem GetSelectedItem() const;
    void EnsureVisible(TreeItem item);  // expands the ancestors too
    TreeItem LastEnsuredVisible() const;

    void SetObserver(TreeObserver* observer);

    // Holds the store's lock for a group of reads; the store's own operations may be
    // called while it is held (the mutex is recursive).
    std::unique_lock<std::recursive_mutex> Lock() const {
        return std::unique_lock<std::recursive_mutex>(mutex_);
    }

    // Bytes held by the store (items, child lists, texts), for measurements.
    size_t MemoryBytes() const;

  private:
    struct Node {
        TreeItem parent = 0;
        uint32_t row = 0;
        uint32_t data = 0;
        uint32_t textRef = 0;  // chunk << kChunkBits | offset
        uint8_t textLen = 0;
        uint8_t image = 0;
        uint8_t flags = 0;
        std::vector<TreeItem> children;
    };
    static constexpr uint8_t kAlive = 1;
    static constexpr uint8_t kExpanded = 2;
    static constexpr unsigned kChunkBits = 21;  // 2 MiB text chunks

    Node* Find(TreeItem item);
    const Node* Find(TreeItem item) const;
    std::vector<TreeItem>& ChildrenOf(TreeItem parent);
    uint32_t StoreText(std::string_view text, uint8_t* len);
    std::string_view TextOf(const Node& n) const;
    void Renumber(std::vector<TreeItem>& list, size_t from);
    void KillBranch(TreeItem item);

    mutable std::recursive_mutex mutex_;
    // Nodes live in fixed blocks that never move, so the store grows without copying: node i
    // (handle base_ + i) is nodeBlocks_[i / kNodesPerBlock][i % kNodesPerBlock]. Blocks and
    // text chunks are 2 MiB mappings backed by huge pages where the system allows: the tree
    // fills its memory once, in order, and page faults would otherwise cost more than the
    // parse.
    struct BlockDeleter {
        void operator()(void* p) const;
    };
    using Block = std::unique_ptr<void, BlockDeleter>;
    static constexpr size_t kBlockBytes = size_t{1} << kChunkBits;  // a text chunk is a block
    static constexpr size_t kNodesPerBlock = kBlockBytes / sizeof(Node);
    static Block MapBlock();
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
    std::vector<Block> chunks_;
    size_t chunkUsed_ = 0;
    TreeItem selected_ = 0;
    TreeItem visible_ = 0;
    TreeObserver* observer_ = nullptr;
};

}  // namespace bitloupe
