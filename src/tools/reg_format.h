// What quorvane-reg prints for "query" and "compare", in reg.exe's layout.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "tools/reg_access.h"

namespace qv {

// REG_SZ, REG_DWORD, ...; "REG_UNKNOWN" for numbers without a name.
std::string TypeName(DWORD type);

// The data as reg.exe prints it: text up to its terminator, multi-strings
// joined by "\0", numbers as 0x hex, everything else as upper-case hex bytes.
std::string DataText(const RegValue& value);

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

enum class CompareOutput { kDifferences, kAll, kSame, kNone };

struct CompareOptions {
    bool recurse = false;
    bool oneValue = false;  // only the value `valueName` ("" for the default)
    std::string valueName;
    CompareOutput output = CompareOutput::kDifferences;
};

// Compares two keys as the program does (names exactly, data byte for byte)
// and appends a line per difference or equal item, as `options.output`
// asks: "< " only or different in the first, "> " in the second, "= " equal,
// then "Key: name" or "Value: key  name  TYPE  data". Returns true when
// nothing differs.
bool CompareTrees(const RegTree& first, const std::string& firstName, const RegTree& second,
                  const std::string& secondName, const CompareOptions& options, std::string& out);

}  // namespace qv
