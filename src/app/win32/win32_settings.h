// The program's settings in the registry itself, under
// HKEY_CURRENT_USER\Software\Quorvane: one subkey per section ("Window",
// "Remote", "Recent File List"), one value per setting. Nothing is cached:
// every read goes to the registry, every write is there at once.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qv {

class CWin32Settings {
public:
    // `key` below HKEY_CURRENT_USER; tests give one of their own.
    explicit CWin32Settings(std::string key = "Software\\Quorvane");

    const std::string& Key() const { return m_key; }

    // A REG_SZ value; `fallback` when it is missing or of another type.
    std::string GetString(const std::string& section, const std::string& name, const std::string& fallback = {}) const;
    void SetString(const std::string& section, const std::string& name, const std::string& value);
    // A REG_DWORD value, read as a signed number.
    std::optional<int> GetInt(const std::string& section, const std::string& name) const;
    void SetInt(const std::string& section, const std::string& name, int value);
    // A REG_MULTI_SZ value (empty strings cannot be kept in one).
    std::vector<std::string> GetList(const std::string& section, const std::string& name) const;
    void SetList(const std::string& section, const std::string& name, const std::vector<std::string>& list);
    void Remove(const std::string& section, const std::string& name);

private:
    std::string m_key;
};

// The files opened last, newest first, under "Recent File List" as File1..FileN.
class CRecentFileList {
public:
    explicit CRecentFileList(CWin32Settings& settings, int size = 4) : m_settings(settings), m_nSize(size) {}
    // Puts `path` first (moving it up when listed; the oldest beyond the size falls off).
    void Add(const std::string& path);
    std::vector<std::string> List() const;
    int Size() const { return m_nSize; }

private:
    CWin32Settings& m_settings;
    int m_nSize;
};

}  // namespace qv
