#include "gui/MainFrame.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDockWidget>
#include <QDragEnterEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QSplitter>
#include <QStatusBar>
#include <cstdio>
#include <utility>

#include "core/base/Messages.h"
#include "core/image/Filters.h"
#include "core/session/TreeCommands.h"
#include "core/tree/Export.h"
#include "gui/AboutDlg.h"
#include "gui/ColorsDlg.h"
#include "gui/CommandIds.h"
#include "gui/DctMaskDlg.h"
#include "gui/DisplayBar.h"
#include "gui/GammaDlg.h"
#include "gui/ParseDlg.h"
#include "gui/QtHost.h"
#include "gui/RightWnd.h"
#include "gui/StringTable.h"
#include "gui/SyntaxTree.h"
#include "gui/SyntaxTreeModel.h"

static void InitResources() {
    Q_INIT_RESOURCE(icons);
}

namespace bitloupe {

namespace {
constexpr int kTickMs = 100;  // publishing, progress and command states
constexpr int kPublishBudgetMs = 40;
constexpr int kFollowMs = 500;  // how often the view follows a running parse

QIcon TreeIcon(int i) {
    return QIcon(QString(":/icons/tree-%1.svg").arg(i, 2, 10, QChar('0')));
}

std::string ToLocal(const QString& s) {
    return s.toLocal8Bit().toStdString();
}
}  // namespace

CMainFrame::CMainFrame() {
    InitResources();
    setWindowTitle("Bitloupe");
    setWindowIcon(QIcon(":/icons/bitloupe.svg"));
    setAcceptDrops(true);

    host_ = new QtHost(this);
    dialog_ = new CParseDlg;
    parser_ = std::make_unique<CSyntaxParser>(stream_, tree_, *host_, *dialog_, *host_);
    worker_ = std::make_unique<ParseThread>(*dialog_, host_);
    dispatch_ = std::make_unique<DecodeDispatch>(*parser_, parser_->decoder);
    dialog_->SetParser(parser_.get());
    dialog_->SetPoster(host_);
    host_->SetCommandHandler([this](int id) { OnCommandPosted(id); });

    model_ = new SyntaxTreeModel(tree_, this);
    std::vector<QIcon> icons;
    for (int i = 0; i < 37; ++i) icons.push_back(TreeIcon(i));
    model_->SetIcons(std::move(icons));

    BuildPanes();
    BuildCommands();
    BuildPictureCommands();
    BuildMenus();
    BuildBars();
    BuildPictureBar();

    // The two start-up items.
    const TreeItem first = tree_.InsertItem("Double click the window to open an MPEG file...",
                                            image::kFile, 0, kTreeRoot);
    tree_.InsertItem("Transport stream is not supported at present.", image::kTransportStream, 0,
                     kTreeRoot);
    tree_.SelectItem(first);
    dialog_->SetupSlider(100);

    connect(&timer_, &QTimer::timeout, this, &CMainFrame::Tick);
    timer_.start(kTickMs);
    Tick();
}

CMainFrame::~CMainFrame() {
    // Stop a running parse before the engine goes away.
    if (WorkerBusy()) dialog_->ResetToIdle();
    worker_->Join();
    delete treeView_;
    treeView_ = nullptr;
    // The model lets go of the store in its destructor: it goes while the store is still here
    // (as a child object it would go after the members).
    delete model_;
    model_ = nullptr;
}

// ---- layout ----

void CMainFrame::BuildPanes() {
    splitter_ = new QSplitter(Qt::Horizontal, this);
    splitter_->setObjectName("splitter");
    treeView_ = new CSyntaxTree(model_, host_, splitter_);
    right_ = new CRightWnd(splitter_);
    right_->SetParser(parser_.get(), dispatch_.get());
    right_->SetParseDialog(dialog_);
    right_->ShowDialog(false);
    splitter_->addWidget(treeView_);
    splitter_->addWidget(right_);
    splitter_->setStretchFactor(0, 0);
    splitter_->setStretchFactor(1, 1);
    splitter_->setSizes({300, 700});
    setCentralWidget(splitter_);

    treeView_->postCommand = [this](int id) { host_->PostCommand(id); };
    treeView_->exportCommand = [this](int id) { ExportCommand(id); };
    treeView_->keyword = [this] { return bar_ ? bar_->keywordEdit()->text() : QString(); };
    right_->canToggle = [this] { return !WorkerBusy(); };
    // Once the dialog is hidden the picture area shows the selection as it is then: an item
    // remembered now would undo a selection made in between (a script's next step, a key).
    right_->dialogHidden = [this] {
        QMetaObject::invokeMethod(
            this, [this] { DecodeSelectedItem(treeView_->SelectedItem()); }, Qt::QueuedConnection);
    };
    connect(treeView_, &CSyntaxTree::SelectionChangedTo, this, [this](TreeItem item) {
        DecodeSelectedItem(item);
        ShowItemBytes(item);
        MarkChartPicture(item);
    });
}

QAction* CMainFrame::MakeAction(int id, const QString& text, const QKeySequence& key) {
    auto* a = new QAction(text, this);
    const QString prompt = QString::fromUtf8(CommandPrompt(id));
    if (!prompt.isEmpty()) {
        const int nl = prompt.indexOf('\n');
        a->setStatusTip(nl < 0 ? prompt : prompt.left(nl));
        if (nl >= 0) a->setToolTip(prompt.mid(nl + 1));
    }
    if (!key.isEmpty()) a->setShortcut(key);
    commands_.Bind(id, a);
    return a;
}

void CMainFrame::BuildMenus() {
    QMenu* file = menuBar()->addMenu("&File");
    file->addAction(MakeAction(cmd::kOpen, "&Open...", QKeySequence("Ctrl+O")));
    file->addSeparator();
    file->addAction(MakeAction(cmd::kSaveFrame, "&Save Frame...", QKeySequence("Ctrl+S")));
    file->addAction(MakeAction(cmd::kSaveTopField, "Save &Top Field...", QKeySequence("Ctrl+T")));
    file->addAction(
        MakeAction(cmd::kSaveBottomField, "Save &Bottom Field...", QKeySequence("Ctrl+B")));
    file->addAction(MakeAction(cmd::kSaveMbsBig, "Save MBs (Bi&g)...", QKeySequence("Ctrl+G")));
    file->addAction(MakeAction(cmd::kSaveMbsSmall, "Save MBs (Sma&ll)...", QKeySequence("Ctrl+L")));
    file->addAction(MakeAction(cmd::kSaveSnapshot, "Save S&napshot...", QKeySequence("F4")));
    file->addSeparator();
    file->addAction(MakeAction(cmd::kExit, "E&xit"));

    QMenu* view = menuBar()->addMenu("&View");
    view->addAction(MakeAction(cmd::kToolbar, "&Toolbar"));
    view->addAction(MakeAction(cmd::kStatusBar, "&Status Bar"));
    view->addSeparator();
    view->addAction(MakeAction(cmd::kRefresh, "Refresh", QKeySequence("F5")));
    view->addSeparator();
    const char* modes[10] = {"Display: Normal", "Display: Y (Gray)", "Display: Cb (U)",
                             "Display: Cr (V)", "Display: Red",      "Display: Green",
                             "Display: Blue",   "Display: Yellow",   "Display: Magenta",
                             "Display: Cyan"};
    for (int m = 0; m < 10; ++m) view->addAction(MakeAction(cmd::kDisplayModes[m], modes[m]));
    view->addSeparator();
    view->addAction(MakeAction(cmd::kSelectiveDct, "Selective DCT..."));
    view->addAction(MakeAction(cmd::kLiveDeinterlacing, "Live De-Interlacing"));
    view->addAction(MakeAction(cmd::kAutoPictureMode, "Auto-Picture Mode"));
    BuildPictureMenus(view, file);
    view->addSeparator();
    BuildBytesPane(view);
    BuildStatsDocks(view);
    BuildProblemsDock(view);

    QMenu* processing = menuBar()->addMenu("&Processing");
    processing->addAction(MakeAction(cmd::kNegative, "Negative"));
    processing->addAction(MakeAction(cmd::kGamma, "Gamma Correction..."));
    processing->addSeparator();
    processing->addAction(MakeAction(cmd::kDeinterlacing, "De-Interlacing"));
    processing->addAction(MakeAction(cmd::kUniformSmooth, "Uniform Smooth"));
    processing->addAction(MakeAction(cmd::kGaussianSmooth, "Gaussian Smooth"));
    processing->addAction(MakeAction(cmd::kMedianSmooth, "Median Smooth"));
    processing->addAction(MakeAction(cmd::kWeakSharpen, "Weak Sharpen"));
    processing->addAction(MakeAction(cmd::kStrongSharpen, "Strong Sharpen"));
    processing->addSeparator();
    QMenu* edge = processing->addMenu("&Edge Detection");
    edge->addAction(MakeAction(cmd::kEdgeBlack, "Black Backgroud"));
    edge->addAction(MakeAction(cmd::kEdgeWhite, "White Backgroud"));
    edge->addAction(MakeAction(cmd::kEdgeGray, "Gray Backgroud"));
    QMenu* emboss = processing->addMenu("E&mboss");
    emboss->addAction(MakeAction(cmd::kEmbossLeftUp, "Left-Up Direction"));
    emboss->addAction(MakeAction(cmd::kEmbossLeftDown, "Left-Down Direction"));
    emboss->addAction(MakeAction(cmd::kEmbossRightUp, "Right-Up Direction"));
    emboss->addAction(MakeAction(cmd::kEmbossRightDown, "Right-Down Direction"));
    QMenu* flip = processing->addMenu("&Flip");
    flip->addAction(MakeAction(cmd::kVerticalFlip, "Vertical Flip"));
    flip->addAction(MakeAction(cmd::kHorizontalFlip, "Horizontal Flip"));
    processing->addSeparator();
    processing->addAction(MakeAction(cmd::kRestore, "Restore"));

    QMenu* help = menuBar()->addMenu("&Help");
    help->addAction(MakeAction(cmd::kAbout, "&About Bitloupe..."));

    // Menus show their entries as the rules say at that moment.
    for (QMenu* m : {file, view, processing, edge, emboss, flip, help})
        connect(m, &QMenu::aboutToShow, this, [this] { commands_.Refresh(); });

    // F6 and Shift+F6 move the focus between the panes.
    auto* next = new QAction(this);
    next->setShortcut(QKeySequence("F6"));
    connect(next, &QAction::triggered, this, [this] {
        if (treeView_->hasFocus())
            right_->setFocus();
        else
            treeView_->setFocus();
    });
    auto* previous = new QAction(this);
    previous->setShortcut(QKeySequence("Shift+F6"));
    connect(previous, &QAction::triggered, next, &QAction::trigger);
    addAction(next);
    addAction(previous);
}

void CMainFrame::BuildBars() {
    toolBar_ = addToolBar("Toolbar");
    toolBar_->setObjectName("toolBar");
    toolBar_->setIconSize(QSize(16, 16));
    struct Button {
        int id;
        const char* icon;
    };
    const Button buttons[] = {{cmd::kOpen, "tb-open"},
                              {0, nullptr},
                              {cmd::kSaveFrame, "tb-save-frame"},
                              {cmd::kSaveTopField, "tb-save-top"},
                              {cmd::kSaveBottomField, "tb-save-bottom"},
                              {cmd::kSaveSnapshot, "tb-save-snapshot"},
                              {0, nullptr},
                              {cmd::kSaveMbsBig, "tb-save-mb-big"},
                              {cmd::kSaveMbsSmall, "tb-save-mb-small"},
                              {0, nullptr},
                              {cmd::kAbout, "tb-about"},
                              {cmd::kExit, "tb-exit"}};
    for (const Button& b : buttons) {
        if (!b.icon) {
            toolBar_->addSeparator();
            continue;
        }
        QAction* a = commands_.ActionOf(b.id);
        a->setIcon(QIcon(QString(":/icons/%1.svg").arg(b.icon)));
        toolBar_->addAction(a);
    }
    // The bytes pane's switch, beside the other panes' commands.
    QAction* bytes = bytesDock_->toggleViewAction();
    bytes->setIcon(QIcon(":/icons/tb-bytes.svg"));
    toolBar_->insertAction(commands_.ActionOf(cmd::kAbout), bytes);
    toolBar_->insertSeparator(commands_.ActionOf(cmd::kAbout));

    addToolBarBreak();
    displayToolBar_ = addToolBar("Display Controls");
    displayToolBar_->setObjectName("displayBar");
    bar_ = new CDisplayBar(displayToolBar_);
    bar_->command = [this](int id) { commands_.Execute(id); };
    displayToolBar_->addWidget(bar_);

    statusBar()->showMessage("Ready");
    for (QLabel** label : {&capsLabel_, &numLabel_, &scrollLabel_}) {
        *label = new QLabel(this);
        (*label)->setAlignment(Qt::AlignCenter);
        (*label)->setMinimumWidth(40);
        statusBar()->addPermanentWidget(*label);
    }
    capsLabel_->setText("CAP");
    numLabel_->setText("NUM");
    scrollLabel_->setText("SCRL");
    for (QLabel* l : {capsLabel_, numLabel_, scrollLabel_}) l->setEnabled(false);
    connect(statusBar(), &QStatusBar::messageChanged, this, [this](const QString& m) {
        if (m.isEmpty()) statusBar()->showMessage("Ready");
    });
}

void CMainFrame::SetStatusText(const QString& text) {
    statusBar()->showMessage(text);
}

// ---- commands ----

bool CMainFrame::PictureAvailable() const {
    return fileOpen_ && !stream_.invalidFile && !right_->DialogShown() &&
           parser_->decoder.dib.HasPixels();
}

void CMainFrame::BuildCommands() {
    BuildFileCommands();
    BuildViewCommands();
    BuildProcessingCommands();
    commands_.Add(cmd::kAbout, [this] {
        CAboutDlg about(this);
        about.exec();
    });
    BuildDisplayBarCommands();
    BuildParseCommands();
    BuildOnDemandCommands();
    BuildPostedCommands();
}

void CMainFrame::BuildFileCommands() {
    CommandTable& t = commands_;
    auto idle = [this] { return !WorkerBusy(); };
    auto shows = [this] { return PictureAvailable() && displayMode() >= 0; };
    auto showsPart = [this] {
        return PictureAvailable() && (displayMode() == 1 || displayMode() == 2);
    };
    auto available = [this] { return PictureAvailable(); };

    t.Add(
        cmd::kOpen, [this] { OnOpen(); }, idle);
    for (int id : {cmd::kSaveFrame, cmd::kSaveTopField, cmd::kSaveBottomField})
        t.Add(
            id, [this, id] { SaveCommand(id); }, shows);
    t.Add(
        cmd::kSaveMbsBig, [this] { SaveCommand(cmd::kSaveMbsBig); }, showsPart);
    t.Add(
        cmd::kSaveMbsSmall, [this] { SaveCommand(cmd::kSaveMbsSmall); }, showsPart);
    t.Add(
        cmd::kSaveSnapshot, [this] { SaveCommand(cmd::kSaveSnapshot); }, available);
    t.Add(cmd::kExit, [this] { close(); });
}

void CMainFrame::BuildViewCommands() {
    CommandTable& t = commands_;
    auto available = [this] { return PictureAvailable(); };
    auto refresh = [this] { RenderCurrent(false, parser_->decoder.displayType, false); };

    t.Add(
        cmd::kToolbar, [this] { toolBar_->setVisible(!toolBar_->isVisible()); }, {},
        [this] { return toolBar_ && toolBar_->isVisible(); });
    t.Add(
        cmd::kStatusBar, [this] { statusBar()->setVisible(!statusBar()->isVisible()); }, {},
        [this] { return statusBar()->isVisible(); });
    t.Add(cmd::kRefresh, refresh, available);
    for (int m = 0; m < 10; ++m) {
        t.Add(
            cmd::kDisplayModes[m],
            [this, m, refresh] {
                if (parser_->decoder.colourMode == m) return;
                parser_->decoder.colourMode = static_cast<uint8_t>(m);
                refresh();
            },
            {}, [this, m] { return parser_->decoder.colourMode == m; });
    }
    t.Add(cmd::kSelectiveDct, [this, refresh] {
        CDctMaskDlg dialog(parser_->decoder.selectiveDct, this);
        if (dialog.exec() != QDialog::Accepted) return;
        parser_->decoder.selectiveDct = dialog.selectiveDct();
        refresh();
    });
    t.Add(
        cmd::kLiveDeinterlacing,
        [this, refresh] {
            parser_->decoder.liveDeInterlace = !parser_->decoder.liveDeInterlace;
            refresh();
        },
        {}, [this] { return parser_->decoder.liveDeInterlace; });
    t.Add(
        cmd::kAutoPictureMode, [this] { treeView_->autoPictureMode = !treeView_->autoPictureMode; },
        {}, [this] { return treeView_->autoPictureMode; });
}

void CMainFrame::BuildProcessingCommands() {
    CommandTable& t = commands_;
    auto filterable = [this] { return PictureAvailable() && displayMode() >= 1; };

    for (int id : {cmd::kNegative, cmd::kGamma, cmd::kDeinterlacing, cmd::kUniformSmooth,
                   cmd::kGaussianSmooth, cmd::kMedianSmooth, cmd::kWeakSharpen, cmd::kStrongSharpen,
                   cmd::kEdgeBlack, cmd::kEdgeWhite, cmd::kEdgeGray, cmd::kEmbossLeftUp,
                   cmd::kEmbossLeftDown, cmd::kEmbossRightUp, cmd::kEmbossRightDown,
                   cmd::kVerticalFlip, cmd::kHorizontalFlip})
        t.Add(
            id, [this, id] { RunPictureFilter(id); }, filterable);
    // Gamma has its own dialog: it replaces the filter entry just made.
    t.Add(
        cmd::kGamma, [this] { GammaCommand(); }, filterable);
    t.Add(
        cmd::kRestore,
        [this] {
            if (parser_->decoder.dib.Restore()) right_->RepaintPicture(false);
        },
        [this] {
            return PictureAvailable() && displayMode() >= 1 && parser_->decoder.dib.HasSavedCopy();
        });
}

// The bar of display controls.
void CMainFrame::BuildDisplayBarCommands() {
    CommandTable& t = commands_;
    t.Add(cmd::kColors, [this] {
        CColorsDlg dialog(CurrentColours(right_->colours, stream_), this);
        dialog.exec();
        const CColorsDlg::Outcome result = dialog.outcome();
        if (!result.ok) return;
        ApplyColours(result.colours, right_->colours, stream_);
        right_->RepaintPicture(false);
    });
    t.Add(cmd::kDisplayType, [this] {
        const int previous = parser_->decoder.displayType;
        parser_->decoder.displayType =
            static_cast<uint8_t>(bar_->displayTypeCombo()->currentIndex());
        RenderCurrent(true, previous, false);
    });
    t.Add(
        cmd::kFieldOption,
        [this] {
            parser_->decoder.fieldOption =
                static_cast<uint8_t>(bar_->fieldOptionCombo()->currentIndex());
            RenderCurrent(true, parser_->decoder.displayType, true);
        },
        [this] { return bar_->fieldOptionCombo()->isEnabled(); });
    t.Add(cmd::kDisplayMvs, [this] {
        right_->displayMvs = bar_->displayMvsBox()->isChecked();
        bar_->mvTypeCombo()->setEnabled(right_->displayMvs);
        right_->RepaintPicture(false);
    });
    t.Add(cmd::kMvType, [this] { OnMvType(); });
    t.Add(cmd::kMbGrid, [this] {
        right_->mbGrid = bar_->mbGridBox()->isChecked();
        right_->RepaintPicture(false);
    });
    t.Add(cmd::kSearch, [this] { treeView_->SearchNext(); });
    t.Add(cmd::kFocusKeyword, [this] {
        bar_->keywordEdit()->setFocus();
        bar_->keywordEdit()->selectAll();
    });
}

// Parses, posted by the parsing dialog.
void CMainFrame::BuildParseCommands() {
    CommandTable& t = commands_;
    auto canParse = [this] { return fileOpen_ && !stream_.invalidFile && !WorkerBusy(); };
    auto canParsePs = [this, canParse] {
        return canParse() && stream_.streamType == kProgramStream;
    };
    t.Add(
        cmd::kParseVideo, [this] { StartParse(cmd::kParseVideo); }, canParse);
    t.Add(
        cmd::kParseProgramStream, [this] { StartParse(cmd::kParseProgramStream); }, canParsePs);
    t.Add(
        cmd::kParseBoth, [this] { StartParse(cmd::kParseBoth); }, canParsePs);
}

// The tree's on-demand commands: they say why they refuse.
void CMainFrame::BuildOnDemandCommands() {
    CommandTable& t = commands_;
    t.Add(cmd::kParseSliceMbs, [this] {
        if (!OnDemandAllowed()) return;
        const TreeItem target = treeView_->macroblockTarget;
        StartWorker([this, target] { parser_->macroblocks.ParseMacroblocksOfSlice(target); },
                    PictureOf(tree_, target));
    });
    t.Add(cmd::kParsePictureMbs, [this] {
        if (!OnDemandAllowed()) return;
        if (host_->MessageBox("This may be a very time-consuming operation! Do you really want "
                              "to continue?",
                              msg::kWarningCaption, MsgIcon::Question,
                              MsgButtons::YesNo) != MsgAnswer::Yes)
            return;
        const TreeItem target = treeView_->pictureTarget;
        StartWorker([this, target] { parser_->macroblocks.ParseMacroblocksOfPicture(target); },
                    target);
    });
    t.Add(cmd::kDeleteSliceMbs, [this] {
        if (!OnDemandAllowed()) return;
        host_->BeginWaitCursor();
        DeleteSliceMacroblocks(tree_, stream_, treeView_->sliceTarget);
        host_->EndWaitCursor();
        RefreshStatsOfPicture(PictureOf(tree_, treeView_->sliceTarget));
    });
    t.Add(cmd::kDeletePictureMbs, [this] {
        if (!OnDemandAllowed()) return;
        host_->BeginWaitCursor();
        const TreeItem picture = treeView_->pictureTarget;
        for (TreeItem c = tree_.GetChildItem(picture); c; c = tree_.GetNextSiblingItem(c))
            if (tree_.GetItemData(c) == kind::kSlice) DeleteSliceMacroblocks(tree_, stream_, c);
        host_->EndWaitCursor();
        RefreshStatsOfPicture(picture);
    });
    t.Add(cmd::kParsePayload, [this] {
        if (!OnDemandAllowed()) return;
        host_->BeginWaitCursor();
        parser_->system.ParsePacketPayload(treeView_->payloadTarget);
        host_->EndWaitCursor();
        RefreshStats(StatsRefresh::kCatchUp);
    });
}

// Posted by the decoder and the worker.
void CMainFrame::BuildPostedCommands() {
    CommandTable& t = commands_;
    t.Add(msg::kCommandRedisplay, [this] {
        const TreeItem item = parser_->macroblocks.itemToRedisplay;
        if (!item) return;
        treeView_->SelectItem(item);
        DecodeSelectedItem(item);
    });
    t.Add(msg::kCommandDisplayTypeChanged,
          [this] { bar_->displayTypeCombo()->setCurrentIndex(parser_->decoder.displayType); });
    t.Add(msg::kCommandFieldOption, [this] {
        bar_->fieldOptionCombo()->setEnabled(parser_->decoder.dib.PictureStructure() ==
                                             CPictureDib::kFrame);
    });
    t.Add(msg::kCommandWorkerFinished, [this] { OnWorkerFinished(); });
}

void CMainFrame::OnCommandPosted(int id) {
    const bool done = commands_.Execute(id);
    // A parse the dialog asked for but the frame refused leaves the dialog idle again.
    if (!done &&
        (id == cmd::kParseVideo || id == cmd::kParseProgramStream || id == cmd::kParseBoth) &&
        !WorkerBusy())
        dialog_->OnWorkerFinished();
}

void CMainFrame::OnMvType() {
    QComboBox* combo = bar_->mvTypeCombo();
    int s = combo->currentIndex();
    // The separator entry stands for the last entry of the vectors-only group.
    if (s == 7) {
        s = 14;
        combo->setCurrentIndex(14);
    }
    if (!PictureAvailable() || !right_->displayMvs) return;
    right_->mvsOnly = s > 6;
    if (s > 6) s -= 8;
    static constexpr int kSelect[7][2] = {{0, 0},   {0, 1},   {1, 0},    {1, 1},
                                          {255, 0}, {255, 1}, {255, 255}};
    right_->vectorSelect = kSelect[s][0];
    right_->directionSelect = kSelect[s][1];
    right_->RepaintPicture(false);
}

// ---- opening ----

void CMainFrame::OnOpen() {
    QString path;
    if (chooseFile) {
        path = chooseFile();
    } else {
        path = QFileDialog::getOpenFileName(this, "Open", QString(), kOpenFilter);
    }
    if (path.isEmpty()) return;
    OpenPath(path);
}

bool CMainFrame::OpenPath(const QString& path) {
    if (WorkerBusy()) {
        host_->MessageBox(msg::kAnotherWorkerThread, msg::kWarningCaption, MsgIcon::None,
                          MsgButtons::Ok);
        return false;
    }
    host_->BeginWaitCursor();
    treeView_->FollowParse();
    const bool ok = parser_->OpenFile(ToLocal(path));
    host_->EndWaitCursor();
    dispatch_->Reset();
    right_->SetMap(MacroblockMap());
    if (ok) AddRecentFile(path);
    fileOpen_ = stream_.fileItem != 0;
    // The bytes are there before any parse.
    OpenBytes(path);
    fileBytes_ = static_cast<uint64_t>(QFileInfo(path).size());
    RefreshStats();
    if (fileOpen_) setWindowTitle("Bitloupe - " + QFileInfo(path).fileName());
    right_->SetFileOpen(fileOpen_ && !stream_.invalidFile);
    if (ok) {
        right_->ShowDialog(true);
        dialog_->SetParseEnabled(true);
    }
    Tick();
    return ok;
}

void CMainFrame::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void CMainFrame::dropEvent(QDropEvent* event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.isEmpty() || !urls.front().isLocalFile()) return;
    event->acceptProposedAction();
    const QString path = urls.front().toLocalFile();
    // The same road as "Open...": refused while a worker runs.
    if (!commands_.IsEnabled(cmd::kOpen)) return;
    QTimer::singleShot(0, this, [this, path] { OpenPath(path); });
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    if (!QCoreApplication::organizationName().isEmpty()) SaveSettings();
    if (WorkerBusy()) {
        dialog_->ResetToIdle();
        worker_->Join();
    }
    QMainWindow::closeEvent(event);
}

