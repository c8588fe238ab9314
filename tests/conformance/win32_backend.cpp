// The conformance suite against the Windows registry through CWin32Registry,
// run on Windows or (in CI) under Wine, and other computers' names through
// the mount router. Scratch keys go below
// HKEY_CURRENT_USER\Software\QuorvaneConformance and are removed afterwards.
#include <string>

#include "model/registry_errors.h"
#include "registry/mount_router.h"
#include "registry/win32_registry.h"
#include "tests/conformance/conformance.h"

namespace qv::conformance {

namespace {

// Wine's ntdll exports wine_get_version; Windows' does not.
const char* WineVersion() {
    const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    if (ntdll == nullptr) return nullptr;
    using Version = const char*(__cdecl*)();
    const auto version = reinterpret_cast<Version>(
        reinterpret_cast<void (*)()>(::GetProcAddress(ntdll, "wine_get_version")));
    return version != nullptr ? version() : nullptr;
}

// Measured under Wine 8.0; what is not set here is as the store does it
// (names folded to lower case, value names of 16383 characters, and
// ERROR_BAD_NETPATH for every computer name but this computer's own).
BackendTraits WineTraits() {
    BackendTraits traits;
    // Values come back sorted by name (folded to lower case), not in
    // creation order.
    traits.sortsValuesByName = true;
    // Key names of 256 characters are accepted, 257 give
    // ERROR_INVALID_PARAMETER. Not in the traits, as the suite asks for no
    // such path: the ...A calls refuse a whole subkey path of more than 260
    // characters with ERROR_MORE_DATA, however short its names.
    traits.maxKeyNameLength = 256;
    // Keys nest without limit (2000 levels were made without complaint).
    traits.maxKeyDepth = 0;
    // HKEY_DYN_DATA exists: opening "x" below it gives ERROR_FILE_NOT_FOUND
    // but enumerating it succeeds, so one status cannot describe it.
    traits.dynDataStatus = 0;
    return traits;
}

// Windows as documented (CI runs only under Wine, so not measured there):
// values in creation order, subkeys ordered by their upper-cased names.
BackendTraits WindowsTraits() {
    BackendTraits traits;
    traits.foldsToLowerCase = false;
    return traits;
}

}  // namespace

BackendUnderTest MakeBackendUnderTest() {
    BackendUnderTest backend;
    const char* wine = WineVersion();
    backend.name = wine != nullptr ? std::string("win32 (Wine ") + wine + ")" : "win32";
    backend.registry = std::make_unique<CWin32Registry>();
    backend.traits = wine != nullptr ? WineTraits() : WindowsTraits();
    return backend;
}

}  // namespace qv::conformance

namespace qv {
namespace {

// A computer's name (`\\computer` or bare) through the mount router reaches
// Windows' own remote registry: this computer by its own name opens (Wine
// serves no other), a name no computer has is refused with "The network path
// was not found.", in ASCII and in Cyrillic alike, and no handle is left open.
TEST(Win32ComputerNames, ThisComputerByNameOpensOthersAreRefused) {
    wchar_t own[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
    ASSERT_TRUE(::GetComputerNameW(own, &length));
    std::string ownName(static_cast<std::size_t>(length) * 3, '\0');
    ownName.resize(static_cast<std::size_t>(::WideCharToMultiByte(CP_UTF8, 0, own, static_cast<int>(length),
                                                                  ownName.data(), static_cast<int>(ownName.size()),
                                                                  nullptr, nullptr)));
    CWin32Registry win32;
    CMountRouter router(win32);
    struct Case {
        std::string computer;
        LONG status;
    };
    const Case cases[] = {
        {"\\\\" + ownName, ERROR_SUCCESS},
        {ownName, ERROR_SUCCESS},  // as the document passes it
        {"\\\\qv-no-such-computer", ERROR_BAD_NETPATH},
        {"\\\\Нет-такого-компьютера", ERROR_BAD_NETPATH},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.computer);
        HKEY root = nullptr, key = nullptr;
        const LONG status = router.RegConnectRegistryA(c.computer.c_str(), HKEY_LOCAL_MACHINE, &root);
        EXPECT_EQ(status, c.status) << RegistryErrorText(status);
        if (status != ERROR_SUCCESS) {
            EXPECT_EQ(RegistryErrorText(status), "The network path was not found. (status 53)");
            continue;
        }
        EXPECT_EQ(router.RegOpenKeyExA(root, "Software", 0, KEY_READ, &key), ERROR_SUCCESS);
        char name[256];
        DWORD size = sizeof name;
        EXPECT_EQ(router.RegEnumKeyExA(key, 0, name, &size, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
        EXPECT_EQ(router.RegCloseKey(key), ERROR_SUCCESS);
        EXPECT_EQ(router.RegCloseKey(root), ERROR_SUCCESS);
    }
    EXPECT_EQ(router.OpenHandleCount(), 0u);
}

}  // namespace
}  // namespace qv
