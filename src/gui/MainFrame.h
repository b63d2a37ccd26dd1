// The main window: it owns the open file's engine (tree store, stream state, parser), the
// parsing dialog and the one worker thread, lays out the toolbar, the bar of display
// controls, the status bar and the two panes, and turns every command into calls on them
// through one command table.
#pragma once

#include <QElapsedTimer>
#include <QLabel>
#include <QMainWindow>
#include <QTimer>
#include <QToolBar>
#include <functional>
#include <memory>

#include "core/render/DecodeDispatch.h"
#include "core/render/PictureFacts.h"
#include "core/render/Problems.h"
#include "core/render/StreamStats.h"
#include "core/session/ParseThread.h"
#include "core/session/SyntaxParser.h"
#include "core/tree/TreeStore.h"
#include "gui/CommandTable.h"

class QComboBox;
class QMenu;
class QSplitter;

namespace bitloupe {

class CDisplayBar;
class CParseDlg;
class CRightWnd;
class CSyntaxTree;
class QtHost;
class SyntaxTreeModel;

class CMainFrame : public QMainWindow {
    Q_OBJECT

  public:
    CMainFrame();
    ~CMainFrame() override;

    // The open dialog's file types.
    static constexpr const char* kOpenFilter =
        "MPEG Files (*.mpg *.mpeg *.mpe *.m1v *.m2v *.mpv *.m2p *.vob);;All Files (*)";

    // The open-file flow with a chosen path (the dialog, the command line and drops end here).
    // False when the file could not be opened or was refused.
    bool OpenPath(const QString& path);
    // Runs a command by id as any road would: only when its rule holds.
    bool Execute(int id) { return commands_.Execute(id); }
    bool IsEnabled(int id) const { return commands_.IsEnabled(id); }
    bool IsChecked(int id) const { return commands_.IsChecked(id); }
    QAction* ActionOf(int id) const { return commands_.ActionOf(id); }
    // Publishes the tree and refreshes progress and command states (the timer's work).
    void Tick();
    // Waits, serving events, until no worker runs or the parse is paused; false on timeout.
    bool WaitForWorker(int timeoutMs = -1);
    bool WorkerBusy() const { return worker_ && worker_->Running(); }

    // The open and save dialogs, replaceable by scripts and tests: return the chosen path,
    // empty for cancel.
    std::function<QString()> chooseFile;
    std::function<QString()> saveFile;

    // Parts, for automation and tests.
    TreeStore& tree() { return tree_; }
    CStreamState& stream() { return stream_; }
    CSyntaxParser& parser() { return *parser_; }
    QtHost& host() { return *host_; }
    CParseDlg* parseDialog() const { return dialog_; }
    CSyntaxTree* treeView() const { return treeView_; }
    CRightWnd* rightPane() const { return right_; }
    CDisplayBar* displayBar() const { return bar_; }
    SyntaxTreeModel* model() const { return model_; }
    QToolBar* toolBar() const { return toolBar_; }
    bool fileOpen() const { return fileOpen_; }
    // A file is open and valid, the parsing dialog hidden and the bitmap holds a picture.
    bool PictureAvailable() const;
    // The parser may be used from the interface thread: no worker, or one paused in a mode
    // that can pause.
    bool ParserFree() const;
    DecodeDispatch& dispatch() { return *dispatch_; }
    int displayMode() const { return dispatch_->displayMode; }
    // Decodes the unit of a selected item and shows it, when the parser is free.
    void DecodeSelectedItem(TreeItem item);
    // Draws the current unit again (display type, field option, colour mode, Refresh).
    void RenderCurrent(bool combo, int previousType, bool fromFieldOption);
    // Runs a Processing filter on the shown picture.
    void RunPictureFilter(int id);
    // The tree's export commands: the popup target's text or branch to the clipboard.
    void ExportCommand(int id);
    std::string lastExport;  // what the last export put on the clipboard

