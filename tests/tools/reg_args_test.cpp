// quorvane-reg's command line: key names, switches, and the data /d gives
// for each value type.
#include <gtest/gtest.h>

#include "tools/reg_args.h"

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
    for (const char* bad : {"HKXX\\a", "Software\\Vendor", "\\\\server", "\\\\\\HKLM", "HKLM\\\\a", ""})
        EXPECT_FALSE(ParseKeyName(bad, key)) << bad;
    EXPECT_FALSE(ParseKeyName("\\\\server\\HKLM", key, false)) << "no computers inside .reg files";
}

TEST(RegArgs, OnlyKnownSwitchesAreSwitches) {
    const SwitchDef known[] = {{"v", true}, {"f", false}};
    ParsedArgs args;
    std::string error;
    const std::vector<std::string> words{"/tmp/x.reg", "-V", "/f", "/F2"};
    ASSERT_TRUE(ParseArguments(words, known, args, error)) << error;
    EXPECT_EQ(args.positional, (std::vector<std::string>{"/tmp/x.reg", "/F2"}));
    EXPECT_EQ(args.Get("v"), "/f") << "a switch's argument is the next word, whatever it is";
    EXPECT_FALSE(args.Has("f"));

    EXPECT_FALSE(ParseArguments(std::vector<std::string>{"/f", "/F"}, known, args, error));
    EXPECT_FALSE(ParseArguments(std::vector<std::string>{"/v"}, known, args, error));
    ASSERT_TRUE(ParseArguments(std::vector<std::string>{"-?"}, known, args, error));
    EXPECT_TRUE(args.help);
}

TEST(RegArgs, AddDataForEachType) {
    std::string data, error;
    ASSERT_TRUE(MakeAddData(REG_DWORD, "4294967295", "", data, error));
    EXPECT_EQ(data, "\xFF\xFF\xFF\xFF"s);
    ASSERT_TRUE(MakeAddData(REG_DWORD_BIG_ENDIAN, "0x01020304", "", data, error));
    EXPECT_EQ(data, "\x01\x02\x03\x04"s);
    ASSERT_TRUE(MakeAddData(REG_QWORD, "0x1122334455667788", "", data, error));
    EXPECT_EQ(data, "\x88\x77\x66\x55\x44\x33\x22\x11"s);
    EXPECT_FALSE(MakeAddData(REG_DWORD, "4294967296", "", data, error)) << "overflow";
    EXPECT_FALSE(MakeAddData(REG_DWORD, "12ab", "", data, error));

    ASSERT_TRUE(MakeAddData(REG_MULTI_SZ, "a\\0bc\\0", "", data, error));
    EXPECT_EQ(data, "a\0bc\0\0"s);
    ASSERT_TRUE(MakeAddData(REG_MULTI_SZ, "a#b", "#", data, error));
    EXPECT_EQ(data, "a\0b\0\0"s);
    ASSERT_TRUE(MakeAddData(REG_MULTI_SZ, "", "", data, error));
    EXPECT_EQ(data, "\0"s);
    EXPECT_FALSE(MakeAddData(REG_MULTI_SZ, "a\\0\\0b", "", data, error)) << "an empty item would cut the list";

    ASSERT_TRUE(MakeAddData(REG_BINARY, "00fF10", "", data, error));
    EXPECT_EQ(data, "\x00\xFF\x10"s);
    EXPECT_FALSE(MakeAddData(REG_BINARY, "abc", "", data, error));
    EXPECT_FALSE(MakeAddData(REG_NONE, "zz", "", data, error));
    ASSERT_TRUE(MakeAddData(REG_EXPAND_SZ, "%x%", "", data, error));
    EXPECT_EQ(data, "%x%\0"s);
}

}  // namespace
}  // namespace qv
