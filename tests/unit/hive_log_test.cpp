// Windows' transaction logs applied to hives: both formats replayed byte for
// byte over hives changed step by step through hivex, damaged logs applied as
// far as they are good, and the mount: a Windows folder read through
// quorvane-reg with the message, the files left as they were, and a hive
// whose logs applied whole written back clean with its logs set aside.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>

#include "files/hive_log.h"
#include "registry/file_registry.h"
#include "registry/store_registry.h"
#include "tests/support/empty_hive.h"
#include "tests/support/hive_log_writer.h"
#include "tests/support/tool_runner.h"
#include "tests/support/umask_scope.h"

namespace qv {
namespace {

namespace fs = std::filesystem;

std::string Slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void Spit(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

std::uint32_t Get32(const std::string& b, std::size_t at) {
    std::uint32_t v;
    std::memcpy(&v, b.data() + at, 4);
    return v;
}

class HiveLogs : public ::testing::Test {
protected:
    void SetUp() override {
        std::string folder = (fs::temp_directory_path() / "qv-logs-XXXXXX").string();
        ASSERT_NE(mkdtemp(folder.data()), nullptr);
        dir = folder;
        // The private copies go here, where the test can see they are gone.
        if (const char* was = std::getenv("TMPDIR")) tmpdir = was;
        setenv("TMPDIR", folder.c_str(), 1);
        MakeStates();
    }
    void TearDown() override {
        if (tmpdir.empty()) unsetenv("TMPDIR");
        else setenv("TMPDIR", tmpdir.c_str(), 1);
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }

    // A hive changed through hivex: each state's bytes. A has Keep\V=1 and
    // Gone; B1 adds Added\Text; B2 sets V=2 and deletes Gone; B3 deletes V
    // and adds a value that grows the hive by pages.
    void MakeStates() {
        const fs::path path = dir / "work" / "hive";
        fs::create_directories(path.parent_path());
        ASSERT_TRUE(testing::WriteEmptyHive(path.string()));
        const auto change = [&](const std::function<void(CFileRegistry&)>& step) {
            {
                CFileRegistry hive;
                std::string error;
                ASSERT_TRUE(hive.MountHive(HKEY_LOCAL_MACHINE, "H", path.string(), true, error)) << error;
                step(hive);
            }
            states.push_back(Slurp(path));
        };
        const auto set = [](CFileRegistry& r, const char* key, const char* name, DWORD type, const std::string& data) {
            HKEY made = nullptr;
            ASSERT_EQ(r.RegCreateKeyExA(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &made,
                                        nullptr), 0);
            if (name != nullptr) {
                EXPECT_EQ(r.RegSetValueExA(made, name, 0, type, reinterpret_cast<const BYTE*>(data.data()),
                                           static_cast<DWORD>(data.size())), 0);
            }
            r.RegCloseKey(made);
        };
        change([&](CFileRegistry& r) {
            set(r, "H\\Keep", "V", REG_DWORD, std::string("\1\0\0\0", 4));
            set(r, "H\\Gone", nullptr, 0, {});
        });
        change([&](CFileRegistry& r) { set(r, "H\\Added", "Text", REG_SZ, std::string("first\0", 6)); });
        change([&](CFileRegistry& r) {
            set(r, "H\\Keep", "V", REG_DWORD, std::string("\2\0\0\0", 4));
            EXPECT_EQ(r.RegDeleteKeyA(HKEY_LOCAL_MACHINE, "H\\Gone"), 0);
        });
        change([&](CFileRegistry& r) {
            HKEY keep = nullptr;
            ASSERT_EQ(r.RegOpenKeyExA(HKEY_LOCAL_MACHINE, "H\\Keep", 0, KEY_ALL_ACCESS, &keep), 0);
            EXPECT_EQ(r.RegDeleteValueA(keep, "V"), 0);
            r.RegCloseKey(keep);
            set(r, "H\\Added\\Big", "Blob", REG_BINARY, std::string(20000, 'b'));
        });
        ASSERT_EQ(states.size(), 4u);
        ASSERT_GT(states[3].size(), states[2].size()) << "the last step grows the hive";
        const std::uint32_t s = Get32(states[0], 8);
        for (std::size_t i = 1; i < states.size(); ++i)
            entries.push_back(testing::LogEntry(states[i - 1], states[i], s + static_cast<std::uint32_t>(i) - 1));
        dirty = testing::MadeDirty(states[0]);
    }

    fs::path dir;
    std::string tmpdir;
    std::vector<std::string> states;   // A, B1, B2, B3
    std::vector<std::string> entries;  // A->B1, B1->B2, B2->B3, numbered from A's sequence number on
    std::string dirty;                 // A as Windows leaves it while its logs hold B3
};

TEST(Marvin32, KnownHashes) {
    constexpr std::uint64_t kSeed = 0x004FB61A001BDBCCull;
    EXPECT_EQ(Marvin32("", kSeed), 0x30ED35C100CD3C7Dull);
    EXPECT_EQ(Marvin32("\xaf", kSeed), 0x48E73FC77D75DDC1ull);
    EXPECT_EQ(Marvin32("\x86\x42\xdc\x59", kSeed), 0x7008F2E87E9CF556ull);
    EXPECT_EQ(Marvin32("\xab\x42\x7e\xa8\xd1\x0f\xc7", kSeed), 0xE11847E4F0678C41ull);
}

// Each case: the logs, then what the replay must give: how much applied,
// which state the hive bins then are, and why the replay stopped or which
// log it could not use.
TEST_F(HiveLogs, ReplaysWhatIsGoodAndSaysWhyItStopped) {
    const std::vector<std::string>& e = entries;
    const auto log = [&](const std::vector<std::string>& list) { return testing::NewFormatLog(dirty, list); };
    std::string badHash = e[1];
    badHash[700] ^= 1;
    std::string cut = log(e);
    cut.resize(cut.size() - 1000);
    std::string other = dirty;  // a hive of another name: its base block names another file
    std::memcpy(&other[48], "O\0t\0h\0e\0r\0", 10);
    std::string badBlock = dirty;
    badBlock[508] ^= 1;
    const std::string older = testing::OldFormatLog(dirty, states[3]);
    std::string olderCut = older;
    olderCut.resize(olderCut.size() - 100);
    std::string olderStamp = older;
    olderStamp[12] ^= 1;
    olderStamp.replace(508, 4, std::string(4, '\0'));
    const std::uint32_t sum = BaseBlockChecksum(olderStamp);
    std::memcpy(&olderStamp[508], &sum, 4);
    const long sectors = static_cast<long>(older.size() - 1024) / 512;

    struct Case {
        const char* what;
        std::string hive;
        std::vector<std::string> logs;
        long applied;  // -1: fewer than all
        int state;     // -1: not compared
        const char* stopped;
        const char* unusable;
    };
    const std::vector<Case> cases = {
        {"one log, every entry", dirty, {log(e)}, 3, 3, "", ""},
        {"the later entries in the first file", dirty, {log({e[2]}), log({e[0], e[1]})}, 3, 3, "", ""},
        {"an entry left from an earlier round", dirty, {log({e[0], e[1], e[2], e[0]})}, 3, 3, "", ""},
        {"an entry already in the hive", dirty, {log({testing::LogEntry(states[0], states[0], Get32(dirty, 8) - 1),
                                                       e[0], e[1], e[2]})}, 3, 3, "", ""},
        {"a wrong hash", dirty, {log({e[0], badHash, e[2]})}, 1, 1, "LOG1's entry 2 fails its hash check", ""},
        {"an entry cut short", dirty, {cut}, 2, 2, "LOG1's entry 3 is cut short", ""},
        {"a gap in the numbers", dirty, {log({e[0], e[2]})}, 1, 1, "entries are missing", ""},
        {"the first entry missing", dirty, {log({e[1], e[2]})}, 0, 0, "was to come first", ""},
        {"a log of another hive", dirty, {testing::NewFormatLog(other, e)}, 0, 0, "", "LOG1 is a log of another hive"},
        {"a log of another hive beside the right one", dirty, {testing::NewFormatLog(other, e), log(e)}, 3, 3, "",
         "LOG1 is a log of another hive"},
        {"no hive log at all", dirty, {std::string(4096, 'x')}, 0, 0, "", "LOG1 is no hive log"},
        {"an empty log beside", dirty, {std::string(), log(e)}, 3, 3, "", ""},
        {"the hive's base block damaged", badBlock, {log(e)}, 3, 3, "", ""},
        {"padding after the hive bins", dirty + std::string(65536, '\0'), {log(e)}, 3, 3, "", ""},
        {"a clean hive", states[0], {log(e)}, 0, 0, "", ""},
        {"old format", dirty, {older}, sectors, 3, "", ""},
        {"old format cut short", dirty, {olderCut}, -1, -1, "LOG1 is cut short", ""},
        {"old format of another time", dirty, {olderStamp}, 0, 0, "", "LOG1 belongs to another state"},
    };
    // QV_HIVE_LOG_SEEDS=<folder> writes each case as the log fuzzer reads one.
    const char* seeds = std::getenv("QV_HIVE_LOG_SEEDS");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (seeds != nullptr && c.logs.size() <= 2) {
            const auto length = [](const std::string& b) {
                const auto n = static_cast<std::uint32_t>(b.size());
                return std::string(reinterpret_cast<const char*>(&n), 4);
            };
            const std::string second = c.logs.size() > 1 ? c.logs[1] : std::string();
            Spit(fs::path(seeds) / (std::to_string(&c - cases.data()) + ".seed"),
                 length(c.hive) + c.hive + length(c.logs[0]) + c.logs[0] + second);
        }
        std::vector<HiveLogFile> files;
        for (std::size_t i = 0; i < c.logs.size(); ++i) files.push_back({"SOFTWARE.LOG" + std::to_string(i + 1), c.logs[i]});
        std::string replayed;
        HiveLogReplay report;
        ReplayHiveLogs(c.hive, files, replayed, report);
        if (c.applied >= 0) {
            EXPECT_EQ(report.applied, static_cast<std::size_t>(c.applied));
        } else {
            EXPECT_LT(report.applied, static_cast<std::size_t>(sectors));
        }
        if (c.state >= 0) {
            EXPECT_TRUE(replayed.substr(4096) == states[static_cast<std::size_t>(c.state)].substr(4096));
        }
        EXPECT_NE(report.stopped.find(c.stopped), std::string::npos) << report.stopped;
        EXPECT_EQ(report.stopped.empty(), *c.stopped == '\0') << report.stopped;
        std::string unusable;
        for (const std::string& u : report.unusable) unusable += u + "; ";
        EXPECT_NE(unusable.find(c.unusable), std::string::npos) << unusable;
        EXPECT_EQ(unusable.empty(), *c.unusable == '\0') << unusable;
        if (c.applied != 0 && c.state >= 0) {
            // Loaded as Windows would load it: written whole, its sizes its own.
            EXPECT_FALSE(HiveIsDirty(replayed));
            EXPECT_EQ(Get32(replayed, 40) + 4096u, replayed.size());
        } else if (c.applied == 0 && !report.baseBlockRestored) {
            EXPECT_TRUE(replayed == c.hive);
        }
    }
}

// A Windows folder read through quorvane-reg: each hive with its own logs
// (new format for SOFTWARE, old for a profile's NTUSER.DAT, names in any
// case), the message on standard error, and every file as it was.
TEST_F(HiveLogs, AWindowsFolderReadsWithItsLogsAppliedAndSaysSo) {
    const fs::path config = dir / "win/Windows/System32/config";
    const fs::path profile = dir / "win/Users/bob";
    Spit(config / "SOFTWARE", dirty);
    Spit(config / "software.log1", testing::NewFormatLog(dirty, {entries[0], entries[1]}));
    Spit(config / "SOFTWARE.LOG2", testing::NewFormatLog(dirty, {entries[2]}));
    Spit(profile / "NTUSER.DAT", dirty);
    Spit(profile / "ntuser.dat.LOG1", testing::OldFormatLog(dirty, states[2]));
    std::map<fs::path, std::string> before;
    for (const auto& entry : fs::recursive_directory_iterator(dir / "win"))
        if (entry.is_regular_file()) before[entry.path()] = Slurp(entry.path());

    std::string error;
    auto store = CStoreRegistry::Open((dir / "registry.db").string(), &error);
    ASSERT_TRUE(store) << error;
    std::string out;
    const std::string win = (dir / "win").string();
    EXPECT_EQ(testing::RunTool(*store, {"query", win + "::HKLM\\SOFTWARE\\Added\\Big"}, out), 0) << out;
    EXPECT_NE(out.find("WARNING: " + (config / "SOFTWARE").string() + " was not closed cleanly by Windows"),
              std::string::npos) << out;
    EXPECT_NE(out.find("3 log entries from software.log1 and SOFTWARE.LOG2 were applied to a copy"), std::string::npos)
        << out;
    EXPECT_NE(out.find("changed sectors from ntuser.dat.LOG1 were applied"), std::string::npos) << out;
    EXPECT_EQ(testing::RunTool(*store, {"query", win + "::HKLM\\SOFTWARE\\Keep", "/v", "V"}, out), 1) << out;
    EXPECT_EQ(testing::RunTool(*store, {"query", win + "::HKU\\bob\\Gone"}, out), 1) << out;
    EXPECT_EQ(testing::RunTool(*store, {"query", win + "::HKU\\bob\\Keep", "/v", "V"}, out), 0) << out;
    EXPECT_NE(out.find("0x2"), std::string::npos) << out;

    for (const auto& [path, bytes] : before) EXPECT_TRUE(Slurp(path) == bytes) << path;
    for (const auto& entry : fs::directory_iterator(dir))
        EXPECT_EQ(entry.path().filename().string().rfind("quorvane-hive-", 0), std::string::npos) << entry.path();
}

// A hive whose logs applied whole is written back clean (both sequence
// numbers past every entry's, the checksum right) with its logs beside the
// backup; one whose logs are damaged reads as far as they go and is never written.
// Kept at 0600 by its owner, the hive is copied nowhere others may read it
// (under umask 022): not its private copy, backup or logs set aside, even
// a log that was open to them.
TEST_F(HiveLogs, AHiveWithItsLogsAppliedWholeIsWrittenBackClean) {
    testing::CUmaskScope umask;
    const fs::path hive = dir / "config/SOFTWARE";
    const std::string log1 = testing::NewFormatLog(dirty, {entries[0], entries[1]});
    const std::string log2 = testing::NewFormatLog(dirty, {entries[2]});
    Spit(hive, dirty);
    Spit(hive.string() + ".LOG1", log1);
    Spit(hive.string() + ".LOG2", log2);
    fs::permissions(hive, fs::perms::owner_read | fs::perms::owner_write);
    fs::permissions(hive.string() + ".LOG2", fs::perms::owner_read | fs::perms::owner_write);
    {
        CFileRegistry registry;
        std::string error;
        ASSERT_TRUE(registry.MountHive(HKEY_LOCAL_MACHINE, "SOFTWARE", hive.string(), true, error)) << error;
        int copies = 0;
        for (const fs::directory_entry& file : fs::directory_iterator(dir)) {
            if (file.path().filename().string().rfind("quorvane-hive-", 0) != 0) continue;
            EXPECT_EQ(testing::ModeOf(file.path().c_str()), 0600u) << file.path();
            ++copies;
        }
        EXPECT_EQ(copies, 1);
        EXPECT_EQ(registry.ReadOnlyReason(), "");
        ASSERT_EQ(registry.Notices().size(), 1u);
        EXPECT_NE(registry.Notices()[0].find("so it shows what Windows would load"), std::string::npos);
        HKEY key = nullptr;
        ASSERT_EQ(registry.RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Written", 0, nullptr, 0, KEY_ALL_ACCESS,
                                           nullptr, &key, nullptr), 0);
        EXPECT_EQ(registry.RegCloseKey(key), 0);
    }
    const std::string written = Slurp(hive);
    EXPECT_FALSE(HiveIsDirty(written));
    EXPECT_GT(Get32(written, 4), Get32(dirty, 8) + 2) << "past the last entry's number";
    EXPECT_FALSE(fs::exists(hive.string() + ".LOG1"));
    EXPECT_FALSE(fs::exists(hive.string() + ".LOG2"));
    EXPECT_TRUE(Slurp(hive.string() + ".LOG1.quorvane-bak") == log1);
    EXPECT_TRUE(Slurp(hive.string() + ".LOG2.quorvane-bak") == log2);
    EXPECT_TRUE(Slurp(hive.string() + ".quorvane-bak") == dirty);
    for (const char* file : {"", ".quorvane-bak", ".LOG1.quorvane-bak", ".LOG2.quorvane-bak"})
        EXPECT_EQ(testing::ModeOf((hive.string() + file).c_str()), 0600u) << file;
    {
        CFileRegistry registry;
        std::string error;
        ASSERT_TRUE(registry.MountHive(HKEY_LOCAL_MACHINE, "SOFTWARE", hive.string(), true, error)) << error;
        EXPECT_TRUE(registry.Notices().empty());
        for (const char* key : {"SOFTWARE\\Written", "SOFTWARE\\Added\\Big"}) {
            HKEY opened = nullptr;
            EXPECT_EQ(registry.RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &opened), 0) << key;
            registry.RegCloseKey(opened);
        }
    }

