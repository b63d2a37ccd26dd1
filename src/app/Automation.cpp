#include "app/Automation.h"

#include <QApplication>
#include <QPixmap>
#include <cstdio>

#include "app/MainFrame.h"
#include "app/QtHost.h"
#include "engine/ParseDlg.h"
#include "treeview/SyntaxTree.h"

namespace bitloupe {

const char* const kAutomationUsage =
    "usage: bitloupe [FILE] [--parse video|ps|both] [--select TEXT]... [--screenshot OUT.png] "
    "[--quit]\n";

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
        dialog->ClickParse();
        SettleEvents();
        frame.WaitForWorker();
        while (frame.model()->HasPending()) frame.Tick();
        frame.Tick();
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
