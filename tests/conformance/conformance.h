// The registry contract every back end meets. The same tests run against
// this computer's store, against Wine's registry through the Win32 back end
// and against the network back end; each back end's test program defines
// MakeBackendUnderTest(). The tests work only beneath a scratch key of their
// own, so they are safe on a real registry.
//
// Nothing here may need more than the standard library, GoogleTest and
// <windows.h> (through registry_types.h): the file also builds with
// mingw-w64.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "model/registry.h"

namespace qv::conformance {

// Codes the tests expect that registry_types.h does not name.
constexpr LONG kErrorBadPathname = 161;

// Where back ends are allowed to differ. The defaults are the store's.
struct BackendTraits {
    // Windows and the store enumerate values in creation order; Wine sorts
    // them by name.
    bool sortsValuesByName = false;
    // Wine and the store order names folded to lower case, so '[', '\', ']',
    // '^', '_' and '`' come before the letters. Folding to upper case puts
    // them after 'Z'.
    bool foldsToLowerCase = true;
    // Longest key name accepted, and the status for one character more.
    // Wine takes 256 characters.
    std::size_t maxKeyNameLength = 255;
    LONG keyNameTooLongStatus = ERROR_INVALID_PARAMETER;
    std::size_t maxValueNameLength = 16383;
    LONG valueNameTooLongStatus = ERROR_INVALID_PARAMETER;
    // Deepest key below a root and the status for one level more; 0 when the
    // back end sets no limit (Wine).
    std::size_t maxKeyDepth = 512;
    LONG keyTooDeepStatus = ERROR_INVALID_PARAMETER;
    // Status of opening a subkey of HKEY_DYN_DATA / HKEY_PERFORMANCE_DATA,
    // or 0 to leave that root untested (Wine keeps an HKEY_DYN_DATA).
    LONG dynDataStatus = ERROR_INVALID_HANDLE;
    LONG performanceDataStatus = ERROR_INVALID_HANDLE;
    // Hives written through hivex keep no class names, nor does Samba.
    bool keepsClassNames = true;
    // Samba enumerates subkeys in the order they were made, not sorted.
    bool sortsSubkeys = true;
    // Rewriting a value under another spelling of its name keeps the old
    // spelling and place; Samba takes the new spelling and puts it last.
    bool rewriteKeepsValueName = true;
    // RegConnectRegistryA to a computer that does not exist.
    LONG unknownComputerStatus = ERROR_BAD_NETPATH;
};

struct BackendUnderTest {
    std::string name;
    std::unique_ptr<IRegistry> registry;
    HKEY scratchRoot = HKEY_CURRENT_USER;
    // Parent of the per-test scratch keys, below scratchRoot.
    std::string scratchParent = "Software\\QuorvaneConformance";
    BackendTraits traits;
    // Runs after the registry is released (removes a temporary store, ...).
    std::function<void()> cleanup;
};

// One fresh back end per test; defined once per back end.
BackendUnderTest MakeBackendUnderTest();

// One value as read back through RegEnumValueA.
struct ValueRead {
    LONG status = 0;
    std::string name;
    DWORD type = 0;
    std::string data;
};

class RegistryConformance : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    IRegistry& Reg() { return *m_backend.registry; }
    const BackendTraits& Traits() const { return m_backend.traits; }
    HKEY ScratchRoot() const { return m_backend.scratchRoot; }
    // The scratch key's path below ScratchRoot(), and an open handle to it.
    const std::string& ScratchPath() const { return m_scratchPath; }
    HKEY Scratch() const { return m_scratch; }

    // Creates (or opens) `path` below `parent`; the handle is closed after
    // the test unless Close() is called first. Fails the test on error.
    HKEY Create(HKEY parent, const std::string& path, REGSAM access = KEY_ALL_ACCESS,
                DWORD* disposition = nullptr);
    // Opens `path`; `*key` is tracked like Create's.
    LONG Open(HKEY parent, const char* path, REGSAM access, HKEY* key);
    LONG Close(HKEY key);
    bool Exists(HKEY parent, const std::string& path);

    LONG SetValue(HKEY key, const char* name, DWORD type, const std::string& data);
    // Subkey or value names in enumeration order; fails the test if the
    // enumeration ends with anything but ERROR_NO_MORE_ITEMS.
    std::vector<std::string> Subkeys(HKEY key);
    std::vector<std::string> Values(HKEY key);
    ValueRead ValueAt(HKEY key, DWORD index);
    // The value named `name` (exactly), read with buffers large enough.
    ValueRead FindValue(HKEY key, const std::string& name);
    // RegCreateKeyExA's status for `path`; a key it makes is tracked like Create's.
    LONG CreateStatus(HKEY parent, const std::string& path);
    // RegEnumKeyExA / RegEnumValueA at `index` with a name buffer of `size`
    // characters and nothing more asked for; the name read goes to `*name`.
    LONG EnumKey(HKEY key, DWORD index, DWORD size = 256, std::string* name = nullptr);
    LONG EnumValue(HKEY key, DWORD index, DWORD size = 256, std::string* name = nullptr);
    // Deletes `path` and everything below it.
    LONG DeleteTree(HKEY parent, const std::string& path);

private:
    BackendUnderTest m_backend;
    std::string m_scratchPath;
    HKEY m_scratch = nullptr;
    std::vector<HKEY> m_tracked;
};

}  // namespace qv::conformance
