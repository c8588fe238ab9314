// Handles: deleted keys, closing, access masks, roots, connecting, and the
// program's OpenKey on top of them.
#include "tests/conformance/conformance.h"

#include <algorithm>
#include <cctype>

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

    HKEY key = nullptr;
    EXPECT_EQ(EnumKey(victim, 0), ERROR_KEY_DELETED);
    EXPECT_EQ(EnumValue(victim, 0), ERROR_KEY_DELETED);
    EXPECT_EQ(SetValue(victim, "v", REG_SZ, kText), ERROR_KEY_DELETED);
    EXPECT_EQ(Reg().RegDeleteValueA(victim, "v"), ERROR_KEY_DELETED);
    EXPECT_EQ(Open(victim, "", KEY_READ, &key), ERROR_KEY_DELETED);
    EXPECT_EQ(Open(victim, "child", KEY_READ, &key), ERROR_KEY_DELETED);
    EXPECT_EQ(CreateStatus(victim, "child"), ERROR_KEY_DELETED);
    EXPECT_EQ(Reg().RegDeleteKeyA(victim, ""), ERROR_KEY_DELETED);
    EXPECT_TRUE(Values(Create(Scratch(), "victim")).empty());
    EXPECT_EQ(Close(victim), ERROR_SUCCESS);
}

TEST_F(RegistryConformance, ClosingHandlesAndRoots) {
    HKEY key = Create(Scratch(), "k");
    EXPECT_EQ(Close(key), ERROR_SUCCESS);
    EXPECT_EQ(Reg().RegCloseKey(key), ERROR_INVALID_HANDLE);
    EXPECT_EQ(EnumKey(key, 0), ERROR_INVALID_HANDLE);
    EXPECT_EQ(Reg().RegCloseKey(nullptr), ERROR_INVALID_HANDLE);
    EXPECT_EQ(Open(nullptr, "k", KEY_READ, &key), ERROR_INVALID_HANDLE);

    // Closing a root does nothing: it stays usable.
    EXPECT_EQ(Reg().RegCloseKey(ScratchRoot()), ERROR_SUCCESS);
    EXPECT_TRUE(Exists(ScratchRoot(), ScratchPath() + "\\k"));
    // Connecting to this computer gives the root itself.
    for (const char* computer : {static_cast<const char*>(nullptr), ""}) {
        EXPECT_EQ(Reg().RegConnectRegistryA(computer, ScratchRoot(), &key), ERROR_SUCCESS);
        EXPECT_EQ(key, ScratchRoot());
    }
    EXPECT_EQ(Reg().RegConnectRegistryA(kNoSuchComputer, ScratchRoot(), &key), Traits().unknownComputerStatus);
    // Roots the back end does not keep.
    for (const auto& [root, status] : {std::pair{HKEY_DYN_DATA, Traits().dynDataStatus},
                                       std::pair{HKEY_PERFORMANCE_DATA, Traits().performanceDataStatus}}) {
        if (status != 0) {
            EXPECT_EQ(Open(root, "x", KEY_READ, &key), status);
            EXPECT_EQ(EnumKey(root, 0), status);
        }
        EXPECT_EQ(Reg().RegCloseKey(root), ERROR_SUCCESS);
    }
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
    EXPECT_EQ(SetValue(Create(Scratch(), "sub", KEY_READ), "new", REG_SZ, kText), ERROR_ACCESS_DENIED);

    HKEY writeOnly = nullptr;
    ASSERT_EQ(Open(Scratch(), "", KEY_WRITE, &writeOnly), ERROR_SUCCESS);
    EXPECT_EQ(SetValue(writeOnly, "new", REG_SZ, kText), ERROR_SUCCESS);
    EXPECT_EQ(EnumValue(writeOnly, 0), ERROR_ACCESS_DENIED);
    EXPECT_EQ(EnumKey(writeOnly, 0), ERROR_ACCESS_DENIED);
}

TEST_F(RegistryConformance, OpenKeyReadsRootsAndCreatesForWritingOnly) {
    {
        COpenedKey opened(Reg());
        ASSERT_EQ(opened.Open("", ScratchRoot(), "", KEY_READ), 0);
        EXPECT_EQ(opened.Base(), ScratchRoot());
        // Names ignore case: Samba's root keys spell SOFTWARE in capitals.
        const auto fold = [](std::string name) {
            for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            return name;
        };
        const std::string first = fold(ScratchPath().substr(0, ScratchPath().find('\\')));
        Names below = Subkeys(opened.Key());
        for (std::string& name : below) name = fold(name);
        EXPECT_NE(std::find(below.begin(), below.end(), first), below.end()) << first << " is not below the root";
    }
    const std::string absent = ScratchPath() + "\\made\\deep";
    {
        COpenedKey opened(Reg());
        EXPECT_EQ(opened.Open("", ScratchRoot(), absent, KEY_READ), ERROR_FILE_NOT_FOUND);  // the reason, not a bare 1
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
    if (Traits().keepsClassNames) {
        EXPECT_STREQ(keyClass, "REG_SZ");
    }
    EXPECT_EQ(FindValue(Create(made, "deep"), "v").data, kText);

    COpenedKey remote(Reg());
    EXPECT_EQ(remote.Open(kNoSuchComputer, ScratchRoot(), ScratchPath(), KEY_READ), Traits().unknownComputerStatus);
}

}  // namespace
}  // namespace qv::conformance
