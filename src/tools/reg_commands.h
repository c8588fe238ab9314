// The sub-commands of quorvane-reg, run against any registry with the
// console passed in, so tests drive them without a process.
#pragma once

#include <functional>
#include <ostream>
#include <span>
#include <string>

#include "model/registry.h"

namespace qv {

class IConsoleInput {
public:
    virtual ~IConsoleInput() = default;
    // Questions are only asked on a terminal; elsewhere the command refuses.
    virtual bool IsTerminal() const = 0;
    // The next answer line; false at the end of the input.
    virtual bool ReadLine(std::string& line) = 0;
};

struct ToolContext {
    std::ostream& out;
    std::ostream& err;
    IConsoleInput& input;
    // This computer's registry, opened on first use: null with a reason in
    // `error` when it cannot be opened.
    std::function<IRegistry*(std::string& error)> openRegistry;
    // The back end's own account of its last failure below the registry
    // (a damaged or full file); may be empty.
    std::function<std::string()> failureDetail;
};

// Runs one command line (without the program name). Returns the exit code:
// 0 success (and "compare" identical), 1 failure, 2 "compare" different.
int RunRegTool(std::span<const std::string> args, ToolContext& context);

}  // namespace qv
