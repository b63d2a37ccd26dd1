#include "gui/SyntaxTree.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QMenu>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <unordered_map>

#include "core/base/Messages.h"
#include "core/session/SyntaxParser.h"
#include "core/session/TreeCommands.h"
#include "gui/CommandIds.h"

namespace bitloupe {

namespace {

// Rows 18 pixels high. Unselected texts take the colours the model gives; selected ones keep
// the palette's selection colours (the program's colours, blue above all, vanish on a band).
class ItemDelegate : public QStyledItemDelegate {
  public:
    explicit ItemDelegate(QTreeView* view) : QStyledItemDelegate(view) {}

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize s = QStyledItemDelegate::sizeHint(option, index);
        s.setHeight(18);
        return s;
    }
};

struct PopupEntry {
    int id;
    const char* text;
};
constexpr PopupEntry kPopup[] = {
    {cmd::tree::kExpand, "Expand"},
    {cmd::tree::kCollapse, "Collapse"},
    {cmd::tree::kCollapseChildren, "Collapse Children"},
    {cmd::tree::kExpandTree, "Expand Tree"},
    {cmd::tree::kCollapseTree, "Collapse Tree"},
    {cmd::tree::kExpandAll, "Expand All"},
    {cmd::tree::kCollapseAll, "Collapse All"},
    {0, nullptr},
    {cmd::kParsePayload, "Parse Packet Payload"},
    {cmd::kParseSliceMbs, "Parse MBs in Slice"},
    {cmd::kDeleteSliceMbs, "Delete MBs in Slice"},
    {cmd::kParsePictureMbs, "Parse MBs in Picture"},
    {cmd::kDeletePictureMbs, "Delete MBs in Picture"},
    {0, nullptr},
    {cmd::tree::kSearchTree, "Search Tree\tF3"},
    {cmd::tree::kSearchAll, "Search All Data\tF3"},
    {0, nullptr},
    {cmd::tree::kExportItem, "Export Item\tCtrl+C"},
    {cmd::tree::kExportAll, "Export Tree (All)"},
    {cmd::tree::kExportNonVirtual, "Export Tree (Non-Virtual)"},
    {cmd::tree::kExportYCbCr, "Export Tree (Y-Cb-Cr)"},
};

}  // namespace

