// The real main window, offscreen: opening and refusing files, parsing through the dialog,
// the tree's popup rules, search, double clicks, arrows, and the command rules.
#include <QAbstractItemModelTester>
#include <QClipboard>
#include <QMenu>
#include <QMimeData>
#include <QScrollBar>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QtTest>
#include <cmath>
#include <fstream>
#include <iterator>
#include <map>

#include "TestUtil.h"
#include "core/session/TreeCommands.h"
#include "core/tree/Export.h"
#include "gui/Automation.h"
#include "gui/CommandIds.h"
#include "gui/DisplayBar.h"
#include "gui/MainFrame.h"
#include "gui/ParseDlg.h"
#include "gui/QtHost.h"
#include "gui/RightWnd.h"
#include "gui/SyntaxTree.h"

using namespace bitloupe;

namespace {

QString Data(const char* name) {
    return QString::fromStdString(test::DataPath(name));
}

// A program stream long enough that a parse is still running when the test looks.
QString BigStream(QTemporaryDir& dir, int copies) {
    std::ifstream in(test::DataPath("mpeg2-ps.mpg"), std::ios::binary);
    const std::string one((std::istreambuf_iterator<char>(in)), {});
    const QString path = dir.filePath("big.mpg");
    std::ofstream out(path.toStdString(), std::ios::binary);
    for (int i = 0; i < copies; ++i) out << one;
    return path;
}

// The whole tree as the export writes it.
std::string Outline(const TreeStore& tree) {
    std::string out;
    for (TreeItem r = tree.GetChildItem(kTreeRoot); r; r = tree.GetNextSiblingItem(r))
        out += ExportBranch(tree, r, true, true, "\n");
    return out;
}

// The same file parsed by the engine alone, as the command-line tool does.
std::string EngineOutline(const QString& path, int mode) {
    test::Engine e;
    if (!e.Open(path.toStdString())) return {};
    e.Parse(mode);
    return Outline(e.tree);
}

TreeItem FindText(const TreeStore& tree, const std::string& prefix, TreeItem from = kTreeRoot) {
    for (TreeItem c = tree.GetChildItem(from); c; c = tree.GetNextSiblingItem(c)) {
        if (tree.GetItemText(c).rfind(prefix, 0) == 0) return c;
        if (TreeItem f = FindText(tree, prefix, c)) return f;
    }
    return 0;
}

TreeItem FindContaining(const TreeStore& tree, const std::string& text, TreeItem from = kTreeRoot) {
    for (TreeItem c = tree.GetChildItem(from); c; c = tree.GetNextSiblingItem(c)) {
        if (tree.GetItemText(c).find(text) != std::string::npos) return c;
        if (TreeItem f = FindContaining(tree, text, c)) return f;
    }
    return 0;
}

// The pointer over a row of the tree (or anywhere in its viewport), as the mouse would put it.
QPoint PointAt(CSyntaxTree* view, TreeItem item) {
    const QModelIndex index = view->syntaxModel()->Reveal(item);
    view->scrollTo(index);
    return view->visualRect(index).center();
}
void SendMouse(CSyntaxTree* view, QEvent::Type type, Qt::MouseButton button, const QPoint& at) {
    const Qt::MouseButtons buttons =
        type == QEvent::MouseButtonPress ? Qt::MouseButtons(button) : Qt::NoButton;
    QMouseEvent event(type, at, view->viewport()->mapToGlobal(at), button, buttons, Qt::NoModifier);
    QCoreApplication::sendEvent(view->viewport(), &event);
}

// WCAG contrast ratio of two colours.
double Contrast(const QColor& a, const QColor& b) {
    auto luminance = [](const QColor& c) {
        auto lin = [](double v) {
            return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * lin(c.redF()) + 0.7152 * lin(c.greenF()) + 0.0722 * lin(c.blueF());
    };
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

    std::unique_ptr<CMainFrame> frame;
    int dialogsOpened = 0;

    void Parse(int mode) {
        frame->parseDialog()->modeRadio(mode)->setChecked(true);
        frame->parseDialog()->ClickParse();
        QCoreApplication::processEvents();
        QVERIFY(frame->WaitForWorker(60000));
        while (frame->model()->HasPending()) frame->Tick();
        frame->Tick();
    }
    QAction* Entry(QMenu* menu, const char* text) {
        for (QAction* a : menu->actions())
            if (a->text() == QLatin1String(text)) return a;
        return nullptr;
    }

  private Q_SLOTS:
    void init() {
        frame = std::make_unique<CMainFrame>();
        frame->host().automatic = true;
        frame->chooseFile = [this] {
            ++dialogsOpened;
            return QString();
        };
        frame->resize(1200, 800);
        frame->show();
        dialogsOpened = 0;
    }
    void cleanup() { frame.reset(); }

    void startsWithTheTwoItemsAndTheLayout() {
        const TreeStore& t = frame->tree();
        QCOMPARE(t.ChildCount(kTreeRoot), 2u);
        QCOMPARE(t.GetItemText(t.ChildAt(kTreeRoot, 0)),
                 std::string("Double click the window to open an MPEG file..."));
        QCOMPARE(t.GetItemImage(t.ChildAt(kTreeRoot, 1)), 26);
        QCOMPARE(frame->treeView()->SelectedItem(), t.ChildAt(kTreeRoot, 0));
        QCOMPARE(frame->rightPane()->TextLine(),
                 QString("Please open an MPEG-1 or MPEG-2 file..."));
        QCOMPARE(frame->treeView()->width(), 300);
        QCOMPARE(frame->displayBar()->mvTypeCombo()->currentIndex(), 6);
        QVERIFY(!frame->displayBar()->mvTypeCombo()->isEnabled());
        QVERIFY(frame->IsChecked(cmd::kDisplayModes[0]));
        QVERIFY(frame->IsChecked(cmd::kAutoPictureMode));
        // With no picture every picture command is grayed, however it arrives.
        for (int id : {cmd::kSaveFrame, cmd::kSaveSnapshot, cmd::kRefresh, cmd::kNegative,
                       cmd::kRestore, cmd::kSaveMbsBig}) {
            QVERIFY(!frame->IsEnabled(id));
            QVERIFY(!frame->Execute(id));
        }
    }

    void refusesTransportAndForeignFilesWithTheirMessages() {
        QVERIFY(!frame->OpenPath(Data("transport.ts")));
        QCOMPARE(frame->host().messages.back().text,
                 std::string("TS MPEG-2 video has not been supported at current stage!"));
        const TreeStore& t = frame->tree();
        QCOMPARE(t.ChildCount(kTreeRoot), 2u);
        QCOMPARE(t.GetItemText(t.ChildAt(kTreeRoot, 1)),
                 std::string("Transport Stream (MPEG-2, to be supported)"));
        QVERIFY(frame->windowTitle().endsWith(" - transport.ts"));
        QVERIFY(!frame->parseDialog()->parseButton()->isEnabled());

        QVERIFY(!frame->OpenPath(Data("random.bin")));
        QCOMPARE(frame->host().messages.back().text,
                 std::string("This file is not a valid MPEG-1 or MPEG-2 video!"));
        QCOMPARE(t.GetItemImage(t.ChildAt(kTreeRoot, 0)), 36);
        QVERIFY(!frame->IsEnabled(cmd::kParseVideo));

        QVERIFY(!frame->OpenPath("/nonexistent/file.mpg"));
        QCOMPARE(frame->host().messages.back().text, std::string("Failed to open the file!"));
    }

    void everyCommittedFileOpensAndParses() {
        QDir dir(Data(""));
        for (const QString& name : dir.entryList(QDir::Files)) {
            if (name.endsWith(".md") || name.endsWith(".png")) continue;
            if (!frame->OpenPath(dir.filePath(name))) continue;
            for (int mode : {kModeVideoOnly, kModeBoth, kModeProgramStreamOnly}) {
                if (mode != kModeVideoOnly && frame->stream().streamType != kProgramStream)
                    continue;
                Parse(mode);
            }
        }
        QVERIFY(frame->host().messages.size() >= 3);  // the refused ones said so
    }

    void parseThroughTheDialogGivesTheEngineTree() {
        const QString path = Data("mpeg2-ps-mplex.mpg");
        QVERIFY(frame->OpenPath(path));
        QVERIFY(frame->rightPane()->DialogShown());
        Parse(kModeBoth);
        QCOMPARE(Outline(frame->tree()), EngineOutline(path, kModeBoth));
        QAbstractItemModelTester tester(frame->model());
        QVERIFY(frame->parseDialog()->parseButton()->isEnabled());
        QCOMPARE(frame->parseDialog()->parseButton()->text(), QString("Parse"));
    }

    void pauseWorkAndResumeLeaveTheSameTree() {
        QTemporaryDir dir;
        const QString path = BigStream(dir, 200);
        QVERIFY(frame->OpenPath(path));
        CParseDlg* dlg = frame->parseDialog();
        dlg->modeRadio(kModeVideoOnly)->setChecked(true);
        dlg->ClickParse();
        QCoreApplication::processEvents();
        QVERIFY(frame->WorkerBusy());
        // "Open..." is grayed while the worker runs, and a double click on a leaf (which
        // posts it) does nothing.
        QVERIFY(!frame->IsEnabled(cmd::kOpen));
        QVERIFY(!frame->Execute(cmd::kOpen));
        QCOMPARE(dialogsOpened, 0);
        int pauses = 0;
        while (frame->WorkerBusy() && pauses < 5) {
            dlg->ClickParse();  // Pause
            if (!frame->WorkerBusy()) break;
            ++pauses;
            QCOMPARE(dlg->parseButton()->text(), QString("Resume"));
            frame->Tick();
            // Work with the tree while paused: a selection decodes its picture.
            const TreeItem picture = FindText(frame->tree(), "I-Picture #1");
            if (picture) frame->treeView()->SelectItem(picture);
            dlg->ClickParse();  // Resume
            QTest::qWait(5);
        }
        QVERIFY(frame->WaitForWorker(60000));
        while (frame->model()->HasPending()) frame->Tick();
        QVERIFY(pauses > 0);
        QCOMPARE(Outline(frame->tree()), EngineOutline(path, kModeVideoOnly));
        QVERIFY(frame->IsEnabled(cmd::kOpen));
    }

    void stopEndsTheParseAndLeavesTheDialogIdle() {
        QTemporaryDir dir;
        QVERIFY(frame->OpenPath(BigStream(dir, 300)));
        CParseDlg* dlg = frame->parseDialog();
        dlg->modeRadio(kModeBoth)->setChecked(true);
        dlg->ClickParse();
        QVERIFY(!dlg->parseButton()->isEnabled());  // a parse of both layers cannot pause
        QVERIFY(dlg->stopButton()->isEnabled());
        QVERIFY(!dlg->modeRadio(0)->isEnabled());
        QCoreApplication::processEvents();
        dlg->ClickStop();
        QVERIFY(frame->WaitForWorker(10000));
        while (frame->model()->HasPending()) frame->Tick();
        QVERIFY(dlg->parseButton()->isEnabled());
        QVERIFY(!dlg->stopButton()->isEnabled());
        QVERIFY(dlg->modeRadio(0)->isEnabled());
        // The view shows exactly what the store holds.
        QAbstractItemModelTester tester(frame->model());
        QCOMPARE(frame->tree().PublishedChildCount(kTreeRoot), frame->tree().ChildCount(kTreeRoot));
    }

    void dialogControlRules() {
        QVERIFY(frame->OpenPath(Data("mpeg2-ps.mpg")));
        CParseDlg* dlg = frame->parseDialog();
        QVERIFY(dlg->cleanTreeBox()->isChecked());
        QVERIFY(!dlg->cleanTreeBox()->isEnabled());
        QVERIFY(!dlg->pictureRadio(1)->isEnabled());
        dlg->startFromPictureBox()->click();
        QVERIFY(dlg->pictureRadio(1)->isEnabled());
        QVERIFY(!dlg->pictureNumberEdit()->isReadOnly());
        dlg->startFromSliderBox()->click();
        QVERIFY(!dlg->startFromPictureBox()->isChecked());
        QVERIFY(!dlg->pictureRadio(1)->isEnabled());
        dlg->startFromPictureBox()->click();
        QVERIFY(!dlg->startFromSliderBox()->isChecked());
        dlg->modeRadio(kModeProgramStreamOnly)->click();
        QVERIFY(!dlg->startFromPictureBox()->isEnabled());
        QVERIFY(!dlg->pictureRadio(2)->isEnabled());
        dlg->modeRadio(kModeVideoOnly)->click();
        QVERIFY(dlg->pictureRadio(2)->isEnabled());
        dlg->pictureNumberEdit()->setText("0");
        QCOMPARE(dlg->pictureNumberEdit()->text(), QString("1"));
        // Starting at half the slider starts at half the file.
        QCOMPARE(dlg->OffsetForSliderPosition(dlg->sliderRange / 2), dlg->fileSize / 2);
    }

    void popupMenuRules() {
        QVERIFY(frame->OpenPath(Data("mpeg2-progressive.m2v")));
        Parse(kModeVideoOnly);
        CSyntaxTree* view = frame->treeView();
        // Empty space with no selection: exports and on-demand entries grayed.
        view->setCurrentIndex(QModelIndex());
        std::unique_ptr<QMenu> menu(
            view->BuildPopupMenu(QPoint(5, view->viewport()->height() - 2)));
        for (const char* e : {"Export Item\tCtrl+C", "Export Tree (All)", "Parse MBs in Slice",
                              "Delete MBs in Slice", "Parse MBs in Picture",
                              "Delete MBs in Picture", "Parse Packet Payload"})
            QVERIFY2(!Entry(menu.get(), e)->isEnabled(), e);
        // No keyword: both search entries grayed; with one, "Search All Data" is checked.
        QVERIFY(!Entry(menu.get(), "Search All Data\tF3")->isEnabled());
        frame->displayBar()->keywordEdit()->setText("Slice");
        // A leaf: no "Collapse Children".
        const TreeItem leaf = FindText(frame->tree(), "horizontal_size_value");
        QVERIFY(view->SelectItem(leaf));
        menu.reset(view->BuildPopupMenu(QPoint(-10, -10)));
        QVERIFY(!Entry(menu.get(), "Collapse Children"));
        QVERIFY(!Entry(menu.get(), "Expand")->isEnabled());
        QVERIFY(Entry(menu.get(), "Search All Data\tF3")->isChecked());
        QVERIFY(!Entry(menu.get(), "Search Tree\tF3")->isChecked());
        // A slice: the slice commands apply.
        const TreeItem slice = FindText(frame->tree(), "Slice #1");
        QVERIFY(view->SelectItem(slice));
        menu.reset(view->BuildPopupMenu(QPoint(-10, -10)));
        QVERIFY(Entry(menu.get(), "Parse MBs in Slice")->isEnabled());
        QVERIFY(Entry(menu.get(), "Parse MBs in Picture")->isEnabled());
        QVERIFY(!Entry(menu.get(), "Parse Packet Payload")->isEnabled());
        // Expand only works armed by the popup.
        const QModelIndex index = frame->model()->IndexOf(slice);
        view->collapse(index);
        view->popupArmed = false;
        view->RunPopupCommand(cmd::tree::kExpand);
        QVERIFY(!view->isExpanded(index));
        view->popupArmed = true;
        view->RunPopupCommand(cmd::tree::kExpand);
        QVERIFY(view->isExpanded(index));
        QVERIFY(!view->popupArmed);
    }

    void searchWrapsAndRestarts() {
        QVERIFY(frame->OpenPath(Data("mpeg2-progressive.m2v")));
        Parse(kModeVideoOnly);
        CSyntaxTree* view = frame->treeView();
        frame->displayBar()->keywordEdit()->setText("Sequence Header #");
        auto searchAndWait = [&] {
            frame->Execute(cmd::kSearch);
            while (view->SearchRunning()) QCoreApplication::processEvents();
        };
        view->setCurrentIndex(QModelIndex());
        searchAndWait();
        QCOMPARE(frame->tree().GetItemText(view->SelectedItem()),
                 std::string("Sequence Header #1"));
        searchAndWait();
        QCOMPARE(frame->tree().GetItemText(view->SelectedItem()),
                 std::string("Sequence Header #2"));
        const size_t before = frame->host().messages.size();
        frame->host().answer = MsgAnswer::Yes;
        searchAndWait();  // the end: restart from the beginning?
        QCOMPARE(frame->host().messages.size(), before + 1);
        QCOMPARE(frame->host().messages.back().text,
                 std::string("Do you want to restart from the beginning?"));
        QCOMPARE(frame->tree().GetItemText(view->SelectedItem()),
                 std::string("Sequence Header #1"));
        QCoreApplication::processEvents();
        QVERIFY(frame->displayBar()->keywordEdit()->hasFocus() ||
                !frame->isActiveWindow());  // the focus request was posted
        // A keyword found once: found, then a silent end, then found again.
        frame->displayBar()->keywordEdit()->setText("GOP (Group of Pictures) #2");
        searchAndWait();
        const TreeItem only = view->SelectedItem();
        QVERIFY(only);
        const size_t messages = frame->host().messages.size();
        searchAndWait();
        searchAndWait();
        QCOMPARE(frame->host().messages.size(), messages);
        // Nothing found: the warning.
        frame->displayBar()->keywordEdit()->setText("no such text");
        searchAndWait();
        QCOMPARE(frame->host().messages.back().text, std::string("Failed to find any item!"));
    }

    void doubleClickOnALeafOpensTheFileDialog() {
        CSyntaxTree* view = frame->treeView();
        const QRect leaf = view->visualRect(frame->model()->index(0, 0));
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, leaf.center());
        QCoreApplication::processEvents();
        QCOMPARE(dialogsOpened, 1);
        // Blank space opens it too.
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, Qt::NoModifier,
                           QPoint(5, view->viewport()->height() - 3));
        QCoreApplication::processEvents();
        QCOMPARE(dialogsOpened, 2);
    }

