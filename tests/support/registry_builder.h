// Filling a registry for tests and benchmarks, through any IRegistry.
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

#include <cstddef>
#include <cstdint>
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

// A large tree for benchmarks. `keys` keys go below root\path, breadth
// first: each key takes `fanOut` subkeys before the next one does, and no
// key is deeper than `depth` levels below path; once every key above the
// last level is full, the keys just above the last level take the rest in
// turn. `values` values are dealt round the keys (all types, mostly short,
// now and then a few kilobytes). The same options always give the same tree.
struct SyntheticTreeOptions {
    HKEY root = HKEY_LOCAL_MACHINE;
    std::string path = "Software\\Synthetic";
    std::size_t keys = 1000;
    std::size_t depth = 4;
    std::size_t fanOut = 10;
    std::size_t values = 5000;
    std::uint32_t seed = 1;
};

struct SyntheticTreeStats {
    std::size_t keys = 0;
    std::size_t values = 0;
    std::size_t dataBytes = 0;
    std::size_t maxDepth = 0;
};

// Writes the tree, as one transaction per many thousand calls when the
// back end offers batches (the store), else call by call.
LONG GenerateSyntheticTree(IRegistry& registry, const SyntheticTreeOptions& options,
                           SyntheticTreeStats* stats = nullptr);

}  // namespace qv