// ---- the worker ----

void CMainFrame::StartParse(int id) {
    treeView_->FollowParse();
    // The figures and problems follow the new parse from its start.
    statsGatherer_.Reset();
    problemFinder_.Reset();
    statsClock_.invalidate();
    statsProgress_ = -1;
    liveStatsRefreshes_ = 0;
    if (id == cmd::kParseProgramStream) {
        parser_->BeginSystemParse();
        StartWorker([this] { parser_->ParseSystemStream(); });
    } else {
        parser_->silentSystemLayer = id == cmd::kParseVideo;
        parser_->BeginVideoParse();
        StartWorker([this] { parser_->ParseVideoStream(); });
    }
}

bool CMainFrame::OnDemandAllowed() {
    if (WorkerBusy()) {
        host_->MessageBox(msg::kAnotherWorkerThread, msg::kWarningCaption, MsgIcon::None,
                          MsgButtons::Ok);
        return false;
    }
    if (stream_.streamType == kProgramStream && dialog_->mode == kModeBoth && dialog_->Running()) {
        host_->MessageBox("This operation is not allowed at present!", msg::kWarningCaption,
                          MsgIcon::None, MsgButtons::Ok);
        return false;
    }
    return true;
}

void CMainFrame::StartWorker(std::function<void()> job, TreeItem picture) {
    onDemand_ = !dialog_->Running();
    onDemandPicture_ = picture;
    if (onDemand_) {
        // An on-demand parse: Pause and Stop apply to it too.
        dialog_->BeginParse();
        dialog_->OnWorkerStarted();
    }
    worker_->Start(std::move(job));
    commands_.Refresh();
}

