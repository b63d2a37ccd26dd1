#include "gui/Automation.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QPixmap>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <vector>

#include "core/session/SyntaxParser.h"
#include "core/tree/Export.h"
#include "core/tree/ItemFields.h"
#include "gui/BytesPane.h"
#include "gui/CommandIds.h"
#include "gui/DisplayBar.h"
#include "gui/MainFrame.h"
#include "gui/ParseDlg.h"
#include "gui/ProblemsPane.h"
#include "gui/QtHost.h"
#include "gui/RightWnd.h"
#include "gui/StreamChart.h"
#include "gui/SyntaxTree.h"
#include "gui/SyntaxTreeModel.h"

namespace bitloupe {

const char* const kAutomationUsage =
    "usage: bitloupe [FILE] [--parse video|ps|both] [--pause-at N] [--parse-mbs N]\n"
    "                [--select TEXT]...\n"
    "                [--display-type auto|raw|diff0|diff1|null] [--field frame|top|bottom]\n"
    "                [--colour normal|y|cb|cr|red|green|blue|yellow|magenta|cyan] [--mvs INDEX]\n"
    "                [--grid] [--filter NAME]... [--export all|non-virtual|ycbcr|item]\n"
    "                [--save frame|top|bottom|big|small|snapshot OUT.bmp] [--screenshot OUT.png]\n"
    "                [--probe TREE.txt] [--walk N] [--decode-references on|off]\n"
    "                [--goto-picture N] [--zoom fit|1|2|4|8|16|32]\n"
    "                [--overlay none|mbtype|quantiser|cbp|dct|motion] [--hover X Y] [--click X Y]\n"
    "                [--bytes] [--goto-offset N] [--chart] [--chart-click N] [--stream-summary]\n"
    "                [--problems] [--problem-click N]\n"
    "                [--report] [--quit] [--help]\n";

namespace {

// What became of an argument: not among a group's options, read, or refused (the error set).
enum class Read { kNotInGroup, kRead, kRefused };

// The option being read; each Value takes the next word as one of its values.
class OptionReader {
  public:
    OptionReader(const QStringList& arguments, int& i, std::string* error)
        : option(arguments[i]), arguments_(arguments), i_(i), error_(error) {}

    const QString& option;

    bool Value(QString* out) {
        if (i_ + 1 >= arguments_.size()) {
            *error_ = "missing value after " + option.toStdString();
            return false;
        }
        *out = arguments_[++i_];
        return true;
    }
    Read Refuse(std::string message) {
        *error_ = std::move(message);
        return Read::kRefused;
    }

