// The conformance suite against the network back end: a quorvane-regd of
// its own on 127.0.0.1 with a fresh store for every test, reached through
// the program's router.
#include <stdlib.h>

#include <array>
#include <filesystem>
#include <string>

#include "registry/registry_router.h"
#include "registry/remote/remote_common.h"
#include "registry/unavailable_registry.h"
#include "tests/conformance/conformance.h"
#include "tests/support/regd_child.h"

namespace qv::conformance {

namespace {

// The suite names the roots by their predefined handles; here they stand
// for the roots of the service's computer.
class CRemoteRoots : public IRegistry {
public:
    ~CRemoteRoots() override {
        for (HKEY root : m_roots)
            if (root != nullptr) m_router.RegCloseKey(root);
    }

    bool Start(const test::RegdOptions& options, std::string* error) { return m_child.Start(options, error); }

    LONG RegConnectRegistryA(LPCSTR lpMachineName, HKEY hKey, HKEY* phkResult) override {
        if (lpMachineName != nullptr && *lpMachineName != '\0')
            return m_router.RegConnectRegistryA(lpMachineName, hKey, phkResult);
        if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
        *phkResult = hKey;
        return ERROR_SUCCESS;
    }
    LONG RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, HKEY* phkResult) override {
        return m_router.RegOpenKeyExA(Map(hKey), lpSubKey, ulOptions, samDesired, phkResult);
    }
    LONG RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, char* lpClass, DWORD dwOptions,
                         REGSAM samDesired, SECURITY_ATTRIBUTES* lpSecurityAttributes, HKEY* phkResult,
                         DWORD* lpdwDisposition) override {
        return m_router.RegCreateKeyExA(Map(hKey), lpSubKey, Reserved, lpClass, dwOptions, samDesired,
                                        lpSecurityAttributes, phkResult, lpdwDisposition);
    }
    LONG RegEnumValueA(HKEY hKey, DWORD dwIndex, char* lpValueName, DWORD* lpcchValueName, DWORD* lpReserved,
                       DWORD* lpType, BYTE* lpData, DWORD* lpcbData) override {
        return m_router.RegEnumValueA(Map(hKey), dwIndex, lpValueName, lpcchValueName, lpReserved, lpType, lpData,
                                      lpcbData);
    }
    LONG RegEnumKeyExA(HKEY hKey, DWORD dwIndex, char* lpName, DWORD* lpcchName, DWORD* lpReserved, char* lpClass,
                       DWORD* lpcchClass, FILETIME* lpftLastWriteTime) override {
        return m_router.RegEnumKeyExA(Map(hKey), dwIndex, lpName, lpcchName, lpReserved, lpClass, lpcchClass,
                                      lpftLastWriteTime);
    }
    LONG RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
                        DWORD cbData) override {
        return m_router.RegSetValueExA(Map(hKey), lpValueName, Reserved, dwType, lpData, cbData);
    }
    LONG RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) override {
        return m_router.RegDeleteValueA(Map(hKey), lpValueName);
    }
    LONG RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) override { return m_router.RegDeleteKeyA(Map(hKey), lpSubKey); }
    LONG RegCloseKey(HKEY hKey) override {
        return IsPredefinedKey(hKey) ? ERROR_SUCCESS : m_router.RegCloseKey(hKey);
    }

private:
    // The service's root for a predefined handle, connected on first use.
    HKEY Map(HKEY key) {
        const int root = remote::RootNumber(key);
        if (root == 0) return key;
        HKEY& connected = m_roots[static_cast<std::size_t>(root)];
        if (connected == nullptr && m_router.RegConnectRegistryA(m_child.Computer().c_str(), key, &connected) != 0)
            connected = nullptr;
        return connected != nullptr ? connected : key;
    }

    test::CRegdChild m_child;  // stopped last
    CUnavailableRegistry m_local;
    CRegistryRouter m_router{m_local, RemoteOptions{}};
    std::array<HKEY, 8> m_roots{};
};

}  // namespace

BackendUnderTest MakeBackendUnderTest() {
    BackendUnderTest backend;
    backend.name = "remote";
    // A name that does not resolve is one more computer that cannot be
    // reached: the client says so and suggests trying again.
    backend.traits.unknownComputerStatus = remote::kErrorServiceBusy;
    std::string folder = (std::filesystem::temp_directory_path() / "qv-conformance-remote-XXXXXX").string();
    if (mkdtemp(folder.data()) == nullptr) {
        ADD_FAILURE() << "cannot make a temporary folder";
        return backend;
    }
    backend.cleanup = [folder] {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    };
    test::RegdOptions options;
    options.store = folder + "/registry.db";
    options.exitAfter = 120;
    auto registry = std::make_unique<CRemoteRoots>();
    std::string error;
    if (!registry->Start(options, &error)) {
        ADD_FAILURE() << error;
        return backend;
    }
    backend.registry = std::move(registry);
    return backend;
}

}  // namespace qv::conformance
