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

#include "app/CommandTable.h"
#include "engine/ParseThread.h"
#include "engine/StreamState.h"
#include "engine/SyntaxParser.h"
#include "engine/TreeStore.h"

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
    // Waits, serving events, until no worker runs; false on timeout.
    bool WaitForWorker(int timeoutMs = -1);
    bool WorkerBusy() const { return worker_ && worker_->Running(); }

    // The open dialog, replaceable by tests: returns the chosen path, empty for cancel.
    std::function<QString()> chooseFile;

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
    // The longest stall of the interface while the timer ran (ms), for measurements.
    bool PictureAvailable() const;
    int displayMode = -1;  // what the right pane shows: -1 nothing, 0 block .. 4 picture

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildCommands();
    void BuildMenus();
    void BuildBars();
    void BuildPanes();
    QAction* MakeAction(int id, const QString& text, const QKeySequence& key = {});
    void OnCommandPosted(int id);
    void OnOpen();
    void StartParse(int id);
    bool OnDemandAllowed();
    void StartWorker(std::function<void()> job);
    void OnWorkerFinished();
    void OnMvType();
    void SetStatusText(const QString& text);

    TreeStore tree_;
    CStreamState stream_;
    QtHost* host_ = nullptr;
    CParseDlg* dialog_ = nullptr;
    std::unique_ptr<CSyntaxParser> parser_;
    std::unique_ptr<ParseThread> worker_;
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
    bool fileOpen_ = false;
    bool mvDisplay_ = false, mvsOnly_ = false, mbGrid_ = false;
    int vectorSelect_ = 255, directionSelect_ = 255;
};

}  // namespace bitloupe