  private:
    const QStringList& arguments_;
    int& i_;
    std::string* error_;
};

// What is parsed, selected and which picture is gone to.
Read ReadParseOption(OptionReader& r, AutomationOptions* options) {
    const QString& a = r.option;
    if (a == "--parse") {
        if (!r.Value(&options->parse)) return Read::kRefused;
        if (options->parse != "video" && options->parse != "ps" && options->parse != "both")
            return r.Refuse("--parse takes video, ps or both");
    } else if (a == "--select") {
        QString text;
        if (!r.Value(&text)) return Read::kRefused;
        options->selects << text;
    } else if (a == "--pause-at") {
        QString number;
        if (!r.Value(&number)) return Read::kRefused;
        bool ok = false;
        options->pauseAt = number.toLongLong(&ok);
        if (!ok || options->pauseAt < 0) return r.Refuse("--pause-at takes a byte count");
    } else if (a == "--parse-mbs") {
        QString number;
        if (!r.Value(&number)) return Read::kRefused;
        bool ok = false;
        options->parseMbs = number.toInt(&ok);
        if (!ok || options->parseMbs < 1)
            return r.Refuse("--parse-mbs takes a picture number from 1");
    } else if (a == "--decode-references") {
        QString word;
        if (!r.Value(&word)) return Read::kRefused;
        if (word != "on" && word != "off") return r.Refuse("--decode-references takes on or off");
        options->decodeReferences = word == "on" ? 1 : 0;
    } else if (a == "--goto-picture") {
        QString number;
        if (!r.Value(&number)) return Read::kRefused;
        bool ok = false;
        options->gotoPicture = number.toInt(&ok);
        if (!ok || options->gotoPicture < 1)
            return r.Refuse("--goto-picture takes a picture number from 1");
    } else {
        return Read::kNotInGroup;
    }
    return Read::kRead;
}

// --display-type, --field and --colour: a word of the bar's boxes or the View menu.
Read ReadDisplayWord(OptionReader& r, AutomationOptions* options) {
    const QString& a = r.option;
    QString word;
    if (!r.Value(&word)) return Read::kRefused;
    static const QStringList types{"auto", "raw", "diff0", "diff1", "null"};
    static const QStringList fields{"frame", "top", "bottom"};
    static const QStringList colours{"normal", "y",    "cb",     "cr",      "red",
                                     "green",  "blue", "yellow", "magenta", "cyan"};
    const QStringList& words = a == "--display-type" ? types : a == "--field" ? fields : colours;
    const int index = static_cast<int>(words.indexOf(word));
    if (index < 0) return r.Refuse(a.toStdString() + " takes " + words.join('|').toStdString());
    (a == "--display-type" ? options->displayType
     : a == "--field"      ? options->field
                           : options->colour) = index;
    return Read::kRead;
}

// How the picture is shown: the bar, the menus, the zoom and the macroblock map.
Read ReadDisplayOption(OptionReader& r, AutomationOptions* options) {
    const QString& a = r.option;
    if (a == "--display-type" || a == "--field" || a == "--colour") {
        return ReadDisplayWord(r, options);
    } else if (a == "--mvs") {
        QString number;
        if (!r.Value(&number)) return Read::kRefused;
        bool ok = false;
        options->mvs = number.toInt(&ok);
        if (!ok || options->mvs < 0 || options->mvs > 14)
            return r.Refuse("--mvs takes the MV type index 0..14");
    } else if (a == "--grid") {
        options->grid = true;
    } else if (a == "--filter") {
        QString name;
        if (!r.Value(&name)) return Read::kRefused;
        if (FilterCommand(name) == 0)
            return r.Refuse("unknown filter " + name.toStdString() + " (" + FilterNames() + ")");
        options->filters << name;
    } else if (a == "--zoom") {
        QString word;
        if (!r.Value(&word)) return Read::kRefused;
        static const QStringList zooms{"fit", "1", "2", "4", "8", "16", "32"};
        if (!zooms.contains(word)) return r.Refuse("--zoom takes fit|1|2|4|8|16|32");
        options->zoom = word == "fit" ? 0 : word.toInt();
    } else if (a == "--bytes") {
        options->bytes = true;
    } else if (a == "--problems") {
        options->problems = true;
    } else if (a == "--problem-click") {
        QString word;
        if (!r.Value(&word)) return Read::kRefused;
        bool ok = false;
        options->problemClick = word.toInt(&ok);
        if (!ok || options->problemClick < 1) return r.Refuse("--problem-click takes a row from 1");
        options->problems = true;
    } else if (a == "--chart") {
        options->chart = true;
    } else if (a == "--stream-summary") {
        options->streamSummary = true;
    } else if (a == "--chart-click") {
        QString word;
        if (!r.Value(&word)) return Read::kRefused;
        bool ok = false;
        options->chartClick = word.toInt(&ok);
        if (!ok || options->chartClick < 1)
            return r.Refuse("--chart-click takes a picture number from 1");
        options->chart = true;
    } else if (a == "--goto-offset") {
        QString word;
        if (!r.Value(&word)) return Read::kRefused;
        bool ok = false;
        const qlonglong offset = word.startsWith("0x", Qt::CaseInsensitive)
                                     ? word.mid(2).toLongLong(&ok, 16)
                                     : word.toLongLong(&ok, 10);
        if (!ok || offset < 0)
            return r.Refuse("--goto-offset takes a byte offset (decimal or 0x hex)");
        options->gotoOffset = offset;
    } else if (a == "--overlay") {
        QString word;
        if (!r.Value(&word)) return Read::kRefused;
        options->overlay = -1;
        for (int k = 0; k < 6; ++k)
            if (word == QLatin1String(kMapScriptNames[k])) options->overlay = k;
        if (options->overlay < 0)
            return r.Refuse("--overlay takes none|mbtype|quantiser|cbp|dct|motion");
    } else {
        return Read::kNotInGroup;
    }
    return Read::kRead;
}

// --hover and --click: a sample of the picture.
Read ReadPointerOption(OptionReader& r, AutomationOptions* options) {
    const QString& a = r.option;
    if (a != "--hover" && a != "--click") return Read::kNotInGroup;
    QString xs, ys;
    if (!r.Value(&xs) || !r.Value(&ys)) return Read::kRefused;
    bool okX = false, okY = false;
    const int x = xs.toInt(&okX), y = ys.toInt(&okY);
    if (!okX || !okY || x < 0 || y < 0)
        return r.Refuse(a.toStdString() + " takes two sample coordinates X Y");
    (a == "--hover" ? options->hover : options->click) = true;
    (a == "--hover" ? options->hoverX : options->clickX) = x;
    (a == "--hover" ? options->hoverY : options->clickY) = y;
    return Read::kRead;
}

// What is written: files, the clipboard's text, measurements and the report.
Read ReadOutputOption(OptionReader& r, AutomationOptions* options) {
    const QString& a = r.option;
    if (a == "--screenshot") {
        if (!r.Value(&options->screenshot)) return Read::kRefused;
    } else if (a == "--save") {
        if (!r.Value(&options->saveKind) || !r.Value(&options->savePath)) return Read::kRefused;
        static const QStringList kinds{"frame", "top", "bottom", "big", "small", "snapshot"};
        if (!kinds.contains(options->saveKind))
            return r.Refuse("--save takes frame|top|bottom|big|small|snapshot OUT.bmp");
    } else if (a == "--export") {
        if (!r.Value(&options->exportKind)) return Read::kRefused;
        static const QStringList kinds{"all", "non-virtual", "ycbcr", "item"};
        if (!kinds.contains(options->exportKind))
            return r.Refuse("--export takes all|non-virtual|ycbcr|item");
    } else if (a == "--walk") {
        QString number;
        if (!r.Value(&number)) return Read::kRefused;
        options->walk = number.toInt();
    } else if (a == "--probe") {
        if (!r.Value(&options->probe)) return Read::kRefused;
    } else if (a == "--report") {
        options->report = true;
    } else {
        return Read::kNotInGroup;
    }
    return Read::kRead;
}

}  // namespace

bool ParseAutomationOptions(const QStringList& arguments, AutomationOptions* options,
                            std::string* error) {
    for (int i = 1; i < arguments.size(); ++i) {
        const QString& a = arguments[i];
        OptionReader reader(arguments, i, error);
        // Each group reads its own options; what none reads is --quit, --help or the file.
        Read read = Read::kNotInGroup;
        for (auto group :
             {ReadParseOption, ReadDisplayOption, ReadPointerOption, ReadOutputOption}) {
            read = group(reader, options);
            if (read != Read::kNotInGroup) break;
        }
        if (read == Read::kRefused) return false;
        if (read == Read::kRead) continue;
        if (a == "--quit") {
            options->quit = true;
        } else if (a == "--help" || a == "-h") {
            options->help = true;
        } else if (a.startsWith("--")) {
            *error = "unknown option " + a.toStdString();
            return false;
        } else if (options->file.isEmpty()) {
            options->file = a;
        } else {
            *error = "more than one file given";
            return false;
        }
    }
    return true;
}

namespace {

struct FilterName {
    const char* name;
    int command;
};
constexpr FilterName kFilterNames[] = {
    {"negative", cmd::kNegative},
    {"deinterlace", cmd::kDeinterlacing},
    {"uniform", cmd::kUniformSmooth},
    {"gaussian", cmd::kGaussianSmooth},
    {"median", cmd::kMedianSmooth},
    {"weak-sharpen", cmd::kWeakSharpen},
    {"strong-sharpen", cmd::kStrongSharpen},
    {"edge-black", cmd::kEdgeBlack},
    {"edge-white", cmd::kEdgeWhite},
    {"edge-gray", cmd::kEdgeGray},
    {"emboss-left-up", cmd::kEmbossLeftUp},
    {"emboss-left-down", cmd::kEmbossLeftDown},
    {"emboss-right-up", cmd::kEmbossRightUp},
    {"emboss-right-down", cmd::kEmbossRightDown},
    {"vflip", cmd::kVerticalFlip},
    {"hflip", cmd::kHorizontalFlip},
    {"restore", cmd::kRestore},
};

}  // namespace

int FilterCommand(const QString& name) {
    for (const FilterName& f : kFilterNames)
        if (name == QLatin1String(f.name)) return f.command;
    return 0;
}

std::string FilterNames() {
    std::string out;
    for (const FilterName& f : kFilterNames) out += (out.empty() ? "" : "|") + std::string(f.name);
    return out;
}

namespace {

// The item after `from` in pre-order (from 0: the first item).
TreeItem NextInPreOrder(const TreeStore& tree, TreeItem from) {
    if (!from) return tree.GetChildItem(kTreeRoot);
    if (TreeItem c = tree.GetChildItem(from)) return c;
    for (TreeItem i = from; i; i = tree.GetParentItem(i)) {
        if (TreeItem s = tree.GetNextSiblingItem(i)) return s;
        if (tree.GetParentItem(i) == kTreeRoot) break;
    }
    return 0;
}

void SettleEvents() {
    for (int i = 0; i < 5; ++i) QApplication::processEvents(QEventLoop::AllEvents, 50);
}

}  // namespace

namespace {

// Presses Pause once the parse has read `offset` bytes (as soon as it has begun, for a parse
// that cannot be paused: none), and lets the tree and the docks catch up with it.
void PauseAt(CMainFrame& frame, int64_t offset) {
    CParseDlg* dialog = frame.parseDialog();
    QCoreApplication::processEvents();  // the posted command starts the parse
    QTimer wake;
    wake.start(5);
    while (frame.WorkerBusy() && dialog->ProgressOffset() < offset)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    if (!frame.WorkerBusy()) return;
    if (!dialog->parseButton()->isEnabled()) {
        std::fprintf(stderr, "--pause-at: a parse of both layers cannot be paused\n");
        return;
    }
    dialog->ClickParse();  // "Pause"
    while (frame.model()->HasPending()) frame.Tick();
    frame.RefreshStats(CMainFrame::StatsRefresh::kCatchUp);
}

// The parse of --parse, waited for (up to --pause-at's pause); with --probe the interface's stalls
// are measured meanwhile and the tree is written.
void RunParse(CMainFrame& frame, const AutomationOptions& options) {
    if (options.parse.isEmpty() || !frame.fileOpen()) return;
    CParseDlg* dialog = frame.parseDialog();
    const int mode = options.parse == "ps"     ? kModeProgramStreamOnly
                     : options.parse == "both" ? kModeBoth
                                               : kModeVideoOnly;
    dialog->modeRadio(mode)->setChecked(true);
    // The docks asked for are open while the parse runs, and fill in as it goes.
    if (options.chart || options.streamSummary)
        frame.ShowStatsDocks(options.chart, options.streamSummary);
    if (options.problems) frame.ShowProblems(true);
    // The probe: a timer every 10 ms that notes how late it fires.
    QElapsedTimer clock;
    std::vector<double> late;
    QTimer probe;
    qint64 last = 0;
    probe.setTimerType(Qt::PreciseTimer);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        late.push_back((now - last) / 1e6 - 10.0);
        last = now;
    });
    clock.start();
    if (!options.probe.isEmpty()) probe.start(10);
    dialog->ClickParse();
    if (options.pauseAt >= 0) PauseAt(frame, options.pauseAt);
    frame.WaitForWorker();
    const double parsed = clock.nsecsElapsed() / 1e6;
    while (frame.model()->HasPending()) {
        frame.Tick();
        QApplication::processEvents();
    }
    frame.Tick();
    const double shown = clock.nsecsElapsed() / 1e6;
    probe.stop();
    if (!options.probe.isEmpty()) {
        std::sort(late.begin(), late.end());
        const double worst = late.empty() ? 0 : late.back();
        const double p99 = late.empty() ? 0 : late[late.size() * 99 / 100];
        std::fprintf(stderr,
                     "probe: parse %.0f ms, all rows shown %.0f ms after the parse ended, "
                     "%zu items, %zu timer ticks, longest stall %.1f ms, 99th percentile "
                     "%.1f ms\n",
                     parsed, shown - parsed, frame.tree().ItemCount(), late.size(), worst, p99);
        std::ofstream out(options.probe.toLocal8Bit().toStdString(), std::ios::binary);
        const TreeStore& tree = frame.tree();
        for (TreeItem r = tree.GetChildItem(kTreeRoot); r; r = tree.GetNextSiblingItem(r))
            WriteBranch(out, tree, r, ExportFilter::All, "\n");
    }
}

