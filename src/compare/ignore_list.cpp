#include "compare/ignore_list.h"

#include <cstdlib>
#include <filesystem>

#include "files/file_names.h"
#include "files/stdio_file.h"

#include "model/key_node.h"

namespace qv {

namespace {

char Fold(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

// Short root names written out, so that patterns match the paths compared.
std::string LongRoots(std::string pattern) {
    static const char* const kShort[][2] = {{"HKLM", "HKEY_LOCAL_MACHINE"}, {"HKCU", "HKEY_CURRENT_USER"},
                                            {"HKCR", "HKEY_CLASSES_ROOT"},  {"HKU", "HKEY_USERS"},
                                            {"HKCC", "HKEY_CURRENT_CONFIG"}};
    const std::string_view first = std::string_view(pattern).substr(0, pattern.find('\\'));
    for (const auto& names : kShort)
        if (SameName(first, names[0])) return names[1] + pattern.substr(first.size());
    return pattern;
}

}  // namespace

std::string DefaultIgnoreListPath() {
#ifdef _WIN32
    const std::string roaming = EnvironmentUtf8("APPDATA");
    return roaming.empty() ? std::string() : roaming + "\\Quorvane\\ignore.txt";
#else
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && *config == '/')
        return std::string(config) + "/quorvane/ignore.txt";
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0')
        return std::string(home) + "/.config/quorvane/ignore.txt";
    return {};
#endif
}

bool WildcardMatch(std::string_view pattern, std::string_view text) {
    // Greedy with one point to go back to: linear for patterns of few stars.
    std::size_t p = 0, t = 0, star = std::string_view::npos, mark = 0;
    while (t < text.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || Fold(pattern[p]) == Fold(text[t]))) {
            ++p, ++t;
        } else if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            mark = t;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            t = ++mark;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

bool CIgnoreList::Load(std::string path, std::string& error) {
    if (path.empty()) path = DefaultIgnoreListPath();
    std::error_code missing;
    if (path.empty() || !std::filesystem::exists(PathFromUtf8(path), missing)) {
        *this = CIgnoreList();
        return true;
    }
    try {
        CStdioFile file(path, CStdioFile::modeRead | CStdioFile::typeBinary);
        std::string text, line;
        while (file.ReadString(line)) {
            text += line;
            text += '\n';
            if (text.size() > (std::size_t{1} << 24)) {
                error = path + ": the ignore list is over 16 MiB.";
                return false;
            }
        }
        if (!Parse(text, error)) {
            error = path + ", " + error + ".";
            return false;
        }
        return true;
    } catch (const CFileException& e) {
        error = e.GetErrorMessage().empty() ? "Cannot read " + path + "." : e.GetErrorMessage();
        return false;
    }
}

bool CIgnoreList::Save(const std::string& path, std::string& error) const {
    std::error_code ignored;
    std::filesystem::create_directories(PathFromUtf8(path).parent_path(), ignored);
    return ReplaceFileContents(path,
                               "# Left out of every compare: \"key PATTERN\" or \"value PATTERN\", * and ? as wildcards.\n" +
                                   Text(),
                               error);
}

bool CIgnoreList::Parse(std::string_view text, std::string& error) {
    CIgnoreList parsed;
    std::size_t lineNo = 0;
    while (!text.empty()) {
        ++lineNo;
        const std::size_t end = text.find('\n');
        const std::string_view line = Trim(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.empty() || line.front() == '#') continue;
        const std::size_t gap = line.find_first_of(" \t");
        const std::string_view word = line.substr(0, gap);
        const std::string_view pattern = gap == std::string_view::npos ? std::string_view() : Trim(line.substr(gap));
        if (pattern.empty() || !(SameName(word, "key") || SameName(word, "value"))) {
            error = "line " + std::to_string(lineNo) + ": \"key PATTERN\" or \"value PATTERN\" expected";
            return false;
        }
        if (SameName(word, "key")) parsed.AddKey(std::string(pattern));
        else parsed.AddValue(std::string(pattern));
    }
    *this = std::move(parsed);
    return true;
}

std::string CIgnoreList::Text() const {
    std::string out;
    for (const std::string& k : m_keys) out += "key " + k + "\n";
    for (const std::string& v : m_values) out += "value " + v + "\n";
    return out;
}

void CIgnoreList::AddKey(std::string pattern) {
    while (!pattern.empty() && pattern.back() == '\\') pattern.pop_back();
    if (!pattern.empty()) m_keys.push_back(LongRoots(std::move(pattern)));
}

void CIgnoreList::AddValue(std::string pattern) {
    if (pattern.empty()) return;
    m_values.push_back(pattern.find('\\') == std::string::npos ? std::move(pattern) : LongRoots(std::move(pattern)));
}

bool CIgnoreList::IgnoresKey(std::string_view path) const {
    for (const std::string& k : m_keys)
        if (WildcardMatch(k, path)) return true;
    return false;
}

bool CIgnoreList::IgnoresValue(std::string_view keyPath, std::string_view name) const {
    std::string full;
    for (const std::string& v : m_values) {
        if (v.find('\\') == std::string::npos) {
            if (WildcardMatch(v, name)) return true;
            continue;
        }
        if (full.empty()) full = std::string(keyPath) + '\\' + std::string(name);
        if (WildcardMatch(v, full)) return true;
    }
    return false;
}

}  // namespace qv
