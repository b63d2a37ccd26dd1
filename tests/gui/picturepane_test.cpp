// The picture pane for daily use: the readout against the command-line tool's frames, picking
// a macroblock on the picture, the macroblock maps against the items they come from, and zoom.
#include <QApplication>
#include <QProcess>
#include <QScrollBar>
#include <QSettings>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QWheelEvent>
#include <QtTest>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>

#include "TestUtil.h"
#include "core/render/Problems.h"
#include "gui/BytesPane.h"
#include "gui/MainFrame.h"
#include "gui/ParseDlg.h"
#include "gui/ProblemsPane.h"
#include "gui/QtHost.h"
#include "gui/RightWnd.h"
#include "gui/StreamChart.h"
#include "gui/SyntaxTree.h"

using namespace bitloupe;

class PictureToolsTest : public QObject {
    Q_OBJECT

    std::unique_ptr<CMainFrame> frame;

    bool OpenParsed(const std::string& name) {
        frame = std::make_unique<CMainFrame>();
        frame->host().automatic = true;
        frame->host().answer = MsgAnswer::Yes;
        frame->resize(1200, 800);
        frame->show();
        if (!frame->OpenPath(QString::fromStdString(test::DataPath(name)))) return false;
        frame->parseDialog()->ClickParse();
        if (!frame->WaitForWorker(60000)) return false;
        frame->rightPane()->ShowDialog(false);
        QCoreApplication::processEvents();
        return true;
    }
    // Y, Cb and Cr of the readout text.
    static bool ReadoutSamples(const QString& text, int out[3]) {
        const int at = static_cast<int>(text.indexOf("Y="));
        return at >= 0 && std::sscanf(text.toLatin1().constData() + at, "Y=%d Cb=%d Cr=%d", &out[0],
                                      &out[1], &out[2]) == 3;
    }

  private Q_SLOTS:
    void cleanup() { frame.reset(); }

