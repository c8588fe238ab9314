// Handles: deleted keys, closing, access masks, roots, connecting, OpenKey.
#include "tests/conformance/conformance.h"

#include "model/open_key.h"

namespace qv::conformance {
namespace {

using Names = std::vector<std::string>;
const std::string kText("text", 5);
constexpr const char* kNoSuchComputer = "qv-no-such-computer.invalid";

TEST_F(RegistryConformance, HandleToADeletedKeyAnswersKeyDeleted) {
    HKEY victim = Create(Scratch(), "victim");
    ASSERT_EQ(SetValue(victim, "v", REG_SZ, kText), 0);
    Create(victim, "child");
    // Enumerate first, so that nothing remembered from it outlives the key.
    EXPECT_EQ(Values(victim), Names{"v"});
    EXPECT_EQ(Subkeys(victim), Names{"child"});
    ASSERT_EQ(Reg().RegDeleteKeyA(Scratch(), "victim\\child"), 0);
    ASSERT_EQ(Reg().RegDeleteKeyA(Scratch(), "victim"), 0);
    Create(Scratch(), "VICTIM");  // a new key of the same name is not the old one

    char name[16];
    DWORD length = sizeof name;
    HKEY key = nullptr;
    EXPECT_EQ(Reg().RegEnumKeyExA(victim, 0, name, &length, nullptr, nullptr, nullptr, nullptr),
              ERROR_KEY_DELETED);
    length = sizeof name;
    EXPECT_EQ(Reg().RegEnumValueA(victim, 0, name, &length, nullptr, nullptr, nullptr, nullptr),
              ERROR_KEY_DELETED);
    EXPECT_EQ(SetValue(victim, "v", REG_SZ, kText), ERROR_KEY_DELETED);
    EXPECT_EQ(Reg().RegDeleteValueA(victim, "v"), ERROR_KEY_DELETED);
    EXPECT_EQ(Reg().RegOpenKeyExA(victim, "", 0, KEY_READ, &key), ERROR_KEY_DELETED);
    EXPECT_EQ(Reg().RegOpenKeyExA(victim, "child", 0, KEY_READ, &key), ERROR_KEY_DELETED);
    EXPECT_EQ(Reg().RegCreateKeyExA(victim, "child", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                    nullptr),
              ERROR_KEY_DELETED);
    EXPECT_EQ(Reg().RegDeleteKeyA(victim, ""), ERROR_KEY_DELETED);
    EXPECT_TRUE(Values(Create(Scratch(), "victim")).empty());
    EXPECT_EQ(Close(victim), ERROR_SUCCESS);
}

TEST_F(RegistryConformance, ClosingHandles) {
    HKEY key = Create(Scratch(), "k");
    EXPECT_EQ(Close(key), ERROR_SUCCESS);
    EXPECT_EQ(Reg().RegCloseKey(key), ERROR_INVALID_HANDLE);
    char name[16];
    DWORD length = sizeof name;
    EXPECT_EQ(Reg().RegEnumKeyExA(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr),
              ERROR_INVALID_HANDLE);
    EXPECT_EQ(Reg().RegCloseKey(nullptr), ERROR_INVALID_HANDLE);
    HKEY opened = nullptr;
    EXPECT_EQ(Reg().RegOpenKeyExA(nullptr, "k", 0, KEY_READ, &opened), ERROR_INVALID_HANDLE);

    // Closing a root does nothing: it stays usable.
    EXPECT_EQ(Reg().RegCloseKey(ScratchRoot()), ERROR_SUCCESS);
    EXPECT_TRUE(Exists(ScratchRoot(), ScratchPath() + "\\k"));
}

TEST_F(RegistryConformance, AccessMaskLimitsWhatAHandleMayDo) {
    ASSERT_EQ(SetValue(Scratch(), "kept", REG_SZ, kText), 0);
    Create(Scratch(), "sub");
    HKEY readOnly = nullptr;
    ASSERT_EQ(Open(Scratch(), "", KEY_READ, &readOnly), ERROR_SUCCESS);
    EXPECT_EQ(SetValue(readOnly, "new", REG_SZ, kText), ERROR_ACCESS_DENIED);
    EXPECT_EQ(Reg().RegDeleteValueA(readOnly, "kept"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(Values(readOnly), Names{"kept"});
    EXPECT_EQ(Subkeys(readOnly), Names{"sub"});
    // A created key's handle has the access asked for, too.
    HKEY created = Create(Scratch(), "sub", KEY_READ);
    EXPECT_EQ(SetValue(created, "new", REG_SZ, kText), ERROR_ACCESS_DENIED);

    HKEY writeOnly = nullptr;
    ASSERT_EQ(Open(Scratch(), "", KEY_WRITE, &writeOnly), ERROR_SUCCESS);
    EXPECT_EQ(SetValue(writeOnly, "new", REG_SZ, kText), ERROR_SUCCESS);
    char name[16];
    DWORD length = sizeof name;
    EXPECT_EQ(Reg().RegEnumValueA(writeOnly, 0, name, &length, nullptr, nullptr, nullptr, nullptr),
              ERROR_ACCESS_DENIED);
    length = sizeof name;
    EXPECT_EQ(Reg().RegEnumKeyExA(writeOnly, 0, name, &length, nullptr, nullptr, nullptr, nullptr),
              ERROR_ACCESS_DENIED);
}

TEST_F(RegistryConformance, ConnectingToThisComputerGivesTheRootItself) {
    for (const char* computer : {static_cast<const char*>(nullptr), ""}) {
        HKEY connected = nullptr;
        EXPECT_EQ(Reg().RegConnectRegistryA(computer, HKEY_LOCAL_MACHINE, &connected), ERROR_SUCCESS);
        EXPECT_EQ(connected, HKEY_LOCAL_MACHINE);
    }
    HKEY connected = nullptr;
    EXPECT_EQ(Reg().RegConnectRegistryA(kNoSuchComputer, HKEY_LOCAL_MACHINE, &connected),
              Traits().unknownComputerStatus);
}

TEST_F(RegistryConformance, RootsTheBackEndDoesNotKeep) {
    HKEY key = nullptr;
    char name[16];
    DWORD length = sizeof name;
    if (Traits().dynDataStatus != 0) {
        EXPECT_EQ(Reg().RegOpenKeyExA(HKEY_DYN_DATA, "x", 0, KEY_READ, &key), Traits().dynDataStatus);
        EXPECT_EQ(Reg().RegEnumKeyExA(HKEY_DYN_DATA, 0, name, &length, nullptr, nullptr, nullptr, nullptr),
                  Traits().dynDataStatus);
    }
    if (Traits().performanceDataStatus != 0) {
        EXPECT_EQ(Reg().RegOpenKeyExA(HKEY_PERFORMANCE_DATA, "x", 0, KEY_READ, &key),
                  Traits().performanceDataStatus);
        length = sizeof name;
        EXPECT_EQ(Reg().RegEnumKeyExA(HKEY_PERFORMANCE_DATA, 0, name, &length, nullptr, nullptr, nullptr,
                                      nullptr),
                  Traits().performanceDataStatus);
    }
    EXPECT_EQ(Reg().RegCloseKey(HKEY_DYN_DATA), ERROR_SUCCESS);
    EXPECT_EQ(Reg().RegCloseKey(HKEY_PERFORMANCE_DATA), ERROR_SUCCESS);
}

TEST_F(RegistryConformance, OpenKeyOnARootWithAnEmptyPath) {
    COpenedKey opened(Reg());
    ASSERT_EQ(opened.Open("", ScratchRoot(), "", KEY_READ), 0);
    EXPECT_EQ(opened.Base(), ScratchRoot());
    const std::string first = ScratchPath().substr(0, ScratchPath().find('\\'));
    bool found = false;
    for (const std::string& name : Subkeys(opened.Key())) found = found || name == first;
    EXPECT_TRUE(found) << first << " is not listed below the root";
}

TEST_F(RegistryConformance, OpenKeyCreatesForWritingOnly) {
    const std::string absent = ScratchPath() + "\\made\\deep";
    {
        COpenedKey opened(Reg());
        EXPECT_EQ(opened.Open("", ScratchRoot(), absent, KEY_READ), 1);
        EXPECT_EQ(opened.Key(), nullptr);
    }
    EXPECT_TRUE(Subkeys(Scratch()).empty());
    {
        COpenedKey opened(Reg());
        ASSERT_EQ(opened.Open("", ScratchRoot(), absent, KEY_WRITE), 0);
        EXPECT_EQ(SetValue(opened.Key(), "v", REG_SZ, kText), ERROR_SUCCESS);
    }
    HKEY made = Create(Scratch(), "made");
    char name[16], keyClass[16];
    DWORD length = sizeof name, classLength = sizeof keyClass;
    ASSERT_EQ(Reg().RegEnumKeyExA(made, 0, name, &length, nullptr, keyClass, &classLength, nullptr), 0);
    EXPECT_STREQ(name, "deep");
    EXPECT_STREQ(keyClass, "REG_SZ");
    EXPECT_EQ(FindValue(Create(made, "deep"), "v").data, kText);

    COpenedKey remote(Reg());
    EXPECT_EQ(remote.Open(kNoSuchComputer, ScratchRoot(), ScratchPath(), KEY_READ), 1);
}

}  // namespace
}  // namespace qv::conformance
