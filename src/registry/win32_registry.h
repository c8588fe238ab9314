// The Windows registry itself: each call goes straight to advapi32, so the
// program sees exactly what Windows (or Wine) answers.
#pragma once

#include "model/registry.h"

namespace qv {

class CWin32Registry : public IRegistry {
public:
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
};

}  // namespace qv