    // Picture 4 (stream order) of each stream: the readout's samples at five points are those
    // of the frame the command-line tool writes for it.
    void readoutEqualsTheCommandLineFrames() {
        const char* const streams[] = {"mpeg1.m1v",
                                       "mpeg2-progressive.m2v",
                                       "mpeg2-custom-matrix.m2v",
                                       "mpeg2-interlaced.m2v",
                                       "mpeg2-422.m2v",
                                       "mpeg2-fieldpic.m2v",
                                       "mpeg1-system.mpg",
                                       "mpeg1-system-mplex.mpg",
                                       "mpeg2-ps.mpg",
                                       "mpeg2-ps-mplex.mpg",
                                       "mpeg2-in-mpeg1-system.mpg",
                                       "mpeg1-in-mpeg2-ps.mpg",
                                       "mpeg2-ac3-in-mpeg1-system.mpg",
                                       "truncated.m2v"};
        QTemporaryDir dir;
        for (const char* name : streams) {
            if (!test::HaveData(name)) continue;
            QVERIFY2(OpenParsed(name), name);
            QVERIFY(frame->GoToPicture(4, false));
            // Frames in decode order: one for each frame picture or pair of fields.
            const std::vector<TreeItem> pictures = AllPictures(frame->tree(), frame->stream());
            int frameIndex = -1;
            for (size_t k = 0; k < 4; ++k)
                if (!frame->stream().pictureRecords[pictures[k]].secondField) ++frameIndex;
            const QString yuv = dir.filePath(QString(name) + ".yuv");
            QCOMPARE(QProcess::execute(BITLOUPE_CLI,
                                       {"frames", QString::fromStdString(test::DataPath(name)),
                                        "-o", yuv, "--format", "yuv", "--order", "decode"}),
                     0);
            std::ifstream in(yuv.toStdString(), std::ios::binary);
            const std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), {});
            const CStreamState& st = frame->stream();
            const int w = static_cast<int>(st.horizontal_size),
                      h = static_cast<int>(st.vertical_size);
            const int sx = st.chroma_format == 3 ? 0 : 1, sy = st.chroma_format == 1 ? 1 : 0;
            const int cw = (w + sx) >> sx, ch = (h + sy) >> sy;
            const size_t frameBytes = static_cast<size_t>(w) * h + 2 * static_cast<size_t>(cw) * ch;
            QVERIFY2(data.size() >= (frameIndex + 1) * frameBytes, name);
            const uint8_t* f = data.data() + frameIndex * frameBytes;
            const int points[5][2] = {{0, 0}, {w - 1, h - 1}, {w / 2, h / 2}, {17, 33}, {w - 5, 7}};
            for (const auto& p : points) {
                frame->HoverPicture(p[0], p[1]);
                int got[3];
                QVERIFY2(ReadoutSamples(frame->readout(), got), qPrintable(frame->readout()));
                const size_t c = static_cast<size_t>(p[1] >> sy) * cw + (p[0] >> sx);
                const int want[3] = {
                    f[static_cast<size_t>(p[1]) * w + p[0]], f[static_cast<size_t>(w) * h + c],
                    f[static_cast<size_t>(w) * h + static_cast<size_t>(cw) * ch + c]};
                for (int k = 0; k < 3; ++k)
                    QVERIFY2(got[k] == want[k],
                             qPrintable(QString("%1 (%2, %3) component %4: %5, frames says %6")
                                            .arg(name)
                                            .arg(p[0])
                                            .arg(p[1])
                                            .arg(k)
                                            .arg(got[k])
                                            .arg(want[k])));
            }
            QCOMPARE(frame->statusBar()->currentMessage(), frame->readout());
        }
    }

    // A click selects the macroblock under it, its picture's macroblocks parsed first; the
    // maps of a P picture count what its macroblock items say.
    void clickSelectsTheMacroblockAndMapsAgreeWithTheItems() {
        QVERIFY(OpenParsed("mpeg2-progressive.m2v"));
        QVERIFY(frame->GoToPicture(2, false));  // a P picture
        const TreeItem picture = frame->parser().decoder.currentPicture;
        QVERIFY(!MacroblocksParsed(frame->tree(), picture));
        frame->ClickPicture(3 * 16 + 8, 2 * 16 + 8);
        QVERIFY(frame->WaitForWorker(60000));
        const TreeItem selected = frame->treeView()->SelectedItem();
        QVERIFY2(frame->tree().GetItemText(selected).find("(x=48, y=32)") != std::string::npos,
                 frame->tree().GetItemText(selected).c_str());
        QCOMPARE(frame->dispatch().shownItem, selected);
        // Parsed now: a second click selects at once.
        frame->ClickPicture(5, 5);
        QVERIFY(frame->tree().GetItemText(frame->treeView()->SelectedItem()).find("(x=0, y=0)") !=
                std::string::npos);

        int intra = 0, skipped = 0;
        for (TreeItem mb : MacroblockItemsOf(frame->tree(), picture)) {
            if (frame->tree().GetItemData(mb) == kind::kSkippedMacroblock)
                ++skipped;
            else if (frame->stream().macroblockRecords[mb].macroblock_intra)
                ++intra;
        }
        QVERIFY(skipped + intra > 0);
        QVERIFY(frame->GoToPicture(2, false));
        frame->SetMapKind(MapKind::kMbType);
        const MacroblockMap& map = frame->rightPane()->map();
        QCOMPARE(map.kind, MapKind::kMbType);
        int mapIntra = 0, mapSkipped = 0;
        for (const MapCell& c : map.cells) {
            mapIntra += c.category == map_type::kIntra;
            mapSkipped += c.category == map_type::kSkipped;
        }
        QCOMPARE(mapIntra, intra);
        QCOMPARE(mapSkipped, skipped);
        QCOMPARE(static_cast<int>(map.cells.size()), frame->stream().mbCount);
        // Coded blocks: a skipped macroblock has none, and every cell is counted once.
        frame->SetMapKind(MapKind::kCodedBlocks);
        QCOMPARE(static_cast<int>(frame->rightPane()->map().cells.size()), frame->stream().mbCount);
    }

    // A map parses the macroblocks of the picture shown, and of each picture shown after it,
    // and leaves the selection where the user put it.
    void mapsFollowThePicturesShown() {
        QVERIFY(OpenParsed("mpeg2-progressive.m2v"));
        QVERIFY(frame->GoToPicture(2, false));
        const TreeItem second = frame->treeView()->SelectedItem();
        frame->SetMapKind(MapKind::kMbType);
        QVERIFY(frame->WaitForWorker(60000));
        QCOMPARE(frame->treeView()->SelectedItem(), second);
        QCOMPARE(static_cast<int>(frame->rightPane()->map().cells.size()), frame->stream().mbCount);
        QVERIFY(frame->GoToPicture(3, false));
        const TreeItem third = frame->treeView()->SelectedItem();
        QVERIFY(frame->WaitForWorker(60000));
        QCOMPARE(frame->treeView()->SelectedItem(), third);
        QVERIFY(MacroblocksParsed(frame->tree(), third));
        QCOMPARE(static_cast<int>(frame->rightPane()->map().cells.size()), frame->stream().mbCount);
        frame->SetMapKind(MapKind::kNone);
        QVERIFY(frame->rightPane()->map().cells.empty());
    }

    // Hiding the dialog shows the selection as it is when the picture area gets there: a
    // selection made in between is not undone.
    void selectionAfterHidingTheDialogStands() {
        QVERIFY(OpenParsed("mpeg2-progressive.m2v"));
        frame->rightPane()->ShowDialog(true);
        QCoreApplication::processEvents();
        frame->rightPane()->ShowDialog(false);
        QVERIFY(frame->GoToPicture(5, false));
        const TreeItem fifth = frame->treeView()->SelectedItem();
        for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
        QCOMPARE(frame->treeView()->SelectedItem(), fifth);
        QCOMPARE(PictureOf(frame->tree(), frame->dispatch().shownItem), fifth);
    }

    // A picture taller than the pane scrolls until its last line is above the text line, and a
    // notch of the wheel scrolls by the platform's lines, not by a pixel.
    void pictureEndsAboveTheTextLineAndTheWheelScrollsByLines() {
        QVERIFY(OpenParsed("mpeg2-fieldpic.m2v"));
        QVERIFY(frame->GoToPicture(1, false));
        CRightWnd* pane = frame->rightPane();
        frame->resize(700, 360);
        pane->SetZoom(2);
        QCoreApplication::processEvents();
        QScrollBar* v = pane->verticalScrollBar();
        const int viewport = pane->viewport()->height();
        QVERIFY(pane->NeededSize().height() > viewport);
        // Scrolled to the end, what lies below the visible part is the text line's height.
        const int textLine = viewport - pane->PictureArea().height();
        QVERIFY(textLine > 10);
        QCOMPARE(pane->NeededSize().height() - v->maximum(), viewport - textLine);

        v->setValue(0);
        const QPoint centre = pane->viewport()->rect().center();
        QWheelEvent notch(centre, pane->viewport()->mapToGlobal(centre), QPoint(), QPoint(0, -120),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(pane->viewport(), &notch);
        QVERIFY2(v->value() >= 3 * QApplication::wheelScrollLines(),
                 qPrintable(QString::number(v->value())));
        // With Ctrl the wheel zooms about the pointer instead.
        const int before = pane->zoom();
        QWheelEvent zoom(centre, pane->viewport()->mapToGlobal(centre), QPoint(), QPoint(0, 120),
                         Qt::NoButton, Qt::ControlModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(pane->viewport(), &zoom);
        QCOMPARE(pane->zoom(), before * 2);
    }

    // Tree and bytes are one selection: a 4-bit field lights up exactly its bits (with the strip
    // above the rows), and a click on a byte or on a bit of the strip selects the field there.
    void bytesPaneFollowsTheSelectionBothWays() {
        QVERIFY(OpenParsed("mpeg2-ps.mpg"));
        frame->ShowBytesPane(true);
        const TreeStore& tree = frame->tree();
        std::function<TreeItem(TreeItem, const std::string&)> find = [&](TreeItem at,
                                                                         const std::string& p) {
            for (TreeItem c = tree.GetChildItem(at); c; c = tree.GetNextSiblingItem(c)) {
                if (tree.GetItemText(c).starts_with(p)) return c;
                if (const TreeItem f = find(c, p)) return f;
            }
            return TreeItem{0};
        };
        QVERIFY(frame->treeView()->SelectItem(find(kTreeRoot, "aspect_ratio_information")));
        QCoreApplication::processEvents();
        BytesPane* bytes = frame->bytesPane();
        QCOMPARE(bytes->HighlightReport(), QString("0x34.0-0x34.4"));
        QVERIFY(bytes->StripShown());
        auto selected = [&] { return tree.GetItemText(frame->treeView()->SelectedItem()); };
        const QRect bit5 = bytes->StripBitRect(0x34 * 8 + 5);
        QVERIFY(!bit5.isEmpty());
        QTest::mouseClick(bytes->viewport(), Qt::LeftButton, {}, bit5.center());
        QVERIFY2(selected().starts_with("frame_rate_code"), selected().c_str());
        const QRect code = bytes->CellRect(0x2E);
        QVERIFY(!code.isEmpty());
        QTest::mouseClick(bytes->viewport(), Qt::LeftButton, {}, code.center());
        QVERIFY2(selected().starts_with("sequence_header_code"), selected().c_str());
        // A slice that runs across packets: its two pieces, with the pack of audio and the
        // headers between them left out.
        frame->SelectItemAtByte(2040, 0);
        QVERIFY2(selected().starts_with("Slice #4"), selected().c_str());
        QCOMPARE(bytes->HighlightReport(), QString("0x7DC.0-0x800.0, 0x1018.0-0x12B7.0"));
    }

    // A click on a byte selects what bitloupe-cli at names for the same offset.
    void byteClicksNameWhatTheCommandLineNames() {
        for (const char* name : {"mpeg2-ps.mpg", "mpeg1-system.mpg", "mpeg2-fieldpic.m2v"}) {
            QVERIFY2(OpenParsed(name), name);
            frame->ShowBytesPane(true);
            const uint64_t size = frame->bytesPane()->FileSize();
            for (uint64_t k = 1; k <= 12; ++k) {
                const uint64_t offset = (size * k * 7919 / 13) % size;
                QProcess at;
                at.start(BITLOUPE_CLI, {"at", QString::fromStdString(test::DataPath(name)),
                                        QString::number(offset), "--mode", "video"});
                QVERIFY(at.waitForFinished(30000));
                const QStringList lines =
                    QString::fromUtf8(at.readAllStandardOutput()).trimmed().split('\n');
                frame->SelectItemAtByte(offset, 0);
                const QString last = lines.last().trimmed();
                if (last.startsWith("no item covers")) continue;
                // "start.bit-end text": the text after the range.
                const QString text = last.mid(last.indexOf(' ') + 1);
                const std::string selected =
                    frame->tree().GetItemText(frame->treeView()->SelectedItem());
                QVERIFY2(QString::fromStdString(selected) == text,
                         qPrintable(QString("%1 at %2: %3 / %4")
                                        .arg(name)
                                        .arg(offset)
                                        .arg(text, QString::fromStdString(selected))));
            }
        }
    }

    // A click on bar N of the chart selects picture N; a click on a problem selects its item,
    // and F8 steps on to the next.
    void chartAndProblemsSelectWhatTheyShow() {
        QVERIFY(OpenParsed("open-gop-start.m2v"));
        frame->ShowStatsDocks(true, false);
        frame->ShowProblems(true);
        QCoreApplication::processEvents();
        const std::vector<TreeItem> pictures = AllPictures(frame->tree(), frame->stream());
        QCOMPARE(frame->streamChart()->PictureCount(), pictures.size());
        for (uint32_t n : {5u, 2u}) {
            QVERIFY(frame->ClickChartPicture(n));
            QCOMPARE(frame->treeView()->SelectedItem(), pictures[n - 1]);
        }
        ProblemsPane* problems = frame->problemsPane();
        QCOMPARE(problems->WarningCount(), 2);  // the two B pictures without a forward reference
        QVERIFY(problems->ActivateRow(0));
        QCOMPARE(frame->treeView()->SelectedItem(), problems->SelectedProblem()->item);
        QCOMPARE(frame->treeView()->SelectedItem(), pictures[1]);
        QVERIFY(frame->StepProblem(true));
        QCOMPARE(frame->treeView()->SelectedItem(), pictures[2]);
    }

    // A problem inside a broken macroblock selects its message in the tree and shows the first
    // unit around it that decodes (here its slice, in picture 2).
    void problemInAMacroblockShowsItsUnit() {
        QVERIFY(OpenParsed("damaged-flips.m2v"));
        const std::vector<TreeItem> pictures = AllPictures(frame->tree(), frame->stream());
        frame->parser().macroblocks.ParseMacroblocksOfPicture(pictures[1]);
        frame->ShowProblems(true);
        frame->RefreshStats();
        ProblemsPane* pane = frame->problemsPane();
        int row = -1;
        for (int r = 0; r < pane->VisibleCount() && row < 0; ++r) {
            QVERIFY(pane->ActivateRow(r));
            if (pane->SelectedProblem()->message.find("macroblock_type") != std::string::npos)
                row = r;
        }
        QVERIFY(row >= 0);
        QCOMPARE(frame->treeView()->SelectedItem(), pane->SelectedProblem()->item);
        QCOMPARE(frame->parser().decoder.currentPicture, pictures[1]);
        QVERIFY(frame->dispatch().displayMode != display_mode::kNothing);
    }

    // The problems and the chart fill in while the parse runs, the row selected staying
    // selected, and end as the whole stream's list.
    void problemsAreListedWhileTheParseRuns() {
        frame = std::make_unique<CMainFrame>();
        frame->host().automatic = true;
        frame->show();
        const std::string path = test::DataPath("damaged-flips.m2v");
        QVERIFY(frame->OpenPath(QString::fromStdString(path)));
        frame->ShowProblems(true);
        frame->ShowStatsDocks(true, false);
        ProblemsPane* pane = frame->problemsPane();
        // The parse stops at its first gate, and is let go from gate to gate.
        CParseDlg* dialog = frame->parseDialog();
        dialog->ClickParse();
        dialog->SetPaused(true);
        while (!frame->WorkerBusy()) QCoreApplication::processEvents();
        size_t during = 0, first = 0;
        std::optional<Problem> picked;
        dialog->SetPaused(true);  // once it waits at the gate
        for (;;) {
            dialog->Step();
            if (!dialog->ParseRunning()) break;
            frame->RefreshStats(CMainFrame::StatsRefresh::kCatchUp);
            during = pane->ProblemCount();
            if (!first) first = during;
            if (picked) {
                QVERIFY(pane->SelectedProblem());
                QCOMPARE(pane->SelectedProblem()->item, picked->item);
            } else if (during && pane->ActivateRow(0)) {
                picked = *pane->SelectedProblem();
            }
        }
        dialog->SetPaused(false);
        QVERIFY(frame->WaitForWorker(60000));
        QVERIFY(during > 0);
        QVERIFY(picked);
        test::Engine e;
        QVERIFY(e.Open(path));
        e.Parse();
        auto lock = e.tree.Lock();
        const size_t all =
            FindProblems(e.tree, e.stream,
                         GatherStreamStats(e.tree, e.stream, std::filesystem::file_size(path)))
                .size();
        QCOMPARE(pane->ProblemCount(), all);
        QVERIFY(all > first);
        QCOMPARE(frame->streamChart()->PictureCount(), test::Pictures(e).size());
    }

    // The options of the picture pane and the recent files outlive the window.
    void settingsAndRecentFilesAreRemembered() {
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setOrganizationName("BitloupeTest");
        QSettings().clear();
        QVERIFY(OpenParsed("mpeg1.m1v"));
        QVERIFY(frame->OpenPath(QString::fromStdString(test::DataPath("mpeg2-ps.mpg"))));
        frame->SetDecodeReferences(false);
        frame->SetMapKind(MapKind::kQuantiser);
        frame->rightPane()->SetZoom(8);
        frame->SaveSettings();
        frame = std::make_unique<CMainFrame>();
        QVERIFY(frame->decodeReferences());
        frame->LoadSettings();
        QVERIFY(!frame->decodeReferences());
        QCOMPARE(frame->mapKind(), MapKind::kQuantiser);
        QCOMPARE(frame->rightPane()->zoom(), 8);
        const QStringList recent = frame->recentFiles();
        QCOMPARE(recent.size(), 2);
        QVERIFY(recent[0].endsWith("mpeg2-ps.mpg"));
        QVERIFY(recent[1].endsWith("mpeg1.m1v"));
        QSettings().clear();
        QCoreApplication::setOrganizationName(QString());
    }

    // Zoom keeps the sample under the pointer in place and maps points back to samples.
    void zoomKeepsTheSampleUnderThePointer() {
        QVERIFY(OpenParsed("mpeg2-fieldpic.m2v"));
        QVERIFY(frame->GoToPicture(1, false));
        CRightWnd* pane = frame->rightPane();
        // A pane smaller than the picture at every zoom, so that it can always scroll.
        frame->resize(560, 420);
        QCoreApplication::processEvents();
        pane->SetZoom(1);
        int x = 0, y = 0;
        const QPoint at(60, 50);
        QVERIFY(pane->SampleAt(at, x, y));
        for (int z : {2, 4, 8, 16, 32}) {
            pane->SetZoom(z, at);
            int zx = 0, zy = 0;
            QVERIFY(pane->SampleAt(at, zx, zy));
            QVERIFY2(std::abs(zx - x) <= 1 && std::abs(zy - y) <= 1,
                     qPrintable(QString::number(z)));
        }
        pane->SetZoom(CRightWnd::kZoomFit);
        QVERIFY(pane->NeededSize().width() <= pane->PictureArea().width());
        QVERIFY(pane->NeededSize().height() <= pane->PictureArea().height());
    }
};

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    PictureToolsTest tools;
    return QTest::qExec(&tools, argc, argv);
}
#include "picturepane_test.moc"
