// Any value's data made readable: every type, sizes a type does not expect,
// the .reg line, the shortened tip, and both sides with their first
// differing byte marked.
#include <gtest/gtest.h>

#include "compare/data_text.h"

namespace qv {
namespace {

using namespace std::string_literals;

const EnvironmentLookup kEnv = [](const std::string& name) -> std::optional<std::string> {
    if (name == "HOME") return "/home/u";
    return std::nullopt;
};

TEST(DataText, EveryTypeReadsAsTextNumbersOrADumpWithItsRegLine) {
    const std::string bytes20 = "Hello\0\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c\x0d\x0e"s;
    const std::string dump20 = "0000  48 65 6C 6C 6F 00 01 02  03 04 05 06 07 08 09 0A  Hello...........\n"
                               "0010  0B 0C 0D 0E" + std::string(39, ' ') + "....";
    const struct {
        DWORD type;
        std::string data, readable, reg;  // reg: the .reg line, when the case checks it
    } cases[] = {
        {REG_SZ, "C:\\dir\0"s, "C:\\dir", R"("v"="C:\\dir")"},
        {REG_SZ, "\0"s, "(empty string)", ""},
        {REG_SZ, "no terminator", "no terminator", ""},
        {REG_BINARY, "", "(no data)", R"("v"=hex:)"},
        {REG_BINARY, bytes20, dump20, R"("v"=hex:48,65,6c,6c,6f,00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e)"},
        {0x1234, "\xff"s, "0000  FF" + std::string(48, ' ') + ".", R"("v"=hex(1234):ff)"},
        {REG_MULTI_SZ, "one\0two words\0\0"s, "one\ntwo words", ""},
        {REG_MULTI_SZ, "one\0last"s, "one\nlast", ""},
        {REG_MULTI_SZ, "\0\0"s, "(no strings)", ""},
        {REG_EXPAND_SZ, "%HOME%\\bin;%NOPE%\0"s, "%HOME%\\bin;%NOPE%\nExpanded on this computer: /home/u\\bin;%NOPE%",
         R"("v"=hex(2):25,00,48,00,4f,00,4d,00,45,00,25,00,5c,00,62,00,69,00,6e,00,3b,00,\)"
         "\n  25,00,4e,00,4f,00,50,00,45,00,25,00,00,00"},
        {REG_EXPAND_SZ, "100%NOPE%\0"s, "100%NOPE%", ""},
        {REG_DWORD, "\x2a\0\0\0"s, "0x0000002a (42)", R"("v"=dword:0000002a)"},
        {REG_DWORD_BIG_ENDIAN, "\0\0\x01\x02"s, "0x00000102 (258)", R"("v"=hex(5):00,00,01,02)"},
        {REG_QWORD, "\xff\0\0\0\0\0\0\x80"s, "0x80000000000000ff (9223372036854776063)", ""},
        {REG_DWORD, "\x01\x02\x03"s, "(3 bytes, not the 4 of a REG_DWORD)\n0000  01 02 03" + std::string(42, ' ') + "...",
         R"("v"=hex(4):01,02,03)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(TypeAndSize(c.type, c.data.size()) + ": " + c.readable);
        EXPECT_EQ(ReadableData(c.type, c.data, kEnv), c.readable);
        std::string line, error;
        ASSERT_TRUE(ValueRegLine(ValueEntry("v", c.type, c.data), "HKEY_CURRENT_USER\\k", line, error)) << error;
        EXPECT_EQ(c.reg.empty() ? c.reg : line, c.reg);
    }
    EXPECT_EQ(TypeAndSize(0x1234, 1), "REG_UNKNOWN (0x1234), 1 byte");
    // A name no .reg line can hold is refused with the reason.
    std::string line, error;
    EXPECT_FALSE(ValueRegLine(ValueEntry("a\nb", REG_SZ, "x"s), "HKEY_CURRENT_USER\\k", line, error));
    EXPECT_NE(error.find("line break"), std::string::npos) << error;
}

TEST(DataText, TipsAreShortAndBothSidesMarkTheFirstDifferentByte) {
    const std::string tip = DataTip(REG_BINARY, std::string(2000, 'x'), kEnv);
    EXPECT_EQ(std::count(tip.begin(), tip.end(), '\n'), 32);
    EXPECT_TRUE(tip.ends_with("\n... (2000 bytes in all)")) << tip;
    EXPECT_EQ(DataTip(REG_SZ, std::string(150, 'y') + '\0', kEnv), std::string(100, 'y') + "...");

    const ValueEntry master("b", REG_BINARY, std::string(17, 'A')), slave("b", REG_BINARY, std::string(16, 'A') + 'B');
    const std::string both = BothSidesText(&master, &slave, kEnv);
    EXPECT_TRUE(both.starts_with("The data first differ at byte 0x10 (16), in brackets.\n\nMaster: REG_BINARY, 17 bytes\n"))
        << both;
    EXPECT_NE(both.find("0010 [41]" + std::string(47, ' ') + "A"), std::string::npos) << both;
    EXPECT_NE(both.find("0010 [42]"), std::string::npos) << both;
    // Text sides are shown as read; a missing side says so.
    EXPECT_EQ(BothSidesText(nullptr, &slave, kEnv).substr(0, 16), "Master: (none)\n\n");
    const ValueEntry text("t", REG_MULTI_SZ, "a\0b\0\0"s);
    EXPECT_EQ(BothSidesText(&text, nullptr, kEnv), "Master: REG_MULTI_SZ, 5 bytes\na\nb\n\nSlave: (none)");
}

}  // namespace
}  // namespace qv
