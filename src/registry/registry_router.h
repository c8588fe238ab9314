// The program's registry: this computer's back end for every call that
// names no other computer, and the network back end for the keys of other
// computers. RegConnectRegistryA with a computer name gives a handle that
// belongs to that computer, and every handle opened below it does too.
// Handles are the router's own numbers, so those of different back ends
// never collide; predefined handles always mean this computer's roots.
// Batches (IRegistryBatch) are this computer's back end's, when it has
// them: writes to other computers are never held back or rolled back.
// Registries kept in files are mounted under a name (their path) and
// reached as a computer of that name.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "model/registry.h"
#include "registry/registry_batch.h"
#include "registry/remote/remote_registry.h"

namespace qv {

class CRegistryRouter : public IRegistry, public IRegistryBatch, public IRegistryMounts {
public:
    // `local` must outlive the router.
    explicit CRegistryRouter(IRegistry& local, RemoteOptions options = RemoteOptions::FromEnvironment());
    ~CRegistryRouter() override;

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

    void Mount(const std::string& name, std::unique_ptr<IRegistry> registry) override;
    void Unmount(const std::string& name) override;

    LONG BeginBatch() override;
    LONG CommitBatch() override;
    void RollbackBatch() override;

    // Whether `computer`'s service answers: 0, or why not (53 unreachable,
    // 5 token refused, ...). Takes at most the connect timeout.
    LONG Ping(const std::string& computer);

    IRegistry& Local() const { return m_local; }
    CRemoteRegistry& Remote() const { return *m_remote; }
    // Handles handed out and not closed yet (predefined ones not counted).
    std::size_t OpenHandleCount() const;

private:
    struct Route {
        IRegistry* backend;
        HKEY inner;
    };
    // The back end and its handle for `handle`; false for an unknown one.
    bool Resolve(HKEY handle, Route& route) const;
    // Hands out a router handle for a back end's new handle.
    HKEY Adopt(IRegistry& backend, HKEY inner);

    IRegistry& m_local;
    std::unique_ptr<CRemoteRegistry> m_remote;
    mutable std::mutex m_mutex;
    std::unordered_map<std::uintptr_t, Route> m_routes;
    std::unordered_map<std::string, std::unique_ptr<IRegistry>> m_mounts;
    std::uintptr_t m_next = 0;
};

}  // namespace qv
