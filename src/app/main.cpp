// Quorvane: compares and synchronises two registries, side by side.
#include <QApplication>

#include <memory>

#include "app/main_frame.h"
#include "app/qt_modal_ui.h"
#include "app/quorvane_doc.h"
#include "registry/store_registry.h"
#include "registry/unavailable_registry.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setOrganizationName("Quorvane");
    QApplication::setApplicationName("Quorvane");

    qv::CQtModalUI ui;

    // This computer's registry; without it, tree files still open.
    std::string error;
    std::unique_ptr<qv::IRegistry> registry = qv::CStoreRegistry::Open(qv::DefaultStorePath(), &error);
    if (!registry) {
        ui.MessageBox("This computer's registry store cannot be opened: " + error,
                      MB_OK | MB_ICONWARNING);
        registry = std::make_unique<qv::CUnavailableRegistry>();
    }

    qv::CQuorvaneDoc doc(*registry, ui);
    int result;
    {
        qv::CMainFrame frame(doc, ui);
        frame.show();
        result = QApplication::exec();
    }
    return result;
}
