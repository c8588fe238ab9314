// Registries kept in files as sides: a Windows installation, a Wine prefix,
// a lone hive written through as the Slave (checked with Samba's regtree,
// a reader of its own), read-only sides, damaged hives; and quorvane-reg on
// the same files.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <thread>

#include "dialogs/edit_dialogs.h"
#include "edit/undo_journal.h"
#include "registry/registry_router.h"
#include "registry/store_registry.h"
#include "sources/registry_source.h"
#include "sources/wine_prefix.h"
#include "tests/support/document_fixture.h"
#include "tests/support/empty_hive.h"
#include "tests/support/tool_runner.h"
#include "tests/support/umask_scope.h"

namespace qv {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

std::string Slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void Spit(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

// What an independent reader sees in a hive: Samba's regtree.
std::string RegTree(const fs::path& hive) {
    std::string text;
    if (FILE* pipe = popen(("regtree -F '" + hive.string() + "' 2>/dev/null").c_str(), "r")) {
        char buffer[4096];
        for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, n);
        pclose(pipe);
    }
    return text;
}

// An empty hive at `path` with `keys` made in it ("A\\B") and a value in the
// last one, written through the program's own hive back end.
void MakeHive(const fs::path& path, std::initializer_list<const char*> keys) {
    fs::create_directories(path.parent_path());
    ASSERT_TRUE(testing::WriteEmptyHive(path.string()));
    CFileRegistry hive;
    std::string error;
    ASSERT_TRUE(hive.MountHive(HKEY_LOCAL_MACHINE, "X", path.string(), true, error)) << error;
    for (const char* key : keys) {
        HKEY made = nullptr;
        ASSERT_EQ(hive.RegCreateKeyExA(HKEY_LOCAL_MACHINE, ("X\\"s + key).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                       nullptr, &made, nullptr), 0);
        const std::string text = "Caf\xC3\xA9 \xF0\x9F\x98\x80";
        ASSERT_EQ(hive.RegSetValueExA(made, "Text", 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                      static_cast<DWORD>(text.size() + 1)), 0);
        const DWORD number = 42;
        ASSERT_EQ(hive.RegSetValueExA(made, "Number", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), 4), 0);
        hive.RegCloseKey(made);
    }
}

// A hive at `path` holding Top\\A\\B\\C\\D whose key C lists, in D's place, the
// key `up` levels above D (1: C itself, 2: B, 3: A), or with `up` 0 a list
// lying outside the file. Its bytes.
std::string LoopingHive(const fs::path& path, int up) {
    MakeHive(path, {"Top\\A\\B\\C\\D"});
    std::string b = Slurp(path);
    const auto u32 = [&b](std::size_t at) {
        std::uint32_t v;
        std::memcpy(&v, b.data() + at, 4);
        return v;
    };
    // Cells count from the first bin; a key's list is at 0x20 in its nk
    // cell, and each key here has one subkey, the list's first entry.
    std::vector<std::uint32_t> keys{u32(0x24)};
    while (keys.size() < 6) keys.push_back(u32(0x1000 + u32(0x1000 + keys.back() + 0x20) + 8));
    const std::uint32_t to = up == 0 ? 0x7ffffff0u : keys[5 - static_cast<std::size_t>(up)];
    const std::size_t at = up == 0 ? 0x1000 + keys[4] + 0x20 : 0x1000 + u32(0x1000 + keys[4] + 0x20) + 8;
    std::memcpy(b.data() + at, &to, 4);
    Spit(path, b);
    fs::remove(path.string() + ".quorvane-bak");
    return b;
}

// Wine's own file layout: escapes, str(N), hex(N) over continued lines.
const char kSystemReg[] =
    "WINE REGISTRY Version 2\n"
    ";; All keys relative to REGISTRY\\\\Machine\n\n#arch=win64\n\n"
    "[Software\\\\Wine\\\\Caf\\xe9 \\xd83d\\xde00] 1796609608\n"
    "#time=1dd85f08c500014\n"
    "@=\"C:\\\\windows\\\\\\\"q\\\"\"\n"
    "\"Path\"=str(2):\"%ProgramFiles%\\\\x\"\n"
    "\"List\"=str(7):\"a\\0b\\0\"\n"
    "\"Big\"=hex(b):01,02,03,04,05,06,\\\n  07,08\n"
    "\"Flags\"=dword:0000002a\n";
const char kUserReg[] =
    "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000\n\n"
    "[Control Panel\\\\Desktop] 1796609603\n\"Wallpaper\"=\"\"\n";
const char kUserDefReg[] =
    "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\User\\\\.Default\n\n"
    "[Environment] 1796609603\n\"TEMP\"=str(2):\"%USERPROFILE%\\\\Temp\"\n";

class RegistryFiles : public DocumentFixture {
protected:
    void SetUp() override {
        std::string folder = (fs::temp_directory_path() / "qv-files-XXXXXX").string();
        ASSERT_NE(mkdtemp(folder.data()), nullptr);
        dir = folder;
        std::string error;
        store = CStoreRegistry::Open((dir / "registry.db").string(), &error);
        ASSERT_TRUE(store) << error;
        router = std::make_unique<CRegistryRouter>(*store);
        Attach(*router);
        doc->m_openRegistryFile = [this](const std::string& path, std::unique_ptr<IRegistry>& registry,
                                         std::string& readOnly, std::string& error) {
            return OpenRegistryFileSide(path, registry, readOnly, error,
                                        [this](const std::string& message) { ui.MessageBox(message, 0); });
        };
    }
    void TearDown() override {
        doc.reset();
        router.reset();
        store.reset();
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }
    int Tool(std::vector<std::string> args) { return testing::RunTool(*store, std::move(args), out); }
    fs::path dir;
    std::unique_ptr<CStoreRegistry> store;
    std::unique_ptr<CRegistryRouter> router;
    std::string out;
};