    // A damaged entry: what came before it shows; nothing is written.
    std::string bad = entries[1];
    bad[700] ^= 1;
    Spit(hive, dirty);
    Spit(hive.string() + ".LOG1", testing::NewFormatLog(dirty, {entries[0], bad, entries[2]}));
    CFileRegistry registry;
    std::string error;
    ASSERT_TRUE(registry.MountHive(HKEY_LOCAL_MACHINE, "SOFTWARE", hive.string(), true, error)) << error;
    EXPECT_NE(registry.ReadOnlyReason().find("its logs are damaged"), std::string::npos) << registry.ReadOnlyReason();
    ASSERT_EQ(registry.Notices().size(), 1u);
    EXPECT_NE(registry.Notices()[0].find("1 log entry from SOFTWARE.LOG1 was applied"), std::string::npos)
        << registry.Notices()[0];
    EXPECT_NE(registry.Notices()[0].find("entry 2 fails its hash check"), std::string::npos) << registry.Notices()[0];
    HKEY key = nullptr;
    EXPECT_EQ(registry.RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Added", 0, KEY_READ, &key), 0);
    registry.RegCloseKey(key);
    EXPECT_EQ(registry.RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\No", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                       &key, nullptr), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(Slurp(hive) == dirty);
}

}  // namespace
}  // namespace qv