CSyntaxTree::CSyntaxTree(SyntaxTreeModel* model, Host* host, QWidget* parent)
    : QTreeView(parent), model_(model), host_(host) {
    setModel(model);
    setObjectName("syntaxTree");
    setHeaderHidden(true);
    setUniformRowHeights(true);  // millions of rows scroll without measuring each
    setItemDelegate(new ItemDelegate(this));
    setIconSize(QSize(16, 16));
    setRootIsDecorated(true);
    setMouseTracking(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    header()->setStretchLastSection(false);
    // The column is as wide as the widest row painted so far (see drawRow). Fitting it to its
    // contents at each layout measured a thousand rows (Qt's default) every time a running
    // parse added rows, which kept the window busy; fitting it to the rows in view cut short
    // the wider rows that scrolled in later.
    header()->setSectionResizeMode(QHeaderView::Fixed);
    setAnimated(false);
    connect(model, &QAbstractItemModel::modelReset, this, [this] {
        widest_ = 0;
        header()->resizeSection(0, 0);
    });

    // The remembered expanded state follows the user's clicks.
    connect(this, &QTreeView::expanded, this, [this](const QModelIndex& i) {
        store().SetExpandedFlag(model_->ItemOf(i), true);
        if (!applying_) userActed_ = true;
    });
    connect(this, &QTreeView::collapsed, this, [this](const QModelIndex& i) {
        store().SetExpandedFlag(model_->ItemOf(i), false);
        if (!applying_) userActed_ = true;
    });
    for (QScrollBar* bar : {verticalScrollBar(), horizontalScrollBar()})
        connect(bar, &QScrollBar::actionTriggered, this, [this] { userActed_ = true; });

    searchTimer_.setSingleShot(true);
    searchTimer_.setInterval(0);
    connect(&searchTimer_, &QTimer::timeout, this, &CSyntaxTree::RunSearch);
}

TreeItem CSyntaxTree::SelectedItem() const {
    return model_->ItemOf(currentIndex());
}

bool CSyntaxTree::SelectItem(TreeItem item) {
    if (!store().IsValid(item)) model_->Publish(-1);  // it may wait in the handed-over changes
    const QModelIndex index = model_->Reveal(item);
    if (!index.isValid()) return false;
    applying_ = true;
    setCurrentIndex(index);
    scrollTo(index);
    applying_ = false;
    return true;
}

TreeItem CSyntaxTree::PopupTarget() const {
    const QModelIndex at = indexAt(remembered_);
    if (at.isValid()) return model_->ItemOf(at);
    return SelectedItem();
}

void CSyntaxTree::ApplyRequests(const std::vector<ViewRequest>& requests) {
    if (requests.empty()) return;
    applying_ = true;
    if (userActed_) {
        // Keep the view where the user is; remember what the parse asked for as the view
        // shows it.
        for (const ViewRequest& r : requests) {
            if (r.kind == ViewRequestKind::Expand || r.kind == ViewRequestKind::Collapse) {
                const QModelIndex index = model_->IndexOf(r.item);
                if (index.isValid()) store().SetExpandedFlag(r.item, isExpanded(index));
            }
        }
        applying_ = false;
        return;
    }
    // Only the last selection, the last scroll, and each item's last expand or collapse of a
    // batch matter to the eye; the rest would only relayout the view in between.
    TreeItem select = 0, visible = 0;
    bool selectSeen = false;
    std::vector<std::pair<TreeItem, bool>> states;  // item, expanded; in request order
    std::unordered_map<TreeItem, size_t> stateOf;
    for (const ViewRequest& r : requests) {
        switch (r.kind) {
            case ViewRequestKind::Select:
                select = r.item;
                selectSeen = true;
                break;
            case ViewRequestKind::EnsureVisible:
                visible = r.item;
                break;
            case ViewRequestKind::Expand:
            case ViewRequestKind::Collapse: {
                const bool expanded = r.kind == ViewRequestKind::Expand;
                const auto [it, added] = stateOf.emplace(r.item, states.size());
                if (added)
                    states.emplace_back(r.item, expanded);
                else
                    states[it->second].second = expanded;
                break;
            }
        }
    }
    for (const auto& [item, expanded] : states) {
        if (expanded) {
            const QModelIndex index = model_->Reveal(item);
            if (!index.isValid()) continue;
            model_->FetchRows(item);
            if (!isExpanded(index)) expand(index);
        } else {
            const QModelIndex index = model_->IndexOf(item);
            if (index.isValid() && isExpanded(index)) collapse(index);
        }
    }
    if (selectSeen) {
        if (select) {
            const QModelIndex index = model_->Reveal(select);
            if (index.isValid()) setCurrentIndex(index);
        } else {
            setCurrentIndex(QModelIndex());
        }
    }
    if (visible) {
        const QModelIndex index = model_->Reveal(visible);
        if (index.isValid()) {
            for (QModelIndex p = index.parent(); p.isValid(); p = p.parent())
                if (!isExpanded(p)) expand(p);
            scrollTo(index);
        }
    }
    applying_ = false;
}

// ---- popup menu ----

QMenu* CSyntaxTree::BuildPopupMenu(const QPoint& viewportPoint) {
    const QModelIndex at = indexAt(viewportPoint);
    const TreeItem target = at.isValid() ? model_->ItemOf(at) : SelectedItem();
    SyncExpandedFlags(target);
    const std::string word = keyword ? keyword().toStdString() : std::string();
    const PopupMenuState s = PopupMenuRules(store(), target, word.empty(), searchRoot == kTreeRoot);

    auto* menu = new QMenu(this);
    for (const PopupEntry& e : kPopup) {
        if (!e.text) {
            menu->addSeparator();
            continue;
        }
        if (e.id == cmd::tree::kCollapseChildren && !s.showCollapseChildren) continue;
        QAction* a = menu->addAction(QString::fromLatin1(e.text));
        a->setData(e.id);
        bool enabled = true;
        switch (e.id) {
            case cmd::tree::kExpand:
                enabled = s.expand;
                break;
            case cmd::tree::kCollapse:
                enabled = s.collapse;
                break;
            case cmd::tree::kCollapseChildren:
                enabled = s.collapseChildren;
                break;
            case cmd::tree::kExpandTree:
                enabled = s.expandTree;
                break;
            case cmd::tree::kCollapseTree:
                enabled = s.collapseTree;
                break;
            case cmd::tree::kExpandAll:
                enabled = s.expandAll;
                break;
            case cmd::tree::kCollapseAll:
                enabled = s.collapseAll;
                break;
            case cmd::kParsePayload:
                enabled = s.parsePayload;
                break;
            case cmd::kParseSliceMbs:
                enabled = s.parseSliceMbs;
                break;
            case cmd::kDeleteSliceMbs:
                enabled = s.deleteSliceMbs;
                break;
            case cmd::kParsePictureMbs:
                enabled = s.parsePictureMbs;
                break;
            case cmd::kDeletePictureMbs:
                enabled = s.deletePictureMbs;
                break;
            case cmd::tree::kSearchTree:
                enabled = s.searchTree;
                a->setCheckable(true);
                a->setChecked(s.searchTreeChecked);
                break;
            case cmd::tree::kSearchAll:
                enabled = s.searchAll;
                a->setCheckable(true);
                a->setChecked(s.searchAllChecked);
                break;
            case cmd::tree::kExportItem:
                enabled = s.exportItem && exportCommand;
                break;
            default:
                enabled = s.exportTrees && exportCommand;
                break;
        }
        a->setEnabled(enabled);
    }
    return menu;
}

void CSyntaxTree::contextMenuEvent(QContextMenuEvent* event) {
    const QPoint p = viewport()->mapFrom(this, event->pos());
    QMenu* menu = BuildPopupMenu(p);
    QAction* chosen = menu->exec(event->globalPos());
    // The chosen command sees the click point and the armed flag.
    remembered_ = p;
    popupArmed = true;
    if (chosen) RunPopupCommand(chosen->data().toInt());
    menu->deleteLater();
}

void CSyntaxTree::SyncExpandedFlags(TreeItem target) {
    if (target == kTreeRoot) return;
    auto sync = [this](TreeItem item) {
        const QModelIndex index = model_->IndexOf(item);
        if (index.isValid()) store().SetExpandedFlag(item, isExpanded(index));
    };
    sync(target);
    for (TreeItem c = store().GetChildItem(target); c; c = store().GetNextSiblingItem(c))
        if (store().ItemHasChildren(c)) sync(c);
}

void CSyntaxTree::Walk(std::function<void()> op) {
    // Keep the first visible row where it is.
    const QModelIndex top = indexAt(QPoint(1, 1));
    const TreeItem anchor = model_->ItemOf(top);
    applying_ = true;
    op();
    applying_ = false;
    const QModelIndex again = model_->IndexOf(anchor);
    if (again.isValid()) scrollTo(again, QAbstractItemView::PositionAtTop);
}

void CSyntaxTree::SetBranchExpanded(const QModelIndex& index, bool expand) {
    // Depth first, the item before its children; iterative, for deep trees.
    std::vector<QModelIndex> stack{index};
    while (!stack.empty()) {
        const QModelIndex i = stack.back();
        stack.pop_back();
        if (expand) model_->FetchRows(model_->ItemOf(i));
        const int rows = model_->rowCount(i);
        if (rows == 0) continue;
        if (i.isValid()) {
            if (expand)
                this->expand(i);
            else if (isExpanded(i))
                collapse(i);
            store().SetExpandedFlag(model_->ItemOf(i), expand);
        }
        for (int r = rows - 1; r >= 0; --r) {
            const QModelIndex c = model_->index(r, 0, i);
            if (model_->hasChildren(c)) stack.push_back(c);
        }
    }
}

void CSyntaxTree::CollapseChildren(const QModelIndex& index) {
    for (int r = 0; r < model_->rowCount(index); ++r)
        SetBranchExpanded(model_->index(r, 0, index), false);
}

void CSyntaxTree::RunPopupCommand(int id) {
    switch (id) {
        case cmd::tree::kExpand:
        case cmd::tree::kCollapse:
        case cmd::tree::kCollapseChildren:
        case cmd::tree::kExpandTree:
        case cmd::tree::kCollapseTree:
        case cmd::tree::kExpandAll:
        case cmd::tree::kCollapseAll: {
            if (!popupArmed) return;
            popupArmed = false;
            if (id == cmd::tree::kExpandAll || id == cmd::tree::kCollapseAll) {
                Walk([&] {
                    if (id == cmd::tree::kExpandAll) {
                        expandAll();
                    } else {
                        collapseAll();
                    }
                    SetBranchExpanded(QModelIndex(), id == cmd::tree::kExpandAll);
                });
                return;
            }
            const TreeItem target = PopupTarget();
            const QModelIndex index = model_->IndexOf(target);
            if (!index.isValid()) return;
            if (id == cmd::tree::kExpand) {
                expand(index);
            } else if (id == cmd::tree::kCollapse) {
                collapse(index);
            } else {
                Walk([&] {
                    if (id == cmd::tree::kCollapseChildren)
                        CollapseChildren(index);
                    else
                        SetBranchExpanded(index, id == cmd::tree::kExpandTree);
                });
            }
            return;
        }
        case cmd::kParsePayload:
            if (TreeItem t = PayloadTarget(store(), PopupTarget())) {
                payloadTarget = t;
                if (postCommand) postCommand(id);
            }
            return;
        case cmd::kParseSliceMbs:
            if (TreeItem t = FindSlicePlaceholder(store(), PopupTarget())) {
                macroblockTarget = t;
                if (postCommand) postCommand(id);
            }
            return;
        case cmd::kDeleteSliceMbs:
            if (TreeItem t = DeleteSliceTarget(store(), PopupTarget())) {
                sliceTarget = t;
                if (postCommand) postCommand(id);
            }
            return;
        case cmd::kParsePictureMbs:
        case cmd::kDeletePictureMbs:
            if (TreeItem t = PictureTarget(store(), PopupTarget())) {
                pictureTarget = t;
                if (postCommand) postCommand(id);
            }
            return;
        case cmd::tree::kSearchTree:
            SearchTree();
            return;
        case cmd::tree::kSearchAll:
            SearchAll();
            return;
        default:
            if (exportCommand) exportCommand(id);
            return;
    }
}

// ---- search ----

void CSyntaxTree::SearchAll() {
    searchRoot = kTreeRoot;
    SearchNext();
}

void CSyntaxTree::SearchTree() {
    searchRoot = PopupTarget();
    SearchNext();
}

void CSyntaxTree::SearchNext() {
    const std::string word = keyword ? keyword().toStdString() : std::string();
    if (word.empty()) return;
    if (word == lastKeyword_ && searchRoot == lastSearchRoot_ && walk_.active()) {
        // Resume where the last match left the walk.
    } else {
        lastKeyword_ = word;
        lastSearchRoot_ = searchRoot;
        walk_.Start(store(), searchRoot, word);
    }
    searchTimer_.start();
}

void CSyntaxTree::RunSearch() {
    // A slice of the walk per turn of the event loop, so a long search never freezes the
    // window.
    switch (walk_.Advance(store(), 200000)) {
        case SearchWalk::Step::Continue:
            searchTimer_.start();
            return;
        case SearchWalk::Step::Match:
            SelectItem(walk_.current());
            return;
        case SearchWalk::Step::Done:
            break;
    }
    const int found = walk_.matches();
    walk_.Stop();
    if (found == 0) {
        host_->MessageBox("Failed to find any item!", msg::kWarningCaption, MsgIcon::None,
                          MsgButtons::Ok);
    } else if (found >= 2) {
        if (host_->MessageBox("Do you want to restart from the beginning?", msg::kQuestionCaption,
                              MsgIcon::Question, MsgButtons::YesNo) == MsgAnswer::Yes) {
            if (postCommand) postCommand(cmd::kFocusKeyword);
            walk_.Start(store(), lastSearchRoot_, lastKeyword_);
            searchTimer_.start();
        }
    }
}

// ---- mouse and keys ----

void CSyntaxTree::mouseMoveEvent(QMouseEvent* event) {
    remembered_ = event->position().toPoint();
    QTreeView::mouseMoveEvent(event);
}

void CSyntaxTree::mousePressEvent(QMouseEvent* event) {
    userActed_ = true;
    remembered_ = event->position().toPoint();
    // The right button only aims the popup menu: the selection stays, nothing is decoded.
    if (event->button() == Qt::RightButton) {
        event->accept();
        return;
    }
    QTreeView::mousePressEvent(event);
}

void CSyntaxTree::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::RightButton) {
        event->accept();
        return;
    }
    QTreeView::mouseReleaseEvent(event);
}

