// What every compare leaves out: keys (with everything below them) and values
// matched by patterns with * (any run of characters, backslashes too) and ?
// (one character), ignoring case as the registry does. Kept as a text file
// of one pattern per line:
//   key   HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\RecentDocs
//   value MRUList*
//   value HKEY_LOCAL_MACHINE\SYSTEM\*\LastUpdate
// A value pattern without a backslash is matched against value names alone,
// one with a backslash against "key path\value name". Key paths start at the
// root key's long name; HKLM, HKCU, HKCR, HKU and HKCC are taken for them.
// Empty lines and lines starting with '#' are skipped.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qv {

bool WildcardMatch(std::string_view pattern, std::string_view text);

// Where the program keeps its ignore list: $XDG_CONFIG_HOME/quorvane/ignore.txt
// (~/.config/...), on Windows %APPDATA%\Quorvane\ignore.txt; empty when
// neither variable is set.
std::string DefaultIgnoreListPath();

class CIgnoreList {
public:
    // Reads the list kept at `path` (DefaultIgnoreListPath() when empty);
    // an absent file is an empty list. False with the reason, naming the
    // file, when it cannot be read or a line is wrong.
    bool Load(std::string path, std::string& error);
    // Replaces the file at `path` with Text(), through a temporary file.
    bool Save(const std::string& path, std::string& error) const;

    // Reads the list's text; false with "line N: reason" on a line that is
    // neither a key nor a value pattern.
    bool Parse(std::string_view text, std::string& error);
    std::string Text() const;

    void AddKey(std::string pattern);
    void AddValue(std::string pattern);
    bool Empty() const { return m_keys.empty() && m_values.empty(); }

    // `path` from the root key's long name, "HKEY_LOCAL_MACHINE\SOFTWARE\...".
    bool IgnoresKey(std::string_view path) const;
    bool IgnoresValue(std::string_view keyPath, std::string_view name) const;

    const std::vector<std::string>& Keys() const { return m_keys; }
    const std::vector<std::string>& Values() const { return m_values; }

private:
    std::vector<std::string> m_keys;
    std::vector<std::string> m_values;
};

}  // namespace qv
