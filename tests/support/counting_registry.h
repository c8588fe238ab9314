// A registry wrapper for tests: passes every call to another registry,
// counts calls and open handles, notices handles closed twice or never
// opened, and makes chosen calls fail.
#pragma once

#include <array>
#include <cstddef>
#include <set>
#include <string>
#include <vector>

#include "model/registry.h"

namespace qv {

enum class RegCall {
    Connect,
    OpenKey,
    CreateKey,
    EnumValue,
    EnumKey,
    SetValue,
    DeleteValue,
    DeleteKey,
    CloseKey,
    Any,  // for faults: calls of every kind
};

class CCountingRegistry : public IRegistry {
public:
    explicit CCountingRegistry(IRegistry& inner) : m_inner(inner) {}

    LONG RegConnectRegistryA(LPCSTR lpMachineName, HKEY hKey, HKEY* phkResult) override;
    LONG RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                       HKEY* phkResult) override;
    LONG RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, char* lpClass,
                         DWORD dwOptions, REGSAM samDesired,
                         SECURITY_ATTRIBUTES* lpSecurityAttributes, HKEY* phkResult,
                         DWORD* lpdwDisposition) override;
    LONG RegEnumValueA(HKEY hKey, DWORD dwIndex, char* lpValueName, DWORD* lpcchValueName,
                       DWORD* lpReserved, DWORD* lpType, BYTE* lpData, DWORD* lpcbData) override;
    LONG RegEnumKeyExA(HKEY hKey, DWORD dwIndex, char* lpName, DWORD* lpcchName,
                       DWORD* lpReserved, char* lpClass, DWORD* lpcchClass,
                       FILETIME* lpftLastWriteTime) override;
    LONG RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType,
                        const BYTE* lpData, DWORD cbData) override;
    LONG RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) override;
    LONG RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) override;
    LONG RegCloseKey(HKEY hKey) override;

    // Handles handed out (predefined ones aside) and not closed yet.
    std::size_t OpenHandles() const { return m_open.size(); }
    const std::set<HKEY>& OpenHandleSet() const { return m_open; }

    // Calls made of one kind (failed and injected ones included); Any: all.
    std::size_t Calls(RegCall kind) const;
    void ResetCounts();

    // Misuse seen: a handle closed twice, closing a handle never handed
    // out, one handle handed out twice. One readable line each.
    const std::vector<std::string>& Errors() const { return m_errors; }

    // Makes the `nth` (1-based) call of `kind` made from now on fail with
    // `status` without reaching the wrapped registry; with `persistent`,
    // every later call of that kind fails too. Faults add up; a failed
    // RegCloseKey leaves the handle open here as it does there.
    void FailCall(RegCall kind, std::size_t nth, LONG status, bool persistent = false);
    void ClearFaults() { m_faults.clear(); }
    // Calls failed on purpose so far.
    std::size_t InjectedFailures() const { return m_injected; }

private:
    struct Fault {
        RegCall kind;
        std::size_t nth;
        LONG status;
        bool persistent;
        std::size_t seen = 0;
    };

    // Counts the call; true with `status` set when it is to fail.
    bool Enter(RegCall kind, LONG& status);
    void Opened(LONG status, HKEY handle, const char* call);

    IRegistry& m_inner;
    std::array<std::size_t, static_cast<std::size_t>(RegCall::Any)> m_calls{};
    std::set<HKEY> m_open;
    std::set<HKEY> m_closed;
    std::vector<std::string> m_errors;
    std::vector<Fault> m_faults;
    std::size_t m_injected = 0;
};

}  // namespace qv
