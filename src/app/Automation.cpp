#include "app/Automation.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPixmap>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <vector>

#include "treeview/Export.h"
#include "treeview/SyntaxTreeModel.h"

#include "app/MainFrame.h"
#include "app/QtHost.h"
#include "engine/ParseDlg.h"
#include "treeview/SyntaxTree.h"

namespace bitloupe {

const char* const kAutomationUsage =
    "usage: bitloupe [FILE] [--parse video|ps|both] [--select TEXT]... [--screenshot OUT.png] "
    "[--probe TREE.txt] [--quit]\n";

bool ParseAutomationOptions(const QStringList& arguments, AutomationOptions* options,
                            std::string* error) {
    for (int i = 1; i < arguments.size(); ++i) {
        const QString& a = arguments[i];
        auto value = [&](QString* out) {
            if (i + 1 >= arguments.size()) {
                *error = "missing value after " + a.toStdString();
                return false;
            }
            *out = arguments[++i];
            return true;
        };
        if (a == "--parse") {
            if (!value(&options->parse)) return false;
            if (options->parse != "video" && options->parse != "ps" && options->parse != "both") {
                *error = "--parse takes video, ps or both";
                return false;
            }
        } else if (a == "--select") {
            QString text;
            if (!value(&text)) return false;
            options->selects << text;
        } else if (a == "--screenshot") {
            if (!value(&options->screenshot)) return false;
        } else if (a == "--probe") {
            if (!value(&options->probe)) return false;
        } else if (a == "--quit") {
            options->quit = true;
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
    if (!options.parse.isEmpty() && frame.fileOpen()) {
        CParseDlg* dialog = frame.parseDialog();
        const int mode = options.parse == "ps" ? kModeProgramStreamOnly
                         : options.parse == "both" ? kModeBoth
                                                   : kModeVideoOnly;
        dialog->modeRadio(mode)->setChecked(true);
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
                         parsed, shown - parsed, frame.tree().ItemCount(), late.size(), worst,
                         p99);
            std::ofstream out(options.probe.toLocal8Bit().toStdString(), std::ios::binary);
            const TreeStore& tree = frame.tree();
            for (TreeItem r = tree.GetChildItem(kTreeRoot); r; r = tree.GetNextSiblingItem(r))
                WriteBranch(out, tree, r, ExportFilter::All, "\n");
        }
    }
    int code = 0;
    CSyntaxTree* view = frame.treeView();
    for (const QString& text : options.selects) {
        const std::string wanted = text.toStdString();
        const TreeStore& tree = frame.tree();
        TreeItem found = 0;
        for (TreeItem i = NextInPreOrder(tree, view->SelectedItem()); i;
             i = NextInPreOrder(tree, i)) {
            if (tree.GetItemText(i).find(wanted) != std::string::npos) {
                found = i;
                break;
            }
        }
        if (!found || !view->SelectItem(found)) {
            std::fprintf(stderr, "--select: no item after the selection contains \"%s\"\n",
                         wanted.c_str());
            code = 1;
            break;
        }
    }
    if (!options.screenshot.isEmpty()) {
        SettleEvents();
        if (!frame.grab().save(options.screenshot)) {
            std::fprintf(stderr, "could not write %s\n", options.screenshot.toLocal8Bit().data());
            code = 1;
        }
    }
    return code;
}

}  // namespace bitloupe