TEST_F(RegistryFiles, WindowsInstallationAndWinePrefixOpenAsSides) {
    const fs::path windows = dir / "win";
    MakeHive(windows / "Windows/System32/config/SOFTWARE", {"Vendor\\App"});
    MakeHive(windows / "Users/alice/NTUSER.DAT", {"Console"});
    const fs::path prefix = dir / "prefix";
    Spit(prefix / "system.reg", kSystemReg);
    Spit(prefix / "user.reg", kUserReg);
    Spit(prefix / "userdef.reg", kUserDefReg);

    Open(kSourceFile, windows.string(), kSourceFile, prefix.string());
    ASSERT_TRUE(doc->BothTrees()) << ::testing::PrintToString(ui.Messages());
    EXPECT_EQ(doc->m_nMasterKind, kSourceRegistryFile);
    KeyNode* app = Walk(masterCtrl, doc->m_pMasterRoot.get(), {"HKEY_LOCAL_MACHINE", "SOFTWARE", "Vendor", "App"});
    ASSERT_NE(app, nullptr);
    EXPECT_EQ(Dump(app), "[App] Text=1:Caf\xC3\xA9 \xF0\x9F\x98\x80"s + '\0' + " Number=4:42\n");
    EXPECT_NE(Walk(masterCtrl, doc->m_pMasterRoot.get(), {"HKEY_USERS", "alice", "Console"}), nullptr);

    KeyNode* wine = Walk(slaveCtrl, doc->m_pSlaveRoot.get(),
                         {"HKEY_LOCAL_MACHINE", "Software", "Wine", "Caf\xC3\xA9 \xF0\x9F\x98\x80"});
    ASSERT_NE(wine, nullptr);
    EXPECT_EQ(Dump(wine), "[Caf\xC3\xA9 \xF0\x9F\x98\x80] =1:C:\\windows\\\"q\""s + '\0' + " Path=2:%ProgramFiles%\\x"s +
                              '\0' + " List=7:a\0b\0\0"s + " Big=11:\1\2\3\4\5\6\7\x08"s + " Flags=4:42\n");
    EXPECT_NE(Walk(slaveCtrl, doc->m_pSlaveRoot.get(), {"HKEY_CURRENT_USER", "Control Panel", "Desktop"}), nullptr);
    EXPECT_NE(Walk(slaveCtrl, doc->m_pSlaveRoot.get(), {"HKEY_USERS", ".Default", "Environment"}), nullptr);
    EXPECT_TRUE(ui.Messages().empty()) << ui.Messages().front();
}

// Also: a hive its owner keeps at 0600 (saved credentials, say) is never
// copied where others may read it, under umask 022: not its backup, not the
// temporary file while the hive goes into it, not the journal's records.
TEST_F(RegistryFiles, AHiveSlaveIsWrittenThroughAndItsOriginalKeptOnce) {
    testing::CUmaskScope umask;
    const fs::path hive = dir / "NTUSER.DAT";
    MakeHive(hive, {"Secret"});
    fs::permissions(hive, fs::perms::owner_read | fs::perms::owner_write);
    const std::string original = Slurp(hive);
    Open(kSourceFile, hive.string(), kSourceFile, hive.string());
    ASSERT_TRUE(doc->BothTrees()) << ::testing::PrintToString(ui.Messages());
    KeyNode* user = Walk(slaveCtrl, doc->m_pSlaveRoot.get(), {"HKEY_CURRENT_USER"});
    ASSERT_NE(user, nullptr);
    {
        // The temporary files live a moment each: watched for as long as a
        // few write-backs of a hive that takes a while to write.
        std::atomic<bool> done{false};
        std::atomic<unsigned> seen{0}, open{0};
        std::thread watch([&] {
            const std::string temporary = hive.string() + ".quorvane-tmp";
            while (!done) {
                if (const unsigned mode = testing::ModeOf(temporary.c_str()); mode != 0) {
                    ++seen;
                    open |= mode & 077;
                }
            }
        });
        slaveTree.AddKey("Added");
        slaveTree.AddStringValue("Greeting", "h\xC3\xA9llo");
        for (int i = 0; i < 3; ++i) slaveTree.AddStringValue(("Big" + std::to_string(i)).c_str(), std::string(400000, 'x'));
        done = true;
        watch.join();
        EXPECT_GT(seen, 0u) << "the watch never saw the temporary file";
        EXPECT_EQ(open, 0u) << "others could read the temporary file";
    }
    EXPECT_TRUE(ui.Messages().empty()) << ::testing::PrintToString(ui.Messages());
    EXPECT_EQ(testing::ModeOf(hive.c_str()), 0600u);
    EXPECT_EQ(testing::ModeOf((hive.string() + ".quorvane-bak").c_str()), 0600u);

    // On disk at once, as another reader sees it; the untouched file beside it.
    EXPECT_NE(RegTree(hive).find("Greeting = REG_SZ : h\xC3\xA9llo"), std::string::npos) << RegTree(hive);
    EXPECT_TRUE(Slurp(hive.string() + ".quorvane-bak") == original);
    EXPECT_FALSE(fs::exists(hive.string() + ".quorvane-tmp"));
    EXPECT_EQ(router->OpenHandleCount(), 0u);
    slaveTree.AddKey("Second");
    EXPECT_TRUE(Slurp(hive.string() + ".quorvane-bak") == original) << "the copy is made once per opening";

    // A write-back that fails says so and leaves the file as it was.
    const std::string written = Slurp(hive);
    fs::create_directory(hive.string() + ".quorvane-tmp");  // hivex cannot write there
    slaveTree.AddKey("Lost");
    ASSERT_EQ(ui.Messages().size(), 2u) << ::testing::PrintToString(ui.Messages());
    EXPECT_NE(ui.Messages()[0].find("Can't write the hive " + hive.string()), std::string::npos) << ui.Messages()[0];
    EXPECT_NE(ui.Messages()[1].find("Lost\": The system was unable to find"), std::string::npos) << ui.Messages()[1];
    EXPECT_TRUE(Slurp(hive) == written);
    fs::remove(hive.string() + ".quorvane-tmp");

    Open(kSourceFile, hive.string(), kSourceFile, hive.string());
    EXPECT_NE(Walk(masterCtrl, doc->m_pMasterRoot.get(), {"HKEY_CURRENT_USER", "Added"}), nullptr);
    EXPECT_NE(Walk(masterCtrl, doc->m_pMasterRoot.get(), {"HKEY_CURRENT_USER", "Added", "Second"}), nullptr);

    // A change to a hive is undone in the hive.
    CUndoJournal journal;
    std::string error;
    ASSERT_TRUE(journal.Open((dir / "journal").string(), error)) << error;
    doc->m_pJournal = &journal;
    Walk(slaveCtrl, doc->m_pSlaveRoot.get(), {"HKEY_CURRENT_USER", "Added"});
    ui.AnswerQuestion(IDYES);
    ui.AnswerQuestion(IDYES);  // right below a root
    doc->OnCmdMsg(ID_DELETE_KEY);
    ASSERT_EQ(RegTree(hive).find("Second"), std::string::npos) << ::testing::PrintToString(ui.Messages()) << router->OpenHandleCount();
    ui.AnswerQuestion(IDYES);
    doc->OnCmdMsg(ID_EDIT_UNDO);
    EXPECT_NE(RegTree(hive).find("Second"), std::string::npos) << RegTree(hive);
    doc->m_pJournal = nullptr;
    EXPECT_EQ(testing::ModeOf((dir / "journal").c_str()), 0700u);
    int records = 0;
    for (const fs::directory_entry& record : fs::directory_iterator(dir / "journal")) {
        EXPECT_EQ(testing::ModeOf(record.path().c_str()), 0600u) << record.path();
        ++records;
    }
    EXPECT_EQ(records, 3) << "the deletion's entry and its two records";
}