void CMainFrame::OnWorkerFinished() {
    if (WorkerBusy()) return;  // a notice of an earlier worker; another one runs now
    worker_->Join();
    const bool onDemand = onDemand_;
    dialog_->OnWorkerFinished();
    Tick();
    if (onDemand_) {
        // Selections made while it ran were not decoded, nor a redisplay that came before the
        // worker had quite ended: the pane shows what is selected now.
        onDemand_ = false;
        DecodeSelectedItem(treeView_->SelectedItem());
    }
    // A map's parse gives the selection back; a click on the picture that waited for its
    // macroblocks selects one now; a map that waited for them is drawn.
    if (const TreeItem keep = std::exchange(mapKeepSelection_, 0); keep && tree_.IsValid(keep))
        SelectAndShow(keep);
    FinishPendingClick();
    RefreshMap();
    if (onDemand && onDemandPicture_)
        RefreshStatsOfPicture(std::exchange(onDemandPicture_, 0));
    else
        RefreshStats(onDemand ? StatsRefresh::kAgain : StatsRefresh::kCatchUp);
}

bool CMainFrame::ParserFree() const {
    if (!WorkerBusy()) return true;
    const bool pausable = !(stream_.streamType == kProgramStream && dialog_->mode == kModeBoth);
    return pausable && dialog_->IsPaused();
}

