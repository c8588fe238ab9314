// quorvane-reg: reg.exe's sub-commands against this computer's registry.
#include <unistd.h>

#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "tools/reg_commands.h"
#include "tools/reg_local.h"

namespace {

class CStdinInput final : public qv::IConsoleInput {
public:
    bool IsTerminal() const override { return isatty(STDIN_FILENO) != 0; }
    bool ReadLine(std::string& line) override { return static_cast<bool>(std::getline(std::cin, line)); }
};

}  // namespace

int main(int argc, char** argv) {
    qv::PrepareConsole();
    const std::vector<std::string> args(argv + 1, argv + argc);
    CStdinInput input;
    qv::ToolContext context{std::cout, std::cerr, input, qv::OpenThisComputer, qv::ThisComputerFailure};
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