    void autoPictureArrowsCrossGops() {
        QVERIFY(frame->OpenPath(Data("mpeg2-progressive.m2v")));
        Parse(kModeVideoOnly);
        CSyntaxTree* view = frame->treeView();
        const TreeStore& t = frame->tree();
        const TreeItem gop1 = FindText(t, "GOP (Group of Pictures) #1");
        const TreeItem gop2 = FindText(t, "GOP (Group of Pictures) #2");
        QVERIFY(gop1 && gop2);
        const TreeItem last1 = t.GetLastChildItem(gop1);
        TreeItem first2 = t.GetNextSiblingItem(t.GetChildItem(gop2));
        while (first2 && t.GetItemData(first2) != kind::kPicture)
            first2 = t.GetNextSiblingItem(first2);
        QVERIFY(view->SelectItem(last1));
        view->collapse(frame->model()->IndexOf(last1));
        view->setFocus();
        QTest::keyClick(view, Qt::Key_Down);
        QCOMPARE(view->SelectedItem(), first2);
        QTest::keyClick(view, Qt::Key_Up);
        QCOMPARE(view->SelectedItem(), last1);
        // Off: the arrows move as a tree does.
        frame->Execute(cmd::kAutoPictureMode);
        QVERIFY(!frame->IsChecked(cmd::kAutoPictureMode));
        QTest::keyClick(view, Qt::Key_Down);
        QVERIFY(view->SelectedItem() != first2);
    }