void CMainFrame::RepaintPane(bitloupe::Repaint kind) {
    if (kind == bitloupe::Repaint::None) return;
    right_->RepaintPicture(kind == bitloupe::Repaint::Erase);
    commands_.Refresh();
}

void CMainFrame::DecodeSelectedItem(TreeItem item) {
    ShowPictureTime(item);
    if (!fileOpen_ || stream_.invalidFile || right_->DialogShown() || !ParserFree()) return;
    QElapsedTimer clock;
    clock.start();
    if (decodeReferences_) DecodeReferencesFor(item);
    const TreeItem before = parser_->decoder.currentPicture;
    RepaintPane(dispatch_->DecodeSelectedItem(item));
    if (parser_->decoder.currentPicture != before || right_->map().kind != mapKind_) RefreshMap();
    lastDecodeMs_ = clock.nsecsElapsed() / 1e6;
}

void CMainFrame::RenderCurrent(bool combo, int previousType, bool fromFieldOption) {
    if (!PictureAvailable() || !ParserFree()) return;
    int shown = -1;
    const bitloupe::Repaint kind =
        dispatch_->RenderCurrent(combo, previousType, fromFieldOption, &shown);
    if (shown >= 0) bar_->displayTypeCombo()->setCurrentIndex(shown);
    RepaintPane(kind);
}

