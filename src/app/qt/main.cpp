// Quorvane: compares and synchronises two registries, side by side.
#include <QApplication>

#include "app/qt/quorvane_app.h"

int main(int argc, char** argv) {
    QApplication qtApp(argc, argv);  // takes Qt's own options; the program has none
    qv::CQuorvaneApp app;
    app.InitInstance();
    return QApplication::exec();
}