    void mvComboSeparatorAndBarRules() {
        CDisplayBar* bar = frame->displayBar();
        bar->displayMvsBox()->click();
        QVERIFY(bar->mvTypeCombo()->isEnabled());
        bar->mvTypeCombo()->setCurrentIndex(7);
        frame->Execute(cmd::kMvType);
        QCOMPARE(bar->mvTypeCombo()->currentIndex(), 14);
        bar->displayMvsBox()->click();
        QVERIFY(!bar->mvTypeCombo()->isEnabled());
    }

    void rowsAreNeverCutShort() {
        QVERIFY(frame->OpenPath(Data("mpeg2-interlaced.m2v")));
        Parse(kModeVideoOnly);
        CSyntaxTree* view = frame->treeView();
        QVERIFY(view->SelectItem(FindText(frame->tree(), "P-Picture #1")));
        view->RunPopupCommand(cmd::kParsePictureMbs);
        QCoreApplication::processEvents();
        QVERIFY(frame->WaitForWorker(30000));
        while (frame->model()->HasPending()) frame->Tick();
        // The macroblocks far down the picture have the longest texts; they come into view
        // only now, after every layout.
        view->scrollToBottom();
        for (int i = 0; i < 3; ++i) {
            view->viewport()->repaint();
            QCoreApplication::processEvents();
        }
        int rows = 0;
        for (QModelIndex i = view->indexAt(QPoint(1, 1)); i.isValid(); i = view->indexBelow(i)) {
            const QRect r = view->visualRect(i);
            if (r.top() >= view->viewport()->height()) break;
            QVERIFY2(r.width() >= view->sizeHintForIndex(i).width(),
                     qPrintable(i.data().toString()));
            ++rows;
        }
        QVERIFY(rows > 10);
        QVERIFY(view->horizontalScrollBar()->maximum() > 0);  // wider than the pane
    }

