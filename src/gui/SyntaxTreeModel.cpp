#include "gui/SyntaxTreeModel.h"

#include <QColor>
#include <QElapsedTimer>
#include <algorithm>
#include <iterator>

#include "core/session/SyntaxParser.h"
#include "core/tree/TreeColours.h"

namespace bitloupe {

namespace {
QVariant ToColour(const TextColour& c) {
    return c.set ? QVariant(QColor(c.r, c.g, c.b)) : QVariant();
}
}  // namespace

SyntaxTreeModel::SyntaxTreeModel(TreeStore& store, QObject* parent)
    : QAbstractItemModel(parent), store_(store) {
    store_.SetObserver(this);
    store_.SetPublishing(true);
}

SyntaxTreeModel::~SyntaxTreeModel() {
    store_.SetPublishing(false);
    store_.SetObserver(nullptr);
}

TreeItem SyntaxTreeModel::ItemOf(const QModelIndex& index) const {
    return index.isValid() ? static_cast<TreeItem>(index.internalId()) : kTreeRoot;
}

QModelIndex SyntaxTreeModel::IndexOf(TreeItem item) const {
    if (item == kTreeRoot || !store_.IsPublished(item)) return {};
    return createIndex(store_.RowOf(item), 0, static_cast<quintptr>(item));
}

QModelIndex SyntaxTreeModel::index(int row, int column, const QModelIndex& parent) const {
    if (row < 0 || column != 0) return {};
    const TreeItem p = ItemOf(parent);
    if (static_cast<uint32_t>(row) >= store_.PublishedChildCount(p)) return {};
    const TreeItem item = store_.ChildAt(p, static_cast<uint32_t>(row));
    return item ? createIndex(row, 0, static_cast<quintptr>(item)) : QModelIndex();
}

QModelIndex SyntaxTreeModel::parent(const QModelIndex& child) const {
    if (!child.isValid()) return {};
    const TreeItem p = store_.GetParentItem(ItemOf(child));
    if (p == kTreeRoot) return {};
    return createIndex(store_.RowOf(p), 0, static_cast<quintptr>(p));
}

int SyntaxTreeModel::rowCount(const QModelIndex& parent) const {
    if (parent.column() > 0) return 0;
    return static_cast<int>(store_.PublishedChildCount(ItemOf(parent)));
}

int SyntaxTreeModel::columnCount(const QModelIndex&) const {
    return 1;
}

bool SyntaxTreeModel::hasChildren(const QModelIndex& parent) const {
    if (parent.column() > 0) return false;
    // Rows not fetched yet still show the item as a branch.
    return store_.ChildCount(ItemOf(parent)) > 0;
}

bool SyntaxTreeModel::canFetchMore(const QModelIndex& parent) const {
    // Not while rows are going in: a view that asks then would insert them twice.
    if (inserting_ || storeChanging_ || parent.column() > 0) return false;
    uint32_t first, count;
    return store_.PendingRows(ItemOf(parent), &first, &count);
}

void SyntaxTreeModel::fetchMore(const QModelIndex& parent) {
    if (parent.column() <= 0) FetchRows(ItemOf(parent));
}

void SyntaxTreeModel::FetchRows(TreeItem parent) {
    store_.SetFetched(parent);
    if (storeChanging_) {
        deferredFetches_.push_back(parent);
        return;
    }
    uint32_t first = 0, count = 0;
    if (inserting_ || !store_.PendingRows(parent, &first, &count)) return;
    inserting_ = true;
    beginInsertRows(IndexOf(parent), static_cast<int>(first), static_cast<int>(first + count - 1));
    store_.CommitRows(parent, first + count);
    endInsertRows();
    inserting_ = false;
}

QModelIndex SyntaxTreeModel::Reveal(TreeItem item) {
    if (!store_.IsValid(item)) return {};
    std::vector<TreeItem> chain;
    for (TreeItem p = store_.GetParentItem(item); p != kTreeRoot; p = store_.GetParentItem(p))
        chain.push_back(p);
    FetchRows(kTreeRoot);
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) FetchRows(*it);
    return IndexOf(item);
}

Qt::ItemFlags SyntaxTreeModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

