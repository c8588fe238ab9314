// The conformance suite against the Windows registry through CWin32Registry,
// run on Windows or (in CI) under Wine. Scratch keys go below
// HKEY_CURRENT_USER\Software\QuorvaneConformance and are removed afterwards.
#include <string>

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

// Measured under Wine 8.0.
BackendTraits WineTraits() {
    BackendTraits traits;
    // Values come back sorted by name (folded to lower case), not in
    // creation order.
    traits.sortsValuesByName = true;
    traits.foldsToLowerCase = true;
    // Key names of 256 characters are accepted, 257 give
    // ERROR_INVALID_PARAMETER. Not in the traits, as the suite asks for no
    // such path: the ...A calls refuse a whole subkey path of more than 260
    // characters with ERROR_MORE_DATA, however short its names.
    traits.maxKeyNameLength = 256;
    traits.keyNameTooLongStatus = ERROR_INVALID_PARAMETER;
    traits.maxValueNameLength = 16383;
    traits.valueNameTooLongStatus = ERROR_INVALID_PARAMETER;
    // Keys nest without limit (2000 levels were made without complaint).
    traits.maxKeyDepth = 0;
    // HKEY_DYN_DATA exists: opening "x" below it gives ERROR_FILE_NOT_FOUND
    // but enumerating it succeeds, so one status cannot describe it.
    traits.dynDataStatus = 0;
    traits.performanceDataStatus = ERROR_INVALID_HANDLE;
    // Wine has no remote registry: every name but this computer's own gives
    // ERROR_BAD_NETPATH at once; its own name gives the root itself.
    traits.unknownComputerStatus = ERROR_BAD_NETPATH;
    return traits;
}

// Windows as documented; CI runs only under Wine, so these have not been
// measured there.
BackendTraits WindowsTraits() {
    BackendTraits traits;
    traits.sortsValuesByName = false;
    // Windows orders subkeys by their upper-cased names.
    traits.foldsToLowerCase = false;
    return traits;
}

}  // namespace

BackendUnderTest MakeBackendUnderTest() {
    BackendUnderTest backend;
    const char* wine = WineVersion();
    backend.name = wine != nullptr ? std::string("win32 (Wine ") + wine + ")" : "win32";
    backend.registry = std::make_unique<CWin32Registry>();
    backend.scratchRoot = HKEY_CURRENT_USER;
    backend.scratchParent = "Software\\QuorvaneConformance";
    backend.traits = wine != nullptr ? WineTraits() : WindowsTraits();
    return backend;
}

}  // namespace qv::conformance