    void selectedRowsStayLegible() {
        QVERIFY(frame->OpenPath(Data("mpeg2-ps-mplex.mpg")));
        Parse(kModeBoth);
        CSyntaxTree* view = frame->treeView();
        const TreeStore& t = frame->tree();
        auto firstOfKind = [&](uint32_t k) {
            std::vector<TreeItem> stack{kTreeRoot};
            while (!stack.empty()) {
                const TreeItem i = stack.back();
                stack.pop_back();
                if (i != kTreeRoot && t.GetItemData(i) == k) return i;
                std::vector<TreeItem> children;
                for (TreeItem c = t.GetChildItem(i); c; c = t.GetNextSiblingItem(c))
                    children.push_back(c);
                stack.insert(stack.end(), children.rbegin(), children.rend());
            }
            return TreeItem{0};
        };
        const TreeItem items[] = {t.GetChildItem(kTreeRoot), firstOfKind(kind::kPack),
                                  firstOfKind(kind::kGop), firstOfKind(kind::kPicture),
                                  firstOfKind(kind::kSlicePlaceholder)};
        std::unique_ptr<QStyle> fusion(QStyleFactory::create("Fusion"));
        QPalette dark = fusion->standardPalette();
        for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive}) {
            dark.setColor(g, QPalette::Base, QColor(35, 35, 35));
            dark.setColor(g, QPalette::Text, QColor(230, 230, 230));
            dark.setColor(g, QPalette::Highlight, QColor(42, 130, 218));
            dark.setColor(g, QPalette::HighlightedText, Qt::black);
        }
        for (const QPalette& palette : {fusion->standardPalette(), dark}) {
            view->setPalette(palette);
            for (bool focused : {true, false}) {
                for (TreeItem item : items) {
                    QVERIFY(item);
                    QVERIFY(view->SelectItem(item));
                    if (focused)
                        view->setFocus();
                    else
                        view->clearFocus();
                    const QImage image = view->viewport()->grab().toImage();
                    // The text beside the icon: the band's colour is the commonest, the text's
                    // the one that stands out most from it.
                    const QRect r = view->visualRect(frame->model()->IndexOf(item))
                                        .adjusted(24, 2, 0, -2)
                                        .intersected(image.rect());
                    QVERIFY(r.width() > 20);
                    std::map<QRgb, int> counts;
                    for (int y = r.top(); y <= r.bottom(); ++y)
                        for (int x = r.left(); x <= r.right(); ++x) ++counts[image.pixel(x, y)];
                    QRgb band = counts.begin()->first;
                    for (const auto& [rgb, n] : counts)
                        if (n > counts[band]) band = rgb;
                    double best = 1;
                    for (const auto& [rgb, n] : counts) best = std::max(best, Contrast(rgb, band));
                    QVERIFY2(best >= 3.0, qPrintable(QString::fromStdString(t.GetItemText(item)) +
                                                     QString(" %1").arg(best)));
                }
            }
        }
    }

    void scriptSelectSearchesFromTheTop() {
        // The parse selects the first picture itself; a script's first --select still finds it.
        AutomationOptions options;
        options.file = Data("mpeg2-progressive.m2v");
        options.parse = "video";
        options.selects << "(Picture #1,";
        QCOMPARE(RunAutomation(*frame, options), 0);
        QCOMPARE(frame->tree().GetItemText(frame->treeView()->SelectedItem()),
                 std::string("I-Picture #1 (Picture #1, Frame #1)"));
    }

    void usageNamesEveryOption() {
        const QString usage = QString::fromLatin1(kAutomationUsage);
        const QList<QStringList> examples = {{"--parse", "video"},
                                             {"--parse-mbs", "2"},
                                             {"--select", "Slice"},
                                             {"--display-type", "raw"},
                                             {"--field", "top"},
                                             {"--colour", "y"},
                                             {"--mvs", "3"},
                                             {"--grid"},
                                             {"--filter", "negative"},
                                             {"--export", "item"},
                                             {"--save", "frame", "out.bmp"},
                                             {"--screenshot", "x.png"},
                                             {"--probe", "tree.txt"},
                                             {"--walk", "10"},
                                             {"--quit"},
                                             {"--help"}};
        for (const QStringList& example : examples) {
            AutomationOptions options;
            std::string error;
            QVERIFY2(ParseAutomationOptions(QStringList{"bitloupe"} + example, &options, &error),
                     error.c_str());
            QVERIFY2(
                usage.contains("[" + example[0] + " ") || usage.contains("[" + example[0] + "]"),
                qPrintable(example[0]));
            QCOMPARE(options.help, example[0] == "--help");
        }
    }

    void openDialogOffersEveryMpegFile() {
        // The names the dialog shows: DVD files too, and every pattern the desktop's file type
        // description claims for the program.
        QStringList names{"VTS_01_1.vob", "clip.m2p", "clip.mpv", "clip.m2v", "clip.m1v", "a.mpg"};
        QFile mime(QString(BITLOUPE_TEST_DATA) + "/../../resources/bitloupe-mime.xml");
        QVERIFY(mime.open(QIODevice::ReadOnly));
        const QString xml = QString::fromUtf8(mime.readAll());
        QRegularExpression glob("<glob pattern=\"\\*\\.([a-z0-9]+)\"");
        for (auto m = glob.globalMatch(xml); m.hasNext();) names << "file." + m.next().captured(1);
        const QString filter = QString::fromLatin1(CMainFrame::kOpenFilter);
        const QString mpeg = filter.section(";;", 0, 0);
        const QStringList patterns = mpeg.mid(mpeg.indexOf('(') + 1).chopped(1).split(' ');
        for (const QString& name : names) {
            bool shown = false;
            for (const QString& p : patterns)
                shown |= QRegularExpression(QRegularExpression::wildcardToRegularExpression(p))
                             .match(name)
                             .hasMatch();
            QVERIFY2(shown, qPrintable(name));
        }
    }

    void onDemandParseOnTheWorkerAndDelete() {
        QVERIFY(frame->OpenPath(Data("mpeg2-interlaced.m2v")));
        Parse(kModeVideoOnly);
        CSyntaxTree* view = frame->treeView();
        const TreeItem picture = FindText(frame->tree(), "P-Picture #1");
        QVERIFY(view->SelectItem(picture));
        const size_t before = frame->tree().ItemCount();
        view->RunPopupCommand(cmd::kParsePictureMbs);
        QCoreApplication::processEvents();
        QVERIFY(frame->WaitForWorker(30000));
        while (frame->model()->HasPending()) frame->Tick();
        QVERIFY(frame->host().messages.back().text.find("time-consuming") != std::string::npos);
        QVERIFY(frame->tree().ItemCount() > before + 1000);
        QVERIFY(frame->IsEnabled(cmd::kOpen));
        QVERIFY(view->SelectItem(picture));
        view->RunPopupCommand(cmd::kDeletePictureMbs);
        QCoreApplication::processEvents();
        QCOMPARE(frame->tree().ItemCount(), before);
        QAbstractItemModelTester tester(frame->model());
    }
};