// --parse-mbs: "Parse MBs in Picture" on picture N; false when there is none.
bool RunParseMbs(CMainFrame& frame, const AutomationOptions& options) {
    if (options.parseMbs <= 0 || !frame.fileOpen()) return true;
    CSyntaxTree* view = frame.treeView();
    // "Parse MBs in Picture" from the popup menu, on the picture's item.
    int n = 0;
    TreeItem picture = 0;
    for (TreeItem i = NextInPreOrder(frame.tree(), 0); i && !picture;
         i = NextInPreOrder(frame.tree(), i))
        if (KindOf(frame.tree().GetItemData(i)) == ItemKind::Picture && ++n == options.parseMbs)
            picture = i;
    if (!picture || !view->SelectItem(picture)) {
        std::fprintf(stderr, "--parse-mbs: the stream has no picture %d\n", options.parseMbs);
        return false;
    }
    view->RunPopupCommand(cmd::kParsePictureMbs);
    frame.WaitForWorker();
    while (frame.model()->HasPending()) frame.Tick();
    return true;
}

// Each --select in turn; false when one finds nothing.
bool RunSelects(CMainFrame& frame, const AutomationOptions& options) {
    CSyntaxTree* view = frame.treeView();
    // A script looks at pictures: the picture area takes the parsing dialog's place.
    if (!options.selects.isEmpty() && frame.rightPane()->DialogShown() && !frame.WorkerBusy())
        frame.rightPane()->ShowDialog(false);
    SettleEvents();
    // The first --select searches from the top (whatever the parse selected), each later one
    // from the item the one before found, wrapping around to the top as the search does.
    TreeItem from = 0;
    for (const QString& text : options.selects) {
        const std::string wanted = text.toStdString();
        const TreeStore& tree = frame.tree();
        TreeItem found = 0;
        for (TreeItem i = NextInPreOrder(tree, from); i; i = NextInPreOrder(tree, i)) {
            if (tree.GetItemText(i).find(wanted) != std::string::npos) {
                found = i;
                break;
            }
        }
        for (TreeItem i = NextInPreOrder(tree, 0); from && !found && i && i != from;
             i = NextInPreOrder(tree, i))
            if (tree.GetItemText(i).find(wanted) != std::string::npos) found = i;
        // A unit of a picture comes out as the command-line tool decodes it: the references
        // of its picture first.
        TreeItem picture = found;
        while (picture && KindOf(tree.GetItemData(picture)) != ItemKind::Picture)
            picture = tree.GetParentItem(picture);
        if (picture && picture != frame.dispatch().shownItem)
            frame.dispatch().DecodeReferencesOf(picture);
        if (!found || !view->SelectItem(found)) {
            std::fprintf(stderr, "--select: no item contains \"%s\"\n", wanted.c_str());
            return false;
        }
        from = found;
    }
    return true;
}

