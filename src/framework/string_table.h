// Texts by id, as the program's string table holds them.
#pragma once

#include <cstddef>
#include <string>

#include "res/templates.h"

namespace qv {

// The text with `id`; empty when the table has none.
std::string LoadString(UINT id);
// The part of a command string before "\n" (status prompt) and after it (tool tip).
std::string CommandPrompt(UINT id);
std::string CommandTip(UINT id);

}  // namespace qv
