// The main window's part of the bytes pane: the dock that holds it, the item's bits shown when
// an item is selected, and the item selected when a byte is clicked.
#include <QDockWidget>
#include <QElapsedTimer>
#include <QMenu>
#include <QSettings>
#include <QStatusBar>

#include "core/tree/ItemKinds.h"
#include "core/tree/ItemLookup.h"
#include "gui/BytesPane.h"
#include "gui/MainFrame.h"
#include "gui/SyntaxTree.h"

namespace bitloupe {

void CMainFrame::BuildBytesPane(QMenu* view) {
    bytes_ = new BytesPane(this);
    bytes_->setObjectName("bytesPane");
    bytesDock_ = new QDockWidget("Bytes", this);
    bytesDock_->setObjectName("bytesDock");
    bytesDock_->setWidget(bytes_);
    addDockWidget(Qt::BottomDockWidgetArea, bytesDock_);
    bytesDock_->hide();
    QAction* toggle = bytesDock_->toggleViewAction();
    toggle->setText("&Bytes Pane");
    toggle->setShortcut(QKeySequence("Ctrl+Shift+B"));
    toggle->setStatusTip("Show or hide the file's bytes beside the tree and the picture");
    view->addAction(toggle);
    // Shown again, the pane catches up with the selection made while it was hidden.
    connect(bytesDock_, &QDockWidget::visibilityChanged, this, [this](bool shown) {
        if (shown) ShowItemBytes(treeView_->SelectedItem());
    });
    connect(bytes_, &BytesPane::ByteClicked, this,
            [this](uint64_t offset, int bit) { SelectItemAtByte(offset, bit < 0 ? 0 : bit); });
}

void CMainFrame::ShowBytesPane(bool shown) {
    bytesDock_->setVisible(shown);
}

bool CMainFrame::BytesPaneShown() const {
    return bytesDock_ && bytesDock_->isVisible();
}

void CMainFrame::OpenBytes(const QString& path) {
    bytes_->OpenFile(path);
}

void CMainFrame::ShowItemBytes(TreeItem item) {
    if (!BytesPaneShown()) return;
    QElapsedTimer clock;
    clock.start();
    ItemFacts own, parent;
    if (!item || !ItemRange(tree_, item, own)) {
        bytes_->ClearHighlight();
        bytes_->SetHeaderText(item ? "The selected item stands for no bits of the file" : "");
        return;
    }
    const TreeItem up = tree_.GetParentItem(item);
    BitRange faint{0, 0};
    if (up != kTreeRoot && ItemRange(tree_, up, parent)) faint = {parent.start, parent.end * 8};
    // A field that reached into the next packet ends further on than its bits: its range is
    // shown as one piece, the packet header inside it drawn as in between.
    const uint64_t naturalEnd = own.start + own.bits;
    std::vector<BitRange> strong, between;
    if (own.end * 8 > ((naturalEnd + 7) / 8) * 8 && own.bits) {
        strong.push_back({own.start, own.end * 8});
    } else {
        strong.push_back({own.start, naturalEnd > own.start ? naturalEnd : own.start + 8});
    }
    bytes_->SetHighlight(strong, between, faint);
    ItemFacts facts;
    QString header = QString("%1: offset 0x%2 bit %3, %4 bits")
                         .arg(QString::fromStdString(tree_.GetItemText(item)).left(80))
                         .arg(own.start / 8, 0, 16)
                         .arg(own.start % 8)
                         .arg(own.bits);
    if (tree_.GetItemFacts(item, facts) && facts.hasValue) header += QString(", value %1").arg(facts.value);
    bytes_->SetHeaderText(header);
    lastBytesMs_ = clock.nsecsElapsed() / 1e6;
}

void CMainFrame::SelectItemAtByte(uint64_t offset, int bit) {
    QElapsedTimer clock;
    clock.start();
    std::vector<TreeItem> path;
    {
        auto lock = tree_.Lock();
        path = ItemPathAt(tree_, offset * 8 + static_cast<uint64_t>(bit));
    }
    lastByteLookupMs_ = clock.nsecsElapsed() / 1e6;
    if (path.empty()) {
        statusBar()->showMessage(QString("No item covers offset 0x%1 (stuffing, or bytes before "
                                         "the first start code)")
                                     .arg(offset, 0, 16));
        return;
    }
    const TreeItem item = path.back();
    SelectAndShow(item);
    if (KindOf(tree_.GetItemData(item)) == ItemKind::Slice)
        statusBar()->showMessage("\"Parse MBs in Slice\" would go deeper into these bytes");
}

}  // namespace bitloupe