void CMainFrame::RunPictureFilter(int id) {
    static const std::pair<int, PictureFilter> kFilters[] = {
        {cmd::kNegative, PictureFilter::kNegative},
        {cmd::kDeinterlacing, PictureFilter::kDeInterlace},
        {cmd::kUniformSmooth, PictureFilter::kUniformSmooth},
        {cmd::kGaussianSmooth, PictureFilter::kGaussianSmooth},
        {cmd::kMedianSmooth, PictureFilter::kMedianSmooth},
        {cmd::kWeakSharpen, PictureFilter::kWeakSharpen},
        {cmd::kStrongSharpen, PictureFilter::kStrongSharpen},
        {cmd::kEdgeBlack, PictureFilter::kEdgeBlack},
        {cmd::kEdgeWhite, PictureFilter::kEdgeWhite},
        {cmd::kEdgeGray, PictureFilter::kEdgeGray},
        {cmd::kEmbossLeftUp, PictureFilter::kEmbossLeftUp},
        {cmd::kEmbossLeftDown, PictureFilter::kEmbossLeftDown},
        {cmd::kEmbossRightUp, PictureFilter::kEmbossRightUp},
        {cmd::kEmbossRightDown, PictureFilter::kEmbossRightDown},
        {cmd::kVerticalFlip, PictureFilter::kVerticalFlip},
        {cmd::kHorizontalFlip, PictureFilter::kHorizontalFlip},
    };
    for (const auto& [command, filter] : kFilters) {
        if (command != id) continue;
        host_->BeginWaitCursor();
        const FilterResult r = RunFilter(parser_->decoder.dib, filter, parser_->decoder.colourMode);
        host_->EndWaitCursor();
        if (r == FilterResult::kOutOfMemory)
            host_->MessageBox(msg::kOutOfMemory, msg::kErrorCaption, MsgIcon::Error,
                              MsgButtons::Ok);
        right_->RepaintPicture(false);
        return;
    }
}

