// Opening a key on this computer or another, and RAII holders that close
// registry handles on every path.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "model/registry.h"

namespace qv {

class KeyNode;

// Opens `path` below `root` on `computer` (empty: this computer). With an
// access mask other than KEY_READ a missing key is created (class "REG_SZ").
// Returns 0 with `key` and `base` open (the caller closes both), or the
// registry's reason for the failure: the connect's, the open's (reading) or
// the create call's.
LONG OpenKey(IRegistry& registry, const std::string& computer, HKEY root, HKEY& key, HKEY& base,
             const std::string& path, REGSAM access);

// Splits a key path given to a registry call into its names. A leading
// backslash is refused (161, as Win32 does); a run of backslashes, or a
// trailing one, is one separator, as under Wine; a name over 255 characters
// is refused (ERROR_INVALID_PARAMETER). The parts point into `path`.
//
// The store and the network service count a name's bytes. Registries kept in
// files count UTF-16 characters, as Windows does, so a 255-character name in
// a script that takes two or three bytes a character still fits; keys built
// from a file's own text take any length (the file already holds them).
enum class NameLimit { kBytes, kUtf16Characters, kNone };
LONG SplitKeyPath(const char* path, std::vector<std::string_view>& parts, NameLimit limit = NameLimit::kBytes);

// `sam` with its generic and maximum-allowed rights widened to the key
// rights they stand for, as the registry grants them.
REGSAM EffectiveAccess(REGSAM sam);

// One registry handle, closed when the holder goes.
class CRegHandle {
public:
    explicit CRegHandle(IRegistry& registry, HKEY handle = nullptr)
        : m_registry(registry), m_hKey(handle) {}
    ~CRegHandle() { Close(); }
    CRegHandle(const CRegHandle&) = delete;
    CRegHandle& operator=(const CRegHandle&) = delete;

    HKEY Get() const { return m_hKey; }
    HKEY* Receive() { Close(); return &m_hKey; }
    void Close() {
        if (m_hKey != nullptr) m_registry.RegCloseKey(m_hKey);
        m_hKey = nullptr;
    }

private:
    IRegistry& m_registry;
    HKEY m_hKey;
};

// A key opened through OpenKey: the key handle and its base handle, both
// closed (key first) when the holder goes.
class COpenedKey {
public:
    explicit COpenedKey(IRegistry& registry) : m_registry(registry), m_key(registry), m_base(registry) {}
    LONG Open(const std::string& computer, HKEY root, const std::string& path, REGSAM access) {
        Close();
        HKEY key = nullptr, base = nullptr;
        const LONG status = OpenKey(m_registry, computer, root, key, base, path, access);
        if (status == 0) {
            *m_key.Receive() = key;
            *m_base.Receive() = base;
        }
        return status;
    }
    // The key of `node` (a root key or below), as Open does.
    LONG OpenNode(const std::string& computer, const KeyNode* node, REGSAM access);
    void Close() {
        m_key.Close();
        m_base.Close();
    }
    HKEY Key() const { return m_key.Get(); }
    HKEY Base() const { return m_base.Get(); }
    IRegistry& Registry() const { return m_registry; }

private:
    IRegistry& m_registry;
    CRegHandle m_key;
    CRegHandle m_base;
};

}  // namespace qv
