// Command-line vocabulary of quorvane-reg: key names as administrators type
// them, switches in reg.exe's manner, data given to "add", usage texts.
#pragma once

#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "files/key_name.h"
#include "model/key_node.h"
#include "model/registry_types.h"

namespace qv {

// ASCII letters compare without case, as the registry compares names.
inline bool NamesEqual(std::string_view a, std::string_view b) { return SameName(a, b); }


struct SwitchDef {
    const char* name;  // lower case, without the leading '/' or '-'
    bool takesArgument;
};

struct ParsedArgs {
    std::vector<std::string> positional;
    std::map<std::string, std::string> switches;  // by lower-case name
    bool help = false;

    bool Has(const std::string& name) const { return switches.count(name) != 0; }
    std::string Get(const std::string& name) const;
};

// Sorts `args` into switches and positional arguments. Only switches named in
// `known` are switches (also "/?"); anything else is positional, so file
// paths starting with '/' stay paths. The argument of a switch is the next
// word, whatever it looks like. False with a reason on a repeated switch or
// a missing argument.
bool ParseArguments(std::span<const std::string> args, std::span<const SwitchDef> known,
                    ParsedArgs& out, std::string& error);

// REG_SZ, REG_DWORD, ... as "add /t" takes them.
bool ParseAddType(std::string_view text, DWORD& type);

// Registry bytes for "add /d": text types with their terminating zero,
// numbers decimal or 0x-hexadecimal, binary as hex digits, multi-strings
// split at `separator` ("\0" by default).
bool MakeAddData(DWORD type, std::string_view text, std::string_view separator, std::string& data,
                 std::string& error);

// The usage text for one sub-command ("" or unknown: the overview).
std::string UsageText(std::string_view command);

}  // namespace qv