void CMainFrame::SaveCommand(int id) {
    const CPictureDib& dib = parser_->decoder.dib;
    if (!dib.HasPixels()) {
        host_->MessageBox("No valid data for saving!", msg::kWarningCaption, MsgIcon::None,
                          MsgButtons::Ok);
        return;
    }
    QString path;
    if (saveFile) {
        path = saveFile();
    } else {
        QFileDialog dialog(this, "Save As");
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setNameFilter("BMP Files (*.bmp)");
        dialog.setDefaultSuffix("bmp");
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
        path = dialog.selectedFiles().front();
    }
    if (path.isEmpty()) return;
    if (QFileInfo(path).suffix().isEmpty()) path += ".bmp";
    const std::string file = ToLocal(path);
    host_->BeginWaitCursor();
    std::string error;
    BmpResult result = BmpResult::kOk;
    switch (id) {
        case cmd::kSaveFrame:
            result = dib.Save(file);
            break;
        case cmd::kSaveTopField:
            result = dib.SaveField(file, false);
            break;
        case cmd::kSaveBottomField:
            result = dib.SaveField(file, true);
            break;
        case cmd::kSaveMbsBig: {
            const QColor c = right_->colours.pictureBackground;
            const uint32_t rgb = static_cast<uint32_t>(c.red()) |
                                 static_cast<uint32_t>(c.green()) << 8 |
                                 static_cast<uint32_t>(c.blue()) << 16;
            result = dib.SaveFocusWithBackground(file, rgb);
            break;
        }
        case cmd::kSaveMbsSmall:
            result = dib.SaveFocusOnly(file);
            break;
        default:
            error = right_->SaveSnapshot(file);
            break;
    }
    host_->EndWaitCursor();
    // A file that could not be written is said, not passed over.
    if (result != BmpResult::kOk) {
        const BmpMessage m = BmpResultMessage(result);
        error = m.text ? m.text : "Failed to write the BMP file!";
    }
    if (!error.empty())
        host_->MessageBox(error, msg::kErrorCaption, MsgIcon::Error, MsgButtons::Ok);
}

