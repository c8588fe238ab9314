// The conformance suite against the MS-RRP back end: Samba's smbd on
// loopback (scripts/smb-peer.sh, started by CTest before these tests)
// serving winreg from its own registry, reached as smb://127.0.0.1:PORT.
// Every test ends with no handle left open.
#include "tests/conformance/rrp_backend.h"

#include <array>
#include <cstdlib>

// libsmbclient keeps process-wide state in talloc memory that it never
// frees; under LeakSanitizer that is not ours to answer for.
extern "C" const char* __lsan_default_suppressions() { return "leak:libtalloc.so\n"; }

namespace qv::conformance {

RrpOptions PeerOptions() {
    RrpOptions options;
    const char* user = std::getenv("QV_RRP_USER");
    const char* password = std::getenv("QV_RRP_PASSWORD");
    options.credentials.user = user != nullptr ? user : "qv-rrp";
    options.credentials.password = password != nullptr ? password : "Qv-Rrp-Test-2026";
    options.callTimeout = std::chrono::milliseconds(20000);
    return options;
}

std::string PeerComputer() {
    const char* port = std::getenv("QV_RRP_PORT");
    return std::string("smb://127.0.0.1:") + (port != nullptr ? port : "4450");
}

namespace {

// The suite names the roots by their predefined handles; here they stand
// for the peer's roots, connected on first use.
class CRrpRoots : public IRegistry {
public:
    CRrpRoots() : m_rrp(PeerOptions()) {}
    ~CRrpRoots() override {
        for (HKEY root : m_roots)
            if (root != nullptr) m_rrp.RegCloseKey(root);
        EXPECT_EQ(m_rrp.OpenHandleCount(), 0u) << "handles left open";
    }

    LONG RegConnectRegistryA(LPCSTR lpMachineName, HKEY hKey, HKEY* phkResult) override {
        if (lpMachineName != nullptr && *lpMachineName != '\0')
            return m_rrp.RegConnectRegistryA(lpMachineName, hKey, phkResult);
        if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
        *phkResult = hKey;
        return ERROR_SUCCESS;
    }
    LONG RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, HKEY* phkResult) override {
        return m_rrp.RegOpenKeyExA(Map(hKey), lpSubKey, ulOptions, samDesired, phkResult);
    }
    LONG RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, char* lpClass, DWORD dwOptions,
                         REGSAM samDesired, SECURITY_ATTRIBUTES* lpSecurityAttributes, HKEY* phkResult,
                         DWORD* lpdwDisposition) override {
        return m_rrp.RegCreateKeyExA(Map(hKey), lpSubKey, Reserved, lpClass, dwOptions, samDesired,
                                     lpSecurityAttributes, phkResult, lpdwDisposition);
    }
    LONG RegEnumValueA(HKEY hKey, DWORD dwIndex, char* lpValueName, DWORD* lpcchValueName, DWORD* lpReserved,
                       DWORD* lpType, BYTE* lpData, DWORD* lpcbData) override {
        return m_rrp.RegEnumValueA(Map(hKey), dwIndex, lpValueName, lpcchValueName, lpReserved, lpType, lpData,
                                   lpcbData);
    }
    LONG RegEnumKeyExA(HKEY hKey, DWORD dwIndex, char* lpName, DWORD* lpcchName, DWORD* lpReserved, char* lpClass,
                       DWORD* lpcchClass, FILETIME* lpftLastWriteTime) override {
        return m_rrp.RegEnumKeyExA(Map(hKey), dwIndex, lpName, lpcchName, lpReserved, lpClass, lpcchClass,
                                   lpftLastWriteTime);
    }
    LONG RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
                        DWORD cbData) override {
        return m_rrp.RegSetValueExA(Map(hKey), lpValueName, Reserved, dwType, lpData, cbData);
    }
    LONG RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) override {
        return m_rrp.RegDeleteValueA(Map(hKey), lpValueName);
    }
    LONG RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) override { return m_rrp.RegDeleteKeyA(Map(hKey), lpSubKey); }
    LONG RegCloseKey(HKEY hKey) override { return IsPredefinedKey(hKey) ? ERROR_SUCCESS : m_rrp.RegCloseKey(hKey); }

private:
    HKEY Map(HKEY key) {
        if (key == nullptr || !IsPredefinedKey(key)) return key;
        const auto slot = static_cast<std::size_t>(reinterpret_cast<std::uintptr_t>(key) & 7);
        HKEY& connected = m_roots[slot];
        if (connected == nullptr && m_rrp.RegConnectRegistryA(PeerComputer().c_str(), key, &connected) != 0)
            connected = nullptr;
        return connected != nullptr ? connected : key;
    }

    CRrpRegistry m_rrp;
    std::array<HKEY, 8> m_roots{};
};

}  // namespace

BackendUnderTest MakeBackendUnderTest() {
    BackendUnderTest backend;
    backend.name = "rrp";
    backend.scratchRoot = HKEY_LOCAL_MACHINE;
    backend.traits.keepsClassNames = false;
    backend.traits.sortsSubkeys = false;
    backend.traits.rewriteKeepsValueName = false;
    // Samba cuts longer value names short; the back end finds out and refuses them.
    backend.traits.maxValueNameLength = 255;
    backend.registry = std::make_unique<CRrpRoots>();
    return backend;
}

}  // namespace qv::conformance