// --walk: Down pressed N times, each timed to the painted picture.
void RunWalk(CMainFrame& frame, const AutomationOptions& options) {
    if (options.walk <= 0) return;
    CSyntaxTree* view = frame.treeView();
    std::vector<double> times;
    view->setFocus();
    for (int i = 0; i < options.walk; ++i) {
        QElapsedTimer clock;
        clock.start();
        QKeyEvent down(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
        QApplication::sendEvent(view, &down);
        frame.rightPane()->viewport()->repaint();  // painted now, not later
        times.push_back(clock.nsecsElapsed() / 1e6);
    }
    std::sort(times.begin(), times.end());
    double sum = 0;
    for (double t : times) sum += t;
    std::fprintf(stderr, "walk: %zu key presses, mean %.1f ms, median %.1f ms, max %.1f ms\n",
                 times.size(), sum / static_cast<double>(times.size()), times[times.size() / 2],
                 times.back());
}

// --goto-picture; false when the stream has no such picture.
bool RunGoto(CMainFrame& frame, const AutomationOptions& options) {
    if (options.gotoPicture > 0) {
        if (frame.rightPane()->DialogShown() && !frame.WorkerBusy())
            frame.rightPane()->ShowDialog(false);
        if (!frame.GoToPicture(options.gotoPicture, false)) {
            std::fprintf(stderr, "--goto-picture: the stream has no picture %d\n",
                         options.gotoPicture);
            return false;
        }
    }
    return true;
}

// The display bar's and the menus' options, as the user would set them.
void ApplyDisplayOptions(CMainFrame& frame, const AutomationOptions& options) {
    CDisplayBar* bar = frame.displayBar();
    if (options.displayType >= 0) {
        bar->displayTypeCombo()->setCurrentIndex(options.displayType);
        frame.Execute(cmd::kDisplayType);
    }
    if (options.field >= 0) {
        bar->fieldOptionCombo()->setCurrentIndex(options.field);
        frame.Execute(cmd::kFieldOption);
    }
    if (options.colour >= 0) frame.Execute(cmd::kDisplayModes[options.colour]);
    if (options.mvs >= 0) {
        if (!bar->displayMvsBox()->isChecked()) {
            bar->displayMvsBox()->setChecked(true);
            frame.Execute(cmd::kDisplayMvs);
        }
        bar->mvTypeCombo()->setCurrentIndex(options.mvs);
        frame.Execute(cmd::kMvType);
    }
    if (options.grid && !bar->mbGridBox()->isChecked()) {
        bar->mbGridBox()->setChecked(true);
        frame.Execute(cmd::kMbGrid);
    }
}

// The picture pane's zoom, map, click and readout.
void ApplyPaneOptions(CMainFrame& frame, const AutomationOptions& options) {
    if (options.zoom >= 0) frame.rightPane()->SetZoom(options.zoom);
    if (options.overlay >= 0) {
        frame.SetMapKind(static_cast<MapKind>(options.overlay));
        frame.WaitForWorker();
    }
    if (options.click) {
        frame.ClickPicture(options.clickX, options.clickY);
        frame.WaitForWorker();
        SettleEvents();
    }
    if (options.chart || options.streamSummary) {
        frame.ShowStatsDocks(options.chart, options.streamSummary);
        SettleEvents();
    }
    if (options.chartClick > 0) {
        if (!frame.ClickChartPicture(static_cast<uint32_t>(options.chartClick)))
            std::fprintf(stderr, "--chart-click %d: no such picture in the chart\n",
                         options.chartClick);
        frame.WaitForWorker();
        SettleEvents();
    }
    if (options.problems) {
        frame.ShowProblems(true);
        SettleEvents();
    }
    if (options.problemClick > 0) {
        if (!frame.problemsPane()->ActivateRow(options.problemClick - 1))
            std::fprintf(stderr, "--problem-click %d: no such row\n", options.problemClick);
        frame.WaitForWorker();
        SettleEvents();
    }
    if (options.bytes || options.gotoOffset >= 0) frame.ShowBytesPane(true);
    if (options.gotoOffset >= 0) {
        frame.SelectItemAtByte(static_cast<uint64_t>(options.gotoOffset), 0);
        frame.WaitForWorker();
        SettleEvents();
    }
    if (options.hover) {
        // The sample is brought into view, as a user's pointer would be over it.
        frame.rightPane()->CentreOn(options.hoverX, options.hoverY);
        frame.HoverPicture(options.hoverX, options.hoverY);
    }
}

// Filters, then what goes out: export, saved file, screenshot, report. False when one fails.
bool RunOutputs(CMainFrame& frame, const AutomationOptions& options) {
    int code = 0;
    for (const QString& name : options.filters) {
        if (!frame.Execute(FilterCommand(name))) {
            std::fprintf(stderr, "--filter %s: no picture to filter\n", name.toLocal8Bit().data());
            code = 1;
        }
    }
    if (!options.exportKind.isEmpty()) {
        // The selection's export, as the popup menu's entry puts it on the clipboard.
        const int id = options.exportKind == "all"           ? cmd::tree::kExportAll
                       : options.exportKind == "non-virtual" ? cmd::tree::kExportNonVirtual
                       : options.exportKind == "ycbcr"       ? cmd::tree::kExportYCbCr
                                                             : cmd::tree::kExportItem;
        frame.lastExport.clear();
        frame.ExportCommand(id);
        std::fwrite(frame.lastExport.data(), 1, frame.lastExport.size(), stdout);
        std::fflush(stdout);
    }
    if (!options.saveKind.isEmpty()) {
        const QString path = options.savePath;
        const QString kind = options.saveKind;
        const int id = kind == "frame"    ? cmd::kSaveFrame
                       : kind == "top"    ? cmd::kSaveTopField
                       : kind == "bottom" ? cmd::kSaveBottomField
                       : kind == "big"    ? cmd::kSaveMbsBig
                       : kind == "small"  ? cmd::kSaveMbsSmall
                                          : cmd::kSaveSnapshot;
        frame.saveFile = [path] { return path; };
        if (!frame.Execute(id)) {
            std::fprintf(stderr, "--save %s: not available for what is shown\n",
                         kind.toLocal8Bit().data());
            code = 1;
        }
        frame.saveFile = nullptr;
    }
    if (!options.screenshot.isEmpty()) {
        SettleEvents();
        if (!frame.grab().save(options.screenshot)) {
            std::fprintf(stderr, "could not write %s\n", options.screenshot.toLocal8Bit().data());
            code = 1;
        }
    }
    if (options.report) {
        const std::string report = AutomationReport(frame);
        std::fwrite(report.data(), 1, report.size(), stdout);
        std::fflush(stdout);
    }
    return code == 0;
}

}  // namespace

