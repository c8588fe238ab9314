// Filling a registry for tests, through any IRegistry.
//
// The text form, one item a line:
//
//   # comment (also ';'); blank lines are skipped
//   HKEY_LOCAL_MACHINE\Software\A        a key: created with its missing parents,
//                                        even when no value follows. Roots may
//                                        be short: HKCR, HKCU, HKLM, HKU, HKCC.
//                                        Without a root the path is below the
//                                        base key given to BuildRegistry.
//     Title = sz:x y                     indented: a value of the key above,
//                                        NAME = TYPE:DATA
//     @ = sz:the default value           @ is the unnamed value
//     "a = b" = dword:1                  quoted names for '=', '"', '@', '#', ';'
//                                        or outer spaces; \" and \\ inside
//
// Types and their data:
//   sz:TEXT, expand_sz:TEXT   the rest of the line as it stands (no escapes),
//                             stored with a terminating zero
//   multi_sz:"a","b c"        quoted items with \" and \\; each stored with
//                             its zero, then one more zero. "multi_sz:" alone
//                             is the empty list (a single zero)
//   dword:N, qword:N          decimal, or hexadecimal after 0x; little-endian
//   hex:00,01,ff              bytes as REG_BINARY; binary: is the same, and
//   hex(N):..                 gives type N (decimal). Empty after ':' is no data
#pragma once

#include <string>
#include <string_view>

#include "model/registry.h"

namespace qv {

// Reads the text, then creates its keys and values in order. Returns the
// first failing call's status (ERROR_INVALID_PARAMETER for a mistake in the
// text, before anything is written), with a reason in `*error`. Every handle
// it opens is closed again.
LONG BuildRegistry(IRegistry& registry, std::string_view text, HKEY base = nullptr,
                   std::string* error = nullptr);

}  // namespace qv
