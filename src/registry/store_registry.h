// This computer's registry, kept in one SQLite file that the desktop program,
// the command-line tool and the network service share. It behaves like the
// Win32 registry as far as the program can tell through IRegistry:
//  - names compare case-insensitively (ASCII letters only; other bytes
//    exactly) and keep the case they were created with;
//  - subkeys enumerate sorted by their lower-cased names (as Wine does, so
//    '_' comes before letters); values enumerate in creation order and a
//    rewritten value keeps its place and its name;
//  - a key name is at most 255 bytes, a value name at most 16383, and keys
//    nest at most 512 levels below a root: longer names or deeper keys give
//    ERROR_INVALID_PARAMETER;
//  - a path may not start with a backslash (ERROR_BAD_PATHNAME); runs of
//    backslashes and a trailing one act as a single separator;
//  - HKEY_PERFORMANCE_DATA and HKEY_DYN_DATA are not kept: every call on
//    them but RegCloseKey gives ERROR_INVALID_HANDLE;
//  - a handle without KEY_SET_VALUE cannot set or delete values, one without
//    KEY_QUERY_VALUE / KEY_ENUMERATE_SUB_KEYS cannot enumerate values /
//    subkeys (ERROR_ACCESS_DENIED); creating and deleting subkeys is not
//    checked, as under Wine. Predefined handles may do everything;
//  - volatile keys are stored like any other.
// Failures below the registry give ERROR_REGISTRY_CORRUPT (1015) for a
// damaged file, ERROR_ACCESS_DENIED for a read-only one, ERROR_DISK_FULL
// (112), ERROR_OUTOFMEMORY (14, also for data over the 1 GB the file takes)
// and ERROR_REGISTRY_IO_FAILED (1016) for anything else; LastError() then
// has SQLite's text.
//
// Handles live in this object only. One object may be used from several
// threads; several processes may open the same file at once. Beside the
// file the store keeps <file>-qvstamp, a change counter all processes share:
// while nothing has been written, opens and enumerations are answered from
// what was already read: subkey lists, and the values of the subkeys that
// follow a key whose values were asked for, read ahead in one query.
// Changes made to the file with other tools than the store are therefore
// noticed only after the store's next write.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "model/registry.h"
#include "registry/registry_batch.h"

namespace qv {

// $QUORVANE_REGISTRY when set and not empty, else
// $XDG_DATA_HOME/quorvane/registry.db, else
// $HOME/.local/share/quorvane/registry.db (empty when HOME is unset too).
std::string DefaultStorePath();

// Told what the store does that its user should know about while it goes on:
// that it is open for reading only, that it waits for another program's lock.
using StoreNotice = std::function<void(const std::string& text)>;

class CStoreRegistry : public IRegistry, public IRegistryBatch {
public:
    // Opens the store at `path`, creating its folder and the file with the
    // five root keys on first use. Returns null and a readable reason in
    // `*error` (when not null) for a file that cannot be opened or is not a
    // registry store; a file that is not a store is left exactly as it was.
    // A store in a folder this user cannot write to opens for reading only
    // (every change gives ERROR_ACCESS_DENIED), and `notice` says so. A lock
    // held by another program is waited for up to 30 s; `notice` is told
    // after the first second of each wait.
    static std::unique_ptr<CStoreRegistry> Open(const std::string& path, std::string* error,
                                                StoreNotice notice = {});

    ~CStoreRegistry() override;
    CStoreRegistry(const CStoreRegistry&) = delete;
    CStoreRegistry& operator=(const CStoreRegistry&) = delete;

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

    // Bulk writing (imports, generated trees): one transaction for the
    // whole batch instead of one per call. The batch holds the file's write
    // lock, so other processes wait until it is committed. An uncommitted
    // batch is rolled back when the store is destroyed.
    LONG BeginBatch() override;
    LONG CommitBatch() override;
    void RollbackBatch() override;

    const std::string& Path() const;
    bool ReadOnly() const;
    // SQLite's message for the last failure that was not a registry answer.
    std::string LastError() const;
    // Handles currently open in this object (predefined ones not counted).
    std::size_t OpenHandleCount() const;

private:
    struct Impl;
    explicit CStoreRegistry(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> m_impl;
};

}  // namespace qv
