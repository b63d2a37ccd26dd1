// The syntax tree as a Qt item model: a thin view over the tree store that shows only the rows
// it has published. A parse thread appends to the store; `Publish`, called from a timer on the
// interface thread, turns what was appended since into row insertions, parents first, one
// batch per parent. Only the rows of parents the view has asked for (the root level, and
// items expanded or revealed, through `fetchMore`) are published as they come; the millions
// of fields below collapsed items wait until someone opens them. The interface thread's own
// changes to shown rows reach the model through the store's observer, so deletions and middle
// insertions are announced as they happen.
#pragma once

#include <QAbstractItemModel>
#include <QIcon>
#include <vector>

#include "core/tree/TreeStore.h"

namespace bitloupe {

class SyntaxTreeModel : public QAbstractItemModel, private TreeObserver {
    Q_OBJECT

  public:
    enum Role {
        ImageRole = Qt::UserRole + 1,  // int: the item's icon index
        ItemDataRole,                  // uint: the item's kind code
        HandleRole,                    // uint: the item's handle
    };

    explicit SyntaxTreeModel(TreeStore& store, QObject* parent = nullptr);
    ~SyntaxTreeModel() override;

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    bool hasChildren(const QModelIndex& parent = {}) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    TreeStore& store() { return store_; }
    TreeItem ItemOf(const QModelIndex& index) const;
    // The index of a published item; invalid for the root level, an item not published yet,
    // or a deleted one.
    QModelIndex IndexOf(TreeItem item) const;
    // Publishes the rows of the item's ancestors, so that it has an index; invalid for a
    // deleted item.
    QModelIndex Reveal(TreeItem item);
    // Publishes the pending rows of one parent and marks it asked for.
    void FetchRows(TreeItem parent);

    // Icons by image index.
    void SetIcons(std::vector<QIcon> icons) { icons_ = std::move(icons); }

    struct Publication {
        size_t rows = 0;                    // rows published
        bool complete = true;               // false: the time ran out, more is pending
        std::vector<ViewRequest> requests;  // for the view to carry out, in order
    };
    // Carries out the changes the parse thread handed over, publishes the rows appended since
    // the last call, signals changed texts and icons, and returns the view requests. With a
    // budget (milliseconds, -1 for none) it stops when the time is up and keeps the rest, and
    // the requests, for the next call, so the interface never stalls on a large batch.
    Publication Publish(int budgetMs = -1);
    bool HasPending() const { return !pending_.empty(); }

  private:
    void RowAboutToBeInserted(TreeItem parent, uint32_t row) override;
    void RowInserted() override;
    void RowAboutToBeRemoved(TreeItem parent, uint32_t row) override;
    void RowRemoved() override;
    void AboutToClear() override;
    void Cleared() override;

    TreeStore& store_;
    std::vector<QIcon> icons_;
    bool inserting_ = false;  // between beginInsertRows and endInsertRows
    // Between a change the store announces and its end: a view may ask for rows then (a tree
    // view lays itself out while a row goes), and they are fetched at the next publish instead,
    // so that no insertion lands inside another change.
    bool storeChanging_ = false;
    std::vector<TreeItem> deferredFetches_;
    std::vector<TreeItem> pending_;  // parents with rows to publish, ascending
    std::vector<ViewRequest> heldRequests_;
    std::vector<TreeItem> heldChanges_;
};

}  // namespace bitloupe
