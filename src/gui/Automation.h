// Options of the desktop application for scripts, documentation and tests: each does what the
// matching command does, in this order, without dialogs.
#pragma once

#include <QString>
#include <QStringList>
#include <string>

namespace bitloupe {

class CMainFrame;

struct AutomationOptions {
    QString file;
    QString parse;     // video, ps, both
    int parseMbs = 0;  // "Parse MBs in Picture" on picture N (from 1, stream order), 0 none
    // Pauses --parse (as the Pause button does) once it has read this many bytes, -1 never: the
    // options after it see the parse as it stands then.
    int64_t pauseAt = -1;
    QStringList selects;
    // Applied after --select, in this order, as the bar and the menus would.
    int displayType = -1;  // 0 auto .. 4 null
    int field = -1;        // 0 frame, 1 top, 2 bottom
    int colour = -1;       // 0 normal .. 9 cyan
    int mvs = -1;          // the MV type box's index; switches "Display MVs" on
    bool grid = false;
    QStringList filters;
    QString exportKind;  // all, non-virtual, ycbcr, item: printed on stdout
    QString saveKind;    // frame, top, bottom, big, small, snapshot
    QString savePath;
    QString screenshot;
    // Measures the interface while --parse runs (a 10 ms timer and how late it fires), prints
    // the figures on stderr and writes the whole tree to this file as bitloupe-cli prints it.
    QString probe;
    // Presses Down this many times in the tree after --select (auto-picture mode steps from
    // picture to picture) and prints the time from each key press to the painted picture.
    int walk = 0;
    // The picture pane's options, carried out after the display options in this order.
    int decodeReferences = -1;  // 0 off, 1 on, -1 as remembered (before --select)
    int gotoPicture = 0;        // picture N in stream order (after --select and --walk)
    int zoom = -1;              // 0 fit, else 1..32
    int overlay = -1;           // MapKind
    bool hover = false;
    int hoverX = 0, hoverY = 0;
    bool click = false;
    int clickX = 0, clickY = 0;
    // The bytes pane: shown, and a click on the byte at this offset (after the pane options).
    bool bytes = false;
    int64_t gotoOffset = -1;
    // The stream chart (and a click on picture N's bar, stream order) and the summary.
    bool chart = false;
    int chartClick = 0;
    bool streamSummary = false;
    // The problems dock, and a click on its row N (from 1, as listed).
    bool problems = false;
    int problemClick = 0;
    bool report = false;  // one JSON object on stdout after the last action
    bool quit = false;
    bool help = false;  // prints the usage and ends
};

// The --report object: the selection, the shown picture, the display type, zoom, overlay and
// the status bar's readout.
std::string AutomationReport(CMainFrame& frame);

extern const char* const kAutomationUsage;

// The command of a --filter name (negative, median, vflip, restore ...), 0 for none, and the
// names, for messages.
int FilterCommand(const QString& name);
std::string FilterNames();

bool ParseAutomationOptions(const QStringList& arguments, AutomationOptions* options,
                            std::string* error);

// Carries the options out on a shown main window; returns the exit code for --quit: 2 when the
// file was refused, 1 when it could not be opened, a --select found nothing or the screenshot
// could not be written, else 0.
int RunAutomation(CMainFrame& frame, const AutomationOptions& options);

}  // namespace bitloupe