void CSyntaxTree::paintEvent(QPaintEvent* event) {
    // One hold of the store for the whole paint: the model's many reads then take the lock
    // again without waiting, instead of queueing behind a parse thread once for each row and
    // role. Painting never waits for the parse, so holding the lock here cannot block it.
    auto lock = store().Lock();
    QTreeView::paintEvent(event);
}

void CSyntaxTree::drawRow(QPainter* painter, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const {
    // Each row is measured as it is painted, and the column only ever grows to the widest:
    // no row is cut short, and a paint measures only the rows in view.
    int indent = rootIsDecorated() ? indentation() : 0;
    for (QModelIndex p = index.parent(); p.isValid(); p = p.parent()) indent += indentation();
    const int width = indent + itemDelegate()->sizeHint(option, index).width();
    if (width > widest_) {
        widest_ = width;
        if (!growPending_) {
            // Not from inside the paint: the new width lays the view out again.
            growPending_ = true;
            QMetaObject::invokeMethod(
                const_cast<CSyntaxTree*>(this),
                [this] {
                    growPending_ = false;
                    if (widest_ > header()->sectionSize(0)) header()->resizeSection(0, widest_);
                },
                Qt::QueuedConnection);
        }
    }
    QTreeView::drawRow(painter, option, index);
}

void CSyntaxTree::wheelEvent(QWheelEvent* event) {
    userActed_ = true;
    QTreeView::wheelEvent(event);
}

void CSyntaxTree::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        const QModelIndex at = indexAt(event->position().toPoint());
        const TreeItem item = at.isValid() ? model_->ItemOf(at) : 0;
        switch (DoubleClickRule(store(), item)) {
            case DoubleClickAction::ParseSliceMbs:
                macroblockTarget = item;
                if (postCommand) postCommand(cmd::kParseSliceMbs);
                break;
            case DoubleClickAction::ParsePayload:
                payloadTarget = item;
                if (postCommand) postCommand(cmd::kParsePayload);
                break;
            case DoubleClickAction::OpenFile:
                if (postCommand) postCommand(cmd::kOpen);
                break;
            case DoubleClickAction::None:
                break;
        }
    }
    QTreeView::mouseDoubleClickEvent(event);
}

void CSyntaxTree::keyPressEvent(QKeyEvent* event) {
    userActed_ = true;
    if (event->key() == Qt::Key_C && (event->modifiers() & Qt::ControlModifier)) {
        // As the popup's "Export Item": the item under the pointer's last position over the
        // tree, else the selection.
        // The view's own copy would put the current row's text over it.
        if (exportCommand) exportCommand(cmd::tree::kExportItem);
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_F3) {
        SearchNext();
        QTreeView::keyPressEvent(event);
        return;
    }
    if (autoPictureMode && (event->key() == Qt::Key_Up || event->key() == Qt::Key_Down) &&
        event->modifiers() == Qt::NoModifier) {
        const TreeItem selected = SelectedItem();
        if (selected) SyncExpandedFlags(selected);
        const TreeItem next = AutoPictureTarget(store(), selected, event->key() == Qt::Key_Down);
        if (next && SelectItem(next)) return;
    }
    QTreeView::keyPressEvent(event);
}

void CSyntaxTree::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    QTreeView::currentChanged(current, previous);
    Q_EMIT SelectionChangedTo(model_->ItemOf(current));
}

}  // namespace bitloupe
