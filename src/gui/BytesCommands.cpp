// The main window's part of the bytes pane: the dock that holds it, the item's bits shown when
// an item is selected, and the item selected when a byte is clicked.
#include <QClipboard>
#include <QDockWidget>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QInputDialog>
#include <QLineEdit>
#include <QMenu>
#include <QSettings>
#include <QStatusBar>
#include <functional>

#include "core/tree/ItemKinds.h"
#include "core/tree/ItemLookup.h"
#include "gui/BytesPane.h"
#include "gui/MainFrame.h"
#include "gui/SyntaxTree.h"

namespace bitloupe {

QDockWidget* CMainFrame::AddHiddenDock(const char* title, const char* name, QWidget* widget,
                                       Qt::DockWidgetArea area) {
    auto* dock = new QDockWidget(title, this);
    dock->setObjectName(name);
    dock->setWidget(widget);
    addDockWidget(area, dock);
    dock->hide();
    return dock;
}

void CMainFrame::BuildBytesPane(QMenu* view) {
    bytes_ = new BytesPane(this);
    bytes_->setObjectName("bytesPane");
    bytesDock_ = AddHiddenDock("Bytes", "bytesDock", bytes_, Qt::BottomDockWidgetArea);
    QAction* toggle = bytesDock_->toggleViewAction();
    toggle->setText("&Bytes Pane");
    toggle->setShortcut(QKeySequence("Ctrl+Shift+B"));
    toggle->setStatusTip("Show or hide the file's bytes beside the tree and the picture");
    view->addAction(toggle);
    // Moving about in the bytes: each shows the pane first and selects the item found.
    QMenu* go = view->addMenu("B&ytes");
    auto add = [this, go](const char* text, const char* key, std::function<void()> run) {
        QAction* a = go->addAction(text);
        a->setShortcut(QKeySequence(key));
        connect(a, &QAction::triggered, this, [this, run] {
            ShowBytesPane(true);
            run();
        });
    };
    add("&Go to Offset...", "Ctrl+Shift+G", [this] { GoToOffsetCommand(); });
    add("&Next Start Code", "Alt+Down", [this] { FollowBytes(bytes_->NextStartCode(true)); });
    add("&Previous Start Code", "Alt+Up", [this] { FollowBytes(bytes_->NextStartCode(false)); });
    add("&Find Bytes...", "Ctrl+Shift+F", [this] { FindBytesCommand(); });
    add("Find Ne&xt Bytes", "Ctrl+Shift+N", [this] {
        FollowBytes(!lastBytesPattern_.isEmpty() && bytes_->FindPattern(lastBytesPattern_, true));
    });
    add("&Copy Bytes as Hex", "Ctrl+Shift+C", [this] {
        const QString hex = bytes_->SelectedBytesAsHex();
        QGuiApplication::clipboard()->setText(hex);
        statusBar()->showMessage(hex.isEmpty()
                                     ? QString("No bytes selected")
                                     : QString("Copied %1 bytes").arg((hex.size() + 1) / 3));
    });
    // Shown again, the pane catches up with the selection made while it was hidden.
    connect(bytesDock_, &QDockWidget::visibilityChanged, this, [this](bool shown) {
        if (shown) ShowItemBytes(treeView_->SelectedItem());
    });
    connect(bytes_, &BytesPane::ByteClicked, this,
            [this](uint64_t offset, int bit) { SelectItemAtByte(offset, bit < 0 ? 0 : bit); });
}

void CMainFrame::FollowBytes(bool found) {
    if (!found) {
        statusBar()->showMessage("Not found");
        return;
    }
    SelectItemAtByte(bytes_->CursorOffset(), 0);
}

void CMainFrame::GoToOffsetCommand() {
    bool ok = false;
    const QString word =
        QInputDialog::getText(this, "Go to Offset",
                              "Offset (decimal, or hexadecimal after 0x):", QLineEdit::Normal,
                              QString(), &ok)
            .trimmed();
    if (!ok || word.isEmpty()) return;
    const bool hex = word.startsWith("0x", Qt::CaseInsensitive);
    const qulonglong offset = hex ? word.mid(2).toULongLong(&ok, 16) : word.toULongLong(&ok, 10);
    if (!ok || offset >= bytes_->FileSize()) {
        statusBar()->showMessage(QString("\"%1\" is not an offset in the file").arg(word));
        return;
    }
    bytes_->ScrollToOffset(offset);
    SelectItemAtByte(offset, 0);
}

void CMainFrame::FindBytesCommand() {
    bool ok = false;
    const QString pattern = QInputDialog::getText(
        this, "Find Bytes",
        "Bytes in hexadecimal, ?? for any byte (e.g. 00 00 01 B3):", QLineEdit::Normal,
        lastBytesPattern_, &ok);
    if (!ok || pattern.trimmed().isEmpty()) return;
    lastBytesPattern_ = pattern;
    FollowBytes(bytes_->FindPattern(pattern, true));
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
    // Video bits in a program stream: a range that reached across packets is shown piece by
    // piece, what lies between the pieces (pack and packet headers, other streams' packets) in
    // its own style. The packets are known once the parse has passed them.
    TreeItem root = item;
    while (tree_.GetParentItem(root) != kTreeRoot && tree_.GetParentItem(root))
        root = tree_.GetParentItem(root);
    const bool video = root != stream_.systemItem;
    const uint64_t end = own.bits && own.end * 8 <= ((own.start + own.bits + 7) / 8) * 8
                             ? own.start + own.bits  // whole in one piece: exactly its bits
                             : own.end * 8;
    std::vector<std::pair<uint64_t, uint64_t>> pieces, gaps;
    if (video && !WorkerBusy())
        stream_.SplitAtPayloads(own.start, end, pieces, gaps);
    else
        pieces.push_back({own.start, end});
    std::vector<BitRange> strong, between;
    uint64_t bits = 0;  // the item's own bits: what lies between its pieces is not counted
    for (const auto& [from, to] : pieces) {
        strong.push_back({from, to});
        bits += to - from;
    }
    for (const auto& [from, to] : gaps) between.push_back({from, to});
    bytes_->SetHighlight(strong, between, faint);
    ItemFacts facts;
    QString header =
        QString("%1: offset 0x%2 bit %3, %4 bits%5")
            .arg(QString::fromStdString(tree_.GetItemText(item)).left(80))
            .arg(own.start / 8, 0, 16)
            .arg(own.start % 8)
            .arg(pieces.size() > 1 ? bits : own.bits)
            .arg(pieces.size() > 1 ? QString(" in %1 pieces").arg(pieces.size()) : QString());
    if (tree_.GetItemFacts(item, facts) && facts.hasValue)
        header += QString(", value %1").arg(facts.value);
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