// The picture pane: what selections decode and show, and the display-type rules.
class PicturePaneTest : public QObject {
    Q_OBJECT

    std::unique_ptr<CMainFrame> frame;

    void OpenParsed(const char* name) {
        frame = std::make_unique<CMainFrame>();
        frame->host().automatic = true;
        frame->resize(1200, 800);
        frame->show();
        QVERIFY(frame->OpenPath(Data(name)));
        frame->parseDialog()->ClickParse();
        QVERIFY(frame->WaitForWorker(60000));
        frame->rightPane()->ShowDialog(false);
        QCoreApplication::processEvents();
    }
    void Select(const char* text, TreeItem from = kTreeRoot) {
        const TreeItem item = FindContaining(frame->tree(), text, from);
        QVERIFY2(item, text);
        QVERIFY(frame->treeView()->SelectItem(item));
    }
    int Combo() const { return frame->displayBar()->displayTypeCombo()->currentIndex(); }
    void ChooseType(int type) {
        frame->displayBar()->displayTypeCombo()->setCurrentIndex(type);
        frame->Execute(cmd::kDisplayType);
    }

  private Q_SLOTS:
    void cleanup() { frame.reset(); }

    void selectionsSetTheDisplayMode() {
        OpenParsed("mpeg2-interlaced.m2v");
        Select("Picture Header");
        QCOMPARE(frame->displayMode(), 3);
        QVERIFY(frame->IsEnabled(cmd::kSaveSnapshot));
        QVERIFY(frame->IsEnabled(cmd::kNegative));
        // The picture item itself only switches the mode: no second decode.
        const TreeItem shown = frame->dispatch().shownItem;
        Select("I-Picture #1");
        QCOMPARE(frame->displayMode(), 4);
        QCOMPARE(frame->dispatch().shownItem, shown);
        Select("Slice #2");
        QCOMPARE(frame->displayMode(), 2);
        QVERIFY(frame->IsEnabled(cmd::kSaveMbsBig));
        Select("GOP Header");
        QCOMPARE(frame->displayMode(), -1);
        QVERIFY(!frame->IsEnabled(cmd::kSaveFrame));
        // A 352-wide picture would need 373 pixels; this one needs its width plus 21.
        Select("Picture Header");
        QCOMPARE(frame->rightPane()->NeededSize(),
                 QSize(frame->parser().decoder.dib.Width() + 21,
                       frame->parser().decoder.dib.Height() + 21));
        // The parsing dialog shown again: selections change nothing.
        frame->rightPane()->ShowDialog(true);
        Select("Slice #3");
        QCOMPARE(frame->displayMode(), 3);
        QVERIFY(!frame->IsEnabled(cmd::kSaveSnapshot));
    }