void CMainFrame::GammaCommand() {
    CPictureDib& dib = parser_->decoder.dib;
    CPictureDib original;
    if (!original.CopyFrom(dib)) {
        host_->MessageBox(msg::kOutOfMemory, msg::kErrorCaption, MsgIcon::Error, MsgButtons::Ok);
        return;
    }
    // The pane shows the preview while the dialog is open.
    CGammaDlg dialog(
        original,
        [this, &dib](const CPictureDib& preview) {
            dib.CopyFrom(preview);
            right_->RepaintPicture(false);
        },
        this);
    const bool ok = dialog.exec() == QDialog::Accepted;
    dib.CopyFrom(original);
    if (ok && ApplyGammaTables(dib, dialog.tables()) == FilterResult::kOutOfMemory)
        host_->MessageBox(msg::kOutOfMemory, msg::kErrorCaption, MsgIcon::Error, MsgButtons::Ok);
    right_->RepaintPicture(false);
}

void CMainFrame::ExportCommand(int id) {
    const TreeItem target = treeView_->PopupTarget();
    if (!target) return;
    std::string text;
    if (id == cmd::tree::kExportItem) {
        text = tree_.GetItemText(target);
    } else {
        if (IsLargeBranch(tree_, target) &&
            host_->MessageBox(msg::kLongExportQuestion, msg::kQuestionCaption, MsgIcon::None,
                              MsgButtons::YesNo) != MsgAnswer::Yes)
            return;
        host_->BeginWaitCursor();
        if (id == cmd::tree::kExportYCbCr)
            text = ExportPelBranch(tree_, target, true);
        else
            text = ExportBranch(tree_, target, true, id == cmd::tree::kExportAll);
        host_->EndWaitCursor();
    }
    lastExport = text;
    // The exact bytes, CR LF line ends and tabs included.
    auto* data = new QMimeData;
    data->setData("text/plain", QByteArray(text.data(), static_cast<qsizetype>(text.size())));
    QGuiApplication::clipboard()->setMimeData(data);
}

