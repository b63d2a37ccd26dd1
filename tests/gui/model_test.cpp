// The Qt model over a tree that a parse thread fills: the model publishes while the parse
// runs, a view expands what it sees, the interface pauses and stops the parse, and at the end
// the model shows exactly the store's tree. QAbstractItemModelTester checks every signal.
#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QTreeView>
#include <chrono>
#include <fstream>
#include <iterator>
#include <thread>

#include "TestUtil.h"
#include "core/session/ParseThread.h"
#include "core/session/TreeCommands.h"
#include "gui/SyntaxTreeModel.h"

namespace bitloupe {
namespace {

using test::Engine;
using test::TempFile;
using Clock = std::chrono::steady_clock;

// Under the sanitizers a smaller stream keeps the run short; it still takes many drains.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr int kCopies = 30;
#else
constexpr int kCopies = 300;
#endif

int g_testerWarnings = 0;
QtMessageHandler g_previousHandler = nullptr;

void CountWarnings(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type != QtDebugMsg && type != QtInfoMsg) ++g_testerWarnings;
    if (g_previousHandler) g_previousHandler(type, context, text);
}

std::vector<uint8_t> Copies(const std::string& name, int copies) {
    std::ifstream in(test::DataPath(name), std::ios::binary);
    const std::vector<uint8_t> one(std::istreambuf_iterator<char>(in), {});
    std::vector<uint8_t> data;
    for (int i = 0; i < copies; ++i) data.insert(data.end(), one.begin(), one.end());
    return data;
}

// The model's rows below parent against the store's children, texts included.
void ExpectSameBranch(SyntaxTreeModel& model, const TreeStore& store, const QModelIndex& parent,
                      TreeItem item, size_t* compared) {
    // As a view does when the user opens an item.
    if (model.canFetchMore(parent)) model.fetchMore(parent);
    const uint32_t children = store.ChildCount(item);
    ASSERT_EQ(static_cast<uint32_t>(model.rowCount(parent)), children);
    for (uint32_t row = 0; row < children; ++row) {
        const QModelIndex index = model.index(static_cast<int>(row), 0, parent);
        const TreeItem child = store.ChildAt(item, row);
        ASSERT_EQ(model.ItemOf(index), child);
        ASSERT_EQ(model.parent(index), parent);
        ASSERT_EQ(index.data().toString().toStdString(), store.GetItemText(child));
        ++*compared;
        ExpectSameBranch(model, store, index, child, compared);
    }
}

// What the interface thread does between drains: publish, carry out the view requests,
// expand a few of the rows it sees and read them.
struct Interface {
    SyntaxTreeModel& model;
    QTreeView& view;
    size_t published = 0;
    int drains = 0;

