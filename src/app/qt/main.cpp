// Quorvane: compares and synchronises two registries, side by side.
#include <QApplication>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/qt/quorvane_app.h"

#ifndef QV_VERSION
#define QV_VERSION "unknown"
#endif

namespace {

constexpr const char* kUsage =
    "Usage: quorvane [OPTION]... [MASTER [SLAVE]]\n"
    "Compares two registries side by side and brings the Slave into line.\n"
    "\n"
    "With MASTER and SLAVE both sides open at once; with MASTER alone the Open\n"
    "dialog starts with the Master set to it. A side is one of:\n"
    "  local        this computer's registry\n"
    "  \\\\COMPUTER   another computer's registry, through its quorvane-regd\n"
    "               (NAME, NAME:PORT or [ADDRESS]:PORT; quote the backslashes)\n"
    "  smb://COMPUTER[:PORT]  a Windows computer's registry, through its Remote\n"
    "               Registry service (the logon is asked for in a dialog, or taken\n"
    "               from QUORVANE_SMB_USER and QUORVANE_SMB_PASSWORD_FILE)\n"
    "  FILE         a tree file (.qvf), a hive, a .reg file or a Wine registry\n"
    "               file, or a folder: a Windows installation or a Wine prefix\n"
    "               (write ./local for a file named local)\n"
    "\n"
    "  --help     show this text and exit\n"
    "  --version  show the version and exit\n"
    "\n"
    "For testing and documentation:\n"
    "  --select KEY       select KEY (HKEY_LOCAL_MACHINE\\SOFTWARE\\...) in both trees\n"
    "  --differences      list the differences of the selected keys (Search > Differences)\n"
    "  --screenshot FILE  save a picture of the window to FILE (PNG) and quit\n"
    "\n"
    "Qt's own options (-platform, -style, ...) are taken as well.\n";

}  // namespace

int main(int argc, char** argv) {
    // Answered before Qt starts, so that they work without a display.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0) break;
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::fputs("quorvane " QV_VERSION "\n", stdout);
            return 0;
        }
    }
    // A mistake is told without a display too: Qt would stop first, and hard.
    const std::vector<std::string> all(argv + 1, argv + argc);
    if (const qv::CommandLine early = qv::ParseCommandLine(qv::WithoutToolkitOptions(all)); !early.error.empty()) {
        std::fprintf(stderr, "quorvane: %s\nTry 'quorvane --help' for more information.\n", early.error.c_str());
        return 2;
    }
    QApplication qtApp(argc, argv);  // takes Qt's own options out of argv
    // Lets the desktop match the window to its menu entry (quorvane.desktop).
    QGuiApplication::setDesktopFileName(QStringLiteral("quorvane"));
    const qv::CommandLine commandLine = qv::ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    if (!commandLine.error.empty()) {
        std::fprintf(stderr, "quorvane: %s\nTry 'quorvane --help' for more information.\n",
                     commandLine.error.c_str());
        return 2;
    }
    qv::CQuorvaneApp app;
    app.InitInstance(true, commandLine);
    return QApplication::exec();
}
