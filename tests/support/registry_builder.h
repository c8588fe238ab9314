// Filling a registry for tests, through any IRegistry, from the body of a
// REGEDIT4 file (the product's own .reg reader takes it):
//
//   [HKLM\Software\A]          a key, created with its missing parents
//   "Title"="x y"              its values: text, dword:1d, hex:00,01,
//   @="default"                hex(N):.. for any other type
#pragma once

#include <string>
#include <string_view>

#include "model/registry.h"

namespace qv {

// Creates the keys and values in order. Returns the first failing call's
// status (ERROR_INVALID_PARAMETER for a mistake in the text) with the reason
// in `*error`. Every handle it opens is closed again.
LONG BuildRegistry(IRegistry& registry, std::string_view text, std::string* error = nullptr);

}  // namespace qv