    void Tick() {
        const SyntaxTreeModel::Publication p = model.Publish();
        published += p.rows;
        ++drains;
        for (const ViewRequest& r : p.requests) {
            const QModelIndex index = model.IndexOf(r.item);
            if (r.kind == ViewRequestKind::Expand) view.expand(index);
            if (r.kind == ViewRequestKind::Collapse) view.collapse(index);
            if (r.kind == ViewRequestKind::Select) view.setCurrentIndex(index);
            if (r.kind == ViewRequestKind::EnsureVisible) view.scrollTo(index);
        }
        // The user opens the last root item's last rows and looks at them.
        const int roots = model.rowCount();
        if (roots > 0) {
            QModelIndex last = model.index(roots - 1, 0);
            for (int depth = 0; depth < 3 && model.hasChildren(last); ++depth) {
                view.expand(last);
                if (model.canFetchMore(last)) model.fetchMore(last);
                if (model.rowCount(last) == 0) break;
                last = model.index(model.rowCount(last) - 1, 0, last);
                (void)last.data();
                (void)last.data(SyntaxTreeModel::ItemDataRole);
            }
        }
        QCoreApplication::processEvents();
    }
};

// Starts the parse of the given mode on a parse thread as the Parse button does.
void StartParse(Engine& e, ParseThread& worker, int mode) {
    e.dialog.mode = mode;
    e.dialog.BeginParse();
    e.parser.BeginVideoParse();
    ASSERT_TRUE(worker.Start([&e] { e.parser.ParseVideoStream(); }));
}

// A large program stream parsed in both layers (which cannot be paused) while the interface
// publishes and expands what it sees.
TEST(SyntaxTreeModel, PublishesAParseOfBothLayersAsItRuns) {
    if (!test::HaveData("mpeg2-ps.mpg")) GTEST_SKIP() << "no test data";
    TempFile f(Copies("mpeg2-ps.mpg", kCopies), ".mpg");
    Engine plain;
    ASSERT_TRUE(plain.Open(f.path()));
    plain.Parse(kModeBoth);

    Engine e;
    SyntaxTreeModel model(e.tree);
    QTreeView view;
    view.setModel(&model);
    view.show();
    Interface ui{model, view};
    ASSERT_TRUE(e.Open(f.path()));
    ui.Tick();
    RecordingPoster poster;
    double publishMs = 0;
    {
        ParseThread worker(e.dialog, &poster);
        StartParse(e, worker, kModeBoth);
        while (worker.Running()) {
            const Clock::time_point t = Clock::now();
            ui.Tick();
            publishMs += std::chrono::duration<double, std::milli>(Clock::now() - t).count();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        worker.Join();
    }
    ui.Tick();
    EXPECT_GT(ui.drains, 2);
    EXPECT_EQ(poster.posted, std::vector<int>{msg::kCommandWorkerFinished});
    EXPECT_EQ(e.tree.ItemCount(), plain.tree.ItemCount());
    size_t compared = 0;
    ExpectSameBranch(model, e.tree, QModelIndex(), kTreeRoot, &compared);
    EXPECT_EQ(compared, e.tree.ItemCount());
    std::printf("%d drains, %zu rows, %.1f ms publishing while the parse ran\n", ui.drains,
                ui.published, publishMs);
    // Publishing every row (as fetching all of them does) costs this much per 100,000 rows.
    Engine all;
    SyntaxTreeModel everything(all.tree);
    ASSERT_TRUE(all.Open(f.path()));
    all.Parse(kModeBoth);
    const Clock::time_point t = Clock::now();
    std::vector<TreeItem> parents{kTreeRoot};
    size_t fetched = 0;
    while (!parents.empty()) {
        const TreeItem p = parents.back();
        parents.pop_back();
        everything.FetchRows(p);
        const uint32_t n = all.tree.ChildCount(p);
        fetched += n;
        for (uint32_t r = 0; r < n; ++r)
            if (TreeItem c = all.tree.ChildAt(p, r); all.tree.ItemHasChildren(c))
                parents.push_back(c);
    }
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - t).count();
    std::printf("fetching and walking %zu rows: %.1f ms, %.1f ms per 100,000\n", fetched, ms,
                ms * 100000.0 / static_cast<double>(fetched));
}

// A smaller parse held at the pause gate between drains, so that the model tester sees many
// batches; then "Parse MBs in Picture" paused, used meanwhile, and stopped.
TEST(SyntaxTreeModel, TesterFindsNothingThroughPauseStopAndDelete) {
    if (!test::HaveData("mpeg2-ps.mpg")) GTEST_SKIP() << "no test data";
    TempFile f(Copies("mpeg2-ps.mpg", 2), ".mpg");
    Engine e;
    SyntaxTreeModel model(e.tree);
    QAbstractItemModelTester tester(&model,
                                    QAbstractItemModelTester::FailureReportingMode::Warning);
    QTreeView view;
    view.setModel(&model);
    view.show();
    Interface ui{model, view};
    g_testerWarnings = 0;
    g_previousHandler = qInstallMessageHandler(CountWarnings);

    ASSERT_TRUE(e.Open(f.path()));
    ui.Tick();
    {
        ParseThread worker(e.dialog);
        StartParse(e, worker, kModeVideoOnly);
        // Paused and resumed over and over; the interface publishes during a pause every
        // 20 ms. (The tester walks the whole model on every change, so a tick per pause made
        // the test quadratic in the parse's length, which a loaded machine stretches.)
        Clock::time_point lastTick = Clock::now();
        while (worker.Running()) {
            e.dialog.SetPaused(true);
            if (Clock::now() - lastTick >= std::chrono::milliseconds(20)) {
                ui.Tick();
                lastTick = Clock::now();
            }
            e.dialog.SetPaused(false);
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        worker.Join();
    }
    ui.Tick();

    // "Parse MBs in Picture" on the parse thread, held at the gate from the start: the
    // interface decodes a picture meanwhile, resumes, pauses again and stops.
    const std::vector<TreeItem> pictures = test::Pictures(e);
    ASSERT_GE(pictures.size(), 3u);
    e.dialog.BeginParse();
    e.dialog.SetPaused(true);
    {
        ParseThread worker(e.dialog);
        ASSERT_TRUE(worker.Start([&] {
            for (TreeItem picture : pictures)
                e.parser.macroblocks.ParseMacroblocksOfPicture(picture);
        }));
        e.dialog.SetPaused(true);  // returns once the worker waits at the gate
        ASSERT_TRUE(worker.Running());
        // The interface decodes meanwhile, through the decoder's own reader.
        EXPECT_TRUE(e.parser.decoder.DecodePicture(pictures[0], true));
        ui.Tick();
        e.dialog.SetPaused(false);
        ui.Tick();
        e.dialog.SetPaused(true);
        ui.Tick();
        const Clock::time_point stop = Clock::now();
        e.dialog.ResetToIdle();  // the Stop button
        worker.Join();
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - stop).count();
        EXPECT_LT(ms, 2000.0);
        std::printf("the stop took %.3f ms\n", ms);
    }
    ui.Tick();
    // The stop came before the last picture.
    size_t placeholders = 0;
    for (TreeItem s : test::Children(e.tree, pictures.back(), kind::kSlice))
        if (FindSlicePlaceholder(e.tree, s)) ++placeholders;
    EXPECT_GT(placeholders, 0u);

    // Deleting on the interface thread goes through the model at once.
    TreeItem slice = 0;  // a slice whose macroblocks were parsed before the stop
    for (TreeItem picture : pictures)
        for (TreeItem s : test::Children(e.tree, picture, kind::kSlice))
            if (!slice && !FindSlicePlaceholder(e.tree, s)) slice = s;
    if (!slice) {  // the stop came first: parse one now
        const TreeItem s = test::Children(e.tree, pictures[0], kind::kSlice)[0];
        ASSERT_TRUE(e.parser.macroblocks.ParseMacroblocksOfSlice(FindSlicePlaceholder(e.tree, s)));
        slice = s;
    }
    ASSERT_TRUE(model.Reveal(slice).isValid());
    model.FetchRows(slice);
    const int shown = model.rowCount(model.IndexOf(slice));
    DeleteSliceMacroblocks(e.tree, e.stream, slice);
    EXPECT_LT(model.rowCount(model.IndexOf(slice)), shown);
    EXPECT_EQ(model.rowCount(model.IndexOf(slice)),
              static_cast<int>(e.tree.PublishedChildCount(slice)));
    ui.Tick();
    e.tree.DeleteAllItems();
    EXPECT_EQ(model.rowCount(), 0);

    qInstallMessageHandler(g_previousHandler);
    EXPECT_EQ(g_testerWarnings, 0);
}

}  // namespace
}  // namespace bitloupe

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
