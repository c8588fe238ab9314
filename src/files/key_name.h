// Key names as people type them and .reg files hold them:
// [\\computer\]ROOT[\path], with long or short root names in any case.
#pragma once

#include <string>
#include <string_view>

#include "model/registry_types.h"

namespace qv {

struct RegKeyName {
    std::string source;    // a file that holds a registry (FILE::KEY); empty: none
    std::string computer;  // empty: this computer
    HKEY root = nullptr;
    std::string rootName;  // long form: HKEY_LOCAL_MACHINE, ...
    std::string path;      // below the root, without outer backslashes

    // "ROOT\path", as keys are printed and written to .reg files.
    std::string Full() const;
};

// Reads [\\computer\]ROOT[\path]. Root names are long or short, in any case.
// A Windows computer's name (smb://host) may also come without the
// backslashes before it.
bool ParseKeyName(std::string_view text, RegKeyName& key, bool allowComputer = true);

// Long root name for a short or long one in any case; null when unknown.
const char* LongRootName(std::string_view name, HKEY* handle = nullptr);

std::string JoinKey(std::string_view parent, std::string_view child);

}  // namespace qv
