#include "registry/win32_registry.h"

#include <string>
#include <string_view>

namespace qv {

// The computer's name is the program's UTF-8, widened here rather than left
// to the process's code page: the result is then the same in every program
// (the tests have no UTF-8 manifest) and on Windows versions that ignore the
// manifest's code page.
LONG CWin32Registry::RegConnectRegistryA(LPCSTR lpMachineName, HKEY hKey, HKEY* phkResult) {
    if (lpMachineName == nullptr || *lpMachineName == '\0') return ::RegConnectRegistryW(nullptr, hKey, phkResult);
    // Windows reaches every other computer through its Remote Registry
    // service, so "smb://host" is "\\host"; that service takes no port.
    if (IsRemoteRegistryName(lpMachineName)) {
        lpMachineName += kRemoteRegistryScheme.size();
        if (*lpMachineName == '\0' || std::string_view(lpMachineName).find_first_of(":/\\") != std::string_view::npos)
            return ERROR_BAD_NETPATH;
    }
    const int length = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, lpMachineName, -1, nullptr, 0);
    // Bytes that are not UTF-8 name no computer.
    if (length <= 0) return ERROR_BAD_NETPATH;
    std::wstring name(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, lpMachineName, -1, name.data(), length);
    return ::RegConnectRegistryW(name.c_str(), hKey, phkResult);
}

LONG CWin32Registry::RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                                   HKEY* phkResult) {
    return ::RegOpenKeyExA(hKey, lpSubKey, ulOptions, samDesired, phkResult);
}

LONG CWin32Registry::RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, char* lpClass,
                                     DWORD dwOptions, REGSAM samDesired,
                                     SECURITY_ATTRIBUTES* lpSecurityAttributes, HKEY* phkResult,
                                     DWORD* lpdwDisposition) {
    return ::RegCreateKeyExA(hKey, lpSubKey, Reserved, lpClass, dwOptions, samDesired,
                             lpSecurityAttributes, phkResult, lpdwDisposition);
}

LONG CWin32Registry::RegEnumValueA(HKEY hKey, DWORD dwIndex, char* lpValueName,
                                   DWORD* lpcchValueName, DWORD* lpReserved, DWORD* lpType,
                                   BYTE* lpData, DWORD* lpcbData) {
    return ::RegEnumValueA(hKey, dwIndex, lpValueName, lpcchValueName, lpReserved, lpType, lpData,
                           lpcbData);
}

LONG CWin32Registry::RegEnumKeyExA(HKEY hKey, DWORD dwIndex, char* lpName, DWORD* lpcchName,
                                   DWORD* lpReserved, char* lpClass, DWORD* lpcchClass,
                                   FILETIME* lpftLastWriteTime) {
    return ::RegEnumKeyExA(hKey, dwIndex, lpName, lpcchName, lpReserved, lpClass, lpcchClass,
                           lpftLastWriteTime);
}

LONG CWin32Registry::RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType,
                                    const BYTE* lpData, DWORD cbData) {
    return ::RegSetValueExA(hKey, lpValueName, Reserved, dwType, lpData, cbData);
}

LONG CWin32Registry::RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
    return ::RegDeleteValueA(hKey, lpValueName);
}

LONG CWin32Registry::RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
    return ::RegDeleteKeyA(hKey, lpSubKey);
}

LONG CWin32Registry::RegCloseKey(HKEY hKey) { return ::RegCloseKey(hKey); }

}  // namespace qv
