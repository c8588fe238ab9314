// The suite names the roots by their predefined handles. For a back end
// that reaches another computer, they stand for that computer's roots:
// connected through `inner` on first use, every other call passed on with
// them in place of the predefined handles. A derived class owns `inner` and
// calls CloseRoots() in its destructor, before `inner` goes.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <utility>

#include "model/registry.h"

namespace qv::conformance {

class CComputerRoots : public IRegistry {
public:
    // `inner` may still be under construction: it is not used here.
    explicit CComputerRoots(IRegistry& inner) : m_inner(inner) {}

    LONG RegConnectRegistryA(LPCSTR lpMachineName, HKEY hKey, HKEY* phkResult) override {
        if (lpMachineName != nullptr && *lpMachineName != '\0')
            return m_inner.RegConnectRegistryA(lpMachineName, hKey, phkResult);
        if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
        *phkResult = hKey;
        return ERROR_SUCCESS;
    }
    LONG RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, HKEY* phkResult) override {
        return m_inner.RegOpenKeyExA(Map(hKey), lpSubKey, ulOptions, samDesired, phkResult);
    }
    LONG RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, char* lpClass, DWORD dwOptions,
                         REGSAM samDesired, SECURITY_ATTRIBUTES* lpSecurityAttributes, HKEY* phkResult,
                         DWORD* lpdwDisposition) override {
        return m_inner.RegCreateKeyExA(Map(hKey), lpSubKey, Reserved, lpClass, dwOptions, samDesired,
                                       lpSecurityAttributes, phkResult, lpdwDisposition);
    }
    LONG RegEnumValueA(HKEY hKey, DWORD dwIndex, char* lpValueName, DWORD* lpcchValueName, DWORD* lpReserved,
                       DWORD* lpType, BYTE* lpData, DWORD* lpcbData) override {
        return m_inner.RegEnumValueA(Map(hKey), dwIndex, lpValueName, lpcchValueName, lpReserved, lpType, lpData,
                                     lpcbData);
    }
    LONG RegEnumKeyExA(HKEY hKey, DWORD dwIndex, char* lpName, DWORD* lpcchName, DWORD* lpReserved, char* lpClass,
                       DWORD* lpcchClass, FILETIME* lpftLastWriteTime) override {
        return m_inner.RegEnumKeyExA(Map(hKey), dwIndex, lpName, lpcchName, lpReserved, lpClass, lpcchClass,
                                     lpftLastWriteTime);
    }
    LONG RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
                        DWORD cbData) override {
        return m_inner.RegSetValueExA(Map(hKey), lpValueName, Reserved, dwType, lpData, cbData);
    }
    LONG RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) override {
        return m_inner.RegDeleteValueA(Map(hKey), lpValueName);
    }
    LONG RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) override { return m_inner.RegDeleteKeyA(Map(hKey), lpSubKey); }
    LONG RegCloseKey(HKEY hKey) override {
        return IsPredefinedKey(hKey) ? ERROR_SUCCESS : m_inner.RegCloseKey(hKey);
    }

protected:
    // The computer whose roots these are, as RegConnectRegistryA names it.
    virtual std::string Computer() const = 0;
    void CloseRoots() {
        for (HKEY& root : m_roots)
            if (root != nullptr) m_inner.RegCloseKey(std::exchange(root, nullptr));
    }

private:
    HKEY Map(HKEY key) {
        if (!IsPredefinedKey(key)) return key;
        HKEY& connected = m_roots[reinterpret_cast<std::uintptr_t>(key) & 7];
        if (connected == nullptr && m_inner.RegConnectRegistryA(Computer().c_str(), key, &connected) != 0)
            connected = nullptr;
        return connected != nullptr ? connected : key;
    }

    IRegistry& m_inner;
    std::array<HKEY, 8> m_roots{};
};

}  // namespace qv::conformance
