// Filling a registry for tests, through any IRegistry. One item a line:
//
//   HKLM\Software\A          a key, created with its missing parents; the root
//                            long or short (HKCR, HKCU, HKLM, HKU, HKCC), or
//                            none for a path below `base`
//     Title = sz:x y         indented: a value of the key above, NAME = TYPE:DATA
//     @ = sz:default         @ is the unnamed value
//
// Types: sz:TEXT and expand_sz:TEXT (the rest of the line, stored with its
// zero), dword:N and qword:N (decimal, or hexadecimal after 0x), hex:00,01,ff
// (REG_BINARY), multi_sz:"a","b" (no escapes).
#pragma once

#include <string>
#include <string_view>

#include "model/registry.h"

namespace qv {

// Creates the text's keys and values in order. Returns the first failing
// call's status (ERROR_INVALID_PARAMETER for a mistake in the text), with
// "line N: ..." in `*error`. Every handle it opens is closed again.
LONG BuildRegistry(IRegistry& registry, std::string_view text, HKEY base = nullptr,
                   std::string* error = nullptr);

}  // namespace qv