TEST_F(RegistryFiles, ReadOnlySidesRefuseEveryWriteWithTheReason) {
    const fs::path reg = dir / "export.reg";
    Spit(reg, "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\A]\n\"v\"=\"1\"\n");
    const fs::path hive = dir / "SOFTWARE";
    MakeHive(hive, {"Vendor"});
    fs::permissions(hive, fs::perms::owner_read | fs::perms::group_read);
    Open(kSourceFile, reg.string(), kSourceFile, reg.string());
    ASSERT_TRUE(doc->BothTrees()) << ::testing::PrintToString(ui.Messages());
    ASSERT_NE(Walk(slaveCtrl, doc->m_pSlaveRoot.get(), {"HKEY_CURRENT_USER", "Software", "A"}), nullptr);
    slaveTree.AddKey("New");
    slaveTree.DeleteValues(0);
    ASSERT_EQ(ui.Messages().size(), 2u);
    EXPECT_NE(ui.Messages()[0].find("is read-only: a .reg file"), std::string::npos) << ui.Messages()[0];
    EXPECT_EQ(Dump(At(doc->m_pSlaveRoot.get(), {"HKEY_CURRENT_USER", "Software", "A"})), "[A] v=1:1"s + '\0' + "\n");

    if (geteuid() == 0) return;  // permissions do not hold for root
    const std::string before = Slurp(hive);
    Open(kSourceFile, hive.string(), kSourceFile, hive.string());
    ASSERT_NE(Walk(slaveCtrl, doc->m_pSlaveRoot.get(), {"HKEY_LOCAL_MACHINE", "SOFTWARE", "Vendor"}), nullptr);
    slaveTree.AddKey("New");
    EXPECT_NE(ui.Messages().back().find("is read-only"), std::string::npos) << ui.Messages().back();
    EXPECT_TRUE(Slurp(hive) == before);
}

TEST_F(RegistryFiles, DamagedHivesAreRefusedByNameAndNothingElseIsTouched) {
    const fs::path good = dir / "SYSTEM";
    MakeHive(good, {"Select"});
    const std::string bytes = Slurp(good);
    // (Which damage hivex detects is its own affair: every refusal takes the same way here.)
    std::string badSum = bytes, truncated = bytes.substr(0, 6000);
    badSum[0x30] ^= 1;  // the header's checksum no longer holds
    for (const std::string& damaged : {badSum, truncated}) {
        const fs::path file = dir / "SOFTWARE";
        Spit(file, damaged);
        std::string error;
        EXPECT_EQ(OpenRegistrySource(file.string(), true, error), nullptr);
        EXPECT_NE(error.find(file.string()), std::string::npos) << error;
        Open(kSourceFile, file.string(), kSourceFile, good.string());
        EXPECT_EQ(doc->m_pMasterRoot, nullptr);
        ASSERT_NE(doc->m_pSlaveRoot, nullptr);
        EXPECT_TRUE(Slurp(file) == damaged);
    }
    EXPECT_TRUE(Slurp(good) == bytes);
}

TEST_F(RegistryFiles, ToolReadsTheSameFilesAndRoundTripsAHiveThroughAnExport) {
    const fs::path hive = dir / "SOFTWARE";
    MakeHive(hive, {"Vendor\\App", "Vendor\\Other"});
    const std::string key = "HKLM\\SOFTWARE\\Vendor";
    ASSERT_EQ(Tool({"query", hive.string() + "::" + key, "/s"}), 0) << out;
    EXPECT_NE(out.find("::HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\App\n    Text    REG_SZ    Caf\xC3\xA9"), std::string::npos)
        << out;
    // hive -> .reg -> this computer's store -> compared with the hive: the same.
    const std::string exported = (dir / "out.reg").string();
    ASSERT_EQ(Tool({"export", hive.string() + "::" + key, exported, "/y"}), 0) << out;
    ASSERT_EQ(Tool({"import", exported}), 0) << out;
    EXPECT_EQ(Tool({"compare", hive.string() + "::" + key, key, "/s"}), 0) << out;
    EXPECT_EQ(Tool({"compare", hive.string(), key, "/s"}), 0) << out;
    // With the file named first, the other side is still read from the store.
    ASSERT_EQ(Tool({"add", key + "\\App", "/v", "Text", "/d", "changed", "/f"}), 0) << out;
    EXPECT_EQ(Tool({"compare", hive.string() + "::" + key, key, "/s"}), 2) << out;
    EXPECT_EQ(Tool({"compare", hive.string(), key, "/s"}), 2) << out;
    // A .reg file is a source as well; files are never changed by the tool.
    EXPECT_EQ(Tool({"compare", exported + "::" + key, hive.string() + "::" + key, "/s"}), 0) << out;
    EXPECT_EQ(Tool({"add", hive.string() + "::" + key, "/v", "x", "/f"}), 1);
    EXPECT_NE(out.find("does not change them"), std::string::npos) << out;
    EXPECT_EQ(Tool({"compare", hive.string(), exported, "/s"}), 1);
    EXPECT_NE(out.find("FILE::KEY"), std::string::npos) << out;
}