    void rightClickLeavesTheSelection() {
        OpenParsed("mpeg2-interlaced.m2v");
        Select("Picture Header");
        CSyntaxTree* view = frame->treeView();
        const TreeItem selected = view->SelectedItem();
        const TreeItem shown = frame->dispatch().shownItem;
        const TreeItem slice = FindContaining(frame->tree(), "Slice #2");
        const QPoint at = PointAt(view, slice);
        SendMouse(view, QEvent::MouseButtonPress, Qt::RightButton, at);
        SendMouse(view, QEvent::MouseButtonRelease, Qt::RightButton, at);
        QCoreApplication::processEvents();
        QCOMPARE(view->SelectedItem(), selected);
        QCOMPARE(frame->dispatch().shownItem, shown);
        QCOMPARE(frame->displayMode(), 3);
        QCOMPARE(view->PopupTarget(), slice);
    }

    void onDemandParseEndsShowingTheSelection() {
        // A selection made while an on-demand parse runs is not decoded then; the pane shows
        // it once the parse has ended.
        OpenParsed("mpeg2-interlaced.m2v");
        CSyntaxTree* view = frame->treeView();
        const TreeItem picture = FindContaining(frame->tree(), "P-Picture #1");
        QVERIFY(frame->parser().macroblocks.ParseMacroblocksOfPicture(picture));
        frame->Tick();
        QCoreApplication::processEvents();
        Select("Picture Header");
        QCOMPARE(frame->displayMode(), 3);
        SendMouse(view, QEvent::MouseMove, Qt::NoButton, PointAt(view, picture));
        const TreeItem slice = FindContaining(frame->tree(), "Slice #2");
        {
            // The parse waits for the tree until the selection has changed.
            auto hold = frame->tree().Lock();
            view->RunPopupCommand(cmd::kParsePictureMbs);
            QCoreApplication::processEvents();
            QVERIFY(frame->WorkerBusy());
            QVERIFY(view->SelectItem(slice));
            QCOMPARE(frame->displayMode(), 3);
        }
        QVERIFY(frame->WaitForWorker(30000));
        QCoreApplication::processEvents();
        QCOMPARE(view->SelectedItem(), slice);
        QCOMPARE(frame->dispatch().shownItem, slice);
        QCOMPARE(frame->displayMode(), 2);
        QVERIFY(frame->IsEnabled(cmd::kSaveMbsBig));
    }

