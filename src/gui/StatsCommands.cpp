// The main window's part of the stream chart, the stream summary and the problems: their docks,
// the figures kept up with the parse while it runs, and the chart and the tree as one selection.
#include <QClipboard>
#include <QDockWidget>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QVBoxLayout>
#include <cstdio>

#include "core/render/PictureFacts.h"
#include "core/render/Problems.h"
#include "gui/MainFrame.h"
#include "gui/ParseDlg.h"
#include "gui/ProblemsPane.h"
#include "gui/StreamChart.h"
#include "gui/SyntaxTree.h"

namespace bitloupe {

namespace {
// How often the figures catch up with a running parse. Each catching up reads what the parse
// added since the one before, the parse waiting meanwhile: the more often, the shorter the wait.
constexpr double kLiveStatsMs = 250;
}  // namespace

void CMainFrame::BuildStatsDocks(QMenu* view) {
    chart_ = new StreamChart(this);
    chart_->setObjectName("streamChart");
    chartDock_ = AddHiddenDock("Stream Chart", "chartDock", chart_, Qt::BottomDockWidgetArea);

    auto* summary = new QWidget(this);
    auto* layout = new QVBoxLayout(summary);
    layout->setContentsMargins(4, 4, 4, 4);
    summaryText_ = new QPlainTextEdit(summary);
    summaryText_->setObjectName("streamSummary");
    summaryText_->setReadOnly(true);
    summaryText_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    summaryText_->setLineWrapMode(QPlainTextEdit::NoWrap);
    // Wide enough for a figure's name and its value side by side.
    summaryText_->setMinimumWidth(
        QFontMetrics(summaryText_->font()).horizontalAdvance(QString(60, QLatin1Char('0'))));
    auto* copy = new QPushButton("Copy as Text", summary);
    layout->addWidget(summaryText_);
    layout->addWidget(copy, 0, Qt::AlignRight);
    connect(copy, &QPushButton::clicked, this,
            [this] { QGuiApplication::clipboard()->setText(summaryText_->toPlainText()); });
    summaryDock_ = AddHiddenDock("Stream Summary", "summaryDock", summary, Qt::RightDockWidgetArea);

    QAction* chartToggle = chartDock_->toggleViewAction();
    chartToggle->setText("Stream &Chart");
    chartToggle->setStatusTip("Show or hide the chart of picture sizes, bit rate and buffer");
    view->addAction(chartToggle);
    QAction* summaryToggle = summaryDock_->toggleViewAction();
    summaryToggle->setText("Stream S&ummary");
    summaryToggle->setStatusTip("Show or hide the stream's figures");
    view->addAction(summaryToggle);
    connect(chartDock_, &QDockWidget::visibilityChanged, this, [this](bool shown) {
        if (shown) ShareBottomDocks();
    });
    for (QDockWidget* dock : {chartDock_, summaryDock_})
        connect(dock, &QDockWidget::visibilityChanged, this, [this](bool shown) {
            if (shown) RefreshStats(WorkerBusy() ? StatsRefresh::kCatchUp : StatsRefresh::kAgain);
        });
    connect(chart_, &StreamChart::PictureClicked, this, [this](uint32_t number) {
        const std::vector<PictureStats>& pictures = statsGatherer_.Stats().pictures;
        if (number >= 1 && number <= pictures.size()) {
            const TreeItem picture = pictures[number - 1].item;
            if (tree_.IsValid(picture)) SelectAndShow(picture);
        }
    });
}

void CMainFrame::ShowStatsDocks(bool chart, bool summary) {
    if (chart) chartDock_->show();
    if (summary) summaryDock_->show();
}

bool CMainFrame::ChartShown() const {
    return chartDock_ && chartDock_->isVisible();
}

bool CMainFrame::SummaryShown() const {
    return summaryDock_ && summaryDock_->isVisible();
}

bool CMainFrame::StatsShown() const {
    return ChartShown() || SummaryShown() || ProblemsShown();
}

void CMainFrame::RefreshStats(StatsRefresh how) {
    if (!StatsShown()) return;
    const bool running = WorkerBusy();
    // A parse of one picture's macroblocks changes its figures: they are gathered again once
    // it has ended.
    if (running && onDemand_) return;
    QElapsedTimer clock;
    clock.start();
    if (how == StatsRefresh::kAgain) {
        statsGatherer_.Reset();
        problemFinder_.Reset();
    }
    // A running parse waits at its gate while the figures catch up with it: the records are
    // its own until then.
    const bool hold = running && !dialog_->IsPaused();
    if (hold) dialog_->SetPaused(true);
    const qint64 held = clock.nsecsElapsed();
    qint64 gathered = 0;
    {
        auto lock = tree_.Lock();
        const bool ended = !WorkerBusy() || !dialog_->ParseRunning();
        if (!stream_.videoItem) {
            statsGatherer_.Reset();
        } else if (statsGatherer_.Update(tree_, stream_, fileBytes_, ended)) {
            problemFinder_.Reset();  // the tree was parsed again from its start
        }
        gathered = clock.nsecsElapsed();
        if (ProblemsShown() && stream_.fileItem)
            problemFinder_.Update(tree_, stream_, statsGatherer_.Stats(), statsGatherer_.Settled(),
                                  ended);
    }
    if (hold) dialog_->SetPaused(false);
    const qint64 checked = clock.nsecsElapsed();
    ShowStats(!running);
    lastStatsMs_ = clock.nsecsElapsed() / 1e6;
    static const bool trace = qEnvironmentVariableIsSet("BITLOUPE_TRACE");
    if (trace)
        std::fprintf(stderr, "stats: held in %.1f ms, gathered %.1f, checked %.1f, shown %.1f\n",
                     held / 1e6, (gathered - held) / 1e6, (checked - gathered) / 1e6,
                     lastStatsMs_ - checked / 1e6);
    statsClock_.start();
}

// The chart and summary (when their pictures changed, or `always`) and the problems (when
// their list did) as the figures stand.
void CMainFrame::ShowStats(bool always) {
    const StreamStats& stats = statsGatherer_.Stats();
    if (chartPictures_ != stats.pictures.size() || always) {
        chartPictures_ = stats.pictures.size();
        chart_->SetBufferSize(stats.bufferSize);
        chart_->SetPictures(stats.pictures);
        summaryText_->setPlainText(QString::fromStdString(SummaryText(stats)));
        MarkChartPicture(treeView_->SelectedItem());
    }
    if (ProblemsShown() && problemFinder_.Version() != problemsShownVersion_) {
        problemsShownVersion_ = problemFinder_.Version();
        problems_->SetProblems(problemFinder_.Problems());
    }
}

void CMainFrame::RefreshStatsOfPicture(TreeItem picture) {
    if (!StatsShown()) return;
    if (WorkerBusy()) return;
    QElapsedTimer clock;
    clock.start();
    {
        auto lock = tree_.Lock();
        const uint32_t number = statsGatherer_.RegatherMacroblocks(tree_, stream_, picture);
        if (ProblemsShown())
            problemFinder_.RecheckMacroblocks(tree_, stream_, statsGatherer_.Stats(), number);
        else
            problemFinder_.Reset();  // gathered again when the dock is shown
    }
    ShowStats(true);
    lastStatsMs_ = clock.nsecsElapsed() / 1e6;
}

void CMainFrame::RefreshStatsWhileParsing() {
    if (!WorkerBusy() || onDemand_ || !StatsShown()) return;
    // Four times a second, and not more than a fifth of the time: what every catching up costs
    // (the chart and the summary of all pictures) grows with the stream.
    const double interval = std::max(kLiveStatsMs, 5 * lastStatsMs_);
    if (statsClock_.isValid() && statsClock_.elapsed() < interval) return;
    const int64_t progress = dialog_->ProgressOffset();
    if (progress == statsProgress_) return;
    statsProgress_ = progress;
    RefreshStats(StatsRefresh::kCatchUp);
    ++liveStatsRefreshes_;
}

// ---- problems ----

void CMainFrame::BuildProblemsDock(QMenu* view) {
    problems_ = new ProblemsPane(this);
    problems_->setObjectName("problemsPane");
    problemsDock_ = AddHiddenDock("Problems", "problemsDock", problems_, Qt::BottomDockWidgetArea);
    QAction* toggle = problemsDock_->toggleViewAction();
    toggle->setText("&Problems");
    toggle->setStatusTip("Show or hide the stream's errors and broken rules");
    view->addAction(toggle);
    QAction* next = view->addAction("Next Problem");
    next->setShortcut(QKeySequence("F8"));
    QAction* previous = view->addAction("Previous Problem");
    previous->setShortcut(QKeySequence("Shift+F8"));
    connect(next, &QAction::triggered, this, [this] { StepProblem(true); });
    connect(previous, &QAction::triggered, this, [this] { StepProblem(false); });
    connect(problemsDock_, &QDockWidget::visibilityChanged, this, [this](bool shown) {
        if (shown) ShareBottomDocks();
        if (shown) RefreshStats(WorkerBusy() ? StatsRefresh::kCatchUp : StatsRefresh::kAgain);
    });
    connect(problems_, &ProblemsPane::ProblemActivated, this,
            [this](TreeItem item, uint64_t offset, uint32_t) {
                if (item && tree_.IsValid(item)) {
                    SelectAndShow(item);
                    ShowUnitOf(item);
                } else if (offset) {
                    SelectItemAtByte(offset, 0);
                }
            });
    problemCounts_ = new QLabel(this);
    problemCounts_->setObjectName("problemCounts");
    statusBar()->insertPermanentWidget(0, problemCounts_);
    connect(problems_, &ProblemsPane::CountsChanged, this, [this](int errors, int warnings) {
        problemCounts_->setText(errors || warnings ? QString("%1 error%2, %3 warning%4")
                                                         .arg(errors)
                                                         .arg(errors == 1 ? "" : "s")
                                                         .arg(warnings)
                                                         .arg(warnings == 1 ? "" : "s")
                                                   : QString());
    });
}

// The chart and the problems side by side at the bottom: the problems get nearly half the
// width, enough for their messages.
void CMainFrame::ShareBottomDocks() {
    const auto bottom = [this](QDockWidget* d) {
        return d->isVisible() && !d->isFloating() &&
               dockWidgetArea(d) == Qt::BottomDockWidgetArea && tabifiedDockWidgets(d).isEmpty();
    };
    if (!bottom(chartDock_) || !bottom(problemsDock_)) return;
    resizeDocks({chartDock_, problemsDock_}, {width() * 11 / 20, width() * 9 / 20}, Qt::Horizontal);
}

// A problem's item may be a field or a message the picture area has nothing to show for (it
// clears): the block, macroblock, slice or picture it lies in is shown (the first of them that
// decodes), the item staying selected in the tree.
void CMainFrame::ShowUnitOf(TreeItem item) {
    const auto shown = [](ItemKind k) {
        return k == ItemKind::BlockY || k == ItemKind::BlockCb || k == ItemKind::BlockCr ||
               k == ItemKind::Macroblock || k == ItemKind::SkippedMacroblock ||
               k == ItemKind::Slice || k == ItemKind::Picture;
    };
    if (shown(KindOf(tree_.GetItemData(item)))) return;
    for (TreeItem up = tree_.GetParentItem(item); up && up != kTreeRoot;
         up = tree_.GetParentItem(up))
        if (shown(KindOf(tree_.GetItemData(up)))) {
            // A unit broken where the problem is may not decode: the one around it then.
            DecodeSelectedItem(up);
            if (dispatch_->displayMode != display_mode::kNothing) return;
        }
}

void CMainFrame::ShowProblems(bool shown) {
    problemsDock_->setVisible(shown);
}

bool CMainFrame::ProblemsShown() const {
    return problemsDock_ && problemsDock_->isVisible();
}

bool CMainFrame::StepProblem(bool forward) {
    ShowProblems(true);
    return problems_->SelectNext(forward);
}

void CMainFrame::MarkChartPicture(TreeItem item) {
    if (!ChartShown()) return;
    const TreeItem picture = item ? PictureOf(tree_, item) : 0;
    uint32_t number = 0;
    for (const PictureStats& p : statsGatherer_.Stats().pictures)
        if (p.item == picture) number = p.number;
    chart_->SetSelected(number);
}

bool CMainFrame::ClickChartPicture(uint32_t number) {
    if (number < 1 || number > statsGatherer_.Stats().pictures.size()) return false;
    // As a user would: the bar brought into view, then a click on it.
    chart_->SetSelected(number);
    const QPoint at = chart_->BarPoint(number);
    if (at.isNull()) return false;
    const QPointF local(at), global(chart_->mapToGlobal(at));
    QMouseEvent press(QEvent::MouseButtonPress, local, global, Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, local, global, Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QCoreApplication::sendEvent(chart_, &press);
    QCoreApplication::sendEvent(chart_, &release);
    return true;
}

}  // namespace bitloupe
