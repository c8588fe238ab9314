// Windows computers' registries over the Remote Registry protocol (MS-RRP):
// the winreg pipe through libsmbclient, our DCE/RPC and NDR on it.
//
// RegConnectRegistryA("smb://host[:port]", root) logs on to the computer
// (once per computer; the connection is kept while it works and made anew
// after it failed) and opens one of HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER,
// HKEY_USERS, HKEY_CLASSES_ROOT or HKEY_CURRENT_CONFIG there; every call on
// that handle and on keys opened below it goes to that computer. Names and
// string data are UTF-8 here, UTF-16LE on the wire.
//
// Statuses: winreg's own codes as the computer gives them (they are Win32
// codes); ERROR_ACCESS_DENIED when the logon is refused (no credentials or
// the user gave up); ERROR_BAD_NETPATH when the computer cannot be reached,
// does not answer within the call timeout, serves no winreg, or the
// connection was lost (its handles then answer so until closed), and for a
// root the computer does not serve (Samba has no HKEY_CURRENT_CONFIG);
// ERROR_INVALID_HANDLE for HKEY_PERFORMANCE_DATA and HKEY_DYN_DATA, and for
// a predefined handle used without connecting. ERROR_KEY_DELETED on every
// handle to a key deleted through this object; a key another program
// deleted answers whatever the computer says. ERROR_INVALID_PARAMETER for a
// value name over 255 bytes on a computer that would cut it short (Samba
// does, silently; the first such name written finds out, and leaves nothing
// behind); key name parts over 255 characters, paths over 512 levels.
//
// Round trips cost more than the computer's work, so: a handle remembers
// the key's counts, fetched when index 0 is asked (and again after any write
// through this object), so an index past them answers ERROR_NO_MORE_ITEMS
// at once; the items from the index asked up to the count come in one round
// trip and answer the indexes that follow, until index 0 is asked again or
// something is written through this object (changes made by others show
// from then on); a closed handle is closed on the computer with the next
// call made there.
//
// One object may be used from several threads; one handle by one thread at
// a time. Calls on one computer go one at a time.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "model/registry.h"

namespace qv {

struct RrpCredentials {
    std::string user, domain, password;
};

struct RrpOptions {
    RrpCredentials credentials;  // used for every computer unless askCredentials gives others
    // Called (on the connecting thread) when a computer refuses the logon or none was given; fills
    // `credentials` and returns true to try again, false when the user gives up. May be empty.
    std::function<bool(const std::string& computer, RrpCredentials& credentials)> askCredentials;
    std::chrono::milliseconds callTimeout{30000};  // every SMB call
    // QUORVANE_SMB_USER ("user", "DOMAIN\user" or "user@domain"), QUORVANE_SMB_PASSWORD,
    // QUORVANE_SMB_PASSWORD_FILE (a file holding it; trailing line end dropped) on top of `settings`.
    // (Two overloads: a default argument of this type cannot be given inside it.)
    static RrpOptions FromEnvironment(RrpOptions settings);
    static RrpOptions FromEnvironment();
};

// True for the names this back end serves: "smb://host" or "smb://host:port" (case-insensitive
// scheme; IPv6 as "smb://[::1]:4450"). Splits them (the port is 445 when none is given; IPv6
// without brackets); false for anything else or a bad port.
bool RrpComputer(std::string_view name, std::string* host = nullptr, int* port = nullptr);

class CRrpRegistry : public IRegistry {
public:
    explicit CRrpRegistry(RrpOptions options = RrpOptions::FromEnvironment());
    ~CRrpRegistry() override;
    CRrpRegistry(const CRrpRegistry&) = delete;
    CRrpRegistry& operator=(const CRrpRegistry&) = delete;

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

    // For tests: handles not yet closed, and winreg calls made so far.
    std::size_t OpenHandleCount() const;
    std::size_t CallCount() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace qv
