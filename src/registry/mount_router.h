// A registry that puts other registries beside this computer's: registries
// kept in files are mounted under a name (their path) and reached as a
// computer of that name through RegConnectRegistryA; every other call goes
// to this computer's back end, `\\computer` names included (the Win32 back
// end connects those with Windows' own remote registry). Handles are the
// router's own numbers, so those of different back ends never collide;
// predefined handles always mean this computer's roots. Every handle a back
// end hands out is closed again: by RegCloseKey, when its registry is
// unmounted, or when the router goes.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "model/registry.h"

namespace qv {

class CMountRouter : public IRegistry, public IRegistryMounts {
public:
    // `local` must outlive the router.
    explicit CMountRouter(IRegistry& local);
    ~CMountRouter() override;
    CMountRouter(const CMountRouter&) = delete;
    CMountRouter& operator=(const CMountRouter&) = delete;

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

    // Mounting a name again replaces what was mounted under it.
    void Mount(const std::string& name, std::unique_ptr<IRegistry> registry) override;
    void Unmount(const std::string& name) override;

    IRegistry& Local() const { return m_local; }
    // Handles handed out and not closed yet (predefined ones not counted).
    std::size_t OpenHandleCount() const;

protected:
    // Computer names that are not mounted go to `others` instead of `local`
    // (the network back end, on Linux). The router owns it.
    CMountRouter(IRegistry& local, std::unique_ptr<IRegistry> others);
    IRegistry& Others() const { return *m_others; }
    // Hands out a router handle for a back end's new handle.
    HKEY Adopt(IRegistry& backend, HKEY inner);
    // Closes every handle callers left open; for a derived router whose
    // own back ends go before this base does.
    void CloseAll();

private:
    struct Route {
        IRegistry* backend;
        HKEY inner;
    };
    // The back end and its handle for `handle`; false for an unknown one.
    bool Resolve(HKEY handle, Route& route) const;

    IRegistry& m_local;
    std::unique_ptr<IRegistry> m_ownedOthers;
    IRegistry* m_others;
    mutable std::mutex m_mutex;
    std::unordered_map<std::uintptr_t, Route> m_routes;
    std::unordered_map<std::string, std::unique_ptr<IRegistry>> m_mounts;
    std::uintptr_t m_next = 0;
};

}  // namespace qv