    void displayTypeRules() {
        OpenParsed("mpeg2-progressive.m2v");
        // An I picture: every type but "Null" becomes "Auto".
        Select("Picture Header");
        ChooseType(2);
        QCOMPARE(Combo(), 0);
        ChooseType(4);
        QCOMPARE(Combo(), 4);
        ChooseType(0);
        // A P picture whose reference is in the stores: "Diff[1]" becomes "Diff[0]".
        Select("(Picture #2,");
        ChooseType(3);
        QCOMPARE(Combo(), 2);
        // A B picture decoded straight after opening lacks a reference: "Raw", unless its
        // references are decoded first (the default).
        OpenParsed("mpeg2-progressive.m2v");
        frame->SetDecodeReferences(false);
        Select("(Picture #4,");
        ChooseType(2);
        QCOMPARE(Combo(), 1);
        OpenParsed("mpeg2-progressive.m2v");
        QVERIFY(frame->decodeReferences());
        Select("(Picture #4,");
        QCOMPARE(Combo(), 0);
        ChooseType(2);
        QCOMPARE(Combo(), 2);
    }

    void fieldOptionOnlyForFramePictures() {
        OpenParsed("mpeg2-fieldpic.m2v");
        Select("Picture Header");
        QCoreApplication::processEvents();
        QVERIFY(!frame->displayBar()->fieldOptionCombo()->isEnabled());
        OpenParsed("mpeg2-interlaced.m2v");
        Select("Picture Header");
        QCoreApplication::processEvents();
        QVERIFY(frame->displayBar()->fieldOptionCombo()->isEnabled());
    }

    void snapshotEqualsTheCommandLinePicture() {
        OpenParsed("mpeg2-ps.mpg");
        const TreeItem picture = FindContaining(frame->tree(), "(Picture #5,");
        QVERIFY(picture);
        frame->dispatch().DecodeReferencesOf(picture);
        Select("Picture Header", picture);
        QTemporaryDir dir;
        const std::string path = dir.filePath("snap.bmp").toStdString();
        QVERIFY(frame->rightPane()->SaveSnapshot(path).empty());
        // The same picture decoded by the engine as bitloupe-cli decode does.
        test::Engine e;
        QVERIFY(e.Open(test::DataPath("mpeg2-ps.mpg")));
        e.Parse();
        const std::vector<TreeItem> pictures = test::Pictures(e);
        for (size_t i = 0; i < 5; ++i) QVERIFY(e.parser.decoder.DecodePicture(pictures[i], true));
        const std::string reference = dir.filePath("ref.bmp").toStdString();
        QVERIFY(e.parser.decoder.dib.Save(reference) == BmpResult::kOk);
        std::ifstream a(path, std::ios::binary), b(reference, std::ios::binary);
        const std::string sa((std::istreambuf_iterator<char>(a)), {});
        const std::string sb((std::istreambuf_iterator<char>(b)), {});
        QVERIFY(sa.size() > 1000);
        QVERIFY(sa == sb);
        // Vectors and the grid change the snapshot; a filter changes the picture, Restore
        // brings it back.
        frame->displayBar()->displayMvsBox()->click();
        frame->displayBar()->mbGridBox()->click();
        QVERIFY(frame->rightPane()->Snapshot() != QImage());
        QVERIFY(frame->Execute(cmd::kNegative));
        QVERIFY(frame->IsEnabled(cmd::kRestore));
        QVERIFY(frame->Execute(cmd::kRestore));
    }
};

// Export to the clipboard and the save commands.
class ExportSaveTest : public QObject {
    Q_OBJECT

    std::unique_ptr<CMainFrame> frame;

    std::string Clipboard() const {
        const QMimeData* data = QGuiApplication::clipboard()->mimeData();
        return data ? data->data("text/plain").toStdString() : std::string();
    }

  private Q_SLOTS:
    void init() {
        frame = std::make_unique<CMainFrame>();
        frame->host().automatic = true;
        frame->resize(1200, 800);
        frame->show();
        QVERIFY(frame->OpenPath(Data("mpeg2-interlaced.m2v")));
        frame->parseDialog()->ClickParse();
        QVERIFY(frame->WaitForWorker(60000));
    }
    void cleanup() { frame.reset(); }

    void clipboardHoldsTheExactBytes() {
        const TreeStore& t = frame->tree();
        CSyntaxTree* view = frame->treeView();
        const TreeItem leaf = FindContaining(t, "horizontal_size_value");
        QVERIFY(view->SelectItem(leaf));
        view->RunPopupCommand(cmd::tree::kExportItem);
        QCOMPARE(Clipboard(), t.GetItemText(leaf));
        const TreeItem header = FindContaining(t, "Sequence Header #1");
        QVERIFY(view->SelectItem(header));
        view->RunPopupCommand(cmd::tree::kExportAll);
        QCOMPARE(Clipboard(), ExportBranch(t, header, true, true));
        QVERIFY(Clipboard().find("\r\n\t") != std::string::npos);
        view->RunPopupCommand(cmd::tree::kExportNonVirtual);
        QCOMPARE(Clipboard(), ExportBranch(t, header, true, false));
        // The Y-Cb-Cr export of a parsed macroblock keeps the pel matrices only.
        const TreeItem picture = FindContaining(t, "(Picture #2,");
        QVERIFY(frame->parser().macroblocks.ParseMacroblocksOfPicture(picture));
        frame->Tick();
        const TreeItem mb = FindContaining(t, "Coded Macroblock", picture);
        QVERIFY(view->SelectItem(mb));
        view->RunPopupCommand(cmd::tree::kExportYCbCr);
        QVERIFY(Clipboard().find("Pel values") != std::string::npos);
        QVERIFY(Clipboard().find("raw DCT data") == std::string::npos);
        QCOMPARE(Clipboard(), ExportPelBranch(t, mb, true));
    }

