// quorvane-reg's command line: key names and the data /d gives for each
// value type (switches are checked through the commands).
#include <gtest/gtest.h>

#include <optional>

#include "tools/reg_args.h"
#include "tools/reg_sides.h"

namespace qv {
namespace {

using namespace std::string_literals;

TEST(RegArgs, KeyNamesTakeEveryRootSpellingAndAComputer) {
    RegKeyName key;
    ASSERT_TRUE(ParseKeyName("hklm\\Software\\Vendor\\", key));
    EXPECT_EQ(key.root, HKEY_LOCAL_MACHINE);
    EXPECT_EQ(key.Full(), "HKEY_LOCAL_MACHINE\\Software\\Vendor");
    ASSERT_TRUE(ParseKeyName("Hkey_Current_User", key));
    EXPECT_EQ(key.root, HKEY_CURRENT_USER);
    EXPECT_EQ(key.path, "");
    ASSERT_TRUE(ParseKeyName("\\\\server\\HKU\\.DEFAULT", key));
    EXPECT_EQ(key.computer, "server");
    EXPECT_EQ(key.Full(), "HKEY_USERS\\.DEFAULT");
    // A Windows computer's name may stand without backslashes before it.
    for (const char* name : {"\\\\smb://[::1]:4450\\HKLM\\Software", "SMB://[::1]:4450\\HKLM\\Software"}) {
        ASSERT_TRUE(ParseKeyName(name, key)) << name;
        EXPECT_EQ(key.computer, std::string(name).substr(name[0] == '\\' ? 2 : 0, 16)) << name;
        EXPECT_EQ(key.Full(), "HKEY_LOCAL_MACHINE\\Software");
        std::string keyText;
        EXPECT_EQ(SourceOf(name, keyText), "") << "an IPv6 address is no FILE::KEY";
    }
    std::string keyText;
    EXPECT_EQ(SourceOf("\\\\server\\share\\SOFTWARE::HKLM\\x", keyText), "\\\\server\\share\\SOFTWARE");
    for (const char* bad : {"HKXX\\a", "Software\\Vendor", "\\\\server", "\\\\\\HKLM", "HKLM\\\\a", "", "smb://h"})
        EXPECT_FALSE(ParseKeyName(bad, key)) << bad;
    EXPECT_FALSE(ParseKeyName("\\\\server\\HKLM", key, false)) << "no computers inside .reg files";
}

TEST(RegArgs, AddDataForEachType) {
    const struct {
        DWORD type;
        const char* text;
        const char* separator;
        std::optional<std::string> data;  // none: refused
    } cases[] = {
        {REG_DWORD, "4294967295", "", "\xFF\xFF\xFF\xFF"s},
        {REG_DWORD, "4294967296", "", std::nullopt},  // overflow
        {REG_DWORD, "12ab", "", std::nullopt},
        {REG_DWORD_BIG_ENDIAN, "0x01020304", "", "\x01\x02\x03\x04"s},
        {REG_QWORD, "0x1122334455667788", "", "\x88\x77\x66\x55\x44\x33\x22\x11"s},
        {REG_MULTI_SZ, "a\\0bc\\0", "", "a\0bc\0\0"s},
        {REG_MULTI_SZ, "a#b", "#", "a\0b\0\0"s},
        {REG_MULTI_SZ, "", "", "\0"s},
        {REG_MULTI_SZ, "a\\0\\0b", "", std::nullopt},  // an empty item would cut the list
        {REG_BINARY, "00fF10", "", "\x00\xFF\x10"s},
        {REG_BINARY, "abc", "", std::nullopt},
        {REG_NONE, "zz", "", std::nullopt},
        {REG_EXPAND_SZ, "%x%", "", "%x%\0"s},
    };
    for (const auto& c : cases) {
        std::string data, error;
        EXPECT_EQ(MakeAddData(c.type, c.text, c.separator, data, error), c.data.has_value()) << c.text;
        EXPECT_EQ(data, c.data.value_or(data)) << c.text;
    }
}

}  // namespace
}  // namespace qv
