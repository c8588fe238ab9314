#include "tests/support/counting_registry.h"

#include <cstdio>

namespace qv {

namespace {

std::string Describe(HKEY handle) {
    char text[32];
    std::snprintf(text, sizeof text, "%p", static_cast<void*>(handle));
    return text;
}

}  // namespace

bool CCountingRegistry::Enter(RegCall kind, LONG& status) {
    ++m_calls[static_cast<std::size_t>(kind)];
    bool fail = false;
    for (Fault& fault : m_faults) {
        if (fault.kind != kind && fault.kind != RegCall::Any) continue;
        ++fault.seen;
        if (fault.seen == fault.nth || (fault.persistent && fault.seen > fault.nth)) {
            // The first matching fault decides the status.
            if (!fail) status = fault.status;
            fail = true;
        }
    }
    if (fail) ++m_injected;
    return fail;
}

void CCountingRegistry::Opened(LONG status, HKEY handle, const char* call) {
    if (status != ERROR_SUCCESS || handle == nullptr || IsPredefinedKey(handle)) return;
    m_closed.erase(handle);  // a back end may hand a closed handle's value out again
    if (!m_open.insert(handle).second)
        m_errors.push_back(std::string(call) + " handed out " + Describe(handle) + ", which is already open");
}

std::size_t CCountingRegistry::Calls(RegCall kind) const {
    if (kind != RegCall::Any) return m_calls[static_cast<std::size_t>(kind)];
    std::size_t total = 0;
    for (std::size_t count : m_calls) total += count;
    return total;
}

void CCountingRegistry::ResetCounts() { m_calls.fill(0); }

void CCountingRegistry::FailCall(RegCall kind, std::size_t nth, LONG status, bool persistent) {
    m_faults.push_back({kind, nth, status, persistent});
}

LONG CCountingRegistry::RegConnectRegistryA(LPCSTR lpMachineName, HKEY hKey, HKEY* phkResult) {
    LONG status = 0;
    if (Enter(RegCall::Connect, status)) return status;
    status = m_inner.RegConnectRegistryA(lpMachineName, hKey, phkResult);
    if (phkResult != nullptr) Opened(status, *phkResult, "RegConnectRegistryA");
    return status;
}

LONG CCountingRegistry::RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                                      HKEY* phkResult) {
    LONG status = 0;
    if (Enter(RegCall::OpenKey, status)) return status;
    status = m_inner.RegOpenKeyExA(hKey, lpSubKey, ulOptions, samDesired, phkResult);
    if (phkResult != nullptr) Opened(status, *phkResult, "RegOpenKeyExA");
    return status;
}

LONG CCountingRegistry::RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, char* lpClass,
                                        DWORD dwOptions, REGSAM samDesired,
                                        SECURITY_ATTRIBUTES* lpSecurityAttributes, HKEY* phkResult,
                                        DWORD* lpdwDisposition) {
    LONG status = 0;
    if (Enter(RegCall::CreateKey, status)) return status;
    status = m_inner.RegCreateKeyExA(hKey, lpSubKey, Reserved, lpClass, dwOptions, samDesired,
                                     lpSecurityAttributes, phkResult, lpdwDisposition);
    if (phkResult != nullptr) Opened(status, *phkResult, "RegCreateKeyExA");
    return status;
}

LONG CCountingRegistry::RegEnumValueA(HKEY hKey, DWORD dwIndex, char* lpValueName, DWORD* lpcchValueName,
                                      DWORD* lpReserved, DWORD* lpType, BYTE* lpData, DWORD* lpcbData) {
    LONG status = 0;
    if (Enter(RegCall::EnumValue, status)) return status;
    return m_inner.RegEnumValueA(hKey, dwIndex, lpValueName, lpcchValueName, lpReserved, lpType, lpData,
                                 lpcbData);
}

LONG CCountingRegistry::RegEnumKeyExA(HKEY hKey, DWORD dwIndex, char* lpName, DWORD* lpcchName,
                                      DWORD* lpReserved, char* lpClass, DWORD* lpcchClass,
                                      FILETIME* lpftLastWriteTime) {
    LONG status = 0;
    if (Enter(RegCall::EnumKey, status)) return status;
    return m_inner.RegEnumKeyExA(hKey, dwIndex, lpName, lpcchName, lpReserved, lpClass, lpcchClass,
                                 lpftLastWriteTime);
}

LONG CCountingRegistry::RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType,
                                       const BYTE* lpData, DWORD cbData) {
    LONG status = 0;
    if (Enter(RegCall::SetValue, status)) return status;
    return m_inner.RegSetValueExA(hKey, lpValueName, Reserved, dwType, lpData, cbData);
}

LONG CCountingRegistry::RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
    LONG status = 0;
    if (Enter(RegCall::DeleteValue, status)) return status;
    return m_inner.RegDeleteValueA(hKey, lpValueName);
}

LONG CCountingRegistry::RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
    LONG status = 0;
    if (Enter(RegCall::DeleteKey, status)) return status;
    return m_inner.RegDeleteKeyA(hKey, lpSubKey);
}

LONG CCountingRegistry::RegCloseKey(HKEY hKey) {
    LONG status = 0;
    if (Enter(RegCall::CloseKey, status)) return status;
    if (!IsPredefinedKey(hKey)) {
        if (m_open.erase(hKey) != 0) {
            m_closed.insert(hKey);
        } else if (m_closed.count(hKey) != 0) {
            m_errors.push_back("RegCloseKey of " + Describe(hKey) + ", which is already closed");
        } else {
            m_errors.push_back("RegCloseKey of " + Describe(hKey) + ", which was never handed out");
        }
    }
    return m_inner.RegCloseKey(hKey);
}

}  // namespace qv
