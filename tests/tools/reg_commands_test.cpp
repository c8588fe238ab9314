// quorvane-reg's commands on a store: export and import in both .reg
// formats byte for byte, deletions and refusals in imports, query's layout,
// add and delete with their questions, compare against keys and tree files,
// every difference at once with its report, patch and ignore list, usage and
// bad command lines; and a few runs of the real program.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cstdlib>
#include <algorithm>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>

#include "compare/compare_walk.h"
#include "registry/store_registry.h"
#include "tests/support/registry_builder.h"
#include "tools/reg_access.h"
#include "tools/reg_commands.h"
#include "files/reg_file.h"

namespace qv {

// UTF-16LE with a byte-order mark for ASCII text, as regedit writes it
// (defined in reg_file_test.cpp).
std::string Utf16File(const std::string& ascii);

namespace {

using namespace std::string_literals;

class CScriptedInput final : public IConsoleInput {
public:
    bool terminal = false;
    std::deque<std::string> answers;
    bool IsTerminal() const override { return terminal; }
    bool ReadLine(std::string& line) override {
        if (answers.empty()) return false;
        line = answers.front();
        answers.pop_front();
        return true;
    }
};

// A fresh store in a temporary folder per test; commands run against it
// with captured output and scripted answers.
class RegCommands : public ::testing::Test {
protected:
    void SetUp() override {
        std::string folder = (std::filesystem::temp_directory_path() / "qv-regtool-XXXXXX").string();
        ASSERT_NE(mkdtemp(folder.data()), nullptr);
        dir = folder;
        std::string error;
        store = CStoreRegistry::Open(PathFor("registry.db"), &error);
        ASSERT_TRUE(store) << error;
    }
    void TearDown() override {
        store.reset();
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
    // Runs one command line; the output lands in `out` and `err`.
    int Run(std::vector<std::string> args) {
        std::ostringstream o, e;
        ToolContext context{o, e, input, [this](std::string&) -> IRegistry* { return store.get(); },
                            [this] { return store->LastError(); }};
        const int code = RunRegTool(args, context);
        out = o.str();
        err = e.str();
        return code;
    }
    // Runs the real program with `arguments` (shell words), standard input from /dev/null.
    int Program(const std::string& arguments) {
        const std::string command = "QUORVANE_REGISTRY='" + PathFor("registry.db") + "' '" QV_REG_TOOL "' " +
                                    arguments + " </dev/null >'" + PathFor("out") + "' 2>'" + PathFor("err") + "'";
        const int status = std::system(command.c_str());
        out = Slurp(PathFor("out"));
        err = Slurp(PathFor("err"));
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string PathFor(const std::string& name) const { return (dir / name).string(); }
    void Write(const std::string& name, const std::string& bytes) const {
        std::ofstream(PathFor(name), std::ios::binary) << bytes;
    }
    static std::string Slurp(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    void Build(const std::string& text) {
        std::string error;
        ASSERT_EQ(BuildRegistry(*store, text, &error), ERROR_SUCCESS) << error;
    }
    // Every value of `key`, or the status of opening it as the only "value".
    std::vector<RegValue> Values(const std::string& key) {
        RegKeyName name;
        EXPECT_TRUE(ParseKeyName(key, name));
        CToolKey opened(*store);
        std::vector<RegValue> values;
        if (const LONG status = opened.Open(name, KEY_READ); status != ERROR_SUCCESS)
            return {{"status", REG_NONE, std::to_string(status)}};
        EXPECT_EQ(ReadValues(*store, opened.Key(), values), ERROR_SUCCESS);
        return values;
    }
    bool Exists(const std::string& key) {
        const auto values = Values(key);
        return values.empty() || values[0].name != "status";
    }
    void Set(const std::string& key, const RegValue& v) {
        RegKeyName name;
        ASSERT_TRUE(ParseKeyName(key, name));
        CToolKey opened(*store);
        ASSERT_EQ(opened.Create(name), ERROR_SUCCESS);
        ASSERT_EQ(store->RegSetValueExA(opened.Key(), v.name.c_str(), 0, v.type,
                                        reinterpret_cast<const BYTE*>(v.data.data()), static_cast<DWORD>(v.data.size())),
                  ERROR_SUCCESS);
    }

    std::filesystem::path dir;
    std::unique_ptr<CStoreRegistry> store;
    CScriptedInput input;
    std::string out, err;
};

// The Master HKLM\M and the Slave HKLM\S, as a REGEDIT4 file.
const char kPlanted[] =
    "REGEDIT4\n\n"
    "[HKEY_LOCAL_MACHINE\\M]\n"
    "\"same\"=\"x\"\n\"onlyM\"=dword:00000001\n\"type\"=\"1\"\n\"data\"=hex:01,02\n\"Case\"=\"v\"\n"
    "\"sz\"=\"text\"\n\"expand\"=hex(2):25,00\n\"multi\"=hex(7):61,00,00,00\n\"qword\"=hex(b):01,00,00,00,00,00,00,00\n"
    "\"be\"=hex(5):00,00,00,01\n\"none\"=hex(0):\n\"odd\"=hex(1234):ff\n\"Stamp\"=\"1\"\n\n"
    "[HKEY_LOCAL_MACHINE\\M\\Both\\Deep]\n@=\"m\"\n\n"
    "[HKEY_LOCAL_MACHINE\\M\\OnlyM\\Sub]\n\"v\"=dword:00000002\n\n"
    "[HKEY_LOCAL_MACHINE\\M\\Key]\n\"k\"=\"M\"\n\n"
    "[HKEY_LOCAL_MACHINE\\M\\Cache1]\n\n"
    "[HKEY_LOCAL_MACHINE\\S]\n"
    "\"same\"=\"x\"\n\"onlyS\"=\"2\"\n\"type\"=dword:00000001\n\"data\"=hex:01,03\n\"case\"=\"v\"\n\"Stamp\"=\"2\"\n\n"
    "[HKEY_LOCAL_MACHINE\\S\\Both\\Deep]\n@=\"s\"\n\n"
    "[HKEY_LOCAL_MACHINE\\S\\OnlyS]\n\n"
    "[HKEY_LOCAL_MACHINE\\S\\KEY]\n\"k\"=\"S\"\n\n"
    "[HKEY_LOCAL_MACHINE\\S\\Cache2\\x]\n\n";

std::vector<RegValue> EveryType() {
    std::string binary(1000, '\0');
    for (std::size_t i = 0; i < binary.size(); i += 7) binary[i] = static_cast<char>(i);
    return {
        {"", REG_SZ, "default\0"s},
        {"quote \" and \\ back", REG_SZ, "C:\\dir\\ \"x\" \xC3\xA9\0"s},
        {"long", REG_SZ, std::string(300, 'L') + '\0'},
        {"bin", REG_BINARY, binary},
        {"empty bin", REG_BINARY, ""},
        {"multi", REG_MULTI_SZ, "one\0two \xE2\x82\xAC\0\0"s},
        {"expand", REG_EXPAND_SZ, "%SystemRoot%\\x\0"s},
        {"dw", REG_DWORD, "\x04\x03\x02\x01"s},
        {"qw", REG_QWORD, "\x01\x00\x00\x00\x00\x00\x00\x80"s},
        {"none", REG_NONE, "\x00\x01"s},
        {"big endian", REG_DWORD_BIG_ENDIAN, "\x00\x00\x01\x00"s},
        {"no terminator", REG_SZ, "abc"s},
    };
}

TEST_F(RegCommands, EveryTypeSurvivesBothFormatsByteForByte) {
    for (const RegValue& v : EveryType()) Set("HKLM\\Software\\Vendor", v);
    Set("HKLM\\Software\\Vendor\\Sub\\Deeper", {"x", REG_DWORD, "\x01\0\0\0"s});

    ASSERT_EQ(Run({"export", "HKLM\\SOFTWARE\\vendor", PathFor("v5.reg")}), 0) << err;
    ASSERT_EQ(Run({"export", "HKLM\\Software\\Vendor", PathFor("v4.reg"), "/regedit4"}), 0) << err;
    const std::string v5 = Slurp(PathFor("v5.reg"));
    const std::string v4 = Slurp(PathFor("v4.reg"));
    EXPECT_EQ(v5.rfind(Utf16File("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Vendor]\r\n"), 0), 0u)
        << "the stored spelling, not the typed one";
    EXPECT_EQ(v4.rfind("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Vendor]\r\n", 0), 0u);

    for (const char* file : {"v5.reg", "v4.reg"}) {
        SCOPED_TRACE(file);
        ASSERT_EQ(Run({"delete", "HKLM\\Software\\Vendor", "/f"}), 0) << err;
        ASSERT_FALSE(Exists("HKLM\\Software\\Vendor"));
        ASSERT_EQ(Run({"import", PathFor(file)}), 0) << err;
        EXPECT_EQ(Values("HKLM\\Software\\Vendor"), EveryType());
        EXPECT_EQ(Values("HKLM\\Software\\Vendor\\Sub\\Deeper").size(), 1u);
        ASSERT_EQ(Run({"export", "HKLM\\Software\\Vendor", PathFor("again5.reg"), "/y"}), 0) << err;
        ASSERT_EQ(Run({"export", "HKLM\\Software\\Vendor", PathFor("again4.reg"), "/y", "/regedit4"}), 0) << err;
        EXPECT_EQ(Slurp(PathFor("again5.reg")), v5);
        EXPECT_EQ(Slurp(PathFor("again4.reg")), v4);
    }
}

// Imports delete keys and values too. What the registry refuses half way is
// undone as a whole; what is not a whole registry export is refused before
// anything is read into the store: no folder, pipe or device, no file cut
// after a comma or between lines.
TEST_F(RegCommands, ImportDeletesKeysAndValuesAndNothingOfARefusedFile) {
    Build(R"([HKCU\Software\Old\Child\Grandchild]
"v"="x"
[HKCU\Software\Keep]
"gone"="1"
"stays"="2"
)");
    Write("del.reg", Utf16File("Windows Registry Editor Version 5.00\r\n\r\n"
                               "[-HKEY_CURRENT_USER\\Software\\Old]\r\n\r\n"
                               "[-HKEY_CURRENT_USER\\Software\\Never There]\r\n\r\n"
                               "[HKEY_CURRENT_USER\\Software\\Keep]\r\n\"gone\"=-\r\n\"absent\"=-\r\n"));
    ASSERT_EQ(Run({"import", PathFor("del.reg")}), 0) << err;
    EXPECT_FALSE(Exists("HKCU\\Software\\Old"));
    ASSERT_EQ(Values("HKCU\\Software\\Keep").size(), 1u);
    EXPECT_EQ(Values("HKCU\\Software\\Keep")[0].name, "stays");

    // A key name over 255 bytes.
    Write("refused.reg", "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Early]\r\n\"a\"=\"1\"\r\n\r\n"
                         "[HKEY_CURRENT_USER\\Software\\" + std::string(300, 'k') + "]\r\n");
    EXPECT_EQ(Run({"import", PathFor("refused.reg")}), 1);
    EXPECT_NE(err.find("line 6 (nothing was imported): The parameter is incorrect. (status 87)"), std::string::npos)
        << err;
    EXPECT_FALSE(Exists("HKCU\\Software\\Early"));

    std::filesystem::create_directory(PathFor("folder"));
    ASSERT_EQ(mkfifo(PathFor("fifo").c_str(), 0600), 0);
    Write("comma.reg", "REGEDIT4\r\n\r\n[-HKEY_CURRENT_USER\\Software\\Keep]\r\n\r\n[HKEY_CURRENT_USER\\Cut]\r\n"
                       "\"b\"=hex:01,02,\r\n");
    Write("noend.reg", "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Cut]\r\n\"a\"=\"1\"");
    const std::pair<const char*, const char*> refused[] = {
        {"folder", "not a regular file"}, {"fifo", "not a regular file"}, {"/dev/zero", "not a regular file"},
        {"comma.reg", "line 6: the hex list ends with ','"}, {"noend.reg", "line 4: the file does not end with a line break"},
        {"missing.reg", "ERROR: Cannot read "}};
    for (const auto& [file, reason] : refused) {
        const std::string path = file[0] == '/' ? file : PathFor(file);
        EXPECT_EQ(Run({"import", path}), 1) << file;
        EXPECT_NE(err.find(reason), std::string::npos) << err;
    }
    EXPECT_FALSE(Exists("HKCU\\Cut"));
    EXPECT_TRUE(Exists("HKCU\\Software\\Keep"));
}

// Data longer than a command line holds comes from a file or standard input;
// a key name with an empty part is named as such.
TEST_F(RegCommands, AddTakesItsDataFromAFileOrStandardInput) {
    const std::string big(200000, 'x');
    Write("data.txt", big + "\r\n");
    ASSERT_EQ(Run({"add", "HKCU\\Big", "/v", "f", "/df", PathFor("data.txt")}), 0) << err;
    input.terminal = false;
    input.answers = {"0a1b", "ff"};
    ASSERT_EQ(Run({"add", "HKCU\\Big", "/v", "b", "/t", "REG_BINARY", "/df", "-"}), 1) << "a line end is no hex digit";
    input.answers = {"0a1bff"};
    ASSERT_EQ(Run({"add", "HKCU\\Big", "/v", "b", "/t", "REG_BINARY", "/df", "-"}), 0) << err;
    const auto values = Values("HKCU\\Big");
    ASSERT_EQ(values.size(), 2u);
    EXPECT_EQ(values[0].data, big + '\0');
    EXPECT_EQ(values[1].data, "\x0a\x1b\xff"s);
    EXPECT_EQ(Run({"add", "HKCU\\Big", "/d", "1", "/df", "-"}), 1);
    EXPECT_EQ(Run({"add", "HKLM\\\\x"}), 1);
    EXPECT_NE(err.find("an empty part (two backslashes in a row)"), std::string::npos) << err;
}

// Query, compare and bad command lines on one store: exit code, the whole
// standard output (unless null) and the start of standard error (unless null).
TEST_F(RegCommands, QueryCompareAndUsage) {
    Build(R"([HKLM\Software\Q]
@="top"
"n"=dword:1f
"b"=hex:00,ab
"m"=hex(7):61,00,62,00,00
[HKLM\Software\Q\Empty]
[HKLM\Software\Q\Sub]
"n"=hex(b):00,00,00,00,01,00,00,00
)");
    Write("planted.reg", kPlanted);
    ASSERT_EQ(Run({"import", PathFor("planted.reg")}), 0) << err;
    const std::string Q = "HKEY_LOCAL_MACHINE\\Software\\Q", done = "The operation completed successfully.\n";
    const std::string top = "\n" + Q + "\n    (Default)    REG_SZ    top\n    n    REG_DWORD    0x1f\n"
                            "    b    REG_BINARY    00AB\n    m    REG_MULTI_SZ    a\\0b\n\n";
    const std::string sub = Q + "\\Sub\n    n    REG_QWORD    0x100000000\n\n";
    const struct {
        std::vector<std::string> args;
        int code;
        std::optional<std::string> out;
        const char* err;
    } cases[] = {
        {{"query", "hklm\\Software\\Q"}, 0, top + Q + "\\Empty\n" + Q + "\\Sub\n", nullptr},
        {{"query", "HKLM\\Software\\Q\\Empty", "/s"}, 0, "\n" + Q + "\\Empty\n", nullptr},
        {{"query", "HKLM\\Software\\Q", "/S"}, 0, top + Q + "\\Empty\n" + sub, nullptr},
        {{"query", "HKLM\\Software\\Q", "/v", "N", "/s"}, 0,
         "\n" + Q + "\n    n    REG_DWORD    0x1f\n\n" + sub + "End of search: 2 match(es) found.\n", nullptr},
        {{"query", "HKLM\\Software\\Q\\Sub", "-ve"}, 0, "\n" + Q + "\\Sub\n    (Default)    REG_SZ    (value not set)\n\n",
         nullptr},
        {{"query", "HKLM\\Software\\Q", "/v", "nothing"}, 1, std::nullopt,
         "ERROR: The system was unable to find the specified registry key or value. (status 2)\n"},
        {{"query", "HKLM\\Software\\Q", "/v", "n", "/ve"}, 1, std::nullopt, "ERROR: Invalid syntax."},
        {{"query", "HKLM\\Software\\Q", "/s", "/S"}, 1, std::nullopt,
         "ERROR: Invalid syntax. The switch /S is given twice."},
        {{"query", "HKLM\\Software\\Q", "/v"}, 1, std::nullopt,
         "ERROR: Invalid syntax. The switch /v needs an argument."},
        {{"query", "HKLM\\Software\\Q", "/v", "/s"}, 1, std::nullopt, "ERROR: The system was unable to find"},
        {{"query", "\\\\far\\HKLM\\Software"}, 1, std::nullopt, "ERROR: The network path was not found. (status 53)\n"},
        {{"compare", "HKLM\\M\\Both\\Deep", "HKLM\\S\\Both\\Deep", "/os"}, 2, "\nResult Compared: Different\n" + done,
         nullptr},
        {{"compare", "HKLM\\M\\Both", "HKLM\\S\\Both"}, 0, "\nResult Compared: Identical\n" + done, nullptr},  // no /s
        {{"compare", "HKLM\\M", "HKLM\\S", "/v", "SAME", "/oa"}, 0,
         "= Value: HKEY_LOCAL_MACHINE\\M  same  REG_SZ  x\n\nResult Compared: Identical\n" + done, nullptr},
        {{"compare", "HKLM\\M", "HKLM\\M", "/s", "/on"}, 0, "\nResult Compared: Identical\n" + done, nullptr},
        {{"compare", "HKLM\\M", "HKLM\\Nowhere"}, 1, std::nullopt, "ERROR: "},
        {{"compare", "HKLM\\M", "HKLM\\S", "/oa", "/os"}, 1, std::nullopt, "ERROR: "},
        {{"/?"}, 0, std::nullopt, nullptr},
        {{"frobnicate"}, 1, std::nullopt, nullptr},
        {{"query", "HKLM", "extra"}, 1, std::nullopt, nullptr},
        {{"query", "NOTAROOT\\x"}, 1, std::nullopt, "ERROR: Invalid key name"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Run(c.args), c.code) << c.args[0] << " " << c.args[1] << err;
        EXPECT_EQ(out, c.out.value_or(out)) << c.args[1];
        EXPECT_EQ(err.rfind(c.err ? c.err : "", 0), 0u) << c.args[1] << ": " << err;
    }
    EXPECT_EQ(Run({}), 1);
    EXPECT_NE(out.find("query | add | delete | import | export | save | compare"), std::string::npos);
    EXPECT_EQ(Run({"EXPORT", "-?"}), 0);
    EXPECT_EQ(out.rfind("quorvane-reg export KEY FILE", 0), 0u);
}

TEST_F(RegCommands, AddAndDeleteAskFirstAndOnlyOnATerminal) {
    Build("[HKCU\\A]\n\"v\"=\"old\"\n[HKCU\\A\\B\\C]\n\"w\"=dword:1\n");
    EXPECT_EQ(Run({"add", "HKCU\\A", "/v", "V", "/d", "new"}), 1);
    EXPECT_NE(err.find("not a terminal"), std::string::npos) << err;
    EXPECT_EQ(Run({"delete", "HKCU\\A"}) + Run({"delete", "HKCU\\A", "/v", "v"}), 2);
    EXPECT_EQ(Values("HKCU\\A")[0].data, "old\0"s);

    input.terminal = true;
    input.answers = {"no"};
    EXPECT_EQ(Run({"add", "HKCU\\A", "/v", "V", "/d", "new"}), 0);
    EXPECT_EQ(out, "Value V exists, overwrite(Yes/No)? The operation was cancelled by the user.\n");
    EXPECT_EQ(Values("HKCU\\A")[0].data, "old\0"s);
    input.answers = {"perhaps", "Y"};
    EXPECT_EQ(Run({"add", "HKCU\\A", "/v", "V", "/d", "new"}), 0);
    EXPECT_EQ(Values("HKCU\\A")[0].data, "new\0"s);
    EXPECT_EQ(Values("HKCU\\A")[0].name, "v") << "the registry keeps the first spelling";

    input.answers = {"yes"};
    EXPECT_EQ(Run({"delete", "HKCU\\A"}), 0) << err;
    EXPECT_EQ(out, "Permanently delete the registry key HKEY_CURRENT_USER\\A (Yes/No)? "
                   "The operation completed successfully.\n");
    EXPECT_FALSE(Exists("HKCU\\A")) << "children first, then the key";

    input.terminal = false;
    EXPECT_EQ(Run({"add", "HKCU\\N\\M", "/v", "x", "/t", "REG_MULTI_SZ", "/s", "|", "/d", "a|b"}), 0) << err;
    EXPECT_EQ(Values("HKCU\\N\\M")[0].data, "a\0b\0\0"s);
    EXPECT_EQ(Run({"delete", "HKCU\\N\\M", "/va", "/f"}), 0);
    EXPECT_TRUE(Values("HKCU\\N\\M").empty());
    for (const std::vector<std::string>& refused : {std::vector<std::string>{"delete", "HKCU\\N\\M", "/v", "x", "/f"},
                                                    {"delete", "HKCU", "/f"},
                                                    {"add", "HKCU\\N", "/v", "x", "/t", "REG_DWORD", "/d", "many"}})
        EXPECT_EQ(Run(refused), 1) << refused[1];
    ASSERT_EQ(Run({"export", "HKCU\\N", PathFor("n.reg")}), 0);
    EXPECT_EQ(Run({"export", "HKCU\\N", PathFor("n.reg")}), 1) << "the file exists and there is no one to ask";
}

TEST_F(RegCommands, CompareAgainstATreeFile) {
    Build(R"([HKCU\Software\T]
"text"="hello"
"num"=dword:7
[HKCU\Software\T\Sub]
"deep"="d"
)");
    ASSERT_EQ(Run({"save", "HKCU\\Software\\T", PathFor("t.qvf")}), 0) << err;
    EXPECT_EQ(Slurp(PathFor("t.qvf")),
              "[\\HKEY_CURRENT_USER]\r\n\r\n[\\HKEY_CURRENT_USER\\Software]\r\n\r\n"
              "[\\HKEY_CURRENT_USER\\Software\\T]\r\n\"text\"=\"hello\"\r\n\"num\"=dword:00000007\r\n\r\n"
              "[\\HKEY_CURRENT_USER\\Software\\T\\Sub]\r\n\"deep\"=\"d\"\r\n\r\n");
    EXPECT_EQ(Run({"compare", "HKCU\\Software\\T", PathFor("t.qvf"), "/s"}), 0) << err << out;
    EXPECT_EQ(Run({"compare", PathFor("t.qvf"), PathFor("t.qvf")}), 0) << err;

    Set("HKCU\\Software\\T\\Sub", {"deep", REG_SZ, "changed\0"s});
    Set("HKCU\\Software\\T", {"blob", REG_BINARY, "\x01"s});
    EXPECT_EQ(Run({"compare", PathFor("t.qvf"), "HKCU\\Software\\T", "/s"}), 2) << err;
    const std::string report = out;
    ASSERT_EQ(Run({"save", "HKCU\\Software\\T", PathFor("t2.qvf")}), 0) << err;
    EXPECT_EQ(Run({"compare", PathFor("t.qvf"), PathFor("t2.qvf")}), 2) << "two tree files are compared whole, /s or not";
    ASSERT_EQ(Run({"compare", PathFor("t.qvf"), "HKCU\\Software\\T", "/s"}), 2) << err;
    EXPECT_EQ(out,
              "> Value: HKEY_CURRENT_USER\\Software\\T  blob  REG_BINARY  01\n"
              "< Value: HKEY_CURRENT_USER\\Software\\T\\Sub  deep  REG_SZ  d\n"
              "> Value: HKEY_CURRENT_USER\\Software\\T\\Sub  deep  REG_SZ  changed\n"
              "\nResult Compared: Different\nThe operation completed successfully.\n");

    EXPECT_EQ(Run({"compare", "HKCU\\Software\\T", PathFor("absent.qvf")}), 1);
    EXPECT_EQ(err.rfind("ERROR: ", 0), 0u);

    // The example Slave scripts/try.sh makes a store of is the example tree file.
    ASSERT_EQ(Run({"import", QV_EXAMPLES_DIR "/slave.reg"}), 0) << err;
    for (const char* key : {"HKLM\\SOFTWARE\\Quorvane Demo", "HKCU\\Software\\Quorvane Demo"})
        EXPECT_EQ(Run({"compare", key, QV_EXAMPLES_DIR "/slave.qvf", "/s"}), 0) << key << out;

    // Text of any length is kept; what the tree file cannot hold (binary
    // data, a line break, text after a zero, a name holding "=) is counted
    // when saving.
    Set("HKCU\\Software\\T", {"long", REG_SZ, std::string(3000, 'x') + '\0'});
    Set("HKCU\\Software\\T", {"lines", REG_SZ, "a\nb\0"s});
    Set("HKCU\\Software\\T", {"two", REG_SZ, "a\0b\0"s});
    Set("HKCU\\Software\\T", {"x\"=y", REG_SZ, "z\0"s});
    ASSERT_EQ(Run({"save", "HKCU\\Software\\T", PathFor("t.qvf"), "/y"}), 0) << err;
    EXPECT_EQ(err.rfind("WARNING: 4 value(s)", 0), 0u) << err;
    EXPECT_NE(Slurp(PathFor("t.qvf")).find("\"long\"=\"" + std::string(3000, 'x') + "\""), std::string::npos);
}

// What the program adds to the commands: the store from the environment,
// exit codes, no questions without a terminal, a message instead of an abort.
TEST_F(RegCommands, TheProgramWorksOnTheStoreNamedByTheEnvironment) {
    store.reset();  // the program opens the same file
    std::filesystem::create_directory(PathFor("folder"));
    EXPECT_EQ(Program("import '" + PathFor("folder") + "'"), 1);
    EXPECT_NE(err.find("not a regular file"), std::string::npos) << err;
    EXPECT_EQ(Program(""), 1);
    EXPECT_NE(out.find("OPERATION"), std::string::npos);
    ASSERT_EQ(Program("add 'HKCU\\Software\\B' /v n /t REG_DWORD /d 42"), 0) << err;
    ASSERT_EQ(Program("query 'HKCU\\Software\\B'"), 0) << err;
    EXPECT_EQ(out, "\nHKEY_CURRENT_USER\\Software\\B\n    n    REG_DWORD    0x2a\n\n");
    EXPECT_EQ(Program("add 'HKCU\\Software\\B' /v n /d 1"), 1) << "standard input is /dev/null";
    EXPECT_NE(err.find("/f"), std::string::npos);
    ASSERT_EQ(Program("add 'HKCU\\Software\\C' /v n /t REG_DWORD /d 41"), 0);
    EXPECT_EQ(Program("compare 'HKCU\\Software\\B' 'HKCU\\Software\\C'"), 2);
    EXPECT_EQ(Program("compare 'HKCU\\Software\\B' '\\\\elsewhere\\HKCU\\Software\\B'"), 1);
    EXPECT_NE(err.find("cannot be reached; try again later. (status 1723)"), std::string::npos) << err;
}

// Every difference at once: planted differences of each kind both ways, names
// that differ only in case, values of every type; the patch makes the Slave
// equal the Master; what the ignore list names is never reported.
TEST_F(RegCommands, CompareFindsEveryKindBothWaysAndThePatchMakesTheSlaveEqual) {
    Write("planted.reg", kPlanted);
    Write("ignore.txt", "# what always changes\nkey HKLM\\?\\Cache*\nvalue Stamp\n");
    ASSERT_EQ(Run({"import", PathFor("planted.reg")}), 0) << err;
    ASSERT_EQ(Run({"compare", "HKLM\\M", "HKLM\\S", "/s", "/ignore", PathFor("ignore.txt"), "/report", PathFor("report.txt"),
                   "/patch", PathFor("patch.reg")}),
              2)
        << err;
    // In walk order: each key's values (the Master's, then what only the Slave has), then its keys.
    const std::string report = Slurp(PathFor("report.txt"));
    EXPECT_EQ(report,
              "< Value: HKEY_LOCAL_MACHINE\\M  onlyM  REG_DWORD  0x1\n"
              "< Value: HKEY_LOCAL_MACHINE\\M  type  REG_SZ  1\n"
              "> Value: HKEY_LOCAL_MACHINE\\S  type  REG_DWORD  0x1\n"
              "< Value: HKEY_LOCAL_MACHINE\\M  data  REG_BINARY  0102\n"
              "> Value: HKEY_LOCAL_MACHINE\\S  data  REG_BINARY  0103\n"
              "~ Value: HKEY_LOCAL_MACHINE\\M  Case  case\n"
              "< Value: HKEY_LOCAL_MACHINE\\M  sz  REG_SZ  text\n"
              "< Value: HKEY_LOCAL_MACHINE\\M  expand  REG_EXPAND_SZ  %\n"
              "< Value: HKEY_LOCAL_MACHINE\\M  multi  REG_MULTI_SZ  a\n"
              "< Value: HKEY_LOCAL_MACHINE\\M  qword  REG_QWORD  0x1\n"
              "< Value: HKEY_LOCAL_MACHINE\\M  be  REG_DWORD_BIG_ENDIAN  0x1\n"
              "< Value: HKEY_LOCAL_MACHINE\\M  none  REG_NONE  \n"
              "< Value: HKEY_LOCAL_MACHINE\\M  odd  REG_UNKNOWN  FF\n"
              "> Value: HKEY_LOCAL_MACHINE\\S  onlyS  REG_SZ  2\n"
              "< Value: HKEY_LOCAL_MACHINE\\M\\Both\\Deep  (Default)  REG_SZ  m\n"
              "> Value: HKEY_LOCAL_MACHINE\\S\\Both\\Deep  (Default)  REG_SZ  s\n"
              "~ Key: HKEY_LOCAL_MACHINE\\M\\Key  HKEY_LOCAL_MACHINE\\S\\KEY\n"
              "< Value: HKEY_LOCAL_MACHINE\\M\\Key  k  REG_SZ  M\n"
              "> Value: HKEY_LOCAL_MACHINE\\S\\KEY  k  REG_SZ  S\n"
              "< Key: HKEY_LOCAL_MACHINE\\M\\OnlyM\n"
              "> Key: HKEY_LOCAL_MACHINE\\S\\OnlyS\n");
    EXPECT_NE(out.find(report), std::string::npos) << "the report holds what compare prints";

    // The patch on the Slave: nothing differs any more; a name in another
    // case is one name, kept as the Slave spells it.
    ASSERT_EQ(Run({"import", PathFor("patch.reg")}), 0) << err;
    EXPECT_EQ(Run({"compare", "HKLM\\M", "HKLM\\S", "/s", "/ignore", PathFor("ignore.txt")}), 0) << out;
    ASSERT_EQ(Run({"query", "HKLM\\S"}), 0);
    EXPECT_NE(out.find("HKEY_LOCAL_MACHINE\\S\\KEY\n"), std::string::npos) << "never deleted and made again: " << out;
    // What was ignored was left alone, and is still there to report without the list.
    EXPECT_EQ(Run({"compare", "HKLM\\M", "HKLM\\S", "/s", "/noignore"}), 2);
    EXPECT_NE(out.find("> Key: HKEY_LOCAL_MACHINE\\S\\Cache2"), std::string::npos) << out;
    EXPECT_NE(out.find("Stamp"), std::string::npos) << out;

    Write("bad.txt", "key HKLM\\A\nskip this\n");
    EXPECT_EQ(Run({"compare", "HKLM\\M", "HKLM\\S", "/ignore", PathFor("bad.txt")}), 1);
    EXPECT_NE(err.find("bad.txt, line 2: \"key PATTERN\" or \"value PATTERN\" expected"), std::string::npos) << err;
}

TEST(IgnoreList, PatternsAndTheStepByStepCompare) {
    for (const auto& [pattern, text, match] : std::initializer_list<std::tuple<const char*, const char*, bool>>{
             {"HKEY_*\\MRU*", "HKEY_CURRENT_USER\\Software\\MRUList", true},
             {"a?c", "ABC", true},
             {"a?c", "ac", false},
             {"*x", "abxcx", true},
             {"*x", "abxc", false},
             {"**", "", true}})
        EXPECT_EQ(WildcardMatch(pattern, text), match) << pattern << " / " << text;

    // A key and a value only the Slave has, both ignored: the walk finds nothing.
    KeyNode master("m"), slave("s");
    KeyNode* m = master.AppendSubkey(std::make_unique<KeyNode>("HKEY_CURRENT_USER"));
    KeyNode* s = slave.AppendSubkey(std::make_unique<KeyNode>("HKEY_CURRENT_USER"));
    m->AppendValue(std::make_unique<ValueEntry>("Kept", REG_SZ, "1"));
    s->AppendValue(std::make_unique<ValueEntry>("Kept", REG_SZ, "1"));
    s->AppendValue(std::make_unique<ValueEntry>("LastRun", REG_SZ, "now"));
    s->AppendSubkey(std::make_unique<KeyNode>("Cache"))->AppendSubkey(std::make_unique<KeyNode>("x"));
    CIgnoreList ignore;
    std::string error;
    ASSERT_TRUE(ignore.Parse("key HKCU\\Cache\nvalue Last*\n", error)) << error;
    int stops = 0;
    const auto stop = [&stops](KeyNode*, int, UINT) { return ++stops, true; };
    EXPECT_EQ(CompareNodes(s, m, stop, {}, {}, &ignore), 1);
    EXPECT_EQ(stops, 0);
    EXPECT_EQ(CompareNodes(s, m, stop), 1);
    EXPECT_EQ(stops, 4) << "without the list: value count, the value, key count, the key";
}

}  // namespace
}  // namespace qv
