#include "registry/mount_router.h"

namespace qv {

CMountRouter::CMountRouter(IRegistry& local) : m_local(local), m_others(&local) {}

CMountRouter::CMountRouter(IRegistry& local, std::unique_ptr<IRegistry> others)
    : m_local(local), m_ownedOthers(std::move(others)), m_others(m_ownedOthers.get()) {}

CMountRouter::~CMountRouter() { CloseAll(); }

void CMountRouter::CloseAll() {
    // What callers left open goes back to its back end, before any mounted
    // registry or the other computers' back end goes.
    std::unordered_map<std::uintptr_t, Route> routes;
    {
        std::lock_guard lock(m_mutex);
        routes.swap(m_routes);
    }
    for (const auto& [id, route] : routes) route.backend->RegCloseKey(route.inner);
}

bool CMountRouter::Resolve(HKEY handle, Route& route) const {
    if (IsPredefinedKey(handle)) {
        route = {&m_local, handle};
        return true;
    }
    std::lock_guard lock(m_mutex);
    const auto found = m_routes.find(reinterpret_cast<std::uintptr_t>(handle));
    if (found == m_routes.end()) return false;
    route = found->second;
    return true;
}

HKEY CMountRouter::Adopt(IRegistry& backend, HKEY inner) {
    // A back end may hand out a predefined handle (opening a root with an
    // empty path): it stays what it is.
    if (IsPredefinedKey(inner) && &backend == &m_local) return inner;
    std::lock_guard lock(m_mutex);
    // Multiples of 16 from 0x10000: never null, never predefined.
    m_next += 16;
    const std::uintptr_t id = 0x10000 + m_next;
    m_routes.emplace(id, Route{&backend, inner});
    return reinterpret_cast<HKEY>(id);
}

std::size_t CMountRouter::OpenHandleCount() const {
    std::lock_guard lock(m_mutex);
    return m_routes.size();
}

LONG CMountRouter::RegConnectRegistryA(LPCSTR lpMachineName, HKEY hKey, HKEY* phkResult) {
    if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    const bool remote = lpMachineName != nullptr && *lpMachineName != '\0';
    IRegistry* backend = remote ? m_others : &m_local;
    if (remote) {
        std::lock_guard lock(m_mutex);
        if (const auto mount = m_mounts.find(lpMachineName); mount != m_mounts.end()) {
            backend = mount->second.get();
            lpMachineName = nullptr;
        }
    }
    HKEY inner = nullptr;
    const LONG status = backend->RegConnectRegistryA(lpMachineName, hKey, &inner);
    if (status == ERROR_SUCCESS) *phkResult = Adopt(*backend, inner);
    return status;
}

void CMountRouter::Mount(const std::string& name, std::unique_ptr<IRegistry> registry) {
    Unmount(name);
    std::lock_guard lock(m_mutex);
    m_mounts[name] = std::move(registry);
}

void CMountRouter::Unmount(const std::string& name) {
    std::unique_ptr<IRegistry> gone;
    std::lock_guard lock(m_mutex);
    const auto found = m_mounts.find(name);
    if (found == m_mounts.end()) return;
    gone = std::move(found->second);
    m_mounts.erase(found);
    std::erase_if(m_routes, [&](const auto& entry) {
        if (entry.second.backend != gone.get()) return false;
        gone->RegCloseKey(entry.second.inner);
        return true;
    });
}

LONG CMountRouter::RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                                    HKEY* phkResult) {
    if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    Route route;
    if (!Resolve(hKey, route)) return ERROR_INVALID_HANDLE;
    HKEY inner = nullptr;
    const LONG status = route.backend->RegOpenKeyExA(route.inner, lpSubKey, ulOptions, samDesired, &inner);
    if (status == ERROR_SUCCESS) {
        // Opening "" on a handle may give back that very handle (a root).
        *phkResult = inner == route.inner ? hKey : Adopt(*route.backend, inner);
    }
    return status;
}

LONG CMountRouter::RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, char* lpClass,
                                      DWORD dwOptions, REGSAM samDesired,
                                      SECURITY_ATTRIBUTES* lpSecurityAttributes, HKEY* phkResult,
                                      DWORD* lpdwDisposition) {
    if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    Route route;
    if (!Resolve(hKey, route)) return ERROR_INVALID_HANDLE;
    HKEY inner = nullptr;
    const LONG status = route.backend->RegCreateKeyExA(route.inner, lpSubKey, Reserved, lpClass, dwOptions,
                                                       samDesired, lpSecurityAttributes, &inner, lpdwDisposition);
    if (status == ERROR_SUCCESS) *phkResult = inner == route.inner ? hKey : Adopt(*route.backend, inner);
    return status;
}

LONG CMountRouter::RegEnumValueA(HKEY hKey, DWORD dwIndex, char* lpValueName, DWORD* lpcchValueName,
                                    DWORD* lpReserved, DWORD* lpType, BYTE* lpData, DWORD* lpcbData) {
    Route route;
    if (!Resolve(hKey, route)) return ERROR_INVALID_HANDLE;
    return route.backend->RegEnumValueA(route.inner, dwIndex, lpValueName, lpcchValueName, lpReserved, lpType,
                                        lpData, lpcbData);
}

LONG CMountRouter::RegEnumKeyExA(HKEY hKey, DWORD dwIndex, char* lpName, DWORD* lpcchName, DWORD* lpReserved,
                                    char* lpClass, DWORD* lpcchClass, FILETIME* lpftLastWriteTime) {
    Route route;
    if (!Resolve(hKey, route)) return ERROR_INVALID_HANDLE;
    return route.backend->RegEnumKeyExA(route.inner, dwIndex, lpName, lpcchName, lpReserved, lpClass, lpcchClass,
                                        lpftLastWriteTime);
}

LONG CMountRouter::RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType,
                                     const BYTE* lpData, DWORD cbData) {
    Route route;
    if (!Resolve(hKey, route)) return ERROR_INVALID_HANDLE;
    return route.backend->RegSetValueExA(route.inner, lpValueName, Reserved, dwType, lpData, cbData);
}

LONG CMountRouter::RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
    Route route;
    if (!Resolve(hKey, route)) return ERROR_INVALID_HANDLE;
    return route.backend->RegDeleteValueA(route.inner, lpValueName);
}

LONG CMountRouter::RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
    Route route;
    if (!Resolve(hKey, route)) return ERROR_INVALID_HANDLE;
    return route.backend->RegDeleteKeyA(route.inner, lpSubKey);
}

LONG CMountRouter::RegCloseKey(HKEY hKey) {
    if (IsPredefinedKey(hKey)) return m_local.RegCloseKey(hKey);
    Route route;
    {
        std::lock_guard lock(m_mutex);
        const auto found = m_routes.find(reinterpret_cast<std::uintptr_t>(hKey));
        if (found == m_routes.end()) return ERROR_INVALID_HANDLE;
        route = found->second;
        m_routes.erase(found);
    }
    return route.backend->RegCloseKey(route.inner);
}

}  // namespace qv