bool CMainFrame::WaitForWorker(int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    // A parse the dialog asked for starts when its posted command arrives.
    QCoreApplication::processEvents();
    // Sleeps between events as the event loop does: the publishing timer, the worker's
    // messages and its finished notice wake it. (Polling here would take a core from the
    // parse and the tree's lock from the worker.)
    QTimer wake;  // a bound on each wait, for the time-out
    wake.start(50);
    while (WorkerBusy()) {
        if (timeoutMs >= 0 && clock.elapsed() > timeoutMs) return false;
        // A paused parse waits for the user, not for the caller.
        if (!onDemand_ && dialog_->IsPaused()) return true;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    // Let the finished notice arrive.
    QCoreApplication::processEvents();
    OnWorkerFinished();
    return true;
}

void CMainFrame::Tick() {
    static const bool trace = qEnvironmentVariableIsSet("BITLOUPE_TRACE");
    QElapsedTimer clock;
    clock.start();
    SyntaxTreeModel::Publication p = model_->Publish(kPublishBudgetMs);
    const qint64 published = clock.elapsed();
    // While a parse runs, the view follows it twice a second: each expand, collapse and
    // scroll lays the view out again, and the parse waits for the tree meanwhile.
    heldRequests_.insert(heldRequests_.end(), p.requests.begin(), p.requests.end());
    if (!WorkerBusy() || !followClock_.isValid() || followClock_.elapsed() >= kFollowMs) {
        p.requests.swap(heldRequests_);
        heldRequests_.clear();
        followClock_.start();
    } else {
        p.requests.clear();
    }
    treeView_->ApplyRequests(p.requests);
    if (trace)
        std::fprintf(stderr, "tick: %zu rows in %lld ms, %zu requests in %lld ms\n", p.rows,
                     published, p.requests.size(), clock.elapsed() - published);
    if (!p.complete)
        QTimer::singleShot(0, this, [this] {
            if (model_->HasPending()) Tick();
        });
    dialog_->PollProgress();
    commands_.Refresh();
    RefreshStatsWhileParsing();
}

}  // namespace bitloupe