QVariant SyntaxTreeModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return {};
    const TreeItem item = ItemOf(index);
    switch (role) {
        case Qt::DisplayRole:
        case Qt::ToolTipRole:
            return QString::fromUtf8(store_.GetItemText(item));
        case Qt::DecorationRole: {
            const int image = store_.GetItemImage(item);
            if (image >= 0 && static_cast<size_t>(image) < icons_.size()) return icons_[image];
            return {};
        }
        case ImageRole:
            return store_.GetItemImage(item);
        case ItemDataRole:
            return static_cast<uint>(store_.GetItemData(item));
        case HandleRole:
            return static_cast<uint>(item);
        case Qt::ForegroundRole: {
            const bool top = store_.GetParentItem(item) == kTreeRoot;
            return ToColour(ItemTextColour(top, store_.GetItemData(item)));
        }
        default:
            return {};
    }
}

SyntaxTreeModel::Publication SyntaxTreeModel::Publish(int budgetMs) {
    Publication out;
    QElapsedTimer clock;
    clock.start();
    store_.ApplyDeferred();
    std::vector<TreeItem> fetches;
    fetches.swap(deferredFetches_);
    for (TreeItem parent : fetches)
        if (parent == kTreeRoot || store_.IsValid(parent)) FetchRows(parent);
    TreeChanges changes = store_.Drain();
    // Parents wait in ascending order (a parent is always older than its children), so every
    // parent's row is published before the rows below it.
    if (!changes.parents.empty()) {
        std::vector<TreeItem> merged;
        merged.reserve(pending_.size() + changes.parents.size());
        std::merge(pending_.begin(), pending_.end(), changes.parents.begin(), changes.parents.end(),
                   std::back_inserter(merged));
        merged.erase(std::unique(merged.begin(), merged.end()), merged.end());
        pending_.swap(merged);
    }
    heldRequests_.insert(heldRequests_.end(), changes.requests.begin(), changes.requests.end());
    heldChanges_.insert(heldChanges_.end(), changes.changedItems.begin(),
                        changes.changedItems.end());

    size_t done = 0;
    for (; done < pending_.size(); ++done) {
        if (budgetMs >= 0 && (done & 63) == 63 && clock.elapsed() >= budgetMs) break;
        const TreeItem parent = pending_[done];
        // Rows below a parent nobody opened wait until it is (fetchMore).
        if (!store_.IsFetched(parent)) continue;
        uint32_t first = 0, count = 0;
        if (!store_.PendingRows(parent, &first, &count)) continue;
        // The parse thread only appends, so these rows stay where they are while the lock
        // is off; more may come, and wait for the next call.
        inserting_ = true;
        beginInsertRows(IndexOf(parent), static_cast<int>(first),
                        static_cast<int>(first + count - 1));
        store_.CommitRows(parent, first + count);
        endInsertRows();
        inserting_ = false;
        out.rows += count;
    }
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(done));
    if (!pending_.empty()) {
        out.complete = false;
        return out;  // the requests wait until their rows are shown
    }
    for (TreeItem item : heldChanges_) {
        const QModelIndex index = IndexOf(item);
        if (index.isValid()) Q_EMIT dataChanged(index, index);
    }
    heldChanges_.clear();
    out.requests.reserve(heldRequests_.size());
    for (const ViewRequest& r : heldRequests_)
        if (r.item == kTreeRoot || store_.IsValid(r.item)) out.requests.push_back(r);
    heldRequests_.clear();
    return out;
}

void SyntaxTreeModel::RowAboutToBeInserted(TreeItem parent, uint32_t row) {
    storeChanging_ = true;
    beginInsertRows(IndexOf(parent), static_cast<int>(row), static_cast<int>(row));
}

void SyntaxTreeModel::RowInserted() {
    endInsertRows();
    storeChanging_ = false;
}

void SyntaxTreeModel::RowAboutToBeRemoved(TreeItem parent, uint32_t row) {
    storeChanging_ = true;
    beginRemoveRows(IndexOf(parent), static_cast<int>(row), static_cast<int>(row));
}

void SyntaxTreeModel::RowRemoved() {
    endRemoveRows();
    storeChanging_ = false;
}

void SyntaxTreeModel::AboutToClear() {
    storeChanging_ = true;
    beginResetModel();
    deferredFetches_.clear();
    pending_.clear();
    heldRequests_.clear();
    heldChanges_.clear();
}

void SyntaxTreeModel::Cleared() {
    storeChanging_ = false;  // the view may fetch the new rows as the reset ends
    endResetModel();
}

}  // namespace bitloupe
