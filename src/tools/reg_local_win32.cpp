#include "registry/win32_registry.h"
#include "tools/reg_local.h"

namespace qv {

// The program's manifest makes UTF-8 the code page of every ...A call (the
// registry's, the command line's); the console is told to show it as such.
void PrepareConsole() { ::SetConsoleOutputCP(CP_UTF8); }

IRegistry* OpenThisComputer(std::string&) {
    static CWin32Registry registry;
    return &registry;
}

std::string ThisComputerFailure() { return {}; }

}  // namespace qv
