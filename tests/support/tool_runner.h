// Runs one quorvane-reg command line on `registry` as this computer's
// registry, with no terminal; what it printed (output, then errors) goes to
// `out`. Returns the exit code.
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "tools/reg_commands.h"

namespace qv::testing {

inline int RunTool(IRegistry& registry, std::vector<std::string> args, std::string& out) {
    std::ostringstream o, e;
    struct : IConsoleInput {
        bool IsTerminal() const override { return false; }
        bool ReadLine(std::string&) override { return false; }
    } input;
    ToolContext context{o, e, input, [&registry](std::string&) -> IRegistry* { return &registry; }, {}};
    const int code = RunRegTool(args, context);
    out = o.str() + e.str();
    return code;
}

}  // namespace qv::testing