    // --- the picture pane for daily use ---
    // The readout of the sample (x, y) of the shown picture in the status bar, as a pointer
    // over it gives; an empty readout when (x, y) lies outside.
    void HoverPicture(int x, int y);
    QString readout() const { return readout_; }
    // The selected picture's time as the status bar shows it.
    QString pictureTime() const;
    // A click on the sample (x, y): selects the item of the macroblock there, its picture's
    // macroblocks parsed first as "Parse MBs in Picture" parses them.
    void ClickPicture(int x, int y);
    void SetMapKind(MapKind kind);
    MapKind mapKind() const { return mapKind_; }
    bool decodeReferences() const { return decodeReferences_; }
    void SetDecodeReferences(bool on) { decodeReferences_ = on; }
    // Selects picture n (from 1) in stream or display order; false when there is none.
    bool GoToPicture(int n, bool displayOrder);
    // Settings are remembered between runs only for the application proper (not for scripts
    // and tests, whose start must not depend on an earlier run).
    void LoadSettings();
    void SaveSettings() const;
    QStringList recentFiles() const { return recent_; }
    // How long the last selection took to decode and show, references included (ms).
    double lastDecodeMs() const { return lastDecodeMs_; }
    // The bytes pane: shown or hidden, its file, the selected item's bits, and a click on a
    // byte (selects the deepest item that covers it, as bitloupe-cli at finds it).
    void ShowBytesPane(bool shown);
    bool BytesPaneShown() const;
    void SelectItemAtByte(uint64_t offset, int bit);
    class BytesPane* bytesPane() const {
        return bytes_;
    }
    double lastBytesMs() const { return lastBytesMs_; }
    double lastByteLookupMs() const { return lastByteLookupMs_; }
    // The stream chart and summary: shown, their figures (kept up while the parse runs) and a
    // click on picture n's bar (stream order, from 1); false when there is no such bar.
    void ShowStatsDocks(bool chart, bool summary);
    bool ChartShown() const;
    bool SummaryShown() const;
    // Whether the chart, the summary or the problems are shown: their figures are kept up.
    bool StatsShown() const;
    // Brings the chart, summary and problems up to the parse (kCatchUp reads only what it added
    // since), or gathers them again from the whole tree (kAgain).
    enum class StatsRefresh { kCatchUp, kAgain };
    void RefreshStats(StatsRefresh how = StatsRefresh::kAgain);
    bool ClickChartPicture(uint32_t number);
    class StreamChart* streamChart() const {
        return chart_;
    }
    const StreamStats& streamStats() const { return statsGatherer_.Stats(); }
    // Milliseconds the last refresh of the chart, summary and problems took, and how many were
    // made while a parse ran.
    double lastStatsMs() const { return lastStatsMs_; }
    int liveStatsRefreshes() const { return liveStatsRefreshes_; }
    // The problems dock: shown, and F8 / Shift+F8 (false when there is no problem to go to).
    void ShowProblems(bool shown);
    bool ProblemsShown() const;
    bool StepProblem(bool forward);
    class ProblemsPane* problemsPane() const {
        return problems_;
    }

  protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    void BuildCommands();
    // BuildCommands' parts: the commands of each menu, the display bar, the parses, the
    // tree's popup menu and those the engine posts.
    void BuildFileCommands();
    void BuildViewCommands();
    void BuildProcessingCommands();
    void BuildDisplayBarCommands();
    void BuildParseCommands();
    void BuildOnDemandCommands();
    void BuildPostedCommands();
    void BuildMenus();
    void BuildBars();
    void BuildPanes();
    void BuildPictureCommands();
    void BuildPictureMenus(QMenu* view, QMenu* file);
    void BuildPictureBar();
    void DecodeReferencesFor(TreeItem item);
    void RefreshMap();
    void ShowPictureTime(TreeItem item);
    void SelectAndShow(TreeItem item);
    void FinishPendingClick();
    void AddRecentFile(const QString& path);
    void RebuildRecentMenu();
    QAction* MakeAction(int id, const QString& text, const QKeySequence& key = {});
    void OnCommandPosted(int id);
    void OnOpen();
    void StartParse(int id);
    bool OnDemandAllowed();
    // Runs a job on the worker; `picture`: the one whose macroblocks an on-demand job parses.
    void StartWorker(std::function<void()> job, TreeItem picture = 0);
    void OnWorkerFinished();
    void OnMvType();
    void SetStatusText(const QString& text);