    void ctrlCExportsTheItemUnderThePointer() {
        const TreeStore& t = frame->tree();
        CSyntaxTree* view = frame->treeView();
        const TreeItem selected = FindContaining(t, "horizontal_size_value");
        const TreeItem pointed = FindContaining(t, "vertical_size_value");
        QVERIFY(view->SelectItem(selected));
        view->setFocus();
        SendMouse(view, QEvent::MouseMove, Qt::NoButton, PointAt(view, pointed));
        QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(Clipboard(), t.GetItemText(pointed));
        // The pointer last over blank space: the selection.
        view->collapseAll();
        const TreeItem top = t.GetChildItem(kTreeRoot);
        QVERIFY(view->SelectItem(top));
        const QPoint blank(5, view->viewport()->height() - 3);
        QVERIFY(!view->indexAt(blank).isValid());
        SendMouse(view, QEvent::MouseMove, Qt::NoButton, blank);
        QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(Clipboard(), t.GetItemText(top));
    }

    void largeBranchesAskFirst() {
        const TreeStore& t = frame->tree();
        CSyntaxTree* view = frame->treeView();
        const TreeItem picture = FindContaining(t, "(Picture #2,");
        QVERIFY(view->SelectItem(picture));
        frame->host().answer = MsgAnswer::No;
        QGuiApplication::clipboard()->clear();
        const size_t asked = frame->host().messages.size();
        view->RunPopupCommand(cmd::tree::kExportAll);
        QCOMPARE(frame->host().messages.size(), asked + 1);
        QCOMPARE(frame->host().messages.back().text,
                 std::string("The process may need much time, do you really want to go?"));
        QVERIFY(Clipboard().empty());  // No: nothing exported
        // A slice asks from 10 macroblocks on; its header asks nothing.
        const TreeItem slice = FindContaining(t, "Slice #1", picture);
        QVERIFY(
            frame->parser().macroblocks.ParseMacroblocksOfSlice(FindSlicePlaceholder(t, slice)));
        frame->Tick();
        QVERIFY(view->SelectItem(slice));
        const size_t before = frame->host().messages.size();
        view->RunPopupCommand(cmd::tree::kExportAll);
        int macroblocks = 0;
        for (TreeItem c = t.GetChildItem(slice); c; c = t.GetNextSiblingItem(c))
            if (t.GetItemData(c) == kind::kMacroblock) ++macroblocks;
        QCOMPARE(frame->host().messages.size(), before + (macroblocks >= 10 ? 1 : 0));
    }

    void saveCommandsFollowTheirRules() {
        QTemporaryDir dir;
        QVERIFY(frame->rightPane()->DialogShown());
        for (int id : {cmd::kSaveFrame, cmd::kSaveTopField, cmd::kSaveBottomField, cmd::kSaveMbsBig,
                       cmd::kSaveMbsSmall, cmd::kSaveSnapshot})
            QVERIFY(!frame->IsEnabled(id));
        frame->rightPane()->ShowDialog(false);
        QCoreApplication::processEvents();
        QVERIFY(frame->treeView()->SelectItem(FindContaining(frame->tree(), "Picture Header")));
        QVERIFY(frame->IsEnabled(cmd::kSaveFrame));
        QVERIFY(!frame->IsEnabled(cmd::kSaveMbsBig));
        QVERIFY(frame->treeView()->SelectItem(FindContaining(frame->tree(), "Slice #3")));
        QVERIFY(frame->IsEnabled(cmd::kSaveMbsBig));
        // A name typed without an extension gets ".bmp"; every writer makes a readable file.
        int n = 0;
        for (int id : {cmd::kSaveFrame, cmd::kSaveTopField, cmd::kSaveBottomField, cmd::kSaveMbsBig,
                       cmd::kSaveMbsSmall, cmd::kSaveSnapshot}) {
            const QString base = dir.filePath(QString("out%1").arg(n++));
            frame->saveFile = [base] { return base; };
            QVERIFY(frame->Execute(id));
            QVERIFY2(QImage(base + ".bmp").width() > 0, qPrintable(base));
        }
        // A file that cannot be written says so.
        frame->saveFile = [] { return QString("/nonexistent/dir/x.bmp"); };
        const size_t before = frame->host().messages.size();
        QVERIFY(frame->Execute(cmd::kSaveFrame));
        QCOMPARE(frame->host().messages.size(), before + 1);
    }
};

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    int status = 0;
    {
        MainWindowTest window;
        status |= QTest::qExec(&window, argc, argv);
    }
    {
        PicturePaneTest pane;
        status |= QTest::qExec(&pane, argc, argv);
    }
    {
        ExportSaveTest exports;
        status |= QTest::qExec(&exports, argc, argv);
    }
    return status;
}
#include "mainwindow_test.moc"
