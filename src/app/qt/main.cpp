// Quorvane: compares and synchronises two registries, side by side.
#include <QApplication>

#include <cstdio>
#include <cstring>

#include "app/qt/quorvane_app.h"

#ifndef QV_VERSION
#define QV_VERSION "unknown"
#endif

namespace {

constexpr const char* kUsage =
    "Usage: quorvane [MASTER [SLAVE]]\n"
    "Compares two registries side by side and brings the Slave into line.\n"
    "\n"
    "  --help     show this text and exit\n"
    "  --version  show the version and exit\n"
    "\n"
    "Qt's own options (-platform, -style, ...) are taken as well.\n";

}  // namespace

int main(int argc, char** argv) {
    // Answered before Qt starts, so that they work without a display.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::fputs("quorvane " QV_VERSION "\n", stdout);
            return 0;
        }
    }
    QApplication qtApp(argc, argv);  // takes Qt's own options
    qv::CQuorvaneApp app;
    app.InitInstance();
    return QApplication::exec();
}
