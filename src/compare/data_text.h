// A value's data as a person reads it, whatever its type: hex dumps for
// bytes, a line per string, numbers in hex and decimal, expandable strings
// with what they expand to here; and both sides' data of a difference.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "model/key_node.h"

namespace qv {

// An environment variable's value, or nullopt when it is not set.
using EnvironmentLookup = std::function<std::optional<std::string>(const std::string& name)>;
// This process's environment.
EnvironmentLookup ProcessEnvironment();

// `text` with each %NAME% whose variable is set replaced by its value; the
// rest stays as it stands, as Windows leaves unknown names.
std::string ExpandEnvironment(std::string_view text, const EnvironmentLookup& env);

// Lines of 16 bytes: the offset, the bytes in hex (two groups of eight), the
// bytes as characters ('.' for what does not print). The byte at `mark`, if
// there is one, is bracketed.
std::string HexDump(std::string_view data, std::size_t mark = std::string_view::npos);

// Whether ReadableData shows these bytes as a hex dump.
bool ShownAsDump(DWORD type, std::size_t size);

// The data in full: text, one string per line, "0x… (decimal)", a hex dump;
// "(no data)" for none. An expandable string gets a second line with what it
// expands to through `env`, when that is something else.
std::string ReadableData(DWORD type, std::string_view data, const EnvironmentLookup& env);

// "REG_BINARY, 20 bytes".
std::string TypeAndSize(DWORD type, std::size_t size);

// ReadableData for a tooltip: of the first `limit` bytes only, with how many
// there are in all when that is more.
std::string DataTip(DWORD type, std::string_view data, const EnvironmentLookup& env, std::size_t limit = 512);

// The .reg line that sets the value (see WriteRegValueLine).
bool ValueRegLine(const ValueEntry& value, const std::string& keyName, std::string& line, std::string& error);

// Both sides' data of one value in full, Master first, each under a heading
// with its type and size ("(none)" for a missing side); two hex dumps have
// their first differing byte bracketed and named.
std::string BothSidesText(const ValueEntry* master, const ValueEntry* slave, const EnvironmentLookup& env);

}  // namespace qv
