// Every difference at once, through quorvane-reg compare: planted
// differences of each kind both ways, names that differ only in case, values
// of every type; the patch it writes makes the Slave equal the Master; an
// ignored key or value is never reported.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "compare/compare_walk.h"
#include "registry/store_registry.h"
#include "tests/support/tool_runner.h"

namespace qv {
namespace {

namespace fs = std::filesystem;

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

class Differences : public ::testing::Test {
protected:
    void SetUp() override {
        std::string folder = (fs::temp_directory_path() / "qv-diff-XXXXXX").string();
        ASSERT_NE(mkdtemp(folder.data()), nullptr);
        dir = folder;
        std::string error;
        store = CStoreRegistry::Open((dir / "registry.db").string(), &error);
        ASSERT_TRUE(store) << error;
        Write("planted.reg", kPlanted);
        Write("ignore.txt", "# what always changes\nkey HKLM\\?\\Cache*\nvalue Stamp\n");
        ASSERT_EQ(Run({"import", Path("planted.reg")}), 0) << out;
    }
    void TearDown() override {
        store.reset();
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }
    std::string Path(const char* name) const { return (dir / name).string(); }
    void Write(const char* name, const std::string& text) { std::ofstream(dir / name, std::ios::binary) << text; }
    std::string Read(const char* name) const {
        std::ifstream in(dir / name, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    int Run(std::vector<std::string> args) { return testing::RunTool(*store, std::move(args), out); }
    fs::path dir;
    std::unique_ptr<CStoreRegistry> store;
    std::string out;
};

TEST_F(Differences, EveryKindBothWaysAndThePatchMakesTheSlaveEqual) {
    ASSERT_EQ(Run({"compare", "HKLM\\M", "HKLM\\S", "/s", "/ignore", Path("ignore.txt"), "/report", Path("report.txt"),
                   "/patch", Path("patch.reg")}),
              2)
        << out;
    const std::string report = Read("report.txt");
    for (const char* line : {
             "< Value: HKEY_LOCAL_MACHINE\\M  onlyM  REG_DWORD  0x1\n",
             "> Value: HKEY_LOCAL_MACHINE\\S  onlyS  REG_SZ  2\n",
             "< Value: HKEY_LOCAL_MACHINE\\M  type  REG_SZ  1\n> Value: HKEY_LOCAL_MACHINE\\S  type  REG_DWORD  0x1\n",
             "< Value: HKEY_LOCAL_MACHINE\\M  data  REG_BINARY  0102\n> Value: HKEY_LOCAL_MACHINE\\S  data  REG_BINARY  0103\n",
             "< Value: HKEY_LOCAL_MACHINE\\M  Case  REG_SZ  v\n", "> Value: HKEY_LOCAL_MACHINE\\S  case  REG_SZ  v\n",
             "< Value: HKEY_LOCAL_MACHINE\\M  odd  REG_UNKNOWN  FF\n",
             "< Value: HKEY_LOCAL_MACHINE\\M\\Both\\Deep  (Default)  REG_SZ  m\n",
             "< Key: HKEY_LOCAL_MACHINE\\M\\OnlyM\n", "> Key: HKEY_LOCAL_MACHINE\\S\\OnlyS\n",
             "< Key: HKEY_LOCAL_MACHINE\\M\\Key\n", "> Key: HKEY_LOCAL_MACHINE\\S\\KEY\n"})
        EXPECT_NE(report.find(line), std::string::npos) << line << "\nin:\n" << report;
    EXPECT_EQ(report.find("Cache"), std::string::npos) << report;
    EXPECT_EQ(report.find("Stamp"), std::string::npos) << report;
    EXPECT_EQ(report.find("same"), std::string::npos) << report;
    EXPECT_EQ(std::count(report.begin(), report.end(), '\n'), 21) << report;
    EXPECT_NE(out.find(report), std::string::npos) << "the report holds what compare prints";

    // The patch on the Slave: nothing differs any more, names spelled as the Master spells them.
    ASSERT_EQ(Run({"import", Path("patch.reg")}), 0) << out;
    EXPECT_EQ(Run({"compare", "HKLM\\M", "HKLM\\S", "/s", "/ignore", Path("ignore.txt")}), 0) << out;
    ASSERT_EQ(Run({"query", "HKLM\\S"}), 0);
    EXPECT_NE(out.find("HKEY_LOCAL_MACHINE\\S\\Key\n"), std::string::npos) << out;
    EXPECT_NE(out.find("    Case    REG_SZ    v\n"), std::string::npos) << out;
    // What was ignored was left alone, and is still there to report without the list.
    EXPECT_EQ(Run({"compare", "HKLM\\M", "HKLM\\S", "/s", "/noignore"}), 2);
    EXPECT_NE(out.find("> Key: HKEY_LOCAL_MACHINE\\S\\Cache2"), std::string::npos) << out;
    EXPECT_NE(out.find("Stamp"), std::string::npos) << out;
}

TEST_F(Differences, ABadIgnoreListIsRefusedWithItsLine) {
    Write("bad.txt", "key HKLM\\A\nskip this\n");
    EXPECT_EQ(Run({"compare", "HKLM\\M", "HKLM\\S", "/ignore", Path("bad.txt")}), 1);
    EXPECT_NE(out.find("bad.txt, line 2: \"key PATTERN\" or \"value PATTERN\" expected"), std::string::npos) << out;
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
