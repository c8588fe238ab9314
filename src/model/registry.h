// The registry as the program sees it: the nine calls it makes, with the
// Win32 argument shapes and status codes. Back ends (the Windows registry,
// this computer's store, a network service, the test wrapper) implement it;
// core code receives one explicitly and never reaches for a global.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "model/registry_types.h"

namespace qv {

class IRegistry {
public:
    virtual ~IRegistry() = default;

    virtual LONG RegConnectRegistryA(LPCSTR lpMachineName, HKEY hKey, HKEY* phkResult) = 0;
    virtual LONG RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                               HKEY* phkResult) = 0;
    virtual LONG RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, char* lpClass,
                                 DWORD dwOptions, REGSAM samDesired,
                                 SECURITY_ATTRIBUTES* lpSecurityAttributes, HKEY* phkResult,
                                 DWORD* lpdwDisposition) = 0;
    virtual LONG RegEnumValueA(HKEY hKey, DWORD dwIndex, char* lpValueName, DWORD* lpcchValueName,
                               DWORD* lpReserved, DWORD* lpType, BYTE* lpData,
                               DWORD* lpcbData) = 0;
    virtual LONG RegEnumKeyExA(HKEY hKey, DWORD dwIndex, char* lpName, DWORD* lpcchName,
                               DWORD* lpReserved, char* lpClass, DWORD* lpcchClass,
                               FILETIME* lpftLastWriteTime) = 0;
    virtual LONG RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType,
                                const BYTE* lpData, DWORD cbData) = 0;
    virtual LONG RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) = 0;
    virtual LONG RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) = 0;
    virtual LONG RegCloseKey(HKEY hKey) = 0;
};

// A registry that reaches registries kept in files (a hive, a .reg file)
// under a name of their own, as it reaches another computer: a
// RegConnectRegistryA naming `name` connects to the mounted registry.
class IRegistryMounts {
public:
    virtual ~IRegistryMounts() = default;
    virtual void Mount(const std::string& name, std::unique_ptr<IRegistry> registry) = 0;
    // Handles still open into it are closed and become unknown.
    virtual void Unmount(const std::string& name) = 0;
};

// True for the seven predefined root handles.
bool IsPredefinedKey(HKEY hKey);

// How another computer is named. "smb://host" or "smb://host:port" reaches
// the computer's own Remote Registry service (Windows' winreg, over SMB);
// any other name ("host", "host:port") reaches its quorvane-regd, as saved
// lists of computers and scripts expect.
inline constexpr std::string_view kRemoteRegistryScheme = "smb://";
// Whether `computer` starts with that scheme, in any case.
bool IsRemoteRegistryName(std::string_view computer);

}  // namespace qv