// Names in any script are one name in either case, as Windows compares them
// (hivex folds only ASCII): writing "КЛЮЧ" into a hive holding "Ключ" opens
// that key, and a value's name finds its value, instead of making twins
// Windows could not tell apart.
TEST_F(RegistryFiles, HiveNamesInOtherScriptsMatchInAnyCase) {
    const fs::path path = dir / "SOFTWARE";
    MakeHive(path, {"\xD0\x9A\xD0\xBB\xD1\x8E\xD1\x87"});  // Ключ
    CFileRegistry hive;
    std::string error;
    ASSERT_TRUE(hive.MountHive(HKEY_LOCAL_MACHINE, "X", path.string(), true, error)) << error;
    HKEY key = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(hive.RegCreateKeyExA(HKEY_LOCAL_MACHINE, "X\\\xD0\x9A\xD0\x9B\xD0\xAE\xD0\xA7", 0, nullptr, 0,
                                   KEY_ALL_ACCESS, nullptr, &key, &disposition), 0);  // КЛЮЧ
    EXPECT_EQ(disposition, DWORD{REG_OPENED_EXISTING_KEY});
    const DWORD one = 1, two = 2;
    ASSERT_EQ(hive.RegSetValueExA(key, "\xC3\x84", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4), 0);  // Ä
    ASSERT_EQ(hive.RegSetValueExA(key, "\xC3\xA4", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&two), 4), 0);  // ä
    EXPECT_EQ(hive.RegCloseKey(key), 0);

    // In the file: one key, and its values Text, Number and Ä = 2.
    ASSERT_EQ(Tool({"query", path.string() + "::HKLM\\SOFTWARE", "/s"}), 0) << out;
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 7) << out;
    EXPECT_NE(out.find("\xD0\x9A\xD0\xBB\xD1\x8E\xD1\x87\n"), std::string::npos) << out;
    EXPECT_NE(out.find("\xC3\x84    REG_DWORD    0x2\n"), std::string::npos) << out;
}

// A key wider than hivex lists (more than 70,000 subkeys, as a Windows
// installation's Installer Components key can be) is read from the file's own
// lists: every subkey shows and opens, in any case.
TEST_F(RegistryFiles, AKeyWiderThanHivexListsIsReadWhole) {
    const fs::path hive = dir / "win/Windows/System32/config/SOFTWARE";
    Spit(hive, testing::HiveWithSubkeys(70001));
    Open(kSourceFile, (dir / "win").string(), kSourceFile, (dir / "win").string());
    ASSERT_TRUE(doc->BothTrees()) << ::testing::PrintToString(ui.Messages());
    KeyNode* software = Walk(masterCtrl, doc->m_pMasterRoot.get(), {"HKEY_LOCAL_MACHINE", "SOFTWARE"});
    ASSERT_NE(software, nullptr);
    EXPECT_EQ(software->subkeys.size(), 70001u);
    EXPECT_NE(Walk(masterCtrl, software, {"k070000"}), nullptr);
    EXPECT_TRUE(ui.Messages().empty()) << ui.Messages().front();
    EXPECT_EQ(Tool({"query", hive.string() + "::HKLM\\SOFTWARE\\K070000"}), 0) << out;
    EXPECT_EQ(Tool({"query", hive.string() + "::HKLM\\SOFTWARE\\k070001"}), 1) << out;
}

// A hive Windows left unfinished (its base block's sequence numbers differ,
// the latest changes wait in its logs) is told of at once and never written:
// that would mark it clean and Windows would drop the logs.
TEST_F(RegistryFiles, AHiveWindowsLeftUnfinishedIsToldOfAndNeverWritten) {
    MakeHive(dir / "clean/SOFTWARE", {"Vendor"});
    const fs::path hive = dir / "dirty/SOFTWARE";
    MakeHive(hive, {"Vendor"});
    std::string bytes = Slurp(hive);
    ++bytes[4];  // the primary sequence number, then the base block's checksum
    std::uint32_t sum = 0;
    for (std::size_t at = 0; at < 508; at += 4) {
        std::uint32_t word;
        std::memcpy(&word, bytes.data() + at, 4);
        sum ^= word;
    }
    std::memcpy(bytes.data() + 508, &sum, 4);
    Spit(hive, bytes);

    Open(kSourceFile, (dir / "clean/SOFTWARE").string(), kSourceFile, hive.string());
    ASSERT_TRUE(doc->BothTrees()) << ::testing::PrintToString(ui.Messages());
    ASSERT_EQ(ui.Messages().size(), 1u) << ::testing::PrintToString(ui.Messages());
    EXPECT_NE(ui.Messages()[0].find(hive.string() + " was not closed cleanly by Windows"), std::string::npos);
    ASSERT_NE(Walk(slaveCtrl, doc->m_pSlaveRoot.get(), {"HKEY_LOCAL_MACHINE", "SOFTWARE", "Vendor"}), nullptr);
    slaveTree.AddKey("New");
    EXPECT_NE(ui.Messages().back().find("is read-only: " + hive.string() + " was not closed cleanly"),
              std::string::npos) << ui.Messages().back();
    EXPECT_TRUE(Slurp(hive) == bytes);
    EXPECT_EQ(Tool({"query", hive.string() + "::HKLM\\SOFTWARE\\Vendor"}), 0) << out;
    EXPECT_NE(out.find("WARNING: " + hive.string() + " was not closed cleanly"), std::string::npos) << out;
}

