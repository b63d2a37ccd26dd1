// The main window's picture-pane commands for daily use: zoom, the readout under the pointer,
// picking a macroblock on the picture, macroblock maps, decoding references first, the
// navigation keys and what is remembered between runs.
#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QMenu>
#include <QSettings>
#include <QSpinBox>
#include <QSplitter>
#include <QStatusBar>
#include <QToolBar>

#include "gui/CommandIds.h"
#include "gui/MainFrame.h"
#include "gui/ParseDlg.h"
#include "gui/QtHost.h"
#include "gui/RightWnd.h"
#include "gui/SyntaxTree.h"

namespace bitloupe {

namespace {
constexpr int kRecentFiles = 8;
}

void CMainFrame::BuildPictureCommands() {
    CommandTable& t = commands_;
    auto available = [this] { return PictureAvailable(); };
    t.Add(
        cmd::kZoomIn, [this] { right_->ZoomIn(); }, available);
    t.Add(
        cmd::kZoomOut, [this] { right_->ZoomOut(); }, available);
    t.Add(
        cmd::kZoomActual, [this] { right_->SetZoom(1); }, available,
        [this] { return right_->zoom() == 1; });
    t.Add(
        cmd::kZoomFit, [this] { right_->SetZoom(CRightWnd::kZoomFit); }, available,
        [this] { return right_->zoom() == CRightWnd::kZoomFit; });
    for (int k = 0; k < 6; ++k)
        t.Add(
            cmd::kMapNone + k, [this, k] { SetMapKind(static_cast<MapKind>(k)); }, {},
            [this, k] { return static_cast<int>(mapKind_) == k; });
    t.Add(
        cmd::kDecodeReferencesFirst, [this] { decodeReferences_ = !decodeReferences_; }, {},
        [this] { return decodeReferences_; });
    auto parsed = [this] { return fileOpen_ && stream_.videoItem && !WorkerBusy(); };
    auto step = [this](TreeItem (*next)(const TreeStore&, const CStreamState&, TreeItem, int),
                       int direction) {
        const TreeItem target = next(tree_, stream_, treeView_->SelectedItem(), direction);
        if (target)
            SelectAndShow(target);
        else
            QApplication::beep();
    };
    t.Add(
        cmd::kNextIntra, [step] { step(NextIntraPicture, 1); }, parsed);
    t.Add(
        cmd::kPreviousIntra, [step] { step(NextIntraPicture, -1); }, parsed);
    t.Add(
        cmd::kNextGop, [step] { step(NextGopPicture, 1); }, parsed);
    t.Add(
        cmd::kPreviousGop, [step] { step(NextGopPicture, -1); }, parsed);
    t.Add(
        cmd::kGoToPicture,
        [this] {
            QDialog dialog(this);
            dialog.setWindowTitle("Go to Picture");
            auto* form = new QFormLayout(&dialog);
            auto* number = new QSpinBox(&dialog);
            number->setRange(
                1, std::max<int>(1, static_cast<int>(AllPictures(tree_, stream_).size())));
            auto* order = new QComboBox(&dialog);
            order->addItems({"Stream order", "Display order"});
            form->addRow("Picture number:", number);
            form->addRow("Counted in:", order);
            auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
            form->addRow(buttons);
            connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
            connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
            if (dialog.exec() == QDialog::Accepted)
                GoToPicture(number->value(), order->currentIndex() == 1);
        },
        parsed);
}

void CMainFrame::BuildPictureMenus(QMenu* view, QMenu* file) {
    view->addSeparator();
    QMenu* zoom = view->addMenu("&Zoom");
    zoom->addAction(MakeAction(cmd::kZoomIn, "Zoom &In", QKeySequence("Ctrl++")));
    zoom->addAction(MakeAction(cmd::kZoomOut, "Zoom &Out", QKeySequence("Ctrl+-")));
    zoom->addAction(MakeAction(cmd::kZoomActual, "&Actual Size (1:1)", QKeySequence("Ctrl+0")));
    zoom->addAction(MakeAction(cmd::kZoomFit, "&Fit to Pane", QKeySequence("Ctrl+9")));
    // Ctrl+= zooms in too: the plus sign needs Shift on most keyboards.
    auto* zoomInToo = new QAction(this);
    zoomInToo->setShortcut(QKeySequence("Ctrl+="));
    connect(zoomInToo, &QAction::triggered, this, [this] { commands_.Execute(cmd::kZoomIn); });
    addAction(zoomInToo);
    QMenu* maps = view->addMenu("Macroblock &Map");
    for (int k = 0; k < 6; ++k)
        maps->addAction(MakeAction(cmd::kMapNone + k, QString::fromUtf8(kMapMenuNames[k])));
    view->addAction(MakeAction(cmd::kDecodeReferencesFirst, "Decode References First"));
    view->addSeparator();
    view->addAction(MakeAction(cmd::kNextIntra, "Next I Picture", QKeySequence("F7")));
    view->addAction(
        MakeAction(cmd::kPreviousIntra, "Previous I Picture", QKeySequence("Shift+F7")));
    view->addAction(MakeAction(cmd::kNextGop, "Next GOP", QKeySequence("F8")));
    view->addAction(MakeAction(cmd::kPreviousGop, "Previous GOP", QKeySequence("Shift+F8")));
    view->addAction(MakeAction(cmd::kGoToPicture, "Go to Picture...", QKeySequence("Ctrl+J")));
    for (QMenu* m : {zoom, maps})
        connect(m, &QMenu::aboutToShow, this, [this] { commands_.Refresh(); });

    // The recent files go before "Exit".
    const QList<QAction*> entries = file->actions();
    recentMenu_ = new QMenu("Recent &Files", file);
    file->insertMenu(entries.size() >= 2 ? entries[entries.size() - 2] : nullptr, recentMenu_);
    RebuildRecentMenu();
}

void CMainFrame::BuildPictureBar() {
    overlayBox_ = new QComboBox(this);
    overlayBox_->setObjectName("overlayBox");
    overlayBox_->setToolTip("Macroblock map drawn over the picture");
    for (const char* name : kMapMenuNames) overlayBox_->addItem(QString::fromUtf8(name));
    connect(overlayBox_, &QComboBox::activated, this,
            [this](int index) { SetMapKind(static_cast<MapKind>(index)); });
    displayToolBar_->addWidget(overlayBox_);
    timeLabel_ = new QLabel(this);
    timeLabel_->setObjectName("pictureTime");
    statusBar()->insertPermanentWidget(0, timeLabel_);

    right_->hovered = [this](int x, int y, bool inside) {
        if (inside)
            HoverPicture(x, y);
        else if (!readout_.isEmpty()) {
            readout_.clear();
            statusBar()->clearMessage();
        }
    };
    right_->clicked = [this](int x, int y) { ClickPicture(x, y); };
}

void CMainFrame::HoverPicture(int x, int y) {
    const TreeItem picture = parser_->decoder.currentPicture;
    if (!PictureAvailable() || !picture || !ParserFree()) return;
    const CPictureDib& dib = parser_->decoder.dib;
    if (x < 0 || y < 0 || x >= dib.Width() || y >= dib.Height()) {
        readout_.clear();
        return;
    }
    readout_ = QString::fromStdString(ReadoutText(tree_, stream_, parser_->decoder, picture, x, y));
    statusBar()->showMessage(readout_);
}

void CMainFrame::ClickPicture(int x, int y) {
    const TreeItem picture = parser_->decoder.currentPicture;
    if (!PictureAvailable() || !picture || WorkerBusy()) return;
    if (MacroblocksParsed(tree_, picture)) {
        const TreeItem mb = MacroblockItemAt(tree_, stream_, picture, x, y);
        if (mb) SelectAndShow(mb);
        return;
    }
    // The macroblocks first, through the popup's own command and question; the selection
    // follows when the parse ends.
    pendingClick_ = {true, picture, x, y};
    if (!ParsePictureMacroblocks(picture)) pendingClick_.active = false;
}

bool CMainFrame::ParsePictureMacroblocks(TreeItem picture) {
    treeView_->pictureTarget = picture;
    commands_.Execute(cmd::kParsePictureMbs);
    return WorkerBusy();
}

void CMainFrame::FinishPendingClick() {
    if (!pendingClick_.active) return;
    pendingClick_.active = false;
    if (!tree_.IsValid(pendingClick_.picture)) return;
    const TreeItem mb =
        MacroblockItemAt(tree_, stream_, pendingClick_.picture, pendingClick_.x, pendingClick_.y);
    if (mb) SelectAndShow(mb);
}

void CMainFrame::SelectAndShow(TreeItem item) {
    treeView_->SelectItem(item);
    // Selecting an item that is selected already shows nothing new.
    if (dispatch_->shownItem != item) DecodeSelectedItem(item);
}

void CMainFrame::SetMapKind(MapKind kind) {
    mapKind_ = kind;
    if (overlayBox_) overlayBox_->setCurrentIndex(static_cast<int>(kind));
    if (kind == MapKind::kNone) mapParseAgreed_ = false;
    const TreeItem picture = parser_->decoder.currentPicture;
    // A map needs the picture's macroblocks: they are parsed as "Parse MBs in Picture" does,
    // question included; the pictures shown after it while the map stays on are parsed without
    // asking again.
    if (kind != MapKind::kNone && picture && PictureAvailable() && !WorkerBusy() &&
        !MacroblocksParsed(tree_, picture)) {
        const TreeItem keep = treeView_->SelectedItem();
        if (ParsePictureMacroblocks(picture)) {
            mapParseAgreed_ = true;
            mapParsedPicture_ = picture;
            mapKeepSelection_ = keep;
            return;  // drawn when the parse ends
        }
    }
    RefreshMap();
}

void CMainFrame::ParseMacroblocksForMap(TreeItem picture) {
    if (WorkerBusy() || !OnDemandAllowed()) return;
    mapParsedPicture_ = picture;  // tried once, whatever comes of it
    mapKeepSelection_ = treeView_->SelectedItem();
    StartWorker([this, picture] { parser_->macroblocks.ParseMacroblocksOfPicture(picture); },
                picture);
}

void CMainFrame::RefreshMap() {
    const TreeItem picture = parser_->decoder.currentPicture;
    if (mapKind_ == MapKind::kNone || !picture || WorkerBusy()) {
        right_->SetMap(MacroblockMap());
        return;
    }
    if (mapParseAgreed_ && picture != mapParsedPicture_ && !MacroblocksParsed(tree_, picture)) {
        right_->SetMap(MacroblockMap());
        ParseMacroblocksForMap(picture);
        return;
    }
    right_->SetMap(BuildMacroblockMap(tree_, stream_, picture, mapKind_));
}

void CMainFrame::DecodeReferencesFor(TreeItem item) {
    dispatch_->DecodeMissingReferences(PictureOf(tree_, item));
}

void CMainFrame::ShowPictureTime(TreeItem item) {
    if (!timeLabel_) return;
    const TreeItem picture = PictureOf(tree_, item);
    const std::string time = picture ? PictureTimeText(tree_, stream_, picture) : std::string();
    timeLabel_->setText(time.empty() ? QString() : QString::fromStdString(time));
}

QString CMainFrame::pictureTime() const {
    return timeLabel_ ? timeLabel_->text() : QString();
}

bool CMainFrame::GoToPicture(int n, bool displayOrder) {
    const TreeItem picture = PictureByNumber(tree_, stream_, n, displayOrder);
    if (!picture) return false;
    SelectAndShow(picture);
    return true;
}

// ---- remembered between runs ----

void CMainFrame::LoadSettings() {
    QSettings s;
    restoreGeometry(s.value("window/geometry").toByteArray());
    splitter_->restoreState(s.value("window/splitter").toByteArray());
    decodeReferences_ = s.value("view/decodeReferencesFirst", true).toBool();
    mapKind_ = static_cast<MapKind>(std::clamp(s.value("view/map", 0).toInt(), 0, 5));
    if (overlayBox_) overlayBox_->setCurrentIndex(static_cast<int>(mapKind_));
    right_->SetZoom(std::clamp(s.value("view/zoom", 1).toInt(), 0, CRightWnd::kMaxZoom));
    recent_ = s.value("file/recent").toStringList();
    ShowBytesPane(s.value("view/bytesPane", false).toBool());
    ShowStatsDocks(s.value("view/streamChart", false).toBool(),
                   s.value("view/streamSummary", false).toBool());
    ShowProblems(s.value("view/problems", false).toBool());
    while (recent_.size() > kRecentFiles) recent_.removeLast();
    RebuildRecentMenu();
}

void CMainFrame::SaveSettings() const {
    QSettings s;
    s.setValue("window/geometry", saveGeometry());
    s.setValue("window/splitter", splitter_->saveState());
    s.setValue("view/decodeReferencesFirst", decodeReferences_);
    s.setValue("view/map", static_cast<int>(mapKind_));
    s.setValue("view/zoom", right_->zoom());
    s.setValue("file/recent", recent_);
    s.setValue("view/bytesPane", BytesPaneShown());
    s.setValue("view/streamChart", ChartShown());
    s.setValue("view/streamSummary", SummaryShown());
    s.setValue("view/problems", ProblemsShown());
}

void CMainFrame::AddRecentFile(const QString& path) {
    const QString full = QFileInfo(path).absoluteFilePath();
    recent_.removeAll(full);
    recent_.prepend(full);
    while (recent_.size() > kRecentFiles) recent_.removeLast();
    RebuildRecentMenu();
}

void CMainFrame::RebuildRecentMenu() {
    if (!recentMenu_) return;
    recentMenu_->clear();
    for (int i = 0; i < recent_.size(); ++i) {
        const QString path = recent_[i];
        QAction* a = recentMenu_->addAction(QString("&%1 %2").arg(i + 1).arg(path));
        connect(a, &QAction::triggered, this, [this, path] {
            if (commands_.IsEnabled(cmd::kOpen)) OpenPath(path);
        });
    }
    recentMenu_->setEnabled(!recent_.isEmpty());
}

}  // namespace bitloupe
