#include <iostream>
#include <memory>

#include "registry/registry_router.h"
#include "registry/store_registry.h"
#include "tools/reg_local.h"

namespace qv {

namespace {
std::unique_ptr<CStoreRegistry> g_store;
std::unique_ptr<CRegistryRouter> g_router;  // \\computer\... names reach quorvane-regd
}  // namespace

void PrepareConsole() {}

IRegistry* OpenThisComputer(std::string& error) {
    const std::string path = DefaultStorePath();
    if (path.empty()) {
        error = "there is no store path (set QUORVANE_REGISTRY or HOME)";
        return nullptr;
    }
    g_store = CStoreRegistry::Open(path, &error,
                                   [](const std::string& text) { std::cerr << "WARNING: " << text << "\n"; });
    if (!g_store) {
        error = path + ": " + error;
        return nullptr;
    }
    g_router = std::make_unique<CRegistryRouter>(*g_store);
    return g_router.get();
}

std::string ThisComputerFailure() { return g_store ? g_store->LastError() : std::string(); }

}  // namespace qv
