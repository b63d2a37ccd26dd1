// The desktop application: the main window, and a few options for scripts, documentation and
// tests that do what the matching commands do, without dialogs:
//
//   bitloupe [FILE] [--parse video|ps|both] [--select TEXT]... [--screenshot OUT.png] [--quit]
//   bitloupe --help   (every option)
#include <QApplication>
#include <QScreen>
#include <QTimer>
#include <cstdio>
#include <cstring>

#include "gui/Automation.h"
#include "gui/MainFrame.h"

int main(int argc, char** argv) {
    // --help needs no display.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(bitloupe::kAutomationUsage, stdout);
            return 0;
        }
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName("Bitloupe");
    QApplication::setApplicationVersion(BITLOUPE_VERSION);
    QApplication::setDesktopFileName("bitloupe");

    bitloupe::AutomationOptions options;
    std::string error;
    if (!bitloupe::ParseAutomationOptions(QApplication::arguments(), &options, &error)) {
        std::fprintf(stderr, "%s\n%s", error.c_str(), bitloupe::kAutomationUsage);
        return 1;
    }
    // What the user chose is remembered between runs; a script starts from the defaults.
    if (!options.quit) QApplication::setOrganizationName("Bitloupe");
    bitloupe::CMainFrame frame;
    // Maximized; the geometry also fills the screen where no window manager maximizes.
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        frame.setGeometry(screen->availableGeometry());
    if (!options.quit) frame.LoadSettings();
    frame.showMaximized();
    int exitCode = 0;
    QTimer::singleShot(0, &frame, [&] {
        exitCode = bitloupe::RunAutomation(frame, options);
        if (options.quit) QApplication::exit(exitCode);
    });
    const int rc = app.exec();
    return options.quit ? exitCode : rc;
}
