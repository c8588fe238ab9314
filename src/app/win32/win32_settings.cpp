#include "app/win32/win32_settings.h"

#include <algorithm>

#include "framework/win32/win32_api.h"

namespace qv {

namespace {

// The section's key, opened for reading or created for writing; closed on scope exit.
class CSectionKey {
public:
    CSectionKey(const std::string& key, const std::string& section, bool write) {
        const std::wstring path = Widen(key + "\\" + section);
        const LONG status = write ? RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE,
                                                    nullptr, &m_key, nullptr)
                                  : RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &m_key);
        if (status != ERROR_SUCCESS) m_key = nullptr;
    }
    ~CSectionKey() {
        if (m_key != nullptr) RegCloseKey(m_key);
    }
    CSectionKey(const CSectionKey&) = delete;
    CSectionKey& operator=(const CSectionKey&) = delete;

    // The value's bytes when it is of `type`.
    std::optional<std::wstring> Read(const std::string& name, DWORD type) const {
        if (m_key == nullptr) return std::nullopt;
        const std::wstring wide = Widen(name);
        DWORD actual = 0, size = 0;
        if (RegQueryValueExW(m_key, wide.c_str(), nullptr, &actual, nullptr, &size) != ERROR_SUCCESS || actual != type)
            return std::nullopt;
        std::wstring data(size / sizeof(wchar_t) + 1, L'\0');
        size = static_cast<DWORD>(data.size() * sizeof(wchar_t));
        if (RegQueryValueExW(m_key, wide.c_str(), nullptr, &actual, reinterpret_cast<BYTE*>(data.data()), &size) !=
            ERROR_SUCCESS)
            return std::nullopt;
        data.resize(size / sizeof(wchar_t));
        return data;
    }
    void Write(const std::string& name, DWORD type, const void* data, std::size_t size) {
        if (m_key != nullptr)
            RegSetValueExW(m_key, Widen(name).c_str(), 0, type, static_cast<const BYTE*>(data), static_cast<DWORD>(size));
    }
    HKEY Handle() const { return m_key; }

private:
    HKEY m_key = nullptr;
};

}  // namespace

CWin32Settings::CWin32Settings(std::string key) : m_key(std::move(key)) {}

std::string CWin32Settings::GetString(const std::string& section, const std::string& name,
                                      const std::string& fallback) const {
    auto data = CSectionKey(m_key, section, false).Read(name, REG_SZ);
    if (!data) return fallback;
    // Stored with its terminating NUL, or without one by another writer.
    while (!data->empty() && data->back() == L'\0') data->pop_back();
    return Narrow(*data);
}

void CWin32Settings::SetString(const std::string& section, const std::string& name, const std::string& value) {
    const std::wstring wide = Widen(value);
    CSectionKey(m_key, section, true).Write(name, REG_SZ, wide.c_str(), (wide.size() + 1) * sizeof(wchar_t));
}

std::optional<int> CWin32Settings::GetInt(const std::string& section, const std::string& name) const {
    CSectionKey key(m_key, section, false);
    if (key.Handle() == nullptr) return std::nullopt;
    DWORD type = 0, value = 0, size = sizeof(value);
    if (RegQueryValueExW(key.Handle(), Widen(name).c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
            ERROR_SUCCESS ||
        type != REG_DWORD)
        return std::nullopt;
    return static_cast<int>(value);
}

void CWin32Settings::SetInt(const std::string& section, const std::string& name, int value) {
    const DWORD data = static_cast<DWORD>(value);
    CSectionKey(m_key, section, true).Write(name, REG_DWORD, &data, sizeof(data));
}

std::vector<std::string> CWin32Settings::GetList(const std::string& section, const std::string& name) const {
    std::vector<std::string> list;
    const auto data = CSectionKey(m_key, section, false).Read(name, REG_MULTI_SZ);
    if (!data) return list;
    std::size_t start = 0;
    while (start < data->size()) {
        const std::size_t end = std::min(data->find(L'\0', start), data->size());
        if (end > start) list.push_back(Narrow(std::wstring_view(*data).substr(start, end - start)));
        start = end + 1;
    }
    return list;
}

void CWin32Settings::SetList(const std::string& section, const std::string& name, const std::vector<std::string>& list) {
    std::wstring data;
    for (const std::string& item : list) {
        if (item.empty()) continue;
        data += Widen(item);
        data += L'\0';
    }
    data += L'\0';
    CSectionKey(m_key, section, true).Write(name, REG_MULTI_SZ, data.c_str(), data.size() * sizeof(wchar_t));
}

void CWin32Settings::Remove(const std::string& section, const std::string& name) {
    CSectionKey key(m_key, section, true);
    if (key.Handle() != nullptr) RegDeleteValueW(key.Handle(), Widen(name).c_str());
}

namespace {
const std::string kRecent = "Recent File List";
std::string FileKey(int index) { return "File" + std::to_string(index + 1); }
}  // namespace

std::vector<std::string> CRecentFileList::List() const {
    std::vector<std::string> list;
    for (int i = 0; i < m_nSize; ++i)
        if (std::string path = m_settings.GetString(kRecent, FileKey(i)); !path.empty()) list.push_back(std::move(path));
    return list;
}

void CRecentFileList::Add(const std::string& path) {
    if (path.empty()) return;
    std::vector<std::string> list = List();
    list.erase(std::remove(list.begin(), list.end(), path), list.end());
    list.insert(list.begin(), path);
    for (int i = 0; i < m_nSize; ++i) {
        if (i < static_cast<int>(list.size())) m_settings.SetString(kRecent, FileKey(i), list[static_cast<std::size_t>(i)]);
        else m_settings.Remove(kRecent, FileKey(i));
    }
}

}  // namespace qv
