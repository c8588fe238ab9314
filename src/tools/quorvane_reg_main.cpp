// quorvane-reg: reg.exe's sub-commands against this computer's registry store.
#include <unistd.h>

#include <exception>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "registry/registry_router.h"
#include "registry/store_registry.h"
#include "tools/reg_commands.h"

namespace {

class CStdinInput final : public qv::IConsoleInput {
public:
    bool IsTerminal() const override { return isatty(STDIN_FILENO) != 0; }
    bool ReadLine(std::string& line) override { return static_cast<bool>(std::getline(std::cin, line)); }
};

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    std::unique_ptr<qv::CStoreRegistry> store;
    std::unique_ptr<qv::CRegistryRouter> router;  // \\computer\... names reach quorvane-regd
    CStdinInput input;
    qv::ToolContext context{
        std::cout, std::cerr, input,
        [&store, &router](std::string& error) -> qv::IRegistry* {
            const std::string path = qv::DefaultStorePath();
            if (path.empty()) {
                error = "there is no store path (set QUORVANE_REGISTRY or HOME)";
                return nullptr;
            }
            store = qv::CStoreRegistry::Open(path, &error,
                                             [](const std::string& text) { std::cerr << "WARNING: " << text << "\n"; });
            if (!store) {
                error = path + ": " + error;
                return nullptr;
            }
            router = std::make_unique<qv::CRegistryRouter>(*store);
            return router.get();
        },
        [&store] { return store ? store->LastError() : std::string(); }};
    // Nothing may end the tool with an uncaught exception: say what went wrong.
    int code = 1;
    try {
        code = qv::RunRegTool(args, context);
    } catch (const std::exception& e) {
        std::cerr << "ERROR: " << e.what() << "\n";
    } catch (...) {
        std::cerr << "ERROR: an unexpected failure.\n";
    }
    std::cout.flush();
    return code;
}
