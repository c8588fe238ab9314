// What quorvane-reg prints for "query" and "compare", in reg.exe's layout.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "compare/diff_output.h"
#include "tools/reg_access.h"

namespace qv {

// "    name    TYPE    data", the unnamed value called "(Default)".
std::string QueryValueLine(const RegValue& value);

// A key as "query" lists it: its name, its values, an empty line after the
// values, then (without `recurse`) its subkeys' names, or (with `recurse`)
// each subkey listed the same way, depth first.
void FormatQuery(const RegTree& node, const std::string& fullName, bool recurse, std::string& out);

// The keys of the subtree (only `node` without `recurse`) that hold a value
// named `name` (ignoring case; "" for the default value): each key's name,
// the value, an empty line. Returns the number of matches.
std::size_t FormatValueSearch(const RegTree& node, const std::string& fullName, std::string_view name,
                              bool recurse, std::string& out);

}  // namespace qv
