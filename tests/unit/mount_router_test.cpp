// The mount router: each computer name reaches the registry it names, the
// handles of different back ends never mix, and every handle a back end
// hands out is closed again: by RegCloseKey, by Unmount, or when the router
// goes; a call that fails leaves no handle behind.
#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>

#include "registry/file_registry.h"
#include "registry/mount_router.h"
#include "tests/support/counting_registry.h"

namespace qv {
namespace {

// The value names of HKCU\Software\Routed on `computer`.
std::string RoutedValues(IRegistry& registry, const char* computer) {
    HKEY root = nullptr, key = nullptr;
    std::string names;
    if (registry.RegConnectRegistryA(computer, HKEY_CURRENT_USER, &root) == ERROR_SUCCESS &&
        registry.RegOpenKeyExA(root, "Software\\Routed", 0, KEY_READ, &key) == ERROR_SUCCESS) {
        char name[64];
        for (DWORD i = 0, size = sizeof name;
             registry.RegEnumValueA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
             ++i, size = sizeof name)
            names += std::string(name, size) + " ";
        registry.RegCloseKey(key);
    }
    if (root != nullptr) registry.RegCloseKey(root);
    return names;
}

TEST(MountRouter, RoutesEachNameAndClosesEveryHandle) {
    CFileRegistry localFiles, mountedFiles;
    for (CFileRegistry* files : {&localFiles, &mountedFiles}) {
        HKEY root = nullptr;  // a registry in memory makes a root on first use
        ASSERT_EQ(files->RegCreateKeyExA(HKEY_CURRENT_USER, "", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &root, nullptr), 0);
    }
    CCountingRegistry local(localFiles), mounted(mountedFiles);
    const char* const kSide = "C:\\sides\\side.reg";
    {
        CMountRouter router(local);
        router.Mount(kSide, std::make_unique<CCountingRegistry>(static_cast<IRegistry&>(mounted)));
        // A mount is found by its name exactly; any other name is this
        // computer's back end's to answer (a file registry refuses them).
        const struct {
            const char* computer;
            CCountingRegistry* reaches;
            LONG status;
        } cases[] = {{nullptr, &local, 0}, {"", &local, 0}, {kSide, &mounted, 0},
                     {"c:\\SIDES\\side.reg", &local, ERROR_BAD_NETPATH}, {"\\\\elsewhere", &local, ERROR_BAD_NETPATH}};
        std::set<HKEY> handles;
        HKEY mountedKey = nullptr;
        for (const auto& c : cases) {
            SCOPED_TRACE(c.computer != nullptr ? c.computer : "(null)");
            const std::size_t before = c.reaches->Calls(RegCall::Connect);
            HKEY root = nullptr, key = nullptr;
            EXPECT_EQ(router.RegConnectRegistryA(c.computer, HKEY_CURRENT_USER, &root), c.status);
            EXPECT_EQ(c.reaches->Calls(RegCall::Connect), before + 1);
            if (c.status != ERROR_SUCCESS) continue;
            ASSERT_EQ(router.RegCreateKeyExA(root, "Software\\Routed", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr), 0);
            const std::string name = "row" + std::to_string(handles.size());
            EXPECT_EQ(router.RegSetValueExA(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 2), 0);
            // The mounted root is a handle of its own, never this computer's
            // predefined one; no handle is handed out twice.
            EXPECT_EQ(root == HKEY_CURRENT_USER, c.reaches == &local);
            EXPECT_TRUE(handles.insert(key).second);
            if (c.reaches == &mounted) {
                EXPECT_TRUE(handles.insert(root).second);
                mountedKey = key;  // left open for Unmount to close
                continue;
            }
            EXPECT_EQ(router.RegCloseKey(key), ERROR_SUCCESS);
        }
        EXPECT_EQ(RoutedValues(router, nullptr), "row0 row1 ");
        EXPECT_EQ(RoutedValues(router, kSide), "row2 ");
        EXPECT_EQ(RoutedValues(localFiles, nullptr), "row0 row1 ");

        // Failures leave no handle: a refused open, an unknown handle.
        mounted.FailCall(RegCall::OpenKey, 1, ERROR_ACCESS_DENIED);
        HKEY none = nullptr;
        EXPECT_EQ(router.RegOpenKeyExA(mountedKey, "", 0, KEY_READ, &none), ERROR_ACCESS_DENIED);
        EXPECT_EQ(router.RegOpenKeyExA(reinterpret_cast<HKEY>(0x7ff0), "x", 0, KEY_READ, &none), ERROR_INVALID_HANDLE);
        EXPECT_EQ(router.RegCloseKey(reinterpret_cast<HKEY>(0x7ff0)), ERROR_INVALID_HANDLE);
        EXPECT_EQ(none, nullptr);
        EXPECT_EQ(router.OpenHandleCount(), 2u);

        // Unmounting closes what is still open there; its handles are then unknown.
        EXPECT_EQ(mounted.OpenHandles(), 1u);  // the key; its root is predefined there
        router.Unmount(kSide);
        EXPECT_EQ(mounted.OpenHandles(), 0u);
        EXPECT_EQ(router.RegDeleteValueA(mountedKey, "row2"), ERROR_INVALID_HANDLE);
        EXPECT_EQ(router.OpenHandleCount(), 0u);

        // The router closes what callers leave open when it goes.
        HKEY left = nullptr;
        ASSERT_EQ(router.RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Routed", 0, KEY_READ, &left), ERROR_SUCCESS);
        EXPECT_EQ(local.OpenHandles(), 1u);
    }
    EXPECT_EQ(local.OpenHandles(), 0u);
    EXPECT_TRUE(local.Errors().empty() && mounted.Errors().empty());
}

}  // namespace
}  // namespace qv