// A hive that would outgrow what Windows loads is not written: the change is
// dropped with the reason and the file stays as it was.
TEST_F(RegistryFiles, AHiveIsNeverWrittenLargerThanAHiveMayBe) {
    const fs::path path = dir / "SOFTWARE";
    MakeHive(path, {});
    const std::string before = Slurp(path);
    CFileRegistry hive;
    std::string error, failure;
    ASSERT_TRUE(hive.MountHive(HKEY_LOCAL_MACHINE, "SOFTWARE", path.string(), true, error)) << error;
    hive.OnWriteFailure([&failure](const std::string& message) { failure = message; });
    hive.SetLargestHive(before.size() + 4096);
    HKEY key = nullptr;
    ASSERT_EQ(hive.RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Big", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                   nullptr), 0);
    const std::string big(20000, 'b');
    EXPECT_EQ(hive.RegSetValueExA(key, "Blob", 0, REG_BINARY, reinterpret_cast<const BYTE*>(big.data()),
                                  static_cast<DWORD>(big.size())), 0);
    EXPECT_NE(hive.RegCloseKey(key), 0);
    EXPECT_NE(failure.find("a hive may hold"), std::string::npos) << failure;
    EXPECT_TRUE(Slurp(path) == before);
    EXPECT_FALSE(fs::exists(path.string() + ".quorvane-tmp"));

    // A value larger than hivex writes is refused before hivex is asked, which
    // would leave the key's values unreadable; the hive takes the next one.
    hive.SetLargestHive(std::uint64_t{1} << 31);
    failure.clear();
    ASSERT_EQ(hive.RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Big", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                   nullptr), 0);
    const std::string huge(1000000, 'h');
    EXPECT_EQ(hive.RegSetValueExA(key, "Huge", 0, REG_BINARY, reinterpret_cast<const BYTE*>(huge.data()),
                                  static_cast<DWORD>(huge.size())), ERROR_INVALID_PARAMETER);
    EXPECT_NE(failure.find("more than hivex writes"), std::string::npos) << failure;
    EXPECT_EQ(hive.RegSetValueExA(key, "Blob", 0, REG_BINARY, reinterpret_cast<const BYTE*>(big.data()),
                                  static_cast<DWORD>(big.size())), 0);
    EXPECT_EQ(hive.RegCloseKey(key), 0);
    const std::string tree = RegTree(path);
    EXPECT_NE(tree.find("Blob = REG_BINARY"), std::string::npos) << tree.substr(0, 200);
    EXPECT_EQ(tree.find("Huge"), std::string::npos);
}

// 255 characters of Cyrillic are 510 bytes of UTF-8: such a key shows, opens
// and holds its own values, whether it comes from a hive or from Wine's text.
TEST_F(RegistryFiles, LongNamesInOtherScriptsKeepTheirKeys) {
    std::string name;
    for (int i = 0; i < 255; ++i) name += "\xD0\x96";
    MakeHive(dir / "SOFTWARE", {("Long\\" + name).c_str()});
    std::string wineName;
    for (int i = 0; i < 255; ++i) wineName += "\\x416";
    const std::string longKey = "[Software\\\\Long\\\\" + wineName + "] 0\n\"V\"=dword:7\n";
    Spit(dir / "prefix/system.reg", kSystemReg + longKey);

    Open(kSourceFile, (dir / "SOFTWARE").string(), kSourceFile, (dir / "prefix").string());
    ASSERT_TRUE(doc->BothTrees()) << ::testing::PrintToString(ui.Messages());
    KeyNode* fromHive = Walk(masterCtrl, doc->m_pMasterRoot.get(), {"HKEY_LOCAL_MACHINE", "SOFTWARE", "Long", name.c_str()});
    ASSERT_NE(fromHive, nullptr);
    EXPECT_EQ(Dump(fromHive), "[" + name + "] Text=1:Caf\xC3\xA9 \xF0\x9F\x98\x80"s + '\0' + " Number=4:42\n");
    KeyNode* wine = Walk(slaveCtrl, doc->m_pSlaveRoot.get(), {"HKEY_LOCAL_MACHINE", "Software", "Long", name.c_str()});
    ASSERT_NE(wine, nullptr);
    EXPECT_EQ(Dump(wine), "[" + name + "] V=4:7\n");
}

// A damaged hive is told of by file and key wherever it is read, and a list
// leading back up ends the read there: the tools neither crash nor write
// half a tree, and a Copy out of it or into it writes no hive.
TEST_F(RegistryFiles, DamagedHiveListsAreToldOfByFileAndKeyAndNeverWritten) {
    const fs::path good = dir / "good/SOFTWARE", hive = dir / "SOFTWARE";
    MakeHive(good, {"Top\\A"});
    const std::string goodBytes = Slurp(good);
    const std::string key = hive.string() + "::HKLM\\SOFTWARE\\Top", output = (dir / "out").string();
    const std::string atC = " is damaged: the key HKEY_LOCAL_MACHINE\\SOFTWARE\\Top\\A\\B\\C";
    const char* said[] = {"'s subkeys cannot be read", " lists itself", "'s subkey list leads back", "'s subkey list leads back"};
    // Copies the Master's Top\\A, read first, below the Slave's; what it said.
    const auto copy = [this](const fs::path& master, const fs::path& slave) -> std::string {
        const std::size_t before = ui.Messages().size();
        Open(kSourceFile, master.string(), kSourceFile, slave.string());
        if (!doc->BothTrees() ||
            Walk(slaveCtrl, doc->m_pSlaveRoot.get(), {"HKEY_LOCAL_MACHINE", "SOFTWARE", "Top", "A"}) == nullptr ||
            Walk(masterCtrl, doc->m_pMasterRoot.get(), {"HKEY_LOCAL_MACHINE", "SOFTWARE", "Top", "A"}) == nullptr)
            return "no Top\\A on both sides";
        ui.AnswerDialog([](CDialog& d, CDialogDriver&) {
            static_cast<CCopyDlg&>(d).m_bLoadFirst = static_cast<CCopyDlg&>(d).m_bRecursive = 1;
            d.EndDialog(IDOK);
        });
        doc->OnCmdMsg(ID_COPY);
        std::string said;
        for (std::size_t i = before; i < ui.Messages().size(); ++i) said += ui.Messages()[i] + '\n';
        return said;
    };
    for (int up = 0; up <= 3; ++up) {
        SCOPED_TRACE(up);
        const std::string bytes = LoopingHive(hive, up);
        for (const std::vector<std::string>& run : {std::vector<std::string>{"query", key, "/s"},
                                                    {"export", key, output, "/y"}, {"save", key, output, "/y"},
                                                    {"compare", key, "HKLM\\SOFTWARE\\Top", "/s"}}) {
            EXPECT_EQ(Tool(run), 1) << run[0] << ": " << out;
            EXPECT_NE(out.find(hive.string() + atC), std::string::npos) << run[0] << ": " << out;
            EXPECT_NE(out.find(said[up]), std::string::npos) << run[0] << ": " << out;
            EXPECT_FALSE(fs::exists(output)) << run[0];
        }
        if (up == 0) continue;
        std::string told = copy(hive, good);
        EXPECT_NE(told.find("Can't read the key"), std::string::npos) << told;
        EXPECT_TRUE(Slurp(good) == goodBytes);
        told = copy(good, hive);
        EXPECT_NE(told.find(hive.string() + atC), std::string::npos) << told;
        EXPECT_TRUE(Slurp(hive) == bytes);
        EXPECT_FALSE(fs::exists(hive.string() + ".quorvane-bak"));
    }
    // A file named as a hive that is too short to be one says so.
    Spit(hive, "");
    EXPECT_EQ(Tool({"compare", hive.string(), "HKLM\\SOFTWARE\\Top"}), 1);
    EXPECT_NE(out.find(hive.string() + ": not a hive file"), std::string::npos) << out;
}

// What Wine's files hold beyond the registry calls: time stamps, #time,
// #class, #link with its hex(6) value continued over lines, #arch, comments,
// octal escapes; each block here is a key the test leaves alone.
const std::string kWineHeader =
    "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n;; kept as it is\n\n#arch=win64\n";
const std::string kLinkBlock =
    "\n[Software\\\\Classes\\\\Wow6432Node\\\\AppId] 1796662404\n#time=1dd866b7937a290\n#link\n"
    "\"SymbolicLinkValue\"=hex(6):5c,00,52,00,\\\n  65,00\n";
const std::string kKeepBlock =
    "\n[Software\\\\Keep \\[1\\]] 1796609608\n#time=1dd85f08c500014\n#class=\"Klass\"\n"
    "\"Sz\"=\"C:\\\\windows\\\\\\\"q\\\"\"\n\"Exp\"=str(2):\"%ProgramFiles%\\\\x\"\n\"Multi\"=str(7):\"a\\0b\\0\"\n"
    "\"Q\"=hex(b):01,02,03,04,05,06,07,08\n\"Dw\"=dword:0000002a\n\"None\"=hex(0):\n"
    "\"\\x418\\x43c\\x44f\"=\"\\x417\\x43d \\x4e2d\\x6587 \\xd83d\\xde00\"\n\"Ctl\"=\"\\001\\0017\\e\"\n";
const std::string kChangeBlock =
    "\n[Software\\\\Change\\\\\\x41f\\x443\\x441\\x442\\x43e] 1796609608\n#time=1dd85f08c500014\n#class=\"C\"\n"
    "\"Old\"=\"1\"\n\"Edit\"=dword:00000001\n\"Gone\"=\"x\"\n";
const std::string kDoomedBlock = "\n[Software\\\\Doomed] 1796609608\n#time=1dd85f08c500014\n\"V\"=\"1\"\n";
const std::string kTailBlock = "\n[Software\\\\Tail] 1796609610\n#time=1dd85f08c500099\n\"T\"=\"t\"\n";

// Every value of a key: name -> type and bytes.
std::map<std::string, std::pair<DWORD, std::string>> ValuesOf(IRegistry& registry, HKEY root, const std::string& path) {
    std::map<std::string, std::pair<DWORD, std::string>> values;
    HKEY key = nullptr;
    if (registry.RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != 0) return values;
    for (DWORD i = 0;; ++i) {
        char name[512];
        DWORD nameSize = sizeof name, type = 0, size = 4096;
        std::string data(size, '\0');
        if (registry.RegEnumValueA(key, i, name, &nameSize, nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                                   &size) != 0)
            break;
        data.resize(size);
        values[name] = {type, data};
    }
    registry.RegCloseKey(key);
    return values;
}

TEST_F(RegistryFiles, AWinePrefixSlaveIsWrittenInWinesFormatKeepingWhatItDoesNotModel) {
    const fs::path prefix = dir / "prefix";
    const std::string system = kWineHeader + kLinkBlock + kKeepBlock + kChangeBlock + kDoomedBlock + kTailBlock;
    Spit(prefix / "system.reg", system);
    Spit(prefix / "userdef.reg", kUserDefReg);
    Spit(prefix / "user.reg", kUserReg);
    std::string error;
    auto wine = OpenRegistrySource(prefix.string(), true, error);
    ASSERT_TRUE(wine) << error;
    EXPECT_EQ(wine->ReadOnlyReason(), "");
    const std::string change = "Software\\Change\\\xD0\x9F\xD1\x83\xD1\x81\xD1\x82\xD0\xBE";  // Пусто

    // Each value set, and the line Wine itself would write for it.
    struct Case {
        std::string key, name;
        DWORD type;
        std::string data, line;
    };
    const std::string bytes40(40, '\x5a');
    std::string row;  // Wine breaks a hex line after the comma past column 76
    for (int i = 0; i < 22; ++i) row += "5a,";
    const std::vector<Case> cases = {
        {change, "Edit", REG_DWORD, "\2\0\0\0"s, "\"Edit\"=dword:00000002"},
        {change, "Esc", REG_SZ, "q\"b\\s\t\x01" "7\xD0\x96" "1"s + '\0', "\"Esc\"=\"q\\\"b\\\\s\\t\\0017\\x04161\""},
        {change, "Mehr \xE4\xB8\xAD\xE6\x96\x87 \xF0\x9F\x98\x80", REG_MULTI_SZ, "a\0\xD0\x96\0\0"s,
         "\"Mehr \\x4e2d\\x6587 \\xd83d\\xde00\"=str(7):\"a\\0\\x416\\0\""},
        {change, "", REG_EXPAND_SZ, "%X%"s + '\0', "@=str(2):\"%X%\""},
        {change, "NoNul", REG_SZ, "ab", "\"NoNul\"=hex(1):61,00,62,00"},
        {change, "Q", REG_QWORD, "\x89\x67\x45\x23\x01\0\0\0"s, "\"Q\"=hex(b):89,67,45,23,01,00,00,00"},
        {change, "Long", REG_BINARY, bytes40, "\"Long\"=hex:" + row + "\\\n  5a,"},
        {"Software\\New\\\xD0\x9A\xD0\xBB\xD1\x8E\xD1\x87[1]", "V", REG_DWORD, "\7\0\0\0"s,
         "[Software\\\\New\\\\\\x41a\\x43b\\x44e\\x447\\[1\\]] "},
        {"Software\\Empty", "", REG_NONE, "", ""},  // a key made with no value
    };
    for (const Case& c : cases) {
        HKEY key = nullptr;
        ASSERT_EQ(wine->RegCreateKeyExA(HKEY_LOCAL_MACHINE, c.key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                        nullptr), 0) << c.key;
        if (!c.line.empty()) {
            EXPECT_EQ(wine->RegSetValueExA(key, c.name.c_str(), 0, c.type, reinterpret_cast<const BYTE*>(c.data.data()),
                                           static_cast<DWORD>(c.data.size())), 0) << c.name;
        }
        EXPECT_EQ(wine->RegCloseKey(key), 0);
    }
    HKEY changed = nullptr;
    ASSERT_EQ(wine->RegOpenKeyExA(HKEY_LOCAL_MACHINE, change.c_str(), 0, KEY_ALL_ACCESS, &changed), 0);
    EXPECT_EQ(wine->RegDeleteValueA(changed, "Gone"), 0);
    EXPECT_EQ(wine->RegCloseKey(changed), 0);
    EXPECT_EQ(wine->RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\Doomed"), 0);
    // userdef.reg is written too; user.reg, untouched, is left alone.
    HKEY environment = nullptr;
    ASSERT_EQ(wine->RegOpenKeyExA(HKEY_USERS, ".Default\\Environment", 0, KEY_ALL_ACCESS, &environment), 0);
    EXPECT_EQ(wine->RegSetValueExA(environment, "TMP", 0, REG_SZ, reinterpret_cast<const BYTE*>("t"), 2), 0);
    EXPECT_EQ(wine->RegCloseKey(environment), 0);
    EXPECT_EQ(wine->OpenHandleCount(), 0u);

    const std::string written = Slurp(prefix / "system.reg");
    EXPECT_TRUE(Slurp(prefix.string() + "/system.reg.quorvane-bak") == system);
    EXPECT_FALSE(fs::exists(prefix.string() + "/system.reg.quorvane-tmp"));
    EXPECT_TRUE(Slurp(prefix.string() + "/userdef.reg.quorvane-bak") == kUserDefReg);
    EXPECT_NE(Slurp(prefix / "userdef.reg").find("\"TMP\"=\"t\"\n"), std::string::npos) << Slurp(prefix / "userdef.reg");
    EXPECT_FALSE(fs::exists(prefix.string() + "/user.reg.quorvane-bak")) << "an untouched file is left alone";
    EXPECT_TRUE(Slurp(prefix / "user.reg") == kUserReg);
    for (const std::string& kept : {kWineHeader + kLinkBlock + kKeepBlock, kTailBlock})
        EXPECT_NE(written.find(kept), std::string::npos) << kept << "\n---\n" << written;
    EXPECT_EQ(written.find("Doomed"), std::string::npos);
    // The changed key keeps its class and its unchanged value; its time is new.
    const std::size_t at = written.find("[Software\\\\Change\\\\");
    ASSERT_NE(at, std::string::npos);
    const std::string block = written.substr(at, written.find("\n[", at) - at);
    EXPECT_NE(block.find("\n#class=\"C\"\n\"Old\"=\"1\"\n"), std::string::npos) << block;
    EXPECT_EQ(block.find("1796609608"), std::string::npos) << block;
    EXPECT_EQ(block.find("#time=1dd85f08c500014"), std::string::npos) << block;
    EXPECT_EQ(block.find("Gone"), std::string::npos) << block;
    EXPECT_NE(written.find("\n[Software\\\\Empty] "), std::string::npos) << written;

    // Read again: every change is there, byte for byte.
    auto again = OpenRegistrySource(prefix.string(), true, error);
    ASSERT_TRUE(again) << error;
    for (const Case& c : cases) {
        if (c.line.empty()) continue;
        SCOPED_TRACE(c.name);
        EXPECT_NE(written.find(c.line), std::string::npos) << written;
        const auto values = ValuesOf(*again, HKEY_LOCAL_MACHINE, c.key);
        ASSERT_EQ(values.count(c.name), 1u);
        EXPECT_EQ(values.at(c.name).first, c.type);
        EXPECT_TRUE(values.at(c.name).second == c.data);
    }
    EXPECT_EQ(ValuesOf(*again, HKEY_LOCAL_MACHINE, change).count("Gone"), 0u);
    EXPECT_EQ(ValuesOf(*again, HKEY_LOCAL_MACHINE, "Software\\Keep [1]").size(), 8u);
    HKEY gone = nullptr;
    EXPECT_EQ(again->RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Doomed", 0, KEY_READ, &gone), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(again->RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Empty", 0, KEY_READ, &gone), 0);
    again->RegCloseKey(gone);
}

// A change to a Wine prefix Slave is undone in its file, through the document.
TEST_F(RegistryFiles, AChangeToAWinePrefixIsUndoneInItsFile) {
    const fs::path prefix = dir / "prefix";
    Spit(prefix / "system.reg", kSystemReg);
    Open(kSourceFile, prefix.string(), kSourceFile, prefix.string());
    ASSERT_TRUE(doc->BothTrees()) << ::testing::PrintToString(ui.Messages());
    CUndoJournal journal;
    std::string error;
    ASSERT_TRUE(journal.Open((dir / "journal").string(), error)) << error;
    doc->m_pJournal = &journal;
    ASSERT_NE(Walk(slaveCtrl, doc->m_pSlaveRoot.get(), {"HKEY_LOCAL_MACHINE", "Software", "Wine"}), nullptr);
    ui.AnswerQuestion(IDYES);
    doc->OnCmdMsg(ID_DELETE_KEY);
    EXPECT_EQ(Slurp(prefix / "system.reg").find("[Software\\\\Wine"), std::string::npos)
        << ::testing::PrintToString(ui.Messages());
    ui.AnswerQuestion(IDYES);
    doc->OnCmdMsg(ID_EDIT_UNDO);
    const std::string undone = Slurp(prefix / "system.reg");
    EXPECT_NE(undone.find("\"Big\"=hex(b):01,02,03,04,05,06,07,08\n"), std::string::npos) << undone;
    EXPECT_NE(undone.find("\"List\"=str(7):\"a\\0b\\0\"\n"), std::string::npos) << undone;
    EXPECT_EQ(ui.Messages().size(), 2u) << ::testing::PrintToString(ui.Messages());  // the two questions
    doc->m_pJournal = nullptr;
}

// A wineserver serving the prefix keeps it read-only, and one started after
// the prefix was opened makes the next write-back fail whole.
TEST_F(RegistryFiles, AWinePrefixServedByAWineserverIsNotWritten) {
    if (std::system("command -v wineserver >/dev/null 2>&1") != 0) GTEST_SKIP() << "wineserver is not installed";
    const fs::path prefix = dir / "prefix";
    Spit(prefix / "system.reg", kSystemReg);
    const std::string original = Slurp(prefix / "system.reg");
    std::string error, told;
    auto before = OpenRegistrySource(prefix.string(), true, error);
    ASSERT_TRUE(before) << error;
    before->OnWriteFailure([&told](const std::string& message) { told = message; });
    // In the foreground, so that it is ended by its pid on every way out.
    const std::string env = "WINEPREFIX=" + prefix.string();
    char* args[] = {const_cast<char*>("wineserver"), const_cast<char*>("-f"), const_cast<char*>("-p5"), nullptr};
    char* envp[] = {const_cast<char*>(env.c_str()), const_cast<char*>("WINEDEBUG=-all"),
                    const_cast<char*>("PATH=/usr/bin:/bin"), nullptr};
    pid_t server = 0;
    ASSERT_EQ(posix_spawnp(&server, "wineserver", nullptr, nullptr, args, envp), 0);
    struct Stop {
        pid_t pid;
        fs::path prefix;
        ~Stop() {
            if (pid > 0) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, nullptr, 0);
            }
            // Debian's Wine leaves its server folder, named in the prefix, behind.
            std::ifstream named(prefix / "wineserver");
            std::string folder;
            std::error_code ignored;
            if (std::getline(named, folder) && !folder.empty() && folder.find('/') == std::string::npos)
                fs::remove_all(fs::path("/tmp") / folder, ignored);
        }
    } stopper{server, prefix};
    std::string reason;
    for (int i = 0; i < 100 && reason.empty(); ++i) {
        reason = WineServerReason(prefix.string());
        if (reason.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_NE(reason.find("process " + std::to_string(server) + ")"), std::string::npos) << reason;
    const std::string stop = "stop it with `WINEPREFIX=" + prefix.string() + " wineserver -k`";

    HKEY key = nullptr;
    ASSERT_EQ(before->RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Late", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                      nullptr), 0);
    EXPECT_NE(before->RegCloseKey(key), 0);
    EXPECT_NE(told.find("Can't write " + (prefix / "system.reg").string() + ": a wineserver"), std::string::npos) << told;
    EXPECT_NE(told.find(stop), std::string::npos) << told;
    EXPECT_TRUE(Slurp(prefix / "system.reg") == original);
    EXPECT_FALSE(fs::exists(prefix.string() + "/system.reg.quorvane-bak"));
    EXPECT_EQ(before->RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Late", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);

    auto during = OpenRegistrySource(prefix.string(), true, error);
    ASSERT_TRUE(during) << error;
    EXPECT_NE(during->ReadOnlyReason().find(stop), std::string::npos) << during->ReadOnlyReason();
    EXPECT_EQ(during->RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Late", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                      nullptr), ERROR_ACCESS_DENIED);
    ::kill(server, SIGKILL);
    ::waitpid(server, nullptr, 0);
    stopper.pid = 0;
    EXPECT_EQ(WineServerReason(prefix.string()), "") << "the lock goes with the server";
}

}  // namespace
}  // namespace qv
