// Values: names, order, the enumeration buffer rules and data round trips.
#include "tests/conformance/conformance.h"

#include <algorithm>
#include <cstring>

namespace qv::conformance {
namespace {

using Names = std::vector<std::string>;
const std::string kText("text", 5);  // with its terminator, as RegSetValueExA takes it

TEST_F(RegistryConformance, ValueNamesIgnoreCaseAndRewritesKeepTheirPlace) {
    for (const char* name : {"zeta", "Alpha", "mid"}) ASSERT_EQ(SetValue(Scratch(), name, REG_SZ, kText), 0);
    const Names created = Traits().sortsValuesByName ? Names{"Alpha", "mid", "zeta"}
                                                     : Names{"zeta", "Alpha", "mid"};
    EXPECT_EQ(Values(Scratch()), created);

    // Same value, new type and data, old name and position (Samba: the new
    // name, and the value goes last).
    ASSERT_EQ(SetValue(Scratch(), "ALPHA", REG_BINARY, std::string("\0\1", 2)), ERROR_SUCCESS);
    const char* alphaName = Traits().rewriteKeepsValueName ? "Alpha" : "ALPHA";
    Names renamed = created;
    if (!Traits().rewriteKeepsValueName) {
        renamed.erase(std::find(renamed.begin(), renamed.end(), "Alpha"));
        renamed.push_back(alphaName);
    }
    EXPECT_EQ(Values(Scratch()), renamed);
    const ValueRead alpha = FindValue(Scratch(), alphaName);
    EXPECT_EQ(alpha.type, DWORD{REG_BINARY});
    EXPECT_EQ(alpha.data, std::string("\0\1", 2));

    EXPECT_EQ(Reg().RegDeleteValueA(Scratch(), "MID"), ERROR_SUCCESS);
    EXPECT_EQ(Reg().RegDeleteValueA(Scratch(), "mid"), ERROR_FILE_NOT_FOUND);
    ASSERT_EQ(SetValue(Scratch(), "Mid", REG_SZ, kText), ERROR_SUCCESS);
    const Names rewritten = Traits().sortsValuesByName ? Names{alphaName, "Mid", "zeta"} : Names{"zeta", alphaName, "Mid"};
    EXPECT_EQ(Values(Scratch()), rewritten);

    // The default value has the empty name.
    EXPECT_EQ(Reg().RegDeleteValueA(Scratch(), nullptr), ERROR_FILE_NOT_FOUND);
    ASSERT_EQ(SetValue(Scratch(), nullptr, REG_SZ, kText), ERROR_SUCCESS);
    const ValueRead read = FindValue(Scratch(), "");
    EXPECT_EQ(read.status, ERROR_SUCCESS);
    EXPECT_EQ(read.data, kText);
    EXPECT_EQ(Reg().RegDeleteValueA(Scratch(), ""), ERROR_SUCCESS);
    EXPECT_EQ(Values(Scratch()), rewritten);
}

TEST_F(RegistryConformance, EnumerationBufferRules) {
    ASSERT_EQ(SetValue(Scratch(), "abcdef", REG_BINARY, "123"), ERROR_SUCCESS);
    ASSERT_EQ(SetValue(Scratch(), "b", REG_BINARY, "4"), ERROR_SUCCESS);
    char keyClass[] = "Klass";
    HKEY key = nullptr;
    ASSERT_EQ(Reg().RegCreateKeyExA(Scratch(), "abcdef", 0, keyClass, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr), 0);
    Close(key);
    Create(Scratch(), "b");
    char name[16];
    BYTE data[16];
    DWORD type = 0;

    // A name needs its length plus the terminator; too little is 234,
    // and the next index is still fine.
    for (const bool keys : {false, true}) {
        const auto enumerate = [&](DWORD index, DWORD size, std::string* read) {
            return keys ? EnumKey(Scratch(), index, size, read) : EnumValue(Scratch(), index, size, read);
        };
        std::string read;
        EXPECT_EQ(enumerate(0, 6, nullptr), ERROR_MORE_DATA);
        EXPECT_EQ(enumerate(1, 16, &read), 0);
        EXPECT_EQ(read, "b");
        ASSERT_EQ(enumerate(0, 7, &read), 0);
        EXPECT_EQ(read, "abcdef");
        EXPECT_EQ(enumerate(2, 256, nullptr), ERROR_NO_MORE_ITEMS);
    }

    // Data too large for the buffer: 234 and the size needed.
    DWORD length = sizeof name, size = 2;
    EXPECT_EQ(Reg().RegEnumValueA(Scratch(), 0, name, &length, nullptr, &type, data, &size),
              ERROR_MORE_DATA);
    EXPECT_EQ(size, 3u);
    // No buffer: only the size.
    length = sizeof name, size = 0;
    EXPECT_EQ(Reg().RegEnumValueA(Scratch(), 0, name, &length, nullptr, &type, nullptr, &size), 0);
    EXPECT_EQ(size, 3u);
    EXPECT_EQ(type, DWORD{REG_BINARY});
    length = sizeof name, size = 3;
    EXPECT_EQ(Reg().RegEnumValueA(Scratch(), 0, name, &length, nullptr, nullptr, data, &size), 0);
    EXPECT_EQ(std::memcmp(data, "123", 3), 0);
    // A buffer with no size is refused.
    length = sizeof name;
    EXPECT_EQ(Reg().RegEnumValueA(Scratch(), 0, name, &length, nullptr, nullptr, data, nullptr),
              ERROR_INVALID_PARAMETER);

    EXPECT_EQ(EnumKey(Create(Scratch(), "b"), 0), ERROR_NO_MORE_ITEMS);
    if (!Traits().keepsClassNames) return;
    char got[16];
    DWORD classLength = 5;
    length = 7;
    EXPECT_EQ(Reg().RegEnumKeyExA(Scratch(), 0, name, &length, nullptr, got, &classLength, nullptr),
              ERROR_MORE_DATA);
    length = 7, classLength = 6;
    FILETIME written{};
    ASSERT_EQ(Reg().RegEnumKeyExA(Scratch(), 0, name, &length, nullptr, got, &classLength, &written), 0);
    EXPECT_EQ(length, 6u);
    EXPECT_STREQ(name, "abcdef");
    EXPECT_EQ(std::string(got, classLength), "Klass");
    EXPECT_NE(written.dwHighDateTime, 0u);
}

TEST_F(RegistryConformance, DataRoundTripsWhole) {
    std::string pattern(300, '\0'), big(100000, '\0');
    for (std::size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<char>(i * 7);
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i % 251);
    const struct {
        const char* name;
        DWORD type;
        std::string data;
    } cases[] = {
        {"empty", REG_BINARY, ""},
        {"zeros", REG_BINARY, std::string("\0\1\0\0\2\0", 6)},
        {"over255", REG_BINARY, pattern},
        {"big", REG_BINARY, big},
        {"dword", REG_DWORD, std::string("\x29\0\0\0", 4)},
        {"qword", REG_QWORD, std::string("\1\2\3\4\5\6\7\x8", 8)},
        {"multi", REG_MULTI_SZ, std::string("a\0bc\0\0", 6)},
        {"text", REG_SZ, kText},
        {"longtext", REG_SZ, std::string(1000, 'y') + '\0'},
        {"expand", REG_EXPAND_SZ, std::string("%PATH%\0", 7)},
        {"none", REG_NONE, std::string("\xff\0", 2)},
    };
    for (const auto& c : cases) ASSERT_EQ(SetValue(Scratch(), c.name, c.type, c.data), 0) << c.name;
    for (const auto& c : cases) {
        const ValueRead read = FindValue(Scratch(), c.name);
        ASSERT_EQ(read.status, ERROR_SUCCESS) << c.name;
        EXPECT_EQ(read.type, c.type) << c.name;
        EXPECT_EQ(read.data.size(), c.data.size()) << c.name;
        EXPECT_TRUE(read.data == c.data) << c.name;
    }
    // A big value replaced by a small one, and back.
    ASSERT_EQ(SetValue(Scratch(), "big", REG_BINARY, "small"), 0);
    EXPECT_EQ(FindValue(Scratch(), "big").data, "small");
    ASSERT_EQ(SetValue(Scratch(), "big", REG_BINARY, big), 0);
    EXPECT_TRUE(FindValue(Scratch(), "big").data == big);

    // No data at all is empty data; a size without data is refused.
    EXPECT_EQ(Reg().RegSetValueExA(Scratch(), "null", 0, REG_BINARY, nullptr, 0), ERROR_SUCCESS);
    EXPECT_EQ(FindValue(Scratch(), "null").data, "");
    constexpr LONG kErrorNoAccess = 998;
    EXPECT_EQ(Reg().RegSetValueExA(Scratch(), "bad", 0, REG_BINARY, nullptr, 4), kErrorNoAccess);
    EXPECT_EQ(FindValue(Scratch(), "bad").status, ERROR_NO_MORE_ITEMS);
}

}  // namespace
}  // namespace qv::conformance
