// This computer's registry as quorvane-reg reaches it, one file per
// platform: the store behind the router to quorvane-regd on Linux, the
// registry itself on Windows (advapi32 reaches other computers there).
#pragma once

#include <string>

#include "model/registry.h"

namespace qv {

// Makes the console show names in any script, before anything is written.
void PrepareConsole();

// Opened on first use and kept until the program ends; null with `error`.
IRegistry* OpenThisComputer(std::string& error);

// The back end's account of its last failure below the registry; may be empty.
std::string ThisComputerFailure();

}  // namespace qv