    TreeStore tree_;
    CStreamState stream_;
    QtHost* host_ = nullptr;
    CParseDlg* dialog_ = nullptr;
    std::unique_ptr<CSyntaxParser> parser_;
    std::unique_ptr<ParseThread> worker_;
    std::unique_ptr<DecodeDispatch> dispatch_;
    SyntaxTreeModel* model_ = nullptr;
    CSyntaxTree* treeView_ = nullptr;
    CRightWnd* right_ = nullptr;
    CDisplayBar* bar_ = nullptr;
    QSplitter* splitter_ = nullptr;
    QToolBar* toolBar_ = nullptr;
    QToolBar* displayToolBar_ = nullptr;
    QLabel* capsLabel_ = nullptr;
    QLabel* numLabel_ = nullptr;
    QLabel* scrollLabel_ = nullptr;
    CommandTable commands_;
    QTimer timer_;
    std::vector<ViewRequest> heldRequests_;
    QElapsedTimer followClock_;
    bool fileOpen_ = false;
    bool onDemand_ = false;  // the worker runs an on-demand parse
    TreeItem onDemandPicture_ = 0;
    void RepaintPane(bitloupe::Repaint kind);
    QString readout_;
    double lastDecodeMs_ = 0;
    MapKind mapKind_ = MapKind::kNone;
    bool decodeReferences_ = true;
    struct PendingClick {
        bool active = false;
        TreeItem picture = 0;
        int x = 0, y = 0;
    } pendingClick_;
    QStringList recent_;
    // Maps parse the macroblocks of each picture shown once the user agreed for the first; the
    // selection made before such a parse is given back when it ends.
    bool mapParseAgreed_ = false;
    TreeItem mapParsedPicture_ = 0;
    TreeItem mapKeepSelection_ = 0;
    void ParseMacroblocksForMap(TreeItem picture);
    // "Parse MBs in Picture" on the picture, its question included; true when the parse runs.
    bool ParsePictureMacroblocks(TreeItem picture);
    QMenu* recentMenu_ = nullptr;
    QComboBox* overlayBox_ = nullptr;
    QLabel* timeLabel_ = nullptr;
    void SaveCommand(int id);
    void GammaCommand();
    // A dock of the main window holding `widget`, hidden until shown.
    class QDockWidget* AddHiddenDock(const char* title, const char* name, QWidget* widget,
                                     Qt::DockWidgetArea area);
    void BuildBytesPane(QMenu* view);
    void OpenBytes(const QString& path);
    void ShowItemBytes(TreeItem item);
    void GoToOffsetCommand();
    void FindBytesCommand();
    // Selects the item at the pane's cursor after a search or a step, or says nothing was found.
    void FollowBytes(bool found);
    QString lastBytesPattern_;
    class BytesPane* bytes_ = nullptr;
    class QDockWidget* bytesDock_ = nullptr;
    double lastBytesMs_ = 0;
    double lastByteLookupMs_ = 0;
    void BuildStatsDocks(QMenu* view);
    void MarkChartPicture(TreeItem item);
    class StreamChart* chart_ = nullptr;
    class QDockWidget* chartDock_ = nullptr;
    class QDockWidget* summaryDock_ = nullptr;
    class QPlainTextEdit* summaryText_ = nullptr;
    StatsGatherer statsGatherer_;
    ProblemFinder problemFinder_;
    uint64_t problemsShownVersion_ = ~uint64_t{0};
    size_t chartPictures_ = ~size_t{0};
    QElapsedTimer statsClock_;  // since the last refresh
    double lastStatsMs_ = 0;
    int liveStatsRefreshes_ = 0;
    int64_t statsProgress_ = -1;  // the parse's offset at the last live refresh
    void RefreshStatsWhileParsing();
    void ShowStats(bool always);
    // After a picture's macroblocks were parsed or deleted: its figures and checks again.
    void RefreshStatsOfPicture(TreeItem picture);
    uint64_t fileBytes_ = 0;
    void BuildProblemsDock(QMenu* view);
    void ShareBottomDocks();
    void ShowUnitOf(TreeItem item);
    class ProblemsPane* problems_ = nullptr;
    class QDockWidget* problemsDock_ = nullptr;
    QLabel* problemCounts_ = nullptr;
};

}  // namespace bitloupe
