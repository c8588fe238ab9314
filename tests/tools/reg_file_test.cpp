// .reg files: UTF-16 conversions, parsing every form of line, refusing
// mistakes with their line, writing what regedit writes.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <tuple>

#include "files/reg_file.h"

namespace qv {

// UTF-16LE with a byte-order mark for ASCII text, as regedit writes it.
std::string Utf16File(const std::string& ascii) {
    std::string bytes = "\xff\xfe";
    for (const char c : ascii) bytes += std::string{c, '\0'};
    return bytes;
}

namespace {

using namespace std::string_literals;

TEST(RegFileText, ConversionsAreStrictBothWays) {
    std::string u16, back;
    ASSERT_TRUE(Utf8ToUtf16le("a\xC3\xA9\xF0\x9F\x98\x80"s, u16));
    EXPECT_EQ(u16, "a\0\xE9\0\x3D\xD8\x00\xDE"s);
    ASSERT_TRUE(Utf16leToUtf8(u16, back));
    EXPECT_EQ(back, "a\xC3\xA9\xF0\x9F\x98\x80"s);

    EXPECT_FALSE(Utf16leToUtf8("\x00\xD8\x41\x00"s, back)) << "high surrogate without its pair";
    EXPECT_FALSE(Utf16leToUtf8("\x00\xDC"s, back)) << "lone low surrogate";
    EXPECT_FALSE(Utf16leToUtf8("A\0B"s, back)) << "odd byte count";
    EXPECT_FALSE(Utf8ToUtf16le("\xC0\xAF"s, u16)) << "overlong";
    EXPECT_FALSE(Utf8ToUtf16le("\xED\xA0\x80"s, u16)) << "encoded surrogate";
    EXPECT_FALSE(Utf8ToUtf16le("\xE2\x82"s, u16)) << "truncated";
}

// Comments, spaces around '=', continued hex lists, value deletions and
// short root names; the values of every type are read back through the
// commands' imports.
TEST(RegFileParse, ReadsEveryFormOfLine) {
    const std::string text =
        "Windows Registry Editor Version 5.00\r\n"
        "\r\n"
        "; a comment\r\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Vendor]\r\n"
        "\"Count\" = dword:0000001F\r\n"
        "\"Bin\"=hex:00,01,\\\r\n"
        "    ff\r\n"
        "\"Gone\"=-\r\n"
        "[-HKCU\\Software\\Old]\r\n";
    RegFileContent content;
    std::string error;
    ASSERT_TRUE(ParseRegFile(Utf16File(text), content, error)) << error;
    EXPECT_EQ(content.format, RegFileFormat::kVersion5);
    // kind, key or value name, type, data, line.
    std::vector<std::tuple<int, std::string, DWORD, std::string, std::size_t>> ops;
    for (const RegFileOp& op : content.ops)
        ops.emplace_back(op.kind, op.kind == RegFileOp::kKey || op.kind == RegFileOp::kDeleteKey ? op.key.Full() : op.value.name,
                         op.kind == RegFileOp::kSetValue ? op.value.type : 0u, op.value.data, op.line);
    const std::vector<std::tuple<int, std::string, DWORD, std::string, std::size_t>> expected = {
        {RegFileOp::kKey, "HKEY_LOCAL_MACHINE\\Software\\Vendor", 0u, "", 4u},
        {RegFileOp::kSetValue, "Count", REG_DWORD, "\x1F\0\0\0"s, 5u},
        {RegFileOp::kSetValue, "Bin", REG_BINARY, "\x00\x01\xFF"s, 6u},
        {RegFileOp::kDeleteValue, "Gone", 0u, "", 8u},
        {RegFileOp::kDeleteKey, "HKEY_CURRENT_USER\\Software\\Old", 0u, "", 9u}};
    EXPECT_EQ(ops, expected);
}

TEST(RegFileParse, RefusesMistakesWithTheirLineNumber) {
    std::string deep;
    for (int i = 0; i < 513; ++i) deep += "\\k";
    const struct {
        std::string text;
        const char* line;
    } cases[] = {
        {"REGEDIT5\n", "line 1:"},
        {"REGEDIT4\n\n\"v\"=\"x\"\n", "line 3:"},
        {"REGEDIT4\n[HKCU\\A]\n\"v=\"x\"\n", "line 3:"},
        {"REGEDIT4\n[HKCU\\A\n", "line 2:"},
        {"REGEDIT4\n[HKEY_NOWHERE\\A]\n", "line 2:"},
        {"REGEDIT4\n[HKCU\\A]\n\"b\"=hex:01,\\\n  02,\\\n  zz\n", "line 5:"},
        {"REGEDIT4\n[HKCU\\A]\n\"b\"=hex:01,,02\n", "line 3:"},
        {"REGEDIT4\n[HKCU\\A]\n\"d\"=dword:123456789\n", "line 3:"},
        {"REGEDIT4\n[HKCU\\A]\n\"b\"=hex:01,\\\n", "line 3:"},
        {"REGEDIT4\n[HKCU\\A]\n\"s\"=\"x\" y\n", "line 3:"},
        {"REGEDIT4\n[-HKCU\\A]\n\"v\"=\"x\"\n", "line 3:"},
        {"REGEDIT4\n[-HKCU]\n", "line 2:"},
        {"Windows Registry Editor Version 5.00\n[HKCU\\A]\n\"p\"=hex(2):41,00,42\n", "line 3:"},
        {"Windows Registry Editor Version 5.00\n[HKCU\\A]\n\"p\"=hex(7):00,d8,41,00\n", "line 3:"},
        {"REGEDIT4\n[HKCU\\A]\nvalue=1\n", "line 3:"},
        // A NUL would cut a name or text short where the registry is called.
        {"REGEDIT4\n[HKCU\\a\0b]\n"s, "line 2: the key's name holds a NUL"},
        {"REGEDIT4\n[HKCU\\A]\n\"a\0b\"=\"x\"\n"s, "line 3: the value name holds a NUL"},
        {"REGEDIT4\n[HKCU\\A]\n\"s\"=\"a\0b\"\n"s, "line 3: the text holds a NUL"},
        {Utf16File("Windows Registry Editor Version 5.00\n[HKCU\\A]\n\"a\0b\"=\"x\"\n"s), "line 3: the value name"},
        {"REGEDIT4\n\n[HKCU" + deep + "]\n", "line 3: the key is 513 levels below HKEY_CURRENT_USER; the registry allows at most 512"},
    };
    for (const auto& c : cases) {
        RegFileContent content;
        std::string error;
        EXPECT_FALSE(ParseRegFile(c.text, content, error)) << c.text;
        EXPECT_EQ(error.rfind(c.line, 0), 0u) << c.text.substr(0, 80) << " -> " << error;
        EXPECT_TRUE(content.ops.empty());
    }
    // A fault in the UTF-16 itself is placed by the lines decoded before it.
    std::string bytes = Utf16File("Windows Registry Editor Version 5.00\r\n\r\n[HKCU\\A]\r\n");
    bytes += "\x00\xDC"s;
    RegFileContent content;
    std::string error;
    EXPECT_FALSE(ParseRegFile(bytes, content, error));
    EXPECT_EQ(error.rfind("line 4:", 0), 0u) << error;
}

// A file that is no export is refused on its first line, before the rest
// is read: a gigabyte of anything costs nothing.
TEST(RegFileParse, AFileThatIsNoExportIsRefusedBeforeItIsRead) {
    const std::string path = ::testing::TempDir() + "qv-huge.reg";
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("not a registry file\n", f);
    std::fclose(f);
    std::filesystem::resize_file(path, kMaxImportFileBytes);  // sparse
    std::string bytes, reason;
    EXPECT_FALSE(ReadRegFileBytes(path, bytes, reason));
    EXPECT_EQ(reason.rfind("line 1: not a registry file", 0), 0u) << reason;
    EXPECT_LT(bytes.capacity(), 4096u) << "the file was read";
    std::filesystem::remove(path);
}

RegTree SampleTree() {
    RegTree tree;
    tree.values = {{"", REG_SZ, "x \"y\" \\z\0"s},
                   {"n", REG_DWORD, "\x2A\0\0\0"s},
                   {"line", REG_SZ, "a\nb\0"s},
                   {"short", REG_DWORD, "\x01\x02"s},
                   {"m", REG_MULTI_SZ, "a\0\0"s}};
    auto sub = std::make_unique<RegTree>();
    sub->name = "Sub";
    tree.subkeys.push_back(std::move(sub));
    return tree;
}

TEST(RegFileWrite, WritesWhatRegeditWrites) {
    const std::string body =
        "[HKEY_CURRENT_USER\\K]\r\n"
        "@=\"x \\\"y\\\" \\\\z\"\r\n"
        "\"n\"=dword:0000002a\r\n"
        "\"line\"=hex(1):%\r\n"
        "\"short\"=hex(4):01,02\r\n"
        "\"m\"=hex(7):%\r\n"
        "\r\n"
        "[HKEY_CURRENT_USER\\K\\Sub]\r\n"
        "\r\n";
    auto fill = [&](const char* line, const char* m) {
        std::string text = body;
        text.replace(text.find('%'), 1, line);
        text.replace(text.find('%'), 1, m);
        return text;
    };
    std::string bytes, error;
    ASSERT_TRUE(WriteRegFile(SampleTree(), "HKEY_CURRENT_USER\\K", RegFileFormat::kVersion5, bytes, error));
    EXPECT_EQ(bytes, Utf16File("Windows Registry Editor Version 5.00\r\n\r\n" +
                               fill("61,00,0a,00,62,00,00,00", "61,00,00,00,00,00")));
    ASSERT_TRUE(WriteRegFile(SampleTree(), "HKEY_CURRENT_USER\\K", RegFileFormat::kRegedit4, bytes, error));
    EXPECT_EQ(bytes, "REGEDIT4\r\n\r\n" + fill("61,0a,62,00", "61,00,00"));
}

TEST(RegFileWrite, WrapsHexAtEightyColumnsAndRefusesWhatVersion5CannotHold) {
    RegTree tree;
    tree.values.push_back({"Bin", REG_BINARY, std::string(49, '\x11')});
    tree.values.push_back({std::string(80, 'N'), REG_BINARY, "\x01"s});
    std::string bytes, error;
    ASSERT_TRUE(WriteRegFile(tree, "HKEY_USERS\\K", RegFileFormat::kRegedit4, bytes, error));
    std::vector<std::string> lines;
    for (std::size_t at = 0, end; (end = bytes.find("\r\n", at)) != std::string::npos; at = end + 2)
        lines.push_back(bytes.substr(at, end - at));
    ASSERT_EQ(lines.size(), 9u);
    EXPECT_EQ(lines[3].size(), 80u);
    EXPECT_EQ(lines[3].substr(0, 13), "\"Bin\"=hex:11,");
    std::string full;
    for (int i = 0; i < 25; ++i) full += "11,";
    EXPECT_EQ(lines[4], "  " + full + "\\");
    EXPECT_EQ(lines[5], "  11");
    EXPECT_EQ(lines[6], "\"" + std::string(80, 'N') + "\"=hex:\\");
    EXPECT_EQ(lines[7], "  01");

    // Version 5 is UTF-16: bytes that are not UTF-8 text have no place in it.
    RegTree latin;
    latin.values.push_back({"v", REG_SZ, "caf\xE9\0"s});
    EXPECT_FALSE(WriteRegFile(latin, "HKEY_USERS\\K", RegFileFormat::kVersion5, bytes, error));
    EXPECT_NE(error.find("\"v\""), std::string::npos) << error;
    EXPECT_TRUE(WriteRegFile(latin, "HKEY_USERS\\K", RegFileFormat::kRegedit4, bytes, error));
    EXPECT_NE(bytes.find("\"v\"=\"caf\xE9\""), std::string::npos);
}

}  // namespace
}  // namespace qv
