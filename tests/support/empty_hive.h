// An empty hive file made from scratch, as Windows lays one out: the base
// block with its checksum, one "hbin" page holding the root key's "nk" cell
// and the "sk" cell of its security descriptor. Tests and benchmarks fill it
// through hivex.
#pragma once

#include <string>

namespace qv::testing {

// The bytes of an empty hive whose root key is called `rootName`.
std::string EmptyHive(const std::string& rootName = "ROOT");

// The same with `subkeys` empty subkeys of the root, "k000000" on, in lists
// of a thousand under one index: wider than hivex lists past 70,000.
std::string HiveWithSubkeys(std::size_t subkeys, const std::string& rootName = "ROOT");

// Writes EmptyHive() to `path`; false when the file cannot be written.
bool WriteEmptyHive(const std::string& path, const std::string& rootName = "ROOT");

}  // namespace qv::testing