int RunAutomation(CMainFrame& frame, const AutomationOptions& options) {
    if (options.quit) {
        // Nobody is there to answer: every message goes to stderr and takes its default.
        frame.host().automatic = true;
        frame.host().echo = true;
    }
    SettleEvents();
    if (!options.file.isEmpty() && !frame.OpenPath(options.file)) {
        SettleEvents();
        return frame.stream().fileItem && frame.stream().invalidFile ? 2 : 1;
    }
    RunParse(frame, options);
    int code = 0;
    if (options.decodeReferences >= 0) frame.SetDecodeReferences(options.decodeReferences == 1);
    if (!RunParseMbs(frame, options)) code = 1;
    if (!RunSelects(frame, options)) code = 1;
    RunWalk(frame, options);
    if (!RunGoto(frame, options)) code = 1;
    ApplyDisplayOptions(frame, options);
    ApplyPaneOptions(frame, options);
    if (!RunOutputs(frame, options)) code = 1;
    return code;
}

namespace {

std::string JsonString(const std::string& s) {
    std::string out = "\"";
    for (const char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

const char* KindName(uint32_t data) {
    switch (data) {
        case kind::kFile:
            return "file";
        case kind::kVideoRoot:
            return "video stream";
        case kind::kSequenceHeader:
            return "sequence header";
        case kind::kGop:
            return "gop";
        case kind::kPicture:
            return "picture";
        case kind::kPictureHeader:
            return "picture header";
        case kind::kSlice:
            return "slice";
        case kind::kMacroblock:
            return "macroblock";
        case kind::kSkippedMacroblock:
            return "skipped macroblock";
        case kind::kBlockY:
        case kind::kBlockCb:
        case kind::kBlockCr:
            return "block";
        case kind::kPesPacket:
            return "packet";
        default:
            return "item";
    }
}

}  // namespace

std::string AutomationReport(CMainFrame& frame) {
    const TreeStore& tree = frame.tree();
    const CStreamState& stream = frame.stream();
    const TreeItem selected = frame.treeView()->SelectedItem();
    const TreeItem picture = frame.parser().decoder.currentPicture;
    const std::vector<TreeItem> pictures = AllPictures(tree, stream);
    const auto at = std::find(pictures.begin(), pictures.end(), picture);
    const auto record = stream.pictureRecords.find(picture);
    static const char* const kTypes[5] = {"", "I", "P", "B", "D"};
    static const char* const kDisplayTypes[5] = {"auto", "raw", "diff0", "diff1", "null"};
    const int type = record == stream.pictureRecords.end() ? 0 : record->second.picture_coding_type;
    const int zoom = frame.rightPane()->zoom();
    std::string out = "{";
    out += "\"selected\": " + JsonString(selected ? tree.GetItemText(selected) : "");
    out += ", \"kind\": " + JsonString(selected ? KindName(tree.GetItemData(selected)) : "");
    // What the selected item stands for and where its bits lie, as tree --format json says.
    FieldName name;
    if (selected && FieldOf(tree, selected, name)) out += ", \"field\": " + JsonString(name.field);
    ItemFacts facts;
    if (selected && tree.GetItemSpan(selected, facts))
        out += ", \"offset\": " + std::to_string(facts.start / 8) +
               ", \"bit\": " + std::to_string(facts.start % 8) +
               ", \"bits\": " + std::to_string(facts.bits) +
               ", \"end\": " + std::to_string(facts.end);
    if (selected && tree.GetItemFacts(selected, facts) && facts.hasValue)
        out += ", \"value\": " + std::to_string(facts.value);
    out += ", \"picture\": " +
           std::to_string(at == pictures.end() ? 0 : static_cast<int>(at - pictures.begin()) + 1);
    out += ", \"pictureType\": " + JsonString(type >= 1 && type <= 4 ? kTypes[type] : "");
    out += ", \"displayType\": " +
           JsonString(kDisplayTypes[std::min<int>(frame.parser().decoder.displayType, 4)]);
    out += ", \"zoom\": " + JsonString(zoom == 0 ? "fit" : std::to_string(zoom));
    out += ", \"overlay\": " + JsonString(kMapScriptNames[static_cast<int>(frame.mapKind())]);
    out += ", \"decodeReferences\": " + std::string(frame.decodeReferences() ? "true" : "false");
    out += ", \"readout\": " + JsonString(frame.readout().toStdString());
    if (const BytesPane* bytes = frame.bytesPane(); frame.BytesPaneShown())
        out +=
            ", \"bytes\": {\"highlight\": " + JsonString(bytes->HighlightReport().toStdString()) +
            ", \"header\": " + JsonString(bytes->HeaderText().toStdString()) +
            ", \"strip\": " + (bytes->StripShown() ? "true" : "false") +
            ", \"showMs\": " + std::to_string(frame.lastBytesMs()) +
            ", \"lookupMs\": " + std::to_string(frame.lastByteLookupMs()) + "}";
    if (frame.ChartShown()) {
        const StreamChart* chart = frame.streamChart();
        char text[160];
        std::snprintf(text, sizeof text,
                      ", \"chart\": {\"pictures\": %zu, \"selected\": %u, \"displayOrder\": %s, "
                      "\"paintMs\": %.2f}",
                      chart->PictureCount(), chart->Selected(),
                      chart->DisplayOrder() ? "true" : "false", chart->lastPaintMs());
        out += text;
    }
    if (frame.ProblemsShown()) {
        const ProblemsPane* pane = frame.problemsPane();
        const Problem* at = pane->SelectedProblem();
        out += ", \"problems\": {\"count\": " + std::to_string(pane->ProblemCount()) +
               ", \"shown\": " + std::to_string(pane->VisibleCount()) +
               ", \"errors\": " + std::to_string(pane->ErrorCount()) +
               ", \"warnings\": " + std::to_string(pane->WarningCount()) +
               ", \"selected\": " + JsonString(at ? at->code : std::string()) + "}";
    }
    if (frame.SummaryShown())
        out += ", \"summary\": " + JsonString(SummaryText(frame.streamStats()));
    // The parse: none running, running, or paused at the offset it has read to.
    const CParseDlg* dialog = frame.parseDialog();
    out += std::string(", \"parse\": ") +
           (!frame.WorkerBusy()  ? "\"idle\""
            : dialog->IsPaused() ? "\"paused\""
                                 : "\"running\"") +
           ", \"parseOffset\": " + std::to_string(dialog->ProgressOffset());
    if (frame.StatsShown()) {
        // The last catching up of the figures with the parse, and how many came while it ran.
        char text[96];
        std::snprintf(text, sizeof text, ", \"statsMs\": %.1f, \"liveStatsRefreshes\": %d",
                      frame.lastStatsMs(), frame.liveStatsRefreshes());
        out += text;
    }
    out += ", \"time\": " + JsonString(frame.pictureTime().toStdString());
    // The cost of what is shown: the last selection's decode and a paint of the pane now.
    // The first paint of what is shown (as after a decode: the picture's image is made) and a
    // second (as a scroll or a zoom step repaints it).
    QElapsedTimer clock;
    clock.start();
    frame.rightPane()->viewport()->repaint();
    const double firstPaintMs = clock.nsecsElapsed() / 1e6;
    clock.restart();
    frame.rightPane()->viewport()->repaint();
    const double paintMs = clock.nsecsElapsed() / 1e6;
    // A screenful of tree rows, their texts made from the items' records as they are drawn.
    clock.restart();
    frame.treeView()->viewport()->repaint();
    const double treePaintMs = clock.nsecsElapsed() / 1e6;
    char figures[160];
    std::snprintf(figures, sizeof figures,
                  ", \"decodeMs\": %.1f, \"firstPaintMs\": %.1f, \"paintMs\": %.1f, "
                  "\"treePaintMs\": %.2f",
                  frame.lastDecodeMs(), firstPaintMs, paintMs, treePaintMs);
    out += figures;
    out += "}\n";
    return out;
}

}  // namespace bitloupe
